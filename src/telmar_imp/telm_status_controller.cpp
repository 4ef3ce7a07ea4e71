// Controller status word, backup power source, green backup state, health and its roll-up, and the
// reasons why the controller needs a reboot.
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#include "pavl_bytes.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_private.h"
#include "telm_status_controller.h"

namespace telmar {

using pavlin::ByteView;

namespace {

template <typename T> ByteView ViewOf(const T& member) {
    return ByteView(&member, sizeof(member));
}

constexpr size_t kIdEvenMoreFlags = offsetof(IDENTIFY_CONTROLLER, dwEvenMoreControllerFlags);
constexpr size_t kIdExtraFlags = offsetof(IDENTIFY_CONTROLLER, dwExtraControllerFlags);
constexpr size_t kIdFeatures3 = offsetof(IDENTIFY_CONTROLLER, pbFeaturesSupported) + 3;
constexpr size_t kIdLogicalUnits = offsetof(IDENTIFY_CONTROLLER, wExtendedLogicalUnitCount);
constexpr size_t kCacheFlags = offsetof(CACHE_CONFIG_STATUS, dwCacheFlags);
constexpr size_t kCacheDisableCode = offsetof(CACHE_CONFIG_STATUS, wCacheDisableCode);
constexpr size_t kCacheHardwareStatus2 = offsetof(CACHE_CONFIG_STATUS, bDetailedCindervaneHardwareStatus) + 2;
constexpr size_t kCacheBatteryCount = offsetof(CACHE_CONFIG_STATUS, wBatteryCount);
constexpr size_t kCacheFailed = offsetof(CACHE_CONFIG_STATUS, wFailedBatteries);
constexpr size_t kCacheInstalled = offsetof(CACHE_CONFIG_STATUS, wInstalledBatteries);
constexpr size_t kCacheBatteryStatus = offsetof(CACHE_CONFIG_STATUS, wBatteryStatus);
constexpr size_t kCacheFixedLength = offsetof(CACHE_CONFIG_STATUS, dwFixedStructureLength);
// wBatteryStatus counts only when the controller's fixed structure reaches past it.
constexpr VK_DWORD kBatteryStatusMinimumLength = kCacheBatteryStatus + 2;
static_assert(kBatteryStatusMinimumLength == 229);

constexpr VK_DWORD kCacheFlagOK = 0x1;
constexpr VK_DWORD kCacheFlagTemporarilyDisabled = 0x2;
constexpr VK_DWORD kCacheFlagPermanentlyDisabled = 0x4;
constexpr VK_DWORD kCacheFlagsDisabled = kCacheFlagTemporarilyDisabled | kCacheFlagPermanentlyDisabled;
constexpr VK_DWORD kCacheFlagsOtherState = 0x7FF4EFE0;
// Disable codes of a cache that lost power too early rather than a cache fault.
constexpr VK_WORD kDisableCodeLowBatteries = 1;
constexpr VK_WORD kDisableCodeCapacitorChargeLow = 12;

// BACKUP_POWER_SOURCE_STATUS (BMIC 0xBF, 512 bytes).
constexpr VK_DWORD kBackupPowerSourceReplySize = 512;
constexpr size_t kBpsStatus = 0;
constexpr size_t kBpsMaxTemperature = 2;
constexpr size_t kBpsRelativeCharge = 16;

constexpr VK_QWORD kRebootColdBoot = 0x1;

VK_BYTE CountBits(VK_WORD value) {
    return static_cast<VK_BYTE>(std::popcount(value));
}

} // namespace

VK_DWORD DecodeControllerStatus(ByteView identify, std::optional<ByteView> cache_status) {
    const VK_DWORD even_more = identify.le32(kIdEvenMoreFlags).value_or(0);
    VK_DWORD status = (even_more & 0x100) ? kControllerStatusBadZMRMode : kControllerStatusOK;
    VK_DWORD word = 0;
    if (cache_status) {
        const ByteView cache = *cache_status;
        const VK_DWORD flags = cache.le32(kCacheFlags).value_or(0);
        const bool dirty_software_raid = (identify.u8(kIdFeatures3).value_or(0) & 0x06) == 0x06 &&
                                         (cache.u8(kCacheHardwareStatus2).value_or(0) & 0x01) &&
                                         identify.le16(kIdLogicalUnits).value_or(0) != 0;
        VK_DWORD cache_state = kControllerCacheStatusOK;
        if (!(flags & kCacheFlagOK)) {
            if (!(flags & kCacheFlagsDisabled)) {
                cache_state = kControllerCacheStatusNotConfigured;
            } else {
                cache_state = (flags & kCacheFlagTemporarilyDisabled) ? kControllerCacheStatusTemporarilyDisabled
                                                                      : kControllerCacheStatusPermanentlyDisabled;
                const VK_WORD code = cache.le16(kCacheDisableCode).value_or(0);
                if ((code == kControllerCacheState0BoardMismatch || code == kControllerCacheState17CannotReadData ||
                     code == kControllerCacheState18CannotWriteData) &&
                    !dirty_software_raid) {
                    status = kControllerStatusCacheProblem;
                }
                word |= static_cast<VK_DWORD>(code & 0xFF) << kControllerCacheStateShift;
            }
        }
        word |= cache_state << kControllerCacheStatusShift;
        VK_DWORD cache_flags = 0;
        cache_flags |= (flags & 0x8) ? kControllerCacheFlagsValidDataFoundInCache : 0;
        cache_flags |= (flags & 0x10) ? kControllerCacheFlagsLowBatteryAtBoot : 0;
        cache_flags |= (flags & 0x20000) ? kControllerCacheFlagsFlashMemoryDetached : 0;
        cache_flags |= (flags & kCacheFlagsOtherState) ? kControllerCacheFlagsOtherState : 0;
        cache_flags |= dirty_software_raid ? kControllerCacheFlagsDirtySoftwareRAIDCache : 0;
        word |= cache_flags << kControllerCacheFlagsShift;
        if (flags & 0x80000) {
            status = kControllerStatusIncompatibleCacheModule;
        }
    }
    if (identify.le32(kIdExtraFlags).value_or(0) & 0x10000000) {
        status = kControllerStatusDirtyCacheNeedsFirmwareDowngrade;
    }
    if (even_more & 0x8000000) {
        word |= static_cast<VK_DWORD>(kControllerCacheFlagsModuleRunningAtFailsafeSpeed) << kControllerCacheFlagsShift;
    }
    return word | status;
}

VK_DWORD ConfigurationStatusBits(const ConfigurationWalk& walk, VK_WORD swapped_cable_flags) {
    VK_DWORD bits = 0;
    if (!walk.walked) {
        bits = kControllerConfigStatusOK;
    } else {
        bool volume_invalid = walk.volume_invalid;
        if (walk.version_invalid) {
            bits |= kControllerConfigStatusVersionMismatch;
        }
        if (swapped_cable_flags & 0x1000) {
            bits |= kControllerConfigStatusAbnormalVolumeStateSEDLockedWithDirtyCache;
            volume_invalid = true;
        }
        if (volume_invalid) {
            bits |= kControllerConfigStatusAbnormalVolumeState;
        }
        if (!walk.version_invalid && !volume_invalid) {
            bits |= kControllerConfigStatusOK;
        }
    }
    return bits << kControllerConfigStatusShift;
}

VK_BYTE HealthFromStatusWord(VK_DWORD status_word) {
    const VK_BYTE status = CONTROLLER_STATUS(status_word);
    const VK_BYTE cache_status = CACHE_STATUS(status_word);
    const VK_BYTE flags = CONTROLLER_CACHE_FLAGS(status_word);
    // The flag byte is compared as a whole: two flags at once match none of the single-flag rules.
    if ((status >= kControllerStatusFailed && status <= kControllerStatusDirtyCacheNeedsFirmwareDowngrade) ||
        flags == kControllerCacheFlagsOtherState || flags == kControllerCacheFlagsDirtySoftwareRAIDCache ||
        CONTROLLER_CONFIG_STATUS(status_word) != kControllerConfigStatusOK) {
        return kControllerHealthCritical;
    }
    if ((cache_status != kControllerCacheStatusOK && cache_status != kControllerCacheStatusNotConfigured) ||
        flags == kControllerCacheFlagsValidDataFoundInCache || flags == kControllerCacheFlagsLowBatteryAtBoot ||
        flags == kControllerCacheFlagsFlashMemoryDetached || flags == kControllerCacheFlagsModuleRunningAtFailsafeSpeed) {
        return kControllerHealthWarning;
    }
    return kControllerHealthOK;
}

VK_WORD DecodeBackupPowerSourceStatus(ByteView cache_status) {
    const VK_WORD count = cache_status.le16(kCacheBatteryCount).value_or(0);
    if (count == 0) {
        return kControllerBackupPowerSourceNotPresent;
    }
    if (cache_status.le16(kCacheFailed).value_or(0) != 0) {
        return kControllerBackupPowerSourceFailed;
    }
    if (cache_status.le32(kCacheFlags).value_or(0) & kCacheFlagsDisabled) {
        const VK_WORD code = cache_status.le16(kCacheDisableCode).value_or(0);
        return (code == kDisableCodeLowBatteries || code == kDisableCodeCapacitorChargeLow)
                   ? kControllerBackupPowerSourcePresentAndCharging
                   : kControllerBackupPowerSourcePresentAndCharged;
    }
    const VK_BYTE good = CountBits(cache_status.le16(kCacheBatteryStatus).value_or(0));
    const bool status_valid = cache_status.le32(kCacheFixedLength).value_or(0) >= kBatteryStatusMinimumLength;
    if ((status_valid && good < CountBits(cache_status.le16(kCacheInstalled).value_or(0))) || good < count) {
        return kControllerBackupPowerSourcePresentAndCharging;
    }
    return kControllerBackupPowerSourcePresentAndCharged;
}

bool DecodeBackupPowerSourceInfo(ByteView reply, VK_BACKUP_POWER_SOURCE_INFO* info) {
    if (info == nullptr || !reply.sub(0, kBpsRelativeCharge + 2)) {
        return false;
    }
    // max_temperature to charge_state follow the reply's words from offset 2 in order.
    VK_WORD words[8] = {};
    for (size_t i = 0; i < 8; ++i) {
        words[i] = *reply.le16(kBpsMaxTemperature + 2 * i);
    }
    info->max_temperature = static_cast<VK_INT16>(words[0]);
    info->max_voltage = words[1];
    info->temperature = static_cast<VK_INT16>(words[2]);
    info->voltage = words[3];
    info->current = static_cast<VK_INT16>(words[4]);
    info->temp_threshold = static_cast<VK_INT16>(words[5]);
    info->health = words[6];
    info->charge_state = words[7];
    info->status = *reply.le16(kBpsStatus);
    return true;
}

void DecodeGreenBackupInfo(ByteView cache_status, GREEN_BACKUP_INFO* info) {
    if (info == nullptr) {
        return;
    }
    auto u8 = [&](size_t offset) { return cache_status.u8(offset).value_or(0); };
    auto le16 = [&](size_t offset) { return cache_status.le16(offset).value_or(0); };
    auto le32 = [&](size_t offset) { return cache_status.le32(offset).value_or(0); };
    info->status = u8(offsetof(CACHE_CONFIG_STATUS, bBackupPowerStatus));
    info->total_backups = le16(offsetof(CACHE_CONFIG_STATUS, wTotalNumberOfBackups));
    info->last_backup_time = le32(offsetof(CACHE_CONFIG_STATUS, dwLastBackupTime));
    info->last_restore_time = le32(offsetof(CACHE_CONFIG_STATUS, dwLastRestoreTime));
    info->processor_version_major = u8(offsetof(CACHE_CONFIG_STATUS, bGreenBackupProcessorVersionMajor));
    info->processor_version_minor = u8(offsetof(CACHE_CONFIG_STATUS, bGreenBackupProcessorVersionMinor));
    info->hardware_error = le16(offsetof(CACHE_CONFIG_STATUS, wBackupHardwareError));
    info->flags = u8(offsetof(CACHE_CONFIG_STATUS, bGreenBackupFlags));
}

VK_QWORD PowerModeRebootReasons(VK_WORD power_mode_word) {
    VK_QWORD reasons = 0;
    reasons |= (power_mode_word & 0x0010) ? kControllerRebootRequiredPowerMode : 0;
    reasons |= (power_mode_word & (0x0100 | 0x0200)) ? kControllerRebootRecommendedPowerMode : 0;
    reasons |= (power_mode_word & 0x0400) ? kRebootColdBoot : 0;
    return reasons;
}

VK_QWORD IdentifyRebootReasons(VK_DWORD reboot_reason) {
    struct Map {
        VK_DWORD from;
        VK_QWORD to;
    };
    static constexpr Map kMap[] = {
        {0x1, kControllerRebootRequiredControllerFirmwareUpdate},
        {0x2, kControllerRebootRequiredCPLDUpdate},
        {0x4, kControllerRebootRequiredPowerMode},
        {0x8, kControllerRebootRequiredConnectorDiscoveryConfiguration},
        {0x10, kControllerRebootRequiredOOBInterface},
        {0x20, kControllerRebootRequiredUnlockedSEDWithConfigMetadata},
        {0x40, kControllerRebootRequiredPCIeOrdering},
        {0x80, kControllerRebootRequiredPCIeMaxReadRequestSizeChange},
        {0x100, kControllerRebootRequiredEncryptionEnablement},
        {0x200, kControllerRebootRequiredEncryptionReset},
        {0x7FFFFC00, kControllerRebootRequiredUnknownReason}, // bits 10-30
        {0x80000000, kRebootColdBoot},
    };
    VK_QWORD reasons = 0;
    for (const Map& m : kMap) {
        if (reboot_reason & m.from) {
            reasons |= m.to;
        }
    }
    return reasons;
}

} // namespace telmar

