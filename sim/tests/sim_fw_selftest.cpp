// Self-tests of the simulated controller firmware: reply bytes at the controller's offsets, feature
// pages, REPORT LUNS, read-twice totals, faults, and the scenario's "fw" form.
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
using selftest::report_luns;

// A state whose fields all differ from the defaults, so a field written at the wrong offset shows.
FirmwareState sample_state() {
    FirmwareState s;
    auto& i = s.identify;
    i.firmware_version = "7.10-3";
    i.short_firmware_rev = "7.10";
    i.rom_firmware_rev = "7.08";
    i.pending_firmware_version = "7.12-0";
    i.vendor_id = "ACMESIM";
    i.product_id = "P-TEST-1";
    i.family_id = "Fam";
    i.hardware_revision = 'C';
    i.hardware_minor_revision = 4;
    i.pci_vendor = 0x1D7B;
    i.pci_device = 0x0A53;
    i.pci_subsystem_vendor = 0x1234;
    i.pci_subsystem_device = 0x5678;
    i.memory_mib = 0x1234;
    i.pcie_generation = 4;
    i.pcie_width = 16;
    i.fixed_length = 0x1F3;
    i.even_more_flags = 0x80000003;
    i.encryption_status = 0x00010801;
    i.managed_sed_mode = 0x0B;
    i.extended_pci_slot = 0x0102;
    i.present_devices = {0, 9};
    i.non_disk_devices = {383};
    s.parameters.rebuild_priority = 0x76;
    s.parameters.total_length = 0x150;
    s.parameters.rtc.year = 23;
    s.cache.total_memory = 0x0800;
    s.cache.fixed_length = 0x0101;
    s.cache.backup_power_type = 2;
    s.cache.battery_status = 0xBEEF;
    s.subsystem.serial_number = "SER123";
    s.subsystem.wwn = {1, 2, 3, 4, 5, 6, 7, 8};
    s.subsystem.driver_version = "9.9.9";
    s.mnp_delay = 1441;
    s.expansion.memory_kib = 0xABCDE;
    s.expansion.queued = 1;
    s.surface.max_parallel = 6;
    s.power.operational = 1;
    s.power.configured = 4;
    s.power.survival_mode = 1;
    s.power.default_mode = 0x02;
    s.manufacturing.serial_number = "MSERIAL-0123456"; // 15 characters: not terminated
    s.manufacturing.revision = 7;
    s.ofa.status = 253;
    s.ofa.delay_set = 30;
    s.ofa.delay_remaining = 12;
    s.i2c_slave_address = 0x42;
    s.oob_pending = {0x02, 0x05, 0x44, 0x00};
    s.discovery.active[1] = {7, 7, 2, 1};
    s.encryption.ikek = 3;
    s.encryption.controller_key = 9;
    s.encryption.boot_status = 0x10;
    s.managed_sed.status = 0x49;
    s.managed_sed.master_key_id[0] = 'K';
    s.sensors.at(1).reading = 66;
    s.erase.drives.push_back({5, 0x0302});
    s.mirror_pairs.push_back({2, {{0, 1}, {300, 301}}});
    return s;
}

struct FieldCase {
    const char* what;
    Command cmd;
    std::size_t size; // bytes the firmware returns
    std::size_t offset, width;
    std::uint32_t value;
};

