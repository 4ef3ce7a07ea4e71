// Managed self-encrypting drives: the rules a master key, its identifier, the adapter password and a
// drive's PSID must pass before anything is sent; the controller settings; taking ownership of,
// importing and reverting drives; SED encryption on arrays.
#include <cstddef>
#include <cstring>
#include <optional>
#include <string.h>

#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_bmic.h"
#include "telm_config_internal.h"
#include "telm_encryption_requests.h"
#include "telm_encryption_words.h"
#include "telm_private.h"
#include "telm_records.h"

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

static_assert(kSEDText == telmar::kSEDTextBytes);

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

// A credential a caller stages in its record field; an empty one unstages the change it stood for.
void StageCredential(SED_ENCRYPTION_UPDATE_INFO& info, char (&field)[kSEDText], VK_DWORD staged,
                     const char* text, size_t size) {
    StoreText(field, text, size);
    if (field[0] != '\0') {
        info.flags |= staged;
    } else {
        info.flags &= ~staged;
    }
}

// A master key or identifier change waits for a staged adapter-password change to be applied first
// (unless the mode is staged with it), and for a controller that waits on its adapter password.
VK_BYTE AdapterPasswordInTheWay(const SED_ENCRYPTION_UPDATE_INFO& info, VK_BYTE password_pending,
                                VK_BYTE waiting_on_password, VK_BYTE allowed) {
    if ((info.flags & kStagedAdapterPassword) && !(info.flags & kStagedMode)) {
        return password_pending;
    }
    if (info.ctrl_sed_encryption_status & kSEDWordWaitingOnAdapterPassword) {
        return waiting_on_password;
    }
    return allowed;
}

bool PendingAdapterPasswordMissing(const SED_ENCRYPTION_UPDATE_INFO& info) {
    return info.pending_sed_config.adapter_password_state == kControllerSEDEncryptionAdapterPasswordEnabled &&
           info.new_adapter_password[0] == '\0';
}

// Whether any drive `next` walks, from `none` until it answers `none` again, has one of `bits` in
// its encryption word.
template <class Next, class Encryption, class Bits>
VK_BOOL AnyDriveHas(PCDA cda, Next next, VK_WORD none, Encryption encryption, Bits bits) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD drive = none;
    while ((drive = next(cda, drive)) != none) {
        if (encryption(cda, drive) & bits) {
            return kTrue;
        }
    }
    return kFalse;
}

} // namespace

VK_BOOL _VK_ControllerHasOwnedSED(PCDA cda) {
    return AnyDriveHas(cda, VK_EnumerateControllerPhysicalDrives, kInvalidPDNumber,
                       VK_GetPhysicalDriveEncryptionInfo, kPDOwned);
}

