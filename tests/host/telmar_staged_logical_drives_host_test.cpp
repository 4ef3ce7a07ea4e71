// Staged logical drives against a simulated controller: creating and deleting them, the reasons a
// delete is refused, the re-layout of the drives behind a deleted one, and whether an existing drive
// can be transformed into a given geometry. Nothing here writes to the controller.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pavl_platform_private.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Offsets and footprints of the three logical drives of ThreeDrives(): all differ.
constexpr VK_QWORD kBlocks0 = 1u << 20, kBlocks1 = 1u << 19, kBlocks2 = 1u << 18;
constexpr VK_QWORD kOffset1 = kBlocks0, kOffset2 = kBlocks0 + kBlocks1;

// Array 0 on drives 0-2: RAID 5 logical drives 0, 1 and 2 one after the other; drives 3-5
// unassigned. The controller moves logical drives and allows 16 MiB full stripes.
FirmwareState ThreeDrives() {
    FirmwareState st = FallingSEDDrives(6);
    st.set_page("miscellaneous", kMovesPage);
    st.identify.max_safe_full_stripe_mb = 16;
    const VK_QWORD blocks[] = {kBlocks0, kBlocks1, kBlocks2};
    const VK_QWORD offsets[] = {0, kOffset1, kOffset2};
    for (VK_WORD n = 0; n < 3; ++n) {
        FwLogicalDrive& l = st.add_configured_drive(n, {0, 1, 2}, blocks[n], offsets[n]);
        l.fault_tolerance = 3;
    }
    return st;
}

// Logical drive 0 on drives 0-1, cached by LU cache drive 1 on drive 2 (write-through).
FirmwareState LUCachePair() {
    FirmwareState st = FallingSEDDrives(4);
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    FwLogicalDrive& cache = AddLUCache(st, 0, 1, {2}, 1u << 18);
    cache.lu_cache_bits = 0x01;
    cache.lu_cache_write_policy = 2;
    // Adding the cache may have moved the first drive: it is found again by number.
    st.find_configured_drive(0)->lu_cache_write_policy = 2;
    return st;
}

class StagedLogicalDrivesHost : public StagedConfigHost {
public:
    std::vector<VK_WORD> Deleted() {
        return {config()->deleted_logical_drives,
                config()->deleted_logical_drives + config()->deleted_ld_count};
    }
};

// ---- Create ----

TEST_F(StagedLogicalDrivesHost, FirstDriveOfAnEmptyConfigurationGetsSlotZeroAndTheDefaultLabel) {
    for (bool encrypted : {false, true}) {
        SCOPED_TRACE(encrypted);
        ASSERT_NO_FATAL_FAILURE(Start(FallingSEDDrives(3)));
        if (encrypted) {
            config()->flags |= kEditableConfigEncryptionEnabled;
        }
        ASSERT_EQ(VK_CanCreateEditableLogicalDrive(cda()), kCanCreateEditableLogicalDriveOK);
        ASSERT_EQ(VK_CreateEditableLogicalDrive(cda()), 0);
        const PEDITABLE_LOGICAL_DRIVE d = ld(0);
        ASSERT_NE(d, nullptr);
        // The label is written at commit: the label-unchanged bit of the defaults is cleared.
        EXPECT_EQ(d->flags, kEditableLDNewDrive | (encrypted ? kEditableLDEncrypted : 0));
        EXPECT_EQ(std::string(d->logical_drive_label, strnlen(d->logical_drive_label, 64)),
                  "Logical Drive 1");
        EXPECT_EQ(d->ld_number, 0);
        EXPECT_EQ(d->editable_array_number, 0xFFFF);
        EXPECT_EQ(d->lu_cache_ld_number, 0xFFFF);
        EXPECT_EQ(d->lu_cache_policy, 0);
        EXPECT_EQ(d->block_size_bytes, 512);
        EXPECT_EQ(d->sectors_per_track, 32);
        EXPECT_EQ(d->logical_drive_accelerator, kLogicalDriveAcceleratorUnknown);
        EXPECT_EQ(d->drive_size_blocks, 0u);
        EXPECT_EQ(config()->editable_ld_count, 1);
        EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 0),
                  static_cast<VK_DWORD>(
                      kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagNoRAIDLevelSet |
                      kEditableLogicalDriveFlagNoStripSizeSet | kEditableLogicalDriveFlagNoSizeSet |
                      kEditableLogicalDriveFlagNoArraySet |
                      (encrypted ? kEditableLogicalDriveFlagEncrypted : 0)));
        // The next one takes the next slot and its own number in the label.
        ASSERT_EQ(VK_CreateEditableLogicalDrive(cda()), 1);
        EXPECT_STREQ(ld(1)->logical_drive_label, "Logical Drive 2");
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
}

