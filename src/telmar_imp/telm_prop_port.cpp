// Connector properties: the port tables of SENSE SUBSYSTEM PARAMETERS, per-connector modes and the
// backplane discovery configuration.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_prop_replies.h"

using pavlin::ByteView;

namespace telmar {

namespace {

constexpr size_t kPortInfoSize = sizeof(PHYSICAL_PORT_INFO);
constexpr size_t kAdditionalPortInfoSize = sizeof(ADDITIONAL_PHYSICAL_PORT_INFO);
constexpr size_t kLongNameSize = 8;
constexpr size_t kShortNameSize = 2;

constexpr size_t kInternalCount = offsetof(SUBSYSTEM_PARAMETERS, bInternalPortCount);
constexpr size_t kExternalCount = offsetof(SUBSYSTEM_PARAMETERS, bExternalPortCount);
static_assert(kInternalCount == 492 && kExternalCount == 493);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, internalPortInfo) == 496);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, externalPortInfo) == 592);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, additionalInternalPortInfo) == 708);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, additionalExternalPortInfo) == 964);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameInternal) == 1584);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameExternal) == 1648);
static_assert(kPortInfoSize == 12 && kAdditionalPortInfoSize == 32);
static_assert(offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, qwActivePhyMap) == 13);
static_assert(offsetof(CONTROLLER_PARAMETERS, bConnectorMode) == 207);
static_assert(sizeof(CONTROLLER_CONNECTOR_INFO) == 72 && alignof(CONTROLLER_CONNECTOR_INFO) == 8);
static_assert(offsetof(CONTROLLER_CONNECTOR_INFO, connector_number) == 24 &&
              offsetof(CONTROLLER_CONNECTOR_INFO, current_connector_mode) == 34 &&
              offsetof(CONTROLLER_CONNECTOR_INFO, connector_max_allowed_phy_rate) == 48 &&
              offsetof(CONTROLLER_CONNECTOR_INFO, active_phy_map) == 56 &&
              offsetof(CONTROLLER_CONNECTOR_INFO, is_active_phy_map_valid) == 64);
static_assert(sizeof(CONNECTOR_DISCOVERY_CONFIGURATION) == 2);
static_assert(sizeof(CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER) == 6 && sizeof(DISCOVERY_CONFIGURATION_BUFFER) == 98);
static_assert(offsetof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL, bAllowedProtocols) == 4);

// bConnModeSupport bits; 0 means every mode.
constexpr VK_BYTE kConnModeSupportRAID = 0x01;
constexpr VK_BYTE kConnModeSupportHBA = 0x02;
constexpr VK_BYTE kConnModeSupportMixed = 0x04;
constexpr VK_BYTE kConnectorFlagBoot = 0x01;

VK_BYTE ModeOfCurrentField(VK_WORD mode_word) {
    switch (mode_word & kControllerModeCurrentMask) {
    case kControllerModeCurrentRAID:
        return kConnectorModeRAID;
    case kControllerModeCurrentHBA:
        return kConnectorModeHBA;
    case kControllerModeCurrentMixed:
        return kConnectorModeMixed;
    default:
        return kConnectorModeUnknown;
    }
}

VK_BYTE ModeOfPendingField(VK_WORD mode_word) {
    switch (mode_word & kControllerModePendingMask) {
    case kControllerModePendingRAID:
        return kConnectorModeRAID;
    case kControllerModePendingHBA:
        return kConnectorModeHBA;
    case kControllerModePendingMixed:
        return kConnectorModeMixed;
    default:
        return kConnectorModeUnknown;
    }
}

bool IsDiscoveryProtocol(VK_BYTE protocol) {
    switch (protocol) {
    case kConnectorDiscoveryProtocolAutoDetect:
    case kConnectorDiscoveryProtocolUBM:
    case kConnectorDiscoveryProtocolSGPIO:
    case kConnectorDiscoveryProtocolVPP:
    case kConnectorDiscoveryProtocolDirectAttachedCable:
        return true;
    default:
        return false;
    }
}

