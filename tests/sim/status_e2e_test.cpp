// The controller status and backup power reports and the data retention test end to end: the real
// binary through the launcher on a simulated controller. Standard output and diagslog.txt byte for
// byte, the exit code, and every command the controller received with the data of each write.
#include <gtest/gtest.h>

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

const std::vector<Sent> kStartUp = {kIdentify, kParameters, kCacheStatus};

// One controller with the stateful firmware and `fw` over its defaults.
json OneController(const json& fw) {
    json c = qvtest::Controller("qzvk", "0000:3b:00.0", 2, 1);
    c["fw"] = fw;
    return qvtest::Scenario({c});
}

struct Case {
    std::string name;
    json fw;
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
        const qvtest::Run run = RunQuorvel(dir, OneController(c.fw), c.args);
        EXPECT_EQ(run.out, kBanner + c.out);
        EXPECT_EQ(run.status, 0);
        ASSERT_TRUE(run.log.has_value());
        EXPECT_EQ(MaskTimes(*run.log), LogHeader(c.args) + c.log);
        EXPECT_EQ(qvtest::Received(run, kNode), c.sent);
    }
}

// Cache buffer of a controller whose one power source is installed and good.
json CacheWithOneGoodSource(const json& more = json::object()) {
    json cache = {{"battery_count", 1}, {"installed_batteries", 1}, {"battery_status", 1}, {"fixed_length", 264}};
    cache.update(more);
    return cache;
}

// ---- Reports ---------------------------------------------------------------------------------------

