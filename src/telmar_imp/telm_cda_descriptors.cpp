// Host descriptors of the controller's devices, kept in their records, and the matching of the host's
// block volumes to logical and physical drives.
#include <algorithm>
#include <cstring>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_info.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_cda_internal.h"
#include "telm_private_utils.h"

using pavlin::ByteView;

namespace {

constexpr VK_WORD kPhysicalDeviceNumberSize = 2;
constexpr VK_WORD kLogicalDriveVolumeIdSize = kMinGetLogicalDriveUniqueVolumeIDBufferLength; // 33
constexpr VK_WORD kWWIDTextSize = kMinGetPhysicalDriveWWIDStringLength;                       // 41
constexpr size_t kModelSize = kMinGetPhysicalDriveModelBufferLength;                           // 49
constexpr size_t kSerialSize = kMinGetPhysicalDriveSerialNumberBufferLength;                   // 41
constexpr size_t kMaxVolumesPerPhysicalDrive = 4;
constexpr VK_WORD kVPDUnitSerialNumberReplySize = 255;
constexpr size_t kVPDSerialLengthOffset = 3;
constexpr size_t kVPDSerialOffset = 4;

// Walks a descriptor list; a NULL list walks nothing.
class ListWalk {
public:
    explicit ListWalk(DeviceDescriptorList list)
        : it_(list != nullptr ? PN_CreateDeviceListIterator(list) : nullptr) {}
    ~ListWalk() {
        if (it_ != nullptr) {
            PN_DestroyDeviceListIterator(it_);
        }
    }
    ListWalk(const ListWalk&) = delete;
    ListWalk& operator=(const ListWalk&) = delete;

    bool done() const { return it_ == nullptr || PN_IsDeviceListIteratorEnd(it_); }
    DeviceDescriptor item() const { return PN_GetDeviceListItemAt(it_); }
    void next() { PN_MoveDeviceListIteratorNext(it_); }

private:
    DeviceDescriptorListIterator it_;
};

// A list the walk owns.
struct OwnedList {
    DeviceDescriptorList list;
    ~OwnedList() {
        if (list != nullptr) {
            PN_DestroyDeviceDescriptorList(list);
        }
    }
};

// A text property read into a buffer one byte larger than the reader's size, so it always ends;
// a property longer than `size` reads as empty.
template <size_t N> void ReadTextProperty(DeviceDescriptor descriptor, VK_BYTE id, char (&text)[N]) {
    static_assert(N > 1);
    std::memset(text, 0, N);
    if (PN_GetDeviceSystemProperty(descriptor, id, text, N - 1) != 0) {
        std::memset(text, 0, N);
    }
}

bool TextEquals(const char* built, const char* wanted, size_t wanted_size) {
    const size_t n = std::strlen(built);
    return strnlen(wanted, wanted_size) == n && std::memcmp(built, wanted, n) == 0;
}

} // namespace

namespace telmar {

VolumeIdText BuildVolumeIdText(ByteView property, size_t buffer_size, char (&text)[kVolumeIdTextSize]) {
    std::memset(text, 0, sizeof(text));
    const ByteView read = property.first(kVolumeIdPropertyReadSize);
    // A letter with nothing after it identifies nothing, whatever the format.
    if (read.size() < 2) {
        return VolumeIdText::kNone;
    }
    const ByteView id = read.from(1);
    switch (*read.u8(0)) {
        case 'B': {
            const size_t count = std::min(buffer_size == 0 ? 0 : (buffer_size - 1) / 2, id.size());
            if (count > 0) {
                VK_ConvertBufferToHexStringSafe(text, sizeof(text), id.data(), count);
            }
            break;
        }
        case 'S': {
            const size_t count = std::min(read.size(), buffer_size);
            if (count > 1) {
                id.copy_text(0, count - 1, text, sizeof(text));
            }
            break;
        }
        default:
            return VolumeIdText::kUnsupportedFormat;
    }
    return text[0] != '\0' ? VolumeIdText::kBuilt : VolumeIdText::kNone;
}

void DecodeVPDUnitSerialNumber(ByteView page, char* serial, size_t serial_size) {
    if (serial == nullptr || serial_size == 0) {
        return;
    }
    std::memset(serial, 0, serial_size);
    const size_t stated = page.u8(kVPDSerialLengthOffset).value_or(0);
    const ByteView field = page.from(kVPDSerialOffset).first(std::min(stated, serial_size - 1));
    if (field.empty()) {
        return;
    }
    // The field is shorter than the text buffer, so the trimmed copy always ends.
    __VK_ConvertCharBufferToString(reinterpret_cast<const char*>(field.data()), field.size(), serial, serial_size,
                                   kTrue, kTrue, kTrue, kTrue, ' ');
}

} // namespace telmar

