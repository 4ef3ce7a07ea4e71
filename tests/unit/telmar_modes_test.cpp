// Connector records, the controller mode and power-mode words, RAID-level and capability words,
// encryption capabilities and the inventory decoders, on hand-filled cached buffers: nothing here
// reaches a controller (the data area has no descriptor, so any read that is not cached fails).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_pprivate.h"
#include "telm_private.h"
#include "telm_prop_replies.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_DWORD kPagesOffered = 0x80000000;   // IDENTIFY dwEvenMoreControllerFlags
constexpr VK_DWORD kLongFlagsValid = 0x00100000; // IDENTIFY dwYetMoreControllerFlags
constexpr VK_DWORD kHBACapable = 0x02000000;     // IDENTIFY dwYetMoreControllerFlags
constexpr VK_DWORD kVeskHBA = 0x20;              // IDENTIFY dwExtraControllerFlags
constexpr VK_DWORD kPerConnectorModes = 0x1000;  // IDENTIFY dwExtraControllerFlags

class Modes : public ::testing::Test {
protected:
    Modes() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) { Reset(); }

    void Reset() {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                       kCDAValidSubsystemParameters | kCDAValidCacheConfigStatus;
        c()->controller_firmware_feature_version = 1;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    SUBSYSTEM_PARAMETERS& subsystem() { return c()->sense_subsystem_parameters_buffer; }
    SENSE_FEATURE_PAGES& pages() { return c()->sense_feature; }
    void Valid(VK_DWORD bits) { c()->flags[kCDAFlagsBuffers] |= bits; }
    void Invalid(VK_DWORD bits) { c()->flags[kCDAFlagsBuffers] &= ~bits; }

    void WithPages() {
        id().dwEvenMoreControllerFlags |= kPagesOffered;
        Valid(kCDAValidFeaturePages);
    }
    void OpenExtraGate() {
        id().dwYetMoreControllerFlags |= kLongFlagsValid;
        id().dwFixedStructureLength = 287;
    }
    // A current controller whose connectors carry their own modes.
    void MixedCapable() {
        WithPages();
        OpenExtraGate();
        id().dwExtraControllerFlags |= kPerConnectorModes;
        c()->controller_firmware_feature_version = 5;
    }
    // A connector of the port tables; internal ones first.
    void Port(bool external, unsigned port, VK_QWORD phy_map, const char* short_name, VK_BYTE number = 0,
              VK_BYTE mode = 0, VK_BYTE support = 0) {
        PHYSICAL_PORT_INFO& info = external ? subsystem().externalPortInfo[port] : subsystem().internalPortInfo[port];
        ADDITIONAL_PHYSICAL_PORT_INFO& more =
            external ? subsystem().additionalExternalPortInfo[port] : subsystem().additionalInternalPortInfo[port];
        info.qwControllerPhyMap = phy_map;
        std::memcpy(info.sPhysicalPort, short_name, 2);
        more.bConnectionNumber = number;
        more.bConnectionMode = mode;
        more.bConnModeSupport = support;
    }
    CONTROLLER_CONNECTOR_INFO Connector(VK_WORD index, VK_BOOL expected_valid = kTrue) {
        CONTROLLER_CONNECTOR_INFO info;
        std::memset(&info, 0xA5, sizeof(info));
        EXPECT_EQ(VK_GetControllerConnectorInfo(cda(), index, &info), expected_valid) << "connector " << index;
        return info;
    }
    // Discovery configuration of one kind, with its sub-command supported and its copy cached.
    void Discovery(DISCOVERY_CONFIGURATION_BUFFER _CDA::*buffer, VK_DWORD bit, VK_BYTE subcommand, VK_BYTE number,
                   VK_BYTE protocol, VK_BYTE width) {
        pages().page_backplane_discovery_protocol.bSupportedSubCommands |= subcommand;
        Valid(bit);
        DISCOVERY_CONFIGURATION_BUFFER& d = c()->*buffer;
        d.bConnectorCount = 16;
        d.connectors[number].bDiscoveryProtocol = protocol;
        d.connectors[number].bLinkWidth = width;
    }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

// ---- Mode word -----------------------------------------------------------------------------------

TEST_F(Modes, ModeWordOfOlderControllersFollowsTheirFlagsAndNVRAM) {
    struct Row {
        const char* name;
        VK_DWORD yet_more;
        bool gate;
        VK_DWORD extra;
        VK_BYTE controller_mode;
        VK_BYTE nvram;
        bool parameters_valid;
        VK_WORD expected;
    };
    const Row rows[] = {
        {"plain legacy", 0, false, 0, 0, 0x0C, true, 0x0012},
        {"HBA capable, NVRAM mixed bit", kHBACapable, false, 0, 0, 0x04, true, 0x005B},
        {"HBA capable, NVRAM HBA bit", kHBACapable, false, 0, 0, 0x08, true, 0x005B},
        {"HBA capable, NVRAM clear", kHBACapable, false, 0, 0, 0x00, true, 0x0052},
        // The cached copy answers even when the load fails: it is all zeros then.
        {"HBA capable, parameters unreadable", kHBACapable, false, 0, 0, 0x00, false, 0x0052},
        {"Vesk HBA, running HBA, NVRAM HBA", kHBACapable, true, kVeskHBA, 1, 0x0C, true, 0x00DB},
        {"Vesk HBA, running RAID, NVRAM mixed", kHBACapable, true, kVeskHBA, 0, 0x04, true, 0x00E2},
        {"Vesk HBA, running mode 2, NVRAM clear", kHBACapable, true, kVeskHBA, 2, 0x00, true, 0x00D1},
        {"Vesk HBA, parameters unreadable: no pending mode", kHBACapable, true, kVeskHBA, 1, 0x08, false, 0x00C3},
        {"Vesk bit behind a closed gate", kHBACapable, false, kVeskHBA, 1, 0x08, true, 0x005B},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        id().dwYetMoreControllerFlags = r.yet_more;
        if (r.gate) {
            OpenExtraGate();
        }
        id().dwExtraControllerFlags = r.extra;
        id().bCurrentControllerMode = r.controller_mode;
        c()->sense_controller_parameters_buffer.bNVRAMFlags = r.nvram;
        if (!r.parameters_valid) {
            Invalid(kCDAValidControllerParameters);
        }
        EXPECT_EQ(VK_GetControllerModeInfo(cda()), r.expected);
    }
}

TEST_F(Modes, ModeWordOfAMixedCapableControllerComesFromItsConnectors) {
    struct Row {
        const char* name;
        std::vector<VK_BYTE> pending; // per connector number, all internal
        VK_WORD expected_pending;
    };
    const Row rows[] = {
        {"RAID and HBA", {0, 1}, kControllerModePendingMixed},
        {"all HBA", {1, 1, 1}, kControllerModePendingHBA},
        {"all RAID", {0, 0}, kControllerModePendingRAID},
        {"a mixed connector", {0, 2}, kControllerModePendingMixed},
        {"a connector pending an unknown mode", {0, 7}, kControllerModePendingUnknown},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        MixedCapable();
        id().bCurrentControllerMode = 2;
        subsystem().bInternalPortCount = static_cast<VK_BYTE>(r.pending.size());
        for (size_t i = 0; i < r.pending.size(); ++i) {
            Port(false, static_cast<unsigned>(i), 0x0F, "1I", static_cast<VK_BYTE>(i));
            c()->sense_controller_parameters_buffer.bConnectorMode[i] = r.pending[i];
        }
        EXPECT_EQ(VK_GetControllerModeInfo(cda()),
                  kControllerModeSupportsMixedMode | kControllerModeCurrentMixed | r.expected_pending);
    }
}

TEST_F(Modes, MixedCapableControllerWithAnUnreadableConnectorOrNoneAtAll) {
    MixedCapable();
    // Nine internal ports claimed: the ninth lies past the 8-entry tables and cannot be read.
    subsystem().bInternalPortCount = 9;
    for (unsigned i = 0; i < 8; ++i) {
        Port(false, i, 0x01, "1I", static_cast<VK_BYTE>(i));
    }
    EXPECT_EQ(VK_GetControllerModeInfo(cda()) & kControllerModePendingMask, kControllerModePendingUnknown);

    subsystem().bInternalPortCount = 0;
    log_.lines().clear();
    EXPECT_EQ(VK_GetControllerModeInfo(cda()) & kControllerModePendingMask, kControllerModePendingHBA);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'num_connectors > 0' failed: Failed to get number of connectors"), 1u);
}

TEST_F(Modes, ModeWordIsZeroWithoutIdentifyAndPredicatesReadItsFields) {
    Invalid(kCDAValidIdentifyController);
    EXPECT_EQ(VK_GetControllerModeInfo(cda()), 0);
    EXPECT_FALSE(VK_ControllerCurrentModeIsRAID(cda()));
    EXPECT_FALSE(VK_ControllerPendingModeIsUnknown(cda()));

    Reset();
    id().dwYetMoreControllerFlags = kHBACapable;
    OpenExtraGate();
    id().dwExtraControllerFlags = kVeskHBA;
    id().bCurrentControllerMode = 1;
    c()->sense_controller_parameters_buffer.bNVRAMFlags = 0x04;
    EXPECT_TRUE(VK_ControllerCurrentModeIsHBA(cda()));
    EXPECT_FALSE(VK_ControllerCurrentModeIsRAID(cda()));
    EXPECT_TRUE(VK_ControllerPendingModeIsMixed(cda()));
    EXPECT_TRUE(VK_ControllerSupportsVeskHBAMode(cda()));
    EXPECT_FALSE(VK_ControllerSupportsMixedMode(cda()));
    id().bCurrentControllerMode = 9;
    EXPECT_TRUE(VK_ControllerCurrentModeIsUnknown(cda()));
}

// ---- Connectors ----------------------------------------------------------------------------------

TEST_F(Modes, ConnectorsAreInternalFirstThenExternal) {
    MixedCapable();
    subsystem().bInternalPortCount = 2;
    subsystem().bExternalPortCount = 1;
    Port(false, 0, 0x0F, "1I", 0);
    Port(false, 1, 0xF0, "2I", 1);
    Port(true, 0, 0xF00, "1E", 2, 1, 0x05);
    subsystem().additionalExternalPortInfo[0].bConnPhyRateLimit = 0x0B;
    subsystem().additionalExternalPortInfo[0].bSASAddress[0] = 0x50;
    c()->sense_controller_parameters_buffer.bConnectorMode[2] = 2;

    const CONTROLLER_CONNECTOR_INFO external = Connector(2);
    EXPECT_EQ(external.is_external_connector, kTrue);
    EXPECT_EQ(external.phy_map, 0xF00u);
    EXPECT_STREQ(external.connector_name, "1E");
    EXPECT_EQ(external.connector_number, 2);
    EXPECT_EQ(external.current_connector_mode, kConnectorModeHBA);
    EXPECT_EQ(external.pending_connector_mode, kConnectorModeMixed);
    EXPECT_EQ(external.connector_supports_RAID_mode, kTrue);
    EXPECT_EQ(external.connector_supports_HBA_mode, kFalse);
    EXPECT_EQ(external.connector_supports_mixed_mode, kTrue);
    EXPECT_EQ(external.connector_max_allowed_phy_rate, 0x0B);
    EXPECT_EQ(external.SASAddress[0], 0x50);
    EXPECT_EQ(external.is_active_phy_map_valid, kFalse);
    EXPECT_EQ(Connector(1).is_external_connector, kFalse);

    // Past the last connector: the record keeps the failure values.
    const CONTROLLER_CONNECTOR_INFO none = Connector(3, kFalse);
    EXPECT_EQ(none.current_connector_mode, kConnectorModeUnknown);
    EXPECT_EQ(none.pending_connector_mode, kConnectorModeUnknown);
    EXPECT_EQ(none.is_external_connector, kFalse);
    EXPECT_EQ(none.phy_map, 0u);
    EXPECT_TRUE(VK_ConnectorCurrentModeIsUnknown(cda(), 3));
    EXPECT_EQ(VK_GetControllerConnectorCounts(cda()), 0x0102);
    EXPECT_EQ(VK_GetControllerTotalConnectorCount(cda()), 3);
    VK_WORD index = 0, walked = 0;
    FOREACH_CONNECTOR(cda(), index) {
        ++walked;
    }
    EXPECT_EQ(walked, 3);
}

TEST_F(Modes, ConnectorModesAndSupportBits) {
    MixedCapable();
    subsystem().bInternalPortCount = 3;
    Port(false, 0, 0x0F, "1I", 0, 0, 0x00);
    Port(false, 1, 0x0F, "2I", 1, 5, 0x05);
    Port(false, 2, 0x0F, "3I", 2, 2, 0x02);

    const CONTROLLER_CONNECTOR_INFO all = Connector(0);
    EXPECT_EQ(all.connector_supports_RAID_mode + all.connector_supports_HBA_mode + all.connector_supports_mixed_mode, 3);
    EXPECT_TRUE(VK_ConnectorCurrentModeIsRAID(cda(), 0));

    const CONTROLLER_CONNECTOR_INFO raid_mixed = Connector(1);
    EXPECT_EQ(raid_mixed.connector_supports_RAID_mode, kTrue);
    EXPECT_EQ(raid_mixed.connector_supports_HBA_mode, kFalse);
    EXPECT_EQ(raid_mixed.connector_supports_mixed_mode, kTrue);
    EXPECT_EQ(raid_mixed.current_connector_mode, kConnectorModeUnknown) << "mode 5 is no mode";
    EXPECT_TRUE(VK_ConnectorCurrentModeIsMixed(cda(), 2));
}

TEST_F(Modes, OlderControllerConnectorsTakeTheControllerMode) {
    id().dwYetMoreControllerFlags = kHBACapable;
    c()->sense_controller_parameters_buffer.bNVRAMFlags = 0x08;
    subsystem().bInternalPortCount = 2;
    Port(false, 0, 0x0F, "1I", 7, 0, 0);
    Port(false, 1, 0xF0, "2I", 9, 0, 0);
    for (VK_WORD index = 0; index < 2; ++index) {
        SCOPED_TRACE(index);
        const CONTROLLER_CONNECTOR_INFO info = Connector(index);
        EXPECT_EQ(info.connector_number, index);
        EXPECT_EQ(info.current_connector_mode, kConnectorModeHBA);
        EXPECT_EQ(info.pending_connector_mode, kConnectorModeHBA);
        EXPECT_EQ(info.connector_supports_RAID_mode, kTrue);
        EXPECT_EQ(info.connector_supports_HBA_mode, kTrue);
        EXPECT_EQ(info.connector_supports_mixed_mode, kFalse);
        EXPECT_EQ(_VK_GetConnectorNumberFromIndex(cda(), index), index);
    }
    EXPECT_EQ(_VK_GetConnectorIndexFromNumber(cda(), 1), 1);
    EXPECT_EQ(_VK_GetConnectorIndexFromNumber(cda(), 7), kInvalidConnectorIndex);
}

TEST_F(Modes, ConnectorPredicatesNamesAndMaps) {
    MixedCapable();
    pages().page_subsystem_info.bFlags = 0x01;  // active PHY map
    pages().page_connectivity.bFlags2 = 0x10;   // boot connectors
    pages().page_connectivity.bFlags = 0x08;    // long names
    subsystem().bInternalPortCount = 1;
    Port(false, 0, 0x0F, "1I", 0);
    subsystem().additionalInternalPortInfo[0].bConnectorFlags = 0x01;
    subsystem().additionalInternalPortInfo[0].qwActivePhyMap = 0x03;
    std::memcpy(subsystem().longConnectorNameInternal[0], "CN0-LONG", 8);
    const CONTROLLER_CONNECTOR_INFO info = Connector(0);
    EXPECT_STREQ(info.connector_name, "CN0-LONG");
    EXPECT_EQ(info.active_phy_map, 0x03u);
    EXPECT_EQ(info.is_active_phy_map_valid, kTrue);
    EXPECT_TRUE(VK_ConnectorIsBootConnector(cda(), 0));
    EXPECT_EQ(VK_GetConnectorPhyCount(cda(), 0), 4);
}

// A connector number is a controller byte; the tables it indexes have 16 entries.
TEST_F(Modes, ConnectorNumbersPastTheSixteenEntryTablesReadNothing) {
    MixedCapable();
    subsystem().bInternalPortCount = 1;
    Port(false, 0, 0xFF, "1I", 200, 0, 0);
    std::memset(c()->sense_controller_parameters_buffer.bConnectorMode, 0, 16);
    pages().page_backplane_discovery_protocol.bSupportedSubCommands = 0x0F;
    std::memset(pages().page_backplane_discovery_protocol.bAllowedProtocols, 0x87, 16);
    Valid(kCDAValidActiveDiscoveryConfiguration);

    EXPECT_EQ(Connector(0).pending_connector_mode, kConnectorModeUnknown);
    CONNECTOR_DISCOVERY_CONFIGURATION config{0x11, 0x22};
    EXPECT_EQ(VK_GetConnectorActiveDiscoveryConfiguration(cda(), 0, &config),
              kGetConnectorDiscoveryConfigurationInvalidConnectorIndex);
    EXPECT_EQ(config.discovery_protocol, 0x11) << "untouched on failure";
    EXPECT_EQ(VK_GetConnectorDiscoveryProtocolSupport(cda(), 0), 0);
    EXPECT_EQ(VK_GetConnectorDirectAttachTargetCountSupport(cda(), 0), 0);

    for (VK_BYTE number : {VK_BYTE{16}, VK_BYTE{254}}) {
        EXPECT_EQ(telmar::DecodeDiscoveryEntry(pavlin::ByteView(&c()->connector_active_discovery_configuration_buffer,
                                                                sizeof(DISCOVERY_CONFIGURATION_BUFFER)),
                                               number, 8, false, &config),
                  kGetConnectorDiscoveryConfigurationInvalidConnectorIndex);
    }
}

TEST_F(Modes, DirectAttachTargetCountsOfTheDiscoveryConfiguration) {
    MixedCapable();
    subsystem().bInternalPortCount = 1;
    Port(false, 0, 0xFF, "1I", 3); // 8 PHYs, connector number 3
    struct Row {
        const char* name;
        VK_BYTE protocol, width;
        bool default_configuration;
        CONNECTOR_DISCOVERY_CONFIGURATION expected;
    };
    const Row rows[] = {
        {"width 2", 7, 2, false, {7, 4}},
        {"width 1", 7, 1, false, {7, 8}},
        {"width 3 does not split 8 PHYs", 7, 3, false, {7, 0xFF}},
        {"width 0", 7, 0, false, {7, 0}},
        {"default configuration", 7, 2, true, {7, 0}},
        {"UBM", 1, 2, false, {1, 0}},
        {"VPP", 6, 0, false, {6, 0}},
        {"protocol 3 is unknown", 3, 0, false, {0xFF, 0}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CONNECTOR_DISCOVERY_CONFIGURATION config{};
        if (r.default_configuration) {
            Discovery(&_CDA::connector_default_discovery_configuration_buffer, kCDAValidDefaultDiscoveryConfiguration,
                      0x08, 3, r.protocol, r.width);
            EXPECT_EQ(VK_GetConnectorDefaultDiscoveryConfiguration(cda(), 0, &config), 0);
        } else {
            Discovery(&_CDA::connector_active_discovery_configuration_buffer, kCDAValidActiveDiscoveryConfiguration,
                      0x01, 3, r.protocol, r.width);
            EXPECT_EQ(VK_GetConnectorActiveDiscoveryConfiguration(cda(), 0, &config), 0);
        }
        EXPECT_EQ(config.discovery_protocol, r.expected.discovery_protocol);
        EXPECT_EQ(config.target_count, r.expected.target_count);
    }
}

TEST_F(Modes, DiscoveryGettersReportWhyTheyFailed) {
    MixedCapable();
    subsystem().bInternalPortCount = 1;
    Port(false, 0, 0x0F, "1I", 0);
    CONNECTOR_DISCOVERY_CONFIGURATION config{};
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 0, nullptr),
              kGetConnectorDiscoveryConfigurationInvalidArgument);
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(nullptr, 0, &config),
              kGetConnectorDiscoveryConfigurationInvalidArgument);
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 0, &config),
              kGetConnectorDiscoveryConfigurationNotSupported);
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 1, &config),
              kGetConnectorDiscoveryConfigurationInvalidConnectorIndex);
    pages().page_backplane_discovery_protocol.bSupportedSubCommands = 0x02;
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 0, &config),
              kGetConnectorDiscoveryConfigurationFailed)
        << "copy not cached and nothing to read it from";
    Valid(kCDAValidPendingDiscoveryConfiguration);
    log_.lines().clear();
    EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 0, &config), kGetConnectorDiscoveryConfigurationSuccess);
    EXPECT_EQ(TelmarLogCapture::Count("Connector index (0) does not match discovery configuration buffer connector count (0)"),
              1u);
}

