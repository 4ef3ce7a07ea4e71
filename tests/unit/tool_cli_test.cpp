// The command table, argument validation, the mapping of result codes to exit codes, and help.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "externs.h"
#include "golden_file.h"

namespace {

// Every command the tool knows, in table order: keyword, syntax and info texts.
struct DocumentedRow {
    const char* keyword;
    const char* format;
    const char* info;
};

const DocumentedRow kDocumentedRows[] = {
    {"verifyfwversion", "quorvel verifyfwversion <ControllerNumber>", "Verifies Fw Version"},
    {"verifysystempower", "quorvel verifysystempower <ControllerNumber>", "Verifies Power Mode information"},
    {"verifysystemtemperature", "quorvel verifysystemtemperature <ControllerNumber>",
     "Verifies temperature sensor information"},
    {"verifymfg", " quorvel verifymfg <ControllerNumber>", "Verifies MFG section"},
    {"verifycachesize", "quorvel verifycachesize <ControllerNumber>", "Verifies Cache size"},
    {"verifypcieconfig", "quorvel verifypcieconfig <ControllerNumber>", "Verify PCIe configuration"},
    {"verifycpld", "quorvel verifycpld <ControllerNumber>", "Verifies CPLD section"},
    {"getcacheinfo", "quorvel getcacheinfo <ControllerNumber>", "Show controller cache info"},
    {"getfwmiscinfo", "quorvel getfwmiscinfo <ControllerNumber>", "Gets Fw Misc Info"},
    {"getpcieinfo", "quorvel getpcieinfo <ControllerNumber>", "Gets PCIe Information"},
    {"getctrlstatusinfo", "quorvel getctrlstatusinfo <ControllerNumber>", "Gets controller status info"},
    {"getbackuppowerstatus", "quorvel getbackuppowerstatus <ControllerNumber>",
     "Get controller backup power source status info"},
    {"cachetest",
     " quorvel cachetest <ControllerNumber> <iteration> \n\r quorvel cachetest <ControllerNumber> lfsrfill "
     "<iteration> \n\r quorvel cachetest <ControllerNumber> patternfill <iteration> \n\r quorvel cachetest "
     "<ControllerNumber> walkingones <iteration> \n\r quorvel cachetest <ControllerNumber> walkingzeros "
     "<iteration> \n\r quorvel cachetest <ControllerNumber> datainversion <iteration>",
     "Executes cache tests. Valid iteration values 1-100"},
    {"memorytest",
     " quorvel memorytest <ControllerNumber> <iteration> \n\r quorvel memorytest <ControllerNumber> "
     "movinginversionlong <iteration> \n\r quorvel memorytest <ControllerNumber> movinginversionturbo "
     "<iteration> \n\r quorvel memorytest <ControllerNumber> movinginversionfbt <iteration> \n\r quorvel "
     "memorytest <ControllerNumber> getcorrectedecccount <iteration>",
     "Executes memory tests. Valid iteration values 1-100"},
    {"dataretentiontest",
     " quorvel dataretentiontest <ControllerNumber> datafill \n\r quorvel dataretentiontest "
     "<ControllerNumber> "
     "dataverify",
     "Execute data retention test sequence: 1) data fill 2)dirty shutdown(manual) 3)data verify after next "
     "reboot"},
    {"mramtest",
     " quorvel mramtest <ControllerNumber> datafill \n\r quorvel mramtest <ControllerNumber> dataverify",
     "Executes MRAM test sequence: 1) data fill 2)power cycle 3)data verify after next reboot"},
    {"sastest",
     " quorvel sastest <ControllerNumber> <iteration> \n\r quorvel sastest <ControllerNumber> wrrdcomp "
     "<iteration> \n\r quorvel sastest <ControllerNumber> longwrrdcomp <iteration>",
     "Executes SAS tests. Valid iteration values 1-100"},
    {"saspatterntest",
     " quorvel saspatterntest <ControllerNumber> <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
     "jtpat "
     "<iteration> \n\r quorvel saspatterntest <ControllerNumber> random <iteration> \n\r quorvel "
     "saspatterntest "
     "<ControllerNumber> jtpatrandom <iteration> \n\r quorvel saspatterntest <ControllerNumber> d10.2hfreq "
     "<iteration> \n\r quorvel saspatterntest <ControllerNumber> jtpatd10.2hfreq <iteration>",
     "Executes SAS Pattern tests. Valid iteration values 1-100"},
    {"pcieintegritytest", " quorvel pcieintegritytest <ControllerNumber>",
     "This test verifies PCIe Integrity by checking PCIe link errors"},
    {"version", "quorvel version", "Displays Quorvel version"},
    {"help", "quorvel help [cmdName]", "Help Menu Options"},
    {"listcontrollers", "quorvel listcontrollers", "Displays the list of connected controller(s)"},
    {"showdrives", "quorvel showdrives <ControllerNumber>",
     "Displays the list of drives connected to the requested controller"},
    {"showctrlphyerrors", "quorvel showctrlphyerrors <ControllerNumber>",
     "Displays the PHY errors of requested controller"},
    {"ctrlledtest", "quorvel ctrlledtest <ControllerNumber> <iteration>",
     "This test will blink the controller LED five seconds per iteration for the number of iterations "
     "specified"},
    {"fwdiagrevision", "quorvel fwdiagrevision <ControllerNumber>",
     "This test will display the firmware diagnostic revision"},
    {"sobmessagecounters", "quorvel sobmessagecounters <ControllerNumber>",
     "This test will display the number of Alerts, Errors and Warnings that controller has kept track off"},
    {"saslinkratetest", "quorvel saslinkratetest <ControllerNumber>",
     "This test validates that the SAS links on the controller or HBA are all linked up and negotiated to "
     "the "
     "expected link rate"},
    {"testunitready", "quorvel testunitready <ControllerNumber>",
     "This test will send SCSI test unit ready command to all physical drives connected to the requested "
     "controller"},
    {"--set-sn=", "quorvel --set-sn=<SerialNumber(0-14 ASCII characters)> <ControllerNumber>",
     "Modify Controller serial number"},
    {"--flash=", "quorvel --flash=<FirmwareFile.bin> <ControllerNumber>", "Flashes the Controller Firmware"},
    {"--flash-mfgdata=", "quorvel --flash-mfgdata=<MFGData.bin> <ControllerNumber>",
     "Flashes the Controller Manufacturing Data"},
    {"--flash-nvram=", "quorvel --flash-nvram=<SeepromFile.bin> <ControllerNumber>",
     "Flashes the entire SEEPROM NVRAM of Controller"},
    {"--read-mfgdata=", "quorvel --read-mfgdata=<FirmwareFile.bin> <ControllerNumber>",
     "Read Controller Manufacturing Data"},
    {"--set-wwid=", "quorvel --set-wwid=<SeepromWWID(16 hex string)> <ControllerNumber>",
     "Modify Controller Seeprom WWID"},
    {"--preserve=", "quorvel --preserve=<SeepromFile.bin> <ControllerNumber>",
     "Preserves current Manufacturing Data while flashing SEEPROM NVRAM of Controller"},
};

// Fresh arguments, controllers and log for each test; everything is put back afterwards.
class ToolCli : public ::testing::Test {
protected:
    void SetUp() override {
        saved_argc_ = gArgc;
        saved_argv_ = gArgv;
        saved_lfp_ = lfp;
        saved_count_ = gNumOfControllersFound;
        saved_pcda_ = pCDA;
        std::memcpy(saved_cdas_, CDAs, sizeof saved_cdas_);
        lfp = std::tmpfile();
        ASSERT_NE(lfp, nullptr);
        for (int i = 0; i < NUM_OF_CONTROLLERS; ++i) {
            CDAs[i] = &areas_[i];
        }
        pCDA = nullptr;
    }
    void TearDown() override {
        std::fclose(lfp);
        lfp = saved_lfp_;
        gArgc = saved_argc_;
        gArgv = saved_argv_;
        gNumOfControllersFound = saved_count_;
        pCDA = saved_pcda_;
        std::memcpy(CDAs, saved_cdas_, sizeof saved_cdas_);
    }

