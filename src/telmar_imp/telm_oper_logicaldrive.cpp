// Operations on one logical drive: the progress of its background operations (rebuild,
// transformation, rekey, rapid and background parity initialization) from the cached copies and from
// fresh replies; bringing a failed one back online; hiding it from or showing it to the host's BIOS.
#include <bit>
#include <cstring>
#include <memory>
#include "pavl_bytes.h"
#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_cda_internal.h"
#include "telm_cda_writeback.h"
#include "telm_private.h"
#include "telm_prop_settings.h"

namespace telmar::settings {

namespace {

__extension__ typedef unsigned __int128 Wide128;

constexpr VK_DWORD kNarrowInvalid = 0xFFFFFFFF;
constexpr VK_DWORD kPercentTableMinimumFixedLength = 1443;
constexpr size_t kReplacementMapBytes = 48;

VK_BYTE Percent(Wide128 total, Wide128 left) {
    if (left > total) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'blocks_left <= blocks_total' failed: Recovering more blocks than on disk\n",
                    __func__, __LINE__);
    }
    if (total == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'blocks_total != 0' failed: Failed to determine pd blocks of ld\n",
                    __func__, __LINE__);
        return kInvalidProgress;
    }
    const Wide128 done = total - (left < total ? left : total);
    const Wide128 percent = done * 100 / total;
    if (percent > 100) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'percent <= 100' failed: Invalid progress percent\n", __func__, __LINE__);
        return kInvalidProgress;
    }
    return static_cast<VK_BYTE>(percent);
}

// Per-logical-drive tables of a surface status: entry width and the field that holds the offset.
struct Table {
    std::size_t entry;
    std::size_t offset_field;
};
constexpr Table kAnalysisTable{2, offsetof(SURFACE_STATUS, dwOffsetToExtendedSurfaceAnalysisStatus)};
constexpr Table kPercentTable{1, offsetof(SURFACE_STATUS, dwOffsetToExtendedInitializationPercentComplete)};

// A logical drive's entry, when the whole table (one entry per logical drive the reply counts) lies
// inside the reply.
std::optional<std::size_t> EntryOffset(pavlin::ByteView s, const Table& table, VK_WORD ld_number) {
    const auto offset = s.le32(table.offset_field);
    const auto count = s.le16(offsetof(SURFACE_STATUS, wMaximumLogicalDevicesSupported));
    if (!offset || !count || *offset == 0 || ld_number >= *count ||
        !s.has(*offset, static_cast<std::size_t>(*count) * table.entry)) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*offset) + static_cast<std::size_t>(ld_number) * table.entry;
}

} // namespace

VK_BYTE BlockOperationProgress(VK_QWORD total, VK_QWORD left) {
    return Percent(total, left);
}

VK_QWORD BlocksLeft(VK_DWORD blocks_left, VK_QWORD big_blocks_left) {
    return (blocks_left == kNarrowInvalid && big_blocks_left != 0) ? big_blocks_left : blocks_left;
}

VK_QWORD Wide(VK_DWORD narrow, VK_QWORD wide) {
    return narrow == kNarrowInvalid ? wide : narrow;
}

std::optional<VK_WORD> SurfaceAnalysisWord(pavlin::ByteView s, VK_WORD ld_number) {
    const auto at = EntryOffset(s, kAnalysisTable, ld_number);
    if (!at) {
        return std::nullopt;
    }
    return s.le16(*at);
}

VK_BYTE SurfaceInitializationPercent(pavlin::ByteView s, VK_WORD ld_number) {
    const auto fixed = s.le32(offsetof(SURFACE_STATUS, dwFixedStructureLength));
    if (!fixed) {
        return kInvalidProgress;
    }
    if (*fixed >= kPercentTableMinimumFixedLength) {
        const auto at = EntryOffset(s, kPercentTable, ld_number);
        return at ? s.u8(*at).value_or(kInvalidProgress) : kInvalidProgress;
    }
    const auto current = s.le16(offsetof(SURFACE_STATUS, wCurrentVolume));
    if (current && *current == ld_number) {
        return s.u8(offsetof(SURFACE_STATUS, bInitializationPercentageComplete)).value_or(kInvalidProgress);
    }
    return kInvalidProgress;
}

