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
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_cda_writeback.h"
#include "telm_config_internal.h"
#include "telm_config_staged.h"
#include "telm_records.h"

using telmar::staged::EditAllowed;
using telmar::staged::StagedAnswer;
using telmar::staged::TransformationQueueRoom;
using telmar::staged::UnderLock;

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

VK_WORD _VK_GetEditableArrayLiveNumber(PCDA cda, const EDITABLE_ARRAY* editable_array) {
    if (cda == nullptr || editable_array == nullptr || (editable_array->flags & kEditableArrNew) ||
        editable_array->editable_array_number >= kMaxArraysSupported) {
        return kInvalidArrayNumber;
    }
    const VK_WORD live = static_cast<VK_WORD>(editable_array->editable_array_number +
                                              _VK_CDA(cda)->editable_array_slot_shift[editable_array->editable_array_number]);
    return live < kMaxArraysSupported ? live : kInvalidArrayNumber;
}

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
    if (a < kMaxArraysSupported) {
        c->editable_array_slot_shift[a] = 0;
    }
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

namespace {

VK_BYTE CanCreateEditableArray(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
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

} // namespace

VK_BYTE VK_CanCreateEditableArray(PCDA cda) {
    return StagedAnswer(cda, kCanCreateEditableArrayNoEditableConfigCreated, CanCreateEditableArray);
}

VK_WORD VK_CreateEditableArray(PCDA cda) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanCreateEditableArrayOK,
                     VK_CanCreateEditableArray)) {
        return kInvalidArrayNumber;
    }
    return _VK_AppendEditableArray(_VK_GetEditableConfiguration(cda), kEditableArrNew);
}

VK_WORD _VK_AppendEditableArray(PEDITABLE_CONFIGURATION config, VK_WORD flags) {
    // The callers' Can checks have made sure a slot is free; a full list is refused all the same.
    if (config == nullptr || config->editable_array_count >= kMaxArraysSupported) {
        return kInvalidArrayNumber;
    }
    pavlin::TrackedPtr<EDITABLE_ARRAY> array(static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY))));
    if (!array) {
        return kInvalidArrayNumber;
    }
    std::memset(array.get(), 0, sizeof(EDITABLE_ARRAY));
    const VK_WORD number = config->editable_array_count;
    array->editable_array_number = number;
    array->flags = flags;
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

// ---- Spares of live arrays ----
//
// Add, remove and retype the spares of an array on the controller at once: every logical drive of
// the array gets its configuration rewritten with the new spare maps (BMIC 0x51). No editable
// configuration is involved.

namespace {

constexpr VK_QWORD kSEDStatusWaitingOnAdapterPassword = 0x40;
constexpr VK_DWORD kLDEncryptionSEDEnabled = 0x10000;
constexpr VK_BYTE kMoreUnitFlagsAutoReplace = 0x01;
constexpr VK_BYTE kSpareTypeCurrent = 0;

bool LiveOFARunning(PCDA cda) {
    return _VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse) != kFalse;
}

bool AdapterPasswordAwaited(PCDA cda) {
    return (VK_GetControllerSEDEncryptionStatus(cda) & kSEDStatusWaitingOnAdapterPassword) != 0;
}

// The array record of the live model, or NULL when the model cannot be built; the caller holds the lock.
const ArrayRecord* LiveArray(PCDA cda, VK_WORD array_number) {
    if (array_number >= kMaxArraysSupported || !VK_RequestArrayConfigurationInformation(cda)) {
        return nullptr;
    }
    return &_VK_CDA(cda)->array_record_list[array_number];
}

bool IsArraySpare(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    const ArrayRecord* array = LiveArray(cda, array_number);
    return array != nullptr && telmar::MapBit(array->spare_drive_bitmap, kDriveBitmapSize, pd_number);
}

bool IsRAID0(PCDA cda, VK_WORD ld_number) {
    return RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld_number)) == kRAID0;
}

bool SAMPredictive(PCDA cda) {
    return VK_GetControllerSAM(cda) == kControllerSAMTypePredictive;
}

// Whether the array has a RAID 0 drive, and whether every drive is (an array without drives is not).
struct RAID0Census {
    bool any = false;
    bool all = false;
};
RAID0Census ArrayRAID0(PCDA cda, VK_WORD array_number) {
    RAID0Census census;
    bool seen = false;
    bool every = true;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        seen = true;
        if (IsRAID0(cda, ld)) {
            census.any = true;
        } else {
            every = false;
        }
    }
    census.all = seen && every;
    return census;
}

bool ArrayStatusAcceptsSpareEdit(VK_DWORD status) {
    return (status & kArrayStatusOK) != 0 || status == kArrayStatusHasFailedSpareDrive;
}

VK_WORD SmallestDataDrive(PCDA cda, VK_WORD array_number, VK_QWORD* usable_blocks) {
    VK_WORD smallest = kInvalidPDNumber;
    VK_QWORD smallest_blocks = 0;
    for (VK_WORD pd = VK_EnumerateArrayDataDrives(cda, array_number, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateArrayDataDrives(cda, array_number, pd)) {
        const VK_QWORD blocks = VK_GetPhysicalDriveSize(cda, pd, kPhysicalDriveSizeUsableBlocks);
        if (smallest == kInvalidPDNumber || blocks < smallest_blocks) {
            smallest = pd;
            smallest_blocks = blocks;
        }
    }
    *usable_blocks = smallest_blocks;
    return smallest;
}

VK_BYTE CanAddArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number) {
    if (LiveOFARunning(cda)) {
        return kCanAddArraySpareDriveControllerOFAActive;
    }
    if (AdapterPasswordAwaited(cda)) {
        return kCanAddArraySpareDriveWaitingOnSEDAdapterPassword;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda) || array_number >= VK_GetControllerArrayCount(cda, kArrayTypeAny)) {
        return kCanAddArraySpareDriveArrayDoesNotExist;
    }
    const VK_DWORD status = VK_GetArrayStatusInfo(cda, array_number);
    if (!ArrayStatusAcceptsSpareEdit(status)) {
        return kCanAddArraySpareDriveArrayStatusNotOK;
    }
    if (VK_GetArrayType(cda, array_number) != kArrayTypeData) {
        return kCanAddArraySpareDriveNotDataArray;
    }
    const VK_DWORD counts = VK_GetArrayPhysicalDriveCounts(cda, array_number);
    const VK_DWORD data = counts & 0xFF;
    const VK_DWORD spares = (counts >> 8) & 0xFF;
    const VK_DWORD transient = (counts >> 16) & 0xFF;
    if (data + spares + transient >= VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(cda)) {
        return kCanAddArraySpareDriveMaxPhysicalDriveCountReached;
    }
    if (spares >= VK_ControllerSupportsMaxSpareDriveCount(cda)) {
        return kCanAddArraySpareDriveMaxSpareDriveCountReached;
    }
    if (requested_spare_type > kSpareDriveTypeDedicated) {
        return kCanAddArraySpareDriveInvalidSpareType;
    }
    const VK_BYTE current_type = VK_GetArraySpareType(cda, array_number);
    if (requested_spare_type == kSpareTypeCurrent && current_type == kSpareDriveTypeDoesNotExist) {
        return kCanAddArraySpareDriveNoSpareTypeSet;
    }
    const VK_BYTE type = requested_spare_type == kSpareTypeCurrent ? current_type : requested_spare_type;
    if (type == kSpareDriveTypeAutoReplace && !VK_ControllerSupportsAutoReplaceSpares(cda)) {
        return kCanAddArraySpareDriveAutoReplaceSpareNotSupported;
    }
    if (current_type != kSpareDriveTypeDoesNotExist && current_type != type) {
        return kCanAddArraySpareDriveCannotChangeSpareType;
    }
    const VK_BYTE usage = VK_GetPhysicalDriveUsageInfo(cda, pd_number);
    if (type == kSpareDriveTypeAutoReplace && usage != kPhysicalDriveUsageUnassigned) {
        return kCanAddArraySpareDriveDriveIsNotUnassigned;
    }
    if (type == kSpareDriveTypeDedicated && usage != kPhysicalDriveUsageUnassigned &&
        usage != kPhysicalDriveUsageShareableStandbySpare) {
        return kCanAddArraySpareDriveDriveIsNotUnassignedOrShareableStandby;
    }
    const VK_DWORD pd_status = VK_GetPhysicalDriveStatusInfo(cda, pd_number);
    if (pd_status & kPhysicalDriveStatusExcludeFromConfigurationBit) {
        return kCanAddArraySpareDriveDriveIsNotConfigurable;
    }
    const bool predictive = SAMPredictive(cda);
    const RAID0Census raid0 = ArrayRAID0(cda, array_number);
    if (!predictive && raid0.all) {
        return kCanAddArraySpareDriveInvalidSAM;
    }
    if (!predictive && raid0.any && type == kSpareDriveTypeAutoReplace) {
        return kCanAddArraySpareDriveInvalidSpareTypeForRAID0;
    }
    if (predictive && (pd_status & kPhysicalDriveStatusPredictiveFailure)) {
        return kCanAddArraySpareDriveIsPredictiveFailure;
    }
    VK_QWORD smallest_blocks = 0;
    const VK_WORD smallest = SmallestDataDrive(cda, array_number, &smallest_blocks);
    if (smallest == kInvalidPDNumber) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'smallest_array_pd_number != 0xFFFF' failed: Array with no drives?\n",
                    __FILE__, __LINE__);
    } else {
        const VK_BYTE mask = __VK_PhysicalDriveCompatibility(cda, smallest, pd_number);
        if (mask == 0xFF) {
            if (VK_GetPhysicalDriveSize(cda, pd_number, kPhysicalDriveSizeUsableBlocks) < smallest_blocks) {
                return kCanAddArraySpareDriveTooSmall;
            }
            switch (__VK_ArrayCheckSEDRules(cda, _VK_GetArrayCommonSEDType(cda, array_number),
                                            VK_GetControllerSEDEncryptionStatus(cda), pd_number)) {
            case 1: return kCanAddArraySpareDriveIncompatibleSEDType;
            case 2: return kCanAddArraySpareDriveInvalidSEDStatus;
            default: break;
            }
        } else if ((mask & 0x08) && (mask & 0x10)) {
            return kCanAddArraySpareDriveCannotMixDriveTypes;
        } else if (mask & 0x08) {
            return kCanAddArraySpareDriveIncompatibleConnectors;
        } else {
            return kCanAddArraySpareDriveIncompatibleBlockSize;
        }
    }
    if (IsArraySpare(cda, array_number, pd_number)) {
        return kCanAddArraySpareDriveDriveAlreadyUsedAsSpare;
    }
    if (type == kSpareDriveTypeDedicated) {
        const bool sed_enabled = __VK_ArrayIsSEDEncryptionEnabled(cda, array_number) != kFalse;
        for (VK_WORD other = VK_EnumerateAllArrays(cda, kInvalidArrayNumber); other != kInvalidArrayNumber;
             other = VK_EnumerateAllArrays(cda, other)) {
            if (other != array_number && VK_GetArraySpareType(cda, other) == kSpareDriveTypeDedicated &&
                IsArraySpare(cda, other, pd_number) &&
                (__VK_ArrayIsSEDEncryptionEnabled(cda, other) != kFalse) != sed_enabled) {
                return kCanAddArraySpareDriveDriveInvalidSEDEncryptionState;
            }
        }
    }
    return kCanAddArraySpareDriveAllowed;
}

VK_BYTE CanRemoveArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (LiveOFARunning(cda)) {
        return kCanRemoveArraySpareDriveControllerOFAActive;
    }
    if (AdapterPasswordAwaited(cda)) {
        return kCanRemoveArraySpareDriveWaitingOnSEDAdapterPassword;
    }
    if (!ArrayStatusAcceptsSpareEdit(VK_GetArrayStatusInfo(cda, array_number))) {
        return kCanRemoveArraySpareDriveArrayArrayStatusNotOK;
    }
    if (VK_GetArrayType(cda, array_number) != kArrayTypeData) {
        return kCanRemoveArraySpareDriveNotDataArray;
    }
    if (!IsArraySpare(cda, array_number, pd_number)) {
        return kCanRemoveArraySpareDriveNotFound;
    }
    return kCanRemoveArraySpareDriveAllowed;
}

VK_BYTE CanChangeArraySpareType(PCDA cda, VK_WORD array_number, VK_BYTE spare_type) {
    if (LiveOFARunning(cda)) {
        return kCanChangeArraySpareTypeControllerOFAActive;
    }
    const VK_BYTE current_type = VK_GetArraySpareType(cda, array_number);
    if (current_type == kSpareDriveTypeDoesNotExist) {
        return kCanChangeArraySpareTypeNoSparesFound;
    }
    if (current_type == spare_type) {
        return kCanChangeArraySpareTypeSelectedTypeAlreadySet;
    }
    if (spare_type == kSpareDriveTypeAutoReplace) {
        if (!VK_ControllerSupportsAutoReplaceSpares(cda)) {
            return kCanChangeArraySpareTypeNotSupported;
        }
        if (_VK_ArrayHasSharedSpare(cda, array_number)) {
            return kCanChangeArraySpareTypeSpareIsShared;
        }
    }
    if (spare_type != kSpareDriveTypeAutoReplace && spare_type != kSpareDriveTypeDedicated) {
        return kCanChangeArraySpareTypeInvalid;
    }
    if (spare_type == kSpareDriveTypeAutoReplace && !SAMPredictive(cda) && ArrayRAID0(cda, array_number).any) {
        return kCanChangeArraySpareTypeInvalidForRAID0;
    }
    if (VK_GetArrayStatusInfo(cda, array_number) != kArrayStatusOK) {
        return kCanChangeArraySpareTypeArrayStatusNotOK;
    }
    return kCanChangeArraySpareTypeAllowed;
}

enum class SpareEdit { kAdd, kRemove, kType };

// Rewrites every logical drive of the array (RAID 0 drives only when `include_raid0`): 1 all sent,
// 2 the first drive tried failed (the walk stops), 3 a failure after a success (the walk goes on).
VK_BYTE RewriteArraySpares(PCDA cda, VK_WORD array_number, SpareEdit edit, VK_WORD pd_number, bool auto_replace,
                           bool include_raid0, bool* changed) {
    VK_BYTE result = 1;
    *changed = false;
    const VK_WORD max_devices =
        VK_RequestIdentifyControllerBuffer(cda) ? _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported : 0;
    const telmar::FailedDriveTest failed = [cda, max_devices](VK_WORD pd) {
        return pd < max_devices && PHYSICAL_DRIVE_STATUS_LEVEL(VK_GetPhysicalDriveStatusInfo(cda, pd)) ==
                                       kPhysicalDriveStatusLevelFailed;
    };
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        if (!include_raid0 && IsRAID0(cda, ld)) {
            continue;
        }
        bool sent = false;
        LOGICAL_DRIVE_CONFIG* buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld);
        if (buffer == nullptr) {
            PN_DebugLog(1, 0,
                        edit == SpareEdit::kRemove
                            ? "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get ld config buffer\n\n"
                            : "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get set config buffer to "
                              "add spare\n",
                        __FILE__, __LINE__);
        } else if (edit != SpareEdit::kType &&
                   !telmar::EditSpareMaps(*buffer, _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse, ld,
                                          pd_number, edit == SpareEdit::kAdd, failed)) {
            VK_free(buffer);
        } else {
            if (edit != SpareEdit::kRemove) {
                if (auto_replace) {
                    buffer->bMoreUnitFlags |= kMoreUnitFlagsAutoReplace;
                } else {
                    buffer->bMoreUnitFlags &= static_cast<VK_BYTE>(~kMoreUnitFlagsAutoReplace);
                }
            }
            sent = VK_SetConfiguration(cda, ld, buffer) != kFalse;
        }
        if (edit == SpareEdit::kType) {
            _VK_CDA(cda)->ld_record_list[ld].flags &= ~kLDRecordConfigValid;
        }
        if (sent) {
            *changed = true;
        } else if (!*changed) {
            return 2;
        } else {
            result = 3;
        }
    }
    return result;
}

} // namespace

VK_BOOL _VK_UnsetFailedPhysicalDrivesInMap(PCDA cda, VK_BYTE* pd_map, size_t bytes_in_map) {
    if (cda == nullptr || pd_map == nullptr || !VK_RequestIdentifyControllerBuffer(cda)) {
        return kFalse;
    }
    const VK_WORD max_devices = _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported;
    return telmar::ClearFailedDrivesInMap(pd_map, bytes_in_map, [cda, max_devices](VK_WORD pd) {
               return pd < max_devices && PHYSICAL_DRIVE_STATUS_LEVEL(VK_GetPhysicalDriveStatusInfo(cda, pd)) ==
                                              kPhysicalDriveStatusLevelFailed;
           })
               ? kTrue
               : kFalse;
}

VK_BOOL _VK_ArrayHasSharedSpare(PCDA cda, VK_WORD array_number) {
    const ArrayRecord* array = LiveArray(cda, array_number);
    if (array == nullptr) {
        return kFalse;
    }
    for (VK_WORD other = VK_EnumerateAllArrays(cda, kInvalidArrayNumber); other != kInvalidArrayNumber;
         other = VK_EnumerateAllArrays(cda, other)) {
        const ArrayRecord* other_array = LiveArray(cda, other);
        if (other == array_number || other_array == nullptr) {
            continue;
        }
        for (size_t byte = 0; byte < kDriveBitmapSize; ++byte) {
            if (array->spare_drive_bitmap[byte] & other_array->spare_drive_bitmap[byte]) {
                return kTrue;
            }
        }
    }
    return kFalse;
}

VK_BOOL __VK_ArrayIsSEDEncryptionEnabled(PCDA cda, VK_WORD array_number) {
    const VK_WORD first = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
    return first != kInvalidLDNumber && (VK_GetLogicalDriveEncryptionInfo(cda, first) & kLDEncryptionSEDEnabled) ? kTrue
                                                                                                                 : kFalse;
}

VK_BYTE VK_CanAddArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number) {
    return UnderLock(cda, kCanAddArraySpareDriveArrayDoesNotExist, CanAddArraySpareDrive, array_number,
                     requested_spare_type, pd_number);
}

VK_BYTE VK_AddArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kAddArraySpareDriveFailedNoChanges;
    }
    CDALock guard(cda);
    if (CanAddArraySpareDrive(cda, array_number, requested_spare_type, pd_number) != kCanAddArraySpareDriveAllowed) {
        return kAddArraySpareDriveFailedNoChanges;
    }
    const VK_BYTE type =
        requested_spare_type == kSpareTypeCurrent ? VK_GetArraySpareType(cda, array_number) : requested_spare_type;
    bool changed = false;
    const VK_BYTE result = RewriteArraySpares(cda, array_number, SpareEdit::kAdd, pd_number,
                                              type == kSpareDriveTypeAutoReplace, SAMPredictive(cda), &changed);
    if (changed) {
        _VK_ClearBootVolume(cda, kBootableVolumeDriveTypePhysical, pd_number);
        VK_ReInitializeCDA(cda);
    }
    return result;
}

