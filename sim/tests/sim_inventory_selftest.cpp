// Self-tests of the simulated controller's inventory: the per-device replies (identify physical
// drive, logical-drive configuration, identify and status, LU cache, bus parameters) at the
// controller's offsets, IDENTIFY CONTROLLER and REPORT LUNS agreeing with it, the generator, the
// JSON form and the per-device faults.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "fw_selftest_commands.h"
#include "selftest_util.h"

namespace {

using selftest::le;
using selftest::text;

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;

using selftest::bmic_read;

// The drive identify as the library asks for it: detail (pd & 0xFF) << 24, LUN (pd & 0xFF00) | lun.
Command identify_drive(std::uint16_t pd, std::uint8_t lun = 0) {
    return bmic_read(0x15, 3072, std::uint32_t(pd & 0xFF) << 24, std::uint16_t((pd & 0xFF00) | lun));
}

Command lu_cache(std::uint8_t sub, std::uint16_t ld, std::uint16_t length) {
    return bmic_read(0xC1, length, (std::uint32_t(sub) << 16) | ld, 1);
}

Command report_physical(std::uint32_t allocation) {
    return selftest::report_luns(0xC3, allocation);
}

struct Field {
    std::size_t offset, width;
    std::uint64_t value;
};

void expect_fields(const Bytes& b, std::initializer_list<Field> fields) {
    for (const auto& f : fields)
        EXPECT_EQ(le(b, f.offset, f.width), f.value) << "offset " << f.offset;
}

bool bit(const Bytes& b, std::size_t map_at, unsigned device) {
    return (b.at(map_at + device / 8) >> (device % 8)) & 1;
}

bool illegal_request(const Reply& r) {
    return r.err == 0 && r.scsi_status == 2 && r.sense.size() > 13 && (r.sense[2] & 0x0F) == 5 &&
           r.sense[12] == 0x24;
}

// A drive whose fields all differ from the defaults, at a number above 255 so the LUN's high byte
// carries part of it.
FirmwareState drive_state() {
    FirmwareState s;
    auto& d = s.add_drive(0x105, 9);
    d.block_size = 4096;
    d.total_blocks = 0x1'2345'6789ull; // over 32 bits
    d.reserved_blocks = 0x11223344;
    d.vendor = "ACME";
    d.model = "NV-TEST-7";
    d.serial = "SN-0105";
    d.firmware = "FW12";
    d.min_firmware = "FW10";
    d.device_flags = 0x01;
    d.more_device_flags = 0x10;
    d.yet_more_device_flags = 0x21;
    d.even_more_device_flags = 0x42;
    d.extra_device_flags = 0x0420;
    d.misc_drive_flags = 0x8000 | 0x1000;
    d.feature_flags = 0x80000;
    d.unsupported_reason = 0x0203;
    d.port = "2E";
    d.box = 3;
    d.bay = 17;
    d.box_index = 2;
    d.rpm = 1;
    d.wwid = std::array<std::uint8_t, 20>{0x35, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    d.unique_id = std::array<std::uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    d.temperature = 37;
    d.temperature_threshold = 70;
    d.temperature_max = 52;
    d.blocks_per_physical_shift = 3;
    d.lun_count = 1;
    d.pci_vendor = 0x144D;
    d.pci_subsystem_vendor = 0x1D7B;
    d.phys = {{0x0B, 0x0A, 0x09, 7}, {0x0C, 0x0B, 0x0B, 5}};
    d.controller_phys = {4, 200};
    d.connector_info = {1, 0xFF, 3, 0xFF};
    d.connector_mode = 2;
    d.paths = {{"2E", 3, "Bay-A"}, {"3E", 4, "Bay-B"}};
    d.path_present_map = 0x03;
    d.path_failure_map = 0x02;
    d.active_path = 1;
    d.active_path_map = 0x02;
    d.connector_map = 0x01;
    d.long_box_connector_name = "Box-C3";
    d.power_on_hours = 0x1234;
    d.sanitize_policy = 0x05;
    return s;
}

TEST(SimInventory, IdentifyPhysicalDrivePutsEachFieldAtItsOffset) {
    FwController fw(drive_state());
    const Reply r = fw.execute(identify_drive(0x105));
    ASSERT_EQ(r.scsi_status, 0);
    const Bytes& b = r.data_in;
    ASSERT_EQ(b.size(), 3072u);
    const struct {
        std::size_t offset, width;
        std::uint64_t value;
    } numbers[] = {
        {2, 2, 4096},          {4, 4, 0xFFFFFFFF}, {8, 4, 0x11223344}, {103, 1, 0x01},
        {104, 1, 0x10},        {106, 1, 0x21},     {107, 1, 0x42},     {114, 1, 3},
        {115, 1, 17},          {116, 4, 1},        {120, 1, 9},        {122, 8, 0x123456789},
        {194, 2, 2},           {196, 1, 7},        {197, 1, 5},        {1220, 1, 2},
        {1222, 2, 0x0420},     {1224, 1, 0x09},    {1225, 1, 0x0B},    {1736, 1, 0x03},
        {1737, 1, 0x02},       {1738, 1, 1},       {1755, 1, 3},       {1756, 1, 4},
        {1763, 1, 1},          {1792, 1, 37},      {1793, 1, 70},      {1794, 1, 52},
        {1795, 1, 3},          {1858, 2, 0x1234},  {1932, 4, 0x9000},  {1946, 1, 2},
        {1947, 4, 0xFF03FF01}, {2031, 1, 0x0B},    {2032, 1, 0x0C},    {2287, 1, 0x0A},
        {2288, 1, 0x0B},       {2551, 1, 0x02},    {2552, 1, 0x05},    {2553, 1, 0x01},
        {2554, 4, 0x80000},    {2558, 2, 0x0203},  {2610, 2, 0x144D},  {2612, 2, 0x1D7B},
    };
    for (const auto& n : numbers)
        EXPECT_EQ(le(b, n.offset, n.width), n.value) << "offset " << n.offset;
    EXPECT_EQ(text(b, 12, 40), "ACME NV-TEST-7" + std::string(26, ' '));
    EXPECT_EQ(text(b, 52, 7), "SN-0105");
    EXPECT_EQ(text(b, 92, 8), "FW12    ");
    EXPECT_EQ(text(b, 112, 2), "2E");
    EXPECT_EQ(text(b, 1739, 4), "2E3E");
    EXPECT_EQ(text(b, 1764, 8), "FW10    ");
    EXPECT_EQ(text(b, 1951, 16), std::string("Bay-A\0\0\0Bay-B\0\0\0", 16));
    EXPECT_EQ(text(b, 2543, 8), std::string("Box-C3\0\0", 8));
    EXPECT_EQ(text(b, 2560, 48), "ACME    NV-TEST-7" + std::string(31, ' '));
    expect_fields(
        b,
        {{142, 8, 0x6655443322110035ull}, {150, 8, 0x77u}, {158, 4, 0u}, {2015, 8, 0x0807060504030201ull}});
    EXPECT_TRUE(bit(b, 162, 4));
    EXPECT_TRUE(bit(b, 162, 200));
    EXPECT_EQ(le(b, 162, 4), 0x10u);
    EXPECT_EQ(le(b, 187, 1), 0x01u); // PHY 200
}

// Defaults follow the device's kind: a SEP reports no media, a drive a size and a WWID of its own.
TEST(SimInventory, DefaultsFollowTheDeviceKindAndNumber) {
    FirmwareState s;
    s.add_drive(7, 2);
    s.add_drive(300, 6);
    FwController fw(s);
    const Bytes drive = fw.execute(identify_drive(7)).data_in;
    const Bytes sep = fw.execute(identify_drive(300)).data_in;
    EXPECT_EQ(le(drive, 2, 2), 512u);
    EXPECT_EQ(le(drive, 103, 1), 0x01u);
    EXPECT_NE(le(drive, 116, 4), 0u);
    EXPECT_EQ(le(drive, 142, 8), 0x0700000000C50050ull);
    EXPECT_EQ(le(sep, 2, 2), 0u);
    EXPECT_EQ(le(sep, 116, 4), 0u);
    EXPECT_EQ(le(sep, 103, 1), 0x03u); // non-disk
    EXPECT_EQ(le(sep, 120, 1), 6u);
    EXPECT_TRUE(illegal_request(fw.execute(identify_drive(8)))); // nothing at 8
}

TEST(SimInventory, PhyCountAboveTheTablesAndActivePathsAboveEightAreReportedAsSet) {
    FirmwareState s = drive_state();
    auto& d = *s.find_drive(0x105);
    d.phy_count = 300;
    d.phys.assign(300, {0x0B, 0x0B, 0x0B, 7});
    d.active_path = 40;
    FwController fw(s);
    Bytes b = fw.execute(identify_drive(0x105)).data_in;
    ASSERT_EQ(b.size(), 3072u);
    EXPECT_EQ(le(b, 194, 2), 300u);
    EXPECT_EQ(le(b, 196 + 255, 1), 7u);
    EXPECT_EQ(le(b, 196 + 256, 4), 0u); // the table stops at 256: nothing beyond it
    EXPECT_EQ(le(b, 1738, 1), 40u);
    fw.fw_state().find_drive(0x105)->phy_count = 0xFFFF;
    b = fw.execute(identify_drive(0x105)).data_in;
    EXPECT_EQ(le(b, 194, 2), 0xFFFFu);
}

TEST(SimInventory, ExtraLunsAnswerWithTheirOwnSizesAndAnInvalidLunIsRefused) {
    FirmwareState s;
    auto& d = s.add_drive(2, 2);
    d.lun_count = 4;
    d.luns = {{.total_blocks = 1000, .reserved_blocks = 10, .wwid = {0x51}, .unique_id = {0x61}},
              {.valid = false},
              {.total_blocks = 3000, .reserved_blocks = 30, .wwid = {0x53}, .unique_id = {0x63}}};
    FwController fw(s);
    const Bytes l0 = fw.execute(identify_drive(2, 0)).data_in;
    const Bytes l1 = fw.execute(identify_drive(2, 1)).data_in;
    EXPECT_EQ(le(l0, 1763, 1), 4u);
    EXPECT_EQ(le(l1, 4, 4), 1000u);
    EXPECT_EQ(le(l1, 122, 8), 1000u);
    EXPECT_EQ(le(l1, 8, 4), 10u);
    EXPECT_EQ(le(l1, 142, 1), 0x51u);
    EXPECT_EQ(le(l1, 2015, 1), 0x61u);
    EXPECT_TRUE(illegal_request(fw.execute(identify_drive(2, 2))));
    EXPECT_EQ(le(fw.execute(identify_drive(2, 3)).data_in, 4, 4), 3000u);
    EXPECT_TRUE(illegal_request(fw.execute(identify_drive(2, 4))));
    // A count of 5 is reported as it is, whatever LUNs are described.
    fw.fw_state().find_drive(2)->lun_count = 5;
    EXPECT_EQ(le(fw.execute(identify_drive(2, 0)).data_in, 1763, 1), 5u);
}

// The cached read and the live temperature read are the same command: the live ones are those
// after the first, and can carry other temperatures or fail on their own.
TEST(SimInventory, LiveIdentifyReadsHaveTheirOwnTemperaturesAndFaults) {
    FirmwareState s;
    auto& d = s.add_drive(5, 2);
    d.temperature = 30;
    d.temperature_max = 40;
    d.live_temperature = 33;
    d.live_temperature_max = 44;
    s.add_drive(6, 2);
    s.fail_live_identify(6, EIO);
    FwController fw(s);
    const Bytes cached = fw.execute(identify_drive(5)).data_in;
    EXPECT_EQ(le(cached, 1792, 1), 30u);
    EXPECT_EQ(le(cached, 1794, 1), 40u);
    const Bytes live = fw.execute(identify_drive(5)).data_in;
    EXPECT_EQ(le(live, 1792, 1), 33u);
    EXPECT_EQ(le(live, 1794, 1), 44u);
    EXPECT_EQ(fw.execute(identify_drive(6)).err, 0);
    EXPECT_EQ(fw.execute(identify_drive(6)).err, EIO);
    EXPECT_EQ(fw.execute(identify_drive(6)).err, EIO);
    EXPECT_EQ(fw.execute(identify_drive(5)).err, 0);
}

TEST(SimInventory, DeviceFaultsHitOnlyTheirDevice) {
    FirmwareState s;
    for (std::uint16_t n : {1, 2, 0x101})
        s.add_drive(n);
    s.fail_device(0x15, 0x101, 1, 0);
    s.add_configured_drive(0, {1, 2}, 1000);
    s.add_configured_drive(1, {1, 2}, 1000, 1000);
    s.fail_device(0x12, 1, 1, 1, EIO);
    FwController fw(s);
    EXPECT_EQ(fw.execute(identify_drive(1)).scsi_status, 0);
    EXPECT_TRUE(illegal_request(fw.execute(identify_drive(0x101))));
    EXPECT_EQ(fw.execute(identify_drive(2)).scsi_status, 0);
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 0)).err, 0);
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 1)).err, EIO);
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 1)).err, 0);
}

