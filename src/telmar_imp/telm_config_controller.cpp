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
//
// Staged controller settings: the settings a commit writes to the controller, changed in the editable
// configuration only (priorities and their percentages, surface scan, boot volumes, spare activation,
// drive write cache and the cache settings).
#include <array>
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
#include "telm_prop_settings.h"
#include "telm_records.h"

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

// A fresh copy of a controller buffer for update. Without one, the caller's soft assertion naming
// the copy `name` is logged with `missing`, when there is such a message, at `function` and `line`.
template <typename Buffer>
Buffer* CopyForUpdate(PCDA cda, Buffer* (*copy)(PCDA), const char* function, int line, const char* name,
                      const char* missing) {
    Buffer* buffer = copy(cda);
    if (buffer == nullptr && missing != nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion '%s != ((void *)0)' failed: %s\n", function, line, name, missing);
    }
    return buffer;
}

enum class FieldWrite { kWritten, kNoCopy, kFailed };

// The one-field rewrite the updates share: a fresh copy of the parameters, `edit` applied, written
// back. A missing copy logs `missing`, when there is one, as the caller's soft assertion.
template <typename Edit>
FieldWrite WriteParametersField(PCDA cda, const char* function, int line, const char* missing, Edit edit) {
    CONTROLLER_PARAMETERS* update_buffer =
        CopyForUpdate(cda, VK_GetControllerParametersBufferForUpdate, function, line, "update_buffer", missing);
    if (update_buffer == nullptr) {
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
    CONTROLLER_PARAMETERS* update_buffer =
        CopyForUpdate(cda, VK_GetControllerParametersBufferForUpdate, __func__, __LINE__, "update_buffer",
                      "Failed to get buffer for ctrl boot volume buffer");
    if (update_buffer == nullptr) {
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

// ---- Editable configuration: creation, population, checksum, commit errors ----------------------

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

// ---- Editable controller settings ------------------------------------------------------------------

namespace {

constexpr VK_DWORD kNoConfigReason = 2; // every staged-setting family but the rate percentages
constexpr VK_BYTE kAllowed = 1;
constexpr VK_BYTE kUnknownByte = 0xFF;
constexpr VK_WORD kNoVolume = 0xFFFF;
constexpr VK_BYTE kBootVolumePrimaryChanged = 0x1;
constexpr VK_BYTE kBootVolumeSecondaryChanged = 0x2;
constexpr VK_DWORD kExpansionMemoryless = 0x20;        // SENSE_EXPANSION_ABILITY dwSupportFlags
constexpr VK_BYTE kSurvivalModeConfigurable = 0x02;    // power-management page bSurvivalModeFlag
constexpr VK_BYTE kSurvivalModeFixed = 0x04;
constexpr VK_BYTE kCacheStateStillUsable = 26;         // cache state of a disabled cache that still takes WCBT
constexpr VK_DWORD kAdditionalRAIDInfoNVMe = 0x2;
constexpr VK_BYTE kWriteCacheUsageTypes = 3;

bool Locked(PCDA cda) {
    return (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionControllerLocked) != 0;
}

bool CacheDisabled(PCDA cda) {
    const VK_BYTE cache = CACHE_STATUS(VK_GetControllerStatusInfo(cda));
    return cache == kControllerCacheStatusTemporarilyDisabled || cache == kControllerCacheStatusPermanentlyDisabled;
}

bool InHBAMode(PCDA cda) {
    return VK_ControllerCurrentModeIsHBA(cda) || VK_ControllerPendingModeIsHBA(cda);
}

bool NoCache(PCDA cda) {
    return !VK_RequestSenseCacheConfigStatusBuffer(cda) ||
           _VK_CDA(cda)->sense_cache_config_status_buffer.bBoardPresent == 0;
}

// A software-RAID controller expands only with expansion memory or without needing any.
bool ExpansionPossible(PCDA cda) {
    if (!VK_ControllerIsSoftwareRAID(cda)) {
        return true;
    }
    if (!VK_RequestSenseExpansionAbilityBuffer(cda)) {
        return false;
    }
    const SENSE_EXPANSION_ABILITY& e = _VK_CDA(cda)->sense_expansion_ability_buffer;
    return e.dwExpansionMemorySize != 0 || (e.dwSupportFlags & kExpansionMemoryless) != 0;
}

bool SurvivalModeConfigurable(PCDA cda) {
    if (!VK_ControllerFeaturePagesSupported(cda) || !VK_RequestFeaturePages(cda)) {
        return false;
    }
    const VK_BYTE flag = _VK_CDA(cda)->sense_feature.page_power_management.bSurvivalModeFlag;
    return (flag & kSurvivalModeConfigurable) != 0 && (flag & kSurvivalModeFixed) == 0;
}

// ---- The staged settings table ----

enum class Check : VK_BYTE {
    kEnd,
    kLocked,          // the controller is locked
    kRange,           // the value lies outside the row's minimum to maximum
    kRapidRebuild,    // medium-high without rapid rebuild
    kNoLogicalDrives, // nothing staged to apply it to
    kSame,            // the value is the staged one
    kSupported,       // the row's support predicate fails
    kExpansion,       // a software-RAID controller that cannot expand
    kPSSRange,        // 0, or above the controller's maximum when it names one
    kSurvival,        // survival mode is not configurable
    kCacheStatus,     // the cache is disabled in a state that refuses the threshold
    kSanitize,        // the lock kind is not supported
};

struct Step {
    Check check;
    VK_BYTE reason;
};

struct Setting {
    size_t offset;
    size_t width;
    VK_DWORD unstaged; // what the getter answers without a configuration
    VK_DWORD minimum;
    VK_DWORD maximum;
    VK_DWORD dirty;
    VK_BOOL (*supported)(PCDA);
    std::array<Step, 6> steps; // in order; the first that applies decides
};

enum SettingId : size_t {
    kRebuildPriority,
    kExpandPriority,
    kSSAPriority,
    kPSSCount,
    kDPO,
    kIRP,
    kInconsistencyEventNotification,
    kElevatorSort,
    kQueueDepth,
    kFLS,
    kMNPDelay,
    kSurvivalPowerMode,
    kWCBT,
    kNotifyOnAnyBroadcast,
    kSanitizeLock,
    kSettingCount,
};

#define MEMBER(m) offsetof(EDITABLE_CONFIGURATION, m), sizeof(EDITABLE_CONFIGURATION::m)

constexpr std::array<Setting, kSettingCount> kSettings = {{
    {MEMBER(controller_rebuild_priority), 0xFF, 0, kControllerRebuildPriorityHigh, kEditableConfigControllerParams,
     nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerRebuildPriorityControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerRebuildPriorityInvalidValue},
       {Check::kRapidRebuild, kCanChangeEditableControllerRebuildPriorityRapidUnsupported},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerRebuildPriorityNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerRebuildPriorityNoChange}}}},
    {MEMBER(controller_transformation_priority), 0xFF, 0, kControllerExpandPriorityHigh,
     kEditableConfigControllerParams, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerExpandPriorityControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerExpandPriorityInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerExpandPriorityNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerExpandPriorityNoChange},
       {Check::kExpansion, kCanChangeEditableControllerExpandPriorityUnsupported}}}},
    {MEMBER(controller_surface_scan_priority), 0xFFFF, 0, 300, kEditableConfigSurfaceScan, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerSSAPriorityControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerSSAPriorityInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerSSAPriorityNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerSSAPriorityNoChange}}}},
    {MEMBER(controller_parallel_surface_scan_count), 0, 0, 0xFF, kEditableConfigSurfaceScan, VK_ControllerSupportsPSS,
     {{{Check::kLocked, kCanChangeEditableControllerPSSCountControllerStatusNotOK},
       {Check::kPSSRange, kCanChangeEditableControllerPSSCountOutOfRange},
       {Check::kSupported, kCanChangeEditableControllerPSSCountOperationUnsupported},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerPSSCountNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerPSSCountNoChange}}}},
    {MEMBER(controller_parity_RAID_DPO), 0xFF, 0, 1, kEditableConfigControllerParams, VK_ControllerSupportsDPO,
     {{{Check::kSupported, kCanChangeEditableControllerDPONotSupported},
       {Check::kLocked, kCanChangeEditableControllerDPOControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerDPOInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerDPONoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerDPONoChange}}}},
    {MEMBER(controller_RAID6x_IRP), 0xFF, 0, 1, kEditableConfigControllerParams, VK_ControllerSupportsIRP,
     {{{Check::kLocked, kCanChangeEditableControllerIRPControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerIRPInvalidValue},
       {Check::kSupported, kCanChangeEditableControllerIRPUnsupported},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerIRPNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerIRPNoChange}}}},
    {MEMBER(inconsistency_event_notification), 0xFF, 0, 1, kEditableConfigControllerParams,
     VK_ControllerSupportsInconsistencyEventNotification,
     {{{Check::kLocked, kCanChangeEditableControllerInconsistencyEventNotificationControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerInconsistencyEventNotificationInvalidValue},
       {Check::kSupported, kCanChangeEditableControllerInconsistencyEventNotificationUnsupported},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerInconsistencyEventNotificationNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerInconsistencyEventNotificationNoChange}}}},
    {MEMBER(controller_pd_elevator_sort), 0xFF, 0, 1, kEditableConfigControllerParams, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerElevatorSortControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerElevatorSortInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerElevatorSortNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerElevatorSortNoChange}}}},
    {MEMBER(controller_max_drive_request_queue_depth), 0xFF, 0, kControllerQueueDepth32,
     kEditableConfigControllerParams, VK_ControllerSupportsQueueDepth,
     {{{Check::kLocked, kCanChangeEditableControllerQueueDepthControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerQueueDepthInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerQueueDepthNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerQueueDepthNoChange},
       {Check::kSupported, kCanChangeEditableControllerQueueDepthNotSupported}}}},
    {MEMBER(controller_fls_setting), 0xFF, 0, 5, kEditableConfigControllerParams, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerFLSControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerFLSInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerFLSNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerFLSNoChange}}}},
    {MEMBER(controller_mnp_analysis_delay), 0xFFFF, 0, 1440, kEditableConfigMNPDelay, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerMNPDelayControllerStatusNotOK},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerMNPDelayNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerMNPDelayNoChange},
       {Check::kRange, kCanChangeEditableControllerMNPDelayInvalidValue}}}},
    // Survival mode is a power setting: neither a lock nor an empty configuration stands in its way.
    {MEMBER(controller_survival_mode), 0xFF, 0, 1, kEditableConfigSurvivalMode, VK_ControllerSupportsSurvivalPowerMode,
     {{{Check::kRange, kCanChangeEditableControllerSurvivalPowerModeInvalidValue},
       {Check::kSupported, kCanChangeEditableControllerSurvivalPowerModeOperationUnsupported},
       {Check::kSurvival, kCanChangeEditableControllerSurvivalPowerModeNotConfigurable},
       {Check::kSame, kCanChangeEditableControllerSurvivalPowerModeNoChange}}}},
    {MEMBER(controller_write_cache_bypass_threshold), 0, 1, 65, kEditableConfigControllerParams,
     VK_ControllerSupportsWCBT,
     {{{Check::kLocked, kCanChangeEditableControllerWCBTControllerStatusNotOK},
       {Check::kSupported, kCanChangeEditableControllerWCBTOperationUnsupported},
       {Check::kRange, kCanChangeEditableControllerWCBTInvalidValue},
       {Check::kNoLogicalDrives, kCanChangeEditableControllerWCBTNoLogicalDrives},
       {Check::kSame, kCanChangeEditableControllerWCBTNoChange},
       {Check::kCacheStatus, kCanChangeEditableControllerWCBTControllerCacheStatusNotOK}}}},
    {MEMBER(controller_notify_on_any_broadcast), 0, kControllerNotifyOnAnyBroadcastDisabled,
     kControllerNotifyOnAnyBroadcastEnabled, kEditableConfigControllerParams, VK_ControllerSupportsNotifyOnAnyBroadcast,
     {{{Check::kLocked, kCanChangeEditableControllerNotifyOnAnyBroadcastControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerNotifyOnAnyBroadcastInvalidValue},
       {Check::kSame, kCanChangeEditableControllerNotifyOnAnyBroadcastNoChange},
       {Check::kSupported, kCanChangeEditableControllerNotifyOnAnyBroadcastOperationUnsupported}}}},
    {MEMBER(controller_sanitize_lock), kControllerSanitizeLockUnknown, 0, kControllerSanitizeLockAntiFreeze,
     kEditableConfigControllerParams, nullptr,
     {{{Check::kLocked, kCanChangeEditableControllerSanitizeLockControllerStatusNotOK},
       {Check::kRange, kCanChangeEditableControllerSanitizeLockInvalidValue},
       {Check::kSame, kCanChangeEditableControllerSanitizeLockNoChange},
       {Check::kSanitize, kCanChangeEditableControllerSanitizeLockUnsupported}}}},
}};

#undef MEMBER

VK_DWORD LoadSetting(const EDITABLE_CONFIGURATION& config, const Setting& setting) {
    const auto* at = reinterpret_cast<const VK_BYTE*>(&config) + setting.offset;
    switch (setting.width) {
    case sizeof(VK_BYTE):
        return *at;
    case sizeof(VK_WORD): {
        VK_WORD w = 0;
        std::memcpy(&w, at, sizeof(w));
        return w;
    }
    default: {
        VK_DWORD d = 0;
        std::memcpy(&d, at, sizeof(d));
        return d;
    }
    }
}

void StoreSetting(EDITABLE_CONFIGURATION& config, const Setting& setting, VK_DWORD value) {
    auto* at = reinterpret_cast<VK_BYTE*>(&config) + setting.offset;
    const VK_BYTE b = static_cast<VK_BYTE>(value);
    const VK_WORD w = static_cast<VK_WORD>(value);
    std::memcpy(at, setting.width == sizeof(VK_BYTE) ? static_cast<const void*>(&b)
                    : setting.width == sizeof(VK_WORD) ? static_cast<const void*>(&w)
                                                       : static_cast<const void*>(&value),
                setting.width);
}

bool Applies(PCDA cda, const EDITABLE_CONFIGURATION& config, const Setting& setting, Check check, VK_DWORD value) {
    switch (check) {
    case Check::kLocked:
        return Locked(cda);
    case Check::kRange:
        return value < setting.minimum || value > setting.maximum;
    case Check::kRapidRebuild:
        return value == kControllerRebuildPriorityMediumHigh && !VK_ControllerSupportsRapidRebuild(cda);
    case Check::kNoLogicalDrives:
        return config.editable_ld_count == 0;
    case Check::kSame:
        return value == LoadSetting(config, setting);
    case Check::kSupported:
        return !setting.supported(cda);
    case Check::kExpansion:
        return !ExpansionPossible(cda);
    case Check::kPSSRange: {
        const VK_BYTE maximum = VK_ControllerSupportsMaxPSSCount(cda);
        return value == 0 || (maximum != 0 && value > maximum);
    }
    case Check::kSurvival:
        return !SurvivalModeConfigurable(cda);
    case Check::kCacheStatus:
        return CacheDisabled(cda) &&
               CONTROLLER_CACHE_STATE(VK_GetControllerStatusInfo(cda)) != kCacheStateStillUsable;
    case Check::kSanitize: {
        const VK_BYTE kinds = VK_ControllerSupportsSanitizeLock(cda);
        return (kinds & (kSanitizeLockFreezeSupported | kSanitizeLockAntiFreezeSupported)) == 0 ||
               (value == kControllerSanitizeLockFreeze && !(kinds & kSanitizeLockFreezeSupported)) ||
               (value == kControllerSanitizeLockAntiFreeze && !(kinds & kSanitizeLockAntiFreezeSupported));
    }
    case Check::kEnd:
        break;
    }
    return false;
}

VK_DWORD GetSetting(PCDA cda, SettingId id) {
    const Setting& setting = kSettings[id];
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr ? LoadSetting(*config, setting) : setting.unstaged;
}

VK_BYTE CanChangeSetting(PCDA cda, SettingId id, VK_DWORD value) {
    const Setting& setting = kSettings[id];
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kNoConfigReason;
    }
    for (const Step& step : setting.steps) {
        if (step.check == Check::kEnd) {
            break;
        }
        if (Applies(cda, *config, setting, step.check, value)) {
            return step.reason;
        }
    }
    return kAllowed;
}

VK_BOOL ChangeSetting(PCDA cda, SettingId id, VK_DWORD value, const char* function, int line) {
    const auto can = [id](PCDA c, VK_DWORD v) { return CanChangeSetting(c, id, v); };
    return telmar::ApplyIfAllowed(cda, value, can, kAllowed, __FILE__, line, function,
                                  [id, value](EDITABLE_CONFIGURATION& config) {
                                      StoreSetting(config, kSettings[id], value);
                                      config.flags |= kSettings[id].dirty;
                                  })
               ? kTrue
               : kFalse;
}

} // namespace

#define EDITABLE_CONTROLLER_SETTING(S, T)                                                                      \
    T VK_GetEditableController##S(PCDA cda) {                                                                  \
        return static_cast<T>(GetSetting(cda, k##S));                                                          \
    }                                                                                                          \
    VK_BYTE VK_CanChangeEditableController##S(PCDA cda, T value) {                                             \
        return CanChangeSetting(cda, k##S, value);                                                             \
    }                                                                                                          \
    VK_BOOL VK_ChangeEditableController##S(PCDA cda, T value) {                                                \
        return ChangeSetting(cda, k##S, value, __func__, __LINE__);                                            \
    }

EDITABLE_CONTROLLER_SETTING(RebuildPriority, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(ExpandPriority, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(SSAPriority, VK_WORD)
EDITABLE_CONTROLLER_SETTING(PSSCount, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(DPO, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(IRP, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(InconsistencyEventNotification, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(ElevatorSort, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(QueueDepth, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(FLS, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(MNPDelay, VK_WORD)
EDITABLE_CONTROLLER_SETTING(SurvivalPowerMode, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(WCBT, VK_DWORD)
EDITABLE_CONTROLLER_SETTING(NotifyOnAnyBroadcast, VK_BYTE)
EDITABLE_CONTROLLER_SETTING(SanitizeLock, VK_BYTE)

#undef EDITABLE_CONTROLLER_SETTING

// ---- Rate percentages ----

namespace telmar::editable {

namespace {
constexpr VK_BYTE kRawPriorityHigh = 118;
constexpr VK_BYTE kRawPriorityMedium = 64;
constexpr VK_BYTE kRawUnknown = 255;
constexpr VK_BYTE kExpandMediumPercent = 55; // the raw medium, 64, as the percentage shows it
} // namespace

std::optional<VK_BYTE> RawRebuildPriority(VK_BYTE priority, bool rapid_rebuild) {
    static constexpr VK_BYTE kRapid[] = {64, 72, 76, kRawPriorityHigh};
    static constexpr VK_BYTE kPlain[] = {0, 64, 76, kRawPriorityHigh};
    if (priority > kControllerRebuildPriorityHigh) {
        return std::nullopt;
    }
    return rapid_rebuild ? kRapid[priority] : kPlain[priority];
}

VK_BYTE RawExpandPriority(VK_BYTE priority) {
    static constexpr VK_BYTE kRaw[] = {0, kRawPriorityMedium, kRawPriorityHigh};
    return priority <= kControllerExpandPriorityHigh ? kRaw[priority] : kRawPriorityMedium;
}

VK_BYTE RebuildPercentFromPriority(VK_BYTE priority, bool rapid_rebuild) {
    if (priority == kControllerRebuildPriorityInvalid) {
        return kRawUnknown;
    }
    return telmar::settings::RebuildRatePercent(RawRebuildPriority(priority, rapid_rebuild).value_or(kRawUnknown));
}

VK_BYTE RebuildPriorityFromPercent(VK_BYTE percent, bool rapid_rebuild) {
    return telmar::settings::RebuildPriority(static_cast<VK_BYTE>(percent * 118u / 100u), rapid_rebuild);
}

VK_BYTE ExpandPercentFromPriority(VK_BYTE priority) {
    switch (priority) {
    case kControllerExpandPriorityInvalid:
        return kRawUnknown;
    case kControllerExpandPriorityLow:
        return 0;
    case kControllerExpandPriorityHigh:
        return 100;
    default:
        return kExpandMediumPercent;
    }
}

VK_BYTE ExpandPriorityFromPercent(VK_BYTE percent) {
    const VK_BYTE raw = static_cast<VK_BYTE>(percent * 118u / 100u);
    if (raw <= 63) {
        return kControllerExpandPriorityLow;
    }
    return raw > 117 ? kControllerExpandPriorityHigh : kControllerExpandPriorityMedium;
}

VK_WORD SSADelayFromPercent(VK_BYTE percent) {
    if (percent == 0) {
        return 0;
    }
    if (percent >= 100) {
        // Past 100 the formula would go below zero: no delay stands for such a percent.
        return percent == 100 ? 1 : 0xFFFF;
    }
    return static_cast<VK_WORD>((14849u - 149u * percent) / 49u);
}

} // namespace telmar::editable

namespace editable = telmar::editable;

VK_BYTE __VK_GetControllerRebuildPriorityFromPercent(PCDA cda, VK_BYTE percent) {
    return editable::RebuildPriorityFromPercent(percent, VK_ControllerSupportsRapidRebuild(cda) != kFalse);
}

VK_BYTE VK_GetEditableControllerRebuildRatePercent(PCDA cda) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || config->editable_ld_count == 0) {
        return kUnknownByte;
    }
    return editable::RebuildPercentFromPriority(config->controller_rebuild_priority,
                                                VK_ControllerSupportsRapidRebuild(cda) != kFalse);
}

VK_BYTE VK_CanChangeEditableControllerRebuildPercent(PCDA cda, VK_BYTE percent) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (Locked(cda)) {
            return kCanChangeEditableControllerRebuildPercentControllerStatusNotOK;
        }
        if (percent > 100) {
            return kCanChangeEditableControllerRebuildPercentInvalidValue;
        }
        if (percent == VK_GetEditableControllerRebuildRatePercent(cda)) {
            return kCanChangeEditableControllerRebuildPercentNoChange;
        }
        if (config.editable_ld_count == 0) {
            return kCanChangeEditableControllerRebuildPercentNoLogicalDrives;
        }
        return kCanChangeEditableControllerRebuildPercentAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerRebuildPercentNoEditableConfigCreated, check);
}

VK_BYTE VK_ChangeEditableControllerRebuildPercent(PCDA cda, VK_BYTE percent) {
    return telmar::ApplyIfAllowed(cda, percent, VK_CanChangeEditableControllerRebuildPercent,
                                  kCanChangeEditableControllerRebuildPercentAllowed, __FILE__, __LINE__, __func__,
                                  [cda, percent](EDITABLE_CONFIGURATION& config) {
                                      config.controller_rebuild_priority =
                                          __VK_GetControllerRebuildPriorityFromPercent(cda, percent);
                                      config.flags |= kEditableConfigControllerParams;
                                  })
               ? kChangeEditableControllerRebuildPercentSuccess
               : kChangeEditableControllerRebuildPercentFailure;
}

VK_BYTE VK_GetEditableControllerExpandPercent(PCDA cda) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr ? editable::ExpandPercentFromPriority(config->controller_transformation_priority)
                             : kUnknownByte;
}

VK_BYTE VK_CanChangeEditableControllerExpandPercent(PCDA cda, VK_BYTE percent) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (percent > 100) {
            return kCanChangeEditableControllerExpandPercentInvalidValue;
        }
        if (percent == VK_GetEditableControllerExpandPercent(cda)) {
            return kCanChangeEditableControllerExpandPercentNoChange;
        }
        if (config.editable_ld_count == 0) {
            return kCanChangeEditableControllerExpandPercentNoLogicalDrives;
        }
        if (Locked(cda)) {
            return kCanChangeEditableControllerExpandPercentControllerStatusNotOK;
        }
        return ExpansionPossible(cda) ? kCanChangeEditableControllerExpandPercentAllowed
                                      : kCanChangeEditableControllerExpandPercentUnsupported;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerExpandPercentNoEditableConfigCreated, check);
}

VK_BYTE VK_ChangeEditableControllerExpandPercent(PCDA cda, VK_BYTE percent) {
    return telmar::ApplyIfAllowed(cda, percent, VK_CanChangeEditableControllerExpandPercent,
                                  kCanChangeEditableControllerExpandPercentAllowed, __FILE__, __LINE__, __func__,
                                  [percent](EDITABLE_CONFIGURATION& config) {
                                      config.controller_transformation_priority =
                                          editable::ExpandPriorityFromPercent(percent);
                                      config.flags |= kEditableConfigControllerParams;
                                  })
               ? kChangeEditableControllerExpandPercentSuccess
               : kChangeEditableControllerExpandPercentFailure;
}

VK_BYTE VK_GetEditableControllerSSARatePercent(PCDA cda) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    return config != nullptr ? _VK_GetControllerSSARatePercentFromPriority(config->controller_surface_scan_priority,
                                                                          config->editable_ld_count)
                             : kUnknownByte;
}

VK_BYTE VK_CanChangeEditableControllerSSAPercent(PCDA cda, VK_BYTE percent) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (Locked(cda)) {
            return kCanChangeEditableControllerSSAPercentControllerStatusNotOK;
        }
        // 1 is what an unknown delay reads as, so it cannot be asked for.
        if (percent > 100 || percent == 1) {
            return kCanChangeEditableControllerSSAPercentInvalidValue;
        }
        if (config.editable_ld_count == 0) {
            return kCanChangeEditableControllerSSAPercentNoLogicalDrives;
        }
        if (percent == VK_GetEditableControllerSSARatePercent(cda)) {
            return kCanChangeEditableControllerSSAPercentNoChange;
        }
        return kCanChangeEditableControllerSSAPercentAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerSSAPercentNoEditableConfigCreated, check);
}

VK_BYTE VK_ChangeEditableControllerSSAPercent(PCDA cda, VK_BYTE percent) {
    CDALock guard(cda);
    const VK_BYTE reason = VK_CanChangeEditableControllerSSAPercent(cda, percent);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u):%u\n", __FILE__, __LINE__, __func__, cda, percent, reason);
    if (reason != kCanChangeEditableControllerSSAPercentAllowed) {
        return kChangeEditableControllerSSAPercentFailure;
    }
    return VK_ChangeEditableControllerSSAPriority(cda, editable::SSADelayFromPercent(percent))
               ? kChangeEditableControllerSSAPercentSuccess
               : kChangeEditableControllerSSAPercentFailure;
}

