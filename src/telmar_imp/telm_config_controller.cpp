// The editable configuration as a whole: whether one may be created, its creation and population
// from the live configuration (drives, arrays, logical drives, controller settings, encryption and
// boot volumes), the checksum the commit compares, and the last commit's error bits.
#include <cstddef>
#include <cstring>

#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "ptelm_utils.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_QWORD kSEDWaitingOnAdapterPassword =
    static_cast<VK_QWORD>(kControllerSEDEncryptionStatusWaitingOnAdapterPassword) << kControllerSEDEncryptionStatusShift;
static_assert(kSEDWaitingOnAdapterPassword == 0x40);

constexpr VK_DWORD kEncryptionEnteredFlags = kEditableConfigCryptoOfficerPasswordKnown | kEditableConfigMasterKeyKnown;
static_assert(kEncryptionEnteredFlags == 0x180000);

// Staged boot-password states.
constexpr VK_BYTE kBootPasswordUnset = 0;
constexpr VK_BYTE kBootPasswordDisabled = 1;
constexpr VK_BYTE kBootPasswordEnabled = 2;

// Frees the array and logical-drive records population attached, so that a failed population
// leaves the record holding none.
void ReleaseRecords(PEDITABLE_CONFIGURATION config) {
    for (PEDITABLE_LOGICAL_DRIVE& ld : config->editable_ld_list) {
        if (ld != nullptr) {
            VK_free(ld);
            ld = nullptr;
        }
    }
    for (PEDITABLE_ARRAY& array : config->editable_array_list) {
        if (array != nullptr) {
            VK_free(array);
            array = nullptr;
        }
    }
    config->editable_array_count = 0;
    config->editable_ld_count = 0;
}

bool AnyDriveOnMismatchedConnector(PCDA cda) {
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
        if (pd < kMaxPhysicalDrivesSupported && (c->pd_record_list[pd].flags & kPDRecordConnectorModeMismatch)) {
            return true;
        }
    }
    return false;
}

void FillSettings(PCDA cda, PEDITABLE_CONFIGURATION config) {
    config->controller_survival_mode = VK_GetControllerSurvivalPowerMode(cda);
    config->controller_rebuild_priority = VK_GetControllerRebuildPriority(cda);
    config->controller_transformation_priority = VK_GetControllerExpandPriority(cda);
    config->controller_write_cache_bypass_threshold = VK_GetControllerWCBT(cda);
    config->controller_notify_on_any_broadcast = VK_GetControllerNotifyOnAnyBroadcast(cda);
    if (!VK_ControllerSupportsDriveWriteCacheForAllDrives(cda)) {
        config->controller_drive_write_cache_policy[0] = VK_GetControllerDriveWriteCache(cda);
    } else if (VK_RequestSenseControllerParametersBuffer(cda)) {
        static_assert(sizeof(config->controller_drive_write_cache_policy) ==
                      sizeof(CONTROLLER_PARAMETERS::pbDriveWriteCachePolicy));
        std::memcpy(config->controller_drive_write_cache_policy,
                    _VK_CDA(cda)->sense_controller_parameters_buffer.pbDriveWriteCachePolicy,
                    sizeof(config->controller_drive_write_cache_policy));
    }
    config->controller_spare_activation_mode = VK_GetControllerSAM(cda);
    config->controller_surface_scan_priority = VK_GetControllerSSAPriority(cda);
    config->controller_parallel_surface_scan_count = VK_GetControllerPSSCount(cda);
}

void FillBootVolume(PCDA cda, VK_BYTE precedence, EDITABLE_BOOT_VOLUME& volume) {
    volume.type = kBootableVolumeDriveTypeLogical;
    volume.dev_number = 0xFFFF;
    for (VK_BYTE type : {kBootableVolumeDriveTypeLogical, kBootableVolumeDriveTypePhysical,
                         kBootableVolumeDriveTypeRemote}) {
        const VK_WORD number = VK_GetControllerBootVolumeNumber(cda, precedence, type);
        if (number != 0xFFFF) {
            volume.type = type;
            volume.dev_number = number;
            return;
        }
    }
}

