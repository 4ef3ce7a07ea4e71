// The commit engine and its encryption steps against a simulated controller: the permission checks in
// their order, the plain commit's proof that the live configuration is unchanged, and each encryption
// step's requests as the controller received them.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"
#include "qvsim/virtual_clock.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using namespace telmar_encryption_host;
using qvsim::FirmwareState;

constexpr std::uint32_t kReserved = 32768;

// Drives 0-5 of distinct sizes; logical drive 0 (RAID 0) on drives 0 and 1 with drive 2 as its
// spare, logical drive 1 (RAID 1) on drives 3 and 4; drive 5 unassigned.
FirmwareState TwoArrays() {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.reserved_blocks = kReserved;
        d.total_blocks = (1u << 24) + 4096u * (6 - pd) + kReserved;
        d.block_size = 512;
    }
    st.add_configured_drive(0, {0, 1}, 1u << 20).spares = {2};
    auto& mirror = st.add_configured_drive(1, {3, 4}, 1u << 21);
    mirror.fault_tolerance = 2;
    st.parameters.drive_configuration_flags |= 0x80; // spares activate on predictive failure
    return st;
}

class CommitEngineHost : public EncryptionHost {
protected:
    void StartStaged(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        host().clear_requests();
    }
    PEDITABLE_CONFIGURATION config() { return _VK_CDA(cda())->editable_configuration; }
    PEDITABLE_LOGICAL_DRIVE ld(VK_WORD n) { return config()->editable_ld_list[n]; }
    PEDITABLE_ARRAY array(VK_WORD n) { return config()->editable_array_list[n]; }
};

// ---- Permission checks ----

struct CanRow {
    const char* name;
    std::function<void(FirmwareState&)> firmware;        // before the controller starts
    std::function<void(EDITABLE_CONFIGURATION&)> staged; // after creation
    std::function<void(FirmwareState&)> live;            // the controller after creation
    std::function<int(PCDA)> call;
    int expected;
    bool create = true;
};

int Plain(PCDA c) {
    return VK_CanCommitEditableConfiguration(c);
}
std::function<int(PCDA)> Encrypted(VK_BYTE user, std::string password) {
    return [=](PCDA c) { return int(VK_CanCommitEncryptedEditableConfiguration(c, user, password.c_str())); };
}

void Changed(EDITABLE_CONFIGURATION& c) {
    c.flags |= kEditableConfigSurvivalMode;
}
PEDITABLE_LOGICAL_DRIVE Ld(EDITABLE_CONFIGURATION& c, VK_WORD n) {
    return c.editable_ld_list[n];
}
void UseFailureActivatedSpares(EDITABLE_CONFIGURATION& c) {
    c.controller_spare_activation_mode = 0;
}

