// Pending encryption settings of a staged configuration against a simulated controller: each
// family's refusals in the order they are tried, what an accepted Set stages, and the change and
// login-required bits the refresh derives from the controller's status words.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "telm_config_internal.h"
#include "telm_encryption_requests.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"
#include "../unit/telmar_log_capture.h"

namespace {

using namespace telmar_encryption_host;

using Prepare = std::function<void(FirmwareState&)>;
using Ask = std::function<VK_BYTE(PCDA)>;

constexpr VK_QWORD kAllFeatures = 0xFFFFFF;
constexpr VK_DWORD kAllCapabilities = 0xFFFFFF;
constexpr VK_QWORD kCacheOn = 1ULL << 63;
constexpr VK_QWORD kCachePersistent = 1ULL << 62;

VK_QWORD KeyCache(bool enable, bool persistent, VK_WORD interval, VK_WORD attempts) {
    return (enable ? kCacheOn : 0) | (persistent ? kCachePersistent : 0) | VK_QWORD{interval} << 16 |
           attempts;
}

// The enabled-feature word the controller reports, through the feature breakout.
void Features(FirmwareState& s, VK_QWORD mask) {
    s.set_page("encryption", {0x01 | 0x40});
    s.encryption.features = {static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(mask >> 8),
                             static_cast<std::uint8_t>(mask >> 16)};
}

Prepare Without(VK_QWORD feature) {
    return [feature](FirmwareState& s) { Features(s, kAllFeatures & ~feature); };
}

void Nothing(FirmwareState&) {}

void Unconfigure(FirmwareState& s) {
    s.identify.encryption_status = 0;
}

void Disabled(FirmwareState& s) {
    s.identify.encryption_status &= ~0x1u;
}

void Locked(FirmwareState& s) {
    s.encryption.boot_password_status |= 0x2;
}

void Remote(FirmwareState& s) {
    s.identify.encryption_status = (s.identify.encryption_status & ~0x4u) | 0x8000000;
    s.encryption.key_name = "RemoteKeyName-3";
}

void Express(FirmwareState& s) {
    s.identify.encryption_status |= 0x10000;
    s.encryption.recovery_question.assign(kControllerEncryptionExpressModeQuestion,
                                          kControllerEncryptionExpressModeQuestion + 256);
}

void BootPasswordSet(FirmwareState& s) {
    s.encryption.boot_password_status |= 0x1;
    s.encryption.boot_password = "Boot pw 9";
}

void Suspended(FirmwareState& s) {
    BootPasswordSet(s);
    s.encryption.boot_password_status |= 0x4;
}

Prepare Drive(VK_WORD ld, std::function<void(qvsim::FwLogicalDrive&)> change) {
    return [ld, change](FirmwareState& s) { change(*s.find_configured_drive(ld)); };
}

Prepare UnitStatus(VK_WORD ld, std::uint8_t unit_status) {
    return Drive(ld, [unit_status](qvsim::FwLogicalDrive& d) { d.unit_status = unit_status; });
}

Prepare All(std::vector<Prepare> steps) {
    return [steps](FirmwareState& s) {
        for (const Prepare& step : steps) {
            step(s);
        }
    };
}

// Local mode, enabled, both passwords; logical drive 0 encrypted, 1 plaintext; every feature and
// every capability.
FirmwareState Base() {
    FirmwareState s = ConfiguredLocal();
    Features(s, kAllFeatures);
    return s;
}

FirmwareState RemoteBase() {
    FirmwareState s = Base();
    Remote(s);
    return s;
}

struct Case {
    const char* name;
    Prepare setup;
    Ask ask;
    VK_BYTE code;
    bool staged = true; // an editable configuration is created first
};

class EncryptionPendingHost : public EncryptionHost {
protected:
    void Stage(FirmwareState s) {
        ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    }

    // Each case on a controller of its own: the code of its question.
    void ExpectCodes(const std::vector<Case>& cases, const FirmwareState& base = Base()) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            FirmwareState s = base;
            c.setup(s);
            if (c.staged) {
                ASSERT_NO_FATAL_FAILURE(Stage(s));
            } else {
                ASSERT_NO_FATAL_FAILURE(Start(s));
            }
            EXPECT_EQ(c.ask(cda()), c.code);
            StopController();
        }
    }

    EDITABLE_CONFIGURATION& Config() { return *_VK_CDA(cda())->editable_configuration; }
    VK_DWORD Flags() { return Config().flags; }
    VK_QWORD DriveFlags(VK_WORD ld) { return Config().editable_ld_list[ld]->flags; }
};

Ask Key(const char* key, size_t size) {
    return [key, size](PCDA cda) { return VK_CanSetEditableControllerEncryptionKeySafe(cda, key, size); };
}

Ask Password(VK_BYTE user, const char* password, size_t size) {
    return [=](PCDA cda) {
        return VK_CanSetEditableControllerEncryptionPasswordSafe(cda, user, password, size);
    };
}

Ask Mode(VK_BYTE mode) {
    return [mode](PCDA cda) { return VK_CanChangeEditableControllerEncryption(cda, mode); };
}

Ask Plaintext(VK_BOOL allow) {
    return [allow](PCDA cda) { return VK_CanAllowEditableEncryptionPlaintextVolumes(cda, allow); };
}

Ask FirmwareLock(VK_BOOL lock) {
    return [lock](PCDA cda) { return VK_CanSetEditableControllerFirmwareLock(cda, lock); };
}

Ask Toggle(VK_BOOL on) {
    return [on](PCDA cda) { return VK_CanToggleEditableControllerEncryption(cda, on); };
}

Ask Question(const char* question, size_t question_size, const char* answer, size_t answer_size) {
    return [=](PCDA cda) {
        return VK_CanSetEditableEncryptionQuestionAndAnswerSafe(cda, question, question_size, answer,
                                                                answer_size);
    };
}

Ask BootPassword(const char* password, size_t size) {
    return [=](PCDA cda) { return VK_CanSetEditableEncryptionBootPasswordSafe(cda, password, size); };
}

Ask BootState(VK_BYTE state) {
    return [state](PCDA cda) { return VK_CanSetEditableEncryptionBootPasswordState(cda, state); };
}

Ask Cache(VK_QWORD value) {
    return [value](PCDA cda) { return VK_CanSetEditableEncryptionKeyCache(cda, value); };
}

Ask Encrypt(VK_WORD ld, VK_BYTE state, VK_BOOL preserve) {
    return [=](PCDA cda) { return VK_CanSetEditableLogicalDriveEncryption(cda, ld, state, preserve); };
}

