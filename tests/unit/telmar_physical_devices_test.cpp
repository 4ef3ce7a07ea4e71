// Physical-device getters over hand-built drive records: enumeration, counts, device types, identity,
// sizes, the LUN list, PHYs, link rates, paths and location text. The records are laid into a data
// area that has no controller, as the loaders would leave them, and marked cached.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pavl_tracked.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_WORD kNonDiskMapAt = 656;

class PhysicalDevices : public ::testing::Test {
protected:
    PhysicalDevices() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) { Reset(); }
    ~PhysicalDevices() override {
        for (size_t n = 0; n < kMaxPhysicalDrivesSupported; ++n) {
            if (pd(static_cast<VK_WORD>(n)).additional_lun_info != nullptr) {
                VK_free(pd(static_cast<VK_WORD>(n)).additional_lun_info);
                pd(static_cast<VK_WORD>(n)).additional_lun_info = nullptr;
            }
        }
    }

    void Reset(VK_WORD max_devices = 384) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                       kCDAValidSubsystemParameters | kCDAValidFeaturePages;
        c()->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
        id().dwEvenMoreControllerFlags = 0x80000000; // feature pages offered
        id().wMaximumPhysicalDevicesSupported = max_devices;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    PhysicalDriveRecord& pd(VK_WORD n) { return _VK_PDRecordForWrite(c(), n); }

    // A cached identify record of a device of `type`; drives carry the drive and present bits.
    CDA_PHYSICAL_DRIVE_STATUS& Add(VK_WORD n, VK_BYTE type = 2) {
        PhysicalDriveRecord& r = pd(n);
        r.flags = kPDRecordIdentifyValid |
                  ((type == 1 || type == 2 || type == 9) ? (kPDRecordDrive | kPDRecordPresent) : kPDRecordNonDisk);
        r.identify_physical_drive_buffer.bDeviceType = type;
        r.identify_physical_drive_buffer.bPhysicalBox = 1;
        r.identify_physical_drive_buffer.bPhysicalBay = 3;
        std::memcpy(r.identify_physical_drive_buffer.sPhysicalPort, "1I", 2);
        r.identify_physical_drive_buffer.bRedundantPathPresentMap = 1;
        r.identify_physical_drive_buffer.bActivePathMap = 1;
        return r.identify_physical_drive_buffer;
    }
    void NonDiskMap() {
        id().wOffsetToExtendedNonDiskMap = kNonDiskMapAt;
    }
    void MarkNonDisk(VK_WORD n) {
        auto* map = reinterpret_cast<VK_BYTE*>(&id()) + kNonDiskMapAt;
        map[n / 8] |= static_cast<VK_BYTE>(1u << (n % 8));
    }

    std::vector<VK_WORD> Drives() {
        std::vector<VK_WORD> out;
        VK_WORD n;
        FOREACH_PHYSICAL_DRIVE(cda(), n) { out.push_back(n); }
        return out;
    }
    std::vector<VK_WORD> AllDevices() {
        std::vector<VK_WORD> out;
        VK_WORD n;
        FOREACH_ALL_PHYSICAL_DEVICE(cda(), n) { out.push_back(n); }
        return out;
    }
    std::vector<VK_WORD> NonDiskDevices() {
        std::vector<VK_WORD> out;
        VK_WORD n;
        FOREACH_PHYSICAL_DEVICE(cda(), n) { out.push_back(n); }
        return out;
    }

    std::string Location(VK_WORD n, VK_BYTE type, size_t size = 64) {
        std::vector<char> buffer(size, 'x');
        return VK_GetPhysicalDriveLocation(cda(), n, type, buffer.data(), buffer.size());
    }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

using Words = std::vector<VK_WORD>;

// ---- Enumeration ------------------------------------------------------------------------------------

TEST_F(PhysicalDevices, DriveWalkStopsAtTheControllerMaximumAndSkipsNonDiskDevices) {
    Reset(128);
    for (VK_WORD n : {0, 5, 127, 128, 300}) {
        Add(n);
    }
    Add(7, 6); // a SEP: non-disk only
    EXPECT_EQ(Drives(), (Words{0, 5, 127}));
    EXPECT_EQ(VK_EnumerateControllerPhysicalDrives(cda(), 127), kInvalidPDNumber);
    EXPECT_EQ(VK_EnumerateControllerPhysicalDrives(cda(), 0xFFFE), kInvalidPDNumber);
}