VK_BOOL _VK_ControllerHasSEDEnabledLD(PCDA cda) {
    return AnyDriveHas(cda, VK_EnumerateControllerLogicalDrives, kInvalidLDNumber,
                       VK_GetLogicalDriveEncryptionInfo, kLDSEDEnabled);
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
    return AdapterPasswordInTheWay(*info, kCanChangeControllerSEDEncryptionMasterKeyPendingAdapterPassword,
                                   kCanChangeControllerSEDEncryptionMasterKeyWaitingOnAdapterPassword,
                                   kCanChangeControllerSEDEncryptionMasterKeyAllowed);
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
    StageCredential(*info, info->new_master_key, kStagedMasterKey, master_key, master_key_size);
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
    return AdapterPasswordInTheWay(
        *info, kCanChangeControllerSEDEncryptionMasterKeyIdentifierAdapterPassword,
        kCanChangeControllerSEDEncryptionMasterKeyIdentifierWaitingOnAdapterPassword,
        kCanChangeControllerSEDEncryptionMasterKeyIdentifierAllowed);
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
    StageCredential(*info, info->new_adapter_password, kStagedAdapterPassword, password, password_size);
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

// ---- Drive ownership, import and revert --------------------------------------------------------

namespace {

constexpr VK_DWORD kManagedSEDRevert = 6;
constexpr VK_DWORD kManagedSEDRevertPSID = 7;
constexpr VK_DWORD kManagedSEDTakeOwnership = 8;
constexpr VK_DWORD kManagedSEDImportForeign = 10;

constexpr VK_QWORD kSEDWordWaiting = kSEDWordWaitingOnAdapterPassword | kSEDWordWaitingOnMasterKey;
constexpr VK_QWORD kPDLocked = static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusLocked)
                               << kPhysicalDriveEncryptionSEDSecurityStatusShift;
constexpr VK_DWORD kPDSMR =
    kPhysicalDriveRecordingSMRHA | kPhysicalDriveRecordingSMRHM | kPhysicalDriveRecordingSMRDM;

bool ModeNone(VK_QWORD sed_status) {
    return (sed_status & 0xF) == kControllerSEDEncryptionModeNone;
}

bool UsageFree(VK_BYTE usage) {
    return usage == kPhysicalDriveUsageUnassigned || usage == kPhysicalDriveUsageHBA ||
           usage == kPhysicalDriveUsageUnconfigurable;
}

bool MapEmpty(const VK_BYTE (&map)[telmar::kSEDDriveMapBytes]) {
    for (VK_BYTE b : map) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

bool Marked(const VK_BYTE (&map)[telmar::kSEDDriveMapBytes], VK_WORD pd_number) {
    return telmar::MapBit(map, sizeof(map), pd_number);
}

bool Mark(VK_BYTE (&map)[telmar::kSEDDriveMapBytes], VK_WORD pd_number) {
    return telmar::PutMapBit(pavlin::ByteSpan(map, sizeof(map)), pd_number);
}

// A drive number the controller can have and a drive that is there.
bool ValidDrive(PCDA cda, VK_WORD pd_number) {
    return pd_number < kMaxPhysicalDrivesSupported && pd_number != kInvalidPDNumber &&
           pd_number < VK_ControllerSupportsMaxPhysicalDriveCount(cda) &&
           VK_IsPhysicalDrivePresent(cda, pd_number);
}

telmar::SEDDriveFacts DriveFacts(PCDA cda, VK_WORD pd_number,
                                 const VK_BYTE (&map)[telmar::kSEDDriveMapBytes]) {
    telmar::SEDDriveFacts d;
    d.valid = ValidDrive(cda, pd_number);
    if (!d.valid) {
        return d;
    }
    d.status = VK_GetPhysicalDriveStatusInfo(cda, pd_number);
    d.usage = VK_GetPhysicalDriveUsageInfo(cda, pd_number);
    d.basic = VK_GetPhysicalDriveBasicInfo(cda, pd_number);
    d.encryption = VK_GetPhysicalDriveEncryptionInfo(cda, pd_number);
    d.marked = Marked(map, pd_number);
    return d;
}

// A master key the controller's current mode accepts; a foreign key or its reset key is checked
// against the rule of the mode the import runs under.
bool KeyAcceptable(PCDA cda, VK_QWORD sed_status, const char* key, size_t size) {
    return key != nullptr && size != 0 &&
           VK_CheckSEDEncryptionMasterKey(cda, static_cast<VK_BYTE>(sed_status & 0xF), key, size) ==
               kCheckSEDEncryptionMasterKeyOk;
}

// Each import call answers a refused foreign key, or reset key, with a code of its own.
struct ImportKeyRefusals {
    VK_BYTE key;
    VK_BYTE reset_key;
};

// The caller's code for the foreign key the controller's mode refuses, none when both pass. None
// given, none is checked; a reset key given alone makes the missing key a refused one.
std::optional<VK_BYTE> RefusedImportKey(PCDA cda, VK_QWORD sed_status, const char* key, size_t key_size,
                                        const char* reset_key, size_t reset_key_size,
                                        const ImportKeyRefusals& refusals) {
    const bool reset_given = reset_key != nullptr || reset_key_size != 0;
    if ((reset_given || key != nullptr || key_size != 0) && !KeyAcceptable(cda, sed_status, key, key_size)) {
        return refusals.key;
    }
    if (reset_given && !KeyAcceptable(cda, sed_status, reset_key, reset_key_size)) {
        return refusals.reset_key;
    }
    return std::nullopt;
}

// Sends one foreign-import request for the drives of `drives`, unlocked with the key and, where one
// is given, the reset key. The request, keys and all, is wiped before the controller is read again,
// which it is whether or not it took the request.
bool SendForeignImport(PCDA cda, const VK_BYTE (&drives)[telmar::kSEDDriveMapBytes], const char* key,
                       size_t key_size, const char* reset_key, size_t reset_key_size) {
    bool sent = false;
    {
        telmar::WipedRequest<MANAGED_SED_IMPORT_FOREIGN_DRIVE> request;
        memcpy(request.r.bForeignDriveBitmap, drives, sizeof(request.r.bForeignDriveBitmap));
        telmar::CopyCredential(request.r.sForeignDriveMasterKey, key, key_size);
        if (reset_key != nullptr && reset_key_size != 0) {
            telmar::CopyCredential(request.r.sResetForeignDriveMasterKey, reset_key, reset_key_size);
        }
        sent = SendSED(cda, kManagedSEDImportForeign, request.r);
    }
    VK_ReInitializeCDA(cda);
    return sent;
}

} // namespace

namespace telmar {

VK_BYTE TakeOwnershipVerdict(VK_QWORD sed_status, const SEDDriveFacts& d) {
    if (!d.valid) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipInvalidPDNumber;
    }
    if (d.status & kPhysicalDriveStatusFailed) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipFailedPD;
    }
    if (d.usage != kPhysicalDriveUsageUnassigned && d.usage != kPhysicalDriveUsageHBA) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipInvalidUsage;
    }
    if (!(d.encryption & kPhysicalDriveEncryptionSEDDrive)) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipPDNotSED;
    }
    if (ModeNone(sed_status)) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipSEDEncryptionModeSetToNone;
    }
    if (d.encryption & (kPhysicalDriveEncryptionSEDQualificationInProgress |
                        kPhysicalDriveEncryptionSEDIsSEDOPSInProgress)) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipSEDEncryptionOperationInProgress;
    }
    if (!(d.encryption & kPhysicalDriveEncryptionSEDIsInOFS)) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipSEDNotInOFS;
    }
    if (d.marked) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipPDNumberAlreadySet;
    }
    if (d.basic & kPDSMR) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipPDNotSupported;
    }
    if (d.basic & kPhysicalDriveIsMultiActuator) {
        return kCanPhysicalDriveSEDEncryptionTakeOwnershipPDIsMultiActuator;
    }
    return kCanPhysicalDriveSEDEncryptionTakeOwnershipAllowed;
}

VK_BYTE ImportDriveVerdict(VK_QWORD sed_status, const SEDDriveFacts& d) {
    if (!d.valid) {
        return kCanPhysicalDriveSEDEncryptionImportInvalidPDNumber;
    }
    if (ModeNone(sed_status)) {
        return kCanPhysicalDriveSEDEncryptionImportModeNone;
    }
    if (!(d.encryption & kPhysicalDriveEncryptionSEDDrive)) {
        return kCanPhysicalDriveSEDEncryptionImportNotSED;
    }
    if (!IsOwnedForeignSED(d.encryption)) {
        return kCanPhysicalDriveSEDEncryptionImportNotForeignOwnedSED;
    }
    if (d.marked) {
        return kCanPhysicalDriveSEDEncryptionImportPDAlreadySet;
    }
    if (!UsageFree(d.usage)) {
        return kCanPhysicalDriveSEDEncryptionImportDriveIsConfigured;
    }
    return kCanPhysicalDriveSEDEncryptionImportAllowed;
}

