// Logical drives of the staged configuration: their population from the live drives, the walks over
// them (by number, and over an array by offset on its drives, staged or live), their public flag
// word, array, RAID level and type.
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
#include "telm_records.h"

namespace {

constexpr size_t kLabelSize = sizeof(EDITABLE_LOGICAL_DRIVE::logical_drive_label);
constexpr size_t kArrayLogicalDriveCapacity = sizeof(EDITABLE_ARRAY::logical_drives) / sizeof(VK_WORD);

// Flags of every record made from a live drive: locked, RAID level, strip size, size and array set,
// placed, label unchanged.
constexpr VK_QWORD kFromLiveFlags = kEditableLDLocked | kEditableLDRAIDSet | kEditableLDFromLive |
                                    kEditableLDStripSizeSet | kEditableLDSizeSet | kEditableLDPlaced |
                                    kEditableLDArraySet | kEditableLDLabelUnchanged;
static_assert(kFromLiveFlags == 0x3F9);

// Bytes of an LU cache line for the info word's line-size code.
VK_DWORD LineBytes(VK_BYTE code) {
    switch (code) {
    case 1: return 65536;
    case 2: return 131072;
    case 4: return 262144;
    default: return 0;
    }
}

void FillLUCache(PCDA cda, EDITABLE_LOGICAL_DRIVE& ld) {
    const VK_WORD info = VK_GetLogicalDriveLUCacheInfo(cda, ld.ld_number);
    ld.lu_cache_algorithm = static_cast<VK_BYTE>(info & 0x7);
    const VK_DWORD line_bytes = LineBytes(static_cast<VK_BYTE>((info >> 8) & 0x7));
    ld.lu_cache_line_size_blocks = ld.block_size_bytes != 0 ? line_bytes / ld.block_size_bytes : 0;
    ld.lu_cache_policy = static_cast<VK_BYTE>((info >> 5) & 0x3);
    if (ld.lu_cache_policy == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'editable_ld->lu_cache_policy != 0' failed: Unable to determine requested lu "
                    "cache write policy for ld %u\n",
                    __func__, __LINE__, ld.ld_number);
        ld.lu_cache_policy = static_cast<VK_BYTE>((info >> 3) & 0x3);
        if (ld.lu_cache_policy == 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'editable_ld->lu_cache_policy != 0' failed: Unable to determine actual lu "
                        "cache write policy for ld %u\n",
                        __func__, __LINE__, ld.ld_number);
        }
    }
}

// The flag bits a live drive's encryption info and type add, and the array bit of its SED state.
void FillFlags(PCDA cda, EDITABLE_LOGICAL_DRIVE& ld, EDITABLE_ARRAY& array, VK_DWORD basic) {
    ld.flags = kFromLiveFlags;
    const VK_DWORD encryption = VK_GetLogicalDriveEncryptionInfo(cda, ld.ld_number);
    if (encryption & kLogicalDriveEncryptionEnabled) {
        ld.flags |= kEditableLDEncrypted;
    }
    if (LOGICAL_DRIVE_SED_ENCRYPTION_STATUS(encryption) & kLogicalDriveEncryptionSEDEnabled) {
        array.flags |= kEditableArrSEDEncryption;
    }
    if (((encryption & kLogicalDriveEncryptionVolatileKeyMask) >> kLogicalDriveEncryptionVolatileKeyShift) == 1) {
        ld.flags |= kEditableLDVolatileKey;
    }
    if (((encryption & kLogicalDriveEncryptionVolatileKeyBackupMask) >> 10) == 1) {
        ld.flags |= kEditableLDVolatileKeyBackup;
    }
    switch (LOGICAL_DRIVE_TYPE(basic)) {
    case kLogicalDriveTypeCache: ld.flags |= kEditableLDLUCache; break;
    case kLogicalDriveTypeSplitMirrorSetPrimary: ld.flags |= kEditableLDSplitMirrorPrimary; break;
    case kLogicalDriveTypeSplitMirrorSetBackup: ld.flags |= kEditableLDSplitMirrorBackup; break;
    case kLogicalDriveTypeSplitMirrorSetBackupOrphan: ld.flags |= kEditableLDSplitMirrorOrphan; break;
    default: break;
    }
}

// The offset of one logical drive of a list on the drives: staged or live.
struct StagedOffsets {
    PCDA cda;
    VK_QWORD operator()(VK_WORD ld_number) const {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
        return ld != nullptr ? ld->physical_drive_offset_block : 0;
    }
};

struct LiveOffsets {
    const _CDA* c;
    VK_QWORD operator()(VK_WORD ld_number) const {
        return ld_number < kMaxLogicalDrivesSupported ? c->ld_record_list[ld_number].physical_drive_offset_block : 0;
    }
};

// The nearest drive of `list` strictly above (ascending) or below the given drive's offset, ties to
// the earliest in the list; from 0xFFFF the lowest (highest) offset. Drives at the given drive's own
// offset are never next, so two drives at one offset are not both reached from one of them.
template <typename OffsetOf>
VK_WORD NextByOffset(const VK_WORD* list, size_t count, VK_WORD ld_number, bool ascending, OffsetOf offset_of) {
    bool bounded = false;
    VK_QWORD bound = 0;
    if (ld_number != kInvalidLDNumber) {
        if (_VK_InDeviceList(list, ld_number, count) == static_cast<size_t>(-1)) {
            return kInvalidLDNumber;
        }
        bound = offset_of(ld_number);
        bounded = true;
    }
    VK_WORD best = kInvalidLDNumber;
    VK_QWORD best_offset = 0;
    for (size_t i = 0; i < count; ++i) {
        const VK_QWORD offset = offset_of(list[i]);
        if (bounded && (ascending ? offset <= bound : offset >= bound)) {
            continue;
        }
        if (best == kInvalidLDNumber || (ascending ? offset < best_offset : offset > best_offset)) {
            best = list[i];
            best_offset = offset;
        }
    }
    return best;
}

