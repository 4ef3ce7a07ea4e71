// Controller-model utilities: checksums against independent references, text conversions, de-duplication
// and byte order.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ptelm_utils.h"
#include "telm_private_utils.h"

namespace {

// Deterministic bytes that Python reproduces with the same recurrence.
std::vector<VK_BYTE> LcgBytes(uint32_t seed, size_t n) {
    std::vector<VK_BYTE> out(n);
    uint32_t x = seed;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<VK_BYTE>(x >> 24);
    }
    return out;
}

TEST(UtilsCrc, CheckValuesOfTheStandardParameters) {
    const char* check = "123456789";
    EXPECT_EQ(VK_crc32(check, 9), 0xCBF43926u);
    EXPECT_EQ(VK_crc8(check, 9), 0xF4); // CRC-8/SMBUS check value
    EXPECT_EQ(VK_crc32(check, 0), 0u);
    EXPECT_EQ(VK_crc8(check, 0), 0);
    EXPECT_EQ(VK_crc32(nullptr, 16), 0u);
    EXPECT_EQ(VK_crc8(nullptr, 16), 0);
}

TEST(UtilsCrc, MatchesReferenceOnPseudoRandomData) {
    // CRC-32 from Python's zlib.crc32, CRC-8 from a bitwise Python implementation.
    struct Case {
        uint32_t seed;
        size_t length;
        VK_DWORD crc32;
        VK_UINT8 crc8;
    };
    const Case cases[] = {
        {0x1u, 1, 0xD3D99E8Bu, 0xC0},
        {0x2u, 3, 0x3FF9AC9Du, 0x7B},
        {0x3u, 7, 0x2C548D20u, 0x02},
        {0x4u, 16, 0x221BFF4Du, 0x05},
        {0x5u, 255, 0xCD397161u, 0x89},
        {0x6u, 256, 0x801CA1A9u, 0x75},
        {0x7u, 1000, 0xCFCA098Fu, 0x57},
        {0x8u, 4096, 0x43CCE73Bu, 0x3C},
        {0xDEADBEEFu, 65537, 0x5CB0CA4Cu, 0xBF},
    };
    for (const auto& c : cases) {
        const auto data = LcgBytes(c.seed, c.length);
        const auto size = static_cast<VK_DWORD>(data.size());
        EXPECT_EQ(VK_crc32(data.data(), size), c.crc32) << "seed " << c.seed << " length " << c.length;
        EXPECT_EQ(VK_crc8(data.data(), size), c.crc8) << "seed " << c.seed << " length " << c.length;
    }
}

TEST(UtilsStrings, DigitStrings) {
    EXPECT_FALSE(VK_IsDigitString(nullptr));
    EXPECT_FALSE(VK_IsDigitString(""));
    EXPECT_FALSE(VK_IsDigitString("12a"));
    EXPECT_FALSE(VK_IsDigitString(" 1"));
    EXPECT_FALSE(VK_IsDigitString("-1"));
    EXPECT_FALSE(VK_IsDigitString("\xB9")); // a high byte is no digit
    EXPECT_TRUE(VK_IsDigitString("0123"));
    EXPECT_TRUE(VK_IsDigitString("7"));
}

int Sign(int v) {
    return (v > 0) - (v < 0);
}

TEST(UtilsStrings, CaseInsensitiveComparison) {
    struct Case {
        const char* a;
        const char* b;
        size_t n;
        int stricmp_sign;
        int strnicmp_sign;
    };
    const Case cases[] = {
        {"abc", "ABC", 3, 0, 0}, {"Abc", "abd", 2, -1, 0}, {"abd", "ABC", 3, 1, 1}, {"ab", "abc", 2, -1, 0},
        {"abc", "ab", 3, 1, 1},  {"", "", 5, 0, 0},        {"", "a", 1, -1, -1},    {"ZeTa", "zeta", 0, 0, 0},
        {"a[", "A{", 2, -1, -1}, {nullptr, "", 1, 0, 0},   {"x", nullptr, 1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a ? c.a : "(null)") + " / " + (c.b ? c.b : "(null)"));
        EXPECT_EQ(Sign(VK_stricmp(c.a, c.b)), c.stricmp_sign);
        EXPECT_EQ(Sign(VK_strnicmp(c.a, c.b, c.n)), c.strnicmp_sign);
    }
    EXPECT_EQ(VK_stricmp("a", "C"), 'a' - 'c'); // the difference of the lower-cased pair
}

