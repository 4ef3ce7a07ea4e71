// Staged arrays against a simulated controller: the status word of a staged array and its SED
// predicates, the transformation bookkeeping of staged logical drives, and drive compatibility.
// The edits that produce these stagings come from other editing functions; here the fixture changes
// the staged records directly, as those functions would leave them.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

// Array 0: logical drives 0 (offset 0) and 1 (right after it) on drives 0-2, drive 3 their spare;
// drives 4 and 5 unassigned.
FirmwareState TwoDriveArray() {
    FirmwareState st = FallingSEDDrives(6);
    FwLogicalDrive& a = st.add_configured_drive(0, {0, 1, 2}, 1u << 20);
    a.fault_tolerance = 3;
    a.spares = {3};
    FwLogicalDrive& b = st.add_configured_drive(1, {0, 1, 2}, 1u << 19, 1u << 20);
    b.fault_tolerance = 3;
    b.spares = {3};
    return st;
}

class StagedArrayHost : public StagedConfigHost {
public:
    // A new staged logical drive in the first free slot, placed on `array_number`.
    PEDITABLE_LOGICAL_DRIVE StageNewLogicalDrive(VK_WORD array_number, VK_QWORD offset,
                                                 VK_QWORD blocks_per_drive) {
        PEDITABLE_LOGICAL_DRIVE r =
            StageRecord(array(array_number), kEditableLDNewDrive | kEditableLDArraySet);
        r->physical_drive_offset_block = offset;
        r->physical_drive_blocks_per_drive = blocks_per_drive;
        return r;
    }
    // A new staged array holding the given unassigned drives as data drives.
    PEDITABLE_ARRAY StageNewArray(std::vector<VK_WORD> drives, VK_WORD block_size) {
        return FillArray(VK_CreateEditableArray(cda()), drives, std::nullopt, block_size);
    }
};

// ---- Staged-array status word ----

TEST_F(StagedArrayHost, NewArrayWordsFromItsLogicalDrivesAndBlockSize) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoDriveArray()));
    PEDITABLE_ARRAY empty = StageNewArray({}, 512);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), empty->editable_array_number), kArrayStatusOK);

    PEDITABLE_ARRAY fresh = StageNewArray({4}, 512);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), fresh->editable_array_number), kArrayStatusOK);
    StageNewLogicalDrive(fresh->editable_array_number, 0, 1u << 16);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), fresh->editable_array_number),
              static_cast<VK_DWORD>(kArrayStatusHasUnlockedLogicalDrive));

    PEDITABLE_ARRAY odd = StageNewArray({5}, 520);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), odd->editable_array_number),
              static_cast<VK_DWORD>(kArrayStatusUnsupportedBlockSizeForRAIDConfiguration));
    // A 4096-byte array is supported; an array without drives is not judged by its block size.
    odd->common_block_size = 4096;
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), odd->editable_array_number), kArrayStatusOK);
    empty->common_block_size = 520;
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), empty->editable_array_number), kArrayStatusOK);
}

TEST_F(StagedArrayHost, NoConfigurationOrEmptySlotGivesZero) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoDriveArray()));
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), kArrayStatusOK);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 1), 0u);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 64), 0u);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0xFFFF), 0u);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), 0u);
    EXPECT_FALSE(_VK_EditableArrayHasLockedSEDPhysicalDrive(cda(), 0));
    EXPECT_FALSE(_VK_EditableArrayHasFailedSEDLogicalDrive(cda(), 0));
}

