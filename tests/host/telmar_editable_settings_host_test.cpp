// Staged controller settings against a simulated controller: the Can table of each setting with its
// order of reasons, the rate percentages and their read-back, the staged boot volumes, the spare
// activation mode, the drive write cache in both models, the cache settings, and an edit session
// that stages several settings without sending a write.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ppavl_debug.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;

constexpr std::uint32_t kReserved = 32768;

// Drives 0-5; logical drive 0 (RAID 0) on drives 0 and 1 unless `logical_drives` is false; drives 2-5
// unassigned. Boot volumes, WCBT and a configurable survival mode are offered.
FirmwareState Base(bool logical_drives = true) {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.reserved_blocks = kReserved;
        d.total_blocks = (1u << 24) + 4096u * (6 - pd) + kReserved;
        d.block_size = 512;
    }
    st.identify.yet_more_flags |= 0x10000000;            // boot volumes
    st.set_page("cache", {0x1C});                         // WCBT
    st.set_page("power_management", {0x07, 0x03, 0x0F}); // survival mode configurable
    if (logical_drives) {
        st.add_configured_drive(0, {0, 1}, 1u << 20);
    }
    return st;
}

void Locked(FirmwareState& st) {
    st.set_page("encryption", {0x01});
    st.encryption.boot_password_status = 0x2;
}

void PermanentlyDisabledCache(FirmwareState& st, std::uint16_t code) {
    st.cache.cache_flags = 0x4;
    st.cache.disable_code = code;
}

// Modes per connector, every connector offering every mode.
void ModesPerConnector(FirmwareState& st) {
    st.identify.extra_flags |= 0x1000;
}

void PendingHBA(FirmwareState& st) {
    ModesPerConnector(st);
    st.parameters.connector_mode.fill(kConnectorModeHBA);
}

struct Row {
    const char* name;
    std::function<void(FirmwareState&)> firmware;
    std::function<void(EDITABLE_CONFIGURATION&)> staged;
    std::function<int(PCDA)> call;
    int expected;
    bool logical_drives = true;
};

class EditableSettingsHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
    }
    void StartStaged(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    }
    PEDITABLE_CONFIGURATION config() { return _VK_CDA(cda())->editable_configuration; }

    // Each row on a controller of its own: the firmware, then the staged state, then the call.
    void RunRows(const std::vector<Row>& rows) {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            FirmwareState st = Base(row.logical_drives);
            if (row.firmware) {
                row.firmware(st);
            }
            ASSERT_NO_FATAL_FAILURE(StartStaged(st));
            if (row.staged) {
                row.staged(*config());
            }
            EXPECT_EQ(row.call(cda()), row.expected);
            StopController();
        }
    }
};

// ---- Staged settings ----

