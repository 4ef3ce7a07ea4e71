// Arrays of the staged configuration: their population from the live arrays, creation of new ones,
// the walks over their drive and logical-drive lists, their flag word, sizes and spare type, and
// where a new logical drive of one would start.
#include <algorithm>
#include <cstring>
#include <limits>

#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_records.h"

namespace {

constexpr size_t kArrayDriveCapacity = sizeof(EDITABLE_ARRAY::data_drives) / sizeof(VK_WORD);
constexpr size_t kArrayLogicalDriveCapacity = sizeof(EDITABLE_ARRAY::logical_drives) / sizeof(VK_WORD);
static_assert(kArrayDriveCapacity == sizeof(EDITABLE_ARRAY::spare_drives) / sizeof(VK_WORD));

constexpr VK_DWORD kCommonDriveTypeMask = 0x77F;
constexpr VK_WORD kDefaultBlockSize = 512;

// Appends to a 128-entry drive list of a staged array; a full list keeps its entries and the
// caller stops adding, since the arrays the controller reports may hold more drives than that.
bool AppendDrive(VK_WORD (&list)[kArrayDriveCapacity], VK_WORD& count, VK_WORD pd_number, const char* list_name,
                 VK_WORD array_number) {
    if (count >= kArrayDriveCapacity) {
        PN_DebugLog(1, 0, "%s:%d: Array %u has more %s drives than a staged array holds (%zu); the rest are left out\n",
                    __FILE__, __LINE__, array_number, list_name, kArrayDriveCapacity);
        return false;
    }
    list[count++] = pd_number;
    return true;
}

// The next entry after `number` of a list, in list order (0xFFFF starts); 0xFFFF after the last
// entry or when `number` is not in it.
VK_WORD NextInList(const VK_WORD* list, size_t count, VK_WORD number) {
    if (number == 0xFFFF) {
        return count > 0 ? list[0] : 0xFFFF;
    }
    const size_t at = _VK_InDeviceList(list, number, count);
    if (at == static_cast<size_t>(-1) || at + 1 >= count) {
        return 0xFFFF;
    }
    return list[at + 1];
}

VK_QWORD SaturatingProduct(VK_QWORD a, VK_QWORD b) {
    VK_QWORD product = 0;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<VK_QWORD>::max() : product;
}

} // namespace

PEDITABLE_ARRAY _VK_GetEditableArray(PCDA cda, VK_WORD array_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || array_number >= kMaxArraysSupported) {
        return nullptr;
    }
    return config->editable_array_list[array_number];
}

