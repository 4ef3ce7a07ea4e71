// The array model: the controller reports logical drives, each naming its member drives; drives that
// share exactly the same members form an array. The build also gives each logical drive its role and
// accelerator, and each physical device its usage and presence bits.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_records.h"

using pavlin::ByteView;
using telmar::MapBit;

namespace {

constexpr VK_WORD kNoSibling = 0xFFFF;
// WriteRole clears a role with the mask: it must cover every role bit and the exists bit.
static_assert(kLDRecordRoleMask == (kLDRecordExists | kLDRecordRoleData | kLDRecordRoleLUCache |
                                    kLDRecordRoleSplitMirrorPrimary | kLDRecordRoleSplitMirrorBackup |
                                    kLDRecordRoleSplitMirrorOrphan));
constexpr size_t kCacheDisabledMapBytes = kMaxLogicalDrivesSupported / 8;

using DriveMap = VK_BYTE[kDriveBitmapSize];

void WriteRole(LogicalDriveRecord& record, VK_DWORD role) {
    record.flags = (record.flags & ~kLDRecordRoleMask) | kLDRecordExists | role;
}

// The array type a logical drive's role stands for.
VK_BYTE TypeOfRole(VK_DWORD flags) {
    if (flags & kLDRecordRoleLUCache) {
        return kLogicalDriveTypeCache;
    }
    if (flags & kLDRecordRoleSplitMirrorPrimary) {
        return kLogicalDriveTypeSplitMirrorSetPrimary;
    }
    if (flags & kLDRecordRoleSplitMirrorBackup) {
        return kLogicalDriveTypeSplitMirrorSetBackup;
    }
    if (flags & kLDRecordRoleSplitMirrorOrphan) {
        return kLogicalDriveTypeSplitMirrorSetBackupOrphan;
    }
    return kLogicalDriveTypeData;
}

// A map the controller placed somewhere, copied into a full-size record map; bits past `map_bytes`
// stay clear.
void TakeMap(const std::optional<ByteView>& map, size_t map_bytes, DriveMap& out) {
    std::memset(out, 0, sizeof(out));
    if (map) {
        map->copy_to(0, out, std::min({map->size(), map_bytes, sizeof(out)}));
    }
}

void OrInto(DriveMap& target, const VK_BYTE* source, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        target[i] |= source[i];
    }
}

// Whether logical drive `n` has its controller cache turned off by the cache configuration.
bool CacheDisabledFor(const CACHE_CONFIG_STATUS& cache, VK_WORD n) {
    const auto map = telmar::MapAt(ByteView(&cache, sizeof(cache)), cache.wOffsetToExtendedCacheDisabledMap,
                                   kCacheDisabledMapBytes);
    return map && MapBit(map->data(), map->size(), n);
}

class ModelBuild {
public:
    explicit ModelBuild(PCDA cda) : cda_(cda), c_(_VK_CDA(cda)), id_(c_->identify_controller_buffer) {}