TEST_F(Modes, ProtocolAndTargetCountSupport) {
    MixedCapable();
    subsystem().bInternalPortCount = 2;
    Port(false, 0, 0xFF, "1I", 0);   // 8 PHYs
    Port(false, 1, 0xFFF, "2I", 1);  // 12 PHYs
    auto& page = pages().page_backplane_discovery_protocol;
    page.bAllowedProtocols[0] = 0xFF;
    page.bAllowedProtocols[1] = 0x80;
    page.bAllowedLinkWidths = 0x07;
    log_.lines().clear();
    EXPECT_EQ(VK_GetConnectorDiscoveryProtocolSupport(cda(), 0), 0xC7);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion '(allowed_protocols & 0x38) == 0' failed"), 1u);
    EXPECT_EQ(VK_GetConnectorDirectAttachTargetCountSupport(cda(), 0), 0x0E);
    page.bAllowedLinkWidths = 0x04;
    EXPECT_EQ(VK_GetConnectorDirectAttachTargetCountSupport(cda(), 1), 0) << "12 / 4 = 3";
    EXPECT_EQ(_VK_GetConnectorAllowedLinkWidths(cda()), 0x04);
    page.bAllowedProtocols[0] = 0x47;
    page.bAllowedLinkWidths = 0x07;
    EXPECT_EQ(VK_GetConnectorDirectAttachTargetCountSupport(cda(), 0), 0) << "no direct-attached cable";

    EXPECT_EQ(telmar::TargetCountSupport(4, 0x07), 0x07);
    EXPECT_EQ(telmar::TargetCountSupport(16, 0x07), 0x0C);
    EXPECT_EQ(telmar::TargetCountSupport(0, 0x07), 0);
}

