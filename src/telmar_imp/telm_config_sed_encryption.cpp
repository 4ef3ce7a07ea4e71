// Managed self-encrypting drives: the rules a master key, its identifier, the adapter password and a
// drive's PSID must pass before anything is sent.
#include <cstddef>
#include <cstring>
#include <string.h>

#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_bmic.h"
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

// ---- Controller settings: the update record, its apply, unlock and disable ----------------------

namespace {

constexpr size_t kSEDField = 32;       // width of every credential field of a request
constexpr size_t kSEDText = kSEDField + 1; // the record keeps them terminated

constexpr VK_DWORD kManagedSEDEnableLocal = 1;
constexpr VK_DWORD kManagedSEDChangeAdapterPassword = 2;
constexpr VK_DWORD kManagedSEDChangeMasterKey = 3;
constexpr VK_DWORD kManagedSEDDisable = 4;
constexpr VK_DWORD kManagedSEDUnlock = 5;
constexpr VK_DWORD kDefaultTimeout = 0;

constexpr VK_DWORD kStagedMode = 0x1, kStagedMasterKey = 0x2, kStagedIdentifier = 0x4,
                   kStagedAdapterPassword = 0x8, kStagedAdapterPasswordState = 0x10, kStagedAny = 0x1F;

constexpr VK_QWORD kSEDWordEnabled = 0x20, kSEDWordAdapterPassword = 0x10, kSEDWordWaitingOnAdapterPassword = 0x40,
                   kSEDWordWaitingOnMasterKey = 0x100, kSEDWordInProgress = kControllerSEDEncryptionProgressMask;
constexpr VK_QWORD kPDOwned = static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusOwned)
                              << kPhysicalDriveEncryptionSEDSecurityStatusShift;
constexpr VK_DWORD kLDSEDEnabled = static_cast<VK_DWORD>(kLogicalDriveEncryptionSEDEnabled)
                                   << kLogicalDriveSEDEncryptionStatusShift;

#pragma pack(push, 1)
struct MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER {
    char sAdapterPassword[kSEDField];
    char sMasterKey[kSEDField];
    char sMasterKeyIdentifier[kSEDField];
    VK_DWORD dwReserved;
};
struct MANAGED_SED_CHANGE_ADAPTER_PASSWORD {
    char sNewAdapterPassword[kSEDField];
    char sMasterKey[kSEDField];
};
struct MANAGED_SED_CHANGE_MASTER_KEY_AND_IDENTIFIER {
    char sMasterKey[kSEDField];
    char sNewMasterKey[kSEDField];
    char sNewMasterKeyIdentifier[kSEDField];
};
struct MANAGED_SED_UNLOCK_ADAPTER_PASSWORD {
    char sAdapterPassword[kSEDField];
};
#pragma pack(pop)
static_assert(sizeof(MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER) == 100);
static_assert(offsetof(MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER, sMasterKey) == 32);
static_assert(offsetof(MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER, sMasterKeyIdentifier) == 64);
static_assert(offsetof(MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER, dwReserved) == 96);
static_assert(sizeof(MANAGED_SED_CHANGE_ADAPTER_PASSWORD) == 64);
static_assert(offsetof(MANAGED_SED_CHANGE_ADAPTER_PASSWORD, sMasterKey) == 32);
static_assert(sizeof(MANAGED_SED_CHANGE_MASTER_KEY_AND_IDENTIFIER) == 96);
static_assert(offsetof(MANAGED_SED_CHANGE_MASTER_KEY_AND_IDENTIFIER, sNewMasterKey) == 32);
static_assert(offsetof(MANAGED_SED_CHANGE_MASTER_KEY_AND_IDENTIFIER, sNewMasterKeyIdentifier) == 64);
static_assert(sizeof(MANAGED_SED_UNLOCK_ADAPTER_PASSWORD) == 32);