TEST(UtilsStrings, ConvertCharReplacesOnlyWhatIsAsked) {
    EXPECT_EQ(__VK_ConvertChar('-', kFalse, kFalse, '_'), '-');
    EXPECT_EQ(__VK_ConvertChar('-', kTrue, kFalse, '_'), '_');
    EXPECT_EQ(__VK_ConvertChar('z', kTrue, kTrue, '_'), 'z');
    EXPECT_EQ(__VK_ConvertChar('\x7F', kFalse, kTrue, '\0'), '\0');
    EXPECT_EQ(__VK_ConvertChar(' ', kFalse, kTrue, '?'), ' '); // the blank is printable
    EXPECT_EQ(__VK_ConvertChar('\xE9', kTrue, kFalse, '?'), '?');
}

struct TrimCase {
    const char* name;
    std::string field;
    bool lead;
    bool trail;
    bool allow_non_alnum;
    bool allow_non_print;
    char replace;
    std::string expected;
};

TEST(UtilsStrings, FixedFieldCopy) {
    using namespace std::string_literals;
    const TrimCase cases[] = {
        {"both ends", "  AB C    ", true, true, true, true, '\0', "AB C"},
        {"only blanks", "          ", true, true, true, true, '\0', ""},
        {"leading kept", "  AB  ", false, true, true, true, '\0', "  AB"},
        {"trailing kept", "  AB  ", true, false, true, true, '\0', "AB  "},
        {"trailing NULs always go", "AB \0\0\0"s, false, false, true, true, '\0', "AB "},
        {"stops at inner NUL", "AB\0CD"s, true, true, true, true, '\0', "AB"},
        {"NUL while skipping leading", "  \0AB"s, true, true, true, true, '\0', ""},
        {"non-alnum replaced", "A-B.C", true, true, false, true, '_', "A_B_C"},
        {"replaced blanks are no longer blanks", " A ", true, true, false, true, '_', "_A_"},
        {"non-alnum dropped", "A-B", true, true, false, true, '\0', "AB"},
        {"non-printable dropped", "A\tB\x01", true, true, true, false, '\0', "AB"},
        {"tab trimmed as blank", "\tAB\t", true, true, true, true, '\0', "AB"},
        {"replaced blank ends trimmed", "-AB-", true, true, false, true, '\0', "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        char out[32];
        std::memset(out, 'x', sizeof out);
        char* r = __VK_ConvertCharBufferToString(c.field.data(), c.field.size(), out, 16, c.lead, c.trail,
                                                 c.allow_non_alnum, c.allow_non_print, c.replace);
        EXPECT_EQ(r, out);
        EXPECT_EQ(std::string(out), c.expected);
        EXPECT_EQ(out[16], 'x') << "wrote past string_size";
    }
}

TEST(UtilsStrings, FixedFieldCopyStopsAtStringSizeWithoutTerminator) {
    const char field[8] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'};
    char out[6];
    std::memset(out, 'x', sizeof out);
    __VK_ConvertCharBufferToString(field, sizeof field, out, 4, kTrue, kTrue, kTrue, kTrue, '\0');
    EXPECT_EQ(std::string(out, 4), "ABCD");
    EXPECT_EQ(out[4], 'x');

    // No field: the string is zeroed and returned.
    char empty[4] = {'q', 'q', 'q', 'q'};
    EXPECT_EQ(__VK_ConvertCharBufferToString(field, 0, empty, sizeof empty, kTrue, kTrue, kTrue, kTrue, 0),
              empty);
    EXPECT_EQ(std::string(empty, 4), std::string(4, '\0'));
    EXPECT_EQ(__VK_ConvertCharBufferToString(field, 8, nullptr, 4, kTrue, kTrue, kTrue, kTrue, 0), nullptr);
}

TEST(UtilsConversions, ArrayLetters) {
    const std::pair<VK_DWORD, const char*> cases[] = {
        {0, "A"},   {25, "Z"},   {26, "AA"},   {51, "AZ"},
        {52, "BA"}, {701, "ZZ"}, {702, "AAA"}, {0xFFFFFFFFu, "MWLQKWV"},
    };
    for (const auto& [num, letters] : cases) {
        char buf[8];
        EXPECT_STREQ(VK_ConvertNumberToArrayID(buf, num), letters) << num;
        char safe[8];
        EXPECT_STREQ(VK_ConvertNumberToArrayIDSafe(safe, sizeof safe, num), letters) << num;
        char reversed[8];
        std::string expected_reversed(letters);
        std::reverse(expected_reversed.begin(), expected_reversed.end());
        EXPECT_STREQ(__VK_ConvertNumberToArrayReversedID(reversed, num), expected_reversed.c_str()) << num;
    }
    EXPECT_EQ(VK_ConvertNumberToArrayID(nullptr, 3), nullptr);
}

TEST(UtilsConversions, SafeArrayLettersNeverOverrunAndNeverTruncate) {
    char guard[8];
    std::memset(guard, '#', sizeof guard);
    // "AAA" needs 4 bytes: with 3 the ID does not fit and the text is left empty.
    EXPECT_EQ(VK_ConvertNumberToArrayIDSafe(guard, 3, 702), guard);
    EXPECT_EQ(guard[0], '\0');
    EXPECT_EQ(std::string(guard + 1, 7), std::string(7, '#'));

    std::memset(guard, '#', sizeof guard);
    EXPECT_STREQ(VK_ConvertNumberToArrayIDSafe(guard, 4, 702), "AAA");
    EXPECT_EQ(guard[4], '#');

    std::memset(guard, '#', sizeof guard);
    EXPECT_EQ(VK_ConvertNumberToArrayIDSafe(guard, 0, 1), guard);
    EXPECT_EQ(guard[0], '#');
    EXPECT_EQ(VK_ConvertNumberToArrayIDSafe(nullptr, 8, 1), nullptr);
}

TEST(UtilsConversions, NumbersAsText) {
    char buf[80];
    EXPECT_STREQ(VK_ultoa(0, buf), "0");
    EXPECT_STREQ(VK_ultoa(1234567890, buf), "1234567890");
    EXPECT_STREQ(VK_ultoa(UINT64_MAX, buf), "18446744073709551615");
    EXPECT_STREQ(VK_ultoxa(255, buf), "FF");
    EXPECT_STREQ(VK_ultoxa(0xDEADBEEF01ull, buf), "DEADBEEF01");
    EXPECT_STREQ(VK_ultooa(8, buf), "10");
    EXPECT_STREQ(VK_ultoba(5, buf), "101");
    EXPECT_STREQ(VK_ultoba(UINT64_MAX, buf), std::string(64, '1').c_str());
    EXPECT_STREQ(VK_ltoa(-42, buf), "-42");
    EXPECT_STREQ(VK_ltoa(42, buf), "42");
    EXPECT_STREQ(VK_ltoa(INT64_MIN, buf), "-9223372036854775808");
    EXPECT_EQ(VK_ltoa(-1, nullptr), nullptr);
    EXPECT_STREQ(__VK_ultoa(35, buf, 36), "Z");
    EXPECT_STREQ(__VK_ultoa(3, buf, 1), "111");
    EXPECT_STREQ(__VK_ultoa(0, buf, 1), "");

    // Base 0 and bases past Z have no digits: the buffer is left alone.
    std::strcpy(buf, "keep");
    EXPECT_STREQ(__VK_ultoa(99, buf, 0), "keep");
    EXPECT_STREQ(__VK_ultoa(99, buf, 37), "keep");
    EXPECT_STREQ(__VK_ultoa(99, buf, 255), "keep");
    EXPECT_EQ(__VK_ultoa(99, nullptr, 10), nullptr);
}

TEST(UtilsConversions, HexText) {
    const VK_BYTE bytes[] = {0x0A, 0x1B, 0xFF};
    char dest[8];
    std::memset(dest, '#', sizeof dest);
    VK_ConvertBufferToHexStringSafe(dest, 6, bytes, sizeof bytes);
    EXPECT_EQ(std::string(dest, sizeof dest), std::string(8, '#')) << "too small a destination is untouched";
    EXPECT_STREQ(VK_ConvertBufferToHexStringSafe(dest, 7, bytes, sizeof bytes), "0A1BFF");
    EXPECT_EQ(dest[7], '#');

    std::memset(dest, '#', sizeof dest);
    VK_ConvertBufferToHexStringSafe(dest, sizeof dest, bytes, 0);
    VK_ConvertBufferToHexStringSafe(dest, sizeof dest, nullptr, 3);
    EXPECT_EQ(VK_ConvertBufferToHexStringSafe(nullptr, sizeof dest, bytes, 3), nullptr);
    EXPECT_EQ(std::string(dest, sizeof dest), std::string(8, '#'));
    // A byte count whose text length wraps is refused, not written.
    VK_ConvertBufferToHexStringSafe(dest, 1, bytes, SIZE_MAX / 2 + 1);
    EXPECT_EQ(std::string(dest, sizeof dest), std::string(8, '#'));

    EXPECT_STREQ(VK_ConvertBufferToHexString(dest, bytes, 2), "0A1B");
    EXPECT_STREQ(VK_ConvertBufferToHexString(dest, bytes, 0), "0A1B");
}

TEST(UtilsConversions, FindFirstOf) {
    constexpr size_t npos = static_cast<size_t>(-1);
    EXPECT_EQ(VK_find_first_of("a,b;c", ",;", 0), 1u);
    EXPECT_EQ(VK_find_first_of("a,b;c", ",;", 2), 3u);
    EXPECT_EQ(VK_find_first_of("a,b;c", ",;", 4), npos);
    EXPECT_EQ(VK_find_first_of("a,b;c", ",;", 5), npos);
    EXPECT_EQ(VK_find_first_of("abc", "xyz", 0), npos);
    EXPECT_EQ(VK_find_first_of("", ",", 0), npos);
    EXPECT_EQ(VK_find_first_of("a,b", "", 0), npos);
    EXPECT_EQ(VK_find_first_of(nullptr, ",", 0), npos);
    EXPECT_EQ(VK_find_first_of("a,b", nullptr, 0), npos);

    // The safe form honours the buffer sizes of texts that are not terminated inside them.
    const char str[4] = {'a', 'b', ',', 'c'};
    const char chars[2] = {'c', ','};
    EXPECT_EQ(VK_find_first_of_safe(str, 2, ",", 2, 0), npos);
    EXPECT_EQ(VK_find_first_of_safe(str, sizeof str, chars, 1, 0), 3u);
    EXPECT_EQ(VK_find_first_of_safe(str, sizeof str, chars, sizeof chars, 0), 2u);
    EXPECT_EQ(VK_find_first_of_safe(str, 0, chars, sizeof chars, 0), npos);
}

TEST(UtilsArithmetic, PowerPopCountGcdLcm) {
    EXPECT_EQ(VK_DWORD_power(2, 10), 1024u);
    EXPECT_EQ(VK_DWORD_power(7, 0), 1u);
    EXPECT_EQ(VK_DWORD_power(0, 0), 1u);
    EXPECT_EQ(VK_DWORD_power(0, 3), 0u);
    EXPECT_EQ(VK_DWORD_power(2, 32), 0u);
    EXPECT_EQ(VK_DWORD_power(3, 20), 3486784401u);
    EXPECT_EQ(VK_DWORD_power(3, 21), static_cast<VK_DWORD>(3486784401ull * 3));

    EXPECT_EQ(__VK_PopCount(0), 0);
    EXPECT_EQ(__VK_PopCount(0xFFFFFFFFu), 32);
    EXPECT_EQ(__VK_PopCount(0x80000101u), 3);
    VK_BYTE mem[] = {0xFF, 0x01, 0x80, 0x00, 0x0F};
    EXPECT_EQ(__VK_MemoryPopCount(mem, sizeof mem), 14u);
    EXPECT_EQ(__VK_MemoryPopCount(mem, 0), 0u);
    EXPECT_EQ(__VK_MemoryPopCount(nullptr, 4), 0u);

    struct Case {
        VK_QWORD a, b, gcd, lcm;
    };
    const Case cases[] = {
        {512, 4096, 512, 4096},
        {4096, 520, 8, 266240},
        {0, 5, 0, 0},
        {5, 0, 0, 0},
        {1, 1, 1, 1},
        {17, 13, 1, 221},
        // The product overflows 64 bits while the least common multiple fits.
        {1ull << 32, 1ull << 32, 1ull << 32, 1ull << 32},
        {3ull << 40, 5ull << 40, 1ull << 40, 15ull << 40},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VK_gcd(c.a, c.b), c.gcd) << c.a << ", " << c.b;
        EXPECT_EQ(VK_lcm(c.a, c.b), c.lcm) << c.a << ", " << c.b;
    }
}

