// Which mount-table entries belong to a host volume, and the mount records kept while its extents
// are listed.
#include "pavl_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

TEST(VolumesPartitions, NamesOfADeviceAndItsPartitions) {
    const struct {
        const char* device;
        const char* entry;
        bool matches;
        VK_DWORD number;
    } cases[] = {
        {"/dev/sdb", "/dev/sdb", true, 0},
        {"/dev/sdb", "/dev/sdb1", true, 1},
        {"/dev/sdb", "/dev/sdb12", true, 12},
        {"/dev/sdb", "/dev/sdbc", false, 0},
        {"/dev/sdb", "/dev/sdbc1", false, 0},
        {"/dev/sdb", "/dev/sdb1a", false, 0},
        {"/dev/sdb", "/dev/sd", false, 0},
        // A name ending in a digit takes "p" before the partition number; a further digit names
        // another device.
        {"/dev/nvme0n1", "/dev/nvme0n1p2", true, 2},
        {"/dev/nvme0n1", "/dev/nvme0n12", false, 0},
        {"/dev/nvme0n1", "/dev/nvme0n1p", false, 0},
        {"/dev/cciss/c0d0", "/dev/cciss/c0d0p1", true, 1},
        {"/dev/cciss/c0d0", "/dev/cciss/c0d01", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " vs " + c.entry);
        EXPECT_EQ(__IsDeviceOrPartition(c.device, std::strlen(c.device), c.entry), c.matches);
        EXPECT_EQ(__PartitionNumber(c.device, c.entry), c.number);
    }
}

TEST(VolumesPartitions, SysfsNameOfAPartitionNode) {
    const struct {
        const char* node;
        const char* sysfs;
    } cases[] = {
        {"/dev/sdb1", "sdb1"},
        {"/dev/cciss/c0d0p1", "cciss!c0d0p1"},
        {"/other/sdb1", "sdb1"},
    };
    for (const auto& c : cases) {
        char name[64];
        __PartitionSysfsName(c.node, name, sizeof(name));
        EXPECT_STREQ(name, c.sysfs) << c.node;
    }
}

class MountTables : public ::testing::Test {
protected:
    void TearDown() override {
        __FreePartitionMountList();
        for (const auto& p : files_) {
            unlink(p.c_str());
        }
    }
    std::string Table(const std::string& text) {
        char name[] = "/tmp/qv_mtab_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
        files_.emplace_back(name);
        return name;
    }

private:
    std::vector<std::string> files_;
};

TEST_F(MountTables, MatchesStopAtTheFirstUnlessAListIsBuilt) {
    const std::string mtab = Table("/dev/sda1 / ext4 rw 0 0\n"
                                   "/dev/sdbc1 /other ext4 rw 0 0\n"
                                   "/dev/sdb1 /data xfs rw 0 0\n"
                                   "/dev/sdb2 /logs xfs rw 0 0\n"
                                   "/dev/sdb1 /srv/data\\040copy xfs rw 0 0\n");
    EXPECT_TRUE(__ScanMountTable(mtab.c_str(), false, "/dev/sdb", 8, false));
    EXPECT_EQ(__GetNumPartitionMountRecords(), 0u);
    EXPECT_FALSE(__ScanMountTable(mtab.c_str(), false, "/dev/sdc", 8, false));

    EXPECT_TRUE(__ScanMountTable(mtab.c_str(), false, "/dev/sdb", 8, true));
    ASSERT_EQ(__GetNumPartitionMountRecords(), 2u);
    const PartitionMountList* one = __FindPartitionMountRecord("/dev/sdb1");
    ASSERT_NE(one, nullptr);
    // One record per device, its mount points joined.
    EXPECT_STREQ(one->mount_point, "/data,/srv/data copy");
    EXPECT_EQ(one->mount_point_size, std::strlen(one->mount_point) + 1);
    const PartitionMountList* two = __FindPartitionMountRecord("/dev/sdb2");
    ASSERT_NE(two, nullptr);
    EXPECT_STREQ(two->mount_point, "/logs");
    EXPECT_EQ(__FindPartitionMountRecord("/dev/sdb"), nullptr);
    EXPECT_EQ(__FindPartitionMountRecord("/dev/sdbc1"), nullptr);
}

TEST_F(MountTables, FromAnFstabOnlySwapMountPointsCount) {
    const std::string fstab = Table("# comment\n"
                                    "/dev/sdb1 /data xfs defaults 0 0\n"
                                    "/dev/sdb2 swap swap defaults 0 0\n"
                                    "/dev/sdb3 none swap sw 0 0\n");
    EXPECT_TRUE(__ScanMountTable(fstab.c_str(), true, "/dev/sdb", 8, true));
    ASSERT_EQ(__GetNumPartitionMountRecords(), 1u);
    ASSERT_NE(__FindPartitionMountRecord("/dev/sdb2"), nullptr);
    EXPECT_STREQ(__FindPartitionMountRecord("/dev/sdb2")->mount_point, "swap");
    EXPECT_FALSE(__ScanMountTable(fstab.c_str(), true, "/dev/sdc", 8, false));
}

TEST_F(MountTables, InsertTrimsAndIgnoresEmptyNames) {
    __InsertPartitionMountRecord("/dev/sdb1", 10, "  /a \n", 7);
    __InsertPartitionMountRecord("/dev/sdb1", 10, "   ", 4);
    __InsertPartitionMountRecord("/dev/sdb1", 10, "/b", 3);
    __InsertPartitionMountRecord("", 1, "/c", 3);
    ASSERT_EQ(__GetNumPartitionMountRecords(), 1u);
    EXPECT_STREQ(__FindPartitionMountRecord("/dev/sdb1")->mount_point, "/a,/b");
    __FreePartitionMountList();
    EXPECT_EQ(__GetNumPartitionMountRecords(), 0u);
}

} // namespace
