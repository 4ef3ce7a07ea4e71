/* Encryption status words: the controller's controller-based encryption, and the encryption state of
 * logical and physical drives; the credential rules; the direct encryption operations on the
 * controller and on logical drives. */
#ifndef PTELM_ENCRYPTION_H
#define PTELM_ENCRYPTION_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* Controller encryption status word (64 bits). */
#define kControllerEncryptionEnabled 0x1ULL
#define kControllerEncryptionLocalMode 0x2ULL
#define kControllerEncryptionCryptoOfficerRecoverySet 0x4ULL
#define kControllerEncryptionCryptoOfficerPasswordSet 0x8ULL
#define kControllerEncryptionExpressModeOn 0x10ULL
#define kControllerEncryptionControllerLocked 0x20ULL
#define kControllerEncryptionKeyCacheEnabled 0x40ULL
#define kControllerEncryptionUserPasswordSet 0x80ULL
#define kControllerEncryptionFwLocked 0x100ULL
#define kControllerEncryptionKekSet 0x200ULL
#define kControllerEncryptionMissingBootPassword 0x400ULL
#define kControllerEncryptionMixedVolumesEnabled 0x800ULL
#define kControllerEncryptionBootPasswordSet 0x1000ULL
#define kControllerEncryptionBootPasswordSuspended 0x2000ULL
#define kControllerEncryptionRemoteKekSet 0x4000ULL
#define kControllerEncryptionSkipBootPassword 0x8000ULL
#define kControllerEncryptionMasterKeyResetInProgress 0x10000ULL
#define kControllerEncryptionSelfTestFailed 0x20000ULL
#define kControllerEncryptionCSPNVRAMDetectFailed 0x40000ULL
#define kControllerEncryptionRTCSRAMDetectFailed 0x80000ULL
#define kControllerEncryptionRTFCSPNVRAMCorrupt 0x100000ULL
#define kControllerEncryptionKeyRetrievalNotNeeded 0x200000ULL
#define kControllerEncryptionKeyRetrievalNeeded 0x400000ULL
#define kControllerEncryptionKeyRetrievalRequested 0x800000ULL
#define kControllerEncryptionKeyRetrievalValid 0x1000000ULL
#define kControllerEncryptionKeyConnectionNotConfigured 0x2000000ULL
#define kControllerEncryptionKeyConnectionConfiguredForRedundancy 0x4000000ULL
#define kControllerEncryptionKeyConnectionIsRedundant 0x8000000ULL
#define kControllerEncryptionKeyConnectionNotRedundant 0x10000000ULL
#define kControllerEncryptionKeyConnectionNoConnection 0x20000000ULL
#define kControllerEncryptionBootNotComplete 0x40000000ULL
#define kControllerEncryptionBootComplete 0x80000000ULL
#define kControllerEncryptionBootStatusRemoteKeyRetrievalFailed 0x100000000ULL
#define kControllerEncryptionBootStatusMissingRemoteMasterKey 0x200000000ULL
#define kControllerEncryptionBootStatusMissingRemoteDriveKeys 0x400000000ULL
#define kControllerEncryptionBootStatusFailedToDecryptVolumeKey 0x800000000ULL
#define kControllerEncryptionBootStatusNeedKeyImport 0x1000000000ULL
#define kControllerEncryptionIKEKStatusMask 0x00000FF000000000ULL
#define kControllerEncryptionIKEKStatusShift 36
#define kControllerEncryptionIKEKResetStatusMask 0x000FF00000000000ULL
#define kControllerEncryptionIKEKResetStatusShift 44
#define kControllerEncryptionIKEKControllerKeyStatusMask 0x0FF0000000000000ULL
#define kControllerEncryptionIKEKControllerKeyStatusShift 52

/* Encryption modes and roles. */
#define kControllerEncryptionNone 0
#define kControllerEncryptionExpressLocal 1
#define kControllerEncryptionLocal 2
#define kControllerEncryptionRemote 3
#define kControllerEncryptionInvalid 0xFF
#define kControllerEncryptionCryptoOfficer 0
#define kControllerEncryptionCryptoUser 1

#define CTRL_ENCRYPTION_IS_CONFIGURED(info) (((info)&kControllerEncryptionCryptoOfficerPasswordSet) != 0)
#define CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(info) (((info)&kControllerEncryptionExpressModeOn) != 0)
#define CTRL_ENCRYPTION_IS_LOCAL(info)                                                                         \
    (!CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(info) && ((info)&kControllerEncryptionLocalMode) != 0)
#define CTRL_ENCRYPTION_IS_REMOTE(info)                                                                        \
    (!CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(info) && !CTRL_ENCRYPTION_IS_LOCAL(info) && CTRL_ENCRYPTION_IS_CONFIGURED(info))
#define CTRL_ENCRYPTION_MODE(info)                                                                             \
    (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(info)                                                                    \
         ? kControllerEncryptionExpressLocal                                                                   \
         : (CTRL_ENCRYPTION_IS_LOCAL(info)                                                                     \
                ? kControllerEncryptionLocal                                                                   \
                : (CTRL_ENCRYPTION_IS_REMOTE(info) ? kControllerEncryptionRemote : kControllerEncryptionNone)))
#define CTRL_ENCRYPTION_IKEK_STATUS(info)                                                                      \
    ((VK_BYTE)(((info)&kControllerEncryptionIKEKStatusMask) >> kControllerEncryptionIKEKStatusShift))
#define CTRL_ENCRYPTION_IKEK_RESET_STATUS(info)                                                                \
    ((VK_BYTE)(((info)&kControllerEncryptionIKEKResetStatusMask) >> kControllerEncryptionIKEKResetStatusShift))
#define CTRL_ENCRYPTION_IKEK_CTRL_KEY_STATUS(info)                                                             \
    ((VK_BYTE)(((info)&kControllerEncryptionIKEKControllerKeyStatusMask) >>                                   \
               kControllerEncryptionIKEKControllerKeyStatusShift))