TEST_F(PhysicalDevices, DeviceWalksFollowTheNonDiskMapAndTheDriveRecords) {
    Add(0);
    Add(3);
    Add(64, 6);
    Add(65, 5);
    MarkNonDisk(64);
    MarkNonDisk(65);
    MarkNonDisk(383);
    // No map offset: only configured drives, and no non-disk devices at all.
    EXPECT_EQ(AllDevices(), (Words{0, 3}));
    EXPECT_EQ(NonDiskDevices(), Words{});
    NonDiskMap();
    EXPECT_EQ(AllDevices(), (Words{0, 3, 64, 65, 383}));
    EXPECT_EQ(NonDiskDevices(), (Words{64, 65, 383}));
    EXPECT_EQ(VK_EnumerateControllerPhysicalDevices(cda(), 383), kInvalidDeviceNumber);
    EXPECT_EQ(VK_GetControllerPhysicalDeviceCount(cda()), 5);
    // Bit 0 is examined first after 0xFFFF.
    MarkNonDisk(0);
    EXPECT_EQ(VK_EnumerateControllerPhysicalDevices(cda(), 0xFFFF), 0);
}

TEST_F(PhysicalDevices, NonDiskMapOutsideIdentifyIsAbsent) {
    Add(0);
    id().wOffsetToExtendedNonDiskMap = 1000; // 48 bytes from 1000 do not fit in 1024
    EXPECT_EQ(NonDiskDevices(), Words{});
    EXPECT_EQ(AllDevices(), Words{0});
}

// ---- Counts -----------------------------------------------------------------------------------------

TEST_F(PhysicalDevices, LogicalDriveCountsWord) {
    EXPECT_EQ(VK_GetControllerLogicalDriveCounts(cda()), 0u);
    c()->data_ld_count = 5;
    c()->cache_ld_count = 2;
    const VK_DWORD word = VK_GetControllerLogicalDriveCounts(cda());
    EXPECT_EQ(word, 0x00002005u);
    EXPECT_EQ(NUM_LOGICAL_DRIVES(word), 7);
    c()->data_array_count = 3;
    c()->cache_array_count = 1;
    c()->offline_array_count = 1;
    EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 5);
}

