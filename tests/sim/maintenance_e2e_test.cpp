// The firmware, manufacturing-data and SEEPROM maintenance commands end to end: the real binary
// through the launcher on a simulated controller that keeps a collect buffer, an NVRAM and a
// manufacturing record. Standard output and diagslog.txt byte for byte, the exit code, every command
// the controller received, and the files written.
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

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";

const std::vector<std::string> kStartUp = {
    "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00",
    "26 00 00 00 00 00 64 01 58 00 00 00 00 00 00 00",
    "26 00 00 00 00 00 C1 02 00 00 00 00 00 00 00 00",
};
// What the flash permission check reads on first use: the feature pages and the activation status.
const std::vector<std::string> kFlashCheckReads = {
    "26 00 FF FF 00 00 61 02 59 00 00 00 00 00 00 00",
    "26 00 00 00 00 03 D4 00 10 00 00 00 00 00 00 00",
};
const std::string kPause = "27 00 00 00 00 01 98 00 00 00 00 00 00 00 00 00";
const std::string kResume = "27 00 00 00 00 00 99 00 00 00 00 00 00 00 00 00";
const std::string kFree = "27 00 00 00 00 00 D3 00 00 00 00 00 00 00 00 00";
const std::string kActivate = "27 00 00 00 00 00 F7 00 00 00 00 00 00 00 00 00";
const std::string kValidate = "27 00 00 00 00 01 FD 00 00 00 00 00 00 00 00 00";
const std::string kRecordRead = "26 00 00 00 00 01 82 01 00 00 00 00 00 00 00 00";
const std::string kRecordWrite = "27 00 00 00 00 00 82 01 00 00 00 00 00 00 00 00";

// Chunk n of 3 of a 40,000-byte image.
std::string Chunk(int n) {
    const char* sizes[] = {"40 00", "40 00", "1C 40"};
    return "27 00 00 00 03 0" + std::to_string(n) + " D2 " + sizes[n - 1] + " 00 00 00 00 00 00 00";
}

