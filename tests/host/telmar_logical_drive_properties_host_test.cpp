// The other properties of staged logical drives against a simulated controller: initialisation
// method, accelerator, label and lock. New logical drives come from other editing functions; here
// the fixture stages them directly, as those functions would leave them.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

struct Support {
    bool opo = true, rapid_init = true, all_raid_rapid_init = false, io_bypass = true, cache_board = true;
};

// Drives 0-2 hard disks holding logical drive 0 (RAID 5); 3 and 4 SSDs holding logical drive 1
// (RAID 1); 5-9 unassigned, 5-7 SSDs and 8-9 hard disks.
FirmwareState Controller(const Support& support = {}) {
    FirmwareState st;
    AddDrives(st, 10);
    for (std::uint16_t pd = 3; pd <= 7; ++pd) {
        st.find_drive(pd)->rpm = 1;
        st.find_drive(pd)->extra_device_flags = 0x20;
    }
    st.set_page("raid", {0x00, static_cast<std::uint8_t>(support.opo ? 0x04 : 0x00)});
    st.set_page("background", {static_cast<std::uint8_t>(support.rapid_init ? 0x02 : 0x00), 0x00, 0x00,
                               static_cast<std::uint8_t>(support.all_raid_rapid_init ? 0x01 : 0x00)});
    st.set_page("io", {static_cast<std::uint8_t>(support.io_bypass ? 0x02 : 0x00)});
    st.cache.board_present = support.cache_board ? 1 : 0;
    FwLogicalDrive& hdd = st.add_configured_drive(0, {0, 1, 2}, 1u << 20);
    hdd.fault_tolerance = 3;
    hdd.label = "Existing volume";
    FwLogicalDrive& ssd = st.add_configured_drive(1, {3, 4}, 1u << 20);
    ssd.fault_tolerance = 2;
    return st;
}

constexpr VK_QWORD kReady = kEditableLDNewDrive | kEditableLDArraySet | kEditableLDRAIDSet |
                            kEditableLDStripSizeSet | kEditableLDSizeSet;

class LogicalDrivePropertiesHost : public StagedConfigHost {
public:
    // A new array of the given drives, of their type.
    PEDITABLE_ARRAY StageArray(std::vector<VK_WORD> drives, bool ssd) {
        PEDITABLE_ARRAY a = FillArray(VK_CreateEditableArray(cda()), drives, kPhysicalDriveUsageData);
        a->common_drive_type = ssd ? kPhysicalDriveTypeSSD | kPhysicalDriveTypeSAS
                                   : kPhysicalDriveTypeHDD | kPhysicalDriveTypeSAS;
        return a;
    }
    // A new logical drive on `a` with array, RAID level, strip and size set, not locked.
    PEDITABLE_LOGICAL_DRIVE StageDrive(PEDITABLE_ARRAY a, VK_BYTE raid_level) {
        PEDITABLE_LOGICAL_DRIVE r = StageRecord(a, kReady);
        r->lu_cache_ld_number = 0xFFFF;
        r->RAID_level = raid_level;
        r->num_parity_groups = 1;
        r->strip_size_blocks = 512;
        r->block_size_bytes = 512;
        r->drive_size_blocks = 1u << 20;
        return r;
    }
};

// ---- Label ----

TEST_F(LogicalDrivePropertiesHost, LabelOfSixtyFourCharactersRoundTrips) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    char buffer[80];
    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, buffer, 65), kGetEditableLogicalDriveLabelOK);
    EXPECT_STREQ(buffer, "Existing volume");
    EXPECT_TRUE(ld(0)->flags & kEditableLDLabelUnchanged);

    std::string label;
    for (int i = 0; i < 64; ++i) {
        label.push_back(static_cast<char>(' ' + 1 + (i * 7) % 94));
    }
    EXPECT_EQ(VK_CanSetEditableLogicalDriveLabel(cda(), 0, label.data(), 64), kCanSetEditableLogicalDriveLabelOK);
    EXPECT_EQ(VK_SetEditableLogicalDriveLabel(cda(), 0, label.data(), 64), kSetEditableLogicalDriveLabelOK);
    EXPECT_FALSE(ld(0)->flags & kEditableLDLabelUnchanged);
    std::memset(buffer, 'x', sizeof(buffer));
    ASSERT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, buffer, 65), kGetEditableLogicalDriveLabelOK);
    EXPECT_EQ(std::string(buffer), label);
    EXPECT_EQ(buffer[64], '\0');

    // A shorter label replaces the whole field.
    ASSERT_EQ(VK_SetEditableLogicalDriveLabel(cda(), 0, "Short", 6), kSetEditableLogicalDriveLabelOK);
    ASSERT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, buffer, sizeof(buffer)), kGetEditableLogicalDriveLabelOK);
    EXPECT_STREQ(buffer, "Short");
    for (size_t i = 5; i < sizeof(buffer); ++i) {
        EXPECT_EQ(buffer[i], '\0') << i;
    }
}

