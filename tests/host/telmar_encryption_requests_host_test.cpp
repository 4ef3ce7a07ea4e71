// The 0x1E encryption request builders against a simulated controller: each request byte for byte
// as the controller received it, what the controller reports afterwards, the key cache's
// read-modify-write, the IKEK confirmation and the volatile-key steps.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ptelm.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"
#include "qvsim/virtual_clock.h"
#include "telm_encryption_requests.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using namespace telmar_encryption_host;

class EncryptionRequestsHost : public EncryptionHost {};

// Each builder once, in an order the controller accepts; the request as it arrived, field by field.
TEST_F(EncryptionRequestsHost, BuildersSendTheirRecordsFieldByField) {
    ASSERT_NO_FATAL_FAILURE(Start(ConfiguredLocal()));
    const char* pw = kOfficer.c_str();
    const size_t pw_size = kOfficer.size() + 1;
    const std::string user16 = "User#NewPass16ch"; // fills its field: no terminator
    const std::string key40(40, 'K');
    std::string question(300, 'q'), answer(70, 'a');
    question[0] = 'Q';
    answer[0] = 'A';
    struct Case {
        const char* name;
        std::function<VK_BOOL()> call;
        int function;
        std::string expected;
    } const cases[] = {
        {"12: user password, crypto-officer login",
         [&] { return _VK_SetEncryptionPassword(cda(), 1, user16.c_str(), 40, 0, pw, pw_size); }, 12,
         Record(40).u32(0, 0).text(4, kOfficer).u32(20, 1).text(24, user16).hex()},
        {"13: mode local, plaintext, enabled",
         [&] { return _VK_SetEncryptionKeyManagementMode(cda(), 0, 2 + 4 + 1, pw, pw_size); }, 13,
         Record(24).text(0, kOfficer).u32(16, 0).u32(20, 7).hex()},
        {"17: firmware lock action 1", [&] { return _VK_SetEncryptionUnlockFirmware(cda(), 0, 1, pw, pw_size); }, 17,
         Record(24).text(0, kOfficer).u32(20, 1).hex()},
        {"19: a 40-character key keeps 32",
         [&] { return _VK_SetEncryptionKey(cda(), 0, pw, pw_size, key40.c_str(), key40.size()); }, 19,
         Record(52).text(0, kOfficer).text(20, std::string(32, 'K')).hex()},
        {"21: question and answer cut to 256 and 64",
         [&] {
             return _VK_SetEncryptionRecoveryQuestionAndAnswer(cda(), 0, pw, pw_size, question.c_str(), 300,
                                                               answer.c_str(), 70);
         },
         21, Record(340).text(0, kOfficer).text(20, question.substr(0, 256)).text(276, answer.substr(0, 64)).hex()},
        {"25: boot password", [&] { return _VK_SetEncryptionBootPassword(cda(), 0, pw, pw_size, "Boot pw 9", 10); },
         25, Record(148).text(0, kOfficer).text(20, "Boot pw 9").hex()},
        {"28: suspend the boot password",
         [&] { return _VK_SetEncryptionBootPasswordState(cda(), 0, pw, pw_size, kEncryptionBootPasswordDisabled); },
         28, Record(148).text(0, kOfficer).hex()},
        {"16: encode logical drive 1, user login",
         [&] { return _VK_EncodeLogicalVolume(cda(), 1, 1, user16.c_str(), user16.size()); }, 16,
         Record(32).text(0, user16).u32(16, 1).u32(20, 4).u32(24, 1).u32(28, 0).hex()},
        {"34: volatile key on logical drive 1",
         [&] { return __VK_SetEncryptionDriveOptions(cda(), 1, 0, 1, 0, 1, user16.c_str(), user16.size()); }, 34,
         Record(32).text(0, user16).u32(16, 1).u16(20, 0).u16(22, 1).u32(24, 1).u32(28, 0).hex()},
        {"10: remote key name",
         [&] { return _VK_SetIkekEncryptionKey(cda(), 0, pw, pw_size, "RemoteKeyName-77", 17); }, 10,
         Record(84).text(0, kOfficer).u32(16, 0).text(20, "RemoteKeyName-77").hex()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host().clear_requests();
        EXPECT_TRUE(c.call());
        const auto writes = Writes(c.function);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], c.expected);
        EXPECT_EQ(AllWrites(), 1u);
    }
    // What the controller kept.
    EXPECT_EQ(state().updates.passwords.user, user16);
    EXPECT_EQ(state().encryption.master_key, std::string(32, 'K'));
    EXPECT_EQ(state().encryption.recovery_answer, answer.substr(0, 64));
    EXPECT_EQ(state().encryption.boot_password, "Boot pw 9");
    EXPECT_EQ(state().encryption.key_name, "RemoteKeyName-77");
    EXPECT_EQ(state().find_configured_drive(1)->additional_encryption_flags, 0x01);
}

