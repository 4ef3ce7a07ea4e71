// Direct encryption operations against a simulated controller: the permission codes in the order
// they are tested, what each action sends (and that a refused one sends nothing), the
// re-initialisation afterwards and what the controller reports then.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"
#include "../unit/telmar_log_capture.h"

namespace {

using namespace telmar_encryption_host;

using Setup = std::function<void(FirmwareState&)>;

struct CodeCase {
    const char* name;
    Setup setup;
    std::function<VK_BYTE(PCDA)> ask;
    VK_BYTE code;
};

// Remote key management: no local-mode bit, a key name set.
void Remote(FirmwareState& s) {
    s.identify.encryption_status = (s.identify.encryption_status & ~0x4u) | 0x8000000 | 0x20000;
    s.encryption.key_name = "RemoteKeyName-3";
}

void Express(FirmwareState& s) {
    s.identify.encryption_status |= 0x10000;
    s.encryption.recovery_question.assign(kControllerEncryptionExpressModeQuestion,
                                          kControllerEncryptionExpressModeQuestion + 256);
}

// Logical drive 0 encrypted and online on a controller whose backup power is charged.
FirmwareState Rekeyable() {
    FirmwareState s = ConfiguredLocal();
    s.cache.battery_status = 0x1;
    return s;
}

class EncryptionDirectHost : public EncryptionHost {
protected:
    // Asks each case's question on a controller of its own and compares the code.
    void ExpectCodes(const std::vector<CodeCase>& cases, const FirmwareState& base = ConfiguredLocal()) {
        for (const CodeCase& c : cases) {
            SCOPED_TRACE(c.name);
            FirmwareState s = base;
            c.setup(s);
            ASSERT_NO_FATAL_FAILURE(Start(s));
            EXPECT_EQ(c.ask(cda()), c.code);
            StopController();
        }
    }
};

// ---- Clear to the factory state ---------------------------------------------------------------------

TEST_F(EncryptionDirectHost, ClearNeedsTheMasterKeyExactlyWhenEncryptedDrivesExist) {
    const std::string key = "LocalMasterKey-01";
    auto with = [](const char* k, size_t size) {
        return [k, size](PCDA cda) { return VK_CanClearEncryptionConfigurationSafe(cda, k, size); };
    };
    auto plaintext = [](FirmwareState& s) { s.find_configured_drive(0)->encryption_flags = 0; };
    ExpectCodes({
        {"no encryption", [](FirmwareState& s) { s.set_page("encryption", {0x00}); }, with(nullptr, 0),
         kCanClearEncryptionConfigurationNotSupported},
        {"not configured", [](FirmwareState& s) { s.identify.encryption_status = 0; }, with(nullptr, 0),
         kCanClearEncryptionConfigurationNotConfigured},
        {"rekey running", [](FirmwareState& s) { s.find_configured_drive(0)->encryption_flags = 0x09; },
         with(key.c_str(), 18), kCanClearEncryptionConfigurationEncodeOrRekeyInProgress},
        {"encrypted drive, no key", [](FirmwareState&) {}, with(nullptr, 0),
         kCanClearEncryptionConfigurationLogicalDrivesExist},
        {"no encrypted drive, a key", plaintext, with(key.c_str(), 18), kCanClearEncryptionConfigurationInvalidKey},
        {"no encrypted drive, no key", plaintext, with(nullptr, 0), kCanClearEncryptionConfigurationAllowed},
        {"key of size 0", [](FirmwareState&) {}, with(key.c_str(), 0), kCanClearEncryptionConfigurationInvalidKeySize},
        {"key breaking the rule", [](FirmwareState&) {}, with("short", 6), kCanClearEncryptionConfigurationInvalidKey},
        {"express local, a valid key", Express, with(key.c_str(), 18), kCanClearEncryptionConfigurationInvalidKey},
        {"the key", [](FirmwareState&) {}, with(key.c_str(), 18), kCanClearEncryptionConfigurationAllowed},
    });

    ASSERT_NO_FATAL_FAILURE(Start(ConfiguredLocal()));
    // A key of the right form that is not the controller's: sent, refused, nothing changes.
    EXPECT_FALSE(VK_ClearEncryptionConfiguration(cda(), "LocalMasterKey-99"));
    EXPECT_FALSE(Reinitialised());
    EXPECT_TRUE(CTRL_ENCRYPTION_IS_CONFIGURED(VK_GetControllerEncryptionStatus(cda())));
    host().clear_requests();
    EXPECT_TRUE(VK_ClearEncryptionConfiguration(cda(), key.c_str()));
    const auto writes = Writes(18);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], Record(88).u32(0, 1).text(4, key).hex());
    EXPECT_TRUE(Reinitialised());
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()) & 0xFFFF, 0u);
    // Refused: nothing goes out.
    host().clear_requests();
    EXPECT_FALSE(VK_ClearEncryptionConfiguration(cda(), key.c_str()));
    EXPECT_EQ(AllWrites(), 0u);
}

