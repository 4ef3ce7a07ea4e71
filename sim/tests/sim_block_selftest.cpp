// Self-tests of the simulated host block volumes and CSMI node: the sysfs layout, the SCSI and
// block requests on the volume nodes, the mount tables, and the CSMI buffers byte by byte.
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "qvsim/block.h"
#include "qvsim/csmi.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"
#include "qvsim/script.h"

namespace {

using selftest::exists;
using selftest::read_file;
using selftest::real_path;

using Bytes = std::vector<std::uint8_t>;
using qvsim::BlockDevice;
using qvsim::CsmiNode;
using qvsim::Scenario;
namespace csmi = qvsim::csmi;

constexpr char kCtl[] = "0000:3b:00.0";
constexpr char kCtlPath[] = "/sys/devices/pci0000:00/0000:3b:00.0";

std::string link_text(const std::string& path) {
    char buf[PATH_MAX] = {};
    ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

// Opens `node`, sends one request, closes; 0 or the errno.
int send(const std::string& node, unsigned long request, void* arg) {
    int fd = ::open(node.c_str(), O_RDONLY);
    if (fd < 0)
        return errno;
    errno = 0;
    int rc = ::ioctl(fd, request, arg);
    int err = rc == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

struct SgResult {
    int err = 0;
    int status = 0;
    Bytes data; // the bytes moved
    Bytes sense;
};

SgResult sg_inquiry(const std::string& node, Bytes cdb, std::size_t room = 96) {
    Bytes data(room, 0xEE), sense(32, 0);
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.cmdp = cdb.data();
    h.dxfer_len = static_cast<unsigned>(room);
    h.dxferp = data.data();
    h.mx_sb_len = static_cast<unsigned char>(sense.size());
    h.sbp = sense.data();
    h.timeout = 30000;
    SgResult r;
    r.err = send(node, SG_IO, &h);
    r.status = h.status;
    data.resize(room - static_cast<std::size_t>(h.resid));
    r.data = data;
    r.sense.assign(sense.begin(), sense.begin() + h.sb_len_wr);
    return r;
}

Bytes vpd(std::uint8_t page) {
    return {0x12, 0x01, page, 0x00, 0x60, 0x00};
}

// A host with one controller, a volume of it with two partitions, and volumes elsewhere.
Scenario volumes() {
    Scenario s;
    s.add_ciss("qzvk", kCtl, 2, 1);
    auto& v = qvsim::add_volume(s, kCtl, "sdb", 16);
    v.size = 4194304;
    v.unique_id = "600508B1001C5A2B3C4D5E6F70819203";
    v.naa = "600508B1001C5A2B3C4D5E6F70819203";
    v.identity = qvsim::AtaIdentity{.serial = "ATASER01", .wwn = "5000C500A1B2C3D4"};
    v.partitions = {{.number = 1, .start = 2048, .size = 4096}, {.number = 2, .start = 8192}};

    BlockDevice ata; // a disk of another host adapter
    ata.name = "sdc";
    ata.minor = 32;
    ata.removable = "1";
    ata.model = std::nullopt;
    qvsim::add_block_device(s, ata);

    BlockDevice cciss; // a name with "!" whose last character is a digit
    cciss.name = "cciss!c0d0";
    cciss.major = 104;
    cciss.minor = 0;
    cciss.controller = kCtl;
    cciss.target = 1;
    cciss.partitions = {{.number = 1, .start = 63, .size = 100}};
    qvsim::add_block_device(s, cciss);

    BlockDevice loop;
    loop.name = "loop0";
    loop.major = 7;
    loop.minor = 0;
    loop.scsi_device = false;
    qvsim::add_block_device(s, loop);

    BlockDevice old;
    old.name = "sdd";
    old.minor = 48;
    old.controller = kCtl;
    old.target = 2;
    old.legacy_directory = true;
    qvsim::add_block_device(s, old);

    s.mounts.push_back({"/dev/sdb1", "data"});
    s.mounts.push_back({"/dev/sdb1", "again"});
    s.fstab += "/dev/sdb2 swap swap defaults 0 0\n";
    return s;
}

class SimBlock : public qvsim::SimHostTest {};

TEST_F(SimBlock, VolumesLieInSysfsWhereLinuxPutsThem) {
    ASSERT_NO_FATAL_FAILURE(StartHost(volumes()));
    const std::string ctl = kCtlPath;
    const std::string sdev = ctl + "/host2/target2:0:0/2:0:0:1";

    EXPECT_EQ(link_text("/sys/block/sdb"),
              "../devices/pci0000:00/0000:3b:00.0/host2/target2:0:0/2:0:0:1/block/sdb");
    EXPECT_EQ(real_path("/sys/block/sdb"), sdev + "/block/sdb");
    EXPECT_EQ(real_path("/sys/block/sdb/device"), sdev);
    EXPECT_EQ(read_file("/sys/block/sdb/size"), "4194304\n");
    EXPECT_EQ(read_file("/sys/block/sdb/removable"), "0\n");
    EXPECT_EQ(read_file("/sys/block/sdb/dev"), "8:16\n");
    EXPECT_EQ(read_file("/sys/block/sdb/queue/logical_block_size"), "512\n");
    EXPECT_EQ(read_file(sdev + "/unique_id"), "600508B1001C5A2B3C4D5E6F70819203\n");
    EXPECT_EQ(read_file(sdev + "/vendor"), "QVSIM\n");
    EXPECT_EQ(read_file(sdev + "/model"), "LOGICAL VOLUME\n");
    EXPECT_EQ(read_file("/sys/block/sdb/sdb1/start"), "2048\n");
    EXPECT_EQ(read_file("/sys/block/sdb/sdb1/size"), "4096\n");
    EXPECT_EQ(read_file("/sys/block/sdb/sdb2/size"), std::to_string(4194304 - 8192) + "\n");
    // The controller's own SCSI generic device is still there beside the volume.
    EXPECT_EQ(read_file(ctl + "/host2/target2:0:0/2:0:0:0/type"), "12\n");

    // Elsewhere: below another adapter, or virtual with no SCSI device at all.
    EXPECT_EQ(real_path("/sys/block/sdc").find(ctl), std::string::npos);
    EXPECT_EQ(read_file("/sys/block/sdc/removable"), "1\n");
    EXPECT_FALSE(exists(real_path("/sys/block/sdc/device") + "/model"));
    EXPECT_EQ(real_path("/sys/block/loop0"), "/sys/devices/virtual/block/loop0");
    EXPECT_FALSE(exists("/sys/block/loop0/device"));

    // "!" stays in sysfs and becomes "/" in /dev; a digit-ending name gets "p" before the number.
    EXPECT_EQ(real_path("/sys/block/cciss!c0d0/device"), ctl + "/host2/target2:0:1/2:0:1:0");
    EXPECT_EQ(read_file("/sys/block/cciss!c0d0/cciss!c0d0p1/start"), "63\n");

    // Old sysfs: a real directory with a device link.
    struct stat st {};
    ASSERT_EQ(::lstat("/sys/block/sdd", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(real_path("/sys/block/sdd/device"), ctl + "/host2/target2:0:2/2:0:2:0");
    EXPECT_EQ(read_file("/sys/block/sdd/size"), "2097152\n");

    const struct {
        const char* node;
        unsigned major, minor;
    } nodes[] = {{"/dev/sdb", 8, 16},  {"/dev/sdb1", 8, 17},        {"/dev/sdb2", 8, 18},
                 {"/dev/sdc", 8, 32},  {"/dev/cciss/c0d0", 104, 0}, {"/dev/cciss/c0d0p1", 104, 1},
                 {"/dev/loop0", 7, 0}, {"/dev/sdd", 8, 48}};
    for (const auto& n : nodes) {
        ASSERT_EQ(::stat(n.node, &st), 0) << n.node;
        EXPECT_TRUE(S_ISBLK(st.st_mode)) << n.node;
        EXPECT_EQ(st.st_rdev, makedev(n.major, n.minor)) << n.node;
        EXPECT_NE(host().device(n.node), nullptr) << n.node << " would open a real disk";
    }
}

TEST_F(SimBlock, MountTablesShowTheVolumesPartitions) {
    ASSERT_NO_FATAL_FAILURE(StartHost(volumes()));
    const std::string mtab = read_file("/etc/mtab");
    EXPECT_NE(mtab.find("/dev/sdb1 " + host().mount_point("data") + " tmpfs"), std::string::npos) << mtab;
    EXPECT_NE(mtab.find("/dev/sdb1 " + host().mount_point("again") + " tmpfs"), std::string::npos) << mtab;
    EXPECT_NE(read_file("/etc/fstab").find("\n/dev/sdb2 swap swap defaults 0 0\n"), std::string::npos);
}

TEST_F(SimBlock, SgIoAnswersInquiryAndTheListedVpdPages) {
    Scenario s = volumes();
    s.block_devices[0].serial = "  PDNLH0BRH9W0QX ";
    // sdc lists page 0x83 but has no designator; its page 0x00 claims more entries than it holds.
    s.block_devices[1].vpd_raw[0x00] = {0x00, 0x00, 0x00, 0xFF, 0x00, 0x83};
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    SgResult r = sg_inquiry("/dev/sdb", {0x12, 0, 0, 0, 0x60, 0});
    ASSERT_EQ(r.err, 0);
    ASSERT_EQ(r.data.size(), 96u);
    EXPECT_EQ(r.data[0], 0x00);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 32), "QVSIM   LOGICAL VOLUME  ");

    r = sg_inquiry("/dev/sdb", vpd(0x00));
    EXPECT_EQ(r.data, (Bytes{0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}));
    r = sg_inquiry("/dev/sdb", vpd(0x80));
    ASSERT_EQ(r.data.size(), 4u + 17);
    EXPECT_EQ(r.data[3], 17);
    EXPECT_EQ(std::string(r.data.begin() + 4, r.data.end()), "  PDNLH0BRH9W0QX ");
    r = sg_inquiry("/dev/sdb", vpd(0x83));
    ASSERT_EQ(r.data.size(), 24u);
    EXPECT_EQ(qvsim::hex_bytes(r.data.data(), r.data.size()),
              "00 83 00 14 01 03 00 10 60 05 08 B1 00 1C 5A 2B 3C 4D 5E 6F 70 81 92 03");
    // The CDB's allocation length cuts the reply, as a device does.
    r = sg_inquiry("/dev/sdb", {0x12, 0x01, 0x83, 0x00, 0x08, 0x00});
    EXPECT_EQ(r.data.size(), 8u);

    r = sg_inquiry("/dev/sdc", vpd(0x00));
    EXPECT_EQ(r.data, (Bytes{0x00, 0x00, 0x00, 0xFF, 0x00, 0x83}));
    r = sg_inquiry("/dev/sdc", vpd(0x83));
    EXPECT_EQ(r.data, (Bytes{0x00, 0x83, 0x00, 0x00}));
    // Unlisted page and other commands: CHECK CONDITION, ILLEGAL REQUEST.
    r = sg_inquiry("/dev/loop0", vpd(0xB0));
    EXPECT_EQ(r.status, 2);
    ASSERT_GE(r.sense.size(), 14u);
    EXPECT_EQ(r.sense[2], 0x05);
    EXPECT_EQ(r.sense[12], 0x24);
    r = sg_inquiry("/dev/sdb", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.sense[12], 0x20);

    // A per-device fault fails the request on that node only.
    host().device("/dev/sdc")->add_fault({.request = SG_IO, .count = 0, .err = EIO});
    EXPECT_EQ(sg_inquiry("/dev/sdc", vpd(0x00)).err, EIO);
    EXPECT_EQ(sg_inquiry("/dev/sdb", vpd(0x00)).err, 0);
}

TEST_F(SimBlock, BlockIoctlsDecodeWithTheKernelRecords) {
    ASSERT_NO_FATAL_FAILURE(StartHost(volumes()));

    std::uint8_t id[512];
    std::memset(id, 0xEE, sizeof id);
    ASSERT_EQ(send("/dev/sdb", HDIO_GET_IDENTITY, id), 0);
    const auto* drive = reinterpret_cast<const hd_driveid*>(id);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(drive->serial_no), 20), "ATASER01            ");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(drive->model), 15), "QVSIM SATA DISK");
    EXPECT_EQ(drive->words104_125[4], 0x5000) << "word 108";
    EXPECT_EQ(drive->words104_125[5], 0xC500);
    EXPECT_EQ(drive->words104_125[6], 0xA1B2);
    EXPECT_EQ(drive->words104_125[7], 0xC3D4);
    EXPECT_EQ(send("/dev/sdc", HDIO_GET_IDENTITY, id), ENOTTY) << "no ATA identity";

    hd_geometry g{};
    ASSERT_EQ(send("/dev/sdb", HDIO_GETGEO, &g), 0);
    EXPECT_EQ(g.heads, 255);
    EXPECT_EQ(g.sectors, 63);
    EXPECT_EQ(g.cylinders, 4194304 / (255 * 63));
    EXPECT_EQ(g.start, 0u);
    ASSERT_EQ(send("/dev/sdb2", HDIO_GETGEO, &g), 0);
    EXPECT_EQ(g.start, 8192u);

    int logical = 0;
    unsigned physical = 0;
    ASSERT_EQ(send("/dev/sdb", BLKSSZGET, &logical), 0);
    EXPECT_EQ(logical, 512);
    ASSERT_EQ(send("/dev/sdb", BLKPBSZGET, &physical), 0);
    EXPECT_EQ(physical, 4096u);

    // Each request can be failed on its own; the others still answer.
    const unsigned long requests[] = {HDIO_GET_IDENTITY, HDIO_GETGEO, BLKSSZGET, BLKPBSZGET, SG_IO};
    for (unsigned long request : requests) {
        host().device("/dev/sdb")->add_fault({.request = request, .err = EIO});
        std::uint8_t buf[512] = {};
        sg_io_hdr_t h{};
        void* arg = request == SG_IO ? static_cast<void*>(&h) : static_cast<void*>(buf);
        EXPECT_EQ(send("/dev/sdb", request, arg), EIO) << std::hex << request;
        EXPECT_EQ(send("/dev/sdb", BLKSSZGET, &logical), 0) << std::hex << request;
        EXPECT_EQ(send("/dev/sdb", request, arg), request == SG_IO ? ENOSYS : 0) << "fails once";
    }
    EXPECT_EQ(send("/dev/sdb", HDIO_GETGEO, nullptr), EFAULT);
    host().device("/dev/sdb")->add_fault({.on_open = true, .err = EACCES});
    EXPECT_EQ(send("/dev/sdb", BLKSSZGET, &logical), EACCES);

    const auto reqs = host().requests("/dev/sdb");
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs[1].name, "HDIO_GET_IDENTITY");
}