VK_BOOL VK_RequestLogicalDriveDescriptors(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_DWORD& model = c->flags[kCDAFlagsModel];
    if (!(model & kCDAModelLDDescriptors) && VK_RequestIdentifyControllerBuffer(cda) &&
        VK_RequestArrayConfigurationInformation(cda)) {
        const size_t n = size_t{c->data_ld_count} + c->cache_ld_count;
        __VK_ClearLogicalDriveHandles(cda);
        VK_WORD numbers[kMaxLogicalDrivesSupported] = {};
        size_t count = 0;
        for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
             ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
            if (count < n && count < kMaxLogicalDrivesSupported) {
                numbers[count] = ld;
            }
            ++count;
        }
        // Descriptors pair with drives by position, so the walk must agree with the model's count.
        if (n > 0 && count == n && n <= kMaxLogicalDrivesSupported) {
            const OwnedList list{PN_CreateLogicalDeviceDescriptorList(c->controller_handle, numbers,
                                                                      static_cast<VK_WORD>(n))};
            ListWalk walk(list.list);
            for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber);
                 ld != kInvalidLDNumber && !walk.done(); ld = VK_EnumerateControllerLogicalDrives(cda, ld), walk.next()) {
                _VK_LDRecordForWrite(c, ld).logical_drive_handle = PN_CopyDeviceDescriptor(walk.item());
            }
        }
        model |= kCDAModelLDDescriptors;
    }
    return (model & kCDAModelLDDescriptors) ? kTrue : kFalse;
}

VK_BOOL VK_RequestPhysicalDriveDescriptors(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_DWORD& model = c->flags[kCDAFlagsModel];
    if (!(model & kCDAModelPDDescriptors) && VK_RequestIdentifyControllerBuffer(cda)) {
        __VK_ClearPhysicalDeviceHandles(cda);
        const OwnedList list{PN_CreateAllPhysicalDeviceDescriptorList(c->controller_handle)};
        for (ListWalk walk(list.list); !walk.done(); walk.next()) {
            const DeviceDescriptor descriptor = walk.item();
            VK_BYTE number_bytes[kPhysicalDeviceNumberSize] = {};
            if (PN_GetDeviceSystemPropertySize(descriptor, kDevicePropertyDeviceNumber) != kPhysicalDeviceNumberSize ||
                PN_GetDeviceSystemProperty(descriptor, kDevicePropertyDeviceNumber, number_bytes,
                                           sizeof(number_bytes)) != 0) {
                continue;
            }
            const VK_WORD pd_number = ByteView(number_bytes, sizeof(number_bytes)).le16(0).value_or(kInvalidDeviceNumber);
            if (pd_number >= kMaxPhysicalDrivesSupported) {
                PN_DebugLog(1, 0, "%s:%d: Invalid PD descriptor for pd:%u\n", __FILE__, __LINE__, pd_number);
                continue;
            }
            PhysicalDriveRecord& record = _VK_PDRecordForWrite(c, pd_number);
            if (record.physical_drive_handle != nullptr) {
                continue;
            }
            record.physical_drive_handle = PN_CopyDeviceDescriptor(descriptor);
            if (record.physical_drive_handle == nullptr) {
                PN_DebugLog(1, 0,
                            "%s:%d: Assertion 'descriptor_copy != NULL' failed: Failed to allocate descriptor "
                            "for pd:%u\n",
                            __func__, __LINE__, pd_number);
            }
        }
        model |= kCDAModelPDDescriptors;
    }
    return (model & kCDAModelPDDescriptors) ? kTrue : kFalse;
}

