// What a logical drive is: RAID level and groups, sizes, identity, label, geometry, LU cache pairing
// and statistics, split-mirror sibling. Reads the record copies the loaders cache, and the mirror-pair
// reply, which is read afresh for every RAID-group enumerator.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_records.h"

using pavlin::ByteView;

namespace {

constexpr VK_WORD kNone = 0xFFFF;

// IDENTIFY LOGICAL DRIVE fields.
constexpr size_t kIdentifyCylinders = 6;
constexpr size_t kIdentifyHeads = 8;
constexpr size_t kIdentifySectorsPerTrack = 20;
constexpr size_t kIdentifyVolumeLabel = 38;
constexpr size_t kVolumeLabelLength = 64;
constexpr size_t kIdentifyPage83 = 102;
constexpr size_t kPage83Length = 16;

// LU_CACHE_SENSE fields.
constexpr size_t kSenseRequestedWritePolicy = 4;
constexpr size_t kSenseCacheLineSizeBlocks = 7;

// Statistics replies longer than this carry the locked misses and the controller's own totals.
constexpr VK_WORD kLUStatsWithLockedMisses = 98;

// A pair-map entry names a drive only below this.
constexpr VK_WORD kMaxPairedDrive = kMaxPhysicalDrivesSupported;
constexpr size_t kNotListed = static_cast<size_t>(-1);

bool Exists(const _CDA* c, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && (c->ld_record_list[ld_number].flags & kLDRecordExists);
}

// The drive exists once the model is built.
bool ModelAndExists(PCDA cda, VK_WORD ld_number) {
    return VK_RequestArrayConfigurationInformation(cda) && Exists(_VK_CDA(cda), ld_number);
}

VK_BYTE RaidLevel(const LOGICAL_DRIVE_CONFIG& config) {
    const VK_WORD f = config.wFaultToleranceMode;
    const VK_BYTE m = config.bDataDistributionMode;
    const VK_WORD k = config.wDrivesConsumedForFaultTolerance;
    switch (f) {
    case 0: return kRAID0;
    case 2: return k == 1 ? kRAID1 : kRAID10;
    case 3: return m == 2 ? kRAID5 : kRAID50;
    case 5: return m == 2 ? kRAID6 : kRAID60;
    case 6:
        if (m == 2) {
            return k <= 2 ? kRAID1Triple : kRAID10Triple;
        }
        return kInvalidRAID;
    default: return kInvalidRAID;
    }
}

VK_WORD RaidInfo(const LOGICAL_DRIVE_CONFIG& config) {
    const VK_WORD groups = config.bDataDistributionMode == 7 ? config.bNumberOfParityGroups : 0;
    return static_cast<VK_WORD>(groups << 8 | RaidLevel(config));
}

// Drives of one stripe that carry data, for a RAID-info word and `n` assigned drives.
VK_QWORD DataMembers(VK_WORD raid_info, VK_QWORD n) {
    const VK_QWORD g = NUM_PARITY_GROUPS(raid_info);
    switch (RAID_LEVEL(raid_info)) {
    case kRAID0: return n;
    case kRAID1:
    case kRAID10: return n / 2;
    case kRAID5: return n >= 1 ? n - 1 : 0;
    case kRAID6: return n >= 2 ? n - 2 : 0;
    case kRAID50: return g == 0 || n < g ? 0 : (n - g) / g;
    case kRAID60: return g == 0 || n < 2 * g ? 0 : (n - 2 * g) / g;
    case kRAID1Triple:
    case kRAID10Triple: return n / 3;
    default: return 0;
    }
}

// A product of controller-reported sizes saturates rather than wrap.
VK_QWORD Times(VK_QWORD a, VK_QWORD b) {
    VK_QWORD out = 0;
    return __builtin_mul_overflow(a, b, &out) ? std::numeric_limits<VK_QWORD>::max() : out;
}

VK_BYTE TypeOf(VK_DWORD flags) {
    switch (flags & 0x3E00) {
    case kLDRecordRoleLUCache: return kLogicalDriveTypeCache;
    case kLDRecordRoleSplitMirrorPrimary: return kLogicalDriveTypeSplitMirrorSetPrimary;
    case kLDRecordRoleSplitMirrorBackup: return kLogicalDriveTypeSplitMirrorSetBackup;
    case kLDRecordRoleSplitMirrorOrphan: return kLogicalDriveTypeSplitMirrorSetBackupOrphan;
    default: return kLogicalDriveTypeData;
    }
}

VK_BYTE AcceleratorOf(VK_DWORD flags) {
    switch (flags & kLDRecordAcceleratorMask) {
    case kLDRecordAcceleratorControllerCache: return kLogicalDriveAcceleratorControllerCache;
    case kLDRecordAcceleratorLUCache: return kLogicalDriveAcceleratorLUCache;
    case kLDRecordAcceleratorIOBypass: return kLogicalDriveAcceleratorIOBypass;
    default: return kLogicalDriveAcceleratorNone;
    }
}

ByteView IdentifyView(const LogicalDriveRecord& r) {
    return ByteView(&r.identify_logical_drive_buffer, sizeof(r.identify_logical_drive_buffer));
}

// Common start of the two text getters: the soft assertion, then an emptied buffer. False when the
// buffer cannot be written at all.
bool PrepareTextBuffer(char* buffer, size_t size, size_t minimum, const char* function, int line) {
    if (buffer == nullptr || size < minimum) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer != NULL && buffer_size >= %zu' failed: Invalid buffer\n",
                    function, line, minimum);
    }
    if (buffer == nullptr || size == 0) {
        return false;
    }
    std::memset(buffer, 0, size);
    return true;
}

} // namespace