struct CONTROLLER_SED_ENCRYPTION_INFO {
    VK_BYTE mode;
    char master_key_identifier[kSEDText];
    VK_BYTE adapter_password_state;
};

struct SED_ENCRYPTION_UPDATE_INFO {
    PCDA cda;
    VK_DWORD flags;
    char new_master_key[kSEDText];
    char new_adapter_password[kSEDText];
    VK_QWORD ctrl_sed_encryption_status;
    CONTROLLER_SED_ENCRYPTION_INFO current_sed_config;
    CONTROLLER_SED_ENCRYPTION_INFO pending_sed_config;
};

SED_ENCRYPTION_UPDATE_INFO* Record(void* p) {
    return static_cast<SED_ENCRYPTION_UPDATE_INFO*>(p);
}

// A caller's text into a record field: at most 32 characters, always terminated, the rest zero.
template <size_t N> void StoreText(char (&field)[N], const char* text, size_t size) {
    static_assert(N == kSEDText);
    explicit_bzero(field, N);
    const size_t n = text == nullptr ? 0 : strnlen(text, size < kSEDField ? size : kSEDField);
    if (n != 0) {
        memcpy(field, text, n);
    }
}

bool Empty(const char* text, size_t size) {
    return text == nullptr || size == 0 || text[0] == '\0';
}

bool SEDSupported(PCDA cda) {
    return (VK_ControllerSupportsSEDEncryption(cda) & kControllerSEDEncryptionSupported) != 0;
}

// The existing master key an adapter-password or key change is authorised with.
VK_BYTE CheckExistingKey(const SED_ENCRYPTION_UPDATE_INFO& info, const char* key, size_t size) {
    if (key == nullptr || size == 0) {
        return kUpdateControllerSEDEncryptionNoMasterKey;
    }
    if (VK_CheckSEDEncryptionMasterKey(info.cda, info.pending_sed_config.mode, key, size) !=
        kCheckSEDEncryptionMasterKeyOk) {
        return kUpdateControllerSEDEncryptionInvalidMasterKey;
    }
    return kUpdateControllerSEDEncryptionInfoSuccess;
}

template <class Request> bool SendSED(PCDA cda, VK_DWORD function, Request& request) {
    return _VK_BMICHelperWriteBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED, function, 0, 0, &request,
                                       sizeof(request)) != kFalse;
}

bool PendingAdapterPasswordMissing(const SED_ENCRYPTION_UPDATE_INFO& info) {
    return info.pending_sed_config.adapter_password_state == kControllerSEDEncryptionAdapterPasswordEnabled &&
           info.new_adapter_password[0] == '\0';
}

} // namespace