// One row per bit an existing array gets from the live array and the staged lists.
TEST_F(StagedArrayHost, ExistingArrayWordRows) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        std::function<void(StagedArrayHost&)> staged;
        VK_DWORD word;
    };
    auto unit = [](VK_WORD n, std::uint8_t status) {
        return [n, status](FirmwareState& st) { st.find_configured_drive(n)->unit_status = status; };
    };
    const Row rows[] = {
        {"as live", {}, {}, kArrayStatusOK},
        {"falling offsets",
         {},
         [](StagedArrayHost& h) { std::swap(h.array(0)->logical_drives[0], h.array(0)->logical_drives[1]); },
         kArrayStatusHasGaps},
        {"gap past the alignment",
         {},
         [](StagedArrayHost& h) { h.ld(1)->physical_drive_offset_block += h.array(0)->alignment_size_blocks + 1; },
         kArrayStatusHasGaps},
        {"failed data drive", [](FirmwareState& st) { for (auto n : {0, 1}) st.find_configured_drive(n)->failed = {2}; },
         {}, kArrayStatusHasFailedDataDrive},
        {"failed staged spare",
         [](FirmwareState& st) { for (auto n : {0, 1}) st.find_configured_drive(n)->failed = {3}; }, {},
         kArrayStatusHasFailedSpareDrive},
        {"erasing data drive", [](FirmwareState& st) { st.find_drive(1)->extra_device_flags = 0x10; }, {},
         kArrayStatusHasErasingDataDrive},
        {"spare below the last extent", [](FirmwareState& st) { st.find_drive(3)->total_blocks = kReserved + 1000; },
         {}, kArrayStatusHasInvalidSpare},
        {"owned foreign SED", [](FirmwareState& st) { st.find_drive(3)->feature_flags = 0x1 | 0x800 | 0x1000; }, {},
         kArrayStatusHasSEDForeignLogicalDrive},
        {"active spare", [](FirmwareState& st) { for (auto n : {0, 1}) st.find_configured_drive(n)->active_spares = {3}; },
         {}, kArrayStatusHasActiveSpare},
        {"missing drives", [](FirmwareState& st) { st.find_configured_drive(0)->missing_drives = 1; }, {},
         kArrayStatusHasFailedDataDrive},
        {"failed logical drive", unit(1, 1), {}, kArrayStatusHasFailedLogicalDrive},
        {"erasing logical drive", unit(0, 15), {}, kArrayStatusHasErasingLogicalDrive},
        {"encrypted, encryption not pending",
         {},
         [](StagedArrayHost& h) { h.ld(1)->flags |= kEditableLDEncrypted; },
         kArrayStatusHasOfflineLogicalDrive},
        {"volatile key changed",
         {},
         [](StagedArrayHost& h) { h.ld(0)->flags |= kEditableLDVolatileKey | kEditableLDVolatileKeyChanged; },
         kArrayStatusHasLogicalDriveWithVolatileKeyOp},
        {"transformation staged",
         {},
         [](StagedArrayHost& h) { h.ld(1)->flags |= kEditableLDSizeChange; },
         kArrayStatusHasQueuedLogicalDriveTransformation},
        {"unlocked",
         {},
         [](StagedArrayHost& h) { h.ld(0)->flags &= ~kEditableLDLocked; },
         kArrayStatusHasUnlockedLogicalDrive},
        {"new logical drive after the last",
         {},
         [](StagedArrayHost& h) { h.StageNewLogicalDrive(0, (1u << 20) + (1u << 19), 1u << 10); },
         kArrayStatusHasUnlockedLogicalDrive},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(TwoDriveArray(), row.live, row.staged));
        EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), row.word);
        StopController();
    }
}

TEST_F(StagedArrayHost, FlushingLUCacheCounts) {
    FirmwareState st = FallingSEDDrives(4);
    FwLogicalDrive& data = st.add_configured_drive(0, {0, 1}, 1u << 20);
    data.fault_tolerance = 2;
    data.lu_cache_state = 0x20;
    data.lu_cache_state_stats = 0x20;
    FwLogicalDrive& cache = AddLUCache(st, 0, 1, {2}, 1u << 18);
    cache.lu_cache_state = 0x20;
    cache.lu_cache_state_stats = 0x20;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(LU_CACHE_STATE(VK_GetLogicalDriveLUCacheStatusInfo(cda(), 0)), kLUCacheStateFlushing);
    const VK_WORD a = VK_GetLogicalDriveArray(cda(), 0);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), a), static_cast<VK_DWORD>(kArrayStatusHasFlushingLogicalDrive));
}

