// RAID geometry and the RAID-level, parity-group and strip-size rules of configuration editing: the
// formulas as tables, and the rules that read the controller on a hand-filled data area with a
// hand-built staged configuration.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_QWORD kAll = std::numeric_limits<VK_QWORD>::max();
constexpr VK_DWORD KiB = 1024, MiB = 1024 * 1024;

TEST(RaidGeometry, UsableDriveCountNeverWraps) {
    struct Row {
        VK_WORD n;
        VK_BYTE level, g;
        VK_WORD usable;
    };
    const Row rows[] = {
        {7, kRAID50, 2, 5},     {6, kRAID10Triple, 0, 2}, {5, kRAID1, 0, 2},     {4, kRAID10, 0, 2},
        {5, kRAID5, 0, 4},      {6, kRAID6, 0, 4},        {12, kRAID60, 3, 6},   {3, kRAID1Triple, 0, 1},
        {5, kRAID0, 0, 5},      {9, 0x0A, 3, 9},          {65535, kRAID0, 0, 65535},
        // Fewer drives than parity: none carry data.
        {0, kRAID5, 0, 0},      {1, kRAID6, 0, 0},        {2, kRAID50, 3, 0},    {3, kRAID60, 2, 0},
        {4, kRAID60, 2, 0},     {1, kRAID50, 1, 0},       {0, kRAID60, 255, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_GetUsableDriveCount(r.n, r.level, r.g), r.usable)
            << r.n << " drives, level " << int(r.level) << ", " << int(r.g) << " groups";
    }
}

TEST(RaidGeometry, FullStripeMultiplierWithoutGroupsIsZero) {
    struct Row {
        VK_WORD n;
        VK_BYTE level, g;
        VK_DWORD multiplier;
    };
    const Row rows[] = {
        {2, kRAID1, 0, 1},   {3, kRAID1Triple, 0, 1}, {8, kRAID10, 0, 4},  {12, kRAID50, 3, 4},
        {12, kRAID60, 2, 6}, {9, kRAID10Triple, 0, 3}, {5, kRAID0, 0, 5},  {5, kRAID5, 0, 5},
        {6, kRAID6, 0, 6},   {12, kRAID50, 0, 0},      {12, kRAID60, 0, 0}, {7, 0x0A, 0, 7},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_GetFullStripeSizeMultiplier(r.n, r.level, r.g), r.multiplier)
            << r.n << " drives, level " << int(r.level) << ", " << int(r.g) << " groups";
    }
    for (VK_BYTE level = 0; level <= 10; ++level) {
        EXPECT_EQ(__VK_IsParityRAID(level), level >= kRAID5 && level <= kRAID60 ? kTrue : kFalse) << int(level);
    }
}

TEST(RaidGeometry, BlockConversionRoundsUp) {
    TelmarLogCapture log;
    struct Row {
        VK_QWORD size;
        VK_WORD current, target;
        VK_QWORD converted;
    };
    const Row rows[] = {
        {1000, 512, 4096, 125}, {1001, 512, 4096, 126}, {125, 4096, 512, 1000}, {0, 512, 4096, 0},
        {7, 520, 512, 8},       {kAll, 65535, 1, kAll}, // saturates instead of wrapping
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_ConvertDriveSizeInBlocks(r.size, r.current, r.target), r.converted)
            << r.size << " x " << r.current << " / " << r.target;
    }
    EXPECT_EQ(log.Count("Assertion"), 0u);
    EXPECT_EQ(__VK_ConvertDriveSizeInBlocks(1000, 512, 0), 0u);
    EXPECT_EQ(log.Count("__VK_ConvertDriveSizeInBlocks:"), 1u);
    EXPECT_EQ(log.Count("Assertion 'target_block_size > 0' failed: Invalid target blocksize\n"), 1u);
}

TEST(RaidGeometry, MaximumUsableSizeByLogic) {
    TelmarLogCapture log;
    struct Row {
        VK_WORD usable;
        VK_QWORD free;
        VK_DWORD strip;
        VK_BYTE logic;
        VK_QWORD size;
    };
    const Row rows[] = {
        {3, 1000, 128, 0, 2792},          // 104 + 3 x 896
        {3, 1000, 128, 1, 3000},          {3, 1000, 128, 2, 2688}, {3, 1000, 128, 3, 0},
        {3, 1024, 128, 0, 3072},          {0, 1000, 128, 0, 104},  {5, 100, 128, 0, 100},
        {65535, kAll / 2, 1, 1, kAll}, // saturates
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_GetLogicalDriveMaxUsableSize(r.usable, r.free, r.strip, r.logic), r.size)
            << r.usable << " drives, " << r.free << " free, strip " << r.strip << ", logic " << int(r.logic);
    }
    EXPECT_EQ(log.Count("Assertion"), 0u);
    EXPECT_EQ(__VK_GetLogicalDriveMaxUsableSize(3, 1000, 0, 0), 0u);
    EXPECT_EQ(log.Count("__VK_GetLogicalDriveMaxUsableSize:"), 1u);
    EXPECT_EQ(log.Count("Assertion 'strip_size_blocks > 0' failed: 0 strip size\n"), 1u);
}

