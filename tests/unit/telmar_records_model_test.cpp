// Drive, logical-drive and enclosure records and the array model built over them, on hand-built
// replies: each reply is laid out byte by byte at its wire offsets, decoded the way the loaders decode
// it, and left cached in the data area. Nothing here reaches a controller (the data area has no
// descriptor, so a read that is not cached fails).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <vector>

#include "pavl_bytes.h"
#include "ppavl_synchronization.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_records.h"
#include "telmar_log_capture.h"

namespace {

using pavlin::ByteSpan;
using pavlin::ByteView;

constexpr VK_WORD kPresentMapAt = 600; // inside IDENTIFY's 1024 bytes
constexpr VK_WORD kMemberMapAt = 300;  // inside the configuration's 652 bytes
constexpr VK_WORD kSpareMapAt = 348;

struct Drive {
    VK_WORD number;
    VK_WORD block = 512;
    VK_BYTE blocks_per_physical_shift = 0;
    VK_DWORD total = 1000000;
    VK_DWORD reserved = 0;
    VK_BYTE connector_mode = 0;
    const char* port = "1I";
};

struct Logical {
    VK_WORD number;
    std::vector<VK_WORD> members;
    VK_DWORD offset = 0;
    VK_DWORD blocks_per_drive = 1000;
    std::vector<VK_WORD> spares = {};
    std::vector<VK_WORD> active_spares = {};
    VK_BYTE property = 0x01;
    VK_BYTE more_unit_flags = 0;
    VK_DWORD signature = 0;
    VK_DWORD other_signature = 0;
    VK_BYTE bios_disable = 0;
    VK_DWORD backup_timestamp = 0;
    VK_WORD missing = 0;
};

class RecordsModel : public ::testing::Test {
protected:
    RecordsModel() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) { Reset(); }
    ~RecordsModel() override { VK_UnInitializeCDA(cda()); }

    void Reset(VK_WORD max_devices = 128, VK_WORD max_logical = 64) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                       kCDAValidSubsystemParameters | kCDAValidCacheConfigStatus |
                                       kCDAValidEnclosures | kCDAValidFeaturePages;
        c()->controller_firmware_feature_version = 1;
        id().dwEvenMoreControllerFlags = 0x80000000; // feature pages offered
        id().wMaximumPhysicalDevicesSupported = max_devices;
        id().wMaximumLogicalDevicesSupported = max_logical;
        id().wOffsetToExtendedDrivePresentMap = kPresentMapAt;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    PhysicalDriveRecord& pd(VK_WORD n) { return _VK_PDRecordForWrite(c(), n); }
    LogicalDriveRecord& ld(VK_WORD n) { return _VK_LDRecordForWrite(c(), n); }
    ArrayRecord& array(VK_WORD n) { return c()->array_record_list[n]; }

    static void SetBit(VK_BYTE* map, VK_WORD bit) { map[bit / 8] |= static_cast<VK_BYTE>(1u << (bit % 8)); }

    // An IDENTIFY PHYSICAL DRIVE reply for a disk, decoded and derived as the loader does.
    void AddDrive(const Drive& d, bool present = true) {
        std::vector<VK_BYTE> reply(sizeof(PHYSICAL_DRIVE_STATUS));
        ByteSpan r(reply.data(), reply.size());
        r.put_le16(2, d.block);
        r.put_le32(4, d.total);
        r.put_le32(8, d.reserved);
        r.put8(103, 0x01); // present and operational
        std::memcpy(&reply[112], d.port, 2);
        r.put8(114, 1);    // box
        r.put8(120, 1);    // SAS drive
        r.put8(1795, d.blocks_per_physical_shift);
        r.put8(1946, d.connector_mode);
        std::memset(&reply[1947], 0xFF, 4); // no connector numbers
        Decoded(d.number, reply);
        if (present) {
            SetBit(reinterpret_cast<VK_BYTE*>(&id()) + kPresentMapAt, d.number);
        }
    }
    void Decoded(VK_WORD n, const std::vector<VK_BYTE>& reply) {
        telmar::DecodePhysicalDriveStatus(ByteView(reply.data(), reply.size()), false,
                                          pd(n).identify_physical_drive_buffer);
        telmar::DerivePhysicalDriveRecord(cda(), pd(n));
        pd(n).flags |= kPDRecordIdentifyValid;
    }