/* Logical-drive encryption word (32 bits). */
#define kLogicalDriveEncryptionStatusMask 0x000000FF
#define kLogicalDriveEncryptionEnabled 0x01
#define kLogicalDriveEncryptionKeyWait 0x02
#define kLogicalDriveEncryptionReKeyWait 0x04
#define kLogicalDriveEncryptionReKeyRunning 0x08
#define kLogicalDriveEncryptionEncodeWait 0x10
#define kLogicalDriveEncryptionEncodeRunning 0x20
#define kLogicalDriveEncryptionVolatileKeyMask 0x00000300
#define kLogicalDriveEncryptionVolatileKeyBackupMask 0x00000C00
#define kLogicalDriveEncryptionVolatileKeyShift 8
#define kLogicalDriveEncryptionVolatileKeyEnabled 0x01
#define kLogicalDriveEncryptionVolatileKeyDisabled 0x02
#define kLogicalDriveEncryptionVolatileKeyBackupEnabled 0x04
#define kLogicalDriveEncryptionVolatileKeyBackupDisabled 0x08
#define kLogicalDriveEncryptionVolatileKeyStatusMask 0x0000F000
#define kLogicalDriveEncryptionVolatileKeyStatusShift 12
#define kLogicalDriveEncryptionVolatileKeyStatusNoOp 1
#define kLogicalDriveEncryptionVolatileKeyStatusBackupInProgress 2
#define kLogicalDriveEncryptionVolatileKeyStatusBackupAndSetInProgress 3
#define kLogicalDriveEncryptionVolatileKeyStatusRestoreInProgress 4
#define kLogicalDriveEncryptionVolatileKeyStatusDeleteInProgress 5
#define kLogicalDriveSEDEncryptionStatusMask 0x00FF0000
#define kLogicalDriveSEDEncryptionStatusShift 16
#define kLogicalDriveEncryptionSEDEnabled 0x01
#define kLogicalDriveEncryptionSEDRekeyUnlockInProgress 0x02
#define kLogicalDriveEncryptionSEDForeign 0x04

#define LOGICAL_DRIVE_ENCRYPTION_STATUS(info) ((VK_BYTE)((info)&kLogicalDriveEncryptionStatusMask))
#define LOGICAL_DRIVE_SED_ENCRYPTION_STATUS(info)                                                              \
    ((VK_BYTE)(((info)&kLogicalDriveSEDEncryptionStatusMask) >> kLogicalDriveSEDEncryptionStatusShift))
#define VOLATILE_KEY_ENABLED(info)                                                                             \
    ((((info)&kLogicalDriveEncryptionVolatileKeyMask) >> kLogicalDriveEncryptionVolatileKeyShift) ==           \
     kLogicalDriveEncryptionVolatileKeyEnabled)
#define VOLATILE_KEY_BACKUP_ENABLED(info)                                                                      \
    ((((info)&kLogicalDriveEncryptionVolatileKeyBackupMask) >> kLogicalDriveEncryptionVolatileKeyShift) ==     \
     kLogicalDriveEncryptionVolatileKeyBackupEnabled)
#define VOLATILE_KEY_STATUS(info)                                                                              \
    ((VK_BYTE)(((info)&kLogicalDriveEncryptionVolatileKeyStatusMask) >> kLogicalDriveEncryptionVolatileKeyStatusShift))

/* Physical-drive encryption word (64 bits). */
#define kPhysicalDriveEncryptionSEDDrive 0x1ULL
#define kPhysicalDriveEncryptionContainsEncryptedLogicalDrives 0x2ULL
#define kPhysicalDriveEncryptionSEDQualificationInProgress 0x4ULL
#define kPhysicalDriveEncryptionSEDQualificationFailedLockingEnabled 0x8ULL
#define kPhysicalDriveEncryptionSEDQualificationFailedRangeLengthSet 0x10ULL
#define kPhysicalDriveEncryptionSEDIsInOFS 0x20ULL
#define kPhysicalDriveEncryptionSEDIsOtherwiseOwned 0x40ULL
#define kPhysicalDriveEncryptionSEDIsForeign 0x80ULL
#define kPhysicalDriveEncryptionSEDIsOPALSED 0x100ULL
#define kPhysicalDriveEncryptionSEDIsEnterpriseSED 0x200ULL
#define kPhysicalDriveEncryptionSEDIsIncompatibleSED 0x400ULL
#define kPhysicalDriveEncryptionSEDIsSEDOPSInProgress 0x800ULL
#define kPhysicalDriveEncryptionSEDIsLockedOut 0x1000ULL
#define kPhysicalDriveEncryptionSEDDataLocked 0x2000ULL
#define kPhysicalDriveEncryptionSEDSecurityStatusMask 0xF00000ULL
#define kPhysicalDriveEncryptionSEDSecurityStatusShift 20
#define kPhysicalDriveEncryptionSEDSecurityStatusNotEnabled 0x00
#define kPhysicalDriveEncryptionSEDSecurityStatusUnknown 0x00
#define kPhysicalDriveEncryptionSEDSecurityStatusOwnedAndUnlocked 0x01
#define kPhysicalDriveEncryptionSEDSecurityStatusOwnedAndLocked 0x02
#define kPhysicalDriveEncryptionSEDSecurityStatusLocked 0x04
#define kPhysicalDriveEncryptionSEDSecurityStatusOwned 0x08
#define PHYSICAL_DRIVE_SED_SECURITY_STATUS(info)                                                               \
    ((VK_BYTE)(((info)&kPhysicalDriveEncryptionSEDSecurityStatusMask) >> kPhysicalDriveEncryptionSEDSecurityStatusShift))

/* ---- Key cache, passwords, roles, key manager and managed SED --------------------------------- */

