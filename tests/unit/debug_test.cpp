// Debug log filtering, formatting, hex dump and hard assertion.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pavl_debug_private.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

#include <cstring>

namespace {

struct Logged {
    VK_BYTE level;
    VK_UINT32 mask;
    std::string text;
    bool static_buffer;
};
std::vector<Logged> g_logged;

void capture(VK_BYTE level, VK_UINT32 mask, const char* text) {
    g_logged.push_back({level, mask, text, text == __PN_DebugLogBuffer});
}

class DebugLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializePavlin(nullptr);
        g_logged.clear();
        PN_SetDebugLogMask(0xFFFFFFFF);
        previous_level_ = PN_SetDebugLogLevel(2);
        previous_sink_ = PN_SetDebugCallback(capture);
    }
    void TearDown() override {
        PN_SetDebugCallback(previous_sink_);
        PN_SetDebugLogLevel(previous_level_);
        PN_SetDebugLogMask(0xFFFFFFFF);
        g_logged.clear();
    }
    VK_BYTE previous_level_ = 2;
    DebugCallbackFunction previous_sink_ = nullptr;
};

TEST_F(DebugLogTest, FilterByLevelMaskAndSink) {
    PN_SetDebugLogLevelMask(1, 0x0000000F);
    PN_SetDebugLogLevelMask(2, 0);
    struct Case {
        VK_BYTE level;
        VK_UINT32 mask;
        bool passes;
        VK_UINT32 level_mask;
    };
    const Case cases[] = {
        {0, 0, false, 0xFFFFFFFF},                            // level 0 never passes
        {1, 0, true, 0x0F},                                   // mask 0 passes a non-zero level mask
        {1, 0x30, false, 0x0F},                               // no shared bit
        {1, 0x18, true, 0x0F},     {2, 0, false, 0},          // a zero level mask stops even mask 0
        {2, 0xFF, false, 0},       {3, 0, false, 0xFFFFFFFF}, // above the current level 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.level) << "/" << c.mask);
        VK_UINT32 m = 0x12345678;
        EXPECT_EQ(_PN_DebugLogPredicate(c.level, c.mask, &m), c.passes ? kTrue : kFalse);
        EXPECT_EQ(m, c.level_mask);
    }
    // Levels above 10 use the global mask.
    PN_SetDebugLogLevel(20);
    PN_SetDebugLogLevelMask(10, 0);
    EXPECT_FALSE(_PN_DebugLogPredicate(10, 0, nullptr));
    EXPECT_TRUE(_PN_DebugLogPredicate(11, 0, nullptr));

    PN_DebugLog(1, 0x18, "%s:%d: message %s\n", "file.c", 7, "one");
    PN_DebugLog(1, 0x30, "dropped\n");
    PN_DebugLog(3, 0, "dropped too\n");
    ASSERT_EQ(g_logged.size(), 2u);
    EXPECT_EQ(g_logged[0].text, "file.c:7: message one\n");
    EXPECT_EQ(g_logged[0].level, 1);
    EXPECT_EQ(g_logged[0].mask, 0x08u); // the message's mask AND the level's
    EXPECT_EQ(g_logged[1].text, "dropped too\n");

    // Without a sink nothing passes, whatever the level.
    PN_SetDebugCallback(nullptr);
    EXPECT_FALSE(_PN_DebugLogPredicate(1, 0, nullptr));
    PN_SetDebugCallback(capture);
}