void FillMoreSettings(PCDA cda, PEDITABLE_CONFIGURATION config) {
    config->controller_parity_RAID_DPO = VK_GetControllerDPO(cda);
    config->controller_RAID6x_IRP = VK_GetControllerIRP(cda);
    config->inconsistency_event_notification = VK_GetControllerInconsistencyEventNotification(cda);
    config->controller_pd_elevator_sort = VK_GetControllerElevatorSort(cda);
    config->controller_max_drive_request_queue_depth = VK_GetControllerQueueDepth(cda);
    config->controller_fls_setting = VK_GetControllerFLS(cda);
    config->controller_mnp_analysis_delay = VK_GetControllerMNPDelay(cda);
    config->controller_nbwc = VK_GetControllerNBWC(cda);
    config->controller_wait_for_cache_room = VK_GetControllerWaitForCacheRoom(cda);
    config->controller_read_cache_percent = VK_GetControllerReadCachePercent(cda);
}

} // namespace

PEDITABLE_CONFIGURATION _VK_GetEditableConfiguration(PCDA cda) {
    return cda != nullptr ? _VK_CDA(cda)->editable_configuration : nullptr;
}

VK_BYTE VK_GetControllerEncryption(PCDA cda) {
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (status & kControllerEncryptionExpressModeOn) {
        return kControllerEncryptionExpressLocal;
    }
    if (status & kControllerEncryptionLocalMode) {
        return kControllerEncryptionLocal;
    }
    if (status & kControllerEncryptionCryptoOfficerPasswordSet) {
        return kControllerEncryptionRemote;
    }
    return kControllerEncryptionNone;
}

VK_UINT64 VK_GetEditableConfigurationCommitErrors(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    return _VK_CDA(cda)->editable_configuration_commit_errors;
}

VK_BYTE VK_CanCreateEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return kCanCreateEditableConfigControllerStatusNotOK;
    }
    CDALock guard(cda);
    if (_VK_GetEditableConfiguration(cda) != nullptr) {
        return kCanCreateEditableConfigEditableConfigExists;
    }
    if (VK_ControllerCurrentModeIsMixed(cda) && AnyDriveOnMismatchedConnector(cda)) {
        return kCanCreateEditableConfigInconsistentPortSettings;
    }
    const VK_DWORD status = VK_GetControllerStatusInfo(cda);
    if ((status & kControllerStatusMask) != kControllerStatusOK ||
        ((status & kControllerConfigStatusMask) >> kControllerConfigStatusShift) != kControllerConfigStatusOK ||
        (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionSelfTestFailed)) {
        return kCanCreateEditableConfigControllerStatusNotOK;
    }
    if (VK_GetControllerSEDEncryptionStatus(cda) & kSEDWaitingOnAdapterPassword) {
        return kCanCreateEditableConfigWaitingOnAdapterPassword;
    }
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kCanCreateEditableConfigControllerOFAActive;
    }
    return kCanCreateEditableConfigOK;
}

VK_BYTE VK_CreateEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return kCreateEditableConfigFailedUnknown;
    }
    CDALock guard(cda);
    const VK_BYTE can = VK_CanCreateEditableConfiguration(cda);
    PN_DebugLog(3, 0, "%s:%d: %s(%p):%u\n", __FILE__, __LINE__, __func__, cda, can);
    if (can != kCanCreateEditableConfigOK) {
        return kCreateEditableConfigFailedUnknown;
    }
    pavlin::TrackedPtr<EDITABLE_CONFIGURATION> config(
        static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION))));
    if (!config) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'editable_configuration != ((void *)0)' failed: Failed to allocate editable "
                    "config\n",
                    __func__, __LINE__);
        return kCreateEditableConfigFailedUnknown;
    }
    if (!_VK_PopulateEditableConfiguration(cda, config.get())) {
        // Population already released what it had attached.
        return kCreateEditableConfigFailedUnknown;
    }
    _CDA* c = _VK_CDA(cda);
    c->editable_configuration = config.release();
    c->editable_configuration_commit_errors = 0;
    VK_DebugLogEditableConfiguration(cda, 3);
    return kCreateEditableConfigOK;
}

VK_BOOL _VK_PopulateEditableConfiguration(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration) {
    const VK_WORD array_count = VK_GetControllerTotalArrayCount(cda);
    std::memset(editable_configuration, 0, sizeof(EDITABLE_CONFIGURATION));
    VK_ReInitializeCDA(cda);
    VK_RequestArrayConfigurationInformation(cda);
    return _VK_PopulateEditableConfigurationFromModel(cda, editable_configuration, array_count);
}

