// Self-tests of the simulated controller's diagnostics: test runs and their results, revision,
// message counters, MRAM fill and verify, controller log reads, pause/resume, cache-module
// recovery, faults, and the scenario's extra.diag form.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvsim/fw_diag.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::DiagState;
using qvsim::Direction;
using qvsim::FwController;
using qvsim::Reply;

// A diagnostic CDB as the tool's table writes it: 26/27 00 00 00 00 00 42 00 <sub> <control> 0...
Bytes diag_cdb(bool write, std::uint8_t sub, std::uint8_t control) {
    Bytes c(16, 0);
    c[0] = write ? 0x27 : 0x26;
    c[6] = 0x42;
    c[8] = sub;
    c[9] = control;
    return c;
}

Command command(Bytes cdb, Direction d, Bytes out = {}, std::size_t in = 0) {
    Command c;
    c.transport = "test";
    c.cdb = std::move(cdb);
    c.direction = d;
    c.data_out = std::move(out);
    c.data_in_length = in;
    return c;
}

Bytes payload(std::uint8_t test, std::uint16_t subtest, std::uint32_t iteration = 1) {
    return {test,
            0,
            std::uint8_t(subtest),
            std::uint8_t(subtest >> 8),
            std::uint8_t(iteration),
            std::uint8_t(iteration >> 8),
            std::uint8_t(iteration >> 16),
            std::uint8_t(iteration >> 24)};
}

Command run_test(std::uint8_t test, std::uint16_t subtest) {
    return command(diag_cdb(true, 0xD1, 0x01), Direction::kOut, payload(test, subtest));
}

Command read_result() {
    return command(diag_cdb(false, 0xD3, 0x01), Direction::kIn, {}, 16);
}

// The MRAM CDB: offset in bytes 2-5, length in 10-13, test status 14, test kind 15.
Command mram(bool write, std::uint8_t status, std::uint8_t kind, Direction d, Bytes out = {},
             std::uint32_t length = 1024, std::uint32_t offset = 0) {
    Bytes c = diag_cdb(write, 0x84, 0x00);
    for (int i = 0; i < 4; ++i) {
        c[2 + i] = std::uint8_t(offset >> (24 - 8 * i));
        c[10 + i] = std::uint8_t(length >> (24 - 8 * i));
    }
    c[14] = status;
    c[15] = kind;
    return command(std::move(c), d, std::move(out), d == Direction::kIn ? length : 0);
}

Command log_read(std::uint8_t type, std::uint8_t action, std::uint32_t offset, std::uint16_t length) {
    BmicCdb b;
    b.opcode = 0x77;
    b.lun_low = type;
    b.lun_high = action;
    b.detail = offset;
    b.length = length;
    return command(b.to_cdb(), Direction::kIn, {}, length);
}

Command bmic_write(std::uint8_t opcode, std::uint32_t detail = 0) {
    BmicCdb b;
    b.write = true;
    b.opcode = opcode;
    b.detail = detail;
    return command(b.to_cdb(), Direction::kNone);
}

Bytes pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = i % 2 == 0 ? 0x55 : 0xAA;
    return b;
}

std::uint32_t le32(const Bytes& b, std::size_t at = 0) {
    return static_cast<std::uint32_t>(selftest::le(b, at, 4));
}

void expect_sense(const Reply& r, std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    EXPECT_EQ(r.scsi_status, 0x02);
    ASSERT_GE(r.sense.size(), 14u);
    EXPECT_EQ(r.sense[2], key);
    EXPECT_EQ(r.sense[12], asc);
    EXPECT_EQ(r.sense[13], ascq);
}