TEST_F(LogicalDrivePropertiesHost, LabelGetterBuffers) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    char buffer[65];
    EXPECT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, buffer, 64), kGetEditableLogicalDriveLabelBufferTooSmall);
    EXPECT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, nullptr, 65), kGetEditableLogicalDriveLabelNullBuffer);
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 9, buffer, 65), kGetEditableLogicalDriveLabelNoEditableConfigCreated);
    EXPECT_EQ(buffer[0], '\0');
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_GetEditableLogicalDriveLabel(cda(), 0, buffer, 65), kGetEditableLogicalDriveLabelNoEditableConfigCreated);
}

TEST_F(LogicalDrivePropertiesHost, LabelRefusals) {
    FirmwareState st = Controller();
    st.logical_drives.front().unit_status = kLogicalDriveUnitStatus18RPIInProgress;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    using Stage = std::function<void(LogicalDrivePropertiesHost&)>;
    const std::string good = "Volume";
    const struct {
        const char* name;
        Stage stage;
        VK_WORD drive;
        std::string label;
        size_t size;
        bool null_label;
        VK_BYTE reason;
    } rows[] = {
        {"allowed", {}, 1, good, 6, false, kCanSetEditableLogicalDriveLabelOK},
        {"empty slot", {}, 9, good, 6, false, kCanSetEditableLogicalDriveLabelInvalidLogicalDrive},
        {"past 63", {}, 64, good, 6, false, kCanSetEditableLogicalDriveLabelInvalidLogicalDrive},
        {"NULL label", {}, 1, good, 6, true, kCanSetEditableLogicalDriveLabelInvalidLabel},
        {"size 0", {}, 1, good, 0, false, kCanSetEditableLogicalDriveLabelInvalidLabel},
        {"no array", [](auto& h) { h.ld(1)->flags &= ~kEditableLDArraySet; }, 1, good, 6, false,
         kCanSetEditableLogicalDriveLabelNoArraySet},
        {"LU cache drive", [](auto& h) { h.ld(1)->flags |= kEditableLDLUCache; }, 1, good, 6, false,
         kCanSetEditableLogicalDriveLabelNotAllowedForLUCache},
        {"65 bytes", {}, 1, std::string(65, 'a'), 65, false, kCanSetEditableLogicalDriveLabelLabelTooLong},
        {"initialising", {}, 0, good, 6, false, kCanSetEditableLogicalDriveLabelInitializingLogicalDrive},
        {"split-mirror backup", [](auto& h) { h.ld(1)->flags |= kEditableLDSplitMirrorBackup; }, 1, good, 6, false,
         kCanSetEditableLogicalDriveLabelNotADataDrive},
        {"byte after the terminator", {}, 1, std::string("ab\0c", 4), 4, false,
         kCanSetEditableLogicalDriveLabelInvalidCharacter},
        {"byte 0xE9", {}, 1, "Caf\xE9", 4, false, kCanSetEditableLogicalDriveLabelInvalidCharacter},
        {"empty", {}, 1, std::string("\0\0", 2), 2, false, kCanSetEditableLogicalDriveLabelInvalidLabel},
        {"locked and existing", [](auto& h) { h.ld(1)->flags |= kEditableLDLocked; }, 1, good, 6, false,
         kCanSetEditableLogicalDriveLabelOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        if (row.stage) {
            row.stage(*this);
        }
        const char* label = row.null_label ? nullptr : row.label.data();
        EXPECT_EQ(VK_CanSetEditableLogicalDriveLabel(cda(), row.drive, label, row.size), row.reason);
        if (row.reason != kCanSetEditableLogicalDriveLabelOK && row.drive == 1) {
            EXPECT_EQ(VK_SetEditableLogicalDriveLabel(cda(), row.drive, label, row.size),
                      kSetEditableLogicalDriveLabelFailedUnknown);
            EXPECT_TRUE(ld(1)->flags & kEditableLDLabelUnchanged);
        }
    }
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveLabel(cda(), 1, "a", 1), kCanSetEditableLogicalDriveLabelNoEditableConfigCreated);
}

