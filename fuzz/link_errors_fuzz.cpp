// The get-link-errors frame as the controller returns it. The input is the returned frame.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bmic.h"
#include "fuzz_check.h"
#include "pavl_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    CSMI_LINK_ERRORS_PT_BUFFER frame;
    std::memset(&frame, 0xA5, sizeof(frame));
    const bool decoded = QV_DecodeLinkErrors(pavlin::ByteView(copy.get(), size), &frame);
    VK_DWORD return_code = 1;
    if (size >= sizeof(CSMI_LINK_ERRORS_PT_BUFFER)) {
        std::memcpy(&return_code, copy.get() + offsetof(CSMI_LINK_ERRORS_PT_BUFFER, ReturnCode), sizeof(return_code));
    }
    // Counters only from a whole frame that the controller answered with ReturnCode 0.
    FUZZ_CHECK(decoded == (size >= sizeof(CSMI_LINK_ERRORS_PT_BUFFER) && return_code == 0));
    if (decoded) {
        // The frame is little-endian and packed, as on this host; bytes past it are not read.
        FUZZ_CHECK(std::memcmp(&frame, copy.get(), sizeof(frame)) == 0);
    } else {
        for (size_t i = 0; i < sizeof(frame); ++i) {
            FUZZ_CHECK(reinterpret_cast<const VK_BYTE*>(&frame)[i] == 0xA5);
        }
    }
    FUZZ_CHECK(!QV_DecodeLinkErrors(pavlin::ByteView(copy.get(), size), nullptr));
    return 0;
}
