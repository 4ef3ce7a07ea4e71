// Physical devices of a simulated controller inventory: the walks and counts, identity, link rates,
// locations and connector speeds as the controller describes them, what each walk sends, and the
// live temperature read with its own failure.
#include <map>
#include <string>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::FirmwareState;
using Words = std::vector<VK_WORD>;

class PhysicalDevicesHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    // 0x15 reads per device since the last clear.
    std::map<unsigned, int> IdentifyReads() {
        std::map<unsigned, int> out;
        for (const auto& cdb : SentCdbs()) {
            if (auto b = BmicCdb::parse(cdb); b && !b->write && b->opcode == 0x15) {
                ++out[(b->detail >> 24) | (b->lun() & 0xFF00u)];
            }
        }
        return out;
    }

    std::string Location(VK_WORD n) {
        char buffer[32];
        return VK_GetPhysicalDriveLocation(cda(), n, kPhysicalDriveLocationComplete, buffer, sizeof(buffer));
    }
};

// Drives on two connectors, one of each non-disk kind.
FirmwareState MixedInventory() {
    FirmwareState st;
    st.subsystem.connectors = {{.phy_map = 0x0F, .short_name = "1I", .long_name = "1I", .number = 0},
                               {.phy_map = 0xF0, .short_name = "2I", .long_name = "2I", .number = 1}};
    auto& sas = st.add_drive(0, 2);
    sas.phys = {{.max_rate = 0x0B, .physical_rate = 0x0A, .logical_rate = 0x0B, .connected_type = 7},
                {.max_rate = 0x0B, .physical_rate = 0x0A, .logical_rate = 0x0B, .connected_type = 7},
                {.max_rate = 0x0B, .physical_rate = 0x0B, .logical_rate = 0x0B, .connected_type = 5}};
    sas.bay = 3;
    sas.rpm = 7250;
    sas.long_box_connector_name = "1I";
    sas.paths = {{"1I", 1, "1I"}};
    auto& nvme = st.add_drive(1, 9);
    nvme.phys = {{.max_rate = 0x0B, .physical_rate = 0x0B, .logical_rate = 0x0A, .connected_type = 7}};
    nvme.bay = 4;
    nvme.long_box_connector_name = "1I";
    nvme.paths = {{"1I", 1, "1I"}};
    auto& other = st.add_drive(2, 1);
    other.port = "2I";
    other.box = 0xFF;
    other.bay = 0xFF;
    other.long_box_connector_name = "2I";
    other.paths = {{"2I", 0xFF, "2I"}};
    auto& sep = st.add_drive(64, 6);
    sep.bay = 0xFF;
    sep.long_box_connector_name = "1I";
    sep.paths = {{"1I", 1, "1I"}};
    st.add_drive(65, 5);
    st.add_drive(66, 7);
    st.add_drive(67, 8);
    st.add_drive(68, 0xFF);
    return st;
}

TEST_F(PhysicalDevicesHost, InventoryWalksTypesAndCounts) {
    ASSERT_NO_FATAL_FAILURE(Start(MixedInventory()));
    Words drives, devices, all;
    VK_WORD n;
    FOREACH_PHYSICAL_DRIVE(cda(), n) { drives.push_back(n); }
    FOREACH_PHYSICAL_DEVICE(cda(), n) { devices.push_back(n); }
    FOREACH_ALL_PHYSICAL_DEVICE(cda(), n) { all.push_back(n); }
    EXPECT_EQ(drives, (Words{0, 1, 2}));
    EXPECT_EQ(devices, (Words{64, 65, 66, 67, 68}));
    EXPECT_EQ(all, (Words{0, 1, 2, 64, 65, 66, 67, 68}));
    const std::map<VK_WORD, VK_BYTE> types = {{0, 0x00}, {1, 0x00}, {2, 0x00}, {64, 0x02}, {65, 0x01},
                                              {66, 0x03}, {67, 0x04}, {68, 0x05}, {69, 0xFF}, {384, 0xFF}};
    for (const auto& [device, type] : types) {
        EXPECT_EQ(VK_PhysicalDeviceType(cda(), device), type) << device;
    }
    EXPECT_EQ(VK_GetControllerTotalPhysicalDriveCount(cda()), 3);
    EXPECT_EQ(VK_GetControllerUnassignedPhysicalDriveCount(cda()), 3);
    EXPECT_EQ(VK_GetControllerPhysicalDeviceCount(cda()), 8);
    EXPECT_EQ(VK_GetControllerLogicalDriveCounts(cda()), 0u);
    EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 0);
}

