// Giving a staged logical drive its array on a simulated controller: the reasons a new drive cannot
// be placed or an existing one cannot be moved, where a placed drive lands and what it inherits from
// its array, and how a move packs the drives it leaves behind. Nothing here writes to the controller.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

constexpr VK_QWORD kBlocks0 = 1u << 20, kBlocks1 = 1u << 19, kBlocks2 = 1u << 18, kBlocks3 = 1000;
constexpr VK_QWORD kOffset1 = kBlocks0, kOffset2 = kBlocks0 + kBlocks1, kOffset3 = kOffset2 + kBlocks2;
// Logical drive 4, alone on array 1.
constexpr VK_QWORD kBlocks4 = 1u << 18;
// The LU-cache feature page: supported, strip limits reported, RAID 0/1/5 write-through; 256 KiB
// largest strip, 16 KiB smallest, 1 MiB and 64 KiB stripes; 128 and 256 KiB lines.
const std::vector<std::uint8_t> kLUCachePage = {0x67, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x10, 0x00, 0x00,
                                                0x00, 0x00, 0x04, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x06};

// Drives 0-7 of 512-byte blocks. Array 0 on drives 0-2 holds RAID 5 logical drives 0-3 one after the
// other; array 1 on drives 3-5 (or 3-4) holds RAID 5 logical drive 4; drives 6 and 7 are unassigned.
FirmwareState TwoArrays(bool narrow_second = false) {
    FirmwareState st = FallingSEDDrives(8);
    st.set_page("miscellaneous", kMovesPage);
    st.identify.max_safe_full_stripe_mb = 16;
    const VK_QWORD blocks[] = {kBlocks0, kBlocks1, kBlocks2, kBlocks3};
    const VK_QWORD offsets[] = {0, kOffset1, kOffset2, kOffset3};
    for (VK_WORD n = 0; n < 4; ++n) {
        st.add_configured_drive(n, {0, 1, 2}, blocks[n], offsets[n]).fault_tolerance = 3;
    }
    std::vector<std::uint16_t> second = {3, 4, 5};
    if (narrow_second) {
        second.pop_back();
    }
    st.add_configured_drive(4, second, kBlocks4).fault_tolerance = narrow_second ? 2 : 3;
    return st;
}

FirmwareState WithLUCacheMemory(FirmwareState st, std::uint32_t available) {
    st.set_page("lu_cache", kLUCachePage);
    st.cache.lu_cache_used = 1000;
    st.cache.lu_cache_available = available;
    st.cache.lu_cache_algorithms = {{1, 16, 1000, 1, 22, 30}, {2, 24, 2000, 2, 22, 32}};
    st.cache.battery_status = 0x1;
    return st;
}

class StagedAssignHost : public StagedConfigHost {
public:
    void Start(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StagedConfigHost::Start(std::move(st)));
        ASSERT_NE(array(0), nullptr);
        ASSERT_NE(array(1), nullptr);
        // An alignment no footprint here meets shows where the layout rounds and where it does not.
        array(0)->alignment_size_blocks = 3;
        array(1)->alignment_size_blocks = 3;
    }
    std::vector<VK_WORD> SortedDrives(VK_WORD a) {
        std::vector<VK_WORD> v = ArrayDrives(a);
        std::sort(v.begin(), v.end());
        return v;
    }
    VK_WORD NewDrive() {
        const VK_WORD n = VK_CreateEditableLogicalDrive(cda());
        EXPECT_EQ(n, 5);
        return n;
    }
};

// 2^18 rounded up to a multiple of 3: where a drive placed behind logical drive 4 starts.
constexpr VK_QWORD kNextOnArray1 = 262146;

// ---- Moving an existing drive ----