const ArrayRecord* LiveArray(PCDA cda, VK_WORD array_number) {
    if (array_number >= kMaxArraysSupported || !VK_RequestArrayConfigurationInformation(cda)) {
        return nullptr;
    }
    return &_VK_CDA(cda)->array_record_list[array_number];
}

} // namespace

PEDITABLE_LOGICAL_DRIVE _VK_GetEditableLogicalDrive(PCDA cda, VK_WORD ld_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return nullptr;
    }
    return config->editable_ld_list[ld_number];
}

void _VK_PopulateEditableLogicalDrive(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                      PEDITABLE_ARRAY editable_array, VK_WORD ld_number) {
    if (ld_number > kMaxLogicalDrivesSupported - 1) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'ld_number < 64' failed: ld number out of range\n", __func__, __LINE__);
        return;
    }
    // A drive that a faulty model lists twice keeps its first record.
    if (editable_configuration->editable_ld_list[ld_number] != nullptr ||
        editable_array->logical_drive_count >= kArrayLogicalDriveCapacity) {
        PN_DebugLog(1, 0, "%s:%d: ld %u listed twice or past the array's list; left out\n", __FILE__, __LINE__,
                    ld_number);
        return;
    }
    pavlin::TrackedPtr<EDITABLE_LOGICAL_DRIVE> ld(
        static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE))));
    if (!ld) {
        return;
    }
    VK_RequestSenseConfigurationBuffer(cda, ld_number);
    const LogicalDriveRecord& live = _VK_CDA(cda)->ld_record_list[ld_number];
    const VK_DWORD basic = VK_GetLogicalDriveBasicInfo(cda, ld_number);
    if (LOGICAL_DRIVE_ACCELERATOR(basic) == kLogicalDriveAcceleratorIOBypass) {
        editable_array->flags |= kEditableArrIOBypass;
    }
    editable_array->logical_drives[editable_array->logical_drive_count++] = ld_number;
    VK_QWORD end = 0;
    if (__builtin_add_overflow(live.physical_drive_offset_block, live.physical_drive_blocks_per_drive, &end)) {
        end = std::numeric_limits<VK_QWORD>::max();
    }
    editable_array->offset_to_creatable_space = VK_GetNextLogicalDriveAlignedOffset(cda, live.array_number, end);

    std::memset(ld.get(), 0, sizeof(EDITABLE_LOGICAL_DRIVE));
    ld->ld_number = ld_number;
    ld->lu_cache_ld_number = VK_GetLogicalDriveLUCacheNumber(cda, ld_number);
    ld->block_size_bytes = live.block_size_bytes;
    if (ld->lu_cache_ld_number != kInvalidLDNumber) {
        FillLUCache(cda, *ld);
    }
    const VK_WORD raid = VK_GetLogicalDriveRAIDInfo(cda, ld_number);
    ld->RAID_level = static_cast<VK_BYTE>(raid & 0xFF);
    ld->num_parity_groups = static_cast<VK_BYTE>(raid >> 8);
    ld->editable_array_number = editable_array->editable_array_number;
    ld->strip_size_blocks = static_cast<VK_DWORD>(VK_GetLogicalDriveSize(cda, ld_number, kLogicalDriveStripSizeBlocks));
    ld->drive_size_blocks = VK_GetLogicalDriveSize(cda, ld_number, kLogicalDriveSizeBlocks);
    ld->physical_drive_offset_block = live.physical_drive_offset_block;
    ld->physical_drive_blocks_per_drive = live.physical_drive_blocks_per_drive;
    ld->sectors_per_track = live.sense_config_buffer.logicalDriveParamTable.bSectorsPerTrack;
    ld->logical_drive_accelerator = LOGICAL_DRIVE_ACCELERATOR(basic);

    char label[kLabelSize + 1] = {};
    VK_GetLogicalDriveVolumeLabel(cda, ld_number, label, sizeof(label));
    std::memcpy(ld->logical_drive_label, label, _VK_strnlen_s(label, kLabelSize));

    FillFlags(cda, *ld, *editable_array, basic);
    editable_configuration->editable_ld_list[ld_number] = ld.release();
    ++editable_configuration->editable_ld_count;
}

VK_WORD VK_EnumerateEditableLogicalDrives(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kInvalidLDNumber;
    }
    for (VK_WORD n = static_cast<VK_WORD>(ld_number + 1); n < kMaxLogicalDrivesSupported; ++n) {
        if (config->editable_ld_list[n] != nullptr) {
            return n;
        }
    }
    return kInvalidLDNumber;
}

