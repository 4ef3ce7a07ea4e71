// The tool end to end: start-up, controller discovery and data areas, dispatch, argument validation,
// help, the expected-values file, exit codes and the log, through the launcher on simulated hosts.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "golden_file.h"
#include "quorvel_run.h"

namespace {

using qvtest::Command;
using qvtest::Controller;
using qvtest::LogHeader;
using qvtest::MaskTimes;
using qvtest::RunQuorvel;
using qvtest::Scenario;
using qvtest::WorkDir;
using json = nlohmann::json;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNotSupported = "Command not Supported. Execute quorvel help for available commands \n";

// The three reads that initialise a data area: identify controller, controller parameters, cache status.
const char kIdentify[] = "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00";
const char kParameters[] = "26 00 00 00 00 00 64 01 58 00 00 00 00 00 00 00";
const char kCacheStatus[] = "26 00 00 00 00 00 C1 02 00 00 00 00 00 00 00 00";

std::vector<Command> InitCommands(const std::string& node) {
    return {{node, kIdentify}, {node, kParameters}, {node, kCacheStatus}};
}

// One driver each, so discovery finds them in this order.
const char* const kDrivers[] = {"qzvk",   "qzdvk",  "qzdvkc",  "qzdvkg",
                                "qzdvkw", "veskdq", "veskdqg", "veskdq2"};

json Controllers(int count, int without_firmware = -1) {
    std::vector<json> list;
    for (int i = 0; i < count; ++i) {
        const std::string pci = "0000:1" + std::to_string(i) + ":00.0";
        list.push_back(Controller(kDrivers[i], pci, static_cast<unsigned>(2 + i),
                                  static_cast<unsigned>(1 + i), i != without_firmware));
    }
    return Scenario(list);
}

// A controller that fails every request on its node.
json SilentController() {
    json c = Controller("qzvk", "0000:3b:00.0", 2, 1, false);
    c["faults"] = {{{"request", 0}, {"nth", 1}, {"count", 0}, {"errno", 110}}};
    return Scenario({c});
}

std::string Joined(const std::vector<std::string>& args) {
    std::string text;
    for (const auto& a : args) {
        text += a + " ";
    }
    return text;
}

struct Case {
    std::string name;
    json scenario;
    std::vector<std::string> args;
    std::string out; // after the banner
    int status;
    std::string log; // after the header
    std::vector<Command> commands;
};

void Check(const Case& c, const WorkDir& dir) {
    SCOPED_TRACE(c.name + ": quorvel " + Joined(c.args));
    const qvtest::Run run = RunQuorvel(dir, c.scenario, c.args);
    EXPECT_EQ(run.out, kBanner + c.out);
    EXPECT_EQ(run.status, c.status);
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
    EXPECT_EQ(run.commands(), c.commands);
}

TEST(QuorvelStartUp, DispatchAndUnknownCommands) {
    const json one = Controllers(1);
    const Case cases[] = {
        {"no command",
         one,
         {},
         "No command specified. Execute quorvel help for available commands \n",
         2,
         "",
         {}},
        {"unknown", one, {"bogus"}, kNotSupported, 3, "", {}},
        {"prefix of a keyword", one, {"versio"}, kNotSupported, 3, "", {}},
        {"keyword with a tail", one, {"version2"}, kNotSupported, 3, "", {}},
        {"upper case", one, {"VERSION"}, kNotSupported, 3, "", {}},
        {"empty", one, {""}, kNotSupported, 3, "", {}},
        {"end row", one, {"EOL"}, kNotSupported, 3, "", {}},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        Check(c, dir);
        // Nothing was discovered: not a single node was opened.
        EXPECT_TRUE(RunQuorvel(dir, c.scenario, c.args).requests.empty()) << c.name;
    }
}

// Help starts no library and addresses no controller, even one whose firmware never answers.
TEST(QuorvelHelp, NeedsNoController) {
    const json silent = SilentController();
    const Case cases[] = {
        {"one command",
         silent,
         {"help", "verifyfwversion"},
         "Quorvel - Help Menu\n Usage: quorvel verifyfwversion <ControllerNumber>\n Info: This test verifies "
         "the "
         "controller firmware is programmed correctly\n Example: quorvel verifyfwversion 1\n Sample "
         "Output:\n "
         "Firmware version verification test: PASS (eValue: 1.32/aValue: 1.32)\n\n",
         0,
         "",
         {}},
        {"bad name",
         silent,
         {"help", "nosuch"},
         "Quorvel - Help Menu\nInvalid cmdName \nExecute quorvel help for available commands \n",
         0,
         "",
         {}},
        {"too many arguments",
         silent,
         {"help", "version", "extra"},
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: quorvel help [cmdName] \nInfo: Help "
         "Menu "
         "Options \n",
         2,
         "",
         {}},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        Check(c, dir);
        EXPECT_TRUE(RunQuorvel(dir, c.scenario, c.args).requests.empty()) << c.name;
    }
}

// The whole menu, every command's row whether or not the command runs yet: what the tool prints is
// the golden file, banner included.
TEST(QuorvelHelp, WholeMenuIsTheGoldenFile) {
    WorkDir dir;
    const qvtest::Run run = RunQuorvel(dir, SilentController(), {"help"});
    EXPECT_TRUE(golden::SameBytes(run.out, golden::Read("help.txt")));
    EXPECT_EQ(run.status, 0);
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader({"help"})) << "help is never logged";
    EXPECT_TRUE(run.requests.empty());
}

