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

/* ---- RAID geometry and RAID-level, parity-group and strip-size rules ---- */

/* ---- Editable arrays and the editable drive list ---- */

/* ---- Editable logical drives ---- */

/* ---- Editable controller settings, boot volumes, spare activation, cache settings ---- */

/* ---- Direct controller operations and single-field parameter updates ---- */

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

/* -- RAID geometry and rules -- */

/* -- Editable arrays and drive list -- */

/* -- Editable logical drives -- */

/* -- Editable controller settings -- */

/* -- Direct controller operations and single-field parameter updates -- */

/* -- Commit -- */

/* -- Managed-SED credential rules: 0 when the credential may be sent -- */
VK_API VK_WORD VK_CheckSEDEncryptionMasterKey(PCDA cda, VK_BYTE sed_encryption_mode, const char* master_key,
                                              size_t master_key_size);
VK_API VK_BYTE VK_CheckSEDEncryptionMasterKeyIdentifier(PCDA cda, VK_BYTE sed_encryption_mode,
                                                        const char* master_key_identifier,
                                                        size_t master_key_identifier_size);
VK_API VK_WORD VK_CheckSEDEncryptionAdapterPassword(PCDA cda, const char* password, size_t password_size);
VK_API VK_BYTE VK_CheckSEDEncryptionPhysicalDrivePSID(const char* psid, size_t psid_size);

PN_EXTERN_C_END

#endif
