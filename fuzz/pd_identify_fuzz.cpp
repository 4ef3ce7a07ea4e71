// IDENTIFY PHYSICAL DRIVE (0x15) into the compact copy of a drive record, with and without the
// full-length model.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "telm_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView reply(data, size);
    CDA_PHYSICAL_DRIVE_STATUS out;
    for (bool full_model : {false, true}) {
        telmar::DecodePhysicalDriveStatus(reply, full_model, out);
        if (size < offsetof(PHYSICAL_DRIVE_STATUS, sDriveModel)) {
            FUZZ_CHECK(out.sFullLengthDeviceModel[0] == 0);
        }
        if (size >= sizeof(PHYSICAL_DRIVE_STATUS)) {
            FUZZ_CHECK(std::memcmp(&out.dwDriveFeatureFlags, data + 2554, 4) == 0);
        }
    }
    return 0;
}
