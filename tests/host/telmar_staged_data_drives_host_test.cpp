// Adding data drives to staged arrays against a simulated controller: the drives that may join,
// the reasons they are refused, and the geometry the array and its logical drives take. Nothing here
// writes to the controller.
#include <functional>
#include <vector>

#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Array 0: RAID 1 logical drive 0 on drives 0-1. Array 1: RAID 1 logical drive 1 on drives 2-3.
// Drives 8-11 unassigned, each larger than the one before; drive 11 has 4096-byte blocks. The
// controller migrates RAID levels and allows 16 MiB full stripes.
FirmwareState TwoMirrors() {
    FirmwareState st;
    ReportSEDs(st);
    st.identify.max_safe_full_stripe_mb = 16;
    AddRisingDrives(st, {0, 1, 2, 3, 8, 9, 10, 11});
    st.find_drive(11)->block_size = 4096;
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(1, {2, 3}, 1u << 20).fault_tolerance = 2;
    return st;
}

using StagedDataDrivesHost = StagedConfigHost;

TEST_F(StagedDataDrivesHost, TheFirstDrivesOfANewArraySetItsGeometry) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoMirrors()));
    const VK_WORD a = VK_CreateEditableArray(cda());
    ASSERT_EQ(a, 2);
    ASSERT_EQ(CanAddData(a, {9, 8}), kCanAddEditableArrayDataDrivesOK);
    ASSERT_EQ(AddData(a, {9, 8}), kAddEditableArrayDataDrivesOK);
    EXPECT_EQ(DataDrives(a), (std::vector<VK_WORD>{9, 8}));
    EXPECT_EQ(array(a)->common_block_size, 512);
    EXPECT_EQ(array(a)->common_drive_type, VK_GetPhysicalDriveBasicInfo(cda(), 9));
    EXPECT_EQ(array(a)->alignment_size_blocks, VK_lcm(_VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 9),
                                                      _VK_GetPhysicalDriveAlignmentSizeBlocks(cda(), 8)));
    // The smaller of the two, drive 8.
    EXPECT_EQ(array(a)->common_drive_size_blocks,
              _VK_CDA(cda())->pd_record_list[8].pd_config_information.usable_size_blocks);
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageData);
    EXPECT_EQ(Usage(9), kPhysicalDriveUsageData);
    // A 4096-byte drive does not join a 512-byte array.
    EXPECT_EQ(CanAddData(a, {11}), kCanAddEditableArrayDataDrivesIncompatibleBlockSize);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedDataDrivesHost, MirrorsGrowIntoRAID10OrRAID5) {
    struct Row {
        std::vector<VK_WORD> added;
        VK_BYTE level;
        VK_WORD usable;
    } const rows[] = {
        {{8, 9}, kRAID10, 2},
        {{8}, kRAID5, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.added.size());
        ASSERT_NO_FATAL_FAILURE(Start(TwoMirrors()));
        const VK_QWORD size = ld(0)->drive_size_blocks;
        ASSERT_EQ(CanAddData(0, row.added), kCanAddEditableArrayDataDrivesOK);
        // The check alone changes nothing.
        EXPECT_EQ(ld(0)->RAID_level, kRAID1);
        ASSERT_EQ(AddData(0, row.added), kAddEditableArrayDataDrivesOK);
        EXPECT_EQ(ld(0)->RAID_level, row.level);
        EXPECT_EQ(ld(0)->physical_drive_offset_block, 0u);
        EXPECT_EQ(ld(0)->physical_drive_blocks_per_drive,
                  __VK_GetLogicalDriveUsageBlocks(size, ld(0)->strip_size_blocks, row.usable));
        EXPECT_TRUE(ld(0)->flags & kEditableLDDrivesAdded);
        EXPECT_TRUE(ld(0)->flags & kEditableLDGeometryChange);
        EXPECT_EQ(ld(1)->RAID_level, kRAID1);
        EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 1);
        StopController();
    }
}