    void Args(std::vector<std::string> args) {
        args_ = std::move(args);
        argv_.clear();
        for (auto& a : args_) {
            argv_.push_back(a.data());
        }
        argv_.push_back(nullptr);
        gArgc = static_cast<int>(args_.size());
        gArgv = argv_.data();
    }

    std::string LogText() {
        std::fflush(lfp);
        std::rewind(lfp);
        std::string text;
        char chunk[256];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, lfp)) > 0) {
            text.append(chunk, n);
        }
        return text;
    }

    // Index of the selected data area, or -1.
    int Selected() const {
        for (int i = 0; i < NUM_OF_CONTROLLERS; ++i) {
            if (pCDA == &areas_[i]) {
                return i;
            }
        }
        return -1;
    }

    int areas_[NUM_OF_CONTROLLERS] = {};
    int saved_argc_ = 0;
    char** saved_argv_ = nullptr;
    FILE* saved_lfp_ = nullptr;
    VK_UINT32 saved_count_ = 0;
    PCDA saved_pcda_ = nullptr;
    PCDA saved_cdas_[NUM_OF_CONTROLLERS] = {};
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

TEST(ToolCommandTable, KeywordMatching) {
    const std::string long_prefix = "--" + std::string(200, 'f') + "=";
    struct Case {
        const char* argument;
        const char* keyword;
        VK_BYTE names;
    } cases[] = {
        {"version", "version", 1},
        {"version2", "version", 0},
        {"versio", "version", 0},
        {"Version", "version", 0},
        {"", "version", 0},
        {nullptr, "version", 0},
        {"--flash=/tmp/version.bin", "--flash=", 1},
        {"--flash=", "--flash=", 1},
        {"--flash=a=b", "--flash=", 1},
        {"--flash", "--flash=", 0},
        {"--flash-mfgdata=x.bin", "--flash=", 0},
        {"--flash=x.bin", "--flash-mfgdata=", 0},
        {"x--flash=y", "--flash=", 0},
        {"version=1", "version", 0},
        {long_prefix.c_str(), "--flash=", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsArgumentForKeyword(c.argument, c.keyword), c.names)
            << (c.argument != nullptr ? c.argument : "(none)") << " / " << c.keyword;
    }
}

