// A volume's identity from its INQUIRY VPD pages (0x00 page list, 0x80 serial number, 0x83 unique
// id) and from its ATA identity (serial, world wide name). The input is the reply, once at its own
// length and once in the fixed-size buffer the product reads it into; the text buffers are the
// product's sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_info.h"

namespace {

bool Terminated(const char* text, size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

void Parse(pavlin::ByteView reply) {
    bool has_serial = true;
    bool has_identification = true;
    __ParseVPDPageList(reply, &has_serial, &has_identification);
    if (reply.size() <= 4) {
        FUZZ_CHECK(!has_serial && !has_identification);
    }

    for (size_t serial_size : {size_t{1}, size_t{8}, kVolumeSerialNumberSize}) {
        const std::unique_ptr<char[]> serial(new char[serial_size]);
        std::memset(serial.get(), 'x', serial_size);
        __ParseVPDSerialNumber(reply, serial.get(), serial_size);
        FUZZ_CHECK(Terminated(serial.get(), serial_size));
        std::memset(serial.get(), 'x', serial_size);
        __ParseATAIdentitySerial(reply, serial.get(), serial_size);
        FUZZ_CHECK(Terminated(serial.get(), serial_size));
    }

    char unique_id[kUniqueVolumeIDSize];
    std::memset(unique_id, 'x', sizeof(unique_id));
    if (__ParseVPDUniqueID(reply, unique_id, sizeof(unique_id))) {
        FUZZ_CHECK(unique_id[0] == 'S' && std::strlen(unique_id) == 33);
    }
    std::memset(unique_id, 'x', sizeof(unique_id));
    if (__ParseATAIdentityUniqueID(reply, unique_id, sizeof(unique_id))) {
        FUZZ_CHECK(unique_id[0] == 'S' && std::strlen(unique_id) == 17);
        FUZZ_CHECK(reply.size() >= kATAIdentityWWNOffset + 8);
    }
    char short_id[10];
    FUZZ_CHECK(!__ParseVPDUniqueID(reply, short_id, sizeof(short_id)));
    FUZZ_CHECK(!__ParseATAIdentityUniqueID(reply, short_id, sizeof(short_id))); // "S" and 16 digits
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    Parse(pavlin::ByteView(copy.get(), size));

    VK_BYTE vpd[kVPDReplySize] = {};
    std::memcpy(vpd, data, size < sizeof(vpd) ? size : sizeof(vpd));
    Parse(pavlin::ByteView(vpd, sizeof(vpd)));
    VK_BYTE identity[kATAIdentitySize] = {};
    std::memcpy(identity, data, size < sizeof(identity) ? size : sizeof(identity));
    Parse(pavlin::ByteView(identity, sizeof(identity)));
    return 0;
}
