// Setting the size of staged logical drives against a simulated controller: the bounds a new drive
// may take, the reasons an existing drive's extension is refused, and the re-layout of the drives
// behind a resized one. New drives are staged directly, as the array and RAID setters leave them.
// Nothing here writes to the controller.
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Footprints of the two live logical drives of array 0; they sit back to back from offset 0.
constexpr VK_QWORD kFootprint0 = VK_QWORD{1} << 20, kFootprint1 = VK_QWORD{1} << 19;
// One cylinder of 32 sectors per track, the unit staged sizes are adjusted to.
constexpr VK_QWORD kCylinder = 32 * 255;

// An extension of the live drive 0 (2^21 blocks, 256 KiB strips on two usable drives): 9 x
// lcm(cylinder, full stripe), so it is stored as asked and its footprint is exact.
constexpr VK_QWORD kGrown = 9 * 261120;

VK_QWORD Cylinders(VK_QWORD blocks) {
    return blocks - blocks % kCylinder;
}

// Drives 0-2 hold array 0 with RAID 5 logical drives 0 and 1; drives 3-8 are unassigned. Every drive
// offers 2^24 usable blocks of 512 bytes.
FirmwareState Controller() {
    FirmwareState st;
    AddDrives(st, 9);
    st.identify.max_safe_full_stripe_mb = 16;
    FwLogicalDrive& first = st.add_configured_drive(0, {0, 1, 2}, kFootprint0, 0);
    first.fault_tolerance = 3;
    FwLogicalDrive& second = st.add_configured_drive(1, {0, 1, 2}, kFootprint1, kFootprint0);
    second.fault_tolerance = 3;
    return st;
}

constexpr VK_QWORD kReady =
    kEditableLDNewDrive | kEditableLDArraySet | kEditableLDRAIDSet | kEditableLDStripSizeSet;

class StagedSizeHost : public StagedConfigHost {
public:
    // A new array of three drives of 2^24 blocks, aligned to 2048 blocks.
    PEDITABLE_ARRAY StageArray(std::vector<VK_WORD> drives) {
        PEDITABLE_ARRAY a = FillArray(VK_CreateEditableArray(cda()), drives, kPhysicalDriveUsageData);
        a->common_drive_size_blocks = kDriveBlocks;
        a->alignment_size_blocks = 2048;
        return a;
    }
    // A new RAID 5 drive on `a` at `offset` with a 64 KiB strip and 32 sectors per track, no size.
    PEDITABLE_LOGICAL_DRIVE StageDrive(PEDITABLE_ARRAY a, VK_QWORD offset, VK_QWORD blocks_per_drive) {
        PEDITABLE_LOGICAL_DRIVE r = StageRecord(a, kReady);
        r->lu_cache_ld_number = 0xFFFF;
        r->RAID_level = kRAID5;
        r->num_parity_groups = 1;
        r->strip_size_blocks = 128;
        r->sectors_per_track = 32;
        r->block_size_bytes = 512;
        r->physical_drive_offset_block = offset;
        r->physical_drive_blocks_per_drive = blocks_per_drive;
        a->flags |= kEditableArrHasNewLD;
        return r;
    }
};

// ---- New drives ----