int CompareWords(const void* a, const void* b) {
    return static_cast<int>(*static_cast<const VK_WORD*>(a)) -
           static_cast<int>(*static_cast<const VK_WORD*>(b));
}

struct Item {
    VK_DWORD key;
    VK_DWORD tag;
};

int CompareItemKeys(const void* a, const void* b) {
    return static_cast<const Item*>(a)->key == static_cast<const Item*>(b)->key ? 0 : 1;
}

TEST(UtilsUniq, KeepsFirstOccurrencesInOrder) {
    struct Case {
        std::vector<VK_WORD> in;
        std::vector<VK_WORD> out;
    };
    const Case cases[] = {
        {{3, 1, 3, 2, 1}, {3, 1, 2}},       {{7, 7, 7, 7}, {7}}, {{1, 2, 3}, {1, 2, 3}}, {{}, {}},
        {{5, 4, 5, 4, 5, 4, 6}, {5, 4, 6}},
    };
    for (const auto& c : cases) {
        auto items = c.in;
        size_t n = items.size();
        VK_uniq(items.data(), &n, sizeof(VK_WORD), CompareWords);
        ASSERT_EQ(n, c.out.size());
        EXPECT_EQ(std::vector<VK_WORD>(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(n)), c.out);
        // Dropped items are moved behind the kept ones, nothing is lost.
        auto sorted_in = c.in;
        std::sort(sorted_in.begin(), sorted_in.end());
        std::sort(items.begin(), items.end());
        EXPECT_EQ(items, sorted_in);
    }
}