// ---- Power-mode word -----------------------------------------------------------------------------

class Power : public Modes {
protected:
    void Supported(VK_BYTE page_bitmap) {
        WithPages();
        pages().page_power_management.bPowerModeSupportBitmap = page_bitmap;
        Valid(kCDAValidPowerMode);
    }
    void Reply(VK_DWORD operational, VK_DWORD configured, VK_DWORD warnings = 0) {
        c()->power_mode_buffer.dwPowerModeOperational = operational;
        c()->power_mode_buffer.dwPowerModeConfigured = configured;
        c()->power_mode_buffer.dwWarningMap = warnings;
    }
};

TEST_F(Power, CurrentIsTheConfiguredModeAndPendingTheOperationalOne) {
    Supported(0x07);
    Reply(1, 4);
    const VK_WORD word = VK_GetPowerModeInformation(cda());
    EXPECT_EQ(word & kPowerModeCurrentMask, kPowerModeCurrentMax);
    EXPECT_EQ(word & kPowerModePendingMask, kPowerModePendingMin);
    EXPECT_EQ(word & kSupportedPowerModesMask, 0x3800);
    EXPECT_TRUE(VK_CurrentPowerModeIsMax(cda()));
    EXPECT_TRUE(VK_PendingPowerModeIsMin(cda()));
    Reply(2, 3);
    EXPECT_TRUE(VK_CurrentPowerModeIsInvalid(cda()));
    EXPECT_TRUE(VK_PendingPowerModeIsBalanced(cda()));
}