// RAID 5 on three drives: two usable. At offset 0 the whole 2^24 blocks per drive are free.
TEST_F(StagedSizeHost, NewDriveTakesExactlyItsCreatableBounds) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_LOGICAL_DRIVE d = StageDrive(StageArray({3, 4, 5}), 0, 0);
    const VK_WORD n = d->ld_number;
    const VK_QWORD smallest = Cylinders(32768);
    const VK_QWORD largest = Cylinders(2 * kDriveBlocks);
    const struct {
        const char* name;
        VK_BYTE type;
        VK_QWORD size;
        VK_BYTE reason;
    } rows[] = {
        {"one block below the smallest", kEditableLogicalDriveSizeBlocks, smallest - 1,
         kCanSetEditableLogicalDriveSizeRequestedSizeTooSmall},
        {"the smallest", kEditableLogicalDriveSizeBlocks, smallest, kCanSetEditableLogicalDriveSizeOK},
        {"the largest", kEditableLogicalDriveSizeBlocks, largest, kCanSetEditableLogicalDriveSizeOK},
        {"one block above the largest", kEditableLogicalDriveSizeBlocks, largest + 1,
         kCanSetEditableLogicalDriveSizeRequestedSizeTooLarge},
        {"the smallest in bytes", kEditableLogicalDriveSizeBytes, smallest * 512,
         kCanSetEditableLogicalDriveSizeOK},
        {"a byte short of the smallest", kEditableLogicalDriveSizeBytes, smallest * 512 - 1,
         kCanSetEditableLogicalDriveSizeRequestedSizeTooSmall},
        {"a byte past the largest's last block", kEditableLogicalDriveSizeBytes, (largest + 1) * 512,
         kCanSetEditableLogicalDriveSizeRequestedSizeTooLarge},
        {"an unknown size type", 2, smallest, kCanSetEditableLogicalDriveSizeInvalidSizeType},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), n, row.type, row.size), row.reason);
        EXPECT_FALSE(d->flags & kEditableLDSizeSet);
    }
    // Bytes need a block size to divide by.
    d->block_size_bytes = 0;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), n, kEditableLogicalDriveSizeBytes, smallest * 512),
              kCanSetEditableLogicalDriveSizeInvalidSizeType);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), n, kEditableLogicalDriveSizeBlocks, smallest),
              kCanSetEditableLogicalDriveSizeOK);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedSizeHost, NewDriveRefusals) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_LOGICAL_DRIVE d = StageDrive(StageArray({3, 4, 5}), 0, 0);
    const VK_WORD n = d->ld_number;
    const struct {
        const char* name;
        VK_QWORD clear, set;
        VK_BYTE reason;
    } rows[] = {
        {"locked", 0, kEditableLDLocked, kCanSetEditableLogicalDriveSizeLogicalDriveIsLocked},
        {"locked before no array", kEditableLDArraySet, kEditableLDLocked,
         kCanSetEditableLogicalDriveSizeLogicalDriveIsLocked},
        {"no array", kEditableLDArraySet, 0, kCanSetEditableLogicalDriveSizeNoArraySet},
        {"no RAID level", kEditableLDRAIDSet, 0, kCanSetEditableLogicalDriveSizeNoRAIDLevelSet},
        {"no strip", kEditableLDStripSizeSet, 0, kCanSetEditableLogicalDriveSizeNoStripSizeSet},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const VK_QWORD flags = d->flags;
        d->flags = (d->flags & ~row.clear) | row.set;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), n, kEditableLogicalDriveSizeBlocks, 1u << 20),
                  row.reason);
        EXPECT_EQ(VK_SetEditableLogicalDriveSize(cda(), n, kEditableLogicalDriveSizeBlocks, 1u << 20),
                  kSetEditableLogicalDriveSizeFailedUnknown);
        EXPECT_EQ(d->drive_size_blocks, 0u);
        d->flags = flags;
    }
    // A slot holding no drive has no array; its contents are never read.
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 9, kEditableLogicalDriveSizeBlocks, 1u << 20),
              kCanSetEditableLogicalDriveSizeNoArraySet);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0xFFFF, kEditableLogicalDriveSizeBlocks, 1u << 20),
              kCanSetEditableLogicalDriveSizeNoArraySet);
    EXPECT_EQ(VK_SetEditableLogicalDriveSize(cda(), 9, kEditableLogicalDriveSizeBlocks, 1u << 20),
              kSetEditableLogicalDriveSizeFailedUnknown);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, 1u << 20),
              kCanSetEditableLogicalDriveSizeNoEditableConfigCreated);
    EXPECT_EQ(VK_SetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, 1u << 20),
              kSetEditableLogicalDriveSizeFailedUnknown);
}

// Three new drives with gaps between them and distinct footprints: sizing the first packs the other
// two behind it, each at the next 2048-block boundary.
TEST_F(StagedSizeHost, SettingTheFirstNewDriveMovesTheLaterOnesBackToBack) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_ARRAY a = StageArray({3, 4, 5});
    PEDITABLE_LOGICAL_DRIVE first = StageDrive(a, 0, 0);
    PEDITABLE_LOGICAL_DRIVE second = StageDrive(a, 1u << 22, 3000);
    PEDITABLE_LOGICAL_DRIVE third = StageDrive(a, 1u << 20, 5000);
    // A size of 4 x lcm(cylinder, full stripe) in bytes: no adjustment, 130,560 blocks per drive.
    const VK_QWORD size = 4 * 65280;
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), first->ld_number, kEditableLogicalDriveSizeBytes,
                                             size * 512 + 511),
              kSetEditableLogicalDriveSizeOK);
    EXPECT_EQ(first->drive_size_blocks, size);
    EXPECT_EQ(first->physical_drive_blocks_per_drive, size / 2);
    EXPECT_EQ(first->physical_drive_offset_block, 0u);
    EXPECT_TRUE(first->flags & kEditableLDSizeSet);
    // 130,560 rounds up to 131,072; the drive at 2^20 came before the one at 2^22 and stays before it.
    EXPECT_EQ(third->physical_drive_offset_block, 131072u);
    EXPECT_EQ(second->physical_drive_offset_block, 131072u + 6144);
    // The next drive would start at the aligned end of the last.
    EXPECT_EQ(VK_GetEditableArrayNextLogicalDriveOffset(cda(), a->editable_array_number), 141312u);
    // Sizes adjust down to whole cylinders.
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), second->ld_number, kEditableLogicalDriveSizeBlocks,
                                             kCylinder * 5 + 17),
              kSetEditableLogicalDriveSizeOK);
    EXPECT_EQ(second->drive_size_blocks, kCylinder * 5);
    EXPECT_EQ(third->physical_drive_offset_block, 131072u);
    EXPECT_FALSE(AnyWrite());
}

