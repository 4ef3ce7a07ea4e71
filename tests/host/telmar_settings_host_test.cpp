// Controller settings on a simulated controller: which getters need logical drives, the codes the
// operating parameters give, the drive write-cache policy by connector modes, the controller clock,
// and the boot volumes found by their ids.
#include <array>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ptelm.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_cda_writeback.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;

class SettingsHost : public telmar_host::ControllerHost {
protected:
    static FirmwareState WithLogicalDrive() {
        FirmwareState state;
        for (std::uint16_t d = 0; d < 4; ++d) {
            state.add_drive(d);
        }
        state.add_configured_drive(0, {0, 1, 2, 3}, 1000).fault_tolerance = 5;
        return state;
    }

    void Start(FirmwareState state) {
        StopController();
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
    }
};

TEST_F(SettingsHost, GatedGettersNeedLogicalDrivesOthersStillAnswer) {
    struct Getter {
        const char* name;
        std::function<VK_QWORD(PCDA)> get;
        VK_QWORD without_logical_drives; // nothing: the same answer as with them
        bool gated;
    };
    const Getter getters[] = {
        {"expand priority", VK_GetControllerExpandPriority, 0xFF, true},
        {"rebuild priority", VK_GetControllerRebuildPriority, 0xFF, true},
        {"rebuild rate", VK_GetControllerRebuildRatePercent, 0xFF, true},
        {"transformation rate", VK_GetControllerTransformationRatePercent, 0xFF, true},
        {"SAM", VK_GetControllerSAM, 0xFF, true},
        {"DPO", VK_GetControllerDPO, 0xFF, true},
        {"elevator sort", VK_GetControllerElevatorSort, 0xFF, true},
        {"queue depth", VK_GetControllerQueueDepth, 0xFF, true},
        {"FLS", VK_GetControllerFLS, 0xFF, true},
        {"WCBT", VK_GetControllerWCBT, 0, true},
        {"SSA priority", VK_GetControllerSSAPriority, 0xFFFF, true},
        {"MNP delay", VK_GetControllerMNPDelay, 0xFFFF, true},
        {"inconsistency event notification", VK_GetControllerInconsistencyEventNotification, 0, false},
        {"sanitize lock", VK_GetControllerSanitizeLock, 0, false},
        {"PCIe ordering", VK_GetControllerPCIeOrdering, 0, false},
        {"event log policy", VK_GetControllerPersistentEventLogPolicy, 0, false},
        {"wait for cache room", VK_GetControllerWaitForCacheRoom, 0, false},
    };
    ASSERT_NO_FATAL_FAILURE(Start(FirmwareState{}));
    std::vector<VK_QWORD> without;
    for (const Getter& g : getters) {
        without.push_back(g.get(cda()));
    }
    ASSERT_NO_FATAL_FAILURE(Start(WithLogicalDrive()));
    for (size_t i = 0; i < std::size(getters); ++i) {
        SCOPED_TRACE(getters[i].name);
        const VK_QWORD with = getters[i].get(cda());
        if (getters[i].gated) {
            EXPECT_EQ(without[i], getters[i].without_logical_drives);
            EXPECT_NE(with, getters[i].without_logical_drives);
        } else {
            EXPECT_EQ(without[i], with);
        }
    }
}

