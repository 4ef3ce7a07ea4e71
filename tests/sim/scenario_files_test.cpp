// Every shipped scenario launches as a user would start it, from its file: `listcontrollers` lists
// its controllers. A scenario expands to far more than one environment string can hold, so this is
// where a launcher that passes it inline fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

const std::string kSource = QUORVEL_SOURCE_DIR;

struct Launch {
    int status = -1;
    std::string out;
};

Launch ListControllers(const std::string& scenario) {
    Launch run;
    const std::string dir = std::filesystem::temp_directory_path() / "quorvel-scenario-XXXXXX";
    std::string tmpl = dir;
    if (::mkdtemp(tmpl.data()) == nullptr) {
        return run;
    }
    // The tool appends diagslog.txt to its working directory.
    const std::string command = "cd '" + tmpl + "' && '" + QVSIM_LAUNCHER + "' --scenario '" + scenario +
                                "' -- '" + QUORVEL_BIN + "' listcontrollers 2>&1";
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
            run.out.append(buf, n);
        }
        const int status = ::pclose(p);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    return run;
}

const std::string kBanner = "Quorvel Version 5.6.1 \n";

// What each shipped scenario lists, by its path in the repository.
const std::map<std::string, std::string> kExpected = {
    {"demo/scenario.json",
     "Found 2 controller(s)\n"
     "  1: QVSIM  QVSIM Gen2 RAID PQ-16i Sim - Serial Number: QVS3B00A0001 \n"
     "  2: QVSIM  QVSIM Gen3 RAID PQ-32e Sim - Serial Number: QVS5E00B0002 \n"},
    {"sim/scenarios/hba_link_faults.json",
     "Found 1 controller(s)\n"
     "  1: ZOLT              VeskRAID 7391 - Serial Number: QVS0A1B2C3D4 \n"},
    {"sim/scenarios/inventory_with_faults.json",
     "Found 2 controller(s)\n"
     "  1: QVSIM  QVSIM Gen2 RAID PQ-16i Sim - Serial Number: QVS3B00C0003 \n"
     "  2: QVSIM  QVSIM Gen2 RAID PQ-16i Sim - Serial Number: QVS5E00D0004 \n"},
    {"sim/scenarios/mirror_two_unassigned.json",
     "Found 1 controller(s)\n"
     "  1: QVSIM  QVSIM Gen2 RAID PQ-8i Sim  - Serial Number: QVS5A00C0003 \n"},
};

TEST(ShippedScenarios, EveryOneLaunchesFromItsFileAndListsItsControllers) {
    std::map<std::string, std::string> found;
    found["demo/scenario.json"] = kSource + "/demo/scenario.json";
    for (const auto& entry : std::filesystem::directory_iterator(kSource + "/sim/scenarios")) {
        if (entry.path().extension() == ".json") {
            found["sim/scenarios/" + entry.path().filename().string()] = entry.path().string();
        }
    }
    for (const auto& [name, path] : found) {
        SCOPED_TRACE(name);
        const auto expected = kExpected.find(name);
        ASSERT_NE(expected, kExpected.end()) << "a new scenario: add what listcontrollers prints on it";
        const Launch run = ListControllers(path);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, kBanner + expected->second);
    }
    EXPECT_EQ(found.size(), kExpected.size());
}

} // namespace
