// Pending controller-based encryption settings of the staged configuration: the key manager, the
// role passwords and the master key, the plaintext, firmware-lock and enable switches, the recovery
// question, the boot password, the key cache and each staged logical drive's encryption and volatile
// keys. The refresh keeps the change bits equal to the difference between the pending values and
// what the controller reports, so that the commit knows which writes to send and which login.
#include <algorithm>
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
#include "ptelm_status.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

constexpr VK_BYTE kUnitStatusOK = 0;
constexpr VK_BYTE kUnitStatusEncryptedWithoutKey = 20;
constexpr VK_QWORD kSEDEncryptionEnabled = static_cast<VK_QWORD>(kControllerSEDEncryptionStatusEnabled)
                                           << kControllerSEDEncryptionStatusShift;
constexpr VK_WORD kEditableArrNotData = kEditableArrSplitMirror | kEditableArrLUCache;

PEDITABLE_CONFIGURATION Config(PCDA cda) {
    return _VK_GetEditableConfiguration(cda);
}

VK_QWORD Status(PCDA cda) {
    return VK_GetControllerEncryptionStatus(cda);
}

bool Locked(PCDA cda) {
    return (Status(cda) & kControllerEncryptionControllerLocked) != 0;
}

bool Configured(PCDA cda) {
    return (Status(cda) & kControllerEncryptionCryptoOfficerPasswordSet) != 0;
}

bool Feature(PCDA cda, VK_QWORD bit) {
    return (VK_GetControllerEncryptionEnabledFeatures(cda) & bit) != 0;
}

VK_DWORD UserCapabilities(PCDA cda) {
    // 0 when the user role is not enabled.
    return VK_GetEncryptionUserCapabilities(cda, kControllerEncryptionCryptoUser);
}

bool UserLacks(PCDA cda, VK_DWORD capability) {
    return (UserCapabilities(cda) & capability) == 0;
}

VK_BYTE UnitStatus(PCDA cda, VK_WORD ld_number) {
    return static_cast<VK_BYTE>(VK_GetLogicalDriveStatusInfo(cda, ld_number) & 0xFF);
}

bool IsNew(const EDITABLE_LOGICAL_DRIVE* ld) {
    return (ld->flags & kEditableLDNewDrive) != 0;
}

bool IsLocalOrRemote(VK_BYTE mode) {
    return mode == kControllerEncryptionLocal || mode == kControllerEncryptionRemote;
}

// Calls `visit` on every staged logical drive, by number.
template <class Visit> void ForEachStagedDrive(PEDITABLE_CONFIGURATION config, Visit visit) {
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        if (config->editable_ld_list[n] != nullptr) {
            visit(n, *config->editable_ld_list[n]);
        }
    }
}

// The credential rules take a 16-bit size: a larger buffer is looked at over its first 65,535
// bytes rather than over the remainder of a wrapped size.
VK_WORD RuleSize(size_t size) {
    return static_cast<VK_WORD>(std::min<size_t>(size, 0xFFFF));
}

size_t TextLength(const char* text, size_t size) {
    return text != nullptr ? strnlen(text, size) : 0;
}

// The boot password is checked byte for byte over its size; the terminator the string forms count
// is not part of it.
size_t BootPasswordSize(const char* password, size_t size) {
    return password != nullptr && size != 0 && password[size - 1] == '\0' ? size - 1 : size;
}

// Replaces a credential field's content: the old one is wiped first, the new one copied up to the
// field's width less its terminator.
template <size_t N> void StoreCredential(char (&field)[N], const char* text, size_t length) {
    explicit_bzero(field, N);
    if (text != nullptr) {
        std::memcpy(field, text, std::min(length, N - 1));
    }
}

// A change of the staged encryption settings once its permission allows it (see ApplyIfAllowed),
// followed by the change bits' refresh under the same lock.
template <typename Value, typename Apply>
bool SetStaged(PCDA cda, Value value, VK_BYTE (*can)(PCDA, Value), VK_BYTE allowed, const char* function,
               int line, Apply apply) {
    return telmar::ApplyIfAllowed(cda, value, can, allowed, __FILE__, line, function,
                                  [cda, &apply](EDITABLE_CONFIGURATION& config) {
                                      apply(config);
                                      _VK_RefreshEditableEncryptionFlags(cda);
                                  });
}

void PutFlag(EDITABLE_CONFIGURATION& config, VK_DWORD flag, bool set) {
    if (set) {
        config.flags |= flag;
    } else {
        config.flags &= ~flag;
    }
}

// A staged switch that is one flag bit, set or cleared as `on` asks.
bool SetStagedFlag(PCDA cda, VK_BOOL on, VK_BYTE (*can)(PCDA, VK_BOOL), VK_BYTE allowed, VK_DWORD flag,
                   const char* function, int line) {
    return SetStaged(cda, on, can, allowed, function, line,
                     [on, flag](EDITABLE_CONFIGURATION& config) { PutFlag(config, flag, on != kFalse); });
}

} // namespace

// ---- Shared by both halves -----------------------------------------------------------------------

VK_BYTE _VK_GetCurrentControllerEncryption(PCDA cda) {
    return VK_GetControllerEncryption(cda);
}

VK_BOOL __VK_EditableConfigurationHasNewLogicalDrives(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return kFalse;
    }
    bool found = false;
    ForEachStagedDrive(config,
                       [&](VK_WORD, const EDITABLE_LOGICAL_DRIVE& ld) { found = found || IsNew(&ld); });
    return found ? kTrue : kFalse;
}

VK_BOOL __VK_EditableConfigurationHasEncryptedLogicalDriveOffine(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return kFalse;
    }
    bool found = false;
    ForEachStagedDrive(config, [&](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld) {
        found = found || (!IsNew(&ld) && UnitStatus(cda, n) == kUnitStatusEncryptedWithoutKey);
    });
    return found ? kTrue : kFalse;
}

// ---- Refresh -------------------------------------------------------------------------------------

void __VK_RefreshEditableEncryptionKeyManagerFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    const VK_BYTE current = _VK_GetCurrentControllerEncryption(cda);
    const VK_BYTE pending = config->encryption;
    config->flags &= ~(kEditableConfigEncryptionMode | kEditableConfigEncryptionToggle);
    if (pending != current) {
        config->flags |= kEditableConfigEncryptionMode;
    }
    if (pending != kControllerEncryptionNone) {
        const bool enabled_now = (Status(cda) & kControllerEncryptionEnabled) != 0;
        const bool enabled_pending = (config->flags & kEditableConfigEncryptionEnabled) != 0;
        if (enabled_now != enabled_pending || (current == kControllerEncryptionNone && !enabled_pending)) {
            config->flags |= kEditableConfigEncryptionToggle;
        }
    }
    if ((config->flags & (kEditableConfigEncryptionMode | kEditableConfigEncryptionToggle)) &&
        current != kControllerEncryptionNone && current != kControllerEncryptionExpressLocal &&
        pending != kControllerEncryptionNone && pending != kControllerEncryptionExpressLocal &&
        UserLacks(cda, kEncryptionUserCapabilitySetControlEncryption)) {
        config->flags |= kEditableConfigLoginRequired;
    }
}

void __VK_RefreshEditableEncryptionAllowPlaintextSetting(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    config->flags &= ~kEditableConfigAllowPlaintext;
    const bool now = (Status(cda) & kControllerEncryptionMixedVolumesEnabled) != 0;
    const bool pending = (config->flags & kEditableConfigPlaintextAllowed) != 0;
    if (now != pending) {
        config->flags |= kEditableConfigAllowPlaintext;
        if (UserLacks(cda, kEncryptionUserCapabilitySetControlEncryption)) {
            config->flags |= kEditableConfigLoginRequired;
        }
    }
}

void __VK_RefreshEditableEncryptionEncodeLogicalDriveFlags(PCDA cda, VK_WORD ld_number) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (config == nullptr || ld == nullptr) {
        return;
    }
    const bool pending_encrypted = (ld->flags & kEditableLDEncrypted) != 0;
    if (IsNew(ld)) {
        // A new plaintext drive is created and then rekeyed to plaintext.
        if (!pending_encrypted) {
            config->flags |= kEditableConfigLogicalDriveEncryption;
        }
        return;
    }
    const bool encrypted_now =
        (VK_GetLogicalDriveEncryptionInfo(cda, ld_number) & kLogicalDriveEncryptionEnabled) != 0;
    if (pending_encrypted != encrypted_now) {
        config->flags |= kEditableConfigLogicalDriveEncryption;
    }
}

