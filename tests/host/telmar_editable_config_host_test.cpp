// The editable configuration against a simulated controller: creation and its refusals, population
// from the live model (arrays, drive lists, usages, logical drives with their flags, LU cache pairs,
// split mirrors, labels, boot volumes), the checksum, the staged-array queries, the by-offset walks,
// the debug dump and destruction.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "pavl_debug_private.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ptelm_encryption.h"
#include "staged_config_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using namespace staged_host;

const std::array<std::uint8_t, 16> kBootId{0x60, 0x0D, 0x1A, 0x00, 0x21, 0x32, 0x43, 0x54,
                                           0x65, 0x76, 0x87, 0x98, 0xA9, 0xBA, 0xCB, 0xDC};

// A RAID 5 array of two logical drives (0, 1), a RAID 1 array with an auto-replace spare (2), an LU
// cache pair (3 cached by 4), a split-mirror primary (5) and its backup (6), and drive 14 unassigned.
FirmwareState Mixed() {
    FirmwareState st = FallingDrives(15);
    st.set_page("lu_cache", {0x20, 0x00, 0x00});
    st.set_page("encryption", {0x01});
    st.identify.yet_more_flags |= 0x10000000; // boot volumes
    FwLogicalDrive& r5a = st.add_configured_drive(0, {0, 1, 2, 3}, 1u << 20);
    r5a.fault_tolerance = 3;
    r5a.label = "alpha";
    r5a.encryption_flags = 0x01;
    r5a.additional_encryption_flags = 0x03; // volatile key and its backup
    FwLogicalDrive& r5b = st.add_configured_drive(1, {0, 1, 2, 3}, 1u << 19, 1u << 20);
    r5b.fault_tolerance = 3;
    r5b.strip = 256;
    r5b.label = "beta";
    FwLogicalDrive& r1 = st.add_configured_drive(2, {4, 5}, 1u << 18);
    r1.fault_tolerance = 2;
    r1.spares = {6};
    r1.more_unit_flags = 0x01; // auto-replace spares
    r1.label = "gamma";
    r1.page83_id = kBootId;
    FwLogicalDrive& data = st.add_configured_drive(3, {7, 8}, 1u << 20);
    data.fault_tolerance = 2;
    data.lu_cache_bits = 0x01;
    data.lu_cache_other = 4;
    data.lu_cache_algorithm = 2;
    data.lu_cache_line_blocks = 256; // 131,072 bytes
    data.lu_cache_write_policy = 3;
    data.lu_cache_requested_write_policy = 2;
    FwLogicalDrive& cache = st.add_configured_drive(4, {9}, 1u << 18);
    cache.property = 0x04;
    cache.lu_cache_other = 3;
    cache.lu_cache_algorithm = 2;
    cache.lu_cache_line_blocks = 256;
    cache.lu_cache_write_policy = 3;
    cache.lu_cache_requested_write_policy = 2;
    FwLogicalDrive& primary = st.add_configured_drive(5, {10, 11}, 1u << 20);
    primary.signature = 0xA;
    primary.other_signature = 0xB;
    FwLogicalDrive& backup = st.add_configured_drive(6, {12, 13}, 1u << 20);
    backup.property = 0x03;
    backup.signature = 0xB;
    backup.other_signature = 0xA;
    backup.backup_timestamp = 77;
    backup.bios_disable_flag = 0x02;
    st.parameters.primary_boot_lun = kBootId;
    return st;
}

std::vector<VK_WORD> Walk(VK_WORD (*next)(PCDA, VK_WORD, VK_WORD), PCDA cda, VK_WORD number) {
    std::vector<VK_WORD> out;
    for (VK_WORD n = next(cda, number, 0xFFFF); n != 0xFFFF && out.size() < 400; n = next(cda, number, n)) {
        out.push_back(n);
    }
    return out;
}

// The configuration is staged by the tests themselves: creating it is under test.
class EditableConfigHost : public LiveConfigHost {
protected:
    void Stop() { StopController(); }
    _CDA* data() { return _VK_CDA(cda()); }
    PEDITABLE_CONFIGURATION config() { return data()->editable_configuration; }

    // The checksum of a fresh configuration, which is destroyed again.
    VK_DWORD Checksum() {
        EXPECT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        const VK_DWORD crc = config() != nullptr ? config()->crc : 0;
        VK_DestroyEditableConfiguration(cda());
        return crc;
    }
};

