// Physical drives in the staged configuration: the per-drive configuration facts that population
// copies, the staged drive list and its usage, and the self-encrypting-drive types of drives and
// live arrays.
#include <algorithm>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_cda_writeback.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_BYTE kSEDTypeNone = 1;
constexpr VK_BYTE kSEDTypeOPAL = 2;
constexpr VK_BYTE kSEDTypeEnterprise = 4;

} // namespace

void _VK_CopyPhysicalDriveConfigInformation(PhysicalDriveConfigInformation* destination,
                                            const PhysicalDriveConfigInformation* source) {
    destination->config_usage_info = source->config_usage_info;
    destination->physical_block_size_bytes = source->physical_block_size_bytes;
    destination->logical_block_size_bytes = source->logical_block_size_bytes;
    destination->total_size_blocks = source->total_size_blocks;
    destination->usable_size_blocks = source->usable_size_blocks;
}

VK_WORD _VK_GetEditablePhysicalDriveLimit(PCDA cda) {
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    // The controller may count more devices than the staged list and the drive maps hold.
    return std::min<VK_WORD>(_VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                             kMaxPhysicalDrivesSupported);
}

void _VK_PopulateEditablePhysicalDrives(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration) {
    _CDA* c = _VK_CDA(cda);
    for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
        if (pd >= kMaxPhysicalDrivesSupported) {
            break;
        }
        const VK_DWORD basic = VK_GetPhysicalDriveBasicInfo(cda, pd);
        if (!(basic & (kPhysicalDriveTypeSSD | kPhysicalDriveTypeHDD)) ||
            (VK_GetPhysicalDriveStatusInfo(cda, pd) & kPhysicalDriveStatusExcludeFromConfigurationBit)) {
            continue;
        }
        _VK_CopyPhysicalDriveConfigInformation(&editable_configuration->editable_pd_list[pd],
                                               &c->pd_record_list[pd].pd_config_information);
    }
}

VK_BYTE VK_GetEditablePhysicalDriveUsageInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || pd_number >= _VK_GetEditablePhysicalDriveLimit(cda)) {
        return 0;
    }
    return config->editable_pd_list[pd_number].config_usage_info;
}

VK_WORD VK_EnumerateEditablePhysicalDrives(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kInvalidPDNumber;
    }
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    for (size_t p = static_cast<VK_WORD>(pd_number + 1); p < limit; ++p) {
        if (config->editable_pd_list[p].usable_size_blocks != 0) {
            return static_cast<VK_WORD>(p);
        }
    }
    return kInvalidPDNumber;
}

VK_BYTE _VK_GetPhysicalDriveArraySEDType(VK_UINT64 pd_encryption_info) {
    if (!(pd_encryption_info & kPhysicalDriveEncryptionSEDDrive) ||
        (pd_encryption_info & kPhysicalDriveEncryptionSEDIsIncompatibleSED)) {
        return kSEDTypeNone;
    }
    if (pd_encryption_info & kPhysicalDriveEncryptionSEDIsEnterpriseSED) {
        return kSEDTypeEnterprise;
    }
    if (pd_encryption_info & kPhysicalDriveEncryptionSEDIsOPALSED) {
        return kSEDTypeOPAL;
    }
    return kSEDTypeNone;
}

VK_BYTE _VK_GetArrayCommonSEDType(PCDA cda, VK_WORD array_number) {
    VK_BYTE type = 0;
    for (VK_WORD pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, pd)) {
        type |= _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, pd));
    }
    return type;
}

// ---- Drive compatibility, SED rules and clearing a drive's configuration metadata ----

namespace {

constexpr VK_BYTE kCompatRecording = 0x01;
constexpr VK_BYTE kCompatMedia = 0x02;
constexpr VK_BYTE kCompatInterface = 0x04;
constexpr VK_BYTE kCompatBlockSize = 0x08;
constexpr VK_BYTE kCompatBootConnector = 0x10;

constexpr VK_QWORD kSEDEncryptionEnabled = 0x20;
constexpr VK_QWORD kSEDSecurityLocked = 0x400000;
constexpr VK_QWORD kSEDSecurityOwned = 0x800000;
static_assert(kSEDSecurityLocked ==
              static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusLocked) << kPhysicalDriveEncryptionSEDSecurityStatusShift);
