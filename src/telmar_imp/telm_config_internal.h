// Internals the configuration-editing files share: workers behind the public functions that other
// editing files call under the data area's lock.
#pragma once

#include <cstring>
#include <functional>
#include <type_traits>

#include "ppavl_debug.h"
#include "ptelm_configuration.h"
#include "telm_private.h"

// ---- Editable configuration and population ----

PN_EXTERN_C_BEGIN

// The staged configuration of a data area, or NULL. The caller holds the lock.
PEDITABLE_CONFIGURATION _VK_GetEditableConfiguration(PCDA cda);

// Fills `editable_configuration` from the live configuration, re-reading the controller first. False
// when an array record could not be allocated: the record then holds no array or logical-drive
// record, and its checksum is not computed.
VK_BOOL _VK_PopulateEditableConfiguration(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// Population after the re-read: drives, `array_count` arrays with their logical drives, settings,
// encryption, boot volumes and the checksum, from what the data area holds or loads. The record
// must be zeroed and hold no records yet; on failure it is left holding none.
VK_BOOL _VK_PopulateEditableConfigurationFromModel(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                                  VK_WORD array_count);
void _VK_PopulateEncryptionSettings(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// The checksum of a populated record and its array and logical-drive records.
VK_DWORD _VK_GetEditableConfigurationChecksum(const EDITABLE_CONFIGURATION* editable_configuration);

// Population of one array (slot `array_number`, already allocated and zeroed) from the live array
// of that number, and of one live logical drive of it.
void _VK_PopulateEditableArray(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                               PEDITABLE_ARRAY editable_array);
void _VK_PopulateEditableLogicalDrive(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                      PEDITABLE_ARRAY editable_array, VK_WORD ld_number);
// Step 4 of population: the configuration facts of every configurable drive.
void _VK_PopulateEditablePhysicalDrives(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// Copies a drive's configuration facts field by field, so that padding stays as it was.
void _VK_CopyPhysicalDriveConfigInformation(PhysicalDriveConfigInformation* destination,
                                            const PhysicalDriveConfigInformation* source);

PN_EXTERN_C_END

namespace telmar {


// A staged setting as its getter answers it: the member of the staged configuration, read under the
// lock, or `unstaged` while there is none.
template <typename T>
T StagedSetting(PCDA cda, T EDITABLE_CONFIGURATION::*member, std::type_identity_t<T> unstaged) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr ? config->*member : unstaged;
}

// A permission or reading over the staged configuration, under the lock: `no_config` while there is
// none, else what `answer` gives for it.
template <typename Answer> VK_BYTE StagedAnswer(PCDA cda, VK_BYTE no_config, Answer answer) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr ? answer(*config) : no_config;
}

// An action on the staged configuration: its permission, `can(cda, value)`, asked again under the
// lock and traced as the action's own line at `file`, `line` and `function`, the value printed in
// its type's form; then, when the answer is `allowed`, `apply` on the staged configuration, still
// under the lock. Whether it was applied.
template <typename Value, typename Can, typename Apply>
bool ApplyIfAllowed(PCDA cda, Value value, Can can, VK_BYTE allowed, const char* file, int line,
                    const char* function, Apply apply) {
    // The trace prints the value: only settings that are numbers come here, never a credential.
    static_assert(std::is_arithmetic_v<Value> || std::is_enum_v<Value>, "a traced setting is a number");
    CDALock guard(cda);
    const VK_BYTE answer = can(cda, value);
    if constexpr (sizeof(Value) > sizeof(VK_DWORD)) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, 0x%llx):%u\n", file, line, function, cda,
                    static_cast<unsigned long long>(value), answer);
    } else if constexpr (std::is_signed_v<Value>) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %d):%u\n", file, line, function, cda, static_cast<int>(value), answer);
    } else {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %u):%u\n", file, line, function, cda, static_cast<unsigned>(value),
                    answer);
    }
    if (answer != allowed) {
        return false;
    }
    apply(*_VK_GetEditableConfiguration(cda));
    return true;
}

} // namespace telmar

// ---- RAID geometry and rules ----

PN_EXTERN_C_BEGIN

// Drives of a RAID level that carry data, and strips per full stripe. Neither wraps nor divides by a
// parity-group count of 0: both give 0 instead.
VK_WORD __VK_GetUsableDriveCount(VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count);
VK_DWORD __VK_GetFullStripeSizeMultiplier(VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count);
VK_BOOL __VK_IsParityRAID(VK_BYTE raid_level);
// Sizes in blocks; logic type 0 cylinder-compatible, 1 exact, 2 strip-aligned. Results saturate at
// the largest 64-bit count rather than wrap.
VK_QWORD __VK_ConvertDriveSizeInBlocks(VK_QWORD drive_size_blocks, VK_WORD current_block_size,
                                       VK_WORD target_block_size);
VK_QWORD __VK_GetLogicalDriveMaxUsableSize(VK_WORD num_usable_drives, VK_QWORD per_drive_free_space,
                                           VK_DWORD strip_size_blocks, VK_BYTE logic_type);
VK_QWORD __VK_GetLogicalDriveAdjustedSize(VK_QWORD usable_space, VK_WORD sectors_per_track, VK_BYTE logic_type);
VK_QWORD __VK_GetLogicalDriveUsageBlocks(VK_QWORD usable_size_blocks, VK_DWORD strip_size_blocks,
                                         VK_WORD num_usable_drives);
// The largest new logical drive on `array` when the next one would start at `next_offset`.
VK_QWORD _VK_GetEditableArrayUsableFreeBlocksFrom(const EDITABLE_ARRAY* array, VK_QWORD next_offset,
                                                  VK_BYTE raid_level, VK_BYTE num_parity_groups,
                                                  VK_DWORD strip_size_blocks, VK_WORD sectors_per_track,
                                                  VK_BYTE size_logic_type);
// The smallest drive (live usable size) of a staged array after removing and adding drives; 0xFFFF
// and size 0 when none remains.
VK_WORD __VK_GetEditableArrayNewCommonDriveSize(PCDA cda, VK_WORD array_number, const VK_WORD* pd_numbers_to_remove,
                                                size_t pd_remove_list_size, const VK_WORD* pd_numbers_to_add,
                                                size_t pd_add_list_size, VK_QWORD* smallest_drive_size);