VK_BOOL _VK_ControllerHasOwnedSED(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD pd = kInvalidPDNumber;
    while ((pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) != kInvalidPDNumber) {
        if (VK_GetPhysicalDriveEncryptionInfo(cda, pd) & kPDOwned) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL _VK_ControllerHasSEDEnabledLD(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD ld = kInvalidLDNumber;
    while ((ld = VK_EnumerateControllerLogicalDrives(cda, ld)) != kInvalidLDNumber) {
        if (VK_GetLogicalDriveEncryptionInfo(cda, ld) & kLDSEDEnabled) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BYTE VK_GetControllerSEDEncryptionInfoForUpdate(PCDA cda, void** sed_encryption_update_info) {
    if (sed_encryption_update_info == nullptr) {
        return kGetControllerSEDEncryptionInfoForUpdateInvalidArgument;
    }
    *sed_encryption_update_info = nullptr;
    if (cda == nullptr) {
        return kGetControllerSEDEncryptionInfoForUpdateInvalidArgument;
    }
    CDALock guard(cda);
    if (!SEDSupported(cda)) {
        return kGetControllerSEDEncryptionInfoForUpdateNotSupported;
    }
    if (VK_GetControllerEncryptionStatus(cda) &
        (kControllerEncryptionEnabled | kControllerEncryptionCryptoOfficerPasswordSet)) {
        return kGetControllerSEDEncryptionInfoForUpdateCBEEncryptionIsEnabled;
    }
    const VK_QWORD status = VK_GetControllerSEDEncryptionStatus(cda);
    if (status & (kSEDWordInProgress | kSEDWordWaitingOnMasterKey)) {
        return kGetControllerSEDEncryptionInfoForUpdateNotAllowed;
    }
    auto* info = static_cast<SED_ENCRYPTION_UPDATE_INFO*>(VK_malloc(sizeof(SED_ENCRYPTION_UPDATE_INFO)));
    if (info == nullptr) {
        return kGetControllerSEDEncryptionInfoForUpdateOutOfMemory;
    }
    memset(info, 0, sizeof(*info));
    info->cda = cda;
    info->ctrl_sed_encryption_status = status;
    info->current_sed_config.mode = static_cast<VK_BYTE>(status & 0xF);
    info->current_sed_config.adapter_password_state = (status & kSEDWordAdapterPassword) ? 1 : 0;
    VK_GetControllerSEDEncryptionMasterKeyIdentifier(cda, info->current_sed_config.master_key_identifier,
                                                     sizeof(info->current_sed_config.master_key_identifier));
    info->current_sed_config.master_key_identifier[kSEDField] = '\0';
    info->pending_sed_config = info->current_sed_config;
    *sed_encryption_update_info = info;
    return kGetControllerSEDEncryptionInfoForUpdateSuccess;
}

void VK_DestroyControllerSEDEncryptionInfoForUpdate(void* sed_encryption_update_info) {
    if (sed_encryption_update_info == nullptr) {
        return;
    }
    explicit_bzero(sed_encryption_update_info, sizeof(SED_ENCRYPTION_UPDATE_INFO));
    VK_free(sed_encryption_update_info);
}

VK_BYTE VK_CanChangeControllerSEDEncryptionMode(void* sed_encryption_update_info, VK_BYTE sed_encryption_mode) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr ||
        (sed_encryption_mode != kControllerSEDEncryptionModeNone &&
         sed_encryption_mode != kControllerSEDEncryptionModeLocal)) {
        return kCanChangeControllerSEDEncryptionModeInvalidArgument;
    }
    if (sed_encryption_mode == kControllerSEDEncryptionModeNone) {
        if ((info->ctrl_sed_encryption_status & kSEDWordWaitingOnAdapterPassword) &&
            _VK_ControllerHasOwnedSED(info->cda)) {
            return kCanChangeControllerSEDEncryptionModeWaitingOnAdapterPassword;
        }
        if ((info->ctrl_sed_encryption_status & kSEDWordEnabled) && _VK_ControllerHasSEDEnabledLD(info->cda)) {
            return kCanChangeControllerSEDEncryptionModeHasSEDEnabledLD;
        }
    }
    if (sed_encryption_mode == info->pending_sed_config.mode) {
        return kCanChangeControllerSEDEncryptionModeAlreadySet;
    }
    return kCanChangeControllerSEDEncryptionModeAllowed;
}

VK_BYTE VK_DoChangeControllerSEDEncryptionMode(void* sed_encryption_update_info, VK_BYTE sed_encryption_mode) {
    if (VK_CanChangeControllerSEDEncryptionMode(sed_encryption_update_info, sed_encryption_mode) !=
        kCanChangeControllerSEDEncryptionModeAllowed) {
        return kDoChangeControllerSEDEncryptionModeFailure;
    }
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (sed_encryption_mode == kControllerSEDEncryptionModeNone) {
        info->flags = 0;
        explicit_bzero(info->new_master_key, sizeof(info->new_master_key));
        explicit_bzero(info->new_adapter_password, sizeof(info->new_adapter_password));
        memset(&info->pending_sed_config, 0, sizeof(info->pending_sed_config));
    }
    info->pending_sed_config.mode = sed_encryption_mode;
    info->flags |= kStagedMode;
    return kDoChangeControllerSEDEncryptionModeSuccess;
}

VK_BYTE VK_CanChangeControllerSEDEncryptionMasterKey(void* sed_encryption_update_info, const char* master_key,
                                                     size_t master_key_size) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr) {
        return kCanChangeControllerSEDEncryptionMasterKeyNullUpdateInfoBuffer;
    }
    CDALock guard(info->cda);
    if (info->pending_sed_config.mode == kControllerSEDEncryptionModeNone) {
        return kCanChangeControllerSEDEncryptionMasterKeyPendingEncryptionModeNone;
    }
    if (master_key != nullptr || master_key_size != 0) {
        if (master_key == nullptr) {
            return kCanChangeControllerSEDEncryptionMasterKeyNullKey;
        }
        if (master_key_size == 0) {
            return kCanChangeControllerSEDEncryptionMasterKeyKeySizeZero;
        }
    }
    if (Empty(master_key, master_key_size)) {
        return kCanChangeControllerSEDEncryptionMasterKeyAllowed;
    }
    if (VK_CheckSEDEncryptionMasterKey(info->cda, info->pending_sed_config.mode, master_key, master_key_size) !=
        kCheckSEDEncryptionMasterKeyOk) {
        return kCanChangeControllerSEDEncryptionMasterKeyInvalidKey;
    }
    if ((info->flags & kStagedAdapterPassword) && !(info->flags & kStagedMode)) {
        return kCanChangeControllerSEDEncryptionMasterKeyPendingAdapterPassword;
    }
    if (info->ctrl_sed_encryption_status & kSEDWordWaitingOnAdapterPassword) {
        return kCanChangeControllerSEDEncryptionMasterKeyWaitingOnAdapterPassword;
    }
    return kCanChangeControllerSEDEncryptionMasterKeyAllowed;
}

