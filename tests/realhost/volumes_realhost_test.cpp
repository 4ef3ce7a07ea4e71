// The volume scan on this machine's own /sys and mount tables, outside any namespace. Whatever disks
// the machine has, the scan lists exactly the block devices that sysfs shows as usable, and
// describes each soundly.
#include "ppavl_debug.h"
#include "ppavl_info.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using transport_test::Descriptor;

std::vector<std::string> g_errors;

void collect_errors(VK_BYTE level, VK_UINT32, const char* text) {
    if (level == 1) {
        g_errors.emplace_back(text);
    }
}

class VolumesRealHost : public ::testing::Test {
protected:
    void SetUp() override {
        g_errors.clear();
        old_mask_ = PN_SetDebugLogLevelMask(1, 0xFFFFFFFF);
        old_sink_ = PN_SetDebugCallback(collect_errors);
    }
    void TearDown() override {
        PN_SetDebugCallback(old_sink_);
        PN_SetDebugLogLevelMask(1, old_mask_);
        EXPECT_TRUE(g_errors.empty()) << g_errors.front();
    }

    static std::vector<DeviceDescriptor> Items(DeviceDescriptorList list) {
        std::vector<DeviceDescriptor> out;
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            out.push_back(PN_GetDeviceListItemAt(it));
        }
        PN_DestroyDeviceListIterator(it);
        return out;
    }

private:
    VK_UINT32 old_mask_ = 0;
    DebugCallbackFunction old_sink_ = nullptr;
};

Descriptor Controller(const std::string& sysfs_path) {
    Descriptor d;
    d.Text(kDevicePropertySysPath, sysfs_path).Node("/dev/sg99").Protocol(kProtocolTypePQI).DeviceType(1);
    d.Text(kDevicePropertyPCIClass, "010400");
    return d;
}

TEST_F(VolumesRealHost, AControllerThatDoesNotExistOwnsNoVolume) {
    for (const char* path : {"/sys/devices/pci0000:00/0000:ff:1f.7", ""}) {
        SCOPED_TRACE(path);
        Descriptor controller = Controller(path);
        DeviceDescriptorList list = PN_CreateStorageVolumeDeviceDescriptorList(controller.get());
        ASSERT_NE(list, nullptr);
        EXPECT_TRUE(Items(list).empty());
        PN_DestroyDeviceDescriptorList(list);
    }
    Descriptor no_path;
    no_path.Node("/dev/sg99").Protocol(kProtocolTypeCISS).DeviceType(1);
    DeviceDescriptorList list = PN_CreateStorageVolumeDeviceDescriptorList(no_path.get());
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(Items(list).empty());
    PN_DestroyDeviceDescriptorList(list);
}

std::string Resolved(const std::string& path) {
    char out[PATH_MAX];
    return realpath(path.c_str(), out) != nullptr ? std::string(out) : std::string();
}

