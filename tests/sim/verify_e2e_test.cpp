// The verification commands and the controller reports end to end: the real binary through the
// launcher on simulated controllers, its output, its log, its exit code and what it sent.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "quorvel_run.h"

namespace {

using qvtest::Command;
using qvtest::LogHeader;
using qvtest::MaskTimes;
using qvtest::RunQuorvel;
using qvtest::WorkDir;
using json = nlohmann::json;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";

const char kIdentify[] = "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00";
const char kParameters[] = "26 00 00 00 00 00 64 01 58 00 00 00 00 00 00 00";
const char kCacheStatus[] = "26 00 00 00 00 00 C1 02 00 00 00 00 00 00 00 00";
const char kSubsystem[] = "26 00 00 00 00 00 66 06 D0 00 00 00 00 00 00 00";
const char kFeaturePages[] = "26 00 FF FF 00 00 61 02 59 00 00 00 00 00 00 00";
const char kPowerMode[] = "26 00 00 00 00 01 EE 00 11 00 00 00 00 00 00 00";
const char kSensors[] = "26 00 00 00 00 00 78 05 EC 01 00 00 00 00 00 00";
const char kPcieRegisters[] = "26 00 00 00 00 00 42 00 D8 01 00 00 00 00 00 00";
const char kHostMfg[] = "26 00 00 00 00 00 42 00 D4 02 00 00 00 00 00 00";
const char kCpld[] = "26 00 00 00 00 00 42 00 D9 01 00 00 00 00 00 00";

const std::string kNoFile = "WARNING!!! Unable to read configuration file.\nFactory Default values will be used for "
                            "the verification tests.\n";
const std::string kNoFileLog = "Config file read error (nil)\r\n";
const std::string kDashes = std::string(85, '-') + " \n";

// Sense of a refused command: ILLEGAL REQUEST, invalid field in CDB.
const char kRefusedSense[] = "70 00 05 00 00 00 00 0A 00 00 00 00 24 00";

// The start-up reads of controller n (its node /dev/sg<n>), then `own` on the first controller.
std::vector<Command> Sent(std::vector<std::string> own, int controllers = 1) {
    std::vector<Command> all;
    for (int n = 1; n <= controllers; ++n) {
        const std::string node = "/dev/sg" + std::to_string(n);
        all.insert(all.end(), {{node, kIdentify}, {node, kParameters}, {node, kCacheStatus}});
    }
    for (auto& cdb : own) {
        all.push_back({kNode, std::move(cdb)});
    }
    return all;
}

// One controller with the stateful firmware, `fw` over its defaults and `diag` for its diagnostics.
json OneController(const json& fw = json::object(), const json& diag = json()) {
    json c = qvtest::Controller("qzvk", "0000:3b:00.0", 2, 1);
    c["fw"] = fw.is_null() ? json::object() : fw;
    if (!diag.is_null()) {
        c["extra"] = {{"diag", diag}};
    }
    return qvtest::Scenario({c});
}

struct Case {
    std::string name;
    json scenario;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;
    std::string out; // after the banner
    std::string log; // after the header
    std::vector<Command> commands;
    int status = 0;
};

void Check(const Case& c) {
    std::string line;
    for (const auto& a : c.args) {
        line += " " + a;
    }
    SCOPED_TRACE(c.name + ": quorvel" + line);
    WorkDir dir;
    for (const auto& [name, content] : c.files) {
        dir.write(name, content);
    }
    const qvtest::Run run = RunQuorvel(dir, c.scenario, c.args);
    EXPECT_EQ(run.out, kBanner + c.out);
    EXPECT_EQ(run.status, c.status);
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
    EXPECT_EQ(run.commands(), c.commands);
}

void CheckAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        Check(c);
    }
}

// ---- Reports -------------------------------------------------------------------------------------