TEST_F(SettingsHost, OperatingParametersAsSettingCodes) {
    FirmwareState state = WithLogicalDrive();
    state.parameters.rebuild_priority = 64;
    state.parameters.expand_priority = 118;
    state.parameters.queue_depth = 64;
    state.parameters.sanitize_policy = 0x21;
    state.parameters.pcie_ordering = {1, 0};
    state.parameters.pcie_max_read_request = 3;
    state.parameters.pcie_mrrs_override = 0;
    state.parameters.wcbt = 0;
    state.set_page("io", {0x43}); // read request sizes
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerRebuildPriority(cda()), kControllerRebuildPriorityLow); // rapid rebuild
    EXPECT_EQ(VK_GetControllerExpandPriority(cda()), kControllerExpandPriorityHigh);
    EXPECT_EQ(VK_GetControllerTransformationRatePercent(cda()), 100);
    EXPECT_EQ(VK_GetControllerQueueDepth(cda()), kControllerQueueDepthAutomatic);
    EXPECT_EQ(VK_GetControllerSanitizeLock(cda()), 0x21);
    EXPECT_EQ(VK_GetControllerPCIeOrdering(cda()), 0x23);
    EXPECT_EQ(VK_GetControllerPendingMaxReadRequestSize(cda()), 512u);
    EXPECT_EQ(VK_GetControllerWCBT(cda()), 65u);

    // Without rapid rebuild 64 is medium; 59 is a rate of 50; 117 a transformation rate of 99.
    state.set_page("background", {0x47, 0x00, 0x00, 0x02});
    state.parameters.rebuild_priority = 59;
    state.parameters.expand_priority = 117;
    state.parameters.sanitize_policy = 0x05;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerRebuildPriority(cda()), kControllerRebuildPriorityMedium);
    EXPECT_EQ(VK_GetControllerRebuildRatePercent(cda()), 50);
    EXPECT_EQ(VK_GetControllerTransformationRatePercent(cda()), 99);
    EXPECT_EQ(VK_GetControllerSanitizeLock(cda()), 0x03);
}

TEST_F(SettingsHost, DriveWriteCachePolicyNeedsTheConnectorModesOfItsUsage) {
    struct Case {
        const char* name;
        std::uint8_t mode_support; // 0: every mode
        VK_BYTE configured, unconfigured, hba;
    };
    const Case cases[] = {
        {"every mode", 0, 1, 2, 1},
        {"RAID only", 0x01, 1, 0xFF, 0xFF},
        {"HBA only", 0x02, 0xFF, 0xFF, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState state = WithLogicalDrive();
        state.identify.extra_flags |= 0x1000; // modes per connector
        state.parameters.drive_write_cache_policy.fill(0x19); // configured 1, unconfigured 2, HBA 1
        for (auto& c : state.subsystem.connectors) {
            c.mode_support = k.mode_support;
        }
        ASSERT_NO_FATAL_FAILURE(Start(state));
        EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), kDriveWriteCacheDriveTypeSASHDD, 0), k.configured);
        EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), kDriveWriteCacheDriveTypeSATASSD, 1), k.unconfigured);
        EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), kDriveWriteCacheDriveTypeSASSSD, 2), k.hba);
        EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), 0, 3), 0xFF);
        EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), 6, 0), 0xFF);
        EXPECT_EQ(VK_GetControllerDriveWriteCache(cda()), k.configured == 1 ? kControllerDriveWriteCacheEnabled
                                                                             : kControllerDriveWriteCacheInvalid);
    }
    // One drive type disabled: the overall value is neither.
    FirmwareState state = WithLogicalDrive();
    state.parameters.drive_write_cache_policy = {0x02, 0x02, 0x02, 0x02, 0x01, 0x01};
    ASSERT_NO_FATAL_FAILURE(Start(state));
    const VK_BYTE nvme = VK_GetControllerDriveWriteCachePolicy(cda(), kDriveWriteCacheDriveTypeNVMESSD, 0);
    EXPECT_EQ(VK_GetControllerDriveWriteCache(cda()),
              nvme == 0xFF ? kControllerDriveWriteCacheDisabled : kControllerDriveWriteCacheInvalid);
    // Unchanged (3) is reported only where the controller offers it.
    state.parameters.drive_write_cache_policy.fill(0x03);
    state.set_page("drive", {0x08, 0x48, 0x01});
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerDriveWriteCachePolicy(cda(), 0, 0), 0xFF);
}

