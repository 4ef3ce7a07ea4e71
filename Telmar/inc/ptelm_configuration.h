/* Configuration editing: a staged copy of a controller's configuration (controller settings, arrays,
 * logical drives, spares, LU caches, transformations and pending encryption settings) that a program
 * reads, checks and changes, then commits to the controller in one fixed order of writes; the direct
 * operations that change a controller at once; and the RAID geometry they share. Every function
 * takes the data area's lock for its whole body. */
#ifndef PTELM_CONFIGURATION_H
#define PTELM_CONFIGURATION_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* ---- Editable configuration: creation, population, checksum, commit errors ---- */

/* VK_CanCreateEditableConfiguration */
#define kCanCreateEditableConfigOK 1
#define kCanCreateEditableConfigEditableConfigExists 2
#define kCanCreateEditableConfigInconsistentPortSettings 3
#define kCanCreateEditableConfigControllerStatusNotOK 4
#define kCanCreateEditableConfigControllerOFAActive 5
#define kCanCreateEditableConfigWaitingOnAdapterPassword 6

/* VK_CreateEditableConfiguration */
#define kCreateEditableConfigFailedUnknown 0
#define kCreateEditableConfigOK 1

/* Commit-error bits of VK_GetEditableConfigurationCommitErrors: one per commit step. */
#define kEditableConfigurationCommitErrorDeleteLogicalDrive 0x1ULL
#define kEditableConfigurationCommitErrorSettingControllerParams 0x2ULL
#define kEditableConfigurationCommitErrorSpareDriveChanges 0x4ULL
#define kEditableConfigurationCommitErrorLogicalDriveSettings 0x8ULL
#define kEditableConfigurationCommitErrorClearEncryption 0x10ULL
#define kEditableConfigurationCommitErrorEncryptionSettings 0x20ULL
#define kEditableConfigurationCommitErrorCreatePlainTextLogicalDrives 0x40ULL
#define kEditableConfigurationCommitErrorRekeyToPlainText 0x80ULL
#define kEditableConfigurationCommitErrorCreateEncryptedLogicalDrives 0x100ULL
#define kEditableConfigurationCommitErrorEncodeLogicalDrives 0x200ULL
#define kEditableConfigurationCommitErrorVolatileKeys 0x400ULL
#define kEditableConfigurationCommitErrorEncryptionDisable 0x800ULL
#define kEditableConfigurationCommitErrorLogicalDriveLabels 0x1000ULL
#define kEditableConfigurationCommitErrorControllerSurvivalMode 0x2000ULL
#define kEditableConfigurationCommitErrorControllerSurfaceScan 0x4000ULL
#define kEditableConfigurationCommitErrorControllerCacheConfig 0x8000ULL
#define kEditableConfigurationCommitErrorLogicalDriveTransformation 0x10000ULL
#define kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges 0x20000ULL
#define kEditableConfigurationCommitErrorTransformEncodeLogicalDrives 0x40000ULL
#define kEditableConfigurationCommitErrorDestructiveEncodeLogicalDrives 0x80000ULL
#define kEditableConfigurationCommitErrorSpareDriveSEDQualFailed 0x100000ULL
#define kEditableConfigurationCommitErrorLogicalDriveSEDEncryption 0x200000ULL

/* ---- RAID geometry and RAID-level, parity-group and strip-size rules ---- */

/* How the parity-group count follows when drives leave or join a RAID 50 or 60 logical drive. */
#define kShrinkTypeRemoveDrivesFromParityGroups 1
#define kShrinkTypeRemoveParityGroups 2
#define kShrinkTypeAuto 3
#define kExpandTypeAddDrivesToParityGroups 1
#define kExpandTypeAddParityGroups 2
#define kExpandTypeAuto 3

/* Results of VK_GetEditableArrayParityGroupCountValues. */
#define kGetEditableArrayParityGroupCountValuesOK 1
#define kGetEditableArrayParityGroupCountValuesNoEditableConfigCreated 2
#define kGetEditableArrayParityGroupCountValuesNoArraySet 3
#define kGetEditableArrayParityGroupCountValuesNoDrivesAdded 4
#define kGetEditableArrayParityGroupCountValuesInvalidArguments 5

/* Results of VK_GetEditableLogicalDriveStripSizeRange; strip sizes are exponents (2^e bytes). */
#define kGetEditableLogicalDriveStripSizeRangeOK 1
#define kGetEditableLogicalDriveStripSizeRangeNoEditableConfigCreated 2
#define kGetEditableLogicalDriveStripSizeRangeNoArraySet 3
#define kGetEditableLogicalDriveStripSizeRangeNoRAIDLevelSet 4
#define kGetEditableLogicalDriveStripSizeRangeNoValidStripSize 5
#define kGetEditableLogicalDriveStripSizeInvalidLUCache 6

/* ---- Editable arrays and the editable drive list ---- */

/* VK_CanCreateEditableArray. CreatesNotAllowed answers once every array slot is taken. */
#define kCanCreateEditableArrayOK 1
#define kCanCreateEditableArrayNoEditableConfigCreated 2
#define kCanCreateEditableArrayMaxLDCountReached 3
#define kCanCreateEditableArrayNoUnassignedDrivesAvailable 4
#define kCanCreateEditableArrayCreatesNotAllowed 5
#define kCanCreateEditableArrayControllerStatusNotOK 6

/* Flag word of VK_GetEditableArrayFlags. */
#define kEditableArrayFlagNewArray 0x01
#define kEditableArrayFlagIOBypass 0x02
#define kEditableArrayFlagLUCaching 0x04
#define kEditableArrayBootConnector 0x08
#define kEditableArrayFlagSEDEncryptionEnabled 0x10

/* ---- Editable logical drives ---- */

/* Flag word of VK_GetEditableLogicalDriveFlags. */
#define kEditableLogicalDriveFlagNewLogicalDrive 0x1
#define kEditableLogicalDriveFlagLocked 0x2
#define kEditableLogicalDriveFlagRapidParityInit 0x4
#define kEditableLogicalDriveFlagOPO 0x8
#define kEditableLogicalDriveFlagTransformationQueued 0x10
#define kEditableLogicalDriveFlagEncodeQueued 0x20
#define kEditableLogicalDriveFlagNoRAIDLevelSet 0x40
#define kEditableLogicalDriveFlagNoStripSizeSet 0x80
#define kEditableLogicalDriveFlagNoSizeSet 0x100
#define kEditableLogicalDriveFlagNoArraySet 0x200
#define kEditableLogicalDriveFlagEncrypted 0x400
#define kEditableLogicalDriveFlagVolatileKeyEnabled 0x800
#define kEditableLogicalDriveFlagVolatileKeyBackupEnabled 0x1000
#define kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet 0x2000

/* ---- Editable controller settings, boot volumes, spare activation, cache settings ---- */