    void Run() {
        const bool raid = VK_ControllerCurrentModeIsRAID(cda_) != kFalse;
        const bool hba = VK_ControllerCurrentModeIsHBA(cda_) != kFalse;
        const bool mixed = VK_ControllerCurrentModeIsMixed(cda_) != kFalse;
        VK_RequestIdentifyControllerBuffer(cda_);
        map_bytes_ = telmar::MapByteCount(id_.wMaximumPhysicalDevicesSupported);
        const ByteView identify(&id_, sizeof(id_));
        TakeMap(telmar::MapAt(identify, id_.wOffsetToExtendedDrivePresentMap, map_bytes_), map_bytes_, present_);
        TakeMap(telmar::MapAt(identify, id_.wOffsetToExtendedNonDiskMap, map_bytes_), map_bytes_, non_disk_);

        c_->data_ld_count = c_->cache_ld_count = 0;
        c_->total_array_count = c_->data_array_count = c_->cache_array_count = c_->offline_array_count = 0;
        c_->first_unused_ld_number = 0;
        c_->flags[kCDAFlagsModel] &= ~kCDAModelFirstUnusedLDFound;
        std::memset(c_->array_record_list, 0, c_->array_records_in_use * sizeof(ArrayRecord));
        c_->array_records_in_use = 0;

        if (raid || mixed) {
            const VK_WORD grouped = Group();
            if (grouped > 0 && VK_RequestSenseCacheConfigStatusBuffer(cda_)) {
                AssignRoles();
            }
            for (VK_WORD a = 0; a < c_->total_array_count; ++a) {
                FinishArray(c_->array_record_list[a]);
            }
        }
        AssignDeviceUsage(raid, hba, mixed);
    }

private:
    void FirstUnused(VK_DWORD n) {
        // The number names a record of the table, or nothing.
        if ((c_->flags[kCDAFlagsModel] & kCDAModelFirstUnusedLDFound) || n >= kMaxLogicalDrivesSupported) {
            return;
        }
        c_->first_unused_ld_number = static_cast<VK_WORD>(n);
        c_->flags[kCDAFlagsModel] |= kCDAModelFirstUnusedLDFound;
    }

    // Phase 1: each existing logical drive joins the array with its exact member set, or opens one.
    VK_WORD Group() {
        VK_WORD grouped = 0;
        VK_DWORD n = 0;
        for (; n < id_.wMaximumLogicalDevicesSupported && grouped < id_.wExtendedLogicalUnitCount; ++n) {
            const VK_WORD ld = static_cast<VK_WORD>(n);
            if (!VK_RequestSenseConfigurationBuffer(cda_, ld)) {
                continue;
            }
            LogicalDriveRecord& r = c_->ld_record_list[ld];
            if ((r.flags & kLDRecordExists) && VK_RequestSenseLogicalDriveStatusBuffer(cda_, ld)) {
                Join(ld, r);
                ++grouped;
            } else {
                FirstUnused(n);
            }
        }
        if (grouped > 0 && n < id_.wMaximumLogicalDevicesSupported) {
            FirstUnused(n);
        }
        return grouped;
    }

