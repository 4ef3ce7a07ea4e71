// The controller's own hardware diagnostics, driven with BMIC diagnostic CDBs from the tool's
// tables, and the MRAM, diagnostic-revision and serial-output message-counter commands.
#include "bmic.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <span>

#include "cli.h"
#include "ctlrinfo.h"
#include "externs.h"
#include "pavl_tracked.h"
#include "ppavl_platform.h"
#include "ptelm_commands.h"

namespace {

constexpr VK_BYTE kScsiStatusGood = 0x00;
constexpr VK_UINT16 kCommandStatusSuccess = 0x0000;

constexpr BMIC_SCSI_DIAGNOSTIC_CDB Cdb(VK_BYTE scsi_command, VK_BYTE bmic_command, VK_BYTE subcommand,
                                       VK_BYTE control) {
    BMIC_SCSI_DIAGNOSTIC_CDB cdb{};
    cdb.bSCSICommand = scsi_command;
    cdb.bBMICCommand = bmic_command;
    cdb.subcmd2 = subcommand;
    cdb.control = control;
    return cdb;
}

constexpr BMIC_PAYLOAD_BUF Payload(VK_BYTE test_id, VK_WORD subtest_id) {
    return BMIC_PAYLOAD_BUF{test_id, 0, subtest_id, 1};
}

} // namespace