TEST_F(PhysicalDevices, DriveCountsByUsage) {
    const VK_BYTE usages[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (VK_WORD n = 0; n < std::size(usages); ++n) {
        Add(n);
        pd(n).pd_config_information.config_usage_info = usages[n];
    }
    struct Case {
        VK_WORD (*count)(PCDA);
        VK_WORD expected;
    } cases[] = {
        {VK_GetControllerUnassignedPhysicalDriveCount, 2}, // 1, 9
        {VK_GetControllerDataPhysicalDriveCount, 2},       // 2, 6
        {VK_GetControllerCachePhysicalDriveCount, 1},      // 7
        {VK_GetControllerSparePhysicalDriveCount, 3},      // 3, 4, 5
        {VK_GetControllerHBAPhysicalDriveCount, 1},        // 8
        {VK_GetControllerTotalPhysicalDriveCount, 10},     // the unconfigurable one only here
    };
    for (const Case& k : cases) {
        EXPECT_EQ(k.count(cda()), k.expected);
    }
    EXPECT_EQ(VK_GetControllerPhysicalDriveCount(cda(), 0x1F), 9);
}

TEST_F(PhysicalDevices, DeviceTypes) {
    const struct {
        VK_BYTE device_type;
        VK_BYTE expected;
    } cases[] = {{1, kPhysicalDeviceTypeDrive},       {2, kPhysicalDeviceTypeDrive},
                 {9, kPhysicalDeviceTypeDrive},       {5, kPhysicalDeviceTypeExpander},
                 {6, kPhysicalDeviceTypeSEP},         {7, kPhysicalDeviceTypeController},
                 {8, kPhysicalDeviceTypeSMP},         {0xFF, kPhysicalDeviceTypePhyNotConnected},
                 {10, kPhysicalDeviceTypeUnknown},    {0, kPhysicalDeviceTypeUnknown}};
    for (const auto& k : cases) {
        Add(10, k.device_type);
        EXPECT_EQ(VK_PhysicalDeviceType(cda(), 10), k.expected) << int(k.device_type);
    }
    EXPECT_EQ(VK_PhysicalDeviceType(cda(), 384), kPhysicalDeviceTypeUnknown);
    EXPECT_EQ(VK_PhysicalDeviceType(cda(), 11), kPhysicalDeviceTypeUnknown); // no record, no controller
}

// ---- Basic info, sizes and identity -----------------------------------------------------------------

TEST_F(PhysicalDevices, BasicInfoMediaAndRecording) {
    const struct {
        VK_BYTE type;
        VK_DWORD rpm;
        VK_WORD extra;
        VK_DWORD misc;
        VK_BYTE luns;
        VK_DWORD expected;
    } cases[] = {
        {2, 1, 0, 0, 0, kPhysicalDriveTypeSAS | kPhysicalDriveTypeHDD},     // rpm 1 without the SSD flag
        {1, 1, 0x20, 0, 0, kPhysicalDriveTypeSATA | kPhysicalDriveTypeSSD}, // rpm 1 with it
        {9, 0, 0, 0x800, 0, kPhysicalDriveTypeNVMe | kPhysicalDriveTypeSSD},
        {2, 7200, 0, 0x3800, 0, kPhysicalDriveTypeSAS | kPhysicalDriveTypeHDD | kPhysicalDriveRecordingSMRHA},
        {2, 7200, 0, 0x3000, 0, kPhysicalDriveTypeSAS | kPhysicalDriveTypeHDD | kPhysicalDriveRecordingSMRHM},
        {2, 7200, 0, 0x2000, 2,
         kPhysicalDriveTypeSAS | kPhysicalDriveTypeHDD | kPhysicalDriveRecordingSMRDM | kPhysicalDriveIsMultiActuator},
        {10, 7200, 0, 0, 0, kPhysicalDriveTypeUnknown | kPhysicalDriveTypeHDD},
    };
    for (const auto& k : cases) {
        auto& r = Add(4, k.type);
        r.dwRPM = k.rpm;
        r.wExtraDeviceFlags = k.extra;
        r.dwMiscDriveFlags = k.misc;
        r.bMultiLUNDeviceLUNCount = k.luns;
        pd(4).flags = kPDRecordIdentifyValid | kPDRecordDrive;
        EXPECT_EQ(VK_GetPhysicalDriveBasicInfo(cda(), 4), k.expected) << int(k.type) << " " << k.rpm;
    }
    // Present, installed and boot connector from the record; present alone makes a disk without speed.
    auto& r = Add(5, 2);
    r.dwRPM = 0;
    pd(5).flags |= kPDRecordInstalled | kPDRecordBootConnector;
    EXPECT_EQ(VK_GetPhysicalDriveBasicInfo(cda(), 5),
              VK_DWORD{kPhysicalDriveTypeSAS | kPhysicalDriveTypeHDD | kPhysicalDriveIsPresent |
                       kPhysicalDriveIsInstalled | kPhysicalDriveOnBootConnector});
    EXPECT_EQ(VK_GetPhysicalDriveBasicInfo(cda(), 6), 0u);
}

TEST_F(PhysicalDevices, SizesCountValidExtraLuns) {
    auto& r = Add(2);
    r.dwReservedBlocks = 100;
    r.bMultiLUNDeviceLUNCount = 3;
    PhysicalDriveConfigInformation& config = pd(2).pd_config_information;
    config.total_size_blocks = 1000;
    config.usable_size_blocks = 900;
    config.logical_block_size_bytes = 512;
    config.physical_block_size_bytes = 4096;
    auto* luns = static_cast<PhysicalDriveLunInfo*>(VK_malloc(2 * sizeof(PhysicalDriveLunInfo)));
    std::memset(luns, 0, 2 * sizeof(PhysicalDriveLunInfo));
    luns[0] = {1, {}, 500, 50, {}};
    luns[1] = {0, {}, 7000, 70, {}}; // invalid: not counted
    pd(2).additional_lun_info = luns;
    const struct {
        VK_BYTE selector;
        VK_QWORD expected;
    } cases[] = {{0, 0},          {1, 1500},   {2, 1500 * 512}, {3, 900 + 450}, {4, 1350 * 512},
                 {5, 512},        {6, 4096},   {7, 150},        {8, 150 * 512}, {9, 0}};
    for (const auto& k : cases) {
        EXPECT_EQ(VK_GetPhysicalDriveSize(cda(), 2, k.selector), k.expected) << int(k.selector);
    }
    // A LUN count outside 2 to 4 ignores whatever entries are hanging off the record.
    r.bMultiLUNDeviceLUNCount = 9;
    EXPECT_EQ(VK_GetPhysicalDriveSize(cda(), 2, kPhysicalDriveSizeTotalBlocks), 1000u);
}

TEST_F(PhysicalDevices, IdentityStringsNeedABufferLargerThanTheField) {
    auto& r = Add(1);
    std::memset(r.sFullLengthDeviceModel, ' ', sizeof(r.sFullLengthDeviceModel));
    std::memcpy(r.sFullLengthDeviceModel, "VNDR    ", 8);
    std::memcpy(r.sFullLengthDeviceModel + 8, "  SIM-DISK 1200", 15);
    std::memcpy(r.sDriveSerialNumber, "SN0001", 6);
    std::memcpy(r.sDriveFirmwareRevision, " HPD3   ", 8);
    std::memcpy(r.sMinimumGoodFirmwareRevision, "HPD2\0xyz", 8);
    char buffer[64];
    EXPECT_STREQ(VK_GetPhysicalDriveModel(cda(), 1, buffer, 48), "");
    EXPECT_EQ(log_.Count("Assertion 'buffer_size > 48' failed"), 1u);
    EXPECT_STREQ(VK_GetPhysicalDriveModel(cda(), 1, buffer, 49), "VNDR      SIM-DISK 1200");
    EXPECT_STREQ(VK_GetPhysicalDriveVendorID(cda(), 1, buffer, 9), "VNDR");
    EXPECT_STREQ(VK_GetPhysicalDriveProductID(cda(), 1, buffer, 41), "SIM-DISK 1200");
    EXPECT_STREQ(VK_GetPhysicalDriveSerialNumber(cda(), 1, buffer, 41), "SN0001");
    EXPECT_STREQ(VK_GetPhysicalDriveFirmwareVersion(cda(), 1, buffer, 9), "HPD3");
    EXPECT_STREQ(VK_GetPhysicalDriveMinFirmwareVersion(cda(), 1, buffer, 9), "HPD2");
    EXPECT_STREQ(VK_GetPhysicalDriveSerialNumber(cda(), 2, buffer, 41), ""); // unreadable
    EXPECT_EQ(VK_GetPhysicalDriveModel(cda(), 1, nullptr, 49), nullptr);
}

TEST_F(PhysicalDevices, UniqueVolumeIdDigits) {
    c()->sense_feature.page_nvme.bNVMeFlags = 0x01;
    const VK_BYTE id16[16] = {0x60, 0x0D, 0x1A, 0x00, 0x11, 0x22, 0x33, 0x44,
                              0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
    VK_BYTE blanks[16];
    std::memcpy(blanks, id16, 8);
    std::memset(blanks + 8, ' ', 8);
    const struct {
        VK_BYTE type;
        const VK_BYTE* source;
        const char* expected;
    } cases[] = {
        {9, id16, "600D1A0011223344A0B1C2D3E4F50617"},
        {9, blanks, "600D1A0011223344"},
        {2, id16, "600D1A0011223344"},
    };
    char buffer[33];
    for (const auto& k : cases) {
        auto& r = Add(3, k.type);
        std::memcpy(r.bDeviceUniqueID, k.source, 16);
        EXPECT_STREQ(VK_GetPhysicalDriveUniqueVolumeID(cda(), 3, buffer, sizeof(buffer)), k.expected);
    }
    EXPECT_STREQ(VK_GetPhysicalDriveBootVolumeID(cda(), 3, buffer, sizeof(buffer)),
                 "600D1A0011223344A0B1C2D3E4F50617");
    EXPECT_STREQ(VK_GetPhysicalDriveBootVolumeID(cda(), 3, buffer, 32), "");
}

TEST_F(PhysicalDevices, WwidAsTextNeedsRoomForItsSignificantBytes) {
    auto& r = Add(3);
    const VK_BYTE wwid[8] = {0x50, 0x00, 0xC5, 0x00, 0x12, 0x34, 0x56, 0x78};
    std::memcpy(r.bWWID, wwid, sizeof(wwid));
    char text[41];
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 3, text, 16, kTrue), "");
    EXPECT_EQ(log_.Count("VK_GetPhysicalDriveWWID"), 1u);
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 3, text, 17, kTrue), "5000C50012345678");
    r.bWWID[2] = 0; // fewer trailing non-zero bytes still give 8
    r.bWWID[7] = 0;
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 3, text, 17, kTrue), "5000000012345600");
    r.bWWID[19] = 0xAB;
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 3, text, 41, kTrue),
                 "50000000123456000000000000000000000000AB");
    VK_BYTE raw[24];
    std::memset(raw, 0xEE, sizeof(raw));
    VK_GetPhysicalDriveWWID(cda(), 3, raw, sizeof(raw), kFalse);
    EXPECT_EQ(std::memcmp(raw, r.bWWID, 20), 0);
    EXPECT_EQ(raw[20], 0); // the whole buffer was cleared first
    EXPECT_EQ(VK_GetPhysicalDriveWWID(cda(), 3, nullptr, 41, kTrue), nullptr);
    Reset(3); // drive 3 is past the controller's maximum
    Add(3);
    std::memset(text, 'x', sizeof(text));
    EXPECT_STREQ(VK_GetPhysicalDriveWWID(cda(), 3, text, sizeof(text), kTrue), "");
}