using namespace telmar;

VK_DWORD VK_GetControllerStatusInfo(PCDA cda) {
    if (cda == nullptr) {
        return kControllerStatusFailed;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kControllerStatusFailed;
    }
    _CDA* c = _VK_CDA(cda);
    const IDENTIFY_CONTROLLER& identify = c->identify_controller_buffer;
    std::optional<ByteView> cache;
    if (VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        cache = ViewOf(c->sense_cache_config_status_buffer);
    }
    VK_DWORD word = DecodeControllerStatus(ViewOf(identify), cache);

    const VK_WORD cable_flags = identify.wYetMoreSwappedCableFlags;
    ConfigurationWalk walk;
    if (identify.wExtendedLogicalUnitCount != 0 && VK_RequestArrayConfigurationInformation(cda)) {
        walk.walked = true;
        for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber);
             ld != kInvalidLDNumber && !walk.version_invalid; ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
            if (ld < kMaxLogicalDrivesSupported &&
                (c->ld_record_list[ld].flags & kLDRecordUnsupportedConfigVersion)) {
                walk.version_invalid = true;
            }
            const VK_BYTE unit_status = static_cast<VK_BYTE>(VK_GetLogicalDriveStatusInfo(cda, ld) & 0xFF);
            if (unit_status == 6 || unit_status == 7 || (cable_flags & 0x800)) {
                walk.volume_invalid = true;
            }
        }
    }
    return word | ConfigurationStatusBits(walk, cable_flags);
}