void __VK_RefreshEditableEncryptionLogicalDriveVolatileKeyFlags(PCDA cda, VK_WORD ld_number) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, ld_number);
    if (config == nullptr || ld == nullptr) {
        return;
    }
    ld->flags &= ~kEditableLDVolatileKeyChanged;
    const bool key = (ld->flags & kEditableLDVolatileKey) != 0;
    bool mark = false;
    if (IsNew(ld)) {
        mark = key;
    } else {
        const VK_DWORD word = VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
        const bool backup = (ld->flags & kEditableLDVolatileKeyBackup) != 0;
        mark = key != static_cast<bool>(VOLATILE_KEY_ENABLED(word)) ||
               backup != static_cast<bool>(VOLATILE_KEY_BACKUP_ENABLED(word));
    }
    if (mark) {
        ld->flags |= kEditableLDVolatileKeyChanged;
        config->flags |= kEditableConfigVolatileKeys;
    }
}

void __VK_RefreshEditableEncryptionLogicalDriveFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    config->flags &= ~(kEditableConfigVolatileKeys | kEditableConfigLogicalDriveEncryption);
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        if (config->editable_ld_list[n] != nullptr) {
            __VK_RefreshEditableEncryptionEncodeLogicalDriveFlags(cda, n);
            __VK_RefreshEditableEncryptionLogicalDriveVolatileKeyFlags(cda, n);
        }
    }
    if (((config->flags & kEditableConfigLogicalDriveEncryption) &&
         UserLacks(cda, kEncryptionUserCapabilityRekey)) ||
        ((config->flags & kEditableConfigVolatileKeys) &&
         UserLacks(cda, kEncryptionUserCapabilitySetDEKStorage))) {
        config->flags |= kEditableConfigLoginRequired;
    }
}

void __VK_RefreshEditableEncryptionFirmwareLockFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    config->flags &= ~kEditableConfigFirmwareLock;
    const bool now = (Status(cda) & kControllerEncryptionFwLocked) != 0;
    const bool pending = (config->flags & kEditableConfigFirmwareLocked) != 0;
    if (now != pending) {
        config->flags |= kEditableConfigFirmwareLock;
        if (UserLacks(cda, kEncryptionUserCapabilitySetControllerFWLock)) {
            config->flags |= kEditableConfigLoginRequired;
        }
    }
}

namespace {

VK_BYTE CurrentBootPasswordState(PCDA cda) {
    const VK_QWORD status = Status(cda);
    if (!(status & kControllerEncryptionBootPasswordSet)) {
        return kEncryptionBootPasswordUnset;
    }
    return (status & kControllerEncryptionBootPasswordSuspended) ? kEncryptionBootPasswordDisabled
                                                                 : kEncryptionBootPasswordEnabled;
}

} // namespace

void __VK_RefreshEditableEncryptionBootPasswordFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    const VK_BYTE current = CurrentBootPasswordState(cda);
    const VK_BYTE pending = config->encryption_boot_password_state;
    config->flags &= ~kEditableConfigBootPasswordState;
    if (pending != current) {
        config->flags |= kEditableConfigBootPasswordState;
        if (UserLacks(cda, kEncryptionUserCapabilitySetBootPassword)) {
            config->flags |= kEditableConfigLoginRequired;
        }
    } else if (pending == kEncryptionBootPasswordUnset) {
        // No boot password is wanted: one entered before is dropped, and not kept in memory.
        if (config->flags & kEditableConfigBootPassword) {
            config->flags &= ~kEditableConfigBootPassword;
            explicit_bzero(config->encryption_boot_password, sizeof(config->encryption_boot_password));
        }
    }
}

void __VK_RefreshEditableEncryptionKeyCacheFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    // Never cleared here: once the key cache was set, the commit writes it.
    if (config->encryption_key_cache_state != VK_GetControllerEncryptionKeyCacheStatus(cda)) {
        config->flags |= kEditableConfigKeyCache;
        if (UserLacks(cda, kEncryptionUserCapabilitySetKekCache)) {
            config->flags |= kEditableConfigLoginRequired;
        }
    }
}

void _VK_RefreshEditableEncryptionFlags(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return;
    }
    config->flags &= ~kEditableConfigLoginRequired;
    __VK_RefreshEditableEncryptionKeyManagerFlags(cda);
    __VK_RefreshEditableEncryptionAllowPlaintextSetting(cda);
    __VK_RefreshEditableEncryptionLogicalDriveFlags(cda);
    __VK_RefreshEditableEncryptionFirmwareLockFlags(cda);
    __VK_RefreshEditableEncryptionBootPasswordFlags(cda);
    __VK_RefreshEditableEncryptionKeyCacheFlags(cda);
    struct Need {
        VK_DWORD change;
        VK_DWORD capability;
    };
    constexpr Need kNeeds[] = {
        {kEditableConfigCryptoOfficerPassword, kEncryptionUserCapabilityChangeCryptoPassword},
        {kEditableConfigUserPassword, kEncryptionUserCapabilityChangeUserPassword},
        {kEditableConfigMasterKey, kEncryptionUserCapabilitySetMasterKey},
        {kEditableConfigBootPassword, kEncryptionUserCapabilitySetBootPassword},
    };
    for (const Need& need : kNeeds) {
        if ((config->flags & need.change) && UserLacks(cda, need.capability)) {
            config->flags |= kEditableConfigLoginRequired;
        }
    }
}

// ---- Getters -------------------------------------------------------------------------------------

VK_BYTE VK_GetEditableControllerEncryption(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::encryption, kControllerEncryptionInvalid);
}

VK_BYTE VK_GetEditableControllerEncryptionPlaintextAllowed(PCDA cda) {
    const auto read = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        return (config.flags & kEditableConfigPlaintextAllowed) ? kControllerPlaintextEnabled
                                                                : kControllerPlaintextDisabled;
    };
    return telmar::StagedAnswer(cda, kControllerPlaintextInvalid, read);
}

VK_BOOL VK_GetEditableControllerEncryptionToggle(PCDA cda) {
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = Config(cda);
    return config != nullptr && (config->flags & kEditableConfigEncryptionEnabled) ? kTrue : kFalse;
}

VK_BYTE VK_GetEditableControllerFirmwareLock(PCDA cda) {
    const auto read = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        return (config.flags & kEditableConfigFirmwareLocked) ? kControllerFirmwareLocked
                                                              : kControllerFirmwareUnlocked;
    };
    return telmar::StagedAnswer(cda, kControllerFirmwareLockInvalid, read);
}

// ---- Master key ----------------------------------------------------------------------------------

VK_BYTE VK_CanSetEditableControllerEncryptionKeySafe(PCDA cda, const char* key, size_t key_size) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableControllerEncryptionKeyEncryptionUnconfigured;
        }
        const VK_QWORD status = Status(cda);
        if (status & kControllerEncryptionControllerLocked) {
            return kCanSetEditableControllerEncryptionKeyControllerStatusNotOK;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableControllerEncryptionKeyUsingExpressEncryption;
        }
        const bool configured = (status & kControllerEncryptionCryptoOfficerPasswordSet) != 0;
        if (configured && (config.flags & kEditableConfigMasterKeyKnown) &&
            !Feature(cda, kEncryptionFeatureMasterKeyRekey)) {
            return kCanSetEditableControllerEncryptionKeyChangeNotEnabled;
        }
        if (configured && __VK_EditableConfigurationHasEncryptedLogicalDriveOffine(cda)) {
            return kCanSetEditableControllerEncryptionKeyOfflineEncryptedDriveExists;
        }
        if (status & kControllerEncryptionMasterKeyResetInProgress) {
            return kCanSetEditableControllerEncryptionKeyMasterKeyResetInProgress;
        }
        if (key != nullptr && key_size == 0) {
            return kCanSetEditableControllerEncryptionKeyInvalidKeySize;
        }
        if (key == nullptr) {
            return kCanSetEditableControllerEncryptionKeyOK;
        }
        if (TextLength(key, key_size) != 0) {
            return VK_CheckEncryptionMasterKey(cda, config.encryption, key, RuleSize(key_size)) ==
                           kCheckEncryptionMasterKeyOk
                       ? kCanSetEditableControllerEncryptionKeyOK
                       : kCanSetEditableControllerEncryptionKeyInvalidKey;
        }
        // An empty key cancels a key entered before.
        return configured && (config.flags & kEditableConfigMasterKey)
                   ? kCanSetEditableControllerEncryptionKeyOK
                   : kCanSetEditableControllerEncryptionKeyInvalidKey;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableControllerEncryptionKeyNoEditableConfig, check);
}

