// BMIC diagnostic test engine: the diagnostic CDB and payload tables, the send loop, the result
// decoder, the test runners, and the MRAM, diagnostic-revision and message-counter commands.
#ifndef BMIC_H
#define BMIC_H

#include <cstddef>

#include "pavl_bytes.h"
#include "ppavl_commands.h"
#include "ppavl_types.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"

// Test ids (payload byte 0, result byte 0).
#define TESTID_MEMORY_TEST 0x01
#define TESTID_CACHE_TEST 0x02
#define TESTID_DATA_RETENTION_TEST 0x03
#define TESTID_CTRL_LED_TEST 0x05
#define TESTID_SAS_TEST 0x08
#define TESTID_SAS_PATTERN_TEST 0x0C

// Sub-test ids (payload bytes 2-3, result bytes 2-3).
#define SUBTESTID_MEMORY_MOVING_INVERSION_LONG 0x0001
#define SUBTESTID_MEMORY_MOVING_INVERSION_TURBO 0x0002
#define SUBTESTID_MEMORY_MOVING_INVERSION_FBT 0x0004
#define SUBTESTID_MEMORY_CORRECTED_ECC_COUNT 0x0100
#define SUBTESTID_MEMORY_ALLSUBTESTS 0xFFFF
#define SUBTESTID_CACHE_LFSR_FILL 0x0020
#define SUBTESTID_CACHE_PATTERN_FILL 0x0040
#define SUBTESTID_CACHE_WALKING_ONES 0x0080
#define SUBTESTID_CACHE_WALKING_ZEROS 0x0100
#define SUBTESTID_CACHE_DATA_INVERSION 0x0200
#define SUBTESTID_DATA_RETENTION_DATAFILL 0x0001
#define SUBTESTID_DATA_RETENTION_DATAVERIFY 0x0002
#define SUBTESTID_SAS_READWRITECOMPARE 0x0002
#define SUBTESTID_SAS_LONGREADWRITECOMPARE 0x0004
#define SUBTESTID_SASPATTERN_JTPAT 0x0001
#define SUBTESTID_SASPATTERN_RANDOM 0x0002
#define SUBTESTID_SASPATTERN_JTPAT_AND_RANDOM 0x0004
#define SUBTESTID_SASPATTERN_D10_2 0x0008
#define SUBTESTID_SASPATTERN_JTPAT_AND_D10_2 0x0010

// Result codes (result byte 1).
#define DIAG_NO_ERROR 0x00
#define DIAG_ERROR_DATA_MISMATCH 0x01
#define DIAG_ZERO_FILL_FAILED 0x04
#define DIAG_ERROR_LPRAM_ECC_STATUS 0x07
#define DIAG_ERROR_ECC_STATUS 0x09
#define DIAG_RETENTION_BACKUP_ERROR 0x0B
#define DIAG_RETENTION_RESTORE_ERROR 0x0C
#define DIAG_RETENTION_HW_ERROR 0x0D
#define DIAG_RETENTION_PROCEDURE_ERROR 0x0E
#define DIAG_RETENTION_FLUSH_ERROR 0x0F
#define DIAG_CACHE_IN_USE_ERROR 0x32
#define DIAG_PATTERN_FILL_FAILED 0x34
#define DIAG_PATTERN_CHECK_FAILED 0x35
#define DIAG_LFSR_FILL_FAILED 0x37
#define DIAG_ERROR_SMGR_ALLOC_ERROR 0x3D
#define DIAG_ERROR_SAS_DRIVE_MISSING 0x84
#define DIAG_ERROR_SAS_WRITE_FAILED 0x85
#define DIAG_ERROR_SAS_READ_FAILED 0x86
#define DIAG_ERROR_SAS_COMPARE_FAILED 0x87
#define DIAG_ERROR_INVALID_SIZE 0x99
#define DIAG_ERROR_INVALID_SGPIO_DATA 0xA0
#define DIAG_ERROR_NO_SGPIO_DETECTED 0xA1
#define DIAG_INVALID_TEST_ID 0xFF