FirmwareState two_logical_drives() {
    FirmwareState s;
    for (std::uint16_t n = 0; n < 6; ++n)
        s.add_drive(n);
    auto& a = s.add_configured_drive(0, {0, 1, 2, 3}, 0x1'0000'0000ull, 0x1'2000'0000ull);
    a.spares = {4, 130};
    a.fault_tolerance = 3;
    a.strip = 128;
    a.block_size = 4096;
    a.signature = 0xAABBCCDD;
    a.other_signature = 0x11223344;
    a.backup_timestamp = 77;
    a.property = 0x03;
    a.bios_disable_flag = 0x02;
    a.more_unit_flags = 0x01;
    a.lu_cache_bits = 0x02;
    a.lu_cache_other = 1;
    a.original_members = std::vector<std::uint16_t>{0, 1, 2, 5};
    a.label = "data volume";
    auto& c = s.add_configured_drive(1, {3}, 5000);
    c.property = 0x05;
    c.lu_cache_bits = 0x01;
    c.lu_cache_other = 0;
    c.lu_cache_state_stats = 0x10;
    c.lu_cache_counters = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    c.lu_write_policy_reason = 4;
    return s;
}

TEST(SimInventory, ConfigurationCarriesTheLogicalDriveAndItsMapsAtTheirOffsets) {
    FwController fw(two_logical_drives());
    const Bytes b = fw.execute(bmic_read(0x50, 652, 0, 0)).data_in;
    ASSERT_EQ(b.size(), 652u);
    expect_fields(b, {{0, 4, 0xAABBCCDDu},
                      {10, 2, 4u},
                      {12, 2, 3u},
                      {14, 2, 1u},
                      {16, 8, 3 * 0x1'0000'0000ull},
                      {24, 2, 4096u},
                      {26, 1, 0x01u},
                      {46, 4, 0x0Fu},
                      {50, 2, 128u},
                      {52, 4, 0x10u},
                      {57, 1, 0x02u},
                      {58, 4, 0x11223344u},
                      {66, 4, 0xFFFFFFFFu},
                      {73, 1, 0x02u},
                      {74, 4, 0xFFFFFFFFu},
                      {78, 4, 0xFFFFFFFFu},
                      {87, 1, 0x03u},
                      {89, 4, 77u},
                      {98, 1, 0x0Fu}});
    EXPECT_TRUE(bit(b, 114, 4));
    expect_fields(b, {{130, 1, 0u},
                      {234, 8, 0x1'2000'0000ull},
                      {242, 8, 0x1'0000'0000ull},
                      {250, 2, 300u},
                      {252, 2, 348u},
                      {256, 4, 652u},
                      {260, 2, 384u},
                      {268, 1, 0x02u},
                      {271, 2, 1u},
                      {300, 1, 0x0Fu}});
    EXPECT_TRUE(bit(b, 348, 4));
    EXPECT_TRUE(bit(b, 348, 130));
    // The parameter table's checksum makes its 16 bytes sum to zero.
    unsigned sum = 0;
    for (std::size_t k = 30; k < 46; ++k)
        sum += b[k];
    EXPECT_EQ(sum % 256, 0u);

    const Bytes original = fw.execute(bmic_read(0x55, 652, 0, 0)).data_in;
    EXPECT_EQ(le(original, 300, 1), 0x27u);
    EXPECT_TRUE(illegal_request(fw.execute(bmic_read(0x55, 652, 0, 1)))); // no transformation
    // A number not described reads with no assigned drives; one past the maximum is refused.
    const Bytes none = fw.execute(bmic_read(0x50, 652, 0, 7)).data_in;
    ASSERT_EQ(none.size(), 652u);
    EXPECT_EQ(le(none, 10, 2), 0u);
    EXPECT_EQ(le(none, 256, 4), 652u);
    EXPECT_TRUE(illegal_request(fw.execute(bmic_read(0x50, 652, 0, 64))));
}

