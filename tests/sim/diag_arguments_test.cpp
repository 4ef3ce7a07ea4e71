// The diagnostic commands' arguments end to end: every refusal shows its message (the extended help
// of the command for a syntax error), exits 2 and sends nothing beyond the start-up reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvel_run.h"

namespace {

using qvtest::Command;
using qvtest::Controller;
using qvtest::LogHeader;
using qvtest::MaskTimes;
using qvtest::RunQuorvel;
using qvtest::Scenario;
using qvtest::WorkDir;

const std::string kBanner = "Quorvel Version 5.6.1 \n";
const std::string kNode = "/dev/sg1";
const char kIdentify[] = "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00";
const char kParameters[] = "26 00 00 00 00 00 64 01 58 00 00 00 00 00 00 00";
const char kCacheStatus[] = "26 00 00 00 00 00 C1 02 00 00 00 00 00 00 00 00";

struct Syntax {
    const char* keyword;
    const char* format;
    const char* info;
};

const Syntax kSyntax[] = {
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
    {"mramtest",
     " quorvel mramtest <ControllerNumber> datafill \n\r quorvel mramtest <ControllerNumber> dataverify",
     "Executes MRAM test sequence: 1) data fill 2)power cycle 3)data verify after next reboot"},
    {"sastest",
     " quorvel sastest <ControllerNumber> <iteration> \n\r quorvel sastest <ControllerNumber> wrrdcomp "
     "<iteration> \n\r quorvel sastest <ControllerNumber> longwrrdcomp <iteration>",
     "Executes SAS tests. Valid iteration values 1-100"},
    {"saspatterntest",
     " quorvel saspatterntest <ControllerNumber> <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
     "jtpat <iteration> \n\r quorvel saspatterntest <ControllerNumber> random <iteration> \n\r quorvel "
     "saspatterntest <ControllerNumber> jtpatrandom <iteration> \n\r quorvel saspatterntest "
     "<ControllerNumber> d10.2hfreq <iteration> \n\r quorvel saspatterntest <ControllerNumber> "
     "jtpatd10.2hfreq <iteration>",
     "Executes SAS Pattern tests. Valid iteration values 1-100"},
    {"ctrlledtest", "quorvel ctrlledtest <ControllerNumber> <iteration>",
     "This test will blink the controller LED five seconds per iteration for the number of iterations "
     "specified"},
    {"fwdiagrevision", "quorvel fwdiagrevision <ControllerNumber>",
     "This test will display the firmware diagnostic revision"},
    {"sobmessagecounters", "quorvel sobmessagecounters <ControllerNumber>",
     "This test will display the number of Alerts, Errors and Warnings that controller has kept track off"},
};

std::string ExtendedHelp(const std::string& keyword) {
    for (const Syntax& s : kSyntax) {
        if (keyword == s.keyword) {
            return std::string("** Invalid syntax **\nQuorvel - Extended Help Menu \nSyntax: ") + s.format +
                   " \nInfo: " + s.info + " \n";
        }
    }
    return "?";
}

TEST(DiagArguments, EveryRefusalExitsTwoAndSendsNothing) {
    const std::string bad_count = "Invalid iteration number. Please enter a valid iteration number \n"
                                  "Valid Range : [1 - 100] \n";
    const std::string bad_count_log = "Invalid iteration number. Please enter a valid iteration number \r\n"
                                      "Valid Range : [1 - 100] \r\n";
    const std::string bad_number = "Invalid ControllerNumber. Please enter a valid ControllerNumber \n"
                                   "Total controllers found = 1 \n";
    const std::string bad_number_log = "Invalid ControllerNumber. Please enter a valid ControllerNumber \r\n"
                                       "Total controllers found = 1 \r\n";
    enum Kind { kSyntaxError, kIteration, kNumber };
    const struct {
        std::vector<std::string> args;
        Kind kind;
    } cases[] = {
        {{"cachetest", "1"}, kSyntaxError},
        {{"cachetest", "1", "lfsrfill", "5", "5"}, kSyntaxError},
        {{"cachetest", "1", "lfsr", "5"}, kSyntaxError},
        {{"cachetest", "1", "0"}, kIteration},
        {{"cachetest", "1", "walkingzeros", "101"}, kIteration},
        {{"cachetest", "2", "5"}, kNumber},
        {{"memorytest", "1", "lfsrfill", "5"}, kSyntaxError},
        {{"memorytest", "1", "movinginversionfbt", "-1"}, kIteration},
        {{"sastest", "1", "jtpat", "5"}, kSyntaxError},
        {{"sastest", "0", "5"}, kNumber},
        {{"saspatterntest", "1", "d10.2", "5"}, kSyntaxError},
        {{"saspatterntest", "1", "jtpat", "1000"}, kIteration},
        {{"ctrlledtest", "1"}, kSyntaxError},
        {{"ctrlledtest", "1", "0"}, kIteration},
        {{"ctrlledtest", "1", "101"}, kIteration},
        {{"mramtest", "1"}, kSyntaxError},
        {{"mramtest", "1", "fill"}, kSyntaxError},
        {{"mramtest", "3", "datafill"}, kNumber},
        {{"fwdiagrevision"}, kSyntaxError},
        {{"fwdiagrevision", "1", "1"}, kSyntaxError},
        {{"sobmessagecounters", "x"}, kNumber},
        {{"sobmessagecounters", "1", "-f"}, kSyntaxError},
    };
    const auto scenario = Scenario({Controller("qzvk", "0000:3b:00.0", 2, 1)});
    for (const auto& c : cases) {
        std::string line;
        for (const auto& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        WorkDir dir;
        const qvtest::Run run = RunQuorvel(dir, scenario, c.args);
        const std::string out = c.kind == kSyntaxError ? ExtendedHelp(c.args[0])
                                : c.kind == kIteration ? bad_count
                                                       : bad_number;
        const std::string log = c.kind == kSyntaxError ? ""
                                : c.kind == kIteration ? bad_count_log
                                                       : bad_number_log;
        EXPECT_EQ(run.out, kBanner + out);
        EXPECT_EQ(run.status, 2);
        ASSERT_TRUE(run.log.has_value());
        EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + log);
        EXPECT_EQ(run.commands(),
                  (std::vector<Command>{{kNode, kIdentify}, {kNode, kParameters}, {kNode, kCacheStatus}}));
    }
}

TEST(DiagArguments, NoControllerIsExitFourteen) {
    const auto scenario = Scenario({});
    WorkDir dir;
    const qvtest::Run run = RunQuorvel(dir, scenario, {"memorytest", "1", "5"});
    EXPECT_EQ(run.out, kBanner + "ERROR!!! No Controllers were detected \n");
    EXPECT_EQ(run.status, 14);
    EXPECT_TRUE(run.commands().empty());
}

} // namespace