TEST_F(EditableSettingsHost, StagedSettingReasonsInTheirOrder) {
    auto can = [](auto function, auto value) { return [=](PCDA c) { return int(function(c, value)); }; };
    auto off = [](const char* page, std::vector<std::uint8_t> bytes) {
        return [=](FirmwareState& st) { st.set_page(page, bytes); };
    };
    const std::vector<std::uint8_t> kNoPerformance = {0x12, 0x02, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00};
    std::vector<Row> rows = {
        // Boundaries.
        {"MNP delay 1440", {}, {}, can(VK_CanChangeEditableControllerMNPDelay, VK_WORD{1440}), 1},
        {"MNP delay 1441", {}, {}, can(VK_CanChangeEditableControllerMNPDelay, VK_WORD{1441}), 3},
        {"SSA 300", {}, {}, can(VK_CanChangeEditableControllerSSAPriority, VK_WORD{300}), 1},
        {"SSA 301", {}, {}, can(VK_CanChangeEditableControllerSSAPriority, VK_WORD{301}), 3},
        {"WCBT 0", {}, {}, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{0}), 3},
        {"WCBT 1", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_write_cache_bypass_threshold = 20; }, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{1}), 1},
        {"WCBT 65", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_write_cache_bypass_threshold = 20; }, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{65}), 1},
        {"WCBT 66", {}, {}, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{66}), 3},
        {"queue depth 5", {}, {}, can(VK_CanChangeEditableControllerQueueDepth, VK_BYTE{5}), 1},
        {"queue depth 6", {}, {}, can(VK_CanChangeEditableControllerQueueDepth, VK_BYTE{6}), 3},
        {"PSS 0", {}, {}, can(VK_CanChangeEditableControllerPSSCount, VK_BYTE{0}), 3},
        {"PSS at the controller maximum", [](FirmwareState& st) { st.surface.max_parallel = 6; },
         [](EDITABLE_CONFIGURATION& c) { c.controller_parallel_surface_scan_count = 2; },
         can(VK_CanChangeEditableControllerPSSCount, VK_BYTE{6}), 1},
        {"PSS past the controller maximum", [](FirmwareState& st) { st.surface.max_parallel = 6; }, {},
         can(VK_CanChangeEditableControllerPSSCount, VK_BYTE{7}), 3},
        {"rebuild medium-high without rapid rebuild", off("background", {0x47, 0x00, 0x00, 0x02}), {},
         can(VK_CanChangeEditableControllerRebuildPriority, VK_BYTE{2}), 4},
        {"rebuild 4", {}, {}, can(VK_CanChangeEditableControllerRebuildPriority, VK_BYTE{4}), 3},
        {"notify 1", {}, {}, can(VK_CanChangeEditableControllerNotifyOnAnyBroadcast, VK_BYTE{1}), 3},
        {"notify 3", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_notify_on_any_broadcast = 2; },
         can(VK_CanChangeEditableControllerNotifyOnAnyBroadcast, VK_BYTE{3}), 1},
        // Two reasons at once: the row's order decides.
        {"DPO unsupported and locked",
         [&](FirmwareState& st) {
             st.set_page("miscellaneous", kNoPerformance);
             Locked(st);
         },
         {}, can(VK_CanChangeEditableControllerDPO, VK_BYTE{0}), 6},
        {"DPO locked", Locked, {}, can(VK_CanChangeEditableControllerDPO, VK_BYTE{0}), 7},
        {"queue depth unsupported and unchanged", off("miscellaneous", kNoPerformance),
         [](EDITABLE_CONFIGURATION& c) { c.controller_max_drive_request_queue_depth = 3; },
         can(VK_CanChangeEditableControllerQueueDepth, VK_BYTE{3}), 5},
        {"queue depth unsupported", off("miscellaneous", kNoPerformance),
         [](EDITABLE_CONFIGURATION& c) { c.controller_max_drive_request_queue_depth = 3; },
         can(VK_CanChangeEditableControllerQueueDepth, VK_BYTE{4}), 6},
        {"WCBT invalid with the cache disabled", [](FirmwareState& st) { PermanentlyDisabledCache(st, 5); }, {},
         can(VK_CanChangeEditableControllerWCBT, VK_DWORD{0}), 3},
        {"WCBT unchanged with the cache disabled", [](FirmwareState& st) { PermanentlyDisabledCache(st, 5); },
         [](EDITABLE_CONFIGURATION& c) { c.controller_write_cache_bypass_threshold = 20; },
         can(VK_CanChangeEditableControllerWCBT, VK_DWORD{20}), 6},
        {"WCBT with the cache disabled", [](FirmwareState& st) { PermanentlyDisabledCache(st, 5); }, {},
         can(VK_CanChangeEditableControllerWCBT, VK_DWORD{20}), 7},
        {"WCBT with the cache disabled in state 26", [](FirmwareState& st) { PermanentlyDisabledCache(st, 26); },
         {}, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{20}), 1},
        {"WCBT unsupported and invalid", off("cache", {0x14}), {}, can(VK_CanChangeEditableControllerWCBT, VK_DWORD{0}),
         4},
        {"IRP invalid before unsupported", off("raid", {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), {},
         can(VK_CanChangeEditableControllerIRP, VK_BYTE{2}), 3},
        {"MNP unchanged before invalid", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_mnp_analysis_delay = 2000; },
         can(VK_CanChangeEditableControllerMNPDelay, VK_WORD{2000}), 5},
        {"elevator sort without logical drives", {}, {}, can(VK_CanChangeEditableControllerElevatorSort, VK_BYTE{1}),
         4, false},
        // Survival mode: no lock test and no logical-drive test.
        {"survival mode while locked", Locked, [](EDITABLE_CONFIGURATION& c) { c.controller_survival_mode = 0; },
         can(VK_CanChangeEditableControllerSurvivalPowerMode, VK_BYTE{1}), 1},
        {"survival mode without logical drives", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_survival_mode = 0; },
         can(VK_CanChangeEditableControllerSurvivalPowerMode, VK_BYTE{1}), 1, false},
        {"survival mode fixed", off("power_management", {0x07, 0x07, 0x0F}), {},
         can(VK_CanChangeEditableControllerSurvivalPowerMode, VK_BYTE{1}), 6},
        {"survival mode 2", {}, {}, can(VK_CanChangeEditableControllerSurvivalPowerMode, VK_BYTE{2}), 4},
        // Notify-on-any-broadcast and the sanitize lock have no logical-drive test.
        {"notify without logical drives", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_notify_on_any_broadcast = 2; },
         can(VK_CanChangeEditableControllerNotifyOnAnyBroadcast, VK_BYTE{3}), 1, false},
        {"notify unsupported", off("set_controller_params", {0x1D, 0x00, 0x00, 0x00}),
         [](EDITABLE_CONFIGURATION& c) { c.controller_notify_on_any_broadcast = 2; },
         can(VK_CanChangeEditableControllerNotifyOnAnyBroadcast, VK_BYTE{3}), 4},
        {"sanitize lock without logical drives", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_sanitize_lock = 0; },
         can(VK_CanChangeEditableControllerSanitizeLock, VK_BYTE{1}), 1, false},
        {"sanitize lock disabled with lock kinds", {}, [](EDITABLE_CONFIGURATION& c) { c.controller_sanitize_lock = 1; },
         can(VK_CanChangeEditableControllerSanitizeLock, VK_BYTE{0}), 1},
        {"sanitize lock disabled without lock kinds", off("background_erase", {0x07, 0x07, 0x00}),
         [](EDITABLE_CONFIGURATION& c) { c.controller_sanitize_lock = 1; },
         can(VK_CanChangeEditableControllerSanitizeLock, VK_BYTE{0}), 4},
        {"sanitize lock 3", {}, {}, can(VK_CanChangeEditableControllerSanitizeLock, VK_BYTE{3}), 3},
        // Expand priority on a software-RAID controller needs expansion memory.
        {"expand on software RAID without expansion memory",
         [](FirmwareState& st) {
             st.set_page("software_raid", {0x01});
             st.expansion.memory_kib = 0;
             st.expansion.support_flags = 0x0F;
         },
         [](EDITABLE_CONFIGURATION& c) { c.controller_transformation_priority = 1; },
         can(VK_CanChangeEditableControllerExpandPriority, VK_BYTE{2}), 6},
        {"expand on software RAID with expansion memory", [](FirmwareState& st) { st.set_page("software_raid", {0x01}); },
         [](EDITABLE_CONFIGURATION& c) { c.controller_transformation_priority = 1; },
         can(VK_CanChangeEditableControllerExpandPriority, VK_BYTE{2}), 1},
    };
    RunRows(rows);
}