// ---- Initialisation method ----

TEST_F(LogicalDrivePropertiesHost, InitializationMethodRows) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    using Stage = std::function<PEDITABLE_LOGICAL_DRIVE(LogicalDrivePropertiesHost&)>;
    const Stage ssd_raid5 = [](auto& h) { return h.StageDrive(h.StageArray({5, 6, 7}, true), kRAID5); };
    const struct {
        const char* name;
        Stage stage;
        VK_BYTE method, reason;
    } rows[] = {
        {"default", ssd_raid5, 0, kCanSetEditableLogicalDriveInitializationMethodOK},
        {"OPO", ssd_raid5, 2, kCanSetEditableLogicalDriveInitializationMethodOK},
        {"rapid parity", ssd_raid5, 1, kCanSetEditableLogicalDriveInitializationMethodOK},
        {"both bits", ssd_raid5, 3, kCanSetEditableLogicalDriveInitializationMethodNotAllowed},
        {"existing drive", [](auto& h) { return h.ld(0); }, 0, kCanSetEditableLogicalDriveInitializationMethodLDIsLocked},
        {"no array",
         [&](auto& h) {
             auto d = ssd_raid5(h);
             d->flags &= ~kEditableLDArraySet;
             return d;
         },
         0, kCanSetEditableLogicalDriveInitializationMethodNoArraySet},
        {"no RAID level",
         [&](auto& h) {
             auto d = ssd_raid5(h);
             d->flags &= ~kEditableLDRAIDSet;
             return d;
         },
         0, kCanSetEditableLogicalDriveInitializationMethodNoRAIDLevelSet},
        {"LU cache drive",
         [&](auto& h) {
             auto d = ssd_raid5(h);
             d->flags |= kEditableLDLUCache;
             return d;
         },
         0, kCanSetEditableLogicalDriveInitializationMethodNotAllowedForLUCache},
        {"cached drive",
         [&](auto& h) {
             auto d = ssd_raid5(h);
             d->lu_cache_ld_number = 1;
             return d;
         },
         0, kCanSetEditableLogicalDriveInitializationMethodLUCacheConfigured},
        {"OPO on hard disks", [](auto& h) { return h.StageDrive(h.StageArray({8, 9}, false), kRAID1); }, 2,
         kCanSetEditableLogicalDriveInitializationMethodDriveTypeNotSSD},
        {"OPO on the second drive",
         [](auto& h) {
             PEDITABLE_ARRAY a = h.StageArray({5, 6, 7}, true);
             h.StageDrive(a, kRAID5);
             return h.StageDrive(a, kRAID5);
         },
         2, kCanSetEditableLogicalDriveInitializationMethodNotFirstLDInArray},
        {"rapid init of RAID 1", [](auto& h) { return h.StageDrive(h.StageArray({5, 6}, true), kRAID1); }, 1,
         kCanSetEditableLogicalDriveInitializationMethodRPINotSupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        PEDITABLE_LOGICAL_DRIVE d = row.stage(*this);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveInitializationMethod(cda(), d->ld_number, row.method), row.reason);
        const bool allowed = row.reason == kCanSetEditableLogicalDriveInitializationMethodOK;
        EXPECT_EQ(VK_SetEditableLogicalDriveInitializationMethod(cda(), d->ld_number, row.method),
                  allowed ? kSetEditableLogicalDriveInitializationMethodOK
                          : kSetEditableLogicalDriveInitializationMethodFailedUnknown);
        if (allowed) {
            EXPECT_EQ(d->logical_drive_initialization_method, row.method);
        }
    }
    // Every drive that exists on the controller is locked.
    ASSERT_NO_FATAL_FAILURE(Restage());
    for (VK_WORD n : {0, 1}) {
        EXPECT_EQ(VK_CanSetEditableLogicalDriveInitializationMethod(cda(), n, 1),
                  kCanSetEditableLogicalDriveInitializationMethodLDIsLocked);
    }
    EXPECT_EQ(VK_CanSetEditableLogicalDriveInitializationMethod(cda(), 9, 0),
              kCanSetEditableLogicalDriveInitializationMethodNoArraySet);
}