TEST_F(EditableConfigHost, CreationStagesWhatTheLiveModelReports) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const PEDITABLE_CONFIGURATION c = config();
    ASSERT_NE(c, nullptr);
    const VK_WORD arrays = VK_GetControllerTotalArrayCount(cda());
    ASSERT_EQ(arrays, 6);
    EXPECT_EQ(c->editable_array_count, arrays);
    EXPECT_EQ(c->editable_ld_count, 7);

    for (VK_WORD a = 0; a < arrays; ++a) {
        SCOPED_TRACE(a);
        const PEDITABLE_ARRAY s = c->editable_array_list[a];
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->editable_array_number, a);
        EXPECT_EQ(Walk(VK_EnumerateEditableArrayDataDrives, cda(), a), Walk(VK_EnumerateArrayDataDrives, cda(), a));
        EXPECT_EQ(Walk(VK_EnumerateEditableArraySpareDrives, cda(), a), Walk(VK_EnumerateArraySpareDrives, cda(), a));
        EXPECT_EQ(Walk(VK_EnumerateEditableArrayLogicalDrives, cda(), a),
                  Walk(VK_EnumerateArrayLogicalDrives, cda(), a));
        EXPECT_EQ(s->alignment_size_blocks, data()->array_record_list[a].alignment_size_blocks);
        EXPECT_EQ(s->common_block_size, 512);
        // The drives are numbered by falling size: the last data drive is the smallest.
        const VK_WORD smallest = s->data_drives[s->data_drive_count - 1];
        EXPECT_EQ(s->common_drive_size_blocks, data()->pd_record_list[smallest].pd_config_information.usable_size_blocks);
        const VK_WORD last = VK_GetArrayLogicalDriveNumberFromIndex(
            cda(), a, static_cast<VK_WORD>(VK_GetArrayLogicalDriveCount(cda(), a) - 1));
        const LogicalDriveRecord& r = data()->ld_record_list[last];
        EXPECT_EQ(s->offset_to_creatable_space,
                  VK_GetNextLogicalDriveAlignedOffset(cda(), a,
                                                      r.physical_drive_offset_block + r.physical_drive_blocks_per_drive));
        EXPECT_EQ(VK_GetEditableArraySize(cda(), a, kArrayTotalSizeBlocks),
                  s->common_drive_size_blocks * s->data_drive_count);
    }
    for (VK_WORD pd = 0; pd < 15; ++pd) {
        SCOPED_TRACE(pd);
        EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), pd),
                  data()->pd_record_list[pd].pd_config_information.config_usage_info);
        EXPECT_EQ(c->editable_pd_list[pd].usable_size_blocks,
                  data()->pd_record_list[pd].pd_config_information.usable_size_blocks);
    }
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 14), kPhysicalDriveUsageUnassigned);

    const std::map<VK_WORD, VK_QWORD> flags = {
        {0, 0x3F9 | kEditableLDEncrypted | kEditableLDVolatileKey | kEditableLDVolatileKeyBackup},
        {1, 0x3F9},
        {2, 0x3F9},
        {3, 0x3F9},
        {4, 0x3F9 | kEditableLDLUCache},
        {5, 0x3F9 | kEditableLDSplitMirrorPrimary},
        {6, 0x3F9 | kEditableLDSplitMirrorBackup},
    };
    for (const auto& [n, expected] : flags) {
        SCOPED_TRACE(n);
        const PEDITABLE_LOGICAL_DRIVE ld = c->editable_ld_list[n];
        ASSERT_NE(ld, nullptr);
        EXPECT_EQ(ld->flags, expected);
        EXPECT_EQ(ld->ld_number, n);
        EXPECT_EQ(ld->editable_array_number, VK_GetLogicalDriveArray(cda(), n));
        EXPECT_EQ(VK_GetEditableLogicalDriveRAIDInfo(cda(), n), VK_GetLogicalDriveRAIDInfo(cda(), n));
        EXPECT_EQ(ld->drive_size_blocks, VK_GetLogicalDriveSize(cda(), n, kLogicalDriveSizeBlocks));
        EXPECT_EQ(ld->physical_drive_offset_block, data()->ld_record_list[n].physical_drive_offset_block);
        EXPECT_EQ(ld->sectors_per_track, 32);
        char label[65] = {};
        VK_GetLogicalDriveVolumeLabel(cda(), n, label, sizeof(label));
        EXPECT_EQ(std::string(ld->logical_drive_label, strnlen(ld->logical_drive_label, 64)), label);
        EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), n) & kEditableLogicalDriveFlagLocked,
                  static_cast<VK_DWORD>(kEditableLogicalDriveFlagLocked));
    }
    EXPECT_EQ(std::string(c->editable_ld_list[0]->logical_drive_label), "alpha");
    EXPECT_EQ(c->editable_ld_list[1]->strip_size_blocks, 256u);
    EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 0),
              static_cast<VK_DWORD>(kEditableLogicalDriveFlagLocked | kEditableLogicalDriveFlagEncrypted |
                                    kEditableLogicalDriveFlagVolatileKeyEnabled |
                                    kEditableLogicalDriveFlagVolatileKeyBackupEnabled));
    EXPECT_EQ(VK_GetEditableLogicalDriveType(cda(), 4), kLogicalDriveTypeCache);
    EXPECT_EQ(VK_GetEditableLogicalDriveType(cda(), 6), kLogicalDriveTypeSplitMirrorSetBackup);
    EXPECT_EQ(VK_GetEditableLogicalDriveType(cda(), 1), kLogicalDriveTypeData);

    // The LU cache pair: each names the other; the requested write policy wins over the actual one.
    const PEDITABLE_LOGICAL_DRIVE lu_data = c->editable_ld_list[3];
    EXPECT_EQ(lu_data->lu_cache_ld_number, 4);
    EXPECT_EQ(c->editable_ld_list[4]->lu_cache_ld_number, VK_GetLogicalDriveLUCacheNumber(cda(), 4));
    EXPECT_EQ(lu_data->lu_cache_algorithm, 2);
    EXPECT_EQ(lu_data->lu_cache_line_size_blocks, 256u);
    EXPECT_EQ(lu_data->lu_cache_policy, 2);
    EXPECT_EQ(c->editable_ld_list[2]->lu_cache_ld_number, 0xFFFF);

    const VK_WORD cache_array = VK_GetLogicalDriveArray(cda(), 4);
    EXPECT_EQ(VK_GetEditableArrayFlags(cda(), cache_array), static_cast<VK_DWORD>(kEditableArrayFlagLUCaching));
    EXPECT_EQ(c->editable_array_list[VK_GetLogicalDriveArray(cda(), 5)]->flags & kEditableArrSplitMirror,
              kEditableArrSplitMirror);
    EXPECT_EQ(c->editable_array_list[VK_GetLogicalDriveArray(cda(), 6)]->flags & kEditableArrSplitMirror,
              kEditableArrSplitMirror);
    const VK_WORD raid1 = VK_GetLogicalDriveArray(cda(), 2);
    EXPECT_EQ(VK_GetEditableArraySpareType(cda(), raid1), kSpareDriveTypeAutoReplace);
    EXPECT_EQ(VK_GetEditableArraySpareType(cda(), raid1), VK_GetArraySpareType(cda(), raid1));
    EXPECT_EQ(VK_GetEditableArrayPhysicalDriveCounts(cda(), raid1), VK_GetArrayPhysicalDriveCounts(cda(), raid1));

    // Boot volumes and settings as their getters give them.
    EXPECT_EQ(c->controller_primary_boot_volume.type, kBootableVolumeDriveTypeLogical);
    EXPECT_EQ(c->controller_primary_boot_volume.dev_number, 2);
    EXPECT_EQ(c->controller_secondary_boot_volume.type, kBootableVolumeDriveTypeLogical);
    EXPECT_EQ(c->controller_secondary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(c->controller_rebuild_priority, VK_GetControllerRebuildPriority(cda()));
    EXPECT_EQ(c->controller_mnp_analysis_delay, VK_GetControllerMNPDelay(cda()));
    EXPECT_EQ(c->crc, _VK_GetEditableConfigurationChecksum(c));
}

