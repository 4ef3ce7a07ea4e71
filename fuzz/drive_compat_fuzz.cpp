// The compatibility mask, SED type and SED rules over hostile drive identify replies, reference
// values and encryption words. The input gives: IDENTIFY CONTROLLER (its SED support), then for two
// drives an identify reply (its length first, 2 bytes), then the reference drive type (4), block size
// (8), boot-connector choice (1), the array's SED type (1), the controller SED status (8) and a raw
// encryption word (8).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_records.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint64_t Bytes(int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) {
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        }
        return v;
    }
    bool Fill(void* destination, size_t length) {
        std::memset(destination, 0, length);
        const size_t n = at < size ? std::min(length, size - at) : 0;
        if (n) {
            std::memcpy(destination, data + at, n);
        }
        at += n;
        return n > 0;
    }
    pavlin::ByteView Reply(size_t most) {
        const size_t want = std::min<size_t>(Bytes(2), most);
        const size_t n = at < size ? std::min(want, size - at) : 0;
        pavlin::ByteView view(data + at, n);
        at += n;
        return view;
    }
};

bool IsSEDType(VK_BYTE t) {
    return t == 1 || t == 2 || t == 4;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct QuietLog {
        VK_BYTE previous = PN_SetDebugLogLevel(0);
        ~QuietLog() { PN_SetDebugLogLevel(previous); }
    } quiet;
    static const std::unique_ptr<uint8_t[]> memory = std::make_unique<uint8_t[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    PCDA cda = memory.get();
    _CDA* c = _VK_CDA(cda);
    Input in{data, size};
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters;
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    for (VK_WORD p = 0; p < 2; ++p) {
        PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, p);
        telmar::DecodePhysicalDriveStatus(in.Reply(1024), (p & 1) != 0, pd.identify_physical_drive_buffer);
        telmar::DerivePhysicalDriveRecord(cda, pd);
        pd.flags |= kPDRecordIdentifyValid;
    }
    const VK_DWORD type = static_cast<VK_DWORD>(in.Bytes(4));
    const VK_QWORD block_size = in.Bytes(8);
    const VK_BOOL boot = (in.Byte() & 1) ? kTrue : kFalse;
    const VK_BYTE array_type = in.Byte();
    const VK_QWORD sed_status = in.Bytes(8);
    const VK_UINT64 word = in.Bytes(8);

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