TEST_F(Power, WarningsMapInOrderAndAPredicateWantsItsWarningAlone) {
    Supported(0x07);
    Reply(4, 4, 0x7F);
    EXPECT_EQ(VK_GetPowerModeInformation(cda()) & kPowerModeWarningMask, 0x07F0);
    Reply(4, 4, 0x03);
    EXPECT_FALSE(VK_PowerModeWarningRebootRequired(cda()));
    EXPECT_FALSE(VK_PowerModeWarningTemp(cda()));
    Reply(4, 4, 0x01);
    EXPECT_TRUE(VK_PowerModeWarningRebootRequired(cda()));
    Reply(4, 4, 0x20);
    EXPECT_TRUE(VK_PowerModeWarningRebootPerformance(cda()));
    Reply(4, 4, 0x180); // bits the word has no room for
    EXPECT_EQ(VK_GetPowerModeInformation(cda()) & kPowerModeWarningMask, 0);
}

TEST_F(Power, DefaultModeRules) {
    struct Row {
        const char* name;
        VK_BYTE feature_version;
        VK_BYTE page_bitmap;   // 0x02 min, 0x04 balanced, 0x01 max
        int default_reply;     // -1: reply not available
        VK_WORD expected_default;
    };
    const Row rows[] = {
        {"version 4 with max: max whatever the reply", 4, 0x07, 0x02, kPowerModeDefaultMax},
        {"version 4 without max: the best supported", 4, 0x06, 0x02, kPowerModeDefaultBalanced},
        {"balanced and min, reply max: balanced", 8, 0x06, 0x04, kPowerModeDefaultBalanced},
        {"reply balanced", 8, 0x07, 0x02, kPowerModeDefaultBalanced},
        {"reply min", 8, 0x07, 0x01, kPowerModeDefaultMin},
        {"reply max and balanced: balanced first", 8, 0x07, 0x06, kPowerModeDefaultBalanced},
        {"no reply: the best supported", 8, 0x03, -1, kPowerModeDefaultMax},
        {"only min", 8, 0x02, -1, kPowerModeDefaultMin},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Reset();
        c()->controller_firmware_feature_version = r.feature_version;
        Supported(r.page_bitmap);
        Reply(4, 4);
        if (r.default_reply >= 0) {
            Valid(kCDAValidDefaultPowerMode);
            c()->default_power_mode_buffer.bDefaultPowerMode = static_cast<VK_BYTE>(r.default_reply);
        }
        log_.lines().clear();
        EXPECT_EQ(VK_GetPowerModeInformation(cda()) & kDefaultPowerModeMask, r.expected_default);
        EXPECT_EQ(TelmarLogCapture::Count("Expected controller to support max power mode"),
                  (r.feature_version == 4 && !(r.page_bitmap & 0x01)) ? 1u : 0u);
    }
}

