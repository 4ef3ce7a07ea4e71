// Self-tests of the simulated controller's encryption writes (BMIC 0x1E) and the managed-SED
// secure-volume write (0xE8 function 9): the request records are built here from their byte
// layouts, and what the controller then reports is read back through its own reads (identify data,
// 0x1E reads, logical-drive status), at the controller's offsets.
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fw_selftest_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::bmic_write;
using selftest::le;

// ---- Request records, from their layouts ------------------------------------------------------------

void put(Bytes& b, std::size_t off, const std::string& s) {
    std::memcpy(b.data() + off, s.data(), s.size());
}
void put32(Bytes& b, std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[off + i] = std::uint8_t(v >> (8 * i));
}
void put16(Bytes& b, std::size_t off, std::uint16_t v) {
    b[off] = std::uint8_t(v);
    b[off + 1] = std::uint8_t(v >> 8);
}

// A request of `size` bytes that starts with a login (bPassword at 0, dwRole at 16).
Bytes login(std::size_t size, const std::string& password, std::uint32_t role) {
    Bytes b(size, 0);
    put(b, 0, password);
    put32(b, 16, role);
    return b;
}

Command fn(std::uint8_t function, const Bytes& data) {
    return bmic_write(0x1E, data, function);
}

// 12: dwMyRole 0, bMyPassword 4, dwRoleToChange 20, bNewPassword 24.
Command set_password(std::uint32_t role, const std::string& password, std::uint32_t login_role = 0,
                     const std::string& login_password = "") {
    Bytes b(40, 0);
    put32(b, 0, login_password.empty() ? role : login_role);
    put(b, 4, login_password);
    put32(b, 20, role);
    put(b, 24, password);
    return fn(12, b);
}
Command with_dword(std::uint8_t function, std::size_t size, const std::string& pw, std::uint32_t v) {
    Bytes b = login(size, pw, 0);
    put32(b, 20, v);
    return fn(function, b);
}
Command with_text(std::uint8_t function, std::size_t size, const std::string& pw, const std::string& text) {
    Bytes b = login(size, pw, 0);
    put(b, 20, text);
    return fn(function, b);
}
Command verify(const std::string& pw, std::uint32_t role) {
    return fn(20, login(20, pw, role));
}
Command key_cache(const std::string& pw, std::uint32_t control, std::uint16_t attempts, std::uint16_t interval) {
    Bytes b = login(28, pw, 0);
    put32(b, 20, control);
    put16(b, 24, attempts);
    put16(b, 26, interval);
    return fn(14, b);
}
Command recovery(const std::string& pw, const std::string& question, const std::string& answer) {
    Bytes b = login(340, pw, 0);
    put(b, 20, question);
    put(b, 276, answer);
    return fn(21, b);
}
Command rekey(const std::string& pw, std::uint32_t type, std::uint32_t index) {
    Bytes b = login(32, pw, 0);
    put32(b, 20, type);
    put32(b, 24, index);
    return fn(16, b);
}
Command drive_features(const std::string& pw, std::uint16_t feature, std::uint16_t option, std::uint32_t ld) {
    Bytes b = login(32, pw, 0);
    put16(b, 20, feature);
    put16(b, 22, option);
    put32(b, 24, ld);
    return fn(34, b);
}
Command factory(const std::string& key) {
    Bytes b(88, 0);
    put32(b, 0, 1);
    put(b, 4, key);
    return fn(18, b);
}
Command recover(const std::string& answer, const std::string& password) {
    Bytes b(80, 0);
    put(b, 0, answer);
    put(b, 64, password);
    return fn(22, b);
}
Command unlock(const std::vector<std::string>& passwords) {
    Bytes b(3969, 0);
    b[0] = std::uint8_t(passwords.size());
    for (std::size_t k = 0; k < passwords.size(); ++k)
        put(b, 1 + 128 * k, passwords[k]);
    return fn(26, b);
}

bool good(const Reply& r) {
    return r.err == 0 && r.scsi_status == 0;
}
std::uint8_t asc(const Reply& r) {
    return r.sense.size() > 12 ? r.sense[12] : 0xFF;
}

// ---- What the controller reports ----------------------------------------------------------------------

std::uint32_t status_word(FwController& fw) {
    return std::uint32_t(le(fw.execute(bmic_read(0x11, 1024)).data_in, 282, 4));
}
Bytes enc(FwController& fw, std::uint8_t function, std::uint16_t length) {
    return fw.execute(bmic_read(0x1E, length, function)).data_in;
}
// bEncryptionFlags (1026), bAdditionalEncryptionFlags (1051), bManagedSEDVolumeFlags (1056) and the
// unit status (0) of a logical drive's status reply.
struct LdFlags {
    std::uint8_t encryption, additional, sed, unit;
    bool operator==(const LdFlags&) const = default;
};
LdFlags ld_flags(FwController& fw, std::uint16_t ld) {
    const Bytes s = fw.execute(bmic_read(0x12, 3265, 0, ld)).data_in;
    return {s.at(1026), s.at(1051), s.at(1056), s.at(0)};
}

