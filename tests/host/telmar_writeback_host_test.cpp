// Caller-owned write-back against a simulated controller: every ForUpdate/write pair sends its
// command with the length it should, changes what the next read returns, drops exactly the cached
// copies it made stale, and leaves the tracked allocator as it found it, whether the write succeeds
// or fails. Also the configuration writers' sense, the refused lengths and clearing the
// configuration with its cache rebalance.
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pavl_platform_private.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_cda_internal.h"
#include "telm_cda_writeback.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::FirmwareState;
using qvsim::FwFault;

// One BMIC write (or no-data command) as the request log shows it.
struct SentWrite {
    BmicCdb cdb;
    unsigned buf_size = 0;
    size_t data_out = 0; // bytes of data the request carried
};

// Logical drives 0 and 1 (1 with an LU cache) and the LU cache feature page.
FirmwareState TwoDrives() {
    FirmwareState s;
    for (VK_WORD d = 0; d < 4; ++d) {
        s.add_drive(d);
    }
    s.add_configured_drive(0, {0, 1}, 1 << 20).label = "old";
    s.add_configured_drive(1, {2, 3}, 1 << 20).property |= 0x04;
    s.set_page("lu_cache", {0x20, 0x00, 0x01});
    return s;
}

FwFault FailingWrite(VK_BYTE opcode, int err = EIO, qvsim::Bytes sense = {}) {
    FwFault f;
    f.bmic = opcode;
    f.write = true;
    f.err = err;
    f.sense = std::move(sense);
    return f;
}

class WriteBackHost : public telmar_host::ControllerHost {
protected:
    // Starts the controller, loads every cached copy a write can make stale, and clears the log.
    void Start(FirmwareState s = TwoDrives()) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(s)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        ASSERT_TRUE(VK_RequestSenseControllerParametersBuffer(cda()));
        ASSERT_TRUE(VK_RequestSenseCacheConfigStatusBuffer(cda()));
        ASSERT_TRUE(VK_RequestSurfaceStatusBuffer(cda()));
        ASSERT_TRUE(VK_RequestSenseMNPStatusBuffer(cda()));
        ASSERT_TRUE(VK_RequestGetPowerModeBuffer(cda()));
        ASSERT_TRUE(VK_RequestOOBMessageInterfaceBuffer(cda()));
        ASSERT_TRUE(VK_RequestConnectorPendingDiscoveryConfigurationBuffer(cda()));
        data()->flags[kCDAFlagsReadCachePercent] |= kCDAValidReadCachePercent;
        host().clear_requests();
        state().updates.writes.clear();
        baseline_ = _VK_curr_alloc;
    }

public:
    _CDA* data() { return _VK_CDA(cda()); }
    FirmwareState& state() { return fw_->fw_state(); }
    VK_UINT64 Outstanding() const { return _VK_curr_alloc - baseline_; }
    VK_DWORD Bits() { return data()->flags[kCDAFlagsBuffers]; }

    std::vector<SentWrite> Writes() {
        std::vector<SentWrite> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            auto b = BmicCdb::parse(telmar_host::ParseHex(r.decoded["cdb"].get<std::string>()));
            if (!b || !b->write) {
                continue;
            }
            SentWrite w;
            w.cdb = *b;
            w.buf_size = r.decoded["buf_size"].get<unsigned>();
            if (r.decoded.contains("data_out")) {
                w.data_out = telmar_host::ParseHex(r.decoded["data_out"].get<std::string>()).size();
            }
            out.push_back(w);
        }
        return out;
    }

    // The identify-logical-drive label, read fresh.
    std::string Label(VK_WORD ld) {
        VK_BYTE identify[118] = {};
        EXPECT_TRUE(telmar::ReadInto(data(), BMIC_IDENTIFY_LOGICAL_DRIVE, 0, ld, identify, sizeof(identify)));
        return std::string(reinterpret_cast<const char*>(identify + 38), strnlen(reinterpret_cast<const char*>(identify + 38), 64));
    }

protected:
    VK_UINT64 baseline_ = 0;
};

// One ForUpdate/write pair: `write` gets a buffer, edits it and hands it back; `check` then sees
// the edit through the next read.
struct Pair {
    const char* name;
    std::function<VK_BOOL(PCDA)> write;
    VK_BYTE opcode;
    VK_DWORD detail;
    VK_WORD lun;
    unsigned length; // the CDB's transfer length and the bytes sent
    VK_DWORD cleared;
    std::function<void(WriteBackHost&, PCDA)> check;
};

