// Arrays as the model derives them: walks over arrays, drives and logical drives, and an array's
// type, drive counts, sizes, media, spares, acceleration and split-mirror sibling.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>

#include "ppavl_debug.h"

#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_records.h"

namespace {

// The type bit of an array type code; 0 for a code outside 1 to 5.
VK_BYTE TypeBit(VK_BYTE code) {
    switch (code) {
    case kLogicalDriveTypeData: return kArrayTypeData;
    case kLogicalDriveTypeCache: return kArrayTypeLUCache;
    case kLogicalDriveTypeSplitMirrorSetPrimary: return kArrayTypeSplitMirrorPrimary;
    case kLogicalDriveTypeSplitMirrorSetBackup: return kArrayTypeSplitMirrorBackup;
    case kLogicalDriveTypeSplitMirrorSetBackupOrphan: return kArrayTypeSplitMirrorBackupOrphan;
    default: return 0;
    }
}

using Bitmap = const VK_BYTE (&)[kDriveBitmapSize];

// The next drive after `pd_number` set in one of the array's bitmaps.
template <typename InMaps>
VK_WORD NextArrayDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number, InMaps in_maps) {
    if (cda == nullptr || array_number >= kMaxArraysSupported) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !VK_RequestIdentifyControllerBuffer(cda)) {
        return kInvalidPDNumber;
    }
    const _CDA* c = _VK_CDA(cda);
    const ArrayRecord& array = c->array_record_list[array_number];
    const size_t limit = std::min<size_t>(c->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                                          kMaxPhysicalDrivesSupported);
    for (size_t p = static_cast<VK_WORD>(pd_number + 1); p < limit; ++p) {
        if (in_maps(array, [p](Bitmap map) { return telmar::MapBit(map, sizeof(map), p); })) {
            return static_cast<VK_WORD>(p);
        }
    }
    return kInvalidPDNumber;
}

} // namespace

VK_BYTE VK_GetArrayType(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr || array_number >= kMaxArraysSupported) {
        return 0;
    }
    CDALock guard(cda);
    const _CDA* c = _VK_CDA(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || array_number >= c->total_array_count) {
        return 0;
    }
    return TypeBit(c->array_record_list[array_number].flags & kArrayRecordTypeMask);
}

VK_WORD VK_EnumerateArrays(PCDA cda, VK_BYTE array_type, VK_WORD array_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    const _CDA* c = _VK_CDA(cda);
    if (!VK_RequestArrayConfigurationInformation(cda)) {
        return kInvalidArrayNumber;
    }
    for (VK_WORD a = static_cast<VK_WORD>(array_number + 1); a < c->total_array_count && a < kMaxArraysSupported;
         ++a) {
        if (array_type == kArrayTypeAny ||
            (array_type & TypeBit(c->array_record_list[a].flags & kArrayRecordTypeMask))) {
            return a;
        }
    }
    return kInvalidArrayNumber;
}

VK_WORD VK_EnumerateAllArrays(PCDA cda, VK_WORD array_number) {
    return VK_EnumerateArrays(cda, kArrayTypeAny, array_number);
}

namespace {

constexpr auto kDataOrSpare = [](const ArrayRecord& a, auto bit) {
    return bit(a.data_drive_bitmap) || bit(a.spare_drive_bitmap);
};

} // namespace

bool telmar::ArrayHoldsDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (cda == nullptr || array_number >= kMaxArraysSupported) {
        return false;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !VK_RequestIdentifyControllerBuffer(cda)) {
        return false;
    }
    const _CDA* c = _VK_CDA(cda);
    const size_t limit = std::min<size_t>(c->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                                          kMaxPhysicalDrivesSupported);
    return pd_number < limit &&
           kDataOrSpare(c->array_record_list[array_number],
                        [pd_number](Bitmap map) { return telmar::MapBit(map, sizeof(map), pd_number); });
}

VK_WORD VK_EnumerateArrayPhysicalDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return NextArrayDrive(cda, array_number, pd_number, kDataOrSpare);
}

VK_WORD VK_EnumerateArrayDataDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return NextArrayDrive(cda, array_number, pd_number,
                          [](const ArrayRecord& a, auto bit) { return bit(a.data_drive_bitmap); });
}

VK_WORD VK_EnumerateArraySpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return NextArrayDrive(cda, array_number, pd_number,
                          [](const ArrayRecord& a, auto bit) { return bit(a.spare_drive_bitmap); });
}

VK_WORD VK_EnumerateArraySharedActiveSpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return NextArrayDrive(cda, array_number, pd_number,
                          [](const ArrayRecord& a, auto bit) { return bit(a.active_spare_drive_bitmap); });
}

