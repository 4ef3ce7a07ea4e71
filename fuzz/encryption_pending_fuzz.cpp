// The pending encryption settings over a hostile staged configuration and controller state. The
// input fills, in order: the staged configuration, IDENTIFY CONTROLLER, the parsed feature pages,
// the encryption buffers the status words and the rules read, two staged logical drives, then a
// series of Set calls, each with its arguments. Credentials are heap copies of exactly the bytes the
// call claims, so a read past a size is a sanitizer report. Whatever the state: a Set succeeds
// exactly when its Can allows it (and a credential was given), a refused Set leaves the staged
// configuration byte for byte as it was, an accepted credential is staged terminated and NUL padded,
// and no boot-password state but 0, 1 and 2 is ever stored.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

// A credential argument: NULL, or a heap block of exactly the size handed over.
struct Credential {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    const char* get() const { return bytes.get(); }

    static Credential From(FuzzInput& in) {
        Credential c;
        const uint8_t shape = in.Byte();
        if (shape & 0x80) {
            return c; // NULL
        }
        const size_t claimed = static_cast<size_t>(shape & 0x7F) << 8 | in.Byte();
        c.size = std::min(claimed, in.Left());
        c.bytes = std::make_unique<char[]>(std::max<size_t>(c.size, 1));
        // A zero size still hands over a pointer, to a block that must not be read.
        if (c.size != 0) {
            in.Fill(c.bytes.get(), c.size);
        }
        return c;
    }
};

struct Snapshot {
    std::vector<VK_BYTE> config;
    std::vector<VK_QWORD> ld_flags;
    explicit Snapshot(const EDITABLE_CONFIGURATION* c)
        : config(reinterpret_cast<const VK_BYTE*>(c), reinterpret_cast<const VK_BYTE*>(c) + sizeof(*c)) {
        for (const PEDITABLE_LOGICAL_DRIVE ld : c->editable_ld_list) {
            ld_flags.push_back(ld != nullptr ? ld->flags : 0);
        }
    }
    bool operator==(const Snapshot& o) const { return config == o.config && ld_flags == o.ld_flags; }
};

// The field holds exactly the credential's characters before its first NUL, at most the field less
// its terminator, and zeros after them.
template <size_t N> void CheckStaged(const char (&field)[N], const Credential& c) {
    const size_t length = std::min(strnlen(c.get(), c.size), N - 1);
    FUZZ_CHECK(std::memcmp(field, c.get(), length) == 0);
    for (size_t i = length; i < N; ++i) {
        FUZZ_CHECK(field[i] == '\0');
    }
}

constexpr VK_DWORD kEncryptionBuffers =
    kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidEncryptionRecoveryQuestion |
    kCDAValidEncryptionBootPasswordStatus | kCDAValidEncryptionKeyManagerStatus |
    kCDAValidEncryptionRoleAttributes | kCDAValidEncryptionIKekStatus |
    kCDAValidEncryptionKekCacheAttributes | kCDAValidEncryptionBootStatus | kCDAValidEncryptionFeatures;

