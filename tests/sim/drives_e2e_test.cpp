// The drive and PHY commands end to end: the real binary through the launcher on a legacy controller
// in HBA mode with two SATA drives (sim/scenarios/hba_link_faults.json). Standard output and diagslog.txt
// byte for byte, the exit code, and every command the controller received with the data it carried.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "quorvel_run.h"

namespace {

using qvtest::LogHeader;
using qvtest::MaskTimes;
using qvtest::RunQuorvel;
using qvtest::WorkDir;
using json = nlohmann::json;
using qvtest::kCacheStatus;
using qvtest::kIdentify;
using qvtest::kParameters;
using qvtest::Sent;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";

const Sent kDrive0{"26 00 00 00 00 00 15 0C 00 00 00 00 00 00 00 00", ""}; // identify physical drive 0
const Sent kDrive1{"26 00 01 00 00 00 15 0C 00 00 00 00 00 00 00 00", ""};
const Sent kSubsystem{"26 00 00 00 00 00 66 06 D0 00 00 00 00 00 00 00", ""};
const Sent kReportPhysicalLuns{"C3 02 00 00 00 00 00 00 03 08 00 00", ""};
// TEST UNIT READY, no data, at each drive's LUN address.
const Sent kTur0{"00 00 00 00 00 00", "", "00 00 00 00 00 00 00 01"};
const Sent kTur1{"00 00 00 00 00 00", "", "00 00 00 00 00 00 01 01"};

// The get-link-errors frame of one PHY as it goes out: header 28, timeout 60, code 22, length 20.
Sent LinkErrorsFrame(const std::string& phy) {
    return {"27 00 00 00 00 16 68 00 30 00 00 00 00 00 00 00",
            "1C 00 00 00 00 00 00 00 00 00 00 00 3C 00 00 00 16 00 00 00 00 00 00 00 14 00 00 00 " + phy +
                " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"};
}

const std::vector<Sent> kEightFrames = {kIdentify,
                                        kParameters,
                                        kCacheStatus,
                                        kSubsystem,
                                        LinkErrorsFrame("00"),
                                        LinkErrorsFrame("01"),
                                        LinkErrorsFrame("02"),
                                        LinkErrorsFrame("03"),
                                        LinkErrorsFrame("04"),
                                        LinkErrorsFrame("05"),
                                        LinkErrorsFrame("06"),
                                        LinkErrorsFrame("07")};

json HbaScenario() {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/sim/scenarios/hba_link_faults.json");
    return json::parse(in);
}

json& Fw(json& scenario) {
    return scenario["controllers"][0]["fw"];
}

struct Case {
    std::string name;
    json scenario;
    std::vector<std::string> args;
    std::string out; // after the banner
    std::string log; // after the header
    std::vector<Sent> sent;
};

void CheckAll(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::string line;
        for (const auto& a : c.args) {
            line += " " + a;
        }
        SCOPED_TRACE(c.name + ": quorvel" + line);
        WorkDir dir;
        const qvtest::Run run = RunQuorvel(dir, c.scenario, c.args);
        EXPECT_EQ(run.out, kBanner + c.out);
        EXPECT_EQ(run.status, 0);
        ASSERT_TRUE(run.log.has_value());
        EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
        EXPECT_EQ(qvtest::Received(run, kNode), c.sent);
    }
}

const std::string kDashes(97, '-');

std::string Counters(const std::string& phy, int invalid, int sync, int reset, int disparity, const char* end) {
    return "PHY Identifier - " + phy + " " + end + "  Invalid DWORD count           - " + std::to_string(invalid) +
           " " + end + "  Loss of DWORD sync count      - " + std::to_string(sync) + " " + end +
           "  PHY reset problem count       - " + std::to_string(reset) + " " + end +
           "  Running disparity error count - " + std::to_string(disparity) + " " + end;
}