BMIC_TEST_SPEC bmicTestSpecTable[] = {
    {"memorytest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"cachetest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"dataretentiontest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"sastest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"saspatterntest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"getteststatus", Cdb(0x26, 0x42, 0xD3, 0x01), 36},
    {"getavailabletests", Cdb(0x26, 0x42, 0xD0, 0x01), 36},
    {"readI2CHostMFG", Cdb(0x26, 0x42, 0xD4, 0x02), 256},
    {"readPCIeValues", Cdb(0x26, 0x42, 0xD8, 0x01), 36},
    {"verifycpld", Cdb(0x26, 0x42, 0xD9, 0x01), 0},
    {"readMRAM", Cdb(0x26, 0x42, 0x84, 0x00), 0},
    {"writeMRAM", Cdb(0x27, 0x42, 0x84, 0x00), 0},
    {"ctlrPHYerrors", Cdb(0x27, 0x68, 0xD1, 0x00), 0},
    {"controllerledtest", Cdb(0x27, 0x42, 0xD1, 0x01), 0},
    {"fwdiagrevision", Cdb(0x26, 0x42, 0xD7, 0x00), 4},
    {"SOBmessagecounters", Cdb(0x26, 0x42, 0xEB, 0x00), 3},
    {"NULL", Cdb(0x00, 0x00, 0x00, 0x00), 0},
};

const BMIC_PAYLOAD bmicPayloadTable[] = {
    {"CACHE_LFSR_FILL", Payload(TESTID_CACHE_TEST, SUBTESTID_CACHE_LFSR_FILL)},
    {"CACHE_PATTERN_FILL", Payload(TESTID_CACHE_TEST, SUBTESTID_CACHE_PATTERN_FILL)},
    {"CACHE_WALKING_ONES", Payload(TESTID_CACHE_TEST, SUBTESTID_CACHE_WALKING_ONES)},
    {"CACHE_WALKING_ZEROS", Payload(TESTID_CACHE_TEST, SUBTESTID_CACHE_WALKING_ZEROS)},
    {"CACHE_DATA_INVERSION", Payload(TESTID_CACHE_TEST, SUBTESTID_CACHE_DATA_INVERSION)},
    {"MEM_MOVING_INVR_LONG", Payload(TESTID_MEMORY_TEST, SUBTESTID_MEMORY_MOVING_INVERSION_LONG)},
    {"MEM_MOVING_INVR_TURBO", Payload(TESTID_MEMORY_TEST, SUBTESTID_MEMORY_MOVING_INVERSION_TURBO)},
    {"MEM_MOVING_INVR_FBT", Payload(TESTID_MEMORY_TEST, SUBTESTID_MEMORY_MOVING_INVERSION_FBT)},
    {"GET_CORRECTED_ECC_COUNT", Payload(TESTID_MEMORY_TEST, SUBTESTID_MEMORY_CORRECTED_ECC_COUNT)},
    {"DATA_FILL", Payload(TESTID_DATA_RETENTION_TEST, SUBTESTID_DATA_RETENTION_DATAFILL)},
    {"DATA_VERIFY", Payload(TESTID_DATA_RETENTION_TEST, SUBTESTID_DATA_RETENTION_DATAVERIFY)},
    {"CONTROLLER_LED_TEST", Payload(TESTID_CTRL_LED_TEST, 0x0001)},
    {"SAS_WR_RD_COMP", Payload(TESTID_SAS_TEST, SUBTESTID_SAS_READWRITECOMPARE)},
    {"SAS_LONG_WR_RD_COMP", Payload(TESTID_SAS_TEST, SUBTESTID_SAS_LONGREADWRITECOMPARE)},
    {"SAS_JTPAT", Payload(TESTID_SAS_PATTERN_TEST, SUBTESTID_SASPATTERN_JTPAT)},
    {"SAS_RANDOM", Payload(TESTID_SAS_PATTERN_TEST, SUBTESTID_SASPATTERN_RANDOM)},
    {"SAS_JTPAT_RANDOM", Payload(TESTID_SAS_PATTERN_TEST, SUBTESTID_SASPATTERN_JTPAT_AND_RANDOM)},
    {"SAS_HIFH_FREQ", Payload(TESTID_SAS_PATTERN_TEST, SUBTESTID_SASPATTERN_D10_2)},
    {"SAS_JTPAT_D10.2", Payload(TESTID_SAS_PATTERN_TEST, SUBTESTID_SASPATTERN_JTPAT_AND_D10_2)},
    {"NULL", BMIC_PAYLOAD_BUF{0, 0, 0, 0}},
};

namespace {

struct ErrorCodeText {
    VK_BYTE code;
    const char* log_name;
    const char* text;
};

constexpr ErrorCodeText kErrorCodes[] = {
    {DIAG_NO_ERROR, "DIAG_NO_ERROR", "PASS - No Error"},
    {DIAG_ERROR_DATA_MISMATCH, "DIAG_ERROR_DATA_MISMATCH", "FAIL - Data Mismatch"},
    {DIAG_ZERO_FILL_FAILED, "DIAG_ZERO_FILL_FAILED", "FAIL - Zero Fill failure"},
    {DIAG_ERROR_LPRAM_ECC_STATUS, "DIAG_ERROR_LPRAM_ECC_STATUS", "FAIL - LRAM ECC Status Error"},
    {DIAG_ERROR_ECC_STATUS, "DIAG_ERROR_ECC_STATUS", "FAIL - ECC Status Error"},
    {DIAG_RETENTION_BACKUP_ERROR, "DIAG_RETENTION_BACKUP_ERROR", "FAIL - Data Retention Backup Error"},
    {DIAG_RETENTION_RESTORE_ERROR, "DIAG_RETENTION_RESTORE_ERROR", "FAIL - Data Retention Restore Error"},
    {DIAG_RETENTION_HW_ERROR, "DIAG_RETENTION_HW_ERROR", "FAIL - Data Retention Hardware Error"},
    {DIAG_RETENTION_PROCEDURE_ERROR, "DIAG_RETENTION_PROCEDURE_ERROR",
     "FAIL - Data Retention Procedure Error"},
    {DIAG_RETENTION_FLUSH_ERROR, "DIAG_RETENTION_FLUSH_ERROR", "FAIL - Data Retention Flush Error"},
    {DIAG_CACHE_IN_USE_ERROR, "DIAG_CACHE_IN_USE_ERROR", "FAIL - Data Retention Cache In Use Error"},
    {DIAG_PATTERN_FILL_FAILED, "DIAG_PATTERN_FILL_FAILED", "FAIL - Pattern Fill Failure"},
    {DIAG_PATTERN_CHECK_FAILED, "DIAG_PATTERN_CHECK_FAILED", "FAIL - Pattern Check Failure"},
    {DIAG_LFSR_FILL_FAILED, "DIAG_LFSR_FILL_FAILED", "FAIL - LFSR Fill Failure"},
    {DIAG_ERROR_SMGR_ALLOC_ERROR, "DIAG_ERROR_SMGR_ALLOC_ERROR", "FAIL - SMGR Alloc Error"},
    {DIAG_ERROR_SAS_DRIVE_MISSING, "DIAG_ERROR_SAS_DRIVE_MISSING", "FAIL - SAS Drive Missing"},
    {DIAG_ERROR_SAS_WRITE_FAILED, "DIAG_ERROR_SAS_WRITE_FAILED", "FAIL - SAS Write Failed"},
    {DIAG_ERROR_SAS_READ_FAILED, "DIAG_ERROR_SAS_READ_FAILED", "FAIL - SAS Read Failure"},
    {DIAG_ERROR_SAS_COMPARE_FAILED, "DIAG_ERROR_SAS_COMPARE_FAILED", "FAIL - SAS Compare Failure"},
    {DIAG_ERROR_INVALID_SIZE, "DIAG_ERROR_INVALID_SIZE", "FAIL - Invalid Size"},
    {DIAG_ERROR_INVALID_SGPIO_DATA, "DIAG_ERROR_INVALID_SGPIO_DATA", "FAIL - Invalid SGPIO Data"},
    {DIAG_ERROR_NO_SGPIO_DETECTED, "DIAG_ERROR_NO_SGPIO_DETECTED", "FAIL - No SGPIO Detected "},
    {DIAG_INVALID_TEST_ID, "DIAG_INVALID_TEST_ID", "FAIL - Invalid Test ID"},
};

struct SubtestLogName {
    VK_WORD id;
    const char* name;
};

constexpr SubtestLogName kMemorySubtests[] = {
    {SUBTESTID_MEMORY_MOVING_INVERSION_LONG, "MEMORY_MOVING_INVERSION_LONG"},
    {SUBTESTID_MEMORY_MOVING_INVERSION_TURBO, "MEMORY_MOVING_INVERSION_TURBO"},
    {SUBTESTID_MEMORY_MOVING_INVERSION_FBT, "MEMORY_MOVING_INVERSION_FBT"},
    {SUBTESTID_MEMORY_CORRECTED_ECC_COUNT, "MEMORY_CORRECTED_ECC_COUNT"},
    {SUBTESTID_MEMORY_ALLSUBTESTS, "MEMORY_ALLSUBTESTS"},
};

// The cache test logs its sub-test 2 under the memory test's name.
constexpr SubtestLogName kCacheSubtests[] = {
    {0x0002, "MEMORY_MOVING_INVERSION_TURBO"},
    {SUBTESTID_CACHE_LFSR_FILL, "CACHE_LFSR_FILL"},
    {SUBTESTID_CACHE_PATTERN_FILL, "CACHE_PATTERN_FILL"},
    {SUBTESTID_CACHE_WALKING_ONES, "CACHE_WALKING_ONES"},
    {SUBTESTID_CACHE_WALKING_ZEROS, "CACHE_WALKING_ZEROS"},
    {SUBTESTID_CACHE_DATA_INVERSION, "CACHE_DATA_INVERSION"},
};

constexpr SubtestLogName kDataRetentionSubtests[] = {
    {SUBTESTID_DATA_RETENTION_DATAFILL, "DATA_RETENTION_DATAFILL"},
    {SUBTESTID_DATA_RETENTION_DATAVERIFY, "DATA_RETENTION_DATAVERIFY"},
};

constexpr SubtestLogName kSasSubtests[] = {
    {SUBTESTID_SAS_READWRITECOMPARE, "SAS_READWRITECOMPARE"},
    {SUBTESTID_SAS_LONGREADWRITECOMPARE, "SAS_LONGREADWRITECOMPARE"},
};

constexpr SubtestLogName kSasPatternSubtests[] = {
    {SUBTESTID_SASPATTERN_JTPAT, "SASPATTERN_JTPAT"},
    {SUBTESTID_SASPATTERN_RANDOM, "SASPATTERN_RANDOM"},
    {SUBTESTID_SASPATTERN_JTPAT_AND_RANDOM, "SASPATTERN_JTPAT_AND_RANDOM"},
    {SUBTESTID_SASPATTERN_D10_2, "SASPATTERN_D10_2"},
    {SUBTESTID_SASPATTERN_JTPAT_AND_D10_2, "SASPATTERN_JTPAT_AND_D10_2"},
};

struct TestLogName {
    VK_BYTE id;
    const char* name;
    std::span<const SubtestLogName> subtests;
};

constexpr TestLogName kTests[] = {
    {TESTID_MEMORY_TEST, "MEMORY_TEST", kMemorySubtests},
    {TESTID_CACHE_TEST, "CACHE_TEST", kCacheSubtests},
    {TESTID_DATA_RETENTION_TEST, "DATA_RETENTION_TEST", kDataRetentionSubtests},
    {TESTID_SAS_TEST, "SAS_TEST", kSasSubtests},
    {TESTID_SAS_PATTERN_TEST, "SAS_PATTERN_TEST", kSasPatternSubtests},
};

void LogTestAndSubtest(const BMIC_TEST_RESULT& result) {
    for (const TestLogName& test : kTests) {
        if (test.id != result.testId) {
            continue;
        }
        QV_Log("%s [%02xh] / ", test.name, result.testId);
        for (const SubtestLogName& subtest : test.subtests) {
            if (subtest.id == result.subtestId) {
                QV_Log("%s [%03xh] \r\n", subtest.name, result.subtestId);
                return;
            }
        }
        QV_Log("UNKNOWN SUBTEST ID [%03xh] \r\n", result.subtestId);
        return;
    }
    QV_Log("UNKNOWN TEST ID [%02xh] \r\n", result.testId);
}

void PrintAndLogErrorCode(VK_BYTE code) {
    for (const ErrorCodeText& entry : kErrorCodes) {
        if (entry.code == code) {
            QV_ReportOut("%s", entry.text);
            QV_Log("%s [%04x] \r\n", entry.log_name, code);
            return;
        }
    }
    QV_ReportOut("FAIL - Unknown Error Code");
    QV_Log("UNKNOWN ERROR CODE [%04x] \r\n", code);
}

// One single-sub-test runner: its header on standard output, then the send loop.
void RunSubtest(const char* header, const char* test_name, const char* payload_name, int ctrl_num,
                VK_BYTE iterations) {
    QV_ReportOut(header, ctrl_num, iterations);
    QV_ExecuteBMIC(test_name, payload_name, iterations, eDATA_TRANSFER_OUT, ctrl_num);
}

// ---- MRAM -----------------------------------------------------------------------------------------

constexpr const char* kMramFillName = "MRAM Test Data Fill";
constexpr const char* kMramVerifyName = "MRAM Test Data Verify";
constexpr size_t kMramStatusByte = 14;
constexpr size_t kMramKindByte = 15;

// Offset 0 in bytes 2-5, the length in bytes 10-13 (byte 10 zero, then 24 bits most significant
// first), the test status and kind in bytes 14 and 15.
void PrepareMramCdb(BMIC_SCSI_DIAGNOSTIC_CDB* cdb, VK_BYTE kind) {
    pavlin::ByteSpan bytes(cdb, sizeof(*cdb));
    bytes.put_be32(2, 0);
    bytes.put_be32(10, MRAM_DATA_BUFFER_SIZE & 0x00FFFFFF);
    bytes.put8(kMramStatusByte, MRAM_TEST_STARTED);
    bytes.put8(kMramKindByte, kind);
}

void SetMramStatus(BMIC_SCSI_DIAGNOSTIC_CDB* cdb, VK_BYTE status) {
    pavlin::ByteSpan(cdb, sizeof(*cdb)).put8(kMramStatusByte, status);
}

bool SendMram(PCDA cda, BMIC_SCSI_DIAGNOSTIC_CDB* cdb, EnTransferType transfer_type, VK_BYTE* data) {
    SCSIRequest request;
    return QV_PopulateSCSIRequest(&request, cdb, transfer_type, SREQ_DEFAULT_TIMEOUT_INSECS, data,
                                  MRAM_DATA_BUFFER_SIZE) != nullptr &&
           QV_SendDiagnosticRequest(cda, &request);
}

void PrintMramVerdict(const char* name, bool failed) {
    if (failed) {
        QV_Report("%s - FAIL \n", "%s - FAIL \r\n", name);
    } else {
        QV_Report("%s - PASS \n", "%s - PASS \r\n", name);
    }
}

// ---- Serial output buffer -------------------------------------------------------------------------

constexpr int kStarLineLength = 77;
constexpr const char* kEventKeywords[] = {"ALERT:", "ERROR:", "WARNING:"};

bool IsEventKeyword(const char* word) {
    for (const char* keyword : kEventKeywords) {
        if (std::strcmp(word, keyword) == 0) {
            return true;
        }
    }
    return false;
}

void PrintStarLine(bool to_log) {
    char stars[kStarLineLength + 1];
    std::memset(stars, '*', kStarLineLength);
    stars[kStarLineLength] = '\0';
    if (to_log) {
        QV_Log("%s \r\n", stars);
    } else {
        QV_ReportOut("%s \n", stars);
    }
}

} // namespace

// ---- Tables ---------------------------------------------------------------------------------------

BMIC_SCSI_DIAGNOSTIC_CDB* BmicScsiCdbLookup(const char* test_name) {
    if (test_name == nullptr) {
        return nullptr;
    }
    for (BMIC_TEST_SPEC* row = bmicTestSpecTable; row->bmicCdb.bSCSICommand != 0; ++row) {
        if (std::strcmp(row->TestName, test_name) == 0) {
            return &row->bmicCdb;
        }
    }
    return nullptr;
}

const BMIC_PAYLOAD_BUF* BmicPayloadLookup(const char* payload_name) {
    if (payload_name == nullptr) {
        return nullptr;
    }
    for (const BMIC_PAYLOAD* row = bmicPayloadTable; row->bmicPayloadBuf.testId != 0; ++row) {
        if (std::strcmp(row->diagnosticTestName, payload_name) == 0) {
            return &row->bmicPayloadBuf;
        }
    }
    return nullptr;
}

VK_BYTE PrtBmicTestSpecTable(void) {
    for (const BMIC_TEST_SPEC* row = bmicTestSpecTable; row->bmicCdb.bSCSICommand != 0; ++row) {
        QV_ReportOut(" %-50s 0x%x 0x%x 0x%x\n", row->TestName, row->bmicCdb.bBMICCommand,
                     row->bmicCdb.control, row->payloadSize);
    }
    return 0;
}

// ---- Requests -------------------------------------------------------------------------------------

SCSIRequest* QV_PopulateSCSIRequest(SCSIRequest* request, void* cdb, EnTransferType transfer_type,
                                    VK_BYTE timeout_sec, void* buffer, VK_UINT32 buffer_size) {
    if (request == nullptr) {
        return nullptr;
    }
    std::memset(request, 0, sizeof(*request));
    // The size travels in 16 bits; a larger buffer would be sent cut short, so it is not sent.
    if (buffer_size > 0xFFFF) {
        return nullptr;
    }
    request->cdb = static_cast<VK_UINT8*>(cdb);
    request->cdb_size = sizeof(BMIC_SCSI_DIAGNOSTIC_CDB);
    request->transfer_type = transfer_type;
    request->timeout_sec = timeout_sec != 0 ? timeout_sec : SREQ_DEFAULT_TIMEOUT_INSECS;
    request->io_buffer = static_cast<VK_UINT8*>(buffer);
    request->io_buffer_size = buffer_size;
    return request;
}

VK_BOOL QV_SendDiagnosticRequest(PCDA cda, SCSIRequest* request) {
    if (request == nullptr || !VK_SendControllerSCSICommand(cda, request)) {
        return kFalse;
    }
    // Every diagnostic request has its exact size: a short transfer is no result either.
    return request->scsi_status == kScsiStatusGood && request->command_status == kCommandStatusSuccess ? kTrue
                                                                                                       : kFalse;
}

// ---- Send loop and results ------------------------------------------------------------------------

void QV_ExecuteBMIC(const char* test_name, const char* payload_name, VK_BYTE iterations,
                    EnTransferType transfer_type, int ctrl_num) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* cdb = BmicScsiCdbLookup(test_name);
    const BMIC_PAYLOAD_BUF* payload = BmicPayloadLookup(payload_name);
    if (cdb == nullptr || payload == nullptr) {
        return;
    }
    for (int i = 1; i <= iterations; ++i) {
        // Fresh copies each time: the request's outputs and any transport rewrite stay per iteration.
        BMIC_SCSI_DIAGNOSTIC_CDB command = *cdb;
        BMIC_PAYLOAD_BUF data = *payload;
        SCSIRequest request;
        if (QV_PopulateSCSIRequest(&request, &command, transfer_type, 0, &data, sizeof(data)) != nullptr &&
            QV_SendDiagnosticRequest(pCDA, &request)) {
            QV_VerifyTestStatus(pCDA, i);
        } else {
            QV_Report("Failed to execute %s: %s, CtlrNum: %d, Iteration: %d \n",
                      "Failed to execute %s: %s, CtlrNum: %d, Iteration: %d \r\n", test_name, payload_name,
                      ctrl_num, i);
        }
    }
}