TEST(RaidGeometry, CylinderRounding) {
    TelmarLogCapture log;
    struct Row {
        VK_QWORD size;
        VK_WORD sectors;
        VK_BYTE logic;
        VK_QWORD rounded;
    };
    const Row rows[] = {
        {100000, 32, 0, 97920},
        {534765599, 32, 0, 534765599 - 534765599 % 8160}, // last size below 65,535 cylinders
        {534765600, 32, 0, 534765600},
        {600000000, 32, 0, 600000000},
        {8159, 32, 0, 0},
        {0x8000, 32, 0, 32640},
        {100000, 63, 0, 96390}, // cylinders of 16,065 blocks
        {100000, 32, 1, 100000},
        {100000, 32, 2, 100000},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_GetLogicalDriveAdjustedSize(r.size, r.sectors, r.logic), r.rounded)
            << r.size << " with " << r.sectors << " sectors, logic " << int(r.logic);
    }
    EXPECT_EQ(log.Count("Assertion"), 0u);
    EXPECT_EQ(__VK_GetLogicalDriveAdjustedSize(100000, 0, 0), 97920u);
    EXPECT_EQ(log.Count("__VK_GetLogicalDriveAdjustedSize:"), 1u);
    EXPECT_EQ(log.Count("Assertion 'sectors_per_track > 0' failed: Invalid sectors/track\n"), 1u);
    EXPECT_EQ(__VK_GetLogicalDriveAdjustedSize(100000, 0, 1), 100000u) << "only logic 0 reads the geometry";
    EXPECT_EQ(log.Count("Assertion"), 1u);
}

TEST(RaidGeometry, BlocksPerDrive) {
    struct Row {
        VK_QWORD size;
        VK_DWORD strip;
        VK_WORD usable;
        VK_QWORD blocks;
    };
    const Row rows[] = {
        {1000, 128, 3, 384}, // 128 x 2 + min(128, 232)
        {768, 128, 3, 256},  {769, 128, 3, 257}, {100, 128, 3, 100}, {1000, 1, 1, 1000},
        {1000, 0, 3, 0},     {1000, 128, 0, 0},  {0, 128, 3, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_GetLogicalDriveUsageBlocks(r.size, r.strip, r.usable), r.blocks)
            << r.size << ", strip " << r.strip << ", " << r.usable << " drives";
    }
}

TEST(RaidGeometry, UsableFreeBlocksOfAStagedArray) {
    EDITABLE_ARRAY array{};
    array.data_drive_count = 4;
    array.common_drive_size_blocks = 1000000;
    // RAID 5 of 4: 3 data drives x 800,000 free blocks, rounded down to whole 8,160-block cylinders.
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(&array, 200000, kRAID5, 0, 128, 32, 0), 2399040u);
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(&array, 200000, kRAID5, 0, 128, 32, 1), 2400000u);
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(&array, 0, kRAID10, 0, 128, 32, 1), 2000000u);
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(&array, 1000000, kRAID5, 0, 128, 32, 1), 0u);
    // Logical drives reaching past the smallest drive leave nothing rather than a wrapped size.
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(&array, 1000001, kRAID5, 0, 128, 32, 1), 0u);
    EXPECT_EQ(_VK_GetEditableArrayUsableFreeBlocksFrom(nullptr, 0, kRAID5, 0, 128, 32, 1), 0u);
}

TEST(RaidRules, ValidityAtEachLevelsBoundaries) {
    struct Row {
        VK_WORD n;
        VK_BYTE level, g;
        bool valid;
    };
    const Row rows[] = {
        {1, kRAID0, 0, true},         {0, kRAID0, 0, false},         {1, kRAID0, 1, false},
        {2, kRAID1, 0, true},         {3, kRAID1, 0, false},         {1, kRAID1, 0, false},
        {2, kRAID1, 2, false},        {4, kRAID10, 0, true},         {6, kRAID10, 0, true},
        {5, kRAID10, 0, false},       {2, kRAID10, 0, false},        {4, kRAID10, 2, false},
        {3, kRAID5, 0, true},         {2, kRAID5, 0, false},         {3, kRAID5, 1, false},
        {6, kRAID50, 2, true},        {5, kRAID50, 2, false},        {6, kRAID50, 3, false},
        {6, kRAID50, 1, false},       {6, kRAID50, 0, false},        {12, kRAID50, 4, true},
        {12, kRAID50, 5, false},      {4, kRAID6, 0, true},          {3, kRAID6, 0, false},
        {4, kRAID6, 2, false},        {8, kRAID60, 2, true},         {7, kRAID60, 2, false},
        {12, kRAID60, 3, true},       {12, kRAID60, 4, false},       {8, kRAID60, 0, false},
        {3, kRAID1Triple, 0, true},   {2, kRAID1Triple, 0, false},   {6, kRAID1Triple, 0, false},
        {6, kRAID10Triple, 0, true},  {9, kRAID10Triple, 0, true},   {3, kRAID10Triple, 0, false},
        {7, kRAID10Triple, 0, false}, {6, kRAID10Triple, 2, false},  {6, 0, 0, false},
        {6, 0x0A, 0, false},          {65535, kRAID0, 0, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_IsValidRAIDForArray(nullptr, r.n, r.level, r.g), r.valid ? kTrue : kFalse)
            << r.n << " drives, level " << int(r.level) << ", " << int(r.g) << " groups";
    }
}

