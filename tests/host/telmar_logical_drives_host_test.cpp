// Logical drives and arrays against a simulated controller inventory: RAID levels and sizes, labels,
// RAID groups from the mirror-pair reply, LU cache statistics, status words, health and roll-ups,
// surface analysis, and what each of them sends. Expected values come from the inventory each test
// describes.
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "pavl_platform_private.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;

constexpr VK_BYTE kMirrorPairRead = 0x5D;
constexpr VK_BYTE kSurfaceRead = 0x70;
constexpr VK_BYTE kCacheRead = 0xC1;

constexpr std::uint32_t kReserved = 32768;

// Drives 0 .. count-1, each with `usable` blocks past the reserved area.
FirmwareState WithDrives(VK_WORD count, std::uint64_t usable = 1u << 24, std::uint16_t block = 512) {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < count; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.reserved_blocks = kReserved;
        d.total_blocks = usable + kReserved;
        d.block_size = block;
    }
    return st;
}

class LogicalDrivesHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
        host().clear_requests();
    }
    _CDA* data() { return _VK_CDA(cda()); }

    size_t Sent(VK_BYTE opcode) {
        size_t n = 0;
        for (const qvsim::BmicCdb& b : Received()) {
            n += b.opcode == opcode ? 1 : 0;
        }
        return n;
    }

    // The groups of a RAID-group enumerator, or nothing with its result when it failed.
    std::pair<VK_WORD, std::vector<std::vector<VK_WORD>>> Groups(VK_WORD ld) {
        PRAID_GROUP_INFO info = reinterpret_cast<PRAID_GROUP_INFO>(1);
        const VK_WORD result = VK_CreateLogicalDriveRaidGroupEnumerator(cda(), ld, &info);
        std::vector<std::vector<VK_WORD>> groups;
        if (info == nullptr) {
            return {result, groups};
        }
        const bool mirror = info->raid_level == kRAID10 || info->raid_level == kRAID10Triple;
        for (VK_DWORD g = 0; g < info->number_of_raid_groups; ++g) {
            std::vector<VK_WORD> drives;
            for (VK_WORD pd = kInvalidPDNumber;
                 (pd = mirror ? VK_EnumerateMirrorGroupPhysicalDrives(info, static_cast<VK_BYTE>(g), pd)
                              : VK_EnumerateParityGroupPhysicalDrives(info, static_cast<VK_BYTE>(g), pd)) !=
                 kInvalidPDNumber;) {
                drives.push_back(pd);
            }
            groups.push_back(drives);
        }
        VK_DestroyLogicalDriveRaidGroupEnumerator(info);
        return {result, groups};
    }
};

// ---- RAID level, sizes, label ------------------------------------------------------------------------

TEST_F(LogicalDrivesHost, RaidInfoAndStripeSizesFollowTheLevelAndItsDataMembers) {
    struct Case {
        const char* name;
        std::vector<std::uint16_t> members;
        std::uint16_t fault_tolerance;
        std::uint8_t parity_groups;
        std::uint16_t strip;
        VK_WORD raid_info;
        VK_QWORD full_stripe_blocks;
    } const cases[] = {
        {"RAID 1 of 2", {0, 1}, 2, 0, 512, kRAID1, 512},
        {"RAID 50 of 6 in 2 groups", {0, 1, 2, 3, 4, 5}, 3, 2, 128, 0x0205, 2 * 128},
        {"RAID 60 of 8 in 2 groups", {0, 1, 2, 3, 4, 5, 6, 7}, 5, 2, 64, 0x0207, 2 * 64},
        {"RAID 10 of 4", {0, 1, 2, 3}, 2, 0, 256, kRAID10, 2 * 256},
        {"RAID 6 of 5", {0, 1, 2, 3, 4}, 5, 0, 32, kRAID6, 3 * 32},
        {"RAID 0 of 3", {0, 1, 2}, 0, 0, 16, kRAID0, 3 * 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithDrives(8);
        FwLogicalDrive& ld = st.add_configured_drive(0, c.members, 1u << 20);
        ld.fault_tolerance = c.fault_tolerance;
        ld.parity_groups = c.parity_groups;
        ld.strip = c.strip;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_GetLogicalDriveRAIDInfo(cda(), 0), c.raid_info);
        EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveFullStripeSizeBlocks), c.full_stripe_blocks);
        EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveFullStripeSizeBytes), 512 * c.full_stripe_blocks);
        EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveStripSizeBlocks), c.strip);
        EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveBlockSizeBytes), 512u);
        StopController();
    }
}