TEST_F(LogicalDrivePropertiesHost, InitializationMethodControllerSupport) {
    const struct {
        const char* name;
        Support support;
        bool nvme;
        VK_BYTE raid_level, method, reason;
    } rows[] = {
        {"no OPO", {.opo = false}, false, kRAID5, 2, kCanSetEditableLogicalDriveInitializationMethodOPONotSupported},
        {"OPO on NVMe", {}, true, kRAID5, 2, kCanSetEditableLogicalDriveInitializationMethodNotAllowedForNVMeArray},
        {"no rapid init", {.rapid_init = false}, false, kRAID5, 1,
         kCanSetEditableLogicalDriveInitializationMethodRPINotSupported},
        {"rapid init of every level", {.all_raid_rapid_init = true}, false, kRAID1, 1,
         kCanSetEditableLogicalDriveInitializationMethodOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Controller(row.support);
        if (row.nvme) {
            for (VK_WORD pd : {5, 6, 7}) {
                st.find_drive(pd)->device_type = 9;
            }
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        PEDITABLE_LOGICAL_DRIVE d = StageDrive(StageArray({5, 6, 7}, true), row.raid_level);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveInitializationMethod(cda(), d->ld_number, row.method), row.reason);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

// ---- Accelerator and lock ----

TEST_F(LogicalDrivePropertiesHost, AcceleratorRows) {
    FirmwareState st = Controller();
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    using Stage = std::function<PEDITABLE_LOGICAL_DRIVE(LogicalDrivePropertiesHost&)>;
    const Stage only_ssd = [](auto& h) { return h.StageDrive(h.StageArray({5, 6}, true), kRAID1); };
    const struct {
        const char* name;
        Stage stage;
        VK_BYTE accelerator, reason;
    } rows[] = {
        {"IO bypass for the only drive of an SSD array", only_ssd, 3, kCanSetEditableLogicalDriveAcceleratorOK},
        {"controller cache", only_ssd, 2, kCanSetEditableLogicalDriveAcceleratorOK},
        {"none", only_ssd, 1, kCanSetEditableLogicalDriveAcceleratorOK},
        {"value 4", only_ssd, 4, kCanSetEditableLogicalDriveAcceleratorUnsupported},
        {"value 0", only_ssd, 0, kCanSetEditableLogicalDriveAcceleratorUnsupported},
        {"no array",
         [&](auto& h) {
             auto d = only_ssd(h);
             d->flags &= ~kEditableLDArraySet;
             return d;
         },
         3, kCanSetEditableLogicalDriveAcceleratorNoArraySet},
        {"cached drive",
         [&](auto& h) {
             auto d = only_ssd(h);
             d->lu_cache_ld_number = 1;
             return d;
         },
         3, kCanSetEditableLogicalDriveAcceleratorLUCacheEnabled},
        {"controller cache on an IO-bypass array of two",
         [](auto& h) {
             PEDITABLE_ARRAY a = h.StageArray({5, 6}, true);
             a->flags |= kEditableArrIOBypass;
             h.StageDrive(a, kRAID1);
             return h.StageDrive(a, kRAID1);
         },
         2, kCanSetEditableLogicalDriveAcceleratorArrayUsesIOBypass},
        {"IO bypass on hard disks", [](auto& h) { return h.StageDrive(h.StageArray({8, 9}, false), kRAID1); }, 3,
         kCanSetEditableLogicalDriveAcceleratorDriveTypeNotSSD},
        {"IO bypass on the second drive",
         [](auto& h) {
             PEDITABLE_ARRAY a = h.StageArray({5, 6}, true);
             h.StageDrive(a, kRAID1);
             return h.StageDrive(a, kRAID1);
         },
         3, kCanSetEditableLogicalDriveAcceleratorNotTheFirstLDInArray},
        {"already set",
         [&](auto& h) {
             auto d = only_ssd(h);
             d->logical_drive_accelerator = 3;
             return d;
         },
         3, kCanSetEditableLogicalDriveAcceleratorAlreadySet},
        {"split mirror",
         [&](auto& h) {
             auto d = only_ssd(h);
             h.array(d->editable_array_number)->flags |= kEditableArrSplitMirror;
             return d;
         },
         3, kCanSetEditableLogicalDriveAcceleratorSplitMirrorVolume},
        {"existing drive of an SSD array", [](auto& h) { return h.ld(1); }, 3,
         kCanSetEditableLogicalDriveAcceleratorOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        PEDITABLE_LOGICAL_DRIVE d = row.stage(*this);
        EXPECT_EQ(VK_CanSetEditableLogicalDriveAccelerator(cda(), d->ld_number, row.accelerator), row.reason);
    }
    EXPECT_EQ(VK_CanSetEditableLogicalDriveAccelerator(cda(), 9, 3),
              kCanSetEditableLogicalDriveAcceleratorLogicalDriveNotCreated);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveAccelerator(cda(), 1, 3),
              kCanSetEditableLogicalDriveAcceleratorNoEditableConfigCreated);
    EXPECT_EQ(VK_GetEditableLogicalDriveAccelerator(cda(), 1), 0);
}

TEST_F(LogicalDrivePropertiesHost, AcceleratorOfExistingDrivesByUnitStatus) {
    const struct {
        const char* name;
        std::uint8_t unit_status;
        VK_BYTE reason;
    } rows[] = {
        {"failed", kLogicalDriveUnitStatus1Failed, kCanSetEditableLogicalDriveAcceleratorLogicalDriveStatusNotOK},
        {"SED qualification failed", kLogicalDriveUnitStatus30SEDQualificationFailed,
         kCanSetEditableLogicalDriveAcceleratorLogicalDriveStatusNotOK},
        {"rapid init queued", kLogicalDriveUnitStatus19RPIQueued,
         kCanSetEditableLogicalDriveAcceleratorInitializingLogicalDrive},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Controller();
        st.logical_drives.back().unit_status = row.unit_status;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_CanSetEditableLogicalDriveAccelerator(cda(), 1, 3), row.reason);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

// The commit rewrites an accelerator only for existing drives where IO bypass comes or goes.
TEST_F(LogicalDrivePropertiesHost, AcceleratorChangeMarksExistingDrivesWithIOBypass) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    config()->flags &= ~kEditableConfigCacheConfig;
    ASSERT_NE(ld(1)->logical_drive_accelerator, kLogicalDriveAcceleratorIOBypass);
    ASSERT_EQ(VK_SetEditableLogicalDriveAccelerator(cda(), 1, 3), kSetEditableLogicalDriveAcceleratorOK);
    EXPECT_EQ(VK_GetEditableLogicalDriveAccelerator(cda(), 1), 3);
    EXPECT_TRUE(ld(1)->flags & kEditableLDAcceleratorChanged);
    EXPECT_TRUE(config()->flags & kEditableConfigCacheConfig);

    ASSERT_NO_FATAL_FAILURE(Restage());
    const VK_BYTE live = ld(0)->logical_drive_accelerator;
    const VK_BYTE other = live == kLogicalDriveAcceleratorNone ? kLogicalDriveAcceleratorControllerCache
                                                               : kLogicalDriveAcceleratorNone;
    ASSERT_EQ(VK_SetEditableLogicalDriveAccelerator(cda(), 0, other), kSetEditableLogicalDriveAcceleratorOK);
    EXPECT_FALSE(ld(0)->flags & kEditableLDAcceleratorChanged);

    PEDITABLE_LOGICAL_DRIVE fresh = StageDrive(StageArray({5, 6}, true), kRAID1);
    ASSERT_EQ(VK_SetEditableLogicalDriveAccelerator(cda(), fresh->ld_number, 3), kSetEditableLogicalDriveAcceleratorOK);
    EXPECT_FALSE(fresh->flags & kEditableLDAcceleratorChanged);
}

TEST_F(LogicalDrivePropertiesHost, LockChoosesTheAccelerator) {
    const struct {
        const char* name;
        Support support;
        bool ssd;
        VK_BYTE accelerator;
        bool array_bypass;
    } rows[] = {
        {"only drive of an SSD array", {}, true, kLogicalDriveAcceleratorIOBypass, true},
        {"hard disks with a cache board", {}, false, kLogicalDriveAcceleratorControllerCache, false},
        {"SSDs without IO bypass", {.io_bypass = false}, true, kLogicalDriveAcceleratorControllerCache, false},
        {"hard disks without a cache board", {.cache_board = false}, false, kLogicalDriveAcceleratorUnknown, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(Controller(row.support)));
        PEDITABLE_ARRAY a = row.ssd ? StageArray({5, 6}, true) : StageArray({8, 9}, false);
        PEDITABLE_LOGICAL_DRIVE d = StageDrive(a, kRAID1);
        EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), d->ld_number), kCanLockEditableLogicalDriveOK);
        EXPECT_EQ(VK_LockEditableLogicalDrive(cda(), d->ld_number), kLockEditableLogicalDriveOK);
        EXPECT_EQ(d->logical_drive_accelerator, row.accelerator);
        EXPECT_EQ((a->flags & kEditableArrIOBypass) != 0, row.array_bypass);
        EXPECT_TRUE(d->flags & kEditableLDLocked);
        EXPECT_FALSE(d->flags & kEditableLDAcceleratorChanged);
        EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), d->ld_number), kCanLockEditableLogicalDriveAlreadyLocked);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