VK_BYTE VK_DoChangeControllerSEDEncryptionMasterKey(void* sed_encryption_update_info, const char* master_key,
                                                    size_t master_key_size) {
    if (master_key == nullptr || master_key_size == 0 ||
        VK_CanChangeControllerSEDEncryptionMasterKey(sed_encryption_update_info, master_key, master_key_size) !=
            kCanChangeControllerSEDEncryptionMasterKeyAllowed) {
        return kDoChangeControllerSEDEncryptionMasterKeyFailure;
    }
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    CDALock guard(info->cda);
    StoreText(info->new_master_key, master_key, master_key_size);
    if (info->new_master_key[0] != '\0') {
        info->flags |= kStagedMasterKey;
    } else {
        info->flags &= ~kStagedMasterKey;
    }
    return kDoChangeControllerSEDEncryptionMasterKeySuccess;
}

VK_BYTE VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(void* sed_encryption_update_info,
                                                               const char* master_key_identifier,
                                                               size_t master_key_identifier_size) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierNullUpdateInfoBuffer;
    }
    CDALock guard(info->cda);
    if (info->pending_sed_config.mode == kControllerSEDEncryptionModeNone) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierEncryptionModeNone;
    }
    if (master_key_identifier == nullptr && master_key_identifier_size != 0) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierNullIdentifier;
    }
    if (master_key_identifier != nullptr && master_key_identifier_size == 0) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierIdentifierSizeZero;
    }
    if (Empty(master_key_identifier, master_key_identifier_size)) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierAllowed;
    }
    if (VK_CheckSEDEncryptionMasterKeyIdentifier(info->cda, info->pending_sed_config.mode, master_key_identifier,
                                                 master_key_identifier_size) != kCheckEncryptionMasterKeyIdentifierOk) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierInvalidIdentifier;
    }
    // Compared within the field: the pending identifier is always terminated.
    char candidate[kSEDText];
    StoreText(candidate, master_key_identifier, master_key_identifier_size);
    if (strcmp(candidate, info->pending_sed_config.master_key_identifier) == 0) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierSameAsPending;
    }
    if ((info->flags & kStagedAdapterPassword) && !(info->flags & kStagedMode)) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierAdapterPassword;
    }
    if (info->ctrl_sed_encryption_status & kSEDWordWaitingOnAdapterPassword) {
        return kCanChangeControllerSEDEncryptionMasterKeyIdentifierWaitingOnAdapterPassword;
    }
    return kCanChangeControllerSEDEncryptionMasterKeyIdentifierAllowed;
}

