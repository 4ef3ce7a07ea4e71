// RAID drive counts, controller limits, drive interfaces, strip-size limits and the two predicates
// built on them, on hand-built cached replies. Also runs the properties fuzz target over fixed inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr VK_DWORD kPagesOffered = 0x80000000;
constexpr VK_DWORD kLongFlagsValid = 0x00100000;
constexpr VK_DWORD kSoftwareRAIDLegacy = 0x04000000;
constexpr VK_DWORD kMinimaReported = 0x01000000; // IDENTIFY dwExtraControllerFlags

class RaidLimits : public ::testing::Test {
protected:
    RaidLimits() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    SENSE_FEATURE_PAGES& pages() { return c()->sense_feature; }
    void WithPages() {
        id().dwEvenMoreControllerFlags |= kPagesOffered;
        c()->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
    }
    void Unreadable() { c()->flags[kCDAFlagsBuffers] = 0; }
    VK_DWORD Strip(VK_BYTE selector) { return VK_GetControllerStripSizeSupport(cda(), selector); }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

TEST_F(RaidLimits, PCIBusTypeNeedsPCIeAndAGeneration) {
    struct Row {
        VK_BYTE bus;
        VK_BYTE generation;
        VK_BOOL expected;
    };
    const Row rows[] = {{kPCIe, 3, kTrue},  {kPCIe, 1, kTrue}, {kPCIe, 0, kFalse}, {kPCIX, 3, kFalse},
                        {kPCIX, 0, kFalse}, {0, 3, kFalse},    {3, 3, kFalse},     {0xFF, 3, kFalse}};
    for (const Row& r : rows) {
        id().bPCIEGeneration = r.generation;
        EXPECT_EQ(VK_ControllerSupportsPCIBusType(cda(), r.bus), r.expected)
            << int(r.bus) << " gen " << int(r.generation);
    }
    Unreadable();
    EXPECT_EQ(VK_ControllerSupportsPCIBusType(cda(), kPCIe), kFalse);
}

TEST_F(RaidLimits, LimitsComeFromIdentify) {
    id().wMaximumLogicalDevicesSupported = 64;
    id().wMaximumPhysicalDevicesSupported = 384;
    id().wMaximumPhysicalDrivesPerLogicalUnit = 0x0100;
    EXPECT_EQ(VK_ControllerSupportsMaxLogicalDriveCount(cda()), 64);
    EXPECT_EQ(VK_ControllerSupportsMaxArrayCount(cda()), 64);
    EXPECT_EQ(VK_ControllerSupportsMaxPhysicalDriveCount(cda()), 384);
    // All 16 bits here, while the drive counts take only the low byte: 0x0100 allows none.
    EXPECT_EQ(VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(cda()), 256);
    for (VK_BYTE level = kRAID0; level <= kRAID10Triple; ++level) {
        EXPECT_EQ(VK_GetMinMaxPDForRAIDLevel(cda(), level), 0) << int(level);
    }
    id().wMaximumLogicalDevicesSupported = 1024;
    EXPECT_EQ(VK_ControllerSupportsMaxArrayCount(cda()), 1024);

    Unreadable();
    EXPECT_EQ(VK_ControllerSupportsMaxArrayCount(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsMaxLogicalDriveCount(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsMaxPhysicalDriveCount(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(cda()), 0);
    EXPECT_EQ(VK_GetMinMaxPDForRAIDLevel(cda(), kRAID0), 0);
}

TEST_F(RaidLimits, DriveCountsByLevel) {
    struct Row {
        VK_BYTE l;
        VK_BYTE level;
        VK_WORD counts;
    };
    const Row rows[] = {
        {16, kRAID0, 0x0110},
        {16, kRAID1, 0x0210},
        {16, kRAID10, 0x0410},
        {16, kRAID5, 0x0310},
        {16, kRAID50, 0x0610},
        {16, kRAID6, 0x0410},
        {16, kRAID60, 0x0810},
        {16, kRAID1Triple, 0x030F},
        {16, kRAID10Triple, 0x060F},
        {7, kRAID10, 0x0406},
        {7, kRAID1Triple, 0x0306},
        {7, kRAID5, 0x0307},
        {7, kRAID60, 0x0806},
        {255, kRAID1, 0x02FE},
        {255, kRAID10Triple, 0x06FF},
        {16, 0, 0},
        {16, 0x0A, 0},
        {16, kInvalidRAID, 0},
    };
    for (const Row& r : rows) {
        id().wMaximumPhysicalDrivesPerLogicalUnit = static_cast<VK_WORD>(0x0200 | r.l); // high byte ignored
        const VK_WORD counts = VK_GetMinMaxPDForRAIDLevel(cda(), r.level);
        EXPECT_EQ(counts, r.counts) << "L " << int(r.l) << " level " << int(r.level);
        EXPECT_EQ(RAID_MIN_PD_NUMBER(counts), r.counts >> 8);
        EXPECT_EQ(RAID_MAX_PD_NUMBER(counts), r.counts & 0xFF);
    }
}

TEST_F(RaidLimits, DriveInterfaces) {
    const VK_BYTE always[] = {0x01, 0x02, 0x03, 0x04, 0x06, 0x11, 0x12, 0x13};
    const VK_BYTE never[] = {0x00, 0x07, 0x10, 0x14, 0x15, 0x16, 0x17, 0xFF};
    for (VK_BYTE version = 1; version <= 8; ++version) {
        c()->controller_firmware_feature_version = version;
        for (VK_BYTE type : always) {
            EXPECT_EQ(VK_ControllerSupportsPDInterface(cda(), type), kTrue) << int(type);
        }
        for (VK_BYTE type : never) {
            EXPECT_EQ(VK_ControllerSupportsPDInterface(cda(), type), kFalse) << int(type);
        }
        EXPECT_EQ(VK_ControllerSupportsPDInterface(cda(), kPhysicalDriveInterfaceSAS12G),
                  version > 2 ? kTrue : kFalse)
            << "version " << int(version);
    }
}

TEST_F(RaidLimits, MaximumStripSizes) {
    struct Row {
        VK_WORD r01, r45, r6;
        bool software_raid;
        VK_DWORD any, raid01, raid5, raid6;
    };
    constexpr VK_DWORD MiB = 0x100000, KiB = 1024;
    const Row rows[] = {
        {0x0200, 0x0200, 0x0200, true, 256 * KiB, 256 * KiB, 256 * KiB, 256 * KiB},
        {0x0100, 0x0100, 0x0100, true, 128 * KiB, 128 * KiB, 128 * KiB, 128 * KiB},
        {0x0800, 0x0800, 0x0800, true, MiB, 256 * KiB, MiB, MiB},
        {0x0800, 0x0800, 0x0800, false, MiB, MiB, MiB, MiB},
        {0xFFFF, 0xFFFF, 0xFFFF, false, MiB, MiB, MiB, MiB},
        {0x1000, 0x1000, 0x1000, false, MiB, MiB, MiB, MiB},
        {0x0080, 0x0400, 0x0100, false, 512 * KiB, 64 * KiB, 512 * KiB, 128 * KiB},
        {0xFFFF, 0x0080, 0xFFFF, false, 64 * KiB, MiB, 64 * KiB, MiB},
        {0, 0, 0, false, MiB, MiB, MiB, MiB},
        // The software-RAID limit holds for the default as well.
        {0, 0, 0, true, MiB, 256 * KiB, MiB, MiB},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message()
                     << std::hex << r.r01 << " " << r.r45 << " " << r.r6 << " sw " << r.software_raid);
        id().wMaximumRAID01StripeSize = r.r01;
        id().wMaximumRAID45StripeSize = r.r45;
        id().wMaximumRAID6StripeSize = r.r6;
        id().dwYetMoreControllerFlags = r.software_raid ? kSoftwareRAIDLegacy : 0;
        EXPECT_EQ(Strip(kControllerStripSizeMaxStripSizeBytes), r.any);
        EXPECT_EQ(Strip(kControllerStripSizeMaxRAID01StripSizeBytes), r.raid01);
        EXPECT_EQ(Strip(kControllerStripSizeMaxRAID5StripSizeBytes), r.raid5);
        EXPECT_EQ(Strip(kControllerStripSizeMaxRAID6StripSizeBytes), r.raid6);
    }
}

TEST_F(RaidLimits, FullStripeSaturatesInsteadOfWrapping) {
    struct Row {
        VK_DWORD mib;
        VK_DWORD bytes;
    };
    const Row rows[] = {
        {8, 8u << 20}, {0, 0}, {4095, 4095u << 20}, {4096, 0xFFFFFFFF}, {0xFFFFFFFF, 0xFFFFFFFF}};
    for (const Row& r : rows) {
        id().dwMaximumSafeFullStripeSizeMB = r.mib;
        EXPECT_EQ(Strip(kControllerStripSizeMaxFullStripeSizeBytes), r.bytes) << r.mib;
    }
    Unreadable();
    EXPECT_EQ(Strip(kControllerStripSizeMaxFullStripeSizeBytes), 0u);
}

TEST_F(RaidLimits, MinimumStripSizesKeepAllThirtyTwoBits) {
    id().dwYetMoreControllerFlags = kLongFlagsValid;
    id().dwFixedStructureLength = 287;
    id().dwExtraControllerFlags = kMinimaReported;
    struct Row {
        VK_WORD non_parity_blocks, parity_blocks;
        VK_DWORD non_parity, parity;
    };
    const Row rows[] = {
        {17, 32, 8192, 16384},  // 17 blocks: whole KiB, 8 KiB
        {128, 16, 65536, 8192}, // 128 blocks would read 0 in 16 bits
        {0xFFFF, 1024, 32767u * 1024, 512u * 1024},
        {0, 1, 0, 0},
    };
    for (const Row& r : rows) {
        id().wMinRAID01StripSize = r.non_parity_blocks;
        id().wMinParityStripSize = r.parity_blocks;
        EXPECT_EQ(Strip(kControllerStripSizeMinNonParityStripSizeBytes), r.non_parity) << r.non_parity_blocks;
        EXPECT_EQ(Strip(kControllerStripSizeMinParityStripSizeBytes), r.parity) << r.parity_blocks;
        EXPECT_EQ(Strip(kControllerStripSizeMinStripSizeBytes), std::min(r.non_parity, r.parity));
    }
}

TEST_F(RaidLimits, WhoSaysTheMinimaAreReported) {
    id().wMinRAID01StripSize = 64;
    id().wMinParityStripSize = 128;
    const auto minima = [&] {
        return std::make_pair(Strip(kControllerStripSizeMinNonParityStripSizeBytes),
                              Strip(kControllerStripSizeMinParityStripSizeBytes));
    };
    const auto defaults = std::make_pair(8192u, 8192u);
    const auto reported = std::make_pair(32768u, 65536u);

    // Legacy: the extra-flags gate and its bit.
    EXPECT_EQ(minima(), defaults);
    id().dwYetMoreControllerFlags = kLongFlagsValid;
    id().dwFixedStructureLength = 287;
    id().dwExtraControllerFlags = kMinimaReported;
    EXPECT_EQ(minima(), reported);
    id().dwFixedStructureLength = 286;
    EXPECT_EQ(minima(), defaults);

    // Pages without a RAID page: still the IDENTIFY flag.
    id().dwFixedStructureLength = 287;
    WithPages();
    EXPECT_EQ(minima(), reported);
    // A RAID page decides by its own bit, whatever IDENTIFY says.
    pages().page_raid.PageHeader.bPageCode = 0x02;
    EXPECT_EQ(minima(), defaults);
    pages().page_raid.bFlags2 = 0x40;
    id().dwExtraControllerFlags = 0;
    EXPECT_EQ(minima(), reported);

    // Pages offered but unreadable: the IDENTIFY flag answers.
    c()->flags[kCDAFlagsBuffers] &= ~kCDAValidFeaturePages;
    id().dwExtraControllerFlags = kMinimaReported;
    EXPECT_EQ(minima(), reported);
    Unreadable();
    EXPECT_EQ(minima(), defaults);
}

TEST_F(RaidLimits, NVMeAndLUCacheLimits) {
    EXPECT_EQ(Strip(kControllerStripSizeMaxNVMeStripSizeBytes), 0u);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxFullStripeSizeBytes), 0x10000u);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxStripSizeBytes), 0x10000u);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMinFullStripeSizeBytes), 0x10000u);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMinStripSizeBytes), 8192u);

    WithPages();
    pages().page_nvme.PageHeader.bPageCode = 0x0D;
    pages().page_nvme.wMaxNVMeStripSize = 512;
    EXPECT_EQ(Strip(kControllerStripSizeMaxNVMeStripSizeBytes), 0u) << "no NVMe RAID";
    pages().page_nvme.bNVMeFlags = 0x02;
    EXPECT_EQ(Strip(kControllerStripSizeMaxNVMeStripSizeBytes), 512u * 1024);
    pages().page_nvme.PageHeader.bPageCode = 0;
    EXPECT_EQ(Strip(kControllerStripSizeMaxNVMeStripSizeBytes), 0u) << "page did not arrive";

    auto& lu = pages().page_lu_cache;
    lu.dwMaxStripeSize = 1024;
    lu.dwMaxStripSize = 256;
    lu.dwMinStripeSize = 128;
    lu.dwMinStripSize = 16;
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxStripSizeBytes), 0x10000u) << "values not flagged";
    lu.bFlags = 0x40;
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxFullStripeSizeBytes), 1024u * 1024);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxStripSizeBytes), 256u * 1024);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMinFullStripeSizeBytes), 128u * 1024);
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMinStripSizeBytes), 16u * 1024);
    lu.dwMaxStripeSize = 0x00400000; // 4 GiB in KiB
    EXPECT_EQ(Strip(kControllerStripSizeLUCacheMaxFullStripeSizeBytes), 0xFFFFFFFFu);
}

