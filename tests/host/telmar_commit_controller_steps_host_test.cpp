// Commit steps on a simulated controller, one step at a time: the staged configuration is edited,
// the step runs, and what the controller took is read back from it (and, end to end, through a new
// data area). Controller level: parameters with the boot volumes, the cache configuration, survival
// mode, surface scan and MNP delay. Existing logical drives: spares, accelerator, labels, LU caches
// and transformations.
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_cda_writeback.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwFault;

constexpr std::array<std::uint8_t, 16> kPrimaryId = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18,
                                                     0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20};
constexpr std::array<std::uint8_t, 16> kSecondaryId = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28,
                                                       0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30};

// Drives 0-3; logical drive 0 on drives 0 and 1, logical drive 1 on drives 2 and 3. The parameters
// are ones the staged configuration reproduces exactly, so an unchanged configuration writes nothing.
FirmwareState Base() {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 4; ++pd) {
        st.add_drive(pd, 2);
    }
    st.add_configured_drive(0, {0, 1}, 1u << 20);
    st.add_configured_drive(1, {2, 3}, 1u << 20, 1u << 20);
    st.identify.yet_more_flags |= 0x10000000;            // boot volumes
    st.set_page("cache", {0x1C});                         // WCBT, DDR caching
    st.set_page("power_management", {0x07, 0x03, 0x0F}); // survival mode configurable
    auto& p = st.parameters;
    p.configuration_flags = 0x08; // DPO on; IRP is not offered
    p.queue_depth = 0xFFFF;
    p.rebuild_priority = 64;
    p.expand_priority = 64;
    p.wcbt = 40;
    p.primary_boot_lun = kPrimaryId;
    p.secondary_boot_lun = kSecondaryId;
    return st;
}

FwFault Failing(std::uint8_t opcode, bool write) {
    FwFault f;
    f.bmic = opcode;
    f.write = write;
    f.err = EIO;
    return f;
}

class CommitStepsHost : public telmar_host::ControllerHost {
protected:
    void StartStaged(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        host().clear_requests();
        state().updates.writes.clear();
    }
    FirmwareState& state() { return fw_->fw_state(); }
    EDITABLE_CONFIGURATION& config() { return *_VK_CDA(cda())->editable_configuration; }

    // The BMIC writes the controller was sent, by opcode, whether it took them or not.
    std::vector<qvsim::BmicCdb> SentWrites(int opcode = -1) {
        std::vector<qvsim::BmicCdb> out;
        for (const qvsim::BmicCdb& b : Received()) {
            if (b.write && (opcode < 0 || b.opcode == opcode)) {
                out.push_back(b);
            }
        }
        return out;
    }
};

// ---- Controller parameters ----

TEST_F(CommitStepsHost, UnchangedParametersWriteNothing) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    TelmarLogCapture log;
    EXPECT_EQ(__VK_CommitEditableControllerParameters(cda()), 0u);
    EXPECT_TRUE(SentWrites(0x63).empty());
    EXPECT_EQ(TelmarLogCapture::Count("No changes for ctrl params"), 1u);
}

