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
/* The array's health OR-ed with that of its logical drives, data drives and spares. */
VK_API VK_BYTE VK_GetArrayHealthRollup(PCDA cda, VK_WORD array_number);

PN_EXTERN_C_END

/* ---- Controller status word, backup power and health ------------------------------------------ */

/* Controller status word of VK_GetControllerStatusInfo. */
#define kControllerStatusMask 0x0000000F
#define kControllerStatusOK 0x01
#define kControllerStatusFailed 0x02
#define kControllerStatusBadZMRMode 0x03
#define kControllerStatusCacheProblem 0x04
#define kControllerStatusIncompatibleCacheModule 0x05
#define kControllerStatusDirtyCacheNeedsFirmwareDowngrade 0x06
#define kControllerCacheStatusMask 0x000000F0
#define kControllerCacheStatusShift 4
#define kControllerCacheStatusOK 0x01
#define kControllerCacheStatusNotConfigured 0x02
#define kControllerCacheStatusTemporarilyDisabled 0x03
#define kControllerCacheStatusPermanentlyDisabled 0x04
#define kControllerCacheStateMask 0x0000FF00
#define kControllerCacheStateShift 8
#define kControllerCacheState0BoardMismatch 0x00
#define kControllerCacheState1 0x01
#define kControllerCacheState17CannotReadData 0x11
#define kControllerCacheState18CannotWriteData 0x12
#define kControllerCacheState33 0x21
#define kControllerCacheFlagsMask 0x00FF0000
#define kControllerCacheFlagsShift 16
#define kControllerCacheFlagsValidDataFoundInCache 0x01
#define kControllerCacheFlagsLowBatteryAtBoot 0x02
#define kControllerCacheFlagsFlashMemoryDetached 0x04
#define kControllerCacheFlagsModuleRunningAtFailsafeSpeed 0x08
#define kControllerCacheFlagsOtherState 0x10
#define kControllerCacheFlagsDirtySoftwareRAIDCache 0x20
#define kControllerConfigStatusMask 0xFF000000
#define kControllerConfigStatusShift 24
#define kControllerConfigStatusOK 0x01
#define kControllerConfigStatusVersionMismatch 0x02
#define kControllerConfigStatusBadEncryptionOverride 0x04
#define kControllerConfigStatusBadLUCacheOverride 0x08
#define kControllerConfigStatusAbnormalVolumeState 0x10
#define kControllerConfigStatusAbnormalVolumeStateSEDLockedWithDirtyCache 0x20

#define CONTROLLER_STATUS(info) ((VK_BYTE)((info)&kControllerStatusMask))
#define CACHE_STATUS(info) ((VK_BYTE)(((info)&kControllerCacheStatusMask) >> kControllerCacheStatusShift))
#define CONTROLLER_CACHE_STATE(info) ((VK_BYTE)(((info)&kControllerCacheStateMask) >> kControllerCacheStateShift))
#define CONTROLLER_CACHE_FLAGS(info) ((VK_BYTE)(((info)&kControllerCacheFlagsMask) >> kControllerCacheFlagsShift))
#define CONTROLLER_CONFIG_STATUS(info)                                                                         \
    ((VK_BYTE)(((info)&kControllerConfigStatusMask) >> kControllerConfigStatusShift))

/* VK_GetControllerBackupPowerSourceStatus. */
#define kControllerBackupPowerSourceFailed 0
#define kControllerBackupPowerSourceNotPresent 1
#define kControllerBackupPowerSourcePresentAndCharging 2
#define kControllerBackupPowerSourcePresentAndCharged 3

/* Detailed backup power reading (BMIC 0xBF). */
typedef struct _VK_BACKUP_POWER_SOURCE_INFO {
    VK_INT16 max_temperature;
    VK_UINT16 max_voltage;
    VK_INT16 temperature;
    VK_UINT16 voltage;
    VK_INT16 current;
    VK_INT16 temp_threshold;
    VK_UINT16 health;
    VK_UINT16 charge_state;
    VK_UINT16 status;
} VK_BACKUP_POWER_SOURCE_INFO, *PVK_BACKUP_POWER_SOURCE_INFO;