/* Staged settings: each Can answers Allowed 1, NoEditableConfigCreated 2 or its own reasons. */
#define kCanChangeEditableControllerRebuildPriorityAllowed 1
#define kCanChangeEditableControllerRebuildPriorityNoEditableConfigCreated 2
#define kCanChangeEditableControllerRebuildPriorityInvalidValue 3
#define kCanChangeEditableControllerRebuildPriorityRapidUnsupported 4
#define kCanChangeEditableControllerRebuildPriorityNoChange 5
#define kCanChangeEditableControllerRebuildPriorityNoLogicalDrives 6
#define kCanChangeEditableControllerRebuildPriorityControllerStatusNotOK 7
#define kCanChangeEditableControllerExpandPriorityAllowed 1
#define kCanChangeEditableControllerExpandPriorityNoEditableConfigCreated 2
#define kCanChangeEditableControllerExpandPriorityInvalidValue 3
#define kCanChangeEditableControllerExpandPriorityNoLogicalDrives 4
#define kCanChangeEditableControllerExpandPriorityNoChange 5
#define kCanChangeEditableControllerExpandPriorityUnsupported 6
#define kCanChangeEditableControllerExpandPriorityControllerStatusNotOK 7
#define kCanChangeEditableControllerSSAPriorityAllowed 1
#define kCanChangeEditableControllerSSAPriorityNoEditableConfigCreated 2
#define kCanChangeEditableControllerSSAPriorityInvalidValue 3
#define kCanChangeEditableControllerSSAPriorityNoLogicalDrives 4
#define kCanChangeEditableControllerSSAPriorityNoChange 5
#define kCanChangeEditableControllerSSAPriorityControllerStatusNotOK 6
#define kCanChangeEditableControllerPSSCountAllowed 1
#define kCanChangeEditableControllerPSSCountNoEditableConfigCreated 2
#define kCanChangeEditableControllerPSSCountOutOfRange 3
#define kCanChangeEditableControllerPSSCountOperationUnsupported 4
#define kCanChangeEditableControllerPSSCountNoLogicalDrives 5
#define kCanChangeEditableControllerPSSCountNoChange 6
#define kCanChangeEditableControllerPSSCountControllerStatusNotOK 7
#define kCanChangeEditableControllerDPOAllowed 1
#define kCanChangeEditableControllerDPONoEditableConfigCreated 2
#define kCanChangeEditableControllerDPOInvalidValue 3
#define kCanChangeEditableControllerDPONoLogicalDrives 4
#define kCanChangeEditableControllerDPONoChange 5
#define kCanChangeEditableControllerDPONotSupported 6
#define kCanChangeEditableControllerDPOControllerStatusNotOK 7
#define kCanChangeEditableControllerIRPAllowed 1
#define kCanChangeEditableControllerIRPNoEditableConfigCreated 2
#define kCanChangeEditableControllerIRPInvalidValue 3
#define kCanChangeEditableControllerIRPUnsupported 4
#define kCanChangeEditableControllerIRPNoLogicalDrives 5
#define kCanChangeEditableControllerIRPNoChange 6
#define kCanChangeEditableControllerIRPControllerStatusNotOK 7
#define kCanChangeEditableControllerInconsistencyEventNotificationAllowed 1
#define kCanChangeEditableControllerInconsistencyEventNotificationNoEditableConfigCreated 2
#define kCanChangeEditableControllerInconsistencyEventNotificationInvalidValue 3
#define kCanChangeEditableControllerInconsistencyEventNotificationUnsupported 4
#define kCanChangeEditableControllerInconsistencyEventNotificationNoLogicalDrives 5
#define kCanChangeEditableControllerInconsistencyEventNotificationNoChange 6
#define kCanChangeEditableControllerInconsistencyEventNotificationControllerStatusNotOK 7
#define kCanChangeEditableControllerElevatorSortAllowed 1
#define kCanChangeEditableControllerElevatorSortNoEditableConfigCreated 2
#define kCanChangeEditableControllerElevatorSortInvalidValue 3
#define kCanChangeEditableControllerElevatorSortNoLogicalDrives 4
#define kCanChangeEditableControllerElevatorSortNoChange 5
#define kCanChangeEditableControllerElevatorSortControllerStatusNotOK 6
#define kCanChangeEditableControllerQueueDepthAllowed 1
#define kCanChangeEditableControllerQueueDepthNoEditableConfigCreated 2
#define kCanChangeEditableControllerQueueDepthInvalidValue 3
#define kCanChangeEditableControllerQueueDepthNoLogicalDrives 4
#define kCanChangeEditableControllerQueueDepthNoChange 5
#define kCanChangeEditableControllerQueueDepthNotSupported 6
#define kCanChangeEditableControllerQueueDepthControllerStatusNotOK 7
#define kCanChangeEditableControllerFLSAllowed 1
#define kCanChangeEditableControllerFLSNoEditableConfigCreated 2
#define kCanChangeEditableControllerFLSInvalidValue 3
#define kCanChangeEditableControllerFLSNoLogicalDrives 4
#define kCanChangeEditableControllerFLSNoChange 5
#define kCanChangeEditableControllerFLSControllerStatusNotOK 6
#define kCanChangeEditableControllerMNPDelayAllowed 1
#define kCanChangeEditableControllerMNPDelayNoEditableConfigCreated 2
#define kCanChangeEditableControllerMNPDelayInvalidValue 3
#define kCanChangeEditableControllerMNPDelayNoLogicalDrives 4
#define kCanChangeEditableControllerMNPDelayNoChange 5
#define kCanChangeEditableControllerMNPDelayControllerStatusNotOK 6
#define kCanChangeEditableControllerSurvivalPowerModeAllowed 1
#define kCanChangeEditableControllerSurvivalPowerModeNoEditableConfigCreated 2
#define kCanChangeEditableControllerSurvivalPowerModeOperationUnsupported 3
#define kCanChangeEditableControllerSurvivalPowerModeInvalidValue 4
#define kCanChangeEditableControllerSurvivalPowerModeNoChange 5
#define kCanChangeEditableControllerSurvivalPowerModeNotConfigurable 6
#define kCanChangeEditableControllerWCBTAllowed 1
#define kCanChangeEditableControllerWCBTNoEditableConfigCreated 2
#define kCanChangeEditableControllerWCBTInvalidValue 3
#define kCanChangeEditableControllerWCBTOperationUnsupported 4
#define kCanChangeEditableControllerWCBTNoLogicalDrives 5
#define kCanChangeEditableControllerWCBTNoChange 6
#define kCanChangeEditableControllerWCBTControllerCacheStatusNotOK 7
#define kCanChangeEditableControllerWCBTControllerStatusNotOK 8
#define kCanChangeEditableControllerNotifyOnAnyBroadcastAllowed 1
#define kCanChangeEditableControllerNotifyOnAnyBroadcastNoEditableConfigCreated 2
#define kCanChangeEditableControllerNotifyOnAnyBroadcastInvalidValue 3
#define kCanChangeEditableControllerNotifyOnAnyBroadcastOperationUnsupported 4
#define kCanChangeEditableControllerNotifyOnAnyBroadcastNoChange 5
#define kCanChangeEditableControllerNotifyOnAnyBroadcastControllerStatusNotOK 6
#define kCanChangeEditableControllerSanitizeLockAllowed 1
#define kCanChangeEditableControllerSanitizeLockNoEditableConfigCreated 2
#define kCanChangeEditableControllerSanitizeLockInvalidValue 3
#define kCanChangeEditableControllerSanitizeLockUnsupported 4
#define kCanChangeEditableControllerSanitizeLockNoChange 5
#define kCanChangeEditableControllerSanitizeLockControllerStatusNotOK 6

/* Rate percentages: this family answers 0 for allowed and 1 without a configuration. */
#define kCanChangeEditableControllerRebuildPercentAllowed 0
#define kCanChangeEditableControllerRebuildPercentNoEditableConfigCreated 1
#define kCanChangeEditableControllerRebuildPercentInvalidValue 2
#define kCanChangeEditableControllerRebuildPercentUnsupported 3
#define kCanChangeEditableControllerRebuildPercentNoChange 4
#define kCanChangeEditableControllerRebuildPercentNoLogicalDrives 5
#define kCanChangeEditableControllerRebuildPercentControllerStatusNotOK 6
#define kCanChangeEditableControllerExpandPercentAllowed 0
#define kCanChangeEditableControllerExpandPercentNoEditableConfigCreated 1
#define kCanChangeEditableControllerExpandPercentInvalidValue 2
#define kCanChangeEditableControllerExpandPercentNoChange 3
#define kCanChangeEditableControllerExpandPercentNoLogicalDrives 4
#define kCanChangeEditableControllerExpandPercentControllerStatusNotOK 5
#define kCanChangeEditableControllerExpandPercentUnsupported 6
#define kCanChangeEditableControllerSSAPercentAllowed 0
#define kCanChangeEditableControllerSSAPercentNoEditableConfigCreated 1
#define kCanChangeEditableControllerSSAPercentControllerStatusNotOK 2
#define kCanChangeEditableControllerSSAPercentInvalidValue 3
#define kCanChangeEditableControllerSSAPercentNoLogicalDrives 4
#define kCanChangeEditableControllerSSAPercentNoChange 5
#define kChangeEditableControllerRebuildPercentSuccess 0
#define kChangeEditableControllerRebuildPercentFailure 1
#define kChangeEditableControllerExpandPercentSuccess 0
#define kChangeEditableControllerExpandPercentFailure 1
#define kChangeEditableControllerSSAPercentSuccess 0
#define kChangeEditableControllerSSAPercentFailure 1

/* Staged boot volumes. */
#define kCanChangeEditableControllerBootVolumeAllowed 1
#define kCanChangeEditableControllerBootVolumeNoEditableConfigCreated 2
#define kCanChangeEditableControllerBootVolumeInvalidPrecedence 3
#define kCanChangeEditableControllerBootVolumeInvalidBootVolumeType 4
#define kCanChangeEditableControllerBootVolumeInvalidBootVolumeNumber 5
#define kCanChangeEditableControllerBootVolumeOperationUnsupported 6
#define kCanChangeEditableControllerBootVolumeInvalidPhysicalBootVolume 7
#define kCanChangeEditableControllerBootVolumeInvalidLogicalBootVolume 8
#define kCanChangeEditableControllerBootVolumeInvalidRemoteBootVolume 9
#define kCanChangeEditableControllerBootVolumeAlreadySet 10
#define kCanChangeEditableControllerBootVolumeNotAllowed 11
#define kCanChangeEditableControllerBootVolumeControllerStatusNotOK 12
#define kCanClearEditableControllerBootVolumeAllowed 1
#define kCanClearEditableControllerBootVolumeNoEditableConfigCreated 2
#define kCanClearEditableControllerBootVolumeInvalidPrecedence 3
#define kCanClearEditableControllerBootVolumeNotSet 4
#define kCanClearEditableControllerBootVolumeOperationUnsupported 5
#define kCanClearEditableControllerBootVolumeNotAllowed 6
#define kCanClearEditableControllerBootVolumeControllerStatusNotOK 7