Ask Volatile(VK_WORD ld, VK_BOOL key, VK_BOOL backup) {
    return [=](PCDA cda) { return VK_CanSetEditableLogicalDriveVolatileKey(cda, ld, key, backup); };
}

constexpr VK_BYTE kEncrypted = kSetEditableLogicalDriveEncryptionDataEncrypted;
constexpr VK_BYTE kPlaintext = kSetEditableLogicalDriveEncryptionDataPlaintext;

// ---- Permission codes, first match first ---------------------------------------------------------

TEST_F(EncryptionPendingHost, MasterKeyRefusalsInOrder) {
    const std::string local9(9, 'k'), local10 = "LocalKey-10", remote63(63, 'n');
    ExpectCodes({
        {"no configuration", Nothing, Key("LocalKey-10", 12), 2, false},
        {"mode none", Unconfigure, Key("LocalKey-10", 12), 3},
        {"locked", Locked, Key("LocalKey-10", 12), 10},
        {"express local", Express, Key("LocalKey-10", 12), 4},
        {"known key without rekey", Without(kEncryptionFeatureMasterKeyRekey), Key("LocalKey-10", 12), 7},
        {"drive waiting for its key", UnitStatus(0, 20), Key("LocalKey-10", 12), 6},
        {"master key reset running", [](FirmwareState& s) { s.identify.encryption_status |= 0x100; },
         Key("LocalKey-10", 12), 8},
        {"size 0", Nothing, Key("LocalKey-10", 0), 9},
        {"NULL", Nothing, Key(nullptr, 0), 1},
        {"local key of 9", Nothing, Key(local9.c_str(), 10), 5},
        {"local key of 10", Nothing, Key(local10.c_str(), local10.size()), 1},
        {"remote key name of 63", Remote, Key(remote63.c_str(), 64), 1},
        {"empty with nothing to cancel", Nothing, Key("", 1), 5},
    });
}

TEST_F(EncryptionPendingHost, PasswordRefusalsInOrder) {
    ExpectCodes({
        {"no configuration", Nothing, Password(0, "Officer#9", 10), 2, false},
        {"mode none", Unconfigure, Password(0, "Officer#9", 10), 3},
        {"express local", Express, Password(0, "Officer#9", 10), 4},
        {"role 2", Nothing, Password(2, "Officer#9", 10), 6},
        {"user role not enabled", Without(kEncryptionFeatureSetUserPassword), Password(1, "Officer#9", 10),
         7},
        {"user role not enabled, crypto officer", Without(kEncryptionFeatureSetUserPassword),
         Password(0, "Officer#9", 10), 1},
        {"size 0", Nothing, Password(0, "Officer#9", 0), 8},
        {"NULL", Nothing, Password(1, nullptr, 0), 1},
        {"no special character", Nothing, Password(0, "Officer99", 10), 5},
        {"valid", Nothing, Password(1, "User#Pass9", 11), 1},
        {"empty with nothing to cancel", Nothing, Password(0, "", 1), 5},
    });
}

TEST_F(EncryptionPendingHost, ModeRefusalsInOrder) {
    auto sed_enabled = [](FirmwareState& s) {
        s.set_page("managed_sed", {0x07});
        s.identify.managed_sed_mode = 0x3;
        s.managed_sed.master_key = "SedMaster#Key1";
    };
    ExpectCodes({
        {"no configuration", Nothing, Mode(3), 2, false},
        {"managed SED on, otherwise allowed", sed_enabled, Mode(3), 14},
        {"managed SED on skips the missing-key walk", All({sed_enabled, UnitStatus(0, 20)}), Mode(3), 14},
        {"managed SED on, still refused", sed_enabled, Mode(2), 7},
        {"locked", Locked, Mode(3), 13},
        {"a drive misses its key", UnitStatus(0, 20), Mode(3), 10},
        {"none, already none", Unconfigure, Mode(0), 7},
        {"none without clear", Without(kEncryptionFeatureClearEncryption), Mode(0), 12},
        {"express without its manager", All({Unconfigure, Without(kEncryptionFeatureExpressLocalEncryption)}),
         Mode(1), 11},
        {"express local from none", Unconfigure, Mode(1), 1},
        {"local, already local", Nothing, Mode(2), 7},
        {"remote without its manager", Without(kEncryptionFeatureRemoteKeyManager), Mode(3), 11},
        {"remote without conversion", Without(kEncryptionFeatureKeyManagerConversion), Mode(3), 3},
        {"remote with conversion", Nothing, Mode(3), 1},
        {"mode 4", Nothing, Mode(4), 8},
        {"none with an encrypted drive", Nothing, Mode(0), 5},
        {"local from express local with an encrypted drive", Express, Mode(2), 5},
        {"express local on a controller without encryption",
         [](FirmwareState& s) { s.set_page("encryption", {0x00}); }, Mode(1), 3},
    });
}

TEST_F(EncryptionPendingHost, SwitchRefusalsInOrder) {
    ExpectCodes({
        {"plaintext: no configuration", Nothing, Plaintext(kTrue), 2, false},
        {"plaintext: locked", Locked, Plaintext(kTrue), 9},
        {"plaintext: not supported", Without(kEncryptionFeatureAllowPlaintextVolumes), Plaintext(kTrue), 8},
        {"plaintext: already off", Nothing, Plaintext(kFalse), 6},
        {"plaintext: express local", Express, Plaintext(kTrue), 5},
        {"plaintext: local", Nothing, Plaintext(kTrue), 1},
        {"plaintext: none", Unconfigure, Plaintext(kTrue), 3},
        {"firmware lock: no configuration", Nothing, FirmwareLock(kTrue), 2, false},
        {"firmware lock: not enabled", Without(kEncryptionFeatureFirmwareLock), FirmwareLock(kTrue), 7},
        {"firmware lock: already unlocked", Nothing, FirmwareLock(kFalse), 3},
        {"firmware lock: none", Unconfigure, FirmwareLock(kTrue), 4},
        {"firmware lock: express local", Express, FirmwareLock(kTrue), 5},
        {"firmware lock: encryption disabled", Disabled, FirmwareLock(kTrue), 6},
        {"firmware lock: allowed", Nothing, FirmwareLock(kTrue), 1},
        {"toggle: no configuration", Nothing, Toggle(kFalse), 2, false},
        {"toggle: already on", Nothing, Toggle(kTrue), 5},
        {"toggle: disable unsupported", Without(kEncryptionFeatureDisableEncryption), Toggle(kFalse), 9},
        {"toggle: none", Unconfigure, Toggle(kTrue), 3},
        {"toggle: locked", Locked, Toggle(kFalse), 12},
        {"toggle: express local", Express, Toggle(kFalse), 4},
        {"toggle: rekeying drive", UnitStatus(0, 22), Toggle(kFalse), 6},
        {"toggle: encrypted drive busy", UnitStatus(0, 5), Toggle(kFalse), 8},
        {"toggle: encrypted drive", Nothing, Toggle(kFalse), 10},
        {"toggle: plaintext drives with a boot password",
         All({BootPasswordSet, Drive(0, [](qvsim::FwLogicalDrive& d) { d.encryption_flags = 0; })}),
         Toggle(kFalse), 11},
        {"toggle: plaintext drives", Drive(0, [](qvsim::FwLogicalDrive& d) { d.encryption_flags = 0; }),
         Toggle(kFalse), 1},
        {"toggle: enable", Disabled, Toggle(kTrue), 1},
        {"toggle: enable remote awaiting a reboot for it",
         All({Remote, Disabled, [](FirmwareState& s) { s.identify.reboot_reason = 0x100; }}), Toggle(kTrue),
         13},
        {"toggle: enable local awaiting a reboot for it",
         All({Disabled, [](FirmwareState& s) { s.identify.reboot_reason = 0x100; }}), Toggle(kTrue), 1},
    });
}