TEST_F(EditableConfigHost, PopulationReadsTheControllerAgainAndNoCachedBufferTwice) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    host().clear_requests();
    // One population, as the commit runs it into a record of its own.
    auto* record = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    ASSERT_NE(record, nullptr);
    {
        CDALock guard(cda());
        EXPECT_TRUE(_VK_PopulateEditableConfiguration(cda(), record));
    }
    EXPECT_EQ(record->editable_ld_count, 7);
    _VK_DestroyEditableConfiguration(record);
    std::map<std::string, int> reads;
    for (const auto& r : host().requests(telmar_host::kNode)) {
        if (r.op == "ioctl" && r.decoded.contains("cdb")) {
            ++reads[r.decoded["cdb"].get<std::string>()];
        }
    }
    for (const auto& [cdb, count] : reads) {
        EXPECT_EQ(count, 1) << cdb;
    }
    std::map<int, int> opcodes;
    for (const qvsim::BmicCdb& b : Received()) {
        ++opcodes[b.opcode];
    }
    EXPECT_EQ(opcodes[0x11], 1); // identify controller, read again by the re-initialisation
    EXPECT_EQ(opcodes[0x50], 7); // every logical drive's configuration
    EXPECT_GE(opcodes[0x15], 15); // every drive
}

TEST_F(EditableConfigHost, FailedDataDriveAndDrivesWithoutBlockSize) {
    FirmwareState st = FallingDrives(4);
    for (VK_WORD pd = 0; pd < 4; ++pd) {
        st.find_drive(pd)->block_size = 0;
    }
    FwLogicalDrive& ld = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld.fault_tolerance = 3;
    ld.failed = {2};
    ld.spares = {3};
    st.find_drive(2)->device_flags = 0x00; // no longer operational
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const PEDITABLE_ARRAY a = config()->editable_array_list[0];
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(Walk(VK_EnumerateEditableArrayDataDrives, cda(), 0), (std::vector<VK_WORD>{0, 1, 2}));
    EXPECT_EQ(Walk(VK_EnumerateEditableArraySpareDrives, cda(), 0), (std::vector<VK_WORD>{3}));
    EXPECT_EQ(a->common_block_size, 512);
    const VK_DWORD counts = VK_GetEditableArrayPhysicalDriveCounts(cda(), 0);
    EXPECT_EQ(NUM_DATA_PHYSICAL_DRIVES(counts), 3);
    EXPECT_EQ(NUM_SPARE_PHYSICAL_DRIVES(counts), 1);
    EXPECT_EQ(NUM_FAILED_PHYSICAL_DRIVES(counts), 1);
}

TEST_F(EditableConfigHost, ControllerWithoutLogicalDrivesStagesSettingsAndAChecksum) {
    ASSERT_NO_FATAL_FAILURE(Start(FallingDrives(3)));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const PEDITABLE_CONFIGURATION c = config();
    EXPECT_EQ(c->editable_array_count, 0);
    EXPECT_EQ(c->editable_ld_count, 0);
    EXPECT_EQ(c->controller_transformation_priority, VK_GetControllerExpandPriority(cda()));
    EXPECT_EQ(c->controller_surface_scan_priority, VK_GetControllerSSAPriority(cda()));
    EXPECT_EQ(c->controller_read_cache_percent, VK_GetControllerReadCachePercent(cda()));
    EXPECT_EQ(c->crc, _VK_GetEditableConfigurationChecksum(c));
    EXPECT_NE(c->crc, 0u);
    EXPECT_EQ(VK_EnumerateEditableArrays(cda(), 0xFFFF), 0xFFFF);
    EXPECT_EQ(VK_EnumerateEditableLogicalDrives(cda(), 0xFFFF), 0xFFFF);
    EXPECT_EQ(VK_EnumerateEditablePhysicalDrives(cda(), 0xFFFF), 0);
}

// ---- Checksum -----------------------------------------------------------------------------------------

TEST_F(EditableConfigHost, UnchangedControllerGivesTheSameChecksumWhateverTheRecordHeld) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    const VK_DWORD first = Checksum();
    EXPECT_EQ(Checksum(), first);
    auto* record = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    ASSERT_NE(record, nullptr);
    std::memset(record, 0xAA, sizeof(*record));
    {
        CDALock guard(cda());
        ASSERT_TRUE(_VK_PopulateEditableConfiguration(cda(), record));
    }
    EXPECT_EQ(record->crc, first);
    EXPECT_EQ(record->crc, _VK_GetEditableConfigurationChecksum(record));
    _VK_DestroyEditableConfiguration(record);
}