TEST_F(EditableSettingsHost, WithoutAConfigurationGettersAnswerTheirUnknownValue) {
    ASSERT_NO_FATAL_FAILURE(Start(Base()));
    struct Getter {
        const char* name;
        VK_DWORD value;
        VK_DWORD expected;
        VK_BYTE can;
    };
    const Getter getters[] = {
        {"rebuild", VK_GetEditableControllerRebuildPriority(cda()), 0xFF, VK_CanChangeEditableControllerRebuildPriority(cda(), 1)},
        {"expand", VK_GetEditableControllerExpandPriority(cda()), 0xFF, VK_CanChangeEditableControllerExpandPriority(cda(), 1)},
        {"SSA", VK_GetEditableControllerSSAPriority(cda()), 0xFFFF, VK_CanChangeEditableControllerSSAPriority(cda(), 1)},
        {"PSS", VK_GetEditableControllerPSSCount(cda()), 0, VK_CanChangeEditableControllerPSSCount(cda(), 1)},
        {"DPO", VK_GetEditableControllerDPO(cda()), 0xFF, VK_CanChangeEditableControllerDPO(cda(), 1)},
        {"IRP", VK_GetEditableControllerIRP(cda()), 0xFF, VK_CanChangeEditableControllerIRP(cda(), 1)},
        {"IEN", VK_GetEditableControllerInconsistencyEventNotification(cda()), 0xFF,
         VK_CanChangeEditableControllerInconsistencyEventNotification(cda(), 1)},
        {"elevator", VK_GetEditableControllerElevatorSort(cda()), 0xFF, VK_CanChangeEditableControllerElevatorSort(cda(), 1)},
        {"queue", VK_GetEditableControllerQueueDepth(cda()), 0xFF, VK_CanChangeEditableControllerQueueDepth(cda(), 1)},
        {"FLS", VK_GetEditableControllerFLS(cda()), 0xFF, VK_CanChangeEditableControllerFLS(cda(), 1)},
        {"MNP", VK_GetEditableControllerMNPDelay(cda()), 0xFFFF, VK_CanChangeEditableControllerMNPDelay(cda(), 1)},
        {"survival", VK_GetEditableControllerSurvivalPowerMode(cda()), 0xFF,
         VK_CanChangeEditableControllerSurvivalPowerMode(cda(), 1)},
        {"WCBT", VK_GetEditableControllerWCBT(cda()), 0, VK_CanChangeEditableControllerWCBT(cda(), 1)},
        {"notify", VK_GetEditableControllerNotifyOnAnyBroadcast(cda()), 0,
         VK_CanChangeEditableControllerNotifyOnAnyBroadcast(cda(), 3)},
        {"sanitize", VK_GetEditableControllerSanitizeLock(cda()), 3, VK_CanChangeEditableControllerSanitizeLock(cda(), 1)},
        {"SAM", VK_GetEditableControllerSAM(cda()), 0xFF, VK_CanChangeEditableControllerSAM(cda(), 1)},
        {"write cache mode", VK_GetEditableControllerDriveWriteCacheMode(cda()), 0xFF,
         VK_CanChangeEditableControllerDriveWriteCacheMode(cda(), 1)},
        {"NBWC", VK_GetEditableControllerNBWC(cda()), 0xFF, VK_CanChangeEditableControllerNBWC(cda(), 1)},
        {"wait for cache room", VK_GetEditableControllerWaitForCacheRoom(cda()), 0xFF,
         VK_CanChangeEditableControllerWaitForCacheRoom(cda(), 1)},
        {"read cache", VK_GetEditableControllerReadCachePercent(cda()), 0xFF,
         VK_CanChangeEditableControllerReadCachePercent(cda(), 50)},
        {"boot volume", VK_GetEditableControllerBootVolume(cda(), 1, 0), 0xFFFF,
         VK_CanChangeEditableControllerBootVolume(cda(), 1, 0, 0)},
    };
    for (const Getter& g : getters) {
        SCOPED_TRACE(g.name);
        EXPECT_EQ(g.value, g.expected);
        EXPECT_EQ(g.can, 2);
    }
    EXPECT_EQ(VK_CanClearEditableControllerBootVolume(cda(), 1), 2);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0, 1), 2);
    EXPECT_FALSE(VK_ChangeEditableControllerDPO(cda(), 1));
    // The rate percentages answer 1 for no configuration, and 255 as their value.
    EXPECT_EQ(VK_GetEditableControllerRebuildRatePercent(cda()), 255);
    EXPECT_EQ(VK_GetEditableControllerExpandPercent(cda()), 255);
    EXPECT_EQ(VK_GetEditableControllerSSARatePercent(cda()), 255);
    EXPECT_EQ(VK_CanChangeEditableControllerRebuildPercent(cda(), 50), 1);
    EXPECT_EQ(VK_CanChangeEditableControllerExpandPercent(cda(), 50), 1);
    EXPECT_EQ(VK_CanChangeEditableControllerSSAPercent(cda(), 50), 1);
    EXPECT_EQ(VK_ChangeEditableControllerSSAPercent(cda(), 50), 1);
}