// A new LU cache drive's smallest size is 16 GiB whatever its geometry; the controller's LU-cache
// memory leaves room for more than that.
TEST_F(StagedSizeHost, NewLUCacheDriveStartsAtSixteenGiB) {
    FirmwareState st = Controller();
    // LU cache supported with RAID 0 and 1, strips of 16 KiB to 256 KiB.
    st.set_page("lu_cache", {0x20 | 0x40 | 0x01 | 0x02,
                             0x00,
                             0x02,
                             0x00,
                             0x01,
                             0x00,
                             0x00,
                             0x10,
                             0x00,
                             0x00,
                             0x00,
                             0x00,
                             0x04,
                             0x00,
                             0x00,
                             0x40,
                             0x00,
                             0x00,
                             0x00,
                             0x06});
    st.cache.lu_cache_used = 1000000;
    st.cache.lu_cache_available = 9000000;
    st.cache.lu_cache_algorithms = {{1, 16, 1000, 1, 20, 30}, {2, 24, 2000, 2, 64, 64}};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    constexpr VK_QWORD k16GiBBlocks = 0x400000000ULL / 512;
    PEDITABLE_LOGICAL_DRIVE k = StageDrive(StageArray({3, 4, 5}), 0, 0);
    k->flags |= kEditableLDLUCache;
    k->RAID_level = kRAID0;
    k->lu_cache_algorithm = 2;
    k->lu_cache_line_size_blocks = 256;
    for (const VK_WORD sectors : {32, 63}) {
        SCOPED_TRACE(sectors);
        k->sectors_per_track = sectors;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), k->ld_number, kEditableLogicalDriveSizeBlocks,
                                                    k16GiBBlocks - 1),
                  kCanSetEditableLogicalDriveSizeRequestedSizeTooSmall);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), k->ld_number, kEditableLogicalDriveSizeBlocks,
                                                    k16GiBBlocks),
                  kCanSetEditableLogicalDriveSizeOK);
    }
}

// ---- Existing drives ----

