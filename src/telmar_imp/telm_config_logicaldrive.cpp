// Logical drives of the staged configuration: their population from the live drives, the walks over
// them (by number, and over an array by offset on its drives, staged or live), their public flag
// word, array, RAID level and type.
#include <algorithm>
#include <cstring>
#include <limits>
#include <type_traits>

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

// What a getter of one staged drive answers, read under the data area's lock: `none` without a data
// area or without a staged drive of that number, else what `read` makes of the drive.
template <typename T, typename Read> T ReadStagedDrive(PCDA cda, VK_WORD ld_number, T none, Read read) {
    return UnderLock(cda, none, [&](PCDA locked) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(locked, ld_number);
        return ld != nullptr ? static_cast<T>(read(*ld)) : none;
    });
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
    return ReadStagedDrive(cda, editable_ld_number, VK_DWORD{0}, [](const EDITABLE_LOGICAL_DRIVE& ld) {
        const VK_QWORD f = ld.flags;
        const bool is_new = (f & kEditableLDNewDrive) != 0;
        VK_DWORD flags = 0;
        const auto set = [&flags](bool condition, VK_DWORD bit) {
            if (condition) {
                flags |= bit;
            }
        };
        set(is_new, kEditableLogicalDriveFlagNewLogicalDrive);
        set(f & kEditableLDLocked, kEditableLogicalDriveFlagLocked);
        set(is_new && (ld.logical_drive_initialization_method & 0x1),
            kEditableLogicalDriveFlagRapidParityInit);
        set(is_new && (ld.logical_drive_initialization_method & 0x2), kEditableLogicalDriveFlagOPO);
        set(!is_new && (f & kEditableLDTransformation), kEditableLogicalDriveFlagTransformationQueued);
        set(!is_new && (f & kEditableLDTransformEncode), kEditableLogicalDriveFlagEncodeQueued);
        set(is_new && !(f & kEditableLDRAIDSet), kEditableLogicalDriveFlagNoRAIDLevelSet);
        set(is_new && !(f & kEditableLDStripSizeSet), kEditableLogicalDriveFlagNoStripSizeSet);
        set(is_new && !(f & kEditableLDSizeSet), kEditableLogicalDriveFlagNoSizeSet);
        set(is_new && !(f & kEditableLDArraySet), kEditableLogicalDriveFlagNoArraySet);
        set(f & kEditableLDEncrypted, kEditableLogicalDriveFlagEncrypted);
        set(f & kEditableLDVolatileKey, kEditableLogicalDriveFlagVolatileKeyEnabled);
        set(f & kEditableLDVolatileKeyBackup, kEditableLogicalDriveFlagVolatileKeyBackupEnabled);
        set((f & kEditableLDLUCache) &&
                (ld.lu_cache_ld_number == kInvalidLDNumber || ld.lu_cache_policy == 0),
            kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet);
        return flags;
    });
}

VK_WORD VK_GetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(
        cda, editable_ld_number, VK_WORD{kInvalidArrayNumber}, [](const EDITABLE_LOGICAL_DRIVE& ld) {
            return (ld.flags & kEditableLDArraySet) ? ld.editable_array_number : kInvalidArrayNumber;
        });
}

VK_WORD VK_GetEditableLogicalDriveRAIDInfo(PCDA cda, VK_WORD ld_number) {
    return ReadStagedDrive(cda, ld_number, VK_WORD{kInvalidRAID}, [](const EDITABLE_LOGICAL_DRIVE& ld) {
        return (ld.flags & kEditableLDRAIDSet)
                   ? static_cast<VK_WORD>(ld.num_parity_groups << 8 | ld.RAID_level)
                   : VK_WORD{kInvalidRAID};
    });
}

VK_BYTE VK_GetEditableLogicalDriveType(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(cda, editable_ld_number, VK_BYTE{0}, [](const EDITABLE_LOGICAL_DRIVE& ld) {
        if (ld.flags & kEditableLDLUCache) {
            return kLogicalDriveTypeCache;
        }
        if (ld.flags & kEditableLDSplitMirrorPrimary) {
            return kLogicalDriveTypeSplitMirrorSetPrimary;
        }
        if (ld.flags & kEditableLDSplitMirrorBackup) {
            return kLogicalDriveTypeSplitMirrorSetBackup;
        }
        if (ld.flags & kEditableLDSplitMirrorOrphan) {
            return kLogicalDriveTypeSplitMirrorSetBackupOrphan;
        }
        return kLogicalDriveTypeData;
    });
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
    return UnderLock(cda, kInvalidLDNumber, _VK_EnumerateEditableArrayLogicalDrivesByOffset, array_number,
                     ld_number, kTrue);
}

VK_WORD VK_rEnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    return UnderLock(cda, kInvalidLDNumber, _VK_EnumerateEditableArrayLogicalDrivesByOffset, array_number,
                     ld_number, kFalse);
}

VK_WORD VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    return UnderLock(cda, kInvalidLDNumber, _VK_EnumerateArrayLogicalDrivesByOffset, array_number, ld_number,
                     kTrue);
}

VK_WORD VK_rEnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    return UnderLock(cda, kInvalidLDNumber, _VK_EnumerateArrayLogicalDrivesByOffset, array_number, ld_number,
                     kFalse);
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

// A check that asks one thing of a new drive and another of an existing one; with no staged drive of
// that number the answer is `no_drive`.
template <typename... Args>
VK_BYTE NewOrExistingDrive(PCDA cda, VK_WORD ld_number, VK_BYTE no_drive,
                           VK_BYTE (*new_drive)(PCDA, const EDITABLE_LOGICAL_DRIVE&, Args...),
                           VK_BYTE (*existing_drive)(PCDA, const EDITABLE_LOGICAL_DRIVE&, Args...),
                           std::type_identity_t<Args>... args) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (ld == nullptr) {
        return no_drive;
    }
    return IsNew(*ld) ? new_drive(cda, *ld, args...) : existing_drive(cda, *ld, args...);
}

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

// Only plain queued transformations may wait behind another transformation on an array; any other
// state of the array blocks it.
bool StatusBlocksTransformation(PCDA cda, VK_WORD array_number, VK_DWORD status) {
    return status != kArrayStatusOK && (status != kArrayStatusHasQueuedLogicalDriveTransformation ||
                                        (_VK_GetEditableArrayQueuedTransformations(cda, array_number) &
                                         (kEditableLDArrayMove | kEditableLDTransformEncode)));
}

// What an edit answers for each outcome of the transformation checks; each edit has its own codes,
// and some answer two outcomes alike.
struct TransformationAnswers {
    VK_BYTE ok;              // 1
    VK_BYTE memory;          // 2: more transformation memory than the controller has
    VK_BYTE no_preservation; // 4: the data could not be kept safe while it moves
    VK_BYTE unsafe_stripe;   // 5: a full stripe past the safe limit
    VK_BYTE queue_full;      // kLaterLogicalDrivesExceedTransformationQueue
    VK_BYTE other;
};

VK_BYTE TransformationAnswer(VK_BYTE outcome, const TransformationAnswers& answers) {
    switch (outcome) {
        case 1:
            return answers.ok;
        case 2:
            return answers.memory;
        case 4:
            return answers.no_preservation;
        case 5:
            return answers.unsafe_stripe;
        case kLaterLogicalDrivesExceedTransformationQueue:
            return answers.queue_full;
        default:
            return answers.other;
    }
}

constexpr TransformationAnswers kDeleteTransformation{
    .ok = kCanDeleteEditableLogicalDriveOK,
    .memory = kCanDeleteEditableLogicalDriveExceedsTransformationMemory,
    .no_preservation = kCanDeleteEditableLogicalDriveDataPreservationNotAvailable,
    .unsafe_stripe = kCanDeleteEditableLogicalDriveExceedsTransformationMemory,
    .queue_full = kCanDeleteEditableLogicalDriveMaxTransformationsReached,
    .other = kCanDeleteEditableLogicalDriveArrayStatusNotOK,
};

bool IsLastInArray(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    return _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, ld.editable_array_number, kInvalidLDNumber, kFalse) ==
           ld.ld_number;
}

VK_BYTE CanCreateEditableLogicalDrive(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
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
    } else if (StatusBlocksTransformation(cda, ld.editable_array_number, status)) {
        return kCanDeleteEditableLogicalDriveArrayStatusNotOK;
    }
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanDeleteEditableLogicalDriveLUCachingEnabled;
    }
    return kCanDeleteEditableLogicalDriveOK;
}

VK_BYTE CanDeleteEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
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
    return TransformationAnswer(_VK_CheckLaterLogicalDriveTransformations(cda, ld->editable_array_number,
                                                                          editable_ld_number,
                                                                          ld->physical_drive_offset_block),
                                kDeleteTransformation);
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
    const int room = TransformationQueueRoom(cda);
    return room < static_cast<int>(counter) ? kLaterLogicalDrivesExceedTransformationQueue : 1;
}

VK_BYTE VK_CanCreateEditableLogicalDrive(PCDA cda) {
    return StagedAnswer(cda, kCanCreateEditableLogicalDriveNoEditableConfigCreated,
                        CanCreateEditableLogicalDrive);
}

VK_WORD VK_CreateEditableLogicalDrive(PCDA cda) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanCreateEditableLogicalDriveOK,
                     VK_CanCreateEditableLogicalDrive)) {
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
    return StagedAnswer(cda, kCanDeleteEditableLogicalDriveNoEditableConfigCreated,
                        CanDeleteEditableLogicalDrive, editable_ld_number);
}

VK_BYTE VK_DeleteEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, "VK_CanDeleteEditableLogicalDrive"}, cda,
                     kCanDeleteEditableLogicalDriveOK, VK_CanDeleteEditableLogicalDrive,
                     editable_ld_number)) {
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

// ---- LU cache ----
//
// A cache logical drive on fast drives caches one data logical drive; both name each other and carry
// the same write policy, algorithm and line. The controller's LU-cache memory bounds how many lines
// the locked cache drives may have, and so their sizes and the size of the data they cache.

namespace telmar::lucache {

namespace {

constexpr size_t kRAMInfoSize = 39;
constexpr size_t kAlgorithmEntries = 4;
constexpr size_t kAlgorithmEntrySize = 7;
constexpr size_t kAlgorithmTableOffset = 8;
static_assert(sizeof(LU_CACHE_RAM_INFO) == kRAMInfoSize);
static_assert(offsetof(LU_CACHE_RAM_INFO, bAlgoInfo) == kAlgorithmTableOffset);
static_assert(sizeof(LU_CACHE_RAM_ALGO_INFO) == kAlgorithmEntrySize);
static_assert(offsetof(LU_CACHE_RAM_ALGO_INFO, wFixedHeaderSizeBytes) == 2);
static_assert(offsetof(LU_CACHE_RAM_ALGO_INFO, bMaxCacheVolumeSizeBits) == 5);
static_assert(offsetof(LU_CACHE_RAM_ALGO_INFO, bMaxDataVolumeSizeBits) == 6);

// What a size of 64 bits or more allows: the controller's own figure, not 2^64.
constexpr VK_QWORD kLinesFor64Bits = 0x00FFFFFFFFFFFFFFULL;
// Cache sizes are rounded as cylinder-compatible drives of this many sectors per track are.
constexpr VK_WORD kCacheSizeRoundingSectors = 32;

bool ValidAlgorithm(VK_BYTE algorithm) {
    return algorithm >= 1 && algorithm <= kAlgorithmEntries;
}

const LU_CACHE_RAM_ALGO_INFO& Entry(const LU_CACHE_RAM_INFO& info, VK_BYTE algorithm) {
    return info.bAlgoInfo[algorithm - 1];
}

VK_QWORD SaturatingMul(VK_QWORD a, VK_QWORD b) {
    VK_QWORD p = 0;
    return __builtin_mul_overflow(a, b, &p) ? std::numeric_limits<VK_QWORD>::max() : p;
}

VK_QWORD SaturatingAdd(VK_QWORD a, VK_QWORD b) {
    VK_QWORD s = 0;
    return __builtin_add_overflow(a, b, &s) ? std::numeric_limits<VK_QWORD>::max() : s;
}

} // namespace

std::optional<LU_CACHE_RAM_INFO> DecodeRAMInfo(pavlin::ByteView reply) {
    if (!reply.has(0, kRAMInfoSize)) {
        return std::nullopt;
    }
    LU_CACHE_RAM_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.dwMemoryUsedForLUCacheBytes = *reply.le32(0);
    info.dwMemoryAvailableForLUCacheBytes = *reply.le32(4);
    for (size_t i = 0; i < kAlgorithmEntries; ++i) {
        const size_t at = kAlgorithmTableOffset + i * kAlgorithmEntrySize;
        LU_CACHE_RAM_ALGO_INFO& e = info.bAlgoInfo[i];
        e.bType = *reply.u8(at);
        e.bBytesPerCacheLine = *reply.u8(at + 1);
        e.wFixedHeaderSizeBytes = *reply.le16(at + 2);
        e.bDataVolumesPerCacheVolume = *reply.u8(at + 4);
        e.bMaxCacheVolumeSizeBits = *reply.u8(at + 5);
        e.bMaxDataVolumeSizeBits = *reply.u8(at + 6);
    }
    return info;
}

VK_QWORD LinesForSizeBits(VK_BYTE bits) {
    if (bits == 0) {
        return 0;
    }
    return bits >= 64 ? kLinesFor64Bits : VK_QWORD{1} << bits;
}

VK_DWORD AvailableLines(const LU_CACHE_RAM_INFO& info, const EDITABLE_CONFIGURATION& config, VK_BYTE algorithm) {
    if (!ValidAlgorithm(algorithm)) {
        return 0;
    }
    const LU_CACHE_RAM_ALGO_INFO& wanted = Entry(info, algorithm);
    if (wanted.bBytesPerCacheLine == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'lu_limits->bBytesPerCacheLine > 0' failed: Unknown bytes per cache line\n",
                    __func__, __LINE__);
        return 0;
    }
    VK_QWORD memory =
        VK_QWORD{info.dwMemoryUsedForLUCacheBytes} + VK_QWORD{info.dwMemoryAvailableForLUCacheBytes};
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported && memory != 0; ++n) {
        const EDITABLE_LOGICAL_DRIVE* ld = config.editable_ld_list[n];
        if (ld == nullptr || (ld->flags & (kEditableLDLUCache | kEditableLDLocked)) !=
                                 (kEditableLDLUCache | kEditableLDLocked)) {
            continue;
        }
        if (ld->lu_cache_line_size_blocks == 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'editable_ld->lu_cache_line_size_blocks > (VK_DWORD)0' failed: LD missing "
                        "lu cache line size\n",
                        __func__, __LINE__);
            continue;
        }
        // An algorithm the table has no entry for names no memory the drive could take.
        if (!ValidAlgorithm(ld->lu_cache_algorithm)) {
            continue;
        }
        const LU_CACHE_RAM_ALGO_INFO& its = Entry(info, ld->lu_cache_algorithm);
        const VK_QWORD use =
            SaturatingAdd(SaturatingMul(ld->drive_size_blocks / ld->lu_cache_line_size_blocks, its.bBytesPerCacheLine),
                          its.wFixedHeaderSizeBytes);
        memory = memory > use ? memory - use : 0;
    }
    if (memory <= wanted.wFixedHeaderSizeBytes) {
        return 0;
    }
    const VK_QWORD lines = (memory - wanted.wFixedHeaderSizeBytes) / wanted.bBytesPerCacheLine;
    return static_cast<VK_DWORD>(std::min<VK_QWORD>(lines, std::numeric_limits<VK_DWORD>::max()));
}