// --- CSMI ------------------------------------------------------------------------------------

constexpr char kOwn[] = "5001D7A000000000";
constexpr char kDisk1[] = "5000C50000000001";
constexpr char kDisk2[] = "5000C50000000002";
constexpr char kSes[] = "5000C500000000E0";
constexpr char kExpA[] = "500605B000000010";
constexpr char kExpB[] = "500605B000000020";

// Controller phy 0: disk 1; phy 1: expander A. A: back to us, disk 2, B; B: A again (a cycle),
// an enclosure, and a phy with nothing attached.
CsmiNode topology() {
    CsmiNode n;
    n.sas_address = kOwn;
    n.add_end_device(kDisk1).product = "SIM SAS DISK 16C"; // fills the 16-byte field
    n.add_end_device(kDisk2);
    n.add_end_device(kSes, 13).product = "SIM ENCLOSURE";
    n.add_expander(kExpA).phys = {
        {.attached = kOwn, .attached_phy = 1}, {.attached = kDisk2}, {.attached = kExpB}};
    n.add_expander(kExpB, qvsim::kSasFanoutExpander).phys = {
        {.attached = kExpA, .attached_phy = 2}, {.attached = kSes, .virtual_phy = true}, {}};
    n.phy(kDisk1).phy(kExpA);
    return n;
}

