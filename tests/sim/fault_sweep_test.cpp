// Fault sweep: every command that runs today, on a simulated controller. A clean run records the
// requests the command sends; then each of those requests in turn is failed in each of five ways,
// and the run must end as the tool's text says: no crash, hang or leak, no PASS for what failed,
// its failure line, the exit code of the tool's table, and the rest of the run only where it goes on.
//
// A new command joins with one row of kRows: its command line, the controller's diagnostics, and the
// steps of its own requests (what each prints clean, what it prints failed, what it skips then).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "quorvel_run.h"

namespace {

using json = nlohmann::json;
using qvtest::WorkDir;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";

// ---- The five ways a request fails ---------------------------------------------------------------

enum class Fault { kIoctlEio, kCheckCondition, kShortTransfer, kHostStatus, kCommandStatus };

const char* Name(Fault f) {
    switch (f) {
        case Fault::kIoctlEio:
            return "IoctlEio";
        case Fault::kCheckCondition:
            return "CheckCondition";
        case Fault::kShortTransfer:
            return "ShortTransfer";
        case Fault::kHostStatus:
            return "HostStatus";
        default:
            return "CommandStatus";
    }
}

// CISS command status values, as the driver hands them back in the pass-through record.
constexpr int kCissTargetStatus = 1;
constexpr int kCissDataUnderrun = 2;
constexpr int kCissInvalid = 4;
constexpr int kCissHardwareError = 6;

// One ioctl of a clean run on the controller's node.
struct Request {
    int ioctl = 0;   // 1-based among the node's ioctls
    int command = 0; // 1-based among its pass-through commands; 0 for the other requests
    std::string name;
    std::string cdb;
    std::size_t size = 0;
};

// The controller fault that fails `r` in the way `f`; none when `f` has no meaning for that request
// (only a pass-through command has a SCSI status, a transfer and a command status).
std::optional<json> FaultFor(const Request& r, Fault f) {
    if (f == Fault::kIoctlEio) {
        return json{{"request", 0}, {"nth", r.ioctl}, {"count", 1}, {"errno", 5}};
    }
    if (r.command == 0) {
        return std::nullopt;
    }
    json j = {{"nth", r.command}, {"count", 1}};
    switch (f) {
        case Fault::kCheckCondition: // hardware error, internal target failure
            j["scsi_status"] = 2;
            j["command_status"] = kCissTargetStatus;
            j["sense"] = {0x70, 0, 0x04, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x44, 0};
            break;
        case Fault::kShortTransfer: // half the data moved; the controller reports the underrun
            j["data_in_length"] = r.size / 2;
            j["reported_data_length"] = r.size / 2;
            j["command_status"] = kCissDataUnderrun;
            break;
        case Fault::kHostStatus: // the adapter failed the command
            j["command_status"] = kCissHardwareError;
            break;
        default: // the controller refused the request
            j["command_status"] = kCissInvalid;
            break;
    }
    return j;
}

// ---- What a command prints for each of its requests ----------------------------------------------

// One request of the command. `clean` is what the command prints for it when it goes through (its
// PASS line, when it has one); `failed` what it prints instead when it fails. After a failure the
// command skips the next `skip` requests, or stops (`stop`), or sends the next request with the CDB
// `next_cdb`.
struct Step {
    std::string before; // printed before the request whatever becomes of it
    std::string clean;
    std::string failed;
    int skip = 0;
    bool stop = false;
    std::string next_cdb;
    // Later steps, by index in the row, that are not sent either after this one failed (a skip that
    // is not contiguous: a sequence ends and the command goes on with its closing requests).
    std::vector<size_t> also_skip{};
    // A request whose outcome the command does not look at: the run is a clean one whatever it gets.
    bool harmless = false;
    // A buffer the library reads: it judges the SCSI status only, so a short reply is taken as it
    // came and the run goes on as a clean one.
    bool short_taken = false;
    // A buffer the library reads for the command: a failed read goes out once more right away, and
    // the whole run prints `run_failed` after the banner (`stop` still ends the requests). A short
    // one is taken as it came: the run is a clean one (`short_taken`) or prints `run_short`.
    bool read_again = false;
    std::string run_failed{};
    std::string run_short{};
    // Requests of the clean run sent before the read again goes out.
    int read_again_after = 0;
    // Later points (requests of the clean run after the failed one) where the read goes out once more.
    std::vector<int> read_again_also{};
    // Ways of failing that the reader takes as an answer: the run is a clean one.
    std::vector<Fault> taken{};
};

Step ReadAgain(std::string before, std::string clean, std::string run_failed, bool stop = false) {
    Step s;
    s.before = std::move(before);
    s.clean = std::move(clean);
    s.read_again = true;
    s.run_failed = std::move(run_failed);
    s.short_taken = true;
    s.stop = stop;
    return s;
}

Step LibraryRead(Step s) {
    s.short_taken = true;
    return s;
}

Step ReadAgainShortRuns(std::string clean, std::string run_failed, std::string run_short) {
    Step s = ReadAgain("", std::move(clean), std::move(run_failed));
    s.short_taken = false;
    s.run_short = std::move(run_short);
    return s;
}

// A command of the table: its arguments, the controller's diagnostics, its own requests after the
// start-up reads, and a verdict line that turns when any of them fails.
struct Row {
    std::string name;
    std::vector<std::string> args;
    json diag;
    std::vector<Step> steps;
    std::string verdict_clean;
    std::string verdict_failed;
    int exit_code = 0;
    std::vector<std::pair<std::string, std::string>> files{}; // put in the working directory first
    json fw = json::object();                                      // the controller's firmware fields
    // Every command sends the same start-up requests first; one row sweeps them for all.
    bool sweeps_start_up = false;
};

Step MakeStep(std::string before, std::string clean, std::string failed, int skip = 0, bool stop = false,
              std::string next_cdb = "") {
    Step s;
    s.before = std::move(before);
    s.clean = std::move(clean);
    s.failed = std::move(failed);
    s.skip = skip;
    s.stop = stop;
    s.next_cdb = std::move(next_cdb);
    return s;
}

Row MakeRow(std::string name, std::vector<std::string> args, json diag, std::vector<Step> steps,
            std::string verdict_clean = "", std::string verdict_failed = "") {
    Row r;
    r.name = std::move(name);
    r.args = std::move(args);
    r.diag = std::move(diag);
    r.steps = std::move(steps);
    r.verdict_clean = std::move(verdict_clean);
    r.verdict_failed = std::move(verdict_failed);
    return r;
}

const std::string kSendCdb = "27 00 00 00 00 00 42 00 D1 01 00 00 00 00 00 00";
const std::string kStatusCdb = "26 00 00 00 00 00 42 00 D3 01 00 00 00 00 00 00";

struct Subtest {
    std::string header; // "%d" for the controller number and the iteration count
    std::string payload;
};

// The test send and status read of each sub-test and iteration.
std::vector<Step> Iterations(const std::string& test, const std::vector<Subtest>& subtests, int iterations) {
    std::vector<Step> steps;
    for (const Subtest& s : subtests) {
        char header[200];
        std::snprintf(header, sizeof header, s.header.c_str(), 1, iterations);
        for (int i = 1; i <= iterations; ++i) {
            const std::string n = std::to_string(i);
            steps.push_back(MakeStep(i == 1 ? header : "", "",
                                     "Failed to execute " + test + ": " + s.payload + ", CtlrNum: 1, Iteration: " +
                                         n + " \n",
                                     /*skip*/ 1));
            // A result read that fails prints nothing for its iteration.
            steps.push_back(MakeStep("", "  Result: Iteration: " + n + " PASS - No Error\n", ""));
        }
    }
    return steps;
}

const std::vector<Subtest> kCache = {
    {"CacheTest : LFSR Cache Fill ctrlNum: %d, iteration %d\n", "CACHE_LFSR_FILL"},
    {"CacheTest : Pattern Fill ctrlNum: %d, iteration %d\n", "CACHE_PATTERN_FILL"},
    {"CacheTest : Walking Ones ctrlNum: %d, iteration %d\n", "CACHE_WALKING_ONES"},
    {"CacheTest : Walking Zeros ctrlNum: %d, iteration %d\n", "CACHE_WALKING_ZEROS"},
    {"CacheTest : Data Inversion ctrlNum: %d, iteration %d\n", "CACHE_DATA_INVERSION"}};
const std::vector<Subtest> kMemory = {
    {"MemoryTest : Moving Inversion Long ctrlNum: %d, iteration %d\n", "MEM_MOVING_INVR_LONG"},
    {"MemoryTest : Moving Inversion Turbo ctrlNum: %d, iteration %d\n", "MEM_MOVING_INVR_TURBO"},
    {"MemoryTest : Moving Inversion FBT ctrlNum: %d, iteration %d\n", "MEM_MOVING_INVR_FBT"},
    {"MemoryTest : Get Corrected ECC Count ctrlNum: %d, iteration %d\n", "GET_CORRECTED_ECC_COUNT"}};
const std::vector<Subtest> kSas = {
    {"SasTest : Write Read Compare: ctrlNum: %d, iteration %d\n", "SAS_WR_RD_COMP"},
    {"SasTest : Long Write Read Compare: ctrlNum: %d, iteration %d\n", "SAS_LONG_WR_RD_COMP"}};
const std::vector<Subtest> kSasPattern = {
    {"SasPatternTest : JTPAT: ctrlNum : %d, iteration %d\n", "SAS_JTPAT"},
    {"SasPatternTest : Random: ctrlNum : %d, iteration %d\n", "SAS_RANDOM"},
    {"SasPatternTest : JTPAT Random: ctrlNum : %d, iteration %d\n", "SAS_JTPAT_RANDOM"},
    {"SasPatternTest : D10.2 HIGH FREQ: ctrlNum : %d, iteration %d\n", "SAS_HIFH_FREQ"},
    {"SasPatternTest : JTPAT D10.2 HIGH FREQ: ctrlNum : %d, iteration %d\n", "SAS_JTPAT_D10.2"}};

// Whole tests run once; each keyword twice, so that the run is seen to go on after a failure.
Row Whole(const std::string& command, const std::vector<Subtest>& subtests) {
    return MakeRow(command, {command, "1", "1"}, {}, Iterations(command, subtests, 1));
}

Row Keyword(const std::string& command, const std::string& keyword, const std::vector<Subtest>& subtests,
            size_t index) {
    return MakeRow(command + "_" + keyword, {command, "1", keyword, "2"}, {},
                   Iterations(command, {subtests[index]}, 2));
}

const std::string kStars(77, '*');
const std::string kSerialLog = "POST complete\nALERT: Cache signature does not match expected value!\n"
                               "WARNING: Backup power: msg type =0x200";

// The verifications and reports on the default controller. Replies the library reads leave their
// value empty when they fail; the tool's own reads print their failure lines.
void VerificationsAndReports(std::vector<Row>& rows) {
    const std::string no_file = "WARNING!!! Unable to read configuration file.\nFactory Default values will be used "
                                "for the verification tests.\n";
    const std::string failed_send = "Failed to send request to the controller \n";
    rows.push_back(MakeRow("verifyfwversion", {"verifyfwversion", "1"}, {}, {},
                           "Firmware version verification test: PASS (eValue: 5.32-0/aValue: 5.32-0) \n"));
    rows.back().files = {{"veskroc.cfg", "fwversion 5.32-0\n"}};
    const std::string power = "Powermode verification test : ";
    const std::string unread = power + "FAIL Unable to read the power mode information\n";
    // The default power mode only fills the default field: the warnings stand without it.
    rows.push_back(MakeRow("verifysystempower", {"verifysystempower", "1"}, {},
                           {LibraryRead(MakeStep("", "", unread, 0, true)),
                            LibraryRead(MakeStep("", "", unread, 0, true)),
                            LibraryRead(MakeStep("", power + "PASS\n", power + "PASS\n"))}));
    const std::string temperature = "Controller temperature verification test : ";
    std::string sensors;
    const int readings[] = {28, 61, 44};
    for (int i = 0; i < 3; ++i) {
        sensors += temperature + "Temperature Sensor index " + std::to_string(i) + " - PASS\nSensor Index-" +
                   std::to_string(i) + ": Expected Minimum Temp: " + (i == 1 ? "10" : "5") +
                   " Expected Maximum Temp: " + (i == 1 ? "90" : "85") + " Current Temp: " +
                   std::to_string(readings[i]) + " \n" + std::string(85, '-') + " \n";
    }
    rows.push_back(MakeRow("verifysystemtemperature", {"verifysystemtemperature", "1"}, {},
                           {LibraryRead(MakeStep(no_file, sensors, temperature + "Failed to get Sensors info \n",
                                                 0, true))}));
    rows.push_back(MakeRow("verifycachesize", {"verifycachesize", "1"}, {}, {},
                           "Cache size verification test: PASS (eValue: 3856/aValue: 3856) \n"));
    rows.back().files = {{"veskroc.cfg", "cachesize 3856\n"}};
    rows.push_back(MakeRow("verifypcieconfig", {"verifypcieconfig", "1"}, {},
                           {MakeStep(no_file,
                                     "PCIe Link Speed test: PASS (eValue: 2/aValue: 2) \nPCIe Link Width test: FAIL "
                                     "(eValue: 16/aValue: 8) \n",
                                     failed_send + "PCIe Test failed\n", 0, true)}));
    rows.push_back(MakeRow("pcieintegritytest", {"pcieintegritytest", "1"}, {},
                           {MakeStep("", "PCIe Integrity test - PASS \n",
                                     failed_send + "PCIe Integrity Test failed\n", 0, true)}));
    const std::string mfg = "Manufacturing section verification test - ";
    rows.push_back(MakeRow("verifymfg", {"verifymfg", "1"}, {},
                           {MakeStep("", "", failed_send, 0, true),
                            LibraryRead(MakeStep("", mfg + "PASS\n", mfg + "FAIL\n"))}));
    rows.push_back(MakeRow("verifycpld", {"verifycpld", "1"}, {},
                           {MakeStep("", "CPLD Programming Verification test : - PASS \n",
                                     "CPLD Programming Verification test : - FAIL \n", 0, true)}));
    rows.push_back(MakeRow("getcacheinfo", {"getcacheinfo", "1"}, {}, {},
                           "Cache information \n ControllerMemorySize    : 4096 MB \n ControllerCacheSize     : "
                           "3856 MB \n"));
    rows.push_back(MakeRow("getfwmiscinfo", {"getfwmiscinfo", "1"}, {}, {},
                           "ProductIdBuffer         : PQ-16i Sim \nFirmwareVersion         : 5.32-0\n"
                           "PendingFirmwareVersion  : 5.40-2\nVendorIDBuffer          : QVSIM\n"
                           "HardwareRevision        : B\n"));
    rows.push_back(MakeRow("getpcieinfo", {"getpcieinfo", "1"}, {}, {}, "PCIeGen       : 3\nPCIewidth     : 8\n"));
    rows.push_back(MakeRow("getctrlstatusinfo", {"getctrlstatusinfo", "1"}, {}, {},
                           "Controller Status           : Good\nCache Status                : Not Configured\n"
                           "Controller Config Status    : Good\n"));
    rows.push_back(MakeRow("getbackuppowerstatus", {"getbackuppowerstatus", "1"}, {}, {},
                           "Backup Power Source Status : PresentAndCharging \n"));
    rows.push_back(MakeRow("dataretentiontest", {"dataretentiontest", "1", "datafill"}, {}, {},
                           "Backup Power Source Status : PresentAndCharging \nTo start data retention test, please "
                           "ensure a fully charged super-cap is attached\n"));
    // Without the feature pages there is no family id; without the subsystem reply, no serial number.
    rows.push_back(MakeRow("listcontrollers", {"listcontrollers"}, {},
                           {LibraryRead(MakeStep("Found 1 controller(s)\n  1: QVSIM  ", "QVSIM Gen2 RAID",
                                                 std::string(10, ' '))),
                            LibraryRead(MakeStep(" PQ-16i Sim - Serial Number: ", "QVS0A1B2C3D4", ""))},
                           " \n"));
}

// The firmware, manufacturing-data and SEEPROM maintenance commands. Their own CDBs count only when
// carried, GOOD and whole; the library's flash commands are judged by the SCSI status.
void Maintenance(std::vector<Row>& rows) {
    const std::string sn_ok =
        "Set Controller serial number result : SUCCESS\n\rA reboot will be required for all new values to take "
        "effect.\n";
    rows.push_back(MakeRow("set_sn", {"--set-sn=X1", "1"}, {},
                           {MakeStep("", "Current Controller Serial Number: QVS0A1B2C3D4\nNew Controller Serial Number: X1\n",
                                     "", /*skip*/ 1),
                            MakeStep("", "", "Modifying Manufacturing Data failed\n")},
                           sn_ok, "Set Controller serial number result : FAILED\n"));
    rows.push_back(MakeRow("set_wwid", {"--set-wwid=511122223333ABCD", "1"}, {},
                           {MakeStep("",
                                     "Current Controller SEEPROM WWID:51D7B00000A1B2C0\n"
                                     "New Controller SEEPROM WWID: 511122223333ABCD\n",
                                     "", /*skip*/ 1),
                            MakeStep("", "", "Modifying Manufacturing Data failed\n")},
                           "Set Controller Seeprom WWID result : SUCCESS\n\rA reboot will be required for all new "
                           "values to take effect.\n",
                           "Setting Controller Seeprom WWID : FAILED\n"));
    rows.push_back(MakeRow("read_mfgdata", {"--read-mfgdata=mfg.bin", "1"}, {},
                           {MakeStep("", "", "Read Manufacturing Data Failed\n")},
                           "Read Controller Manufacturing Data status : SUCCESS\n",
                           "Read Controller Manufacturing Data : FAILED\n"));
    const std::string nvram_ok = "Flashing entire SEEPROM NVRAM of Controller : SUCCESS\n\rA reboot will be "
                                 "required for changes to take effect.\n";
    rows.push_back(MakeRow("flash_nvram", {"--flash-nvram=nv.bin", "1"}, {}, {MakeStep("", "", "")}, nvram_ok,
                           "Flashing entire SEEPROM NVRAM of Controller : FAILED\n"));
    rows.back().files = {{"nv.bin", std::string(512, '\x22')}};
    rows.push_back(MakeRow("preserve", {"--preserve=nv.bin", "1"}, {},
                           {MakeStep("", "Get Manufacturing Data : SUCCESS\n", "", /*skip*/ 2),
                            MakeStep("", nvram_ok, "", /*skip*/ 1), MakeStep("", "", "")},
                           "Preserve Current Manufacturing Data of the Controller : SUCCESS\n\rA reboot will be "
                           "required for changes to take effect.\n",
                           "Preserve Current Manufacturing Data of the Controller : FAILED\n"));
    rows.back().files = {{"nv.bin", std::string(512, '\x22')}};
    rows.push_back(MakeRow("flash_mfgdata", {"--flash-mfgdata=m.bin", "1"}, {}, {LibraryRead(MakeStep("", "", ""))},
                           "Flashing Controller Manufacturing Data : SUCCESS\n\rA reboot will be required for "
                           "changes to take effect.\n",
                           "Flashing Controller Manufacturing Data : FAILED\n"));
    rows.back().files = {{"m.bin", std::string(256, '\x11')}};

    // One chunk, no feature pages (so no activation state and no flash-once): pause, validation
    // (free, chunk, validate, free), two flashes (free, chunk, activate, free), resume. A failed
    // free, pause or resume changes nothing; a failed chunk, validation or activation ends that
    // sequence with its free and turns the result, and no later flash is sent.
    auto library = [](Step s) { return LibraryRead(std::move(s)); };
    auto harmless = [] {
        Step s = MakeStep("", "", "");
        s.harmless = true;
        return s;
    };
    auto ends = [&](std::vector<size_t> skipped) {
        Step s = library(MakeStep("", "", ""));
        s.also_skip = std::move(skipped);
        return s;
    };
    std::vector<Step> steps = {harmless(),                           // 0 pause
                               harmless(),                           // 1 free
                               ends({3, 5, 6, 7, 8, 9, 10, 11, 12}), // 2 chunk
                               ends({5, 6, 7, 8, 9, 10, 11, 12}),    // 3 validate
                               harmless(),                           // 4 free
                               harmless(),                           // 5 free
                               ends({7, 9, 10, 11, 12}),             // 6 chunk
                               ends({9, 10, 11, 12}),                // 7 activate
                               harmless(),                           // 8 free
                               harmless(),                           // 9 free
                               ends({11}),                           // 10 chunk
                               library(MakeStep("", "", "")),        // 11 activate
                               harmless(),                           // 12 free
                               harmless()};                          // 13 resume
    // A refused final activation is the only failure after which nothing is skipped.
    rows.push_back(MakeRow("flash", {"--flash=fw.bin", "1"}, {}, steps,
                           "Flashing Controller : SUCCESS\n\rA reboot will be required for changes to take "
                           "effect.\n",
                           "Flashing Controller : FAILED\n"));
    rows.back().files = {{"fw.bin", std::string(100, '\x5A')}};
    rows.back().fw = {{"feature_pages", json::array()}, {"identify", {{"even_more_flags", 0}}}};
}

// The drive and PHY commands on the legacy HBA controller with two SATA drives. The library reads a
// failed drive or connector buffer once more; a short one it takes as it came.
void DriveCommands(std::vector<Row>& rows) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/sim/scenarios/drives_hba.json");
    const json hba = json::parse(in)["controllers"][0]["fw"];