TEST_F(EncryptionPendingHost, QuestionAndBootPasswordRefusalsInOrder) {
    const std::string q16 = "Where is it now?", q15 = "Where is it now", a16 = "Under the desk 7",
                      a15 = "Under the desk.";
    const char* q = q16.c_str();
    const char* a = a16.c_str();
    ExpectCodes({
        {"question: no configuration", Nothing, Question(q, 17, a, 17), 2, false},
        {"question: none", Unconfigure, Question(q, 17, a, 17), 3},
        {"question: express local", Express, Question(q, 17, a, 17), 4},
        {"question: size 0", Nothing, Question(q, 0, a, 17), 8},
        {"answer: size 0", Nothing, Question(q, 17, a, 0), 9},
        {"both empty, nothing pending", Nothing, Question("", 1, "", 1), 7},
        {"question of 15", Nothing, Question(q15.c_str(), 16, a, 17), 5},
        {"empty question", Nothing, Question("", 1, a, 17), 5},
        {"answer of 15", Nothing, Question(q, 17, a15.c_str(), 16), 6},
        {"question with a tab", Nothing, Question("Where\tis it now?", 17, a, 17), 5},
        {"valid", Nothing, Question(q, 17, a, 17), 1},
        {"boot: no configuration", Nothing, BootPassword("Boot pw 9", 10), 3, false},
        {"boot: none", Unconfigure, BootPassword("Boot pw 9", 10), 2},
        {"boot: locked", Locked, BootPassword("Boot pw 9", 10), 10},
        {"boot: not enabled", Without(kEncryptionFeatureBootPassword), BootPassword("Boot pw 9", 10), 8},
        {"boot: size 0", Nothing, BootPassword("Boot pw 9", 0), 9},
        {"boot: empty with nothing to cancel", Nothing, BootPassword("", 1), 4},
        {"boot: 7 characters", Nothing, BootPassword("Boot pw", 8), 4},
        {"boot: a NUL inside", Nothing, BootPassword("Boot\0pw 9", 10), 4},
        {"boot: encryption disabled", Disabled, BootPassword("Boot pw 9", 10), 5},
        {"boot: express local", Express, BootPassword("Boot pw 9", 10), 6},
        {"boot: suspended", Suspended, BootPassword("Boot pw 9", 10), 7},
        {"boot: remote pending, UEFI key management",
         [](FirmwareState& s) { s.set_page("encryption", {0x01 | 0x40 | 0x80}); },
         [](PCDA cda) {
             VK_ChangeEditableControllerEncryption(cda, kControllerEncryptionRemote);
             return VK_CanSetEditableEncryptionBootPasswordSafe(cda, "Boot pw 9", 10);
         },
         11},
        {"boot: remote already, UEFI key management",
         All({Remote, [](FirmwareState& s) { s.set_page("encryption", {0x01 | 0x40 | 0x80}); }}),
         BootPassword("Boot pw 9", 10), 1},
        {"boot: NULL", Nothing, BootPassword(nullptr, 0), 1},
        {"boot: with its terminator", Nothing, BootPassword("Boot pw 9", 10), 1},
        {"boot: without its terminator", Nothing, BootPassword("Boot pw 9", 9), 1},
        {"state: no configuration", Nothing, BootState(1), 7, false},
        {"state: none", Unconfigure, BootState(1), 5},
        {"state: encryption disabled", Disabled, BootState(1), 6},
        {"state: express local", Express, BootState(1), 2},
        {"state: 3", BootPasswordSet, BootState(3), 11},
        {"state: 0xFF", BootPasswordSet, BootState(0xFF), 11},
        {"state: unchanged", BootPasswordSet, BootState(2), 8},
        {"state: removal while suspended", Suspended, BootState(0), 9},
        {"state: suspend without pause",
         All({BootPasswordSet, Without(kEncryptionFeaturePauseResumeBootPassword)}), BootState(1), 10},
        {"state: suspend while locked", All({BootPasswordSet, Locked}), BootState(1), 4},
        {"state: removal while locked", All({BootPasswordSet, Locked}), BootState(0), 1},
        {"state: suspend", BootPasswordSet, BootState(1), 1},
        {"state: no boot password to enable", Nothing, BootState(2), 3},
    });
}

TEST_F(EncryptionPendingHost, KeyCacheRefusalsInOrder) {
    const VK_QWORD good = KeyCache(true, false, 30, 5);
    ExpectCodes(
        {
            {"no configuration", Nothing, Cache(good), 2, false},
            {"unsupported", Without(kEncryptionFeatureKeyCache), Cache(good), 3},
            {"none", Unconfigure, Cache(good), 8},
            {"local", [](FirmwareState& s) { s.identify.encryption_status |= 0x4; }, Cache(good), 10},
            {"disabled", Disabled, Cache(good), 9},
            {"locked", Locked, Cache(good), 11},
            {"persistent without boot-time authentication", Without(kEncryptionFeatureBootTimeRemoteAuth),
             Cache(KeyCache(true, true, 30, 5)), 12},
            {"persistent without a boot password", Nothing, Cache(KeyCache(true, true, 30, 5)), 13},
            {"persistent, not enabled", BootPasswordSet, Cache(KeyCache(false, true, 0, 0)), 14},
            {"persistent with 0 attempts", BootPasswordSet, Cache(KeyCache(true, true, 0, 0)), 15},
            {"no attempts supported", [](FirmwareState& s) { s.encryption.kek_max_attempts = 0; },
             Cache(good), 4},
            {"no interval supported", [](FirmwareState& s) { s.encryption.kek_max_interval = 0; },
             Cache(good), 5},
            {"attempts above the maximum", Nothing, Cache(KeyCache(true, false, 30, 11)), 6},
            {"attempts at the maximum", Nothing, Cache(KeyCache(true, false, 30, 10)), 1},
            {"attempts below the minimum", Nothing, Cache(KeyCache(true, false, 0, 0)), 6},
            {"interval above the maximum", Nothing, Cache(KeyCache(true, false, 61, 5)), 7},
            {"interval at the minimum", Nothing, Cache(KeyCache(true, false, 1, 1)), 1},
            {"off with attempts", Nothing, Cache(KeyCache(false, false, 0, 3)), 6},
            {"off with an interval", Nothing, Cache(KeyCache(false, false, 5, 0)), 7},
            {"off", Nothing, Cache(0), 1},
            {"persistent", BootPasswordSet, Cache(KeyCache(true, true, 30, 5)), 1},
        },
        RemoteBase());
}