// ---- Boot volumes ----

namespace {

EDITABLE_BOOT_VOLUME* StagedBootVolume(PEDITABLE_CONFIGURATION config, VK_BYTE precedence) {
    switch (precedence) {
    case kBootableVolumePrecedencePrimary:
        return &config->controller_primary_boot_volume;
    case kBootableVolumePrecedenceSecondary:
        return &config->controller_secondary_boot_volume;
    default:
        return nullptr;
    }
}

bool CoversPrimary(VK_BYTE precedence) {
    return precedence == kBootableVolumePrecedencePrimary || precedence == kBootableVolumePrecedenceAll;
}

bool CoversSecondary(VK_BYTE precedence) {
    return precedence == kBootableVolumePrecedenceSecondary || precedence == kBootableVolumePrecedenceAll;
}

// A drive may boot the host only while the staged configuration leaves it outside every array.
bool StagedBootablePhysicalDrive(PCDA cda, const EDITABLE_CONFIGURATION& config, VK_WORD pd_number) {
    if (pd_number >= kMaxPhysicalDrivesSupported) {
        return false;
    }
    const VK_BYTE usage = config.editable_pd_list[pd_number].config_usage_info;
    return (usage == kPhysicalDriveUsageUnassigned || usage == kPhysicalDriveUsageUnconfigurable) &&
           __VK_CheckBootPhysicalDrive(cda, pd_number);
}

bool Names(const EDITABLE_BOOT_VOLUME& volume, VK_BYTE type, VK_WORD dev_number) {
    return volume.type == type && volume.dev_number == dev_number;
}

} // namespace

VK_WORD VK_GetEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kNoVolume;
    }
    const EDITABLE_BOOT_VOLUME* volume = StagedBootVolume(config, precedence);
    return volume != nullptr && volume->type == volume_type ? volume->dev_number : kNoVolume;
}

VK_BYTE VK_CanClearEditableControllerBootVolume(PCDA cda, VK_BYTE precedence) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (!BootVolumesSupported(cda)) {
            return kCanClearEditableControllerBootVolumeOperationUnsupported;
        }
        if (Locked(cda)) {
            return kCanClearEditableControllerBootVolumeControllerStatusNotOK;
        }
        const bool primary_unset = config.controller_primary_boot_volume.dev_number == kNoVolume;
        const bool secondary_unset = config.controller_secondary_boot_volume.dev_number == kNoVolume;
        if ((precedence == kBootableVolumePrecedenceAll && primary_unset && secondary_unset) ||
            (precedence == kBootableVolumePrecedencePrimary && primary_unset) ||
            (precedence == kBootableVolumePrecedenceSecondary && secondary_unset)) {
            return kCanClearEditableControllerBootVolumeNotSet;
        }
        return CoversPrimary(precedence) || CoversSecondary(precedence)
                   ? kCanClearEditableControllerBootVolumeAllowed
                   : kCanClearEditableControllerBootVolumeInvalidPrecedence;
    };
    return telmar::StagedAnswer(cda, kCanClearEditableControllerBootVolumeNoEditableConfigCreated, check);
}

VK_BOOL VK_ClearEditableControllerBootVolume(PCDA cda, VK_BYTE precedence) {
    return telmar::ApplyIfAllowed(cda, precedence, VK_CanClearEditableControllerBootVolume,
                                  kCanClearEditableControllerBootVolumeAllowed, __FILE__, __LINE__, __func__,
                                  [precedence](EDITABLE_CONFIGURATION& config) {
                                      if (CoversPrimary(precedence)) {
                                          config.controller_primary_boot_volume.dev_number = kNoVolume;
                                          config.controller_bootable_volume_flags |= kBootVolumePrimaryChanged;
                                      }
                                      if (CoversSecondary(precedence)) {
                                          config.controller_secondary_boot_volume.dev_number = kNoVolume;
                                          config.controller_bootable_volume_flags |= kBootVolumeSecondaryChanged;
                                      }
                                      config.flags |= kEditableConfigControllerParams;
                                  })
               ? kTrue
               : kFalse;
}

VK_BYTE VK_CanChangeEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type,
                                                 VK_WORD dev_number) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (!BootVolumesSupported(cda)) {
            return kCanChangeEditableControllerBootVolumeOperationUnsupported;
        }
        if (Locked(cda)) {
            return kCanChangeEditableControllerBootVolumeControllerStatusNotOK;
        }
        if (!CoversPrimary(precedence) && !CoversSecondary(precedence)) {
            return kCanChangeEditableControllerBootVolumeInvalidPrecedence;
        }
        if (volume_type > kBootableVolumeDriveTypeRemote) {
            return kCanChangeEditableControllerBootVolumeInvalidBootVolumeType;
        }
        if (dev_number == kNoVolume) {
            return kCanChangeEditableControllerBootVolumeInvalidBootVolumeNumber;
        }
        switch (volume_type) {
        case kBootableVolumeDriveTypePhysical:
            if (!VK_ControllerSupportsMixedMode(cda) || !StagedBootablePhysicalDrive(cda, config, dev_number)) {
                return kCanChangeEditableControllerBootVolumeInvalidPhysicalBootVolume;
            }
            break;
        case kBootableVolumeDriveTypeLogical: {
            const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, dev_number);
            if (ld == nullptr ||
                (ld->flags & (kEditableLDLUCache | kEditableLDSplitMirrorBackup | kEditableLDSplitMirrorOrphan))) {
                return kCanChangeEditableControllerBootVolumeInvalidLogicalBootVolume;
            }
            break;
        }
        default:
            if (!__VK_CheckBootRemoteVolume(cda, dev_number)) {
                return kCanChangeEditableControllerBootVolumeInvalidRemoteBootVolume;
            }
            break;
        }
        const bool is_primary = Names(config.controller_primary_boot_volume, volume_type, dev_number);
        const bool is_secondary = Names(config.controller_secondary_boot_volume, volume_type, dev_number);
        if ((precedence == kBootableVolumePrecedenceAll && is_primary && is_secondary) ||
            (precedence == kBootableVolumePrecedencePrimary && is_primary) ||
            (precedence == kBootableVolumePrecedenceSecondary && is_secondary)) {
            return kCanChangeEditableControllerBootVolumeAlreadySet;
        }
        return kCanChangeEditableControllerBootVolumeAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerBootVolumeNoEditableConfigCreated, check);
}

VK_BOOL VK_ChangeEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type,
                                              VK_WORD dev_number) {
    CDALock guard(cda);
    const VK_BYTE reason = VK_CanChangeEditableControllerBootVolume(cda, precedence, volume_type, dev_number);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %u, %u):%u\n", __FILE__, __LINE__, __func__, cda, precedence, volume_type,
                dev_number, reason);
    if (reason != kCanChangeEditableControllerBootVolumeAllowed) {
        return kFalse;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const EDITABLE_BOOT_VOLUME chosen{volume_type, dev_number};
    if (CoversPrimary(precedence)) {
        config->controller_primary_boot_volume = chosen;
        config->controller_bootable_volume_flags |= kBootVolumePrimaryChanged;
    }
    if (CoversSecondary(precedence)) {
        config->controller_secondary_boot_volume = chosen;
        config->controller_bootable_volume_flags |= kBootVolumeSecondaryChanged;
    }
    config->flags |= kEditableConfigControllerParams;
    return kTrue;
}

void _VK_RefreshEditableControllerBootVolumes(PCDA cda) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return;
    }
    for (EDITABLE_BOOT_VOLUME* volume : {&config->controller_primary_boot_volume,
                                         &config->controller_secondary_boot_volume}) {
        if (volume->dev_number == kNoVolume) {
            continue;
        }
        const bool gone =
            (volume->type == kBootableVolumeDriveTypeLogical &&
             _VK_GetEditableLogicalDrive(cda, volume->dev_number) == nullptr) ||
            (volume->type == kBootableVolumeDriveTypePhysical &&
             !StagedBootablePhysicalDrive(cda, *config, volume->dev_number));
        if (gone) {
            volume->dev_number = kNoVolume;
            config->flags |= kEditableConfigControllerParams;
        }
    }
}

// ---- Spare activation mode ----

VK_BOOL _VK_EditableArrayContainsNewLogicalDrive(PCDA cda, VK_WORD array_number) {
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, array_number);
    if (array == nullptr) {
        return kFalse;
    }
    const size_t count = std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives));
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
        if (ld != nullptr && (ld->flags & kEditableLDNewDrive)) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL _VK_ExistsNewArrayWithPredictiveFailureDrive(PCDA cda) {
    CDALock guard(cda);
    for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
        if (array == nullptr || (!(array->flags & kEditableArrNew) && !_VK_EditableArrayContainsNewLogicalDrive(cda, a))) {
            continue;
        }
        const size_t data = std::min<size_t>(array->data_drive_count, std::size(array->data_drives));
        const size_t spares = std::min<size_t>(array->spare_drive_count, std::size(array->spare_drives));
        for (size_t i = 0; i < data + spares; ++i) {
            const VK_WORD pd = i < data ? array->data_drives[i] : array->spare_drives[i - data];
            if (VK_GetPhysicalDriveStatusInfo(cda, pd) & kPhysicalDriveStatusPredictiveFailure) {
                return kTrue;
            }
        }
    }
    return kFalse;
}

namespace {

bool LiveArrayHasRAID0(PCDA cda, VK_WORD array_number) {
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        if ((VK_GetLogicalDriveRAIDInfo(cda, ld) & 0xFF) == kRAID0) {
            return true;
        }
    }
    return false;
}

bool StagedArrayHasRAID0(PCDA cda, const EDITABLE_ARRAY& array) {
    const size_t count = std::min<size_t>(array.logical_drive_count, std::size(array.logical_drives));
    for (size_t i = 0; i < count; ++i) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array.logical_drives[i]);
        if (ld != nullptr && ld->RAID_level == kRAID0) {
            return true;
        }
    }
    return false;
}

} // namespace

VK_BYTE VK_GetEditableControllerSAM(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::controller_spare_activation_mode,
                                 kControllerSAMTypeInvalid);
}

VK_BYTE VK_CanChangeEditableControllerSAM(PCDA cda, VK_BYTE mode) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (Locked(cda)) {
            return kCanChangeEditableControllerSAMControllerStatusNotOK;
        }
        if (mode > kControllerSAMTypePredictive || !VK_RequestArrayConfigurationInformation(cda) ||
            (mode == kControllerSAMTypePredictive && !VK_ControllerSupportsPredictiveSpareRebuild(cda))) {
            return kCanChangeEditableControllerSAMUnsupportedMode;
        }
        if (config.editable_ld_count == 0) {
            return kCanChangeEditableControllerSAMNoLogicalDrives;
        }
        if (mode == config.controller_spare_activation_mode) {
            return kCanChangeEditableControllerSAMSelectedModeActive;
        }
        if (mode == kControllerSAMTypePredictive && _VK_ExistsNewArrayWithPredictiveFailureDrive(cda)) {
            return kCanChangeEditableControllerSAMEditableArrayHasPredictiveFailureDrive;
        }
        if (_VK_ControllerHasEncryptedLogicalDriveWithMissingKey(cda)) {
            return kCanChangeEditableControllerSAMLogicalDriveMissingKey;
        }
        for (VK_WORD a = VK_EnumerateAllArrays(cda, kInvalidArrayNumber); a != kInvalidArrayNumber;
             a = VK_EnumerateAllArrays(cda, a)) {
            const VK_DWORD status = VK_GetArrayStatusInfo(cda, a);
            if (status & (kArrayStatusHasTransformingLogicalDrive | kArrayStatusHasRekeyingLogicalDrive)) {
                return kCanChangeEditableControllerSAMArrayIsTransforming;
            }
            // An active spare under a RAID 0 drive is part of it only while spares activate predictively.
            if (config.controller_spare_activation_mode == kControllerSAMTypePredictive &&
                (status & kArrayStatusHasActiveSpare) && LiveArrayHasRAID0(cda, a)) {
                return kCanChangeEditableControllerSAMArrayHasActiveSpare;
            }
        }
        if (mode == kControllerSAMTypeFailure) {
            for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
                const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
                if (array != nullptr && VK_GetEditableArraySpareType(cda, a) == kSpareDriveTypeAutoReplace &&
                    StagedArrayHasRAID0(cda, *array)) {
                    return kCanChangeEditableControllerSAMArrayHasAutoReplaceSpare;
                }
            }
        }
        return kCanChangeEditableControllerSAMOperationAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerSAMNoEditableConfigCreated, check);
}

VK_BOOL VK_ChangeEditableControllerSAM(PCDA cda, VK_BYTE mode) {
    const auto apply = [cda, mode](EDITABLE_CONFIGURATION& config) {
        config.controller_spare_activation_mode = mode;
        config.flags |= kEditableConfigControllerParams;
        // How a RAID 0 drive's spares are assigned depends on the mode: have the commit assign them again.
        for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
            const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
            if (array == nullptr || array->spare_drive_count == 0) {
                continue;
            }
            const size_t count = std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives));
            for (size_t i = 0; i < count; ++i) {
                const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
                if (ld != nullptr && ld->RAID_level == kRAID0) {
                    ld->flags |= kEditableLDSparesChanged;
                }
            }
        }
    };
    return telmar::ApplyIfAllowed(cda, mode, VK_CanChangeEditableControllerSAM,
                                  kCanChangeEditableControllerSAMOperationAllowed, __FILE__, __LINE__, __func__, apply)
               ? kTrue
               : kFalse;
}

// ---- Drive write cache ----

namespace {

bool PerDriveTypeWriteCache(PCDA cda) {
    return VK_ControllerSupportsDriveWriteCacheForAllDrives(cda) != kFalse;
}

VK_BYTE WriteCacheDriveTypes(PCDA cda) {
    return (VK_ControllerSupportsAdditionalRAIDInfo(cda) & kAdditionalRAIDInfoNVMe) ? 6 : 4;
}

// Whether some connector can hold drives of the usage type (or of any, for all of them).
bool UsageTypeSupported(PCDA cda, VK_BYTE usage_type) {
    const bool mixed = _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeMixed) != kFalse;
    switch (usage_type) {
    case kDriveWriteCacheUsageTypeConfigured:
        return mixed || _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeRAID);
    case kDriveWriteCacheUsageTypeUnconfigured:
        return mixed;
    case kDriveWriteCacheUsageTypeHBA:
        return _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeHBA) != kFalse;
    default:
        return mixed || _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeRAID) ||
               _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeHBA);
    }
}

// The controller-wide model keeps one value in element 0.
VK_BYTE CanChangeSingleWriteCacheMode(PCDA cda, const EDITABLE_CONFIGURATION& config, VK_BYTE mode) {
    if (Locked(cda)) {
        return kCanChangeEditableControllerDriveWriteCacheModeControllerStatusNotOK;
    }
    if (mode != kControllerDriveWriteCacheEnabled && mode != kControllerDriveWriteCacheDisabled) {
        return kCanChangeEditableControllerDriveWriteCacheModeInvalidMode;
    }
    if (config.editable_ld_count == 0) {
        return kCanChangeEditableControllerDriveWriteCacheModeNoLogicalDrives;
    }
    if (!VK_ControllerSupportsDriveWriteCache(cda)) {
        return kCanChangeEditableControllerDriveWriteCacheModeNotSupported;
    }
    return mode == config.controller_drive_write_cache_policy[0]
               ? kCanChangeEditableControllerDriveWriteCacheModeNoChange
               : kCanChangeEditableControllerDriveWriteCacheModeAllowed;
}

VK_BYTE CanChangeTableWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type, VK_BYTE policy) {
    if (Locked(cda)) {
        return kCanChangeEditableControllerDriveWriteCachePolicyControllerStatusNotOK;
    }
    if (drive_type != kDriveWriteCacheDriveTypeAll) {
        return kCanChangeEditableControllerDriveWriteCachePolicyInvalidDriveType;
    }
    if (usage_type > kDriveWriteCacheUsageTypeHBA && usage_type != kDriveWriteCacheUsageTypeAll) {
        return kCanChangeEditableControllerDriveWriteCachePolicyInvalidUsageType;
    }
    if (!UsageTypeSupported(cda, usage_type)) {
        return kCanChangeEditableControllerDriveWriteCachePolicyUnsupportedUsageType;
    }
    if (policy > kControllerDriveWriteCacheUnchanged ||
        (policy == kControllerDriveWriteCacheUnchanged && !_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(cda))) {
        return kCanChangeEditableControllerDriveWriteCachePolicyInvalidPolicy;
    }
    return kCanChangeEditableControllerDriveWriteCachePolicyAllowed;
}

VK_BYTE TableWriteCachePolicy(PCDA cda, const EDITABLE_CONFIGURATION& config, VK_BYTE drive_type, VK_BYTE usage_type) {
    if (drive_type >= WriteCacheDriveTypes(cda) || usage_type >= kWriteCacheUsageTypes ||
        !UsageTypeSupported(cda, usage_type)) {
        return kControllerDriveWriteCacheInvalid;
    }
    const VK_BYTE bits =
        telmar::settings::DriveWriteCachePolicyBits(config.controller_drive_write_cache_policy[drive_type], usage_type);
    return bits == kControllerDriveWriteCacheUnchanged && !_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(cda)
               ? kControllerDriveWriteCacheInvalid
               : bits;
}

} // namespace

VK_BYTE VK_GetEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type) {
    const auto read = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (PerDriveTypeWriteCache(cda)) {
            return TableWriteCachePolicy(cda, config, drive_type, usage_type);
        }
        if (drive_type > kDriveWriteCacheDriveTypeNVMESSD || usage_type >= kWriteCacheUsageTypes) {
            return kControllerDriveWriteCacheInvalid;
        }
        return usage_type == kDriveWriteCacheUsageTypeConfigured ? config.controller_drive_write_cache_policy[0]
                                                                 : kControllerDriveWriteCacheDefault;
    };
    return telmar::StagedAnswer(cda, kControllerDriveWriteCacheInvalid, read);
}

VK_BYTE VK_GetEditableControllerDriveWriteCacheMode(PCDA cda) {
    const auto read = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (!PerDriveTypeWriteCache(cda)) {
            return config.controller_drive_write_cache_policy[0];
        }
        bool all_enabled = true;
        bool all_disabled = true;
        for (VK_BYTE d = 0; d < WriteCacheDriveTypes(cda); ++d) {
            const VK_BYTE policy = TableWriteCachePolicy(cda, config, d, kDriveWriteCacheUsageTypeConfigured);
            all_enabled = all_enabled && policy == kControllerDriveWriteCacheEnabled;
            all_disabled = all_disabled && policy == kControllerDriveWriteCacheDisabled;
        }
        return all_enabled    ? kControllerDriveWriteCacheEnabled
               : all_disabled ? kControllerDriveWriteCacheDisabled
                              : kControllerDriveWriteCacheInvalid;
    };
    return telmar::StagedAnswer(cda, kControllerDriveWriteCacheInvalid, read);
}

VK_BYTE VK_CanChangeEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type,
                                                            VK_BYTE policy) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (PerDriveTypeWriteCache(cda)) {
            return CanChangeTableWriteCachePolicy(cda, drive_type, usage_type, policy);
        }
        if (Locked(cda)) {
            return kCanChangeEditableControllerDriveWriteCachePolicyControllerStatusNotOK;
        }
        if (drive_type != kDriveWriteCacheDriveTypeAll) {
            return kCanChangeEditableControllerDriveWriteCachePolicyInvalidDriveType;
        }
        if (usage_type != kDriveWriteCacheUsageTypeConfigured) {
            return kCanChangeEditableControllerDriveWriteCachePolicyInvalidUsageType;
        }
        return CanChangeSingleWriteCacheMode(cda, config, policy);
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerDriveWriteCachePolicyNoEditableConfigCreated, check);
}

