// Controller-level configuration.
//
// The editable configuration as a whole: whether one may be created, its creation and population
// from the live configuration (drives, arrays, logical drives, controller settings, encryption and
// boot volumes), the checksum the commit compares, and the last commit's error bits.
//
// Direct controller operations: settings the controller takes at once rather than through a staged
// configuration (its clock, I2C address, OOB interface, boot volumes, operating mode and power mode),
// and the six settings that rewrite one field of the controller parameters. Each has a permission
// function answering a reason code and an action that asks it again under the lock and acts only on
// its allowed code.
#include <cstddef>
#include <cstring>
#include <ctime>
#include <optional>

#include "pavl_bytes.h"
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
#include "telm_cda_internal.h"
#include "telm_cda_writeback.h"
#include "telm_config_internal.h"
#include "telm_drive_decode.h"
#include "telm_private.h"

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

// ---- Direct controller operations and single-field parameter updates ----------------------------

namespace {

constexpr VK_QWORD kNoControllerTime = ~VK_QWORD{0};
constexpr VK_BYTE kTimeHead[6] = {0x3C, 0x48, 0x57, 0x3E, 0x54, 0x44};
constexpr VK_BYTE kTimeTail[4] = {0x44, 0x57, 0x5A, 0x5A};
constexpr VK_BYTE kTimeFormat = 0x08;

constexpr VK_DWORD kPowerModeFunctionSet = 0;
constexpr VK_DWORD kBootVolumeSupport = 0x10000000;         // IDENTIFY dwYetMoreControllerFlags
constexpr VK_QWORD kModeChangeEncryptionBit = kControllerEncryptionCryptoOfficerPasswordSet;
constexpr VK_BYTE kNVRAMModeBits = 0x0C;                    // bNVRAMFlags: pending HBA (0x08), mixed (0x04)
constexpr VK_BYTE kNVRAMVeskHBA = 0x08;
constexpr VK_DWORD kEventLogKeepNewest = 0x10000;           // dwMoreNVRAMFlags
constexpr VK_WORD kNoDevice = 0xFFFF;
constexpr VK_WORD kVolumeIdSize = 16;
constexpr size_t kIdentifyLDPage83 = 102;

constexpr char kExcludedOOBVendor[] = "DLX";

bool OFARunning(PCDA cda) {
    return _VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse) != kFalse;
}

bool BootVolumesSupported(PCDA cda) {
    return VK_RequestIdentifyControllerBuffer(cda) &&
           (_VK_CDA(cda)->identify_controller_buffer.dwYetMoreControllerFlags & kBootVolumeSupport) != 0;
}

VK_BYTE Bcd(int value) {
    return static_cast<VK_BYTE>((value / 10) << 4 | (value % 10));
}

// 0 RAID, 1 HBA, 2 mixed, from a field of the mode word (2 RAID, 3 HBA, 4 mixed); none otherwise.
std::optional<VK_BYTE> ModeOfField(VK_WORD field) {
    if (field >= 2 && field <= 4) {
        return static_cast<VK_BYTE>(field - 2);
    }
    return std::nullopt;
}

enum class FieldWrite { kWritten, kNoCopy, kFailed };

// The one-field rewrite the updates share: a fresh copy of the parameters, `edit` applied, written
// back. A missing copy logs `missing`, when there is one, as the caller's soft assertion.
template <typename Edit>
FieldWrite WriteParametersField(PCDA cda, const char* function, int line, const char* missing, Edit edit) {
    CONTROLLER_PARAMETERS* update_buffer = VK_GetControllerParametersBufferForUpdate(cda);
    if (update_buffer == nullptr) {
        if (missing != nullptr) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'update_buffer != ((void *)0)' failed: %s\n", function, line,
                        missing);
        }
        return FieldWrite::kNoCopy;
    }
    edit(*update_buffer);
    return VK_UpdateControllerParameters(cda, update_buffer) ? FieldWrite::kWritten : FieldWrite::kFailed;
}