VK_QWORD LinesPerVolume(const LU_CACHE_RAM_INFO& info, VK_BYTE algorithm, bool data) {
    if (!ValidAlgorithm(algorithm)) {
        return 0;
    }
    const LU_CACHE_RAM_ALGO_INFO& e = Entry(info, algorithm);
    return LinesForSizeBits(data ? e.bMaxDataVolumeSizeBits : e.bMaxCacheVolumeSizeBits);
}

VK_QWORD MaxCacheSizeBlocks(const LU_CACHE_RAM_INFO& info, const EDITABLE_CONFIGURATION& config, VK_BYTE algorithm,
                            VK_DWORD line_size_blocks) {
    const VK_QWORD by_memory = SaturatingMul(line_size_blocks, AvailableLines(info, config, algorithm));
    const VK_QWORD by_volume = SaturatingMul(line_size_blocks, LinesPerVolume(info, algorithm, false));
    return __VK_GetLogicalDriveAdjustedSize(std::min(by_memory, by_volume), kCacheSizeRoundingSectors, 0);
}

VK_QWORD MaxDataVolumeBlocks(const LU_CACHE_RAM_INFO& info, VK_BYTE algorithm, VK_DWORD line_size_blocks,
                             bool rounded) {
    const VK_QWORD size = SaturatingMul(line_size_blocks, LinesPerVolume(info, algorithm, true));
    return rounded ? __VK_GetLogicalDriveAdjustedSize(size, kCacheSizeRoundingSectors, 0) : size;
}

VK_DWORD StripForStripe(VK_DWORD stripe, VK_WORD usable, VK_DWORD min_strip, VK_DWORD max_strip) {
    if (min_strip == 0 || usable == 0) {
        return 0;
    }
    for (VK_QWORD s = min_strip; s <= max_strip; s *= 2) {
        if (s * usable == stripe) {
            return static_cast<VK_DWORD>(s);
        }
    }
    return 0;
}

VK_DWORD LineSizeCodeBytes(VK_BYTE code) {
    switch (code) {
    case kControllerLUCacheLineSize64KB: return 65536;
    case kControllerLUCacheLineSize128KB: return 131072;
    case kControllerLUCacheLineSize256KB: return 262144;
    default: return 0;
    }
}

} // namespace telmar::lucache

namespace {

constexpr VK_WORD kInvalidNumber = 0xFFFF;
constexpr VK_BYTE kAlgorithmCount = 4;
// A data drive smaller than this is not worth caching.
constexpr VK_QWORD kMinimumCachedDataBytes = 0x400000000ULL;
constexpr VK_WORD kCacheableBlockSize = 512;

bool ControllerLocked(PCDA cda) {
    return (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) != 0;
}

// The staged LU-cache RAM reply, or nothing when the controller has none to give.
std::optional<LU_CACHE_RAM_INFO> RAMInfo(PCDA cda) {
    if (!VK_RequestLUCacheRAMInfoBuffer(cda)) {
        return std::nullopt;
    }
    const LU_CACHE_RAM_INFO& cached = _VK_CDA(cda)->lu_cache_ram_info_buffer;
    return telmar::lucache::DecodeRAMInfo(pavlin::ByteView(&cached, sizeof(cached)));
}

// The partner a drive names, when that number names a staged drive.
PEDITABLE_LOGICAL_DRIVE NamedPartner(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    return ld.lu_cache_ld_number < kMaxLogicalDrivesSupported ? _VK_GetEditableLogicalDrive(cda, ld.lu_cache_ld_number)
                                                              : nullptr;
}

VK_WORD ArrayDataDriveCount(PCDA cda, VK_WORD array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    return array != nullptr ? array->data_drive_count : 0;
}

} // namespace

VK_DWORD _VK_GetAvailableEditableLUCacheLines(PCDA cda, VK_BYTE algorithm) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const auto info = config != nullptr ? RAMInfo(cda) : std::nullopt;
    return info ? telmar::lucache::AvailableLines(*info, *config, algorithm) : 0;
}

VK_QWORD _VK_GetEditableLUCacheBlocksPerCacheLine(PCDA cda, VK_BYTE algorithm) {
    const auto info = RAMInfo(cda);
    if (!info) {
        return 0;
    }
    if (algorithm < 1 || algorithm > kAlgorithmCount) {
        PN_DebugLog(1, 0, "%s:%d: Invalid cache algorithm %u\n", __func__, __LINE__, algorithm);
        return 0;
    }
    return telmar::lucache::LinesPerVolume(*info, algorithm, false);
}

VK_QWORD _VK_GetEditableLUCachedDataBlocksPerCacheLine(PCDA cda, VK_BYTE algorithm) {
    const auto info = RAMInfo(cda);
    return info ? telmar::lucache::LinesPerVolume(*info, algorithm, true) : 0;
}

VK_QWORD _VK_GetMaxEditableLUCacheSizeBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const auto info = config != nullptr ? RAMInfo(cda) : std::nullopt;
    return info ? telmar::lucache::MaxCacheSizeBlocks(*info, *config, algorithm, line_size_blocks) : 0;
}

VK_QWORD _VK_GetMaxEditableDataVolumePossibleBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks) {
    const auto info = RAMInfo(cda);
    return info ? telmar::lucache::MaxDataVolumeBlocks(*info, algorithm, line_size_blocks, false) : 0;
}

VK_QWORD _VK_GetMaxEditableLUCachedDataSizeBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks) {
    const auto info = RAMInfo(cda);
    return info ? telmar::lucache::MaxDataVolumeBlocks(*info, algorithm, line_size_blocks, true) : 0;
}

VK_DWORD __VK_ControllerEnumerateSupportedLUCacheLineSizes(PCDA cda, VK_DWORD line_size_bytes) {
    static constexpr VK_BYTE kCodes[] = {kControllerLUCacheLineSize64KB, kControllerLUCacheLineSize128KB,
                                         kControllerLUCacheLineSize256KB};
    const VK_BYTE supported = LU_CACHE_SUPPORTED_LINE_SIZES(VK_ControllerSupportsLUCache(cda));
    bool known = false;
    for (const VK_BYTE code : kCodes) {
        known = known || telmar::lucache::LineSizeCodeBytes(code) == line_size_bytes;
    }
    for (const VK_BYTE code : kCodes) {
        const VK_DWORD bytes = telmar::lucache::LineSizeCodeBytes(code);
        if ((supported & code) && (!known || bytes > line_size_bytes)) {
            return bytes;
        }
    }
    return 0;
}

VK_DWORD __VK_GetEditableLUCacheStripSizeFromStripe(PCDA cda, VK_WORD ld_number, VK_DWORD stripe_size_bytes,
                                                    VK_BYTE raid_level, VK_BYTE num_parity_groups) {
    if (!__VK_IsParityRAID(raid_level)) {
        return stripe_size_bytes;
    }
    const VK_DWORD min_strip = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeLUCacheMinStripSizeBytes);
    if (min_strip == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'min_lu_stripsize > 0' failed: Unable to get min lu cache strip size support\n",
                    __func__, __LINE__);
        return 0;
    }
    const VK_DWORD max_strip = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeLUCacheMaxStripSizeBytes);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    const VK_WORD data_drives = ld != nullptr ? ArrayDataDriveCount(cda, ld->editable_array_number) : 0;
    return telmar::lucache::StripForStripe(stripe_size_bytes,
                                           __VK_GetUsableDriveCount(data_drives, raid_level, num_parity_groups),
                                           min_strip, max_strip);
}

VK_DWORD __VK_GetEditableLUCacheStripAndStripeSize(PCDA cda, VK_WORD ld_number, VK_BYTE raid_level,
                                                   VK_BYTE num_parity_groups, VK_DWORD* stripe_size_bytes) {
    for (VK_DWORD line = __VK_ControllerEnumerateSupportedLUCacheLineSizes(cda, 0); line != 0;
         line = __VK_ControllerEnumerateSupportedLUCacheLineSizes(cda, line)) {
        const VK_DWORD strip =
            __VK_GetEditableLUCacheStripSizeFromStripe(cda, ld_number, line, raid_level, num_parity_groups);
        if (strip != 0) {
            if (stripe_size_bytes != nullptr) {
                *stripe_size_bytes = line;
            }
            return strip;
        }
    }
    if (stripe_size_bytes != nullptr) {
        *stripe_size_bytes = 0;
    }
    return 0;
}

VK_DWORD __VK_GetEditableLUCacheStripSize(PCDA cda, VK_WORD ld_number, VK_BYTE raid_level,
                                          VK_BYTE num_parity_groups) {
    return __VK_GetEditableLUCacheStripAndStripeSize(cda, ld_number, raid_level, num_parity_groups, nullptr);
}

namespace {

// Whether some drive of the staged list could hold a cache: an unassigned 512-byte SSD the
// controller may use for one.
bool CacheCapableDriveAvailable(PCDA cda) {
    constexpr VK_DWORD kSSD = 0x10;
    constexpr VK_DWORD kNotForCache = 0x800;
    for (VK_WORD p = VK_EnumerateEditablePhysicalDrives(cda, kInvalidPDNumber); p != kInvalidPDNumber;
         p = VK_EnumerateEditablePhysicalDrives(cda, p)) {
        const VK_DWORD basic = VK_GetPhysicalDriveBasicInfo(cda, p);
        if ((basic & kSSD) && !(basic & kNotForCache) &&
            VK_GetEditablePhysicalDriveUsageInfo(cda, p) == kPhysicalDriveUsageUnassigned &&
            VK_GetPhysicalDriveSize(cda, p, 5) == kCacheableBlockSize) {
            return true;
        }
    }
    return false;
}

VK_BYTE MinimumReadCachePercent(PCDA cda) {
    return GET_EDITABLE_CONTROLLER_MIN_READ_CACHE_PERCENT(VK_GetEditableControllerReadCachePercentLimits(cda));
}

VK_BYTE CanCreateEditableLUCacheArray(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (ControllerLocked(cda)) {
        return kCanCreateEditableLUCacheArrayControllerStatusNotOK;
    }
    if (!(VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported)) {
        return kCanCreateEditableLUCacheArrayNotSupported;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        config->editable_ld_count >= _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported) {
        return kCanCreateEditableLUCacheArrayMaxLDCountReached;
    }
    for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
        if (array != nullptr && (array->flags & kEditableArrLUCache)) {
            return kCanCreateEditableLUCacheArrayLUCacheArrayAlreadyExist;
        }
    }
    if (!CacheCapableDriveAvailable(cda)) {
        return kCanCreateEditableLUCacheArrayNoUnassignedDrivesAvailable;
    }
    const VK_BYTE minimum = MinimumReadCachePercent(cda);
    if (minimum != config->controller_read_cache_percent &&
        VK_CanChangeEditableControllerReadCachePercentOnEmptyConfig(cda, minimum) !=
            kCanChangeEditableControllerReadCachePercentAllowed) {
        return kCanCreateEditableLUCacheArrayCacheStatusNotOK;
    }
    const VK_BYTE cache = CACHE_STATUS(VK_GetControllerStatusInfo(cda));
    if (cache == kControllerCacheStatusTemporarilyDisabled || cache == kControllerCacheStatusPermanentlyDisabled ||
        VK_GetControllerBackupPowerSourceStatus(cda) != kControllerBackupPowerSourcePresentAndCharged) {
        return kCanCreateEditableLUCacheArrayCacheStatusNotOK;
    }
    for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
        if (_VK_GetEditableArray(cda, a) != nullptr &&
            (VK_GetEditableArrayStatusInfo(cda, a) &
             (kArrayStatusHasTransformingLogicalDrive | kArrayStatusHasRekeyingLogicalDrive |
              kArrayStatusHasQueuedLogicalDriveTransformation))) {
            return kCanCreateEditableLUCacheArrayHasTransformingLogicalDrive;
        }
    }
    // Every slot taken: the new array would have nowhere to go. Tested last, as array creation does.
    if (config->editable_array_count >= kMaxArraysSupported) {
        return kCanCreateEditableLUCacheArrayLUCacheArrayAlreadyExist;
    }
    return kCanCreateEditableLUCacheArrayOK;
}

} // namespace

VK_BYTE VK_CanCreateEditableLUCacheArray(PCDA cda) {
    return StagedAnswer(cda, kCanCreateEditableLUCacheArrayNoEditableConfigCreated,
                        CanCreateEditableLUCacheArray);
}

VK_WORD VK_CreateEditableLUCacheArray(PCDA cda) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanCreateEditableLUCacheArrayOK,
                     VK_CanCreateEditableLUCacheArray)) {
        return kInvalidArrayNumber;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const VK_WORD number = _VK_AppendEditableArray(config, kEditableArrNew | kEditableArrLUCache);
    if (number == kInvalidArrayNumber) {
        return kInvalidArrayNumber;
    }
    // The cache drives take their memory from the controller cache: its read share shrinks to the least
    // the cache allows.
    const VK_BYTE minimum = MinimumReadCachePercent(cda);
    if (minimum != config->controller_read_cache_percent) {
        config->controller_read_cache_percent = minimum;
        config->flags |= kEditableConfigCacheConfig;
    }
    return number;
}

VK_WORD VK_GetEditableLogicalDriveLUCacheNumber(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(cda, editable_ld_number, kInvalidNumber, [&](const EDITABLE_LOGICAL_DRIVE& ld) {
        const PEDITABLE_LOGICAL_DRIVE partner = NamedPartner(cda, ld);
        return partner != nullptr && partner->lu_cache_ld_number == editable_ld_number ? ld.lu_cache_ld_number
                                                                                       : kInvalidNumber;
    });
}

VK_BYTE VK_GetEditableLogicalDriveLUCacheWritePolicy(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(cda, editable_ld_number, VK_BYTE{0},
                           [](const EDITABLE_LOGICAL_DRIVE& ld) { return ld.lu_cache_policy; });
}