TEST_F(CommitStepsHost, ParameterFieldsFromTheStagedSettings) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> firmware;
        std::function<void(EDITABLE_CONFIGURATION&)> staged;
        std::function<void(const qvsim::FwParameters&)> check;
    };
    using P = const qvsim::FwParameters&;
    using C = EDITABLE_CONFIGURATION&;
    const std::vector<Case> cases = {
        {"queue depth automatic", [](FirmwareState& s) { s.parameters.queue_depth = 16; },
         [](C c) { c.controller_max_drive_request_queue_depth = 0; },
         [](P p) { EXPECT_EQ(p.queue_depth, 0xFFFF); }},
        {"queue depth 1", {}, [](C c) { c.controller_max_drive_request_queue_depth = 1; },
         [](P p) { EXPECT_EQ(p.queue_depth, 2); }},
        {"queue depth 3", {}, [](C c) { c.controller_max_drive_request_queue_depth = 3; },
         [](P p) { EXPECT_EQ(p.queue_depth, 8); }},
        {"queue depth 5", {}, [](C c) { c.controller_max_drive_request_queue_depth = 5; },
         [](P p) { EXPECT_EQ(p.queue_depth, 32); }},
        {"queue depth 6", [](FirmwareState& s) { s.parameters.queue_depth = 4; },
         [](C c) { c.controller_max_drive_request_queue_depth = 6; }, [](P p) { EXPECT_EQ(p.queue_depth, 0xFFFF); }},
        {"WCBT 0", {}, [](C c) { c.controller_write_cache_bypass_threshold = 0; },
         [](P p) { EXPECT_EQ(p.wcbt, 65u); }},
        {"WCBT 17", {}, [](C c) { c.controller_write_cache_bypass_threshold = 17; },
         [](P p) { EXPECT_EQ(p.wcbt, 17u); }},
        {"FLS 4", {}, [](C c) { c.controller_fls_setting = 4; }, [](P p) { EXPECT_EQ(p.elevator_latency, 4); }},
        {"FLS 6", [](FirmwareState& s) { s.parameters.elevator_latency = 3; }, [](C c) { c.controller_fls_setting = 6; },
         [](P p) { EXPECT_EQ(p.elevator_latency, 0); }},
        {"sanitize 0", [](FirmwareState& s) { s.parameters.sanitize_policy = 0x25; },
         [](C c) { c.controller_sanitize_lock = 0; }, [](P p) { EXPECT_EQ(p.sanitize_policy, 0x05); }},
        {"sanitize 1", [](FirmwareState& s) { s.parameters.sanitize_policy = 0x06; },
         [](C c) { c.controller_sanitize_lock = 1; }, [](P p) { EXPECT_EQ(p.sanitize_policy, 0x16); }},
        {"sanitize 2", [](FirmwareState& s) { s.parameters.sanitize_policy = 0x07; },
         [](C c) { c.controller_sanitize_lock = 2; }, [](P p) { EXPECT_EQ(p.sanitize_policy, 0x27); }},
        {"sanitize 9 keeps the byte", [](FirmwareState& s) { s.parameters.sanitize_policy = 0x13; },
         [](C c) {
             c.controller_sanitize_lock = 9;
             c.controller_fls_setting = 2;
         },
         [](P p) {
             EXPECT_EQ(p.sanitize_policy, 0x13);
             EXPECT_EQ(p.elevator_latency, 2);
         }},
        {"notify 2 clears", [](FirmwareState& s) { s.parameters.more_nvram_flags = 0x4001; },
         [](C c) { c.controller_notify_on_any_broadcast = 2; }, [](P p) { EXPECT_EQ(p.more_nvram_flags, 0x0001u); }},
        {"notify 3 sets", [](FirmwareState& s) { s.parameters.more_nvram_flags = 0x0002; },
         [](C c) { c.controller_notify_on_any_broadcast = 3; }, [](P p) { EXPECT_EQ(p.more_nvram_flags, 0x4002u); }},
        {"DPO disabled", {},
         [](C c) {
             c.controller_parity_RAID_DPO = 1;
             c.controller_RAID6x_IRP = 0;
         },
         [](P p) { EXPECT_EQ(p.configuration_flags, 0x04); }},
        {"IRP disabled, inconsistency events on", {},
         [](C c) {
             c.controller_RAID6x_IRP = 1;
             c.inconsistency_event_notification = 1;
         },
         [](P p) { EXPECT_EQ(p.configuration_flags, 0x08 | 0x10); }},
        {"IRP enabled", {}, [](C c) { c.controller_RAID6x_IRP = 0; },
         [](P p) { EXPECT_EQ(p.configuration_flags, 0x08 | 0x04); }},
        {"elevator sort", {}, [](C c) { c.controller_pd_elevator_sort = 1; },
         [](P p) { EXPECT_EQ(p.elevator_state, 1); }},
        {"predictive spare activation", {}, [](C c) { c.controller_spare_activation_mode = 1; },
         [](P p) { EXPECT_EQ(p.drive_configuration_flags, 0x81); }},
        {"raw priorities", {},
         [](C c) {
             c.controller_rebuild_priority = 3;
             c.controller_transformation_priority = 0;
         },
         [](P p) {
             EXPECT_EQ(p.rebuild_priority, 118);
             EXPECT_EQ(p.expand_priority, 0);
         }},
        {"rebuild priority out of range", {}, [](C c) { c.controller_rebuild_priority = 7; },
         [](P p) { EXPECT_EQ(p.rebuild_priority, 118); }},
        {"drive write cache, one switch", [](FirmwareState& s) { s.set_page("drive", {0x08, 0x40, 0x03}); },
         [](C c) { c.controller_drive_write_cache_policy[0] = 2; },
         [](P p) {
             EXPECT_EQ(p.drive_configuration_flags, 0x00);
             EXPECT_EQ(p.drive_write_cache_policy, (std::array<std::uint8_t, 6>{}));
         }},
        {"drive write cache per drive type", {},
         [](C c) {
             const VK_BYTE policy[6] = {1, 2, 3, 1, 2, 3};
             std::memcpy(c.controller_drive_write_cache_policy, policy, sizeof(policy));
         },
         [](P p) {
             EXPECT_EQ(p.drive_write_cache_policy, (std::array<std::uint8_t, 6>{1, 2, 3, 1, 2, 3}));
             EXPECT_EQ(p.drive_configuration_flags, 0x01) << "the single switch is left alone";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = Base();
        if (c.firmware) {
            c.firmware(st);
        }
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        c.staged(config());
        EXPECT_EQ(__VK_CommitEditableControllerParameters(cda()), 0u);
        EXPECT_EQ(SentWrites(0x63).size(), 1u);
        c.check(state().parameters);
        StopController();
    }
}

TEST_F(CommitStepsHost, BootVolumesOnlyWhereStaged) {
    struct Case {
        const char* name;
        VK_BYTE flags;
        EDITABLE_BOOT_VOLUME primary, secondary;
        std::array<std::uint8_t, 16> want_primary, want_secondary;
    };
    std::array<std::uint8_t, 16> ld1_id{};
    {
        // The page-83 id the controller reports for logical drive 1.
        ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
        VK_BYTE id[16];
        ASSERT_TRUE(_VK_GetEditableLogicalDriveUniqueVolumeID(cda(), 1, id, sizeof(id)));
        std::memcpy(ld1_id.data(), id, sizeof(id));
        EXPECT_NE(ld1_id, (std::array<std::uint8_t, 16>{}));
        StopController();
    }
    const std::array<std::uint8_t, 16> zero{};
    const std::vector<Case> cases = {
        {"primary cleared", 0x1, {0, 0xFFFF}, {0, 0xFFFF}, zero, kSecondaryId},
        {"both cleared", 0x3, {0, 0xFFFF}, {0, 0xFFFF}, zero, zero},
        {"secondary set to logical drive 1", 0x2, {0, 0xFFFF}, {0, 1}, kPrimaryId, ld1_id},
        {"unmarked volumes stay", 0x0, {0, 0xFFFF}, {0, 1}, kPrimaryId, kSecondaryId},
        {"a failed fetch leaves the field", 0x3, {0, 9}, {2, 5}, kPrimaryId, kSecondaryId},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = Base();
        st.parameters.queue_depth = 4; // something else to write, so the result always shows
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        config().controller_bootable_volume_flags = c.flags;
        config().controller_primary_boot_volume = c.primary;
        config().controller_secondary_boot_volume = c.secondary;
        EXPECT_EQ(__VK_CommitEditableControllerParameters(cda()), 0u);
        EXPECT_EQ(state().parameters.primary_boot_lun, c.want_primary);
        EXPECT_EQ(state().parameters.secondary_boot_lun, c.want_secondary);
        StopController();
    }
}

TEST_F(CommitStepsHost, BootVolumeFetchersRefuseBadArguments) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    TelmarLogCapture log;
    VK_BYTE id[16];
    EXPECT_FALSE(_VK_GetEditableLogicalDriveUniqueVolumeID(cda(), 0, id, 15));
    EXPECT_FALSE(_VK_GetEditableLogicalDriveUniqueVolumeID(cda(), 0, nullptr, 16));
    EXPECT_EQ(TelmarLogCapture::Count("failed: Invalid arguments"), 2u);
    EXPECT_FALSE(_VK_GetEditablePhysicalDriveUniqueVolumeID(cda(), 0, id, 0));
    EXPECT_FALSE(_VK_GetEditableRemoteVolumeUniqueID(cda(), 0, id, sizeof(id)));
    EXPECT_TRUE(SentWrites().empty());

    // A physical drive's id: 16 bytes when the buffer holds them, none (but TRUE) otherwise.
    std::memset(id, 0xEE, sizeof(id));
    ASSERT_TRUE(_VK_GetEditablePhysicalDriveUniqueVolumeID(cda(), 2, id, sizeof(id)));
    VK_BYTE small[8];
    std::memset(small, 0xEE, sizeof(small));
    ASSERT_TRUE(_VK_GetEditablePhysicalDriveUniqueVolumeID(cda(), 2, small, sizeof(small)));
    EXPECT_EQ(std::vector<VK_BYTE>(small, small + 8), std::vector<VK_BYTE>(8, 0));
    VK_BYTE other[16];
    ASSERT_TRUE(_VK_GetEditablePhysicalDriveUniqueVolumeID(cda(), 3, other, sizeof(other)));
    EXPECT_NE(std::memcmp(id, other, sizeof(id)), 0) << "each drive has its own id";
}