// The diag JSON is refused with an error that says `message`.
void expect_rejected(const char* json, const char* message) {
    SCOPED_TRACE(json);
    try {
        (void)DiagState::from_json(nlohmann::json::parse(json));
        ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
}

TEST(SimDiag, ScriptedResultsComeBackThroughTheResultRead) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    s.script(
        0x02, 0x0020,
        {{.code = 0x00}, {.code = 0x42}, {.code = 0x01, .subtest = 0xFFFF, .params = {1, 2, 0x30405060}}});

    // Nothing has run yet: the result says invalid test id.
    EXPECT_EQ(fw.execute(read_result()).data_in, (Bytes{0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const struct {
        std::uint8_t test;
        std::uint16_t subtest;
        Bytes result;
    } runs[] = {
        {0x02, 0x0020, {0x02, 0x00, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {0x02, 0x0040, {0x02, 0x00, 0x40, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, // no script: pass
        {0x02, 0x0020, {0x02, 0x42, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {0x02, 0x0020, {0x02, 0x01, 0xFF, 0xFF, 1, 0, 0, 0, 2, 0, 0, 0, 0x60, 0x50, 0x40, 0x30}},
        {0x02, 0x0020, {0x02, 0x00, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, // script used up
        {0x05, 0x0001, {0x05, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, // LED test
        {0x02, 0x0002, {0x02, 0xFF, 0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, // unknown sub-test
        {0x07, 0x0001, {0x07, 0xFF, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, // unknown test
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(testing::Message() << int(run.test) << "/" << run.subtest);
        const Reply sent = fw.execute(run_test(run.test, run.subtest));
        EXPECT_EQ(sent.scsi_status, 0);
        EXPECT_TRUE(sent.data_in.empty());
        EXPECT_EQ(fw.execute(read_result()).data_in, run.result);
        EXPECT_EQ(fw.execute(read_result()).data_in, run.result); // reading again changes nothing
    }
    EXPECT_EQ(s.activity.runs.size(), std::size(runs));
}

TEST(SimDiag, MalformedDiagnosticCommandsAreRefused) {
    FwController fw;
    Command wrong_control = run_test(0x02, 0x20);
    wrong_control.cdb[9] = 0x00;
    Command detail_set = read_result();
    detail_set.cdb[5] = 0x01;
    Command short_payload = run_test(0x02, 0x20);
    short_payload.data_out.resize(6);
    Command zero_iterations = command(diag_cdb(true, 0xD1, 0x01), Direction::kOut, payload(0x02, 0x20, 0));
    Command unknown_sub = command(diag_cdb(false, 0xD5, 0x01), Direction::kIn, {}, 16);
    Command revision_with_control = command(diag_cdb(false, 0xD7, 0x01), Direction::kIn, {}, 4);
    const struct {
        const char* what;
        Command cmd;
        std::uint8_t asc;
    } cases[] = {
        {"control byte", wrong_control, 0x24},      {"detail", detail_set, 0x24},
        {"short payload", short_payload, 0x1A},     {"no iteration", zero_iterations, 0x26},
        {"unknown sub-command", unknown_sub, 0x24}, {"revision control byte", revision_with_control, 0x24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expect_sense(fw.execute(c.cmd), 0x05, c.asc, 0x00);
    }
    EXPECT_TRUE(qvsim::diag_state(fw).activity.runs.empty());
}

TEST(SimDiag, RevisionAndMessageCountersAreTheirBytes) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    s.revision = {0x05, 0x59, 0x01, 0x00};
    s.message_counters = {.alerts = 1, .errors = 0, .warnings = 7};
    EXPECT_EQ(fw.execute(command(diag_cdb(false, 0xD7, 0x00), Direction::kIn, {}, 4)).data_in,
              (Bytes{0x05, 0x59, 0x01, 0x00}));
    EXPECT_EQ(fw.execute(command(diag_cdb(false, 0xEB, 0x00), Direction::kIn, {}, 3)).data_in,
              (Bytes{1, 0, 7}));
}

TEST(SimDiag, MramKeepsTheFillForTheVerify) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    // The tool's own sequence: fill, write completed; verify, read completed with the bytes read.
    EXPECT_EQ(fw.execute(mram(true, 0x01, 0x01, Direction::kOut, pattern(1024))).scsi_status, 0);
    EXPECT_EQ(fw.execute(mram(true, 0x03, 0x01, Direction::kOut, pattern(1024))).scsi_status, 0);
    const Reply verify = fw.execute(mram(false, 0x01, 0x02, Direction::kIn));
    EXPECT_EQ(verify.scsi_status, 0);
    EXPECT_EQ(verify.data_in, pattern(1024));
    EXPECT_EQ(fw.execute(mram(false, 0x04, 0x02, Direction::kOut, verify.data_in)).scsi_status, 0);
    EXPECT_EQ(s.activity.mram_write_statuses, (std::vector<std::uint8_t>{1, 3}));
    EXPECT_EQ(s.activity.mram_read_statuses, (std::vector<std::uint8_t>{1, 4}));

    // Another fill and the controller's own check fails, the data still sent.
    Bytes other = pattern(1024);
    other[1001] = 0x00;
    EXPECT_EQ(fw.execute(mram(true, 0x01, 0x01, Direction::kOut, other)).scsi_status, 0);
    const Reply bad = fw.execute(mram(false, 0x01, 0x02, Direction::kIn));
    expect_sense(bad, 0x0E, 0x1D, 0x00);
    EXPECT_EQ(bad.data_in, other);
    EXPECT_EQ(s.activity.mram_miscompares, 1u);

    // A fresh controller holds what the scenario says.
    FwController fresh;
    qvsim::diag_state(fresh).mram.fill = {0x55, 0xAA};
    EXPECT_EQ(fresh.execute(mram(false, 0x01, 0x02, Direction::kIn)).scsi_status, 0);
    FwController swapped;
    qvsim::diag_state(swapped).mram.fill = {0xAA, 0x55};
    expect_sense(swapped.execute(mram(false, 0x01, 0x02, Direction::kIn)), 0x0E, 0x1D, 0x00);

    // Wrong kind, past the end, short data.
    expect_sense(fw.execute(mram(true, 0x01, 0x02, Direction::kOut, pattern(1024))), 0x05, 0x24, 0x00);
    expect_sense(fw.execute(mram(false, 0x01, 0x02, Direction::kIn, {}, 1024, 32768 - 512)), 0x05, 0x24,
                 0x00);
    expect_sense(fw.execute(mram(true, 0x01, 0x01, Direction::kOut, pattern(100))), 0x05, 0x1A, 0x00);
}

TEST(SimDiag, LogsAreReadBySizeThenPieces) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    s.serial_output.data.resize(40000);
    for (std::size_t i = 0; i < s.serial_output.data.size(); ++i)
        s.serial_output.data[i] = std::uint8_t('a' + i % 26);

    const Reply size = fw.execute(log_read(2, 0, 0, 4));
    EXPECT_EQ(size.data_in, (Bytes{0x40, 0x9C, 0x00, 0x00})); // 40000, host byte order
    Bytes whole;
    for (std::uint32_t off = 0; off < 40000; off += 16384) {
        const Reply piece =
            fw.execute(log_read(2, 1, off, std::uint16_t(std::min<std::uint32_t>(16384, 40000 - off))));
        EXPECT_EQ(piece.scsi_status, 0);
        whole.insert(whole.end(), piece.data_in.begin(), piece.data_in.end());
    }
    EXPECT_EQ(whole, s.serial_output.data);

    // The log shrinks after the size read: short from the middle on, refused past its end.
    s.serial_output.data.resize(30000);
    s.serial_output.reported_sizes = {40000};
    EXPECT_EQ(le32(fw.execute(log_read(2, 0, 0, 4)).data_in), 40000u);
    EXPECT_EQ(fw.execute(log_read(2, 1, 16384, 16384)).data_in.size(), 30000u - 16384);
    expect_sense(fw.execute(log_read(2, 1, 32768, 7232)), 0x05, 0x24, 0x00);
    EXPECT_EQ(le32(fw.execute(log_read(2, 0, 0, 4)).data_in), 30000u); // the sequence is used up

    // No crash dump: size 0. Types 3 and 6 and action 2 do not exist.
    EXPECT_EQ(le32(fw.execute(log_read(1, 0, 0, 4)).data_in), 0u);
    expect_sense(fw.execute(log_read(3, 0, 0, 4)), 0x05, 0x24, 0x00);
    expect_sense(fw.execute(log_read(6, 0, 0, 4)), 0x05, 0x24, 0x00);
    expect_sense(fw.execute(log_read(2, 2, 0, 4)), 0x05, 0x24, 0x00);
}

TEST(SimDiag, EventRecordsAreLaidOutFieldByField) {
    qvsim::DiagEvent e;
    e.time = 0x11223344;
    e.class_code = 0x0506;
    e.subclass_code = 0x0708;
    e.detail_code = 0x090A;
    e.specific_data = {0xAB, 0xCD};
    e.message = "Cache enabled";
    e.tag = 0x01020304;
    e.day = 31;
    e.month = 12;
    e.year = 2024;
    e.seconds = 86399;
    const Bytes r = qvsim::diag_event_record(e);
    ASSERT_EQ(r.size(), 188u);
    EXPECT_EQ(selftest::le(r, 0, 4), 0x11223344u);
    EXPECT_EQ(r[4] | r[5] << 8, 0x0506);
    EXPECT_EQ(r[6] | r[7] << 8, 0x0708);
    EXPECT_EQ(r[8] | r[9] << 8, 0x090A);
    EXPECT_EQ(r[10], 0xAB);
    EXPECT_EQ(r[11], 0xCD);
    EXPECT_EQ(std::string(r.begin() + 74, r.begin() + 87), "Cache enabled");
    EXPECT_EQ(r[87], 0);
    EXPECT_EQ(selftest::le(r, 154, 4), 0x01020304u);
    EXPECT_EQ(r[158], 31);
    EXPECT_EQ(r[159], 12);
    EXPECT_EQ(r[160] | r[161] << 8, 2024);
    EXPECT_EQ(selftest::le(r, 162, 4), 86399u);
    EXPECT_EQ(Bytes(r.begin() + 166, r.end()), Bytes(22, 0));
}

TEST(SimDiag, FaultsHitTheChosenCommandOnly) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    s.script(0x02, 0x0040, {{.code = 0x35}});
    qvsim::DiagFault lost_send{.command = "test", .test = 0x02, .subtest = 0x0040, .err = EIO};
    qvsim::DiagFault checked_status{
        .command = "status", .nth = 2, .sense = qvsim::fixed_sense(0x04, 0x44, 0x00)};
    qvsim::DiagFault busy_size{.command = "log", .log = 2, .action = 0, .scsi_status = 0x08};
    s.faults = {lost_send, checked_status, busy_size};
    qvsim::FwFault paused_fails;
    paused_fails.bmic = 0x98;
    paused_fails.err = ENODEV;
    qvsim::firmware_state(fw).faults.push_back(paused_fails);

    EXPECT_EQ(fw.execute(run_test(0x02, 0x0020)).err, 0);
    EXPECT_EQ(fw.execute(read_result()).scsi_status, 0);
    EXPECT_EQ(fw.execute(run_test(0x02, 0x0040)).err, EIO); // never reached the controller
    const Reply stale = fw.execute(read_result());          // the second status read
    expect_sense(stale, 0x04, 0x44, 0x00);
    EXPECT_TRUE(stale.data_in.empty());
    EXPECT_EQ(fw.execute(run_test(0x02, 0x0040)).err, 0);
    EXPECT_EQ(fw.execute(read_result()).data_in.at(1), 0x35); // the script waited for a real run

    const Reply busy = fw.execute(log_read(2, 0, 0, 4));
    EXPECT_EQ(busy.scsi_status, 0x08);
    EXPECT_TRUE(busy.sense.empty());
    EXPECT_EQ(fw.execute(log_read(2, 1, 0, 16)).scsi_status, 0); // the data read is not hit
    EXPECT_EQ(fw.execute(bmic_write(0x98, 1)).err, ENODEV);
    EXPECT_FALSE(s.activity.paused);
}

TEST(SimDiag, PauseResumeAndCacheModuleRecovery) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);
    EXPECT_EQ(fw.execute(bmic_write(0x98, 1)).scsi_status, 0);
    EXPECT_TRUE(s.activity.paused);
    EXPECT_TRUE(s.activity.hot_plug_paused);
    EXPECT_EQ(fw.execute(bmic_write(0x99)).scsi_status, 0);
    EXPECT_FALSE(s.activity.paused);
    EXPECT_EQ(fw.execute(bmic_write(0x98, 0)).scsi_status, 0);
    EXPECT_FALSE(s.activity.hot_plug_paused);
    EXPECT_EQ(s.activity.pauses, 2u);
    EXPECT_EQ(s.activity.resumes, 1u);
    expect_sense(fw.execute(bmic_write(0x98, 2)), 0x05, 0x24, 0x00);
    expect_sense(fw.execute(bmic_write(0x99, 1)), 0x05, 0x24, 0x00);

    // Recovery only while the cache configuration offers it.
    expect_sense(fw.execute(bmic_write(0xC3)), 0x05, 0x2C, 0x00);
    fw.fw_state().cache.support_flags |= 0x20;
    EXPECT_EQ(fw.execute(bmic_write(0xC3)).scsi_status, 0);
    EXPECT_EQ(s.activity.cache_module_recoveries, 1u);
}

TEST(SimDiag, JsonNamesFieldsReadablyAndRejectsUnknownKeys) {
    const auto j = nlohmann::json::parse(R"({
        "tests": [{"test": "cache", "subtest": "walking_ones", "results": [0, "0x42", {"code": 1, "subtest": "0xFFFF"}]},
                  {"test": 12, "subtest": "0x10", "results": [{"code": 135, "params": [1, 2, 3]}]}],
        "default_code": 0,
        "revision": "05 59 01 00",
        "message_counters": {"alerts": 1, "warnings": "0x02"},
        "mram": {"size": 4096, "fill": "55 AA", "patches": [{"offset": 7, "bytes": "00"}]},
        "logs": {"serial_output": "x ERROR: a\n", "crash_dump": {"hex": "DEADBEEF", "fill_to": 10},
                 "event_log": {"events": [{"class": 5, "message": "Power on"}], "trailing_bytes": 24,
                               "reported_sizes": [400, 212]}},
        "faults": [{"command": "test", "test": "sas_pattern", "subtest": "jtpat", "nth": 2, "errno": 5},
                   {"command": "log", "log": "serial_output", "action": "data", "sense": "70 00 05"}]
    })");
    const DiagState s = DiagState::from_json(j);
    ASSERT_EQ(s.tests.size(), 2u);
    EXPECT_EQ(s.tests[0].test, 0x02);
    EXPECT_EQ(s.tests[0].subtest, 0x0080);
    EXPECT_EQ(s.tests[0].results.at(1).code, 0x42);
    EXPECT_EQ(s.tests[0].results.at(2).subtest, 0xFFFF);
    EXPECT_EQ(s.tests[1].results.at(0).params[2], 3u);
    EXPECT_EQ(s.revision, (std::array<std::uint8_t, 4>{5, 0x59, 1, 0}));
    EXPECT_EQ(s.message_counters.warnings, 2);
    const Bytes m = s.mram.contents();
    EXPECT_EQ(m.size(), 4096u);
    EXPECT_EQ(m[6], 0x55);
    EXPECT_EQ(m[7], 0x00);
    EXPECT_EQ(m[8], 0x55);
    EXPECT_EQ(s.serial_output.data, Bytes({'x', ' ', 'E', 'R', 'R', 'O', 'R', ':', ' ', 'a', '\n'}));
    EXPECT_EQ(s.crash_dump.data, (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD}));
    EXPECT_EQ(s.event_log.data.size(), 188u + 24);
    EXPECT_EQ(s.event_log.reported_sizes, (std::vector<std::uint32_t>{400, 212}));
    EXPECT_FALSE(s.debug_token.data.empty()); // not named: the default stays
    EXPECT_EQ(s.faults.at(0).test, 0x0C);
    EXPECT_EQ(s.faults.at(0).subtest, 0x0001);
    EXPECT_EQ(s.faults.at(1).action, 1);

    // The written form reads back to the same state.
    EXPECT_EQ(DiagState::from_json(s.to_json()).to_json(), s.to_json());
    EXPECT_EQ(DiagState::from_json(DiagState{}.to_json()).to_json(), DiagState{}.to_json());

    const struct {
        const char* json;
        const char* message;
    } bad[] = {
        {R"({"revisions": "00"})", "diag: unknown key \"revisions\""},
        {R"({"revision": "01 02 03"})", "diag.revision: expected 4 bytes"},
        {R"({"tests": [{"test": "cache", "subtest": "lfsr"}]})", "diag.tests[0].subtest: not a number"},
        {R"({"tests": [{"test": "cache"}]})", "needs \"test\" and \"subtest\""},
        {R"({"tests": [{"test": "cache", "subtest": 1, "results": [256]}]})", "value 256 too large"},
        {R"({"message_counters": {"alerts": -1}})", "negative number"},
        {R"({"mram": {"size": 16, "patches": [{"offset": 15, "bytes": "00 00"}]}})", "past the end"},
        {R"({"logs": {"console": "x"}})", "diag.logs: unknown key \"console\""},
        {R"({"logs": {"crash_dump": {"text": "a", "hex": "00"}}})", "at most one of"},
        {R"({"logs": {"event_log": {"events": [{"message": "x", "when": 1}]}}})", "unknown key \"when\""},
        {R"({"faults": [{"command": "status", "nth": 1}]})", "needs an effect"},
        {R"({"faults": [{"command": "reset", "errno": 5}]})", "unknown command \"reset\""},
        {R"({"faults": [{"command": "log", "test": "cache", "errno": 5}]})", "narrow test and status only"},
        {R"({"faults": [{"command": "log", "log": 3, "errno": 5}]})", "unknown log type"},
        {R"({"faults": [{"command": "test", "nth": 0, "errno": 5}]})", "counts from 1"},
    };
    for (const auto& b : bad)
        expect_rejected(b.json, b.message);
}

// The three verification CDBs as the tool's table writes them; the CPLD one stays 26 with data out.
Command pcie_read(std::size_t room = 36) {
    Command c = command(diag_cdb(false, 0xD8, 0x01), Direction::kIn, {}, room);
    c.timeout_sec = 1;
    return c;
}
Command host_mfg_read(std::size_t room = 255) {
    Command c = command(diag_cdb(false, 0xD4, 0x02), Direction::kIn, {}, room);
    c.timeout_sec = 1;
    return c;
}
Command cpld_write(std::size_t bytes = 8) {
    Command c = command(diag_cdb(false, 0xD9, 0x01), Direction::kOut, Bytes(bytes, 0));
    c.timeout_sec = 1;
    return c;
}

TEST(SimDiag, VerificationReadsAnswerFromTheStateAndAreKept) {
    FwController fw;
    DiagState& s = qvsim::diag_state(fw);

    // The default board: capability id 0x10, an 8 GT/s x8 link, no link errors; a signed record.
    const Reply pcie = fw.execute(pcie_read());
    ASSERT_EQ(pcie.data_in.size(), 36u);
    EXPECT_EQ(pcie.data_in[0], 0x10);
    EXPECT_EQ(selftest::le(pcie.data_in, 10, 2), 0x0000u);
    EXPECT_EQ(selftest::le(pcie.data_in, 18, 2), 0x0083u);
    const Reply mfg = fw.execute(host_mfg_read());
    ASSERT_EQ(mfg.data_in.size(), 255u);
    EXPECT_EQ(selftest::text(mfg.data_in, 0, 2), "ZQ");
    EXPECT_EQ(fw.execute(cpld_write()).scsi_status, 0);
    EXPECT_EQ(s.activity.cpld_programs, 1u);

    s.set_pcie_status(0x0010, 0x0044);
    s.host_mfg = DiagState::host_mfg_record("XX");
    const Reply changed = fw.execute(pcie_read());
    EXPECT_EQ(selftest::le(changed.data_in, 10, 2), 0x0010u);
    EXPECT_EQ(selftest::le(changed.data_in, 18, 2), 0x0044u);
    EXPECT_EQ(selftest::text(fw.execute(host_mfg_read()).data_in, 0, 2), "XX");

    // Every one is kept with its CDB, direction, length and time limit, in order.
    ASSERT_EQ(s.activity.requests.size(), 5u);
    const auto& cpld = s.activity.requests[2];
    EXPECT_EQ(cpld.subcommand, 0xD9);
    EXPECT_EQ(cpld.cdb, cpld_write().cdb);
    EXPECT_EQ(cpld.direction, Direction::kOut);
    EXPECT_EQ(cpld.length, 8u);
    EXPECT_EQ(cpld.timeout_sec, 1u);
    EXPECT_EQ(cpld.data_out, Bytes(8, 0));
    EXPECT_EQ(s.activity.requests[0].subcommand, 0xD8);
    EXPECT_EQ(s.activity.requests[0].direction, Direction::kIn);
    EXPECT_EQ(s.activity.requests[0].length, 36u);
    EXPECT_EQ(s.activity.requests[4].cdb, host_mfg_read().cdb);
    EXPECT_EQ(s.activity.requests[4].length, 255u);

    // Control bytes are the table's own (D4 02, D8 and D9 01); the CPLD wants its 8 bytes.
    Command pcie_control = pcie_read();
    pcie_control.cdb[9] = 0x02;
    Command mfg_control = host_mfg_read();
    mfg_control.cdb[9] = 0x01;
    Command cpld_detail = cpld_write();
    cpld_detail.cdb[12] = 0x01;
    const struct {
        const char* what;
        Command cmd;
        std::uint8_t asc;
    } refused[] = {{"D8 control byte", pcie_control, 0x24},
                   {"D4 control byte", mfg_control, 0x24},
                   {"D9 reserved byte", cpld_detail, 0x24},
                   {"D9 short data", cpld_write(7), 0x1A}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.what);
        const Reply r = fw.execute(c.cmd);
        expect_sense(r, 0x05, c.asc, 0x00);
        EXPECT_TRUE(r.data_in.empty());
    }
    EXPECT_EQ(s.activity.cpld_programs, 1u);
}

// Each verification command can be lost, refused with CHECK CONDITION and no data, or answered short.
TEST(SimDiag, VerificationCommandFaults) {
    const struct {
        const char* command;
        Command cmd;
    } commands[] = {{"pcie", pcie_read()}, {"host_mfg", host_mfg_read()}, {"cpld", cpld_write()}};
    for (const auto& c : commands) {
        SCOPED_TRACE(c.command);
        FwController fw;
        DiagState& s = qvsim::diag_state(fw);
        s.faults = {{.command = c.command, .nth = 1, .err = EIO},
                    {.command = c.command, .nth = 2, .sense = qvsim::fixed_sense(0x04, 0x44, 0x00)},
                    {.command = c.command, .nth = 3, .data_length = 4}};
        EXPECT_EQ(fw.execute(c.cmd).err, EIO);
        const Reply checked = fw.execute(c.cmd);
        expect_sense(checked, 0x04, 0x44, 0x00);
        EXPECT_TRUE(checked.data_in.empty());
        const Reply short_reply = fw.execute(c.cmd);
        EXPECT_EQ(short_reply.scsi_status, 0);
        if (c.cmd.direction == Direction::kIn) {
            EXPECT_EQ(short_reply.data_in.size(), 4u);
        } else {
            EXPECT_EQ(short_reply.reported_data_length, std::optional<std::size_t>(4));
        }
        const Reply clean = fw.execute(c.cmd);
        EXPECT_EQ(clean.scsi_status, 0);
        EXPECT_FALSE(clean.reported_data_length);
        // Only the CPLD command that ran clean or short was carried out.
        EXPECT_EQ(s.activity.cpld_programs, c.cmd.direction == Direction::kOut ? 2u : 0u);
    }
}

TEST(SimDiag, JsonSetsTheVerificationData) {
    const DiagState s = DiagState::from_json(nlohmann::json::parse(R"({
        "pcie": {"registers": "10 00 02 00 00 00 00 00 00 00 00 00 83 00 00 00 00 00 83 00 10 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00",
                 "device_status": "0x000F", "link_status": 129},
        "host_mfg": {"hex": "00 00 41 42", "signature": "XX"},
        "cpld": {"write_length": 16},
        "faults": [{"command": "cpld", "errno": 19}]})"));
    EXPECT_EQ(selftest::le(Bytes(s.pcie_registers.begin(), s.pcie_registers.end()), 10, 2), 0x000Fu);
    EXPECT_EQ(selftest::le(Bytes(s.pcie_registers.begin(), s.pcie_registers.end()), 18, 2), 129u);
    EXPECT_EQ(s.pcie_registers[20], 0x10); // the memory controller's part as given
    ASSERT_EQ(s.host_mfg.size(), 255u);
    EXPECT_EQ(selftest::text(s.host_mfg, 0, 4), "XXAB");
    EXPECT_EQ(s.host_mfg[254], 0);
    EXPECT_EQ(s.cpld_write_length, 16u);
    ASSERT_EQ(s.faults.size(), 1u);
    EXPECT_EQ(s.faults[0].err, ENODEV);

    const DiagState again = DiagState::from_json(s.to_json());
    EXPECT_EQ(again.pcie_registers, s.pcie_registers);
    EXPECT_EQ(again.host_mfg, s.host_mfg);
    EXPECT_EQ(again.cpld_write_length, 16u);

    const struct {
        const char* json;
        const char* message;
    } bad[] = {
        {R"({"pcie": {"registers": "10 00"}})", "diag.pcie.registers: expected 36 bytes"},
        {R"({"pcie": {"link_status": 65536}})", "value 65536 too large"},
        {R"({"pcie": {"speed": 3}})", "unknown key \"speed\""},
        {R"({"host_mfg": {"signature": 5}})", "diag.host_mfg.signature: expected text"},
        {R"({"cpld": {"length": 8}})", "unknown key \"length\""},
    };
    for (const auto& b : bad)
        expect_rejected(b.json, b.message);
}

class SimDiagHost : public qvsim::SimHostTest {
protected:
    // One CISS pass-through on /dev/sg1; returns the ioctl's result and leaves errno.
    int send(const Command& c, Bytes& buf, IOCTL_Command_struct& io) {
        io = {};
        io.Request.CDBLen = 16;
        io.Request.Type.Type = TYPE_CMD;
        io.Request.Type.Attribute = ATTR_SIMPLE;
        io.Request.Type.Direction = c.direction == Direction::kIn ? XFER_READ : XFER_WRITE;
        io.Request.Timeout = static_cast<WORD>(c.timeout_sec);
        std::memcpy(io.Request.CDB, c.cdb.data(), 16);
        if (c.direction == Direction::kOut)
            buf = c.data_out;
        io.buf_size = static_cast<WORD>(buf.size());
        io.buf = buf.data();
        const int fd = ::open("/dev/sg1", O_RDWR);
        if (fd < 0)
            return -1;
        const int rc = ::ioctl(fd, CCISS_PASSTHRU, &io);
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return rc;
    }

    static nlohmann::json scenario(const char* diag) {
        auto j = nlohmann::json::parse(R"({"controllers": [
            {"driver": "qzvk", "protocol": "ciss", "pci_address": "0000:3b:00.0", "hosts": [2],
             "scsi": [{"sg": "sg1", "minor": 1, "type": "12"}], "fw": {}}]})");
        j["controllers"][0]["extra"]["diag"] = nlohmann::json::parse(diag);
        return j;
    }
};

// The whole road: extra.diag in the scenario JSON, the CISS pass-through, a test run, its result.
TEST_F(SimDiagHost, PassThroughRunsTheScenarioScript) {
    const auto s = qvsim::Scenario::from_json(scenario(R"({
        "tests": [{"test": "memory", "subtest": "moving_inversion_long", "results": ["0x09"]}],
        "faults": [{"command": "test", "nth": 2, "errno": 5}]})"));
    ASSERT_NO_THROW(qvsim::validate_diag(s));
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    IOCTL_Command_struct io;
    Bytes buf;
    ASSERT_EQ(send(run_test(0x01, 0x0001), buf, io), 0);
    EXPECT_EQ(io.error_info.ScsiStatus, 0);
    buf.assign(16, 0xCC);
    ASSERT_EQ(send(read_result(), buf, io), 0);
    EXPECT_EQ(buf, (Bytes{0x01, 0x09, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    errno = 0;
    EXPECT_EQ(send(run_test(0x01, 0x0001), buf, io), -1);
    EXPECT_EQ(errno, EIO);

    auto& fw = dynamic_cast<FwController&>(host().device("/dev/sg1")->firmware());
    EXPECT_EQ(qvsim::diag_state(fw).activity.runs.size(), 1u);
}

// A broken extra.diag is found up front, and otherwise fails every command of the area.
TEST_F(SimDiagHost, BrokenDiagStateFailsItsCommands) {
    const auto s = qvsim::Scenario::from_json(scenario(R"({"revision": "01"})"));
    EXPECT_THROW(qvsim::validate_diag(s), std::runtime_error);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    IOCTL_Command_struct io;
    Bytes buf(4, 0);
    errno = 0;
    EXPECT_EQ(send(command(diag_cdb(false, 0xD7, 0x00), Direction::kIn, {}, 4), buf, io), -1);
    EXPECT_EQ(errno, EINVAL);
    buf.assign(1024, 0);
    ASSERT_EQ(
        send(command(BmicCdb{.opcode = 0x11, .length = 1024}.to_cdb(), Direction::kIn, {}, 1024), buf, io),
        0);
    EXPECT_EQ(io.error_info.ScsiStatus, 0); // the rest of the controller answers
}

// Through the driver: the scenario's registers land in the caller's buffer, the log keeps the CDB,
// direction, length and time limit, and a refused read leaves the buffer zeroed.
TEST_F(SimDiagHost, VerificationReadsThroughThePassThrough) {
    const auto s = qvsim::Scenario::from_json(scenario(R"({
        "pcie": {"device_status": "0x0010", "link_status": "0x0083"},
        "host_mfg": {"signature": "XX"},
        "faults": [{"command": "pcie", "nth": 2, "sense": "70 00 05 00 00 00 00 0A 00 00 00 00 24 00"},
                   {"command": "cpld", "errno": 5}]})"));
    ASSERT_NO_THROW(qvsim::validate_diag(s));
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    IOCTL_Command_struct io;
    Bytes buf(36, 0xCC);
    ASSERT_EQ(send(pcie_read(), buf, io), 0);
    EXPECT_EQ(io.error_info.ScsiStatus, 0);
    EXPECT_EQ(selftest::le(buf, 10, 2), 0x0010u);
    EXPECT_EQ(selftest::le(buf, 18, 2), 0x0083u);
    buf.assign(36, 0xCC);
    ASSERT_EQ(send(pcie_read(), buf, io), 0);
    EXPECT_EQ(io.error_info.ScsiStatus, 0x02);
    EXPECT_EQ(buf, Bytes(36, 0)); // CHECK CONDITION, nothing written
    buf.assign(255, 0);
    ASSERT_EQ(send(host_mfg_read(), buf, io), 0);
    EXPECT_EQ(selftest::text(buf, 0, 2), "XX");
    errno = 0;
    EXPECT_EQ(send(cpld_write(), buf, io), -1);
    EXPECT_EQ(errno, EIO);

    const auto reqs = host().requests("/dev/sg1");
    std::vector<nlohmann::json> passthru;
    for (const auto& r : reqs)
        if (r.name == "CCISS_PASSTHRU")
            passthru.push_back(r.decoded);
    ASSERT_EQ(passthru.size(), 4u);
    EXPECT_EQ(passthru[0]["cdb"], "26 00 00 00 00 00 42 00 D8 01 00 00 00 00 00 00");
    EXPECT_EQ(passthru[0]["direction"], XFER_READ);
    EXPECT_EQ(passthru[0]["buf_size"], 36);
    EXPECT_EQ(passthru[0]["timeout"], 1);
    EXPECT_EQ(passthru[2]["cdb"], "26 00 00 00 00 00 42 00 D4 02 00 00 00 00 00 00");
    EXPECT_EQ(passthru[2]["buf_size"], 255);
    EXPECT_EQ(passthru[3]["cdb"], "26 00 00 00 00 00 42 00 D9 01 00 00 00 00 00 00");
    EXPECT_EQ(passthru[3]["direction"], XFER_WRITE);
    EXPECT_EQ(passthru[3]["buf_size"], 8);
}

} // namespace