namespace {

VK_BYTE CanSetEditableLogicalDriveLUCache(PCDA cda, VK_WORD data_ld_number, VK_WORD cache_ld_number,
                                          VK_BYTE write_policy) {
    if (ControllerLocked(cda)) {
        return kCanSetEditableLogicalDriveLUCacheControllerStatusNotOK;
    }
    const PEDITABLE_LOGICAL_DRIVE d = _VK_GetEditableLogicalDrive(cda, data_ld_number);
    if (d == nullptr) {
        return kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive;
    }
    const PEDITABLE_LOGICAL_DRIVE k = _VK_GetEditableLogicalDrive(cda, cache_ld_number);
    if (k == nullptr) {
        return kCanSetEditableLogicalDriveLUCacheInvalidLUCacheLogicalDrive;
    }
    if (!(k->flags & kEditableLDArraySet)) {
        return kCanSetEditableLogicalDriveLUCacheLUCacheArrayNotSet;
    }
    if (!(k->flags & kEditableLDLUCache)) {
        return kCanSetEditableLogicalDriveLUCacheInvalidLUCacheLogicalDrive;
    }
    if (!(k->flags & kEditableLDRAIDSet)) {
        return kCanSetEditableLogicalDriveLUCacheLUCacheRAIDNotSet;
    }
    const PEDITABLE_ARRAY d_array =
        (d->flags & kEditableLDArraySet) ? _VK_GetEditableArray(cda, d->editable_array_number) : nullptr;
    if (d_array == nullptr) {
        return kCanSetEditableLogicalDriveLUCacheDataArrayNotSet;
    }
    if (d_array->flags & (kEditableArrLUCache | kEditableArrSplitMirror)) {
        return kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive;
    }
    if (d_array->common_block_size != kCacheableBlockSize) {
        return kCanSetEditableLogicalDriveLUCacheUnsupportedBlockSize;
    }
    if (d_array->flags & kEditableArrIOBypass) {
        return kCanSetEditableLogicalDriveLUCacheIOBypassEnabled;
    }
    if (k->lu_cache_ld_number == data_ld_number && k->lu_cache_policy == write_policy) {
        return kCanSetEditableLogicalDriveLUCacheAlreadySet;
    }
    if (k->lu_cache_ld_number != kInvalidNumber && k->lu_cache_ld_number != data_ld_number) {
        return kCanSetEditableLogicalDriveLUCacheReassignNotAllowed;
    }
    if (d->lu_cache_ld_number != kInvalidNumber && d->lu_cache_ld_number != cache_ld_number) {
        return kCanSetEditableLogicalDriveLUCacheAlreadyCached;
    }
    if (write_policy != kLUCacheWritePolicyWriteThru && write_policy != kLUCacheWritePolicyWriteBack) {
        return kCanSetEditableLogicalDriveLUCacheInvalidPolicy;
    }
    // A cache the controller already runs keeps working write-through whatever its RAID level allows.
    if (!VK_ControllerSupportsLUCacheRAIDPolicy(cda, k->RAID_level, write_policy) &&
        !(!IsNew(*k) && write_policy == kLUCacheWritePolicyWriteThru)) {
        return kCanSetEditableLogicalDriveLUCachePolicyUnsupported;
    }
    if (!IsNew(*k)) {
        const VK_DWORD status = VK_GetLogicalDriveStatusInfo(cda, cache_ld_number);
        if (status != 0 && status != 23 && status != 24 && status != 26) {
            return kCanSetEditableLogicalDriveLUCacheCacheLogicalDriveNotOK;
        }
    }
    if (d->flags & kEditableLDSizeSet) {
        if (d->drive_size_blocks >
            _VK_GetMaxEditableLUCachedDataSizeBlocks(cda, k->lu_cache_algorithm, k->lu_cache_line_size_blocks)) {
            return kCanSetEditableLogicalDriveLUCacheDataLogicalDriveTooLarge;
        }
        if (d->drive_size_blocks < kMinimumCachedDataBytes / d_array->common_block_size) {
            return kCanSetEditableLogicalDriveLUCacheDataLogicalDriveTooSmall;
        }
    }
    if (d_array->flags & kEditableArrBootConnector) {
        return kCanSetEditableLogicalDriveLUCacheCannotCacheBootVolumes;
    }
    if ((d->flags & kEditableLDSizeSet) && (k->flags & kEditableLDSizeSet) &&
        d->drive_size_blocks < k->drive_size_blocks) {
        return kCanSetEditableLogicalDriveLUCacheCacheLDLargerThanDataLD;
    }
    if (!IsNew(*k)) {
        const VK_BYTE state = LU_CACHE_STATE(VK_GetLogicalDriveLUCacheStatusInfo(cda, cache_ld_number));
        if (!(state & (kLUCacheStateGood | kLUCacheStateFlushing))) {
            return kCanSetEditableLogicalDriveLUCacheStatusNotOK;
        }
    }
    const PEDITABLE_ARRAY k_array = _VK_GetEditableArray(cda, k->editable_array_number);
    const bool k_sed = k_array != nullptr && (k_array->flags & kEditableArrSEDEncryption);
    if (((d_array->flags & kEditableArrSEDEncryption) != 0) != k_sed) {
        return kCanSetEditableLogicalDriveLUCacheInvalidSEDEncryptionState;
    }
    return kCanSetEditableLogicalDriveLUCacheOK;
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveLUCache(PCDA cda, VK_WORD data_ld_number, VK_WORD cache_ld_number,
                                             VK_BYTE write_policy) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveLUCacheNoEditableConfigCreated,
                        CanSetEditableLogicalDriveLUCache, data_ld_number, cache_ld_number, write_policy);
}

VK_BYTE VK_SetEditableLogicalDriveLUCache(PCDA cda, VK_WORD data_ld_number, VK_WORD cache_ld_number,
                                          VK_BYTE write_policy) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveLUCacheOK,
                     VK_CanSetEditableLogicalDriveLUCache, data_ld_number, cache_ld_number, write_policy)) {
        return kSetEditableLogicalDriveLUCacheFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE d = _VK_GetEditableLogicalDrive(cda, data_ld_number);
    const PEDITABLE_LOGICAL_DRIVE k = _VK_GetEditableLogicalDrive(cda, cache_ld_number);
    d->lu_cache_ld_number = cache_ld_number;
    k->lu_cache_ld_number = data_ld_number;
    d->lu_cache_policy = write_policy;
    k->lu_cache_policy = write_policy;
    d->lu_cache_algorithm = k->lu_cache_algorithm;
    d->lu_cache_line_size_blocks = k->lu_cache_line_size_blocks;
    d->logical_drive_accelerator = kLogicalDriveAcceleratorLUCache;
    d->flags |= kEditableLDLUCacheChanged;
    k->flags |= kEditableLDLUCacheChanged;
    return kSetEditableLogicalDriveLUCacheOK;
}

VK_BYTE VK_GetEditableLogicalDriveLUCacheLineSize(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(
        cda, editable_ld_number, VK_BYTE{0}, [function = __func__](const EDITABLE_LOGICAL_DRIVE& ld) {
            const VK_QWORD bytes = VK_QWORD{ld.lu_cache_line_size_blocks} * ld.block_size_bytes;
            VK_BYTE code = 0;
            for (const VK_BYTE c : {kControllerLUCacheLineSize64KB, kControllerLUCacheLineSize128KB,
                                    kControllerLUCacheLineSize256KB}) {
                if (telmar::lucache::LineSizeCodeBytes(static_cast<VK_BYTE>(c)) == bytes) {
                    code = static_cast<VK_BYTE>(c);
                }
            }
            if ((ld.flags & kEditableLDLUCache) && code == 0) {
                PN_DebugLog(1, 0,
                            "%s:%d: Assertion '!(editable_ld->flags & kEditableLDLUCache) || cache_line_size "
                            "!= 0' failed: Unknown cache line size\n",
                            function, __LINE__);
            }
            return code;
        });
}

namespace {

// The cache drive of the pair a drive belongs to: the drive itself, or the staged drive it names.
PEDITABLE_LOGICAL_DRIVE CacheDriveOf(PCDA cda, PEDITABLE_LOGICAL_DRIVE ld) {
    if (ld == nullptr || (ld->flags & kEditableLDLUCache)) {
        return ld;
    }
    return NamedPartner(cda, *ld);
}

VK_BYTE CanSetEditableLogicalDriveLUCacheLineSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE line_size) {
    if (ControllerLocked(cda)) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeControllerStatusNotOK;
    }
    const PEDITABLE_LOGICAL_DRIVE k = CacheDriveOf(cda, _VK_GetEditableLogicalDrive(cda, editable_ld_number));
    if (k == nullptr) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeInvalidLogicalDrive;
    }
    if (k->block_size_bytes == 0) {
        // Named for the public check, which is what a reader of the log called.
        PN_DebugLog(1, 0, "%s:%d: Unexpected 0 blocksize for ld %u\n",
                    "VK_CanSetEditableLogicalDriveLUCacheLineSize", __LINE__, k->ld_number);
        return kCanSetEditableLogicalDriveLUCacheLineSizeInvalidLogicalDrive;
    }
    if (k->flags & kEditableLDLocked) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeLogicalDriveIsLocked;
    }
    if (!(k->flags & kEditableLDRAIDSet)) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeRAIDNotSet;
    }
    const VK_DWORD line_bytes = telmar::lucache::LineSizeCodeBytes(line_size);
    const VK_DWORD line_blocks = line_bytes / k->block_size_bytes;
    if (line_blocks == 0) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeInvalidCacheLineSize;
    }
    if (!(LU_CACHE_SUPPORTED_LINE_SIZES(VK_ControllerSupportsLUCache(cda)) & line_size)) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeUnsupportedCacheLineSize;
    }
    if (line_blocks == k->lu_cache_line_size_blocks) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeAlreadySet;
    }
    if ((k->flags & kEditableLDSizeSet) &&
        (k->drive_size_blocks > _VK_GetMaxEditableLUCacheSizeBlocks(cda, k->lu_cache_algorithm, line_blocks) ||
         k->drive_size_blocks > _VK_GetMaxEditableDataVolumePossibleBlocks(cda, k->lu_cache_algorithm, line_blocks))) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeCacheLogicalDriveTooLarge;
    }
    if (__VK_GetEditableLUCacheStripSizeFromStripe(cda, k->ld_number, line_bytes, k->RAID_level,
                                                   k->num_parity_groups) == 0) {
        return kCanSetEditableLogicalDriveLUCacheLineSizeDriveCountTooLarge;
    }
    return kCanSetEditableLogicalDriveLUCacheLineSizeOK;
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveLUCacheLineSize(PCDA cda, VK_WORD editable_ld_number,
                                                     VK_BYTE line_size) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveLUCacheLineSizeNoEditableConfigCreated,
                        CanSetEditableLogicalDriveLUCacheLineSize, editable_ld_number, line_size);
}

VK_BYTE VK_SetEditableLogicalDriveLUCacheLineSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE line_size) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveLUCacheLineSizeOK,
                     VK_CanSetEditableLogicalDriveLUCacheLineSize, editable_ld_number, line_size)) {
        return kSetEditableLogicalDriveLUCacheLineSizeFailed;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld->block_size_bytes == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'editable_ld->block_size_bytes > 0' failed: Invalid 0 blocksize for LU cache LD\n",
                    __func__, __LINE__);
        // Nothing was changed: not a success.
        return kSetEditableLogicalDriveLUCacheLineSizeFailed;
    }
    const VK_DWORD line_bytes = telmar::lucache::LineSizeCodeBytes(line_size);
    const VK_DWORD line_blocks = line_bytes / ld->block_size_bytes;
    ld->lu_cache_line_size_blocks = line_blocks;
    const PEDITABLE_LOGICAL_DRIVE partner = NamedPartner(cda, *ld);
    if (partner != nullptr) {
        partner->lu_cache_line_size_blocks = line_blocks;
    }
    const PEDITABLE_LOGICAL_DRIVE k = (ld->flags & kEditableLDLUCache) ? ld : partner;
    if (k != nullptr && k->block_size_bytes != 0) {
        k->strip_size_blocks = __VK_GetEditableLUCacheStripSizeFromStripe(cda, k->ld_number, line_bytes, k->RAID_level,
                                                                          k->num_parity_groups) /
                               k->block_size_bytes;
    }
    return kSetEditableLogicalDriveLUCacheLineSizeOK;
}

// ---- Initialisation method, accelerator, label and lock ----

namespace telmar::ldprops {

VK_BYTE CheckLabelText(const char* label, size_t buffer_size) {
    const pavlin::ByteView bytes(label, buffer_size);
    const size_t length = bytes.find(0).value_or(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        const VK_BYTE b = *bytes.u8(i);
        // Printable ASCII up to the first zero byte, nothing but zeros after it.
        if (i < length ? (b < 32 || b > 126) : b != 0) {
            return kCanSetEditableLogicalDriveLabelInvalidCharacter;
        }
    }
    return length == 0 ? kCanSetEditableLogicalDriveLabelInvalidLabel : 0;
}

} // namespace telmar::ldprops

namespace {

bool IsSSDArray(const EDITABLE_ARRAY& array) {
    return (array.common_drive_type & kPhysicalDriveTypeSSD) != 0;
}

bool IsParityInitRAID(VK_BYTE raid_level) {
    return raid_level == kRAID5 || raid_level == kRAID50 || raid_level == kRAID6 || raid_level == kRAID60;
}

VK_BYTE LiveUnitStatus(PCDA cda, VK_WORD ld_number) {
    return LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number));
}

bool Initializing(VK_BYTE unit_status) {
    return unit_status == kLogicalDriveUnitStatus18RPIInProgress || unit_status == kLogicalDriveUnitStatus19RPIQueued;
}

PEDITABLE_ARRAY ArrayOf(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    return (ld.flags & kEditableLDArraySet) ? _VK_GetEditableArray(cda, ld.editable_array_number) : nullptr;
}

// What the accelerator check needs of the controller cache: a board with memory.
bool ControllerCachePresent(PCDA cda) {
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return false;
    }
    const CACHE_CONFIG_STATUS& status = _VK_CDA(cda)->sense_cache_config_status_buffer;
    return status.bBoardPresent != 0 && status.wTotalMemorySize != 0;
}

} // namespace

VK_BOOL _VK_AllRAIDRapidInitializationSupported(PCDA cda) {
    constexpr VK_BYTE kBackgroundAllRAIDRapidInit = 0x1;
    constexpr VK_DWORD kIdentifyAllRAIDRapidInit = 0x100000;
    constexpr VK_DWORD kIdentifyAllRAIDRapidInitExtra = 0x40000;
    constexpr VK_DWORD kIdentifyMinimumFixedLength = 286;
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return VK_RequestFeaturePages(cda) && (c->sense_feature.page_background.bFlags2 & kBackgroundAllRAIDRapidInit)
                   ? kTrue
                   : kFalse;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kFalse;
    }
    const IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
    return (id.dwYetMoreControllerFlags & kIdentifyAllRAIDRapidInit) &&
                   id.dwFixedStructureLength > kIdentifyMinimumFixedLength &&
                   (id.dwExtraControllerFlags & kIdentifyAllRAIDRapidInitExtra)
               ? kTrue
               : kFalse;
}