TEST_F(EditableSettingsHost, AChangeSetsExactlyItsDirtyBit) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    PEDITABLE_CONFIGURATION c = config();
    c->controller_rebuild_priority = 0;
    c->controller_surface_scan_priority = 10;
    c->controller_mnp_analysis_delay = 60;
    c->controller_survival_mode = 0;
    c->controller_read_cache_percent = 50;
    struct Change {
        const char* name;
        std::function<VK_BOOL(PCDA)> call;
        VK_DWORD bit;
    };
    const Change changes[] = {
        {"rebuild", [](PCDA p) { return VK_ChangeEditableControllerRebuildPriority(p, 3); }, 0x1},
        {"SSA", [](PCDA p) { return VK_ChangeEditableControllerSSAPriority(p, 151); }, 0x2},
        {"MNP", [](PCDA p) { return VK_ChangeEditableControllerMNPDelay(p, 1440); }, 0x4},
        {"survival", [](PCDA p) { return VK_ChangeEditableControllerSurvivalPowerMode(p, 1); }, 0x10},
        {"read cache", [](PCDA p) { return VK_ChangeEditableControllerReadCachePercent(p, 55); }, 0x8},
    };
    for (const Change& k : changes) {
        SCOPED_TRACE(k.name);
        c->flags = 0;
        EXPECT_TRUE(k.call(cda()));
        EXPECT_EQ(c->flags, k.bit);
        // The same value again: NoChange, FALSE, no bit.
        c->flags = 0;
        EXPECT_FALSE(k.call(cda()));
        EXPECT_EQ(c->flags, 0u);
    }
    EXPECT_EQ(c->controller_rebuild_priority, 3);
    EXPECT_EQ(c->controller_surface_scan_priority, 151);
    EXPECT_EQ(c->controller_mnp_analysis_delay, 1440);
    EXPECT_EQ(c->controller_survival_mode, 1);
    EXPECT_EQ(c->controller_read_cache_percent, 55);
    EXPECT_EQ(VK_CanChangeEditableControllerMNPDelay(cda(), 1440), kCanChangeEditableControllerMNPDelayNoChange);
}

// ---- Rate percentages ----

TEST_F(EditableSettingsHost, RatePercentagesStageAndReadBack) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    ASSERT_TRUE(VK_ControllerSupportsRapidRebuild(cda()));
    PEDITABLE_CONFIGURATION c = config();
    const struct {
        VK_BYTE percent;
        VK_BYTE priority;
    } rebuild[] = {{55, 0}, {56, 1}, {65, 2}, {100, 3}};
    for (const auto& k : rebuild) {
        SCOPED_TRACE(int(k.percent));
        c->controller_rebuild_priority = k.percent == 100 ? 0 : 3;
        c->flags = 0;
        EXPECT_EQ(VK_ChangeEditableControllerRebuildPercent(cda(), k.percent), 0);
        EXPECT_EQ(c->controller_rebuild_priority, k.priority);
        EXPECT_EQ(c->flags, kEditableConfigControllerParams);
    }
    // Medium-high reads back 64; 64 then converts to medium, but reads as no change.
    c->controller_rebuild_priority = 2;
    EXPECT_EQ(VK_GetEditableControllerRebuildRatePercent(cda()), 64);
    EXPECT_EQ(VK_CanChangeEditableControllerRebuildPercent(cda(), 64), kCanChangeEditableControllerRebuildPercentNoChange);
    EXPECT_EQ(VK_ChangeEditableControllerRebuildPercent(cda(), 64), 1);
    c->controller_rebuild_priority = 1;
    EXPECT_EQ(VK_GetEditableControllerRebuildRatePercent(cda()), 61);
    EXPECT_EQ(VK_ChangeEditableControllerRebuildPercent(cda(), 64), 0);
    EXPECT_EQ(c->controller_rebuild_priority, 1);
    EXPECT_EQ(VK_CanChangeEditableControllerRebuildPercent(cda(), 101), 2);

    const struct {
        VK_BYTE percent;
        VK_BYTE priority;
    } expand[] = {{54, 0}, {55, 1}, {99, 1}, {100, 2}};
    for (const auto& k : expand) {
        SCOPED_TRACE(int(k.percent));
        c->controller_transformation_priority = k.percent == 54 ? 2 : 0;
        EXPECT_EQ(VK_ChangeEditableControllerExpandPercent(cda(), k.percent), 0);
        EXPECT_EQ(c->controller_transformation_priority, k.priority);
    }
    c->controller_transformation_priority = 1;
    EXPECT_EQ(VK_GetEditableControllerExpandPercent(cda()), 55);

    EXPECT_EQ(VK_CanChangeEditableControllerSSAPercent(cda(), 1), 3);
    const struct {
        VK_BYTE percent;
        VK_WORD delay;
    } ssa[] = {{0, 0}, {100, 1}, {50, 151}};
    for (const auto& k : ssa) {
        SCOPED_TRACE(int(k.percent));
        c->controller_surface_scan_priority = 200;
        c->flags = 0;
        EXPECT_EQ(VK_ChangeEditableControllerSSAPercent(cda(), k.percent), 0);
        EXPECT_EQ(c->controller_surface_scan_priority, k.delay);
        EXPECT_EQ(c->flags, kEditableConfigSurfaceScan);
    }
    for (VK_BYTE p = 0; p <= 100; ++p) {
        if (p == 1) {
            continue;
        }
        SCOPED_TRACE(int(p));
        c->controller_surface_scan_priority = p == 0 ? 1 : 0;
        ASSERT_EQ(VK_ChangeEditableControllerSSAPercent(cda(), p), 0);
        EXPECT_EQ(VK_GetEditableControllerSSARatePercent(cda()), p);
    }
}

