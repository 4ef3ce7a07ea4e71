/* Encryption status words: the controller's controller-based encryption, and the encryption state of
 * logical and physical drives. */
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

PN_EXTERN_C_END

#endif