VK_WORD VK_GetControllerBackupPowerSourceStatus(PCDA cda) {
    if (cda == nullptr) {
        return kControllerBackupPowerSourceNotPresent;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return kControllerBackupPowerSourceNotPresent;
    }
    return DecodeBackupPowerSourceStatus(ViewOf(_VK_CDA(cda)->sense_cache_config_status_buffer));
}

VK_BYTE VK_GetControllerBackupPowerSourceInfo(PCDA cda, PVK_BACKUP_POWER_SOURCE_INFO info) {
    if (info == nullptr) {
        return kGetControllerBackupPowerSourceInfoInvalidInfoBuffer;
    }
    if (cda == nullptr) {
        return kGetControllerBackupPowerSourceInfoPowerSourceNotConnected;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda) || c->sense_cache_config_status_buffer.wBatteryCount == 0) {
        return kGetControllerBackupPowerSourceInfoPowerSourceNotConnected;
    }
    if (!VK_ControllerSupportsBackupPowerSourceInfo(cda)) {
        return kGetControllerBackupPowerSourceInfoNotSupported;
    }
    // Readings change by the second: read afresh on every call, never cached.
    std::array<VK_BYTE, kBackupPowerSourceReplySize> reply = {};
    if (!_VK_BMICHelperReadBuffer(c->controller_handle, BMIC_SENSE_BACKUP_POWER_SOURCE, 0, 0, reply.data(),
                                  kBackupPowerSourceReplySize) ||
        !DecodeBackupPowerSourceInfo(ByteView(reply.data(), reply.size()), info)) {
        return kGetControllerBackupPowerSourceInfoPowerSourceDataFailure;
    }
    return kGetControllerBackupPowerSourceInfoSuccess;
}