TEST(RaidRules, ParityGroupCountValidity) {
    struct Row {
        VK_BYTE level;
        VK_WORD n;
        VK_BYTE g;
        bool valid;
    };
    const Row rows[] = {
        {kRAID50, 6, 2, true},    {kRAID50, 5, 1, false},   {kRAID50, 12, 4, true},  {kRAID50, 12, 5, false},
        {kRAID50, 8, 4, false},   {kRAID50, 9, 3, true},    {kRAID50, 6, 1, false},  {kRAID60, 12, 3, true},
        {kRAID60, 12, 4, false},  {kRAID60, 8, 2, true},    {kRAID60, 7, 1, false},  {kRAID60, 16, 0, false},
        {kRAID5, 6, 2, false},    {kRAID6, 8, 2, false},    {kRAID0, 6, 2, false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(__VK_IsParityGroupCountValidFor(r.level, r.n, r.g), r.valid ? kTrue : kFalse)
            << "level " << int(r.level) << ", " << r.n << " drives, " << int(r.g) << " groups";
    }
}

TEST(RaidRules, ParityGroupLists) {
    struct Row {
        VK_BYTE level;
        VK_WORD n;
        VK_BYTE room;
        std::vector<VK_BYTE> counts;
        VK_BYTE default_count;
    };
    const Row rows[] = {
        {kRAID60, 12, 8, {2, 3}, 2},
        {kRAID50, 12, 8, {2, 3, 4}, 2},
        {kRAID50, 5, 8, {}, 0},
        {kRAID50, 12, 2, {2, 3}, 2}, // cut to the room given
        {kRAID60, 16, 8, {2, 4}, 2},
        {kRAID5, 4, 8, {0}, 0},      // a level without groups offers 0
        {kRAID5, 2, 8, {}, 0},
        {kRAID50, 1000, 255, {2, 4, 5, 8, 10, 20, 25, 40, 50, 100, 125, 200, 250}, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "level " << int(r.level) << ", " << r.n << " drives");
        std::vector<VK_BYTE> list(256, 0xEE);
        VK_BYTE max = r.room;
        VK_BYTE default_count = 0xEE;
        EXPECT_EQ(_VK_GetEditableArrayParityGroupCountValues(nullptr, r.level, r.n, &max, list.data(), &default_count),
                  kGetEditableArrayParityGroupCountValuesOK);
        EXPECT_EQ(std::vector<VK_BYTE>(list.begin(), list.begin() + max), r.counts);
        EXPECT_EQ(default_count, r.default_count);
        // The room given is cleared; nothing past it is touched.
        for (size_t k = max; k < r.room; ++k) {
            EXPECT_EQ(list[k], 0) << k;
        }
        EXPECT_EQ(list[r.room], 0xEE);
    }
}

TEST(RaidRules, ShrinkAndExpandGroupCounts) {
    struct Row {
        bool expand;
        VK_BYTE level, g;
        VK_WORD c, changed;
        VK_BYTE type;
        VK_BYTE groups;
    };
    const Row rows[] = {
        // RAID 50 of 12 in 2 groups of 6: two drives leave, one from each group.
        {false, kRAID50, 2, 12, 2, kShrinkTypeRemoveDrivesFromParityGroups, 2},
        {false, kRAID50, 2, 12, 2, kShrinkTypeRemoveParityGroups, 0},
        {false, kRAID50, 2, 12, 2, kShrinkTypeAuto, 2},
        // A whole group of 6 leaves: one group is no RAID 50.
        {false, kRAID50, 2, 12, 6, kShrinkTypeRemoveParityGroups, 0},
        // 3 groups of 4: four drives are a whole group.
        {false, kRAID50, 3, 12, 4, kShrinkTypeRemoveDrivesFromParityGroups, 0},
        {false, kRAID50, 3, 12, 4, kShrinkTypeRemoveParityGroups, 2},
        {false, kRAID50, 3, 12, 4, kShrinkTypeAuto, 2},
        {false, kRAID50, 3, 12, 3, kShrinkTypeAuto, 3},
        {false, kRAID50, 3, 12, 12, kShrinkTypeRemoveParityGroups, 0},
        {false, kRAID60, 3, 12, 3, kShrinkTypeRemoveDrivesFromParityGroups, 0}, // groups of 3 are too small
        {false, kRAID50, 2, 12, 13, kShrinkTypeAuto, 0},
        {true, kRAID50, 2, 12, 6, kExpandTypeAddDrivesToParityGroups, 2},
        {true, kRAID50, 2, 12, 6, kExpandTypeAddParityGroups, 3},
        {true, kRAID50, 2, 12, 6, kExpandTypeAuto, 2},
        {true, kRAID50, 2, 12, 1, kExpandTypeAuto, 0},
        {true, kRAID60, 2, 8, 4, kExpandTypeAddParityGroups, 3},
        {true, kRAID60, 2, 8, 4, kExpandTypeAddDrivesToParityGroups, 2},
        {true, kRAID50, 2, 65535, 65535, kExpandTypeAuto, 0}, // 131,070 drives fit nothing
        {true, kRAID50, 2, 65534, 2, kExpandTypeAddDrivesToParityGroups, 0}, // 65,536 drives neither
        {true, kRAID50, 2, 65532, 2, kExpandTypeAddDrivesToParityGroups, 2},
        {true, kRAID50, 200, 600, 600, kExpandTypeAddParityGroups, 0}, // 400 groups do not fit a byte
        {true, kRAID50, 2, 12, 6, 0, 0},
        {false, kRAID50, 2, 12, 2, 4, 0},
        // No groups, or more groups than drives: nothing to divide by.
        {false, kRAID50, 0, 12, 2, kShrinkTypeAuto, 0},
        {true, kRAID60, 0, 12, 4, kExpandTypeAuto, 0},
        {true, kRAID50, 5, 4, 4, kExpandTypeAuto, 0},
    };
    for (const Row& r : rows) {
        const VK_BYTE groups = r.expand ? __VK_ParityGroupCountAfterExpand(r.level, r.g, r.c, r.changed, r.type)
                                        : __VK_ParityGroupCountAfterShrink(r.level, r.g, r.c, r.changed, r.type);
        EXPECT_EQ(groups, r.groups) << (r.expand ? "expand" : "shrink") << " level " << int(r.level) << ", "
                                    << int(r.g) << " groups of " << r.c << " by " << r.changed << ", type "
                                    << int(r.type);
    }
}

TEST(RaidRules, StripSizeExponent) {
    const std::pair<VK_DWORD, VK_BYTE> rows[] = {{0, 0},          {1, 0},       {2, 1},       {3, 1},
                                                 {65536, 16},     {98304, 16},  {8192, 13},   {0x80000000, 31},
                                                 {0xFFFFFFFF, 31}};
    for (const auto& [bytes, exp] : rows) {
        EXPECT_EQ(__StripSizeBytesToExp(bytes), exp) << bytes;
    }
}

TEST(RaidRules, StripSizeLimitsAndDefaults) {
    TelmarLogCapture log;
    telmar::StripSizeLimits limits;
    limits.min_non_parity = 8 * KiB;
    limits.min_parity = 16 * KiB;
    limits.max_raid01 = 512 * KiB;
    limits.max_raid5 = MiB;
    limits.max_raid6 = 256 * KiB;
    limits.max_nvme = 128 * KiB;
    limits.max_full_stripe = MiB;
    constexpr VK_DWORD kHDD = 0x0011, kNVMe = kPhysicalDriveTypeNVMe | 0x0100;

    struct Row {
        VK_BYTE level, g;
        VK_DWORD type;
        VK_WORD n;
        VK_BYTE min, max, def;
    };
    const Row rows[] = {
        {kRAID5, 0, kHDD, 8, 14, 17, 17},    // 8 x 2^17 = 1 MiB
        {kRAID5, 0, kHDD, 4, 14, 18, 18},    // 4 x 2^18 = 1 MiB
        {kRAID5, 0, kHDD, 3, 14, 18, 18},    // 3 x 2^18 under 1 MiB; 2^19 would pass it
        {kRAID50, 2, kHDD, 16, 14, 17, 17},  // 8 per group
        {kRAID6, 0, kHDD, 4, 14, 18, 18},    // the RAID 6 limit, 256 KiB
        {kRAID60, 2, kHDD, 16, 14, 17, 17},
        {kRAID0, 0, kHDD, 16, 13, 19, 18},   // no full-stripe limit without parity
        {kRAID10, 0, kHDD, 64, 13, 19, 18},
        {kRAID0, 0, kNVMe, 16, 13, 17, 17},  // the NVMe limit is lower
        {kRAID5, 0, kNVMe, 3, 14, 17, 17},
        {kRAID5, 0, kHDD, 600, 14, 10, 10},  // 600 x 2^10 fits, x 2^11 does not
        {kRAID50, 0, kHDD, 16, 14, 20, 18},  // no groups: no multiplier to lower by
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "level " << int(r.level) << ", " << int(r.g) << " groups, " << r.n
                                          << " drives, type " << std::hex << r.type);
        VK_BYTE min = 0, max = 0, def = 0;
        EXPECT_EQ(telmar::StripSizeRange(limits, r.level, r.g, r.type, r.n, &min, &max, &def),
                  kGetEditableLogicalDriveStripSizeRangeOK);
        EXPECT_EQ(min, r.min);
        EXPECT_EQ(max, r.max);
        EXPECT_EQ(def, r.def);
        EXPECT_EQ(telmar::MaxStripSizeExp(limits, r.level, r.g, r.type, r.n), r.max);
    }
    EXPECT_EQ(log.Count("Assertion"), 0u);

    // Limits the controller does not report.
    telmar::StripSizeLimits none;
    EXPECT_EQ(telmar::MinStripSizeExp(none, kRAID5), 13);
    EXPECT_EQ(telmar::MinStripSizeExp(none, kRAID0), 13);
    EXPECT_EQ(telmar::MaxStripSizeExp(none, kRAID5, 0, kHDD, 8), 20);
    EXPECT_EQ(log.Count("Assertion"), 0u) << "a maximum of 0 stops before the full stripe";
    none.max_raid5 = MiB;
    EXPECT_EQ(telmar::MaxStripSizeExp(none, kRAID5, 0, kHDD, 8), 20);
    EXPECT_EQ(log.Count("__VK_GetEditableLogicalDriveMaxStripSize:"), 1u);
    EXPECT_EQ(log.Count("Assertion 'max_controller_strip_size_bytes > 0' failed: Error: Failed to determine max "
                        "safe full stripe size\n"),
              1u);
    // An NVMe drive on a controller without an NVMe limit keeps the level's limit.
    none.max_raid01 = 256 * KiB;
    EXPECT_EQ(telmar::MaxStripSizeExp(none, kRAID0, 0, kNVMe, 4), 18);

    // A maximum below 2 bytes leaves no strip size.
    telmar::StripSizeLimits tiny = limits;
    tiny.max_raid01 = 1;
    VK_BYTE min = 0xEE, max = 0xEE, def = 0xEE;
    EXPECT_EQ(telmar::StripSizeRange(tiny, kRAID0, 0, kHDD, 4, &min, &max, &def),
              kGetEditableLogicalDriveStripSizeRangeNoValidStripSize);
    EXPECT_EQ(min, 0);
    EXPECT_EQ(max, 0);
    EXPECT_EQ(def, 0);
}

