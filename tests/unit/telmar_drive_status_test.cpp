// Physical-drive status word, health, presence, flag set, wear, erase state and statistics, the
// drive-level capabilities, enclosures, SEPs and remote volumes, on hand-built replies: each drive is
// an IDENTIFY PHYSICAL DRIVE reply laid out at its wire offsets and decoded as the loader decodes it,
// then left cached in a data area that has no controller behind it (a read that is not cached fails).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pavl_bytes.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_records.h"
#include "telmar_log_capture.h"

namespace {

using pavlin::ByteSpan;
using pavlin::ByteView;

constexpr VK_WORD kPresentMapAt = 600;
constexpr VK_WORD kNonDiskMapAt = 656;
constexpr VK_WORD kMemberMapAt = 300;
constexpr VK_DWORD kUnreadable = 0x100 | 0x4 | 3;

using Reply = std::vector<VK_BYTE>;
#define AT(field) offsetof(PHYSICAL_DRIVE_STATUS, field)

void PutText(Reply& r, size_t offset, const char* text) {
    std::memcpy(&r[offset], text, std::strlen(text));
}

class DriveStatus : public ::testing::Test {
public:
    DriveStatus() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) { Reset(); }
    ~DriveStatus() override { VK_UnInitializeCDA(cda()); }

    void Reset(VK_WORD max_devices = 384) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                       kCDAValidSubsystemParameters | kCDAValidCacheConfigStatus |
                                       kCDAValidEnclosures | kCDAValidFeaturePages | kCDAValidRemoteVolumes;
        c()->controller_firmware_feature_version = 1;
        id().dwEvenMoreControllerFlags = 0x80000000; // feature pages offered
        id().wMaximumPhysicalDevicesSupported = max_devices;
        id().wMaximumLogicalDevicesSupported = 64;
        id().wOffsetToExtendedDrivePresentMap = kPresentMapAt;
        id().wOffsetToExtendedNonDiskMap = kNonDiskMapAt;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    SENSE_FEATURE_PAGES& pages() { return c()->sense_feature; }
    PhysicalDriveRecord& pd(VK_WORD n) { return c()->pd_record_list[n]; }
    CDA_LOGICAL_DRIVE_STATUS& ld_status(VK_WORD n) {
        return c()->ld_record_list[n].sense_logical_drive_status_buffer;
    }

    static void SetBit(VK_BYTE* map, VK_WORD bit) { map[bit / 8] |= static_cast<VK_BYTE>(1u << (bit % 8)); }

    // A healthy SAS drive of 512-byte blocks, present and operational; `edit` changes the reply.
    void AddDrive(VK_WORD n, const std::function<void(Reply&)>& edit = {}) {
        Reply r(sizeof(PHYSICAL_DRIVE_STATUS));
        ByteSpan s(r.data(), r.size());
        s.put_le16(AT(wBlockSize), 512);
        s.put_le32(AT(dwTotalBlocks), 1000000);
        r[AT(bDeviceFlags)] = 0x01;
        r[AT(bDeviceType)] = 2;
        PutText(r, AT(sPhysicalPort), "1I");
        std::memset(&r[AT(bConnectorInfo)], 0xFF, 4);
        if (edit) {
            edit(r);
        }
        telmar::DecodePhysicalDriveStatus(ByteView(r.data(), r.size()), false,
                                          pd(n).identify_physical_drive_buffer);
        telmar::DerivePhysicalDriveRecord(cda(), pd(n));
        pd(n).flags |= kPDRecordIdentifyValid;
        SetBit(reinterpret_cast<VK_BYTE*>(&id()) +
                   ((r[AT(bDeviceFlags)] & 0x02) ? kNonDiskMapAt : kPresentMapAt),
               n);
    }

    // A data logical drive on `members`, with a cached status copy that `edit` may change.
    void AddLogical(VK_WORD n, const std::vector<VK_WORD>& members,
                    const std::function<void(CDA_LOGICAL_DRIVE_STATUS&)>& edit = {}) {
        LOGICAL_DRIVE_CONFIG& config = c()->ld_record_list[n].sense_config_buffer;
        std::memset(&config, 0, sizeof(config));
        config.wAssignedDrives = static_cast<VK_WORD>(members.size());
        config.wBlockSize = 512;
        config.dwBlocksPerDrive = 1000;
        config.dwBlocksOnVolume = 1000 * static_cast<VK_DWORD>(members.size());
        config.bLogicalDriveProperty = 0x01;
        config.wOffsetToExtendedDriveAssignmentMap = kMemberMapAt;
        config.wMaximumPhysicalDevicesSupported = id().wMaximumPhysicalDevicesSupported;
        for (VK_WORD m : members) {
            SetBit(reinterpret_cast<VK_BYTE*>(&config) + kMemberMapAt, m);
        }
        telmar::DeriveLogicalDriveConfig(cda(), c()->ld_record_list[n]);
        c()->ld_record_list[n].flags |= kLDRecordConfigValid;
        Reply status(sizeof(LOGICAL_DRIVE_STATUS));
        ByteSpan s(status.data(), status.size());
        s.put_le16(1006, 1108); // extended replacement map
        s.put_le16(1016, 1204); // rebuild percentages
        s.put_le16(1018, id().wMaximumPhysicalDevicesSupported);
        s.put_le32(1020, static_cast<VK_DWORD>(status.size()));
        telmar::DecodeLogicalDriveStatus(ByteView(status.data(), status.size()), ld_status(n));
        ld_status(n).bBigDriveRebuilding = 0xFF;
        ld_status(n).wExtendedDriveRebuilding = 0xFFFF;
        if (edit) {
            edit(ld_status(n));
        }
        c()->ld_record_list[n].flags |= kLDRecordStatusValid;
        ++id().wExtendedLogicalUnitCount;
    }

