// Controller status word, backup power reading, reboot reasons and the password check against a
// simulated controller: what they report from the real replies and which commands they send.
#include <cstring>
#include <string>
#include <vector>

#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;

constexpr VK_BYTE kBackupPowerRead = 0xBF;
constexpr VK_BYTE kEncryption = 0x1E;

class ControllerStatusHost : public telmar_host::ControllerHost {
protected:
    // CDBs of `opcode` (byte 6) that went out, with function `function` (byte 5) when given.
    size_t Sent(VK_BYTE opcode, int function = -1) {
        size_t n = 0;
        for (const auto& cdb : SentCdbs()) {
            if (cdb.size() == 16 && cdb[6] == opcode && (function < 0 || cdb[5] == function)) {
                ++n;
            }
        }
        return n;
    }

    // Data of the last write of `opcode` the controller received, as the request log has it.
    std::string LastDataOut(VK_BYTE opcode) {
        std::string data;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op == "ioctl" && r.decoded.contains("cdb") && r.decoded.contains("data_out")) {
                const auto cdb = telmar_host::ParseHex(r.decoded["cdb"].get<std::string>());
                if (cdb.size() == 16 && cdb[0] == 0x27 && cdb[6] == opcode) {
                    data = r.decoded["data_out"].get<std::string>();
                }
            }
        }
        return data;
    }
};

// ---- Backup power reading ------------------------------------------------------------------------

TEST_F(ControllerStatusHost, BackupPowerReadingResultsAndReadsOnEveryCall) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        bool record;
        VK_BYTE result;
        size_t reads; // 0xBF commands after two calls
    } const cases[] = {
        {"no record", [](FirmwareState&) {}, false, kGetControllerBackupPowerSourceInfoInvalidInfoBuffer, 0},
        {"no power source", [](FirmwareState& s) { s.cache.battery_count = 0; }, true,
         kGetControllerBackupPowerSourceInfoPowerSourceNotConnected, 0},
        {"reading not offered", [](FirmwareState& s) { s.set_page("backup", {0x01}); }, true,
         kGetControllerBackupPowerSourceInfoNotSupported, 0},
        {"read fails",
         [](FirmwareState& s) {
             qvsim::FwFault f;
             f.bmic = kBackupPowerRead;
             f.count = 0;
             f.err = 5;
             s.faults.push_back(f);
         },
         true, kGetControllerBackupPowerSourceInfoPowerSourceDataFailure, 2},
        {"read refused",
         [](FirmwareState& s) {
             qvsim::FwFault f;
             f.bmic = kBackupPowerRead;
             f.count = 0;
             f.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0};
             s.faults.push_back(f);
         },
         true, kGetControllerBackupPowerSourceInfoPowerSourceDataFailure, 2},
        {"read", [](FirmwareState&) {}, true, kGetControllerBackupPowerSourceInfoSuccess, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st;
        st.updates.backup_power.status = 0x0002;
        st.updates.backup_power.temperature = 31;
        st.updates.backup_power.voltage = 5012;
        st.updates.backup_power.relative_charge = 87;
        c.setup(st);
        ASSERT_NO_FATAL_FAILURE(StartController(st));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        VK_BACKUP_POWER_SOURCE_INFO info = {};
        EXPECT_EQ(VK_GetControllerBackupPowerSourceInfo(cda(), c.record ? &info : nullptr), c.result);
        EXPECT_EQ(VK_GetControllerBackupPowerSourceInfo(cda(), c.record ? &info : nullptr), c.result);
        EXPECT_EQ(Sent(kBackupPowerRead), c.reads);
        if (c.result == kGetControllerBackupPowerSourceInfoSuccess) {
            EXPECT_EQ(info.status, kBackupPowerSourceInfoStatusReady);
            EXPECT_EQ(info.temperature, 31);
            EXPECT_EQ(info.voltage, 5012);
            EXPECT_EQ(info.charge_state, 87);
        }
        StopController();
    }
}