// A walk over an array's drives: the next drive after `pd_number` (0xFFFF starts and ends).
typedef VK_WORD (*PhysicalDriveEnumerator)(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_WORD __VK_GetArrayPhysicalDriveBySize(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks,
                                         PhysicalDriveEnumerator enumerator, VK_BOOL largest);
VK_WORD __VK_GetArraySmallestPhysicalDrive(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks,
                                           PhysicalDriveEnumerator enumerator);
VK_WORD _VK_GetArraySmallestPhysicalDrive(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks);
VK_DWORD _VK_GetPhysicalDriveAlignmentSizeBlocks(PCDA cda, VK_WORD pd_number);
VK_QWORD __VK_GetArrayMinimumSwappablePhysicalDriveBlocks(PCDA cda, VK_WORD editable_array_number);

VK_BOOL __VK_IsValidRAIDForArray(PCDA cda, VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count);
VK_BOOL __VK_IsParityGroupCountValidFor(VK_BYTE raid_level, VK_WORD drive_count, VK_BYTE parity_group_count);
VK_BYTE _VK_GetEditableArrayParityGroupCountValues(PCDA cda, VK_BYTE raid_level, VK_WORD data_drive_count,
                                                   VK_BYTE* max_parity_group_count, VK_BYTE* parity_group_count_array,
                                                   VK_BYTE* default_parity_group_count);
// The group count of a logical drive of `raid_level` with `parity_group_count` groups once drives
// leave or join it; 0 for none.
VK_BYTE __VK_ParityGroupCountAfterShrink(VK_BYTE raid_level, VK_BYTE parity_group_count, VK_WORD pd_current_count,
                                         VK_WORD pd_remove_count, VK_BYTE ld_parity_shrink_type);
VK_BYTE __VK_ParityGroupCountAfterExpand(VK_BYTE raid_level, VK_BYTE parity_group_count, VK_WORD pd_current_count,
                                         VK_WORD pd_add_count, VK_BYTE ld_parity_expand_type);
VK_BYTE __VK_GetNumberOfParityGroupsForShrink(PCDA cda, VK_WORD ld_number, VK_WORD pd_current_count,
                                              VK_WORD pd_remove_count, VK_BYTE ld_parity_shrink_type);
VK_BYTE __VK_GetNumberOfParityGroupsForExpand(PCDA cda, VK_WORD ld_number, VK_WORD pd_current_count,
                                              VK_WORD pd_add_count, VK_BYTE ld_parity_expand_type);
VK_BYTE _VK_ExpandRAIDLevel(PCDA cda, VK_BYTE current_raid, VK_WORD add_drive_count);
VK_BYTE __StripSizeBytesToExp(VK_DWORD byte_value);
VK_BYTE __VK_GetEditableLogicalDriveMinStripSize(PCDA cda, VK_BYTE RAID_level);
VK_BYTE __VK_GetEditableLogicalDriveMaxStripSize(PCDA cda, VK_BYTE RAID_level, VK_BYTE num_parity_groups,
                                                 VK_DWORD drive_type, VK_WORD data_drive_count);
VK_BYTE _VK_GetEditableLogicalDriveStripSizeRange(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                                  VK_BYTE num_parity_groups, VK_DWORD drive_type,
                                                  VK_WORD data_drive_count, VK_BYTE* min_strip_size_exp,
                                                  VK_BYTE* max_strip_size_exp, VK_BYTE* default_strip_size_exp);
VK_BOOL __VK_IsFullStripeSizeSafe(PCDA cda, VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count,
                                  VK_DWORD strip_size);
VK_BOOL __VK_IsNVMEArray(PCDA cda, PEDITABLE_ARRAY editable_array);

// Defined with the staged logical drives and arrays.
VK_QWORD VK_GetEditableArrayNextLogicalDriveOffset(PCDA cda, VK_WORD editable_array_number);
VK_WORD VK_EnumerateEditableArraySpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);

PN_EXTERN_C_END

// The two staged-array forms that need the staged walks: the caller holds the data area's lock.
inline VK_QWORD __VK_GetEditableArrayUsableFreeBlocks(PCDA cda, VK_WORD editable_array_number, VK_BYTE raid_level,
                                                      VK_BYTE num_parity_groups, VK_DWORD strip_size_blocks,
                                                      VK_WORD sectors_per_track, VK_BYTE size_logic_type) {
    const PEDITABLE_CONFIGURATION config = cda != nullptr ? _VK_CDA(cda)->editable_configuration : nullptr;
    if (config == nullptr || editable_array_number >= kMaxArraysSupported) {
        return 0;
    }
    return _VK_GetEditableArrayUsableFreeBlocksFrom(
        config->editable_array_list[editable_array_number],
        VK_GetEditableArrayNextLogicalDriveOffset(cda, editable_array_number), raid_level, num_parity_groups,
        strip_size_blocks, sectors_per_track, size_logic_type);
}
inline VK_WORD _VK_GetEditableArraySmallestSpareDrive(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks) {
    return __VK_GetArraySmallestPhysicalDrive(cda, array_number, pd_usable_blocks,
                                              VK_EnumerateEditableArraySpareDrives);
}

namespace telmar {

// The controller's strip-size limits in bytes (VK_GetControllerStripSizeSupport), gathered once so
// that the strip rules can be worked out without a controller.
struct StripSizeLimits {
    VK_DWORD min_non_parity = 0;
    VK_DWORD min_parity = 0;
    VK_DWORD max_raid01 = 0;
    VK_DWORD max_raid5 = 0;
    VK_DWORD max_raid6 = 0;
    VK_DWORD max_nvme = 0;
    VK_DWORD max_full_stripe = 0;
};
StripSizeLimits ControllerStripSizeLimits(PCDA cda);
VK_BYTE MinStripSizeExp(const StripSizeLimits& limits, VK_BYTE raid_level);
VK_BYTE MaxStripSizeExp(const StripSizeLimits& limits, VK_BYTE raid_level, VK_BYTE num_parity_groups,
                        VK_DWORD drive_type, VK_WORD data_drive_count);
VK_BYTE StripSizeRange(const StripSizeLimits& limits, VK_BYTE raid_level, VK_BYTE num_parity_groups,
                       VK_DWORD drive_type, VK_WORD data_drive_count, VK_BYTE* min_strip_size_exp,
                       VK_BYTE* max_strip_size_exp, VK_BYTE* default_strip_size_exp);
bool FullStripeSizeSafe(const StripSizeLimits& limits, VK_WORD data_drive_count, VK_BYTE raid_level,
                        VK_BYTE parity_group_count, VK_DWORD strip_size);

} // namespace telmar

// ---- Editable arrays and drive list ----

PN_EXTERN_C_BEGIN