TEST_F(PhysicalDevices, LunListHasOneSlotPerLunAndCountsTheValidOnes) {
    auto& r = Add(8);
    r.bMultiLUNDeviceLUNCount = 4;
    r.wBlockSize = 512;
    r.bWWID[0] = 0x51;
    pd(8).pd_config_information.total_size_blocks = 100;
    auto* luns = static_cast<PhysicalDriveLunInfo*>(VK_malloc(3 * sizeof(PhysicalDriveLunInfo)));
    std::memset(luns, 0, 3 * sizeof(PhysicalDriveLunInfo));
    luns[0] = {1, {0x52}, 200, 0, {0xAA}};
    luns[1] = {0, {0x53}, 300, 0, {0xBB}}; // LUN 2 invalid
    luns[2] = {1, {0x54}, 400, 0, {0xCC}};
    pd(8).additional_lun_info = luns;
    PHYSICAL_DRIVE_LUN_INFO_LIST* list = nullptr;
    ASSERT_EQ(VK_GetPhysicalDriveLunInfo(cda(), 8, &list), kGetPhysicalDriveLunInfoSuccess);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 3);
    EXPECT_EQ(reinterpret_cast<VK_BYTE*>(list->lun_info), reinterpret_cast<VK_BYTE*>(list) + 16);
    EXPECT_EQ(list->lun_info[0].total_size_in_bytes, 100u * 512);
    EXPECT_STREQ(list->lun_info[0].wwid_str, "5100000000000000");
    EXPECT_STREQ(list->lun_info[1].unique_volume_id, "AA00000000000000");
    EXPECT_EQ(list->lun_info[1].lun_number, 1);
    const PHYSICAL_DRIVE_LUN_INFO zero = {};
    EXPECT_EQ(std::memcmp(&list->lun_info[2], &zero, sizeof(zero)), 0);
    EXPECT_EQ(list->lun_info[3].lun_number, 3);
    EXPECT_EQ(list->lun_info[3].total_size_in_blocks, 400u);
    VK_free(list);

    // More LUNs than the loader keeps: the stale entries are never visited, the slots stay zeroed.
    r.bMultiLUNDeviceLUNCount = 200;
    ASSERT_EQ(VK_GetPhysicalDriveLunInfo(cda(), 8, &list), kGetPhysicalDriveLunInfoSuccess);
    EXPECT_EQ(list->count, 1);
    EXPECT_EQ(std::memcmp(&list->lun_info[199], &zero, sizeof(zero)), 0);
    VK_free(list);

    EXPECT_EQ(VK_GetPhysicalDriveLunInfo(cda(), 8, nullptr), kGetPhysicalDriveLunInfoInvalidArgument);
    PHYSICAL_DRIVE_LUN_INFO_LIST stale = {};
    list = &stale;
    EXPECT_EQ(VK_GetPhysicalDriveLunInfo(cda(), 9, &list), kGetPhysicalDriveLunInfoFailed);
    EXPECT_EQ(list, nullptr);
}