VK_BYTE VK_SetEditableControllerEncryptionKeySafe(PCDA cda, const char* key, size_t key_size) {
    if (key == nullptr || key_size == 0) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %p):%u\n", __FILE__, __LINE__, __func__, cda,
                    static_cast<const void*>(key), kSetEditableControllerEncryptionKeyFailed);
        return kSetEditableControllerEncryptionKeyFailed;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const size_t length = TextLength(key, key_size);
    const VK_BYTE mode = config != nullptr ? config->encryption : kControllerEncryptionInvalid;
    const VK_BYTE rule = length != 0 ? VK_CheckEncryptionMasterKey(cda, mode, key, RuleSize(key_size))
                                     : kCheckEncryptionMasterKeyOk;
    const VK_BYTE can = VK_CanSetEditableControllerEncryptionKeySafe(cda, key, key_size);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %p:%u):%u\n", __FILE__, __LINE__, __func__, cda,
                static_cast<const void*>(key), rule, can);
    if (can != kCanSetEditableControllerEncryptionKeyOK || rule != kCheckEncryptionMasterKeyOk) {
        return kSetEditableControllerEncryptionKeyFailed;
    }
    if (length != 0) {
        StoreCredential(config->encryption_key, key, length);
        config->flags |= kEditableConfigMasterKey | kEditableConfigMasterKeyKnown;
    } else {
        config->flags &= ~kEditableConfigMasterKey;
        explicit_bzero(config->encryption_key, sizeof(config->encryption_key));
    }
    _VK_RefreshEditableEncryptionFlags(cda);
    return kSetEditableControllerEncryptionKeyOK;
}

VK_BYTE VK_CanSetEditableControllerEncryptionKey(PCDA cda, const char* key) {
    return VK_CanSetEditableControllerEncryptionKeySafe(cda, key, telmar::StringSize(key));
}

VK_BYTE VK_SetEditableControllerEncryptionKey(PCDA cda, const char* key) {
    return VK_SetEditableControllerEncryptionKeySafe(cda, key, telmar::StringSize(key));
}

// ---- Role passwords ------------------------------------------------------------------------------

VK_BYTE VK_CanSetEditableControllerEncryptionPasswordSafe(PCDA cda, VK_BYTE user, const char* password,
                                                          size_t password_size) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableControllerEncryptionPasswordEncryptionUnconfigured;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableControllerEncryptionPasswordUsingExpressEncryption;
        }
        if (user != kControllerEncryptionCryptoOfficer && user != kControllerEncryptionCryptoUser) {
            return kCanSetEditableControllerEncryptionPasswordInvalidUser;
        }
        if (user == kControllerEncryptionCryptoUser && !Feature(cda, kEncryptionFeatureSetUserPassword)) {
            return kCanSetEditableControllerEncryptionPasswordUserNotEnabled;
        }
        if (password != nullptr && password_size == 0) {
            return kCanSetEditableControllerEncryptionPasswordInvalidPasswordSize;
        }
        if (password == nullptr) {
            return kCanSetEditableControllerEncryptionPasswordOK;
        }
        if (TextLength(password, password_size) != 0) {
            return VK_CheckEncryptionPassword(cda, password, RuleSize(password_size)) ==
                           kCheckEncryptionPasswordOk
                       ? kCanSetEditableControllerEncryptionPasswordOK
                       : kCanSetEditableControllerEncryptionPasswordInvalidPassword;
        }
        // An empty password cancels one entered before for a role that has one.
        const VK_QWORD status = Status(cda);
        const bool cancel = user == kControllerEncryptionCryptoOfficer
                                ? (status & kControllerEncryptionCryptoOfficerPasswordSet) &&
                                      (config.flags & kEditableConfigCryptoOfficerPassword)
                                : (status & kControllerEncryptionUserPasswordSet) &&
                                      (config.flags & kEditableConfigUserPassword);
        return cancel ? kCanSetEditableControllerEncryptionPasswordOK
                      : kCanSetEditableControllerEncryptionPasswordInvalidPassword;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableControllerEncryptionPasswordNoEditableConfig, check);
}

VK_BYTE VK_SetEditableControllerEncryptionPasswordSafe(PCDA cda, VK_BYTE user, const char* password,
                                                       size_t password_size) {
    if (password == nullptr || password_size == 0) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %p):%u\n", __FILE__, __LINE__, __func__, cda, user,
                    static_cast<const void*>(password), kSetEditableControllerEncryptionPasswordFailed);
        return kSetEditableControllerEncryptionPasswordFailed;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const size_t length = TextLength(password, password_size);
    const VK_BYTE rule = length != 0 ? VK_CheckEncryptionPassword(cda, password, RuleSize(password_size))
                                     : kCheckEncryptionPasswordOk;
    const VK_BYTE can = VK_CanSetEditableControllerEncryptionPasswordSafe(cda, user, password, password_size);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %p:%u):%u\n", __FILE__, __LINE__, __func__, cda, user,
                static_cast<const void*>(password), rule, can);
    if (can != kCanSetEditableControllerEncryptionPasswordOK || rule != kCheckEncryptionPasswordOk) {
        return kSetEditableControllerEncryptionPasswordFailed;
    }
    const VK_DWORD change = user == kControllerEncryptionCryptoOfficer ? kEditableConfigCryptoOfficerPassword
                                                                       : kEditableConfigUserPassword;
    if (length != 0) {
        StoreCredential(config->encryption_password[user], password, length);
        config->flags |= change;
        if (user == kControllerEncryptionCryptoOfficer) {
            config->flags |= kEditableConfigCryptoOfficerPasswordKnown;
        }
    } else {
        config->flags &= ~change;
        explicit_bzero(config->encryption_password[user], sizeof(config->encryption_password[user]));
    }
    _VK_RefreshEditableEncryptionFlags(cda);
    return kSetEditableControllerEncryptionPasswordOK;
}

VK_BYTE VK_CanSetEditableControllerEncryptionPassword(PCDA cda, VK_BYTE user, const char* password) {
    return VK_CanSetEditableControllerEncryptionPasswordSafe(cda, user, password,
                                                             telmar::StringSize(password));
}

VK_BYTE VK_SetEditableControllerEncryptionPassword(PCDA cda, VK_BYTE user, const char* password) {
    return VK_SetEditableControllerEncryptionPasswordSafe(cda, user, password, telmar::StringSize(password));
}

// ---- Key-manager mode ----------------------------------------------------------------------------