TEST_F(ControllerStatusHost, UnreadableCacheStatusLeavesNoCacheOrPowerSource) {
    FirmwareState st;
    qvsim::FwFault f;
    f.bmic = 0xC1;
    f.count = 0;
    f.err = 5;
    st.faults.push_back(f);
    ASSERT_NO_FATAL_FAILURE(StartController(st));
    Initialize();
    EXPECT_EQ(VK_GetControllerStatusInfo(cda()), 0x01000001u);
    EXPECT_EQ(VK_GetControllerBackupPowerSourceStatus(cda()), kControllerBackupPowerSourceNotPresent);
    VK_BACKUP_POWER_SOURCE_INFO info = {};
    EXPECT_EQ(VK_GetControllerBackupPowerSourceInfo(cda(), &info),
              kGetControllerBackupPowerSourceInfoPowerSourceNotConnected);
    GREEN_BACKUP_INFO green = {};
    EXPECT_EQ(VK_GetControllerGreenBackupInfo(cda(), &green), kGetControllerGreenBackupInfoFailure);
    EXPECT_EQ(Sent(kBackupPowerRead), 0u);
}

// ---- Status word over the logical drives -----------------------------------------------------------

TEST_F(ControllerStatusHost, ConfigurationStatusWalksTheLogicalDrives) {
    struct Case {
        const char* name;
        VK_BYTE unit_status;
        VK_BYTE config_version;
        VK_WORD cable_flags;
        VK_BYTE config_status;
        VK_BYTE health;
    } const cases[] = {
        {"all well", 0, 20, 0, kControllerConfigStatusOK, kControllerHealthOK},
        {"a volume in status 6", 6, 20, 0, kControllerConfigStatusAbnormalVolumeState, kControllerHealthCritical},
        {"a volume in status 7", 7, 20, 0, kControllerConfigStatusAbnormalVolumeState, kControllerHealthCritical},
        {"unsupported configuration version", 0, 21, 0, kControllerConfigStatusVersionMismatch,
         kControllerHealthCritical},
        {"cable flag 0x800", 0, 20, 0x800, kControllerConfigStatusAbnormalVolumeState, kControllerHealthCritical},
        {"cable flag 0x1000", 0, 20, 0x1000,
         kControllerConfigStatusAbnormalVolumeState | kControllerConfigStatusAbnormalVolumeStateSEDLockedWithDirtyCache,
         kControllerHealthCritical},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st;
        st.cache.cache_flags = 0x1;
        st.identify.swapped_cable_flags = c.cable_flags;
        for (VK_WORD d = 0; d < 4; ++d) {
            st.add_drive(d);
        }
        auto& ld = st.add_configured_drive(0, {0, 1}, 1 << 20, 0);
        ld.unit_status = c.unit_status;
        ld.config_version = c.config_version;
        st.add_configured_drive(1, {2, 3}, 1 << 20, 0);
        ASSERT_NO_FATAL_FAILURE(StartController(st));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        const VK_DWORD word = VK_GetControllerStatusInfo(cda());
        EXPECT_EQ(CONTROLLER_CONFIG_STATUS(word), c.config_status);
        EXPECT_EQ(CONTROLLER_STATUS(word), kControllerStatusOK);
        EXPECT_EQ(VK_GetControllerHealth(cda()), c.health);
        StopController();
    }
}

TEST_F(ControllerStatusHost, RollupIsTheSetOfTheHealthBits) {
    FirmwareState st;
    st.cache.cache_flags = 0x1 | 0x8; // valid data found: a warning of the controller's own
    for (VK_WORD d = 0; d < 4; ++d) {
        st.add_drive(d);
    }
    st.add_configured_drive(0, {0, 1}, 1 << 20, 0).unit_status = 1; // failed: critical
    st.add_configured_drive(1, {2, 3}, 1 << 20, 0);
    ASSERT_NO_FATAL_FAILURE(StartController(st));
    ASSERT_EQ(Initialize(), kInitializeSucceeded);
    EXPECT_EQ(VK_GetControllerHealth(cda()), kControllerHealthWarning);
    const VK_BYTE rollup = VK_GetControllerHealthRollup(cda());
    EXPECT_EQ(rollup, kControllerHealthRollupWarning | kControllerHealthRollupCritical);
    EXPECT_TRUE(IS_CONTROLLER_ROLLUP_WARNING(rollup));
    EXPECT_TRUE(IS_CONTROLLER_ROLLUP_CRITICAL(rollup));
}