#define kBackupPowerSourceInfoStatusUninitialized (1 << 0)
#define kBackupPowerSourceInfoStatusReady (1 << 1)
#define kBackupPowerSourceInfoStatusLearningCyle (1 << 2)
#define kBackupPowerSourceInfoStatusFailed (1 << 3)
#define kBackupPowerSourceInfoStatusAboveMaxTemperature (1 << 4)
#define kBackupPowerSourceInfoStatusAboveWarningTemperature (1 << 5)
#define kBackupPowerSourceInfoStatusOverVoltage (1 << 6)
#define kBackupPowerSourceInfoStatusAboveMaxChargingCurrent (1 << 7)
#define kBackupPowerSourceInfoStatusLearningCyclePassed (1 << 8)
#define kBackupPowerSourceInfoStatusLearningCyleFailed (1 << 9)
#define kBackupPowerSourceInfoStatusSupercapacitorFailed (1 << 10)
#define kBackupPowerSourceInfoStatusSupercapacitorNearEOL (1 << 11)
#define kBackupPowerSourceInfoStatusSupercapacitorPassedEOL (1 << 12)
#define kBackupPowerSourceInfoStatusSupercapacitorMissing (1 << 13)

#define kGetControllerBackupPowerSourceInfoSuccess 0x01
#define kGetControllerBackupPowerSourceInfoNotSupported 0x02
#define kGetControllerBackupPowerSourceInfoPowerSourceNotConnected 0x03
#define kGetControllerBackupPowerSourceInfoPowerSourceDataFailure 0x04
#define kGetControllerBackupPowerSourceInfoInvalidInfoBuffer 0x05

/* Backup state of the capacitor-backed cache module. */
typedef struct _GREEN_BACKUP_INFO {
    VK_BYTE status;
    VK_UINT16 total_backups;
    VK_UINT32 last_backup_time;
    VK_UINT32 last_restore_time;
    VK_BYTE processor_version_major;
    VK_BYTE processor_version_minor;
    VK_UINT16 hardware_error;
    VK_BYTE flags;
} GREEN_BACKUP_INFO, *PGREEN_BACKUP_INFO;

#define kGreenBackupInfoStatusUninitialized 0
#define kGreenBackupInfoStatusDisconnected 1
#define kGreenBackupInfoStatusCharging 2
#define kGreenBackupInfoStatusCharged 3
#define kGreenBackupInfoStatusNotCharged 4
#define kGreenBackupInfoStatusHotRemoved 5
#define kGreenBackupInfoStatusChargeTimeout 6
#define kGreenBackupInfoStatusFailure 7
#define kGreenBackupInfoHardwareNoError 0x0000
#define kGreenBackupInfoHardwarePowerSupplyNotResponding 0x0001
#define kGreenBackupInfoHardwareSetBackupRegionError 0x0002
#define kGreenBackupInfoHardwareEnableProtectionError 0x0004
#define kGreenBackupInfoHardwareNANDFlashCleanupError 0x0008
#define kGreenBackupInfoHardwareSetPreservationError 0x0010
#define kGreenBackupInfoHardwareChargeStartError 0x0020
#define kGreenBackupInfoHardwareCheckPreservationError 0x0040
#define kGreenBackupInfoHardwareNANDEraseError 0x0080
#define kGreenBackupInfoHardwareUnknownError 0x8000
#define kGreenBackupInfoFlagsPreservationEnable 1
#define kGreenBackupInfoFlagsPreservationSet 2

#define kGetControllerGreenBackupInfoSuccess 0x01
#define kGetControllerGreenBackupInfoInvalidInfoBuffer 0x02
#define kGetControllerGreenBackupInfoNotSupported 0x03
#define kGetControllerGreenBackupInfoFailure 0x04

/* Health and its roll-up; the roll-up is a set of the two bits. */
#define kControllerHealthOK 0
#define kControllerHealthWarning 1
#define kControllerHealthCritical 2
#define kControllerHealthRollupOK 0x0
#define kControllerHealthRollupWarning 0x1
#define kControllerHealthRollupCritical 0x2
#define IS_CONTROLLER_ROLLUP_WARNING(rollup) (((rollup)&kControllerHealthRollupWarning) != 0)
#define IS_CONTROLLER_ROLLUP_CRITICAL(rollup) (((rollup)&kControllerHealthRollupCritical) != 0)