// The 16-byte id a volume is named by as boot volume, from its cached identify copy or record.
bool BootVolumeId(PCDA cda, VK_BYTE drive_type, VK_WORD number, VK_BYTE (&id)[kVolumeIdSize]) {
    _CDA* c = _VK_CDA(cda);
    switch (drive_type) {
    case kBootableVolumeDriveTypeLogical: {
        if (number >= kMaxLogicalDrivesSupported || !VK_RequestIdentifyLogicalDriveBuffer(cda, number)) {
            return false;
        }
        const IDENTIFY_LOGICAL_DRIVE& identify = c->ld_record_list[number].identify_logical_drive_buffer;
        return pavlin::ByteView(&identify, sizeof(identify)).copy_to(kIdentifyLDPage83, id, sizeof(id));
    }
    case kBootableVolumeDriveTypePhysical:
        if (number >= kMaxPhysicalDrivesSupported || !VK_RequestIdentifyPhysicalDriveBuffer(cda, number)) {
            return false;
        }
        std::memcpy(id, c->pd_record_list[number].identify_physical_drive_buffer.bDeviceUniqueID, sizeof(id));
        return true;
    case kBootableVolumeDriveTypeRemote:
        if (!VK_RequestRemoteVolumeRecords(cda) || number >= c->remote_volume_count) {
            return false;
        }
        std::memcpy(id, c->remote_volume_record_list[number].device_unique_id, sizeof(id));
        return true;
    default:
        return false;
    }
}

const char* ReadRequestSizeName(VK_BYTE value) {
    static constexpr const char* kNames[] = {"Default",    "128 bytes",  "256 bytes",
                                             "512 bytes",  "1024 bytes", "2048 bytes"};
    return value < std::size(kNames) ? kNames[value] : "Unknown";
}

} // namespace

namespace telmar::direct {

bool BuildControllerTime(const struct tm& local, CONTROLLER_TIME& record) {
    // VK_localtime_s answers a time it cannot convert with an all-zero record, whose day is 0.
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    const bool in_range = local.tm_mday >= 1 && local.tm_mday <= 31 && local.tm_mon >= 0 && local.tm_mon <= 11 &&
                          local.tm_hour >= 0 && local.tm_hour <= 23 && local.tm_min >= 0 && local.tm_min <= 59 &&
                          local.tm_sec >= 0 && local.tm_sec <= 60 && year >= 0 && year <= 9999;
    if (!in_range) {
        return false;
    }
    CONTROLLER_TIME built{};
    std::memcpy(built.bHead, kTimeHead, sizeof(kTimeHead));
    built.bFormat = kTimeFormat;
    built.bHour = Bcd(local.tm_hour);
    built.bMinute = Bcd(local.tm_min);
    built.bSecond = Bcd(local.tm_sec);
    built.bMonth = Bcd(local.tm_mon + 1);
    built.bDay = Bcd(local.tm_mday);
    built.bCentury = Bcd(static_cast<int>(year / 100));
    built.bYear = Bcd(static_cast<int>(year % 100));
    std::memcpy(built.bTail, kTimeTail, sizeof(kTimeTail));
    record = built;
    return true;
}

VK_DWORD CheckOOBRecord(const OOBConfiguration* record) {
    if (record == nullptr) {
        return kCanChangeControllerOOBConfigurationInvalidInput;
    }
    switch (record->interface_type) {
    case kOOBInterfaceTypeReset:
    case kOOBInterfaceTypeDisabled:
        return 0;
    case kOOBInterfaceTypePBSI:
        return (record->i2c_configuration.raw & 0x07) > kPBSIClockSpeed800KHZ
                   ? kCanChangeControllerOOBConfigurationInvalidClockSpeed
                   : 0;
    case kOOBInterfaceTypeMCTP:
        return (record->i2c_configuration.raw & 0x03) == 3 ? kCanChangeControllerOOBConfigurationInvalidSMBUSDeviceType
                                                            : 0;
    default:
        return kCanChangeControllerOOBConfigurationInvalidInterfaceType;
    }
}

VK_BYTE DefinedOOBConfigurationBits(VK_BYTE interface_type) {
    return interface_type == kOOBInterfaceTypePBSI ? 0x0F : 0x1F;
}

} // namespace telmar::direct

namespace direct = telmar::direct;

// ---- Clock ----

VK_BOOL VK_SetControllerTime(PCDA cda, VK_QWORD controller_time) {
    if (cda == nullptr || controller_time == kNoControllerTime) {
        return kFalse;
    }
    CDALock guard(cda);
    time_t when = static_cast<time_t>(controller_time);
    const pavlin::TrackedPtr<struct tm> local(VK_localtime_s(&when));
    CONTROLLER_TIME record{};
    if (!local || !direct::BuildControllerTime(*local, record)) {
        return kFalse;
    }
    // The clock is read afresh each time it is asked for: nothing cached goes stale.
    return _VK_BMICHelperWriteBuffer(_VK_CDA(cda)->controller_handle, BMIC_SET_CONTROLLER_TIME, 0, 0, &record,
                                     sizeof(record));
}

// ---- I2C address ----

