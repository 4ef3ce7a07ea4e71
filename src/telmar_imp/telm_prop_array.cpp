// Walks over the arrays the model derives: arrays by type, an array's drives by bitmap and its
// logical drives in list order, and an array's type.
#include <algorithm>
#include <cstddef>

#include "ptelm_cda.h"
#include "ptelm_properties.h"
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

VK_WORD VK_EnumerateArrayPhysicalDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return NextArrayDrive(cda, array_number, pd_number, [](const ArrayRecord& a, auto bit) {
        return bit(a.data_drive_bitmap) || bit(a.spare_drive_bitmap);
    });
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
