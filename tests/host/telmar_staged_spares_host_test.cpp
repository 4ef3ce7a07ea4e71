// Staged spares of an array and the deletion of a staged array, against a simulated controller.
// Nothing here writes to the controller: the commit carries these out.
#include <functional>
#include <vector>

#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Array 0: RAID 1 logical drive 0 on drives 0-1 with auto-replace spare 6. Array 1: RAID 1 logical
// drive 1 on drives 2-3 with dedicated spare 7. Array 2: RAID 0 logical drive 2 on drives 4-5.
// Drives 8-10 unassigned, 10 smaller than the rest.
FirmwareState ThreeArrays() {
    FirmwareState st;
    ReportSEDs(st);
    AddRisingDrives(st, 11);
    st.find_drive(10)->total_blocks = (1u << 20) + kReserved;
    FwLogicalDrive& a = st.add_configured_drive(0, {0, 1}, 1u << 20);
    a.fault_tolerance = 2;
    a.spares = {6};
    a.more_unit_flags = 0x01; // auto-replace spares
    FwLogicalDrive& b = st.add_configured_drive(1, {2, 3}, 1u << 20);
    b.fault_tolerance = 2;
    b.spares = {7};
    st.add_configured_drive(2, {4, 5}, 1u << 20);
    return st;
}

// Array 1 as an LU cache pair: data drive 1 cached, write-through, by drive 3 on drive 9.
void CachedArray1(FirmwareState& st) {
    FwLogicalDrive& cache = AddLUCache(st, 1, 3, {9}, 1u << 18);
    cache.lu_cache_bits = 0x01;
    cache.lu_cache_write_policy = 2;
}

// Drive feature flags: an OPAL self-encrypting drive, and one that is locked.
constexpr std::uint32_t kOPAL = 0x1 | 0x2000, kLockedSED = 0x20;

// Array 1's data drives and spare, and unassigned drive 8, are OPAL drives.
void OPALArray1(FirmwareState& st) {
    for (const std::uint16_t pd : {2, 3, 7, 8}) {
        st.find_drive(pd)->feature_flags = kOPAL;
    }
}

// The RAID feature page without auto-replace spares offered.
void WithoutAutoReplace(FirmwareState& st) {
    st.set_page("raid", {0x02, 0x0C, 0x04, 0x00, 0x0F, 0x04, 0x00, 0x00});
}

class StagedSparesHost : public StagedConfigHost {
public:
    using Staged = std::function<void(StagedSparesHost&)>;
};

// The staged SED encryption status the controller reported: 0x20 on, 0x40 adapter password and 0x100
// master key awaited.
StagedSparesHost::Staged SEDStatus(VK_QWORD status) {
    return [status](StagedSparesHost& h) { h.config()->controller_sed_encryption_status = status; };
}

TEST_F(StagedSparesHost, TheScenarioStagesAsDescribed) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    ASSERT_EQ(config()->editable_array_count, 3);
    EXPECT_EQ(VK_GetEditableArraySpareType(cda(), 0), kSpareDriveTypeAutoReplace);
    EXPECT_EQ(VK_GetEditableArraySpareType(cda(), 1), kSpareDriveTypeDedicated);
    EXPECT_EQ(Spares(0), std::vector<VK_WORD>{6});
    EXPECT_EQ(ld(2)->editable_array_number, 2);
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageUnassigned);
}