    void Join(VK_WORD ld, LogicalDriveRecord& r) {
        const LOGICAL_DRIVE_CONFIG& config = r.sense_config_buffer;
        const CDA_LOGICAL_DRIVE_STATUS& status = r.sense_logical_drive_status_buffer;
        DriveMap members, spares, original;
        TakeMap(telmar::ConfigMemberMap(config, map_bytes_), map_bytes_, members);
        TakeMap(telmar::ConfigSpareMap(config, map_bytes_), map_bytes_, spares);
        if (config.bLogicalDriveProperty & 0x04) {
            r.flags |= kLDRecordRoleLUCache;
            ++c_->cache_ld_count;
        } else {
            ++c_->data_ld_count;
            if (config.bLogicalDriveProperty & 0x02) {
                r.flags |= kLDRecordRoleSplitMirrorBackup;
            }
        }
        const bool transforming =
            (config.bConfigurationFlags & 0x02) && VK_RequestSenseOriginalConfigurationBuffer(cda_, ld);
        if (transforming) {
            TakeMap(telmar::ConfigMemberMap(r.sense_original_config_buffer, map_bytes_), map_bytes_, original);
        }
        const bool missing_supported = VK_ControllerSupportsMissingDrives(cda_) != kFalse;
        for (VK_WORD a = 0; a < c_->total_array_count; ++a) {
            ArrayRecord& array = c_->array_record_list[a];
            if (std::memcmp(array.data_drive_bitmap, members, map_bytes_) != 0) {
                continue;
            }
            // Logical drives stay ordered by their offset; an equal offset goes after.
            size_t pos = array.ld_count;
            while (pos > 0 && r.physical_drive_offset_block < array.ld_offset_array[pos - 1]) {
                array.ld_index_array[pos] = array.ld_index_array[pos - 1];
                array.ld_offset_array[pos] = array.ld_offset_array[pos - 1];
                array.ld_blocks_per_drive_array[pos] = array.ld_blocks_per_drive_array[pos - 1];
                --pos;
            }
            array.ld_index_array[pos] = ld;
            array.ld_offset_array[pos] = r.physical_drive_offset_block;
            array.ld_blocks_per_drive_array[pos] = r.physical_drive_blocks_per_drive;
            ++array.ld_count;
            if (missing_supported) {
                array.missing_drive_count = std::max<VK_WORD>(array.missing_drive_count, VK_WORD{status.wMissingDriveCount});
            }
            r.array_number = a;
            OrInto(array.spare_drive_bitmap, spares, map_bytes_);
            OrInto(array.failed_drive_bitmap, status.pbExtendedDriveFailureMap, map_bytes_);
            OrInto(array.active_spare_drive_bitmap, status.pbExtendedActiveSpareMap, map_bytes_);
            if (transforming) {
                for (size_t i = 0; i < map_bytes_; ++i) {
                    array.transient_drive_bitmap[i] |= original[i] & static_cast<VK_BYTE>(~array.data_drive_bitmap[i]);
                }
            }
            return;
        }
        const VK_WORD a = c_->total_array_count;
        _VK_RecordsInUse(c_->array_records_in_use, a + 1u);
        ArrayRecord& array = c_->array_record_list[a];
        array.logical_block_size_bytes = r.block_size_bytes;
        std::memcpy(array.data_drive_bitmap, members, map_bytes_);
        std::memcpy(array.spare_drive_bitmap, spares, map_bytes_);
        std::memcpy(array.active_spare_drive_bitmap, status.pbExtendedActiveSpareMap, map_bytes_);
        std::memcpy(array.failed_drive_bitmap, status.pbExtendedDriveFailureMap, map_bytes_);
        if (transforming) {
            for (size_t i = 0; i < map_bytes_; ++i) {
                array.transient_drive_bitmap[i] = original[i] & static_cast<VK_BYTE>(~members[i]);
            }
        }
        array.ld_count = 1;
        array.ld_index_array[0] = ld;
        array.ld_offset_array[0] = r.physical_drive_offset_block;
        array.ld_blocks_per_drive_array[0] = r.physical_drive_blocks_per_drive;
        if (missing_supported) {
            array.missing_drive_count = status.wMissingDriveCount;
        }
        r.array_number = a;
        ++c_->total_array_count;
    }

    // Phase 2: split-mirror roles and accelerators.
    void AssignRoles() {
        const CACHE_CONFIG_STATUS& cache = c_->sense_cache_config_status_buffer;
        VK_WORD seen = 0;
        for (VK_DWORD n = 0; n < id_.wMaximumLogicalDevicesSupported && seen < id_.wExtendedLogicalUnitCount &&
                             n < kMaxLogicalDrivesSupported;
             ++n) {
            const VK_WORD ld = static_cast<VK_WORD>(n);
            LogicalDriveRecord& r = c_->ld_record_list[ld];
            if (!(r.flags & kLDRecordExists)) {
                continue;
            }
            ++seen;
            const VK_DWORD before = r.flags;
            const LOGICAL_DRIVE_CONFIG& config = r.sense_config_buffer;
            const bool cache_enabled = cache.bDisableFlag == 0 && !CacheDisabledFor(cache, ld);
            if (!(r.flags & kLDRecordRoleLUCache)) {
                WriteRole(r, RoleOf(ld, r));
            }
            const bool lu_cache_active = (before & kLDRecordLUCacheBits) && VK_RequestLUCacheStatisticsBuffer(cda_, ld) &&
                                         !(r.lu_cache_stats_buffer.bCacheState & 0x10) && (config.bLUCacheBits & 0x02);
            VK_DWORD accelerator = kLDRecordAcceleratorNone;
            if (cache_enabled && !lu_cache_active) {
                accelerator = kLDRecordAcceleratorControllerCache;
            } else if (config.bMoreUnitFlags & 0x08) {
                accelerator = kLDRecordAcceleratorIOBypass;
            } else if (lu_cache_active) {
                accelerator = kLDRecordAcceleratorLUCache;
            }
            // The field is replaced, so a rebuild over kept record bits cannot mix two accelerators.
            r.flags = (r.flags & ~kLDRecordAcceleratorMask) | accelerator;
        }
    }