// ---- Cache configuration ----

struct CacheCase {
    const char* name;
    std::function<void(FirmwareState&)> firmware;
    std::function<void(PCDA, EDITABLE_CONFIGURATION&)> staged;
    std::function<void(const qvsim::FwCache&)> check;
    bool written = true;
};

class CacheStepHost : public CommitStepsHost {
protected:
    void Run(const std::vector<CacheCase>& cases) {
        for (const CacheCase& c : cases) {
            SCOPED_TRACE(c.name);
            FirmwareState st = Base();
            st.cache.total_memory = 1000;
            st.cache.read_cache_size = 100;
            st.cache.write_cache_size = 900;
            if (c.firmware) {
                c.firmware(st);
            }
            ASSERT_NO_FATAL_FAILURE(StartStaged(st));
            c.staged(cda(), config());
            EXPECT_EQ(__VK_CommitEditableControllerCacheConfig(cda()), 0u);
            EXPECT_EQ(SentWrites(0xC0).size(), c.written ? 1u : 0u);
            c.check(state().cache);
            StopController();
        }
    }
};

void RemoveAllLogicalDrives(EDITABLE_CONFIGURATION& c) {
    for (auto& ld : c.editable_ld_list) {
        VK_free(ld);
        ld = nullptr;
    }
    c.editable_ld_count = 0;
}

void Accelerators(EDITABLE_CONFIGURATION& c, VK_BYTE ld0, VK_BYTE ld1) {
    c.editable_ld_list[0]->logical_drive_accelerator = ld0;
    c.editable_ld_list[1]->logical_drive_accelerator = ld1;
}

TEST_F(CacheStepHost, ReadShare) {
    using F = const qvsim::FwCache&;
    auto percent = [](VK_BYTE p) {
        return [p](PCDA, EDITABLE_CONFIGURATION& c) {
            c.controller_read_cache_percent = p;
            Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorControllerCache);
        };
    };
    auto defaults = [](std::uint8_t d) { return [d](FirmwareState& s) { s.cache.default_read_percent = d; }; };
    Run({
        {"default 50 leaves the sizes", defaults(50), percent(0xFF),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 100);
             EXPECT_EQ(c.write_cache_size, 900);
             EXPECT_EQ(c.disable_flag, 0);
         }},
        {"default 52 gives 55 percent", defaults(52), percent(0xFF),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 550);
             EXPECT_EQ(c.write_cache_size, 450);
         }},
        {"staged 25 percent", {}, percent(25),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 250);
             EXPECT_EQ(c.write_cache_size, 750);
         }},
        {"shifted sizes past 4 GiB", [](FirmwareState& s) {
             s.cache.memory_shift = 20; // MiB units: 1000 MiB... the product is past 32 bits
             s.cache.total_memory = 8192;
             s.cache.read_cache_size = 1024;
             s.cache.write_cache_size = 7168;
         },
         percent(40),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 3276);
             EXPECT_EQ(c.write_cache_size, 8192 - 3276);
         }},
        {"a shift of 32 leaves the sizes", [](FirmwareState& s) { s.cache.memory_shift = 32; }, percent(40),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 100);
             EXPECT_EQ(c.write_cache_size, 900);
         }},
        {"default 97 rounds up to all read cache", defaults(97), percent(0xFF),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 1000);
             EXPECT_EQ(c.write_cache_size, 0);
         }},
        {"a default past 100 leaves the sizes", defaults(254), percent(0xFF),
         [](F c) {
             EXPECT_EQ(c.read_cache_size, 100);
             EXPECT_EQ(c.write_cache_size, 900);
         }},
    });
}

