// RAID geometry of configuration editing: how many drives carry data, how large a logical drive can
// grow on the free space of its drives, how sizes round to cylinders and blocks, where drives align;
// and the rules a staged RAID level, parity-group count or strip size must keep.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>
#include <span>

#include "ppavl_debug.h"

#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_WORD kNoDrive = 0xFFFF;
constexpr VK_QWORD kMaxBlocks = std::numeric_limits<VK_QWORD>::max();
constexpr size_t kMaxStagedDrives = sizeof(EDITABLE_ARRAY::data_drives) / sizeof(VK_WORD);

// Products of block counts can pass 64 bits on absurd inputs; a size that large means "all of it".
VK_QWORD Saturate(unsigned __int128 value) {
    return value > kMaxBlocks ? kMaxBlocks : static_cast<VK_QWORD>(value);
}

PEDITABLE_CONFIGURATION StagedConfiguration(PCDA cda) {
    return cda != nullptr ? _VK_CDA(cda)->editable_configuration : nullptr;
}

PEDITABLE_ARRAY StagedArray(PCDA cda, VK_WORD array_number) {
    const PEDITABLE_CONFIGURATION config = StagedConfiguration(cda);
    return config != nullptr && array_number < kMaxArraysSupported ? config->editable_array_list[array_number]
                                                                   : nullptr;
}

PEDITABLE_LOGICAL_DRIVE StagedLogicalDrive(PCDA cda, VK_WORD ld_number) {
    const PEDITABLE_CONFIGURATION config = StagedConfiguration(cda);
    return config != nullptr && ld_number < kMaxLogicalDrivesSupported ? config->editable_ld_list[ld_number] : nullptr;
}

std::span<const VK_WORD> DataDrives(const EDITABLE_ARRAY& array) {
    return {array.data_drives, std::min<size_t>(array.data_drive_count, kMaxStagedDrives)};
}

// The live configuration facts of a drive, read first when not yet cached; NULL past the table.
const PhysicalDriveConfigInformation* LiveDrive(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return nullptr;
    }
    VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number);
    return &_VK_CDA(cda)->pd_record_list[pd_number].pd_config_information;
}

// The validity table, over counts wide enough that a count grown by added drives never wraps.
bool ValidRAID(VK_DWORD n, VK_BYTE raid_level, VK_DWORD g) {
    switch (raid_level) {
    case kRAID0: return n >= 1 && g == 0;
    case kRAID1: return n == 2 && g == 0;
    case kRAID10: return n >= 4 && n % 2 == 0 && g == 0;
    case kRAID5: return n >= 3 && g == 0;
    case kRAID50: return n >= 6 && g >= 2 && n % g == 0 && n / g >= 3;
    case kRAID6: return n >= 4 && g == 0;
    case kRAID60: return n >= 8 && g >= 2 && n % g == 0 && n / g >= 4;
    case kRAID1Triple: return n == 3 && g == 0;
    case kRAID10Triple: return n >= 6 && n % 3 == 0 && g == 0;
    default: return false;
    }
}

enum class GroupChange { Shrink, Expand };

// The shrink and expand types share their numbers, so one rule serves both.
static_assert(kShrinkTypeRemoveDrivesFromParityGroups == kExpandTypeAddDrivesToParityGroups);
static_assert(kShrinkTypeRemoveParityGroups == kExpandTypeAddParityGroups);
static_assert(kShrinkTypeAuto == kExpandTypeAuto);

// Drives leave (shrink) or join (expand) every group alike and keep the count, or whole groups of
// d = c / g drives leave or join. A logical drive without groups, or with fewer drives than groups,
// has no group to change.
VK_BYTE GroupCountAfter(GroupChange change, VK_BYTE raid_level, VK_BYTE g, VK_WORD c, VK_WORD changed, VK_BYTE type) {
    if (g == 0 || c < g || (change == GroupChange::Shrink && changed > c)) {
        return 0;
    }
    const VK_DWORD drives = change == GroupChange::Shrink ? VK_DWORD{c} - changed : VK_DWORD{c} + changed;
    // A drive count past 16 bits is no array; wrapped, it could pass for a small valid one.
    if (drives > 0xFFFF) {
        return 0;
    }
    if ((type == kShrinkTypeRemoveDrivesFromParityGroups || type == kShrinkTypeAuto) && changed % g == 0 &&
        ValidRAID(drives, raid_level, g)) {
        return g;
    }
    const VK_DWORD per_group = c / g;
    if ((type == kShrinkTypeRemoveParityGroups || type == kShrinkTypeAuto) && changed % per_group == 0) {
        const VK_DWORD groups = changed / per_group;
        if (change == GroupChange::Shrink) {
            if (groups < g && ValidRAID(drives, raid_level, g - groups)) {
                return static_cast<VK_BYTE>(g - groups);
            }
        } else if (g + groups <= 0xFF && ValidRAID(drives, raid_level, g + groups)) {
            return static_cast<VK_BYTE>(g + groups);
        }
    }
    return 0;
}

} // namespace