TEST_F(StagedLogicalDrivesHost, CreateReasonRows) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        std::function<void(StagedLogicalDrivesHost&)> staged;
        VK_BYTE reason;
    } const rows[] = {
        {"allowed", {}, {}, kCanCreateEditableLogicalDriveOK},
        {"no configuration",
         {},
         [](StagedLogicalDrivesHost& h) { VK_DestroyEditableConfiguration(h.cda()); },
         kCanCreateEditableLogicalDriveNoEditableConfigCreated},
        {"controller limit reached",
         [](FirmwareState& st) { st.identify.max_logical_drives = 3; },
         {},
         kCanCreateEditableLogicalDriveMaxLDReached},
        {"no unassigned drive, no free space",
         {},
         [](StagedLogicalDrivesHost& h) {
             for (auto& pd : h.config()->editable_pd_list) {
                 pd.config_usage_info =
                     pd.config_usage_info == kPhysicalDriveUsageUnassigned ? 0 : pd.config_usage_info;
             }
             // The array's drives end where the last logical drive does.
             h.array(0)->common_drive_size_blocks = kOffset2 + kBlocks2;
         },
         kCanCreateEditableLogicalDriveNoFreeSpaceAvailable},
        {"no unassigned drive, free space on the array",
         {},
         [](StagedLogicalDrivesHost& h) {
             for (auto& pd : h.config()->editable_pd_list) {
                 pd.config_usage_info =
                     pd.config_usage_info == kPhysicalDriveUsageUnassigned ? 0 : pd.config_usage_info;
             }
         },
         kCanCreateEditableLogicalDriveOK},
        {"controller locked",
         Locked,
         {},
         kCanCreateEditableLogicalDriveControllerEncryptionLockoutState},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(ThreeDrives(), row.live, row.staged));
        EXPECT_EQ(VK_CanCreateEditableLogicalDrive(cda()), row.reason);
        StopController();
    }
}

TEST_F(StagedLogicalDrivesHost, CreateAtTheLimitReturnsNoneAndKeepsNothing) {
    FirmwareState st = ThreeDrives();
    st.identify.max_logical_drives = 4;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(VK_CreateEditableLogicalDrive(cda()), 3);
    const VK_UINT64 held = _VK_curr_alloc;
    EXPECT_EQ(VK_CreateEditableLogicalDrive(cda()), 0xFFFF);
    EXPECT_EQ(_VK_curr_alloc, held);
    EXPECT_EQ(config()->editable_ld_count, 4);
}

// A controller may count more logical drives than the 64 slots of the staged list.
TEST_F(StagedLogicalDrivesHost, ControllerCountingMoreThanSixtyFourGetsSixtyFour) {
    FirmwareState st = FallingSEDDrives(3);
    st.identify.max_logical_drives = 128;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    for (VK_WORD n = 0; n < 64; ++n) {
        ASSERT_EQ(VK_CreateEditableLogicalDrive(cda()), n);
    }
    const VK_UINT64 held = _VK_curr_alloc;
    EXPECT_EQ(VK_CanCreateEditableLogicalDrive(cda()), kCanCreateEditableLogicalDriveOK);
    EXPECT_EQ(VK_CreateEditableLogicalDrive(cda()), 0xFFFF);
    EXPECT_EQ(_VK_curr_alloc, held);
    EXPECT_EQ(config()->editable_ld_count, 64);
    EXPECT_STREQ(ld(63)->logical_drive_label, "Logical Drive 64");
}

// ---- Delete ----