TEST_F(CacheStepHost, DisabledMapsAndSplit) {
    using F = const qvsim::FwCache&;
    auto no_change_percent = [](EDITABLE_CONFIGURATION& c) { c.controller_read_cache_percent = 0xFF; };
    Run({
        {"no staged logical drive disables all and keeps the sizes",
         [](FirmwareState& s) { s.cache.configuration_flags = 0x00; },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             RemoveAllLogicalDrives(c);
         },
         [](F c) {
             EXPECT_EQ(c.disable_flag, 1);
             EXPECT_EQ(c.disabled_map, 0u);
             std::vector<std::uint16_t> all;
             for (std::uint16_t n = 0; n < 64; ++n) {
                 all.push_back(n);
             }
             EXPECT_EQ(c.disabled_logical_drives, all);
             EXPECT_EQ(c.read_cache_size, 100);
             EXPECT_EQ(c.write_cache_size, 900);
         }},
        {"no logical drive using the cache: all read cache",
         [](FirmwareState& s) { s.cache.configuration_flags = 0x00; },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             Accelerators(c, kLogicalDriveAcceleratorIOBypass, kLogicalDriveAcceleratorNone);
         },
         [](F c) {
             EXPECT_EQ(c.disable_flag, 1);
             EXPECT_EQ(c.read_cache_size, 1000);
             EXPECT_EQ(c.write_cache_size, 0);
         }},
        {"the LU cache drive and the cached drive enabled",
         [](FirmwareState& s) { s.cache.configuration_flags = 0x00; },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             Accelerators(c, kLogicalDriveAcceleratorNone, kLogicalDriveAcceleratorLUCache);
         },
         [](F c) {
             EXPECT_EQ(c.disable_flag, 0);
             EXPECT_EQ(c.disabled_logical_drives.size(), 63u);
             EXPECT_EQ(c.disabled_logical_drives.front(), 0);
             EXPECT_EQ(c.disabled_logical_drives[1], 2) << "logical drive 1 is enabled";
             EXPECT_EQ(c.write_cache_size, 900);
         }},
        {"without the extended map the 32-bit map",
         [](FirmwareState& s) {
             s.cache.configuration_flags = 0x00;
             s.cache.extended_map_offset = 0;
         },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
         },
         [](F c) {
             EXPECT_EQ(c.disabled_map, 0xFFFFFFFEu);
             EXPECT_EQ(c.disable_flag, 0);
         }},
        {"an extended map past the reported total is not written",
         [](FirmwareState& s) {
             s.cache.configuration_flags = 0x00;
             s.cache.extended_map_offset = 264;
             s.cache.total_length = 268; // the 8-byte map would end at 272
         },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
         },
         [](F c) {
             EXPECT_EQ(c.disabled_map, 0xFFFFFFFEu) << "the 32-bit map stands in for it";
             EXPECT_TRUE(c.disabled_logical_drives.empty()) << "the sim read nothing at the offset";
         }},
        {"no battery and NBWC off: no write cache",
         [](FirmwareState& s) { s.cache.battery_count = 0; },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             c.controller_nbwc = 1;
             Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
         },
         [](F c) {
             EXPECT_EQ(c.configuration_flags & 0x02, 0);
             EXPECT_EQ(c.read_cache_size, 1000);
             EXPECT_EQ(c.write_cache_size, 0);
             EXPECT_EQ(c.disable_flag, 0);
         }},
        {"no battery and NBWC off keeps the write cache for a staged LU cache array",
         [](FirmwareState& s) { s.cache.battery_count = 0; },
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             c.controller_nbwc = 1;
             c.editable_array_list[1]->flags |= kEditableArrLUCache;
             Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
         },
         [](F c) { EXPECT_EQ(c.write_cache_size, 900); }},
        {"wait for cache room", {},
         [&](PCDA, EDITABLE_CONFIGURATION& c) {
             no_change_percent(c);
             c.controller_nbwc = 0;
             c.controller_wait_for_cache_room = 1;
             Accelerators(c, kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
         },
         [](F c) { EXPECT_EQ(c.configuration_flags, 0x02 | 0x04); }},
    });
}

TEST_F(CommitStepsHost, UnchangedCacheWritesNothing) {
    // Logical drive 0 cached, 1 not; default sizes kept; flags as the controller has them.
    FirmwareState st = Base();
    for (std::uint16_t n = 1; n < 64; ++n) {
        st.cache.disabled_logical_drives.push_back(n);
    }
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    TelmarLogCapture log;
    config().controller_read_cache_percent = 0xFF;
    config().controller_nbwc = 0;
    config().controller_wait_for_cache_room = 0;
    Accelerators(config(), kLogicalDriveAcceleratorControllerCache, kLogicalDriveAcceleratorNone);
    EXPECT_EQ(__VK_CommitEditableControllerCacheConfig(cda()), 0u);
    EXPECT_TRUE(SentWrites(0xC0).empty());
    EXPECT_EQ(TelmarLogCapture::Count("No changes for cache config"), 1u);
}

TEST_F(CommitStepsHost, DDRCachingPredicate) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> firmware;
        bool supported;
    };
    auto legacy = [](std::uint32_t yet_more, std::uint32_t fixed, std::uint32_t extra) {
        return [=](FirmwareState& s) {
            s.feature_pages.clear();
            s.identify.even_more_flags = 0; // no feature pages
            s.identify.yet_more_flags = yet_more;
            s.identify.fixed_length = fixed;
            s.identify.extra_flags = extra;
        };
    };
    const std::vector<Case> cases = {
        {"cache page bit set", [](FirmwareState& s) { s.set_page("cache", {0x04}); }, true},
        {"cache page bit clear", [](FirmwareState& s) { s.set_page("cache", {0x18}); }, false},
        {"legacy flags", legacy(0x100000, 287, 0), true},
        {"legacy, structure too short", legacy(0x100000, 286, 0), false},
        {"legacy, no-DDR bit", legacy(0x100000, 300, 0x80), false},
        {"legacy, flags not valid", legacy(0, 300, 0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = Base();
        c.firmware(st);
        ASSERT_NO_FATAL_FAILURE(StartController(st));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        EXPECT_EQ(__VK_ControllerSupportsDDRCaching(cda()) != kFalse, c.supported);
        StopController();
    }
}

// ---- Survival mode, surface scan, MNP delay ----

TEST_F(CommitStepsHost, SurvivalIsWrittenEvenWhenUnchanged) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(Base()));
    ASSERT_EQ(config().controller_survival_mode, 0);
    EXPECT_EQ(__VK_CommitEditableControllerSurvivalMode(cda()), 0u);
    ASSERT_EQ(SentWrites(0xEE).size(), 1u);
    EXPECT_EQ(SentWrites(0xEE)[0].detail & 0xFF, 2u) << "function 2";
    EXPECT_EQ(state().power.survival_mode, 0);

    config().controller_survival_mode = 5;
    EXPECT_EQ(__VK_CommitEditableControllerSurvivalMode(cda()), 0u);
    EXPECT_EQ(state().power.survival_mode, 1);
}