// A configured local controller: crypto officer "Officer#1", user "User#2pass", local key, enabled,
// and three logical drives: 0 encrypted, 1 plaintext, 2 encrypted and waiting for its key.
FirmwareState configured() {
    FirmwareState s;
    s.set_page("encryption", {0x01});
    s.identify.encryption_status = 0x800 | 0x1000 | 0x20000 | 0x4 | 0x1 | 0x8; // 0x8: self-test failed
    s.updates.passwords = {"Officer#1", "User#2pass"};
    s.encryption.master_key = "LocalMasterKey-01";
    s.encryption.foreign_key = "ForeignKey-0042";
    s.encryption.kek_supported = 0x7;
    s.encryption.kek_min_attempts = 2;
    s.encryption.kek_max_attempts = 9;
    s.encryption.kek_min_interval = 3;
    s.encryption.kek_max_interval = 40;
    for (std::uint16_t d = 0; d < 6; ++d)
        s.add_drive(d);
    s.add_configured_drive(0, {0, 1}, 1 << 20).encryption_flags = 0x01;
    s.add_configured_drive(1, {2, 3}, 1 << 20);
    auto& waiting = s.add_configured_drive(2, {4, 5}, 1 << 20);
    waiting.encryption_flags = 0x03;
    waiting.unit_status = 0x14;
    return s;
}

FirmwareState unconfigured() {
    FirmwareState s;
    s.set_page("encryption", {0x01});
    s.identify.encryption_status = 0;
    s.updates.passwords = {"", ""};
    return s;
}

// ---- Tests --------------------------------------------------------------------------------------------

// Builder by builder on an unconfigured controller, each read back as the library reads it.
TEST(SimEncryption, WritesOnAnUnconfiguredControllerShowInTheReads) {
    FwController fw(unconfigured());
    const std::string co = "Crypto#Off1", user = "User#Pass22";
    const struct Step {
        const char* name;
        Command write;
        std::uint32_t status_word;
    } steps[] = {
        {"first crypto-officer password, no login", set_password(0, co), 0x800},
        {"local master key", with_text(19, 52, co, "MasterKey-Local-7"), 0x20800},
        {"mode local + enabled", with_dword(13, 24, co, 2 + 1), 0x20805},
        {"user password, crypto-officer login", set_password(1, user, 0, co), 0x21805},
        {"recovery question and answer", recovery(co, "Where was the first controller?", "In a rack, row 17"),
         0x31805},
        {"firmware lock", with_dword(17, 24, co, 0), 0x35805},
        {"key cache on, persistent", key_cache(co, 0x3, 7, 25), 0x35C05},
        {"mode local + plaintext + enabled", with_dword(13, 24, co, 2 + 4 + 1), 0xB5C05},
        {"firmware unlock", with_dword(17, 24, co, 1), 0xB1C05},
        {"mode remote, disabled, no plaintext", with_dword(13, 24, co, 0), 0x31C00},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        const Reply r = fw.execute(s.write);
        ASSERT_TRUE(good(r)) << "asc " << int(asc(r));
        EXPECT_EQ(status_word(fw), s.status_word) << std::hex << status_word(fw);
    }
    EXPECT_TRUE(good(fw.execute(verify(co, 0))));
    EXPECT_TRUE(good(fw.execute(verify(user, 1))));
    EXPECT_EQ(fw.execute(verify(co, 1)).scsi_status, 0x02);
    const Bytes question = enc(fw, 3, 256);
    EXPECT_EQ(selftest::text(question, 0, 32), std::string("Where was the first controller?") + '\0');
    const Bytes cache = enc(fw, 1, 20);
    EXPECT_EQ(le(cache, 8, 2), 7u);     // wCurrentRetryAttempts
    EXPECT_EQ(le(cache, 14, 2), 25u);   // wCurrentRetryInterval
    EXPECT_EQ(le(cache, 16, 4), 0x2u);  // flags: persistent
    EXPECT_EQ(fw.fw_state().encryption.master_key, "MasterKey-Local-7");
    EXPECT_EQ(fw.fw_state().encryption.recovery_answer, "In a rack, row 17");
    EXPECT_EQ(fw.fw_state().updates.writes.size(), std::size(steps) + 2); // and the two verifications
}