/* Key-cache status word (64 bits). */
#define kControllerEncryptionKeyCacheStatusRetryAttemptsMask 0x000000000000FFFFULL
#define kControllerEncryptionKeyCacheStatusRetryAttemptsShift 0
#define kControllerEncryptionKeyCacheStatusRetryIntervalMask 0x00000000FFFF0000ULL
#define kControllerEncryptionKeyCacheStatusRetryIntervalShift 16
#define kControllerEncryptionPersistentKeyCacheEnabledMask 0x4000000000000000ULL
#define kControllerEncryptionPersistentKeyCacheEnabledShift 62
#define kControllerEncryptionKeyCacheStatusEnabledMask 0x8000000000000000ULL
#define kControllerEncryptionKeyCacheStatusEnabledShift 63
#define ENCRYPTION_KEY_CACHE_ATTEMPTS(info)                                                                    \
    ((VK_WORD)(((info)&kControllerEncryptionKeyCacheStatusRetryAttemptsMask) >>                               \
               kControllerEncryptionKeyCacheStatusRetryAttemptsShift))
#define ENCRYPTION_KEY_CACHE_INTERVAL(info)                                                                    \
    ((VK_WORD)(((info)&kControllerEncryptionKeyCacheStatusRetryIntervalMask) >>                               \
               kControllerEncryptionKeyCacheStatusRetryIntervalShift))
#define ENCRYPTION_KEY_CACHE_ENABLED(info)                                                                     \
    (((info)&kControllerEncryptionKeyCacheStatusEnabledMask) ? kTrue : kFalse)
#define ENCRYPTION_PERSISTENT_KEY_CACHE_ENABLED(info)                                                          \
    (((info)&kControllerEncryptionPersistentKeyCacheEnabledMask) ? kTrue : kFalse)

/* IKEK status byte values. */
#define kControllerEncryptionIKEKStatusNotApplicable 0
#define kControllerEncryptionIKEKStatusNeededButNotRequested 1
#define kControllerEncryptionIKEKStatusRequested 2
#define kControllerEncryptionIKEKStatusObtained 3
#define kControllerEncryptionIKEKStatusNotFound 4
#define kControllerEncryptionIKEKStatusConnectionError 5
#define kControllerEncryptionIKEKStatusKeyMismatch 6
#define kControllerEncryptionIKEKStatusKeyNeedsVerify 7
#define kControllerEncryptionIKEKStatusKeyVerifyInProgress 8
#define kControllerEncryptionIKEKStatusKeyVerifyFailed 9
#define kControllerEncryptionIKEKStatusKeyNeedsCheckReplication 10
#define kControllerEncryptionIKEKStatusCheckReplication 11
#define kControllerEncryptionIKEKStatusKeyFailedReplication 12
#define kControllerEncryptionIKEKStatusBeingImported 13
#define kControllerEncryptionIKEKStatusUnknown 0xFF

/* Password status of a role (64 bits). */
#define kVerifyPasswordAttemptsRemainingMask 0x00000000FFFFFFFFULL
#define kVerifyPasswordAttemptsRemainingBitShift 0
#define kVerifyPasswordLockoutSecondsRemainingMask 0xFFFFFFFF00000000ULL
#define kVerifyPasswordLockoutSecondsRemainingBitShift 32
#define VERIFY_PASSWORD_ATTEMPTS_REMAINING(info)                                                               \
    ((VK_DWORD)(((info)&kVerifyPasswordAttemptsRemainingMask) >> kVerifyPasswordAttemptsRemainingBitShift))
#define VERIFY_PASSWORD_LOCKOUT_SECONDS_REMAINING(info)                                                        \
    ((VK_DWORD)(((info)&kVerifyPasswordLockoutSecondsRemainingMask) >> kVerifyPasswordLockoutSecondsRemainingBitShift))

/* Key-manager action of VK_GetControllerEncryptionKMSAction. */
#define kGetControllerEncryptionKMSActionNone 0
#define kGetControllerEncryptionKMSActionWaitingOnMasterKeyCreation 1
#define kGetControllerEncryptionKMSActionWaitingOnMasterKeyPost 2
#define kGetControllerEncryptionKMSActionWaitingOnMasterKeyRekey 3
#define kGetControllerEncryptionKMSActionWaitingOnForeignKeyPost 4

/* Capabilities of a role (VK_GetEncryptionUserCapabilities). */
#define kEncryptionUserCapabilitySetTime 0x1
#define kEncryptionUserCapabilitySetMasterKey 0x2
#define kEncryptionUserCapabilitySetServerName 0x4
#define kEncryptionUserCapabilitySetPassword 0x8
#define kEncryptionUserCapabilitySetControlEncryption 0x10
#define kEncryptionUserCapabilitySetKekCache 0x20
#define kEncryptionUserCapabilityRekey 0x40
#define kEncryptionUserCapabilitySetControllerFWLock 0x80
#define kEncryptionUserCapabilitySetControlReturnToFactory 0x100
#define kEncryptionUserCapabilitySetControlLocalKeyParams 0x200
#define kEncryptionUserCapabilityVerifyPassword 0x400
#define kEncryptionUserCapabilitySetRecoveryParams 0x800
#define kEncryptionUserCapabilityCheckRecoveryAnswer 0x1000
#define kEncryptionUserCapabilitySetBootPassword 0x2000
#define kEncryptionUserCapabilitySuspendResumeBootPassword 0x4000
#define kEncryptionUserCapabilityForeignLocalKekImport 0x8000
#define kEncryptionUserCapabilityRemoveBootPassword 0x10000
#define kEncryptionUserCapabilityGetPasswordStatus 0x20000
#define kEncryptionUserCapabilityDelegateServices 0x40000
#define kEncryptionUserCapabilityChangeCryptoPassword 0x80000
#define kEncryptionUserCapabilityChangeUserPassword 0x100000
#define kEncryptionUserCapabilityRestoreDefaultPermissions 0x200000
#define kEncryptionUserCapabilitySetLocalMasterKey 0x400000
#define kEncryptionUserCapabilitySetDEKStorage 0x800000