TEST(SimFirmware, ReadsPutEachFieldAtItsOffset) {
    const FieldCase cases[] = {
        {"identify dwTotalStructureLength", bmic_read(0x11, 1024), 1024, 196, 4, 1024},
        {"identify wTotalAvailableMemorySize", bmic_read(0x11, 1024), 1024, 143, 2, 0x1234},
        {"identify dwFixedStructureLength", bmic_read(0x11, 1024), 1024, 240, 4, 0x1F3},
        {"identify dwEvenMoreControllerFlags", bmic_read(0x11, 1024), 1024, 268, 4, 0x80000003},
        {"identify dwEncryptionStatus", bmic_read(0x11, 1024), 1024, 282, 4, 0x00010801},
        {"identify dwExtraControllerFlags", bmic_read(0x11, 1024), 1024, 286, 4, 0x20000000},
        {"identify bPCIEGeneration", bmic_read(0x11, 1024), 1024, 290, 1, 4},
        {"identify bPCIEWidth", bmic_read(0x11, 1024), 1024, 291, 1, 16},
        {"identify wPCIDeviceID", bmic_read(0x11, 1024), 1024, 365, 2, 0x0A53},
        {"identify wPCIVendorID", bmic_read(0x11, 1024), 1024, 367, 2, 0x1D7B},
        {"identify wPCISSDeviceID", bmic_read(0x11, 1024), 1024, 369, 2, 0x5678},
        {"identify wPCISSVendorID", bmic_read(0x11, 1024), 1024, 371, 2, 0x1234},
        {"identify wExtendedPCISlot", bmic_read(0x11, 1024), 1024, 453, 2, 0x0102},
        {"identify dwManagedSEDModeStatus", bmic_read(0x11, 1024), 1024, 540, 4, 0x0B},
        {"identify bMarketingRevisionMinor", bmic_read(0x11, 1024), 1024, 556, 1, 4},
        {"identify cMarketingRevision", bmic_read(0x11, 1024), 1024, 40, 1, 'C'},
        {"identify present map bits 0 and 9", bmic_read(0x11, 1024), 1024, 600, 2, 0x0201},
        {"identify non-disk map bit 383", bmic_read(0x11, 1024), 1024, 656 + 47, 1, 0x80},
        {"identify clipped to the CDB's length", bmic_read(0x11, 200), 200, 196, 4, 1024},
        {"parameters rebuild_priority", bmic_read(0x64, 344), 344, 14, 1, 0x76},
        {"parameters dwTotalStructureLength", bmic_read(0x64, 344), 344, 188, 4, 0x150},
        {"parameters dwRTCYear", bmic_read(0x64, 344), 344, 232, 4, 23},
        {"cache dwTotalStructureLength", bmic_read(0xC1, 512), 512, 16, 4, 512},
        {"cache wTotalMemorySize", bmic_read(0xC1, 512), 512, 38, 2, 0x0800},
        {"cache wBatteryStatus", bmic_read(0xC1, 512), 512, 227, 2, 0xBEEF},
        {"cache bRequiredBackupPowerType", bmic_read(0xC1, 512), 512, 256, 1, 2},
        {"LU cache RAM info", bmic_read(0xC1, 39, 3u << 16, 1), 39, 0, 4, 0},
        {"subsystem dwTotalStructureLength", bmic_read(0x66, 1744), 1744, 704, 4, 1744},
        {"subsystem bPortName", bmic_read(0x66, 1744), 1744, 36, 4, 0x04030201},
        {"subsystem port counts", bmic_read(0x66, 1744), 1744, 492, 2, 0x0102},
        {"subsystem internal port 1 PHY map", bmic_read(0x66, 1744), 1744, 496 + 12, 4, 0xF0},
        {"subsystem external port 0 PHY map", bmic_read(0x66, 1744), 1744, 592, 4, 0xF00},
        {"subsystem external port 0 connection number", bmic_read(0x66, 1744), 1744, 964 + 8, 1, 2},
        {"MNP wMNPDelay", bmic_read(0x72, 16), 16, 0, 2, 1441},
        {"expansion dwExpansionMemorySize", bmic_read(0x59, 118), 118, 4, 4, 0xABCDE},
        {"expansion dwTotalStructureLength", bmic_read(0x59, 118), 118, 44, 4, 118},
        {"expansion bExpansionQueued", bmic_read(0x59, 118), 118, 53, 1, 1},
        {"surface bMaxParallelScanLimit", bmic_read(0x70, 6904), 6904, 5, 1, 6},
        {"surface dwTotalStructureLength", bmic_read(0x70, 6904), 6904, 1422, 4, 6904},
        {"power dwPowerModeOperational", bmic_read(0xEE, 17, 1), 17, 0, 4, 1},
        {"power dwPowerModeConfigured", bmic_read(0xEE, 17, 1), 17, 4, 4, 4},
        {"power bSelectedSurvivalMode", bmic_read(0xEE, 17, 1), 17, 16, 1, 1},
        {"default power mode", bmic_read(0xEE, 1, 3), 1, 0, 1, 0x02},
        {"manufacturing revision", bmic_read(0x82, 256, 1), 256, 50, 1, 7},
        {"OFA u8CurrentStatus", bmic_read(0xD4, 16, 3), 16, 0, 1, 253},
        {"OFA u16DelayTimeSet", bmic_read(0xD4, 16, 3), 16, 2, 2, 30},
        {"OFA u16DelayTimeRemaining", bmic_read(0xD4, 16, 3), 16, 4, 2, 12},
        {"I2C slave address", bmic_read(0x80, 4, 0x10000), 4, 0, 1, 0x42},
        {"OOB pending interface", bmic_read(0x80, 8, 0x60000), 8, 4, 3, 0x440502},
        {"discovery connector count", bmic_read(0x83, 98, 0), 98, 0, 2, 0x0603},
        {"discovery active entry of connector 1", bmic_read(0x83, 98, 0), 98, 2 + 6, 4, 0x01020707},
        {"encryption IKEK status", bmic_read(0x1E, 4, 7), 4, 0, 3, 0x090003},
        {"encryption boot status", bmic_read(0x1E, 8, 8), 8, 4, 4, 0x10},
        {"managed SED status", bmic_read(0xE8, 8, 2), 8, 0, 4, 0x49},
        {"sensors: all four", bmic_read(0x78, 1516), 12 + 4 * 47, 0, 4, 4},
        {"sensors: record 1 reading", bmic_read(0x78, 1516), 12 + 4 * 47, 12 + 47 + 4, 4, 66},
        {"sensors: size_of_sensor_info", bmic_read(0x78, 1516), 12 + 4 * 47, 8, 4, 47},
        {"temperature sensors only", bmic_read(0x78, 1516, 0, 0x0100), 12 + 3 * 47, 0, 4, 3},
        {"erase dwTotalStructureLength", bmic_read(0xE5, 1432), 1432, 12, 4, 1432},
        {"erase state of drive 5", bmic_read(0xE5, 1432), 1432, 664 + 10, 2, 0x0302},
        {"mirror pairs total", bmic_read(0x5D, 1292, 0, 2), 1292, 516, 4, 1292},
        {"mirror pairs extended offset", bmic_read(0x5D, 1292, 0, 2), 1292, 512, 2, 524},
        {"mirror partner of drive 0", bmic_read(0x5D, 1292, 0, 2), 1292, 0, 2, 1},
        {"mirror partner of drive 300", bmic_read(0x5D, 1292, 0, 2), 1292, 524 + 600, 2, 301},
        {"mirror drive without partner", bmic_read(0x5D, 1292, 0, 2), 1292, 2, 2, 0xFFFF},
        {"managed SED master key id", bmic_read(0xE8, 33, 4), 33, 0, 1, 'K'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FwController fw(sample_state());
        const Reply r = fw.execute(c.cmd);
        ASSERT_EQ(r.scsi_status, 0);
        ASSERT_EQ(r.data_in.size(), c.size);
        EXPECT_EQ(le(r.data_in, c.offset, c.width), c.value);
    }
}

TEST(SimFirmware, LuCacheRamInfoReportsEachAlgorithmEntry) {
    FirmwareState s;
    s.cache.lu_cache_used = 0x01020304;
    s.cache.lu_cache_available = 0x0A0B0C0D;
    // Every field distinct; bytes per line 0 and size bits 0, 64 and above 64 are passed on as set.
    s.cache.lu_cache_algorithms = {
        {.type = 1,
         .bytes_per_line = 0,
         .fixed_header = 0x1234,
         .data_volumes_per_cache = 2,
         .max_cache_size_bits = 0,
         .max_data_size_bits = 64},
        {.type = 2,
         .bytes_per_line = 24,
         .fixed_header = 0x0500,
         .data_volumes_per_cache = 3,
         .max_cache_size_bits = 64,
         .max_data_size_bits = 70},
        {.type = 3,
         .bytes_per_line = 48,
         .fixed_header = 0x0601,
         .data_volumes_per_cache = 4,
         .max_cache_size_bits = 20,
         .max_data_size_bits = 0},
        {.type = 4,
         .bytes_per_line = 96,
         .fixed_header = 0xFFEE,
         .data_volumes_per_cache = 5,
         .max_cache_size_bits = 41,
         .max_data_size_bits = 43},
        {.type = 9,
         .bytes_per_line = 9,
         .fixed_header = 9,
         .data_volumes_per_cache = 9,
         .max_cache_size_bits = 9,
         .max_data_size_bits = 9}, // a fifth entry has no place
    };
    FwController fw(s);
    const Bytes r = fw.execute(bmic_read(0xC1, 39, 3u << 16, 1)).data_in;
    ASSERT_EQ(r.size(), 39u);
    EXPECT_EQ(le(r, 0, 4), 0x01020304u);
    EXPECT_EQ(le(r, 4, 4), 0x0A0B0C0Du);
    const std::vector<std::uint8_t> algo(r.begin() + 8, r.begin() + 36);
    EXPECT_EQ(algo, (std::vector<std::uint8_t>{1, 0,  0x34, 0x12, 2, 0,  64, //
                                               2, 24, 0x00, 0x05, 3, 64, 70, //
                                               3, 48, 0x01, 0x06, 4, 20, 0,  //
                                               4, 96, 0xEE, 0xFF, 5, 41, 43}));
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 36, r.end()), (std::vector<std::uint8_t>{0, 0, 0}));
    // Fewer entries: the rest read as zeros. The JSON form carries them.
    const auto j = nlohmann::json::parse(R"({"cache": {"lu_cache_algorithms": [
        {"type": 2, "bytes_per_line": 16, "fixed_header": 4096, "data_volumes_per_cache": 1,
         "max_cache_size_bits": 38, "max_data_size_bits": 44}]}})");
    const FirmwareState one = FirmwareState::from_json(j);
    EXPECT_EQ(FirmwareState::from_json(one.to_json()).to_json(), one.to_json());
    FwController fw1(one);
    const Bytes r1 = fw1.execute(bmic_read(0xC1, 39, 3u << 16, 1)).data_in;
    EXPECT_EQ(std::vector<std::uint8_t>(r1.begin() + 8, r1.begin() + 15),
              (std::vector<std::uint8_t>{2, 16, 0x00, 0x10, 1, 38, 44}));
    EXPECT_EQ(std::vector<std::uint8_t>(r1.begin() + 15, r1.end()), std::vector<std::uint8_t>(24, 0));
}