VK_DWORD VK_GetEditableLogicalDriveFlags(PCDA cda, VK_WORD editable_ld_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return 0;
    }
    const VK_QWORD f = ld->flags;
    const bool is_new = (f & kEditableLDNewDrive) != 0;
    VK_DWORD flags = 0;
    const auto set = [&flags](bool condition, VK_DWORD bit) {
        if (condition) {
            flags |= bit;
        }
    };
    set(is_new, kEditableLogicalDriveFlagNewLogicalDrive);
    set(f & kEditableLDLocked, kEditableLogicalDriveFlagLocked);
    set(is_new && (ld->logical_drive_initialization_method & 0x1), kEditableLogicalDriveFlagRapidParityInit);
    set(is_new && (ld->logical_drive_initialization_method & 0x2), kEditableLogicalDriveFlagOPO);
    set(!is_new && (f & kEditableLDTransformation), kEditableLogicalDriveFlagTransformationQueued);
    set(!is_new && (f & kEditableLDTransformEncode), kEditableLogicalDriveFlagEncodeQueued);
    set(is_new && !(f & kEditableLDRAIDSet), kEditableLogicalDriveFlagNoRAIDLevelSet);
    set(is_new && !(f & kEditableLDStripSizeSet), kEditableLogicalDriveFlagNoStripSizeSet);
    set(is_new && !(f & kEditableLDSizeSet), kEditableLogicalDriveFlagNoSizeSet);
    set(is_new && !(f & kEditableLDArraySet), kEditableLogicalDriveFlagNoArraySet);
    set(f & kEditableLDEncrypted, kEditableLogicalDriveFlagEncrypted);
    set(f & kEditableLDVolatileKey, kEditableLogicalDriveFlagVolatileKeyEnabled);
    set(f & kEditableLDVolatileKeyBackup, kEditableLogicalDriveFlagVolatileKeyBackupEnabled);
    set((f & kEditableLDLUCache) && (ld->lu_cache_ld_number == kInvalidLDNumber || ld->lu_cache_policy == 0),
        kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet);
    return flags;
}

VK_WORD VK_GetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    return ld != nullptr && (ld->flags & kEditableLDArraySet) ? ld->editable_array_number : kInvalidArrayNumber;
}

VK_WORD VK_GetEditableLogicalDriveRAIDInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidRAID;
    }
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (ld == nullptr || !(ld->flags & kEditableLDRAIDSet)) {
        return kInvalidRAID;
    }
    return static_cast<VK_WORD>(ld->num_parity_groups << 8 | ld->RAID_level);
}

VK_BYTE VK_GetEditableLogicalDriveType(PCDA cda, VK_WORD editable_ld_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return 0;
    }
    if (ld->flags & kEditableLDLUCache) {
        return kLogicalDriveTypeCache;
    }
    if (ld->flags & kEditableLDSplitMirrorPrimary) {
        return kLogicalDriveTypeSplitMirrorSetPrimary;
    }
    if (ld->flags & kEditableLDSplitMirrorBackup) {
        return kLogicalDriveTypeSplitMirrorSetBackup;
    }
    if (ld->flags & kEditableLDSplitMirrorOrphan) {
        return kLogicalDriveTypeSplitMirrorSetBackupOrphan;
    }
    return kLogicalDriveTypeData;
}

size_t _VK_EditableArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return static_cast<size_t>(-1);
    }
    return _VK_InDeviceList(array->logical_drives, ld_number,
                            std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity));
}

size_t _VK_ArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    const ArrayRecord* array = LiveArray(cda, array_number);
    if (array == nullptr) {
        return static_cast<size_t>(-1);
    }
    return _VK_InDeviceList(array->ld_index_array, ld_number,
                            std::min<size_t>(array->ld_count, kMaxLogicalDrivesSupported));
}

VK_WORD _VK_EnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                        VK_BOOL ascending) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kInvalidLDNumber;
    }
    return NextByOffset(array->logical_drives, std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity),
                        ld_number, ascending != kFalse, StagedOffsets{cda});
}

VK_WORD _VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                VK_BOOL ascending) {
    const ArrayRecord* array = LiveArray(cda, array_number);
    if (array == nullptr) {
        return kInvalidLDNumber;
    }
    return NextByOffset(array->ld_index_array, std::min<size_t>(array->ld_count, kMaxLogicalDrivesSupported),
                        ld_number, ascending != kFalse, LiveOffsets{_VK_CDA(cda)});
}

VK_WORD VK_EnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    return _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, ld_number, kTrue);
}

VK_WORD VK_rEnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    return _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, ld_number, kFalse);
}

VK_WORD VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    return _VK_EnumerateArrayLogicalDrivesByOffset(cda, array_number, ld_number, kTrue);
}

VK_WORD VK_rEnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    return _VK_EnumerateArrayLogicalDrivesByOffset(cda, array_number, ld_number, kFalse);
}

// ---- Creating and deleting staged logical drives ----

namespace {

constexpr VK_QWORD kMinCreatableFreeBlocks = 32768;
// The write policy in force, bits 3-4 of the LU cache info word.
constexpr VK_WORD kLUCacheActualPolicyShift = 3;
// An LU cache state that makes the cache's own state moot: power-up failure or the cache offline.
constexpr VK_WORD kLUCacheStateGone = kLUCacheStatePowerupFail | kLUCacheStateCacheLUNOffline;
constexpr VK_DWORD kLiveSEDEncryptionEnabled = static_cast<VK_DWORD>(kLogicalDriveEncryptionSEDEnabled)
                                               << kLogicalDriveSEDEncryptionStatusShift;
static_assert(kLiveSEDEncryptionEnabled == 0x10000);

VK_QWORD SaturatingSum(VK_QWORD a, VK_QWORD b) {
    VK_QWORD sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<VK_QWORD>::max() : sum;
}

bool IsNew(const EDITABLE_LOGICAL_DRIVE& ld) { return (ld.flags & kEditableLDNewDrive) != 0; }

// The drives of a staged array after `ld_number` by rising offset, taken before any of them moves,
// so that a drive laid out past the next one's old offset does not change the walk.
size_t LaterDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number, VK_WORD (&order)[kMaxLogicalDrivesSupported]) {
    size_t count = 0;
    for (VK_WORD n = _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, ld_number, kTrue);
         n != kInvalidLDNumber && count < kMaxLogicalDrivesSupported;
         n = _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array_number, n, kTrue)) {
        order[count++] = n;
    }
    return count;
}

