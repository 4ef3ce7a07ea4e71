// The compatibility mask, SED type and SED rules over hostile drive identify replies, reference
// values and encryption words. The input gives: IDENTIFY CONTROLLER (its SED support), then for two
// drives an identify reply (its length first, 2 bytes), then the reference drive type (4), block size
// (8), boot-connector choice (1), the array's SED type (1), the controller SED status (8) and a raw
// encryption word (8).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_records.h"

namespace {

bool IsSEDType(VK_BYTE t) {
    return t == 1 || t == 2 || t == 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters;
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    for (VK_WORD p = 0; p < 2; ++p) {
        DecodeDriveIdentify(c, p, in.Reply(1024), (p & 1) != 0);
    }
    const VK_DWORD type = in.Take<VK_DWORD>();
    const VK_QWORD block_size = in.Take<VK_QWORD>();
    const VK_BOOL boot = (in.Byte() & 1) ? kTrue : kFalse;
    const VK_BYTE array_type = in.Byte();
    const VK_QWORD sed_status = in.Take<VK_QWORD>();
    const VK_UINT64 word = in.Take<VK_QWORD>();

    // Against its own values a drive is fully compatible; a mask never clears bits past the five.
    FUZZ_CHECK(__VK_PhysicalDriveCompatibility(cda, 0, 0) == 0xFF);
    const VK_BYTE mask = __VK_PhysicalDriveCompat(cda, 1, type, block_size, boot);
    FUZZ_CHECK((mask & 0xE0) == 0xE0);
    FUZZ_CHECK(((mask & 0x08) == 0) ==
               (VK_GetPhysicalDriveSize(cda, 1, kPhysicalDriveBlockSizeBytes) != block_size));
    const telmar::CompatMismatch reading = telmar::ReadCompatMask(mask);
    FUZZ_CHECK((reading == telmar::CompatMismatch::kNone) == (mask == 0xFF));
    const VK_BYTE pair = __VK_PhysicalDriveCompatibility(cda, 0, 1);
    FUZZ_CHECK(pair == __VK_PhysicalDriveCompatibility(cda, 1, 0));

    FUZZ_CHECK(IsSEDType(_VK_GetPhysicalDriveArraySEDType(word)));
    if (word & kPhysicalDriveEncryptionSEDIsIncompatibleSED) {
        FUZZ_CHECK(_VK_GetPhysicalDriveArraySEDType(word) == 1);
    }
    for (VK_WORD p = 0; p < 3; ++p) { // drive 2 has no record behind it
        const VK_BYTE rule = __VK_ArrayCheckSEDRules(cda, array_type, sed_status, p);
        FUZZ_CHECK(rule <= 2);
        if (!(sed_status & 0x20)) {
            FUZZ_CHECK(rule == 0);
        }
        const VK_UINT64 info = VK_GetPhysicalDriveEncryptionInfo(cda, p);
        if ((sed_status & 0x20) && _VK_GetPhysicalDriveArraySEDType(info) != array_type) {
            FUZZ_CHECK(rule == 1);
        }
    }
    return 0;
}