TEST_F(EditableConfigHost, EachLiveChangeChangesTheChecksum) {
    struct Case {
        const char* name;
        void (*change)(FirmwareState&);
    } const cases[] = {
        {"MNP analysis delay", [](FirmwareState& s) { s.mnp_delay = 120; }},
        {"usable size of a drive", [](FirmwareState& s) { *s.find_drive(5)->total_blocks -= 1; }},
        {"label", [](FirmwareState& s) { s.find_configured_drive(1)->label = "betb"; }},
        {"encryption bit of a logical drive", [](FirmwareState& s) { s.find_configured_drive(1)->encryption_flags = 1; }},
        {"new logical drive",
         [](FirmwareState& s) { s.add_configured_drive(7, {14}, 1u << 16).fault_tolerance = 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
        const VK_DWORD before = Checksum();
        c.change(state());
        EXPECT_NE(Checksum(), before);
        Stop();
    }
}

// ---- Creation ----------------------------------------------------------------------------------------

TEST_F(EditableConfigHost, RefusalsComeInTheirOrder) {
    const auto mismatch = [](FirmwareState& s) {
        s.identify.extra_flags |= 0x1000;
        s.identify.controller_mode = 2; // mixed
        s.subsystem.connectors.at(0).number = 0;
        s.subsystem.connectors.at(0).mode = 0;
        s.find_drive(0)->connector_mode = 1;
        s.find_drive(0)->connector_info = {0, 0xFF, 0xFF, 0xFF};
    };
    const auto status = [](FirmwareState& s) { s.identify.encryption_status = 0x8; }; // self-test failed
    const auto adapter = [](FirmwareState& s) {
        s.set_page("managed_sed", {0x07});
        s.identify.managed_sed_mode = 0x0B;
        s.managed_sed.status = 0x41;
    };
    const auto ofa = [](FirmwareState& s) { s.ofa.status = 1; };
    struct Case {
        const char* name;
        std::vector<void (*)(FirmwareState&)> changes;
        VK_BYTE reason;
    } const cases[] = {
        {"allowed", {}, kCanCreateEditableConfigOK},
        {"inconsistent port settings", {mismatch}, kCanCreateEditableConfigInconsistentPortSettings},
        {"controller status", {status}, kCanCreateEditableConfigControllerStatusNotOK},
        {"waiting on the adapter password", {adapter}, kCanCreateEditableConfigWaitingOnAdapterPassword},
        {"activation running", {ofa}, kCanCreateEditableConfigControllerOFAActive},
        {"ports before status", {status, mismatch}, kCanCreateEditableConfigInconsistentPortSettings},
        {"status before password", {adapter, status}, kCanCreateEditableConfigControllerStatusNotOK},
        {"password before activation", {ofa, adapter}, kCanCreateEditableConfigWaitingOnAdapterPassword},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = FallingDrives(4);
        st.set_page("encryption", {0x01});
        st.add_configured_drive(0, {1, 2}, 1u << 20);
        for (auto change : c.changes) {
            change(st);
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_CanCreateEditableConfiguration(cda()), c.reason);
        EXPECT_EQ(VK_CreateEditableConfiguration(cda()),
                  c.reason == kCanCreateEditableConfigOK ? kCreateEditableConfigOK : kCreateEditableConfigFailedUnknown);
        EXPECT_EQ(config() != nullptr, c.reason == kCanCreateEditableConfigOK);
        Stop();
    }
}

TEST_F(EditableConfigHost, SecondCreateIsRefusedAndCommitErrorsOutliveTheConfiguration) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const PEDITABLE_CONFIGURATION first = config();
    const VK_DWORD crc = first->crc;
    host().clear_requests();
    EXPECT_EQ(VK_CanCreateEditableConfiguration(cda()), kCanCreateEditableConfigEditableConfigExists);
    EXPECT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigFailedUnknown);
    EXPECT_EQ(config(), first);
    EXPECT_EQ(config()->crc, crc);
    EXPECT_TRUE(SentCdbs().empty()); // nothing was read again

    data()->editable_configuration_commit_errors = kEditableConfigurationCommitErrorLogicalDriveLabels;
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(config(), nullptr);
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), kEditableConfigurationCommitErrorLogicalDriveLabels);
    // A new configuration starts with no errors.
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);
}

TEST_F(EditableConfigHost, DestroyFreesEveryRecord) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    const VK_UINT64 before = _VK_curr_alloc;
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    // The configuration, its arrays and its logical drives.
    EXPECT_EQ(_VK_curr_alloc - before,
              sizeof(EDITABLE_CONFIGURATION) + 6 * sizeof(EDITABLE_ARRAY) + 7 * sizeof(EDITABLE_LOGICAL_DRIVE));
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(_VK_curr_alloc, before);
}

// ---- Staged arrays --------------------------------------------------------------------------------------

TEST_F(EditableConfigHost, NewArraysFollowTheStagedOnes) {
    FirmwareState st = FallingDrives(6);
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(1, {2, 3}, 1u << 20).fault_tolerance = 2;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_CanCreateEditableArray(cda()), kCanCreateEditableArrayNoEditableConfigCreated);
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_CanCreateEditableArray(cda()), kCanCreateEditableArrayOK);
    const VK_WORD created = VK_CreateEditableArray(cda());
    EXPECT_EQ(created, 2);
    EXPECT_EQ(VK_GetEditableArrayFlags(cda(), created), static_cast<VK_DWORD>(kEditableArrayFlagNewArray));
    for (const VK_BYTE type : {kArrayTotalSizeBlocks, kArrayTotalSizeBytes, kArrayFreeSizeBlocks, kArrayFreeSizeBytes}) {
        EXPECT_EQ(VK_GetEditableArraySize(cda(), created, type), 0u) << int(type);
    }
    EXPECT_EQ(VK_GetEditableArraySize(cda(), created, kArrayBlockSizeBytes), 0u);
    EXPECT_EQ(VK_GetEditableArraySize(cda(), created, 6), 0u);
    EXPECT_EQ(VK_GetEditableArrayNextLogicalDriveOffset(cda(), created), 0u);
    EXPECT_EQ(VK_EnumerateEditableArrays(cda(), 1), 2);
    EXPECT_EQ(VK_EnumerateEditableArrays(cda(), 2), 0xFFFF);
    // A drive that is not in the list ends the walk rather than restarting it.
    EXPECT_EQ(VK_EnumerateEditableArrayDataDrives(cda(), 0, 3), 0xFFFF);
    EXPECT_EQ(VK_EnumerateEditableArrayDataDrives(cda(), 0, 0), 1);
    // Numbers past the list's 64 slots and empty slots answer as empty.
    for (const VK_WORD a : {VK_WORD{3}, VK_WORD{64}, VK_WORD{0xFFFE}}) {
        EXPECT_EQ(VK_GetEditableArrayFlags(cda(), a), 0u);
        EXPECT_EQ(VK_GetEditableArraySize(cda(), a, kArrayBlockSizeBytes), 0u);
        EXPECT_EQ(VK_GetEditableArraySpareType(cda(), a), kSpareDriveTypeDoesNotExist);
        EXPECT_EQ(VK_EnumerateEditableArrayDataDrives(cda(), a, 0xFFFF), 0xFFFF);
        EXPECT_EQ(VK_EnumerateEditableArrayLogicalDrivesByOffset(cda(), a, 0xFFFF), 0xFFFF);
    }
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 384), 0);
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 4), kPhysicalDriveUsageUnassigned);
}