TEST(SimFirmware, TextFieldsArePaddedAndUnterminated) {
    FwController fw(sample_state());
    const Bytes id = fw.execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(text(id, 5, 4), "7.10");
    EXPECT_EQ(text(id, 9, 4), "7.08");
    EXPECT_EQ(text(id, 200, 8), "ACMESIM ");
    EXPECT_EQ(text(id, 208, 16), "P-TEST-1        ");
    EXPECT_EQ(text(id, 325, 32), std::string("7.10-3") + std::string(26, '\0'));
    EXPECT_EQ(text(id, 455, 6), "7.12-0");

    const Bytes sub = fw.execute(bmic_read(0x66, 1744)).data_in;
    EXPECT_EQ(text(sub, 44, 7), std::string("SER123") + '\0');
    EXPECT_EQ(text(sub, 1712, 6), std::string("9.9.9") + '\0');

    const Bytes mfg = fw.execute(bmic_read(0x82, 256, 1)).data_in;
    EXPECT_EQ(text(mfg, 8, 15), "MSERIAL-0123456");
    EXPECT_EQ(mfg[23], 'Q'); // the spare part number follows at once
}

TEST(SimFirmware, UnknownFunctionsAndAForeignOemIdAreRefused) {
    FirmwareState s;
    s.manufacturing.oem_id = 2;
    FwController fw(s);
    for (const Command& c : {bmic_read(0xEE, 4, 0x02), bmic_read(0x1E, 4, 0x30), bmic_read(0xC1, 512, 0, 2),
                             bmic_read(0x82, 256, 1, 0x0000), bmic_read(0xE8, 64, 3, 5)}) {
        const Reply r = fw.execute(c);
        EXPECT_EQ(r.scsi_status, 0x02);
        ASSERT_GE(r.sense.size(), 14u);
        EXPECT_EQ(r.sense[2], 0x05);
        EXPECT_EQ(r.sense[12], 0x24);
    }
    const Reply ok = fw.execute(bmic_read(0x82, 256, 1, 0x0200));
    EXPECT_EQ(ok.scsi_status, 0);
    EXPECT_EQ(ok.data_in.size(), 256u);
}