TEST_F(EditableSettingsHost, WithoutStagedLogicalDrivesRebuildReadsUnknownAndExpandItsValue) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base(false)));
    config()->controller_transformation_priority = 2;
    config()->controller_rebuild_priority = 1;
    EXPECT_EQ(VK_GetEditableControllerRebuildRatePercent(cda()), 255);
    EXPECT_EQ(VK_GetEditableControllerExpandPercent(cda()), 100);
    EXPECT_EQ(VK_CanChangeEditableControllerRebuildPercent(cda(), 50), 5);
    EXPECT_EQ(VK_CanChangeEditableControllerExpandPercent(cda(), 50), 4);
    EXPECT_EQ(VK_CanChangeEditableControllerSSAPercent(cda(), 50), 4);
}

// ---- Boot volumes, spare activation mode, drive write cache ----

TEST_F(EditableSettingsHost, BootVolumes) {
    FirmwareState st = Base();
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    PEDITABLE_CONFIGURATION c = config();
    ASSERT_TRUE(VK_ChangeEditableControllerBootVolume(cda(), 1, 0, 0));
    EXPECT_EQ(c->controller_bootable_volume_flags, 0x1);
    EXPECT_EQ(VK_GetEditableControllerBootVolume(cda(), 1, 0), 0);
    EXPECT_EQ(VK_GetEditableControllerBootVolume(cda(), 1, 1), 0xFFFF);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 1, 0, 0), kCanChangeEditableControllerBootVolumeAlreadySet);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 2, 0, 0), kCanChangeEditableControllerBootVolumeAllowed);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 3, 0, 0), kCanChangeEditableControllerBootVolumeAllowed);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 4, 0, 0), 3);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 1, 3, 0), 4);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 1, 0, 0xFFFF), 5);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 1, 0, 5), 8);
    // The controller's modes include no mixed mode: even an unassigned drive is refused.
    ASSERT_FALSE(VK_ControllerSupportsMixedMode(cda()));
    EXPECT_EQ(VK_GetEditablePhysicalDriveUsageInfo(cda(), 4), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 2, 1, 4), 7);
    // Clearing.
    EXPECT_EQ(VK_CanClearEditableControllerBootVolume(cda(), 2), kCanClearEditableControllerBootVolumeNotSet);
    EXPECT_EQ(VK_CanClearEditableControllerBootVolume(cda(), 5), kCanClearEditableControllerBootVolumeInvalidPrecedence);
    ASSERT_TRUE(VK_ClearEditableControllerBootVolume(cda(), 1));
    EXPECT_EQ(c->controller_primary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(c->controller_primary_boot_volume.type, 0);
    EXPECT_EQ(VK_CanClearEditableControllerBootVolume(cda(), 3), kCanClearEditableControllerBootVolumeNotSet);
    // A staged logical drive that goes away is dropped by the refresh.
    ASSERT_TRUE(VK_ChangeEditableControllerBootVolume(cda(), 3, 0, 0));
    c->flags = 0;
    c->controller_bootable_volume_flags = 0;
    PEDITABLE_LOGICAL_DRIVE ld = c->editable_ld_list[0];
    c->editable_ld_list[0] = nullptr;
    _VK_RefreshEditableControllerBootVolumes(cda());
    c->editable_ld_list[0] = ld;
    EXPECT_EQ(c->controller_primary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(c->controller_secondary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(c->flags, kEditableConfigControllerParams);
    EXPECT_EQ(c->controller_bootable_volume_flags, 0);
}

TEST_F(EditableSettingsHost, PhysicalBootVolumeOnAMixedModeController) {
    FirmwareState st = Base();
    ModesPerConnector(st);
    auto& bootable = *st.find_drive(4);
    bootable.misc_drive_flags = 0x4100; // exposed to the host
    bootable.unique_id = {0x60, 0x0D, 0x1A, 0x00, 0x5A, 0x6B, 0x7C, 0x8D,
                          0x9E, 0xAF, 0xB0, 0xC1, 0xD2, 0xE3, 0xF4, 0x05};
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    ASSERT_TRUE(VK_ControllerSupportsMixedMode(cda()));
    PEDITABLE_CONFIGURATION c = config();
    // Drive 5 is unassigned but not exposed to the host; drive 0 is a data drive.
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 2, 1, 5), 7);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 2, 1, 0), 7);
    EXPECT_EQ(VK_CanChangeEditableControllerBootVolume(cda(), 2, 1, 384), 7);
    ASSERT_TRUE(VK_ChangeEditableControllerBootVolume(cda(), 2, 1, 4));
    EXPECT_EQ(VK_GetEditableControllerBootVolume(cda(), 2, 1), 4);
    EXPECT_EQ(VK_GetEditableControllerBootVolume(cda(), 2, 0), 0xFFFF);
    EXPECT_EQ(c->controller_bootable_volume_flags, 0x2);
    // The refresh keeps it while it stays unassigned, and drops it once it joins an array.
    c->flags = 0;
    _VK_RefreshEditableControllerBootVolumes(cda());
    EXPECT_EQ(c->controller_secondary_boot_volume.dev_number, 4);
    EXPECT_EQ(c->flags, 0u);
    c->editable_pd_list[4].config_usage_info = kPhysicalDriveUsageData;
    _VK_RefreshEditableControllerBootVolumes(cda());
    EXPECT_EQ(c->controller_secondary_boot_volume.dev_number, 0xFFFF);
    EXPECT_EQ(c->controller_secondary_boot_volume.type, 1);
    EXPECT_EQ(c->flags, kEditableConfigControllerParams);
}