std::vector<Command> Concat(std::vector<std::vector<Command>> parts) {
    std::vector<Command> all;
    for (auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(QuorvelStartUp, VersionInitialisesEveryDataArea) {
    std::vector<Command> seven;
    for (int i = 1; i <= 7; ++i) {
        const auto init = InitCommands("/dev/sg" + std::to_string(i));
        seven.insert(seven.end(), init.begin(), init.end());
    }
    json too_short = Controllers(2);
    too_short["controllers"][1]["fw"] = {{"identify", {{"fixed_length", 100}}}};
    const std::string data_area_failed =
        "Note: This failure can occur if user is not logged in as super user (root).\n";
    const Case cases[] = {
        {"one controller",
         Controllers(1),
         {"version"},
         "Quorvel Version = 5.6.1 \n",
         0,
         "",
         InitCommands("/dev/sg1")},
        {"no controller", Scenario({}), {"version"}, "Quorvel Version = 5.6.1 \n", 0, "", {}},
        {"bad syntax after start-up",
         Controllers(1),
         {"version", "extra"},
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: quorvel version \nInfo: Displays "
         "Quorvel "
         "version \n",
         2,
         "",
         InitCommands("/dev/sg1")},
        // The second controller answers nothing: identify is tried twice, and the run stops.
        {"second data area fails",
         Controllers(2, 1),
         {"version"},
         "Initializing Controller Data Area (#1) failed, Status = 0x12 Or Firmware not Ready\n" +
             data_area_failed,
         14,
         "",
         Concat({InitCommands("/dev/sg1"), {{"/dev/sg2", kIdentify}, {"/dev/sg2", kIdentify}}})},
        {"second controller not supported",
         too_short,
         {"version"},
         "Initializing Controller Data Area (#1) failed, Status = 0x22 Or Firmware not Ready\n" +
             data_area_failed,
         14,
         "",
         Concat({InitCommands("/dev/sg1"), {{"/dev/sg2", kIdentify}}})},
        {"first of three fails",
         Controllers(3, 0),
         {"version"},
         "Initializing Controller Data Area (#0) failed, Status = 0x12 Or Firmware not Ready\n" +
             data_area_failed,
         14,
         "",
         {{"/dev/sg1", kIdentify}, {"/dev/sg1", kIdentify}}},
        // Only the first seven controllers are used; the eighth is never addressed.
        {"eight controllers", Controllers(8), {"version"}, "Quorvel Version = 5.6.1 \n", 0, "", seven},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        Check(c, dir);
    }
}

TEST(QuorvelLog, TwoRunsAppendTwoHeaders) {
    WorkDir dir;
    const json one = Controllers(1);
    const std::vector<std::string> first = {"version"};
    const std::vector<std::string> second = {"bogus", "1"};
    EXPECT_EQ(RunQuorvel(dir, one, first).status, 0);
    const qvtest::Run run = RunQuorvel(dir, one, second);
    EXPECT_EQ(run.status, 3);
    ASSERT_TRUE(run.log.has_value());
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(first) + LogHeader(second));
}

TEST(QuorvelLog, ALogThatCannotBeOpened) {
    WorkDir dir;
    ASSERT_EQ(::mkdir(dir.at("diagslog.txt").c_str(), 0755), 0);
    const qvtest::Run run = RunQuorvel(dir, Controllers(1), {"version"});
    EXPECT_EQ(run.out, kBanner + "Failed to open file : diagslog.txt \nQuorvel Version = 5.6.1 \n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.commands(), InitCommands("/dev/sg1"));
}

// Commands that name a controller: their arguments are checked before they do any work. A command
// not built yet answers as an unknown command, before any discovery.
struct ControllerCase {
    std::string name;
    int controllers;
    std::vector<std::string> args;
    std::string out; // after the banner; "<syntax>" for the extended help
    int status;
    std::string log;
    std::vector<Command> commands;
};

// The start-up reads of the first n controllers.
std::vector<Command> Init(int controllers) {
    std::vector<Command> init;
    for (int i = 1; i <= controllers; ++i) {
        const auto commands = InitCommands("/dev/sg" + std::to_string(i));
        init.insert(init.end(), commands.begin(), commands.end());
    }
    return init;
}

// The extended help that a syntax error shows, for the commands these cases use.
std::string ExtendedHelpFor(const std::string& keyword) {
    struct Row {
        const char* keyword;
        const char* format;
        const char* info;
        bool file; // reads the expected-values file
    };
    static const Row kRows[] = {
        {"verifyfwversion", "quorvel verifyfwversion <ControllerNumber>", "Verifies Fw Version", true},
        {"verifymfg", " quorvel verifymfg <ControllerNumber>", "Verifies MFG section", false},
        {"verifypcieconfig", "quorvel verifypcieconfig <ControllerNumber>", "Verify PCIe configuration",
         true},
        {"getcacheinfo", "quorvel getcacheinfo <ControllerNumber>", "Show controller cache info", false},
        {"listcontrollers", "quorvel listcontrollers", "Displays the list of connected controller(s)", false},
        {"cachetest",
         " quorvel cachetest <ControllerNumber> <iteration> \n\r quorvel cachetest <ControllerNumber> "
         "lfsrfill "
         "<iteration> \n\r quorvel cachetest <ControllerNumber> patternfill <iteration> \n\r quorvel "
         "cachetest "
         "<ControllerNumber> walkingones <iteration> \n\r quorvel cachetest <ControllerNumber> walkingzeros "
         "<iteration> \n\r quorvel cachetest <ControllerNumber> datainversion <iteration>",
         "Executes cache tests. Valid iteration values 1-100", false},
        {"saspatterntest",
         " quorvel saspatterntest <ControllerNumber> <iteration> \n\r quorvel saspatterntest "
         "<ControllerNumber> "
         "jtpat <iteration> \n\r quorvel saspatterntest <ControllerNumber> random <iteration> \n\r quorvel "
         "saspatterntest <ControllerNumber> jtpatrandom <iteration> \n\r quorvel saspatterntest "
         "<ControllerNumber> d10.2hfreq <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
         "jtpatd10.2hfreq <iteration>",
         "Executes SAS Pattern tests. Valid iteration values 1-100", false},
    };
    for (const Row& row : kRows) {
        if (keyword != row.keyword) {
            continue;
        }
        std::string text =
            "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: " + std::string(row.format) +
            " \nInfo: " + row.info + " \n";
        if (row.file) {
            text += "Note : Use -f <Filename/Filepath> after ControllerNumber to override default "
                    "configuration file \n"
                    "Ex : quorvel " +
                    keyword + " <ControllerNumber> -f <Filename/Filepath> \n\r";
        }
        return text;
    }
    ADD_FAILURE() << "no extended help written out for " << keyword;
    return "";
}

void CheckControllerCase(const ControllerCase& c, const WorkDir& dir, const json& scenario) {
    SCOPED_TRACE(c.name + ": quorvel " + Joined(c.args));
    const qvtest::Run run = RunQuorvel(dir, scenario, c.args);
    ASSERT_TRUE(run.log.has_value());
    std::string out = c.out;
    if (const auto at = out.find("<syntax>"); at != std::string::npos) {
        out.replace(at, 8, ExtendedHelpFor(c.args[0]));
    }
    EXPECT_EQ(run.out, kBanner + out);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
    EXPECT_EQ(run.commands(), c.commands);
}

TEST(QuorvelArguments, ControllerNumbersAndIterationCounts) {
    const std::string no_controllers = "ERROR!!! No Controllers were detected \n";
    const std::string no_controllers_log = "ERROR!!! No Controllers were detected \r\n";
    const std::string bad_number =
        "Invalid ControllerNumber. Please enter a valid ControllerNumber \nTotal controllers found = 2 \n";
    const std::string bad_number_log = "Invalid ControllerNumber. Please enter a valid ControllerNumber "
                                       "\r\nTotal controllers found = 2 \r\n";
    const std::string bad_count =
        "Invalid iteration number. Please enter a valid iteration number \nValid Range : [1 - 100] \n";
    const std::string bad_count_log =
        "Invalid iteration number. Please enter a valid iteration number \r\nValid Range : [1 - 100] \r\n";
    const std::string no_file = "WARNING!!! Unable to read configuration file.\nFactory Default values will be "
                                "used for the verification tests.\n";
    const std::string no_file_log = "Config file read error (nil)\r\n";
    const ControllerCase cases[] = {
        {"no controllers", 0, {"getcacheinfo", "1"}, no_controllers, 14, no_controllers_log, {}},
        {"no controllers, data fill", 0, {"dataretentiontest", "1", "datafill"}, no_controllers, 14,
         no_controllers_log, {}},
        {"controller 0", 2, {"verifycpld", "0"}, bad_number, 2, bad_number_log, Init(2)},
        {"above the count", 2, {"verifycpld", "3"}, bad_number, 2, bad_number_log, Init(2)},
        {"not a number", 2, {"verifycpld", "two"}, bad_number, 2, bad_number_log, Init(2)},
        {"would wrap to 1", 2, {"verifycpld", "65537"}, bad_number, 2, bad_number_log, Init(2)},
        {"negative", 2, {"getpcieinfo", "-65535"}, bad_number, 2, bad_number_log, Init(2)},
        {"upper-case hex", 2, {"getpcieinfo", "0X2"}, bad_number, 2, bad_number_log, Init(2)},
        {"power of controller 3", 2, {"verifysystempower", "3"}, bad_number, 2, bad_number_log, Init(2)},
        {"integrity of controller 0", 2, {"pcieintegritytest", "0"}, bad_number, 2, bad_number_log, Init(2)},
        {"iteration 0", 2, {"cachetest", "1", "0"}, bad_count, 2, bad_count_log, Init(2)},
        {"iteration 101", 2, {"cachetest", "2", "101"}, bad_count, 2, bad_count_log, Init(2)},
        {"iteration 0x65", 2, {"memorytest", "1", "0x65"}, bad_count, 2, bad_count_log, Init(2)},
        {"iteration that would wrap to 1", 2, {"sastest", "1", "65537"}, bad_count, 2, bad_count_log, Init(2)},
        {"sub-test iteration 101",
         2,
         {"cachetest", "1", "lfsrfill", "101"},
         bad_count,
         2,
         bad_count_log,
         Init(2)},
        {"LED iteration 0", 2, {"ctrlledtest", "1", "0"}, bad_count, 2, bad_count_log, Init(2)},
        {"unknown sub-test", 2, {"cachetest", "1", "bogus", "5"}, "<syntax>", 2, "", Init(2)},
        {"controller before sub-test",
         2,
         {"cachetest", "9", "bogus", "0"},
         bad_number,
         2,
         bad_number_log,
         Init(2)},
        {"sub-test of another test", 2, {"saspatterntest", "1", "wrrdcomp", "1"}, "<syntax>", 2, "", Init(2)},
        {"missing controller", 2, {"verifymfg"}, "<syntax>", 2, "", Init(2)},
        {"file option of a command without a file",
         2,
         {"getcacheinfo", "1", "-f", "x.cfg"},
         "<syntax>",
         2,
         "",
         Init(2)},
        // "-f" is the last argument: no file name, so the default file is read (it is missing).
        {"file option without a file name",
         2,
         {"verifyfwversion", "1", "-f"},
         no_file + "<syntax>",
         2,
         no_file_log,
         Init(2)},
        {"list with a controller number", 2, {"listcontrollers", "1"}, "<syntax>", 2, "", Init(2)},
        {"flash with a bad controller", 2, {"--flash=/tmp/version.bin", "3"}, bad_number, 2, bad_number_log,
         Init(2)},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        CheckControllerCase(c, dir, Controllers(c.controllers));
    }
}

// The controller a command names is the one addressed, counted from 1 in discovery order; numbers
// that would wrap onto another controller, and iteration counts past their bounds, send nothing.
TEST(QuorvelArguments, TheNamedControllerIsTheOneAddressed) {
    const char kRevisionRead[] = "26 00 00 00 00 00 42 00 D7 00 00 00 00 00 00 00";
    json two = Controllers(2);
    two["controllers"][0]["extra"] = {{"diag", {{"revision", "01 02 03 00"}}}};
    two["controllers"][1]["extra"] = {{"diag", {{"revision", "05 59 01 00"}}}};
    const auto init = Concat({InitCommands("/dev/sg1"), InitCommands("/dev/sg2")});
    const std::string bad_number =
        "Invalid ControllerNumber. Please enter a valid ControllerNumber \nTotal controllers found = 2 \n";
    const std::string bad_number_log = "Invalid ControllerNumber. Please enter a valid ControllerNumber "
                                       "\r\nTotal controllers found = 2 \r\n";
    const Case cases[] = {
        {"first",
         two,
         {"fwdiagrevision", "1"},
         "Firmware Diag Revision = 1.3.2 \n",
         0,
         "Firmware Diag Revision = 1.3.2 \r\n",
         Concat({init, {{"/dev/sg1", kRevisionRead}}})},
        {"second",
         two,
         {"fwdiagrevision", "2"},
         "Firmware Diag Revision = 5.1.89 \n",
         0,
         "Firmware Diag Revision = 5.1.89 \r\n",
         Concat({init, {{"/dev/sg2", kRevisionRead}}})},
        {"second in hex",
         two,
         {"fwdiagrevision", "0x2"},
         "Firmware Diag Revision = 5.1.89 \n",
         0,
         "Firmware Diag Revision = 5.1.89 \r\n",
         Concat({init, {{"/dev/sg2", kRevisionRead}}})},
        {"would wrap to 1", two, {"fwdiagrevision", "65537"}, bad_number, 2, bad_number_log, init},
        {"would wrap to 2", two, {"fwdiagrevision", "0x10002"}, bad_number, 2, bad_number_log, init},
        {"negative", two, {"fwdiagrevision", "-65535"}, bad_number, 2, bad_number_log, init},
        {"zero", two, {"fwdiagrevision", "0"}, bad_number, 2, bad_number_log, init},
        {"above the count", two, {"fwdiagrevision", "3"}, bad_number, 2, bad_number_log, init},
        {"not a number", two, {"fwdiagrevision", "two"}, bad_number, 2, bad_number_log, init},
        {"no controllers",
         Scenario({}),
         {"fwdiagrevision", "1"},
         "ERROR!!! No Controllers were detected \n",
         14,
         "ERROR!!! No Controllers were detected \r\n",
         {}},
    };
    for (const auto& c : cases) {
        WorkDir dir;
        Check(c, dir);
    }
}

TEST(QuorvelArguments, IterationCountsAtTheirBounds) {
    const json one = Controllers(1);
    for (const std::string count : {"1", "100", "0x64"}) {
        SCOPED_TRACE(count);
        WorkDir dir;
        const qvtest::Run run = RunQuorvel(dir, one, {"ctrlledtest", "1", count});
        EXPECT_EQ(run.status, 0);
        // Start-up, then one test send and one status read per iteration.
        const size_t iterations = count == "1" ? 1 : 100;
        EXPECT_EQ(run.commands().size(), 3 + 2 * iterations);
        EXPECT_NE(run.out.find("Result: Iteration: " + std::to_string(iterations) + " PASS"),
                  std::string::npos);
    }
    const std::string bad_count =
        "Invalid iteration number. Please enter a valid iteration number \nValid Range : [1 - 100] \n";
    for (const std::string count : {"0", "101", "0x65", "65537", "-65436"}) {
        SCOPED_TRACE(count);
        WorkDir dir;
        const qvtest::Run run = RunQuorvel(dir, one, {"ctrlledtest", "1", count});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, kBanner + bad_count);
        EXPECT_EQ(run.commands(), InitCommands("/dev/sg1"));
    }
}

// The expected-values file is read after start-up and before the command; its errors end the run.
struct FileCase {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;
    std::string out;
    std::string log;
};

TEST(QuorvelExpectedValues, FileErrors) {
    const std::string field24 = "maxtempsensor0" + std::string(10, 'x');
    const std::string field25 = field24 + "x";
    const std::string long_name = std::string(46, 'n') + ".cfg";
    const std::vector<std::string> fw = {"verifyfwversion", "1"};
    const FileCase cases[] = {
        {"default file",
         fw,
         {{"veskroc.cfg", "fwversion 1.32\nbogus 1\n"}},
         " Field not supported bogus\n",
         ""},
        {"file after -f",
         {"verifyfwversion", "1", "-f", "my.cfg"},
         {{"veskroc.cfg", "fwversion 1.32\n"}, {"my.cfg", "fwversion 1.32\n\ncachesize\n"}},
         "Invalid number of arguements provided in line number 3 in configuration file\n",
         ""},
        // The default file is read (it is missing), then the command refuses its arguments.
        {"-f not next to last",
         {"verifypcieconfig", "1", "-f", "my.cfg", "x"},
         {{"my.cfg", "bogus 1\n"}},
         "WARNING!!! Unable to read configuration file.\nFactory Default values will be used for the "
         "verification tests.\n<syntax>",
         "Config file read error (nil)\r\n"},
        {"missing file for the cache size",
         {"verifycachesize", "1"},
         {},
         "ERROR!!! Configuration file is required for the Cache size verification test.\n",
         "Config file read error (nil)\r\n"},
        {"missing file after -f for the cache size",
         {"verifycachesize", "1", "-f", "absent.cfg"},
         {{"veskroc.cfg", "cachesize 1024\n"}},
         "ERROR!!! Configuration file is required for the Cache size verification test.\n",
         "Config file read error (nil)\r\n"},
        {"blanks and CR LF",
         {"verifysystemtemperature", "1"},
         {{"veskroc.cfg", "  maxtempsensor0    80 \r\n\r\n\nmintempsensor0 7\r\n   \r\n"}},
         "Invalid number of arguements provided in line number 5 in configuration file\n",
         ""},
        {"a tab is no separator",
         {"verifysystemtemperature", "1"},
         {{"veskroc.cfg", "maxtempsensor0\t80\r\n"}},
         "Invalid number of arguements provided in line number 1 in configuration file\n",
         ""},
        {"three words",
         fw,
         {{"veskroc.cfg", "cachesize 3856 MB\n"}},
         "Invalid number of arguements provided in line number 1 in configuration file\n",
         ""},
        {"field of maximum width",
         fw,
         {{"veskroc.cfg", field24 + " 1\n"}},
         " Field not supported " + field24 + "\n",
         ""},
        {"field over the maximum width",
         fw,
         {{"veskroc.cfg", "fwversion 1\n" + field25 + " 1\n"}},
         "Field in line number 2 exceeds maximum width in configuration file\n",
         ""},
        {"value over the maximum width",
         fw,
         {{"veskroc.cfg", "fwversion " + std::string(33, '1') + "\n"}},
         "Value in line number 1 exceeds maximum width in configuration file\n",
         ""},
        {"not a number",
         fw,
         {{"veskroc.cfg", "mintempsensor3 1a\n"}},
         "Invalid value provided for mintempsensor3 field in configuration file\n",
         ""},
        {"integer with a point",
         fw,
         {{"veskroc.cfg", "maxtempsensor1 85.0\n"}},
         "Invalid value provided for maxtempsensor1 field in configuration file\n",
         ""},
        {"over 16 bits",
         fw,
         {{"veskroc.cfg", "cachesize 65536\n"}},
         "Invalid value provided for cachesize field in configuration file\n",
         ""},
        {"line longer than the reader",
         fw,
         {{"veskroc.cfg", "cachesize 1" + std::string(150, ' ') + "\n"}},
         "Line number 1 exceeds maximum width in configuration file\n",
         ""},
        {"file name too long",
         {"verifyfwversion", "1", "-f", long_name},
         {{long_name, "fwversion 1\n"}},
         "ERROR!!! Configuration file name exceeds 49 characters\n",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + ": quorvel " + Joined(c.args));
        WorkDir dir;
        for (const auto& [name, content] : c.files) {
            dir.write(name, content);
        }
        const qvtest::Run run = RunQuorvel(dir, Controllers(1), c.args);
        ASSERT_TRUE(run.log.has_value());
        std::string out = c.out;
        if (const auto at = out.find("<syntax>"); at != std::string::npos) {
            out.replace(at, 8, ExtendedHelpFor(c.args[0]));
        }
        EXPECT_EQ(run.out, kBanner + out);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
        EXPECT_EQ(run.commands(), InitCommands("/dev/sg1"));
    }
}

// The commands scripts/demo.sh runs, in its order.
std::vector<std::string> DemoCommands() {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/scripts/demo.sh");
    std::vector<std::string> commands;
    const std::string prefix = "run \"";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            commands.push_back(line.substr(prefix.size(), line.find('"', prefix.size()) - prefix.size()));
        }
    }
    return commands;
}