    VK_DWORD Status(VK_WORD n) { return VK_GetPhysicalDriveStatusInfo(cda(), n); }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

// ---- Status word ----------------------------------------------------------------------------------

TEST_F(DriveStatus, StatusWordOfEachDriveCondition) {
    struct Row {
        const char* name;
        std::function<void(Reply&)> edit;
        std::function<void(DriveStatus&)> controller;
        VK_DWORD word;
    };
    const Row rows[] = {
        {"healthy", {}, {}, 0},
        {"4,096-byte blocks without 4Kn support",
         [](Reply& r) { ByteSpan(r.data(), r.size()).put_le16(AT(wBlockSize), 4096); },
         {},
         0x80000 | 0x4 | 1},
        {"4,096-byte blocks with 4Kn support",
         [](Reply& r) { ByteSpan(r.data(), r.size()).put_le16(AT(wBlockSize), 4096); },
         [](DriveStatus& t) { t.pages().page_raid.bFlags2 = 0x20; }, 0},
        {"failed, removed in hot plug",
         [](Reply& r) {
             r[AT(bDeviceFlags)] = 0;
             r[AT(bLastFailureReason)] = 0x14;
         },
         {},
         0x400000 | 0x4 | 3},
        {"failed after a predictive-failure report",
         [](Reply& r) {
             r[AT(bDeviceFlags)] = 0;
             r[AT(bLastFailureReason)] = 0x37;
         },
         {},
         0x200 | 0x4 | 3},
        {"failed SED qualification",
         [](Reply& r) {
             r[AT(bDeviceFlags)] = 0;
             r[AT(bLastFailureReason)] = 0x4C;
         },
         {},
         0x800000 | 0x4 | 3},
        {"failed, any other reason", [](Reply& r) { r[AT(bDeviceFlags)] = 0; }, {}, 0x100 | 0x4 | 3},
        {"offline for an erase is not failed",
         [](Reply& r) {
             r[AT(bDeviceFlags)] = 0;
             ByteSpan(r.data(), r.size()).put_le16(AT(wExtraDeviceFlags), 0x10);
         },
         {},
         0x4000 | 0x4 | 1},
        {"firmware 1.02 below minimum 1.10",
         [](Reply& r) {
             PutText(r, AT(sDriveFirmwareRevision), " 1.02   ");
             PutText(r, AT(sMinimumGoodFirmwareRevision), "1.10");
         },
         {},
         0x10000 | 1},
        {"firmware above its minimum",
         [](Reply& r) {
             PutText(r, AT(sDriveFirmwareRevision), "1.10");
             PutText(r, AT(sMinimumGoodFirmwareRevision), "1.02");
         },
         {},
         0},
        {"empty minimum never asks for an update",
         [](Reply& r) { PutText(r, AT(sDriveFirmwareRevision), "1.02"); },
         {},
         0},
        {"empty firmware against a minimum",
         [](Reply& r) { PutText(r, AT(sMinimumGoodFirmwareRevision), "1.10"); },
         {},
         0x10000 | 1},
        {"predictive failure", [](Reply& r) { r[AT(bMoreDeviceFlags)] = 0x01 | 0x04 | 0x08; }, {}, 0x800 | 2},
        {"monitoring errors without monitoring enabled",
         [](Reply& r) { r[AT(bMoreDeviceFlags)] = 0x01 | 0x08; },
         {},
         0},
        {"worn out",
         [](Reply& r) { ByteSpan(r.data(), r.size()).put_le16(AT(wExtraDeviceFlags), 0x600); },
         {},
         0x1000 | 2},
        {"data locked",
         [](Reply& r) { ByteSpan(r.data(), r.size()).put_le32(AT(dwDriveFeatureFlags), 0x80000); },
         {},
         0x1000000 | 0x4 | 3},
        {"not supported for configuration", [](Reply& r) { r[AT(bQRBSupport)] = 1; }, {}, 0x80000 | 0x4 | 1},
        {"masked from the host",
         [](Reply& r) { ByteSpan(r.data(), r.size()).put_le32(AT(dwMiscDriveFlags), 0x80); },
         {},
         0x40000 | 1},
        {"non-disk device with nothing else to report", [](Reply& r) { r[AT(bDeviceFlags)] = 0x02; }, {}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        if (row.controller) {
            row.controller(*this);
        }
        AddDrive(5, row.edit);
        EXPECT_EQ(Status(5), row.word);
    }
}

TEST_F(DriveStatus, DriveThatCannotBeReadIsFailedAndExcluded) {
    AddDrive(5);
    EXPECT_EQ(Status(400), kUnreadable);
    EXPECT_EQ(Status(6), kUnreadable); // no record cached, no controller to read it from
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 400), kPhysicalDriveHealthCritical);
}

