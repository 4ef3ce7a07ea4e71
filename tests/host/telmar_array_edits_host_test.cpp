// Removing data drives from staged arrays against a simulated controller: the reasons a removal is
// refused, the level and geometry the array's logical drives take, and where the drives go. Nothing
// here writes to the controller.
#include <functional>
#include <vector>

#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Array 0: RAID 10 logical drive 0 on drives 0-3. Array 1: RAID 50 in two groups, logical drive 1
// on drives 4-9. Array 2: RAID 0 logical drives 2 and 3 on drives 10-12. Drives 13-14 unassigned.
// Every drive is a little larger than the one before it.
FirmwareState ThreeArrays(std::uint32_t raid0_size = 6u << 20) {
    FirmwareState st;
    st.identify.max_safe_full_stripe_mb = 16;
    AddRisingDrives(st, 15);
    st.add_configured_drive(0, {0, 1, 2, 3}, 1u << 20).fault_tolerance = 2;
    auto& r50 = st.add_configured_drive(1, {4, 5, 6, 7, 8, 9}, 1u << 20);
    r50.fault_tolerance = 3;
    r50.parity_groups = 2;
    st.add_configured_drive(2, {10, 11, 12}, raid0_size).fault_tolerance = 0;
    st.add_configured_drive(3, {10, 11, 12}, raid0_size, raid0_size).fault_tolerance = 0;
    return st;
}

using ArrayEditsHost = StagedConfigHost;