VK_BOOL VK_ChangeEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type,
                                                         VK_BYTE policy) {
    CDALock guard(cda);
    const VK_BYTE reason = VK_CanChangeEditableControllerDriveWriteCachePolicy(cda, drive_type, usage_type, policy);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %u, %u):%u\n", __FILE__, __LINE__, __func__, cda, drive_type, usage_type,
                policy, reason);
    if (reason != kCanChangeEditableControllerDriveWriteCachePolicyAllowed) {
        return kFalse;
    }
    if (!PerDriveTypeWriteCache(cda)) {
        return VK_ChangeEditableControllerDriveWriteCacheMode(cda, policy);
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const VK_BYTE types = WriteCacheDriveTypes(cda);
    for (VK_BYTE u = 0; u < kWriteCacheUsageTypes; ++u) {
        if (usage_type != kDriveWriteCacheUsageTypeAll && usage_type != u) {
            continue;
        }
        for (VK_BYTE d = 0; d < types; ++d) {
            VK_BYTE& element = config->controller_drive_write_cache_policy[d];
            element = static_cast<VK_BYTE>((element & ~(0x3 << (2 * u))) | (policy << (2 * u)));
        }
    }
    config->flags |= kEditableConfigControllerParams;
    return kTrue;
}

VK_BYTE VK_CanChangeEditableControllerDriveWriteCacheMode(PCDA cda, VK_BYTE mode) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (PerDriveTypeWriteCache(cda)) {
            return VK_CanChangeEditableControllerDriveWriteCachePolicy(cda, kDriveWriteCacheDriveTypeAll,
                                                                       kDriveWriteCacheUsageTypeConfigured, mode);
        }
        return CanChangeSingleWriteCacheMode(cda, config, mode);
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerDriveWriteCacheModeNoEditableConfigCreated, check);
}

VK_BOOL VK_ChangeEditableControllerDriveWriteCacheMode(PCDA cda, VK_BYTE mode) {
    CDALock guard(cda);
    if (PerDriveTypeWriteCache(cda) && _VK_GetEditableConfiguration(cda) != nullptr) {
        return VK_ChangeEditableControllerDriveWriteCachePolicy(cda, kDriveWriteCacheDriveTypeAll,
                                                                kDriveWriteCacheUsageTypeConfigured, mode);
    }
    return telmar::ApplyIfAllowed(cda, mode, VK_CanChangeEditableControllerDriveWriteCacheMode,
                                  kCanChangeEditableControllerDriveWriteCacheModeAllowed, __FILE__, __LINE__, __func__,
                                  [mode](EDITABLE_CONFIGURATION& config) {
                                      config.controller_drive_write_cache_policy[0] = mode;
                                      config.flags |= kEditableConfigControllerParams;
                                  })
               ? kTrue
               : kFalse;
}

// ---- Cache settings ----

VK_BOOL __VK_ControllerCacheIsActive(PCDA cda) {
    CDALock guard(cda);
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld != nullptr && ld->logical_drive_accelerator == kLogicalDriveAcceleratorControllerCache) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL __VK_AnyLogicalDriveAllowsNBWC(PCDA cda) {
    CDALock guard(cda);
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld != nullptr && VK_GetEditableLogicalDriveType(cda, n) == kLogicalDriveTypeData &&
            ld->logical_drive_accelerator != kLogicalDriveAcceleratorIOBypass &&
            ld->logical_drive_accelerator != kLogicalDriveAcceleratorLUCache) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL VK_IsEditableControllerLUCacheEnabled(PCDA cda) {
    CDALock guard(cda);
    for (VK_WORD a = 0; a < kMaxArraysSupported; ++a) {
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
        if (array != nullptr && (array->flags & kEditableArrLUCache)) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BYTE VK_GetEditableControllerNBWC(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::controller_nbwc, kUnknownByte);
}

VK_BYTE VK_GetEditableControllerWaitForCacheRoom(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::controller_wait_for_cache_room, kUnknownByte);
}

VK_BYTE VK_GetEditableControllerReadCachePercent(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::controller_read_cache_percent, kUnknownByte);
}

namespace {

// A cache switch (the no-battery write cache, waiting for cache room): its largest value, support
// test, staged member and the reason codes of its checks.
struct CacheSwitch {
    VK_BYTE maximum;
    VK_BOOL (*supported)(PCDA);
    VK_BYTE EDITABLE_CONFIGURATION::*staged;
    VK_BYTE locked;
    VK_BYTE invalid;
    VK_BYTE unsupported;
    VK_BYTE hba_mode;
    VK_BYTE no_cache;
    VK_BYTE cache_status;
    VK_BYTE no_logical_drives;
    VK_BYTE none_allows;
    VK_BYTE no_change;
    VK_BYTE allowed;
};

// The checks both switches make, in the order the controller is asked.
VK_BYTE CanChangeCacheSwitch(PCDA cda, const EDITABLE_CONFIGURATION& config, const CacheSwitch& cache_switch,
                             VK_BYTE value) {
    if (Locked(cda)) {
        return cache_switch.locked;
    }
    if (value > cache_switch.maximum) {
        return cache_switch.invalid;
    }
    if (!cache_switch.supported(cda)) {
        return cache_switch.unsupported;
    }
    if (InHBAMode(cda)) {
        return cache_switch.hba_mode;
    }
    if (NoCache(cda)) {
        return cache_switch.no_cache;
    }
    if (CacheDisabled(cda)) {
        return cache_switch.cache_status;
    }
    if (config.editable_ld_count == 0) {
        return cache_switch.no_logical_drives;
    }
    if (!__VK_AnyLogicalDriveAllowsNBWC(cda)) {
        return cache_switch.none_allows;
    }
    return value == config.*cache_switch.staged ? cache_switch.no_change : cache_switch.allowed;
}

constexpr CacheSwitch kNBWCSwitch{kControllerNBWCDisabled,
                                  VK_ControllerSupportsNBWC,
                                  &EDITABLE_CONFIGURATION::controller_nbwc,
                                  kCanChangeEditableControllerNBWCControllerStatusNotOK,
                                  kCanChangeEditableControllerNBWCInvalidValue,
                                  kCanChangeEditableControllerNBWCOperationUnsupported,
                                  kCanChangeEditableControllerNBWCInHBAMode,
                                  kCanChangeEditableControllerNBWCNoCachePresent,
                                  kCanChangeEditableControllerNBWCCacheStatusNotOK,
                                  kCanChangeEditableControllerNBWCNoLogicalDrives,
                                  kCanChangeEditableControllerNBWCNoLogicalDriveAllowsNBWC,
                                  kCanChangeEditableControllerNBWCNoChange,
                                  kCanChangeEditableControllerNBWCAllowed};

constexpr CacheSwitch kWaitForCacheRoomSwitch{
    kControllerWaitForCacheRoomEnabled,
    VK_ControllerSupportsWaitForCacheRoom,
    &EDITABLE_CONFIGURATION::controller_wait_for_cache_room,
    kCanChangeEditableControllerWaitForCacheRoomControllerStatusNotOK,
    kCanChangeEditableControllerWaitForCacheRoomInvalidValue,
    kCanChangeEditableControllerWaitForCacheRoomOperationUnsupported,
    kCanChangeEditableControllerWaitForCacheRoomInHBAMode,
    kCanChangeEditableControllerWaitForCacheRoomNoCachePresent,
    kCanChangeEditableControllerWaitForCacheRoomCacheStatusNotOK,
    kCanChangeEditableControllerWaitForCacheRoomNoLogicalDrives,
    kCanChangeEditableControllerWaitForCacheRoomNoLogicalDriveAllowsWaitForCacheRoom,
    kCanChangeEditableControllerWaitForCacheRoomNoChange,
    kCanChangeEditableControllerWaitForCacheRoomAllowed};

} // namespace

VK_BYTE VK_CanChangeEditableControllerNBWC(PCDA cda, VK_BYTE value) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        const VK_BYTE reason = CanChangeCacheSwitch(cda, config, kNBWCSwitch, value);
        if (reason != kCanChangeEditableControllerNBWCAllowed || value != kControllerNBWCDisabled) {
            return reason;
        }
        // Without the no-battery write cache the read share must fit what the controller allows then.
        const VK_BYTE read = config.controller_read_cache_percent;
        const VK_WORD limits = VK_GetControllerNonBatteryBackedReadCachePercentLimits(cda);
        const VK_BYTE minimum = GET_CONTROLLER_NON_BATTERY_BACKED_MIN_READ_CACHE_PERCENT(limits);
        const VK_BYTE maximum = GET_CONTROLLER_NON_BATTERY_BACKED_MAX_READ_CACHE_PERCENT(limits);
        if (read != kControllerReadCachePercentInvalid &&
            minimum != kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid &&
            maximum != kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid && (read < minimum || read > maximum)) {
            return kCanChangeEditableControllerNBWCReadCachePercentNotInRange;
        }
        return kCanChangeEditableControllerNBWCAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerNBWCNoEditableConfigCreated, check);
}

VK_BYTE VK_CanChangeEditableControllerWaitForCacheRoom(PCDA cda, VK_BYTE value) {
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerWaitForCacheRoomNoEditableConfigCreated,
                                [&](EDITABLE_CONFIGURATION& config) {
                                    return CanChangeCacheSwitch(cda, config, kWaitForCacheRoomSwitch, value);
                                });
}

VK_WORD VK_GetEditableControllerReadCachePercentLimits(PCDA cda) {
    // The write share already weighs the staged no-battery write cache; 255 reads as both limits 101.
    return telmar::settings::ReadCacheLimits(_VK_GetControllerMaxWriteCachePercent(cda, kTrue));
}

VK_BYTE VK_CanChangeEditableControllerReadCachePercentOnEmptyConfig(PCDA cda, VK_BYTE percent) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (Locked(cda)) {
            return kCanChangeEditableControllerReadCachePercentControllerStatusNotOK;
        }
        if (InHBAMode(cda)) {
            return kCanChangeEditableControllerReadCachePercentInHBAMode;
        }
        if (NoCache(cda)) {
            return kCanChangeEditableControllerReadCachePercentNoCachePresent;
        }
        if (CacheDisabled(cda)) {
            return kCanChangeEditableControllerReadCachePercentCacheStatusNotOk;
        }
        if (VK_IsEditableControllerLUCacheEnabled(cda)) {
            return kCanChangeEditableControllerReadCachePercentLUCacheEnabled;
        }
        // Writes are cached without a charged backup power source only by the no-battery write cache.
        if (VK_GetControllerBackupPowerSourceStatus(cda) != kControllerBackupPowerSourcePresentAndCharged &&
            config.controller_nbwc == kControllerNBWCDisabled && percent != 100) {
            return kCanChangeEditableControllerReadCachePercentBadPowerSource;
        }
        if (percent % 5 != 0 || percent > 100) {
            return kCanChangeEditableControllerReadCachePercentInvalidValue;
        }
        const VK_WORD limits = VK_GetEditableControllerReadCachePercentLimits(cda);
        if (percent < GET_EDITABLE_CONTROLLER_MIN_READ_CACHE_PERCENT(limits) ||
            percent > GET_EDITABLE_CONTROLLER_MAX_READ_CACHE_PERCENT(limits)) {
            return kCanChangeEditableControllerReadCachePercentNotInRange;
        }
        return percent == config.controller_read_cache_percent ? kCanChangeEditableControllerReadCachePercentNoChange
                                                                : kCanChangeEditableControllerReadCachePercentAllowed;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerReadCachePercentNoEditableConfigCreated, check);
}

VK_BYTE VK_CanChangeEditableControllerReadCachePercent(PCDA cda, VK_BYTE percent) {
    CDALock guard(cda);
    const VK_BYTE reason = VK_CanChangeEditableControllerReadCachePercentOnEmptyConfig(cda, percent);
    if (reason != kCanChangeEditableControllerReadCachePercentAllowed) {
        return reason;
    }
    if (_VK_GetEditableConfiguration(cda)->editable_ld_count == 0) {
        return kCanChangeEditableControllerReadCachePercentNoLogicalDrives;
    }
    return __VK_ControllerCacheIsActive(cda) ? kCanChangeEditableControllerReadCachePercentAllowed
                                             : kCanChangeEditableControllerReadCachePercentControllerCacheInactive;
}

namespace {

// The three cache settings' Change: the check, its trace, then the value and the cache dirty bit.
VK_BOOL ChangeCacheSetting(PCDA cda, VK_BYTE value, VK_BYTE EDITABLE_CONFIGURATION::*member,
                           VK_BYTE (*can)(PCDA, VK_BYTE), const char* function, int line) {
    return telmar::ApplyIfAllowed(cda, value, can, kAllowed, __FILE__, line, function,
                                  [value, member](EDITABLE_CONFIGURATION& config) {
                                      config.*member = value;
                                      config.flags |= kEditableConfigCacheConfig;
                                  })
               ? kTrue
               : kFalse;
}

} // namespace

VK_BOOL VK_ChangeEditableControllerNBWC(PCDA cda, VK_BYTE value) {
    return ChangeCacheSetting(cda, value, &EDITABLE_CONFIGURATION::controller_nbwc,
                              VK_CanChangeEditableControllerNBWC, __func__, __LINE__);
}

VK_BOOL VK_ChangeEditableControllerWaitForCacheRoom(PCDA cda, VK_BYTE value) {
    return ChangeCacheSetting(cda, value, &EDITABLE_CONFIGURATION::controller_wait_for_cache_room,
                              VK_CanChangeEditableControllerWaitForCacheRoom, __func__, __LINE__);
}

VK_BOOL VK_ChangeEditableControllerReadCachePercent(PCDA cda, VK_BYTE value) {
    return ChangeCacheSetting(cda, value, &EDITABLE_CONFIGURATION::controller_read_cache_percent,
                              VK_CanChangeEditableControllerReadCachePercent, __func__, __LINE__);
}

// Commit steps: controller level and existing logical drives

namespace {

constexpr VK_BYTE kDriveConfigPredictiveSpares = 0x80;     // CONTROLLER_PARAMETERS drive_configuration_flags
constexpr VK_BYTE kDriveConfigWriteCacheEnabled = 0x01;
constexpr VK_BYTE kControllerConfigDPOEnabled = 0x08;      // controller_configuration_flags
constexpr VK_BYTE kControllerConfigIRPEnabled = 0x04;
constexpr VK_BYTE kControllerConfigInconsistencyEvent = 0x10;
constexpr VK_DWORD kMoreNVRAMNotifyOnAnyBroadcast = 0x4000; // dwMoreNVRAMFlags
constexpr VK_BYTE kSanitizeKeptBits = 0x0F;
constexpr VK_BYTE kRawRebuildUnknownAtCommit = 118;
constexpr VK_WORD kQueueDepthAutomatic = 0xFFFF;
constexpr VK_BYTE kMaxFLSSetting = 5;
constexpr VK_DWORD kDefaultWCBT = 65;
constexpr VK_BYTE kPrimaryBootVolumeChanged = 0x1;         // controller_bootable_volume_flags
constexpr VK_BYTE kSecondaryBootVolumeChanged = 0x2;
constexpr size_t kIdentifyLDSize = 118;

constexpr VK_BYTE kDDRCachingPageBit = 0x04;               // cache feature page bFlags
constexpr VK_DWORD kIdentifyDDRCachingValid = 0x100000;    // dwYetMoreControllerFlags
constexpr VK_DWORD kIdentifyDDRCachingMinLength = 287;     // dwFixedStructureLength above 286
constexpr VK_DWORD kIdentifyNoDDRCaching = 0x80;           // dwExtraControllerFlags
constexpr VK_BYTE kReadCachePercentDefault = 0xFF;
constexpr VK_DWORD kAllCacheDisabled = 0xFFFFFFFF;
constexpr VK_BYTE kNBWCDisabled = 1;

constexpr VK_WORD kSurfaceDelayMaximum = 300;
constexpr VK_WORD kSurfaceDelayDefault = 30;
constexpr VK_WORD kMNPDelayNone = 0xFFFF;
constexpr VK_WORD kMNPDelayDefault = 60;

// Whether a buffer the controller filled reports a total that the buffer holds; one that does not
// cannot be written back, so the step fails before it sends anything.
template <typename T> bool TotalFits(const T& buffer, const char* function, int line) {
    if (buffer.dwTotalStructureLength <= sizeof(T)) {
        return true;
    }
    PN_DebugLog(1, 0, "%s:%d: Buffer reports %u bytes, more than the %zu it holds\n", function, line,
                static_cast<unsigned>(buffer.dwTotalStructureLength), sizeof(T));
    return false;
}

template <typename Int> void SetBits(Int& field, Int bits, bool set) {
    field = set ? static_cast<Int>(field | bits) : static_cast<Int>(field & ~bits);
}

VK_WORD QueueDepthOf(VK_BYTE staged) {
    static constexpr VK_WORD kDepths[] = {2, 4, 8, 16, 32};
    return staged >= 1 && staged <= 5 ? kDepths[staged - 1] : kQueueDepthAutomatic;
}

// The 16-byte id of a staged boot volume into `field`; a failed fetch leaves the field as read.
void PutBootVolume(PCDA cda, const EDITABLE_BOOT_VOLUME& volume, VK_BYTE (&field)[kVolumeIdSize]) {
    if (volume.dev_number == kNoDevice) {
        std::memset(field, 0, sizeof(field));
        return;
    }
    VK_BYTE id[kVolumeIdSize] = {};
    VK_BOOL fetched = kFalse;
    switch (volume.type) {
    case kBootableVolumeDriveTypeLogical:
        fetched = _VK_GetEditableLogicalDriveUniqueVolumeID(cda, volume.dev_number, id, sizeof(id));
        break;
    case kBootableVolumeDriveTypePhysical:
        fetched = _VK_GetEditablePhysicalDriveUniqueVolumeID(cda, volume.dev_number, id, sizeof(id));
        break;
    case kBootableVolumeDriveTypeRemote:
        fetched = _VK_GetEditableRemoteVolumeUniqueID(cda, volume.dev_number, id, sizeof(id));
        break;
    default:
        break;
    }
    if (fetched) {
        std::memcpy(field, id, sizeof(field));
    }
}

// The read share of step 3; false leaves the sizes as read. The total is worked out in 64 bits, so
// a cache of 4 GiB or more does not wrap, and a shift the total cannot take leaves the sizes alone.
bool ApplyReadShare(CACHE_CONFIG_STATUS& status, VK_BYTE staged_percent) {
    VK_DWORD percent = staged_percent;
    if (percent == kReadCachePercentDefault) {
        percent = status.bDefaultPercentReadCache;
        if (percent % 5 == 0) {
            return false;
        }
        percent = (percent + 4) / 5 * 5;
    }
    const VK_BYTE shift = status.bMemorySizeShiftFactor;
    if (percent > 100 || shift >= 32) {
        return false;
    }
    const VK_QWORD total = static_cast<VK_QWORD>(status.wTotalMemorySize) << shift;
    status.read_cache_size = static_cast<VK_WORD>((percent * total / 100) >> shift);
    status.write_cache_size = static_cast<VK_WORD>(status.wTotalMemorySize - status.read_cache_size);
    return true;
}

// One controller-level write of the commit: the texts it logs and the buffer it sends.
template <typename Buffer> struct ControllerWrite {
    Buffer* (*copy)(PCDA);
    VK_BOOL (*send)(PCDA, Buffer*);
    VK_UINT64 error;        // the step's commit-error bit
    const char* copy_name;  // the buffer as the soft assertion names it
    const char* no_copy;    // that assertion's message
    const char* unchanged;  // a copy left as read is then not sent; nullptr sends it regardless
    const char* setting;
    const char* failed;
};

// A controller-level commit step: a fresh copy of the controller's buffer, `fill` applied from the
// staged configuration, sent back. Every line logged names the step at `function` and `line`.
template <typename Buffer, typename Fill>
VK_UINT64 CommitControllerWrite(PCDA cda, const ControllerWrite<Buffer>& write, const char* function, int line,
                                Fill fill) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return write.error;
    }
    Buffer* buffer = CopyForUpdate(cda, write.copy, function, line, write.copy_name, write.no_copy);
    if (buffer == nullptr) {
        return write.error;
    }
    if constexpr (requires { buffer->dwTotalStructureLength; }) {
        if (!TotalFits(*buffer, function, line)) {
            VK_free(buffer);
            return write.error;
        }
    }
    const Buffer original = *buffer;
    fill(*buffer, static_cast<const EDITABLE_CONFIGURATION&>(*config));
    if (write.unchanged != nullptr && std::memcmp(&original, buffer, sizeof(original)) == 0) {
        PN_DebugLog(2, 0, "%s:%d: %s\n", function, line, write.unchanged);
        VK_free(buffer);
        return 0;
    }
    PN_DebugLog(2, 0, "%s:%d: %s\n", function, line, write.setting);
    if (!write.send(cda, buffer)) {
        PN_DebugLog(1, 0, "%s:%d: %s\n", function, line, write.failed);
        return write.error;
    }
    return 0;
}

} // namespace

namespace telmar {

// Steps 2 to 7 of the cache configuration on a copy of the controller's buffer, from the staged
// configuration. Every byte written lies inside the buffer and inside the total it reports.
void EditCacheConfiguration(CACHE_CONFIG_STATUS& status, const EDITABLE_CONFIGURATION& config,
                            bool lu_cache_array_staged) {
    SetBits<VK_BYTE>(status.cache_configuration_flags, kCacheConfigNBWCEnabled, config.controller_nbwc == 0);
    SetBits<VK_BYTE>(status.cache_configuration_flags, kCacheConfigWaitForCacheRoom,
                     config.controller_wait_for_cache_room == 1);
    ApplyReadShare(status, config.controller_read_cache_percent);

    // Every logical drive disabled first; the map that says so is the extended one when the
    // controller reports one that fits, else the 32-bit map.
    status.bDisableFlag = 1;
    std::optional<pavlin::ByteSpan> map;
    const VK_WORD map_offset = status.wOffsetToExtendedCacheDisabledMap;
    if (map_offset != 0) {
        // A map reported over the named fields would overwrite them: only the area after them holds one.
        if (map_offset >= offsetof(CACHE_CONFIG_STATUS, reserved52)) {
            map = MapSpanAt(pavlin::ByteSpan(&status, sizeof(status)), status.dwTotalStructureLength, map_offset,
                            status.wMaximumLogicalDevicesSupported / 8u);
        }
        if (!map) {
            PN_DebugLog(1, 0, "%s:%d: Ctrl cache disabled map (off:%u) for %u drives does not fit the buffer\n",
                        __func__, __LINE__, static_cast<unsigned>(map_offset),
                        static_cast<unsigned>(status.wMaximumLogicalDevicesSupported));
        }
    }
    if (map) {
        status.dwCacheDisabledMap = 0;
        for (size_t i = 0; i < map->size(); ++i) {
            map->put8(i, 0xFF);
        }
    } else {
        status.dwCacheDisabledMap = kAllCacheDisabled;
    }

    bool any_logical_drive = false;
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const EDITABLE_LOGICAL_DRIVE* ld = config.editable_ld_list[n];
        if (ld == nullptr) {
            continue;
        }
        any_logical_drive = true;
        if (ld->logical_drive_accelerator != kLogicalDriveAcceleratorControllerCache &&
            ld->logical_drive_accelerator != kLogicalDriveAcceleratorLUCache) {
            continue;
        }
        if (map) {
            PutMapBit(*map, n, false);
        } else if (n <= 31) {
            status.dwCacheDisabledMap &= ~(VK_DWORD{1} << n);
        }
    }

