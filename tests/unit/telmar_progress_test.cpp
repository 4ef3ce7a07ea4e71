// Logical-drive operation progress decoders on hand-built replies: the percentage, blocks left,
// the two parity-initialization decodes and a rebuild onto several replacement drives.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "pavl_bytes.h"
#include "telm_bmic.h"
#include "telm_prop_settings.h"
#include "telmar_log_capture.h"

namespace {

namespace set = telmar::settings;
using pavlin::ByteView;

TEST(Progress, PercentageAndBlocksLeft) {
    TelmarLogCapture log;
    EXPECT_EQ(set::BlockOperationProgress(1000, 250), 75);
    EXPECT_EQ(set::BlockOperationProgress(1000, 1500), 0);
    EXPECT_EQ(TelmarLogCapture::Count("Recovering more blocks than on disk"), 1u);
    EXPECT_EQ(set::BlockOperationProgress(0, 0), 101);
    EXPECT_EQ(set::BlockOperationProgress(~0ull, 1), 99); // no 64-bit wrap of done x 100
    EXPECT_EQ(set::BlocksLeft(0xFFFFFFFF, 0), 0xFFFFFFFFull);
    EXPECT_EQ(set::BlocksLeft(0xFFFFFFFF, 5), 5u);
    EXPECT_EQ(set::BlocksLeft(7, 5), 7u);
}

// A surface status with the analysis table at `offset` and the percent table after it.
std::unique_ptr<SURFACE_STATUS> Surface(VK_WORD word, VK_DWORD offset = 1452) {
    auto s = std::make_unique<SURFACE_STATUS>();
    std::memset(s.get(), 0, sizeof(*s));
    s->wMaximumLogicalDevicesSupported = 64;
    s->dwFixedStructureLength = 1452;
    s->dwOffsetToExtendedSurfaceAnalysisStatus = offset;
    s->dwOffsetToExtendedInitializationPercentComplete = 1452 + 128;
    auto* bytes = reinterpret_cast<VK_BYTE*>(s.get());
    if (offset + 8 <= sizeof(*s)) {
        std::memcpy(bytes + offset + 2 * 3, &word, 2);
    }
    bytes[1452 + 128 + 3] = 42;
    return s;
}

TEST(Progress, ParityInitializationCachedAndLiveDecodes) {
    struct Case {
        VK_WORD word;
        VK_BYTE cached, live;
    };
    const Case cases[] = {{0x0005, 100, 100}, {0x0004, 0, 0}, {0x0200, 42, 42}, {0x0001, 101, 100},
                          {0x0002, 102, 102}, {0x0000, 42, 0}};
    for (const Case& k : cases) {
        const auto s = Surface(k.word);
        const ByteView v(s.get(), sizeof(*s));
        EXPECT_EQ(set::CachedParityInitialization(v, 3), k.cached) << k.word;
        EXPECT_EQ(set::LiveParityInitialization(v, 3), k.live) << k.word;
    }
    // A table that does not lie whole inside the reply answers 101.
    const auto outside = Surface(0x0005, sizeof(SURFACE_STATUS) - 64);
    EXPECT_EQ(set::CachedParityInitialization(ByteView(outside.get(), sizeof(SURFACE_STATUS)), 3), 101);
    EXPECT_EQ(set::LiveParityInitialization(ByteView(outside.get(), sizeof(SURFACE_STATUS)), 3), 101);
    const auto far = Surface(0x0005, 0xFFFFFFF0);
    EXPECT_EQ(set::LiveParityInitialization(ByteView(far.get(), sizeof(SURFACE_STATUS)), 3), 101);
}

TEST(Progress, RebuildOntoTwoReplacementsCountsTheSecondAsOutstanding) {
    auto status = std::make_unique<LOGICAL_DRIVE_STATUS>();
    std::memset(status.get(), 0, sizeof(*status));
    status->wOffsetToExtendedReplacementDriveMap = 2000;
    reinterpret_cast<VK_BYTE*>(status.get())[2000] = 0x03;
    VK_QWORD total = 100, left = 40;
    set::RebuildOntoReplacements(ByteView(status.get(), sizeof(*status)), 2, total, left);
    EXPECT_EQ(set::BlockOperationProgress(total, left), 30);
    // A map that would end past the 3,265-byte reply is absent.
    status->wOffsetToExtendedReplacementDriveMap = 3265 - 47;
    total = 100, left = 40;
    set::RebuildOntoReplacements(ByteView(status.get(), sizeof(*status)), 2, total, left);
    EXPECT_EQ(total, 100u);
    EXPECT_EQ(left, 40u);
}

} // namespace