TEST_F(EncryptionPendingHost, LogicalDriveEncryptionRefusalsInOrder) {
    // A controller whose cache is disabled refuses a configuration: the cache goes after staging.
    auto CacheDisabledThen = [this](Ask ask) {
        return [this, ask](PCDA cda) {
            state().cache.cache_flags = 0x2;
            VK_ReInitializeCDA(cda);
            return ask(cda);
        };
    };
    ExpectCodes({
        {"no configuration", Nothing, Encrypt(1, kEncrypted, kFalse), 2, false},
        {"drive 64", Nothing, Encrypt(64, kEncrypted, kFalse), 24},
        {"empty slot", Nothing, Encrypt(5, kEncrypted, kFalse), 24},
        {"none", Unconfigure, Encrypt(1, kEncrypted, kFalse), 4},
        {"locked", Locked, Encrypt(1, kEncrypted, kFalse), 17},
        {"state 2", Nothing, Encrypt(1, 2, kFalse), 11},
        {"already plaintext", Nothing, Encrypt(1, kPlaintext, kFalse), 6},
        {"already encrypted", Nothing, Encrypt(0, kEncrypted, kFalse), 6},
        {"decrypting", Nothing, Encrypt(0, kPlaintext, kTrue), 8},
        {"express local", Express, Encrypt(1, kEncrypted, kFalse), 5},
        {"configured, disabled", Disabled, Encrypt(1, kEncrypted, kFalse), 10},
        {"drive not OK", UnitStatus(1, 3), Encrypt(1, kEncrypted, kFalse), 15},
        {"replacing the key without conversion", Without(kEncryptionFeatureConvertToEncrypted),
         Encrypt(1, kEncrypted, kFalse), 21},
        {"encoding without the feature", Without(kEncryptionFeatureEncodeVolume),
         Encrypt(1, kEncrypted, kTrue), 21},
        {"encoding without conversion", Without(kEncryptionFeatureConvertToEncrypted),
         Encrypt(1, kEncrypted, kTrue), 1},
        {"encoding, 64 transformations queued", [](FirmwareState& s) { s.expansion.queued = 64; },
         Encrypt(1, kEncrypted, kTrue), 14},
        {"encoding, 63 transformations queued", [](FirmwareState& s) { s.expansion.queued = 63; },
         Encrypt(1, kEncrypted, kTrue), 1},
        {"encoding, cache disabled since staging", Nothing, CacheDisabledThen(Encrypt(1, kEncrypted, kTrue)),
         18},
        {"replacing the key, cache disabled since staging", Nothing,
         CacheDisabledThen(Encrypt(1, kEncrypted, kFalse)), 1},
        {"replacing the key", Nothing, Encrypt(1, kEncrypted, kFalse), 1},
        {"encoding", Nothing, Encrypt(1, kEncrypted, kTrue), 1},
    });
}

TEST_F(EncryptionPendingHost, VolatileKeyRefusalsInOrder) {
    ExpectCodes(
        {
            {"no configuration", Nothing, Volatile(0, kTrue, kFalse), 2, false},
            {"drive 64", Nothing, Volatile(64, kTrue, kFalse), 3},
            {"empty slot", Nothing, Volatile(7, kTrue, kFalse), 3},
            {"not enabled", Without(kEncryptionFeatureVolatileKeys), Volatile(0, kTrue, kFalse), 15},
            {"backup without the key", Nothing, Volatile(0, kFalse, kTrue), 4},
            {"none", Unconfigure, Volatile(0, kTrue, kFalse), 5},
            {"disabled", Disabled, Volatile(0, kTrue, kFalse), 6},
            {"locked", Locked, Volatile(0, kTrue, kFalse), 16},
            {"express local", Express, Volatile(0, kTrue, kFalse), 7},
            {"backup in local mode", [](FirmwareState& s) { s.identify.encryption_status |= 0x4; },
             Volatile(0, kTrue, kTrue), 8},
            {"key operation running",
             Drive(0, [](qvsim::FwLogicalDrive& d) { d.additional_encryption_flags = 0x4; }),
             Volatile(0, kTrue, kFalse), 11},
            {"drive failed", UnitStatus(0, 3), Volatile(0, kTrue, kFalse), 12},
            {"drive waiting for its key", UnitStatus(0, 20), Volatile(0, kTrue, kFalse), 1},
            {"plaintext drive", Nothing, Volatile(1, kTrue, kFalse), 9},
            {"no change", Nothing, Volatile(0, kFalse, kFalse), 14},
            {"key and backup", Nothing, Volatile(0, kTrue, kTrue), 1},
        },
        RemoteBase());
}

// ---- What an accepted Set stages, and the refresh ------------------------------------------------

TEST_F(EncryptionPendingHost, GettersWithoutAConfigurationGiveTheirInvalidValues) {
    ASSERT_NO_FATAL_FAILURE(Start(Base()));
    EXPECT_EQ(VK_GetEditableControllerEncryption(cda()), kControllerEncryptionInvalid);
    EXPECT_EQ(VK_GetEditableControllerEncryptionPlaintextAllowed(cda()), kControllerPlaintextInvalid);
    EXPECT_EQ(VK_GetEditableControllerEncryptionToggle(cda()), kFalse);
    EXPECT_EQ(VK_GetEditableControllerFirmwareLock(cda()), kControllerFirmwareLockInvalid);
    EXPECT_EQ(VK_GetEditableEncryptionBootPasswordState(cda()), 0);
    EXPECT_EQ(VK_GetEditableEncryptionKeyCache(cda()), 0u);
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 0), kEditableLogicalDriveVolatileKeyUnknown);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(VK_GetEditableEncryptionRecoveryQuestion(cda(), buffer, sizeof(buffer)),
              kGetEditableEncryptionRecoveryQuestionNoEditableConfigCreated);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(8, '\0'));
    // A refused Set changes nothing and says so.
    EXPECT_EQ(VK_SetEditableEncryptionKeyCache(cda(), 0), kSetEditableEncryptionKeyCacheFailedUnknown);
    EXPECT_EQ(VK_ChangeEditableControllerEncryption(cda(), 2), kFalse);
}

