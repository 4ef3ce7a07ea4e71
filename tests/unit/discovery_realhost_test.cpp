// Discovery on this machine's own /sys: it has none of the controllers' drivers.
#include "ppavl_debug.h"
#include "ppavl_discovery.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_errors;

void collect_errors(VK_BYTE level, VK_UINT32, const char* text) {
    if (level == 1) {
        g_errors.emplace_back(text);
    }
}

TEST(DiscoveryRealHost, FindsNoControllerAndReportsNoError) {
    g_errors.clear();
    // Level 1 passes only with a sink and a non-zero level mask, whether or not the library started.
    const VK_UINT32 old_mask = PN_SetDebugLogLevelMask(1, 0xFFFFFFFF);
    const DebugCallbackFunction old_sink = PN_SetDebugCallback(collect_errors);

    DeviceDescriptorList list = PN_CreateControllerDescriptorList();

    PN_SetDebugCallback(old_sink);
    PN_SetDebugLogLevelMask(1, old_mask);

    ASSERT_NE(list, nullptr);
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    ASSERT_NE(it, nullptr);
    EXPECT_TRUE(PN_IsDeviceListIteratorEnd(it));
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
    EXPECT_TRUE(g_errors.empty()) << g_errors.front();
}

} // namespace