VK_BOOL __VK_CheckBootLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (ld_number == kNone) {
        return kFalse;
    }
    switch (LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number))) {
    case kLogicalDriveUnitStatus1Failed:
    case kLogicalDriveUnitStatus2NotConfigured:
    case kLogicalDriveUnitStatus6WrongDriveReplaced:
    case kLogicalDriveUnitStatus7DriveImproperlyConnected:
    case kLogicalDriveUnitStatus11NotYetAvailable:
    case kLogicalDriveUnitStatus13DisabledFromSCSIIDConflict:
    case kLogicalDriveUnitStatus14Ejected:
    case kLogicalDriveUnitStatus15EraseInProgress: return kFalse;
    default: break;
    }
    const VK_BYTE type = LOGICAL_DRIVE_TYPE(VK_GetLogicalDriveBasicInfo(cda, ld_number));
    return (type == kLogicalDriveTypeData || type == kLogicalDriveTypeSplitMirrorSetPrimary) ? kTrue : kFalse;
}

namespace {

// ---- RAID groups ------------------------------------------------------------------------------------

struct GroupInfoDeleter {
    void operator()(RAID_GROUP_INFO* info) const noexcept { VK_DestroyLogicalDriveRaidGroupEnumerator(info); }
};
using GroupInfoPtr = std::unique_ptr<RAID_GROUP_INFO, GroupInfoDeleter>;

template <typename T>
T* AllocateZeroed(size_t count) {
    return reinterpret_cast<T*>(PN_TRACKED_ZEROED(count * sizeof(T)).release());
}

void LogFailure(const char* expression, const char* reason, int line) {
    PN_DebugLog(1, 0, "%s:%d: Assertion '%s' failed: %s\n", "VK_CreateLogicalDriveRaidGroupEnumerator", line,
                expression, reason);
}

// The reply's per-drive word table: the extended one when the controller keeps one, else the base
// table. Only a table that lies whole inside the reply's total counts.
std::optional<ByteView> PairMap(ByteView reply, bool extended_map) {
    constexpr size_t kTotalAt = offsetof(MIRROR_DRIVE_PAIR_INFO, dwTotalStructureLength);
    const size_t total = reply.le32(kTotalAt).value_or(0);
    if (extended_map) {
        const VK_WORD maximum = reply.le16(offsetof(MIRROR_DRIVE_PAIR_INFO, wMaximumPhysicalDevicesSupported)).value_or(0);
        if (maximum > kMaxPhysicalDrivesSupported) {
            LogFailure("drive_pair_info->wMaximumPhysicalDevicesSupported <= 384", "Too many devices in pair map",
                       __LINE__);
        }
        const auto table =
            telmar::MapAt(reply.first(total),
                          reply.le16(offsetof(MIRROR_DRIVE_PAIR_INFO, wOffsetToExtendedPairedDrive)).value_or(0),
                          static_cast<size_t>(maximum) * sizeof(VK_WORD));
        if (!table) {
            LogFailure("extended pair map inside the reply", "Pair map lies outside the reply", __LINE__);
        }
        return table;
    }
    return reply.sub(offsetof(MIRROR_DRIVE_PAIR_INFO, pwPairedDrive), sizeof(MIRROR_DRIVE_PAIR_INFO::pwPairedDrive));
}

struct DataDrives {
    const VK_WORD* list;
    size_t count;
    bool Has(VK_WORD pd) const { return _VK_PhysicalDriveListAt(const_cast<VK_WORD*>(list), pd, count) != kNotListed; }
};

bool BuildMirrorGroups(const DataDrives& drives, ByteView map, VK_DWORD d, RAID_GROUP_INFO& info) {
    const VK_DWORD per_group = d / info.number_of_raid_groups;
    if (per_group != 2) {
        LogFailure("pds_per_group == 2", "A RAID 10 mirror group does not hold 2 drives", __LINE__);
    }
    pavlin::TrackedPtr<VK_WORD> placed(AllocateZeroed<VK_WORD>(d));
    if (!placed) {
        return false;
    }
    size_t placed_count = 0;
    VK_DWORD next_group = 0;
    for (size_t i = 0; i < drives.count; ++i) {
        const VK_WORD p = drives.list[i];
        if (_VK_PhysicalDriveListAt(placed.get(), p, placed_count) != kNotListed) {
            continue;
        }
        if (next_group >= info.number_of_raid_groups || placed_count + 1 >= d) {
            return false;
        }
        const auto partner = map.le16(static_cast<size_t>(p) * sizeof(VK_WORD));
        // The partner must be another data drive of this array that is not yet in a group.
        if (!partner || *partner >= kMaxPairedDrive || *partner == p || !drives.Has(*partner) ||
            _VK_PhysicalDriveListAt(placed.get(), *partner, placed_count) != kNotListed) {
            LogFailure("paired drive is a data drive of the array", "Invalid mirror partner", __LINE__);
            return false;
        }
        RAID_GROUP& group = info.raid_groups[next_group++];
        group.pd_numbers = AllocateZeroed<VK_WORD>(per_group > 2 ? per_group : 2);
        if (group.pd_numbers == nullptr) {
            return false;
        }
        group.pd_numbers[0] = p;
        group.pd_numbers[1] = *partner;
        group.number_of_drives = 2;
        placed.get()[placed_count++] = p;
        placed.get()[placed_count++] = *partner;
    }
    return true;
}

bool BuildNumberedGroups(const DataDrives& drives, ByteView map, VK_DWORD d, RAID_GROUP_INFO& info) {
    const VK_DWORD per_group = d / info.number_of_raid_groups;
    for (size_t i = 0; i < drives.count; ++i) {
        const VK_WORD p = drives.list[i];
        const auto number = map.le16(static_cast<size_t>(p) * sizeof(VK_WORD));
        if (!number || *number >= info.number_of_raid_groups) {
            LogFailure("group_number < number_of_raid_groups", "Invalid RAID group number", __LINE__);
            return false;
        }
        RAID_GROUP& group = info.raid_groups[*number];
        if (group.pd_numbers == nullptr) {
            group.pd_numbers = AllocateZeroed<VK_WORD>(per_group > 0 ? per_group : 1);
            if (group.pd_numbers == nullptr) {
                return false;
            }
        }
        if (group.number_of_drives >= per_group) {
            LogFailure("number_of_drives < pds_per_group", "Too many drives in a RAID group", __LINE__);
            return false;
        }
        group.pd_numbers[group.number_of_drives++] = p;
    }
    return true;
}

} // namespace