/* Reasons of VK_ControllerRebootRequired. */
#define kControllerNoRebootRequired 0x0ULL
#define kControllerRebootRecommendedPowerMode 0x2ULL
#define kControllerRebootRequiredPowerMode 0x4ULL
#define kControllerRebootRequiredOperatingMode 0x8ULL
#define kControllerRebootRequiredOOBInterface 0x10ULL
#define kControllerRebootRequiredConnectorDiscoveryConfiguration 0x20ULL
#define kControllerRebootRequiredControllerFirmwareUpdate 0x40ULL
#define kControllerRebootRequiredCPLDUpdate 0x80ULL
#define kControllerRebootRequiredPCIeOrdering 0x100ULL
#define kControllerRebootRequiredUnlockedSEDWithConfigMetadata 0x200ULL
#define kControllerRebootRequiredControllerSanitizeLockChange 0x400ULL
#define kControllerRebootRequiredEncryptionEnablement 0x800ULL
#define kControllerRebootRequiredEncryptionReset 0x1000ULL
#define kControllerRebootRequiredPCIeMaxReadRequestSizeChange 0x2000ULL
#define kControllerRebootRequiredUnknownReason 0x8000000000000000ULL

PN_EXTERN_C_BEGIN

/* kControllerStatusFailed alone when the controller cannot be identified. */
VK_API VK_DWORD VK_GetControllerStatusInfo(PCDA cda);
/* kControllerBackupPowerSource...; NotPresent when the cache status cannot be read. */
VK_API VK_WORD VK_GetControllerBackupPowerSourceStatus(PCDA cda);
/* Reads the controller afresh on every call; kGetControllerBackupPowerSourceInfo... */
VK_API VK_BYTE VK_GetControllerBackupPowerSourceInfo(PCDA cda, PVK_BACKUP_POWER_SOURCE_INFO info);
/* kGetControllerGreenBackupInfo... */
VK_API VK_BYTE VK_GetControllerGreenBackupInfo(PCDA cda, PGREEN_BACKUP_INFO info);
VK_API VK_BYTE VK_GetControllerHealth(PCDA cda);
/* The controller's health with that of its arrays, logical drives and drives. */
VK_API VK_BYTE VK_GetControllerHealthRollup(PCDA cda);
VK_API VK_QWORD VK_ControllerRebootRequired(PCDA cda);

PN_EXTERN_C_END

/* ---- Online firmware activation state (VK_CONTROLLER_OFA_STATUS.status, ptelm_flash.h) -------- */

/* Running: neither not running (0, 1, 2) nor delaying (0x0A). Scheduled: pending or delaying.
 * Started: running and not scheduled. */
#define VK_IS_CONTROLLER_OFA_RUNNING(s) ((s) != 0x00 && (s) != 0x01 && (s) != 0x02 && (s) != 0x0A)
#define VK_IS_CONTROLLER_OFA_SCHEDULED(s) ((s) == 0x03 || (s) == 0x0A)
#define VK_HAS_CONTROLLER_OFA_STARTED(s) (VK_IS_CONTROLLER_OFA_RUNNING(s) && !VK_IS_CONTROLLER_OFA_SCHEDULED(s))
#define VK_LAST_CONTROLLER_OFA_ATTEMPT_FAILED(s) ((s) == 0x01 || (s) == 0x02)


/* ---- Physical drives ------------------------------------------------------------------------- */

/* Status word: the level in bits 0-1, the highest any condition raised. */
#define kPhysicalDriveStatusLevelMask 0x3
#define kPhysicalDriveStatusLevelOK 0
#define kPhysicalDriveStatusLevelInformational 1
#define kPhysicalDriveStatusLevelWarning 2
#define kPhysicalDriveStatusLevelFailed 3

#define kPhysicalDriveStatusExcludeFromConfigurationBit 0x00000004
#define kPhysicalDriveStatusFailed 0x00000100
#define kPhysicalDriveStatusFailedDueToPSA 0x00000200
#define kPhysicalDriveStatusPredictiveFailure 0x00000800
#define kPhysicalDriveStatusPredictiveFailureWornOut 0x00001000
#define kPhysicalDriveStatusIsTransientDrive 0x00002000
#define kPhysicalDriveStatusErasingOffline 0x00004000
#define kPhysicalDriveStatusInvalidDriveSize 0x00008000
#define kPhysicalDriveStatusFirmwareUpdateRequired 0x00010000
#define kPhysicalDriveStatusExposedToOS 0x00020000
#define kPhysicalDriveStatusMaskedWithInvalidCCM 0x00040000
#define kPhysicalDriveStatusUnsupportedForConfig 0x00080000
#define kPhysicalDriveStatusRebuilding 0x00100000
#define kPhysicalDriveStatusRebuildQueued 0x00200000
#define kPhysicalDriveStatusFailedDueToHotRemoval 0x00400000
#define kPhysicalDriveStatusFailedDueSEDQualification 0x00800000
#define kPhysicalDriveStatusIsSEDDataLocked 0x01000000