TEST_F(StagedArrayHost, SEDPredicates) {
    FirmwareState st = TwoDriveArray();
    st.find_drive(1)->feature_flags = 0x1 | 0x20; // SED, locked
    st.find_configured_drive(1)->unit_status = 30;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_TRUE(_VK_EditableArrayHasLockedSEDPhysicalDrive(cda(), 0));
    EXPECT_TRUE(_VK_EditableArrayHasFailedSEDLogicalDrive(cda(), 0));
    // Only the staged data drives count: drive 1 taken out of the list clears the first.
    PEDITABLE_ARRAY a = array(0);
    a->data_drives[1] = a->data_drives[--a->data_drive_count];
    EXPECT_FALSE(_VK_EditableArrayHasLockedSEDPhysicalDrive(cda(), 0));
    // A new array has no live logical drives to have failed.
    PEDITABLE_ARRAY fresh = StageNewArray({4}, 512);
    StageNewLogicalDrive(fresh->editable_array_number, 0, 1u << 16);
    EXPECT_FALSE(_VK_EditableArrayHasFailedSEDLogicalDrive(cda(), fresh->editable_array_number));
    EXPECT_FALSE(_VK_EditableArrayHasLockedSEDPhysicalDrive(cda(), 7));
}

} // namespace

namespace {

// ---- Transformation bookkeeping ----

constexpr VK_QWORD kRefreshed = 0x7FF000000ULL | kEditableLDDestructiveEncode;

TEST_F(StagedArrayHost, RefreshComparesEachStagedDriveWithItsLiveRecord) {
    struct Row {
        const char* name;
        std::function<void(StagedArrayHost&)> edit;
        VK_QWORD bits;
    };
    const Row rows[] = {
        {"identical", {}, 0},
        {"moved to a new SED array",
         [](StagedArrayHost& h) {
             PEDITABLE_ARRAY a = h.StageNewArray({4}, 512);
             a->flags |= kEditableArrSEDEncryption;
             h.ld(1)->editable_array_number = a->editable_array_number;
         },
         kEditableLDArrayMove | kEditableLDEnableSED},
        {"moved to a new plain array",
         [](StagedArrayHost& h) { h.ld(1)->editable_array_number = h.StageNewArray({4}, 512)->editable_array_number; },
         kEditableLDArrayMove},
        {"one drive replaced", [](StagedArrayHost& h) { h.array(0)->data_drives[2] = 4; }, kEditableLDDrivesSwapped},
        {"two added, one removed",
         [](StagedArrayHost& h) {
             PEDITABLE_ARRAY a = h.array(0);
             a->data_drives[2] = 4;
             a->data_drives[a->data_drive_count++] = 5;
             a->data_drives[a->data_drive_count++] = 6;
         },
         kEditableLDDrivesSwapped | kEditableLDDrivesAdded},
        {"one removed", [](StagedArrayHost& h) { --h.array(0)->data_drive_count; }, kEditableLDDrivesRemoved},
        {"encrypted keeping data",
         [](StagedArrayHost& h) { h.ld(1)->flags |= kEditableLDEncrypted | kEditableLDPreserveData; },
         kEditableLDTransformEncode},
        {"encrypted without keeping data", [](StagedArrayHost& h) { h.ld(1)->flags |= kEditableLDEncrypted; },
         kEditableLDDestructiveEncode},
        {"moved up and grown",
         [](StagedArrayHost& h) { h.ld(1)->physical_drive_offset_block += 2048; },
         kEditableLDOffsetUp | kEditableLDExtentGrow},
        {"shrunk in place",
         [](StagedArrayHost& h) {
             h.ld(1)->physical_drive_blocks_per_drive -= 2048;
             h.ld(1)->drive_size_blocks -= 4096;
         },
         kEditableLDExtentShrink | kEditableLDSizeChange},
        {"restriped", [](StagedArrayHost& h) { h.ld(1)->strip_size_blocks = 128; }, kEditableLDGeometryChange},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = TwoDriveArray();
        st.add_drive(6, 2).total_blocks = (1u << 24) + kReserved;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        ld(1)->flags |= kRefreshed; // stale bits from an earlier refresh go
        if (row.edit) {
            row.edit(*this);
        }
        _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
        EXPECT_EQ(ld(1)->flags & (kRefreshed | kEditableLDEnableSED), row.bits);
        // A change of the array's drives changes every logical drive on it.
        const VK_QWORD shared = row.bits & (kEditableLDDrivesSwapped | kEditableLDDrivesAdded | kEditableLDDrivesRemoved);
        EXPECT_EQ(ld(0)->flags & kRefreshed, shared);
        const int counted = ((row.bits & kEditableLDTransformation) != 0) + (shared != 0);
        EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), counted);
        StopController();
    }
}

