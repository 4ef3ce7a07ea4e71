// Host block volumes on simulated hosts: which volumes a controller owns, how each is identified,
// its size and geometry, and its mounted extents.
#include "qvsim/gtest.h"

#include "ppavl_discovery.h"
#include "ppavl_info.h"

#include <linux/fs.h>
#include <linux/hdreg.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr unsigned long kSGIO = 0x2285;
constexpr const char* kCiss = "0000:3b:00.0";

std::optional<std::string> Text(DeviceDescriptor d, VK_BYTE id) {
    const VK_WORD n = PN_GetDeviceSystemPropertySize(d, id);
    std::string s(n, '\0');
    if (PN_GetDeviceSystemProperty(d, id, s.data(), n) != 0) {
        return std::nullopt;
    }
    return s;
}

VK_WORD Word(DeviceDescriptor d, VK_BYTE id) {
    VK_BYTE b[2] = {};
    EXPECT_EQ(PN_GetDeviceSystemProperty(d, id, b, sizeof(b)), 0) << int(id);
    return static_cast<VK_WORD>(b[0] | (b[1] << 8));
}

std::string Resolved(const std::string& path) {
    char out[PATH_MAX];
    return realpath(path.c_str(), out) != nullptr ? out : "";
}

// A host volume's descriptor, kept after its list is gone.
struct Volume {
    std::vector<VK_BYTE> blob;
    DeviceDescriptor get() { return blob.data(); }
    std::string node() { return Text(get(), kDevicePropertyNodeName).value_or(""); }
};

class Volumes : public qvsim::SimHostTest {
protected:
    void TearDown() override {
        PN_DestroyDeviceDescriptorList(controllers_);
        controllers_ = nullptr;
        qvsim::SimHostTest::TearDown();
    }

    // The discovered controller at that PCI address.
    DeviceDescriptor Controller(const std::string& pci) {
        if (controllers_ == nullptr) {
            controllers_ = PN_CreateControllerDescriptorList();
        }
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(controllers_);
        DeviceDescriptor found = nullptr;
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            const auto path = Text(PN_GetDeviceListItemAt(it), kDevicePropertySysPath).value_or("");
            if (path.size() >= pci.size() && path.compare(path.size() - pci.size(), pci.size(), pci) == 0) {
                found = PN_GetDeviceListItemAt(it);
            }
        }
        PN_DestroyDeviceListIterator(it);
        EXPECT_NE(found, nullptr) << "no controller at " << pci;
        return found;
    }

    // The volumes of the controller, by node.
    std::map<std::string, Volume> VolumesOf(const std::string& pci) {
        std::map<std::string, Volume> out;
        DeviceDescriptor controller = Controller(pci);
        if (controller == nullptr) {
            return out;
        }
        DeviceDescriptorList list = PN_CreateStorageVolumeDeviceDescriptorList(controller);
        EXPECT_NE(list, nullptr);
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            auto* d = static_cast<VK_BYTE*>(PN_GetDeviceListItemAt(it));
            Volume v{std::vector<VK_BYTE>(d, d + PN_GetDeviceDescriptorSize(d))};
            out[v.node()] = v;
        }
        PN_DestroyDeviceListIterator(it);
        PN_DestroyDeviceDescriptorList(list);
        return out;
    }

    // The pages asked by INQUIRY on the node, in order ("00", "80", "83").
    std::vector<std::string> PagesAsked(const std::string& node) {
        std::vector<std::string> pages;
        for (const auto& r : host().requests(node)) {
            if (r.op == "ioctl" && r.request == kSGIO) {
                const std::string cdb = r.decoded.value("cdb", "");
                EXPECT_EQ(cdb.substr(0, 6), "12 01 ") << cdb;
                EXPECT_EQ(cdb.substr(8), " 00 60 00") << cdb;
                pages.push_back(cdb.substr(6, 2));
            }
        }
        return pages;
    }

    bool Sent(const std::string& node, unsigned long request) {
        for (const auto& r : host().requests(node)) {
            if (r.op == "ioctl" && r.request == request) {
                return true;
            }
        }
        return false;
    }