Bytes csmi_buffer(std::size_t size) {
    Bytes b(size, 0);
    qvsim::put_le64(b.data() + csmi::hdr::kLength, size);
    qvsim::put_le64(b.data() + csmi::hdr::kTimeout, 60);
    return b;
}

std::string address_at(const Bytes& b, std::size_t off) {
    std::string s;
    char d[3];
    for (std::size_t i = 0; i < 8; ++i) {
        std::snprintf(d, sizeof d, "%02X", b[off + i]);
        s += d;
    }
    return s;
}

void put_address(Bytes& b, std::size_t off, const std::string& a) {
    const auto bytes = qvsim::sas_address_bytes(a);
    std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(off));
}

Bytes smp(const std::string& to, std::uint8_t function, std::uint8_t phy = 0) {
    Bytes b = csmi_buffer(csmi::kSmpSize);
    put_address(b, csmi::smp::kDestination, to);
    b[csmi::smp::kRequest] = 0x40;
    b[csmi::smp::kRequest + 1] = function;
    const std::size_t additional = function == 0x10 ? 8 : 0;
    qvsim::put_le64(b.data() + csmi::smp::kRequestLength, additional);
    b[csmi::smp::kRequest + 9] = phy;
    return b;
}

Bytes ssp_inquiry(const std::string& to, std::size_t data = 116) {
    Bytes b = csmi_buffer(csmi::kSspSize + data);
    put_address(b, csmi::ssp::kDestination, to);
    put_address(b, csmi::ssp::kLun, to);
    const Bytes cdb = {0x12, 0, 0, static_cast<std::uint8_t>(data >> 8), static_cast<std::uint8_t>(data), 0};
    b[csmi::ssp::kCdbLength] = static_cast<std::uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), b.begin() + csmi::ssp::kCdb);
    qvsim::put_le64(b.data() + csmi::ssp::kFlags, csmi::ssp::kFlagRead);
    qvsim::put_le64(b.data() + csmi::ssp::kDataLength, data);
    return b;
}