static_assert(kSEDSecurityOwned ==
              static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusOwned) << kPhysicalDriveEncryptionSEDSecurityStatusShift);

constexpr VK_DWORD kDriveOwnedByAnotherParty = 0x400; // identify dwDriveFeatureFlags
constexpr VK_DWORD kControllerSupportsSEDBit = 0x1;
constexpr VK_DWORD kClearDriveMetadata = 2;           // CLEAR_CONTROLLER_CONFIG action bit

bool OnBootConnector(PCDA cda, VK_WORD pd_number) {
    return pd_number < kMaxPhysicalDrivesSupported && VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) &&
           (_VK_CDA(cda)->pd_record_list[pd_number].flags & kPDRecordBootConnector) != 0;
}

} // namespace

VK_BYTE __VK_PhysicalDriveCompat(PCDA cda, VK_WORD pd_number, VK_DWORD common_drive_type, VK_QWORD common_blocksize,
                                 VK_BOOL boot_connector) {
    const VK_DWORD info = VK_GetPhysicalDriveBasicInfo(cda, pd_number);
    VK_BYTE mask = 0xFF;
    if ((info & kPhysicalDriveRecordingMask) != (common_drive_type & kPhysicalDriveRecordingMask)) {
        mask &= static_cast<VK_BYTE>(~kCompatRecording);
    }
    if ((info & kPhysicalDriveMediaMask) != (common_drive_type & kPhysicalDriveMediaMask)) {
        mask &= static_cast<VK_BYTE>(~kCompatMedia);
    }
    if ((info & kPhysicalDriveInterfaceMask) != (common_drive_type & kPhysicalDriveInterfaceMask)) {
        mask &= static_cast<VK_BYTE>(~kCompatInterface);
    }
    if (VK_GetPhysicalDriveSize(cda, pd_number, kPhysicalDriveBlockSizeBytes) != common_blocksize) {
        mask &= static_cast<VK_BYTE>(~kCompatBlockSize);
    }
    if (OnBootConnector(cda, pd_number) != (boot_connector != kFalse)) {
        mask &= static_cast<VK_BYTE>(~kCompatBootConnector);
    }
    return mask;
}

VK_BYTE __VK_PhysicalDriveCompatibility(PCDA cda, VK_WORD pd_number1, VK_WORD pd_number2) {
    return __VK_PhysicalDriveCompat(cda, pd_number1, VK_GetPhysicalDriveBasicInfo(cda, pd_number2),
                                    VK_GetPhysicalDriveSize(cda, pd_number2, kPhysicalDriveBlockSizeBytes),
                                    OnBootConnector(cda, pd_number2) ? kTrue : kFalse);
}

VK_BYTE __VK_ArrayCheckSEDRules(PCDA cda, VK_BYTE array_common_sed_type, VK_QWORD ctrl_sed_encrypt_status,
                                VK_WORD pd_number) {
    if (!(ctrl_sed_encrypt_status & kSEDEncryptionEnabled)) {
        return 0;
    }
    const VK_UINT64 info = VK_GetPhysicalDriveEncryptionInfo(cda, pd_number);
    if ((info & kPhysicalDriveEncryptionSEDIsIncompatibleSED) ||
        _VK_GetPhysicalDriveArraySEDType(info) != array_common_sed_type) {
        return 1;
    }
    const bool foreign_owned = (info & kPhysicalDriveEncryptionSEDDrive) && (info & kPhysicalDriveEncryptionSEDIsForeign) &&
                               (info & kSEDSecurityOwned);
    if (foreign_owned || (info & (kPhysicalDriveEncryptionSEDIsLockedOut | kPhysicalDriveEncryptionSEDIsOtherwiseOwned)) ||
        (info & kSEDSecurityLocked)) {
        return 2;
    }
    return 0;
}

