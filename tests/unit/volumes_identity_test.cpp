// How a host volume is identified: trimmed copies, sysfs texts, VPD pages, the ATA identity, and
// the host-volume descriptor built from them.
#include "pavl_hostfile.h"
#include "pavl_info.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using transport_test::Hex;

TEST(VolumesCopyTrimmed, TrimsBothEndsAndAlwaysTerminates) {
    const struct {
        const char* name;
        std::string source;
        size_t source_size;
        size_t dest_size;
        std::string expected;
    } cases[] = {
        {"blanks, tabs and line ends", " \t\r\nQV123 \n", 11, 32, "QV123"},
        {"inner blanks kept", "  A B  ", 7, 32, "A B"},
        {"nothing but blanks", " \t\n ", 4, 32, ""},
        {"source size bounds the read", "ABCDEFGH", 4, 32, "ABCD"},
        {"stops at the first NUL", std::string("AB\0CD", 5), 5, 32, "AB"},
        {"destination exactly full", "ABCD", 4, 5, "ABCD"},
        {"destination one short", "ABCDE", 5, 5, "ABCD"},
        {"one-byte destination", "ABCDE", 5, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> dest(c.dest_size + 8, 'X');
        const size_t n = _PN_CopyTrimmed(dest.data(), c.dest_size, c.source.data(), c.source_size);
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(std::string(dest.data()), c.expected);
        // Nothing past the destination's size is touched.
        for (size_t i = c.dest_size; i < dest.size(); ++i) {
            ASSERT_EQ(dest[i], 'X') << i;
        }
    }
}

// A temporary file holding the given text.
class TempFile {
public:
    explicit TempFile(const std::string& text) {
        char name[] = "/tmp/qv_volumes_XXXXXX";
        const int fd = mkstemp(name);
        path_ = name;
        if (fd >= 0) {
            if (!text.empty()) {
                EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
            }
            close(fd);
        }
    }
    ~TempFile() { unlink(path_.c_str()); }
    const char* path() const { return path_.c_str(); }

private:
    std::string path_;
};

TEST(VolumesSysfsText, ReadsTheFirstTokenWithinItsBuffer) {
    const struct {
        const char* name;
        std::string text;
        size_t buffer;
        bool ok;
        std::string expected;
    } cases[] = {
        {"vendor with padding", "QVSIM   \n", 64, true, "QVSIM"},
        {"first word of a model", "LOGICAL VOLUME\n", 92, true, "LOGICAL"},
        {"unique_id of 32 characters", std::string(32, 'A') + "\n", 33, true, std::string(32, 'A')},
        // Longer than the field: not a truncated id but no id at all.
        {"unique_id of 33 characters", std::string(33, 'A') + "\n", 33, false, ""},
        {"empty file", "", 33, false, ""},
        {"only a line end", "\n", 33, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile f(c.text);
        std::vector<char> out(c.buffer, 'X');
        EXPECT_EQ(pavlin::ReadSysfsToken(f.path(), out.data(), out.size()), c.ok);
        EXPECT_EQ(std::string(out.data()), c.expected);
    }
    char out[8];
    EXPECT_FALSE(pavlin::ReadSysfsToken("/nonexistent/qv/unique_id", out, sizeof(out)));
}

TEST(VolumesSysfsText, NumbersThatDoNotFitAreNotRead) {
    unsigned long long v = 7;
    TempFile size("2097152\n");
    ASSERT_TRUE(pavlin::ReadSysfsNumber(size.path(), &v));
    EXPECT_EQ(v, 2097152u);
    for (const char* bad : {"99999999999999999999999\n", "-1\n", "abc\n", ""}) {
        SCOPED_TRACE(bad);
        TempFile f(bad);
        EXPECT_FALSE(pavlin::ReadSysfsNumber(f.path(), &v));
    }
}

// A reply buffer of exactly `size` bytes on the heap, so a read past it is caught.
std::unique_ptr<VK_BYTE[]> Reply(std::initializer_list<int> head, size_t size) {
    auto r = std::make_unique<VK_BYTE[]>(size);
    std::memset(r.get(), 0, size);
    size_t i = 0;
    for (int b : head) {
        r[i++] = static_cast<VK_BYTE>(b);
    }
    return r;
}

TEST(VolumesVPD, PageListIsReadOnlyAsFarAsTheReplyHolds) {
    bool serial = true;
    bool ident = true;
    auto listed = Reply({0x00, 0x00, 0x00, 0x03, 0x00, 0x80, 0x83}, kVPDReplySize);
    __ParseVPDPageList(pavlin::ByteView(listed.get(), kVPDReplySize), &serial, &ident);
    EXPECT_TRUE(serial);
    EXPECT_TRUE(ident);

    // The length byte counts codes beyond its own length: only the listed ones count.
    auto short_list = Reply({0x00, 0x00, 0x00, 0x01, 0x00, 0x80, 0x83}, kVPDReplySize);
    __ParseVPDPageList(pavlin::ByteView(short_list.get(), kVPDReplySize), &serial, &ident);
    EXPECT_FALSE(serial);
    EXPECT_FALSE(ident);

    // A page that claims 255 codes in an 8-byte reply: the 4 codes present are read, no more.
    auto claims_more = Reply({0x00, 0x00, 0x00, 0xFF, 0x00, 0x80, 0x00, 0x00}, 8);
    __ParseVPDPageList(pavlin::ByteView(claims_more.get(), 8), &serial, &ident);
    EXPECT_TRUE(serial);
    EXPECT_FALSE(ident);

    auto full = Reply({0x00, 0x00, 0x00, 0xFF}, kVPDReplySize);
    full[kVPDReplySize - 1] = 0x83; // the last code that fits
    __ParseVPDPageList(pavlin::ByteView(full.get(), kVPDReplySize), &serial, &ident);
    EXPECT_TRUE(ident);
}

TEST(VolumesVPD, SerialNumberPage) {
    const struct {
        const char* name;
        int page_length;
        std::string data;
        std::string expected;
    } cases[] = {
        {"trimmed", 12, "  QV0001    ", "QV0001"},
        {"length of 4 holds none", 4, "ABCD", ""},
        {"length past the reply", 255, std::string(92, 'S'), std::string(92, 'S')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reply = Reply({0x00, 0x80, 0x00, c.page_length}, kVPDReplySize);
        std::memcpy(reply.get() + 4, c.data.data(), c.data.size());
        char serial[kVolumeSerialNumberSize];
        std::memset(serial, 'X', sizeof(serial));
        __ParseVPDSerialNumber(pavlin::ByteView(reply.get(), kVPDReplySize), serial, sizeof(serial));
        EXPECT_EQ(std::string(serial), c.expected);
    }
}

TEST(VolumesVPD, UniqueIDFromTheNAADesignator) {
    const std::initializer_list<int> naa = {0x60, 0x05, 0x08, 0xB1, 0x00, 0x1C, 0x5A, 0x2B,
                                            0x3C, 0x4D, 0x5E, 0x6F, 0x70, 0x81, 0x92, 0x03};
    const struct {
        const char* name;
        std::vector<int> head;
        bool ok;
    } cases[] = {
        {"NAA 16 bytes", {0x00, 0x83, 0x00, 0x14, 0x01, 0x03, 0x00, 0x10}, true},
        {"ASCII code set", {0x00, 0x83, 0x00, 0x14, 0x02, 0x03, 0x00, 0x10}, false},
        {"vendor-specific type", {0x00, 0x83, 0x00, 0x14, 0x01, 0x00, 0x00, 0x10}, false},
        {"8-byte NAA", {0x00, 0x83, 0x00, 0x0C, 0x01, 0x03, 0x00, 0x08}, false},
        {"page too short for its designator", {0x00, 0x83, 0x00, 0x08, 0x01, 0x03, 0x00, 0x10}, false},
        {"no designator", {0x00, 0x83, 0x00, 0x00}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reply = Reply({}, kVPDReplySize);
        for (size_t i = 0; i < c.head.size(); ++i) {
            reply[i] = static_cast<VK_BYTE>(c.head[i]);
        }
        std::copy(naa.begin(), naa.end(), reply.get() + 8);
        char id[kUniqueVolumeIDSize] = {};
        EXPECT_EQ(__ParseVPDUniqueID(pavlin::ByteView(reply.get(), kVPDReplySize), id, sizeof(id)), c.ok);
        if (c.ok) {
            EXPECT_STREQ(id, "S600508B1001C5A2B3C4D5E6F70819203");
        }
    }
}

TEST(VolumesATAIdentity, SerialAndWorldWideName) {
    VK_BYTE identity[kATAIdentitySize] = {};
    std::memcpy(identity + 20, "  QVATA0001          ", 20);
    // Words 108..111 little-endian: 0x5000, 0xC500, 0x1234, 0xABCD.
    const VK_BYTE wwn[8] = {0x00, 0x50, 0x00, 0xC5, 0x34, 0x12, 0xCD, 0xAB};
    std::memcpy(identity + 216, wwn, sizeof(wwn));

    char serial[kVolumeSerialNumberSize];
    __ParseATAIdentitySerial(pavlin::ByteView(identity, sizeof(identity)), serial, sizeof(serial));
    EXPECT_STREQ(serial, "QVATA0001");

    char id[kUniqueVolumeIDSize] = {};
    ASSERT_TRUE(__ParseATAIdentityUniqueID(pavlin::ByteView(identity, sizeof(identity)), id, sizeof(id)));
    EXPECT_STREQ(id, "S5000C5001234ABCD");

    std::memset(identity + 216, 0, 8);
    EXPECT_FALSE(__ParseATAIdentityUniqueID(pavlin::ByteView(identity, sizeof(identity)), id, sizeof(id)));
}

TEST(VolumesScanRules, KindClassAndOwnership) {
    const struct {
        VK_WORD device_type;
        bool scsi;
        bool ata;
        VK_WORD kind;
    } kinds[] = {
        {1, false, false, 4}, {1, true, true, 4},   {12, true, false, 2},
        {99, true, true, 3},  {99, false, true, 1}, {99, false, false, 6},
    };
    for (const auto& k : kinds) {
        EXPECT_EQ(__StorageVolumeKind(k.device_type, k.scsi, k.ata), k.kind)
            << k.device_type << " " << k.scsi << " " << k.ata;
    }

    EXPECT_TRUE(__ClassWantsATAIdentity("010400"));
    EXPECT_TRUE(__ClassWantsATAIdentity("FF05FF"));
    EXPECT_TRUE(__ClassWantsATAIdentity("FFFF06"));
    EXPECT_FALSE(__ClassWantsATAIdentity("020000"));
    EXPECT_FALSE(__ClassWantsATAIdentity("0"));
    EXPECT_FALSE(__ClassWantsATAIdentity(""));

    const char* controller = "/sys/devices/pci0000:00/0000:3b:00.0";
    const struct {
        const char* volume;
        const char* controller;
        bool belongs;
    } owners[] = {
        {"/sys/devices/pci0000:00/0000:3b:00.0/host2/target2:0:0/2:0:0:0/block/sdb", controller, true},
        {"/sys/devices/pci0000:00/0000:00:17.0/ata3/host30/target30:0:0/30:0:0:0/block/sda", controller,
         false},
        {"/sys/devices/pci0000:00/0000:3b:00.01/host2/block/sdc", controller, false},
        // A controller descriptor without a sysfs path owns nothing.
        {"/sys/devices/pci0000:00/0000:3b:00.0/host2/block/sdb", "", false},
    };
    for (const auto& o : owners) {
        EXPECT_EQ(__VolumeBelongsToController(o.volume, o.controller), o.belongs) << o.volume;
    }
}

std::vector<VK_BYTE> Blob(DeviceDescriptor d) {
    const auto* p = static_cast<const VK_BYTE*>(d);
    return std::vector<VK_BYTE>(p, p + (p[0] | (p[1] << 8)));
}

TEST(VolumesDescriptor, EntriesInOrderAndOptionalOnesOnlyWhenPresent) {
    StorageVolumeIdentity identity{"/dev/sdb", "/sys/b", 2, 4, "S60", "SN1", "QVSIM   LV"};
    DeviceDescriptor d = __BuildStorageVolumeDescriptor(identity);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(Hex(Blob(d).data(), Blob(d).size()),
              "49 00 "                                   // total length 73
              "01 08 00 2F 64 65 76 2F 73 64 62 "        // node
              "00 06 00 2F 73 79 73 2F 62 "              // sysfs path
              "02 02 00 02 00 "                          // protocol type
              "05 02 00 0B 00 "                          // device type 11
              "22 02 00 04 00 "                          // volume kind
              "20 08 00 2F 64 65 76 2F 73 64 62 "        // volume node
              "21 03 00 53 36 30 "                       // unique id
              "23 03 00 53 4E 31 "                       // serial number
              "24 0A 00 51 56 53 49 4D 20 20 20 4C 56"); // vendor and model
    PN_DestroyDeviceDescriptor(d);

    StorageVolumeIdentity bare{"/dev/sdb", "/sys/b", 0xFFFF, 6, "", "", "/dev/sdb"};
    d = __BuildStorageVolumeDescriptor(bare);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d, kDevicePropertyUniqueVolumeID), 0);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d, kDevicePropertySerialNumber), 0);
    char vm[16] = {};
    EXPECT_EQ(PN_GetDeviceSystemProperty(d, kDevicePropertyVendorModel, vm, sizeof(vm)), 0);
    EXPECT_STREQ(vm, "/dev/sdb");
    EXPECT_EQ(PN_GetDeviceDescriptorSize(d), 59u);
    PN_DestroyDeviceDescriptor(d);
}

TEST(VolumesDescriptor, TooLongIsDroppedWithTheAssertionLine) {
    transport_test::LogCapture log;
    const std::string path(70000, 'p');
    StorageVolumeIdentity identity{"/dev/sdb", path.c_str(), 0, 4, "", "", "/dev/sdb"};
    EXPECT_EQ(__BuildStorageVolumeDescriptor(identity), nullptr);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_NE(log.lines()[0].text.find("Assertion 'descriptor_total_length <= (size_t)((VK_WORD)-1)' failed: "
                                       "DeviceDescriptor too long\n"),
              std::string::npos);
}

} // namespace