template <typename T> T* Fresh(T* p) {
    EXPECT_NE(p, nullptr);
    return p;
}

std::vector<Pair> Pairs() {
    constexpr VK_DWORD kParameterBits = kCDAValidIdentifyController | kCDAValidControllerParameters;
    return {
        {"controller parameters",
         [](PCDA cda) {
             CONTROLLER_PARAMETERS* p = Fresh(VK_GetControllerParametersBufferForUpdate(cda));
             if (p != nullptr) {
                 p->rebuild_priority = 118;
             }
             return VK_UpdateControllerParameters(cda, p);
         },
         0x63, 0, 0, 344, kParameterBits,
         [](WriteBackHost& t, PCDA cda) {
             ASSERT_TRUE(VK_RequestSenseControllerParametersBuffer(cda));
             EXPECT_EQ(t.data()->sense_controller_parameters_buffer.rebuild_priority, 118);
         }},
        {"survival power mode",
         [](PCDA cda) {
             SET_SURVIVAL_MODE* p = Fresh(VK_GetControllerSurvivalPowerModeBufferForUpdate(cda));
             if (p != nullptr) {
                 p->bSurvivalMode = 3;
             }
             return VK_UpdateControllerSurvivalPowerMode(cda, p);
         },
         0xEE, 2, 0, 1, kCDAValidPowerMode,
         [](WriteBackHost& t, PCDA cda) {
             ASSERT_TRUE(VK_RequestGetPowerModeBuffer(cda));
             EXPECT_EQ(t.data()->power_mode_buffer.bSelectedSurvivalMode, 3);
         }},
        {"surface delay",
         [](PCDA cda) {
             SURFACE_DELAY* p = Fresh(VK_GetSurfaceStatusBufferForUpdate(cda));
             if (p != nullptr) {
                 p->delay = 15;
                 p->parallel_scan_count = 2;
             }
             return VK_UpdateSurfaceStatus(cda, p);
         },
         0x60, 0, 0, 512, kCDAValidSurfaceStatus,
         [](WriteBackHost& t, PCDA cda) {
             ASSERT_TRUE(VK_RequestSurfaceStatusBuffer(cda));
             EXPECT_EQ(VK_WORD{t.data()->surface_status_buffer.wSurfaceDelay}, 15);
             EXPECT_EQ(t.state().surface.current_parallel, 2);
         }},
        {"MNP delay",
         [](PCDA cda) {
             MNP_DELAY* p = Fresh(VK_GetMNPDelayBufferForUpdate(cda));
             if (p != nullptr) {
                 p->delay = 120;
             }
             return VK_UpdateMNPDelay(cda, p);
         },
         0x62, 0, 0, 512, kCDAValidMNPStatus,
         [](WriteBackHost& t, PCDA cda) {
             ASSERT_TRUE(VK_RequestSenseMNPStatusBuffer(cda));
             EXPECT_EQ(VK_WORD{t.data()->sense_mnp_status_buffer.wMNPDelay}, 120);
         }},
        {"cache configuration",
         [](PCDA cda) {
             CACHE_CONFIG_STATUS* p = Fresh(VK_GetCacheConfigStatusBufferForUpdate(cda));
             if (p != nullptr) {
                 p->read_cache_size = 1024;
                 p->write_cache_size = 2560;
             }
             return VK_UpdateCacheConfigStatus(cda, p);
         },
         0xC0, 0, 0, 512, kParameterBits | kCDAValidCacheConfigStatus,
         [](WriteBackHost& t, PCDA cda) {
             EXPECT_EQ(t.data()->flags[kCDAFlagsReadCachePercent] & kCDAValidReadCachePercent, 0u)
                 << "the kept read-cache percent is stale";
             ASSERT_TRUE(VK_RequestSenseCacheConfigStatusBuffer(cda));
             EXPECT_EQ(t.data()->sense_cache_config_status_buffer.read_cache_size, 1024);
             EXPECT_EQ(t.data()->sense_cache_config_status_buffer.write_cache_size, 2560);
         }},
        {"set configuration",
         [](PCDA cda) {
             LOGICAL_DRIVE_CONFIG* p = Fresh(VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 0));
             if (p != nullptr) {
                 p->bBIOSDisableFlag = 1;
             }
             return VK_SetConfiguration(cda, 0, p);
         },
         0x51, 0, 0, 652, 0,
         [](WriteBackHost&, PCDA cda) {
             LOGICAL_DRIVE_CONFIG* p = Fresh(VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 0));
             ASSERT_NE(p, nullptr);
             EXPECT_EQ(p->bBIOSDisableFlag, 1);
             VK_free(p);
         }},
        {"change configuration",
         [](PCDA cda) {
             LOGICAL_DRIVE_CONFIG* p = Fresh(VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 1));
             if (p != nullptr) {
                 p->bBIOSDisableFlag = 1;
             }
             return VK_ChangeConfiguration(cda, 1, p);
         },
         0x54, 0, 1, 652, 0,
         [](WriteBackHost&, PCDA cda) {
             LOGICAL_DRIVE_CONFIG* p = Fresh(VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 1));
             ASSERT_NE(p, nullptr);
             EXPECT_EQ(p->bBIOSDisableFlag, 1);
             VK_free(p);
         }},
        {"join split mirror",
         [](PCDA cda) {
             LOGICAL_DRIVE_CONFIG* p = Fresh(VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 1));
             if (p != nullptr) {
                 p->bBIOSDisableFlag = 1;
             }
             return VK_JoinSplitMirror(cda, 1, p);
         },
         0x5E, 0, 1, 652, 0,
         [](WriteBackHost& t, PCDA) { EXPECT_EQ(t.state().find_configured_drive(1)->bios_disable_flag, 1); }},
        {"label",
         [](PCDA cda) {
             LABEL_LOGICAL_DRIVE* p = Fresh(VK_GetLabelLogicalDriveBufferForUpdate(cda));
             if (p != nullptr) {
                 EXPECT_TRUE(_VK_GetLogicalDriveDefaultLabel(0, reinterpret_cast<char*>(p->pbLogicalDriveLabel),
                                                             sizeof(p->pbLogicalDriveLabel)));
             }
             return VK_LabelLogicalDrive(cda, 0, p);
         },
         0x57, 0, 0, 512, 0, [](WriteBackHost& t, PCDA) { EXPECT_EQ(t.Label(0), "Logical Drive 1"); }},
        {"I2C configuration",
         [](PCDA cda) {
             PI2C_INFO p = Fresh(VK_RequestI2ConfigurationForUpdate(cda));
             if (p != nullptr) {
                 EXPECT_EQ(p->slave_address, 0x70);
                 p->slave_address = 0x50;
                 p->configuration = 0x01;
             }
             return VK_SetI2Configuration(cda, p);
         },
         0x80, 0x50000000, 0x01, 0, 0,
         [](WriteBackHost&, PCDA cda) {
             PI2C_INFO p = Fresh(VK_RequestI2ConfigurationForUpdate(cda));
             ASSERT_NE(p, nullptr);
             EXPECT_EQ(p->slave_address, 0x50);
             EXPECT_EQ(p->configuration, 0x01);
             VK_free(p);
         }},
        {"OOB message interface",
         [](PCDA cda) {
             POOB_MESSAGE_INTERFACE p = Fresh(VK_RequestOOBMessageInterfaceForUpdate(cda));
             if (p != nullptr) {
                 p->bPendingInterfaceType = 0x02;
                 p->bPendingI2cSlaveAddress = 0x52;
             }
             return VK_SetOOBMessageInterface(cda, p);
         },
         0x80, 0x50000, 0, 8, kCDAValidOOBMessageInterface,
         [](WriteBackHost& t, PCDA cda) {
             ASSERT_TRUE(VK_RequestOOBMessageInterfaceBuffer(cda));
             EXPECT_EQ(t.data()->oob_message_interface_buffer.bPendingInterfaceType, 0x02);
             EXPECT_EQ(t.data()->oob_message_interface_buffer.bPendingI2cSlaveAddress, 0x52);
             EXPECT_EQ(t.data()->oob_message_interface_buffer.bActiveInterfaceType, 0x01);
         }},
        // Drive 0 has no LU cache to read: drive 1's settings are the template.
        {"LU cache create",
         [](PCDA cda) {
             PLU_CACHE_CREATE p = Fresh(VK_RequestLUCacheConfigurationForUpdate(cda, 1));
             if (p != nullptr) {
                 p->wPrimaryLUN = 1;
                 p->bCachingAlgorithm = 2;
                 p->dwCacheLineSizeBlocks = 128;
             }
             return VK_CreateLUCache(cda, 0, p);
         },
         0xC0, 0x10000, 1, 512, 0,
         [](WriteBackHost&, PCDA cda) {
             PLU_CACHE_CREATE p = Fresh(VK_RequestLUCacheConfigurationForUpdate(cda, 0));
             ASSERT_NE(p, nullptr);
             EXPECT_EQ(p->bCachingAlgorithm, 2);
             EXPECT_EQ(VK_DWORD{p->dwCacheLineSizeBlocks}, 128u); // packed field: compare a copy
             VK_free(p);
         }},
        {"LU cache modify",
         [](PCDA cda) {
             PLU_CACHE_CREATE p = Fresh(VK_RequestLUCacheConfigurationForUpdate(cda, 1));
             if (p != nullptr) {
                 p->bWritePolicy = 1;
                 p->dwCacheLineSizeBlocks = 256;
             }
             return VK_ModifyLUCache(cda, 1, p);
         },
         0xC0, 0x50001, 1, 512, 0,
         [](WriteBackHost&, PCDA cda) {
             PLU_CACHE_CREATE p = Fresh(VK_RequestLUCacheConfigurationForUpdate(cda, 1));
             ASSERT_NE(p, nullptr);
             EXPECT_EQ(p->bWritePolicy, 1);
             EXPECT_EQ(VK_DWORD{p->dwCacheLineSizeBlocks}, 256u);
             VK_free(p);
         }},
        {"LU cache force destroy",
         [](PCDA cda) { return VK_ForceDestoryLUCache(cda, 1, Fresh(VK_RequestLUCacheConfigurationForUpdate(cda, 1))); },
         0xC0, 0x20001, 1, 512, 0,
         [](WriteBackHost& t, PCDA) { EXPECT_EQ(t.state().find_configured_drive(1)->property & 0x04, 0); }},
    };
}