VK_BYTE VK_GetControllerGreenBackupInfo(PCDA cda, PGREEN_BACKUP_INFO info) {
    if (info == nullptr) {
        return kGetControllerGreenBackupInfoInvalidInfoBuffer;
    }
    if (cda == nullptr) {
        return kGetControllerGreenBackupInfoNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsGreenBackupInfo(cda)) {
        return kGetControllerGreenBackupInfoNotSupported;
    }
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return kGetControllerGreenBackupInfoFailure;
    }
    DecodeGreenBackupInfo(ViewOf(_VK_CDA(cda)->sense_cache_config_status_buffer), info);
    return kGetControllerGreenBackupInfoSuccess;
}

VK_BYTE VK_GetControllerHealth(PCDA cda) {
    return HealthFromStatusWord(VK_GetControllerStatusInfo(cda));
}

VK_BYTE VK_GetControllerHealthRollup(PCDA cda) {
    VK_BYTE rollup = VK_GetControllerHealth(cda);
    if (cda == nullptr) {
        return rollup;
    }
    VK_WORD n;
    FOREACH_ARRAY_OF_TYPE(cda, kArrayTypeAny, n) { rollup |= VK_GetArrayHealthRollup(cda, n); }
    for (n = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); n != kInvalidLDNumber;
         n = VK_EnumerateControllerLogicalDrives(cda, n)) {
        rollup |= VK_GetLogicalDriveHealth(cda, n);
    }
    for (n = VK_EnumerateControllerPhysicalDrives(cda, kInvalidPDNumber); n != kInvalidPDNumber;
         n = VK_EnumerateControllerPhysicalDrives(cda, n)) {
        rollup |= VK_GetPhysicalDriveHealth(cda, n);
    }
    return rollup;
}