TEST_F(Power, NothingSupportedGivesAnEmptyWordAndSupportPredicates) {
    Supported(0x00);
    Reply(4, 4, 0x01);
    EXPECT_EQ(VK_GetPowerModeInformation(cda()), 0);
    EXPECT_TRUE(VK_ControllerSupportsPowerModeNone(cda()));
    EXPECT_FALSE(VK_ControllerSupportsPowerModeMax(cda()));

    Reset();
    Supported(0x01); // maximum performance only
    EXPECT_EQ(VK_ControllerSupportsPowerModes(cda()), 0x4u);
    EXPECT_TRUE(VK_ControllerSupportsPowerModeMax(cda()));
    EXPECT_FALSE(VK_ControllerSupportsPowerModeMin(cda()));
    EXPECT_FALSE(VK_ControllerSupportsPowerModeNone(cda()));
    EXPECT_TRUE(__VK_PowerModeSupported(cda(), kPowerModeMaxSupported));
    EXPECT_FALSE(__VK_PowerModeSupported(cda(), kPowerModeMaxSupported | kPowerModeBalancedSupported));
}

TEST_F(Power, SurvivalMode) {
    Supported(0x07);
    EXPECT_EQ(VK_GetControllerSurvivalPowerMode(cda()), kControllerSurvivalPowerModeInvalid) << "not supported";
    pages().page_power_management.bSurvivalModeFlag = 0x01;
    for (auto [selected, expected] : {std::pair<VK_BYTE, VK_BYTE>{0, 0}, {1, 1}, {2, 0xFF}}) {
        c()->power_mode_buffer.bSelectedSurvivalMode = selected;
        EXPECT_EQ(VK_GetControllerSurvivalPowerMode(cda()), expected);
    }
}

// ---- RAID levels and spares ----------------------------------------------------------------------

TEST_F(Modes, NoRAIDLevelInHBAModeOrWithAnHBASwitchPending) {
    id().dwYetMoreControllerFlags = kHBACapable;
    c()->sense_controller_parameters_buffer.bNVRAMFlags = 0x08; // HBA now and after reboot
    for (VK_BYTE level = kRAID0; level <= kRAID10Triple; ++level) {
        EXPECT_FALSE(VK_ControllerSupportsRAIDLevel(cda(), level)) << int(level);
    }
    EXPECT_EQ(VK_ControllerSupportsMaxSpareDriveCount(cda()), 0);

    // Running RAID, HBA pending.
    OpenExtraGate();
    id().dwExtraControllerFlags = kVeskHBA;
    id().bCurrentControllerMode = 0;
    EXPECT_TRUE(VK_ControllerCurrentModeIsRAID(cda()));
    EXPECT_FALSE(VK_ControllerSupportsRAIDLevel(cda(), kRAID0));
}

TEST_F(Modes, RAIDLevelsOfAnOlderController) {
    for (VK_BYTE level : {kRAID0, kRAID1, kRAID10}) {
        EXPECT_TRUE(VK_ControllerSupportsRAIDLevel(cda(), level)) << int(level);
    }
    EXPECT_TRUE(VK_ControllerSupportsRAIDLevel(cda(), kRAID5)) << "parity unless the controller says otherwise";
    EXPECT_FALSE(VK_ControllerSupportsRAIDLevel(cda(), kRAID50));
    EXPECT_FALSE(VK_ControllerSupportsRAIDLevel(cda(), 0x0A));
    for (auto [value, expected] : {std::pair<VK_BYTE, bool>{0xBF, false}, {0xC0, true}, {0xC9, true}, {0xCA, false}}) {
        id().bRAID6Support = value;
        EXPECT_EQ(VK_ControllerSupportsRAIDLevel(cda(), kRAID6), expected ? kTrue : kFalse) << std::hex << int(value);
    }
    id().pbFeaturesSupported[1] = 0x28;
    EXPECT_TRUE(VK_ControllerSupportsRAIDLevel(cda(), kRAID50));
    EXPECT_TRUE(VK_ControllerSupportsRAIDLevel(cda(), kRAID60));
    id().pbFeaturesSupported[5] = 0x03;
    EXPECT_TRUE(VK_ControllerSupportsRAIDLevel(cda(), kRAID1Triple));
}

TEST_F(Modes, RAIDLevelsFromThePageBitmap) {
    WithPages();
    struct Row {
        VK_DWORD bitmap;
        std::vector<VK_BYTE> levels;
    };
    const Row rows[] = {
        {0x001, {kRAID0}},
        {0x002, {kRAID1, kRAID10}},
        {0x008, {kRAID5}},
        {0x080, {kRAID50}},
        {0x010, {kRAID6}},
        {0x100, {kRAID60}},
        {0x400, {kRAID1Triple, kRAID10Triple}},
        {0x000, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bitmap);
        pages().page_raid.dwRAIDLevelSupportBitmap = r.bitmap;
        for (VK_BYTE level = kRAID0; level <= kRAID10Triple; ++level) {
            const bool expected = std::find(r.levels.begin(), r.levels.end(), level) != r.levels.end();
            EXPECT_EQ(VK_ControllerSupportsRAIDLevel(cda(), level), expected ? kTrue : kFalse) << int(level);
        }
    }
    Invalid(kCDAValidFeaturePages);
    pages().page_raid.dwRAIDLevelSupportBitmap = 0x1FF;
    EXPECT_FALSE(VK_ControllerSupportsRAIDLevel(cda(), kRAID0)) << "pages offered but unreadable";
}