TEST_F(LogicalDrivesHost, SizeOfANumberPastTheLastLogicalDriveIsZeroAndLogged) {
    FirmwareState st = WithDrives(2);
    st.add_configured_drive(0, {0, 1}, 1u << 20);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    TelmarLogCapture log;
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 64, kLogicalDriveSizeBlocks), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'ld_number < kMaxLogicalDrivesSupported' failed"), 1u);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 1, kLogicalDriveSizeBlocks), 0u); // not configured
}

TEST_F(LogicalDrivesHost, LabelDropsTrailingControlCharactersAndBlanksInnerOnes) {
    struct Case {
        const char* name;
        std::string label;
        std::string expected;
    } const cases[] = {
        {"NUL padded", std::string("DATA") + std::string(60, '\0'), "DATA"},
        {"inner tab", "AB\tCD", "AB CD"},
        {"trailing control characters", "LOGS\t\x01", "LOGS"},
        {"trailing blanks kept", "VOL  ", "VOL  "},
        {"high byte inside", "A\x80Z", "A Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithDrives(2);
        st.add_configured_drive(0, {0, 1}, 1u << 20).label = c.label;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        char label[kMinGetLogicalDriveVolumeLabelBufferLength];
        std::memset(label, 'x', sizeof(label));
        EXPECT_EQ(std::string(VK_GetLogicalDriveVolumeLabel(cda(), 0, label, sizeof(label))), c.expected);
        StopController();
    }
}

// ---- RAID groups -------------------------------------------------------------------------------------

TEST_F(LogicalDrivesHost, RaidGroupsComeFromThePairReplyOnEveryCall) {
    FirmwareState st = WithDrives(10);
    st.add_configured_drive(0, {0, 1, 2, 3}, 1u << 20).fault_tolerance = 2; // RAID 10
    FwLogicalDrive& r50 = st.add_configured_drive(1, {4, 5, 6, 7, 8, 9}, 1u << 20);
    r50.fault_tolerance = 3;
    r50.parity_groups = 2;
    st.mirror_pairs = {{0, {{0, 1}, {1, 0}, {2, 3}, {3, 2}}},
                       {1, {{4, 1}, {5, 0}, {6, 1}, {7, 0}, {8, 0}, {9, 1}}}};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    const auto [mirror, mirror_groups] = Groups(0);
    EXPECT_EQ(mirror, 2);
    EXPECT_EQ(mirror_groups, (std::vector<std::vector<VK_WORD>>{{0, 1}, {2, 3}}));
    const auto [parity, parity_groups] = Groups(1);
    EXPECT_EQ(PARITY_GROUP_COUNT(parity), 2);
    EXPECT_EQ(parity_groups, (std::vector<std::vector<VK_WORD>>{{5, 7, 8}, {4, 6, 9}}));
    Groups(0);
    EXPECT_EQ(Sent(kMirrorPairRead), 3u);
}

TEST_F(LogicalDrivesHost, RaidGroupEnumeratorFailsWholeOnAReplyItCannotTrust) {
    struct Case {
        const char* name;
        void (*edit)(FirmwareState&);
        size_t reads;
    } const cases[] = {
        {"RAID 5 has no groups, and nothing is read",
         [](FirmwareState& s) { s.find_configured_drive(0)->fault_tolerance = 3; }, 0},
        {"pair read fails", [](FirmwareState& s) { s.fail_device(kMirrorPairRead, 0); }, 1},
        {"partner 384", [](FirmwareState& s) { s.mirror_pairs[0].pairs[2].paired = 384; }, 1},
        {"partner outside the array", [](FirmwareState& s) { s.mirror_pairs[0].pairs[2].paired = 5; }, 1},
        {"partner already in a group", [](FirmwareState& s) { s.mirror_pairs[0].pairs[2].paired = 1; }, 1},
        {"drive paired with itself", [](FirmwareState& s) { s.mirror_pairs[0].pairs[0].paired = 0; }, 1},
        {"extended table outside the reply",
         [](FirmwareState& s) { s.patches.push_back({kMirrorPairRead, {}, 512, {0xF0, 0xFF}}); }, 1},
        {"extended table past the reported total",
         [](FirmwareState& s) { s.patches.push_back({kMirrorPairRead, {}, 512, {0x10, 0x05}}); }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithDrives(6);
        st.add_configured_drive(0, {0, 1, 2, 3}, 1u << 20).fault_tolerance = 2;
        st.mirror_pairs = {{0, {{0, 1}, {1, 0}, {2, 3}, {3, 2}}}};
        c.edit(st);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        TelmarLogCapture quiet;
        const VK_UINT64 held = _VK_curr_alloc;
        PRAID_GROUP_INFO info = reinterpret_cast<PRAID_GROUP_INFO>(1);
        EXPECT_EQ(VK_CreateLogicalDriveRaidGroupEnumerator(cda(), 0, &info), 0);
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(_VK_curr_alloc, held); // the partial enumerator and the reply are gone
        EXPECT_EQ(Sent(kMirrorPairRead), c.reads);
        StopController();
    }
}

// ---- LU cache ----------------------------------------------------------------------------------------

// Logical drive 0 cached by LU cache logical drive 1.
FirmwareState WithLUCache() {
    FirmwareState st = WithDrives(4);
    st.set_page("lu_cache", {0x20, 0x00, 0x00});
    st.add_configured_drive(0, {0, 1}, 1u << 20);
    st.add_configured_drive(1, {2, 3}, 1u << 18);
    FwLogicalDrive& data = *st.find_configured_drive(0);
    data.lu_cache_bits = 0x01;
    data.lu_cache_other = 1;
    FwLogicalDrive& cache = *st.find_configured_drive(1);
    cache.property = 0x04;
    cache.lu_cache_other = 0;
    for (FwLogicalDrive* ld : {&data, &cache}) {
        ld->lu_cache_counters = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        ld->lu_cache_starting_dirty_lines = 400;
        ld->lu_cache_dirty_lines = 100;
        ld->lu_cache_state_stats = kLUCacheStateFlushing;
        ld->lu_write_policy_reason = kWritePolicyStatusCacheLUNDegraded;
    }
    return st;
}

TEST_F(LogicalDrivesHost, LUCacheStatisticsTakeLockedMissesOnlyFromALongReply) {
    for (const std::uint16_t valid : {std::uint16_t{90}, std::uint16_t{98}, std::uint16_t{108}}) {
        SCOPED_TRACE(valid);
        FirmwareState st = WithLUCache();
        st.find_configured_drive(0)->lu_cache_stats_valid_length = valid;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        VK_LU_CACHE_STATISTICS stats;
        std::memset(&stats, 0xAB, sizeof(stats));
        constexpr VK_QWORD kUntouched = 0xABABABABABABABABull;
        ASSERT_EQ(VK_GetLogicalDriveLUCacheStats(cda(), 0, &stats), kTrue);
        // Counters in reply order: hits 1, misses 2, 3, 4; write hits 5, misses 6, 7, 8; totals 9,
        // 10; locked 11, 12.
        EXPECT_EQ(stats.read_cache_hits, 1u);
        EXPECT_EQ(stats.read_cache_misses_skip, 4u);
        EXPECT_EQ(stats.write_cache_misses_skip, 8u);
        if (valid > 98) {
            EXPECT_EQ(stats.read_cache_misses_locked, 11u);
            EXPECT_EQ(stats.write_cache_misses_locked, 12u);
            EXPECT_EQ(stats.read_cache_misses_total, 9u);
            EXPECT_EQ(stats.write_cache_misses_total, 10u);
        } else {
            EXPECT_EQ(stats.read_cache_misses_locked, kUntouched);
            EXPECT_EQ(stats.write_cache_misses_locked, kUntouched);
            EXPECT_EQ(stats.read_cache_misses_total, 2u + 3u + 4u);
            EXPECT_EQ(stats.write_cache_misses_total, 6u + 7u + 8u);
        }
        StopController();
    }
}

TEST_F(LogicalDrivesHost, LUCacheStatusWordAndDirtyLinesComeFromTheirReplies) {
    ASSERT_NO_FATAL_FAILURE(Start(WithLUCache()));
    const VK_WORD word = VK_GetLogicalDriveLUCacheStatusInfo(cda(), 0);
    EXPECT_EQ(LU_CACHE_STATE(word), kLUCacheStateFlushing);
    EXPECT_EQ(LU_CACHE_WRITE_POLICY_REASON(word), kWritePolicyStatusCacheLUNDegraded);
    const VK_QWORD lines = VK_GetLogicalDriveLUCacheDirtyLinesCount(cda(), 0);
    EXPECT_EQ(LU_CACHE_STARTING_DIRTY_LINES(lines), 400u);
    EXPECT_EQ(LU_CACHE_DIRTY_LINES(lines), 100u);
    EXPECT_EQ(LU_CACHE_FLUSH_PROGRESS_INT(lines), 75u);
    EXPECT_EQ(VK_GetLogicalDriveLUCacheNumber(cda(), 0), 1);
    EXPECT_EQ(VK_GetLogicalDriveLUCacheStatusInfo(cda(), 64), 0);
}

// ---- Logical-drive status and health -----------------------------------------------------------------

TEST_F(LogicalDrivesHost, StatusWordAndHealthOfALogicalDrive) {
    struct Case {
        const char* name;
        void (*edit)(FwLogicalDrive&);
        VK_WORD ld;
        VK_DWORD word;
        VK_BYTE health;
    } const cases[] = {
        {"OK", [](FwLogicalDrive&) {}, 0, 0, kLogicalDriveHealthOK},
        {"unit 0 erasing reads 15", [](FwLogicalDrive& l) { l.unit_flags = 0x80; }, 0, 15,
         kLogicalDriveHealthCritical},
        {"failed during a transformation",
         [](FwLogicalDrive& l) {
             l.unit_status = 1;
             l.expand_failure = 1;
         },
         0, 0x101, kLogicalDriveHealthCritical},
        {"media exchanged while recovering",
         [](FwLogicalDrive& l) {
             l.unit_status = 5;
             l.media_exchanged = 1;
         },
         0, 0x205, kLogicalDriveHealthWarning},
        {"orphan in unit 0",
         [](FwLogicalDrive& l) {
             l.property = 0x02;
             l.other_signature = 0x5151;
         },
         0, 0, kLogicalDriveHealthWarning},
        {"failed orphan still warns",
         [](FwLogicalDrive& l) {
             l.property = 0x02;
             l.other_signature = 0x5151;
             l.unit_status = 1;
         },
         0, 1, kLogicalDriveHealthWarning},
        {"logical drive 70", [](FwLogicalDrive&) {}, 70, 0, kLogicalDriveHealthOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithDrives(2);
        c.edit(st.add_configured_drive(0, {0, 1}, 1u << 20));
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_GetLogicalDriveStatusInfo(cda(), c.ld), c.word);
        EXPECT_EQ(VK_GetLogicalDriveHealth(cda(), c.ld), c.health);
        StopController();
    }
}

TEST_F(LogicalDrivesHost, OKLogicalDriveOnAForeignOwnedSelfEncryptingDriveWarns) {
    FirmwareState st = WithDrives(2);
    st.set_page("drive", {0x08, 0x58, 0x03});
    st.set_page("managed_sed", {0x07});
    st.find_drive(1)->feature_flags = 0x1 | 0x800 | 0x1000; // SED, owned, foreign
    st.add_configured_drive(0, {0, 1}, 1u << 20);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetLogicalDriveStatusInfo(cda(), 0), 0u);
    EXPECT_TRUE(VK_GetLogicalDriveEncryptionInfo(cda(), 0) & 0x40000);
    EXPECT_EQ(VK_GetLogicalDriveHealth(cda(), 0), kLogicalDriveHealthWarning);
    EXPECT_TRUE(VK_GetArrayStatusInfo(cda(), 0) & kArrayStatusHasSEDForeignLogicalDrive);
}

// ---- Surface analysis --------------------------------------------------------------------------------

FirmwareState WithSurface(std::uint16_t fault_tolerance) {
    FirmwareState st = WithDrives(3);
    st.add_configured_drive(0, {0, 1, 2}, 1u << 20).fault_tolerance = fault_tolerance;
    st.surface.drives = {{.analysis_status = kLogicalDriveSurfaceStatusScanCompleted |
                                             kLogicalDriveSurfaceStatusUsesParity,
                          .pass_time = 3600,
                          .completion_date = 2020u << 16 | 3u << 8 | 14u,
                          .completion_time = 45296}};
    return st;
}

TEST_F(LogicalDrivesHost, SurfaceWordAndLastAnalysisOfALogicalDrive) {
    ASSERT_NO_FATAL_FAILURE(Start(WithSurface(3)));
    EXPECT_EQ(VK_GetLogicalDriveSurfaceStatus(cda(), 0),
              kLogicalDriveSurfaceStatusScanCompleted | kLogicalDriveSurfaceStatusUsesParity);
    LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO info = {};
    ASSERT_EQ(VK_GetLogicalDriveSurfaceAnalysisInfo(cda(), 0, &info), kGetLogicalDriveSurfaceAnalysisInfoSuccess);
    EXPECT_EQ(info.year_last_scan_completion, 2020);
    EXPECT_EQ(info.month_last_scan_completion, 3);
    EXPECT_EQ(info.day_last_scan_completion, 14);
    EXPECT_EQ(info.seconds_last_scan_completion, 45296u);
    EXPECT_EQ(info.last_analysis_duration_seconds, 3600u);
    // The word is cached until reset; the analysis reads afresh every time.
    VK_GetLogicalDriveSurfaceStatus(cda(), 0);
    VK_GetLogicalDriveSurfaceAnalysisInfo(cda(), 0, &info);
    EXPECT_EQ(Sent(kSurfaceRead), 3u);
    VK_ResetSurfaceStatusInformation(cda());
    VK_GetLogicalDriveSurfaceStatus(cda(), 0);
    EXPECT_EQ(Sent(kSurfaceRead), 4u);
}

TEST_F(LogicalDrivesHost, SurfaceAnswersNothingFromTablesItCannotUse) {
    struct Case {
        const char* name;
        void (*edit)(FirmwareState&);
        VK_WORD word;
        VK_BYTE result;
    } const cases[] = {
        {"RAID 0 has no surface word", [](FirmwareState& s) { s.find_configured_drive(0)->fault_tolerance = 0; }, 0,
         kGetLogicalDriveSurfaceAnalysisInfoSuccess},
        {"day 0", [](FirmwareState& s) { s.surface.drives[0].completion_date = 2020u << 16 | 3u << 8; }, 0x9,
         kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported},
        {"status table outside the reply",
         [](FirmwareState& s) { s.patches.push_back({kSurfaceRead, {}, 1432, {0x00, 0xF0, 0x00, 0x00}}); }, 0,
         kGetLogicalDriveSurfaceAnalysisInfoSuccess},
        // The drive's own entry is the reply's last word, but the table of 64 runs past the end.
        {"status table runs past the reply",
         [](FirmwareState& s) {
             s.patches.push_back({kSurfaceRead, {}, 1432, {0xF6, 0x1A, 0x00, 0x00}}); // 6902
             s.patches.push_back({kSurfaceRead, {}, 6902, {0x09, 0x00}});
         },
         0, kGetLogicalDriveSurfaceAnalysisInfoSuccess},
        {"date table outside the reply",
         [](FirmwareState& s) { s.patches.push_back({kSurfaceRead, {}, 1444, {0x00, 0xF0, 0x00, 0x00}}); }, 0x9,
         kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported},
        {"date table runs past the reply",
         [](FirmwareState& s) {
             s.patches.push_back({kSurfaceRead, {}, 1444, {0xF4, 0x1A, 0x00, 0x00}}); // 6900
             s.patches.push_back({kSurfaceRead, {}, 6900, {0x01, 0x01, 0xE5, 0x07}}); // 2021-01-01
         },
         0x9, kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported},
        {"no pass-time table",
         [](FirmwareState& s) { s.patches.push_back({kSurfaceRead, {}, 1440, {0, 0, 0, 0}}); }, 0x9,
         kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported},
        {"read fails", [](FirmwareState& s) {
             qvsim::FwFault f;
             f.bmic = kSurfaceRead;
             f.count = 0;
             f.err = 5;
             s.faults.push_back(f);
         }, 0,
         kGetLogicalDriveSurfaceAnalysisInfoFailedToReadInfo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithSurface(3);
        c.edit(st);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        TelmarLogCapture quiet;
        EXPECT_EQ(VK_GetLogicalDriveSurfaceStatus(cda(), 0), c.word);
        LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO info;
        std::memset(&info, 0x5A, sizeof(info));
        EXPECT_EQ(VK_GetLogicalDriveSurfaceAnalysisInfo(cda(), 0, &info), c.result);
        if (c.result == kGetLogicalDriveSurfaceAnalysisInfoInvalidDataReported &&
            std::string(c.name) == "day 0") {
            EXPECT_EQ(info.year_last_scan_completion, 0);
            EXPECT_EQ(info.last_analysis_duration_seconds, 0u);
        }
        StopController();
    }
}

// ---- Arrays ------------------------------------------------------------------------------------------

TEST_F(LogicalDrivesHost, ArrayCountsSizesAndSpares) {
    FirmwareState st = WithDrives(8, 1000);
    FwLogicalDrive& ld = st.add_configured_drive(0, {0, 1, 2, 3}, 700);
    ld.spares = {4};
    st.find_drive(4)->total_blocks = 5000 + kReserved;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    data()->array_record_list[0].alignment_size_blocks = 128;
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayTotalSizeBlocks), 4000u);
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayFreeSizeBlocks), (1000u - 768u) * 4);
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayFreeSizeBytes), (1000u - 768u) * 4 * 512);
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayBlockSizeBytes), 512u);
    const VK_DWORD counts = VK_GetArrayPhysicalDriveCounts(cda(), 0);
    EXPECT_EQ(NUM_DATA_PHYSICAL_DRIVES(counts), 4);
    EXPECT_EQ(NUM_SPARE_PHYSICAL_DRIVES(counts), 1);
    EXPECT_EQ(NUM_FAILED_PHYSICAL_DRIVES(counts), 0);
    EXPECT_EQ(VK_GetArrayType(cda(), 0), kArrayTypeData);
    EXPECT_EQ(VK_GetArrayType(cda(), 1), 0);
    EXPECT_EQ(VK_EnumerateArrayLogicalDrives(cda(), 0, 5), kInvalidLDNumber);
    EXPECT_EQ(VK_EnumerateArrayLogicalDrives(cda(), 0, kInvalidLDNumber), 0);
}

