// The member-map rewrite of a heal over a hostile configuration reply. The input is a byte of choices
// (extended maps), a byte naming every eighth drive failed from a given phase, a byte giving the
// list's length, that many drive numbers (2 bytes each), then the 652-byte configuration as 0x50
// returned it. Nothing outside the record may be touched; a rewrite that succeeds holds every listed
// drive and no failed one, and counts its members.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "telm_config_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuietFuzzLog quiet;
    FuzzInput in{data, size};
    const bool extended = in.Byte() & 1;
    const uint8_t phase = in.Byte() & 7;
    const size_t count = in.Byte() % 16;
    std::vector<VK_WORD> list(count);
    for (VK_WORD& d : list) {
        d = in.Take<VK_WORD>();
    }
    GuardedConfig g;
    in.Fill(&g.config, sizeof(g.config));
    const auto failed = [phase](VK_WORD n) { return n % 8 == phase; };
    const bool ok = telmar::RewriteHealMaps(g.config, extended, 0, list.data(), count, failed);
    g.CheckGuards();
    if (!ok) {
        return 0;
    }
    FUZZ_CHECK(g.config.dwDriveAssignmentMap == 0);
    const uint8_t* map =
        extended ? reinterpret_cast<const uint8_t*>(&g.config) + g.config.wOffsetToExtendedDriveAssignmentMap
                 : g.config.pbBigDriveAssignmentMap;
    // The map holds every drive the controller says it supports; only those below the model's own
    // limit of 384 are counted, so a listed drive between the two is set but not a member.
    const size_t map_bits = extended ? g.config.wMaximumPhysicalDevicesSupported / 8 * 8 : 128;
    const size_t bits = std::min<size_t>(map_bits, 384);
    if (extended) {
        FUZZ_CHECK(g.config.wOffsetToExtendedDriveAssignmentMap + map_bits / 8 <= sizeof(LOGICAL_DRIVE_CONFIG));
    }
    for (VK_WORD d : list) {
        FUZZ_CHECK(d < map_bits && ((map[d / 8] >> (d % 8)) & 1));
    }
    size_t members = 0;
    for (size_t n = 0; n < bits; ++n) {
        const bool set = (map[n / 8] >> (n % 8)) & 1;
        if (set && failed(static_cast<VK_WORD>(n))) {
            // Only a listed drive may be failed and still in the map.
            FUZZ_CHECK(std::find(list.begin(), list.end(), n) != list.end());
        }
        members += set && !failed(static_cast<VK_WORD>(n));
    }
    FUZZ_CHECK(g.config.wAssignedDrives == members);
    return 0;
}
