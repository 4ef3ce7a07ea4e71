// Physical-drive status word, health, presence and last failure reason. The word is recomputed from
// the cached buffers on every call; nothing of it is cached.
#include <algorithm>
#include <cstring>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_records.h"

using pavlin::ByteView;

namespace {

// bDeviceFlags
constexpr VK_BYTE kPresentAndOperational = 0x01;
constexpr VK_BYTE kNonDiskDevice = 0x02;
// bMoreDeviceFlags
constexpr VK_BYTE kMonitoringSupported = 0x01;
constexpr VK_BYTE kMonitoringFactoryErrors = 0x02;
constexpr VK_BYTE kMonitoringEnabled = 0x04;
constexpr VK_BYTE kMonitoringErrorsSincePowerOn = 0x08;
// wExtraDeviceFlags
constexpr VK_WORD kOfflineForErase = 0x0010;
constexpr VK_WORD kWornOut = 0x0200;
constexpr VK_WORD kWearSupported = 0x0400;
// dwMiscDriveFlags
constexpr VK_DWORD kMaskedFromHost = 0x0080;
constexpr VK_DWORD kHBADrive = 0x0100;
constexpr VK_DWORD kExposedToHost = 0x4000;
// dwDriveFeatureFlags
constexpr VK_DWORD kDataLocked = 0x80000;

constexpr VK_DWORD kAdditionalRAIDInfo4Kn = 0x1;
constexpr VK_DWORD kAdditionalRAIDInfoNVMe = 0x2;
constexpr VK_DWORD kBasicInfoNVMe = 0x4;

constexpr VK_BYTE kUnitRecovering = 5;
constexpr size_t kRebuildTableEntries = 384;
constexpr size_t kReplacementMapBytes = 48;
constexpr size_t kFirmwareTextSize = 12;

class StatusBuilder {
public:
    void Add(VK_DWORD bits, bool exclude, VK_DWORD level) {
        bits_ |= bits;
        exclude_ = exclude_ || exclude;
        level_ = std::max(level_, level);
    }
    VK_DWORD Word() const {
        // Nothing to report reads 0, whatever level or exclusion was noted on the way.
        if (bits_ == 0) {
            return 0;
        }
        return bits_ | (exclude_ ? kPhysicalDriveStatusExcludeFromConfigurationBit : 0) | level_;
    }

private:
    VK_DWORD bits_ = 0;
    bool exclude_ = false;
    VK_DWORD level_ = 0;
};

void TrimmedText(const char (&field)[8], char (&text)[kFirmwareTextSize]) {
    std::memset(text, 0, sizeof(text));
    __VK_ConvertCharBufferToString(field, sizeof(field), text, sizeof(text) - 1, kTrue, kTrue, kTrue, kTrue,
                                   ' ');
}

} // namespace