TEST_F(StagedArrayHost, EncryptedWithoutPreservationThenPlainAgainLeavesNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoDriveArray()));
    ld(0)->flags |= kEditableLDEncrypted;
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
    EXPECT_EQ(ld(0)->flags & kRefreshed, kEditableLDDestructiveEncode);
    ld(0)->flags &= ~kEditableLDEncrypted;
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
    EXPECT_EQ(ld(0)->flags & kRefreshed, 0u);
}

TEST_F(StagedArrayHost, QueueCountsTheControllersQueueOnlyInALongEnoughReply) {
    for (std::uint32_t fixed : {53u, 54u}) {
        SCOPED_TRACE(fixed);
        FirmwareState st = TwoDriveArray();
        st.expansion.queued = 64;
        st.expansion.fixed_length = fixed;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        const VK_WORD controller = fixed > 53 ? 64 : 0;
        EXPECT_EQ(_VK_GetLogicalDriveTransformationQueueCount(cda()), controller);
        ld(0)->physical_drive_offset_block += 2048;
        _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
        EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), controller + 1);
        EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()) > kMaxQueuedTransformations, fixed > 53);
        StopController();
    }
}

TEST_F(StagedArrayHost, QueueCountIsZeroWhenTheExpansionReadFails) {
    FirmwareState st = TwoDriveArray();
    st.expansion.queued = 9;
    qvsim::FwFault fault;
    fault.bmic = 0x59;
    fault.count = 0;
    fault.err = EIO;
    st.faults.push_back(fault);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(_VK_GetLogicalDriveTransformationQueueCount(cda()), 0);
    ld(1)->strip_size_blocks = 128;
    _VK_RefreshEditableLogicalDriveTransformationFlags(cda());
    EXPECT_EQ(ld(1)->flags & kRefreshed, kEditableLDGeometryChange);
    EXPECT_EQ(_VK_GetEditableLogicalDriveTransformationQueueCount(cda()), 1);
}

} // namespace

namespace {

TEST_F(StagedArrayHost, TransformabilityRows) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> live;
        VK_WORD ld;
        VK_BYTE result;
    } const rows[] = {
        {"live geometry", {}, 1, 1},
        {"memory too small", [](FirmwareState& st) { st.expansion.memory_kib = 256; }, 1, 2},
        {"number 64", {}, 64, 6},
        {"not on the controller", {}, 5, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = TwoDriveArray();
        // RAID 0, so that the full-stripe limit (a parity rule) stays out of these rows.
        for (VK_WORD n : {0, 1}) {
            st.find_configured_drive(n)->fault_tolerance = 0;
        }
        if (row.live) {
            row.live(st);
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(_VK_IsLogicalDriveTransformable(cda(), row.ld), row.result);
        StopController();
    }
}

} // namespace

