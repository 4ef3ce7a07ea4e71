// Fuzz target: the cache-configuration edits of a commit over a fuzzed CACHE_CONFIG_STATUS reply
// (map offset, logical-drive count, total, sizes, shift, default read share) and a fuzzed staged
// configuration (read percent, NBWC, wait for cache room, logical drives and their accelerators).
// A byte changed outside the fixed header fields or outside a map that lies wholly inside the buffer
// and its reported total, or a cache split that no longer adds up to the controller's total, aborts.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "telm_bmic.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

constexpr size_t kHeaderFieldsEnd = 16; // bDisableFlag .. cache_configuration_flags

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Staged part first: percent, NBWC, wait, LU cache array, a 64-bit presence mask and one
    // accelerator nibble per present drive (taken in turn); the rest is the reply.
    FuzzInput in{data, size};
    auto config = std::make_unique<EDITABLE_CONFIGURATION>();
    std::memset(config.get(), 0, sizeof(*config));
    config->controller_read_cache_percent = in.Take<VK_BYTE>();
    config->controller_nbwc = in.Take<VK_BYTE>() & 1;
    config->controller_wait_for_cache_room = in.Take<VK_BYTE>() & 1;
    const bool lu_cache_array = (in.Take<VK_BYTE>() & 1) != 0;
    const VK_QWORD present = in.Take<VK_QWORD>();
    const VK_QWORD accelerators = in.Take<VK_QWORD>();
    EDITABLE_LOGICAL_DRIVE drives[64] = {};
    for (int n = 0; n < 64; ++n) {
        if (present & (VK_QWORD{1} << n)) {
            drives[n].ld_number = static_cast<VK_WORD>(n);
            drives[n].logical_drive_accelerator = static_cast<VK_BYTE>((accelerators >> (n % 16 * 4)) & 0x7);
            config->editable_ld_list[n] = &drives[n];
        }
    }

    CACHE_CONFIG_STATUS status;
    in.Fill(&status, sizeof(status));
    const CACHE_CONFIG_STATUS before = status;
    telmar::EditCacheConfiguration(status, *config, lu_cache_array);

    const size_t total = status.dwTotalStructureLength;
    const size_t limit = total < sizeof(status) ? total : sizeof(status);
    const size_t map_offset = status.wOffsetToExtendedCacheDisabledMap;
    const size_t map_bytes = status.wMaximumLogicalDevicesSupported / 8u;
    const bool map_fits = map_offset != 0 && map_offset <= limit && map_bytes <= limit - map_offset;
    const auto* old_bytes = reinterpret_cast<const VK_BYTE*>(&before);
    const auto* new_bytes = reinterpret_cast<const VK_BYTE*>(&status);
    for (size_t i = kHeaderFieldsEnd; i < sizeof(status); ++i) {
        if (old_bytes[i] != new_bytes[i]) {
            FUZZ_CHECK(map_fits && i >= map_offset && i < map_offset + map_bytes);
        }
    }
    // The header fields that are not the step's own are kept.
    FUZZ_CHECK(status.bCacheSupportFlags == before.bCacheSupportFlags);
    FUZZ_CHECK(status.wCacheDisableCode == before.wCacheDisableCode);
    FUZZ_CHECK(status.wBatteryCount == before.wBatteryCount);
    FUZZ_CHECK(status.bDefaultPercentReadCache == before.bDefaultPercentReadCache);
    // A changed split always adds up to the total.
    if (status.read_cache_size != before.read_cache_size ||
        status.write_cache_size != before.write_cache_size) {
        FUZZ_CHECK(status.read_cache_size <= status.wTotalMemorySize);
        FUZZ_CHECK(status.read_cache_size + status.write_cache_size == status.wTotalMemorySize);
    }
    FUZZ_CHECK(status.bDisableFlag <= 1);
    return 0;
}