VK_BYTE RevertDriveVerdict(const SEDDriveFacts& d) {
    if (!d.valid) {
        return kCanPhysicalDriveSEDEncryptionRevertInvalidPhysicalDrive;
    }
    if (d.status & kPhysicalDriveStatusFailed) {
        return kCanPhysicalDriveSEDEncryptionRevertFailedPhysicalDrive;
    }
    if (!(d.encryption & kPhysicalDriveEncryptionSEDDrive)) {
        return kCanPhysicalDriveSEDEncryptionRevertDriveIsNotASED;
    }
    if (d.encryption & kPhysicalDriveEncryptionSEDIsInOFS) {
        return kCanPhysicalDriveSEDEncryptionRevertSEDAlreadyInOFSState;
    }
    if (d.encryption & kPhysicalDriveEncryptionSEDIsForeign) {
        return kCanPhysicalDriveSEDEncryptionRevertPDIsForeign;
    }
    if (!(d.encryption & kPDOwned)) {
        return kCanPhysicalDriveSEDEncryptionRevertPDNotOwned;
    }
    if (d.marked) {
        return kCanPhysicalDriveSEDEncryptionRevertPDAlreadyPending;
    }
    if (!UsageFree(d.usage)) {
        return kCanPhysicalDriveSEDEncryptionRevertPDIsConfiguredDrive;
    }
    return kCanPhysicalDriveSEDEncryptionRevertAllowed;
}

VK_BYTE PSIDRevertVerdict(VK_QWORD sed_status, const SEDDriveFacts& d, bool psid_acceptable) {
    if (!d.valid) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDInvalidPhysicalDrive;
    }
    if (d.status & kPhysicalDriveStatusFailed) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDFailedPhysicalDrive;
    }
    if (!(d.encryption & kPhysicalDriveEncryptionSEDDrive)) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDDriveIsNotASED;
    }
    if (sed_status & (kSEDWordInProgress | kSEDWordWaiting)) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDNotAllowed;
    }
    if (!UsageFree(d.usage)) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDDriveIsConfigured;
    }
    if (!psid_acceptable) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDContainsInvalidPSID;
    }
    if (d.basic & kPDSMR) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDPhysicalDriveNotSupported;
    }
    if (d.basic & kPhysicalDriveIsMultiActuator) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDPhysicalDriveMultiActuatorDrive;
    }
    return kCanRevertPhysicalDriveSEDEncryptionPSIDAllowed;
}

bool HasValidSEDState(VK_QWORD drive_encryption) {
    return (drive_encryption & (kPhysicalDriveEncryptionSEDIsInOFS | kPDOwned)) != 0 &&
           !IsOwnedForeignSED(drive_encryption) && !(drive_encryption & kPDLocked);
}

} // namespace telmar

// The take-ownership, import and revert records are opened, asked about a drive, marked and
// destroyed alike. Each kind below names its record and the map in it, what in the controller's
// state refuses a new record, its verdict on one drive and its answers.

namespace {

struct TakeOwnershipSelection {
    using Info = PD_SED_ENCRYPTION_TAKE_OWNERSHIP_INFO;
    static constexpr VK_BYTE kOpenSuccess = kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateSuccess;
    static constexpr VK_BYTE kOpenInvalidArgument =
        kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateInvalidArgument;
    static constexpr VK_BYTE kOpenNotSupported =
        kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateNotSupported;
    static constexpr VK_BYTE kOpenOutOfMemory =
        kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateOutOfMemory;
    static constexpr VK_BYTE kCanInvalidArgument =
        kCanPhysicalDriveSEDEncryptionTakeOwnershipInvalidArguments;
    static constexpr VK_BYTE kCanAllowed = kCanPhysicalDriveSEDEncryptionTakeOwnershipAllowed;
    static constexpr VK_BYTE kDoSuccess = kDoPhysicalDriveSEDEncryptionTakeOwnershipSuccess;
    static constexpr VK_BYTE kDoFailure = kDoPhysicalDriveSEDEncryptionTakeOwnershipFailure;
    static constexpr VK_BYTE kUpdateSuccess = kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoSuccess;
    static constexpr VK_BYTE kUpdateInvalidArgument =
        kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoInvalidArgument;
    static constexpr VK_BYTE kUpdateNoChanges = kUpdatePhysicalDriveSEDEncryptionTakeOwnershipNoChanges;
    static constexpr VK_BYTE kUpdateFailure = kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoFailure;
    static constexpr VK_DWORD kFunction = kManagedSEDTakeOwnership;

