// Controller discovery against simulated hosts: sysfs layouts, device nodes and
// driver replies.
#include "qvsim/gtest.h"

#include "pavl_descriptor.h"
#include "pavl_linux_x86.h"
#include "ppavl_debug.h"
#include "ppavl_discovery.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<VK_BYTE>;

Bytes property(DeviceDescriptor d, VK_BYTE id) {
    Bytes out(PN_GetDeviceSystemPropertySize(d, id));
    if (PN_GetDeviceSystemProperty(d, id, out.data(), static_cast<VK_DWORD>(out.size())) != 0) {
        ADD_FAILURE() << "property " << int(id) << " missing";
    }
    return out;
}

std::string text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

VK_QWORD le(const Bytes& b) {
    VK_QWORD v = 0;
    for (size_t i = b.size(); i-- > 0;) {
        v = (v << 8) | b[i];
    }
    return v;
}

// Everything a controller descriptor says, decoded.
struct Found {
    std::string sys_path, node, pci_class;
    VK_QWORD protocol = 0, device_type = 0, device_number = 0, location = 0;
    Bytes address, driver, ids;
    size_t size = 0;
};

Found decode(DeviceDescriptor d) {
    Found f;
    f.sys_path = text(property(d, kDevicePropertySysPath));
    f.node = text(property(d, kDevicePropertyNodeName));
    f.protocol = le(property(d, kDevicePropertyProtocolType));
    f.address = property(d, kDevicePropertyProtocolAddress);
    f.device_type = le(property(d, kDevicePropertyDeviceType));
    f.device_number = le(property(d, kDevicePropertyDeviceNumber));
    f.location = le(property(d, kDevicePropertyPCILocation));
    f.pci_class = text(property(d, kDevicePropertyPCIClass));
    f.driver = property(d, kDevicePropertyDriverName);
    f.size = PN_GetDeviceDescriptorSize(d);
    // Entry ids in blob order.
    const auto* b = static_cast<const VK_BYTE*>(d);
    for (size_t pos = 2; pos + 3 <= f.size; pos += 3 + (b[pos + 1] | (b[pos + 2] << 8))) {
        f.ids.push_back(b[pos]);
    }
    return f;
}

std::vector<Found> walk(DeviceDescriptorList list) {
    std::vector<Found> out;
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        out.push_back(decode(PN_GetDeviceListItemAt(it)));
    }
    PN_DestroyDeviceListIterator(it);
    return out;
}

std::vector<Found> discover() {
    DeviceDescriptorList list = PN_CreateControllerDescriptorList();
    EXPECT_NE(list, nullptr);
    std::vector<Found> out = walk(list);
    PN_DestroyDeviceDescriptorList(list);
    return out;
}

Bytes address(VK_BYTE bus, VK_BYTE target, VK_BYTE lun) {
    Bytes a(16, 0);
    a[0] = bus;
    a[1] = target;
    a[2] = lun;
    a[3] = 1;
    return a;
}

Bytes driver_bytes(const std::string& name) {
    Bytes b(name.begin(), name.end());
    b.push_back(0);
    return b;
}

// Collects level-1 and level-2 library messages while alive.
class LogCapture {
public:
    LogCapture() {
        lines().clear();
        mask1_ = PN_SetDebugLogLevelMask(1, 0xFFFFFFFF);
        mask2_ = PN_SetDebugLogLevelMask(2, 0xFFFFFFFF);
        sink_ = PN_SetDebugCallback(&LogCapture::sink);
    }
    ~LogCapture() {
        PN_SetDebugCallback(sink_);
        PN_SetDebugLogLevelMask(1, mask1_);
        PN_SetDebugLogLevelMask(2, mask2_);
    }
    bool contains(VK_BYTE level, const std::string& part) const {
        return std::any_of(lines().begin(), lines().end(), [&](const auto& l) {
            return l.first == level && l.second.find(part) != std::string::npos;
        });
    }
    static std::vector<std::pair<VK_BYTE, std::string>>& lines() {
        static std::vector<std::pair<VK_BYTE, std::string>> l;
        return l;
    }

private:
    static void sink(VK_BYTE level, VK_UINT32, const char* t) { lines().emplace_back(level, t); }
    VK_UINT32 mask1_, mask2_;
    DebugCallbackFunction sink_;
};