    VK_DWORD RoleOf(VK_WORD ld, const LogicalDriveRecord& r) {
        const LOGICAL_DRIVE_CONFIG& config = r.sense_config_buffer;
        if (config.dwOtherVolumeSignature == 0) {
            return kLDRecordRoleData;
        }
        const bool backup_candidate = (r.flags & kLDRecordRoleSplitMirrorBackup) != 0;
        const VK_WORD sibling = __VK_FindSplitMirrorSibling(cda_, config.signature, config.dwOtherVolumeSignature);
        if (sibling == kNoSibling || !VK_RequestSenseLogicalDriveStatusBuffer(cda_, sibling) ||
            !__VK_CheckSplitMirrorSiblingMatch(cda_, ld, sibling)) {
            return backup_candidate ? kLDRecordRoleSplitMirrorOrphan : kLDRecordRoleData;
        }
        const LogicalDriveRecord& s = c_->ld_record_list[sibling];
        const bool sibling_hidden = (s.sense_config_buffer.bBIOSDisableFlag & 0x02) != 0;
        const bool sibling_backed_up = s.sense_config_buffer.dwBackupTimestamp != 0;
        if (backup_candidate) {
            return !sibling_hidden && !sibling_backed_up && s.sense_logical_drive_status_buffer.bUnitStatus != 1
                       ? kLDRecordRoleSplitMirrorBackup
                       : kLDRecordRoleSplitMirrorOrphan;
        }
        return sibling_hidden && sibling_backed_up ? kLDRecordRoleSplitMirrorPrimary : kLDRecordRoleData;
    }