VK_BYTE VK_DoChangeControllerSEDEncryptionMasterKeyIdentifier(void* sed_encryption_update_info,
                                                              const char* master_key_identifier,
                                                              size_t master_key_identifier_size) {
    if (VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(sed_encryption_update_info, master_key_identifier,
                                                               master_key_identifier_size) !=
        kCanChangeControllerSEDEncryptionMasterKeyIdentifierAllowed) {
        return kDoChangeControllerSEDEncryptionMasterKeyIdentifierFailure;
    }
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    CDALock guard(info->cda);
    if (Empty(master_key_identifier, master_key_identifier_size)) {
        memcpy(info->pending_sed_config.master_key_identifier, info->current_sed_config.master_key_identifier,
               kSEDText);
        info->flags &= ~kStagedIdentifier;
    } else {
        StoreText(info->pending_sed_config.master_key_identifier, master_key_identifier, master_key_identifier_size);
        info->flags |= kStagedIdentifier;
    }
    return kDoChangeControllerSEDEncryptionMasterKeyIdentifierSuccess;
}

VK_BYTE VK_CanChangeControllerSEDEncryptionAdapterPassword(void* sed_encryption_update_info, const char* password,
                                                           size_t password_size) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr) {
        return kCanChangeSEDEncryptionAdapterPasswordInvalidInput;
    }
    CDALock guard(info->cda);
    if (info->pending_sed_config.mode == kControllerSEDEncryptionModeNone) {
        return kCanChangeSEDEncryptionAdapterPasswordModeNone;
    }
    if ((info->flags & (kStagedMasterKey | kStagedIdentifier)) && !(info->flags & kStagedMode)) {
        return kCanChangeSEDEncryptionAdapterPasswordMasterKeyChangePending;
    }
    if ((password != nullptr || password_size != 0) && (password == nullptr || password_size == 0)) {
        return kCanChangeSEDEncryptionAdapterPasswordInvalidInput;
    }
    if (Empty(password, password_size)) {
        return kCanChangeSEDEncryptionAdapterPasswordOk;
    }
    char candidate[kSEDText];
    StoreText(candidate, password, password_size);
    const bool same = strcmp(candidate, info->new_adapter_password) == 0;
    explicit_bzero(candidate, sizeof(candidate));
    if (same) {
        return kCanChangeSEDEncryptionAdapterPasswordAlreadyPending;
    }
    if (VK_CheckSEDEncryptionAdapterPassword(info->cda, password, password_size) !=
        kCheckSEDEncryptionAdapterPasswordOk) {
        return kCanChangeSEDEncryptionAdapterPasswordInvalidPassword;
    }
    if (info->pending_sed_config.adapter_password_state == kControllerSEDEncryptionAdapterPasswordDisabled) {
        return kCanChangeSEDEncryptionAdapterPasswordPendingStateIsDisabled;
    }
    return kCanChangeSEDEncryptionAdapterPasswordOk;
}

VK_BYTE VK_DoChangeControllerSEDEncryptionAdapterPassword(void* sed_encryption_update_info, const char* password,
                                                          size_t password_size) {
    if (VK_CanChangeControllerSEDEncryptionAdapterPassword(sed_encryption_update_info, password, password_size) !=
        kCanChangeSEDEncryptionAdapterPasswordOk) {
        return kDoChangeSEDEncryptionAdapterPasswordFailure;
    }
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    CDALock guard(info->cda);
    StoreText(info->new_adapter_password, password, password_size);
    if (info->new_adapter_password[0] != '\0') {
        info->flags |= kStagedAdapterPassword;
    } else {
        info->flags &= ~kStagedAdapterPassword;
    }
    return kDoChangeSEDEncryptionAdapterPasswordSuccess;
}