TEST_F(PhysicalDevicesHost, IdentityLinkRatesAndLocations) {
    ASSERT_NO_FATAL_FAILURE(Start(MixedInventory()));
    char text[64];
    EXPECT_STREQ(VK_GetPhysicalDriveModel(cda(), 0, text, 49), "QVSIM   QD300 SIM");
    EXPECT_STREQ(VK_GetPhysicalDriveVendorID(cda(), 0, text, 9), "QVSIM");
    EXPECT_STREQ(VK_GetPhysicalDriveProductID(cda(), 0, text, 41), "QD300 SIM");
    EXPECT_STREQ(VK_GetPhysicalDriveSerialNumber(cda(), 0, text, 41), "QVSD0");
    EXPECT_STREQ(VK_GetPhysicalDriveFirmwareVersion(cda(), 0, text, 9), "Q100");
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 1, text, 41, kTrue), "5000C50000000001");
    EXPECT_STREQ(VK_GetPhysicalDriveUniqueVolumeID(cda(), 1, text, 33), "600D1A0000000001");
    EXPECT_EQ(VK_GetPhysicalDriveRotationalSpeed(cda(), 0), 7300u);
    EXPECT_EQ(VK_GetPhysicalDriveBasicInfo(cda(), 1) & kPhysicalDriveTypeMask,
              VK_DWORD{kPhysicalDriveTypeNVMe | kPhysicalDriveTypeSSD});
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 0, kAnyPhyNumber), 0x100B0B0Au);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, kAnyPhyNumber), 0x200B0A0Bu);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 0, 3), 0x10000000u);
    EXPECT_EQ(Location(0), "1I:1:3");
    EXPECT_EQ(Location(2), "2I:Unknown:Unknown");
    EXPECT_EQ(Location(64), "1I:1");
    EXPECT_EQ(VK_GetConnectorIndexOfPhysicalDrive(cda(), 2), 1);
}

TEST_F(PhysicalDevicesHost, AggregateSpeedSumsDirectAttachedPhys) {
    ASSERT_NO_FATAL_FAILURE(Start(MixedInventory()));
    // Drive 0: two PHYs to the controller (SAS 12G logical, 6G physical); the third leads to an
    // expander. Drive 1: NVMe, 6G-code logical, 12G-code physical. The SEP's one PHY (12G) leads to
    // the controller too.
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 0, kConnectorAggregateSpeedNegotiatedLogical),
              VK_DWORD{(120 + 120 + 80 + 120)} << 16 | 1);
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 0, kConnectorAggregateSpeedNegotiatedPhysical),
              VK_DWORD{(60 + 60 + 160 + 120)} << 16 | 1);
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 0, kConnectorAggregateSpeedMax), VK_DWORD{480} << 16 | 1);
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 1, kConnectorAggregateSpeedNegotiatedLogical),
              VK_DWORD{120} << 16 | 1);
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 2, kConnectorAggregateSpeedNegotiatedLogical), 0u);
    host().clear_requests();
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 0, 3), 0u);
    EXPECT_TRUE(SentCdbs().empty());
}

TEST_F(PhysicalDevicesHost, WalkReadsEachDriveOnceAndLiveTemperatureOnceMore) {
    FirmwareState st;
    st.generate({.drives = 12, .connectors = 2, .enclosures = 1, .logical_drives = 2, .arrays = 1});
    for (auto& d : st.drives) {
        d.live_temperature = 44;
        d.live_temperature_max = 50;
    }
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    std::map<unsigned, int> expected;
    VK_WORD n;
    char text[64];
    FOREACH_PHYSICAL_DRIVE(cda(), n) {
        expected[n] = 1;
        VK_PhysicalDeviceType(cda(), n);
        VK_GetPhysicalDriveModel(cda(), n, text, sizeof(text));
        VK_GetPhysicalDriveSerialNumber(cda(), n, text, sizeof(text));
        VK_GetPhysicalDriveWWID(cda(), n, text, sizeof(text), kTrue);
        VK_GetPhysicalDriveSize(cda(), n, kPhysicalDriveSizeTotalBytes);
        VK_GetPhysicalDriveUsageInfo(cda(), n);
        VK_GetPhysicalDevicePhyLinkRate(cda(), n, kAnyPhyNumber);
        VK_GetPhysicalDriveLocation(cda(), n, kPhysicalDriveLocationComplete, text, sizeof(text));
        EXPECT_EQ(VK_GetPhysicalDriveCurrentTemperature(cda(), n), 30);
    }
    ASSERT_EQ(expected.size(), 12u);
    // Every device once, the enclosure's SEP included (the array model reads it).
    const std::map<unsigned, int> reads = IdentifyReads();
    for (const auto& [device, count] : reads) {
        EXPECT_EQ(count, 1) << device;
    }
    for (const auto& [device, count] : expected) {
        EXPECT_TRUE(reads.contains(device)) << device;
    }
    host().clear_requests();
    FOREACH_PHYSICAL_DRIVE(cda(), n) {
        EXPECT_EQ(VK_GetPhysicalDriveTemperatureInfo(cda(), n), 50 << 8 | 44);
        EXPECT_EQ(VK_GetPhysicalDriveCurrentTemperature(cda(), n), 30); // the cache is left alone
    }
    EXPECT_EQ(IdentifyReads(), expected);
}