class SimCsmi : public qvsim::SimHostTest {
protected:
    void Start(CsmiNode n = topology()) {
        Scenario s;
        qvsim::add_csmi_node(s, std::move(n));
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
    }
    int Send(unsigned long code, Bytes& b) {
        int fd = ::open("/dev/csmi0", O_RDWR);
        if (fd < 0)
            return errno;
        int rc = ::ioctl(fd, code, b.data());
        int err = rc == 0 ? 0 : errno;
        ::close(fd);
        return err;
    }
};

TEST_F(SimCsmi, InformationBuffersCarryEachFieldAtItsOffset) {
    CsmiNode n = topology();
    n.config.serial_number = "HBA-SERIAL-42";
    n.config.board_id = 0x11223344;
    n.status = 2;
    n.offline_reason = 7;
    ASSERT_NO_FATAL_FAILURE(Start(n));

    Bytes drv = csmi_buffer(csmi::kDriverInfoSize);
    qvsim::put_le64(drv.data(), 5); // IOControllerNumber, left as sent
    ASSERT_EQ(Send(csmi::kDriverInfo, drv), 0);
    EXPECT_EQ(selftest::le(drv, csmi::hdr::kControllerNumber, 8), 5u);
    EXPECT_EQ(selftest::le(drv, csmi::hdr::kReturnCode, 8), 0u);
    EXPECT_EQ(selftest::text(drv, csmi::drv::kName, 7), std::string("qvcsmi\0", 7));
    EXPECT_EQ(selftest::text(drv, csmi::drv::kDescription, 20), "QVSIM SAS HBA driver");
    EXPECT_EQ(selftest::le(drv, csmi::drv::kMajor, 2), 1);
    EXPECT_EQ(selftest::le(drv, csmi::drv::kRelease, 2), 4);
    EXPECT_EQ(selftest::le(drv, csmi::drv::kCsmiMinor, 2), 90);

    Bytes cfg = csmi_buffer(csmi::kControllerConfigSize);
    ASSERT_EQ(Send(csmi::kControllerConfig, cfg), 0);
    EXPECT_EQ(selftest::le(cfg, csmi::cfg::kBoardId, 4), 0x11223344u);
    EXPECT_EQ(selftest::le(cfg, csmi::cfg::kSlotNumber, 2), 3);
    EXPECT_EQ(cfg[csmi::cfg::kPciBus], 0x41);
    EXPECT_EQ(selftest::text(cfg, csmi::cfg::kSerialNumber, 14), std::string("HBA-SERIAL-42\0", 14));
    EXPECT_EQ(selftest::le(cfg, csmi::cfg::kMajor, 2), 5);
    EXPECT_EQ(selftest::le(cfg, csmi::cfg::kControllerFlags, 4), 1u);

    Bytes sts = csmi_buffer(csmi::kControllerStatusSize);
    ASSERT_EQ(Send(csmi::kControllerStatus, sts), 0);
    EXPECT_EQ(selftest::le(sts, csmi::sts::kStatus, 4), 2u);
    EXPECT_EQ(selftest::le(sts, csmi::sts::kOfflineReason, 4), 7u);

    // A Length short of the record is refused before anything is written.
    Bytes short_buf = csmi_buffer(csmi::kControllerConfigSize);
    qvsim::put_le64(short_buf.data() + csmi::hdr::kLength, 239);
    EXPECT_EQ(Send(csmi::kControllerConfig, short_buf), EINVAL);
    EXPECT_EQ(short_buf[csmi::cfg::kBoardId], 0);
}