// ---- Controller rekey, foreign key import, password reset, rescan ------------------------------------

TEST_F(EncryptionDirectHost, ControllerRekeyNeedsARemoteKeyManagerAndALogin) {
    auto can = [](VK_BYTE user, const char* pw) {
        return [user, pw](PCDA cda) { return VK_CanRekeyController(cda, user, pw); };
    };
    const char* co = kOfficer.c_str();
    ExpectCodes({
        {"local", [](FirmwareState&) {}, can(0, co), kCanRekeyControllerNotRemoteKeyManager},
        {"not configured", [](FirmwareState& s) { s.identify.encryption_status = 0; }, can(0, co),
         kCanRekeyControllerEncryptionNotConfigured},
        {"not enabled", [](FirmwareState& s) { Remote(s), s.identify.encryption_status &= ~0x1u; }, can(0, co),
         kCanRekeyControllerEncryptionNotEnabled},
        {"role without rekey", [](FirmwareState& s) { Remote(s), s.encryption.roles[1].capabilities = 0; }, can(1, co),
         kCanRekeyControllerPermissionDenied},
        {"missing boot password", [](FirmwareState& s) { Remote(s), s.identify.encryption_status |= 0x40000; },
         can(0, co), kCanRekeyControllerLockout},
        {"empty password", Remote, [](PCDA cda) { return VK_CanRekeyControllerSafe(cda, 0, "x", 0); },
         kCanRekeyControllerInvalidPasswordSize},
        {"wrong password", Remote, can(0, "Wrong#pw1"), kCanRekeyControllerLoginFailed},
        {"failed encrypted drive", [](FirmwareState& s) { Remote(s), s.find_configured_drive(0)->unit_status = 1; },
         can(0, co), kCanRekeyControllerEncryptedLogicalDriveFailed},
        {"volatile keys", [](FirmwareState& s) { Remote(s), s.find_configured_drive(0)->additional_encryption_flags = 1; },
         can(0, co), kCanRekeyControllerEncryptedLogicalDriveHasVolatileKeys},
        {"no encrypted drive", [](FirmwareState& s) { Remote(s), s.find_configured_drive(0)->encryption_flags = 0; },
         can(0, co), kCanRekeyControllerNoEncryptedLogicalDrives},
        {"allowed", Remote, can(0, co), kCanRekeyControllerAllowed},
    });

    FirmwareState s = ConfiguredLocal();
    Remote(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    // A NULL password asks the controller nothing and may be allowed; the action then sends nothing.
    EXPECT_EQ(VK_CanRekeyController(cda(), 0, nullptr), kCanRekeyControllerAllowed);
    EXPECT_EQ(VK_RekeyController(cda(), 0, nullptr), kRekeyControllerFailed);
    EXPECT_EQ(AllWrites(), 0u);
    EXPECT_EQ(VK_RekeyController(cda(), 1, kUser.c_str()), kRekeyControllerOK);
    EXPECT_EQ(Writes(16), std::vector<std::string>{Record(32).text(0, kUser).u32(16, 1).u32(20, 1).hex()});
    EXPECT_EQ(state().encryption.controller_rekeys, 1u);
    EXPECT_TRUE(Reinitialised());
}

TEST_F(EncryptionDirectHost, ForeignKeyImportReachesTheDrivesWaitingForIt) {
    auto waiting = [](FirmwareState& s) {
        s.encryption.foreign_key = "ForeignKey-0042";
        auto& ld = *s.find_configured_drive(1);
        ld.encryption_flags = 0x03;
        ld.unit_status = 0x14;
    };
    auto can = [](const char* key, VK_BYTE user, const char* pw) {
        return [key, user, pw](PCDA cda) { return VK_CanImportForeignEncryptionKey(cda, key, user, pw); };
    };
    const char* co = kOfficer.c_str();
    ExpectCodes({
        {"user 2", waiting, can("ForeignKey-0042", 2, co), kCanImportForeignKeyInvalidUser},
        {"wrong password", waiting, can("ForeignKey-0042", 0, "Wrong#pw1"), kCanImportForeignKeyLoginFailed},
        {"key too short", waiting, can("Foreign", 0, co), kCanImportForeignKeyInvalidKey},
        {"remote", [&](FirmwareState& s) { waiting(s), Remote(s); }, can("ForeignKey-0042", 0, co),
         kCanImportForeignKeyNotLocalKeyManager},
        {"self-test failed", [&](FirmwareState& s) { waiting(s), s.identify.encryption_status |= 0x8; },
         can("ForeignKey-0042", 0, co), kCanImportForeignKeyControllerFailedSelfTest},
        {"nothing waits", [](FirmwareState&) {}, can("ForeignKey-0042", 0, co),
         kCanImportForeignKeyNoLogicalDrivesOffline},
        {"allowed", waiting, can("ForeignKey-0042", 0, co), kCanImportForeignKeyAllowed},
    });

    FirmwareState s = ConfiguredLocal();
    waiting(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    EXPECT_EQ(VK_ImportForeignEncryptionKey(cda(), "ForeignKey-0042", 0, nullptr),
              kImportForeignEncryptionKeyFailedNullPassword);
    EXPECT_TRUE(EncryptionCommands().empty());
    // The wrong key is answered with CHECK CONDITION; the data area is read afresh either way.
    EXPECT_EQ(VK_ImportForeignEncryptionKey(cda(), "ForeignKey-0043", 0, co), kImportForeignEncryptionKeyFailed);
    EXPECT_TRUE(Reinitialised());
    host().clear_requests();
    EXPECT_EQ(VK_ImportForeignEncryptionKey(cda(), "ForeignKey-0042", 1, kUser.c_str()), kImportForeignEncryptionKeyOK);
    EXPECT_EQ(Writes(23),
              std::vector<std::string>{Record(52).text(0, kUser).u32(16, 1).text(20, "ForeignKey-0042").hex()});
    EXPECT_TRUE(Reinitialised());
    EXPECT_FALSE(VK_GetLogicalDriveEncryptionInfo(cda(), 1) & kLogicalDriveEncryptionKeyWait);
}

TEST_F(EncryptionDirectHost, PasswordResetWithTheRecoveryAnswer) {
    auto recovery = [](FirmwareState& s) {
        s.identify.encryption_status |= 0x10000;
        const std::string question = "Where was the first controller?";
        s.encryption.recovery_question.assign(256, 0);
        std::copy(question.begin(), question.end(), s.encryption.recovery_question.begin());
        s.encryption.recovery_answer = "In a rack, row 17";
    };
    auto can = [](const char* answer, const char* pw) {
        return [answer, pw](PCDA cda) { return VK_CanResetEncryptionPassword(cda, answer, pw); };
    };
    ExpectCodes({
        {"no recovery question", [](FirmwareState&) {}, can("In a rack, row 17", "NewOfficer#7"),
         kCanResetEncryptionPasswordEncryptionRecoveryNotSet},
        {"express", [&](FirmwareState& s) { recovery(s), Express(s); }, can("In a rack, row 17", "NewOfficer#7"),
         kCanResetEncryptionPasswordExpressEncryption},
        {"short answer", recovery, can("Row 17", "NewOfficer#7"), kCanResetEncryptionPasswordInvalidAnswer},
        {"NULL answer", recovery, can(nullptr, "NewOfficer#7"), kCanResetEncryptionPasswordInvalidAnswer},
        {"weak password", recovery, can("In a rack, row 17", "newofficer"), kCanResetEncryptionPasswordInvalidPassword},
        {"NULL password", recovery, can("In a rack, row 17", nullptr), kCanResetEncryptionPasswordAllowed},
        {"allowed", recovery, can("In a rack, row 17", "NewOfficer#7"), kCanResetEncryptionPasswordAllowed},
    });

    FirmwareState s = ConfiguredLocal();
    recovery(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    TelmarLogCapture log;
    EXPECT_FALSE(VK_ResetEncryptionPassword(cda(), "In a tower, row 9", "NewOfficer#7"));
    EXPECT_EQ(TelmarLogCapture::Count(": Password recovery failed.\n"), 1u);
    EXPECT_TRUE(Reinitialised());
    EXPECT_EQ(state().updates.passwords.crypto_officer, kOfficer);
    host().clear_requests();
    EXPECT_TRUE(VK_ResetEncryptionPassword(cda(), "In a rack, row 17", "NewOfficer#7"));
    EXPECT_EQ(Writes(22), std::vector<std::string>{Record(80).text(0, "In a rack, row 17").text(64, "NewOfficer#7").hex()});
    EXPECT_TRUE(VK_VerifyEncryptionPassword(cda(), 0, "NewOfficer#7"));
}

TEST_F(EncryptionDirectHost, RescanOfRemoteKeysOnlyWithoutUEFIKeyManagement) {
    ExpectCodes({
        {"local", [](FirmwareState&) {}, VK_CanRescanEncryptionRemoteKeys,
         kCanRescanEncryptionRemoteKeysRemoteKeysNotConfigured},
        {"locked", [](FirmwareState& s) { Remote(s), s.encryption.boot_password_status = 0x3; },
         VK_CanRescanEncryptionRemoteKeys, kCanRescanEncryptionRemoteKeysControllerLocked},
        {"UEFI key management", [](FirmwareState& s) { Remote(s), s.set_page("encryption", {0x81}); },
         VK_CanRescanEncryptionRemoteKeys, kCanRescanEncryptionRemoteKeysNotSupportedWithUEFIKMS},
        {"remote", Remote, VK_CanRescanEncryptionRemoteKeys, kCanRescanEncryptionRemoteKeysAllowed},
    });
    FirmwareState s = ConfiguredLocal();
    Remote(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    EXPECT_TRUE(VK_RescanEncryptionRemoteKeys(cda()));
    EXPECT_EQ(Writes(24), std::vector<std::string>{Record(512).hex()});
    EXPECT_EQ(state().encryption.rescans, 1u);
    EXPECT_TRUE(Reinitialised());
}

// ---- Unlock with the boot password ----------------------------------------------------------------

TEST_F(EncryptionDirectHost, UnlockOnlyALockedControllerAndNeverBeyondTheField) {
    auto boot = [](VK_WORD status) {
        return [status](FirmwareState& s) {
            s.encryption.boot_password = "Boot pw 9";
            s.encryption.boot_password_status = status;
        };
    };
    auto can = [](const char* pw) {
        return [pw](PCDA cda) { return VK_CanUnlockController(cda, pw, pw == nullptr ? 0 : std::strlen(pw)); };
    };
    ExpectCodes({
        {"no boot password", boot(0), can("Boot pw 9"), kCanUnlockControllerBootPasswordNotSet},
        {"not locked", boot(0x1), can("Boot pw 9"), kCanUnlockControllerControllerNotLocked},
        {"no attempts left", [&](FirmwareState& s) { boot(0x3)(s), s.encryption.attempts_remaining[0] = 0; },
         can("Boot pw 9"), kCanUnlockControllerNoUnlockAttemptsRemaining},
        {"too short", boot(0x3), can("Boot"), kCanUnlockControllerInvalidBootPassword},
        {"allowed", boot(0x3), can("Boot pw 9"), kCanUnlockControllerAllowed},
    });

    FirmwareState s = ConfiguredLocal();
    boot(0x3)(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    // More than the 3,968-byte field: refused before anything is copied or sent.
    const std::string huge = std::string("Boot pw 9") + std::string(3960, '\0');
    EXPECT_EQ(VK_DoUnlockController(cda(), huge.data(), huge.size()), kDoUnlockControllerFailed);
    EXPECT_EQ(AllWrites(), 0u);
    EXPECT_EQ(VK_DoUnlockController(cda(), "Boot pw 8", 9), kDoUnlockControllerFailed);
    EXPECT_EQ(state().encryption.attempts_remaining[0], 4u);
    host().clear_requests();
    EXPECT_EQ(VK_DoUnlockController(cda(), "Boot pw 9", 9), kDoUnlockControllerOK);
    EXPECT_EQ(Writes(26), std::vector<std::string>{Record(3969).text(0, std::string(1, '\x01') + "Boot pw 9").hex()});
    EXPECT_TRUE(Reinitialised());
    EXPECT_FALSE(VK_GetControllerEncryptionStatus(cda()) & kControllerEncryptionControllerLocked);
}

// ---- Volume rekey, restore and crypto erase --------------------------------------------------------

TEST_F(EncryptionDirectHost, VolumeRekeySendsOneOrTwoRequests) {
    auto can = [](VK_WORD ld, VK_BOOL keep) {
        return [ld, keep](PCDA cda) { return VK_CanRekeyEncryptionVolumeKey(cda, ld, keep, 0, kOfficer.c_str()); };
    };
    ExpectCodes({
             {"no such drive", [](FirmwareState&) {}, can(5, kTrue),
              kCanRekeyEncryptionVolumeKeyEncryptionInvalidLogicalDrive},
             {"express", Express, can(0, kTrue), kCanRekeyEncryptionVolumeKeyLocalExpressEncryption},
             {"plaintext drive", [](FirmwareState&) {}, can(1, kTrue), kCanRekeyEncryptionVolumeKeyLogicalDriveNotEncrypted},
             {"drive degraded", [](FirmwareState& s) { s.find_configured_drive(0)->unit_status = 3; }, can(0, kTrue),
              kCanRekeyEncryptionVolumeKeyLogicalDriveStatusNotOK},
             {"no charged power, no expansion memory",
              [](FirmwareState& s) {
                  s.cache.battery_status = 0;
                  s.expansion.memory_kib = 0;
                  s.expansion.support_flags = 0x0F;
              },
              can(0, kTrue), kCanRekeyEncryptionVolumeKeyPowerlessTransformationNotSupported},
             {"wrong password",
              [](FirmwareState&) {},
              [](PCDA cda) { return VK_CanRekeyEncryptionVolumeKey(cda, 0, kTrue, 0, "Wrong#pw1"); },
              kCanRekeyEncryptionVolumeKeyLoginFailed},
             {"allowed", [](FirmwareState&) {}, can(0, kTrue), kCanRekeyEncryptionVolumeKeyAllowed},
         }, Rekeyable());

    struct Case {
        const char* name;
        VK_BOOL preserve_data;
        bool first_fails;
        std::vector<VK_DWORD> key_types;
        VK_BYTE result;
    } const cases[] = {
        {"keeping the data", kTrue, false, {2}, kRekeyEncryptionVolumeKeyOK},
        {"without the data", kFalse, false, {16, 8}, kRekeyEncryptionVolumeKeyOK},
        {"2 counts as not kept", 2, false, {16, 8}, kRekeyEncryptionVolumeKeyOK},
        {"stops when 16 fails", kFalse, true, {16}, kRekeyEncryptionVolumeKeyFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = Rekeyable();
        if (c.first_fails) {
            s.faults.push_back(Fails(16, true));
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_RekeyEncryptionVolumeKey(cda(), 0, c.preserve_data, 0, kOfficer.c_str()), c.result);
        std::vector<std::string> expected;
        for (VK_DWORD type : c.key_types) {
            expected.push_back(Record(32).text(0, kOfficer).u32(20, type).hex());
        }
        EXPECT_EQ(Writes(16), expected);
        EXPECT_TRUE(Reinitialised());
        StopController();
    }
    // A NULL password sends nothing.
    ASSERT_NO_FATAL_FAILURE(Start(Rekeyable()));
    EXPECT_EQ(VK_CanRekeyEncryptionVolumeKey(cda(), 0, kTrue, 0, nullptr), kCanRekeyEncryptionVolumeKeyAllowed);
    EXPECT_EQ(VK_RekeyEncryptionVolumeKey(cda(), 0, kTrue, 0, nullptr), kRekeyEncryptionVolumeKeyFailed);
    EXPECT_TRUE(EncryptionCommands().empty() || AllWrites() == 0u);
}

TEST_F(EncryptionDirectHost, ArrayRekeyCoversTheArraysEncryptedDrives) {
    FirmwareState s = Rekeyable();
    // A second encrypted drive on array 0, behind logical drive 0.
    s.add_configured_drive(2, {0, 1}, 1 << 20, 1 << 20).encryption_flags = 0x01;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    const char* co = kOfficer.c_str();
    EXPECT_EQ(VK_CanRekeyArrayEncryptionVolumeKey(cda(), 1, kTrue, 0, co),
              kCanRekeyArrayEncryptionVolumeKeyNoEncryptedLogicalDrives);
    EXPECT_EQ(VK_CanRekeyArrayEncryptionVolumeKey(cda(), 2, kTrue, 0, co), kCanRekeyArrayEncryptionVolumeKeyInvalidArray);
    host().clear_requests();
    EXPECT_EQ(VK_RekeyArrayEncryptionVolumeKey(cda(), 0, kTrue, 0, co), kRekeyArrayEncryptionVolumeKeyOK);
    EXPECT_EQ(Writes(16), (std::vector<std::string>{Record(32).text(0, kOfficer).u32(20, 2).u32(24, 0).hex(),
                                                    Record(32).text(0, kOfficer).u32(20, 2).u32(24, 2).hex()}));
}

TEST_F(EncryptionDirectHost, VolatileKeyRestoreOnlyForADriveWaitingForItsKey) {
    auto restorable = [](FirmwareState& s) {
        Remote(s);
        auto& ld = *s.find_configured_drive(0);
        ld.additional_encryption_flags = 0x3;
        ld.unit_status = 0x14;
    };
    auto can = [](PCDA cda) { return VK_CanRestoreLogicalDriveVolatileKey(cda, 0, 0, kOfficer.c_str()); };
    ExpectCodes({
        {"local", [&](FirmwareState& s) { restorable(s), s.identify.encryption_status |= 0x4; }, can,
         kCanRestoreLogicalDriveVolatileKeyNoRemoteKeyManager},
        {"no backup", [&](FirmwareState& s) { restorable(s), s.find_configured_drive(0)->additional_encryption_flags = 1; },
         can, kCanRestoreLogicalDriveVolatileKeyMissingBackup},
        {"online", [&](FirmwareState& s) { restorable(s), s.find_configured_drive(0)->unit_status = 0; }, can,
         kCanRestoreLogicalDriveVolatileKeyRestoreNotRequired},
        {"allowed", restorable, can, kCanRestoreLogicalDriveVolatileKeyAllowed},
    });
    FirmwareState s = ConfiguredLocal();
    restorable(s);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    EXPECT_TRUE(VK_RestoreLogicalDriveVolatileKey(cda(), 0, 0, kOfficer.c_str()));
    EXPECT_EQ(Writes(34),
              std::vector<std::string>{Record(32).text(0, kOfficer).u16(20, 1).u16(22, 1).u32(24, 0).hex()});
    EXPECT_TRUE(Reinitialised());
    EXPECT_EQ(VK_GetLogicalDriveStatusInfo(cda(), 0) & 0xFF, 0u);
}

TEST_F(EncryptionDirectHost, CryptoEraseHidesRekeysAndUnhides) {
    auto can = [](PCDA cda) { return VK_CanCryptoEraseLogicalDrive(cda, 0, 0, kOfficer.c_str()); };
    auto failed_member = [](bool active_spare) {
        return [active_spare](FirmwareState& s) {
            s.add_drive(4);
            auto& ld = *s.find_configured_drive(0);
            ld.failed = {1};
            if (active_spare) {
                ld.spares = {4};
                ld.active_spares = {4};
            }
        };
    };
    ExpectCodes({
        {"rekey running (0x09)", [](FirmwareState& s) { s.find_configured_drive(0)->encryption_flags = 0x09; }, can,
         kCanCryptoEraseLogicalDriveLogicalDriveNotEncrypted},
        {"waiting for its key", [](FirmwareState& s) { s.find_configured_drive(0)->encryption_flags = 0x03; }, can,
         kCanCryptoEraseLogicalDriveLogicalDriveIsOffline},
        {"failed data drive alone", failed_member(false), can, kCanCryptoEraseLogicalDriveArrayStatusNotOK},
        {"failed data drive and active spare", failed_member(true), can, kCanCryptoEraseLogicalDriveAllowed},
        {"express", Express, can, kCanCryptoEraseLogicalDriveInExpressLocalMode},
        {"allowed", [](FirmwareState&) {}, can, kCanCryptoEraseLogicalDriveAllowed},
    });

    for (bool rekey_fails : {false, true}) {
        SCOPED_TRACE(rekey_fails ? "rekey fails" : "rekey succeeds");
        FirmwareState s = ConfiguredLocal();
        if (rekey_fails) {
            s.faults.push_back(Fails(16, true));
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        TelmarLogCapture log;
        EXPECT_EQ(VK_CryptoEraseLogicalDrive(cda(), 0, 0, kOfficer.c_str()), rekey_fails ? kFalse : kTrue);
        // The login is checked first; unhidden whatever the rekey gave.
        EXPECT_EQ(WriteSequence(), (std::vector<std::string>{"1E/20", "51", "1E/16", "51"}));
        EXPECT_EQ(Writes(16), std::vector<std::string>{Record(32).text(0, kOfficer).u32(20, 8).hex()});
        EXPECT_EQ(TelmarLogCapture::Count("Assertion 'success' failed: Failed to crypto-erase ld 0\n"),
                  rekey_fails ? 1u : 0u);
        StopController();
    }
}

} // namespace