TEST_F(DriveStatus, ExposureRowsFormOneChainWhoseFirstOpenGateDecides) {
    struct Row {
        const char* name;
        VK_DWORD misc;
        bool page, mixed;
        VK_BYTE usage;
        VK_DWORD word;
    };
    const Row rows[] = {
        {"masked wins over exposure by page", 0x80 | 0x4000, true, false, kPhysicalDriveUsageHBA,
         0x40000 | 1},
        {"page gate and exposed", 0x4000, true, true, kPhysicalDriveUsageData, 0x20000 | 1},
        {"page gate skips mixed mode and usage even with 0x4000 clear", 0x100, true, true,
         kPhysicalDriveUsageHBA, 0},
        {"mixed-mode gate with an HBA drive", 0x100, false, true, kPhysicalDriveUsageData, 0x20000 | 1},
        {"mixed-mode gate skips the usage row", 0, false, true, kPhysicalDriveUsageHBA, 0},
        {"no gate: HBA usage", 0, false, false, kPhysicalDriveUsageHBA, 0x20000 | 1},
        {"no gate: data usage", 0x4000 | 0x100, false, false, kPhysicalDriveUsageData, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CDA_PHYSICAL_DRIVE_STATUS drive{};
        drive.bDeviceFlags = 0x01;
        drive.dwMiscDriveFlags = row.misc;
        telmar::DriveStatusContext context;
        context.logical_block_size = 512;
        context.usage = row.usage;
        context.exposure_page = row.page;
        context.mixed_mode = row.mixed;
        EXPECT_EQ(telmar::ComposePhysicalDriveStatus(drive, context), row.word);
    }
    // Unassigned on a mixed-mode connector is exposed when no gate holds.
    CDA_PHYSICAL_DRIVE_STATUS drive{};
    drive.bDeviceFlags = 0x01;
    telmar::DriveStatusContext context;
    context.logical_block_size = 512;
    context.usage = kPhysicalDriveUsageUnassigned;
    context.connector_mixed = true;
    EXPECT_EQ(telmar::ComposePhysicalDriveStatus(drive, context), 0x20000u | 1);
}

TEST_F(DriveStatus, RebuildConditionsOverTheArraysRecoveringLogicalDrives) {
    struct Row {
        const char* name;
        VK_WORD drive;
        std::function<void(CDA_LOGICAL_DRIVE_STATUS&)> edit;
        VK_DWORD word;
    };
    const Row rows[] = {
        {"named in the extended rebuilding field", 2,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.wExtendedDriveRebuilding = 2;
         },
         0x100000 | 1},
        {"named in the byte field", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.bBigDriveRebuilding = 3;
         },
         0x100000 | 1},
        {"named but the logical drive is not recovering", 2,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 0;
             s.wExtendedDriveRebuilding = 2;
         },
         0},
        {"in the replacement map while another drive rebuilds", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.wExtendedDriveRebuilding = 2;
             s.pbExtendedReplacementDriveMap[0] = 0x08;
         },
         0x200000 | 1},
        {"in the 16-byte map when no extended map is given", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.wExtendedDriveRebuilding = 2;
             s.wOffsetToExtendedReplacementDriveMap = 0;
             s.pbBigReplacementDriveMap[0] = 0x08;
         },
         0x200000 | 1},
        {"table entry between 1 and 99 with no drive named", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.pbDriveRebuildPercentage[3] = 40;
         },
         0x100000 | 1},
        {"table entry 100 is done", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.pbDriveRebuildPercentage[3] = 100;
         },
         0},
        {"table ignored once a drive is named", 3,
         [](CDA_LOGICAL_DRIVE_STATUS& s) {
             s.bUnitStatus = 5;
             s.wExtendedDriveRebuilding = 2;
             s.pbDriveRebuildPercentage[3] = 40;
         },
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        for (VK_WORD p = 0; p < 4; ++p) {
            AddDrive(p);
        }
        AddLogical(0, {0, 1, 2, 3}, row.edit);
        ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
        EXPECT_EQ(Status(row.drive), row.word);
    }
    // A drive can collect both bits from two logical drives of its array.
    Reset();
    for (VK_WORD p = 0; p < 4; ++p) {
        AddDrive(p);
    }
    AddLogical(0, {0, 1, 2, 3}, [](CDA_LOGICAL_DRIVE_STATUS& s) {
        s.bUnitStatus = 5;
        s.wExtendedDriveRebuilding = 1;
    });
    AddLogical(1, {0, 1, 2, 3}, [](CDA_LOGICAL_DRIVE_STATUS& s) {
        s.bUnitStatus = 5;
        s.wExtendedDriveRebuilding = 0;
        s.pbExtendedReplacementDriveMap[0] = 0x02;
    });
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_EQ(Status(1), 0x100000u | 0x200000 | 1);
}

TEST_F(DriveStatus, RebuildOffsetsOutsideTheCopyFindNothing) {
    CDA_LOGICAL_DRIVE_STATUS s{};
    s.bUnitStatus = 5;
    s.bBigDriveRebuilding = 0xFF;
    s.wExtendedDriveRebuilding = 0xFFFF;
    std::memset(s.pbDriveRebuildPercentage, 50, sizeof(s.pbDriveRebuildPercentage));
    s.wOffsetToDriveRebuildPercentage = 198; // one past: the 384 entries would pass the copy's end
    EXPECT_EQ(telmar::RebuildBits(s, 3), 0u);
    s.wOffsetToDriveRebuildPercentage = 197;
    EXPECT_EQ(telmar::RebuildBits(s, 383), static_cast<VK_DWORD>(kPhysicalDriveStatusRebuilding));
    std::memset(s.pbDriveRebuildPercentage, 0, sizeof(s.pbDriveRebuildPercentage));
    std::memset(s.pbExtendedReplacementDriveMap, 0xFF, sizeof(s.pbExtendedReplacementDriveMap));
    s.wOffsetToExtendedReplacementDriveMap = 0xFFF0;
    EXPECT_EQ(telmar::RebuildBits(s, 3), 0u);
    s.wOffsetToExtendedReplacementDriveMap = 101;
    EXPECT_EQ(telmar::RebuildBits(s, 383), static_cast<VK_DWORD>(kPhysicalDriveStatusRebuildQueued));
    // The 16-byte map holds drives 0-127 only.
    s.wOffsetToExtendedReplacementDriveMap = 0;
    std::memset(s.pbBigReplacementDriveMap, 0xFF, sizeof(s.pbBigReplacementDriveMap));
    EXPECT_EQ(telmar::RebuildBits(s, 128), 0u);
    // 0xFF in the byte field names no drive, so drive 255 is not rebuilding by it.
    s.wExtendedDriveRebuilding = 7;
    std::memset(s.pbBigReplacementDriveMap, 0, sizeof(s.pbBigReplacementDriveMap));
    EXPECT_EQ(telmar::RebuildBits(s, 255), 0u);
}

TEST_F(DriveStatus, HealthUnsupportedReasonsAndLastFailureReason) {
    AddDrive(1, [](Reply& r) { r[AT(bMoreDeviceFlags)] = 0x01 | 0x04 | 0x02; });
    AddDrive(2, [](Reply& r) { ByteSpan(r.data(), r.size()).put_le32(AT(dwDriveFeatureFlags), 0x80000); });
    AddDrive(3, [](Reply& r) {
        r[AT(bQRBSupport)] = 1;
        ByteSpan(r.data(), r.size()).put_le16(AT(wDriveUnsupportedReason), 0x0004);
    });
    AddDrive(4, [](Reply& r) {
        r[AT(bDeviceFlags)] = 0;
        r[AT(bLastFailureReason)] = 0x2B;
        ByteSpan(r.data(), r.size()).put_le16(AT(wDriveUnsupportedReason), 0x0004);
    });
    AddDrive(9, [](Reply& r) { r[AT(bDeviceFlags)] = 0x02; });
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 1), kPhysicalDriveHealthWarning);
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 2), kPhysicalDriveHealthCritical);
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 3), kPhysicalDriveHealthOK);
    EXPECT_EQ(VK_GetPhysicalDriveUnsupportedReasons(cda(), 3), 0x0004);
    EXPECT_EQ(VK_GetPhysicalDriveUnsupportedReasons(cda(), 4), 0); // failed, but not unsupported
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 4), 0x2B);
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 9), 0x0100); // not a drive
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 200), 0x0100);
}

