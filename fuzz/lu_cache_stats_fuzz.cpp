// The LU-cache statistics (0xC1 LUN 1 sub-command 1, 112 bytes) and sense (sub-command 0, 512 bytes)
// replies, cached for one logical drive, through the statistics, status-word and dirty-line getters.
// The input fills, in order: the logical drive, the statistics, then the sense reply. The data area
// has no controller behind it: whatever is not cached fails to load.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_private.h"

namespace {

VK_QWORD Sum(VK_QWORD a, VK_QWORD b, VK_QWORD c) {
    VK_QWORD out = 0;
    if (__builtin_add_overflow(a, b, &out) || __builtin_add_overflow(out, c, &out)) {
        return std::numeric_limits<VK_QWORD>::max();
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
    c->identify_controller_buffer.wMaximumLogicalDevicesSupported = 64;
    const VK_WORD ld = in.Byte() % 80; // some past the 64 logical drives
    LU_CACHE_STATS stats = {};
    if (ld < kMaxLogicalDrivesSupported) {
        LogicalDriveRecord& r = _VK_LDRecordForWrite(c, ld);
        in.Fill(&r.lu_cache_stats_buffer, sizeof(r.lu_cache_stats_buffer));
        stats = r.lu_cache_stats_buffer;
        r.flags |= kLDRecordLUCacheStatsValid;
        if (in.Fill(&r.lu_cache_config_buffer, sizeof(r.lu_cache_config_buffer)) != 0) {
            r.flags |= kLDRecordLUCacheSenseValid;
        }
    }

    VK_LU_CACHE_STATISTICS out;
    std::memset(&out, 0x5A, sizeof(out));
    const VK_QWORD untouched = out.read_cache_misses_locked;
    const VK_BOOL got = VK_GetLogicalDriveLUCacheStats(cda, ld, &out);
    FUZZ_CHECK(got == (ld < kMaxLogicalDrivesSupported ? kTrue : kFalse));
    if (got) {
        FUZZ_CHECK(out.read_cache_hits == stats.qwReadCacheHits);
        if (stats.wValidDataLength > 98) {
            FUZZ_CHECK(out.read_cache_misses_total == stats.qwReadCacheMissesTotal);
        } else {
            FUZZ_CHECK(out.read_cache_misses_locked == untouched && out.write_cache_misses_locked == untouched);
            FUZZ_CHECK(out.read_cache_misses_total == Sum(stats.qwReadCacheMissesDoLoad, stats.qwReadCacheMissesLoading,
                                                          stats.qwReadCacheMissesSkip));
        }
    }
    const VK_WORD word = VK_GetLogicalDriveLUCacheStatusInfo(cda, ld);
    FUZZ_CHECK((word & 0xF800) == 0);
    if (ld < kMaxLogicalDrivesSupported) {
        FUZZ_CHECK(LU_CACHE_STATE(word) == stats.bCacheState);
    }
    const VK_QWORD lines = VK_GetLogicalDriveLUCacheDirtyLinesCount(cda, ld);
    FUZZ_CHECK(LU_CACHE_FLUSH_PROGRESS_INT(lines) <= 100);
    VK_GetLogicalDriveLUCacheInfo(cda, ld);
    return 0;
}