bool IsTargetCount(unsigned count) {
    return count == 1 || count == 2 || count == 4 || count == 8;
}

} // namespace

ConnectorDecode DecodeConnectorInfo(ByteView subsystem, ByteView parameters, const ConnectorContext& context,
                                    VK_WORD connector_index, CONTROLLER_CONNECTOR_INFO* info) {
    const VK_BYTE internal_count = subsystem.u8(kInternalCount).value_or(0);
    const VK_BYTE external_count = subsystem.u8(kExternalCount).value_or(0);
    if (internal_count == 0 && external_count == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion '(internal_port_count + external_port_count) > 0' failed: No "
                    "controller ports found\n", __func__, __LINE__);
    }
    CONTROLLER_CONNECTOR_INFO out = *info;
    unsigned port = connector_index;
    if (connector_index >= internal_count) {
        out.is_external_connector = kTrue;
        port = connector_index - internal_count;
        if (port >= external_count) {
            PN_DebugLog(1, 0, "%s:%d: Connector index (%u) is beyond the %u internal and %u external ports\n",
                        __func__, __LINE__, static_cast<unsigned>(connector_index),
                        static_cast<unsigned>(internal_count), static_cast<unsigned>(external_count));
            return ConnectorDecode::kNoPort;
        }
    }
    if (port >= kPortTableEntries) {
        PN_DebugLog(1, 0, "%s:%d: Connector index (%u) names port %u, past the %u the controller describes\n",
                    __func__, __LINE__, static_cast<unsigned>(connector_index), port,
                    static_cast<unsigned>(kPortTableEntries));
        return ConnectorDecode::kNoPort;
    }
    const bool external = out.is_external_connector != kFalse;
    const size_t port_info = offsetof(SUBSYSTEM_PARAMETERS, internalPortInfo) +
                             (external ? kPortTableEntries : 0) * kPortInfoSize + port * kPortInfoSize;
    const size_t additional = (external ? offsetof(SUBSYSTEM_PARAMETERS, additionalExternalPortInfo)
                                        : offsetof(SUBSYSTEM_PARAMETERS, additionalInternalPortInfo)) +
                              port * kAdditionalPortInfoSize;
    const size_t long_name = (external ? offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameExternal)
                                       : offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameInternal)) +
                             port * kLongNameSize;

    out.phy_map = subsystem.le64(port_info + offsetof(PHYSICAL_PORT_INFO, qwControllerPhyMap)).value_or(0);
    if (context.active_phy_map) {
        out.active_phy_map =
            subsystem.le64(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, qwActivePhyMap)).value_or(0);
        out.is_active_phy_map_valid = kTrue;
    }
    const VK_BYTE connector_flags =
        subsystem.u8(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bConnectorFlags)).value_or(0);
    if (context.boot_connectors) {
        out.is_boot_connector = (connector_flags & kConnectorFlagBoot) ? kTrue : kFalse;
    }
    std::memset(out.connector_name, 0, sizeof(out.connector_name));
    if (context.long_names) {
        subsystem.copy_to(long_name, out.connector_name, kLongNameSize);
    } else {
        subsystem.copy_to(port_info + offsetof(PHYSICAL_PORT_INFO, sPhysicalPort), out.connector_name,
                          kShortNameSize);
    }

    if (context.per_connector_modes) {
        const VK_BYTE current =
            subsystem.u8(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bConnectionMode)).value_or(0xFF);
        if (current <= kConnectorModeMixed) {
            out.current_connector_mode = current;
        }
        out.connector_number =
            subsystem.u8(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bConnectionNumber)).value_or(0);
        // The pending modes are a 16-entry table; a larger number has no entry.
        out.pending_connector_mode = kConnectorModeUnknown;
        if (out.connector_number < kConnectorTableEntries) {
            out.pending_connector_mode =
                parameters.u8(offsetof(CONTROLLER_PARAMETERS, bConnectorMode) + out.connector_number)
                    .value_or(kConnectorModeUnknown);
        }
        VK_BYTE support =
            subsystem.u8(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bConnModeSupport)).value_or(0);
        if (support == 0) {
            support = kConnModeSupportRAID | kConnModeSupportHBA | kConnModeSupportMixed;
        }
        out.connector_supports_RAID_mode = (support & kConnModeSupportRAID) ? kTrue : kFalse;
        out.connector_supports_HBA_mode = (support & kConnModeSupportHBA) ? kTrue : kFalse;
        out.connector_supports_mixed_mode = (support & kConnModeSupportMixed) ? kTrue : kFalse;
    } else {
        out.connector_number = static_cast<VK_BYTE>(connector_index);
        out.current_connector_mode = ModeOfCurrentField(context.controller_mode);
        out.pending_connector_mode = ModeOfPendingField(context.controller_mode);
        out.connector_supports_RAID_mode = kTrue;
        out.connector_supports_HBA_mode =
            (context.controller_mode & (kControllerModeSupportsHBAMode | kControllerModeSupportsVeskHBAMode))
                ? kTrue
                : kFalse;
        out.connector_supports_mixed_mode = kFalse;
    }
    subsystem.copy_to(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bSASAddress), out.SASAddress,
                      sizeof(out.SASAddress));
    out.connector_max_allowed_phy_rate =
        subsystem.u8(additional + offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, bConnPhyRateLimit)).value_or(0);
    *info = out;
    return ConnectorDecode::kOk;
}