// The staged array in slot `array_number`, or NULL without a configuration, for a number of 64 or
// more, or for an empty slot. The caller holds the lock.
PEDITABLE_ARRAY _VK_GetEditableArray(PCDA cda, VK_WORD array_number);
size_t _VK_EditableArrayDataDriveAt(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
size_t _VK_InDeviceList(const VK_WORD* dev_list, VK_WORD dev_number, size_t dev_list_size);
VK_QWORD _VK_GetEditableArrayQueuedTransformations(PCDA cda, VK_WORD editable_array_number);
// The controller's drive limit, capped at the 384 drives the tables hold; 0 when identify fails.
VK_WORD _VK_GetEditablePhysicalDriveLimit(PCDA cda);
// SED types: 1 non-SED, 2 OPAL, 4 Enterprise; sets of drives OR them.
VK_BYTE _VK_GetPhysicalDriveArraySEDType(VK_UINT64 pd_encryption_info);
VK_BYTE _VK_GetArrayCommonSEDType(PCDA cda, VK_WORD array_number);

// The live record of a staged array that exists on the controller (same number); NULL for a new
// array or when the array model cannot be had. The caller holds the lock.
const ArrayRecord* _VK_GetEditableArrayLiveRecord(PCDA cda, const EDITABLE_ARRAY* editable_array);
// The number of the live array a staged array stands for (its slot number until arrays before it
// are deleted); 0xFFFF for a new array.
VK_WORD _VK_GetEditableArrayLiveNumber(PCDA cda, const EDITABLE_ARRAY* editable_array);
// For an array that is not new: an existing logical drive of it failed its SED qualification.
VK_BOOL _VK_EditableArrayHasFailedSEDLogicalDrive(PCDA cda, VK_WORD editable_array_number);
// A staged data drive of the array is a locked SED.
VK_BOOL _VK_EditableArrayHasLockedSEDPhysicalDrive(PCDA cda, VK_WORD editable_array_number);

PN_EXTERN_C_END

// ---- Editable logical drives ----

PN_EXTERN_C_BEGIN

// The staged logical drive in slot `ld_number`, or NULL (no configuration, 64 or more, empty slot).
PEDITABLE_LOGICAL_DRIVE _VK_GetEditableLogicalDrive(PCDA cda, VK_WORD ld_number);
// Index of the drive in the staged array's `logical_drives` or the live array's `ld_index_array`,
// (size_t)-1 when absent.
size_t _VK_EditableArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
size_t _VK_ArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_WORD _VK_EnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                        VK_BOOL ascending);
VK_WORD _VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                VK_BOOL ascending);
// Takes a drive out of a staged array's list (the last entry fills its place, so the order is not
// kept) and sets or clears the array's new-drive bit from the drives that stay.
void _VK_EditableArrayRemoveEditableLogicalDrive(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
// Lays the drives of a staged array after `ld_number` (by rising offset) out again: the first at
// `start_offset` exactly, each next one at the end of the one before aligned to the array. Sums
// saturate. TRUE when one of the moved drives exists on the controller.
VK_BOOL _VK_RelayoutEditableArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                               VK_QWORD start_offset);
// Whether the existing drives after `ld_number`, laid out again from `start_offset`, can be
// transformed there: 1 when they can, the first other answer of _VK_CanTransformLogicalDrive, or
// kLaterLogicalDrivesExceedTransformationQueue when the drives that would newly need a
// transformation do not fit in the controller's queue. Each caller maps these to its own reasons.
inline constexpr VK_BYTE kLaterLogicalDrivesExceedTransformationQueue = 7;
VK_BYTE _VK_CheckLaterLogicalDriveTransformations(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                  VK_QWORD start_offset);

// Transformation bookkeeping: the transformation bits of one (or every) existing staged logical
// drive from a comparison with its live record, and the queue counts (controller's alone, and with
// the staged drives that need a transformation). The queue holds at most this many.
inline constexpr VK_WORD kMaxQueuedTransformations = 64;
void __VK_RefreshEditableLogicalDriveTransformationFlags(PCDA cda, VK_WORD ld_number);
void _VK_RefreshEditableLogicalDriveTransformationFlags(PCDA cda);
VK_WORD _VK_GetLogicalDriveTransformationQueueCount(PCDA cda);
VK_WORD _VK_GetEditableLogicalDriveTransformationQueueCount(PCDA cda);

// The geometry of one logical drive, as it is or as it is staged to become.
typedef struct _LogicalDriveTransformation {
    VK_WORD array_number;
    VK_WORD data_drive_count;
    VK_DWORD block_size_bytes;
    VK_BYTE RAID_level;
    VK_BYTE num_parity_groups;
    VK_DWORD strip_size_blocks;
    VK_QWORD drive_size_blocks;
    VK_QWORD physical_drive_offset_block;
    VK_WORD num_usable_drives;
    VK_QWORD physical_drive_blocks_per_drive;
} LogicalDriveTransformation, *PLogicalDriveTransformation;

void __VK_InitializeLogicalDriveCurrentSettings(PCDA cda, VK_WORD ld_number, PLogicalDriveTransformation record);
VK_BYTE _VK_InitializeLogicalDriveTransformationSettings(PCDA cda, VK_WORD ld_number,
                                                         PLogicalDriveTransformation record);
// 1 transformable, 2 transformation memory too small, 3 offset up with fewer blocks per drive, 4 no
// data-preserving transformation possible, 5 full stripe unsafe, 6 invalid drive or no controller
// data. Completes the target's usable drives and blocks per drive.
VK_BYTE _VK_CanTransformLogicalDrive(PCDA cda, VK_WORD ld_number, PLogicalDriveTransformation target);
VK_BYTE _VK_IsLogicalDriveTransformable(PCDA cda, VK_WORD ld_number);

PN_EXTERN_C_END

// ---- Editable controller settings ----

#include <optional>

#include "pavl_bytes.h"

namespace telmar::editable {

// The raw firmware values of the staged priorities, as CONTROLLER_PARAMETERS carries them. A
// rebuild priority outside 0 to 3 has no raw value: the commit and the percentage getter each give
// their own.
std::optional<VK_BYTE> RawRebuildPriority(VK_BYTE priority, bool rapid_rebuild);
// 64 for a value outside 0 to 2.
VK_BYTE RawExpandPriority(VK_BYTE priority);

// Percentages and the staged values they stand for. The percent is taken as given (the Can
// functions refuse one above 100 first).
VK_BYTE RebuildPercentFromPriority(VK_BYTE priority, bool rapid_rebuild);
VK_BYTE RebuildPriorityFromPercent(VK_BYTE percent, bool rapid_rebuild);
VK_BYTE ExpandPercentFromPriority(VK_BYTE priority);
VK_BYTE ExpandPriorityFromPercent(VK_BYTE percent);
VK_WORD SSADelayFromPercent(VK_BYTE percent);

} // namespace telmar::editable