bool IsLastInArray(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    return _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, ld.editable_array_number, kInvalidLDNumber, kFalse) ==
           ld.ld_number;
}

VK_BYTE CanCreateEditableLogicalDrive(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kCanCreateEditableLogicalDriveNoEditableConfigCreated;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        config->editable_ld_count >= _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported) {
        return kCanCreateEditableLogicalDriveMaxLDReached;
    }
    bool space = false;
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    for (VK_WORD p = 0; p < limit && !space; ++p) {
        space = config->editable_pd_list[p].config_usage_info == kPhysicalDriveUsageUnassigned;
    }
    for (VK_WORD a = 0; a < kMaxArraysSupported && !space; ++a) {
        const PEDITABLE_ARRAY array = config->editable_array_list[a];
        space = array != nullptr && VK_GetEditableArraySize(cda, a, kArrayFreeSizeBytes) >
                                        kMinCreatableFreeBlocks * array->common_block_size;
    }
    if (!space) {
        return kCanCreateEditableLogicalDriveNoFreeSpaceAvailable;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanCreateEditableLogicalDriveControllerEncryptionLockoutState;
    }
    return kCanCreateEditableLogicalDriveOK;
}

// The LU cache and self-encrypting-drive reasons that keep a drive from being deleted; OK otherwise.
VK_BYTE CanDeleteForItsPairing(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    const VK_WORD n = ld.ld_number;
    const bool existing = !IsNew(ld);
    const bool lu_cache = (ld.flags & kEditableLDLUCache) != 0;
    if ((existing && !(VK_GetLogicalDriveEncryptionInfo(cda, n) & kLiveSEDEncryptionEnabled) &&
         LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, n)) == kLogicalDriveUnitStatus28HasLockedSED) ||
        (!lu_cache && (ld.flags & kEditableLDArraySet) &&
         _VK_EditableArrayHasLockedSEDPhysicalDrive(cda, ld.editable_array_number))) {
        return kCanDeleteEditableLogicalDriveContainsLockedSED;
    }
    const PEDITABLE_LOGICAL_DRIVE partner = _VK_GetEditableLogicalDrive(cda, ld.lu_cache_ld_number);
    if ((existing && lu_cache && !IsLastInArray(cda, ld)) ||
        (!lu_cache && partner != nullptr && !IsLastInArray(cda, *partner))) {
        return kCanDeleteEditableLogicalDriveLUCacheLDNotLastLDInCacheArray;
    }
    if (existing && lu_cache) {
        const VK_WORD state = LU_CACHE_STATE(VK_GetLogicalDriveLUCacheStatusInfo(cda, n));
        if (partner != nullptr &&
            ((VK_GetLogicalDriveLUCacheInfo(cda, n) >> kLUCacheActualPolicyShift) & 0x3) == kLUCacheWritePolicyWriteBack &&
            LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, n)) !=
                kLogicalDriveUnitStatus30SEDQualificationFailed &&
            !(state & kLUCacheStateGone)) {
            return kCanDeleteEditableLogicalDriveLUCacheWriteBackPolicy;
        }
        if ((state & kLUCacheStateFlushing) && !(state & kLUCacheStateGone)) {
            return kCanDeleteEditableLogicalDriveLUCacheFlushing;
        }
    }
    return kCanDeleteEditableLogicalDriveOK;
}

// Reasons that keep an existing drive that is not last from being deleted: the later drives of its
// array would have to move on the controller.
VK_BYTE CanDeleteMovingLaterDrives(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    if (!(VK_ControllerSupportsTransformations(cda) & kControllerSupportsLogicalDriveMove)) {
        return kCanDeleteEditableLogicalDriveMoveLogicalDriveNotSupported;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, ld.editable_array_number);
    if (array == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'editable_array != NULL' failed: Error: Failed to get array of ld %u\n",
                    __func__, __LINE__, ld.ld_number);
        return kCanDeleteEditableLogicalDriveInvalidLogicalDrive;
    }
    if (array->flags & kEditableArrHasNewLD) {
        return kCanDeleteEditableLogicalDriveArrayHasUnsavedLogicalDrives;
    }
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, ld.editable_array_number);
    if (status == kArrayStatusOK) {
        const VK_DWORD controller = VK_GetControllerStatusInfo(cda);
        if (CONTROLLER_STATUS(controller) != kControllerStatusOK) {
            return kCanDeleteEditableLogicalDriveControllerStatusNotOK;
        }
        const VK_BYTE cache = CACHE_STATUS(controller);
        if (cache == kControllerCacheStatusTemporarilyDisabled || cache == kControllerCacheStatusPermanentlyDisabled) {
            return kCanDeleteEditableLogicalDriveControllerCacheStatusNotOK;
        }
    } else if (status != kArrayStatusHasQueuedLogicalDriveTransformation ||
               (_VK_GetEditableArrayQueuedTransformations(cda, ld.editable_array_number) &
                (kEditableLDArrayMove | kEditableLDTransformEncode))) {
        // Only plain queued transformations may wait behind the move; any other state blocks it.
        return kCanDeleteEditableLogicalDriveArrayStatusNotOK;
    }
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanDeleteEditableLogicalDriveLUCachingEnabled;
    }
    return kCanDeleteEditableLogicalDriveOK;
}