VK_BYTE VK_CanRemoveArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return UnderLock(cda, kCanRemoveArraySpareDriveArrayArrayStatusNotOK, CanRemoveArraySpareDrive,
                     array_number, pd_number);
}

VK_BYTE VK_RemoveArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kRemoveArraySpareDriveFailedNoChanges;
    }
    CDALock guard(cda);
    if (CanRemoveArraySpareDrive(cda, array_number, pd_number) != kCanRemoveArraySpareDriveAllowed) {
        return kRemoveArraySpareDriveFailedNoChanges;
    }
    bool changed = false;
    const VK_BYTE result = RewriteArraySpares(cda, array_number, SpareEdit::kRemove, pd_number, false, true, &changed);
    if (changed) {
        VK_ReInitializeCDA(cda);
    }
    return result;
}

VK_BYTE VK_CanChangeArraySpareType(PCDA cda, VK_WORD array_number, VK_BYTE spare_type) {
    return UnderLock(cda, kCanChangeArraySpareTypeNoSparesFound, CanChangeArraySpareType, array_number,
                     spare_type);
}

VK_BYTE VK_ChangeArraySpareType(PCDA cda, VK_WORD array_number, VK_BYTE spare_type) {
    if (cda == nullptr) {
        return kChangeArraySpareTypeFailedNoChanges;
    }
    CDALock guard(cda);
    if (CanChangeArraySpareType(cda, array_number, spare_type) != kCanChangeArraySpareTypeAllowed) {
        return kChangeArraySpareTypeFailedNoChanges;
    }
    // The spares are read before the rewrite: afterwards the model no longer lists them as current.
    VK_WORD spares[kMaxPhysicalDrivesSupported];
    size_t spare_count = 0;
    for (VK_WORD pd = VK_EnumerateArraySpareDrives(cda, array_number, kInvalidPDNumber);
         pd != kInvalidPDNumber && spare_count < kMaxPhysicalDrivesSupported;
         pd = VK_EnumerateArraySpareDrives(cda, array_number, pd)) {
        spares[spare_count++] = pd;
    }
    bool changed = false;
    const VK_BYTE result = RewriteArraySpares(cda, array_number, SpareEdit::kType, kInvalidPDNumber,
                                              spare_type == kSpareDriveTypeAutoReplace, true, &changed);
    if (changed) {
        _CDA* c = _VK_CDA(cda);
        c->flags[kCDAFlagsModel] &= ~kCDAModelArraysBuilt;
        for (size_t i = 0; i < spare_count; ++i) {
            c->pd_record_list[spares[i]].flags &= static_cast<VK_WORD>(~(kPDRecordIdentifyValid | kPDRecordUsageAssigned));
        }
    }
    return result;
}

// ---- Closing the gaps of a live array ----
//
// The logical drives of an array are moved down on its drives, in offset order, until they sit back
// to back at aligned offsets; each move is a transformation (BMIC 0x54) the controller carries out.

namespace {

constexpr VK_DWORD kArrayStatusHasActiveLogicalDrive =
    kArrayStatusHasInitializingLogicalDrive | kArrayStatusHasRecoveringLogicalDrive |
    kArrayStatusHasTransformingLogicalDrive | kArrayStatusHasRekeyingLogicalDrive |
    kArrayStatusHasQueuedLogicalDriveTransformation;
constexpr VK_BYTE kArrayRecordTypeData = 1;

VK_WORD NextByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    return _VK_EnumerateArrayLogicalDrivesByOffset(cda, array_number, ld_number, kTrue);
}

// The first drive, by rising offset, that is not where a packed layout would put it; 0xFFFF for none.
VK_WORD FirstDriveToMove(PCDA cda, VK_WORD array_number) {
    VK_QWORD expected = 0;
    for (VK_WORD ld = NextByOffset(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = NextByOffset(cda, array_number, ld)) {
        const LogicalDriveRecord& record = _VK_CDA(cda)->ld_record_list[ld];
        if (record.physical_drive_offset_block != expected) {
            return ld;
        }
        expected = VK_GetNextLogicalDriveAlignedOffset(cda, array_number,
                                                       expected + record.physical_drive_blocks_per_drive);
    }
    return kInvalidLDNumber;
}

VK_BYTE CanCloseArrayGaps(PCDA cda, VK_WORD array_number) {
    if (LiveOFARunning(cda)) {
        return kCanCloseArrayGapsControllerOFAActive;
    }
    const ArrayRecord* array = LiveArray(cda, array_number);
    if (array == nullptr) {
        return kCanCloseArrayGapsInvalidArray;
    }
    if (AdapterPasswordAwaited(cda)) {
        return kCanCloseArrayGapsWaitingOnSEDAdapterPassword;
    }
    if (!(VK_ControllerSupportsTransformations(cda) & kControllerSupportsLogicalDriveMove)) {
        return kCanCloseArrayGapsNotSupported;
    }
    if (VK_IsControllerLUCacheEnabled(cda)) {
        return kCanCloseArrayGapsLUCachingEnabled;
    }
    if ((array->flags & kArrayRecordTypeMask) != kArrayRecordTypeData) {
        return kCanCloseArrayGapsNotDataArray;
    }
    const VK_DWORD status = VK_GetArrayStatusInfo(cda, array_number);
    if (status == kArrayStatusHasGaps) {
        const VK_DWORD controller_status = VK_GetControllerStatusInfo(cda);
        if ((controller_status & kControllerStatusMask) != kControllerStatusOK) {
            return kCanCloseArrayGapsControllerStatusNotOK;
        }
        const VK_DWORD cache_status = (controller_status & kControllerCacheStatusMask) >> kControllerCacheStatusShift;
        if (cache_status == kControllerCacheStatusTemporarilyDisabled ||
            cache_status == kControllerCacheStatusPermanentlyDisabled) {
            return kCanCloseArrayGapsControllerCacheStatusNotOK;
        }
        const VK_WORD first = FirstDriveToMove(cda, array_number);
        if (first == kInvalidLDNumber) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'first_impacted_ld_number != 0xFFFF' failed: Failed to determine which ld "
                        "is the start of a gap\n",
                        __FILE__, __LINE__);
            return kCanCloseArrayGapsArrayDoesNotHaveGaps;
        }
        for (VK_WORD ld = first; ld != kInvalidLDNumber; ld = NextByOffset(cda, array_number, ld)) {
            switch (_VK_IsLogicalDriveTransformable(cda, ld)) {
            case 1: continue;
            case 2:
            case 5: return kCanCloseArrayGapsExceedsTransformationMemory;
            case 4: return kCanCloseArrayGapsDataPreservationNotAvailable;
            default: return kCanCloseArrayGapsArrayStatusNotOK;
            }
        }
        return kCanCloseArrayGapsAllowed;
    }
    if (status == kArrayStatusOK) {
        return kCanCloseArrayGapsArrayDoesNotHaveGaps;
    }
    if (status & kArrayStatusHasActiveLogicalDrive) {
        return kCanCloseArrayGapsArrayHasTransformingLogicalDrive;
    }
    return kCanCloseArrayGapsArrayStatusNotOK;
}

} // namespace

VK_BYTE VK_CanCloseArrayGaps(PCDA cda, VK_WORD array_number) {
    return UnderLock(cda, kCanCloseArrayGapsInvalidArray, CanCloseArrayGaps, array_number);
}

VK_BYTE VK_CloseArrayGaps(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kCloseArrayGapsFailedNoChanges;
    }
    CDALock guard(cda);
    if (CanCloseArrayGaps(cda, array_number) != kCanCloseArrayGapsAllowed) {
        return kCloseArrayGapsFailedNoChanges;
    }
    VK_BYTE result = kCloseArrayGapsSuccessButIncomplete;
    size_t changes = 0;
    VK_QWORD packed = 0;
    for (VK_WORD ld = NextByOffset(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = NextByOffset(cda, array_number, ld)) {
        const LogicalDriveRecord& record = _VK_CDA(cda)->ld_record_list[ld];
        bool ok = true;
        if (record.physical_drive_offset_block != packed) {
            LOGICAL_DRIVE_CONFIG* buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld);
            if (buffer == nullptr) {
                PN_DebugLog(1, 0, "%s:%d: Set config for ld %u failed\n", __FILE__, __LINE__, ld);
                ok = false;
            } else {
                buffer->data_offset = packed > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<VK_DWORD>(packed);
                buffer->qwExtendedOffsetToData = packed;
                ok = VK_ChangeConfiguration(cda, ld, buffer) != kFalse;
                if (!ok) {
                    PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to reposition ld %u of array %u\n",
                                __FILE__, __LINE__, ld, array_number);
                }
            }
        }
        if (!ok) {
            result = changes == 0 ? kCloseArrayGapsFailedNoChanges : kCloseArrayGapsFailedWithChanges;
            break;
        }
        ++changes;
        packed = VK_GetNextLogicalDriveAlignedOffset(cda, array_number, packed + record.physical_drive_blocks_per_drive);
    }
    if (changes != 0) {
        VK_ReInitializeCDA(cda);
    }
    return result;
}

// ---- Spare maps of a configuration copy ----

namespace telmar {

bool ClearFailedDrivesInMap(VK_BYTE* map, size_t map_bytes, const FailedDriveTest& failed) {
    bool changed = false;
    for (size_t byte = 0; byte < map_bytes; ++byte) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            const size_t pd = byte * 8 + bit;
            const VK_BYTE mask = static_cast<VK_BYTE>(1u << bit);
            if ((map[byte] & mask) && pd <= 0xFFFF && failed(static_cast<VK_WORD>(pd))) {
                map[byte] &= static_cast<VK_BYTE>(~mask);
                changed = true;
            }
        }
    }
    return changed;
}

bool EditSpareMaps(LOGICAL_DRIVE_CONFIG& config, bool extended_maps, VK_WORD ld_number, VK_WORD pd_number, bool set,
                   const FailedDriveTest& failed) {
    constexpr size_t kBigMapDrives = 8 * sizeof(config.pbBigSpareAssignmentMap);
    config.dwSpareAssignmentMap = 0;
    VK_BYTE* map = nullptr;
    if (extended_maps) {
        const size_t offset = config.wOffsetToExtendedSpareAssignmentMap;
        const VK_WORD max_devices = config.wMaximumPhysicalDevicesSupported;
        if (offset == 0 || max_devices == 0) {
            PN_DebugLog(1, 0, "%s:%d: Ctrl missing extended spare assignment map (off:%u) for ld %u supporting %u drives\n",
                        __FILE__, __LINE__, static_cast<unsigned>(offset), ld_number, max_devices);
            return false;
        }
        const size_t map_bytes = (static_cast<size_t>(max_devices) + 7) / 8;
        // The offset comes from the controller: a map that would reach past the copy, or into its
        // fixed fields (this edit writes some of them itself), is not written.
        if (offset < offsetof(LOGICAL_DRIVE_CONFIG, reserved300) || offset > sizeof(config) ||
            map_bytes > sizeof(config) - offset) {
            PN_DebugLog(1, 0, "%s:%d: Extended spare assignment map (off:%u, %zu bytes) outside the config of ld %u\n",
                        __FILE__, __LINE__, static_cast<unsigned>(offset), map_bytes, ld_number);
            return false;
        }
        map = reinterpret_cast<VK_BYTE*>(&config) + offset;
        ClearFailedDrivesInMap(map, map_bytes, failed);
        std::memset(config.pbBigSpareAssignmentMap, 0, sizeof(config.pbBigSpareAssignmentMap));
        std::memset(config.pbBigDriveAssignmentMap, 0, sizeof(config.pbBigDriveAssignmentMap));
        if (pd_number >= max_devices) {
            PN_DebugLog(1, 0, "%s:%d: Invalid pd number %u for extended spare assignment map for ld %u\n", __FILE__,
                        __LINE__, pd_number, ld_number);
            return false;
        }
    } else {
        if (pd_number >= kBigMapDrives) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'pd_number < 8 * sizeof(ld_buffer->pbBigSpareAssignmentMap)' failed: "
                        "Invalid pd number for big spare assignment map\n",
                        __FILE__, __LINE__);
            return false;
        }
        map = config.pbBigSpareAssignmentMap;
        ClearFailedDrivesInMap(map, sizeof(config.pbBigSpareAssignmentMap), failed);
        config.wOffsetToExtendedSpareAssignmentMap = 0;
        config.wOffsetToExtendedDriveAssignmentMap = 0;
    }
    const VK_BYTE bit = static_cast<VK_BYTE>(1u << (pd_number % 8));
    if (set) {
        map[pd_number / 8] |= bit;
    } else {
        map[pd_number / 8] &= static_cast<VK_BYTE>(~bit);
    }
    return true;
}

} // namespace telmar

// ---- Staged spares and array deletion ----

namespace {

constexpr VK_QWORD kStagedSEDEncryptionEnabled = 0x20;
constexpr VK_QWORD kStagedSEDAwaitingAdapterPassword = 0x40;
constexpr VK_QWORD kStagedSEDAwaitingMasterKey = 0x100;
constexpr VK_BYTE kSEDTypesEncrypting = 0x6; // OPAL or Enterprise
constexpr VK_WORD kLUCacheActualPolicyShift = 3;

VK_BYTE StagedUsage(PCDA cda, VK_WORD pd_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr && pd_number < _VK_GetEditablePhysicalDriveLimit(cda)
               ? config->editable_pd_list[pd_number].config_usage_info
               : 0;
}

void SetStagedUsage(PCDA cda, VK_WORD pd_number, VK_BYTE usage) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config != nullptr && pd_number < kMaxPhysicalDrivesSupported) {
        config->editable_pd_list[pd_number].config_usage_info = usage;
    }
}

bool IsSpareOf(const EDITABLE_ARRAY& array, VK_WORD pd_number) {
    return _VK_InDeviceList(array.spare_drives, pd_number, std::min<size_t>(array.spare_drive_count, kArrayDriveCapacity)) !=
           static_cast<size_t>(-1);
}

// Another staged array still lists the drive as its spare, so it stays a shared spare.
bool SpareOfAnotherArray(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
        const PEDITABLE_ARRAY other = _VK_GetEditableArray(cda, a);
        if (a != array_number && other != nullptr && IsSpareOf(*other, pd_number)) {
            return true;
        }
    }
    return false;
}

template <typename Each>
void ForEachArrayLogicalDrive(PCDA cda, const EDITABLE_ARRAY& array, Each each) {
    for (size_t i = 0; i < std::min<size_t>(array.logical_drive_count, kArrayLogicalDriveCapacity); ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array.logical_drives[i]);
        if (ld != nullptr) {
            each(*ld);
        }
    }
}

void MarkSparesChanged(PCDA cda, const EDITABLE_ARRAY& array) {
    ForEachArrayLogicalDrive(cda, array, [](EDITABLE_LOGICAL_DRIVE& ld) { ld.flags |= kEditableLDSparesChanged; });
}

bool StagedArrayAcceptsSpareEdit(PCDA cda, VK_WORD array_number) {
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, array_number);
    return status == kArrayStatusOK || status == kArrayStatusHasFailedSpareDrive;
}

VK_BYTE CanAddEditableArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    VK_BYTE reason = kCanAddEditableArraySpareDriveOK;
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        reason = kCanAddEditableArraySpareDriveControllerStatusNotOK;
    } else if (array == nullptr || array->data_drive_count == 0) {
        // No staged array in the slot: it has no data drives to protect.
        reason = kCanAddEditableArraySpareDriveArrayHasNoDataDrives;
    } else if (!StagedArrayAcceptsSpareEdit(cda, array_number)) {
        reason = kCanAddEditableArraySpareDriveArrayStatusNotOK;
    } else if (!VK_RequestIdentifyControllerBuffer(cda) ||
               array->spare_drive_count >= _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDrivesPerLogicalUnit ||
               array->spare_drive_count >= kArrayDriveCapacity) {
        // The staged list holds 128 spares, whatever the controller allows.
        reason = kCanAddEditableArraySpareDriveMaxSpareDriveCountReached;
    } else if (array->flags & (kEditableArrSplitMirror | kEditableArrLUCache)) {
        reason = kCanAddEditableArraySpareDriveNotDataArray;
    }
    if (array != nullptr) {
        for (size_t i = 0; i < std::min<size_t>(array->spare_drive_count, kArrayDriveCapacity); ++i) {
            if (PHYSICAL_DRIVE_STATUS_LEVEL(VK_GetPhysicalDriveStatusInfo(cda, array->spare_drives[i])) ==
                kPhysicalDriveStatusLevelFailed) {
                reason = kCanAddEditableArraySpareDriveArrayHasFailedSpareDrive;
            }
        }
    }
    if (reason != kCanAddEditableArraySpareDriveOK) {
        return reason;
    }
    const VK_BYTE current = VK_GetEditableArraySpareType(cda, array_number);
    const VK_BYTE type = requested_spare_type == kSpareTypeCurrent ? current : requested_spare_type;
    if (type > kSpareDriveTypeDedicated) {
        return kCanAddEditableArraySpareDriveInvalidSpareType;
    }
    if (type == kSpareTypeCurrent) {
        return kCanAddEditableArraySpareDriveNoSpareTypeSet;
    }
    if (current != kSpareDriveTypeDoesNotExist && current != type) {
        return kCanAddEditableArraySpareDriveCannotChangeSpareType;
    }
    const bool auto_replace = type == kSpareDriveTypeAutoReplace;
    if (auto_replace && !VK_ControllerSupportsAutoReplaceSpares(cda)) {
        return kCanAddEditableArraySpareDriveAutoReplaceSpareNotSupported;
    }
    const bool predictive = VK_GetEditableControllerSAM(cda) == kControllerSAMTypePredictive;
    const VK_DWORD pd_status = VK_GetPhysicalDriveStatusInfo(cda, pd_number);
    if (predictive && (pd_status & kPhysicalDriveStatusPredictiveFailure)) {
        return kCanAddEditableArraySpareDriveIsPredictiveFailure;
    }
    if (pd_status & kPhysicalDriveStatusExcludeFromConfigurationBit) {
        return kCanAddEditableArraySpareDriveDriveIsNotConfigurable;
    }
    const VK_BYTE usage = StagedUsage(cda, pd_number);
    if (auto_replace && usage != kPhysicalDriveUsageUnassigned) {
        return kCanAddEditableArraySpareDriveDriveIsNotUnassigned;
    }
    if (!auto_replace && usage != kPhysicalDriveUsageUnassigned && usage != kPhysicalDriveUsageShareableStandbySpare) {
        return kCanAddEditableArraySpareDriveDriveIsNotUnassignedOrShareableStandby;
    }
    if (!predictive) {
        bool seen = false;
        bool any_raid0 = false;
        bool all_raid0 = true;
        ForEachArrayLogicalDrive(cda, *array, [&](const EDITABLE_LOGICAL_DRIVE& ld) {
            seen = true;
            any_raid0 = any_raid0 || ld.RAID_level == kRAID0;
            all_raid0 = all_raid0 && ld.RAID_level == kRAID0;
        });
        if (seen && all_raid0) {
            return kCanAddEditableArraySpareDriveInvalidSAM;
        }
        if (any_raid0 && auto_replace) {
            return kCanAddEditableArraySpareDriveInvalidSpareTypeForRAID0;
        }
    }
    switch (telmar::ReadCompatMask(__VK_EditableArrayPhysicalDriveCompatibility(cda, array_number, pd_number))) {
    case telmar::CompatMismatch::kBlockSize: return kCanAddEditableArraySpareDriveIncompatibleBlockSize;
    case telmar::CompatMismatch::kMixedDriveTypes: return kCanAddEditableArraySpareDriveCannotMixDriveTypes;
    case telmar::CompatMismatch::kConnectors: return kCanAddEditableArraySpareDriveIncompatibleConnectors;
    case telmar::CompatMismatch::kNone: break;
    }
    const VK_QWORD sed_status = config->controller_sed_encryption_status;
    switch (__VK_ArrayCheckSEDRules(cda, array->common_sed_type, sed_status, pd_number)) {
    case 1: return kCanAddEditableArraySpareDriveIncompatibleSEDType;
    case 2: return kCanAddEditableArraySpareDriveInvalidSEDStatus;
    default: break;
    }
    if (VK_GetPhysicalDriveSize(cda, pd_number, kPhysicalDriveSizeUsableBlocks) < array->common_drive_size_blocks) {
        return kCanAddEditableArraySpareDriveTooSmall;
    }
    if ((sed_status & kStagedSEDEncryptionEnabled) && (array->common_sed_type & kSEDTypesEncrypting)) {
        if (sed_status & kStagedSEDAwaitingAdapterPassword) {
            return kCanAddEditableArraySpareDriveWaitingOnAdapterPassword;
        }
        if (sed_status & kStagedSEDAwaitingMasterKey) {
            return kCanAddEditableArraySpareDriveWaitingOnMasterKey;
        }
    }
    if (IsSpareOf(*array, pd_number)) {
        return kCanAddEditableArraySpareDriveDriveAlreadyUsedAsSpare;
    }
    if (!auto_replace) {
        for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
            const PEDITABLE_ARRAY other = _VK_GetEditableArray(cda, a);
            if (a != array_number && other != nullptr && IsSpareOf(*other, pd_number) &&
                VK_GetEditableArraySpareType(cda, a) == kSpareDriveTypeDedicated &&
                ((other->flags ^ array->flags) & kEditableArrSEDEncryption)) {
                return kCanAddEditableArraySpareDriveInvalidSEDEncryptionState;
            }
        }
    }
    return kCanAddEditableArraySpareDriveOK;
}

