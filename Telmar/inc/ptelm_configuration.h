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

/* -- Commit -- */

PN_EXTERN_C_END

#endif
