// RAID level and strip size of staged logical drives on a simulated controller: the reasons each is
// refused, what a new drive's setters fill or clear, the smallest footprint a new drive needs, and
// the migration of an existing drive (its footprint, the drives after it, its transformation bits).
#include <functional>
#include <vector>

#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Footprints and offsets of the three live RAID 5 drives of the fixture: all differ.
constexpr VK_QWORD kBlocks0 = 1u << 20, kBlocks1 = 1u << 19, kBlocks2 = 1u << 18;
constexpr VK_QWORD kOffset1 = kBlocks0, kOffset2 = kBlocks0 + kBlocks1;

// Drives 0-5 of 512-byte blocks; array 0 on drives 0-2 holds RAID 5 logical drives 0, 1 and 2 back to
// back, the rest of its drives free. RAID 0, 1 and parity RAID offered; 16 MiB full stripes safe.
FirmwareState Controller() {
    FirmwareState st = FallingSEDDrives(6);
    st.set_page("raid", {0x02, 0x0C, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
    st.identify.max_safe_full_stripe_mb = 16;
    const VK_QWORD blocks[] = {kBlocks0, kBlocks1, kBlocks2};
    const VK_QWORD offsets[] = {0, kOffset1, kOffset2};
    for (VK_WORD n = 0; n < 3; ++n) {
        st.add_configured_drive(n, {0, 1, 2}, blocks[n], offsets[n]).fault_tolerance = 3;
    }
    return st;
}

class StagedRaidHost : public StagedConfigHost {
public:
    void Start(FirmwareState st = Controller()) { StagedConfigHost::Start(std::move(st)); }
    // A new drive on array 0 behind the live ones, as the array setter leaves it.
    VK_WORD NewDrive() { return PlaceNewDrive(0, VK_GetEditableArrayNextLogicalDriveOffset(cda(), 0)); }
    VK_BYTE MinExp(VK_WORD n) {
        VK_BYTE min = 0, max = 0, def = 0;
        EXPECT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), n, &min, &max, &def),
                  kGetEditableLogicalDriveStripSizeRangeOK);
        return min;
    }
    VK_BYTE MaxExp(VK_WORD n) {
        VK_BYTE min = 0, max = 0, def = 0;
        EXPECT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), n, &min, &max, &def),
                  kGetEditableLogicalDriveStripSizeRangeOK);
        return max;
    }
};

// ---- New drives ----

TEST_F(StagedRaidHost, NewDriveRAIDLevelReasonRows) {
    struct Row {
        const char* name;
        std::function<void(StagedRaidHost&, VK_WORD)> staged;
        VK_BYTE level;
        VK_BYTE reason;
    } const rows[] = {
        {"allowed", {}, kRAID5, kCanSetEditableLogicalDriveRAIDLevelOK},
        {"locked", [](StagedRaidHost& h, VK_WORD n) { h.ld(n)->flags |= kEditableLDLocked; }, kRAID5,
         kCanSetEditableLogicalDriveRAIDLevelLogicalDriveIsLocked},
        {"no array", [](StagedRaidHost& h, VK_WORD n) { h.ld(n)->flags &= ~kEditableLDArraySet; }, kRAID5,
         kCanSetEditableLogicalDriveRAIDLevelNoArraySet},
        {"same level",
         [](StagedRaidHost& h, VK_WORD n) {
             h.ld(n)->flags |= kEditableLDRAIDSet;
             h.ld(n)->RAID_level = kRAID5;
         },
         kRAID5, kCanSetEditableLogicalDriveRAIDLevelAlreadySet},
        {"RAID 6 not offered", {}, kRAID6, kCanSetEditableLogicalDriveRAIDLevelUnsupportedRAIDLevel},
        {"RAID 1 on three drives", {}, kRAID1, kCanSetEditableLogicalDriveRAIDLevelUnsupportedDriveCount},
        {"RAID 0 beside an auto-replace spare",
         [](StagedRaidHost& h, VK_WORD) {
             PEDITABLE_ARRAY a = h.array(0);
             a->spare_drives[a->spare_drive_count++] = 3;
             h.config()->editable_pd_list[3].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
         },
         kRAID0, kCanSetEditableLogicalDriveRAIDLevelInvalidSpareConfiguration},
        {"RAID 0 beside an auto-replace spare, activation on prediction",
         [](StagedRaidHost& h, VK_WORD) {
             PEDITABLE_ARRAY a = h.array(0);
             a->spare_drives[a->spare_drive_count++] = 3;
             h.config()->editable_pd_list[3].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
             h.config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
         },
         kRAID0, kCanSetEditableLogicalDriveRAIDLevelOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        const VK_WORD n = NewDrive();
        if (row.staged) {
            row.staged(*this, n);
        }
        EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), n, row.level, 0), row.reason);
        EXPECT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, row.level, 0, kFalse),
                  row.reason == kCanSetEditableLogicalDriveRAIDLevelOK
                      ? kSetEditableLogicalDriveRAIDLevelOK
                      : kSetEditableLogicalDriveRAIDLevelFailedUnknown);
        StopController();
    }
}

