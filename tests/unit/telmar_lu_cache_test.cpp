// LU-cache capacity from hand-built LU_CACHE_RAM_INFO replies, the strip that makes up a cache
// drive's line, and the characters a staged logical-drive label may hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telmar_log_capture.h"

namespace {

// A field of a packed wire record, by value: gtest would bind a reference to it, which may be
// misaligned.
template <typename T> T Packed(T value) {
    return value;
}

using telmar::lucache::AvailableLines;
using telmar::lucache::DecodeRAMInfo;
using telmar::lucache::LinesPerVolume;
using telmar::lucache::MaxCacheSizeBlocks;
using telmar::lucache::MaxDataVolumeBlocks;

constexpr VK_QWORD kMax = std::numeric_limits<VK_QWORD>::max();
constexpr VK_QWORD k64Bits = 0x00FFFFFFFFFFFFFFULL;

struct AlgoEntry {
    VK_BYTE type, bytes_per_line;
    VK_WORD header;
    VK_BYTE data_volumes, cache_bits, data_bits;
};

// The 39-byte reply: used and available memory, then the four 7-byte entries, little-endian.
std::vector<std::uint8_t> Reply(VK_DWORD used, VK_DWORD available, const std::vector<AlgoEntry>& entries) {
    std::vector<std::uint8_t> r(39, 0);
    auto put32 = [&r](size_t at, VK_DWORD v) {
        for (int i = 0; i < 4; ++i) {
            r[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
    };
    put32(0, used);
    put32(4, available);
    for (size_t i = 0; i < entries.size() && i < 4; ++i) {
        const size_t at = 8 + 7 * i;
        const AlgoEntry& e = entries[i];
        r[at] = e.type;
        r[at + 1] = e.bytes_per_line;
        r[at + 2] = static_cast<std::uint8_t>(e.header);
        r[at + 3] = static_cast<std::uint8_t>(e.header >> 8);
        r[at + 4] = e.data_volumes;
        r[at + 5] = e.cache_bits;
        r[at + 6] = e.data_bits;
    }
    return r;
}

// Every field distinct, so a swap of two fields or two entries shows. 10,000,000 bytes in all.
const std::vector<AlgoEntry> kEntries = {
    {1, 16, 1000, 1, 20, 30},
    {2, 24, 2000, 2, 22, 32},
    {3, 40, 3000, 3, 0, 64},
    {4, 48, 4000, 4, 64, 70},
};

LU_CACHE_RAM_INFO Decoded(const std::vector<std::uint8_t>& reply) {
    const auto info = DecodeRAMInfo(pavlin::ByteView(reply.data(), reply.size()));
    EXPECT_TRUE(info.has_value());
    return info.value_or(LU_CACHE_RAM_INFO{});
}

// A staged configuration holding only the given logical drives (owned by the test).
struct StagedDrives {
    EDITABLE_CONFIGURATION config{};
    std::vector<EDITABLE_LOGICAL_DRIVE> drives = std::vector<EDITABLE_LOGICAL_DRIVE>(64);

    EDITABLE_LOGICAL_DRIVE& Add(VK_WORD number, VK_QWORD flags, VK_BYTE algorithm, VK_QWORD size, VK_DWORD line) {
        EDITABLE_LOGICAL_DRIVE& d = drives[number];
        std::memset(&d, 0, sizeof(d));
        d.ld_number = number;
        d.flags = flags;
        d.lu_cache_algorithm = algorithm;
        d.drive_size_blocks = size;
        d.lu_cache_line_size_blocks = line;
        config.editable_ld_list[number] = &d;
        return d;
    }
};

constexpr VK_QWORD kLockedCache = kEditableLDLUCache | kEditableLDLocked;

TEST(LUCacheCapacity, DecodesEachFieldAndRefusesAShortReply) {
    const auto reply = Reply(0x11223344, 0x55667788, kEntries);
    const LU_CACHE_RAM_INFO info = Decoded(reply);
    EXPECT_EQ(Packed(info.dwMemoryUsedForLUCacheBytes), 0x11223344u);
    EXPECT_EQ(Packed(info.dwMemoryAvailableForLUCacheBytes), 0x55667788u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].bType), kEntries[i].type);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].bBytesPerCacheLine), kEntries[i].bytes_per_line);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].wFixedHeaderSizeBytes), kEntries[i].header);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].bDataVolumesPerCacheVolume), kEntries[i].data_volumes);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].bMaxCacheVolumeSizeBits), kEntries[i].cache_bits);
        EXPECT_EQ(Packed(info.bAlgoInfo[i].bMaxDataVolumeSizeBits), kEntries[i].data_bits);
    }
    EXPECT_FALSE(DecodeRAMInfo(pavlin::ByteView(reply.data(), 38)).has_value());
    EXPECT_FALSE(DecodeRAMInfo(pavlin::ByteView()).has_value());
}

