// Decoders of a physical drive's identify record and status replies: the flag set, the erase state
// and the drive statistics. Pure functions of the cached compact copy or a reply's bytes; the
// getters in telm_prop_physicaldrive.cpp hand them over.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_private.h"
#include "telm_drive_decode.h"

using pavlin::ByteView;

namespace {

// One flag of the set: its index, the identify-record byte or word it comes from, and the bit.
struct FlagSource {
    VK_BYTE index;
    VK_DWORD (*field)(const CDA_PHYSICAL_DRIVE_STATUS&);
    VK_DWORD bit;
};

#define FIELD(f) [](const CDA_PHYSICAL_DRIVE_STATUS& p) -> VK_DWORD { return p.f; }
constexpr FlagSource kFlagSources[] = {
    {PDF_PresentAndOperational, FIELD(bDeviceFlags), 0x01},
    {PDF_IsNonDiskDevice, FIELD(bDeviceFlags), 0x02},
    {PDF_SMARTSupported, FIELD(bMoreDeviceFlags), 0x01},
    {PDF_SMARTEnabled, FIELD(bMoreDeviceFlags), 0x04},
    {PDF_SMARTErrorsInMNPFactory, FIELD(bMoreDeviceFlags), 0x02},
    {PDF_SMARTErrorsInMNPSincePowerOn, FIELD(bMoreDeviceFlags), 0x08},
    {PDF_AttachedToExternalConnector, FIELD(bMoreDeviceFlags), 0x10},
    {PDF_IsDataDrive, FIELD(bMoreDeviceFlags), 0x20},
    {PDF_IsSpareDrive, FIELD(bMoreDeviceFlags), 0x40},
    {PDF_DriveWriteCacheEnabledOnSpinup, FIELD(bMoreDeviceFlags), 0x80},
    {PDF_DoesNotSupportMultiInitiatorOperation, FIELD(bYetMoreDeviceFlags), 0x20},
    {PDF_DriveWriteCacheEnabled, FIELD(bYetMoreDeviceFlags), 0x40},
    {PDF_DriveWriteCacheIsChangeable, FIELD(bYetMoreDeviceFlags), 0x80},
    {PDF_IsSMARTOverheated, FIELD(bEvenMoreDeviceFlags), 0x08},
    {PDF_IsVirtualRAMDisk, FIELD(bEvenMoreDeviceFlags), 0x20},
    {PDF_NCQSupported, FIELD(bEvenMoreDeviceFlags), 0x40},
    {PDF_NCQEnabled, FIELD(bEvenMoreDeviceFlags), 0x80},
    {PDF_MappedToZonedDriveBay, FIELD(wExtraDeviceFlags), 0x0001},
    {PDF_DriveHasOverheated, FIELD(wExtraDeviceFlags), 0x0002},
    {PDF_HasKnownBadFWVersion, FIELD(wExtraDeviceFlags), 0x0004},
    {PDF_DriveIsOffline, FIELD(wExtraDeviceFlags), 0x0008},
    {PDF_DriveIsOfflineDueToEraseOperation, FIELD(wExtraDeviceFlags), 0x0010},
    {PDF_IsSSD, FIELD(wExtraDeviceFlags), 0x0020},
    {PDF_HasUnsupportedMetadata, FIELD(wExtraDeviceFlags), 0x0040},
    {PDF_IsLowestNumberedDeviceWithKnownBadFW, FIELD(wExtraDeviceFlags), 0x0080},
    {PDF_IsBehindSASSwitchEnclosure, FIELD(wExtraDeviceFlags), 0x0100},
    {PDF_IsSMARTWornOut, FIELD(wExtraDeviceFlags), 0x0200},
    {PDF_SSDWearInformationSupported, FIELD(wExtraDeviceFlags), 0x0400},
    {PDF_RPICapable, FIELD(wExtraDeviceFlags), 0x4000},
    {PDF_ImmediateModeFWUpdateSupported, FIELD(wExtraDeviceFlags), 0x8000},
    {PDF_SupportsOverwrite, FIELD(bSanitizeEraseSupport), 0x01},
    {PDF_SupportsBlockErase, FIELD(bSanitizeEraseSupport), 0x02},
    {PDF_SupportsCryptoErase, FIELD(bSanitizeEraseSupport), 0x04},
    {PDF_SupportsUnrestrictedSanitizeOperations, FIELD(bSanitizeEraseSupport), 0x10},
    {PDF_VendorVerifiedSupport, FIELD(bSanitizeEraseSupport), 0x20},
    {PDF_DriveSanitizingAfterPowerLoss, FIELD(bSanitizeEraseSupport), 0x40},
    {PDF_NoSanitizeOperationsSupported, FIELD(bSanitizeEraseSupport), 0x80},
    {PDF_HasBeenPowerCycledForErrorRecovery, FIELD(dwMiscDriveFlags), 0x0001},
    {PDF_DriveIsEncrypted, FIELD(dwMiscDriveFlags), 0x0002},
    {PDF_SpareRebuildsDisabled, FIELD(dwMiscDriveFlags), 0x0004},
    {PDF_WriteBufferModeDSupported, FIELD(dwMiscDriveFlags), 0x0008},
    {PDF_WriteBufferModeESupported, FIELD(dwMiscDriveFlags), 0x0010},
    {PDF_WriteBufferMode7Supported, FIELD(dwMiscDriveFlags), 0x0020},
    {PDF_WriteBufferMode5Supported, FIELD(dwMiscDriveFlags), 0x0040},
    {PDF_DriveMaskedFromOSWithRIS, FIELD(dwMiscDriveFlags), 0x0080},
    {PDF_IsHBADrive, FIELD(dwMiscDriveFlags), 0x0100},
    {PDF_SelectedAsPrimaryBootVolume, FIELD(dwMiscDriveFlags), 0x0200},
    {PDF_SelectedAsSecondaryBootVolume, FIELD(dwMiscDriveFlags), 0x0400},
    {PDF_HostAwareSMRDrive, FIELD(dwMiscDriveFlags), 0x0800},
    {PDF_HostManagedSMRDrive, FIELD(dwMiscDriveFlags), 0x1000},
    {PDF_DeviceManagedSMRDrive, FIELD(dwMiscDriveFlags), 0x2000},
    {PDF_DeviceExposedToHost, FIELD(dwMiscDriveFlags), 0x4000},
    {PDF_DeviceOnBootConnector, FIELD(dwMiscDriveFlags), 0x8000},
};
#undef FIELD

constexpr VK_BYTE kMNPStatisticsPage = 0x02;

} // namespace

