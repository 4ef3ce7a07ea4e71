// The simulated controller's diagnostics and controller logs: the BMIC diagnostic sub-commands
// (0x42: run a test D1, test result D3, diagnostic revision D7, message counters EB, MRAM 84, host
// manufacturing record D4, PCIe capability registers D8, CPLD programming D9), the
// controller log reads (0x77), pause and resume of background activity (0x98, 0x99) and
// cache-module recovery (0xC3). Every ControllerFirmware answers them from a DiagState.
//
// Scenario JSON: the controller's "extra": {"diag": {...}} (the controller needs "fw", or any
// ControllerFirmware, to answer at all). It is read at the controller's first command; when it is
// present it replaces what a test set through diag_state() before. Unknown keys are errors; the
// error fails every command of this area with EINVAL and is printed once on stderr
// (validate_diag() reports it up front). Numbers may be hex text, bytes hex text or number arrays.
//
//   "diag": {
//     "tests": [{"test": "cache", "subtest": "lfsr_fill", "results": [0, "0x42", {"code": 1}]},
//               {"test": "memory", "subtest": 1, "results": [{"code": 0, "subtest": "0xFFFF"}]}],
//     "default_code": 0,
//     "revision": "05 59 01 00",
//     "message_counters": {"alerts": 1, "errors": 0, "warnings": 1},
//     "mram": {"size": 32768, "fill": "55 AA", "patches": [{"offset": 7, "bytes": "00"}]},
//     "logs": {"serial_output": "boot\nALERT: Cache signature does not match expected value!\n",
//              "crash_dump": {"hex": "DE AD BE EF", "fill_to": 40000},
//              "debug_token": {"hex": "0123456789ABCDEF"},
//              "event_log": {"events": [{"class": 5, "message": "Power on"}], "trailing_bytes": 24,
//                            "reported_sizes": [400]}},
//     "pcie": {"registers": "10 00 02 00 ...", "device_status": "0x0010", "link_status": "0x0083"},
//     "host_mfg": {"signature": "XX", "hex": "5A 51 01"},
//     "cpld": {"write_length": 8},
//     "faults": [{"command": "test", "test": "cache", "subtest": "pattern_fill", "nth": 2, "errno": 5},
//                {"command": "status", "sense": "70 00 05 00 00 00 00 0A 00 00 00 00 24 00"},
//                {"command": "log", "log": "serial_output", "action": "data", "scsi_status": 8}]
//   }
//
// Tests ("tests"): each run of a test (a D1 command the controller carried out) takes the next
// result of the script of its test and sub-test; a run without a script, or past its end, gets
// `default_code`, or when unset 0 for a test and sub-test the controller knows and 0xFF (invalid
// test id) otherwise. A result may report another test or sub-test id and the three parameters.
// A test command refused by a fault runs nothing and takes no result. The result read (D3)
// returns the last run's 16 bytes; before any run: test 0, code 0xFF.
// Test names: memory 1, cache 2, data_retention 3, led 5, sas 8, sas_pattern 12. Sub-test names:
// memory: moving_inversion_long 1, moving_inversion_turbo 2, moving_inversion_fbt 4,
// corrected_ecc_count 0x100, all 0xFFFF; cache: lfsr_fill 0x20, pattern_fill 0x40, walking_ones
// 0x80, walking_zeros 0x100, data_inversion 0x200; data_retention: data_fill 1, data_verify 2;
// led: led 1; sas: write_read_compare 2, long_write_read_compare 4; sas_pattern: jtpat 1, random 2,
// jtpat_random 4, d10_2 8, jtpat_d10_2 0x10.
//
// MRAM: `size` bytes, every byte from `fill` repeated (default 00), then the patches. A fill
// (write, status 1) stores its data and lives as long as the firmware object (one process: a
// launcher run starts again from the scenario). A verify (read, status 1) returns the contents and
// compares them with the test pattern (55 at even, AA at odd offsets of the read): a mismatch is
// CHECK CONDITION, MISCOMPARE (0E/1D/00), the data still sent.
//
// Logs: type 1 crash_dump, 2 serial_output, 4 debug_token, 5 event_log. A log is text (a JSON
// string or "text"), "hex" bytes or "events" (188-byte persistent event records), then
// "trailing_bytes" zeros, repeated up to "fill_to" bytes. "reported_sizes": each size query takes
// the next value as the size it reports (the log's own once they are used up), so the log seems
// to change between the size read and the data read. A data read returns what lies at its
// offset, at most its length: short past the end, CHECK CONDITION (05/24/00) from the end on.
//
// PCIe (D8, read): the 36 capability-register bytes; `registers` replaces them whole, then
// `device_status` (offset 10) and `link_status` (offset 18), the controller's own words, are put
// in little-endian. Default: capability id 0x10, an 8 GT/s x8 link (LinkStatus 0x0083) and no
// errors, the same for the memory controller at 20. Host manufacturing record (D4, read): 255
// bytes; `hex` from offset 0 (zero filled), then `signature` written over the first bytes.
// Default: signature "ZQ". CPLD programming (D9, a 26 CDB with data out): the controller takes
// `write_length` (8) bytes; fewer is 05/1A/00. Each D4, D8 and D9 that reaches the controller is
// kept in DiagActivity::requests (CDB, direction, length, time limit, data out).
//
// Faults ("faults"): `command` is test, status, revision, counters, mram_write, mram_read, log,
// pause, resume, recover_cache, pcie, host_mfg or cpld; `test`/`subtest` narrow test (and status: the test whose result
// it reads), `log`/`action` (size or data) narrow log, `mram_status` (CDB byte 14) narrows the MRAM
// commands. `nth` (1-based) and `count` (0: all from nth) as elsewhere; every matching fault counts
// each command, the first one due fires. Effect: `errno` fails the driver request; `sense` answers
// CHECK CONDITION (or `scsi_status`) with these bytes; `scsi_status` alone another status without
// sense; `data_length` cuts the data in (the command still runs); for cpld, whose data goes out,
// it makes the controller report that many bytes taken. The "fw" faults that name one of
// these BMIC opcodes are checked first.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/controller_fw.h"
#include "qvsim/fw_state.h"
#include "qvsim/scenario.h"