namespace {

VK_BYTE CanSetEditableLogicalDriveInitializationMethod(PCDA cda, VK_WORD editable_ld_number,
                                                       VK_BYTE initialization_method) {
    if (ControllerLocked(cda)) {
        return kCanSetEditableLogicalDriveInitializationMethodControllerStatusNotOK;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    // No staged drive: nothing has an array yet.
    if (ld == nullptr) {
        return kCanSetEditableLogicalDriveInitializationMethodNoArraySet;
    }
    if (ld->flags & kEditableLDLocked) {
        return kCanSetEditableLogicalDriveInitializationMethodLDIsLocked;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, *ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveInitializationMethodNoArraySet;
    }
    if (!(ld->flags & kEditableLDRAIDSet)) {
        return kCanSetEditableLogicalDriveInitializationMethodNoRAIDLevelSet;
    }
    if (ld->flags & kEditableLDLUCache) {
        return kCanSetEditableLogicalDriveInitializationMethodNotAllowedForLUCache;
    }
    if (ld->lu_cache_ld_number != kInvalidNumber) {
        return kCanSetEditableLogicalDriveInitializationMethodLUCacheConfigured;
    }
    switch (initialization_method) {
    case kLogicalDriveInitializationMethodDefault: return kCanSetEditableLogicalDriveInitializationMethodOK;
    case kLogicalDriveInitializationMethodOPO:
        if (!VK_ControllerSupportsOPO(cda)) {
            return kCanSetEditableLogicalDriveInitializationMethodOPONotSupported;
        }
        if (!IsSSDArray(*array)) {
            return kCanSetEditableLogicalDriveInitializationMethodDriveTypeNotSSD;
        }
        if (__VK_IsNVMEArray(cda, array)) {
            return kCanSetEditableLogicalDriveInitializationMethodNotAllowedForNVMeArray;
        }
        if (array->logical_drive_count > 1) {
            return kCanSetEditableLogicalDriveInitializationMethodNotFirstLDInArray;
        }
        return kCanSetEditableLogicalDriveInitializationMethodOK;
    case kLogicalDriveInitializationMethodRapidParityInit:
        if (!VK_ControllerSupportsRapidInitialization(cda) ||
            (!IsParityInitRAID(ld->RAID_level) && !_VK_AllRAIDRapidInitializationSupported(cda))) {
            return kCanSetEditableLogicalDriveInitializationMethodRPINotSupported;
        }
        return kCanSetEditableLogicalDriveInitializationMethodOK;
    default:
        // Both bits at once, or any other value, names no method.
        return kCanSetEditableLogicalDriveInitializationMethodNotAllowed;
    }
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveInitializationMethod(PCDA cda, VK_WORD editable_ld_number,
                                                          VK_BYTE initialization_method) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveInitializationMethodNoEditableConfigCreated,
                        CanSetEditableLogicalDriveInitializationMethod, editable_ld_number,
                        initialization_method);
}

VK_BYTE VK_SetEditableLogicalDriveInitializationMethod(PCDA cda, VK_WORD editable_ld_number,
                                                       VK_BYTE initialization_method) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveInitializationMethodOK,
                     VK_CanSetEditableLogicalDriveInitializationMethod, editable_ld_number,
                     initialization_method)) {
        return kSetEditableLogicalDriveInitializationMethodFailedUnknown;
    }
    _VK_GetEditableLogicalDrive(cda, editable_ld_number)->logical_drive_initialization_method = initialization_method;
    return kSetEditableLogicalDriveInitializationMethodOK;
}

VK_BYTE VK_GetEditableLogicalDriveAccelerator(PCDA cda, VK_WORD editable_ld_number) {
    return ReadStagedDrive(cda, editable_ld_number, VK_BYTE{kLogicalDriveAcceleratorUnknown},
                           [](const EDITABLE_LOGICAL_DRIVE& ld) { return ld.logical_drive_accelerator; });
}

namespace {

VK_BYTE CanSetEditableLogicalDriveAccelerator(PCDA cda, VK_WORD editable_ld_number, VK_BYTE accelerator) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kCanSetEditableLogicalDriveAcceleratorLogicalDriveNotCreated;
    }
    if (ControllerLocked(cda)) {
        return kCanSetEditableLogicalDriveAcceleratorLogicalControllerStatusNotOK;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, *ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveAcceleratorNoArraySet;
    }
    if ((ld->flags & kEditableLDLUCache) || ld->lu_cache_ld_number != kInvalidNumber) {
        return kCanSetEditableLogicalDriveAcceleratorLUCacheEnabled;
    }
    const bool io_bypass = accelerator == kLogicalDriveAcceleratorIOBypass;
    const bool array_bypass = (array->flags & kEditableArrIOBypass) != 0;
    const bool several = array->logical_drive_count > 1;
    if ((accelerator == kLogicalDriveAcceleratorNone || accelerator == kLogicalDriveAcceleratorControllerCache) &&
        array_bypass && several) {
        return kCanSetEditableLogicalDriveAcceleratorArrayUsesIOBypass;
    }
    if ((accelerator == kLogicalDriveAcceleratorControllerCache && !ControllerCachePresent(cda)) ||
        (io_bypass && !VK_ControllerSupportsIOBypass(cda)) ||
        (accelerator != kLogicalDriveAcceleratorNone && accelerator != kLogicalDriveAcceleratorControllerCache &&
         !io_bypass)) {
        return kCanSetEditableLogicalDriveAcceleratorUnsupported;
    }
    if (io_bypass && (!several || array_bypass) && !IsSSDArray(*array)) {
        return kCanSetEditableLogicalDriveAcceleratorDriveTypeNotSSD;
    }
    if (io_bypass && several && !array_bypass) {
        return kCanSetEditableLogicalDriveAcceleratorNotTheFirstLDInArray;
    }
    if (ld->logical_drive_accelerator == accelerator) {
        return kCanSetEditableLogicalDriveAcceleratorAlreadySet;
    }
    if (array->flags & kEditableArrSplitMirror) {
        return kCanSetEditableLogicalDriveAcceleratorSplitMirrorVolume;
    }
    if (!IsNew(*ld)) {
        const VK_DWORD array_status = VK_GetEditableArrayStatusInfo(cda, ld->editable_array_number);
        if (io_bypass &&
            (array_status & (kArrayStatusHasTransformingLogicalDrive | kArrayStatusHasRekeyingLogicalDrive))) {
            return kCanSetEditableLogicalDriveAcceleratorArrayHasTransformingLogicalDrive;
        }
        if (array_status & kArrayStatusHasRecoveringLogicalDrive) {
            return kCanSetEditableLogicalDriveAcceleratorArrayHasRecoveringLogicalDrive;
        }
        const VK_BYTE unit = LiveUnitStatus(cda, editable_ld_number);
        if (unit == kLogicalDriveUnitStatus1Failed || unit == kLogicalDriveUnitStatus30SEDQualificationFailed) {
            return kCanSetEditableLogicalDriveAcceleratorLogicalDriveStatusNotOK;
        }
        if (Initializing(unit) && (io_bypass || ld->logical_drive_accelerator == kLogicalDriveAcceleratorIOBypass)) {
            return kCanSetEditableLogicalDriveAcceleratorInitializingLogicalDrive;
        }
    }
    return kCanSetEditableLogicalDriveAcceleratorOK;
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveAccelerator(PCDA cda, VK_WORD editable_ld_number, VK_BYTE accelerator) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveAcceleratorNoEditableConfigCreated,
                        CanSetEditableLogicalDriveAccelerator, editable_ld_number, accelerator);
}

VK_BYTE VK_SetEditableLogicalDriveAccelerator(PCDA cda, VK_WORD editable_ld_number, VK_BYTE accelerator) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveAcceleratorOK,
                     VK_CanSetEditableLogicalDriveAccelerator, editable_ld_number, accelerator)) {
        return kSetEditableLogicalDriveAcceleratorFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    ld->logical_drive_accelerator = accelerator;
    // The commit rewrites the accelerator only where IO bypass comes or goes; a new drive gets its
    // accelerator when it is created.
    if (!IsNew(*ld) && (LOGICAL_DRIVE_ACCELERATOR(VK_GetLogicalDriveBasicInfo(cda, editable_ld_number)) ==
                            kLogicalDriveAcceleratorIOBypass ||
                        accelerator == kLogicalDriveAcceleratorIOBypass)) {
        ld->flags |= kEditableLDAcceleratorChanged;
    }
    _VK_GetEditableConfiguration(cda)->flags |= kEditableConfigCacheConfig;
    return kSetEditableLogicalDriveAcceleratorOK;
}

VK_BYTE VK_GetEditableLogicalDriveLabel(PCDA cda, VK_WORD editable_ld_number, char* drive_label_buffer,
                                        size_t buffer_size) {
    if (drive_label_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'drive_label_buffer != NULL' failed: Destination for ld volume label NULL\n",
                    __func__, __LINE__);
    }
    if (buffer_size <= kLabelSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'buffer_size > sizeof(((LogicalDriveRecord*)0)->identify_logical_drive_buffer."
                    "sVolumeLabel)' failed: Destination for ld volume label not large enough\n",
                    __func__, __LINE__);
    }
    if (cda == nullptr) {
        return kGetEditableLogicalDriveLabelNoEditableConfigCreated;
    }
    CDALock guard(cda);
    if (_VK_GetEditableConfiguration(cda) == nullptr) {
        return kGetEditableLogicalDriveLabelNoEditableConfigCreated;
    }
    if (drive_label_buffer == nullptr) {
        return kGetEditableLogicalDriveLabelNullBuffer;
    }
    if (buffer_size <= kLabelSize) {
        return kGetEditableLogicalDriveLabelBufferTooSmall;
    }
    std::memset(drive_label_buffer, 0, buffer_size);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    // No staged drive of that number: there is no label to give, as without a configuration.
    if (ld == nullptr) {
        return kGetEditableLogicalDriveLabelNoEditableConfigCreated;
    }
    std::memcpy(drive_label_buffer, ld->logical_drive_label, kLabelSize);
    return kGetEditableLogicalDriveLabelOK;
}

namespace {

VK_BYTE CanSetEditableLogicalDriveLabel(PCDA cda, VK_WORD editable_ld_number, const char* drive_label,
                                        size_t buffer_size) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kCanSetEditableLogicalDriveLabelInvalidLogicalDrive;
    }
    if (drive_label == nullptr || buffer_size == 0) {
        return kCanSetEditableLogicalDriveLabelInvalidLabel;
    }
    if (!(ld->flags & kEditableLDArraySet)) {
        return kCanSetEditableLogicalDriveLabelNoArraySet;
    }
    if (ld->flags & kEditableLDLUCache) {
        return kCanSetEditableLogicalDriveLabelNotAllowedForLUCache;
    }
    if (buffer_size > kLabelSize) {
        return kCanSetEditableLogicalDriveLabelLabelTooLong;
    }
    if (!IsNew(*ld) && Initializing(LiveUnitStatus(cda, editable_ld_number))) {
        return kCanSetEditableLogicalDriveLabelInitializingLogicalDrive;
    }
    if (VK_GetEditableLogicalDriveType(cda, editable_ld_number) != kLogicalDriveTypeData) {
        return kCanSetEditableLogicalDriveLabelNotADataDrive;
    }
    const VK_BYTE text = telmar::ldprops::CheckLabelText(drive_label, buffer_size);
    return text != 0 ? text : kCanSetEditableLogicalDriveLabelOK;
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveLabel(PCDA cda, VK_WORD editable_ld_number, const char* drive_label,
                                           size_t buffer_size) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveLabelNoEditableConfigCreated,
                        CanSetEditableLogicalDriveLabel, editable_ld_number, drive_label, buffer_size);
}

VK_BYTE VK_SetEditableLogicalDriveLabel(PCDA cda, VK_WORD editable_ld_number, const char* drive_label,
                                        size_t buffer_size) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveLabelOK,
                     VK_CanSetEditableLogicalDriveLabel, editable_ld_number, drive_label, buffer_size)) {
        return kSetEditableLogicalDriveLabelFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kSetEditableLogicalDriveLabelFailedUnknown;
    }
    std::memset(ld->logical_drive_label, 0, kLabelSize);
    std::memcpy(ld->logical_drive_label, drive_label, buffer_size);
    ld->flags &= ~kEditableLDLabelUnchanged;
    return kSetEditableLogicalDriveLabelOK;
}

namespace {

VK_BYTE CanLockEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    // No staged drive: nothing has an array yet.
    if (ld == nullptr) {
        return kCanLockEditableLogicalDriveNoArraySet;
    }
    if (ld->flags & kEditableLDLocked) {
        return kCanLockEditableLogicalDriveAlreadyLocked;
    }
    if (!(ld->flags & kEditableLDArraySet)) {
        return kCanLockEditableLogicalDriveNoArraySet;
    }
    if (!(ld->flags & kEditableLDRAIDSet)) {
        return kCanLockEditableLogicalDriveNoRAIDLevelSet;
    }
    if (!(ld->flags & kEditableLDStripSizeSet)) {
        return kCanLockEditableLogicalDriveNoStripSizeSet;
    }
    if (!(ld->flags & kEditableLDSizeSet)) {
        return kCanLockEditableLogicalDriveNoSizeSet;
    }
    if ((ld->flags & kEditableLDLUCache) && (ld->lu_cache_ld_number == kInvalidNumber || ld->lu_cache_policy == 0)) {
        return kCanLockEditableLogicalDriveNoCachingLogicalDriveSet;
    }
    return kCanLockEditableLogicalDriveOK;
}

} // namespace

VK_BYTE VK_CanLockEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    return StagedAnswer(cda, kCanLockEditableLogicalDriveNoEditableConfigCreated, CanLockEditableLogicalDrive,
                        editable_ld_number);
}

VK_BYTE VK_LockEditableLogicalDrive(PCDA cda, VK_WORD editable_ld_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanLockEditableLogicalDriveOK,
                     VK_CanLockEditableLogicalDrive, editable_ld_number)) {
        return kLockEditableLogicalDriveFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld->logical_drive_accelerator == kLogicalDriveAcceleratorUnknown &&
        VK_SetEditableLogicalDriveAccelerator(cda, editable_ld_number, kLogicalDriveAcceleratorIOBypass) !=
            kSetEditableLogicalDriveAcceleratorOK) {
        VK_SetEditableLogicalDriveAccelerator(cda, editable_ld_number, kLogicalDriveAcceleratorControllerCache);
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, *ld);
    if (array != nullptr && array->logical_drive_count == 1 &&
        ld->logical_drive_accelerator == kLogicalDriveAcceleratorIOBypass) {
        array->flags |= kEditableArrIOBypass;
    }
    ld->flags |= kEditableLDLocked;
    return kLockEditableLogicalDriveOK;
}

// ---- Sizes ----
//
// The sizes of a staged logical drive and the bounds a new or extended drive may take: the array's
// free space through the RAID geometry, then the LU-cache limits for drives that take part in one.

namespace {

constexpr VK_QWORD kSmallestCreatableBlocks = 32768;
constexpr VK_DWORD kLargestLUCacheLineBytes = 0x40000;
constexpr VK_WORD kLUCacheLine256KBSupport = 0x400;

VK_QWORD Times(VK_QWORD a, VK_QWORD b) {
    VK_QWORD p = 0;
    return __builtin_mul_overflow(a, b, &p) ? std::numeric_limits<VK_QWORD>::max() : p;
}

VK_QWORD Plus(VK_QWORD a, VK_QWORD b) {
    VK_QWORD s = 0;
    return __builtin_add_overflow(a, b, &s) ? std::numeric_limits<VK_QWORD>::max() : s;
}

VK_QWORD Less(VK_QWORD a, VK_QWORD b) {
    return a > b ? a - b : 0;
}

// What the size getter works from: the drive, its array and their geometry.
struct SizeContext {
    PCDA cda;
    const EDITABLE_LOGICAL_DRIVE& ld;
    const EDITABLE_ARRAY& array;
    VK_WORD usable;
    VK_WORD block; // the array's common block size