/* Spare activation mode. */
#define kCanChangeEditableControllerSAMOperationAllowed 1
#define kCanChangeEditableControllerSAMNoEditableConfigCreated 2
#define kCanChangeEditableControllerSAMUnsupportedMode 3
#define kCanChangeEditableControllerSAMArrayIsTransforming 4
#define kCanChangeEditableControllerSAMArrayHasActiveSpare 5
#define kCanChangeEditableControllerSAMArrayHasAutoReplaceSpare 6
#define kCanChangeEditableControllerSAMSelectedModeActive 7
#define kCanChangeEditableControllerSAMNoLogicalDrives 8
#define kCanChangeEditableControllerSAMEditableArrayHasPredictiveFailureDrive 9
#define kCanChangeEditableControllerSAMLogicalDriveMissingKey 10
#define kCanChangeEditableControllerSAMControllerStatusNotOK 11

/* Drive write cache: one controller-wide mode, or a policy per drive type and usage type. */
#define kCanChangeEditableControllerDriveWriteCacheModeAllowed 1
#define kCanChangeEditableControllerDriveWriteCacheModeNoEditableConfigCreated 2
#define kCanChangeEditableControllerDriveWriteCacheModeNotSupported 3
#define kCanChangeEditableControllerDriveWriteCacheModeNoChange 4
#define kCanChangeEditableControllerDriveWriteCacheModeInvalidMode 5
#define kCanChangeEditableControllerDriveWriteCacheModeNoLogicalDrives 6
#define kCanChangeEditableControllerDriveWriteCacheModeControllerStatusNotOK 7
#define kCanChangeEditableControllerDriveWriteCachePolicyAllowed 1
#define kCanChangeEditableControllerDriveWriteCachePolicyNoEditableConfigCreated 2
#define kCanChangeEditableControllerDriveWriteCachePolicyNotSupported 3
#define kCanChangeEditableControllerDriveWriteCachePolicyNoChange 4
#define kCanChangeEditableControllerDriveWriteCachePolicyInvalidPolicy 5
#define kCanChangeEditableControllerDriveWriteCachePolicyNoLogicalDrives 6
#define kCanChangeEditableControllerDriveWriteCachePolicyInvalidDriveType 7
#define kCanChangeEditableControllerDriveWriteCachePolicyInvalidUsageType 8
#define kCanChangeEditableControllerDriveWriteCachePolicyUnsupportedDriveType 9
#define kCanChangeEditableControllerDriveWriteCachePolicyUnsupportedUsageType 10
#define kCanChangeEditableControllerDriveWriteCachePolicyControllerStatusNotOK 11
#define kDriveWriteCacheDriveTypeAll 0xFF
#define kDriveWriteCacheUsageTypeAll 0xFF

/* Cache settings. */
#define kCanChangeEditableControllerNBWCAllowed 0x01
#define kCanChangeEditableControllerNBWCNoEditableConfigCreated 0x02
#define kCanChangeEditableControllerNBWCOperationUnsupported 0x03
#define kCanChangeEditableControllerNBWCInvalidValue 0x04
#define kCanChangeEditableControllerNBWCNoLogicalDrives 0x05
#define kCanChangeEditableControllerNBWCNoChange 0x06
#define kCanChangeEditableControllerNBWCInHBAMode 0x07
#define kCanChangeEditableControllerNBWCNoCachePresent 0x08
#define kCanChangeEditableControllerNBWCControllerCacheInactive 0x09
#define kCanChangeEditableControllerNBWCCacheStatusNotOK 0x0A
#define kCanChangeEditableControllerNBWCAllLogicalDriveAcceleratorIOBypass 0x0B
#define kCanChangeEditableControllerNBWCReadCachePercentNotInRange 0x0C
#define kCanChangeEditableControllerNBWCNoLogicalDriveAllowsNBWC 0x0D
#define kCanChangeEditableControllerNBWCControllerStatusNotOK 0x0E
#define kCanChangeEditableControllerWaitForCacheRoomAllowed 0x01
#define kCanChangeEditableControllerWaitForCacheRoomNoEditableConfigCreated 0x02
#define kCanChangeEditableControllerWaitForCacheRoomOperationUnsupported 0x03
#define kCanChangeEditableControllerWaitForCacheRoomInvalidValue 0x04
#define kCanChangeEditableControllerWaitForCacheRoomNoLogicalDrives 0x05
#define kCanChangeEditableControllerWaitForCacheRoomNoChange 0x06
#define kCanChangeEditableControllerWaitForCacheRoomInHBAMode 0x07
#define kCanChangeEditableControllerWaitForCacheRoomNoCachePresent 0x08
#define kCanChangeEditableControllerWaitForCacheRoomControllerCacheInactive 0x09
#define kCanChangeEditableControllerWaitForCacheRoomCacheStatusNotOK 0x0A
#define kCanChangeEditableControllerWaitForCacheRoomNoLogicalDriveAllowsWaitForCacheRoom 0x0B
#define kCanChangeEditableControllerWaitForCacheRoomControllerStatusNotOK 0x0C
#define kCanChangeEditableControllerReadCachePercentAllowed 0x01
#define kCanChangeEditableControllerReadCachePercentNoEditableConfigCreated 0x02
#define kCanChangeEditableControllerReadCachePercentInvalidValue 0x03
#define kCanChangeEditableControllerReadCachePercentNoLogicalDrives 0x04
#define kCanChangeEditableControllerReadCachePercentNoChange 0x05
#define kCanChangeEditableControllerReadCachePercentInHBAMode 0x06
#define kCanChangeEditableControllerReadCachePercentBadPowerSource 0x07
#define kCanChangeEditableControllerReadCachePercentNoCachePresent 0x08
#define kCanChangeEditableControllerReadCachePercentControllerCacheInactive 0x09
#define kCanChangeEditableControllerReadCachePercentLUCacheEnabled 0x0A
#define kCanChangeEditableControllerReadCachePercentCacheStatusNotOk 0x0B
#define kCanChangeEditableControllerReadCachePercentNotInRange 0x0C
#define kCanChangeEditableControllerReadCachePercentControllerStatusNotOK 0x0D

/* VK_GetEditableControllerReadCachePercentLimits: minimum in bits 0-7, maximum in bits 8-15. */
#define kGetEditableControllerReadCachePercentMinLimitMask 0x00FF
#define kGetEditableControllerReadCachePercentMaxLimitMask 0xFF00
#define kGetEditableControllerReadCachePercentMaxLimitShift 8
#define kGetEditableControllerReadCachePercentLimitsInvalid 101
#define GET_EDITABLE_CONTROLLER_MIN_READ_CACHE_PERCENT(w) ((VK_BYTE)((w)&kGetEditableControllerReadCachePercentMinLimitMask))
#define GET_EDITABLE_CONTROLLER_MAX_READ_CACHE_PERCENT(w)                                                      \
    ((VK_BYTE)(((w)&kGetEditableControllerReadCachePercentMaxLimitMask) >> kGetEditableControllerReadCachePercentMaxLimitShift))

/* ---- Direct controller operations and single-field parameter updates ---- */

#include "ptelm_properties.h" /* OOBConfiguration, boot-volume precedences and drive types */

/* Operating modes VK_CanChangeControllerMode and VK_DoChangeControllerMode take. */
#define kControllerModeRAID 0
#define kControllerModeHBA 1
#define kControllerModeMixed 2

/* Power modes of VK_CanChangePowerMode and VK_DoChangePowerMode, as SET_POWER_MODE carries them. */
#define kSetPowerModeMinimumPower 1
#define kSetPowerModeBalanced 2
#define kSetPowerModeMaxPerformance 4

/* VK_CanSetControllerI2CAddress. */
#define kCanSetControllerI2CAddressAllowed 0x01
#define kCanSetControllerI2CAddressAlreadySet 0x02
#define kCanSetControllerI2CAddressInactive 0x03
#define kCanSetControllerI2CAddressUnsupported 0x04
#define kCanSetControllerI2CAddressControllerOFAActive 0x05

/* VK_CanChangeControllerOOBConfiguration. */
#define kCanChangeControllerOOBConfigurationAllowed 1
#define kCanChangeControllerOOBConfigurationInvalidInput 2
#define kCanChangeControllerOOBConfigurationNotSupported 3
#define kCanChangeControllerOOBConfigurationInvalidInterfaceType 4
#define kCanChangeControllerOOBConfigurationInvalidClockSpeed 5
#define kCanChangeControllerOOBConfigurationInvalidSMBUSDeviceType 6
#define kCanChangeControllerOOBConfigurationOFAActive 7
#define kCanChangeControllerOOBConfigurationControllerStatusNotOk 8