TEST_F(SimCsmi, PhyInfoDescribesEachPhyAndItsAttachedDevice) {
    CsmiNode n = topology();
    for (int i = 2; i < 32; ++i)
        n.phy("");
    n.reported_phys = 40; // more than the buffer's 32 slots
    ASSERT_NO_FATAL_FAILURE(Start(n));

    Bytes b = csmi_buffer(csmi::kPhyInfoSize);
    b.push_back(0xAB); // a guard byte past Length
    ASSERT_EQ(Send(csmi::kPhyInfo, b), 0);
    EXPECT_EQ(b[csmi::phy::kNumberOfPhys], 40);
    EXPECT_EQ(b.back(), 0xAB) << "written past Length";
    auto entity = [&](std::size_t i) { return csmi::phy::kEntities + i * csmi::phy::kEntitySize; };
    const std::size_t e0 = entity(0), e1 = entity(1), att = csmi::phy::kAttached;
    EXPECT_EQ(b[e0 + csmi::phy::kDeviceType], qvsim::kSasEndDevice);
    EXPECT_EQ(b[e0 + csmi::phy::kInitiatorProtocol], 0x0E);
    EXPECT_EQ(address_at(b, e0 + csmi::phy::kSasAddress), kOwn);
    EXPECT_EQ(b[e1 + csmi::phy::kPhyIdentifier], 1);
    EXPECT_EQ(b[e1 + csmi::phy::kPortIdentifier], 1);
    EXPECT_EQ(b[e0 + csmi::phy::kNegotiatedLinkRate], 0x0A);
    EXPECT_EQ(b[e0 + att + csmi::phy::kDeviceType], qvsim::kSasEndDevice);
    EXPECT_EQ(b[e0 + att + csmi::phy::kTargetProtocol], qvsim::kSasSsp);
    EXPECT_EQ(address_at(b, e0 + att + csmi::phy::kSasAddress), kDisk1);
    EXPECT_EQ(b[e1 + att + csmi::phy::kDeviceType], qvsim::kSasEdgeExpander);
    EXPECT_EQ(b[e1 + att + csmi::phy::kTargetProtocol], qvsim::kSasSmp);
    EXPECT_EQ(address_at(b, e1 + att + csmi::phy::kSasAddress), kExpA);
    EXPECT_EQ(b[entity(31) + att + csmi::phy::kDeviceType], 0) << "nothing attached";
}