void QV_VerifyTestStatus(PCDA cda, int iteration) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* cdb = BmicScsiCdbLookup("getteststatus");
    if (cdb == nullptr) {
        return;
    }
    BMIC_SCSI_DIAGNOSTIC_CDB command = *cdb;
    VK_BYTE reply[sizeof(BMIC_TEST_RESULT)] = {};
    BMIC_TEST_RESULT result = {};
    SCSIRequest request;
    if (QV_PopulateSCSIRequest(&request, &command, eDATA_TRANSFER_IN, SREQ_DEFAULT_TIMEOUT_INSECS, reply,
                               sizeof(reply)) != nullptr &&
        QV_SendDiagnosticRequest(cda, &request) &&
        QV_DecodeTestResult(pavlin::ByteView(reply, sizeof(reply)), &result)) {
        QV_VerifyTestStatusPrint(&result, iteration);
    }
}

bool QV_DecodeTestResult(pavlin::ByteView reply, BMIC_TEST_RESULT* result) {
    BMIC_TEST_RESULT decoded = {};
    if (result == nullptr || !reply.read_le(offsetof(BMIC_TEST_RESULT, testId), decoded.testId) ||
        !reply.read_le(offsetof(BMIC_TEST_RESULT, errorCode), decoded.errorCode) ||
        !reply.read_le(offsetof(BMIC_TEST_RESULT, subtestId), decoded.subtestId) ||
        !reply.read_le(offsetof(BMIC_TEST_RESULT, param1), decoded.param1) ||
        !reply.read_le(offsetof(BMIC_TEST_RESULT, param2), decoded.param2) ||
        !reply.read_le(offsetof(BMIC_TEST_RESULT, param3), decoded.param3)) {
        return false;
    }
    *result = decoded;
    return true;
}