    // A configuration (0x50) and a status (0x12) reply for a logical drive, both cached.
    void AddLogical(const Logical& l) {
        LOGICAL_DRIVE_CONFIG& config = ld(l.number).sense_config_buffer;
        std::memset(&config, 0, sizeof(config));
        config.signature = l.signature;
        config.dwOtherVolumeSignature = l.other_signature;
        config.wAssignedDrives = static_cast<VK_WORD>(l.members.size());
        config.wBlockSize = 512;
        config.bMoreUnitFlags = l.more_unit_flags;
        config.data_offset = l.offset;
        config.dwBlocksPerDrive = l.blocks_per_drive;
        config.dwBlocksOnVolume = l.blocks_per_drive * static_cast<VK_DWORD>(l.members.size());
        config.bLogicalDriveProperty = l.property;
        config.bBIOSDisableFlag = l.bios_disable;
        config.dwBackupTimestamp = l.backup_timestamp;
        config.wOffsetToExtendedDriveAssignmentMap = kMemberMapAt;
        config.wOffsetToExtendedSpareAssignmentMap = kSpareMapAt;
        config.wMaximumPhysicalDevicesSupported = id().wMaximumPhysicalDevicesSupported;
        auto* raw = reinterpret_cast<VK_BYTE*>(&config);
        for (VK_WORD m : l.members) {
            SetBit(raw + kMemberMapAt, m);
        }
        for (VK_WORD s : l.spares) {
            SetBit(raw + kSpareMapAt, s);
        }
        telmar::DeriveLogicalDriveConfig(cda(), ld(l.number));
        ld(l.number).flags |= kLDRecordConfigValid;

        std::vector<VK_BYTE> status(sizeof(LOGICAL_DRIVE_STATUS));
        ByteSpan s(status.data(), status.size());
        s.put_le16(5, l.missing);
        s.put_le16(1008, 1100); // active-spare map
        s.put_le16(1018, id().wMaximumPhysicalDevicesSupported);
        s.put_le32(1020, static_cast<VK_DWORD>(status.size()));
        for (VK_WORD a : l.active_spares) {
            SetBit(&status[1100], a);
        }
        telmar::DecodeLogicalDriveStatus(ByteView(status.data(), status.size()),
                                         ld(l.number).sense_logical_drive_status_buffer);
        ld(l.number).flags |= kLDRecordStatusValid;
        ++id().wExtendedLogicalUnitCount;
    }

    // A controller of the older flags running in HBA mode.
    void HBAMode() {
        id().dwEvenMoreControllerFlags = 0;
        c()->flags[kCDAFlagsBuffers] &= ~kCDAValidFeaturePages;
        id().dwYetMoreControllerFlags = 0x02000000 | 0x00100000;
        id().dwFixedStructureLength = 287;
        id().dwExtraControllerFlags = 0x20;
        id().bCurrentControllerMode = 1;
        c()->sense_controller_parameters_buffer.bNVRAMFlags = 0x0C;
        ASSERT_TRUE(VK_ControllerCurrentModeIsHBA(cda()));
    }