TEST_F(SimCsmi, SspReachesEndDevicesByAddressAndReportsWhatMoved) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Bytes b = ssp_inquiry(kDisk1, 512);
    b.push_back(0xAB);
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(b.back(), 0xAB);
    EXPECT_EQ(selftest::le(b, csmi::hdr::kReturnCode, 8), 0u);
    EXPECT_EQ(b[csmi::ssp::kSspStatus], 1);
    EXPECT_EQ(b[csmi::ssp::kStatus], 0);
    EXPECT_EQ(selftest::le(b, csmi::ssp::kDataBytes, 8), 116u);
    const std::size_t d = csmi::ssp::kData;
    EXPECT_EQ(b[d], 0x00);
    // The product field is full: no terminator between it and the revision.
    EXPECT_EQ(selftest::text(b, d + 8, 28), "QVSIM   SIM SAS DISK 16C0001");

    b = ssp_inquiry(kSes);
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(b[csmi::ssp::kData], 13);

    // Another opcode: CHECK CONDITION with the sense as response data, length big-endian.
    b = ssp_inquiry(kDisk1);
    b[csmi::ssp::kCdb] = 0x25;
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(b[csmi::ssp::kStatus], 2);
    EXPECT_EQ(b[csmi::ssp::kDataPresent], 2);
    EXPECT_EQ(b[csmi::ssp::kResponseLength], 0);
    EXPECT_EQ(b[csmi::ssp::kResponseLength + 1], 18);
    EXPECT_EQ(b[csmi::ssp::kResponse + 12], 0x20);

    // Nobody there; malformed requests.
    b = ssp_inquiry("5000C500000000FF");
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(selftest::le(b, csmi::hdr::kReturnCode, 8), csmi::kReturnFailed);
    EXPECT_EQ(b[csmi::ssp::kConnectionStatus], csmi::kConnectionNoDestination);
    b = ssp_inquiry(kDisk1);
    qvsim::put_le64(b.data() + csmi::ssp::kFlags, 3);
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(selftest::le(b, csmi::hdr::kReturnCode, 8), csmi::kReturnInvalidParameter);
    b = ssp_inquiry(kDisk1);
    qvsim::put_le64(b.data() + csmi::ssp::kDataLength, 117); // beyond Length
    EXPECT_EQ(Send(csmi::kSspPassthru, b), EINVAL);

    const auto reqs = host().requests("/dev/csmi0");
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].name, "CSMI_SAS_SSP_PASSTHRU");
    EXPECT_EQ(reqs[1].decoded["sas_address"], "50 00 C5 00 00 00 00 01");
    EXPECT_EQ(reqs[1].decoded["cdb"], "12 00 00 02 00 00");
}