TEST_F(StagedAssignHost, MoveReasonRows) {
    struct Row {
        std::string name;
        bool narrow_second;
        std::function<void(FirmwareState&)> live;
        std::function<void(StagedAssignHost&)> staged;
        VK_WORD target;
        VK_BYTE reason;
    };
    const std::vector<Row> rows = {
        {"equal drive counts", false, {}, {}, 1, kCanSetEditableLogicalDriveArrayOK},
        {"already there", false, {}, {}, 0, kCanSetEditableLogicalDriveArrayAlreadySet},
        {"different drive counts", true, {}, {}, 1, kCanSetEditableLogicalDriveArrayMismatchDriveCount},
        {"different block sizes",
         false,
         [](FirmwareState& st) {
             for (VK_WORD pd : {3, 4, 5}) {
                 st.find_drive(pd)->block_size = 4096;
                 st.find_drive(pd)->total_blocks = (1u << 22) + 4096u + kReserved;
             }
         },
         {},
         1,
         kCanSetEditableLogicalDriveArrayIncompatibleBlockSize},
        {"no room on the target",
         false,
         {},
         [](StagedAssignHost& h) { h.array(1)->common_drive_size_blocks = kNextOnArray1 + kBlocks1 - 1; },
         1,
         kCanSetEditableLogicalDriveArrayNoSpaceAvailableOnArray},
        {"moves not supported",
         false,
         [](FirmwareState& st) { st.set_page("miscellaneous", kNoMovesPage); },
         {},
         1,
         kCanSetEditableLogicalDriveArrayNotSupported},
        {"source holds a new drive",
         false,
         {},
         [](StagedAssignHost& h) {
             const VK_WORD n = h.NewDrive();
             h.ld(n)->flags |= kEditableLDArraySet | kEditableLDLocked;
             h.ld(n)->editable_array_number = 0;
             h.ld(n)->physical_drive_offset_block = VK_GetEditableArrayNextLogicalDriveOffset(h.cda(), 0);
             h.ld(n)->physical_drive_blocks_per_drive = 40000;
             h.array(0)->logical_drives[h.array(0)->logical_drive_count++] = n;
             h.array(0)->flags |= kEditableArrHasNewLD;
         },
         1,
         kCanSetEditableLogicalDriveArrayHasUnsavedLogicalDrive},
        {"LU caching staged",
         false,
         {},
         [](StagedAssignHost& h) { h.StageLUCaching(); },
         1,
         kCanSetEditableLogicalDriveArrayLUCachingEnabled},
        {"target is a split mirror",
         false,
         {},
         [](StagedAssignHost& h) { h.array(1)->flags |= kEditableArrSplitMirror; },
         1,
         kCanSetEditableLogicalDriveArrayNotDataArray},
        {"source is a split mirror",
         false,
         {},
         [](StagedAssignHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; },
         1,
         kCanSetEditableLogicalDriveArrayNotDataArray},
        {"SED adapter password awaited",
         false,
         {},
         [](StagedAssignHost& h) {
             h.array(1)->flags |= kEditableArrSEDEncryption;
             h.config()->controller_sed_encryption_status = 0x40;
         },
         1,
         kCanSetEditableLogicalDriveArrayWaitingOnSEDControllerPassword},
        {"SED adapter password given",
         false,
         {},
         [](StagedAssignHost& h) {
             h.array(1)->flags |= kEditableArrSEDEncryption;
             h.config()->controller_sed_encryption_status = 0x20;
         },
         1,
         kCanSetEditableLogicalDriveArrayOK},
        {"transformation memory too small",
         false,
         [](FirmwareState& st) { st.expansion.memory_kib = 1; },
         {},
         1,
         kCanSetEditableLogicalDriveArrayExceedsTransformationMemory},
        {"data not preservable",
         false,
         [](FirmwareState& st) { st.expansion.support_flags = 0x0F; },
         {},
         1,
         kCanSetEditableLogicalDriveArrayDataPreservationNotAvailable},
        // Drives 1, 2 and 3 each need a place: the moved one counts as well as the two behind it.
        {"queue one short",
         false,
         [](FirmwareState& st) { st.expansion.queued = 62; },
         {},
         1,
         kCanSetEditableLogicalDriveArrayMaxTransformationsReached},
        {"queue just fits",
         false,
         [](FirmwareState& st) { st.expansion.queued = 61; },
         {},
         1,
         kCanSetEditableLogicalDriveArrayOK},
        {"moved drive already queued", false, [](FirmwareState& st) { st.expansion.queued = 61; },
         [](StagedAssignHost& h) { h.ld(1)->flags |= kEditableLDSizeChange; }, 1,
         kCanSetEditableLogicalDriveArrayOK},
        // Only moves may already wait on the target; only plain transformations on the source.
        {"target waits on another transformation",
         false,
         {},
         [](StagedAssignHost& h) { h.ld(4)->flags |= kEditableLDSizeChange; },
         1,
         kCanSetEditableLogicalDriveArrayArrayStatusNotOK},
        {"target waits on a move",
         false,
         {},
         [](StagedAssignHost& h) { h.ld(4)->flags |= kEditableLDArrayMove; },
         1,
         kCanSetEditableLogicalDriveArrayOK},
        {"source waits on a move",
         false,
         {},
         [](StagedAssignHost& h) { h.ld(0)->flags |= kEditableLDArrayMove; },
         1,
         kCanSetEditableLogicalDriveArrayArrayStatusNotOK},
        {"target has an unlocked drive",
         false,
         {},
         [](StagedAssignHost& h) { h.ld(4)->flags &= ~kEditableLDLocked; },
         1,
         kCanSetEditableLogicalDriveArrayHasUnlockedLD},
        {"source has an unlocked drive",
         false,
         {},
         [](StagedAssignHost& h) { h.ld(0)->flags &= ~kEditableLDLocked; },
         1,
         kCanSetEditableLogicalDriveArrayHasUnlockedLD},
        {"controller locked",
         false,
         [](FirmwareState& st) {
             st.set_page("encryption", {0x01});
             st.encryption.boot_password_status = 0x2;
         },
         {},
         1,
         kCanSetEditableLogicalDriveArrayControllerStatusNotOK},
        {"RAID 0 onto auto-replace spares",
         false,
         {},
         [](StagedAssignHost& h) {
             h.ld(1)->RAID_level = kRAID0;
             h.array(1)->spare_drives[h.array(1)->spare_drive_count++] = 6;
             h.config()->editable_pd_list[6].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
             h.config()->controller_spare_activation_mode = kControllerSAMTypeFailure;
         },
         1,
         kCanSetEditableLogicalDriveArrayInvalidSpareConfiguration},
        {"RAID 0 onto auto-replace spares, predictive activation",
         false,
         {},
         [](StagedAssignHost& h) {
             h.ld(1)->RAID_level = kRAID0;
             h.array(1)->spare_drives[h.array(1)->spare_drive_count++] = 6;
             h.config()->editable_pd_list[6].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
             h.config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
         },
         1,
         kCanSetEditableLogicalDriveArrayOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(TwoArrays(row.narrow_second), row.live, row.staged));
        const VK_QWORD offset = ld(1)->physical_drive_offset_block;
        const VK_WORD source = ld(1)->editable_array_number;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveArray(cda(), 1, row.target), row.reason);
        const bool allowed = row.reason == kCanSetEditableLogicalDriveArrayOK;
        EXPECT_EQ(VK_SetEditableLogicalDriveArray(cda(), 1, row.target),
                  allowed ? kSetEditableLogicalDriveArrayOK : kSetEditableLogicalDriveArrayFailedUnknown);
        if (!allowed) {
            EXPECT_EQ(ld(1)->physical_drive_offset_block, offset);
            EXPECT_EQ(ld(1)->editable_array_number, source);
        }
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
}