VK_QWORD VK_ControllerRebootRequired(PCDA cda) {
    if (cda == nullptr) {
        return kControllerNoRebootRequired;
    }
    VK_QWORD reasons = PowerModeRebootReasons(VK_GetPowerModeInformation(cda));

    const VK_WORD connectors = VK_GetControllerTotalConnectorCount(cda);
    for (VK_WORD i = 0; i < connectors; ++i) {
        CONTROLLER_CONNECTOR_INFO info = {};
        if (VK_GetControllerConnectorInfo(cda, i, &info) &&
            info.current_connector_mode != info.pending_connector_mode) {
            reasons |= kControllerRebootRequiredOperatingMode;
            break;
        }
    }

    OOBConfiguration active = {};
    OOBConfiguration pending = {};
    if (VK_GetControllerActiveOOBConfiguration(cda, &active) == 1 &&
        VK_GetControllerPendingOOBConfiguration(cda, &pending) == 1 &&
        std::memcmp(&active, &pending, sizeof(active)) != 0) {
        reasons |= kControllerRebootRequiredOOBInterface;
    }

    for (VK_WORD i = 0; i < connectors; ++i) {
        CONNECTOR_DISCOVERY_CONFIGURATION active_discovery = {};
        CONNECTOR_DISCOVERY_CONFIGURATION pending_discovery = {};
        if (VK_GetConnectorActiveDiscoveryConfiguration(cda, i, &active_discovery) ==
                kGetConnectorDiscoveryConfigurationSuccess &&
            VK_GetConnectorPendingDiscoveryConfiguration(cda, i, &pending_discovery) ==
                kGetConnectorDiscoveryConfigurationSuccess &&
            (active_discovery.discovery_protocol != pending_discovery.discovery_protocol ||
             active_discovery.target_count != pending_discovery.target_count)) {
            reasons |= kControllerRebootRequiredConnectorDiscoveryConfiguration;
            break;
        }
    }

    const VK_BYTE sanitize_lock = VK_GetControllerSanitizeLock(cda);
    if ((sanitize_lock & 0x0F) != (sanitize_lock >> 4)) {
        reasons |= kControllerRebootRequiredControllerSanitizeLockChange;
    }

    if (VK_ControllerSupportsRebootReasons(cda)) {
        CDALock guard(cda);
        if (VK_RequestIdentifyControllerBuffer(cda)) {
            reasons |= IdentifyRebootReasons(_VK_CDA(cda)->identify_controller_buffer.dwRebootReason);
        }
    }
    return reasons;
}