TEST_F(SimCsmi, SmpAnswersReportGeneralAndDiscoverAlongACycle) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Bytes b = smp(kExpB, 0x00);
    ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
    EXPECT_EQ(b[csmi::smp::kResponse], 0x41);
    EXPECT_EQ(b[csmi::smp::kResponse + 2], 0);
    EXPECT_EQ(b[csmi::smp::kResponse + 9], 3) << "number of phys";
    EXPECT_EQ(selftest::le(b, csmi::smp::kResponseBytes, 8), 32u);

    // Walk the topology as a caller would, descending into each expander once.
    std::set<std::string> visited, ends;
    std::vector<std::string> todo = {kExpA};
    int discovers = 0;
    while (!todo.empty()) {
        const std::string e = todo.back();
        todo.pop_back();
        if (!visited.insert(e).second)
            continue;
        b = smp(e, 0x00);
        ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
        const int phys = b[csmi::smp::kResponse + 9];
        for (int p = 0; p < phys; ++p) {
            b = smp(e, 0x10, static_cast<std::uint8_t>(p));
            ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
            ++discovers;
            const std::size_t r = csmi::smp::kResponse;
            ASSERT_EQ(b[r + 2], 0) << e << " phy " << p;
            EXPECT_EQ(b[r + 9], p);
            EXPECT_EQ(address_at(b, r + 16), e);
            const int type = (b[r + 12] >> 4) & 7;
            const std::string attached = address_at(b, r + 24);
            if (type >= 2)
                todo.push_back(attached);
            else if (type == 1 && (b[r + 15] & (qvsim::kSasSsp | qvsim::kSasSata)))
                ends.insert(attached);
            if (attached == kSes) {
                EXPECT_EQ(b[r + 43] & 0x80, 0x80) << "virtual phy";
            }
        }
    }
    EXPECT_EQ(visited, (std::set<std::string>{kExpA, kExpB}));
    EXPECT_EQ(ends, (std::set<std::string>{kDisk2, kSes}));
    EXPECT_EQ(discovers, 6);

    // B's phy 0 leads back to A: the cycle.
    b = smp(kExpB, 0x10, 0);
    ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
    EXPECT_EQ(address_at(b, csmi::smp::kResponse + 24), kExpA);
    EXPECT_EQ(b[csmi::smp::kResponse + 32], 2);

    b = smp(kExpA, 0x10, 9);
    ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
    EXPECT_EQ(b[csmi::smp::kResponse + 2], 0x10) << "phy does not exist";
    b = smp(kDisk1, 0x00);
    ASSERT_EQ(Send(csmi::kSmpPassthru, b), 0);
    EXPECT_EQ(selftest::le(b, csmi::hdr::kReturnCode, 8), csmi::kReturnFailed) << "no expander there";
    EXPECT_EQ(b[csmi::smp::kConnectionStatus], csmi::kConnectionProtocolNotSupported);
}

TEST_F(SimCsmi, ReturnCodesFaultsAndScriptedFirmware) {
    CsmiNode n = topology();
    n.return_codes[csmi::kPhyInfo] = 4;
    n.faults.push_back({.request = csmi::kDriverInfo, .err = ENODEV});
    auto script = std::make_shared<qvsim::Script>();
    qvsim::Reply reply;
    reply.data_in = {0x00, 0x00, 0x00, 0x02};
    auto& e = script->expect({0x12, 0, 0, 0, 116, 0}, reply);
    e.transport = "csmi-sas-ssp";
    e.lun_address = qvsim::sas_address_bytes(kDisk2);
    n.firmware = script;
    ASSERT_NO_FATAL_FAILURE(Start(n));

    Bytes b = csmi_buffer(csmi::kPhyInfoSize);
    ASSERT_EQ(Send(csmi::kPhyInfo, b), 0);
    EXPECT_EQ(selftest::le(b, csmi::hdr::kReturnCode, 8), 4u);
    EXPECT_EQ(b[csmi::phy::kNumberOfPhys], 0) << "nothing else written";
    b = csmi_buffer(csmi::kDriverInfoSize);
    EXPECT_EQ(Send(csmi::kDriverInfo, b), ENODEV);
    EXPECT_EQ(Send(csmi::kDriverInfo, b), 0) << "fails once";

    b = ssp_inquiry(kDisk2);
    ASSERT_EQ(Send(csmi::kSspPassthru, b), 0);
    EXPECT_EQ(selftest::le(b, csmi::ssp::kDataBytes, 8), 4u);
    EXPECT_EQ(script->ExpectNoneLeft(), "");
}