TEST_F(EncryptionRequestsHost, FailedBuildersLogTheirLineAndOnlyKnownBootPasswordStatesAreSent) {
    ASSERT_NO_FATAL_FAILURE(Start(ConfiguredLocal()));
    TelmarLogCapture log;
    // A wrong login: the controller answers CHECK CONDITION.
    EXPECT_FALSE(_VK_SetEncryptionKey(cda(), 0, "Wrong#pw1", 10, "LocalMasterKey-02", 18));
    EXPECT_EQ(Writes(19).size(), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("   Set local master key failed.\n"), 1u);
    EXPECT_EQ(state().encryption.master_key, "LocalMasterKey-01");
    EXPECT_FALSE(_VK_SetEncryptionBootPasswordState(cda(), 0, kOfficer.c_str(), 10, 3));
    EXPECT_FALSE(_VK_SetEncryptionPassword(cda(), 1, nullptr, 0, 0, kOfficer.c_str(), 10));
    EXPECT_EQ(AllWrites(), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("   Set boot password state failed.\n"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Missing password"), 1u);
}

TEST_F(EncryptionRequestsHost, KeyCacheControlStartsFromTheAttributesReadFresh) {
    const std::string officer16 = "Officer#1-16char";
    struct Case {
        const char* name;
        VK_DWORD flags;
        VK_BOOL enable, persistent;
        VK_DWORD control;
    } const cases[] = {
        {"on, persistent", 0x14, kTrue, kTrue, 0x17},
        {"on, not persistent", 0x16, kTrue, kFalse, 0x15},
        {"off keeps only persistence", 0x17, kFalse, kTrue, 0x2},
        {"off", 0x17, kFalse, kFalse, 0x0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = ConfiguredLocal();
        s.updates.passwords.crypto_officer = officer16;
        s.encryption.kek_flags = c.flags;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        // The cached attributes are stale on purpose: the builder must read them again.
        ASSERT_TRUE(VK_RequestEncryptionKekCacheAttributes(cda()));
        state().encryption.kek_flags = c.flags;
        host().clear_requests();
        EXPECT_TRUE(_VK_SetEncryptionKeyCache(cda(), 0, officer16.c_str(), 17, c.enable, c.persistent, 7, 25));
        EXPECT_EQ(Reads(1), 1u);
        const auto writes = Writes(14);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0], Record(28).text(0, officer16).u32(20, c.control).u16(24, 7).u16(26, 25).hex());
        EXPECT_EQ((FreshStatus() & kControllerEncryptionKeyCacheEnabled) != 0, c.enable != kFalse);
        StopController();
    }
    // The attribute read failing, by errno or CHECK CONDITION, sends nothing.
    for (const FwFault& fault : {Fails(1, false), Refused(1, false)}) {
        FirmwareState s = ConfiguredLocal();
        s.faults.push_back(fault);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        TelmarLogCapture log;
        EXPECT_FALSE(_VK_SetEncryptionKeyCache(cda(), 0, kOfficer.c_str(), 10, kTrue, kTrue, 7, 25));
        EXPECT_EQ(Writes(14).size(), 0u);
        EXPECT_EQ(TelmarLogCapture::Count("   Set key cache failed on sense.\n"), 1u);
        StopController();
    }
}

TEST_F(EncryptionRequestsHost, RemoteKeyNameIsConfirmedByPollingTheIkekStatus) {
    struct Case {
        const char* name;
        bool uefi, remote_key_set;
        std::vector<qvsim::FwIkekStatus> polls;
        bool failed_first_read;
        VK_BOOL result;
        size_t reads; // function 7 reads after the write
        const char* line;
    } const cases[] = {
        {"UEFI key management: no polling", true, false, {{0, 0, 0}}, false, kTrue, 0, nullptr},
        {"key set before, reset obtained", false, true, {{1, 2, 1}, {1, 3, 1}}, false, kTrue, 2, nullptr},
        {"key set before, reset 0 and key obtained", false, true, {{3, 0, 0}}, false, kTrue, 1, nullptr},
        {"key set before, reset not found", false, true, {{3, 4, 3}}, false, kFalse, 1,
         "Set remote encryption key failed; ikek_status.bIkek:3, is_remote_kek_set:1, ikek_status.bIkekReset:4\n"},
        {"first key, both obtained", false, false, {{2, 0, 2}, {3, 0, 2}, {3, 0, 3}}, false, kTrue, 3, nullptr},
        {"first key, not found", false, false, {{4, 0, 3}}, false, kFalse, 1,
         "Set remote encryption key failed; ikek_status.bIkek:4, is_remote_kek_set:0, ikek_status.bIkekReset:0\n"},
        {"a failed read only sleeps", false, false, {{3, 0, 3}}, true, kTrue, 2, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = ConfiguredLocal();
        s.set_page("encryption", {static_cast<VK_BYTE>(c.uefi ? 0x81 : 0x01)});
        s.identify.encryption_status &= ~0x4u; // remote
        if (c.remote_key_set) {
            s.identify.encryption_status |= 0x8000000;
            s.encryption.key_name = "OldKeyName";
        }
        s.encryption.ikek_polls = c.polls;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        ASSERT_TRUE(VK_RequestEncryptionIKekStatus(cda())); // the status word's own read, before
        if (c.failed_first_read) {
            FwFault f = Fails(7, false);
            fw_->fw_state().faults.push_back(f);
        }
        host().clear_requests();
        TelmarLogCapture log;
        EXPECT_EQ(_VK_SetIkekEncryptionKey(cda(), 0, kOfficer.c_str(), 10, "RemoteKey-5", 12), c.result);
        EXPECT_EQ(Writes(10).size(), 1u);
        EXPECT_EQ(Reads(7), c.reads);
        if (c.line != nullptr) {
            EXPECT_EQ(TelmarLogCapture::Count(c.line), 1u);
        }
        StopController();
    }
}

TEST_F(EncryptionRequestsHost, VolatileKeysReachTheWantedStateWithFewestRequests) {
    struct Case {
        const char* name;
        VK_BYTE now; // bAdditionalEncryptionFlags: 0x1 key, 0x2 backup
        VK_BOOL key, backup;
        std::vector<std::pair<VK_WORD, VK_WORD>> sent; // feature, option
        VK_BYTE after;
    } const cases[] = {
        {"already off", 0x0, kFalse, kFalse, {}, 0x0},
        {"already on with backup", 0x3, kTrue, kTrue, {}, 0x3},
        {"both at once", 0x0, kTrue, kTrue, {{1, 3}}, 0x3},
        {"key only", 0x0, kTrue, kFalse, {{0, 1}}, 0x1},
        {"backup added", 0x1, kTrue, kTrue, {{1, 0}}, 0x3},
        {"backup dropped", 0x3, kTrue, kFalse, {{1, 2}}, 0x1},
        {"key off, backup not asked about", 0x3, kFalse, kTrue, {{0, 0}}, 0x0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = ConfiguredLocal();
        s.find_configured_drive(0)->additional_encryption_flags = c.now;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_TRUE(_VK_SetLogicalDriveVolatileKeys(cda(), 1, 0, kUser.c_str(), 11, c.key, c.backup));
        const auto writes = Writes(34);
        ASSERT_EQ(writes.size(), c.sent.size());
        for (size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i], Record(32)
                                     .text(0, kUser)
                                     .u32(16, 1)
                                     .u16(20, c.sent[i].first)
                                     .u16(22, c.sent[i].second)
                                     .u32(24, 0)
                                     .hex());
        }
        EXPECT_EQ(state().find_configured_drive(0)->additional_encryption_flags, c.after);
        StopController();
    }
    // Without the live status nothing is sent.
    FirmwareState s = ConfiguredLocal();
    s.fail_device(0x12, 0, 1, 0, EIO);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    TelmarLogCapture log;
    EXPECT_FALSE(_VK_SetLogicalDriveVolatileKeys(cda(), 1, 0, kUser.c_str(), 11, kTrue, kTrue));
    EXPECT_EQ(Writes(34).size(), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'success' failed: Failed to get current volatile key settings for ld 0\n"),
              1u);
}

// Builder by builder on an unconfigured controller, each read back after re-initialisation.
TEST_F(EncryptionRequestsHost, UnconfiguredControllerIsSetUpBuilderByBuilder) {
    ASSERT_NO_FATAL_FAILURE(Start(Unconfigured()));
    const std::string co = "Crypto#Off1", user = "User#Pass22";
    const char* c = co.c_str();
    struct Step {
        const char* name;
        std::function<VK_BOOL()> call;
        VK_QWORD set; // bits of the status word afterwards
    } const steps[] = {
        {"crypto-officer password without a login",
         [&] { return _VK_SetEncryptionPassword(cda(), 0, c, 12, 0, nullptr, 0); },
         kControllerEncryptionCryptoOfficerPasswordSet},
        {"local master key", [&] { return _VK_SetEncryptionKey(cda(), 0, c, 12, "MasterKey-Local-7", 18); },
         kControllerEncryptionKekSet},
        {"mode 2 + 1", [&] { return _VK_SetEncryptionKeyManagementMode(cda(), 0, 3, c, 12); },
         kControllerEncryptionLocalMode | kControllerEncryptionEnabled},
        {"user password with a login",
         [&] { return _VK_SetEncryptionPassword(cda(), 1, user.c_str(), 12, 0, c, 12); },
         kControllerEncryptionUserPasswordSet},
        {"question",
         [&] {
             return _VK_SetEncryptionRecoveryQuestionAndAnswer(cda(), 0, c, 12, "Where was the first controller?", 32,
                                                               "In a rack, row 17", 18);
         },
         kControllerEncryptionCryptoOfficerRecoverySet},
        {"firmware lock", [&] { return _VK_SetEncryptionUnlockFirmware(cda(), 0, 0, c, 12); },
         kControllerEncryptionFwLocked},
        {"boot password", [&] { return _VK_SetEncryptionBootPassword(cda(), 0, c, 12, "Boot pw 9", 9); },
         kControllerEncryptionBootPasswordSet},
        {"boot password suspended",
         [&] { return _VK_SetEncryptionBootPasswordState(cda(), 0, c, 12, kEncryptionBootPasswordDisabled); },
         kControllerEncryptionBootPasswordSuspended},
        {"key cache", [&] { return _VK_SetEncryptionKeyCache(cda(), 0, c, 12, kTrue, kFalse, 4, 30); },
         kControllerEncryptionKeyCacheEnabled},
    };
    VK_QWORD expected = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ASSERT_TRUE(s.call());
        expected |= s.set;
        EXPECT_EQ(FreshStatus() & 0xFFFF, expected);
    }
    EXPECT_EQ(CTRL_ENCRYPTION_MODE(FreshStatus()), kControllerEncryptionLocal);
    const VK_QWORD cache = VK_GetControllerEncryptionKeyCacheStatus(cda());
    EXPECT_EQ(ENCRYPTION_KEY_CACHE_ATTEMPTS(cache), 4);
    EXPECT_EQ(ENCRYPTION_KEY_CACHE_INTERVAL(cache), 30);
    EXPECT_TRUE(ENCRYPTION_KEY_CACHE_ENABLED(cache));
    EXPECT_FALSE(ENCRYPTION_PERSISTENT_KEY_CACHE_ENABLED(cache));
    EXPECT_TRUE(VK_VerifyEncryptionPassword(cda(), 1, user.c_str()));
}

