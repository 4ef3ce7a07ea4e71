// The bounds-checked byte view: ranges that would wrap, the last byte, and text copies.
#include "pavl_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using pavlin::ByteSpan;
using pavlin::ByteView;

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

TEST(PavlinByteView, RangesThatWouldWrapAreOutside) {
    // A heap block of exactly 8 bytes: any read past it is caught by the sanitizer build.
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    const ByteView v(bytes.data(), bytes.size());
    struct Case {
        std::size_t offset;
        std::size_t length;
        bool inside;
    };
    const Case cases[] = {
        {0, 8, true},        {8, 0, true},          {7, 1, true},        {8, 1, false},
        {1, kMax, false},    {kMax, 1, false},      {kMax, kMax, false}, {kMax - 3, 8, false},
        {4, kMax - 3, false}, {9, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " length " << c.length);
        EXPECT_EQ(v.has(c.offset, c.length), c.inside);
        EXPECT_EQ(v.sub(c.offset, c.length).has_value(), c.inside);
        std::uint8_t out[8] = {};
        if (c.length <= sizeof out) {
            EXPECT_EQ(v.copy_to(c.offset, out, c.length), c.inside);
        }
    }
    EXPECT_FALSE(v.le32(kMax - 1).has_value());
    EXPECT_FALSE(v.be64(kMax - 7).has_value());
    EXPECT_TRUE(v.from(kMax).empty());
}

TEST(PavlinByteView, LoadsAtTheLastByte) {
    const std::vector<std::uint8_t> bytes = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    const ByteView v(bytes.data(), bytes.size());
    EXPECT_EQ(v.u8(7), 0x88);
    EXPECT_FALSE(v.u8(8).has_value());
    EXPECT_EQ(v.le16(6), 0x8877);
    EXPECT_EQ(v.be16(6), 0x7788);
    EXPECT_FALSE(v.le16(7).has_value());
    EXPECT_EQ(v.le32(4), 0x88776655u);
    EXPECT_EQ(v.be32(4), 0x55667788u);
    EXPECT_FALSE(v.be32(5).has_value());
    EXPECT_EQ(v.le64(0), 0x8877665544332211ull);
    EXPECT_EQ(v.be64(0), 0x1122334455667788ull);
    EXPECT_FALSE(v.le64(1).has_value());
    // A sub-view is a view of its own: its end is the end.
    const auto tail = v.sub(6, 2);
    ASSERT_TRUE(tail.has_value());
    EXPECT_EQ(tail->le16(0), 0x8877);
    EXPECT_FALSE(tail->u8(2).has_value());
    // A null pointer is an empty view whatever size comes with it.
    EXPECT_FALSE(ByteView(static_cast<const std::uint8_t*>(nullptr), 16).u8(0).has_value());
}

TEST(PavlinByteView, TextCopiesAreAlwaysTerminated) {
    const char field[] = {'A', 'B', 'C', 'D', 0, 'X', 'Y', 'Z'};
    const ByteView v(field, sizeof field);
    struct Case {
        const char* name;
        std::size_t offset;
        std::size_t width;
        std::size_t dst_size;
        const char* expected;
    };
    const Case cases[] = {
        {"cut at the NUL", 0, 8, 16, "ABCD"},
        {"cut by the destination", 0, 8, 3, "AB"},
        {"field passes the view", 5, 100, 16, "XYZ"},
        {"offset at the end", 8, 4, 16, ""},
        {"offset far past the end", kMax, kMax, 16, ""},
        {"one-byte destination", 0, 8, 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[16];
        std::memset(out, '#', sizeof out);
        const std::size_t n = v.copy_text(c.offset, c.width, out, c.dst_size);
        EXPECT_STREQ(out, c.expected);
        EXPECT_EQ(n, std::strlen(c.expected));
    }
    char untouched = '#';
    EXPECT_EQ(v.copy_text(0, 8, &untouched, 0), 0u);
    EXPECT_EQ(untouched, '#');
}

TEST(PavlinByteSpan, StoresStayInside) {
    std::vector<std::uint8_t> bytes(4, 0);
    ByteSpan s(bytes.data(), bytes.size());
    EXPECT_TRUE(s.put_be32(0, 0x01020304));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(s.put_le16(2, 0xAABB));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 0xBB, 0xAA}));
    EXPECT_FALSE(s.put_le16(3, 0xFFFF));
    EXPECT_FALSE(s.put_le32(kMax, 0));
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 0xBB, 0xAA}));
}

} // namespace