TEST(RaidRules, FullStripeSafety) {
    telmar::StripSizeLimits limits;
    limits.max_full_stripe = MiB;
    struct Row {
        VK_WORD n;
        VK_BYTE level, g;
        VK_DWORD strip;
        bool safe;
    };
    const Row rows[] = {
        {8, kRAID5, 0, 128 * KiB, true},   {8, kRAID5, 0, 256 * KiB, false}, {12, kRAID60, 2, 128 * KiB, true},
        {12, kRAID60, 2, 256 * KiB, false}, {4, kRAID6, 0, 256 * KiB, true}, {65535, kRAID5, 0, 0xFFFFFFFF, false},
        // No groups: no full stripe is known to fit.
        {12, kRAID50, 0, 8 * KiB, false},  {12, kRAID60, 0, 0, false},
        // Without parity there is no limit.
        {64, kRAID0, 0, MiB, true},        {64, kRAID10, 0, 0xFFFFFFFF, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(telmar::FullStripeSizeSafe(limits, r.n, r.level, r.g, r.strip), r.safe)
            << r.n << " drives, level " << int(r.level) << ", " << int(r.g) << " groups, strip " << r.strip;
    }
}

// A data area without a controller: the cached identify reply and drive records are filled by hand,
// and a staged configuration hangs from it.
class StagedGeometry : public ::testing::Test {
protected:
    StagedGeometry() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
        c()->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
        c()->identify_controller_buffer.wMaximumPhysicalDevicesSupported = 384;
        c()->editable_configuration = &config_;
    }
    ~StagedGeometry() override { c()->editable_configuration = nullptr; }

    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }

    // A drive whose identify record is already cached.
    void Drive(VK_WORD pd, VK_QWORD usable, VK_WORD logical = 512, VK_WORD physical = 512, VK_BYTE type = 2) {
        PhysicalDriveRecord& r = c()->pd_record_list[pd];
        r.flags = kPDRecordIdentifyValid | kPDRecordDrive;
        r.identify_physical_drive_buffer.bDeviceType = type;
        r.pd_config_information.usable_size_blocks = usable;
        r.pd_config_information.logical_block_size_bytes = logical;
        r.pd_config_information.physical_block_size_bytes = physical;
        c()->pd_records_in_use = std::max<VK_WORD>(c()->pd_records_in_use, pd + 1);
    }
    EDITABLE_ARRAY& StageArray(VK_WORD number, std::vector<VK_WORD> data) {
        arrays_.push_back(std::make_unique<EDITABLE_ARRAY>());
        EDITABLE_ARRAY& a = *arrays_.back();
        a.editable_array_number = number;
        a.data_drive_count = static_cast<VK_WORD>(data.size());
        std::copy(data.begin(), data.end(), a.data_drives);
        config_.editable_array_list[number] = &a;
        return a;
    }
    EDITABLE_LOGICAL_DRIVE& StageLogicalDrive(VK_WORD number, VK_WORD array, VK_BYTE level, VK_BYTE groups,
                                              VK_QWORD flags = kEditableLDArraySet | kEditableLDRAIDSet) {
        lds_.push_back(std::make_unique<EDITABLE_LOGICAL_DRIVE>());
        EDITABLE_LOGICAL_DRIVE& ld = *lds_.back();
        ld.ld_number = number;
        ld.editable_array_number = array;
        ld.RAID_level = level;
        ld.num_parity_groups = groups;
        ld.flags = flags;
        config_.editable_ld_list[number] = &ld;
        return ld;
    }
    void Unstaged() { c()->editable_configuration = nullptr; }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
    EDITABLE_CONFIGURATION config_{};
    std::vector<std::unique_ptr<EDITABLE_ARRAY>> arrays_;
    std::vector<std::unique_ptr<EDITABLE_LOGICAL_DRIVE>> lds_;
};

