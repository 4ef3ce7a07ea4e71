// The diagnostic engine without a controller: its tables, the request filler, the result decoder,
// the serial-log line parser, the send loop's failure path and the diagnostic commands' arguments.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bmic.h"
#include "cli.h"
#include "externs.h"

namespace {

// Captures standard output and the log file around one call.
class ToolOutput : public testing::Test {
protected:
    void SetUp() override {
        saved_lfp_ = lfp;
        lfp = std::tmpfile();
        ASSERT_NE(lfp, nullptr);
    }
    void TearDown() override {
        std::fclose(lfp);
        lfp = saved_lfp_;
        pCDA = nullptr;
    }

    template <typename F> void Run(F&& f) {
        std::fflush(stdout);
        testing::internal::CaptureStdout();
        f();
        std::fflush(stdout);
        stdout_ = testing::internal::GetCapturedStdout();
        std::fflush(lfp);
        std::rewind(lfp);
        log_.clear();
        char chunk[512];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, lfp)) > 0) {
            log_.append(chunk, n);
        }
        std::rewind(lfp);
        ASSERT_EQ(ftruncate(fileno(lfp), 0), 0);
    }

    std::string stdout_;
    std::string log_;

private:
    FILE* saved_lfp_ = nullptr;
};

std::vector<VK_BYTE> Bytes(const void* p, size_t n) {
    const auto* b = static_cast<const VK_BYTE*>(p);
    return {b, b + n};
}

TEST(BmicTables, EveryCdbRowSendsItsFourBytesAndZeroElsewhere) {
    struct Row {
        const char* name;
        VK_BYTE b0, b6, b8, b9;
        VK_UINT16 payload_size;
    };
    const Row rows[] = {
        {"memorytest", 0x27, 0x42, 0xD1, 0x01, 0},         {"cachetest", 0x27, 0x42, 0xD1, 0x01, 0},
        {"dataretentiontest", 0x27, 0x42, 0xD1, 0x01, 0},  {"sastest", 0x27, 0x42, 0xD1, 0x01, 0},
        {"saspatterntest", 0x27, 0x42, 0xD1, 0x01, 0},     {"getteststatus", 0x26, 0x42, 0xD3, 0x01, 36},
        {"getavailabletests", 0x26, 0x42, 0xD0, 0x01, 36}, {"readI2CHostMFG", 0x26, 0x42, 0xD4, 0x02, 256},
        {"readPCIeValues", 0x26, 0x42, 0xD8, 0x01, 36},    {"verifycpld", 0x26, 0x42, 0xD9, 0x01, 0},
        {"readMRAM", 0x26, 0x42, 0x84, 0x00, 0},           {"writeMRAM", 0x27, 0x42, 0x84, 0x00, 0},
        {"ctlrPHYerrors", 0x27, 0x68, 0xD1, 0x00, 0},      {"controllerledtest", 0x27, 0x42, 0xD1, 0x01, 0},
        {"fwdiagrevision", 0x26, 0x42, 0xD7, 0x00, 4},     {"SOBmessagecounters", 0x26, 0x42, 0xEB, 0x00, 3},
    };
    size_t index = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(bmicTestSpecTable[index].TestName, r.name) << "table order";
        EXPECT_EQ(bmicTestSpecTable[index].payloadSize, r.payload_size);
        const BMIC_SCSI_DIAGNOSTIC_CDB* cdb = BmicScsiCdbLookup(r.name);
        ASSERT_NE(cdb, nullptr);
        std::vector<VK_BYTE> expected(16, 0);
        expected[0] = r.b0;
        expected[6] = r.b6;
        expected[8] = r.b8;
        expected[9] = r.b9;
        EXPECT_EQ(Bytes(cdb, 16), expected);
        ++index;
    }
    EXPECT_STREQ(bmicTestSpecTable[index].TestName, "NULL");
    EXPECT_EQ(bmicTestSpecTable[index].bmicCdb.bSCSICommand, 0);
    // Exact names only, and the end row is not a row.
    for (const char* missing : {"NULL", "CacheTest", "cachetest ", "", "readmram"}) {
        EXPECT_EQ(BmicScsiCdbLookup(missing), nullptr) << missing;
    }
    EXPECT_EQ(BmicScsiCdbLookup(nullptr), nullptr);
}