    VK_BOOL Build() { return VK_RequestArrayConfigurationInformation(cda()); }
    VK_BYTE Usage(VK_WORD n) { return pd(n).pd_config_information.config_usage_info; }
    std::vector<VK_WORD> ArrayLogicalDrives(VK_WORD a) {
        std::vector<VK_WORD> out;
        VK_WORD n;
        FOREACH_ARRAY_LOGICAL_DRIVE(cda(), a, n) { out.push_back(n); }
        return out;
    }
    std::vector<VK_WORD> Walk(VK_WORD (*next)(PCDA, VK_WORD, VK_WORD), VK_WORD a) {
        std::vector<VK_WORD> out;
        for (VK_WORD p = next(cda(), a, 0xFFFF); p != 0xFFFF; p = next(cda(), a, p)) {
            out.push_back(p);
        }
        return out;
    }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

// ---- Records --------------------------------------------------------------------------------------

TEST_F(RecordsModel, PhysicalDriveIdentifyIsCopiedFromItsWireOffsets) {
    std::vector<VK_BYTE> reply(sizeof(PHYSICAL_DRIVE_STATUS));
    for (size_t i = 0; i < reply.size(); ++i) {
        reply[i] = static_cast<VK_BYTE>(i * 7 + 3);
    }
    CDA_PHYSICAL_DRIVE_STATUS out;
    telmar::DecodePhysicalDriveStatus(ByteView(reply.data(), reply.size()), false, out);
    EXPECT_EQ(+out.wBlockSize, ByteView(reply.data(), reply.size()).le16(2));
    EXPECT_EQ(+out.bDeviceType, reply[120]);
    EXPECT_EQ(+out.bQRBSupport, reply[1221]);
    EXPECT_EQ(+out.bMultiLUNDeviceLUNCount, reply[1763]);
    EXPECT_EQ(+out.dwMiscDriveFlags, ByteView(reply.data(), reply.size()).le32(1932));
    EXPECT_EQ(+out.bConnectorInfo[3], reply[1950]);
    EXPECT_EQ(+out.dwDriveFeatureFlags, ByteView(reply.data(), reply.size()).le32(2554));
    EXPECT_EQ(+out.wPCISSVendorID, ByteView(reply.data(), reply.size()).le16(2612));
    // Without the full-length model, the 40-byte model of offset 12 and 8 bytes of zeros.
    EXPECT_EQ(std::memcmp(out.sFullLengthDeviceModel, &reply[12], 40), 0);
    EXPECT_EQ(+out.sFullLengthDeviceModel[40], 0);
    telmar::DecodePhysicalDriveStatus(ByteView(reply.data(), reply.size()), true, out);
    EXPECT_EQ(std::memcmp(out.sFullLengthDeviceModel, &reply[2560], 48), 0);
    // A short reply leaves what it does not hold zero.
    telmar::DecodePhysicalDriveStatus(ByteView(reply.data(), 1000), true, out);
    EXPECT_EQ(+out.wBlockSize, ByteView(reply.data(), reply.size()).le16(2));
    EXPECT_EQ(+out.dwDriveFeatureFlags, 0u);
}

TEST_F(RecordsModel, DriveSizesFollowTheTwoTerabyteRuleAndTheControllerMode) {
    struct Row {
        const char* name;
        bool two_tb;
        bool hba;
        VK_DWORD total, reserved;
        VK_QWORD big;
        VK_QWORD expected_total, expected_usable;
    };
    const Row rows[] = {
        {"saturated count without 2 TB support stays", false, false, 0xFFFFFFFF, 0, 0x200000000, 0xFFFFFFFF,
         0xFFFFFFFF},
        {"saturated count with 2 TB support takes the 64-bit count", true, false, 0xFFFFFFFF, 100, 0x200000000,
         0x200000000, 0x200000000 - 100},
        {"reserve equal to the total leaves nothing", false, false, 5000, 5000, 0, 5000, 0},
        {"reserve above the total leaves nothing", false, false, 5000, 6000, 0, 5000, 0},
        {"HBA mode: usable is the total", false, true, 5000, 5000, 0, 5000, 5000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        if (r.two_tb) {
            id().dwEvenMoreControllerFlags = 0x200; // legacy flags: no pages, 2 TB drives
            c()->flags[kCDAFlagsBuffers] &= ~kCDAValidFeaturePages;
        }
        if (r.hba) {
            HBAMode();
        }
        std::vector<VK_BYTE> reply(sizeof(PHYSICAL_DRIVE_STATUS));
        ByteSpan s(reply.data(), reply.size());
        s.put_le16(2, 512);
        s.put_le32(4, r.total);
        s.put_le32(8, r.reserved);
        s.put_le64(122, r.big);
        s.put8(120, 2);
        Decoded(3, reply);
        EXPECT_EQ(pd(3).pd_config_information.total_size_blocks, r.expected_total);
        EXPECT_EQ(pd(3).pd_config_information.usable_size_blocks, r.expected_usable);
        EXPECT_TRUE(pd(3).flags & kPDRecordDrive);
    }
}

TEST_F(RecordsModel, PhysicalBlockRatioThatWouldNotFitSixteenBitsIsNotBelieved) {
    AddDrive({.number = 0, .block = 512, .blocks_per_physical_shift = 3});
    AddDrive({.number = 1, .block = 512, .blocks_per_physical_shift = 7}); // 65,536 bytes
    EXPECT_EQ(pd(0).pd_config_information.physical_block_size_bytes, 4096);
    EXPECT_EQ(pd(1).pd_config_information.physical_block_size_bytes, 512);
}

TEST_F(RecordsModel, ExtraLunsAreKeptForTwoToFourAndNoneBeyond) {
    pd(7).identify_physical_drive_buffer.bMultiLUNDeviceLUNCount = 5;
    telmar::ReadExtraLuns(cda(), 7, pd(7));
    EXPECT_EQ(pd(7).additional_lun_info, nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Reported number of LUNs on physical drive > kMaxPhysicalDriveLunsSupported"), 1u);

    pd(8).identify_physical_drive_buffer.bMultiLUNDeviceLUNCount = 3;
    telmar::ReadExtraLuns(cda(), 8, pd(8));
    ASSERT_NE(pd(8).additional_lun_info, nullptr);
    // Nothing answers here: both entries are kept, invalid, and each failure is logged.
    EXPECT_EQ(pd(8).additional_lun_info[0].is_valid, 0);
    EXPECT_EQ(pd(8).additional_lun_info[1].is_valid, 0);
    EXPECT_EQ(TelmarLogCapture::Count("Failed to read physical drive 8 info for LUN"), 2u);
}

TEST_F(RecordsModel, ConfigurationWithoutAssignedDrivesIsNotALogicalDrive) {
    AddLogical({.number = 0, .members = {}});
    EXPECT_TRUE(ld(0).flags & kLDRecordConfigValid);
    EXPECT_FALSE(ld(0).flags & kLDRecordExists);
    AddLogical({.number = 1, .members = {0}});
    EXPECT_TRUE(ld(1).flags & kLDRecordExists);
}

TEST_F(RecordsModel, StatusMapsAreCutToTheDevicesReportedAndToTheBytesHeld) {
    std::vector<VK_BYTE> reply(sizeof(LOGICAL_DRIVE_STATUS), 0xFF);
    ByteSpan s(reply.data(), reply.size());
    s.put_le16(1004, 1100);
    s.put_le16(1006, 1200);
    s.put_le16(1008, static_cast<VK_WORD>(reply.size() - 5)); // runs past the reply
    s.put_le16(1016, 1300);
    s.put_le16(1018, 100);
    s.put_le32(1044, 1051); // additional flags not within the fixed part
    CDA_LOGICAL_DRIVE_STATUS out;
    telmar::DecodeLogicalDriveStatus(ByteView(reply.data(), reply.size()), out);
    EXPECT_EQ(+out.pbExtendedDriveFailureMap[11], 0xFF);
    EXPECT_EQ(+out.pbExtendedDriveFailureMap[12], 0x00);
    EXPECT_EQ(+out.pbExtendedReplacementDriveMap[11], 0xFF);
    EXPECT_EQ(+out.pbDriveRebuildPercentage[99], 0xFF);
    EXPECT_EQ(+out.pbDriveRebuildPercentage[100], 0x00);
    // The map that does not fit is absent, all clear; its offset still points at the compact map.
    EXPECT_EQ(+out.wOffsetToExtendedActiveSpareMap, 149);
    for (VK_BYTE b : out.pbExtendedActiveSpareMap) {
        ASSERT_EQ(b, 0);
    }
    EXPECT_EQ(+out.wOffsetToExtendedDriveFailureMap, 53);
    EXPECT_EQ(+out.wOffsetToDriveRebuildPercentage, 197);
    EXPECT_EQ(+out.bAdditionalEncryptionFlags, 0);
    EXPECT_EQ(+out.bManagedSEDVolumeFlags, 0);
    s.put_le32(1044, 1057);
    telmar::DecodeLogicalDriveStatus(ByteView(reply.data(), reply.size()), out);
    EXPECT_EQ(+out.bAdditionalEncryptionFlags, 0xFF);
    EXPECT_EQ(+out.bManagedSEDVolumeFlags, 0xFF);
}

TEST_F(RecordsModel, BusParametersMakeAnEnclosureOnlyWhenTheBoxAnswered) {
    std::vector<VK_BYTE> reply(sizeof(SENSE_BUS_PARAMETERS));
    CDA_SENSE_BUS_PARAMETERS out;
    EXPECT_FALSE(telmar::DecodeBusParameters(ByteView(reply.data(), reply.size()), out));
    for (size_t field : {size_t{36}, size_t{266}, size_t{267}}) {
        std::vector<VK_BYTE> box(sizeof(SENSE_BUS_PARAMETERS));
        box[field] = 1;
        EXPECT_TRUE(telmar::DecodeBusParameters(ByteView(box.data(), box.size()), out)) << field;
    }
    ByteSpan s(reply.data(), reply.size());
    reply[266] = 8;
    s.put_le16(405, 1500);
    s.put_le16(418, 384);
    std::memset(&reply[1500], 0xFF, 37);
    telmar::DecodeBusParameters(ByteView(reply.data(), reply.size()), out);
    // 48 map bytes from 1500 would pass the 1537 bytes held: the map is absent.
    EXPECT_EQ(+out.wOffsetToExtendedInstalledDriveMap, 370);
    EXPECT_EQ(+out.pbExtendedInstalledDriveMap[0], 0);
    s.put_le16(405, 1400);
    std::memset(&reply[1400], 0xA5, 48);
    telmar::DecodeBusParameters(ByteView(reply.data(), reply.size()), out);
    EXPECT_EQ(+out.pbExtendedInstalledDriveMap[47], 0xA5);
}

TEST_F(RecordsModel, OutOfRangeNumbersAreLoggedAndTakeNoLock) {
    ASSERT_TRUE(_PN_MutexCreate(&c()->lock));
    // Another thread holds the lock: a loader that took it would wait.
    std::promise<void> held, release;
    std::thread holder([&] {
        _PN_RecursiveMutexLock(c()->lock);
        held.set_value();
        release.get_future().wait();
        _PN_RecursiveMutexUnlock(c()->lock);
    });
    held.get_future().wait();
    auto answers = std::async(std::launch::async, [&] {
        return std::vector<VK_BOOL>{VK_RequestIdentifyPhysicalDriveBuffer(cda(), 384),
                                    VK_RequestSenseConfigurationBuffer(cda(), 64),
                                    VK_RequestSenseOriginalConfigurationBuffer(cda(), 64),
                                    VK_RequestIdentifyLogicalDriveBuffer(cda(), 64),
                                    VK_RequestSenseLogicalDriveStatusBuffer(cda(), 0xFFFF),
                                    VK_RequestLUCacheStatisticsBuffer(cda(), 64),
                                    VK_RequestLUCacheSenseBuffer(cda(), 64)};
    });
    const bool finished = answers.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    release.set_value();
    holder.join();
    ASSERT_TRUE(finished);
    for (VK_BOOL answer : answers.get()) {
        EXPECT_EQ(answer, kFalse);
    }
    EXPECT_EQ(TelmarLogCapture::Count("error: Request for pd out of range"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("error: Request for ld out of range"), 6u);
}

// ---- Array model ------------------------------------------------------------------------------------

TEST_F(RecordsModel, LogicalDrivesOnTheSameDrivesFormOneArrayOrderedByOffset) {
    for (VK_WORD p = 0; p < 6; ++p) {
        AddDrive({.number = p});
    }
    AddLogical({.number = 0, .members = {0, 1, 2, 3}, .offset = 5000});
    AddLogical({.number = 1, .members = {0, 1, 2, 3}, .offset = 0});
    AddLogical({.number = 2, .members = {4, 5}});
    AddLogical({.number = 3, .members = {0, 1, 2, 3}, .offset = 0});
    ASSERT_TRUE(Build());
    EXPECT_EQ(c()->total_array_count, 2);
    EXPECT_EQ(array(0).ld_count, 3);
    EXPECT_EQ(ArrayLogicalDrives(0), (std::vector<VK_WORD>{1, 3, 0}));
    EXPECT_EQ(ArrayLogicalDrives(1), (std::vector<VK_WORD>{2}));
    EXPECT_EQ(ld(3).array_number, 0);
    EXPECT_EQ(Walk(VK_EnumerateArrayDataDrives, 0), (std::vector<VK_WORD>{0, 1, 2, 3}));
    EXPECT_EQ(VK_EnumerateArrayLogicalDrives(cda(), 0, 7), 0xFFFF);
    EXPECT_EQ(c()->data_ld_count, 4);
    EXPECT_EQ(c()->data_array_count, 2);
    EXPECT_EQ(c()->first_unused_ld_number, 4);
    EXPECT_EQ(VK_GetArrayType(cda(), 1), kArrayTypeData);
    EXPECT_EQ(VK_GetArrayType(cda(), 2), 0);
    EXPECT_EQ(Usage(4), kPhysicalDriveUsageData);
    EXPECT_TRUE(pd(4).flags & kPDRecordPresent);
}

TEST_F(RecordsModel, CountsAndTheFirstUnusedNumber) {
    struct Row {
        const char* name;
        VK_WORD logical_drives;
        VK_WORD max_logical;
        bool found;
        VK_WORD first_unused;
    };
    const Row rows[] = {
        {"none", 0, 64, false, 0},
        {"one", 1, 64, true, 1},
        {"all 64 of 64", 64, 64, false, 0},
        // The walk ends at 64, a number no record has.
        {"all 64 of a controller allowing 128", 64, 128, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset(128, r.max_logical);
        AddDrive({.number = 0});
        for (VK_WORD n = 0; n < r.logical_drives; ++n) {
            AddLogical({.number = n, .members = {0}, .offset = n * 1000u});
        }
        ASSERT_TRUE(Build());
        EXPECT_EQ(c()->data_ld_count, r.logical_drives);
        EXPECT_EQ(c()->total_array_count, r.logical_drives ? 1 : 0);
        EXPECT_EQ((c()->flags[kCDAFlagsModel] & kCDAModelFirstUnusedLDFound) != 0, r.found);
        EXPECT_EQ(c()->first_unused_ld_number, r.first_unused);
        EXPECT_EQ(array(0).ld_count, r.logical_drives);
    }
}

TEST_F(RecordsModel, MissingDrivesCountOnlyWhenTheControllerSupportsThem) {
    for (bool supported : {false, true}) {
        SCOPED_TRACE(supported);
        Reset();
        c()->sense_feature.page_miscellaneous.bFlags3 = supported ? 0x04 : 0;
        AddDrive({.number = 0});
        AddLogical({.number = 0, .members = {0, 1, 2}, .missing = 2});
        ASSERT_TRUE(Build());
        EXPECT_EQ(array(0).missing_drive_count, supported ? 2 : 0);
    }
}

TEST_F(RecordsModel, BlockSizesOfTheDrivesSetTheAlignment) {
    AddDrive({.number = 0, .block = 512});
    AddDrive({.number = 1, .block = 512, .blocks_per_physical_shift = 3});
    AddLogical({.number = 0, .members = {0, 1}});
    ASSERT_TRUE(Build());
    EXPECT_EQ(array(0).alignment_size_blocks, 8u);
    EXPECT_EQ(VK_GetNextLogicalDriveAlignedOffset(cda(), 0, 17), 24u);
}

TEST_F(RecordsModel, ZeroLogicalBlockSizeAlignsToOneBlock) {
    AddDrive({.number = 0, .block = 512, .blocks_per_physical_shift = 3});
    AddLogical({.number = 0, .members = {0}});
    ld(0).block_size_bytes = 0;
    ASSERT_TRUE(Build());
    EXPECT_EQ(array(0).alignment_size_blocks, 1u);
}

TEST_F(RecordsModel, AlignedOffsets) {
    EXPECT_EQ(_VK_GetNextLogicalDriveAlignedOffset(cda(), 8, 17), 24u);
    EXPECT_EQ(_VK_GetNextLogicalDriveAlignedOffset(cda(), 8, 16), 16u);
    EXPECT_EQ(_VK_GetNextLogicalDriveAlignedOffset(cda(), 8, 0xFFFFFFFFFFFFFFFFull), 0xFFFFFFFFFFFFFFFFull);
    EXPECT_EQ(TelmarLogCapture::Count("Zero alignment size"), 0u);
    EXPECT_EQ(_VK_GetNextLogicalDriveAlignedOffset(cda(), 0, 17), 17u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'alignment_size_blocks > 0' failed: Zero alignment size\n"), 1u);
}

TEST_F(RecordsModel, SpareUsageFollowsTheLastLogicalDriveAndTheActiveMap) {
    struct Row {
        const char* name;
        VK_BYTE last_more_unit_flags;
        bool active;
        VK_BYTE expected;
    };
    const Row rows[] = {
        {"auto-replace", 0x01, false, kPhysicalDriveUsageAutoReplaceStandbySpare},
        {"shareable standby", 0x00, false, kPhysicalDriveUsageShareableStandbySpare},
        {"shareable active", 0x00, true, kPhysicalDriveUsageShareableActiveSpare},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        for (VK_WORD p = 0; p < 3; ++p) {
            AddDrive({.number = p});
        }
        AddLogical({.number = 0, .members = {0, 1}, .spares = {2}});
        AddLogical({.number = 1,
                    .members = {0, 1},
                    .offset = 2000,
                    .spares = {2},
                    .active_spares = r.active ? std::vector<VK_WORD>{2} : std::vector<VK_WORD>{},
                    .more_unit_flags = r.last_more_unit_flags});
        ASSERT_TRUE(Build());
        EXPECT_EQ(Usage(2), r.expected);
        EXPECT_EQ(Usage(0), kPhysicalDriveUsageData);
        EXPECT_EQ(Walk(VK_EnumerateArraySpareDrives, 0), (std::vector<VK_WORD>{2}));
        EXPECT_EQ(Walk(VK_EnumerateArrayPhysicalDrives, 0), (std::vector<VK_WORD>{0, 1, 2}));
    }
}

TEST_F(RecordsModel, SplitMirrorRolesComeFromTheSibling) {
    struct Row {
        const char* name;
        VK_BYTE primary_hidden;
        VK_DWORD primary_timestamp;
        VK_BYTE backup_hidden;
        VK_DWORD backup_timestamp;
        VK_DWORD backup_blocks;
        VK_BYTE primary_type, backup_type;
        VK_WORD offline;
    };
    const Row rows[] = {
        {"primary and backup", 0, 0, 0x02, 77, 1000, kArrayTypeSplitMirrorPrimary, kArrayTypeSplitMirrorBackup, 1},
        // The primary's own timestamp does not undo its role; only the backup becomes an orphan.
        {"sibling already backed up: orphan", 0, 55, 0x02, 77, 1000, kArrayTypeSplitMirrorPrimary,
         kArrayTypeSplitMirrorBackupOrphan, 1},
        {"sizes differ: no pair", 0, 0, 0x02, 77, 999, kArrayTypeData, kArrayTypeSplitMirrorBackupOrphan, 1},
        {"backup not hidden: primary is plain data", 0, 0, 0, 0, 1000, kArrayTypeData, kArrayTypeSplitMirrorBackup,
         1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        for (VK_WORD p = 0; p < 4; ++p) {
            AddDrive({.number = p});
        }
        AddLogical({.number = 0, .members = {0, 1}, .signature = 0xA, .other_signature = 0xB,
                    .bios_disable = r.primary_hidden, .backup_timestamp = r.primary_timestamp});
        AddLogical({.number = 1, .members = {2, 3}, .blocks_per_drive = r.backup_blocks, .property = 0x03,
                    .signature = 0xB, .other_signature = 0xA, .bios_disable = r.backup_hidden,
                    .backup_timestamp = r.backup_timestamp});
        ASSERT_TRUE(Build());
        EXPECT_EQ(VK_GetArrayType(cda(), 0), r.primary_type);
        EXPECT_EQ(VK_GetArrayType(cda(), 1), r.backup_type);
        EXPECT_EQ(c()->offline_array_count, r.offline);
        EXPECT_EQ(ld(1).flags & kLDRecordRoleMask,
                  kLDRecordExists | (r.backup_type == kArrayTypeSplitMirrorBackup ? kLDRecordRoleSplitMirrorBackup
                                                                                 : kLDRecordRoleSplitMirrorOrphan));
        VK_WORD a;
        std::vector<VK_WORD> offline;
        FOREACH_ARRAY_OF_TYPE(cda(), kArrayTypeSplitMirrorBackup | kArrayTypeSplitMirrorPrimary, a) {
            offline.push_back(a);
        }
        EXPECT_EQ(offline.size(), (r.primary_type == kArrayTypeSplitMirrorPrimary ? 1u : 0u) +
                                      (r.backup_type == kArrayTypeSplitMirrorBackup ? 1u : 0u));
    }
}

TEST_F(RecordsModel, EncryptionMismatchRejectsAPair) {
    for (VK_WORD p = 0; p < 4; ++p) {
        AddDrive({.number = p});
    }
    c()->sense_feature.page_encryption.bFlags1 = 0x01;
    id().dwEncryptionStatus = 0x1;
    c()->flags[kCDAFlagsBuffers] |= kCDAValidEncryptionIKekStatus;
    AddLogical({.number = 0, .members = {0, 1}, .signature = 0xA, .other_signature = 0xB});
    AddLogical({.number = 1, .members = {2, 3}, .property = 0x03, .signature = 0xB, .other_signature = 0xA,
                .bios_disable = 0x02, .backup_timestamp = 77});
    EXPECT_TRUE(__VK_CheckSplitMirrorSiblingMatch(cda(), 0, 1));
    ld(1).sense_logical_drive_status_buffer.bEncryptionFlags = 0x01;
    EXPECT_FALSE(__VK_CheckSplitMirrorSiblingMatch(cda(), 0, 1));
    ASSERT_TRUE(Build());
    EXPECT_EQ(VK_GetArrayType(cda(), 1), kArrayTypeSplitMirrorBackupOrphan);
}

TEST_F(RecordsModel, HBAModeBuildsNoArrays) {
    HBAMode();
    AddDrive({.number = 0});
    AddDrive({.number = 1});
    pd(1).identify_physical_drive_buffer.bQRBSupport = 1;
    AddLogical({.number = 0, .members = {0}});
    ASSERT_TRUE(Build());
    EXPECT_EQ(c()->total_array_count, 0);
    EXPECT_EQ(c()->data_ld_count, 0);
    EXPECT_EQ(Usage(0), kPhysicalDriveUsageHBA);
    EXPECT_EQ(Usage(1), kPhysicalDriveUsageUnconfigurable);
    EXPECT_EQ(VK_EnumerateAllArrays(cda(), 0xFFFF), 0xFFFF);
}

TEST_F(RecordsModel, MixedModeDriveOnAConnectorPendingHBAIsTransient) {
    id().dwYetMoreControllerFlags = 0x00100000;
    id().dwFixedStructureLength = 287;
    id().dwExtraControllerFlags = 0x1000;
    id().bCurrentControllerMode = 2;
    c()->controller_firmware_feature_version = 5;
    SUBSYSTEM_PARAMETERS& s = c()->sense_subsystem_parameters_buffer;
    s.bInternalPortCount = 2;
    std::memcpy(s.internalPortInfo[0].sPhysicalPort, "1I", 2);
    std::memcpy(s.internalPortInfo[1].sPhysicalPort, "2I", 2);
    s.internalPortInfo[0].qwControllerPhyMap = 0x0F;
    s.internalPortInfo[1].qwControllerPhyMap = 0xF0;
    s.additionalInternalPortInfo[1].bConnectionNumber = 1;
    c()->sense_controller_parameters_buffer.bConnectorMode[0] = 1; // pending HBA
    ASSERT_TRUE(VK_ControllerCurrentModeIsMixed(cda()));
    AddDrive({.number = 0, .port = "1I"});
    AddDrive({.number = 1, .port = "2I"});
    AddDrive({.number = 2, .connector_mode = 1, .port = "2I"});
    AddDrive({.number = 3, .connector_mode = 2, .port = "2I"});
    ASSERT_TRUE(Build());
    EXPECT_EQ(Usage(0), kPhysicalDriveUsageTransientUnassigned);
    EXPECT_EQ(Usage(1), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(Usage(2), kPhysicalDriveUsageHBA);
    EXPECT_EQ(Usage(3), kPhysicalDriveUsageUnassigned);
}

TEST_F(RecordsModel, RebuildOfAClearedModelKeepsTheRecordBits) {
    AddDrive({.number = 0});
    AddDrive({.number = 1});
    AddLogical({.number = 0, .members = {0, 1}});
    ASSERT_TRUE(Build());
    const VK_DWORD accelerator = ld(0).flags & kLDRecordAcceleratorMask;
    EXPECT_EQ(accelerator, kLDRecordAcceleratorControllerCache);
    c()->flags[kCDAFlagsModel] &= ~kCDAModelArraysBuilt;
    c()->sense_cache_config_status_buffer.bDisableFlag = 1;
    ASSERT_TRUE(Build());
    EXPECT_EQ(c()->total_array_count, 1);
    EXPECT_EQ(array(0).ld_count, 1);
    EXPECT_TRUE(pd(0).flags & kPDRecordIdentifyValid);
    EXPECT_TRUE(ld(0).flags & kLDRecordStatusValid);
    // The accelerator is replaced, not mixed with the one of the first build.
    EXPECT_EQ(ld(0).flags & kLDRecordAcceleratorMask, kLDRecordAcceleratorNone);
}

TEST_F(RecordsModel, IdentifyMapsOutsideTheReplyAreAbsent) {
    id().wOffsetToExtendedDrivePresentMap = 1000; // 16 map bytes would pass the 1024 held
    AddDrive({.number = 0}, false);
    ASSERT_TRUE(Build());
    EXPECT_FALSE(pd(0).flags & kPDRecordPresent);
    EXPECT_EQ(Usage(0), 0);
}

// ---- Functions of the drive and encryption words ---------------------------------------------------

TEST_F(RecordsModel, ConnectorByNameWinsOverConnectorByNumber) {
    id().dwYetMoreControllerFlags = 0x00100000;
    id().dwFixedStructureLength = 287;
    id().dwExtraControllerFlags = 0x1000;
    c()->controller_firmware_feature_version = 5;
    SUBSYSTEM_PARAMETERS& s = c()->sense_subsystem_parameters_buffer;
    s.bInternalPortCount = 2;
    std::memcpy(s.internalPortInfo[0].sPhysicalPort, "1I", 2);
    std::memcpy(s.internalPortInfo[1].sPhysicalPort, "2I", 2);
    s.additionalInternalPortInfo[0].bConnectionNumber = 9;
    s.additionalInternalPortInfo[1].bConnectionNumber = 4;
    AddDrive({.number = 0, .port = "2I"});
    pd(0).identify_physical_drive_buffer.bConnectorInfo[0] = 9;
    EXPECT_EQ(VK_GetConnectorIndexOfPhysicalDrive(cda(), 0), 1);
    AddDrive({.number = 1, .port = "9Z"});
    pd(1).identify_physical_drive_buffer.bConnectorInfo[0] = 9;
    EXPECT_EQ(VK_GetPhysicalDriveConnectorIndex(cda(), 1), 0);
    pd(1).identify_physical_drive_buffer.bActivePathNumber = 4;
    EXPECT_EQ(VK_GetConnectorIndexOfPhysicalDrive(cda(), 1), 0xFFFF);
    EXPECT_EQ(TelmarLogCapture::Count("Active path index (4) out of range for pd 1"), 1u);
}

TEST_F(RecordsModel, ControllerEncryptionWord) {
    c()->sense_feature.page_encryption.bFlags1 = 0x01;
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()), 0x0FFFFFF000000000ull);
    c()->flags[kCDAFlagsBuffers] |= kCDAValidEncryptionIKekStatus | kCDAValidEncryptionKeyManagerStatus;
    c()->encryption_key_manager_status.bRetrievalStatus = 3;
    c()->encryption_key_manager_status.bConnectionStatus = 3;
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()), 0x1000000ull | 0x24000000ull);
    c()->encryption_key_manager_status.bConnectionStatus = 1;
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()), 0x1000000ull | 0x0C000000ull);
    c()->encryption_key_manager_status.bRetrievalStatus = 2;
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()), kControllerEncryptionKeyRetrievalRequested);