// Each pair, once succeeding and once with its write failing: the command and its length on the
// request log, the next read, the validity bits, and nothing left allocated either way.
TEST_F(WriteBackHost, EveryPairSendsOnceChangesTheNextReadAndFreesItsBuffer) {
    for (const bool failing : {false, true}) {
        for (const Pair& p : Pairs()) {
            SCOPED_TRACE(std::string(p.name) + (failing ? " (write failing)" : ""));
            ASSERT_NO_FATAL_FAILURE(Start());
            if (failing) {
                state().faults.push_back(FailingWrite(p.opcode));
            }
            const VK_DWORD before = Bits();
            ASSERT_EQ(before & p.cleared, p.cleared) << "loaded before the write";

            EXPECT_EQ(p.write(cda()) != kFalse, !failing);
            EXPECT_EQ(Outstanding(), 0u) << "the write owns the buffer";

            const std::vector<SentWrite> sent = Writes();
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].cdb.opcode, p.opcode);
            EXPECT_EQ(sent[0].cdb.detail, p.detail);
            EXPECT_EQ(sent[0].cdb.lun(), p.lun);
            EXPECT_EQ(sent[0].cdb.length, p.length);
            EXPECT_EQ(sent[0].buf_size, p.length);
            EXPECT_EQ(sent[0].data_out, p.length);
            if (failing) {
                EXPECT_EQ(Bits(), before) << "a failed write leaves every validity bit";
                EXPECT_TRUE(state().updates.writes.empty());
                EXPECT_EQ(data()->flags[kCDAFlagsReadCachePercent], kCDAValidReadCachePercent);
            } else {
                EXPECT_EQ(Bits(), before & ~p.cleared);
                ASSERT_EQ(state().updates.writes.size(), 1u);
                EXPECT_EQ(state().updates.writes[0].length, p.length);
                p.check(*this, cda());
            }
            StopController();
        }
    }
}