void QV_VerifyTestStatusPrint(const BMIC_TEST_RESULT* result, int iteration) {
    if (result == nullptr) {
        return;
    }
    QV_Log(" \rTestid/subtestid : ");
    LogTestAndSubtest(*result);
    QV_Report("  Result: Iteration: %d ", "Result: Iteration: %d ", iteration);
    PrintAndLogErrorCode(result->errorCode);
    QV_ReportOut("\n");
}

// ---- Runners --------------------------------------------------------------------------------------

void QV_DiagCacheLFSRfill(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("CacheTest : LFSR Cache Fill ctrlNum: %d, iteration %d\n", "cachetest", "CACHE_LFSR_FILL",
               ctrl_num, iterations);
}

void QV_DiagCachePatfill(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("CacheTest : Pattern Fill ctrlNum: %d, iteration %d\n", "cachetest", "CACHE_PATTERN_FILL",
               ctrl_num, iterations);
}

void QV_DiagCacheWalkingOnes(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("CacheTest : Walking Ones ctrlNum: %d, iteration %d\n", "cachetest", "CACHE_WALKING_ONES",
               ctrl_num, iterations);
}

void QV_DiagCacheWalkingZeros(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("CacheTest : Walking Zeros ctrlNum: %d, iteration %d\n", "cachetest", "CACHE_WALKING_ZEROS",
               ctrl_num, iterations);
}