TEST_F(EditableConfigHost, ArrayCreationStopsWhenEverySlotIsTaken) {
    ASSERT_NO_FATAL_FAILURE(Start(FallingDrives(2)));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    for (VK_WORD a = 0; a < 64; ++a) {
        ASSERT_EQ(VK_CreateEditableArray(cda()), a);
    }
    EXPECT_EQ(VK_CanCreateEditableArray(cda()), kCanCreateEditableArrayCreatesNotAllowed);
    EXPECT_EQ(VK_CreateEditableArray(cda()), 0xFFFF);
    EXPECT_EQ(config()->editable_array_count, 64);
}

TEST_F(EditableConfigHost, FirstDecidingSpareGivesTheSpareType) {
    ASSERT_NO_FATAL_FAILURE(Start(FallingDrives(2)));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const VK_WORD a = VK_CreateEditableArray(cda());
    PEDITABLE_ARRAY array = config()->editable_array_list[a];
    array->spare_drives[0] = 0;
    array->spare_drives[1] = 1;
    array->spare_drive_count = 2;
    struct Case {
        VK_BYTE first, second, type;
    } const cases[] = {
        {kPhysicalDriveUsageAutoReplaceStandbySpare, kPhysicalDriveUsageShareableStandbySpare, kSpareDriveTypeAutoReplace},
        {kPhysicalDriveUsageShareableActiveSpare, kPhysicalDriveUsageAutoReplaceStandbySpare, kSpareDriveTypeDedicated},
        {kPhysicalDriveUsageData, kPhysicalDriveUsageAutoReplaceStandbySpare, kSpareDriveTypeAutoReplace},
        {kPhysicalDriveUsageData, kPhysicalDriveUsageUnassigned, kSpareDriveTypeDoesNotExist},
    };
    for (const Case& c : cases) {
        config()->editable_pd_list[0].config_usage_info = c.first;
        config()->editable_pd_list[1].config_usage_info = c.second;
        EXPECT_EQ(VK_GetEditableArraySpareType(cda(), a), c.type) << int(c.first) << " " << int(c.second);
    }
}

} // namespace

namespace {

// ---- Limits of the staged lists ---------------------------------------------------------------------------

TEST_F(EditableConfigHost, DriveListsStopAtTheirCapacityAndWalksAtTheTables) {
    FirmwareState st = FallingDrives(140);
    st.identify.max_drives_per_logical_drive = 200;
    st.identify.max_physical_devices = 400; // more than the tables hold
    std::vector<std::uint16_t> members;
    for (std::uint16_t pd = 0; pd < 130; ++pd) {
        members.push_back(pd);
    }
    st.add_configured_drive(0, members, 1u << 16);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    TelmarLogCapture log;
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    const PEDITABLE_ARRAY a = config()->editable_array_list[0];
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->data_drive_count, 128);
    EXPECT_EQ(a->data_drives[127], 127);
    EXPECT_EQ(TelmarLogCapture::Count("has more data drives than a staged array holds"), 1u);
    EXPECT_EQ(Walk(VK_EnumerateEditableArrayDataDrives, cda(), 0).size(), 128u);
    VK_WORD last = 0xFFFF;
    size_t staged = 0;
    for (VK_WORD pd = VK_EnumerateEditablePhysicalDrives(cda(), 0xFFFF); pd != 0xFFFF;
         pd = VK_EnumerateEditablePhysicalDrives(cda(), pd)) {
        last = pd;
        ASSERT_LT(++staged, 400u);
    }
    EXPECT_EQ(staged, 140u);
    EXPECT_EQ(last, 139);
    EXPECT_EQ(VK_EnumerateEditablePhysicalDrives(cda(), 383), 0xFFFF);
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 390), 0);
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 135), kPhysicalDriveUsageUnassigned);
}

// ---- Walks by offset ------------------------------------------------------------------------------------