namespace telmar {

bool FirmwareOlderThanMinimum(const char (&firmware)[8], const char (&minimum)[8]) {
    char have[kFirmwareTextSize];
    char need[kFirmwareTextSize];
    TrimmedText(firmware, have);
    TrimmedText(minimum, need);
    if (need[0] == '\0') {
        return false;
    }
    return std::memcmp(have, need, sizeof(have)) < 0;
}

VK_DWORD ComposePhysicalDriveStatus(const CDA_PHYSICAL_DRIVE_STATUS& pd, const DriveStatusContext& context) {
    StatusBuilder s;
    const VK_WORD block = context.logical_block_size;
    if (block != 512 && !(block == 4096 && (context.additional_raid_info & kAdditionalRAIDInfo4Kn))) {
        s.Add(kPhysicalDriveStatusUnsupportedForConfig, true, kPhysicalDriveStatusLevelInformational);
    }
    if ((context.basic_info & kBasicInfoNVMe) && !(context.additional_raid_info & kAdditionalRAIDInfoNVMe)) {
        s.Add(kPhysicalDriveStatusUnsupportedForConfig, true, kPhysicalDriveStatusLevelInformational);
    }
    if (!(pd.bDeviceFlags & kPresentAndOperational) && !(pd.wExtraDeviceFlags & kOfflineForErase)) {
        if (pd.bDeviceFlags & kNonDiskDevice) {
            s.Add(0, true, kPhysicalDriveStatusLevelInformational);
        } else {
            VK_DWORD failed = kPhysicalDriveStatusFailed;
            switch (pd.bLastFailureReason) {
                case kPhysicalDriveLastFailureReasonSmartErrorReported:
                    failed = kPhysicalDriveStatusFailedDueToPSA;
                    break;
                case kPhysicalDriveLastFailureReasonRemovedInHotPlug:
                    failed = kPhysicalDriveStatusFailedDueToHotRemoval;
                    break;
                case kPhysicalDriveLastFailureReasonFRSEDQualFailed:
                    failed = kPhysicalDriveStatusFailedDueSEDQualification;
                    break;
                default:
                    break;
            }
            s.Add(failed, true, kPhysicalDriveStatusLevelFailed);
        }
    }
    const VK_BYTE more = pd.bMoreDeviceFlags;
    if ((more & kMonitoringSupported) && (more & kMonitoringEnabled) &&
        (more & (kMonitoringFactoryErrors | kMonitoringErrorsSincePowerOn))) {
        s.Add(kPhysicalDriveStatusPredictiveFailure, false, kPhysicalDriveStatusLevelWarning);
    }
    if ((pd.wExtraDeviceFlags & kWornOut) && (pd.wExtraDeviceFlags & kWearSupported)) {
        s.Add(kPhysicalDriveStatusPredictiveFailureWornOut, false, kPhysicalDriveStatusLevelWarning);
    }
    if (context.usage == kPhysicalDriveUsageTransientData) {
        s.Add(kPhysicalDriveStatusIsTransientDrive, false, kPhysicalDriveStatusLevelInformational);
    }
    if (FirmwareOlderThanMinimum(pd.sDriveFirmwareRevision, pd.sMinimumGoodFirmwareRevision)) {
        s.Add(kPhysicalDriveStatusFirmwareUpdateRequired, false, kPhysicalDriveStatusLevelInformational);
    }
    if (pd.wExtraDeviceFlags & kOfflineForErase) {
        s.Add(kPhysicalDriveStatusErasingOffline, true, kPhysicalDriveStatusLevelInformational);
    }
    // Masked, exposure by feature page, exposure by mixed mode, exposure by usage: the first row whose
    // gate holds is the only one asked.
    if (pd.dwMiscDriveFlags & kMaskedFromHost) {
        s.Add(kPhysicalDriveStatusMaskedWithInvalidCCM, false, kPhysicalDriveStatusLevelInformational);
    } else if (context.exposure_page) {
        if (pd.dwMiscDriveFlags & kExposedToHost) {
            s.Add(kPhysicalDriveStatusExposedToOS, false, kPhysicalDriveStatusLevelInformational);
        }
    } else if (context.mixed_mode) {
        if (pd.dwMiscDriveFlags & kHBADrive) {
            s.Add(kPhysicalDriveStatusExposedToOS, false, kPhysicalDriveStatusLevelInformational);
        }
    } else if (context.usage == kPhysicalDriveUsageHBA ||
               (context.connector_mixed && context.usage == kPhysicalDriveUsageUnassigned)) {
        s.Add(kPhysicalDriveStatusExposedToOS, false, kPhysicalDriveStatusLevelInformational);
    }
    if (!context.supported_for_config) {
        s.Add(kPhysicalDriveStatusUnsupportedForConfig, true, kPhysicalDriveStatusLevelInformational);
    }
    if (pd.dwDriveFeatureFlags & kDataLocked) {
        s.Add(kPhysicalDriveStatusIsSEDDataLocked, true, kPhysicalDriveStatusLevelFailed);
    }
    const VK_DWORD rebuild =
        context.rebuild_bits & (kPhysicalDriveStatusRebuilding | kPhysicalDriveStatusRebuildQueued);
    if (rebuild != 0) {
        s.Add(rebuild, false, kPhysicalDriveStatusLevelInformational);
    }
    return s.Word();
}

VK_DWORD RebuildBits(const CDA_LOGICAL_DRIVE_STATUS& ld, VK_WORD pd_number) {
    if (ld.bUnitStatus != kUnitRecovering) {
        return 0;
    }
    // Offsets inside the compact copy; read only where the whole table or map lies inside it.
    const ByteView copy(&ld, sizeof(ld));
    bool rebuilding = false;
    if (ld.bBigDriveRebuilding == 0xFF && ld.wExtendedDriveRebuilding == 0xFFFF) {
        if (const auto table = MapAt(copy, ld.wOffsetToDriveRebuildPercentage, kRebuildTableEntries)) {
            const VK_BYTE percent = table->u8(pd_number).value_or(0);
            rebuilding = percent >= 1 && percent <= 99;
        }
    } else {
        // 0xFF names no drive, so drive 255 is not taken for it.
        rebuilding = (ld.bBigDriveRebuilding != 0xFF && pd_number == ld.bBigDriveRebuilding) ||
                     pd_number == ld.wExtendedDriveRebuilding;
    }
    if (rebuilding) {
        return kPhysicalDriveStatusRebuilding;
    }
    bool queued = false;
    if (ld.wOffsetToExtendedReplacementDriveMap != 0) {
        if (const auto map = MapAt(copy, ld.wOffsetToExtendedReplacementDriveMap, kReplacementMapBytes)) {
            queued = MapBit(map->data(), map->size(), pd_number);
        }
    } else {
        queued = MapBit(ld.pbBigReplacementDriveMap, sizeof(ld.pbBigReplacementDriveMap), pd_number);
    }
    return queued ? kPhysicalDriveStatusRebuildQueued : 0;
}

VK_BYTE HealthOfStatus(VK_DWORD status) {
    switch (PHYSICAL_DRIVE_STATUS_LEVEL(status)) {
        case kPhysicalDriveStatusLevelFailed:
            return kPhysicalDriveHealthCritical;
        case kPhysicalDriveStatusLevelWarning:
            return kPhysicalDriveHealthWarning;
        default:
            return kPhysicalDriveHealthOK;
    }
}

} // namespace telmar