void QV_DiagCacheDataInversion(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("CacheTest : Data Inversion ctrlNum: %d, iteration %d\n", "cachetest", "CACHE_DATA_INVERSION",
               ctrl_num, iterations);
}

void QV_DiagMemMovingInvLong(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("MemoryTest : Moving Inversion Long ctrlNum: %d, iteration %d\n", "memorytest",
               "MEM_MOVING_INVR_LONG", ctrl_num, iterations);
}

void QV_DiagMemMovingInvTurbo(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("MemoryTest : Moving Inversion Turbo ctrlNum: %d, iteration %d\n", "memorytest",
               "MEM_MOVING_INVR_TURBO", ctrl_num, iterations);
}

void QV_DiagMemMovingInvFBT(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("MemoryTest : Moving Inversion FBT ctrlNum: %d, iteration %d\n", "memorytest",
               "MEM_MOVING_INVR_FBT", ctrl_num, iterations);
}

void QV_DiagGetCorrEccCount(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("MemoryTest : Get Corrected ECC Count ctrlNum: %d, iteration %d\n", "memorytest",
               "GET_CORRECTED_ECC_COUNT", ctrl_num, iterations);
}

void QV_DiagWrRdComp(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasTest : Write Read Compare: ctrlNum: %d, iteration %d\n", "sastest", "SAS_WR_RD_COMP",
               ctrl_num, iterations);
}

void QV_DiagLongWrRdComp(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasTest : Long Write Read Compare: ctrlNum: %d, iteration %d\n", "sastest",
               "SAS_LONG_WR_RD_COMP", ctrl_num, iterations);
}

void QV_DiagJtpat(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasPatternTest : JTPAT: ctrlNum : %d, iteration %d\n", "saspatterntest", "SAS_JTPAT",
               ctrl_num, iterations);
}

void QV_DiagRandom(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasPatternTest : Random: ctrlNum : %d, iteration %d\n", "saspatterntest", "SAS_RANDOM",
               ctrl_num, iterations);
}

void QV_DiagJtpatRandom(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasPatternTest : JTPAT Random: ctrlNum : %d, iteration %d\n", "saspatterntest",
               "SAS_JTPAT_RANDOM", ctrl_num, iterations);
}

void QV_DiagD10_2(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasPatternTest : D10.2 HIGH FREQ: ctrlNum : %d, iteration %d\n", "saspatterntest",
               "SAS_HIFH_FREQ", ctrl_num, iterations);
}

void QV_DiagJtpatD10_2(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("SasPatternTest : JTPAT D10.2 HIGH FREQ: ctrlNum : %d, iteration %d\n", "saspatterntest",
               "SAS_JTPAT_D10.2", ctrl_num, iterations);
}

void QV_ControllerLedTest(int ctrl_num, VK_BYTE iterations) {
    RunSubtest("ControllerLedTest : ctrlNum: %d, iteration %d\n", "controllerledtest", "CONTROLLER_LED_TEST",
               ctrl_num, iterations);
}

void QV_CacheTest(int ctrl_num, VK_BYTE iterations) {
    QV_DiagCacheLFSRfill(ctrl_num, iterations);
    QV_DiagCachePatfill(ctrl_num, iterations);
    QV_DiagCacheWalkingOnes(ctrl_num, iterations);
    QV_DiagCacheWalkingZeros(ctrl_num, iterations);
    QV_DiagCacheDataInversion(ctrl_num, iterations);
}

void QV_MemoryTest(int ctrl_num, VK_BYTE iterations) {
    QV_DiagMemMovingInvLong(ctrl_num, iterations);
    QV_DiagMemMovingInvTurbo(ctrl_num, iterations);
    QV_DiagMemMovingInvFBT(ctrl_num, iterations);
    QV_DiagGetCorrEccCount(ctrl_num, iterations);
}

void QV_SasTest(int ctrl_num, VK_BYTE iterations) {
    QV_DiagWrRdComp(ctrl_num, iterations);
    QV_DiagLongWrRdComp(ctrl_num, iterations);
}

void QV_SasPatternTest(int ctrl_num, VK_BYTE iterations) {
    QV_DiagJtpat(ctrl_num, iterations);
    QV_DiagRandom(ctrl_num, iterations);
    QV_DiagJtpatRandom(ctrl_num, iterations);
    QV_DiagD10_2(ctrl_num, iterations);
    QV_DiagJtpatD10_2(ctrl_num, iterations);
}

void QV_DiagRetentionAfterStatus(VK_BYTE backup_power_status, VK_BOOL data_fill, int ctrl_num) {
    constexpr VK_BYTE kPresentAndCharged = 3;
    if (backup_power_status == kPresentAndCharged) {
        QV_ExecuteBMIC("dataretentiontest", data_fill ? "DATA_FILL" : "DATA_VERIFY", 1, eDATA_TRANSFER_OUT,
                       ctrl_num);
        return;
    }
    const char* text =
        data_fill ? "To start data retention test, please ensure a fully charged super-cap is attached"
                  : "To start data retention test, please ensure a fully charged super-cap is attached ";
    QV_ReportOut("%s\n", text);
    QV_Log("%s\n", text);
}

// ---- MRAM, diagnostic revision, message counters ---------------------------------------------------

void GenerateData(VK_BYTE* buffer, VK_UINT16 size) {
    if (buffer == nullptr) {
        return;
    }
    for (VK_UINT16 i = 0; i < size; ++i) {
        buffer[i] = (i % 2 == 0) ? 0x55 : 0xAA;
    }
}