// Walks a feature-page reply the way the controller lays it out.
struct Page {
    std::uint8_t page, subpage;
    std::uint16_t length;
    Bytes data;
};
std::vector<Page> walk(const Bytes& r) {
    std::vector<Page> out;
    const std::size_t total = r[2] | (r[3] << 8);
    std::size_t at = 4;
    while (at + 4 <= r.size() && at - 4 < total) {
        Page p{r[at], r[at + 1], std::uint16_t(r[at + 2] | (r[at + 3] << 8)), {}};
        const std::size_t end = std::min(r.size(), at + 4 + p.length);
        p.data.assign(r.begin() + std::ptrdiff_t(at + 4), r.begin() + std::ptrdiff_t(end));
        out.push_back(p);
        at += 4 + p.length;
    }
    return out;
}

TEST(SimFirmware, FeaturePagesFollowEachOtherWithTheirHeaders) {
    FirmwareState s;
    s.feature_pages.clear();
    s.set_page("power_management", {0x06, 0x01, 0x08});
    s.set_page(0x0E, 0x0B, {0xAA});          // a page the library does not know
    s.set_page("cache", {0x04, 0x00, 0x00}); // more than the library's slot holds
    FwController fw(s);

    const Bytes r = fw.execute(bmic_read(0x61, 601, 0xFFFF0000)).data_in;
    EXPECT_EQ(r[0], 0xFF);
    EXPECT_EQ(r[1], 0xFF);
    EXPECT_EQ(r[2] | (r[3] << 8), (4 + 3) + (4 + 1) + (4 + 3));
    EXPECT_EQ(r.size(), 4u + 19u);
    const auto pages = walk(r);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].page, 0x09);
    EXPECT_EQ(pages[0].subpage, 0x01);
    EXPECT_EQ(pages[0].data, (Bytes{0x06, 0x01, 0x08}));
    EXPECT_EQ(pages[1].page, 0x0E);
    EXPECT_EQ(pages[1].subpage, 0x0B);
    EXPECT_EQ(pages[2].length, 3);

    // Only the requested page, and a reported total larger than what fits in the 601 bytes.
    const Bytes one = fw.execute(bmic_read(0x61, 601, 0x09010000)).data_in;
    ASSERT_EQ(walk(one).size(), 1u);
    EXPECT_EQ(one[0], 0x09);
    fw.fw_state().reported_totals[0x61] = {700};
    const Bytes big = fw.execute(bmic_read(0x61, 601, 0xFFFF0000)).data_in;
    EXPECT_EQ(big[2] | (big[3] << 8), 700);
}