    static auto& Request(Info& info) { return info.pd_list_bitmap; }
    static auto& Map(Info& info) { return info.pd_list_bitmap.bDriveMap; }
    static VK_BYTE Refusal(PCDA, VK_QWORD sed_status) {
        if (sed_status & (kSEDWordInProgress | kSEDWordWaiting)) {
            return kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateNotAllowed;
        }
        if (ModeNone(sed_status)) {
            return kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateModeNone;
        }
        return kOpenSuccess;
    }
    static VK_BYTE Verdict(Info& info, VK_WORD pd_number) {
        return telmar::TakeOwnershipVerdict(VK_GetControllerSEDEncryptionStatus(info.cda),
                                            DriveFacts(info.cda, pd_number, Map(info)));
    }
};

// Its apply takes the foreign keys as well, so VK_UpdatePhysicalDriveSEDEncryptionImportInfo sends it itself.
struct ImportSelection {
    using Info = PD_SED_ENCRYPTION_IMPORT_INFO;
    static constexpr VK_BYTE kOpenSuccess = kGetPhysicalDriveSEDEncryptionImportForUpdateSuccess;
    static constexpr VK_BYTE kOpenInvalidArgument =
        kGetPhysicalDriveSEDEncryptionImportForUpdateInvalidArgument;
    static constexpr VK_BYTE kOpenNotSupported = kGetPhysicalDriveSEDEncryptionImportForUpdateNotSupported;
    static constexpr VK_BYTE kOpenOutOfMemory = kGetPhysicalDriveSEDEncryptionImportForUpdateOutOfMemory;
    static constexpr VK_BYTE kCanInvalidArgument = kCanPhysicalDriveSEDEncryptionImportInvalidInput;
    static constexpr VK_BYTE kCanAllowed = kCanPhysicalDriveSEDEncryptionImportAllowed;
    static constexpr VK_BYTE kDoSuccess = kDoPhysicalDriveSEDEncryptionImportSuccess;
    static constexpr VK_BYTE kDoFailure = kDoPhysicalDriveSEDEncryptionImportFailure;

    static auto& Map(Info& info) { return info.import_foreign_drive.bForeignDriveBitmap; }
    static VK_BYTE Refusal(PCDA cda, VK_QWORD sed_status) {
        if (ModeNone(sed_status)) {
            return kGetPhysicalDriveSEDEncryptionImportForUpdateModeNone;
        }
        if (sed_status & (kSEDWordInProgress | kSEDWordWaiting)) {
            return kGetPhysicalDriveSEDEncryptionImportForUpdateNotAllowed;
        }
        if (VK_EnumerateControllerForeignSED(cda, kInvalidPDNumber) == kInvalidPDNumber) {
            return kGetPhysicalDriveSEDEncryptionImportForUpdateNoForeignSED;
        }
        return kOpenSuccess;
    }
    static VK_BYTE Verdict(Info& info, VK_WORD pd_number) {
        return telmar::ImportDriveVerdict(VK_GetControllerSEDEncryptionStatus(info.cda),
                                          DriveFacts(info.cda, pd_number, Map(info)));
    }
};

struct RevertSelection {
    using Info = PD_SED_ENCRYPTION_REVERT_INFO;
    static constexpr VK_BYTE kOpenSuccess = kGetPhysicalDriveSEDEncryptionRevertForUpdateSuccess;
    static constexpr VK_BYTE kOpenInvalidArgument =
        kGetPhysicalDriveSEDEncryptionRevertForUpdateInvalidArgument;
    static constexpr VK_BYTE kOpenNotSupported = kGetPhysicalDriveSEDEncryptionRevertForUpdateNotSupported;
    static constexpr VK_BYTE kOpenOutOfMemory = kGetPhysicalDriveSEDEncryptionRevertForUpdateOutOfMemory;
    static constexpr VK_BYTE kCanInvalidArgument = kCanPhysicalDriveSEDEncryptionRevertInvalidArgument;
    static constexpr VK_BYTE kCanAllowed = kCanPhysicalDriveSEDEncryptionRevertAllowed;
    static constexpr VK_BYTE kDoSuccess = kDoPhysicalDriveSEDEncryptionRevertSuccess;
    static constexpr VK_BYTE kDoFailure = kDoPhysicalDriveSEDEncryptionRevertFailure;
    static constexpr VK_BYTE kUpdateSuccess = kUpdatePhysicalDriveSEDEncryptionRevertInfoSuccess;
    static constexpr VK_BYTE kUpdateInvalidArgument =
        kUpdatePhysicalDriveSEDEncryptionRevertInfoInvalidArgument;
    static constexpr VK_BYTE kUpdateNoChanges = kUpdatePhysicalDriveSEDEncryptionRevertInfoNoChanges;
    static constexpr VK_BYTE kUpdateFailure = kUpdatePhysicalDriveSEDEncryptionRevertInfoFailed;
    static constexpr VK_DWORD kFunction = kManagedSEDRevert;