DeviceDescriptorList VK_RequestStorageVolumeDescriptorList(PCDA cda) {
    if (cda == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    return PN_CreateStorageVolumeDeviceDescriptorList(_VK_CDA(cda)->controller_handle);
}

VK_BOOL __VK_CheckStorageVolumeUniqueIdMatch(PCDA cda, DeviceDescriptor storage_vol_descriptor,
                                             const char* unique_vol_id, const VK_WORD unique_vol_id_buffer_size) {
    (void)cda;
    if (storage_vol_descriptor == nullptr || unique_vol_id == nullptr) {
        return kFalse;
    }
    const VK_WORD sv_descriptor_unique_id_size =
        PN_GetDeviceSystemPropertySize(storage_vol_descriptor, kDevicePropertyUniqueVolumeID);
    if (sv_descriptor_unique_id_size > unique_vol_id_buffer_size) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'unique_vol_id_buffer_size >= sv_descriptor_unique_id_size' failed: "
                    "Destination for storage volume unique ID not large enough\n",
                    __func__, __LINE__);
    }
    VK_BYTE property[telmar::kVolumeIdPropertyReadSize];
    if (PN_GetDeviceSystemProperty(storage_vol_descriptor, kDevicePropertyUniqueVolumeID, property,
                                   sizeof(property)) == 1) {
        return kFalse;
    }
    // A property too long for the read leaves the buffer zeroed: its letter reads as unsupported.
    const ByteView read(property, std::min<size_t>(sv_descriptor_unique_id_size, sizeof(property)));
    char text[telmar::kVolumeIdTextSize];
    switch (telmar::BuildVolumeIdText(read, unique_vol_id_buffer_size, text)) {
        case telmar::VolumeIdText::kUnsupportedFormat:
            PN_DebugLog(1, 0, "%s:%d: Unsupported StorageVolume unique id format\n", __FILE__, __LINE__);
            return kFalse;
        case telmar::VolumeIdText::kNone:
            return kFalse;
        case telmar::VolumeIdText::kBuilt:
            break;
    }
    return TextEquals(text, unique_vol_id, unique_vol_id_buffer_size) ? kTrue : kFalse;
}

VK_BOOL __VK_CheckStorageVolumeMultiLUNUniqueIdMatch(PCDA cda, DeviceDescriptor storage_vol_descriptor,
                                                     PHYSICAL_DRIVE_LUN_INFO_LIST* p_lun_info_list,
                                                     const VK_WORD unique_vol_id_buffer_size) {
    if (p_lun_info_list == nullptr) {
        return kFalse;
    }
    for (size_t i = 0; i < p_lun_info_list->count; ++i) {
        if (!__VK_CheckStorageVolumeUniqueIdMatch(cda, storage_vol_descriptor, p_lun_info_list->lun_info[i].wwid_str,
                                                  unique_vol_id_buffer_size)) {
            return kFalse;
        }
    }
    return kTrue;
}