TEST(SimFirmware, ReportLunsHeaderIsBigEndianAndEntriesCarryTheirAddresses) {
    FirmwareState s;
    for (std::uint16_t n = 0; n < 29; ++n)
        s.add_logical_drive(n);
    s.add_logical_drive(5, true).unique_id[0] = 0xEE;
    s.add_physical_device(263, 1);
    s.add_physical_device(3, 7);
    FwController fw(s);

    // 30 logical drives: 720 bytes of list, but only the first 512 bytes fit the first read.
    const Bytes first = fw.execute(report_luns(0xC2, 512)).data_in;
    ASSERT_EQ(first.size(), 512u);
    EXPECT_EQ((Bytes{first.begin(), first.begin() + 4}), (Bytes{0x00, 0x00, 0x02, 0xD0}));
    const Bytes all = fw.execute(report_luns(0xC2, 728)).data_in;
    ASSERT_EQ(all.size(), 728u);
    const std::size_t remote = 8 + 29 * 24;
    EXPECT_EQ((Bytes{all.begin() + remote, all.begin() + remote + 8}), (Bytes{5, 0, 0, 0x40, 1, 0, 0, 0}));
    EXPECT_EQ(all[remote + 8], 0xEE);
    EXPECT_EQ(all[8 + 4], 0); // a local logical drive

    const Bytes phys = fw.execute(report_luns(0xC3, 776)).data_in;
    ASSERT_EQ(phys.size(), 8u + 48u);
    EXPECT_EQ(phys[3], 48);
    EXPECT_EQ(phys[8 + 6], 7); // (2 - 1) * 256 + 7 = 263
    EXPECT_EQ(phys[8 + 7], 2);
    EXPECT_EQ(phys[8 + 16], 1);
    EXPECT_EQ(phys[32], 3); // the controller entry: its number in address byte 0
    EXPECT_EQ(phys[32 + 16], 7);

    // The SIS transport's opcode for the logical report gets the same answer.
    EXPECT_EQ(fw.execute(report_luns(0xC4, 728)).data_in, all);
}