TEST_F(CommitEngineHost, CanCommitAnswersInFirstMatchOrder) {
    const std::vector<CanRow> rows = {
        // Shared checks.
        {"no configuration",
         {},
         {},
         {},
         Plain,
         kCanCommitEditableConfigurationNoEditableConfigCreated,
         false},
        {"no configuration, encrypted",
         {},
         {},
         {},
         Encrypted(0, kOfficer),
         kCanCommitEditableConfigurationNoEditableConfigCreated,
         false},
        {"activation started after creation",
         {},
         Changed,
         [](FirmwareState& s) { s.ofa.status = 3; },
         Plain,
         kCanCommitEditableConfigurationControllerOFAActive},
        {"mode staged without the crypto-officer password",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             c.encryption = kControllerEncryptionLocal;
             c.flags |= kEditableConfigMasterKeyKnown;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationEncryptionPasswordNotSet},
        {"mode staged without the master key",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             c.encryption = kControllerEncryptionLocal;
             c.flags |= kEditableConfigCryptoOfficerPasswordKnown;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationEncryptionKeyNotSet},
        {"key missing beats an invalid spare mode",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             UseFailureActivatedSpares(c);
             c.encryption = kControllerEncryptionRemote;
             c.flags |= kEditableConfigCryptoOfficerPasswordKnown;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationEncryptionKeyNotSet},
        {"RAID 0 with a spare, failure activation",
         {},
         UseFailureActivatedSpares,
         {},
         Plain,
         kCanCommitEditableConfigurationInvalidSpareActivationMode},
        {"invalid spare mode beats an unlocked new drive",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             UseFailureActivatedSpares(c);
             Ld(c, 1)->flags = (Ld(c, 1)->flags | kEditableLDNewDrive) & ~kEditableLDLocked;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationInvalidSpareActivationMode},
        {"new drive not locked",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 1)->flags = (Ld(c, 1)->flags | kEditableLDNewDrive) & ~kEditableLDLocked;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationUnlockedLogicalDrivesExist},
        {"unlocked beats an orphan LU cache",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 1)->flags = (Ld(c, 1)->flags | kEditableLDNewDrive) & ~kEditableLDLocked;
             Ld(c, 0)->flags |= kEditableLDLUCache;
             Ld(c, 0)->lu_cache_ld_number = 9;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationUnlockedLogicalDrivesExist},
        {"new drive locked",
         {},
         [](EDITABLE_CONFIGURATION& c) { Ld(c, 1)->flags |= kEditableLDNewDrive | kEditableLDLocked; },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"LU cache naming an empty slot",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 0)->flags |= kEditableLDLUCache | kEditableLDLUCacheChanged;
             Ld(c, 0)->lu_cache_ld_number = 9;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationHasOrphanLUCacheLogicalDrive},
        {"LU cache naming a drive above 63",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 0)->flags |= kEditableLDLUCache | kEditableLDLUCacheChanged;
             Ld(c, 0)->lu_cache_ld_number = 64;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationHasOrphanLUCacheLogicalDrive},
        {"LU cache whose partner names another drive",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 0)->flags |= kEditableLDLUCache | kEditableLDLUCacheChanged;
             Ld(c, 0)->lu_cache_ld_number = 1;
             Ld(c, 1)->lu_cache_ld_number = 1;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationHasOrphanLUCacheLogicalDrive},
        {"LU cache paired both ways",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Ld(c, 0)->flags |= kEditableLDLUCache | kEditableLDLUCacheChanged;
             Ld(c, 0)->lu_cache_ld_number = 1;
             Ld(c, 1)->lu_cache_ld_number = 0;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"label changed",
         {},
         [](EDITABLE_CONFIGURATION& c) { Ld(c, 1)->flags &= ~kEditableLDLabelUnchanged; },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"SED to be enabled",
         {},
         [](EDITABLE_CONFIGURATION& c) { Ld(c, 1)->flags |= kEditableLDEnableSED; },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        // Nothing modified on any logical drive.
        {"nothing at all", {}, {}, {}, Plain, kCanCommitEditableConfigurationNoChangesToCommit},
        {"only a deleted drive",
         {},
         [](EDITABLE_CONFIGURATION& c) { c.deleted_ld_count = 1; },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"only a controller setting", {}, Changed, {}, Plain, kCanCommitEditableConfigurationOK},
        {"the highest staged setting bit",
         {},
         [](EDITABLE_CONFIGURATION& c) { c.flags |= 0x20000; },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"a bit above the staged settings",
         {},
         [](EDITABLE_CONFIGURATION& c) { c.flags |= 0x40000; },
         {},
         Plain,
         kCanCommitEditableConfigurationNoChangesToCommit},
        {"a transformation queued on the controller",
         [](FirmwareState& s) { s.expansion.queued = 1; },
         {},
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"more queued than the controller holds",
         [](FirmwareState& s) { s.expansion.queued = 65; },
         {},
         {},
         Plain,
         kCanCommitEditableConfigurationNoChangesToCommit},
        // Spare activation mode.
        {"RAID 0 and RAID 1 sharing an array with auto-replace spares",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             UseFailureActivatedSpares(c);
             c.editable_array_list[1]->spare_drives[0] = 5;
             c.editable_array_list[1]->spare_drive_count = 1;
             c.editable_pd_list[5].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
             Ld(c, 1)->RAID_level = 0x01;
             c.editable_array_list[1]->logical_drives[1] = 0;
             c.editable_array_list[1]->logical_drive_count = 2;
             c.editable_array_list[0]->spare_drive_count = 0;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationInvalidSpareActivationMode},
        {"some RAID 0 with dedicated spares",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             UseFailureActivatedSpares(c);
             Changed(c);
             c.editable_array_list[1]->spare_drives[0] = 5;
             c.editable_array_list[1]->spare_drive_count = 1;
             c.editable_pd_list[5].config_usage_info = kPhysicalDriveUsageShareableStandbySpare;
             c.editable_array_list[1]->logical_drives[1] = 0;
             c.editable_array_list[1]->logical_drive_count = 2;
             c.editable_array_list[0]->spare_drive_count = 0;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"predictive activation clears it",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             Changed(c);
             c.controller_spare_activation_mode = 1;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"RAID 1 with spares, failure activation",
         {},
         [](EDITABLE_CONFIGURATION& c) {
             UseFailureActivatedSpares(c);
             Changed(c);
             Ld(c, 0)->RAID_level = 0x02;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
    };
    for (const CanRow& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = TwoArrays();
        if (row.firmware) {
            row.firmware(st);
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        if (row.create) {
            ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
            if (row.staged) {
                row.staged(*config());
            }
        }
        if (row.live) {
            row.live(state());
        }
        TelmarLogCapture log;
        EXPECT_EQ(row.call(cda()), row.expected);
        EXPECT_EQ(
            TelmarLogCapture::Count("Assertion 'transformation_queue_size <= 64' failed: Number of queued "
                                    "transformations exceeds max supported\n"),
            row.name == std::string("more queued than the controller holds") ? 1u : 0u);
        StopController();
    }
}

// On a controller configured for local encryption: who may commit encryption changes, and that the
// plain commit sends them to the encrypted one.
TEST_F(CommitEngineHost, EncryptedCommitChecksTheLoginFirst) {
    auto pending = [](EDITABLE_CONFIGURATION& c) { c.flags |= kEditableConfigBootPassword; };
    auto login_required = [](EDITABLE_CONFIGURATION& c) { c.flags |= kEditableConfigLoginRequired; };
    const std::vector<CanRow> rows = {
        {"plain, pending encryption change",
         {},
         pending,
         {},
         Plain,
         kCanCommitEditableConfigurationPasswordRequired},
        {"plain, pending change staged as none",
         {},
         [&](EDITABLE_CONFIGURATION& c) {
             pending(c);
             c.encryption = kControllerEncryptionNone;
         },
         {},
         Plain,
         kCanCommitEditableConfigurationOK},
        {"plain, a setting only", {}, Changed, {}, Plain, kCanCommitEditableConfigurationOK},
        {"officer with the right password",
         {},
         pending,
         {},
         Encrypted(0, kOfficer),
         kCanCommitEditableConfigurationOK},
        {"user with the right password",
         {},
         pending,
         {},
         Encrypted(1, kUser),
         kCanCommitEditableConfigurationOK},
        {"user where a login is required",
         {},
         [&](EDITABLE_CONFIGURATION& c) {
             pending(c);
             login_required(c);
         },
         {},
         Encrypted(1, kUser),
         kCanCommitEncryptedEditableConfigurationPermissionDenied},
        {"user where a login is required, wrong password too",
         {},
         [&](EDITABLE_CONFIGURATION& c) {
             pending(c);
             login_required(c);
         },
         {},
         Encrypted(1, "Wrong#99"),
         kCanCommitEncryptedEditableConfigurationPermissionDenied},
        {"officer where a login is required",
         {},
         [&](EDITABLE_CONFIGURATION& c) {
             pending(c);
             login_required(c);
         },
         {},
         Encrypted(0, kOfficer),
         kCanCommitEditableConfigurationOK},
        {"wrong password",
         {},
         pending,
         {},
         Encrypted(0, "Wrong#99"),
         kCanCommitEncryptedEditableConfigurationLoginFailed},
        {"user's password for the officer",
         {},
         pending,
         {},
         Encrypted(0, kUser),
         kCanCommitEncryptedEditableConfigurationLoginFailed},
        {"wrong password, nothing encrypted pending",
         {},
         Changed,
         {},
         Encrypted(0, "Wrong#99"),
         kCanCommitEditableConfigurationOK},
        {"right password, nothing to commit",
         {},
         {},
         {},
         Encrypted(0, kOfficer),
         kCanCommitEditableConfigurationNoChangesToCommit},
    };
    for (const CanRow& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(ConfiguredLocal()));
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        if (row.staged) {
            row.staged(*config());
        }
        host().clear_requests();
        EXPECT_EQ(row.call(cda()), row.expected);
        // The Can functions verify a password but never send a change.
        EXPECT_EQ(AllWrites(), Writes(kEncryptionFunctionVerifyPassword).size());
        StopController();
    }
}

// ---- Plain commit: the proof that nothing changed on the controller since creation ----

TEST_F(CommitEngineHost, ALiveChangeSinceCreationRefusesThePlainCommitOnly) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    ASSERT_TRUE(VK_ChangeEditableControllerRebuildPriority(cda(), 1));
    const VK_DWORD staged_flags = config()->flags;
    _VK_CDA(cda())->editable_configuration_commit_errors = 0x5A5; // must survive the refusal
    state().mnp_delay = 30;                                       // another program's change
    {
        TelmarLogCapture log;
        EXPECT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationOutOfSync);
        EXPECT_EQ(TelmarLogCapture::Count("Editable config crc check failed\n"), 1u);
        EXPECT_EQ(TelmarLogCapture::Count("VK_CommitEditableConfiguration("), 1u);
        EXPECT_EQ(TelmarLogCapture::Count("):5\n"), 1u);
    }
    EXPECT_TRUE(Reinitialised());
    EXPECT_EQ(WriteSequence(), std::vector<std::string>{});
    EXPECT_EQ(state().updates.register_new_disks, 0u);
    ASSERT_NE(config(), nullptr);
    EXPECT_EQ(config()->flags, staged_flags);
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0x5A5u);

    // The encrypted commit has no such proof: it writes, and always ends the configuration.
    host().clear_requests();
    const VK_BYTE result = VK_CommitEncryptedEditableConfiguration(cda(), 0, nullptr);
    EXPECT_TRUE(result == kCommitEditableConfigurationOK ||
                result == kCommitEditableConfigurationFailedAdditionalErrors)
        << int(result);
    EXPECT_EQ(config(), nullptr);
    EXPECT_EQ(state().updates.register_new_disks, 1u);
    EXPECT_TRUE(Reinitialised());
}

