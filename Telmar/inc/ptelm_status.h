/* Status words and health values of the controller's logical drives, arrays and drives. */
#ifndef PTELM_STATUS_H
#define PTELM_STATUS_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* ---- Logical drives and arrays: status words, health, LU cache status, surface analysis ------- */

/* Logical-drive status word: the unit status in the low byte, then two condition bits. */
#define kLogicalDriveUnitStatusMask 0x000000FF
#define LOGICAL_DRIVE_UNIT_STATUS(w) ((VK_BYTE)((w)&kLogicalDriveUnitStatusMask))
#define kLogicalDriveStatusFailedDuringTransformation 0x00000100
#define kLogicalDriveStatusMediaExchangedReadyToReenable 0x00000200

#define kLogicalDriveUnitStatusOK 0
#define kLogicalDriveUnitStatus1Failed 1
#define kLogicalDriveUnitStatus2NotConfigured 2
#define kLogicalDriveUnitStatus3InterimRecovery 3
#define kLogicalDriveUnitStatus4ReadyForRecovery 4
#define kLogicalDriveUnitStatus5Recovering 5
#define kLogicalDriveUnitStatus6WrongDriveReplaced 6
#define kLogicalDriveUnitStatus7DriveImproperlyConnected 7
#define kLogicalDriveUnitStatus8HardwareIsOverheating 8
#define kLogicalDriveUnitStatus9HardwareHasOverheated 9
#define kLogicalDriveUnitStatus10Expanding 10
#define kLogicalDriveUnitStatus11NotYetAvailable 11
#define kLogicalDriveUnitStatus12QueuedForExpansion 12
#define kLogicalDriveUnitStatus13DisabledFromSCSIIDConflict 13
#define kLogicalDriveUnitStatus14Ejected 14
#define kLogicalDriveUnitStatus15EraseInProgress 15
#define kLogicalDriveUnitStatus16Unused 16
#define kLogicalDriveUnitStatus17ReadyToPerformPredictiveSpareRebuild 17
#define kLogicalDriveUnitStatus18RPIInProgress 18
#define kLogicalDriveUnitStatus19RPIQueued 19
#define kLogicalDriveUnitStatus20EncryptedVolumeWithoutKey 20
#define kLogicalDriveUnitStatus21PlaintextVolumeRejectedInEncryptingMode 21
#define kLogicalDriveUnitStatus22EncryptionMigration 22
#define kLogicalDriveUnitStatus23EncryptedVolumeRekeying 23
#define kLogicalDriveUnitStatus24EncryptedVolumeEncryptionOff 24
#define kLogicalDriveUnitStatus25VolumeEncodeRequested 25
#define kLogicalDriveUnitStatus26EncryptedVolumeRekeyRequested 26
#define kLogicalDriveUnitStatus27UnsupportedOnThisController 27
#define kLogicalDriveUnitStatus28HasLockedSED 28
#define kLogicalDriveUnitStatus29SEDQualificationOngoing 29
#define kLogicalDriveUnitStatus30SEDQualificationFailed 30
#define kLogicalDriveUnitStatus31SEDVolumeDataLocked 31

#define kLogicalDriveHealthOK 0
#define kLogicalDriveHealthWarning 1
#define kLogicalDriveHealthCritical 2

/* LU cache status word: state (statistics reply) and write-policy reason (sense reply). */
#define kLUCacheStateMask 0x00FF
#define LU_CACHE_STATE(w) ((VK_BYTE)((w)&kLUCacheStateMask))
#define kLUCacheStateGood 0x01
#define kLUCacheStateLimited 0x02
#define kLUCacheStateDDRUnsafe 0x03
#define kLUCacheStateCacheLUNOffline 0x04
#define kLUCacheStateDataLUNOffline 0x08
#define kLUCacheStateDestroyed 0x10
#define kLUCacheStateFlushing 0x20
#define kLUCacheStateConfiguring 0x40
#define kLUCacheStatePowerupFail 0x80
#define kLUCacheWritePolicyReasonMask 0x0700
#define LU_CACHE_WRITE_POLICY_REASON(w) ((VK_BYTE)(((w)&kLUCacheWritePolicyReasonMask) >> 8))
#define kWritePolicyStatusOK 0
#define kWritePolicyStatusDDRUnsafe 1
#define kWritePolicyStatusCacheLUNDegraded 4

/* LU cache dirty lines: starting count in the high 32 bits, current count in the low 32 bits. */
#define LU_CACHE_DIRTY_LINES(q) ((VK_DWORD)((q)&0xFFFFFFFFu))
#define LU_CACHE_STARTING_DIRTY_LINES(q) ((VK_DWORD)(((q) >> 32) & 0xFFFFFFFFu))
/* Percent of the starting dirty lines flushed; 0 when nothing was dirty or more is dirty now. */
#define LU_CACHE_FLUSH_PROGRESS(q)                                                                             \
    ((LU_CACHE_STARTING_DIRTY_LINES(q) != 0 && LU_CACHE_STARTING_DIRTY_LINES(q) >= LU_CACHE_DIRTY_LINES(q))   \
         ? (100.0 * (double)(LU_CACHE_STARTING_DIRTY_LINES(q) - LU_CACHE_DIRTY_LINES(q)) /                      \
            (double)LU_CACHE_STARTING_DIRTY_LINES(q))                                                          \
         : 0.0)