// ---- Enumerators ------------------------------------------------------------------------------------

VK_WORD VK_EnumerateControllerLogicalDrives(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kNone;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return kNone;
    }
    const _CDA* c = _VK_CDA(cda);
    const VK_DWORD maximum = c->identify_controller_buffer.wMaximumLogicalDevicesSupported;
    for (VK_DWORD n = static_cast<VK_WORD>(ld_number + 1); n < maximum && n < kMaxLogicalDrivesSupported; ++n) {
        if (Exists(c, static_cast<VK_WORD>(n))) {
            return static_cast<VK_WORD>(n);
        }
    }
    return kNone;
}

VK_WORD VK_EnumerateControllerBootableLogicalDrives(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kNone;
    }
    CDALock guard(cda);
    for (VK_WORD n = VK_EnumerateControllerLogicalDrives(cda, ld_number); n != kNone;
         n = VK_EnumerateControllerLogicalDrives(cda, n)) {
        if (__VK_CheckBootLogicalDrive(cda, n)) {
            return n;
        }
    }
    return kNone;
}

// ---- RAID level, type, sizes -----------------------------------------------------------------------

VK_WORD VK_GetLogicalDriveRAIDInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !VK_RequestSenseConfigurationBuffer(cda, ld_number) ||
        !Exists(_VK_CDA(cda), ld_number)) {
        return 0;
    }
    return RaidInfo(_VK_CDA(cda)->ld_record_list[ld_number].sense_config_buffer);
}

VK_DWORD VK_GetLogicalDriveBasicInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!ModelAndExists(cda, ld_number)) {
        return 0;
    }
    const VK_DWORD flags = _VK_CDA(cda)->ld_record_list[ld_number].flags;
    return static_cast<VK_DWORD>(AcceleratorOf(flags)) << 4 | TypeOf(flags);
}

VK_QWORD VK_GetLogicalDriveSize(PCDA cda, VK_WORD ld_number, VK_BYTE size_type) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'ld_number < kMaxLogicalDrivesSupported' failed: ld number out of range\n",
                    __func__, __LINE__);
        return 0;
    }
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !VK_RequestSenseConfigurationBuffer(cda, ld_number) ||
        !Exists(_VK_CDA(cda), ld_number)) {
        return 0;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    const VK_QWORD block = r.block_size_bytes;
    const VK_QWORD strip = r.sense_config_buffer.wDistribution;
    const VK_QWORD members = DataMembers(RaidInfo(r.sense_config_buffer), r.sense_config_buffer.wAssignedDrives);
    switch (size_type) {
    case kLogicalDriveSizeBlocks: return r.drive_size_blocks;
    case kLogicalDriveSizeBytes: return Times(block, r.drive_size_blocks);
    case kLogicalDriveStripSizeBlocks: return strip;
    case kLogicalDriveStripSizeBytes: return block * strip;
    case kLogicalDriveFullStripeSizeBlocks: return strip * members;
    case kLogicalDriveFullStripeSizeBytes: return block * strip * members;
    default: return block;
    }
}

// ---- Array position --------------------------------------------------------------------------------

VK_WORD VK_GetLogicalDriveArray(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return kNone;
    }
    CDALock guard(cda);
    return ModelAndExists(cda, ld_number) ? _VK_CDA(cda)->ld_record_list[ld_number].array_number : kNone;
}

VK_WORD VK_GetArrayLogicalDriveNumberFromIndex(PCDA cda, VK_WORD array_index, VK_WORD ld_index) {
    if (cda == nullptr || array_index >= kMaxArraysSupported) {
        return kNone;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda)) {
        return kNone;
    }
    const ArrayRecord& array = _VK_CDA(cda)->array_record_list[array_index];
    return ld_index < array.ld_count && ld_index < kMaxLogicalDrivesSupported ? array.ld_index_array[ld_index] : kNone;
}

VK_WORD VK_GetLogicalDriveParityInitializationType(PCDA cda, VK_WORD ld_number) {
    const VK_BYTE unit = LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number));
    return unit == kLogicalDriveUnitStatus18RPIInProgress || unit == kLogicalDriveUnitStatus19RPIQueued
               ? kLogicalDriveParityInitializationRapid
               : kLogicalDriveParityInitializationDefault;
}