/* Managed-SED status word (64 bits). */
#define kControllerSEDEncryptionModeMask 0x000000000000000FULL
#define kControllerSEDEncryptionModeShift 0
#define kControllerSEDEncryptionModeNone 1
#define kControllerSEDEncryptionModeLocal 2
#define kControllerSEDEncryptionModeRemote 3
#define kControllerSEDEncryptionPasswordEnabledMask 0x0000000000000010ULL
#define kControllerSEDEncryptionPasswordEnabledShift 4
#define kControllerSEDEncryptionAdapterPasswordEnabled 1
#define kControllerSEDEncryptionStatusMask 0x00000000001FFFE0ULL
#define kControllerSEDEncryptionStatusShift 5
#define kControllerSEDEncryptionStatusEnabled 0x0001
#define kControllerSEDEncryptionStatusWaitingOnAdapterPassword 0x0002
#define kControllerSEDEncryptionStatusForeignSEDPresent 0x0004
#define kControllerSEDEncryptionStatusWaitingOnMasterKey 0x0008
#define kControllerSEDEncryptionProgressMask 0x0000001FFFE00000ULL
#define kControllerSEDEncryptionProgressShift 21
#define kControllerSEDEncryptionUnlockImportInProgress 0x0001
#define kControllerSEDEncryptionRekeyInProgress 0x0002
#define kControllerSEDEncryptionSecuringLogicalDriveInProgress 0x0004
#define kControllerSEDEncryptionTakingOwnershipInProgress 0x0008
#define kControllerSEDEncryptionRevertSEDDisablementInProgress 0x0010
#define CTRL_SED_ENCRYPTION_MODE(info)                                                                         \
    ((VK_BYTE)(((info)&kControllerSEDEncryptionModeMask) >> kControllerSEDEncryptionModeShift))
#define CTRL_SED_ENCRYPTION_ADAPTER_PASSWORD(info)                                                             \
    ((VK_BYTE)(((info)&kControllerSEDEncryptionPasswordEnabledMask) >> kControllerSEDEncryptionPasswordEnabledShift))
#define CTRL_SED_ENCRYPTION_STATUS(info)                                                                       \
    ((VK_WORD)(((info)&kControllerSEDEncryptionStatusMask) >> kControllerSEDEncryptionStatusShift))
#define CTRL_SED_ENCRYPTION_PROGRESS_INFO(info)                                                                \
    ((VK_WORD)(((info)&kControllerSEDEncryptionProgressMask) >> kControllerSEDEncryptionProgressShift))

/* Adapter password status (64 bits). */
#define kSEDEncryptionAdapterPasswordStatusCountDownTimerMask 0x00000000FFFFFFFFULL
#define kSEDEncryptionAdapterPasswordStatusCountDownTimerShift 0
#define kSEDEncryptionAdapterPasswordStatusAttemptsLeftMask 0xFFFFFFFF00000000ULL
#define kSEDEncryptionAdapterPasswordStatusAttemptsLeftShift 32
#define SED_ENCRYPTION_ADAPTER_PASSWORD_STATUS_COUNTDOWN_TIMER(info)                                           \
    ((VK_DWORD)(((info)&kSEDEncryptionAdapterPasswordStatusCountDownTimerMask) >>                             \
                kSEDEncryptionAdapterPasswordStatusCountDownTimerShift))
#define SED_ENCRYPTION_ADAPTER_PASSWORD_STATUS_REMAINING_ATTEMPTS(info)                                        \
    ((VK_DWORD)(((info)&kSEDEncryptionAdapterPasswordStatusAttemptsLeftMask) >>                               \
                kSEDEncryptionAdapterPasswordStatusAttemptsLeftShift))

/* A caller's buffer for one foreign key identifier and its NUL. */
#define kForeignSEDKeyIdentifierBufferSize 33

#define FOREACH_FOREIGN_SED(cda, pd_number)                                                                    \
    for ((pd_number) = 0xFFFF; ((pd_number) = VK_EnumerateControllerForeignSED((cda), (pd_number))) != 0xFFFF;)

/* ---- Credential rules, random credentials and direct encryption operations ------------------- */

/* VK_CheckEncryptionPassword: bit set. */
#define kCheckEncryptionPasswordOk 0x00
#define kCheckEncryptionPasswordMissingLowerCaseLetter 0x01
#define kCheckEncryptionPasswordMissingUpperCaseLetter 0x02
#define kCheckEncryptionPasswordMissingNumber 0x04
#define kCheckEncryptionPasswordMissingSpecialChar 0x08
#define kCheckEncryptionPasswordTooShort 0x10
#define kCheckEncryptionPasswordTooLong 0x20
#define kCheckEncryptionPasswordInvalidChar 0x40
#define kCheckEncryptionPasswordInvalidUnknown 0x80

/* VK_CheckEncryptionMasterKey: bit set. */
#define kCheckEncryptionMasterKeyOk 0x00
#define kCheckEncryptionMasterKeyTooShort 0x01
#define kCheckEncryptionMasterKeyTooLong 0x02
#define kCheckEncryptionMasterKeyInvalidChar 0x04
#define kCheckEncryptionMasterKeyInvalidUnknown 0x08
#define kCheckEncryptionMasterKeyInvalidEncryptionConfig 0x10

/* VK_CheckEncryptionRecoveryQuestion and VK_CheckEncryptionRecoveryAnswer: bit sets. */
#define kCheckRecoveryQuestionOk 0x00
#define kCheckRecoveryQuestionTooShort 0x01
#define kCheckRecoveryQuestionTooLong 0x02
#define kCheckRecoveryQuestionInvalidChar 0x04
#define kCheckRecoveryQuestionInvalidUnknown 0x08
#define kCheckRecoveryAnswerOk 0x00
#define kCheckRecoveryAnswerTooShort 0x01
#define kCheckRecoveryAnswerTooLong 0x02
#define kCheckRecoveryAnswerInvalidChar 0x04
#define kCheckRecoveryAnswerInvalidUnknown 0x08