TEST_F(EditableSettingsHost, BootVolumeNeedsSupportAndAnUnlockedController) {
    std::vector<Row> rows = {
        {"no boot-volume support", [](FirmwareState& st) { st.identify.yet_more_flags &= ~0x10000000u; }, {},
         [](PCDA p) { return int(VK_CanChangeEditableControllerBootVolume(p, 1, 0, 0)); }, 6},
        {"locked", Locked, {}, [](PCDA p) { return int(VK_CanChangeEditableControllerBootVolume(p, 1, 0, 0)); }, 12},
        {"clear while locked", Locked, {}, [](PCDA p) { return int(VK_CanClearEditableControllerBootVolume(p, 1)); },
         7},
        {"clear without support", [](FirmwareState& st) { st.identify.yet_more_flags &= ~0x10000000u; }, {},
         [](PCDA p) { return int(VK_CanClearEditableControllerBootVolume(p, 1)); }, 5},
    };
    RunRows(rows);
}

TEST_F(EditableSettingsHost, SpareActivationModeReasons) {
    auto can = [](VK_BYTE mode) { return [=](PCDA p) { return int(VK_CanChangeEditableControllerSAM(p, mode)); }; };
    auto staged_mode = [](VK_BYTE mode) {
        return [=](EDITABLE_CONFIGURATION& c) { c.controller_spare_activation_mode = mode; };
    };
    std::vector<Row> rows = {
        {"mode 2", {}, staged_mode(0), can(2), 3},
        {"locked", Locked, staged_mode(0), can(1), 11},
        {"transforming", [](FirmwareState& st) { st.find_configured_drive(0)->unit_status = 10; }, staged_mode(0),
         can(1), 4},
        {"active spare under RAID 0 while predictive",
         [](FirmwareState& st) {
             st.find_configured_drive(0)->spares = {2};
             st.find_configured_drive(0)->active_spares = {2};
         },
         staged_mode(1), can(0), 5},
        {"auto-replace spare under RAID 0",
         [](FirmwareState& st) {
             st.find_configured_drive(0)->spares = {2};
             st.find_configured_drive(0)->more_unit_flags = 0x01;
         },
         staged_mode(1), can(0), 6},
        {"dedicated spare under RAID 0",
         [](FirmwareState& st) { st.find_configured_drive(0)->spares = {2}; }, staged_mode(1), can(0), 1},
        {"mode active", {}, staged_mode(1), can(1), 7},
        {"no logical drives", {}, staged_mode(0), can(1), 8, false},
        {"encrypted drive without its key", [](FirmwareState& st) { st.find_configured_drive(0)->unit_status = 20; },
         staged_mode(0), can(1), 10},
    };
    RunRows(rows);
}

TEST_F(EditableSettingsHost, SpareActivationChangeMarksRAID0DrivesOfArraysWithSpares) {
    FirmwareState st = Base();
    st.find_configured_drive(0)->spares = {2};
    st.add_configured_drive(1, {3, 4}, 1u << 20).fault_tolerance = 2; // RAID 1, no spares
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    PEDITABLE_CONFIGURATION c = config();
    c->controller_spare_activation_mode = 0;
    ASSERT_TRUE(VK_ChangeEditableControllerSAM(cda(), 1));
    EXPECT_EQ(c->controller_spare_activation_mode, 1);
    EXPECT_TRUE(c->editable_ld_list[0]->flags & kEditableLDSparesChanged);
    EXPECT_FALSE(c->editable_ld_list[1]->flags & kEditableLDSparesChanged);
    EXPECT_EQ(c->flags & kEditableConfigControllerParams, kEditableConfigControllerParams);
}