TEST_F(DriveStatus, PresenceReadsTheMapsOnlyWhereTheyLie) {
    Reset(200);
    AddDrive(3);
    AddDrive(7, [](Reply& r) { r[AT(bDeviceFlags)] = 0x02; });
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_TRUE(VK_IsPhysicalDevicePresent(cda(), 3));
    EXPECT_TRUE(VK_IsPhysicalDevicePresent(cda(), 7));
    EXPECT_FALSE(VK_IsPhysicalDevicePresent(cda(), 4));
    EXPECT_TRUE(VK_IsPhysicalDrivePresent(cda(), 3));
    EXPECT_FALSE(VK_IsPhysicalDrivePresent(cda(), 7));
    // A number at or above the maximum is absent, whatever its map bit says.
    SetBit(reinterpret_cast<VK_BYTE*>(&id()) + kPresentMapAt, 250);
    EXPECT_FALSE(VK_IsPhysicalDevicePresent(cda(), 250));
    EXPECT_FALSE(VK_IsPhysicalDrivePresent(cda(), 384));
    // A map that would run past the 1,024 bytes held is absent; an offset of 0 is no map.
    id().wOffsetToExtendedDrivePresentMap = 1000;
    EXPECT_FALSE(VK_IsPhysicalDevicePresent(cda(), 3));
    id().wOffsetToExtendedNonDiskMap = 0;
    EXPECT_FALSE(VK_IsPhysicalDevicePresent(cda(), 7));
}

TEST(DriveFirmware, TrimmedTextsCompareByteWise) {
    struct Row {
        const char firmware[8];
        const char minimum[8];
        bool older;
    };
    const Row rows[] = {
        {"1.02", "1.10", true}, {" 1.10  ", "1.10", false}, {"A", "B", true},      {"10.0", "9.0", true},
        {"1.10", "", false},    {"", "1.00", true},         {"1.1", "1.10", true},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(telmar::FirmwareOlderThanMinimum(row.firmware, row.minimum), row.older)
            << row.firmware << " against " << row.minimum;
    }
}

// ---- Flag set, wear, carrier, erase, statistics ----------------------------------------------------

TEST_F(DriveStatus, FlagSetDecodesEachSourceAndRefusesIndexesPastTheLast) {
    AddDrive(1, [](Reply& r) {
        ByteSpan s(r.data(), r.size());
        r[AT(bDriveStamped)] = 1;
        r[AT(bMoreDeviceFlags)] = 0x40;
        r[AT(bEvenMoreDeviceFlags)] = 0x80;
        r[AT(bQRBSupport)] = 2;
        s.put_le16(AT(wExtraDeviceFlags), 0x8000);
        r[AT(bSanitizeEraseSupport)] = 0x04;
        s.put_le32(AT(dwMiscDriveFlags), 0x8000);
    });
    void* set = VK_GetPhysicalDriveFlagsInfo(cda(), 1);
    ASSERT_NE(set, nullptr);
    std::vector<int> on;
    for (int i = 0; i < 64; ++i) {
        if (VK_IsPhysicalDriveFlagSet(set, static_cast<VK_BYTE>(i))) {
            on.push_back(i);
        }
    }
    EXPECT_EQ(
        on, (std::vector<int>{PDF_StampedForMNP, PDF_PresentAndOperational, PDF_IsSpareDrive, PDF_NCQEnabled,
                              PDF_DriveNotSupportedForConfiguration, PDF_ImmediateModeFWUpdateSupported,
                              PDF_SupportsCryptoErase, PDF_DeviceOnBootConnector}));
    VK_DestroyPhysicalDriveFlagsInfo(set);

    VK_BYTE full[8];
    std::memset(full, 0xFF, sizeof(full));
    EXPECT_TRUE(VK_IsPhysicalDriveFlagSet(full, PDF_DeviceOnBootConnector));
    EXPECT_FALSE(VK_IsPhysicalDriveFlagSet(full, PDF_LastValidFlag));
    EXPECT_FALSE(VK_IsPhysicalDriveFlagSet(nullptr, 0));
    EXPECT_EQ(VK_GetPhysicalDriveFlagsInfo(cda(), 2), nullptr); // unreadable drive: nothing leaks
    VK_DestroyPhysicalDriveFlagsInfo(nullptr);
}

TEST_F(DriveStatus, WearGaugeNeedsControllerAndDriveSupport) {
    struct Row {
        VK_WORD endurance;
        VK_WORD utilization;
    };
    for (const Row& row : {Row{0x8000, 100}, Row{4250, 42}, Row{99, 0}, Row{0x8001, 100}}) {
        Reset();
        pages().page_drive.bFlags1 = 0x02;
        AddDrive(1, [&row](Reply& r) {
            ByteSpan s(r.data(), r.size());
            s.put_le16(AT(wExtraDeviceFlags), 0x0400);
            s.put_le16(AT(wPercentEnduranceUsed), row.endurance);
            s.put_le16(AT(wPowerOnHours), 1234);
        });
        EXPECT_EQ(VK_GetPhysicalDriveUtilization(cda(), 1), row.utilization) << row.endurance;
        EXPECT_EQ(VK_GetPhysicalDrivePowerOnHours(cda(), 1), 1234);
    }
    pages().page_drive.bFlags1 = 0;
    EXPECT_EQ(VK_GetPhysicalDriveUtilization(cda(), 1), 0xFFFF);
    EXPECT_EQ(VK_GetPhysicalDrivePowerOnHours(cda(), 1), 0);
    // Integer arithmetic: below one percent an hour the hours per percent are counted instead.
    EXPECT_EQ(SSD_REMAINING_HOURS(1000, 40), 1500u);
    EXPECT_EQ(SSD_REMAINING_HOURS(10, 50), 10u);
    EXPECT_EQ(SSD_REMAINING_HOURS(0, 50), 0u);
    EXPECT_DOUBLE_EQ(SSD_REMAINING_DAYS(240, 50), 50.0 / ((50.0 / 240.0) * 24.0));
    EXPECT_DOUBLE_EQ(SSD_REMAINING_DAYS(240, 101), 0.0);
}