    const std::string header = "Drives connected to the requested controller \n" + std::string(97, '-') + " \n";
    const std::string status = ", Drive status level:Informational:Exposed to OS, Is drive usable:Yes \n";
    const std::string drive0 = "Index:0, Port:Box:Bay 1I:1:4" + status;
    const std::string drive1 = "Index:0, Port:Box:Bay 1I:1:5" + status;
    const std::string list = header + drive0 + drive1;
    rows.push_back(MakeRow("showdrives", {"showdrives", "1"}, {},
                           {ReadAgain(header, drive0, list), // drive 0's record
                            ReadAgain("", drive1, list),     // drive 1's record
                            // The connectors: drive 0 shows none; drive 1 reads them again.
                            ReadAgain("", "", header + "Index:65535, Port:Box:Bay 1I:1:4" + status + drive1)}));
    rows.back().fw = hba;

    const std::string rate0 = "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated "
                              "Transfer Speed: 6.0 Gbps, Result:PASS \n";
    const std::string rate1 = "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated "
                              "Transfer Speed: 3.0 Gbps, Result:FAIL \n";
    // Half a drive record holds the negotiated rate but not the maximum: never a PASS.
    rows.push_back(MakeRow("saslinkratetest", {"saslinkratetest", "1"}, {},
                           {ReadAgainShortRuns(rate0, rate0 + rate1,
                                               "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: "
                                               "UNKNOWN,PHY Negotiated Transfer Speed: 6.0 Gbps, Result:FAIL \n" +
                                                   rate1),
                            ReadAgainShortRuns(rate1, rate0 + rate1,
                                               rate0 + "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer "
                                                       "Speed: UNKNOWN,PHY Negotiated Transfer Speed: 3.0 Gbps, "
                                                       "Result:FAIL \n")}));
    rows.back().fw = hba;