// Writes handed nothing send nothing and keep every bit, on a controller that would take them.
TEST_F(WriteBackHost, NullWritesSendNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_DWORD before = Bits();
    EXPECT_FALSE(VK_UpdateControllerParameters(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateControllerSurvivalPowerMode(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateSurfaceStatus(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateMNPDelay(cda(), nullptr));
    EXPECT_FALSE(VK_UpdateCacheConfigStatus(cda(), nullptr));
    EXPECT_FALSE(VK_SetConfiguration(cda(), 0, nullptr));
    EXPECT_FALSE(VK_ChangeConfiguration(cda(), 0, nullptr));
    EXPECT_FALSE(VK_JoinSplitMirror(cda(), 0, nullptr));
    EXPECT_FALSE(VK_LabelLogicalDrive(cda(), 0, nullptr));
    EXPECT_FALSE(VK_SetI2Configuration(cda(), nullptr));
    EXPECT_FALSE(VK_SetOOBMessageInterface(cda(), nullptr));
    EXPECT_FALSE(VK_CreateLUCache(cda(), 0, nullptr));
    EXPECT_FALSE(VK_ForceDestoryLUCache(cda(), 1, nullptr));
    EXPECT_FALSE(VK_ModifyLUCache(cda(), 1, nullptr));
    EXPECT_FALSE(VK_SetConnectorDiscoveryConfigurationBuffer(cda(), nullptr));
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Bits(), before);
    EXPECT_EQ(data()->flags[kCDAFlagsReadCachePercent], kCDAValidReadCachePercent);
}

// The discovery write never takes the buffer: the caller frees it, sent or not.
TEST_F(WriteBackHost, DiscoveryConfigurationStaysTheCallers) {
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "write failing" : "write taken");
        ASSERT_NO_FATAL_FAILURE(Start());
        if (failing) {
            state().faults.push_back(FailingWrite(0x83));
        }
        const VK_DWORD before = Bits();
        auto* buffer = static_cast<PDISCOVERY_CONFIGURATION_BUFFER>(VK_malloc(sizeof(DISCOVERY_CONFIGURATION_BUFFER)));
        ASSERT_NE(buffer, nullptr);
        std::memcpy(buffer, &data()->connector_pending_discovery_configuration_buffer, sizeof(*buffer));
        buffer->connectors[0].bLinkWidth = 0x04;
        EXPECT_EQ(VK_SetConnectorDiscoveryConfigurationBuffer(cda(), buffer) != kFalse, !failing);
        EXPECT_EQ(Outstanding(), sizeof(DISCOVERY_CONFIGURATION_BUFFER));
        VK_free(buffer);

        const std::vector<SentWrite> sent = Writes();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].cdb.opcode, 0x83);
        EXPECT_EQ(sent[0].cdb.detail, 2u);
        EXPECT_EQ(sent[0].buf_size, 98u);
        if (failing) {
            EXPECT_EQ(Bits(), before);
        } else {
            EXPECT_EQ(Bits(), before & ~kCDAValidPendingDiscoveryConfiguration);
            ASSERT_TRUE(VK_RequestConnectorPendingDiscoveryConfigurationBuffer(cda()));
            EXPECT_EQ(data()->connector_pending_discovery_configuration_buffer.connectors[0].bLinkWidth, 0x04);
        }
        StopController();
    }
}