TEST_F(CommitStepsHost, SurfaceScanAndMNPDefaults) {
    struct Case {
        VK_WORD delay;
        VK_BYTE count;
        VK_WORD mnp;
        std::uint16_t want_delay;
        std::uint8_t want_count;
        std::uint16_t want_mnp;
    };
    for (const Case& c : std::vector<Case>{{0xFFFF, 0, 0xFFFF, 30, 1, 60},
                                           {300, 3, 1440, 300, 3, 1440},
                                           {301, 2, 0, 30, 2, 0}}) {
        SCOPED_TRACE(c.delay);
        FirmwareState st = Base();
        st.surface.current_parallel = 4;
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        config().controller_surface_scan_priority = c.delay;
        config().controller_parallel_surface_scan_count = c.count;
        config().controller_mnp_analysis_delay = c.mnp;
        EXPECT_EQ(__VK_CommitEditableControllerSurfaceScan(cda()), 0u);
        EXPECT_EQ(__VK_CommitEditableControllerMNPDelay(cda()), 0u);
        EXPECT_EQ(state().surface.delay, c.want_delay);
        EXPECT_EQ(state().surface.current_parallel, c.want_count);
        EXPECT_EQ(state().mnp_delay, c.want_mnp);
        StopController();
    }
}

// ---- Failures: each step reports exactly its own bit ----

TEST_F(CommitStepsHost, EachFailureGivesItsBit) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> firmware;
        VK_UINT64 (*step)(PCDA);
        VK_UINT64 bit;
        bool sends_write;
    };
    auto fail = [](std::uint8_t opcode, bool write) {
        return [=](FirmwareState& s) { s.faults.push_back(Failing(opcode, write)); };
    };
    const std::vector<Case> cases = {
        {"parameters read", fail(0x64, false), __VK_CommitEditableControllerParameters, 0x2, false},
        {"parameters write", fail(0x63, true), __VK_CommitEditableControllerParameters, 0x2, true},
        {"parameters total past the buffer", [](FirmwareState& s) { s.parameters.total_length = 345; },
         __VK_CommitEditableControllerParameters, 0x2, false},
        {"cache read", fail(0xC1, false), __VK_CommitEditableControllerCacheConfig, 0x8000, false},
        {"cache write", fail(0xC0, true), __VK_CommitEditableControllerCacheConfig, 0x8000, true},
        {"cache total past the buffer", [](FirmwareState& s) { s.cache.total_length = 600; },
         __VK_CommitEditableControllerCacheConfig, 0x8000, false},
        {"survival write", fail(0xEE, true), __VK_CommitEditableControllerSurvivalMode, 0x2000, true},
        {"surface write", fail(0x60, true), __VK_CommitEditableControllerSurfaceScan, 0x4000, true},
        {"MNP write", fail(0x62, true), __VK_CommitEditableControllerMNPDelay, 0x2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = Base();
        st.cache.configuration_flags = 0; // the cache differs from the staged one
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        config().controller_nbwc = 0;
        config().controller_max_drive_request_queue_depth = 5; // and so do the parameters
        c.firmware(state());
        const VK_UINT64 before = _VK_curr_alloc;
        EXPECT_EQ(c.step(cda()), c.bit);
        EXPECT_EQ(_VK_curr_alloc, before) << "the buffer is freed";
        EXPECT_EQ(SentWrites().size(), c.sends_write ? 1u : 0u);
        EXPECT_TRUE(state().updates.writes.empty());
        StopController();
    }
}

// ---- End to end ----

TEST_F(CommitStepsHost, StagedSettingsReadBackAfterReinitialisation) {
    FirmwareState st = Base();
    st.cache.total_memory = 1000;
    st.cache.read_cache_size = 100;
    st.cache.write_cache_size = 900;
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    config().controller_max_drive_request_queue_depth = 4;
    config().controller_write_cache_bypass_threshold = 23;
    config().controller_pd_elevator_sort = 1;
    config().controller_read_cache_percent = 35;
    config().controller_nbwc = 0;
    config().editable_ld_list[0]->logical_drive_accelerator = kLogicalDriveAcceleratorControllerCache;
    config().editable_ld_list[1]->logical_drive_accelerator = kLogicalDriveAcceleratorNone;
    EXPECT_EQ(__VK_CommitEditableControllerParameters(cda()), 0u);
    EXPECT_EQ(__VK_CommitEditableControllerCacheConfig(cda()), 0u);
    VK_DestroyEditableConfiguration(cda());

    ASSERT_TRUE(VK_ReInitializeCDA(cda()));
    EXPECT_EQ(VK_GetControllerQueueDepth(cda()), 4);
    EXPECT_EQ(VK_GetControllerWCBT(cda()), 23u);
    EXPECT_EQ(VK_GetControllerReadCachePercent(cda()), 35);
    EXPECT_EQ(VK_GetControllerNBWC(cda()), 0);
    EXPECT_EQ(state().cache.disabled_logical_drives.size(), 63u);
    EXPECT_EQ(state().cache.disabled_logical_drives.front(), 1) << "logical drive 0 is cached";
}

} // namespace