#define PHYSICAL_DRIVE_STATUS_LEVEL(status) ((status) & kPhysicalDriveStatusLevelMask)
#define PHYSICAL_DRIVE_STATUS_IS_DRIVE_USABLE(status)                                                    \
    (((status) & kPhysicalDriveStatusExcludeFromConfigurationBit) ? kFalse : kTrue)

/* Health. */
#define kPhysicalDriveHealthOK 0
#define kPhysicalDriveHealthWarning 1
#define kPhysicalDriveHealthCritical 2

/* Why a drive is not supported for a configuration. */
#define kPhysicalDriveUnsupportedReasonsFormat 0x0001
#define kPhysicalDriveUnsupportedReasonsSecurityState 0x0002
#define kPhysicalDriveUnsupportedReasonsBackplane 0x0004
#define kPhysicalDriveUnsupportedReasonsController 0x0008
#define kPhysicalDriveUnsupportedReasonsSoftwareRAIDNVME 0x0010

/* Last failure reason: the firmware's code in the low byte, the outcome of the query in the high. */
#define kPhysicalDriveLastFailureReasonCodeMask 0x00FF
#define kPhysicalDriveLastFailureReasonSuccessMask 0xFF00
#define kPhysicalDriveLastFailureReasonSuccessBitshift 8
#define PHYSICAL_DRIVE_LAST_FAILURE_REASON(reason) ((reason) & kPhysicalDriveLastFailureReasonCodeMask)
#define GET_PHYSICAL_DRIVE_LAST_FAILURE_REASON_SUCCESS(reason)                                           \
    (((reason) & kPhysicalDriveLastFailureReasonSuccessMask) >> kPhysicalDriveLastFailureReasonSuccessBitshift)
#define kGetPhysicalDriveLastFailureReasonSuccess 0
#define kGetPhysicalDriveLastFailureReasonInvalidPDNumber 1
#define kGetPhysicalDriveLastFailureReasonFailed 2