TEST_F(StagedDataDrivesHost, AddReasonRows) {
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        std::vector<VK_WORD> list;
        VK_BYTE reason;
    };
    // A new array in slot 2, for the rows that need one.
    const Staged fresh = [](StagedDataDrivesHost& h) { VK_CreateEditableArray(h.cda()); };
    const Row rows[] = {
        {"allowed", {}, {}, 0, {8, 9}, kCanAddEditableArrayDataDrivesOK},
        {"no array in the slot", {}, {}, 5, {8}, kCanAddEditableArrayDataDrivesInvalidArray},
        {"empty list", {}, {}, 0, {}, kCanAddEditableArrayDataDrivesInvalidDriveList},
        {"a drive twice", {}, {}, 0, {8, 9, 8}, kCanAddEditableArrayDataDrivesDuplicateDrivesInList},
        {"controller locked, a drive twice: the list answers first",
         Locked,
         {},
         0,
         {8, 9, 8},
         kCanAddEditableArrayDataDrivesDuplicateDrivesInList},
        {"drive 384", {}, {}, 0, {384}, kCanAddEditableArrayDataDrivesInvalidDrive},
        {"4096-byte drive", {}, {}, 0, {11}, kCanAddEditableArrayDataDrivesIncompatibleBlockSize},
        {"the other side of the boot connector",
         [](FirmwareState& st) { st.find_drive(8)->misc_drive_flags = 0x8000; },
         {},
         0,
         {8},
         kCanAddEditableArrayDataDrivesIncompatibleConnectors},
        {"too many",
         [](FirmwareState& st) { st.identify.max_drives_per_logical_drive = 3; },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesMaxDataDriveCountReached},
        {"no SSD into an LU cache array",
         {},
         [&](StagedDataDrivesHost& h) {
             fresh(h);
             h.array(2)->flags |= kEditableArrLUCache;
         },
         2,
         {8},
         kCanAddEditableArrayDataDrivesIncompatibleDriveType},
        {"a drive predicted to fail, spares activated on prediction",
         PredictedToFail(8),
         [](StagedDataDrivesHost& h) {
             h.config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
         },
         0,
         {9, 8},
         kCanAddEditableArrayDataDrivesDriveIsPredictiveFailure},
        {"a drive predicted to fail, spares activated on failure",
         PredictedToFail(8),
         {},
         0,
         {9, 8},
         kCanAddEditableArrayDataDrivesOK},
        {"another array's data drive", {}, {}, 0, {2}, kCanAddEditableArrayDataDrivesDriveIsNotUnassigned},
        {"every drive examined, the first answer kept",
         {},
         {},
         0,
         {2, 384},
         kCanAddEditableArrayDataDrivesDriveIsNotUnassigned},
        {"every drive examined, the first answer kept (other order)",
         {},
         {},
         0,
         {384, 2},
         kCanAddEditableArrayDataDrivesInvalidDrive},
        {"OPAL beside a plain drive under SED encryption",
         [](FirmwareState& st) { st.find_drive(9)->feature_flags = 0x1 | 0x2000; },
         [&](StagedDataDrivesHost& h) {
             fresh(h);
             h.config()->controller_sed_encryption_status = 0x20;
         },
         2,
         {8, 9},
         kCanAddEditableArrayDataDrivesIncompatibleSEDType},
        {"SED array awaiting the adapter password",
         [](FirmwareState& st) {
             st.find_drive(8)->feature_flags = st.find_drive(9)->feature_flags = 0x1 | 0x2000;
         },
         [&](StagedDataDrivesHost& h) {
             fresh(h);
             h.config()->controller_sed_encryption_status = 0x20 | 0x40;
         },
         2,
         {8, 9},
         kCanAddEditableArrayDataDrivesWaitingOnAdapterPassword},
        {"SED array awaiting the master key",
         [](FirmwareState& st) {
             st.find_drive(8)->feature_flags = st.find_drive(9)->feature_flags = 0x1 | 0x2000;
         },
         [&](StagedDataDrivesHost& h) {
             fresh(h);
             h.config()->controller_sed_encryption_status = 0x20 | 0x100;
         },
         2,
         {8, 9},
         kCanAddEditableArrayDataDrivesWaitingOnMasterKey},
        {"one drive cannot join two parity groups alike",
         [](FirmwareState& st) {
             AddRisingDrives(st, {4, 5, 6, 7, 12, 13});
             FwLogicalDrive& r50 = st.add_configured_drive(2, {4, 5, 6, 7, 12, 13}, 1u << 20);
             r50.fault_tolerance = 3;
             r50.parity_groups = 2;
         },
         {},
         2,
         {8},
         kCanAddEditableArrayDataDrivesInvalidDriveCount},
        {"two drives join a RAID 50 of two groups, one to each",
         [](FirmwareState& st) {
             AddRisingDrives(st, {4, 5, 6, 7, 12, 13});
             FwLogicalDrive& r50 = st.add_configured_drive(2, {4, 5, 6, 7, 12, 13}, 1u << 20);
             r50.fault_tolerance = 3;
             r50.parity_groups = 2;
         },
         {},
         2,
         {8, 9},
         kCanAddEditableArrayDataDrivesOK},
        {"unlocked logical drive",
         {},
         [](StagedDataDrivesHost& h) { h.ld(0)->flags &= ~kEditableLDLocked; },
         0,
         {8},
         kCanAddEditableArrayDataDrivesArrayContainsUnsavedLogicalDrives},
        {"a logical drive staged to move to another array",
         {},
         [](StagedDataDrivesHost& h) { h.ld(0)->flags |= kEditableLDArrayMove; },
         0,
         {8},
         kCanAddEditableArrayDataDrivesArrayStatusNotOK},
        {"no RAID migration",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2B; },
         {},
         0,
         {8},
         kCanAddEditableArrayDataDrivesNotSupported},
        {"no expansion",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2E; },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesNotSupported},
        {"LU caching staged on another array",
         {},
         [](StagedDataDrivesHost& h) { h.StageLUCaching(); },
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesLUCachingEnabled},
        {"LU caching staged, no expansion: the cache answers first",
         [](FirmwareState& st) { st.expansion.support_flags = 0x2E; },
         [](StagedDataDrivesHost& h) { h.StageLUCaching(); },
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesLUCachingEnabled},
        {"controller queue full",
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesMaxTransformationsReached},
        {"controller not OK",
         {},
         [](StagedDataDrivesHost& h) { h.ControllerNotOK(); },
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesControllerStatusNotOK},
        {"controller locked", Locked, {}, 0, {8, 9}, kCanAddEditableArrayDataDrivesControllerStatusNotOK},
        {"cache disabled, no powerless transformations",
         CacheDisabledOnBackupPower,
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesControllerCacheStatusNotOK},
        {"cache disabled, powerless transformations",
         [](FirmwareState& st) {
             CacheDisabledOnBackupPower(st);
             st.expansion.support_flags = 0x2F;
         },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesOK},
        {"RAID 5 stripe unsafe",
         [](FirmwareState& st) { st.identify.max_safe_full_stripe_mb = 0; },
         {},
         0,
         {8},
         kCanAddEditableArrayDataDrivesFullStripeSizeOverflow},
        {"transformation memory too small",
         [](FirmwareState& st) { st.expansion.memory_kib = 1; },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesExceedsTransformationMemory},
        {"data not preservable without backup power",
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         0,
         {8, 9},
         kCanAddEditableArrayDataDrivesDataPreservationNotAvailable},
        {"split-mirror array",
         {},
         [](StagedDataDrivesHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; },
         0,
         {8},
         kCanAddEditableArrayDataDrivesNotDataArray},
        {"LU cache array that is not new",
         {},
         [](StagedDataDrivesHost& h) { h.array(0)->flags |= kEditableArrLUCache; },
         0,
         {8},
         kCanAddEditableArrayDataDrivesIncompatibleDriveType},
        {"an unsaved logical drive beside the existing one",
         {},
         [](StagedDataDrivesHost& h) { h.array(0)->flags |= kEditableArrHasNewLD; },
         0,
         {8},
         kCanAddEditableArrayDataDrivesHasUnsavedLogicalDrives},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(TwoMirrors(), row.live, row.staged));
        const VK_WORD before =
            row.array < 64 && array(row.array) != nullptr ? array(row.array)->data_drive_count : 0;
        EXPECT_EQ(CanAddData(row.array, row.list), row.reason);
        const bool allowed = row.reason == kCanAddEditableArrayDataDrivesOK;
        EXPECT_EQ(AddData(row.array, row.list),
                  allowed ? kAddEditableArrayDataDrivesOK : kAddEditableArrayDataDrivesFailedUnknown);
        if (!allowed && row.array < 64 && array(row.array) != nullptr) {
            EXPECT_EQ(array(row.array)->data_drive_count, before);
        }
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
}