class Discovery : public qvsim::SimHostTest {};

// ---- one controller of each kind
// ------------------------------------------------------------

struct LayoutCase {
    const char* name;
    qvsim::Protocol protocol;
    const char* driver;
    const char* pci;
    const char* node;
    VK_WORD protocol_type;
    Bytes address;
    VK_QWORD location;
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
    *os << c.name;
}

class DiscoveryLayout : public Discovery, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(DiscoveryLayout, DescribesTheController) {
    const LayoutCase& c = GetParam();
    qvsim::Scenario s;
    if (c.protocol == qvsim::Protocol::kCiss) {
        s.add_ciss(c.driver, c.pci, 2, 1);
    } else if (c.protocol == qvsim::Protocol::kPqi) {
        s.add_pqi(c.driver, c.pci, 3, 7);
    } else {
        auto& sis = s.add_sis(c.driver, c.pci, 4);
        sis.sis.virtual_bus = 2;
        sis.sis.virtual_target = 0x105; // only the low byte goes into the address
        sis.sis.virtual_lun = 3;
    }
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    LogCapture log;

    const auto found = discover();
    ASSERT_EQ(found.size(), 1u);
    const Found& f = found[0];
    EXPECT_EQ(f.sys_path, std::string("/sys/devices/pci0000:00/") + c.pci);
    EXPECT_EQ(f.node, c.node);
    EXPECT_EQ(f.protocol, c.protocol_type);
    EXPECT_EQ(f.address, c.address);
    EXPECT_EQ(f.device_type, 1u);
    EXPECT_EQ(f.device_number, 0xFFFFu);
    EXPECT_EQ(f.location, c.location);
    EXPECT_EQ(f.pci_class, "010400");
    EXPECT_EQ(f.driver, driver_bytes(c.driver));
    EXPECT_EQ(f.ids, (Bytes{0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x41, 0x44, 0x10}));
    const size_t expected_size = f.sys_path.size() + f.node.size() + 6 + f.driver.size() + 59;
    EXPECT_EQ(f.size, expected_size);
    EXPECT_TRUE(log.contains(2, "DeviceDescriptor length = " + std::to_string(expected_size)));