VK_BYTE VK_CanSetControllerI2CAddress(PCDA cda, VK_BYTE i2c_slave_address) {
    if (cda == nullptr) {
        return kCanSetControllerI2CAddressUnsupported;
    }
    CDALock guard(cda);
    if (OFARunning(cda)) {
        return kCanSetControllerI2CAddressControllerOFAActive;
    }
    if (!(VK_ControllerSupportsOOBCommands(cda) & kOOBSubcommandSetI2CAddress)) {
        return kCanSetControllerI2CAddressUnsupported;
    }
    if (!(VK_GetControllerOOBInterfaces(cda) & kOOBInterfaceI2CEnabled)) {
        return kCanSetControllerI2CAddressInactive;
    }
    if (VK_GetControllerI2CAddress(cda) == i2c_slave_address) {
        return kCanSetControllerI2CAddressAlreadySet;
    }
    return kCanSetControllerI2CAddressAllowed;
}

VK_BOOL VK_SetControllerI2CAddress(PCDA cda, VK_BYTE i2c_slave_address) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanSetControllerI2CAddress(cda, i2c_slave_address) != kCanSetControllerI2CAddressAllowed) {
        return kFalse;
    }
    PI2C_INFO info = VK_RequestI2ConfigurationForUpdate(cda);
    if (info == nullptr) {
        return kFalse;
    }
    info->slave_address = i2c_slave_address;
    return VK_SetI2Configuration(cda, info);
}

// ---- OOB interface ----

VK_DWORD VK_CanChangeControllerOOBConfiguration(PCDA cda, OOBConfiguration* oob_config) {
    // A record that cannot be right is refused before the controller is asked or the lock is taken.
    if (const VK_DWORD refused = direct::CheckOOBRecord(oob_config); refused != 0) {
        return refused;
    }
    if (cda == nullptr) {
        return kCanChangeControllerOOBConfigurationNotSupported;
    }
    CDALock guard(cda);
    if (!(VK_ControllerSupportsOOBCommands(cda) & kOOBSubcommandMessageInterface)) {
        return kCanChangeControllerOOBConfigurationNotSupported;
    }
    char vendor[kMinGetControllerVendorIDBufferLength] = {};
    VK_GetControllerVendorID(cda, vendor, sizeof(vendor));
    if (std::strcmp(vendor, kExcludedOOBVendor) == 0) {
        return kCanChangeControllerOOBConfigurationNotSupported;
    }
    if (OFARunning(cda)) {
        return kCanChangeControllerOOBConfigurationOFAActive;
    }
    if ((VK_GetControllerStatusInfo(cda) & kControllerStatusMask) != kControllerStatusOK) {
        return kCanChangeControllerOOBConfigurationControllerStatusNotOk;
    }
    return kCanChangeControllerOOBConfigurationAllowed;
}

VK_BOOL VK_DoChangeControllerOOBConfiguration(PCDA cda, OOBConfiguration* oob_config) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanChangeControllerOOBConfiguration(cda, oob_config) != kCanChangeControllerOOBConfigurationAllowed) {
        return kFalse;
    }
    POOB_MESSAGE_INTERFACE update = VK_RequestOOBMessageInterfaceForUpdate(cda);
    if (update == nullptr) {
        return kFalse;
    }
    if (oob_config->interface_type == kOOBInterfaceTypeReset) {
        update->bPendingInterfaceType = 0;
        update->bPendingI2cConfiguration = 0;
        update->bPendingI2cSlaveAddress = 0;
        update->bPendingReserved = 0;
    } else {
        oob_config->i2c_configuration.raw &= direct::DefinedOOBConfigurationBits(oob_config->interface_type);
        update->bPendingInterfaceType = oob_config->interface_type;
        update->bPendingI2cConfiguration = oob_config->i2c_configuration.raw;
        update->bPendingI2cSlaveAddress = oob_config->slave_address;
        update->bPendingReserved = oob_config->reserved;
    }
    return VK_SetOOBMessageInterface(cda, update);
}

// ---- Boot volumes ----