TEST_F(DriveStatus, CarrierAndSanitizeLockAnswerTheirSentinels) {
    AddDrive(1, [](Reply& r) {
        r[AT(bVeskCarrierAuthentication)] = 0;
        r[AT(bSanitizePolicy)] = 0x03 << 2 | 0x01;
    });
    AddDrive(2, [](Reply& r) {
        r[AT(bVeskCarrierAuthentication)] = 1;
        r[AT(bVeskCarrierApplicationVersion)] = 7;
    });
    AddDrive(3, [](Reply& r) { r[AT(bVeskCarrierAuthentication)] = 9; });
    // Without controller support: failed (0), not "not applicable".
    EXPECT_EQ(VK_GetPhysicalDriveCarrierAuthentication(cda(), 1), kPhysicalDriveCarrierFailed);
    pages().page_drive.bFlags3 = 0x01;
    EXPECT_EQ(VK_GetPhysicalDriveCarrierAuthentication(cda(), 1), kPhysicalDriveCarrierNotApplicable);
    EXPECT_EQ(VK_GetPhysicalDriveCarrierAuthentication(cda(), 2), kPhysicalDriveCarrierOK);
    EXPECT_EQ(VK_GetPhysicalDriveCarrierAuthentication(cda(), 3), kPhysicalDriveCarrierFailed);
    EXPECT_EQ(VK_GetPhysicalDriveCarrierApplicationVersion(cda(), 2), 7);
    EXPECT_EQ(VK_GetPhysicalDriveCarrierApplicationVersion(cda(), 3), 0);

    EXPECT_EQ(VK_GetPhysicalDriveSanitizeLock(cda(), 1), kPhysicalDriveSanitizeLockUnknown);
    pages().page_background_erase.bSanitizeLockSupport = 0x01;
    EXPECT_EQ(VK_GetPhysicalDriveSanitizeLock(cda(), 1), 0x03);
    EXPECT_EQ(VK_GetPhysicalDriveSanitizeLock(cda(), 384), kPhysicalDriveSanitizeLockUnknown);
}

TEST(DriveErase, EntryDecodesStatusClassVariantAndProgress) {
    struct Row {
        VK_WORD entry;
        VK_DWORD word;
    };
    const Row rows[] = {
        {5 << 5 | 3 << 3 | 2 | 40 << 8, 2 | 0x10 | 7 << 8 | 40u << 16},
        {4 << 5 | 1 << 3 | 1, 1 | 5 << 8},
        {0 << 5 | 3, 3 | 8 << 8},
        {2 << 5 | 6, 2 << 8}, // status 6 reads 0
        {7 << 5 | 7, 0},
        {0x7F << 8 | 1 << 5 | 0x8000, 1 << 8 | 0x7Fu << 16},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(telmar::DecodeEraseEntry(row.entry), row.word) << std::hex << row.entry;
    }
}

// An ERASE_STATE reply with its entries at `start`, a total of `total` bytes and `max` devices.
Reply EraseReply(VK_DWORD start, VK_DWORD total, VK_WORD max, size_t size, VK_WORD pd, VK_WORD entry) {
    Reply r(size);
    ByteSpan s(r.data(), r.size());
    s.put_le32(offsetof(ERASE_STATE, wOffsetToPhysicalDriveEraseState), start);
    s.put_le16(offsetof(ERASE_STATE, wMaximumPhysicalDevicesSupported), max);
    s.put_le32(offsetof(ERASE_STATE, dwTotalStructureLength), total);
    s.put_le16(start + 2u * pd, entry);
    return r;
}

TEST(DriveErase, LiveProgressReadsOnlyAnEntryInsideTheReply) {
    struct Row {
        const char* name;
        Reply reply;
        VK_WORD pd;
        VK_BYTE percent;
    };
    const Row rows[] = {
        {"queued", EraseReply(664, 1432, 384, 1432, 5, 1), 5, 0},
        {"completed", EraseReply(664, 1432, 384, 1432, 5, 3), 5, 100},
        {"in progress", EraseReply(664, 1432, 384, 1432, 5, 2 | 37 << 8), 5, 37},
        {"failed", EraseReply(664, 1432, 384, 1432, 5, 4), 5, 101},
        {"number at the reply's maximum", EraseReply(664, 1432, 5, 1432, 5, 3), 5, 101},
        {"entry past the reply's total", EraseReply(664, 674, 384, 1432, 5, 3), 5, 101},
        {"entry offset past the bytes read", EraseReply(60000, 0xFFFFFFFF, 384, 1432, 0, 0), 0, 101},
        {"offset that wraps", EraseReply(0xFFFFFFFE, 0xFFFFFFFF, 384, 1432, 0, 0), 1, 101},
        {"header cut short", Reply(10), 0, 101},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(telmar::EraseProgressFromReply(ByteView(row.reply.data(), row.reply.size()), row.pd),
                  row.percent)
            << row.name;
    }
}

TEST_F(DriveStatus, CachedEraseWordOnlyForADriveOfflineForAnErase) {
    pages().page_background_erase.PageHeader.bPageCode = 4;
    c()->flags[kCDAFlagsBuffers] |= kCDAValidEraseStatus;
    c()->pd_erase_status_list[1] = 5 << 5 | 3 << 3 | 2 | 40 << 8;
    c()->pd_erase_status_list[2] = 2;
    AddDrive(1, [](Reply& r) { ByteSpan(r.data(), r.size()).put_le16(AT(wExtraDeviceFlags), 0x10); });
    AddDrive(2);
    EXPECT_EQ(VK_GetPhysicalDriveEraseInfo(cda(), 1), 2u | 0x10 | 7 << 8 | 40u << 16);
    EXPECT_EQ(VK_GetPhysicalDriveEraseInfo(cda(), 2), 0u);
    VK_RefreshDriveEraseInfo(cda());
    EXPECT_FALSE(c()->flags[kCDAFlagsBuffers] & kCDAValidEraseStatus);
    EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), 2), 101); // nothing to read it from
}

TEST(DriveStatistics, RecordTakesEachFieldAtItsWidth) {
    Reply r(512);
    ByteSpan s(r.data(), r.size());
    s.put_le32(68, 600);
    s.put_le64(72, 0x1122334455667788ULL);
    s.put_le32(80, 0xA0A0A0A0);
    s.put_le64(120, 9);
    s.put_le16(198, 0xBEEF);
    s.put_le16(200, 2);
    s.put_le32(208, 0xCAFEF00D);
    MNP_STATISTICS out;
    telmar::DecodeMNPStatistics(ByteView(r.data(), r.size()), out);
    EXPECT_EQ(out.reference_hours, 10u);
    EXPECT_EQ(out.sectors_read, 0x1122334455667788ULL);
    EXPECT_EQ(out.hard_read_errors, 0xA0A0A0A0u);
    EXPECT_EQ(out.seek_errors, 9u);
    EXPECT_EQ(out.media_failures, 0xBEEF);
    EXPECT_EQ(out.hardware_errors, 2);
    EXPECT_EQ(out.predictive_failures, 0xCAFEF00Du);
    // A short reply leaves what it does not hold at 0.
    telmar::DecodeMNPStatistics(ByteView(r.data(), 200), out);
    EXPECT_EQ(out.hardware_errors, 0);
    EXPECT_EQ(out.media_failures, 0xBEEF);
}