    if (any_logical_drive) {
        bool some_enabled = false;
        if (map) {
            for (size_t i = 0; i < map->size() && !some_enabled; ++i) {
                some_enabled = map->data()[i] != 0xFF;
            }
        } else {
            some_enabled = status.dwCacheDisabledMap != kAllCacheDisabled;
        }
        if (some_enabled) {
            status.bDisableFlag = 0;
        } else {
            status.read_cache_size = status.wTotalMemorySize;
            status.write_cache_size = 0;
            status.bDisableFlag = 1;
        }
    }

    if (status.wBatteryCount == 0 && config.controller_nbwc == kNBWCDisabled && !lu_cache_array_staged &&
        status.write_cache_size != 0) {
        status.write_cache_size = 0;
        status.read_cache_size = status.wTotalMemorySize;
    }
}

} // namespace telmar

VK_BOOL _VK_GetEditableLogicalDriveUniqueVolumeID(PCDA cda, VK_WORD ld_number, VK_BYTE* volume_id_buffer,
                                                  size_t buffer_size) {
    if (volume_id_buffer == nullptr || buffer_size < kVolumeIdSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'volume_id_buffer && buffer_size >= "
                    "sizeof(((IDENTIFY_LOGICAL_DRIVE*)0)->bPage83Identifier)' failed: Invalid arguments\n",
                    __func__, __LINE__);
        return kFalse;
    }
    std::memset(volume_id_buffer, 0, buffer_size);
    if (cda == nullptr) {
        return kFalse;
    }
    VK_BYTE identify[kIdentifyLDSize] = {};
    if (!_VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_IDENTIFY_LOGICAL_DRIVE, 0, ld_number,
                                  identify, sizeof(identify))) {
        return kFalse;
    }
    return pavlin::ByteView(identify, sizeof(identify))
               .copy_to(kIdentifyLDPage83, volume_id_buffer, kVolumeIdSize)
               ? kTrue
               : kFalse;
}

VK_BOOL _VK_GetEditablePhysicalDriveUniqueVolumeID(PCDA cda, VK_WORD pd_number, VK_BYTE* volume_id_buffer,
                                                   size_t buffer_size) {
    if (volume_id_buffer == nullptr || buffer_size == 0) {
        return kFalse;
    }
    std::memset(volume_id_buffer, 0, buffer_size);
    pavlin::TrackedBuffer identify = pavlin::TrackedBuffer::zeroed(sizeof(PHYSICAL_DRIVE_STATUS), __FILE__, __LINE__);
    if (cda == nullptr || !identify ||
        !VK_GetIdentifyPhysicalDriveBuffer(cda, pd_number, reinterpret_cast<PHYSICAL_DRIVE_STATUS*>(identify.get()))) {
        return kFalse;
    }
    if (buffer_size >= kVolumeIdSize) {
        pavlin::ByteView(identify.get(), identify.size())
            .copy_to(offsetof(PHYSICAL_DRIVE_STATUS, bDeviceUniqueID), volume_id_buffer, kVolumeIdSize);
    }
    return kTrue;
}

VK_BOOL _VK_GetEditableRemoteVolumeUniqueID(PCDA cda, VK_WORD volume_number, VK_BYTE* volume_id_buffer,
                                            size_t buffer_size) {
    if (cda == nullptr || volume_id_buffer == nullptr || !VK_RequestRemoteVolumeRecords(cda)) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    if (volume_number >= c->remote_volume_count) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'volume_number < cda->remote_volume_count' failed: Invalid remote volume "
                    "number %u\n",
                    __func__, __LINE__, static_cast<unsigned>(volume_number));
        return kFalse;
    }
    const size_t bytes = buffer_size < kVolumeIdSize ? buffer_size : kVolumeIdSize;
    std::memcpy(volume_id_buffer, c->remote_volume_record_list[volume_number].device_unique_id, bytes);
    return kTrue;
}

VK_UINT64 __VK_CommitEditableControllerParameters(PCDA cda) {
    static constexpr ControllerWrite<CONTROLLER_PARAMETERS> kWrite{
        VK_GetControllerParametersBufferForUpdate, VK_UpdateControllerParameters,
        kEditableConfigurationCommitErrorSettingControllerParams,
        "update_buffer", "Failed to get ctrl param buffer for config",
        "No changes for ctrl params", "Setting ctrl params", "Set ctrl params failed"};
    return CommitControllerWrite(cda, kWrite, __func__, __LINE__, [cda](CONTROLLER_PARAMETERS& p,
                                                                        const EDITABLE_CONFIGURATION& config) {
        SetBits<VK_BYTE>(p.drive_configuration_flags, kDriveConfigPredictiveSpares,
                         config.controller_spare_activation_mode == kControllerSAMTypePredictive);
        if (VK_ControllerSupportsDriveWriteCacheForAllDrives(cda)) {
            std::memcpy(p.pbDriveWriteCachePolicy, config.controller_drive_write_cache_policy,
                        sizeof(p.pbDriveWriteCachePolicy));
        } else {
            SetBits<VK_BYTE>(p.drive_configuration_flags, kDriveConfigWriteCacheEnabled,
                             config.controller_drive_write_cache_policy[0] == 1);
        }
        SetBits<VK_BYTE>(p.controller_configuration_flags, kControllerConfigDPOEnabled,
                         config.controller_parity_RAID_DPO == 0);
        SetBits<VK_BYTE>(p.controller_configuration_flags, kControllerConfigIRPEnabled,
                         config.controller_RAID6x_IRP == 0);
        SetBits<VK_BYTE>(p.controller_configuration_flags, kControllerConfigInconsistencyEvent,
                         config.inconsistency_event_notification == 1);
        p.rebuild_priority = telmar::editable::RawRebuildPriority(config.controller_rebuild_priority,
                                                                  VK_ControllerSupportsRapidRebuild(cda) != kFalse)
                                 .value_or(kRawRebuildUnknownAtCommit);
        p.expand_priority = telmar::editable::RawExpandPriority(config.controller_transformation_priority);
        p.elevator_state = config.controller_pd_elevator_sort == 1 ? 1 : 0;
        p.queue_depth = QueueDepthOf(config.controller_max_drive_request_queue_depth);
        p.elevator_latency_setting = config.controller_fls_setting <= kMaxFLSSetting ? config.controller_fls_setting : 0;
        p.dwBigBlockCacheLineBypassLimit = config.controller_write_cache_bypass_threshold != 0
                                               ? config.controller_write_cache_bypass_threshold
                                               : kDefaultWCBT;
        if (config.controller_sanitize_lock <= 2) {
            p.bSanitizePolicy = static_cast<VK_BYTE>((p.bSanitizePolicy & kSanitizeKeptBits) |
                                                     (config.controller_sanitize_lock << 4));
        }
        if (config.controller_notify_on_any_broadcast == 2) {
            p.dwMoreNVRAMFlags &= ~kMoreNVRAMNotifyOnAnyBroadcast;
        } else if (config.controller_notify_on_any_broadcast == 3) {
            p.dwMoreNVRAMFlags |= kMoreNVRAMNotifyOnAnyBroadcast;
        }
        if (config.controller_bootable_volume_flags & kPrimaryBootVolumeChanged) {
            PutBootVolume(cda, config.controller_primary_boot_volume, p.primary_boot_lun);
        }
        if (config.controller_bootable_volume_flags & kSecondaryBootVolumeChanged) {
            PutBootVolume(cda, config.controller_secondary_boot_volume, p.secondary_boot_lun);
        }
    });
}

VK_BOOL __VK_ControllerSupportsDDRCaching(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return VK_RequestFeaturePages(cda) && (c->sense_feature.page_cache.bFlags & kDDRCachingPageBit) != 0 ? kTrue
                                                                                                            : kFalse;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kFalse;
    }
    const IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
    return (id.dwYetMoreControllerFlags & kIdentifyDDRCachingValid) != 0 &&
                   id.dwFixedStructureLength >= kIdentifyDDRCachingMinLength &&
                   (id.dwExtraControllerFlags & kIdentifyNoDDRCaching) == 0
               ? kTrue
               : kFalse;
}

VK_UINT64 __VK_CommitEditableControllerCacheConfig(PCDA cda) {
    static constexpr ControllerWrite<CACHE_CONFIG_STATUS> kWrite{
        VK_GetCacheConfigStatusBufferForUpdate, VK_UpdateCacheConfigStatus,
        kEditableConfigurationCommitErrorControllerCacheConfig,
        "update_buffer", "Failed to get cache config status buffer",
        "No changes for cache config", "Setting cache config", "Set cache config failed"};
    return CommitControllerWrite(cda, kWrite, __func__, __LINE__,
                                 [cda](CACHE_CONFIG_STATUS& status, const EDITABLE_CONFIGURATION& config) {
                                     telmar::EditCacheConfiguration(
                                         status, config, VK_IsEditableControllerLUCacheEnabled(cda) != kFalse);
                                 });
}

VK_UINT64 __VK_CommitEditableControllerSurvivalMode(PCDA cda) {
    static constexpr ControllerWrite<SET_SURVIVAL_MODE> kWrite{
        VK_GetControllerSurvivalPowerModeBufferForUpdate, VK_UpdateControllerSurvivalPowerMode,
        kEditableConfigurationCommitErrorControllerSurvivalMode,
        "update_buffer", "Failed to get ctrl power mode buffer for config",
        nullptr, "Setting power mode config", "Set power mode config failed"};
    return CommitControllerWrite(cda, kWrite, __func__, __LINE__,
                                 [](SET_SURVIVAL_MODE& mode, const EDITABLE_CONFIGURATION& config) {
                                     mode.bSurvivalMode = config.controller_survival_mode != 0 ? 1 : 0;
                                 });
}

VK_UINT64 __VK_CommitEditableControllerSurfaceScan(PCDA cda) {
    static constexpr ControllerWrite<SURFACE_DELAY> kWrite{
        VK_GetSurfaceStatusBufferForUpdate, VK_UpdateSurfaceStatus,
        kEditableConfigurationCommitErrorControllerSurfaceScan,
        "surface_scan_buffer", "Failed to get surface scan buffer for config",
        nullptr, "Setting surface scan settings", "Set surface scan failed"};
    return CommitControllerWrite(
        cda, kWrite, __func__, __LINE__, [](SURFACE_DELAY& scan, const EDITABLE_CONFIGURATION& config) {
            scan.delay = config.controller_surface_scan_priority > kSurfaceDelayMaximum
                             ? kSurfaceDelayDefault
                             : config.controller_surface_scan_priority;
            scan.parallel_scan_count =
                config.controller_parallel_surface_scan_count != 0 ? config.controller_parallel_surface_scan_count : 1;
        });
}

VK_UINT64 __VK_CommitEditableControllerMNPDelay(PCDA cda) {
    static constexpr ControllerWrite<MNP_DELAY> kWrite{
        VK_GetMNPDelayBufferForUpdate, VK_UpdateMNPDelay, kEditableConfigurationCommitErrorSettingControllerParams,
        "mnp_delay_buffer", "Failed to get MNP delay buffer for config",
        nullptr, "Setting MNP settings", "Set MNP failed"};
    return CommitControllerWrite(cda, kWrite, __func__, __LINE__,
                                 [](MNP_DELAY& mnp, const EDITABLE_CONFIGURATION& config) {
                                     mnp.delay = config.controller_mnp_analysis_delay == kMNPDelayNone
                                                     ? kMNPDelayDefault
                                                     : config.controller_mnp_analysis_delay;
                                 });
}

// Commit steps: creating and deleting logical drives
//
// A new logical drive is created by writing a configuration copy for its number, built from its
// staged record and array; a logical drive is deleted by writing its own copy with no assigned drive,
// after the host's partition-table signatures on it have been overwritten.

#include "ppavl_commands.h"
#include "telm_records.h"

namespace {

constexpr VK_WORD kNoLogicalDrive = 0xFFFF;
constexpr VK_WORD kBigMapDrives = 8 * sizeof(LOGICAL_DRIVE_CONFIG::pbBigDriveAssignmentMap);
constexpr VK_BYTE kSparesAutoReplace = 0x01; // bMoreUnitFlags
constexpr VK_BYTE kIOBypassBits = 0x08;      // bMoreUnitFlags
constexpr VK_BYTE kIOBypassAdvancedBits = 0x28;
constexpr VK_BYTE kAcceleratorIOBypass = 3;
constexpr VK_BYTE kConfigFlagSEDEnabled = 0x10; // bConfigurationFlags
constexpr VK_BYTE kBIOSDisableLUCache = 0x02;   // bBIOSDisableFlag
constexpr VK_BYTE kPropertyLUCache = 4;         // bLogicalDriveProperty
constexpr VK_BYTE kPropertyNewDrive = 0x01;
constexpr VK_WORD kNewDriveOS = 0xFD00;
constexpr VK_QWORD kMaxCylinderBlocks = 65535ull * 8160ull;
constexpr VK_QWORD kCylinderBlocks = 255ull * 32ull;
constexpr VK_WORD kMaxCylinders = 0xFFFF;
constexpr VK_WORD kMinPartitionTableBlock = 512; // the MBR signature sits at 510 and 511
constexpr size_t kMBRSignatureAt = 510;
constexpr size_t kGPTAlternateAt = 32;
constexpr char kGPTSignature[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
constexpr char kGPTMangled[8] = {'D', 'E', 'A', 'D', 'D', 'E', 'A', 'D'};
constexpr VK_BYTE kSEDEnabledBit = 0x01; // of the SED byte (bits 16-23) of the encryption word

bool UsageIsData(VK_BYTE usage) {
    return usage == kPhysicalDriveUsageData || usage == kPhysicalDriveUsageLUCacheData;
}

// A local time that could not be had: no record, or the all-zero one whose day is 0.
bool LocalTimeKnown(time_t now, const struct tm* local) {
    return now != static_cast<time_t>(-1) && local != nullptr && local->tm_mday != 0;
}

// Puts `drives` into the data or spare maps of a configuration copy: the extended map at its
// reported offset on a controller that has one, else the 128-drive map. A map that cannot be used
// is logged as missing and left as it is; a drive it cannot hold is logged and left out.
void PutDriveMaps(LOGICAL_DRIVE_CONFIG& config, bool extended, bool spares, const VK_WORD* drives,
                  size_t count, VK_WORD ld_number) {
    VK_WORD& offset =
        spares ? config.wOffsetToExtendedSpareAssignmentMap : config.wOffsetToExtendedDriveAssignmentMap;
    VK_BYTE* big = spares ? config.pbBigSpareAssignmentMap : config.pbBigDriveAssignmentMap;
    const char* kind = spares ? "spare" : "data";
    const VK_WORD max_devices = config.wMaximumPhysicalDevicesSupported;
    if (extended) {
        const auto map = telmar::ConfigExtendedMap(config, offset);
        if (!map) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Ctrl missing extended %s assignment map (off:%u) for ld %u supporting %u drives\n",
                __func__, __LINE__, kind, static_cast<unsigned>(offset), ld_number, max_devices);
            return;
        }
        telmar::ClearMapSpan(*map);
        for (size_t i = 0; i < count; ++i) {
            const VK_WORD pd = drives[i];
            if (pd >= max_devices || !telmar::PutMapBit(*map, pd)) {
                PN_DebugLog(1, 0,
                            "%s:%d: Assertion '%s_drive_number < "
                            "ld_buffer->wMaximumPhysicalDevicesSupported' failed: "
                            "Invalid pd number %u for extended %s assignment map for ld %u\n",
                            __func__, __LINE__, kind, pd, kind, ld_number);
            }
        }
        return;
    }
    offset = 0;
    for (size_t i = 0; i < count; ++i) {
        const VK_WORD pd = drives[i];
        if (pd >= kBigMapDrives) {
            if (spares) {
                PN_DebugLog(
                    1, 0,
                    "%s:%d: Assertion 'spare_drive_number < 8 * sizeof(ld_buffer->pbBigSpareAssignmentMap)' "
                    "failed: Invalid pd number for big spare assignment map for ld %u\n",
                    __func__, __LINE__, ld_number);
            } else {
                PN_DebugLog(
                    1, 0,
                    "%s:%d: Assertion 'data_drive_number < 8 * sizeof(ld_buffer->pbBigDriveAssignmentMap)' "
                    "failed: Invalid pd number %u for big data assignment map for ld %u\n",
                    __func__, __LINE__, pd, ld_number);
            }
            continue;
        }
        big[pd / 8] = static_cast<VK_BYTE>(big[pd / 8] | (1u << (pd % 8)));
    }
}

// The staged drive and its array, both present, or nothing.
struct StagedDrive {
    PEDITABLE_LOGICAL_DRIVE ld = nullptr;
    PEDITABLE_ARRAY array = nullptr;
};

StagedDrive Staged(PCDA cda, VK_WORD ld_number) {
    StagedDrive staged;
    staged.ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (staged.ld != nullptr) {
        staged.array = _VK_GetEditableArray(cda, staged.ld->editable_array_number);
    }
    return staged;
}

enum class Needs { kDrive, kArray };

// A step that builds a configuration copy from a staged drive: `edit` under the lock, given the drive
// and, when the step needs it, its array; nothing without a data area, a copy or what it needs.
template <typename Edit>
void EditStagedDrive(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer, Needs needs, Edit edit) {
    if (cda == nullptr || ld_buffer == nullptr) {
        return;
    }
    CDALock guard(cda);
    const StagedDrive s = Staged(cda, ld_number);
    if (s.ld == nullptr || (needs == Needs::kArray && s.array == nullptr)) {
        return;
    }
    edit(s);
}

size_t ListedDrives(VK_WORD count, size_t capacity) {
    return count < capacity ? count : capacity;
}

VK_UINT64 CreateNewLogicalDrives(PCDA cda, bool encrypted, VK_UINT64 error_bit) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return 0;
    }
    VK_UINT64 result = 0;
    for (VK_WORD n = VK_EnumerateEditableLogicalDrives(cda, kNoLogicalDrive); n != kNoLogicalDrive;
         n = VK_EnumerateEditableLogicalDrives(cda, n)) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld == nullptr || !(ld->flags & kEditableLDNewDrive) ||
            ((ld->flags & kEditableLDEncrypted) != 0) != encrypted) {
            continue;
        }
        if (__VK_CommitCreateLogicalDrive(cda, n)) {
            config->flags |= kEditableConfigCacheConfig;
        } else {
            result = error_bit;
        }
    }
    return result;
}

bool TransferBlock(DeviceDescriptor device, bool read, VK_QWORD lba, VK_BYTE* block, VK_WORD block_size) {
    IORequest request{};
    request.transfer_type = read ? eDATA_TRANSFER_IN : eDATA_TRANSFER_OUT;
    request.lba_offset = lba;
    request.io_buffer = block;
    request.io_buffer_size = block_size;
    request.block_size_in_bytes = block_size;
    return PN_ExecuteIORequest(device, &request) == eCOMMAND_STATUS_OK;
}

} // namespace

namespace telmar {

std::optional<pavlin::ByteSpan> ConfigExtendedMap(LOGICAL_DRIVE_CONFIG& config, size_t offset) {
    const size_t map_bytes = (static_cast<size_t>(config.wMaximumPhysicalDevicesSupported) + 7) / 8;
    if (offset < kConfigFixedFieldsEnd || map_bytes == 0) {
        return std::nullopt;
    }
    // The write sends the total the copy reports, so a map beyond it would never reach the controller.
    return MapSpanAt(pavlin::ByteSpan(&config, sizeof(config)), config.dwTotalStructureLength, offset,
                     map_bytes);
}

bool MangleMBRSignature(pavlin::ByteSpan block) {
    const pavlin::ByteView view = block.view();
    if (view.u8(kMBRSignatureAt) != VK_BYTE{0x55} || view.u8(kMBRSignatureAt + 1) != VK_BYTE{0xAA}) {
        return false;
    }
    block.put8(kMBRSignatureAt, 0xDE);
    block.put8(kMBRSignatureAt + 1, 0xAD);
    return true;
}

std::optional<VK_QWORD> MangleGPTSignature(pavlin::ByteSpan block) {
    const pavlin::ByteView view = block.view();
    const auto alternate = view.le64(kGPTAlternateAt);
    if (!alternate || std::memcmp(view.data(), kGPTSignature, sizeof(kGPTSignature)) != 0) {
        return std::nullopt;
    }
    block.put_bytes(0, kGPTMangled, sizeof(kGPTMangled));
    return *alternate;
}

VK_WORD PartitionTableBlockSize(VK_WORD block_size_bytes) {
    if (block_size_bytes == 0) {
        return kMinPartitionTableBlock;
    }
    return block_size_bytes < kMinPartitionTableBlock ? 0 : block_size_bytes;
}

} // namespace telmar

VK_DWORD __VK_GenerateLogicalDriveSignature(VK_WORD ld_number) {
    time_t now = time(nullptr);
    const pavlin::TrackedPtr<struct tm> local(VK_localtime_s(&now));
    if (!LocalTimeKnown(now, local.get())) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'dtPtr != ((void *)0)' failed: Failed to get local time for ld signature\n",
            __func__, __LINE__);
        return 0;
    }
    const auto field = [](int value, unsigned bits, unsigned shift) {
        return (static_cast<VK_DWORD>(value) & ((1u << bits) - 1u)) << shift;
    };
    return field(ld_number, 6, 26) | field(local->tm_mon, 4, 22) | field(local->tm_mday, 5, 17) |
           field(local->tm_hour, 5, 12) | field(local->tm_min, 6, 6) | field(local->tm_sec, 6, 0);
}

VK_DWORD __VK_GenerateTimestamp(void) {
    time_t now = time(nullptr);
    const pavlin::TrackedPtr<struct tm> local(VK_localtime_s(&now));
    if (!LocalTimeKnown(now, local.get())) {
        return 0;
    }
    const auto field = [](long long value, unsigned bits, unsigned shift) {
        return (static_cast<VK_DWORD>(value) & ((1u << bits) - 1u)) << shift;
    };
    return field(static_cast<long long>(local->tm_year) + 1900, 12, 20) | field(local->tm_mon + 1, 4, 16) |
           field(local->tm_mday, 5, 11) | field(local->tm_hour, 5, 6) | field(local->tm_min, 6, 0);
}