// A write the controller does not offer sends nothing: the LU cache writers still free their
// buffer, the discovery write still leaves it to the caller.
TEST_F(WriteBackHost, WritesTheControllerDoesNotOfferSendNothing) {
    FirmwareState s = TwoDrives();
    s.remove_page(0x01, 0x02);
    qvsim::Bytes bp(16, 0xC7);
    for (const std::uint8_t b : {0x03, 0x00, 0x07}) { // reads only
        bp.push_back(b);
    }
    s.set_page("backplane_discovery_protocol", bp);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
    ASSERT_EQ(VK_ControllerSupportsLUCache(cda()) & kControllerSupportsLUCacheSupported, 0);
    EXPECT_EQ(VK_RequestLUCacheConfigurationForUpdate(cda(), 1), nullptr);
    for (const auto& write : {VK_CreateLUCache, VK_ForceDestoryLUCache, VK_ModifyLUCache}) {
        auto* lu = static_cast<PLU_CACHE_CREATE>(VK_malloc(sizeof(LU_CACHE_CREATE)));
        ASSERT_NE(lu, nullptr);
        std::memset(lu, 0, sizeof(*lu));
        EXPECT_FALSE(write(cda(), 1, lu));
        EXPECT_EQ(Outstanding(), 0u);
    }
    auto* buffer = static_cast<PDISCOVERY_CONFIGURATION_BUFFER>(VK_malloc(sizeof(DISCOVERY_CONFIGURATION_BUFFER)));
    ASSERT_NE(buffer, nullptr);
    std::memcpy(buffer, &data()->connector_pending_discovery_configuration_buffer, sizeof(*buffer));
    EXPECT_FALSE(VK_SetConnectorDiscoveryConfigurationBuffer(cda(), buffer));
    EXPECT_EQ(Outstanding(), sizeof(DISCOVERY_CONFIGURATION_BUFFER));
    VK_free(buffer);
    EXPECT_TRUE(Writes().empty());
}