TEST_F(SettingsHost, ControllerClockIsLocalTime) {
    FirmwareState state;
    state.parameters.rtc = {20, 23, 1, 17, 10, 30, 0};
    ASSERT_NO_FATAL_FAILURE(Start(state));
    struct tm t = {};
    t.tm_year = 123;
    t.tm_mon = 0;
    t.tm_mday = 17;
    t.tm_hour = 10;
    t.tm_min = 30;
    t.tm_isdst = -1;
    EXPECT_EQ(VK_GetControllerTime(cda()), static_cast<VK_INT64>(std::mktime(&t)));
    state.parameters.total_length = 255;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerTime(cda()), -1);
}

TEST_F(SettingsHost, BootVolumesAreFoundByTheirIds) {
    const std::array<std::uint8_t, 16> ld_id{0x60, 0x0D, 0x1A, 0x00, 0x11, 0x22, 0x33, 0x44,
                                             0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
    const std::array<std::uint8_t, 16> remote_id{0x60, 0x0D, 0x1A, 0x00, 0x55, 0x66, 0x77, 0x88,
                                                 0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71};
    FirmwareState state = WithLogicalDrive();
    state.identify.yet_more_flags |= 0x10000000; // boot volumes
    state.add_configured_drive(1, {0, 1, 2, 3}, 1000, 1000).fault_tolerance = 5;
    state.logical_drives.back().page83_id = ld_id;
    state.add_logical_drive(0);
    state.add_logical_drive(1);
    state.add_logical_drive(7, true).unique_id = {0x60, 0x0D, 0x1A, 0x00, 0x01};
    state.add_logical_drive(8, true).unique_id = remote_id;
    state.parameters.primary_boot_lun = ld_id;
    state.parameters.secondary_boot_lun = remote_id;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary,
                                               kBootableVolumeDriveTypeLogical),
              1);
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedenceSecondary,
                                               kBootableVolumeDriveTypeRemote),
              1);
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedenceSecondary,
                                               kBootableVolumeDriveTypeLogical),
              0xFFFF);
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary,
                                               kBootableVolumeDriveTypePhysical),
              0xFFFF);
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary, 3), 0xFFFF);
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 1), kBootableVolumePrecedencePrimary);
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 0), kBootableVolumePrecedenceNone);
    EXPECT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 0), kBootableVolumePrecedenceNone); // not bootable

    state.parameters.secondary_boot_lun = ld_id;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 1), kBootableVolumePrecedenceAll);

    // No boot volume named: an empty id matches no volume, not even one whose id cannot be read.
    state.parameters.primary_boot_lun = {};
    state.identify.yet_more_flags &= ~0x10000000u;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary,
                                               kBootableVolumeDriveTypeLogical),
              0xFFFF);
    EXPECT_EQ(_VK_GetLogicalDriveNumberFromID(cda(), ""), 0xFFFF);
    EXPECT_EQ(_VK_GetRemoteVolumeNumberFromID(cda(), nullptr), 0xFFFF);
}

TEST_F(SettingsHost, ReadCachePercentIsKeptOnlyWhenValid) {
    struct Case {
        const char* name;
        std::uint16_t total, read, write, nbb;
        std::uint8_t shift, flags;
        VK_BYTE expected;
    };
    const Case cases[] = {
        {"37.5 percent", 1024, 384, 640, 0, 0, 0x02, 40},
        {"25 percent", 1024, 256, 768, 0, 0, 0x02, 25},
        // NBWC disabled with a maximum write share of 72: 10 is lifted to 30.
        {"NBWC minimum", 1000, 100, 900, 280, 0, 0x00, 30},
        {"sizes that do not add up", 1024, 384, 600, 0, 0, 0x02, 0xFF},
        {"shift of 40", 1024, 384, 640, 0, 40, 0x02, 0xFF},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState state = WithLogicalDrive();
        state.cache.total_memory = k.total;
        state.cache.read_cache_size = k.read;
        state.cache.write_cache_size = k.write;
        state.cache.non_battery_backed = k.nbb;
        state.cache.memory_shift = k.shift;
        state.cache.configuration_flags = k.flags;
        ASSERT_NO_FATAL_FAILURE(Start(state));
        EXPECT_EQ(VK_GetControllerReadCachePercent(cda()), k.expected);
        const bool kept = (_VK_CDA(cda())->flags[kCDAFlagsReadCachePercent] & kCDAValidReadCachePercent) != 0;
        EXPECT_EQ(kept, k.expected != 0xFF);
        EXPECT_EQ(VK_GetControllerReadCachePercent(cda()), k.expected);
    }
}