TEST(DriveCommandsE2E, HbaControllerWithTwoSataDrives) {
    std::string phys_out = "Controller Model : ZOLT              VeskRAID 7391 \n\n";
    std::string phys_log = "Controller Model : ZOLT              VeskRAID 7391 \r\n\n";
    for (const char* phy : {"0", "1", "2", "3", "4", "5", "6", "7"}) {
        const std::string p = phy;
        if (p == "5") {
            phys_out += "Failed to get details of PHY Identifier 5 \n";
            phys_log += "Failed to get details of PHY Identifier 5 \r\n";
            continue;
        }
        phys_out += Counters(p, p == "0" ? 3 : 0, 0, 0, 0, "\n");
        phys_log += Counters(p, p == "0" ? 3 : 0, 0, 0, 0, "\r\n");
    }
    CheckAll({
        {"drive list",
         HbaScenario(),
         {"showdrives", "1"},
         "Drives connected to the requested controller \n" + kDashes +
             " \n"
             "Index:0, Port:Box:Bay 1I:1:4, Drive status level:Informational:Exposed to OS, Is drive usable:Yes \n"
             "Index:0, Port:Box:Bay 1I:1:5, Drive status level:Informational:Exposed to OS, Is drive usable:Yes \n",
         "Drives connected to the requested controller \r\n" + kDashes +
             " \r\n"
             "Index:0, Port:Box:Bay 1I:1:4, Drive status level:Informational:Exposed to OS, Is drive usable:Yes \r\n"
             "Index:0, Port:Box:Bay 1I:1:5, Drive status level:Informational:Exposed to OS, Is drive usable:Yes \r\n",
         // Nothing read twice: each drive's identify once, the connectors once.
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1, kSubsystem}},
        {"link rates",
         HbaScenario(),
         {"saslinkratetest", "1"},
         "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated Transfer Speed: 6.0 "
         "Gbps, Result:PASS \n"
         "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated Transfer Speed: 3.0 "
         "Gbps, Result:FAIL \n",
         "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated Transfer Speed: 6.0 "
         "Gbps, Result:PASS \n\r"
         "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer Speed: 6.0 Gbps,PHY Negotiated Transfer Speed: 3.0 "
         "Gbps, Result:FAIL \n\r",
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1}},
        // Two TEST UNIT READY per drive, each drive's after the REPORT PHYSICAL LUNS that finds it.
        {"test unit ready",
         HbaScenario(),
         {"testunitready", "1"},
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4,  Test Command Execution:SUCCESS \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5,  Test Command Execution:SUCCESS \n",
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4, Test Command Execution:SUCCESS \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5, Test Command Execution:SUCCESS \n",
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1, kSubsystem, kReportPhysicalLuns, kTur0, kTur0,
          kTur1, kTur1}},
        // PHY maps 0x0F and 0xF0: PHYs 0 to 7, one frame each; PHY 5's is not carried.
        {"controller PHY errors", HbaScenario(), {"showctrlphyerrors", "1"}, phys_out, phys_log, kEightFrames},
    });
}

TEST(DriveCommandsE2E, NoDrivesPresent) {
    json scenario = HbaScenario();
    Fw(scenario)["drives"] = json::array();
    const std::string out = "No drives connected to the requested controller \n";
    const std::string log = "No drives connected to the requested controller \r\n";
    const std::vector<Sent> start_up = {kIdentify, kParameters, kCacheStatus};
    CheckAll({
        {"drive list", scenario, {"showdrives", "1"}, out, log, start_up},
        {"link rates", scenario, {"saslinkratetest", "1"}, out, log, start_up},
        {"test unit ready", scenario, {"testunitready", "1"}, out, log, start_up},
    });
}

TEST(DriveCommandsE2E, DrivesThatAreNotReady) {
    // Drive 0 answers CHECK CONDITION NOT READY: carried, yet not ready. Drive 1 is missing from
    // REPORT PHYSICAL LUNS: nothing reaches it. Both FAIL and the walk goes on past drive 0.
    json not_ready = HbaScenario();
    Fw(not_ready)["drives"][0]["scsi"] = {{"ready", false}};
    Fw(not_ready)["drives"][1]["reported"] = false;
    // Drive 1's first TEST UNIT READY is not carried; its second one is.
    json not_carried = HbaScenario();
    Fw(not_carried)["faults"] = {{{"scsi", "0x00"}, {"device", 1}, {"nth", 1}, {"count", 1}, {"errno", 5}}};
    CheckAll({
        {"not ready, not reported",
         not_ready,
         {"testunitready", "1"},
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4,  Test Command Execution:FAIL \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5,  Test Command Execution:FAIL \n",
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4, Test Command Execution:FAIL \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5, Test Command Execution:FAIL \n",
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1, kSubsystem, kReportPhysicalLuns, kTur0, kTur0,
          kReportPhysicalLuns, kReportPhysicalLuns}},
        {"not carried once",
         not_carried,
         {"testunitready", "1"},
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4,  Test Command Execution:SUCCESS \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5,  Test Command Execution:FAIL \n",
         "Drive Number:0, Connector Index:0, Port:Box:Bay 1I:1:4, Test Command Execution:SUCCESS \n"
         "Drive Number:1, Connector Index:0, Port:Box:Bay 1I:1:5, Test Command Execution:SUCCESS \n",
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1, kSubsystem, kReportPhysicalLuns, kTur0, kTur0,
          kTur1, kTur1}},
    });
}