    // Phase 3: alignment, type, split-mirror acceptance and the usage of the array's drives.
    void FinishArray(ArrayRecord& array) {
        VK_QWORD block = array.logical_block_size_bytes;
        for (size_t p = 0; p < map_bytes_ * 8; ++p) {
            if (!MapBit(array.data_drive_bitmap, sizeof(array.data_drive_bitmap), p) ||
                !VK_RequestIdentifyPhysicalDriveBuffer(cda_, static_cast<VK_WORD>(p))) {
                continue;
            }
            const PhysicalDriveRecord& pd = c_->pd_record_list[p];
            const VK_QWORD physical = pd.pd_config_information.physical_block_size_bytes;
            // Past 32 bits no alignment can be kept anyway; stop before the multiple wraps.
            if (physical != 0 && physical != block && block <= 0xFFFFFFFF) {
                block = VK_lcm(block, physical);
            }
            if (pd.flags & kPDRecordBootConnector) {
                array.flags |= kArrayRecordBootConnector;
            }
        }
        if (block == 0) {
            block = 512;
        }
        // A zero logical block size gives no alignment to divide by: such an array aligns to one block.
        const VK_QWORD alignment = array.logical_block_size_bytes != 0 ? block / array.logical_block_size_bytes : 1;
        array.alignment_size_blocks = static_cast<VK_DWORD>(std::min<VK_QWORD>(alignment, 0xFFFFFFFF));

        VK_BYTE type = 0;
        bool primary_seen = false;
        bool all_io_bypass = true;
        for (VK_WORD k = 0; k < array.ld_count; ++k) {
            const LogicalDriveRecord& r = c_->ld_record_list[array.ld_index_array[k]];
            const VK_BYTE role_type = TypeOfRole(r.flags);
            if (k == 0) {
                type = role_type;
                primary_seen = role_type == kLogicalDriveTypeSplitMirrorSetPrimary;
            } else if (role_type == kLogicalDriveTypeSplitMirrorSetBackupOrphan) {
                type = kLogicalDriveTypeSplitMirrorSetBackupOrphan;
            } else if (role_type == kLogicalDriveTypeSplitMirrorSetBackup) {
                if (type != kLogicalDriveTypeSplitMirrorSetBackup && type != kLogicalDriveTypeSplitMirrorSetBackupOrphan) {
                    type = kLogicalDriveTypeSplitMirrorSetBackup;
                }
            } else if (role_type == kLogicalDriveTypeSplitMirrorSetPrimary &&
                       (type == kLogicalDriveTypeData || type == kLogicalDriveTypeCache)) {
                type = kLogicalDriveTypeData;
                primary_seen = true;
            }
            if ((r.flags & kLDRecordAcceleratorMask) != kLDRecordAcceleratorIOBypass) {
                all_io_bypass = false;
            }
        }
        const bool shareable_spares =
            array.ld_count == 0 ||
            !(c_->ld_record_list[array.ld_index_array[array.ld_count - 1]].sense_config_buffer.bMoreUnitFlags & 0x01);

        if ((primary_seen && type == kLogicalDriveTypeData) || type == kLogicalDriveTypeSplitMirrorSetPrimary ||
            type == kLogicalDriveTypeSplitMirrorSetBackup) {
            bool accepted = type == kLogicalDriveTypeSplitMirrorSetPrimary || type == kLogicalDriveTypeSplitMirrorSetBackup;
            if (accepted) {
                const LOGICAL_DRIVE_CONFIG& first = c_->ld_record_list[array.ld_index_array[0]].sense_config_buffer;
                const VK_WORD sibling = __VK_FindSplitMirrorSibling(cda_, first.signature, first.dwOtherVolumeSignature);
                if (sibling != kNoSibling) {
                    const VK_WORD sibling_array = c_->ld_record_list[sibling].array_number;
                    accepted = sibling_array < c_->total_array_count &&
                               c_->array_record_list[sibling_array].ld_count == array.ld_count;
                }
            }
            if (!accepted) {
                const bool backup = type == kLogicalDriveTypeSplitMirrorSetBackup;
                type = backup ? kLogicalDriveTypeSplitMirrorSetBackupOrphan : kLogicalDriveTypeData;
                for (VK_WORD k = 0; k < array.ld_count; ++k) {
                    WriteRole(c_->ld_record_list[array.ld_index_array[k]],
                              backup ? kLDRecordRoleSplitMirrorOrphan : kLDRecordRoleData);
                }
            }
        }
        array.flags |= type & kArrayRecordTypeMask;
        if (type == kLogicalDriveTypeCache) {
            ++c_->cache_array_count;
        } else if (type == kLogicalDriveTypeSplitMirrorSetBackup || type == kLogicalDriveTypeSplitMirrorSetBackupOrphan) {
            ++c_->offline_array_count;
        } else {
            ++c_->data_array_count;
        }

        for (size_t p = 0; p < map_bytes_ * 8; ++p) {
            auto bit = [&](const DriveMap& map) { return MapBit(map, sizeof(map), p); };
            const bool spare = bit(array.spare_drive_bitmap);
            if (!spare && !bit(array.data_drive_bitmap) && !bit(array.failed_drive_bitmap) &&
                !bit(array.transient_drive_bitmap)) {
                continue;
            }
            PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c_, static_cast<VK_WORD>(p));
            VK_BYTE& usage = pd.pd_config_information.config_usage_info;
            if ((bit(array.data_drive_bitmap) || bit(array.failed_drive_bitmap)) && !spare) {
                usage = type == kLogicalDriveTypeCache ? kPhysicalDriveUsageLUCacheData : kPhysicalDriveUsageData;
                pd.flags |= kPDRecordUsageAssigned;
            } else if (spare) {
                if (VK_RequestIdentifyPhysicalDriveBuffer(cda_, static_cast<VK_WORD>(p))) {
                    if (!shareable_spares) {
                        usage = kPhysicalDriveUsageAutoReplaceStandbySpare;
                    } else if (bit(array.active_spare_drive_bitmap)) {
                        usage = kPhysicalDriveUsageShareableActiveSpare;
                    } else if (usage != kPhysicalDriveUsageShareableActiveSpare) {
                        usage = kPhysicalDriveUsageShareableStandbySpare;
                    }
                    pd.flags |= kPDRecordUsageAssigned;
                }
            } else if (bit(array.transient_drive_bitmap) &&
                       VK_RequestIdentifyPhysicalDriveBuffer(cda_, static_cast<VK_WORD>(p))) {
                usage = kPhysicalDriveUsageTransientData;
                pd.flags |= kPDRecordUsageAssigned;
            }
        }
        array.flags |= all_io_bypass ? kArrayRecordIOBypass : kArrayRecordIndependentAcceleration;
    }

    // Phase 4: presence and usage of every physical device.
    void AssignDeviceUsage(bool raid, bool hba, bool mixed) {
        const size_t devices = std::min<size_t>(id_.wMaximumPhysicalDevicesSupported, kMaxPhysicalDrivesSupported);
        for (size_t p = 0; p < devices; ++p) {
            const VK_WORD pd_number = static_cast<VK_WORD>(p);
            const bool present = MapBit(present_, sizeof(present_), p);
            const bool installed = __VK_DriveIsInstalled(cda_, pd_number, present ? kTrue : kFalse) != kFalse;
            const bool non_disk = !present && !installed && MapBit(non_disk_, sizeof(non_disk_), p);
            if (!present && !installed && !non_disk) {
                continue;
            }
            PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c_, pd_number);
            VK_BYTE& usage = pd.pd_config_information.config_usage_info;
            if (present || installed) {
                pd.flags |= kPDRecordDrive | (present ? kPDRecordPresent : 0) | (installed ? kPDRecordInstalled : 0);
                if (!VK_RequestIdentifyPhysicalDriveBuffer(cda_, pd_number)) {
                    continue;
                }
                if (!(pd.flags & kPDRecordUsageAssigned) && !_VK_IsPhysicalDriveSupportedForConfig(cda_, pd_number)) {
                    usage = kPhysicalDriveUsageUnconfigurable;
                    pd.flags |= kPDRecordUsageAssigned;
                }
                if (pd.flags & kPDRecordUsageAssigned) {
                    continue;
                }
                const VK_BYTE connector_mode = pd.identify_physical_drive_buffer.bConnectorMode;
                const bool raid_side = raid || (mixed && connector_mode == kConnectorModeRAID);
                const bool mixed_connector = mixed && connector_mode == kConnectorModeMixed;
                const bool hba_side = hba || (mixed && connector_mode == kConnectorModeHBA);
                if (raid_side || mixed_connector) {
                    usage = PendingHBA(pd_number, mixed) ? kPhysicalDriveUsageTransientUnassigned
                                                         : kPhysicalDriveUsageUnassigned;
                    pd.flags |= kPDRecordUsageAssigned;
                } else if (hba_side) {
                    usage = kPhysicalDriveUsageHBA;
                    pd.flags |= kPDRecordUsageAssigned;
                }
            } else {
                pd.flags |= kPDRecordNonDisk;
                if (VK_RequestIdentifyPhysicalDriveBuffer(cda_, pd_number) && pd.identify_physical_drive_buffer.dwRPM != 0 &&
                    pd.identify_physical_drive_buffer.wBlockSize != 0) {
                    pd.flags |= kPDRecordPresent;
                    if (!(pd.flags & kPDRecordUsageAssigned)) {
                        usage = kPhysicalDriveUsageHBA;
                        pd.flags |= kPDRecordUsageAssigned;
                    }
                }
            }
        }
    }

    bool PendingHBA(VK_WORD pd_number, bool mixed) {
        if (VK_ControllerPendingModeIsHBA(cda_)) {
            return true;
        }
        if (!mixed) {
            return false;
        }
        CONTROLLER_CONNECTOR_INFO connector;
        const VK_WORD index = VK_GetConnectorIndexOfPhysicalDrive(cda_, pd_number);
        return index != kInvalidConnectorIndex && VK_GetControllerConnectorInfo(cda_, index, &connector) &&
               connector.pending_connector_mode == kConnectorModeHBA;
    }

    PCDA cda_;
    _CDA* c_;
    const IDENTIFY_CONTROLLER& id_;
    size_t map_bytes_ = 0;
    DriveMap present_ = {};
    DriveMap non_disk_ = {};
};

} // namespace