TEST_F(StagedSparesHost, TypeZeroTakesTheArraysTypeOrIsRefused) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    ASSERT_EQ(VK_CanAddEditableArraySpareDrive(cda(), 0, 0, 8), kCanAddEditableArraySpareDriveOK);
    ASSERT_EQ(VK_AddEditableArraySpareDrive(cda(), 0, 0, 8), kAddEditableSpareDriveOK);
    EXPECT_EQ(Spares(0), (std::vector<VK_WORD>{6, 8}));
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageAutoReplaceStandbySpare);
    EXPECT_TRUE(ld(0)->flags & kEditableLDSparesChanged);
    EXPECT_FALSE(ld(1)->flags & kEditableLDSparesChanged);
    // Array 2 has no spares: type 0 names no type.
    EXPECT_EQ(VK_CanAddEditableArraySpareDrive(cda(), 2, 0, 9), kCanAddEditableArraySpareDriveNoSpareTypeSet);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedSparesHost, AddReasonRows) {
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        VK_BYTE type;
        VK_WORD pd;
        VK_BYTE reason;
    };
    const Row rows[] = {
        {"dedicated to array 1", {}, {}, 1, kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveOK},
        {"no array in the slot",
         {},
         {},
         9,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveArrayHasNoDataDrives},
        {"controller locked",
         Locked,
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveControllerStatusNotOK},
        {"failed spare over a locked controller",
         [](FirmwareState& st) {
             Locked(st);
             st.find_drive(7)->device_flags = 0x00;
         },
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveArrayHasFailedSpareDrive},
        {"spare list at the controller's limit",
         [](FirmwareState& st) { st.identify.max_drives_per_logical_drive = 1; },
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveMaxSpareDriveCountReached},
        {"spare list full", [](FirmwareState& st) { st.identify.max_drives_per_logical_drive = 200; },
         [](StagedSparesHost& h) { h.array(1)->spare_drive_count = 128; }, 1, kSpareDriveTypeDedicated, 8,
         kCanAddEditableArraySpareDriveMaxSpareDriveCountReached},
        {"LU cache array",
         {},
         [](StagedSparesHost& h) { h.array(1)->flags |= kEditableArrLUCache; },
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveNotDataArray},
        {"type 3", {}, {}, 1, 3, 8, kCanAddEditableArraySpareDriveInvalidSpareType},
        {"auto-replace into dedicated",
         {},
         {},
         1,
         kSpareDriveTypeAutoReplace,
         8,
         kCanAddEditableArraySpareDriveCannotChangeSpareType},
        {"not configurable",
         [](FirmwareState& st) { st.find_drive(8)->block_size = 520; },
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveDriveIsNotConfigurable},
        {"auto-replace of a drive in use",
         {},
         {},
         0,
         kSpareDriveTypeAutoReplace,
         7,
         kCanAddEditableArraySpareDriveDriveIsNotUnassigned},
        {"dedicated of a data drive",
         {},
         {},
         1,
         kSpareDriveTypeDedicated,
         4,
         kCanAddEditableArraySpareDriveDriveIsNotUnassignedOrShareableStandby},
        {"only RAID 0 drives",
         {},
         {},
         2,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveInvalidSAM},
        {"auto-replace beside a RAID 0 drive",
         {},
         [](StagedSparesHost& h) {
             h.ld(2)->editable_array_number = 0;
             h.ld(2)->physical_drive_offset_block = 1u << 20; // right after drive 0
             PEDITABLE_ARRAY a = h.array(0);
             a->logical_drives[a->logical_drive_count++] = 2;
         },
         0,
         kSpareDriveTypeAutoReplace,
         8,
         kCanAddEditableArraySpareDriveInvalidSpareTypeForRAID0},
        {"another block size",
         {},
         [](StagedSparesHost& h) { h.array(1)->common_block_size = 4096; },
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveIncompatibleBlockSize},
        {"the other side of the boot connector",
         [](FirmwareState& st) { st.find_drive(8)->misc_drive_flags = 0x8000; },
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveIncompatibleConnectors},
        {"auto-replace on a controller without it",
         WithoutAutoReplace,
         {},
         0,
         kSpareDriveTypeAutoReplace,
         8,
         kCanAddEditableArraySpareDriveAutoReplaceSpareNotSupported},
        {"dedicated on a controller without auto-replace",
         WithoutAutoReplace,
         {},
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveOK},
        {"a drive predicted to fail, spares activated on prediction", PredictedToFail(8),
         [](StagedSparesHost& h) {
             h.config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
         },
         1, kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveIsPredictiveFailure},
        {"OPAL spare for plain drives under SED encryption",
         [](FirmwareState& st) { st.find_drive(8)->feature_flags = kOPAL; }, SEDStatus(0x20), 1,
         kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveIncompatibleSEDType},
        {"locked OPAL spare for OPAL drives under SED encryption",
         [](FirmwareState& st) {
             OPALArray1(st);
             st.find_drive(8)->feature_flags = kOPAL | kLockedSED;
         },
         SEDStatus(0x20), 1, kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveInvalidSEDStatus},
        {"SED array awaiting the adapter password", OPALArray1, SEDStatus(0x20 | 0x40 | 0x100), 1,
         kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveWaitingOnAdapterPassword},
        {"SED array awaiting the master key", OPALArray1, SEDStatus(0x20 | 0x100), 1,
         kSpareDriveTypeDedicated, 8, kCanAddEditableArraySpareDriveWaitingOnMasterKey},
        {"SED array awaiting nothing", OPALArray1, SEDStatus(0x20), 1, kSpareDriveTypeDedicated, 8,
         kCanAddEditableArraySpareDriveOK},
        {"plain array awaiting the adapter password",
         {},
         SEDStatus(0x20 | 0x40),
         1,
         kSpareDriveTypeDedicated,
         8,
         kCanAddEditableArraySpareDriveOK},
        {"too small", {}, {}, 1, kSpareDriveTypeDedicated, 10, kCanAddEditableArraySpareDriveTooSmall},
        {"already its spare",
         {},
         {},
         1,
         kSpareDriveTypeDedicated,
         7,
         kCanAddEditableArraySpareDriveDriveAlreadyUsedAsSpare},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(ThreeArrays(), row.live, row.staged));
        EXPECT_EQ(VK_CanAddEditableArraySpareDrive(cda(), row.array, row.type, row.pd), row.reason);
        const size_t spares = array(1)->spare_drive_count;
        EXPECT_EQ(VK_AddEditableArraySpareDrive(cda(), row.array, row.type, row.pd),
                  row.reason == kCanAddEditableArraySpareDriveOK ? kAddEditableSpareDriveOK
                                                                 : kAddEditableSpareDriveFailedUnknown);
        if (row.reason != kCanAddEditableArraySpareDriveOK) {
            EXPECT_EQ(array(1)->spare_drive_count, spares);
        }
        StopController();
    }
}

