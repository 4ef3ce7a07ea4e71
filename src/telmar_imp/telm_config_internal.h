// Internals the configuration-editing files share: workers behind the public functions that other
// editing files call under the data area's lock.
#pragma once

#include <functional>

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

} // namespace telmar


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