VK_WORD DecodeConnectorCounts(ByteView subsystem) {
    const VK_BYTE internal_count = subsystem.u8(kInternalCount).value_or(0);
    const VK_BYTE external_count = subsystem.u8(kExternalCount).value_or(0);
    return static_cast<VK_WORD>(external_count << kControllerConnectorCountExternalShift | internal_count);
}

VK_BYTE DecodeDiscoveryEntry(ByteView discovery, VK_BYTE connector_number, VK_BYTE phy_count,
                             bool default_configuration, CONNECTOR_DISCOVERY_CONFIGURATION* configuration) {
    if (connector_number >= kConnectorTableEntries) {
        return kGetConnectorDiscoveryConfigurationInvalidConnectorIndex;
    }
    const size_t entry = offsetof(DISCOVERY_CONFIGURATION_BUFFER, connectors) +
                         connector_number * sizeof(CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER);
    const VK_BYTE protocol =
        discovery.u8(entry + offsetof(CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER, bDiscoveryProtocol))
            .value_or(kConnectorDiscoveryProtocolUnknown);
    const VK_BYTE link_width =
        discovery.u8(entry + offsetof(CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER, bLinkWidth)).value_or(0);
    CONNECTOR_DISCOVERY_CONFIGURATION out{};
    out.discovery_protocol = IsDiscoveryProtocol(protocol) ? protocol : kConnectorDiscoveryProtocolUnknown;
    out.target_count = kConnectorDirectAttachTargetCountNotApplicable;
    if (out.discovery_protocol == kConnectorDiscoveryProtocolDirectAttachedCable && link_width != 0 &&
        !default_configuration) {
        // A width that does not split the PHYs evenly gives no count.
        const unsigned targets = phy_count / link_width;
        out.target_count = (phy_count % link_width == 0 && IsTargetCount(targets))
                               ? static_cast<VK_BYTE>(targets)
                               : kConnectorDirectAttachTargetCountUnknown;
    }
    *configuration = out;
    return kGetConnectorDiscoveryConfigurationSuccess;
}

VK_BYTE DecodeAllowedProtocols(ByteView page, VK_BYTE connector_number) {
    if (connector_number >= kConnectorTableEntries) {
        return 0;
    }
    return page
        .u8(offsetof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL, bAllowedProtocols) +
            connector_number)
        .value_or(0);
}

VK_BYTE TargetCountSupport(VK_BYTE phy_count, VK_BYTE allowed_link_widths) {
    VK_BYTE support = 0;
    for (const unsigned width : {4u, 2u, 1u}) {
        if ((allowed_link_widths & width) && phy_count != 0 && phy_count % width == 0 &&
            IsTargetCount(phy_count / width)) {
            support = static_cast<VK_BYTE>(support | (phy_count / width));
        }
    }
    return support;
}

} // namespace telmar