namespace qvsim {

inline constexpr std::uint8_t kBmicDiagnostics = 0x42;
inline constexpr std::uint8_t kBmicControllerLog = 0x77;
inline constexpr std::uint8_t kBmicPauseBackground = 0x98;
inline constexpr std::uint8_t kBmicResumeBackground = 0x99;
inline constexpr std::uint8_t kBmicRecoverCacheModule = 0xC3;

// Diagnostic sub-commands (CDB byte 8 of BMIC 0x42).
inline constexpr std::uint8_t kDiagRunTest = 0xD1;
inline constexpr std::uint8_t kDiagTestResult = 0xD3;
inline constexpr std::uint8_t kDiagRevision = 0xD7;
inline constexpr std::uint8_t kDiagMessageCounters = 0xEB;
inline constexpr std::uint8_t kDiagMram = 0x84;
inline constexpr std::uint8_t kDiagHostMfg = 0xD4;
inline constexpr std::uint8_t kDiagPcieRegisters = 0xD8;
inline constexpr std::uint8_t kDiagCpld = 0xD9;

// Controller log types (CDB byte 1 of 0x77) and actions (CDB byte 9).
inline constexpr std::uint8_t kLogCrashDump = 1, kLogSerialOutput = 2, kLogDebugToken = 4, kLogEventLog = 5;
inline constexpr std::uint8_t kLogActionSize = 0, kLogActionData = 1;

inline constexpr std::size_t kTestResultSize = 16;
inline constexpr std::size_t kEventRecordSize = 188;
inline constexpr std::size_t kPcieRegistersSize = 36;
inline constexpr std::size_t kPcieDeviceStatusOffset = 10, kPcieLinkStatusOffset = 18;
inline constexpr std::size_t kHostMfgSize = 255;

// One answer to a test run. `test` and `subtest` replace the ids the result reports.
struct DiagResult {
    std::uint8_t code = 0;
    std::optional<std::uint8_t> test{};
    std::optional<std::uint16_t> subtest{};
    std::array<std::uint32_t, 3> params{};
};

// The results of one test and sub-test, taken one per run.
struct DiagScript {
    std::uint8_t test = 0;
    std::uint16_t subtest = 0;
    std::vector<DiagResult> results{};
};

// One persistent event record (188 bytes on the wire).
struct DiagEvent {
    std::uint32_t time = 0; // relative controller time
    std::uint16_t class_code = 0, subclass_code = 0, detail_code = 0;
    Bytes specific_data; // at most 64 bytes
    std::string message; // at most 80 characters, NUL padded
    std::uint32_t tag = 0;
    std::uint8_t day = 1, month = 1;
    std::uint16_t year = 2025;
    std::uint32_t seconds = 0;
};
Bytes diag_event_record(const DiagEvent& e);

struct DiagLog {
    Bytes data;
    std::vector<std::uint32_t> reported_sizes; // size query answers, in order
    static DiagLog text(const std::string& t);
    static DiagLog events(const std::vector<DiagEvent>& list);
};

struct DiagMramPatch {
    std::uint32_t offset = 0;
    Bytes bytes;
};

struct DiagMram {
    std::uint32_t size = 32768;
    Bytes fill{0x00};
    std::vector<DiagMramPatch> patches;
    Bytes contents() const;
};

struct DiagFault {
    // test, status, revision, counters, mram_write, mram_read, log, pause, resume or recover_cache
    std::string command{};
    std::optional<std::uint8_t> test{};
    std::optional<std::uint16_t> subtest{};
    std::optional<std::uint8_t> log{};    // log type
    std::optional<std::uint8_t> action{}; // 0 size, 1 data
    std::optional<std::uint8_t> mram_status{};
    unsigned nth = 1, count = 1;
    int err = 0;
    std::optional<std::uint8_t> scsi_status{};
    Bytes sense{};
    std::optional<std::size_t> data_length{};
    unsigned seen = 0; // matching commands so far
};

// One test run the controller carried out.
struct DiagRun {
    std::uint8_t test = 0;
    std::uint16_t subtest = 0;
    std::uint32_t iteration = 0; // as the payload said
    std::uint8_t code = 0;
};

// One D4, D8 or D9 command as it reached the controller.
struct DiagRequest {
    std::uint8_t subcommand = 0; // CDB byte 8
    Bytes cdb;
    Direction direction = Direction::kNone;
    std::size_t length = 0; // data in asked for, or data out sent
    std::uint32_t timeout_sec = 0;
    Bytes data_out;
};

// What the controller did, for tests to look at (not part of the scenario).
struct DiagActivity {
    std::vector<DiagRun> runs;
    std::vector<DiagRequest> requests; // D4, D8, D9
    unsigned cpld_programs = 0;        // D9 commands carried out
    std::optional<std::array<std::uint8_t, kTestResultSize>> last_result;
    Bytes mram; // live contents, made from DiagState::mram at the first MRAM command
    std::vector<std::uint8_t> mram_write_statuses, mram_read_statuses; // CDB byte 14 of each
    unsigned mram_miscompares = 0;
    bool paused = false, hot_plug_paused = false;
    unsigned pauses = 0, resumes = 0, cache_module_recoveries = 0;
};

struct DiagState {
    std::vector<DiagScript> tests;
    std::optional<std::uint8_t> default_code;
    std::array<std::uint8_t, 4> revision{0x02, 0x0E, 0x01, 0x00}; // shown as 2.1.14
    struct Counters {
        std::uint8_t alerts = 0, errors = 0, warnings = 0;
    } message_counters;
    DiagMram mram;
    std::array<std::uint8_t, kPcieRegistersSize> pcie_registers{};
    Bytes host_mfg; // kHostMfgSize bytes
    std::size_t cpld_write_length = 8;
    DiagLog crash_dump, serial_output, debug_token, event_log;
    std::vector<DiagFault> faults;
    DiagActivity activity;