TEST(QuorvelReports, ListControllers) {
    const json legacy = {{"identify", {{"vendor_id", "ZOLT"}, {"product_id", "VeskRAID 7391"}, {"even_more_flags", 0}}},
                         {"subsystem", {{"serial_number", "PVXYZ0123"}}}};
    std::vector<json> three;
    const char* const drivers[] = {"qzvk", "qzdvk", "qzdvkc"};
    const char* const serials[] = {"PVXYZ0001", "PVXYZ0002", "PVXYZ0003"};
    for (int i = 0; i < 3; ++i) {
        json c = qvtest::Controller(drivers[i], "0000:1" + std::to_string(i) + ":00.0", 2 + i, 1 + i);
        c["fw"] = {{"identify", {{"vendor_id", "ZOLT"}, {"product_id", "VeskRAID 7391"}, {"family_id", "VeskRAID"}}},
                   {"subsystem", {{"serial_number", serials[i]}}}};
        three.push_back(c);
    }
    std::vector<Command> three_sent = Sent({}, 3);
    for (int n = 1; n <= 3; ++n) {
        const std::string node = "/dev/sg" + std::to_string(n);
        three_sent.insert(three_sent.end(), {{node, kFeaturePages}, {node, kSubsystem}});
    }
    const std::string three_lines = "  1: ZOLT   VeskRAID   VeskRAID 7391 - Serial Number: PVXYZ0001 \n"
                                    "  2: ZOLT   VeskRAID   VeskRAID 7391 - Serial Number: PVXYZ0002 \n"
                                    "  3: ZOLT   VeskRAID   VeskRAID 7391 - Serial Number: PVXYZ0003 \n";
    CheckAll({
        // A controller without feature pages has no family id; the serial number is the one read.
        {"one legacy controller",
         OneController(legacy),
         {"listcontrollers"},
         {},
         "Found 1 controller(s)\n  1: ZOLT              VeskRAID 7391 - Serial Number: PVXYZ0123 \n",
         "  1: ZOLT              VeskRAID 7391 - Serial Number: PVXYZ0123 \n",
         Sent({kSubsystem})},
        {"three controllers with a family", qvtest::Scenario(three), {"listcontrollers"}, {},
         "Found 3 controller(s)\n" + three_lines, three_lines, three_sent},
        {"no controller", qvtest::Scenario({}), {"listcontrollers"}, {},
         "ERROR!!! No Controllers were detected.\n", "ERROR!!! No Controllers were detected.\r\n", {}},
        {"an argument too many",
         OneController(legacy),
         {"listcontrollers", "1"},
         {},
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: quorvel listcontrollers \nInfo: Displays the "
         "list of connected controller(s) \n",
         "",
         Sent({}),
         2},
    });
}

TEST(QuorvelReports, FirmwareMiscInfo) {
    auto fw = [](const std::string& revision) {
        return json{{"identify",
                     {{"vendor_id", "ZOLT"},
                      {"product_id", "VeskRAID 7391"},
                      {"firmware_version", "1.99"},
                      {"pending_firmware_version", "2.04"},
                      {"hardware_revision", revision}}}};
    };
    auto lines = [](const std::string& revision) {
        return "FirmwareVersion         : 1.99\nPendingFirmwareVersion  : 2.04\nVendorIDBuffer          : ZOLT\n"
               "HardwareRevision        : " +
               revision + "\n";
    };
    CheckAll({
        // The product line has a blank before its end on standard output only; the log lines end in LF.
        {"revision A", OneController(fw("A")), {"getfwmiscinfo", "1"}, {},
         "ProductIdBuffer         : VeskRAID 7391 \n" + lines("A"),
         "ProductIdBuffer         : VeskRAID 7391\n" + lines("A"), Sent({})},
        {"lower-case revision is none", OneController(fw("a")), {"getfwmiscinfo", "1"}, {},
         "ProductIdBuffer         : VeskRAID 7391 \n" + lines(""),
         "ProductIdBuffer         : VeskRAID 7391\n" + lines(""), Sent({})},
    });
}

TEST(QuorvelReports, PCIeAndCache) {
    CheckAll({
        {"PCIe generation and width",
         OneController({{"identify", {{"pcie_generation", 3}, {"pcie_width", 8}}}}),
         {"getpcieinfo", "1"},
         {},
         "PCIeGen       : 3\nPCIewidth     : 8\n",
         "PCIeGen       : 3\nPCIewidth     : 8\n",
         Sent({})},
        {"cache sizes",
         OneController({{"identify", {{"memory_mib", 4096}}}, {"cache", {{"total_memory", 3856}}}}),
         {"getcacheinfo", "1"},
         {},
         "Cache information \n ControllerMemorySize    : 4096 MB \n ControllerCacheSize     : 3856 MB \n",
         "Cache information \r\n ControllerMemorySize    : 4096 MB \r\n ControllerCacheSize     : 3856 MB \r\n",
         Sent({})},
    });
}