TEST(SimInventory, MapOffsetsMayPointOutsideTheReply) {
    FirmwareState s = two_logical_drives();
    auto& l = *s.find_configured_drive(0);
    l.member_map_offset = 640; // the map runs past 652
    l.spare_map_offset = 0xFFFF;
    l.failure_map_offset = 3260;
    l.failed = {0, 100};
    FwController fw(s);
    const Bytes c = fw.execute(bmic_read(0x50, 652, 0, 0)).data_in;
    ASSERT_EQ(c.size(), 652u);
    EXPECT_EQ(le(c, 250, 2), 640u);
    EXPECT_EQ(le(c, 252, 2), 0xFFFFu);
    EXPECT_EQ(le(c, 640, 1), 0x0Fu);
    const Bytes st = fw.execute(bmic_read(0x12, 3265, 0, 0)).data_in;
    ASSERT_EQ(st.size(), 3265u);
    EXPECT_EQ(le(st, 1004, 2), 3260u);
    EXPECT_TRUE(bit(st, 3260, 0));
}

TEST(SimInventory, StatusCarriesItsFieldsMapsAndRebuildTable) {
    FirmwareState s = two_logical_drives();
    auto& l = *s.find_configured_drive(0);
    l.unit_status = 3;
    l.missing_drives = 2;
    l.failed = {1, 300};
    l.replacements = {4};
    l.active_spares = {130};
    l.rebuild_percent = {{4, 57}};
    l.blocks_left = 0x1'0000'0001ull;
    l.encryption_flags = 0x05;
    l.additional_encryption_flags = 0x30;
    l.managed_sed_flags = 0x02;
    FwController fw(s);
    const Bytes b = fw.execute(bmic_read(0x12, 3265, 0, 0)).data_in;
    ASSERT_EQ(b.size(), 3265u);
    expect_fields(b,
                  {{0, 1, 3u}, {5, 2, 2u}, {421, 4, 0xFFFFFFFFu}, {988, 8, 0x1'0000'0001ull}, {1002, 2, 4u}});
    EXPECT_TRUE(bit(b, 811, 4));
    expect_fields(b, {{1018, 2, 384u},
                      {1020, 4, 3265u},
                      {1026, 1, 0x05u},
                      {1044, 4, 1060u},
                      {1051, 1, 0x30u},
                      {1056, 1, 0x02u}});
    const std::size_t failure = le(b, 1004, 2), replacement = le(b, 1006, 2), spare = le(b, 1008, 2),
                      rebuild = le(b, 1016, 2);
    EXPECT_EQ(failure, 1060u);
    EXPECT_EQ(replacement, 1108u);
    EXPECT_EQ(spare, 1156u);
    EXPECT_EQ(rebuild, 1204u);
    EXPECT_TRUE(bit(b, failure, 1));
    EXPECT_TRUE(bit(b, failure, 300));
    EXPECT_TRUE(bit(b, replacement, 4));
    EXPECT_TRUE(bit(b, spare, 130));
    EXPECT_EQ(le(b, rebuild + 4, 1), 57u);
    EXPECT_TRUE(illegal_request(fw.execute(bmic_read(0x12, 3265, 0, 9))));
}