/* VK_CheckEncryptionBootPassword: one code. */
#define kCheckBootPasswordOk 0
#define kCheckBootPasswordFailedTooShort 1
#define kCheckBootPasswordFailedTooLong 2
#define kCheckBootPasswordFailedInvalidChar 3
#define kCheckBootPasswordFailedNull 4

/* Lengths of the random credentials of express-local encryption. */
#define kEncryptionRandomPasswordLength 12
#define kEncryptionRandomKeyLength 14
#define kEncryptionRandomAnswerLength 32

/* Boot-password states. */
#define kEncryptionBootPasswordUnset 0
#define kEncryptionBootPasswordDisabled 1
#define kEncryptionBootPasswordEnabled 2

/* Clearing the encryption configuration back to the factory state. */
#define kCanClearEncryptionConfigurationAllowed 1
#define kCanClearEncryptionConfigurationNotSupported 2
#define kCanClearEncryptionConfigurationNotConfigured 3
#define kCanClearEncryptionConfigurationLogicalDrivesExist 4
#define kCanClearEncryptionConfigurationEncodeOrRekeyInProgress 5
#define kCanClearEncryptionConfigurationInvalidKey 6
#define kCanClearEncryptionConfigurationControllerOFAActive 7
#define kCanClearEncryptionConfigurationInvalidKeySize 8

/* Rekeying the controller's master key. */
#define kCanRekeyControllerAllowed 1
#define kCanRekeyControllerEncryptionNotConfigured 2
#define kCanRekeyControllerPermissionDenied 3
#define kCanRekeyControllerEncryptionNotEnabled 4
#define kCanRekeyControllerNotRemoteKeyManager 5
#define kCanRekeyControllerNoEncryptedLogicalDrives 6
#define kCanRekeyControllerLockout 7
#define kCanRekeyControllerEncryptedLogicalDriveFailed 8
#define kCanRekeyControllerEncryptedLogicalDriveIsSplitMirror 9
#define kCanRekeyControllerEncryptedLogicalDriveHasFailedCachingVolume 10
#define kCanRekeyControllerEncryptedLogicalDriveIsInitializing 11
#define kCanRekeyControllerEncryptedLogicalDriveHasVolatileKeys 12
#define kCanRekeyControllerLoginFailed 13
#define kCanRekeyControllerNotEnabled 14
#define kCanRekeyControllerOFAActive 15
#define kCanRekeyControllerInvalidPasswordSize 16
#define kRekeyControllerFailed 0
#define kRekeyControllerOK 1

/* Importing a foreign local key. */
#define kCanImportForeignKeyAllowed 1
#define kCanImportForeignKeyInvalidKey 2
#define kCanImportForeignKeyEncryptionNotConfigured 3
#define kCanImportForeignKeyEncryptionNotEnabled 4
#define kCanImportForeignKeyNotLocalKeyManager 5
#define kCanImportForeignKeyNoLogicalDrivesOffline 6
#define kCanImportForeignKeyControllerLockout 7
#define kCanImportForeignKeyControllerFailedSelfTest 8
#define kCanImportForeignKeyInvalidUser 9
#define kCanImportForeignKeyPermissionDenied 10
#define kCanImportForeignKeyLoginFailed 11
#define kCanImportForeignKeyNotEnabled 12
#define kCanImportForeignKeyControllerOFAActive 13
#define kCanImportForeignKeyInvalidForeignKeySize 14
#define kCanImportForeignKeyInvalidPasswordSize 15
#define kImportForeignEncryptionKeyFailed 0
#define kImportForeignEncryptionKeyOK 1
#define kImportForeignEncryptionKeyFailedNullPassword 2

/* Resetting the crypto officer's password with the recovery answer. */
#define kCanResetEncryptionPasswordAllowed 1
#define kCanResetEncryptionPasswordEncryptionNotSupported 2
#define kCanResetEncryptionPasswordEncryptionNotConfigured 3
#define kCanResetEncryptionPasswordEncryptionRecoveryNotSet 4
#define kCanResetEncryptionPasswordExpressEncryption 5
#define kCanResetEncryptionPasswordInvalidAnswer 6
#define kCanResetEncryptionPasswordInvalidPassword 7
#define kCanResetEncryptionPasswordNotEnabled 8
#define kCanResetEncryptionPasswordControllerOFAActive 9
#define kCanResetEncryptionPasswordInvalidAnswerSize 10
#define kCanResetEncryptionPasswordInvalidPasswordSize 11

/* Asking a remote key manager to rescan its keys. */
#define kCanRescanEncryptionRemoteKeysAllowed 1
#define kCanRescanEncryptionRemoteKeysEncryptionNotConfigured 2
#define kCanRescanEncryptionRemoteKeysRemoteKeysNotConfigured 3
#define kCanRescanEncryptionRemoteKeysEncryptionNotEnabled 4
#define kCanRescanEncryptionRemoteKeysControllerLocked 5
#define kCanRescanEncryptionRemoteKeysControllerFailedSelfTest 6
#define kCanRescanEncryptionRemoteKeysControllerOFAActive 7
#define kCanRescanEncryptionRemoteKeysNotSupportedWithUEFIKMS 8

/* Unlocking a controller that waits for its boot password. */
#define kCanUnlockControllerAllowed 1
#define kCanUnlockControllerEncryptionNotSupported 2
#define kCanUnlockControllerBootPasswordNotSupported 3
#define kCanUnlockControllerEncryptionNotEnabled 4
#define kCanUnlockControllerOFAActive 5
#define kCanUnlockControllerControllerStatusNotOK 6
#define kCanUnlockControllerEncryptionNotConfigured 7
#define kCanUnlockControllerBootPasswordNotSet 8
#define kCanUnlockControllerControllerNotLocked 9
#define kCanUnlockControllerNoUnlockAttemptsRemaining 10
#define kCanUnlockControllerInvalidBootPassword 11
#define kDoUnlockControllerFailed 0
#define kDoUnlockControllerOK 1