PN_EXTERN_C_BEGIN

// The rebuild priority a percentage stands for on this controller.
VK_BYTE __VK_GetControllerRebuildPriorityFromPercent(PCDA cda, VK_BYTE percent);
// Drops staged boot volumes that no longer name a volume that qualifies, after logical drives or
// drive usages changed. The caller holds the lock.
void _VK_RefreshEditableControllerBootVolumes(PCDA cda);
// Whether the staged array is new or holds a new logical drive.
VK_BOOL _VK_EditableArrayContainsNewLogicalDrive(PCDA cda, VK_WORD array_number);
// Whether a data or spare drive of such an array reports a predictive failure.
VK_BOOL _VK_ExistsNewArrayWithPredictiveFailureDrive(PCDA cda);
// Some staged logical drive uses the controller cache as accelerator.
VK_BOOL __VK_ControllerCacheIsActive(PCDA cda);
// Some staged data logical drive uses neither IO bypass nor an LU cache.
VK_BOOL __VK_AnyLogicalDriveAllowsNBWC(PCDA cda);

PN_EXTERN_C_END

// ---- Direct controller operations ----

#pragma pack(push, 1)

// BMIC 0xA5, 20 bytes: the controller's clock in BCD (tens in the high nibble) between a fixed head
// and tail.
typedef struct _CONTROLLER_TIME {
    VK_BYTE bHead[6];
    VK_BYTE bFormat;
    VK_RESERVED reserved7;
    VK_BYTE bHour;
    VK_BYTE bMinute;
    VK_BYTE bSecond;
    VK_RESERVED reserved11;
    VK_BYTE bMonth;
    VK_BYTE bDay;
    VK_BYTE bCentury;
    VK_BYTE bYear;
    VK_BYTE bTail[4];
} CONTROLLER_TIME, *PCONTROLLER_TIME;

// BMIC 0xEE function 0, 4 bytes.
typedef struct _SET_POWER_MODE {
    VK_DWORD dwPowerMode;
} SET_POWER_MODE, *PSET_POWER_MODE;

#pragma pack(pop)

static_assert(sizeof(CONTROLLER_TIME) == 20);
static_assert(offsetof(CONTROLLER_TIME, bFormat) == 6);
static_assert(offsetof(CONTROLLER_TIME, bHour) == 8);
static_assert(offsetof(CONTROLLER_TIME, bSecond) == 10);
static_assert(offsetof(CONTROLLER_TIME, bMonth) == 12);
static_assert(offsetof(CONTROLLER_TIME, bYear) == 15);
static_assert(offsetof(CONTROLLER_TIME, bTail) == 16);
static_assert(sizeof(SET_POWER_MODE) == 4);

struct tm;

namespace telmar::direct {

// The clock record of a local calendar time. False, with the record untouched, for the all-zero
// record of a time the platform could not convert, a four-digit year outside 0 to 9999, or any field
// outside its calendar range: every byte built is two valid BCD digits.
bool BuildControllerTime(const struct tm& local, CONTROLLER_TIME& record);

// What the OOB record itself refuses, before the controller is asked: 0 when it passes, else the
// reason of VK_CanChangeControllerOOBConfiguration (invalid input, interface type, clock speed,
// SMBus device type).
VK_DWORD CheckOOBRecord(const OOBConfiguration* record);

// The I2C configuration bits an interface type defines.
VK_BYTE DefinedOOBConfigurationBits(VK_BYTE interface_type);

} // namespace telmar::direct

PN_EXTERN_C_BEGIN

// Writes a 16-byte volume id as the boot volume of `precedence` (1 primary, 2 secondary, 3 both);
// TRUE without a write when the ids are already those. An id of any other size writes nothing.
VK_BOOL __VK_SetBootableVolume(PCDA cda, VK_BYTE precedence, const VK_BYTE* volume_id, VK_WORD volume_id_size);
// Clears a drive as boot volume wherever it is one; TRUE without a write when it is none.
VK_BOOL _VK_ClearBootVolume(PCDA cda, VK_BYTE drive_type, VK_WORD dev_number);

PN_EXTERN_C_END

// ---- Encryption credentials and requests ----
// The 0x1E request records, their builders and the random credentials.
#include "telm_encryption_requests.h"

// ---- Drive compatibility and SED rules; immediate operations on live arrays ----

PN_EXTERN_C_BEGIN

// Compatibility mask (0xFF fully compatible): 0x01 recording, 0x02 media, 0x04 interface, 0x08 block
// size, 0x10 boot-connector placement; each mismatch clears its bit.
VK_BYTE __VK_PhysicalDriveCompat(PCDA cda, VK_WORD pd_number, VK_DWORD common_drive_type, VK_QWORD common_blocksize,
                                 VK_BOOL boot_connector);
VK_BYTE __VK_PhysicalDriveCompatibility(PCDA cda, VK_WORD pd_number1, VK_WORD pd_number2);
// 0 the drive fits, 1 incompatible SED type, 2 invalid SED state.
VK_BYTE __VK_ArrayCheckSEDRules(PCDA cda, VK_BYTE array_common_sed_type, VK_QWORD ctrl_sed_encrypt_status,
                                VK_WORD pd_number);

VK_BOOL _VK_ArrayHasSharedSpare(PCDA cda, VK_WORD array_number);
VK_BOOL __VK_ArrayIsSEDEncryptionEnabled(PCDA cda, VK_WORD array_number);
// Clears the bit of every failed drive whose byte lies inside the `bytes_in_map` bytes of `pd_map`.
VK_BOOL _VK_UnsetFailedPhysicalDrivesInMap(PCDA cda, VK_BYTE* pd_map, size_t bytes_in_map);
// The mask of a drive against a staged array's drive type, block size and boot-connector placement:
// 0xFF for an array without data drives, 0 for an empty slot.
VK_BYTE __VK_EditableArrayPhysicalDriveCompatibility(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
// SED types of a staged array: of its data drives and spares, of its data drives without those
// listed, and of its data drives without one of them.
VK_BYTE _VK_GetEditableArrayCommonSEDType(PCDA cda, VK_WORD editable_array_number);
VK_BYTE __VK_GetEditableArrayCommonSEDTypeAfterRemovingPD(PCDA cda, VK_WORD editable_array_number,
                                                          const VK_WORD* pd_list, size_t pd_list_size);
VK_BYTE __VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(PCDA cda, VK_WORD editable_array_number,
                                                          VK_WORD editable_array_pd_number);
// Comparator of logical-drive numbers for VK_uniq: the first minus the second.
int compare_ld_numbers_by_value(const void* a, const void* b);
VK_BOOL _VK_IsSSDArray(PCDA cda, PEDITABLE_ARRAY editable_array);

VK_BOOL __VK_AreVolumesSiblings(PCDA cda, VK_WORD ld_a, VK_WORD ld_b);
// The split-mirror backup array of a primary, 0xFFFF for none.
VK_WORD __VK_GetPartnerArray(PCDA cda, VK_WORD array_number);
// Joins the two arrays into `kept_array`: re-mirror (0xF1) or roll back (0xF0).
VK_BOOL __VK_CombineArrays(PCDA cda, VK_WORD kept_array, VK_WORD discarded_array, VK_WORD action);
VK_WORD __VK_CreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number);
VK_WORD __VK_GetArrayFailedDataDriveCount(PCDA cda, VK_WORD array_number);