    id().dwEncryptionStatus = 0x10000;
    c()->flags[kCDAFlagsBuffers] |= kCDAValidEncryptionRecoveryQuestion;
    std::memcpy(c()->encryption_password_recovery_buffer.bQuestion, kControllerEncryptionExpressModeQuestion, 256);
    EXPECT_TRUE(VK_GetControllerEncryptionStatus(cda()) & kControllerEncryptionExpressModeOn);
    c()->encryption_password_recovery_buffer.bQuestion[255] = '!';
    EXPECT_FALSE(VK_GetControllerEncryptionStatus(cda()) & kControllerEncryptionExpressModeOn);
    EXPECT_EQ(std::strlen(kControllerEncryptionExpressModeQuestion), 255u);
}

TEST_F(RecordsModel, LogicalDriveEncryptionWord) {
    c()->sense_feature.page_encryption.bFlags1 = 0x01;
    AddDrive({.number = 0});
    AddLogical({.number = 0, .members = {0}});
    CDA_LOGICAL_DRIVE_STATUS& s = ld(0).sense_logical_drive_status_buffer;
    s.bEncryptionFlags = 0x09;
    s.bAdditionalEncryptionFlags = 0x01 | (2 << 2);
    s.dwFixedStructureLength = 1051;
    EXPECT_EQ(VK_GetLogicalDriveEncryptionInfo(cda(), 0), 0x09u);
    s.dwFixedStructureLength = 1052;
    EXPECT_EQ(VK_GetLogicalDriveEncryptionInfo(cda(), 0), 0x09u | 0x100u | (3u << 12));
    EXPECT_EQ(VK_GetLogicalDriveEncryptionInfo(cda(), 64), 0u);
}