    // 16 GiB in the array's blocks; none without a block size.
    VK_QWORD SixteenGiB() const { return block != 0 ? kMinimumCachedDataBytes / block : 0; }

    VK_QWORD LargestUsable(VK_QWORD free_per_drive, VK_DWORD strip_bytes) const {
        const VK_DWORD strip_blocks = block != 0 ? strip_bytes / block : 0;
        return __VK_GetLogicalDriveAdjustedSize(
            __VK_GetLogicalDriveMaxUsableSize(usable, free_per_drive, strip_blocks, 0), ld.sectors_per_track, 0);
    }

    bool CachesData() const { return !(ld.flags & kEditableLDLUCache) && ld.lu_cache_ld_number != kInvalidNumber; }

    // The LU-cache limits on a largest size.
    VK_QWORD LUCacheCap(VK_QWORD size) const {
        if (ld.flags & kEditableLDLUCache) {
            size = std::min(size, _VK_GetMaxEditableLUCacheSizeBlocks(cda, ld.lu_cache_algorithm,
                                                                       ld.lu_cache_line_size_blocks));
            VK_QWORD data_size = 0;
            if (ld.lu_cache_ld_number < kMaxLogicalDrivesSupported &&
                VK_GetEditableLogicalDriveSize(cda, ld.lu_cache_ld_number, kLogicalDriveSizeBlocks, &data_size) ==
                    kGetEditableLogicalDriveSizeOK) {
                size = std::min(size, data_size);
            }
        } else if (CachesData()) {
            size = std::min(size, _VK_GetMaxEditableLUCachedDataSizeBlocks(cda, ld.lu_cache_algorithm,
                                                                            ld.lu_cache_line_size_blocks));
        }
        return size;
    }

    VK_QWORD MaxCreatable() const {
        VK_DWORD strip = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxStripSizeBytes);
        if (ld.flags & kEditableLDLUCache) {
            strip = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeLUCacheMaxStripSizeBytes);
            if (VK_ControllerSupportsLUCache(cda) & kLUCacheLine256KBSupport) {
                strip = std::max(strip, kLargestLUCacheLineBytes);
            }
        }
        return LUCacheCap(LargestUsable(Less(array.common_drive_size_blocks, ld.physical_drive_offset_block), strip));
    }

    VK_QWORD MinCreatable() const {
        if (ld.flags & kEditableLDLUCache) {
            return SixteenGiB();
        }
        const VK_QWORD smallest = __VK_GetLogicalDriveAdjustedSize(kSmallestCreatableBlocks, ld.sectors_per_track, 0);
        return CachesData() ? std::max(smallest, SixteenGiB()) : smallest;
    }

    // The free space at the array's end and every gap behind the drive, per drive.
    VK_QWORD MaxResizeable() const {
        VK_QWORD free_per_drive =
            Less(array.common_drive_size_blocks, VK_GetEditableArrayNextLogicalDriveOffset(cda, array.editable_array_number));
        const EDITABLE_LOGICAL_DRIVE* previous = &ld;
        for (VK_WORD n = _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array.editable_array_number, ld.ld_number,
                                                                         kTrue);
             n != kInvalidNumber;
             n = _VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, array.editable_array_number, n, kTrue)) {
            const PEDITABLE_LOGICAL_DRIVE next = _VK_GetEditableLogicalDrive(cda, n);
            if (next == nullptr) {
                break;
            }
            free_per_drive = Plus(free_per_drive, Less(next->physical_drive_offset_block,
                                                       Plus(previous->physical_drive_offset_block,
                                                            previous->physical_drive_blocks_per_drive)));
            previous = next;
        }
        const VK_QWORD grown = Plus(
            LargestUsable(free_per_drive, VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxStripSizeBytes)),
            ld.drive_size_blocks);
        return LUCacheCap(grown);
    }

    VK_QWORD MinResizeable() const {
        VK_QWORD smallest = IsNew(ld) ? MinCreatable() : VK_GetLogicalDriveSize(cda, ld.ld_number, kLogicalDriveSizeBlocks);
        if ((ld.flags & kEditableLDLUCache) || ld.lu_cache_ld_number != kInvalidNumber) {
            smallest = std::max(smallest, SixteenGiB());
        }
        return smallest;
    }
};

} // namespace

VK_BYTE VK_GetEditableLogicalDriveSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE size_type, VK_QWORD* drive_size) {
    if (drive_size != nullptr) {
        *drive_size = 0;
    }
    if (cda == nullptr) {
        return kGetEditableLogicalDriveSizeNoEditableConfigCreated;
    }
    CDALock guard(cda);
    if (_VK_GetEditableConfiguration(cda) == nullptr || drive_size == nullptr) {
        return kGetEditableLogicalDriveSizeNoEditableConfigCreated;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    // No staged drive: nothing has an array yet.
    if (ld == nullptr) {
        return kGetEditableLogicalDriveSizeNoArraySet;
    }
    if (size_type == kLogicalDriveBlockSizeBytes) {
        *drive_size = ld->block_size_bytes;
        return kGetEditableLogicalDriveSizeOK;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, *ld);
    if (array == nullptr) {
        return kGetEditableLogicalDriveSizeNoArraySet;
    }
    if (!(ld->flags & kEditableLDRAIDSet)) {
        return kGetEditableLogicalDriveSizeNoRAIDLevelSet;
    }
    if (!(ld->flags & kEditableLDStripSizeSet)) {
        return kGetEditableLogicalDriveSizeNoStripSizeSet;
    }
    const SizeContext s{cda, *ld, *array,
                        __VK_GetUsableDriveCount(array->data_drive_count, ld->RAID_level, ld->num_parity_groups),
                        array->common_block_size};
    const VK_WORD block = array->common_block_size;
    switch (size_type) {
    case kLogicalDriveSizeBlocks:
    case kLogicalDriveSizeBytes:
        if (!(ld->flags & kEditableLDSizeSet)) {
            return kGetEditableLogicalDriveSizeNoSizeSet;
        }
        *drive_size = size_type == kLogicalDriveSizeBlocks ? ld->drive_size_blocks
                                                           : Times(ld->drive_size_blocks, ld->block_size_bytes);
        break;
    case kLogicalDriveStripSizeBlocks: *drive_size = ld->strip_size_blocks; break;
    case kLogicalDriveStripSizeBytes: *drive_size = Times(ld->strip_size_blocks, ld->block_size_bytes); break;
    case kLogicalDriveSizeMaxCreatableSizeBytes: *drive_size = Times(s.MaxCreatable(), block); break;
    case kLogicalDriveSizeMaxCreatableSizeBlocks: *drive_size = s.MaxCreatable(); break;
    case kLogicalDriveSizeMaxCreatableSizeBlocksPerDrive:
        *drive_size = __VK_GetLogicalDriveUsageBlocks(s.MaxCreatable(), ld->strip_size_blocks, s.usable);
        break;
    case kLogicalDriveSizeMinCreatableSizeBlocks: *drive_size = s.MinCreatable(); break;
    case kLogicalDriveSizeMinCreatableSizeBytes: *drive_size = Times(s.MinCreatable(), block); break;
    case kLogicalDriveSizeMaxResizeableSizeBytes: *drive_size = Times(s.MaxResizeable(), block); break;
    case kLogicalDriveSizeMaxResizeableSizeBlocks: *drive_size = s.MaxResizeable(); break;
    case kLogicalDriveSizeMinResizeableSizeBytes: *drive_size = Times(s.MinResizeable(), block); break;
    case kLogicalDriveSizeMinResizeableSizeBlocks: *drive_size = s.MinResizeable(); break;
    default: return kGetEditableLogicalDriveSizeNoEditableConfigCreated;
    }
    return kGetEditableLogicalDriveSizeOK;
}

// ---- Setting the size of a staged logical drive ----
//
// A new drive takes its size between the creatable bounds; an existing drive can only grow, which the
// controller does as a transformation at commit, so the drive and the drives it pushes back must be
// transformable and fit in the controller's queue. Either way the drives after it are laid out again
// behind its new end.

namespace {

// Staged sizes are adjusted as the controller lays out a drive it creates.
constexpr VK_WORD kSetSizeSectorsPerTrack = 32;

// The requested size in blocks; nothing for a size type the drive cannot take.
std::optional<VK_QWORD> RequestedBlocks(const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE size_type,
                                        VK_QWORD ld_size) {
    if (size_type == kEditableLogicalDriveSizeBlocks) {
        return ld_size;
    }
    if (size_type == kEditableLogicalDriveSizeBytes && ld.block_size_bytes != 0) {
        return ld_size / ld.block_size_bytes;
    }
    return std::nullopt;
}

SizeContext SizeContextOf(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, const EDITABLE_ARRAY& array) {
    return SizeContext{cda, ld, array,
                       __VK_GetUsableDriveCount(array.data_drive_count, ld.RAID_level, ld.num_parity_groups),
                       array.common_block_size};
}

VK_BYTE CanSetNewDriveSize(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE size_type, VK_QWORD ld_size) {
    if (ld.flags & kEditableLDLocked) {
        return kCanSetEditableLogicalDriveSizeLogicalDriveIsLocked;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveSizeNoArraySet;
    }
    if (!(ld.flags & kEditableLDRAIDSet)) {
        return kCanSetEditableLogicalDriveSizeNoRAIDLevelSet;
    }
    if (!(ld.flags & kEditableLDStripSizeSet)) {
        return kCanSetEditableLogicalDriveSizeNoStripSizeSet;
    }
    const std::optional<VK_QWORD> blocks = RequestedBlocks(ld, size_type, ld_size);
    if (!blocks) {
        return kCanSetEditableLogicalDriveSizeInvalidSizeType;
    }
    const SizeContext s = SizeContextOf(cda, ld, *array);
    if (*blocks < s.MinCreatable()) {
        return kCanSetEditableLogicalDriveSizeRequestedSizeTooSmall;
    }
    if (*blocks > s.MaxCreatable()) {
        return kCanSetEditableLogicalDriveSizeRequestedSizeTooLarge;
    }
    return kCanSetEditableLogicalDriveSizeOK;
}

// The existing drives after `ld_number` that do not yet wait for a transformation and would need
// one once they move.
VK_WORD LaterDrivesNewlyTransformed(PCDA cda, VK_WORD array_number, VK_WORD ld_number) {
    VK_WORD order[kMaxLogicalDrivesSupported];
    const size_t count = LaterDrives(cda, array_number, ld_number, order);
    VK_WORD newly = 0;
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE later = _VK_GetEditableLogicalDrive(cda, order[i]);
        if (later != nullptr && !IsNew(*later) && !(later->flags & kEditableLDTransformation)) {
            ++newly;
        }
    }
    return newly;
}

// Whether the drives that newly need a transformation (this one, and the existing drives after it
// when `later_too`) still fit in the controller's queue.
bool QueueHasRoom(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, bool later_too) {
    const int newly =
        ((ld.flags & kEditableLDTransformation) ? 0 : 1) +
        (later_too ? LaterDrivesNewlyTransformed(cda, ld.editable_array_number, ld.ld_number) : 0);
    return TransformationQueueRoom(cda) >= newly;
}

// The transformation outcome of an existing drive staged at `target`, and of the drives after it laid
// out from the aligned end of the target's footprint when `later_too`: 1, an answer of the
// transformation check, or kLaterLogicalDrivesExceedTransformationQueue.
VK_BYTE CheckMigration(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, LogicalDriveTransformation& target,
                       bool later_too) {
    const VK_BYTE own = _VK_CanTransformLogicalDrive(cda, ld.ld_number, &target);
    if (own != 1) {
        return own;
    }
    if (later_too) {
        const VK_QWORD start = VK_GetNextEditableLogicalDriveAlignedOffset(
            cda, ld.editable_array_number,
            SaturatingSum(ld.physical_drive_offset_block, target.physical_drive_blocks_per_drive));
        const VK_BYTE later =
            _VK_CheckLaterLogicalDriveTransformations(cda, ld.editable_array_number, ld.ld_number, start);
        if (later != 1) {
            return later;
        }
    }
    return QueueHasRoom(cda, ld, later_too) ? 1 : kLaterLogicalDrivesExceedTransformationQueue;
}

// Whether the controller can take a transformation now: its status and encryption lock, and its cache
// unless it transforms without power protection. `ok`, or the edit's answer for what stops it.
VK_BYTE ControllerTakesTransformation(PCDA cda, VK_DWORD transformations, VK_BYTE ok,
                                      VK_BYTE controller_not_ok, VK_BYTE cache_not_ok) {
    const VK_DWORD controller = VK_GetControllerStatusInfo(cda);
    if (CONTROLLER_STATUS(controller) != kControllerStatusOK || ControllerLocked(cda)) {
        return controller_not_ok;
    }
    const VK_BYTE cache = CACHE_STATUS(controller);
    if (!(transformations & kControllerSupportsPowerlessTransformations) &&
        (cache == kControllerCacheStatusTemporarilyDisabled ||
         cache == kControllerCacheStatusPermanentlyDisabled)) {
        return cache_not_ok;
    }
    return ok;
}

constexpr TransformationAnswers kSizeTransformation{
    .ok = kCanSetEditableLogicalDriveSizeOK,
    .memory = kCanSetEditableLogicalDriveSizeExceedsTransformationMemory,
    .no_preservation = kCanSetEditableLogicalDriveSizeDataPreservationNotAvailable,
    .unsafe_stripe = kCanSetEditableLogicalDriveSizeNotAllowed,
    .queue_full = kCanSetEditableLogicalDriveSizeMaxTransformationsReached,
    .other = kCanSetEditableLogicalDriveSizeArrayStatusNotOK,
};

VK_BYTE CanExtendExistingDrive(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE size_type,
                               VK_QWORD ld_size) {
    const VK_DWORD transformations = VK_ControllerSupportsTransformations(cda);
    if (!(transformations & kControllerSupportsLogicalDriveExtension)) {
        return kCanSetEditableLogicalDriveSizeLogicalDriveExtensionNotSupported;
    }
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanSetEditableLogicalDriveSizeLUCachingEnabled;
    }
    const std::optional<VK_QWORD> blocks = RequestedBlocks(ld, size_type, ld_size);
    if (!blocks) {
        return kCanSetEditableLogicalDriveSizeInvalidSizeType;
    }
    // An existing drive always sits in an array; one without is a damaged staging.
    const PEDITABLE_ARRAY array = ArrayOf(cda, ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveSizeNoArraySet;
    }
    const VK_QWORD adjusted = __VK_GetLogicalDriveAdjustedSize(*blocks, kSetSizeSectorsPerTrack, 0);
    // A live size that is no whole number of cylinders adjusts below itself: asking for it is no
    // change, not a shrink.
    if (adjusted == ld.drive_size_blocks || *blocks == ld.drive_size_blocks) {
        return kCanSetEditableLogicalDriveSizeRequestedSizeNoSizeChange;
    }
    const SizeContext s = SizeContextOf(cda, ld, *array);
    // The size that would be stored is the adjusted one; below the live size it would shrink the drive.
    if (adjusted < s.MinResizeable()) {
        return kCanSetEditableLogicalDriveSizeRequestedSizeShrinkNotAllowed;
    }
    if (*blocks > s.MaxResizeable()) {
        return kCanSetEditableLogicalDriveSizeRequestedSizeTooLarge;
    }
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, ld.editable_array_number);
    if (status == kArrayStatusOK) {
        const VK_BYTE controller =
            ControllerTakesTransformation(cda, transformations, kCanSetEditableLogicalDriveSizeOK,
                                          kCanSetEditableLogicalDriveSizeControllerStatusNotOK,
                                          kCanSetEditableLogicalDriveSizeControllerCacheStatusNotOK);
        if (controller != kCanSetEditableLogicalDriveSizeOK) {
            return controller;
        }
    } else if (StatusBlocksTransformation(cda, ld.editable_array_number, status)) {
        return kCanSetEditableLogicalDriveSizeArrayStatusNotOK;
    }
    if (array->flags & (kEditableArrLUCache | kEditableArrSplitMirror)) {
        return kCanSetEditableLogicalDriveSizeNotDataArray;
    }
    LogicalDriveTransformation target;
    _VK_InitializeLogicalDriveTransformationSettings(cda, ld.ld_number, &target);
    target.drive_size_blocks = adjusted;
    return TransformationAnswer(CheckMigration(cda, ld, target, true), kSizeTransformation);
}