PN_EXTERN_C_END

namespace telmar {

// Whether drive `pd` has failed (status level failed); false for drives the controller does not have.
using FailedDriveTest = std::function<bool(VK_WORD pd)>;
// Clears the bit of every failed drive in the `map_bytes` bytes of `map`; true when one was cleared.
bool ClearFailedDrivesInMap(VK_BYTE* map, size_t map_bytes, const FailedDriveTest& failed);
// Puts `pd_number` into (`set`) or takes it out of the spare map a configuration copy uses (the
// extended one at its offset with `extended_maps`, else the 128-drive map), clearing failed drives
// from it on the way. False, the copy then unfit to send, when the map is missing, lies outside the
// copy or cannot hold the drive.
bool EditSpareMaps(LOGICAL_DRIVE_CONFIG& config, bool extended_maps, VK_WORD ld_number, VK_WORD pd_number, bool set,
                   const FailedDriveTest& failed);
// How the checks read a compatibility mask that is not 0xFF.
enum class CompatMismatch { kNone, kBlockSize, kMixedDriveTypes, kConnectors };
CompatMismatch ReadCompatMask(VK_BYTE mask);

// The per-drive word table of a mirror-pair reply (`reply`: the bytes read): the extended list at its
// offset when `extended_map`, else the 256-entry base table; absent when it does not lie wholly
// inside the reply's total. `entries` gets the number of words.
std::optional<pavlin::ByteView> SplitPairTable(pavlin::ByteView reply, bool extended_map, size_t* entries);
// The drives a split primary keeps, set in `new_map`: one of each mirror pair, or two of each
// three-way mirror group. False when the pair list is absent or the group counters cannot be had.
bool SelectPrimarySplitDrives(pavlin::ByteView reply, bool extended_map, const VK_WORD* data_drives,
                              size_t data_drive_count, pavlin::ByteSpan new_map);
bool SelectPrimarySplitDrivesNway(pavlin::ByteView reply, bool extended_map, const VK_WORD* data_drives,
                                  size_t data_drive_count, pavlin::ByteSpan new_map);
// Rewrites a heal's configuration copy: failed drives out of the member and spare maps, `pd_list`
// in, the member counts recounted. `failed(pd)` and `counts(pd)` (a drive whose status level is not
// failed) come from the model. False, the copy unfit to send, when a map is missing or outside the
// copy or a listed drive does not fit its map.
bool RewriteHealMaps(LOGICAL_DRIVE_CONFIG& config, bool extended_maps, VK_WORD ld_number, const VK_WORD* pd_list,
                     size_t pd_list_size, const FailedDriveTest& failed);

} // namespace telmar


// ---- Pending encryption settings ----

PN_EXTERN_C_BEGIN

// The controller's current key-manager mode; the same rule as VK_GetControllerEncryption.
VK_BYTE _VK_GetCurrentControllerEncryption(PCDA cda);
// Recomputes the configuration's encryption change bits and login-required bit (and each staged
// logical drive's volatile-key change bit) against the controller's status words as read now. The
// key-cache change bit, once set, stays. The caller holds the lock; without a configuration it does
// nothing.
void _VK_RefreshEditableEncryptionFlags(PCDA cda);
void __VK_RefreshEditableEncryptionKeyManagerFlags(PCDA cda);
void __VK_RefreshEditableEncryptionAllowPlaintextSetting(PCDA cda);
void __VK_RefreshEditableEncryptionLogicalDriveFlags(PCDA cda);
void __VK_RefreshEditableEncryptionEncodeLogicalDriveFlags(PCDA cda, VK_WORD ld_number);
void __VK_RefreshEditableEncryptionLogicalDriveVolatileKeyFlags(PCDA cda, VK_WORD ld_number);
void __VK_RefreshEditableEncryptionFirmwareLockFlags(PCDA cda);
void __VK_RefreshEditableEncryptionBootPasswordFlags(PCDA cda);
void __VK_RefreshEditableEncryptionKeyCacheFlags(PCDA cda);
// A staged logical drive is new; a staged existing one waits for its key (unit status 20).
VK_BOOL __VK_EditableConfigurationHasNewLogicalDrives(PCDA cda);
VK_BOOL __VK_EditableConfigurationHasEncryptedLogicalDriveOffine(PCDA cda);

PN_EXTERN_C_END

// ---- Commit steps: controller level and existing logical drives ----

PN_EXTERN_C_BEGIN

// Controller-level steps: each returns 0 or its commit-error bit. The caller holds the lock.
VK_UINT64 __VK_CommitEditableControllerParameters(PCDA cda);
VK_UINT64 __VK_CommitEditableControllerCacheConfig(PCDA cda);
VK_UINT64 __VK_CommitEditableControllerSurvivalMode(PCDA cda);
VK_UINT64 __VK_CommitEditableControllerSurfaceScan(PCDA cda);
VK_UINT64 __VK_CommitEditableControllerMNPDelay(PCDA cda);
// Whether the cache configuration may be written at all.
VK_BOOL __VK_ControllerSupportsDDRCaching(PCDA cda);
// The 16-byte id a volume is named by as boot volume, read fresh; the buffer is zeroed first.
VK_BOOL _VK_GetEditableLogicalDriveUniqueVolumeID(PCDA cda, VK_WORD ld_number, VK_BYTE* volume_id_buffer,
                                                  size_t buffer_size);
VK_BOOL _VK_GetEditablePhysicalDriveUniqueVolumeID(PCDA cda, VK_WORD pd_number, VK_BYTE* volume_id_buffer,
                                                   size_t buffer_size);
VK_BOOL _VK_GetEditableRemoteVolumeUniqueID(PCDA cda, VK_WORD volume_number, VK_BYTE* volume_id_buffer,
                                            size_t buffer_size);