TEST_F(Modes, IRPNeedsDualParityAndPerformanceSettings) {
    WithPages();
    pages().page_raid.dwRAIDLevelSupportBitmap = 0x100;
    EXPECT_FALSE(VK_ControllerSupportsIRP(cda()));
    pages().page_miscellaneous.bFlags2 = 0x01;
    EXPECT_TRUE(VK_ControllerSupportsIRP(cda()));
    pages().page_raid.dwRAIDLevelSupportBitmap = 0x08;
    EXPECT_FALSE(VK_ControllerSupportsIRP(cda()));
}

TEST_F(Modes, SparesFollowTheDrivesPerLogicalDrive) {
    id().wMaximumPhysicalDrivesPerLogicalUnit = 16;
    EXPECT_EQ(VK_ControllerSupportsMaxSpareDriveCount(cda()), 15);
    // No drives per logical drive: no spares, not a wrapped 65,535.
    id().wMaximumPhysicalDrivesPerLogicalUnit = 0;
    EXPECT_EQ(VK_ControllerSupportsMaxSpareDriveCount(cda()), 0);
    Invalid(kCDAValidIdentifyController);
    EXPECT_EQ(VK_ControllerSupportsMaxSpareDriveCount(cda()), 0);
}

// ---- Capability words ----------------------------------------------------------------------------

TEST_F(Modes, SupportFlagsTakeTheErasePageInItsOwnBitOrder) {
    WithPages();
    struct Row {
        VK_BYTE sanitize, erase, survival;
        VK_DWORD expected;
    };
    const Row rows[] = {
        {0x01, 0, 0, kControllerSupportsSanitizeOnRAID},
        {0x02, 0, 0, kControllerSupportsSanitizeOnHBA},
        {0x04, 0, 0, kControllerSupportsSanitizeOnMixed},
        {0, 0x02, 0, kControllerSupportsDriveEraseOnHBA},
        {0, 0x05, 0, kControllerSupportsDriveEraseOnRAID | kControllerSupportsDriveEraseOnMixed},
        {0, 0, 0x07, 0},
        {0, 0, 0x03, kControllerSupportsConfigurableSurvivalMode},
        {0, 0, 0x01, 0},
    };
    for (const Row& r : rows) {
        pages().page_background_erase.bSanitizeEraseSupport = r.sanitize;
        pages().page_background_erase.bWriteEraseSupport = r.erase;
        pages().page_power_management.bSurvivalModeFlag = r.survival;
        EXPECT_EQ(VK_GetControllerSupportFlags(cda()), r.expected)
            << int(r.sanitize) << " " << int(r.erase) << " " << int(r.survival);
    }
    pages().page_power_management.bSurvivalModeFlag = 0;
    pages().page_drive.bFlags1 = 0x08;
    pages().page_drive.bFlags2 = 0x01;
    pages().page_connectivity.bFlags = 0x01;
    pages().page_set_controller_params.dwFlags1 = 0x01;
    EXPECT_EQ(VK_GetControllerSupportFlags(cda()), 0x740u);

    Reset(); // older controllers report only the 2 TiB bit
    id().dwEvenMoreControllerFlags = 0x200;
    EXPECT_EQ(VK_GetControllerSupportFlags(cda()), kControllerSupportsGreaterThan2TiBDrives);
}

TEST_F(Modes, LUCacheWordAndRAIDPolicy) {
    EXPECT_EQ(VK_ControllerSupportsLUCache(cda()), 0x0101);
    id().pbFeaturesSupported[7] = 2;
    EXPECT_EQ(VK_ControllerSupportsLUCache(cda()), 0x010D);

    struct Row {
        VK_BYTE version, flags, level, policy;
        bool expected;
    };
    const Row rows[] = {
        {1, 0xFF, kRAID0, kLUCacheWritePolicyWriteBack, false}, // write-back needs version 2
        {2, 0x01, kRAID0, kLUCacheWritePolicyWriteBack, true},
        {1, 0x01, kRAID0, kLUCacheWritePolicyWriteThru, true},
        {0, 0xFF, kRAID0, kLUCacheWritePolicyWriteThru, false},
        {2, 0xFF, kRAID0, kLUCacheWritePolicyReadOnly, false},
        {1, 0x02, kRAID10, kLUCacheWritePolicyWriteThru, true},
        {2, 0x04, kRAID5, kLUCacheWritePolicyWriteThru, true},
        {2, 0x10, kRAID5, kLUCacheWritePolicyWriteThru, false},
        {2, 0x10, kRAID5, kLUCacheWritePolicyWriteBack, true},
        {2, 0x04, kRAID5, kLUCacheWritePolicyWriteBack, false},
        {2, 0x04, kRAID50, kLUCacheWritePolicyWriteBack, false},
        {1, 0x04, kRAID50, kLUCacheWritePolicyWriteThru, true},
        {2, 0x08, kRAID60, kLUCacheWritePolicyWriteBack, true},
        {2, 0xFF, kRAID1Triple, kLUCacheWritePolicyWriteBack, false},
    };
    for (const Row& r : rows) {
        id().pbFeaturesSupported[7] = r.version;
        id().pbFeaturesSupported[6] = r.flags;
        EXPECT_EQ(VK_ControllerSupportsLUCacheRAIDPolicy(cda(), r.level, r.policy), r.expected ? kTrue : kFalse)
            << "version " << int(r.version) << " flags " << int(r.flags) << " level " << int(r.level) << " policy "
            << int(r.policy);
    }
    WithPages();
    pages().page_lu_cache.bLUCacheVersion = 2;
    pages().page_lu_cache.bFlags = 0x10;
    EXPECT_TRUE(VK_ControllerSupportsLUCacheRAIDPolicy(cda(), kRAID5, kLUCacheWritePolicyWriteBack));
}

TEST_F(Modes, PhyRates) {
    EXPECT_EQ(VK_ControllerSupportsPhyRates(cda()), 0) << "no pages";
    WithPages();
    auto& page = pages().page_connectivity;
    page.bHighRateDefault = 8;
    page.bHighRateBitmap = 0x1C;
    EXPECT_EQ(VK_ControllerSupportsPhyRates(cda()), 0) << "flag clear";
    page.bFlags2 = 0x02;
    EXPECT_EQ(VK_ControllerSupportsPhyRates(cda()), 0x1C08);
    page.bHighRateDefault = 7;
    EXPECT_EQ(VK_ControllerSupportsPhyRates(cda()), 0x1C00);
}

