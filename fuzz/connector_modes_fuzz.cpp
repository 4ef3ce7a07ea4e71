// Connector records, discovery configuration and the mode word over hostile controller buffers. The
// input fills, in order: the firmware feature version, a byte of validity choices, IDENTIFY
// CONTROLLER, CONTROLLER_PARAMETERS, SUBSYSTEM_PARAMETERS, the active, pending and default discovery
// configurations and feature page 0x0E/7; what the input does not reach stays zero. The data area has
// no controller behind it, so a buffer left invalid fails to load as an unreadable reply would.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_prop_replies.h"

namespace {

// The area a run leaves its state in, for a test that reads it after the run.
[[maybe_unused]] _CDA* ConnectorArea() {
    return DataArea();
}

bool IsDiscoveryProtocol(uint8_t p) {
    return p == 0 || p == 1 || p == 2 || p == 6 || p == 7 || p == 0xFF;
}

bool IsTargetCount(uint8_t t) {
    return t == 0 || t == 1 || t == 2 || t == 4 || t == 8 || t == 0xFF;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    c->controller_firmware_feature_version = in.Byte();
    const uint8_t valid = in.Byte();
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    in.Fill(&c->sense_controller_parameters_buffer, sizeof(c->sense_controller_parameters_buffer));
    in.Fill(&c->sense_subsystem_parameters_buffer, sizeof(c->sense_subsystem_parameters_buffer));
    in.Fill(&c->connector_active_discovery_configuration_buffer, sizeof(DISCOVERY_CONFIGURATION_BUFFER));
    in.Fill(&c->connector_pending_discovery_configuration_buffer, sizeof(DISCOVERY_CONFIGURATION_BUFFER));
    in.Fill(&c->connector_default_discovery_configuration_buffer, sizeof(DISCOVERY_CONFIGURATION_BUFFER));
    in.Fill(&c->sense_feature.page_backplane_discovery_protocol, sizeof(c->sense_feature.page_backplane_discovery_protocol));
    c->sense_feature.page_connectivity.bFlags = in.Byte();
    c->sense_feature.page_connectivity.bFlags2 = in.Byte();
    c->sense_feature.page_subsystem_info.bFlags = in.Byte();

    VK_DWORD flags = kCDAValidIdentifyController | kCDAValidFeaturePages;
    if (valid & 0x01) flags |= kCDAValidControllerParameters;
    if (valid & 0x02) flags |= kCDAValidSubsystemParameters;
    if (valid & 0x04) flags |= kCDAValidActiveDiscoveryConfiguration;
    if (valid & 0x08) flags |= kCDAValidPendingDiscoveryConfiguration;
    if (valid & 0x10) flags |= kCDAValidDefaultDiscoveryConfiguration;
    if (valid & 0x20) flags &= ~kCDAValidFeaturePages;
    c->flags[kCDAFlagsBuffers] = flags;

    const VK_WORD mode = VK_GetControllerModeInfo(cda);
    FUZZ_CHECK((mode & ~0x01FF) == 0);
    const bool per_connector = telmar::IdentifyHasPerConnectorModes(
        pavlin::ByteView(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer)),
        c->controller_firmware_feature_version);
    const VK_WORD total = VK_GetControllerTotalConnectorCount(cda);
    for (VK_WORD index = 0; index <= total && index < 24; ++index) {
        CONTROLLER_CONNECTOR_INFO info;
        if (!VK_GetControllerConnectorInfo(cda, index, &info)) {
            FUZZ_CHECK(info.current_connector_mode == kConnectorModeUnknown);
            FUZZ_CHECK(info.pending_connector_mode == kConnectorModeUnknown);
            FUZZ_CHECK(info.phy_map == 0);
        } else {
            FUZZ_CHECK(info.current_connector_mode <= kConnectorModeUnknown);
            FUZZ_CHECK(info.connector_name[8] == '\0');
            // Only connectors that carry their own number index the 16-entry tables; without
            // per-connector modes the number is the index and the mode comes from the controller.
            if (per_connector && info.connector_number >= 16) {
                FUZZ_CHECK(info.pending_connector_mode == kConnectorModeUnknown);
            }
        }
        CONNECTOR_DISCOVERY_CONFIGURATION config;
        for (auto getter : {VK_GetConnectorActiveDiscoveryConfiguration, VK_GetConnectorPendingDiscoveryConfiguration,
                            VK_GetConnectorDefaultDiscoveryConfiguration}) {
            std::memset(&config, 0, sizeof(config));
            const VK_BYTE result = getter(cda, index, &config);
            FUZZ_CHECK(result <= kGetConnectorDiscoveryConfigurationFailed && result != 1);
            if (result == kGetConnectorDiscoveryConfigurationSuccess) {
                FUZZ_CHECK(IsDiscoveryProtocol(config.discovery_protocol));
                FUZZ_CHECK(IsTargetCount(config.target_count));
            }
        }
        FUZZ_CHECK((VK_GetConnectorDiscoveryProtocolSupport(cda, index) & 0x38) == 0);
        FUZZ_CHECK((VK_GetConnectorDirectAttachTargetCountSupport(cda, index) & 0xF0) == 0);
        FUZZ_CHECK(VK_GetConnectorPhyCount(cda, index) <= 64);
    }
    const VK_WORD found = _VK_GetConnectorIndexFromNumber(cda, size ? data[size - 1] : 0);
    FUZZ_CHECK(found == kInvalidConnectorIndex || found < total);
    return 0;
}