VK_BYTE VK_CanChangeEditableControllerEncryption(PCDA cda, VK_BYTE encryption_config) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        const VK_BYTE start = (VK_GetControllerSEDEncryptionStatus(cda) & kSEDEncryptionEnabled)
                                  ? kCanChangeEditableControllerEncryptionSEDEncryptionIsEnabled
                                  : kCanChangeEditableControllerEncryptionAllowed;
        bool missing_key = false;
        bool new_drive = false;
        bool pending_encrypted = false;
        if (start == kCanChangeEditableControllerEncryptionAllowed) {
            ForEachStagedDrive(&config, [&](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld) {
                if (IsNew(&ld)) {
                    new_drive = true;
                } else if (UnitStatus(cda, n) == kUnitStatusEncryptedWithoutKey) {
                    missing_key = true;
                }
                if (ld.flags & kEditableLDEncrypted) {
                    pending_encrypted = true;
                }
            });
        }
        const VK_BYTE current = _VK_GetCurrentControllerEncryption(cda);
        const VK_BYTE pending = config.encryption;
        const auto refusal = [&]() -> VK_BYTE {
            if (Locked(cda)) {
                return kCanChangeEditableControllerEncryptionControllerStatusNotOK;
            }
            if (current != kControllerEncryptionNone && missing_key) {
                return kCanChangeEditableControllerEncryptionHasLogicalDriveMissingKey;
            }
            switch (encryption_config) {
                case kControllerEncryptionNone:
                    if (encryption_config == pending) {
                        return kCanChangeEditableControllerEncryptionNoChange;
                    }
                    if (pending != kControllerEncryptionNone &&
                        !Feature(cda, kEncryptionFeatureClearEncryption)) {
                        return kCanChangeEditableControllerEncryptionClearEncryptionNotEnabled;
                    }
                    break;
                case kControllerEncryptionExpressLocal:
                    if (!VK_ControllerSupportsEncryption(cda)) {
                        return kCanChangeEditableControllerEncryptionOperationUnsupported;
                    }
                    if (!Feature(cda, kEncryptionFeatureExpressLocalEncryption)) {
                        return kCanChangeEditableControllerEncryptionManagerNotEnabled;
                    }
                    if (VK_ControllerPendingModeIsHBA(cda)) {
                        return kCanChangeEditableControllerEncryptionInHBAMode;
                    }
                    if (encryption_config == pending) {
                        return kCanChangeEditableControllerEncryptionNoChange;
                    }
                    break;
                case kControllerEncryptionLocal:
                case kControllerEncryptionRemote:
                    if (!VK_ControllerSupportsEncryption(cda)) {
                        return kCanChangeEditableControllerEncryptionOperationUnsupported;
                    }
                    if (!Feature(cda, encryption_config == kControllerEncryptionLocal
                                          ? kEncryptionFeatureLocalKeyManager
                                          : kEncryptionFeatureRemoteKeyManager)) {
                        return kCanChangeEditableControllerEncryptionManagerNotEnabled;
                    }
                    if (VK_ControllerPendingModeIsHBA(cda)) {
                        return kCanChangeEditableControllerEncryptionInHBAMode;
                    }
                    if (encryption_config == pending) {
                        return kCanChangeEditableControllerEncryptionNoChange;
                    }
                    if (IsLocalOrRemote(current) && !Feature(cda, kEncryptionFeatureKeyManagerConversion)) {
                        return kCanChangeEditableControllerEncryptionOperationUnsupported;
                    }
                    break;
                default:
                    return kCanChangeEditableControllerEncryptionInvalidValue;
            }
            return new_drive ? kCanChangeEditableControllerEncryptionHasUnsavedLogicalDrives
                             : kCanChangeEditableControllerEncryptionAllowed;
        }();
        if (refusal != kCanChangeEditableControllerEncryptionAllowed) {
            return refusal;
        }
        if (start == kCanChangeEditableControllerEncryptionAllowed && pending_encrypted &&
            (encryption_config == kControllerEncryptionNone ||
             (encryption_config == kControllerEncryptionExpressLocal &&
              current != kControllerEncryptionNone) ||
             (IsLocalOrRemote(encryption_config) && current == kControllerEncryptionExpressLocal))) {
            return kCanChangeEditableControllerEncryptionHasEncryptedVolumes;
        }
        return start;
    };
    return telmar::StagedAnswer(cda, kCanChangeEditableControllerEncryptionNoEditableConfigCreated, check);
}

VK_BOOL VK_ChangeEditableControllerEncryption(PCDA cda, VK_BYTE encryption_config) {
    const auto apply = [cda, encryption_config](EDITABLE_CONFIGURATION& config) {
        const VK_BYTE current = _VK_GetCurrentControllerEncryption(cda);
        switch (encryption_config) {
            case kControllerEncryptionExpressLocal:
                // The recovery question and answer are generated by the commit.
                config.flags |= kEditableConfigEncryptionEnabled | kEditableConfigMasterKeyKnown |
                                kEditableConfigCryptoOfficerPasswordKnown | kEditableConfigRecoveryQuestion;
                config.flags &= ~kEditableConfigFirmwareLocked;
                config.encryption_key_cache_state = 0;
                break;
            case kControllerEncryptionLocal:
            case kControllerEncryptionRemote:
                if (!IsLocalOrRemote(current) && !IsLocalOrRemote(config.encryption)) {
                    config.flags &= ~kEditableConfigCryptoOfficerPasswordKnown;
                }
                config.flags &= ~kEditableConfigMasterKeyKnown;
                config.encryption_key_cache_state =
                    encryption_config == kControllerEncryptionRemote && current == kControllerEncryptionRemote
                        ? VK_GetControllerEncryptionKeyCacheStatus(cda)
                        : 0;
                if (!(config.flags & kEditableConfigEncryptionToggle)) {
                    if (IsLocalOrRemote(current) && !(Status(cda) & kControllerEncryptionEnabled)) {
                        config.flags &= ~kEditableConfigEncryptionEnabled;
                    } else {
                        config.flags |= kEditableConfigEncryptionEnabled;
                    }
                }
                break;
            default:
                config.flags &= ~(kEditableConfigFirmwareLocked | kEditableConfigEncryptionEnabled |
                                  kEditableConfigMasterKeyKnown | kEditableConfigCryptoOfficerPasswordKnown);
                config.encryption_key_cache_state = 0;
                break;
        }
        config.encryption = encryption_config;
    };
    return SetStaged(cda, encryption_config, VK_CanChangeEditableControllerEncryption,
                     kCanChangeEditableControllerEncryptionAllowed, __func__, __LINE__, apply)
               ? kTrue
               : kFalse;
}

// ---- Plaintext volumes, firmware lock, enable switch ---------------------------------------------

VK_BYTE VK_CanAllowEditableEncryptionPlaintextVolumes(PCDA cda, VK_BOOL allow_plaintext) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (Locked(cda)) {
            return kCanAllowPlaintextControllerStatusNotOK;
        }
        if (!Feature(cda, kEncryptionFeatureAllowPlaintextVolumes)) {
            return kCanAllowPlaintextNotSupported;
        }
        if ((allow_plaintext != kFalse) == ((config.flags & kEditableConfigPlaintextAllowed) != 0)) {
            return kCanAllowPlaintextValueAlreadySet;
        }
        switch (config.encryption) {
            case kControllerEncryptionExpressLocal:
                return kCanAllowPlaintextEncryptionExpressLocal;
            case kControllerEncryptionLocal:
            case kControllerEncryptionRemote:
                return __VK_EditableConfigurationHasNewLogicalDrives(cda)
                           ? kCanAllowPlaintextLogicalDriveExists
                           : kCanAllowPlaintextOK;
            case kControllerEncryptionNone:
                return kCanAllowPlaintextEncryptionUnconfigured;
            default:
                return kCanAllowPlaintextEncryptionInvalid;
        }
    };
    return telmar::StagedAnswer(cda, kCanAllowPlaintextNoEditableConfig, check);
}

VK_BYTE VK_AllowEditableEncryptionPlaintextVolumes(PCDA cda, VK_BOOL allow_plaintext) {
    return SetStagedFlag(cda, allow_plaintext, VK_CanAllowEditableEncryptionPlaintextVolumes,
                         kCanAllowPlaintextOK, kEditableConfigPlaintextAllowed, __func__, __LINE__)
               ? kAllowPlaintextSuccess
               : kAllowPlaintextFailedUnknown;
}

VK_BYTE VK_CanSetEditableControllerFirmwareLock(PCDA cda, VK_BOOL firmware_lock) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (!Feature(cda, kEncryptionFeatureFirmwareLock)) {
            return kCanSetEditableControllerFirmwareLockNotEnabled;
        }
        if ((firmware_lock != kFalse) == ((config.flags & kEditableConfigFirmwareLocked) != 0)) {
            return kCanSetEditableControllerFirmwareLockAlreadySet;
        }
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableControllerFirmwareLockEncryptionNotConfigured;
        }
        if (!IsLocalOrRemote(config.encryption)) {
            return kCanSetEditableControllerFirmwareLockInvalidEncryptionConfig;
        }
        if (!(config.flags & kEditableConfigEncryptionEnabled)) {
            return kCanSetEditableControllerFirmwareLockEncryptionDisabled;
        }
        return kCanSetEditableControllerFirmwareLockOK;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableControllerFirmwareLockNoEditableConfigCreated, check);
}

VK_BYTE VK_SetEditableControllerFirmwareLock(PCDA cda, VK_BOOL firmware_lock) {
    return SetStagedFlag(cda, firmware_lock, VK_CanSetEditableControllerFirmwareLock,
                         kCanSetEditableControllerFirmwareLockOK, kEditableConfigFirmwareLocked, __func__,
                         __LINE__)
               ? kSetEditableControllerFirmwareLockOK
               : kSetEditableControllerFirmwareLockFailedUnknown;
}