// ---- Verifications against the expected values ------------------------------------------------------

TEST(QuorvelVerify, FirmwareVersionAndCacheSize) {
    auto tag = [](const std::string& version) { return json{{"identify", {{"firmware_version", version}}}}; };
    const std::vector<std::string> fw_args = {"verifyfwversion", "1", "-f", "my.cfg"};
    const std::vector<std::pair<std::string, std::string>> fw_file = {{"my.cfg", "fwversion 1.32\r\n"}};
    const std::string long_tag(32, '7');
    const json cache = {{"cache", {{"total_memory", 3856}}}};
    CheckAll({
        {"same version", OneController(tag("1.32")), fw_args, fw_file,
         "Firmware version verification test: PASS (eValue: 1.32/aValue: 1.32) \n",
         "Firmware version verification test: PASS (eValue: 1.32/aValue: 1.32) \r\n", Sent({})},
        {"other version", OneController(tag("1.99")), fw_args, fw_file,
         "Firmware version verification test: FAIL (eValue: 1.32/aValue: 1.99) \n",
         "Firmware version verification test: FAIL (eValue: 1.32/aValue: 1.99) \r\n", Sent({})},
        // Two 32-character versions make a line longer than 104 bytes: it is printed whole.
        {"longest versions", OneController(tag(long_tag)), {"verifyfwversion", "1"},
         {{"veskroc.cfg", "fwversion " + long_tag + "\n"}},
         "Firmware version verification test: PASS (eValue: " + long_tag + "/aValue: " + long_tag + ") \n",
         "Firmware version verification test: PASS (eValue: " + long_tag + "/aValue: " + long_tag + ") \r\n",
         Sent({})},
        {"cache size from the file", OneController(cache), {"verifycachesize", "1", "-f", "c.cfg"},
         {{"c.cfg", "cachesize 3856\n"}},
         "Cache size verification test: PASS (eValue: 3856/aValue: 3856) \n",
         "Cache size verification test: PASS (eValue: 3856/aValue: 3856) \r\n", Sent({})},
        {"other cache size", OneController(cache), {"verifycachesize", "1"}, {{"veskroc.cfg", "cachesize 4096\n"}},
         "Cache size verification test: FAIL (eValue: 4096/aValue: 3856) \n",
         "Cache size verification test: FAIL (eValue: 4096/aValue: 3856) \r\n", Sent({})},
        // A file without the cache size gives no expected value: result 5, exit 14.
        {"file without a cache size", OneController(cache), {"verifycachesize", "1"},
         {{"veskroc.cfg", "fwversion 1.32\n"}},
         "ERROR!!! Unable to retrieve the expected value from the configuration file.\n", "", Sent({}), 14},
    });
}