// Read-twice faults: a total above the first buffer, above 16 bits, or growing between the reads.
TEST(SimInventory, StatusTotalsFollowTheirSequence) {
    FirmwareState s = two_logical_drives();
    s.find_configured_drive(0)->status_totals = {4000, 5000};
    s.find_configured_drive(1)->status_totals = {70000};
    FwController fw(s);
    Bytes b = fw.execute(bmic_read(0x12, 3265, 0, 0)).data_in;
    ASSERT_EQ(b.size(), 3265u);
    EXPECT_EQ(le(b, 1020, 4), 4000u);
    b = fw.execute(bmic_read(0x12, 4000, 0, 0)).data_in;
    ASSERT_EQ(b.size(), 4000u);
    EXPECT_EQ(le(b, 1020, 4), 5000u);
    b = fw.execute(bmic_read(0x12, 8000, 0, 0)).data_in; // the sequence is used up
    EXPECT_EQ(b.size(), 3265u);
    EXPECT_EQ(le(b, 1020, 4), 3265u);
    b = fw.execute(bmic_read(0x12, 65535, 0, 1)).data_in;
    EXPECT_EQ(b.size(), 65535u);
    EXPECT_EQ(le(b, 1020, 4), 70000u);
}

TEST(SimInventory, IdentifyLogicalDriveAndLuCacheReplies) {
    FwController fw(two_logical_drives());
    const Bytes id = fw.execute(bmic_read(0x10, 118, 0, 0)).data_in;
    ASSERT_EQ(id.size(), 118u);
    EXPECT_EQ(le(id, 0, 2), 4096u);
    EXPECT_EQ(le(id, 6 + 2, 1), 255u); // heads
    EXPECT_EQ(le(id, 6 + 14, 1), 32u); // sectors per track
    EXPECT_EQ(le(id, 6, 2), 65535u);   // cylinders, capped
    EXPECT_EQ(text(id, 38, 12), std::string("data volume\0", 12));
    EXPECT_EQ(le(id, 102, 4), 0x001A0D60u);
    EXPECT_TRUE(illegal_request(fw.execute(bmic_read(0x10, 118, 0, 5))));

    const Bytes stats = fw.execute(lu_cache(1, 1, 112)).data_in;
    ASSERT_EQ(stats.size(), 112u);
    EXPECT_EQ(le(stats, 2, 1), 0x10u);
    const std::size_t at[12] = {8, 16, 24, 32, 40, 48, 56, 64, 76, 84, 92, 100};
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(le(stats, at[k], 8), k + 1) << at[k];
    const Bytes sense = fw.execute(lu_cache(0, 1, 512)).data_in;
    ASSERT_EQ(sense.size(), 512u);
    EXPECT_EQ(le(sense, 5, 2), 0u); // the cache drive names its data drive
    EXPECT_EQ(le(sense, 13, 1), 4u);
    EXPECT_EQ(le(fw.execute(lu_cache(0, 0, 512)).data_in, 5, 2), 0u);
    // Sub-command 3 is still the controller's RAM information; a drive without LU cache is refused.
    EXPECT_EQ(fw.execute(lu_cache(3, 0, 39)).data_in.size(), 39u);
    fw.fw_state().find_configured_drive(0)->lu_cache_bits = 0;
    fw.fw_state().find_configured_drive(0)->property = 0x01;
    EXPECT_TRUE(illegal_request(fw.execute(lu_cache(1, 0, 112))));
}

