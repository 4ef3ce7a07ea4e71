// The INQUIRY probe-then-read length: standard data and VPD pages. Byte 0 bit 0 picks a VPD page,
// bytes 1-2 are the caller's buffer size (most significant first), the rest is the probe's reply,
// written into a zeroed probe buffer as the transport would (a short reply leaves zeros).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "telm_passthrough.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const bool vpd = (data[0] & 0x01) != 0;
    const VK_WORD buffer_size = static_cast<VK_WORD>(data[1] << 8 | data[2]);
    const uint8_t* reply = data + 3;
    const size_t reply_size = size - 3;

    const VK_WORD probe_size = vpd ? telmar::kVPDPageProbeSize : telmar::kStandardInquiryProbeSize;
    VK_BYTE probe[telmar::kStandardInquiryProbeSize] = {};
    std::memcpy(probe, reply, std::min<size_t>(reply_size, probe_size));
    const VK_WORD length = telmar::InquiryReadLength(pavlin::ByteView(probe, probe_size), vpd, buffer_size);

    // What the reply announces, counted without wrapping, bounded by the buffer.
    const uint32_t announced = vpd ? (uint32_t{probe[2]} << 8 | probe[3]) + 4u : uint32_t{probe[4]} + 5u;
    FUZZ_CHECK(length <= buffer_size);
    FUZZ_CHECK(length == std::min<uint32_t>(announced, buffer_size));
    // Never below the header the probe itself read, unless the buffer is smaller.
    FUZZ_CHECK(length >= std::min<VK_WORD>(probe_size, buffer_size));

    // Any view, however short, is read only inside itself.
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[reply_size == 0 ? 1 : reply_size]);
    std::memcpy(copy.get(), reply, reply_size);
    const VK_WORD raw = telmar::InquiryReadLength(pavlin::ByteView(copy.get(), reply_size), vpd, buffer_size);
    FUZZ_CHECK(raw <= buffer_size);
    return 0;
}