TEST_F(Modes, TransformationsAndTheirMemory) {
    Valid(kCDAValidExpansionAbility);
    c()->sense_expansion_ability_buffer.dwSupportFlags = 0x80000023;
    c()->sense_expansion_ability_buffer.dwExpansionMemorySize = 1024;
    log_.lines().clear();
    EXPECT_EQ(VK_ControllerSupportsTransformations(cda()), 0x80000023u);
    EXPECT_EQ(TelmarLogCapture::Count("failed: Controller reported a bit which conflicts with an internal bit"), 1u);
    c()->sense_expansion_ability_buffer.dwSupportFlags = 0x01;
    id().pbFeaturesSupported[0] = 0x30; // advanced capacity expansion
    id().pbFeaturesSupported[4] = 0x0C; // logical drive move
    EXPECT_EQ(VK_ControllerSupportsTransformations(cda()), 0xC0000001u);
    id().pbFeaturesSupported[4] = 0x04;
    EXPECT_EQ(VK_ControllerSupportsTransformations(cda()), 0x40000001u);

    EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 1048576u) << "no pages: no cap";
    c()->sense_expansion_ability_buffer.dwExpansionMemorySize = 0xFFFFFFFF;
    EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 0xFFFFFFFFull * 1024) << "64-bit product";
    WithPages();
    EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 0xFFFFu);
    pages().page_miscellaneous.bFlags1 = 0x02;
    EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 0xFFFFFFFFull * 1024);
    Invalid(kCDAValidExpansionAbility);
    EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 0u);
}

TEST_F(Modes, RequeryOfOlderControllersFollowsTheShortFirmwareRevision) {
    c()->controller_firmware_feature_version = 4;
    for (auto [revision, expected] :
         {std::pair<const char*, bool>{"4.50", true}, {"4.02", false}, {"3.90", false}, {"5.00", true}, {"4.4", false},
          {"", false}}) {
        std::memset(id().sShortRAMFirmwareRev, 0, 4);
        std::memcpy(id().sShortRAMFirmwareRev, revision, std::strlen(revision));
        EXPECT_EQ(VK_ControllerSupportsRequeryCommand(cda()), expected ? kTrue : kFalse) << revision;
    }
    std::memcpy(id().sShortRAMFirmwareRev, "5.00", 4);
    c()->controller_firmware_feature_version = 3;
    EXPECT_FALSE(VK_ControllerSupportsRequeryCommand(cda())) << "only version 4 reads the revision";

    // A SIS controller without pages always takes it.
    VK_BYTE descriptor[] = {7, 0, kDevicePropertyProtocolType, 2, 0, kProtocolTypeSIS, 0};
    c()->controller_handle = descriptor;
    EXPECT_TRUE(VK_ControllerSupportsRequeryCommand(cda()));
    c()->controller_handle = nullptr;

    WithPages();
    EXPECT_FALSE(VK_ControllerSupportsRequeryCommand(cda()));
    pages().page_perform_device_mgmt.dwDetailBitsSupported = 0x01;
    EXPECT_TRUE(VK_ControllerSupportsRequeryCommand(cda()));
}

// ---- Encryption capabilities ---------------------------------------------------------------------

TEST_F(Modes, EnabledEncryptionFeaturesWithoutBreakout) {
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0u) << "no encryption";
    id().pbFeaturesSupported[8] = 0x02 | 0x04; // encryption, key-manager conversion
    Valid(kCDAValidEncryptionKekCacheAttributes);
    c()->encryption_key_cache_attributes.dwSupportedBits = 0x1;
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0xFFFFFFFFFFFFFFFFull);
    c()->encryption_key_cache_attributes.dwSupportedBits = 0;
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0xFFFFFFFFFFFF7FFFull);
    id().pbFeaturesSupported[8] = 0x02;
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0xFFFFFFFFFFDF7FFFull);
}

TEST_F(Modes, EnabledEncryptionFeaturesFromTheFeatureBytes) {
    WithPages();
    pages().page_encryption.bFlags1 = 0x41;
    Valid(kCDAValidEncryptionFeatures);
    auto& features = c()->encryption_features;
    features.bNumberOfFeatureBytes = 2;
    features.pbFeatures[0] = 0x81;
    features.pbFeatures[1] = 0x02;
    features.pbFeatures[2] = 0xFF; // beyond the count
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0x0281u);
    // A list longer than the word: the first 8 bytes.
    features.bNumberOfFeatureBytes = 12;
    for (int i = 0; i < 12; ++i) {
        features.pbFeatures[i] = static_cast<VK_BYTE>(i + 1);
    }
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0x0807060504030201ull);
    Invalid(kCDAValidEncryptionFeatures);
    EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0u) << "unreadable list";
}

TEST_F(Modes, KeyCacheSupportWord) {
    id().pbFeaturesSupported[8] = 0x02;
    log_.lines().clear();
    EXPECT_EQ(VK_ControllerEncryptionKeyCacheSupport(cda()), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("Failed to get local kek attributes"), 1u);
    EXPECT_FALSE(VK_ControllerSupportsEncryptionKeyCache(cda()));

    Valid(kCDAValidEncryptionKekCacheAttributes);
    auto& a = c()->encryption_key_cache_attributes;
    a.wMinRetryAttempts = 1;
    a.wMaxRetryAttempts = 10;
    a.wMinRetryInterval = 2;
    a.wMaxRetryInterval = 60;
    a.dwSupportedBits = 0x6;
    EXPECT_EQ(VK_ControllerEncryptionKeyCacheSupport(cda()), 0u) << "no key cache";
    a.dwSupportedBits = 0x5;
    const VK_QWORD word = VK_ControllerEncryptionKeyCacheSupport(cda());
    EXPECT_EQ(word, 0x003C000200000000ull);
    EXPECT_EQ(ENCRYPTION_KEY_CACHE_SUPPORT_MAX_INTERVAL(word), 60);
    EXPECT_FALSE(ENCRYPTION_KEY_CACHE_MAX_ATTEMPTS_SUPPORTED(word));
    a.dwSupportedBits = 0x7;
    EXPECT_EQ(VK_ControllerEncryptionKeyCacheSupport(cda()), 0x003C0002000A0001ull);
    EXPECT_TRUE(VK_ControllerSupportsEncryptionKeyCache(cda()));
}

// ---- Manufacturing data, sensors, cache ----------------------------------------------------------