/* Rekeying the volume key of a logical drive. */
#define kCanRekeyEncryptionVolumeKeyAllowed 1
#define kCanRekeyEncryptionVolumeKeyEncryptionInvalidLogicalDrive 2
#define kCanRekeyEncryptionVolumeKeyEncryptionNotConfigured 3
#define kCanRekeyEncryptionVolumeKeyEncryptionNotEnabled 4
#define kCanRekeyEncryptionVolumeKeyLocalExpressEncryption 5
#define kCanRekeyEncryptionVolumeKeyLogicalDriveNotEncrypted 6
#define kCanRekeyEncryptionVolumeKeyVolatileKeysEnabled 7
#define kCanRekeyEncryptionVolumeKeyNotDataArray 8
#define kCanRekeyEncryptionVolumeKeyLUCacheLogicalDriveStatusNotOK 9
#define kCanRekeyEncryptionVolumeKeyLogicalDriveStatusNotOK 10
#define kCanRekeyEncryptionVolumeKeyControllerCacheStatusNotOK 11
#define kCanRekeyEncryptionVolumeKeyControllerStatusNotOK 12
#define kCanRekeyEncryptionVolumeKeyControllerLocked 13
#define kCanRekeyEncryptionVolumeKeyInvalidUser 14
#define kCanRekeyEncryptionVolumeKeyPermissionDenied 15
#define kCanRekeyEncryptionVolumeKeyLoginFailed 16
#define kCanRekeyEncryptionVolumeKeyNotEnabled 17
#define kCanRekeyEncryptionVolumeKeyControllerOFAActive 19
#define kCanRekeyEncryptionVolumeKeyPowerlessTransformationNotSupported 20
#define kCanRekeyEncryptionVolumeKeyInvalidPasswordSize 21
#define kRekeyEncryptionVolumeKeyFailed 0
#define kRekeyEncryptionVolumeKeyOK 1

/* Rekeying every encrypted logical drive of an array: the logical-drive codes under array names. */
#define kCanRekeyArrayEncryptionVolumeKeyAllowed kCanRekeyEncryptionVolumeKeyAllowed
#define kCanRekeyArrayEncryptionVolumeKeyInvalidArray kCanRekeyEncryptionVolumeKeyEncryptionInvalidLogicalDrive
#define kCanRekeyArrayEncryptionVolumeKeyEncryptionNotConfigured kCanRekeyEncryptionVolumeKeyEncryptionNotConfigured
#define kCanRekeyArrayEncryptionVolumeKeyEncryptionNotEnabled kCanRekeyEncryptionVolumeKeyEncryptionNotEnabled
#define kCanRekeyArrayEncryptionVolumeKeyLocalExpressEncryption kCanRekeyEncryptionVolumeKeyLocalExpressEncryption
#define kCanRekeyArrayEncryptionVolumeKeyNoEncryptedLogicalDrives kCanRekeyEncryptionVolumeKeyLogicalDriveNotEncrypted
#define kCanRekeyArrayEncryptionVolumeKeyVolatileKeysEnabled kCanRekeyEncryptionVolumeKeyVolatileKeysEnabled
#define kCanRekeyArrayEncryptionVolumeKeyNotDataArray kCanRekeyEncryptionVolumeKeyNotDataArray
#define kCanRekeyArrayEncryptionVolumeKeyLUCacheLogicalDriveStatusNotOK                                        \
    kCanRekeyEncryptionVolumeKeyLUCacheLogicalDriveStatusNotOK
#define kCanRekeyArrayEncryptionVolumeKeyLogicalDriveStatusNotOK kCanRekeyEncryptionVolumeKeyLogicalDriveStatusNotOK
#define kCanRekeyArrayEncryptionVolumeKeyControllerCacheStatusNotOK                                            \
    kCanRekeyEncryptionVolumeKeyControllerCacheStatusNotOK
#define kCanRekeyArrayEncryptionVolumeKeyControllerStatusNotOK kCanRekeyEncryptionVolumeKeyControllerStatusNotOK
#define kCanRekeyArrayEncryptionVolumeKeyControllerLocked kCanRekeyEncryptionVolumeKeyControllerLocked
#define kCanRekeyArrayEncryptionVolumeKeyInvalidUser kCanRekeyEncryptionVolumeKeyInvalidUser
#define kCanRekeyArrayEncryptionVolumeKeyPermissionDenied kCanRekeyEncryptionVolumeKeyPermissionDenied
#define kCanRekeyArrayEncryptionVolumeKeyLoginFailed kCanRekeyEncryptionVolumeKeyLoginFailed
#define kCanRekeyArrayEncryptionVolumeKeyNotEnabled kCanRekeyEncryptionVolumeKeyNotEnabled
#define kCanRekeyArrayEncryptionVolumeKeyControllerOFAActive kCanRekeyEncryptionVolumeKeyControllerOFAActive
#define kCanRekeyArrayEncryptionVolumeKeyPowerlessTransformationNotSupported                                   \
    kCanRekeyEncryptionVolumeKeyPowerlessTransformationNotSupported
#define kCanRekeyArrayEncryptionVolumeKeyInvalidPasswordSize kCanRekeyEncryptionVolumeKeyInvalidPasswordSize
#define kRekeyArrayEncryptionVolumeKeyFailed kRekeyEncryptionVolumeKeyFailed
#define kRekeyArrayEncryptionVolumeKeyOK kRekeyEncryptionVolumeKeyOK