using namespace telmar;

namespace {

ByteView View(const void* buffer, size_t size) {
    return ByteView(buffer, size);
}

template <typename T> ByteView ViewOf(const T& member) {
    return View(&member, sizeof(member));
}

CONTROLLER_CONNECTOR_INFO FailedConnector() {
    CONTROLLER_CONNECTOR_INFO info;
    std::memset(&info, 0, sizeof(info));
    info.current_connector_mode = kConnectorModeUnknown;
    info.pending_connector_mode = kConnectorModeUnknown;
    return info;
}

// The record of a connector; the failure values when it cannot be read.
CONTROLLER_CONNECTOR_INFO ConnectorRecord(PCDA cda, VK_WORD connector_index, bool* valid = nullptr) {
    CONTROLLER_CONNECTOR_INFO info;
    const VK_BOOL ok = VK_GetControllerConnectorInfo(cda, connector_index, &info);
    if (valid) {
        *valid = ok != kFalse;
    }
    return info;
}

using DiscoveryLoader = VK_BOOL (*)(PCDA);

VK_BYTE DiscoveryConfiguration(PCDA cda, VK_WORD connector_index, PCONNECTOR_DISCOVERY_CONFIGURATION configuration,
                               VK_BYTE subcommand_bit, DiscoveryLoader loader,
                               DISCOVERY_CONFIGURATION_BUFFER _CDA::*buffer) {
    if (configuration == nullptr || cda == nullptr) {
        return kGetConnectorDiscoveryConfigurationInvalidArgument;
    }
    CDALock guard(cda);
    const VK_BYTE connector_number = _VK_GetConnectorNumberFromIndex(cda, connector_index);
    if (connector_number == 0xFF) {
        return kGetConnectorDiscoveryConfigurationInvalidConnectorIndex;
    }
    if (!(VK_GetControllerConnectorDiscoveryConfigurationSupport(cda) & subcommand_bit)) {
        return kGetConnectorDiscoveryConfigurationNotSupported;
    }
    if (!loader(cda)) {
        return kGetConnectorDiscoveryConfigurationFailed;
    }
    const ByteView discovery = ViewOf(_VK_CDA(cda)->*buffer);
    const VK_BYTE connector_count = discovery.u8(offsetof(DISCOVERY_CONFIGURATION_BUFFER, bConnectorCount)).value_or(0);
    if (connector_index >= connector_count) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'connector_index < discovery_configuration->bConnectorCount' failed: Connector "
                    "index (%u) does not match discovery configuration buffer connector count (%u)\n",
                    __func__, __LINE__, static_cast<unsigned>(connector_index), static_cast<unsigned>(connector_count));
    }
    return DecodeDiscoveryEntry(discovery, connector_number, VK_GetConnectorPhyCount(cda, connector_index),
                                subcommand_bit == kControllerGetDefaultConnectorDiscoveryConfigurationSupported,
                                configuration);
}

} // namespace

VK_BOOL VK_GetControllerConnectorInfo(PCDA cda, VK_WORD connector_index, PCONTROLLER_CONNECTOR_INFO info) {
    if (info == nullptr) {
        return kFalse;
    }
    *info = FailedConnector();
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestSenseSubsystemParametersBuffer(cda) ||
        !VK_RequestSenseControllerParametersBuffer(cda)) {
        return kFalse;
    }
    ConnectorContext context;
    context.per_connector_modes =
        IdentifyHasPerConnectorModes(ViewOf(c->identify_controller_buffer), c->controller_firmware_feature_version);
    context.active_phy_map = VK_ControllerSupportsConnectorActivePhyMap(cda) != kFalse;
    context.boot_connectors = VK_ControllerSupportsBootConnectors(cda) != kFalse;
    context.long_names = VK_ControllerSupportsLongConnectorNames(cda) != kFalse;
    if (!context.per_connector_modes) {
        // The mode word asks for connectors only when they carry their own modes: no recursion.
        context.controller_mode = VK_GetControllerModeInfo(cda);
    }
    return DecodeConnectorInfo(ViewOf(c->sense_subsystem_parameters_buffer),
                               ViewOf(c->sense_controller_parameters_buffer), context, connector_index,
                               info) == ConnectorDecode::kOk
               ? kTrue
               : kFalse;
}