TEST(SimEncryption, RefusedRequestsAreCheckConditionAndChangeNothing) {
    const std::string co = "Officer#1";
    const struct {
        const char* name;
        Command write;
        std::uint8_t asc;
    } cases[] = {
        {"wrong login", with_dword(13, 24, "Officer#2", 3), 0x26},
        {"user login with the officer's password", fn(13, [] {
             Bytes b = login(24, "Officer#1", 1);
             put32(b, 20, 3);
             return b;
         }()), 0x26},
        {"role 2", fn(19, login(52, co, 2)), 0x26},
        {"user password without a login on a configured controller", set_password(1, "New#User1"), 0x26},
        {"another officer password without a login", set_password(0, "New#Off1"), 0x26},
        {"mode 8", with_dword(13, 24, co, 8), 0x26},
        {"empty local key", with_text(19, 52, co, ""), 0x26},
        {"key-cache attempts below the minimum", key_cache(co, 0x1, 1, 10), 0x26},
        {"key-cache interval above the maximum", key_cache(co, 0x1, 5, 41), 0x26},
        {"firmware lock action 2", with_dword(17, 24, co, 2), 0x26},
        {"suspending a boot password that is not set", fn(28, login(148, co, 0)), 0x2C},
        {"unlocking a controller that is not locked", unlock({"Boot pass 1"}), 0x2C},
        {"recovery without a question", recover("anything at all here", "New#Off1"), 0x2C},
        {"rekey of a plaintext drive keeping its data", rekey(co, 2, 1), 0x26},
        {"encode of an encrypted drive", rekey(co, 4, 0), 0x26},
        {"rekey of a drive that does not exist", rekey(co, 8, 7), 0x26},
        {"rekey key type 3", rekey(co, 3, 0), 0x26},
        {"volatile key of a plaintext drive", drive_features(co, 0, 1, 1), 0x26},
        {"volatile-key backup without a volatile key", drive_features(co, 1, 0, 0), 0x2C},
        {"import with another key", with_text(23, 52, co, "ForeignKey-0043"), 0x26},
        {"factory state without the key, encrypted drives present", factory(""), 0x26},
        {"factory state with the wrong key", factory("LocalMasterKey-02"), 0x26},
        {"function 15", fn(15, login(64, co, 0)), 0x24},
        {"short local key record", fn(19, login(51, co, 0)), 0x1A},
        {"short unlock record", fn(26, Bytes(3968, 1)), 0x1A},
        {"function in CDB byte 4", bmic_write(0x1E, login(52, co, 0), 0x113), 0x24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FwController fw(configured());
        const std::string before = fw.fw_state().to_json().dump();
        const Reply r = fw.execute(c.write);
        EXPECT_EQ(r.scsi_status, 0x02);
        EXPECT_EQ(asc(r), c.asc);
        EXPECT_EQ(fw.fw_state().to_json().dump(), before);
    }
}

TEST(SimEncryption, RemoteKeyNameIkekStatusFollowsTheScriptPollByPoll) {
    FirmwareState st = configured();
    st.encryption.ikek_polls = {{0, 0, 0}, {2, 0, 1}, {3, 0, 3}};
    qvsim::FwFault f; // the second read of function 7 fails
    f.bmic = 0x1E;
    f.function = 7;
    f.write = false;
    f.nth = 3;
    f.err = EIO;
    st.faults.push_back(f);
    FwController fw(st);
    auto ikek = [&] { return enc(fw, 7, 4); };
    EXPECT_EQ(ikek(), (Bytes{0, 0, 0, 0})); // no key name sent yet: the script waits
    ASSERT_TRUE(good(fw.execute(with_text(10, 84, "Officer#1", "remote-key-name/QV-17"))));
    EXPECT_EQ(fw.fw_state().encryption.key_name, "remote-key-name/QV-17");
    EXPECT_EQ(status_word(fw) & 0x8000000u, 0x8000000u);
    EXPECT_EQ(ikek(), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(fw.execute(bmic_read(0x1E, 4, 7)).err, EIO); // a failed poll takes no entry
    EXPECT_EQ(ikek(), (Bytes{2, 0, 1, 0}));
    EXPECT_EQ(ikek(), (Bytes{3, 0, 3, 0}));
    EXPECT_EQ(ikek(), (Bytes{3, 0, 3, 0})); // the last one stays
    // Without a script the key is obtained at once; a second key name reports the reset obtained.
    fw.fw_state().encryption.ikek_polls.clear();
    ASSERT_TRUE(good(fw.execute(with_text(10, 84, "Officer#1", "remote-key-name/QV-18"))));
    EXPECT_EQ(ikek(), (Bytes{3, 3, 3, 0}));
}

TEST(SimEncryption, LogicalDriveRequestsChangeTheirStatusReplies) {
    FwController fw(configured());
    const std::string co = "Officer#1";
    const struct Step {
        const char* name;
        Command write;
        std::uint16_t ld;
        LdFlags after;
    } steps[] = {
        {"encode plaintext drive 1 keeping data", rekey(co, 4, 1), 1, {0x01, 0, 0, 0}},
        {"rekey drive 1 keeping data", rekey(co, 2, 1), 1, {0x01, 0, 0, 0}},
        {"volatile key and backup in one step", drive_features(co, 1, 3, 1), 1, {0x01, 0x03, 0, 0}},
        {"backup off", drive_features(co, 1, 2, 1), 1, {0x01, 0x01, 0, 0}},
        {"backup on", drive_features(co, 1, 0, 1), 1, {0x01, 0x03, 0, 0}},
        {"volatile key off drops the backup", drive_features(co, 0, 0, 1), 1, {0x01, 0, 0, 0}},
        {"volatile key on", drive_features(co, 0, 1, 1), 1, {0x01, 0x01, 0, 0}},
        {"drive 1 to plaintext", rekey(co, 16, 1), 1, {0, 0, 0, 0}},
        {"drive 2 restored from its backup", drive_features(co, 1, 3, 2), 2, {0x03, 0x03, 0, 0x14}},
        {"restore", drive_features(co, 1, 1, 2), 2, {0x01, 0x03, 0, 0}},
        {"drive 0 a new key", rekey(co, 8, 0), 0, {0x01, 0, 0, 0}},
        {"controller master key", rekey(co, 1, 0), 0, {0x01, 0, 0, 0}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        const Reply r = fw.execute(s.write);
        ASSERT_TRUE(good(r)) << "asc " << int(asc(r));
        EXPECT_TRUE(ld_flags(fw, s.ld) == s.after);
    }
    EXPECT_EQ(fw.fw_state().encryption.controller_rekeys, 1u);
    EXPECT_TRUE(ld_flags(fw, 0) == (LdFlags{0x01, 0, 0, 0}));
}

TEST(SimEncryption, ImportRecoveryRescanAndFactoryState) {
    FwController fw(configured());
    const std::string co = "Officer#1";
    // The foreign key reaches the drive waiting for it only.
    ASSERT_TRUE(good(fw.execute(with_text(23, 52, co, "ForeignKey-0042"))));
    EXPECT_TRUE(ld_flags(fw, 2) == (LdFlags{0x01, 0, 0, 0}));
    EXPECT_TRUE(ld_flags(fw, 1) == (LdFlags{0, 0, 0, 0}));
    EXPECT_EQ(fw.execute(with_text(23, 52, co, "ForeignKey-0042")).scsi_status, 0x02); // none waits now
    // The recovery answer replaces the crypto officer's password.
    ASSERT_TRUE(good(fw.execute(recovery(co, "Which rack holds the spare controller?", "Rack 7, shelf B!"))));
    EXPECT_EQ(asc(fw.execute(recover("Rack 7, shelf C!", "Officer#9"))), 0x26);
    ASSERT_TRUE(good(fw.execute(recover("Rack 7, shelf B!", "Officer#9"))));
    EXPECT_EQ(fw.execute(verify(co, 0)).scsi_status, 0x02);
    EXPECT_TRUE(good(fw.execute(verify("Officer#9", 0))));
    // Rescans need no login and are counted.
    ASSERT_TRUE(good(fw.execute(fn(24, Bytes(512, 0)))));
    EXPECT_EQ(fw.fw_state().encryption.rescans, 1u);
    // Back to the factory state with the local master key; the self-test failure bit stays.
    ASSERT_TRUE(good(fw.execute(factory("LocalMasterKey-01"))));
    EXPECT_EQ(status_word(fw), 0x8u);
    EXPECT_EQ(enc(fw, 3, 256), Bytes(256, 0));
    EXPECT_EQ(fw.execute(verify("Officer#9", 0)).scsi_status, 0x02);
    EXPECT_EQ(fw.execute(verify("User#2pass", 1)).scsi_status, 0x02);
    // Unconfigured again, it takes a first crypto-officer password without a login.
    EXPECT_TRUE(good(fw.execute(set_password(0, "Officer#3"))));
    EXPECT_EQ(fw.fw_state().encryption.factory_resets, 1u);
}

TEST(SimEncryption, BootPasswordLifecycleAndUnlock) {
    FwController fw(configured());
    const std::string co = "Officer#1";
    auto boot_status = [&] { return le(enc(fw, 6, 4), 0, 2); };
    auto attempts = [&] { return le(enc(fw, 9, 20), 4, 4); }; // the crypto officer's
    ASSERT_TRUE(good(fw.execute(with_text(25, 148, co, "boot pass with space"))));
    EXPECT_EQ(boot_status(), 0x1u);
    ASSERT_TRUE(good(fw.execute(fn(28, login(148, co, 0)))));
    EXPECT_EQ(boot_status(), 0x5u);
    ASSERT_TRUE(good(fw.execute(fn(29, login(148, co, 0)))));
    EXPECT_EQ(boot_status(), 0x1u);
    // The controller starts locked, waiting for the boot password.
    fw.fw_state().encryption.boot_password_status = 0x3;
    fw.fw_state().identify.encryption_status |= 0x40000;
    EXPECT_EQ(attempts(), 5u);
    EXPECT_EQ(asc(fw.execute(unlock({"boot pass with spacE"}))), 0x26);
    EXPECT_EQ(attempts(), 4u);
    EXPECT_EQ(boot_status(), 0x3u);
    EXPECT_EQ(asc(fw.execute(unlock({}))), 0x26); // bCount 0
    ASSERT_TRUE(good(fw.execute(unlock({"wrong one", "boot pass with space"}))));
    EXPECT_EQ(boot_status(), 0x1u);
    EXPECT_EQ(status_word(fw) & 0x40000u, 0u);
    EXPECT_EQ(fw.fw_state().encryption.unlocks, 1u);
    // No attempt left: even the right password is refused.
    fw.fw_state().encryption.boot_password_status = 0x3;
    fw.fw_state().encryption.attempts_remaining[0] = 0;
    EXPECT_EQ(asc(fw.execute(unlock({"boot pass with space"}))), 0x26);
    EXPECT_EQ(boot_status(), 0x3u);
    // Removal.
    fw.fw_state().encryption.boot_password_status = 0x1;
    ASSERT_TRUE(good(fw.execute(fn(27, login(148, co, 0)))));
    EXPECT_EQ(boot_status(), 0x0u);
    EXPECT_EQ(fw.fw_state().encryption.boot_password, "");
}

TEST(SimEncryption, SecureVolumeBitmapMakesTheNamedDrivesSedEnabled) {
    FirmwareState st = configured();
    st.identify.managed_sed_mode = 0x3; // enabled, local
    st.add_configured_drive(9, {0, 1}, 1 << 20, 1 << 20);
    FwController fw(st);
    // Logical drives 1 and 9: byte 0 bit 1, byte 1 bit 1.
    const Reply r = fw.execute(bmic_write(0xE8, {0x02, 0x02, 0, 0, 0, 0, 0, 0}, 9));
    ASSERT_TRUE(good(r)) << "asc " << int(asc(r));
    EXPECT_EQ(ld_flags(fw, 1).sed, 0x01);
    EXPECT_EQ(ld_flags(fw, 9).sed, 0x01);
    EXPECT_EQ(ld_flags(fw, 0).sed, 0x00);
    EXPECT_EQ(ld_flags(fw, 2).sed, 0x00);
    ASSERT_EQ(fw.fw_state().updates.writes.size(), 1u);
    EXPECT_EQ(fw.fw_state().updates.writes[0].opcode, 0xE8);
    const struct {
        const char* name;
        Command write;
        std::uint8_t asc;
    } refused[] = {
        {"logical drive 63 does not exist", bmic_write(0xE8, {0x01, 0, 0, 0, 0, 0, 0, 0x80}, 9), 0x26},
        {"no drive named", bmic_write(0xE8, Bytes(8, 0), 9), 0x26},
        {"7 bytes", bmic_write(0xE8, Bytes(7, 0x01), 9), 0x1A},
        {"function 11", bmic_write(0xE8, {0x01, 0, 0, 0, 0, 0, 0, 0}, 11), 0x24},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(asc(fw.execute(c.write)), c.asc);
        EXPECT_EQ(ld_flags(fw, 0).sed, 0x00);
    }
    fw.fw_state().identify.managed_sed_mode = 0;
    EXPECT_EQ(asc(fw.execute(bmic_write(0xE8, {0x01, 0, 0, 0, 0, 0, 0, 0}, 9))), 0x2C);
    EXPECT_EQ(ld_flags(fw, 0).sed, 0x00);
}

TEST(SimEncryption, FaultsByOpcodeAndFunction) {
    FirmwareState st = configured();
    st.identify.managed_sed_mode = 0x3;
    auto fault = [](std::uint8_t opcode, std::uint8_t function, bool write) {
        qvsim::FwFault f;
        f.bmic = opcode;
        f.function = function;
        f.write = write;
        return f;
    };
    auto key = fault(0x1E, 19, true);
    key.err = EIO;
    auto mode = fault(0x1E, 13, true);
    mode.sense = qvsim::fixed_sense(0x05, 0x26, 0x02);
    auto attributes = fault(0x1E, 1, false);
    attributes.sense = qvsim::fixed_sense(0x04, 0x44, 0x00);
    auto secure = fault(0xE8, 9, true);
    secure.err = EBUSY;
    st.faults = {key, mode, attributes, secure};
    FwController fw(st);
    const std::string co = "Officer#1";
    EXPECT_EQ(fw.execute(with_text(19, 52, co, "OtherMasterKey-02")).err, EIO);
    EXPECT_EQ(fw.fw_state().encryption.master_key, "LocalMasterKey-01");
    const Reply m = fw.execute(with_dword(13, 24, co, 2));
    EXPECT_EQ(m.scsi_status, 0x02);
    EXPECT_EQ(m.sense.at(13), 0x02);
    EXPECT_EQ(status_word(fw) & 0x1u, 0x1u); // still enabled
    EXPECT_EQ(fw.execute(bmic_read(0x1E, 20, 1)).scsi_status, 0x02);
    EXPECT_EQ(fw.execute(bmic_write(0xE8, {0x01, 0, 0, 0, 0, 0, 0, 0}, 9)).err, EBUSY);
    EXPECT_EQ(ld_flags(fw, 0).sed, 0x00);
    EXPECT_TRUE(fw.fw_state().updates.writes.empty());
    // Each fault hit once: the same requests now go through.
    EXPECT_TRUE(good(fw.execute(with_text(19, 52, co, "OtherMasterKey-02"))));
    EXPECT_TRUE(good(fw.execute(with_dword(13, 24, co, 2))));
    EXPECT_TRUE(good(fw.execute(bmic_read(0x1E, 20, 1))));
    EXPECT_EQ(status_word(fw) & 0x1u, 0x0u);
}

TEST(SimEncryption, JsonFormCarriesTheCredentialsAndTheScript) {
    const auto j = nlohmann::json::parse(R"({
        "encryption": {"master_key": "Key-From-Json-1", "key_name": "kms/name", "recovery_answer": "answer text 16ch",
                       "boot_password": "boot pw", "foreign_key": "Foreign-9",
                       "ikek_polls": [{"ikek": 2}, {"ikek": 3, "controller_key": 3}]},
        "updates": {"passwords": {"crypto_officer": "Off#Json1", "user": ""}}})");
    const FirmwareState s = FirmwareState::from_json(j);
    EXPECT_EQ(s.encryption.master_key, "Key-From-Json-1");
    EXPECT_EQ(s.encryption.key_name, "kms/name");
    EXPECT_EQ(s.encryption.boot_password, "boot pw");
    ASSERT_EQ(s.encryption.ikek_polls.size(), 2u);
    EXPECT_EQ(s.encryption.ikek_polls[1].controller_key, 3);
    EXPECT_EQ(s.updates.passwords.user, "");
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());
}

} // namespace