TEST_F(CommitEngineHost, NothingStagedIsNeitherCommittedNorDiscarded) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    EXPECT_EQ(VK_CanCommitEditableConfiguration(cda()), kCanCommitEditableConfigurationNoChangesToCommit);
    EXPECT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationCanCommitFailed);
    EXPECT_EQ(VK_CommitEncryptedEditableConfiguration(cda(), 0, kOfficer.c_str()),
              kCommitEditableConfigurationCanCommitFailed);
    EXPECT_NE(config(), nullptr);
    EXPECT_EQ(WriteSequence(), std::vector<std::string>{});
    EXPECT_EQ(state().updates.register_new_disks, 0u);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationCanCommitFailed);
    EXPECT_EQ(VK_CommitEditableConfiguration(nullptr), kCommitEditableConfigurationCanCommitFailed);
}

// ---- Encryption steps ----

// The 0x1E writes as "function:data" with the login fields of each request cut out, for comparing
// whole sequences.
struct Login {
    std::string password; // the 16-byte field, NUL padded
    VK_DWORD role;
};

std::string Field(const std::string& hex, size_t offset, size_t size) {
    return hex.substr(offset * 3, size * 3 - 1);
}
std::string HexText(const std::string& text, size_t width) {
    std::string padded = text;
    padded.resize(width, '\0');
    return qvsim::hex_bytes(reinterpret_cast<const std::uint8_t*>(padded.data()), padded.size());
}
VK_DWORD U32(const std::string& hex, size_t offset) {
    const auto b = telmar_host::ParseHex(Field(hex, offset, 4));
    return b[0] | (b[1] << 8) | (b[2] << 16) | (VK_DWORD(b[3]) << 24);
}
// The login of a request of `function`: the password field and the role field.
Login LoginOf(int function, const std::string& hex) {
    switch (function) {
        case 12:
            return {Field(hex, 4, 16), U32(hex, 0)};
        default:
            return {Field(hex, 0, 16), U32(hex, 16)};
    }
}

class EncryptionStepsHost : public CommitEngineHost {
protected:
    // The writes of 0x1E functions other than the verification the Can functions send.
    std::vector<Sent> ChangeWrites() {
        std::vector<Sent> out;
        for (const Sent& s : EncryptionCommands()) {
            if (s.write && s.function != int(kEncryptionFunctionVerifyPassword)) {
                out.push_back(s);
            }
        }
        return out;
    }
    std::vector<int> Functions() {
        std::vector<int> out;
        for (const Sent& s : ChangeWrites()) {
            out.push_back(s.function);
        }
        return out;
    }
    void Login(VK_BYTE user, const std::string& password) {
        config()->session.user = user;
        std::memset(config()->session.password, 0, sizeof(config()->session.password));
        std::memcpy(config()->session.password, password.data(), password.size());
    }
};

TEST_F(EncryptionStepsHost, NoChangeBitSendsNothingAndKeepsTheCache) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
    config()->flags |= kEditableConfigSurvivalMode | kEditableConfigLoginRequired;
    VK_GetControllerEncryptionStatus(cda());
    const VK_DWORD valid = _VK_CDA(cda())->flags[0];
    host().clear_requests();
    EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()), 0u);
    EXPECT_EQ(EncryptionCommands().size(), 0u);
    EXPECT_EQ(_VK_CDA(cda())->flags[0], valid);
}

