// Drive status words, statistics, OEM data, live erase progress, erase patterns, enclosures and
// bootable drives against a simulated controller inventory, with what each call sends, from the
// request log.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "pavl_platform_private.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::FirmwareState;
using Words = std::vector<VK_WORD>;
using Cdbs = std::vector<std::vector<VK_BYTE>>;

constexpr VK_DWORD kFailedExcluded = 0x4 | 3;

class DriveStatusHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    std::vector<int> OpcodesSince() {
        std::vector<int> out = Opcodes();
        host().clear_requests();
        return out;
    }

    Words Walk(VK_WORD (*next)(PCDA, VK_WORD)) {
        Words out;
        for (VK_WORD n = next(cda(), 0xFFFF); n != 0xFFFF && out.size() < 400; n = next(cda(), n)) {
            out.push_back(n);
        }
        return out;
    }
};

// Drives in each condition the status word reports, two recovering logical drives and a SEP.
FirmwareState ConditionInventory() {
    FirmwareState st;
    st.add_drive(0, 2);
    auto& removed = st.add_drive(1, 2);
    removed.device_flags = 0x00;
    removed.last_failure_reason = 0x14;
    removed.unsupported_reason = 0x0004; // read only when the word says unsupported
    auto& predicted = st.add_drive(2, 2);
    predicted.device_flags = 0x00;
    predicted.last_failure_reason = 0x37;
    auto& old_firmware = st.add_drive(3, 2);
    old_firmware.firmware = "1.02";
    old_firmware.min_firmware = "1.10";
    auto& big_blocks = st.add_drive(4, 2);
    big_blocks.block_size = 4096;
    big_blocks.unsupported_reason = 0x0001;
    st.add_drive(5, 2);
    st.fail_device(0x15, 5, 1, 0);
    for (VK_WORD n : {6, 7, 8, 300, 9, 10, 11}) {
        st.add_drive(n, 2);
    }
    // Drive 300 is named only in the 16-bit field; drive 7 waits in the replacement map.
    auto& named = st.add_configured_drive(0, {6, 7, 8, 300}, 1 << 20);
    named.fault_tolerance = 3;
    named.unit_status = 5;
    named.rebuilding_drive = 300;
    named.replacements = {7};
    // No drive named: the percentage table decides.
    auto& by_table = st.add_configured_drive(1, {9, 10, 11}, 1 << 20);
    by_table.fault_tolerance = 3;
    by_table.unit_status = 5;
    by_table.rebuilding_drive = 0xFFFF;
    by_table.rebuild_percent = {{10, 40}, {11, 100}};
    // A SEP has no block size, which alone makes it unsupported for configuration; a device of a
    // drive's type that says it is no disk has nothing to report.
    st.add_drive(64, 6);
    st.add_drive(65, 2).device_flags = 0x02;
    return st;
}

TEST_F(DriveStatusHost, StatusWordsOfEachConditionFromTheControllersReplies) {
    ASSERT_NO_FATAL_FAILURE(Start(ConditionInventory()));
    const std::map<VK_WORD, VK_DWORD> words = {
        {0, 0},
        {1, 0x400000 | kFailedExcluded},
        {2, 0x200 | kFailedExcluded},
        {3, 0x10000 | 1},
        {4, 0x80000 | 0x4 | 1},
        {5, 0x100 | kFailedExcluded},
        {6, 0},
        {7, 0x200000 | 1},
        {8, 0},
        {300, 0x100000 | 1},
        {9, 0},
        {10, 0x100000 | 1},
        {11, 0},
        {64, 0x80000 | 0x4 | 1},
        {65, 0},
        {400, 0x100 | kFailedExcluded},
    };
    for (const auto& [drive, word] : words) {
        EXPECT_EQ(VK_GetPhysicalDriveStatusInfo(cda(), drive), word) << drive;
    }
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 1), kPhysicalDriveHealthCritical);
    EXPECT_EQ(VK_GetPhysicalDriveHealth(cda(), 3), kPhysicalDriveHealthOK);
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 1), 0x14);
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 64), 0x0100); // not a drive
    EXPECT_EQ(VK_GetPhysicalDriveLastFailureReason(cda(), 5), 0x0200);  // its record cannot be read
    EXPECT_EQ(VK_GetPhysicalDriveUnsupportedReasons(cda(), 4), kPhysicalDriveUnsupportedReasonsFormat);
    EXPECT_EQ(VK_GetPhysicalDriveUnsupportedReasons(cda(), 1), 0);
}