// Existing logical drives: the passes before new logical drives are created and after the
// controller-level writes OR their steps' bits into the data area; each step returns 0 or its bit.
void __VK_CommitEditableExistingDrivePreConfigurationSettings(PCDA cda);
void __VK_CommitEditableDrivePostConfigurationSettings(PCDA cda);
VK_UINT64 __VK_CommitEditableSpareDriveChanges(PCDA cda, VK_WORD ld_number);
VK_UINT64 __VK_CommitEditableLogicalDriveAcceleratorChanges(PCDA cda, VK_WORD ld_number);
VK_BOOL __VK_CommitEditableLogicalDriveLabel(PCDA cda, VK_WORD ld_number);
VK_UINT64 __VK_CommitEditableLogicalDriveLabels(PCDA cda);
VK_UINT64 __VK_CommitEditableLUCacheLogicalDriveChanges(PCDA cda, VK_WORD ld_number);
VK_UINT64 __VK_CommitEditableTransformation(PCDA cda, VK_WORD ld_number);

PN_EXTERN_C_END

namespace telmar {

// The cache-configuration edits of a commit on a copy of the controller's buffer: flags, read share,
// the cache-disabled maps and the cache split. Writes only inside the buffer and its reported total.
void EditCacheConfiguration(CACHE_CONFIG_STATUS& status, const EDITABLE_CONFIGURATION& config,
                            bool lu_cache_array_staged);

} // namespace telmar
// ---- Commit steps: creating and deleting logical drives ----

PN_EXTERN_C_BEGIN

// Creation passes: every staged new logical drive without (plaintext) or with (encrypted) encryption;
// 0 or the pass's commit-error bit. A failure does not stop the pass.
VK_UINT64 __VK_CommitCreateNewPlaintextLogicalDrives(PCDA cda);
VK_UINT64 __VK_CommitCreateNewEncryptedLogicalDrives(PCDA cda);
VK_BOOL __VK_CommitCreateLogicalDrive(PCDA cda, VK_WORD ld_number);
// Fills a new logical drive's configuration copy from its staged record, all but the spares.
void __VK_PrepNewEditableLogicalDrive(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer);
// The builders of a configuration copy from the staged logical drive `ld_number` and its array; they
// also serve the transformation step.
void __VK_ManageEditableLogicalDriveFaultTolerance(PCDA cda, VK_WORD ld_number,
                                                   LOGICAL_DRIVE_CONFIG* ld_buffer);
void __VK_ManageEditableLogicalDriveDataDrives(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer);
void __VK_ManageEditableLogicalDriveSpareDrives(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer);
void __VK_ManageEditableLogicalDriveSize(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer);
void __VK_ManageEditableLogicalDriveAccelerator(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer);
// Staged drives whose usage is data or LU cache data.
VK_WORD __VK_GetEditableControllerConfiguredDataDriveCount(PCDA cda);
// From the local time; 0 when it cannot be had.
VK_DWORD __VK_GenerateLogicalDriveSignature(VK_WORD ld_number);
VK_DWORD __VK_GenerateTimestamp(void);

// Deletion. The partition-table overwrite is silent: its failures never stop a deletion.
void __VK_ManglePartitionTable(PCDA cda, VK_WORD ld_number);
VK_BOOL __VK_CheckLogicalDriveAllowsMangling(PCDA cda, VK_WORD ld_number);
// `block` holds one block of `block_size` bytes.
VK_BOOL __VK_MangleMBRTable(PCDA cda, DeviceDescriptor device, VK_WORD block_size, VK_BYTE* block);
VK_BOOL __VK_MangleGPTTable(PCDA cda, DeviceDescriptor device, VK_WORD block_size, VK_BYTE* block);
VK_BOOL __VK_DeleteLogicalDrive(PCDA cda, VK_WORD ld_number);
VK_BOOL __VK_DeleteAllLogicalDrives(PCDA cda);
VK_BOOL __VK_DestroyLUCacheLogicalDrive(PCDA cda, VK_WORD ld_number);

PN_EXTERN_C_END

#include <cstddef>

#include "pavl_bytes.h"

namespace telmar {

// The fixed fields of LOGICAL_DRIVE_CONFIG end here: an extended map reported below it would overlay
// fields a builder writes itself.
inline constexpr size_t kConfigFixedFieldsEnd = offsetof(LOGICAL_DRIVE_CONFIG, reserved300);

// The extended drive or spare map of a configuration copy at `offset`, sized for every device below
// wMaximumPhysicalDevicesSupported; absent when the offset or the count is 0, or when the map does
// not lie wholly between the fixed fields and the end of what the copy holds and reports.
std::optional<pavlin::ByteSpan> ConfigExtendedMap(LOGICAL_DRIVE_CONFIG& config, size_t offset);

// Partition-table signatures in one block read from a logical drive. The MBR's: bytes 510 and 511
// become DE AD when they are 55 AA (true then). The GPT header's: "EFI PART" at 0 becomes
// "DEADDEAD", and the alternate header's block number (little-endian at 32) comes back; nothing when
// the block holds no header or is too short for one.
bool MangleMBRSignature(pavlin::ByteSpan block);
std::optional<VK_QWORD> MangleGPTSignature(pavlin::ByteSpan block);

// The block size partition tables of a logical drive are moved in: 512 for a record holding 0; 0
// when one block cannot hold the MBR signature, so nothing is to be read or written.
VK_WORD PartitionTableBlockSize(VK_WORD block_size_bytes);

} // namespace telmar

// ---- Clear configuration ----

#include <vector>

namespace telmar::direct {

// What the clear-configuration permission looks at, gathered from the controller for the actions
// asked for only.
struct ClearConfigurationFacts {
    bool ofa_running = false;
    VK_WORD mode = 0;               // controller mode word
    VK_WORD logical_unit_count = 0; // IDENTIFY wExtendedLogicalUnitCount, as cached
    bool sed_enabled_ld = false;    // some logical drive has SED encryption enabled
    VK_QWORD sed_status = 0;        // managed-SED status word
    VK_BYTE encryption_reason = 0;  // VK_CanClearEncryptionConfigurationSafe without a key
    bool nvram_clear_supported = false;
    std::vector<VK_BYTE> ccm_reasons; // VK_CanClearPhysicalDriveCCM of each physical drive
    bool sed_supported = false;       // managed SED encryption supported
    bool owned_sed = false;           // some physical drive is an owned SED
};

// The permission bits for `action_flags` (bits outside the five actions ignored).
VK_DWORD ClearConfigurationPermission(const ClearConfigurationFacts& facts, VK_DWORD action_flags);

} // namespace telmar::direct
// ---- Commit: existing-drive passes, encryption steps and the engine ----

PN_EXTERN_C_BEGIN