TEST_F(LogicalDrivesHost, TypeMaskPicksSplitMirrorPrimariesAndBackupsButNotOrphans) {
    FirmwareState st = WithDrives(6);
    FwLogicalDrive& primary = st.add_configured_drive(0, {0, 1}, 1u << 20);
    primary.signature = 0xA;
    primary.other_signature = 0xB;
    st.add_configured_drive(1, {2, 3}, 1u << 20);
    FwLogicalDrive& backup = *st.find_configured_drive(1);
    backup.property = 0x03;
    backup.signature = 0xB;
    backup.other_signature = 0xA;
    backup.bios_disable_flag = 0x02;
    backup.backup_timestamp = 77;
    st.add_configured_drive(2, {4, 5}, 1u << 20);
    FwLogicalDrive& orphan = *st.find_configured_drive(2);
    orphan.property = 0x03;
    orphan.signature = 0xC;
    orphan.other_signature = 0xD;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    std::map<VK_BYTE, int> types;
    VK_WORD a;
    FOREACH_ARRAY_OF_TYPE(cda(), kArrayTypeSplitMirrorPrimary | kArrayTypeSplitMirrorBackup, a) {
        ++types[VK_GetArrayType(cda(), a)];
    }
    EXPECT_EQ(types, (std::map<VK_BYTE, int>{{kArrayTypeSplitMirrorPrimary, 1}, {kArrayTypeSplitMirrorBackup, 1}}));
    EXPECT_EQ(VK_GetArrayType(cda(), VK_GetLogicalDriveArray(cda(), 2)), kArrayTypeSplitMirrorBackupOrphan);
    // Arrays are numbered in the order of their drives: the primary's {0, 1} is array 0, the backup's
    // {2, 3} array 1, and the primary names the backup's array as its split mirror.
    ASSERT_EQ(VK_GetLogicalDriveArray(cda(), 0), 0);
    ASSERT_EQ(VK_GetLogicalDriveArray(cda(), 1), 1);
    EXPECT_EQ(VK_GetArraySplitMirrorNumber(cda(), 0), 1);
}