namespace {

bool IsRekeying(VK_BYTE unit_status) {
    return unit_status == 22 || unit_status == 23 || unit_status == 25 || unit_status == 26;
}

bool IsBusy(VK_BYTE unit_status) {
    switch (unit_status) {
        case 5:
        case 10:
        case 12:
        case 15:
        case 18:
        case 19:
            return true;
        default:
            return false;
    }
}

// The walk of a disable: the first existing drive that forbids it gives the reason.
VK_BYTE DisableRefusal(PCDA cda, PEDITABLE_CONFIGURATION config) {
    VK_BYTE code = kCanToggleEditableControllerEncryptionOK;
    ForEachStagedDrive(config, [&](VK_WORD n, const EDITABLE_LOGICAL_DRIVE& ld) {
        if (code != kCanToggleEditableControllerEncryptionOK || IsNew(&ld)) {
            return;
        }
        const VK_BYTE unit = UnitStatus(cda, n);
        const bool encrypted = (ld.flags & kEditableLDEncrypted) != 0;
        if (IsRekeying(unit) || (ld.flags & kEditableLDTransformEncode)) {
            code = kCanToggleEditableControllerEncryptionLogicalDrivesRekeying;
        } else if (encrypted && ((ld.flags & kEditableLDTransformation) || IsBusy(unit))) {
            code = kCanToggleEditableControllerEncryptionPendingOperation;
        } else if (encrypted) {
            code = kCanToggleEditableControllerEncryptionEncryptedLogicalDrivesExist;
        } else if (config->encryption_boot_password_state == kEncryptionBootPasswordEnabled) {
            code = kCanToggleEditableControllerEncryptionBootPasswordSet;
        }
    });
    return code;
}

} // namespace

VK_BYTE VK_CanToggleEditableControllerEncryption(PCDA cda, VK_BOOL toggle) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        const bool enable = toggle != kFalse;
        if (enable == ((config.flags & kEditableConfigEncryptionEnabled) != 0)) {
            return kCanToggleEditableControllerEncryptionAlreadySet;
        }
        if (!enable && !Feature(cda, kEncryptionFeatureDisableEncryption)) {
            return kCanToggleEditableControllerEncryptionNotSupported;
        }
        if (config.encryption == kControllerEncryptionNone ||
            config.encryption == kControllerEncryptionInvalid) {
            return kCanToggleEditableControllerEncryptionNotConfigured;
        }
        if (Locked(cda)) {
            return kCanToggleEditableControllerEncryptionControllerStatusNotOK;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanToggleEditableControllerEncryptionExpressEncryption;
        }
        if (__VK_EditableConfigurationHasNewLogicalDrives(cda)) {
            return kCanToggleEditableControllerEncryptionNewLogicalDrivesExist;
        }
        if (enable && config.encryption == kControllerEncryptionRemote &&
            (VK_ControllerRebootRequired(cda) & kControllerRebootRequiredEncryptionEnablement)) {
            return kCanToggleEditableControllerEncryptionControllerRemoteModeUEFIKMS;
        }
        return enable ? kCanToggleEditableControllerEncryptionOK : DisableRefusal(cda, &config);
    };
    return telmar::StagedAnswer(cda, kCanToggleEditableControllerEncryptionNoEditableConfig, check);
}

VK_BYTE VK_ToggleEditableControllerEncryption(PCDA cda, VK_BOOL toggle) {
    const auto apply = [cda, toggle](EDITABLE_CONFIGURATION& config) {
        const bool enable = toggle != kFalse;
        PutFlag(config, kEditableConfigEncryptionEnabled, enable);
        // A controller whose firmware is locked keeps it locked.
        PutFlag(config, kEditableConfigFirmwareLocked,
                enable && (Status(cda) & kControllerEncryptionFwLocked));
    };
    return SetStaged(cda, toggle, VK_CanToggleEditableControllerEncryption,
                     kCanToggleEditableControllerEncryptionOK, __func__, __LINE__, apply)
               ? kToggleEditableControllerEncryptionOK
               : kToggleEditableControllerEncryptionFailedUnknown;
}

// ---- Recovery question and answer ----------------------------------------------------------------

VK_BYTE VK_GetEditableEncryptionRecoveryQuestion(PCDA cda, char* buffer, size_t buffer_size) {
    if (buffer != nullptr && buffer_size != 0) {
        std::memset(buffer, 0, buffer_size);
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = Config(cda);
    if (config == nullptr) {
        return kGetEditableEncryptionRecoveryQuestionNoEditableConfigCreated;
    }
    if (buffer == nullptr) {
        return kGetEditableEncryptionRecoveryQuestionNullBuffer;
    }
    const size_t length = strnlen(config->encryption_question, sizeof(config->encryption_question) - 1);
    if (length >= buffer_size) {
        return kGetEditableEncryptionRecoveryQuestionBufferSizeTooSmall;
    }
    std::memcpy(buffer, config->encryption_question, length);
    buffer[length] = '\0';
    return kGetEditableEncryptionRecoveryQuestionOK;
}

VK_BYTE VK_CanSetEditableEncryptionQuestionAndAnswerSafe(PCDA cda, const char* question, size_t question_size,
                                                         const char* answer, size_t answer_size) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerEncryptionNotConfigured;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerForExpressLocal;
        }
        if (question != nullptr && question_size == 0) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerInvalidQuestionSize;
        }
        if (answer != nullptr && answer_size == 0) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerInvalidAnswerSize;
        }
        if (question != nullptr && answer != nullptr && TextLength(question, question_size) == 0 &&
            TextLength(answer, answer_size) == 0) {
            return (config.flags & kEditableConfigRecoveryQuestion)
                       ? kCanSetEditableEncryptionRecoveryQuestionAndAnswerOk
                       : kCanSetEditableEncryptionRecoveryQuestionAndAnswerNoChange;
        }
        if (VK_CheckEncryptionRecoveryQuestion(cda, question, RuleSize(question_size)) !=
            kCheckRecoveryQuestionOk) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerInvalidQuestion;
        }
        if (VK_CheckEncryptionRecoveryAnswer(cda, answer, RuleSize(answer_size)) !=
            kCheckRecoveryQuestionOk) {
            return kCanSetEditableEncryptionRecoveryQuestionAndAnswerInvalidAnswer;
        }
        return kCanSetEditableEncryptionRecoveryQuestionAndAnswerOk;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableEncryptionRecoveryQuestionAndAnswerNoEditableConfig,
                                check);
}

VK_BYTE VK_SetEditableEncryptionQuestionAndAnswerSafe(PCDA cda, const char* question, size_t question_size,
                                                      const char* answer, size_t answer_size) {
    if (question == nullptr || answer == nullptr) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %p, %p):%u\n", __FILE__, __LINE__, __func__, cda,
                    static_cast<const void*>(question), static_cast<const void*>(answer),
                    kSetEditableEncryptionRecoveryQuestionAndAnswerFailed);
        return kSetEditableEncryptionRecoveryQuestionAndAnswerFailed;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const size_t question_length = TextLength(question, question_size);
    const size_t answer_length = TextLength(answer, answer_size);
    const VK_BYTE question_rule =
        question_length != 0 ? VK_CheckEncryptionRecoveryQuestion(cda, question, RuleSize(question_size))
                             : kCheckRecoveryQuestionOk;
    const VK_BYTE answer_rule = answer_length != 0
                                    ? VK_CheckEncryptionRecoveryAnswer(cda, answer, RuleSize(answer_size))
                                    : kCheckRecoveryQuestionOk;
    const VK_BYTE can =
        VK_CanSetEditableEncryptionQuestionAndAnswerSafe(cda, question, question_size, answer, answer_size);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %p:%u, %p:%u):%u\n", __FILE__, __LINE__, __func__, cda,
                static_cast<const void*>(question), question_rule, static_cast<const void*>(answer),
                answer_rule, can);
    if (can != kCanSetEditableEncryptionRecoveryQuestionAndAnswerOk ||
        question_rule != kCheckRecoveryQuestionOk || answer_rule != kCheckRecoveryQuestionOk) {
        return kSetEditableEncryptionRecoveryQuestionAndAnswerFailed;
    }
    if (question_length != 0 || answer_length != 0) {
        StoreCredential(config->encryption_question, question, question_length);
        StoreCredential(config->encryption_answer, answer, answer_length);
        config->flags |= kEditableConfigRecoveryQuestion;
    } else {
        // The cancelled answer goes with its change bit.
        config->flags &= ~kEditableConfigRecoveryQuestion;
        explicit_bzero(config->encryption_answer, sizeof(config->encryption_answer));
    }
    _VK_RefreshEditableEncryptionFlags(cda);
    return kSetEditableEncryptionRecoveryQuestionAndAnswerOk;
}