/* VK_CanSetBootableVolume. */
#define kSetBootableVolumeOperationAllowed 1
#define kSetBootableVolumeUnsupportedOperation 2
#define kSetBootableVolumeUnsupportedPrecedence 3
#define kSetBootableVolumeUnsupportedDriveType 4
#define kSetBootableVolumeInvalidLogicalDrive 5
#define kSetBootableVolumeInvalidPhysicalDrive 6
#define kSetBootableVolumeInvalidRemoteVolume 7
#define kSetBootableVolumeOperationControllerOFAActive 8

/* VK_CanClearBootableVolume. */
#define kClearBootableVolumeOperationAllowed 0x01
#define kClearBootableVolumeUnsupportedOperation 0x02
#define kClearBootableVolumeUnsupportedPrecedence 0x03
#define kClearBootableVolumeOperationControllerOFAActive 0x04

/* VK_CanChangeControllerMode: a bit set. */
#define kChangeControllerModeOperationAllowed 0x01
#define kChangeControllerModeUnsupportedOperation 0x02
#define kChangeControllerModeUnsupportedMode 0x04
#define kChangeControllerModeSelectedModePending 0x08
#define kChangeControllerModeLogicalDrivesExist 0x10
#define kChangeControllerModeEncryptionIsEnabled 0x20
#define kChangeControllerModeControllerOFAActive 0x40

/* VK_CanChangePowerMode. */
#define kChangePowerModeOperationAllowed 0x01
#define kChangePowerModeUnsupportedMode 0x02
#define kChangePowerModeSelectedModePending 0x03
#define kChangePowerModeControllerOFAActive 0x04

/* Values of the single-field updates. */
#define kChangeControllerPCIeOrderingStrict 0
#define kChangeControllerPCIeOrderingRelaxed 1
#define kMaxReadRequestSizeTypeDefault 0
#define kMaxReadRequestSizeType128Bytes 1
#define kMaxReadRequestSizeType256Bytes 2
#define kMaxReadRequestSizeType512Bytes 3
#define kMaxReadRequestSizeType1024Bytes 4
#define kMaxReadRequestSizeType2048Bytes 5

/* Their results: each family has its own convention, allowed is 1 for some and 0 for others. */
#define kCanSetControllerOSBootableDriveCountAllowed 1
#define kCanSetControllerOSBootableDriveCountAlreadySet 2
#define kCanSetControllerOSBootableDriveCountControllerOFAActive 3
#define kCanSetControllerExpanderMinimumScanDurationAllowed 0
#define kCanSetControllerExpanderMinimumScanDurationNotSupported 1
#define kCanSetControllerExpanderMinimumScanDurationAlreadySet 2
#define kCanSetControllerExpanderMinimumScanDurationInvalidValue 3
#define kCanSetControllerExpanderMinimumScanDurationUnknown 4
#define kCanChangeControllerPCIeOrderingAllowed 0x01
#define kCanChangeControllerPCIeOrderingNotSupported 0x02
#define kCanChangeControllerPCIeOrderingAlreadySet 0x03
#define kCanChangeControllerPCIeOrderingInvalid 0x04
#define kCanSetControllerMaxReadRequestSizeAllowed 1
#define kCanSetControllerMaxReadRequestSizeNotSupported 2
#define kCanSetControllerMaxReadRequestSizeAlreadyPending 3
#define kCanSetControllerMaxReadRequestSizeInvalidSize 4
#define kSetControllerMaxReadRequestSizeSuccess 1
#define kSetControllerMaxReadRequestSizeFailure 2
#define kCanSetControllerPersistentEventLogPolicyAllowed 0
#define kCanSetControllerPersistentEventLogPolicyUnsupported 1
#define kCanSetControllerPersistentEventLogPolicyInvalidPolicy 2
#define kCanSetControllerPersistentEventLogPolicyAlreadySet 3
#define kSetControllerPersistentEventLogPolicySuccess 0
#define kSetControllerPersistentEventLogPolicyFailure 1
#define kCanChangeControllerUEFIDriverHealthReportingAllowed 0x01
#define kCanChangeControllerUEFIDriverHealthReportingNotSupported 0x02
#define kCanChangeControllerUEFIDriverHealthReportingInvalid 0x03
#define kCanChangeControllerUEFIDriverHealthReportingAlreadySet 0x04
#define kDoChangeControllerUEFIDriverHealthReportingSuccess 1
#define kDoChangeControllerUEFIDriverHealthReportingFailure 2

/* ---- Commit ---- */

/* ---- Managed-SED credential rules ---- */

/* VK_CheckSEDEncryptionMasterKey: bit set. */
#define kCheckSEDEncryptionMasterKeyOk 0x000
#define kCheckSEDEncryptionMasterKeyMissingLowerCaseLetter 0x001
#define kCheckSEDEncryptionMasterKeyMissingUpperCaseLetter 0x002
#define kCheckSEDEncryptionMasterKeyMissingNumber 0x004
#define kCheckSEDEncryptionMasterKeyMissingSpecialChar 0x008
#define kCheckSEDEncryptionMasterKeyTooShort 0x010
#define kCheckSEDEncryptionMasterKeyTooLong 0x020
#define kCheckSEDEncryptionMasterKeyInvalidChar 0x040
#define kCheckSEDEncryptionMasterKeyInvalidUnknown 0x080
#define kCheckSEDEncryptionMasterKeyInvalidSEDModeConfig 0x100

/* VK_CheckSEDEncryptionMasterKeyIdentifier: bit set. */
#define kCheckEncryptionMasterKeyIdentifierOk 0x00
#define kCheckEncryptionMasterKeyIdentifierInvalidInput 0x01
#define kCheckEncryptionMasterKeyIdentifierTooLong 0x02
#define kCheckEncryptionMasterKeyIdentifierNonAsciiValues 0x04
#define kCheckEncryptionMasterKeyIdentifierInvalidSEDEncryptionMode 0x08

/* VK_CheckSEDEncryptionAdapterPassword: bit set. */
#define kCheckSEDEncryptionAdapterPasswordOk 0x00
#define kCheckSEDEncryptionAdapterPasswordFailedTooShort 0x01
#define kCheckSEDEncryptionAdapterPasswordFailedTooLong 0x02
#define kCheckSEDEncryptionAdapterPasswordFailedInvalidChar 0x04
#define kCheckSEDEncryptionAdapterPasswordInvalidInput 0x08
#define kCheckSEDEncryptionAdapterPasswordMissingLowerCaseLetter 0x10
#define kCheckSEDEncryptionAdapterPasswordMissingUpperCaseLetter 0x20
#define kCheckSEDEncryptionAdapterPasswordMissingNumber 0x40
#define kCheckSEDEncryptionAdapterPasswordMissingSpecialChar 0x80

/* VK_CheckSEDEncryptionPhysicalDrivePSID: bit set. The buffer constants count the NUL. */
#define kCheckSEDEncryptionPhysicalDrivePSIDOk 0x00
#define kCheckSEDEncryptionPhysicalDrivePSIDInvalidArgument 0x01
#define kCheckSEDEncryptionPhysicalDrivePSIDInvalidCharacter 0x02
#define kCheckSEDEncryptionPhysicalDrivePSIDInvalidSize 0x04
#define kPhysicalDrivePSIDBufferLength 33
#define kPhysicalDrivePSIDMinimumLength 9

PN_EXTERN_C_BEGIN

/* -- Editable configuration -- */

VK_API VK_BYTE VK_CanCreateEditableConfiguration(PCDA cda);
/* Stages a copy of the live configuration, re-reading the whole controller. */
VK_API VK_BYTE VK_CreateEditableConfiguration(PCDA cda);
/* The controller's current encryption mode (kControllerEncryptionNone .. Remote). */
VK_API VK_BYTE VK_GetControllerEncryption(PCDA cda);
/* The error bits of the last commit; still readable once the configuration is gone. */
VK_API VK_UINT64 VK_GetEditableConfigurationCommitErrors(PCDA cda);
/* Writes the staged configuration to the debug log at `level` as one block; never a credential. */
VK_API void VK_DebugLogEditableConfiguration(PCDA cda, VK_BYTE level);

/* -- RAID geometry and rules -- */

/* `current_offset` rounded up to the alignment of a staged array; unchanged when nothing is staged
 * under that number. */
VK_API VK_QWORD VK_GetNextEditableLogicalDriveAlignedOffset(PCDA cda, VK_WORD editable_array_number,
                                                            VK_QWORD current_offset);