#define kPhysicalDriveLastFailureReasonTooSmallInLoadedConfig 0x01
#define kPhysicalDriveLastFailureReasonErrorErasingRIS 0x02
#define kPhysicalDriveLastFailureReasonErrorSavingRIS 0x03
#define kPhysicalDriveLastFailureReasonFailDriveCommand 0x04
#define kPhysicalDriveLastFailureReasonMarkBadFailed 0x05
#define kPhysicalDriveLastFailureReasonMarkBadFailedInFinishRemap 0x06
#define kPhysicalDriveLastFailureReasonTimeout 0x07
#define kPhysicalDriveLastFailureReasonAutosenseFailed 0x08
#define kPhysicalDriveLastFailureReasonMediumError1 0x09
#define kPhysicalDriveLastFailureReasonMediumError2 0x0A
#define kPhysicalDriveLastFailureReasonNotReadyBadSense 0x0B
#define kPhysicalDriveLastFailureReasonNotReady 0x0C
#define kPhysicalDriveLastFailureReasonHardwareError 0x0D
#define kPhysicalDriveLastFailureReasonAbortedCommand 0x0E
#define kPhysicalDriveLastFailureReasonWriteProtected 0x0F
#define kPhysicalDriveLastFailureReasonSpinUpFailureInRecover 0x10
#define kPhysicalDriveLastFailureReasonRebuildWriteError 0x11
#define kPhysicalDriveLastFailureReasonTooSmallInHotPlug 0x12
#define kPhysicalDriveLastFailureReasonBusResetRecoveryAborted 0x13
#define kPhysicalDriveLastFailureReasonRemovedInHotPlug 0x14
#define kPhysicalDriveLastFailureReasonInitRequestSenseFailed 0x15
#define kPhysicalDriveLastFailureReasonInitStartUnitFailed 0x16
#define kPhysicalDriveLastFailureReasonInquiryFailed 0x17
#define kPhysicalDriveLastFailureReasonNonDiskDevice 0x18
#define kPhysicalDriveLastFailureReasonReadCapacityFailed 0x19
#define kPhysicalDriveLastFailureReasonInvalidBlockSize 0x1A
#define kPhysicalDriveLastFailureReasonHotPlugRequestSenseFailed 0x1B
#define kPhysicalDriveLastFailureReasonHotPlugStartUnitFailed 0x1C
#define kPhysicalDriveLastFailureReasonWriteErrorAfterRemap 0x1D
#define kPhysicalDriveLastFailureReasonInitResetRecoveryAborted 0x1E
#define kPhysicalDriveLastFailureReasonDeferredWriteError 0x1F
#define kPhysicalDriveLastFailureReasonMissingInSaveRIS 0x20
#define kPhysicalDriveLastFailureReasonWrongReplace 0x21
#define kPhysicalDriveLastFailureReasonGDPVPDInquiryFailed 0x22
#define kPhysicalDriveLastFailureReasonGDPModeSenseFailed 0x23
#define kPhysicalDriveLastFailureReasonDriveNotIn48BitMode 0x24
#define kPhysicalDriveLastFailureReasonDriveTypeMixInHotPlug 0x25
#define kPhysicalDriveLastFailureReasonDriveTypeMixInLoadCfg 0x26
#define kPhysicalDriveLastFailureReasonProtocolAdapterFailed 0x27
#define kPhysicalDriveLastFailureReasonFaultyIDBayEmpty 0x28
#define kPhysicalDriveLastFailureReasonFaultyIDBayOccupied 0x29
#define kPhysicalDriveLastFailureReasonFaultyIDInvalidBay 0x2A
#define kPhysicalDriveLastFailureReasonWriteRetriesFailed 0x2B
#define kPhysicalDriveLastFailureReasonErrorWriteExpand 0x2F
#define kPhysicalDriveLastFailureReasonSmartErrorReported 0x37
#define kPhysicalDriveLastFailureReasonPhyResetFailed 0x38
#define kPhysicalDriveLastFailureReasonCLIFailDriveCommand 0x39
#define kPhysicalDriveLastFailureReasonChkBlkFailedWrite 0x3A
#define kPhysicalDriveLastFailureReasonATITestFailedWrite 0x3B
#define kPhysicalDriveLastFailureReasonNotInSASTopology 0x43
#define kPhysicalDriveLastFailureReasonSEHardwareError 0x44
#define kPhysicalDriveLastFailureReasonPowerCycleFailed 0x45
#define kPhysicalDriveLastFailureReasonFRSEDQualFailed 0x4C
#define kPhysicalDriveLastFailureReasonFRSEDCmdFailed 0x4D
#define kPhysicalDriveLastFailureReasonFRUnknownSESPeriphlDevice 0x4E
#define kPhysicalDriveLastFailureReasonFRDriveCapacityTooSmall 0x4F
#define kPhysicalDriveLastFailureReasonFRReadCapacity16Failed 0x50
#define kPhysicalDriveLastFailureReasonFRReadCapacityInvAlignLBA 0x51
#define kPhysicalDriveLastFailureReasonFRSEDLockout 0x52
#define kPhysicalDriveLastFailureReasonOfflineErase 0x80
#define kPhysicalDriveLastFailureReasonOfflineTooSmall 0x81
#define kPhysicalDriveLastFailureReasonOfflineDriveTypeMix 0x82
#define kPhysicalDriveLastFailureReasonOfflineEraseComplete 0x83

PN_EXTERN_C_BEGIN

/* Recomputed from the cached buffers on every call. */
VK_API VK_DWORD VK_GetPhysicalDriveStatusInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveHealth(PCDA cda, VK_WORD pd_number);
/* 0 unless the status word has kPhysicalDriveStatusUnsupportedForConfig. */
VK_API VK_WORD VK_GetPhysicalDriveUnsupportedReasons(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_IsPhysicalDevicePresent(PCDA cda, VK_WORD dev_number);
VK_API VK_BOOL VK_IsPhysicalDrivePresent(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDriveLastFailureReason(PCDA cda, VK_WORD pd_number);

PN_EXTERN_C_END

#endif