TEST(QuorvelVerify, Temperature) {
    auto sensors = [](std::vector<std::pair<int, int>> readings) {
        json list = json::array();
        int index = 0;
        for (const auto& [current, highest] : readings) {
            list.push_back({{"index", index++}, {"reading", current}, {"max_since_poweron", highest}});
        }
        return json{{"sensors", list}};
    };
    const std::string name = "Controller temperature verification test";
    const std::string pass0 = name + " : Temperature Sensor index 0 - PASS\n";
    CheckAll({
        {"one within, one above its maximum",
         OneController(sensors({{51, 60}, {95, 97}})),
         {"verifysystemtemperature", "1"},
         {},
         kNoFile + pass0 + "Sensor Index-0: Expected Minimum Temp: 5 Expected Maximum Temp: 85 Current Temp: 51 \n" +
             kDashes + name +
             " : Temperature Sensor index : 1 Max temperature 97 is more than the Expected Maximum Temp 90 \n" + name +
             " : Temperature Sensor index 1 - FAIL\n"
             "Sensor Index-1: Expected Minimum Temp: 10 Expected Maximum Temp: 90 Current Temp: 95 \n" +
             kDashes,
         kNoFileLog + name + " : Temperature Sensor index 0 - PASS \r\n" + name +
             " : Temperature Sensor index : 1 Max temperature 97 is more than the Expected Maximum Temp 90 \r\n" + name +
             " : Temperature Sensor - FAIL  sensorIndex: 1 sensorCurrtemp:95, verifyTestExpectedValue.sensorTempMin: "
             "10, verifyTestExpectedValue.sensorTempMax: 90\r\n",
         Sent({kSensors})},
        // The limits are inclusive; a maximum reading above the limit alone does not fail the sensor.
        {"readings on the limits",
         OneController(sensors({{85, 85}, {10, 91}})),
         {"verifysystemtemperature", "1"},
         {},
         kNoFile + pass0 + "Sensor Index-0: Expected Minimum Temp: 5 Expected Maximum Temp: 85 Current Temp: 85 \n" +
             kDashes + name +
             " : Temperature Sensor index : 1 Max temperature 91 is more than the Expected Maximum Temp 90 \n" + name +
             " : Temperature Sensor index 1 - PASS\n"
             "Sensor Index-1: Expected Minimum Temp: 10 Expected Maximum Temp: 90 Current Temp: 10 \n" +
             kDashes,
         kNoFileLog + name + " : Temperature Sensor index 0 - PASS \r\n" + name +
             " : Temperature Sensor index : 1 Max temperature 91 is more than the Expected Maximum Temp 90 \r\n" + name +
             " : Temperature Sensor index 1 - PASS \r\n",
         Sent({kSensors})},
        {"below the minimum of the file",
         OneController(sensors({{20, 30}})),
         {"verifysystemtemperature", "1"},
         {{"veskroc.cfg", "mintempsensor0 21\n"}},
         name + " : Temperature Sensor index 0 - FAIL\n"
                "Sensor Index-0: Expected Minimum Temp: 21 Expected Maximum Temp: 85 Current Temp: 20 \n" +
             kDashes,
         name + " : Temperature Sensor - FAIL  sensorIndex: 0 sensorCurrtemp:20, verifyTestExpectedValue."
                "sensorTempMin: 21, verifyTestExpectedValue.sensorTempMax: 85\r\n",
         Sent({kSensors})},
        {"five sensors",
         OneController(sensors({{30, 30}, {30, 30}, {30, 30}, {30, 30}, {30, 30}})),
         {"verifysystemtemperature", "1"},
         {},
         kNoFile + name + " : Detected a board with 5 sensors. Max Sensor Count Supported 4\n",
         kNoFileLog + name + " : Detected a board with 5 sensors. Max Sensor Count Supported 4\n",
         Sent({kSensors})},
        {"no sensors",
         OneController(sensors({})),
         {"verifysystemtemperature", "1"},
         {},
         kNoFile + name + " : Failed to get Sensors info \n",
         kNoFileLog + name + " : Failed to get Sensors info \n",
         Sent({kSensors})},
    });
}

// ---- Power mode ----------------------------------------------------------------------------------

