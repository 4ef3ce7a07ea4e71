// The condition of a logical drive: its status word and health, presence, the LU cache state and
// dirty lines, and the surface-scan results the controller keeps per logical drive.
#include <cstddef>
#include <cstring>
#include <optional>

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_cda_internal.h"
#include "telm_private.h"
#include "telm_prop_settings.h"
#include "telm_records.h"

using pavlin::ByteView;

namespace {

constexpr VK_BYTE kUnitFlagErasing = 0x80;
constexpr VK_DWORD kSEDForeign = static_cast<VK_DWORD>(kLogicalDriveEncryptionSEDForeign) << 16;

// LU_CACHE_STATS and LU_CACHE_SENSE fields.
constexpr size_t kStatsStartingDirtyLines = 4;
constexpr size_t kStatsDirtyLines = 72;
constexpr size_t kSenseWritePolicyReason = 13;

bool Exists(const _CDA* c, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && (c->ld_record_list[ld_number].flags & kLDRecordExists);
}

bool LUCacheNumberInRange(PCDA cda, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && VK_RequestIdentifyControllerBuffer(cda) &&
           ld_number < _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported;
}

constexpr size_t kSurfaceMaxLogicalDevices = offsetof(SURFACE_STATUS, wMaximumLogicalDevicesSupported);

// One logical drive's entry of a per-logical-drive table of `width`-byte values at the reply offset
// stored at `offset_at`. The table holds one entry per logical device the reply counts and is used
// only when it lies whole inside the bytes held.
std::optional<VK_DWORD> SurfaceEntry(ByteView reply, size_t offset_at, VK_WORD ld_number, size_t width) {
    const VK_WORD devices = reply.le16(kSurfaceMaxLogicalDevices).value_or(0);
    const auto table =
        telmar::MapAt(reply, reply.le32(offset_at).value_or(0), static_cast<size_t>(devices) * width);
    if (!table || ld_number >= devices) {
        return std::nullopt;
    }
    return width == sizeof(VK_WORD) ? table->le16(width * ld_number).value_or(0)
                                    : table->le32(width * ld_number).value_or(0);
}

} // namespace

VK_DWORD VK_GetLogicalDriveStatusInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !Exists(_VK_CDA(cda), ld_number) ||
        !VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestSenseLogicalDriveStatusBuffer(cda, ld_number)) {
        return 0;
    }
    const CDA_LOGICAL_DRIVE_STATUS& s = _VK_CDA(cda)->ld_record_list[ld_number].sense_logical_drive_status_buffer;
    VK_DWORD unit = s.bUnitStatus;
    if (unit == kLogicalDriveUnitStatusOK && (s.bUnitFlags & kUnitFlagErasing)) {
        unit = kLogicalDriveUnitStatus15EraseInProgress;
    }
    if (s.bExpandFailure != 0) {
        unit |= kLogicalDriveStatusFailedDuringTransformation;
    }
    if (s.bMediaExchanged != 0) {
        unit |= kLogicalDriveStatusMediaExchangedReadyToReenable;
    }
    return unit;
}

VK_BYTE VK_GetLogicalDriveHealth(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kLogicalDriveHealthOK;
    }
    CDALock guard(cda);
    const VK_BYTE unit = LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number));
    const VK_DWORD encryption = VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
    VK_BYTE health = kLogicalDriveHealthOK;
    // An orphaned split-mirror backup warns whatever its unit says.
    if (LOGICAL_DRIVE_TYPE(VK_GetLogicalDriveBasicInfo(cda, ld_number)) == kLogicalDriveTypeSplitMirrorSetBackupOrphan) {
        health = kLogicalDriveHealthWarning;
    } else {
        switch (unit) {
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 18:
        case 19:
        case 20:
        case 24:
        case 28:
        case 29:
        case 31: health = kLogicalDriveHealthWarning; break;
        case 1:
        case 15:
        case 21:
        case 27:
        case 30: health = kLogicalDriveHealthCritical; break;
        default: break;
        }
    }
    if (health == kLogicalDriveHealthOK && (encryption & kSEDForeign)) {
        health = kLogicalDriveHealthWarning;
    }
    return health;
}

VK_BOOL VK_IsLogicalDrivePresent(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return VK_RequestIdentifyControllerBuffer(cda) && VK_RequestArrayConfigurationInformation(cda) &&
                   ld_number < _VK_CDA(cda)->identify_controller_buffer.wMaximumLogicalDevicesSupported &&
                   Exists(_VK_CDA(cda), ld_number)
               ? kTrue
               : kFalse;
}

VK_WORD VK_GetLogicalDriveLUCacheStatusInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!LUCacheNumberInRange(cda, ld_number)) {
        return 0;
    }
    const LogicalDriveRecord& r = _VK_CDA(cda)->ld_record_list[ld_number];
    VK_WORD word = 0;
    if (VK_RequestLUCacheStatisticsBuffer(cda, ld_number)) {
        word = r.lu_cache_stats_buffer.bCacheState;
    }
    if (VK_RequestLUCacheSenseBuffer(cda, ld_number)) {
        const ByteView sense(&r.lu_cache_config_buffer, sizeof(r.lu_cache_config_buffer));
        word = static_cast<VK_WORD>(word | (sense.u8(kSenseWritePolicyReason).value_or(0) & 7) << 8);
    }
    return word;
}