// Stamped drives with statistics of their own; drive 44 is drive 300's low byte.
FirmwareState StatisticsInventory() {
    FirmwareState st;
    for (VK_WORD n : {0, 1, 2, 44, 300}) {
        auto& d = st.add_drive(n, 2);
        d.stamped = 1;
        d.mnp.reference_minutes = 600 + n;
        d.mnp.sectors_read = 0x100000000ULL + n;
        d.mnp.media_failures = static_cast<std::uint16_t>(n);
        d.mnp.predictive_failures = 0x10000u + n;
    }
    st.find_drive(1)->stamped = 0;
    st.find_drive(2)->device_flags = 0x00;
    return st;
}

TEST_F(DriveStatusHost, StatisticsAddressTheWholeDriveNumberAndAreGatedByItsState) {
    ASSERT_NO_FATAL_FAILURE(Start(StatisticsInventory()));
    for (VK_WORD drive : {0, 1, 2, 44, 300}) {
        VK_GetPhysicalDriveStatusInfo(cda(), drive); // the records the gate reads, once
    }
    MNP_STATISTICS stats;
    for (VK_WORD drive : {300, 44}) {
        SCOPED_TRACE(drive);
        host().clear_requests();
        ASSERT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), drive, &stats), kGetPhysicalDriveMNPStatisticsSuccess);
        EXPECT_EQ(stats.media_failures, drive);
        EXPECT_EQ(stats.sectors_read, 0x100000000ULL + drive);
        EXPECT_EQ(stats.predictive_failures, 0x10000u + drive);
        EXPECT_EQ(stats.reference_hours, (600u + drive) / 60);
        const Cdbs sent = SentCdbs();
        ASSERT_EQ(sent.size(), 1u);
        const std::vector<VK_BYTE>& cdb = sent[0];
        EXPECT_EQ(cdb[0], 0x26);
        EXPECT_EQ(cdb[6], 0xA0);
        EXPECT_EQ(cdb[2], drive & 0xFF);
        EXPECT_EQ(cdb[4], 0x02);
        EXPECT_EQ(cdb[9], drive >> 8);
        EXPECT_EQ(cdb[1], 0);
    }
    host().clear_requests();
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 1, &stats), kGetPhysicalDriveMNPStatisticsUnsupportedPD);
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 2, &stats), kGetPhysicalDriveMNPStatisticsNotOKState);
    EXPECT_TRUE(SentCdbs().empty()) << "refused drives must not be asked";
}

TEST_F(DriveStatusHost, StatisticsOrOEMDataThatFailToReadReturnNothing) {
    FirmwareState st = StatisticsInventory();
    st.set_page("drive", {0x08, 0xC8, 0x03}); // OEM drive data offered
    st.set_page("manufacturing_data", {0x01});
    st.manufacturing.oem_id = 1;
    for (VK_WORD n : {0, 300}) {
        st.find_drive(n)->oem_id = 1;
        st.find_drive(n)->oem_data = {0xDA, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
    }
    st.fail_device(0xA0, 0, 1, 0);
    st.fail_device(0x84, 0, 1, 0);
    ASSERT_NO_FATAL_FAILURE(Start(st));
    MNP_STATISTICS stats;
    EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 0, &stats), kGetPhysicalDriveMNPStatisticsFailed);
    VK_BYTE type = 0xEE;
    EXPECT_EQ(VK_GetPhysicalDriveOEMExtendedData(cda(), 0, &type), nullptr);
    EXPECT_EQ(type, 0xEE);

    host().clear_requests();
    const VK_UINT64 allocated = _VK_curr_alloc;
    auto* data = static_cast<VK_BYTE*>(VK_GetPhysicalDriveOEMExtendedData(cda(), 300, &type));
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(type, 1);
    EXPECT_EQ(data[0], 0xDA);
    EXPECT_EQ(data[1], 300 & 0xFF);
    EXPECT_EQ(data[2], 300 >> 8);
    VK_free(data);
    EXPECT_EQ(_VK_curr_alloc, allocated);
    const std::vector<BmicCdb> sent = Received();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].opcode, 0x84);
    EXPECT_EQ(sent[0].detail, (300u & 0xFF) << 24 | 1);
    EXPECT_EQ(sent[0].lun(), 300 & 0xFF00);
}

