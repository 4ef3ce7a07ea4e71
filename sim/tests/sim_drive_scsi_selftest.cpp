// Self-tests of the SCSI commands the simulated controller routes to its drives by LUN address
// (TEST UNIT READY, START STOP UNIT, INQUIRY, ATA PASS-THROUGH (16)), the link-error frames of its
// own PHYs and the SMP frames to its expanders, with their faults, and the HBA-mode drive scenario.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "fw_selftest_commands.h"
#include "selftest_util.h"

namespace {

using qvsim::Bytes;
using qvsim::Command;
using qvsim::Direction;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::le;
using selftest::text;

using Address = std::array<std::uint8_t, 8>;

// A physical device's LUN address as REPORT PHYSICAL LUNS gives it.
Address drive_address(std::uint16_t pd) {
    return {0, 0, 0, 0, 0, 0, std::uint8_t(pd), std::uint8_t((pd >> 8) + 1)};
}

Command to(const Address& lun, Bytes cdb, std::size_t data_in = 0) {
    Command c;
    c.transport = "ciss";
    c.cdb = std::move(cdb);
    c.lun_address = lun;
    c.direction = data_in ? Direction::kIn : Direction::kNone;
    c.data_in_length = data_in;
    return c;
}

Command tur(std::uint16_t pd) {
    return to(drive_address(pd), {0, 0, 0, 0, 0, 0});
}

Command inquiry(std::uint16_t pd, bool evpd, std::uint8_t page, std::uint16_t length) {
    return to(drive_address(pd), {0x12, std::uint8_t(evpd), page, std::uint8_t(length >> 8), std::uint8_t(length), 0},
              length);
}

Command ata(std::uint16_t pd, std::uint8_t protocol, std::uint8_t command, bool ck_cond) {
    Bytes cdb(16, 0);
    cdb[0] = 0x85;
    cdb[1] = std::uint8_t(protocol * 2 + 1);
    cdb[2] = ck_cond ? 0x2E : 0x0E;
    cdb[6] = 1;
    cdb[13] = 0x40;
    cdb[14] = command;
    return to(drive_address(pd), cdb, protocol == 4 ? 512 : 0);
}

// key/asc/ascq of fixed sense, or 0xFFFFFF when the reply is not CHECK CONDITION.
std::uint32_t sense_code(const Reply& r) {
    if (r.err || r.scsi_status != 2 || r.sense.size() < 14 || r.sense[0] != 0x70)
        return 0xFFFFFF;
    return (std::uint32_t(r.sense[2] & 0x0F) << 16) | (std::uint32_t(r.sense[12]) << 8) | r.sense[13];
}

FirmwareState three_drives() {
    FirmwareState s;
    auto& sata = s.add_drive(0, 1);
    sata.serial = "SATA0SERIAL";
    sata.firmware = "SF01";
    sata.vendor = "QVS";
    sata.model = "SATA-DISK";
    sata.wwid = std::array<std::uint8_t, 20>{0x50, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
    auto& sas = s.add_drive(300, 2);
    sas.serial = "SAS300";
    sas.scsi.ready = false;
    s.add_drive(7, 2).reported = false;
    s.add_drive(64, 6); // a SEP
    return s;
}

TEST(SimDriveScsi, CommandsReachTheDriveTheirLunAddressNames) {
    FwController fw(three_drives());
    const struct {
        const char* what;
        Command cmd;
        std::uint32_t sense;
    } cases[] = {
        {"ready drive", tur(0), 0xFFFFFF},
        {"drive 300, not ready", tur(300), 0x020402},
        {"the controller's own address", to(Address{}, {0, 0, 0, 0, 0, 0}), 0x052000},
        {"a drive left out of REPORT PHYSICAL LUNS", tur(7), 0x052000},
        {"an address of no device", tur(5), 0x052000},
        {"START STOP UNIT to a SEP", to(drive_address(64), {0x1B, 0, 0, 0, 1, 0}), 0x052000},
        {"ATA to a SAS drive", ata(300, 4, 0xEC, false), 0x052000},
        {"standard INQUIRY with a page code", inquiry(0, false, 0x80, 64), 0x052400},
        {"VPD page the drive does not list", inquiry(0, true, 0x86, 64), 0x052400},
    };
    for (const auto& c : cases) {
        const Reply r = fw.execute(c.cmd);
        EXPECT_EQ(r.err, 0) << c.what;
        EXPECT_EQ(sense_code(r), c.sense) << c.what;
        if (c.sense == 0xFFFFFF) {
            EXPECT_EQ(r.scsi_status, 0) << c.what;
        }
    }
}

TEST(SimDriveScsi, StartStopUnitStopsAndStartsTheDrive) {
    FwController fw(three_drives());
    const Bytes stop = {0x1B, 1, 0, 0, 0, 0}, start = {0x1B, 0, 0, 0, 1, 0};
    EXPECT_EQ(fw.execute(to(drive_address(0), stop)).scsi_status, 0);
    EXPECT_EQ(sense_code(fw.execute(tur(0))), 0x020402u);
    EXPECT_EQ(fw.fw_state().find_drive(0)->scsi.power_condition, 2);
    EXPECT_EQ(fw.execute(to(drive_address(0), start)).scsi_status, 0);
    EXPECT_EQ(fw.execute(tur(0)).scsi_status, 0);
}

TEST(SimDriveScsi, InquiryAnswersStandardDataAndVpdPagesCutToTheAllocation) {
    FirmwareState s = three_drives();
    s.find_drive(300)->scsi.vpd_raw = {{0x80, {0x00, 0x80, 0xFF, 0xFF, 'S'}}}; // a page length of 0xFFFF
    FwController fw(s);
    Bytes b = fw.execute(inquiry(0, false, 0, 5)).data_in;
    ASSERT_EQ(b.size(), 5u);
    EXPECT_EQ(b[4], 91) << "additional length of 96 bytes";
    b = fw.execute(inquiry(0, false, 0, 255)).data_in;
    ASSERT_EQ(b.size(), 96u);
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(text(b, 8, 8), "ATA     ") << "a SATA drive behind the translation";
    EXPECT_EQ(text(b, 16, 16), "SATA-DISK       ");
    EXPECT_EQ(text(b, 32, 4), "SF01");
    EXPECT_EQ(fw.execute(inquiry(64, false, 0, 36)).data_in.at(0), 0x0D) << "a SEP";

    EXPECT_EQ(fw.execute(inquiry(0, true, 0x00, 255)).data_in, (Bytes{0, 0x00, 0, 3, 0x00, 0x80, 0x83}));
    b = fw.execute(inquiry(0, true, 0x80, 4)).data_in;
    EXPECT_EQ(b, (Bytes{0, 0x80, 0, 11}));
    EXPECT_EQ(text(fw.execute(inquiry(0, true, 0x80, 255)).data_in, 4, 11), "SATA0SERIAL");
    EXPECT_EQ(fw.execute(inquiry(0, true, 0x83, 255)).data_in,
              (Bytes{0, 0x83, 0, 12, 0x01, 0x03, 0x00, 0x08, 0x50, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    EXPECT_EQ(fw.execute(inquiry(300, true, 0x80, 4)).data_in, (Bytes{0x00, 0x80, 0xFF, 0xFF}));
}

TEST(SimDriveScsi, AtaPassThroughIdentifiesASataDriveAndReportsItsRegisters) {
    FirmwareState s = three_drives();
    FwController fw(s);
    Reply r = fw.execute(ata(0, 4, 0xEC, false));
    EXPECT_EQ(r.scsi_status, 0);
    ASSERT_EQ(r.data_in.size(), 512u);
    const Bytes& id = r.data_in;
    EXPECT_EQ(std::string({char(id[21]), char(id[20]), char(id[23]), char(id[22])}), "SATA") << "word 10 on";
    EXPECT_EQ(le(id, 200, 8), 585937500u);
    EXPECT_EQ(le(id, 216, 2), 0x5001u) << "WWN word 108";
    std::uint8_t sum = 0;
    for (auto x : id)
        sum = std::uint8_t(sum + x);
    EXPECT_EQ(sum, 0) << "checksum word";
    EXPECT_EQ(id[510], 0xA5);

    // With CK_COND the registers come back in an ATA status return descriptor.
    r = fw.execute(ata(0, 3, 0xE7, true));
    ASSERT_EQ(r.scsi_status, 2);
    ASSERT_EQ(r.sense.size(), 22u);
    EXPECT_EQ(Bytes(r.sense.begin(), r.sense.begin() + 10), (Bytes{0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C}));
    EXPECT_EQ(r.sense[11], 0x00) << "error";
    EXPECT_EQ(r.sense[21], 0x50) << "status";
    EXPECT_EQ(fw.execute(ata(0, 3, 0xE7, false)).scsi_status, 0);
    r = fw.execute(ata(0, 4, 0xB0, false)); // a data command it does not take
    ASSERT_EQ(r.sense.size(), 22u);
    EXPECT_EQ(r.sense[1], 0x0B);
    EXPECT_EQ(r.sense[11], 0x04);
    EXPECT_EQ(r.sense[21], 0x51);
    fw.fw_state().find_drive(0)->scsi.ata_abort = true;
    EXPECT_EQ(fw.execute(ata(0, 4, 0xEC, false)).sense.at(21), 0x51);
}

TEST(SimDriveScsi, FaultsHitTheRoutedDrive) {
    FirmwareState s = three_drives();
    s.add_drive(1, 2);
    qvsim::FwFault probe;
    probe.scsi = 0x12;
    probe.device = 1;
    probe.sense = qvsim::fixed_sense(0x06, 0x29, 0x00);
    s.faults.push_back(probe);
    qvsim::FwFault lost;
    lost.scsi = 0x00;
    lost.device = 0;
    lost.count = 0;
    lost.err = EIO;
    s.faults.push_back(lost);
    FwController fw(s);
    EXPECT_EQ(fw.execute(inquiry(0, false, 0, 5)).scsi_status, 0);
    EXPECT_EQ(sense_code(fw.execute(inquiry(1, false, 0, 5))), 0x062900u);
    EXPECT_EQ(fw.execute(inquiry(1, false, 0, 5)).scsi_status, 0) << "once";
    EXPECT_EQ(fw.execute(tur(0)).err, EIO);
    EXPECT_EQ(fw.execute(tur(0)).err, EIO);
    EXPECT_EQ(fw.execute(tur(1)).err, 0);
}

// An SSP frame tunnelled in BMIC 0x68 reaches the drive its bLun names.
TEST(SimDriveScsi, TunnelledFramesReachTheDriveToo) {
    FwController fw(three_drives());
    Bytes frame(372, 0);
    qvsim::put_le32(&frame[0], 28);
    qvsim::put_le32(&frame[16], 24);
    qvsim::put_le32(&frame[24], 372 - 28);
    const Address lun = drive_address(300);
    std::memcpy(&frame[40], lun.data(), 8);
    frame[48] = 6;
    qvsim::put_le32(&frame[68], 4);
    Command c = bmic_read(0x68, 372);
    c.cdb[0] = 0x27;
    c.cdb[5] = 0x18;
    c.direction = Direction::kOut;
    c.data_out = frame;
    const Reply r = fw.execute(c);
    ASSERT_EQ(r.scsi_status, 0);
    ASSERT_EQ(r.data_in.size(), 372u);
    EXPECT_EQ(r.data_in[105], 2) << "the drive is not ready";
    EXPECT_EQ(r.data_in[104], 2);
    EXPECT_EQ(r.data_in[108 + 2], 0x02);
}

// The tool's link-error frame: 27 00 00 00 00 16 68 00 30 ..., 48 bytes in and out.
Command link_errors(std::uint8_t phy, bool reset = false) {
    Bytes f(48, 0);
    qvsim::put_le32(&f[0], 28);
    qvsim::put_le32(&f[12], 60);
    qvsim::put_le32(&f[16], 22);
    qvsim::put_le32(&f[24], 20);
    f[28] = phy;
    f[29] = reset;
    Command c = bmic_read(0x68, 48);
    c.cdb[0] = 0x27;
    c.cdb[5] = 0x16;
    c.direction = Direction::kBoth;
    c.data_out = f;
    return c;
}

TEST(SimPhyFrames, LinkErrorFramesAnswerEachControllerPhy) {
    FirmwareState s; // two internal and one external connector of 4 PHYs: 12 PHYs
    s.phy_errors.resize(4);
    s.phy_errors[0].phy = 0;
    s.phy_errors[0].invalid_dword = 3;
    s.phy_errors[0].running_disparity = 4;
    s.phy_errors[0].loss_of_sync = 5;
    s.phy_errors[0].phy_reset_problem = 6;
    s.phy_errors[1].phy = 2;
    s.phy_errors[1].return_code = 1;
    s.phy_errors[2].phy = 5;
    s.phy_errors[2].err = EIO;
    s.phy_errors[3].phy = 6;
    s.phy_errors[3].sense = qvsim::fixed_sense(0x04, 0x44, 0x00);
    qvsim::FwFault second;
    second.bmic = 0x68;
    second.function = 22;
    second.nth = 2;
    second.sense = qvsim::fixed_sense(0x0B, 0x00, 0x00);
    FwController fw(s);
    Reply r = fw.execute(link_errors(0, true));
    ASSERT_EQ(r.scsi_status, 0);
    ASSERT_EQ(r.data_in.size(), 48u);
    EXPECT_EQ(le(r.data_in, 16, 4), 22u) << "the header comes back";
    EXPECT_EQ(le(r.data_in, 20, 4), 0u);
    EXPECT_EQ(le(r.data_in, 28, 1), 0u);
    EXPECT_EQ(le(r.data_in, 32, 4), 3u);
    EXPECT_EQ(le(r.data_in, 36, 4), 4u);
    EXPECT_EQ(le(r.data_in, 40, 4), 5u);
    EXPECT_EQ(le(r.data_in, 44, 4), 6u);
    EXPECT_EQ(le(fw.execute(link_errors(0)).data_in, 32, 4), 0u) << "counts were reset";
    EXPECT_EQ(le(fw.execute(link_errors(1)).data_in, 20, 4), 0u);
    EXPECT_EQ(le(fw.execute(link_errors(2)).data_in, 20, 4), 1u);
    EXPECT_EQ(fw.execute(link_errors(5)).err, EIO);
    EXPECT_EQ(sense_code(fw.execute(link_errors(6))), 0x044400u);
    EXPECT_EQ(le(fw.execute(link_errors(11)).data_in, 20, 4), 0u);
    EXPECT_EQ(le(fw.execute(link_errors(12)).data_in, 20, 4), 3u) << "past the last PHY";
    Command short_frame = link_errors(1);
    short_frame.data_out.resize(40);
    EXPECT_EQ(sense_code(fw.execute(short_frame)), 0x052600u);

    fw.fw_state().faults.push_back(second);
    EXPECT_EQ(fw.execute(link_errors(1)).scsi_status, 0);
    EXPECT_EQ(sense_code(fw.execute(link_errors(1))), 0x0B0000u);
}

Command smp(const std::array<std::uint8_t, 20>& to, std::uint8_t function, std::uint8_t phy = 0) {
    Bytes f(2092, 0);
    qvsim::put_le32(&f[0], 28);
    qvsim::put_le32(&f[16], 23);
    qvsim::put_le32(&f[24], 2064);
    std::memcpy(&f[32], to.data(), 8);
    qvsim::put_le32(&f[40], 8);
    f[44] = 0x40;
    f[45] = function;
    f[48 + 5] = phy;
    Command c = bmic_read(0x68, 2092);
    c.cdb[0] = 0x27;
    c.cdb[5] = 0x17;
    c.direction = Direction::kBoth;
    c.data_out = f;
    return c;
}

TEST(SimPhyFrames, SmpFramesReachExpandersOnPqiAndSisOnly) {
    FirmwareState s;
    auto& e = s.add_drive(40, 5);
    e.phys = {{.logical_rate = 0x0B}, {.logical_rate = 0x0A}, {.connected_type = 0xFF}};
    const auto sas = qvsim::fw_drive_wwid(e);
    FwController fw(s);
    for (auto p : {qvsim::Protocol::kPqi, qvsim::Protocol::kSis}) {
        qvsim::Controller c;
        c.protocol = p;
        fw.bind(&c);
        Reply r = fw.execute(smp(sas, 0x00));
        ASSERT_EQ(r.data_in.size(), 2092u);
        EXPECT_EQ(Bytes(r.data_in.begin() + 1072, r.data_in.begin() + 1076), (Bytes{0x41, 0x00, 0x00, 7}));
        EXPECT_EQ(r.data_in[1076 + 5], 3) << "number of phys";
        r = fw.execute(smp(sas, 0x10, 1));
        EXPECT_EQ(r.data_in[1074], 0);
        EXPECT_EQ(r.data_in[1076 + 5], 1);
        EXPECT_EQ(r.data_in[1076 + 9], 0x0A);
        EXPECT_EQ(Bytes(r.data_in.begin() + 1076 + 12, r.data_in.begin() + 1076 + 20), Bytes(sas.begin(), sas.begin() + 8));
        EXPECT_EQ(fw.execute(smp(sas, 0x10, 3)).data_in[1074], 0x10) << "no such phy";
        EXPECT_EQ(fw.execute(smp(std::array<std::uint8_t, 20>{0x99}, 0x00)).data_in.at(1064), 1)
            << "nobody at that address";
        fw.bind(nullptr);
    }
    qvsim::Controller ciss;
    ciss.protocol = qvsim::Protocol::kCiss;
    fw.bind(&ciss);
    EXPECT_EQ(sense_code(fw.execute(smp(sas, 0x00))), 0x052400u);
    fw.bind(nullptr);
}

// The HBA-mode drive scenario: its controller reports what the drive commands read.
TEST(SimDriveScsi, ShippedHbaScenarioDescribesItsDrivesAndPhys) {
    const std::string here = QVSIM_SELFTEST_DIR "/"; // absolute, whatever the compiler launcher does to paths
    const auto sc = qvsim::Scenario::load(here.substr(0, here.rfind('/')) + "/../scenarios/hba_link_faults.json");
    ASSERT_EQ(sc.controllers.size(), 1u);
    auto fw = std::dynamic_pointer_cast<FwController>(sc.controllers[0].firmware);
    ASSERT_TRUE(fw);
    const Bytes id = fw->execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(text(id, 200, 4), "ZOLT");
    EXPECT_EQ(le(id, 156, 2), 16u) << "devices supported";
    EXPECT_EQ(le(id, 166, 2), 0u) << "no non-disk map";
    EXPECT_EQ(id.at(le(id, 162, 2)), 0x03) << "drives 0 and 1 present";
    const Bytes params = fw->execute(bmic_read(0x64, 344)).data_in;
    EXPECT_EQ(params.at(123), 0x08);
    const Bytes pd1 = fw->execute(bmic_read(0x15, 3072, 1u << 24)).data_in;
    EXPECT_EQ(text(pd1, 112, 2), "1I");
    EXPECT_EQ(pd1[114], 1);
    EXPECT_EQ(pd1[115], 5);
    EXPECT_EQ(pd1[120], 1);
    EXPECT_EQ(pd1[2031], 0x0A);
    EXPECT_EQ(pd1[1224], 0x09);
    const Bytes luns = fw->execute(selftest::report_luns(0xC3, 1024)).data_in;
    EXPECT_EQ(le(luns, 0, 1) << 24 | le(luns, 1, 1) << 16 | le(luns, 2, 1) << 8 | le(luns, 3, 1), 48u);
    EXPECT_EQ(fw->execute(tur(1)).scsi_status, 0);
    EXPECT_EQ(le(fw->execute(link_errors(0)).data_in, 32, 4), 3u);
    EXPECT_EQ(fw->execute(link_errors(5)).err, EIO);
    EXPECT_EQ(le(fw->execute(link_errors(7)).data_in, 20, 4), 0u);
    EXPECT_EQ(le(fw->execute(link_errors(8)).data_in, 20, 4), 3u);
}

class SimDriveScsiHost : public qvsim::SimHostTest {};

// Through the CISS pass-through: a TEST UNIT READY at drive 1's LUN address is the drive's.
TEST_F(SimDriveScsiHost, PassThroughRoutesByTheRecordsLunAddress) {
    const std::string here = QVSIM_SELFTEST_DIR "/"; // absolute, whatever the compiler launcher does to paths
    auto sc = qvsim::Scenario::load(here.substr(0, here.rfind('/')) + "/../scenarios/hba_link_faults.json");
    std::dynamic_pointer_cast<FwController>(sc.controllers[0].firmware)->fw_state().find_drive(1)->scsi.ready =
        false;
    ASSERT_NO_FATAL_FAILURE(StartHost(sc));
    const int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    auto send_tur = [&](std::uint16_t pd) {
        IOCTL_Command_struct io{};
        const Address a = drive_address(pd);
        std::memcpy(&io.LUN_info, a.data(), 8);
        io.Request.CDBLen = 6;
        io.Request.Type.Type = TYPE_CMD;
        io.Request.Type.Attribute = ATTR_SIMPLE;
        io.Request.Type.Direction = XFER_NONE;
        EXPECT_EQ(::ioctl(fd, CCISS_PASSTHRU, &io), 0);
        return io;
    };
    const auto ok = send_tur(0);
    const auto not_ready = send_tur(1);
    ::close(fd);
    EXPECT_EQ(ok.error_info.ScsiStatus, 0);
    EXPECT_EQ(not_ready.error_info.ScsiStatus, 2);
    EXPECT_EQ(not_ready.error_info.SenseInfo[2] & 0x0F, 2);
}

} // namespace