    static auto& Request(Info& info) { return info.drive_map; }
    static auto& Map(Info& info) { return info.drive_map.bDriveMap; }
    static VK_BYTE Refusal(PCDA, VK_QWORD sed_status) {
        if (ModeNone(sed_status)) {
            return kGetPhysicalDriveSEDEncryptionRevertForUpdateModeNone;
        }
        if (sed_status & (kSEDWordInProgress | kSEDWordWaiting)) {
            return kGetPhysicalDriveSEDEncryptionRevertForUpdateNotAllowed;
        }
        return kOpenSuccess;
    }
    static VK_BYTE Verdict(Info& info, VK_WORD pd_number) {
        return telmar::RevertDriveVerdict(DriveFacts(info.cda, pd_number, Map(info)));
    }
};

template <class Kind> VK_BYTE OpenSelection(PCDA cda, void** record) {
    if (record == nullptr) {
        return Kind::kOpenInvalidArgument;
    }
    *record = nullptr;
    if (cda == nullptr) {
        return Kind::kOpenInvalidArgument;
    }
    CDALock guard(cda);
    if (!SEDSupported(cda)) {
        return Kind::kOpenNotSupported;
    }
    const VK_BYTE refused = Kind::Refusal(cda, VK_GetControllerSEDEncryptionStatus(cda));
    if (refused != Kind::kOpenSuccess) {
        return refused;
    }
    using Info = typename Kind::Info;
    auto* info = static_cast<Info*>(VK_malloc(sizeof(Info)));
    if (info == nullptr) {
        return Kind::kOpenOutOfMemory;
    }
    memset(info, 0, sizeof(Info));
    info->cda = cda;
    *record = info;
    return Kind::kOpenSuccess;
}

template <class Kind> VK_BYTE CanMark(void* record, VK_WORD pd_number) {
    auto* info = static_cast<typename Kind::Info*>(record);
    if (info == nullptr) {
        return Kind::kCanInvalidArgument;
    }
    CDALock guard(info->cda);
    return Kind::Verdict(*info, pd_number);
}

template <class Kind> VK_BYTE DoMark(void* record, VK_WORD pd_number) {
    if (CanMark<Kind>(record, pd_number) != Kind::kCanAllowed) {
        return Kind::kDoFailure;
    }
    auto* info = static_cast<typename Kind::Info*>(record);
    return Mark(Kind::Map(*info), pd_number) ? Kind::kDoSuccess : Kind::kDoFailure;
}

// The request is the record's own map; the controller is read again whether or not it took it.
template <class Kind> VK_BYTE SendMarked(void* record) {
    auto* info = static_cast<typename Kind::Info*>(record);
    if (info == nullptr) {
        return Kind::kUpdateInvalidArgument;
    }
    CDALock guard(info->cda);
    if (MapEmpty(Kind::Map(*info))) {
        return Kind::kUpdateNoChanges;
    }
    const bool sent = SendSED(info->cda, Kind::kFunction, Kind::Request(*info));
    VK_ReInitializeCDA(info->cda);
    return sent ? Kind::kUpdateSuccess : Kind::kUpdateFailure;
}

template <class Kind> void DestroySelection(void* record) {
    if (record != nullptr) {
        explicit_bzero(record, sizeof(typename Kind::Info));
        VK_free(record);
    }
}

} // namespace

// Take ownership.

VK_BYTE VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(PCDA cda, void** pd_sed_take_ownership_info) {
    return OpenSelection<TakeOwnershipSelection>(cda, pd_sed_take_ownership_info);
}

VK_BYTE VK_CanPhysicalDriveSEDEncryptionTakeOwnership(void* pd_sed_take_ownership_info, VK_WORD pd_number) {
    return CanMark<TakeOwnershipSelection>(pd_sed_take_ownership_info, pd_number);
}

VK_BYTE VK_DoPhysicalDriveSEDEncryptionTakeOwnership(void* pd_sed_take_ownership_info, VK_WORD pd_number) {
    return DoMark<TakeOwnershipSelection>(pd_sed_take_ownership_info, pd_number);
}

VK_BYTE VK_UpdatePhysicalDriveSEDEncryptionTakeOwnershipInfo(void* pd_sed_take_ownership_info) {
    return SendMarked<TakeOwnershipSelection>(pd_sed_take_ownership_info);
}

void VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(void* pd_sed_take_ownership_info) {
    DestroySelection<TakeOwnershipSelection>(pd_sed_take_ownership_info);
}

// Import selected foreign drives.

VK_BYTE VK_GetPhysicalDriveSEDEncryptionImportForUpdate(PCDA cda, void** pd_sed_import_info) {
    return OpenSelection<ImportSelection>(cda, pd_sed_import_info);
}

VK_BYTE VK_CanPhysicalDriveSEDEncryptionImport(void* pd_sed_import_info, VK_WORD pd_number) {
    return CanMark<ImportSelection>(pd_sed_import_info, pd_number);
}

VK_BYTE VK_DoPhysicalDriveSEDEncryptionImport(void* pd_sed_import_info, VK_WORD pd_number) {
    return DoMark<ImportSelection>(pd_sed_import_info, pd_number);
}

VK_BYTE VK_UpdatePhysicalDriveSEDEncryptionImportInfo(void* pd_sed_import_info, const char* foreign_key,
                                                      size_t foreign_key_size, const char* foreign_reset_key,
                                                      size_t foreign_reset_key_size) {
    auto* info = static_cast<PD_SED_ENCRYPTION_IMPORT_INFO*>(pd_sed_import_info);
    if (info == nullptr) {
        return kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidArgument;
    }
    if (foreign_key == nullptr || foreign_key_size == 0) {
        return kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey;
    }
    if ((foreign_reset_key != nullptr) != (foreign_reset_key_size != 0)) {
        return kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignResetKey;
    }
    PCDA cda = info->cda;
    CDALock guard(cda);
    auto& map = ImportSelection::Map(*info);
    if (MapEmpty(map)) {
        return kUpdatePhysicalDriveSEDEncryptionImportInfoNoChanges;
    }
    if (const auto refused = RefusedImportKey(
            cda, VK_GetControllerSEDEncryptionStatus(cda), foreign_key, foreign_key_size, foreign_reset_key,
            foreign_reset_key_size,
            {.key = kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey,
             .reset_key = kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignResetKey})) {
        return *refused;
    }
    return SendForeignImport(cda, map, foreign_key, foreign_key_size, foreign_reset_key,
                             foreign_reset_key_size)
               ? kUpdatePhysicalDriveSEDEncryptionImportInfoSuccess
               : kUpdatePhysicalDriveSEDEncryptionImportInfoFailure;
}

void VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(void* pd_sed_import_info) {
    DestroySelection<ImportSelection>(pd_sed_import_info);
}

// Revert owned drives to their factory state.

VK_BYTE VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(PCDA cda, void** pd_sed_revert_info) {
    return OpenSelection<RevertSelection>(cda, pd_sed_revert_info);
}

