// SENSE BUS PARAMETERS (0x65) into an enclosure record, and the installed map read back from it.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "telm_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CDA_SENSE_BUS_PARAMETERS out;
    const bool found = telmar::DecodeBusParameters(pavlin::ByteView(data, size), out);
    FUZZ_CHECK(found == (out.bInquiryValid != 0 || out.bBayCount != 0 || out.bExpanderCount != 0));
    FUZZ_CHECK(out.wOffsetToExtendedInstalledDriveMap == 0 || out.wOffsetToExtendedInstalledDriveMap == 370);
    size_t bits = 0;
    const pavlin::ByteView map = telmar::EnclosureInstalledMap(out, &bits);
    FUZZ_CHECK(bits <= map.size() * 8);
    return 0;
}