TEST_F(StagedAssignHost, MovePacksTheDrivesLeftBehind) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoArrays()));
    ld(1)->logical_drive_accelerator = kLogicalDriveAcceleratorIOBypass;
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), 1, 1), kSetEditableLogicalDriveArrayOK);

    EXPECT_EQ(ld(1)->editable_array_number, 1);
    EXPECT_EQ(ld(1)->physical_drive_offset_block, kNextOnArray1);
    EXPECT_TRUE(ld(1)->flags & kEditableLDSparesChanged);
    EXPECT_TRUE(ld(1)->flags & kEditableLDArrayMove);
    // The target has no IO bypass: the drive's bypass does not follow it.
    EXPECT_EQ(ld(1)->logical_drive_accelerator, kLogicalDriveAcceleratorNone);
    // The first follower takes the old offset as it is; the next one starts at the next multiple of 3
    // after 2^20 + 2^18.
    EXPECT_EQ(ld(2)->physical_drive_offset_block, kOffset1);
    EXPECT_EQ(ld(3)->physical_drive_offset_block, 1310721u);
    EXPECT_EQ(ld(0)->physical_drive_offset_block, 0u);
    EXPECT_EQ(ld(4)->physical_drive_offset_block, 0u);
    for (VK_WORD n : {2, 3}) {
        EXPECT_TRUE(ld(n)->flags & kEditableLDOffsetDown) << n;
    }
    EXPECT_EQ(SortedDrives(0), (std::vector<VK_WORD>{0, 2, 3}));
    EXPECT_EQ(SortedDrives(1), (std::vector<VK_WORD>{1, 4}));
    EXPECT_FALSE(array(1)->flags & kEditableArrHasNewLD);
    EXPECT_FALSE(AnyWrite());
}