TEST_F(StagedRaidHost, NumbersNamingNoStagedDriveAreRefused) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (VK_WORD n : {VK_WORD{40}, VK_WORD{kMaxLogicalDrivesSupported}, VK_WORD{0xFFFF}}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), n, kRAID5, 0),
                  kCanSetEditableLogicalDriveRAIDLevelNoArraySet);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, 128),
                  kCanSetEditableLogicalDriveStripSizeNoArraySet);
        EXPECT_EQ(VK_SetEditableLogicalDriveStripSize(cda(), n, 128),
                  kSetEditableLogicalDriveStripSizeFailedUnknown);
    }
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), 0, kRAID5, 0),
              kCanSetEditableLogicalDriveRAIDLevelNoEditableConfigCreated);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), 0, 128),
              kCanSetEditableLogicalDriveStripSizeNoEditableConfigCreated);
}

// A controller that names no safe full stripe: no parity strip is safe, while RAID 0 has no parity
// stripe to check.
TEST_F(StagedRaidHost, ParityLevelWithoutASafeFullStripeOverflows) {
    FirmwareState st = Controller();
    st.identify.max_safe_full_stripe_mb = 0;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    const VK_WORD n = NewDrive();
    EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), n, kRAID5, 0),
              kCanSetEditableLogicalDriveRAIDLevelFullStripeSizeOverflow);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), n, kRAID0, 0), kCanSetEditableLogicalDriveRAIDLevelOK);
    EXPECT_EQ(ld(n)->flags & kEditableLDRAIDSet, 0u);
}

// RAID 0 over three drives needs 32,768 / 3 = 10,922 blocks per drive, rounded up to whole MiB of
// 512-byte blocks: 12,288. The room counts the drive's own footprint back in.
TEST_F(StagedRaidHost, NewDriveNeedsTheRoundedMinimumFootprint) {
    constexpr VK_QWORD kOwn = 4096;
    const struct {
        VK_QWORD room;
        VK_BYTE reason;
    } rows[] = {{12288, kCanSetEditableLogicalDriveRAIDLevelOK},
                {12287, kCanSetEditableLogicalDriveRAIDLevelNotEnoughFreeSpaceForRAID},
                {0, kCanSetEditableLogicalDriveRAIDLevelNotEnoughFreeSpaceForRAID}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.room);
        ASSERT_NO_FATAL_FAILURE(Start());
        const VK_WORD n = NewDrive();
        ld(n)->physical_drive_blocks_per_drive = kOwn;
        const VK_QWORD next = VK_GetEditableArrayNextLogicalDriveOffset(cda(), 0);
        ASSERT_GE(next, ld(n)->physical_drive_offset_block + kOwn);
        array(0)->common_drive_size_blocks = next - kOwn + row.room;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), n, kRAID0, 0), row.reason);
        StopController();
    }
}

TEST_F(StagedRaidHost, SettingALevelClearsStripAndSizeOrFillsTheDefaults) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_WORD n = NewDrive();
    ld(n)->flags |= kEditableLDRAIDSet | kEditableLDStripSizeSet | kEditableLDSizeSet;
    ld(n)->RAID_level = kRAID0;
    ld(n)->strip_size_blocks = 512;
    ld(n)->drive_size_blocks = 1u << 20;
    ld(n)->logical_drive_initialization_method = 1;
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, kRAID5, 0, kFalse),
              kSetEditableLogicalDriveRAIDLevelOK);
    EXPECT_EQ(ld(n)->RAID_level, kRAID5);
    EXPECT_EQ(ld(n)->logical_drive_initialization_method, 0);
    EXPECT_EQ(ld(n)->flags & (kEditableLDRAIDSet | kEditableLDStripSizeSet | kEditableLDSizeSet),
              kEditableLDRAIDSet);

    // With the defaults: the range's default strip, the largest creatable size and its footprint.
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, kRAID0, 0, kTrue),
              kSetEditableLogicalDriveRAIDLevelOK);
    VK_BYTE min = 0, max = 0, def = 0;
    ASSERT_EQ(VK_GetEditableLogicalDriveStripSizeRange(cda(), n, &min, &max, &def),
              kGetEditableLogicalDriveStripSizeRangeOK);
    EXPECT_EQ(ld(n)->strip_size_blocks, (1u << def) / 512);
    EXPECT_EQ(ld(n)->flags & (kEditableLDStripSizeSet | kEditableLDSizeSet),
              kEditableLDStripSizeSet | kEditableLDSizeSet);
    // RAID 0 over three drives: the size spreads over all three, and fills the array's free room.
    const VK_QWORD free_per_drive = array(0)->common_drive_size_blocks - ld(n)->physical_drive_offset_block;
    EXPECT_GT(ld(n)->drive_size_blocks, 0u);
    // The footprint covers the size in whole strips on each drive.
    EXPECT_GE(ld(n)->physical_drive_blocks_per_drive * 3, ld(n)->drive_size_blocks);
    EXPECT_LT(ld(n)->physical_drive_blocks_per_drive * 3,
              ld(n)->drive_size_blocks + 3 * ld(n)->strip_size_blocks);
    EXPECT_EQ(ld(n)->physical_drive_blocks_per_drive % ld(n)->strip_size_blocks, 0u);
    EXPECT_LE(ld(n)->physical_drive_blocks_per_drive, free_per_drive);
    EXPECT_GT(ld(n)->physical_drive_blocks_per_drive + 2048, free_per_drive);
}