TEST_F(EncryptionStepsHost, ExpressLocalReplacesALocalConfiguration) {
    for (bool plaintext : {false, true}) {
        SCOPED_TRACE(plaintext);
        ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
        // No logical drive is encrypted, so the controller may be cleared without a key.
        state().find_configured_drive(0)->encryption_flags = 0;
        config()->encryption = kControllerEncryptionExpressLocal;
        config()->flags |= kEditableConfigEncryptionMode | kEditableConfigRecoveryQuestion;
        config()->flags = plaintext ? config()->flags | kEditableConfigPlaintextAllowed
                                    : config()->flags & ~kEditableConfigPlaintextAllowed;
        Login(0, kOfficer);
        EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()), 0u);
        const auto writes = ChangeWrites();
        ASSERT_EQ(Functions(), (std::vector<int>{18, 12, 19, 13, 21}));
        // The generated password, set without a login, is the login of everything after it.
        const std::string generated = Field(writes[1].data, 24, 16);
        EXPECT_EQ(LoginOf(12, writes[1].data).password, HexText("", 16));
        EXPECT_NE(generated, HexText("", 16));
        EXPECT_EQ(generated.substr(12 * 3), HexText("", 4)); // 12 characters
        for (size_t i = 2; i < writes.size(); ++i) {
            SCOPED_TRACE(writes[i].function);
            EXPECT_EQ(LoginOf(writes[i].function, writes[i].data).password, generated);
            EXPECT_EQ(LoginOf(writes[i].function, writes[i].data).role, 0u);
        }
        EXPECT_EQ(U32(writes[3].data, 20), plaintext ? 7u : 3u);
        EXPECT_EQ(Field(writes[4].data, 20, 256),
                  qvsim::hex_bytes(
                      reinterpret_cast<const std::uint8_t*>(kControllerEncryptionExpressModeQuestion), 256));
        EXPECT_EQ(Field(writes[4].data, 276 + 32, 32), HexText("", 32)); // 32-character answer
        EXPECT_NE(Field(writes[4].data, 276, 32).find_first_not_of("0 "), std::string::npos);
        EXPECT_EQ(std::string(config()->session.password, 12), [&] {
            const auto b = telmar_host::ParseHex(generated);
            return std::string(b.begin(), b.begin() + 12);
        }());
        EXPECT_EQ(_VK_CDA(cda())->flags[0] & 0x1E1u, 0u);
        const VK_QWORD status = FreshStatus();
        EXPECT_TRUE(status & kControllerEncryptionExpressModeOn) << std::hex << status;
        EXPECT_EQ((status & kControllerEncryptionMixedVolumesEnabled) != 0, plaintext);
        StopController();
    }
}

TEST_F(EncryptionStepsHost, AFailingRandomSourceSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Unconfigured()));
    config()->encryption = kControllerEncryptionExpressLocal;
    config()->flags |= kEditableConfigEncryptionMode | kEditableConfigRecoveryQuestion;
    host().clear_requests();
    {
        qvsim::scripted_random::Scope random({});
        qvsim::scripted_random::fail(EIO);
        EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()),
                  kEditableConfigurationCommitErrorEncryptionSettings);
    }
    EXPECT_EQ(AllWrites(), 0u);
    EXPECT_EQ(state().encryption.factory_resets, 0u);
}

TEST_F(EncryptionStepsHost, ModeNoneOnlyClears) {
    for (bool fail : {false, true}) {
        SCOPED_TRACE(fail);
        ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
        state().find_configured_drive(0)->encryption_flags = 0;
        config()->encryption = kControllerEncryptionNone;
        config()->flags |=
            kEditableConfigEncryptionMode | kEditableConfigUserPassword | kEditableConfigBootPassword;
        Login(0, kOfficer);
        if (fail) {
            state().faults.push_back(Fails(18, true));
        }
        TelmarLogCapture log;
        EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()),
                  fail ? kEditableConfigurationCommitErrorClearEncryption : 0u);
        EXPECT_EQ(Functions(), (std::vector<int>{18}));
        EXPECT_EQ(TelmarLogCapture::Count("Clearing encryption configuration\n"), 1u);
        EXPECT_EQ(TelmarLogCapture::Count("Failed to clear encryption"), fail ? 1u : 0u);
        EXPECT_EQ(_VK_CDA(cda())->flags[0] & 0x1E1u, 0u);
        StopController();
    }
}

TEST_F(EncryptionStepsHost, AFailedRequestStopsTheStep) {
    struct Case {
        const char* name;
        int failing;
        std::vector<int> sent;
        const char* message;
    } const cases[] = {
        {"key", 19, {19}, "Assertion 'success' failed: Failed to set encryption key\n"},
        {"mode",
         13,
         {19, 13},
         "Assertion 'success' failed: Failed to set encryption key manager and settings\n"},
        {"user password",
         12,
         {19, 13, 12},
         "Assertion 'success' failed: Failed to set encryption user password\n"},
        {"q&a", 21, {19, 13, 12, 21}, "Assertion 'success' failed: Failed to set encryption recovery q&a\n"},
        {"firmware lock",
         17,
         {19, 13, 12, 21, 17},
         "Assertion 'success' failed: Failed to set encryption FW lock\n"},
        {"boot password",
         25,
         {19, 13, 12, 21, 17, 25},
         "Assertion 'success' failed: Failed to set encryption boot password\n"},
        {"key cache",
         14,
         {19, 13, 12, 21, 17, 25, 14},
         "Assertion 'success' failed: Failed to set encryption key cache\n"},
        {"none fails", 0, {19, 13, 12, 21, 17, 25, 14}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
        config()->flags |=
            kEditableConfigMasterKey | kEditableConfigAllowPlaintext | kEditableConfigUserPassword |
            kEditableConfigRecoveryQuestion | kEditableConfigFirmwareLock | kEditableConfigBootPassword |
            kEditableConfigBootPasswordState | kEditableConfigKeyCache | kEditableConfigPlaintextAllowed;
        config()->encryption_boot_password_state = 2;
        std::strcpy(config()->encryption_key, "NewMasterKey-02");
        std::strcpy(config()->encryption_password[1], "User#3pass");
        std::strcpy(config()->encryption_question, "Question?");
        std::strcpy(config()->encryption_answer, "Answer 5");
        std::strcpy(config()->encryption_boot_password, "Boot#pw7");
        config()->encryption_key_cache_state = (VK_QWORD{1} << 63) | (VK_QWORD{7} << 16) | 3;
        Login(0, kOfficer);
        if (c.failing != 0) {
            state().faults.push_back(Refused(static_cast<VK_BYTE>(c.failing), true));
        }
        TelmarLogCapture log;
        EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()),
                  c.failing != 0 ? kEditableConfigurationCommitErrorEncryptionSettings : 0u);
        // A controller that was configured is not cleared after a failure.
        EXPECT_EQ(Functions(), c.sent);
        if (c.message != nullptr) {
            EXPECT_EQ(TelmarLogCapture::Count(c.message), 1u);
        }
        const auto writes = ChangeWrites();
        for (const Sent& w : writes) {
            SCOPED_TRACE(w.function);
            EXPECT_EQ(LoginOf(w.function, w.data).password, HexText(kOfficer, 16));
        }
        if (c.failing == 0) {
            EXPECT_EQ(Field(writes[0].data, 20, 32), HexText("NewMasterKey-02", 32));
            EXPECT_EQ(U32(writes[1].data, 20), 2u + 4u + 1u); // enabled now, plaintext pending
            EXPECT_EQ(Field(writes[2].data, 24, 16), HexText("User#3pass", 16));
            EXPECT_EQ(Field(writes[3].data, 20, 256), HexText("Question?", 256));
            EXPECT_EQ(Field(writes[3].data, 276, 64), HexText("Answer 5", 64));
            EXPECT_EQ(U32(writes[4].data, 20), 1u); // unlock: no firmware lock pending
            EXPECT_EQ(Field(writes[5].data, 20, 128), HexText("Boot#pw7", 128));
            EXPECT_EQ(U32(writes[6].data, 20), 0x1u);               // cache on, not persistent
            EXPECT_EQ(Field(writes[6].data, 24, 4), "03 00 07 00"); // attempts 3, interval 7
        }
        StopController();
    }
}