VK_BYTE VK_CanSetEditableEncryptionQuestionAndAnswer(PCDA cda, const char* question, const char* answer) {
    return VK_CanSetEditableEncryptionQuestionAndAnswerSafe(cda, question, telmar::StringSize(question),
                                                            answer, telmar::StringSize(answer));
}

VK_BYTE VK_SetEditableEncryptionQuestionAndAnswer(PCDA cda, const char* question, const char* answer) {
    return VK_SetEditableEncryptionQuestionAndAnswerSafe(cda, question, telmar::StringSize(question), answer,
                                                         telmar::StringSize(answer));
}

// ---- Boot password and its state -----------------------------------------------------------------

VK_BYTE VK_CanSetEditableEncryptionBootPasswordSafe(PCDA cda, const char* password_buffer,
                                                    size_t password_buffer_size) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableEncryptionBootPasswordEncryptionNotConfigured;
        }
        if (Locked(cda)) {
            return kCanSetEditableEncryptionBootPasswordControllerStatusNotOK;
        }
        if (!Feature(cda, kEncryptionFeatureBootPassword)) {
            return kCanSetEditableEncryptionBootPasswordNotEnabled;
        }
        if (password_buffer != nullptr && password_buffer_size == 0) {
            return kCanSetEditableEncryptionBootPasswordInvalidSize;
        }
        if (password_buffer != nullptr) {
            if (TextLength(password_buffer, password_buffer_size) == 0) {
                return Configured(cda) && (config.flags & kEditableConfigBootPassword)
                           ? kCanSetEditableEncryptionBootPasswordOk
                           : kCanSetEditableEncryptionBootPasswordInvalid;
            }
            const size_t size = BootPasswordSize(password_buffer, password_buffer_size);
            if (VK_CheckEncryptionBootPassword(cda, password_buffer, RuleSize(size)) !=
                kCheckBootPasswordOk) {
                return kCanSetEditableEncryptionBootPasswordInvalid;
            }
        }
        if (!(config.flags & kEditableConfigEncryptionEnabled)) {
            return kCanSetEditableEncryptionBootPasswordEncryptionDisabled;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableEncryptionBootPasswordExpressEncryption;
        }
        if (config.encryption_boot_password_state == kEncryptionBootPasswordDisabled) {
            return kCanSetEditableEncryptionBootPasswordDisabledState;
        }
        if ((config.flags & kEditableConfigEncryptionMode) &&
            config.encryption == kControllerEncryptionRemote && VK_ControllerSupportsUEFIKMS(cda)) {
            return kCanSetEditableEncryptionBootPasswordRemoteModeUEFIKMS;
        }
        return kCanSetEditableEncryptionBootPasswordOk;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableEncryptionBootPasswordNoEditableConfig, check);
}

VK_BYTE VK_SetEditableEncryptionBootPasswordSafe(PCDA cda, const char* password_buffer,
                                                 size_t password_buffer_size) {
    if (password_buffer == nullptr) {
        PN_DebugLog(3, 0, "%s:%d: %s(%p, %p):%u\n", __FILE__, __LINE__, __func__, cda,
                    static_cast<const void*>(password_buffer), kSetEditableEncryptionBootPasswordFailed);
        return kSetEditableEncryptionBootPasswordFailed;
    }
    CDALock guard(cda);
    const VK_BYTE can =
        VK_CanSetEditableEncryptionBootPasswordSafe(cda, password_buffer, password_buffer_size);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %p:u):%u\n", __FILE__, __LINE__, __func__, cda,
                static_cast<const void*>(password_buffer), can);
    if (can != kCanSetEditableEncryptionBootPasswordOk) {
        return kSetEditableEncryptionBootPasswordFailed;
    }
    const PEDITABLE_CONFIGURATION config = Config(cda);
    const size_t length = TextLength(password_buffer, password_buffer_size);
    if (length != 0) {
        StoreCredential(config->encryption_boot_password, password_buffer, length);
        config->encryption_boot_password_state = kEncryptionBootPasswordEnabled;
        config->flags |= kEditableConfigBootPassword;
    } else {
        explicit_bzero(config->encryption_boot_password, sizeof(config->encryption_boot_password));
        config->flags &= ~kEditableConfigBootPassword;
    }
    _VK_RefreshEditableEncryptionFlags(cda);
    return kSetEditableEncryptionBootPasswordOk;
}

VK_BYTE VK_CanSetEditableEncryptionBootPassword(PCDA cda, const char* password_buffer) {
    return VK_CanSetEditableEncryptionBootPasswordSafe(cda, password_buffer,
                                                       telmar::StringSize(password_buffer));
}

VK_BYTE VK_SetEditableEncryptionBootPassword(PCDA cda, const char* password_buffer) {
    return VK_SetEditableEncryptionBootPasswordSafe(cda, password_buffer,
                                                    telmar::StringSize(password_buffer));
}

VK_BYTE VK_GetEditableEncryptionBootPasswordState(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::encryption_boot_password_state,
                                 kEncryptionBootPasswordUnset);
}

VK_BYTE VK_CanSetEditableEncryptionBootPasswordState(PCDA cda, VK_BYTE state) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableEncryptionBootPasswordStateEncryptionNotConfigured;
        }
        if (!(config.flags & kEditableConfigEncryptionEnabled)) {
            return kCanSetEditableEncryptionBootPasswordStateEncryptionDisabled;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableEncryptionBootPasswordStateExpressEncryption;
        }
        // The commit has no controller function for any other state.
        if (state != kEncryptionBootPasswordUnset && state != kEncryptionBootPasswordDisabled &&
            state != kEncryptionBootPasswordEnabled) {
            return kCanSetEditableEncryptionBootPasswordStateInvalidState;
        }
        if (state == config.encryption_boot_password_state) {
            return kCanSetEditableEncryptionBootPasswordStateNoChange;
        }
        const VK_QWORD status = Status(cda);
        if (state == kEncryptionBootPasswordUnset && (status & kControllerEncryptionBootPasswordSuspended)) {
            return kCanSetEditableEncryptionBootPasswordStateDisabled;
        }
        if (state != kEncryptionBootPasswordUnset &&
            !Feature(cda, kEncryptionFeaturePauseResumeBootPassword)) {
            return kCanSetEditableEncryptionBootPasswordStateNotEnabled;
        }
        if (state == kEncryptionBootPasswordUnset ||
            config.encryption_boot_password_state != kEncryptionBootPasswordUnset ||
            (status & kControllerEncryptionBootPasswordSet)) {
            return (status & kControllerEncryptionControllerLocked) && state != kEncryptionBootPasswordUnset
                       ? kCanSetEditableEncryptionBootPasswordStateControllerLockout
                       : kCanSetEditableEncryptionBootPasswordStateOk;
        }
        return kCanSetEditableEncryptionBootPasswordStateBootPasswordNotSet;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableEncryptionBootPasswordStateNoEditableConfig, check);
}

VK_BYTE VK_SetEditableEncryptionBootPasswordState(PCDA cda, VK_BYTE state) {
    return SetStaged(
               cda, state, VK_CanSetEditableEncryptionBootPasswordState,
               kCanSetEditableEncryptionBootPasswordStateOk, __func__, __LINE__,
               [state](EDITABLE_CONFIGURATION& config) { config.encryption_boot_password_state = state; })
               ? kSetEditableEncryptionBootPasswordStateOk
               : kSetEditableEncryptionBootPasswordStateFailed;
}

// ---- Key cache -----------------------------------------------------------------------------------

VK_QWORD VK_GetEditableEncryptionKeyCache(PCDA cda) {
    return telmar::StagedSetting(cda, &EDITABLE_CONFIGURATION::encryption_key_cache_state, 0);
}

