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

PN_EXTERN_C_END

#endif