TEST(SimFirmware, ReportedTotalsDriveTheSecondRead) {
    FirmwareState s;
    s.reported_totals[0x70] = {7000, 7000};
    s.reported_totals[0x78] = {40, 40};
    s.add_logical_drive(0);
    s.logical_list_lengths = {720, 744}; // the list grows between the two reads
    FwController fw(s);

    const Bytes first = fw.execute(bmic_read(0x70, 6904)).data_in;
    ASSERT_EQ(first.size(), 6904u);
    EXPECT_EQ(le(first, 1422, 4), 7000u);
    const Bytes second = fw.execute(bmic_read(0x70, 7000)).data_in;
    ASSERT_EQ(second.size(), 7000u);
    EXPECT_EQ(le(second, 1422, 4), 7000u);
    EXPECT_EQ(le(fw.execute(bmic_read(0x70, 6904)).data_in, 1422, 4), 6904u); // the sequence is spent

    // 40 sensors announced: the first read gets what fits, the second all 40 records.
    const Bytes s1 = fw.execute(bmic_read(0x78, 1516)).data_in;
    ASSERT_EQ(s1.size(), 1516u);
    EXPECT_EQ(le(s1, 0, 4), 40u);
    const Bytes s2 = fw.execute(bmic_read(0x78, 1892)).data_in;
    ASSERT_EQ(s2.size(), 1892u);
    EXPECT_EQ(s2[12 + 39 * 47], 0xFF); // past the controller's own sensors: no sensor

    const Bytes l1 = fw.execute(report_luns(0xC2, 512)).data_in;
    EXPECT_EQ(l1[2] << 8 | l1[3], 720);
    const Bytes l2 = fw.execute(report_luns(0xC2, 728)).data_in;
    EXPECT_EQ(l2[2] << 8 | l2[3], 744);
    EXPECT_EQ(l2.size(), 728u); // never more than the allocation
}