// Existing logical drives: the two passes OR their bits into the data area themselves.
void __VK_CommitEditableExistingDrivePreConfigurationSettings(PCDA cda);
void __VK_CommitEditableDrivePostConfigurationSettings(PCDA cda);
VK_UINT64 __VK_CommitEditableLogicalDriveLabels(PCDA cda);
VK_UINT64 __VK_CommitEditableTransformation(PCDA cda, VK_WORD ld_number);

// Encryption steps.
VK_UINT64 __VK_CommitEditableEncryptionConfiguration(PCDA cda);
VK_UINT64 __VK_CommitEditableEncryptionDisable(PCDA cda);
VK_UINT64 __VK_CommitPlaintextNewLogicalDrives(PCDA cda);
VK_UINT64 __VK_CommitEncodeExistingLogicalDrivesWithoutPreservingData(PCDA cda);
VK_UINT64 __VK_CommitLogicalDriveVolatileKeys(PCDA cda);
VK_UINT64 __VK_CommitTransformEncodeEditableLogicalDrives(PCDA cda);
VK_UINT64 __VK_CommitDestructiveEncodeEditableLogicalDrives(PCDA cda);
VK_UINT64 __VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(PCDA cda);

// The engine: shared permission checks, the spare-mode check, the driver and its result.
VK_BYTE _VK_CanCommitEditableConfiguration(PCDA cda);
VK_BYTE _VK_CanCommitEditableConfigurationInvalidSpareActivationMode(PCDA cda);
VK_BYTE _VK_CommitEditableConfiguration(PCDA cda, VK_BYTE user, const char* password, size_t password_size);
VK_BYTE __VK_CheckEditableConfigurationCommitError(PCDA cda);

PN_EXTERN_C_END

// Managed SED write function 9: the logical drives to turn SED encryption on for.
#pragma pack(push, 1)
typedef struct _MANAGED_SED_SECURE_VOLUME {
    VK_BYTE bVolumeBitmap[8]; // bit n % 8 of byte n / 8 is logical drive n
} MANAGED_SED_SECURE_VOLUME;
#pragma pack(pop)
static_assert(sizeof(MANAGED_SED_SECURE_VOLUME) == 8);
inline constexpr VK_DWORD kManagedSEDSecureVolume = 9;

// ---- Managed SED drive ownership, import, revert and SED arrays ----

PN_EXTERN_C_BEGIN

VK_BOOL __VK_EditableArrayHasNonSEDDrives(PCDA cda, VK_WORD editable_array_number);
VK_BOOL __VK_EditableArrayHasMixedSEDDrives(PCDA cda, VK_WORD editable_array_number);
VK_BOOL __VK_EditableArrayHasInvalidSEDStatus(PCDA cda, VK_WORD editable_array_number);
VK_BOOL __VK_IsDedicatedSpareSharedWithOtherArray(PCDA cda, VK_WORD editable_array_number);

PN_EXTERN_C_END

namespace telmar {

// Bytes of the drive map of the managed-SED drive requests: one bit per drive number 0-1023.
inline constexpr size_t kSEDDriveMapBytes = 128;
// A managed-SED credential field of a request, and the terminated copy a record keeps.
inline constexpr size_t kSEDFieldBytes = 32;
inline constexpr size_t kSEDTextBytes = kSEDFieldBytes + 1;

// What the drive-marking checks know of one drive, gathered under the lock so that the decisions
// below can be worked out (and fuzzed) without a controller.
struct SEDDriveFacts {
    bool valid = false;      // a drive number the controller has, present
    VK_DWORD status = 0;     // VK_GetPhysicalDriveStatusInfo
    VK_BYTE usage = 0;       // VK_GetPhysicalDriveUsageInfo
    VK_DWORD basic = 0;      // VK_GetPhysicalDriveBasicInfo
    VK_QWORD encryption = 0; // VK_GetPhysicalDriveEncryptionInfo
    bool marked = false;     // its bit already set in the record's map
};

// The Can answers of the drive-selection records and the PSID revert for one drive, given the
// controller's managed-SED status word.
VK_BYTE TakeOwnershipVerdict(VK_QWORD sed_status, const SEDDriveFacts& drive);
VK_BYTE ImportDriveVerdict(VK_QWORD sed_status, const SEDDriveFacts& drive);
VK_BYTE RevertDriveVerdict(const SEDDriveFacts& drive);
VK_BYTE PSIDRevertVerdict(VK_QWORD sed_status, const SEDDriveFacts& drive, bool psid_acceptable);
// Whether a drive may join an SED array: in OFS or owned, not an owned foreign SED, not locked.
bool HasValidSEDState(VK_QWORD drive_encryption);

} // namespace telmar

// The managed-SED records callers hold as void*: the controller-settings update record and the
// drive-selection records with the requests they send.
struct CONTROLLER_SED_ENCRYPTION_INFO {
    VK_BYTE mode;
    char master_key_identifier[telmar::kSEDTextBytes];
    VK_BYTE adapter_password_state;
};

struct SED_ENCRYPTION_UPDATE_INFO {
    PCDA cda;
    VK_DWORD flags;
    char new_master_key[telmar::kSEDTextBytes];
    char new_adapter_password[telmar::kSEDTextBytes];
    VK_QWORD ctrl_sed_encryption_status;
    CONTROLLER_SED_ENCRYPTION_INFO current_sed_config;
    CONTROLLER_SED_ENCRYPTION_INFO pending_sed_config;
};

#pragma pack(push, 1)
struct MANAGED_SED_REVERT {
    VK_BYTE bDriveMap[telmar::kSEDDriveMapBytes];
};
struct MANAGED_SED_REVERT_PSID {
    VK_DWORD dwDriveIndex;
    char sPSID[telmar::kSEDFieldBytes];
};
struct MANAGED_SED_PHYSICAL_DRIVE_TAKE_OWNERSHIP {
    VK_BYTE bDriveMap[telmar::kSEDDriveMapBytes];
};
struct MANAGED_SED_IMPORT_FOREIGN_DRIVE {
    VK_BYTE bForeignDriveBitmap[telmar::kSEDDriveMapBytes];
    char sForeignDriveMasterKey[telmar::kSEDFieldBytes];
    char sResetForeignDriveMasterKey[telmar::kSEDFieldBytes];
    VK_WORD wReserved;
};
#pragma pack(pop)
static_assert(sizeof(MANAGED_SED_REVERT) == 128);
static_assert(sizeof(MANAGED_SED_REVERT_PSID) == 36);
static_assert(offsetof(MANAGED_SED_REVERT_PSID, sPSID) == 4);
static_assert(sizeof(MANAGED_SED_PHYSICAL_DRIVE_TAKE_OWNERSHIP) == 128);
static_assert(sizeof(MANAGED_SED_IMPORT_FOREIGN_DRIVE) == 194);
static_assert(offsetof(MANAGED_SED_IMPORT_FOREIGN_DRIVE, sForeignDriveMasterKey) == 128);
static_assert(offsetof(MANAGED_SED_IMPORT_FOREIGN_DRIVE, sResetForeignDriveMasterKey) == 160);
static_assert(offsetof(MANAGED_SED_IMPORT_FOREIGN_DRIVE, wReserved) == 192);