VK_BOOL __VK_SetBootableVolume(PCDA cda, VK_BYTE precedence, const VK_BYTE* volume_id, VK_WORD volume_id_size) {
    if (cda == nullptr || volume_id == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const bool primary = precedence == kBootableVolumePrecedencePrimary || precedence == kBootableVolumePrecedenceAll;
    const bool secondary =
        precedence == kBootableVolumePrecedenceSecondary || precedence == kBootableVolumePrecedenceAll;
    // Both fields hold exactly 16 bytes: an id of another size is refused before anything is read
    // from it, rather than copied short or past its end.
    if (volume_id_size != kVolumeIdSize && (primary || secondary)) {
        if (primary) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'volume_id_size == sizeof(primary_boot_lun)' failed: primary_boot_lun and "
                        "volume_id size don't match.\n",
                        __func__, __LINE__);
        }
        if (secondary) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'volume_id_size == sizeof(secondary_boot_lun)' failed: secondary_boot_lun "
                        "and volume_id size don't match.\n",
                        __func__, __LINE__);
        }
        return kFalse;
    }
    CONTROLLER_PARAMETERS* update_buffer = VK_GetControllerParametersBufferForUpdate(cda);
    if (update_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'update_buffer != ((void *)0)' failed: Failed to get buffer for ctrl boot volume "
                    "buffer\n",
                    __func__, __LINE__);
        return kFalse;
    }
    CONTROLLER_PARAMETERS image;
    std::memcpy(&image, update_buffer, sizeof(image));
    if (primary) {
        std::memcpy(update_buffer->primary_boot_lun, volume_id, kVolumeIdSize);
    }
    if (secondary) {
        std::memcpy(update_buffer->secondary_boot_lun, volume_id, kVolumeIdSize);
    }
    if (std::memcmp(&image, update_buffer, sizeof(image)) == 0) {
        PN_DebugLog(1, 0, "%s:%d: No change to precedence:%u boot volumes\n", __func__, __LINE__,
                    static_cast<unsigned>(precedence));
        VK_free(update_buffer);
        return kTrue;
    }
    if (!VK_UpdateControllerParameters(cda, update_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Failed to set precedence:%u boot volumes\n", __func__, __LINE__,
                    static_cast<unsigned>(precedence));
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_ClearBootVolume(PCDA cda, VK_BYTE drive_type, VK_WORD dev_number) {
    // No device is never a boot volume; without this a boot id that names nothing would "match" it.
    if (cda == nullptr || dev_number == kNoDevice) {
        return kTrue;
    }
    CDALock guard(cda);
    const bool primary =
        VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedencePrimary, drive_type) == dev_number;
    const bool secondary =
        VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedenceSecondary, drive_type) == dev_number;
    if (!primary && !secondary) {
        return kTrue;
    }
    const VK_BYTE none[kVolumeIdSize] = {};
    const VK_BYTE precedence = primary && secondary ? kBootableVolumePrecedenceAll
                               : primary            ? kBootableVolumePrecedencePrimary
                                                    : kBootableVolumePrecedenceSecondary;
    return __VK_SetBootableVolume(cda, precedence, none, sizeof(none));
}

VK_BYTE VK_CanSetBootableVolume(PCDA cda, VK_BYTE precedence, VK_BYTE drive_type, VK_WORD drive_number) {
    if (cda == nullptr) {
        return kSetBootableVolumeUnsupportedOperation;
    }
    CDALock guard(cda);
    if (OFARunning(cda)) {
        return kSetBootableVolumeOperationControllerOFAActive;
    }
    if (!BootVolumesSupported(cda)) {
        return kSetBootableVolumeUnsupportedOperation;
    }
    if (precedence < kBootableVolumePrecedencePrimary || precedence > kBootableVolumePrecedenceAll) {
        return kSetBootableVolumeUnsupportedPrecedence;
    }
    switch (drive_type) {
    case kBootableVolumeDriveTypeLogical:
        return __VK_CheckBootLogicalDrive(cda, drive_number) ? kSetBootableVolumeOperationAllowed
                                                             : kSetBootableVolumeInvalidLogicalDrive;
    case kBootableVolumeDriveTypePhysical:
        if (!VK_ControllerSupportsMixedMode(cda)) {
            return kSetBootableVolumeUnsupportedDriveType;
        }
        return __VK_CheckBootPhysicalDrive(cda, drive_number) ? kSetBootableVolumeOperationAllowed
                                                              : kSetBootableVolumeInvalidPhysicalDrive;
    case kBootableVolumeDriveTypeRemote:
        return __VK_CheckBootRemoteVolume(cda, drive_number) ? kSetBootableVolumeOperationAllowed
                                                             : kSetBootableVolumeInvalidRemoteVolume;
    default:
        return kSetBootableVolumeUnsupportedDriveType;
    }
}

VK_BOOL VK_DoSetBootableVolume(PCDA cda, VK_BYTE precedence, VK_BYTE drive_type, VK_WORD drive_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanSetBootableVolume(cda, precedence, drive_type, drive_number) != kSetBootableVolumeOperationAllowed) {
        return kFalse;
    }
    VK_BYTE id[kVolumeIdSize] = {};
    if (!BootVolumeId(cda, drive_type, drive_number, id)) {
        return kFalse;
    }
    return __VK_SetBootableVolume(cda, precedence, id, sizeof(id));
}