TEST_F(EncryptionStepsHost, AFreshConfigurationThatFailsIsClearedAgain) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Unconfigured()));
    config()->encryption = kControllerEncryptionLocal;
    config()->flags |= kEditableConfigEncryptionMode | kEditableConfigCryptoOfficerPassword |
                       kEditableConfigMasterKey | kEditableConfigUserPassword;
    std::strcpy(config()->encryption_password[0], kOfficer.c_str());
    std::strcpy(config()->encryption_password[1], kUser.c_str());
    std::strcpy(config()->encryption_key, "LocalMasterKey-09");
    state().faults.push_back(Refused(12, true)); // the user password (the officer's is the first 12)
    state().faults.back().nth = 2;
    EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()),
              kEditableConfigurationCommitErrorEncryptionSettings);
    EXPECT_EQ(Functions(), (std::vector<int>{12, 19, 13, 12, 18}));
    const auto writes = ChangeWrites();
    EXPECT_EQ(LoginOf(12, writes[0].data).password, HexText("", 16));
    EXPECT_EQ(Field(writes[0].data, 24, 16), HexText(kOfficer, 16));
    EXPECT_EQ(LoginOf(19, writes[1].data).password, HexText(kOfficer, 16));
    EXPECT_EQ(U32(writes[2].data, 20), 2u + 1u);
    EXPECT_FALSE(FreshStatus() & kControllerEncryptionCryptoOfficerPasswordSet);
}

TEST_F(EncryptionStepsHost, BootPasswordStateTwoComesWithTheBootPassword) {
    for (VK_BYTE staged_state : {VK_BYTE{2}, VK_BYTE{1}}) {
        SCOPED_TRACE(int(staged_state));
        ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
        config()->flags |= kEditableConfigBootPassword | kEditableConfigBootPasswordState;
        config()->encryption_boot_password_state = staged_state;
        std::strcpy(config()->encryption_boot_password, "Boot#pw7");
        Login(0, kOfficer);
        EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()), 0u);
        EXPECT_EQ(Functions(), (staged_state == 2 ? std::vector<int>{25} : std::vector<int>{25, 28}));
        StopController();
    }
}

TEST_F(EncryptionStepsHost, AUserChangingItsPasswordLogsInWithTheNewOne) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
    config()->flags |=
        kEditableConfigUserPassword | kEditableConfigRecoveryQuestion | kEditableConfigBootPassword;
    std::strcpy(config()->encryption_password[1], "User#NewPass4");
    std::strcpy(config()->encryption_question, "Question?");
    std::strcpy(config()->encryption_answer, "Answer 5");
    std::strcpy(config()->encryption_boot_password, "Boot#pw7");
    Login(1, kUser);
    EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()), 0u);
    const auto writes = ChangeWrites();
    ASSERT_EQ(Functions(), (std::vector<int>{12, 21, 25}));
    EXPECT_EQ(LoginOf(12, writes[0].data).password, HexText(kUser, 16));
    EXPECT_EQ(LoginOf(12, writes[0].data).role, 1u);
    for (size_t i = 1; i < writes.size(); ++i) {
        EXPECT_EQ(LoginOf(writes[i].function, writes[i].data).password, HexText("User#NewPass4", 16));
        EXPECT_EQ(LoginOf(writes[i].function, writes[i].data).role, 1u);
    }
    EXPECT_EQ(std::string(config()->session.password), "User#NewPass4");
}

TEST_F(EncryptionStepsHost, ARemoteKeyThatNeverConfirmsStopsTheStep) {
    FirmwareState st = ConfiguredLocal();
    st.encryption.ikek_polls = {{0, 0, 0}};
    ASSERT_NO_FATAL_FAILURE(StartStaged(std::move(st)));
    config()->encryption = kControllerEncryptionRemote;
    config()->flags |= kEditableConfigEncryptionMode | kEditableConfigUserPassword;
    std::strcpy(config()->encryption_key, "RemoteKeyName-77");
    Login(0, kOfficer);
    qvsim::virtual_clock::Scope clock(1765400000);
    EXPECT_EQ(__VK_CommitEditableEncryptionConfiguration(cda()),
              kEditableConfigurationCommitErrorEncryptionSettings);
    EXPECT_EQ(Functions(), (std::vector<int>{10}));
    EXPECT_EQ(state().encryption.factory_resets, 0u);
}

