// The volume scan on this machine's own /sys and mount tables, outside any namespace.
#include "ppavl_debug.h"
#include "ppavl_info.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
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

// Every volume below /sys/devices: whatever this machine has, each is described soundly and its
// size and extents can be asked for.
TEST_F(VolumesRealHost, EveryVolumeOfTheHostIsDescribedSoundly) {
    Descriptor everything = Controller("/sys/devices");
    DeviceDescriptorList list = PN_CreateStorageVolumeDeviceDescriptorList(everything.get());
    ASSERT_NE(list, nullptr);
    for (DeviceDescriptor v : Items(list)) {
        char node[256] = {};
        ASSERT_EQ(PN_GetDeviceSystemProperty(v, kDevicePropertyNodeName, node, sizeof(node) - 1), 0);
        SCOPED_TRACE(node);
        EXPECT_EQ(std::string(node).rfind("/dev/", 0), 0u);
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
}

} // namespace