TEST_F(PhysicalDevicesHost, LiveTemperatureFailsOnItsOwn) {
    FirmwareState st;
    st.add_drive(5, 2).temperature = 33;
    st.fail_live_identify(5);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetPhysicalDriveCurrentTemperature(cda(), 5), 33);
    EXPECT_EQ(VK_GetPhysicalDriveTemperatureInfo(cda(), 5), 0);
    EXPECT_EQ(VK_GetPhysicalDriveMaximumTemperature(cda(), 5), 41);
    EXPECT_EQ(VK_GetPhysicalDriveTemperatureInfo(cda(), 384), 0);
}

TEST_F(PhysicalDevicesHost, OutOfRangePhyCountsAndActivePaths) {
    FirmwareState st;
    auto& wide = st.add_drive(0, 2);
    wide.phy_count = 300;
    wide.phys.assign(256, {.max_rate = 0x0A, .physical_rate = 0x0A, .logical_rate = 0x0A, .connected_type = 7});
    auto& nine = st.add_drive(1, 2);
    nine.active_path = 9;
    nine.active_path_map = 0x02;
    nine.bay = 7;
    auto& forty = st.add_drive(2, 2);
    forty.active_path = 40;
    forty.active_path_map = 0x01;
    forty.path_failure_map = 0x04;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetPhysicalDevicePHYCount(cda(), 0), 300);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 0, kAnyPhyNumber), 0x100A0A0Au);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 0, 255), 0x100A0A0Au);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 0, 256), 0x10000000u);
    EXPECT_EQ(_VK_GetPhysicalDevicePhyConnectedDeviceType(cda(), 0, 299), 0xFF);
    EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 1, kActivePathMap), 0x02);
    EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 2, kActivePathMap), 0x01);
    EXPECT_EQ(VK_GetPhysicalDevicePathInfo(cda(), 2), 0x0401);
    EXPECT_EQ(Location(1), "1I:1:7");
}

TEST_F(PhysicalDevicesHost, LunListOfAMultiLunDrive) {
    FirmwareState st;
    auto& d = st.add_drive(3, 2);
    d.total_blocks = 1000;
    d.lun_count = 4;
    d.luns = {{.valid = true, .total_blocks = 2000, .wwid = {0x51}, .unique_id = {0x61}},
              {.valid = false, .total_blocks = 3000},
              {.valid = true, .total_blocks = 4000, .wwid = {0x53}, .unique_id = {0x63}}};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    PHYSICAL_DRIVE_LUN_INFO_LIST* list = nullptr;
    ASSERT_EQ(VK_GetPhysicalDriveLunInfo(cda(), 3, &list), kGetPhysicalDriveLunInfoSuccess);
    EXPECT_EQ(list->count, 3);
    EXPECT_EQ(list->lun_info[0].total_size_in_blocks, 1000u);
    EXPECT_EQ(list->lun_info[1].total_size_in_bytes, 2000u * 512);
    EXPECT_STREQ(list->lun_info[1].wwid_str, "5100000000000000");
    EXPECT_STREQ(list->lun_info[3].unique_volume_id, "6300000000000000");
    EXPECT_EQ(list->lun_info[2].lun_number, 0);
    EXPECT_EQ(list->lun_info[2].total_size_in_blocks, 0u);
    VK_free(list);
    EXPECT_EQ(VK_GetPhysicalDriveSize(cda(), 3, kPhysicalDriveSizeTotalBlocks), 7000u);
}

} // namespace