// A drive may be the dedicated spare of several arrays, if they agree on SED encryption.
TEST_F(StagedSparesHost, SharedDedicatedSpares) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    ASSERT_EQ(VK_AddEditableArraySpareDrive(cda(), 1, kSpareDriveTypeDedicated, 8), kAddEditableSpareDriveOK);
    // Array 2 holds a RAID 0 drive only: give it a mirror so that spares make sense.
    ld(2)->RAID_level = kRAID1;
    array(2)->flags |= kEditableArrSEDEncryption;
    EXPECT_EQ(VK_CanAddEditableArraySpareDrive(cda(), 2, kSpareDriveTypeDedicated, 8),
              kCanAddEditableArraySpareDriveInvalidSEDEncryptionState);
    array(2)->flags &= ~kEditableArrSEDEncryption;
    ASSERT_EQ(VK_AddEditableArraySpareDrive(cda(), 2, kSpareDriveTypeDedicated, 8), kAddEditableSpareDriveOK);
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageShareableStandbySpare);

    // Leaving one array, it is still the other's spare, and so not free to become data elsewhere.
    ASSERT_EQ(VK_RemoveEditableArraySpareDrive(cda(), 1, 8), kRemoveEditableArraySpareDriveOK);
    EXPECT_EQ(Spares(1), std::vector<VK_WORD>{7});
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageShareableStandbySpare);
    ASSERT_EQ(VK_RemoveEditableArraySpareDrive(cda(), 2, 8), kRemoveEditableArraySpareDriveOK);
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageUnassigned);
}

TEST_F(StagedSparesHost, RemoveKeepsTheOrderOfTheOthers) {
    FirmwareState st = ThreeArrays();
    st.find_configured_drive(1)->spares = {7, 8, 9};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(Spares(1), (std::vector<VK_WORD>{7, 8, 9}));
    EXPECT_EQ(VK_CanRemoveEditableArraySpareDrive(cda(), 1, 6), kCanRemoveEditableArraySpareDriveNotFound);
    EXPECT_EQ(VK_CanRemoveEditableArraySpareDrive(cda(), 9, 7), kCanRemoveEditableArraySpareDriveNotFound);
    ASSERT_EQ(VK_RemoveEditableArraySpareDrive(cda(), 1, 7), kRemoveEditableArraySpareDriveOK);
    EXPECT_EQ(Spares(1), (std::vector<VK_WORD>{8, 9}));
    EXPECT_EQ(Usage(7), kPhysicalDriveUsageUnassigned);
    EXPECT_TRUE(ld(1)->flags & kEditableLDSparesChanged);
    array(1)->flags |= kEditableArrSplitMirror;
    EXPECT_EQ(VK_CanRemoveEditableArraySpareDrive(cda(), 1, 8),
              kCanRemoveEditableArraySpareDriveNotDataArray);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanRemoveEditableArraySpareDrive(cda(), 1, 8),
              kCanRemoveEditableArraySpareDriveNoEditableConfigCreated);
}