VK_BYTE VK_CanPhysicalDriveSEDEncryptionRevert(void* pd_sed_revert_info, VK_WORD pd_number) {
    return CanMark<RevertSelection>(pd_sed_revert_info, pd_number);
}

VK_BYTE VK_DoPhysicalDriveSEDEncryptionRevert(void* pd_sed_revert_info, VK_WORD pd_number) {
    return DoMark<RevertSelection>(pd_sed_revert_info, pd_number);
}

VK_BYTE VK_UpdatePhysicalDriveSEDEncryptionRevertInfo(void* pd_sed_revert_info) {
    return SendMarked<RevertSelection>(pd_sed_revert_info);
}

void VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(void* pd_sed_revert_info) {
    DestroySelection<RevertSelection>(pd_sed_revert_info);
}

// Import every owned foreign SED.

VK_BYTE VK_CanImportControllerForeignSED(PCDA cda, const char* foreign_key, size_t foreign_key_size,
                                         const char* foreign_reset_key, size_t foreign_reset_key_size) {
    if (cda == nullptr) {
        return kCanImportControllerForeignSEDEncryptionNotSupported;
    }
    CDALock guard(cda);
    if (!SEDSupported(cda)) {
        return kCanImportControllerForeignSEDEncryptionNotSupported;
    }
    const VK_QWORD status = VK_GetControllerSEDEncryptionStatus(cda);
    if (ModeNone(status)) {
        return kCanImportControllerForeignSEDEncryptionModeNone;
    }
    if (status & kSEDWordWaitingOnAdapterPassword) {
        return kCanImportControllerForeignSEDWaitingOnSEDAdapterPassword;
    }
    if (status & kSEDWordInProgress) {
        return kCanImportControllerForeignSEDOperationsInProgress;
    }
    if (VK_EnumerateControllerForeignSED(cda, kInvalidPDNumber) == kInvalidPDNumber) {
        return kCanImportControllerForeignSEDNoForeignOwnedSED;
    }
    return RefusedImportKey(cda, status, foreign_key, foreign_key_size, foreign_reset_key,
                            foreign_reset_key_size,
                            {.key = kCanImportControllerForeignSEDInvalidForeignMasterKey,
                             .reset_key = kCanImportControllerForeignSEDInvalidForeignResetMasterKey})
        .value_or(kCanImportControllerForeignSEDAllowed);
}

VK_BYTE VK_DoImportControllerForeignSED(PCDA cda, const char* foreign_key, size_t foreign_key_size,
                                        const char* foreign_reset_key, size_t foreign_reset_key_size) {
    if (cda == nullptr || foreign_key == nullptr || foreign_key_size == 0) {
        return kDoImportControllerForeignSEDFailure;
    }
    CDALock guard(cda);
    if (VK_CanImportControllerForeignSED(cda, foreign_key, foreign_key_size, foreign_reset_key,
                                         foreign_reset_key_size) != kCanImportControllerForeignSEDAllowed) {
        return kDoImportControllerForeignSEDFailure;
    }
    VK_BYTE drives[telmar::kSEDDriveMapBytes] = {};
    VK_WORD pd = kInvalidPDNumber;
    FOREACH_FOREIGN_SED(cda, pd) {
        Mark(drives, pd);
    }
    return SendForeignImport(cda, drives, foreign_key, foreign_key_size, foreign_reset_key,
                             foreign_reset_key_size)
               ? kDoImportControllerForeignSEDSuccess
               : kDoImportControllerForeignSEDFailure;
}

// PSID revert of one drive.

VK_BYTE VK_CanRevertPhysicalDriveSEDEncryptionPSID(PCDA cda, VK_WORD pd_number, const char* psid,
                                                   size_t psid_size) {
    if (cda == nullptr) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDNotSupported;
    }
    CDALock guard(cda);
    if (!SEDSupported(cda)) {
        return kCanRevertPhysicalDriveSEDEncryptionPSIDNotSupported;
    }
    bool psid_acceptable = true;
    if (psid != nullptr || psid_size != 0) {
        psid_acceptable = psid != nullptr && psid_size != 0 &&
                          VK_CheckSEDEncryptionPhysicalDrivePSID(psid, strnlen(psid, psid_size)) ==
                              kCheckSEDEncryptionPhysicalDrivePSIDOk;
    }
    const VK_BYTE no_map[telmar::kSEDDriveMapBytes] = {};
    return telmar::PSIDRevertVerdict(VK_GetControllerSEDEncryptionStatus(cda),
                                     DriveFacts(cda, pd_number, no_map), psid_acceptable);
}

VK_BYTE VK_DoRevertPhysicalDriveSEDEncryptionPSID(PCDA cda, VK_WORD pd_number, const char* psid,
                                                  size_t psid_size) {
    if (cda == nullptr || psid == nullptr || psid_size == 0) {
        return kDoRevertPhysicalDriveSEDEncryptionPSIDFailure;
    }
    CDALock guard(cda);
    if (VK_CanRevertPhysicalDriveSEDEncryptionPSID(cda, pd_number, psid, psid_size) !=
        kCanRevertPhysicalDriveSEDEncryptionPSIDAllowed) {
        return kDoRevertPhysicalDriveSEDEncryptionPSIDFailure;
    }
    bool sent = false;
    {
        telmar::WipedRequest<MANAGED_SED_REVERT_PSID> request;
        pavlin::ByteSpan(&request.r, sizeof(request.r))
            .put_le32(offsetof(MANAGED_SED_REVERT_PSID, dwDriveIndex), pd_number);
        telmar::CopyCredential(request.r.sPSID, psid, psid_size);
        sent = SendSED(cda, kManagedSEDRevertPSID, request.r);
    }
    if (!sent) {
        return kDoRevertPhysicalDriveSEDEncryptionPSIDFailure;
    }
    VK_ReInitializeCDA(cda);
    return kDoRevertPhysicalDriveSEDEncryptionPSIDSuccess;
}

