// Self-tests of the simulated controller's drive extras: OEM extended data (0x84), drive
// statistics (0xA0), the rebuild fields of the logical-drive status, the enclosure's UBM block and
// SEP count, their JSON form and their faults. Replies are read with the tests' own reader.
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "fw_selftest_commands.h"
#include "selftest_util.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::le;
using selftest::text;

// OEM data as the library asks: detail = drive << 24 | OEM id, LUN = drive & 0xFF00.
Command oem_data(std::uint16_t pd, std::uint8_t oem) {
    return bmic_read(0x84, 64, (std::uint32_t(pd & 0xFF) << 24) | oem, std::uint16_t(pd & 0xFF00));
}

// Statistics: drive low byte in CDB byte 2, 0x02 in byte 4, drive high byte in byte 9.
Command mnp(std::uint16_t pd) {
    return bmic_read(0xA0, 512, (std::uint32_t(pd & 0xFF) << 24) | 0x0200, std::uint16_t(pd & 0xFF00));
}

bool refused(const Reply& r) {
    return r.err == 0 && r.scsi_status == 2 && r.sense.size() > 13 && (r.sense[2] & 0x0F) == 5 &&
           r.sense[12] == 0x24;
}

FirmwareState drives_300_and_44() {
    FirmwareState s;
    for (std::uint16_t n : {44, 300}) {
        auto& d = s.add_drive(n, 2);
        d.oem_id = 5;
        d.stamped = 1;
        d.serial = "SER" + std::to_string(n);
        d.firmware = "FW" + std::to_string(n);
        d.oem_data = Bytes(70, std::uint8_t(n)); // more than fits: cut to 64
        auto& m = d.mnp;
        m.reference_minutes = 600u + n;
        m.sectors_read = 0x1'0000'0000ull + n;
        m.hard_read_errors = 1u + n;
        m.retry_recovered_read_errors = 2u + n;
        m.ecc_recovered_read_errors = 3u + n;
        m.sectors_written = 4u + n;
        m.hard_write_errors = 5u + n;
        m.retry_recovered_write_errors = 6u + n;
        m.seek_count = 7u + n;
        m.seek_errors = 8u + n;
        m.drq_timeouts = std::uint16_t(9 + n);
        m.other_time_outs = std::uint16_t(10 + n);
        m.spin_retries = std::uint16_t(11 + n);
        m.failed_read_recovers = std::uint16_t(12 + n);
        m.failed_write_recovers = std::uint16_t(13 + n);
        m.format_errors = std::uint16_t(14 + n);
        m.not_ready_errors = 15u + n;
        m.bus_faults = 16u + n;
        m.hot_plug_count = 17u + n;
        m.media_failures = std::uint16_t(18 + n);
        m.hardware_errors = std::uint16_t(19 + n);
        m.aborted_commands = std::uint16_t(20 + n);
        m.bad_target_count = std::uint16_t(21 + n);
        m.predictive_failures = 22u + n;
    }
    s.add_drive(64, 6); // a SEP: no statistics, no OEM data
    return s;
}

TEST(SimDriveExtras, StatisticsOfDrive300AreItsOwnAtEveryOffset) {
    FwController fw(drives_300_and_44());
    const Bytes b = fw.execute(mnp(300)).data_in;
    ASSERT_EQ(b.size(), 512u);
    EXPECT_EQ(text(b, 0, 20), "SER300" + std::string(14, ' '));
    EXPECT_EQ(text(b, 20, 8), "FW300   ");
    const struct {
        std::size_t at, width;
        std::uint64_t value;
    } fields[] = {{68, 4, 900},  {72, 8, 0x1'0000'0000ull + 300},
                  {80, 4, 301},  {84, 4, 302},
                  {88, 8, 303},  {96, 8, 304},
                  {104, 4, 305}, {108, 4, 306},
                  {112, 8, 307}, {120, 8, 308},
                  {150, 2, 309}, {152, 2, 310},
                  {156, 2, 311}, {158, 2, 312},
                  {160, 2, 313}, {162, 2, 314},
                  {166, 4, 315}, {178, 4, 316},
                  {182, 4, 317}, {198, 2, 318},
                  {200, 2, 319}, {202, 2, 320},
                  {206, 2, 321}, {208, 4, 322}};
    for (const auto& f : fields)
        EXPECT_EQ(le(b, f.at, f.width), f.value) << "offset " << f.at;
    // Without the high byte the same low byte is drive 44.
    EXPECT_EQ(le(fw.execute(mnp(44)).data_in, 80, 4), 45u);
}