void QV_MRAMTestDataFill(PCDA cda) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup("writeMRAM");
    if (row == nullptr) {
        return;
    }
    VK_BYTE data[MRAM_DATA_BUFFER_SIZE];
    GenerateData(data, sizeof(data));
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *row;
    PrepareMramCdb(&cdb, MRAM_TEST_WRITE_ENTIRE_SIZE);

    bool failed = false;
    if (!SendMram(cda, &cdb, eDATA_TRANSFER_OUT, data)) {
        QV_Report("%s : - MRAM write failure (Status = 0x%x)\n",
                  "%s : - MRAM write failure (Status = 0x%x)\n", kMramFillName, 0);
        failed = true;
    }
    // Tell the controller how the write went; its answer changes nothing.
    SetMramStatus(&cdb, failed ? MRAM_TEST_FAILED : MRAM_TEST_WRITE_COMPLETED);
    // A controller that was not told the test completed has not completed it.
    if (!SendMram(cda, &cdb, eDATA_TRANSFER_OUT, data)) {
        failed = true;
    }
    PrintMramVerdict(kMramFillName, failed);
}

void QV_MRAMTestDataVerify(PCDA cda) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup("readMRAM");
    if (row == nullptr) {
        return;
    }
    VK_BYTE data[MRAM_DATA_BUFFER_SIZE] = {};
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *row;
    PrepareMramCdb(&cdb, MRAM_TEST_VERIFY_ENTIRE_SIZE);

    bool failed = false;
    if (!SendMram(cda, &cdb, eDATA_TRANSFER_IN, data)) {
        QV_Report("%s : - MRAM read failure (Status = 0x%x)\n", "%s : - MRAM read failure(Status = 0x%x)\n",
                  kMramVerifyName, 0);
        failed = true;
    }
    // The controller compares what it sent with the pattern itself; the data goes back to it.
    SetMramStatus(&cdb, failed ? MRAM_TEST_FAILED : MRAM_TEST_READ_COMPLETED);
    // A controller that was not told the test completed has not completed it.
    if (!SendMram(cda, &cdb, eDATA_TRANSFER_OUT, data)) {
        failed = true;
    }
    PrintMramVerdict(kMramVerifyName, failed);
}

void QV_FWDiagRevision(PCDA cda) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup("fwdiagrevision");
    if (row == nullptr) {
        return;
    }
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *row;
    VK_BYTE revision[4] = {};
    SCSIRequest request;
    if (QV_PopulateSCSIRequest(&request, &cdb, eDATA_TRANSFER_IN, SREQ_DEFAULT_TIMEOUT_INSECS, revision,
                               sizeof(revision)) != nullptr &&
        QV_SendDiagnosticRequest(cda, &request)) {
        // Major, then the minor in byte 2 before the build in byte 1.
        const pavlin::ByteView reply(revision, sizeof(revision));
        const int major = reply.u8(0).value_or(0);
        const int minor = reply.u8(2).value_or(0);
        const int build = reply.u8(1).value_or(0);
        QV_Report("Firmware Diag Revision = %d.%d.%d \n", "Firmware Diag Revision = %d.%d.%d \r\n", major,
                  minor, build);
    } else {
        QV_Report("Failed to get Firmware Diag Revision \n", "Failed to get Firmware Diag Revision \r\n");
    }
}

void QV_SOBMessageCounters(PCDA cda) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup("SOBmessagecounters");
    if (row == nullptr) {
        return;
    }
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *row;
    VK_BYTE counters[3] = {};
    SCSIRequest request;
    if (QV_PopulateSCSIRequest(&request, &cdb, eDATA_TRANSFER_IN, SREQ_DEFAULT_TIMEOUT_INSECS, counters,
                               sizeof(counters)) == nullptr ||
        !QV_SendDiagnosticRequest(cda, &request)) {
        QV_Report("Failed to get SOB message counters \n", "Failed to get SOB message counters \r\n");
        return;
    }
    const pavlin::ByteView reply(counters, sizeof(counters));
    const int alerts = reply.u8(0).value_or(0);
    const int errors = reply.u8(1).value_or(0);
    const int warnings = reply.u8(2).value_or(0);
    QV_Report("SOB Message Counters \n", "SOB Message Counters \r\n");
    QV_Report("  Alerts   = %d \n  Errors   = %d \n  Warnings = %d \n",
              "  Alerts   = %d \n  Errors   = %d \n  Warnings = %d \n", alerts, errors, warnings);
    if (alerts == 0 && errors == 0 && warnings == 0) {
        return;
    }

    PrintStarLine(false);
    QV_ReportOut("Parsed events from controller serial log :  \n");
    PrintStarLine(true);
    QV_Log("Parsed events from controller serial log :   \r\n\n");

    VK_DWORD size = 0;
    VK_BYTE* const log = VK_GetControllerSerialOutputBuffer(cda, &size);
    const pavlin::TrackedBuffer owner(log, size);
    if (!owner || size == 0) {
        QV_Report(" **error occured while reading log \n", " **error occured while reading log \r\n");
        return;
    }
    QV_ParseSerialLog(pavlin::ByteView(owner.get(), owner.size()));
}

void QV_ParseSerialLog(pavlin::ByteView text) {
    // The log is not terminated: its size is the only bound, and a NUL ends it early.
    for (size_t position = 0; text.u8(position).value_or(0) != '\0';) {
        char line[MAX_LINE_SIZE] = {};
        const VK_BYTE consumed = QV_GetLine(text.from(position), line);
        if (consumed == 0) {
            break;
        }
        QV_ParseLine(line, sizeof(line));
        position += consumed;
    }
}

VK_BYTE QV_GetLine(pavlin::ByteView text, char* line) {
    if (line == nullptr) {
        return 0;
    }
    const pavlin::ByteView window = text.first(MAX_LINE_SIZE - 1);
    // The line ends at the first NUL or LF inside the window; a line end is consumed but not copied.
    const size_t nul = window.find('\0').value_or(window.size());
    const size_t end = window.first(nul).find('\n').value_or(nul);
    window.copy_to(0, line, end);
    line[end] = '\0';
    const bool at_line_end = end < nul;
    return static_cast<VK_BYTE>(end + (at_line_end ? 1 : 0));
}