#define LU_CACHE_FLUSH_PROGRESS_INT(q)                                                                         \
    ((LU_CACHE_STARTING_DIRTY_LINES(q) != 0 && LU_CACHE_STARTING_DIRTY_LINES(q) >= LU_CACHE_DIRTY_LINES(q))   \
         ? (VK_DWORD)(100ull * (VK_QWORD)(LU_CACHE_STARTING_DIRTY_LINES(q) - LU_CACHE_DIRTY_LINES(q)) /        \
                      (VK_QWORD)LU_CACHE_STARTING_DIRTY_LINES(q))                                              \
         : 0u)

/* Surface status word of one logical drive, as the controller reports it. */
#define kLogicalDriveSurfaceStatusScanCompleted 0x0001
#define kLogicalDriveSurfaceStatusCheckFailed 0x0002
#define kLogicalDriveSurfaceStatusNotStarted 0x0004
#define kLogicalDriveSurfaceStatusUsesParity 0x0008
#define kLogicalDriveSurfaceStatusURELastPass 0x0010
#define kLogicalDriveSurfaceStatusURECurrentPass 0x0020
#define kLogicalDriveSurfaceStatusRPIInProgress 0x0080
#define kLogicalDriveSurfaceStatusScanning 0x0100
#define kLogicalDriveSurfaceStatusParityInitInProgress 0x0200

/* The last completed surface analysis of a logical drive. */
typedef struct _LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO {
    VK_DWORD last_analysis_duration_seconds;
    VK_WORD year_last_scan_completion;
    VK_BYTE month_last_scan_completion;
    VK_BYTE day_last_scan_completion;
    VK_DWORD seconds_last_scan_completion; /* seconds into the day */
} LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO;

#define kGetLogicalDriveSurfaceAnalysisInfoSuccess 0
#define kGetLogicalDriveSurfaceAnalysisInfoNotSupported 1
#define kGetLogicalDriveSurfaceAnalysisInfoNullBuffer 2
#define kGetLogicalDriveSurfaceAnalysisInfoInvalidLogicalDrive 3
#define kGetLogicalDriveSurfaceAnalysisInfoFailedToReadInfo 4
#define kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported 5

/* Array status word: one bit per kind of trouble, or kArrayStatusOK alone. */
#define kArrayStatusOK 0x00000001
#define kArrayStatusHasFailedLogicalDrive 0x00000002
#define kArrayStatusHasFailedDataDrive 0x00000004
#define kArrayStatusHasFailedSpareDrive 0x00000008
#define kArrayStatusHasErasingDataDrive 0x00000010
#define kArrayStatusHasErasingLogicalDrive 0x00000020
#define kArrayStatusHasGaps 0x00000040
#define kArrayStatusHasInvalidSpare 0x00000080
#define kArrayStatusHasActiveSpare 0x00000100
#define kArrayStatusHasInitializingLogicalDrive 0x00000200
#define kArrayStatusHasRecoveringLogicalDrive 0x00000400
#define kArrayStatusHasTransformingLogicalDrive 0x00000800
#define kArrayStatusHasRekeyingLogicalDrive 0x00001000
#define kArrayStatusHasQueuedLogicalDriveTransformation 0x00002000
#define kArrayStatusHasUnlockedLogicalDrive 0x00004000
#define kArrayStatusUnsupportedBlockSizeForRAIDConfiguration 0x00008000
#define kArrayStatusHasOfflineLogicalDrive 0x00010000
#define kArrayStatusHasLogicalDriveWithVolatileKeyOp 0x00020000
#define kArrayStatusHasFlushingLogicalDrive 0x00040000
#define kArrayStatusHasDegradedLogicalDrive 0x00080000
#define kArrayStatusHasLogicalDriveHasSEDStatus 0x00100000
#define kArrayStatusHasSEDRekeyUnlockInProgress 0x00200000
#define kArrayStatusHasSEDForeignLogicalDrive 0x00400000

#define kArrayHealthOK 0
#define kArrayHealthWarning 1
#define kArrayHealthCritical 2

#define kArrayHealthRollupOK 0x0
#define kArrayHealthRollupWarning 0x1
#define kArrayHealthRollupCritical 0x2
#define IS_ARRAY_ROLLUP_WARNING(r) (((r)&kArrayHealthRollupWarning) != 0)
#define IS_ARRAY_ROLLUP_CRITICAL(r) (((r)&kArrayHealthRollupCritical) != 0)

PN_EXTERN_C_BEGIN

/* 0 when the logical drive does not exist or its status cannot be read. */
VK_API VK_DWORD VK_GetLogicalDriveStatusInfo(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveHealth(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_IsLogicalDrivePresent(PCDA cda, VK_WORD ld_number);
VK_API VK_WORD VK_GetLogicalDriveLUCacheStatusInfo(PCDA cda, VK_WORD ld_number);
VK_API VK_QWORD VK_GetLogicalDriveLUCacheDirtyLinesCount(PCDA cda, VK_WORD ld_number);
/* The next surface reader fetches a fresh reply. */
VK_API void VK_ResetSurfaceStatusInformation(PCDA cda);
VK_API VK_WORD VK_GetLogicalDriveSurfaceStatus(PCDA cda, VK_WORD ld_number);
/* kGetLogicalDriveSurfaceAnalysisInfo...; reads the controller on every call. */
VK_API VK_BYTE VK_GetLogicalDriveSurfaceAnalysisInfo(PCDA cda, VK_WORD ld_number,
                                                     LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO* ld_surface_analysis_info);

/* The array status bit of one logical-drive unit status, or 0. Shared with staged arrays. */
VK_API VK_DWORD _VK_GetCommonArrayLogicalDriveUnitStatus(VK_BYTE ld_unit_status);
VK_API VK_DWORD VK_GetArrayStatusInfo(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_GetArrayHealth(PCDA cda, VK_WORD array_number);

PN_EXTERN_C_END

#endif