TEST_F(DriveStatusHost, LiveEraseProgressReadsAFreshReplyEachCall) {
    FirmwareState st;
    st.add_drive(0, 2);
    st.add_drive(12, 2).extra_device_flags = 0x10;
    st.add_drive(13, 2).extra_device_flags = 0x10;
    st.add_drive(14, 2).extra_device_flags = 0x10;
    st.erase.drives = {{12, 2 | 37 << 8}, {13, 1}, {14, 3}};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    const std::map<VK_WORD, VK_BYTE> percents = {{12, 37}, {13, 0}, {14, 100}, {0, 101}};
    for (const auto& [drive, percent] : percents) {
        EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), drive), percent) << drive;
    }
    host().clear_requests();
    EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), 12), 37);
    const std::vector<int> first = OpcodesSince();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.front(), 0x15);
    EXPECT_EQ(first.back(), 0xE5);
    fw_->fw_state().erase.drives[0].state = 2 | 38 << 8;
    EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), 12), 38);
    EXPECT_EQ(OpcodesSince(), first);
    // A drive that is not erasing is asked only for its record.
    EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), 0), 101);
    EXPECT_EQ(OpcodesSince(), std::vector<int>{0x15});
}

TEST_F(DriveStatusHost, LiveEraseProgressOfAnEntryOutsideTheReplyIsUnknown) {
    FirmwareState st;
    st.add_drive(12, 2).extra_device_flags = 0x10;
    st.erase.drives = {{12, 3}};
    st.patches.push_back({.opcode = 0xE5, .function = {}, .offset = 0, .bytes = {0x00, 0xF0, 0x00, 0x00}});
    ASSERT_NO_FATAL_FAILURE(Start(st));
    const VK_UINT64 allocated = _VK_curr_alloc;
    EXPECT_EQ(VK_GetPhysicalDriveEraseProgressLive(cda(), 12), 101);
    EXPECT_EQ(_VK_curr_alloc, allocated);
}

TEST_F(DriveStatusHost, StatusWordsAndFlagSetsAfterAFullWalkSendNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(StatisticsInventory()));
    VK_WORD n;
    Words drives;
    FOREACH_PHYSICAL_DRIVE(cda(), n) {
        drives.push_back(n);
        VK_GetPhysicalDriveStatusInfo(cda(), n);
    }
    ASSERT_EQ(drives, (Words{0, 1, 2, 44, 300}));
    host().clear_requests();
    for (VK_WORD drive : drives) {
        VK_GetPhysicalDriveStatusInfo(cda(), drive);
        VK_GetPhysicalDriveHealth(cda(), drive);
        void* flags = VK_GetPhysicalDriveFlagsInfo(cda(), drive);
        ASSERT_NE(flags, nullptr);
        EXPECT_EQ(VK_IsPhysicalDriveFlagSet(flags, PDF_StampedForMNP), drive == 1 ? kFalse : kTrue);
        VK_DestroyPhysicalDriveFlagsInfo(flags);
    }
    EXPECT_TRUE(SentCdbs().empty());
    // Statistics are not cached: one read per call.
    MNP_STATISTICS stats;
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(VK_GetPhysicalDriveMNPStatistics(cda(), 0, &stats), kGetPhysicalDriveMNPStatisticsSuccess);
        EXPECT_EQ(OpcodesSince(), std::vector<int>{0xA0});
    }
}

// ---- Erase patterns by connector mode -------------------------------------------------------------

// A controller whose connector 0 carries drive 0 (sanitize bits 0x15) and drive 1 (0x95); `hba` puts
// that connector in HBA mode.
FirmwareState EraseController(bool pages, bool hba) {
    FirmwareState st;
    if (pages) {
        st.identify.extra_flags |= 0x1000; // modes per connector
        st.subsystem.connectors.at(0).mode = hba ? 1 : 0;
    } else {
        st.feature_pages.clear();
        st.identify.even_more_flags = 0;
        st.identify.yet_more_flags |= 0x02000000; // HBA mode offered
        st.identify.features_supported[0] |= 0x01; // erase
        st.parameters.nvram_flags = hba ? 0x08 : 0x00;
    }
    for (VK_WORD n : {0, 1}) {
        auto& d = st.add_drive(n, 2);
        d.port = st.subsystem.connectors.at(0).short_name;
        d.connector_info = {st.subsystem.connectors.at(0).number, 0xFF, 0xFF, 0xFF};
        d.sanitize_erase_support = n == 0 ? 0x15 : 0x95;
    }
    auto& lost = st.add_drive(2, 2); // names no connector the controller has
    lost.port = "9Z";
    lost.sanitize_erase_support = 0x15;
    return st;
}