VK_BYTE CanRemoveEditableArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanRemoveEditableArraySpareDriveControllerStatusNotOK;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        // No staged array in the slot has the drive as its spare.
        return kCanRemoveEditableArraySpareDriveNotFound;
    }
    if (!StagedArrayAcceptsSpareEdit(cda, array_number)) {
        return kCanRemoveEditableArraySpareDriveArrayArrayStatusNotOK;
    }
    if (array->flags & (kEditableArrSplitMirror | kEditableArrLUCache)) {
        return kCanRemoveEditableArraySpareDriveNotDataArray;
    }
    return IsSpareOf(*array, pd_number) ? kCanRemoveEditableArraySpareDriveOK : kCanRemoveEditableArraySpareDriveNotFound;
}

VK_BYTE CanDeleteEditableArray(PCDA cda, VK_WORD array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kCanDeleteEditableArrayInvalidArray;
    }
    VK_BYTE reason = kCanDeleteEditableArrayOK;
    ForEachArrayLogicalDrive(cda, *array, [&](const EDITABLE_LOGICAL_DRIVE& ld) {
        if (reason != kCanDeleteEditableArrayOK) {
            return;
        }
        if (ld.flags & kEditableLDNewDrive) {
            reason = kCanDeleteEditableArrayContainsUnsavedLogicalDrives;
            return;
        }
        if (!(ld.flags & kEditableLDLUCache) || _VK_GetEditableLogicalDrive(cda, ld.lu_cache_ld_number) == nullptr) {
            return;
        }
        const VK_BYTE state = LU_CACHE_STATE(VK_GetLogicalDriveLUCacheStatusInfo(cda, ld.ld_number));
        if (state & (kLUCacheStatePowerupFail | kLUCacheStateCacheLUNOffline)) {
            return;
        }
        if (((VK_GetLogicalDriveLUCacheInfo(cda, ld.ld_number) >> kLUCacheActualPolicyShift) & 0x3) ==
            kLUCacheWritePolicyWriteBack) {
            reason = kCanDeleteEditableArrayContainsWriteBackLUCache;
        } else if (state & kLUCacheStateFlushing) {
            reason = kCanDeleteEditableArrayContainsFlushingLUCache;
        }
    });
    if (!(array->flags & (kEditableArrNew | kEditableArrLUCache | kEditableArrSEDEncryption)) &&
        _VK_EditableArrayHasLockedSEDPhysicalDrive(cda, array_number)) {
        reason = kCanDeleteEditableArrayContainsLockedSED;
    }
    return reason;
}

// Unpairs and frees one logical drive of an array that goes.
void DropArrayLogicalDrive(PCDA cda, PEDITABLE_CONFIGURATION config, VK_WORD ld_number) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (ld == nullptr) {
        return;
    }
    if (!(ld->flags & kEditableLDNewDrive) && config->deleted_ld_count < std::size(config->deleted_logical_drives)) {
        config->deleted_logical_drives[config->deleted_ld_count++] = ld_number;
    }
    if (ld->flags & kEditableLDLUCache) {
        if (const PEDITABLE_LOGICAL_DRIVE data = _VK_GetEditableLogicalDrive(cda, ld->lu_cache_ld_number)) {
            data->lu_cache_ld_number = kInvalidLDNumber;
            data->lu_cache_policy = 0;
        } else {
            PN_DebugLog(1, 0, "%s:%d: Failed to find data ld %u of lu cache ld %u\n", __func__, __LINE__,
                        ld->lu_cache_ld_number, ld_number);
        }
    } else if (ld->lu_cache_ld_number != kInvalidLDNumber) {
        if (const PEDITABLE_LOGICAL_DRIVE cache = _VK_GetEditableLogicalDrive(cda, ld->lu_cache_ld_number)) {
            cache->lu_cache_ld_number = kInvalidLDNumber;
            cache->flags |= kEditableLDLUCacheChanged;
        } else {
            PN_DebugLog(1, 0, "%s:%d: Failed to find cache ld %u of lu data ld %u\n", __func__, __LINE__,
                        ld->lu_cache_ld_number, ld_number);
        }
    }
    config->editable_ld_list[ld_number] = nullptr;
    VK_free(ld);
    --config->editable_ld_count;
}

} // namespace

VK_BYTE VK_CanAddEditableArraySpareDrive(PCDA cda, VK_WORD editable_array_number, VK_BYTE requested_spare_type,
                                         VK_WORD pd_number) {
    return StagedAnswer(cda, kCanAddEditableArraySpareDriveNoEditableConfigCreated,
                        CanAddEditableArraySpareDrive, editable_array_number, requested_spare_type,
                        pd_number);
}

VK_BYTE VK_AddEditableArraySpareDrive(PCDA cda, VK_WORD editable_array_number, VK_BYTE spare_type,
                                      VK_WORD pd_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanAddEditableArraySpareDriveOK,
                     VK_CanAddEditableArraySpareDrive, editable_array_number, spare_type, pd_number)) {
        return kAddEditableSpareDriveFailedUnknown;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const VK_BYTE type = spare_type == kSpareTypeCurrent ? VK_GetEditableArraySpareType(cda, editable_array_number)
                                                         : spare_type;
    SetStagedUsage(cda, pd_number,
                   type == kSpareDriveTypeAutoReplace ? kPhysicalDriveUsageAutoReplaceStandbySpare
                                                      : kPhysicalDriveUsageShareableStandbySpare);
    array->spare_drives[array->spare_drive_count++] = pd_number;
    array->common_sed_type =
        static_cast<VK_BYTE>(array->common_sed_type |
                             _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, pd_number)));
    MarkSparesChanged(cda, *array);
    _VK_RefreshEditableControllerBootVolumes(cda);
    return kAddEditableSpareDriveOK;
}

VK_BYTE VK_CanRemoveEditableArraySpareDrive(PCDA cda, VK_WORD editable_array_number, VK_WORD pd_number) {
    return StagedAnswer(cda, kCanRemoveEditableArraySpareDriveNoEditableConfigCreated,
                        CanRemoveEditableArraySpareDrive, editable_array_number, pd_number);
}

VK_BYTE VK_RemoveEditableArraySpareDrive(PCDA cda, VK_WORD editable_array_number, VK_WORD pd_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanRemoveEditableArraySpareDriveOK,
                     VK_CanRemoveEditableArraySpareDrive, editable_array_number, pd_number)) {
        return kRemoveEditableArraySpareDriveFailedUnknown;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const size_t count = std::min<size_t>(array->spare_drive_count, kArrayDriveCapacity);
    const size_t at = _VK_InDeviceList(array->spare_drives, pd_number, count);
    std::copy(array->spare_drives + at + 1, array->spare_drives + count, array->spare_drives + at);
    array->spare_drive_count = static_cast<VK_WORD>(count - 1);
    array->common_sed_type = _VK_GetEditableArrayCommonSEDType(cda, editable_array_number);
    // A dedicated spare another array still lists stays a shared spare.
    if (!SpareOfAnotherArray(cda, editable_array_number, pd_number)) {
        SetStagedUsage(cda, pd_number, kPhysicalDriveUsageUnassigned);
    }
    MarkSparesChanged(cda, *array);
    return kRemoveEditableArraySpareDriveOK;
}

VK_BYTE VK_CanDeleteEditableArray(PCDA cda, VK_WORD editable_array_number) {
    return StagedAnswer(cda, kCanDeleteEditableArrayNoEditableConfigCreated, CanDeleteEditableArray,
                        editable_array_number);
}

VK_BYTE VK_DeleteEditableArray(PCDA cda, VK_WORD editable_array_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanDeleteEditableArrayOK,
                     VK_CanDeleteEditableArray, editable_array_number)) {
        return kDeleteEditableArrayFailedUnknown;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = config->editable_array_list[editable_array_number];
    for (size_t i = std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity); i-- > 0;) {
        DropArrayLogicalDrive(cda, config, array->logical_drives[i]);
        --array->logical_drive_count;
    }
    const auto release = [&](const VK_WORD* list, VK_WORD count, bool spares) {
        for (size_t i = 0; i < std::min<size_t>(count, kArrayDriveCapacity); ++i) {
            // A dedicated spare another array still lists stays a shared spare.
            if (!spares || !SpareOfAnotherArray(cda, editable_array_number, list[i])) {
                SetStagedUsage(cda, list[i], kPhysicalDriveUsageUnassigned);
            }
        }
    };
    release(array->data_drives, array->data_drive_count, false);
    release(array->spare_drives, array->spare_drive_count, true);
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const PEDITABLE_LOGICAL_DRIVE ld = config->editable_ld_list[n];
        if (ld != nullptr && (ld->flags & kEditableLDArraySet) && ld->editable_array_number != kInvalidArrayNumber &&
            ld->editable_array_number > editable_array_number) {
            --ld->editable_array_number;
        }
    }
    VK_free(array);
    // The arrays behind move down a slot but still stand for their own live arrays.
    VK_BYTE* shift = _VK_CDA(cda)->editable_array_slot_shift;
    for (VK_WORD a = editable_array_number; a + 1 < kMaxArraysSupported; ++a) {
        config->editable_array_list[a] = config->editable_array_list[a + 1];
        shift[a] = static_cast<VK_BYTE>(shift[a + 1] + 1);
        if (config->editable_array_list[a] != nullptr) {
            config->editable_array_list[a]->editable_array_number = a;
        }
    }
    config->editable_array_list[kMaxArraysSupported - 1] = nullptr;
    shift[kMaxArraysSupported - 1] = 0;
    --config->editable_array_count;
    // Boot volumes that named a logical drive of the array no longer do.
    _VK_RefreshEditableControllerBootVolumes(cda);
    return kDeleteEditableArrayOK;
}

// ---- Swapping a data drive of a staged array ----

namespace {

bool QueuedTransformationsOnly(PCDA cda, VK_WORD array_number, VK_DWORD status) {
    return status == kArrayStatusOK ||
           (status == kArrayStatusHasQueuedLogicalDriveTransformation &&
            !(_VK_GetEditableArrayQueuedTransformations(cda, array_number) &
              (kEditableLDArrayMove | kEditableLDTransformEncode)));
}

bool InStagedDriveList(PCDA cda, VK_WORD pd_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr && pd_number < _VK_GetEditablePhysicalDriveLimit(cda) &&
           config->editable_pd_list[pd_number].usable_size_blocks != 0;
}

// Where a drive leaving an array goes: unassigned when it was not in use on the controller (it was
// staged into the array), else transient data until the commit.
VK_BYTE UsageAfterLeaving(PCDA cda, VK_WORD pd_number) {
    return pd_number < kMaxPhysicalDrivesSupported &&
                   _VK_CDA(cda)->pd_record_list[pd_number].pd_config_information.config_usage_info ==
                       kPhysicalDriveUsageUnassigned
               ? kPhysicalDriveUsageUnassigned
               : kPhysicalDriveUsageTransientData;
}

VK_BYTE CanSwapEditableArrayDataDrive(PCDA cda, VK_WORD array_number, VK_WORD array_pd_number, VK_WORD new_pd_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kCanSwapEditableArrayDataDriveArrayNotFound;
    }
    if (_VK_EditableArrayDataDriveAt(cda, array_number, array_pd_number) == static_cast<size_t>(-1)) {
        return kCanSwapEditableArrayDataDriveNotPartOfArray;
    }
    VK_QWORD spare_blocks = 0;
    if (_VK_GetEditableArraySmallestSpareDrive(cda, array_number, &spare_blocks) != kInvalidPDNumber) {
        VK_QWORD data_blocks = 0;
        __VK_GetEditableArrayNewCommonDriveSize(cda, array_number, &array_pd_number, 1, &new_pd_number, 1,
                                                &data_blocks);
        if (spare_blocks < data_blocks) {
            return kCanSwapEditableArrayDataDriveInvalidSpareConfiguration;
        }
    }
    if (!InStagedDriveList(cda, new_pd_number)) {
        return kCanSwapEditableArrayDataDriveNotFound;
    }
    if ((array->flags & kEditableArrSplitMirror) ||
        ((array->flags & kEditableArrLUCache) && !(array->flags & kEditableArrNew))) {
        return kCanSwapEditableArrayDataDriveArrayNotDataArray;
    }
    if (config->editable_pd_list[new_pd_number].config_usage_info != kPhysicalDriveUsageUnassigned) {
        return kCanSwapEditableArrayDataDriveNotAvailable;
    }
    const VK_DWORD pd_status = VK_GetPhysicalDriveStatusInfo(cda, new_pd_number);
    if (pd_status & kPhysicalDriveStatusExcludeFromConfigurationBit) {
        return kCanSwapEditableArrayDataDriveIsNotConfigurable;
    }
    if (VK_GetEditableControllerSAM(cda) == kControllerSAMTypePredictive &&
        (pd_status & kPhysicalDriveStatusPredictiveFailure)) {
        return kCanSwapEditableArrayDataDrivesDriveIsPredictiveFailure;
    }
    if (!QueuedTransformationsOnly(cda, array_number, VK_GetEditableArrayStatusInfo(cda, array_number))) {
        return kCanSwapEditableArrayDataDriveArrayStatusNotOK;
    }
    const VK_DWORD controller = VK_GetControllerStatusInfo(cda);
    if (CONTROLLER_STATUS(controller) != kControllerStatusOK ||
        (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked)) {
        return kCanSwapEditableArrayDataDriveControllerStatusNotOK;
    }
    const VK_DWORD transformations = VK_ControllerSupportsTransformations(cda);
    const VK_BYTE cache = CACHE_STATUS(controller);
    if (!(transformations & kControllerSupportsPowerlessTransformations) &&
        (cache == kControllerCacheStatusTemporarilyDisabled || cache == kControllerCacheStatusPermanentlyDisabled)) {
        return kCanSwapEditableArrayDataDriveControllerCacheStatusNotOK;
    }
    switch (telmar::ReadCompatMask(__VK_EditableArrayPhysicalDriveCompatibility(cda, array_number, new_pd_number))) {
    case telmar::CompatMismatch::kBlockSize: return kCanSwapEditableArrayDataDriveIncompatibleBlockSize;
    case telmar::CompatMismatch::kMixedDriveTypes: return kCanSwapEditableArrayDataDriveMixDriveTypes;
    case telmar::CompatMismatch::kConnectors: return kCanSwapEditableArrayDataDriveIncompatibleConnectors;
    case telmar::CompatMismatch::kNone: break;
    }
    if (_VK_CDA(cda)->pd_record_list[new_pd_number].pd_config_information.usable_size_blocks <
        // What the live array's logical drives need; a new array has none yet.
        __VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda, _VK_GetEditableArrayLiveNumber(cda, array))) {
        return kCanSwapEditableArrayDataDriveIsTooSmall;
    }
    const VK_BYTE sed_type =
        array->data_drive_count == 1
            ? _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, new_pd_number))
            : __VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(cda, array_number, array_pd_number);
    switch (__VK_ArrayCheckSEDRules(cda, sed_type, config->controller_sed_encryption_status, new_pd_number)) {
    case 1: return kCanSwapEditableArrayDataDriveIncompatibleSEDType;
    case 2: return kCanSwapEditableArrayDataDriveInvalidSEDStatus;
    default: break;
    }
    bool submitted = false;
    int counter = 0;
    for (size_t i = 0; i < std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity); ++i) {
        const VK_WORD n = array->logical_drives[i];
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld == nullptr || (ld->flags & kEditableLDNewDrive)) {
            continue;
        }
        LogicalDriveTransformation target;
        _VK_InitializeLogicalDriveTransformationSettings(cda, n, &target);
        switch (_VK_CanTransformLogicalDrive(cda, n, &target)) {
        case 1: break;
        case 2: return kCanSwapEditableArrayDataDriveExceedsTransformationMemory;
        case 4: return kCanSwapEditableArrayDataDriveDataPreservationNotAvailable;
        case 5: return kCanSwapEditableArrayDataDriveIsNotAllowed;
        default: return kCanSwapEditableArrayDataDriveArrayStatusNotOK;
        }
        submitted = true;
        counter += (ld->flags & kEditableLDTransformation) ? 0 : 1;
    }
    if (submitted) {
        if (!(transformations & kControllerSupportsArrayDriveSwap)) {
            return kCanSwapEditableArrayDataDriveNotSupported;
        }
        if (VK_IsEditableControllerLUCacheEnabled(cda)) {
            return kCanSwapEditableArrayDataDriveLUCachingEnabled;
        }
        if (TransformationQueueRoom(cda) < counter) {
            return kCanSwapEditableArrayDataDriveMaxTransformationsReached;
        }
    }
    return kCanSwapEditableArrayDataDriveAllowed;
}

} // namespace