namespace {

// ---- Drive compatibility, SED types and rules, IO bypass ----

TEST_F(StagedArrayHost, CompatibilityMaskClearsOneBitPerDifference) {
    FirmwareState st = TwoDriveArray();
    st.find_drive(5)->misc_drive_flags = 0x8000; // on the boot connector
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    const VK_DWORD basic = VK_GetPhysicalDriveBasicInfo(cda(), 0);
    struct Row {
        const char* name;
        VK_DWORD type;
        VK_QWORD block_size;
        VK_BOOL boot;
        VK_BYTE mask;
    } const rows[] = {
        {"identical", basic, 512, kFalse, 0xFF},
        {"recording", basic ^ 0x100, 512, kFalse, 0xFE},
        {"media", basic ^ 0x10, 512, kFalse, 0xFD},
        {"interface", basic ^ 0x1, 512, kFalse, 0xFB},
        {"block size", basic, 4096, kFalse, 0xF7},
        {"boot connector", basic, 512, kTrue, 0xEF},
        {"everything", basic ^ 0x111, 520, kTrue, 0xE0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(__VK_PhysicalDriveCompat(cda(), 0, row.type, row.block_size, row.boot), row.mask);
    }
    // Drive against drive and against staged arrays.
    EXPECT_EQ(__VK_PhysicalDriveCompatibility(cda(), 4, 0), 0xFF);
    EXPECT_EQ(__VK_PhysicalDriveCompatibility(cda(), 5, 0), 0xEF);
    EXPECT_EQ(__VK_PhysicalDriveCompatibility(cda(), 0, 5), 0xEF);
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), 0, 4), 0xFF);
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), 0, 5), 0xEF);
    array(0)->common_block_size = 4096;
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), 0, 4), 0xF7);
    const VK_WORD empty = StageNewArray({}, 512)->editable_array_number;
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), empty, 5), 0xFF);
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), 9, 4), 0);
    EXPECT_EQ(__VK_EditableArrayPhysicalDriveCompatibility(cda(), 64, 4), 0);
}

TEST(CompatMaskReading, ThreeWays) {
    using telmar::CompatMismatch;
    struct Row {
        VK_BYTE mask;
        CompatMismatch reading;
    } const rows[] = {
        {0xFF, CompatMismatch::kNone},
        {0xF7, CompatMismatch::kBlockSize},
        {0xE7, CompatMismatch::kBlockSize},
        {0xFE, CompatMismatch::kMixedDriveTypes},
        {0xF9, CompatMismatch::kMixedDriveTypes},
        {0xEF, CompatMismatch::kConnectors},
        {0xEE, CompatMismatch::kConnectors},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.mask));
        EXPECT_EQ(telmar::ReadCompatMask(row.mask), row.reading);
    }
}

TEST(SEDTypeOfADrive, IncompatibleCountsAsNonSED) {
    struct Row {
        VK_UINT64 info;
        VK_BYTE type;
    } const rows[] = {
        {0, 1},
        {kPhysicalDriveEncryptionSEDIsOPALSED, 1}, // not an SED at all
        {kPhysicalDriveEncryptionSEDDrive, 1},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsOPALSED, 2},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsEnterpriseSED, 4},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsOPALSED | kPhysicalDriveEncryptionSEDIsEnterpriseSED, 4},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsOPALSED | kPhysicalDriveEncryptionSEDIsIncompatibleSED, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.info);
        EXPECT_EQ(_VK_GetPhysicalDriveArraySEDType(row.info), row.type);
    }
}

constexpr std::uint32_t kSED = 0x1, kLocked = 0x20, kOtherwiseOwned = 0x400, kOwned = 0x800, kForeign = 0x1000,
                        kOPAL = 0x2000, kEnterprise = 0x4000, kIncompatible = 0x8000, kLockedOut = 0x20000;