TEST_F(LogicalDrivePropertiesHost, LockRefusals) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    const struct {
        const char* name;
        VK_QWORD clear, set;
        VK_BYTE reason;
    } rows[] = {
        {"no array", kEditableLDArraySet, 0, kCanLockEditableLogicalDriveNoArraySet},
        {"no RAID level", kEditableLDRAIDSet, 0, kCanLockEditableLogicalDriveNoRAIDLevelSet},
        {"no strip", kEditableLDStripSizeSet, 0, kCanLockEditableLogicalDriveNoStripSizeSet},
        {"no size", kEditableLDSizeSet, 0, kCanLockEditableLogicalDriveNoSizeSet},
        {"cache drive caching nothing", 0, kEditableLDLUCache, kCanLockEditableLogicalDriveNoCachingLogicalDriveSet},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        PEDITABLE_LOGICAL_DRIVE d = StageDrive(StageArray({5, 6}, true), kRAID1);
        d->flags = (d->flags & ~row.clear) | row.set;
        EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), d->ld_number), row.reason);
        EXPECT_EQ(VK_LockEditableLogicalDrive(cda(), d->ld_number), kLockEditableLogicalDriveFailedUnknown);
        EXPECT_FALSE(d->flags & kEditableLDLocked);
        EXPECT_EQ(d->logical_drive_accelerator, kLogicalDriveAcceleratorUnknown);
    }
    EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), 0), kCanLockEditableLogicalDriveAlreadyLocked);
    EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), 9), kCanLockEditableLogicalDriveNoArraySet);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanLockEditableLogicalDrive(cda(), 0), kCanLockEditableLogicalDriveNoEditableConfigCreated);
}

} // namespace