private:
    DeviceDescriptorList controllers_ = nullptr;
};

TEST_F(Volumes, EachControllerOwnsTheVolumesBelowIt) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", kCiss, 2, 1);
    s.add_pqi("veskdq", "0000:5e:00.0", 3, 2);
    auto& sdb = qvsim::add_volume(s, kCiss, "sdb", 16);
    sdb.unique_id = "600508B1001C5A2B3C4D5E6F70819203";
    qvsim::add_volume(s, "0000:5e:00.0", "sdd", 48);
    qvsim::BlockDevice elsewhere;
    elsewhere.name = "sdc";
    elsewhere.minor = 32;
    qvsim::add_block_device(s, elsewhere);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    auto ciss = VolumesOf(kCiss);
    ASSERT_EQ(ciss.size(), 1u);
    ASSERT_EQ(ciss.count("/dev/sdb"), 1u);
    DeviceDescriptor v = ciss["/dev/sdb"].get();
    EXPECT_EQ(Text(v, kDevicePropertySysPath), Resolved("/sys/block/sdb"));
    EXPECT_EQ(Word(v, kDevicePropertyProtocolType), kProtocolTypeCISS);
    EXPECT_EQ(Word(v, kDevicePropertyDeviceType), 11);
    EXPECT_EQ(Word(v, kDevicePropertyVolumeKind), kStorageVolumeKindController);
    EXPECT_EQ(Text(v, kDevicePropertyVolumeNodeName), "/dev/sdb");
    EXPECT_EQ(Text(v, kDevicePropertyUniqueVolumeID), "S600508B1001C5A2B3C4D5E6F70819203");
    EXPECT_EQ(Text(v, kDevicePropertySerialNumber), "QVSIMVOL0001");
    // The model is read as one word, as "%s" reads it.
    EXPECT_EQ(Text(v, kDevicePropertyVendorModel), "QVSIM   LOGICAL");
    EXPECT_EQ(Text(v, kDevicePropertyProtocolAddress), std::nullopt);
    // With a unique id from sysfs, neither page 0x83 nor the ATA identity is asked for.
    EXPECT_EQ(PagesAsked("/dev/sdb"), (std::vector<std::string>{"00", "80"}));
    EXPECT_FALSE(Sent("/dev/sdb", HDIO_GET_IDENTITY));
    // The other controller's volume and the stray one were never opened by this scan.
    EXPECT_TRUE(host().requests("/dev/sdc").empty());

    auto pqi = VolumesOf("0000:5e:00.0");
    ASSERT_EQ(pqi.size(), 1u);
    EXPECT_EQ(Word(pqi.begin()->second.get(), kDevicePropertyProtocolType), kProtocolTypePQI);
}

TEST_F(Volumes, RemovableVolumesAreListedForSISControllersOnly) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", kCiss, 2, 1);
    s.add_sis("xovraid", "0000:86:00.0", 4);
    qvsim::add_volume(s, kCiss, "sdb", 16).removable = "1";
    qvsim::add_volume(s, kCiss, "sdc", 32);
    qvsim::add_volume(s, "0000:86:00.0", "sdd", 48).removable = "1";
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    auto ciss = VolumesOf(kCiss);
    EXPECT_EQ(ciss.count("/dev/sdb"), 0u);
    EXPECT_EQ(ciss.count("/dev/sdc"), 1u);
    auto sis = VolumesOf("0000:86:00.0");
    ASSERT_EQ(sis.count("/dev/sdd"), 1u);
    EXPECT_EQ(Word(sis["/dev/sdd"].get(), kDevicePropertyProtocolType), kProtocolTypeSIS);
}