VK_BYTE VK_CanChangeControllerSEDEncryptionAdapterPasswordState(void* sed_encryption_update_info,
                                                                VK_BYTE adapter_password_state) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr) {
        return kCanChangeSEDEncryptionAdapterPasswordStateInvalidInput;
    }
    if (info->pending_sed_config.mode == kControllerSEDEncryptionModeNone ||
        (info->current_sed_config.mode != kControllerSEDEncryptionModeLocal &&
         info->pending_sed_config.mode != kControllerSEDEncryptionModeLocal)) {
        return kCanChangeSEDEncryptionAdapterPasswordStateModeNone;
    }
    if (adapter_password_state == info->pending_sed_config.adapter_password_state) {
        return kCanChangeSEDEncryptionAdapterPasswordStateSameAsPending;
    }
    return kCanChangeSEDEncryptionAdapterPasswordStateOk;
}

VK_BYTE VK_DoChangeControllerSEDEncryptionAdapterPasswordState(void* sed_encryption_update_info,
                                                               VK_BYTE adapter_password_state) {
    if (VK_CanChangeControllerSEDEncryptionAdapterPasswordState(sed_encryption_update_info, adapter_password_state) !=
        kCanChangeSEDEncryptionAdapterPasswordStateOk) {
        return kDoChangeSEDEncryptionAdapterPasswordStateFailure;
    }
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    info->flags |= kStagedAdapterPasswordState;
    info->pending_sed_config.adapter_password_state = adapter_password_state;
    if (adapter_password_state == kControllerSEDEncryptionAdapterPasswordDisabled) {
        explicit_bzero(info->new_adapter_password, sizeof(info->new_adapter_password));
    }
    return kDoChangeSEDEncryptionAdapterPasswordStateSuccess;
}

char* VK_GetSEDEncryptionDefaultMasterKeyIdentifier(PCDA cda, char* master_key_id, size_t master_key_id_size) {
    static char empty[1] = {'\0'};
    if (master_key_id_size < kMinDefaultMasterKeyIdentifierBufferSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'master_key_id_size >= kMinDefaultMasterKeyIdentifierBufferSize' failed: The "
                    "buffer size of default master key identifier size must be at least %u bytes\n",
                    __func__, __LINE__, static_cast<unsigned>(kMinDefaultMasterKeyIdentifierBufferSize));
    }
    if (master_key_id == nullptr || master_key_id_size < kMinDefaultMasterKeyIdentifierBufferSize) {
        empty[0] = '\0';
        return empty;
    }
    memset(master_key_id, 0, master_key_id_size);
    if (cda == nullptr) {
        return master_key_id;
    }
    VK_GetControllerWWN(cda, master_key_id, master_key_id_size);
    master_key_id[master_key_id_size - 1] = '\0';
    const size_t used = strlen(master_key_id);
    VK_GetControllerProductID(cda, master_key_id + used, master_key_id_size - used);
    master_key_id[master_key_id_size - 1] = '\0';
    return master_key_id;
}