// ---- Geometry ---------------------------------------------------------------------------------------

VK_WORD __VK_GetUsableDriveCount(VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count) {
    const VK_DWORD n = data_drive_count;
    // Fewer drives than the level's parity leaves no data drive, not a count wrapped to near 65,535.
    const auto less = [n](VK_DWORD parity) { return static_cast<VK_WORD>(n > parity ? n - parity : 0); };
    switch (raid_level) {
    case kRAID1:
    case kRAID10: return static_cast<VK_WORD>(n / 2);
    case kRAID5: return less(1);
    case kRAID50: return less(parity_group_count);
    case kRAID6: return less(2);
    case kRAID60: return less(2u * parity_group_count);
    case kRAID1Triple:
    case kRAID10Triple: return static_cast<VK_WORD>(n / 3);
    default: return data_drive_count;
    }
}

VK_DWORD __VK_GetFullStripeSizeMultiplier(VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count) {
    switch (raid_level) {
    case kRAID1:
    case kRAID1Triple: return 1;
    case kRAID10: return data_drive_count / 2u;
    case kRAID50:
    case kRAID60:
        // A live logical drive may report no groups: no full stripe can be worked out then.
        return parity_group_count != 0 ? data_drive_count / VK_DWORD{parity_group_count} : 0;
    case kRAID10Triple: return data_drive_count / 3u;
    default: return data_drive_count;
    }
}

VK_BOOL __VK_IsParityRAID(VK_BYTE raid_level) {
    return IS_PARITY_RAID(raid_level) ? kTrue : kFalse;
}

VK_QWORD __VK_ConvertDriveSizeInBlocks(VK_QWORD drive_size_blocks, VK_WORD current_block_size,
                                       VK_WORD target_block_size) {
    if (target_block_size == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'target_block_size > 0' failed: Invalid target blocksize\n", __func__,
                    __LINE__);
        return 0;
    }
    const unsigned __int128 bytes = static_cast<unsigned __int128>(drive_size_blocks) * current_block_size;
    return Saturate((bytes + target_block_size - 1) / target_block_size);
}

VK_QWORD __VK_GetLogicalDriveMaxUsableSize(VK_WORD num_usable_drives, VK_QWORD per_drive_free_space,
                                           VK_DWORD strip_size_blocks, VK_BYTE logic_type) {
    if (strip_size_blocks == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'strip_size_blocks > 0' failed: 0 strip size\n", __func__, __LINE__);
        return 0;
    }
    using Wide = unsigned __int128;
    const VK_QWORD remainder = per_drive_free_space % strip_size_blocks;
    switch (logic_type) {
    case 0: return Saturate(remainder + Wide{num_usable_drives} * (per_drive_free_space - remainder));
    case 1: return Saturate(Wide{num_usable_drives} * per_drive_free_space);
    case 2: return Saturate(Wide{num_usable_drives} * (per_drive_free_space - remainder));
    default: return 0;
    }
}

VK_QWORD __VK_GetLogicalDriveAdjustedSize(VK_QWORD usable_space, VK_WORD sectors_per_track, VK_BYTE logic_type) {
    if (logic_type != 0) {
        return usable_space;
    }
    if (sectors_per_track == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sectors_per_track > 0' failed: Invalid sectors/track\n", __func__,
                    __LINE__);
        sectors_per_track = 32;
    }
    // One cylinder of 255 heads; the geometry has 65,535 cylinders, beyond which sizes are kept whole.
    const VK_QWORD cylinder = VK_QWORD{sectors_per_track} * 255;
    if (usable_space < cylinder * 65535) {
        return usable_space - usable_space % cylinder;
    }
    return usable_space;
}