// ---- Deleting a staged array ----

TEST_F(StagedSparesHost, DeletingTheMiddleArrayRenumbersTheLastOne) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    ASSERT_EQ(VK_CanDeleteEditableArray(cda(), 1), kCanDeleteEditableArrayOK);
    ASSERT_EQ(VK_DeleteEditableArray(cda(), 1), kDeleteEditableArrayOK);
    EXPECT_EQ(config()->editable_array_count, 2);
    EXPECT_EQ(config()->editable_array_list[2], nullptr);
    EXPECT_EQ(array(1)->editable_array_number, 1);
    EXPECT_EQ(std::vector<VK_WORD>(array(1)->data_drives, array(1)->data_drives + 2),
              (std::vector<VK_WORD>{4, 5}));
    EXPECT_EQ(ld(2)->editable_array_number, 1);
    EXPECT_EQ(ld(0)->editable_array_number, 0);
    EXPECT_EQ(ld(1), nullptr);
    EXPECT_EQ(config()->editable_ld_count, 2);
    EXPECT_EQ(std::vector<VK_WORD>(config()->deleted_logical_drives,
                                   config()->deleted_logical_drives + config()->deleted_ld_count),
              std::vector<VK_WORD>{1});
    for (VK_WORD pd : {2, 3, 7}) {
        EXPECT_EQ(Usage(pd), kPhysicalDriveUsageUnassigned) << pd;
    }
    EXPECT_EQ(VK_CreateEditableArray(cda()), 2);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedSparesHost, DeleteArrayReasonRows) {
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        VK_BYTE reason;
    };
    const Live lu_cache = CachedArray1;
    const Row rows[] = {
        {"allowed", {}, {}, 1, kCanDeleteEditableArrayOK},
        {"number 64", {}, {}, 64, kCanDeleteEditableArrayInvalidArray},
        {"empty slot", {}, {}, 5, kCanDeleteEditableArrayInvalidArray},
        {"new logical drive",
         {},
         [](StagedSparesHost& h) {
             const VK_WORD n = VK_CreateEditableLogicalDrive(h.cda());
             h.ld(n)->flags |= kEditableLDArraySet;
             h.ld(n)->editable_array_number = 1;
             h.array(1)->logical_drives[h.array(1)->logical_drive_count++] = n;
         },
         1,
         kCanDeleteEditableArrayContainsUnsavedLogicalDrives},
        {"write-through LU cache", lu_cache, {}, 3, kCanDeleteEditableArrayOK},
        {"write-back LU cache",
         [&](FirmwareState& st) {
             lu_cache(st);
             st.find_configured_drive(3)->lu_cache_write_policy = 3;
         },
         {},
         3,
         kCanDeleteEditableArrayContainsWriteBackLUCache},
        {"flushing LU cache",
         [&](FirmwareState& st) {
             lu_cache(st);
             st.find_configured_drive(3)->lu_cache_state = 0x20;
             st.find_configured_drive(3)->lu_cache_state_stats = 0x20;
         },
         {},
         3,
         kCanDeleteEditableArrayContainsFlushingLUCache},
        {"locked SED data drive over a new logical drive",
         [](FirmwareState& st) { st.find_drive(2)->feature_flags = 0x1 | 0x20; },
         [](StagedSparesHost& h) {
             const VK_WORD n = VK_CreateEditableLogicalDrive(h.cda());
             h.ld(n)->editable_array_number = 1;
             h.array(1)->logical_drives[h.array(1)->logical_drive_count++] = n;
         },
         1, kCanDeleteEditableArrayContainsLockedSED},
        {"locked SED data drive of an SED-encrypted array",
         [](FirmwareState& st) { st.find_drive(2)->feature_flags = 0x1 | 0x20; },
         [](StagedSparesHost& h) { h.array(1)->flags |= kEditableArrSEDEncryption; }, 1,
         kCanDeleteEditableArrayOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(ThreeArrays(), row.live, row.staged));
        const VK_WORD arrays = config()->editable_array_count;
        EXPECT_EQ(VK_CanDeleteEditableArray(cda(), row.array), row.reason);
        const bool allowed = row.reason == kCanDeleteEditableArrayOK;
        EXPECT_EQ(VK_DeleteEditableArray(cda(), row.array),
                  allowed ? kDeleteEditableArrayOK : kDeleteEditableArrayFailedUnknown);
        EXPECT_EQ(config()->editable_array_count, allowed ? arrays - 1 : arrays);
        StopController();
    }
}