TEST_F(StagedAssignHost, MovedDriveTakesTheTargetsIOBypass) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoArrays()));
    array(1)->flags |= kEditableArrIOBypass;
    ld(1)->logical_drive_accelerator = kLogicalDriveAcceleratorNone;
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), 1, 1), kSetEditableLogicalDriveArrayOK);
    EXPECT_EQ(ld(1)->logical_drive_accelerator, kLogicalDriveAcceleratorIOBypass);
}

// ---- Placing a new drive ----

TEST_F(StagedAssignHost, NewDriveReasonRows) {
    struct Row {
        std::string name;
        std::function<FirmwareState()> scenario;
        std::function<void(StagedAssignHost&, VK_WORD)> staged;
        VK_WORD ld;
        VK_WORD target;
        VK_BYTE reason;
    };
    auto plain = [] { return TwoArrays(); };
    auto on_array = [](VK_WORD a) {
        return [a](StagedAssignHost& h, VK_WORD n) {
            h.ld(n)->flags |= kEditableLDArraySet;
            h.ld(n)->editable_array_number = a;
        };
    };
    auto auto_replace = [](VK_BYTE mode) {
        return [mode](StagedAssignHost& h, VK_WORD n) {
            h.ld(n)->flags |= kEditableLDRAIDSet;
            h.ld(n)->RAID_level = kRAID0;
            h.array(1)->spare_drives[h.array(1)->spare_drive_count++] = 6;
            h.config()->editable_pd_list[6].config_usage_info = kPhysicalDriveUsageAutoReplaceStandbySpare;
            h.config()->controller_spare_activation_mode = mode;
        };
    };
    const std::vector<Row> rows = {
        {"free space", plain, {}, 5, 1, kCanSetEditableLogicalDriveArrayOK},
        {"no such drive", plain, {}, 6, 1, kCanSetEditableLogicalDriveArrayInvalidLogicalDrive},
        {"drive number past the table",
         plain,
         {},
         64,
         1,
         kCanSetEditableLogicalDriveArrayInvalidLogicalDrive},
        {"no such array", plain, {}, 5, 3, kCanSetEditableLogicalDriveArrayInvalidArray},
        {"array number past the table", plain, {}, 5, 64, kCanSetEditableLogicalDriveArrayInvalidArray},
        {"array without data drives", plain,
         [](StagedAssignHost& h, VK_WORD) { VK_CreateEditableArray(h.cda()); }, 5, 2,
         kCanSetEditableLogicalDriveArrayArrayHasNoDataDrives},
        {"locked", plain, [](StagedAssignHost& h, VK_WORD n) { h.ld(n)->flags |= kEditableLDLocked; }, 5, 1,
         kCanSetEditableLogicalDriveArrayLogicalDriveIsLocked},
        {"set to its own array", plain, on_array(1), 5, 1, kCanSetEditableLogicalDriveArrayAlreadySet},
        {"set to another array", plain, on_array(0), 5, 1,
         kCanSetEditableLogicalDriveArrayChangeArrayNotAllowed},
        {"exactly the smallest drive left", plain,
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->common_drive_size_blocks = kNextOnArray1 + 32768; },
         5, 1, kCanSetEditableLogicalDriveArrayOK},
        {"one block short of the smallest drive", plain,
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->common_drive_size_blocks = kNextOnArray1 + 32767; },
         5, 1, kCanSetEditableLogicalDriveArrayNoSpaceAvailableOnArray},
        {"creatable space further on", plain,
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->offset_to_creatable_space = kNextOnArray1 + 1; }, 5,
         1, kCanSetEditableLogicalDriveArraySpaceNotCurrentlyAvailable},
        {"target has an unlocked drive", plain,
         [](StagedAssignHost& h, VK_WORD) { h.ld(4)->flags &= ~kEditableLDLocked; }, 5, 1,
         kCanSetEditableLogicalDriveArrayHasUnlockedLD},
        {"SED adapter password awaited", plain,
         [](StagedAssignHost& h, VK_WORD) {
             h.array(1)->flags |= kEditableArrSEDEncryption;
             h.config()->controller_sed_encryption_status = 0x40;
         },
         5, 1, kCanSetEditableLogicalDriveArrayWaitingOnSEDControllerPassword},
        {"split mirror", plain,
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->flags |= kEditableArrSplitMirror; }, 5, 1,
         kCanSetEditableLogicalDriveArrayNotDataArray},
        {"LU cache array, memory for 16 GiB", [] { return WithLUCacheMemory(TwoArrays(), 9000000); },
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->flags |= kEditableArrLUCache; }, 5, 1,
         kCanSetEditableLogicalDriveArrayOK},
        {"LU cache array, too little memory", [] { return WithLUCacheMemory(TwoArrays(), 100000); },
         [](StagedAssignHost& h, VK_WORD) { h.array(1)->flags |= kEditableArrLUCache; }, 5, 1,
         kCanSetEditableLogicalDriveArrayCacheMemoryExhausted},
        {"RAID 0 onto auto-replace spares", plain, auto_replace(kControllerSAMTypeFailure), 5, 1,
         kCanSetEditableLogicalDriveArrayInvalidSpareConfiguration},
        {"RAID 0 onto auto-replace spares, predictive", plain, auto_replace(kControllerSAMTypePredictive), 5,
         1, kCanSetEditableLogicalDriveArrayOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(row.scenario()));
        const VK_WORD n = NewDrive();
        if (row.staged) {
            row.staged(*this, n);
        }
        const VK_WORD count = array(1)->logical_drive_count;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveArray(cda(), row.ld, row.target), row.reason);
        const bool allowed = row.reason == kCanSetEditableLogicalDriveArrayOK;
        EXPECT_EQ(VK_SetEditableLogicalDriveArray(cda(), row.ld, row.target),
                  allowed ? kSetEditableLogicalDriveArrayOK : kSetEditableLogicalDriveArrayFailedUnknown);
        EXPECT_EQ(array(1)->logical_drive_count, allowed ? count + 1 : count);
        EXPECT_FALSE(AnyWrite());
        StopController();
    }
    ASSERT_NO_FATAL_FAILURE(Start(TwoArrays()));
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveArray(cda(), 0, 1),
              kCanSetEditableLogicalDriveArrayNoEditableConfigCreated);
    EXPECT_EQ(VK_SetEditableLogicalDriveArray(cda(), 0, 1), kSetEditableLogicalDriveArrayFailedUnknown);
}