/* The parity-group counts a RAID level allows on a staged array's data drives: at most
 * `*max_parity_group_count` of them into `parity_group_count_array`, their number back into
 * `*max_parity_group_count`, the smallest (or 0) into `*default_parity_group_count`. */
VK_API VK_BYTE VK_GetEditableArrayParityGroupCountValues(PCDA cda, VK_WORD editable_array_number,
                                                         VK_BYTE raid_level, VK_BYTE* max_parity_group_count,
                                                         VK_BYTE* parity_group_count_array,
                                                         VK_BYTE* default_parity_group_count);
/* Smallest, largest and default strip-size exponents of a staged logical drive. */
VK_API VK_BYTE VK_GetEditableLogicalDriveStripSizeRange(PCDA cda, VK_WORD editable_ld_number,
                                                        VK_BYTE* min_strip_size_exp, VK_BYTE* max_strip_size_exp,
                                                        VK_BYTE* default_strip_size_exp);

/* -- Editable arrays and drive list -- */

VK_API VK_BYTE VK_CanCreateEditableArray(PCDA cda);
VK_API VK_WORD VK_CreateEditableArray(PCDA cda);
/* The enumerators take the previous number (0xFFFF to start) and answer 0xFFFF at the end. */
VK_API VK_WORD VK_EnumerateEditableArrays(PCDA cda, VK_WORD array_number);
VK_API VK_WORD VK_EnumerateEditableArrayDataDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateEditableArraySpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateEditableArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_API VK_DWORD VK_GetEditableArrayFlags(PCDA cda, VK_WORD editable_array_number);
/* size_type: kArrayTotalSizeBlocks .. kArrayBlockSizeBytes. */
VK_API VK_QWORD VK_GetEditableArraySize(PCDA cda, VK_WORD editable_array_number, VK_BYTE size_type);
VK_API VK_BYTE VK_GetEditableArraySpareType(PCDA cda, VK_WORD editable_array_number);
VK_API VK_BYTE VK_GetEditablePhysicalDriveUsageInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateEditablePhysicalDrives(PCDA cda, VK_WORD pd_number);
/* Where a new logical drive of the staged array would start. */
VK_API VK_QWORD VK_GetEditableArrayNextLogicalDriveOffset(PCDA cda, VK_WORD editable_array_number);
/* The kArrayStatus word of a staged array: its staged logical drives and drive lists read against
 * the live array of the same number; 0 without a configuration or for an empty slot. */
VK_API VK_DWORD VK_GetEditableArrayStatusInfo(PCDA cda, VK_WORD editable_array_number);

/* -- Editable logical drives -- */

VK_API VK_WORD VK_EnumerateEditableLogicalDrives(PCDA cda, VK_WORD ld_number);
VK_API VK_DWORD VK_GetEditableLogicalDriveFlags(PCDA cda, VK_WORD editable_ld_number);
VK_API VK_WORD VK_GetEditableLogicalDriveArray(PCDA cda, VK_WORD editable_ld_number);
/* num_parity_groups << 8 | RAID_level, or kInvalidRAID while no level is set. */
VK_API VK_WORD VK_GetEditableLogicalDriveRAIDInfo(PCDA cda, VK_WORD ld_number);
/* An array's logical drives by rising (falling: the r forms) offset on the drives; 0xFFFF starts
 * and ends. The Editable forms walk a staged array, the others a live one. */
VK_API VK_WORD VK_EnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_API VK_WORD VK_rEnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_API VK_WORD VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_API VK_WORD VK_rEnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
/* kLogicalDriveTypeData .. kLogicalDriveTypeSplitMirrorSetBackupOrphan; 0 for no such drive. */
VK_API VK_BYTE VK_GetEditableLogicalDriveType(PCDA cda, VK_WORD editable_ld_number);

/* -- Editable controller settings -- */

/* The staged settings. Without a configuration a getter answers the setting's unknown value and a
 * Can answers NoEditableConfigCreated; a Change stages the value only when its Can allows it. */