TEST_F(StagedLogicalDrivesHost, DeletingTheMiddleDriveMovesTheNextOneToItsOffsetExactly) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    // An alignment the old offset does not meet shows that the first drive moved takes it as it is.
    array(0)->alignment_size_blocks = 3;
    ASSERT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 0);
    ASSERT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), 1), kCanDeleteEditableLogicalDriveOK);
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 1), kDeleteEditableLogicalDriveOK);

    EXPECT_EQ(ld(1), nullptr);
    EXPECT_EQ(config()->editable_ld_count, 2);
    EXPECT_EQ(ld(2)->physical_drive_offset_block, kOffset1);
    EXPECT_EQ(ld(0)->physical_drive_offset_block, 0u);
    EXPECT_EQ(ld(2)->flags & 0x7FF000000ULL, kEditableLDOffsetDown | kEditableLDExtentShrink);
    EXPECT_EQ(ld(0)->flags & 0x7FF000000ULL, 0u);
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 1);
    EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 2),
              static_cast<VK_DWORD>(kEditableLogicalDriveFlagLocked |
                                    kEditableLogicalDriveFlagTransformationQueued));
    EXPECT_EQ(Deleted(), std::vector<VK_WORD>{1});
    std::vector<VK_WORD> left = ArrayDrives(0);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<VK_WORD>{0, 2}));
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedLogicalDrivesHost, LaterDrivesAreLaidOutEndToEndAligned) {
    FirmwareState st = ThreeDrives();
    st.add_configured_drive(3, {0, 1, 2}, 1000, kOffset2 + kBlocks2).fault_tolerance = 3;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    array(0)->alignment_size_blocks = 3;
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 0), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(ld(1)->physical_drive_offset_block, 0u);
    // 2^19 and 2^19 + 2^18 rounded up to multiples of 3.
    EXPECT_EQ(ld(2)->physical_drive_offset_block, 524289u);
    EXPECT_EQ(ld(3)->physical_drive_offset_block, 786435u);
    for (VK_WORD n : {1, 2, 3}) {
        EXPECT_TRUE(ld(n)->flags & kEditableLDOffsetDown) << n;
    }
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 3);
}

TEST_F(StagedLogicalDrivesHost, DeletingTheLastDriveShrinksTheCreatableSpace) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    const VK_QWORD before = array(0)->offset_to_creatable_space;
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 2), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(array(0)->offset_to_creatable_space, before - kBlocks2);
    EXPECT_EQ(ld(1)->physical_drive_offset_block, kOffset1);
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 0);
    EXPECT_EQ(Deleted(), std::vector<VK_WORD>{2});

    // A footprint larger than the space recorded empties it rather than wrapping.
    ld(1)->physical_drive_blocks_per_drive = array(0)->offset_to_creatable_space + 1;
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 1), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(array(0)->offset_to_creatable_space, 0u);
    EXPECT_EQ(Deleted(), (std::vector<VK_WORD>{2, 1}));
}

TEST_F(StagedLogicalDrivesHost, DeletingANewDriveLeavesNoTrace) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    const VK_QWORD space = array(0)->offset_to_creatable_space;
    const VK_WORD n = PlaceNewDrive(0, space, 4096);
    ASSERT_NE(n, 0xFFFF);
    const VK_WORD loose = VK_CreateEditableLogicalDrive(cda()); // no array
    EXPECT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), n), kCanDeleteEditableLogicalDriveOK);
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), n), kDeleteEditableLogicalDriveOK);
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), loose), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(Deleted(), std::vector<VK_WORD>{});
    EXPECT_EQ(array(0)->offset_to_creatable_space, space);
    EXPECT_EQ(array(0)->flags & kEditableArrHasNewLD, 0);
    EXPECT_EQ(ArrayDrives(0).size(), 3u);
    EXPECT_EQ(config()->editable_ld_count, 3);
}

TEST_F(StagedLogicalDrivesHost, DeletingOneOfAnLUCachePairReleasesTheOther) {
    ASSERT_NO_FATAL_FAILURE(Start(LUCachePair()));
    ASSERT_EQ(ld(0)->lu_cache_ld_number, 1);
    ASSERT_EQ(ld(1)->lu_cache_ld_number, 0);
    ASSERT_TRUE(ld(1)->flags & kEditableLDLUCache);
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 1), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(ld(0)->lu_cache_ld_number, 0xFFFF);
    EXPECT_EQ(ld(0)->lu_cache_policy, 0);
    EXPECT_EQ(ld(0)->flags & kEditableLDLUCacheChanged, 0u);
    StopController();

    ASSERT_NO_FATAL_FAILURE(Start(LUCachePair()));
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 0), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(ld(1)->lu_cache_ld_number, 0xFFFF);
    EXPECT_TRUE(ld(1)->flags & kEditableLDLUCacheChanged);
}