TEST(LUCacheCapacity, SizeBitsBecomeLineCounts) {
    const struct {
        VK_BYTE bits;
        VK_QWORD lines;
    } rows[] = {
        {0, 0}, {1, 2}, {20, 1u << 20}, {63, VK_QWORD{1} << 63}, {64, k64Bits}, {65, k64Bits}, {200, k64Bits},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(telmar::lucache::LinesForSizeBits(row.bits), row.lines) << unsigned{row.bits};
    }
}

// Without staged cache drives every algorithm has the whole memory less its header.
TEST(LUCacheCapacity, EachAlgorithmUsesItsOwnEntry) {
    const LU_CACHE_RAM_INFO info = Decoded(Reply(1000000, 9000000, kEntries));
    StagedDrives none;
    const struct {
        VK_BYTE algorithm;
        VK_DWORD lines;
        VK_QWORD cache_lines, data_lines, max_cache_128, max_data_128;
    } rows[] = {
        {1, 624937, 1u << 20, VK_QWORD{1} << 30, 79984320, VK_QWORD{1} << 37},
        {2, 416583, 1u << 22, VK_QWORD{1} << 32, 53317440, VK_QWORD{1} << 39},
        // A cache volume of 0 bits holds nothing, whatever the memory.
        {3, 249925, 0, k64Bits, 0, k64Bits * 128},
        {4, 208250, k64Bits, k64Bits, 26650560, k64Bits * 128},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(unsigned{row.algorithm});
        EXPECT_EQ(AvailableLines(info, none.config, row.algorithm), row.lines);
        EXPECT_EQ(LinesPerVolume(info, row.algorithm, false), row.cache_lines);
        EXPECT_EQ(LinesPerVolume(info, row.algorithm, true), row.data_lines);
        EXPECT_EQ(MaxCacheSizeBlocks(info, none.config, row.algorithm, 128), row.max_cache_128);
        EXPECT_EQ(MaxDataVolumeBlocks(info, row.algorithm, 128, false), row.max_data_128);
    }
    for (const VK_BYTE outside : {VK_BYTE{0}, VK_BYTE{5}, VK_BYTE{7}, VK_BYTE{255}}) {
        SCOPED_TRACE(unsigned{outside});
        EXPECT_EQ(AvailableLines(info, none.config, outside), 0u);
        EXPECT_EQ(LinesPerVolume(info, outside, false), 0u);
        EXPECT_EQ(LinesPerVolume(info, outside, true), 0u);
        EXPECT_EQ(MaxCacheSizeBlocks(info, none.config, outside, 128), 0u);
        EXPECT_EQ(MaxDataVolumeBlocks(info, outside, 128, true), 0u);
    }
}

TEST(LUCacheCapacity, LockedCacheDrivesTakeTheirLinesAndHeaders) {
    const LU_CACHE_RAM_INFO info = Decoded(Reply(1000000, 9000000, kEntries));
    StagedDrives staged;
    // 10,000 lines of algorithm 2: 240,000 bytes and its 2,000-byte header.
    staged.Add(0, kLockedCache, 2, 1280000, 128);
    // An algorithm the table has no entry for (the field holds 3 bits) takes nothing.
    staged.Add(1, kLockedCache, 7, 1280000, 128);
    // Neither an unlocked cache drive nor a locked data drive counts.
    staged.Add(2, kEditableLDLUCache, 1, 1280000, 128);
    staged.Add(4, kEditableLDLocked, 1, 1280000, 128);
    // 2,500 lines of algorithm 1: 40,000 bytes and 1,000.
    staged.Add(5, kLockedCache, 1, 640000, 256);
    EXPECT_EQ(AvailableLines(info, staged.config, 1), (10000000u - 242000u - 41000u - 1000u) / 16u);

    // A cache drive without a line is left out, with a line in the log.
    TelmarLogCapture log;
    staged.Add(3, kLockedCache, 1, 1280000, 0);
    EXPECT_EQ(AvailableLines(info, staged.config, 1), (10000000u - 242000u - 41000u - 1000u) / 16u);
    EXPECT_EQ(TelmarLogCapture::Count("LD missing lu cache line size"), 1u);
}