VK_BOOL VK_RequestArrayConfigurationInformation(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!(c->flags[kCDAFlagsModel] & kCDAModelArraysBuilt)) {
        ModelBuild(cda).Run();
        c->flags[kCDAFlagsModel] |= kCDAModelArraysBuilt;
    }
    return kTrue;
}

VK_WORD __VK_FindSplitMirrorSibling(PCDA cda, VK_DWORD ld_signature, VK_DWORD sibling_signature) {
    if (cda == nullptr || !VK_RequestIdentifyControllerBuffer(cda)) {
        return kNoSibling;
    }
    _CDA* c = _VK_CDA(cda);
    const IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
    VK_WORD seen = 0;
    for (VK_DWORD n = 0; n < id.wMaximumLogicalDevicesSupported && seen < id.wExtendedLogicalUnitCount &&
                         n < kMaxLogicalDrivesSupported;
         ++n) {
        const VK_WORD ld = static_cast<VK_WORD>(n);
        const LogicalDriveRecord& r = c->ld_record_list[ld];
        if (!VK_RequestSenseConfigurationBuffer(cda, ld) || !(r.flags & kLDRecordExists)) {
            continue;
        }
        ++seen;
        if (r.sense_config_buffer.signature == sibling_signature &&
            r.sense_config_buffer.dwOtherVolumeSignature == ld_signature) {
            return ld;
        }
    }
    return kNoSibling;
}