TEST_F(ArrayEditsHost, RemovalReasonRows) {
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        std::vector<VK_WORD> list;
        VK_BYTE shrink;
        VK_BYTE reason;
    };
    // Array 3: a new array holding drives 13 and 14 and no logical drive.
    const Staged fresh_pair = [](ArrayEditsHost& h) {
        const VK_WORD a = VK_CreateEditableArray(h.cda());
        const VK_WORD pds[] = {13, 14};
        ASSERT_EQ(VK_AddEditableArrayDataDrives(h.cda(), a, pds, 2, kExpandTypeAuto),
                  kAddEditableArrayDataDrivesOK);
    };
    const Row rows[] = {
        {"two from the RAID 10", {}, {}, 0, {0, 1}, kShrinkTypeAuto, kCanRemoveEditableArrayDataDrivesOK},
        {"no array in the slot",
         {},
         {},
         7,
         {0},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidArray},
        {"array number past the table",
         {},
         {},
         64,
         {0},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidArray},
        {"empty list", {}, {}, 0, {}, kShrinkTypeAuto, kCanRemoveEditableArrayDataDrivesInvalidDriveList},
        {"a drive twice",
         {},
         {},
         0,
         {0, 1, 0},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesDuplicateDrivesInList},
        {"controller locked, a drive twice: the lock answers first",
         Locked,
         {},
         0,
         {0, 1, 0},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesControllerStatusNotOK},
        {"a drive of another array",
         {},
         {},
         0,
         {0, 4},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDrive},
        {"an unassigned drive",
         {},
         {},
         0,
         {13},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDrive},
        {"a drive number past the table",
         {},
         {},
         0,
         {384},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDrive},
        {"every drive of an array with logical drives",
         {},
         {},
         0,
         {0, 1, 2, 3},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDriveCount},
        {"three from the RAID 10 leave one drive",
         {},
         {},
         0,
         {0, 1, 2},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDriveCount},
        {"one from the RAID 10 leaves an odd count",
         {},
         {},
         0,
         {3},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidDriveCount},
        {"RAID 50 in two groups without a shrink type",
         {},
         {},
         1,
         {9},
         0,
         kCanRemoveEditableArrayDataDrivesInvalidShrinkType},
        {"RAID 50 in two groups with shrink type 4",
         {},
         {},
         1,
         {9},
         4,
         kCanRemoveEditableArrayDataDrivesInvalidShrinkType},
        {"a RAID 50 of 12 drives in three groups loses one group",
         [](FirmwareState& st) {
             AddRisingDrives(st, {15, 16, 17, 18, 19, 20});
             auto& r50 = st.add_configured_drive(1, {4, 5, 6, 7, 8, 9, 15, 16, 17, 18, 19, 20}, 1u << 20);
             r50.fault_tolerance = 3;
             r50.parity_groups = 3;
         },
         {},
         1,
         {4, 5, 6, 7},
         kShrinkTypeRemoveParityGroups,
         kCanRemoveEditableArrayDataDrivesOK},
        {"RAID 0 logical drives no longer fit on two drives",
         {},
         {},
         2,
         {12},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotEnoughSpaceForLogicalDrives},
        {"every drive of an array without logical drives",
         {},
         fresh_pair,
         3,
         {13, 14},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesOK},
        {"every drive of an array with a spare",
         {},
         [](ArrayEditsHost& h) {
             ASSERT_EQ(VK_AddEditableArraySpareDrive(h.cda(), 0, kSpareDriveTypeDedicated, 13),
                       kAddEditableSpareDriveOK);
         },
         0,
         {0, 1, 2, 3},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesInvalidSpareConfiguration},
        {"unlocked logical drive",
         {},
         [](ArrayEditsHost& h) { h.ld(0)->flags &= ~kEditableLDLocked; },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesArrayContainsUnsavedLogicalDrives},
        {"a logical drive staged to move to another array",
         {},
         [](ArrayEditsHost& h) { h.ld(0)->flags |= kEditableLDArrayMove; },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesArrayStatusNotOK},
        {"split-mirror array",
         {},
         [](ArrayEditsHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotDataArray},
        {"LU cache array that is not new",
         {},
         [](ArrayEditsHost& h) { h.array(0)->flags |= kEditableArrLUCache; },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotDataArray},
        {"controller locked",
         Locked,
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesControllerStatusNotOK},
        {"transformation memory too small",
         [](FirmwareState& st) { st.expansion.memory_kib = 1; },
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesExceedsTransformationMemory},
        {"data not preservable without backup power",
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesDataPreservationNotAvailable},
        {"RAID 5 stripe unsafe",
         [](FirmwareState& st) {
             st.find_configured_drive(0)->fault_tolerance = 3;
             st.identify.max_safe_full_stripe_mb = 0;
         },
         {},
         0,
         {3},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotAllowed},
        {"RAID 5 stripe safe",
         [](FirmwareState& st) { st.find_configured_drive(0)->fault_tolerance = 3; },
         {},
         0,
         {3},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesOK},
        {"no expansion",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2E; },
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotSupported},
        {"no expansion, no logical drive affected",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2E; },
         fresh_pair,
         3,
         {14},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesOK},
        {"LU caching staged on another array",
         {},
         [](ArrayEditsHost& h) { h.StageLUCaching(); },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesLUCachingEnabled},
        {"LU caching staged, no expansion: the expansion answers first",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2E; },
         [](ArrayEditsHost& h) { h.StageLUCaching(); },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesNotSupported},
        {"controller queue full",
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesMaxTransformationsReached},
        {"controller queue full but for one",
         [](FirmwareState& st) { st.expansion.queued = 63; },
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesOK},
        {"controller not OK",
         {},
         [](ArrayEditsHost& h) { h.ControllerNotOK(); },
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesControllerStatusNotOK},
        {"cache disabled, no powerless transformations",
         CacheDisabledOnBackupPower,
         {},
         0,
         {0, 1},
         kShrinkTypeAuto,
         kCanRemoveEditableArrayDataDrivesControllerCacheStatusNotOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(ThreeArrays(), row.live, row.staged));
        const std::vector<VK_WORD> before = row.array < kMaxArraysSupported && array(row.array) != nullptr
                                                ? DataDrives(row.array)
                                                : std::vector<VK_WORD>{};
        EXPECT_EQ(CanRemoveData(row.array, row.list, row.shrink), row.reason);
        const VK_BYTE done = RemoveData(row.array, row.list, row.shrink);
        if (row.reason == kCanRemoveEditableArrayDataDrivesOK) {
            EXPECT_EQ(done, kRemoveEditableArrayDataDrivesOK);
        } else {
            EXPECT_EQ(done, kRemoveEditableArrayDataDrivesFailedUnknown);
            if (!before.empty()) {
                EXPECT_EQ(DataDrives(row.array), before); // a refused removal changes nothing
            }
        }
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
}