    // The drives' descriptors come from one REPORT PHYSICAL LUNS of every device. When that fails,
    // each drive is looked up on its own before its first TEST UNIT READY, and the run is a clean one.
    auto tur_line = [](int drive, const std::string& index, const std::string& location, const std::string& verdict) {
        return "Drive Number:" + std::to_string(drive) + ", Connector Index:" + index + ", Port:Box:Bay " +
               location + ",  Test Command Execution:" + verdict + " \n";
    };
    const std::string ok0 = tur_line(0, "0", "1I:1:4", "SUCCESS");
    const std::string ok1 = tur_line(1, "0", "1I:1:5", "SUCCESS");
    Step connectors = ReadAgain("", "", tur_line(0, "65535", "1I:1:4", "SUCCESS") + ok1);
    connectors.read_again_after = 3; // drive 1's connector index reads them again
    // The list is taken as it came when answered CHECK CONDITION or cut to half (both drives are in
    // its first half).
    Step lookup = ReadAgain("", "", ok0 + ok1);
    lookup.read_again_also = {2};
    lookup.taken = {Fault::kCheckCondition, Fault::kShortTransfer};
    rows.push_back(MakeRow("testunitready", {"testunitready", "1"}, {},
                           {ReadAgain("", "", ok0 + ok1), ReadAgain("", "", ok0 + ok1), connectors, lookup,
                            MakeStep("", ok0, tur_line(0, "0", "1I:1:4", "FAIL")),
                            MakeStep("", "", ""), // its answer goes to the log only
                            MakeStep("", ok1, tur_line(1, "0", "1I:1:5", "FAIL")),
                            MakeStep("", "", "")}));
    rows.back().fw = hba;