TEST_F(StagedRaidHost, NewDriveStripSizeRows) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_WORD n = NewDrive();
    // No level yet: the strip has no range to fall in.
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, 128),
              kCanSetEditableLogicalDriveStripSizeNoRAIDLevelSet);
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, kRAID5, 0, kFalse),
              kSetEditableLogicalDriveRAIDLevelOK);
    const VK_BYTE min = MinExp(n), max = MaxExp(n);
    ASSERT_GE(min, 9);
    ASSERT_GT(max, min + 1);
    const struct {
        const char* name;
        VK_DWORD blocks;
        VK_BYTE reason;
    } rows[] = {
        {"smallest", (1u << min) / 512, kCanSetEditableLogicalDriveStripSizeOK},
        {"largest", (1u << max) / 512, kCanSetEditableLogicalDriveStripSizeOK},
        {"power of two below", (1u << (min - 1)) / 512, kCanSetEditableLogicalDriveStripSizeValueOutOfRange},
        {"power of two above", (1u << (max + 1)) / 512, kCanSetEditableLogicalDriveStripSizeValueOutOfRange},
        {"zero", 0, kCanSetEditableLogicalDriveStripSizeValueOutOfRange},
        {"inside, not a power of two", 3u * (1u << min) / 512,
         kCanSetEditableLogicalDriveStripSizeInvalidValue},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, row.blocks), row.reason);
    }

    // Set: the size must be given again.
    ld(n)->flags |= kEditableLDSizeSet;
    ld(n)->drive_size_blocks = 1u << 20;
    ld(n)->physical_drive_blocks_per_drive = 1u << 19;
    const VK_DWORD strip = (1u << min) / 512;
    ASSERT_EQ(VK_SetEditableLogicalDriveStripSize(cda(), n, strip), kSetEditableLogicalDriveStripSizeOK);
    EXPECT_EQ(ld(n)->strip_size_blocks, strip);
    EXPECT_EQ(ld(n)->flags & (kEditableLDStripSizeSet | kEditableLDSizeSet), kEditableLDStripSizeSet);
    EXPECT_EQ(ld(n)->drive_size_blocks, 0u);
    EXPECT_EQ(ld(n)->physical_drive_blocks_per_drive, 0u);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, strip),
              kCanSetEditableLogicalDriveStripSizeAlreadySet);

    // A cache drive's strip follows its line; a locked drive is refused before that.
    ld(n)->flags |= kEditableLDLUCache;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, 2 * strip),
              kCanSetEditableLogicalDriveStripSizeAlreadySet);
    ld(n)->flags |= kEditableLDLocked;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), n, 2 * strip),
              kCanSetEditableLogicalDriveStripSizeLogicalDriveIsLocked);
}

// ---- Existing drives ----