TEST(QuorvelVerify, PowerMode) {
    // A controller without feature pages that names all three power modes in its IDENTIFY flags.
    auto legacy = [](int warnings) {
        return json{{"identify", {{"even_more_flags", 0}, {"features_supported", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}}}},
                    {"power", {{"warnings", warnings}}}};
    };
    const std::string name = "Powermode verification test";
    json unreadable = legacy(0);
    unreadable["faults"] = {{{"bmic", 0xEE}, {"function", 1}, {"errno", 5}}};
    json refused = legacy(0x11);
    refused["faults"] = {{{"bmic", 0xEE}, {"function", 1}, {"sense", kRefusedSense}}};
    const std::string unread_out = name + " : FAIL Unable to read the power mode information\n";
    const std::string unread_log = name + " : FAIL Unable to read the power mode information \r\n";
    CheckAll({
        // Standard output and log word RebootPower differently.
        {"reboot required and reboot power", OneController(legacy(0x11)), {"verifysystempower", "1"}, {},
         name + " : FAIL PowerMode Warning : RebootRequired\n" + name + " : FAIL PowerModeWarning RebootPower\n",
         name + " : FAIL PowerMode Warning : RebootRequired \r\n" + name +
             " : FAIL PowerMode Warning RebootPower \r\n",
         Sent({kPowerMode})},
        {"every warning with a line", OneController(legacy(0x3E)), {"verifysystempower", "1"}, {},
         name + " : FAIL PowerMode Warning Temperature\n" + name + " : FAIL PowerModeWarning NewMode\n" + name +
             " : FAIL PowerModeWarning ConfigChange\n" + name + " : FAIL PowerModeWarning RebootPower\n" + name +
             " : FAIL PowerMode Warning RebootPerformance\n",
         name + " : FAIL PowerMode Warning Temperature \r\n" + name + " : FAIL PowerMode Warning NewMode \r\n" + name +
             " : FAIL PowerMode Warning ConfigChange \r\n" + name + " : FAIL PowerMode Warning RebootPower \r\n" +
             name + " : FAIL PowerMode Warning RebootPerformance \r\n",
         Sent({kPowerMode})},
        // A cold boot required has no line of its own.
        {"cold boot only", OneController(legacy(0x40)), {"verifysystempower", "1"}, {}, "", "", Sent({kPowerMode})},
        {"no warning", OneController(legacy(0)), {"verifysystempower", "1"}, {}, name + " : PASS\n",
         name + " : PASS \r\n", Sent({kPowerMode})},
        // A reply that never came has no warnings in it, and is no PASS.
        {"power mode not read", OneController(unreadable), {"verifysystempower", "1"}, {}, unread_out, unread_log,
         Sent({kPowerMode})},
        {"power mode refused", OneController(refused), {"verifysystempower", "1"}, {}, unread_out, unread_log,
         Sent({kPowerMode})},
        // Feature pages offered but not read: whether power modes exist is unknown.
        {"feature pages not read", OneController(json{{"faults", {{{"bmic", 0x61}, {"errno", 5}}}}}),
         {"verifysystempower", "1"}, {}, unread_out, unread_log, Sent({kFeaturePages})},
    });
}

// ---- The tool's own diagnostic reads ----------------------------------------------------------------