// ---- Sizes ----

namespace {

class LogicalDriveSizeHost : public LogicalDrivePropertiesHost {};

VK_QWORD Cylinders(VK_QWORD blocks) {
    return blocks - blocks % (32 * 255);
}

} // namespace

// RAID 5 on three drives of 2^24 blocks: two usable, a 64 KiB strip, placed at the start.
TEST_F(LogicalDriveSizeHost, EachSizeTypeOfANewDrive) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_ARRAY a = StageArray({5, 6, 7}, true);
    a->common_drive_size_blocks = 1u << 24;
    PEDITABLE_LOGICAL_DRIVE d = StageDrive(a, kRAID5);
    d->sectors_per_track = 32;
    d->strip_size_blocks = 128;
    d->drive_size_blocks = 1u << 20;
    d->physical_drive_blocks_per_drive = 1u << 19;
    const VK_WORD n = d->ld_number;
    // Every strip the controller may allow divides 2^24, so the whole space is usable.
    const VK_QWORD largest = Cylinders(VK_QWORD{2} << 24);
    const VK_QWORD next = VK_GetEditableArrayNextLogicalDriveOffset(cda(), a->editable_array_number);
    ASSERT_GE(next, VK_QWORD{1} << 19);
    const VK_QWORD grown = Cylinders(2 * ((VK_QWORD{1} << 24) - next)) + (1u << 20);
    const struct {
        VK_BYTE type;
        VK_QWORD size;
    } rows[] = {
        {kLogicalDriveSizeBlocks, 1u << 20},
        {kLogicalDriveSizeBytes, VK_QWORD{1} << 29},
        {kLogicalDriveStripSizeBlocks, 128},
        {kLogicalDriveStripSizeBytes, 65536},
        {kLogicalDriveBlockSizeBytes, 512},
        {kLogicalDriveSizeMaxCreatableSizeBytes, largest * 512},
        {kLogicalDriveSizeMaxCreatableSizeBlocks, largest},
        {kLogicalDriveSizeMaxCreatableSizeBlocksPerDrive, 128 * (largest / 256) + std::min<VK_QWORD>(128, largest % 256)},
        {kLogicalDriveSizeMinCreatableSizeBlocks, 32640},
        {kLogicalDriveSizeMinCreatableSizeBytes, VK_QWORD{32640} * 512},
        {kLogicalDriveSizeMaxResizeableSizeBytes, grown * 512},
        {kLogicalDriveSizeMaxResizeableSizeBlocks, grown},
        {kLogicalDriveSizeMinResizeableSizeBytes, VK_QWORD{32640} * 512},
        {kLogicalDriveSizeMinResizeableSizeBlocks, 32640},
    };
    for (const auto& row : rows) {
        VK_QWORD size = 7;
        EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, row.type, &size), kGetEditableLogicalDriveSizeOK)
            << unsigned{row.type};
        EXPECT_EQ(size, row.size) << unsigned{row.type};
    }
    VK_QWORD size = 7;
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, 0x11, &size), kGetEditableLogicalDriveSizeNoEditableConfigCreated);
    EXPECT_EQ(size, 0u);

    // An LU cache drive is never smaller than 16 GiB, whatever its geometry.
    d->flags |= kEditableLDLUCache;
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, kLogicalDriveSizeMinCreatableSizeBlocks, &size),
              kGetEditableLogicalDriveSizeOK);
    EXPECT_EQ(size, VK_QWORD{1} << 25);
    d->sectors_per_track = 63;
    d->RAID_level = kRAID1;
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, kLogicalDriveSizeMinResizeableSizeBlocks, &size),
              kGetEditableLogicalDriveSizeOK);
    EXPECT_EQ(size, VK_QWORD{1} << 25);
}

