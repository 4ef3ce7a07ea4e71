// The ERASE_STATE reply (BMIC 0xE5) through the per-drive state decoder, the erase word of each state
// and the live erase progress of each drive. The input is the reply.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_properties.h"
#include "telm_cda_internal.h"
#include "telm_drive_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    const pavlin::ByteView reply(copy.get(), size);
    // One more word than the product keeps, as a sentinel the decoder must not reach.
    VK_WORD states[kMaxPhysicalDrivesSupported + 1];
    std::memset(states, 0xA5, sizeof(states));
    telmar::DecodeEraseStates(reply, states, kMaxPhysicalDrivesSupported);
    FUZZ_CHECK(states[kMaxPhysicalDrivesSupported] == 0xA5A5);

    // A word is taken only from bytes both read and inside the reply's own total length.
    const size_t total = reply.le32(offsetof(ERASE_STATE, dwTotalStructureLength)).value_or(0);
    const size_t start = reply.le32(offsetof(ERASE_STATE, wOffsetToPhysicalDriveEraseState)).value_or(0);
    const size_t end = total < size ? total : size;
    for (size_t i = 0; i < kMaxPhysicalDrivesSupported; ++i) {
        const size_t at = start + 2 * i;
        const bool inside = size >= 16 && at >= start && at + 2 <= end;
        if (inside) {
            FUZZ_CHECK(states[i] == *reply.le16(at));
        } else {
            FUZZ_CHECK(states[i] == 0);
        }
        // The live progress takes the same entry, and only below the reply's own device maximum.
        const size_t maximum = reply.le16(offsetof(ERASE_STATE, wMaximumPhysicalDevicesSupported)).value_or(0);
        const VK_BYTE progress = telmar::EraseProgressFromReply(reply, static_cast<VK_WORD>(i));
        if (!inside || i >= maximum) {
            FUZZ_CHECK(progress == 101);
        } else {
            const VK_DWORD word = telmar::DecodeEraseEntry(states[i]);
            FUZZ_CHECK(PHYSICAL_DRIVE_ERASE_STATUS(word) <= kPhysicalDriveEraseStatusEraseAborted);
            FUZZ_CHECK(PHYSICAL_DRIVE_ERASE_PROGRESS(word) <= 0x7F);
            FUZZ_CHECK(progress <= 0x7F || progress == 101);
        }
    }
    for (VK_WORD drive : {VK_WORD{384}, VK_WORD{0x7FFF}, VK_WORD{0xFFFF}}) {
        FUZZ_CHECK(telmar::EraseProgressFromReply(reply, drive) == 101 ||
                   reply.le16(offsetof(ERASE_STATE, wMaximumPhysicalDevicesSupported)).value_or(0) > drive);
    }
    telmar::DecodeEraseStates(reply, states, 0);
    return 0;
}