TEST(QuorvelVerify, PCIeConfigAndIntegrity) {
    auto pcie = [](const char* device_status, const char* link_status) {
        return json{{"pcie", {{"device_status", device_status}, {"link_status", link_status}}}};
    };
    auto fault = [](json f) { return json{{"faults", {f}}}; };
    const json not_carried = fault({{"command", "pcie"}, {"errno", 5}});
    const json refused = fault({{"command", "pcie"}, {"sense", kRefusedSense}});
    const json busy = fault({{"command", "pcie"}, {"scsi_status", 8}});
    const std::string failed_send = "Failed to send request to the controller \n";
    CheckAll({
        {"speed passes, width fails", OneController({}, pcie("0x0000", "0x0083")), {"verifypcieconfig", "1"}, {},
         kNoFile + "PCIe Link Speed test: PASS (eValue: 2/aValue: 2) \nPCIe Link Width test: FAIL (eValue: 16/aValue: "
                   "8) \n",
         kNoFileLog + "PCIe Link Speed test: PASS (eValue: 2/aValue: 2) \r\nPCIe Link Width test: FAIL (eValue: "
                      "16/aValue: 8) \r\n",
         Sent({kPcieRegisters})},
        {"expected values of the file", OneController({}, pcie("0x0000", "0x0104")), {"verifypcieconfig", "1"},
         {{"veskroc.cfg", "pcieLinkRate 3\npcieLinkWidth 16\n"}},
         "PCIe Link Speed test: PASS (eValue: 3/aValue: 3) \nPCIe Link Width test: PASS (eValue: 16/aValue: 16) \n",
         "PCIe Link Speed test: PASS (eValue: 3/aValue: 3) \r\nPCIe Link Width test: PASS (eValue: 16/aValue: 16) "
         "\r\n",
         Sent({kPcieRegisters})},
        // A speed code the tool does not know matches no expected rate.
        {"unknown speed code", OneController({}, pcie("0x0000", "0x0085")), {"verifypcieconfig", "1"}, {},
         kNoFile + "PCIe Link Speed test: FAIL (eValue: 2/aValue: 255) \nPCIe Link Width test: FAIL (eValue: "
                   "16/aValue: 8) \n",
         kNoFileLog + "PCIe Link Speed test: FAIL (eValue: 2/aValue: 255) \r\nPCIe Link Width test: FAIL (eValue: "
                      "16/aValue: 8) \r\n",
         Sent({kPcieRegisters})},
        {"config read not carried", OneController({}, not_carried), {"verifypcieconfig", "1"}, {},
         kNoFile + failed_send + "PCIe Test failed\n", kNoFileLog + "PCIe Test failed \r\n", Sent({kPcieRegisters})},
        // The zeroed registers of a refused read are no link: not compared.
        {"config read refused", OneController({}, refused), {"verifypcieconfig", "1"}, {},
         kNoFile + failed_send + "PCIe Test failed\n", kNoFileLog + "PCIe Test failed \r\n", Sent({kPcieRegisters})},
        {"link errors", OneController({}, pcie("0x0010", "0x0083")), {"pcieintegritytest", "1"}, {},
         "PCIe Integrity test - FAIL \n", "PCIe Integrity test - FAIL \r\n", Sent({kPcieRegisters})},
        {"no link errors", OneController({}, pcie("0x000F", "0x0083")), {"pcieintegritytest", "1"}, {},
         "PCIe Integrity test - PASS \n", "PCIe Integrity test - PASS \r\n", Sent({kPcieRegisters})},
        {"integrity read not carried", OneController({}, not_carried), {"pcieintegritytest", "1"}, {},
         failed_send + "PCIe Integrity Test failed\n", "PCIe Integrity Test failed \r\n", Sent({kPcieRegisters})},
        // Zeroed registers read as no link errors: a refused read printed PASS.
        {"integrity read refused", OneController({}, refused), {"pcieintegritytest", "1"}, {},
         failed_send + "PCIe Integrity Test failed\n", "PCIe Integrity Test failed \r\n", Sent({kPcieRegisters})},
        {"integrity read busy", OneController({}, busy), {"pcieintegritytest", "1"}, {},
         failed_send + "PCIe Integrity Test failed\n", "PCIe Integrity Test failed \r\n", Sent({kPcieRegisters})},
    });
}

TEST(QuorvelVerify, ManufacturingSection) {
    auto subsystem = [](const std::string& serial, const char* wwn) {
        return json{{"subsystem", {{"serial_number", serial}, {"wwn", wwn}}}};
    };
    const json good = subsystem("PVXYZ0123", "51D7B00000A1B2C0");
    const std::string pass = "Manufacturing section verification test - PASS";
    const std::string fail = "Manufacturing section verification test - FAIL";
    CheckAll({
        {"signature XX", OneController(good, {{"host_mfg", {{"signature", "XX"}}}}), {"verifymfg", "1"}, {},
         " Manufacturing section verification: Invalid signature - FAIL\n",
         "Manufacturing section verification: Invalid signature - FAIL\r\n", Sent({kHostMfg})},
        {"good section", OneController(good), {"verifymfg", "1"}, {}, pass + "\n", pass + "\r\n",
         Sent({kHostMfg, kSubsystem})},
        {"placeholder serial", OneController(subsystem("000001", "51D7B00000A1B2C0")), {"verifymfg", "1"}, {},
         fail + "\n", fail + "\r\n", Sent({kHostMfg, kSubsystem})},
        {"empty serial", OneController(subsystem("", "51D7B00000A1B2C0")), {"verifymfg", "1"}, {}, fail + "\n",
         fail + "\r\n", Sent({kHostMfg, kSubsystem})},
        {"placeholder WWN", OneController(subsystem("PVXYZ0123", "50123456789ABC00")), {"verifymfg", "1"}, {},
         fail + "\n", fail + "\r\n", Sent({kHostMfg, kSubsystem})},
        // A WWN that could not be read is no programmed section.
        {"subsystem not read", OneController(json{{"faults", {{{"bmic", 0x66}, {"errno", 5}}}}}), {"verifymfg", "1"},
         {}, fail + "\n", fail + "\r\n", Sent({kHostMfg, kSubsystem})},
        // A failed read logs nothing.
        {"record not carried", OneController(good, {{"faults", {{{"command", "host_mfg"}, {"errno", 5}}}}}),
         {"verifymfg", "1"}, {}, "Failed to send request to the controller \n", "", Sent({kHostMfg})},
        {"record refused", OneController(good, {{"faults", {{{"command", "host_mfg"}, {"sense", kRefusedSense}}}}}),
         {"verifymfg", "1"}, {}, "Failed to send request to the controller \n", "", Sent({kHostMfg})},
    });
}

