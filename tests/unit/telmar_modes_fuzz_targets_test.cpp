// The connector, sensor and manufacturing fuzz targets over their seed corpora, so every build runs
// them under its sanitizers. Each target's entry point is renamed here to live beside the others.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#define LLVMFuzzerTestOneInput ConnectorModesFuzz
#include "../../fuzz/connector_modes_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput SensorReplyFuzz
#include "../../fuzz/sensor_reply_fuzz.cpp"
#undef LLVMFuzzerTestOneInput
#define LLVMFuzzerTestOneInput ManufacturingDataFuzz
#include "../../fuzz/manufacturing_data_fuzz.cpp"
#undef LLVMFuzzerTestOneInput

namespace {

using Target = int (*)(const uint8_t*, size_t);

// Runs every seed, then every prefix length of the first seeds that a cut reply would give.
void RunCorpus(const char* name, Target target) {
    // From the source tree, not from __FILE__: a compiler cache may have made that relative.
    const std::filesystem::path dir = std::filesystem::path(QUORVEL_GOLDEN_DIR) / ".." / ".." / "fuzz" / "corpus" / name;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
    size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(entry.path().string());
        EXPECT_EQ(target(bytes.data(), bytes.size()), 0);
        for (size_t cut : {size_t{1}, size_t{13}, size_t{47}, bytes.size() / 2}) {
            if (cut < bytes.size()) {
                EXPECT_EQ(target(bytes.data(), bytes.size() - cut), 0);
            }
        }
        ++seeds;
    }
    EXPECT_GT(seeds, 0u);
    EXPECT_EQ(target(nullptr, 0), 0);
}

TEST(ModesFuzzTargets, ConnectorModes) {
    RunCorpus("connector_modes", ConnectorModesFuzz);
}

// The seed of a mixed-mode controller reaches the per-connector paths: its buffers decode as built.
TEST(ModesFuzzTargets, ConnectorSeedDecodesAsBuilt) {
    const auto path = std::filesystem::path(QUORVEL_GOLDEN_DIR) / ".." / ".." / "fuzz" / "corpus" /
                      "connector_modes" / "mixed_capable";
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(ConnectorModesFuzz(bytes.data(), bytes.size()), 0);
    PCDA cda = ConnectorArea();
    EXPECT_EQ(VK_GetControllerModeInfo(cda),
              kControllerModeSupportsMixedMode | kControllerModeCurrentMixed | kControllerModePendingMixed);
    CONTROLLER_CONNECTOR_INFO info;
    ASSERT_TRUE(VK_GetControllerConnectorInfo(cda, 2, &info));
    EXPECT_EQ(info.is_external_connector, kTrue);
    EXPECT_EQ(info.current_connector_mode, kConnectorModeMixed);
    CONNECTOR_DISCOVERY_CONFIGURATION config{};
    EXPECT_EQ(VK_GetConnectorActiveDiscoveryConfiguration(cda, 0, &config), 0);
    EXPECT_EQ(config.discovery_protocol, 7);
    EXPECT_EQ(config.target_count, 4);
}

TEST(ModesFuzzTargets, SensorReply) {
    RunCorpus("sensor_reply", SensorReplyFuzz);
}

TEST(ModesFuzzTargets, ManufacturingData) {
    RunCorpus("manufacturing_data", ManufacturingDataFuzz);
}

} // namespace