VK_BOOL __VK_ConnectorCurrentModeIs(PCDA cda, VK_WORD connector_index, VK_BYTE mode) {
    return ConnectorRecord(cda, connector_index).current_connector_mode == mode ? kTrue : kFalse;
}

VK_BOOL __VK_ConnectorPendingModeIs(PCDA cda, VK_WORD connector_index, VK_BYTE mode) {
    return ConnectorRecord(cda, connector_index).pending_connector_mode == mode ? kTrue : kFalse;
}

VK_BOOL VK_ConnectorCurrentModeIsRAID(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorCurrentModeIs(cda, connector_index, kConnectorModeRAID);
}
VK_BOOL VK_ConnectorCurrentModeIsHBA(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorCurrentModeIs(cda, connector_index, kConnectorModeHBA);
}
VK_BOOL VK_ConnectorCurrentModeIsMixed(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorCurrentModeIs(cda, connector_index, kConnectorModeMixed);
}
VK_BOOL VK_ConnectorCurrentModeIsUnknown(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorCurrentModeIs(cda, connector_index, kConnectorModeUnknown);
}
VK_BOOL VK_ConnectorPendingModeIsRAID(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorPendingModeIs(cda, connector_index, kConnectorModeRAID);
}
VK_BOOL VK_ConnectorPendingModeIsHBA(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorPendingModeIs(cda, connector_index, kConnectorModeHBA);
}
VK_BOOL VK_ConnectorPendingModeIsMixed(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorPendingModeIs(cda, connector_index, kConnectorModeMixed);
}
VK_BOOL VK_ConnectorPendingModeIsUnknown(PCDA cda, VK_WORD connector_index) {
    return __VK_ConnectorPendingModeIs(cda, connector_index, kConnectorModeUnknown);
}

VK_BOOL VK_ConnectorIsBootConnector(PCDA cda, VK_WORD connector_index) {
    return ConnectorRecord(cda, connector_index).is_boot_connector;
}

VK_WORD _VK_GetConnectorIndexFromNumber(PCDA cda, VK_BYTE connector_number) {
    if (cda == nullptr) {
        return kInvalidConnectorIndex;
    }
    CDALock guard(cda);
    const VK_WORD total = VK_GetControllerTotalConnectorCount(cda);
    for (VK_WORD index = 0; index < total; ++index) {
        bool valid = false;
        const CONTROLLER_CONNECTOR_INFO info = ConnectorRecord(cda, index, &valid);
        if (valid && info.connector_number == connector_number) {
            return index;
        }
    }
    return kInvalidConnectorIndex;
}

VK_BYTE _VK_GetConnectorNumberFromIndex(PCDA cda, VK_WORD connector_index) {
    if (cda == nullptr) {
        return 0xFF;
    }
    CDALock guard(cda);
    VK_BYTE number = 0xFF;
    if (connector_index < VK_GetControllerTotalConnectorCount(cda)) {
        bool valid = false;
        const CONTROLLER_CONNECTOR_INFO info = ConnectorRecord(cda, connector_index, &valid);
        if (valid) {
            number = info.connector_number;
        }
    }
    if (number == 0xFF) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'connector_number != 0xFF' failed: Connector index (%u) returned an invalid "
                    "connector number\n",
                    __func__, __LINE__, static_cast<unsigned>(connector_index));
    }
    return number;
}

VK_BYTE VK_GetConnectorActiveDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                    PCONNECTOR_DISCOVERY_CONFIGURATION configuration) {
    return DiscoveryConfiguration(cda, connector_index, configuration,
                                  kControllerGetActiveConnectorDiscoveryConfigurationSupported,
                                  VK_RequestConnectorActiveDiscoveryConfigurationBuffer,
                                  &_CDA::connector_active_discovery_configuration_buffer);
}