TEST(DriveCommandsE2E, LinkRatesOutsideTheKnownSpeeds) {
    // A maximum of 12.0 Gbps negotiated at it passes; a code past the names is UNKNOWN and fails.
    json scenario = HbaScenario();
    Fw(scenario)["drives"][0]["phys"][0].update({{"max_rate", 11}, {"physical_rate", 11}, {"logical_rate", 11}});
    Fw(scenario)["drives"][1]["phys"][0].update({{"max_rate", 13}, {"physical_rate", 13}, {"logical_rate", 13}});
    CheckAll({
        {"12 Gbps and code 13",
         scenario,
         {"saslinkratetest", "1"},
         "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: 12.0 Gbps,PHY Negotiated Transfer Speed: "
         "12.0 Gbps, Result:PASS \n"
         "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer Speed: UNKNOWN,PHY Negotiated Transfer Speed: "
         "UNKNOWN, Result:FAIL \n",
         "PdNumber : 0, Port:Box:Bay 1I:1:4, Drive Max Transfer Speed: 12.0 Gbps,PHY Negotiated Transfer Speed: "
         "12.0 Gbps, Result:PASS \n\r"
         "PdNumber : 1, Port:Box:Bay 1I:1:5, Drive Max Transfer Speed: UNKNOWN,PHY Negotiated Transfer Speed: "
         "UNKNOWN, Result:FAIL \n\r",
         {kIdentify, kParameters, kCacheStatus, kDrive0, kDrive1}},
    });
}

TEST(DriveCommandsE2E, LinkErrorFramesTheControllerFailed) {
    // PHY 0 answers with ReturnCode 3, PHY 1 with CHECK CONDITION: both keep the zeros they were sent
    // with, and neither is shown as counters. PHY 2's counters each at its own offset.
    json scenario = HbaScenario();
    Fw(scenario)["phy_errors"] = {{{"phy", 0}, {"invalid_dword", 3}, {"return_code", 3}},
                                  {{"phy", 1}, {"sense", "70 00 04 00 00 00 00 0A 00 00 00 00 44 00"}},
                                  {{"phy", 2},
                                   {"invalid_dword", 4294967295u},
                                   {"running_disparity", 7},
                                   {"loss_of_sync", 8},
                                   {"phy_reset_problem", 9}}};
    std::string out = "Controller Model : ZOLT              VeskRAID 7391 \n\n"
                      "Failed to get details of PHY Identifier 0 \n"
                      "Failed to get details of PHY Identifier 1 \n"
                      "PHY Identifier - 2 \n"
                      "  Invalid DWORD count           - 4294967295 \n"
                      "  Loss of DWORD sync count      - 8 \n"
                      "  PHY reset problem count       - 9 \n"
                      "  Running disparity error count - 7 \n";
    std::string log = "Controller Model : ZOLT              VeskRAID 7391 \r\n\n"
                      "Failed to get details of PHY Identifier 0 \r\n"
                      "Failed to get details of PHY Identifier 1 \r\n"
                      "PHY Identifier - 2 \r\n"
                      "  Invalid DWORD count           - 4294967295 \r\n"
                      "  Loss of DWORD sync count      - 8 \r\n"
                      "  PHY reset problem count       - 9 \r\n"
                      "  Running disparity error count - 7 \r\n";
    for (const char* phy : {"3", "4", "5", "6", "7"}) {
        out += Counters(phy, 0, 0, 0, 0, "\n");
        log += Counters(phy, 0, 0, 0, 0, "\r\n");
    }
    CheckAll({{"failed frames", scenario, {"showctrlphyerrors", "1"}, out, log, kEightFrames}});
}

} // namespace