VK_QWORD __VK_GetLogicalDriveUsageBlocks(VK_QWORD usable_size_blocks, VK_DWORD strip_size_blocks,
                                         VK_WORD num_usable_drives) {
    const VK_QWORD full_stripe = VK_QWORD{strip_size_blocks} * num_usable_drives;
    if (full_stripe == 0) {
        return 0;
    }
    return strip_size_blocks * (usable_size_blocks / full_stripe) +
           std::min<VK_QWORD>(strip_size_blocks, usable_size_blocks % full_stripe);
}

VK_QWORD _VK_GetEditableArrayUsableFreeBlocksFrom(const EDITABLE_ARRAY* array, VK_QWORD next_offset,
                                                  VK_BYTE raid_level, VK_BYTE num_parity_groups,
                                                  VK_DWORD strip_size_blocks, VK_WORD sectors_per_track,
                                                  VK_BYTE size_logic_type) {
    if (array == nullptr) {
        return 0;
    }
    const VK_WORD usable = __VK_GetUsableDriveCount(array->data_drive_count, raid_level, num_parity_groups);
    // Logical drives that already reach past the smallest drive leave nothing, not a wrapped size.
    const VK_QWORD free_per_drive =
        array->common_drive_size_blocks > next_offset ? array->common_drive_size_blocks - next_offset : 0;
    return __VK_GetLogicalDriveAdjustedSize(
        __VK_GetLogicalDriveMaxUsableSize(usable, free_per_drive, strip_size_blocks, size_logic_type),
        sectors_per_track, size_logic_type);
}

VK_WORD __VK_GetEditableArrayNewCommonDriveSize(PCDA cda, VK_WORD array_number, const VK_WORD* pd_numbers_to_remove,
                                                size_t pd_remove_list_size, const VK_WORD* pd_numbers_to_add,
                                                size_t pd_add_list_size, VK_QWORD* smallest_drive_size) {
    const std::span<const VK_WORD> removed(pd_numbers_to_remove,
                                           pd_numbers_to_remove != nullptr ? pd_remove_list_size : 0);
    const std::span<const VK_WORD> added(pd_numbers_to_add, pd_numbers_to_add != nullptr ? pd_add_list_size : 0);
    VK_WORD smallest = kNoDrive;
    VK_QWORD smallest_size = 0;
    const auto consider = [&](VK_WORD pd_number) {
        const PhysicalDriveConfigInformation* drive = LiveDrive(cda, pd_number);
        if (drive != nullptr && (smallest == kNoDrive || drive->usable_size_blocks < smallest_size)) {
            smallest = pd_number;
            smallest_size = drive->usable_size_blocks;
        }
    };
    if (const PEDITABLE_ARRAY array = StagedArray(cda, array_number); array != nullptr) {
        for (const VK_WORD pd_number : DataDrives(*array)) {
            if (std::find(removed.begin(), removed.end(), pd_number) == removed.end()) {
                consider(pd_number);
            }
        }
    }
    for (const VK_WORD pd_number : added) {
        consider(pd_number);
    }
    if (smallest_drive_size != nullptr) {
        *smallest_drive_size = smallest_size;
    }
    return smallest;
}

VK_WORD __VK_GetArrayPhysicalDriveBySize(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks,
                                         PhysicalDriveEnumerator enumerator, VK_BOOL largest) {
    VK_WORD chosen = kNoDrive;
    VK_QWORD chosen_size = 0;
    if (cda != nullptr && enumerator != nullptr) {
        VK_WORD pd_number = kNoDrive;
        // An array holds at most every drive once: a walk longer than that has lost its way.
        for (size_t steps = 0; steps < kMaxPhysicalDrivesSupported; ++steps) {
            pd_number = enumerator(cda, array_number, pd_number);
            const PhysicalDriveConfigInformation* drive =
                pd_number != kNoDrive ? LiveDrive(cda, pd_number) : nullptr;
            if (drive == nullptr) {
                break;
            }
            const VK_QWORD size = drive->usable_size_blocks;
            if (chosen == kNoDrive || (largest ? size > chosen_size : size < chosen_size)) {
                chosen = pd_number;
                chosen_size = size;
            }
        }
    }
    if (pd_usable_blocks != nullptr) {
        *pd_usable_blocks = chosen_size;
    }
    return chosen;
}