TEST_F(Modes, ManufacturingRecordAndItsOEMForm) {
    Valid(kCDAValidManufacturingData);
    VK_BYTE* raw = c()->manufacturing_data_buffer;
    for (size_t i = 0; i < kManufacturingDataSize; ++i) {
        raw[i] = static_cast<VK_BYTE>('A' + i % 26);
    }
    raw[50] = 7; // revision
    VK_CONTROLLER_MANUFACTURING_DATA record;
    std::memset(&record, 0xEE, sizeof(record));
    ASSERT_TRUE(VK_GetControllerManufacturingData(cda(), &record));
    EXPECT_EQ(std::string(record.serial_number), std::string(reinterpret_cast<char*>(raw + 8), 15));
    EXPECT_EQ(std::string(record.spare_part_number), std::string(reinterpret_cast<char*>(raw + 23), 15));
    EXPECT_EQ(std::string(record.part_number), std::string(reinterpret_cast<char*>(raw + 51), 15));
    EXPECT_EQ(0, std::memcmp(record.WWID, raw, 8));
    EXPECT_EQ(0, std::memcmp(record.wellness_log, raw + 38, 12));
    EXPECT_EQ(record.revision, 7);

    VK_BYTE type = 0xEE, revision = 0xEE;
    auto* standard = static_cast<VK_BYTE*>(VK_GetControllerOEMManufacturingData(cda(), &type, &revision));
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(revision, 0);
    EXPECT_EQ(0, std::memcmp(standard, &record, sizeof(record)));
    VK_free(standard);

    WithPages();
    pages().page_manufacturing_data.bOEMID = 2;
    EXPECT_FALSE(VK_GetControllerManufacturingData(cda(), &record));
    auto* oem = static_cast<VK_BYTE*>(VK_GetControllerOEMManufacturingData(cda(), &type, &revision));
    ASSERT_NE(oem, nullptr);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(revision, raw[0]);
    EXPECT_EQ(0, std::memcmp(oem, raw, kManufacturingDataSize));
    VK_free(oem);
    EXPECT_EQ(VK_GetControllerOEMManufacturingData(cda(), nullptr, &revision), nullptr);
}

std::vector<VK_BYTE> SensorReply(VK_DWORD claimed, const std::vector<VK_BYTE>& indexes) {
    std::vector<VK_BYTE> reply(12 + 47 * indexes.size());
    std::memcpy(reply.data(), &claimed, 4);
    for (size_t i = 0; i < indexes.size(); ++i) {
        VK_BYTE* r = reply.data() + 12 + 47 * i;
        r[0] = indexes[i];
        const VK_DWORD reading = 30 + static_cast<VK_DWORD>(i), max = 50 + static_cast<VK_DWORD>(i);
        std::memcpy(r + 4, &reading, 4);
        r[10] = static_cast<VK_BYTE>(i + 1); // location
        std::memcpy(r + 15, &max, 4);
        const VK_DWORD thresholds[3] = {105, 95, 85};
        std::memcpy(r + 23, thresholds, 12);
    }
    return reply;
}

TEST(SensorDecoder, ValidRecordsOnlyAndNothingPastTheReply) {
    const auto reply = SensorReply(3, {0, 0xFF, 2});
    const pavlin::ByteView view(reply.data(), reply.size());
    const auto sensors = telmar::DecodeTemperatureSensors(view);
    ASSERT_EQ(sensors.size(), 2u);
    EXPECT_EQ(sensors[0].sensor_index, 0);
    EXPECT_EQ(sensors[1].sensor_index, 2);
    EXPECT_EQ(sensors[1].current_reading, 32u);
    EXPECT_EQ(sensors[1].max_reading, 52u);
    EXPECT_EQ(sensors[1].location, 3);
    EXPECT_EQ(sensors[1].critical_threshold, 105u);
    EXPECT_EQ(sensors[1].caution_threshold, 95u);
    EXPECT_EQ(sensors[1].warning_threshold, 85u);
    EXPECT_EQ(telmar::DecodeSensorField(view, 2, telmar::SensorField::kReading), 32u);
    EXPECT_EQ(telmar::DecodeSensorField(view, 3, telmar::SensorField::kReading), 0u) << "index = count";

    // A count larger than the reply: only the whole records are read.
    const auto lying = SensorReply(1000, {4, 5});
    const pavlin::ByteView short_view(lying.data(), lying.size() - 1);
    EXPECT_EQ(telmar::DecodeTemperatureSensors(short_view).size(), 1u);
    EXPECT_EQ(telmar::DecodeSensorField(short_view, 1, telmar::SensorField::kMaxReading), 0u);
    EXPECT_TRUE(telmar::DecodeTemperatureSensors(pavlin::ByteView(lying.data(), 5)).empty());
}

TEST_F(Modes, CacheSizesAndBackupPower) {
    CACHE_CONFIG_STATUS& s = c()->sense_cache_config_status_buffer;
    s.wTotalMemorySize = 4096;
    s.wNonBatteryBackedMemorySize = 1024;
    EXPECT_EQ(VK_GetControllerTotalCacheSize(cda()), 4096);
    EXPECT_EQ(VK_GetControllerBatteryBackedCacheSize(cda()), 3072);
    s.wNonBatteryBackedMemorySize = 4096;
    EXPECT_EQ(VK_GetControllerBatteryBackedCacheSize(cda()), 0);

    s.wInstalledBatteries = 0x0005;
    s.wFailedBatteries = 0x0004;
    s.wBatteryCount = 2;
    EXPECT_EQ(VK_GetControllerBackupPowerSourceCounts(cda()), 0x01010202u);
    // Counts above 255 saturate instead of spilling into the installed field.
    s.wBatteryCount = 300;
    s.wInstalledBatteries = 0;
    s.wFailedBatteries = 0;
    EXPECT_EQ(VK_GetControllerBackupPowerSourceCounts(cda()), 0x010000FFu);

    s.dwFixedStructureLength = 264;
    for (auto [type, expected] : {std::pair<VK_BYTE, VK_BYTE>{0, 0}, {3, 3}, {4, 0xFF}}) {
        s.bRequiredBackupPowerType = type;
        EXPECT_EQ(VK_GetControllerBackupPowerSourceType(cda()), expected);
    }
    s.bRequiredBackupPowerType = 2;
    s.dwFixedStructureLength = 256;
    EXPECT_EQ(VK_GetControllerBackupPowerSourceType(cda()), 0xFF);

    Invalid(kCDAValidCacheConfigStatus);
    EXPECT_EQ(VK_GetControllerBackupPowerSourceType(cda()), 0xFF);
    EXPECT_EQ(VK_GetControllerBackupPowerSourceCounts(cda()), 0u);
    EXPECT_EQ(VK_GetControllerTotalCacheSize(cda()), 0);
}

} // namespace