TEST_F(LogicalDriveSizeHost, RefusalsAndZeroGeometry) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_ARRAY a = StageArray({5, 6, 7}, true);
    PEDITABLE_LOGICAL_DRIVE d = StageDrive(a, kRAID5);
    const VK_WORD n = d->ld_number;
    VK_QWORD size = 7;
    const struct {
        const char* name;
        VK_QWORD clear;
        VK_BYTE type, result;
    } rows[] = {
        {"no size", kEditableLDSizeSet, kLogicalDriveSizeBlocks, kGetEditableLogicalDriveSizeNoSizeSet},
        {"no strip", kEditableLDStripSizeSet, kLogicalDriveSizeBlocks, kGetEditableLogicalDriveSizeNoStripSizeSet},
        {"no RAID level", kEditableLDRAIDSet, kLogicalDriveSizeBlocks, kGetEditableLogicalDriveSizeNoRAIDLevelSet},
        {"no array", kEditableLDArraySet, kLogicalDriveSizeBlocks, kGetEditableLogicalDriveSizeNoArraySet},
        {"block size needs nothing", kEditableLDArraySet | kEditableLDRAIDSet, kLogicalDriveBlockSizeBytes,
         kGetEditableLogicalDriveSizeOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const VK_QWORD flags = d->flags;
        d->flags &= ~row.clear;
        EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, row.type, &size), row.result);
        d->flags = flags;
    }
    // Block size, strip and usable count of 0 divide nothing.
    a->common_block_size = 0;
    a->data_drive_count = 0;
    d->strip_size_blocks = 0;
    for (VK_BYTE type = 0x20; type <= 0x28; ++type) {
        EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, type, &size), kGetEditableLogicalDriveSizeOK);
    }
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), 9, kLogicalDriveBlockSizeBytes, &size),
              kGetEditableLogicalDriveSizeNoArraySet);
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), n, kLogicalDriveBlockSizeBytes, nullptr),
              kGetEditableLogicalDriveSizeNoEditableConfigCreated);
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_GetEditableLogicalDriveSize(cda(), 0, kLogicalDriveBlockSizeBytes, &size),
              kGetEditableLogicalDriveSizeNoEditableConfigCreated);
}