VK_API VK_BYTE VK_GetEditableControllerRebuildPriority(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerRebuildPriority(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerRebuildPriority(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerExpandPriority(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerExpandPriority(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerExpandPriority(PCDA cda, VK_BYTE value);
VK_API VK_WORD VK_GetEditableControllerSSAPriority(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerSSAPriority(PCDA cda, VK_WORD value);
VK_API VK_BOOL VK_ChangeEditableControllerSSAPriority(PCDA cda, VK_WORD value);
VK_API VK_BYTE VK_GetEditableControllerPSSCount(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerPSSCount(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerPSSCount(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerDPO(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerDPO(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerDPO(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerIRP(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerIRP(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerIRP(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerInconsistencyEventNotification(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerInconsistencyEventNotification(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerInconsistencyEventNotification(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerElevatorSort(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerElevatorSort(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerElevatorSort(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerQueueDepth(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerQueueDepth(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerQueueDepth(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerFLS(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerFLS(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerFLS(PCDA cda, VK_BYTE value);
VK_API VK_WORD VK_GetEditableControllerMNPDelay(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerMNPDelay(PCDA cda, VK_WORD value);
VK_API VK_BOOL VK_ChangeEditableControllerMNPDelay(PCDA cda, VK_WORD value);
VK_API VK_BYTE VK_GetEditableControllerSurvivalPowerMode(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerSurvivalPowerMode(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerSurvivalPowerMode(PCDA cda, VK_BYTE value);
VK_API VK_DWORD VK_GetEditableControllerWCBT(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerWCBT(PCDA cda, VK_DWORD value);
VK_API VK_BOOL VK_ChangeEditableControllerWCBT(PCDA cda, VK_DWORD value);
VK_API VK_BYTE VK_GetEditableControllerNotifyOnAnyBroadcast(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerNotifyOnAnyBroadcast(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerNotifyOnAnyBroadcast(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerSanitizeLock(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerSanitizeLock(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerSanitizeLock(PCDA cda, VK_BYTE value);

/* Rate percentages 0 to 100 (255: unknown), converted to and from the staged priorities and delay.
 * The Can functions answer 0 for allowed; the Change functions 0 on success, 1 otherwise. */
VK_API VK_BYTE VK_GetEditableControllerRebuildRatePercent(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerRebuildPercent(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_ChangeEditableControllerRebuildPercent(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_GetEditableControllerExpandPercent(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerExpandPercent(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_ChangeEditableControllerExpandPercent(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_GetEditableControllerSSARatePercent(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerSSAPercent(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_ChangeEditableControllerSSAPercent(PCDA cda, VK_BYTE percent);

/* Boot volumes: precedence 1 primary, 2 secondary, 3 both; volume type 0 logical drive, 1 physical
 * drive, 2 remote volume. The getter answers 0xFFFF unless the staged volume is of that type. */
VK_API VK_WORD VK_GetEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type);
VK_API VK_BYTE VK_CanClearEditableControllerBootVolume(PCDA cda, VK_BYTE precedence);
VK_API VK_BOOL VK_ClearEditableControllerBootVolume(PCDA cda, VK_BYTE precedence);
VK_API VK_BYTE VK_CanChangeEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type,
                                                        VK_WORD dev_number);
VK_API VK_BOOL VK_ChangeEditableControllerBootVolume(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type,
                                                     VK_WORD dev_number);

/* Spare activation mode: kControllerSAMTypeFailure or kControllerSAMTypePredictive. */
VK_API VK_BYTE VK_GetEditableControllerSAM(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerSAM(PCDA cda, VK_BYTE mode);
VK_API VK_BOOL VK_ChangeEditableControllerSAM(PCDA cda, VK_BYTE mode);

/* Drive write cache: the mode (1 enabled, 2 disabled) or, per drive type and usage type, the
 * policy (0 default, 1 enabled, 2 disabled, 3 unchanged). A per-drive-type controller changes only
 * the whole table (drive type kDriveWriteCacheDriveTypeAll). */
VK_API VK_BYTE VK_GetEditableControllerDriveWriteCacheMode(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerDriveWriteCacheMode(PCDA cda, VK_BYTE mode);
VK_API VK_BOOL VK_ChangeEditableControllerDriveWriteCacheMode(PCDA cda, VK_BYTE mode);
VK_API VK_BYTE VK_GetEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type);
VK_API VK_BYTE VK_CanChangeEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type,
                                                                   VK_BYTE usage_type, VK_BYTE policy);
VK_API VK_BOOL VK_ChangeEditableControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type,
                                                                VK_BYTE policy);

/* Cache settings; the getters answer 0xFF without a configuration. */
VK_API VK_BYTE VK_GetEditableControllerNBWC(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerNBWC(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerNBWC(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerWaitForCacheRoom(PCDA cda);
VK_API VK_BYTE VK_CanChangeEditableControllerWaitForCacheRoom(PCDA cda, VK_BYTE value);
VK_API VK_BOOL VK_ChangeEditableControllerWaitForCacheRoom(PCDA cda, VK_BYTE value);
VK_API VK_BYTE VK_GetEditableControllerReadCachePercent(PCDA cda);
/* Minimum and maximum read share the staged cache allows; both 101 when they cannot be known. */
VK_API VK_WORD VK_GetEditableControllerReadCachePercentLimits(PCDA cda);
/* The read-cache check without the tests of staged logical drives. */
VK_API VK_BYTE VK_CanChangeEditableControllerReadCachePercentOnEmptyConfig(PCDA cda, VK_BYTE percent);
VK_API VK_BYTE VK_CanChangeEditableControllerReadCachePercent(PCDA cda, VK_BYTE percent);
VK_API VK_BOOL VK_ChangeEditableControllerReadCachePercent(PCDA cda, VK_BYTE percent);
/* Whether some staged array is an LU cache. */
VK_API VK_BOOL VK_IsEditableControllerLUCacheEnabled(PCDA cda);

/* -- Direct controller operations and single-field parameter updates -- */

/* The controller's clock, from a time value as VK_GetControllerTime gives; all bits set means none. */
VK_API VK_BOOL VK_SetControllerTime(PCDA cda, VK_QWORD controller_time);
VK_API VK_BYTE VK_CanSetControllerI2CAddress(PCDA cda, VK_BYTE i2c_slave_address);
VK_API VK_BOOL VK_SetControllerI2CAddress(PCDA cda, VK_BYTE i2c_slave_address);
/* The record is checked before the lock is taken; an allowed change trims its I2C configuration to
 * the bits its interface defines. */
VK_API VK_DWORD VK_CanChangeControllerOOBConfiguration(PCDA cda, OOBConfiguration* oob_config);
VK_API VK_BOOL VK_DoChangeControllerOOBConfiguration(PCDA cda, OOBConfiguration* oob_config);
VK_API VK_BYTE VK_CanSetBootableVolume(PCDA cda, VK_BYTE precedence, VK_BYTE drive_type, VK_WORD drive_number);
VK_API VK_BOOL VK_DoSetBootableVolume(PCDA cda, VK_BYTE precedence, VK_BYTE drive_type, VK_WORD drive_number);
VK_API VK_BYTE VK_CanClearBootableVolume(PCDA cda, VK_BYTE precedence);
VK_API VK_BOOL VK_DoClearBootableVolume(PCDA cda, VK_BYTE precedence);
VK_API VK_BYTE VK_CanChangeControllerMode(PCDA cda, VK_BYTE intended_controller_mode);
/* Releases the lock before it re-initialises the data area. */
VK_API VK_BOOL VK_DoChangeControllerMode(PCDA cda, VK_BYTE intended_controller_mode);
VK_API VK_BYTE VK_CanChangePowerMode(PCDA cda, VK_BYTE intended_power_mode);
VK_API VK_BOOL VK_DoChangePowerMode(PCDA cda, VK_BYTE intended_power_mode);

VK_API VK_BYTE VK_CanSetControllerOSBootableDriveCount(PCDA cda, VK_BYTE count);
/* Re-initialises the data area whatever happened, a refusal included. */
VK_API VK_BOOL VK_SetControllerOSBootableDriveCount(PCDA cda, VK_BYTE count);
VK_API VK_BYTE VK_CanSetControllerExpanderMinimumScanDuration(PCDA cda, VK_WORD scan_duration);
VK_API VK_BOOL VK_SetControllerExpanderMinimumScanDuration(PCDA cda, VK_WORD scan_duration);
VK_API VK_BYTE VK_CanChangeControllerPCIeOrdering(PCDA cda, VK_BYTE pcie_ordering);
VK_API VK_BOOL VK_DoChangeControllerPCIeOrdering(PCDA cda, VK_BYTE pcie_ordering);
VK_API VK_BYTE VK_CanSetControllerMaxReadRequestSize(PCDA cda, VK_BYTE max_read_request_size);
VK_API VK_BYTE VK_SetControllerMaxReadRequestSize(PCDA cda, VK_BYTE max_read_request_size);
VK_API VK_BYTE VK_CanSetControllerPersistentEventLogPolicy(PCDA cda, VK_BYTE event_log_policy);
VK_API VK_BYTE VK_SetControllerPersistentEventLogPolicy(PCDA cda, VK_BYTE event_log_policy);
VK_API VK_BYTE VK_CanChangeControllerUEFIDriverHealthReporting(PCDA cda, VK_BYTE driver_health_report);
VK_API VK_BYTE VK_DoChangeControllerUEFIDriverHealthReporting(PCDA cda, VK_BYTE driver_health_report);

/* -- Commit -- */

/* -- Managed-SED credential rules: 0 when the credential may be sent -- */
VK_API VK_WORD VK_CheckSEDEncryptionMasterKey(PCDA cda, VK_BYTE sed_encryption_mode, const char* master_key,
                                              size_t master_key_size);
VK_API VK_BYTE VK_CheckSEDEncryptionMasterKeyIdentifier(PCDA cda, VK_BYTE sed_encryption_mode,
                                                        const char* master_key_identifier,
                                                        size_t master_key_identifier_size);
VK_API VK_WORD VK_CheckSEDEncryptionAdapterPassword(PCDA cda, const char* password, size_t password_size);
VK_API VK_BYTE VK_CheckSEDEncryptionPhysicalDrivePSID(const char* psid, size_t psid_size);
/* -- Immediate operations on live arrays -- */

/* Spares of a live array: results of the three actions. */
#define kAddArraySpareDriveOK 1
#define kAddArraySpareDriveFailedNoChanges 2
#define kAddArraySpareDriveFailedWithChanges 3
#define kRemoveArraySpareDriveOK 1
#define kRemoveArraySpareDriveFailedNoChanges 2
#define kRemoveArraySpareDriveFailedWithChanges 3
#define kChangeArraySpareTypeOK 1
#define kChangeArraySpareTypeFailedNoChanges 2
#define kChangeArraySpareTypeFailedWithChanges 3

#define kCanAddArraySpareDriveAllowed 1
#define kCanAddArraySpareDriveArrayDoesNotExist 2
#define kCanAddArraySpareDriveDriveIsNotUnassigned 3
#define kCanAddArraySpareDriveCannotMixDriveTypes 4
#define kCanAddArraySpareDriveIncompatibleBlockSize 5
#define kCanAddArraySpareDriveTooSmall 6
#define kCanAddArraySpareDriveMaxPhysicalDriveCountReached 7
#define kCanAddArraySpareDriveMaxSpareDriveCountReached 8
#define kCanAddArraySpareDriveNoSpareTypeSet 9
#define kCanAddArraySpareDriveInvalidSpareType 10
#define kCanAddArraySpareDriveInvalidSAM 11
#define kCanAddArraySpareDriveInvalidSpareTypeForRAID0 12
#define kCanAddArraySpareDriveCannotChangeSpareType 13
#define kCanAddArraySpareDriveArrayStatusNotOK 14
#define kCanAddArraySpareDriveDriveIsNotUnassignedOrShareableStandby 15
#define kCanAddArraySpareDriveDriveAlreadyUsedAsSpare 16
#define kCanAddArraySpareDriveAutoReplaceSpareNotSupported 17
#define kCanAddArraySpareDriveNotDataArray 18
#define kCanAddArraySpareDriveIncompatibleConnectors 19
#define kCanAddArraySpareDriveIsPredictiveFailure 20
#define kCanAddArraySpareDriveDriveIsNotConfigurable 21
#define kCanAddArraySpareDriveControllerOFAActive 22
#define kCanAddArraySpareDriveIncompatibleSEDType 23
#define kCanAddArraySpareDriveInvalidSEDStatus 24
#define kCanAddArraySpareDriveDriveInvalidSEDEncryptionState 25
#define kCanAddArraySpareDriveWaitingOnSEDAdapterPassword 26

#define kCanRemoveArraySpareDriveAllowed 1
#define kCanRemoveArraySpareDriveNotFound 2
#define kCanRemoveArraySpareDriveArrayArrayStatusNotOK 3
#define kCanRemoveArraySpareDriveNotDataArray 4
#define kCanRemoveArraySpareDriveControllerOFAActive 5
#define kCanRemoveArraySpareDriveWaitingOnSEDAdapterPassword 6

/* The spare-type check answers 0 for allowed. */
#define kCanChangeArraySpareTypeAllowed 0
#define kCanChangeArraySpareTypeNoSparesFound 1
#define kCanChangeArraySpareTypeSelectedTypeAlreadySet 2
#define kCanChangeArraySpareTypeInvalid 3
#define kCanChangeArraySpareTypeNotSupported 4
#define kCanChangeArraySpareTypeSpareIsShared 5
#define kCanChangeArraySpareTypeInvalidForRAID0 6
#define kCanChangeArraySpareTypeControllerOFAActive 7
#define kCanChangeArraySpareTypeArrayStatusNotOK 8

/* Closing the gaps of an array. */
#define kCloseArrayGapsFailedNoChanges 0x00
#define kCloseArrayGapsFailedWithChanges 0x01
#define kCloseArrayGapsSuccessButIncomplete 0x02
#define kCloseArrayGapsSuccess 0x03

#define kCanCloseArrayGapsAllowed 1
#define kCanCloseArrayGapsInvalidArray 2
#define kCanCloseArrayGapsArrayDoesNotHaveGaps 3
#define kCanCloseArrayGapsNotDataArray 4
#define kCanCloseArrayGapsArrayHasTransformingLogicalDrive 5
#define kCanCloseArrayGapsArrayStatusNotOK 6
#define kCanCloseArrayGapsControllerStatusNotOK 7
#define kCanCloseArrayGapsControllerCacheStatusNotOK 8
#define kCanCloseArrayGapsExceedsTransformationMemory 9
#define kCanCloseArrayGapsNotSupported 10
#define kCanCloseArrayGapsLUCachingEnabled 11
#define kCanCloseArrayGapsDataPreservationNotAvailable 12
#define kCanCloseArrayGapsControllerOFAActive 13
#define kCanCloseArrayGapsWaitingOnSEDAdapterPassword 14

/* Clearing one drive's configuration metadata. */
#define kCanClearPhysicalDriveCCMAllowed 0x01
#define kCanClearPhysicalDriveCCMInvalidTarget 0x02
#define kCanClearPhysicalDriveCCMNotSupported 0x03
#define kCanClearPhysicalDriveCCMControllerLocked 0x04
#define kCanClearPhysicalDriveCCMNoCCM 0x05
#define kCanClearPhysicalDriveCCMControllerOFAActive 0x06
#define kCanClearPhysicalDriveCCMSEDIsOtherwiseOwned 0x07

/* Each function holds the data area's lock; an action that changed something re-initialises it. */
VK_API VK_BYTE VK_CanAddArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number);
VK_API VK_BYTE VK_AddArraySpareDrive(PCDA cda, VK_WORD array_number, VK_BYTE requested_spare_type, VK_WORD pd_number);
VK_API VK_BYTE VK_CanRemoveArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_BYTE VK_RemoveArraySpareDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_BYTE VK_CanChangeArraySpareType(PCDA cda, VK_WORD array_number, VK_BYTE spare_type);
/* Marks the array model and the spares stale rather than re-initialising the data area. */
VK_API VK_BYTE VK_ChangeArraySpareType(PCDA cda, VK_WORD array_number, VK_BYTE spare_type);
VK_API VK_BYTE VK_CanCloseArrayGaps(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_CloseArrayGaps(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_CanClearPhysicalDriveCCM(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_ClearPhysicalDriveCCM(PCDA cda, VK_WORD pd_number);

/* ---- Managed SED ---- */

/* VK_GetControllerSEDEncryptionInfoForUpdate. */
#define kGetControllerSEDEncryptionInfoForUpdateSuccess 0
#define kGetControllerSEDEncryptionInfoForUpdateNotSupported 1
#define kGetControllerSEDEncryptionInfoForUpdateOutOfMemory 2
#define kGetControllerSEDEncryptionInfoForUpdateInvalidArgument 3
#define kGetControllerSEDEncryptionInfoForUpdateCBEEncryptionIsEnabled 4
#define kGetControllerSEDEncryptionInfoForUpdateNotAllowed 5

/* Managed-SED update record Can functions answer 0 for allowed. */
#define kCanChangeControllerSEDEncryptionModeAllowed 0
#define kCanChangeControllerSEDEncryptionModeInvalidArgument 1
#define kCanChangeControllerSEDEncryptionModeAlreadySet 2
#define kCanChangeControllerSEDEncryptionModeWaitingOnAdapterPassword 3
#define kCanChangeControllerSEDEncryptionModeHasSEDEnabledLD 4
#define kDoChangeControllerSEDEncryptionModeSuccess 1
#define kDoChangeControllerSEDEncryptionModeFailure 2

#define kCanChangeControllerSEDEncryptionMasterKeyAllowed 0
#define kCanChangeControllerSEDEncryptionMasterKeyNullUpdateInfoBuffer 1
#define kCanChangeControllerSEDEncryptionMasterKeyPendingEncryptionModeNone 2
#define kCanChangeControllerSEDEncryptionMasterKeyNullKey 3
#define kCanChangeControllerSEDEncryptionMasterKeyKeySizeZero 4
#define kCanChangeControllerSEDEncryptionMasterKeyInvalidKey 5
#define kCanChangeControllerSEDEncryptionMasterKeyPendingAdapterPassword 6
#define kCanChangeControllerSEDEncryptionMasterKeyWaitingOnAdapterPassword 7
#define kDoChangeControllerSEDEncryptionMasterKeySuccess 1
#define kDoChangeControllerSEDEncryptionMasterKeyFailure 2

#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierAllowed 0
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierNullUpdateInfoBuffer 1
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierEncryptionModeNone 2
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierNullIdentifier 3
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierIdentifierSizeZero 4
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierInvalidIdentifier 5
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierSameAsPending 6
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierAdapterPassword 7
#define kCanChangeControllerSEDEncryptionMasterKeyIdentifierWaitingOnAdapterPassword 8
#define kDoChangeControllerSEDEncryptionMasterKeyIdentifierSuccess 1
#define kDoChangeControllerSEDEncryptionMasterKeyIdentifierFailure 2

#define kCanChangeSEDEncryptionAdapterPasswordOk 0
#define kCanChangeSEDEncryptionAdapterPasswordInvalidInput 1
#define kCanChangeSEDEncryptionAdapterPasswordModeNone 2
#define kCanChangeSEDEncryptionAdapterPasswordMasterKeyChangePending 3
#define kCanChangeSEDEncryptionAdapterPasswordAlreadyPending 4
#define kCanChangeSEDEncryptionAdapterPasswordInvalidPassword 5
#define kCanChangeSEDEncryptionAdapterPasswordPendingStateIsDisabled 6
#define kDoChangeSEDEncryptionAdapterPasswordSuccess 0
#define kDoChangeSEDEncryptionAdapterPasswordFailure 1

#define kCanChangeSEDEncryptionAdapterPasswordStateOk 0
#define kCanChangeSEDEncryptionAdapterPasswordStateInvalidInput 1
#define kCanChangeSEDEncryptionAdapterPasswordStateModeNone 2
#define kCanChangeSEDEncryptionAdapterPasswordStateSameAsPending 3
#define kDoChangeSEDEncryptionAdapterPasswordStateSuccess 0
#define kDoChangeSEDEncryptionAdapterPasswordStateFailure 1

#define kControllerSEDEncryptionAdapterPasswordDisabled 0
/* kControllerSEDEncryptionAdapterPasswordEnabled (1) is the status word's value (ptelm_encryption.h). */

/* VK_UpdateControllerSEDEncryptionInfo. */
#define kUpdateControllerSEDEncryptionInfoSuccess 0
#define kUpdateControllerSEDEncryptionInfoInvalidArgument 1
#define kUpdateControllerSEDEncryptionInfoNoChanges 2
#define kUpdateControllerSEDEncryptionInfoFailed 3
#define kUpdateControllerSEDEncryptionInfoNotAllowed 4
#define kUpdateControllerSEDEncryptionInfoMasterKeyNotSetup 5
#define kUpdateControllerSEDEncryptionNoMasterKey 6
#define kUpdateControllerSEDEncryptionInvalidMasterKey 7
#define kUpdateControllerSEDEncryptionAdapterPasswordStateEnabledPasswordEmpty 8

#define kMinDefaultMasterKeyIdentifierBufferSize 33

/* Unlock with the adapter password: 1 allowed. */
#define kCanUnlockControllerWithSEDEncryptionAllowed 1
#define kCanUnlockControllerWithSEDEncryptionSEDEncryptionNotSupported 2
#define kCanUnlockControllerWithSEDEncryptionSEDEncryptionNotEnabled 3
#define kCanUnlockControllerWithSEDEncryptionSEDEncryptionAdapterPasswordNotEnabled 4
#define kCanUnlockControllerWithSEDEncryptionSEDEncryptionNoUnlockAttemptsRemaining 5
#define kCanUnlockControllerWithSEDEncryptionSEDEncryptionInvalidAdapterPassword 6
#define kCanUnlockControllerWithSEDEncryptionNotLocked 7
#define kDoUnlockControllerWithSEDEncryptionFailed 0
#define kDoUnlockControllerWithSEDEncryptionOK 1

VK_API VK_BYTE VK_GetControllerSEDEncryptionInfoForUpdate(PCDA cda, void** sed_encryption_update_info);
VK_API void VK_DestroyControllerSEDEncryptionInfoForUpdate(void* sed_encryption_update_info);
VK_API VK_BYTE VK_CanChangeControllerSEDEncryptionMode(void* sed_encryption_update_info, VK_BYTE sed_encryption_mode);
VK_API VK_BYTE VK_DoChangeControllerSEDEncryptionMode(void* sed_encryption_update_info, VK_BYTE sed_encryption_mode);
VK_API VK_BYTE VK_CanChangeControllerSEDEncryptionMasterKey(void* sed_encryption_update_info, const char* master_key,
                                                            size_t master_key_size);
VK_API VK_BYTE VK_DoChangeControllerSEDEncryptionMasterKey(void* sed_encryption_update_info, const char* master_key,
                                                           size_t master_key_size);
VK_API VK_BYTE VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(void* sed_encryption_update_info,
                                                                      const char* master_key_identifier,
                                                                      size_t master_key_identifier_size);
VK_API VK_BYTE VK_DoChangeControllerSEDEncryptionMasterKeyIdentifier(void* sed_encryption_update_info,
                                                                     const char* master_key_identifier,
                                                                     size_t master_key_identifier_size);
VK_API VK_BYTE VK_CanChangeControllerSEDEncryptionAdapterPassword(void* sed_encryption_update_info,
                                                                  const char* password, size_t password_size);
VK_API VK_BYTE VK_DoChangeControllerSEDEncryptionAdapterPassword(void* sed_encryption_update_info,
                                                                 const char* password, size_t password_size);
VK_API VK_BYTE VK_CanChangeControllerSEDEncryptionAdapterPasswordState(void* sed_encryption_update_info,
                                                                       VK_BYTE adapter_password_state);
VK_API VK_BYTE VK_DoChangeControllerSEDEncryptionAdapterPasswordState(void* sed_encryption_update_info,
                                                                      VK_BYTE adapter_password_state);
VK_API VK_BYTE VK_UpdateControllerSEDEncryptionInfo(void* sed_encryption_update_info, const char* existing_master_key,
                                                    size_t existing_master_key_size);
VK_API char* VK_GetSEDEncryptionDefaultMasterKeyIdentifier(PCDA cda, char* master_key_id, size_t master_key_id_size);
VK_API VK_BYTE VK_CanUnlockControllerWithSEDEncryption(PCDA cda, const char* adapter_password,
                                                       size_t adapter_password_size);
VK_API VK_BYTE VK_DoUnlockControllerWithSEDEncryption(PCDA cda, const char* adapter_password,
                                                      size_t adapter_password_size);
VK_API VK_BOOL _VK_DisableControllerSEDEncryption(PCDA cda);
VK_API VK_BOOL _VK_ControllerHasOwnedSED(PCDA cda);
VK_API VK_BOOL _VK_ControllerHasSEDEnabledLD(PCDA cda);

/* ---- Split-mirror backups ---- */

/* The split-mirror checks answer 0 for allowed. */
#define kCanCreateArraySplitMirrorBackupAllowed 0x00
#define kCanCreateArraySplitMirrorBackupArrayNotOK 0x01
#define kCanCreateArraySplitMirrorBackupNotSupported 0x02
#define kCanCreateArraySplitMirrorBackupUnsupportedRAID 0x04
#define kCanCreateArraySplitMirrorBackupMaxNumberOfLogicalDrives 0x05
#define kCanCreateArraySplitMirrorBackupVolatileKeys 0x06
#define kCanCreateArraySplitMirrorBackupNWAYMirroringNotSupported 0x07
#define kCanCreateArraySplitMirrorBackupNotDataArray 0x08
#define kCanCreateArraySplitMirrorBackupControllerLocked 0x09
#define kCanCreateArraySplitMirrorBackupControllerOFAActive 0x0A
#define kCanCreateArraySplitMirrorBackupHasLUCache 0x0B
#define kCanCreateArraySplitMirrorBackupLUCacheEnabled 0x0C
#define kCanCreateArraySplitMirrorBackupWaitingOnSEDAdapterPassword 0x0D

#define kCanActivateArraySplitMirrorBackupAllowed 0x00
#define kCanActivateArraySplitMirrorBackupControllerNotOK 0x01
#define kCanActivateArraySplitMirrorBackupNotSupported 0x02
#define kCanActivateArraySplitMirrorBackupArrayNotOK 0x03
#define kCanActivateArraySplitMirrorBackupNotBackupArrayOrOrphan 0x04
#define kCanActivateArraySplitMirrorBackupControllerOFAActive 0x05
#define kCanActivateArraySplitMirrorBackupLUCacheEnabled 0x06

#define kCanJoinArraySplitMirrorAllowed 0x00
#define kCanJoinArraySplitMirrorArrayNotOK 0x01
#define kCanJoinArraySplitMirrorNotSupported 0x02
#define kCanJoinArraySplitMirrorUnsupportedRAID 0x03
#define kCanJoinArraySplitMirrorArrayIsCaching 0x04
#define kCanJoinArraySplitMirrorArrayIsInvalidType 0x05
#define kCanJoinArraySplitMirrorArrayHasInvalidRAIDLevel 0x06
#define kCanJoinArraySplitMirrorNoMatchingArray 0x07
#define kCanJoinArraySplitMirrorNoMatchingVolume 0x08
#define kCanJoinArraySplitMirrorControllerStatusNotOK 0x09
#define kCanJoinArraySplitMirrorControllerOFAActive 0x0A
#define kCanJoinArraySplitMirrorLUCacheEnabled 0x0B
#define kCanJoinArraySplitMirrorSEDWaitingOnAdapterPassword 0x0C
#define kCanJoinArraySplitMirrorSEDIncompatibleSEDArrayStatus 0x0D

/* Join actions. */
#define kJoinArraySplitMirrorRollback 0xF0
#define kJoinArraySplitMirrorRemirror 0xF1

VK_API VK_BYTE VK_CanCreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number);
/* The backup array's number, 0xFFFF on failure or refusal. */
VK_API VK_WORD VK_CreateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_CanActivateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number);
VK_API VK_BOOL VK_ActivateArraySplitMirrorBackup(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_CanJoinArraySplitMirror(PCDA cda, VK_WORD array_number);
VK_API VK_BOOL VK_JoinArraySplitMirror(PCDA cda, VK_WORD array_number, VK_WORD action);

/* ---- Healing an array ---- */

#define kCanHealArrayAllowed 1
#define kCanHealArrayNoFailedDrives 2
#define kCanHealArrayExceedsTransformationMemory 3
#define kCanHealArrayNotSupported 4
#define kCanHealArrayIsTransforming 5
#define kCanHealArrayRAIDLevelNotSupported 6
#define kCanHealArrayDriveNotUnassigned 7
#define kCanHealArrayDriveNotConfigurable 8
#define kCanHealArrayDriveTooSmall 9
#define kCanHealArrayDriveBlockSizeMismatch 10
#define kCanHealArrayDriveTypeMismatch 11
#define kCanHealArrayDriveInvalid 12
#define kCanHealArrayNotEnoughReplacementDrives 13
#define kCanHealArrayTooManyReplacementDrives 14
#define kCanHealArrayInvalidArray 15
#define kCanHealArrayControllerStatusNotOK 16
#define kCanHealArrayControllerCacheStatusNotOK 17
#define kCanHealArrayDuplicateDrivesInList 18
#define kCanHealArrayLUCachingEnabled 19
#define kCanHealArrayDriveIncompatibleConnectors 20
#define kCanHealArrayCannotTransformUnknownReason 21
#define kCanHealArrayDataPreservationNotAvailable 22
#define kCanHealArrayLoginNeeded 23
#define kCanHealArrayControllerOFAActive 24
#define kCanHealArraySplitMirrorBackup 25
#define kCanHealArrayNoLogicalDriveFound 26
#define kCanHealArrayWaitingOnSEDAdapterPassword 27
#define kCanHealArrayMixedSEDTypes 28

#define kHealArrayFailedNoChanges 0x00
#define kHealArrayFailedWithChanges 0x01
#define kHealArraySuccess 0x02
#define kHealArrayInvalidUser 0x03
#define kHealArrayPermissionDenied 0x04
#define kHealArrayLoginFailed 0x05

VK_API VK_BYTE VK_CanHealArrayWithPhysicalDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_BYTE VK_CanHealArray(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size);
VK_API VK_BYTE VK_HealArray(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size);
VK_API VK_BYTE VK_HealArrayWithLoginSafe(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size,
                                         VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_HealArrayWithLogin(PCDA cda, VK_WORD array_number, VK_WORD* pd_list, size_t pd_list_size,
                                     VK_BYTE user, const char* password);

PN_EXTERN_C_END

#endif