TEST_F(PhysicalDevices, PciValuesOnlyForNVMeDrives) {
    auto& sas = Add(1, 2);
    sas.wPCIVendorID = 0x1D7A;
    auto& nvme = Add(2, 9);
    nvme.wPCIVendorID = 0x144D;
    nvme.wPCISSVendorID = 0x1D7B;
    EXPECT_EQ(VK_GetPhysicalDrivePCIValue(cda(), 2, kPCIVendorDeviceID), 0u); // controller without NVMe
    c()->sense_feature.page_nvme.bNVMeFlags = 0x01;
    EXPECT_EQ(VK_GetPhysicalDrivePCIValue(cda(), 1, kPCIVendorDeviceID), 0u);
    EXPECT_EQ(VK_GetPhysicalDrivePCIValue(cda(), 2, kPCIVendorDeviceID), 0x144D0000u);
    EXPECT_EQ(VK_GetPhysicalDrivePCIValue(cda(), 2, kPCISubsystemVendorDeviceID), 0x1D7B0000u);
    EXPECT_EQ(VK_GetPhysicalDrivePCIValue(cda(), 2, 3), 0u);
}

TEST_F(PhysicalDevices, RotationalSpeedRoundsToTheNearestHundred) {
    const struct {
        VK_BYTE type;
        VK_DWORD rpm;
        VK_DWORD expected;
    } cases[] = {{2, 7250, 7300}, {1, 7249, 7200}, {2, 15000, 15000}, {2, 1, 0},
                 {9, 7200, 0},    {5, 7200, 0},    {0, 10049, 10000}, {2, 0xFFFFFFFF, 4294967200u}};
    for (const auto& k : cases) {
        Add(6, k.type).dwRPM = k.rpm;
        EXPECT_EQ(VK_GetPhysicalDriveRotationalSpeed(cda(), 6), k.expected) << k.rpm;
    }
}

