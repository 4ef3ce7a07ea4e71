// A host volume's unique-volume-id property against the identifier a drive is matched by. The input's
// first two bytes are the caller's text buffer size (little-endian), the rest the property's bytes:
// the text builder runs over them as they are, and the match over a descriptor holding them. The
// same bytes also go through the VPD unit serial number decoder the drive matching reads.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_descriptor.h"
#include "pavl_platform_private.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "telm_cda_internal.h"

namespace {

void CheckText(pavlin::ByteView property, size_t buffer_size) {
    char text[telmar::kVolumeIdTextSize];
    const telmar::VolumeIdText result = telmar::BuildVolumeIdText(property, buffer_size, text);
    FUZZ_CHECK(std::memchr(text, '\0', sizeof(text)) != nullptr);
    const size_t length = std::strlen(text);
    if (result != telmar::VolumeIdText::kBuilt) {
        FUZZ_CHECK(length == 0);
        return;
    }
    // Only a letter with bytes after it builds, and the text fits the caller's buffer.
    FUZZ_CHECK(property.size() >= 2 && length > 0 && length < buffer_size);
    const size_t read = property.size() < telmar::kVolumeIdPropertyReadSize ? property.size()
                                                                             : telmar::kVolumeIdPropertyReadSize;
    if (*property.u8(0) == 'B') {
        FUZZ_CHECK(length % 2 == 0 && length / 2 <= read - 1);
        for (size_t i = 0; i < length; ++i) {
            FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(text[i])) &&
                       !std::islower(static_cast<unsigned char>(text[i])));
        }
    } else {
        FUZZ_CHECK(*property.u8(0) == 'S' && length <= read - 1);
        FUZZ_CHECK(std::memcmp(text, property.data() + 1, length) == 0);
    }
}

void CheckMatch(pavlin::ByteView property, VK_WORD buffer_size) {
    const DeviceDescriptorEntry entry{kDevicePropertyUniqueVolumeID, property.data(), property.size()};
    DeviceDescriptor volume = _PN_BuildDeviceDescriptor(std::span(&entry, 1));
    if (volume == nullptr) {
        return;
    }
    char text[telmar::kVolumeIdTextSize];
    const bool built = telmar::BuildVolumeIdText(property, buffer_size, text) == telmar::VolumeIdText::kBuilt;
    std::vector<char> wanted(static_cast<size_t>(buffer_size) + 1, '\0');
    std::memcpy(wanted.data(), text, std::min(wanted.size() - 1, std::strlen(text)));
    // The volume matches its own text exactly when that text could be read and built.
    const bool readable = property.size() <= telmar::kVolumeIdPropertyReadSize;
    FUZZ_CHECK((__VK_CheckStorageVolumeUniqueIdMatch(nullptr, volume, wanted.data(), buffer_size) != kFalse) ==
               (built && readable));
    FUZZ_CHECK(!__VK_CheckStorageVolumeUniqueIdMatch(nullptr, volume, "", buffer_size));

    PHYSICAL_DRIVE_LUN_INFO luns[2] = {};
    const size_t wwid_length = std::min(std::strlen(text), sizeof(luns[0].wwid_str) - 1);
    std::memcpy(luns[0].wwid_str, text, wwid_length);
    std::memcpy(luns[1].wwid_str, text, wwid_length);
    PHYSICAL_DRIVE_LUN_INFO_LIST list{2, luns};
    const VK_WORD lun_size = sizeof(luns[0].wwid_str);
    const bool one = __VK_CheckStorageVolumeUniqueIdMatch(nullptr, volume, luns[0].wwid_str, lun_size) != kFalse;
    FUZZ_CHECK((__VK_CheckStorageVolumeMultiLUNUniqueIdMatch(nullptr, volume, &list, lun_size) != kFalse) == one);
    PN_DestroyDeviceDescriptor(volume);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView input(data, size);
    const VK_WORD buffer_size = input.le16(0).value_or(0);
    const pavlin::ByteView rest = input.from(2);
    // The property bytes in their own allocation, so a read past them is caught.
    std::vector<VK_BYTE> property(rest.data(), rest.data() + rest.size());
    const pavlin::ByteView view(property.data(), property.size());

    const VK_UINT64 held = _VK_curr_alloc;
    CheckText(view, buffer_size);
    for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{33}, size_t{41}}) {
        CheckText(view, n);
    }
    CheckMatch(view, buffer_size);
    // The same bytes as a VPD unit serial number page.
    for (size_t serial_size : {size_t{1}, size_t{8}, size_t{41}}) {
        std::vector<char> serial(serial_size, 'x');
        telmar::DecodeVPDUnitSerialNumber(view, serial.data(), serial.size());
        FUZZ_CHECK(std::memchr(serial.data(), '\0', serial.size()) != nullptr);
        FUZZ_CHECK(std::strlen(serial.data()) <= view.u8(3).value_or(0));
    }
    CheckMatch(view, 41);
    FUZZ_CHECK(_VK_curr_alloc == held);
    return 0;
}