VK_BYTE CanDeleteEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    if (_VK_GetEditableConfiguration(cda) == nullptr) {
        return kCanDeleteEditableLogicalDriveNoEditableConfigCreated;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr || (ld->lu_cache_ld_number != kInvalidLDNumber &&
                          _VK_GetEditableLogicalDrive(cda, ld->lu_cache_ld_number) == nullptr)) {
        return kCanDeleteEditableLogicalDriveInvalidLogicalDrive;
    }
    VK_BYTE reason = CanDeleteForItsPairing(cda, *ld);
    if (reason != kCanDeleteEditableLogicalDriveOK) {
        return reason;
    }
    if (!IsNew(*ld) && !IsLastInArray(cda, *ld)) {
        reason = CanDeleteMovingLaterDrives(cda, *ld);
        if (reason != kCanDeleteEditableLogicalDriveOK) {
            return reason;
        }
    }
    if (!(ld->flags & kEditableLDArraySet)) {
        return kCanDeleteEditableLogicalDriveOK;
    }
    switch (_VK_CheckLaterLogicalDriveTransformations(cda, ld->editable_array_number, editable_ld_number,
                                                      ld->physical_drive_offset_block)) {
    case 1: return kCanDeleteEditableLogicalDriveOK;
    case 2:
    case 5: return kCanDeleteEditableLogicalDriveExceedsTransformationMemory;
    case 4: return kCanDeleteEditableLogicalDriveDataPreservationNotAvailable;
    case kLaterLogicalDrivesExceedTransformationQueue: return kCanDeleteEditableLogicalDriveMaxTransformationsReached;
    default: return kCanDeleteEditableLogicalDriveArrayStatusNotOK;
    }
}

// Unpairs the LU cache partner of a drive that goes.
void ReleaseLUCachePartner(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    if (ld.lu_cache_ld_number == kInvalidLDNumber) {
        return;
    }
    const PEDITABLE_LOGICAL_DRIVE partner = _VK_GetEditableLogicalDrive(cda, ld.lu_cache_ld_number);
    if (ld.flags & kEditableLDLUCache) {
        if (partner == nullptr) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'data_ld != NULL' failed: Failed to find data ld %u of lu cache ld %u\n",
                        __func__, __LINE__, ld.lu_cache_ld_number, ld.ld_number);
            return;
        }
        partner->lu_cache_ld_number = kInvalidLDNumber;
        partner->lu_cache_policy = 0;
    } else if (partner != nullptr) {
        partner->lu_cache_ld_number = kInvalidLDNumber;
        partner->flags |= kEditableLDLUCacheChanged;
    }
}

} // namespace

void _VK_EditableArrayRemoveEditableLogicalDrive(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return;
    }
    const size_t count = std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity);
    const size_t at = _VK_InDeviceList(array->logical_drives, ld_number, count);
    if (at == static_cast<size_t>(-1) || count == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'ld_index != (size_t)-1 && editable_array->logical_drive_count > 0' failed: "
                    "Could not find the ld in the array.\n",
                    __func__, __LINE__);
    } else {
        array->logical_drives[at] = array->logical_drives[count - 1];
        array->logical_drive_count = static_cast<VK_WORD>(count - 1);
    }
    bool has_new = false;
    for (size_t i = 0; i < std::min<size_t>(array->logical_drive_count, kArrayLogicalDriveCapacity); ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
        has_new = has_new || (ld != nullptr && IsNew(*ld));
    }
    array->flags = static_cast<VK_WORD>(has_new ? array->flags | kEditableArrHasNewLD
                                                : array->flags & ~kEditableArrHasNewLD);
}

VK_BOOL _VK_RelayoutEditableArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                               VK_QWORD start_offset) {
    VK_WORD order[kMaxLogicalDrivesSupported];
    const size_t count = LaterDrives(cda, array_number, ld_number, order);
    VK_QWORD running = start_offset;
    bool existing = false;
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, order[i]);
        if (ld == nullptr) {
            continue;
        }
        ld->physical_drive_offset_block = running;
        running = VK_GetNextEditableLogicalDriveAlignedOffset(cda, array_number,
                                                              SaturatingSum(running, ld->physical_drive_blocks_per_drive));
        existing = existing || !IsNew(*ld);
    }
    return existing ? kTrue : kFalse;
}

VK_BYTE _VK_CheckLaterLogicalDriveTransformations(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                  VK_QWORD start_offset) {
    VK_WORD order[kMaxLogicalDrivesSupported];
    const size_t count = LaterDrives(cda, array_number, ld_number, order);
    VK_QWORD running = start_offset;
    VK_WORD counter = 0;
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, order[i]);
        if (ld == nullptr) {
            continue;
        }
        if (!IsNew(*ld)) {
            LogicalDriveTransformation target;
            _VK_InitializeLogicalDriveTransformationSettings(cda, order[i], &target);
            target.physical_drive_offset_block = running;
            const VK_BYTE result = _VK_CanTransformLogicalDrive(cda, order[i], &target);
            if (result != 1) {
                return result;
            }
            if (!(ld->flags & kEditableLDTransformation)) {
                ++counter;
            }
        }
        running = VK_GetNextEditableLogicalDriveAlignedOffset(cda, array_number,
                                                              SaturatingSum(ld->physical_drive_blocks_per_drive, running));
    }
    const int room = static_cast<int>(kMaxQueuedTransformations) -
                     static_cast<int>(_VK_GetEditableLogicalDriveTransformationQueueCount(cda));
    return room < static_cast<int>(counter) ? kLaterLogicalDrivesExceedTransformationQueue : 1;
}