TEST_F(EditableConfigHost, WalksByOffsetOverStagedAndLiveArrays) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    // The live RAID 5 array: drive 0 at offset 0, drive 1 after it.
    const VK_WORD r5 = VK_GetLogicalDriveArray(cda(), 0);
    EXPECT_EQ(Walk(VK_EnumerateArrayLogicalDrivesByOffset, cda(), r5), (std::vector<VK_WORD>{0, 1}));
    EXPECT_EQ(Walk(VK_rEnumerateArrayLogicalDrivesByOffset, cda(), r5), (std::vector<VK_WORD>{1, 0}));
    EXPECT_EQ(Walk(VK_EnumerateEditableArrayLogicalDrivesByOffset, cda(), r5), (std::vector<VK_WORD>{0, 1}));
    {
        CDALock guard(cda());
        EXPECT_EQ(_VK_ArrayLogicalDriveAt(cda(), r5, 1), 1u);
        EXPECT_EQ(_VK_ArrayLogicalDriveAt(cda(), r5, 2), static_cast<size_t>(-1));
        EXPECT_EQ(_VK_EditableArrayLogicalDriveAt(cda(), r5, 1), 1u);
        EXPECT_EQ(_VK_EditableArrayLogicalDriveAt(cda(), 64, 1), static_cast<size_t>(-1));
    }
    const LogicalDriveRecord& second = data()->ld_record_list[1];
    EXPECT_EQ(VK_GetEditableArrayNextLogicalDriveOffset(cda(), r5),
              VK_GetNextLogicalDriveAlignedOffset(cda(), r5,
                                                  second.physical_drive_offset_block +
                                                      second.physical_drive_blocks_per_drive));

    // A staged array listing drives 3, 1, 2, 0 at offsets 100, 0, 100, 50.
    PEDITABLE_ARRAY a = config()->editable_array_list[r5];
    const VK_WORD order[] = {3, 1, 2, 0};
    const VK_QWORD offsets[] = {50, 0, 100, 100};
    a->logical_drive_count = 4;
    for (size_t i = 0; i < 4; ++i) {
        a->logical_drives[i] = order[i];
        config()->editable_ld_list[i]->physical_drive_offset_block = offsets[i];
    }
    EXPECT_EQ(Walk(VK_EnumerateEditableArrayLogicalDrivesByOffset, cda(), r5), (std::vector<VK_WORD>{1, 0, 3}));
    EXPECT_EQ(Walk(VK_rEnumerateEditableArrayLogicalDrivesByOffset, cda(), r5), (std::vector<VK_WORD>{3, 0, 1}));
    // Two drives at one offset: neither is reached from the other.
    EXPECT_EQ(VK_EnumerateEditableArrayLogicalDrivesByOffset(cda(), r5, 2), 0xFFFF);
    EXPECT_EQ(VK_rEnumerateEditableArrayLogicalDrivesByOffset(cda(), r5, 2), 0);
    EXPECT_EQ(VK_rEnumerateEditableArrayLogicalDrivesByOffset(cda(), r5, 3), 0);
    EXPECT_EQ(VK_EnumerateEditableArrayLogicalDrivesByOffset(cda(), r5, 5), 0xFFFF); // not in the array
    EXPECT_EQ(VK_EnumerateEditableArrayLogicalDrivesByOffset(cda(), 64, 0xFFFF), 0xFFFF);
    EXPECT_EQ(VK_EnumerateArrayLogicalDrivesByOffset(cda(), 64, 0xFFFF), 0xFFFF);
    // The last drive by offset decides where the next one starts.
    const PEDITABLE_LOGICAL_DRIVE last = config()->editable_ld_list[3];
    EXPECT_EQ(VK_GetEditableArrayNextLogicalDriveOffset(cda(), r5),
              _VK_GetNextLogicalDriveAlignedOffset(cda(), a->alignment_size_blocks,
                                                   100 + last->physical_drive_blocks_per_drive));
}

TEST_F(EditableConfigHost, LogicalDriveQueriesAnswerEmptySlotsAndNumbersPastTheList) {
    ASSERT_NO_FATAL_FAILURE(Start(Mixed()));
    EXPECT_EQ(VK_EnumerateEditableLogicalDrives(cda(), 0xFFFF), 0xFFFF);
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_EnumerateEditableLogicalDrives(cda(), 0xFFFF), 0);
    EXPECT_EQ(VK_EnumerateEditableLogicalDrives(cda(), 6), 0xFFFF);
    for (const VK_WORD n : {VK_WORD{7}, VK_WORD{63}, VK_WORD{64}, VK_WORD{0xFFFE}}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), n), 0u);
        EXPECT_EQ(VK_GetEditableLogicalDriveArray(cda(), n), 0xFFFF);
        EXPECT_EQ(VK_GetEditableLogicalDriveRAIDInfo(cda(), n), kInvalidRAID);
        EXPECT_EQ(VK_GetEditableLogicalDriveType(cda(), n), 0);
    }
    // A drive staged without its array or RAID level reports them as unset.
    PEDITABLE_LOGICAL_DRIVE ld = config()->editable_ld_list[1];
    ld->flags = kEditableLDNewDrive | kEditableLDLUCache;
    ld->logical_drive_initialization_method = 0x3;
    EXPECT_EQ(VK_GetEditableLogicalDriveArray(cda(), 1), 0xFFFF);
    EXPECT_EQ(VK_GetEditableLogicalDriveRAIDInfo(cda(), 1), kInvalidRAID);
    EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 1),
              static_cast<VK_DWORD>(kEditableLogicalDriveFlagNewLogicalDrive | kEditableLogicalDriveFlagRapidParityInit |
                                    kEditableLogicalDriveFlagOPO | kEditableLogicalDriveFlagNoRAIDLevelSet |
                                    kEditableLogicalDriveFlagNoStripSizeSet | kEditableLogicalDriveFlagNoSizeSet |
                                    kEditableLogicalDriveFlagNoArraySet |
                                    kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet));
    // An existing drive with a queued encode.
    config()->editable_ld_list[2]->flags |= kEditableLDTransformEncode;
    EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), 2),
              static_cast<VK_DWORD>(kEditableLogicalDriveFlagLocked | kEditableLogicalDriveFlagTransformationQueued |
                                    kEditableLogicalDriveFlagEncodeQueued));
}

// ---- Debug dump -----------------------------------------------------------------------------------------

std::string Joined() {
    std::string text;
    for (const std::string& line : TelmarLogCapture::lines()) {
        text += line;
    }
    return text;
}