namespace {

VK_BYTE EnableLocalKeyManager(SED_ENCRYPTION_UPDATE_INFO& info) {
    if (PendingAdapterPasswordMissing(info)) {
        return kUpdateControllerSEDEncryptionAdapterPasswordStateEnabledPasswordEmpty;
    }
    if (info.new_master_key[0] == '\0') {
        return kUpdateControllerSEDEncryptionInfoMasterKeyNotSetup;
    }
    if (info.pending_sed_config.master_key_identifier[0] == '\0') {
        VK_GetSEDEncryptionDefaultMasterKeyIdentifier(info.cda, info.pending_sed_config.master_key_identifier,
                                                      sizeof(info.pending_sed_config.master_key_identifier));
    }
    telmar::WipedRequest<MANAGED_SED_ENABLE_LOCAL_KEY_MANAGER> request;
    telmar::CopyCredential(request.r.sAdapterPassword, info.new_adapter_password, kSEDText);
    telmar::CopyCredential(request.r.sMasterKey, info.new_master_key, kSEDText);
    telmar::CopyCredential(request.r.sMasterKeyIdentifier, info.pending_sed_config.master_key_identifier, kSEDText);
    return SendSED(info.cda, kManagedSEDEnableLocal, request.r) ? kUpdateControllerSEDEncryptionInfoSuccess
                                                                 : kUpdateControllerSEDEncryptionInfoFailed;
}

VK_BYTE ChangeAdapterPassword(SED_ENCRYPTION_UPDATE_INFO& info, const char* existing_key, size_t existing_key_size) {
    if (PendingAdapterPasswordMissing(info)) {
        return kUpdateControllerSEDEncryptionAdapterPasswordStateEnabledPasswordEmpty;
    }
    if (const VK_BYTE refused = CheckExistingKey(info, existing_key, existing_key_size)) {
        return refused;
    }
    telmar::WipedRequest<MANAGED_SED_CHANGE_ADAPTER_PASSWORD> request;
    telmar::CopyCredential(request.r.sNewAdapterPassword, info.new_adapter_password, kSEDText);
    telmar::CopyCredential(request.r.sMasterKey, existing_key, existing_key_size);
    return SendSED(info.cda, kManagedSEDChangeAdapterPassword, request.r) ? kUpdateControllerSEDEncryptionInfoSuccess
                                                                           : kUpdateControllerSEDEncryptionInfoFailed;
}

VK_BYTE ChangeMasterKey(SED_ENCRYPTION_UPDATE_INFO& info, const char* existing_key, size_t existing_key_size) {
    if (const VK_BYTE refused = CheckExistingKey(info, existing_key, existing_key_size)) {
        return refused;
    }
    telmar::WipedRequest<MANAGED_SED_CHANGE_MASTER_KEY_AND_IDENTIFIER> request;
    telmar::CopyCredential(request.r.sMasterKey, existing_key, existing_key_size);
    if (info.flags & kStagedMasterKey) {
        telmar::CopyCredential(request.r.sNewMasterKey, info.new_master_key, kSEDText);
    }
    if (info.flags & kStagedIdentifier) {
        telmar::CopyCredential(request.r.sNewMasterKeyIdentifier, info.pending_sed_config.master_key_identifier,
                               kSEDText);
    }
    return SendSED(info.cda, kManagedSEDChangeMasterKey, request.r) ? kUpdateControllerSEDEncryptionInfoSuccess
                                                                     : kUpdateControllerSEDEncryptionInfoFailed;
}

} // namespace