TEST_F(EncryptionPendingHost, ConfigurationStartsFromTheStatusWords) {
    FirmwareState s = RemoteBase();
    Suspended(s);
    s.identify.encryption_status |= 0x80000 | 0x4000; // plaintext volumes, firmware locked
    s.identify.encryption_status |= 0x400;            // key cache on
    s.find_configured_drive(0)->additional_encryption_flags = 0x3;
    ASSERT_NO_FATAL_FAILURE(Stage(s));
    EXPECT_EQ(VK_GetEditableControllerEncryption(cda()), kControllerEncryptionRemote);
    EXPECT_EQ(VK_GetEditableControllerEncryptionPlaintextAllowed(cda()), kControllerPlaintextEnabled);
    EXPECT_EQ(VK_GetEditableControllerEncryptionToggle(cda()), kTrue);
    EXPECT_EQ(VK_GetEditableControllerFirmwareLock(cda()), kControllerFirmwareLocked);
    EXPECT_EQ(VK_GetEditableEncryptionBootPasswordState(cda()), kEncryptionBootPasswordDisabled);
    EXPECT_EQ(VK_GetEditableEncryptionKeyCache(cda()), VK_GetControllerEncryptionKeyCacheStatus(cda()));
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 0),
              kEditableLogicalDriveVolatileKeyEnabledWithBackup);
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 1), kEditableLogicalDriveVolatileKeyDisabled);
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 64), kEditableLogicalDriveVolatileKeyUnknown);
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 9), kEditableLogicalDriveVolatileKeyUnknown);
}

TEST_F(EncryptionPendingHost, ExpressLocalStagesWhatTheCommitGenerates) {
    FirmwareState s = Base();
    Unconfigure(s);
    s.find_configured_drive(0)->encryption_flags = 0;
    ASSERT_NO_FATAL_FAILURE(Stage(s));
    ASSERT_EQ(VK_ChangeEditableControllerEncryption(cda(), kControllerEncryptionExpressLocal), kTrue);
    EXPECT_EQ(VK_GetEditableControllerEncryption(cda()), kControllerEncryptionExpressLocal);
    EXPECT_EQ(VK_GetEditableControllerEncryptionToggle(cda()), kTrue);
    // No question was entered, yet the question's change bit is set.
    const VK_DWORD wanted = kEditableConfigRecoveryQuestion | kEditableConfigEncryptionEnabled |
                            kEditableConfigMasterKeyKnown | kEditableConfigCryptoOfficerPasswordKnown |
                            kEditableConfigEncryptionMode | kEditableConfigEncryptionToggle;
    EXPECT_EQ(Flags() & wanted, wanted);
    EXPECT_EQ(Flags() & (kEditableConfigFirmwareLocked | kEditableConfigLoginRequired), 0u);
    EXPECT_EQ(Config().encryption_question[0], '\0');
    EXPECT_EQ(VK_GetEditableEncryptionKeyCache(cda()), 0u);
    // And back to none: nothing of it is left pending.
    ASSERT_EQ(VK_ChangeEditableControllerEncryption(cda(), kControllerEncryptionNone), kTrue);
    EXPECT_EQ(Flags() & (kEditableConfigEncryptionMode | kEditableConfigEncryptionToggle |
                         kEditableConfigEncryptionEnabled | kEditableConfigMasterKeyKnown |
                         kEditableConfigCryptoOfficerPasswordKnown),
              0u);
}

TEST_F(EncryptionPendingHost, EnablingOnALockedFirmwareKeepsTheLockPending) {
    FirmwareState s = Base();
    Disabled(s);
    s.identify.encryption_status |= 0x4000;
    ASSERT_NO_FATAL_FAILURE(Stage(s));
    ASSERT_EQ(VK_GetEditableControllerFirmwareLock(cda()), kControllerFirmwareLocked);
    ASSERT_EQ(VK_ToggleEditableControllerEncryption(cda(), kTrue), kToggleEditableControllerEncryptionOK);
    EXPECT_EQ(VK_GetEditableControllerFirmwareLock(cda()), kControllerFirmwareLocked);
    EXPECT_EQ(Flags() & (kEditableConfigFirmwareLock | kEditableConfigEncryptionToggle),
              kEditableConfigEncryptionToggle);
}

TEST_F(EncryptionPendingHost, EachChangeAsksForALoginWhenTheUserRoleLacksItsCapability) {
    using Act = std::function<VK_BYTE(PCDA)>;
    struct LoginCase {
        const char* name;
        VK_DWORD capability;
        Prepare setup;
        Act act;
        VK_BYTE ok;
    } const cases[] = {
        {"crypto-officer password", kEncryptionUserCapabilityChangeCryptoPassword, Nothing,
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 0, "Officer#9"); }, 1},
        {"user password", kEncryptionUserCapabilityChangeUserPassword, Nothing,
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 1, "User#Pass9"); }, 1},
        {"master key", kEncryptionUserCapabilitySetMasterKey, Nothing,
         [](PCDA c) { return VK_SetEditableControllerEncryptionKey(c, "LocalKey-10"); }, 1},
        {"boot password", kEncryptionUserCapabilitySetBootPassword, Nothing,
         [](PCDA c) { return VK_SetEditableEncryptionBootPassword(c, "Boot pw 9"); }, 1},
        {"boot-password state", kEncryptionUserCapabilitySetBootPassword, BootPasswordSet,
         [](PCDA c) { return VK_SetEditableEncryptionBootPasswordState(c, 1); }, 1},
        {"key manager", kEncryptionUserCapabilitySetControlEncryption, Nothing,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_ChangeEditableControllerEncryption(c, 3)); }, 1},
        {"enable", kEncryptionUserCapabilitySetControlEncryption, Disabled,
         [](PCDA c) { return VK_ToggleEditableControllerEncryption(c, kTrue); }, 1},
        {"plaintext volumes", kEncryptionUserCapabilitySetControlEncryption, Nothing,
         [](PCDA c) { return VK_AllowEditableEncryptionPlaintextVolumes(c, kTrue); }, 1},
        {"firmware lock", kEncryptionUserCapabilitySetControllerFWLock, Nothing,
         [](PCDA c) { return VK_SetEditableControllerFirmwareLock(c, kTrue); }, 1},
        {"logical-drive encryption", kEncryptionUserCapabilityRekey, Nothing,
         [](PCDA c) { return VK_SetEditableLogicalDriveEncryption(c, 1, kEncrypted, kFalse); }, 1},
        {"volatile keys", kEncryptionUserCapabilitySetDEKStorage, Remote,
         [](PCDA c) { return VK_SetEditableLogicalDriveVolatileKey(c, 0, kTrue, kTrue); }, 1},
        {"key cache", kEncryptionUserCapabilitySetKekCache, Remote,
         [](PCDA c) { return VK_SetEditableEncryptionKeyCache(c, KeyCache(true, false, 30, 7)); }, 1},
    };
    for (const LoginCase& c : cases) {
        for (const VK_DWORD user : {kAllCapabilities & ~c.capability, kAllCapabilities}) {
            SCOPED_TRACE(std::string(c.name) +
                         (user == kAllCapabilities ? ", capable user" : ", user lacks it"));
            FirmwareState s = Base();
            c.setup(s);
            s.encryption.roles = {{0, "crypto", kAllCapabilities}, {1, "user", user}};
            ASSERT_NO_FATAL_FAILURE(Stage(s));
            EXPECT_EQ(Flags() & kEditableConfigLoginRequired, 0u);
            ASSERT_EQ(c.act(cda()), c.ok);
            EXPECT_EQ((Flags() & kEditableConfigLoginRequired) != 0, user != kAllCapabilities);
            StopController();
        }
    }
}