// A configuration built by hand, every member its own value, with credentials that must not show.
PEDITABLE_CONFIGURATION SmallConfiguration() {
    auto* c = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    std::memset(c, 0, sizeof(*c));
    c->crc = 0x1234ABCD;
    c->flags = 0x180009;
    c->controller_rebuild_priority = 1;
    c->controller_transformation_priority = 2;
    c->controller_spare_activation_mode = 3;
    c->controller_write_cache_bypass_threshold = 40;
    c->controller_sanitize_lock = 5;
    c->controller_notify_on_any_broadcast = 6;
    c->controller_surface_scan_priority = 300;
    c->controller_parallel_surface_scan_count = 8;
    c->controller_performance_profile = 9;
    c->controller_parity_RAID_DPO = 10;
    c->controller_RAID6x_IRP = 11;
    c->controller_pd_elevator_sort = 12;
    c->controller_max_drive_request_queue_depth = 13;
    c->controller_fls_setting = 14;
    c->controller_mnp_analysis_delay = 1440;
    c->controller_survival_mode = 16;
    c->controller_nbwc = 17;
    c->controller_read_cache_percent = 95;
    c->controller_sed_encryption_status = 0x100000020ULL;
    const VK_BYTE policy[6] = {0x01, 0x1A, 0x2B, 0x3C, 0x4D, 0xFF};
    std::memcpy(c->controller_drive_write_cache_policy, policy, sizeof(policy));
    c->encryption = 2;
    c->encryption_boot_password_state = 1;
    c->deleted_ld_count = 2;
    c->deleted_logical_drives[0] = 5;
    c->deleted_logical_drives[1] = 9;
    c->controller_bootable_volume_flags = 3;
    c->controller_primary_boot_volume = {1, 17};
    c->controller_secondary_boot_volume = {2, 0xFFFF};
    std::strcpy(c->encryption_password[0], "OfficerPw1!");
    std::strcpy(c->encryption_password[1], "UserPw1!");
    std::strcpy(c->encryption_key, "MasterKey99");
    std::strcpy(c->encryption_question, "FavouriteColour");
    std::strcpy(c->encryption_answer, "Ultramarine");
    std::strcpy(c->encryption_boot_password, "BootPw1!");
    c->session.user = 0;
    std::strcpy(c->session.password, "SessionPw1!");

    auto* a = static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY)));
    std::memset(a, 0, sizeof(*a));
    a->flags = 0x21;
    a->editable_array_number = 1;
    a->common_drive_type = 0x212;
    a->common_block_size = 4096;
    a->alignment_size_blocks = 256;
    a->common_drive_size_blocks = 123456789012ULL;
    a->offset_to_creatable_space = 2048;
    a->data_drive_count = 2;
    a->data_drives[0] = 4;
    a->data_drives[1] = 7;
    a->spare_drive_count = 1;
    a->spare_drives[0] = 9;
    a->logical_drive_count = 1;
    a->logical_drives[0] = 2;
    a->common_sed_type = 0x3;
    c->editable_array_list[1] = a;
    c->editable_array_count = 2;

    auto* ld = static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
    std::memset(ld, 0, sizeof(*ld));
    ld->flags = 0x100003F9ULL;
    ld->ld_number = 2;
    ld->editable_array_number = 1;
    ld->lu_cache_ld_number = 0xFFFF;
    ld->lu_cache_policy = 3;
    ld->lu_cache_algorithm = 4;
    ld->lu_cache_line_size_blocks = 128;
    ld->RAID_level = 5;
    ld->num_parity_groups = 2;
    ld->strip_size_blocks = 512;
    ld->block_size_bytes = 4096;
    ld->physical_drive_offset_block = 1000;
    ld->physical_drive_blocks_per_drive = 2000;
    ld->drive_size_blocks = 3000;
    ld->sectors_per_track = 32;
    ld->logical_drive_accelerator = 3;
    ld->logical_drive_initialization_method = 1;
    std::memcpy(ld->logical_drive_label, "Ab", 2);
    c->editable_ld_list[2] = ld;
    c->editable_ld_count = 1;
    return c;
}

std::string ExpectedDump() {
    std::string label = "      logical_drive_label: [ 41 62 ";
    for (int i = 2; i < 64; ++i) {
        label += "00 ";
    }
    label += "]\n";
    return "EDITABLE_CONFIGURATION:\n"
           "  crc: 0x1234abcd\n"
           "  flags: 0x00180009\n"
           "  controller_rebuild_priority: 1\n"
           "  controller_transformation_priority: 2\n"
           "  controller_spare_activation_mode: 3\n"
           "  controller_write_cache_bypass_threshold: 40\n"
           "  controller_sanitize_lock: 5\n"
           "  controller_notify_on_any_broadcast: 6\n"
           "  controller_surface_scan_priority: 300\n"
           "  controller_parallel_surface_scan_count: 8\n"
           "  controller_performance_profile: 9\n"
           "  controller_parity_RAID_DPO: 10\n"
           "  controller_RAID6x_IRP: 11\n"
           "  controller_pd_elevator_sort: 12\n"
           "  controller_max_drive_request_queue_depth: 13\n"
           "  controller_fls_setting: 14\n"
           "  controller_mnp_analysis_delay: 1440\n"
           "  controller_survival_mode: 16\n"
           "  controller_nbwc: 17\n"
           "  controller_read_cache_percent: 95\n"
           "  controller_sed_encryption_status: 4294967328\n"
           "  controller_drive_write_cache_policy: [ 01 1a 2b 3c 4d ff ]\n"
           "  encryption: 2\n"
           "  encryption_boot_password_state: 1\n"
           "  editable_array_count: 2\n"
           "  editable_ld_count: 1\n"
           "  deleted_ld_count: 2\n"
           "  deleted_logical_drives: [ 5 9 ]\n"
           "  controller_bootable_volume_flags: 3\n"
           "  controller_primary_boot_volume:\n"
           "    controller_primary_boot_volume.type: 1\n"
           "    controller_primary_boot_volume.dev_number: 17\n"
           "  controller_secondary_boot_volume:\n"
           "    controller_secondary_boot_volume.type: 2\n"
           "    controller_secondary_boot_volume.dev_number: 65535\n"
           "  editable_array_list: [\n"
           "    1:\n"
           "      flags: 0x0021\n"
           "      editable_array_number: 1\n"
           "      common_drive_type: 530\n"
           "      common_block_size: 4096\n"
           "      alignment_size_blocks: 256\n"
           "      common_drive_size_blocks: 123456789012\n"
           "      offset_to_creatable_space: 2048\n"
           "      data_drive_count: 2\n"
           "      spare_drive_count: 1\n"
           "      logical_drive_count: 1\n"
           "      data_drives: [ 4 7 ]\n"
           "      spare_drives: [ 9 ]\n"
           "      logical_drives: [ 2 ]\n"
           "      common_sed_type: 0x03\n"
           "  ]\n"
           "  editable_ld_list: [\n"
           "    2:\n"
           "      flags: 0x00000000100003f9\n"
           "      ld_number: 2\n"
           "      editable_array_number: 1\n"
           "      lu_cache_ld_number: 65535\n"
           "      lu_cache_policy: 3\n"
           "      lu_cache_algorithm: 4\n"
           "      lu_cache_line_size_blocks: 128\n"
           "      RAID_level: 5\n"
           "      num_parity_groups: 2\n"
           "      strip_size_blocks: 512\n"
           "      block_size_bytes: 4096\n"
           "      physical_drive_offset_block: 1000\n"
           "      physical_drive_blocks_per_drive: 2000\n"
           "      drive_size_blocks: 3000\n"
           "      sectors_per_track: 32\n"
           "      logical_drive_accelerator: 3\n"
           "      logical_drive_initialization_method: 1\n" +
           label + "  ]\n";
}