// ---- PHYs, link rates and paths ---------------------------------------------------------------------

TEST_F(PhysicalDevices, LinkRateWord) {
    auto& r = Add(1);
    r.wPHYCount = 2;
    // PHY 0: logical 0, physical 0, maximum 0x0B; PHY 1: all 0x0B.
    r.bMaxLinkRate[0] = 0x0B;
    r.bNegotiatedLogicalLinkRate[1] = r.bNegotiatedPhysicalLinkRate[1] = r.bMaxLinkRate[1] = 0x0B;
    r.bMaxLinkRate[2] = 0x0C; // past the count: never read
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, kAnyPhyNumber), 0x100B0B0Bu);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, 0), 0x100B0000u);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, 2), 0x10000000u);
    EXPECT_EQ(log_.Count("Assertion 'phy_number < phy_count' failed"), 1u);
    // No valid code anywhere: the last PHY's value stays.
    r.bNegotiatedLogicalLinkRate[1] = 0x03;
    EXPECT_EQ(PHY_NEGOTIATED_LOGICAL_LINK_RATE(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, kAnyPhyNumber)), 0x03);
    auto& nvme = Add(2, 9);
    nvme.wPHYCount = 1;
    nvme.bNegotiatedLogicalLinkRate[0] = 0x0A;
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 2, kAnyPhyNumber), 0x20000A00u);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 3, kAnyPhyNumber), 0u);
}

TEST_F(PhysicalDevices, PhyCountsPastThePerPhyTablesAreClamped) {
    auto& r = Add(1);
    r.wPHYCount = 300;
    r.bPHYConnectedDeviceType[255] = 7;
    r.bNegotiatedLogicalLinkRate[255] = 0x0A;
    // Bytes just past the 256-entry tables belong to other fields; PHYs 256 and up are not there.
    EXPECT_EQ(VK_GetPhysicalDevicePHYCount(cda(), 1), 300);
    EXPECT_EQ(_VK_GetPhysicalDevicePhyConnectedDeviceType(cda(), 1, 255), 7);
    EXPECT_EQ(_VK_GetPhysicalDevicePhyConnectedDeviceType(cda(), 1, 256), 0xFF);
    EXPECT_EQ(_VK_GetPhysicalDevicePhyConnectedDeviceType(cda(), 1, 299), 0xFF);
    EXPECT_EQ(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, 299), 0x10000000u);
    EXPECT_EQ(PHY_NEGOTIATED_LOGICAL_LINK_RATE(VK_GetPhysicalDevicePhyLinkRate(cda(), 1, kAnyPhyNumber)), 0x0A);
    r.bPHYConnectedDeviceType[3] = 10;
    EXPECT_EQ(_VK_GetPhysicalDevicePhyConnectedDeviceType(cda(), 1, 3), 0xFF);
}

TEST_F(PhysicalDevices, ControllerPhyWord) {
    auto& r = Add(1);
    EXPECT_EQ(VK_GetPhysicalDeviceControllerPhyNumbers(cda(), 1), 0xFFFFFFFFu);
    r.bControllerPHYMap[0] = 0x10;  // PHY 4
    r.bControllerPHYMap[31] = 0x80; // PHY 255
    const VK_DWORD word = VK_GetPhysicalDeviceControllerPhyNumbers(cda(), 1);
    EXPECT_EQ(FIRST_CONTROLLER_PHY_NUMBER(word), 4);
    EXPECT_EQ(LAST_CONTROLLER_PHY_NUMBER(word), 255);
}