namespace telmar {

void FillDriveFlagSet(const CDA_PHYSICAL_DRIVE_STATUS& pd, VK_BYTE (&flags)[kDriveFlagSetSize]) {
    std::memset(flags, 0, sizeof(flags));
    auto set = [&flags](VK_BYTE index) { flags[index / 8] |= static_cast<VK_BYTE>(1u << (index % 8)); };
    if (pd.bDriveStamped != 0) {
        set(PDF_StampedForMNP);
    }
    if (pd.bQRBSupport != 0) {
        set(PDF_DriveNotSupportedForConfiguration);
    }
    for (const FlagSource& source : kFlagSources) {
        if (source.field(pd) & source.bit) {
            set(source.index);
        }
    }
}

VK_DWORD DecodeEraseEntry(VK_WORD entry) {
    const VK_DWORD status = entry & 0x7;
    const VK_DWORD method_class = (entry >> 5) & 0x7;
    VK_DWORD word = status <= kPhysicalDriveEraseStatusEraseAborted ? status : 0;
    if (method_class == 5) {
        word |= kPhysicalDriveEraseStatusSanitizeClass;
    }
    VK_DWORD method = 0;
    if (method_class == 0) {
        method = kPhysicalDriveEraseStatusMethodLow;
    } else if (method_class <= 3) {
        method = method_class;
    } else if (method_class <= 5) {
        method = kPhysicalDriveEraseStatusMethodCrypto + ((entry >> 3) & 0x3);
    }
    return word | method << 8 | static_cast<VK_DWORD>((entry >> 8) & 0x7F) << 16;
}

VK_BYTE EraseProgressFromReply(ByteView reply, VK_WORD pd_number) {
    const auto maximum = reply.le16(offsetof(ERASE_STATE, wMaximumPhysicalDevicesSupported));
    const auto start = reply.le32(offsetof(ERASE_STATE, wOffsetToPhysicalDriveEraseState));
    const auto total = reply.le32(offsetof(ERASE_STATE, dwTotalStructureLength));
    if (!maximum || !start || !total || pd_number >= *maximum) {
        return kErasePercentUnknown;
    }
    // The entry counts only inside the bytes both read and claimed by the reply's own total.
    const auto entry = reply.first(*total).le16(static_cast<size_t>(*start) + 2u * pd_number);
    if (!entry) {
        return kErasePercentUnknown;
    }
    const VK_DWORD word = DecodeEraseEntry(*entry);
    switch (PHYSICAL_DRIVE_ERASE_STATUS(word)) {
        case kPhysicalDriveEraseStatusEraseQueued:
            return 0;
        case kPhysicalDriveEraseStatusEraseCompleted:
            return 100;
        case kPhysicalDriveEraseStatusEraseInProgress:
            return static_cast<VK_BYTE>(PHYSICAL_DRIVE_ERASE_PROGRESS(word));
        default:
            return kErasePercentUnknown;
    }
}

bool StatusAllowsStatistics(VK_DWORD status) {
    constexpr VK_DWORD kBarring = kPhysicalDriveStatusExcludeFromConfigurationBit |
                                  kPhysicalDriveStatusIsTransientDrive | kPhysicalDriveStatusErasingOffline |
                                  kPhysicalDriveStatusUnsupportedForConfig;
    const VK_DWORD level = PHYSICAL_DRIVE_STATUS_LEVEL(status);
    return level == kPhysicalDriveStatusLevelOK ||
           (level == kPhysicalDriveStatusLevelInformational && (status & kBarring) == 0);
}

void DecodeMNPStatistics(ByteView reply, MNP_STATISTICS& out) {
    std::memset(&out, 0, sizeof(out));
    reply.read_le(198, out.media_failures);
    reply.read_le(202, out.aborted_commands);
    reply.read_le(206, out.bad_target_errors);
    reply.read_le(88, out.ecc_recovered_read_errors);
    reply.read_le(158, out.failed_read_recovers);
    reply.read_le(160, out.failed_write_recovers);
    reply.read_le(162, out.format_errors);
    reply.read_le(200, out.hardware_errors);
    reply.read_le(80, out.hard_read_errors);
    reply.read_le(104, out.hard_write_errors);
    reply.read_le(182, out.hot_plug_count);
    reply.read_le(166, out.not_ready_errors);
    reply.read_le(152, out.other_time_out_errors);
    reply.read_le(208, out.predictive_failures);
    reply.read_le(84, out.retry_recovered_read_errors);
    reply.read_le(108, out.retry_recovered_write_errors);
    reply.read_le(178, out.bus_faults);
    reply.read_le(72, out.sectors_read);
    reply.read_le(96, out.sectors_written);
    reply.read_le(112, out.seek_count);
    reply.read_le(120, out.seek_errors);
    reply.read_le(150, out.drq_timeouts);
    reply.read_le(156, out.spin_retries);
    out.reference_hours = reply.le32(68).value_or(0) / 60;
}

VK_DWORD MNPStatisticsDetail(VK_WORD pd_number) {
    return static_cast<VK_DWORD>(pd_number & 0xFF) << 24 | static_cast<VK_DWORD>(kMNPStatisticsPage) << 8;
}

VK_WORD MNPStatisticsLun(VK_WORD pd_number) {
    return static_cast<VK_WORD>(pd_number & 0xFF00);
}

} // namespace telmar
