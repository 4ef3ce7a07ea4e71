// The decoders of sysfs text read only the bytes that were read: each case sits in a heap buffer of
// exactly its own size, with no terminator, so a read past it is caught under ASan.
#include "pavl_hostfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

using pavlin::ByteView;

// The text without a terminator, in a buffer of its own size.
class Bytes {
public:
    explicit Bytes(const std::string& text) : size_(text.size()), data_(new std::uint8_t[text.size() + 1]) {
        std::memcpy(data_.get(), text.data(), text.size());
    }
    ByteView view() const { return ByteView(data_.get(), size_); }

private:
    size_t size_;
    std::unique_ptr<std::uint8_t[]> data_;
};

TEST(SysfsText, PCIClass) {
    const struct {
        const char* name;
        std::string text;
        const char* expected; // nullptr: not a class, the default stays
    } cases[] = {
        {"RAID class", "0x010400\n", "010400"},
        {"no line end", "0x010700", "010700"},
        {"more digits than a class", "0x0104001234\n", "010400"},
        {"short class", "0x0104", "0104"},
        {"ends after 0x", "0x", nullptr},
        {"no 0x", "010400\n", nullptr},
        {"upper-case X", "0X010400\n", nullptr},
        {"not hex", "0xg10400\n", nullptr},
        {"empty", "", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[8] = "000000";
        EXPECT_EQ(pavlin::DecodePCIClass(Bytes(c.text).view(), out, sizeof(out)), c.expected != nullptr);
        EXPECT_STREQ(out, c.expected != nullptr ? c.expected : "000000");
    }
}

TEST(SysfsText, HostNumber) {
    const struct {
        std::string name;
        bool ok;
        unsigned long expected;
    } cases[] = {
        {"host0", true, 0},
        {"host12", true, 12},
        {"host2147483647", true, 2147483647UL},
        {"host2147483648", false, 0},
        {"host99999999999999999999999", false, 0},
        {"host", false, 0},
        {"host1a", false, 0},
        {"host+1", false, 0},
        {"hos1", false, 0},
        {"scsi_host", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned long host = 77;
        EXPECT_EQ(pavlin::DecodeHostNumber(Bytes(c.name).view(), &host), c.ok);
        EXPECT_EQ(host, c.ok ? c.expected : 77UL);
    }
}

TEST(SysfsText, UniqueID) {
    const struct {
        const char* name;
        std::string text;
        const char* expected;
    } cases[] = {
        {"32 hex digits", "600508B1001C4D2E9F1B6C7D8E9F0A1B\n", "S600508B1001C4D2E9F1B6C7D8E9F0A1B"},
        {"short id, no line end", "ABC", "SABC"},
        {"leading blanks", "  \tABC \n", "SABC"},
        {"all zeros is none", std::string(32, '0') + "\n", ""},
        {"33 characters is none", std::string(33, 'A') + "\n", ""},
        {"blank file", " \n", ""},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[34];
        std::memset(out, 'X', sizeof(out));
        EXPECT_EQ(pavlin::DecodeUniqueID(Bytes(c.text).view(), out, sizeof(out)), c.expected[0] != '\0');
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(SysfsText, TokenAndNumberStopAtTheEndOfTheBytes) {
    char out[8];
    // The token runs to the end of the bytes read: it ends there, nothing beyond is read.
    EXPECT_TRUE(pavlin::DecodeSysfsToken(Bytes("  QVSIM").view(), out, sizeof(out)));
    EXPECT_STREQ(out, "QVSIM");
    EXPECT_FALSE(pavlin::DecodeSysfsToken(Bytes("QVSIM123").view(), out, sizeof(out)));
    EXPECT_STREQ(out, "");
    unsigned long long v = 0;
    EXPECT_TRUE(pavlin::DecodeSysfsNumber(Bytes("4096").view(), &v));
    EXPECT_EQ(v, 4096u);
    EXPECT_FALSE(pavlin::DecodeSysfsNumber(Bytes("18446744073709551616").view(), &v));
    EXPECT_FALSE(pavlin::DecodeSysfsNumber(ByteView(), &v));
}

TEST(SysfsText, LinkTargetBelowItsController) {
    const std::string controller = "/sys/devices/pci0000:3a/0000:3b:00.0";
    const struct {
        const char* name;
        std::string target;
        std::string dir;
        bool below;
    } cases[] = {
        {"inside", controller + "/host3/target3:0:0/3:0:0:0/type", controller, true},
        {"sibling extending the name", "/sys/devices/pci0000:3a/0000:3b:00.01/host3/type", controller, false},
        {"the controller itself", controller, controller, false},
        {"shorter than the controller", "/sys/devices", controller, false},
        {"directory ending in a slash", controller + "/type", controller + "/", true},
        {"empty directory owns nothing", controller, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pavlin::TargetLiesBelow(Bytes(c.target).view(), Bytes(c.dir).view()), c.below);
    }
    EXPECT_TRUE(pavlin::TextStartsWith(Bytes("12\n").view(), "12"));
    EXPECT_FALSE(pavlin::TextStartsWith(Bytes("1").view(), "12"));
}

} // namespace