TEST_F(StagedLogicalDrivesHost, DeletingTheStagedPrimaryBootDriveClearsIt) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    config()->controller_primary_boot_volume = {kBootableVolumeDriveTypeLogical, 2};
    config()->controller_secondary_boot_volume = {kBootableVolumeDriveTypeLogical, 0};
    ASSERT_EQ(VK_DeleteEditableLogicalDrive(cda(), 2), kDeleteEditableLogicalDriveOK);
    EXPECT_EQ(config()->controller_primary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(config()->controller_secondary_boot_volume.dev_number, 0);
}

// One row per reason, in the order they are tested; drive 1 is deleted unless a row says otherwise.
TEST_F(StagedLogicalDrivesHost, DeleteReasonRows) {
    using Staged = std::function<void(StagedLogicalDrivesHost&)>;
    struct Row {
        const char* name;
        FirmwareState (*scenario)();
        Live live;
        Staged staged;
        VK_WORD ld;
        VK_BYTE reason;
    };
    const Row rows[] = {
        {"allowed", ThreeDrives, {}, {}, 1, kCanDeleteEditableLogicalDriveOK},
        {"number 64", ThreeDrives, {}, {}, 64, kCanDeleteEditableLogicalDriveInvalidLogicalDrive},
        {"empty slot", ThreeDrives, {}, {}, 5, kCanDeleteEditableLogicalDriveInvalidLogicalDrive},
        {"cache partner past the list",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(1)->lu_cache_ld_number = 64; },
         1,
         kCanDeleteEditableLogicalDriveInvalidLogicalDrive},
        {"cache partner in an empty slot",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(1)->lu_cache_ld_number = 9; },
         1,
         kCanDeleteEditableLogicalDriveInvalidLogicalDrive},
        {"live unit status has locked SED",
         ThreeDrives,
         [](FirmwareState& st) { st.find_configured_drive(1)->unit_status = 28; },
         {},
         1,
         kCanDeleteEditableLogicalDriveContainsLockedSED},
        {"locked SED data drive",
         ThreeDrives,
         [](FirmwareState& st) { st.find_drive(1)->feature_flags = 0x1 | 0x20; },
         {},
         1,
         kCanDeleteEditableLogicalDriveContainsLockedSED},
        {"LU cache drive not last",
         ThreeDrives,
         {},
         [](auto& h) {
             h.ld(1)->flags |= kEditableLDLUCache;
             h.ld(1)->lu_cache_ld_number = 0;
         },
         1,
         kCanDeleteEditableLogicalDriveLUCacheLDNotLastLDInCacheArray},
        {"data drive whose cache is not last",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(0)->lu_cache_ld_number = 1; },
         0,
         kCanDeleteEditableLogicalDriveLUCacheLDNotLastLDInCacheArray},
        {"write-back LU cache",
         LUCachePair,
         [](FirmwareState& st) { st.find_configured_drive(1)->lu_cache_write_policy = 3; },
         {},
         1,
         kCanDeleteEditableLogicalDriveLUCacheWriteBackPolicy},
        {"write-back LU cache that failed SED qualification",
         LUCachePair,
         [](FirmwareState& st) {
             st.find_configured_drive(1)->lu_cache_write_policy = 3;
             st.find_configured_drive(1)->unit_status = 30;
         },
         {},
         1,
         kCanDeleteEditableLogicalDriveOK},
        {"write-back LU cache offline",
         LUCachePair,
         [](FirmwareState& st) {
             st.find_configured_drive(1)->lu_cache_write_policy = 3;
             st.find_configured_drive(1)->lu_cache_state = 0x04;
             st.find_configured_drive(1)->lu_cache_state_stats = 0x04;
         },
         {},
         1,
         kCanDeleteEditableLogicalDriveOK},
        {"flushing LU cache",
         LUCachePair,
         [](FirmwareState& st) { st.find_configured_drive(1)->lu_cache_state = 0x20;
             st.find_configured_drive(1)->lu_cache_state_stats = 0x20; },
         {},
         1,
         kCanDeleteEditableLogicalDriveLUCacheFlushing},
        {"flushing LU cache after power-up failure",
         LUCachePair,
         [](FirmwareState& st) { st.find_configured_drive(1)->lu_cache_state = 0xA0;
             st.find_configured_drive(1)->lu_cache_state_stats = 0xA0; },
         {},
         1,
         kCanDeleteEditableLogicalDriveOK},
        {"no logical-drive moves",
         ThreeDrives,
         [](FirmwareState& st) { st.set_page("miscellaneous", kNoMovesPage); },
         {},
         1,
         kCanDeleteEditableLogicalDriveMoveLogicalDriveNotSupported},
        {"no logical-drive moves, last drive",
         ThreeDrives,
         [](FirmwareState& st) { st.set_page("miscellaneous", kNoMovesPage); },
         {},
         2,
         kCanDeleteEditableLogicalDriveOK},
        {"array holds a new drive",
         ThreeDrives,
         {},
         [](auto& h) { h.array(0)->flags |= kEditableArrHasNewLD; },
         1,
         kCanDeleteEditableLogicalDriveArrayHasUnsavedLogicalDrives},
        {"controller not OK",
         ThreeDrives,
         {},
         [](auto& h) { _VK_CDA(h.cda())->identify_controller_buffer.dwEvenMoreControllerFlags |= 0x100; },
         1,
         kCanDeleteEditableLogicalDriveControllerStatusNotOK},
        {"cache temporarily disabled",
         ThreeDrives,
         [](FirmwareState& st) {
             st.cache.cache_flags = 0x2;
             st.cache.disable_code = 1;
         },
         {},
         1,
         kCanDeleteEditableLogicalDriveControllerCacheStatusNotOK},
        {"array has a failed logical drive",
         ThreeDrives,
         [](FirmwareState& st) { st.find_configured_drive(0)->unit_status = 1; },
         {},
         1,
         kCanDeleteEditableLogicalDriveArrayStatusNotOK},
        {"array has a plain queued transformation",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(2)->flags |= kEditableLDSizeChange; },
         1,
         kCanDeleteEditableLogicalDriveOK},
        {"array has a queued move",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(0)->flags |= kEditableLDArrayMove; },
         1,
         kCanDeleteEditableLogicalDriveArrayStatusNotOK},
        {"array has a queued encode",
         ThreeDrives,
         {},
         [](auto& h) { h.ld(2)->flags |= kEditableLDTransformEncode; },
         1,
         kCanDeleteEditableLogicalDriveArrayStatusNotOK},
        {"LU caching staged",
         ThreeDrives,
         {},
         [](auto& h) { h.StageLUCaching(); },
         1,
         kCanDeleteEditableLogicalDriveLUCachingEnabled},
        {"transformation memory too small",
         ThreeDrives,
         [](FirmwareState& st) { st.expansion.memory_kib = 256; },
         {},
         1,
         kCanDeleteEditableLogicalDriveExceedsTransformationMemory},
        {"full stripe unsafe",
         ThreeDrives,
         [](FirmwareState& st) { st.identify.max_safe_full_stripe_mb = 0; },
         {},
         1,
         kCanDeleteEditableLogicalDriveExceedsTransformationMemory},
        {"data not preservable",
         ThreeDrives,
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         1,
         kCanDeleteEditableLogicalDriveDataPreservationNotAvailable},
        {"controller queue full",
         ThreeDrives,
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         1,
         kCanDeleteEditableLogicalDriveMaxTransformationsReached},
        {"controller queue full, moved drive already queued", ThreeDrives,
         [](FirmwareState& st) { st.expansion.queued = 63; },
         [](auto& h) { h.ld(2)->flags |= kEditableLDSizeChange; }, 1, kCanDeleteEditableLogicalDriveOK},
        {"controller queue full, last drive",
         ThreeDrives,
         [](FirmwareState& st) { st.expansion.queued = 64; },
         {},
         2,
         kCanDeleteEditableLogicalDriveOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(row.scenario(), row.live, row.staged));
        const VK_WORD count = config()->editable_ld_count;
        EXPECT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), row.ld), row.reason);
        const bool allowed = row.reason == kCanDeleteEditableLogicalDriveOK;
        EXPECT_EQ(VK_DeleteEditableLogicalDrive(cda(), row.ld),
                  allowed ? kDeleteEditableLogicalDriveOK : kDeleteEditableLogicalDriveFailedUnknown);
        EXPECT_EQ(config()->editable_ld_count, allowed ? count - 1 : count);
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), 1),
              kCanDeleteEditableLogicalDriveNoEditableConfigCreated);
    EXPECT_EQ(VK_DeleteEditableLogicalDrive(cda(), 1), kDeleteEditableLogicalDriveFailedUnknown);
}