TEST_F(StagedSparesHost, DeletingAnLUCacheArrayReleasesItsDataDrive) {
    FirmwareState st = ThreeArrays();
    CachedArray1(st);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(ld(1)->lu_cache_ld_number, 3);
    ASSERT_EQ(ld(3)->editable_array_number, 3);
    ASSERT_EQ(VK_DeleteEditableArray(cda(), 3), kDeleteEditableArrayOK);
    EXPECT_EQ(ld(1)->lu_cache_ld_number, 0xFFFF);
    EXPECT_EQ(ld(1)->lu_cache_policy, 0);
    EXPECT_EQ(ld(3), nullptr);
    EXPECT_EQ(Usage(9), kPhysicalDriveUsageUnassigned);
}

// After an array is deleted, the arrays behind it sit one slot lower, but still stand for their own
// live arrays: their drives are not moved and their status is their own.
TEST_F(StagedSparesHost, ArraysBehindADeletedOneKeepTheirLiveArrays) {
    FirmwareState st = ThreeArrays();
    st.find_configured_drive(2)->unit_status = 3; // degraded, on live array 2 only
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(VK_GetEditableArrayStatusInfo(cda(), 1), kArrayStatusOK);
    ASSERT_EQ(VK_DeleteEditableArray(cda(), 0), kDeleteEditableArrayOK);
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
    for (VK_WORD n : {1, 2}) {
        EXPECT_EQ(ld(n)->flags & 0x7FF000000ULL, 0u) << n;
    }
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 0);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), kArrayStatusOK);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 1),
              static_cast<VK_DWORD>(kArrayStatusHasDegradedLogicalDrive));
    // A second deletion moves the last array down once more.
    ASSERT_EQ(VK_DeleteEditableArray(cda(), 0), kDeleteEditableArrayOK);
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
    EXPECT_EQ(ld(2)->flags & 0x7FF000000ULL, 0u);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0),
              static_cast<VK_DWORD>(kArrayStatusHasDegradedLogicalDrive));
    // A new array is no live array, whatever slot it takes.
    const VK_WORD fresh = VK_CreateEditableArray(cda());
    ASSERT_EQ(fresh, 1);
    EXPECT_EQ(_VK_GetEditableArrayLiveRecord(cda(), array(fresh)), nullptr);
}

// ---- Swapping a data drive ----

TEST_F(StagedSparesHost, SwappedInDriveTakesThePlaceOfTheOld) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeArrays()));
    ASSERT_EQ(VK_CanSwapEditableArrayDataDrive(cda(), 1, 2, 8), kCanSwapEditableArrayDataDriveAllowed);
    ASSERT_EQ(VK_SwapEditableArrayDataDrive(cda(), 1, 2, 8), kSwapEditableArrayDataDriveOK);
    EXPECT_EQ(std::vector<VK_WORD>(array(1)->data_drives, array(1)->data_drives + array(1)->data_drive_count),
              (std::vector<VK_WORD>{8, 3}));
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageData);
    // Drive 2 holds data on the controller until the commit moves it.
    EXPECT_EQ(Usage(2), kPhysicalDriveUsageTransientData);
    EXPECT_EQ(ld(1)->flags & 0x7FF000000ULL, kEditableLDDrivesSwapped);
    // The array's smallest drive is now drive 3.
    EXPECT_EQ(array(1)->common_drive_size_blocks,
              _VK_CDA(cda())->pd_record_list[3].pd_config_information.usable_size_blocks);
    EXPECT_FALSE(AnyWrite());

    // Swapping it out again: a drive staged in and out leaves unassigned.
    ASSERT_EQ(VK_SwapEditableArrayDataDrive(cda(), 1, 8, 9), kSwapEditableArrayDataDriveOK);
    EXPECT_EQ(Usage(8), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(array(1)->data_drives[0], 9);
}