/* Restoring a logical drive's volatile key from its backup. */
#define kCanRestoreLogicalDriveVolatileKeyAllowed 1
#define kCanRestoreLogicalDriveVolatileKeyInvalidLogicalDrive 2
#define kCanRestoreLogicalDriveVolatileKeyInvalidUser 3
#define kCanRestoreLogicalDriveVolatileKeyPermissionDenied 4
#define kCanRestoreLogicalDriveVolatileKeyLoginFailed 5
#define kCanRestoreLogicalDriveVolatileKeyNotData 6
#define kCanRestoreLogicalDriveVolatileKeyEncryptionNotConfigured 7
#define kCanRestoreLogicalDriveVolatileKeyEncryptionNotEnabled 8
#define kCanRestoreLogicalDriveVolatileKeyNoRemoteKeyManager 9
#define kCanRestoreLogicalDriveVolatileKeyLogicalDriveNotEncrypted 10
#define kCanRestoreLogicalDriveVolatileKeyNotConfigured 11
#define kCanRestoreLogicalDriveVolatileKeyMissingBackup 12
#define kCanRestoreLogicalDriveVolatileKeyRestoreNotRequired 13
#define kCanRestoreLogicalDriveVolatileKeyOpInProgress 14
#define kCanRestoreLogicalDriveVolatileKeyNotSupported 15
#define kCanRestoreLogicalDriveVolatileKeyControllerOFAActive 16

/* Crypto-erasing a logical drive. */
#define kCanCryptoEraseLogicalDriveAllowed 1
#define kCanCryptoEraseLogicalDriveInvalidLogicalDrive 2
#define kCanCryptoEraseLogicalDriveInvalidUser 3
#define kCanCryptoEraseLogicalDriveEncryptionNotConfigured 4
#define kCanCryptoEraseLogicalDriveEncryptionNotEnabled 5
#define kCanCryptoEraseLogicalDriveInExpressLocalMode 6
#define kCanCryptoEraseLogicalDriveLogicalDriveIsOffline 7
#define kCanCryptoEraseLogicalDriveLogicalDriveNotEncrypted 8
#define kCanCryptoEraseLogicalDriveControllerLockout 9
#define kCanCryptoEraseLogicalDriveLogicalDriveStatusNotOK 10
#define kCanCryptoEraseLogicalDriveArrayStatusNotOK 11
#define kCanCryptoEraseLogicalDriveVolatileKeysEnabled 12
#define kCanCryptoEraseLogicalDriveNotDataLogicalDrive 13
#define kCanCryptoEraseLogicalDriveUserPermissionDenied 14
#define kCanCryptoEraseLogicalDriveInvalidPassword 15
#define kCanCryptoEraseLogicalDriveNotEnabled 16
#define kCanCryptoEraseLogicalDriveControllerOFAActive 18
#define kCanCryptoEraseLogicalDriveInvalidPasswordSize 19

/* Values of the pending encryption settings: plaintext volumes and firmware lock getters, a logical
 * drive's requested encryption, and its volatile-key state. */
#define kControllerPlaintextDisabled 0
#define kControllerPlaintextEnabled 1
#define kControllerPlaintextInvalid 0xFF
#define kControllerFirmwareUnlocked 0
#define kControllerFirmwareLocked 1
#define kControllerFirmwareLockInvalid 0xFF
#define kSetEditableLogicalDriveEncryptionDataEncrypted 0x00
#define kSetEditableLogicalDriveEncryptionDataPlaintext 0x01
#define kEditableLogicalDriveVolatileKeyUnknown 0
#define kEditableLogicalDriveVolatileKeyDisabled 1
#define kEditableLogicalDriveVolatileKeyEnabledNoBackup 2
#define kEditableLogicalDriveVolatileKeyEnabledWithBackup 3

PN_EXTERN_C_BEGIN

/* 0 when the controller cannot be identified or has no encryption. */
VK_API VK_QWORD VK_GetControllerEncryptionStatus(PCDA cda);
/* 0 for a number above 63, without the array model, or for a logical drive that does not exist. */
VK_API VK_DWORD VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number);
/* The same word without the range check and the lock: for callers holding the lock. */
VK_API VK_DWORD _VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number);
/* 0 for a number of 384 or more, a controller without SED support or an unreadable drive. */
VK_API VK_UINT64 VK_GetPhysicalDriveEncryptionInfo(PCDA cda, VK_WORD pd_number);

/* Key cache, passwords, roles, key manager and managed SED. */
VK_API VK_QWORD VK_GetControllerEncryptionKeyCacheStatus(PCDA cda);
/* Drives of the arrays that hold an encrypted logical drive. */
VK_API VK_DWORD VK_GetControllerEncryptionPhysicalDriveCount(PCDA cda);
/* Reads the controller on every call; 0 for a role other than 0 or 1. */
VK_API VK_QWORD VK_GetEncryptionPasswordStatus(PCDA cda, VK_BYTE user);
/* Asks the controller whether `password` is the role's; FALSE for a wrong one. */
VK_API VK_BOOL VK_VerifyEncryptionPasswordSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BOOL VK_VerifyEncryptionPassword(PCDA cda, VK_BYTE user, const char* password);
VK_API VK_DWORD VK_GetEncryptionUserCapabilities(PCDA cda, VK_BYTE user);
/* Zeroes the buffer; fills it only when it has room for the 256-byte question and its NUL. */
VK_API const char* VK_GetEncryptionRecoveryQuestion(PCDA cda, char* question_buffer, size_t buffer_size);
VK_API VK_BOOL _VK_ControllerHasEncryptedLogicalDriveWithMissingKey(PCDA cda);
VK_API VK_DWORD VK_GetControllerEncryptionKMSAction(PCDA cda);
VK_API VK_QWORD VK_GetControllerSEDEncryptionStatus(PCDA cda);
/* Fills a buffer of more than 32 bytes; any other buffer is left as it was. */
VK_API char* VK_GetControllerSEDEncryptionMasterKeyIdentifier(PCDA cda, char* key_identifier,
                                                               size_t key_identifier_size);
