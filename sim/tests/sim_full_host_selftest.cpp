// The full-host generator: the shape it was asked for, the same host again from the same seed, and the
// file form read back as the same host.
#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "qvsim/full_host.h"
#include "qvsim/fw_state.h"

namespace {

TEST(SimFullHost, BuildsTheShapeAskedFor) {
    const struct {
        unsigned controllers, devices;
        std::size_t drives, seps; // per controller
    } cases[] = {{1, 48, 45, 2}, {2, 96, 91, 4}, {4, 192, 183, 8}, {7, 384, 367, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.controllers) + "x" + std::to_string(c.devices));
        const qvsim::Scenario s = qvsim::full_host({c.controllers, c.devices, 7});
        ASSERT_EQ(s.controllers.size(), c.controllers);
        for (const auto& controller : s.controllers) {
            ASSERT_NE(controller.firmware, nullptr);
            const qvsim::FirmwareState& fw =
                static_cast<const qvsim::FwController&>(*controller.firmware).fw_state();
            std::size_t drives = 0, seps = 0, expanders = 0;
            for (const auto& d : fw.drives) {
                drives += d.device_type == 2;
                seps += d.device_type == 6;
                expanders += d.device_type == 5;
            }
            EXPECT_EQ(fw.drives.size(), c.devices);
            EXPECT_EQ(drives, c.drives);
            EXPECT_EQ(seps, c.seps);
            EXPECT_EQ(expanders, 1u);
            EXPECT_EQ(fw.logical_drives.size(), 64u);
            EXPECT_GE(fw.generated_remote_volumes, 1u);
            EXPECT_GE(fw.subsystem.connectors.size(), 2u);
        }
    }
}

TEST(SimFullHost, SeedDecidesAndTheFileReadsBack) {
    const auto j = qvsim::full_host_json({3, 96, 11});
    EXPECT_EQ(j, qvsim::full_host_json({3, 96, 11}));
    EXPECT_NE(j, qvsim::full_host_json({3, 96, 12}));
    const std::string path = testing::TempDir() + "full_host.json";
    qvsim::write_full_host({3, 96, 11}, path);
    const qvsim::Scenario loaded = qvsim::Scenario::load(path);
    std::remove(path.c_str());
    ASSERT_EQ(loaded.controllers.size(), 3u);
    nlohmann::json again = loaded.to_json();
    for (std::size_t i = 0; i < 3; ++i)
        again["controllers"][i]["fw"] =
            static_cast<const qvsim::FwController&>(*loaded.controllers[i].firmware).fw_state().to_json();
    EXPECT_EQ(again, j);
}

TEST(SimFullHost, RefusesShapesOutOfRange) {
    const qvsim::FullHostShape bad[] = {{0, 48, 1}, {8, 48, 1}, {1, 7, 1}, {1, 385, 1}};
    for (const auto& b : bad)
        EXPECT_THROW(qvsim::full_host_json(b), std::invalid_argument);
}

} // namespace