TEST_F(RaidLimits, UnknownSelectorsAnswerZero) {
    id().wMaximumRAID01StripeSize = 0x0200;
    for (const VK_BYTE selector : {VK_BYTE{0}, VK_BYTE{0x0E}, VK_BYTE{0x7F}, VK_BYTE{0xFF}}) {
        EXPECT_EQ(Strip(selector), 0u) << int(selector);
    }
    EXPECT_EQ(_VK_GetControllerMaxStripSizeSupport(cda(), 6), 0u);
    EXPECT_EQ(_VK_GetControllerMinStripSizeSupport(cda(), 5), 0u);
    EXPECT_EQ(_VK_GetControllerLUCacheStripSizeSupport(cda(), 9), 0u);
}

// The fuzz target over a handful of inputs: each call checks termination and buffer bounds itself.
TEST(ControllerPropertiesFuzzTarget, RunsOverFixedInputs) {
    EXPECT_EQ(LLVMFuzzerTestOneInput(nullptr, 0), 0);
    for (const size_t size : {size_t{1}, size_t{2}, size_t{300}, size_t{1026}, size_t{2770}, size_t{4000}}) {
        const std::vector<uint8_t> ones(size, 0xFF);
        EXPECT_EQ(LLVMFuzzerTestOneInput(ones.data(), ones.size()), 0) << size;
    }
    std::mt19937 random(13);
    for (int i = 0; i < 16; ++i) {
        std::vector<uint8_t> bytes(random() % 3200);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}

} // namespace