TEST_F(SettingsHost, PreviousReadPercentNeedsANonZeroTotal) {
    FirmwareState state = WithLogicalDrive();
    state.set_page("cache_ratio", {0x01});
    state.cache.cache_flags = 0x80000000;
    state.cache.overridden_read = 256;
    state.cache.overridden_write = 768;
    state.cache.total_memory = 1024;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerPreviousReadCachePercent(cda()), 25);
    // Both overridden sizes 0 "add up" to a total of 0.
    state.cache.overridden_read = 0;
    state.cache.overridden_write = 0;
    state.cache.total_memory = 0;
    state.cache.read_cache_size = 0;
    state.cache.write_cache_size = 0;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerPreviousReadCachePercent(cda()), 0xFF);
    // Without the marker the current percent answers: 400 of 1000, not the overridden sizes' share.
    state = WithLogicalDrive();
    state.set_page("cache_ratio", {0x01});
    state.cache.total_memory = 1000;
    state.cache.read_cache_size = 400;
    state.cache.write_cache_size = 600;
    state.cache.overridden_read = 700;
    state.cache.overridden_write = 300;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetControllerPreviousReadCachePercent(cda()), 40);
    EXPECT_EQ(VK_GetControllerReadCachePercent(cda()), 40);
}

TEST_F(SettingsHost, SurfaceScanAndMNPDelays) {
    struct Case {
        std::uint16_t delay, mnp;
        VK_BYTE rate;
        VK_WORD mnp_read;
    };
    for (const Case& k : {Case{0xFFFF, 1441, 1, 0xFFFF}, Case{301, 1440, 1, 1440}, Case{150, 0, 50, 0}}) {
        SCOPED_TRACE(k.delay);
        FirmwareState state = WithLogicalDrive();
        state.surface.delay = k.delay;
        state.mnp_delay = k.mnp;
        ASSERT_NO_FATAL_FAILURE(Start(state));
        EXPECT_EQ(VK_GetControllerSSAPriority(cda()), k.delay);
        EXPECT_EQ(VK_GetControllerSSARatePercent(cda()), k.rate);
        EXPECT_EQ(VK_GetControllerMNPDelay(cda()), k.mnp_read);
    }
}

// A controller of the SIS type without feature pages: its out-of-band support is taken from the
// type, so the I2C address is read from the controller.
TEST_F(SettingsHost, I2CAddressOnASisControllerWithoutPages) {
    FirmwareState state;
    state.feature_pages.clear();
    state.identify.even_more_flags &= ~0x80000000u;
    state.i2c_slave_address = 0x70;
    qvsim::Scenario s;
    auto& sis = s.add_sis("xovraid", "0000:86:00.0", 4);
    sis.sis.supported_options = 0x10000;
    fw_ = std::make_shared<qvsim::FwController>(std::move(state));
    sis.firmware = fw_;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    list_ = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
    ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
    controller_ = PN_GetDeviceListItemAt(it);
    PN_DestroyDeviceListIterator(it);
    memory_ = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    ASSERT_EQ(Initialize(), kInitializeSucceeded);
    EXPECT_EQ(VK_GetControllerOOBInterfaces(cda()), 1);
    EXPECT_EQ(VK_GetControllerI2CAddress(cda()), 0x70);
}

} // namespace