VK_BYTE QV_GetLine(const char* position, size_t available, char* line) {
    return QV_GetLine(pavlin::ByteView(position, available), line);
}

void QV_ParseLine(char* line, size_t size) {
    if (line == nullptr || size == 0) {
        return;
    }
    line[size - 1] = '\0';
    QV_AsciiTrimSpace(line, size);
    const size_t length = std::strlen(line);
    for (size_t position = 0; position < length;) {
        char word[MAX_ARG_LEN + 1] = {};
        size_t word_length = 0;
        while (position + word_length < length && word_length < MAX_ARG_LEN &&
               line[position + word_length] != ' ') {
            word[word_length] = line[position + word_length];
            ++word_length;
        }
        position += word_length;
        if (position < length && line[position] == ' ') {
            ++position;
        }
        if (IsEventKeyword(word)) {
            const char* rest = line + position;
            QV_Report("%s %s \n", "%s %s \r\n", word, rest);
        }
    }
}

// ---- Controller PHY error counters ----------------------------------------------------------------

void QV_BuildLinkErrorsFrame(VK_BYTE phy, CSMI_LINK_ERRORS_PT_BUFFER* frame) {
    if (frame == nullptr) {
        return;
    }
    std::memset(frame, 0, sizeof(*frame));
    frame->HeaderLength = offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bPhyIdentifier);
    frame->Timeout = CSMI_LINK_ERRORS_TIMEOUT_INSECS;
    frame->ControlCode = CSMI_LINK_ERRORS_CONTROL_CODE;
    frame->ReturnCode = 0;
    frame->Length = sizeof(*frame) - offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bPhyIdentifier);
    frame->bPhyIdentifier = phy;
}

bool QV_DecodeLinkErrors(pavlin::ByteView reply, CSMI_LINK_ERRORS_PT_BUFFER* frame) {
    if (frame == nullptr || !reply.has(0, sizeof(CSMI_LINK_ERRORS_PT_BUFFER))) {
        return false;
    }
    CSMI_LINK_ERRORS_PT_BUFFER decoded = {};
    const bool whole = reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, HeaderLength), decoded.HeaderLength) &&
                       reply.copy_to(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Signature), decoded.Signature,
                                     sizeof(decoded.Signature)) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Timeout), decoded.Timeout) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, ControlCode), decoded.ControlCode) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, ReturnCode), decoded.ReturnCode) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Length), decoded.Length) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bPhyIdentifier), decoded.bPhyIdentifier) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bResetCounts), decoded.bResetCounts) &&
                       reply.copy_to(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bReserved), decoded.bReserved,
                                     sizeof(decoded.bReserved)) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uInvalidDwordCount),
                                     decoded.uInvalidDwordCount) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uRunningDisparityErrorCount),
                                     decoded.uRunningDisparityErrorCount) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uLossOfDwordSyncCount),
                                     decoded.uLossOfDwordSyncCount) &&
                       reply.read_le(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uPhyResetProblemCount),
                                     decoded.uPhyResetProblemCount);
    // A frame the controller failed keeps the zeros it was sent with: they are no counters.
    if (!whole || decoded.ReturnCode != 0) {
        return false;
    }
    *frame = decoded;
    return true;
}

VK_BYTE CountPhys(VK_UINT64 phy_map) {
    return static_cast<VK_BYTE>(std::popcount(phy_map));
}

void ShowCtlrPHYErrors(PCDA cda, VK_BYTE phy) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup("ctlrPHYerrors");
    if (row == nullptr) {
        return;
    }
    VK_BYTE cdb[sizeof(BMIC_SCSI_DIAGNOSTIC_CDB)];
    std::memcpy(cdb, row, sizeof(cdb));
    cdb[5] = CSMI_LINK_ERRORS_CONTROL_CODE;
    cdb[6] = 0x68;
    cdb[7] = static_cast<VK_BYTE>(sizeof(CSMI_LINK_ERRORS_PT_BUFFER) >> 8);
    cdb[8] = static_cast<VK_BYTE>(sizeof(CSMI_LINK_ERRORS_PT_BUFFER) & 0xFF);
    CSMI_LINK_ERRORS_PT_BUFFER frame;
    QV_BuildLinkErrorsFrame(phy, &frame);
    CSMI_LINK_ERRORS_PT_BUFFER counters = {};
    SCSIRequest request;
    // A frame that was carried but not answered GOOD, or came back short, holds no counters either.
    if (QV_PopulateSCSIRequest(&request, cdb, eDATA_TRANSFER_INOUT, CSMI_LINK_ERRORS_TIMEOUT_INSECS, &frame,
                               sizeof(frame)) != nullptr &&
        QV_SendDiagnosticRequest(cda, &request) &&
        QV_DecodeLinkErrors(pavlin::ByteView(&frame, sizeof(frame)), &counters)) {
        const int number = phy;
        QV_Report("PHY Identifier - %d \n", "PHY Identifier - %d \r\n", number);
        // Counters are unsigned 32-bit: printed as such, they never turn negative.
        QV_Report("  Invalid DWORD count           - %u \n", "  Invalid DWORD count           - %u \r\n",
                  counters.uInvalidDwordCount);
        QV_Report("  Loss of DWORD sync count      - %u \n", "  Loss of DWORD sync count      - %u \r\n",
                  counters.uLossOfDwordSyncCount);
        QV_Report("  PHY reset problem count       - %u \n", "  PHY reset problem count       - %u \r\n",
                  counters.uPhyResetProblemCount);
        QV_Report("  Running disparity error count - %u \n", "  Running disparity error count - %u \r\n",
                  counters.uRunningDisparityErrorCount);
    } else {
        QV_Report("Failed to get details of PHY Identifier %d \n",
                  "Failed to get details of PHY Identifier %d \r\n", static_cast<int>(phy));
    }
}

// ---- Command handlers -----------------------------------------------------------------------------