TEST_F(RecordsModel, PhysicalDriveEncryptionWord) {
    c()->sense_feature.page_drive.bFlags2 = 0x10;
    AddDrive({.number = 0});
    CDA_PHYSICAL_DRIVE_STATUS& id = pd(0).identify_physical_drive_buffer;
    id.dwDriveFeatureFlags = 0x20 | 0x1000;
    EXPECT_EQ(VK_GetPhysicalDriveEncryptionInfo(cda(), 0), kPhysicalDriveEncryptionSEDIsForeign);
    id.dwDriveFeatureFlags = 0x1 | 0x20 | 0x800 | 0x1000;
    EXPECT_EQ(VK_GetPhysicalDriveEncryptionInfo(cda(), 0),
              kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsForeign | 0xC00000ull);
    EXPECT_EQ(VK_GetPhysicalDriveEncryptionInfo(cda(), 384), 0u);
}

} // namespace

namespace {

// The map writer places a map only where offset and length fit both the buffer and the limit its
// header reports, and sets bits only inside the map: a reported offset or size can never make it
// write past what goes back to the controller.
TEST(MapWriter, PlacesMapsOnlyInsideBufferAndLimit) {
    struct Row {
        size_t limit, offset, bytes;
        bool placed;
    };
    const Row rows[] = {
        {652, 0, 16, false},   // no extended map
        {652, 636, 16, true},  // ends exactly at the buffer's end
        {652, 637, 16, false}, // one byte past it
        {600, 590, 16, false}, // inside the buffer, past the reported total
        {900, 640, 16, false}, // a total larger than the buffer does not widen it
        {652, 100, 0, true},   // an empty map is placed but takes no bit
    };
    for (const Row& row : rows) {
        std::vector<VK_BYTE> buffer(652, 0xAA);
        const auto map = telmar::MapSpanAt(pavlin::ByteSpan(buffer.data(), buffer.size()), row.limit, row.offset,
                                           row.bytes);
        ASSERT_EQ(map.has_value(), row.placed) << row.offset << "+" << row.bytes << " limit " << row.limit;
        if (!map) {
            continue;
        }
        telmar::ClearMapSpan(*map);
        EXPECT_EQ(telmar::PutMapBit(*map, 0), row.bytes > 0);
        EXPECT_FALSE(telmar::PutMapBit(*map, row.bytes * 8)); // the first bit past the map
        for (size_t i = 0; i < buffer.size(); ++i) {
            const bool inside = i >= row.offset && i < row.offset + row.bytes;
            const VK_BYTE want = !inside ? 0xAA : (i == row.offset ? 0x01 : 0x00);
            ASSERT_EQ(buffer[i], want) << "byte " << i;
        }
        if (row.bytes > 0) {
            EXPECT_TRUE(telmar::PutMapBit(*map, 0, false));
            EXPECT_EQ(buffer[row.offset], 0);
        }
    }
}

} // namespace
