// Operations on one existing logical drive: bringing a failed one back online, and hiding it from or
// showing it to the host's BIOS.
#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_cda_writeback.h"
#include "telm_private.h"

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