VK_WORD __VK_GetEditableControllerConfiguredDataDriveCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_WORD count = 0;
    for (VK_WORD pd = VK_EnumerateEditablePhysicalDrives(cda, kNoDevice); pd != kNoDevice;
         pd = VK_EnumerateEditablePhysicalDrives(cda, pd)) {
        if (UsageIsData(VK_GetEditablePhysicalDriveUsageInfo(cda, pd))) {
            ++count;
        }
    }
    return count;
}

void __VK_ManageEditableLogicalDriveFaultTolerance(PCDA cda, VK_WORD ld_number,
                                                   LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kArray, [&](const StagedDrive& s) {
        const VK_WORD data_drives = s.array->data_drive_count;
        const VK_WORD usable = __VK_GetUsableDriveCount(data_drives, s.ld->RAID_level, s.ld->num_parity_groups);
        const VK_WORD consumed = usable <= data_drives ? static_cast<VK_WORD>(data_drives - usable) : 0;
        struct Encoding {
            VK_WORD mode;
            VK_BYTE distribution;
            VK_BYTE groups;
            VK_WORD consumed;
        };
        std::optional<Encoding> e;
        switch (s.ld->RAID_level) {
            case 1:
                e = Encoding{0, 2, 0, 0};
                break;
            case 2:
            case 3:
                e = Encoding{2, 2, 0, 0};
                break;
            case 4:
                e = Encoding{3, 2, 0, 0};
                break;
            case 5:
                e = Encoding{3, 7, s.ld->num_parity_groups, consumed};
                break;
            case 6:
                e = Encoding{5, 2, 0, 2};
                break;
            case 7:
                e = Encoding{5, 7, s.ld->num_parity_groups, consumed};
                break;
            case 8:
            case 9:
                e = Encoding{6, 2, 0, consumed};
                break;
            default:
                break;
        }
        if (e) {
            ld_buffer->wFaultToleranceMode = e->mode;
            ld_buffer->bDataDistributionMode = e->distribution;
            ld_buffer->bNumberOfParityGroups = e->groups;
            ld_buffer->wDrivesConsumedForFaultTolerance = e->consumed;
        }
        ld_buffer->wDistribution = static_cast<VK_WORD>(s.ld->strip_size_blocks & 0xFFFF);
    });
}

void __VK_ManageEditableLogicalDriveDataDrives(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kArray, [&](const StagedDrive& s) {
        ld_buffer->dwDriveAssignmentMap = 0;
        std::memset(ld_buffer->pbBigDriveAssignmentMap, 0, sizeof(ld_buffer->pbBigDriveAssignmentMap));
        PutDriveMaps(*ld_buffer, _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse, false,
                     s.array->data_drives,
                     ListedDrives(s.array->data_drive_count, std::size(s.array->data_drives)), ld_number);
        ld_buffer->wOffsetToExtendedPhysicalDriveOrderList = 0;
        ld_buffer->wAssignedDrives = s.array->data_drive_count;
        ld_buffer->wPhysicalDrives = __VK_GetEditableControllerConfiguredDataDriveCount(cda);
    });
}

void __VK_ManageEditableLogicalDriveSpareDrives(PCDA cda, VK_WORD ld_number,
                                                LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kArray, [&](const StagedDrive& s) {
        const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
        const auto raid = static_cast<VK_BYTE>(VK_GetEditableLogicalDriveRAIDInfo(cda, ld_number) & 0xFF);
        const bool extended = _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse;
        ld_buffer->dwSpareAssignmentMap = 0;
        std::memset(ld_buffer->pbBigSpareAssignmentMap, 0, sizeof(ld_buffer->pbBigSpareAssignmentMap));
        if (raid == kRAID0 && config->controller_spare_activation_mode == kControllerSAMTypeFailure) {
            // Spares would never be activated for it: the copy goes without any.
            if (const auto map =
                    telmar::ConfigExtendedMap(*ld_buffer, ld_buffer->wOffsetToExtendedSpareAssignmentMap)) {
                telmar::ClearMapSpan(*map);
            }
            return;
        }
        const size_t count = ListedDrives(s.array->spare_drive_count, std::size(s.array->spare_drives));
        PutDriveMaps(*ld_buffer, extended, true, s.array->spare_drives, count, ld_number);
        if (count > 0) {
            const bool auto_replace =
                VK_GetEditablePhysicalDriveUsageInfo(cda, s.array->spare_drives[count - 1]) ==
                kPhysicalDriveUsageAutoReplaceStandbySpare;
            ld_buffer->bMoreUnitFlags =
                static_cast<VK_BYTE>(auto_replace ? ld_buffer->bMoreUnitFlags | kSparesAutoReplace
                                                  : ld_buffer->bMoreUnitFlags & ~kSparesAutoReplace);
        }
    });
}

void __VK_ManageEditableLogicalDriveSize(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kDrive, [&](const StagedDrive& s) {
        const VK_QWORD offset = s.ld->physical_drive_offset_block;
        ld_buffer->data_offset = offset <= 0xFFFFFFFFull ? static_cast<VK_DWORD>(offset) : 0xFFFFFFFFu;
        ld_buffer->qwExtendedOffsetToData = offset;
        ld_buffer->qwBigBlocksInLogicalDrive = s.ld->drive_size_blocks;
        const VK_WORD cylinders = s.ld->drive_size_blocks > kMaxCylinderBlocks
                                      ? kMaxCylinders
                                      : static_cast<VK_WORD>(s.ld->drive_size_blocks / kCylinderBlocks);
        DRIVE_PARAM_TABLE& table = ld_buffer->logicalDriveParamTable;
        table.bMaxHeads = 255;
        table.bSectorsPerTrack = s.ld->sectors_per_track;
        table.bDriveControl = 8;
        table.wPreCompCylinder = 0xFFFF;
        table.wMaxCylinders = cylinders;
        table.wLandingZone = cylinders;
        VK_BYTE sum = 0;
        const auto* bytes = reinterpret_cast<const VK_BYTE*>(&table);
        for (size_t i = 0; i < offsetof(DRIVE_PARAM_TABLE, bChecksum); ++i) {
            sum = static_cast<VK_BYTE>(sum + bytes[i]);
        }
        table.bChecksum = static_cast<VK_BYTE>(0x100 - sum);
        ld_buffer->wBlockSize = s.ld->block_size_bytes;
    });
}

void __VK_ManageEditableLogicalDriveAccelerator(PCDA cda, VK_WORD ld_number,
                                                LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kDrive, [&](const StagedDrive& s) {
        const VK_BYTE bits =
            VK_ControllerSupportsIOAccelAdvancedWrites(cda) ? kIOBypassAdvancedBits : kIOBypassBits;
        ld_buffer->bMoreUnitFlags = static_cast<VK_BYTE>(s.ld->logical_drive_accelerator == kAcceleratorIOBypass
                                                             ? ld_buffer->bMoreUnitFlags | bits
                                                             : ld_buffer->bMoreUnitFlags & ~bits);
    });
}

void __VK_PrepNewEditableLogicalDrive(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* ld_buffer) {
    EditStagedDrive(cda, ld_number, ld_buffer, Needs::kArray, [&](const StagedDrive& s) {
        ld_buffer->wCPCPort = 2;
        ld_buffer->bDataDistributionMode = 2;
        ld_buffer->bParityShiftFactor = 4;
        ld_buffer->bParityDistributionMode = 0;
        ld_buffer->bDriveTypeMixFlag = 0;
        __VK_ManageEditableLogicalDriveFaultTolerance(cda, ld_number, ld_buffer);
        ld_buffer->bFastParityInitialization = static_cast<VK_BYTE>(
            ld_buffer->bFastParityInitialization | (s.ld->logical_drive_initialization_method & 0x03));
        __VK_ManageEditableLogicalDriveDataDrives(cda, ld_number, ld_buffer);
        __VK_ManageEditableLogicalDriveSize(cda, ld_number, ld_buffer);
        if (s.ld->flags & kEditableLDLUCache) {
            ld_buffer->bLogicalDriveProperty = kPropertyLUCache;
            ld_buffer->bBIOSDisableFlag = static_cast<VK_BYTE>(ld_buffer->bBIOSDisableFlag | kBIOSDisableLUCache);
        } else {
            ld_buffer->bBIOSDisableFlag =
                static_cast<VK_BYTE>(ld_buffer->bBIOSDisableFlag & ~kBIOSDisableLUCache);
        }
        ld_buffer->wOS = kNewDriveOS;
        ld_buffer->bLogicalDriveProperty =
            static_cast<VK_BYTE>(ld_buffer->bLogicalDriveProperty | kPropertyNewDrive);
        __VK_ManageEditableLogicalDriveAccelerator(cda, ld_number, ld_buffer);
        ld_buffer->signature = __VK_GenerateLogicalDriveSignature(ld_number);
        ld_buffer->bGUIMajorVer = 0;
        ld_buffer->bGUIMinorVer = 0;
        ld_buffer->bGUIOptions = 9;
        const VK_DWORD raid_info = VK_ControllerSupportsAdditionalRAIDInfo(cda);
        ld_buffer->bConfigModMajorVer = VK_ControllerSupportsDriveWriteCacheForAllDrives(cda)   ? 20
                                        : VK_ControllerSupportsConfigurableLUCacheLineSize(cda) ? 19
                                        : (raid_info & 0x2)                                     ? 18
                                        : (raid_info & 0x1)                                     ? 17
                                                                                                : 16;
        if ((s.ld->flags & kEditableLDEnableSED) && (s.array->flags & kEditableArrSEDEncryption)) {
            ld_buffer->bConfigurationFlags =
                static_cast<VK_BYTE>(ld_buffer->bConfigurationFlags | kConfigFlagSEDEnabled);
        }
    });
}

VK_BOOL __VK_CommitCreateLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const StagedDrive s = Staged(cda, ld_number);
    LOGICAL_DRIVE_CONFIG* new_ld_buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld_number);
    if (new_ld_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'new_ld_buffer != ((void *)0)' failed: Failed to get set config buffer "
                    "for ld\n",
                    __func__, __LINE__);
        return kFalse;
    }
    if (s.ld == nullptr || s.array == nullptr) {
        // Without its staged record and array there is nothing to build the drive from.
        VK_free(new_ld_buffer);
        PN_DebugLog(1, 0, "%s:%d: Failed to create ld %u\n", __func__, __LINE__, ld_number);
        return kFalse;
    }
    __VK_PrepNewEditableLogicalDrive(cda, ld_number, new_ld_buffer);
    __VK_ManageEditableLogicalDriveSpareDrives(cda, ld_number, new_ld_buffer);
    const PEDITABLE_LOGICAL_DRIVE ld = s.ld;
    PN_DebugLog(
        2, 0,
        "%s:%d: Creating ld %u\n ->flags......0x%08X\n ->array......%u\n ->RAID.......%u\n ->npg........%u\n "
        "->strip......%u\n ->blocksize..%u\n ->pd_offset..%llu\n ->pd_blocks..%llu\n ->size.......%llu\n "
        "->accel......%u\n",
        __func__, __LINE__, ld_number, static_cast<unsigned>(ld->flags & 0xFFFFFFFFu),
        ld->editable_array_number, ld->RAID_level, ld->num_parity_groups, ld->strip_size_blocks,
        ld->block_size_bytes, static_cast<unsigned long long>(ld->physical_drive_offset_block),
        static_cast<unsigned long long>(ld->physical_drive_blocks_per_drive),
        static_cast<unsigned long long>(ld->drive_size_blocks), ld->logical_drive_accelerator);
    if (VK_SetConfiguration(cda, ld_number, new_ld_buffer)) {
        return kTrue;
    }
    const bool no_arrays =
        VK_RequestArrayConfigurationInformation(cda) && _VK_CDA(cda)->total_array_count == 0;
    if (no_arrays && ld->RAID_level == kRAID0 && ld->editable_array_number < kMaxArraysSupported &&
        s.array->spare_drive_count > 0) {
        PN_DebugLog(1, 0, "%s:%d: First attempt to create ld %u failed: Re-trying w/o spares...\n", __func__,
                    __LINE__, ld_number);
        new_ld_buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld_number);
        if (new_ld_buffer == nullptr) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'new_ld_buffer != ((void *)0)' failed: Set config for ld failed\n",
                        __func__, __LINE__);
            return kFalse;
        }
        __VK_PrepNewEditableLogicalDrive(cda, ld_number, new_ld_buffer);
        const VK_BOOL created = VK_SetConfiguration(cda, ld_number, new_ld_buffer);
        if (created) {
            __VK_CommitEditableControllerParameters(cda);
            ld->flags |= kEditableLDSparesChanged;
            PN_DebugLog(2, 0, "%s:%d: LD %u created w/o spares (pending later change)\n", __func__, __LINE__,
                        ld_number);
        } else {
            PN_DebugLog(1, 0, "%s:%d: Failed to create ld %u w/o spares\n", __func__, __LINE__, ld_number);
        }
        return created;
    }
    PN_DebugLog(1, 0, "%s:%d: Failed to create ld %u\n", __func__, __LINE__, ld_number);
    return kFalse;
}

VK_UINT64 __VK_CommitCreateNewPlaintextLogicalDrives(PCDA cda) {
    return CreateNewLogicalDrives(cda, false, kEditableConfigurationCommitErrorCreatePlainTextLogicalDrives);
}

VK_UINT64 __VK_CommitCreateNewEncryptedLogicalDrives(PCDA cda) {
    return CreateNewLogicalDrives(cda, true, kEditableConfigurationCommitErrorCreateEncryptedLogicalDrives);
}

VK_BOOL __VK_CheckLogicalDriveAllowsMangling(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    switch (LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number))) {
        case kLogicalDriveUnitStatus1Failed:
        case kLogicalDriveUnitStatus2NotConfigured:
        case kLogicalDriveUnitStatus6WrongDriveReplaced:
        case kLogicalDriveUnitStatus7DriveImproperlyConnected:
        case kLogicalDriveUnitStatus11NotYetAvailable:
        case kLogicalDriveUnitStatus14Ejected:
        case kLogicalDriveUnitStatus15EraseInProgress:
        case kLogicalDriveUnitStatus18RPIInProgress:
            return kFalse;
        default:
            break;
    }
    if ((VK_GetLogicalDriveBasicInfo(cda, ld_number) & 0x0F) == kLogicalDriveTypeCache) {
        return kFalse;
    }
    const VK_DWORD encryption = VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
    if ((encryption & kLogicalDriveEncryptionEnabled) ||
        (LOGICAL_DRIVE_SED_ENCRYPTION_STATUS(encryption) & kSEDEnabledBit)) {
        return kFalse;
    }
    return kTrue;
}

VK_BOOL __VK_MangleMBRTable(PCDA /*cda*/, DeviceDescriptor device, VK_WORD block_size, VK_BYTE* block) {
    // A block too small for the signature is neither read nor written.
    if (block == nullptr || telmar::PartitionTableBlockSize(block_size) != block_size) {
        return kFalse;
    }
    if (!TransferBlock(device, true, 0, block, block_size)) {
        return kFalse;
    }
    if (!telmar::MangleMBRSignature(pavlin::ByteSpan(block, block_size))) {
        return kTrue;
    }
    return TransferBlock(device, false, 0, block, block_size) ? kTrue : kFalse;
}

VK_BOOL __VK_MangleGPTTable(PCDA /*cda*/, DeviceDescriptor device, VK_WORD block_size, VK_BYTE* block) {
    if (block == nullptr || telmar::PartitionTableBlockSize(block_size) != block_size) {
        return kFalse;
    }
    const pavlin::ByteSpan span(block, block_size);
    if (!TransferBlock(device, true, 1, block, block_size)) {
        return kFalse;
    }
    const std::optional<VK_QWORD> alternate = telmar::MangleGPTSignature(span);
    if (!alternate) {
        return kTrue;
    }
    if (!TransferBlock(device, false, 1, block, block_size)) {
        return kFalse;
    }
    if (*alternate == 0) {
        return kTrue;
    }
    if (!TransferBlock(device, true, *alternate, block, block_size)) {
        return kFalse;
    }
    if (!telmar::MangleGPTSignature(span)) {
        return kTrue;
    }
    return TransferBlock(device, false, *alternate, block, block_size) ? kTrue : kFalse;
}

void __VK_ManglePartitionTable(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return;
    }
    CDALock guard(cda);
    if (!__VK_CheckLogicalDriveAllowsMangling(cda, ld_number) || !VK_RequestLogicalDriveDescriptors(cda) ||
        !VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        return;
    }
    const LogicalDriveRecord& record = _VK_CDA(cda)->ld_record_list[ld_number];
    const VK_WORD block_size = telmar::PartitionTableBlockSize(record.block_size_bytes);
    if (record.logical_drive_handle == nullptr || block_size == 0) {
        return;
    }
    const pavlin::TrackedBuffer block = PN_TRACKED_BUFFER(block_size);
    if (!block) {
        return;
    }
    __VK_MangleMBRTable(cda, record.logical_drive_handle, block_size, block.get());
    __VK_MangleGPTTable(cda, record.logical_drive_handle, block_size, block.get());
}

VK_BOOL __VK_DeleteLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const bool in_range = ld_number < kMaxLogicalDrivesSupported;
    const bool primary =
        in_range && VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedencePrimary,
                                                     kBootableVolumeDriveTypeLogical) == ld_number;
    const bool secondary =
        in_range && VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedenceSecondary,
                                                     kBootableVolumeDriveTypeLogical) == ld_number;
    LOGICAL_DRIVE_CONFIG* new_ld_buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld_number);
    PN_DebugLog(2, 0, "%s:%d: Deleting ld %u\n", __func__, __LINE__, ld_number);
    if (new_ld_buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'new_ld_buffer != 0' failed: Failed to get buffer to delete ld\n",
                    __func__, __LINE__);
        return kFalse;
    }
    new_ld_buffer->wAssignedDrives = 0;
    if (!VK_SetConfiguration(cda, ld_number, new_ld_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Failed to delete ld %u\n", __func__, __LINE__, ld_number);
        return kFalse;
    }
    if (primary || secondary) {
        const VK_BYTE none[kVolumeIdSize] = {};
        const VK_BYTE precedence = primary && secondary ? kBootableVolumePrecedenceAll
                                   : primary            ? kBootableVolumePrecedencePrimary
                                                        : kBootableVolumePrecedenceSecondary;
        __VK_SetBootableVolume(cda, precedence, none, sizeof(none));
    }
    return kTrue;
}

VK_BOOL __VK_DestroyLUCacheLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const PLU_CACHE_CREATE ld_buffer = VK_RequestLUCacheConfigurationForUpdate(cda, ld_number);
    PN_DebugLog(2, 0, "%s:%d: Deleting cache ld %u\n", __func__, __LINE__, ld_number);
    if (ld_buffer == nullptr) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get LU_CACHE_CREATE buffer\n",
            __func__, __LINE__);
        return kFalse;
    }
    const VK_BOOL succeeded = VK_ForceDestoryLUCache(cda, ld_number, ld_buffer);
    if (!succeeded) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'succeeded' failed: Failed to force-destory lu cache ld %u\n\n",
                    __func__, __LINE__, ld_number);
    }
    return succeeded;
}

VK_BOOL __VK_DeleteAllLogicalDrives(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    // The numbers are taken first: the writes below may make the cached model stale.
    std::array<VK_WORD, kMaxLogicalDrivesSupported> drives{};
    size_t count = 0;
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kNoLogicalDrive);
         ld != kNoLogicalDrive && count < drives.size(); ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        drives[count++] = ld;
    }
    for (size_t i = 0; i < count; ++i) {
        if ((VK_GetLogicalDriveBasicInfo(cda, drives[i]) & 0x0F) == kLogicalDriveTypeCache &&
            !__VK_DestroyLUCacheLogicalDrive(cda, drives[i])) {
            PN_DebugLog(1, 0, "%s:%d: Failed to destroy lu cache ld %u\n", __func__, __LINE__, drives[i]);
        }
    }
    VK_BOOL result = kTrue;
    for (size_t i = 0; i < count; ++i) {
        if (!__VK_DeleteLogicalDrive(cda, drives[i])) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'succeeded' failed: Failed to delete ld %u\n\n", __func__,
                        __LINE__, drives[i]);
            result = kFalse;
        }
    }
    return result;
}

namespace {

constexpr VK_BYTE kConfigurationFlagSEDEnabled = 0x10; // LOGICAL_DRIVE_CONFIG bConfigurationFlags
constexpr VK_DWORD kLabelAnyIdentifier = 0xFFFFFFFF;
constexpr VK_BYTE kLUCacheWarmDepth = 3;
constexpr VK_UINT64 kSEDQualificationFailed =
    kPhysicalDriveEncryptionSEDQualificationFailedLockingEnabled |
    kPhysicalDriveEncryptionSEDQualificationFailedRangeLengthSet;

// A staged logical drive and a fresh configuration copy of it, both present, or neither.
struct DriveCopy {
    PEDITABLE_LOGICAL_DRIVE ld = nullptr;
    LOGICAL_DRIVE_CONFIG* buffer = nullptr;
};

// The copy a logical-drive step edits, for a staged drive only. A missing copy, or one whose reported
// total passes the buffer so that it could never be written back, is logged at `function` and `line`.
// The caller holds the lock.
DriveCopy DriveCopyForUpdate(PCDA cda, VK_WORD ld_number, const char* function, int line) {
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (ld == nullptr) {
        return {};
    }
    LOGICAL_DRIVE_CONFIG* buffer = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld_number);
    if (buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'new_ld_buffer != ((void *)0)' failed: Failed to get set ld config buffer\n",
                    function, line);
        return {};
    }
    if (!TotalFits(*buffer, function, line)) {
        VK_free(buffer);
        return {};
    }
    return {ld, buffer};
}

// Whether the edited copy still equals `original`; then nothing is to be sent: the copy is freed and
// "No actual <what> for ld <n>" logged at `function` and `line`.
bool CopyUnchanged(const LOGICAL_DRIVE_CONFIG& original, LOGICAL_DRIVE_CONFIG* buffer, const char* what,
                   VK_WORD ld_number, const char* function, int line) {
    if (std::memcmp(&original, buffer, sizeof(original)) != 0) {
        return false;
    }
    PN_DebugLog(2, 0, "%s:%d: No actual %s for ld %u\n", function, line, what, static_cast<unsigned>(ld_number));
    VK_free(buffer);
    return true;
}

void ClearSpareMaps(LOGICAL_DRIVE_CONFIG& buffer) {
    buffer.dwSpareAssignmentMap = 0;
    std::memset(buffer.pbBigSpareAssignmentMap, 0, sizeof(buffer.pbBigSpareAssignmentMap));
}

void OrCommitErrors(PCDA cda, VK_UINT64 bits) {
    _VK_CDA(cda)->editable_configuration_commit_errors |= bits;
}

} // namespace