TEST_F(StagedDataDrivesHost, AddableDrivesOfANewArray) {
    FirmwareState st = TwoMirrors();
    st.find_drive(10)->feature_flags = 0x1 | 0x2000 | 0x20; // a locked OPAL drive
    st.add_drive(12, 2).block_size = 520;                   // not configurable here
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    const VK_WORD a = VK_CreateEditableArray(cda());
    auto addable = [&](VK_WORD n) {
        std::vector<VK_WORD> out;
        for (VK_WORD pd = VK_EnumerateEditableArrayAddablePhysicalDrives(cda(), n, 0xFFFF); pd != 0xFFFF;
             pd = VK_EnumerateEditableArrayAddablePhysicalDrives(cda(), n, pd)) {
            out.push_back(pd);
        }
        return out;
    };
    // Without SED encryption the locked drive passes; 4096-byte drive 11 is not configurable here.
    EXPECT_EQ(addable(a), (std::vector<VK_WORD>{8, 9, 10}));
    config()->controller_sed_encryption_status = 0x20;
    array(a)->common_sed_type = 2;
    EXPECT_EQ(addable(a), std::vector<VK_WORD>{});
    array(a)->common_sed_type = 1;
    EXPECT_EQ(addable(a), (std::vector<VK_WORD>{8, 9}));
    // Array 0 takes only drives that match it.
    config()->controller_sed_encryption_status = 0;
    EXPECT_EQ(addable(0), (std::vector<VK_WORD>{8, 9, 10}));
    EXPECT_EQ(addable(9), std::vector<VK_WORD>{});
}

} // namespace