TEST(BmicTables, PayloadsAreLittleEndianWithOneIteration) {
    struct Row {
        const char* name;
        VK_BYTE test_id;
        VK_WORD subtest_id;
    };
    const Row rows[] = {
        {"CACHE_LFSR_FILL", 2, 0x0020},
        {"CACHE_PATTERN_FILL", 2, 0x0040},
        {"CACHE_WALKING_ONES", 2, 0x0080},
        {"CACHE_WALKING_ZEROS", 2, 0x0100},
        {"CACHE_DATA_INVERSION", 2, 0x0200},
        {"MEM_MOVING_INVR_LONG", 1, 0x0001},
        {"MEM_MOVING_INVR_TURBO", 1, 0x0002},
        {"MEM_MOVING_INVR_FBT", 1, 0x0004},
        {"GET_CORRECTED_ECC_COUNT", 1, 0x0100},
        {"DATA_FILL", 3, 0x0001},
        {"DATA_VERIFY", 3, 0x0002},
        {"CONTROLLER_LED_TEST", 5, 0x0001},
        {"SAS_WR_RD_COMP", 8, 0x0002},
        {"SAS_LONG_WR_RD_COMP", 8, 0x0004},
        {"SAS_JTPAT", 12, 0x0001},
        {"SAS_RANDOM", 12, 0x0002},
        {"SAS_JTPAT_RANDOM", 12, 0x0004},
        {"SAS_HIFH_FREQ", 12, 0x0008},
        {"SAS_JTPAT_D10.2", 12, 0x0010},
    };
    size_t index = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(bmicPayloadTable[index++].diagnosticTestName, r.name) << "table order";
        const BMIC_PAYLOAD_BUF* payload = BmicPayloadLookup(r.name);
        ASSERT_NE(payload, nullptr);
        const std::vector<VK_BYTE> expected = {r.test_id,
                                               0,
                                               static_cast<VK_BYTE>(r.subtest_id & 0xFF),
                                               static_cast<VK_BYTE>(r.subtest_id >> 8),
                                               1,
                                               0,
                                               0,
                                               0};
        EXPECT_EQ(Bytes(payload, 8), expected);
    }
    EXPECT_STREQ(bmicPayloadTable[index].diagnosticTestName, "NULL");
    EXPECT_EQ(BmicPayloadLookup("NULL"), nullptr);
    EXPECT_EQ(BmicPayloadLookup("cache_lfsr_fill"), nullptr);
}

TEST(BmicRequest, FillsTheRequestAndRefusesSizesBeyond16Bits) {
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *BmicScsiCdbLookup("getteststatus");
    VK_BYTE data[16];
    SCSIRequest request;
    std::memset(&request, 0xA5, sizeof(request));
    ASSERT_EQ(QV_PopulateSCSIRequest(&request, &cdb, eDATA_TRANSFER_IN, 0, data, sizeof(data)), &request);
    EXPECT_EQ(request.cdb, reinterpret_cast<VK_UINT8*>(&cdb));
    EXPECT_EQ(request.cdb_size, 16);
    EXPECT_EQ(request.transfer_type, static_cast<EnTransferType>(eDATA_TRANSFER_IN));
    EXPECT_EQ(request.timeout_sec, 1u);
    EXPECT_EQ(request.io_buffer, data);
    EXPECT_EQ(request.io_buffer_size, 16u);
    EXPECT_EQ(request.sense_data, nullptr);
    EXPECT_EQ(request.scsi_status, 0);

    ASSERT_NE(QV_PopulateSCSIRequest(&request, &cdb, eDATA_TRANSFER_OUT, 30, data, 0xFFFF), nullptr);
    EXPECT_EQ(request.timeout_sec, 30u);
    EXPECT_EQ(request.io_buffer_size, 0xFFFFu);

    // 65,536 bytes would go out as a zero-length command: refused, nothing left to send.
    EXPECT_EQ(QV_PopulateSCSIRequest(&request, &cdb, eDATA_TRANSFER_OUT, 0, data, 0x10000), nullptr);
    EXPECT_EQ(request.cdb, nullptr);
    EXPECT_EQ(request.io_buffer_size, 0u);
    EXPECT_EQ(QV_PopulateSCSIRequest(nullptr, &cdb, eDATA_TRANSFER_OUT, 0, data, 8), nullptr);
}