// The rows present are documented rows with their texts, in the documented order; the table ends
// with "EOL" and no handler.
TEST(ToolCommandTable, RowsFollowTheDocumentedTable) {
    // The commands that run today, in table order: a lost or added row shows here.
    const std::vector<std::string> built = {
        "verifyfwversion", "verifysystempower", "verifysystemtemperature", "verifymfg", "verifycachesize",
        "verifypcieconfig", "verifycpld", "getcacheinfo", "getfwmiscinfo", "getpcieinfo", "getctrlstatusinfo",
        "getbackuppowerstatus", "cachetest", "memorytest", "dataretentiontest", "mramtest", "sastest",
        "saspatterntest", "pcieintegritytest", "version", "help", "listcontrollers", "showdrives", "showctrlphyerrors",
        "ctrlledtest", "fwdiagrevision", "sobmessagecounters", "saslinkratetest", "testunitready", "--set-sn=", "--flash=", "--flash-mfgdata=", "--flash-nvram=", "--read-mfgdata=",
        "--set-wwid=", "--preserve="};
    std::vector<std::string> present;
    size_t next_documented = 0;
    size_t i = 0;
    for (; cliCommandT[i].cmd != nullptr; ++i) {
        present.emplace_back(cliCommandT[i].testName);
        const CLI_COMMAND_TABLE& row = cliCommandT[i];
        SCOPED_TRACE(row.testName);
        size_t k = next_documented;
        while (k < std::size(kDocumentedRows) && std::strcmp(kDocumentedRows[k].keyword, row.testName) != 0) {
            ++k;
        }
        ASSERT_LT(k, std::size(kDocumentedRows)) << "undocumented or out of order";
        EXPECT_STREQ(row.format, kDocumentedRows[k].format);
        EXPECT_STREQ(row.info, kDocumentedRows[k].info);
        next_documented = k + 1;
    }
    EXPECT_STREQ(cliCommandT[i].testName, "EOL");
    EXPECT_STREQ(cliCommandT[i].info, "");
    EXPECT_STREQ(cliCommandT[i].format, "");
    EXPECT_EQ(present, built);
}

