// Controller settings on hand-built records: the write-back pairs' ownership and refusals, the
// clear-configuration cache rebalance, and the decoders behind the operating-parameter, cache,
// surface-scan and MNP getters.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_cda_writeback.h"
#include "telm_private.h"
#include "telm_prop_settings.h"
#include "telmar_log_capture.h"

namespace {

namespace set = telmar::settings;
using pavlin::ByteView;

// A zeroed data area with no lock and no controller: every send fails, nothing else does.
class WriteBack : public ::testing::Test {
protected:
    WriteBack() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = 0xFFFFFFFF;
        c()->flags[kCDAFlagsReadCachePercent] = kCDAValidReadCachePercent;
        baseline_ = _VK_curr_alloc;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    VK_UINT64 Outstanding() const { return _VK_curr_alloc - baseline_; }

    std::unique_ptr<VK_BYTE[]> memory_;
    VK_UINT64 baseline_ = 0;
};

TEST_F(WriteBack, NullBuffersAreRefusedAndEveryValidityBitStays) {
    EXPECT_FALSE(VK_UpdateControllerParameters(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateCacheConfigStatus(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateControllerSurvivalPowerMode(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateSurfaceStatus(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateMNPDelay(cda(), nullptr));
    EXPECT_FALSE(VK_SetOOBMessageInterface(cda(), nullptr));
    EXPECT_FALSE(VK_SetI2Configuration(cda(), nullptr));
    EXPECT_FALSE(VK_SetConfiguration(cda(), 0, nullptr));
    EXPECT_FALSE(VK_LabelLogicalDrive(cda(), 0, nullptr));
    EXPECT_FALSE(VK_CreateLUCache(cda(), 0, nullptr));
    EXPECT_FALSE(VK_SetConnectorDiscoveryConfigurationBuffer(cda(), nullptr));
    EXPECT_EQ(c()->flags[kCDAFlagsBuffers], 0xFFFFFFFFu);
    EXPECT_EQ(c()->flags[kCDAFlagsReadCachePercent], kCDAValidReadCachePercent);
}

// A structure length the controller reported is never sent past the buffer: the write refuses,
// and still frees what it was given.
TEST_F(WriteBack, SelfReportedLengthsOutsideTheBufferAreRefusedAndFreed) {
    TelmarLogCapture log;
    for (const VK_DWORD total : {VK_DWORD{0}, VK_DWORD{345}, VK_DWORD{0xFFFFFFFF}}) {
        auto* parameters = static_cast<CONTROLLER_PARAMETERS*>(VK_malloc(sizeof(CONTROLLER_PARAMETERS)));
        ASSERT_NE(parameters, nullptr);
        std::memset(parameters, 0, sizeof(*parameters));
        parameters->dwTotalStructureLength = total;
        EXPECT_FALSE(VK_UpdateControllerParameters(cda(), parameters)) << total;

        auto* cache = static_cast<CACHE_CONFIG_STATUS*>(VK_malloc(sizeof(CACHE_CONFIG_STATUS)));
        ASSERT_NE(cache, nullptr);
        std::memset(cache, 0, sizeof(*cache));
        cache->dwTotalStructureLength = total == 345 ? 513 : total;
        EXPECT_FALSE(VK_UpdateCacheConfigStatus(cda(), cache)) << total;

        auto* config = static_cast<LOGICAL_DRIVE_CONFIG*>(VK_malloc(sizeof(LOGICAL_DRIVE_CONFIG)));
        ASSERT_NE(config, nullptr);
        std::memset(config, 0, sizeof(*config));
        config->dwTotalStructureLength = total == 345 ? 653 : total;
        EXPECT_FALSE(VK_ChangeConfiguration(cda(), 3, config)) << total;
        EXPECT_EQ(Outstanding(), 0u) << total;
    }
    EXPECT_EQ(c()->flags[kCDAFlagsBuffers], 0xFFFFFFFFu);
    EXPECT_GE(TelmarLogCapture::Count("Refused to write"), 9u);
}

TEST_F(WriteBack, LogicalDriveOutOfRangeKeepsTheBufferForTheCaller) {
    TelmarLogCapture log;
    for (const auto& write : {VK_SetConfiguration, VK_ChangeConfiguration, VK_JoinSplitMirror}) {
        auto* config = static_cast<LOGICAL_DRIVE_CONFIG*>(VK_malloc(sizeof(LOGICAL_DRIVE_CONFIG)));
        ASSERT_NE(config, nullptr);
        EXPECT_FALSE(write(cda(), 70, config));
        EXPECT_EQ(Outstanding(), sizeof(LOGICAL_DRIVE_CONFIG));
        VK_free(config);
    }
    LABEL_LOGICAL_DRIVE* label = VK_GetLabelLogicalDriveBufferForUpdate(cda());
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(VK_LabelLogicalDrive(cda(), 64, label));
    EXPECT_EQ(Outstanding(), sizeof(LABEL_LOGICAL_DRIVE));
    EXPECT_FALSE(VK_CreateLUCache(cda(), 64, reinterpret_cast<PLU_CACHE_CREATE>(label)));
    EXPECT_EQ(Outstanding(), sizeof(LABEL_LOGICAL_DRIVE));
    VK_free(label);
    EXPECT_EQ(VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), 64), nullptr);
    EXPECT_EQ(VK_RequestLUCacheConfigurationForUpdate(cda(), 64), nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("error: Request for ld out of range"), 7u);
}

TEST_F(WriteBack, FailedWritesFreeTheirBuffersAndKeepTheBits) {
    EXPECT_FALSE(VK_UpdateControllerSurvivalPowerMode(cda(), VK_GetControllerSurvivalPowerModeBufferForUpdate(cda())));
    EXPECT_FALSE(VK_UpdateSurfaceStatus(cda(), VK_GetSurfaceStatusBufferForUpdate(cda())));
    EXPECT_FALSE(VK_UpdateMNPDelay(cda(), VK_GetMNPDelayBufferForUpdate(cda())));
    EXPECT_FALSE(VK_LabelLogicalDrive(cda(), 2, VK_GetLabelLogicalDriveBufferForUpdate(cda())));
    auto* info = static_cast<PI2C_INFO>(VK_malloc(sizeof(I2C_INFO)));
    EXPECT_FALSE(VK_SetI2Configuration(cda(), info));
    auto* lu = static_cast<PLU_CACHE_CREATE>(VK_malloc(sizeof(LU_CACHE_CREATE)));
    EXPECT_FALSE(VK_ModifyLUCache(cda(), 1, lu));
    EXPECT_EQ(Outstanding(), 0u);
    EXPECT_EQ(c()->flags[kCDAFlagsBuffers], 0xFFFFFFFFu);
}

TEST(DefaultLabel, NumbersFromOneAndNeedsTwentyBytes) {
    char label[20];
    EXPECT_TRUE(_VK_GetLogicalDriveDefaultLabel(0, label, sizeof(label)));
    EXPECT_STREQ(label, "Logical Drive 1");
    EXPECT_TRUE(_VK_GetLogicalDriveDefaultLabel(0xFFFF, label, sizeof(label)));
    EXPECT_STREQ(label, "Logical Drive 65536");
    EXPECT_FALSE(_VK_GetLogicalDriveDefaultLabel(0, label, 19));
    EXPECT_FALSE(_VK_GetLogicalDriveDefaultLabel(0, nullptr, 64));
}

CACHE_CONFIG_STATUS Cache(VK_WORD total, VK_WORD read, VK_WORD write, VK_BYTE shift) {
    CACHE_CONFIG_STATUS s{};
    s.wTotalMemorySize = total;
    s.read_cache_size = read;
    s.write_cache_size = write;
    s.bMemorySizeShiftFactor = shift;
    return s;
}

TEST(ClearConfigurationCache, RebalancesTowardsTheMaximumWriteShareIn64Bits) {
    struct Case {
        VK_WORD total, read, write;
        VK_BYTE shift, max_write;
        bool changed;
        VK_WORD new_read, new_write;
    };
    const Case cases[] = {
        {1024, 512, 512, 0, 25, true, 768, 256},
        {1024, 512, 512, 0, 33, true, 716, 308},  // read 67 rounds up to 70
        {1024, 512, 512, 0, 50, false, 512, 512}, // already within the maximum
        {1024, 1024, 0, 0, 25, false, 1024, 0},   // no write cache
        // Shifted sizes that wrap 32 bits: 0xFFFF << 20 x 100.
        {0xFFFF, 0x7FFF, 0x8000, 20, 25, true, 49151, 16384},
        {1024, 512, 512, 32, 25, false, 512, 512}, // a shift of 32 or more leaves the sizes
        {1024, 512, 512, 40, 25, false, 512, 512},
    };
    for (const Case& k : cases) {
        CACHE_CONFIG_STATUS s = Cache(k.total, k.read, k.write, k.shift);
        EXPECT_EQ(telmar::RebalanceCacheSizes(s, k.max_write), k.changed) << k.total << "/" << int(k.shift);
        EXPECT_EQ(s.read_cache_size, k.new_read) << k.total << "/" << int(k.shift);
        EXPECT_EQ(s.write_cache_size, k.new_write) << k.total << "/" << int(k.shift);
    }
}

TEST(ClearConfigurationCache, MaximumWritePercent) {
    struct Case {
        VK_BYTE board;
        VK_WORD total, nbb;
        bool staged_nbwc_off;
        VK_BYTE expected;
    };
    const Case cases[] = {
        {1, 1000, 280, false, 72}, {1, 1000, 0, false, 100}, {0, 1000, 0, false, 255},
        {1, 0, 0, false, 255},     {1, 100, 200, false, 255}, {1, 100, 200, true, 100},
        {1, 0xFFFF, 1, false, 99},
    };
    TelmarLogCapture log;
    for (const Case& k : cases) {
        CACHE_CONFIG_STATUS s{};
        s.bBoardPresent = k.board;
        s.wTotalMemorySize = k.total;
        s.wNonBatteryBackedMemorySize = k.nbb;
        EXPECT_EQ(telmar::MaxWriteCachePercent(s, k.staged_nbwc_off), k.expected) << k.total << "/" << k.nbb;
    }
    EXPECT_EQ(TelmarLogCapture::Count("Total cache size (100) is smaller than non-battery backed cache size (200)"),
              2u);
}

TEST(OperatingParameters, PriorityAndRateCodes) {
    EXPECT_EQ(set::RebuildPriority(64, true), kControllerRebuildPriorityLow);
    EXPECT_EQ(set::RebuildPriority(64, false), kControllerRebuildPriorityMedium);
    EXPECT_EQ(set::RebuildPriority(65, true), kControllerRebuildPriorityMedium);
    EXPECT_EQ(set::RebuildPriority(76, true), kControllerRebuildPriorityMediumHigh);
    EXPECT_EQ(set::RebuildPriority(118, true), kControllerRebuildPriorityHigh);
    EXPECT_EQ(set::RebuildPriority(118, false), kControllerRebuildPriorityHigh);
    EXPECT_EQ(set::RebuildPriority(0, false), kControllerRebuildPriorityLow);
    EXPECT_EQ(set::RebuildRatePercent(59), 50);
    EXPECT_EQ(set::RebuildRatePercent(255), 100);
    EXPECT_EQ(set::TransformationRatePercent(118), 100);
    EXPECT_EQ(set::TransformationRatePercent(117), 99);
    EXPECT_EQ(set::TransformationRatePercent(255), 100);
    EXPECT_EQ(set::ExpandPriority(0), kControllerExpandPriorityLow);
    EXPECT_EQ(set::ExpandPriority(117), kControllerExpandPriorityMedium);
    EXPECT_EQ(set::ExpandPriority(118), kControllerExpandPriorityHigh);
}

TEST(OperatingParameters, FieldCodes) {
    EXPECT_EQ(set::QueueDepth(64), kControllerQueueDepthAutomatic);
    EXPECT_EQ(set::QueueDepth(32), kControllerQueueDepth32);
    EXPECT_EQ(set::QueueDepth(2), kControllerQueueDepth2);
    EXPECT_EQ(set::FLS(5), kControllerFLSAggressive10);
    EXPECT_EQ(set::FLS(6), kControllerFLSDefault);
    EXPECT_EQ(set::WCBT(0), 65u);
    EXPECT_EQ(set::SanitizeLock(0x21), 0x21);
    EXPECT_EQ(set::SanitizeLock(0x05), 0x03);
    EXPECT_EQ(set::SanitizeLock(0xF0), 0x30);
    EXPECT_EQ(set::PCIeOrdering(1, 0), 0x23);
    EXPECT_EQ(set::PCIeOrdering(7, 1), 0x31);
    EXPECT_EQ(set::PendingReadRequestSize(0, 3), 512u);
    EXPECT_EQ(set::PendingReadRequestSize(5, 3), 2048u);
    EXPECT_EQ(set::PendingReadRequestSize(6, 3), 0u);
    EXPECT_EQ(set::PCIeSize(6), 4096u);
    EXPECT_EQ(set::PCIeSize(7), 0u);
    EXPECT_EQ(set::PCIeSize(0), 0u);
    EXPECT_EQ(set::UEFIHealthReporting(1), kControllerUEFIDriveHealthReportDisabled);
    EXPECT_EQ(set::UEFIHealthReporting(2), kControllerUEFIDriveHealthReportInvalid);
    // 0x19: configured 1, unconfigured 2, HBA 1.
    EXPECT_EQ(set::DriveWriteCachePolicyBits(0x19, 0), kControllerDriveWriteCacheEnabled);
    EXPECT_EQ(set::DriveWriteCachePolicyBits(0x19, 1), kControllerDriveWriteCacheDisabled);
    EXPECT_EQ(set::DriveWriteCachePolicyBits(0x19, 2), kControllerDriveWriteCacheEnabled);
}

TEST(OperatingParameters, ClockNeedsTheFieldsAndFitsCalendarTime) {
    CONTROLLER_PARAMETERS p{};
    p.dwTotalStructureLength = 344;
    p.dwRTCCentury = 20;
    p.dwRTCYear = 23;
    p.dwRTCMonth = 1;
    p.dwRTCDay = 17;
    p.dwRTCHour = 10;
    p.dwRTCMinute = 30;
    auto t = set::ControllerClock(ByteView(&p, sizeof(p)));
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->tm_year, 123);
    EXPECT_EQ(t->tm_mon, 0);
    EXPECT_EQ(t->tm_mday, 17);
    EXPECT_EQ(t->tm_hour, 10);
    EXPECT_EQ(t->tm_min, 30);
    p.dwTotalStructureLength = 255;
    EXPECT_FALSE(set::ControllerClock(ByteView(&p, sizeof(p))).has_value());
    p.dwTotalStructureLength = 344;
    p.dwRTCCentury = 0xFFFFFFFF; // the year would wrap an int
    EXPECT_FALSE(set::ControllerClock(ByteView(&p, sizeof(p))).has_value());
    EXPECT_FALSE(set::ControllerClock(ByteView(&p, 200)).has_value());
}

TEST(OperatingParameters, BootPriorityComparesNonEmptyIds) {
    const char* id = "600508B1001C0123456789ABCDEF0123";
    EXPECT_EQ(set::BootPriority(id, id, id), kBootableVolumePrecedenceAll);
    EXPECT_EQ(set::BootPriority(id, id, ""), kBootableVolumePrecedencePrimary);
    EXPECT_EQ(set::BootPriority(id, "", id), kBootableVolumePrecedenceSecondary);
    EXPECT_EQ(set::BootPriority("", "", ""), kBootableVolumePrecedenceNone);
    EXPECT_EQ(set::BootPriority(id, "600508B1001C0123456789ABCDEF0124", ""), kBootableVolumePrecedenceNone);
}

TEST(CacheSettings, ReadRatioIsRaisedToFivesAndNeedsWholeSizes) {
    struct Case {
        VK_WORD total, read, write;
        VK_BYTE shift, expected;
    };
    const Case cases[] = {
        {1024, 384, 640, 0, 40}, // 37.5 percent
        {1024, 256, 768, 0, 25},
        {1024, 256, 700, 0, 0xFF}, // sizes that do not add up
        {0, 0, 0, 0, 0xFF},
        {0xFFFF, 0xFFFF, 0, 31, 100}, // no 32-bit wrap of the shifted, multiplied sizes
        {1024, 384, 640, 32, 0xFF},
    };
    for (const Case& k : cases) {
        const CACHE_CONFIG_STATUS s = Cache(k.total, k.read, k.write, k.shift);
        EXPECT_EQ(set::CurrentReadPercentRatio(ByteView(&s, sizeof(s))), k.expected) << k.read << "/" << k.total;
    }
    EXPECT_EQ(set::ApplyReadMinimum(10, true, set::ReadCacheLimits(72)), 30);
    EXPECT_EQ(set::ApplyReadMinimum(10, false, set::ReadCacheLimits(72)), 10);
    EXPECT_EQ(set::ApplyReadMinimum(10, true, set::ReadCacheLimits(255)), 10);
    EXPECT_EQ(set::ReadCacheLimits(255), 0x6565);
    EXPECT_EQ(set::ReadCacheLimits(72), 100 << 8 | 30);
    // Sizes whose product with 100 passes 64 bits.
    EXPECT_EQ(set::ReadRatio(1ull << 62, 1ull << 63), 50);
    EXPECT_EQ(set::ReadRatio((1ull << 63) + 5, (1ull << 63) + 9), 100);
    EXPECT_EQ(set::ReadRatio(~0ull, 1ull << 63), 0xFF);
}

TEST(CacheSettings, PreviousRatioNeedsTheMarkerAndANonZeroTotal) {
    CACHE_CONFIG_STATUS s = Cache(1024, 512, 512, 0);
    EXPECT_FALSE(set::PreviousReadPercentRatio(ByteView(&s, sizeof(s))).has_value());
    s.dwCacheFlags = 0x80000000;
    s.wOverriddenPostedReadMemoryMiB = 256;
    s.wOverriddenPostedWriteMemoryMiB = 768;
    EXPECT_EQ(set::PreviousReadPercentRatio(ByteView(&s, sizeof(s))), 25);
    s.wOverriddenPostedWriteMemoryMiB = 700;
    EXPECT_EQ(set::PreviousReadPercentRatio(ByteView(&s, sizeof(s))), 0xFF);
    s = Cache(0, 0, 0, 0); // both sizes 0 "add up" to a total of 0
    s.dwCacheFlags = 0x80000000;
    EXPECT_EQ(set::PreviousReadPercentRatio(ByteView(&s, sizeof(s))), 0xFF);
}

TEST(SurfaceSettings, RatesCountsAndDelays) {
    EXPECT_EQ(set::SSARatePercent(0xFFFF, 1), 1);
    EXPECT_EQ(set::SSARatePercent(0xFFFF, 0), 0xFF);
    EXPECT_EQ(set::SSARatePercent(301, 0), 1);
    EXPECT_EQ(set::SSARatePercent(150, 1), 50);
    EXPECT_EQ(set::SSARatePercent(2, 1), 99);
    EXPECT_EQ(set::SSARatePercent(300, 1), 1);
    EXPECT_EQ(set::SSARatePercent(1, 1), 100);
    EXPECT_EQ(set::SSARatePercent(0, 1), 0);
    MNP_STATUS mnp{};
    mnp.wMNPDelay = 1441;
    EXPECT_EQ(set::MNPDelay(ByteView(&mnp, sizeof(mnp))), 0xFFFF);
    mnp.wMNPDelay = 1440;
    EXPECT_EQ(set::MNPDelay(ByteView(&mnp, sizeof(mnp))), 1440);
    auto surface = std::make_unique<SURFACE_STATUS>();
    surface->bMaxParallelScanLimit = 4;
    surface->bCurrentParallelScanLimit = 5;
    EXPECT_EQ(set::PSSCount(ByteView(surface.get(), sizeof(SURFACE_STATUS))), 0);
    surface->bCurrentParallelScanLimit = 3;
    EXPECT_EQ(set::PSSCount(ByteView(surface.get(), sizeof(SURFACE_STATUS))), 3);
}

} // namespace