TEST(SimInventory, BusParametersAnswerEveryBoxAndFailAfterPartOfTheirData) {
    FirmwareState s;
    auto& e = s.add_enclosure(2);
    e.installed = {0, 1, 200};
    e.seps = {{300, 6}};
    e.expanders = {301, 302};
    e.bay_count = 12;
    e.expander_count = 2;
    e.paths = {{"1E", 2, "ExtPortA"}};
    e.path_present_map = 0x03;
    e.active_path = 1;
    e.connector_map = 0x02;
    auto& nothing = s.add_enclosure(3); // answers with nothing
    nothing.inquiry_valid = false;
    nothing.bay_count = 0;
    // The second read of box 2 fails after 300 bytes.
    auto& partial = s.fail_device(0x65, 2, 2, 1);
    partial.sense = qvsim::fixed_sense(4, 0x44, 0);
    partial.data_length = 300;
    FwController fw(s);
    const Bytes b = fw.execute(bmic_read(0x65, 1537, 2)).data_in;
    ASSERT_EQ(b.size(), 1537u);
    EXPECT_EQ(le(b, 0, 1), 0x0Du);
    EXPECT_EQ(text(b, 8, 8), "QVSIM   ");
    EXPECT_EQ(le(b, 36, 1), 1u);
    EXPECT_EQ(le(b, 105, 1), 3u);
    EXPECT_TRUE(bit(b, 216, 0));
    EXPECT_TRUE(bit(b, 216, 1));
    expect_fields(b, {{266, 1, 12u},
                      {267, 1, 2u},
                      {324, 1, 1u},
                      {325, 1, 6u},
                      {341, 2, 300u},
                      {373, 4, 301u | (302u << 16)},
                      {405, 2, 1352u},
                      {412, 4, 1537u},
                      {418, 2, 384u},
                      {423, 3, 0x010003u}});
    EXPECT_EQ(text(b, 426, 2), "1E");
    EXPECT_EQ(le(b, 442, 1), 2u);
    EXPECT_EQ(le(b, 482, 4), 1352u);
    EXPECT_EQ(text(b, 1210, 8), "ExtPortA");
    EXPECT_EQ(le(b, 1275, 1), 0x02u);
    EXPECT_TRUE(bit(b, 1352, 200));

    for (std::uint8_t box : {0, 3, 15}) {
        const Bytes empty = fw.execute(bmic_read(0x65, 1537, box)).data_in;
        ASSERT_EQ(empty.size(), 1537u);
        EXPECT_EQ(le(empty, 36, 1) + le(empty, 266, 2), 0u) << int(box);
    }
    EXPECT_TRUE(illegal_request(fw.execute(bmic_read(0x65, 1537, 16))));

    const Reply failed = fw.execute(bmic_read(0x65, 1537, 2));
    EXPECT_EQ(failed.scsi_status, 2);
    ASSERT_EQ(failed.data_in.size(), 300u);
    EXPECT_EQ(le(failed.data_in, 266, 1), 12u);
}