TEST_F(PhysicalDevices, PathMapsAndCounts) {
    auto& r = Add(1);
    r.bRedundantPathPresentMap = 0x03;
    r.bRedundantPathFailureMap = 0x02;
    r.bActivePathMap = 0;
    r.bConnectorMap = 0;
    EXPECT_EQ(VK_GetPhysicalDevicePathCount(cda(), 1), 2);
    EXPECT_FALSE(VK_PhysicalDeviceIsMultiPath(cda(), 1));
    r.bRedundantPathFailureMap = 0;
    EXPECT_TRUE(VK_PhysicalDeviceIsMultiPath(cda(), 1));
    r.bActivePathNumber = 1;
    r.bConnectorMap = 0x10;
    EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 1, kActivePathMap), 0x02);
    EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 1, kPathPresentMap), 0x13);
    EXPECT_EQ(VK_GetPhysicalDevicePathInfo(cda(), 1), 0x0002);
    EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 1, 4), 0);
    EXPECT_EQ(log_.Count("Invalid map_type parameter."), 1u);
    // Active path numbers past the eight paths: the active bit is left out, with a line each.
    for (VK_BYTE active : {9, 40, 255}) {
        r.bActivePathNumber = active;
        r.bActivePathMap = 0x04;
        r.bRedundantPathFailureMap = 0x08;
        EXPECT_EQ(VK_GetPhysicalDevicePhyMap(cda(), 1, kActivePathMap), 0x04) << int(active);
        EXPECT_EQ(VK_GetPhysicalDevicePathInfo(cda(), 1), 0x0804) << int(active);
    }
    EXPECT_EQ(log_.Count("Assertion 'active_path_index < 8' failed"), 6u);
}

TEST_F(PhysicalDevices, PhyConnectorIndexIsTheRecordsConnectorNumber) {
    id().dwYetMoreControllerFlags = 0x00100000;
    id().dwFixedStructureLength = 287;
    id().dwExtraControllerFlags = 0x1000;
    c()->controller_firmware_feature_version = 5;
    ASSERT_TRUE(VK_ControllerSupportsMixedMode(cda()));
    auto& r = Add(1);
    r.wPHYCount = 2;
    r.bConnectorInfo[0] = 0xFF;
    r.bConnectorInfo[1] = 6;
    r.bConnectorInfo[2] = 7; // past the PHY count
    EXPECT_EQ(VK_GetPhysicalDevicePhyConnectorIndex(cda(), 1, kInvalidPhyNumber), 6);
    EXPECT_EQ(VK_GetPhysicalDevicePhyConnectorIndex(cda(), 1, kAnyPhyNumber), kInvalidConnectorIndex);
    EXPECT_EQ(VK_GetPhysicalDevicePhyConnectorIndex(cda(), 1, 0), kInvalidConnectorIndex);
    EXPECT_EQ(VK_GetPhysicalDevicePhyConnectorIndex(cda(), 1, 1), 6);
    EXPECT_EQ(VK_GetPhysicalDevicePhyConnectorIndex(cda(), 1, 2), kInvalidConnectorIndex);
}

// ---- Location text ----------------------------------------------------------------------------------

TEST_F(PhysicalDevices, LocationText) {
    Add(1);
    auto& unknown = Add(2);
    std::memcpy(unknown.sPhysicalPort, "??", 2);
    unknown.bPhysicalBox = unknown.bPhysicalBay = 0xFF;
    Add(64, 5); // an expander
    const struct {
        VK_WORD device;
        VK_BYTE type;
        size_t size;
        const char* expected;
    } cases[] = {
        {1, kPhysicalDriveLocationComplete, 25, "1I:1:3"},
        {1, kPhysicalDriveLocationComplete, 24, ""},
        {1, kPhysicalDriveLocationPort, 9, "1I"},
        {1, kPhysicalDriveLocationBox, 8, "1"},
        {1, kPhysicalDriveLocationBay, 8, "3"},
        {1, kPhysicalDriveLocationBay, 7, ""},
        {1, 5, 64, ""},
        {2, kPhysicalDriveLocationComplete, 25, "Unknown:Unknown:Unknown"},
        {64, kPhysicalDriveLocationComplete, 17, "1I:1"},
        {64, kPhysicalDriveLocationComplete, 16, ""},
        {64, kPhysicalDriveLocationBay, 64, ""},
        {3, kPhysicalDriveLocationComplete, 64, ""}, // no record
    };
    for (const auto& k : cases) {
        EXPECT_EQ(Location(k.device, k.type, k.size), k.expected) << k.device << " " << int(k.type) << " " << k.size;
    }
    char untouched = 'x';
    EXPECT_EQ(VK_GetPhysicalDriveLocation(cda(), 1, 1, &untouched, 0), &untouched);
    EXPECT_EQ(untouched, 'x');
}