TEST_F(EncryptionPendingHost, ASettingChangedBackClearsItsBitButTheKeyCacheBitStays) {
    using Act = std::function<VK_BYTE(PCDA)>;
    struct BackCase {
        const char* name;
        Act change;
        Act back;
        VK_DWORD bit;
        bool stays;
    } const cases[] = {
        {"plaintext volumes", [](PCDA c) { return VK_AllowEditableEncryptionPlaintextVolumes(c, kTrue); },
         [](PCDA c) { return VK_AllowEditableEncryptionPlaintextVolumes(c, kFalse); },
         kEditableConfigAllowPlaintext, false},
        {"firmware lock", [](PCDA c) { return VK_SetEditableControllerFirmwareLock(c, kTrue); },
         [](PCDA c) { return VK_SetEditableControllerFirmwareLock(c, kFalse); }, kEditableConfigFirmwareLock,
         false},
        {"key manager",
         [](PCDA c) { return static_cast<VK_BYTE>(VK_ChangeEditableControllerEncryption(c, 2)); },
         [](PCDA c) { return static_cast<VK_BYTE>(VK_ChangeEditableControllerEncryption(c, 3)); },
         kEditableConfigEncryptionMode, false},
        {"crypto-officer password",
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 0, "Officer#9"); },
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 0, ""); },
         kEditableConfigCryptoOfficerPassword, false},
        {"user password",
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 1, "User#Pass9"); },
         [](PCDA c) { return VK_SetEditableControllerEncryptionPassword(c, 1, ""); },
         kEditableConfigUserPassword, false},
        {"key name", [](PCDA c) { return VK_SetEditableControllerEncryptionKey(c, "RemoteKeyName-4"); },
         [](PCDA c) { return VK_SetEditableControllerEncryptionKey(c, ""); }, kEditableConfigMasterKey,
         false},
        {"question",
         [](PCDA c) {
             return VK_SetEditableEncryptionQuestionAndAnswer(c, "Where is it now?", "Under the desk 7");
         },
         [](PCDA c) { return VK_SetEditableEncryptionQuestionAndAnswer(c, "", ""); },
         kEditableConfigRecoveryQuestion, false},
        {"boot-password state", [](PCDA c) { return VK_SetEditableEncryptionBootPasswordState(c, 1); },
         [](PCDA c) { return VK_SetEditableEncryptionBootPasswordState(c, 2); },
         kEditableConfigBootPasswordState, false},
        {"volatile keys", [](PCDA c) { return VK_SetEditableLogicalDriveVolatileKey(c, 0, kTrue, kFalse); },
         [](PCDA c) { return VK_SetEditableLogicalDriveVolatileKey(c, 0, kFalse, kFalse); },
         kEditableConfigVolatileKeys, false},
        {"logical-drive encryption",
         [](PCDA c) { return VK_SetEditableLogicalDriveEncryption(c, 1, kEncrypted, kTrue); },
         [](PCDA c) { return VK_SetEditableLogicalDriveEncryption(c, 1, kPlaintext, kTrue); },
         kEditableConfigLogicalDriveEncryption, false},
        {"key cache",
         [](PCDA c) { return VK_SetEditableEncryptionKeyCache(c, KeyCache(true, false, 30, 7)); },
         [](PCDA c) {
             return VK_SetEditableEncryptionKeyCache(c, VK_GetControllerEncryptionKeyCacheStatus(c));
         },
         kEditableConfigKeyCache, true},
    };
    for (const BackCase& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = RemoteBase();
        BootPasswordSet(s);
        s.identify.encryption_status |= 0x400; // the key cache on, as a setting may be
        ASSERT_NO_FATAL_FAILURE(Stage(s));
        EXPECT_EQ(Flags() & c.bit, 0u);
        ASSERT_EQ(c.change(cda()), 1);
        EXPECT_EQ(Flags() & c.bit, c.bit);
        ASSERT_EQ(c.back(cda()), 1);
        EXPECT_EQ(Flags() & c.bit, c.stays ? c.bit : 0u);
        StopController();
    }
}

TEST_F(EncryptionPendingHost, ABootPasswordEnablesItsStateAndIsDroppedWhenNoneIsWanted) {
    ASSERT_NO_FATAL_FAILURE(Stage(Base()));
    ASSERT_EQ(VK_GetEditableEncryptionBootPasswordState(cda()), kEncryptionBootPasswordUnset);
    ASSERT_EQ(VK_SetEditableEncryptionBootPassword(cda(), "Boot pw 9"), kSetEditableEncryptionBootPasswordOk);
    EXPECT_EQ(VK_GetEditableEncryptionBootPasswordState(cda()), kEncryptionBootPasswordEnabled);
    EXPECT_EQ(Flags() & (kEditableConfigBootPassword | kEditableConfigBootPasswordState),
              kEditableConfigBootPassword | kEditableConfigBootPasswordState);
    EXPECT_EQ(std::string(Config().encryption_boot_password, sizeof(Config().encryption_boot_password)),
              std::string("Boot pw 9") + std::string(24, '\0'));
    // No boot password wanted after all: the refresh drops the one entered, and nothing of it stays.
    ASSERT_EQ(VK_SetEditableEncryptionBootPasswordState(cda(), kEncryptionBootPasswordUnset),
              kSetEditableEncryptionBootPasswordStateOk);
    EXPECT_EQ(Flags() & (kEditableConfigBootPassword | kEditableConfigBootPasswordState), 0u);
    EXPECT_EQ(std::string(Config().encryption_boot_password, sizeof(Config().encryption_boot_password)),
              std::string(33, '\0'));
}