VK_BYTE VK_CanClearBootableVolume(PCDA cda, VK_BYTE precedence) {
    if (cda == nullptr) {
        return kClearBootableVolumeUnsupportedOperation;
    }
    CDALock guard(cda);
    if (OFARunning(cda)) {
        return kClearBootableVolumeOperationControllerOFAActive;
    }
    if (!BootVolumesSupported(cda)) {
        return kClearBootableVolumeUnsupportedOperation;
    }
    return precedence >= kBootableVolumePrecedencePrimary && precedence <= kBootableVolumePrecedenceAll
               ? kClearBootableVolumeOperationAllowed
               : kClearBootableVolumeUnsupportedPrecedence;
}

VK_BOOL VK_DoClearBootableVolume(PCDA cda, VK_BYTE precedence) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanClearBootableVolume(cda, precedence) != kClearBootableVolumeOperationAllowed) {
        return kFalse;
    }
    const VK_BYTE none[kVolumeIdSize] = {};
    return __VK_SetBootableVolume(cda, precedence, none, sizeof(none));
}

// ---- Operating mode ----

VK_BYTE VK_CanChangeControllerMode(PCDA cda, VK_BYTE intended_controller_mode) {
    if (cda == nullptr) {
        return kChangeControllerModeUnsupportedOperation;
    }
    CDALock guard(cda);
    if (intended_controller_mode > kControllerModeMixed) {
        return kChangeControllerModeUnsupportedOperation;
    }
    if (!_VK_AnyConnectorSupportsOperatingMode(cda, intended_controller_mode)) {
        return kChangeControllerModeUnsupportedMode;
    }
    const VK_WORD word = VK_GetControllerModeInfo(cda);
    const std::optional<VK_BYTE> current = ModeOfField(word & kControllerModeCurrentMask);
    const std::optional<VK_BYTE> pending = ModeOfField((word & kControllerModePendingMask) >> 3);
    if (OFARunning(cda)) {
        return kChangeControllerModeControllerOFAActive;
    }
    if (pending == intended_controller_mode) {
        return kChangeControllerModeSelectedModePending;
    }
    if (current == intended_controller_mode || current == kControllerModeHBA ||
        intended_controller_mode != kControllerModeHBA) {
        return kChangeControllerModeOperationAllowed;
    }
    // Into HBA mode from another: logical drives and encryption stand in the way.
    VK_BYTE reasons = 0;
    if (VK_RequestIdentifyControllerBuffer(cda) &&
        _VK_CDA(cda)->identify_controller_buffer.wExtendedLogicalUnitCount != 0) {
        reasons |= kChangeControllerModeLogicalDrivesExist;
    }
    if (VK_GetControllerEncryptionStatus(cda) & kModeChangeEncryptionBit) {
        reasons |= kChangeControllerModeEncryptionIsEnabled;
    }
    return reasons != 0 ? reasons : kChangeControllerModeOperationAllowed;
}

VK_BOOL VK_DoChangeControllerMode(PCDA cda, VK_BYTE intended_controller_mode) {
    if (cda == nullptr) {
        return kFalse;
    }
    VK_BOOL ok = kFalse;
    {
        CDALock guard(cda);
        if (VK_CanChangeControllerMode(cda, intended_controller_mode) != kChangeControllerModeOperationAllowed) {
            return kFalse;
        }
        const VK_WORD word = VK_GetControllerModeInfo(cda);
        CONTROLLER_PARAMETERS* update_buffer = VK_GetControllerParametersBufferForUpdate(cda);
        if (update_buffer != nullptr) {
            if (word & kControllerModeSupportsMixedMode) {
                std::memset(update_buffer->bConnectorMode, intended_controller_mode,
                            sizeof(update_buffer->bConnectorMode));
            } else if (word & kControllerModeSupportsVeskHBAMode) {
                update_buffer->bNVRAMFlags &= static_cast<VK_BYTE>(~kNVRAMModeBits);
                if (intended_controller_mode == kControllerModeHBA) {
                    update_buffer->bNVRAMFlags |= kNVRAMVeskHBA;
                }
            } else if (word & kControllerModeSupportsHBAMode) {
                if (intended_controller_mode == kControllerModeRAID) {
                    update_buffer->bNVRAMFlags &= static_cast<VK_BYTE>(~kNVRAMModeBits);
                } else if (intended_controller_mode == kControllerModeHBA) {
                    update_buffer->bNVRAMFlags |= kNVRAMModeBits;
                }
            }
            ok = VK_UpdateControllerParameters(cda, update_buffer);
        }
        if (ok && intended_controller_mode == kControllerModeRAID) {
            for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kInvalidPDNumber); pd != kInvalidPDNumber;
                 pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
                _VK_ClearBootVolume(cda, kBootableVolumeDriveTypePhysical, pd);
            }
        }
    }
    // The one operation that lets go of its lock first: the re-initialisation takes it itself.
    VK_ReInitializeCDA(cda);
    return ok;
}

