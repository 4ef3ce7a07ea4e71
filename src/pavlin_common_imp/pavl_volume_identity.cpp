// Decoders of what a host volume says about itself: the VPD pages 0x00, 0x80 and 0x83 and the ATA
// identity block. Each reads its reply through the byte view only.
#include "pavl_info.h"

#include <cstdio>
#include <cstring>

void __ParseVPDPageList(pavlin::ByteView reply, bool* has_serial_page, bool* has_identification_page) {
    *has_serial_page = false;
    *has_identification_page = false;
    const auto length = reply.u8(3);
    if (!length) {
        return;
    }
    // The page may announce more codes than the reply holds.
    const pavlin::ByteView codes = reply.from(4).first(*length);
    for (size_t i = 0; i < codes.size(); ++i) {
        const VK_BYTE code = *codes.u8(i);
        if (code == kVPDUnitSerialNumber) {
            *has_serial_page = true;
        } else if (code == kVPDDeviceIdentification) {
            *has_identification_page = true;
        }
    }
}

void __ParseVPDSerialNumber(pavlin::ByteView reply, char* serial, size_t serial_size) {
    if (serial == nullptr || serial_size == 0) {
        return;
    }
    serial[0] = '\0';
    const auto length = reply.u8(3);
    if (!length || *length <= 4) {
        return;
    }
    const pavlin::ByteView text = reply.from(4).first(*length);
    _PN_CopyTrimmed(serial, serial_size, reinterpret_cast<const char*>(text.data()), text.size());
}

bool __ParseVPDUniqueID(pavlin::ByteView reply, char* unique_id, size_t unique_id_size) {
    constexpr size_t kDesignatorHeader = 4;
    constexpr size_t kNAALength = 16;
    if (unique_id == nullptr || unique_id_size < 2 + 2 * kNAALength) {
        return false;
    }
    // The designator must lie inside the page, not merely inside the buffer.
    const auto page_length = reply.u8(3);
    if (!page_length || *page_length < kDesignatorHeader + kNAALength) {
        return false;
    }
    const auto designator = reply.sub(4, kDesignatorHeader + kNAALength);
    if (!designator || designator->be32(0) != 0x01030000u + kNAALength) {
        return false;
    }
    unique_id[0] = 'S';
    for (size_t i = 0; i < kNAALength; ++i) {
        std::snprintf(unique_id + 1 + 2 * i, 3, "%02X", *designator->u8(kDesignatorHeader + i));
    }
    return true;
}

void __ParseATAIdentitySerial(pavlin::ByteView identity, char* serial, size_t serial_size) {
    const auto field = identity.sub(kATAIdentitySerialOffset, kATAIdentitySerialSize);
    if (!field) {
        if (serial != nullptr && serial_size != 0) {
            serial[0] = '\0';
        }
        return;
    }
    _PN_CopyTrimmed(serial, serial_size, reinterpret_cast<const char*>(field->data()), field->size());
}

bool __ParseATAIdentityUniqueID(pavlin::ByteView identity, char* unique_id, size_t unique_id_size) {
    char digits[17] = {};
    // Words 108 to 111, each a little-endian word printed high byte first.
    for (size_t word = 0; word < 4; ++word) {
        const auto w = identity.le16(kATAIdentityWWNOffset + 2 * word);
        if (!w) {
            return false;
        }
        std::snprintf(digits + 4 * word, 5, "%04X", static_cast<unsigned>(*w));
    }
    if (std::strcmp(digits, "0000000000000000") == 0) {
        return false;
    }
    const int n = std::snprintf(unique_id, unique_id_size, "S%s", digits);
    return n >= 0 && static_cast<size_t>(n) < unique_id_size;
}