VK_WORD __VK_GetArraySmallestPhysicalDrive(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks,
                                           PhysicalDriveEnumerator enumerator) {
    return __VK_GetArrayPhysicalDriveBySize(cda, array_number, pd_usable_blocks, enumerator, kFalse);
}

VK_WORD _VK_GetArraySmallestPhysicalDrive(PCDA cda, VK_WORD array_number, VK_QWORD* pd_usable_blocks) {
    return __VK_GetArraySmallestPhysicalDrive(cda, array_number, pd_usable_blocks, VK_EnumerateArrayPhysicalDrives);
}

VK_DWORD _VK_GetPhysicalDriveAlignmentSizeBlocks(PCDA cda, VK_WORD pd_number) {
    const PhysicalDriveConfigInformation* drive = LiveDrive(cda, pd_number);
    const VK_WORD logical = drive != nullptr ? drive->logical_block_size_bytes : 0;
    const VK_WORD physical = drive != nullptr ? drive->physical_block_size_bytes : 0;
    if (logical == 0 || physical == 0) {
        PN_DebugLog(1, 0, "%s:%d: Unknown logical/physical blocksize for PD %u\n", __func__, __LINE__,
                    static_cast<unsigned>(pd_number));
        return 1;
    }
    // Two 16-bit sizes have a common multiple below 2^32, so the quotient always fits.
    return static_cast<VK_DWORD>(VK_lcm(logical, physical) / logical);
}

VK_QWORD __VK_GetArrayMinimumSwappablePhysicalDriveBlocks(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr || editable_array_number >= kMaxArraysSupported) {
        return 0;
    }
    CDALock guard(cda);
    VK_RequestArrayConfigurationInformation(cda);
    const ArrayRecord& array = _VK_CDA(cda)->array_record_list[editable_array_number];
    const size_t count = std::min<size_t>(array.ld_count, std::size(array.ld_offset_array));
    VK_QWORD needed = 0;
    for (size_t k = 0; k < count; ++k) {
        needed = std::max(needed, Saturate(static_cast<unsigned __int128>(array.ld_offset_array[k]) +
                                           array.ld_blocks_per_drive_array[k]));
    }
    return needed;
}

VK_QWORD VK_GetNextEditableLogicalDriveAlignedOffset(PCDA cda, VK_WORD editable_array_number,
                                                     VK_QWORD current_offset) {
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = StagedArray(cda, editable_array_number);
    if (array == nullptr) {
        return current_offset;
    }
    return _VK_GetNextLogicalDriveAlignedOffset(cda, array->alignment_size_blocks, current_offset);
}

// ---- RAID level and parity-group rules -------------------------------------------------------------

VK_BOOL __VK_IsValidRAIDForArray(PCDA, VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count) {
    return ValidRAID(data_drive_count, raid_level, parity_group_count) ? kTrue : kFalse;
}

VK_BOOL __VK_IsParityGroupCountValidFor(VK_BYTE raid_level, VK_WORD drive_count, VK_BYTE parity_group_count) {
    const VK_DWORD n = drive_count;
    const VK_DWORD g = parity_group_count;
    switch (raid_level) {
    case kRAID50: return n > 5 && g > 1 && n % g == 0 && n / g > 2 ? kTrue : kFalse;
    case kRAID60: return n >= 8 && g >= 2 && n % g == 0 && n / g >= 4 ? kTrue : kFalse;
    default: return kFalse;
    }
}

VK_BYTE _VK_GetEditableArrayParityGroupCountValues(PCDA, VK_BYTE raid_level, VK_WORD data_drive_count,
                                                   VK_BYTE* max_parity_group_count, VK_BYTE* parity_group_count_array,
                                                   VK_BYTE* default_parity_group_count) {
    if (max_parity_group_count == nullptr || parity_group_count_array == nullptr ||
        default_parity_group_count == nullptr) {
        return kGetEditableArrayParityGroupCountValuesInvalidArguments;
    }
    const VK_BYTE room = *max_parity_group_count;
    std::fill_n(parity_group_count_array, room, VK_BYTE{0});
    VK_BYTE stored = 0;
    for (VK_DWORD g = 2; stored < room && g < data_drive_count && g != 0xFF; ++g) {
        if (raid_level != kRAID50 && raid_level != kRAID60) {
            // Levels without groups offer the one count 0.
            parity_group_count_array[stored++] = 0;
            break;
        }
        if (__VK_IsParityGroupCountValidFor(raid_level, data_drive_count, static_cast<VK_BYTE>(g))) {
            parity_group_count_array[stored++] = static_cast<VK_BYTE>(g);
        }
    }
    *default_parity_group_count = room != 0 ? parity_group_count_array[0] : 0;
    *max_parity_group_count = stored;
    return kGetEditableArrayParityGroupCountValuesOK;
}