TEST_F(StagedArrayHost, SEDTypesOfStagedArrays) {
    // Data drives 0 and 1 OPAL, 2 Enterprise; spare 3 no SED.
    FirmwareState st = TwoDriveArray();
    for (VK_WORD pd : {0, 1}) {
        st.find_drive(pd)->feature_flags = kSED | kOPAL;
    }
    st.find_drive(2)->feature_flags = kSED | kEnterprise;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(_VK_GetEditableArrayCommonSEDType(cda(), 0), 7);
    const VK_WORD two[] = {2};
    const VK_WORD opal[] = {0, 1};
    EXPECT_EQ(__VK_GetEditableArrayCommonSEDTypeAfterRemovingPD(cda(), 0, two, 1), 2);
    EXPECT_EQ(__VK_GetEditableArrayCommonSEDTypeAfterRemovingPD(cda(), 0, opal, 2), 4);
    EXPECT_EQ(__VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(cda(), 0, 2), 2);
    EXPECT_EQ(__VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(cda(), 0, 0), 6);
    EXPECT_EQ(_VK_GetEditableArrayCommonSEDType(cda(), 9), 0);
    StopController();

    // An OPAL array whose spare is no SED is a mix.
    st = TwoDriveArray();
    for (VK_WORD pd : {0, 1, 2}) {
        st.find_drive(pd)->feature_flags = kSED | kOPAL;
    }
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(_VK_GetEditableArrayCommonSEDType(cda(), 0), 3);
    EXPECT_EQ(array(0)->common_sed_type, 3);
    EXPECT_EQ(__VK_GetEditableArrayCommonSEDTypeAfterSwappingPD(cda(), 0, 1), 2);
}

TEST_F(StagedArrayHost, SEDRules) {
    struct Row {
        const char* name;
        std::uint32_t features;
        VK_BYTE array_type;
        VK_BYTE answer;
    } const rows[] = {
        {"OPAL into OPAL", kSED | kOPAL, 2, 0},
        {"OPAL into Enterprise", kSED | kOPAL, 4, 1},
        {"no SED into no SED", 0, 1, 0},
        {"no SED into OPAL", 0, 2, 1},
        {"incompatible OPAL into no SED", kSED | kOPAL | kIncompatible, 1, 1},
        {"foreign and owned", kSED | kOPAL | kForeign | kOwned, 2, 2},
        {"foreign, not owned", kSED | kOPAL | kForeign, 2, 0},
        {"owned, not foreign", kSED | kOPAL | kOwned, 2, 0},
        {"locked out", kSED | kOPAL | kLockedOut, 2, 2},
        {"owned by another party", kSED | kOPAL | kOtherwiseOwned, 2, 2},
        {"locked", kSED | kOPAL | kLocked, 2, 2},
    };
    FirmwareState st = TwoDriveArray();
    const VK_WORD first = 10;
    for (size_t i = 0; i < std::size(rows); ++i) {
        auto& d = st.add_drive(static_cast<VK_WORD>(first + i), 2);
        d.feature_flags = rows[i].features;
    }
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].name);
        const VK_WORD pd = static_cast<VK_WORD>(first + i);
        EXPECT_EQ(__VK_ArrayCheckSEDRules(cda(), rows[i].array_type, 0x20, pd), rows[i].answer);
        // With SED encryption off every drive fits, whatever it is.
        EXPECT_EQ(__VK_ArrayCheckSEDRules(cda(), rows[i].array_type, 0x40 | 0x100, pd), 0);
    }
}

TEST(LogicalDriveNumbers, UniqKeepsTheFirstOfEachInOrder) {
    VK_WORD list[] = {5, 3, 5, 1, 3, 7, 7, 0xFFFF, 5};
    size_t count = std::size(list);
    VK_uniq(list, &count, sizeof(VK_WORD), compare_ld_numbers_by_value);
    ASSERT_EQ(count, 5u);
    EXPECT_EQ(std::vector<VK_WORD>(list, list + count), (std::vector<VK_WORD>{5, 3, 1, 7, 0xFFFF}));
    const VK_WORD low = 1, high = 0xFFFF;
    EXPECT_LT(compare_ld_numbers_by_value(&low, &high), 0);
    EXPECT_GT(compare_ld_numbers_by_value(&high, &low), 0);
    EXPECT_EQ(compare_ld_numbers_by_value(&high, &high), 0);
}