TEST(UtilsUniq, WholeItemsMoveAndBadArgumentsAreIgnored) {
    Item items[] = {{1, 10}, {2, 20}, {1, 11}, {3, 30}, {2, 21}};
    size_t n = 5;
    VK_uniq(items, &n, sizeof(Item), CompareItemKeys);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(items[0].tag, 10u);
    EXPECT_EQ(items[1].tag, 20u);
    EXPECT_EQ(items[2].tag, 30u);

    VK_WORD words[] = {1, 1};
    size_t count = 2;
    VK_uniq(nullptr, &count, sizeof(VK_WORD), CompareWords);
    VK_uniq(words, nullptr, sizeof(VK_WORD), CompareWords);
    VK_uniq(words, &count, 0, CompareWords);
    VK_uniq(words, &count, sizeof(VK_WORD), nullptr);
    EXPECT_EQ(count, 2u);

    VK_DWORD x = 1, y = 2;
    _VK_swap(&x, &y, sizeof x);
    EXPECT_EQ(x, 2u);
    EXPECT_EQ(y, 1u);
}

TEST(UtilsByteOrder, SwapsAndHostOrder) {
    const uint32_t one = 1;
    VK_BYTE first;
    std::memcpy(&first, &one, 1);
    const VK_BOOL little = first == 1 ? kTrue : kFalse;
    EXPECT_EQ(VK_IsHostLittleEndian(), little);
    EXPECT_EQ(VK_IsHostLittleEndian(), little); // the cached answer

    EXPECT_EQ(VK_SwapInt16Endianness(0x1234), 0x3412);
    EXPECT_EQ(VK_SwapInt32Endianness(0x12345678u), 0x78563412u);
    EXPECT_EQ(VK_SwapInt64Endianness(0x0102030405060708ull), 0x0807060504030201ull);

    // The converted value's memory image has the requested byte order.
    const VK_UINT32 be = VK_ConvertInt32ToBigEndian(0x11223344u);
    const VK_UINT32 le = VK_ConvertInt32ToLittleEndian(0x11223344u);
    VK_BYTE img[4];
    std::memcpy(img, &be, 4);
    EXPECT_EQ(img[0], 0x11);
    EXPECT_EQ(img[3], 0x44);
    std::memcpy(img, &le, 4);
    EXPECT_EQ(img[0], 0x44);
    EXPECT_EQ(img[3], 0x11);
    const VK_UINT64 be64 = VK_ConvertInt64ToBigEndian(0x0102030405060708ull);
    VK_BYTE img64[8];
    std::memcpy(img64, &be64, 8);
    EXPECT_EQ(img64[0], 0x01);
    EXPECT_EQ(img64[7], 0x08);
    EXPECT_EQ(VK_ConvertInt64ToLittleEndian(VK_ConvertInt64ToLittleEndian(0xA1B2ull)), 0xA1B2ull);
    const VK_UINT16 be16 = VK_ConvertInt16ToBigEndian(0xABCD);
    std::memcpy(img, &be16, 2);
    EXPECT_EQ(img[0], 0xAB);
    const VK_UINT16 le16 = VK_ConvertInt16ToLittleEndian(0xABCD);
    std::memcpy(img, &le16, 2);
    EXPECT_EQ(img[0], 0xCD);
}