TEST(StatusReportsE2E, ControllerStatusFromTheCachedBuffers) {
    // Everything comes from the buffers read at start-up: the report sends nothing of its own.
    CheckAll({
        {"temporarily disabled, battery hot removed",
         {{"cache", {{"cache_flags", 0x2}, {"disable_code", 22}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : Good\n"
         "Cache Status                : Temporarily Disabled\n"
         "Cache State                 : Battery Hot Removed\n"
         "Controller Config Status    : Good\n",
         "",
         kStartUp},
        {"cache OK, valid data and low battery at boot",
         {{"cache", {{"cache_flags", 0x1 | 0x8 | 0x10}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : Good\n"
         "Cache Status                : OK\n"
         "Cache Flags: Valid Data Exists\n"
         "Cache Flags: Low battery at boot\n"
         "Controller Config Status    : Good\n",
         "",
         kStartUp},
        {"permanently disabled with an unknown code, failsafe speed, flash detached",
         {{"cache", {{"cache_flags", 0x4 | 0x20000}, {"disable_code", 10}}},
          {"identify", {{"even_more_flags", 0x88000000u}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : Good\n"
         "Cache Status                : Permanently Disabled\n"
         "Cache State                 : Unknown\n"
         "Cache Flags: Flash memory detacted\n"
         "Cache Flags: Running at failsafe speed\n"
         "Controller Config Status    : Good\n",
         "",
         kStartUp},
        {"dirty cache needs a firmware downgrade",
         {{"cache", {{"cache_flags", 0x1}}}, {"identify", {{"extra_flags", 0x10000000}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : UNKNOWN\n"
         "Cache Status                : OK\n"
         "Controller Config Status    : Good\n",
         "",
         kStartUp},
        // Status 6 has no text; configuration bits 0x10 and 0x20 have no word, so the last line has no
        // end. Walking the logical drive builds the array model first.
        {"dirty cache needs a firmware downgrade, SED locked with dirty cache",
         {{"identify", {{"extra_flags", 0x30000000}, {"swapped_cable_flags", 0x1000}}},
          {"cache", {{"cache_flags", 0x1}}},
          {"drives", {{{"number", 0}}, {{"number", 1}}}},
          {"logical_drives", {{{"number", 0}, {"members", {0, 1}}}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : UNKNOWN\n"
         "Cache Status                : OK\n"
         "Controller Config Status    : ",
         "",
         {kIdentify, kParameters, kCacheStatus,
          {"26 00 00 00 00 00 50 02 8C 00 00 00 00 00 00 00", ""},   // logical drive 0's configuration
          {"26 00 FF FF 00 00 61 02 59 00 00 00 00 00 00 00", ""},   // feature pages
          {"26 00 00 00 00 00 12 0C C1 00 00 00 00 00 00 00", ""},   // logical drive 0's status
          {"26 00 00 00 00 00 15 0C 00 00 00 00 00 00 00 00", ""},   // drive 0
          {"26 00 01 00 00 00 15 0C 00 00 00 00 00 00 00 00", ""}}}, // drive 1
        {"cache problem, cannot write data",
         {{"cache", {{"cache_flags", 0x4}, {"disable_code", 0x12}}}},
         {"getctrlstatusinfo", "1"},
         "Controller Status           : Cache Problem\n"
         "Cache Status                : Permanently Disabled\n"
         "Cache State                 : Data could not be written to the cache memory. Parity error was detected "
         "while writing data to the cache\n"
         "Controller Config Status    : Good\n",
         "",
         kStartUp},
    });
}

TEST(StatusReportsE2E, BackupPowerSourceStatus) {
    CheckAll({
        {"one good source",
         {{"cache", CacheWithOneGoodSource()}},
         {"getbackuppowerstatus", "1"},
         "Backup Power Source Status : PresentAndCharged \n",
         "",
         kStartUp},
        {"one of two installed sources good",
         {{"cache", CacheWithOneGoodSource({{"installed_batteries", 3}})}},
         {"getbackuppowerstatus", "1"},
         "Backup Power Source Status : PresentAndCharging \n",
         "",
         kStartUp},
        {"a failed source",
         {{"cache", CacheWithOneGoodSource({{"failed_batteries", 1}})}},
         {"getbackuppowerstatus", "1"},
         "Backup Power Source Status : Failed \n",
         "",
         kStartUp},
        {"no source",
         {{"cache", CacheWithOneGoodSource({{"battery_count", 0}})}},
         {"getbackuppowerstatus", "1"},
         "Backup Power Source Status : NotPresent \n",
         "",
         kStartUp},
    });
}

// ---- Data retention -------------------------------------------------------------------------------

TEST(DataRetentionE2E, RunsOnlyOnAChargedSource) {
    const std::string charging = "Backup Power Source Status : PresentAndCharging \n";
    const std::string fill_text = "To start data retention test, please ensure a fully charged super-cap is attached";
    CheckAll({
        {"charged: data fill runs",
         {{"cache", CacheWithOneGoodSource()}},
         {"dataretentiontest", "1", "datafill"},
         "Backup Power Source Status : PresentAndCharged \n"
         "  Result: Iteration: 1 PASS - No Error\n",
         " \rTestid/subtestid : DATA_RETENTION_TEST [03h] / DATA_RETENTION_DATAFILL [001h] \r\n"
         "Result: Iteration: 1 DIAG_NO_ERROR [0000] \r\n",
         {kIdentify, kParameters, kCacheStatus,
          {"27 00 00 00 00 00 42 00 D1 01 00 00 00 00 00 00", "03 00 01 00 01 00 00 00"},
          {"26 00 00 00 00 00 42 00 D3 01 00 00 00 00 00 00", ""}}},
        {"charged: data verify runs",
         {{"cache", CacheWithOneGoodSource()}},
         {"dataretentiontest", "1", "dataverify"},
         "Backup Power Source Status : PresentAndCharged \n"
         "  Result: Iteration: 1 PASS - No Error\n",
         " \rTestid/subtestid : DATA_RETENTION_TEST [03h] / DATA_RETENTION_DATAVERIFY [002h] \r\n"
         "Result: Iteration: 1 DIAG_NO_ERROR [0000] \r\n",
         {kIdentify, kParameters, kCacheStatus,
          {"27 00 00 00 00 00 42 00 D1 01 00 00 00 00 00 00", "03 00 02 00 01 00 00 00"},
          {"26 00 00 00 00 00 42 00 D3 01 00 00 00 00 00 00", ""}}},
        {"disabled for low batteries: data fill refused",
         {{"cache", CacheWithOneGoodSource({{"cache_flags", 0x2}, {"disable_code", 1}})}},
         {"dataretentiontest", "1", "datafill"},
         charging + fill_text + "\n",
         fill_text + "\n",
         kStartUp},
        {"charging: data verify refused, with its trailing blank",
         {{"cache", CacheWithOneGoodSource({{"installed_batteries", 3}})}},
         {"dataretentiontest", "1", "dataverify"},
         charging + fill_text + " \n",
         fill_text + " \n",
         kStartUp},
    });
}

} // namespace