VK_BYTE VK_CanSwapEditableArrayDataDrive(PCDA cda, VK_WORD array_number, VK_WORD array_pd_number,
                                         VK_WORD new_pd_number) {
    return StagedAnswer(cda, kCanSwapEditableArrayDataDriveNoEditableConfigCreated,
                        CanSwapEditableArrayDataDrive, array_number, array_pd_number, new_pd_number);
}

VK_BYTE VK_SwapEditableArrayDataDrive(PCDA cda, VK_WORD array_number, VK_WORD array_pd_number,
                                      VK_WORD new_pd_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSwapEditableArrayDataDriveAllowed,
                     VK_CanSwapEditableArrayDataDrive, array_number, array_pd_number, new_pd_number)) {
        return kSwapEditableArrayDataDriveFailedUnknown;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    array->data_drives[_VK_EditableArrayDataDriveAt(cda, array_number, array_pd_number)] = new_pd_number;
    array->common_sed_type = _VK_GetEditableArrayCommonSEDType(cda, array_number);
    if (array->data_drive_count == 1) {
        array->common_drive_type = VK_GetPhysicalDriveBasicInfo(cda, new_pd_number);
        array->common_block_size = static_cast<VK_WORD>(
            _VK_CDA(cda)->pd_record_list[new_pd_number].pd_config_information.logical_block_size_bytes);
        if (array->flags & kEditableArrSEDEncryption) {
            ForEachArrayLogicalDrive(cda, *array, [](EDITABLE_LOGICAL_DRIVE& ld) { ld.flags |= kEditableLDEnableSED; });
        }
    }
    VK_QWORD smallest = 0;
    __VK_GetEditableArrayNewCommonDriveSize(cda, array_number, nullptr, 0, nullptr, 0, &smallest);
    array->common_drive_size_blocks = smallest;
    SetStagedUsage(cda, new_pd_number, kPhysicalDriveUsageData);
    SetStagedUsage(cda, array_pd_number, UsageAfterLeaving(cda, array_pd_number));
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
    _VK_RefreshEditableControllerBootVolumes(cda);
    return kSwapEditableArrayDataDriveOK;
}

// ---- Changing the data drives of a staged array: the steps removing and adding share ----

namespace {

// What sets removing data drives from a staged array apart from adding them, for the steps the two
// share: the parity-group types accepted, how a logical drive's parity groups and level follow the
// change, where a controller locked by its encryption is refused, and each side's own answers.
struct DataDriveEdit {
    VK_BYTE first_type; // the parity-group types accepted, for logical drives of more than one group
    VK_BYTE last_type;
    // The parity groups of logical drive `ld_number` once `changed` of `current` data drives change.
    VK_BYTE (*groups_after)(PCDA cda, VK_WORD ld_number, VK_WORD current, VK_WORD changed, VK_BYTE type);
    // The level of a logical drive of `level` once `changed` drives change, leaving `after`.
    VK_BYTE (*level_after)(PCDA cda, VK_BYTE level, VK_WORD after, VK_WORD changed);
    // A locked controller is refused before the list is read (removing), or with the controller
    // status once logical drives would be transformed (adding).
    bool locked_refused_first;

    VK_BYTE ok;
    VK_BYTE invalid_array;
    VK_BYTE invalid_drive_list;
    VK_BYTE duplicate_drives;
    VK_BYTE unsaved_logical_drives; // the array holds a logical drive not yet locked
    VK_BYTE array_status_not_ok;
    VK_BYTE not_data_array;
    VK_BYTE invalid_type;
    VK_BYTE invalid_drive_count;
    VK_BYTE exceeds_transformation_memory;   // answer 2 of _VK_CanTransformLogicalDrive
    VK_BYTE data_preservation_not_available; // answer 4
    VK_BYTE full_stripe_refused;             // answer 5
    VK_BYTE max_transformations_reached;
    VK_BYTE controller_status_not_ok;
    VK_BYTE controller_cache_status_not_ok;
};

// The array's data-drive counts around the change.
struct DataDriveCounts {
    VK_WORD before;
    VK_WORD changed;
    VK_WORD after;
};

// A logical drive's parity groups and RAID level after the change.
struct Reshaped {
    VK_BYTE groups;
    VK_BYTE level;
};

// The staged logical drives that exist and would be transformed, and how many of them are not yet
// queued for a transformation.
struct Transformations {
    bool affected = false;
    int counter = 0;
};

// The level a logical drive keeps once only `remaining` data drives are left: a mirrored stripe
// set of one mirror pair (or triple) is a plain mirror.
VK_BYTE LevelAfterShrink(VK_BYTE level, VK_WORD remaining) {
    if (level == kRAID10 && remaining == 2) {
        return kRAID1;
    }
    if (level == kRAID10Triple && remaining == 3) {
        return kRAID1Triple;
    }
    return level;
}

VK_QWORD AlignedEnd(VK_QWORD alignment, VK_QWORD offset, VK_QWORD blocks) {
    VK_QWORD end = 0;
    if (__builtin_add_overflow(offset, blocks, &end)) {
        end = std::numeric_limits<VK_QWORD>::max();
    }
    return _VK_GetNextLogicalDriveAlignedOffset(nullptr, alignment, end);
}

// The checks an edit of the data drives starts with: an array in the slot, a list, for a removal a
// controller its encryption has not locked, and no drive listed twice. `caller` names the check in
// the log.
VK_BYTE ListRefusal(PCDA cda, const EDITABLE_ARRAY* array, const VK_WORD* pd_list, size_t pd_list_size,
                    const DataDriveEdit& edit, const char* caller) {
    if (array == nullptr) {
        return edit.invalid_array;
    }
    if (pd_list == nullptr || pd_list_size == 0) {
        return edit.invalid_drive_list;
    }
    if (edit.locked_refused_first &&
        (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked)) {
        return edit.controller_status_not_ok;
    }
    pavlin::TrackedPtr<VK_WORD> unique(static_cast<VK_WORD*>(VK_malloc(pd_list_size * sizeof(VK_WORD))));
    if (!unique) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'uniq_pd_list != ((void *)0)' failed: Failed to allocate temp/uniq list "
            "of pds\n",
            caller, __LINE__);
        return edit.ok;
    }
    std::copy(pd_list, pd_list + pd_list_size, unique.get());
    size_t count = pd_list_size;
    VK_uniq(unique.get(), &count, sizeof(VK_WORD), compare_ld_numbers_by_value);
    return count < pd_list_size ? edit.duplicate_drives : edit.ok;
}

// The array's own state: no logical drive left unsaved, nothing but queued transformations under
// way, and a data array (an LU cache array only while it is new).
VK_BYTE ArrayRefusal(PCDA cda, VK_WORD array_number, const EDITABLE_ARRAY& array, const DataDriveEdit& edit) {
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, array_number);
    if (status & kArrayStatusHasUnlockedLogicalDrive) {
        return edit.unsaved_logical_drives;
    }
    if (!QueuedTransformationsOnly(cda, array_number, status)) {
        return edit.array_status_not_ok;
    }
    if ((array.flags & kEditableArrSplitMirror) ||
        ((array.flags & kEditableArrLUCache) && !(array.flags & kEditableArrNew))) {
        return edit.not_data_array;
    }
    return edit.ok;
}

// Each staged logical drive of the array, in list order, reshaped for the change: a drive of more
// than one parity group needs a type in range and a group count the change leaves valid, and its
// new level must be valid on the drives after. `each(n, ld, shape)` answers for a drive that
// passes; the first refusal ends the walk.
template <typename Each>
VK_BYTE ForEachReshapedLogicalDrive(PCDA cda, const EDITABLE_ARRAY& array, const DataDriveEdit& edit,
                                    const DataDriveCounts& counts, VK_BYTE type, Each each) {
    for (size_t i = 0; i < std::min<size_t>(array.logical_drive_count, kArrayLogicalDriveCapacity); ++i) {
        const VK_WORD n = array.logical_drives[i];
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld == nullptr) {
            continue;
        }
        Reshaped shape{ld->num_parity_groups, 0};
        if (shape.groups > 1) {
            if (type < edit.first_type || type > edit.last_type) {
                return edit.invalid_type;
            }
            shape.groups = edit.groups_after(cda, n, counts.before, counts.changed, type);
            if (shape.groups == 0) {
                return edit.invalid_drive_count;
            }
        }
        shape.level = edit.level_after(cda, ld->RAID_level, counts.after, counts.changed);
        if (!__VK_IsValidRAIDForArray(cda, counts.after, shape.level, shape.groups)) {
            return edit.invalid_drive_count;
        }
        const VK_BYTE answer = each(n, *ld, shape);
        if (answer != edit.ok) {
            return answer;
        }
    }
    return edit.ok;
}

// Logical drive `n`, which exists, counted among the transformations, and whether it can be
// transformed to `shape` over `drives` data drives from `offset`: _VK_CanTransformLogicalDrive's
// answer. `target` is left with that geometry and the blocks per drive it comes to.
VK_BYTE CanTransformTo(PCDA cda, VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld, VK_QWORD offset, VK_WORD drives,
                       const Reshaped& shape, Transformations& queued, LogicalDriveTransformation& target) {
    queued.affected = true;
    queued.counter += (ld.flags & kEditableLDTransformation) ? 0 : 1;
    _VK_InitializeLogicalDriveTransformationSettings(cda, n, &target);
    target.physical_drive_offset_block = offset;
    target.data_drive_count = drives;
    target.RAID_level = shape.level;
    target.num_parity_groups = shape.groups;
    return _VK_CanTransformLogicalDrive(cda, n, &target);
}

// The edit's answer for an answer of _VK_CanTransformLogicalDrive.
VK_BYTE TransformRefusal(VK_BYTE answer, const DataDriveEdit& edit) {
    switch (answer) {
        case 1:
            return edit.ok;
        case 2:
            return edit.exceeds_transformation_memory;
        case 4:
            return edit.data_preservation_not_available;
        case 5:
            return edit.full_stripe_refused;
        default:
            return edit.array_status_not_ok;
    }
}

// The controller's part once logical drives would be transformed: room in its transformation
// queue, its status (for an addition also its encryption lock), and a cache it can work without
// where its transformations need one.
VK_BYTE ControllerRefusal(PCDA cda, VK_DWORD transformations, const Transformations& queued,
                          const DataDriveEdit& edit) {
    if (TransformationQueueRoom(cda) < queued.counter) {
        return edit.max_transformations_reached;
    }
    const VK_DWORD controller = VK_GetControllerStatusInfo(cda);
    if (CONTROLLER_STATUS(controller) != kControllerStatusOK ||
        (!edit.locked_refused_first &&
         (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked))) {
        return edit.controller_status_not_ok;
    }
    const VK_BYTE cache = CACHE_STATUS(controller);
    if (!(transformations & kControllerSupportsPowerlessTransformations) &&
        (cache == kControllerCacheStatusTemporarilyDisabled ||
         cache == kControllerCacheStatusPermanentlyDisabled)) {
        return edit.controller_cache_status_not_ok;
    }
    return edit.ok;
}

// Every logical drive of the array, by rising offset, laid out again over its data drives as they
// now stand: each takes its parity groups and level after the change, its blocks per drive on
// `counts.after` drives, and the next aligned offset after the drive before. `order` has room for
// kMaxLogicalDrivesSupported numbers. True when a logical drive that exists was laid out.
bool LayOutAgain(PCDA cda, VK_WORD array_number, VK_WORD* order, const DataDriveEdit& edit,
                 const DataDriveCounts& counts, VK_BYTE type) {
    size_t count = 0;
    for (VK_WORD n =
             _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, kInvalidLDNumber, kTrue);
         n != kInvalidLDNumber && count < kMaxLogicalDrivesSupported;
         n = _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, n, kTrue)) {
        order[count++] = n;
    }
    bool existing_moved = false;
    VK_QWORD running = 0;
    for (size_t i = 0; i < count; ++i) {
        const VK_WORD n = order[i];
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld == nullptr) {
            continue;
        }
        if (ld->num_parity_groups > 1) {
            ld->num_parity_groups = edit.groups_after(cda, n, counts.before, counts.changed, type);
        }
        ld->RAID_level = edit.level_after(cda, ld->RAID_level, counts.after, counts.changed);
        ld->physical_drive_blocks_per_drive = __VK_GetLogicalDriveUsageBlocks(
            ld->drive_size_blocks, ld->strip_size_blocks,
            __VK_GetUsableDriveCount(counts.after, ld->RAID_level, ld->num_parity_groups));
        ld->physical_drive_offset_block = running;
        existing_moved = existing_moved || !(ld->flags & kEditableLDNewDrive);
        VK_QWORD end = 0;
        if (__builtin_add_overflow(running, ld->physical_drive_blocks_per_drive, &end)) {
            end = std::numeric_limits<VK_QWORD>::max();
        }
        running = VK_GetNextEditableLogicalDriveAlignedOffset(cda, array_number, end);
    }
    return existing_moved;
}

} // namespace

// ---- Removing data drives from a staged array ----

namespace {

constexpr DataDriveEdit kRemoval = {
    .first_type = kShrinkTypeRemoveDrivesFromParityGroups,
    .last_type = kShrinkTypeAuto,
    .groups_after = __VK_GetNumberOfParityGroupsForShrink,
    .level_after = [](PCDA, VK_BYTE level, VK_WORD after, VK_WORD) { return LevelAfterShrink(level, after); },
    .locked_refused_first = true,
    .ok = kCanRemoveEditableArrayDataDrivesOK,
    .invalid_array = kCanRemoveEditableArrayDataDrivesInvalidArray,
    .invalid_drive_list = kCanRemoveEditableArrayDataDrivesInvalidDriveList,
    .duplicate_drives = kCanRemoveEditableArrayDataDrivesDuplicateDrivesInList,
    .unsaved_logical_drives = kCanRemoveEditableArrayDataDrivesArrayContainsUnsavedLogicalDrives,
    .array_status_not_ok = kCanRemoveEditableArrayDataDrivesArrayStatusNotOK,
    .not_data_array = kCanRemoveEditableArrayDataDrivesNotDataArray,
    .invalid_type = kCanRemoveEditableArrayDataDrivesInvalidShrinkType,
    .invalid_drive_count = kCanRemoveEditableArrayDataDrivesInvalidDriveCount,
    .exceeds_transformation_memory = kCanRemoveEditableArrayDataDrivesExceedsTransformationMemory,
    .data_preservation_not_available = kCanRemoveEditableArrayDataDrivesDataPreservationNotAvailable,
    .full_stripe_refused = kCanRemoveEditableArrayDataDrivesNotAllowed,
    .max_transformations_reached = kCanRemoveEditableArrayDataDrivesMaxTransformationsReached,
    .controller_status_not_ok = kCanRemoveEditableArrayDataDrivesControllerStatusNotOK,
    .controller_cache_status_not_ok = kCanRemoveEditableArrayDataDrivesControllerCacheStatusNotOK,
};

bool Listed(const VK_WORD* pd_list, size_t pd_list_size, VK_WORD pd_number) {
    return std::find(pd_list, pd_list + pd_list_size, pd_number) != pd_list + pd_list_size;
}

// The array's alignment over the data drives that stay.
VK_QWORD AlignmentWithout(PCDA cda, const EDITABLE_ARRAY& array, const VK_WORD* pd_list,
                          size_t pd_list_size) {
    VK_QWORD a = 1;
    for (size_t i = 0; i < std::min<size_t>(array.data_drive_count, kArrayDriveCapacity); ++i) {
        if (!Listed(pd_list, pd_list_size, array.data_drives[i])) {
            a = VK_lcm(a, _VK_GetPhysicalDriveAlignmentSizeBlocks(cda, array.data_drives[i]));
        }
    }
    return a;
}

VK_BYTE CanRemoveEditableArrayDataDrives(PCDA cda, VK_WORD array_number, const VK_WORD* pd_list,
                                         size_t pd_list_size, VK_BYTE shrink_type) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (const VK_BYTE refused = ListRefusal(cda, array, pd_list, pd_list_size, kRemoval, __func__);
        refused != kRemoval.ok) {
        return refused;
    }
    for (size_t i = 0; i < pd_list_size; ++i) {
        if (pd_list[i] >= kMaxPhysicalDrivesSupported ||
            _VK_EditableArrayDataDriveAt(cda, array_number, pd_list[i]) == static_cast<size_t>(-1)) {
            return kCanRemoveEditableArrayDataDrivesInvalidDrive;
        }
    }
    // A list longer than the array (repeats not caught above) cannot name distinct data drives.
    if (pd_list_size > array->data_drive_count) {
        return kCanRemoveEditableArrayDataDrivesInvalidDrive;
    }
    const VK_WORD remaining = static_cast<VK_WORD>(array->data_drive_count - pd_list_size);
    VK_QWORD spare_blocks = 0;
    if (_VK_GetEditableArraySmallestSpareDrive(cda, array_number, &spare_blocks) != kInvalidPDNumber) {
        if (remaining == 0) {
            return kCanRemoveEditableArrayDataDrivesInvalidSpareConfiguration;
        }
        VK_QWORD data_blocks = 0;
        __VK_GetEditableArrayNewCommonDriveSize(cda, array_number, pd_list, pd_list_size, nullptr, 0,
                                                &data_blocks);
        if (spare_blocks < data_blocks) {
            return kCanRemoveEditableArrayDataDrivesInvalidSpareConfiguration;
        }
    }
    if (config->controller_sed_encryption_status & kStagedSEDEncryptionEnabled) {
        const VK_BYTE sed =
            __VK_GetEditableArrayCommonSEDTypeAfterRemovingPD(cda, array_number, pd_list, pd_list_size);
        if ((sed & (sed - 1)) != 0) {
            return kCanRemoveEditableArrayDataDrivesMixedSEDTypes;
        }
    }
    if (const VK_BYTE refused = ArrayRefusal(cda, array_number, *array, kRemoval); refused != kRemoval.ok) {
        return refused;
    }
    if (remaining == 0 && array->logical_drive_count != 0) {
        return kCanRemoveEditableArrayDataDrivesInvalidDriveCount;
    }
    const VK_QWORD alignment = AlignmentWithout(cda, *array, pd_list, pd_list_size);
    const DataDriveCounts counts{array->data_drive_count, static_cast<VK_WORD>(pd_list_size), remaining};
    VK_QWORD running = 0;
    Transformations queued;
    // Every logical drive, new ones too, is packed again onto the drives that stay and must fit there;
    // whether one that exists can be transformed is answered after that.
    const VK_BYTE refused = ForEachReshapedLogicalDrive(
        cda, *array, kRemoval, counts, shrink_type,
        [&](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld, const Reshaped& shape) -> VK_BYTE {
            VK_BYTE answer = 1;
            if (!(ld.flags & kEditableLDNewDrive)) {
                LogicalDriveTransformation target;
                answer = CanTransformTo(cda, n, ld, running, remaining, shape, queued, target);
            }
            const VK_QWORD footprint = __VK_GetLogicalDriveUsageBlocks(
                ld.drive_size_blocks, ld.strip_size_blocks,
                __VK_GetUsableDriveCount(remaining, shape.level, shape.groups));
            running = AlignedEnd(alignment, running, footprint);
            if (running > array->common_drive_size_blocks) {
                return kCanRemoveEditableArrayDataDrivesNotEnoughSpaceForLogicalDrives;
            }
            return TransformRefusal(answer, kRemoval);
        });
    if (refused != kRemoval.ok) {
        return refused;
    }
    if (queued.affected) {
        const VK_DWORD transformations = VK_ControllerSupportsTransformations(cda);
        if (!(transformations & kControllerSupportsArrayExpansion)) {
            return kCanRemoveEditableArrayDataDrivesNotSupported;
        }
        if (VK_IsEditableControllerLUCacheEnabled(cda)) {
            return kCanRemoveEditableArrayDataDrivesLUCachingEnabled;
        }
        return ControllerRefusal(cda, transformations, queued, kRemoval);
    }
    return kCanRemoveEditableArrayDataDrivesOK;
}

} // namespace