TEST_F(EditableSettingsHost, DriveWriteCacheOneValue) {
    FirmwareState st = Base();
    st.set_page("drive", {0x08, 0x40, 0x03}); // no per-drive-type policy
    st.identify.more_controller_flags |= 0x20;
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    PEDITABLE_CONFIGURATION c = config();
    c->controller_drive_write_cache_policy[0] = 2;
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCacheMode(cda()), 2);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 3, 0), 2);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 3, 1), 0);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 3, 3), 0xFF);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 6, 0), 0xFF);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCacheMode(cda(), 0), 5);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCacheMode(cda(), 2), 4);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0, 0, 1), 7);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 1, 1), 8);
    ASSERT_TRUE(VK_ChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0, 1));
    EXPECT_EQ(c->controller_drive_write_cache_policy[0], 1);
    EXPECT_EQ(c->flags, kEditableConfigControllerParams);
}

TEST_F(EditableSettingsHost, DriveWriteCacheUsageTypesFollowTheConnectors) {
    // Per drive type, but without modes per connector: RAID only, no mixed and no HBA.
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    ASSERT_TRUE(VK_ControllerSupportsDriveWriteCacheForAllDrives(cda()));
    PEDITABLE_CONFIGURATION c = config();
    c->controller_drive_write_cache_policy[2] = 0x39;
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 2, 0), 1);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 2, 1), 0xFF);
    EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 2, 2), 0xFF);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 1, 1), 10);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 2, 1), 10);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0, 2), 1);
    EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0xFF, 2), 1);
}

TEST_F(EditableSettingsHost, DriveWriteCachePerDriveType) {
    struct Case {
        const char* name;
        bool nvme;
        size_t types;
    };
    for (const Case k : {Case{"without NVMe", false, 4}, Case{"with NVMe", true, 6}}) {
        SCOPED_TRACE(k.name);
        FirmwareState st = Base();
        ModesPerConnector(st);
        if (k.nvme) {
            st.set_page("nvme", {0x02});
        }
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        ASSERT_TRUE(VK_ControllerSupportsDriveWriteCacheForAllDrives(cda()));
        ASSERT_EQ((VK_ControllerSupportsAdditionalRAIDInfo(cda()) & 0x2) != 0, k.nvme);
        PEDITABLE_CONFIGURATION c = config();
        const VK_BYTE fill[6] = {0x11, 0x12, 0x13, 0x21, 0x22, 0x23};
        std::memcpy(c->controller_drive_write_cache_policy, fill, sizeof(fill));
        EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 1, 0), 2);
        EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 1, 2), 1);
        EXPECT_EQ(VK_GetEditableControllerDriveWriteCachePolicy(cda(), 4, 0), k.nvme ? 2 : 0xFF);
        EXPECT_EQ(VK_GetEditableControllerDriveWriteCacheMode(cda()), 0xFF);
        EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0, 0, 1), 7);
        EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 3, 1), 8);
        EXPECT_EQ(VK_CanChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0xFF, 4), 5);
        ASSERT_TRUE(VK_ChangeEditableControllerDriveWriteCachePolicy(cda(), 0xFF, 0xFF, 2));
        for (size_t d = 0; d < 6; ++d) {
            SCOPED_TRACE(d);
            EXPECT_EQ(c->controller_drive_write_cache_policy[d], d < k.types ? 0x2A : fill[d]);
        }
        ASSERT_TRUE(VK_ChangeEditableControllerDriveWriteCacheMode(cda(), 1));
        EXPECT_EQ(VK_GetEditableControllerDriveWriteCacheMode(cda()), 1);
        EXPECT_EQ(c->controller_drive_write_cache_policy[0], 0x29);
        EXPECT_EQ(c->controller_drive_write_cache_policy[5], k.nvme ? 0x29 : fill[5]);
        StopController();
    }
}

// ---- Cache settings ----

void IOBypassOnly(FirmwareState& st) {
    // The drive's cache is off in the extended map, and it bypasses the controller.
    st.patches.push_back({0xC1, std::nullopt, 264, {0x01}});
    st.find_configured_drive(0)->more_unit_flags = 0x08;
}