namespace {

VK_DWORD RebuildConditions(PCDA cda, VK_WORD array_number, VK_WORD pd_number) {
    VK_DWORD bits = 0;
    VK_WORD ld_number;
    FOREACH_ARRAY_LOGICAL_DRIVE(cda, array_number, ld_number) {
        if (VK_RequestSenseLogicalDriveStatusBuffer(cda, ld_number)) {
            bits |= telmar::RebuildBits(
                _VK_CDA(cda)->ld_record_list[ld_number].sense_logical_drive_status_buffer, pd_number);
        }
    }
    return bits;
}

bool ExposurePage(PCDA cda) {
    return VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda) &&
           (_VK_CDA(cda)->sense_feature.page_drive.bFlags2 & 0x04);
}

} // namespace

VK_DWORD VK_GetPhysicalDriveStatusInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return telmar::kUnreadableDriveStatus;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return telmar::kUnreadableDriveStatus;
    }
    telmar::DriveStatusContext context;
    context.usage = VK_GetPhysicalDriveUsageInfo(cda, pd_number);
    const VK_WORD array_number = VK_GetPhysicalDriveArray(cda, pd_number);
    context.logical_block_size =
        static_cast<VK_WORD>(VK_GetPhysicalDriveSize(cda, pd_number, kPhysicalDriveBlockSizeBytes));
    const VK_WORD connector = VK_GetConnectorIndexOfPhysicalDrive(cda, pd_number);
    context.additional_raid_info = VK_ControllerSupportsAdditionalRAIDInfo(cda);
    context.basic_info = VK_GetPhysicalDriveBasicInfo(cda, pd_number);
    context.exposure_page = ExposurePage(cda);
    context.mixed_mode = VK_ControllerSupportsMixedMode(cda) != kFalse;
    context.connector_mixed = VK_ConnectorCurrentModeIsMixed(cda, connector) != kFalse;
    context.supported_for_config = _VK_IsPhysicalDriveSupportedForConfig(cda, pd_number) != kFalse;
    if (array_number != kInvalidArrayNumber) {
        context.rebuild_bits = RebuildConditions(cda, array_number, pd_number);
    }
    return telmar::ComposePhysicalDriveStatus(
        _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer, context);
}

VK_BYTE VK_GetPhysicalDriveHealth(PCDA cda, VK_WORD pd_number) {
    CDALock guard(cda);
    return telmar::HealthOfStatus(VK_GetPhysicalDriveStatusInfo(cda, pd_number));
}

VK_WORD VK_GetPhysicalDriveUnsupportedReasons(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!(VK_GetPhysicalDriveStatusInfo(cda, pd_number) & kPhysicalDriveStatusUnsupportedForConfig) ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0;
    }
    return _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.wDriveUnsupportedReason;
}

VK_BOOL VK_IsPhysicalDrivePresent(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return kFalse;
    }
    const _CDA* c = _VK_CDA(cda);
    return pd_number < kMaxPhysicalDrivesSupported &&
                   pd_number < c->identify_controller_buffer.wMaximumPhysicalDevicesSupported &&
                   (c->pd_record_list[pd_number].flags & kPDRecordDrive)
               ? kTrue
               : kFalse;
}

VK_BOOL VK_IsPhysicalDevicePresent(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kFalse;
    }
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    if (dev_number >= id.wMaximumPhysicalDevicesSupported) {
        return kFalse;
    }
    const ByteView identify(&id, sizeof(id));
    const size_t bytes = telmar::MapByteCount(id.wMaximumPhysicalDevicesSupported);
    for (const VK_WORD offset : {id.wOffsetToExtendedDrivePresentMap, id.wOffsetToExtendedNonDiskMap}) {
        const auto map = telmar::MapAt(identify, offset, bytes);
        if (map && telmar::MapBit(map->data(), map->size(), dev_number)) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_WORD VK_GetPhysicalDriveLastFailureReason(PCDA cda, VK_WORD pd_number) {
    constexpr VK_WORD kNotADrive = kGetPhysicalDriveLastFailureReasonInvalidPDNumber
                                   << kPhysicalDriveLastFailureReasonSuccessBitshift;
    constexpr VK_WORD kUnreadable = kGetPhysicalDriveLastFailureReasonFailed
                                    << kPhysicalDriveLastFailureReasonSuccessBitshift;
    if (cda == nullptr) {
        return kNotADrive;
    }
    CDALock guard(cda);
    VK_WORD drive;
    FOREACH_PHYSICAL_DRIVE(cda, drive) {
        if (drive == pd_number) {
            if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
                return kUnreadable;
            }
            return _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.bLastFailureReason;
        }
    }
    return kNotADrive;
}