void _VK_PopulateEditableArray(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                               PEDITABLE_ARRAY editable_array) {
    _CDA* c = _VK_CDA(cda);
    const VK_WORD a = editable_array->editable_array_number;
    const VK_BYTE type = VK_GetArrayType(cda, a);
    if (type & (kArrayTypeSplitMirrorPrimary | kArrayTypeSplitMirrorBackup | kArrayTypeSplitMirrorBackupOrphan)) {
        editable_array->flags |= kEditableArrSplitMirror;
    } else if (type == kArrayTypeLUCache) {
        editable_array->flags |= kEditableArrLUCache;
    }
    const ArrayRecord& live = c->array_record_list[a];
    if (live.flags & kArrayRecordBootConnector) {
        editable_array->flags |= kEditableArrBootConnector;
    }

    // A failed drive that is no spare still holds its place among the data drives.
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    for (VK_WORD p = 0; p < limit; ++p) {
        const bool data = telmar::MapBit(live.data_drive_bitmap, sizeof(live.data_drive_bitmap), p);
        const bool failed = telmar::MapBit(live.failed_drive_bitmap, sizeof(live.failed_drive_bitmap), p) &&
                            !telmar::MapBit(live.spare_drive_bitmap, sizeof(live.spare_drive_bitmap), p);
        if (!data && !failed) {
            continue;
        }
        if (!AppendDrive(editable_array->data_drives, editable_array->data_drive_count, p, "data", a)) {
            break;
        }
        VK_RequestIdentifyPhysicalDriveBuffer(cda, p);
        const PhysicalDriveConfigInformation& facts = c->pd_record_list[p].pd_config_information;
        _VK_CopyPhysicalDriveConfigInformation(&editable_configuration->editable_pd_list[p], &facts);
        if (editable_array->data_drive_count == 1) {
            editable_array->common_drive_type = VK_GetPhysicalDriveBasicInfo(cda, p) & kCommonDriveTypeMask;
            editable_array->common_drive_size_blocks = facts.usable_size_blocks;
        } else {
            editable_array->common_drive_size_blocks =
                std::min(editable_array->common_drive_size_blocks, facts.usable_size_blocks);
        }
        if (editable_array->common_block_size == 0) {
            editable_array->common_block_size = facts.logical_block_size_bytes;
        }
    }
    if (editable_array->common_block_size == 0) {
        editable_array->common_block_size = kDefaultBlockSize;
    }
    editable_array->alignment_size_blocks = live.alignment_size_blocks;

    for (VK_WORD p = VK_EnumerateArraySpareDrives(cda, a, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateArraySpareDrives(cda, a, p)) {
        if (!AppendDrive(editable_array->spare_drives, editable_array->spare_drive_count, p, "spare", a)) {
            break;
        }
        VK_RequestIdentifyPhysicalDriveBuffer(cda, p);
        _VK_CopyPhysicalDriveConfigInformation(&editable_configuration->editable_pd_list[p],
                                               &c->pd_record_list[p].pd_config_information);
    }
    editable_array->common_sed_type = _VK_GetArrayCommonSEDType(cda, a);

    const VK_WORD ld_count = std::min<VK_WORD>(VK_GetArrayLogicalDriveCount(cda, a), kMaxLogicalDrivesSupported);
    for (VK_WORD i = 0; i < ld_count; ++i) {
        _VK_PopulateEditableLogicalDrive(cda, editable_configuration, editable_array,
                                         VK_GetArrayLogicalDriveNumberFromIndex(cda, a, i));
    }
}

VK_BYTE VK_CanCreateEditableArray(PCDA cda) {
    if (cda == nullptr) {
        return kCanCreateEditableArrayNoEditableConfigCreated;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kCanCreateEditableArrayNoEditableConfigCreated;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanCreateEditableArrayControllerStatusNotOK;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        config->editable_ld_count >= _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported) {
        return kCanCreateEditableArrayMaxLDCountReached;
    }
    bool unassigned = false;
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    for (VK_WORD p = 0; p < limit && !unassigned; ++p) {
        unassigned = config->editable_pd_list[p].config_usage_info == kPhysicalDriveUsageUnassigned;
    }
    if (!unassigned) {
        return kCanCreateEditableArrayNoUnassignedDrivesAvailable;
    }
    // Every slot taken: a further array would have nowhere to go.
    if (config->editable_array_count >= kMaxArraysSupported) {
        return kCanCreateEditableArrayCreatesNotAllowed;
    }
    return kCanCreateEditableArrayOK;
}

VK_WORD VK_CreateEditableArray(PCDA cda) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    const VK_BYTE can = VK_CanCreateEditableArray(cda);
    PN_DebugLog(3, 0, "%s:%d: %s(%p):%u\n", __FILE__, __LINE__, __func__, cda, can);
    if (can != kCanCreateEditableArrayOK) {
        return kInvalidArrayNumber;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    pavlin::TrackedPtr<EDITABLE_ARRAY> array(static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY))));
    if (!array) {
        return kInvalidArrayNumber;
    }
    std::memset(array.get(), 0, sizeof(EDITABLE_ARRAY));
    const VK_WORD number = config->editable_array_count;
    array->editable_array_number = number;
    array->flags = kEditableArrNew;
    config->editable_array_list[number] = array.release();
    ++config->editable_array_count;
    return number;
}

VK_WORD VK_EnumerateEditableArrays(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kInvalidArrayNumber;
    }
    const VK_WORD count = std::min<VK_WORD>(config->editable_array_count, kMaxArraysSupported);
    for (VK_WORD a = static_cast<VK_WORD>(array_number + 1); a < count; ++a) {
        if (config->editable_array_list[a] != nullptr) {
            return a;
        }
    }
    return kInvalidArrayNumber;
}

VK_WORD VK_EnumerateEditableArrayDataDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kInvalidPDNumber;
    }
    return NextInList(array->data_drives, std::min<size_t>(array->data_drive_count, kArrayDriveCapacity), pd_number);
}

VK_WORD VK_EnumerateEditableArraySpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kInvalidPDNumber;
    }
    return NextInList(array->spare_drives, std::min<size_t>(array->spare_drive_count, kArrayDriveCapacity),
                      pd_number);
}

VK_WORD VK_EnumerateEditableArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kInvalidLDNumber;
    }
    return NextInList(array->logical_drives,
                      std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity), ld_number);
}