TEST_F(EncryptionStepsHost, DisableSendsTheModeWithoutEnable) {
    struct Case {
        const char* name;
        VK_BYTE mode;
        VK_DWORD flags;
        std::vector<int> sent;
        VK_DWORD action;
    } const cases[] = {
        {"local, plaintext allowed",
         kControllerEncryptionLocal,
         kEditableConfigEncryptionToggle | kEditableConfigPlaintextAllowed,
         {13},
         6},
        {"remote", kControllerEncryptionRemote, kEditableConfigEncryptionToggle, {13}, 0},
        {"enable pending",
         kControllerEncryptionLocal,
         kEditableConfigEncryptionToggle | kEditableConfigEncryptionEnabled,
         {},
         0},
        {"no toggle", kControllerEncryptionLocal, 0, {}, 0},
        {"express", kControllerEncryptionExpressLocal, kEditableConfigEncryptionToggle, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
        config()->encryption = c.mode;
        config()->flags =
            (config()->flags & ~(kEditableConfigPlaintextAllowed | kEditableConfigEncryptionEnabled)) |
            c.flags;
        Login(0, kOfficer);
        state().faults.push_back(Refused(13, true));
        TelmarLogCapture log;
        EXPECT_EQ(__VK_CommitEditableEncryptionDisable(cda()),
                  c.sent.empty() ? 0u : kEditableConfigurationCommitErrorEncryptionDisable);
        EXPECT_EQ(Functions(), c.sent);
        if (!c.sent.empty()) {
            EXPECT_EQ(U32(ChangeWrites()[0].data, 20), c.action);
            EXPECT_EQ(TelmarLogCapture::Count("Failed to disable encryption\n"), 1u);
        }
        EXPECT_EQ(TelmarLogCapture::Count("Invalid call to disable invalid key manager\n"),
                  c.mode == kControllerEncryptionExpressLocal ? 1u : 0u);
        StopController();
    }
}

TEST_F(EncryptionStepsHost, PerDriveStepsSelectTheirDrivesAndKeepGoing) {
    struct Case {
        const char* name;
        VK_UINT64 (*step)(PCDA);
        std::array<VK_QWORD, 2> flags;     // staged flags added to drives 0 and 1
        std::vector<std::string> expected; // "function/key type or option/drive"
        VK_UINT64 error;
    } const cases[] = {
        {"plaintext new drives",
         __VK_CommitPlaintextNewLogicalDrives,
         {kEditableLDNewDrive | kEditableLDEncrypted, kEditableLDNewDrive},
         {"16/16/1"},
         kEditableConfigurationCommitErrorRekeyToPlainText},
        {"encode existing without data, drive 1 only: drive 0 is encrypted already",
         __VK_CommitEncodeExistingLogicalDrivesWithoutPreservingData,
         {kEditableLDEncrypted, kEditableLDEncrypted},
         {"16/8/1"},
         kEditableConfigurationCommitErrorEncodeLogicalDrives},
        {"encode existing, data kept: nothing",
         __VK_CommitEncodeExistingLogicalDrivesWithoutPreservingData,
         {0, kEditableLDEncrypted | kEditableLDPreserveData},
         {},
         0},
        {"transform encode",
         __VK_CommitTransformEncodeEditableLogicalDrives,
         {kEditableLDNewDrive, kEditableLDTransformEncode},
         {"16/4/1"},
         kEditableConfigurationCommitErrorTransformEncodeLogicalDrives},
        {"destructive encode",
         __VK_CommitDestructiveEncodeEditableLogicalDrives,
         {kEditableLDDestructiveEncode, kEditableLDDestructiveEncode},
         {"16/8/0", "16/8/1"},
         kEditableConfigurationCommitErrorDestructiveEncodeLogicalDrives},
    };
    for (const Case& c : cases) {
        for (bool fail : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (fail ? ", first request refused" : ""));
            ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
            ld(0)->flags |= c.flags[0];
            ld(1)->flags |= c.flags[1];
            Login(0, kOfficer);
            if (fail) {
                state().faults.push_back(Refused(16, true));
            }
            EXPECT_EQ(c.step(cda()), fail && !c.expected.empty() ? c.error : 0u);
            std::vector<std::string> sent;
            for (const Sent& w : ChangeWrites()) {
                EXPECT_EQ(LoginOf(w.function, w.data).password, HexText(kOfficer, 16));
                sent.push_back(std::to_string(w.function) + "/" + std::to_string(U32(w.data, 20)) + "/" +
                               std::to_string(U32(w.data, 24)));
            }
            EXPECT_EQ(sent, c.expected);
            StopController();
        }
    }
}

TEST_F(EncryptionStepsHost, VolatileKeysFollowTheStagedBits) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(ConfiguredLocal()));
    ld(0)->flags |= kEditableLDVolatileKeyChanged | kEditableLDVolatileKey;
    Login(0, kOfficer);
    TelmarLogCapture log;
    EXPECT_EQ(__VK_CommitLogicalDriveVolatileKeys(cda()), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("Setting volatile keys for ld 0\n"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Setting volatile keys for ld 1\n"), 0u);
    EXPECT_FALSE(Writes(34).empty());
    for (const std::string& w : Writes(34)) {
        EXPECT_EQ(U32(w, 24), 0u); // drive 0 only
    }
}

TEST_F(EncryptionStepsHost, SecureVolumeBitmapNamesExistingSEDDrivesOnly) {
    FirmwareState st = TwoArrays();
    st.identify.managed_sed_mode = 0x1;
    ASSERT_NO_FATAL_FAILURE(StartStaged(std::move(st)));
    EXPECT_EQ(__VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(cda()), 0u);
    EXPECT_EQ(WriteSequence(), std::vector<std::string>{});

    ld(0)->flags |= kEditableLDEnableSED | kEditableLDArrayMove; // moving: not now
    ld(1)->flags |= kEditableLDEnableSED;
    EXPECT_EQ(__VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(cda()), 0u);
    const auto received = Received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].opcode, 0xE8);
    EXPECT_EQ(received[0].detail & 0xFF, 9u);
    std::vector<std::string> data;
    for (const auto& r : host().requests(telmar_host::kNode)) {
        if (r.decoded.contains("data_out")) {
            data.push_back(r.decoded["data_out"].get<std::string>());
        }
    }
    EXPECT_EQ(data, std::vector<std::string>{"02 00 00 00 00 00 00 00"});
    EXPECT_EQ(state().find_configured_drive(1)->managed_sed_flags & 0x1, 0x1);
    EXPECT_EQ(state().find_configured_drive(0)->managed_sed_flags & 0x1, 0x0);

    // A new drive is not named; a refusal reports the step's bit.
    ld(0)->flags = (ld(0)->flags & ~kEditableLDArrayMove) | kEditableLDNewDrive;
    FwFault fault;
    fault.bmic = 0xE8;
    fault.function = 9;
    fault.write = true;
    fault.err = EIO;
    state().faults.push_back(fault);
    TelmarLogCapture log;
    EXPECT_EQ(__VK_CommitEditableExistingLogicalDriveEnableSEDEncryption(cda()),
              kEditableConfigurationCommitErrorLogicalDriveSEDEncryption);
    EXPECT_EQ(TelmarLogCapture::Count("Enabling SED encryption on existing logical drives failed\n"), 1u);
}