VK_BYTE VK_GetConnectorPendingDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                     PCONNECTOR_DISCOVERY_CONFIGURATION configuration) {
    return DiscoveryConfiguration(cda, connector_index, configuration,
                                  kControllerGetPendingConnectorDiscoveryConfigurationSupported,
                                  VK_RequestConnectorPendingDiscoveryConfigurationBuffer,
                                  &_CDA::connector_pending_discovery_configuration_buffer);
}

VK_BYTE VK_GetConnectorDefaultDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                     PCONNECTOR_DISCOVERY_CONFIGURATION configuration) {
    return DiscoveryConfiguration(cda, connector_index, configuration,
                                  kControllerGetDefaultConnectorDiscoveryConfigurationSupported,
                                  VK_RequestConnectorDefaultDiscoveryConfigurationBuffer,
                                  &_CDA::connector_default_discovery_configuration_buffer);
}

VK_BYTE VK_GetConnectorDiscoveryProtocolSupport(PCDA cda, VK_WORD connector_index) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const VK_BYTE connector_number = _VK_GetConnectorNumberFromIndex(cda, connector_index);
    if (connector_number == 0xFF || !VK_ControllerFeaturePagesSupported(cda) || !VK_RequestFeaturePages(cda)) {
        return 0;
    }
    const VK_BYTE allowed =
        DecodeAllowedProtocols(ViewOf(_VK_CDA(cda)->sense_feature.page_backplane_discovery_protocol), connector_number);
    if (allowed & 0x38) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion '(allowed_protocols & 0x38) == 0' failed: Connector (%u) allows discovery "
                    "protocols the library does not know (0x%02X)\n",
                    __func__, __LINE__, static_cast<unsigned>(connector_number), static_cast<unsigned>(allowed));
    }
    return static_cast<VK_BYTE>(allowed & 0xC7);
}

VK_BYTE VK_GetConnectorDirectAttachTargetCountSupport(PCDA cda, VK_WORD connector_index) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!(VK_GetConnectorDiscoveryProtocolSupport(cda, connector_index) &
          kConnectorSupportsDiscoveryProtocolDirectAttachedCable)) {
        return 0;
    }
    const VK_BYTE phy_count = VK_GetConnectorPhyCount(cda, connector_index);
    if (phy_count == 0) {
        return 0;
    }
    return TargetCountSupport(phy_count, _VK_GetConnectorAllowedLinkWidths(cda));
}

VK_BYTE VK_GetConnectorPhyCount(PCDA cda, VK_WORD connector_index) {
    return static_cast<VK_BYTE>(std::popcount(ConnectorRecord(cda, connector_index).phy_map));
}

VK_BYTE _VK_GetConnectorAllowedLinkWidths(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_ControllerFeaturePagesSupported(cda) || !VK_RequestFeaturePages(cda)) {
        return 0;
    }
    return static_cast<VK_BYTE>(_VK_CDA(cda)->sense_feature.page_backplane_discovery_protocol.bAllowedLinkWidths & 0x07);
}

VK_WORD VK_GetControllerConnectorCounts(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseSubsystemParametersBuffer(cda)) {
        return 0;
    }
    return DecodeConnectorCounts(ViewOf(_VK_CDA(cda)->sense_subsystem_parameters_buffer));
}

VK_WORD VK_GetControllerTotalConnectorCount(PCDA cda) {
    return static_cast<VK_WORD>(VK_GetControllerInternalConnectorCount(cda) +
                                VK_GetControllerExternalConnectorCount(cda));
}

VK_WORD VK_GetControllerInternalConnectorCount(PCDA cda) {
    return static_cast<VK_WORD>(VK_GetControllerConnectorCounts(cda) & kControllerConnectorCountInternalMask);
}

VK_WORD VK_GetControllerExternalConnectorCount(PCDA cda) {
    return static_cast<VK_WORD>((VK_GetControllerConnectorCounts(cda) & kControllerConnectorCountExternalMask) >>
                                kControllerConnectorCountExternalShift);
}