namespace {

qvsim::Command sed_write(std::uint8_t function, std::size_t size, std::initializer_list<std::pair<std::size_t, std::string>> texts) {
    Bytes b(size, 0);
    for (const auto& [off, text] : texts)
        put(b, off, text);
    return bmic_write(0xE8, b, function);
}

std::uint32_t sed_status_of(FwController& fw) {
    return std::uint32_t(le(fw.execute(bmic_read(0xE8, 8, 2)).data_in, 0, 4));
}

} // namespace

TEST(SimManagedSed, SettingsWritesChangeWhatTheReadsReport) {
    FirmwareState st;
    st.set_page("managed_sed", {0x07});
    FwController fw(st);
    auto mode = [&] { return fw.fw_state().identify.managed_sed_mode; };
    EXPECT_EQ(asc(fw.execute(sed_write(2, 64, {{0, "Pass#1aaA"}, {32, "Key#1aaaA"}}))), 0x2C);
    EXPECT_EQ(asc(fw.execute(sed_write(1, 99, {{32, "Key#1aaaA"}, {64, "Id-1"}}))), 0x1A);
    EXPECT_EQ(asc(fw.execute(sed_write(1, 100, {{64, "Id-1"}}))), 0x26);
    ASSERT_TRUE(good(fw.execute(sed_write(1, 100, {{0, "Pass#1aaA"}, {32, "Key#1aaaA"}, {64, "Id-1"}}))));
    EXPECT_EQ(mode(), 0xBu);
    const Bytes id = fw.execute(bmic_read(0xE8, 33, 4)).data_in;
    EXPECT_EQ(std::string(id.begin(), id.begin() + 4), "Id-1");

    EXPECT_EQ(asc(fw.execute(sed_write(3, 96, {{0, "Key#wrong"}, {32, "Key#2bbbB"}}))), 0x26);
    ASSERT_TRUE(good(fw.execute(sed_write(3, 96, {{0, "Key#1aaaA"}, {32, "Key#2bbbB"}, {64, "Id-2"}}))));
    EXPECT_EQ(fw.fw_state().managed_sed.master_key, "Key#2bbbB");
    EXPECT_EQ(fw.fw_state().managed_sed.master_key_id[3], '2');

    // Unlock: only while waiting; a wrong password takes an attempt.
    EXPECT_EQ(asc(fw.execute(sed_write(5, 32, {{0, "Pass#1aaA"}}))), 0x2C);
    fw.fw_state().managed_sed.status = 0x1;
    fw.fw_state().managed_sed.unlock_attempts_left = 2;
    EXPECT_EQ(asc(fw.execute(sed_write(5, 32, {{0, "Pass#nope"}}))), 0x26);
    EXPECT_EQ(fw.execute(bmic_read(0xE8, 6, 1)).data_in[5], 1);
    ASSERT_TRUE(good(fw.execute(sed_write(5, 32, {{0, "Pass#1aaA"}}))));
    EXPECT_EQ(sed_status_of(fw), 0u);

    // An empty new adapter password turns it off.
    ASSERT_TRUE(good(fw.execute(sed_write(2, 64, {{32, "Key#2bbbB"}}))));
    EXPECT_EQ(mode(), 0x3u);
    ASSERT_TRUE(good(fw.execute(bmic_write(0xE8, {}, 4))));
    EXPECT_EQ(mode(), 0u);
    EXPECT_EQ(fw.fw_state().managed_sed.master_key, "");
    EXPECT_EQ(fw.fw_state().updates.writes.size(), 5u);
}