TEST_F(Volumes, NodeNamesAndTheirFallbackAsVendorAndModel) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", kCiss, 2, 1);
    auto& c0d0 = qvsim::add_volume(s, kCiss, "cciss!c0d0", 16);
    c0d0.model = std::nullopt;
    auto& old = qvsim::add_volume(s, kCiss, "sdc", 32);
    old.legacy_directory = true;
    old.target = 1;
    auto& empty = qvsim::add_volume(s, kCiss, "sdd", 48);
    empty.size = 0;
    empty.target = 2;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));

    auto volumes = VolumesOf(kCiss);
    ASSERT_EQ(volumes.count("/dev/cciss/c0d0"), 1u);
    EXPECT_EQ(Text(volumes["/dev/cciss/c0d0"].get(), kDevicePropertyVendorModel), "/dev/cciss/c0d0");
    // The old layout: /sys/block/sdc is a directory whose device link names the volume.
    ASSERT_EQ(volumes.count("/dev/sdc"), 1u);
    EXPECT_EQ(Text(volumes["/dev/sdc"].get(), kDevicePropertySysPath), Resolved("/sys/block/sdc/device"));
    EXPECT_EQ(volumes.count("/dev/sdd"), 0u); // size 0: not usable
    EXPECT_EQ(volumes.size(), 2u);
}