DeviceDescriptor VK_RequestStorageVolumeDescriptorForLogicalDrive(PCDA cda, DeviceDescriptorList sv_descriptor_list,
                                                                  VK_WORD ld_number) {
    if (cda == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    char unique_vol_id[kLogicalDriveVolumeIdSize] = {};
    VK_GetLogicalDriveUniqueVolumeID(cda, ld_number, unique_vol_id, sizeof(unique_vol_id));
    for (ListWalk walk(sv_descriptor_list); !walk.done(); walk.next()) {
        if (__VK_CheckStorageVolumeUniqueIdMatch(cda, walk.item(), unique_vol_id, kLogicalDriveVolumeIdSize)) {
            return PN_CopyDeviceDescriptor(walk.item());
        }
    }
    return nullptr;
}

DeviceDescriptor* VK_RequestStorageVolumeDescriptorForPhysicalDrive(PCDA cda, DeviceDescriptorList sv_descriptor_list,
                                                                    VK_WORD pd_number, VK_WORD* storage_vol_count) {
    if (storage_vol_count == nullptr) {
        return nullptr;
    }
    *storage_vol_count = 0;
    if (cda == nullptr) {
        return nullptr;
    }
    pavlin::TrackedBuffer slots = PN_TRACKED_ZEROED(kMaxVolumesPerPhysicalDrive * sizeof(DeviceDescriptor));
    if (!slots) {
        return nullptr;
    }
    auto* volumes = reinterpret_cast<DeviceDescriptor*>(slots.get());
    CDALock guard(cda);

    char vpd_serial[kSerialSize] = {};
    {
        VK_BYTE page[kVPDUnitSerialNumberReplySize] = {};
        if (VK_PhysicalDriveVPDPage(cda, pd_number, kPhysicalDriveInquiryUnitSerialNumber, page, sizeof(page))) {
            telmar::DecodeVPDUnitSerialNumber(ByteView(page, sizeof(page)), vpd_serial, sizeof(vpd_serial));
        }
    }
    char model[kModelSize] = {};
    char serial[kSerialSize] = {};
    VK_GetPhysicalDriveModel(cda, pd_number, model, sizeof(model));
    VK_GetPhysicalDriveSerialNumber(cda, pd_number, serial, sizeof(serial));

    PHYSICAL_DRIVE_LUN_INFO_LIST* lun_list = nullptr;
    size_t lun_count = 1;
    char wwid[kWWIDTextSize] = {};
    if (VK_GetPhysicalDriveBasicInfo(cda, pd_number) & kPhysicalDriveIsMultiActuator) {
        lun_count = (VK_GetPhysicalDriveLunInfo(cda, pd_number, &lun_list) == kGetPhysicalDriveLunInfoSuccess &&
                     lun_list != nullptr)
                        ? lun_list->count
                        : 0;
    } else {
        VK_GetPhysicalDriveWWID(cda, pd_number, wwid, sizeof(wwid), kTrue);
    }

    VK_WORD found = 0;
    for (ListWalk walk(sv_descriptor_list); !walk.done() && found < kMaxVolumesPerPhysicalDrive; walk.next()) {
        const DeviceDescriptor volume = walk.item();
        char volume_model[kModelSize + 1];
        char volume_serial[kSerialSize + 1];
        ReadTextProperty(volume, kDevicePropertyVendorModel, volume_model);
        ReadTextProperty(volume, kDevicePropertySerialNumber, volume_serial);
        const bool same_drive =
            model[0] != '\0' && std::strstr(model, volume_model) != nullptr &&
            ((serial[0] != '\0' && std::strcmp(serial, volume_serial) == 0) ||
             (vpd_serial[0] != '\0' && std::strcmp(vpd_serial, volume_serial) == 0));
        const bool matches =
            same_drive ||
            (lun_count == 1 && __VK_CheckStorageVolumeUniqueIdMatch(cda, volume, wwid, kWWIDTextSize)) ||
            (lun_count > 1 && __VK_CheckStorageVolumeMultiLUNUniqueIdMatch(cda, volume, lun_list, kWWIDTextSize));
        if (!matches) {
            continue;
        }
        if (DeviceDescriptor copy = PN_CopyDeviceDescriptor(volume); copy != nullptr) {
            volumes[found++] = copy;
        }
    }
    if (lun_list != nullptr) {
        VK_free(lun_list);
    }
    if (found == 0) {
        return nullptr;
    }
    *storage_vol_count = found;
    return reinterpret_cast<DeviceDescriptor*>(slots.release());
}