TEST_F(LogicalDrivesHost, ArrayOfDrivesWithNoUsableBlocksHasNoSize) {
    FirmwareState st = WithDrives(2, 0);
    st.add_configured_drive(0, {0, 1}, 1u << 10);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayTotalSizeBlocks), 0u);
    EXPECT_EQ(VK_GetArraySize(cda(), 0, kArrayFreeSizeBytes), 0u);
}

TEST_F(LogicalDrivesHost, MissingDataDriveCountsAsDataAndAsFailed) {
    FirmwareState st = WithDrives(2);
    FwLogicalDrive& ld = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld.fault_tolerance = 3;
    ld.missing_drives = 1;
    ld.assigned_drives = 3;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    const VK_DWORD counts = VK_GetArrayPhysicalDriveCounts(cda(), 0);
    EXPECT_EQ(NUM_DATA_PHYSICAL_DRIVES(counts), 3);
    EXPECT_EQ(NUM_FAILED_PHYSICAL_DRIVES(counts), 1);
    EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 0), kArrayStatusHasFailedDataDrive);
    EXPECT_EQ(VK_GetArrayHealth(cda(), 0), kArrayHealthCritical);
}

TEST_F(LogicalDrivesHost, SpareTypeFollowsTheFirstUsableSpare) {
    FirmwareState st = WithDrives(4);
    FwLogicalDrive& ld = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld.fault_tolerance = 2;
    ld.spares = {2};
    ld.active_spares = {2};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetArraySpareType(cda(), 0), kSpareDriveTypeDedicated);
    EXPECT_TRUE(VK_GetArrayStatusInfo(cda(), 0) & kArrayStatusHasActiveSpare);
}