// A total the controller reports beyond the buffer (or 0) is never sent: the write refuses, frees
// the buffer and changes nothing. The totals change after start, as a controller's reply might.
TEST_F(WriteBackHost, ReportedTotalsOutsideTheBufferAreNeverSent) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> setup;
        std::function<VK_BOOL(PCDA)> write;
    };
    auto patch_config_total = [](VK_DWORD total) {
        return [total](FirmwareState& s) {
            qvsim::FwPatch p;
            p.opcode = 0x50;
            p.offset = 256;
            p.bytes = {VK_BYTE(total), VK_BYTE(total >> 8), VK_BYTE(total >> 16), VK_BYTE(total >> 24)};
            s.patches.push_back(p);
        };
    };
    auto set_config = [](PCDA cda) {
        return VK_SetConfiguration(cda, 0, VK_GetLogicalDriveConfigurationBufferForUpdate(cda, 0));
    };
    auto parameters = [](PCDA cda) {
        return VK_UpdateControllerParameters(cda, VK_GetControllerParametersBufferForUpdate(cda));
    };
    auto cache = [](PCDA cda) { return VK_UpdateCacheConfigStatus(cda, VK_GetCacheConfigStatusBufferForUpdate(cda)); };
    const Case cases[] = {
        {"parameters 345", [](FirmwareState& s) { s.parameters.total_length = 345; }, parameters},
        {"parameters 0", [](FirmwareState& s) { s.parameters.total_length = 0; }, parameters},
        {"cache 513 (the overflow buffer)", [](FirmwareState& s) { s.cache.total_length = 513; }, cache},
        {"cache 0xFFFFFFFF", [](FirmwareState& s) { s.cache.total_length = 0xFFFFFFFF; }, cache},
        {"configuration 653", patch_config_total(653), set_config},
        {"configuration 0", patch_config_total(0), set_config},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        k.setup(state());
        const VK_DWORD before = Bits();
        TelmarLogCapture log;
        EXPECT_FALSE(k.write(cda()));
        EXPECT_EQ(Outstanding(), 0u);
        EXPECT_TRUE(Writes().empty());
        EXPECT_EQ(Bits(), before);
        EXPECT_EQ(TelmarLogCapture::Count("Refused to write"), 1u);
        StopController();
    }
}

// The configuration writers fail on CHECK CONDITION, whether the controller refuses the record or
// the drive number; the buffer is freed either way.
TEST_F(WriteBackHost, ConfigurationWritersFailOnCheckCondition) {
    FirmwareState s = TwoDrives();
    s.identify.max_logical_drives = 8;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
    state().faults.push_back(FailingWrite(0x51, 0, qvsim::fixed_sense(0x05, 0x26, 0x00)));
    LOGICAL_DRIVE_CONFIG* config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), 0);
    ASSERT_NE(config, nullptr);
    config->bBIOSDisableFlag = 1;
    EXPECT_FALSE(VK_SetConfiguration(cda(), 0, config));
    EXPECT_EQ(Outstanding(), 0u);
    EXPECT_EQ(state().find_configured_drive(0)->bios_disable_flag, 0);

    // Drive 9 is above the controller's maximum: the controller refuses it on its own.
    config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), 0);
    ASSERT_NE(config, nullptr);
    EXPECT_FALSE(VK_ChangeConfiguration(cda(), 9, config));
    EXPECT_EQ(Outstanding(), 0u);
    EXPECT_EQ(Writes().size(), 2u);
    EXPECT_TRUE(state().updates.writes.empty());

    // The next one goes through.
    config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), 0);
    ASSERT_NE(config, nullptr);
    config->bBIOSDisableFlag = 1;
    EXPECT_TRUE(VK_SetConfiguration(cda(), 0, config));
    EXPECT_EQ(state().find_configured_drive(0)->bios_disable_flag, 1);
}

