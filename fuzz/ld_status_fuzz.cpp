// LOGICAL DRIVE STATUS (0x12), with its map offsets and device count, into the compact status.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "telm_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDA_LOGICAL_DRIVE_STATUS out;
    telmar::DecodeLogicalDriveStatus(pavlin::ByteView(data, size), out);
    // The compact copy's own offsets only ever name its own maps.
    FUZZ_CHECK(out.wOffsetToExtendedDriveFailureMap == 0 || out.wOffsetToExtendedDriveFailureMap == 53);
    FUZZ_CHECK(out.wOffsetToExtendedReplacementDriveMap == 0 || out.wOffsetToExtendedReplacementDriveMap == 101);
    FUZZ_CHECK(out.wOffsetToExtendedActiveSpareMap == 0 || out.wOffsetToExtendedActiveSpareMap == 149);
    FUZZ_CHECK(out.wOffsetToDriveRebuildPercentage == 0 || out.wOffsetToDriveRebuildPercentage == 197);
    if (out.dwFixedStructureLength <= 1051) {
        FUZZ_CHECK(out.bAdditionalEncryptionFlags == 0);
    }
    return 0;
}