VK_BYTE VK_CanCreateEditableLogicalDrive(PCDA cda) {
    if (cda == nullptr) {
        return kCanCreateEditableLogicalDriveNoEditableConfigCreated;
    }
    CDALock guard(cda);
    return CanCreateEditableLogicalDrive(cda);
}

VK_WORD VK_CreateEditableLogicalDrive(PCDA cda) {
    if (cda == nullptr) {
        return kInvalidLDNumber;
    }
    CDALock guard(cda);
    const VK_BYTE can = CanCreateEditableLogicalDrive(cda);
    PN_DebugLog(3, 0, "%s:%d: %s(%p):%u\n", __FILE__, __LINE__, __func__, cda, can);
    if (can != kCanCreateEditableLogicalDriveOK) {
        return kInvalidLDNumber;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    pavlin::TrackedPtr<EDITABLE_LOGICAL_DRIVE> ld(
        static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE))));
    if (!ld) {
        return kInvalidLDNumber;
    }
    std::memset(ld.get(), 0, sizeof(EDITABLE_LOGICAL_DRIVE));
    // The list has 64 slots, whatever number of logical drives the controller counts.
    const VK_WORD limit = std::min<VK_WORD>(_VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported,
                                            kMaxLogicalDrivesSupported);
    VK_WORD slot = 0;
    while (slot < limit && config->editable_ld_list[slot] != nullptr) {
        ++slot;
    }
    if (slot >= limit) {
        return kInvalidLDNumber;
    }
    ld->flags = kEditableLDNewDrive | kEditableLDLabelUnchanged;
    if (config->flags & kEditableConfigEncryptionEnabled) {
        ld->flags |= kEditableLDEncrypted;
    }
    ld->ld_number = slot;
    ld->editable_array_number = kInvalidArrayNumber;
    ld->lu_cache_ld_number = kInvalidLDNumber;
    ld->lu_cache_policy = 0;
    ld->block_size_bytes = 512;
    ld->sectors_per_track = 32;
    ld->logical_drive_accelerator = kLogicalDriveAcceleratorUnknown;
    char label[20] = {};
    if (_VK_GetLogicalDriveDefaultLabel(slot, label, sizeof(label))) {
        std::memcpy(ld->logical_drive_label, label, _VK_strnlen_s(label, std::min(sizeof(label), kLabelSize)));
        ld->flags &= ~kEditableLDLabelUnchanged;
    }
    config->editable_ld_list[slot] = ld.release();
    ++config->editable_ld_count;
    return slot;
}

VK_BYTE VK_CanDeleteEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    if (cda == nullptr) {
        return kCanDeleteEditableLogicalDriveNoEditableConfigCreated;
    }
    CDALock guard(cda);
    return CanDeleteEditableLogicalDrive(cda, editable_ld_number);
}

VK_BYTE VK_DeleteEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    if (cda == nullptr) {
        return kDeleteEditableLogicalDriveFailedUnknown;
    }
    CDALock guard(cda);
    const VK_BYTE can = CanDeleteEditableLogicalDrive(cda, editable_ld_number);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u):%u\n", __FILE__, __LINE__, "VK_CanDeleteEditableLogicalDrive", cda,
                editable_ld_number, can);
    if (can != kCanDeleteEditableLogicalDriveOK) {
        return kDeleteEditableLogicalDriveFailedUnknown;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = config->editable_ld_list[editable_ld_number];
    const PEDITABLE_ARRAY array =
        (ld->flags & kEditableLDArraySet) ? _VK_GetEditableArray(cda, ld->editable_array_number) : nullptr;
    bool moved_existing = false;
    if (array != nullptr) {
        if (IsLastInArray(cda, *ld)) {
            if (!IsNew(*ld)) {
                // The space the drive held becomes creatable again; a bad footprint empties it.
                array->offset_to_creatable_space -=
                    std::min(array->offset_to_creatable_space, ld->physical_drive_blocks_per_drive);
            }
        } else {
            moved_existing = _VK_RelayoutEditableArrayLogicalDrives(cda, ld->editable_array_number, editable_ld_number,
                                                                    ld->physical_drive_offset_block) != kFalse;
        }
        if (!IsNew(*ld) && config->deleted_ld_count < std::size(config->deleted_logical_drives)) {
            config->deleted_logical_drives[config->deleted_ld_count++] = editable_ld_number;
        }
        _VK_EditableArrayRemoveEditableLogicalDrive(cda, ld->editable_array_number, editable_ld_number);
    }
    if (moved_existing) {
        _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
    }
    ReleaseLUCachePartner(cda, *ld);
    config->editable_ld_list[editable_ld_number] = nullptr;
    VK_free(ld);
    --config->editable_ld_count;
    _VK_RefreshEditableControllerBootVolumes(cda);
    return kDeleteEditableLogicalDriveOK;
}

// ---- Transformation bookkeeping ----
//
// An existing staged logical drive that differs from its live record needs a transformation; its
// bits say which kind, and the queued ones count against the controller's limit.