VK_BOOL __VK_CheckSplitMirrorSiblingMatch(PCDA cda, VK_WORD left_ld_number, VK_WORD right_ld_number) {
    if (cda == nullptr || left_ld_number >= kMaxLogicalDrivesSupported || right_ld_number >= kMaxLogicalDrivesSupported) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestSenseConfigurationBuffer(cda, left_ld_number) ||
        !VK_RequestSenseConfigurationBuffer(cda, right_ld_number)) {
        return kFalse;
    }
    const LogicalDriveRecord& left = c->ld_record_list[left_ld_number];
    const LogicalDriveRecord& right = c->ld_record_list[right_ld_number];
    const LOGICAL_DRIVE_CONFIG& lc = left.sense_config_buffer;
    const LOGICAL_DRIVE_CONFIG& rc = right.sense_config_buffer;
    const bool n_way = VK_ControllerSupportsNWayRAID(cda) != kFalse;
    const VK_WORD lm = lc.wFaultToleranceMode;
    const VK_WORD rm = rc.wFaultToleranceMode;
    if (!((lm == 0 && rm == 0) || (n_way && ((lm == 0 && rm == 2) || (lm == 2 && rm == 0))))) {
        return kFalse;
    }
    auto side_size = [n_way](const LogicalDriveRecord& r, VK_QWORD* size) {
        if (__builtin_mul_overflow(r.physical_drive_blocks_per_drive, r.sense_config_buffer.wAssignedDrives, size)) {
            return false;
        }
        if (n_way && r.sense_config_buffer.wFaultToleranceMode == 2) {
            *size /= 2;
        }
        return true;
    };
    VK_QWORD left_size = 0, right_size = 0;
    if (!side_size(left, &left_size) || !side_size(right, &right_size) || left_size != right_size ||
        lc.wDistribution != rc.wDistribution ||
        lc.logicalDriveParamTable.bSectorsPerTrack != rc.logicalDriveParamTable.bSectorsPerTrack ||
        left.physical_drive_offset_block != right.physical_drive_offset_block) {
        return kFalse;
    }
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return kFalse;
    }
    const CACHE_CONFIG_STATUS& cache = c->sense_cache_config_status_buffer;
    if (cache.bDisableFlag == 0 &&
        CacheDisabledFor(cache, left_ld_number) != CacheDisabledFor(cache, right_ld_number)) {
        return kFalse;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionEnabled) {
        const VK_DWORD e = _VK_GetLogicalDriveEncryptionInfo(cda, left_ld_number);
        const VK_DWORD f = _VK_GetLogicalDriveEncryptionInfo(cda, right_ld_number);
        const bool e_on = (e & kLogicalDriveEncryptionEnabled) != 0;
        const bool f_on = (f & kLogicalDriveEncryptionEnabled) != 0;
        if (e_on != f_on) {
            return kFalse;
        }
        if (e_on) {
            auto volatile_key = [](VK_DWORD w) {
                return ((w & kLogicalDriveEncryptionVolatileKeyMask) >> kLogicalDriveEncryptionVolatileKeyShift) == 1;
            };
            if ((e & 0xFF) != (f & 0xFF) || volatile_key(e) != volatile_key(f)) {
                return kFalse;
            }
        }
    }
    return kTrue;
}