TEST_F(DriveStatus, StatisticsAreAskedOnlyOfAStampedDriveInGoodState) {
    MNP_STATISTICS stats;
    AddDrive(1);
    AddDrive(2, [](Reply& r) {
        r[AT(bDriveStamped)] = 1;
        r[AT(bDeviceFlags)] = 0;
    });
    AddDrive(3, [](Reply& r) { r[AT(bDriveStamped)] = 1; });
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 1, nullptr),
              kGetPhysicalDriveMNPStatisticsInvalidInput);
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 384, &stats),
              kGetPhysicalDriveMNPStatisticsUnsupportedPD);
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 1, &stats),
              kGetPhysicalDriveMNPStatisticsUnsupportedPD);
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 2, &stats), kGetPhysicalDriveMNPStatisticsNotOKState);
    // Good state: the read is sent, and fails here for want of a controller.
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 3, &stats), kGetPhysicalDriveMNPStatisticsFailed);
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistic(cda(), 3, kPdMNPMediaFailures), 0);

    struct Row {
        VK_DWORD word;
        bool allowed;
    };
    for (const Row& row : {Row{0, true}, Row{0x20000 | 1, true}, Row{0x10000 | 0x4 | 1, false},
                           Row{0x2000 | 1, false}, Row{0x800 | 2, false}, Row{0x4000 | 1, false}}) {
        EXPECT_EQ(telmar::StatusAllowsStatistics(row.word), row.allowed) << std::hex << row.word;
    }
}

// ---- Drive-level capabilities ------------------------------------------------------------------

TEST_F(DriveStatus, SanitizeLockSupportOnlyForSATADrives) {
    AddDrive(1, [](Reply& r) {
        r[AT(bDeviceType)] = 1;
        r[AT(bSanitizePolicy)] = 0x03;
    });
    AddDrive(2, [](Reply& r) { r[AT(bSanitizePolicy)] = 0x03; });
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_EQ(VK_PhysicalDriveSupportsSanitizeLock(cda(), 1),
              kSanitizeLockFreezeSupported | kSanitizeLockAntiFreezeSupported);
    EXPECT_EQ(VK_PhysicalDriveSupportsSanitizeLock(cda(), 2), 0);
    EXPECT_EQ(VK_PhysicalDriveSupportsSanitizeLock(cda(), 384), 0);
}

TEST_F(DriveStatus, OEMDataOnlyForOEMIdOneOnBothSides) {
    pages().page_drive.bFlags2 = 0x80;
    AddDrive(1, [](Reply& r) { r[AT(bOEMID)] = 1; });
    AddDrive(2, [](Reply& r) { r[AT(bOEMID)] = 2; });
    VK_BYTE type = 0;
    pages().page_manufacturing_data.bOEMID = 2;
    EXPECT_FALSE(VK_PhysicalDriveSupportsOEMExtendedDriveData(cda(), 2));
    EXPECT_EQ(VK_GetPhysicalDriveOEMExtendedData(cda(), 2, &type), nullptr);
    pages().page_manufacturing_data.bOEMID = 1;
    EXPECT_TRUE(VK_PhysicalDriveSupportsOEMExtendedDriveData(cda(), 1));
    EXPECT_FALSE(VK_PhysicalDriveSupportsOEMExtendedDriveData(cda(), 2));
    EXPECT_EQ(VK_GetPhysicalDriveOEMExtendedData(cda(), 1, nullptr), nullptr);
}

TEST_F(DriveStatus, NoConnectorModeIsSupportedWithoutConnectors) {
    for (VK_WORD mode : {0, 1, 2, 3}) {
        EXPECT_FALSE(_VK_AnyConnectorSupportsOperatingMode(cda(), mode)) << mode;
    }
}

// ---- Enclosures -----------------------------------------------------------------------------------

class Enclosures : public DriveStatus {
protected:
    CDA_SENSE_BUS_PARAMETERS& Box(VK_WORD se) {
        c()->se_record_list[se].flags |= 0x1;
        return c()->se_record_list[se].sense_bus_parameters_buffer;
    }
    std::vector<VK_WORD> Walk(VK_WORD (*next)(PCDA, VK_WORD, VK_WORD), VK_WORD se) {
        std::vector<VK_WORD> out;
        for (VK_WORD n = next(cda(), se, 0xFFFF); n != 0xFFFF && out.size() < 400; n = next(cda(), se, n)) {
            out.push_back(n);
        }
        return out;
    }
};

TEST_F(Enclosures, DeviceListsEndAtTheirCountAtAZeroOrAtAnUnknownNumber) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(2);
    se.bSEPCount = 2;
    se.wSEPDeviceNumbers[0] = 40;
    se.wSEPDeviceNumbers[1] = 41;
    se.wSEPDeviceNumbers[2] = 42; // past the count
    EXPECT_EQ(Walk(VK_EnumerateStorageEnclosureSEPs, 2), (std::vector<VK_WORD>{40, 41}));
    EXPECT_EQ(VK_EnumerateStorageEnclosureSEPs(cda(), 2, 41), 0xFFFF);
    EXPECT_EQ(VK_EnumerateStorageEnclosureSEPs(cda(), 2, 7), 0xFFFF);
    se.bSEPCount = 1;
    se.wSEPDeviceNumbers[0] = 0;
    EXPECT_TRUE(Walk(VK_EnumerateStorageEnclosureSEPs, 2).empty());
    se.bExpanderCount = 200; // more than the list holds
    for (VK_WORD i = 0; i < 16; ++i) {
        se.wExpanderDeviceNumbers[i] = static_cast<VK_WORD>(100 + i);
    }
    EXPECT_EQ(Walk(VK_EnumerateStorageEnclosureExpanders, 2).size(), 16u);
    se.bExpanderCount = 0;
    EXPECT_TRUE(Walk(VK_EnumerateStorageEnclosureExpanders, 2).empty());
    EXPECT_EQ(VK_EnumerateStorageEnclosureSEPs(cda(), 3, 0xFFFF), 0xFFFF); // no such box
    EXPECT_EQ(VK_EnumerateStorageEnclosureSEPs(cda(), 16, 0xFFFF), 0xFFFF);
}