TEST(BmicRequest, MramPattern) {
    VK_BYTE data[6] = {};
    GenerateData(data, 5);
    EXPECT_EQ(Bytes(data, 6), (std::vector<VK_BYTE>{0x55, 0xAA, 0x55, 0xAA, 0x55, 0x00}));
}

using BmicResultDecoder = ToolOutput;

TEST_F(BmicResultDecoder, PrintsResultTextAndLogsTestSubtestAndCodeNames) {
    struct Case {
        VK_BYTE test_id;
        VK_BYTE code;
        VK_WORD subtest;
        const char* out;
        const char* log;
    };
    const Case cases[] = {
        {1, 0x00, 0x0001, "  Result: Iteration: 3 PASS - No Error\n",
         " \rTestid/subtestid : MEMORY_TEST [01h] / MEMORY_MOVING_INVERSION_LONG [001h] \r\n"
         "Result: Iteration: 3 DIAG_NO_ERROR [0000] \r\n"},
        // Three hex digits are a minimum width, not a cut.
        {1, 0x09, 0xFFFF, "  Result: Iteration: 3 FAIL - ECC Status Error\n",
         " \rTestid/subtestid : MEMORY_TEST [01h] / MEMORY_ALLSUBTESTS [ffffh] \r\n"
         "Result: Iteration: 3 DIAG_ERROR_ECC_STATUS [0009] \r\n"},
        {2, 0x37, 0x0002, "  Result: Iteration: 3 FAIL - LFSR Fill Failure\n",
         " \rTestid/subtestid : CACHE_TEST [02h] / MEMORY_MOVING_INVERSION_TURBO [002h] \r\n"
         "Result: Iteration: 3 DIAG_LFSR_FILL_FAILED [0037] \r\n"},
        {2, 0x42, 0x0200, "  Result: Iteration: 3 FAIL - Unknown Error Code\n",
         " \rTestid/subtestid : CACHE_TEST [02h] / CACHE_DATA_INVERSION [200h] \r\n"
         "Result: Iteration: 3 UNKNOWN ERROR CODE [0042] \r\n"},
        {3, 0x0F, 0x0002, "  Result: Iteration: 3 FAIL - Data Retention Flush Error\n",
         " \rTestid/subtestid : DATA_RETENTION_TEST [03h] / DATA_RETENTION_DATAVERIFY [002h] \r\n"
         "Result: Iteration: 3 DIAG_RETENTION_FLUSH_ERROR [000f] \r\n"},
        // The LED test has no log name of its own: no sub-test part either.
        {5, 0x00, 0x0001, "  Result: Iteration: 3 PASS - No Error\n",
         " \rTestid/subtestid : UNKNOWN TEST ID [05h] \r\n"
         "Result: Iteration: 3 DIAG_NO_ERROR [0000] \r\n"},
        {8, 0xA1, 0x0008, "  Result: Iteration: 3 FAIL - No SGPIO Detected \n",
         " \rTestid/subtestid : SAS_TEST [08h] / UNKNOWN SUBTEST ID [008h] \r\n"
         "Result: Iteration: 3 DIAG_ERROR_NO_SGPIO_DETECTED [00a1] \r\n"},
        {12, 0xFF, 0x0010, "  Result: Iteration: 3 FAIL - Invalid Test ID\n",
         " \rTestid/subtestid : SAS_PATTERN_TEST [0ch] / SASPATTERN_JTPAT_AND_D10_2 [010h] \r\n"
         "Result: Iteration: 3 DIAG_INVALID_TEST_ID [00ff] \r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "test " << int(c.test_id) << " code " << int(c.code));
        BMIC_TEST_RESULT result = {};
        result.testId = c.test_id;
        result.errorCode = c.code;
        result.subtestId = c.subtest;
        result.param1 = 0xDEADBEEF;
        Run([&] { QV_VerifyTestStatusPrint(&result, 3); });
        EXPECT_EQ(stdout_, c.out);
        EXPECT_EQ(log_, c.log);
    }
}

TEST_F(BmicResultDecoder, EveryListedCodeHasItsOwnText) {
    const std::pair<VK_BYTE, const char*> codes[] = {
        {0x01, "FAIL - Data Mismatch"},
        {0x04, "FAIL - Zero Fill failure"},
        {0x07, "FAIL - LRAM ECC Status Error"},
        {0x0B, "FAIL - Data Retention Backup Error"},
        {0x0C, "FAIL - Data Retention Restore Error"},
        {0x0D, "FAIL - Data Retention Hardware Error"},
        {0x0E, "FAIL - Data Retention Procedure Error"},
        {0x32, "FAIL - Data Retention Cache In Use Error"},
        {0x34, "FAIL - Pattern Fill Failure"},
        {0x35, "FAIL - Pattern Check Failure"},
        {0x3D, "FAIL - SMGR Alloc Error"},
        {0x84, "FAIL - SAS Drive Missing"},
        {0x85, "FAIL - SAS Write Failed"},
        {0x86, "FAIL - SAS Read Failure"},
        {0x87, "FAIL - SAS Compare Failure"},
        {0x99, "FAIL - Invalid Size"},
        {0xA0, "FAIL - Invalid SGPIO Data"},
        {0x02, "FAIL - Unknown Error Code"},
        {0xFE, "FAIL - Unknown Error Code"},
    };
    for (const auto& [code, text] : codes) {
        BMIC_TEST_RESULT result = {};
        result.testId = 2;
        result.subtestId = 0x20;
        result.errorCode = code;
        Run([&] { QV_VerifyTestStatusPrint(&result, 1); });
        EXPECT_EQ(stdout_, std::string("  Result: Iteration: 1 ") + text + "\n") << int(code);
    }
}

using BmicSendLoop = ToolOutput;

// No controller carries anything: every iteration gets its failure line and the loop goes on.
TEST_F(BmicSendLoop, UncarriedSendReportsEachIterationAndGoesOn) {
    pCDA = nullptr;
    Run([] { QV_DiagCacheWalkingOnes(2, 3); });
    EXPECT_EQ(stdout_, "CacheTest : Walking Ones ctrlNum: 2, iteration 3\n"
                       "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 1 \n"
                       "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 2 \n"
                       "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 3 \n");
    EXPECT_EQ(log_, "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 1 \r\n"
                    "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 2 \r\n"
                    "Failed to execute cachetest: CACHE_WALKING_ONES, CtlrNum: 2, Iteration: 3 \r\n");

    // A row that does not exist ends the runner silently.
    Run([] { QV_ExecuteBMIC("cachetest", "NO_SUCH_PAYLOAD", 2, eDATA_TRANSFER_OUT, 1); });
    EXPECT_EQ(stdout_, "");
    EXPECT_EQ(log_, "");
}

TEST_F(BmicSendLoop, DataRetentionNeedsAChargedBackupPowerSource) {
    for (VK_BYTE status : {0, 1, 2, 4}) {
        Run([&] { QV_DiagRetentionAfterStatus(status, kTrue, 1); });
        EXPECT_EQ(stdout_,
                  "To start data retention test, please ensure a fully charged super-cap is attached\n");
        EXPECT_EQ(log_,
                  "To start data retention test, please ensure a fully charged super-cap is attached\n");
        Run([&] { QV_DiagRetentionAfterStatus(status, kFalse, 1); });
        EXPECT_EQ(stdout_,
                  "To start data retention test, please ensure a fully charged super-cap is attached \n");
        EXPECT_EQ(log_,
                  "To start data retention test, please ensure a fully charged super-cap is attached \n");
    }
    pCDA = nullptr;
    Run([] { QV_DiagRetentionAfterStatus(3, kFalse, 4); });
    EXPECT_EQ(stdout_, "Failed to execute dataretentiontest: DATA_VERIFY, CtlrNum: 4, Iteration: 1 \n");
}

// Without a controller the reads are not carried: each command says so, none reads as a pass.
TEST_F(BmicSendLoop, UncarriedReadsOfTheSmallCommands) {
    Run([] { QV_FWDiagRevision(nullptr); });
    EXPECT_EQ(stdout_, "Failed to get Firmware Diag Revision \n");
    EXPECT_EQ(log_, "Failed to get Firmware Diag Revision \r\n");
    Run([] { QV_SOBMessageCounters(nullptr); });
    EXPECT_EQ(stdout_, "Failed to get SOB message counters \n");
    EXPECT_EQ(log_, "Failed to get SOB message counters \r\n");
    Run([] { QV_MRAMTestDataFill(nullptr); });
    EXPECT_EQ(stdout_,
              "MRAM Test Data Fill : - MRAM write failure (Status = 0x0)\nMRAM Test Data Fill - FAIL \n");
    EXPECT_EQ(log_,
              "MRAM Test Data Fill : - MRAM write failure (Status = 0x0)\nMRAM Test Data Fill - FAIL \r\n");
    Run([] { QV_MRAMTestDataVerify(nullptr); });
    EXPECT_EQ(stdout_,
              "MRAM Test Data Verify : - MRAM read failure (Status = 0x0)\nMRAM Test Data Verify - FAIL \n");
    EXPECT_EQ(log_,
              "MRAM Test Data Verify : - MRAM read failure(Status = 0x0)\nMRAM Test Data Verify - FAIL \r\n");
}

// ---- Serial output buffer lines ------------------------------------------------------------------

// A heap copy of exactly `text.size()` bytes, so a read past the end is caught by the sanitizer.
std::unique_ptr<char[]> Exact(const std::string& text) {
    auto copy = std::make_unique<char[]>(text.size());
    std::memcpy(copy.get(), text.data(), text.size());
    return copy;
}

TEST(BmicSerialLog, GetLineStopsAtLineEndNulLimitAndBufferEnd) {
    struct Case {
        std::string bytes;
        int consumed;
        std::string line;
    };
    const std::string long_line(300, 'x');
    const Case cases[] = {
        {"abc\ndef", 4, "abc"},                  // the line end is consumed, not copied
        {"\nabc", 1, ""},                        // an empty line
        {std::string("ab\0cd", 5), 2, "ab"},     // a NUL ends the copy and is not consumed
        {"tail", 4, "tail"},                     // no line end and no NUL: the size bounds it
        {long_line, 249, std::string(249, 'x')}, // long lines come in pieces of 249
        {std::string(249, 'y') + "\n", 249, std::string(249, 'y')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 12));
        auto buffer = Exact(c.bytes);
        char line[MAX_LINE_SIZE];
        std::memset(line, 'Z', sizeof(line));
        EXPECT_EQ(QV_GetLine(buffer.get(), c.bytes.size(), line), c.consumed);
        EXPECT_EQ(std::string(line), c.line);
    }
}

