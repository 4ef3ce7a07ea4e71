// The RAID geometry and rules that read the controller, on a simulated one: RAID 6 support from the
// RAID feature page, the strip limits and safe full stripe from IDENTIFY CONTROLLER, the drive types,
// sizes and block sizes from the drives' identify replies, and the live array's logical drives.
#include <vector>

#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;

constexpr VK_DWORD kNoNVMe = 0x0011;

// A RAID 5 of drives 0-3 with two logical drives and drive 4 as its spare; a drive with 4 KiB
// physical blocks, a 4 KiB native drive, two NVMe drives and one more SAS drive.
FirmwareState Controller(bool raid6) {
    FirmwareState s;
    const std::pair<VK_WORD, std::uint64_t> sizes[] = {
        {0, 2000000}, {1, 1500000}, {2, 1800000}, {3, 1200000}, {4, 1100000}};
    for (const auto& [pd, total] : sizes) {
        auto& d = s.add_drive(pd);
        d.total_blocks = total;
        d.reserved_blocks = 1000 + pd;
    }
    s.add_drive(5).blocks_per_physical_shift = 3;
    s.add_drive(6).block_size = 4096;
    s.add_drive(8, 9);
    s.add_drive(9, 9);
    s.add_drive(10);
    auto& first = s.add_configured_drive(0, {0, 1, 2, 3}, 400000, 0);
    first.fault_tolerance = 3;
    first.spares = {4};
    s.add_configured_drive(1, {0, 1, 2, 3}, 300000, 409600).fault_tolerance = 3;
    s.identify.max_safe_full_stripe_mb = 1;
    s.identify.max_raid01_stripe = 0x0400; // 512 KiB
    s.identify.max_raid45_stripe = 0x0800; // 1 MiB
    s.identify.max_raid6_stripe = 0x0200;  // 256 KiB
    // The RAID page's level bitmap: 0x10 is RAID 6.
    s.set_page("raid", {0x02, 0x0C, 0x05, 0x00, static_cast<std::uint8_t>(raid6 ? 0x1F : 0x0F), 0x04, 0x00, 0x00});
    return s;
}

class RaidGeometryHost : public telmar_host::ControllerHost {
protected:
    void Start(bool raid6) {
        ASSERT_NO_FATAL_FAILURE(StartController(Controller(raid6)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
    }
};

TEST_F(RaidGeometryHost, ExpandedLevelFollowsTheRAIDPage) {
    for (const bool raid6 : {true, false}) {
        SCOPED_TRACE(raid6 ? "RAID 6 offered" : "no RAID 6");
        ASSERT_NO_FATAL_FAILURE(Start(raid6));
        EXPECT_EQ(_VK_ExpandRAIDLevel(cda(), kRAID1, 3), raid6 ? kRAID6 : kRAID5);
        EXPECT_EQ(_VK_ExpandRAIDLevel(cda(), kRAID10, 1), raid6 ? kRAID6 : kRAID5);
        EXPECT_EQ(_VK_ExpandRAIDLevel(cda(), kRAID1, 1), kRAID5);
        EXPECT_EQ(_VK_ExpandRAIDLevel(cda(), kRAID1, 2), kRAID10);
        StopController();
    }
}

TEST_F(RaidGeometryHost, StripLimitsAndFullStripeFromIdentify) {
    ASSERT_NO_FATAL_FAILURE(Start(false));
    TelmarLogCapture log;
    // RAID 5 of 8 under a 1 MiB full stripe: 8 x 128 KiB.
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID5, 0, kNoNVMe, 8), 17);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID6, 0, kNoNVMe, 4), 18);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID0, 0, kNoNVMe, 8), 19);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMinStripSize(cda(), kRAID5), 13);
    VK_BYTE min = 0, max = 0, def = 0;
    EXPECT_EQ(_VK_GetEditableLogicalDriveStripSizeRange(cda(), 0, kRAID50, 2, kNoNVMe, 16, &min, &max, &def),
              kGetEditableLogicalDriveStripSizeRangeOK);
    EXPECT_EQ(min, 13);
    EXPECT_EQ(max, 17);
    EXPECT_EQ(def, 17);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 128 * 1024), kTrue);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 256 * 1024), kFalse);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 12, kRAID50, 0, 8 * 1024), kFalse);
    EXPECT_EQ(log.Count("Assertion"), 0u);

    // A controller that gives no safe full stripe: the maximum stays, with its line.
    fw_->fw_state().identify.max_safe_full_stripe_mb = 0;
    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID5, 0, kNoNVMe, 8), 20);
    EXPECT_EQ(log.Count("__VK_GetEditableLogicalDriveMaxStripSize:"), 1u);
    EXPECT_EQ(log.Count("Failed to determine max safe full stripe size\n"), 1u);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 8 * 1024), kFalse);
}

TEST_F(RaidGeometryHost, DrivesOfTheLiveArray) {
    ASSERT_NO_FATAL_FAILURE(Start(false));
    VK_QWORD blocks = 0;
    EXPECT_EQ(_VK_GetArraySmallestPhysicalDrive(cda(), 0, &blocks), 4) << "the spare counts";
    EXPECT_EQ(blocks, 1100000u - 1004);
    EXPECT_EQ(__VK_GetArrayPhysicalDriveBySize(cda(), 0, &blocks, VK_EnumerateArrayDataDrives, kFalse), 3);
    EXPECT_EQ(blocks, 1200000u - 1003);
    EXPECT_EQ(__VK_GetArrayPhysicalDriveBySize(cda(), 0, &blocks, VK_EnumerateArrayPhysicalDrives, kTrue), 0);
    EXPECT_EQ(blocks, 2000000u - 1000);
    EXPECT_EQ(_VK_GetArraySmallestPhysicalDrive(cda(), 1, &blocks), 0xFFFF);
    EXPECT_EQ(blocks, 0u);
    // The second logical drive ends last.
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 0), 409600u + 300000);
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 1), 0u);

    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 5), 8u);
    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 6), 1u);
    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 0), 1u);

    EDITABLE_ARRAY nvme{};
    nvme.data_drive_count = 2;
    nvme.data_drives[0] = 8;
    nvme.data_drives[1] = 9;
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &nvme), kTrue);
    nvme.data_drives[1] = 10;
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &nvme), kFalse);
}

} // namespace
