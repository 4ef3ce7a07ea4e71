// The raw firmware values of the staged priorities, which the controller-parameters commit writes,
// and the percentages read back from them.
#include <gtest/gtest.h>

#include <optional>

#include "ptelm_properties.h"
#include "telm_config_internal.h"

namespace {

namespace editable = telmar::editable;

TEST(EditableRates, RawPrioritiesByTable) {
    struct Row {
        VK_BYTE priority;
        std::optional<VK_BYTE> rapid, plain;
        VK_BYTE rapid_percent, plain_percent;
    };
    const Row rows[] = {
        {0, 64, 0, 54, 0},
        {1, 72, 64, 61, 54},
        {2, 76, 76, 64, 64},
        {3, 118, 118, 100, 100},
        {4, std::nullopt, std::nullopt, 100, 100},
        {0xFF, std::nullopt, std::nullopt, 255, 255},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.priority));
        EXPECT_EQ(editable::RawRebuildPriority(r.priority, true), r.rapid);
        EXPECT_EQ(editable::RawRebuildPriority(r.priority, false), r.plain);
        EXPECT_EQ(editable::RebuildPercentFromPriority(r.priority, true), r.rapid_percent);
        EXPECT_EQ(editable::RebuildPercentFromPriority(r.priority, false), r.plain_percent);
    }
    const VK_BYTE expand[][2] = {{0, 0}, {1, 64}, {2, 118}, {3, 64}, {0xFF, 64}};
    for (const auto& e : expand) {
        EXPECT_EQ(editable::RawExpandPriority(e[0]), e[1]) << int(e[0]);
    }
}

TEST(EditableRates, PercentToPriorityEdges) {
    // Without rapid rebuild only 0 is low and only 100 high.
    const VK_BYTE plain[][2] = {{0, 0}, {1, 1}, {99, 1}, {100, 3}};
    for (const auto& p : plain) {
        EXPECT_EQ(editable::RebuildPriorityFromPercent(p[0], false), p[1]) << int(p[0]);
    }
    const VK_BYTE rapid[][2] = {{55, 0}, {56, 1}, {64, 1}, {65, 2}, {99, 2}, {100, 3}};
    for (const auto& p : rapid) {
        EXPECT_EQ(editable::RebuildPriorityFromPercent(p[0], true), p[1]) << int(p[0]);
    }
    const VK_WORD ssa[][2] = {{0, 0}, {2, 296}, {50, 151}, {99, 2}, {100, 1}, {101, 0xFFFF}, {255, 0xFFFF}};
    for (const auto& p : ssa) {
        EXPECT_EQ(editable::SSADelayFromPercent(static_cast<VK_BYTE>(p[0])), p[1]) << p[0];
    }
}

} // namespace