TEST_F(EditableSettingsHost, CacheSettingReasons) {
    auto nbwc = [](VK_BYTE v) { return [=](PCDA p) { return int(VK_CanChangeEditableControllerNBWC(p, v)); }; };
    auto room = [](VK_BYTE v) {
        return [=](PCDA p) { return int(VK_CanChangeEditableControllerWaitForCacheRoom(p, v)); };
    };
    auto read = [](VK_BYTE v) {
        return [=](PCDA p) { return int(VK_CanChangeEditableControllerReadCachePercent(p, v)); };
    };
    auto staged = [](VK_BYTE nbwc_value, VK_BYTE read_value) {
        return [=](EDITABLE_CONFIGURATION& c) {
            c.controller_nbwc = nbwc_value;
            c.controller_wait_for_cache_room = 0;
            c.controller_read_cache_percent = read_value;
        };
    };
    std::vector<Row> rows = {
        {"read 100 without a charged power source", {}, staged(1, 50), read(100), 1},
        {"read 95 without a charged power source", {}, staged(1, 50), read(95), 7},
        {"read 95 with NBWC enabled", {}, staged(0, 50), read(95), 1},
        {"read 33", {}, staged(0, 50), read(33), 3},
        {"read 105", {}, staged(0, 50), read(105), 3},
        {"read below the limits", [](FirmwareState& st) { st.cache.non_battery_backed = 1146; }, staged(1, 50),
         [](PCDA p) { return int(VK_GetEditableControllerReadCachePercentLimits(p)); }, 0x641E},
        {"read 25 under a write share of 72",
         [](FirmwareState& st) {
             st.cache.non_battery_backed = 1146;
             st.cache.battery_status = 0x1;
         },
         staged(1, 50), read(25), 0x0C},
        {"read 30 under a write share of 72",
         [](FirmwareState& st) {
             st.cache.non_battery_backed = 1146;
             st.cache.battery_status = 0x1;
         },
         staged(1, 50), read(30), 1},
        {"read unchanged", {}, staged(0, 50), read(50), 5},
        {"read without logical drives", {}, staged(0, 50), read(55), 4, false},
        {"read on an empty configuration", {}, staged(0, 50),
         [](PCDA p) { return int(VK_CanChangeEditableControllerReadCachePercentOnEmptyConfig(p, 55)); }, 1, false},
        {"read with the controller cache unused", IOBypassOnly, staged(0, 50), read(55), 9},
        {"NBWC with IO bypass only", IOBypassOnly, staged(0, 50), nbwc(1), 0x0D},
        {"wait for cache room with IO bypass only", IOBypassOnly, staged(0, 50), room(1), 0x0B},
        {"NBWC unchanged", {}, staged(0, 50), nbwc(0), 6},
        {"NBWC 2", {}, staged(0, 50), nbwc(2), 4},
        {"NBWC without logical drives", {}, staged(0, 50), nbwc(1), 5, false},
        {"NBWC locked", Locked, staged(0, 50), nbwc(1), 0x0E},
        {"NBWC with the cache disabled", [](FirmwareState& st) { PermanentlyDisabledCache(st, 5); }, staged(0, 50),
         nbwc(1), 0x0A},
        {"NBWC without a cache board", [](FirmwareState& st) { st.cache.board_present = 0; }, staged(0, 50), nbwc(1),
         8},
        {"NBWC off with the read share outside the no-battery limits",
         [](FirmwareState& st) { st.cache.non_battery_backed = 1146; }, staged(0, 25), nbwc(1), 0x0C},
        {"NBWC pending HBA", PendingHBA, staged(0, 50), nbwc(1), 7},
        {"wait for cache room pending HBA", PendingHBA, staged(0, 50), room(1), 7},
        {"read pending HBA", PendingHBA, staged(0, 50), read(55), 6},
        {"wait for cache room", {}, staged(0, 50), room(1), 1},
        {"wait for cache room unsupported", [](FirmwareState& st) { st.cache.support_flags = 0; }, staged(0, 50),
         room(1), 3},
    };
    RunRows(rows);
}

// ---- An edit session ----

TEST_F(EditableSettingsHost, StagedSettingsAreReadBackAndNothingIsWritten) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    const size_t before = Received().size();
    PEDITABLE_CONFIGURATION c = config();
    const VK_BYTE rebuild = c->controller_rebuild_priority == 3 ? 1 : 3;
    c->flags = 0;
    ASSERT_TRUE(VK_ChangeEditableControllerRebuildPriority(cda(), rebuild));
    ASSERT_TRUE(VK_ChangeEditableControllerMNPDelay(cda(), 1234));
    ASSERT_TRUE(VK_ChangeEditableControllerWCBT(cda(), 42));
    ASSERT_TRUE(VK_ChangeEditableControllerSurvivalPowerMode(cda(), c->controller_survival_mode ? 0 : 1));
    ASSERT_EQ(VK_ChangeEditableControllerSSAPercent(cda(), 50), 0);
    ASSERT_TRUE(VK_ChangeEditableControllerBootVolume(cda(), 1, 0, 0));
    ASSERT_TRUE(VK_ChangeEditableControllerWaitForCacheRoom(cda(), c->controller_wait_for_cache_room ? 0 : 1));

    EXPECT_EQ(VK_GetEditableControllerRebuildPriority(cda()), rebuild);
    EXPECT_EQ(VK_GetEditableControllerMNPDelay(cda()), 1234);
    EXPECT_EQ(VK_GetEditableControllerWCBT(cda()), 42u);
    EXPECT_EQ(VK_GetEditableControllerSSAPriority(cda()), 151);
    EXPECT_EQ(VK_GetEditableControllerSSARatePercent(cda()), 50);
    EXPECT_EQ(VK_GetEditableControllerBootVolume(cda(), 1, 0), 0);
    EXPECT_EQ(c->flags, kEditableConfigControllerParams | kEditableConfigSurfaceScan | kEditableConfigMNPDelay |
                            kEditableConfigCacheConfig | kEditableConfigSurvivalMode);
    // Only reads reached the controller; the live settings are as they were.
    for (size_t i = before; i < Received().size(); ++i) {
        EXPECT_FALSE(Received()[i].write) << "opcode " << int(Received()[i].opcode);
    }
    EXPECT_EQ(fw_->fw_state().mnp_delay, 60);
    EXPECT_EQ(fw_->fw_state().parameters.wcbt, 0u);
}

} // namespace