TEST_F(ToolCli, DispatchByFirstArgument) {
    Args({"quorvel", "version"});
    EXPECT_EQ(IsCommandValid(), 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(QV_CliParser(), QV_CMD_SUCCESS);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Quorvel Version = 5.6.1 \n");
    EXPECT_EQ(LogText(), "");

    for (const char* unknown : {"bogus", "versionx", "VERSION", "", "EOL"}) {
        Args({"quorvel", unknown});
        EXPECT_EQ(IsCommandValid(), 0) << unknown;
        EXPECT_EQ(QV_CliParser(), QV_CMD_ARGS_INVALID_SYNTAX) << unknown;
    }
    Args({"quorvel"});
    EXPECT_EQ(IsCommandValid(), 0);
}

TEST_F(ToolCli, ValidationByCommandFamily) {
    struct Case {
        std::vector<std::string> args;
        VK_BYTE expected_args;
        VK_BYTE id;
        VK_UINT32 controllers;
        VK_BYTE result;
        int selected; // index of the selected data area, -1 for none
    };
    const Case cases[] = {
        // No controller needed.
        {{"q", "version"}, 2, CLI_VERSION, 0, QV_CMD_SUCCESS, -1},
        {{"q", "version", "extra"}, 2, CLI_VERSION, 1, QV_CMD_ARGS_INVALID_SYNTAX, -1},
        {{"q", "help", "verifycpld"}, 3, CLI_HELP, 0, QV_CMD_SUCCESS, -1},
        {{"q", "listcontrollers"}, 2, CLI_LISTCONTROLLERS, 0, QV_CMD_SUCCESS, -1},
        // Controller numbers.
        {{"q", "verifycpld", "1"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_SUCCESS, 0},
        {{"q", "verifycpld", "2"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_SUCCESS, 1},
        {{"q", "verifycpld", "0x2"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_SUCCESS, 1},
        {{"q", "verifycpld", "0007"}, 3, CLI_VERIFYCPLD, 7, QV_CMD_SUCCESS, 6},
        {{"q", "verifycpld", "0"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "3"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "one"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", ""}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "0X2"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "-1"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        // 16-bit accumulation would make these controller 1.
        {{"q", "verifycpld", "65537"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "-65535"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "0x10001"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld", "4294967297"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "verifycpld"}, 3, CLI_VERIFYCPLD, 2, QV_CMD_ARGS_INVALID_SYNTAX, -1},
        {{"q", "getcacheinfo", "1"}, 3, CLI_GETCACHEINFO, 0, QV_CMD_ARGS_NO_CTLR, -1},
        {{"q", "--flash=a.bin", "1"}, 3, CLI_FLASHROMIMAGE, 1, QV_CMD_SUCCESS, 0},
        {{"q", "--preserve=a.bin", "2"},
         3,
         CLI_PRESERVEMANUFACTURINGDATA,
         1,
         QV_CMD_ARGS_INVALID_CTLR_NUM,
         -1},
        // A trailing "-f <file>" does not count for the commands that read the file.
        {{"q", "verifyfwversion", "1", "-f", "my.cfg"}, 3, CLI_VERIFYFWVERSION, 1, QV_CMD_SUCCESS, 0},
        {{"q", "verifyfwversion", "1", "-f"}, 3, CLI_VERIFYFWVERSION, 1, QV_CMD_ARGS_INVALID_SYNTAX, -1},
        {{"q", "verifyfwversion", "-f", "my.cfg", "1"},
         3,
         CLI_VERIFYFWVERSION,
         1,
         QV_CMD_ARGS_INVALID_SYNTAX,
         -1},
        {{"q", "getcacheinfo", "1", "-f", "x.cfg"}, 3, CLI_GETCACHEINFO, 1, QV_CMD_ARGS_INVALID_SYNTAX, -1},
        // Iteration counts and sub-tests.
        {{"q", "cachetest", "1", "5"}, 4, CLI_CACHETEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "cachetest", "1", "1"}, 4, CLI_CACHETEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "cachetest", "1", "100"}, 4, CLI_CACHETEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "cachetest", "1", "0x64"}, 4, CLI_CACHETEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "cachetest", "1", "0"}, 4, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "101"}, 4, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "65537"}, 4, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "-65535"}, 4, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "ten"}, 4, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "lfsrfill", "0"}, 5, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "cachetest", "1", "datainversion", "100"}, 5, CLI_CACHETEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "cachetest", "1", "bogus", "5"}, 5, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_SYNTAX, 0},
        {{"q", "cachetest", "1", "bogus", "0"}, 5, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_SYNTAX, 0},
        {{"q", "cachetest", "9", "bogus", "0"}, 5, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "cachetest", "9", "lfsrfill", "5"}, 5, CLI_CACHETEST, 1, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        {{"q", "cachetest", "1", "lfsrfill", "5"}, 5, CLI_CACHETEST, 0, QV_CMD_ARGS_NO_CTLR, -1},
        {{"q", "memorytest", "1", "lfsrfill", "1"}, 5, CLI_MEMORYTEST, 1, QV_CMD_ARGS_INVALID_SYNTAX, 0},
        {{"q", "memorytest", "1", "getcorrectedecccount", "1"}, 5, CLI_MEMORYTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "sastest", "1", "longwrrdcomp", "3"}, 5, CLI_SASTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "sastest", "1", "jtpat", "3"}, 5, CLI_SASTEST, 1, QV_CMD_ARGS_INVALID_SYNTAX, 0},
        {{"q", "saspatterntest", "1", "jtpatd10.2hfreq", "3"}, 5, CLI_SASPATTERNTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "ctrlledtest", "1", "100"}, 4, CLI_CONTROLLERLEDTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "ctrlledtest", "1", "101"}, 4, CLI_CONTROLLERLEDTEST, 1, QV_CMD_ARGS_INVALID_ITERATION_NUM, 0},
        {{"q", "ctrlledtest", "2", "1"}, 4, CLI_CONTROLLERLEDTEST, 1, QV_CMD_ARGS_INVALID_CTLR_NUM, -1},
        // Data fill or verify.
        {{"q", "dataretentiontest", "1", "datafill"}, 4, CLI_DATARETENTIONTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "mramtest", "1", "dataverify"}, 4, CLI_MRAMTEST, 1, QV_CMD_SUCCESS, 0},
        {{"q", "mramtest", "1", "fill"}, 4, CLI_MRAMTEST, 1, QV_CMD_ARGS_INVALID_SYNTAX, 0},
        {{"q", "dataretentiontest", "1", "datafill"}, 4, CLI_DATARETENTIONTEST, 0, QV_CMD_ARGS_NO_CTLR, -1},
        // Ids outside the table.
        {{"q", "x", "1"}, 3, CLI_TESTIDNULL, 1, QV_CMD_ARGS_INVALID_SYNTAX, -1},
        {{"q", "x", "1"}, 3, CLI_PRESERVEMANUFACTURINGDATA + 1, 1, QV_CMD_ARGS_INVALID_SYNTAX, -1},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const auto& a : c.args) {
            trace += a + " ";
        }
        SCOPED_TRACE(trace);
        Args(c.args);
        gNumOfControllersFound = c.controllers;
        pCDA = nullptr;
        EXPECT_EQ(ValidateCmdLineArgs(c.expected_args, c.id), c.result);
        EXPECT_EQ(Selected(), c.selected);
    }
}