TEST_F(StagedSparesHost, SwapReasonRows) {
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        VK_WORD old_pd;
        VK_WORD new_pd;
        VK_BYTE reason;
    };
    const Row rows[] = {
        {"allowed", {}, {}, 1, 3, 8, kCanSwapEditableArrayDataDriveAllowed},
        {"no array in the slot", {}, {}, 9, 3, 8, kCanSwapEditableArrayDataDriveArrayNotFound},
        {"not a data drive of the array", {}, {}, 1, 4, 8, kCanSwapEditableArrayDataDriveNotPartOfArray},
        {"spare smaller than the drives after the swap",
         [](FirmwareState& st) { st.find_drive(7)->total_blocks = (1u << 22) + kReserved; },
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveInvalidSpareConfiguration},
        {"no such drive", {}, {}, 1, 3, 40, kCanSwapEditableArrayDataDriveNotFound},
        {"split mirror",
         {},
         [](StagedSparesHost& h) { h.array(1)->flags |= kEditableArrSplitMirror; },
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveArrayNotDataArray},
        {"a spare", {}, {}, 1, 3, 6, kCanSwapEditableArrayDataDriveNotAvailable},
        {"predictive failure under predictive activation",
         [](FirmwareState& st) { st.find_drive(8)->more_device_flags = 0x0F; },
         [](StagedSparesHost& h) {
             h.config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
         },
         1, 3, 8, kCanSwapEditableArrayDataDrivesDriveIsPredictiveFailure},
        {"predictive failure under failure activation",
         [](FirmwareState& st) { st.find_drive(8)->more_device_flags = 0x0F; },
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveAllowed},
        {"array with a queued move",
         {},
         [](StagedSparesHost& h) { h.ld(1)->flags |= kEditableLDArrayMove; },
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveArrayStatusNotOK},
        {"array with a plain queued transformation",
         {},
         [](StagedSparesHost& h) { h.ld(1)->flags |= kEditableLDSizeChange; },
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveAllowed},
        {"controller locked",
         Locked,
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveControllerStatusNotOK},
        {"another block size",
         {},
         [](StagedSparesHost& h) { h.array(1)->common_block_size = 4096; },
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveIncompatibleBlockSize},
        {"the other side of the boot connector",
         [](FirmwareState& st) { st.find_drive(8)->misc_drive_flags = 0x8000; },
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveIncompatibleConnectors},
        {"too small",
         [](FirmwareState& st) { st.find_drive(10)->total_blocks = (1u << 19) + kReserved; },
         {},
         1,
         3,
         10,
         kCanSwapEditableArrayDataDriveIsTooSmall},
        {"SED into a plain array under SED encryption",
         [](FirmwareState& st) { st.find_drive(8)->feature_flags = 0x1 | 0x2000; },
         [](StagedSparesHost& h) { h.config()->controller_sed_encryption_status = 0x20; }, 1, 3, 8,
         kCanSwapEditableArrayDataDriveIncompatibleSEDType},
        {"transformation memory too small",
         [](FirmwareState& st) { st.expansion.memory_kib = 1; },
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveExceedsTransformationMemory},
        {"LU caching staged",
         {},
         [](StagedSparesHost& h) { h.array(2)->flags |= kEditableArrLUCache; },
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveLUCachingEnabled},
        {"controller queue full",
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         1,
         3,
         8,
         kCanSwapEditableArrayDataDriveMaxTransformationsReached},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(ThreeArrays(), row.live, row.staged));
        EXPECT_EQ(VK_CanSwapEditableArrayDataDrive(cda(), row.array, row.old_pd, row.new_pd), row.reason);
        const bool allowed = row.reason == kCanSwapEditableArrayDataDriveAllowed;
        EXPECT_EQ(VK_SwapEditableArrayDataDrive(cda(), row.array, row.old_pd, row.new_pd),
                  allowed ? kSwapEditableArrayDataDriveOK : kSwapEditableArrayDataDriveFailedUnknown);
        StopController();
    }
}

} // namespace