    // Every kind is asked for its PCI information on its own node.
    const auto requests = host().requests(c.node);
    EXPECT_TRUE(std::any_of(requests.begin(), requests.end(), [](const auto& r) {
        return r.op == "ioctl" && r.request == kCISSGetPCIInfoRequest;
    }));
    if (c.protocol == qvsim::Protocol::kSis) {
        std::vector<unsigned> commands;
        for (const auto& r : requests) {
            if (r.request == kSISSendFIBRequest) {
                commands.push_back(r.decoded.at("Command").get<unsigned>());
                EXPECT_EQ(r.decoded.at("XferState"), 1);
                EXPECT_EQ(r.decoded.at("StructType"), 4);
                EXPECT_EQ(r.decoded.at("Size"), 4);
                EXPECT_EQ(r.decoded.at("SenderSize"), 512);
            }
        }
        EXPECT_EQ(commands, (std::vector<unsigned>{703, 706}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DiscoveryLayout,
    ::testing::Values(LayoutCase{"ciss", qvsim::Protocol::kCiss, "qzvk", "0000:3b:00.0", "/dev/sg1",
                                 kProtocolTypeCISS, address(0, 0, 0), 0x3B0000},
                      LayoutCase{"pqi", qvsim::Protocol::kPqi, "veskdq", "0001:5e:1f.3", "/dev/sg7",
                                 kProtocolTypePQI, address(0, 0, 0), 0x015E1F03},
                      // The SIS driver does not answer the CISS driver's request: location 0.
                      LayoutCase{"sis", qvsim::Protocol::kSis, "xovraid", "0000:86:00.0", "/dev/xov0",
                                 kProtocolTypeSIS, address(2, 5, 3), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Discovery, EmptyHostGivesAnEmptyList) {
    qvsim::Scenario s;
    s.empty_drivers = {"qzvk", "veskdq", "xovraid"};
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    EXPECT_TRUE(discover().empty());

    qvsim::Scenario none;
    ASSERT_NO_FATAL_FAILURE(StartHost(none));
    EXPECT_TRUE(discover().empty());
}

// ---- CISS and PQI command nodes
// --------------------------------------------------------------

TEST_F(Discovery, ControllerNodeIsTheRaidGenericDeviceBelowIt) {
    qvsim::Scenario s;
    // Listed first in the generic class, but below another controller.
    s.add_pqi("veskdqg", "0000:af:00.0", 7, 4);
    qvsim::Controller c;
    c.driver = "veskdq";
    c.protocol = qvsim::Protocol::kPqi;
    c.pci_address = "0000:5e:00.0";
    c.host(3).scsi_generic(5, "0").scsi_generic(6, "12");
    s.add(c);
    // Only a disk below it: no command node, no descriptor.
    qvsim::Controller disk_only;
    disk_only.driver = "veskpqi";
    disk_only.protocol = qvsim::Protocol::kPqi;
    disk_only.pci_address = "0000:d8:00.0";
    disk_only.host(9).scsi_generic(8, "0");
    s.add(disk_only);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    const auto found = discover();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].sys_path, "/sys/devices/pci0000:00/0000:5e:00.0");
    EXPECT_EQ(found[0].node, "/dev/sg6");
    EXPECT_EQ(found[0].address, address(0, 0, 0));
    EXPECT_EQ(found[1].sys_path, "/sys/devices/pci0000:00/0000:af:00.0");
    EXPECT_EQ(found[1].node, "/dev/sg4");
}

// A device whose sysfs path merely extends the controller's name lies beside it, not below it: its
// RAID generic device is not this controller's command node.
TEST_F(Discovery, DeviceBesideTheControllerIsNotItsNode) {
    qvsim::Scenario s;
    qvsim::Controller c;
    c.driver = "veskdq";
    c.protocol = qvsim::Protocol::kPqi;
    c.pci_address = "0000:5e:00.0";
    c.host(3).scsi_generic(5, "0"); // a disk only: this controller has no command node
    s.add(c);
    // Listed before the disk in the generic class; its path starts with the controller's.
    s.add_pqi("veskdqg", "0000:5e:00.01", 7, 4);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    const auto found = discover();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].sys_path, "/sys/devices/pci0000:00/0000:5e:00.01");
    EXPECT_EQ(found[0].node, "/dev/sg4");
}

TEST_F(Discovery, FailedPciInformationLeavesLocationZero) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).fault({.request = kCISSGetPCIInfoRequest, .err = EIO});
    s.add_ciss("qzdvk", "0000:3c:00.0", 3, 2).fault({.on_open = true, .err = EACCES});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    const auto found = discover();
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].location, 0u);
    EXPECT_EQ(found[1].location, 0u);
    EXPECT_EQ(found[1].node, "/dev/sg2");
}

TEST_F(Discovery, ClassFileGivesSixHexDigitsOrZeros) {
    struct Case {
        const char* name;
        std::optional<std::string> file;
        const char* expected;
    };
    const Case cases[] = {
        {"usual", "0x010700\n", "010700"},
        {"no file", std::nullopt, "000000"},
        {"empty", "", "000000"},
        {"not hex", "class\n", "000000"},
        {"no digits", "0x\n", "000000"},
        {"too many digits", "0x0104001234567\n", "010400"},
        {"fewer digits", "0xabc\n", "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::Scenario s;
        s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).class_file = c.file;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        const auto found = discover();
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].pci_class, c.expected);
    }
}