#define SREQ_DEFAULT_TIMEOUT_INSECS 1
#define BMIC_TEST_NAME_LENGTH 50

// MRAM test.
#define MRAM_DATA_BUFFER_SIZE 1024
#define MRAM_TEST_STARTED 0x01
#define MRAM_TEST_FAILED 0x02
#define MRAM_TEST_WRITE_COMPLETED 0x03
#define MRAM_TEST_READ_COMPLETED 0x04
#define MRAM_TEST_WRITE_ENTIRE_SIZE 0x01
#define MRAM_TEST_VERIFY_ENTIRE_SIZE 0x02

// Serial output buffer parsing.
#define MAX_LINE_SIZE 250
#define MAX_ARG_LEN 100

#pragma pack(push, 1)

// The 16-byte diagnostic CDB. Bytes 7-9 differ from the generic BMIC CDB the platform builds.
typedef struct _BMIC_SCSI_DIAGNOSTIC_CDB {
    VK_BYTE bSCSICommand; // 0x26 reads from the controller, 0x27 otherwise
    VK_BYTE bUnit;
    VK_WORD wParameter1; // with wParameter2: a big-endian detail in bytes 2-5 where a caller sets one
    VK_WORD wParameter2;
    VK_BYTE bBMICCommand;
    VK_BYTE subcmd1;
    VK_BYTE subcmd2; // diagnostic sub-command
    VK_BYTE control;
    VK_WORD wParameter3;
    VK_BYTE bReserved1[4];
} BMIC_SCSI_DIAGNOSTIC_CDB;

// Payload of a test command (little-endian).
typedef struct _BMIC_PAYLOAD_BUF {
    VK_BYTE testId;
    VK_BYTE reserved;
    VK_WORD subTestId;
    VK_DWORD iteration; // always 1: the tool repeats the whole command per iteration
} BMIC_PAYLOAD_BUF;

// Test result read after each carried test command (little-endian).
typedef struct _BMIC_TEST_RESULT {
    VK_BYTE testId;
    VK_BYTE errorCode;
    VK_WORD subtestId;
    VK_DWORD param1;
    VK_DWORD param2;
    VK_DWORD param3;
} BMIC_TEST_RESULT;

#pragma pack(pop)

static_assert(sizeof(BMIC_SCSI_DIAGNOSTIC_CDB) == 16);
static_assert(offsetof(BMIC_SCSI_DIAGNOSTIC_CDB, bBMICCommand) == 6);
static_assert(offsetof(BMIC_SCSI_DIAGNOSTIC_CDB, subcmd2) == 8);
static_assert(offsetof(BMIC_SCSI_DIAGNOSTIC_CDB, control) == 9);
static_assert(offsetof(BMIC_SCSI_DIAGNOSTIC_CDB, wParameter3) == 10);
static_assert(offsetof(BMIC_SCSI_DIAGNOSTIC_CDB, bReserved1) == 12);
static_assert(sizeof(BMIC_PAYLOAD_BUF) == 8);
static_assert(offsetof(BMIC_PAYLOAD_BUF, subTestId) == 2);
static_assert(offsetof(BMIC_PAYLOAD_BUF, iteration) == 4);
static_assert(sizeof(BMIC_TEST_RESULT) == 16);
static_assert(offsetof(BMIC_TEST_RESULT, subtestId) == 2);
static_assert(offsetof(BMIC_TEST_RESULT, param1) == 4);
static_assert(offsetof(BMIC_TEST_RESULT, param3) == 12);

// The first 66 bytes of the 256-byte controller manufacturing record (BMIC 0x82).
typedef struct _DIAG_MANUFACTURING_DATA {
    VK_BYTE WWID[8]; // first byte most significant; NAA 5 in its high nibble
    char SerialNumber[15];
    char SparePartNumber[15];
    VK_BYTE WellnessLog[12];
    VK_BYTE Revision;
    char PartNumber[15];
} DIAG_MANUFACTURING_DATA;

