// A device descriptor's property walk and the decoders over it. The input is the descriptor's bytes:
// the walk runs over them as they are, and the getters over a descriptor of exactly the input's size
// whose length word is trimmed to it (a descriptor is never shorter than its length word says).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_descriptor.h"

namespace {

constexpr VK_BYTE kIds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10, 0x7F, 0xFF};

void CheckDescriptor(VK_BYTE* blob, size_t size) {
    const size_t length = pavlin::ByteView(blob, size).le16(0).value_or(0);
    for (VK_BYTE id : kIds) {
        const auto p = _PN_FindDeviceProperty(blob, id);
        if (p.found) {
            // The data lies after the entry header and inside the descriptor's own length.
            FUZZ_CHECK(p.data.data() >= blob + kDeviceDescriptorHeaderSize + kDeviceDescriptorEntryHeaderSize);
            FUZZ_CHECK(p.data.data() + p.data.size() <= blob + length);
            FUZZ_CHECK(*(p.data.data() - kDeviceDescriptorEntryHeaderSize) == id);
        }
        FUZZ_CHECK(PN_GetDeviceSystemPropertySize(blob, id) == (p.found ? p.data.size() : 0));
        VK_BYTE value[64];
        const VK_BYTE rc = PN_GetDeviceSystemProperty(blob, id, value, sizeof(value));
        FUZZ_CHECK(rc == (!p.found ? 1 : p.data.size() > sizeof(value) ? 2 : 0));
    }
    char name[32];
    std::memset(name, 'x', sizeof(name));
    if (__DecodeDeviceNodeName(blob, name, sizeof(name))) {
        FUZZ_CHECK(std::memchr(name, '\0', sizeof(name)) != nullptr);
    }
    VK_WORD protocol = 0;
    VK_BYTE address[kProtocolAddressSize];
    __DecodeDeviceProtocolInfo(blob, &protocol, address, sizeof(address));
    FUZZ_CHECK(_PN_GetDeviceProtocol(blob) == protocol);
    FUZZ_CHECK(PN_GetDeviceDescriptorSize(blob) == length);
    DeviceDescriptor copy = PN_CopyDeviceDescriptor(blob);
    if (copy != nullptr) {
        FUZZ_CHECK(length < kDeviceDescriptorHeaderSize || std::memcmp(copy, blob, length) == 0);
        PN_DestroyDeviceDescriptor(copy);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView blob(data, size);
    const size_t length = blob.le16(0).value_or(0);
    for (VK_BYTE id : kIds) {
        const auto range = _PN_WalkDeviceProperties(blob, id);
        if (range) {
            FUZZ_CHECK(range->offset >= kDeviceDescriptorHeaderSize + kDeviceDescriptorEntryHeaderSize);
            FUZZ_CHECK(range->offset + range->length <= length);
            FUZZ_CHECK(range->offset + range->length <= size);
            FUZZ_CHECK(*blob.u8(range->offset - kDeviceDescriptorEntryHeaderSize) == id);
            FUZZ_CHECK(*blob.le16(range->offset - 2) == range->length);
        }
    }

    if (size < kDeviceDescriptorHeaderSize || size > kMaxDeviceDescriptorSize) {
        return 0;
    }
    const std::unique_ptr<VK_BYTE[]> descriptor(new VK_BYTE[size]);
    std::memcpy(descriptor.get(), data, size);
    if (length > size) {
        pavlin::ByteSpan(descriptor.get(), size).put_le16(0, static_cast<VK_WORD>(size));
    }
    CheckDescriptor(descriptor.get(), size);
    return 0;
}