namespace {

const char* Arg(int index) {
    return QV_GetCommandLine().Word(index);
}

VK_UINT16 Number(int index) {
    return QV_GetCommandLine().Number(index);
}

using Runner = void (*)(int, VK_BYTE);

struct SubtestKeyword {
    const char* keyword;
    Runner runner;
};

// The keyword chooses the sub-test; the list's last runner also takes any keyword the validator let
// through without naming it.
VK_BYTE RunDiagnosticCommand(VK_BYTE test_id, Runner whole_test, std::span<const SubtestKeyword> subtests) {
    const int words = QV_GetCommandLine().count;
    if (words != 4 && words != 5) {
        return QV_CMD_ARGS_INVALID_SYNTAX;
    }
    const VK_BYTE result = ValidateCmdLineArgs(static_cast<VK_BYTE>(words), test_id);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    const int ctrl_num = Number(2);
    if (words == 4) {
        whole_test(ctrl_num, static_cast<VK_BYTE>(Number(3)));
        return QV_CMD_SUCCESS;
    }
    const auto iterations = static_cast<VK_BYTE>(Number(4));
    for (const SubtestKeyword& subtest : subtests) {
        if (&subtest == &subtests.back() || std::strcmp(Arg(3), subtest.keyword) == 0) {
            subtest.runner(ctrl_num, iterations);
            break;
        }
    }
    return QV_CMD_SUCCESS;
}

constexpr SubtestKeyword kCacheKeywords[] = {
    {"lfsrfill", QV_DiagCacheLFSRfill},           {"patternfill", QV_DiagCachePatfill},
    {"walkingones", QV_DiagCacheWalkingOnes},     {"walkingzeros", QV_DiagCacheWalkingZeros},
    {"datainversion", QV_DiagCacheDataInversion},
};

constexpr SubtestKeyword kMemoryKeywords[] = {
    {"movinginversionlong", QV_DiagMemMovingInvLong},
    {"movinginversionturbo", QV_DiagMemMovingInvTurbo},
    {"movinginversionfbt", QV_DiagMemMovingInvFBT},
    {"getcorrectedecccount", QV_DiagGetCorrEccCount},
};

constexpr SubtestKeyword kSasKeywords[] = {
    {"wrrdcomp", QV_DiagWrRdComp},
    {"longwrrdcomp", QV_DiagLongWrRdComp},
};

constexpr SubtestKeyword kSasPatternKeywords[] = {
    {"jtpat", QV_DiagJtpat},
    {"random", QV_DiagRandom},
    {"jtpatrandom", QV_DiagJtpatRandom},
    {"d10.2hfreq", QV_DiagD10_2},
    {"jtpatd10.2hfreq", QV_DiagJtpatD10_2},
};

} // namespace

VK_BYTE Cli_CacheTest(void) {
    return RunDiagnosticCommand(CLI_CACHETEST, QV_CacheTest, kCacheKeywords);
}

VK_BYTE Cli_MemoryTest(void) {
    return RunDiagnosticCommand(CLI_MEMORYTEST, QV_MemoryTest, kMemoryKeywords);
}

VK_BYTE Cli_SasTest(void) {
    return RunDiagnosticCommand(CLI_SASTEST, QV_SasTest, kSasKeywords);
}

VK_BYTE Cli_SasPatternTest(void) {
    return RunDiagnosticCommand(CLI_SASPATTERNTEST, QV_SasPatternTest, kSasPatternKeywords);
}

VK_BYTE Cli_ControllerLedTest(void) {
    const VK_BYTE result = ValidateCmdLineArgs(4, CLI_CONTROLLERLEDTEST);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    QV_ControllerLedTest(Number(2), static_cast<VK_BYTE>(Number(3)));
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_MramTest(void) {
    const VK_BYTE result = ValidateCmdLineArgs(4, CLI_MRAMTEST);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    if (std::strcmp(Arg(3), "datafill") == 0) {
        QV_MRAMTestDataFill(pCDA);
    } else {
        QV_MRAMTestDataVerify(pCDA);
    }
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_FWDiagRevision(void) {
    const VK_BYTE result = ValidateCmdLineArgs(3, CLI_FWDIAGREVISION);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    QV_FWDiagRevision(pCDA);
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_SOBMessageCounters(void) {
    const VK_BYTE result = ValidateCmdLineArgs(3, CLI_SOBMESSAGECOUNTERS);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    QV_SOBMessageCounters(pCDA);
    return QV_CMD_SUCCESS;
}

namespace {

// The frame names a PHY in one byte: PHY numbers past 255 cannot be asked for.
constexpr VK_UINT32 kMaxFramePhys = 256;

void ShowControllerPhyErrors(PCDA cda) {
    VK_UINT32 phys = 0;
    const VK_WORD connectors = VK_GetControllerTotalConnectorCount(cda);
    for (VK_WORD index = 0; index < connectors; ++index) {
        CONTROLLER_CONNECTOR_INFO info;
        std::memset(&info, 0, sizeof(info));
        if (VK_GetControllerConnectorInfo(cda, index, &info)) {
            phys += CountPhys(info.phy_map);
        }
    }
    char vendor[MAX_VENDOR_ID_LEN] = {};
    char family[MAX_FAMILY_ID_LEN] = {};
    char product[MAX_PRODUCT_ID_LEN] = {};
    VK_GetControllerVendorID(cda, vendor, sizeof vendor);
    VK_GetControllerFamilyID(cda, family, sizeof family);
    VK_GetControllerProductID(cda, product, sizeof product);
    QV_Report("Controller Model : %-6s %-10s %-10s \n\n", "Controller Model : %-6s %-10s %-10s \r\n\n",
              vendor, family, product);
    for (VK_UINT32 phy = 0; phy < phys && phy < kMaxFramePhys; ++phy) {
        ShowCtlrPHYErrors(cda, static_cast<VK_BYTE>(phy));
    }
}

} // namespace

VK_BYTE Cli_ShowCtrlPHYErrors(void) {
    return RunControllerWorker(CLI_SHOWCTRLPHYERRORS, ShowControllerPhyErrors);
}