// ---- SIS nodes
// -------------------------------------------------------------------------------

struct stat node_stat(const char* path) {
    struct stat st {};
    EXPECT_EQ(stat(path, &st), 0) << path;
    return st;
}

TEST_F(Discovery, SecondSisControllerGetsIndexOne) {
    qvsim::Scenario s;
    s.add_sis("xovraid", "0000:86:00.0", 4);
    s.add_ciss("qzvk", "0000:3b:00.0", 5,
               1); // a lower-numbered host of another driver
    auto& second = s.add_sis("xovraid", "0000:87:00.0", 9);
    second.sis.virtual_target = 7;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    const auto found = discover();
    ASSERT_EQ(found.size(), 3u);
    // The index follows host numbers, whatever order the driver directory lists the two in.
    const auto by_path = [&](const char* pci) {
        return *std::find_if(found.begin(), found.end(), [&](const Found& f) {
            return f.sys_path == std::string("/sys/devices/pci0000:00/") + pci;
        });
    };
    ASSERT_EQ(std::count_if(found.begin(), found.end(), [](const Found& f) { return f.protocol == 1; }), 2);
    EXPECT_EQ(by_path("0000:86:00.0").node, "/dev/xov0");
    EXPECT_EQ(by_path("0000:87:00.0").node, "/dev/xov1");
    EXPECT_EQ(by_path("0000:87:00.0").address, address(0, 7, 0));
    const struct stat st = node_stat("/dev/xov1");
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), qvsim::kDefaultSisMajor);
    EXPECT_EQ(minor(st.st_rdev), 1u);
    EXPECT_EQ(st.st_mode & 07777, 0u); // created without permission bits
}

TEST_F(Discovery, StaleSisNodeIsReplaced) {
    qvsim::Scenario s;
    s.add_sis("xovraid", "0000:86:00.0", 4);
    s.nodes.push_back({.path = "/dev/xov0", .type = 'c', .major = 200, .minor = 0, .mode = 0640});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    const auto found = discover();
    ASSERT_EQ(found.size(), 1u);
    const struct stat st = node_stat("/dev/xov0");
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(major(st.st_rdev), qvsim::kDefaultSisMajor);
    EXPECT_EQ(minor(st.st_rdev), 0u);
    EXPECT_EQ(st.st_mode & 07777, 0u);
}

TEST_F(Discovery, CorrectSisNodeIsLeftAlone) {
    qvsim::Scenario s;
    s.add_sis("xovraid", "0000:86:00.0", 4);
    s.nodes.push_back(
        {.path = "/dev/xov0", .type = 'c', .major = qvsim::kDefaultSisMajor, .minor = 0, .mode = 0640});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    const struct stat before = node_stat("/dev/xov0");
    ASSERT_EQ(discover().size(), 1u);
    const struct stat after = node_stat("/dev/xov0");
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
}

TEST_F(Discovery, SisControllerWithoutMajorNumberIsSkipped) {
    qvsim::Scenario s;
    s.add_sis("xovraid", "0000:86:00.0", 4);
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
    s.proc_devices = "Character devices:\n  1 mem\n 21 sg\n\nBlock devices:\n  8 sd\n";
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    LogCapture log;
    const auto found = discover();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].node, "/dev/sg1");
    EXPECT_TRUE(log.contains(1, "Did not find device major number"));
    struct stat st {};
    EXPECT_NE(stat("/dev/xov0", &st), 0);
}

