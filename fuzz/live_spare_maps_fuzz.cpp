// The spare-map rewrite of a live array's logical drive over a hostile configuration reply. The input
// is a byte of choices (extended maps, set or clear), the drive number (2 bytes, little-endian), a
// byte naming every eighth drive failed from a given phase, then the 652-byte configuration as 0x50
// returned it. Whatever the map offset and device count say, nothing outside the record may be
// touched, and inside it only the spare fields and the map actually used may change.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    if (size < 4) {
        return 0;
    }
    const bool extended = data[0] & 1;
    const bool set = data[0] & 2;
    const VK_WORD pd = static_cast<VK_WORD>(data[1] | data[2] << 8);
    const uint8_t phase = data[3] & 7;
    GuardedConfig g;
    std::memcpy(&g.config, data + 4, std::min(size - 4, sizeof(g.config)));
    const GuardedConfig before = g;

    const bool fit = telmar::EditSpareMaps(g.config, extended, 0, pd, set,
                                           [phase](VK_WORD n) { return n % 8 == phase; });
    g.CheckGuards();
    const size_t map_at = before.config.wOffsetToExtendedSpareAssignmentMap;
    const size_t map_bytes = (static_cast<size_t>(before.config.wMaximumPhysicalDevicesSupported) + 7) / 8;
    const auto* now = reinterpret_cast<const uint8_t*>(&g.config);
    const auto* was = reinterpret_cast<const uint8_t*>(&before.config);
    for (size_t at = 0; at < sizeof(LOGICAL_DRIVE_CONFIG); ++at) {
        if (now[at] == was[at]) {
            continue;
        }
        const bool spare_field = Inside(at, offsetof(LOGICAL_DRIVE_CONFIG, dwSpareAssignmentMap), 4) ||
                                 Inside(at, offsetof(LOGICAL_DRIVE_CONFIG, pbBigDriveAssignmentMap), 32) ||
                                 Inside(at, offsetof(LOGICAL_DRIVE_CONFIG, wOffsetToExtendedDriveAssignmentMap), 4);
        const bool extended_map = extended && Inside(at, map_at, map_bytes) && map_at != 0;
        FUZZ_CHECK(spare_field || extended_map);
    }
    if (fit) {
        const uint8_t* map = extended ? now + map_at : g.config.pbBigSpareAssignmentMap;
        FUZZ_CHECK(((map[pd / 8] >> (pd % 8)) & 1) == (set ? 1 : 0));
        FUZZ_CHECK(g.config.dwSpareAssignmentMap == 0);
        if (!extended) {
            FUZZ_CHECK(pd < 128);
            FUZZ_CHECK(g.config.wOffsetToExtendedSpareAssignmentMap == 0);
        }
        // No failed drive other than the one just written stays in the map.
        const size_t bytes = extended ? map_bytes : sizeof(g.config.pbBigSpareAssignmentMap);
        for (size_t n = 0; n < bytes * 8; ++n) {
            if (n != pd && n % 8 == phase) {
                FUZZ_CHECK(!((map[n / 8] >> (n % 8)) & 1));
            }
        }
    }
    return 0;
}