namespace {

constexpr VK_QWORD kRefreshedBits = 0x7FF000000ULL | kEditableLDDestructiveEncode;
// Below this fixed length the expansion-ability reply has no queue count.
constexpr VK_DWORD kExpansionQueuedMinimumFixedLength = 54;

VK_QWORD ExtentEnd(VK_QWORD offset, VK_QWORD blocks) {
    VK_QWORD end = 0;
    return __builtin_add_overflow(offset, blocks, &end) ? ~VK_QWORD{0} : end;
}

} // namespace

void __VK_RefreshEditableLogicalDriveTransformationFlags(PCDA cda, VK_WORD ld_number) {
    const PEDITABLE_LOGICAL_DRIVE e = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (e == nullptr || (e->flags & kEditableLDNewDrive) || !VK_RequestArrayConfigurationInformation(cda)) {
        return;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    VK_QWORD flags = e->flags & ~kRefreshedBits;
    if ((flags & kEditableLDEncrypted) && !(VK_GetLogicalDriveEncryptionInfo(cda, ld_number) & kLogicalDriveEncryptionEnabled)) {
        flags |= (flags & kEditableLDPreserveData) ? kEditableLDTransformEncode : kEditableLDDestructiveEncode;
    }
    if (e->drive_size_blocks != r.drive_size_blocks) {
        flags |= kEditableLDSizeChange;
    }
    // The staged array stands for a live array that may sit in another slot once arrays before it
    // were deleted.
    const PEDITABLE_ARRAY target = _VK_GetEditableArray(cda, e->editable_array_number);
    if (target != nullptr && _VK_GetEditableArrayLiveNumber(cda, target) == r.array_number) {
        const VK_QWORD staged_end = ExtentEnd(e->physical_drive_offset_block, e->physical_drive_blocks_per_drive);
        const VK_QWORD live_end = ExtentEnd(r.physical_drive_offset_block, r.physical_drive_blocks_per_drive);
        if (staged_end < live_end) {
            flags |= kEditableLDExtentShrink;
        } else if (staged_end > live_end) {
            flags |= kEditableLDExtentGrow;
        }
        if (e->physical_drive_offset_block < r.physical_drive_offset_block) {
            flags |= kEditableLDOffsetDown;
        } else if (e->physical_drive_offset_block > r.physical_drive_offset_block) {
            flags |= kEditableLDOffsetUp;
        }
        const PEDITABLE_ARRAY staged = target;
        const ArrayRecord* live = _VK_GetEditableArrayLiveRecord(cda, staged);
        if (staged != nullptr && live != nullptr) {
            const size_t count = std::min<size_t>(staged->data_drive_count, std::size(staged->data_drives));
            size_t added = 0;
            size_t removed = 0;
            for (size_t k = 0; k < count; ++k) {
                if (!telmar::MapBit(live->data_drive_bitmap, sizeof(live->data_drive_bitmap), staged->data_drives[k])) {
                    ++added;
                }
            }
            // The live bitmap and the staged table end at the 384 drives they hold, whatever the
            // controller counts.
            const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
            for (VK_WORD p = 0; p < limit; ++p) {
                if (telmar::MapBit(live->data_drive_bitmap, sizeof(live->data_drive_bitmap), p) &&
                    _VK_InDeviceList(staged->data_drives, p, count) == static_cast<size_t>(-1)) {
                    ++removed;
                }
            }
            if (added != 0 && removed != 0) {
                flags |= kEditableLDDrivesSwapped;
            }
            if (added > removed) {
                flags |= kEditableLDDrivesAdded;
            } else if (removed > added) {
                flags |= kEditableLDDrivesRemoved;
            }
        }
    } else {
        flags |= kEditableLDArrayMove;
        if (target != nullptr && (target->flags & kEditableArrNew) && (target->flags & kEditableArrSEDEncryption)) {
            flags |= kEditableLDEnableSED;
        } else {
            flags &= ~kEditableLDEnableSED;
        }
    }
    const VK_WORD raid = VK_GetLogicalDriveRAIDInfo(cda, ld_number);
    if (e->RAID_level != static_cast<VK_BYTE>(raid & 0xFF) || e->num_parity_groups != static_cast<VK_BYTE>(raid >> 8) ||
        e->strip_size_blocks != VK_GetLogicalDriveSize(cda, ld_number, 2)) {
        flags |= kEditableLDGeometryChange;
    }
    e->flags = flags;
}

void _VK_RefreshEditableLogicalDriveTransformationFlags(PCDA cda) {
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        __VK_RefreshEditableLogicalDriveTransformationFlags(cda, n);
    }
}

VK_WORD _VK_GetLogicalDriveTransformationQueueCount(PCDA cda) {
    if (cda == nullptr || !VK_RequestSenseExpansionAbilityBuffer(cda)) {
        return 0;
    }
    const SENSE_EXPANSION_ABILITY& reply = _VK_CDA(cda)->sense_expansion_ability_buffer;
    return reply.dwFixedStructureLength >= kExpansionQueuedMinimumFixedLength ? reply.bExpansionQueued : 0;
}

VK_WORD _VK_GetEditableLogicalDriveTransformationQueueCount(PCDA cda) {
    VK_WORD count = _VK_GetLogicalDriveTransformationQueueCount(cda);
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const PEDITABLE_LOGICAL_DRIVE e = _VK_GetEditableLogicalDrive(cda, n);
        if (e != nullptr && (e->flags & kEditableLDTransformation)) {
            ++count;
        }
    }
    return count;
}