    // Without the connectors there are no PHYs to ask for. Every frame that fails, however it
    // fails, prints its failure line and the walk goes on.
    const std::string model = "Controller Model : ZOLT              VeskRAID 7391 \n\n";
    std::vector<Step> phys = {ReadAgain("", "", model, /*stop*/ true)};
    for (int phy = 0; phy < 8; ++phy) {
        const std::string n = std::to_string(phy);
        const std::string counters = "PHY Identifier - " + n + " \n  Invalid DWORD count           - " +
                                     (phy == 0 ? "3" : "0") +
                                     " \n  Loss of DWORD sync count      - 0 \n  PHY reset problem count       - 0 "
                                     "\n  Running disparity error count - 0 \n";
        phys.push_back(MakeStep(phy == 0 ? model : "", counters, "Failed to get details of PHY Identifier " + n + " \n"));
    }
    rows.push_back(MakeRow("showctrlphyerrors", {"showctrlphyerrors", "1"}, {}, phys));
    rows.back().fw = hba;
    rows.back().fw["phy_errors"] = {{{"phy", 0}, {"invalid_dword", 3}}};
}

std::vector<Row> Rows() {
    std::vector<Row> rows;
    // Start-up alone: nothing of its own after the start-up reads.
    rows.push_back(MakeRow("version", {"version"}, {}, {}, "Quorvel Version = 5.6.1 \n"));
    rows.back().sweeps_start_up = true;
    rows.push_back(Whole("cachetest", kCache));
    for (size_t i = 0; i < kCache.size(); ++i) {
        static const char* const words[] = {"lfsrfill", "patternfill", "walkingones", "walkingzeros",
                                            "datainversion"};
        rows.push_back(Keyword("cachetest", words[i], kCache, i));
    }
    rows.push_back(Whole("memorytest", kMemory));
    for (size_t i = 0; i < kMemory.size(); ++i) {
        static const char* const words[] = {"movinginversionlong", "movinginversionturbo", "movinginversionfbt",
                                            "getcorrectedecccount"};
        rows.push_back(Keyword("memorytest", words[i], kMemory, i));
    }
    rows.push_back(Whole("sastest", kSas));
    rows.push_back(Keyword("sastest", "wrrdcomp", kSas, 0));
    rows.push_back(Keyword("sastest", "longwrrdcomp", kSas, 1));
    rows.push_back(Whole("saspatterntest", kSasPattern));
    for (size_t i = 0; i < kSasPattern.size(); ++i) {
        static const char* const words[] = {"jtpat", "random", "jtpatrandom", "d10.2hfreq", "jtpatd10.2hfreq"};
        rows.push_back(Keyword("saspatterntest", words[i], kSasPattern, i));
    }
    rows.push_back(MakeRow("ctrlledtest", {"ctrlledtest", "1", "2"}, {},
                           Iterations("controllerledtest",
                                      {{"ControllerLedTest : ctrlNum: %d, iteration %d\n", "CONTROLLER_LED_TEST"}}, 2)));
    // The verdict is the test's: a completion notice that is not carried fails it too.
    rows.push_back(MakeRow("mramtest_datafill", {"mramtest", "1", "datafill"}, {},
                           {MakeStep("", "", "MRAM Test Data Fill : - MRAM write failure (Status = 0x0)\n", 0, false,
                                     "27 00 00 00 00 00 42 00 84 00 00 00 04 00 02 01"),
                            MakeStep("", "", "")},
                           "MRAM Test Data Fill - PASS \n", "MRAM Test Data Fill - FAIL \n"));
    rows.push_back(MakeRow("mramtest_dataverify", {"mramtest", "1", "dataverify"}, {{"mram", {{"fill", "55 AA"}}}},
                           {MakeStep("", "", "MRAM Test Data Verify : - MRAM read failure (Status = 0x0)\n", 0,
                                     false, "26 00 00 00 00 00 42 00 84 00 00 00 04 00 02 02"),
                            MakeStep("", "", "")},
                           "MRAM Test Data Verify - PASS \n", "MRAM Test Data Verify - FAIL \n"));
    rows.push_back(MakeRow("fwdiagrevision", {"fwdiagrevision", "1"}, {{"revision", "05 59 01 00"}},
                           {MakeStep("", "Firmware Diag Revision = 5.1.89 \n",
                                     "Failed to get Firmware Diag Revision \n", 0, true)}));
    rows.push_back(MakeRow("sobmessagecounters_zero", {"sobmessagecounters", "1"},
                           {{"message_counters", {{"alerts", 0}, {"errors", 0}, {"warnings", 0}}}},
                           {MakeStep("", "SOB Message Counters \n  Alerts   = 0 \n  Errors   = 0 \n  Warnings = 0 \n",
                                     "Failed to get SOB message counters \n", 0, true)}));
    const std::string counters = "SOB Message Counters \n  Alerts   = 1 \n  Errors   = 0 \n  Warnings = 1 \n";
    const std::string unreadable = " **error occured while reading log \n";
    rows.push_back(MakeRow(
        "sobmessagecounters_log", {"sobmessagecounters", "1"},
        {{"message_counters", {{"alerts", 1}, {"errors", 0}, {"warnings", 1}}},
         {"logs", {{"serial_output", kSerialLog}}}},
        {MakeStep("", counters + kStars + " \nParsed events from controller serial log :  \n",
                  "Failed to get SOB message counters \n", 0, true),
         MakeStep("", "", unreadable, 0, true),
         MakeStep("", "ALERT: Cache signature does not match expected value! \nWARNING: Backup power: msg type =0x200 \n",
                  unreadable, 0, true)}));
    VerificationsAndReports(rows);
    Maintenance(rows);
    DriveCommands(rows);
    return rows;
}