TEST_F(StagedSizeHost, ExistingDriveGrowsAndPushesTheNextOneBack) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_LOGICAL_DRIVE d = ld(0);
    PEDITABLE_LOGICAL_DRIVE next = ld(1);
    ASSERT_EQ(d->drive_size_blocks, 2 * kFootprint0);
    ASSERT_EQ(next->physical_drive_offset_block, kFootprint0);
    const VK_QWORD own = d->drive_size_blocks;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, own),
              kCanSetEditableLogicalDriveSizeRequestedSizeNoSizeChange);
    // The live size of 2^21 blocks is no whole number of cylinders: its own size is no change, and
    // anything that adjusts below it (its own size rounded down, a block more) a shrink.
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, Cylinders(own)),
              kCanSetEditableLogicalDriveSizeRequestedSizeShrinkNotAllowed);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, own + 1),
              kCanSetEditableLogicalDriveSizeRequestedSizeShrinkNotAllowed);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, own - 1),
              kCanSetEditableLogicalDriveSizeRequestedSizeShrinkNotAllowed);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, own - kCylinder),
              kCanSetEditableLogicalDriveSizeRequestedSizeShrinkNotAllowed);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBytes, own * 512),
              kCanSetEditableLogicalDriveSizeRequestedSizeNoSizeChange);
    // Everything after the second drive is free; the largest extension adds it to the drive's size.
    const VK_QWORD largest = Cylinders(2 * (kDriveBlocks - kFootprint0 - kFootprint1)) + own;
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, largest + 1),
              kCanSetEditableLogicalDriveSizeRequestedSizeTooLarge);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, largest),
              kCanSetEditableLogicalDriveSizeOK);

    // A whole number of cylinders and full stripes: stored as asked.
    const VK_QWORD grown = kGrown;
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, grown),
              kSetEditableLogicalDriveSizeOK);
    EXPECT_EQ(d->drive_size_blocks, grown);
    EXPECT_EQ(d->physical_drive_blocks_per_drive, grown / 2);
    EXPECT_EQ(d->physical_drive_offset_block, 0u);
    EXPECT_EQ(next->physical_drive_offset_block,
              VK_GetNextEditableLogicalDriveAlignedOffset(cda(), 0, grown / 2));
    EXPECT_GE(next->physical_drive_offset_block, grown / 2);
    // Both now differ from the controller's records and wait for a transformation.
    EXPECT_TRUE(d->flags & kEditableLDSizeChange);
    EXPECT_TRUE(d->flags & kEditableLDExtentGrow);
    EXPECT_TRUE(next->flags & kEditableLDOffsetUp);
    EXPECT_FALSE(next->flags & kEditableLDSizeChange);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedSizeHost, ExistingDriveRefusals) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        std::function<void(StagedSizeHost&)> staged;
        VK_BYTE type;
        VK_BYTE reason;
    };
    const Row rows[] = {
        {"no extension",
         [](FirmwareState& st) { st.expansion.support_flags = 0x27; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeLogicalDriveExtensionNotSupported},
        {"LU caching on another array",
         {},
         [](StagedSizeHost& h) {
             h.StageArray({3, 4, 5})->flags |= kEditableArrLUCache;
         },
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeLUCachingEnabled},
        {"unknown size type", {}, {}, 2, kCanSetEditableLogicalDriveSizeInvalidSizeType},
        {"controller locked by encryption",
         [](FirmwareState& st) {
             st.set_page("encryption", {0x01});
             st.encryption.boot_password_status = 0x2;
         },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeControllerStatusNotOK},
        {"split-mirror array",
         {},
         [](StagedSizeHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; },
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeNotDataArray},
        {"no transformation memory",
         [](FirmwareState& st) { st.expansion.memory_kib = 0; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeExceedsTransformationMemory},
        {"full stripe past the safe limit",
         [](FirmwareState& st) { st.identify.max_safe_full_stripe_mb = 0; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeNotAllowed},
        {"controller queue full",
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeMaxTransformationsReached},
        // One place left: the drive itself and the drive it pushes back need two.
        {"room for one of two",
         [](FirmwareState& st) { st.expansion.queued = 63; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeMaxTransformationsReached},
        {"room for both",
         [](FirmwareState& st) { st.expansion.queued = 62; },
         {},
         kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeOK},
        // The pushed drive already waits for a transformation and is counted once.
        {"room for one, the other already queued", [](FirmwareState& st) { st.expansion.queued = 62; },
         [](StagedSizeHost& h) { h.ld(1)->flags |= kEditableLDOffsetUp; }, kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeOK},
        {"no room, the other already queued", [](FirmwareState& st) { st.expansion.queued = 63; },
         [](StagedSizeHost& h) { h.ld(1)->flags |= kEditableLDOffsetUp; }, kEditableLogicalDriveSizeBlocks,
         kCanSetEditableLogicalDriveSizeMaxTransformationsReached},
        {"in bytes", {}, {}, kEditableLogicalDriveSizeBytes, kCanSetEditableLogicalDriveSizeOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(Controller(), row.live, row.staged));
        const VK_QWORD own = ld(0)->drive_size_blocks;
        const VK_QWORD grown = kGrown * (row.type == kEditableLogicalDriveSizeBytes ? 512 : 1);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, row.type, grown), row.reason);
        const bool allowed = row.reason == kCanSetEditableLogicalDriveSizeOK;
        EXPECT_EQ(VK_SetEditableLogicalDriveSize(cda(), 0, row.type, grown),
                  allowed ? kSetEditableLogicalDriveSizeOK : kSetEditableLogicalDriveSizeFailedUnknown);
        EXPECT_EQ(ld(0)->drive_size_blocks, allowed ? kGrown : own);
        EXPECT_EQ(ld(1)->physical_drive_offset_block == kFootprint0, !allowed);
        EXPECT_FALSE(AnyWrite());
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

} // namespace