VK_QWORD VK_GetLogicalDriveLUCacheDirtyLinesCount(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!LUCacheNumberInRange(cda, ld_number) || !VK_RequestLUCacheStatisticsBuffer(cda, ld_number)) {
        return 0;
    }
    const LU_CACHE_STATS& s = _VK_CDA(cda)->ld_record_list[ld_number].lu_cache_stats_buffer;
    const ByteView stats(&s, sizeof(s));
    return static_cast<VK_QWORD>(stats.le32(kStatsStartingDirtyLines).value_or(0)) << 32 |
           stats.le32(kStatsDirtyLines).value_or(0);
}

void VK_ResetSurfaceStatusInformation(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    telmar::BufferFlags(_VK_CDA(cda)) &= ~kCDAValidSurfaceStatus;
}

VK_WORD VK_GetLogicalDriveSurfaceStatus(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !Exists(_VK_CDA(cda), ld_number) ||
        RAID_LEVEL(VK_GetLogicalDriveRAIDInfo(cda, ld_number)) == kRAID0 ||
        LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld_number)) == kLogicalDriveUnitStatus1Failed ||
        !VK_RequestSurfaceStatusBuffer(cda)) {
        return 0;
    }
    const SURFACE_STATUS& s = _VK_CDA(cda)->surface_status_buffer;
    return telmar::DecodeSurfaceStatusWord(ByteView(&s, sizeof(s)), ld_number);
}

VK_BYTE VK_GetLogicalDriveSurfaceAnalysisInfo(PCDA cda, VK_WORD ld_number,
                                              LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO* ld_surface_analysis_info) {
    if (cda == nullptr || !VK_ControllerSupportsSurfaceAnalysisInfo(cda)) {
        return kGetLogicalDriveSurfaceAnalysisInfoNotSupported;
    }
    if (ld_surface_analysis_info == nullptr) {
        return kGetLogicalDriveSurfaceAnalysisInfoNullBuffer;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || !Exists(_VK_CDA(cda), ld_number)) {
        return kGetLogicalDriveSurfaceAnalysisInfoInvalidLogicalDrive;
    }
    pavlin::TrackedPtr<SURFACE_STATUS> reply(VK_RequestCompleteSurfaceStatusBuffer(cda));
    if (!reply) {
        return kGetLogicalDriveSurfaceAnalysisInfoFailedToReadInfo;
    }
    // The reader cut the total to the bytes it read, and never reads fewer than the default size.
    const VK_DWORD total = reply->dwTotalStructureLength;
    const ByteView held(reply.get(), total > kSurfaceStatusDefaultSize ? total : kSurfaceStatusDefaultSize);
    return telmar::DecodeSurfaceAnalysisInfo(held, ld_number, ld_surface_analysis_info);
}

VK_WORD telmar::DecodeSurfaceStatusWord(ByteView reply, VK_WORD ld_number) {
    return static_cast<VK_WORD>(
        SurfaceEntry(reply, offsetof(SURFACE_STATUS, dwOffsetToExtendedSurfaceAnalysisStatus), ld_number, 2)
            .value_or(0));
}

VK_BYTE telmar::DecodeSurfaceAnalysisInfo(ByteView reply, VK_WORD ld_number,
                                          LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO* ld_surface_analysis_info) {
    const auto duration =
        SurfaceEntry(reply, offsetof(SURFACE_STATUS, dwOffsetToExtendedSurfaceAnalysisPassTime), ld_number, 4);
    const auto date =
        SurfaceEntry(reply, offsetof(SURFACE_STATUS, dwOffsetToSurfaceScanPassCompletionDateArray), ld_number, 4);
    const auto time =
        SurfaceEntry(reply, offsetof(SURFACE_STATUS, dwOffsetToSurfaceScanPassCompletionTimeArray), ld_number, 4);
    if (!duration || !date || !time) {
        return kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported;
    }
    LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO info{};
    info.year_last_scan_completion = static_cast<VK_WORD>(*date >> 16);
    info.month_last_scan_completion = static_cast<VK_BYTE>(*date >> 8);
    info.day_last_scan_completion = static_cast<VK_BYTE>(*date);
    info.seconds_last_scan_completion = *time;
    info.last_analysis_duration_seconds = *duration;
    if (info.year_last_scan_completion == 0 || info.month_last_scan_completion == 0 ||
        info.day_last_scan_completion == 0 || info.last_analysis_duration_seconds == 0) {
        std::memset(ld_surface_analysis_info, 0, sizeof(*ld_surface_analysis_info));
        return kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported;
    }
    *ld_surface_analysis_info = info;
    return kGetLogicalDriveSurfaceAnalysisInfoSuccess;
}

static_assert(sizeof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO) == 12);
static_assert(offsetof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO, last_analysis_duration_seconds) == 0);
static_assert(offsetof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO, year_last_scan_completion) == 4);
static_assert(offsetof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO, month_last_scan_completion) == 6);
static_assert(offsetof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO, day_last_scan_completion) == 7);
static_assert(offsetof(LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO, seconds_last_scan_completion) == 8);
VK_QWORD _VK_GetLogicalDriveBlocksLeftToRecover(VK_DWORD blocks_left_to_recover, VK_QWORD big_blocks_left_to_recover) {
    return telmar::settings::BlocksLeft(blocks_left_to_recover, big_blocks_left_to_recover);
}

VK_QWORD VK_GetLogicalDriveBlocksLeftToRecover(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseLogicalDriveStatusBuffer(cda, ld_number)) {
        return 0;
    }
    const CDA_LOGICAL_DRIVE_STATUS& s = _VK_CDA(cda)->ld_record_list[ld_number].sense_logical_drive_status_buffer;
    return _VK_GetLogicalDriveBlocksLeftToRecover(s.dwBlocksLeftToRecover, s.qwBigBlocksLeftToRecover);
}