TEST_F(ToolCli, ResultCodesToExitCodes) {
    struct Case {
        VK_UINT32 code;
        const char* out;
        const char* log;
        int exit_code;
    } cases[] = {
        {QV_CMD_SUCCESS, "", "", QV_SUCCESS},
        {QV_CMD_ARGS_INVALID_SYNTAX,
         "** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: quorvel version \nInfo: Displays "
         "Quorvel "
         "version \n",
         "", QV_INVALID_PARAMETER},
        {QV_CMD_ARGS_NO_CTLR, "ERROR!!! No Controllers were detected \n",
         "ERROR!!! No Controllers were detected \r\n", QV_NOT_FOUND},
        {QV_CMD_ARGS_INVALID_CTLR_NUM,
         "Invalid ControllerNumber. Please enter a valid ControllerNumber \nTotal controllers found = 2 \n",
         "Invalid ControllerNumber. Please enter a valid ControllerNumber \r\nTotal controllers found = 2 "
         "\r\n",
         QV_INVALID_PARAMETER},
        {QV_CMD_ARGS_INVALID_ITERATION_NUM,
         "Invalid iteration number. Please enter a valid iteration number \nValid Range : [1 - 100] \n",
         "Invalid iteration number. Please enter a valid iteration number \r\nValid Range : [1 - 100] \r\n",
         QV_INVALID_PARAMETER},
        {QV_CMD_ARGS_FILE_INVALID_PARAMETER, "", "", QV_NOT_FOUND},
        {QV_CMD_FAILURE, "", "", QV_NOT_FOUND},
        {QV_CMD_WWID_NOT_PROVIDED, "", "", QV_NOT_FOUND},
        {255, "", "", QV_NOT_FOUND},
        // Only the low byte counts.
        {0x100, "", "", QV_SUCCESS},
        {0x102, "ERROR!!! No Controllers were detected \n", "ERROR!!! No Controllers were detected \r\n",
         QV_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        Args({"quorvel", "version", "extra"});
        gNumOfControllersFound = 2;
        std::fclose(lfp);
        lfp = std::tmpfile();
        testing::internal::CaptureStdout();
        EXPECT_EQ(CheckCliErrorCode(c.code), c.exit_code);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(LogText(), c.log);
    }
    // Without a log only standard output carries the message.
    std::fclose(lfp);
    lfp = std::tmpfile();
    FILE* log = lfp;
    lfp = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CheckCliErrorCode(QV_CMD_ARGS_INVALID_ITERATION_NUM), QV_INVALID_PARAMETER);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Valid Range : [1 - 100] \n"), std::string::npos);
    lfp = log;
    EXPECT_EQ(LogText(), "");
}