TEST(SimFirmware, FaultsHitTheChosenCommandOnly) {
    FirmwareState s;
    qvsim::FwFault check;
    check.bmic = 0x11;
    check.sense = qvsim::fixed_sense(0x04, 0x44, 0x00);
    s.faults.push_back(check);
    qvsim::FwFault err;
    err.bmic = 0xEE;
    err.function = 3;
    err.count = 0;
    err.err = EIO;
    s.faults.push_back(err);
    qvsim::FwFault shorter;
    shorter.scsi = 0xC3;
    shorter.nth = 2;
    shorter.data_length = 10;
    s.faults.push_back(shorter);
    s.add_physical_device(1);
    FwController fw(s);

    const Reply r1 = fw.execute(bmic_read(0x11, 1024));
    EXPECT_EQ(r1.scsi_status, 0x02);
    EXPECT_TRUE(r1.data_in.empty());
    EXPECT_EQ(r1.sense, qvsim::fixed_sense(0x04, 0x44, 0x00));
    EXPECT_EQ(fw.execute(bmic_read(0x11, 1024)).data_in.size(), 1024u); // only the first

    EXPECT_EQ(fw.execute(bmic_read(0xEE, 1, 3)).err, EIO);
    EXPECT_EQ(fw.execute(bmic_read(0xEE, 1, 3)).err, EIO); // every time
    EXPECT_EQ(fw.execute(bmic_read(0xEE, 17, 1)).err, 0);  // another function of the opcode

    EXPECT_EQ(fw.execute(report_luns(0xC3, 776)).data_in.size(), 32u);
    EXPECT_EQ(fw.execute(report_luns(0xC3, 776)).data_in.size(), 10u); // the second one is short
}

TEST(SimFirmware, JsonNamesFieldsReadablyAndRejectsUnknownKeys) {
    const auto j = nlohmann::json::parse(R"({
        "identify": {"firmware_version": "1.00-0", "pci_vendor": "0x1D7A", "hardware_revision": "D"},
        "subsystem": {"wwn": "50:01:02:03:04:05:06:07"},
        "feature_pages": [{"page": "encryption", "data": "41"}, {"page": 14, "subpage": 9, "data": [1, 2]}],
        "logical_luns": [{"number": 3, "remote": true, "unique_id": "00112233445566778899AABBCCDDEEFF"}],
        "reported_totals": {"0x70": [7000]},
        "faults": [{"bmic": "0x64", "errno": 5}]
    })");
    const FirmwareState s = FirmwareState::from_json(j);
    EXPECT_EQ(s.identify.firmware_version, "1.00-0");
    EXPECT_EQ(s.identify.pci_vendor, 0x1D7A);
    EXPECT_EQ(s.identify.hardware_revision, 'D');
    EXPECT_EQ(s.subsystem.wwn[7], 0x07);
    ASSERT_EQ(s.feature_pages.size(), 2u);
    EXPECT_EQ(s.feature_pages[0].page, 7);
    EXPECT_EQ(s.feature_pages[0].subpage, 1);
    EXPECT_EQ(s.feature_pages[1].data, (Bytes{1, 2}));
    EXPECT_TRUE(s.logical_luns.at(0).remote);
    EXPECT_EQ(s.reported_totals.at(0x70), std::vector<std::uint32_t>{7000});
    EXPECT_EQ(s.faults.at(0).err, 5);

    // The written form reads back to the same state.
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());
    EXPECT_EQ(FirmwareState::from_json(FirmwareState{}.to_json()).to_json(), FirmwareState{}.to_json());

    const struct {
        const char* json;
        const char* message;
    } bad[] = {
        {R"({"identify": {"serial": "x"}})", "fw.identify: unknown key \"serial\""},
        {R"({"identify": {"pci_slot": 256}})", "fw.identify.pci_slot: value 256 too large"},
        {R"({"subsystem": {"wwn": "0102030405060708090A"}})", "fw.subsystem.wwn: more than 8 bytes"},
        {R"({"feature_pages": [{"page": "nonsense"}]})", "unknown feature page \"nonsense\""},
        {R"({"faults": [{"errno": 5}]})", "name exactly one of"},
        {R"({"mnp": 1})", "fw: unknown key \"mnp\""},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.json);
        try {
            (void)FirmwareState::from_json(nlohmann::json::parse(b.json));
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
        }
    }
}