// ---- Reboot reasons ----------------------------------------------------------------------------------

TEST_F(ControllerStatusHost, RebootReasonsFromModesConfigurationsAndIdentify) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        VK_QWORD expected;
    } const cases[] = {
        {"nothing pending", [](FirmwareState&) {}, kControllerNoRebootRequired},
        {"identify reasons need the feature bit",
         [](FirmwareState& s) {
             s.set_page("id_controller", {0x04, 0x00, 0x00, 0x00});
             s.identify.reboot_reason = 0x80001000;
         },
         kControllerNoRebootRequired},
        {"identify reasons", [](FirmwareState& s) { s.identify.reboot_reason = 0x80001000; }, 0x8000000000000001ULL},
        {"power mode warnings: reboot required, reboot for power, cold boot",
         [](FirmwareState& s) { s.power.warnings = 0x01 | 0x10 | 0x40; },
         kControllerRebootRequiredPowerMode | kControllerRebootRecommendedPowerMode | 0x1},
        {"a connector's pending mode differs",
         [](FirmwareState& s) {
             s.identify.extra_flags |= 0x1000; // modes per connector
             s.parameters.connector_mode[s.subsystem.connectors.at(1).number] = 1;
         },
         kControllerRebootRequiredOperatingMode},
        {"pending out-of-band configuration differs", [](FirmwareState& s) { s.oob_pending[2] = 0x72; },
         kControllerRebootRequiredOOBInterface},
        {"a connector's pending discovery configuration differs",
         [](FirmwareState& s) {
             s.discovery.active.assign(3, {});
             s.discovery.pending.assign(3, {});
             s.discovery.pending[s.subsystem.connectors.at(0).number].protocol = 2;
         },
         kControllerRebootRequiredConnectorDiscoveryConfiguration},
        {"pending sanitize lock differs", [](FirmwareState& s) { s.parameters.sanitize_policy = 0x10; },
         kControllerRebootRequiredControllerSanitizeLockChange},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st;
        c.setup(st);
        ASSERT_NO_FATAL_FAILURE(StartController(st));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        EXPECT_EQ(VK_ControllerRebootRequired(cda()), c.expected);
        StopController();
    }
}

// ---- Password check ----------------------------------------------------------------------------------

// An encrypting controller whose crypto officer password is set; `express` makes it express-local.
FirmwareState EncryptingController(bool express = false) {
    FirmwareState st;
    st.set_page("encryption", {0x01});
    st.identify.encryption_status = 0x800 | (express ? 0x10000 : 0);
    if (express) {
        st.encryption.recovery_question.assign(kControllerEncryptionExpressModeQuestion,
                                               kControllerEncryptionExpressModeQuestion + 256);
    }
    st.updates.passwords.crypto_officer = "Officer1!";
    st.updates.passwords.user = "User1!";
    return st;
}