namespace {

// dwDriveFeatureFlags as the identify-physical-drive read (0x15, 3072 bytes) reports it, at 2554.
std::uint32_t feature_flags_of(FwController& fw, std::uint16_t drive) {
    return std::uint32_t(le(fw.execute(bmic_read(0x15, 3072, std::uint32_t(drive) << 24)).data_in, 2554, 4));
}

Bytes drive_map(std::initializer_list<std::uint16_t> drives, std::size_t size = 128) {
    Bytes b(size, 0);
    for (auto n : drives)
        b[n / 8] |= std::uint8_t(1u << (n % 8));
    return b;
}

constexpr std::uint32_t kSed = 0x1, kLocked = 0x20, kOfs = 0x200, kOwned = 0x800, kForeign = 0x1000,
                        kOpal = 0x2000;

// Local managed SED; drives 0 and 1 in OFS, 2 owned, 3 and 4 foreign owned (under two keys, 3
// locked), 5 not an SED, 6 owned and a data drive of logical drive 0, 130 in OFS.
FirmwareState sed_drives() {
    FirmwareState s;
    s.set_page("managed_sed", {0x07});
    s.identify.managed_sed_mode = 0x3;
    s.managed_sed.master_key = "Key#1aaaA";
    s.managed_sed.status = 0x8; // a foreign SED is present
    auto add = [&](std::uint16_t n, std::uint32_t flags, std::string psid = {}, std::string owner = {}) {
        auto& d = s.add_drive(n);
        d.feature_flags = flags;
        d.psid = std::move(psid);
        d.sed_owner_key = std::move(owner);
    };
    add(0, kSed | kOfs | kOpal, "PSID0AAAAAAAAAAAAAAAAAAAAAAAAAAA");
    add(1, kSed | kOfs);
    add(2, kSed | kOwned | kOpal, "PSID2bbbbbbbbbbbbbbbbbbbbbbbbbbb");
    add(3, kSed | kOwned | kForeign | kLocked, "PSID3", "Foreign#Key1");
    add(4, kSed | kOwned | kForeign, "PSID4", "Foreign#Key2");
    add(5, 0);
    add(6, kSed | kOwned, "PSID6");
    add(130, kSed | kOfs);
    s.add_configured_drive(0, {6}, 1 << 20);
    for (std::uint16_t n : {3, 4}) {
        qvsim::FwManagedSed::ForeignKey f;
        f.drive = n;
        f.key_id[0] = std::uint8_t('A' + n);
        s.managed_sed.foreign_keys.push_back(f);
    }
    return s;
}

Command import(std::initializer_list<std::uint16_t> drives, const std::string& key,
               const std::string& reset = {}) {
    Bytes b = drive_map(drives, 194);
    put(b, 128, key);
    put(b, 160, reset);
    return bmic_write(0xE8, b, 10);
}

Command psid_revert(std::uint32_t drive, const std::string& psid) {
    Bytes b(36, 0);
    put32(b, 0, drive);
    put(b, 4, psid);
    return bmic_write(0xE8, b, 7);
}

} // namespace