VK_BYTE CachedParityInitialization(pavlin::ByteView s, VK_WORD ld_number) {
    const auto word = SurfaceAnalysisWord(s, ld_number);
    if (!word) {
        return kInvalidProgress;
    }
    const VK_BYTE f = static_cast<VK_BYTE>(*word & 0xFF);
    if (f & 0x02) {
        return kFailedProgress;
    }
    if ((f & 0x04) && (f & 0x01)) {
        return 100;
    }
    if (f & 0x04) {
        return 0;
    }
    if (f & 0x01) {
        return kInvalidProgress;
    }
    return SurfaceInitializationPercent(s, ld_number);
}

VK_BYTE LiveParityInitialization(pavlin::ByteView s, VK_WORD ld_number) {
    const auto word = SurfaceAnalysisWord(s, ld_number);
    if (!word) {
        return kInvalidProgress;
    }
    if (*word & 0x0002) {
        return kFailedProgress;
    }
    if (*word & 0x0001) {
        return 100;
    }
    if (*word & 0x0200) {
        return SurfaceInitializationPercent(s, ld_number);
    }
    return 0;
}

void RebuildOntoReplacements(pavlin::ByteView status, VK_WORD drives_for_fault_tolerance, VK_QWORD& total,
                             VK_QWORD& left) {
    const auto offset = status.le16(offsetof(LOGICAL_DRIVE_STATUS, wOffsetToExtendedReplacementDriveMap));
    if (!offset || *offset == 0) {
        return;
    }
    const auto map = status.sub(*offset, kReplacementMapBytes);
    if (!map) {
        return;
    }
    unsigned replacements = 0;
    for (std::size_t i = 0; i < map->size(); ++i) {
        replacements += static_cast<unsigned>(std::popcount(map->data()[i]));
    }
    const unsigned t = drives_for_fault_tolerance;
    if (replacements == 0 || t <= 1 || replacements > t) {
        return;
    }
    const Wide128 new_left = static_cast<Wide128>(left != 0 ? left : total) + static_cast<Wide128>(total) *
                                                                                   (replacements - 1);
    const Wide128 new_total = static_cast<Wide128>(total) * t;
    // Scale both down together when the product passes 64 bits: the percentage stays the same.
    Wide128 scale = 1;
    while (new_total / scale > ~VK_QWORD{0}) {
        scale *= 2;
    }
    total = static_cast<VK_QWORD>(new_total / scale);
    left = static_cast<VK_QWORD>(new_left / scale);
}

} // namespace telmar::settings


namespace {

constexpr VK_DWORD kUnitStatusMask = 0xFF;
constexpr VK_DWORD kUnitStatusFailed = 1;
// Array trouble a drive that failed during a transformation may come back with.
constexpr VK_DWORD kToleratedTransformationArrayStatus = kArrayStatusHasFailedLogicalDrive | kArrayStatusHasInvalidSpare;
// The array's drives are still being rebuilt, so the exchanged media are not ready yet.
constexpr VK_DWORD kArrayStillRebuildingForReenable = kArrayStatusHasInitializingLogicalDrive;
constexpr VK_BYTE kBIOSHidden = 0x02;

bool ForeignEncryptionLocked(PCDA cda, VK_WORD ld_number) {
    const VK_QWORD controller = VK_GetControllerEncryptionStatus(cda);
    return (VK_GetLogicalDriveEncryptionInfo(cda, ld_number) & kLogicalDriveEncryptionEnabled) != 0 &&
           (controller & kControllerEncryptionEnabled) != 0 &&
           (controller & kControllerEncryptionControllerLocked) != 0;
}

// Sets or clears the BIOS-hide bit of the drive's configuration record and asks the host to rescan.
VK_BOOL SetBIOSHidden(PCDA cda, VK_WORD ld_number, bool hide, const char* function) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    LOGICAL_DRIVE_CONFIG* record = VK_GetLogicalDriveConfigurationBufferForUpdate(cda, ld_number);
    if (record == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'new_ld_buffer' failed: Failed to sense ld %u to %s\n", function,
                    __LINE__, ld_number, hide ? "hide" : "unhide");
        return kFalse;
    }
    if (hide) {
        record->bBIOSDisableFlag |= kBIOSHidden;
    } else {
        record->bBIOSDisableFlag &= static_cast<VK_BYTE>(~kBIOSHidden);
    }
    const VK_BOOL written = VK_SetConfiguration(cda, ld_number, record);
    if (!written) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to %s ld %u\n", function, __LINE__,
                    hide ? "hide" : "unhide", ld_number);
    }
    PN_ExecuteRegNewDiskMessage(_VK_CDA(cda)->controller_handle);
    return written;
}

} // namespace