// ---- Array status, health and roll-up ----------------------------------------------------------------

TEST_F(LogicalDrivesHost, ArrayStatusWordHealthAndRollup) {
    struct Case {
        const char* name;
        void (*edit)(FirmwareState&);
        VK_DWORD word;
        VK_BYTE health;
        VK_BYTE rollup;
    } const cases[] = {
        {"healthy", [](FirmwareState&) {}, kArrayStatusOK, kArrayHealthOK, kArrayHealthRollupOK},
        {"recovering logical drive and a rebuilding drive",
         [](FirmwareState& s) {
             FwLogicalDrive& l = *s.find_configured_drive(0);
             l.unit_status = 5;
             l.rebuild_percent = {{1, 40}};
         },
         kArrayStatusHasRecoveringLogicalDrive, kArrayHealthOK, kArrayHealthRollupWarning},
        {"missing data drive", [](FirmwareState& s) { s.find_configured_drive(0)->missing_drives = 1; },
         kArrayStatusHasFailedDataDrive, kArrayHealthCritical, kArrayHealthRollupCritical},
        {"critical array whose spare warns",
         [](FirmwareState& s) {
             s.find_configured_drive(0)->missing_drives = 1;
             s.find_configured_drive(0)->spares = {3};
             s.find_drive(3)->extra_device_flags = 0x600; // worn out
         },
         kArrayStatusHasFailedDataDrive, kArrayHealthCritical,
         kArrayHealthRollupCritical | kArrayHealthRollupWarning},
        {"failed logical drive", [](FirmwareState& s) { s.find_configured_drive(0)->unit_status = 1; },
         kArrayStatusHasFailedLogicalDrive, kArrayHealthCritical, kArrayHealthRollupCritical},
        {"degraded logical drive", [](FirmwareState& s) { s.find_configured_drive(0)->unit_status = 3; },
         kArrayStatusHasDegradedLogicalDrive, kArrayHealthCritical,
         kArrayHealthRollupCritical | kArrayHealthRollupWarning},
        {"encryption off is offline, with no volatile-key bit",
         [](FirmwareState& s) {
             s.set_page("encryption", {0x41});
             s.find_configured_drive(0)->unit_status = 24;
             s.find_configured_drive(0)->additional_encryption_flags = 0x01 | 0x04;
         },
         kArrayStatusHasOfflineLogicalDrive, kArrayHealthOK, kArrayHealthRollupWarning},
        {"520-byte blocks",
         [](FirmwareState& s) {
             for (auto& d : s.drives) {
                 d.block_size = 520;
             }
             s.find_configured_drive(0)->block_size = 520;
         },
         kArrayStatusUnsupportedBlockSizeForRAIDConfiguration, kArrayHealthOK, kArrayHealthRollupOK},
        {"orphan backup",
         [](FirmwareState& s) {
             s.find_configured_drive(0)->property = 0x02;
             s.find_configured_drive(0)->other_signature = 0x5151;
         },
         kArrayStatusOK, kArrayHealthWarning, kArrayHealthRollupWarning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = WithDrives(4);
        st.add_configured_drive(0, {0, 1, 2}, 1u << 20).fault_tolerance = 3;
        c.edit(st);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 0), c.word);
        EXPECT_EQ(VK_GetArrayHealth(cda(), 0), c.health);
        EXPECT_EQ(VK_GetArrayHealthRollup(cda(), 0), c.rollup);
        EXPECT_EQ(VK_GetControllerHealthRollup(cda()) & c.rollup, c.rollup);
        StopController();
    }
}