namespace {

VK_BYTE CanClearPhysicalDriveCCM(PCDA cda, VK_WORD pd_number) {
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kCanClearPhysicalDriveCCMControllerOFAActive;
    }
    if (!VK_RequestArrayConfigurationInformation(cda) || pd_number >= kMaxPhysicalDrivesSupported ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kCanClearPhysicalDriveCCMInvalidTarget;
    }
    if (!VK_ControllerSupportsClearConfigurationBMIC(cda)) {
        return kCanClearPhysicalDriveCCMNotSupported;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanClearPhysicalDriveCCMControllerLocked;
    }
    if ((VK_ControllerSupportsSED(cda) & kControllerSupportsSEDBit) &&
        (_VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.dwDriveFeatureFlags &
         kDriveOwnedByAnotherParty)) {
        return kCanClearPhysicalDriveCCMSEDIsOtherwiseOwned;
    }
    return (VK_GetPhysicalDriveStatusInfo(cda, pd_number) & kPhysicalDriveStatusMaskedWithInvalidCCM)
               ? kCanClearPhysicalDriveCCMAllowed
               : kCanClearPhysicalDriveCCMNoCCM;
}

} // namespace

VK_BYTE VK_CanClearPhysicalDriveCCM(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kCanClearPhysicalDriveCCMInvalidTarget;
    }
    CDALock guard(cda);
    return CanClearPhysicalDriveCCM(cda, pd_number);
}

VK_BOOL VK_ClearPhysicalDriveCCM(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (CanClearPhysicalDriveCCM(cda, pd_number) != kCanClearPhysicalDriveCCMAllowed) {
        return kFalse;
    }
    const VK_BOOL cleared = VK_ClearConfiguration(cda, kClearDriveMetadata, pd_number, kTrue);
    VK_ReInitializeCDA(cda);
    return cleared;
}

// ---- Staged arrays: compatibility, SED types and IO bypass ----

namespace {

constexpr size_t kArrayDriveCapacity = sizeof(EDITABLE_ARRAY::data_drives) / sizeof(VK_WORD);

// OR of the SED types of a staged list's drives, those `skip` answers true for left out.
template <typename Skip>
VK_BYTE ListSEDType(PCDA cda, const VK_WORD* list, VK_WORD count, Skip skip) {
    VK_BYTE type = 0;
    for (size_t i = 0; i < std::min<size_t>(count, kArrayDriveCapacity); ++i) {
        if (!skip(list[i])) {
            type |= _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, list[i]));
        }
    }
    return type;
}

VK_BYTE CanSetEditableArrayIOBypass(PCDA cda, VK_WORD editable_array_number, VK_BOOL toggle) {
    if (_VK_GetEditableConfiguration(cda) == nullptr) {
        return kCanSetEditableArrayIOBypassNoEditableConfigCreated;
    }
    // Numbers past the 64 slots are refused here rather than read past the list.
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return kCanSetEditableArrayIOBypassInvalidArray;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) {
        return kCanSetEditableArrayIOBypassControllerStatusNotOK;
    }
    const bool on = toggle != kFalse;
    if (((array->flags & kEditableArrIOBypass) != 0) == on) {
        return kCanSetEditableArrayIOBypassAlreadySet;
    }
    if (array->flags & kEditableArrLUCache) {
        return kCanSetEditableArrayIOBypassLUCachingArray;
    }
    if (!VK_ControllerSupportsIOBypass(cda)) {
        return kCanSetEditableArrayIOBypassNotSupported;
    }
    if (array->data_drive_count == 0) {
        return kCanSetEditableArrayIOBypassNoDataDrives;
    }
    if (on && !_VK_IsSSDArray(cda, array)) {
        return kCanSetEditableArrayIOBypassDriveTypeNotSSD;
    }
    if (array->flags & kEditableArrSplitMirror) {
        return kCanSetEditableArrayIOBypassNotDataArray;
    }
    for (size_t i = 0; i < std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives)); ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
        if (ld != nullptr && ld->lu_cache_ld_number != kInvalidLDNumber) {
            return kCanSetEditableArrayIOBypassLUCacheConfigured;
        }
    }
    if (!(array->flags & kEditableArrNew)) {
        const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, editable_array_number);
        if (status & kArrayStatusHasFailedLogicalDrive) {
            return kCanSetEditableArrayIOBypassHasFailedLogicalDrive;
        }
        if (status & (kArrayStatusHasTransformingLogicalDrive | kArrayStatusHasRekeyingLogicalDrive)) {
            return kCanSetEditableArrayIOBypassHasTransformingLogicalDrive;
        }
        if (status & kArrayStatusHasRecoveringLogicalDrive) {
            return kCanSetEditableArrayIOBypassHasRecoveringLogicalDrive;
        }
        if (status & kArrayStatusHasInitializingLogicalDrive) {
            return kCanSetEditableArrayIOBypassHasInitializingLogicalDrive;
        }
    }
    return kCanSetEditableArrayIOBypassOK;
}

} // namespace