VK_UINT64 __VK_CommitEditableSpareDriveChanges(PCDA cda, VK_WORD ld_number) {
    CDALock guard(cda);
    const auto [ld, new_ld_buffer] = DriveCopyForUpdate(cda, ld_number, __func__, __LINE__);
    if (new_ld_buffer == nullptr) {
        return kEditableConfigurationCommitErrorSpareDriveChanges;
    }
    // Without the extended spare map the cleared maps are the only place of the spares: a copy taken
    // after clearing them would hide the removal of the last spare, so the copy is taken first.
    const bool extended_spare_map = _VK_ControllerSupportsExtendedDriveMap(cda) != kFalse;
    LOGICAL_DRIVE_CONFIG original = *new_ld_buffer;
    ClearSpareMaps(*new_ld_buffer);
    if (extended_spare_map) {
        original = *new_ld_buffer;
    }
    if (ld->flags & kEditableLDSparesChanged) {
        __VK_ManageEditableLogicalDriveSpareDrives(cda, ld_number, new_ld_buffer);
    }
    if (CopyUnchanged(original, new_ld_buffer, "spare drive changes", ld_number, __func__, __LINE__)) {
        return 0;
    }
    PN_DebugLog(2, 0, "%s:%d: Spare drive change for ld %u\n", __func__, __LINE__, static_cast<unsigned>(ld_number));
    if (VK_SetConfiguration(cda, ld_number, new_ld_buffer)) {
        return 0;
    }
    // A spare that failed its SED qualification is why the controller refused, when one did.
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, ld->editable_array_number);
    const VK_WORD spare_count = array != nullptr ? array->spare_drive_count : 0;
    for (VK_WORD i = 0; i < spare_count && i < sizeof(array->spare_drives) / sizeof(array->spare_drives[0]); ++i) {
        const VK_WORD pd = array->spare_drives[i];
        if (pd >= kMaxPhysicalDrivesSupported) {
            continue;
        }
        _VK_CDA(cda)->pd_record_list[pd].flags &= static_cast<VK_WORD>(~kPDRecordIdentifyValid);
        if (VK_GetPhysicalDriveEncryptionInfo(cda, pd) & kSEDQualificationFailed) {
            PN_DebugLog(1, 0, "%s:%d: Failed to add spare drive du to failed failed SED qualification to ld %u\n",
                        __func__, __LINE__, static_cast<unsigned>(ld_number));
            return kEditableConfigurationCommitErrorSpareDriveSEDQualFailed;
        }
    }
    PN_DebugLog(1, 0, "%s:%d: Failed to update spare drives for ld %u\n", __func__, __LINE__,
                static_cast<unsigned>(ld_number));
    return kEditableConfigurationCommitErrorSpareDriveChanges;
}

VK_UINT64 __VK_CommitEditableLogicalDriveAcceleratorChanges(PCDA cda, VK_WORD ld_number) {
    CDALock guard(cda);
    const auto [ld, new_ld_buffer] = DriveCopyForUpdate(cda, ld_number, __func__, __LINE__);
    if (new_ld_buffer == nullptr) {
        return kEditableConfigurationCommitErrorLogicalDriveSettings;
    }
    const LOGICAL_DRIVE_CONFIG original = *new_ld_buffer;
    if (ld->flags & kEditableLDAcceleratorChanged) {
        __VK_ManageEditableLogicalDriveAccelerator(cda, ld_number, new_ld_buffer);
    }
    if (CopyUnchanged(original, new_ld_buffer, "accel changes", ld_number, __func__, __LINE__)) {
        return 0;
    }
    PN_DebugLog(2, 0, "%s:%d: Setting accel for ld %u\n", __func__, __LINE__, static_cast<unsigned>(ld_number));
    if (!VK_SetConfiguration(cda, ld_number, new_ld_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Set ld %u accel failed\n", __func__, __LINE__, static_cast<unsigned>(ld_number));
        return kEditableConfigurationCommitErrorLogicalDriveSettings;
    }
    return 0;
}

VK_BOOL __VK_CommitEditableLogicalDriveLabel(PCDA cda, VK_WORD ld_number) {
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (ld == nullptr) {
        return kFalse;
    }
    LABEL_LOGICAL_DRIVE* ld_label_buffer = CopyForUpdate(cda, VK_GetLabelLogicalDriveBufferForUpdate, __func__,
                                                         __LINE__, "ld_label_buffer", "Failed to get set ld label buffer");
    if (ld_label_buffer == nullptr) {
        return kFalse;
    }
    static_assert(sizeof(ld_label_buffer->pbLogicalDriveLabel) == sizeof(ld->logical_drive_label));
    ld_label_buffer->dwLogicalDriveIdentifier = kLabelAnyIdentifier;
    std::memcpy(ld_label_buffer->pbLogicalDriveLabel, ld->logical_drive_label,
                sizeof(ld_label_buffer->pbLogicalDriveLabel));
    PN_DebugLog(2, 0, "%s:%d: Setting ld %u label\n", __func__, __LINE__, static_cast<unsigned>(ld_number));
    if (!VK_LabelLogicalDrive(cda, ld_number, ld_label_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Set ld %u label failed\n", __func__, __LINE__, static_cast<unsigned>(ld_number));
        return kFalse;
    }
    return kTrue;
}

VK_UINT64 __VK_CommitEditableLogicalDriveLabels(PCDA cda) {
    CDALock guard(cda);
    VK_UINT64 result = 0;
    for (VK_WORD n = VK_EnumerateEditableLogicalDrives(cda, kInvalidLDNumber); n != kInvalidLDNumber;
         n = VK_EnumerateEditableLogicalDrives(cda, n)) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n);
        if (ld == nullptr || (ld->flags & kEditableLDLabelUnchanged)) {
            continue;
        }
        PN_DebugLog(2, 0, "%s:%d: Label ld %u\n", __func__, __LINE__, static_cast<unsigned>(n));
        if (!__VK_CommitEditableLogicalDriveLabel(cda, n)) {
            PN_DebugLog(1, 0, "%s:%d: Failed to label ld %u\n", __func__, __LINE__, static_cast<unsigned>(n));
            result = kEditableConfigurationCommitErrorLogicalDriveLabels;
        }
    }
    return result;
}

VK_UINT64 __VK_CommitEditableLUCacheLogicalDriveChanges(PCDA cda, VK_WORD ld_number) {
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE cache_ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (cache_ld == nullptr) {
        return 0;
    }
    const VK_WORD data_ld = cache_ld->lu_cache_ld_number;
    if (data_ld >= kMaxLogicalDrivesSupported || _VK_GetEditableLogicalDrive(cda, data_ld) == nullptr) {
        return 0;
    }
    const unsigned c = ld_number;
    const unsigned d = data_ld;
    if (cache_ld->flags & kEditableLDNewDrive) {
        auto* ld_buffer = static_cast<PLU_CACHE_CREATE>(VK_malloc(sizeof(LU_CACHE_CREATE)));
        PN_DebugLog(2, 0, "%s:%d: Creating lu cache ld %u (data ld:%u)\n", __func__, __LINE__, c, d);
        bool created = false;
        if (ld_buffer == nullptr) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get PLU_CACHE_CREATE buffer\n",
                        __func__, __LINE__);
        } else {
            std::memset(ld_buffer, 0, sizeof(*ld_buffer));
            ld_buffer->dwCacheLineSizeBlocks = cache_ld->lu_cache_line_size_blocks;
            ld_buffer->bWarmDepth = kLUCacheWarmDepth;
            ld_buffer->bWritePolicy = cache_ld->lu_cache_policy;
            ld_buffer->bCachingAlgorithm = cache_ld->lu_cache_algorithm;
            ld_buffer->wPrimaryLUN = data_ld;
            PN_DebugLog(2, 0, "%s:%d: Setting ld lu cache %u -> %u\n", __func__, __LINE__, d, c);
            created = VK_CreateLUCache(cda, ld_number, ld_buffer) != kFalse;
        }
        if (created) {
            return 0;
        }
        // An unpaired cache volume is of no use: take it away again.
        PN_DebugLog(1, 0, "%s:%d: Failed to associate data ld %u and cache ld %u, deleting ld %u...\n", __func__,
                    __LINE__, d, c, c);
        __VK_DestroyLUCacheLogicalDrive(cda, ld_number);
        __VK_DeleteLogicalDrive(cda, ld_number);
        return kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges;
    }
    if (!(cache_ld->flags & kEditableLDLUCacheChanged)) {
        return 0;
    }
    PLU_CACHE_CREATE ld_buffer = VK_RequestLUCacheConfigurationForUpdate(cda, ld_number);
    PN_DebugLog(2, 0, "%s:%d: Modifying lu cache ld %u (data ld:%u)\n", __func__, __LINE__, c, d);
    if (ld_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'ld_buffer != ((void *)0)' failed: Failed to get PLU_CACHE_CREATE buffer\n",
                    __func__, __LINE__);
        return kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges;
    }
    ld_buffer->bWritePolicy = cache_ld->lu_cache_policy;
    if (!VK_ModifyLUCache(cda, ld_number, ld_buffer)) {
        return kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges;
    }
    return 0;
}

VK_UINT64 __VK_CommitEditableTransformation(PCDA cda, VK_WORD ld_number) {
    CDALock guard(cda);
    const auto [ld, new_ld_buffer] = DriveCopyForUpdate(cda, ld_number, __func__, __LINE__);
    if (new_ld_buffer == nullptr) {
        return kEditableConfigurationCommitErrorLogicalDriveTransformation;
    }
    ClearSpareMaps(*new_ld_buffer);
    const LOGICAL_DRIVE_CONFIG original = *new_ld_buffer;
    if (!(ld->flags & kEditableLDTransformation)) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion '(editable_ld->flags & kEditableLDTransformation)' failed: LD %u queued for "
                    "transformation but operation/change unknown\n",
                    __func__, __LINE__, static_cast<unsigned>(ld_number));
    } else {
        __VK_ManageEditableLogicalDriveDataDrives(cda, ld_number, new_ld_buffer);
        __VK_ManageEditableLogicalDriveSpareDrives(cda, ld_number, new_ld_buffer);
        __VK_ManageEditableLogicalDriveFaultTolerance(cda, ld_number, new_ld_buffer);
        __VK_ManageEditableLogicalDriveSize(cda, ld_number, new_ld_buffer);
        __VK_ManageEditableLogicalDriveAccelerator(cda, ld_number, new_ld_buffer);
        new_ld_buffer->bDriveTypeMixFlag = 0;
    }
    if (ld->flags & kEditableLDEnableSED) {
        new_ld_buffer->bConfigurationFlags |= kConfigurationFlagSEDEnabled;
    }
    if (CopyUnchanged(original, new_ld_buffer, "transforms", ld_number, __func__, __LINE__)) {
        return 0;
    }
    LogicalDriveTransformation live{};
    __VK_InitializeLogicalDriveCurrentSettings(cda, ld_number, &live);
    PN_DebugLog(2, 0,
                "%s:%d: Transforming ld %u\n ->flags......0x%08X\n ->array......%u -> %u\n ->RAID.......%u -> %u\n "
                "->npg........%u -> %u\n ->strip......%u -> %u\n ->blocksize..%u -> %u\n ->pd_offset..%llu -> %llu\n "
                "->pd_blocks..%llu -> %llu\n ->size.......%llu -> %llu\n ->accel......%u\n",
                __func__, __LINE__, static_cast<unsigned>(ld_number), static_cast<unsigned>(ld->flags & 0xFFFFFFFF),
                static_cast<unsigned>(live.array_number), static_cast<unsigned>(ld->editable_array_number),
                static_cast<unsigned>(live.RAID_level), static_cast<unsigned>(ld->RAID_level),
                static_cast<unsigned>(live.num_parity_groups), static_cast<unsigned>(ld->num_parity_groups),
                static_cast<unsigned>(live.strip_size_blocks), static_cast<unsigned>(ld->strip_size_blocks),
                static_cast<unsigned>(live.block_size_bytes), static_cast<unsigned>(ld->block_size_bytes),
                static_cast<unsigned long long>(live.physical_drive_offset_block),
                static_cast<unsigned long long>(ld->physical_drive_offset_block),
                static_cast<unsigned long long>(live.physical_drive_blocks_per_drive),
                static_cast<unsigned long long>(ld->physical_drive_blocks_per_drive),
                static_cast<unsigned long long>(live.drive_size_blocks),
                static_cast<unsigned long long>(ld->drive_size_blocks),
                static_cast<unsigned>(ld->logical_drive_accelerator));
    if (!VK_ChangeConfiguration(cda, ld_number, new_ld_buffer)) {
        PN_DebugLog(1, 0, "%s:%d: Failed to transform ld %u (id:0x08%X)\n", __func__, __LINE__,
                    static_cast<unsigned>(ld_number), static_cast<unsigned>(ld->flags & kEditableLDTransformation));
        return kEditableConfigurationCommitErrorLogicalDriveTransformation;
    }
    return 0;
}

namespace {

// The settings passes on either side of the controller writes visit the staged logical drives in
// number order under one lock, and nothing when no configuration is staged.
template <class Visit> void ForEachStagedLogicalDrive(PCDA cda, Visit visit) {
    CDALock guard(cda);
    if (_VK_GetEditableConfiguration(cda) == nullptr) {
        return;
    }
    for (VK_WORD n = VK_EnumerateEditableLogicalDrives(cda, kInvalidLDNumber); n != kInvalidLDNumber;
         n = VK_EnumerateEditableLogicalDrives(cda, n)) {
        if (const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, n)) {
            visit(n, *ld);
        }
    }
}

} // namespace

void __VK_CommitEditableExistingDrivePreConfigurationSettings(PCDA cda) {
    ForEachStagedLogicalDrive(cda, [cda](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld) {
        if (ld.flags & kEditableLDNewDrive) {
            return;
        }
        if (ld.flags & kEditableLDSparesChanged) {
            OrCommitErrors(cda, __VK_CommitEditableSpareDriveChanges(cda, n));
        }
        if ((ld.flags & kEditableLDAcceleratorChanged) &&
            ld.logical_drive_accelerator != kLogicalDriveAcceleratorIOBypass) {
            OrCommitErrors(cda, __VK_CommitEditableLogicalDriveAcceleratorChanges(cda, n));
        }
    });
}

void __VK_CommitEditableDrivePostConfigurationSettings(PCDA cda) {
    ForEachStagedLogicalDrive(cda, [cda](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld) {
        if (ld.flags & kEditableLDSparesChanged) {
            OrCommitErrors(cda, __VK_CommitEditableSpareDriveChanges(cda, n));
        }
        if ((ld.flags & kEditableLDAcceleratorChanged) &&
            ld.logical_drive_accelerator == kLogicalDriveAcceleratorIOBypass &&
            !(ld.flags & kEditableLDNewDrive)) {
            OrCommitErrors(cda, __VK_CommitEditableLogicalDriveAcceleratorChanges(cda, n));
        }
        if (ld.flags & kEditableLDLUCache) {
            OrCommitErrors(cda, __VK_CommitEditableLUCacheLogicalDriveChanges(cda, n));
        }
    });
}

// Clear configuration
//
// One call removes the logical drives, the controller-based encryption configuration, managed SED
// encryption, the NVRAM and the drives' configuration metadata, as the caller asks and the
// permission allows. An action is reported as performed only when its commands succeeded.

namespace {

constexpr VK_DWORD kClearConfigurationActions =
    kClearConfigurationRemoveLogicalDrives | kClearConfigurationRemoveEncryption |
    kClearConfigurationClearNVRAM | kClearConfigurationClearPhysicalDriveCCM |
    kClearConfigurationRemoveSEDEncryption;
constexpr VK_DWORD kClearActionDeleteLogicalDrives = 1; // CLEAR_CONTROLLER_CONFIG action bits
constexpr VK_DWORD kClearActionNVRAM = 4;
constexpr VK_DWORD kAllDrives = 0xFFFFFFFF;
constexpr VK_BYTE kClearCommandFeatureVersion = 4;
constexpr VK_QWORD kSEDStatusEnabled = VK_QWORD{kControllerSEDEncryptionStatusEnabled}
                                       << kControllerSEDEncryptionStatusShift;
constexpr VK_QWORD kSEDStatusWaitingOnAdapterPassword =
    VK_QWORD{kControllerSEDEncryptionStatusWaitingOnAdapterPassword} << kControllerSEDEncryptionStatusShift;
constexpr VK_BYTE kMiscellaneousClearNVRAM = 0x01; // bFlags3

bool InOrPendingHBA(VK_DWORD mode) {
    return (mode & kControllerModeCurrentMask) == kControllerModeCurrentHBA ||
           (mode & kControllerModePendingMask) == kControllerModePendingHBA;
}

} // namespace

namespace telmar::direct {

VK_DWORD ClearConfigurationPermission(const ClearConfigurationFacts& facts, VK_DWORD action_flags) {
    VK_DWORD result = 0;
    if (facts.ofa_running) {
        // Nothing else is answered while the firmware is being activated.
        result = kClearConfigurationControllerOFAActive;
        action_flags = 0;
    }
    bool drives_go = false;
    if (action_flags & kClearConfigurationRemoveLogicalDrives) {
        if (InOrPendingHBA(facts.mode)) {
            result |= kClearConfigurationHBAMode;
        } else if (facts.logical_unit_count == 0) {
            result |= kClearConfigurationNoLogicalDrives;
        } else if ((facts.sed_status & kSEDStatusWaitingOnAdapterPassword) && facts.sed_enabled_ld) {
            result |= kClearConfigurationSEDWaitingOnAdapterPassword;
        } else {
            result |= kClearConfigurationRemoveLogicalDrivesAllowed;
            drives_go = true;
        }
    }
    if (action_flags & kClearConfigurationRemoveEncryption) {
        const VK_BYTE reason = facts.encryption_reason;
        if (reason == kCanClearEncryptionConfigurationNotSupported) {
            result |= kClearConfigurationNoEncryptionSupport;
        } else if (reason == kCanClearEncryptionConfigurationNotConfigured) {
            result |= kClearConfigurationNoEncryptionConfiguration;
        } else if (drives_go) {
            result |= kClearConfigurationRemoveEncryptionAllowed;
        } else if (reason == kCanClearEncryptionConfigurationEncodeOrRekeyInProgress) {
            result |= kClearConfigurationEncodeOrRekeyInProgress;
        } else if (reason == kCanClearEncryptionConfigurationLogicalDrivesExist) {
            result |= kClearConfigurationEncryptionLogicalDrivesExist;
        } else {
            result |= kClearConfigurationRemoveEncryptionAllowed;
        }
    }
    if (action_flags & kClearConfigurationClearNVRAM) {
        result |= facts.nvram_clear_supported ? kClearConfigurationClearNVRAMAllowed
                                              : kClearConfigurationClearNVRAMNotSupported;
    }
    if (action_flags & kClearConfigurationClearPhysicalDriveCCM) {
        if (facts.ccm_reasons.empty()) {
            result |= kClearConfigurationClearPhysicalDriveCCMNoDrivesAttached;
        }
        for (const VK_BYTE reason : facts.ccm_reasons) {
            switch (reason) {
                case kCanClearPhysicalDriveCCMAllowed:
                    result |= kClearConfigurationClearPhysicalDriveCCMAllowed;
                    break;
                case kCanClearPhysicalDriveCCMControllerLocked:
                    result |= kClearConfigurationClearPhysicalDriveCCMEncryptionLocked;
                    break;
                case kCanClearPhysicalDriveCCMNoCCM:
                    result |= kClearConfigurationClearPhysicalDriveCCMNoCCM;
                    break;
                case kCanClearPhysicalDriveCCMNotSupported:
                    result |= kClearConfigurationClearPhysicalDriveCCMNotSupported;
                    break;
                default:
                    break;
            }
        }
    }
    if (action_flags & kClearConfigurationRemoveSEDEncryption) {
        if (!facts.sed_supported) {
            result |= kClearConfigurationNoSEDEncryptionSupport;
        } else if (!(facts.sed_status & kSEDStatusEnabled)) {
            result |= kClearConfigurationSEDEncryptionNotEnabled;
        } else if (facts.sed_status & kControllerSEDEncryptionProgressMask) {
            result |= kClearConfigurationSEDOperationsInProgress;
        } else if ((facts.sed_status & kSEDStatusWaitingOnAdapterPassword) && facts.owned_sed) {
            result |= kClearConfigurationSEDWaitingOnAdapterPassword;
        } else if (drives_go || !facts.sed_enabled_ld) {
            result |= kClearConfigurationRemoveSEDEncryptionAllowed;
        } else {
            result |= kClearConfigurationSEDHasSEDEnabledLD;
        }
    }
    return result;
}

} // namespace telmar::direct

VK_DWORD VK_CanClearConfiguration(PCDA cda, VK_DWORD action_flags) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    direct::ClearConfigurationFacts facts;
    facts.mode = VK_GetControllerModeInfo(cda);
    facts.ofa_running = _VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse) != kFalse;
    if (facts.ofa_running) {
        return direct::ClearConfigurationPermission(facts, action_flags);
    }
    facts.sed_enabled_ld = _VK_ControllerHasSEDEnabledLD(cda) != kFalse;
    facts.sed_status = VK_GetControllerSEDEncryptionStatus(cda);
    facts.logical_unit_count = c->identify_controller_buffer.wExtendedLogicalUnitCount;
    if (action_flags & kClearConfigurationRemoveEncryption) {
        facts.encryption_reason = VK_CanClearEncryptionConfigurationSafe(cda, nullptr, 0);
    }
    if (action_flags & kClearConfigurationClearNVRAM) {
        facts.nvram_clear_supported =
            VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda) &&
            (c->sense_feature.page_miscellaneous.bFlags3 & kMiscellaneousClearNVRAM);
    }
    if (action_flags & kClearConfigurationClearPhysicalDriveCCM) {
        for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kNoDevice); pd != kNoDevice;
             pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
            facts.ccm_reasons.push_back(VK_CanClearPhysicalDriveCCM(cda, pd));
        }
    }
    if (action_flags & kClearConfigurationRemoveSEDEncryption) {
        facts.sed_supported = (VK_ControllerSupportsSEDEncryption(cda) & 0x1) != 0;
        facts.owned_sed = facts.sed_supported && (facts.sed_status & kSEDStatusWaitingOnAdapterPassword) &&
                          _VK_ControllerHasOwnedSED(cda);
    }
    return direct::ClearConfigurationPermission(facts, action_flags);
}