std::vector<std::string> Transfer() {
    return {kFree, Chunk(1), Chunk(2), Chunk(3)};
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

std::vector<std::string> Cdbs(const qvtest::Run& run) {
    std::vector<std::string> out;
    for (const auto& c : run.commands()) {
        if (c.node == kNode) {
            out.push_back(c.cdb);
        }
    }
    return out;
}

json OneController(const json& fw = json::object()) {
    json c = Controller("qzvk", "0000:3b:00.0", 2, 1);
    c["fw"] = fw;
    return Scenario({c});
}

// The simulator's default feature pages, with the miscellaneous page saying the controller flashes
// once (bit 0x40 of its fourth byte).
json FlashOncePages() {
    const std::pair<const char*, const char*> pages[] = {
        {"cache", "14"},
        {"raid", "02 0C 05 00 0F 04 00 00"},
        {"backup", "03"},
        {"background", "67 00 00 02"},
        {"background_erase", "07 07 01"},
        {"connectivity", "08 13 0B 0C"},
        {"drive", "08 48 03"},
        {"io", "03"},
        {"power_management", "07 01 0F"},
        {"miscellaneous", "12 03 00 46 00 00 00 01 00"},
        {"perform_device_mgmt", "9E 01 00 00 00"},
        {"oob_command", "80 13 01 00 00"},
        {"id_controller", "06 00 00 00"},
        {"set_controller_params", "1F 00 00 00"},
        {"online_firmware_activation", "D4 07 01 00"},
        {"backplane_discovery_protocol", "C7 C7 00 00 00 00 00 00 00 00 00 00 00 00 00 00 0F 00 07"},
        {"manufacturing_data", "00"},
        {"subsystem_info", "01"},
    };
    json list = json::array();
    for (const auto& [name, data] : pages) {
        list.push_back({{"page", name}, {"data", data}});
    }
    return list;
}

const char kRefused[] = "70 00 05 00 00 00 00 0A 00 00 00 00 24 00";

struct Case {
    std::string name;
    json scenario;
    std::vector<std::string> args;
    std::string out; // after the banner
    std::string log; // after the header
    std::vector<std::string> sent;
    int status = 0;
};

qvtest::Run Check(const Case& c, const WorkDir& dir) {
    std::string line;
    for (const auto& a : c.args) {
        line += a + " ";
    }
    SCOPED_TRACE(c.name + ": quorvel " + line);
    qvtest::Run run = RunQuorvel(dir, c.scenario, c.args);
    EXPECT_EQ(run.out, kBanner + c.out);
    EXPECT_EQ(run.status, c.status);
    EXPECT_TRUE(run.log.has_value());
    if (run.log) {
        EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
    }
    EXPECT_EQ(Cdbs(run), c.sent);
    return run;
}

const std::string kFlashed = "Flashing Controller : SUCCESS\n\rA reboot will be required for changes to take effect.";

TEST(MaintenanceE2E, FirmwareFlash) {
    const std::string image(40000, '\x5A');
    const std::vector<std::string> validate = Join({Transfer(), {kValidate, kFree}});
    const std::vector<std::string> flash = Join({Transfer(), {kActivate, kFree}});
    const Case cases[] = {
        {"not flash-once: flashed twice",
         OneController(),
         {"--flash=fw.bin", "1"},
         kFlashed + "\n",
         kFlashed + " \r\n",
         Join({kStartUp, kFlashCheckReads, {kPause}, validate, flash, flash, {kResume}})},
        {"flash-once: flashed once",
         OneController({{"feature_pages", FlashOncePages()}}),
         {"--flash=fw.bin", "1"},
         kFlashed + "\n",
         kFlashed + " \r\n",
         Join({kStartUp, kFlashCheckReads, {kPause}, validate, flash, {kResume}})},
        {"pending activation",
         OneController({{"ofa", {{"status", 253}}}}),
         {"--flash=fw.bin", "1"},
         "Flashing Controller : FAILED\n",
         "Flashing Controller : FAILED\n",
         Join({kStartUp, kFlashCheckReads})},
        {"second chunk of the validation refused",
         OneController({{"faults", {{{"bmic", "0xD2"}, {"nth", 2}, {"sense", kRefused}}}}}),
         {"--flash=fw.bin", "1"},
         "Flashing Controller : FAILED\n",
         "Flashing Controller : FAILED\n",
         Join({kStartUp, kFlashCheckReads, {kPause, kFree, Chunk(1), Chunk(2), kFree, kResume}})},
        {"missing file",
         OneController(),
         {"--flash=missing.bin", "1"},
         "Opening file : FAILED\n",
         "Opening file : FAILED \r\n",
         kStartUp},
    };
    for (const Case& c : cases) {
        WorkDir dir;
        dir.write("fw.bin", image);
        Check(c, dir);
    }
}

TEST(MaintenanceE2E, ManufacturingDataAndNvram) {
    const std::string ok_mfg =
        "Flashing Controller Manufacturing Data : SUCCESS\n\rA reboot will be required for changes to take effect.";
    const std::string ok_mfg_log =
        "Flashing Controller  Manufacturing Data : SUCCESS\n\rA reboot will be required for changes to take effect.";
    const std::string ok_nvram =
        "Flashing entire SEEPROM NVRAM of Controller : SUCCESS\n\rA reboot will be required for changes to take "
        "effect.";
    const std::string ok_preserve = "Preserve Current Manufacturing Data of the Controller : SUCCESS\n\rA reboot "
                                    "will be required for changes to take effect.";
    // A controller whose PCI ids give firmware feature version 5.
    json old_fw = {{"identify", {{"pci_vendor", 0x1D7B}, {"pci_device", 0x0A53}}}};
    const Case cases[] = {
        {"manufacturing data at version 8",
         OneController(),
         {"--flash-mfgdata=m.bin", "1"},
         ok_mfg + "\n",
         ok_mfg_log + " \r\n",
         Join({kStartUp, {"27 00 01 01 00 00 46 01 00 00 00 00 00 00 00 00"}})},
        {"manufacturing data at version 5",
         OneController(old_fw),
         {"--flash-mfgdata=m.bin", "1"},
         "Flashing Controller Manufacturing Data : FAILED\n",
         "Flashing Controller Manufacturing Data : FAILED \r\n",
         kStartUp},
        {"whole NVRAM",
         OneController(),
         {"--flash-nvram=nv.bin", "1"},
         ok_nvram + "\n",
         ok_nvram + " \r\n",
         Join({kStartUp, {"27 00 08 01 00 00 46 40 00 00 00 00 00 00 00 00"}})},
        {"preserve",
         OneController(),
         {"--preserve=nv.bin", "1"},
         "Get Manufacturing Data : SUCCESS\n" + ok_nvram + "\n" + ok_preserve + "\n",
         ok_nvram + " \r\n" + ok_preserve + " \r\n",
         Join({kStartUp, {kRecordRead, "27 00 08 01 00 00 46 40 00 00 00 00 00 00 00 00", kRecordWrite}})},
        {"preserve with a missing image",
         OneController(),
         {"--preserve=missing.bin", "1"},
         "Get Manufacturing Data : SUCCESS\nOpening file : FAILED\n",
         "Opening file : FAILED \r\n",
         Join({kStartUp, {kRecordRead}})},
    };
    for (const Case& c : cases) {
        WorkDir dir;
        dir.write("m.bin", std::string(256, '\x11'));
        dir.write("nv.bin", std::string(16384, '\x22'));
        Check(c, dir);
    }
}

TEST(MaintenanceE2E, SerialNumberAndWWID) {
    const std::string sn_ok =
        "Set Controller serial number result : SUCCESS\n\rA reboot will be required for all new values to take "
        "effect.";
    const std::string wwid_ok =
        "Set Controller Seeprom WWID result : SUCCESS\n\rA reboot will be required for all new values to take "
        "effect.";
    const std::string invalid_wwid = "Invalid WWID. Valid input for WWID is 16 hex digits starting with 5\n";
    const std::string invalid_wwid_log = "Invalid WWID.Valid input for WWID is 16 hex digits starting with 5 \r\n";
    const std::string current_wwid = "Current Controller SEEPROM WWID:51D7B00000A1B2C0\n";
    const std::string sn_help = "** Invalid syntax **\nQuorvel - Extended Help Menu \n"
                                "Syntax: quorvel --set-sn=<SerialNumber(0-14 ASCII characters)> <ControllerNumber> \n"
                                "Info: Modify Controller serial number \n";
    const Case cases[] = {
        {"serial number",
         OneController(),
         {"--set-sn=0151F300139", "1"},
         "Current Controller Serial Number: QVS0A1B2C3D4\nNew Controller Serial Number: 0151F300139\n" + sn_ok +
             "\n",
         sn_ok + " \r\n",
         Join({kStartUp, {kRecordRead, kRecordWrite}})},
        {"serial number too long", OneController(), {"--set-sn=ABCDEFGHIJKLMNOP", "1"}, sn_help, "", kStartUp, 2},
        {"serial number with a dash", OneController(), {"--set-sn=AB-CD", "1"}, sn_help, "", kStartUp, 2},
        {"WWID",
         OneController(),
         {"--set-wwid=511122223333ABCD", "1"},
         current_wwid + "New Controller SEEPROM WWID: 511122223333ABCD\n" + wwid_ok + "\n",
         wwid_ok + " \r\n",
         Join({kStartUp, {kRecordRead, kRecordWrite}})},
        {"WWID without the NAA",
         OneController(),
         {"--set-wwid=411122223333ABCD", "1"},
         current_wwid + invalid_wwid,
         invalid_wwid_log,
         Join({kStartUp, {kRecordRead}})},
        {"WWID of 15 digits", OneController(), {"--set-wwid=51112222333ABCD", "1"}, invalid_wwid, invalid_wwid_log,
         kStartUp},
        {"WWID with a G", OneController(), {"--set-wwid=5111222233G3ABCD", "1"}, invalid_wwid, invalid_wwid_log,
         kStartUp},
        {"no WWID", OneController(), {"--set-wwid=", "1"}, "WWID is not provided \n", "WWID is not provided \r\n",
         kStartUp},
    };
    for (const Case& c : cases) {
        WorkDir dir;
        const qvtest::Run run = Check(c, dir);
        if (c.name == "serial number" || c.name == "WWID") {
            // The record written back is the one read, with only the field changed.
            std::string data_out;
            for (const auto& r : run.requests) {
                if (r.contains("decoded") && r["decoded"].is_object() && r["decoded"].contains("cdb") &&
                    r["decoded"]["cdb"] == kRecordWrite) {
                    data_out = r["decoded"].value("data_out", "");
                }
            }
            ASSERT_EQ(data_out.size(), 256u * 3 - 1);
            if (c.name == "serial number") {
                // Bytes 8-18 "0151F300139", 19-22 zero, 23 on the spare part number as read.
                EXPECT_EQ(data_out.substr(8 * 3, 15 * 3), "30 31 35 31 46 33 30 30 31 33 39 00 00 00 00 ");
                EXPECT_EQ(data_out.substr(0, 8 * 3), "51 D7 B0 00 00 A1 B2 C0 ");
                EXPECT_EQ(data_out.substr(23 * 3, 3 * 3), "51 56 2D ");
            } else {
                EXPECT_EQ(data_out.substr(0, 8 * 3), "51 11 22 22 33 33 AB CD ");
                EXPECT_EQ(data_out.substr(8 * 3, 3 * 3), "51 56 53 ");
            }
        }
    }
}

TEST(MaintenanceE2E, ManufacturingDataReadAppendsToTheFile) {
    WorkDir dir;
    const std::vector<std::string> args = {"--read-mfgdata=mfg.bin", "1"};
    const std::string ok = "Read Controller Manufacturing Data status : SUCCESS";
    const std::vector<std::string> sent = Join({kStartUp, {"26 00 01 00 00 00 46 01 00 00 00 00 00 00 00 00"}});
    Check({"first read", OneController(), args, ok + "\n", ok + " \r\n", sent}, dir);
    // The second run appends to the same log and the same file.
    const qvtest::Run run = RunQuorvel(dir, OneController(), args);
    EXPECT_EQ(run.out, kBanner + ok + "\n");
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(args) + ok + " \r\n" + LogHeader(args) + ok + " \r\n");
    const auto file = dir.read("mfg.bin");
    ASSERT_TRUE(file.has_value());
    EXPECT_EQ(file->size(), 512u);
}

} // namespace