TEST_F(LogicalDrivesHost, ArrayGapIsToleratedUpToTheAlignment) {
    FirmwareState st = WithDrives(2);
    st.add_configured_drive(0, {0, 1}, 900, 0);
    st.add_configured_drive(1, {0, 1}, 900, 1000);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(data()->array_record_list[0].ld_count, 2);
    for (const auto& [alignment, word] : std::vector<std::pair<VK_DWORD, VK_DWORD>>{
             {64, kArrayStatusHasGaps}, {100, kArrayStatusOK}, {128, kArrayStatusOK}}) {
        SCOPED_TRACE(alignment);
        data()->array_record_list[0].alignment_size_blocks = alignment;
        EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 0), word);
    }
    // Extents that overlap are a fault too, however large the alignment.
    data()->array_record_list[0].ld_offset_array[1] = 800;
    EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 0), kArrayStatusHasGaps);
    EXPECT_EQ(VK_GetArrayHealth(cda(), 0), kArrayHealthWarning);
}

TEST_F(LogicalDrivesHost, VolatileKeyOperationIsReportedForAnOnlineLogicalDrive) {
    FirmwareState st = WithDrives(2);
    st.set_page("encryption", {0x41});
    FwLogicalDrive& ld = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld.additional_encryption_flags = 0x01 | 0x04; // volatile key, an operation in progress
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 0), kArrayStatusHasLogicalDriveWithVolatileKeyOp);
}