void LogSizing(const EDITABLE_LOGICAL_DRIVE& ld) {
    PN_DebugLog(2, 0, "%s:%d: Setting ld %u sizing: { off:%llu, pd-size:%llu, ld-size:%llu }\n", __FILE__,
                __LINE__, ld.ld_number, static_cast<unsigned long long>(ld.physical_drive_offset_block),
                static_cast<unsigned long long>(ld.physical_drive_blocks_per_drive),
                static_cast<unsigned long long>(ld.drive_size_blocks));
}

VK_BYTE CanSetEditableLogicalDriveSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE size_type,
                                       VK_QWORD ld_size) {
    // No staged drive: nothing has an array yet.
    return NewOrExistingDrive(cda, editable_ld_number, kCanSetEditableLogicalDriveSizeNoArraySet,
                              CanSetNewDriveSize, CanExtendExistingDrive, size_type, ld_size);
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE size_type,
                                          VK_QWORD ld_size) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveSizeNoEditableConfigCreated,
                        CanSetEditableLogicalDriveSize, editable_ld_number, size_type, ld_size);
}

VK_BYTE VK_SetEditableLogicalDriveSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE size_type,
                                       VK_QWORD ld_size) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveSizeOK,
                     VK_CanSetEditableLogicalDriveSize, editable_ld_number, size_type, ld_size)) {
        return kSetEditableLogicalDriveSizeFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    const PEDITABLE_ARRAY array = ArrayOf(cda, *ld);
    const std::optional<VK_QWORD> blocks = RequestedBlocks(*ld, size_type, ld_size);
    if (array == nullptr || !blocks) {
        return kSetEditableLogicalDriveSizeFailedUnknown;
    }
    const VK_WORD array_number = ld->editable_array_number;
    const VK_QWORD adjusted = __VK_GetLogicalDriveAdjustedSize(*blocks, kSetSizeSectorsPerTrack, 0);
    const VK_WORD usable =
        __VK_GetUsableDriveCount(array->data_drive_count, ld->RAID_level, ld->num_parity_groups);
    ld->drive_size_blocks = adjusted;
    ld->physical_drive_blocks_per_drive =
        __VK_GetLogicalDriveUsageBlocks(adjusted, ld->strip_size_blocks, usable);
    ld->flags |= kEditableLDSizeSet;
    LogSizing(*ld);
    if (array->logical_drive_count > 1) {
        const VK_QWORD start = VK_GetNextEditableLogicalDriveAlignedOffset(
            cda, array_number,
            SaturatingSum(ld->physical_drive_offset_block, ld->physical_drive_blocks_per_drive));
        VK_WORD order[kMaxLogicalDrivesSupported];
        const size_t count = LaterDrives(cda, array_number, ld->ld_number, order);
        _VK_RelayoutEditableArrayLogicalDrives(cda, array_number, ld->ld_number, start);
        for (size_t i = 0; i < count; ++i) {
            const PEDITABLE_LOGICAL_DRIVE later = _VK_GetEditableLogicalDrive(cda, order[i]);
            if (later != nullptr) {
                LogSizing(*later);
            }
        }
    }
    if (!IsNew(*ld)) {
        _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
    }
    PN_DebugLog(
        2, 0, "%s:%d: Next ld offset will be at %llu\n", __FILE__, __LINE__,
        static_cast<unsigned long long>(VK_GetEditableArrayNextLogicalDriveOffset(cda, array_number)));
    return kSetEditableLogicalDriveSizeOK;
}

// ---- Staged logical-drive RAID level and strip size ----

namespace {

bool IsLUCacheDrive(const EDITABLE_LOGICAL_DRIVE& ld) { return (ld.flags & kEditableLDLUCache) != 0; }

bool SameRAID(const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE raid_level, VK_BYTE parity_group_count) {
    return ld.RAID_level == raid_level &&
           (!__VK_IsParityRAID(raid_level) || ld.num_parity_groups == parity_group_count);
}

bool EncryptionLocksDrive(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld) {
    return (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) &&
           (ld.flags & kEditableLDEncrypted);
}

bool ControllerNotOK(PCDA cda) { return CONTROLLER_STATUS(VK_GetControllerStatusInfo(cda)) != kControllerStatusOK; }

bool ControllerCacheNotOK(PCDA cda) {
    const VK_BYTE cache = CACHE_STATUS(VK_GetControllerStatusInfo(cda));
    return cache == kControllerCacheStatusTemporarilyDisabled || cache == kControllerCacheStatusPermanentlyDisabled;
}

// RAID 0 leaves an auto-replace spare nothing to rebuild, so it only fits when spares activate on
// prediction (before the drive fails).
bool RAID0SpareConflict(PCDA cda, VK_WORD array_number, VK_BYTE raid_level) {
    return raid_level == kRAID0 && VK_GetEditableArraySpareType(cda, array_number) == kSpareDriveTypeAutoReplace &&
           VK_GetEditableControllerSAM(cda) != kControllerSAMTypePredictive;
}

// Room the array leaves behind its last drive, in blocks per drive.
VK_QWORD ArrayFreeAtEnd(PCDA cda, const EDITABLE_ARRAY& array) {
    const VK_QWORD next = VK_GetEditableArrayNextLogicalDriveOffset(cda, array.editable_array_number);
    return array.common_drive_size_blocks > next ? array.common_drive_size_blocks - next : 0;
}

// The answers a migration of an existing drive (to another RAID level, or another strip size) gives
// for the refusals every such migration shares; each check has its own codes for them.
struct MigrationAnswers {
    VK_BYTE ok;
    VK_BYTE not_data_array;
    VK_BYTE unsaved_drives;
    VK_BYTE array_status;
    VK_BYTE controller_status;
    VK_BYTE controller_cache_status;
    VK_BYTE full_stripe_overflow;
    VK_BYTE no_data_preservation;
    VK_BYTE queue_full;

    // A migration answers a transformation outcome of CheckMigration alike whether it is too much memory
    // or an unsafe stripe, and anything unknown as the array's state.
    constexpr TransformationAnswers Outcomes() const {
        return {
            .ok = ok,
            .memory = full_stripe_overflow,
            .no_preservation = no_data_preservation,
            .unsafe_stripe = full_stripe_overflow,
            .queue_full = queue_full,
            .other = array_status,
        };
    }
};

constexpr MigrationAnswers kRAIDLevelMigration{
    kCanSetEditableLogicalDriveRAIDLevelOK,
    kCanSetEditableLogicalDriveRAIDLevelNotDataArray,
    kCanSetEditableLogicalDriveRAIDLevelArrayHasUnsavedLogicalDrives,
    kCanSetEditableLogicalDriveRAIDLevelArrayStatusNotOK,
    kCanSetEditableLogicalDriveRAIDLevelControllerStatusNotOK,
    kCanSetEditableLogicalDriveRAIDLevelControllerCacheStatusNotOK,
    kCanSetEditableLogicalDriveRAIDLevelFullStripeSizeOverflow,
    kCanSetEditableLogicalDriveRAIDLevelDataPreservationNotAvailable,
    kCanSetEditableLogicalDriveRAIDLevelMaxTransformationsReached,
};

constexpr MigrationAnswers kStripSizeMigration{
    kCanSetEditableLogicalDriveStripSizeOK,
    kCanSetEditableLogicalDriveStripSizeNotDataArray,
    kCanSetEditableLogicalDriveStripSizeArrayHasUnsavedLogicalDrives,
    kCanSetEditableLogicalDriveStripSizeArrayStatusNotOK,
    kCanSetEditableLogicalDriveStripSizeControllerStatusNotOK,
    kCanSetEditableLogicalDriveStripSizeControllerCacheStatusNotOK,
    kCanSetEditableLogicalDriveStripSizeFullStripeSizeOverflow,
    kCanSetEditableLogicalDriveStripSizeDataPreservationNotAvailable,
    kCanSetEditableLogicalDriveStripSizeMaxTransformationsReached,
};

// Whether the array, its state and the controller let a drive of `array` migrate: `ok`, or why not.
VK_BYTE MigrationAllowedOn(PCDA cda, const EDITABLE_ARRAY& array, const MigrationAnswers& answers) {
    if (array.flags & (kEditableArrLUCache | kEditableArrSplitMirror)) {
        return answers.not_data_array;
    }
    if (array.flags & kEditableArrHasNewLD) {
        return answers.unsaved_drives;
    }
    if (StatusBlocksTransformation(cda, array.editable_array_number,
                                   VK_GetEditableArrayStatusInfo(cda, array.editable_array_number))) {
        return answers.array_status;
    }
    if (ControllerNotOK(cda)) {
        return answers.controller_status;
    }
    if (ControllerCacheNotOK(cda)) {
        return answers.controller_cache_status;
    }
    return answers.ok;
}

// 32,768 blocks over the usable drives, rounded up to whole MiB of the array's blocks.
bool NewDriveFootprintFits(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, const EDITABLE_ARRAY& array,
                           VK_BYTE raid_level, VK_BYTE parity_group_count) {
    const VK_BYTE groups = __VK_IsParityRAID(raid_level) ? parity_group_count : 0;
    const VK_WORD usable = __VK_GetUsableDriveCount(array.data_drive_count, raid_level, groups);
    if (usable == 0 || array.common_block_size == 0) {
        return false;
    }
    VK_QWORD minimum = kMinCreatableFreeBlocks / usable;
    const VK_QWORD mib = 0x100000u / array.common_block_size;
    if (mib != 0 && minimum % mib != 0) {
        minimum += mib - minimum % mib;
    }
    const VK_QWORD reach = SaturatingSum(ld.physical_drive_blocks_per_drive, array.common_drive_size_blocks);
    const VK_QWORD next = VK_GetEditableArrayNextLogicalDriveOffset(cda, array.editable_array_number);
    return reach >= next && reach - next >= minimum;
}

bool LUCacheLevelSupported(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE raid_level) {
    if (ld.lu_cache_policy == 0) {
        return VK_ControllerSupportsLUCacheRAIDPolicy(cda, raid_level, kLUCacheWritePolicyWriteBack) ||
               VK_ControllerSupportsLUCacheRAIDPolicy(cda, raid_level, kLUCacheWritePolicyWriteThru);
    }
    return VK_ControllerSupportsLUCacheRAIDPolicy(cda, raid_level, ld.lu_cache_policy) != kFalse;
}

VK_BYTE CanSetNewDriveRAIDLevel(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE raid_level,
                                VK_BYTE parity_group_count) {
    if (ld.flags & kEditableLDLocked) {
        return kCanSetEditableLogicalDriveRAIDLevelLogicalDriveIsLocked;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveRAIDLevelNoArraySet;
    }
    if ((ld.flags & kEditableLDRAIDSet) && SameRAID(ld, raid_level, parity_group_count)) {
        return kCanSetEditableLogicalDriveRAIDLevelAlreadySet;
    }
    const bool lu_cache = IsLUCacheDrive(ld);
    if (!VK_ControllerSupportsRAIDLevel(cda, raid_level) || (lu_cache && !LUCacheLevelSupported(cda, ld, raid_level))) {
        return kCanSetEditableLogicalDriveRAIDLevelUnsupportedRAIDLevel;
    }
    VK_DWORD lu_strip = 0;
    if (lu_cache) {
        lu_strip = __VK_GetEditableLUCacheStripSize(cda, ld.ld_number, raid_level, parity_group_count);
    }
    if (!__VK_IsValidRAIDForArray(cda, array->data_drive_count, raid_level, parity_group_count) ||
        (lu_cache && lu_strip == 0)) {
        return kCanSetEditableLogicalDriveRAIDLevelUnsupportedDriveCount;
    }
    if (lu_cache) {
        if (!__VK_IsFullStripeSizeSafe(cda, array->data_drive_count, raid_level, parity_group_count, lu_strip)) {
            return kCanSetEditableLogicalDriveRAIDLevelFullStripeSizeOverflow;
        }
    } else {
        VK_BYTE min_exp = 0;
        VK_BYTE max_exp = 0;
        VK_BYTE default_exp = 0;
        const VK_BYTE range =
            _VK_GetEditableLogicalDriveStripSizeRange(cda, ld.ld_number, raid_level, parity_group_count,
                                                      array->common_drive_type, array->data_drive_count, &min_exp,
                                                      &max_exp, &default_exp);
        if (range != kGetEditableLogicalDriveStripSizeRangeOK || min_exp >= 32 ||
            !__VK_IsFullStripeSizeSafe(cda, array->data_drive_count, raid_level, parity_group_count,
                                       VK_DWORD{1} << min_exp)) {
            return kCanSetEditableLogicalDriveRAIDLevelFullStripeSizeOverflow;
        }
    }
    if (!NewDriveFootprintFits(cda, ld, *array, raid_level, parity_group_count)) {
        return kCanSetEditableLogicalDriveRAIDLevelNotEnoughFreeSpaceForRAID;
    }
    if (RAID0SpareConflict(cda, array->editable_array_number, raid_level)) {
        return kCanSetEditableLogicalDriveRAIDLevelInvalidSpareConfiguration;
    }
    return kCanSetEditableLogicalDriveRAIDLevelOK;
}

VK_BYTE CanSetExistingDriveRAIDLevel(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE raid_level,
                                     VK_BYTE parity_group_count) {
    if (!(VK_ControllerSupportsTransformations(cda) & kControllerSupportsRAIDMigration)) {
        return kCanSetEditableLogicalDriveRAIDLevelRAIDMigrationNotSupported;
    }
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanSetEditableLogicalDriveRAIDLevelLUCachingEnabled;
    }
    if (EncryptionLocksDrive(cda, ld)) {
        return kCanSetEditableLogicalDriveRAIDLevelControllerStatusNotOK;
    }
    if (!VK_ControllerSupportsRAIDLevel(cda, raid_level)) {
        return kCanSetEditableLogicalDriveRAIDLevelUnsupportedRAIDLevel;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveRAIDLevelNoArraySet;
    }
    if (!__VK_IsValidRAIDForArray(cda, array->data_drive_count, raid_level, parity_group_count)) {
        return kCanSetEditableLogicalDriveRAIDLevelUnsupportedDriveCount;
    }
    if (SameRAID(ld, raid_level, parity_group_count)) {
        return kCanSetEditableLogicalDriveRAIDLevelAlreadySet;
    }
    const VK_BYTE allowed = MigrationAllowedOn(cda, *array, kRAIDLevelMigration);
    if (allowed != kRAIDLevelMigration.ok) {
        return allowed;
    }
    const VK_QWORD footprint = __VK_GetLogicalDriveUsageBlocks(
        ld.drive_size_blocks, ld.strip_size_blocks,
        __VK_GetUsableDriveCount(array->data_drive_count, raid_level, parity_group_count));
    if (footprint > ld.physical_drive_blocks_per_drive &&
        footprint - ld.physical_drive_blocks_per_drive > ArrayFreeAtEnd(cda, *array)) {
        return kCanSetEditableLogicalDriveRAIDLevelNotEnoughFreeSpaceForRAID;
    }
    LogicalDriveTransformation target;
    _VK_InitializeLogicalDriveTransformationSettings(cda, ld.ld_number, &target);
    target.RAID_level = raid_level;
    target.num_parity_groups = parity_group_count;
    const VK_BYTE migration =
        TransformationAnswer(CheckMigration(cda, ld, target, true), kRAIDLevelMigration.Outcomes());
    if (migration != kRAIDLevelMigration.ok) {
        return migration;
    }
    if (RAID0SpareConflict(cda, array->editable_array_number, raid_level)) {
        return kCanSetEditableLogicalDriveRAIDLevelInvalidSpareConfiguration;
    }
    return kCanSetEditableLogicalDriveRAIDLevelOK;
}