// A result record is decoded only from a reply long enough to hold it, little-endian.
TEST(BmicResultRecord, DecodesWholeRecordsOnly) {
    const std::vector<VK_BYTE> bytes = {0x02, 0x37, 0x00, 0x02, 0xEF, 0xBE, 0xAD, 0xDE,
                                        1,    0,    0,    0,    0x00, 0x00, 0x00, 0x80};
    BMIC_TEST_RESULT result = {};
    ASSERT_TRUE(QV_DecodeTestResult(pavlin::ByteView(bytes.data(), bytes.size()), &result));
    EXPECT_EQ(result.testId, 2);
    EXPECT_EQ(result.errorCode, 0x37);
    EXPECT_EQ(result.subtestId, 0x0200);
    EXPECT_EQ(result.param1, 0xDEADBEEFu);
    EXPECT_EQ(result.param2, 1u);
    EXPECT_EQ(result.param3, 0x80000000u);

    // A short reply leaves the record as it was: no pass is read from missing bytes.
    BMIC_TEST_RESULT untouched = {};
    untouched.errorCode = 0xEE;
    EXPECT_FALSE(QV_DecodeTestResult(pavlin::ByteView(bytes.data(), bytes.size() - 1), &untouched));
    EXPECT_EQ(untouched.errorCode, 0xEE);
    EXPECT_FALSE(QV_DecodeTestResult(pavlin::ByteView(), &untouched));
}