// ---- Identity, label, geometry ----------------------------------------------------------------------

char* VK_GetLogicalDriveUniqueVolumeID(PCDA cda, VK_WORD ld_number, char* volume_id_buffer, size_t buffer_size) {
    if (!PrepareTextBuffer(volume_id_buffer, buffer_size, kMinGetLogicalDriveUniqueVolumeIDBufferLength, __func__,
                           __LINE__) ||
        cda == nullptr || buffer_size < kMinGetLogicalDriveUniqueVolumeIDBufferLength) {
        return volume_id_buffer;
    }
    CDALock guard(cda);
    if (ld_number >= kMaxLogicalDrivesSupported || !VK_RequestArrayConfigurationInformation(cda) ||
        !VK_RequestIdentifyLogicalDriveBuffer(cda, ld_number) || !Exists(_VK_CDA(cda), ld_number)) {
        return volume_id_buffer;
    }
    const ByteView id = IdentifyView(_VK_CDA(cda)->ld_record_list[ld_number]);
    for (size_t i = 0; i < kPage83Length; ++i) {
        std::snprintf(volume_id_buffer + 2 * i, 3, "%02X", id.u8(kIdentifyPage83 + i).value_or(0));
    }
    return volume_id_buffer;
}

char* VK_GetLogicalDriveVolumeLabel(PCDA cda, VK_WORD ld_number, char* volume_label_buffer, size_t buffer_size) {
    if (!PrepareTextBuffer(volume_label_buffer, buffer_size, kMinGetLogicalDriveVolumeLabelBufferLength, __func__,
                           __LINE__) ||
        cda == nullptr || buffer_size < kMinGetLogicalDriveVolumeLabelBufferLength) {
        return volume_label_buffer;
    }
    CDALock guard(cda);
    if (ld_number >= kMaxLogicalDrivesSupported || !VK_RequestArrayConfigurationInformation(cda) ||
        !VK_RequestIdentifyLogicalDriveBuffer(cda, ld_number) || !Exists(_VK_CDA(cda), ld_number)) {
        return volume_label_buffer;
    }
    const ByteView id = IdentifyView(_VK_CDA(cda)->ld_record_list[ld_number]);
    // From the end: trailing control characters vanish, inner ones become blanks.
    bool printable_follows = false;
    for (size_t i = kVolumeLabelLength; i-- > 0;) {
        const VK_BYTE b = id.u8(kIdentifyVolumeLabel + i).value_or(0);
        if (b >= 32 && b <= 126) {
            volume_label_buffer[i] = static_cast<char>(b);
            printable_follows = true;
        } else {
            volume_label_buffer[i] = printable_follows ? ' ' : '\0';
        }
    }
    return volume_label_buffer;
}

VK_DWORD VK_GetLogicalDriveGeometry(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyLogicalDriveBuffer(cda, ld_number)) {
        return 0;
    }
    const ByteView id = IdentifyView(_VK_CDA(cda)->ld_record_list[ld_number]);
    return static_cast<VK_DWORD>(id.le16(kIdentifyCylinders).value_or(0)) << 16 |
           static_cast<VK_DWORD>(id.u8(kIdentifyHeads).value_or(0)) << 8 | id.u8(kIdentifySectorsPerTrack).value_or(0);
}

// ---- RAID groups ------------------------------------------------------------------------------------

VK_WORD telmar::BuildRaidGroups(ByteView reply, bool extended_map, VK_WORD raid_info, const VK_WORD* data_drives,
                                size_t data_drive_count, VK_DWORD d, PRAID_GROUP_INFO* raid_group_info) {
    if (raid_group_info == nullptr) {
        return 0;
    }
    *raid_group_info = nullptr;
    const VK_BYTE level = RAID_LEVEL(raid_info);
    if (level != kRAID10 && level != kRAID50 && level != kRAID60 && level != kRAID10Triple) {
        return 0;
    }
    const auto map = PairMap(reply, extended_map);
    if (!map) {
        return 0;
    }
    GroupInfoPtr info(AllocateZeroed<RAID_GROUP_INFO>(1));
    if (!info) {
        return 0;
    }
    info->raid_level = level;
    VK_WORD result = 0;
    switch (level) {
    case kRAID10:
        info->number_of_raid_groups = d / 2;
        result = static_cast<VK_WORD>(info->number_of_raid_groups);
        break;
    case kRAID10Triple:
        info->number_of_raid_groups = d / 3;
        result = static_cast<VK_WORD>(info->number_of_raid_groups);
        break;
    default:
        info->number_of_raid_groups = NUM_PARITY_GROUPS(raid_info);
        result = static_cast<VK_WORD>(info->number_of_raid_groups << kCreateLogicalDriveRaidGroupParityGroupCountShift);
        break;
    }
    if (info->number_of_raid_groups == 0) {
        LogFailure("number_of_raid_groups > 0", "No RAID groups", __LINE__);
        return 0;
    }
    info->raid_groups = AllocateZeroed<RAID_GROUP>(info->number_of_raid_groups);
    if (info->raid_groups == nullptr) {
        return 0;
    }
    const DataDrives drives{data_drives, data_drive_count};
    const bool built = level == kRAID10 ? BuildMirrorGroups(drives, *map, d, *info)
                                        : BuildNumberedGroups(drives, *map, d, *info);
    if (!built) {
        return 0;
    }
    *raid_group_info = info.release();
    return result;
}