VK_BYTE VK_GetEditableArrayParityGroupCountValues(PCDA cda, VK_WORD editable_array_number, VK_BYTE raid_level,
                                                  VK_BYTE* max_parity_group_count, VK_BYTE* parity_group_count_array,
                                                  VK_BYTE* default_parity_group_count) {
    CDALock guard(cda);
    if (StagedConfiguration(cda) == nullptr) {
        return kGetEditableArrayParityGroupCountValuesNoEditableConfigCreated;
    }
    if (max_parity_group_count == nullptr || parity_group_count_array == nullptr ||
        default_parity_group_count == nullptr || *max_parity_group_count == 0) {
        return kGetEditableArrayParityGroupCountValuesInvalidArguments;
    }
    const PEDITABLE_ARRAY array = StagedArray(cda, editable_array_number);
    if (array == nullptr) {
        return kGetEditableArrayParityGroupCountValuesNoArraySet;
    }
    if (array->data_drive_count == 0) {
        return kGetEditableArrayParityGroupCountValuesNoDrivesAdded;
    }
    return _VK_GetEditableArrayParityGroupCountValues(cda, raid_level, array->data_drive_count,
                                                      max_parity_group_count, parity_group_count_array,
                                                      default_parity_group_count);
}

VK_BYTE __VK_ParityGroupCountAfterShrink(VK_BYTE raid_level, VK_BYTE parity_group_count, VK_WORD pd_current_count,
                                         VK_WORD pd_remove_count, VK_BYTE ld_parity_shrink_type) {
    return GroupCountAfter(GroupChange::Shrink, raid_level, parity_group_count, pd_current_count, pd_remove_count,
                           ld_parity_shrink_type);
}

VK_BYTE __VK_ParityGroupCountAfterExpand(VK_BYTE raid_level, VK_BYTE parity_group_count, VK_WORD pd_current_count,
                                         VK_WORD pd_add_count, VK_BYTE ld_parity_expand_type) {
    return GroupCountAfter(GroupChange::Expand, raid_level, parity_group_count, pd_current_count, pd_add_count,
                           ld_parity_expand_type);
}

VK_BYTE __VK_GetNumberOfParityGroupsForShrink(PCDA cda, VK_WORD ld_number, VK_WORD pd_current_count,
                                              VK_WORD pd_remove_count, VK_BYTE ld_parity_shrink_type) {
    const PEDITABLE_LOGICAL_DRIVE ld = StagedLogicalDrive(cda, ld_number);
    return ld != nullptr ? __VK_ParityGroupCountAfterShrink(ld->RAID_level, ld->num_parity_groups, pd_current_count,
                                                            pd_remove_count, ld_parity_shrink_type)
                         : 0;
}

VK_BYTE __VK_GetNumberOfParityGroupsForExpand(PCDA cda, VK_WORD ld_number, VK_WORD pd_current_count,
                                              VK_WORD pd_add_count, VK_BYTE ld_parity_expand_type) {
    const PEDITABLE_LOGICAL_DRIVE ld = StagedLogicalDrive(cda, ld_number);
    return ld != nullptr ? __VK_ParityGroupCountAfterExpand(ld->RAID_level, ld->num_parity_groups, pd_current_count,
                                                            pd_add_count, ld_parity_expand_type)
                         : 0;
}

VK_BYTE _VK_ExpandRAIDLevel(PCDA cda, VK_BYTE current_raid, VK_WORD add_drive_count) {
    switch (current_raid) {
    case kRAID1:
        if (add_drive_count % 2 == 0) {
            return kRAID10;
        }
        if (add_drive_count == 1) {
            return kRAID5;
        }
        break;
    case kRAID10:
        if (add_drive_count % 2 == 0) {
            return kRAID10;
        }
        break;
    case kRAID1Triple:
    case kRAID10Triple:
        if (add_drive_count % 3 == 0) {
            return kRAID10Triple;
        }
        break;
    default: return current_raid;
    }
    return VK_ControllerSupportsRAIDLevel(cda, kRAID6) ? kRAID6 : kRAID5;
}