VK_BOOL __VK_DriveIsInstalled(PCDA cda, VK_WORD pd_number, VK_BOOL drive_present) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    // The enclosures the enumerator would visit, read in place: the array model asks this of every
    // device number.
    if (VK_RequestStorageEnclosureInfo(cda)) {
        const size_t in_use = std::min<size_t>(c->se_records_in_use, kMaxStorageEnclosuresSupported);
        for (const StorageEnclosureRecord& se : std::span(c->se_record_list).first(in_use)) {
            if (!(se.flags & 0x1)) {
                continue;
            }
            size_t bits = 0;
            const ByteView map = telmar::EnclosureInstalledMap(se.sense_bus_parameters_buffer, &bits);
            if (pd_number < bits && MapBit(map.data(), map.size(), pd_number)) {
                return kTrue;
            }
        }
    }
    if (drive_present && VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) &&
        c->pd_record_list[pd_number].identify_physical_drive_buffer.bPhysicalBox == 0) {
        return kTrue;
    }
    return kFalse;
}

VK_QWORD _VK_GetNextLogicalDriveAlignedOffset(PCDA, VK_QWORD alignment_size_blocks, VK_QWORD current_offset) {
    if (alignment_size_blocks == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'alignment_size_blocks > 0' failed: Zero alignment size\n", __func__,
                    __LINE__);
        return current_offset;
    }
    const VK_QWORD remainder = current_offset % alignment_size_blocks;
    if (remainder == 0) {
        return current_offset;
    }
    VK_QWORD aligned = 0;
    // No multiple lies above an offset this close to the end of the block range.
    if (__builtin_add_overflow(current_offset, alignment_size_blocks - remainder, &aligned)) {
        return current_offset;
    }
    return aligned;
}

VK_QWORD VK_GetNextLogicalDriveAlignedOffset(PCDA cda, VK_WORD editable_array_number, VK_QWORD current_offset) {
    if (cda == nullptr || editable_array_number >= kMaxArraysSupported) {
        return current_offset;
    }
    CDALock guard(cda);
    VK_RequestArrayConfigurationInformation(cda);
    return _VK_GetNextLogicalDriveAlignedOffset(
        cda, _VK_CDA(cda)->array_record_list[editable_array_number].alignment_size_blocks, current_offset);
}
