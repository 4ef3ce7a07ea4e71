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

PN_EXTERN_C_BEGIN

/* 0 when the controller cannot be identified or has no encryption. */
VK_API VK_QWORD VK_GetControllerEncryptionStatus(PCDA cda);
/* 0 for a number above 63, without the array model, or for a logical drive that does not exist. */
VK_API VK_DWORD VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number);
/* The same word without the range check and the lock: for callers holding the lock. */
VK_API VK_DWORD _VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number);
/* 0 for a number of 384 or more, a controller without SED support or an unreadable drive. */
VK_API VK_UINT64 VK_GetPhysicalDriveEncryptionInfo(PCDA cda, VK_WORD pd_number);

PN_EXTERN_C_END

#endif