// ---- Existing logical drives ----

namespace {

// Drives 0-5; array 0 holds logical drive 0 (RAID 1 on drives 0 and 1, spare 4), array 1 logical
// drive 1 (RAID 0 on drives 2 and 3). Drive 5 is unassigned. The LU cache feature is offered.
FirmwareState TwoArrays() {
    FirmwareState st = Base();
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        st.add_drive(pd, 2);
    }
    auto& ld0 = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld0.fault_tolerance = 2;
    ld0.spares = {4};
    ld0.label = "first";
    st.add_configured_drive(1, {2, 3}, 1u << 20).label = "second";
    st.set_page("lu_cache", {0x20, 0x00, 0x01});
    return st;
}

void WithoutExtendedMaps(FirmwareState& st) {
    st.set_page("raid", {0x02, 0x04, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
}

qvsim::Bytes IllegalRequest() {
    return qvsim::fixed_sense(0x05, 0x26, 0x00);
}

} // namespace

class ExistingDriveStepsHost : public CommitStepsHost {
protected:
    PEDITABLE_LOGICAL_DRIVE Ld(VK_WORD n) { return config().editable_ld_list[n]; }
    PEDITABLE_ARRAY Array(VK_WORD a) { return config().editable_array_list[a]; }
    void SetSpares(VK_WORD array, std::vector<VK_WORD> spares) {
        PEDITABLE_ARRAY a = Array(array);
        a->spare_drive_count = static_cast<VK_WORD>(spares.size());
        std::fill(std::begin(a->spare_drives), std::end(a->spare_drives), 0);
        std::copy(spares.begin(), spares.end(), a->spare_drives);
        for (const VK_WORD n : a->logical_drives) {
            if (n < 64 && Ld(n) != nullptr && Ld(n)->editable_array_number == array) {
                Ld(n)->flags |= kEditableLDSparesChanged;
            }
        }
    }
    const qvsim::FwLogicalDrive* Live(VK_WORD n) { return state().find_configured_drive(n); }
};

TEST_F(ExistingDriveStepsHost, SpareChanges) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> firmware;
        std::vector<VK_WORD> staged_spares;
        bool written;
        std::vector<std::uint16_t> spares_after;
    };
    const std::vector<Case> cases = {
        {"staged equal to the controller's", {}, {4}, false, {4}},
        {"a spare added", {}, {4, 5}, true, {4, 5}},
        {"a spare swapped", {}, {5}, true, {5}},
        {"the last spare removed", {}, {}, true, {}},
        {"the last spare removed without the extended map", WithoutExtendedMaps, {}, true, {}},
        {"a spare added without the extended map", WithoutExtendedMaps, {4, 5}, true, {4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState st = TwoArrays();
        if (c.firmware) {
            c.firmware(st);
        }
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        SetSpares(0, c.staged_spares);
        TelmarLogCapture log;
        const VK_UINT64 before = _VK_curr_alloc;
        EXPECT_EQ(__VK_CommitEditableSpareDriveChanges(cda(), 0), 0u);
        EXPECT_EQ(_VK_curr_alloc, before);
        EXPECT_EQ(SentWrites(0x51).size(), c.written ? 1u : 0u);
        EXPECT_EQ(TelmarLogCapture::Count("No actual spare drive changes for ld 0"), c.written ? 0u : 1u);
        ASSERT_TRUE(VK_ReInitializeCDA(cda()));
        EXPECT_EQ(Live(0)->spares, c.spares_after);
        EXPECT_EQ(Live(0)->members, (std::vector<std::uint16_t>{0, 1}));
        StopController();
    }
}

TEST_F(ExistingDriveStepsHost, RefusedSpareChangeNamesTheSEDQualification) {
    struct Case {
        const char* name;
        std::uint32_t feature_flags; // of spare 5, once the controller has refused it
        VK_UINT64 bit;
    };
    for (const Case& c : std::vector<Case>{{"locking enabled", 0x40, 0x100000},
                                           {"range length set", 0x80, 0x100000},
                                           {"any other refusal", 0, 0x4}}) {
        SCOPED_TRACE(c.name);
        FirmwareState st = TwoArrays();
        st.set_page("drive", {0x08, 0x58, 0x03}); // SED support
        ASSERT_NO_FATAL_FAILURE(StartStaged(st));
        ASSERT_NE(VK_GetPhysicalDriveEncryptionInfo(cda(), 5), 0xFFFFFFFFFFFFFFFFull); // identify cached
        SetSpares(0, {4, 5});
        FwFault refusal;
        refusal.bmic = 0x51;
        refusal.write = true;
        refusal.sense = IllegalRequest();
        state().faults.push_back(refusal);
        state().find_drive(5)->feature_flags = c.feature_flags;
        EXPECT_EQ(__VK_CommitEditableSpareDriveChanges(cda(), 0), c.bit);
        EXPECT_EQ(Live(0)->spares, (std::vector<std::uint16_t>{4}));
        StopController();
    }
}

TEST_F(ExistingDriveStepsHost, AcceleratorsBeforeAndAfterTheControllerWrites) {
    FirmwareState st = TwoArrays();
    st.find_configured_drive(0)->more_unit_flags = 0x08; // IO bypass
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    Ld(0)->logical_drive_accelerator = kLogicalDriveAcceleratorControllerCache;
    Ld(0)->flags |= kEditableLDAcceleratorChanged;
    Ld(1)->logical_drive_accelerator = kLogicalDriveAcceleratorIOBypass;
    Ld(1)->flags |= kEditableLDAcceleratorChanged;

    __VK_CommitEditableExistingDrivePreConfigurationSettings(cda());
    std::vector<qvsim::BmicCdb> sent = SentWrites(0x51);
    ASSERT_EQ(sent.size(), 1u) << "only the change that is not IO bypass";
    EXPECT_EQ(sent[0].lun(), 0);
    EXPECT_EQ(Live(0)->more_unit_flags & 0x28, 0);

    host().clear_requests();
    __VK_CommitEditableDrivePostConfigurationSettings(cda());
    sent = SentWrites(0x51);
    ASSERT_EQ(sent.size(), 1u) << "IO bypass after the controller-level writes";
    EXPECT_EQ(sent[0].lun(), 1);
    EXPECT_EQ(Live(1)->more_unit_flags & 0x28, 0x08);
    EXPECT_EQ(_VK_CDA(cda())->editable_configuration_commit_errors, 0u);

    // A refused accelerator write is the pass's 0x8.
    host().clear_requests();
    Ld(1)->logical_drive_accelerator = kLogicalDriveAcceleratorNone;
    state().faults.push_back(Failing(0x51, true));
    __VK_CommitEditableExistingDrivePreConfigurationSettings(cda());
    EXPECT_EQ(_VK_CDA(cda())->editable_configuration_commit_errors, kEditableConfigurationCommitErrorLogicalDriveSettings);
}

TEST_F(ExistingDriveStepsHost, LabelsOnlyWhereChanged) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    ASSERT_TRUE(Ld(0)->flags & kEditableLDLabelUnchanged);
    std::strcpy(Ld(1)->logical_drive_label, "Staged label of one");
    Ld(1)->flags &= ~kEditableLDLabelUnchanged;
    EXPECT_EQ(__VK_CommitEditableLogicalDriveLabels(cda()), 0u);
    const std::vector<qvsim::BmicCdb> sent = SentWrites(0x57);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].lun(), 1);
    ASSERT_EQ(state().updates.writes.size(), 1u);
    const qvsim::Bytes& data = state().updates.writes[0].data;
    ASSERT_GE(data.size(), 68u);
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 4),
              (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

    ASSERT_TRUE(VK_ReInitializeCDA(cda()));
    char label[65] = {};
    ASSERT_NE(VK_GetLogicalDriveVolumeLabel(cda(), 1, label, sizeof(label)), nullptr);
    EXPECT_STREQ(label, "Staged label of one");
    ASSERT_NE(VK_GetLogicalDriveVolumeLabel(cda(), 0, label, sizeof(label)), nullptr);
    EXPECT_STREQ(label, "first");
}