VK_BYTE VK_CanRemoveEditableArrayDataDrives(PCDA cda, VK_WORD editable_array_number, const VK_WORD* pd_list,
                                            size_t pd_list_size, VK_BYTE ld_parity_shrink_type) {
    return StagedAnswer(cda, kCanRemoveEditableArrayDataDrivesNoEditableConfigCreated,
                        CanRemoveEditableArrayDataDrives, editable_array_number, pd_list, pd_list_size,
                        ld_parity_shrink_type);
}

VK_BYTE VK_RemoveEditableArrayDataDrives(PCDA cda, VK_WORD editable_array_number, const VK_WORD* pd_list,
                                         size_t pd_list_size, VK_BYTE ld_parity_shrink_type) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanRemoveEditableArrayDataDrivesOK,
                     VK_CanRemoveEditableArrayDataDrives, editable_array_number, pd_list, pd_list_size,
                     ld_parity_shrink_type)) {
        return kRemoveEditableArrayDataDrivesFailedUnknown;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const VK_WORD old_count = array->data_drive_count;
    for (size_t i = 0; i < pd_list_size; ++i) {
        const size_t at = _VK_EditableArrayDataDriveAt(cda, editable_array_number, pd_list[i]);
        if (at == static_cast<size_t>(-1) || at >= array->data_drive_count) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'array_count < editable_array->data_drive_count' failed: INTERNAL ERROR: "
                "Failed to find drive to remove\n",
                __func__, __LINE__);
            continue;
        }
        array->data_drives[at] = array->data_drives[array->data_drive_count - 1];
        --array->data_drive_count;
        SetStagedUsage(cda, pd_list[i], UsageAfterLeaving(cda, pd_list[i]));
    }
    array->common_sed_type = _VK_GetEditableArrayCommonSEDType(cda, editable_array_number);
    array->alignment_size_blocks = static_cast<VK_DWORD>(AlignmentWithout(cda, *array, nullptr, 0));
    VK_QWORD smallest = 0;
    __VK_GetEditableArrayNewCommonDriveSize(cda, editable_array_number, nullptr, 0, nullptr, 0, &smallest);
    array->common_drive_size_blocks = smallest;
    const VK_WORD remaining = array->data_drive_count;
    // Every listed logical drive is lowered first, those the walk by offset passes over too, so
    // that the parity groups below are counted on the lowered level; lowering again there changes
    // nothing.
    ForEachArrayLogicalDrive(cda, *array, [remaining](EDITABLE_LOGICAL_DRIVE& ld) {
        ld.RAID_level = LevelAfterShrink(ld.RAID_level, remaining);
    });

    // Every logical drive of the array, by rising offset, packed again onto the drives that stay.
    pavlin::TrackedPtr<VK_WORD> order(
        static_cast<VK_WORD*>(VK_malloc(kMaxLogicalDrivesSupported * sizeof(VK_WORD))));
    if (!order) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'impacted_ld_list != ((void *)0)' failed: Failed to allocate ld list for "
            "shrink\n",
            __func__, __LINE__);
        return kRemoveEditableArrayDataDrivesFailedUnknown;
    }
    if (LayOutAgain(cda, editable_array_number, order.get(), kRemoval,
                    {old_count, static_cast<VK_WORD>(pd_list_size), remaining}, ld_parity_shrink_type)) {
        _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
    }
    return kRemoveEditableArrayDataDrivesOK;
}

// ---- Adding data drives to a staged array ----

namespace {

VK_BYTE LevelAfterExpand(PCDA cda, VK_BYTE level, VK_WORD, VK_WORD added) {
    return _VK_ExpandRAIDLevel(cda, level, added);
}

constexpr DataDriveEdit kAddition = {
    .first_type = kExpandTypeAddDrivesToParityGroups,
    .last_type = kExpandTypeAuto,
    .groups_after = __VK_GetNumberOfParityGroupsForExpand,
    .level_after = LevelAfterExpand,
    .locked_refused_first = false,
    .ok = kCanAddEditableArrayDataDrivesOK,
    .invalid_array = kCanAddEditableArrayDataDrivesInvalidArray,
    .invalid_drive_list = kCanAddEditableArrayDataDrivesInvalidDriveList,
    .duplicate_drives = kCanAddEditableArrayDataDrivesDuplicateDrivesInList,
    .unsaved_logical_drives = kCanAddEditableArrayDataDrivesArrayContainsUnsavedLogicalDrives,
    .array_status_not_ok = kCanAddEditableArrayDataDrivesArrayStatusNotOK,
    .not_data_array = kCanAddEditableArrayDataDrivesNotDataArray,
    .invalid_type = kCanAddEditableArrayDataDrivesInvalidExpandType,
    .invalid_drive_count = kCanAddEditableArrayDataDrivesInvalidDriveCount,
    .exceeds_transformation_memory = kCanAddEditableArrayDataDrivesExceedsTransformationMemory,
    .data_preservation_not_available = kCanAddEditableArrayDataDrivesDataPreservationNotAvailable,
    .full_stripe_refused = kCanAddEditableArrayDataDrivesFullStripeSizeOverflow,
    .max_transformations_reached = kCanAddEditableArrayDataDrivesMaxTransformationsReached,
    .controller_status_not_ok = kCanAddEditableArrayDataDrivesControllerStatusNotOK,
    .controller_cache_status_not_ok = kCanAddEditableArrayDataDrivesControllerCacheStatusNotOK,
};

// What a drive joining the array is measured against: the array's own values, or for an array
// without data drives those of the first drive listed.
struct JoinReference {
    VK_QWORD size = 0;
    VK_QWORD block_size = 0;
    VK_DWORD drive_type = 0;
    bool boot_connector = false;
    VK_BYTE sed_type = 0;
};

bool RecordOnBootConnector(PCDA cda, VK_WORD pd_number) {
    return pd_number < kMaxPhysicalDrivesSupported && VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) &&
           (_VK_CDA(cda)->pd_record_list[pd_number].flags & kPDRecordBootConnector) != 0;
}

VK_QWORD LiveUsableBlocks(PCDA cda, VK_WORD pd_number) {
    return pd_number < kMaxPhysicalDrivesSupported
               ? _VK_CDA(cda)->pd_record_list[pd_number].pd_config_information.usable_size_blocks
               : 0;
}

JoinReference ReferenceFor(PCDA cda, const EDITABLE_ARRAY& array, VK_WORD first) {
    if (array.data_drive_count != 0) {
        return {array.common_drive_size_blocks, array.common_block_size, array.common_drive_type,
                (array.flags & kEditableArrBootConnector) != 0, array.common_sed_type};
    }
    return {0, VK_GetPhysicalDriveSize(cda, first, kPhysicalDriveBlockSizeBytes), VK_GetPhysicalDriveBasicInfo(cda, first),
            RecordOnBootConnector(cda, first),
            _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, first))};
}

// The array's alignment once the listed drives join it.
VK_QWORD AlignmentWith(PCDA cda, VK_QWORD alignment, const VK_WORD* pd_list, size_t pd_list_size) {
    VK_QWORD a = alignment != 0 ? alignment : 1;
    for (size_t i = 0; i < pd_list_size; ++i) {
        a = VK_lcm(a, _VK_GetPhysicalDriveAlignmentSizeBlocks(cda, pd_list[i]));
    }
    return a;
}

// One listed drive against the reference; 1 when it may join.
VK_BYTE ExamineJoiningDrive(PCDA cda, const EDITABLE_ARRAY& array, const JoinReference& ref, VK_BYTE sed_type,
                            size_t pd_list_size, VK_WORD pd_number) {
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    if (pd_number >= kMaxPhysicalDrivesSupported || pd_number >= id.wMaximumPhysicalDevicesSupported) {
        return kCanAddEditableArrayDataDrivesInvalidDrive;
    }
    switch (telmar::ReadCompatMask(__VK_PhysicalDriveCompat(cda, pd_number, ref.drive_type, ref.block_size,
                                                            ref.boot_connector ? kTrue : kFalse))) {
    case telmar::CompatMismatch::kBlockSize: return kCanAddEditableArrayDataDrivesIncompatibleBlockSize;
    case telmar::CompatMismatch::kMixedDriveTypes: return kCanAddEditableArrayDataDrivesCannotMixDriveTypes;
    case telmar::CompatMismatch::kConnectors: return kCanAddEditableArrayDataDrivesIncompatibleConnectors;
    case telmar::CompatMismatch::kNone: break;
    }
    // The staged list holds 128 data drives, whatever the controller allows.
    const size_t total = pd_list_size + array.data_drive_count;
    if (total > id.wMaximumPhysicalDrivesPerLogicalUnit || total > kArrayDriveCapacity) {
        return kCanAddEditableArrayDataDrivesMaxDataDriveCountReached;
    }
    if (array.flags & kEditableArrLUCache) {
        const VK_DWORD basic = VK_GetPhysicalDriveBasicInfo(cda, pd_number);
        if (!(basic & kPhysicalDriveTypeSSD) || (basic & kPhysicalDriveOnBootConnector)) {
            return kCanAddEditableArrayDataDrivesIncompatibleDriveType;
        }
        if (VK_GetPhysicalDriveSize(cda, pd_number, kPhysicalDriveBlockSizeBytes) != 512) {
            return kCanAddEditableArrayDataDrivesIncompatibleBlockSize;
        }
    }
    const VK_DWORD status = VK_GetPhysicalDriveStatusInfo(cda, pd_number);
    if (status & kPhysicalDriveStatusExcludeFromConfigurationBit) {
        return kCanAddEditableArrayDataDrivesDriveIsNotConfigurable;
    }
    if (VK_GetEditableControllerSAM(cda) == kControllerSAMTypePredictive &&
        (status & kPhysicalDriveStatusPredictiveFailure)) {
        return kCanAddEditableArrayDataDrivesDriveIsPredictiveFailure;
    }
    if (StagedUsage(cda, pd_number) != kPhysicalDriveUsageUnassigned) {
        return kCanAddEditableArrayDataDrivesDriveIsNotUnassigned;
    }
    switch (__VK_ArrayCheckSEDRules(cda, sed_type, _VK_GetEditableConfiguration(cda)->controller_sed_encryption_status,
                                    pd_number)) {
    case 1: return kCanAddEditableArrayDataDrivesIncompatibleSEDType;
    case 2: return kCanAddEditableArrayDataDrivesInvalidSEDStatus;
    default: break;
    }
    if (ref.size != 0 && array.logical_drive_count != 0 && LiveUsableBlocks(cda, pd_number) < ref.size) {
        return kCanAddEditableArrayDataDrivesDriveTooSmall;
    }
    return kCanAddEditableArrayDataDrivesOK;
}

VK_BYTE CanAddEditableArrayDataDrives(PCDA cda, VK_WORD array_number, const VK_WORD* pd_list, size_t pd_list_size,
                                      VK_BYTE expand_type) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (const VK_BYTE refused = ListRefusal(cda, array, pd_list, pd_list_size, kAddition, __func__);
        refused != kAddition.ok) {
        return refused;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kCanAddEditableArrayDataDrivesInvalidDrive;
    }
    const JoinReference ref = ReferenceFor(cda, *array, pd_list[0]);
    VK_BYTE sed_type = ref.sed_type;
    VK_BYTE reason = kCanAddEditableArrayDataDrivesOK;
    for (size_t i = 0; i < pd_list_size; ++i) {
        const VK_BYTE answer = ExamineJoiningDrive(cda, *array, ref, sed_type, pd_list_size, pd_list[i]);
        if (answer == kCanAddEditableArrayDataDrivesOK) {
            sed_type = static_cast<VK_BYTE>(
                sed_type | _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, pd_list[i])));
        } else if (reason == kCanAddEditableArrayDataDrivesOK) {
            reason = answer;
        }
    }
    if (reason != kCanAddEditableArrayDataDrivesOK) {
        return reason;
    }
    if (const VK_BYTE refused = ArrayRefusal(cda, array_number, *array, kAddition); refused != kAddition.ok) {
        return refused;
    }
    const VK_DWORD transformations = VK_ControllerSupportsTransformations(cda);
    const VK_WORD new_count = static_cast<VK_WORD>(array->data_drive_count + pd_list_size);
    const VK_QWORD alignment = AlignmentWith(cda, array->alignment_size_blocks, pd_list, pd_list_size);
    const DataDriveCounts counts{array->data_drive_count, static_cast<VK_WORD>(pd_list_size), new_count};
    VK_QWORD running = 0;
    Transformations queued;
    // Only the logical drives that exist are transformed, and only they move the running offset.
    const VK_BYTE refused = ForEachReshapedLogicalDrive(
        cda, *array, kAddition, counts, expand_type,
        [&](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld, const Reshaped& shape) -> VK_BYTE {
            const bool existing = !(ld.flags & kEditableLDNewDrive);
            if ((shape.level != ld.RAID_level && !VK_ControllerSupportsRAIDLevel(cda, shape.level)) ||
                (existing && (shape.level != ld.RAID_level || shape.groups != ld.num_parity_groups) &&
                 !(transformations & kControllerSupportsRAIDMigration))) {
                return kCanAddEditableArrayDataDrivesNotSupported;
            }
            if (!existing) {
                return kAddition.ok;
            }
            LogicalDriveTransformation target;
            const VK_BYTE answer = TransformRefusal(
                CanTransformTo(cda, n, ld, running, new_count, shape, queued, target), kAddition);
            if (answer != kAddition.ok) {
                return answer;
            }
            running = AlignedEnd(alignment, running, target.physical_drive_blocks_per_drive);
            return kAddition.ok;
        });
    if (refused != kAddition.ok) {
        return refused;
    }
    if (queued.affected) {
        if (VK_IsEditableControllerLUCacheEnabled(cda)) {
            return kCanAddEditableArrayDataDrivesLUCachingEnabled;
        }
        if (!(transformations & kControllerSupportsArrayExpansion)) {
            return kCanAddEditableArrayDataDrivesNotSupported;
        }
        if (const VK_BYTE controller = ControllerRefusal(cda, transformations, queued, kAddition);
            controller != kAddition.ok) {
            return controller;
        }
        if (array->flags & kEditableArrHasNewLD) {
            return kCanAddEditableArrayDataDrivesHasUnsavedLogicalDrives;
        }
    }
    const VK_QWORD sed_status = config->controller_sed_encryption_status;
    if ((sed_status & kStagedSEDEncryptionEnabled) && (sed_type & kSEDTypesEncrypting)) {
        if (sed_status & kStagedSEDAwaitingAdapterPassword) {
            return kCanAddEditableArrayDataDrivesWaitingOnAdapterPassword;
        }
        if (sed_status & kStagedSEDAwaitingMasterKey) {
            return kCanAddEditableArrayDataDrivesWaitingOnMasterKey;
        }
    }
    return kCanAddEditableArrayDataDrivesOK;
}

} // namespace

VK_WORD VK_EnumerateEditableArrayAddablePhysicalDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (config == nullptr || array == nullptr) {
        return kInvalidPDNumber;
    }
    for (VK_WORD p = VK_EnumerateControllerPhysicalDrives(cda, pd_number); p != kInvalidPDNumber;
         p = VK_EnumerateControllerPhysicalDrives(cda, p)) {
        const bool fits = array->data_drive_count == 0 ||
                          (LiveUsableBlocks(cda, p) >= array->common_drive_size_blocks &&
                           __VK_EditableArrayPhysicalDriveCompatibility(cda, array_number, p) == 0xFF);
        if (fits &&
            __VK_ArrayCheckSEDRules(cda, array->common_sed_type, config->controller_sed_encryption_status, p) == 0 &&
            !(VK_GetPhysicalDriveStatusInfo(cda, p) & kPhysicalDriveStatusExcludeFromConfigurationBit) &&
            StagedUsage(cda, p) == kPhysicalDriveUsageUnassigned) {
            return p;
        }
    }
    return kInvalidPDNumber;
}

VK_BYTE VK_CanAddEditableArrayDataDrives(PCDA cda, VK_WORD editable_array_number, const VK_WORD* pd_list,
                                         size_t pd_list_size, VK_BYTE ld_parity_expand_type) {
    return StagedAnswer(cda, kCanAddEditableArrayDataDrivesNoEditableConfigCreated,
                        CanAddEditableArrayDataDrives, editable_array_number, pd_list, pd_list_size,
                        ld_parity_expand_type);
}