size_t _VK_InDeviceList(const VK_WORD* dev_list, VK_WORD dev_number, size_t dev_list_size) {
    if (dev_list == nullptr) {
        return static_cast<size_t>(-1);
    }
    const VK_WORD* end = dev_list + dev_list_size;
    const VK_WORD* found = std::find(dev_list, end, dev_number);
    return found != end ? static_cast<size_t>(found - dev_list) : static_cast<size_t>(-1);
}

size_t _VK_EditableArrayDataDriveAt(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return static_cast<size_t>(-1);
    }
    return _VK_InDeviceList(array->data_drives, pd_number,
                            std::min<size_t>(array->data_drive_count, kArrayDriveCapacity));
}

VK_DWORD VK_GetEditableArrayFlags(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    static constexpr struct {
        VK_WORD private_bit;
        VK_DWORD public_bit;
    } kMap[] = {
        {kEditableArrNew, kEditableArrayFlagNewArray},
        {kEditableArrIOBypass, kEditableArrayFlagIOBypass},
        {kEditableArrLUCache, kEditableArrayFlagLUCaching},
        {kEditableArrBootConnector, kEditableArrayBootConnector},
        {kEditableArrSEDEncryption, kEditableArrayFlagSEDEncryptionEnabled},
    };
    VK_DWORD flags = 0;
    for (const auto& m : kMap) {
        if (array->flags & m.private_bit) {
            flags |= m.public_bit;
        }
    }
    return flags;
}

VK_QWORD VK_GetEditableArrayNextLogicalDriveOffset(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const VK_WORD last = VK_rEnumerateEditableArrayLogicalDrivesByOffset(cda, editable_array_number, kInvalidLDNumber);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, last);
    if (array == nullptr || ld == nullptr) {
        return 0;
    }
    VK_QWORD end = 0;
    if (__builtin_add_overflow(ld->physical_drive_offset_block, ld->physical_drive_blocks_per_drive, &end)) {
        end = std::numeric_limits<VK_QWORD>::max();
    }
    return _VK_GetNextLogicalDriveAlignedOffset(cda, array->alignment_size_blocks, end);
}

VK_QWORD VK_GetEditableArraySize(PCDA cda, VK_WORD editable_array_number, VK_BYTE size_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    switch (size_type) {
    case kArrayTotalSizeBlocks:
    case kArrayTotalSizeBytes: {
        const VK_QWORD blocks = SaturatingProduct(array->common_drive_size_blocks, array->data_drive_count);
        return size_type == kArrayTotalSizeBlocks ? blocks : SaturatingProduct(blocks, array->common_block_size);
    }
    case kArrayFreeSizeBlocks:
    case kArrayFreeSizeBytes: {
        // A layout that already runs past the smallest drive leaves nothing free.
        const VK_QWORD next = VK_GetEditableArrayNextLogicalDriveOffset(cda, editable_array_number);
        const VK_QWORD per_drive =
            array->common_drive_size_blocks > next ? array->common_drive_size_blocks - next : 0;
        const VK_QWORD blocks = SaturatingProduct(per_drive, array->data_drive_count);
        return size_type == kArrayFreeSizeBlocks ? blocks : SaturatingProduct(blocks, array->common_block_size);
    }
    case kArrayBlockSizeBytes: return array->common_block_size;
    default: return 0;
    }
}

VK_BYTE VK_GetEditableArraySpareType(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kSpareDriveTypeDoesNotExist;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return kSpareDriveTypeDoesNotExist;
    }
    const size_t count = std::min<size_t>(array->spare_drive_count, kArrayDriveCapacity);
    for (size_t i = 0; i < count; ++i) {
        const VK_WORD pd = array->spare_drives[i];
        if (pd >= kMaxPhysicalDrivesSupported) {
            continue;
        }
        switch (config->editable_pd_list[pd].config_usage_info) {
        case kPhysicalDriveUsageAutoReplaceStandbySpare: return kSpareDriveTypeAutoReplace;
        case kPhysicalDriveUsageShareableStandbySpare:
        case kPhysicalDriveUsageShareableActiveSpare: return kSpareDriveTypeDedicated;
        default: break;
        }
    }
    return kSpareDriveTypeDoesNotExist;
}

VK_QWORD _VK_GetEditableArrayQueuedTransformations(PCDA cda, VK_WORD editable_array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    VK_QWORD bits = 0;
    const size_t count = std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity);
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
        if (ld != nullptr) {
            bits |= ld->flags & kEditableLDTransformation;
        }
    }
    return bits;
}