void __VK_InitializeLogicalDriveCurrentSettings(PCDA cda, VK_WORD ld_number, PLogicalDriveTransformation record) {
    std::memset(record, 0, sizeof(*record));
    if (ld_number >= kMaxLogicalDrivesSupported) {
        return;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    record->array_number = r.array_number;
    record->block_size_bytes = r.block_size_bytes;
    record->drive_size_blocks = r.drive_size_blocks;
    record->physical_drive_offset_block = r.physical_drive_offset_block;
    record->physical_drive_blocks_per_drive = r.physical_drive_blocks_per_drive;
    record->data_drive_count = static_cast<VK_WORD>(VK_GetArrayPhysicalDriveCounts(cda, r.array_number) & 0xFF);
    const VK_WORD raid = VK_GetLogicalDriveRAIDInfo(cda, ld_number);
    record->RAID_level = static_cast<VK_BYTE>(raid & 0xFF);
    record->num_parity_groups = static_cast<VK_BYTE>(raid >> 8);
    record->strip_size_blocks = static_cast<VK_DWORD>(VK_GetLogicalDriveSize(cda, ld_number, 2));
    record->num_usable_drives =
        __VK_GetUsableDriveCount(record->data_drive_count, record->RAID_level, record->num_parity_groups);
}

VK_BYTE _VK_InitializeLogicalDriveTransformationSettings(PCDA cda, VK_WORD ld_number,
                                                         PLogicalDriveTransformation record) {
    CDALock guard(cda);
    std::memset(record, 0, sizeof(*record));
    const PEDITABLE_LOGICAL_DRIVE e = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (e == nullptr) {
        return 0;
    }
    record->array_number = e->editable_array_number;
    record->RAID_level = e->RAID_level;
    record->num_parity_groups = e->num_parity_groups;
    record->strip_size_blocks = e->strip_size_blocks;
    record->block_size_bytes = e->block_size_bytes;
    record->drive_size_blocks = e->drive_size_blocks;
    record->physical_drive_offset_block = e->physical_drive_offset_block;
    record->physical_drive_blocks_per_drive = e->physical_drive_blocks_per_drive;
    const PEDITABLE_ARRAY a = _VK_GetEditableArray(cda, e->editable_array_number);
    record->data_drive_count = a != nullptr ? a->data_drive_count : 0;
    record->num_usable_drives =
        __VK_GetUsableDriveCount(record->data_drive_count, record->RAID_level, record->num_parity_groups);
    return 0;
}

VK_BYTE _VK_CanTransformLogicalDrive(PCDA cda, VK_WORD ld_number, PLogicalDriveTransformation target) {
    if (cda == nullptr || target == nullptr) {
        return 6;
    }
    CDALock guard(cda);
    if (ld_number >= kMaxLogicalDrivesSupported || !VK_RequestIdentifyControllerBuffer(cda) ||
        !VK_RequestArrayConfigurationInformation(cda) ||
        ld_number >= _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported) {
        return 6;
    }
    target->num_usable_drives =
        __VK_GetUsableDriveCount(target->data_drive_count, target->RAID_level, target->num_parity_groups);
    target->physical_drive_blocks_per_drive = __VK_GetLogicalDriveUsageBlocks(
        target->drive_size_blocks, target->strip_size_blocks, target->num_usable_drives);
    if (!(_VK_CDA(cda)->ld_record_list[ld_number].flags & kLDRecordExists)) {
        return 1;
    }
    LogicalDriveTransformation cur;
    __VK_InitializeLogicalDriveCurrentSettings(cda, ld_number, &cur);
    if (!(VK_ControllerSupportsTransformations(cda) & kControllerSupportsPowerlessTransformations) &&
        VK_GetControllerBackupPowerSourceStatus(cda) != kControllerBackupPowerSourcePresentAndCharged) {
        return 4;
    }
    // The need saturates: a product past 64 bits is more memory than any controller has.
    auto product = [](VK_QWORD a, VK_QWORD b) {
        VK_QWORD p = 0;
        return __builtin_mul_overflow(a, b, &p) ? std::numeric_limits<VK_QWORD>::max() : p;
    };
    VK_QWORD need = 0;
    if (cur.strip_size_blocks != target->strip_size_blocks) {
        need = product(std::max(cur.block_size_bytes, target->block_size_bytes),
                       VK_lcm(product(target->strip_size_blocks, target->num_usable_drives),
                              product(cur.strip_size_blocks, cur.num_usable_drives)));
    } else {
        need = product(product(target->block_size_bytes, target->strip_size_blocks), target->num_usable_drives);
    }
    if (need > VK_GetControllerTransformationMemorySize(cda)) {
        return 2;
    }
    if (target->array_number == cur.array_number && target->physical_drive_offset_block > cur.physical_drive_offset_block &&
        target->physical_drive_blocks_per_drive < cur.physical_drive_blocks_per_drive) {
        return 3;
    }
    if (!__VK_IsFullStripeSizeSafe(cda, target->data_drive_count, target->RAID_level, target->num_parity_groups,
                                   static_cast<VK_DWORD>(std::min<VK_QWORD>(
                                       product(target->strip_size_blocks, target->block_size_bytes),
                                       std::numeric_limits<VK_DWORD>::max())))) {
        return 5;
    }
    return 1;
}

VK_BYTE _VK_IsLogicalDriveTransformable(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return 6;
    }
    CDALock guard(cda);
    LogicalDriveTransformation live;
    __VK_InitializeLogicalDriveCurrentSettings(cda, ld_number, &live);
    return _VK_CanTransformLogicalDrive(cda, ld_number, &live);
}