TEST(SimManagedSed, OwnershipRevertAndImportChangeTheDrivesFeatureFlags) {
    FwController fw(sed_drives());
    // 8: OFS to owned, drives above 127 too.
    ASSERT_TRUE(good(fw.execute(bmic_write(0xE8, drive_map({0, 130}), 8))));
    EXPECT_EQ(feature_flags_of(fw, 0), kSed | kOwned | kOpal);
    EXPECT_EQ(feature_flags_of(fw, 130), kSed | kOwned);
    EXPECT_EQ(feature_flags_of(fw, 1), kSed | kOfs);
    // 6: owned back to OFS.
    ASSERT_TRUE(good(fw.execute(bmic_write(0xE8, drive_map({0, 2}), 6))));
    EXPECT_EQ(feature_flags_of(fw, 0), kSed | kOfs | kOpal);
    EXPECT_EQ(feature_flags_of(fw, 2), kSed | kOfs | kOpal);
    // 10: the foreign drive owned under the key given becomes owned, not foreign, unlocked; its
    // foreign key identifiers go (function 3 refuses it), and the other foreign drive stays.
    ASSERT_TRUE(good(fw.execute(bmic_read(0xE8, 64, 3, 3))));
    ASSERT_TRUE(good(fw.execute(import({3}, "Foreign#Key1", "Reset#Key9"))));
    EXPECT_EQ(feature_flags_of(fw, 3), kSed | kOwned);
    EXPECT_EQ(fw.execute(bmic_read(0xE8, 64, 3, 3)).scsi_status, 0x02);
    EXPECT_EQ(sed_status_of(fw) & 0x8u, 0x8u);
    ASSERT_TRUE(good(fw.execute(import({4}, "Foreign#Key2"))));
    EXPECT_EQ(feature_flags_of(fw, 4), kSed | kOwned);
    EXPECT_EQ(sed_status_of(fw) & 0x8u, 0u); // no foreign drive left
    // 7: a matching PSID takes the drive to OFS, whatever owns it, even with managed SED off.
    fw.fw_state().find_drive(4)->feature_flags |= kForeign | kLocked;
    fw.fw_state().identify.managed_sed_mode = 0;
    EXPECT_EQ(asc(fw.execute(psid_revert(4, "PSID5"))), 0x26);
    ASSERT_TRUE(good(fw.execute(psid_revert(4, "PSID4"))));
    EXPECT_EQ(feature_flags_of(fw, 4), kSed | kOfs);
    EXPECT_EQ(fw.fw_state().updates.writes.size(), 5u);
    EXPECT_EQ(fw.fw_state().updates.writes.back().opcode, 0xE8);
    EXPECT_EQ(fw.fw_state().updates.writes.back().detail, 7u);
}