// ---- Strip sizes -------------------------------------------------------------------------------------

VK_BYTE __StripSizeBytesToExp(VK_DWORD byte_value) {
    return byte_value > 1 ? static_cast<VK_BYTE>(std::bit_width(byte_value) - 1) : 0;
}

namespace telmar {

StripSizeLimits ControllerStripSizeLimits(PCDA cda) {
    CDALock guard(cda);
    StripSizeLimits limits;
    limits.min_non_parity = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMinNonParityStripSizeBytes);
    limits.min_parity = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMinParityStripSizeBytes);
    limits.max_raid01 = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxRAID01StripSizeBytes);
    limits.max_raid5 = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxRAID5StripSizeBytes);
    limits.max_raid6 = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxRAID6StripSizeBytes);
    limits.max_nvme = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxNVMeStripSizeBytes);
    limits.max_full_stripe = VK_GetControllerStripSizeSupport(cda, kControllerStripSizeMaxFullStripeSizeBytes);
    return limits;
}

VK_BYTE MinStripSizeExp(const StripSizeLimits& limits, VK_BYTE raid_level) {
    const VK_DWORD bytes = IS_PARITY_RAID(raid_level) ? limits.min_parity : limits.min_non_parity;
    return bytes != 0 ? __StripSizeBytesToExp(bytes) : 13;
}

VK_BYTE MaxStripSizeExp(const StripSizeLimits& limits, VK_BYTE raid_level, VK_BYTE num_parity_groups,
                        VK_DWORD drive_type, VK_WORD data_drive_count) {
    VK_DWORD bytes = limits.max_raid01;
    if (raid_level == kRAID5 || raid_level == kRAID50) {
        bytes = limits.max_raid5;
    } else if (raid_level == kRAID6 || raid_level == kRAID60) {
        bytes = limits.max_raid6;
    }
    // A controller without an NVMe limit reports 0: that lowers nothing.
    if ((drive_type & kPhysicalDriveTypeNVMe) && limits.max_nvme != 0 && limits.max_nvme < bytes) {
        bytes = limits.max_nvme;
    }
    if (bytes == 0) {
        return 20;
    }
    VK_BYTE exp = __StripSizeBytesToExp(bytes);
    if (!IS_PARITY_RAID(raid_level)) {
        return exp;
    }
    if (limits.max_full_stripe == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'max_controller_strip_size_bytes > 0' failed: Error: Failed to determine max "
                    "safe full stripe size\n",
                    "__VK_GetEditableLogicalDriveMaxStripSize", __LINE__);
        return exp;
    }
    const VK_QWORD multiplier = __VK_GetFullStripeSizeMultiplier(data_drive_count, raid_level, num_parity_groups);
    while (exp > 0 && (multiplier << exp) > limits.max_full_stripe) {
        --exp;
    }
    return exp;
}

VK_BYTE StripSizeRange(const StripSizeLimits& limits, VK_BYTE raid_level, VK_BYTE num_parity_groups,
                       VK_DWORD drive_type, VK_WORD data_drive_count, VK_BYTE* min_strip_size_exp,
                       VK_BYTE* max_strip_size_exp, VK_BYTE* default_strip_size_exp) {
    VK_BYTE min_exp = MinStripSizeExp(limits, raid_level);
    VK_BYTE max_exp = MaxStripSizeExp(limits, raid_level, num_parity_groups, drive_type, data_drive_count);
    VK_BYTE default_exp = 0;
    VK_BYTE result = kGetEditableLogicalDriveStripSizeRangeOK;
    if (min_exp != 0 && max_exp != 0) {
        default_exp = std::min<VK_BYTE>((drive_type & kPhysicalDriveTypeNVMe) ? 17 : 18, max_exp);
    } else {
        min_exp = max_exp = 0;
        result = kGetEditableLogicalDriveStripSizeRangeNoValidStripSize;
    }
    if (min_strip_size_exp != nullptr) {
        *min_strip_size_exp = min_exp;
    }
    if (max_strip_size_exp != nullptr) {
        *max_strip_size_exp = max_exp;
    }
    if (default_strip_size_exp != nullptr) {
        *default_strip_size_exp = default_exp;
    }
    return result;
}