VK_WORD VK_EnumerateArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr || array_number >= kMaxArraysSupported) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda)) {
        return kInvalidLDNumber;
    }
    const ArrayRecord& array = _VK_CDA(cda)->array_record_list[array_number];
    const VK_WORD count = std::min<VK_WORD>(array.ld_count, kMaxLogicalDrivesSupported);
    if (ld_number == kInvalidLDNumber) {
        return count > 0 ? array.ld_index_array[0] : kInvalidLDNumber;
    }
    for (VK_WORD k = 0; k < count; ++k) {
        if (array.ld_index_array[k] == ld_number) {
            return k + 1 < count ? array.ld_index_array[k + 1] : kInvalidLDNumber;
        }
    }
    return kInvalidLDNumber;
}

namespace {

constexpr VK_BYTE kMaxCount = 0xFF;

// Set bits of a drive bitmap below `limit`.
size_t CountBits(const VK_BYTE (&map)[kDriveBitmapSize], size_t limit) {
    size_t count = 0;
    for (size_t byte = 0; byte < kDriveBitmapSize && byte * 8 < limit; ++byte) {
        const size_t bits = std::min<size_t>(8, limit - byte * 8);
        count += static_cast<size_t>(std::popcount(static_cast<unsigned>(map[byte] & ((1u << bits) - 1))));
    }
    return count;
}

// A count as its 8-bit field holds it: 255 stands for 255 or more.
VK_DWORD Saturated(size_t count) {
    return static_cast<VK_DWORD>(std::min<size_t>(count, kMaxCount));
}

VK_DWORD CountsWord(size_t data, size_t spare, size_t transient, size_t failed) {
    return Saturated(data) | Saturated(spare) << 8 | Saturated(transient) << 16 | Saturated(failed) << 24;
}

// An array of the model; the caller holds the lock.
const ArrayRecord* ModelArray(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr || array_number >= kMaxArraysSupported || !VK_RequestArrayConfigurationInformation(cda)) {
        return nullptr;
    }
    return &_VK_CDA(cda)->array_record_list[array_number];
}

} // namespace

VK_DWORD VK_GetArrayPhysicalDriveCounts(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const ArrayRecord* array = ModelArray(cda, array_number);
    if (array == nullptr || !VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const size_t limit = std::min<size_t>(_VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                                          kMaxPhysicalDrivesSupported);
    const size_t missing = array->missing_drive_count;
    return CountsWord(CountBits(array->data_drive_bitmap, limit) + missing, CountBits(array->spare_drive_bitmap, limit),
                      CountBits(array->transient_drive_bitmap, limit),
                      CountBits(array->failed_drive_bitmap, limit) + missing);
}

VK_WORD VK_GetArrayLogicalDriveCount(PCDA cda, VK_WORD array_index) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const ArrayRecord* array = ModelArray(cda, array_index);
    return array != nullptr ? array->ld_count : 0;
}

VK_BYTE VK_GetArrayAccelerationMode(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kArrayAccelerationModeUnknown;
    }
    CDALock guard(cda);
    const ArrayRecord* array = ModelArray(cda, array_number);
    if (array == nullptr || array_number >= _VK_CDA(cda)->total_array_count) {
        return kArrayAccelerationModeUnknown;
    }
    switch (array->flags & (kArrayRecordIOBypass | kArrayRecordIndependentAcceleration)) {
    case kArrayRecordIOBypass: return kArrayAccelerationModeIOBypass;
    case kArrayRecordIndependentAcceleration: return kArrayAccelerationModeIndependent;
    default: return kArrayAccelerationModeUnknown;
    }
}

VK_QWORD VK_GetArraySize(PCDA cda, VK_WORD array_number, VK_BYTE size_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const ArrayRecord* array = ModelArray(cda, array_number);
    if (array == nullptr) {
        return 0;
    }
    if (size_type == kArrayBlockSizeBytes) {
        return array->logical_block_size_bytes;
    }
    _CDA* c = _VK_CDA(cda);
    VK_QWORD drives = 0;
    VK_QWORD smallest = 0; // smallest non-zero usable size
    for (VK_WORD p = VK_EnumerateArrayDataDrives(cda, array_number, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateArrayDataDrives(cda, array_number, p)) {
        ++drives;
        VK_RequestIdentifyPhysicalDriveBuffer(cda, p);
        const VK_QWORD usable = c->pd_record_list[p].pd_config_information.usable_size_blocks;
        if (usable != 0 && (smallest == 0 || usable < smallest)) {
            smallest = usable;
        }
    }
    VK_QWORD offset = 0;
    const bool free_size = size_type == kArrayFreeSizeBlocks || size_type == kArrayFreeSizeBytes;
    const VK_WORD ld_count = std::min<VK_WORD>(array->ld_count, kMaxLogicalDrivesSupported);
    if (free_size && ld_count > 0) {
        const VK_WORD last = array->ld_index_array[ld_count - 1];
        if (last < kMaxLogicalDrivesSupported) {
            const LogicalDriveRecord& r = c->ld_record_list[last];
            VK_QWORD end = 0;
            if (__builtin_add_overflow(r.physical_drive_offset_block, r.physical_drive_blocks_per_drive, &end)) {
                end = std::numeric_limits<VK_QWORD>::max();
            }
            offset = std::min(smallest, VK_GetNextLogicalDriveAlignedOffset(cda, array_number, end));
        }
    }
    VK_QWORD size = 0;
    if (__builtin_mul_overflow(smallest - offset, drives, &size)) {
        size = std::numeric_limits<VK_QWORD>::max();
    }
    if (size_type == kArrayTotalSizeBytes || size_type == kArrayFreeSizeBytes) {
        if (__builtin_mul_overflow(size, static_cast<VK_QWORD>(array->logical_block_size_bytes), &size)) {
            size = std::numeric_limits<VK_QWORD>::max();
        }
    }
    return size;
}

VK_WORD VK_GetArraySplitMirrorNumber(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    if (ModelArray(cda, array_number) == nullptr) {
        return kInvalidArrayNumber;
    }
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        const VK_WORD sibling = VK_GetLogicalDriveSplitMirrorNumber(cda, ld);
        if (sibling != kInvalidLDNumber) {
            return VK_GetLogicalDriveArray(cda, sibling);
        }
    }
    return kInvalidArrayNumber;
}