VK_BYTE VK_UpdateControllerSEDEncryptionInfo(void* sed_encryption_update_info, const char* existing_master_key,
                                             size_t existing_master_key_size) {
    SED_ENCRYPTION_UPDATE_INFO* info = Record(sed_encryption_update_info);
    if (info == nullptr) {
        return kUpdateControllerSEDEncryptionInfoInvalidArgument;
    }
    PCDA cda = info->cda;
    CDALock guard(cda);
    PN_DebugLog(2, 0,
                "%s:%d: SED config for update: Flags=0x%08X, NewMasterKey=%s, NewAdapterPassword=%s\n   Current SED "
                "config: Mode=%u, MasterKeyId=%s\n   Pending SED config: Mode=%u, MasterKeyId=%s\n",
                __func__, __LINE__, static_cast<unsigned>(info->flags),
                info->new_master_key[0] ? "Not Empty" : "Empty", info->new_adapter_password[0] ? "Not Empty" : "Empty",
                static_cast<unsigned>(info->current_sed_config.mode), info->current_sed_config.master_key_identifier,
                static_cast<unsigned>(info->pending_sed_config.mode), info->pending_sed_config.master_key_identifier);
    if ((info->flags & kStagedAny) == 0) {
        return kUpdateControllerSEDEncryptionInfoNoChanges;
    }
    if (VK_GetControllerSEDEncryptionStatus(cda) & (kSEDWordInProgress | kSEDWordWaitingOnMasterKey)) {
        return kUpdateControllerSEDEncryptionInfoNotAllowed;
    }
    VK_BYTE result = kUpdateControllerSEDEncryptionInfoNoChanges;
    if (info->flags & kStagedMode) {
        if (info->pending_sed_config.mode == kControllerSEDEncryptionModeNone) {
            result = _VK_BMICHelperNoneBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED, kManagedSEDDisable,
                                                0, 0, kDefaultTimeout)
                         ? kUpdateControllerSEDEncryptionInfoSuccess
                         : kUpdateControllerSEDEncryptionInfoFailed;
        } else {
            result = EnableLocalKeyManager(*info);
        }
    } else if (info->flags & (kStagedAdapterPassword | kStagedAdapterPasswordState)) {
        result = ChangeAdapterPassword(*info, existing_master_key, existing_master_key_size);
    } else {
        result = ChangeMasterKey(*info, existing_master_key, existing_master_key_size);
    }
    if (result == kUpdateControllerSEDEncryptionInfoSuccess) {
        VK_ReInitializeCDA(cda);
    }
    return result;
}

VK_BOOL _VK_DisableControllerSEDEncryption(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return _VK_BMICHelperNoneBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED, kManagedSEDDisable, 0, 0,
                                      kDefaultTimeout);
}

VK_BYTE VK_CanUnlockControllerWithSEDEncryption(PCDA cda, const char* adapter_password, size_t adapter_password_size) {
    if (cda == nullptr) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionNotSupported;
    }
    CDALock guard(cda);
    if (!SEDSupported(cda)) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionNotSupported;
    }
    const VK_QWORD status = VK_GetControllerSEDEncryptionStatus(cda);
    if (!(status & kSEDWordEnabled)) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionNotEnabled;
    }
    if (!(status & kSEDWordAdapterPassword)) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionAdapterPasswordNotEnabled;
    }
    if ((VK_GetSEDEncryptionAdapterPasswordStatus(cda) >> 32) == 0) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionNoUnlockAttemptsRemaining;
    }
    if (!(status & kSEDWordWaitingOnAdapterPassword)) {
        return kCanUnlockControllerWithSEDEncryptionNotLocked;
    }
    if (VK_CheckSEDEncryptionAdapterPassword(cda, adapter_password, adapter_password_size) !=
        kCheckSEDEncryptionAdapterPasswordOk) {
        return kCanUnlockControllerWithSEDEncryptionSEDEncryptionInvalidAdapterPassword;
    }
    return kCanUnlockControllerWithSEDEncryptionAllowed;
}

VK_BYTE VK_DoUnlockControllerWithSEDEncryption(PCDA cda, const char* adapter_password, size_t adapter_password_size) {
    if (cda == nullptr) {
        return kDoUnlockControllerWithSEDEncryptionFailed;
    }
    CDALock guard(cda);
    if (VK_CanUnlockControllerWithSEDEncryption(cda, adapter_password, adapter_password_size) !=
        kCanUnlockControllerWithSEDEncryptionAllowed) {
        return kDoUnlockControllerWithSEDEncryptionFailed;
    }
    bool unlocked = false;
    {
        telmar::WipedRequest<MANAGED_SED_UNLOCK_ADAPTER_PASSWORD> request;
        telmar::CopyCredential(request.r.sAdapterPassword, adapter_password, adapter_password_size);
        unlocked = SendSED(cda, kManagedSEDUnlock, request.r);
    }
    if (!unlocked) {
        return kDoUnlockControllerWithSEDEncryptionFailed;
    }
    VK_ReInitializeCDA(cda);
    return kDoUnlockControllerWithSEDEncryptionOK;
}