// A logical drive of 64 or more is refused before anything is sent, and the buffer stays the
// caller's.
TEST_F(WriteBackHost, LogicalDrive70IsRefusedAndTheBufferKept) {
    ASSERT_NO_FATAL_FAILURE(Start());
    TelmarLogCapture log;
    LOGICAL_DRIVE_CONFIG* config = VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), 0);
    ASSERT_NE(config, nullptr);
    for (const auto& write : {VK_SetConfiguration, VK_ChangeConfiguration, VK_JoinSplitMirror}) {
        EXPECT_FALSE(write(cda(), 70, config));
        EXPECT_EQ(Outstanding(), sizeof(LOGICAL_DRIVE_CONFIG));
    }
    VK_free(config);
    LABEL_LOGICAL_DRIVE* label = VK_GetLabelLogicalDriveBufferForUpdate(cda());
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(VK_LabelLogicalDrive(cda(), 70, label));
    EXPECT_EQ(Outstanding(), sizeof(LABEL_LOGICAL_DRIVE));
    VK_free(label);
    PLU_CACHE_CREATE lu = VK_RequestLUCacheConfigurationForUpdate(cda(), 1);
    ASSERT_NE(lu, nullptr);
    for (const auto& write : {VK_CreateLUCache, VK_ForceDestoryLUCache, VK_ModifyLUCache}) {
        EXPECT_FALSE(write(cda(), 70, lu));
        EXPECT_EQ(Outstanding(), sizeof(LU_CACHE_CREATE));
    }
    VK_free(lu);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(TelmarLogCapture::Count("error: Request for ld out of range"), 7u);
}

// ---- Clearing the configuration ------------------------------------------------------------------

struct ClearCase {
    const char* name;
    VK_WORD total, read, write, nbb; // nbb sets the maximum write share: (total - nbb) x 100 / total
    VK_BYTE shift, flags;
    bool cache_write; // whether a 0xC0 follows
    VK_WORD new_read, new_write;
    VK_BYTE new_flags;
};

FirmwareState ClearState(const ClearCase& k) {
    FirmwareState s = TwoDrives();
    s.cache.total_memory = k.total;
    s.cache.read_cache_size = k.read;
    s.cache.write_cache_size = k.write;
    s.cache.non_battery_backed = k.nbb;
    s.cache.memory_shift = k.shift;
    s.cache.configuration_flags = k.flags;
    return s;
}

TEST_F(WriteBackHost, ClearConfigurationRebalancesTheCacheAndClearsItsFlags) {
    const ClearCase cases[] = {
        {"maximum 25", 1024, 512, 512, 768, 0, 0x07, true, 768, 256, 0x01},
        {"maximum 33: read 67 rounds up to 70", 1024, 512, 512, 686, 0, 0x06, true, 716, 308, 0x00},
        {"within the maximum: flags only", 1024, 512, 512, 0, 0, 0x06, true, 512, 512, 0x00},
        {"nothing to change: no write", 1024, 512, 512, 0, 0, 0x01, false, 512, 512, 0x01},
        // 0xFFFF << 20 x 100 wraps 32 bits.
        {"shift 20", 0xFFFF, 0x7FFF, 0x8000, 0xBFFF, 20, 0x00, true, 49151, 16384, 0x00},
        {"shift 40: sizes stay, flags go", 1024, 512, 512, 768, 40, 0x04, true, 512, 512, 0x00},
    };
    for (const ClearCase& k : cases) {
        SCOPED_TRACE(k.name);
        ASSERT_NO_FATAL_FAILURE(Start(ClearState(k)));
        EXPECT_TRUE(VK_ClearConfiguration(cda(), 0x1, 0xFFFFFFFF, kFalse));
        EXPECT_EQ(Outstanding(), 0u);
        EXPECT_TRUE(state().logical_drives.empty());
        EXPECT_EQ(state().updates.register_new_disks, 0u);

        const std::vector<SentWrite> sent = Writes();
        ASSERT_EQ(sent.size(), k.cache_write ? 2u : 1u);
        EXPECT_EQ(sent[0].cdb.opcode, 0x6E);
        EXPECT_EQ(sent[0].buf_size, 512u);
        const auto& clear = state().updates.writes.at(0).data;
        ASSERT_EQ(clear.size(), 512u);
        EXPECT_EQ(clear[0], 0x01);
        EXPECT_EQ(clear[4], 0xFF);
        EXPECT_EQ(clear[7], 0xFF);
        if (k.cache_write) {
            EXPECT_EQ(sent[1].cdb.opcode, 0xC0);
            EXPECT_EQ(sent[1].buf_size, 512u);
        }
        EXPECT_EQ(state().cache.read_cache_size, k.new_read);
        EXPECT_EQ(state().cache.write_cache_size, k.new_write);
        EXPECT_EQ(state().cache.configuration_flags, k.new_flags);
        StopController();
    }
}

