// The surface-status reply (0x70) through the decoders behind the surface word and the last-analysis
// getter. The first byte is the logical drive; the rest is the reply, handed over at its exact size.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_status.h"
#include "telm_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const VK_WORD ld = data[0];
    const pavlin::ByteView reply(data + 1, size - 1);
    telmar::DecodeSurfaceStatusWord(reply, ld);

    LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO info;
    std::memset(&info, 0xA5, sizeof(info));
    const VK_BYTE result = telmar::DecodeSurfaceAnalysisInfo(reply, ld, &info);
    FUZZ_CHECK(result == kGetLogicalDriveSurfaceAnalysisInfoSuccess ||
               result == kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported);
    if (result == kGetLogicalDriveSurfaceAnalysisInfoSuccess) {
        FUZZ_CHECK(info.year_last_scan_completion != 0 && info.month_last_scan_completion != 0 &&
                   info.day_last_scan_completion != 0 && info.last_analysis_duration_seconds != 0);
    }
    return 0;
}