TEST_F(ExistingDriveStepsHost, AFailedLabelDoesNotStopThePass) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    for (VK_WORD n : {0, 1}) {
        Ld(n)->flags &= ~kEditableLDLabelUnchanged;
        std::snprintf(Ld(n)->logical_drive_label, sizeof(Ld(n)->logical_drive_label), "label %u", unsigned(n));
    }
    state().faults.push_back(Failing(0x57, true));
    EXPECT_EQ(__VK_CommitEditableLogicalDriveLabels(cda()), kEditableConfigurationCommitErrorLogicalDriveLabels);
    EXPECT_EQ(SentWrites(0x57).size(), 2u);
    EXPECT_EQ(Live(0)->label, "first");
    EXPECT_EQ(Live(1)->label, "label 1");
}

TEST_F(ExistingDriveStepsHost, LUCacheCreationCarriesWarmDepthAndTheDataDrive) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    PEDITABLE_LOGICAL_DRIVE cache = Ld(1);
    cache->flags |= kEditableLDNewDrive | kEditableLDLUCache;
    cache->lu_cache_ld_number = 0;
    cache->lu_cache_line_size_blocks = 0x0304;
    cache->lu_cache_policy = 2;
    cache->lu_cache_algorithm = 5;
    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1), 0u);
    const std::vector<qvsim::BmicCdb> sent = SentWrites(0xC0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].lun(), 1);
    EXPECT_EQ(sent[0].detail, (1u << 16) | 1u);
    ASSERT_EQ(state().updates.writes.size(), 1u);
    const qvsim::Bytes& d = state().updates.writes[0].data;
    ASSERT_EQ(d.size(), 512u);
    EXPECT_EQ(d[3], 5) << "caching algorithm";
    EXPECT_EQ(d[4], 2) << "write policy";
    EXPECT_EQ(d[5] | d[6] << 8, 0) << "the data drive";
    EXPECT_EQ(d[7] | d[8] << 8 | d[9] << 16 | d[10] << 24, 0x0304);
    EXPECT_EQ(d[75], 3) << "warm depth";
    EXPECT_EQ(std::count(d.begin(), d.end(), 0), 512 - 5) << "every other byte 0";
    EXPECT_EQ(Live(1)->lu_cache_other, 0);
}

TEST_F(ExistingDriveStepsHost, RefusedLUCacheCreationRemovesTheCacheDrive) {
    FirmwareState st = TwoArrays();
    st.find_configured_drive(1)->property |= 0x04; // the controller refuses a second cache on it
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    PEDITABLE_LOGICAL_DRIVE cache = Ld(1);
    cache->flags |= kEditableLDNewDrive | kEditableLDLUCache;
    cache->lu_cache_ld_number = 0;
    cache->lu_cache_policy = 1;
    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1),
              kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges);
    const std::vector<qvsim::BmicCdb> sent = SentWrites(0xC0);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].detail >> 16, 1u);
    EXPECT_EQ(sent[1].detail, (2u << 16) | 1u) << "force destroy";
    EXPECT_EQ(Live(1), nullptr) << "the cache logical drive is deleted";
    ASSERT_NE(Live(0), nullptr);
}