TEST(QuorvelVerify, Cpld) {
    const std::string name = "CPLD Programming Verification test";
    auto fault = [](json f) { return json{{"faults", {f}}}; };
    json short_out = OneController();
    short_out["controllers"][0]["faults"] = {
        {{"nth", 4}, {"count", 1}, {"command_status", 2}, {"reported_data_length", 4}}};
    CheckAll({
        {"programmed", OneController(), {"verifycpld", "1"}, {}, name + " : - PASS \n", name + " : - PASS \r\n",
         Sent({kCpld})},
        {"not carried", OneController({}, fault({{"command", "cpld"}, {"errno", 5}})), {"verifycpld", "1"}, {},
         name + " : - FAIL \n", name + " : - FAIL \r\n", Sent({kCpld})},
        // Refused by the controller: carried, but nothing was programmed.
        {"refused", OneController({}, fault({{"command", "cpld"}, {"sense", kRefusedSense}})), {"verifycpld", "1"},
         {}, name + " : - FAIL \n", name + " : - FAIL \r\n", Sent({kCpld})},
        // The controller took 4 of the 8 bytes it needs and reported the underrun.
        {"data cut short", short_out, {"verifycpld", "1"}, {}, name + " : - FAIL \n", name + " : - FAIL \r\n",
         Sent({kCpld})},
    });
}

// The CPLD command goes out as its table row says: 26 with 8 zero bytes of data out.
TEST(QuorvelVerify, CpldSendsEightZeroBytesOut) {
    WorkDir dir;
    const qvtest::Run run = RunQuorvel(dir, OneController(), {"verifycpld", "1"});
    ASSERT_EQ(run.status, 0);
    bool seen = false;
    for (const auto& r : run.requests) {
        if (r.value("op", "") != "ioctl" || !r.contains("decoded") || !r["decoded"].is_object() ||
            r["decoded"].value("cdb", "") != kCpld) {
            continue;
        }
        seen = true;
        const json& d = r["decoded"];
        EXPECT_EQ(d.value("buf_size", 0u), 8u) << d.dump();
        EXPECT_EQ(d.value("data_out", ""), "00 00 00 00 00 00 00 00") << d.dump();
    }
    EXPECT_TRUE(seen);
}

// Argument errors end in extended help or the controller messages before any of the tool's CDBs.
TEST(QuorvelVerify, ArgumentErrorsSendNothing) {
    const std::string bad_number = "Invalid ControllerNumber. Please enter a valid ControllerNumber \nTotal "
                                   "controllers found = 1 \n";
    const std::string bad_number_log = "Invalid ControllerNumber. Please enter a valid ControllerNumber \r\nTotal "
                                       "controllers found = 1 \r\n";
    CheckAll({
        {"PCIe integrity of controller 2", OneController(), {"pcieintegritytest", "2"}, {}, bad_number,
         bad_number_log, Sent({}), 2},
        {"CPLD of no controller", OneController(), {"verifycpld"}, {},
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: quorvel verifycpld <ControllerNumber> \nInfo: "
         "Verifies CPLD section \n",
         "", Sent({}), 2},
        {"manufacturing with a file", OneController(), {"verifymfg", "1", "-f", "x.cfg"}, {},
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax:  quorvel verifymfg <ControllerNumber> \nInfo: "
         "Verifies MFG section \n",
         "", Sent({}), 2},
    });
}

} // namespace