// ---- Random credentials and the IKEK deadline on the test's own clock and random bytes ----------

TEST(EncryptionRandomCredentialsHost, ScriptedBytesGiveExactCredentials) {
    char password[16];
    {
        // The first candidate (all 'A') fails the rule and is drawn again; 200 is above the last
        // whole run of 94 and is drawn again too.
        std::vector<std::uint8_t> bytes(12, 32);
        for (std::uint8_t b : {200, 32, 64, 16, 0, 33, 34, 35, 36, 37, 38, 39}) {
            bytes.push_back(b);
        }
        bytes.push_back(120);
        qvsim::scripted_random::Scope random(bytes);
        ASSERT_EQ(__VK_GenerateRandomPassword(nullptr, password, sizeof(password)), password);
        EXPECT_EQ(qvsim::scripted_random::used(), bytes.size());
    }
    EXPECT_EQ(std::string(password, sizeof(password)), std::string("Aa1!BCDEFGH;") + std::string(4, '\0'));

    char key[20];
    {
        // 190 and above are drawn again; 32 + b % 95 otherwise.
        qvsim::scripted_random::Scope random({190, 0, 1, 94, 95, 189, 65, 33, 16, 17, 18, 19, 20, 21, 255, 22, 23});
        ASSERT_EQ(__VK_GenerateRandomKeyname(key, sizeof(key)), key);
    }
    EXPECT_EQ(std::string(key, sizeof(key)), std::string(" !~ ~aA0123456") + std::string(6, '\0'));

    char answer[32];
    {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < 32; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(33 + i));
        }
        qvsim::scripted_random::Scope random(bytes);
        ASSERT_EQ(__VK_GenerateRandomAnswer(answer, sizeof(answer)), answer);
    }
    EXPECT_EQ(std::string(answer, sizeof(answer)), "ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`");
}