VK_WORD VK_CreateLogicalDriveRaidGroupEnumerator(PCDA cda, VK_WORD ld_number, PRAID_GROUP_INFO* raid_group_info) {
    if (raid_group_info == nullptr) {
        return 0;
    }
    *raid_group_info = nullptr;
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!ModelAndExists(cda, ld_number)) {
        return 0;
    }
    const VK_WORD raid_info = VK_GetLogicalDriveRAIDInfo(cda, ld_number);
    const VK_BYTE level = RAID_LEVEL(raid_info);
    if (level != kRAID10 && level != kRAID50 && level != kRAID60 && level != kRAID10Triple) {
        return 0;
    }
    pavlin::TrackedPtr<MIRROR_DRIVE_PAIR_INFO> reply(VK_GetMirrorPairInfo(cda, ld_number));
    if (!reply) {
        LogFailure("drive_pair_info != NULL", "Failed to get mirror pair information", __LINE__);
        return 0;
    }
    // The reader cut the total to the bytes it read; it never reads fewer than the default size.
    const VK_DWORD total = reply->dwTotalStructureLength;
    const ByteView held(reply.get(), total > kMirrorDrivePairInfoDefaultSize ? total : kMirrorDrivePairInfoDefaultSize);
    const VK_WORD array_number = _VK_CDA(cda)->ld_record_list[ld_number].array_number;
    VK_WORD drives[kMaxPhysicalDrivesSupported];
    size_t count = 0;
    VK_WORD p;
    FOREACH_ARRAY_DATA_DRIVE(cda, array_number, p) {
        if (count < kMaxPhysicalDrivesSupported) {
            drives[count++] = p;
        }
    }
    const VK_DWORD d = NUM_DATA_PHYSICAL_DRIVES(VK_GetArrayPhysicalDriveCounts(cda, array_number));
    return telmar::BuildRaidGroups(held, _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse, raid_info, drives, count,
                                   d, raid_group_info);
}

void VK_DestroyLogicalDriveRaidGroupEnumerator(PRAID_GROUP_INFO raid_group_info) {
    if (raid_group_info == nullptr) {
        return;
    }
    if (raid_group_info->raid_groups != nullptr) {
        for (VK_DWORD g = 0; g < raid_group_info->number_of_raid_groups; ++g) {
            if (raid_group_info->raid_groups[g].pd_numbers != nullptr) {
                VK_free(raid_group_info->raid_groups[g].pd_numbers);
            }
        }
        VK_free(raid_group_info->raid_groups);
    }
    VK_free(raid_group_info);
}

size_t _VK_PhysicalDriveListAt(VK_WORD* list, VK_WORD pd_number, size_t n) {
    for (size_t i = 0; list != nullptr && i < n; ++i) {
        if (list[i] == pd_number) {
            return i;
        }
    }
    return static_cast<size_t>(-1);
}

VK_WORD _VK_EnumerateRaidGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info, VK_BYTE group_index,
                                             VK_WORD pd_number) {
    if (raid_group_info == nullptr || group_index >= raid_group_info->number_of_raid_groups ||
        raid_group_info->raid_groups == nullptr) {
        return kNone;
    }
    const RAID_GROUP& group = raid_group_info->raid_groups[group_index];
    if (group.pd_numbers == nullptr || group.number_of_drives == 0) {
        return kNone;
    }
    if (pd_number == kNone) {
        return group.pd_numbers[0];
    }
    const size_t at = _VK_PhysicalDriveListAt(group.pd_numbers, pd_number, group.number_of_drives);
    return at != static_cast<size_t>(-1) && at + 1 < group.number_of_drives ? group.pd_numbers[at + 1] : kNone;
}

VK_WORD VK_EnumerateMirrorGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info, VK_BYTE mirror_group_index,
                                              VK_WORD pd_number) {
    if (raid_group_info == nullptr ||
        (raid_group_info->raid_level != kRAID10 && raid_group_info->raid_level != kRAID10Triple)) {
        return kNone;
    }
    return _VK_EnumerateRaidGroupPhysicalDrives(raid_group_info, mirror_group_index, pd_number);
}

VK_WORD VK_EnumerateParityGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info, VK_BYTE parity_group_index,
                                              VK_WORD pd_number) {
    if (raid_group_info == nullptr ||
        (raid_group_info->raid_level != kRAID50 && raid_group_info->raid_level != kRAID60)) {
        return kNone;
    }
    return _VK_EnumerateRaidGroupPhysicalDrives(raid_group_info, parity_group_index, pd_number);
}

// ---- LU cache ---------------------------------------------------------------------------------------

namespace {

// Below 64 and below the controller's logical-device count.
bool LUCacheNumberInRange(PCDA cda, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && VK_RequestIdentifyControllerBuffer(cda) &&
           ld_number < _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported;
}

// Controller counters add up without wrapping.
VK_QWORD Sum(VK_QWORD a, VK_QWORD b, VK_QWORD c) {
    VK_QWORD out = 0;
    if (__builtin_add_overflow(a, b, &out) || __builtin_add_overflow(out, c, &out)) {
        return std::numeric_limits<VK_QWORD>::max();
    }
    return out;
}

VK_BYTE LineSizeCode(VK_QWORD bytes) {
    switch (bytes) {
    case 64 * 1024: return 1;
    case 128 * 1024: return 2;
    case 256 * 1024: return 4;
    default: return 0;
    }
}

} // namespace