// ---- Start-up ------------------------------------------------------------------------------------

// The start-up requests every command sends first, and what becomes of the run when one fails.
enum class StartUp { kDiscovery, kIdentify, kParameters, kCacheStatus };
constexpr int kStartUpRequests = 4;


// Whether the row fails this request of its clean run.
bool Sweeps(const Row& row, const Request& r) {
    return row.sweeps_start_up || r.command >= kStartUpRequests;
}

// ---- Running the tool ----------------------------------------------------------------------------

struct Outcome {
    int status = -1; // exit code; 1000 + signal when killed; -2 when it hung
    std::string out;
    std::string err;
    std::vector<Request> requests;
    std::vector<std::string> cdbs;
};

// As qvtest::RunQuorvel, with standard error kept apart and a time limit.
Outcome RunTool(const json& scenario, const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& files = {}) {
    WorkDir dir;
    for (const auto& [name, content] : files) {
        dir.write(name, content);
    }
    const std::string scenario_file = dir.path() + ".scenario.json";
    const std::string request_log = dir.path() + ".requests.jsonl";
    std::ofstream(scenario_file) << scenario.dump();
    std::vector<std::string> command = {QVSIM_LAUNCHER, "--scenario", scenario_file, "--log", request_log, "--",
                                        QUORVEL_BIN};
    command.insert(command.end(), args.begin(), args.end());

    Outcome o;
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        return o;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<char*> argv;
        for (auto& a : command) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&o.out, &o.err};
    int open_pipes = 2;
    bool hung = false;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            hung = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buf[4096];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_pipes;
                }
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    o.status = hung ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);

    std::ifstream in(request_log);
    int ioctls = 0, commands = 0;
    for (std::string line; std::getline(in, line);) {
        const json r = json::parse(line);
        if (r.value("op", "") != "ioctl" || r.value("node", "") != kNode) {
            continue;
        }
        Request q;
        q.ioctl = ++ioctls;
        q.name = r.value("name", "");
        const json& d = r["decoded"];
        if (d.is_object() && d.contains("cdb")) {
            q.command = ++commands;
            q.cdb = d["cdb"].get<std::string>();
            q.size = d.value("buf_size", 0u);
            o.cdbs.push_back(q.cdb);
        }
        o.requests.push_back(q);
    }
    std::remove(scenario_file.c_str());
    std::remove(request_log.c_str());
    return o;
}