// ---- SED encryption on arrays ------------------------------------------------------------------

namespace {

constexpr VK_BYTE kSEDTypeNone = 1, kSEDTypeOPAL = 2, kSEDTypeEnterprise = 4;
constexpr VK_DWORD kPDStatusAnyFailed = kPhysicalDriveStatusFailed | kPhysicalDriveStatusFailedDueToPSA |
                                        kPhysicalDriveStatusFailedDueToHotRemoval |
                                        kPhysicalDriveStatusFailedDueSEDQualification;

VK_BYTE CommonSEDType(PCDA cda, VK_WORD editable_array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    return array != nullptr ? array->common_sed_type : 0;
}

bool SpareOf(PCDA cda, VK_WORD editable_array_number, VK_WORD pd_number) {
    VK_WORD spare = kInvalidPDNumber;
    while ((spare = VK_EnumerateEditableArraySpareDrives(cda, editable_array_number, spare)) !=
           kInvalidPDNumber) {
        if (spare == pd_number) {
            return true;
        }
    }
    return false;
}

bool AnyStagedLUCache(PCDA cda, VK_WORD editable_array_number) {
    VK_WORD ld = kInvalidLDNumber;
    while ((ld = VK_EnumerateEditableArrayLogicalDrives(cda, editable_array_number, ld)) !=
           kInvalidLDNumber) {
        if (VK_GetEditableLogicalDriveLUCacheNumber(cda, ld) != kInvalidLDNumber) {
            return true;
        }
    }
    return false;
}

VK_BYTE CanEnableEditableArraySED(PCDA cda, VK_WORD editable_array_number) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kCanEnableEditableArraySEDEncryptionNoEditableConfiguration;
    }
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return kCanEnableEditableArraySEDEncryptionInvalidEditableArray;
    }
    if (config->flags & kEditableConfigEncryptionEnabled) {
        return kCanEnableEditableArraySEDEncryptionCBEEnabled;
    }
    if (!SEDSupported(cda)) {
        return kCanEnableEditableArraySEDEncryptionNotSupported;
    }
    if (!(config->controller_sed_encryption_status & kSEDWordEnabled)) {
        return kCanEnableEditableArraySEDEncryptionNotEnabled;
    }
    if (config->controller_sed_encryption_status & kSEDWordWaitingOnAdapterPassword) {
        return kCanEnableEditableArraySEDEncryptionWaitingOnAdapterPassword;
    }
    if (array->flags & kEditableArrSEDEncryption) {
        return kCanEnableEditableArraySEDEncryptionAlreadyEnabled;
    }
    if (VK_GetEditableArraySpareType(cda, editable_array_number) == kSpareDriveTypeDedicated &&
        __VK_IsDedicatedSpareSharedWithOtherArray(cda, editable_array_number)) {
        return kCanEnableEditableArraySEDEncryptionHasSharedDedicatedSpare;
    }
    const VK_DWORD status = VK_GetEditableArrayStatusInfo(cda, editable_array_number);
    if ((array->flags & kEditableArrNew) || status == kArrayStatusOK ||
        status == kArrayStatusHasUnlockedLogicalDrive) {
        if (AnyStagedLUCache(cda, editable_array_number)) {
            return kCanEnableEditableArraySEDEncryptionHasDataOrLUCacheAssociation;
        }
    } else {
        return kCanEnableEditableArraySEDEncryptionArrayStatusNotOK;
    }
    if (__VK_EditableArrayHasNonSEDDrives(cda, editable_array_number)) {
        return kCanEnableEditableArraySEDEncryptionContainsNonSEDDrive;
    }
    if (__VK_EditableArrayHasMixedSEDDrives(cda, editable_array_number)) {
        return kCanEnableEditableArraySEDEncryptionMixedSEDDriveTypes;
    }
    if (__VK_EditableArrayHasInvalidSEDStatus(cda, editable_array_number)) {
        return kCanEnableEditableArraySEDEncryptionSEDStatusNotSupported;
    }
    return kCanEnableEditableArraySEDEncryptionAllowed;
}

VK_BYTE CanImportForeignSEDArray(PCDA cda, VK_WORD array_number, const char* foreign_key,
                                 size_t foreign_key_size, const char* foreign_reset_key,
                                 size_t foreign_reset_key_size) {
    if (!SEDSupported(cda)) {
        return kCanImportForeignSEDArraySEDEncryptionNotSupported;
    }
    const VK_QWORD status = VK_GetControllerSEDEncryptionStatus(cda);
    if (!(status & kSEDWordEnabled)) {
        return kCanImportForeignSEDArrayControllerSEDEncryptionNotEnabled;
    }
    if (status & kSEDWordWaitingOnAdapterPassword) {
        return kCanImportForeignSEDArrayWaitingOnSEDAdapterPassword;
    }
    const VK_WORD first_ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
    if (first_ld != kInvalidLDNumber && !(VK_GetLogicalDriveEncryptionInfo(cda, first_ld) & kLDSEDEnabled)) {
        return kCanImportForeignSEDArraySEDEncryptionNotEnabled;
    }
    if (!(VK_GetArrayStatusInfo(cda, array_number) & kArrayStatusHasSEDForeignLogicalDrive)) {
        return kCanImportForeignSEDArrayNoForeignLogicalDrives;
    }
    if (const auto refused = RefusedImportKey(
            cda, status, foreign_key, foreign_key_size, foreign_reset_key, foreign_reset_key_size,
            {.key = kCanImportForeignSEDArrayInvalidForeignKey,
             .reset_key = kCanImportForeignSEDArrayInvalidForeignResetKey})) {
        return *refused;
    }
    bool usable_drive = false;
    VK_WORD pd = kInvalidPDNumber;
    while ((pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, pd)) != kInvalidPDNumber) {
        if (!(VK_GetPhysicalDriveStatusInfo(cda, pd) & kPDStatusAnyFailed)) {
            usable_drive = true;
            break;
        }
    }
    if (!usable_drive) {
        return kCanImportForeignSEDArrayFailedPhysicalDrive;
    }
    return kCanImportForeignSEDArrayAllowed;
}

} // namespace