// ---- Power mode ----

VK_BYTE VK_CanChangePowerMode(PCDA cda, VK_BYTE intended_power_mode) {
    if (cda == nullptr) {
        return kChangePowerModeUnsupportedMode;
    }
    CDALock guard(cda);
    if (OFARunning(cda)) {
        return kChangePowerModeControllerOFAActive;
    }
    VK_BOOL (*supported)(PCDA) = nullptr;
    VK_BOOL (*pending)(PCDA) = nullptr;
    switch (intended_power_mode) {
    case kSetPowerModeMinimumPower:
        supported = VK_ControllerSupportsPowerModeMin;
        pending = VK_PendingPowerModeIsMin;
        break;
    case kSetPowerModeBalanced:
        supported = VK_ControllerSupportsPowerModeBalanced;
        pending = VK_PendingPowerModeIsBalanced;
        break;
    case kSetPowerModeMaxPerformance:
        supported = VK_ControllerSupportsPowerModeMax;
        pending = VK_PendingPowerModeIsMax;
        break;
    default:
        return kChangePowerModeUnsupportedMode;
    }
    if (!supported(cda)) {
        return kChangePowerModeUnsupportedMode;
    }
    return pending(cda) ? kChangePowerModeSelectedModePending : kChangePowerModeOperationAllowed;
}

VK_BOOL VK_DoChangePowerMode(PCDA cda, VK_BYTE intended_power_mode) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanChangePowerMode(cda, intended_power_mode) != kChangePowerModeOperationAllowed) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    SET_POWER_MODE request{};
    request.dwPowerMode = intended_power_mode;
    const VK_BOOL ok = _VK_BMICHelperWriteBuffer(c->controller_handle, BMIC_POWER_MODE, kPowerModeFunctionSet, 0,
                                                 &request, sizeof(request));
    if (ok) {
        // Only the power-mode reply is stale; the data area is not re-initialised.
        telmar::BufferFlags(c) &= ~kCDAValidPowerMode;
    }
    return ok;
}

// ---- Single-field parameter updates ----

VK_BYTE VK_CanSetControllerOSBootableDriveCount(PCDA cda, VK_BYTE count) {
    if (cda == nullptr) {
        return kCanSetControllerOSBootableDriveCountAlreadySet;
    }
    CDALock guard(cda);
    if (OFARunning(cda)) {
        return kCanSetControllerOSBootableDriveCountControllerOFAActive;
    }
    return VK_GetControllerOSBootableDriveCount(cda) == count ? kCanSetControllerOSBootableDriveCountAlreadySet
                                                              : kCanSetControllerOSBootableDriveCountAllowed;
}

VK_BOOL VK_SetControllerOSBootableDriveCount(PCDA cda, VK_BYTE count) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_BOOL ok = kFalse;
    if (VK_CanSetControllerOSBootableDriveCount(cda, count) == kCanSetControllerOSBootableDriveCountAllowed) {
        const FieldWrite written = WriteParametersField(
            cda, __func__, __LINE__, "Failed to get buffer for ctrl OS boot drive count buffer",
            [count](CONTROLLER_PARAMETERS& p) { p.bNumOSBootableDrives = count; });
        if (written == FieldWrite::kFailed) {
            PN_DebugLog(1, 0, "%s:%d: Failed to set number of OS bootable drives to %u\n", __func__, __LINE__,
                        static_cast<unsigned>(count));
        }
        ok = written == FieldWrite::kWritten ? kTrue : kFalse;
    }
    // Re-initialised whatever happened, a refusal included, while the lock is still held.
    VK_ReInitializeCDA(cda);
    return ok;
}

VK_BYTE VK_CanSetControllerExpanderMinimumScanDuration(PCDA cda, VK_WORD scan_duration) {
    if (cda == nullptr) {
        return kCanSetControllerExpanderMinimumScanDurationNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsExpanderMinimumScanDuration(cda)) {
        return kCanSetControllerExpanderMinimumScanDurationNotSupported;
    }
    const VK_DWORD maximum = VK_GetControllerExpanderMaximumAllowableScanDuration(cda);
    const VK_DWORD minimum = VK_GetControllerExpanderMinimumScanDuration(cda);
    if (maximum == kGetControllerExpanderScanDurationFailed || minimum == kGetControllerExpanderScanDurationFailed) {
        return kCanSetControllerExpanderMinimumScanDurationUnknown;
    }
    if (scan_duration > maximum) {
        return kCanSetControllerExpanderMinimumScanDurationInvalidValue;
    }
    if (scan_duration == minimum) {
        return kCanSetControllerExpanderMinimumScanDurationAlreadySet;
    }
    return kCanSetControllerExpanderMinimumScanDurationAllowed;
}