TEST_F(EncryptionPendingHost, EncryptingAnExistingDriveMarksItsEncode) {
    for (const VK_BOOL preserve : {kTrue, kFalse}) {
        SCOPED_TRACE(preserve ? "data kept" : "data replaced");
        ASSERT_NO_FATAL_FAILURE(Stage(Base()));
        ASSERT_EQ(VK_SetEditableLogicalDriveEncryption(cda(), 1, kEncrypted, preserve),
                  kSetEditableLogicalDriveEncryptionOK);
        const VK_QWORD f = DriveFlags(1);
        EXPECT_EQ(f & kEditableLDEncrypted, kEditableLDEncrypted);
        EXPECT_EQ((f & kEditableLDPreserveData) != 0, preserve == kTrue);
        EXPECT_EQ(f & (kEditableLDTransformEncode | kEditableLDDestructiveEncode),
                  preserve ? kEditableLDTransformEncode : kEditableLDDestructiveEncode);
        EXPECT_EQ(Flags() & kEditableConfigLogicalDriveEncryption, kEditableConfigLogicalDriveEncryption);
        // Drive 0 is untouched.
        EXPECT_EQ(DriveFlags(0) & (kEditableLDTransformEncode | kEditableLDDestructiveEncode), 0u);
        StopController();
    }
}

TEST_F(EncryptionPendingHost, StagedCredentialsAreReplacedWholeWipedOnCancelAndNeverLogged) {
    TelmarLogCapture log;
    ASSERT_NO_FATAL_FAILURE(Stage(Base()));
    const std::string long16 = "Officer#Long16ch", short8 = "Short#99";
    auto slot = [&] { return std::string(Config().encryption_password[0], 17); };
    ASSERT_EQ(VK_SetEditableControllerEncryptionPassword(cda(), 0, long16.c_str()), 1);
    EXPECT_EQ(slot(), long16 + std::string(1, '\0'));
    ASSERT_EQ(VK_SetEditableControllerEncryptionPassword(cda(), 0, short8.c_str()), 1);
    EXPECT_EQ(slot(), short8 + std::string(9, '\0'));
    ASSERT_EQ(VK_SetEditableControllerEncryptionPassword(cda(), 0, ""), 1);
    EXPECT_EQ(slot(), std::string(17, '\0'));
    EXPECT_EQ(Flags() & kEditableConfigCryptoOfficerPassword, 0u);

    const std::string key32(32, 'K'), key40(40, 'L');
    ASSERT_EQ(VK_SetEditableControllerEncryptionKey(cda(), key32.c_str()), 1);
    EXPECT_EQ(std::string(Config().encryption_key, 64), key32 + std::string(32, '\0'));
    EXPECT_EQ(VK_SetEditableControllerEncryptionKey(cda(), key40.c_str()), 0); // too long for a local key
    EXPECT_EQ(std::string(Config().encryption_key, 64), key32 + std::string(32, '\0'));
    ASSERT_EQ(VK_SetEditableControllerEncryptionKey(cda(), ""), 1);
    EXPECT_EQ(std::string(Config().encryption_key, 64), std::string(64, '\0'));

    ASSERT_EQ(VK_SetEditableEncryptionQuestionAndAnswer(cda(), "Where is it now?", "Under the desk 7"), 1);
    ASSERT_EQ(VK_SetEditableEncryptionQuestionAndAnswer(cda(), "", ""), 1);
    EXPECT_EQ(std::string(Config().encryption_answer, 65), std::string(65, '\0'));

    EXPECT_EQ(VK_SetEditableEncryptionBootPasswordSafe(cda(), nullptr, 4), 0);
    ASSERT_EQ(VK_SetEditableEncryptionBootPassword(cda(), "Boot pw 9"), 1);
    for (const std::string& secret :
         {long16, short8, key32, std::string("Under the desk"), std::string("Boot pw")}) {
        EXPECT_EQ(TelmarLogCapture::Count(secret), 0u) << secret;
    }
    EXPECT_EQ(TelmarLogCapture::Count("VK_SetEditableControllerEncryptionPasswordSafe("), 3u);
    EXPECT_EQ(TelmarLogCapture::Count(":0):1\n"), 7u); // 3 passwords, 2 keys, the question twice
    EXPECT_EQ(TelmarLogCapture::Count(":2):5\n"), 1u); // the rejected key: too long, refused
    EXPECT_EQ(TelmarLogCapture::Count(":u):1\n"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("VK_SetEditableEncryptionBootPasswordSafe("), 2u);
}

TEST_F(EncryptionPendingHost, RecoveryQuestionCopyNeedsRoomForItsTerminator) {
    FirmwareState s = Base();
    s.encryption.recovery_question.assign(256, 0);
    std::memcpy(s.encryption.recovery_question.data(), "Where is it now?", 16);
    ASSERT_NO_FATAL_FAILURE(Stage(s));
    char buffer[20];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(VK_GetEditableEncryptionRecoveryQuestion(cda(), buffer, 16),
              kGetEditableEncryptionRecoveryQuestionBufferSizeTooSmall);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(16, '\0') + "xxxx");
    EXPECT_EQ(VK_GetEditableEncryptionRecoveryQuestion(cda(), buffer, 17),
              kGetEditableEncryptionRecoveryQuestionOK);
    EXPECT_EQ(std::string(buffer), "Where is it now?");
    EXPECT_EQ(VK_GetEditableEncryptionRecoveryQuestion(cda(), nullptr, 17),
              kGetEditableEncryptionRecoveryQuestionNullBuffer);
}

// A new logical drive staged in slot 5 of array 0, plaintext, as staged-drive creation leaves one
// while no encryption is pending for it.
void StageNewDrive(EDITABLE_CONFIGURATION& config) {
    auto* ld = static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
    ASSERT_NE(ld, nullptr);
    std::memset(ld, 0, sizeof(*ld));
    ld->flags = kEditableLDNewDrive;
    ld->ld_number = 5;
    ld->editable_array_number = 0;
    ld->lu_cache_ld_number = 0xFFFF;
    config.editable_ld_list[5] = ld;
}