TEST_F(ExistingDriveStepsHost, LUCacheChangeAndTheCasesThatDoNothing) {
    FirmwareState st = TwoArrays();
    auto* cache = st.find_configured_drive(1);
    cache->property |= 0x04;
    cache->lu_cache_other = 0;
    cache->lu_cache_write_policy = 1;
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    Ld(1)->flags |= kEditableLDLUCache;
    Ld(1)->lu_cache_ld_number = 0;
    Ld(1)->lu_cache_policy = 2;

    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1), 0u);
    EXPECT_TRUE(SentWrites(0xC0).empty()) << "not marked changed";

    Ld(1)->lu_cache_ld_number = 7; // no such staged drive
    Ld(1)->flags |= kEditableLDLUCacheChanged;
    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1), 0u);
    EXPECT_TRUE(SentWrites(0xC0).empty());

    Ld(1)->lu_cache_ld_number = 0;
    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1), 0u);
    const std::vector<qvsim::BmicCdb> sent = SentWrites(0xC0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].detail, (5u << 16) | 1u);
    EXPECT_EQ(Live(1)->lu_cache_write_policy, 2);

    state().faults.push_back(Failing(0xC0, true));
    EXPECT_EQ(__VK_CommitEditableLUCacheLogicalDriveChanges(cda(), 1),
              kEditableConfigurationCommitErrorLUCacheLogicalDriveChanges);
}

TEST_F(ExistingDriveStepsHost, Transformations) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    TelmarLogCapture log;
    // No transformation bit and no SED change: the buffer is as read.
    EXPECT_EQ(__VK_CommitEditableTransformation(cda(), 1), 0u);
    EXPECT_TRUE(SentWrites(0x54).empty());
    EXPECT_EQ(TelmarLogCapture::Count("queued for transformation but operation/change unknown"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("No actual transforms for ld 1"), 1u);

    // Drive 5 joins logical drive 1 (RAID 0), which grows by a third.
    PEDITABLE_ARRAY array = Array(1);
    array->data_drives[array->data_drive_count++] = 5;
    PEDITABLE_LOGICAL_DRIVE ld = Ld(1);
    ld->drive_size_blocks = ld->drive_size_blocks / 2 * 3;
    ld->flags |= kEditableLDDrivesAdded | kEditableLDSizeChange | kEditableLDEnableSED;
    EXPECT_EQ(__VK_CommitEditableTransformation(cda(), 1), 0u);
    ASSERT_EQ(SentWrites(0x54).size(), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Transforming ld 1"), 1u);
    ASSERT_EQ(state().updates.writes.size(), 1u);
    EXPECT_EQ(state().updates.writes[0].data[57] & 0x10, 0x10) << "SED enabled";
    EXPECT_EQ(Live(1)->members, (std::vector<std::uint16_t>{2, 3, 5}));
    EXPECT_EQ(Live(1)->size_blocks, ld->drive_size_blocks);

    // A refused transformation is the step's bit.
    state().faults.push_back(Failing(0x54, true));
    array->data_drives[array->data_drive_count++] = 4;
    EXPECT_EQ(__VK_CommitEditableTransformation(cda(), 1), kEditableConfigurationCommitErrorLogicalDriveTransformation);
}

TEST_F(ExistingDriveStepsHost, ConfigurationTotalPastItsBufferSendsNothing) {
    FirmwareState st = TwoArrays();
    for (VK_WORD ld : {0, 1}) {
        st.device_patches.push_back({0x50, ld, 256, {0x8D, 0x02, 0x00, 0x00}}); // 653
    }
    ASSERT_NO_FATAL_FAILURE(StartStaged(st));
    SetSpares(0, {4, 5});
    Ld(1)->logical_drive_accelerator = kLogicalDriveAcceleratorIOBypass;
    Ld(1)->flags |= kEditableLDAcceleratorChanged | kEditableLDDrivesAdded | kEditableLDEnableSED;
    EXPECT_EQ(__VK_CommitEditableSpareDriveChanges(cda(), 0), kEditableConfigurationCommitErrorSpareDriveChanges);
    EXPECT_EQ(__VK_CommitEditableLogicalDriveAcceleratorChanges(cda(), 1),
              kEditableConfigurationCommitErrorLogicalDriveSettings);
    EXPECT_EQ(__VK_CommitEditableTransformation(cda(), 1), kEditableConfigurationCommitErrorLogicalDriveTransformation);
    EXPECT_TRUE(SentWrites().empty());
}

TEST_F(ExistingDriveStepsHost, SpareChangeAndLUCachePairingReadBack) {
    ASSERT_NO_FATAL_FAILURE(StartStaged(TwoArrays()));
    SetSpares(0, {5});
    PEDITABLE_LOGICAL_DRIVE cache = Ld(1);
    cache->flags |= kEditableLDNewDrive | kEditableLDLUCache;
    cache->lu_cache_ld_number = 0;
    cache->lu_cache_line_size_blocks = 128;
    cache->lu_cache_policy = 1;
    cache->lu_cache_algorithm = 1;
    __VK_CommitEditableDrivePostConfigurationSettings(cda());
    EXPECT_EQ(_VK_CDA(cda())->editable_configuration_commit_errors, 0u);
    VK_DestroyEditableConfiguration(cda());

    ASSERT_TRUE(VK_ReInitializeCDA(cda()));
    std::vector<VK_WORD> spares;
    for (VK_WORD pd = VK_EnumerateArraySpareDrives(cda(), 0, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateArraySpareDrives(cda(), 0, pd)) {
        spares.push_back(pd);
    }
    EXPECT_EQ(spares, (std::vector<VK_WORD>{5}));
    EXPECT_EQ(VK_GetLogicalDriveBasicInfo(cda(), 1) & 0x0F, 2u) << "logical drive 1 is a cache drive";
    // The simulated controller keeps the pairing on the cache drive only (no LU cache bits), so the
    // pairing is read from its record.
    EXPECT_EQ(Live(1)->lu_cache_other, 0);
    EXPECT_EQ(Live(1)->lu_cache_line_blocks, 128u);
}