TEST(LUCacheCapacity, NothingLeftGivesZero) {
    const LU_CACHE_RAM_INFO info = Decoded(Reply(1000000, 9000000, kEntries));
    StagedDrives staged;
    // Lines x bytes past 64 bits would wrap to a small use; it takes all the memory instead.
    staged.Add(0, kLockedCache, 4, kMax, 1);
    EXPECT_EQ(AvailableLines(info, staged.config, 1), 0u);
    EXPECT_EQ(MaxCacheSizeBlocks(info, staged.config, 1, 128), 0u);

    // Memory no larger than the header leaves no line.
    StagedDrives none;
    EXPECT_EQ(AvailableLines(Decoded(Reply(0, 1000, kEntries)), none.config, 1), 0u);
    EXPECT_EQ(AvailableLines(Decoded(Reply(0, 1016, kEntries)), none.config, 1), 1u);
}

TEST(LUCacheCapacity, UnknownBytesPerLineLogsAndGivesZero) {
    std::vector<AlgoEntry> entries = kEntries;
    entries[1].bytes_per_line = 0;
    const LU_CACHE_RAM_INFO info = Decoded(Reply(1000000, 9000000, entries));
    StagedDrives none;
    TelmarLogCapture log;
    EXPECT_EQ(AvailableLines(info, none.config, 2), 0u);
    EXPECT_EQ(MaxCacheSizeBlocks(info, none.config, 2, 128), 0u);
    EXPECT_GE(TelmarLogCapture::Count("Unknown bytes per cache line"), 1u);
    EXPECT_EQ(AvailableLines(info, none.config, 1), 624937u);
}

TEST(LUCacheCapacity, LineTimesLinesSaturates) {
    const LU_CACHE_RAM_INFO info = Decoded(Reply(1000000, 9000000, kEntries));
    StagedDrives none;
    // 2^56 - 1 lines of 2^32 - 1 blocks is past 64 bits.
    EXPECT_EQ(MaxDataVolumeBlocks(info, 4, 0xFFFFFFFFu, false), kMax);
    EXPECT_EQ(MaxDataVolumeBlocks(info, 4, 0xFFFFFFFFu, true), kMax);
    // The cache size is then bounded by the memory alone.
    EXPECT_EQ(MaxCacheSizeBlocks(info, none.config, 4, 0xFFFFFFFFu), VK_QWORD{0xFFFFFFFFu} * 208250u);
}

TEST(LUCacheStrip, FirstPowerOfTwoMultipleOfTheMinimum) {
    const struct {
        VK_DWORD stripe;
        VK_WORD usable;
        VK_DWORD min_strip, max_strip, strip;
    } rows[] = {
        {262144, 4, 16384, 262144, 65536}, // RAID 5 on 5 drives, 256 KiB line
        {65536, 4, 32768, 262144, 0},      // 4 x 32 KiB is already past 64 KiB
        {262144, 4, 16384, 32768, 0},      // 64 KiB strip above the range
        {262144, 4, 65536, 65536, 65536},  // the range holds only the one strip
        {196608, 3, 16384, 262144, 65536},
        {262144, 3, 16384, 262144, 0}, // no whole strip
        {262144, 0, 16384, 262144, 0},
        {262144, 4, 0, 262144, 0},
        {0xFFFFFFFFu, 1, 0x80000000u, 0xFFFFFFFFu, 0}, // the next strip would need 33 bits
    };
    for (const auto& row : rows) {
        EXPECT_EQ(telmar::lucache::StripForStripe(row.stripe, row.usable, row.min_strip, row.max_strip), row.strip)
            << row.stripe << " over " << row.usable;
    }
}

TEST(LogicalDriveLabel, CharacterRule) {
    const std::string full(64, 'L');
    const struct {
        std::string bytes;
        VK_BYTE result;
    } rows[] = {
        {"Data volume 1", 0},
        {full, 0},                       // no terminator: fills the whole buffer
        {std::string("ab\0\0", 4), 0},   // zero padding after the label
        {std::string("ab\0c", 4), 0x06}, // a byte after the terminator
        {std::string("a\xE9", 2), 0x06},
        {std::string("a\x1F", 2), 0x06},
        {std::string("a\x7F", 2), 0x06},
        {std::string(" ~", 2), 0},
        {std::string("\0\0", 2), 0x07}, // empty
        {std::string("\0x", 2), 0x06},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(telmar::ldprops::CheckLabelText(row.bytes.data(), row.bytes.size()), row.result) << row.bytes;
    }
}

} // namespace