static_assert(sizeof(DIAG_MANUFACTURING_DATA) == 66);
static_assert(offsetof(DIAG_MANUFACTURING_DATA, SerialNumber) == 8);
static_assert(offsetof(DIAG_MANUFACTURING_DATA, SparePartNumber) == 23);
static_assert(offsetof(DIAG_MANUFACTURING_DATA, WellnessLog) == 38);
static_assert(offsetof(DIAG_MANUFACTURING_DATA, Revision) == 50);
static_assert(offsetof(DIAG_MANUFACTURING_DATA, PartNumber) == 51);

// Get-link-errors frame of one controller PHY, tunnelled in BMIC 0x68 (wire format, little-endian).
// The first 28 bytes are the CSMI pass-through header.
#define CSMI_LINK_ERRORS_CONTROL_CODE 22
#define CSMI_LINK_ERRORS_TIMEOUT_INSECS 60

#pragma pack(push, 1)

typedef struct _CSMI_LINK_ERRORS_PT_BUFFER {
    VK_DWORD HeaderLength; // 28
    VK_BYTE Signature[8];
    VK_DWORD Timeout;     // seconds
    VK_DWORD ControlCode; // CSMI_LINK_ERRORS_CONTROL_CODE
    VK_DWORD ReturnCode;  // 0 in the reply: the counters are valid
    VK_DWORD Length;      // bytes after the header: 20
    VK_BYTE bPhyIdentifier;
    VK_BYTE bResetCounts;
    VK_BYTE bReserved[2];
    VK_DWORD uInvalidDwordCount;
    VK_DWORD uRunningDisparityErrorCount;
    VK_DWORD uLossOfDwordSyncCount;
    VK_DWORD uPhyResetProblemCount;
} CSMI_LINK_ERRORS_PT_BUFFER;

#pragma pack(pop)

static_assert(sizeof(CSMI_LINK_ERRORS_PT_BUFFER) == 48);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Signature) == 4);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Timeout) == 12);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, ControlCode) == 16);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, ReturnCode) == 20);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, Length) == 24);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bPhyIdentifier) == 28);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bResetCounts) == 29);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, bReserved) == 30);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uInvalidDwordCount) == 32);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uRunningDisparityErrorCount) == 36);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uLossOfDwordSyncCount) == 40);
static_assert(offsetof(CSMI_LINK_ERRORS_PT_BUFFER, uPhyResetProblemCount) == 44);

// One row of the CDB table; the end row has CDB byte 0 = 0.
typedef struct _BMIC_TEST_SPEC {
    char TestName[BMIC_TEST_NAME_LENGTH];
    BMIC_SCSI_DIAGNOSTIC_CDB bmicCdb;
    VK_UINT16 payloadSize; // shown by PrtBmicTestSpecTable only
} BMIC_TEST_SPEC;

// One row of the payload table; the end row has testId 0.
typedef struct _BMIC_PAYLOAD {
    char diagnosticTestName[BMIC_TEST_NAME_LENGTH];
    BMIC_PAYLOAD_BUF bmicPayloadBuf;
} BMIC_PAYLOAD;

extern BMIC_TEST_SPEC bmicTestSpecTable[];
extern const BMIC_PAYLOAD bmicPayloadTable[];

// Table lookups by exact name; NULL past the end row.
BMIC_SCSI_DIAGNOSTIC_CDB* BmicScsiCdbLookup(const char* test_name);
const BMIC_PAYLOAD_BUF* BmicPayloadLookup(const char* payload_name);
VK_BYTE PrtBmicTestSpecTable(void);

// Fills `request` for a 16-byte CDB. A zero timeout means SREQ_DEFAULT_TIMEOUT_INSECS. The request
// carries a 16-bit size: a larger buffer is refused with NULL and the request left cleared.
SCSIRequest* QV_PopulateSCSIRequest(SCSIRequest* request, void* cdb, EnTransferType transfer_type,
                                    VK_BYTE timeout_sec, void* buffer, VK_UINT32 buffer_size);