// Locked by the controller's encryption: a boot password is awaited.
void Locked(FirmwareState& st) {
    st.set_page("encryption", {0x01});
    st.encryption.boot_password_status = 0x2;
}

// Array 0 of TwoDriveArray() on solid-state drives.
FirmwareState SSDArray() {
    FirmwareState st = TwoDriveArray();
    for (VK_WORD pd : {0, 1, 2, 3, 4}) {
        st.find_drive(pd)->extra_device_flags = 0x20;
        st.find_drive(pd)->rpm = 1;
    }
    return st;
}

TEST_F(StagedArrayHost, IOBypassReasonRows) {
    using Staged = std::function<void(StagedArrayHost&)>;
    auto unit = [](std::uint8_t status) {
        return [status](FirmwareState& st) { st.find_configured_drive(1)->unit_status = status; };
    };
    struct Row {
        const char* name;
        Live live;
        Staged staged;
        VK_WORD array;
        VK_BOOL toggle;
        VK_BYTE reason;
    };
    const Row rows[] = {
        {"allowed", {}, {}, 0, kTrue, kCanSetEditableArrayIOBypassOK},
        {"no configuration", {}, [](StagedArrayHost& h) { VK_DestroyEditableConfiguration(h.cda()); }, 0, kTrue,
         kCanSetEditableArrayIOBypassNoEditableConfigCreated},
        {"empty slot", {}, {}, 9, kTrue, kCanSetEditableArrayIOBypassInvalidArray},
        {"number 64", {}, {}, 64, kTrue, kCanSetEditableArrayIOBypassInvalidArray},
        {"number 0xFFFF", {}, {}, 0xFFFF, kFalse, kCanSetEditableArrayIOBypassInvalidArray},
        {"controller locked", Locked, {}, 0, kTrue,
         kCanSetEditableArrayIOBypassControllerStatusNotOK},
        {"off when off", {}, {}, 0, kFalse, kCanSetEditableArrayIOBypassAlreadySet},
        {"on when on", {}, [](StagedArrayHost& h) { h.array(0)->flags |= kEditableArrIOBypass; }, 0, kTrue,
         kCanSetEditableArrayIOBypassAlreadySet},
        {"off when on", {}, [](StagedArrayHost& h) { h.array(0)->flags |= kEditableArrIOBypass; }, 0, kFalse,
         kCanSetEditableArrayIOBypassOK},
        {"LU cache array", {}, [](StagedArrayHost& h) { h.array(0)->flags |= kEditableArrLUCache; }, 0, kTrue,
         kCanSetEditableArrayIOBypassLUCachingArray},
        {"not supported", [](FirmwareState& st) { st.set_page("io", {0x01}); }, {}, 0, kTrue,
         kCanSetEditableArrayIOBypassNotSupported},
        {"no data drives",
         {},
         [](StagedArrayHost& h) { h.array(0)->data_drive_count = 0; },
         0, kTrue, kCanSetEditableArrayIOBypassNoDataDrives},
        {"not SSD",
         {},
         [](StagedArrayHost& h) { h.array(0)->common_drive_type &= ~0x10u; },
         0, kTrue, kCanSetEditableArrayIOBypassDriveTypeNotSSD},
        {"not SSD, turning off",
         {},
         [](StagedArrayHost& h) {
             h.array(0)->common_drive_type &= ~0x10u;
             h.array(0)->flags |= kEditableArrIOBypass;
         },
         0, kFalse, kCanSetEditableArrayIOBypassOK},
        {"split mirror", {}, [](StagedArrayHost& h) { h.array(0)->flags |= kEditableArrSplitMirror; }, 0, kTrue,
         kCanSetEditableArrayIOBypassNotDataArray},
        {"LU cache configured", {}, [](StagedArrayHost& h) { h.ld(1)->lu_cache_ld_number = 0; }, 0, kTrue,
         kCanSetEditableArrayIOBypassLUCacheConfigured},
        {"failed logical drive", unit(1), {}, 0, kTrue, kCanSetEditableArrayIOBypassHasFailedLogicalDrive},
        {"transforming logical drive", unit(10), {}, 0, kTrue,
         kCanSetEditableArrayIOBypassHasTransformingLogicalDrive},
        {"rekeying logical drive", unit(22), {}, 0, kTrue, kCanSetEditableArrayIOBypassHasTransformingLogicalDrive},
        {"recovering logical drive", unit(5), {}, 0, kTrue, kCanSetEditableArrayIOBypassHasRecoveringLogicalDrive},
        {"initializing logical drive", unit(18), {}, 0, kTrue,
         kCanSetEditableArrayIOBypassHasInitializingLogicalDrive},
        {"degraded logical drive", unit(3), {}, 0, kTrue, kCanSetEditableArrayIOBypassOK},
        {"new SSD array",
         {},
         [](StagedArrayHost& h) {
             PEDITABLE_ARRAY a = h.StageNewArray({4}, 512);
             a->common_drive_type = h.array(0)->common_drive_type;
         },
         1, kTrue, kCanSetEditableArrayIOBypassOK},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(StartRow(SSDArray(), row.live, row.staged));
        EXPECT_EQ(VK_CanSetEditableArrayIOBypass(cda(), row.array, row.toggle), row.reason);
        const bool allowed = row.reason == kCanSetEditableArrayIOBypassOK;
        EXPECT_EQ(VK_SetEditableArrayIOBypass(cda(), row.array, row.toggle),
                  allowed ? kSetEditableArrayIOBypassOK : kSetEditableArrayIOBypassFailedUnknown);
        StopController();
    }
}