TEST_F(EditableConfigHost, DumpWritesTheExactBlockAndNoCredential) {
    ASSERT_NO_FATAL_FAILURE(Start(FallingDrives(1)));
    TelmarLogCapture log;
    VK_DebugLogEditableConfiguration(cda(), 3);
    EXPECT_EQ(Joined(), "No editable configuration\n");

    data()->editable_configuration = SmallConfiguration();
    TelmarLogCapture::lines().clear();
    VK_DebugLogEditableConfiguration(cda(), 3);
    const std::string dump = Joined();
    EXPECT_EQ(dump, ExpectedDump());
    for (const char* secret : {"OfficerPw1!", "UserPw1!", "MasterKey99", "FavouriteColour", "Ultramarine", "BootPw1!",
                               "SessionPw1!"}) {
        EXPECT_EQ(dump.find(secret), std::string::npos) << secret;
    }

    // Below the dump's level nothing at all is written.
    PN_SetDebugLogLevel(2);
    TelmarLogCapture::lines().clear();
    VK_DebugLogEditableConfiguration(cda(), 3);
    EXPECT_TRUE(TelmarLogCapture::lines().empty());
    VK_DestroyEditableConfiguration(cda());
}

TEST_F(EditableConfigHost, AnotherThreadsMessagesNeverLandInsideTheDump) {
    ASSERT_NO_FATAL_FAILURE(Start(FallingDrives(1)));
    data()->editable_configuration = SmallConfiguration();
    // The debug lock exists once the platform has started; the tool starts it before any thread.
    _PN_InitializeDebug();
    TelmarLogCapture log;
    std::atomic<bool> stop{false};
    std::thread other([&stop] {
        while (!stop.load()) {
            PN_DebugLog(1, 0, "other thread\n");
        }
    });
    for (int i = 0; i < 20; ++i) {
        VK_DebugLogEditableConfiguration(cda(), 3);
    }
    stop = true;
    other.join();
    const std::vector<std::string>& lines = TelmarLogCapture::lines();
    size_t dumps = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "EDITABLE_CONFIGURATION:\n") {
            continue;
        }
        ++dumps;
        std::string text;
        for (size_t j = i; j < lines.size() && text.size() < ExpectedDump().size(); ++j) {
            text += lines[j];
        }
        EXPECT_EQ(text, ExpectedDump());
    }
    EXPECT_EQ(dumps, 20u);
    VK_DestroyEditableConfiguration(cda());
}

} // namespace

namespace {

TEST(EditableConfigSEDType, DriveTypeFromItsEncryptionInfo) {
    struct Case {
        VK_UINT64 info;
        VK_BYTE type;
    } const cases[] = {
        {0, 1},
        {kPhysicalDriveEncryptionSEDIsOPALSED, 1}, // not an SED at all
        {kPhysicalDriveEncryptionSEDDrive, 1},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsOPALSED, 2},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsEnterpriseSED, 4},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsEnterpriseSED |
             kPhysicalDriveEncryptionSEDIsOPALSED,
         4},
        {kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsOPALSED |
             kPhysicalDriveEncryptionSEDIsIncompatibleSED,
         1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(_VK_GetPhysicalDriveArraySEDType(c.info), c.type) << std::hex << c.info;
    }
}

} // namespace

namespace {

TEST_F(EditableConfigHost, LUCacheWritePolicyFallsBackToTheActualOneWithItsLines) {
    struct Case {
        std::uint8_t requested, actual, policy;
        size_t requested_lines, actual_lines;
    } const cases[] = {
        {1, 3, 1, 0, 0},
        {0, 3, 3, 1, 0},
        {0, 0, 0, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.requested) * 10 + c.actual);
        FirmwareState st = FallingDrives(4);
        st.set_page("lu_cache", {0x20, 0x00, 0x00});
        st.add_configured_drive(0, {0, 1}, 1u << 20).lu_cache_bits = 0x01;
        st.add_configured_drive(1, {2, 3}, 1u << 18).property = 0x04;
        // The pair's LU cache settings, as both drives report them.
        for (std::uint16_t n : {0, 1}) {
            FwLogicalDrive& ld = *st.find_configured_drive(n);
            ld.lu_cache_other = static_cast<std::uint16_t>(1 - n);
            ld.lu_cache_algorithm = 3;
            ld.lu_cache_line_blocks = 512; // 262,144 bytes
            ld.lu_cache_write_policy = c.actual;
            ld.lu_cache_requested_write_policy = c.requested;
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        TelmarLogCapture log;
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        const PEDITABLE_LOGICAL_DRIVE ld = config()->editable_ld_list[0];
        ASSERT_NE(ld, nullptr);
        EXPECT_EQ(ld->lu_cache_ld_number, 1);
        EXPECT_EQ(ld->lu_cache_algorithm, 3);
        EXPECT_EQ(ld->lu_cache_line_size_blocks, 512u);
        EXPECT_EQ(ld->lu_cache_policy, c.policy);
        EXPECT_EQ(TelmarLogCapture::Count("Unable to determine requested lu cache write policy for ld 0"),
                  c.requested_lines);
        EXPECT_EQ(TelmarLogCapture::Count("Unable to determine actual lu cache write policy for ld 0"), c.actual_lines);
        Stop();
    }
}

} // namespace