using BmicSerialLogParse = ToolOutput;

TEST_F(BmicSerialLogParse, EveryKeywordPrintsTheRestOfItsLine) {
    struct Case {
        std::string line;
        std::string out;
    };
    const std::string long_word = std::string(MAX_ARG_LEN, 'w') + "ERROR:";
    const Case cases[] = {
        {"ALERT: Cache signature does not match expected value!",
         "ALERT: Cache signature does not match expected value! \n"},
        {"  WARNING:   Backup power:  msg type =0x200  ", "WARNING: Backup power: msg type =0x200 \n"},
        {"x ERROR: a ERROR: b", "ERROR: a ERROR: b \nERROR: b \n"},
        {"boot complete, no keywords here", ""},
        {"ERROR:", "ERROR:  \n"},
        {"error: ALERT WARNING:: ALERT:x", ""},
        // Words longer than 100 characters are read in pieces of 100.
        {long_word + " tail", "ERROR: tail \n"},
        {"\tALERT: tabs are not blanks", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        char line[MAX_LINE_SIZE] = {};
        std::strncpy(line, c.line.c_str(), sizeof(line) - 1);
        Run([&] { QV_ParseLine(line, sizeof(line)); });
        EXPECT_EQ(stdout_, c.out);
        std::string log = c.out;
        for (size_t at = 0; (at = log.find(" \n", at)) != std::string::npos; at += 4) {
            log.replace(at, 2, " \r\n");
        }
        EXPECT_EQ(log_, log);
    }
}

// The whole log is walked line by line up to its end or its first NUL, never past its size.
TEST_F(BmicSerialLogParse, WalksTheLogToItsEndOrItsFirstNul) {
    const std::string log = "boot\nERROR: one\n" + std::string(300, 'x') + "\nALERT: two";
    auto exact = Exact(log);
    Run([&] { QV_ParseSerialLog(pavlin::ByteView(exact.get(), log.size())); });
    EXPECT_EQ(stdout_, "ERROR: one \nALERT: two \n");

    const char raw[] = "WARNING: kept\n\0ERROR: after the end\n";
    const std::string cut(raw, sizeof(raw) - 1);
    exact = Exact(cut);
    Run([&] { QV_ParseSerialLog(pavlin::ByteView(exact.get(), cut.size())); });
    EXPECT_EQ(stdout_, "WARNING: kept \n");
}

// ---- Arguments of the diagnostic commands -------------------------------------------------------

class BmicArguments : public testing::Test {
protected:
    void SetUp() override {
        saved_count_ = gNumOfControllersFound;
        saved_cda_ = CDAs[0];
        gNumOfControllersFound = 1;
        CDAs[0] = &fake_;
    }
    void TearDown() override {
        gNumOfControllersFound = saved_count_;
        CDAs[0] = saved_cda_;
        pCDA = nullptr;
        gArgc = 0;
        gArgv = nullptr;
    }
    VK_BYTE Call(VK_BYTE (*handler)(), std::vector<std::string> args) {
        args.insert(args.begin(), "quorvel");
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        gArgc = static_cast<int>(argv.size());
        gArgv = argv.data();
        const VK_BYTE result = handler();
        gArgv = nullptr;
        return result;
    }

private:
    int fake_ = 0;
    VK_UINT32 saved_count_ = 0;
    PCDA saved_cda_ = nullptr;
};

// Only refusals: a valid line would send to the stand-in controller.
TEST_F(BmicArguments, RefusalsBeforeAnythingIsSent) {
    struct Case {
        VK_BYTE (*handler)();
        std::vector<std::string> args;
        VK_BYTE result;
    };
    const Case cases[] = {
        {Cli_CacheTest, {"cachetest", "1"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_CacheTest, {"cachetest", "1", "lfsrfill", "5", "x"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_CacheTest, {"cachetest", "1", "bogus", "5"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_CacheTest, {"cachetest", "1", "lfsrfill", "0"}, QV_CMD_ARGS_INVALID_ITERATION_NUM},
        {Cli_CacheTest, {"cachetest", "1", "101"}, QV_CMD_ARGS_INVALID_ITERATION_NUM},
        {Cli_CacheTest, {"cachetest", "9", "lfsrfill", "5"}, QV_CMD_ARGS_INVALID_CTLR_NUM},
        {Cli_MemoryTest, {"memorytest", "1", "walkingones", "5"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_MemoryTest, {"memorytest", "0", "5"}, QV_CMD_ARGS_INVALID_CTLR_NUM},
        {Cli_SasTest, {"sastest", "1", "jtpat", "5"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_SasTest, {"sastest", "1", "-1"}, QV_CMD_ARGS_INVALID_ITERATION_NUM},
        {Cli_SasPatternTest, {"saspatterntest", "1", "wrrdcomp", "5"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_SasPatternTest, {"saspatterntest", "1", "jtpat", "1x"}, QV_CMD_ARGS_INVALID_ITERATION_NUM},
        {Cli_ControllerLedTest, {"ctrlledtest", "1"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_ControllerLedTest, {"ctrlledtest", "1", "0"}, QV_CMD_ARGS_INVALID_ITERATION_NUM},
        {Cli_ControllerLedTest, {"ctrlledtest", "2", "1"}, QV_CMD_ARGS_INVALID_CTLR_NUM},
        {Cli_MramTest, {"mramtest", "1", "fill"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_MramTest, {"mramtest", "1"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_MramTest, {"mramtest", "x", "datafill"}, QV_CMD_ARGS_INVALID_CTLR_NUM},
        {Cli_FWDiagRevision, {"fwdiagrevision"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_FWDiagRevision, {"fwdiagrevision", "1", "1"}, QV_CMD_ARGS_INVALID_SYNTAX},
        {Cli_SOBMessageCounters, {"sobmessagecounters", "3"}, QV_CMD_ARGS_INVALID_CTLR_NUM},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        EXPECT_EQ(Call(c.handler, c.args), c.result) << line;
    }
    gNumOfControllersFound = 0;
    EXPECT_EQ(Call(Cli_CacheTest, {"cachetest", "1", "lfsrfill", "5"}), QV_CMD_ARGS_NO_CTLR);
    EXPECT_EQ(Call(Cli_FWDiagRevision, {"fwdiagrevision", "1"}), QV_CMD_ARGS_NO_CTLR);
}

} // namespace