VK_WORD VK_DoClearConfiguration(PCDA cda, VK_DWORD action_flags) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const VK_DWORD allowed = VK_CanClearConfiguration(cda, action_flags);
    const VK_DWORD run = action_flags & allowed & kClearConfigurationActions;
    VK_WORD done = 0;

    if (run & kClearConfigurationRemoveLogicalDrives) {
        // The overwrite is best effort: a drive it cannot reach is deleted all the same.
        std::array<VK_WORD, kMaxLogicalDrivesSupported> drives{};
        size_t count = 0;
        for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kNoLogicalDrive);
             ld != kNoLogicalDrive && count < drives.size();
             ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
            drives[count++] = ld;
        }
        for (size_t i = 0; i < count; ++i) {
            __VK_ManglePartitionTable(cda, drives[i]);
        }
        const bool removed =
            _VK_CDA(cda)->controller_firmware_feature_version < kClearCommandFeatureVersion
                ? __VK_DeleteAllLogicalDrives(cda) != kFalse
                : VK_ClearConfiguration(cda, kClearActionDeleteLogicalDrives, kAllDrives, kTrue) != kFalse;
        if (removed) {
            done |= ClearConfigurationLogicalDrivesRemoved;
        }
    }
    if (run & kClearConfigurationRemoveEncryption) {
        if (run & kClearConfigurationRemoveLogicalDrives) {
            VK_ReInitializeCDA(cda);
        }
        if (VK_ClearEncryptionConfigurationSafe(cda, nullptr, 0)) {
            done |= ClearConfigurationEncryptionConfigurationCleared;
        }
    }
    if ((run & kClearConfigurationRemoveSEDEncryption) && _VK_DisableControllerSEDEncryption(cda) == kTrue) {
        done |= ClearConfigurationSEDEncryptionDisabled;
    }
    if ((run & kClearConfigurationClearNVRAM) &&
        VK_ClearConfiguration(cda, kClearActionNVRAM, kAllDrives, kTrue)) {
        done |= ClearConfigurationNVRAMCleared;
    }
    if (run & kClearConfigurationClearPhysicalDriveCCM) {
        std::array<VK_WORD, kMaxPhysicalDrivesSupported> drives{};
        size_t count = 0;
        for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kNoDevice);
             pd != kNoDevice && count < drives.size(); pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
            drives[count++] = pd;
        }
        bool cleared = false;
        for (size_t i = 0; i < count; ++i) {
            cleared = VK_ClearPhysicalDriveCCM(cda, drives[i]) != kFalse || cleared;
        }
        if (cleared) {
            done |= ClearConfigurationPhysicalDriveCCMCleared;
        }
    }
    // Whatever the controller took of an action that failed part-way, nothing cached may outlive it.
    if (run != 0) {
        VK_ReInitializeCDA(cda);
    }
    return done;
}

// Commit steps: encryption --------------------------------------------------------------------------
//
// The pending encryption settings become 0x1E requests (and one managed-SED request) at fixed points
// of the commit. Each step answers 0 or its commit-error bit and never stops the commit.

namespace {

// Change bits of the staged encryption settings: any of them means something is to be sent.
constexpr VK_DWORD kPendingEncryptionChanges = 0x3FFE0;
static_assert((kEditableConfigEncryptionMode | kEditableConfigCryptoOfficerPassword |
               kEditableConfigUserPassword | kEditableConfigMasterKey | kEditableConfigAllowPlaintext |
               kEditableConfigLogicalDriveEncryption | kEditableConfigEncryptionToggle |
               kEditableConfigFirmwareLock | kEditableConfigRecoveryQuestion | kEditableConfigBootPassword |
               kEditableConfigBootPasswordState | kEditableConfigVolatileKeys | kEditableConfigKeyCache) ==
              kPendingEncryptionChanges);

// The cached buffers the status word is built from and that the configuration step changes.
constexpr VK_DWORD kEncryptionStatusBuffers =
    kCDAValidIdentifyController | kCDAValidEncryptionRecoveryQuestion |
    kCDAValidEncryptionBootPasswordStatus | kCDAValidEncryptionKeyManagerStatus |
    kCDAValidEncryptionRoleAttributes;
static_assert(kEncryptionStatusBuffers == 0x1E1);

// Key-manager mode value of function 13.
constexpr VK_DWORD kModeRemote = 0;
constexpr VK_DWORD kModeLocal = 2;
constexpr VK_DWORD kModeEnable = 1;
constexpr VK_DWORD kModePlaintextAllowed = 4;

// The login field is always sent at its full 17 bytes; the builders cut it to the 16 of the field.
constexpr size_t kSessionPasswordSize = sizeof(EDITABLE_ENCRYPTION_LOGIN_SESSION::password);
static_assert(kSessionPasswordSize == 17);

// Sizes the random credentials of express-local mode are generated into.
constexpr size_t kExpressPasswordSize = 13;
constexpr size_t kExpressAnswerSize = 33;
constexpr size_t kExpressKeyNameSize = 15;

// Sizes the staged credentials are sent with.
constexpr size_t kStagedKeySize = 64;
constexpr size_t kStagedAnswerSize = 65;
constexpr size_t kStagedBootPasswordSize = 33;
constexpr size_t kExpressQuestionSize = 256;
constexpr size_t kStagedQuestionSize = 257;

// Boot-password state that enabling a new boot password already implies.
constexpr VK_BYTE kStagedBootPasswordEnabled = 2;

// The credentials the configuration step sends, wiped whichever way the step ends.
struct StepCredentials {
    char officer_password[17] = {};
    char key[64] = {};
    char answer[65] = {};
    const char* question = nullptr;
    size_t question_size = 0;
    StepCredentials() = default;
    StepCredentials(const StepCredentials&) = delete;
    StepCredentials& operator=(const StepCredentials&) = delete;
    ~StepCredentials() {
        explicit_bzero(officer_password, sizeof(officer_password));
        explicit_bzero(key, sizeof(key));
        explicit_bzero(answer, sizeof(answer));
    }
};

VK_DWORD SessionRole(const PEDITABLE_CONFIGURATION config) {
    return telmar::RequestRole(config->session.user);
}

void SetSessionPassword(PEDITABLE_CONFIGURATION config, const char (&password)[17]) {
    static_assert(sizeof(password) == sizeof(config->session.password));
    std::memcpy(config->session.password, password, sizeof(config->session.password));
}

void ClearEncryptionStatusBuffers(PCDA cda) {
    _VK_CDA(cda)->flags[0] &= ~kEncryptionStatusBuffers;
}

// One request of the configuration step: the progress line, the request, the failure line.
bool Send(bool (*request)(PCDA, PEDITABLE_CONFIGURATION, const StepCredentials&), PCDA cda,
          PEDITABLE_CONFIGURATION config, const StepCredentials& creds, const char* progress,
          const char* failure, int line) {
    PN_DebugLog(2, 0, "%s:%d: %s\n", __FILE__, line, progress);
    const bool ok = request(cda, config, creds);
    if (!ok) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: %s\n",
                    "__VK_CommitEditableEncryptionConfiguration", line, failure);
    }
    return ok;
}

bool ClearForNewMode(PCDA cda, const char* failure, int line) {
    const bool ok = _VK_ClearEncryptionConfiguration(cda, nullptr, 0) != kFalse;
    if (!ok) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: %s\n",
                    "__VK_CommitEditableEncryptionConfiguration", line, failure);
    }
    return ok;
}

// Express-local credentials: a random password, answer and key name, and the marker question. False
// when the random source fails; then nothing may be sent.
bool ExpressCredentials(PCDA cda, StepCredentials& creds) {
    if (__VK_GenerateRandomPassword(cda, creds.officer_password, kExpressPasswordSize) == nullptr ||
        __VK_GenerateRandomAnswer(creds.answer, kExpressAnswerSize) == nullptr ||
        __VK_GenerateRandomKeyname(creds.key, kExpressKeyNameSize) == nullptr) {
        return false;
    }
    creds.question = kControllerEncryptionExpressModeQuestion;
    creds.question_size = kExpressQuestionSize;
    return true;
}

void StagedCredentials(PEDITABLE_CONFIGURATION config, StepCredentials& creds) {
    std::memcpy(creds.officer_password, config->encryption_password[0], sizeof(creds.officer_password));
    std::memcpy(creds.key, config->encryption_key, sizeof(creds.key));
    std::memcpy(creds.answer, config->encryption_answer, sizeof(creds.answer));
    creds.question = config->encryption_question;
    creds.question_size = kStagedQuestionSize;
}

} // namespace

VK_UINT64 __VK_CommitEditableEncryptionConfiguration(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || !(config->flags & kPendingEncryptionChanges)) {
        return 0;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    const bool configured_at_start = (status & kControllerEncryptionCryptoOfficerPasswordSet) != 0;
    bool configured = configured_at_start;
    bool success = true;

    if (config->encryption == kControllerEncryptionNone) {
        VK_UINT64 result = 0;
        if (config->flags & kEditableConfigEncryptionMode) {
            PN_DebugLog(2, 0, "%s:%d: Clearing encryption configuration\n", __FILE__, __LINE__);
            if (!_VK_ClearEncryptionConfiguration(cda, nullptr, 0)) {
                PN_DebugLog(1, 0, "%s:%d: Failed to clear encryption", __FILE__, __LINE__);
                result = kEditableConfigurationCommitErrorClearEncryption;
            }
        }
        ClearEncryptionStatusBuffers(cda);
        return result;
    }

    const VK_DWORD changes = config->flags;
    const bool settings_changed =
        (changes & kEditableConfigEncryptionMode) || (changes & kEditableConfigAllowPlaintext) ||
        ((changes & kEditableConfigEncryptionToggle) && (changes & kEditableConfigEncryptionEnabled));
    const bool remote = config->encryption == kControllerEncryptionRemote;

    StepCredentials creds;
    if (config->encryption == kControllerEncryptionExpressLocal) {
        if (!ExpressCredentials(cda, creds)) {
            // Clearing or setting anything now would leave the controller with credentials nobody holds.
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to generate express credentials\n",
                        __func__, __LINE__);
            ClearEncryptionStatusBuffers(cda);
            return kEditableConfigurationCommitErrorEncryptionSettings;
        }
        if (configured && !(status & kControllerEncryptionExpressModeOn)) {
            PN_DebugLog(2, 0, "%s:%d: Clearing existing local/remote encryption\n", __FILE__, __LINE__);
            success = ClearForNewMode(cda, "Failed to clear existing local/remote encryption", __LINE__);
            configured = false;
        }
        if (!(changes & kEditableConfigRecoveryQuestion)) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'queue_change_q_and_a' failed: Failed the QA bit is not set for Local "
                "Express\n",
                __func__, __LINE__);
        }
    } else {
        StagedCredentials(config, creds);
        if (status & kControllerEncryptionExpressModeOn) {
            PN_DebugLog(1, 0, "%s:%d: Clearing existing local/express encryption\n", __FILE__, __LINE__);
            success = ClearForNewMode(cda, "Failed to clear existing local/express encryption", __LINE__);
            configured = false;
        }
    }

    if (!configured) {
        config->session.user = 0;
        SetSessionPassword(config, creds.officer_password);
    }

    using Creds = const StepCredentials&;
    if (success && ((changes & kEditableConfigCryptoOfficerPassword) || !configured)) {
        const bool login = configured;
        PN_DebugLog(2, 0, "%s:%d: Setting crypto officer password\n", __FILE__, __LINE__);
        success = _VK_SetEncryptionPassword(cda, 0, creds.officer_password, sizeof(creds.officer_password),
                                            login ? SessionRole(config) : 0,
                                            login ? config->session.password : nullptr,
                                            login ? kSessionPasswordSize : 0) != kFalse;
        if (!success) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to set crypto officer password\n",
                        __func__, __LINE__);
        } else if (SessionRole(config) == 0) {
            SetSessionPassword(config, creds.officer_password);
        }
    }
    if (success && ((changes & kEditableConfigMasterKey) || !configured || settings_changed)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds cr) {
                auto set = cfg->encryption == kControllerEncryptionRemote ? _VK_SetIkekEncryptionKey
                                                                          : _VK_SetEncryptionKey;
                return set(c, SessionRole(cfg), cfg->session.password, kSessionPasswordSize, cr.key,
                           kStagedKeySize) != kFalse;
            },
            cda, config, creds, "Setting encryption master key", "Failed to set encryption key", __LINE__);
    }
    if (success && settings_changed) {
        VK_DWORD mode = remote ? kModeRemote : kModeLocal;
        if (changes & kEditableConfigPlaintextAllowed) {
            mode |= kModePlaintextAllowed;
        }
        if (!configured || (status & kControllerEncryptionEnabled) ||
            (changes & kEditableConfigEncryptionEnabled)) {
            mode |= kModeEnable;
        }
        PN_DebugLog(2, 0, "%s:%d: Setting encryption key manager and settings\n", __FILE__, __LINE__);
        success = _VK_SetEncryptionKeyManagementMode(cda, SessionRole(config), mode, config->session.password,
                                                     kSessionPasswordSize) != kFalse;
        if (!success) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'success' failed: Failed to set encryption key manager and settings\n",
                __func__, __LINE__);
        }
    }
    if (success && (changes & kEditableConfigUserPassword)) {
        PN_DebugLog(2, 0, "%s:%d: Setting user password\n", __FILE__, __LINE__);
        success = _VK_SetEncryptionPassword(cda, 1, config->encryption_password[1], kSessionPasswordSize,
                                            SessionRole(config), config->session.password,
                                            kSessionPasswordSize) != kFalse;
        if (!success) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to set encryption user password\n",
                        __func__, __LINE__);
        } else if (SessionRole(config) == 1) {
            SetSessionPassword(config, config->encryption_password[1]);
        }
    }
    if (success && (changes & kEditableConfigRecoveryQuestion)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds cr) {
                return _VK_SetEncryptionRecoveryQuestionAndAnswer(
                           c, SessionRole(cfg), cfg->session.password, kSessionPasswordSize, cr.question,
                           cr.question_size, cr.answer, kStagedAnswerSize) != kFalse;
            },
            cda, config, creds, "Setting encryption recovery q&a", "Failed to set encryption recovery q&a",
            __LINE__);
    }
    if (success && (changes & kEditableConfigFirmwareLock)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds) {
                const VK_DWORD action = (cfg->flags & kEditableConfigFirmwareLocked) ? 0 : 1;
                return _VK_SetEncryptionUnlockFirmware(c, SessionRole(cfg), action, cfg->session.password,
                                                       kSessionPasswordSize) != kFalse;
            },
            cda, config, creds, "Setting encryption FW lock", "Failed to set encryption FW lock", __LINE__);
    }
    if (success && (changes & kEditableConfigBootPassword)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds) {
                return _VK_SetEncryptionBootPassword(c, SessionRole(cfg), cfg->session.password,
                                                     kSessionPasswordSize, cfg->encryption_boot_password,
                                                     kStagedBootPasswordSize) != kFalse;
            },
            cda, config, creds, "Setting encryption boot password", "Failed to set encryption boot password",
            __LINE__);
    }
    if (success && (changes & kEditableConfigBootPasswordState) &&
        !((changes & kEditableConfigBootPassword) &&
          config->encryption_boot_password_state == kStagedBootPasswordEnabled)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds) {
                return _VK_SetEncryptionBootPasswordState(c, SessionRole(cfg), cfg->session.password,
                                                          kSessionPasswordSize,
                                                          cfg->encryption_boot_password_state) != kFalse;
            },
            cda, config, creds, "Setting encryption boot password state",
            "Failed to set encryption boot password state", __LINE__);
    }
    if (success && (changes & kEditableConfigKeyCache)) {
        success = Send(
            [](PCDA c, PEDITABLE_CONFIGURATION cfg, Creds) {
                const VK_QWORD cache = cfg->encryption_key_cache_state;
                return _VK_SetEncryptionKeyCache(c, SessionRole(cfg), cfg->session.password,
                                                 kSessionPasswordSize, (cache >> 63) & 1 ? kTrue : kFalse,
                                                 (cache >> 62) & 1 ? kTrue : kFalse,
                                                 static_cast<VK_WORD>(cache & 0xFFFF),
                                                 static_cast<VK_WORD>((cache >> 16) & 0xFFFF)) != kFalse;
            },
            cda, config, creds, "Setting encryption key cache", "Failed to set encryption key cache",
            __LINE__);
    }

    VK_UINT64 result = 0;
    if (!success) {
        if (!configured_at_start) {
            // A half-made configuration would lock the controller behind credentials only partly set.
            _VK_ClearEncryptionConfiguration(cda, nullptr, 0);
        }
        result = kEditableConfigurationCommitErrorEncryptionSettings;
    }
    ClearEncryptionStatusBuffers(cda);
    return result;
}

VK_UINT64 __VK_CommitEditableEncryptionDisable(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || !(config->flags & kEditableConfigEncryptionToggle) ||
        (config->flags & kEditableConfigEncryptionEnabled)) {
        return 0;
    }
    if (config->encryption != kControllerEncryptionLocal &&
        config->encryption != kControllerEncryptionRemote) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'cda->editable_configuration->encryption == 0x02 || "
            "cda->editable_configuration->encryption == 0x03' failed: Invalid call to disable invalid key "
            "manager\n",
            __func__, __LINE__);
        return 0;
    }
    PN_DebugLog(2, 0, "%s:%d: Disabling encryption\n", __FILE__, __LINE__);
    VK_DWORD mode = config->encryption == kControllerEncryptionRemote ? kModeRemote : kModeLocal;
    if (config->flags & kEditableConfigPlaintextAllowed) {
        mode |= kModePlaintextAllowed;
    }
    if (!_VK_SetEncryptionKeyManagementMode(cda, SessionRole(config), mode, config->session.password,
                                            kSessionPasswordSize)) {
        PN_DebugLog(1, 0, "%s:%d: Failed to disable encryption\n", __FILE__, __LINE__);
        return kEditableConfigurationCommitErrorEncryptionDisable;
    }
    return 0;
}

namespace {

// A per-drive step: every staged logical drive in number order that `selects`, one request each with
// the session login; a failed drive is logged and the walk goes on.
struct DriveStep {
    bool (*selects)(PCDA, const EDITABLE_LOGICAL_DRIVE&);
    VK_BOOL (*request)(PCDA, VK_DWORD role, const EDITABLE_LOGICAL_DRIVE&, const char* password, size_t size);
    const char* progress; // one %u: the drive
    const char* failure;  // one %u: the drive
    VK_UINT64 error;
};

VK_UINT64 RunDriveStep(PCDA cda, const DriveStep& step) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return 0;
    }
    VK_UINT64 result = 0;
    for (VK_WORD ld = VK_EnumerateEditableLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateEditableLogicalDrives(cda, ld)) {
        const PEDITABLE_LOGICAL_DRIVE drive = _VK_GetEditableLogicalDrive(cda, ld);
        if (drive == nullptr || !step.selects(cda, *drive)) {
            continue;
        }
        PN_DebugLog(2, 0, step.progress, __FILE__, __LINE__, ld);
        if (!step.request(cda, SessionRole(config), *drive, config->session.password, kSessionPasswordSize)) {
            PN_DebugLog(1, 0, step.failure, __FILE__, __LINE__, ld);
            result = step.error;
        }
    }
    return result;
}

bool Has(const EDITABLE_LOGICAL_DRIVE& ld, VK_QWORD bits) {
    return (ld.flags & bits) != 0;
}

VK_BOOL ToPlainText(PCDA cda, VK_DWORD role, const EDITABLE_LOGICAL_DRIVE& ld, const char* pw, size_t size) {
    return _VK_SetLogicalVolumeToPlainText(cda, role, ld.ld_number, pw, size);
}
VK_BOOL ToEncrypted(PCDA cda, VK_DWORD role, const EDITABLE_LOGICAL_DRIVE& ld, const char* pw, size_t size) {
    return _VK_SetLogicalVolumeToEncrypted(cda, role, ld.ld_number, pw, size);
}
VK_BOOL Encode(PCDA cda, VK_DWORD role, const EDITABLE_LOGICAL_DRIVE& ld, const char* pw, size_t size) {
    return _VK_EncodeLogicalVolume(cda, role, ld.ld_number, pw, size);
}
VK_BOOL VolatileKeys(PCDA cda, VK_DWORD role, const EDITABLE_LOGICAL_DRIVE& ld, const char* pw, size_t size) {
    return _VK_SetLogicalDriveVolatileKeys(cda, role, ld.ld_number, pw, size,
                                           Has(ld, kEditableLDVolatileKey) ? kTrue : kFalse,
                                           Has(ld, kEditableLDVolatileKeyBackup) ? kTrue : kFalse);
}

} // namespace

VK_UINT64 __VK_CommitPlaintextNewLogicalDrives(PCDA cda) {
    static constexpr DriveStep step{[](PCDA, const EDITABLE_LOGICAL_DRIVE& ld) {
                                        return Has(ld, kEditableLDNewDrive) && !Has(ld, kEditableLDEncrypted);
                                    },
                                    ToPlainText, "%s:%d: Rekey ld %u as plaintext\n",
                                    "%s:%d: Failed to rekey ld %u as plaintext\n",
                                    kEditableConfigurationCommitErrorRekeyToPlainText};
    return RunDriveStep(cda, step);
}

VK_UINT64 __VK_CommitEncodeExistingLogicalDrivesWithoutPreservingData(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || config->encryption == kControllerEncryptionNone ||
        VK_GetControllerEncryption(cda) == kControllerEncryptionNone) {
        return 0;
    }
    static constexpr DriveStep step{
        [](PCDA c, const EDITABLE_LOGICAL_DRIVE& ld) {
            return !Has(ld, kEditableLDNewDrive) && Has(ld, kEditableLDEncrypted) &&
                   !Has(ld, kEditableLDPreserveData) &&
                   !(VK_GetLogicalDriveEncryptionInfo(c, ld.ld_number) & kLogicalDriveEncryptionEnabled);
        },
        ToEncrypted, "%s:%d: Encode (w/o preserving data) ld %u\n", "%s:%d: Failed to encode ld %u\n",
        kEditableConfigurationCommitErrorEncodeLogicalDrives};
    return RunDriveStep(cda, step);
}

VK_UINT64 __VK_CommitLogicalDriveVolatileKeys(PCDA cda) {
    static constexpr DriveStep step{
        [](PCDA, const EDITABLE_LOGICAL_DRIVE& ld) { return Has(ld, kEditableLDVolatileKeyChanged); },
        VolatileKeys, "%s:%d: Setting volatile keys for ld %u\n",
        "%s:%d: Failed to set volatile keys for ld %u\n", kEditableConfigurationCommitErrorVolatileKeys};
    return RunDriveStep(cda, step);
}

VK_UINT64 __VK_CommitTransformEncodeEditableLogicalDrives(PCDA cda) {
    static constexpr DriveStep step{
        [](PCDA, const EDITABLE_LOGICAL_DRIVE& ld) { return Has(ld, kEditableLDTransformEncode); }, Encode,
        "%s:%d: Encoding ld %u\n", "%s:%d: Failed to encode ld %u\n",
        kEditableConfigurationCommitErrorTransformEncodeLogicalDrives};
    return RunDriveStep(cda, step);
}

VK_UINT64 __VK_CommitDestructiveEncodeEditableLogicalDrives(PCDA cda) {
    static constexpr DriveStep step{
        [](PCDA, const EDITABLE_LOGICAL_DRIVE& ld) { return Has(ld, kEditableLDDestructiveEncode); },
        ToEncrypted, "%s:%d: Rekeying ld %u\n", "%s:%d: Failed to rekey ld %u\n",
        kEditableConfigurationCommitErrorDestructiveEncodeLogicalDrives};
    return RunDriveStep(cda, step);
}