VK_BYTE VK_CanEnableFailedLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kCanEnableFailedLogicalDriveIsNotFailed;
    }
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kCanEnableFailedLogicalDriveControllerOFAActive;
    }
    if ((VK_GetLogicalDriveBasicInfo(cda, ld_number) & kLogicalDriveTypeMask) == kLogicalDriveTypeSplitMirrorSetBackup) {
        return kCanEnableFailedLogicalDriveIsMirrorBackup;
    }
    const VK_DWORD status = VK_GetLogicalDriveStatusInfo(cda, ld_number);
    if ((status & kUnitStatusMask) != kUnitStatusFailed) {
        return kCanEnableFailedLogicalDriveIsNotFailed;
    }
    VK_BYTE result = kCanEnableFailedLogicalDriveFailedDriveNotReplaced;
    if (status & kLogicalDriveStatusFailedDuringTransformation) {
        const VK_DWORD array_status = VK_GetArrayStatusInfo(cda, VK_GetLogicalDriveArray(cda, ld_number));
        result = (array_status & ~kToleratedTransformationArrayStatus) != 0
                     ? kCanEnableFailedLogicalDriveInvalidArrayStatus
                     : kCanEnableFailedLogicalDriveAllowed;
    } else if (status & kLogicalDriveStatusMediaExchangedReadyToReenable) {
        const VK_DWORD array_status = VK_GetArrayStatusInfo(cda, VK_GetLogicalDriveArray(cda, ld_number));
        result = (array_status & kArrayStillRebuildingForReenable) != 0 ? kCanEnableFailedLogicalDriveArrayUndergoingRPI
                                                                        : kCanEnableFailedLogicalDriveAllowed;
    }
    if (result == kCanEnableFailedLogicalDriveAllowed && ForeignEncryptionLocked(cda, ld_number)) {
        result = kCanEnableFailedLogicalDriveEncryptionLocked;
    }
    return result;
}

VK_BOOL VK_DoEnableFailedLogicalDrive(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanEnableFailedLogicalDrive(cda, ld_number) != kCanEnableFailedLogicalDriveAllowed) {
        return kFalse;
    }
    const VK_BYTE opcode = (VK_GetLogicalDriveStatusInfo(cda, ld_number) & kLogicalDriveStatusFailedDuringTransformation)
                               ? BMIC_ENABLE_FAILED_TRANSFORMING_LOGICAL_DRIVE
                               : BMIC_ENABLE_FAILED_LOGICAL_DRIVE;
    const VK_BOOL sent =
        _VK_BMICHelperNoneBuffer(_VK_CDA(cda)->controller_handle, opcode, 0, ld_number, 0);
    if (sent) {
        VK_ReInitializeCDA(cda);
    }
    return sent;
}

VK_BOOL _VK_HideLogicalDrive(PCDA cda, VK_WORD ld_number) {
    return SetBIOSHidden(cda, ld_number, true, __func__);
}

VK_BOOL _VK_UnhideLogicalDrive(PCDA cda, VK_WORD ld_number) {
    return SetBIOSHidden(cda, ld_number, false, __func__);
}