// The launcher's embedded scenario and the README's demo scenario: every RAID controller answers
// identify with a version and is long enough to be supported, each with its own serial number.
TEST(SimFirmware, ShippedScenariosIdentifyTheirControllers) {
    const std::string here = QVSIM_SELFTEST_DIR "/"; // absolute, whatever the compiler launcher does to paths
    const std::string demo = here.substr(0, here.rfind('/')) + "/../../demo/scenario.json";
    for (const auto& s : {qvsim::Scenario::builtin_default(), qvsim::Scenario::load(demo)}) {
        std::vector<std::string> serials;
        for (const auto& c : s.controllers) {
            if (c.protocol == qvsim::Protocol::kNone)
                continue;
            auto* fw = dynamic_cast<FwController*>(c.firmware.get());
            ASSERT_NE(fw, nullptr) << c.driver;
            const Bytes id = fw->execute(bmic_read(0x11, 1024)).data_in;
            EXPECT_NE(id[325], 0) << c.driver << ": no firmware version";
            EXPECT_GE(le(id, 240, 4), 276u) << c.driver << ": too short to be supported";
            for (const auto& other : serials)
                EXPECT_NE(other, fw->fw_state().subsystem.serial_number);
            serials.push_back(fw->fw_state().subsystem.serial_number);
        }
        EXPECT_GE(serials.size(), 2u);
    }
}

class SimFirmwareHost : public qvsim::SimHostTest {};

// The whole road: a scenario's "fw" JSON, the CISS pass-through ioctl, and a fault that fails
// the driver request itself.
TEST_F(SimFirmwareHost, PassThroughReachesTheFirmwareState) {
    auto j = nlohmann::json::parse(R"({"controllers": [
        {"driver": "qzvk", "protocol": "ciss", "pci_address": "0000:3b:00.0", "hosts": [2],
         "scsi": [{"sg": "sg1", "minor": 1, "type": "12"}],
         "fw": {"identify": {"firmware_version": "6.01-2"},
                "faults": [{"bmic": "0x11", "errno": 5}]}}]})");
    ASSERT_NO_FATAL_FAILURE(StartHost(qvsim::Scenario::from_json(j)));

    const int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    Bytes buf(1024, 0xCC);
    IOCTL_Command_struct io{};
    const Bytes cdb = bmic_read(0x11, 1024).cdb;
    io.Request.CDBLen = 16;
    io.Request.Type.Type = TYPE_CMD;
    io.Request.Type.Attribute = ATTR_SIMPLE;
    io.Request.Type.Direction = XFER_READ;
    std::memcpy(io.Request.CDB, cdb.data(), 16);
    io.buf_size = 1024;
    io.buf = buf.data();
    errno = 0;
    EXPECT_EQ(::ioctl(fd, CCISS_PASSTHRU, &io), -1);
    EXPECT_EQ(errno, EIO);
    ASSERT_EQ(::ioctl(fd, CCISS_PASSTHRU, &io), 0);
    ::close(fd);
    EXPECT_EQ(io.error_info.ScsiStatus, 0);
    EXPECT_EQ(text(buf, 325, 7), std::string("6.01-2") + '\0');
    EXPECT_EQ(le(buf, 196, 4), 1024u);
}

} // namespace