// A logical drive whose status cannot be read is left out of the model: the staged array shows the
// gap it leaves, and the checks answer from that without crashing.
TEST_F(StagedLogicalDrivesHost, UnreadableLogicalDriveStatus) {
    FirmwareState st = ThreeDrives();
    st.fail_device(0x12, 1, 1, 0, EIO);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(ld(1), nullptr);
    EXPECT_EQ(array(0)->logical_drive_count, 2);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), static_cast<VK_DWORD>(kArrayStatusHasGaps));
    EXPECT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), 0), kCanDeleteEditableLogicalDriveArrayStatusNotOK);
    EXPECT_EQ(VK_CanDeleteEditableLogicalDrive(cda(), 1), kCanDeleteEditableLogicalDriveInvalidLogicalDrive);
    // The last drive moves nothing and may go.
    EXPECT_EQ(VK_DeleteEditableLogicalDrive(cda(), 2), kDeleteEditableLogicalDriveOK);
    EXPECT_FALSE(AnyWrite());
}

// ---- The public flag word ----

TEST_F(StagedLogicalDrivesHost, PublicFlagRows) {
    struct Row {
        const char* name;
        VK_QWORD flags;
        VK_BYTE init;
        VK_WORD cache_partner;
        VK_BYTE cache_policy;
        VK_DWORD word;
    } const rows[] = {
        {"new",
         kEditableLDNewDrive | kEditableLDRAIDSet | kEditableLDStripSizeSet | kEditableLDSizeSet |
             kEditableLDArraySet,
         0, 0xFFFF, 0, kEditableLogicalDriveFlagNewLogicalDrive},
        {"locked", kEditableLDLocked, 0, 0xFFFF, 0, kEditableLogicalDriveFlagLocked},
        {"rapid parity init", kEditableLDNewDrive | 0x1E8, 0x1, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagRapidParityInit},
        {"OPO", kEditableLDNewDrive | 0x1E8, 0x2, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagOPO},
        {"init methods of an existing drive", 0, 0x3, 0xFFFF, 0, 0},
        {"transformation queued", kEditableLDOffsetDown, 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagTransformationQueued},
        {"encode queued", kEditableLDTransformEncode, 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagTransformationQueued | kEditableLogicalDriveFlagEncodeQueued},
        {"transformation bits of a new drive", kEditableLDNewDrive | 0x1E8 | kEditableLDTransformEncode, 0,
         0xFFFF, 0, kEditableLogicalDriveFlagNewLogicalDrive},
        {"no RAID level", kEditableLDNewDrive | (0x1E8 & ~kEditableLDRAIDSet), 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagNoRAIDLevelSet},
        {"no strip size", kEditableLDNewDrive | (0x1E8 & ~kEditableLDStripSizeSet), 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagNoStripSizeSet},
        {"no size", kEditableLDNewDrive | (0x1E8 & ~kEditableLDSizeSet), 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagNoSizeSet},
        {"no array", kEditableLDNewDrive | (0x1E8 & ~kEditableLDArraySet), 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagNoArraySet},
        {"encrypted", kEditableLDEncrypted, 0, 0xFFFF, 0, kEditableLogicalDriveFlagEncrypted},
        {"volatile key", kEditableLDVolatileKey, 0, 0xFFFF, 0, kEditableLogicalDriveFlagVolatileKeyEnabled},
        {"volatile key backup", kEditableLDVolatileKeyBackup, 0, 0xFFFF, 0,
         kEditableLogicalDriveFlagVolatileKeyBackupEnabled},
        {"LU cache without data drive", kEditableLDLUCache, 0, 0xFFFF, 2,
         kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet},
        {"LU cache without policy", kEditableLDLUCache, 0, 0, 0,
         kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet},
        {"LU cache paired", kEditableLDLUCache, 0, 0, 2, 0},
    };
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ld(1)->flags = row.flags;
        ld(1)->logical_drive_initialization_method = row.init;
        ld(1)->lu_cache_ld_number = row.cache_partner;
        ld(1)->lu_cache_policy = row.cache_policy;
        EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 1), row.word);
    }
}