VK_WORD VK_GetLogicalDriveLUCacheNumber(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kNone;
    }
    CDALock guard(cda);
    if (!LUCacheNumberInRange(cda, ld_number) || !ModelAndExists(cda, ld_number) ||
        !VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        return kNone;
    }
    const LOGICAL_DRIVE_CONFIG& config = _VK_CDA(cda)->ld_record_list[ld_number].sense_config_buffer;
    if (config.bLUCacheBits == 0) {
        return kNone;
    }
    const VK_WORD other = config.wLUCacheOtherUnitNumber;
    return Exists(_VK_CDA(cda), other) ? other : kNone;
}

VK_WORD VK_GetLogicalDriveLUCacheInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!LUCacheNumberInRange(cda, ld_number) || !VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        return 0;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    VK_WORD info = static_cast<VK_WORD>((r.sense_config_buffer.bLUCacheCachingAlgorithm & 7) |
                                        ((r.sense_config_buffer.bLUCacheWritePolicy << 3) & 0x18));
    if (VK_RequestLUCacheSenseBuffer(cda, ld_number)) {
        const ByteView sense(&r.lu_cache_config_buffer, sizeof(r.lu_cache_config_buffer));
        const VK_QWORD line_bytes =
            static_cast<VK_QWORD>(sense.le32(kSenseCacheLineSizeBlocks).value_or(0)) * r.block_size_bytes;
        info = static_cast<VK_WORD>(info | LineSizeCode(line_bytes) << 8 |
                                    (sense.u8(kSenseRequestedWritePolicy).value_or(0) & 3) << 5);
    }
    return info;
}

VK_BOOL VK_GetLogicalDriveLUCacheStats(PCDA cda, VK_WORD ld_number, PVK_LU_CACHE_STATISTICS lu_stats) {
    if (cda == nullptr || lu_stats == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!LUCacheNumberInRange(cda, ld_number) || !VK_RequestLUCacheStatisticsBuffer(cda, ld_number)) {
        return kFalse;
    }
    const LU_CACHE_STATS& s = _VK_CDA(cda)->ld_record_list[ld_number].lu_cache_stats_buffer;
    lu_stats->read_cache_hits = s.qwReadCacheHits;
    lu_stats->read_cache_misses_do_load = s.qwReadCacheMissesDoLoad;
    lu_stats->read_cache_misses_loading = s.qwReadCacheMissesLoading;
    lu_stats->read_cache_misses_skip = s.qwReadCacheMissesSkip;
    lu_stats->read_cache_misses_total = Sum(s.qwReadCacheMissesDoLoad, s.qwReadCacheMissesLoading, s.qwReadCacheMissesSkip);
    lu_stats->write_cache_hits = s.qwWriteCacheHits;
    lu_stats->write_cache_misses_do_load = s.qwWriteCacheMissesDoLoad;
    lu_stats->write_cache_misses_loading = s.qwWriteCacheMissesLoading;
    lu_stats->write_cache_misses_skip = s.qwWriteCacheMissesSkip;
    lu_stats->write_cache_misses_total =
        Sum(s.qwWriteCacheMissesDoLoad, s.qwWriteCacheMissesLoading, s.qwWriteCacheMissesSkip);
    if (s.wValidDataLength > kLUStatsWithLockedMisses) {
        lu_stats->read_cache_misses_locked = s.qwReadCacheMissesLocked;
        lu_stats->write_cache_misses_locked = s.qwWriteCacheMissesLocked;
        lu_stats->read_cache_misses_total = s.qwReadCacheMissesTotal;
        lu_stats->write_cache_misses_total = s.qwWriteCacheMissesTotal;
    }
    return kTrue;
}

// ---- Split mirror -----------------------------------------------------------------------------------

VK_WORD VK_GetLogicalDriveSplitMirrorNumber(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return kNone;
    }
    CDALock guard(cda);
    if (!ModelAndExists(cda, ld_number) || !VK_RequestSenseLogicalDriveStatusBuffer(cda, ld_number) ||
        !VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        return kNone;
    }
    const LOGICAL_DRIVE_CONFIG& config = _VK_CDA(cda)->ld_record_list[ld_number].sense_config_buffer;
    return __VK_FindSplitMirrorSibling(cda, config.signature, config.dwOtherVolumeSignature);
}

static_assert(sizeof(VK_LU_CACHE_STATISTICS) == 96);
static_assert(offsetof(VK_LU_CACHE_STATISTICS, read_cache_misses_locked) == 32);
static_assert(offsetof(VK_LU_CACHE_STATISTICS, read_cache_misses_total) == 40);
static_assert(offsetof(VK_LU_CACHE_STATISTICS, write_cache_hits) == 48);
static_assert(offsetof(VK_LU_CACHE_STATISTICS, write_cache_misses_locked) == 80);
static_assert(offsetof(VK_LU_CACHE_STATISTICS, write_cache_misses_total) == 88);
static_assert(sizeof(RAID_GROUP) == 2 * sizeof(void*));
static_assert(sizeof(RAID_GROUP_INFO) == 2 * sizeof(void*));
// ---- Operation progress -----------------------------------------------------------------------------

#include "pavl_tracked.h"
#include "telm_cda_internal.h"
#include "telm_prop_settings.h"

