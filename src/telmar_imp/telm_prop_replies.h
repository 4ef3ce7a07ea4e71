// Decoders of the controller replies behind the connector, mode, power, sensor, manufacturing and
// cache getters. Each reads only through the byte view, so a short or hostile reply can never make
// it read outside the bytes it was given; the getters pass their cached copies, tests and fuzz
// targets pass whatever they like.
#ifndef TELM_PROP_REPLIES_H
#define TELM_PROP_REPLIES_H

#include <vector>

#include "pavl_bytes.h"
#include "ppavl_types.h"
#include "ptelm_properties.h"

namespace telmar {

// Connector tables hold 16 entries indexed by the controller's connector number.
inline constexpr VK_BYTE kConnectorTableEntries = 16;
// The port tables of SENSE SUBSYSTEM PARAMETERS describe at most 8 ports of each kind.
inline constexpr VK_BYTE kPortTableEntries = 8;

// IDENTIFY: the extra-flags word counts only when the controller says the structure holds it.
bool IdentifyExtraFlagsGateOpen(pavlin::ByteView identify);
// Per-connector mode data exists: extra-flags gate, feature version above 4, extra flag 0x1000.
// The connector getter and the mode word share this one test, so neither recurses into the other.
bool IdentifyHasPerConnectorModes(pavlin::ByteView identify, VK_BYTE feature_version);

// What the connector decoder needs besides the replies.
struct ConnectorContext {
    bool per_connector_modes = false; // IdentifyHasPerConnectorModes
    bool active_phy_map = false;      // VK_ControllerSupportsConnectorActivePhyMap
    bool boot_connectors = false;     // VK_ControllerSupportsBootConnectors
    bool long_names = false;          // VK_ControllerSupportsLongConnectorNames
    VK_WORD controller_mode = 0;      // mode word, used only without per-connector modes
};

enum class ConnectorDecode { kOk, kNoPort };

// Internal connectors first, then external ones. `info` must already hold the failure values
// (zero, both modes unknown); it is written only on kOk.
ConnectorDecode DecodeConnectorInfo(pavlin::ByteView subsystem, pavlin::ByteView parameters,
                                    const ConnectorContext& context, VK_WORD connector_index,
                                    CONTROLLER_CONNECTOR_INFO* info);
// bExternalPortCount << 8 | bInternalPortCount.
VK_WORD DecodeConnectorCounts(pavlin::ByteView subsystem);

// One connector's entry of a discovery-configuration reply: a result code of the discovery getters
// (success, or invalid connector index for a number the 16-entry table does not hold).
VK_BYTE DecodeDiscoveryEntry(pavlin::ByteView discovery, VK_BYTE connector_number, VK_BYTE phy_count,
                             bool default_configuration, CONNECTOR_DISCOVERY_CONFIGURATION* configuration);
// bAllowedProtocols of page 0x0E/7 (the slot as kept, header first) at the connector number, unmasked;
// 0 for a number the table does not hold.
VK_BYTE DecodeAllowedProtocols(pavlin::ByteView page, VK_BYTE connector_number);
// Direct-attach target counts a connector of `phy_count` PHYs can be split into.
VK_BYTE TargetCountSupport(VK_BYTE phy_count, VK_BYTE allowed_link_widths);

// Current, pending and warning fields of the power-mode word from a GET_POWER_MODE reply.
VK_WORD DecodePowerModeReply(pavlin::ByteView reply);

// Sensor reply (BMIC 0x78): header, then 47-byte records. Only records that lie whole in the view
// are read.
enum class SensorField { kLocation, kReading, kMaxReading };
VK_DWORD SensorCount(pavlin::ByteView reply);
VK_DWORD DecodeSensorField(pavlin::ByteView reply, VK_DWORD sensor_index, SensorField field);
std::vector<CONTROLLER_TEMPERATURE_SENSOR_INFO> DecodeTemperatureSensors(pavlin::ByteView reply);

// Manufacturing data in the standard layout (OEM id 0).
void DecodeManufacturingData(pavlin::ByteView reply, VK_CONTROLLER_MANUFACTURING_DATA* record);

// CACHE_CONFIG_STATUS.
VK_WORD DecodeBatteryBackedCacheSize(pavlin::ByteView cache_status);
VK_BYTE DecodeBackupPowerSourceType(pavlin::ByteView cache_status);
VK_DWORD DecodeBackupPowerSourceCounts(pavlin::ByteView cache_status);

} // namespace telmar

#endif