VK_BYTE VK_CanSetEditableEncryptionKeyCache(PCDA cda, VK_QWORD key_cache_state) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        if (!Feature(cda, kEncryptionFeatureKeyCache)) {
            return kCanSetEditableEncryptionKeyCacheUnsupported;
        }
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableEncryptionKeyCacheEncryptionNotConfigured;
        }
        if (config.encryption != kControllerEncryptionRemote) {
            return kCanSetEditableEncryptionKeyCacheRemoteKeyManagerNotConfigured;
        }
        if (!(config.flags & kEditableConfigEncryptionEnabled)) {
            return kCanSetEditableEncryptionKeyCacheEncryptionNotEnabled;
        }
        if (Locked(cda)) {
            return kCanSetEditableEncryptionKeyCacheControllerLockout;
        }
        const VK_WORD attempts = ENCRYPTION_KEY_CACHE_ATTEMPTS(key_cache_state);
        const VK_WORD interval = ENCRYPTION_KEY_CACHE_INTERVAL(key_cache_state);
        const bool enable = ENCRYPTION_KEY_CACHE_ENABLED(key_cache_state) != kFalse;
        const bool persistent = ENCRYPTION_PERSISTENT_KEY_CACHE_ENABLED(key_cache_state) != kFalse;
        if (persistent) {
            if (!Feature(cda, kEncryptionFeatureBootTimeRemoteAuth)) {
                return kCanSetEditableEncryptionKeyCachePersistentKeyCacheNotSupported;
            }
            if (config.encryption_boot_password_state == kEncryptionBootPasswordUnset) {
                return kCanSetEditableEncryptionKeyCacheBootPasswordNotSet;
            }
            if (!enable) {
                return kCanSetEditableEncryptionKeyCacheNotConfigured;
            }
        }
        if (!enable) {
            if (attempts != 0) {
                return kCanSetEditableEncryptionKeyCacheMaxAttemptsOutOfRange;
            }
            return interval != 0 ? kCanSetEditableEncryptionKeyCacheIntervalOutOfRange
                                 : kCanSetEditableEncryptionKeyCacheAllowed;
        }
        const VK_QWORD limits = VK_ControllerEncryptionKeyCacheSupport(cda);
        const VK_WORD min_attempts = static_cast<VK_WORD>(limits & 0xFFFF);
        const VK_WORD max_attempts = static_cast<VK_WORD>((limits >> 16) & 0xFFFF);
        const VK_WORD min_interval = static_cast<VK_WORD>((limits >> 32) & 0xFFFF);
        const VK_WORD max_interval = static_cast<VK_WORD>((limits >> 48) & 0xFFFF);
        if (persistent && attempts == 0) {
            return kCanSetEditableEncryptionKeyCacheAttemptsIsZeroWhileEnablingPersistentKeyCache;
        }
        if (max_attempts == 0 && attempts != 0) {
            return kCanSetEditableEncryptionKeyCacheMaxAttemptsUnsupported;
        }
        if (max_interval == 0 && interval != 0) {
            return kCanSetEditableEncryptionKeyCacheIntervalUnsupported;
        }
        if (attempts < min_attempts || attempts > max_attempts) {
            return kCanSetEditableEncryptionKeyCacheMaxAttemptsOutOfRange;
        }
        if ((attempts != 0 && (interval < min_interval || interval > max_interval)) ||
            (attempts == 0 && interval != 0)) {
            return kCanSetEditableEncryptionKeyCacheIntervalOutOfRange;
        }
        return kCanSetEditableEncryptionKeyCacheAllowed;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableEncryptionKeyCacheNoEditableConfig, check);
}

VK_BYTE VK_SetEditableEncryptionKeyCache(PCDA cda, VK_QWORD key_cache_state) {
    return SetStaged(cda, key_cache_state, VK_CanSetEditableEncryptionKeyCache,
                     kCanSetEditableEncryptionKeyCacheAllowed, __func__, __LINE__,
                     [key_cache_state](EDITABLE_CONFIGURATION& config) {
                         config.encryption_key_cache_state = key_cache_state;
                     })
               ? kSetEditableEncryptionKeyCacheSuccess
               : kSetEditableEncryptionKeyCacheFailedUnknown;
}

// ---- Logical-drive encryption --------------------------------------------------------------------

namespace {

// The checks of an encode (an existing drive encrypted in place), after the ones every request passes.
VK_BYTE EncodeRefusal(PCDA cda, VK_WORD ld_number, const EDITABLE_LOGICAL_DRIVE& ld) {
    if (!Feature(cda, kEncryptionFeatureEncodeVolume)) {
        return kCanSetEditableLogicalDriveEncryptionNotEnabled;
    }
    if (_VK_GetEditableLogicalDriveTransformationQueueCount(cda) > kMaxQueuedTransformations - 1) {
        return kCanSetEditableLogicalDriveEncryptionMaxTransformationsReached;
    }
    const VK_DWORD array_status = VK_GetEditableArrayStatusInfo(cda, ld.editable_array_number);
    if (array_status != kArrayStatusOK &&
        !(array_status == kArrayStatusHasQueuedLogicalDriveTransformation &&
          _VK_GetEditableArrayQueuedTransformations(cda, ld.editable_array_number) ==
              kEditableLDTransformEncode)) {
        return kCanSetEditableLogicalDriveEncryptionArrayStatusNotOK;
    }
    const VK_DWORD controller_status = VK_GetControllerStatusInfo(cda);
    const VK_BYTE cache = CACHE_STATUS(controller_status);
    if (cache == kControllerCacheStatusTemporarilyDisabled ||
        cache == kControllerCacheStatusPermanentlyDisabled) {
        return kCanSetEditableLogicalDriveEncryptionControllerCacheStatusNotOK;
    }
    if ((controller_status & kControllerStatusMask) != kControllerStatusOK) {
        return kCanSetEditableLogicalDriveEncryptionControllerStatusNotOK;
    }
    if (ld.flags & kEditableLDVolatileKeyChanged) {
        return kCanSetEditableLogicalDriveEncryptionQueuedVolatileKeyChange;
    }
    switch (_VK_IsLogicalDriveTransformable(cda, ld_number)) {
        case 1:
            return kCanSetEditableLogicalDriveEncryptionOK;
        case 2:
            return kCanSetEditableLogicalDriveEncryptionExceedsTransformationMemory;
        default:
            return kCanSetEditableLogicalDriveEncryptionArrayStatusNotOK;
    }
}

} // namespace

VK_BYTE VK_CanSetEditableLogicalDriveEncryption(PCDA cda, VK_WORD editable_ld_number,
                                                VK_BYTE data_encryption_state, VK_BOOL preserve_data) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        // Nothing of the drive is read before it is known to exist.
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
        if (ld == nullptr) {
            return kCanSetEditableLogicalDriveEncryptionInvalidLogicalDrive;
        }
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableLogicalDriveEncryptionEncryptionNotConfigured;
        }
        const VK_QWORD status = Status(cda);
        if (status & kControllerEncryptionControllerLocked) {
            return kCanSetEditableLogicalDriveEncryptionControllerStatusNotOK;
        }
        if (data_encryption_state != kSetEditableLogicalDriveEncryptionDataEncrypted &&
            data_encryption_state != kSetEditableLogicalDriveEncryptionDataPlaintext) {
            return kCanSetEditableLogicalDriveEncryptionInvalidEncryptionState;
        }
        if (config.encryption == kControllerEncryptionInvalid) {
            return kCanSetEditableLogicalDriveEncryptionEncryptionConfigInvalid;
        }
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, ld->editable_array_number);
        if (array == nullptr || (array->flags & kEditableArrNotData)) {
            return kCanSetEditableLogicalDriveEncryptionNotDataArray;
        }
        const bool want_plaintext = data_encryption_state == kSetEditableLogicalDriveEncryptionDataPlaintext;
        const bool pending_plaintext = !(ld->flags & kEditableLDEncrypted);
        if (want_plaintext == pending_plaintext) {
            return kCanSetEditableLogicalDriveEncryptionAlreadySet;
        }
        const bool existing = !IsNew(ld);
        if (existing) {
            const bool current_plaintext =
                !(VK_GetLogicalDriveEncryptionInfo(cda, editable_ld_number) & kLogicalDriveEncryptionEnabled);
            if (want_plaintext == current_plaintext) {
                return preserve_data ? kCanSetEditableLogicalDriveEncryptionOK
                                     : kCanSetEditableLogicalDriveEncryptionNotAllowed;
            }
            if (want_plaintext) {
                return kCanSetEditableLogicalDriveEncryptionCannotDecrypt;
            }
        }
        if ((status & kControllerEncryptionExpressModeOn) &&
            config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableLogicalDriveEncryptionExpressLocalEncryptionEnabled;
        }
        const bool enabled_now = (status & kControllerEncryptionEnabled) != 0;
        const bool enabled_pending = (config.flags & kEditableConfigEncryptionEnabled) != 0;
        if (!want_plaintext && (status & kControllerEncryptionCryptoOfficerPasswordSet) && !enabled_now &&
            !enabled_pending) {
            return kCanSetEditableLogicalDriveEncryptionDisabled;
        }
        if (want_plaintext && !existing) {
            const bool permitted = (config.flags & kEditableConfigPlaintextAllowed) ||
                                   (status & kControllerEncryptionMixedVolumesEnabled) || !enabled_now ||
                                   !enabled_pending;
            if (!permitted) {
                return kCanSetEditableLogicalDriveEncryptionPlaintextNotAllowed;
            }
        }
        if (!existing) {
            return kCanSetEditableLogicalDriveEncryptionOK;
        }
        if (UnitStatus(cda, editable_ld_number) != kUnitStatusOK) {
            return kCanSetEditableLogicalDriveEncryptionLogicalDriveStatusNotOK;
        }
        if (!want_plaintext && !preserve_data && !Feature(cda, kEncryptionFeatureConvertToEncrypted)) {
            return kCanSetEditableLogicalDriveEncryptionNotEnabled;
        }
        if (ld->lu_cache_ld_number < kMaxLogicalDrivesSupported) {
            const PEDITABLE_LOGICAL_DRIVE cache = _VK_GetEditableLogicalDrive(cda, ld->lu_cache_ld_number);
            if (cache != nullptr && !IsNew(cache) &&
                UnitStatus(cda, ld->lu_cache_ld_number) != kUnitStatusOK) {
                return kCanSetEditableLogicalDriveEncryptionLUCacheStatusNotOK;
            }
        }
        if (!want_plaintext && preserve_data) {
            return EncodeRefusal(cda, editable_ld_number, *ld);
        }
        return kCanSetEditableLogicalDriveEncryptionOK;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableLogicalDriveEncryptionNoEditableConfigCreated, check);
}