TEST_F(ControllerStatusHost, PasswordCheckAsksTheControllerOnlyWhenItCanBeRight) {
    const std::string seventeen(17, 'p');
    struct Case {
        const char* name;
        bool express;
        VK_BYTE user;
        const char* password;
        VK_BOOL verified;
        std::string data_out; // of the one 0x14 write, or empty for none
    } const cases[] = {
        {"crypto officer, right", false, 0, "Officer1!", kTrue,
         "4F 66 66 69 63 65 72 31 21 00 00 00 00 00 00 00 00 00 00 00"},
        {"user, right", false, 1, "User1!", kTrue, "55 73 65 72 31 21 00 00 00 00 00 00 00 00 00 00 01 00 00 00"},
        {"crypto officer, wrong", false, 0, "User1!", kFalse,
         "55 73 65 72 31 21 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {"17 characters", false, 0, seventeen.c_str(), kFalse, ""},
        {"role 2", false, 2, "Officer1!", kFalse, ""},
        {"express-local", true, 0, "Officer1!", kFalse, ""},
        {"NULL password", false, 0, nullptr, kFalse, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartController(EncryptingController(c.express)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        EXPECT_EQ(VK_VerifyEncryptionPassword(cda(), c.user, c.password), c.verified);
        EXPECT_EQ(Sent(kEncryption, 0x14), c.data_out.empty() ? 0u : 1u);
        EXPECT_EQ(LastDataOut(kEncryption), c.data_out);
        StopController();
    }
}

TEST_F(ControllerStatusHost, PasswordCheckAnsweredWithCheckConditionIsFalse) {
    FirmwareState st = EncryptingController();
    qvsim::FwFault f;
    f.bmic = kEncryption;
    f.function = 0x14;
    f.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x26, 0};
    st.faults.push_back(f);
    ASSERT_NO_FATAL_FAILURE(StartController(st));
    ASSERT_EQ(Initialize(), kInitializeSucceeded);
    EXPECT_FALSE(VK_VerifyEncryptionPasswordSafe(cda(), 0, "Officer1!", 10));
    EXPECT_EQ(Sent(kEncryption, 0x14), 1u);
    // Only the first check was answered so; the size, not a NUL, ends the password.
    EXPECT_TRUE(VK_VerifyEncryptionPasswordSafe(cda(), 0, "Officer1!XYZ", 9));
    EXPECT_EQ(LastDataOut(kEncryption), "4F 66 66 69 63 65 72 31 21 00 00 00 00 00 00 00 00 00 00 00");
}

TEST_F(ControllerStatusHost, EncryptionWordsFromTheControllerBuffers) {
    FirmwareState st = EncryptingController();
    st.identify.encryption_status |= 0x400; // key cache enabled
    st.encryption.kek_supported = 0x7;
    st.encryption.kek_attempts = 5;
    st.encryption.kek_interval = 30;
    st.encryption.kek_flags = 0x2;
    st.encryption.roles = {{0, "crypto", kEncryptionUserCapabilityVerifyPassword},
                           {0, "user", kEncryptionUserCapabilitySetTime}};
    st.encryption.attempts_remaining = {4, 2};
    st.encryption.lockout_seconds = {0, 90};
    st.set_page("managed_sed", {0x07});
    st.identify.managed_sed_mode = 0x0B; // enabled, local, adapter password
    st.managed_sed.status = 0x41;         // waiting on the adapter password and on the master key
    st.managed_sed.countdown_timer = 120;
    st.managed_sed.unlock_attempts_left = 3;
    ASSERT_NO_FATAL_FAILURE(StartController(st));
    ASSERT_EQ(Initialize(), kInitializeSucceeded);
    EXPECT_EQ(VK_GetControllerEncryptionKeyCacheStatus(cda()), 0xC0000000001E0005ULL);
    EXPECT_EQ(VK_GetEncryptionUserCapabilities(cda(), 0), static_cast<VK_DWORD>(kEncryptionUserCapabilityVerifyPassword));
    EXPECT_EQ(VK_GetEncryptionUserCapabilities(cda(), 1), static_cast<VK_DWORD>(kEncryptionUserCapabilitySetTime));
    // The password status is read afresh on every call.
    EXPECT_EQ(VK_GetEncryptionPasswordStatus(cda(), 1), (90ULL << 32) | 2);
    EXPECT_EQ(VK_GetEncryptionPasswordStatus(cda(), 0), 4u);
    EXPECT_EQ(Sent(kEncryption, 9), 2u);
    const VK_QWORD sed = VK_GetControllerSEDEncryptionStatus(cda());
    EXPECT_EQ(sed, 0x32ULL | (0xAULL << 5));
    EXPECT_EQ(VK_GetSEDEncryptionAdapterPasswordStatus(cda()), (3ULL << 32) | 120);
}

} // namespace