TEST_F(StagedGeometry, DriveAlignment) {
    struct Row {
        VK_WORD logical, physical;
        VK_DWORD alignment;
    };
    const Row rows[] = {{512, 4096, 8}, {512, 512, 1}, {4096, 4096, 1}, {520, 4096, 512}, {4096, 512, 1}};
    for (const Row& r : rows) {
        Drive(5, 1000, r.logical, r.physical);
        EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 5), r.alignment) << r.logical << "/" << r.physical;
    }
    EXPECT_EQ(log_.Count("Unknown"), 0u);
    Drive(6, 1000, 0, 4096);
    Drive(7, 1000, 512, 0);
    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 6), 1u);
    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 7), 1u);
    EXPECT_EQ(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 400), 1u);
    EXPECT_EQ(log_.Count("_VK_GetPhysicalDriveAlignmentSizeBlocks:"), 3u);
    EXPECT_EQ(log_.Count(": Unknown logical/physical blocksize for PD 6\n"), 1u);
    EXPECT_EQ(log_.Count(": Unknown logical/physical blocksize for PD 400\n"), 1u);
}

TEST_F(StagedGeometry, NewCommonDriveSize) {
    Drive(5, 3000);
    Drive(9, 1000);
    Drive(2, 2000);
    Drive(7, 1000);
    Drive(11, 500);
    StageArray(3, {5, 9, 2});
    const VK_WORD none[] = {0};
    const VK_WORD nine[] = {9};
    const VK_WORD all[] = {2, 5, 9};
    const VK_WORD seven[] = {7};
    const VK_WORD seven_eleven[] = {7, 11};
    const VK_WORD beyond[] = {400};
    struct Row {
        const VK_WORD* removed;
        size_t removed_count;
        const VK_WORD* added;
        size_t added_count;
        VK_WORD drive;
        VK_QWORD size;
    };
    const Row rows[] = {
        {none, 0, none, 0, 9, 1000},
        {nine, 1, none, 0, 2, 2000},
        {nine, 1, seven_eleven, 2, 11, 500},
        {none, 0, seven, 1, 9, 1000}, // the first of two equal drives wins
        {nine, 1, seven, 1, 7, 1000},
        {all, 3, none, 0, 0xFFFF, 0},
        {all, 3, beyond, 1, 0xFFFF, 0},
        {nullptr, 3, nullptr, 2, 9, 1000}, // lists without storage are empty
    };
    for (const Row& r : rows) {
        VK_QWORD size = 0xEE;
        EXPECT_EQ(__VK_GetEditableArrayNewCommonDriveSize(cda(), 3, r.removed, r.removed_count, r.added,
                                                          r.added_count, &size),
                  r.drive);
        EXPECT_EQ(size, r.size);
    }
    // An array that is not staged contributes no drives; the added ones still count.
    VK_QWORD size = 0;
    EXPECT_EQ(__VK_GetEditableArrayNewCommonDriveSize(cda(), 4, nullptr, 0, seven, 1, &size), 7);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(__VK_GetEditableArrayNewCommonDriveSize(cda(), 64, nullptr, 0, nullptr, 0, nullptr), 0xFFFF);
}