TEST_F(WriteBackHost, ClearConfigurationRegistersNewDisksOnlyWithRescan) {
    for (const VK_BOOL rescan : {kFalse, kTrue}) {
        ASSERT_NO_FATAL_FAILURE(Start());
        EXPECT_TRUE(VK_ClearConfiguration(cda(), 0, 2, rescan));
        EXPECT_EQ(state().updates.register_new_disks, rescan ? 1u : 0u);
        ASSERT_EQ(state().logical_drives.size(), 1u) << "only the drive using drive 2 goes";
        EXPECT_EQ(state().logical_drives[0].number, 0);
        EXPECT_EQ(Outstanding(), 0u);
        StopController();
    }
}

// After the clear itself succeeded the result stays TRUE, whatever happens to the cache.
TEST_F(WriteBackHost, ClearConfigurationFailuresAfterTheClearStillSucceed) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> setup;
        const char* line;
        size_t writes; // commands on the request log
    };
    const Case cases[] = {
        {"cache read failing",
         [](FirmwareState& s) {
             FwFault f;
             f.bmic = 0xC1;
             f.err = EIO;
             f.write = false;
             s.faults.push_back(f);
         },
         "Failed to get cache config status buffer", 1},
        {"cache write failing", [](FirmwareState& s) { s.faults.push_back(FailingWrite(0xC0)); }, "Set cache config failed",
         2},
        {"cache total 600", [](FirmwareState& s) { s.cache.total_length = 600; }, "Set cache config failed", 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s = TwoDrives();
        s.cache.configuration_flags = 0x06;
        ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
        k.setup(state());
        TelmarLogCapture log;
        EXPECT_TRUE(VK_ClearConfiguration(cda(), 0, 0xFFFFFFFF, kTrue));
        EXPECT_EQ(Outstanding(), 0u);
        EXPECT_EQ(Writes().size(), k.writes);
        EXPECT_EQ(TelmarLogCapture::Count(k.line), 1u);
        EXPECT_EQ(state().updates.register_new_disks, 1u);
        EXPECT_EQ(state().cache.configuration_flags, 0x06);
        StopController();
    }
}

TEST_F(WriteBackHost, FailedClearSendsNothingElse) {
    ASSERT_NO_FATAL_FAILURE(Start());
    state().faults.push_back(FailingWrite(0x6E));
    EXPECT_FALSE(VK_ClearConfiguration(cda(), 0, 0xFFFFFFFF, kTrue));
    EXPECT_EQ(Opcodes(), std::vector<int>{0x6E});
    EXPECT_EQ(state().updates.register_new_disks, 0u);
    EXPECT_EQ(state().logical_drives.size(), 2u);
}

TEST_F(WriteBackHost, MaximumWriteCachePercentIsReadFromTheCachedCopy) {
    FirmwareState s = TwoDrives();
    s.cache.total_memory = 1000;
    s.cache.read_cache_size = 500;
    s.cache.write_cache_size = 500;
    s.cache.non_battery_backed = 280;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
    EXPECT_EQ(_VK_GetControllerMaxWriteCachePercent(cda(), kFalse), 72);
    state().cache.board_present = 0;
    data()->flags[kCDAFlagsBuffers] &= ~kCDAValidCacheConfigStatus;
    EXPECT_EQ(_VK_GetControllerMaxWriteCachePercent(cda(), kFalse), 255);
}

} // namespace