VK_BYTE VK_AddEditableArrayDataDrives(PCDA cda, VK_WORD editable_array_number, const VK_WORD* pd_list,
                                      size_t pd_list_size, VK_BYTE ld_parity_expand_type) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanAddEditableArrayDataDrivesOK,
                     VK_CanAddEditableArrayDataDrives, editable_array_number, pd_list, pd_list_size,
                     ld_parity_expand_type)) {
        return kAddEditableArrayDataDrivesFailedUnknown;
    }
    _CDA* c = _VK_CDA(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const VK_WORD old_count = array->data_drive_count;
    if (old_count == 0) {
        const VK_WORD first = pd_list[0];
        array->common_drive_type = VK_GetPhysicalDriveBasicInfo(cda, first);
        array->alignment_size_blocks = _VK_GetPhysicalDriveAlignmentSizeBlocks(cda, first);
        VK_DWORD block = c->pd_record_list[first].pd_config_information.logical_block_size_bytes;
        if (block == 0) {
            PN_DebugLog(1, 0, "%s:%d: Unknown logical blocksize for PD %u\n", __func__, __LINE__, first);
            block = kDefaultBlockSize;
        }
        array->common_block_size = static_cast<VK_WORD>(block);
        array->flags = static_cast<VK_WORD>(RecordOnBootConnector(cda, first)
                                                ? array->flags | kEditableArrBootConnector
                                                : array->flags & ~kEditableArrBootConnector);
    }
    for (size_t i = 0; i < pd_list_size; ++i) {
        array->alignment_size_blocks = static_cast<VK_DWORD>(
            AlignmentWith(cda, array->alignment_size_blocks, &pd_list[i], 1));
        SetStagedUsage(cda, pd_list[i], kPhysicalDriveUsageData);
        array->data_drives[array->data_drive_count++] = pd_list[i];
    }
    VK_QWORD smallest = 0;
    __VK_GetEditableArrayNewCommonDriveSize(cda, editable_array_number, nullptr, 0, nullptr, 0, &smallest);
    array->common_drive_size_blocks = smallest;
    array->common_sed_type = _VK_GetEditableArrayCommonSEDType(cda, editable_array_number);

    // Every logical drive of the array, by rising offset, laid out again over the new drives.
    VK_WORD order[kMaxLogicalDrivesSupported];
    LayOutAgain(cda, editable_array_number, order, kAddition,
                {old_count, static_cast<VK_WORD>(pd_list_size), array->data_drive_count},
                ld_parity_expand_type);
    _VK_RefreshEditableControllerBootVolumes(cda);
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
    return kAddEditableArrayDataDrivesOK;
}

// ---- Split-mirror backups ----
//
// A live mirrored array is split into a primary keeping one side of every mirror and a backup array
// holding the other side (BMIC 0x5E), a backup is made an ordinary array (0x51), and a primary is
// joined with its backup again, re-mirrored from the primary or rolled back to the backup's data.

namespace {

constexpr VK_BYTE kBreakUpSplit = 1;
constexpr VK_BYTE kBreakUpRemirror = 2;
constexpr VK_BYTE kBreakUpRollback = 14;
constexpr VK_WORD kFaultToleranceMirror = 2;
constexpr VK_WORD kFaultToleranceTripleMirror = 6;
constexpr VK_BYTE kBIOSDisableHidden = 0x02;
constexpr VK_BYTE kPropertyBackup = 0x02;
constexpr VK_BYTE kBackupGUIOptions = 9;
constexpr VK_BYTE kBackupConfigModMajorVer = 20;
constexpr VK_DWORD kLDEncryptionSEDEnabledBit = 0x10000;
constexpr size_t kBigMapBytes = sizeof(LOGICAL_DRIVE_CONFIG::pbBigDriveAssignmentMap);

// The whole configuration copy as a writable span, bounded by what its own header says the
// controller reads.
pavlin::ByteSpan ConfigBytes(LOGICAL_DRIVE_CONFIG& config) {
    return pavlin::ByteSpan(&config, sizeof(config));
}
size_t ConfigLimit(const LOGICAL_DRIVE_CONFIG& config) {
    const size_t total = config.dwTotalStructureLength;
    return total != 0 && total < sizeof(config) ? total : sizeof(config);
}
// A map at a controller-reported offset of the copy; absent when it would overlap the fixed fields
// this code writes itself or reach past the copy.
std::optional<pavlin::ByteSpan> ConfigMapSpan(LOGICAL_DRIVE_CONFIG& config, size_t offset, size_t bytes) {
    if (offset < offsetof(LOGICAL_DRIVE_CONFIG, reserved300)) {
        return std::nullopt;
    }
    return telmar::MapSpanAt(ConfigBytes(config), ConfigLimit(config), offset, bytes);
}
size_t ConfigMapBytes(const LOGICAL_DRIVE_CONFIG& config) {
    return static_cast<size_t>(config.wMaximumPhysicalDevicesSupported) / 8;
}

size_t CountBits(pavlin::ByteView map) {
    size_t n = 0;
    for (size_t i = 0; i < map.size(); ++i) {
        n += static_cast<size_t>(__builtin_popcount(map.u8(i).value_or(0)));
    }
    return n;
}

void ClearBackupFields(LOGICAL_DRIVE_CONFIG& config) {
    config.dwOtherVolumeSignature = 0;
    config.bBIOSDisableFlag &= static_cast<VK_BYTE>(~kBIOSDisableHidden);
    config.bLogicalDriveProperty &= static_cast<VK_BYTE>(~kPropertyBackup);
    config.dwBackupTimestamp = 0;
    config.bGUIMajorVer = 0;
    config.bGUIMinorVer = 0;
    config.bGUIOptions = kBackupGUIOptions;
    config.bConfigModMajorVer = kBackupConfigModMajorVer;
}

bool IsTwoWayMirror(VK_BYTE level) {
    return level == kRAID1 || level == kRAID10;
}
bool IsThreeWayMirror(VK_BYTE level) {
    return level == kRAID1Triple || level == kRAID10Triple;
}

VK_BYTE CanCreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    if (!VK_ControllerSupportsSplitMirrorBackup(cda)) {
        return kCanCreateArraySplitMirrorBackupNotSupported;
    }
    if (LiveOFARunning(cda)) {
        return kCanCreateArraySplitMirrorBackupControllerOFAActive;
    }
    if (AdapterPasswordAwaited(cda)) {
        return kCanCreateArraySplitMirrorBackupWaitingOnSEDAdapterPassword;
    }
    if (VK_GetArrayStatusInfo(cda, array_number) != kArrayStatusOK) {
        return kCanCreateArraySplitMirrorBackupArrayNotOK;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanCreateArraySplitMirrorBackupControllerLocked;
    }
    if (VK_GetArrayType(cda, array_number) != kArrayTypeData) {
        return kCanCreateArraySplitMirrorBackupNotDataArray;
    }
    bool two_way = false;
    bool unsupported = false;
    bool three_way = false;
    size_t ld_count = 0;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         ld != kInvalidLDNumber; ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        ++ld_count;
        const VK_DWORD encryption = VK_GetLogicalDriveEncryptionInfo(cda, ld);
        const VK_DWORD key_status = (encryption & kLogicalDriveEncryptionVolatileKeyStatusMask) >>
                                    kLogicalDriveEncryptionVolatileKeyStatusShift;
        if (VOLATILE_KEY_ENABLED(encryption) ||
            (key_status != 0 && key_status != kLogicalDriveEncryptionVolatileKeyStatusNoOp)) {
            return kCanCreateArraySplitMirrorBackupVolatileKeys;
        }
        if (VK_GetLogicalDriveLUCacheNumber(cda, ld) != kInvalidLDNumber) {
            return kCanCreateArraySplitMirrorBackupHasLUCache;
        }
        const VK_BYTE level = RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld));
        if (IsTwoWayMirror(level)) {
            two_way = true;
        } else if (IsThreeWayMirror(level)) {
            three_way = true;
        } else {
            // An invalid level ends the per-drive checks; the drive count is still checked first.
            unsupported = true;
            break;
        }
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kCanCreateArraySplitMirrorBackupMaxNumberOfLogicalDrives;
    }
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    const long free_numbers = static_cast<long>(id.wMaximumLogicalDevicesSupported) -
                              static_cast<long>(id.wExtendedLogicalUnitCount);
    if (free_numbers < static_cast<long>(ld_count)) {
        return kCanCreateArraySplitMirrorBackupMaxNumberOfLogicalDrives;
    }
    if (unsupported || (two_way && three_way)) {
        return kCanCreateArraySplitMirrorBackupUnsupportedRAID;
    }
    if (three_way && !VK_ControllerSupportsNWayRAID(cda)) {
        return kCanCreateArraySplitMirrorBackupNWAYMirroringNotSupported;
    }
    if (VK_IsControllerLUCacheEnabled(cda)) {
        return kCanCreateArraySplitMirrorBackupLUCacheEnabled;
    }
    return kCanCreateArraySplitMirrorBackupAllowed;
}

// Writes the drives the primary keeps into a fresh configuration copy of a split logical drive.
bool PutSplitDriveMap(LOGICAL_DRIVE_CONFIG& config, pavlin::ByteView new_map, bool extended_maps,
                      VK_WORD ld) {
    config.dwSpareAssignmentMap = 0;
    if (extended_maps) {
        const size_t ld_bytes = ConfigMapBytes(config);
        if (ld_bytes < new_map.size()) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion '(BUFFER_MAX_PD_SUPPORTED(ld_buffer) / kBitsPerByte) >= "
                        "(VK_BYTE)(BUFFER_MAX_PD_SUPPORTED(drive_pair_info) / kBitsPerByte)' failed: "
                        "extended_drive_map size is smaller than new_drive_map size.\n",
                        __FILE__, __LINE__);
        }
        auto drives = ConfigMapSpan(config, config.wOffsetToExtendedDriveAssignmentMap, ld_bytes);
        if (!drives) {
            PN_DebugLog(1, 0, "%s:%d: Extended drive assignment map (off:%u) outside the config of ld %u\n",
                        __FILE__, __LINE__, static_cast<unsigned>(config.wOffsetToExtendedDriveAssignmentMap),
                        ld);
            return false;
        }
        telmar::ClearMapSpan(*drives);
        drives->put_bytes(0, new_map.data(), std::min(drives->size(), new_map.size()));
        if (const auto spares = ConfigMapSpan(config, config.wOffsetToExtendedSpareAssignmentMap, ld_bytes)) {
            telmar::ClearMapSpan(*spares);
        }
    } else {
        if (new_map.size() > kBigMapBytes) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'sizeof(ld_buffer->pbBigDriveAssignmentMap) >= "
                        "(VK_BYTE)(BUFFER_MAX_PD_SUPPORTED(drive_pair_info) / kBitsPerByte)' failed: "
                        "BigDriveAssignmentMap size is smaller than new_drive_map size.\n",
                        __FILE__, __LINE__);
        }
        std::memset(config.pbBigDriveAssignmentMap, 0, kBigMapBytes);
        std::memcpy(config.pbBigDriveAssignmentMap, new_map.data(), std::min(kBigMapBytes, new_map.size()));
        std::memset(config.pbBigSpareAssignmentMap, 0, sizeof(config.pbBigSpareAssignmentMap));
    }
    return true;
}

// The lowest logical-drive number from `from` on whose record is not in use; 0xFFFF for none.
VK_WORD NextFreeLogicalDrive(PCDA cda, VK_WORD from) {
    for (VK_WORD n = from; n < kMaxLogicalDrivesSupported; ++n) {
        if (!(_VK_CDA(cda)->ld_record_list[n].flags & kLDRecordExists)) {
            return n;
        }
    }
    return kInvalidLDNumber;
}

void LabelBackup(PCDA cda, VK_WORD n) {
    char label[sizeof(LABEL_LOGICAL_DRIVE::pbLogicalDriveLabel)] = {};
    if (!_VK_GetLogicalDriveDefaultLabel(n, label, sizeof(label))) {
        PN_DebugLog(1, 0, "%s:%d: Failed to get default ld label for backup ld %u\n", __FILE__, __LINE__, n);
        return;
    }
    LABEL_LOGICAL_DRIVE* buffer = VK_GetLabelLogicalDriveBufferForUpdate(cda);
    if (buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Failed to get set default ld label buffer on backup ld %u\n", __FILE__,
                    __LINE__, n);
        return;
    }
    buffer->dwLogicalDriveIdentifier = 0xFFFFFFFF;
    std::memset(buffer->pbLogicalDriveLabel, 0, sizeof(buffer->pbLogicalDriveLabel));
    std::memcpy(buffer->pbLogicalDriveLabel, label, sizeof(label));
    PN_DebugLog(2, 0, "%s:%d: Setting default backup ld %u label\n", __FILE__, __LINE__, n);
    if (!VK_LabelLogicalDrive(cda, n, buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Set default backup ld %u label failed\n", __FILE__, __LINE__, n);
    }
}

VK_WORD CreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    const VK_WORD first = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
    if (first == kInvalidLDNumber) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'ld_number != 0xFFFF' failed: Failed to get first ld number of array\n",
                    __FILE__, __LINE__);
        return kInvalidArrayNumber;
    }
    const pavlin::TrackedPtr<MIRROR_DRIVE_PAIR_INFO> info(VK_GetMirrorPairInfo(cda, first));
    if (!info) {
        return kInvalidArrayNumber;
    }
    // The reader cut the total to the bytes it read; it never reads fewer than the default size.
    const VK_DWORD total = info->dwTotalStructureLength;
    const pavlin::ByteView reply(
        info.get(), total > kMirrorDrivePairInfoDefaultSize ? total : kMirrorDrivePairInfoDefaultSize);
    const size_t map_bytes = static_cast<size_t>(info->wMaximumPhysicalDevicesSupported) / 8;
    pavlin::TrackedBuffer new_map = PN_TRACKED_ZEROED(map_bytes);
    if (!new_map || map_bytes == 0) {
        return kInvalidArrayNumber;
    }
    const VK_DWORD timestamp = __VK_GenerateTimestamp();
    const bool extended_maps = _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse;
    VK_WORD data_drives[kMaxPhysicalDrivesSupported];
    size_t data_count = 0;
    for (VK_WORD pd = VK_EnumerateArrayDataDrives(cda, array_number, kInvalidPDNumber);
         pd != kInvalidPDNumber && data_count < kMaxPhysicalDrivesSupported;
         pd = VK_EnumerateArrayDataDrives(cda, array_number, pd)) {
        data_drives[data_count++] = pd;
    }
    const VK_BYTE level = RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, first));
    const pavlin::ByteSpan map(new_map.get(), new_map.size());
    const bool selected =
        IsThreeWayMirror(level)
            ? telmar::SelectPrimarySplitDrivesNway(reply, extended_maps, data_drives, data_count, map)
            : telmar::SelectPrimarySplitDrives(reply, extended_maps, data_drives, data_count, map);
    bool stopped = !selected;
    const size_t kept = CountBits(map.view());

    // The model is rebuilt after the split; the drives are listed before anything changes.
    VK_WORD lds[kMaxLogicalDrivesSupported];
    size_t ld_count = 0;
    for (VK_WORD ld = first; ld != kInvalidLDNumber && ld_count < kMaxLogicalDrivesSupported;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        lds[ld_count++] = ld;
    }
    VK_WORD last_backup = kInvalidLDNumber;
    VK_WORD search_from = 0;
    for (size_t i = 0; i < ld_count && !stopped; ++i) {
        const VK_WORD ld = lds[i];
        const VK_WORD n = NextFreeLogicalDrive(cda, search_from);
        LOGICAL_DRIVE_CONFIG* config =
            n == kInvalidLDNumber ? nullptr : VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld);
        if (config == nullptr) {
            PN_DebugLog(1, 0, "%s:%d: Failed to get configuration information for ld %u\n", __FILE__,
                        __LINE__, ld);
            stopped = true;
            break;
        }
        config->wOtherVolumeDriveNumber = n;
        config->bBIOSDisableFlag |= kBIOSDisableHidden;
        config->wFaultToleranceMode =
            config->wFaultToleranceMode == kFaultToleranceTripleMirror ? kFaultToleranceMirror : 0;
        config->wAssignedDrives = static_cast<VK_WORD>(kept);
        if (!PutSplitDriveMap(*config, map.view(), extended_maps, ld)) {
            VK_free(config);
            stopped = true;
            break;
        }
        config->bBreakUpFlags = kBreakUpSplit;
        config->dwOtherVolumeSignature = __VK_GenerateLogicalDriveSignature(n);
        if (!VK_JoinSplitMirror(cda, ld, config)) {
            PN_DebugLog(1, 0, "%s:%d: Fail to split ld %u\n", __FILE__, __LINE__, ld);
            stopped = true;
            break;
        }
        LOGICAL_DRIVE_CONFIG* backup = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, n);
        if (backup == nullptr) {
            PN_DebugLog(1, 0, "%s:%d: Failed to get configuration information for new ld %u\n", __FILE__,
                        __LINE__, n);
            stopped = true;
            break;
        }
        backup->bLogicalDriveProperty |= kPropertyBackup;
        backup->dwBackupTimestamp = timestamp;
        backup->bGUIMajorVer = 0;
        backup->bGUIMinorVer = 0;
        backup->bGUIOptions = kBackupGUIOptions;
        backup->bConfigModMajorVer = kBackupConfigModMajorVer;
        if (!VK_SetConfiguration(cda, n, backup)) {
            PN_DebugLog(1, 0, "%s:%d: Failed to update information on backup ld %u\n", __FILE__, __LINE__, n);
            stopped = true;
            break;
        }
        LabelBackup(cda, n);
        // The record of n is not read again until the re-initialisation; mark it taken.
        _VK_CDA(cda)->ld_record_list[n].flags |= kLDRecordExists;
        last_backup = n;
        search_from = static_cast<VK_WORD>(n + 1);
    }
    VK_ReInitializeCDA(cda);
    if (stopped || last_backup == kInvalidLDNumber) {
        return kInvalidArrayNumber;
    }
    return VK_GetLogicalDriveArray(cda, last_backup);
}

VK_BYTE CanActivateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    VK_BYTE result = kCanActivateArraySplitMirrorBackupAllowed;
    if (LiveOFARunning(cda)) {
        result = kCanActivateArraySplitMirrorBackupControllerOFAActive;
    } else {
        const VK_BYTE type = VK_GetArrayType(cda, array_number);
        if (type == kArrayTypeSplitMirrorBackup || type == kArrayTypeSplitMirrorBackupOrphan) {
            if ((VK_GetControllerStatusInfo(cda) & kControllerStatusMask) != kControllerStatusOK) {
                result = kCanActivateArraySplitMirrorBackupControllerNotOK;
            } else if (!VK_ControllerSupportsResyncAndRollback(cda)) {
                result = kCanActivateArraySplitMirrorBackupNotSupported;
            } else if (VK_GetArrayStatusInfo(cda, array_number) != kArrayStatusOK) {
                result = kCanActivateArraySplitMirrorBackupArrayNotOK;
            }
        } else {
            result = kCanActivateArraySplitMirrorBackupNotBackupArrayOrOrphan;
        }
    }
    if (VK_IsControllerLUCacheEnabled(cda)) {
        result = kCanActivateArraySplitMirrorBackupLUCacheEnabled;
    }
    return result;
}