VK_BOOL _VK_PopulateEditableConfigurationFromModel(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                                  VK_WORD array_count) {
    _VK_PopulateEditablePhysicalDrives(cda, editable_configuration);

    if (array_count > kMaxArraysSupported) {
        PN_DebugLog(1, 0, "%s:%d: %u arrays reported; a staged configuration holds %u\n", __FILE__, __LINE__,
                    array_count, kMaxArraysSupported);
        array_count = kMaxArraysSupported;
    }
    for (VK_WORD a = 0; a < array_count; ++a) {
        pavlin::TrackedPtr<EDITABLE_ARRAY> array(static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY))));
        if (!array) {
            // The array's logical drives would name an array that is not there: stage nothing.
            PN_DebugLog(1, 0, "%s:%d: Assertion 'editable_array != ((void *)0)' failed: Failed to allocate array %u\n",
                        __func__, __LINE__, a);
            ReleaseRecords(editable_configuration);
            return kFalse;
        }
        std::memset(array.get(), 0, sizeof(EDITABLE_ARRAY));
        array->editable_array_number = a;
        editable_configuration->editable_array_list[a] = array.release();
        ++editable_configuration->editable_array_count;
        _VK_PopulateEditableArray(cda, editable_configuration, editable_configuration->editable_array_list[a]);
    }

    FillSettings(cda, editable_configuration);
    _VK_PopulateEncryptionSettings(cda, editable_configuration);
    editable_configuration->controller_sanitize_lock =
        static_cast<VK_BYTE>((VK_GetControllerSanitizeLock(cda) >> 4) & 0x0F);
    editable_configuration->encryption = VK_GetControllerEncryption(cda);
    editable_configuration->controller_sed_encryption_status = VK_GetControllerSEDEncryptionStatus(cda);
    FillBootVolume(cda, kBootableVolumePrecedencePrimary, editable_configuration->controller_primary_boot_volume);
    FillBootVolume(cda, kBootableVolumePrecedenceSecondary, editable_configuration->controller_secondary_boot_volume);
    FillMoreSettings(cda, editable_configuration);
    editable_configuration->crc = _VK_GetEditableConfigurationChecksum(editable_configuration);
    return kTrue;
}

void _VK_PopulateEncryptionSettings(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration) {
    editable_configuration->encryption = VK_GetControllerEncryption(cda);
    if (editable_configuration->encryption == kControllerEncryptionNone) {
        return;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    editable_configuration->flags |= kEncryptionEnteredFlags;
    if (status & kControllerEncryptionMixedVolumesEnabled) {
        editable_configuration->flags |= kEditableConfigPlaintextAllowed;
    }
    if (status & kControllerEncryptionFwLocked) {
        editable_configuration->flags |= kEditableConfigFirmwareLocked;
    }
    if (status & kControllerEncryptionEnabled) {
        editable_configuration->flags |= kEditableConfigEncryptionEnabled;
    }
    if (!(status & kControllerEncryptionBootPasswordSet)) {
        editable_configuration->encryption_boot_password_state = kBootPasswordUnset;
    } else if (status & kControllerEncryptionBootPasswordSuspended) {
        editable_configuration->encryption_boot_password_state = kBootPasswordDisabled;
    } else {
        editable_configuration->encryption_boot_password_state = kBootPasswordEnabled;
    }
    VK_GetEncryptionRecoveryQuestion(cda, editable_configuration->encryption_question,
                                     sizeof(editable_configuration->encryption_question));
    editable_configuration->encryption_key_cache_state = VK_GetControllerEncryptionKeyCacheStatus(cda);
}

VK_DWORD _VK_GetEditableConfigurationChecksum(const EDITABLE_CONFIGURATION* editable_configuration) {
    VK_DWORD crc = VK_crc32(editable_configuration, offsetof(EDITABLE_CONFIGURATION, crc));
    for (const PEDITABLE_ARRAY array : editable_configuration->editable_array_list) {
        crc ^= array != nullptr ? VK_crc32(array, sizeof(EDITABLE_ARRAY)) : 0;
    }
    for (const PEDITABLE_LOGICAL_DRIVE ld : editable_configuration->editable_ld_list) {
        crc ^= ld != nullptr ? VK_crc32(ld, sizeof(EDITABLE_LOGICAL_DRIVE)) : 0;
    }
    return crc;
}