VK_BYTE VK_GetArraySpareType(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kSpareDriveTypeDoesNotExist;
    }
    CDALock guard(cda);
    if (ModelArray(cda, array_number) == nullptr) {
        return kSpareDriveTypeDoesNotExist;
    }
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD p = VK_EnumerateArraySpareDrives(cda, array_number, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateArraySpareDrives(cda, array_number, p)) {
        const PhysicalDriveRecord& pd = c->pd_record_list[p];
        if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, p) || !(pd.identify_physical_drive_buffer.bDeviceFlags & 0x01)) {
            continue;
        }
        switch (pd.pd_config_information.config_usage_info) {
        case kPhysicalDriveUsageAutoReplaceStandbySpare: return kSpareDriveTypeAutoReplace;
        case kPhysicalDriveUsageShareableStandbySpare:
        case kPhysicalDriveUsageShareableActiveSpare: return kSpareDriveTypeDedicated;
        default: break;
        }
    }
    return kSpareDriveTypeDoesNotExist;
}

VK_BYTE VK_GetArrayMediaInterfaceType(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (ModelArray(cda, array_number) == nullptr) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD p = VK_EnumerateArrayDataDrives(cda, array_number, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateArrayDataDrives(cda, array_number, p)) {
        if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, p) ||
            !(c->pd_record_list[p].identify_physical_drive_buffer.bDeviceFlags & 0x01)) {
            continue;
        }
        const VK_DWORD info = VK_GetPhysicalDriveBasicInfo(cda, p);
        const VK_BYTE media = IS_SSD_PHYSICAL_DRIVE(info)   ? kArrayMediaSSD
                              : IS_HDD_PHYSICAL_DRIVE(info) ? kArrayMediaHDD
                                                            : kArrayMediaUnknown;
        const VK_BYTE interface = IS_SAS_PHYSICAL_DRIVE(info)    ? kArrayInterfaceSAS
                                  : IS_SATA_PHYSICAL_DRIVE(info) ? kArrayInterfaceSATA
                                  : IS_NVME_PHYSICAL_DRIVE(info) ? kArrayInterfaceNVMe
                                                                 : kArrayInterfaceUnknown;
        return static_cast<VK_BYTE>(media | interface);
    }
    return 0;
}

VK_QWORD VK_GetArrayPhysicalDriveBlockSize(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (ModelArray(cda, array_number) == nullptr) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD p = VK_EnumerateArrayDataDrives(cda, array_number, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateArrayDataDrives(cda, array_number, p)) {
        const PhysicalDriveRecord& pd = c->pd_record_list[p];
        if (VK_RequestIdentifyPhysicalDriveBuffer(cda, p) && (pd.identify_physical_drive_buffer.bDeviceFlags & 0x01) &&
            pd.pd_config_information.total_size_blocks != ~VK_QWORD{0}) {
            return VK_GetPhysicalDriveSize(cda, p, kPhysicalDriveBlockSizeBytes);
        }
    }
    return 0;
}

VK_DWORD VK_GetEditableArrayPhysicalDriveCounts(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr || editable_array_number >= kMaxArraysSupported) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_CDA(cda)->editable_configuration;
    const PEDITABLE_ARRAY array = config != nullptr ? config->editable_array_list[editable_array_number] : nullptr;
    if (array == nullptr) {
        return 0;
    }
    constexpr size_t kCapacity = sizeof(array->data_drives) / sizeof(array->data_drives[0]);
    size_t examined = array->data_drive_count;
    if (examined > kCapacity) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion '(data_drive_count <= kMaxPhysicalDrivesPerLogicalDriveSupported)' failed: The "
                    "data drive count is greater than max pds per array.\n",
                    __func__, __LINE__);
        examined = kCapacity;
    }
    size_t failed = 0;
    for (size_t i = 0; i < examined; ++i) {
        if (VK_GetPhysicalDriveStatusInfo(cda, array->data_drives[i]) & kPhysicalDriveStatusFailed) {
            ++failed;
        }
    }
    return CountsWord(array->data_drive_count, array->spare_drive_count, 0, failed);
}