namespace telmar {

CompatMismatch ReadCompatMask(VK_BYTE mask) {
    if (mask == 0xFF) {
        return CompatMismatch::kNone;
    }
    if (!(mask & kCompatBlockSize)) {
        return CompatMismatch::kBlockSize;
    }
    return (mask & kCompatBootConnector) ? CompatMismatch::kMixedDriveTypes : CompatMismatch::kConnectors;
}

} // namespace telmar

VK_BYTE __VK_EditableArrayPhysicalDriveCompatibility(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return 0;
    }
    if (array->data_drive_count == 0) {
        return 0xFF;
    }
    return __VK_PhysicalDriveCompat(cda, pd_number, array->common_drive_type, array->common_block_size,
                                    (array->flags & kEditableArrBootConnector) ? kTrue : kFalse);
}

VK_BYTE _VK_GetEditableArrayCommonSEDType(PCDA cda, VK_WORD editable_array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    const auto keep = [](VK_WORD) { return false; };
    return static_cast<VK_BYTE>(ListSEDType(cda, array->data_drives, array->data_drive_count, keep) |
                                ListSEDType(cda, array->spare_drives, array->spare_drive_count, keep));
}

VK_BYTE __VK_GetEditableArrayCommonSEDTypeAfterRemovingPD(PCDA cda, VK_WORD editable_array_number,
                                                          const VK_WORD* pd_list, size_t pd_list_size) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    return ListSEDType(cda, array->data_drives, array->data_drive_count, [&](VK_WORD pd) {
        return _VK_InDeviceList(pd_list, pd, pd_list_size) != static_cast<size_t>(-1);
    });
}

VK_BYTE __VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(PCDA cda, VK_WORD editable_array_number,
                                                          VK_WORD editable_array_pd_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return 0;
    }
    return ListSEDType(cda, array->data_drives, array->data_drive_count,
                       [&](VK_WORD pd) { return pd == editable_array_pd_number; });
}

int compare_ld_numbers_by_value(const void* a, const void* b) {
    return static_cast<int>(*static_cast<const VK_WORD*>(a)) - static_cast<int>(*static_cast<const VK_WORD*>(b));
}

VK_BOOL _VK_IsSSDArray(PCDA, PEDITABLE_ARRAY editable_array) {
    return editable_array != nullptr && (editable_array->common_drive_type & kPhysicalDriveTypeSSD) ? kTrue : kFalse;
}

VK_BYTE VK_CanSetEditableArrayIOBypass(PCDA cda, VK_WORD editable_array_number, VK_BOOL toggle) {
    if (cda == nullptr) {
        return kCanSetEditableArrayIOBypassNoEditableConfigCreated;
    }
    CDALock guard(cda);
    return CanSetEditableArrayIOBypass(cda, editable_array_number, toggle);
}

VK_BYTE VK_SetEditableArrayIOBypass(PCDA cda, VK_WORD editable_array_number, VK_BOOL toggle) {
    if (cda == nullptr) {
        return kSetEditableArrayIOBypassFailedUnknown;
    }
    CDALock guard(cda);
    const VK_BYTE can = CanSetEditableArrayIOBypass(cda, editable_array_number, toggle);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %d):%u\n", __FILE__, __LINE__, __func__, cda, editable_array_number,
                static_cast<int>(toggle), can);
    if (can != kCanSetEditableArrayIOBypassOK) {
        return kSetEditableArrayIOBypassFailedUnknown;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    const bool on = toggle != kFalse;
    for (size_t i = 0; i < std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives)); ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
        if (ld != nullptr) {
            ld->logical_drive_accelerator =
                static_cast<VK_BYTE>(on ? kLogicalDriveAcceleratorIOBypass : kLogicalDriveAcceleratorNone);
            ld->flags |= kEditableLDAcceleratorChanged;
        }
    }
    array->flags = static_cast<VK_WORD>(on ? array->flags | kEditableArrIOBypass : array->flags & ~kEditableArrIOBypass);
    _VK_GetEditableConfiguration(cda)->flags |= kEditableConfigCacheConfig;
    return kSetEditableArrayIOBypassOK;
}