VK_BYTE CanSetEditableLogicalDriveRAIDLevel(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                            VK_BYTE parity_group_count) {
    return NewOrExistingDrive(cda, editable_ld_number, kCanSetEditableLogicalDriveRAIDLevelNoArraySet,
                              CanSetNewDriveRAIDLevel, CanSetExistingDriveRAIDLevel, raid_level,
                              parity_group_count);
}

// A strip size in blocks that is 2^e bytes for an exponent e of [min_exp, max_exp]: 0 when it is one,
// else the reason (outside the range, or inside and no such power).
VK_BYTE StripSizeOutsideRange(VK_DWORD strip_size_blocks, VK_WORD block_size, VK_BYTE min_exp, VK_BYTE max_exp) {
    if (block_size == 0 || min_exp > max_exp || max_exp >= 64) {
        return kCanSetEditableLogicalDriveStripSizeValueOutOfRange;
    }
    const VK_QWORD lowest = (VK_QWORD{1} << min_exp) / block_size;
    const VK_QWORD highest = (VK_QWORD{1} << max_exp) / block_size;
    if (strip_size_blocks < lowest || strip_size_blocks > highest) {
        return kCanSetEditableLogicalDriveStripSizeValueOutOfRange;
    }
    for (unsigned e = min_exp; e <= max_exp; ++e) {
        if ((VK_QWORD{1} << e) / block_size == strip_size_blocks) {
            return 0;
        }
    }
    return kCanSetEditableLogicalDriveStripSizeInvalidValue;
}

VK_BYTE CanSetExistingDriveStripSize(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, VK_DWORD strip_size_blocks) {
    if (!(VK_ControllerSupportsTransformations(cda) & kControllerSupportsStripeMigration)) {
        return kCanSetEditableLogicalDriveStripSizeStripeMigrationNotSupported;
    }
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanSetEditableLogicalDriveStripSizeLUCachingEnabled;
    }
    if (ld.strip_size_blocks == strip_size_blocks) {
        return kCanSetEditableLogicalDriveStripSizeAlreadySet;
    }
    const PEDITABLE_ARRAY array = ArrayOf(cda, ld);
    if (array == nullptr) {
        return kCanSetEditableLogicalDriveStripSizeNoArraySet;
    }
    const VK_BYTE allowed = MigrationAllowedOn(cda, *array, kStripSizeMigration);
    if (allowed != kStripSizeMigration.ok) {
        return allowed;
    }
    LogicalDriveTransformation target;
    _VK_InitializeLogicalDriveTransformationSettings(cda, ld.ld_number, &target);
    target.strip_size_blocks = strip_size_blocks;
    const VK_BYTE own = _VK_CanTransformLogicalDrive(cda, ld.ld_number, &target);
    const bool grows = target.physical_drive_blocks_per_drive > ld.physical_drive_blocks_per_drive;
    if (grows && target.physical_drive_blocks_per_drive - ld.physical_drive_blocks_per_drive >
                     ArrayFreeAtEnd(cda, *array)) {
        return kCanSetEditableLogicalDriveStripSizeNotEnoughFreeSpaceForRAID;
    }
    VK_BYTE outcome = own;
    if (own == 1) {
        const bool moves = target.physical_drive_blocks_per_drive != ld.physical_drive_blocks_per_drive;
        outcome = CheckMigration(cda, ld, target, moves);
    }
    return TransformationAnswer(outcome, kStripSizeMigration.Outcomes());
}

VK_BYTE CanSetEditableLogicalDriveStripSize(PCDA cda, VK_WORD editable_ld_number,
                                            VK_DWORD strip_size_blocks) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kCanSetEditableLogicalDriveStripSizeNoArraySet;
    }
    const bool is_new = IsNew(*ld);
    if (is_new) {
        if (ld->flags & kEditableLDLocked) {
            return kCanSetEditableLogicalDriveStripSizeLogicalDriveIsLocked;
        }
        if (ArrayOf(cda, *ld) == nullptr) {
            return kCanSetEditableLogicalDriveStripSizeNoArraySet;
        }
        if (!(ld->flags & kEditableLDRAIDSet)) {
            return kCanSetEditableLogicalDriveStripSizeNoRAIDLevelSet;
        }
    }
    // A cache drive's strip follows from its line size.
    if (IsLUCacheDrive(*ld) ||
        (is_new && (ld->flags & kEditableLDStripSizeSet) && ld->strip_size_blocks == strip_size_blocks)) {
        return kCanSetEditableLogicalDriveStripSizeAlreadySet;
    }
    if (EncryptionLocksDrive(cda, *ld)) {
        return kCanSetEditableLogicalDriveStripSizeControllerStatusNotOK;
    }
    VK_BYTE min_exp = 0;
    VK_BYTE max_exp = 0;
    VK_BYTE default_exp = 0;
    if (VK_GetEditableLogicalDriveStripSizeRange(cda, editable_ld_number, &min_exp, &max_exp, &default_exp) !=
        kGetEditableLogicalDriveStripSizeRangeOK) {
        return kCanSetEditableLogicalDriveStripSizeValueOutOfRange;
    }
    const VK_BYTE range = StripSizeOutsideRange(strip_size_blocks, ld->block_size_bytes, min_exp, max_exp);
    if (range != 0) {
        return range;
    }
    return is_new ? kCanSetEditableLogicalDriveStripSizeOK : CanSetExistingDriveStripSize(cda, *ld, strip_size_blocks);
}

void SetNewDriveRAIDLevel(PCDA cda, EDITABLE_LOGICAL_DRIVE& ld, VK_BYTE raid_level, VK_BYTE parity_group_count,
                          bool defaults) {
    ld.RAID_level = raid_level;
    ld.num_parity_groups = parity_group_count;
    ld.flags |= kEditableLDRAIDSet;
    ld.logical_drive_initialization_method = 0;
    ld.flags &= ~(kEditableLDStripSizeSet | kEditableLDSizeSet);
    if (IsLUCacheDrive(ld)) {
        VK_DWORD stripe = 0;
        const VK_DWORD strip =
            __VK_GetEditableLUCacheStripAndStripeSize(cda, ld.ld_number, raid_level, parity_group_count, &stripe);
        if (ld.block_size_bytes > 0) {
            ld.strip_size_blocks = strip / ld.block_size_bytes;
            ld.lu_cache_line_size_blocks = stripe / ld.block_size_bytes;
        } else {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'editable_ld->block_size_bytes > 0' failed: Failed to get logical drive "
                        "block size\n",
                        __func__, __LINE__);
            ld.strip_size_blocks = 0;
            ld.lu_cache_line_size_blocks = 0;
        }
        ld.flags |= kEditableLDStripSizeSet;
    } else if (defaults) {
        VK_BYTE min_exp = 0;
        VK_BYTE max_exp = 0;
        VK_BYTE default_exp = 0;
        VK_GetEditableLogicalDriveStripSizeRange(cda, ld.ld_number, &min_exp, &max_exp, &default_exp);
        if (default_exp >= 9 && default_exp < 32 && ld.block_size_bytes > 0) {
            ld.strip_size_blocks = static_cast<VK_DWORD>((VK_QWORD{1} << default_exp) / ld.block_size_bytes);
        } else {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion '(default_strip_size_exp >= 9) && (editable_ld->block_size_bytes > 0)' "
                        "failed: Failed to get default strip size or logical drive block size\n",
                        __func__, __LINE__);
            ld.strip_size_blocks = 0;
        }
        ld.flags |= kEditableLDStripSizeSet;
    }
    if (defaults) {
        VK_QWORD size = 0;
        VK_QWORD per_drive = 0;
        VK_GetEditableLogicalDriveSize(cda, ld.ld_number, kLogicalDriveSizeMaxCreatableSizeBlocks, &size);
        VK_GetEditableLogicalDriveSize(cda, ld.ld_number, kLogicalDriveSizeMaxCreatableSizeBlocksPerDrive, &per_drive);
        ld.drive_size_blocks = size;
        ld.physical_drive_blocks_per_drive = per_drive;
        ld.flags |= kEditableLDSizeSet;
    }
}

} // namespace

void __VK_MigrateEditableLogicalDriveRAIDAndStripSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                                      VK_BYTE parity_group_count, VK_DWORD strip_size_blocks) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    const PEDITABLE_ARRAY array = ld != nullptr ? ArrayOf(cda, *ld) : nullptr;
    if (array == nullptr) {
        return;
    }
    const VK_QWORD footprint =
        __VK_GetLogicalDriveUsageBlocks(ld->drive_size_blocks, strip_size_blocks,
                                        __VK_GetUsableDriveCount(array->data_drive_count, raid_level,
                                                                 parity_group_count));
    const bool changed = footprint != ld->physical_drive_blocks_per_drive;
    ld->strip_size_blocks = strip_size_blocks;
    ld->physical_drive_blocks_per_drive = footprint;
    ld->RAID_level = raid_level;
    ld->num_parity_groups = parity_group_count;
    if (changed && array->logical_drive_count > 1) {
        _VK_RelayoutEditableArrayLogicalDrives(
            cda, array->editable_array_number, editable_ld_number,
            VK_GetNextEditableLogicalDriveAlignedOffset(cda, array->editable_array_number,
                                                        SaturatingSum(ld->physical_drive_offset_block, footprint)));
    }
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
}

VK_BYTE VK_CanSetEditableLogicalDriveRAIDLevel(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                               VK_BYTE parity_group_count) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveRAIDLevelNoEditableConfigCreated,
                        CanSetEditableLogicalDriveRAIDLevel, editable_ld_number, raid_level,
                        parity_group_count);
}

VK_BYTE VK_SetEditableLogicalDriveRAIDLevel(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                            VK_BYTE parity_group_count,
                                            VK_BOOL set_default_strip_size_and_max_size) {
    CDALock guard(cda);
    // The check does not take the defaults flag; the log still shows the call as it was made.
    const auto check = [](PCDA c, VK_WORD n, VK_BYTE level, VK_BYTE groups, VK_BOOL) {
        return VK_CanSetEditableLogicalDriveRAIDLevel(c, n, level, groups);
    };
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveRAIDLevelOK, check,
                     editable_ld_number, raid_level, parity_group_count,
                     set_default_strip_size_and_max_size)) {
        return kSetEditableLogicalDriveRAIDLevelFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (IsNew(*ld)) {
        SetNewDriveRAIDLevel(cda, *ld, raid_level, parity_group_count, set_default_strip_size_and_max_size != kFalse);
    } else {
        __VK_MigrateEditableLogicalDriveRAIDAndStripSize(cda, editable_ld_number, raid_level, parity_group_count,
                                                         ld->strip_size_blocks);
    }
    return kSetEditableLogicalDriveRAIDLevelOK;
}

VK_BYTE VK_CanSetEditableLogicalDriveStripSize(PCDA cda, VK_WORD editable_ld_number, VK_DWORD strip_size_blocks) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveStripSizeNoEditableConfigCreated,
                        CanSetEditableLogicalDriveStripSize, editable_ld_number, strip_size_blocks);
}

VK_BYTE VK_SetEditableLogicalDriveStripSize(PCDA cda, VK_WORD editable_ld_number,
                                            VK_DWORD strip_size_blocks) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, __func__}, cda, kCanSetEditableLogicalDriveStripSizeOK,
                     VK_CanSetEditableLogicalDriveStripSize, editable_ld_number, strip_size_blocks)) {
        return kSetEditableLogicalDriveStripSizeFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (IsNew(*ld)) {
        ld->strip_size_blocks = strip_size_blocks;
        ld->flags |= kEditableLDStripSizeSet;
        ld->flags &= ~kEditableLDSizeSet;
        ld->physical_drive_blocks_per_drive = 0;
        ld->drive_size_blocks = 0;
    } else {
        __VK_MigrateEditableLogicalDriveRAIDAndStripSize(cda, editable_ld_number, ld->RAID_level,
                                                         ld->num_parity_groups, strip_size_blocks);
    }
    return kSetEditableLogicalDriveStripSizeOK;
}

// ---- Staged logical-drive array assignment ----
//
// A new drive is placed at the end of a staged array; an existing drive is moved to another staged
// array, which the controller carries out as a transformation at commit.

namespace {

// Smallest logical drive, in blocks, before cylinder rounding.
constexpr VK_QWORD kSmallestAssignableBlocks = 0x8000;
// The staged controller's SED status bit: the adapter password has not been given yet.
constexpr VK_QWORD kSEDAdapterPasswordAwaited = 0x40;
// Cache line of a new LU-cache drive, in blocks.
constexpr VK_DWORD kNewLUCacheLineBlocks = 128;
// Array statuses a new drive may still be placed behind.
constexpr VK_DWORD kNewDriveTolerableStatus = kArrayStatusHasFailedLogicalDrive |
                                              kArrayStatusHasInitializingLogicalDrive |
                                              kArrayStatusHasTransformingLogicalDrive |
                                              kArrayStatusHasRekeyingLogicalDrive |
                                              kArrayStatusHasQueuedLogicalDriveTransformation;

VK_BYTE NewLUCacheAlgorithm(PCDA cda) {
    return (VK_ControllerSupportsLUCache(cda) & kControllerSupportsWriteBack) ? 2 : 1;
}

bool SEDPasswordAwaited(PCDA cda, const EDITABLE_ARRAY& target) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return (target.flags & kEditableArrSEDEncryption) && config != nullptr &&
           (config->controller_sed_encryption_status & kSEDAdapterPasswordAwaited);
}