void OneCall(PCDA cda, EDITABLE_CONFIGURATION* config, FuzzInput& in) {
    const Snapshot before(config);
    bool refused = false;
    switch (in.Byte() % 12) {
        case 0: {
            const Credential key = Credential::From(in);
            const VK_BYTE can = VK_CanSetEditableControllerEncryptionKeySafe(cda, key.get(), key.size);
            const bool ok = VK_SetEditableControllerEncryptionKeySafe(cda, key.get(), key.size) ==
                            kSetEditableControllerEncryptionKeyOK;
            FUZZ_CHECK(ok == (can == kCanSetEditableControllerEncryptionKeyOK && key.get() != nullptr &&
                              key.size != 0));
            refused = !ok;
            if (ok) {
                CheckStaged(config->encryption_key, key);
            }
            break;
        }
        case 1: {
            const VK_BYTE user = in.Byte() % 3;
            const Credential password = Credential::From(in);
            const VK_BYTE can =
                VK_CanSetEditableControllerEncryptionPasswordSafe(cda, user, password.get(), password.size);
            const bool ok =
                VK_SetEditableControllerEncryptionPasswordSafe(cda, user, password.get(), password.size) ==
                kSetEditableControllerEncryptionPasswordOK;
            FUZZ_CHECK(ok == (can == kCanSetEditableControllerEncryptionPasswordOK &&
                              password.get() != nullptr && password.size != 0));
            refused = !ok;
            if (ok) {
                FUZZ_CHECK(user <= 1);
                CheckStaged(config->encryption_password[user], password);
            }
            break;
        }
        case 2: {
            const VK_BYTE mode = in.Byte();
            const VK_BYTE can = VK_CanChangeEditableControllerEncryption(cda, mode);
            const bool ok = VK_ChangeEditableControllerEncryption(cda, mode) == kTrue;
            FUZZ_CHECK(ok == (can == kCanChangeEditableControllerEncryptionAllowed));
            FUZZ_CHECK(!ok || mode <= kControllerEncryptionRemote);
            refused = !ok;
            break;
        }
        case 3: {
            const VK_BOOL allow = in.Byte() & 1;
            const VK_BYTE can = VK_CanAllowEditableEncryptionPlaintextVolumes(cda, allow);
            const bool ok = VK_AllowEditableEncryptionPlaintextVolumes(cda, allow) == kAllowPlaintextSuccess;
            FUZZ_CHECK(ok == (can == kCanAllowPlaintextOK));
            refused = !ok;
            break;
        }
        case 4: {
            const VK_BOOL lock = in.Byte() & 1;
            const VK_BYTE can = VK_CanSetEditableControllerFirmwareLock(cda, lock);
            const bool ok =
                VK_SetEditableControllerFirmwareLock(cda, lock) == kSetEditableControllerFirmwareLockOK;
            FUZZ_CHECK(ok == (can == kCanSetEditableControllerFirmwareLockOK));
            refused = !ok;
            break;
        }
        case 5: {
            const VK_BOOL on = in.Byte() & 1;
            const VK_BYTE can = VK_CanToggleEditableControllerEncryption(cda, on);
            const bool ok =
                VK_ToggleEditableControllerEncryption(cda, on) == kToggleEditableControllerEncryptionOK;
            FUZZ_CHECK(ok == (can == kCanToggleEditableControllerEncryptionOK));
            refused = !ok;
            break;
        }
        case 6: {
            const Credential question = Credential::From(in);
            const Credential answer = Credential::From(in);
            const VK_BYTE can = VK_CanSetEditableEncryptionQuestionAndAnswerSafe(
                cda, question.get(), question.size, answer.get(), answer.size);
            const bool ok = VK_SetEditableEncryptionQuestionAndAnswerSafe(cda, question.get(), question.size,
                                                                          answer.get(), answer.size) ==
                            kSetEditableEncryptionRecoveryQuestionAndAnswerOk;
            FUZZ_CHECK(ok == (can == kCanSetEditableEncryptionRecoveryQuestionAndAnswerOk &&
                              question.get() != nullptr && answer.get() != nullptr));
            refused = !ok;
            if (ok && (config->flags & kEditableConfigRecoveryQuestion)) {
                CheckStaged(config->encryption_question, question);
                CheckStaged(config->encryption_answer, answer);
            }
            break;
        }
        case 7: {
            const Credential password = Credential::From(in);
            const VK_BYTE can =
                VK_CanSetEditableEncryptionBootPasswordSafe(cda, password.get(), password.size);
            const bool ok = VK_SetEditableEncryptionBootPasswordSafe(cda, password.get(), password.size) ==
                            kSetEditableEncryptionBootPasswordOk;
            FUZZ_CHECK(ok == (can == kCanSetEditableEncryptionBootPasswordOk && password.get() != nullptr));
            refused = !ok;
            if (ok && (config->flags & kEditableConfigBootPassword)) {
                CheckStaged(config->encryption_boot_password, password);
            }
            break;
        }
        case 8: {
            const VK_BYTE state = in.Byte();
            const VK_BYTE can = VK_CanSetEditableEncryptionBootPasswordState(cda, state);
            const bool ok = VK_SetEditableEncryptionBootPasswordState(cda, state) ==
                            kSetEditableEncryptionBootPasswordStateOk;
            FUZZ_CHECK(ok == (can == kCanSetEditableEncryptionBootPasswordStateOk));
            FUZZ_CHECK(!ok || state <= kEncryptionBootPasswordEnabled);
            refused = !ok;
            break;
        }
        case 9: {
            const VK_QWORD value = in.TakeBigEndian<VK_QWORD>();
            const VK_BYTE can = VK_CanSetEditableEncryptionKeyCache(cda, value);
            const VK_BYTE set = VK_SetEditableEncryptionKeyCache(cda, value);
            FUZZ_CHECK(set == kSetEditableEncryptionKeyCacheSuccess ||
                       set == kSetEditableEncryptionKeyCacheFailedUnknown);
            FUZZ_CHECK((set == kSetEditableEncryptionKeyCacheSuccess) ==
                       (can == kCanSetEditableEncryptionKeyCacheAllowed));
            refused = set != kSetEditableEncryptionKeyCacheSuccess;
            break;
        }
        case 10: {
            const VK_WORD ld = in.Byte() % 66;
            const VK_BYTE state = in.Byte() % 3;
            const VK_BOOL preserve = in.Byte() & 1;
            const VK_BYTE can = VK_CanSetEditableLogicalDriveEncryption(cda, ld, state, preserve);
            const bool ok = VK_SetEditableLogicalDriveEncryption(cda, ld, state, preserve) ==
                            kSetEditableLogicalDriveEncryptionOK;
            FUZZ_CHECK(ok == (can == kCanSetEditableLogicalDriveEncryptionOK));
            FUZZ_CHECK(!ok || (ld < kMaxLogicalDrivesSupported && config->editable_ld_list[ld] != nullptr));
            refused = !ok;
            break;
        }
        default: {
            const VK_WORD ld = in.Byte() % 66;
            const VK_BOOL key = in.Byte() & 1;
            const VK_BOOL backup = in.Byte() & 1;
            const VK_BYTE can = VK_CanSetEditableLogicalDriveVolatileKey(cda, ld, key, backup);
            const bool ok = VK_SetEditableLogicalDriveVolatileKey(cda, ld, key, backup) ==
                            kSetEditableLogicalDriveVolatileKeyOK;
            FUZZ_CHECK(ok == (can == kCanSetEditableLogicalDriveVolatileKeyOK));
            FUZZ_CHECK(!ok || (key || !backup));
            refused = !ok;
            break;
        }
    }
    if (refused) {
        FUZZ_CHECK(Snapshot(config) == before);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    FuzzInput in{data, size};
    HeapStagedConfiguration config(c, in);

    c->flags[kCDAFlagsBuffers] = kEncryptionBuffers;
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    in.Fill(&c->sense_feature, sizeof(c->sense_feature));
    in.Fill(&c->encryption_password_recovery_buffer, sizeof(c->encryption_password_recovery_buffer));
    in.Fill(&c->encryption_boot_password_status_buffer, sizeof(c->encryption_boot_password_status_buffer));
    in.Fill(&c->encryption_key_manager_status, sizeof(c->encryption_key_manager_status));
    in.Fill(&c->encryption_ikek_status, sizeof(c->encryption_ikek_status));
    in.Fill(&c->encryption_role_attributes_buffer, sizeof(c->encryption_role_attributes_buffer));
    in.Fill(&c->encryption_key_cache_attributes, sizeof(c->encryption_key_cache_attributes));
    in.Fill(&c->encryption_boot_status_buffer, sizeof(c->encryption_boot_status_buffer));
    in.Fill(&c->encryption_features, sizeof(c->encryption_features));
    config.FillLogicalDrives(in, 2);
    const VK_BYTE state_before = config->encryption_boot_password_state;

    for (int calls = 0; calls < 24 && !in.Done(); ++calls) {
        OneCall(c, config.get(), in);
        FUZZ_CHECK(config->encryption_boot_password_state == state_before ||
                   config->encryption_boot_password_state <= kEncryptionBootPasswordEnabled);
    }
    return 0;
}