TEST_F(DebugLogTest, SettersReturnPreviousValues) {
    EXPECT_EQ(PN_SetDebugLogLevel(5), 2);
    EXPECT_EQ(PN_GetDebugLogLevel(), 5);
    EXPECT_EQ(PN_SetDebugLogMask(0xF0), 0xFFFFFFFFu);
    EXPECT_EQ(PN_GetDebugLogMask(), 0xF0u);
    for (VK_BYTE level = 1; level <= 10; ++level) {
        EXPECT_EQ(PN_GetDebugLogLevelMask(level),
                  0xF0u); // the global setter sets every level
    }
    EXPECT_EQ(PN_SetDebugLogLevelMask(3, 0x1), 0xF0u);
    EXPECT_EQ(PN_GetDebugLogLevelMask(3), 0x1u);
    EXPECT_EQ(PN_SetDebugLogLevelMask(11, 0x2), 0u);
    EXPECT_EQ(PN_SetDebugLogLevelMask(0, 0x2), 0u);
    EXPECT_EQ(PN_GetDebugLogMask(), 0xF0u);
    EXPECT_EQ(PN_GetDebugLogLevelMask(0), 0xF0u);
    EXPECT_EQ(PN_GetDebugLogLevelMask(11), 0xF0u);
    EXPECT_EQ(PN_SetDebugCallback(nullptr), &capture);
    EXPECT_EQ(PN_SetDebugCallback(capture), nullptr);
}

TEST_F(DebugLogTest, ShortMessagesUseTheStaticBufferLongOnesTheHeap) {
    const VK_UINT64 held = _VK_curr_alloc;
    for (size_t length : {size_t{0}, size_t{511}, size_t{512}, size_t{0x9000}}) {
        SCOPED_TRACE(length);
        g_logged.clear();
        const std::string text(length, 'm');
        const VK_UINT64 total_before = _VK_total_alloc;
        PN_DebugLog(1, 0, "%s", text.c_str());
        ASSERT_EQ(g_logged.size(), 1u);
        EXPECT_EQ(g_logged[0].text, text);
        EXPECT_EQ(g_logged[0].static_buffer, length < 512);
        EXPECT_EQ(_VK_total_alloc - total_before, length < 512 ? 0 : length + 1);
    }
    EXPECT_EQ(_VK_curr_alloc, held); // the heap text was released
}

// Pointers are printed wider than the C library measures them; such a line is still delivered, whole,
// and whether it fits the static buffer or only the heap.
TEST_F(DebugLogTest, PointerTracesAreDeliveredWhole) {
    const VK_UINT64 held = _VK_curr_alloc;
    int object = 0;
    const std::string filler(490, 'f');
    for (const char* prefix : {"", filler.c_str()}) {
        SCOPED_TRACE(strlen(prefix));
        g_logged.clear();
        PN_DebugLog(1, 0, "%s%s:%d: %s(%p, %p):%u", prefix, "telm_config_controller.cpp", 417,
                    "VK_ChangeEditableControllerSurvivalMode", static_cast<void*>(&object), nullptr, 1u);
        ASSERT_EQ(g_logged.size(), 1u);
        const std::string& text = g_logged[0].text;
        EXPECT_EQ(text.rfind(std::string(prefix) + "telm_config_controller.cpp:417: "
                             "VK_ChangeEditableControllerSurvivalMode(", 0), 0u) << text;
        EXPECT_EQ(text.substr(text.size() - 3), "):1") << text;
    }
    EXPECT_EQ(_VK_curr_alloc, held);
}

// A sink may log again (the lock is re-entrant); its own text must survive the nested message.
TEST_F(DebugLogTest, SinkThatLogsAgainKeepsItsText) {
    static std::string outer_after_nested;
    PN_SetDebugCallback([](VK_BYTE level, VK_UINT32, const char* text) {
        if (level == 1) {
            PN_DebugLog(2, 0, "nested message\n");
            outer_after_nested = text;
        }
    });
    PN_DebugLog(1, 0, "outer message\n");
    EXPECT_EQ(outer_after_nested, "outer message\n");
}

TEST_F(DebugLogTest, BatchThroughTheBypass) {
    _PN_LockDebugLog();
    VK_UINT32 m = 0;
    ASSERT_TRUE(_PN_DebugLogPredicate(2, 0, &m));
    _PN_DebugLogBypass(2, m, "line %d\n", 1);
    _PN_DebugLogBypass(2, m, "line %d\n", 2);
    _PN_UnlockDebugLog();
    ASSERT_EQ(g_logged.size(), 2u);
    EXPECT_EQ(g_logged[1].text, "line 2\n");
    EXPECT_EQ(g_logged[1].mask, 0xFFFFFFFFu);
}