VK_BOOL ArrayIsSEDEnabled(PCDA cda, VK_WORD array_number) {
    const VK_WORD first = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
    return first != kInvalidLDNumber &&
                   (VK_GetLogicalDriveEncryptionInfo(cda, first) & kLDEncryptionSEDEnabledBit)
               ? kTrue
               : kFalse;
}

VK_BYTE CanJoinArraySplitMirror(PCDA cda, VK_WORD array_number) {
    if (LiveOFARunning(cda)) {
        return kCanJoinArraySplitMirrorControllerOFAActive;
    }
    if (AdapterPasswordAwaited(cda)) {
        return kCanJoinArraySplitMirrorSEDWaitingOnAdapterPassword;
    }
    if ((VK_GetControllerStatusInfo(cda) & kControllerStatusMask) != kControllerStatusOK) {
        return kCanJoinArraySplitMirrorControllerStatusNotOK;
    }
    if (!VK_ControllerSupportsSplitMirrorBackup(cda)) {
        return kCanJoinArraySplitMirrorNotSupported;
    }
    if (VK_GetArrayStatusInfo(cda, array_number) != kArrayStatusOK) {
        return kCanJoinArraySplitMirrorArrayNotOK;
    }
    const VK_BYTE type = VK_GetArrayType(cda, array_number);
    if (type == kArrayTypeLUCache) {
        return kCanJoinArraySplitMirrorArrayIsCaching;
    }
    if (type != kArrayTypeSplitMirrorPrimary) {
        return kCanJoinArraySplitMirrorArrayIsInvalidType;
    }
    const VK_WORD partner = __VK_GetPartnerArray(cda, array_number);
    if (partner == kInvalidArrayNumber) {
        return kCanJoinArraySplitMirrorNoMatchingArray;
    }
    if (VK_GetArrayStatusInfo(cda, partner) != kArrayStatusOK) {
        return kCanJoinArraySplitMirrorArrayNotOK;
    }
    if (ArrayIsSEDEnabled(cda, array_number) != ArrayIsSEDEnabled(cda, partner)) {
        return kCanJoinArraySplitMirrorSEDIncompatibleSEDArrayStatus;
    }
    if (VK_IsControllerLUCacheEnabled(cda)) {
        return kCanJoinArraySplitMirrorLUCacheEnabled;
    }
    return kCanJoinArraySplitMirrorAllowed;
}

} // namespace

namespace telmar {

std::optional<pavlin::ByteView> SplitPairTable(pavlin::ByteView reply, bool extended_map, size_t* entries) {
    *entries = 0;
    constexpr size_t kTotalAt = offsetof(MIRROR_DRIVE_PAIR_INFO, dwTotalStructureLength);
    const size_t total = reply.le32(kTotalAt).value_or(0);
    if (extended_map) {
        const size_t maximum =
            reply.le16(offsetof(MIRROR_DRIVE_PAIR_INFO, wMaximumPhysicalDevicesSupported)).value_or(0);
        const auto table =
            MapAt(reply.first(total < reply.size() ? total : reply.size()),
                  reply.le16(offsetof(MIRROR_DRIVE_PAIR_INFO, wOffsetToExtendedPairedDrive)).value_or(0),
                  maximum * sizeof(VK_WORD));
        if (table) {
            *entries = maximum;
        }
        return table;
    }
    const auto table = reply.sub(offsetof(MIRROR_DRIVE_PAIR_INFO, pwPairedDrive),
                                 sizeof(MIRROR_DRIVE_PAIR_INFO::pwPairedDrive));
    if (table) {
        *entries = sizeof(MIRROR_DRIVE_PAIR_INFO::pwPairedDrive) / sizeof(VK_WORD);
    }
    return table;
}

namespace {
VK_WORD PairOf(pavlin::ByteView table, size_t entries, VK_WORD pd) {
    return pd < entries ? table.le16(static_cast<size_t>(pd) * sizeof(VK_WORD)).value_or(kInvalidPDNumber)
                        : kInvalidPDNumber;
}
} // namespace

bool SelectPrimarySplitDrives(pavlin::ByteView reply, bool extended_map, const VK_WORD* data_drives,
                              size_t data_drive_count, pavlin::ByteSpan new_map) {
    size_t entries = 0;
    const auto table = SplitPairTable(reply, extended_map, &entries);
    if (!table) {
        PN_DebugLog(1, 0, "%s:%d: Mirror pair list lies outside the reply\n", __FILE__, __LINE__);
        return false;
    }
    for (size_t i = 0; i < data_drive_count; ++i) {
        const VK_WORD pd = data_drives[i];
        const VK_WORD partner = PairOf(*table, entries, pd);
        if (!MapBit(new_map.data(), new_map.size(), partner)) {
            PutMapBit(new_map, pd);
        }
    }
    return true;
}

bool SelectPrimarySplitDrivesNway(pavlin::ByteView reply, bool extended_map, const VK_WORD* data_drives,
                                  size_t data_drive_count, pavlin::ByteSpan new_map) {
    size_t entries = 0;
    const auto table = SplitPairTable(reply, extended_map, &entries);
    if (!table) {
        PN_DebugLog(1, 0, "%s:%d: Mirror pair list lies outside the reply\n", __FILE__, __LINE__);
        return false;
    }
    const size_t groups =
        reply.le16(offsetof(MIRROR_DRIVE_PAIR_INFO, wMaximumPhysicalDevicesSupported)).value_or(0) / 3;
    pavlin::TrackedBuffer counts = PN_TRACKED_ZEROED(groups);
    if (!counts) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'group_counts != NULL' failed: Failed to allocate mirror group counters\n",
            __FILE__, __LINE__);
        return false;
    }
    for (size_t i = 0; i < data_drive_count; ++i) {
        const VK_WORD pd = data_drives[i];
        const VK_WORD group = PairOf(*table, entries, pd);
        if (group < groups && counts.get()[group] < 2 && PutMapBit(new_map, pd)) {
            ++counts.get()[group];
        }
    }
    return true;
}

} // namespace telmar

VK_BOOL __VK_AreVolumesSiblings(PCDA cda, VK_WORD ld_a, VK_WORD ld_b) {
    if (cda == nullptr || ld_a == ld_b || ld_a >= kMaxLogicalDrivesSupported ||
        ld_b >= kMaxLogicalDrivesSupported) {
        return kFalse;
    }
    const VK_BYTE a = RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld_a));
    const VK_BYTE b = RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld_b));
    const bool nway = VK_ControllerSupportsNWayRAID(cda) != kFalse;
    const bool levels = (a == kRAID0 && b == kRAID0) ||
                        (nway && ((a == kRAID0 && IsTwoWayMirror(b)) || (b == kRAID0 && IsTwoWayMirror(a))));
    if (!levels) {
        return kFalse;
    }
    if (VK_GetLogicalDriveSize(cda, ld_a, 0) != VK_GetLogicalDriveSize(cda, ld_b, 0) ||
        VK_GetLogicalDriveSize(cda, ld_a, 2) != VK_GetLogicalDriveSize(cda, ld_b, 2) ||
        ((VK_GetLogicalDriveBasicInfo(cda, ld_a) ^ VK_GetLogicalDriveBasicInfo(cda, ld_b)) & 0xF0) != 0 ||
        ((VK_GetLogicalDriveEncryptionInfo(cda, ld_a) ^ VK_GetLogicalDriveEncryptionInfo(cda, ld_b)) &
         0xFF) != 0) {
        return kFalse;
    }
    if (!VK_RequestSenseConfigurationBuffer(cda, ld_a) || !VK_RequestSenseConfigurationBuffer(cda, ld_b)) {
        return kFalse;
    }
    const _CDA* c = _VK_CDA(cda);
    return c->ld_record_list[ld_a].sense_config_buffer.data_offset ==
                   c->ld_record_list[ld_b].sense_config_buffer.data_offset
               ? kTrue
               : kFalse;
}

VK_WORD __VK_GetPartnerArray(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr || LiveArray(cda, array_number) == nullptr) {
        return kInvalidArrayNumber;
    }
    const VK_WORD count = LiveArray(cda, array_number)->ld_count;
    for (VK_WORD other = VK_EnumerateAllArrays(cda, kInvalidArrayNumber); other != kInvalidArrayNumber;
         other = VK_EnumerateAllArrays(cda, other)) {
        const ArrayRecord* candidate = LiveArray(cda, other);
        if (other == array_number || candidate == nullptr ||
            VK_GetArrayType(cda, other) != kArrayTypeSplitMirrorBackup || candidate->ld_count == 0 ||
            candidate->ld_count != count) {
            continue;
        }
        for (VK_WORD p = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
             p != kInvalidLDNumber; p = VK_EnumerateArrayLogicalDrives(cda, array_number, p)) {
            for (VK_WORD b = VK_EnumerateArrayLogicalDrives(cda, other, kInvalidLDNumber);
                 b != kInvalidLDNumber; b = VK_EnumerateArrayLogicalDrives(cda, other, b)) {
                if (!VK_RequestIdentifyLogicalDriveBuffer(cda, p) ||
                    !VK_RequestIdentifyLogicalDriveBuffer(cda, b) ||
                    !VK_RequestSenseConfigurationBuffer(cda, p) ||
                    !VK_RequestSenseConfigurationBuffer(cda, b)) {
                    continue;
                }
                const LOGICAL_DRIVE_CONFIG& cp = _VK_CDA(cda)->ld_record_list[p].sense_config_buffer;
                const LOGICAL_DRIVE_CONFIG& cb = _VK_CDA(cda)->ld_record_list[b].sense_config_buffer;
                if (cp.signature == cb.dwOtherVolumeSignature && cb.signature == cp.dwOtherVolumeSignature &&
                    __VK_AreVolumesSiblings(cda, p, b)) {
                    return other;
                }
            }
        }
    }
    return kInvalidArrayNumber;
}

VK_BOOL __VK_CombineArrays(PCDA cda, VK_WORD kept_array, VK_WORD discarded_array, VK_WORD action) {
    if (cda == nullptr ||
        (action != kJoinArraySplitMirrorRemirror && action != kJoinArraySplitMirrorRollback)) {
        return kFalse;
    }
    if (VK_EnumerateArrayLogicalDrives(cda, kept_array, kInvalidLDNumber) == kInvalidLDNumber) {
        return kFalse;
    }
    const bool extended_maps = _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse;
    const size_t data_sum =
        NUM_DATA_PHYSICAL_DRIVES(VK_GetArrayPhysicalDriveCounts(cda, kept_array)) +
        static_cast<size_t>(NUM_DATA_PHYSICAL_DRIVES(VK_GetArrayPhysicalDriveCounts(cda, discarded_array)));
    // The model is rebuilt after each join; the pairs are settled before anything changes.
    struct Pair {
        VK_WORD kept, discarded;
    };
    Pair pairs[kMaxLogicalDrivesSupported];
    size_t pair_count = 0;
    for (VK_WORD k = VK_EnumerateArrayLogicalDrives(cda, kept_array, kInvalidLDNumber);
         k != kInvalidLDNumber && pair_count < kMaxLogicalDrivesSupported;
         k = VK_EnumerateArrayLogicalDrives(cda, kept_array, k)) {
        VK_WORD match = kInvalidLDNumber;
        if (VK_RequestSenseConfigurationBuffer(cda, k)) {
            const VK_DWORD offset = _VK_CDA(cda)->ld_record_list[k].sense_config_buffer.data_offset;
            for (VK_WORD d = VK_EnumerateArrayLogicalDrives(cda, discarded_array, kInvalidLDNumber);
                 d != kInvalidLDNumber; d = VK_EnumerateArrayLogicalDrives(cda, discarded_array, d)) {
                if (VK_RequestSenseConfigurationBuffer(cda, d) &&
                    _VK_CDA(cda)->ld_record_list[d].sense_config_buffer.data_offset == offset) {
                    match = d;
                    break;
                }
            }
        }
        if (match == kInvalidLDNumber) {
            return kFalse;
        }
        pairs[pair_count++] = {k, match};
    }
    for (size_t i = 0; i < pair_count; ++i) {
        const VK_WORD k = pairs[i].kept;
        const VK_WORD d = pairs[i].discarded;
        const bool mirrored = IsTwoWayMirror(RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, k))) ||
                              IsTwoWayMirror(RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, d)));
        LOGICAL_DRIVE_CONFIG* kept = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, k);
        const pavlin::TrackedPtr<LOGICAL_DRIVE_CONFIG> discarded(
            VK_GetLogicalDriveConfigurationBufferForUpdate(cda, d));
        if (kept == nullptr || !discarded) {
            VK_free(kept);
            return kFalse;
        }
        if (extended_maps) {
            const size_t bytes = ConfigMapBytes(*kept);
            auto to = ConfigMapSpan(*kept, kept->wOffsetToExtendedDriveAssignmentMap, bytes);
            const auto from = telmar::MapAt(pavlin::ByteView(discarded.get(), ConfigLimit(*discarded)),
                                            discarded->wOffsetToExtendedDriveAssignmentMap <
                                                    offsetof(LOGICAL_DRIVE_CONFIG, reserved300)
                                                ? 0
                                                : discarded->wOffsetToExtendedDriveAssignmentMap,
                                            std::min(bytes, ConfigMapBytes(*discarded)));
            if (!to || !from) {
                PN_DebugLog(1, 0, "%s:%d: Extended drive assignment map outside the config of ld %u or %u\n",
                            __FILE__, __LINE__, k, d);
                VK_free(kept);
                return kFalse;
            }
            for (size_t b = 0; b < from->size(); ++b) {
                to->put8(b, static_cast<VK_BYTE>(to->data()[b] | from->u8(b).value_or(0)));
            }
        } else {
            for (size_t b = 0; b < kBigMapBytes; ++b) {
                kept->pbBigDriveAssignmentMap[b] |= discarded->pbBigDriveAssignmentMap[b];
            }
        }
        if (mirrored) {
            kept->wFaultToleranceMode = kFaultToleranceTripleMirror;
            kept->wDrivesConsumedForFaultTolerance = static_cast<VK_WORD>(data_sum * 2 / 3);
        } else {
            kept->wFaultToleranceMode = kFaultToleranceMirror;
        }
        kept->bBreakUpFlags = action == kJoinArraySplitMirrorRemirror ? kBreakUpRemirror : kBreakUpRollback;
        kept->wOtherVolumeDriveNumber = d;
        kept->wAssignedDrives = static_cast<VK_WORD>(data_sum);
        ClearBackupFields(*kept);
        if (!VK_JoinSplitMirror(cda, k, kept)) {
            return kFalse;
        }
    }
    return kTrue;
}

VK_WORD __VK_CreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    return UnderLock(cda, kInvalidArrayNumber, CreateArraySplitMirrorBackup, array_number);
}

VK_BYTE VK_CanCreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    return UnderLock(cda, kCanCreateArraySplitMirrorBackupNotSupported, CanCreateArraySplitMirrorBackup,
                     array_number);
}

VK_WORD VK_CreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    if (CanCreateArraySplitMirrorBackup(cda, array_number) != kCanCreateArraySplitMirrorBackupAllowed) {
        return kInvalidArrayNumber;
    }
    return CreateArraySplitMirrorBackup(cda, array_number);
}

VK_BYTE VK_CanActivateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    return UnderLock(cda, kCanActivateArraySplitMirrorBackupNotBackupArrayOrOrphan,
                     CanActivateArraySplitMirrorBackup, array_number);
}

VK_BOOL VK_ActivateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (CanActivateArraySplitMirrorBackup(cda, array_number) != kCanActivateArraySplitMirrorBackupAllowed) {
        return kFalse;
    }
    VK_WORD lds[kMaxLogicalDrivesSupported];
    size_t ld_count = 0;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         ld != kInvalidLDNumber && ld_count < kMaxLogicalDrivesSupported;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        lds[ld_count++] = ld;
    }
    bool any = false;
    for (size_t i = 0; i < ld_count; ++i) {
        LOGICAL_DRIVE_CONFIG* config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, lds[i]);
        if (config == nullptr) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to allocate buffer to activate "
                "split mirror of array\n",
                __FILE__, __LINE__);
            continue;
        }
        ClearBackupFields(*config);
        if (VK_SetConfiguration(cda, lds[i], config)) {
            any = true;
        }
    }
    if (any) {
        PN_ExecuteRegNewDiskMessage(_VK_CDA(cda)->controller_handle);
        VK_ReInitializeCDA(cda);
    }
    return any ? kTrue : kFalse;
}

VK_BYTE VK_CanJoinArraySplitMirror(PCDA cda, VK_WORD array_number) {
    return UnderLock(cda, kCanJoinArraySplitMirrorNotSupported, CanJoinArraySplitMirror, array_number);
}

VK_BOOL VK_JoinArraySplitMirror(PCDA cda, VK_WORD array_number, VK_WORD action) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (CanJoinArraySplitMirror(cda, array_number) != kCanJoinArraySplitMirrorAllowed) {
        return kFalse;
    }
    const VK_WORD partner = __VK_GetPartnerArray(cda, array_number);
    if (partner == kInvalidArrayNumber) {
        return kFalse;
    }
    const bool rollback = action == kJoinArraySplitMirrorRollback;
    const VK_BOOL joined =
        __VK_CombineArrays(cda, rollback ? partner : array_number, rollback ? array_number : partner, action);
    if (joined) {
        VK_ReInitializeCDA(cda);
    }
    return joined;
}

// ---- Healing an array ----
//
// The failed data drives of an array are replaced by unassigned drives the caller names: every
// logical drive of the array gets its member map rewritten; a failed one is created again (0x51) and
// keeps its label, any other is changed (0x54) and the controller rebuilds onto the new drives.

namespace {

constexpr VK_DWORD kArrayStatusBusy = 0x200 | 0x400 | 0x800 | 0x1000 | 0x2000;
constexpr VK_QWORD kSEDStatusEncryptionEnabled = 0x20;
constexpr VK_BYTE kLDEncryptionPlaintextByte = 0x01;
constexpr VK_BYTE kSEDTypeNone = 1;
constexpr VK_BYTE kSEDTypeOpal = 2;
constexpr VK_BYTE kSEDTypeEnterprise = 4;

bool PhysicalDriveFailed(PCDA cda, VK_WORD pd) {
    return PHYSICAL_DRIVE_STATUS_LEVEL(VK_GetPhysicalDriveStatusInfo(cda, pd)) ==
           kPhysicalDriveStatusLevelFailed;
}

VK_BYTE LDUnitStatus(PCDA cda, VK_WORD ld) {
    return LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld));
}