TEST_F(StagedGeometry, SmallestAndLargestDriveOfALiveArray) {
    ArrayRecord& array = c()->array_record_list[2];
    for (const auto& [pd, size] : {std::pair<VK_WORD, VK_QWORD>{3, 2000}, {4, 1000}, {6, 3000}, {8, 1000}}) {
        Drive(pd, size);
        array.data_drive_bitmap[pd / 8] |= static_cast<VK_BYTE>(1u << (pd % 8));
    }
    array.spare_drive_bitmap[1] |= 0x01; // drive 8 is the spare
    array.data_drive_bitmap[1] &= static_cast<VK_BYTE>(~0x01);
    c()->total_array_count = 3;

    VK_QWORD size = 0;
    EXPECT_EQ(_VK_GetArraySmallestPhysicalDrive(cda(), 2, &size), 4);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(__VK_GetArrayPhysicalDriveBySize(cda(), 2, &size, VK_EnumerateArrayPhysicalDrives, kTrue), 6);
    EXPECT_EQ(size, 3000u);
    EXPECT_EQ(__VK_GetArraySmallestPhysicalDrive(cda(), 2, &size, VK_EnumerateArraySpareDrives), 8);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(_VK_GetArraySmallestPhysicalDrive(cda(), 1, &size), 0xFFFF);
    EXPECT_EQ(size, 0u);
    // A walk that never ends is cut off.
    const PhysicalDriveEnumerator stuck = [](PCDA, VK_WORD, VK_WORD) -> VK_WORD { return 3; };
    EXPECT_EQ(__VK_GetArrayPhysicalDriveBySize(cda(), 2, &size, stuck, kFalse), 3);
    EXPECT_EQ(size, 2000u);
}

TEST_F(StagedGeometry, MinimumSwappableBlocksAndAlignedOffsets) {
    ArrayRecord& array = c()->array_record_list[1];
    array.ld_count = 3;
    const VK_QWORD offsets[] = {0, 9000, 4000};
    const VK_QWORD blocks[] = {4000, 500, 4500};
    std::copy(std::begin(offsets), std::end(offsets), array.ld_offset_array);
    std::copy(std::begin(blocks), std::end(blocks), array.ld_blocks_per_drive_array);
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 1), 9500u);
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 0), 0u);
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 64), 0u);
    array.ld_count = 0xFFFF; // past the 64 entries the record holds
    EXPECT_EQ(__VK_GetArrayMinimumSwappablePhysicalDriveBlocks(cda(), 1), 9500u);

    StageArray(4, {1, 2}).alignment_size_blocks = 8;
    StageArray(5, {3});
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 4, 17), 24u);
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 4, 16), 16u);
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 5, 17), 17u);
    EXPECT_EQ(log_.Count("Assertion 'alignment_size_blocks > 0' failed: Zero alignment size\n"), 1u);
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 6, 17), 17u) << "no array staged there";
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 64, 17), 17u);
    Unstaged();
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 4, 17), 17u);
    EXPECT_EQ(VK_GetNextEditableLogicalDriveAlignedOffset(nullptr, 4, 17), 17u);
}