TEST(SimInventory, IdentifyControllerAndReportLunsAgreeWithTheInventory) {
    FirmwareState s;
    s.add_drive(0, 1);
    s.add_drive(9, 9);
    s.add_drive(200, 5);
    s.add_drive(201, 6);
    s.add_drive(202, 7);
    s.add_drive(203, 8);
    s.add_drive(204, 0xFF);
    s.add_drive(10, 2).present = false; // described, but not reported present
    s.add_configured_drive(0, {0, 9}, 100);
    s.add_configured_drive(3, {0, 9}, 100, 100);
    s.add_enclosure(0);
    s.add_enclosure(1).bay_count = 0;
    s.enclosures.back().inquiry_valid = false;
    FwController fw(s);
    Bytes id = fw.execute(bmic_read(0x11, 1024)).data_in;
    const std::size_t present = le(id, 162, 2), non_disk = le(id, 166, 2);
    for (unsigned d : {0u, 9u})
        EXPECT_TRUE(bit(id, present, d)) << d;
    for (unsigned d : {10u, 200u})
        EXPECT_FALSE(bit(id, present, d)) << d;
    for (unsigned d : {200u, 201u, 202u, 203u, 204u})
        EXPECT_TRUE(bit(id, non_disk, d)) << d;
    EXPECT_FALSE(bit(id, non_disk, 0));
    EXPECT_EQ(le(id, 154, 2), 2u);
    EXPECT_EQ(le(id, 160, 1), 1u);
    fw.fw_state().identify.logical_drive_count = 7; // an explicit count wins
    id = fw.execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(le(id, 154, 2), 7u);

    const Bytes phys = fw.execute(report_physical(8 + 24 * 16)).data_in;
    ASSERT_GE(phys.size(), 8u);
    const std::size_t length = (std::size_t(phys[0]) << 24) | (phys[1] << 16) | (phys[2] << 8) | phys[3];
    ASSERT_EQ(length, 8u * 24);
    std::vector<std::pair<unsigned, unsigned>> listed; // number, type
    for (std::size_t at = 8; at < 8 + length; at += 24) {
        const unsigned type = phys[at + 16];
        const unsigned number = type == 7 ? phys[at] : phys[at + 6] | ((phys[at + 7] - 1) << 8);
        listed.emplace_back(number, type);
    }
    EXPECT_EQ(listed, (std::vector<std::pair<unsigned, unsigned>>{
                          {0, 1}, {9, 9}, {200, 5}, {201, 6}, {202, 7}, {203, 8}, {204, 0xFF}, {10, 2}}));
    EXPECT_EQ(phys[8 + 8], 0x50); // the WWID's first bytes
    EXPECT_EQ(phys[8 + 15], 0x00);
    EXPECT_EQ(phys[8 + 24 + 15], 9);

    const Bytes lds = fw.execute(selftest::report_luns(0xC2, 8 + 24 * 4)).data_in;
    ASSERT_EQ(lds.size(), 8u + 48);
    EXPECT_EQ(lds[8], 0);
    EXPECT_EQ(lds[8 + 24], 3);
}