TEST_F(StagedAssignHost, NewDriveInheritsFromItsArray) {
    struct Row {
        std::string name;
        VK_WORD array_flags;
        VK_BYTE accelerator;
        VK_QWORD extra_flags;
    };
    const std::vector<Row> rows = {
        {"plain", 0, kLogicalDriveAcceleratorUnknown, 0},
        {"IO bypass", kEditableArrIOBypass, kLogicalDriveAcceleratorIOBypass, 0},
        {"SED", kEditableArrSEDEncryption, kLogicalDriveAcceleratorUnknown, kEditableLDEnableSED},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(TwoArrays()));
        array(1)->flags |= row.array_flags;
        const VK_WORD n = NewDrive();
        ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), n, 1), kSetEditableLogicalDriveArrayOK);
        EXPECT_EQ(ld(n)->editable_array_number, 1);
        EXPECT_EQ(ld(n)->physical_drive_offset_block, kNextOnArray1);
        EXPECT_EQ(ld(n)->block_size_bytes, 512);
        EXPECT_EQ(ld(n)->logical_drive_accelerator, row.accelerator);
        EXPECT_EQ(ld(n)->flags &
                      (kEditableLDArraySet | kEditableLDPlaced | kEditableLDEnableSED | kEditableLDLUCache),
                  kEditableLDArraySet | kEditableLDPlaced | row.extra_flags);
        EXPECT_TRUE(array(1)->flags & kEditableArrHasNewLD);
        EXPECT_EQ(SortedDrives(1), (std::vector<VK_WORD>{4, n}));
        // The drives already there stay where they are.
        EXPECT_EQ(ld(4)->physical_drive_offset_block, 0u);
        StopController();
    }
}

TEST_F(StagedAssignHost, NewDriveOnAnLUCacheArrayBecomesACacheDrive) {
    ASSERT_NO_FATAL_FAILURE(Start(WithLUCacheMemory(TwoArrays(), 9000000)));
    array(1)->flags |= kEditableArrLUCache | kEditableArrIOBypass;
    const VK_WORD n = NewDrive();
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), n, 1), kSetEditableLogicalDriveArrayOK);
    EXPECT_TRUE(ld(n)->flags & kEditableLDLUCache);
    EXPECT_EQ(ld(n)->lu_cache_line_size_blocks, 128u);
    // The cache array's own accelerator wins over its IO bypass.
    EXPECT_EQ(ld(n)->logical_drive_accelerator, kLogicalDriveAcceleratorNone);
    const bool write_back = (VK_ControllerSupportsLUCache(cda()) & kControllerSupportsWriteBack) != 0;
    EXPECT_EQ(ld(n)->lu_cache_algorithm, write_back ? 2 : 1);
}

} // namespace