// The whole menu: the golden file after its first line, the banner that main prints first.
std::string WholeMenu() {
    const std::string golden = golden::Read("help.txt");
    return golden.substr(golden.find('\n') + 1);
}

TEST_F(ToolCli, HelpMenus) {
    struct Case {
        std::vector<std::string> args;
        VK_BYTE result;
        std::string out;
    };
    const Case cases[] = {
        {{"quorvel", "help"}, QV_CMD_SUCCESS, WholeMenu()},
        {{"quorvel", "help", "verifycpld"},
         QV_CMD_SUCCESS,
         "Quorvel - Help Menu\n Usage: quorvel verifycpld <ControllerNumber>\n Info: Verify CPLD test forces "
         "the "
         "controller to auto-flash the on-board CPLD device with the image found in the active ROM\n "
         "Example: "
         "quorvel verifycpld 1\n Sample Output:\n CPLD Programming Verification test : - PASS\n\n"},
        // No sample output: nothing after the example.
        {{"quorvel", "help", "help"},
         QV_CMD_SUCCESS,
         "Quorvel - Help Menu\n Usage: quorvel help [cmdName]\n Info: Displays the help menu.\n Example: "
         "quorvel "
         "help\n\r quorvel help verifyfwversion\n\n\r\n"},
        // Help rows are found by exact name, whether or not the command is in the table yet.
        {{"quorvel", "help", "--flash="},
         QV_CMD_SUCCESS,
         "Quorvel - Help Menu\n Usage: quorvel --flash=<RomFile.bin> <ControllerNumber>\n Info: This command "
         "will "
         "flash the controller Firmware,\n Example: quorvel --flash=pelko.bin 1 \n Sample Output:\n Flashing "
         "Controller : SUCCESS. \n\r A reboot will be required to activate new firmware.\n\n"},
        {{"quorvel", "help", "nosuch"},
         QV_CMD_SUCCESS,
         "Quorvel - Help Menu\nInvalid cmdName \nExecute quorvel help for available commands \n"},
        {{"quorvel", "help", "--flash=x.bin"},
         QV_CMD_SUCCESS,
         "Quorvel - Help Menu\nInvalid cmdName \nExecute quorvel help for available commands \n"},
        {{"quorvel", "help", "a", "b"}, QV_CMD_ARGS_INVALID_SYNTAX, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.size() > 2 ? c.args[2] : "(all)");
        Args(c.args);
        testing::internal::CaptureStdout();
        EXPECT_EQ(Cli_ShowHelp(), c.result);
        EXPECT_TRUE(golden::SameBytes(testing::internal::GetCapturedStdout(), c.out));
    }
    EXPECT_EQ(LogText(), "") << "help is never logged";
}

TEST_F(ToolCli, ExtendedHelp) {
    testing::internal::CaptureStdout();
    ShowExtendedHelp(nullptr, "help");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Quorvel - Extended Help Menu \nSyntax: quorvel help [cmdName] \nInfo: Help Menu Options \n");
    testing::internal::CaptureStdout();
    ShowExtendedHelp("** Invalid syntax **", "bogus");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "** Invalid syntax **\nQuorvel - Extended Help Menu \n");
    EXPECT_EQ(LogText(), "");
}

} // namespace