VK_BOOL __VK_EditableArrayHasNonSEDDrives(PCDA cda, VK_WORD editable_array_number) {
    CDALock guard(cda);
    return (CommonSEDType(cda, editable_array_number) & kSEDTypeNone) ? kTrue : kFalse;
}

VK_BOOL __VK_EditableArrayHasMixedSEDDrives(PCDA cda, VK_WORD editable_array_number) {
    CDALock guard(cda);
    const VK_BYTE type = CommonSEDType(cda, editable_array_number);
    return ((type & kSEDTypeOPAL) && (type & kSEDTypeEnterprise)) ? kTrue : kFalse;
}

VK_BOOL __VK_EditableArrayHasInvalidSEDStatus(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    for (auto walk : {VK_EnumerateEditableArrayDataDrives, VK_EnumerateEditableArraySpareDrives}) {
        VK_WORD pd = kInvalidPDNumber;
        while ((pd = walk(cda, editable_array_number, pd)) != kInvalidPDNumber) {
            if (!telmar::HasValidSEDState(VK_GetPhysicalDriveEncryptionInfo(cda, pd))) {
                return kTrue;
            }
        }
    }
    return kFalse;
}

VK_BOOL __VK_IsDedicatedSpareSharedWithOtherArray(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD spare = kInvalidPDNumber;
    while ((spare = VK_EnumerateEditableArraySpareDrives(cda, editable_array_number, spare)) !=
           kInvalidPDNumber) {
        VK_WORD other = kInvalidArrayNumber;
        while ((other = VK_EnumerateEditableArrays(cda, other)) != kInvalidArrayNumber) {
            if (other != editable_array_number &&
                VK_GetEditableArraySpareType(cda, other) == kSpareDriveTypeDedicated &&
                SpareOf(cda, other, spare)) {
                return kTrue;
            }
        }
    }
    return kFalse;
}

VK_BYTE VK_CanEnableEditableArraySEDEncryption(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kCanEnableEditableArraySEDEncryptionNoEditableConfiguration;
    }
    CDALock guard(cda);
    return CanEnableEditableArraySED(cda, editable_array_number);
}

VK_BYTE VK_DoEnableEditableArraySEDEncryption(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kDoEnableEditableArraySEDEncryptionFailure;
    }
    CDALock guard(cda);
    if (CanEnableEditableArraySED(cda, editable_array_number) !=
        kCanEnableEditableArraySEDEncryptionAllowed) {
        return kDoEnableEditableArraySEDEncryptionFailure;
    }
    VK_WORD ld = kInvalidLDNumber;
    while ((ld = VK_EnumerateEditableArrayLogicalDrives(cda, editable_array_number, ld)) !=
           kInvalidLDNumber) {
        if (const PEDITABLE_LOGICAL_DRIVE staged = _VK_GetEditableLogicalDrive(cda, ld)) {
            staged->flags |= kEditableLDEnableSED;
        }
    }
    _VK_GetEditableArray(cda, editable_array_number)->flags |= kEditableArrSEDEncryption;
    return kDoEnableEditableArraySEDEncryptionSuccess;
}

VK_BYTE VK_CanImportForeignSEDArray(PCDA cda, VK_WORD array_number, const char* foreign_key,
                                    size_t foreign_key_size, const char* foreign_reset_key,
                                    size_t foreign_reset_key_size) {
    if (cda == nullptr) {
        return kCanImportForeignSEDArraySEDEncryptionNotSupported;
    }
    CDALock guard(cda);
    return CanImportForeignSEDArray(cda, array_number, foreign_key, foreign_key_size, foreign_reset_key,
                                    foreign_reset_key_size);
}

// The lock is held from the check to the write, so the drives named are the ones just checked.
VK_BYTE VK_DoImportForeignSEDArray(PCDA cda, VK_WORD array_number, const char* foreign_key,
                                   size_t foreign_key_size, const char* foreign_reset_key,
                                   size_t foreign_reset_key_size) {
    if (cda == nullptr || foreign_key == nullptr || foreign_key_size == 0) {
        return kDoImportForeignSEDArrayFailure;
    }
    CDALock guard(cda);
    if (CanImportForeignSEDArray(cda, array_number, foreign_key, foreign_key_size, foreign_reset_key,
                                 foreign_reset_key_size) != kCanImportForeignSEDArrayAllowed) {
        return kDoImportForeignSEDArrayFailure;
    }
    VK_BYTE drives[telmar::kSEDDriveMapBytes] = {};
    VK_WORD pd = kInvalidPDNumber;
    while ((pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, pd)) != kInvalidPDNumber) {
        if (!(VK_GetPhysicalDriveStatusInfo(cda, pd) & kPDStatusAnyFailed)) {
            Mark(drives, pd);
        }
    }
    return SendForeignImport(cda, drives, foreign_key, foreign_key_size, foreign_reset_key,
                             foreign_reset_key_size)
               ? kDoImportForeignSEDArraySuccess
               : kDoImportForeignSEDArrayFailure;
}