TEST(SimDriveExtras, StatisticsAndOemDataRefuseWhatTheControllerWouldNot) {
    FwController fw(drives_300_and_44());
    Command wrong_page = mnp(300);
    wrong_page.cdb[4] = 0x01;
    Command lun_low = mnp(300);
    lun_low.cdb[1] = 1;
    Command oem_lun_low = oem_data(300, 5);
    oem_lun_low.cdb[1] = 1;
    const struct {
        const char* what;
        Command cmd;
    } cases[] = {{"statistics page other than 2", wrong_page},
                 {"statistics with a LUN low byte", lun_low},
                 {"statistics of a SEP", mnp(64)},
                 {"statistics of a drive not there", mnp(301)},
                 {"OEM data with another OEM id", oem_data(300, 2)},
                 {"OEM data with a LUN low byte", oem_lun_low},
                 {"OEM data of a SEP", oem_data(64, 0)}};
    for (const auto& c : cases)
        EXPECT_TRUE(refused(fw.execute(c.cmd))) << c.what;

    const Bytes oem = fw.execute(oem_data(300, 5)).data_in;
    ASSERT_EQ(oem.size(), 64u);
    EXPECT_EQ(oem, Bytes(64, std::uint8_t(300 & 0xFF)));
}

TEST(SimDriveExtras, FaultsHitTheNamedDriveOnly) {
    FirmwareState s = drives_300_and_44();
    s.fail_device(0xA0, 300);                     // ILLEGAL REQUEST once
    s.fail_device(0x84, 44, 1, 0, EIO);           // never carried
    FwController fw(s);
    EXPECT_EQ(fw.execute(mnp(44)).scsi_status, 0);
    EXPECT_TRUE(refused(fw.execute(mnp(300))));
    EXPECT_EQ(fw.execute(mnp(300)).data_in.size(), 512u);
    EXPECT_EQ(fw.execute(oem_data(44, 5)).err, EIO);
    EXPECT_EQ(fw.execute(oem_data(44, 5)).err, EIO);
    EXPECT_EQ(fw.execute(oem_data(300, 5)).data_in.size(), 64u);
}

// bBigDriveRebuilding (987) and wExtendedDriveRebuilding (1002) name one drive or none.
TEST(SimDriveExtras, RebuildFieldsNameTheRebuildingDriveOrNone) {
    const struct {
        const char* what;
        std::optional<std::uint16_t> rebuilding;
        bool percents;
        std::uint8_t big;
        std::uint16_t extended;
    } cases[] = {{"nothing rebuilds", std::nullopt, false, 0xFF, 0xFFFF},
                 {"the first percentage's drive", std::nullopt, true, 3, 3},
                 {"a drive above the byte field", 300, true, 0xFF, 300},
                 {"none named, percentages only", 0xFFFF, true, 0xFF, 0xFFFF},
                 {"drive 0", 0, false, 0, 0}};
    for (const auto& c : cases) {
        FirmwareState s;
        auto& l = s.add_configured_drive(0, {1, 2, 3, 300}, 4096);
        l.unit_status = 5;
        l.replacements = {2, 130};
        l.rebuilding_drive = c.rebuilding;
        if (c.percents)
            l.rebuild_percent = {{3, 40}, {300, 99}};
        FwController fw(s);
        const Bytes b = fw.execute(bmic_read(0x12, 3265, 0, 0)).data_in;
        ASSERT_EQ(b.size(), 3265u) << c.what;
        EXPECT_EQ(b[0], 5) << c.what;
        EXPECT_EQ(b[987], c.big) << c.what;
        EXPECT_EQ(le(b, 1002, 2), c.extended) << c.what;
        const std::size_t table = le(b, 1016, 2), replacement = le(b, 1006, 2);
        EXPECT_EQ(b.at(table + 300), c.percents ? 99 : 0) << c.what;
        EXPECT_EQ((b.at(replacement + 130 / 8) >> (130 % 8)) & 1, 1) << c.what;
        EXPECT_EQ((b[811 + 2 / 8] >> 2) & 1, 1) << c.what; // the 16-byte map, drives 0-127
        EXPECT_EQ(b[811 + 130 / 8], 0) << c.what;
    }
}