// ---- The driver ----

class CommitDriverHost : public CommitEngineHost {
protected:
    // Drops staged logical drive `n` and lists it for deletion, as staging a deletion does.
    void StageDeletion(VK_WORD n) {
        PEDITABLE_LOGICAL_DRIVE drive = ld(n);
        PEDITABLE_ARRAY a = array(drive->editable_array_number);
        for (VK_WORD i = 0; i < a->logical_drive_count; ++i) {
            if (a->logical_drives[i] == n) {
                a->logical_drives[i] = a->logical_drives[--a->logical_drive_count];
                break;
            }
        }
        VK_free(drive);
        config()->editable_ld_list[n] = nullptr;
        --config()->editable_ld_count;
        config()->deleted_logical_drives[config()->deleted_ld_count++] = n;
    }
    // The BMIC writes by opcode ("1E/13" with a 0x1E function) and the register-new-disk request as
    // "rescan", in order.
    std::vector<std::string> Writes() {
        std::vector<std::string> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl") {
                continue;
            }
            if (!r.decoded.contains("cdb")) {
                out.emplace_back("other:" + r.decoded.dump());
                continue;
            }
            auto b = qvsim::BmicCdb::parse(telmar_host::ParseHex(r.decoded["cdb"].get<std::string>()));
            if (b && b->write) {
                char text[16];
                if (b->opcode == kEncryption) {
                    std::snprintf(text, sizeof(text), "1E/%u", static_cast<unsigned>(b->detail & 0xFF));
                } else {
                    std::snprintf(text, sizeof(text), "%02X", b->opcode);
                }
                out.emplace_back(text);
            }
        }
        return out;
    }
};

// One configuration touching the deletion, controller-level and encryption steps; the controller
// sees them in the commit's fixed order, then the rescan request and the re-read.
FirmwareState EncryptedTwoDrives() {
    FirmwareState st = ConfiguredLocal();
    st.parameters.drive_configuration_flags |= 0x80;
    return st;
}

void StageEveryKind(EDITABLE_CONFIGURATION& c) {
    c.flags |= kEditableConfigSurvivalMode | kEditableConfigBootPassword;
    std::strcpy(c.encryption_boot_password, "Boot#pw7");
    c.editable_ld_list[0]->flags |=
        kEditableLDVolatileKeyChanged | kEditableLDVolatileKey | kEditableLDDestructiveEncode;
}

TEST_F(CommitDriverHost, StepsReachTheControllerInTheirOrder) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(EncryptedTwoDrives()));
    StageDeletion(1);
    ASSERT_TRUE(VK_ChangeEditableControllerMNPDelay(cda(), 30));
    StageEveryKind(*config());
    host().clear_requests();
    TelmarLogCapture log;
    EXPECT_EQ(VK_CommitEncryptedEditableConfiguration(cda(), 0, kOfficer.c_str()),
              kCommitEditableConfigurationOK);
    const std::vector<std::string> expected = {
        "1E/20", // the permission check verifies the login
        "51",    // deletion of logical drive 1
        "63",    // controller parameters before any creation
        "1E/25", // the encryption configuration: the boot password
        "1E/34", // volatile key of logical drive 0
        "EE",    // survival mode
        "62",    // MNP delay
        "1E/16", // destructive encode of logical drive 0
    };
    std::vector<std::string> writes = Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back(), "other:{}"); // the rescan request comes last of all writes
    writes.pop_back();
    writes.erase(std::unique(writes.begin(), writes.end()), writes.end());
    EXPECT_EQ(writes, expected);
    EXPECT_EQ(state().updates.register_new_disks, 1u);
    EXPECT_EQ(config(), nullptr);
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("VK_CommitEncryptedEditableConfigurationSafe("), 1u);
    // The re-read: the controller's identify data is read after the rescan request.
    bool rescan_seen = false, read_after = false;
    for (const auto& r : host().requests(telmar_host::kNode)) {
        if (r.op != "ioctl") {
            continue;
        }
        if (!r.decoded.contains("cdb")) {
            rescan_seen = true;
        } else if (rescan_seen) {
            auto b = qvsim::BmicCdb::parse(telmar_host::ParseHex(r.decoded["cdb"].get<std::string>()));
            read_after = read_after || (b && !b->write && b->opcode == 0x11);
        }
    }
    EXPECT_TRUE(read_after);
    EXPECT_EQ(state().find_configured_drive(1), nullptr);
    EXPECT_EQ(state().mnp_delay, 30);
    // The login does not outlive the commit in the debug log either.
    for (const std::string& line : TelmarLogCapture::lines()) {
        EXPECT_EQ(line.find(kOfficer), std::string::npos) << line;
    }
}