TEST(SimInventory, GeneratorBuildsDrivesConnectorsEnclosuresAndLogicalDrives) {
    FirmwareState s;
    s.generate({.drives = 24,
                .connectors = 2,
                .enclosures = 2,
                .logical_drives = 5,
                .arrays = 2,
                .spares = 1,
                .blocks_per_drive = 1000});
    EXPECT_EQ(s.subsystem.connectors.size(), 2u);
    EXPECT_EQ(s.drives.size(), 26u); // and a SEP per enclosure
    ASSERT_EQ(s.enclosures.size(), 2u);
    EXPECT_EQ(s.enclosures[1].installed.size(), 12u);
    EXPECT_EQ(s.enclosures[1].installed.front(), 12u);
    ASSERT_EQ(s.logical_drives.size(), 5u);
    const auto& l0 = *s.find_configured_drive(0);
    const auto& l2 = *s.find_configured_drive(2);
    const auto& l1 = *s.find_configured_drive(1);
    EXPECT_EQ(l0.members, l2.members);
    EXPECT_EQ(l0.members.size(), 11u);
    EXPECT_EQ(l0.spares, std::vector<std::uint16_t>{11});
    EXPECT_EQ(l1.members.front(), 12u);
    EXPECT_EQ(l2.offset, 1000u);
    EXPECT_EQ(s.find_configured_drive(4)->offset, 2000u);
    const auto& d13 = *s.find_drive(13);
    EXPECT_EQ(d13.port, "2I");
    EXPECT_EQ(d13.connector_info[0], 1u);
    EXPECT_EQ(d13.box, 2u);
    EXPECT_EQ(d13.bay, 2u);
    EXPECT_EQ(s.find_drive(25)->device_type, 6u);

    FwController fw(s);
    const Bytes id = fw.execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(le(id, 154, 2), 5u);
    EXPECT_EQ(le(id, 160, 1), 2u);
    EXPECT_TRUE(bit(id, le(id, 166, 2), 24));

    const struct {
        qvsim::FwInventoryShape shape;
    } bad[] = {{{.drives = 385}},
               {{.connectors = 0}},
               {{.connectors = 17}},
               {{.enclosures = 17}},
               {{.logical_drives = 65}},
               {{.logical_drives = 1, .arrays = 0}},
               {{.drives = 4, .arrays = 2, .spares = 2}}};
    for (const auto& b : bad)
        EXPECT_THROW(FirmwareState{}.generate(b.shape), std::invalid_argument);
}

TEST(SimInventory, JsonFormDescribesTheInventory) {
    const auto j = nlohmann::json::parse(R"({
        "generate": {"drives": 8, "connectors": 2, "enclosures": 1, "logical_drives": 2, "arrays": 1},
        "drives": [{"number": 3, "device_type": 1, "rpm": 7250, "wwid": "5000C50011223344",
                    "phys": [{"max_rate": 11, "physical_rate": 10, "logical_rate": 10, "connected_type": 7}],
                    "paths": [{"port": "1I", "box": 1, "connector_name": "Port 1"}], "active_path": 9},
                   {"number": 40, "device_type": 5}],
        "logical_drives": [{"number": 1, "members": [4, 5], "blocks_per_drive": 64, "offset": 64,
                            "unit_status": 1, "status_totals": [4000, 4100]}],
        "enclosures": [{"box": 5, "inquiry_valid": false, "bay_count": 0}],
        "device_patches": [{"opcode": "0x50", "device": 1, "offset": 250, "bytes": "FF FF"}],
        "faults": [{"bmic": "0x15", "device": 3, "lun": 0, "nth": 2, "count": 0, "errno": 5}]
    })");
    const FirmwareState s = FirmwareState::from_json(j);
    EXPECT_EQ(s.drives.size(), 10u);
    EXPECT_EQ(s.find_drive(3)->device_type, 1u);
    EXPECT_EQ(s.find_drive(3)->connector_info[0], 0xFFu); // the listed entry replaces the generated one
    EXPECT_EQ(s.find_configured_drive(1)->members, (std::vector<std::uint16_t>{4, 5}));
    EXPECT_EQ(s.find_configured_drive(0)->members.size(), 8u);
    EXPECT_EQ(s.enclosures.size(), 2u);
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());

    FwController fw(s);
    EXPECT_EQ(le(fw.execute(identify_drive(3)).data_in, 1738, 1), 9u);
    EXPECT_EQ(fw.execute(identify_drive(3)).err, EIO); // the live read
    EXPECT_EQ(le(fw.execute(bmic_read(0x50, 652, 0, 1)).data_in, 250, 2), 0xFFFFu);
    EXPECT_EQ(le(fw.execute(bmic_read(0x50, 652, 0, 0)).data_in, 250, 2), 300u);

    for (const char* bad : {R"({"drives": [{"number": 1, "colour": 2}]})",
                            R"({"logical_drives": [{"number": 1, "members": "x"}]})",
                            R"({"generate": {"drives": 400}})", R"({"enclosures": [{"box": 1, "bays": 2}]})"})
        EXPECT_THROW((void)FirmwareState::from_json(nlohmann::json::parse(bad)), std::runtime_error) << bad;
}