TEST_F(StagedRaidHost, ExistingDriveReasonRows) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        std::function<void(StagedRaidHost&)> staged;
        VK_BYTE raid_reason;  // RAID 5 -> RAID 0 on drive 0
        VK_BYTE strip_reason; // drive 0's strip doubled
    } const rows[] = {
        {"allowed", {}, {}, kCanSetEditableLogicalDriveRAIDLevelOK, kCanSetEditableLogicalDriveStripSizeOK},
        {"no migrations",
         [](FirmwareState& st) { st.expansion.support_flags &= ~0x06u; },
         {},
         kCanSetEditableLogicalDriveRAIDLevelRAIDMigrationNotSupported,
         kCanSetEditableLogicalDriveStripSizeStripeMigrationNotSupported},
        {"array holds a new drive",
         {},
         [](StagedRaidHost& h) { h.array(0)->flags |= kEditableArrHasNewLD; },
         kCanSetEditableLogicalDriveRAIDLevelArrayHasUnsavedLogicalDrives,
         kCanSetEditableLogicalDriveStripSizeArrayHasUnsavedLogicalDrives},
        {"split-mirror array",
         {},
         [](StagedRaidHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; },
         kCanSetEditableLogicalDriveRAIDLevelNotDataArray,
         kCanSetEditableLogicalDriveStripSizeNotDataArray},
        {"a cache array makes LU caching enabled",
         {},
         [](StagedRaidHost& h) { h.array(0)->flags |= kEditableArrLUCache; },
         kCanSetEditableLogicalDriveRAIDLevelLUCachingEnabled,
         kCanSetEditableLogicalDriveStripSizeLUCachingEnabled},
        {"encrypted drive, controller locked",
         [](FirmwareState& st) {
             st.set_page("encryption", {0x01});
             st.encryption.boot_password_status = 0x2;
         },
         [](StagedRaidHost& h) { h.ld(0)->flags |= kEditableLDEncrypted; },
         kCanSetEditableLogicalDriveRAIDLevelControllerStatusNotOK,
         kCanSetEditableLogicalDriveStripSizeControllerStatusNotOK},
        {"queue full",
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         kCanSetEditableLogicalDriveRAIDLevelMaxTransformationsReached,
         kCanSetEditableLogicalDriveStripSizeMaxTransformationsReached},
        {"transformation memory too small",
         [](FirmwareState& st) { st.expansion.memory_kib = 1; },
         {},
         kCanSetEditableLogicalDriveRAIDLevelFullStripeSizeOverflow,
         kCanSetEditableLogicalDriveStripSizeFullStripeSizeOverflow},
        {"data not preservable",
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         kCanSetEditableLogicalDriveRAIDLevelDataPreservationNotAvailable,
         kCanSetEditableLogicalDriveStripSizeDataPreservationNotAvailable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(Controller(), row.live, row.staged));
        EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), 0, kRAID0, 0), row.raid_reason);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), 0, ld(0)->strip_size_blocks * 2),
                  row.strip_reason);
        StopController();
    }
}

TEST_F(StagedRaidHost, ExistingDriveSameLevelAndSameStripAreAlreadySet) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveRAIDLevel(cda(), 1, kRAID5, ld(1)->num_parity_groups),
              kCanSetEditableLogicalDriveRAIDLevelAlreadySet);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveStripSize(cda(), 1, ld(1)->strip_size_blocks),
              kCanSetEditableLogicalDriveStripSizeAlreadySet);
}

// RAID 5 -> RAID 0 over three drives: drive 0 needs two thirds of its footprint; the drives after it
// close up behind it, and all three carry a transformation.
TEST_F(StagedRaidHost, LevelMigrationShrinksTheFootprintAndPacksTheLaterDrives) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_QWORD size0 = ld(0)->drive_size_blocks;
    ASSERT_EQ(size0, 2 * kBlocks0);
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), 0, kRAID0, 0, kFalse),
              kSetEditableLogicalDriveRAIDLevelOK);
    EXPECT_EQ(ld(0)->RAID_level, kRAID0);
    EXPECT_EQ(ld(0)->drive_size_blocks, size0);
    const VK_QWORD footprint = ld(0)->physical_drive_blocks_per_drive;
    EXPECT_GE(footprint * 3, size0);
    EXPECT_LT(footprint, kBlocks0);
    EXPECT_EQ(ld(1)->physical_drive_offset_block,
              VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 0, footprint));
    EXPECT_EQ(
        ld(2)->physical_drive_offset_block,
        VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 0, ld(1)->physical_drive_offset_block + kBlocks1));
    EXPECT_LT(ld(1)->physical_drive_offset_block, kOffset1);
    for (VK_WORD n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        EXPECT_NE(ld(n)->flags & kEditableLDTransformation, 0u);
    }
}

// A new strip that keeps the footprint: nothing else moves, yet the drive is marked for its
// transformation.
TEST_F(StagedRaidHost, MigrationKeepingTheFootprintMovesNoOtherDrive) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_DWORD strip = ld(0)->strip_size_blocks;
    ASSERT_GT(strip, 1u);
    ASSERT_EQ(ld(0)->flags & kEditableLDTransformation, 0u);
    __VK_MigrateEditableLogicalDriveRAIDAndStripSize(cda(), 0, kRAID5, ld(0)->num_parity_groups, strip / 2);
    EXPECT_EQ(ld(0)->strip_size_blocks, strip / 2);
    EXPECT_EQ(ld(0)->physical_drive_blocks_per_drive, kBlocks0);
    EXPECT_EQ(ld(1)->physical_drive_offset_block, kOffset1);
    EXPECT_EQ(ld(2)->physical_drive_offset_block, kOffset2);
    EXPECT_NE(ld(0)->flags & kEditableLDTransformation, 0u);
    EXPECT_EQ(ld(1)->flags & kEditableLDTransformation, 0u);
}

} // namespace