VK_BYTE CanHealArrayWithPhysicalDrive(PCDA cda, VK_WORD array_number, VK_WORD pd) {
    if (LiveArray(cda, array_number) == nullptr || !VK_RequestIdentifyControllerBuffer(cda)) {
        return kCanHealArrayDriveInvalid;
    }
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    if (array_number >= id.wMaximumLogicalDevicesSupported || pd >= kMaxPhysicalDrivesSupported ||
        pd >= id.wMaximumPhysicalDevicesSupported) {
        return kCanHealArrayDriveInvalid;
    }
    const VK_BYTE usage = VK_GetPhysicalDriveUsageInfo(cda, pd);
    const VK_DWORD pd_status = VK_GetPhysicalDriveStatusInfo(cda, pd);
    const VK_QWORD sed_status = VK_GetControllerSEDEncryptionStatus(cda);
    const VK_WORD last = VK_rEnumerateArrayLogicalDrivesByOffset(cda, array_number, kInvalidLDNumber);
    if (last >= kMaxLogicalDrivesSupported) {
        return kCanHealArrayNoLogicalDriveFound;
    }
    const LogicalDriveRecord& record = _VK_CDA(cda)->ld_record_list[last];
    const VK_QWORD needed = record.physical_drive_offset_block + record.physical_drive_blocks_per_drive;
    VK_WORD reference = kInvalidPDNumber;
    for (VK_WORD p = VK_EnumerateArrayPhysicalDrives(cda, array_number, kInvalidPDNumber);
         p != kInvalidPDNumber; p = VK_EnumerateArrayPhysicalDrives(cda, array_number, p)) {
        if (reference == kInvalidPDNumber) {
            reference = p;
        }
        if (!PhysicalDriveFailed(cda, p)) {
            reference = p;
            break;
        }
    }
    if (sed_status & kSEDStatusWaitingOnAdapterPassword) {
        return kCanHealArrayWaitingOnSEDAdapterPassword;
    }
    if (usage != kPhysicalDriveUsageUnassigned) {
        return kCanHealArrayDriveNotUnassigned;
    }
    if (pd_status & kPhysicalDriveStatusExcludeFromConfigurationBit) {
        return kCanHealArrayDriveNotConfigurable;
    }
    if (VK_GetPhysicalDriveSize(cda, pd, kPhysicalDriveSizeUsableBlocks) < needed) {
        return kCanHealArrayDriveTooSmall;
    }
    const VK_BYTE compatibility = __VK_PhysicalDriveCompatibility(cda, reference, pd);
    if (compatibility != 0xFF) {
        if (!(compatibility & 0x08)) {
            return kCanHealArrayDriveBlockSizeMismatch;
        }
        return (compatibility & 0x10) ? kCanHealArrayDriveTypeMismatch
                                      : kCanHealArrayDriveIncompatibleConnectors;
    }
    if (sed_status & kSEDStatusEncryptionEnabled) {
        const VK_BYTE types = _VK_GetArrayCommonSEDType(cda, array_number);
        const bool mixed = ((types & kSEDTypeNone) && (types & (kSEDTypeOpal | kSEDTypeEnterprise))) ||
                           ((types & kSEDTypeOpal) && (types & kSEDTypeEnterprise));
        if (mixed) {
            return kCanHealArrayMixedSEDTypes;
        }
        if (__VK_ArrayCheckSEDRules(cda, types, sed_status, pd) != 0) {
            return kCanHealArrayDriveInvalid;
        }
    }
    return kCanHealArrayAllowed;
}

int CompareDriveNumbers(const void* a, const void* b) {
    return static_cast<int>(*static_cast<const VK_WORD*>(a)) -
           static_cast<int>(*static_cast<const VK_WORD*>(b));
}

size_t DistinctDrives(const VK_WORD* pd_list, size_t pd_list_size) {
    if (pd_list == nullptr || pd_list_size == 0) {
        return 0;
    }
    pavlin::TrackedBuffer copy = PN_TRACKED_BUFFER(pd_list_size * sizeof(VK_WORD));
    if (!copy) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'pd_list_copy != NULL' failed: Failed to copy the drive list\n",
                    __FILE__, __LINE__);
        return pd_list_size;
    }
    std::memcpy(copy.get(), pd_list, pd_list_size * sizeof(VK_WORD));
    size_t count = pd_list_size;
    VK_uniq(copy.get(), &count, sizeof(VK_WORD), CompareDriveNumbers);
    return count;
}

VK_BYTE CanHealArray(PCDA cda, VK_WORD array_number, const VK_WORD* pd_list, size_t pd_list_size) {
    if (LiveOFARunning(cda)) {
        return kCanHealArrayControllerOFAActive;
    }
    if (LiveArray(cda, array_number) == nullptr) {
        return kCanHealArrayInvalidArray;
    }
    if (pd_list == nullptr && pd_list_size != 0) {
        return kCanHealArrayDriveInvalid;
    }
    const VK_DWORD controller_status = VK_GetControllerStatusInfo(cda);
    const VK_WORD failed = __VK_GetArrayFailedDataDriveCount(cda, array_number);
    const VK_DWORD array_status = VK_GetArrayStatusInfo(cda, array_number);
    const VK_BYTE type = VK_GetArrayType(cda, array_number);
    const size_t distinct = DistinctDrives(pd_list, pd_list_size);
    if (!VK_ControllerSupportsHealArray(cda)) {
        return kCanHealArrayNotSupported;
    }
    if (VK_IsControllerLUCacheEnabled(cda)) {
        return kCanHealArrayLUCachingEnabled;
    }
    if (array_status & kArrayStatusBusy) {
        return kCanHealArrayIsTransforming;
    }
    if ((controller_status & kControllerStatusMask) != kControllerStatusOK) {
        return kCanHealArrayControllerStatusNotOK;
    }
    const VK_DWORD cache_status =
        (controller_status & kControllerCacheStatusMask) >> kControllerCacheStatusShift;
    if ((cache_status == kControllerCacheStatusTemporarilyDisabled ||
         cache_status == kControllerCacheStatusPermanentlyDisabled) &&
        !(VK_ControllerSupportsTransformations(cda) & kControllerSupportsPowerlessTransformations)) {
        return kCanHealArrayControllerCacheStatusNotOK;
    }
    if (distinct != pd_list_size) {
        return kCanHealArrayDuplicateDrivesInList;
    }
    if (failed == 0) {
        return kCanHealArrayNoFailedDrives;
    }
    if (pd_list_size < failed) {
        return kCanHealArrayNotEnoughReplacementDrives;
    }
    if (pd_list_size > failed) {
        return kCanHealArrayTooManyReplacementDrives;
    }
    if (type == kArrayTypeSplitMirrorBackup || type == kArrayTypeSplitMirrorBackupOrphan) {
        return kCanHealArraySplitMirrorBackup;
    }
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         ld != kInvalidLDNumber; ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        if (type == kArrayTypeSplitMirrorPrimary &&
            !IsTwoWayMirror(RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld)))) {
            return kCanHealArrayRAIDLevelNotSupported;
        }
        if (LDUnitStatus(cda, ld) != kLogicalDriveUnitStatus1Failed) {
            switch (_VK_IsLogicalDriveTransformable(cda, ld)) {
                case 1:
                    break;
                case 2:
                    return kCanHealArrayExceedsTransformationMemory;
                case 4:
                    return kCanHealArrayDataPreservationNotAvailable;
                default:
                    return kCanHealArrayCannotTransformUnknownReason;
            }
        }
    }
    for (size_t i = 0; i < pd_list_size; ++i) {
        const VK_BYTE one = CanHealArrayWithPhysicalDrive(cda, array_number, pd_list[i]);
        if (one != kCanHealArrayAllowed) {
            return one;
        }
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionEnabled) {
        for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
             ld != kInvalidLDNumber; ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
            if (LDUnitStatus(cda, ld) == kLogicalDriveUnitStatus1Failed &&
                (VK_GetLogicalDriveEncryptionInfo(cda, ld) & 0xFF) != kLDEncryptionPlaintextByte) {
                return kCanHealArrayLoginNeeded;
            }
        }
    }
    return kCanHealArrayAllowed;
}

// Writes one logical drive of the heal; true when the controller took it.
bool HealLogicalDrive(PCDA cda, VK_WORD array_number, VK_WORD ld, const VK_WORD* pd_list, size_t pd_list_size,
                      bool extended_maps, VK_BYTE can, VK_BYTE user, const char* password,
                      size_t password_size) {
    LOGICAL_DRIVE_CONFIG* config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld);
    if (config == nullptr) {
        PN_DebugLog(
            1, 0, "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get config buffer to heal\n",
            __FILE__, __LINE__);
        return false;
    }
    const VK_WORD max_devices =
        VK_RequestIdentifyControllerBuffer(cda)
            ? _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported
            : 0;
    const telmar::FailedDriveTest failed = [cda, max_devices](VK_WORD pd) {
        return pd < max_devices && PhysicalDriveFailed(cda, pd);
    };
    if (!telmar::RewriteHealMaps(*config, extended_maps, ld, pd_list, pd_list_size, failed)) {
        VK_free(config);
        return false;
    }
    VK_WORD present = 0;
    VK_WORD p;
    FOREACH_PHYSICAL_DRIVE(cda, p) {
        if (!PhysicalDriveFailed(cda, p)) {
            ++present;
        }
    }
    config->wPhysicalDrives = present;
    if (LDUnitStatus(cda, ld) != kLogicalDriveUnitStatus1Failed) {
        if (!VK_ChangeConfiguration(cda, ld, config)) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'success' failed: Failed to heal degraded ld %u of array %u\n",
                        __FILE__, __LINE__, ld, array_number);
            return false;
        }
        return true;
    }
    const bool to_plaintext = can == kCanHealArrayLoginNeeded && (VK_GetLogicalDriveEncryptionInfo(cda, ld) &
                                                                  0xFF) != kLDEncryptionPlaintextByte;
    char label[sizeof(LABEL_LOGICAL_DRIVE::pbLogicalDriveLabel) + 1] = {};
    VK_GetLogicalDriveVolumeLabel(cda, ld, label, sizeof(label));
    if (!VK_SetConfiguration(cda, ld, config)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to heal ld %u of array %u\n", __FILE__,
                    __LINE__, ld, array_number);
        return false;
    }
    LABEL_LOGICAL_DRIVE* label_buffer = VK_GetLabelLogicalDriveBufferForUpdate(cda);
    if (label_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'label_buffer != ((void *)0)' failed: Failed to get ld label buffer\n",
                    __FILE__, __LINE__);
        return false;
    }
    label_buffer->dwLogicalDriveIdentifier = 0xFFFFFFFF;
    std::memcpy(label_buffer->pbLogicalDriveLabel, label, sizeof(label_buffer->pbLogicalDriveLabel));
    if (!VK_LabelLogicalDrive(cda, ld, label_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to set ld label %u of array %u\n",
                    __FILE__, __LINE__, ld, array_number);
        return false;
    }
    if (to_plaintext && !_VK_SetLogicalVolumeToPlainText(cda, user == kControllerEncryptionCryptoUser ? 1 : 0,
                                                         ld, password, password_size)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to rekey-heal ld %u of array %u\n",
                    __FILE__, __LINE__, ld, array_number);
        return false;
    }
    return true;
}

} // namespace

namespace telmar {

bool RewriteHealMaps(LOGICAL_DRIVE_CONFIG& config, bool extended_maps, VK_WORD ld_number,
                     const VK_WORD* pd_list, size_t pd_list_size, const FailedDriveTest& failed) {
    constexpr size_t kBigMapDrives = 8 * kBigMapBytes;
    config.dwDriveAssignmentMap = 0;
    config.bDriveTypeMixFlag = 0;
    size_t assigned = 0;
    if (!extended_maps) {
        config.wOffsetToExtendedDriveAssignmentMap = 0;
        config.wOffsetToExtendedSpareAssignmentMap = 0;
        ClearFailedDrivesInMap(config.pbBigDriveAssignmentMap, kBigMapBytes, failed);
        ClearFailedDrivesInMap(config.pbBigSpareAssignmentMap, sizeof(config.pbBigSpareAssignmentMap),
                               failed);
        const pavlin::ByteSpan map(config.pbBigDriveAssignmentMap, kBigMapBytes);
        for (size_t i = 0; i < pd_list_size; ++i) {
            if (pd_list[i] >= kBigMapDrives || !PutMapBit(map, pd_list[i])) {
                PN_DebugLog(1, 0, "%s:%d: Invalid pd number %u for big data assignment map for ld %u\n",
                            __FILE__, __LINE__, pd_list[i], ld_number);
                return false;
            }
        }
        for (size_t pd = 0; pd < kBigMapDrives; ++pd) {
            assigned += MapBit(map.data(), map.size(), pd) && !failed(static_cast<VK_WORD>(pd));
        }
    } else {
        std::memset(config.pbBigDriveAssignmentMap, 0, kBigMapBytes);
        const VK_WORD max_devices = config.wMaximumPhysicalDevicesSupported;
        const size_t map_bytes = ConfigMapBytes(config);
        if (config.wOffsetToExtendedSpareAssignmentMap != 0 && max_devices != 0) {
            const auto spares = ConfigMapSpan(config, config.wOffsetToExtendedSpareAssignmentMap, map_bytes);
            if (!spares) {
                PN_DebugLog(1, 0,
                            "%s:%d: Extended spare assignment map (off:%u) outside the config of ld %u\n",
                            __FILE__, __LINE__,
                            static_cast<unsigned>(config.wOffsetToExtendedSpareAssignmentMap), ld_number);
                return false;
            }
            ClearFailedDrivesInMap(spares->data(), spares->size(), failed);
        }
        const auto drives =
            config.wOffsetToExtendedDriveAssignmentMap == 0 || max_devices == 0
                ? std::nullopt
                : ConfigMapSpan(config, config.wOffsetToExtendedDriveAssignmentMap, map_bytes);
        if (!drives) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Ctrl missing extended data assignment map (off:%u) for ld %u supporting %u drives\n",
                __FILE__, __LINE__, static_cast<unsigned>(config.wOffsetToExtendedDriveAssignmentMap),
                ld_number, max_devices);
            return false;
        }
        ClearFailedDrivesInMap(drives->data(), drives->size(), failed);
        for (size_t i = 0; i < pd_list_size; ++i) {
            if (pd_list[i] >= max_devices || !PutMapBit(*drives, pd_list[i])) {
                PN_DebugLog(1, 0, "%s:%d: Invalid pd number %u for extended data assignment map for ld %u\n",
                            __FILE__, __LINE__, pd_list[i], ld_number);
                return false;
            }
        }
        for (size_t pd = 0; pd < max_devices && pd < kMaxPhysicalDrivesSupported; ++pd) {
            assigned += MapBit(drives->data(), drives->size(), pd) && !failed(static_cast<VK_WORD>(pd));
        }
    }
    config.wAssignedDrives = static_cast<VK_WORD>(assigned);
    return true;
}

} // namespace telmar

VK_WORD __VK_GetArrayFailedDataDriveCount(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr || !VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const ArrayRecord* array = LiveArray(cda, array_number);
    if (array == nullptr) {
        return 0;
    }
    const VK_WORD max_devices = _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported;
    size_t count = array->missing_drive_count;
    for (size_t pd = 0; pd < max_devices; ++pd) {
        count += telmar::MapBit(array->failed_drive_bitmap, kDriveBitmapSize, pd) &&
                 telmar::MapBit(array->data_drive_bitmap, kDriveBitmapSize, pd);
    }
    return static_cast<VK_WORD>(count);
}

VK_BYTE VK_CanHealArrayWithPhysicalDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    return UnderLock(cda, kCanHealArrayDriveInvalid, CanHealArrayWithPhysicalDrive, array_number, pd_number);
}

VK_BYTE VK_CanHealArray(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size) {
    return UnderLock(cda, kCanHealArrayInvalidArray, CanHealArray, array_number, pd_list, pd_list_size);
}

VK_BYTE VK_HealArrayWithLoginSafe(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size,
                                  VK_BYTE user, const char* password, size_t password_size) {
    if (cda == nullptr) {
        return kHealArrayFailedNoChanges;
    }
    CDALock guard(cda);
    const VK_BYTE can = CanHealArray(cda, array_number, pd_list, pd_list_size);
    if (can == kCanHealArrayLoginNeeded) {
        if (user != kControllerEncryptionCryptoOfficer && user != kControllerEncryptionCryptoUser) {
            return kHealArrayInvalidUser;
        }
        if (!(VK_GetEncryptionUserCapabilities(cda, user) & kEncryptionUserCapabilityRekey)) {
            return kHealArrayPermissionDenied;
        }
        if (password == nullptr || password_size == 0 ||
            !VK_VerifyEncryptionPasswordSafe(cda, user, password, password_size)) {
            return kHealArrayLoginFailed;
        }
    } else if (can != kCanHealArrayAllowed) {
        return kHealArrayFailedNoChanges;
    }
    const bool extended_maps = _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse;
    VK_WORD lds[kMaxLogicalDrivesSupported];
    size_t ld_count = 0;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         ld != kInvalidLDNumber && ld_count < kMaxLogicalDrivesSupported;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        lds[ld_count++] = ld;
    }
    VK_BYTE result = kHealArraySuccess;
    bool changed = false;
    for (size_t i = 0; i < ld_count; ++i) {
        if (HealLogicalDrive(cda, array_number, lds[i], pd_list, pd_list_size, extended_maps, can, user,
                             password, password_size)) {
            changed = true;
        } else if (changed) {
            result = kHealArrayFailedWithChanges;
        } else {
            result = kHealArrayFailedNoChanges;
            break;
        }
    }
    if (changed) {
        for (size_t i = 0; i < pd_list_size; ++i) {
            _VK_ClearBootVolume(cda, kBootableVolumeDriveTypePhysical, pd_list[i]);
        }
        VK_ReInitializeCDA(cda);
    }
    return result;
}

VK_BYTE VK_HealArray(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size) {
    return VK_HealArrayWithLoginSafe(cda, array_number, pd_list, pd_list_size,
                                     kControllerEncryptionCryptoOfficer, nullptr, 0);
}

VK_BYTE VK_HealArrayWithLogin(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size,
                              VK_BYTE user, const char* password) {
    return VK_HealArrayWithLoginSafe(cda, array_number, pd_list, pd_list_size, user, password,
                                     password == nullptr ? 0 : std::strlen(password) + 1);
}