TEST_F(LogicalDrivesHost, EmptyArraySlotReadsUnsupportedBlockSizeAlone) {
    FirmwareState st = WithDrives(2);
    st.add_configured_drive(0, {0, 1}, 1u << 20);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 5), kArrayStatusUnsupportedBlockSizeForRAIDConfiguration);
    EXPECT_EQ(VK_GetArrayStatusInfo(cda(), 64), 0u);
}

// ---- Staged arrays -----------------------------------------------------------------------------------

TEST_F(LogicalDrivesHost, StagedArrayCountsSaturateAndCountFailedDataDrives) {
    FirmwareState st = WithDrives(4);
    st.find_drive(2)->device_flags = 0; // not operational: failed
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_GetEditableArrayPhysicalDriveCounts(cda(), 0), 0u); // nothing staged

    auto* config = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    ASSERT_NE(config, nullptr);
    std::memset(config, 0, sizeof(*config));
    auto* array = static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY)));
    ASSERT_NE(array, nullptr);
    std::memset(array, 0, sizeof(*array));
    config->editable_array_list[3] = array;
    data()->editable_configuration = config;

    struct Case {
        VK_WORD data_count, spare_count;
        VK_DWORD word;
        size_t assertions;
    } const cases[] = {
        {4, 1, 4u | 1u << 8 | 1u << 24, 0},
        {256, 0, 255u | 1u << 24, 1},     // 256 drives read 255, not 0
        {300, 300, 255u | 255u << 8 | 1u << 24, 1},
        {128, 2, 128u | 2u << 8 | 1u << 24, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data_count);
        array->data_drive_count = c.data_count;
        array->spare_drive_count = c.spare_count;
        for (VK_WORD i = 0; i < 128; ++i) {
            array->data_drives[i] = i < 4 ? i : 0; // drive 2 once; the rest repeat drive 0
        }
        TelmarLogCapture log;
        EXPECT_EQ(VK_GetEditableArrayPhysicalDriveCounts(cda(), 3), c.word);
        EXPECT_EQ(TelmarLogCapture::Count("The data drive count is greater than max pds per array."), c.assertions);
    }
    EXPECT_EQ(VK_GetEditableArrayPhysicalDriveCounts(cda(), 2), 0u);  // empty slot
    EXPECT_EQ(VK_GetEditableArrayPhysicalDriveCounts(cda(), 64), 0u); // past the slots
}

