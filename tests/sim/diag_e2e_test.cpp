// The diagnostic commands end to end: the real binary through the launcher on a simulated controller
// whose diagnostics answer from the scenario. Standard output and diagslog.txt byte for byte, the
// exit code, and every command the controller received with the payload of each test send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvel_run.h"

namespace {

using qvtest::Controller;
using qvtest::LogHeader;
using qvtest::MaskTimes;
using qvtest::RunQuorvel;
using qvtest::Scenario;
using qvtest::WorkDir;
using json = nlohmann::json;
using qvtest::kCacheStatus;
using qvtest::kIdentify;
using qvtest::kParameters;
using qvtest::Sent;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";

const std::string kTestCdb = "27 00 00 00 00 00 42 00 D1 01 00 00 00 00 00 00";
const Sent kStatusRead{"26 00 00 00 00 00 42 00 D3 01 00 00 00 00 00 00", ""};

// The start-up reads, then `rest`.
std::vector<Sent> AfterStartUp(std::vector<Sent> rest) {
    std::vector<Sent> all = {kIdentify, kParameters, kCacheStatus};
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

std::string Hex2(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[(v >> 4) & 0xF], digits[v & 0xF]};
}

// A test send with its payload, then the status read.
std::vector<Sent> TestAndStatus(unsigned test, unsigned subtest) {
    const std::string payload =
        Hex2(test) + " 00 " + Hex2(subtest & 0xFF) + " " + Hex2(subtest >> 8) + " 01 00 00 00";
    return {{kTestCdb, payload}, kStatusRead};
}

json OneController(const json& diag = json::object()) {
    json c = Controller("qzvk", "0000:3b:00.0", 2, 1);
    if (!diag.empty()) {
        c["extra"] = {{"diag", diag}};
    }
    return Scenario({c});
}

struct Case {
    std::string name;
    json scenario;
    std::vector<std::string> args;
    std::string out; // after the banner
    std::string log; // after the header
    std::vector<Sent> sent;
};

void Check(const Case& c) {
    std::string line;
    for (const auto& a : c.args) {
        line += a + " ";
    }
    SCOPED_TRACE(c.name + ": quorvel " + line);
    WorkDir dir;
    const qvtest::Run run = RunQuorvel(dir, c.scenario, c.args);
    EXPECT_EQ(run.out, kBanner + c.out);
    EXPECT_EQ(run.status, 0);
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
    EXPECT_EQ(qvtest::Received(run, kNode), c.sent);
}

void Repeat(const std::vector<Sent>& unit, int times, std::vector<Sent>* into) {
    for (int i = 0; i < times; ++i) {
        into->insert(into->end(), unit.begin(), unit.end());
    }
}

// ---- Test runs --------------------------------------------------------------------------------------

TEST(DiagE2E, OneSubtestWithListedAndUnlistedFailures) {
    const json diag = {
        {"tests", {{{"test", "cache"}, {"subtest", "pattern_fill"}, {"results", {0, "0x35", "0x42", 0}}}}}};
    std::vector<Sent> sent;
    Repeat(TestAndStatus(2, 0x40), 4, &sent);
    const std::string id = " \rTestid/subtestid : CACHE_TEST [02h] / CACHE_PATTERN_FILL [040h] \r\n";
    Check({"cache pattern fill",
           OneController(diag),
           {"cachetest", "1", "patternfill", "4"},
           "CacheTest : Pattern Fill ctrlNum: 1, iteration 4\n"
           "  Result: Iteration: 1 PASS - No Error\n"
           "  Result: Iteration: 2 FAIL - Pattern Check Failure\n"
           "  Result: Iteration: 3 FAIL - Unknown Error Code\n"
           "  Result: Iteration: 4 PASS - No Error\n",
           id + "Result: Iteration: 1 DIAG_NO_ERROR [0000] \r\n" + id +
               "Result: Iteration: 2 DIAG_PATTERN_CHECK_FAILED [0035] \r\n" + id +
               "Result: Iteration: 3 UNKNOWN ERROR CODE [0042] \r\n" + id +
               "Result: Iteration: 4 DIAG_NO_ERROR [0000] \r\n",
           AfterStartUp(sent)});
}

// Each whole test runs its sub-tests in the fixed order, every one with the full count.
TEST(DiagE2E, WholeTestsInTheirFixedOrder) {
    struct Whole {
        std::string command;
        int iterations;
        unsigned test;
        std::vector<std::pair<unsigned, std::string>> subtests; // id, log name
        std::vector<std::string> headers;
        std::string test_log;
    };
    const Whole wholes[] = {
        {"cachetest",
         3,
         2,
         {{0x20, "CACHE_LFSR_FILL [020h]"},
          {0x40, "CACHE_PATTERN_FILL [040h]"},
          {0x80, "CACHE_WALKING_ONES [080h]"},
          {0x100, "CACHE_WALKING_ZEROS [100h]"},
          {0x200, "CACHE_DATA_INVERSION [200h]"}},
         {"CacheTest : LFSR Cache Fill ctrlNum: 1, iteration 3\n",
          "CacheTest : Pattern Fill ctrlNum: 1, iteration 3\n",
          "CacheTest : Walking Ones ctrlNum: 1, iteration 3\n",
          "CacheTest : Walking Zeros ctrlNum: 1, iteration 3\n",
          "CacheTest : Data Inversion ctrlNum: 1, iteration 3\n"},
         "CACHE_TEST [02h]"},
        {"memorytest",
         1,
         1,
         {{1, "MEMORY_MOVING_INVERSION_LONG [001h]"},
          {2, "MEMORY_MOVING_INVERSION_TURBO [002h]"},
          {4, "MEMORY_MOVING_INVERSION_FBT [004h]"},
          {0x100, "MEMORY_CORRECTED_ECC_COUNT [100h]"}},
         {"MemoryTest : Moving Inversion Long ctrlNum: 1, iteration 1\n",
          "MemoryTest : Moving Inversion Turbo ctrlNum: 1, iteration 1\n",
          "MemoryTest : Moving Inversion FBT ctrlNum: 1, iteration 1\n",
          "MemoryTest : Get Corrected ECC Count ctrlNum: 1, iteration 1\n"},
         "MEMORY_TEST [01h]"},
        {"sastest",
         2,
         8,
         {{2, "SAS_READWRITECOMPARE [002h]"}, {4, "SAS_LONGREADWRITECOMPARE [004h]"}},
         {"SasTest : Write Read Compare: ctrlNum: 1, iteration 2\n",
          "SasTest : Long Write Read Compare: ctrlNum: 1, iteration 2\n"},
         "SAS_TEST [08h]"},
        {"saspatterntest",
         1,
         12,
         {{1, "SASPATTERN_JTPAT [001h]"},
          {2, "SASPATTERN_RANDOM [002h]"},
          {4, "SASPATTERN_JTPAT_AND_RANDOM [004h]"},
          {8, "SASPATTERN_D10_2 [008h]"},
          {0x10, "SASPATTERN_JTPAT_AND_D10_2 [010h]"}},
         {"SasPatternTest : JTPAT: ctrlNum : 1, iteration 1\n",
          "SasPatternTest : Random: ctrlNum : 1, iteration 1\n",
          "SasPatternTest : JTPAT Random: ctrlNum : 1, iteration 1\n",
          "SasPatternTest : D10.2 HIGH FREQ: ctrlNum : 1, iteration 1\n",
          "SasPatternTest : JTPAT D10.2 HIGH FREQ: ctrlNum : 1, iteration 1\n"},
         "SAS_PATTERN_TEST [0ch]"},
    };
    for (const Whole& w : wholes) {
        std::string out, log;
        std::vector<Sent> sent;
        for (size_t s = 0; s < w.subtests.size(); ++s) {
            out += w.headers[s];
            for (int i = 1; i <= w.iterations; ++i) {
                out += "  Result: Iteration: " + std::to_string(i) + " PASS - No Error\n";
                log += " \rTestid/subtestid : " + w.test_log + " / " + w.subtests[s].second + " \r\n" +
                       "Result: Iteration: " + std::to_string(i) + " DIAG_NO_ERROR [0000] \r\n";
            }
            Repeat(TestAndStatus(w.test, w.subtests[s].first), w.iterations, &sent);
        }
        if (w.command == "cachetest") {
            EXPECT_EQ(sent.size(), 30u);
        }
        Check({w.command,
               OneController(),
               {w.command, "1", std::to_string(w.iterations)},
               out,
               log,
               AfterStartUp(sent)});
    }
}

TEST(DiagE2E, LedAndAllSubtestsResults) {
    Check({"LED test",
           OneController(),
           {"ctrlledtest", "1", "2"},
           "ControllerLedTest : ctrlNum: 1, iteration 2\n"
           "  Result: Iteration: 1 PASS - No Error\n"
           "  Result: Iteration: 2 PASS - No Error\n",
           " \rTestid/subtestid : UNKNOWN TEST ID [05h] \r\nResult: Iteration: 1 DIAG_NO_ERROR [0000] \r\n"
           " \rTestid/subtestid : UNKNOWN TEST ID [05h] \r\nResult: Iteration: 2 DIAG_NO_ERROR [0000] \r\n",
           AfterStartUp([] {
               std::vector<Sent> s;
               Repeat(TestAndStatus(5, 1), 2, &s);
               return s;
           }())});

    const json diag = {{"tests",
                        {{{"test", "memory"},
                          {"subtest", "moving_inversion_long"},
                          {"results", {{{"code", 9}, {"subtest", "0xFFFF"}}}}}}}};
    Check({"memory result for all sub-tests",
           OneController(diag),
           {"memorytest", "1", "movinginversionlong", "1"},
           "MemoryTest : Moving Inversion Long ctrlNum: 1, iteration 1\n"
           "  Result: Iteration: 1 FAIL - ECC Status Error\n",
           " \rTestid/subtestid : MEMORY_TEST [01h] / MEMORY_ALLSUBTESTS [ffffh] \r\n"
           "Result: Iteration: 1 DIAG_ERROR_ECC_STATUS [0009] \r\n",
           AfterStartUp(TestAndStatus(1, 1))});
}

// A send or a status read that fails, or that the controller refuses, is never a result.
TEST(DiagE2E, FailedSendsAndStatusReads) {
    const json sense = "70 00 05 00 00 00 00 0A 00 00 00 00 24 00";
    const json diag = {{"faults",
                        {{{"command", "test"}, {"nth", 2}, {"errno", 5}},
                         {{"command", "test"}, {"nth", 3}, {"sense", sense}},
                         {{"command", "status"}, {"nth", 2}, {"errno", 5}},
                         {{"command", "status"}, {"nth", 3}, {"sense", sense}}}}};
    const std::string id = " \rTestid/subtestid : SAS_TEST [08h] / SAS_READWRITECOMPARE [002h] \r\n";
    const auto pair = TestAndStatus(8, 2);
    // Sends 2 and 3 fail: no status read after them. Status reads 2 and 3 (after sends 4 and 5) fail.
    std::vector<Sent> sent = {pair[0], pair[1], pair[0], pair[0], pair[0],
                              pair[1], pair[0], pair[1], pair[0], pair[1]};
    Check({"sas write/read/compare",
           OneController(diag),
           {"sastest", "1", "wrrdcomp", "6"},
           "SasTest : Write Read Compare: ctrlNum: 1, iteration 6\n"
           "  Result: Iteration: 1 PASS - No Error\n"
           "Failed to execute sastest: SAS_WR_RD_COMP, CtlrNum: 1, Iteration: 2 \n"
           "Failed to execute sastest: SAS_WR_RD_COMP, CtlrNum: 1, Iteration: 3 \n"
           "  Result: Iteration: 6 PASS - No Error\n",
           id + "Result: Iteration: 1 DIAG_NO_ERROR [0000] \r\n" +
               "Failed to execute sastest: SAS_WR_RD_COMP, CtlrNum: 1, Iteration: 2 \r\n"
               "Failed to execute sastest: SAS_WR_RD_COMP, CtlrNum: 1, Iteration: 3 \r\n" +
               id + "Result: Iteration: 6 DIAG_NO_ERROR [0000] \r\n",
           AfterStartUp(sent)});
}

// ---- MRAM, revision, message counters ----------------------------------------------------------------

std::string MramPattern() {
    std::string text;
    for (int i = 0; i < 1024; ++i) {
        text += (i % 2 == 0) ? "55" : "AA";
        if (i != 1023) {
            text += " ";
        }
    }
    return text;
}

TEST(DiagE2E, MramFillThenVerify) {
    const std::string pattern = MramPattern();
    const std::string fill = "27 00 00 00 00 00 42 00 84 00 00 00 04 00 01 01";
    const std::string fill_done = "27 00 00 00 00 00 42 00 84 00 00 00 04 00 03 01";
    Check({"fill",
           OneController(),
           {"mramtest", "1", "datafill"},
           "MRAM Test Data Fill - PASS \n",
           "MRAM Test Data Fill - PASS \r\n",
           AfterStartUp({{fill, pattern}, {fill_done, pattern}})});

    // After the power cycle the controller holds what the fill wrote.
    const std::string verify = "26 00 00 00 00 00 42 00 84 00 00 00 04 00 01 02";
    const std::string verify_done = "26 00 00 00 00 00 42 00 84 00 00 00 04 00 04 02";
    const std::string verify_failed = "26 00 00 00 00 00 42 00 84 00 00 00 04 00 02 02";
    Check({"verify",
           OneController({{"mram", {{"fill", "55 AA"}}}}),
           {"mramtest", "1", "dataverify"},
           "MRAM Test Data Verify - PASS \n",
           "MRAM Test Data Verify - PASS \r\n",
           AfterStartUp({{verify, ""}, {verify_done, pattern}})});

    // A controller that finds another pattern answers MISCOMPARE: the verify fails.
    std::string patched = pattern;
    patched.replace(3 * 7, 2, "00");
    Check({"verify against another pattern",
           OneController({{"mram", {{"fill", "55 AA"}, {"patches", {{{"offset", 7}, {"bytes", "00"}}}}}}}),
           {"mramtest", "1", "dataverify"},
           "MRAM Test Data Verify : - MRAM read failure (Status = 0x0)\nMRAM Test Data Verify - FAIL \n",
           "MRAM Test Data Verify : - MRAM read failure(Status = 0x0)\nMRAM Test Data Verify - FAIL \r\n",
           AfterStartUp({{verify, ""}, {verify_failed, patched}})});

    Check({"fill refused",
           OneController({{"faults", {{{"command", "mram_write"}, {"mram_status", 1}, {"errno", 5}}}}}),
           {"mramtest", "1", "datafill"},
           "MRAM Test Data Fill : - MRAM write failure (Status = 0x0)\nMRAM Test Data Fill - FAIL \n",
           "MRAM Test Data Fill : - MRAM write failure (Status = 0x0)\nMRAM Test Data Fill - FAIL \r\n",
           AfterStartUp({{fill, pattern}, {"27 00 00 00 00 00 42 00 84 00 00 00 04 00 02 01", pattern}})});
}

TEST(DiagE2E, DiagnosticRevision) {
    const Sent read{"26 00 00 00 00 00 42 00 D7 00 00 00 00 00 00 00", ""};
    Check({"revision",
           OneController({{"revision", "05 59 01 00"}}),
           {"fwdiagrevision", "1"},
           "Firmware Diag Revision = 5.1.89 \n",
           "Firmware Diag Revision = 5.1.89 \r\n",
           AfterStartUp({read})});
    Check({"revision refused",
           OneController(
               {{"faults",
                 {{{"command", "revision"}, {"sense", "70 00 05 00 00 00 00 0A 00 00 00 00 24 00"}}}}}),
           {"fwdiagrevision", "1"},
           "Failed to get Firmware Diag Revision \n",
           "Failed to get Firmware Diag Revision \r\n",
           AfterStartUp({read})});
}

TEST(DiagE2E, MessageCountersAndTheSerialLog) {
    const Sent counters{"26 00 00 00 00 00 42 00 EB 00 00 00 00 00 00 00", ""};
    Check({"zero counters",
           OneController({{"message_counters", {{"alerts", 0}, {"errors", 0}, {"warnings", 0}}}}),
           {"sobmessagecounters", "1"},
           "SOB Message Counters \n  Alerts   = 0 \n  Errors   = 0 \n  Warnings = 0 \n",
           "SOB Message Counters \r\n  Alerts   = 0 \n  Errors   = 0 \n  Warnings = 0 \n",
           AfterStartUp({counters})});

    // The last line has no line end, and nothing terminates the log.
    const std::string serial =
        "POST complete\n"
        "ALERT: Cache signature does not match expected value!\n"
        "   \n"
        "x ERROR: a ERROR: b\n"
        "WARNING: Backup power: msg type =0x200 msg status - 0x20d [Powersource self-test started]";
    const std::string size = Hex2(serial.size() & 0xFF) + " " + Hex2(serial.size() >> 8);
    const std::string stars(77, '*');
    Check(
        {"counters and the serial log",
         OneController({{"message_counters", {{"alerts", 1}, {"errors", 2}, {"warnings", 1}}},
                        {"logs", {{"serial_output", serial}}}}),
         {"sobmessagecounters", "1"},
         "SOB Message Counters \n  Alerts   = 1 \n  Errors   = 2 \n  Warnings = 1 \n" + stars +
             " \nParsed events from controller serial log :  \n"
             "ALERT: Cache signature does not match expected value! \n"
             "ERROR: a ERROR: b \n"
             "ERROR: b \n"
             "WARNING: Backup power: msg type =0x200 msg status - 0x20d [Powersource self-test started] \n",
         "SOB Message Counters \r\n  Alerts   = 1 \n  Errors   = 2 \n  Warnings = 1 \n" + stars +
             " \r\nParsed events from controller serial log :   \r\n\n"
             "ALERT: Cache signature does not match expected value! \r\n"
             "ERROR: a ERROR: b \r\n"
             "ERROR: b \r\n"
             "WARNING: Backup power: msg type =0x200 msg status - 0x20d [Powersource self-test started] \r\n",
         AfterStartUp(
             {counters,
              {"26 02 00 00 00 00 77 00 04 00 00 00 00 00 00 00", ""},
              {"26 02 00 00 00 00 77 " + size.substr(3) + " " + size.substr(0, 2) + " 01 00 00 00 00 00 00",
               ""}})});

    Check({"serial log unreadable",
           OneController({{"message_counters", {{"alerts", 0}, {"errors", 1}, {"warnings", 0}}},
                          {"faults", {{{"command", "log"}, {"action", "size"}, {"errno", 5}}}}}),
           {"sobmessagecounters", "1"},
           "SOB Message Counters \n  Alerts   = 0 \n  Errors   = 1 \n  Warnings = 0 \n" + stars +
               " \nParsed events from controller serial log :  \n **error occured while reading log \n",
           "SOB Message Counters \r\n  Alerts   = 0 \n  Errors   = 1 \n  Warnings = 0 \n" + stars +
               " \r\nParsed events from controller serial log :   \r\n\n **error occured while reading log "
               "\r\n",
           AfterStartUp({counters, {"26 02 00 00 00 00 77 00 04 00 00 00 00 00 00 00", ""}})});

    Check({"counters refused",
           OneController({{"faults", {{{"command", "counters"}, {"scsi_status", 8}}}}}),
           {"sobmessagecounters", "1"},
           "Failed to get SOB message counters \n",
           "Failed to get SOB message counters \r\n",
           AfterStartUp({counters})});
}

} // namespace