// A reply that lists a number twice must not send a walk round for ever; nothing after the repeat is lost.
TEST_F(Enclosures, RepeatedDeviceNumbersAreVisitedOnce) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(2);
    const struct {
        std::vector<VK_WORD> listed;
        std::vector<VK_WORD> walked;
    } cases[] = {
        {{40, 41, 40}, {40, 41}},
        {{40, 41, 40, 42}, {40, 41, 42}},
        {{40, 40, 40}, {40}},
        {{40, 41, 41, 40, 0, 43}, {40, 41}},
    };
    for (const auto& c : cases) {
        se.bSEPCount = static_cast<VK_BYTE>(c.listed.size());
        se.bExpanderCount = static_cast<VK_BYTE>(c.listed.size());
        for (size_t i = 0; i < c.listed.size(); ++i) {
            se.wSEPDeviceNumbers[i] = c.listed[i];
            se.wExpanderDeviceNumbers[i] = c.listed[i];
        }
        EXPECT_EQ(Walk(VK_EnumerateStorageEnclosureSEPs, 2), c.walked) << c.listed.size();
        EXPECT_EQ(Walk(VK_EnumerateStorageEnclosureExpanders, 2), c.walked) << c.listed.size();
    }
}

TEST_F(Enclosures, ZeroSEPCountFallsBackToTheSEPsOfTheSameBox) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(0);
    se.bPhysicalBox = 3;
    EXPECT_TRUE(Walk(VK_EnumerateStorageEnclosureSEPs, 0).empty());
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'sep_count > 0' failed: Zero SEP count for enclosure 0"),
              1u);
    EXPECT_EQ(_VK_GetStorageEnclosureSEPCount(cda(), 0), 0);
}

TEST_F(Enclosures, InstalledDrivesFollowTheMapAndItsMeaningfulBits) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(1);
    se.wMaximumPhysicalDevicesSupported = 256;
    std::memset(se.pbBigInstalledDriveMap, 0, sizeof(se.pbBigInstalledDriveMap));
    SetBit(se.pbBigInstalledDriveMap, 0);
    SetBit(se.pbBigInstalledDriveMap, 127);
    SetBit(se.pbExtendedInstalledDriveMap, 200); // no extended map offset: not read
    EXPECT_EQ(Walk(VK_EnumerateStorageEnclosurePhysicalDrives, 1), (std::vector<VK_WORD>{0, 127}));
    EXPECT_EQ(VK_GetStorageEnclosureDeviceCount(cda(), 1, kSEDeviceTypePhysicalDrive), 2);
    se.wOffsetToExtendedInstalledDriveMap = 370;
    EXPECT_EQ(Walk(VK_EnumerateStorageEnclosurePhysicalDrives, 1), (std::vector<VK_WORD>{200}));
    se.bBayCount = 12;
    se.bExpanderCount = 3;
    EXPECT_EQ(VK_GetStorageEnclosureDeviceCount(cda(), 1, kSEDeviceTypeBay), 12);
    EXPECT_EQ(VK_GetStorageEnclosureDeviceCount(cda(), 1, kSEDeviceTypeExpander), 3);
    EXPECT_EQ(VK_GetStorageEnclosureDeviceCount(cda(), 1, 9), 0);
}

TEST_F(Enclosures, DriveInABayIsTheFirstInstalledDriveThatSaysSo) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(1);
    se.wMaximumPhysicalDevicesSupported = 128;
    SetBit(se.pbBigInstalledDriveMap, 4);
    SetBit(se.pbBigInstalledDriveMap, 6);
    AddDrive(4, [](Reply& r) { r[AT(bPhysicalBay)] = 2; });
    AddDrive(6, [](Reply& r) { r[AT(bPhysicalBay)] = 3; });
    EXPECT_EQ(VK_GetStorageEnclosurePDNumber(cda(), 1, 3), 6);
    EXPECT_EQ(VK_GetStorageEnclosurePDNumber(cda(), 1, 9), 0xFFFF);
    EXPECT_EQ(VK_GetStorageEnclosurePDNumber(cda(), 16, 3), 0xFFFF);
}

TEST_F(Enclosures, InterfaceLocationAndUBMGetters) {
    struct Row {
        VK_BYTE sep_count, code, type;
    };
    for (const Row& row : {Row{1, 7, kStorageEnclosureBackplaneInterfaceTypeUBM}, Row{1, 6, 4}, Row{1, 4, 5},
                           Row{1, 10, 6}, Row{1, 8, 0xFF}, Row{0, 7, 0xFF}, Row{1, 0, 0}}) {
        Box(0).bSEPCount = row.sep_count;
        Box(0).bSEPDeviceTypes[0] = row.code;
        EXPECT_EQ(VK_GetStorageEnclosureBackplaneInterfaceType(cda(), 0), row.type) << int(row.code);
    }
    for (auto [flags, location] : {std::pair<VK_WORD, VK_BYTE>{0x3, 0}, {0x1, 1}, {0x0, 2}}) {
        Box(0).wConnectionFlags = flags;
        EXPECT_EQ(VK_GetStorageEnclosureLocation(cda(), 0), location);
    }
    EXPECT_EQ(VK_GetStorageEnclosureLocation(cda(), 5), kGetStorageEnclosureLocationInvalidSENumber);

    CDA_SENSE_BUS_PARAMETERS& se = Box(0);
    se.bPhysicalBox = 9;
    se.bSEPCount = 1;
    se.bSEPDeviceTypes[0] = 1; // SGPIO
    se.ubmBackplaneInfo.bImageVersionMajor = 2;
    se.ubmBackplaneInfo.bImageVersionMinor = 5;
    se.ubmBackplaneInfo.dwManagerDeviceCode = 0x1234;
    se.ubmBackplaneInfo.wPCIVendorID = 0x9005;
    std::memcpy(se.ubmBackplaneInfo.sProductString, "  Board  ", 9);
    std::memset(se.ubmBackplaneInfo.sPartNumber, 'P', 32);
    char text[40];
    EXPECT_EQ(VK_GetUBMBackplaneNumber(cda(), 0), kGetUBMBackplaneNumberNotUBMBackplane);
    EXPECT_EQ(VK_GetUBMBackplaneVersionNumber(cda(), 0), kGetUBMBackplaneVersionNumberNotUBMBackplane);
    EXPECT_EQ(VK_GetUBMBackplaneManagerDeviceCode(cda(), 0), kUBMBackplaneManagerDeviceCodeInvalid);
    EXPECT_EQ(VK_GetUBMBackplanePCIVendorID(cda(), 0), 0);
    EXPECT_STREQ(VK_GetUBMBackplaneVersion(cda(), 0, text, sizeof(text)), "");
    EXPECT_EQ(VK_GetUBMBackplaneNumber(cda(), 4), kGetUBMBackplaneNumberInvalidSENumber);
    EXPECT_EQ(VK_GetUBMBackplaneVersionNumber(cda(), 4), kGetUBMBackplaneVersionNumberInvalidSENumber);
    se.bSEPDeviceTypes[0] = 7;
    EXPECT_EQ(VK_GetUBMBackplaneNumber(cda(), 0), 9);
    EXPECT_EQ(VK_GetUBMBackplaneVersionNumber(cda(), 0), 0x0205u);
    EXPECT_EQ(VK_GetUBMBackplaneManagerDeviceCode(cda(), 0), 0x1234u);
    EXPECT_EQ(VK_GetUBMBackplanePCIVendorID(cda(), 0), 0x9005);
    EXPECT_STREQ(VK_GetUBMBackplaneVersion(cda(), 0, text, sizeof(text)), "2.05");
    EXPECT_STREQ(VK_GetUBMBackplaneVersion(cda(), 0, text, 7), "");
    se.ubmBackplaneInfo.bImageVersionMajor = 1;
    se.ubmBackplaneInfo.bImageVersionMinor = 12;
    EXPECT_STREQ(VK_GetUBMBackplaneVersion(cda(), 0, text, 8), "1.12");
    EXPECT_STREQ(VK_GetUBMBackplaneProductString(cda(), 0, text, 33), "Board");
    EXPECT_STREQ(VK_GetUBMBackplaneProductString(cda(), 0, text, 32), "");
    EXPECT_EQ(std::string(VK_GetUBMBackplanePartNumber(cda(), 0, text, 33)), std::string(32, 'P'));
}