struct PD_SED_ENCRYPTION_TAKE_OWNERSHIP_INFO {
    PCDA cda;
    MANAGED_SED_PHYSICAL_DRIVE_TAKE_OWNERSHIP pd_list_bitmap;
};
struct PD_SED_ENCRYPTION_REVERT_INFO {
    PCDA cda;
    MANAGED_SED_REVERT drive_map;
};
// The record keeps only the map: the keys go straight into the request that is sent, which is
// wiped afterwards, so no key outlives the apply.
struct PD_SED_ENCRYPTION_IMPORT_INFO {
    PCDA cda;
    MANAGED_SED_IMPORT_FOREIGN_DRIVE import_foreign_drive;
};


// ---- LU cache of the staged configuration ----

#include <optional>

#include "pavl_bytes.h"

PN_EXTERN_C_BEGIN

// Capacity from the controller's LU-cache memory; 0 when it cannot be read. `algorithm` 1 to 4,
// line sizes in blocks. The caller holds the lock.
VK_DWORD _VK_GetAvailableEditableLUCacheLines(PCDA cda, VK_BYTE algorithm);
VK_QWORD _VK_GetEditableLUCacheBlocksPerCacheLine(PCDA cda, VK_BYTE algorithm);
VK_QWORD _VK_GetEditableLUCachedDataBlocksPerCacheLine(PCDA cda, VK_BYTE algorithm);
VK_QWORD _VK_GetMaxEditableLUCacheSizeBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks);
VK_QWORD _VK_GetMaxEditableDataVolumePossibleBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks);
VK_QWORD _VK_GetMaxEditableLUCachedDataSizeBlocks(PCDA cda, VK_BYTE algorithm, VK_DWORD line_size_blocks);
// Strip geometry of a cache logical drive, whose full stripe is its line; sizes in bytes, 0 when
// nothing fits.
VK_DWORD __VK_ControllerEnumerateSupportedLUCacheLineSizes(PCDA cda, VK_DWORD line_size_bytes);
VK_DWORD __VK_GetEditableLUCacheStripSizeFromStripe(PCDA cda, VK_WORD ld_number, VK_DWORD stripe_size_bytes,
                                                    VK_BYTE raid_level, VK_BYTE num_parity_groups);
VK_DWORD __VK_GetEditableLUCacheStripAndStripeSize(PCDA cda, VK_WORD ld_number, VK_BYTE raid_level,
                                                   VK_BYTE num_parity_groups, VK_DWORD* stripe_size_bytes);
VK_DWORD __VK_GetEditableLUCacheStripSize(PCDA cda, VK_WORD ld_number, VK_BYTE raid_level,
                                          VK_BYTE num_parity_groups);
// Rapid initialisation for every RAID level, not only the parity levels.
VK_BOOL _VK_AllRAIDRapidInitializationSupported(PCDA cda);

// Stages a new RAID level, parity group count and strip size (blocks) on an existing drive: its
// footprint follows, the drives after it are laid out again when it changed, and every existing
// drive's transformation bits are recomputed. The caller holds the lock.
void __VK_MigrateEditableLogicalDriveRAIDAndStripSize(PCDA cda, VK_WORD editable_ld_number, VK_BYTE raid_level,
                                                      VK_BYTE parity_group_count, VK_DWORD strip_size_blocks);

PN_EXTERN_C_END

namespace telmar::lucache {

// The LU-cache RAM reply, field by field from its bytes; nothing when it is shorter than 39 bytes.
std::optional<LU_CACHE_RAM_INFO> DecodeRAMInfo(pavlin::ByteView reply);

// Cache lines a volume may span for a size in bits from the controller: 0 none, 64 or more (2^b is
// past 64 bits from 64 on) the largest count the controller means.
VK_QWORD LinesForSizeBits(VK_BYTE bits);

// Lines left for a new cache drive of `algorithm` once the locked staged cache drives of `config`
// have taken theirs; the staged drives' algorithms outside 1 to 4 take nothing.
VK_DWORD AvailableLines(const LU_CACHE_RAM_INFO& info, const EDITABLE_CONFIGURATION& config, VK_BYTE algorithm);
// Lines per cache volume (`data` false) or per data volume (true); 0 for an algorithm outside 1 to 4.
VK_QWORD LinesPerVolume(const LU_CACHE_RAM_INFO& info, VK_BYTE algorithm, bool data);
// Largest cache drive and data volume in blocks; products saturate. The cache size and the rounded
// data size are cylinder-rounded.
VK_QWORD MaxCacheSizeBlocks(const LU_CACHE_RAM_INFO& info, const EDITABLE_CONFIGURATION& config, VK_BYTE algorithm,
                            VK_DWORD line_size_blocks);
VK_QWORD MaxDataVolumeBlocks(const LU_CACHE_RAM_INFO& info, VK_BYTE algorithm, VK_DWORD line_size_blocks,
                             bool rounded);

// The strip of a parity cache drive whose `usable` strips make up `stripe` bytes: the first
// power-of-two multiple of `min_strip` up to `max_strip` that does, 0 when none.
VK_DWORD StripForStripe(VK_DWORD stripe, VK_WORD usable, VK_DWORD min_strip, VK_DWORD max_strip);

// Bytes of a line-size code (1, 2, 4), 0 for any other.
VK_DWORD LineSizeCodeBytes(VK_BYTE code);

} // namespace telmar::lucache

namespace telmar::ldprops {

// The characters of a label of `buffer_size` bytes (not NULL, 1 to 64): 0 when they pass, else the
// label family's reason (an invalid character, or an empty label).
VK_BYTE CheckLabelText(const char* label, size_t buffer_size);

} // namespace telmar::ldprops

PN_EXTERN_C_BEGIN
// A new, empty staged array in the next slot with `flags`; its number, or kInvalidArrayNumber when
// no slot is free or it cannot be allocated. The caller holds the lock.
VK_WORD _VK_AppendEditableArray(PEDITABLE_CONFIGURATION config, VK_WORD flags);
PN_EXTERN_C_END