TEST(SimManagedSed, DriveWritesRefuseAWholeMapWhenOneDriveDoesNotQualify) {
    const struct {
        const char* name;
        Command write;
        std::uint8_t asc;
    } refused[] = {
        {"take ownership of an owned drive", bmic_write(0xE8, drive_map({0, 2}), 8), 0x26},
        {"take ownership of a non-SED drive", bmic_write(0xE8, drive_map({1, 5}), 8), 0x26},
        {"take ownership of a drive not there", bmic_write(0xE8, drive_map({1, 1023}), 8), 0x26},
        {"take ownership of no drive", bmic_write(0xE8, drive_map({}), 8), 0x26},
        {"take ownership, 127 bytes", bmic_write(0xE8, drive_map({1}, 127), 8), 0x1A},
        {"revert a drive in OFS", bmic_write(0xE8, drive_map({2, 1}), 6), 0x26},
        {"revert a foreign drive", bmic_write(0xE8, drive_map({2, 3}), 6), 0x26},
        {"revert a data drive", bmic_write(0xE8, drive_map({6}), 6), 0x26},
        {"import under another key", import({3, 4}, "Foreign#Key1"), 0x26},
        {"import without a key", import({3}, ""), 0x26},
        {"import a drive that is not foreign", import({3, 2}, "Foreign#Key1"), 0x26},
        {"import, 193 bytes", bmic_write(0xE8, Bytes(193, 0x08), 10), 0x1A},
        {"PSID revert with the wrong PSID", psid_revert(2, "PSID2bbbbbbbbbbbbbbbbbbbbbbbbbbX"), 0x26},
        {"PSID revert of a drive without a PSID", psid_revert(1, ""), 0x26},
        {"PSID revert of a non-SED drive", psid_revert(5, ""), 0x26},
        {"PSID revert of a data drive", psid_revert(6, "PSID6"), 0x26},
        {"PSID revert of a drive not there", psid_revert(0x10007, "PSID6"), 0x24},
        {"PSID revert, 35 bytes", bmic_write(0xE8, Bytes(35, 0x41), 7), 0x1A},
    };
    FwController fw(sed_drives());
    const std::string before = fw.fw_state().to_json().dump();
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(asc(fw.execute(c.write)), c.asc);
        EXPECT_EQ(fw.fw_state().to_json().dump(), before);
    }
    // Without managed SED, only the PSID revert is taken.
    fw.fw_state().identify.managed_sed_mode = 0;
    EXPECT_EQ(asc(fw.execute(bmic_write(0xE8, drive_map({1}), 8))), 0x2C);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xE8, drive_map({2}), 6))), 0x2C);
    EXPECT_EQ(asc(fw.execute(import({3}, "Foreign#Key1"))), 0x2C);
    EXPECT_TRUE(fw.fw_state().updates.writes.empty());
}