TEST_F(DriveStatusHost, ErasePatternsFollowTheConnectorsMode) {
    constexpr VK_WORD kOverwrite = 0x0007;
    constexpr VK_WORD kSanitize15 = 0x0008 | 0x0010 | 0x0080 | 0x0100;
    struct Case {
        const char* name;
        bool pages, hba;
        Bytes erase_page; // empty: the controller's own
        VK_WORD drive0, drive1;
    } const cases[] = {
        {"no pages, RAID-mode connector", false, false, {}, kOverwrite, kOverwrite},
        {"no pages, HBA-mode connector: RAID-mode connectors only", false, true, {}, 0, 0},
        {"erase page allows every mode, RAID", true, false, {}, kOverwrite | kSanitize15, kOverwrite},
        {"erase page allows every mode, HBA", true, true, {}, kOverwrite | kSanitize15, kOverwrite},
        {"erase page allows HBA for sanitize only", true, true, {0x01, 0x02, 0x00}, kSanitize15, 0},
        {"erase page allows RAID only, HBA", true, true, {0x01, 0x01, 0x00}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = EraseController(c.pages, c.hba);
        if (!c.erase_page.empty()) {
            st.set_page("background_erase", c.erase_page);
        }
        ASSERT_NO_FATAL_FAILURE(Start(st));
        EXPECT_EQ(VK_PhysicalDriveSupportsErasePattern(cda(), 0), c.drive0);
        EXPECT_EQ(VK_PhysicalDriveSupportsErasePattern(cda(), 1), c.drive1);
        EXPECT_EQ(VK_PhysicalDriveSupportsErasePattern(cda(), 2), 0) << "connector unknown";
        StopController();
    }
}

TEST_F(DriveStatusHost, ConnectorModesAnyConnectorSupports) {
    FirmwareState st;
    st.identify.extra_flags |= 0x1000;
    for (auto& connector : st.subsystem.connectors) {
        connector.mode_support = 0x01; // RAID only
    }
    st.subsystem.connectors.back().mode_support = 0x01 | 0x04;
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_TRUE(_VK_AnyConnectorSupportsOperatingMode(cda(), kConnectorModeRAID));
    EXPECT_FALSE(_VK_AnyConnectorSupportsOperatingMode(cda(), kConnectorModeHBA));
    EXPECT_TRUE(_VK_AnyConnectorSupportsOperatingMode(cda(), kConnectorModeMixed));
    EXPECT_FALSE(_VK_AnyConnectorSupportsOperatingMode(cda(), kConnectorModeUnknown));
}

// ---- Bootable drives ------------------------------------------------------------------------------

FirmwareState BootInventory(bool mixed) {
    FirmwareState st;
    if (mixed) {
        st.identify.extra_flags |= 0x1000;
    }
    auto exposed = [&st](VK_WORD n) -> qvsim::FwDrive& {
        auto& d = st.add_drive(n, 2);
        d.misc_drive_flags = 0x4100;
        return d;
    };
    exposed(0);
    exposed(1).unique_id = std::array<std::uint8_t, 16>{};
    st.add_drive(2, 2);
    exposed(3).extra_device_flags = 0x10; // offline for an erase
    exposed(4).more_device_flags = 0x01 | 0x04 | 0x08; // predictive failure: level 2
    exposed(5);
    exposed(6).device_flags = 0x00; // failed, level 3, still exposed
    return st;
}

TEST_F(DriveStatusHost, BootableDrivesOnlyOnAMixedModeController) {
    ASSERT_NO_FATAL_FAILURE(Start(BootInventory(true)));
    ASSERT_EQ(VK_ControllerSupportsMixedMode(cda()), kTrue);
    EXPECT_EQ(Walk(VK_EnumerateControllerBootablePhysicalDrives), (Words{0, 5, 6}));
    StopController();

    ASSERT_NO_FATAL_FAILURE(Start(BootInventory(false)));
    ASSERT_EQ(VK_ControllerSupportsMixedMode(cda()), kFalse);
    host().clear_requests();
    EXPECT_TRUE(Walk(VK_EnumerateControllerBootablePhysicalDrives).empty());
}

// ---- Enclosures, SEPs and expanders ---------------------------------------------------------------

FirmwareState EnclosureInventory() {
    FirmwareState st;
    for (VK_WORD n : {0, 1, 2}) {
        st.add_drive(n, 2);
    }
    st.add_drive(40, 6);
    st.add_drive(41, 6);
    st.add_drive(42, 5);
    st.add_drive(43, 8); // SMP target
    auto& ubm = st.add_enclosure(0);
    ubm.physical_box = 1;
    ubm.installed = {0, 1, 2};
    ubm.seps = {{40, 7}, {41, 7}};
    ubm.expanders = {42};
    ubm.expander_count = 1;
    ubm.connection_flags = 0x3;
    ubm.ubm_version_major = 2;
    ubm.ubm_version_minor = 5;
    ubm.ubm_product = "UBM SIM";
    auto& sgpio = st.add_enclosure(1);
    sgpio.physical_box = 2;
    sgpio.seps = {{41, 1}};
    sgpio.connection_flags = 0x1;
    return st;
}

TEST_F(DriveStatusHost, EnclosureSEPsExpandersAndUBMFromTheControllersRecords) {
    ASSERT_NO_FATAL_FAILURE(Start(EnclosureInventory()));
    EXPECT_EQ(Walk(VK_EnumerateControllerSEPs), (Words{40, 41}));
    EXPECT_EQ(Walk(VK_EnumerateControllerExpanders), (Words{42}));
    EXPECT_EQ(Walk(VK_EnumerateControllerStorageEnclosures), (Words{0, 1}));

    auto walk = [this](VK_WORD (*next)(PCDA, VK_WORD, VK_WORD), VK_WORD se) {
        Words out;
        for (VK_WORD n = next(cda(), se, 0xFFFF); n != 0xFFFF && out.size() < 400; n = next(cda(), se, n)) {
            out.push_back(n);
        }
        return out;
    };
    EXPECT_EQ(walk(VK_EnumerateStorageEnclosureSEPs, 0), (Words{40, 41}));
    EXPECT_EQ(VK_EnumerateStorageEnclosureSEPs(cda(), 0, 7), 0xFFFF);
    EXPECT_EQ(walk(VK_EnumerateStorageEnclosureExpanders, 0), (Words{42}));
    EXPECT_EQ(walk(VK_EnumerateStorageEnclosurePhysicalDrives, 0), (Words{0, 1, 2}));
    EXPECT_EQ(VK_GetStorageEnclosureDeviceCount(cda(), 0, kSEDeviceTypeSEP), 2);

    EXPECT_EQ(VK_GetStorageEnclosureBackplaneInterfaceType(cda(), 0), kStorageEnclosureBackplaneInterfaceTypeUBM);
    EXPECT_EQ(VK_GetStorageEnclosureLocation(cda(), 0), kGetStorageEnclosureLocationInternal);
    EXPECT_EQ(VK_GetUBMBackplaneNumber(cda(), 0), 1);
    EXPECT_EQ(VK_GetUBMBackplaneVersionNumber(cda(), 0), 0x0205u);
    char text[64];
    EXPECT_STREQ(VK_GetUBMBackplaneVersion(cda(), 0, text, sizeof(text)), "2.05");
    EXPECT_STREQ(VK_GetUBMBackplaneProductString(cda(), 0, text, sizeof(text)), "UBM SIM");

    EXPECT_EQ(VK_GetStorageEnclosureBackplaneInterfaceType(cda(), 1),
              kStorageEnclosureBackplaneInterfaceTypeDirectSGPIO);
    EXPECT_EQ(VK_GetStorageEnclosureLocation(cda(), 1), kGetStorageEnclosureLocationExternal);
    EXPECT_EQ(VK_GetUBMBackplaneNumber(cda(), 1), kGetUBMBackplaneNumberNotUBMBackplane);
    EXPECT_EQ(VK_GetUBMBackplaneVersionNumber(cda(), 1), kGetUBMBackplaneVersionNumberNotUBMBackplane);
    EXPECT_STREQ(VK_GetStorageEnclosureProductID(cda(), 0, text, 16), "");
    EXPECT_STREQ(VK_GetStorageEnclosureProductID(cda(), 0, text, 17), "SIM BAY 8");
}

} // namespace