// Box and bay numbers of one, two and three digits, up to the last that is not "Unknown".
TEST_F(PhysicalDevices, LocationNumbersOfEveryWidth) {
    auto& drive = Add(1);
    const struct {
        VK_BYTE box, bay;
        const char* expected;
    } cases[] = {{0, 0, "1I:0:0"}, {9, 10, "1I:9:10"}, {99, 100, "1I:99:100"}, {200, 254, "1I:200:254"}};
    for (const auto& k : cases) {
        drive.bPhysicalBox = k.box;
        drive.bPhysicalBay = k.bay;
        EXPECT_EQ(Location(1, kPhysicalDriveLocationComplete), k.expected);
    }
}

TEST_F(PhysicalDevices, LocationPortNamePrecedence) {
    auto& r = Add(1);
    std::memcpy(r.sLongConnectorName, "CN0     ", 8);
    std::memcpy(r.sLongConnectorName + 8, "  CN1   ", 8);
    std::memcpy(r.bLongBoxConnectorName, "BOXCONN1", 8);
    r.bActivePathNumber = 1;
    EXPECT_EQ(Location(1, kPhysicalDriveLocationComplete), "1I:1:3"); // neither long name supported
    c()->sense_feature.page_connectivity.bFlags = 0x08;                 // long connector names
    EXPECT_EQ(Location(1, kPhysicalDriveLocationComplete), "CN1:1:3");
    // An active path past the eight names falls back to the short port, with a line.
    r.bActivePathNumber = 9;
    EXPECT_EQ(Location(1, kPhysicalDriveLocationComplete), "1I:1:3");
    EXPECT_EQ(log_.Count("Invalid active path index (9)"), 1u);
    c()->sense_feature.page_connectivity.bFlags2 = 0x01; // long box connector name wins
    r.bPhysicalBox = r.bPhysicalBay = 0xFF;
    EXPECT_EQ(Location(1, kPhysicalDriveLocationComplete, 25), "BOXCONN1:Unknown:Unknown");
    std::memset(r.bLongBoxConnectorName, ' ', 8); // blank: the short port again
    EXPECT_EQ(Location(1, kPhysicalDriveLocationPort), "1I");
}

TEST_F(PhysicalDevices, PathNames) {
    auto& r = Add(1);
    r.bRedundantPathPresentMap = 0x03;
    std::memcpy(r.sMultiPathPort, "1I2E", 4);
    r.bMultiPathBox[0] = 1;
    r.bMultiPathBox[1] = 0xFF;
    std::memcpy(r.sLongConnectorName + 8, "EXT-A   ", 8);
    char buffer[32];
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 0, kPhysicalDevicePathNameComplete, buffer, 25), "1I:1:3");
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 1, kPhysicalDevicePathNameComplete, buffer, 25),
                 "2E:Unknown:3");
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 2, kPhysicalDevicePathNameComplete, buffer, 25), "");
    c()->sense_feature.page_connectivity.bFlags = 0x08;
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 1, kPhysicalDevicePathNamePort, buffer, 9), "EXT-A");
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 0, kPhysicalDevicePathNamePort, buffer, 9), "1I");
    EXPECT_STREQ(VK_GetPhysicalDevicePathName(cda(), 1, 0, kPhysicalDevicePathNameBox, buffer, 7), "");
    EXPECT_EQ(VK_GetPhysicalDevicePathName(cda(), 1, 0, 1, nullptr, 25), nullptr);
    EXPECT_EQ(log_.Count("Invalid buffer for device path"), 1u);
}

TEST_F(PhysicalDevices, ConnectorLocationAndEnclosure) {
    auto& r = Add(1);
    r.bBoxIndex = 7;
    EXPECT_EQ(VK_GetPhysicalDeviceConnectorLocation(cda(), 1), kPhysicalDeviceConnectorLocationInternal);
    r.bMoreDeviceFlags = 0x10;
    EXPECT_EQ(VK_GetPhysicalDeviceConnectorLocation(cda(), 1), kPhysicalDeviceConnectorLocationExternal);
    EXPECT_EQ(VK_GetPhysicalDeviceConnectorLocation(cda(), 2), kPhysicalDeviceConnectorLocationUnknown);
    EXPECT_EQ(VK_GetPhysicalDeviceStorageEnclosureNumber(cda(), 1), 7);
    EXPECT_EQ(VK_GetPhysicalDeviceStorageEnclosureNumber(cda(), 2), kInvalidSENumber);
}

TEST_F(PhysicalDevices, AggregateSpeedOfAnUnknownTypeIsZero) {
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(cda(), 0, 3), 0u);
    EXPECT_EQ(VK_GetConnectorAggregateSpeedGbps(nullptr, 0, 3), 0u);
}

} // namespace