TEST(SimDriveExtras, EnclosureCarriesItsUbmBlockAndSepCount) {
    FirmwareState s;
    auto& ubm = s.add_enclosure(1);
    ubm.seps = {{40, 7}, {41, 6}}; // entry 0's type is the backplane interface code
    ubm.ubm_version_major = 2;
    ubm.ubm_version_minor = 5;
    ubm.ubm_pci_vendor = 0x1D7B;
    ubm.ubm_manager_device_code = 0xA1B2C3D4;
    ubm.ubm_part_number = "UBM-PART-7";
    ubm.ubm_product = "SIM UBM BACKPLANE";
    ubm.ubm_programming_capabilities = 0x03;
    auto& zero = s.add_enclosure(2);
    zero.seps = {{0, 1}};
    auto& counted = s.add_enclosure(3);
    counted.sep_count = 0; // the library falls back to matching SEPs by box
    counted.seps = {{50, 1}};
    FwController fw(s);
    const Bytes b = fw.execute(bmic_read(0x65, 1537, 1)).data_in;
    ASSERT_EQ(b.size(), 1537u);
    EXPECT_EQ(b[324], 2);
    EXPECT_EQ(b[325], 7);
    EXPECT_EQ(le(b, 341, 4), 40u | (41u << 16));
    EXPECT_EQ(b[1276], 2);
    EXPECT_EQ(b[1277], 5);
    EXPECT_EQ(le(b, 1278, 2), 0x1D7Bu);
    EXPECT_EQ(le(b, 1280, 4), 0xA1B2C3D4u);
    EXPECT_EQ(text(b, 1284, 12), std::string("UBM-PART-7\0\0", 12));
    EXPECT_EQ(text(b, 1316, 17), "SIM UBM BACKPLANE");
    EXPECT_EQ(b[1348], 0x03);
    const Bytes z = fw.execute(bmic_read(0x65, 1537, 2)).data_in;
    EXPECT_EQ(z[324], 1);
    EXPECT_EQ(le(z, 341, 2), 0u);
    const Bytes c = fw.execute(bmic_read(0x65, 1537, 3)).data_in;
    EXPECT_EQ(c[324], 0);
    EXPECT_EQ(le(c, 341, 2), 50u);
}

TEST(SimDriveExtras, JsonFormCarriesTheNewFields) {
    const auto j = nlohmann::json::parse(R"({
        "drives": [{"number": 300, "device_type": 1, "oem_id": 3, "oem_data": "01 02 03",
                    "mnp": {"hard_read_errors": 7, "sectors_written": "0x100000000"},
                    "reported": false,
                    "scsi": {"ready": false, "vpd_serial": "VPD300", "vpd_pages": [0, 128],
                             "vpd_raw": [{"page": "0x83", "bytes": "00 83 FF FF"}], "ata_abort": true}}],
        "logical_drives": [{"number": 0, "members": [300], "blocks_per_drive": 64, "unit_status": 5,
                            "rebuilding_drive": 300}],
        "enclosures": [{"box": 0, "sep_count": 1, "ubm_version_major": 1, "ubm_version_minor": 12,
                        "ubm_manager_device_code": "0x10", "ubm_programming_capabilities": 1}],
        "patches": [{"opcode": "0xE5", "offset": 0, "bytes": "00 F0 00 00"}]
    })");
    const FirmwareState s = FirmwareState::from_json(j);
    const auto& d = *s.find_drive(300);
    EXPECT_EQ(d.oem_data, (Bytes{1, 2, 3}));
    EXPECT_EQ(d.mnp.hard_read_errors, 7u);
    EXPECT_EQ(d.mnp.sectors_written, 0x100000000ull);
    EXPECT_FALSE(d.reported);
    EXPECT_FALSE(d.scsi.ready);
    EXPECT_EQ(d.scsi.vpd_pages, (Bytes{0x00, 0x80}));
    ASSERT_EQ(d.scsi.vpd_raw.size(), 1u);
    EXPECT_EQ(d.scsi.vpd_raw[0].page, 0x83);
    EXPECT_EQ(s.find_configured_drive(0)->rebuilding_drive, 300);
    EXPECT_EQ(s.find_enclosure(0)->ubm_version_minor, 12);
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());

    FwController fw(s);
    EXPECT_EQ(le(fw.execute(mnp(300)).data_in, 96, 8), 0x100000000ull);
    Bytes oem(64, 0);
    oem[0] = 1, oem[1] = 2, oem[2] = 3;
    EXPECT_EQ(fw.execute(oem_data(300, 3)).data_in, oem);
    // The erase status whose drive-word offset points past the reply, by patch.
    const Bytes erase = fw.execute(bmic_read(0xE5, 2048)).data_in;
    EXPECT_EQ(le(erase, 0, 4), 0xF000u);
    EXPECT_LT(erase.size(), 0xF000u);

    for (const char* bad : {R"({"drives": [{"number": 1, "mnp": {"reads": 2}}]})",
                            R"({"drives": [{"number": 1, "scsi": {"ready": 1}}]})",
                            R"({"enclosures": [{"box": 1, "ubm_version": 2}]})"})
        EXPECT_THROW((void)FirmwareState::from_json(nlohmann::json::parse(bad)), std::runtime_error) << bad;
}

} // namespace