// The scenario file a command of scripts/demo.sh runs on, when it names one (its third argument).
std::string DemoScenario(const std::string& command) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/scripts/demo.sh");
    const std::string prefix = "run \"" + command + "\" \"";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) {
            const size_t end = line.find('"', prefix.size());
            const size_t open = line.find('"', end + 1);
            if (open == std::string::npos) {
                return "";
            }
            return line.substr(open + 1, line.find('"', open + 1) - open - 1);
        }
    }
    return "";
}

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

// The demo the README shows runs as shown: every command of scripts/demo.sh, on the demo scenario
// with the demo's expected-values file, prints what is written here.
TEST(QuorvelDemo, ScenarioOfTheRepository) {
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/demo/scenario.json");
    ASSERT_TRUE(in.good());
    const json demo = json::parse(in);
    std::string cache_test;
    const char* const fills[] = {"LFSR Cache Fill", "Pattern Fill", "Walking Ones", "Walking Zeros", "Data Inversion"};
    for (const char* fill : fills) {
        cache_test += std::string("CacheTest : ") + fill +
                      " ctrlNum: 1, iteration 2\n  Result: Iteration: 1 PASS - No Error\n  Result: Iteration: 2 "
                      "PASS - No Error\n";
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"listcontrollers",
         "Found 2 controller(s)\n  1: QVSIM  QVSIM Gen2 RAID PQ-16i Sim - Serial Number: QVS3B00A0001 \n"
         "  2: QVSIM  QVSIM Gen3 RAID PQ-32e Sim - Serial Number: QVS5E00B0002 \n"},
        {"version", "Quorvel Version = 5.6.1 \n"},
        {"help verifyfwversion",
         "Quorvel - Help Menu\n Usage: quorvel verifyfwversion <ControllerNumber>\n Info: This test verifies the "
         "controller firmware is programmed correctly\n Example: quorvel verifyfwversion 1\n Sample Output:\n "
         "Firmware version verification test: PASS (eValue: 1.32/aValue: 1.32)\n\n"},
        {"getfwmiscinfo 1",
         "ProductIdBuffer         : PQ-16i Sim \nFirmwareVersion         : 5.32-0\nPendingFirmwareVersion  : "
         "5.40-2\nVendorIDBuffer          : QVSIM\nHardwareRevision        : B\n"},
        {"verifyfwversion 1", "Firmware version verification test: PASS (eValue: 5.32-0/aValue: 5.32-0) \n"},
        {"getctrlstatusinfo 1",
         "Controller Status           : Good\nCache Status                : Not Configured\nController Config Status "
         "   : Good\n"},
        {"cachetest 1 2", cache_test},
        {"--flash=demo-fw.bin 1",
         "Flashing Controller : SUCCESS\n\rA reboot will be required for changes to take effect.\n"},
        {"--read-mfgdata=mfg.bin 1", "Read Controller Manufacturing Data status : SUCCESS\n"},
        {"dataretentiontest 1 datafill",
         "Backup Power Source Status : PresentAndCharging \nTo start data retention test, please ensure a fully "
         "charged super-cap is attached\n"},
        {"showdrives 1",
         "Drives connected to the requested controller \n" + std::string(97, '-') +
             " \nIndex:0, Port:Box:Bay 1I:1:1, Drive status level:Ok, Is drive usable:Yes \n"
             "Index:0, Port:Box:Bay 1I:1:2, Drive status level:Ok, Is drive usable:Yes \n"
             "Index:1, Port:Box:Bay 2I:1:3, Drive status level:Ok, Is drive usable:Yes \n"
             "Index:1, Port:Box:Bay 2I:1:4, Drive status level:Ok, Is drive usable:Yes \n"},
        {"bogus", kNotSupported},
    };
    std::vector<std::string> listed;
    for (const auto& e : expected) {
        listed.push_back(e.first);
    }
    ASSERT_EQ(DemoCommands(), listed) << "scripts/demo.sh runs other commands than the ones checked here";
    for (const auto& [command, out] : expected) {
        SCOPED_TRACE("quorvel " + command);
        WorkDir dir;
        dir.write("veskroc.cfg", "fwversion 5.32-0\n");
        dir.write("demo-fw.bin", std::string(40000, 'Q'));
        json scenario = demo;
        if (const std::string file = DemoScenario(command); !file.empty()) {
            std::ifstream other(std::string(QUORVEL_SOURCE_DIR) + "/" + file);
            scenario = json::parse(other);
        }
        const qvtest::Run run = RunQuorvel(dir, scenario, Words(command));
        EXPECT_EQ(run.out, kBanner + out);
        EXPECT_EQ(run.status, command == "bogus" ? 3 : 0);
    }
}

} // namespace