// The target's status rules, in their order; OK when they let the drive through.
VK_BYTE CanAssignForTargetStatus(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, const EDITABLE_ARRAY& target,
                                 VK_QWORD next_offset) {
    const VK_WORD t = target.editable_array_number;
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, t);
    if (status & kArrayStatusHasUnlockedLogicalDrive) {
        return kCanSetEditableLogicalDriveArrayHasUnlockedLD;
    }
    const bool below_creatable = next_offset < target.offset_to_creatable_space;
    if (status == kArrayStatusOK || status == kArrayStatusHasInitializingLogicalDrive) {
        if (IsNew(ld) && below_creatable) {
            return kCanSetEditableLogicalDriveArraySpaceNotCurrentlyAvailable;
        }
        if (SEDPasswordAwaited(cda, target)) {
            return kCanSetEditableLogicalDriveArrayWaitingOnSEDControllerPassword;
        }
        return kCanSetEditableLogicalDriveArrayOK;
    }
    if (!IsNew(ld)) {
        if (status != kArrayStatusHasQueuedLogicalDriveTransformation ||
            _VK_GetEditableArrayQueuedTransformations(cda, t) != kEditableLDArrayMove) {
            return kCanSetEditableLogicalDriveArrayArrayStatusNotOK;
        }
    } else if (below_creatable || (status & ~kNewDriveTolerableStatus) ||
               ((status & kArrayStatusHasFailedLogicalDrive) && _VK_EditableArrayHasFailedSEDLogicalDrive(cda, t))) {
        return kCanSetEditableLogicalDriveArrayArrayStatusNotOK;
    }
    return kCanSetEditableLogicalDriveArrayOK;
}

// What keeps an existing drive from leaving its array on this controller now.
VK_BYTE CanMoveFromSource(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, const EDITABLE_ARRAY& target) {
    if (VK_IsEditableControllerLUCacheEnabled(cda)) {
        return kCanSetEditableLogicalDriveArrayLUCachingEnabled;
    }
    const VK_DWORD transformations = VK_ControllerSupportsTransformations(cda);
    if (!(transformations & kControllerSupportsLogicalDriveMove)) {
        return kCanSetEditableLogicalDriveArrayNotSupported;
    }
    const VK_DWORD source_status = VK_GetEditableArrayStatusInfo(cda, ld.editable_array_number);
    if (source_status & kArrayStatusHasUnlockedLogicalDrive) {
        return kCanSetEditableLogicalDriveArrayHasUnlockedLD;
    }
    if (StatusBlocksTransformation(cda, ld.editable_array_number, source_status)) {
        return kCanSetEditableLogicalDriveArrayArrayStatusNotOK;
    }
    const VK_BYTE controller =
        ControllerTakesTransformation(cda, transformations, kCanSetEditableLogicalDriveArrayOK,
                                      kCanSetEditableLogicalDriveArrayControllerStatusNotOK,
                                      kCanSetEditableLogicalDriveArrayControllerCacheStatusNotOK);
    if (controller != kCanSetEditableLogicalDriveArrayOK) {
        return controller;
    }
    if (SEDPasswordAwaited(cda, target)) {
        return kCanSetEditableLogicalDriveArrayWaitingOnSEDControllerPassword;
    }
    return kCanSetEditableLogicalDriveArrayOK;
}

constexpr TransformationAnswers kAssignTransformation{
    .ok = kCanSetEditableLogicalDriveArrayOK,
    .memory = kCanSetEditableLogicalDriveArrayExceedsTransformationMemory,
    .no_preservation = kCanSetEditableLogicalDriveArrayDataPreservationNotAvailable,
    .unsafe_stripe = kCanSetEditableLogicalDriveArrayFullStripeSizeOverflow,
    .queue_full = kCanSetEditableLogicalDriveArrayMaxTransformationsReached,
    .other = kCanSetEditableLogicalDriveArrayArrayStatusNotOK,
};

// The move itself and the source's later drives laid out again behind its old place: each must be
// transformable, and those not yet queued must fit in the controller's queue.
VK_BYTE CanTransformForMove(PCDA cda, const EDITABLE_LOGICAL_DRIVE& ld, const EDITABLE_ARRAY& target) {
    LogicalDriveTransformation moved;
    _VK_InitializeLogicalDriveTransformationSettings(cda, ld.ld_number, &moved);
    moved.array_number = target.editable_array_number;
    moved.data_drive_count = target.data_drive_count;
    moved.block_size_bytes = target.common_block_size;
    VK_BYTE reason =
        TransformationAnswer(_VK_CanTransformLogicalDrive(cda, ld.ld_number, &moved), kAssignTransformation);
    if (reason != kCanSetEditableLogicalDriveArrayOK) {
        return reason;
    }
    reason =
        TransformationAnswer(_VK_CheckLaterLogicalDriveTransformations(
                                 cda, ld.editable_array_number, ld.ld_number, ld.physical_drive_offset_block),
                             kAssignTransformation);
    if (reason != kCanSetEditableLogicalDriveArrayOK || (ld.flags & kEditableLDTransformation)) {
        return reason;
    }
    // The later-drive check counted the drives behind; the moved drive needs a place of its own.
    return QueueHasRoom(cda, ld, true) ? kCanSetEditableLogicalDriveArrayOK
                                       : kCanSetEditableLogicalDriveArrayMaxTransformationsReached;
}

VK_BYTE CanSetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number, VK_WORD editable_array_number) {
    // Nothing of the drive is read before it is known to exist.
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kCanSetEditableLogicalDriveArrayInvalidLogicalDrive;
    }
    const bool is_new = IsNew(*ld);
    // An existing drive always has a source; one whose array cannot be found is not a drive to move.
    const PEDITABLE_ARRAY source = is_new ? nullptr : _VK_GetEditableArray(cda, ld->editable_array_number);
    if (!is_new && source == nullptr) {
        return kCanSetEditableLogicalDriveArrayInvalidLogicalDrive;
    }
    const PEDITABLE_ARRAY target = _VK_GetEditableArray(cda, editable_array_number);
    if (target == nullptr) {
        return kCanSetEditableLogicalDriveArrayInvalidArray;
    }
    if (target->data_drive_count == 0) {
        return kCanSetEditableLogicalDriveArrayArrayHasNoDataDrives;
    }
    if (!is_new && target->data_drive_count != source->data_drive_count) {
        return kCanSetEditableLogicalDriveArrayMismatchDriveCount;
    }
    if (is_new) {
        if (ld->flags & kEditableLDLocked) {
            return kCanSetEditableLogicalDriveArrayLogicalDriveIsLocked;
        }
        if (ld->flags & kEditableLDArraySet) {
            return ld->editable_array_number == target->editable_array_number
                       ? kCanSetEditableLogicalDriveArrayAlreadySet
                       : kCanSetEditableLogicalDriveArrayChangeArrayNotAllowed;
        }
        if (target->flags & kEditableArrLUCache) {
            const VK_QWORD sixteen_gib = kMinimumCachedDataBytes / (target->common_block_size != 0
                                                                        ? target->common_block_size
                                                                        : kCacheableBlockSize);
            if (_VK_GetMaxEditableLUCacheSizeBlocks(cda, NewLUCacheAlgorithm(cda), kNewLUCacheLineBlocks) <
                sixteen_gib) {
                return kCanSetEditableLogicalDriveArrayCacheMemoryExhausted;
            }
        }
    }
    if (ld->editable_array_number == target->editable_array_number) {
        return kCanSetEditableLogicalDriveArrayAlreadySet;
    }
    const VK_QWORD next_offset = VK_GetEditableArrayNextLogicalDriveOffset(cda, editable_array_number);
    VK_BYTE reason = CanAssignForTargetStatus(cda, *ld, *target, next_offset);
    if (reason != kCanSetEditableLogicalDriveArrayOK) {
        return reason;
    }
    if (!is_new) {
        reason = CanMoveFromSource(cda, *ld, *target);
        if (reason != kCanSetEditableLogicalDriveArrayOK) {
            return reason;
        }
    }
    if ((target->flags & kEditableArrSplitMirror) ||
        (!is_new && ((source->flags & (kEditableArrSplitMirror | kEditableArrLUCache)) ||
                     (target->flags & kEditableArrLUCache)))) {
        return kCanSetEditableLogicalDriveArrayNotDataArray;
    }
    if (is_new) {
        if (SaturatingSum(next_offset, kSmallestAssignableBlocks) > target->common_drive_size_blocks) {
            return kCanSetEditableLogicalDriveArrayNoSpaceAvailableOnArray;
        }
        if (next_offset < target->offset_to_creatable_space) {
            return kCanSetEditableLogicalDriveArraySpaceNotCurrentlyAvailable;
        }
    } else {
        const VK_QWORD converted =
            __VK_ConvertDriveSizeInBlocks(ld->drive_size_blocks, ld->block_size_bytes, target->common_block_size);
        if (ld->block_size_bytes == target->common_block_size &&
            converted < __VK_GetLogicalDriveAdjustedSize(kSmallestAssignableBlocks, ld->sectors_per_track, 0)) {
            return kCanSetEditableLogicalDriveArrayLogicalDriveTooSmall;
        }
        if (__VK_GetEditableArrayUsableFreeBlocks(cda, editable_array_number, ld->RAID_level, ld->num_parity_groups,
                                                  ld->strip_size_blocks, 32, 0) < converted) {
            return kCanSetEditableLogicalDriveArrayNoSpaceAvailableOnArray;
        }
        if (ld->block_size_bytes != target->common_block_size) {
            return kCanSetEditableLogicalDriveArrayIncompatibleBlockSize;
        }
        if (source->flags & kEditableArrHasNewLD) {
            return kCanSetEditableLogicalDriveArrayHasUnsavedLogicalDrive;
        }
        reason = CanTransformForMove(cda, *ld, *target);
        if (reason != kCanSetEditableLogicalDriveArrayOK) {
            return reason;
        }
    }
    if ((ld->flags & kEditableLDRAIDSet) && target->spare_drive_count > 0 &&
        RAID0SpareConflict(cda, editable_array_number, ld->RAID_level)) {
        return kCanSetEditableLogicalDriveArrayInvalidSpareConfiguration;
    }
    return kCanSetEditableLogicalDriveArrayOK;
}

bool AppendToArray(EDITABLE_ARRAY& array, VK_WORD ld_number) {
    if (array.logical_drive_count >= kArrayLogicalDriveCapacity) {
        return false;
    }
    array.logical_drives[array.logical_drive_count++] = ld_number;
    return true;
}

void PlaceNewDrive(PCDA cda, EDITABLE_LOGICAL_DRIVE& ld, EDITABLE_ARRAY& target) {
    target.flags |= kEditableArrHasNewLD;
    AppendToArray(target, ld.ld_number);
    ld.editable_array_number = target.editable_array_number;
    ld.flags |= kEditableLDArraySet | kEditableLDPlaced;
    ld.block_size_bytes = target.common_block_size;
    ld.physical_drive_offset_block = VK_GetEditableArrayNextLogicalDriveOffset(cda, target.editable_array_number);
    if (target.flags & kEditableArrLUCache) {
        ld.flags |= kEditableLDLUCache;
        ld.logical_drive_accelerator = kLogicalDriveAcceleratorNone;
        ld.lu_cache_algorithm = NewLUCacheAlgorithm(cda);
        ld.lu_cache_line_size_blocks = kNewLUCacheLineBlocks;
    } else if (target.flags & kEditableArrIOBypass) {
        ld.logical_drive_accelerator = kLogicalDriveAcceleratorIOBypass;
    }
    if (target.flags & kEditableArrSEDEncryption) {
        ld.flags |= kEditableLDEnableSED;
    }
}

void MoveExistingDrive(PCDA cda, EDITABLE_LOGICAL_DRIVE& ld, EDITABLE_ARRAY& target) {
    const VK_QWORD old_offset = ld.physical_drive_offset_block;
    const VK_WORD source = ld.editable_array_number;
    // The source's drives from the follower on, taken while the moved drive still orders them.
    VK_WORD order[kMaxLogicalDrivesSupported];
    const size_t count = LaterDrives(cda, source, ld.ld_number, order);

    _VK_EditableArrayRemoveEditableLogicalDrive(cda, source, ld.ld_number);
    ld.physical_drive_offset_block = VK_GetEditableArrayNextLogicalDriveOffset(cda, target.editable_array_number);
    AppendToArray(target, ld.ld_number);
    ld.editable_array_number = target.editable_array_number;
    if (target.flags & kEditableArrIOBypass) {
        ld.logical_drive_accelerator = kLogicalDriveAcceleratorIOBypass;
    } else if (ld.logical_drive_accelerator == kLogicalDriveAcceleratorIOBypass) {
        ld.logical_drive_accelerator = kLogicalDriveAcceleratorNone;
    }

    VK_QWORD running = old_offset;
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE impacted_ld = _VK_GetEditableLogicalDrive(cda, order[i]);
        if (impacted_ld == nullptr) {
            continue;
        }
        if (IsNew(*impacted_ld)) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion '!(impacted_ld->flags & kEditableLDNewDrive)' failed: Moving ld from array "
                        "with new ld which should not be allowed\n",
                        __func__, __LINE__);
        }
        impacted_ld->physical_drive_offset_block = running;
        running = VK_GetNextEditableLogicalDriveAlignedOffset(
            cda, source, SaturatingSum(running, impacted_ld->physical_drive_blocks_per_drive));
    }
    ld.flags |= kEditableLDSparesChanged;
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda);
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number, VK_WORD editable_array_number) {
    return StagedAnswer(cda, kCanSetEditableLogicalDriveArrayNoEditableConfigCreated,
                        CanSetEditableLogicalDriveArray, editable_ld_number, editable_array_number);
}

VK_BYTE VK_SetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number, VK_WORD editable_array_number) {
    CDALock guard(cda);
    if (!EditAllowed({__FILE__, __LINE__, "VK_CanSetEditableLogicalDriveArray"}, cda,
                     kCanSetEditableLogicalDriveArrayOK, VK_CanSetEditableLogicalDriveArray,
                     editable_ld_number, editable_array_number)) {
        return kSetEditableLogicalDriveArrayFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    const PEDITABLE_ARRAY target = _VK_GetEditableArray(cda, editable_array_number);
    if (IsNew(*ld)) {
        PlaceNewDrive(cda, *ld, *target);
    } else {
        MoveExistingDrive(cda, *ld, *target);
    }
    return kSetEditableLogicalDriveArrayOK;
}