TEST(SimManagedSed, DriveWriteFaultsByFunctionAndTheJsonForm) {
    FirmwareState st = sed_drives();
    qvsim::FwFault take;
    take.bmic = 0xE8;
    take.function = 8;
    take.err = EIO;
    qvsim::FwFault psid;
    psid.bmic = 0xE8;
    psid.function = 7;
    psid.sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    st.faults = {take, psid};
    FwController fw(st);
    EXPECT_EQ(fw.execute(bmic_write(0xE8, drive_map({1}), 8)).err, EIO);
    EXPECT_EQ(fw.execute(psid_revert(2, "PSID2bbbbbbbbbbbbbbbbbbbbbbbbbbb")).scsi_status, 0x02);
    EXPECT_EQ(feature_flags_of(fw, 1), kSed | kOfs);
    EXPECT_EQ(feature_flags_of(fw, 2), kSed | kOwned | kOpal);
    ASSERT_TRUE(good(fw.execute(bmic_write(0xE8, drive_map({1}), 8)))); // each fault hit once
    EXPECT_EQ(feature_flags_of(fw, 1), kSed | kOwned);

    const auto j = nlohmann::json::parse(R"({"drives": [{"number": 3, "feature_flags": "0x1801",
        "psid": "PSID-From-Json", "sed_owner_key": "Foreign#Json"}]})");
    const FirmwareState s = FirmwareState::from_json(j);
    ASSERT_NE(s.find_drive(3), nullptr);
    EXPECT_EQ(s.find_drive(3)->psid, "PSID-From-Json");
    EXPECT_EQ(s.find_drive(3)->sed_owner_key, "Foreign#Json");
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());
}

TEST(SimManagedSed, NewLogicalDriveWithTheSedFlagReadsSedEnabled) {
    FirmwareState st = sed_drives();
    FwController fw(st);
    // A RAID 1 on drives 0 and 1 (LOGICAL_DRIVE_CONFIG, 652 bytes, 128-bit member map at 98).
    auto create = [&](std::uint16_t ld, std::uint8_t configuration_flags) {
        Bytes b(652, 0);
        put16(b, 10, 2);
        put16(b, 12, 2);
        put32(b, 16, 1 << 20);
        put16(b, 24, 512);
        put16(b, 50, 128);
        b[57] = configuration_flags;
        put32(b, 74, 1 << 20);
        b[98] = 0x03;
        return fw.execute(bmic_write(0x51, b, 0, ld));
    };
    ASSERT_TRUE(good(create(1, 0x10)));
    ASSERT_TRUE(good(create(2, 0x00)));
    EXPECT_EQ(ld_flags(fw, 1).sed, 0x01);
    EXPECT_EQ(ld_flags(fw, 2).sed, 0x00);
}