TEST_F(StagedGeometry, ParityGroupListOfAStagedArray) {
    StageArray(0, std::vector<VK_WORD>(12, 1));
    StageArray(1, {});
    VK_BYTE list[8] = {};
    VK_BYTE max = 8;
    VK_BYTE def = 0;
    EXPECT_EQ(VK_GetEditableArrayParityGroupCountValues(cda(), 0, kRAID60, &max, list, &def),
              kGetEditableArrayParityGroupCountValuesOK);
    EXPECT_EQ(max, 2);
    EXPECT_EQ(list[0], 2);
    EXPECT_EQ(list[1], 3);
    EXPECT_EQ(def, 2);

    struct Row {
        const char* what;
        VK_WORD array;
        VK_BYTE room;
        bool null_list;
        VK_BYTE result;
    };
    const Row rows[] = {
        {"no room", 0, 0, false, kGetEditableArrayParityGroupCountValuesInvalidArguments},
        {"no list", 0, 8, true, kGetEditableArrayParityGroupCountValuesInvalidArguments},
        {"no array", 2, 8, false, kGetEditableArrayParityGroupCountValuesNoArraySet},
        {"past the slots", 64, 8, false, kGetEditableArrayParityGroupCountValuesNoArraySet},
        {"no drives", 1, 8, false, kGetEditableArrayParityGroupCountValuesNoDrivesAdded},
    };
    for (const Row& r : rows) {
        max = r.room;
        EXPECT_EQ(VK_GetEditableArrayParityGroupCountValues(cda(), r.array, kRAID50, &max, r.null_list ? nullptr : list,
                                                            &def),
                  r.result)
            << r.what;
    }
    EXPECT_EQ(VK_GetEditableArrayParityGroupCountValues(cda(), 0, kRAID50, nullptr, list, &def),
              kGetEditableArrayParityGroupCountValuesInvalidArguments);
    Unstaged();
    max = 8;
    EXPECT_EQ(VK_GetEditableArrayParityGroupCountValues(cda(), 0, kRAID50, &max, nullptr, &def),
              kGetEditableArrayParityGroupCountValuesNoEditableConfigCreated)
        << "the missing configuration is told first";
    EXPECT_EQ(VK_GetEditableArrayParityGroupCountValues(nullptr, 0, kRAID50, &max, list, &def),
              kGetEditableArrayParityGroupCountValuesNoEditableConfigCreated);
}

TEST_F(StagedGeometry, GroupCountsOfAStagedLogicalDrive) {
    StageLogicalDrive(3, 0, kRAID50, 3);
    StageLogicalDrive(4, 0, kRAID60, 0); // a live drive that reported no groups
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForShrink(cda(), 3, 12, 4, kShrinkTypeAuto), 2);
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForExpand(cda(), 3, 12, 4, kExpandTypeAddParityGroups), 4);
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForExpand(cda(), 3, 12, 3, kExpandTypeAddDrivesToParityGroups), 3);
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForShrink(cda(), 4, 16, 8, kShrinkTypeAuto), 0);
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForExpand(cda(), 4, 16, 8, kExpandTypeAuto), 0);
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForShrink(cda(), 5, 12, 4, kShrinkTypeAuto), 0) << "not staged";
    EXPECT_EQ(__VK_GetNumberOfParityGroupsForExpand(cda(), 64, 12, 4, kExpandTypeAuto), 0);
}

TEST_F(StagedGeometry, ExpandedRAIDLevelFollowsRAID6Support) {
    struct Row {
        VK_BYTE level;
        VK_WORD added;
        VK_BYTE with_raid6, without_raid6;
    };
    const Row rows[] = {
        {kRAID1, 3, kRAID6, kRAID5},         {kRAID1, 1, kRAID5, kRAID5},
        {kRAID1, 2, kRAID10, kRAID10},       {kRAID1, 0, kRAID10, kRAID10},
        {kRAID10, 2, kRAID10, kRAID10},      {kRAID10, 1, kRAID6, kRAID5},
        {kRAID1Triple, 3, kRAID10Triple, kRAID10Triple}, {kRAID10Triple, 6, kRAID10Triple, kRAID10Triple},
        {kRAID1Triple, 1, kRAID6, kRAID5},   {kRAID10Triple, 2, kRAID6, kRAID5},
        {kRAID5, 1, kRAID5, kRAID5},         {kRAID0, 3, kRAID0, kRAID0},
        {kRAID6, 2, kRAID6, kRAID6},         {kRAID50, 3, kRAID50, kRAID50},
        {0x0A, 3, 0x0A, 0x0A},
    };
    for (const bool raid6 : {true, false}) {
        id().bRAID6Support = raid6 ? 0xC0 : 0;
        ASSERT_EQ(VK_ControllerSupportsRAIDLevel(cda(), kRAID6), raid6 ? kTrue : kFalse);
        for (const Row& r : rows) {
            EXPECT_EQ(_VK_ExpandRAIDLevel(cda(), r.level, r.added), raid6 ? r.with_raid6 : r.without_raid6)
                << "level " << int(r.level) << " + " << r.added << (raid6 ? " with" : " without") << " RAID 6";
        }
    }
}