TEST_F(Enclosures, StringsNeedABufferLargerThanTheField) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(0);
    se.bInquiryValid = 1;
    std::memcpy(se.boxInquiryData.sVendorID, "VEND    ", 8);
    std::memcpy(se.boxInquiryData.sProductID, "Backplane 12    ", 16);
    std::memcpy(se.sChassisSerialNumber, "  SN0042", 8);
    char text[64];
    EXPECT_STREQ(VK_GetStorageEnclosureVendorID(cda(), 0, text, 9), "VEND");
    EXPECT_STREQ(VK_GetStorageEnclosureProductID(cda(), 0, text, 17), "Backplane 12");
    EXPECT_STREQ(VK_GetStorageEnclosureProductID(cda(), 0, text, 16), "");
    EXPECT_STREQ(VK_GetStorageEnclosureSerialNumber(cda(), 0, text, 41), "SN0042");
    EXPECT_STREQ(VK_GetStorageEnclosureSerialNumber(cda(), 1, text, 41), ""); // no such box
    EXPECT_EQ(VK_GetStorageEnclosureVendorID(cda(), 0, nullptr, 9), nullptr);
}

TEST_F(Enclosures, PathsCountInfoAndNames) {
    CDA_SENSE_BUS_PARAMETERS& se = Box(0);
    se.bRedundantPathPresentMap = 0x01;
    se.bRedundantPathFailureMap = 0x02;
    se.bActivePathMap = 0x01;
    se.bActivePathNumber = 0;
    std::memcpy(se.sMultiPathPort, "1I??", 4);
    se.bMultiPathBox[0] = 2;
    se.bMultiPathBox[1] = 0xFF;
    EXPECT_EQ(VK_GetStorageEnclosurePathCount(cda(), 0), 2);
    EXPECT_EQ(VK_GetStorageEnclosurePathInfo(cda(), 0), 0x0201);
    se.bActivePathNumber = 9;
    EXPECT_EQ(VK_GetStorageEnclosurePathInfo(cda(), 0), 0x0201);
    EXPECT_EQ(TelmarLogCapture::Count("Invalid active path index (9) for enclosure 0"), 1u);
    char name[32];
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 0, kStorageEnclosurePathNameComplete, name, 25),
                 "1I:2");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 1, kStorageEnclosurePathNameComplete, name, 25),
                 "Unknown:Unknown");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 0, kStorageEnclosurePathNamePort, name, 9), "1I");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 0, kStorageEnclosurePathNameBox, name, 8), "2");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 0, kStorageEnclosurePathNameComplete, name, 24),
                 "");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 2, kStorageEnclosurePathNamePort, name, 9), "");
    // Long connector names replace the port when the controller has them and the name is not empty.
    pages().page_connectivity.bFlags = 0x08;
    std::memcpy(se.sLongConnectorName, "CN1     ", 8);
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 0, kStorageEnclosurePathNamePort, name, 9), "CN1");
    EXPECT_STREQ(VK_GetStorageEnclosurePathName(cda(), 0, 1, kStorageEnclosurePathNamePort, name, 9),
                 "Unknown");
}

// ---- Remote volumes ----------------------------------------------------------------------------

TEST_F(DriveStatus, RemoteVolumeIdentifiersAndBootCheck) {
    c()->remote_volume_count = 2;
    for (VK_BYTE i = 0; i < 16; ++i) {
        c()->remote_volume_record_list[0].device_unique_id[i] = static_cast<VK_BYTE>(0xA0 + i);
        c()->remote_volume_record_list[1].device_unique_id[i] = i;
    }
    char id_text[33];
    EXPECT_EQ(VK_GetControllerRemoteVolumeCount(cda()), 2);
    EXPECT_STREQ(VK_GetRemoteVolumeUniqueID(cda(), 0, id_text, sizeof(id_text)),
                 "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
    EXPECT_STREQ(VK_GetRemoteVolumeUniqueID(cda(), 2, id_text, sizeof(id_text)), "");
    EXPECT_STREQ(VK_GetRemoteVolumeUniqueID(cda(), 0, id_text, 32), "");
    EXPECT_TRUE(__VK_CheckBootRemoteVolume(cda(), 0));
    EXPECT_FALSE(__VK_CheckBootRemoteVolume(cda(), 1)); // identifier begins with 0
    EXPECT_FALSE(__VK_CheckBootRemoteVolume(cda(), 2));
}

} // namespace