json ScenarioFor(const Row& row, const std::optional<json>& fault) {
    json c = qvtest::Controller("qzvk", "0000:3b:00.0", 2, 1);
    c["fw"] = row.fw;
    if (!row.diag.empty()) {
        c["extra"] = {{"diag", row.diag}};
    }
    if (fault) {
        c["faults"] = json::array({*fault});
    }
    return qvtest::Scenario({c});
}

// ---- What each faulted run must show -------------------------------------------------------------

struct Expected {
    std::string out;
    int status = 0;
    std::vector<std::string> cdbs; // the commands the run sends
};

std::string CleanOutput(const Row& row) {
    std::string out = kBanner;
    for (const Step& s : row.steps) {
        out += s.before + s.clean;
    }
    return out + row.verdict_clean;
}

Expected ExpectFor(const Row& row, const std::vector<std::string>& clean_cdbs, size_t failed_ioctl,
                   const std::vector<Request>& clean, Fault fault) {
    Expected e;
    const Request& r = clean[failed_ioctl];
    if (r.command == 0) {
        // Discovery without the PCI information leaves the location 0 and goes on.
        e.out = CleanOutput(row);
        e.status = row.exit_code;
        return e;
    }
    const size_t index = static_cast<size_t>(r.command - 1);
    const size_t own_start = kStartUpRequests - 1; // commands before the command's own
    if (index < own_start) {
        // The start-up reads are judged by the SCSI status: a short one is taken as it came.
        if (fault == Fault::kShortTransfer) {
            e.out = CleanOutput(row);
            e.cdbs = clean_cdbs;
            e.status = row.exit_code;
            return e;
        }
        switch (static_cast<StartUp>(index + 1)) {
            case StartUp::kIdentify:
                // Read once more; the run goes on as a clean one.
                e.out = CleanOutput(row);
                e.cdbs = clean_cdbs;
                e.cdbs.insert(e.cdbs.begin(), clean_cdbs[0]);
                e.status = row.exit_code;
                return e;
            case StartUp::kParameters:
                e.out = kBanner + "Initializing Controller Data Area (#0) failed, Status = 0x22 Or Firmware not "
                                  "Ready\nNote: This failure can occur if user is not logged in as super user "
                                  "(root).\n";
                e.cdbs.assign(clean_cdbs.begin(), clean_cdbs.begin() + 2);
                e.status = 14;
                return e;
            default:
                // The cache status does not decide the start-up.
                e.out = CleanOutput(row);
                e.cdbs = clean_cdbs;
                e.status = row.exit_code;
                return e;
        }
    }
    const size_t failed = index - own_start;
    if (failed < row.steps.size() &&
        (row.steps[failed].harmless || (fault == Fault::kShortTransfer && row.steps[failed].short_taken) ||
         std::find(row.steps[failed].taken.begin(), row.steps[failed].taken.end(), fault) !=
             row.steps[failed].taken.end())) {
        e.out = CleanOutput(row);
        e.cdbs = clean_cdbs;
        e.status = row.exit_code;
        return e;
    }
    if (failed < row.steps.size() && row.steps[failed].read_again) {
        const Step& s = row.steps[failed];
        const bool short_read = fault == Fault::kShortTransfer;
        e.out = kBanner + (short_read ? s.run_short : s.run_failed);
        const auto end = s.stop ? clean_cdbs.begin() + static_cast<long>(index) + 1 : clean_cdbs.end();
        e.cdbs.assign(clean_cdbs.begin(), end);
        if (!short_read) {
            e.cdbs.insert(e.cdbs.begin() + static_cast<long>(index) + 1 + s.read_again_after, clean_cdbs[index]);
            long inserted = 1;
            for (const int at : s.read_again_also) {
                e.cdbs.insert(e.cdbs.begin() + static_cast<long>(index) + 1 + at + inserted, clean_cdbs[index]);
                ++inserted;
            }
        }
        e.status = row.exit_code;
        return e;
    }
    e.out = kBanner;
    e.cdbs.assign(clean_cdbs.begin(), clean_cdbs.begin() + static_cast<long>(own_start));
    size_t skip = 0;
    bool stopped = false;
    const std::vector<size_t>& also_skip = failed < row.steps.size() ? row.steps[failed].also_skip
                                                                     : std::vector<size_t>{};
    for (size_t i = 0; i < row.steps.size() && !stopped; ++i) {
        const Step& s = row.steps[i];
        if (skip > 0) {
            --skip;
            continue;
        }
        if (i > failed && std::find(also_skip.begin(), also_skip.end(), i) != also_skip.end()) {
            continue;
        }
        e.out += s.before;
        std::string cdb = clean_cdbs[own_start + i];
        if (i == failed + 1 && !row.steps[failed].next_cdb.empty()) {
            cdb = row.steps[failed].next_cdb;
        }
        e.cdbs.push_back(cdb);
        if (i == failed) {
            e.out += s.failed;
            skip = static_cast<size_t>(s.skip);
            stopped = s.stop;
        } else {
            e.out += s.clean;
        }
    }
    // A failure that turns lines printed for other requests gives the whole run's text.
    if (failed < row.steps.size() && !row.steps[failed].run_failed.empty()) {
        e.out = kBanner + row.steps[failed].run_failed;
    }
    e.out += row.verdict_failed.empty() ? row.verdict_clean : row.verdict_failed;
    e.status = row.exit_code;
    return e;
}