TEST_F(StagedGeometry, StripRulesReadTheController) {
    id().wMaximumRAID01StripeSize = 0x0400; // 512 KiB
    id().wMaximumRAID45StripeSize = 0x0800; // 1 MiB
    id().wMaximumRAID6StripeSize = 0x0200;  // 256 KiB
    id().dwMaximumSafeFullStripeSizeMB = 1;
    EXPECT_EQ(__VK_GetEditableLogicalDriveMinStripSize(cda(), kRAID5), 13);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID5, 0, 0x11, 8), 17);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID5, 0, 0x11, 4), 18);
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID0, 0, 0x11, 8), 19);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 128 * KiB), kTrue);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 256 * KiB), kFalse);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 12, kRAID50, 0, 8 * KiB), kFalse);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID0, 0, 0xFFFFFFFF), kTrue);

    VK_BYTE min = 0, max = 0, def = 0;
    EXPECT_EQ(_VK_GetEditableLogicalDriveStripSizeRange(cda(), 0, kRAID6, 0, 0x11, 4, &min, &max, &def),
              kGetEditableLogicalDriveStripSizeRangeOK);
    EXPECT_EQ(min, 13);
    EXPECT_EQ(max, 18);
    EXPECT_EQ(def, 18);

    // A controller without a safe full-stripe size: the maximum stays, with its line.
    id().dwMaximumSafeFullStripeSizeMB = 0;
    EXPECT_EQ(__VK_GetEditableLogicalDriveMaxStripSize(cda(), kRAID5, 0, 0x11, 8), 20);
    EXPECT_EQ(log_.Count("Failed to determine max safe full stripe size"), 1u);
    EXPECT_EQ(__VK_IsFullStripeSizeSafe(cda(), 8, kRAID5, 0, 8 * KiB), kFalse);
}

TEST_F(StagedGeometry, StripSizeRangeOfAStagedLogicalDrive) {
    id().wMaximumRAID01StripeSize = 0x0400;
    id().wMaximumRAID45StripeSize = 0x0800;
    id().dwMaximumSafeFullStripeSizeMB = 1;
    StageArray(2, {1, 2, 3, 4, 5, 6, 7, 8}).common_drive_type = 0x11;
    StageArray(3, {9, 10}).common_drive_type = kPhysicalDriveTypeNVMe;
    StageLogicalDrive(0, 2, kRAID5, 0);
    StageLogicalDrive(1, 3, kRAID1, 0);
    StageLogicalDrive(2, 2, kRAID5, 0, kEditableLDRAIDSet);
    StageLogicalDrive(3, 2, kRAID5, 0, kEditableLDArraySet);
    StageLogicalDrive(4, 2, kRAID0, 0, kEditableLDArraySet | kEditableLDRAIDSet | kEditableLDLUCache);
    StageLogicalDrive(5, 7, kRAID0, 0); // its array is not staged

    struct Row {
        VK_WORD ld;
        VK_BYTE result, min, max, def;
    };
    const Row rows[] = {
        {0, kGetEditableLogicalDriveStripSizeRangeOK, 13, 17, 17},
        {1, kGetEditableLogicalDriveStripSizeRangeOK, 13, 19, 17}, // NVMe default
        {2, kGetEditableLogicalDriveStripSizeRangeNoArraySet, 0xEE, 0xEE, 0xEE},
        {3, kGetEditableLogicalDriveStripSizeRangeNoRAIDLevelSet, 0xEE, 0xEE, 0xEE},
        {4, kGetEditableLogicalDriveStripSizeInvalidLUCache, 0xEE, 0xEE, 0xEE},
        {5, kGetEditableLogicalDriveStripSizeRangeNoArraySet, 0xEE, 0xEE, 0xEE},
        {6, kGetEditableLogicalDriveStripSizeRangeNoArraySet, 0xEE, 0xEE, 0xEE},
        {64, kGetEditableLogicalDriveStripSizeRangeNoArraySet, 0xEE, 0xEE, 0xEE},
    };
    for (const Row& r : rows) {
        VK_BYTE min = 0xEE, max = 0xEE, def = 0xEE;
        EXPECT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), r.ld, &min, &max, &def), r.result) << r.ld;
        EXPECT_EQ(min, r.min) << r.ld;
        EXPECT_EQ(max, r.max) << r.ld;
        EXPECT_EQ(def, r.def) << r.ld;
    }
    EXPECT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), 0, nullptr, nullptr, nullptr),
              kGetEditableLogicalDriveStripSizeRangeOK);
    Unstaged();
    EXPECT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), 0, nullptr, nullptr, nullptr),
              kGetEditableLogicalDriveStripSizeRangeNoEditableConfigCreated);
}

TEST_F(StagedGeometry, NVMeArrayNeedsEveryDataDriveNVMe) {
    Drive(1, 1000, 512, 512, 9);
    Drive(2, 1000, 512, 512, 9);
    Drive(3, 1000, 512, 512, 2);
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &StageArray(0, {1, 2})), kTrue);
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &StageArray(1, {1, 3, 2})), kFalse);
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &StageArray(2, {})), kTrue);
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &StageArray(3, {1, 400})), kFalse);
    EXPECT_EQ(__VK_IsNVMEArray(cda(), nullptr), kFalse);
    // A count past the 128 entries reads only those.
    EDITABLE_ARRAY& full = StageArray(4, std::vector<VK_WORD>(128, 1));
    full.data_drive_count = 0xFFFF;
    EXPECT_EQ(__VK_IsNVMEArray(cda(), &full), kTrue);
}

} // namespace