VK_UINT64 __VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(PCDA cda) {
    if (_VK_GetEditableConfiguration(cda) == nullptr) {
        return 0;
    }
    MANAGED_SED_SECURE_VOLUME request{};
    bool any = false;
    for (VK_WORD ld = VK_EnumerateEditableLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateEditableLogicalDrives(cda, ld)) {
        const PEDITABLE_LOGICAL_DRIVE drive = _VK_GetEditableLogicalDrive(cda, ld);
        if (drive == nullptr || ld >= 8 * sizeof(request.bVolumeBitmap) || Has(*drive, kEditableLDNewDrive) ||
            !Has(*drive, kEditableLDEnableSED) || Has(*drive, kEditableLDArrayMove)) {
            continue;
        }
        pavlin::ByteSpan(request.bVolumeBitmap, sizeof(request.bVolumeBitmap))
            .put8(ld / 8, static_cast<VK_BYTE>(request.bVolumeBitmap[ld / 8] | (1u << (ld % 8))));
        any = true;
    }
    if (!any) {
        return 0;
    }
    if (!_VK_BMICHelperWriteBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED,
                                     kManagedSEDSecureVolume, 0, 0, &request, sizeof(request))) {
        PN_DebugLog(1, 0, "%s:%d: Enabling SED encryption on existing logical drives failed\n", __FILE__,
                    __LINE__);
        return kEditableConfigurationCommitErrorLogicalDriveSEDEncryption;
    }
    return 0;
}

// Commit engine ---------------------------------------------------------------------------------------
//
// Decides whether the staged configuration may be written and writes it in a fixed order of steps.
// Every step's failure lands in the commit-error bits and later steps still run; once writing has
// started the commit always ends with the rescan request, the re-read and the destruction of the
// staged configuration.

namespace {

// Configuration flag bits that are changes of their own (controller settings and encryption).
constexpr VK_DWORD kStagedChanges = 0x3FFFF;
constexpr VK_BYTE kPredictiveSpareActivation = 1;
constexpr VK_BYTE kAutoReplaceSpares = 1;

bool NoneOrExpressLocal(VK_BYTE mode) {
    return mode == kControllerEncryptionNone || mode == kControllerEncryptionExpressLocal;
}

bool Orphan(const EDITABLE_CONFIGURATION& config, VK_WORD ld_number, const EDITABLE_LOGICAL_DRIVE& ld) {
    const VK_WORD partner = ld.lu_cache_ld_number;
    if (partner >= kMaxLogicalDrivesSupported || config.editable_ld_list[partner] == nullptr) {
        return true;
    }
    return config.editable_ld_list[partner]->lu_cache_ld_number != ld_number;
}

} // namespace

VK_BYTE _VK_CanCommitEditableConfigurationInvalidSpareActivationMode(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || config->controller_spare_activation_mode == kPredictiveSpareActivation) {
        return kCanCommitEditableConfigurationOK;
    }
    for (VK_WORD a = VK_EnumerateEditableArrays(cda, kInvalidArrayNumber); a != kInvalidArrayNumber;
         a = VK_EnumerateEditableArrays(cda, a)) {
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, a);
        if (array == nullptr || array->logical_drive_count == 0 || array->spare_drive_count == 0) {
            continue;
        }
        size_t drives = 0, raid0 = 0;
        const size_t count = std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives));
        for (size_t i = 0; i < count; ++i) {
            const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[i]);
            if (ld == nullptr) {
                continue;
            }
            ++drives;
            raid0 += ld->RAID_level == kRAID0 ? 1 : 0;
        }
        if ((drives != 0 && raid0 == drives) ||
            (raid0 != 0 && VK_GetEditableArraySpareType(cda, a) == kAutoReplaceSpares)) {
            return kCanCommitEditableConfigurationInvalidSpareActivationMode;
        }
    }
    return kCanCommitEditableConfigurationOK;
}

VK_BYTE _VK_CanCommitEditableConfiguration(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kCanCommitEditableConfigurationNoEditableConfigCreated;
    }
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kTrue)) {
        return kCanCommitEditableConfigurationControllerOFAActive;
    }
    if (config->encryption != kControllerEncryptionNone) {
        if (!(config->flags & kEditableConfigCryptoOfficerPasswordKnown)) {
            return kCanCommitEditableConfigurationEncryptionPasswordNotSet;
        }
        if (!(config->flags & kEditableConfigMasterKeyKnown)) {
            return kCanCommitEditableConfigurationEncryptionKeyNotSet;
        }
    }
    if (_VK_CanCommitEditableConfigurationInvalidSpareActivationMode(cda) !=
        kCanCommitEditableConfigurationOK) {
        return kCanCommitEditableConfigurationInvalidSpareActivationMode;
    }
    bool modified = false, all_locked = true, orphan = false;
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const PEDITABLE_LOGICAL_DRIVE ld = config->editable_ld_list[n];
        if (ld == nullptr) {
            continue;
        }
        if (ld->flags & kEditableLDNewDrive) {
            modified = true;
            all_locked = all_locked && (ld->flags & kEditableLDLocked);
        }
        if ((ld->flags & (kEditableLDSparesChanged | kEditableLDTransformation | kEditableLDLUCacheChanged |
                          kEditableLDEnableSED)) ||
            !(ld->flags & kEditableLDLabelUnchanged)) {
            modified = true;
        }
        if ((ld->flags & kEditableLDLUCache) && Orphan(*config, n, *ld)) {
            orphan = true;
        }
    }
    if (modified) {
        if (!all_locked) {
            return kCanCommitEditableConfigurationUnlockedLogicalDrivesExist;
        }
        return orphan ? kCanCommitEditableConfigurationHasOrphanLUCacheLogicalDrive
                      : kCanCommitEditableConfigurationOK;
    }
    if (config->deleted_ld_count > 0 || (config->flags & kStagedChanges)) {
        return kCanCommitEditableConfigurationOK;
    }
    const VK_WORD queued = _VK_GetEditableLogicalDriveTransformationQueueCount(cda);
    if (queued > kMaxQueuedTransformations) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'transformation_queue_size <= 64' failed: Number of queued transformations "
            "exceeds max supported\n",
            __func__, __LINE__);
        return kCanCommitEditableConfigurationNoChangesToCommit;
    }
    return queued == 0 ? kCanCommitEditableConfigurationNoChangesToCommit : kCanCommitEditableConfigurationOK;
}

VK_BYTE VK_CanCommitEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return kCanCommitEditableConfigurationNoEditableConfigCreated;
    }
    CDALock guard(cda);
    const VK_BYTE reason = _VK_CanCommitEditableConfiguration(cda);
    if (reason != kCanCommitEditableConfigurationOK) {
        return reason;
    }
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (!NoneOrExpressLocal(VK_GetControllerEncryption(cda)) && !NoneOrExpressLocal(config->encryption) &&
        (config->flags & kPendingEncryptionChanges)) {
        return kCanCommitEditableConfigurationPasswordRequired;
    }
    return kCanCommitEditableConfigurationOK;
}

VK_BYTE VK_CanCommitEncryptedEditableConfigurationSafe(PCDA cda, VK_BYTE user, const char* password,
                                                       size_t password_size) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (user != 0 && (config.flags & kEditableConfigLoginRequired)) {
            return kCanCommitEncryptedEditableConfigurationPermissionDenied;
        }
        if ((config.flags & kPendingEncryptionChanges) &&
            !VK_VerifyEncryptionPasswordSafe(cda, user, password, password_size)) {
            return kCanCommitEncryptedEditableConfigurationLoginFailed;
        }
        return _VK_CanCommitEditableConfiguration(cda);
    };
    // No data area reads as no staged configuration.
    return telmar::StagedAnswer(cda, kCanCommitEditableConfigurationNoEditableConfigCreated, check);
}

VK_BYTE VK_CanCommitEncryptedEditableConfiguration(PCDA cda, VK_BYTE user, const char* password) {
    return VK_CanCommitEncryptedEditableConfigurationSafe(cda, user, password, telmar::StringSize(password));
}

// The commit itself ----------------------------------------------------------------------------------

namespace {

// Commit-error bits a step can produce.
constexpr VK_UINT64 kCommitErrorBits = 0x3FFFFF;
// The plain commit has no login.
constexpr VK_BYTE kNoLoginUser = 255;
// Logical-drive type, bits 0-3 of the basic info.
constexpr VK_DWORD kBasicInfoTypeBits = 0x0F;
constexpr VK_DWORD kClearRemoveLogicalDrives = 1;
constexpr VK_DWORD kClearAllDrives = 0xFFFFFFFF;
// Feature version from which the controller clears a whole configuration in one request.
constexpr VK_BYTE kClearConfigurationFeatureVersion = 4;
constexpr VK_QWORD kSEDEncryptionEnabled = static_cast<VK_QWORD>(kControllerSEDEncryptionStatusEnabled)
                                           << kControllerSEDEncryptionStatusShift;
static_assert(kSEDEncryptionEnabled == 0x20);
constexpr VK_QWORD kTransformKindBits = 0xFF000000;

VK_WORD LiveLogicalDriveCount(PCDA cda) {
    return VK_RequestIdentifyControllerBuffer(cda)
               ? _VK_CDA(cda)->identify_controller_buffer.wExtendedLogicalUnitCount
               : 0xFFFF;
}

bool InDeletedList(const EDITABLE_CONFIGURATION& config, VK_WORD ld_number) {
    const size_t count = std::min<size_t>(config.deleted_ld_count, std::size(config.deleted_logical_drives));
    for (size_t i = 0; i < count; ++i) {
        if (config.deleted_logical_drives[i] == ld_number) {
            return true;
        }
    }
    return false;
}

// Clearing the whole configuration is right only when every logical drive the controller has was
// staged for deletion: another program may have removed one drive and created another meanwhile,
// which leaves the counts equal.
bool DeletingEveryDrive(PCDA cda, const EDITABLE_CONFIGURATION& config) {
    if (config.deleted_ld_count != LiveLogicalDriveCount(cda)) {
        return false;
    }
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        if (!InDeletedList(config, ld)) {
            return false;
        }
    }
    return true;
}

void AddErrors(PCDA cda, VK_UINT64 bits) {
    _VK_CDA(cda)->editable_configuration_commit_errors |= bits;
}

// Deletions: partition tables first, then everything at once or one drive after another.
// Returns whether the controller is left without logical drives.
bool CommitDeletions(PCDA cda, EDITABLE_CONFIGURATION& config) {
    const size_t count = std::min<size_t>(config.deleted_ld_count, std::size(config.deleted_logical_drives));
    for (size_t i = 0; i < count; ++i) {
        __VK_ManglePartitionTable(cda, config.deleted_logical_drives[i]);
    }
    bool ok = true;
    bool empty = false;
    if (DeletingEveryDrive(cda, config)) {
        PN_DebugLog(2, 0, "%s:%d: Deleting all lds\n", __FILE__, __LINE__);
        empty = true;
        if (_VK_CDA(cda)->controller_firmware_feature_version < kClearConfigurationFeatureVersion) {
            ok = __VK_DeleteAllLogicalDrives(cda) != kFalse;
        } else {
            ok = VK_ClearConfiguration(cda, kClearRemoveLogicalDrives, kClearAllDrives, kFalse) != kFalse;
        }
    } else {
        for (size_t i = 0; i < count; ++i) {
            const VK_WORD ld = config.deleted_logical_drives[i];
            if ((VK_GetLogicalDriveBasicInfo(cda, ld) & kBasicInfoTypeBits) == kLogicalDriveTypeCache) {
                ok = __VK_DestroyLUCacheLogicalDrive(cda, ld) != kFalse && ok;
            }
        }
        for (size_t i = 0; i < count; ++i) {
            const VK_WORD ld = config.deleted_logical_drives[i];
            __VK_ManglePartitionTable(cda, ld);
            ok = __VK_DeleteLogicalDrive(cda, ld) != kFalse && ok;
        }
    }
    if (!ok) {
        AddErrors(cda, kEditableConfigurationCommitErrorDeleteLogicalDrive);
    }
    return empty;
}

void CommitEncryptionDependentCreation(PCDA cda, const EDITABLE_CONFIGURATION& config, VK_QWORD status) {
    if (!(status & kControllerEncryptionCryptoOfficerPasswordSet) ||
        !(status & kControllerEncryptionEnabled)) {
        if (VK_GetControllerSEDEncryptionStatus(cda) & kSEDEncryptionEnabled) {
            AddErrors(cda, __VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(cda));
        }
        AddErrors(cda, __VK_CommitCreateNewPlaintextLogicalDrives(cda));
        AddErrors(cda, __VK_CommitEditableEncryptionConfiguration(cda));
        AddErrors(cda, __VK_CommitCreateNewEncryptedLogicalDrives(cda));
        return;
    }
    if (config.encryption == kControllerEncryptionNone) {
        AddErrors(cda, __VK_CommitEditableEncryptionConfiguration(cda));
        AddErrors(cda, __VK_CommitCreateNewPlaintextLogicalDrives(cda));
        return;
    }
    const bool mixed = (status & kControllerEncryptionMixedVolumesEnabled) != 0;
    if (mixed) {
        AddErrors(cda, __VK_CommitCreateNewPlaintextLogicalDrives(cda));
        AddErrors(cda, __VK_CommitPlaintextNewLogicalDrives(cda));
    }
    AddErrors(cda, __VK_CommitEditableEncryptionConfiguration(cda));
    if (!mixed) {
        AddErrors(cda, __VK_CommitCreateNewPlaintextLogicalDrives(cda));
        AddErrors(cda, __VK_CommitPlaintextNewLogicalDrives(cda));
    }
    AddErrors(cda, __VK_CommitCreateNewEncryptedLogicalDrives(cda));
}

void CommitControllerWrites(PCDA cda, const EDITABLE_CONFIGURATION& config) {
    if (config.flags & kEditableConfigSurvivalMode) {
        AddErrors(cda, __VK_CommitEditableControllerSurvivalMode(cda));
    }
    if (config.flags & kEditableConfigControllerParams) {
        AddErrors(cda, __VK_CommitEditableControllerParameters(cda));
    }
    if (config.flags & kEditableConfigSurfaceScan) {
        AddErrors(cda, __VK_CommitEditableControllerSurfaceScan(cda));
    }
    if (config.flags & kEditableConfigMNPDelay) {
        AddErrors(cda, __VK_CommitEditableControllerMNPDelay(cda));
    }
    if ((config.flags & kEditableConfigCacheConfig) && __VK_ControllerSupportsDDRCaching(cda)) {
        AddErrors(cda, __VK_CommitEditableControllerCacheConfig(cda));
    }
}

// Whether a drive belongs to the pass of (drive-set, logical-drive-set).
bool InTransformationPass(VK_QWORD flags, int drive_set, int ld_set) {
    const bool drives_added = (flags & kEditableLDDrivesAdded) != 0;
    if (drives_added != (drive_set == 1)) {
        return false;
    }
    switch (ld_set) {
        case 0:
            return (flags & kEditableLDArrayMove) != 0;
        case 1:
            return (flags & kEditableLDExtentShrink) != 0;
        case 2:
            return (flags & kEditableLDExtentGrow) != 0;
        default:
            return (flags & kTransformKindBits) != 0;
    }
}

// Moves between arrays, then shrinking extents, then growing extents from the highest offset down,
// then the rest; first where arrays lose or keep drives, then where they gain some. Each drive once.
void CommitTransformations(PCDA cda, const EDITABLE_CONFIGURATION& config) {
    std::array<bool, kMaxLogicalDrivesSupported> done{};
    for (int drive_set = 0; drive_set < 2; ++drive_set) {
        for (int ld_set = 0; ld_set < 4; ++ld_set) {
            const bool descending = ld_set == 2;
            const VK_WORD arrays = std::min<VK_WORD>(config.editable_array_count, kMaxArraysSupported);
            for (VK_WORD a = 0; a < arrays; ++a) {
                auto next = [&](VK_WORD ld) {
                    return descending ? VK_rEnumerateEditableArrayLogicalDrivesByOffset(cda, a, ld)
                                      : VK_EnumerateEditableArrayLogicalDrivesByOffset(cda, a, ld);
                };
                for (VK_WORD ld = next(kInvalidLDNumber); ld != kInvalidLDNumber; ld = next(ld)) {
                    const PEDITABLE_LOGICAL_DRIVE drive = _VK_GetEditableLogicalDrive(cda, ld);
                    if (drive == nullptr || done[ld] ||
                        !InTransformationPass(drive->flags, drive_set, ld_set)) {
                        continue;
                    }
                    AddErrors(cda, __VK_CommitEditableTransformation(cda, ld));
                    drive->flags &= ~kEditableLDTransformation;
                    done[ld] = true;
                }
            }
        }
    }
}

// The out-of-sync proof: a second record populated from the controller now must match the checksum
// the staged configuration was created with. Re-reads the data area.
bool LiveConfigurationUnchanged(PCDA cda, const EDITABLE_CONFIGURATION& staged) {
    auto* current = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    if (current == nullptr) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'current_configuration != ((void *)0)' failed: Failed to allocate secondary "
            "editable config\n",
            __func__, __LINE__);
        PN_DebugLog(1, 0, "%s:%d: Could not test editable config crc\n", __FILE__, __LINE__);
        return false;
    }
    _VK_PopulateEditableConfiguration(cda, current);
    const bool same = current->crc == staged.crc;
    if (!same) {
        PN_DebugLog(1, 0, "%s:%d: Editable config crc check failed\n", __FILE__, __LINE__);
    }
    // Frees its arrays and logical drives and wipes the record before it goes.
    _VK_DestroyEditableConfiguration(current);
    return same;
}

} // namespace

VK_BYTE __VK_CheckEditableConfigurationCommitError(PCDA cda) {
    return (_VK_CDA(cda)->editable_configuration_commit_errors & kCommitErrorBits)
               ? kCommitEditableConfigurationFailedAdditionalErrors
               : kCommitEditableConfigurationOK;
}

VK_BYTE _VK_CommitEditableConfiguration(PCDA cda, VK_BYTE user, const char* password, size_t password_size) {
    _CDA* c = _VK_CDA(cda);
    const PEDITABLE_CONFIGURATION config = c->editable_configuration;
    if (config == nullptr) {
        return kCommitEditableConfigurationCanCommitFailed;
    }
    VK_DebugLogEditableConfiguration(cda, 3);
    bool empty = LiveLogicalDriveCount(cda) == 0;
    // Every encryption branch below works from this one reading, taken before anything is written.
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);

    config->session.user = user;
    if (password != nullptr) {
        explicit_bzero(config->session.password, sizeof(config->session.password));
        const size_t n =
            std::min<size_t>(_VK_strnlen_s(password, password_size), kEncryptionPasswordFieldSize);
        std::memcpy(config->session.password, password, n);
    }

    if (config->deleted_ld_count > 0 && CommitDeletions(cda, *config)) {
        empty = true;
    }
    if (config->editable_ld_count > 0) {
        AddErrors(cda, __VK_CommitEditableControllerParameters(cda));
    }
    if (empty) {
        // A first configuration: these settings go out again once the new drives exist.
        config->flags |= kEditableConfigControllerParams | kEditableConfigMNPDelay;
        if (config->editable_ld_count > 0) {
            config->flags |= kEditableConfigSurfaceScan;
        }
    }
    __VK_CommitEditableExistingDrivePreConfigurationSettings(cda);
    CommitEncryptionDependentCreation(cda, *config, status);
    AddErrors(cda, __VK_CommitEncodeExistingLogicalDrivesWithoutPreservingData(cda));
    AddErrors(cda, __VK_CommitLogicalDriveVolatileKeys(cda));
    AddErrors(cda, __VK_CommitEditableEncryptionDisable(cda));
    AddErrors(cda, __VK_CommitEditableLogicalDriveLabels(cda));
    CommitControllerWrites(cda, *config);
    __VK_CommitEditableDrivePostConfigurationSettings(cda);
    AddErrors(cda, __VK_CommitTransformEncodeEditableLogicalDrives(cda));
    AddErrors(cda, __VK_CommitDestructiveEncodeEditableLogicalDrives(cda));
    CommitTransformations(cda, *config);

    const VK_BYTE result = __VK_CheckEditableConfigurationCommitError(cda);
    PN_ExecuteRegNewDiskMessage(c->controller_handle);
    explicit_bzero(&config->session, sizeof(config->session));
    VK_ReInitializeCDA(cda);
    VK_DestroyEditableConfiguration(cda);
    return result;
}

VK_BYTE VK_CommitEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return kCommitEditableConfigurationCanCommitFailed;
    }
    CDALock guard(cda);
    VK_BYTE reason = VK_CanCommitEditableConfiguration(cda);
    if (reason == kCanCommitEditableConfigurationOK &&
        !LiveConfigurationUnchanged(cda, *_VK_GetEditableConfiguration(cda))) {
        reason = kCanCommitEditableConfigurationOutOfSync;
    }
    PN_DebugLog(3, 0, "%s:%d: %s(%p):%u\n", __FILE__, __LINE__, __func__, cda, reason);
    if (reason == kCanCommitEditableConfigurationOutOfSync) {
        return kCommitEditableConfigurationOutOfSync;
    }
    if (reason != kCanCommitEditableConfigurationOK) {
        return kCommitEditableConfigurationCanCommitFailed;
    }
    const VK_BYTE result = _VK_CommitEditableConfiguration(cda, kNoLoginUser, nullptr, 0);
    PN_DebugLog(3, 0, "%s:%d: %s(%p):%u/%llx\n", __FILE__, __LINE__, __func__, cda, result,
                static_cast<unsigned long long>(_VK_CDA(cda)->editable_configuration_commit_errors));
    return result;
}

VK_BYTE VK_CommitEncryptedEditableConfigurationSafe(PCDA cda, VK_BYTE user, const char* password,
                                                    size_t password_size) {
    if (cda == nullptr) {
        return kCommitEditableConfigurationCanCommitFailed;
    }
    CDALock guard(cda);
    const VK_BYTE reason = VK_CanCommitEncryptedEditableConfigurationSafe(cda, user, password, password_size);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %p, %zu):%u\n", __FILE__, __LINE__, __func__, cda, user,
                static_cast<const void*>(password), password_size, reason);
    if (reason != kCanCommitEditableConfigurationOK) {
        return kCommitEditableConfigurationCanCommitFailed;
    }
    if (_VK_GetEditableConfiguration(cda)->deleted_ld_count > 0) {
        // Without the plain commit's proof the cached drive list may be stale; the deletion step
        // decides between clearing everything and single deletions from the controller's list now.
        VK_ReInitializeCDA(cda);
    }
    return _VK_CommitEditableConfiguration(cda, user, password, password_size);
}

VK_BYTE VK_CommitEncryptedEditableConfiguration(PCDA cda, VK_BYTE user, const char* password) {
    return VK_CommitEncryptedEditableConfigurationSafe(cda, user, password, telmar::StringSize(password));
}
