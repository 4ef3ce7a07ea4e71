// CISS REPORT LUNS decoding that needs no controller: the list length a consumer may walk, and the
// device type and number of a physical entry.
#include <gtest/gtest.h>

#include <vector>

#include "pavl_reportluns.h"

namespace {

std::vector<VK_BYTE> Header(VK_DWORD list_length, size_t buffer_size) {
    std::vector<VK_BYTE> b(buffer_size, 0);
    b[0] = static_cast<VK_BYTE>(list_length >> 24);
    b[1] = static_cast<VK_BYTE>(list_length >> 16);
    b[2] = static_cast<VK_BYTE>(list_length >> 8);
    b[3] = static_cast<VK_BYTE>(list_length);
    return b;
}

TEST(CISSReportListLength, IsCappedToWholeEntriesInsideTheBuffer) {
    struct Case {
        VK_DWORD announced;
        size_t buffer_size;
        VK_DWORD walkable;
    } cases[] = {
        {720, 728, 720},            // fits exactly
        {48, 512, 48},              // shorter than the buffer
        {50, 512, 50},              // not whole entries: consumers divide by 24
        {720, 512, 504 - 504 % 24}, // second reply longer than asked for
        {0xFFFFFFFF, 728, 720},     // would wrap in 32 bits
        {24, 8, 0},                 // a buffer of the header alone
        {24, 4, 0},                 // no room for a header
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.announced << " in " << c.buffer_size);
        const std::vector<VK_BYTE> b = Header(c.announced, std::max<size_t>(c.buffer_size, 4));
        EXPECT_EQ(_PN_CISSReportListLength(b.data(), c.buffer_size), c.walkable);
        EXPECT_LE(_PN_CISSReportListLength(b.data(), c.buffer_size) / 24 * 24 + 8,
                  std::max<size_t>(c.buffer_size, 8));
    }
}

CISS_REPORT_PHYSICAL_LUNS_ENTRY Entry(std::vector<VK_BYTE> address, VK_BYTE device_type, VK_BYTE flags = 0) {
    CISS_REPORT_PHYSICAL_LUNS_ENTRY e{};
    std::copy(address.begin(), address.end(), e.bDeviceAddress);
    e.bDeviceType = device_type;
    e.bFlags = flags;
    return e;
}

TEST(CISSPhysicalEntry, DeviceTypeMapping) {
    struct Case {
        VK_BYTE device_type, flags;
        VK_WORD expected;
    } cases[] = {
        {5, 0, 5}, {6, 0, 4}, {7, 0, 8}, {8, 0, 6}, {10, 0, 7}, {255, 1, 7}, {0, 0, 2},
        {0, 1, 3}, {1, 0, 2}, {2, 1, 3}, {4, 0, 2}, {9, 1, 3},  {9, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "bDeviceType " << int(c.device_type) << " flags " << int(c.flags));
        const auto e = Entry({}, c.device_type, c.flags);
        EXPECT_EQ(__GetPhysicalDeviceType(&e), c.expected);
    }
}

TEST(CISSPhysicalEntry, DeviceNumberFromTheAddress) {
    struct Case {
        std::vector<VK_BYTE> address;
        VK_BYTE device_type;
        VK_WORD expected;
    } cases[] = {
        {{0, 0, 0, 0, 0, 0, 0x07, 0x02}, 1, 263},    // (2 - 1) x 256 + 7
        {{0, 0, 0, 0, 0, 0, 0x05, 0xC1}, 1, 5},      // high bits of A7 ignored
        {{0x03, 0, 0, 0, 0, 0, 0x07, 0x02}, 7, 3},   // type 7 takes A0
        {{0, 0, 0, 0x01, 0, 0, 0x07, 0x02}, 1, 0},   // low bits of A3 set
        {{0, 0, 0, 0x40, 0, 0, 0x07, 0x02}, 1, 263}, // high bits of A3 ignored
        {{0, 0, 0, 0, 0, 0, 0x10, 0x00}, 6, 0xFF10}, // A7 of 0 wraps in 16 bits
    };
    for (const Case& c : cases) {
        const auto e = Entry(c.address, c.device_type);
        EXPECT_EQ(__GetPhysicalDeviceNumber(&e), c.expected);
    }
}

} // namespace