TEST(EncryptionRandomCredentialsHost, AFailingRandomSourceFailsTheGenerator) {
    TelmarLogCapture log;
    char buffer[40];
    std::memset(buffer, 'x', sizeof(buffer));
    {
        qvsim::scripted_random::Scope random({});
        qvsim::scripted_random::fail(EIO);
        EXPECT_EQ(__VK_GenerateRandomPassword(nullptr, buffer, sizeof(buffer)), nullptr);
        EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(40, '\0'));
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(__VK_GenerateRandomKeyname(buffer, sizeof(buffer)), nullptr);
        EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(40, '\0'));
    }
    {
        // Running dry half way: nothing of the half-drawn answer is left behind.
        std::memset(buffer, 'x', sizeof(buffer));
        qvsim::scripted_random::Scope random(std::vector<std::uint8_t>(32, 200));
        EXPECT_EQ(__VK_GenerateRandomAnswer(buffer, sizeof(buffer)), nullptr);
        EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(40, '\0'));
    }
    EXPECT_EQ(TelmarLogCapture::Count("Random source failed\n"), 3u);
}

TEST_F(EncryptionRequestsHost, AnIkekThatNeverDecidesFailsAfter480PollsAnd120Seconds) {
    FirmwareState s = ConfiguredLocal();
    s.identify.encryption_status &= ~0x4u;
    s.encryption.ikek_polls = {{2, 0, 2}};
    ASSERT_NO_FATAL_FAILURE(Start(s));
    ASSERT_TRUE(VK_RequestEncryptionIKekStatus(cda()));
    host().clear_requests();
    TelmarLogCapture log;
    qvsim::virtual_clock::Scope clock(1765400000);
    const std::int64_t start = qvsim::virtual_clock::monotonic_ns();
    EXPECT_FALSE(_VK_SetIkekEncryptionKey(cda(), 0, kOfficer.c_str(), 10, "RemoteKey-5", 12));
    EXPECT_EQ(Reads(7), 480u);
    EXPECT_EQ(qvsim::virtual_clock::sleeps(), 480u);
    EXPECT_EQ(qvsim::virtual_clock::monotonic_ns() - start, 120'000'000'000LL);
    EXPECT_EQ(TelmarLogCapture::Count(
                  "Set remote encryption key failed; ikek_status.bIkek:2, is_remote_kek_set:0, ikek_status.bIkekReset:0\n"),
              1u);
}

} // namespace