VK_BOOL VK_SetControllerExpanderMinimumScanDuration(PCDA cda, VK_WORD scan_duration) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanSetControllerExpanderMinimumScanDuration(cda, scan_duration) !=
        kCanSetControllerExpanderMinimumScanDurationAllowed) {
        return kFalse;
    }
    return WriteParametersField(cda, __func__, __LINE__, nullptr,
                                [scan_duration](CONTROLLER_PARAMETERS& p) {
                                    p.wExpanderSpinupMinimumDuration = scan_duration;
                                }) == FieldWrite::kWritten
               ? kTrue
               : kFalse;
}

VK_BYTE VK_CanChangeControllerPCIeOrdering(PCDA cda, VK_BYTE pcie_ordering) {
    if (cda == nullptr) {
        return kCanChangeControllerPCIeOrderingNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsPCIeRelaxedOrdering(cda)) {
        return kCanChangeControllerPCIeOrderingNotSupported;
    }
    if (pcie_ordering != kChangeControllerPCIeOrderingStrict && pcie_ordering != kChangeControllerPCIeOrderingRelaxed) {
        return kCanChangeControllerPCIeOrderingInvalid;
    }
    const VK_BYTE pending = static_cast<VK_BYTE>(VK_GetControllerPCIeOrdering(cda) >> 4 & 0x0F);
    const VK_BYTE asked = pcie_ordering == kChangeControllerPCIeOrderingStrict ? kControllerPCIeOrderingStrict
                                                                              : kControllerPCIeOrderingRelaxed;
    return pending == asked ? kCanChangeControllerPCIeOrderingAlreadySet : kCanChangeControllerPCIeOrderingAllowed;
}

VK_BOOL VK_DoChangeControllerPCIeOrdering(PCDA cda, VK_BYTE pcie_ordering) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanChangeControllerPCIeOrdering(cda, pcie_ordering) != kCanChangeControllerPCIeOrderingAllowed) {
        return kFalse;
    }
    // Only the pending byte: the current ordering is the controller's until it applies the new one.
    const FieldWrite written =
        WriteParametersField(cda, __func__, __LINE__, "Failed to get buffer for controller PCIe ordering",
                             [pcie_ordering](CONTROLLER_PARAMETERS& p) { p.pbPCIEOrderingMode[1] = pcie_ordering; });
    if (written == FieldWrite::kFailed) {
        PN_DebugLog(1, 0, "%s:%d: Failed to change controller PCIe ordering to %s\n", __func__, __LINE__,
                    pcie_ordering == kChangeControllerPCIeOrderingStrict ? "strict" : "relaxed");
    }
    return written == FieldWrite::kWritten ? kTrue : kFalse;
}

VK_BYTE VK_CanSetControllerMaxReadRequestSize(PCDA cda, VK_BYTE max_read_request_size) {
    if (cda == nullptr) {
        return kCanSetControllerMaxReadRequestSizeNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsMaxReadRequestSize(cda)) {
        return kCanSetControllerMaxReadRequestSizeNotSupported;
    }
    if (max_read_request_size > kMaxReadRequestSizeType2048Bytes) {
        return kCanSetControllerMaxReadRequestSizeInvalidSize;
    }
    // The default has no size of its own to compare: asking for it is always allowed.
    if (max_read_request_size != kMaxReadRequestSizeTypeDefault &&
        (VK_DWORD{64} << max_read_request_size) == VK_GetControllerPendingMaxReadRequestSize(cda)) {
        return kCanSetControllerMaxReadRequestSizeAlreadyPending;
    }
    return kCanSetControllerMaxReadRequestSizeAllowed;
}

VK_BYTE VK_SetControllerMaxReadRequestSize(PCDA cda, VK_BYTE max_read_request_size) {
    if (cda == nullptr) {
        return kSetControllerMaxReadRequestSizeFailure;
    }
    CDALock guard(cda);
    if (VK_CanSetControllerMaxReadRequestSize(cda, max_read_request_size) !=
        kCanSetControllerMaxReadRequestSizeAllowed) {
        return kSetControllerMaxReadRequestSizeFailure;
    }
    const FieldWrite written = WriteParametersField(
        cda, __func__, __LINE__, "Failed to get buffer for setting controller max read request size",
        [max_read_request_size](CONTROLLER_PARAMETERS& p) { p.bPCIeMRRSOverrideSetting = max_read_request_size; });
    if (written == FieldWrite::kFailed) {
        PN_DebugLog(1, 0, "%s:%d: Failed to set controller max read request size to %s\n", __func__, __LINE__,
                    ReadRequestSizeName(max_read_request_size));
    }
    return written == FieldWrite::kWritten ? kSetControllerMaxReadRequestSizeSuccess
                                           : kSetControllerMaxReadRequestSizeFailure;
}