TEST_F(Discovery, SisControllerNeedsTheSupplementReply) {
    struct Case {
        const char* name;
        std::uint32_t options;
        std::optional<qvsim::Fault> fault;
    };
    const Case cases[] = {
        {"supplement not supported", 0, std::nullopt},
        {"adapter info fails", 0x10000, qvsim::Fault{.request = kSISSendFIBRequest, .nth = 1, .err = EIO}},
        {"supplement fails", 0x10000, qvsim::Fault{.request = kSISSendFIBRequest, .nth = 2, .err = EIO}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::Scenario s;
        auto& sis = s.add_sis("xovraid", "0000:86:00.0", 4);
        sis.sis.supported_options = c.options;
        if (c.fault) {
            sis.fault(*c.fault);
        }
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        EXPECT_TRUE(discover().empty());
    }
}

// ---- what the driver directories hold
// ---------------------------------------------------------

TEST_F(Discovery, OnlyLinksBelowSysDevicesAreControllers) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
    s.add_ciss("qzvk", "0000:3c:00.0", 3, 2).bound = false;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    // The driver's module link is already there; add a link to another sysfs
    // tree, a dangling link and a plain directory with a device's name.
    ASSERT_EQ(symlink("../../../../bus/pci", "/sys/bus/pci/drivers/qzvk/0000:3d:00.0"), 0);
    ASSERT_EQ(symlink("../../../../devices/nowhere", "/sys/bus/pci/drivers/qzvk/0000:3e:00.0"), 0);
    ASSERT_EQ(mkdir("/sys/bus/pci/drivers/qzvk/0000:3f:00.0", 0755), 0);

    const auto found = discover();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].sys_path, "/sys/devices/pci0000:00/0000:3b:00.0");
}

TEST_F(Discovery, DescriptorTooLongIsSkipped) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    LogCapture log;

    // A driver name whose stated size pushes the descriptor past 65,535 bytes.
    std::vector<char> name(70000, '\0');
    std::memcpy(name.data(), "qzvk", 4);
    DeviceDescriptorList list = PN_CreateHostBusAdapterDescriptorList();
    EXPECT_EQ(__ProcessDriver(name.data(), name.size(), kProtocolTypeCISS, list, 5), 5u);
    EXPECT_TRUE(walk(list).empty());
    EXPECT_TRUE(log.contains(1, "Assertion 'descriptor_total_length <= (size_t)((VK_WORD)-1)' failed: "
                                "DeviceDescriptor too long"));

    EXPECT_EQ(__ProcessDriver(name.data(), 5, kProtocolTypeCISS, list, 5), 6u);
    EXPECT_EQ(walk(list).size(), 1u);
    PN_DestroyDeviceDescriptorList(list);
}

std::vector<std::string> bound_devices(const std::string& driver) {
    std::vector<std::string> out;
    DIR* d = opendir(("/sys/bus/pci/drivers/" + driver).c_str());
    if (d == nullptr) {
        return out;
    }
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, "0000:", 5) == 0) {
            out.push_back(std::string("/sys/devices/pci0000:00/") + e->d_name);
        }
    }
    closedir(d);
    return out;
}

TEST_F(Discovery, ListFollowsDriverOrderThenDirectoryOrder) {
    qvsim::Scenario s;
    s.add_pqi("veskswr", "0000:01:00.0", 1, 1);
    s.add_sis("xovraid", "0000:02:00.0", 2);
    s.add_ciss("qzvk", "0000:d8:00.0", 3, 3);
    s.add_pqi("veskdq", "0000:04:00.0", 4, 4);
    s.add_ciss("qzvk", "0000:12:00.0", 5, 5);
    s.add_ciss("qzdvkw", "0000:06:00.0", 6, 6);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    std::vector<std::string> expected;
    for (const char* driver : {"qzvk", "qzdvkw", "veskdq", "xovraid", "veskswr"}) {
        const auto devices = bound_devices(driver);
        expected.insert(expected.end(), devices.begin(), devices.end());
    }
    ASSERT_EQ(expected.size(), 6u);

    std::vector<std::string> got;
    for (const auto& f : discover()) {
        got.push_back(f.sys_path);
    }
    EXPECT_EQ(got, expected);
}

} // namespace