std::string FirstWord(const std::string& path) {
    std::ifstream in(path);
    std::string word;
    in >> word;
    return word;
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The nodes of the block devices that a controller owning all of /sys/devices must list, read from
// sysfs here: a non-zero size, not removable, and a SCSI device directory that can be opened.
std::vector<std::string> UsableBlockNodes() {
    std::vector<std::string> nodes;
    DIR* dir = opendir("/sys/block");
    if (dir == nullptr) {
        return nodes;
    }
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const std::string entry = "/sys/block/" + name;
        struct stat st {};
        if (lstat(entry.c_str(), &st) != 0) {
            continue;
        }
        // Current sysfs links each block device into /sys/devices; the older layout has directories
        // here, each with a "device" link.
        const bool old_layout = !S_ISLNK(st.st_mode);
        const std::string device_link = entry + "/device";
        const bool from_device_link =
            old_layout && lstat(device_link.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
        const std::string volume = !old_layout        ? Resolved(entry)
                                   : from_device_link ? Resolved(device_link)
                                                      : entry;
        const std::string block_dir = from_device_link ? entry : volume;
        const std::string size = FirstWord(block_dir + "/size");
        if (size.empty() || std::strtoull(size.c_str(), nullptr, 10) == 0 ||
            FirstWord(block_dir + "/removable") == "1") {
            continue;
        }
        if (volume.find("/sys/devices/") == std::string::npos) {
            continue;
        }
        const std::string device_dir = from_device_link ? volume : Resolved(volume + "/device");
        if (!IsDirectory(device_dir)) {
            continue;
        }
        std::string node = "/dev/" + name;
        if (const auto bang = node.find('!'); bang != std::string::npos) {
            node[bang] = '/';
        }
        nodes.push_back(node);
    }
    closedir(dir);
    std::sort(nodes.begin(), nodes.end());
    return nodes;
}

// Every volume below /sys/devices: the scan finds what sysfs shows, and each is described soundly
// and its size and extents can be asked for.
TEST_F(VolumesRealHost, EveryVolumeOfTheHostIsDescribedSoundly) {
    Descriptor everything = Controller("/sys/devices");
    DeviceDescriptorList list = PN_CreateStorageVolumeDeviceDescriptorList(everything.get());
    ASSERT_NE(list, nullptr);
    std::vector<std::string> listed;
    for (DeviceDescriptor v : Items(list)) {
        char node[256] = {};
        ASSERT_EQ(PN_GetDeviceSystemProperty(v, kDevicePropertyNodeName, node, sizeof(node) - 1), 0);
        SCOPED_TRACE(node);
        listed.push_back(node);
        EXPECT_EQ(std::string(node).rfind("/dev/", 0), 0u);
        char sys_path[PATH_MAX] = {};
        ASSERT_EQ(PN_GetDeviceSystemProperty(v, kDevicePropertySysPath, sys_path, sizeof(sys_path) - 1), 0);
        EXPECT_NE(std::string(sys_path).find("/sys/devices/"), std::string::npos);
        VK_WORD type = 0;
        VK_WORD kind = 0;
        EXPECT_EQ(PN_GetDeviceSystemProperty(v, kDevicePropertyDeviceType, &type, sizeof(type)), 0);
        EXPECT_EQ(type, 11);
        EXPECT_EQ(PN_GetDeviceSystemProperty(v, kDevicePropertyVolumeKind, &kind, sizeof(kind)), 0);
        EXPECT_EQ(kind, kStorageVolumeKindController);
        EXPECT_LE(PN_GetDeviceSystemPropertySize(v, kDevicePropertyUniqueVolumeID), 33);
        EXPECT_LE(PN_GetDeviceSystemPropertySize(v, kDevicePropertySerialNumber), 95);
        EXPECT_LE(PN_GetDeviceSystemPropertySize(v, kDevicePropertyVendorModel), 159);

        StorageVolumeInformation info;
        EXPECT_TRUE(PN_GetStorageVolumeInformation(v, &info));
        if (info.wVolumeInformationFlags & kStorageVolumeUsableSizeValid) {
            EXPECT_GT(info.qwUsableSizeInBytes, 0u);
            EXPECT_EQ(info.qwUsableSizeInBytes % 512, 0u);
        }
        PStorageExtentInformation* extents = nullptr;
        const int n = PN_CreateStorageExtentArray(v, &extents);
        EXPECT_GE(n, 0);
        EXPECT_EQ(n == 0, extents == nullptr);
        for (int i = 0; i < n; ++i) {
            ASSERT_NE(extents[i], nullptr);
            ASSERT_NE(extents[i]->mount_points, nullptr);
            EXPECT_GT(std::strlen(extents[i]->mount_points), 0u);
        }
        if (extents != nullptr) {
            EXPECT_EQ(extents[n], nullptr);
        }
        PN_DestroyStorageExtentArray(&extents);
        EXPECT_EQ(extents, nullptr);
    }
    PN_DestroyDeviceDescriptorList(list);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, UsableBlockNodes());
    RecordProperty("volumes", static_cast<int>(listed.size()));
}

} // namespace