// ---- Caching on the request log ----------------------------------------------------------------------

TEST_F(LogicalDrivesHost, StatusRoundReadsEachLUCacheBufferOnceAndASecondRoundNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(WithLUCache()));
    auto round = [&] {
        VK_WORD a;
        FOREACH_ARRAY(cda(), a) {
            VK_GetArrayStatusInfo(cda(), a);
            VK_GetArrayHealthRollup(cda(), a);
        }
        VK_GetControllerHealthRollup(cda());
    };
    round();
    std::map<std::pair<unsigned, unsigned>, int> reads; // (sub-command, logical drive) -> reads
    for (const qvsim::BmicCdb& b : Received()) {
        if (b.opcode == kCacheRead && b.lun() == 1) {
            ++reads[{b.detail >> 16, b.detail & 0xFFFF}];
        }
    }
    EXPECT_FALSE(reads.empty());
    for (const auto& [key, n] : reads) {
        SCOPED_TRACE(testing::Message() << "sub-command " << key.first << ", logical drive " << key.second);
        EXPECT_EQ(n, 1);
    }
    // The flushing LU cache shows in the array status of the drive it caches.
    EXPECT_TRUE(VK_GetArrayStatusInfo(cda(), data()->ld_record_list[0].array_number) &
                kArrayStatusHasFlushingLogicalDrive);
    host().clear_requests();
    round();
    EXPECT_TRUE(SentCdbs().empty());
}

} // namespace