VK_BYTE VK_SetEditableLogicalDriveEncryption(PCDA cda, VK_WORD editable_ld_number,
                                             VK_BYTE data_encryption_state, VK_BOOL preserve_data) {
    CDALock guard(cda);
    const VK_BYTE can = VK_CanSetEditableLogicalDriveEncryption(cda, editable_ld_number,
                                                                data_encryption_state, preserve_data);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %u, %d):%u\n", __FILE__, __LINE__, __func__, cda, editable_ld_number,
                data_encryption_state, preserve_data, can);
    if (can != kCanSetEditableLogicalDriveEncryptionOK) {
        return kSetEditableLogicalDriveEncryptionFailedUnknown;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (preserve_data) {
        ld->flags |= kEditableLDPreserveData;
    } else {
        ld->flags &= ~kEditableLDPreserveData;
    }
    if (data_encryption_state == kSetEditableLogicalDriveEncryptionDataPlaintext) {
        ld->flags &= ~kEditableLDEncrypted;
    } else {
        ld->flags |= kEditableLDEncrypted;
    }
    _VK_RefreshEditableEncryptionFlags(cda);
    __VK_RefreshEditableLogicalDriveTransformationFlags(cda, editable_ld_number);
    return kSetEditableLogicalDriveEncryptionOK;
}

// ---- Volatile keys -------------------------------------------------------------------------------

VK_BYTE VK_GetEditableLogicalDriveVolatileKey(PCDA cda, VK_WORD editable_ld_number) {
    CDALock guard(cda);
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    if (ld == nullptr) {
        return kEditableLogicalDriveVolatileKeyUnknown;
    }
    if (!(ld->flags & kEditableLDVolatileKey)) {
        return kEditableLogicalDriveVolatileKeyDisabled;
    }
    return (ld->flags & kEditableLDVolatileKeyBackup) ? kEditableLogicalDriveVolatileKeyEnabledWithBackup
                                                      : kEditableLogicalDriveVolatileKeyEnabledNoBackup;
}

VK_BYTE VK_CanSetEditableLogicalDriveVolatileKey(PCDA cda, VK_WORD editable_ld_number,
                                                 VK_BOOL enable_volatile_key,
                                                 VK_BOOL enable_volatile_key_backup) {
    const auto check = [&](EDITABLE_CONFIGURATION& config) -> VK_BYTE {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
        if (ld == nullptr) {
            return kCanSetEditableLogicalDriveVolatileKeyInvalidLogicalDrive;
        }
        if (!Feature(cda, kEncryptionFeatureVolatileKeys)) {
            return kCanSetEditableLogicalDriveVolatileKeyNotEnabled;
        }
        const bool key = enable_volatile_key != kFalse;
        const bool backup = enable_volatile_key_backup != kFalse;
        if (backup && !key) {
            return kCanSetEditableLogicalDriveVolatileKeyNoKeyToBackup;
        }
        if (config.encryption == kControllerEncryptionNone) {
            return kCanSetEditableLogicalDriveVolatileKeyEncryptionNotConfigured;
        }
        if (!(config.flags & kEditableConfigEncryptionEnabled)) {
            return kCanSetEditableLogicalDriveVolatileKeyEncryptionNotEnabled;
        }
        if (Locked(cda)) {
            return kCanSetEditableLogicalDriveVolatileKeyControllerStatusNotOK;
        }
        if (config.encryption == kControllerEncryptionExpressLocal) {
            return kCanSetEditableLogicalDriveVolatileKeyEncryptionLocalExpress;
        }
        if (backup && config.encryption == kControllerEncryptionLocal) {
            return kCanSetEditableLogicalDriveVolatileKeyNoLocalBackup;
        }
        if (!IsNew(ld)) {
            if (VOLATILE_KEY_STATUS(VK_GetLogicalDriveEncryptionInfo(cda, editable_ld_number)) !=
                kLogicalDriveEncryptionVolatileKeyStatusNoOp) {
                return kCanSetEditableLogicalDriveVolatileKeyOpInProgress;
            }
            const VK_BYTE unit = UnitStatus(cda, editable_ld_number);
            if (unit != kUnitStatusOK && unit != kUnitStatusEncryptedWithoutKey) {
                return kCanSetEditableLogicalDriveVolatileKeyLogicalDriveNotOK;
            }
        }
        if (ld->flags & kEditableLDTransformEncode) {
            return kCanSetEditableLogicalDriveVolatileKeyPendingRekey;
        }
        if (!(ld->flags & kEditableLDEncrypted)) {
            return kCanSetEditableLogicalDriveVolatileKeyLogicalDriveNotEncrypted;
        }
        const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, ld->editable_array_number);
        if (array == nullptr || (array->flags & kEditableArrNotData)) {
            return kCanSetEditableLogicalDriveVolatileKeyNotDataArray;
        }
        if (key == ((ld->flags & kEditableLDVolatileKey) != 0) &&
            backup == ((ld->flags & kEditableLDVolatileKeyBackup) != 0)) {
            return kCanSetEditableLogicalDriveVolatileKeyNoChange;
        }
        return kCanSetEditableLogicalDriveVolatileKeyOK;
    };
    return telmar::StagedAnswer(cda, kCanSetEditableLogicalDriveVolatileKeyNoEditableConfigCreated, check);
}

VK_BYTE VK_SetEditableLogicalDriveVolatileKey(PCDA cda, VK_WORD editable_ld_number,
                                              VK_BOOL enable_volatile_key,
                                              VK_BOOL enable_volatile_key_backup) {
    CDALock guard(cda);
    const VK_BYTE can = VK_CanSetEditableLogicalDriveVolatileKey(cda, editable_ld_number, enable_volatile_key,
                                                                 enable_volatile_key_backup);
    PN_DebugLog(3, 0, "%s:%d: %s(%p, %u, %d, %d):%u\n", __FILE__, __LINE__, __func__, cda, editable_ld_number,
                enable_volatile_key, enable_volatile_key_backup, can);
    if (can != kCanSetEditableLogicalDriveVolatileKeyOK) {
        return kSetEditableLogicalDriveVolatileKeyFailed;
    }
    const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, editable_ld_number);
    ld->flags = (ld->flags & ~(kEditableLDVolatileKey | kEditableLDVolatileKeyBackup)) |
                (enable_volatile_key ? kEditableLDVolatileKey : 0) |
                (enable_volatile_key_backup ? kEditableLDVolatileKeyBackup : 0);
    _VK_RefreshEditableEncryptionFlags(cda);
    return kSetEditableLogicalDriveVolatileKeyOK;
}