// Sends a diagnostic request to the controller; true only when it was carried and the controller
// answered GOOD, so a refused command never reads as a result.
VK_BOOL QV_SendDiagnosticRequest(PCDA cda, SCSIRequest* request);

// The send loop over the selected controller (pCDA); `ctrl_num` is the user's number, for messages.
void QV_ExecuteBMIC(const char* test_name, const char* payload_name, VK_BYTE iterations,
                    EnTransferType transfer_type, int ctrl_num);
void QV_VerifyTestStatus(PCDA cda, int iteration);
// The test result record of a "getteststatus" reply; false, with `result` untouched, when the reply
// is too short to hold it.
bool QV_DecodeTestResult(pavlin::ByteView reply, BMIC_TEST_RESULT* result);
void QV_VerifyTestStatusPrint(const BMIC_TEST_RESULT* result, int iteration);

// Maintenance commands (bmic_maintenance.cpp): each worker takes the data area and the operand text
// and returns a maintenance result code (QV_CMD_SUCCESS, QV_CMD_FAILURE, QV_CMD_FILE_OPEN_ERROR...).
#define MANUFACTURING_RECORD_SIZE 256
#define WWID_NAA 0x50
typedef enum { eREAD = 0x26, eWRITE = 0x27 } EnDirection;
// Fills bytes 0-10 of a 16-byte CDB the caller cleared: operation, detail (bytes 2-5, most
// significant first), opcode, size (bytes 7-8, most significant first).
void ConstructManufacturingDataCdb(VK_BYTE* cdb, VK_BYTE bmic_opcode, VK_UINT32 detail, EnDirection operation,
                                   VK_UINT16 size);
VK_BYTE FlashRomImage(PCDA cda, const char* file_name);
VK_BYTE FlashMFGData(PCDA cda, const char* file_name);
VK_BYTE FlashSeepromNvram(PCDA cda, const char* file_name);
VK_BYTE PreserveCurrentManufacturingData(PCDA cda, const char* file_name);
VK_BYTE SetSerialNumber(PCDA cda, const char* serial_number);
VK_BYTE SetSeepromWWID(PCDA cda, const char* wwid);
VK_BYTE ModifyManufacturingData(PCDA cda, const void* operand, const char* field);
// The steps of the serial-number and WWID edits that touch no controller: the operand text into a
// zeroed operand record (1 or a maintenance code when it is refused), and the edit of a record read
// from the controller (prints the current and new values).
VK_BYTE ParseSerialNumberOperand(const char* serial_number, VK_CONTROLLER_MANUFACTURING_DATA* operand);
VK_BYTE ParseWWIDOperand(const char* wwid, VK_CONTROLLER_MANUFACTURING_DATA* operand);
VK_BYTE EditManufacturingRecord(VK_BYTE* record, size_t record_size, const VK_CONTROLLER_MANUFACTURING_DATA* operand,
                                const char* field);
VK_BYTE ReadManufacturingData(PCDA cda, const char* file_name);
void DecodeCommandReturnStatus(VK_BYTE result);

// Single-sub-test runners: a header line on standard output, then the send loop.
void QV_DiagCacheLFSRfill(int ctrl_num, VK_BYTE iterations);
void QV_DiagCachePatfill(int ctrl_num, VK_BYTE iterations);
void QV_DiagCacheWalkingOnes(int ctrl_num, VK_BYTE iterations);
void QV_DiagCacheWalkingZeros(int ctrl_num, VK_BYTE iterations);
void QV_DiagCacheDataInversion(int ctrl_num, VK_BYTE iterations);
void QV_DiagMemMovingInvLong(int ctrl_num, VK_BYTE iterations);
void QV_DiagMemMovingInvTurbo(int ctrl_num, VK_BYTE iterations);
void QV_DiagMemMovingInvFBT(int ctrl_num, VK_BYTE iterations);
void QV_DiagGetCorrEccCount(int ctrl_num, VK_BYTE iterations);
void QV_DiagWrRdComp(int ctrl_num, VK_BYTE iterations);
void QV_DiagLongWrRdComp(int ctrl_num, VK_BYTE iterations);
void QV_DiagJtpat(int ctrl_num, VK_BYTE iterations);
void QV_DiagRandom(int ctrl_num, VK_BYTE iterations);
void QV_DiagJtpatRandom(int ctrl_num, VK_BYTE iterations);
void QV_DiagD10_2(int ctrl_num, VK_BYTE iterations);
void QV_DiagJtpatD10_2(int ctrl_num, VK_BYTE iterations);
void QV_ControllerLedTest(int ctrl_num, VK_BYTE iterations);