TEST_F(Volumes, UniqueIdAndSerialFromEachSource) {
    const std::string naa = "600508B1001C5A2B3C4D5E6F70819203";
    const std::string wwn = "5000C5001234ABCD";
    struct Case {
        const char* name;
        std::optional<std::string> unique_id;
        std::optional<std::string> naa;
        std::vector<std::uint8_t> page_list; // replaces page 0x00 when not empty
        bool sg_io_fails;
        bool identity;
        std::optional<std::string> expected_id;
        std::optional<std::string> expected_serial;
        std::vector<std::string> pages;
        bool identity_asked;
        bool lists_no_pages = false; // page 0x00 answered with CHECK CONDITION
    };
    const Case cases[] = {
        {"no unique_id: page 0x83",
         std::nullopt,
         naa,
         {},
         false,
         false,
         "S" + naa,
         "QVSIMVOL0001",
         {"00", "80", "83"},
         false},
        {"all-zero unique_id: page 0x83",
         std::string(32, '0'),
         naa,
         {},
         false,
         false,
         "S" + naa,
         "QVSIMVOL0001",
         {"00", "80", "83"},
         false},
        {"unique_id longer than its field",
         std::string(33, 'A'),
         naa,
         {},
         false,
         false,
         "S" + naa,
         "QVSIMVOL0001",
         {"00", "80", "83"},
         false},
        {"no id anywhere",
         std::nullopt,
         std::nullopt,
         {},
         false,
         true,
         "S" + wwn,
         "QVSIMVOL0001",
         {"00", "80", "83"},
         true},
        {"page list claims more than the reply",
         std::nullopt,
         naa,
         {0x00, 0x00, 0x00, 0xFF, 0x00, 0x83},
         false,
         false,
         "S" + naa,
         std::nullopt,
         {"00", "83"},
         false},
        {"no SG_IO: the ATA identity",
         std::nullopt,
         naa,
         {},
         true,
         true,
         "S" + wwn,
         "QVSIMATA0001",
         {"00"},
         true},
        {"no SG_IO and no identity", "600D", naa, {}, true, false, "S600D", std::nullopt, {"00"}, true},
        // CHECK CONDITION for page 0x00: the pages do not count as readable, so the identity is asked.
        {"page list refused", "600D", naa, {}, false, true, "S600D", "QVSIMATA0001", {"00"}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::Scenario s;
        s.add_ciss("qzvk", kCiss, 2, 1);
        auto& v = qvsim::add_volume(s, kCiss, "sdb", 16);
        v.unique_id = c.unique_id;
        v.naa = c.naa;
        if (!c.page_list.empty()) {
            v.vpd_raw[0x00] = c.page_list;
        }
        if (c.lists_no_pages) {
            v.vpd_pages = {0x80, 0x83};
        }
        if (c.sg_io_fails) {
            v.faults.push_back({.request = kSGIO, .count = 0, .err = EIO});
        }
        if (c.identity) {
            v.identity = qvsim::AtaIdentity{};
            v.identity->wwn = wwn;
        }
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        auto volumes = VolumesOf(kCiss);
        ASSERT_EQ(volumes.count("/dev/sdb"), 1u);
        DeviceDescriptor d = volumes["/dev/sdb"].get();
        EXPECT_EQ(Text(d, kDevicePropertyUniqueVolumeID), c.expected_id);
        EXPECT_EQ(Text(d, kDevicePropertySerialNumber), c.expected_serial);
        EXPECT_EQ(PagesAsked("/dev/sdb"), c.pages);
        EXPECT_EQ(Sent("/dev/sdb", HDIO_GET_IDENTITY), c.identity_asked);
        TearDown();
    }
}

TEST_F(Volumes, SizeAndGeometryWithEachRequestFailing) {
    struct Case {
        const char* name;
        std::vector<qvsim::Fault> faults;
        std::optional<unsigned> logical, physical;             // answers of the block requests
        std::optional<unsigned> queue_logical, queue_physical; // the sysfs queue files
        VK_WORD flags;
        VK_QWORD logical_size, physical_size;
    };
    const Case cases[] = {
        {"everything answers", {}, 512, 4096, 1024, 8192, 0x3F, 512, 4096},
        {"no geometry", {{.request = HDIO_GETGEO, .err = EIO}}, 512, 4096, 1024, 8192, 0x07, 512, 4096},
        {"logical size from the queue file", {}, std::nullopt, 4096, 1024, 8192, 0x3F, 1024, 4096},
        {"no logical size at all", {}, std::nullopt, 4096, std::nullopt, 8192, 0x3D, 0, 4096},
        {"physical size from the queue file", {}, 512, std::nullopt, 1024, 8192, 0x3F, 512, 8192},
        {"physical size taken from the logical", {}, 512, std::nullopt, 1024, std::nullopt, 0x3F, 512, 512},
        {"no block sizes", {}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, 0x39, 0, 0},
        {"node cannot be opened",
         {{.on_open = true, .count = 0, .err = EACCES}},
         512,
         4096,
         1024,
         8192,
         0,
         0,
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::Scenario s;
        s.add_ciss("qzvk", kCiss, 2, 1);
        auto& v = qvsim::add_volume(s, kCiss, "sdb", 16);
        v.size = 1000000;
        v.heads = 16;
        v.sectors = 63;
        v.logical_block_size = c.logical;
        v.physical_block_size = c.physical;
        v.queue_logical_block_size = c.queue_logical;
        v.queue_physical_block_size = c.queue_physical;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        auto volumes = VolumesOf(kCiss);
        ASSERT_EQ(volumes.count("/dev/sdb"), 1u);
        // Faults only now, so that the scan itself went through.
        for (const auto& f : c.faults) {
            host().device("/dev/sdb")->add_fault(f);
        }
        StorageVolumeInformation info;
        std::memset(&info, 0xA5, sizeof(info));
        EXPECT_TRUE(PN_GetStorageVolumeInformation(volumes["/dev/sdb"].get(), &info));
        EXPECT_EQ(info.wVolumeInformationFlags, c.flags);
        if (c.flags & kStorageVolumeUsableSizeValid) {
            EXPECT_EQ(info.qwUsableSizeInBytes, 1000000ull * 512);
        } else {
            EXPECT_EQ(info.qwUsableSizeInBytes, 0u);
        }
        if (c.flags & kStorageVolumeHeadsValid) {
            EXPECT_EQ(info.qwNumHeads, 16u);
            EXPECT_EQ(info.qwNumSectors, 63u);
            EXPECT_EQ(info.qwNumCylinders, 1000000u / (16 * 63));
        } else {
            EXPECT_EQ(info.qwNumHeads + info.qwNumSectors + info.qwNumCylinders, 0u);
        }
        EXPECT_EQ(info.qwLogicalBlockSize, c.logical_size);
        EXPECT_EQ(info.qwPhysicalBlockSize, c.physical_size);
        EXPECT_EQ(info.bSCSIBus + info.bSCSITarget + info.bSCSILUN, 0);
        TearDown();
    }
}

struct Extent {
    VK_DWORD number;
    VK_QWORD offset, size;
    std::string mount_points;
    bool operator==(const Extent&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Extent& e) {
    return os << "{" << e.number << " " << e.offset << " " << e.size << " " << e.mount_points << "}";
}

std::vector<Extent> Extents(DeviceDescriptor volume) {
    PStorageExtentInformation* array = reinterpret_cast<PStorageExtentInformation*>(&array);
    const int n = PN_CreateStorageExtentArray(volume, &array);
    std::vector<Extent> out;
    if (n == 0) {
        EXPECT_EQ(array, nullptr);
        return out;
    }
    for (int i = 0; i < n; ++i) {
        const StorageExtentInformation* e = array[i];
        EXPECT_EQ(e->partition_type, 0);
        EXPECT_EQ(e->mount_points_size, std::strlen(e->mount_points) + 1);
        out.push_back({e->extent_number, e->extent_offset, e->extent_size, e->mount_points});
    }
    EXPECT_EQ(array[n], nullptr);
    PN_DestroyStorageExtentArray(&array);
    EXPECT_EQ(array, nullptr);
    return out;
}

TEST_F(Volumes, MountedExtentsFromMtabAndFstab) {
    qvsim::Scenario s;
    s.add_ciss("qzvk", kCiss, 2, 1);
    auto& sdb = qvsim::add_volume(s, kCiss, "sdb", 16);
    sdb.size = 100000;
    sdb.partitions = {{.number = 1, .start = 2048, .size = 4096}, {.number = 2, .start = 8192}};
    auto& whole = qvsim::add_volume(s, kCiss, "sdc", 32);
    whole.target = 1;
    auto& c0d0 = qvsim::add_volume(s, kCiss, "cciss!c0d0", 64);
    c0d0.target = 2;
    c0d0.partitions = {{.number = 1, .start = 63, .size = 1000}};
    qvsim::add_volume(s, kCiss, "sde", 80).target = 3; // mounted nowhere
    s.mounts = {{"/dev/sdb1", "data"},
                {"/dev/sdb1", "again"},
                {"/dev/sdc", "whole"},
                {"/dev/cciss/c0d0p1", "c0"},
                {"/dev/sdbc1", "other"}};
    s.fstab += "/dev/sdb2 swap swap defaults 0 0\n"
               "/dev/sdc swap swap defaults 0 0\n"
               "/dev/sde1 /boot ext4 defaults 0 0\n";
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    auto volumes = VolumesOf(kCiss);
    ASSERT_EQ(volumes.size(), 4u);

    const std::vector<Extent> sdb_expected = {
        {1, 2048ull * 512, 4096ull * 512, host().mount_point("data") + "," + host().mount_point("again")},
        {2, 8192ull * 512, (100000ull - 8192) * 512, "swap"},
    };
    EXPECT_EQ(Extents(volumes["/dev/sdb"].get()), sdb_expected);
    const std::vector<Extent> sdc_expected = {
        {0, 0, whole.size * 512, host().mount_point("whole") + ",swap"}};
    EXPECT_EQ(Extents(volumes["/dev/sdc"].get()), sdc_expected);
    const std::vector<Extent> c0d0_expected = {{1, 63ull * 512, 1000ull * 512, host().mount_point("c0")}};
    EXPECT_EQ(Extents(volumes["/dev/cciss/c0d0"].get()), c0d0_expected);
    EXPECT_TRUE(Extents(volumes["/dev/sde"].get()).empty());
}

} // namespace