std::string PrintTable(void* data, size_t size) {
    char* text = nullptr;
    size_t length = 0;
    FILE* f = open_memstream(&text, &length);
    VK_print_table(f, data, size);
    std::fclose(f);
    std::string out(text, length);
    std::free(text);
    return out;
}

TEST(UtilsHexDump, RowsHeaderAndPartialLastRow) {
    VK_BYTE data[17];
    for (size_t i = 0; i < sizeof data; ++i) {
        data[i] = static_cast<VK_BYTE>('A' + i);
    }
    data[1] = 0x07; // below 32
    data[2] = 0x7F; // above 126
    const std::string header2 = "0F 0E 0D 0C OB 0A 09 08 07 06 05 04 03 02 01 00 |    | 0123456789ABCDEF\n"
                                "-- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- | -- | ----------------\n";
    const std::string expected = header2 +
                                 "50 4F 4E 4D 4C 4B 4A 49 48 47 46 45 44 7F 07 41 | 00 | A..DEFGHIJKLMNOP\n" +
                                 std::string(15 * 3, ' ') + "51 | 10 | Q" + std::string(15, ' ') + "\n";
    EXPECT_EQ(PrintTable(data, sizeof data), expected);

    const std::string one_row = "0F 0E 0D 0C OB 0A 09 08 07 06 05 04 03 02 01 00 |   | 0123456789ABCDEF\n"
                                "-- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- | - | ----------------\n" +
                                std::string(13 * 3, ' ') + "7F 07 41 | 0 | A.." + std::string(13, ' ') + "\n";
    EXPECT_EQ(PrintTable(data, 3), one_row);
    EXPECT_EQ(PrintTable(data, 0), "");
    EXPECT_EQ(PrintTable(nullptr, 4), "");
    VK_print_table(nullptr, data, sizeof data); // no stream: nothing happens
}

TEST(UtilsHexDump, OffsetWidthFollowsTheLastRow) {
    std::vector<VK_BYTE> data(257, 0x20);
    const std::string text = PrintTable(data.data(), data.size());
    // Last row starts at 0x100: three offset digits everywhere.
    EXPECT_NE(text.find("| 000 | "), std::string::npos);
    EXPECT_NE(text.find("| 100 | "), std::string::npos);
    EXPECT_NE(text.find("-- | --- | ----"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 17);
}

} // namespace