TEST_F(StagedArrayHost, IOBypassSetMarksEveryLogicalDriveAndTheCacheConfiguration) {
    ASSERT_NO_FATAL_FAILURE(Start(SSDArray()));
    ASSERT_TRUE(_VK_IsSSDArray(cda(), array(0)));
    ASSERT_EQ(config()->flags & kEditableConfigCacheConfig, 0u);
    ASSERT_EQ(VK_SetEditableArrayIOBypass(cda(), 0, kTrue), kSetEditableArrayIOBypassOK);
    for (VK_WORD n : {0, 1}) {
        EXPECT_EQ(ld(n)->logical_drive_accelerator, kLogicalDriveAcceleratorIOBypass);
        EXPECT_TRUE(ld(n)->flags & kEditableLDAcceleratorChanged);
    }
    EXPECT_TRUE(array(0)->flags & kEditableArrIOBypass);
    EXPECT_TRUE(VK_GetEditableArrayFlags(cda(), 0) & kEditableArrayFlagIOBypass);
    EXPECT_TRUE(config()->flags & kEditableConfigCacheConfig);

    ASSERT_EQ(VK_SetEditableArrayIOBypass(cda(), 0, kFalse), kSetEditableArrayIOBypassOK);
    for (VK_WORD n : {0, 1}) {
        EXPECT_EQ(ld(n)->logical_drive_accelerator, kLogicalDriveAcceleratorNone);
    }
    EXPECT_FALSE(array(0)->flags & kEditableArrIOBypass);
    // A hard-disk array is no SSD array.
    StopController();
    ASSERT_NO_FATAL_FAILURE(Start(TwoDriveArray()));
    EXPECT_FALSE(_VK_IsSSDArray(cda(), array(0)));
    EXPECT_FALSE(_VK_IsSSDArray(cda(), nullptr));
}

} // namespace
