// The simulated controller's answers to the immediate operations on live arrays: clearing one
// drive's configuration metadata leaves its logical drives alone.
#include <cstdint>

#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;

Command ClearConfiguration(std::uint32_t action, std::uint32_t drive) {
    Bytes data(512, 0);
    for (int i = 0; i < 4; ++i) {
        data[i] = std::uint8_t(action >> (8 * i));
        data[4 + i] = std::uint8_t(drive >> (8 * i));
    }
    BmicCdb b;
    b.write = true;
    b.opcode = 0x6E;
    b.length = std::uint16_t(data.size());
    Command c;
    c.transport = "test";
    c.cdb = b.to_cdb();
    c.direction = qvsim::Direction::kOut;
    c.data_out = data;
    return c;
}

FirmwareState TwoArraysWithMarks() {
    FirmwareState s;
    for (std::uint16_t pd = 0; pd < 4; ++pd)
        s.add_drive(pd, 2).misc_drive_flags = 0x8080; // boot connector and the metadata mark
    s.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    s.add_configured_drive(1, {2, 3}, 1u << 20).fault_tolerance = 2;
    return s;
}

TEST(SimLiveArrays, MetadataClearTakesOnlyTheMarkOfTheNamedDrive) {
    FwController fw(TwoArraysWithMarks());
    const auto r = fw.execute(ClearConfiguration(0x2, 2));
    ASSERT_EQ(r.err, 0);
    ASSERT_EQ(r.scsi_status, 0);
    const FirmwareState& s = fw.fw_state();
    EXPECT_EQ(s.logical_drives.size(), 2u);
    EXPECT_EQ(s.find_drive(2)->misc_drive_flags, 0x8000u);
    EXPECT_EQ(s.find_drive(3)->misc_drive_flags, 0x8080u);
    EXPECT_EQ(s.find_drive(0)->misc_drive_flags, 0x8080u);
}

TEST(SimLiveArrays, MetadataClearOfAnUnknownDriveIsRefusedAndDeletionStaysWithBitOne) {
    FwController fw(TwoArraysWithMarks());
    EXPECT_EQ(fw.execute(ClearConfiguration(0x2, 9)).scsi_status, 0x02);
    EXPECT_EQ(fw.execute(ClearConfiguration(0x2, 0xFFFFFFFF)).scsi_status, 0x02);
    EXPECT_EQ(fw.fw_state().logical_drives.size(), 2u);
    // Bit 1 (with or without bit 2) removes the logical drives using the drive, as before.
    EXPECT_EQ(fw.execute(ClearConfiguration(0x3, 0)).scsi_status, 0);
    ASSERT_EQ(fw.fw_state().logical_drives.size(), 1u);
    EXPECT_EQ(fw.fw_state().logical_drives[0].number, 1);
}

TEST(SimLiveArrays, ClearConfigurationActsByActionBit) {
    const struct {
        const char* name;
        std::uint32_t action, drive;
        bool taken;
        std::size_t logical_drives_left;
        unsigned nvram_clears;
        std::uint32_t drive2_flags;
    } cases[] = {
        {"NVRAM clear", 0x4, 0xFFFFFFFF, true, 2, 1, 0x8080},
        {"metadata and NVRAM", 0x6, 2, true, 2, 1, 0x8000},
        {"logical drives of drive 2 and its metadata", 0x3, 2, true, 1, 0, 0x8000},
        {"everything", 0x5, 0xFFFFFFFF, true, 0, 1, 0x8080},
        {"metadata of an unknown drive, with NVRAM", 0x6, 9, false, 2, 0, 0x8080},
        {"no action bit: removal, as ever", 0x0, 2, true, 1, 0, 0x8080},
        {"an unknown action bit alone: removal", 0x8, 0xFFFFFFFF, true, 0, 0, 0x8080},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FwController fw(TwoArraysWithMarks());
        const auto r = fw.execute(ClearConfiguration(c.action, c.drive));
        EXPECT_EQ(r.scsi_status == 0, c.taken);
        const FirmwareState& s = fw.fw_state();
        EXPECT_EQ(s.logical_drives.size(), c.logical_drives_left);
        EXPECT_EQ(s.updates.nvram_clears, c.nvram_clears);
        EXPECT_EQ(s.find_drive(2)->misc_drive_flags, c.drive2_flags);
        EXPECT_EQ(s.find_drive(3)->misc_drive_flags, 0x8080u);
    }
}

} // namespace