// ---- Whether an existing drive can be transformed ----

// The staged geometry of drive 1 of ThreeDrives() after `edit`, asked of the controller.
TEST_F(StagedLogicalDrivesHost, TransformationResultRows) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        std::function<void(LogicalDriveTransformation&)> target;
        VK_WORD ld;
        VK_BYTE result;
    } const rows[] = {
        {"as it is", {}, {}, 1, 1},
        // Equal strips: 512-byte blocks x 512-block strips x 2 data drives.
        {"equal strips, memory just enough",
         [](FirmwareState& st) { st.expansion.memory_kib = 512; },
         {},
         1,
         1},
        {"equal strips, memory one KiB short",
         [](FirmwareState& st) { st.expansion.memory_kib = 511; },
         {},
         1,
         2},
        // Other strips: 512 x lcm(384 x 2, 512 x 2) = 1.5 MiB, where the target's own stripe needs 384 KiB.
        {"strips differ, lcm fits", [](FirmwareState& st) { st.expansion.memory_kib = 1536; },
         [](LogicalDriveTransformation& t) { t.strip_size_blocks = 384; }, 1, 1},
        {"strips differ, lcm does not fit", [](FirmwareState& st) { st.expansion.memory_kib = 1535; },
         [](LogicalDriveTransformation& t) { t.strip_size_blocks = 384; }, 1, 2},
        {"offset up with fewer blocks per drive",
         {},
         [](LogicalDriveTransformation& t) {
             t.physical_drive_offset_block += 2048;
             t.drive_size_blocks -= 8192;
         },
         1,
         3},
        {"offset up with the same blocks",
         {},
         [](LogicalDriveTransformation& t) { t.physical_drive_offset_block += 2048; },
         1,
         1},
        {"offset down with fewer blocks",
         {},
         [](LogicalDriveTransformation& t) {
             t.physical_drive_offset_block -= 2048;
             t.drive_size_blocks -= 8192;
         },
         1,
         1},
        {"no powerless transformations, power charging",
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         1,
         4},
        {"no powerless transformations, power charged",
         [](FirmwareState& st) {
             st.expansion.support_flags = 0x0F;
             st.cache.battery_status = 0x1;
         },
         {},
         1,
         1},
        // The controller reports no safe full-stripe size: no parity stripe is safe.
        {"full stripe unsafe", [](FirmwareState& st) { st.identify.max_safe_full_stripe_mb = 0; }, {}, 1, 5},
        {"full stripe past the limit",
         {},
         [](LogicalDriveTransformation& t) { t.strip_size_blocks = 32768; },
         1,
         5},
        {"number 64", {}, {}, 64, 6},
        {"above the controller's maximum",
         [](FirmwareState& st) { st.identify.max_logical_drives = 5; },
         {},
         5,
         6},
        {"a new drive", [](FirmwareState& st) { st.expansion.memory_kib = 1; }, {}, 5, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow<StagedLogicalDrivesHost>(ThreeDrives(), row.live, {}));
        LogicalDriveTransformation t;
        _VK_InitializeLogicalDriveTransformationSettings(cda(), row.ld == 5 ? 1 : row.ld, &t);
        if (row.target) {
            row.target(t);
        }
        EXPECT_EQ(_VK_CanTransformLogicalDrive(cda(), row.ld, &t), row.result);
        StopController();
    }
}

TEST_F(StagedLogicalDrivesHost, TransformationCompletesTheTarget) {
    ASSERT_NO_FATAL_FAILURE(Start(ThreeDrives()));
    LogicalDriveTransformation t;
    _VK_InitializeLogicalDriveTransformationSettings(cda(), 1, &t);
    EXPECT_EQ(t.array_number, 0);
    EXPECT_EQ(t.data_drive_count, 3);
    EXPECT_EQ(t.RAID_level, kRAID5);
    EXPECT_EQ(t.physical_drive_offset_block, kOffset1);
    t.num_usable_drives = 0;
    t.physical_drive_blocks_per_drive = 0;
    t.drive_size_blocks = 2 * 4096;
    ASSERT_EQ(_VK_CanTransformLogicalDrive(cda(), 1, &t), 1);
    EXPECT_EQ(t.num_usable_drives, 2);
    EXPECT_EQ(t.physical_drive_blocks_per_drive, 4096u);
}

} // namespace