VK_API VK_QWORD VK_GetSEDEncryptionAdapterPasswordStatus(PCDA cda);
/* Next owned foreign SED after `pd_number`; 0xFFFF starts and ends. */
VK_API VK_WORD VK_EnumerateControllerForeignSED(PCDA cda, VK_WORD pd_number);
VK_API char* VK_GetForeignSEDKeyIdentifier(PCDA cda, VK_WORD pd_number, char* foreign_key_identifier,
                                           size_t foreign_key_identifier_size, char* foreign_reset_key_identifier,
                                           size_t foreign_reset_key_identifier_size);

/* Credential rules: 0 when the credential may be sent. The length is the characters up to the first
 * NUL within the size; the boot password counts every byte of its size. */
VK_API VK_BYTE VK_CheckEncryptionPassword(PCDA cda, const char* password_buffer, VK_WORD buffer_size);
VK_API VK_BYTE VK_CheckEncryptionMasterKey(PCDA cda, VK_BYTE encryption_config, const char* key_buffer,
                                           VK_WORD buffer_size);
VK_API VK_BYTE VK_CheckEncryptionRecoveryQuestion(PCDA cda, const char* recovery_buffer, VK_WORD buffer_size);
VK_API VK_BYTE VK_CheckEncryptionRecoveryAnswer(PCDA cda, const char* recovery_buffer, VK_WORD buffer_size);
VK_API VK_BYTE VK_CheckEncryptionBootPassword(PCDA cda, const char* password_buffer, VK_WORD buffer_size);

/* Direct operations on the controller. The string forms pass the length plus 1 (0 for NULL). */
VK_API VK_BYTE VK_CanClearEncryptionConfigurationSafe(PCDA cda, const char* master_key, size_t master_key_size);
VK_API VK_BOOL VK_ClearEncryptionConfigurationSafe(PCDA cda, const char* master_key, size_t master_key_size);
VK_API VK_BYTE VK_CanClearEncryptionConfiguration(PCDA cda, const char* master_key);
VK_API VK_BOOL VK_ClearEncryptionConfiguration(PCDA cda, const char* master_key);
VK_API VK_BYTE VK_CanRekeyControllerSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_RekeyControllerSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_CanRekeyController(PCDA cda, VK_BYTE user, const char* password);
VK_API VK_BYTE VK_RekeyController(PCDA cda, VK_BYTE user, const char* password);
VK_API VK_BYTE VK_CanImportForeignEncryptionKeySafe(PCDA cda, const char* foreign_key, size_t foreign_key_size,
                                                    VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_ImportForeignEncryptionKeySafe(PCDA cda, const char* foreign_key, size_t foreign_key_size,
                                                 VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_CanImportForeignEncryptionKey(PCDA cda, const char* foreign_key, VK_BYTE user,
                                                const char* password);
VK_API VK_BYTE VK_ImportForeignEncryptionKey(PCDA cda, const char* foreign_key, VK_BYTE user, const char* password);
VK_API VK_BYTE VK_CanResetEncryptionPasswordSafe(PCDA cda, const char* answer, size_t answer_size,
                                                 const char* new_password, size_t new_password_size);
VK_API VK_BOOL VK_ResetEncryptionPasswordSafe(PCDA cda, const char* answer, size_t answer_size,
                                              const char* new_password, size_t new_password_size);
VK_API VK_BYTE VK_CanResetEncryptionPassword(PCDA cda, const char* answer, const char* new_password);
VK_API VK_BOOL VK_ResetEncryptionPassword(PCDA cda, const char* answer, const char* new_password);
VK_API VK_BYTE VK_CanRescanEncryptionRemoteKeys(PCDA cda);
VK_API VK_BOOL VK_RescanEncryptionRemoteKeys(PCDA cda);
VK_API VK_BYTE VK_CanUnlockController(PCDA cda, const char* boot_password, size_t boot_password_size);
/* A boot password of more than 3,968 bytes is refused unsent. */
VK_API VK_BYTE VK_DoUnlockController(PCDA cda, const char* boot_password, size_t boot_password_size);

/* Direct operations on logical drives. */
VK_API VK_BYTE VK_CanRekeyEncryptionVolumeKeySafe(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                                  const char* password, size_t password_size);
VK_API VK_BYTE VK_RekeyEncryptionVolumeKeySafe(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                               const char* password, size_t password_size);
VK_API VK_BYTE VK_CanRekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                              const char* password);
VK_API VK_BYTE VK_RekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                           const char* password);
VK_API VK_BYTE VK_CanRekeyArrayEncryptionVolumeKeySafe(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data,
                                                       VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_RekeyArrayEncryptionVolumeKeySafe(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data,
                                                    VK_BYTE user, const char* password, size_t password_size);
VK_API VK_BYTE VK_CanRekeyArrayEncryptionVolumeKey(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data,
                                                   VK_BYTE user, const char* password);
VK_API VK_BYTE VK_RekeyArrayEncryptionVolumeKey(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data, VK_BYTE user,
                                                const char* password);
VK_API VK_BYTE VK_CanRestoreLogicalDriveVolatileKeySafe(PCDA cda, VK_WORD ld_number, VK_BYTE user,
                                                        const char* password, size_t password_size);
VK_API VK_BOOL VK_RestoreLogicalDriveVolatileKeySafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                                     size_t password_size);
VK_API VK_BYTE VK_CanRestoreLogicalDriveVolatileKey(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password);
VK_API VK_BOOL VK_RestoreLogicalDriveVolatileKey(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password);
VK_API VK_BYTE VK_CanCryptoEraseLogicalDriveSafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                                 size_t password_size);
VK_API VK_BOOL VK_CryptoEraseLogicalDriveSafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                              size_t password_size);
VK_API VK_BYTE VK_CanCryptoEraseLogicalDrive(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password);
VK_API VK_BOOL VK_CryptoEraseLogicalDrive(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password);

PN_EXTERN_C_END

#endif