// Before start-up the lock does not exist and every level mask is 0: setting the level still works.
TEST_F(DebugLogTest, BeforeStartUp) {
    _PN_UnInitializeDebug();
    for (VK_UINT32& mask : _PN_DebugLogLevelMasks) {
        mask = 0;
    }
    ASSERT_EQ(_PN_PavlinDebugMutex, nullptr);
    EXPECT_EQ(PN_SetDebugLogLevel(3), 2);
    EXPECT_EQ(PN_GetDebugLogLevel(), 3);
    PN_DebugLog(1, 0, "not yet\n");
    EXPECT_TRUE(g_logged.empty());

    InitializePavlin(nullptr);
    EXPECT_NE(_PN_PavlinDebugMutex, nullptr);
    EXPECT_EQ(PN_GetDebugLogLevel(), 3); // start-up keeps the level
    PN_DebugLog(1, 0, "now\n");
    ASSERT_EQ(g_logged.size(), 1u);
}

// ---------------------------------------------------------------------------------------------------------

const std::string kPreamble = "\n"
                              "0F 0E 0D 0C 0B 0A 09 08 07 06 05 04 03 02 01 00 |      | 0123456789ABCDEF\n"
                              "----------------------------------------------- + ---- + ----------------\n";

TEST_F(DebugLogTest, HexDumpLayout) {
    const VK_UINT64 held = _VK_curr_alloc;
    PN_LogDataBuffer(1, 0, "", 0);
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0].text, kPreamble);

    unsigned char bytes[17];
    for (size_t i = 0; i < sizeof(bytes); ++i) {
        bytes[i] = static_cast<unsigned char>('A' + i);
    }
    bytes[1] = 0x00;
    bytes[2] = 0x7F;
    PN_LogDataBuffer(1, 0x4, bytes, sizeof(bytes));
    ASSERT_EQ(g_logged.size(), 2u);
    EXPECT_EQ(g_logged[1].mask, 0x4u);
    EXPECT_EQ(g_logged[1].text,
              kPreamble + "50 4F 4E 4D 4C 4B 4A 49 48 47 46 45 44 7F 00 41 | 0000 | A..DEFGHIJKLMNOP\n"
                          "                                             51 | 0010 | Q\n");
    EXPECT_EQ(_VK_curr_alloc, held);

    PN_LogDataBuffer(3, 0, bytes, sizeof(bytes)); // filtered out
    EXPECT_EQ(g_logged.size(), 2u);
}

// Offsets from 64 KiB on take five digits; the text must grow with them.
TEST_F(DebugLogTest, HexDumpBeyond64KiB) {
    const size_t size = 0x10000 + 20;
    std::vector<unsigned char> data(size, 'z');
    PN_LogDataBuffer(1, 0, data.data(), data.size());
    ASSERT_EQ(g_logged.size(), 1u);
    const std::string& text = g_logged[0].text;
    const std::string last_rows =
        "7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A 7A | 10000 | zzzzzzzzzzzzzzzz\n"
        "                                    7A 7A 7A 7A | 10010 | zzzz\n";
    ASSERT_GE(text.size(), last_rows.size());
    EXPECT_EQ(text.substr(text.size() - last_rows.size()), last_rows);
    EXPECT_NE(text.find("| FFF0 | "), std::string::npos);
    EXPECT_EQ(text.size(), kPreamble.size() + 0x1000 * 74 + 75 + 63);
}

TEST_F(DebugLogTest, HexDumpOfNoDataWithASizeDoesNothing) {
    _PN_LogDataBufferBypass(1, 0, nullptr, 16);
    PN_SetDebugCallback(nullptr);
    _PN_LogDataBufferBypass(1, 0, "abc", 3);
    PN_SetDebugCallback(capture);
    EXPECT_TRUE(g_logged.empty());
}

// ---------------------------------------------------------------------------------------------------------

TEST(DebugAssertDeathTest, ReportsExpressionMessageFileAndLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(__PN_assert("x == 1", "Something broke", "some/file.c", 321),
                 "some/file\\.c:321: .*Assertion .x == 1, Something broke. failed");
    EXPECT_DEATH(_PN_LockUp(nullptr, nullptr, nullptr, 5), ":5: .*Assertion ., . failed");
}

} // namespace