bool FullStripeSizeSafe(const StripSizeLimits& limits, VK_WORD data_drive_count, VK_BYTE raid_level,
                        VK_BYTE parity_group_count, VK_DWORD strip_size) {
    if (!IS_PARITY_RAID(raid_level)) {
        return true;
    }
    const VK_QWORD multiplier = __VK_GetFullStripeSizeMultiplier(data_drive_count, raid_level, parity_group_count);
    // Without a full stripe (no groups reported) nothing shows the stripe fits.
    return multiplier != 0 && VK_QWORD{strip_size} * multiplier <= limits.max_full_stripe;
}

} // namespace telmar

VK_BYTE __VK_GetEditableLogicalDriveMinStripSize(PCDA cda, VK_BYTE RAID_level) {
    return telmar::MinStripSizeExp(telmar::ControllerStripSizeLimits(cda), RAID_level);
}

VK_BYTE __VK_GetEditableLogicalDriveMaxStripSize(PCDA cda, VK_BYTE RAID_level, VK_BYTE num_parity_groups,
                                                 VK_DWORD drive_type, VK_WORD data_drive_count) {
    return telmar::MaxStripSizeExp(telmar::ControllerStripSizeLimits(cda), RAID_level, num_parity_groups,
                                   drive_type, data_drive_count);
}

VK_BYTE _VK_GetEditableLogicalDriveStripSizeRange(PCDA cda, VK_WORD, VK_BYTE raid_level, VK_BYTE num_parity_groups,
                                                  VK_DWORD drive_type, VK_WORD data_drive_count,
                                                  VK_BYTE* min_strip_size_exp, VK_BYTE* max_strip_size_exp,
                                                  VK_BYTE* default_strip_size_exp) {
    return telmar::StripSizeRange(telmar::ControllerStripSizeLimits(cda), raid_level, num_parity_groups, drive_type,
                                  data_drive_count, min_strip_size_exp, max_strip_size_exp, default_strip_size_exp);
}

VK_BYTE VK_GetEditableLogicalDriveStripSizeRange(PCDA cda, VK_WORD editable_ld_number, VK_BYTE* min_strip_size_exp,
                                                 VK_BYTE* max_strip_size_exp, VK_BYTE* default_strip_size_exp) {
    CDALock guard(cda);
    if (StagedConfiguration(cda) == nullptr) {
        return kGetEditableLogicalDriveStripSizeRangeNoEditableConfigCreated;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = StagedLogicalDrive(cda, editable_ld_number);
    const PEDITABLE_ARRAY array =
        ld != nullptr && (ld->flags & kEditableLDArraySet) ? StagedArray(cda, ld->editable_array_number) : nullptr;
    if (array == nullptr) {
        return kGetEditableLogicalDriveStripSizeRangeNoArraySet;
    }
    if (!(ld->flags & kEditableLDRAIDSet)) {
        return kGetEditableLogicalDriveStripSizeRangeNoRAIDLevelSet;
    }
    if (ld->flags & kEditableLDLUCache) {
        return kGetEditableLogicalDriveStripSizeInvalidLUCache;
    }
    return _VK_GetEditableLogicalDriveStripSizeRange(cda, editable_ld_number, ld->RAID_level, ld->num_parity_groups,
                                                     array->common_drive_type, array->data_drive_count,
                                                     min_strip_size_exp, max_strip_size_exp, default_strip_size_exp);
}

VK_BOOL __VK_IsFullStripeSizeSafe(PCDA cda, VK_WORD data_drive_count, VK_BYTE raid_level, VK_BYTE parity_group_count,
                                  VK_DWORD strip_size) {
    if (!IS_PARITY_RAID(raid_level)) {
        return kTrue;
    }
    return telmar::FullStripeSizeSafe(telmar::ControllerStripSizeLimits(cda), data_drive_count, raid_level,
                                      parity_group_count, strip_size)
               ? kTrue
               : kFalse;
}

VK_BOOL __VK_IsNVMEArray(PCDA cda, PEDITABLE_ARRAY editable_array) {
    if (editable_array == nullptr) {
        return kFalse;
    }
    for (const VK_WORD pd_number : DataDrives(*editable_array)) {
        if (!(VK_GetPhysicalDriveBasicInfo(cda, pd_number) & kPhysicalDriveTypeNVMe)) {
            return kFalse;
        }
    }
    return kTrue;
}