// Whole tests: every sub-test with the full iteration count, in the fixed order.
void QV_CacheTest(int ctrl_num, VK_BYTE iterations);
void QV_MemoryTest(int ctrl_num, VK_BYTE iterations);
void QV_SasTest(int ctrl_num, VK_BYTE iterations);
void QV_SasPatternTest(int ctrl_num, VK_BYTE iterations);

// Data retention after the backup power source status was printed: runs the fill or verify only
// when the source is present and charged, else tells the operator.
void QV_DiagRetentionAfterStatus(VK_BYTE backup_power_status, VK_BOOL data_fill, int ctrl_num);
// Print the backup power status first, then one iteration at most (bmic_retention.cpp).
void QV_DiagRetentionDataFill(int ctrl_num);
void QV_DiagRetentionDataVerify(int ctrl_num);

// MRAM, diagnostic revision and serial-output message counters.
void GenerateData(VK_BYTE* buffer, VK_UINT16 size);
void QV_MRAMTestDataFill(PCDA cda);
void QV_MRAMTestDataVerify(PCDA cda);
void QV_FWDiagRevision(PCDA cda);
void QV_SOBMessageCounters(PCDA cda);
// Prints the event lines of a serial output log (its bytes up to the first NUL).
void QV_ParseSerialLog(pavlin::ByteView text);
// Copies one line of at most MAX_LINE_SIZE - 1 bytes of `text` into `line` (MAX_LINE_SIZE bytes,
// terminated); returns the bytes consumed. A NUL ends the line and is not consumed.
VK_BYTE QV_GetLine(pavlin::ByteView text, char* line);
VK_BYTE QV_GetLine(const char* position, size_t available, char* line);
void QV_ParseLine(char* line, size_t size);

// Controller PHY error counters (showctrlphyerrors).
// The frame asking for the counters of `phy`, as it is sent.
void QV_BuildLinkErrorsFrame(VK_BYTE phy, CSMI_LINK_ERRORS_PT_BUFFER* frame);
// The counters of a returned frame; false, with `frame` untouched, when the reply does not hold the
// whole frame or its ReturnCode reports a failure.
bool QV_DecodeLinkErrors(pavlin::ByteView reply, CSMI_LINK_ERRORS_PT_BUFFER* frame);
// The number of set bits of a connector's PHY map.
VK_BYTE CountPhys(VK_UINT64 phy_map);
// Prints and logs the counters of one controller PHY, or its failure line.
void ShowCtlrPHYErrors(PCDA cda, VK_BYTE phy);

// Command handlers of the diagnostic rows of the command table.
VK_BYTE Cli_CacheTest(void);
VK_BYTE Cli_MemoryTest(void);
VK_BYTE Cli_SasTest(void);
VK_BYTE Cli_SasPatternTest(void);
VK_BYTE Cli_ControllerLedTest(void);
VK_BYTE Cli_MramTest(void);
VK_BYTE Cli_FWDiagRevision(void);
VK_BYTE Cli_SOBMessageCounters(void);
VK_BYTE Cli_DataRetentionTest(void); // bmic_retention.cpp
VK_BYTE Cli_ShowCtrlPHYErrors(void);

#endif