TEST_F(EncryptionPendingHost, ANewLogicalDriveRefusesModeChangesAndNeedsItsEncryptionWritten) {
    ASSERT_NO_FATAL_FAILURE(Stage(Base()));
    EXPECT_EQ(__VK_EditableConfigurationHasNewLogicalDrives(cda()), kFalse);
    ASSERT_NO_FATAL_FAILURE(StageNewDrive(Config()));
    EXPECT_EQ(__VK_EditableConfigurationHasNewLogicalDrives(cda()), kTrue);
    EXPECT_EQ(VK_CanAllowEditableEncryptionPlaintextVolumes(cda(), kTrue),
              kCanAllowPlaintextLogicalDriveExists);
    EXPECT_EQ(VK_CanChangeEditableControllerEncryption(cda(), 3),
              kCanChangeEditableControllerEncryptionHasUnsavedLogicalDrives);
    EXPECT_EQ(VK_CanToggleEditableControllerEncryption(cda(), kFalse),
              kCanToggleEditableControllerEncryptionNewLogicalDrivesExist);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveVolatileKey(cda(), 5, kTrue, kFalse),
              kCanSetEditableLogicalDriveVolatileKeyLogicalDriveNotEncrypted);

    // A plaintext new drive is created and then rekeyed to plaintext: the refresh marks it.
    ASSERT_EQ(VK_SetEditableControllerFirmwareLock(cda(), kTrue), kSetEditableControllerFirmwareLockOK);
    EXPECT_EQ(Flags() & kEditableConfigLogicalDriveEncryption, kEditableConfigLogicalDriveEncryption);
    ASSERT_EQ(VK_SetEditableLogicalDriveEncryption(cda(), 5, kEncrypted, kFalse),
              kSetEditableLogicalDriveEncryptionOK);
    EXPECT_EQ(Flags() & kEditableConfigLogicalDriveEncryption, 0u);
    // Back to plaintext is refused: plaintext volumes are neither allowed nor pending, encryption on.
    EXPECT_EQ(VK_CanSetEditableLogicalDriveEncryption(cda(), 5, kPlaintext, kFalse),
              kCanSetEditableLogicalDriveEncryptionPlaintextNotAllowed);
    Config().flags |= kEditableConfigPlaintextAllowed;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveEncryption(cda(), 5, kPlaintext, kFalse),
              kCanSetEditableLogicalDriveEncryptionOK);

    // A volatile key on the new drive is written whatever the controller says of drive 5.
    ASSERT_EQ(VK_SetEditableLogicalDriveVolatileKey(cda(), 5, kTrue, kFalse),
              kSetEditableLogicalDriveVolatileKeyOK);
    EXPECT_EQ(DriveFlags(5) & kEditableLDVolatileKeyChanged, kEditableLDVolatileKeyChanged);
    EXPECT_EQ(Flags() & kEditableConfigVolatileKeys, kEditableConfigVolatileKeys);
    EXPECT_EQ(VK_GetEditableLogicalDriveVolatileKey(cda(), 5),
              kEditableLogicalDriveVolatileKeyEnabledNoBackup);
}

// ---- On a controller set up builder by builder ---------------------------------------------------

TEST_F(EncryptionPendingHost, CanAnswersFollowTheControllerAfterEachBuilder) {
    FirmwareState current = Unconfigured();
    Features(current, kAllFeatures);
    const std::string co = "Crypto#Off1";
    const char* c = co.c_str();
    struct Step {
        const char* name;
        std::function<VK_BOOL(PCDA)> build;
        std::vector<std::pair<Ask, VK_BYTE>> answers;
        std::function<void(FirmwareState&)> after = Nothing; // what a reboot would change
    } const steps[] = {
        {"unconfigured",
         [](PCDA) { return kTrue; },
         {{Key("LocalKey-10", 12), 3}, {Mode(1), 1}, {Toggle(kTrue), 3}, {BootState(2), 5}}},
        {"crypto-officer password",
         [&](PCDA cda) { return _VK_SetEncryptionPassword(cda, 0, c, 12, 0, nullptr, 0); },
         {{[](PCDA cda) { return VK_GetEditableControllerEncryption(cda); }, kControllerEncryptionRemote},
          {Password(0, "", 1), 5},
          {Toggle(kTrue), 1},
          {Key("RemoteKeyName-4", 16), 1}}},
        {"local key, mode 2 + 1",
         [&](PCDA cda) {
             return _VK_SetEncryptionKey(cda, 0, c, 12, "MasterKey-Local-7", 18) &&
                    _VK_SetEncryptionKeyManagementMode(cda, 0, 3, c, 12);
         },
         {{[](PCDA cda) { return VK_GetEditableControllerEncryption(cda); }, kControllerEncryptionLocal},
          {Toggle(kTrue), 5},
          {Mode(2), 7},
          {FirmwareLock(kTrue), 1},
          {BootState(2), 3}}},
        {"firmware lock",
         [&](PCDA cda) { return _VK_SetEncryptionUnlockFirmware(cda, 0, 0, c, 12); },
         {{[](PCDA cda) { return VK_GetEditableControllerFirmwareLock(cda); }, kControllerFirmwareLocked},
          {FirmwareLock(kTrue), 3}}},
        {"boot password",
         [&](PCDA cda) { return _VK_SetEncryptionBootPassword(cda, 0, c, 12, "Boot pw 9", 9); },
         {{[](PCDA cda) { return VK_GetEditableEncryptionBootPasswordState(cda); },
           kEncryptionBootPasswordEnabled},
          {BootState(2), 8},
          {BootPassword("", 1), 4},
          {BootPassword("Boot pw 10", 11), 1}}},
        {"boot password suspended",
         [&](PCDA cda) {
             return _VK_SetEncryptionBootPasswordState(cda, 0, c, 12, kEncryptionBootPasswordDisabled);
         },
         {{[](PCDA cda) { return VK_GetEditableEncryptionBootPasswordState(cda); },
           kEncryptionBootPasswordDisabled},
          {BootPassword("Boot pw 9", 10), 7},
          {BootState(0), 9},
          {BootState(2), 1}}},
        {"locked at boot",
         [](PCDA) { return kTrue; },
         {{Key("LocalKey-10", 12), 10},
          {Mode(3), 13},
          {Plaintext(kTrue), 9},
          {Toggle(kFalse), 12},
          {BootPassword("Boot pw 9", 10), 10}},
         Locked},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        ASSERT_NO_FATAL_FAILURE(Start(current));
        ASSERT_TRUE(step.build(cda()));
        current = state();
        StopController();
        step.after(current);
        ASSERT_NO_FATAL_FAILURE(Stage(current));
        for (size_t i = 0; i < step.answers.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(step.answers[i].first(cda()), step.answers[i].second);
        }
        StopController();
    }
}

} // namespace