TEST_F(ArrayEditsHost, TwoDrivesLeaveARAID10OfFourAsRAID1) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    const VK_QWORD size = ld(0)->drive_size_blocks;
    ASSERT_EQ(CanRemoveData(0, {0, 1}), kCanRemoveEditableArrayDataDrivesOK);
    // The check alone changes nothing.
    EXPECT_EQ(ld(0)->RAID_level, kRAID10);
    EXPECT_EQ(DataDrives(0), (std::vector<VK_WORD>{0, 1, 2, 3}));
    ASSERT_EQ(RemoveData(0, {0, 1}), kRemoveEditableArrayDataDrivesOK);
    EXPECT_EQ(ld(0)->RAID_level, kRAID1);
    // Each removed drive's place is taken by the last entry.
    EXPECT_EQ(DataDrives(0), (std::vector<VK_WORD>{3, 2}));
    EXPECT_EQ(ld(0)->physical_drive_offset_block, 0u);
    EXPECT_EQ(ld(0)->physical_drive_blocks_per_drive,
              __VK_GetLogicalDriveUsageBlocks(size, ld(0)->strip_size_blocks, 1));
    // Drives that were data on the controller stay spoken for until the commit.
    EXPECT_EQ(Usage(0), kPhysicalDriveUsageTransientData);
    EXPECT_EQ(Usage(1), kPhysicalDriveUsageTransientData);
    EXPECT_EQ(Usage(2), kPhysicalDriveUsageData);
    // The smallest remaining drive is now drive 2.
    EXPECT_EQ(array(0)->common_drive_size_blocks,
              _VK_CDA(cda())->pd_record_list[2].pd_config_information.usable_size_blocks);
    EXPECT_TRUE(ld(0)->flags & kEditableLDGeometryChange);
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 1);
    // The other arrays are untouched.
    EXPECT_EQ(ld(1)->RAID_level, kRAID50);
    EXPECT_EQ(DataDrives(1).size(), 6u);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(ArrayEditsHost, RemainingLogicalDrivesArePackedOnTheLcmOfTheRemainingAlignments) {
    // Array 2 keeps drives 10 and 11 with RAID 0 drives that fit on two.
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays(1u << 20)));
    const VK_WORD a = VK_GetEditableLogicalDriveArray(cda(), 2);
    ASSERT_NE(a, kInvalidArrayNumber);
    const VK_QWORD alignment = VK_lcm(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 10),
                                      _VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 11));
    ASSERT_EQ(CanRemoveData(a, {12}), kCanRemoveEditableArrayDataDrivesOK);
    ASSERT_EQ(RemoveData(a, {12}), kRemoveEditableArrayDataDrivesOK);
    EXPECT_EQ(array(a)->alignment_size_blocks, alignment);
    const VK_WORD first = ld(2)->physical_drive_offset_block < ld(3)->physical_drive_offset_block ? 2 : 3;
    const VK_WORD second = first == 2 ? 3 : 2;
    EXPECT_EQ(ld(first)->physical_drive_offset_block, 0u);
    // Each RAID 0 drive now spreads over two drives.
    EXPECT_EQ(ld(first)->physical_drive_blocks_per_drive,
              __VK_GetLogicalDriveUsageBlocks(ld(first)->drive_size_blocks, ld(first)->strip_size_blocks, 2));
    const VK_QWORD end = ld(first)->physical_drive_blocks_per_drive;
    EXPECT_EQ(ld(second)->physical_drive_offset_block, (end + alignment - 1) / alignment * alignment);
    EXPECT_EQ(ld(second)->physical_drive_offset_block % alignment, 0u);
}

TEST_F(ArrayEditsHost, ADriveStagedIntoTheArrayLeavesUnassigned) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    const VK_WORD pds[] = {13, 14};
    ASSERT_EQ(VK_AddEditableArrayDataDrives(cda(), 0, pds, 2, kExpandTypeAuto),
              kAddEditableArrayDataDrivesOK);
    ASSERT_EQ(Usage(13), kPhysicalDriveUsageData);
    ASSERT_EQ(CanRemoveData(0, {13, 14}), kCanRemoveEditableArrayDataDrivesOK);
    ASSERT_EQ(RemoveData(0, {14, 13}), kRemoveEditableArrayDataDrivesOK);
    EXPECT_EQ(Usage(13), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(Usage(14), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(DataDrives(0), (std::vector<VK_WORD>{0, 1, 2, 3}));
    // Back on four drives: the level the addition promoted to stays, the removal only demotes at two.
    EXPECT_EQ(ld(0)->physical_drive_blocks_per_drive,
              __VK_GetLogicalDriveUsageBlocks(
                  ld(0)->drive_size_blocks, ld(0)->strip_size_blocks,
                  __VK_GetUsableDriveCount(4, ld(0)->RAID_level, ld(0)->num_parity_groups)));
}

TEST_F(ArrayEditsHost, MixedSEDTypesLeftBehindAreRefusedOnlyWithSEDEncryptionOn) {
    struct Row {
        const char* name;
        VK_QWORD sed_status;
        std::vector<VK_WORD> list;
        VK_BYTE reason;
    } const rows[] = {
        {"OPAL and non-SED stay, encryption on",
         0x20,
         {0, 1},
         kCanRemoveEditableArrayDataDrivesMixedSEDTypes},
        {"the OPAL drive goes, encryption on", 0x20, {3, 2}, kCanRemoveEditableArrayDataDrivesOK},
        {"OPAL and non-SED stay, encryption off", 0, {0, 1}, kCanRemoveEditableArrayDataDrivesOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = ThreeArrays();
        st.set_page("drive", {0x08, 0x58, 0x03});       // self-encrypting drives reported
        st.find_drive(3)->feature_flags = 0x1 | 0x2000; // an OPAL drive
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        config()->controller_sed_encryption_status = row.sed_status;
        EXPECT_EQ(CanRemoveData(0, row.list), row.reason);
        StopController();
    }
}

} // namespace
