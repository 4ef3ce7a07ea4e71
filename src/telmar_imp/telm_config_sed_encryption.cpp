// Managed self-encrypting drives: the rules a master key, its identifier, the adapter password and a
// drive's PSID must pass before anything is sent.
#include <cstring>
#include <string.h>

#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "telm_encryption_requests.h"
#include "telm_private.h"

namespace {

constexpr size_t kSEDCredentialLongest = 32;

} // namespace

VK_WORD VK_CheckSEDEncryptionMasterKey(PCDA cda, VK_BYTE sed_encryption_mode, const char* master_key,
                                       size_t master_key_size) {
    (void)cda;
    VK_WORD result = sed_encryption_mode == kControllerSEDEncryptionModeLocal
                         ? kCheckSEDEncryptionMasterKeyOk
                         : kCheckSEDEncryptionMasterKeyInvalidSEDModeConfig;
    if (master_key == nullptr) {
        return result | kCheckSEDEncryptionMasterKeyInvalidUnknown;
    }
    const size_t length = strnlen(master_key, master_key_size);
    if (length < 8) {
        result |= kCheckSEDEncryptionMasterKeyTooShort;
    } else if (length > kSEDCredentialLongest) {
        result |= kCheckSEDEncryptionMasterKeyTooLong;
    }
    const telmar::CredentialClasses found = telmar::ClassifyCredential(master_key, length, '!');
    result |= found.MissingBits();
    if (found.invalid) {
        result |= kCheckSEDEncryptionMasterKeyInvalidChar;
    }
    return result;
}

VK_BYTE VK_CheckSEDEncryptionMasterKeyIdentifier(PCDA cda, VK_BYTE sed_encryption_mode,
                                                 const char* master_key_identifier,
                                                 size_t master_key_identifier_size) {
    (void)cda;
    const size_t length =
        master_key_identifier == nullptr ? 0 : strnlen(master_key_identifier, master_key_identifier_size);
    // One character is enough, none is not.
    if (length == 0) {
        return kCheckEncryptionMasterKeyIdentifierInvalidInput;
    }
    VK_BYTE result = kCheckEncryptionMasterKeyIdentifierOk;
    if (length > kSEDCredentialLongest) {
        result |= kCheckEncryptionMasterKeyIdentifierTooLong;
    }
    if (sed_encryption_mode != kControllerSEDEncryptionModeLocal) {
        result |= kCheckEncryptionMasterKeyIdentifierInvalidSEDEncryptionMode;
    }
    if (!telmar::PrintableText(master_key_identifier, length, ' ')) {
        result |= kCheckEncryptionMasterKeyIdentifierNonAsciiValues;
    }
    return result;
}

VK_WORD VK_CheckSEDEncryptionAdapterPassword(PCDA cda, const char* password, size_t password_size) {
    (void)cda;
    if (password == nullptr || password_size == 0) {
        return kCheckSEDEncryptionAdapterPasswordInvalidInput;
    }
    const size_t length = strnlen(password, password_size);
    if (length > kSEDCredentialLongest) {
        return kCheckSEDEncryptionAdapterPasswordFailedTooLong;
    }
    if (length <= 7) {
        return kCheckSEDEncryptionAdapterPasswordFailedTooShort;
    }
    const telmar::CredentialClasses found = telmar::ClassifyCredential(password, length, '!');
    VK_WORD result = static_cast<VK_WORD>(found.MissingBits() << 4);
    if (found.invalid) {
        result |= kCheckSEDEncryptionAdapterPasswordFailedInvalidChar;
    }
    return result;
}

VK_BYTE VK_CheckSEDEncryptionPhysicalDrivePSID(const char* psid, size_t psid_size) {
    if (psid == nullptr) {
        return kCheckSEDEncryptionPhysicalDrivePSIDInvalidArgument;
    }
    VK_BYTE result = kCheckSEDEncryptionPhysicalDrivePSIDOk;
    if (psid_size < kPhysicalDrivePSIDMinimumLength - 1 || psid_size > kPhysicalDrivePSIDBufferLength - 1) {
        result |= kCheckSEDEncryptionPhysicalDrivePSIDInvalidSize;
    }
    // Every byte of the size, a NUL included, must be a letter or a digit.
    for (size_t i = 0; i < psid_size; ++i) {
        const unsigned char c = static_cast<unsigned char>(psid[i]);
        const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric) {
            result |= kCheckSEDEncryptionPhysicalDrivePSIDInvalidCharacter;
            break;
        }
    }
    return result;
}