VK_BYTE VK_CanSetControllerPersistentEventLogPolicy(PCDA cda, VK_BYTE event_log_policy) {
    if (cda == nullptr) {
        return kCanSetControllerPersistentEventLogPolicyUnsupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsSettingPersistentEventLogPolicy(cda)) {
        return kCanSetControllerPersistentEventLogPolicyUnsupported;
    }
    if (event_log_policy != kControllerPersistentEventLogPolicyKeepOldest &&
        event_log_policy != kControllerPersistentEventLogPolicyKeepNewest) {
        return kCanSetControllerPersistentEventLogPolicyInvalidPolicy;
    }
    return VK_GetControllerPersistentEventLogPolicy(cda) == event_log_policy
               ? kCanSetControllerPersistentEventLogPolicyAlreadySet
               : kCanSetControllerPersistentEventLogPolicyAllowed;
}

VK_BYTE VK_SetControllerPersistentEventLogPolicy(PCDA cda, VK_BYTE event_log_policy) {
    if (cda == nullptr) {
        return kSetControllerPersistentEventLogPolicyFailure;
    }
    CDALock guard(cda);
    if (VK_CanSetControllerPersistentEventLogPolicy(cda, event_log_policy) !=
        kCanSetControllerPersistentEventLogPolicyAllowed) {
        return kSetControllerPersistentEventLogPolicyFailure;
    }
    const bool newest = event_log_policy == kControllerPersistentEventLogPolicyKeepNewest;
    const FieldWrite written = WriteParametersField(
        cda, __func__, __LINE__, "Failed to get buffer for ctrl persistent event log policy change",
        [newest](CONTROLLER_PARAMETERS& p) {
            p.dwMoreNVRAMFlags = newest ? (p.dwMoreNVRAMFlags | kEventLogKeepNewest)
                                        : (p.dwMoreNVRAMFlags & ~kEventLogKeepNewest);
        });
    if (written == FieldWrite::kFailed) {
        PN_DebugLog(1, 0, "%s:%d: Failed to set persistent event log policy to  %s\n", __func__, __LINE__,
                    newest ? "Keep Newest" : "Keep Oldest");
    }
    return written == FieldWrite::kWritten ? kSetControllerPersistentEventLogPolicySuccess
                                           : kSetControllerPersistentEventLogPolicyFailure;
}

VK_BYTE VK_CanChangeControllerUEFIDriverHealthReporting(PCDA cda, VK_BYTE driver_health_report) {
    if (cda == nullptr) {
        return kCanChangeControllerUEFIDriverHealthReportingNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsUEFIDriverHealthReporting(cda)) {
        return kCanChangeControllerUEFIDriverHealthReportingNotSupported;
    }
    if (driver_health_report != kControllerUEFIDriveHealthReportAllErrors &&
        driver_health_report != kControllerUEFIDriveHealthReportDisabled) {
        return kCanChangeControllerUEFIDriverHealthReportingInvalid;
    }
    return VK_GetControllerUEFIDriverHealthReportingStatus(cda) == driver_health_report
               ? kCanChangeControllerUEFIDriverHealthReportingAlreadySet
               : kCanChangeControllerUEFIDriverHealthReportingAllowed;
}

VK_BYTE VK_DoChangeControllerUEFIDriverHealthReporting(PCDA cda, VK_BYTE driver_health_report) {
    if (cda == nullptr) {
        return kDoChangeControllerUEFIDriverHealthReportingFailure;
    }
    CDALock guard(cda);
    if (VK_CanChangeControllerUEFIDriverHealthReporting(cda, driver_health_report) !=
        kCanChangeControllerUEFIDriverHealthReportingAllowed) {
        return kDoChangeControllerUEFIDriverHealthReportingFailure;
    }
    // The controller's field counts the other way round: 0 reports every error, 1 reports none.
    const VK_BYTE mode = driver_health_report == kControllerUEFIDriveHealthReportAllErrors ? 0 : 1;
    return WriteParametersField(cda, __func__, __LINE__, "Failed to get buffer for ctrl uefi driver health reporting",
                                [mode](CONTROLLER_PARAMETERS& p) { p.PrebootHealthReportingMode = mode; }) ==
                   FieldWrite::kWritten
               ? kDoChangeControllerUEFIDriverHealthReportingSuccess
               : kDoChangeControllerUEFIDriverHealthReportingFailure;
}

// ---- End of direct controller operations ----------------------------------------------------------