namespace {

namespace set = telmar::settings;
using pavlin::TrackedBuffer;

// The unit states of one background operation: waiting reads 0, running is computed.
struct UnitStates {
    VK_BYTE waiting[2];
    VK_BYTE running[2];
};
constexpr UnitStates kRebuildStates{{4, 4}, {5, 5}};
constexpr UnitStates kTransformationStates{{12, 12}, {10, 10}};
constexpr UnitStates kRekeyStates{{25, 26}, {22, 23}};
constexpr UnitStates kRPIStates{{19, 19}, {18, 18}};
constexpr VK_BYTE kUnitRecovering = 5;
constexpr VK_BYTE kUnitFailed = 1;
constexpr VK_BYTE kUnitOK = 0;

bool In(const VK_BYTE (&states)[2], VK_BYTE unit) {
    return unit == states[0] || unit == states[1];
}

VK_BYTE CachedUnitStatus(PCDA cda, VK_WORD ld_number) {
    return LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number));
}

// Parity initialization is reported only for levels that carry parity; the whole word is compared,
// group count included.
bool UsesParity(VK_WORD raid_info) {
    return raid_info != kRAID0 && raid_info != kRAID1 && raid_info != kRAID10 && raid_info != kRAID1Triple &&
           raid_info != kRAID10Triple;
}

// Over the drive's blocks per data drive, or over the whole logical drive.
VK_BYTE CachedBlockOperationProgress(PCDA cda, VK_WORD ld_number, bool per_drive) {
    if (!VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        return set::kInvalidProgress;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    const VK_QWORD total = per_drive ? r.physical_drive_blocks_per_drive : r.drive_size_blocks;
    return set::BlockOperationProgress(total, VK_GetLogicalDriveBlocksLeftToRecover(cda, ld_number));
}

// Waiting reads 0 and running is computed (per data drive when `per_drive` holds for the unit
// state); `otherwise` answers every other unit state.
template <typename PerDrive, typename Otherwise>
VK_BYTE CachedProgress(PCDA cda, VK_WORD ld_number, const UnitStates& states, PerDrive per_drive,
                       Otherwise otherwise) {
    if (cda == nullptr) {
        return set::kInvalidProgress;
    }
    CDALock guard(cda);
    if (!ModelAndExists(cda, ld_number)) {
        return set::kInvalidProgress;
    }
    const VK_BYTE unit = CachedUnitStatus(cda, ld_number);
    if (In(states.waiting, unit)) {
        return 0;
    }
    return In(states.running, unit) ? CachedBlockOperationProgress(cda, ld_number, per_drive(unit)) : otherwise(unit);
}

VK_BYTE CachedProgress(PCDA cda, VK_WORD ld_number, const UnitStates& states) {
    return CachedProgress(
        cda, ld_number, states, [](VK_BYTE unit) { return unit == kUnitRecovering; },
        [](VK_BYTE) { return set::kInvalidProgress; });
}

// Fresh replies of one logical drive, in buffers of the call's own.
struct LiveReplies {
    TrackedBuffer status = PN_TRACKED_ZEROED(sizeof(LOGICAL_DRIVE_STATUS));
    TrackedBuffer config = PN_TRACKED_ZEROED(sizeof(LOGICAL_DRIVE_CONFIG));

    LOGICAL_DRIVE_STATUS* Status() { return reinterpret_cast<LOGICAL_DRIVE_STATUS*>(status.get()); }
    LOGICAL_DRIVE_CONFIG* Config() { return reinterpret_cast<LOGICAL_DRIVE_CONFIG*>(config.get()); }
    ByteView StatusView() const { return ByteView(status.get(), status.size()); }
    VK_BYTE Unit() const { return StatusView().u8(offsetof(LOGICAL_DRIVE_STATUS, bUnitStatus)).value_or(0xFF); }
    VK_QWORD BlocksLeft() const {
        const ByteView s = StatusView();
        return set::BlocksLeft(s.le32(offsetof(LOGICAL_DRIVE_STATUS, dwBlocksLeftToRecover)).value_or(0),
                               s.le64(offsetof(LOGICAL_DRIVE_STATUS, qwBigBlocksLeftToRecover)).value_or(0));
    }
    VK_QWORD BlocksPerDrive() const {
        const ByteView c(config.get(), config.size());
        return set::Wide(c.le32(offsetof(LOGICAL_DRIVE_CONFIG, dwBlocksPerDrive)).value_or(0),
                         c.le64(offsetof(LOGICAL_DRIVE_CONFIG, qwExtendedBlocksPerDrive)).value_or(0));
    }
    VK_QWORD BlocksOnVolume() const {
        const ByteView c(config.get(), config.size());
        return set::Wide(c.le32(offsetof(LOGICAL_DRIVE_CONFIG, dwBlocksOnVolume)).value_or(0),
                         c.le64(offsetof(LOGICAL_DRIVE_CONFIG, qwBigBlocksInLogicalDrive)).value_or(0));
    }
};

bool LiveNumberUsable(PCDA cda, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && VK_RequestIdentifyControllerBuffer(cda) &&
           ld_number < _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported;
}

VK_BYTE LiveBlockOperationProgress(const LiveReplies& r) {
    const VK_QWORD total = r.Unit() == kUnitRecovering ? r.BlocksPerDrive() : r.BlocksOnVolume();
    return set::BlockOperationProgress(total, r.BlocksLeft());
}

VK_BYTE LiveRebuildingProgress(const LiveReplies& r) {
    VK_QWORD total = r.Unit() == kUnitRecovering ? r.BlocksPerDrive() : r.BlocksOnVolume();
    VK_QWORD left = r.BlocksLeft();
    const VK_WORD t = ByteView(r.config.get(), r.config.size())
                          .le16(offsetof(LOGICAL_DRIVE_CONFIG, wDrivesConsumedForFaultTolerance))
                          .value_or(0);
    set::RebuildOntoReplacements(r.StatusView(), t, total, left);
    return set::BlockOperationProgress(total, left);
}

VK_BYTE LiveRPIProgress(const LiveReplies& r) {
    return set::BlockOperationProgress(r.BlocksPerDrive(), r.BlocksLeft());
}

template <typename Compute>
VK_BYTE LiveProgress(PCDA cda, VK_WORD ld_number, const UnitStates& states, Compute compute) {
    if (cda == nullptr) {
        return set::kInvalidProgress;
    }
    CDALock guard(cda);
    if (!LiveNumberUsable(cda, ld_number)) {
        return set::kInvalidProgress;
    }
    LiveReplies r;
    if (!r.status || !r.config || !VK_GetSenseLogicalDriveStatusBuffer(cda, ld_number, r.Status())) {
        return set::kInvalidProgress;
    }
    const VK_BYTE unit = r.Unit();
    if (In(states.waiting, unit)) {
        return 0;
    }
    if (!In(states.running, unit) || !VK_GetSenseConfigurationBuffer(cda, ld_number, r.Config())) {
        return set::kInvalidProgress;
    }
    return compute(r);
}

} // namespace