    // A controller with a short console log, a debug token and two events; no crash dump.
    DiagState();

    // Adds results for one test and sub-test (after any it has already).
    DiagState& script(std::uint8_t test, std::uint16_t subtest, std::vector<DiagResult> results);
    // The controller's DeviceStatus and LinkStatus words in pcie_registers.
    DiagState& set_pcie_status(std::uint16_t device_status, std::uint16_t link_status);
    // A zeroed record with `signature` at its start.
    static Bytes host_mfg_record(const std::string& signature);
    DiagLog* log(std::uint8_t type); // nullptr for an unknown type
    const DiagLog* log(std::uint8_t type) const;

    // Throws std::runtime_error naming `where` and the offending key.
    static DiagState from_json(const nlohmann::json& j, const std::string& where = "diag");
    nlohmann::json to_json() const; // the scenario part, not the activity
};

// The diagnostics state a firmware answers from (loaded from extra.diag at its first command).
DiagState& diag_state(ControllerFirmware& fw);

// Parses every controller's extra.diag; throws std::runtime_error on the first error.
void validate_diag(const Scenario& s);

// Sub-command handlers of BMIC 0x42 by direction and CDB byte 8. A later registration of the
// same key replaces the earlier one; sub-commands without a handler get ILLEGAL REQUEST (24 00).
bool register_diag(BmicDirection dir, std::uint8_t subcommand, BmicHandler h);

// Names of the scenario's tests, sub-tests and logs (nullptr / nullopt when unknown).
std::optional<std::uint8_t> diag_test_by_name(const std::string& name);
std::optional<std::uint16_t> diag_subtest_by_name(std::uint8_t test, const std::string& name);
const char* diag_test_name(std::uint8_t test);
const char* diag_subtest_name(std::uint8_t test, std::uint16_t subtest);
bool diag_known_test(std::uint8_t test, std::uint16_t subtest);

} // namespace qvsim