// ---- The sweep -----------------------------------------------------------------------------------

struct Param {
    size_t row;
    Fault fault;
};

const std::vector<Row>& AllRows() {
    static const std::vector<Row> rows = Rows();
    return rows;
}

std::vector<Param> AllParams() {
    std::vector<Param> params;
    for (size_t r = 0; r < AllRows().size(); ++r) {
        for (Fault f : {Fault::kIoctlEio, Fault::kCheckCondition, Fault::kShortTransfer, Fault::kHostStatus,
                        Fault::kCommandStatus}) {
            params.push_back({r, f});
        }
    }
    return params;
}

void PrintTo(const Param& p, std::ostream* os) {
    *os << AllRows()[p.row].name << " " << Name(p.fault);
}

class FaultSweep : public ::testing::TestWithParam<Param> {};

TEST_P(FaultSweep, EveryRequestFailedInTurn) {
    const Row& row = AllRows()[GetParam().row];
    const Fault fault = GetParam().fault;
    std::string line;
    for (const auto& a : row.args) {
        line += " " + a;
    }
    SCOPED_TRACE("quorvel" + line + ", " + Name(fault));

    const Outcome clean = RunTool(ScenarioFor(row, std::nullopt), row.args, row.files);
    ASSERT_EQ(clean.status, row.exit_code) << clean.out << clean.err;
    ASSERT_EQ(clean.out, CleanOutput(row)) << clean.err;
    ASSERT_EQ(clean.cdbs.size(), static_cast<size_t>(kStartUpRequests - 1) + row.steps.size());

    const auto started = std::chrono::steady_clock::now();
    int runs = 0;
    for (size_t i = 0; i < clean.requests.size(); ++i) {
        const std::optional<json> f = FaultFor(clean.requests[i], fault);
        if (!f || !Sweeps(row, clean.requests[i])) {
            continue;
        }
        ++runs;
        SCOPED_TRACE("request " + std::to_string(i + 1) + " (" + clean.requests[i].name + " " +
                     clean.requests[i].cdb + ") failed");
        const Expected e = ExpectFor(row, clean.cdbs, i, clean.requests, fault);
        const Outcome o = RunTool(ScenarioFor(row, f), row.args, row.files);
        EXPECT_EQ(o.status, e.status) << o.err;
        EXPECT_EQ(o.out, e.out);
        if (clean.requests[i].command != 0) {
            EXPECT_EQ(o.cdbs, e.cdbs);
        }
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault sweep: %s, %s: %d (command, request, fault) runs in %lld ms\n", row.name.c_str(),
                Name(fault), runs, static_cast<long long>(ms));
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultSweep, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                             std::string name = AllRows()[info.param.row].name + "_" + Name(info.param.fault);
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

// ---- Faults the sweep found, one run each -------------------------------------------------------

struct Single {
    std::string name;
    Row row;
    int command; // the failed pass-through command, 1-based in the clean run
    Fault fault;
};

void PrintTo(const Single& s, std::ostream* os) {
    *os << s.name;
}

class FoundBySweep : public ::testing::TestWithParam<Single> {};

TEST_P(FoundBySweep, FailsAsTheToolSays) {
    const Single& c = GetParam();
    const Outcome clean = RunTool(ScenarioFor(c.row, std::nullopt), c.row.args, c.row.files);
    ASSERT_GE(clean.cdbs.size(), static_cast<size_t>(c.command));
    size_t ioctl = 0;
    while (clean.requests[ioctl].command != c.command) {
        ++ioctl;
    }
    const Expected e = ExpectFor(c.row, clean.cdbs, ioctl, clean.requests, c.fault);
    const Outcome o = RunTool(ScenarioFor(c.row, FaultFor(clean.requests[ioctl], c.fault)), c.row.args, c.row.files);
    EXPECT_EQ(o.status, e.status) << o.err;
    EXPECT_EQ(o.out, e.out);
    EXPECT_EQ(o.cdbs, e.cdbs);
}

Row RowNamed(const std::string& name) {
    for (const Row& r : AllRows()) {
        if (r.name == name) {
            return r;
        }
    }
    return {};
}

INSTANTIATE_TEST_SUITE_P(
    Regressions, FoundBySweep,
    ::testing::Values(
        // A controller that never completed the identify was taken as answering it.
        Single{"IdentifyHardwareErrorIsReadAgain", RowNamed("version"), 1, Fault::kHostStatus},
        // Nor the parameters: the data area was set up from a refused read.
        Single{"RefusedParametersFailTheStartUp", RowNamed("fwdiagrevision"), 2, Fault::kCommandStatus},
        // A refused revision read printed the revision.
        Single{"RefusedRevisionReadIsNoRevision", RowNamed("fwdiagrevision"), 4, Fault::kCommandStatus},
        // A status read that came short printed PASS from the zeros the driver filled in.
        Single{"ShortResultReadIsNoResult", RowNamed("cachetest_lfsrfill"), 5, Fault::kShortTransfer},
        // A test send that came short was followed by a result read and its PASS.
        Single{"ShortTestSendIsNotCarried", RowNamed("ctrlledtest"), 4, Fault::kShortTransfer},
        // A short piece of the serial log was parsed as the whole log.
        Single{"ShortSerialLogPieceIsUnreadable", RowNamed("sobmessagecounters_log"), 6, Fault::kShortTransfer},
        // The MRAM verdict was PASS when the completion notice was not carried.
        Single{"MramFillCompletionNotCarriedFails", RowNamed("mramtest_datafill"), 5, Fault::kIoctlEio},
        Single{"MramVerifyCompletionRefusedFails", RowNamed("mramtest_dataverify"), 5, Fault::kCheckCondition}),
    [](const ::testing::TestParamInfo<Single>& info) { return info.param.name; });

} // namespace