VK_BYTE VK_GetLogicalDriveRebuildProgress(PCDA cda, VK_WORD ld_number) {
    return CachedProgress(cda, ld_number, kRebuildStates);
}

VK_BYTE VK_GetLogicalDriveTransformationProgress(PCDA cda, VK_WORD ld_number) {
    return CachedProgress(cda, ld_number, kTransformationStates);
}

VK_BYTE VK_GetLogicalDriveRekeyProgress(PCDA cda, VK_WORD ld_number) {
    return CachedProgress(cda, ld_number, kRekeyStates);
}

VK_BYTE VK_GetLogicalDriveParityInitializationProgress(PCDA cda, VK_WORD ld_number) {
    const auto per_drive = [](VK_BYTE) { return true; };
    return CachedProgress(cda, ld_number, kRPIStates, per_drive, [cda, ld_number](VK_BYTE unit) -> VK_BYTE {
        if (!UsesParity(VK_GetLogicalDriveRAIDInfo(cda, ld_number)) || unit == kUnitFailed ||
            !VK_RequestSurfaceStatusBuffer(cda)) {
            return set::kInvalidProgress;
        }
        const SURFACE_STATUS& s = _VK_CDA(cda)->surface_status_buffer;
        return set::CachedParityInitialization(ByteView(&s, sizeof(s)), ld_number);
    });
}

VK_BYTE VK_GetLogicalDriveRebuildProgressLive(PCDA cda, VK_WORD ld_number) {
    return LiveProgress(cda, ld_number, kRebuildStates, LiveRebuildingProgress);
}

VK_BYTE VK_GetLogicalDriveTransformationProgressLive(PCDA cda, VK_WORD ld_number) {
    return LiveProgress(cda, ld_number, kTransformationStates, LiveBlockOperationProgress);
}

VK_BYTE VK_GetLogicalDriveRekeyProgressLive(PCDA cda, VK_WORD ld_number) {
    return LiveProgress(cda, ld_number, kRekeyStates, LiveBlockOperationProgress);
}

VK_BYTE VK_GetLogicalDriveRPIProgressLive(PCDA cda, VK_WORD ld_number) {
    return LiveProgress(cda, ld_number, kRPIStates, LiveRPIProgress);
}

VK_BYTE VK_GetLogicalDriveParityInitializationProgressLive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return set::kInvalidProgress;
    }
    CDALock guard(cda);
    if (!ModelAndExists(cda, ld_number) || !LiveNumberUsable(cda, ld_number)) {
        return set::kInvalidProgress;
    }
    LiveReplies r;
    if (!r.status || !r.config || !VK_GetSenseLogicalDriveStatusBuffer(cda, ld_number, r.Status())) {
        return set::kInvalidProgress;
    }
    const VK_BYTE unit = r.Unit();
    if (In(kRPIStates.waiting, unit)) {
        return 0;
    }
    if (In(kRPIStates.running, unit)) {
        if (!VK_GetSenseConfigurationBuffer(cda, ld_number, r.Config())) {
            return set::kInvalidProgress;
        }
        return LiveRPIProgress(r);
    }
    if (!UsesParity(VK_GetLogicalDriveRAIDInfo(cda, ld_number)) || unit != kUnitOK) {
        return set::kInvalidProgress;
    }
    // A buffer of this call's own: two data areas on two threads never share it.
    TrackedBuffer surface = PN_TRACKED_ZEROED(kSurfaceStatusDefaultSize);
    if (!surface || !telmar::ReadInto(_VK_CDA(cda), BMIC_SENSE_SURFACE_STATUS, 0, 0, surface.get(), surface.size())) {
        return set::kInvalidProgress;
    }
    return set::LiveParityInitialization(ByteView(surface.get(), surface.size()), ld_number);
}