// ---- Aggregate link speed ---------------------------------------------------------------------------

namespace {

constexpr VK_BYTE kConnectedToController = 7; // connected device type of a PHY that leads to the controller
constexpr VK_WORD kPhyTableEntries = 256;

// Tenths of Gbps of one PHY by its rate code and link format; 0 for any other code or format.
VK_DWORD LinkRateTenthsGbps(VK_DWORD format, VK_BYTE code) {
    static constexpr VK_DWORD kSAS[] = {15, 30, 60, 120, 225};
    static constexpr VK_DWORD kNVMe[] = {25, 50, 80, 160, 320};
    if (code < kPhyRate1G || code > kPhyRate24G) {
        return 0;
    }
    if (format == kPhyInfoFormatSAS) {
        return kSAS[code - kPhyRate1G];
    }
    return format == kPhyInfoFormatNVMe ? kNVMe[code - kPhyRate1G] : 0;
}

// PHYs of a device that the per-PHY tables describe.
VK_WORD DevicePhys(PCDA cda, VK_WORD device) {
    return std::min<VK_WORD>(VK_GetPhysicalDevicePHYCount(cda, device), kPhyTableEntries);
}

bool HasControllerPhy(PCDA cda, VK_WORD device) {
    const VK_WORD phys = DevicePhys(cda, device);
    for (VK_WORD p = 0; p < phys; ++p) {
        if (_VK_GetPhysicalDevicePhyConnectedDeviceType(cda, device, p) == kConnectedToController) {
            return true;
        }
    }
    return false;
}

} // namespace

VK_WORD __VK_EnumerateConnectorDirectAttachDevices(PCDA cda, VK_WORD connector_index, VK_WORD device_number) {
    CDALock guard(cda);
    VK_WORD device = device_number;
    while ((device = VK_EnumerateControllerAllPhysicalDevices(cda, device)) != kInvalidDeviceNumber) {
        if (VK_GetConnectorIndexOfPhysicalDrive(cda, device) == connector_index && HasControllerPhy(cda, device)) {
            return device;
        }
    }
    return kInvalidDeviceNumber;
}

VK_DWORD VK_GetConnectorAggregateSpeedGbps(PCDA cda, VK_WORD connector_index, VK_BYTE speed_type) {
    if (speed_type > kConnectorAggregateSpeedMax || cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_DWORD total = 0;
    if (speed_type == kConnectorAggregateSpeedMax) {
        const CONTROLLER_CONNECTOR_INFO connector = ConnectorRecord(cda, connector_index);
        total = LinkRateTenthsGbps(kPhyInfoFormatSAS, connector.connector_max_allowed_phy_rate) *
                static_cast<VK_DWORD>(std::popcount(connector.phy_map));
    } else {
        VK_WORD device = kInvalidDeviceNumber;
        while ((device = __VK_EnumerateConnectorDirectAttachDevices(cda, connector_index, device)) !=
               kInvalidDeviceNumber) {
            const VK_WORD phys = DevicePhys(cda, device);
            for (VK_WORD p = 0; p < phys; ++p) {
                if (_VK_GetPhysicalDevicePhyConnectedDeviceType(cda, device, p) != kConnectedToController) {
                    continue;
                }
                const VK_DWORD word = VK_GetPhysicalDevicePhyLinkRate(cda, device, p);
                const VK_BYTE code = speed_type == kConnectorAggregateSpeedNegotiatedLogical
                                         ? PHY_NEGOTIATED_LOGICAL_LINK_RATE(word)
                                         : PHY_NEGOTIATED_PHYSICAL_LINK_RATE(word);
                total += LinkRateTenthsGbps(PHY_INFO_FORMAT(word), code);
            }
        }
    }
    // The significand has 16 bits; a larger sum is reported at its largest.
    total = std::min<VK_DWORD>(total, 0xFFFF);
    return total == 0 ? 0 : total << 16 | 1;
}