// --- JSON -------------------------------------------------------------------------------------

TEST(SimBlockScenario, JsonLoadsVolumesAndCsmiNodesAndRoundTrips) {
    const char* text = R"({
      "controllers": [{"driver": "qzvk", "pci_address": "0000:3b:00.0", "hosts": [2]}],
      "block_devices": [{"name": "sdb", "minor": 16, "controller": "0000:3b:00.0", "unique_id": null,
                         "naa": "600508B1001C5A2B3C4D5E6F70819203", "vpd_raw": {"0x00": "00 00 00 FF"},
                         "identity": {"serial": "S1", "wwn": "5000C500A1B2C3D4"},
                         "logical_block_size": null, "partitions": [{"number": 1, "start": 2048}],
                         "faults": [{"request": "0x301", "errno": 5}]}],
      "csmi_nodes": [{"sas_address": "5001D7A000000000", "phys": [{"attached": "500605B000000010"}],
                      "expanders": [{"sas_address": "500605B000000010", "device_type": 48,
                                     "phys": [{"attached": "5001D7A000000000"}]}],
                      "return_codes": {"0xCC770018": 1}, "driver": {"name": "x"}}]
    })";
    Scenario s = Scenario::from_json(nlohmann::json::parse(text));
    ASSERT_EQ(s.block_devices.size(), 1u);
    const BlockDevice& d = s.block_devices[0];
    EXPECT_EQ(d.controller, std::optional<std::string>("0000:3b:00.0"));
    EXPECT_FALSE(d.unique_id);
    EXPECT_FALSE(d.logical_block_size);
    EXPECT_EQ(d.vpd_raw.at(0), (Bytes{0, 0, 0, 0xFF}));
    EXPECT_EQ(d.identity->serial, "S1");
    ASSERT_EQ(d.faults.size(), 1u);
    EXPECT_EQ(d.faults[0].request, 0x301u);
    ASSERT_EQ(s.csmi_nodes.size(), 1u);
    EXPECT_EQ(s.csmi_nodes[0].expanders[0].device_type, 0x30);
    EXPECT_EQ(s.csmi_nodes[0].return_codes.at(csmi::kSspPassthru), 1u);
    EXPECT_EQ(s.csmi_nodes[0].driver.name, "x");

    const nlohmann::json once = s.to_json();
    EXPECT_EQ(Scenario::from_json(once).to_json(), once);

    const char* bad[] = {
        R"({"block_devices": [{"name": "sdb", "colour": 1}]})",
        R"({"block_devices": [{"naa": "1234"}]})",
        R"({"block_devices": [{"partitions": [{"number": -1}]}]})",
        R"({"csmi_nodes": [{"phys": [{"attached": "5001D7A000000000", "speed": 1}]}]})",
        R"({"csmi_nodes": [{"return_codes": {"x": 1}}]})",
        R"({"block_devices": {}})",
    };
    for (const char* b : bad)
        EXPECT_THROW(Scenario::from_json(nlohmann::json::parse(b)), std::runtime_error) << b;
}

TEST_F(SimBlock, SetupRefusesWhatLinuxCouldNotShow) {
    std::vector<Scenario> bad(6, volumes());
    bad[0].block_devices[0].controller = "0000:99:00.0"; // no such controller
    bad[1].block_devices[1].name = "sdb";                // two volumes of one name
    bad[2].block_devices[2].name = "../sda";
    bad[3].block_devices[0].host_index = 1; // the controller has one host
    bad[5].block_devices[0].lun = 0;        // where the controller's sg1 is
    CsmiNode n;
    n.phy("500605B0000000FF"); // attached to nothing that exists
    qvsim::add_csmi_node(bad[4], n);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_THROW(qvsim::Sandbox{bad[i]}, qvsim::SetupError) << "case " << i;
        EXPECT_FALSE(exists("/sys/.qvsim-sandbox")) << "case " << i;
        EXPECT_TRUE(qvsim::Registry::instance().empty()) << "case " << i;
    }
}

} // namespace