// Each write refused in turn: exactly its step's bit, the later steps still run, the result is 3 and
// the configuration is gone.
TEST_F(CommitDriverHost, EachFailedWriteReportsItsOwnBit) {
    struct Case {
        const char* name;
        FwFault fault;
        VK_UINT64 bit;
        std::vector<std::string> sent; // distinct writes after the failed one
    };
    auto opcode = [](VK_BYTE op) {
        FwFault f;
        f.bmic = op;
        f.write = true;
        f.err = EIO;
        return f;
    };
    const std::vector<Case> cases = {
        {"deletion",
         opcode(0x51),
         kEditableConfigurationCommitErrorDeleteLogicalDrive,
         {"63", "1E/25", "1E/34", "EE", "62", "1E/16"}},
        {"controller parameters",
         opcode(0x63),
         kEditableConfigurationCommitErrorSettingControllerParams,
         {"1E/25", "1E/34", "EE", "62", "1E/16"}},
        {"boot password",
         Fails(25, true),
         kEditableConfigurationCommitErrorEncryptionSettings,
         {"1E/34", "EE", "62", "1E/16"}},
        {"volatile key",
         Fails(34, true),
         kEditableConfigurationCommitErrorVolatileKeys,
         {"EE", "62", "1E/16"}},
        {"survival mode",
         opcode(0xEE),
         kEditableConfigurationCommitErrorControllerSurvivalMode,
         {"62", "1E/16"}},
        {"MNP delay", opcode(0x62), kEditableConfigurationCommitErrorSettingControllerParams, {"1E/16"}},
        {"destructive encode",
         Fails(16, true),
         kEditableConfigurationCommitErrorDestructiveEncodeLogicalDrives,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartStaged(EncryptedTwoDrives()));
        StageDeletion(1);
        ASSERT_TRUE(VK_ChangeEditableControllerMNPDelay(cda(), 30));
        StageEveryKind(*config());
        state().faults.push_back(c.fault);
        host().clear_requests();
        EXPECT_EQ(VK_CommitEncryptedEditableConfiguration(cda(), 0, kOfficer.c_str()),
                  kCommitEditableConfigurationFailedAdditionalErrors);
        EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), c.bit);
        std::vector<std::string> writes = Writes();
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(writes.back(), "other:{}");
        writes.pop_back();
        writes.erase(std::unique(writes.begin(), writes.end()), writes.end());
        ASSERT_GE(writes.size(), c.sent.size());
        EXPECT_EQ(std::vector<std::string>(writes.end() - c.sent.size(), writes.end()), c.sent);
        EXPECT_EQ(config(), nullptr);
        StopController();
    }
}

// Deleting every logical drive: one by one below feature version 4, else one clear request without
// rescan; either way the parameters and MNP delay are written again after the (absent) creation.
TEST_F(CommitDriverHost, DeletingEveryDriveFollowsTheFeatureVersion) {
    for (bool clear_request : {false, true}) {
        SCOPED_TRACE(clear_request);
        FirmwareState st = TwoArrays();
        st.identify.even_more_flags = 0; // no feature pages: the version follows the identify length
        st.identify.fixed_length = clear_request ? 300 : 292;
        ASSERT_NO_FATAL_FAILURE(StartStaged(std::move(st)));
        ASSERT_EQ(_VK_CDA(cda())->controller_firmware_feature_version, clear_request ? 4 : 3);
        StageDeletion(0);
        StageDeletion(1);
        host().clear_requests();
        TelmarLogCapture log;
        EXPECT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationOK);
        EXPECT_EQ(TelmarLogCapture::Count("Deleting all lds\n"), 1u);
        std::vector<std::string> writes = Writes();
        writes.pop_back();
        if (clear_request) {
            // The clear request, then what clearing does to the cache (its own business), then the
            // settings of a first configuration.
            ASSERT_GE(writes.size(), 3u);
            EXPECT_EQ(writes.front(), "6E");
            EXPECT_EQ(std::vector<std::string>(writes.end() - 2, writes.end()),
                      (std::vector<std::string>{"63", "62"}));
            EXPECT_EQ(std::count(writes.begin(), writes.end(), "51"), 0);
        } else {
            EXPECT_EQ(writes, (std::vector<std::string>{"51", "51", "63", "62"}));
        }
        EXPECT_TRUE(state().logical_drives.empty());
        EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 0u);
        StopController();
    }
}

// Another program removed one drive and created another since creation: the counts agree, yet the
// encrypted commit must not clear the new drive away.
TEST_F(CommitDriverHost, ClearAllOnlyWhenEveryLiveDriveIsStagedForDeletion) {
    FirmwareState st = TwoArrays();
    ASSERT_NO_FATAL_FAILURE(StartStaged(std::move(st)));
    StageDeletion(0);
    StageDeletion(1);
    _VK_CDA(cda())->controller_firmware_feature_version = 4;
    // Live: drive 1 gone, drive 2 created on drive 5.
    auto& live = state().logical_drives;
    live.erase(std::remove_if(live.begin(), live.end(), [](const auto& l) { return l.number == 1; }),
               live.end());
    state().add_configured_drive(2, {5}, 1u << 20);
    host().clear_requests();
    TelmarLogCapture log;
    VK_CommitEncryptedEditableConfiguration(cda(), 0, nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Deleting all lds\n"), 0u);
    for (const std::string& w : Writes()) {
        EXPECT_NE(w, "6E");
    }
    EXPECT_NE(state().find_configured_drive(2), nullptr);
    EXPECT_EQ(state().find_configured_drive(0), nullptr);
}

// Transformations: moves first, then shrinking extents, then growing extents from the highest offset
// down, then the rest; all of them first where arrays lose or keep drives, then where they gain.
TEST_F(CommitDriverHost, TransformationsFollowTheirPasses) {
    FirmwareState st = TwoArrays();
    st.add_configured_drive(2, {0, 1}, 1u << 20, 1u << 20);
    st.add_configured_drive(3, {0, 1}, 1u << 20, 2u << 20);
    st.add_configured_drive(4, {3, 4}, 1u << 20, 2u << 21);
    ASSERT_NO_FATAL_FAILURE(StartStaged(std::move(st)));
    const struct {
        VK_WORD ld;
        VK_QWORD flags;
    } staged[] = {
        {1, kEditableLDArrayMove | kEditableLDDrivesAdded},   // gains drives: last pass group
        {0, kEditableLDSizeChange | kEditableLDExtentShrink}, // shrink, then not again as "the rest"
        {2, kEditableLDSizeChange | kEditableLDExtentGrow},   // grow, lower offset
        {3, kEditableLDSizeChange | kEditableLDExtentGrow},   // grow, higher offset: first of the two
        {4, kEditableLDArrayMove},                            // move
    };
    for (const auto& s : staged) {
        ASSERT_NE(ld(s.ld), nullptr) << s.ld;
        ld(s.ld)->flags |= s.flags;
    }
    TelmarLogCapture log;
    VK_CommitEditableConfiguration(cda());
    std::vector<int> order;
    for (const std::string& line : TelmarLogCapture::lines()) {
        for (const char* marker : {"No actual transforms for ld ", "Transforming ld "}) {
            const size_t at = line.find(marker);
            if (at != std::string::npos) {
                order.push_back(std::stoi(line.substr(at + std::strlen(marker))));
            }
        }
    }
    EXPECT_EQ(order, (std::vector<int>{4, 0, 3, 2, 1}));
    EXPECT_EQ(config(), nullptr);
}

} // namespace