// The shipped inventory scenario loads, and its controllers answer what it describes.
TEST(SimInventory, ShippedInventoryScenarioDescribesBothControllers) {
    const std::string here = QVSIM_SELFTEST_DIR "/"; // absolute, whatever the compiler launcher does to paths
    const auto s = qvsim::Scenario::load(here.substr(0, here.rfind('/')) + "/../scenarios/inventory_with_faults.json");
    ASSERT_EQ(s.controllers.size(), 2u);
    auto* described = dynamic_cast<FwController*>(s.controllers[0].firmware.get());
    auto* generated = dynamic_cast<FwController*>(s.controllers[1].firmware.get());
    ASSERT_TRUE(described && generated);
    Bytes id = described->execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(le(id, 154, 2), 4u);
    EXPECT_EQ(le(id, 160, 1), 2u);
    EXPECT_EQ(le(id, le(id, 162, 2), 1), 0x3Fu);     // drives 0-5
    EXPECT_EQ(le(id, le(id, 166, 2) + 8, 1), 0x0Fu); // 64-67
    EXPECT_TRUE(bit(id, le(id, 166, 2), 96));
    EXPECT_EQ(le(described->execute(identify_drive(3, 2)).data_in, 4, 4), 2000000u);
    EXPECT_EQ(described->execute(bmic_read(0x65, 1537, 2)).data_in.size(), 1537u); // the empty box

    id = generated->execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(le(id, 154, 2), 8u);
    EXPECT_EQ(generated->execute(identify_drive(7)).err, EIO);
    EXPECT_EQ(generated->execute(identify_drive(8)).err, 0);
    EXPECT_EQ(generated->execute(bmic_read(0x12, 3265, 0, 1)).scsi_status, 2);
    EXPECT_EQ(generated->execute(bmic_read(0x12, 3265, 0, 1)).scsi_status, 0);
    const Reply partial = generated->execute(bmic_read(0x65, 1537, 1));
    EXPECT_EQ(partial.scsi_status, 2);
    EXPECT_EQ(partial.data_in.size(), 200u);
}

class SimInventoryHost : public qvsim::SimHostTest {};

// Through the CISS pass-through: a bus-parameters read that fails after writing part of its data
// leaves that part in the caller's buffer.
TEST_F(SimInventoryHost, PartialDataOfAFailedReadReachesTheCaller) {
    auto j = nlohmann::json::parse(R"({"controllers": [
        {"driver": "qzvk", "protocol": "ciss", "pci_address": "0000:3b:00.0", "hosts": [2],
         "scsi": [{"sg": "sg1", "minor": 1, "type": "12"}],
         "fw": {"enclosures": [{"box": 0, "bay_count": 8}],
                "faults": [{"bmic": "0x65", "device": 0, "data_length": 300,
                            "sense": "70 00 04 00 00 00 00 0A 00 00 00 00 44 00"}]}}]})");
    ASSERT_NO_FATAL_FAILURE(StartHost(qvsim::Scenario::from_json(j)));
    const int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    Bytes buf(1537, 0);
    IOCTL_Command_struct io{};
    const Bytes cdb = bmic_read(0x65, 1537, 0).cdb;
    io.Request.CDBLen = 16;
    io.Request.Type.Type = TYPE_CMD;
    io.Request.Type.Attribute = ATTR_SIMPLE;
    io.Request.Type.Direction = XFER_READ;
    std::memcpy(io.Request.CDB, cdb.data(), 16);
    io.buf_size = 1537;
    io.buf = buf.data();
    ASSERT_EQ(::ioctl(fd, CCISS_PASSTHRU, &io), 0);
    ::close(fd);
    EXPECT_EQ(io.error_info.ScsiStatus, 2);
    EXPECT_EQ(le(buf, 266, 1), 8u);
    EXPECT_EQ(le(buf, 412, 4), 0u); // past the part written
}

} // namespace
