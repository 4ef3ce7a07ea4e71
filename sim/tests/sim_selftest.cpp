// Self-tests of the simulated host: namespace and mount safety, interposer routing, faults,
// the JSON loader and the launcher.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using selftest::exists;
using selftest::read_file;
using selftest::real_path;

using qvsim::Fault;
using qvsim::Protocol;
using qvsim::Scenario;

constexpr unsigned long kSendFib = 0x42008;

std::string fd_target(int fd) {
    char buf[PATH_MAX] = {};
    ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

Scenario two_controllers() {
    Scenario s;
    s.add_ciss("qzvk", "0000:3b:02.5", 2, 1).board_id = 0xABCD0001;
    s.add_sis("xovraid", "0000:86:00.0", 4).sis.virtual_target = 7;
    return s;
}

// A FIB as the SIS driver expects it: header, then request data.
struct Fib {
    std::uint8_t bytes[2048] = {};
    explicit Fib(std::uint16_t command) {
        qvsim::put_le32(bytes + 0, 1); // XferState: host owned
        qvsim::put_le16(bytes + 4, command);
        bytes[6] = 4;                     // StructType: FIB2
        qvsim::put_le16(bytes + 8, 4);    // Size
        qvsim::put_le16(bytes + 10, 512); // SenderSize
    }
};

class SimHost : public qvsim::SimHostTest {};

// --- namespace and mount safety -------------------------------------------------------------

TEST_F(SimHost, LaysOutSysfsDevAndProcAsLinux) {
    Scenario s = two_controllers();
    s.nodes.push_back({"/dev/xov0", 'c', 200, 0, 0600});
    s.fstab = "/dev/sdb2 none swap sw 0 0\n";
    s.mounts.push_back({"/dev/sdb1", "data"});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    const std::string ctl = "/sys/devices/pci0000:00/0000:3b:02.5";
    EXPECT_EQ(real_path("/sys/bus/pci/drivers/qzvk/0000:3b:02.5"), ctl);
    // The driver's module link resolves outside /sys/devices, as on a real host.
    EXPECT_EQ(real_path("/sys/bus/pci/drivers/qzvk/module"), "/sys/module/qzvk");
    EXPECT_EQ(read_file(ctl + "/class"), "0x010400\n");
    std::string type = real_path("/sys/class/scsi_generic/sg1/device/type");
    EXPECT_EQ(type.rfind(ctl + "/", 0), 0u) << type;
    EXPECT_EQ(read_file(type), "12\n");
    EXPECT_EQ(read_file("/sys/class/scsi_host/host4/proc_name"), "xovraid\n");
    EXPECT_TRUE(exists("/sys/devices/pci0000:00/0000:86:00.0/host4"));

    struct stat st {};
    ASSERT_EQ(::stat("/dev/sg1", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(21, 1));
    ASSERT_EQ(::stat("/dev/xov0", &st), 0);
    EXPECT_EQ(st.st_rdev, makedev(200, 0));
    EXPECT_NE(read_file("/proc/devices").find("\n245 xovraid\n"), std::string::npos);
    EXPECT_EQ(read_file("/etc/fstab"), s.fstab);
    EXPECT_NE(read_file("/etc/mtab").find("/dev/sdb1 " + host().mount_point("data") + " tmpfs"),
              std::string::npos);
}

TEST_F(SimHost, TeardownRestoresTheRealHost) {
    std::string staging;
    {
        qvsim::Sandbox box(two_controllers());
        ASSERT_TRUE(box.verify());
        staging = box.staging();
        EXPECT_TRUE(exists("/dev/.qvsim-sandbox"));
    }
    EXPECT_FALSE(exists("/sys/.qvsim-sandbox"));
    EXPECT_FALSE(exists("/dev/.qvsim-sandbox"));
    EXPECT_FALSE(exists(staging));
    EXPECT_EQ(read_file("/proc/devices").find("xovraid"), std::string::npos);
    EXPECT_TRUE(qvsim::Registry::instance().empty());
}

TEST_F(SimHost, FailedSetupUndoesEverythingAndThrows) {
    char parent[] = "/tmp/qvsim-selftest.XXXXXX";
    ASSERT_NE(::mkdtemp(parent), nullptr);
    qvsim::Sandbox::Options opt;
    opt.staging_parent = parent;

    std::vector<Scenario> bad(4, two_controllers());
    bad[0].controllers[1].pci_address = "0000:3b:02.5";       // two controllers at one address
    bad[1].nodes.push_back({"/etc/passwd", 'c', 1, 3, 0600}); // node outside /dev
    bad[2].controllers[0].scsi[0].sg = "../../etc";           // escapes the tree
    bad[3].controllers[0].scsi[0].host_index = 3;             // names no host
    for (std::size_t i = 0; i < bad.size(); ++i) {
        EXPECT_THROW(qvsim::Sandbox(bad[i], opt), qvsim::SetupError) << "case " << i;
        EXPECT_FALSE(exists("/sys/.qvsim-sandbox")) << "case " << i;
        EXPECT_FALSE(exists("/dev/.qvsim-sandbox")) << "case " << i;
        EXPECT_TRUE(qvsim::Registry::instance().empty()) << "case " << i;
    }
    EXPECT_EQ(::rmdir(parent), 0) << "staging directories left behind";

    opt.staging_parent = "/nonexistent-qvsim-parent";
    EXPECT_THROW(qvsim::Sandbox(two_controllers(), opt), qvsim::SetupError);
}

TEST_F(SimHost, OneHostAtATimeAndVerifySeesALostMount) {
    ASSERT_NO_FATAL_FAILURE(StartHost(two_controllers()));
    EXPECT_THROW(qvsim::Sandbox{two_controllers()}, qvsim::SetupError);
    EXPECT_TRUE(host().verify());

    // Something else mounted over our /sys: product code must not run on it.
    ASSERT_EQ(::mount("other", "/sys", "tmpfs", 0, nullptr), 0) << std::strerror(errno);
    EXPECT_FALSE(host().verify());
    ASSERT_EQ(::umount("/sys"), 0);
    EXPECT_TRUE(host().verify());
}

// --- interposer routing ---------------------------------------------------------------------

TEST_F(SimHost, RegisteredNodeReachesItsDevice) {
    ASSERT_NO_FATAL_FAILURE(StartHost(two_controllers()));
    int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    EXPECT_NE(fd_target(fd).find("memfd:qvsim:/dev/sg1"), std::string::npos) << fd_target(fd);

    cciss_pci_info_struct info{};
    ASSERT_EQ(::ioctl(fd, CCISS_GETPCIINFO, &info), 0) << std::strerror(errno);
    EXPECT_EQ(info.bus, 0x3B);
    EXPECT_EQ(info.dev_fn, (2 << 3) | 5);
    EXPECT_EQ(info.domain, 0);
    EXPECT_EQ(info.board_id, 0xABCD0001u);

    // A duplicate descriptor reaches the same device; unknown requests and a NULL argument fail
    // as the driver would fail them.
    int dupfd = ::dup(fd);
    EXPECT_EQ(::ioctl(dupfd, CCISS_GETPCIINFO, &info), 0);
    errno = 0;
    EXPECT_EQ(::ioctl(fd, 0x4242, &info), -1);
    EXPECT_EQ(errno, ENOTTY);
    errno = 0;
    EXPECT_EQ(::ioctl(fd, CCISS_GETPCIINFO, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    ::close(dupfd);
    ::close(fd);

    auto reqs = host().requests("/dev/sg1");
    ASSERT_EQ(reqs.size(), 5u);
    EXPECT_EQ(reqs[0].op, "open");
    EXPECT_EQ(reqs[0].decoded["access"], "rw");
    EXPECT_EQ(reqs[1].request, CCISS_GETPCIINFO);
    EXPECT_EQ(reqs[1].reply["bus"], 0x3B);
    EXPECT_EQ(reqs[3].name, "unknown");
    EXPECT_EQ(reqs[3].err, ENOTTY);
    EXPECT_EQ(reqs[4].err, EFAULT);
}

// Bindings of closed descriptors are dropped as opens pile up; a descriptor still held, or its
// duplicate once the original is closed, keeps reaching the device.
TEST_F(SimHost, ManyOpensKeepHeldDescriptorsRouted) {
    ASSERT_NO_FATAL_FAILURE(StartHost(two_controllers()));
    const int held = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(held, 0) << std::strerror(errno);
    const int copy = ::dup(held);
    for (int i = 0; i < 300; ++i) {
        const int fd = ::open("/dev/sg1", O_RDWR);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        ::close(fd);
    }
    cciss_pci_info_struct info{};
    EXPECT_EQ(::ioctl(held, CCISS_GETPCIINFO, &info), 0) << std::strerror(errno);
    ::close(held);
    for (int i = 0; i < 300; ++i) {
        ::close(::open("/dev/sg1", O_RDWR));
    }
    info = {};
    EXPECT_EQ(::ioctl(copy, CCISS_GETPCIINFO, &info), 0) << std::strerror(errno);
    EXPECT_EQ(info.bus, 0x3B);
    ::close(copy);
}

TEST_F(SimHost, EveryOpenEntryPointIsRouted) {
    ASSERT_NO_FATAL_FAILURE(StartHost(two_controllers()));
    int dir = ::open("/dev", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(dir, 0);
    std::vector<int> fds = {::open("/dev/sg1", O_RDONLY | O_NONBLOCK), ::open64("/dev/sg1", O_RDWR),
                            ::openat(dir, "sg1", O_RDWR), ::openat64(AT_FDCWD, "/dev/sg1", O_RDWR)};
    ::close(dir);
    for (std::size_t i = 0; i < fds.size(); ++i) {
        ASSERT_GE(fds[i], 0) << "entry point " << i;
        cciss_pci_info_struct info{};
        EXPECT_EQ(::ioctl(fds[i], CCISS_GETPCIINFO, &info), 0) << "entry point " << i;
        EXPECT_EQ(info.bus, 0x3B) << "entry point " << i;
        ::close(fds[i]);
    }
    auto reqs = host().requests("/dev/sg1");
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ(reqs[0].decoded["access"], "r");
    EXPECT_EQ(reqs[0].decoded["nonblock"], true);
}

TEST_F(SimHost, OtherFilesAndReusedDescriptorsGoToTheRealSystem) {
    Scenario s = two_controllers();
    s.add_ciss("ahci", "0000:00:17.0", 0, 0).protocol = Protocol::kNone; // plain sg0
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    // A node without a simulated device has no driver behind it.
    errno = 0;
    EXPECT_EQ(::open("/dev/sg0", O_RDWR), -1);
    EXPECT_TRUE(errno == ENXIO || errno == ENODEV) << std::strerror(errno);

    int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    ::close(fd);
    int again = ::open("/dev/null", O_RDWR);
    ASSERT_EQ(again, fd) << "expected the descriptor number to be reused";
    cciss_pci_info_struct info{};
    errno = 0;
    EXPECT_EQ(::ioctl(again, CCISS_GETPCIINFO, &info), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(again);
    EXPECT_EQ(host().requests("/dev/sg1").size(), 1u) << "only the open reached the device";
}

TEST_F(SimHost, SisNodeMadeByTheCallerAnswersAdapterInfo) {
    Scenario s = two_controllers();
    s.nodes.push_back({"/dev/xov1", 'c', 200, 0, 0}); // same minor, wrong major
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    ASSERT_EQ(::mknod("/dev/xov0", S_IFCHR, makedev(245, 0)), 0) << std::strerror(errno);

    int fd = ::open("/dev/xov0", O_RDWR);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    Fib info(703);
    ASSERT_EQ(::ioctl(fd, kSendFib, info.bytes), 0) << std::strerror(errno);
    EXPECT_EQ(qvsim::get_le32(info.bytes + 32 + 80), 0x10000u); // SupportedOptions
    EXPECT_EQ(qvsim::get_le16(info.bytes + 4), 703) << "header left as sent";
    Fib supplement(706);
    ASSERT_EQ(::ioctl(fd, kSendFib, supplement.bytes), 0);
    EXPECT_EQ(qvsim::get_le16(supplement.bytes + 32 + 202), 7); // VirtualScsiDeviceTarget
    // The CISS request is not the SIS driver's.
    cciss_pci_info_struct pci{};
    errno = 0;
    EXPECT_EQ(::ioctl(fd, CCISS_GETPCIINFO, &pci), -1);
    EXPECT_EQ(errno, ENOTTY);
    ::close(fd);

    auto reqs = host().requests("/dev/xov0");
    ASSERT_EQ(reqs.size(), 4u);
    EXPECT_EQ(reqs[1].name, "SIS_SEND_FIB");
    EXPECT_EQ(reqs[1].decoded["Command"], 703);
    EXPECT_EQ(reqs[1].decoded["SenderSize"], 512);
    EXPECT_EQ(reqs[1].decoded["data"], "00 00 00 00");
    EXPECT_EQ(reqs[2].reply["VirtualScsiDeviceTarget"], 7);

    errno = 0;
    EXPECT_EQ(::open("/dev/xov1", O_RDWR), -1) << "a node of another major reaches no device";
}

TEST_F(SimHost, SisRejectsMalformedFibsAndUnsupportedSupplement) {
    Scenario s = two_controllers();
    s.controllers[1].sis.supported_options = 0;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    ASSERT_EQ(::mknod("/dev/xov0", S_IFCHR, makedev(245, 0)), 0);
    int fd = ::open("/dev/xov0", O_RDWR);
    ASSERT_GE(fd, 0);

    struct Case {
        const char* what;
        std::size_t offset;
        int width;
        std::uint32_t value;
    } cases[] = {{"struct type", 6, 1, 3},   {"size", 8, 2, 481},         {"sender size", 10, 2, 513},
                 {"sender size", 10, 2, 16}, {"not host owned", 0, 4, 0}, {"command", 4, 2, 999},
                 {"supplement", 4, 2, 706}};
    for (const auto& c : cases) {
        Fib fib(703);
        if (c.width == 1)
            fib.bytes[c.offset] = static_cast<std::uint8_t>(c.value);
        if (c.width == 2)
            qvsim::put_le16(fib.bytes + c.offset, static_cast<std::uint16_t>(c.value));
        if (c.width == 4)
            qvsim::put_le32(fib.bytes + c.offset, c.value);
        errno = 0;
        EXPECT_EQ(::ioctl(fd, kSendFib, fib.bytes), -1) << c.what;
        EXPECT_EQ(errno, EINVAL) << c.what;
    }
    // A short sender FIB gets no more than it holds.
    Fib small(703);
    qvsim::put_le16(small.bytes + 10, 64);
    std::memset(small.bytes + 64, 0xEE, 64);
    ASSERT_EQ(::ioctl(fd, kSendFib, small.bytes), 0);
    EXPECT_EQ(small.bytes[64], 0xEE);
    ::close(fd);
}

// --- fault injection ------------------------------------------------------------------------

TEST_F(SimHost, FaultsFailTheChosenRequests) {
    struct Case {
        const char* what;
        unsigned long request;
        unsigned nth, count;
        int err;
        std::vector<int> expected; // errno of six successive PCI-information requests
    } cases[] = {
        {"second only", CCISS_GETPCIINFO, 2, 1, EIO, {0, EIO, 0, 0, 0, 0}},
        {"two from third", 0, 3, 2, EBUSY, {0, 0, EBUSY, EBUSY, 0, 0}},
        {"all from fifth", 0, 5, 0, EAGAIN, {0, 0, 0, 0, EAGAIN, EAGAIN}},
        {"other request", kSendFib, 1, 1, EIO, {0, 0, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        Scenario s = two_controllers();
        // Field by field: a designated-initializer temporary trips GCC 12's maybe-uninitialized
        // under the sanitizers.
        qvsim::Fault f;
        f.request = c.request;
        f.nth = c.nth;
        f.count = c.count;
        f.err = c.err;
        s.controllers[0].fault(f);
        ASSERT_NO_FATAL_FAILURE(StartHost(s)) << c.what;
        int fd = ::open("/dev/sg1", O_RDWR);
        ASSERT_GE(fd, 0) << c.what;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            cciss_pci_info_struct info{};
            errno = 0;
            int rc = ::ioctl(fd, CCISS_GETPCIINFO, &info);
            EXPECT_EQ(rc == 0 ? 0 : errno, c.expected[i]) << c.what << ", request " << i + 1;
        }
        ::close(fd);
        auto reqs = host().requests("/dev/sg1");
        ASSERT_EQ(reqs.size(), 7u) << c.what;
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(reqs[i + 1].injected, c.expected[i] != 0) << c.what << ", request " << i + 1;
        }
    }
}

TEST_F(SimHost, OpenFaultAndLiveFault) {
    Scenario s = two_controllers();
    s.controllers[0].fault({.on_open = true, .err = EACCES});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    errno = 0;
    EXPECT_EQ(::open("/dev/sg1", O_RDWR), -1);
    EXPECT_EQ(errno, EACCES);
    int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    host().device("/dev/sg1")->add_fault({.err = EIO});
    cciss_pci_info_struct info{};
    EXPECT_EQ(::ioctl(fd, CCISS_GETPCIINFO, &info), -1);
    EXPECT_EQ(::ioctl(fd, CCISS_GETPCIINFO, &info), 0);
    ::close(fd);
}

TEST_F(SimHost, CommandFaultsRewriteTheFirmwareReply) {
    auto fw = std::make_shared<qvsim::ScriptedFirmware>();
    fw->on(0x12, [](const qvsim::Command&) {
        qvsim::Reply r;
        r.data_in.assign(36, 0x41);
        return r;
    });
    Scenario s = two_controllers();
    s.controllers[0].firmware = fw;
    s.controllers[0].fault({.opcode = 0x12, .nth = 2, .data_in_length = 5});
    s.controllers[0].fault(
        {.opcode = 0x12, .nth = 3, .scsi_status = 2, .sense = std::vector<std::uint8_t>(40, 1)});
    s.controllers[0].fault({.opcode = 0x12, .nth = 4, .err = EIO});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    auto dev = host().device("/dev/sg1");
    ASSERT_TRUE(dev);
    qvsim::Command inquiry;
    inquiry.cdb = {0x12, 0, 0, 0, 36, 0};

    qvsim::Reply r = dev->execute(inquiry);
    EXPECT_EQ(r.data_in.size(), 36u);
    EXPECT_EQ(dev->execute(inquiry).data_in.size(), 5u);
    r = dev->execute(inquiry);
    EXPECT_EQ(r.scsi_status, 2);
    EXPECT_EQ(r.sense.size(), 40u);
    EXPECT_EQ(dev->execute(inquiry).err, EIO);
    EXPECT_EQ(dev->execute(inquiry).data_in.size(), 36u);

    qvsim::Command other;
    other.cdb = {0x26};
    r = dev->execute(other);
    EXPECT_EQ(r.scsi_status, 2); // default firmware: ILLEGAL REQUEST
    ASSERT_GE(r.sense.size(), 14u);
    EXPECT_EQ(r.sense[2], 0x05);
    EXPECT_EQ(r.sense[12], 0x20);
}

// --- JSON scenarios -------------------------------------------------------------------------

TEST(SimScenario, JsonLoadsEveryFieldAndRoundTrips) {
    const char* text = R"({
    "controllers": [
      {"driver": "veskdq", "protocol": "pqi", "pci_address": "0000:5e:00.0",
       "pci_parent": "pci0000:5d/0000:5d:00.0", "class": null, "hosts": [3, 5],
       "proc_name": "other", "board_id": 7,
       "scsi": [{"minor": 2, "type": "13", "host_index": 1, "target": 4, "routed": false}],
       "faults": [{"request": "0x80084201", "nth": 2, "count": 0, "errno": 5},
                  {"opcode": 18, "sense": [112, 0, 5], "data_in_length": 3}]},
      {"driver": "xovraid", "protocol": "sis", "pci_address": "0000:86:00.0", "hosts": [4],
       "sis": {"supported_options": 0, "virtual_lun": 2, "minor": 3, "node": "/dev/xov9"}}
    ],
    "nodes": [{"path": "/dev/xov0", "major": 200, "minor": 0}],
    "empty_drivers": ["qzdvk"], "fstab": "x\n", "mounts": [{"source": "/dev/sdb1", "name": "d"}]
  })";
    Scenario s = Scenario::from_json(nlohmann::json::parse(text));
    ASSERT_EQ(s.controllers.size(), 2u);
    const auto& pqi = s.controllers[0];
    EXPECT_EQ(pqi.protocol, Protocol::kPqi);
    EXPECT_EQ(pqi.sysfs_path(), "/sys/devices/pci0000:5d/0000:5d:00.0/0000:5e:00.0");
    EXPECT_FALSE(pqi.class_file.has_value());
    EXPECT_EQ(pqi.proc_name_text(), "other");
    ASSERT_EQ(pqi.scsi.size(), 1u);
    EXPECT_EQ(pqi.scsi[0].sg, "sg2");
    EXPECT_EQ(pqi.scsi[0].type, "13");
    EXPECT_FALSE(pqi.scsi[0].routed);
    ASSERT_EQ(pqi.faults.size(), 2u);
    EXPECT_EQ(pqi.faults[0].request, 0x80084201UL);
    EXPECT_EQ(pqi.faults[0].count, 0u);
    EXPECT_EQ(pqi.faults[1].opcode, 18);
    EXPECT_EQ(s.sis_major, 245u) << "a SIS controller brings the default major";
    EXPECT_EQ(s.sis_minor(1), 3u);
    EXPECT_EQ(s.sis_node(1), "/dev/xov9");
    EXPECT_EQ(s.nodes.at(0).type, 'c');
    EXPECT_EQ(s.mounts.at(0).source, "/dev/sdb1");

    EXPECT_EQ(Scenario::from_json(s.to_json()).to_json(), s.to_json());
    Scenario d = Scenario::builtin_default();
    EXPECT_GE(d.controllers.size(), 2u);
    EXPECT_EQ(Scenario::from_json(d.to_json()).to_json(), d.to_json());
}

TEST(SimScenario, JsonErrorsNameThePlace) {
    struct Case {
        const char* json;
        const char* expect;
    } cases[] = {
        {R"({"controllers": [{"driver": "x", "colour": 1}]})", "controllers[0]: unknown key \"colour\""},
        {R"({"controllers": [{"driver": "x", "protocol": "scsi"}]})", "unknown protocol"},
        {R"({"controllers": [{"protocol": "ciss"}]})", "controllers[0].driver"},
        {R"({"controllers": [{"driver": "x", "faults": [{"request": "0xZZ"}]}]})", "request must be"},
        {R"({"controllers": [{"driver": "x", "faults": [{"nth": 0}]}]})", "counts from 1"},
        {R"({"nodes": [{"path": "/dev/a", "type": "x"}]})", "nodes[0].type"},
        {R"({"controllers": [{"driver": "x", "hosts": "2"}]})", "controllers[0].hosts"},
        {R"({"bogus": 1})", "unknown key \"bogus\""},
    };
    for (const auto& c : cases) {
        try {
            Scenario::from_json(nlohmann::json::parse(c.json));
            ADD_FAILURE() << "accepted: " << c.json;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.expect), std::string::npos) << e.what();
        }
    }
    Scenario none = Scenario::from_json(nlohmann::json::parse(
        R"({"controllers": [{"driver": "xovraid", "protocol": "sis"}], "sis_major": null})"));
    EXPECT_FALSE(none.sis_major.has_value());
    EXPECT_EQ(none.proc_devices_text().find("xov"), std::string::npos);
}

// --- the launcher ---------------------------------------------------------------------------

struct RunResult {
    int status = -1;
    std::string out;
};

RunResult run(std::vector<std::string> args) {
    int pipefd[2];
    RunResult r;
    if (::pipe(pipefd) != 0)
        return r;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(126);
    }
    ::close(pipefd[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0)
        r.out.append(buf, static_cast<std::size_t>(n));
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    return r;
}

std::string temp_path(const std::string& name) {
    return "/tmp/qvsim-selftest-" + std::to_string(::getpid()) + "-" + name;
}

TEST(SimLauncher, PassesExitCodesBack) {
    struct Case {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{QVSIM_LAUNCHER, "--", QVSIM_PROBE, "exit", "0"}, 0},
        {{QVSIM_LAUNCHER, "--", QVSIM_PROBE, "exit", "14"}, 14},
        {{QVSIM_LAUNCHER, "--", QVSIM_PROBE, "signal", "15"}, 128 + 15},
        {{QVSIM_LAUNCHER, "--", "/nonexistent/program"}, 127},
        {{QVSIM_LAUNCHER, "--scenario", "/nonexistent.json", "--", QVSIM_PROBE, "exit", "0"}, 2},
        {{QVSIM_LAUNCHER, QVSIM_PROBE}, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(c.args).status, c.status) << c.args.back();
}

TEST(SimLauncher, RunsOnTheDefaultHostAndWritesTheRequestLog) {
    std::string log = temp_path("log.jsonl");
    RunResult r = run({QVSIM_LAUNCHER, "--log", log, "--", QVSIM_PROBE, "pciinfo", "/dev/sg1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "bus=3b dev_fn=00 domain=0000\n");
    std::vector<nlohmann::json> lines;
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    ::unlink(log.c_str());
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["op"], "open");
    EXPECT_EQ(lines[1]["node"], "/dev/sg1");
    EXPECT_EQ(lines[1]["name"], "CCISS_GETPCIINFO");
    EXPECT_EQ(lines[1]["request"], "0x80084201");
    EXPECT_EQ(lines[1]["reply"]["bus"], 0x3B);
    // The launcher's namespace went away with it.
    EXPECT_FALSE(exists("/sys/.qvsim-sandbox"));
}

TEST(SimLauncher, ScenarioFileWithFault) {
    std::string file = temp_path("scenario.json");
    std::ofstream(file) << R"({"controllers": [{"driver": "qzvk", "pci_address": "0000:12:03.1",
    "hosts": [1], "scsi": [{"minor": 4}], "faults": [{"request": "0x80084201", "errno": 5}]}]})";
    std::string log = temp_path("fault.jsonl");
    RunResult first =
        run({QVSIM_LAUNCHER, "--scenario", file, "--log", log, "--", QVSIM_PROBE, "pciinfo", "/dev/sg4"});
    EXPECT_EQ(first.status, 4);
    EXPECT_EQ(first.out, std::string("ioctl: ") + std::strerror(EIO) + "\n");
    std::string text = read_file(log);
    EXPECT_NE(text.find("\"injected\":true"), std::string::npos) << text;
    ::unlink(file.c_str());
    ::unlink(log.c_str());
}

} // namespace
