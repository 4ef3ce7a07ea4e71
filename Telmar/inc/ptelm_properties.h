/* Controller properties: identity and inventory, connectors, operating and power modes, manufacturing
 * data, sensors and backup power. */
#ifndef PTELM_PROPERTIES_H
#define PTELM_PROPERTIES_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* No RAID level. */
#define kInvalidRAID 0xFF

/* Smallest caller buffer each string getter fills (text and its NUL). */
#define kMinGetControllerProductIDBufferLength 17
#define kMinGetControllerFamilyIDBufferLength 33
#define kMinGetControllerVendorIDBufferLength 9
#define kMinGetControllerSlotNumberBufferLength 8
#define kMinGetControllerPCILocationBufferLength 17
#define kMinGetControllerAdapterTypeBufferLength 17
#define kMinGetControllerFirmwareVersionBufferLength 33
#define kMinGetControllerPendingFirmwareVersionBufferLength 33
#define kMinGetControllerFirmwareCompileTimeStampBufferLength 25
#define kMinGetControllerHardwareRevisionBufferLength 2
#define kMinGetControllerHardwareMinorRevisionBufferLength 4
#define kMinGetControllerSerialNumberBufferLength 33
#define kMinGetControllerWWNBufferLength 17
#define kMinGetControllerDriverVersionBufferLength 33

/* VK_GetControllerAdapterType. */
#define kAdapterVeskArray 0
#define kAdapterVeskHBA 1
#define kAdapterDynamicVeskArray 2
#define kAdapterArrayController 3

/* Selectors of VK_GetControllerPCIValue. */
#define kPCIVendorDeviceID 1
#define kPCISubsystemVendorDeviceID 2
#define kPCIMaxLinkRate 3
#define kPCIMaxLinkWidth 4
#define kPCIeGeneration 5
#define kPCIeWidth 6

/* Selectors of VK_GetControllerSpinupParameter. */
#define kSimultaneousSpinupCount 1
#define kDriveSpinupDelaySec 2

/* VK_GetControllerNVRAMErrors. */
#define kControllerNVRAMErrorNone 0x00
#define kControllerNVRAMErrorBoardIDNotRead 0x01
#define kControllerNVRAMErrorImageFailedButCanBeRestored 0x02
#define kControllerNVRAMErrorImageFailedButCannotBeRestored 0x03
#define kControllerNVRAMErrorUnsupported 0xFE
#define kControllerNVRAMErrorUnknown 0xFF

/* VK_GetControllerPlatformNVRAMRevision when it cannot be read. */
#define kInvalidPlatformNVRAMRevision 0xFF

PN_EXTERN_C_BEGIN

/* Text getters: each zeroes the caller's buffer and fills it, always NUL-terminated. NULL for a NULL
 * buffer; a buffer of size 0 is returned untouched; one smaller than the getter's minimum is returned
 * empty. An unreadable controller leaves the text empty. */
VK_API char* VK_GetControllerProductID(PCDA cda, char* product_id, size_t product_id_size);
VK_API char* VK_GetControllerFamilyID(PCDA cda, char* family_id, size_t family_id_size);
VK_API char* VK_GetControllerVendorID(PCDA cda, char* vendor_id, size_t vendor_id_size);
VK_API char* VK_GetControllerFirmwareVersion(PCDA cda, char* version, size_t version_size);
VK_API char* VK_GetControllerPendingFirmwareVersion(PCDA cda, char* version, size_t version_size);
VK_API char* VK_GetControllerFirmwareCompileTimeStamp(PCDA cda, char* time_stamp, size_t time_stamp_size);
VK_API char* VK_GetControllerHardwareRevision(PCDA cda, char* revision, size_t revision_size);
VK_API char* VK_GetControllerHardwareMinorRevision(PCDA cda, char* revision, size_t revision_size);
VK_API char* VK_GetControllerSerialNumber(PCDA cda, char* serial_number, size_t serial_number_size);
VK_API char* VK_GetControllerDriverVersion(PCDA cda, char* version, size_t version_size);
/* The controller's world-wide name as 16 upper-case hex digits. */
VK_API char* VK_GetControllerWWN(PCDA cda, char* wwn, size_t wwn_size);
/* Decimal slot number, "0b" for the software-RAID slot 31, or "UNKNOWN". */
VK_API char* VK_GetControllerSlotNumber(PCDA cda, char* slot, size_t slot_size);
/* "domain:bus:device.function" in decimal, or "UNKNOWN". */
VK_API char* VK_GetControllerPCILocation(PCDA cda, char* location, size_t location_size);
/* Adapter type by the product id, which the buffer receives. */
VK_API VK_WORD VK_GetControllerAdapterType(PCDA cda, char* product_id, size_t product_id_size);

/* Numbers: 0 when the controller cannot be read, unless said otherwise. */
VK_API VK_WORD VK_GetControllerMemorySizeMB(PCDA cda);
VK_API VK_WORD VK_GetControllerFlashSizeMB(PCDA cda);
VK_API VK_WORD VK_GetControllerFirmwareBuildNumber(PCDA cda);
VK_API VK_BYTE VK_GetPCIeGen(PCDA cda);
VK_API VK_BYTE VK_GetPCIeWidth(PCDA cda);
/* MB/s of the negotiated link. */
VK_API VK_DWORD VK_GetPCIeNegotiatedSpeed(PCDA cda);
VK_API VK_DWORD VK_GetControllerPCIValue(PCDA cda, VK_BYTE pci_value);
VK_API VK_DWORD VK_GetControllerSpinupParameter(PCDA cda, VK_BYTE parameter_type);
VK_API VK_UINT32 VK_GetControllerFirmwareComparisonStamp(PCDA cda);
VK_API VK_UINT32 VK_GetControllerPendingFirmwareComparisonStamp(PCDA cda);
VK_API VK_UINT64 VK_GetControllerRawWWN(PCDA cda);
/* kControllerNVRAMError...; kControllerNVRAMErrorUnknown when the controller cannot be read. */
VK_API VK_BYTE VK_GetControllerNVRAMErrors(PCDA cda);
/* kInvalidPlatformNVRAMRevision when it cannot be read. */
VK_API VK_BYTE VK_GetControllerPlatformNVRAMRevision(PCDA cda);
/* ROM, self-test and lockup bits. */
VK_API VK_WORD _VK_GetControllerAdditionalError(PCDA cda);
/* 0 unless a lockup was recorded. */
VK_API VK_DWORD _VK_GetControllerLastLockupCode(PCDA cda);

/* The controller's device descriptor: one property, or the whole descriptor for id 0xFF. */
VK_API VK_WORD VK_GetControllerSystemPropertySize(PCDA cda, VK_BYTE property_id);
/* 0 copied; otherwise the descriptor's result code (2: buffer too small). */
VK_API VK_BYTE VK_GetControllerSystemProperty(PCDA cda, VK_BYTE property_id, void* property_buffer,
                                              VK_DWORD property_buffer_size);

PN_EXTERN_C_END

/* ---- Connectors ------------------------------------------------------------------------------ */

/* Connector modes of CONTROLLER_CONNECTOR_INFO. */
#define kConnectorModeRAID 0
#define kConnectorModeHBA 1
#define kConnectorModeMixed 2
#define kConnectorModeUnknown 3

/* Index of no connector (_VK_GetConnectorIndexFromNumber). */
#define kInvalidConnectorIndex 0xFFFF

typedef struct _CONTROLLER_CONNECTOR_INFO {
    VK_BOOL is_external_connector;
    VK_BOOL is_boot_connector;
    VK_UINT64 phy_map;
    VK_BYTE SASAddress[8];
    VK_BYTE connector_number;
    char connector_name[9];
    VK_BYTE current_connector_mode;
    VK_BYTE pending_connector_mode;
    VK_BOOL connector_supports_RAID_mode;
    VK_BOOL connector_supports_HBA_mode;
    VK_BOOL connector_supports_mixed_mode;
    VK_BYTE connector_max_allowed_phy_rate;
    VK_UINT64 active_phy_map;
    VK_BOOL is_active_phy_map_valid;
} CONTROLLER_CONNECTOR_INFO, *PCONTROLLER_CONNECTOR_INFO;

/* Discovery configuration of one connector. */
typedef struct _CONNECTOR_DISCOVERY_CONFIGURATION {
    VK_BYTE discovery_protocol;
    VK_BYTE target_count;
} CONNECTOR_DISCOVERY_CONFIGURATION, *PCONNECTOR_DISCOVERY_CONFIGURATION;

#define kConnectorDiscoveryProtocolAutoDetect 0
#define kConnectorDiscoveryProtocolUBM 1
#define kConnectorDiscoveryProtocolSGPIO 2
#define kConnectorDiscoveryProtocolVPP 6
#define kConnectorDiscoveryProtocolDirectAttachedCable 7
#define kConnectorDiscoveryProtocolUnknown 0xFF

#define kConnectorDirectAttachTargetCountNotApplicable 0
#define kConnectorDirectAttachTargetCountUnknown 0xFF

/* Results of the discovery-configuration getters. */
#define kGetConnectorDiscoveryConfigurationSuccess 0
#define kGetConnectorDiscoveryConfigurationInvalidArgument 1
#define kGetConnectorDiscoveryConfigurationNotSupported 2
#define kGetConnectorDiscoveryConfigurationInvalidConnectorIndex 3
#define kGetConnectorDiscoveryConfigurationFailed 4

/* VK_GetConnectorDiscoveryProtocolSupport. */
#define kConnectorSupportsDiscoveryProtocolAutoDetect 0x01
#define kConnectorSupportsDiscoveryProtocolUBM 0x02
#define kConnectorSupportsDiscoveryProtocolSGPIO 0x04
#define kConnectorSupportsDiscoveryProtocolVPP 0x40
#define kConnectorSupportsDiscoveryProtocolDirectAttachedCable 0x80

/* VK_GetConnectorDirectAttachTargetCountSupport. */
#define kConnectorSupportsTargetCount1 0x01
#define kConnectorSupportsTargetCount2 0x02
#define kConnectorSupportsTargetCount4 0x04
#define kConnectorSupportsTargetCount8 0x08
#define CONNECTOR_SUPPORTS_ONE_DIRECT_ATTACHED_CABLE_TARGET(s) (((s)&kConnectorSupportsTargetCount1) != 0)
#define CONNECTOR_SUPPORTS_TWO_DIRECT_ATTACHED_CABLE_TARGETS(s) (((s)&kConnectorSupportsTargetCount2) != 0)
#define CONNECTOR_SUPPORTS_FOUR_DIRECT_ATTACHED_CABLE_TARGETS(s) (((s)&kConnectorSupportsTargetCount4) != 0)
#define CONNECTOR_SUPPORTS_EIGHT_DIRECT_ATTACHED_CABLE_TARGETS(s) (((s)&kConnectorSupportsTargetCount8) != 0)

/* Connector counts word of VK_GetControllerConnectorCounts. */
#define kControllerConnectorCountInternalMask 0x00FF
#define kControllerConnectorCountExternalMask 0xFF00
#define kControllerConnectorCountExternalShift 8

/* Walks the connector indexes of a controller, internal connectors first. */
#define FOREACH_CONNECTOR(cda, index)                                                                          \
    for ((index) = 0; (index) < VK_GetControllerTotalConnectorCount(cda); ++(index))

/* PHY rate codes. */
#define kPhyRate1G 0x08
#define kPhyRate3G 0x09
#define kPhyRate6G 0x0A
#define kPhyRate12G 0x0B
#define kPhyRate24G 0x0C

/* LU cache write policies. */
#define kLUCacheWritePolicyReadOnly 0x0001
#define kLUCacheWritePolicyWriteThru 0x0002
#define kLUCacheWritePolicyWriteBack 0x0003

/* ---- Controller mode word -------------------------------------------------------------------- */

#define kControllerModeCurrentMask 0x0007
#define kControllerModeCurrentUnknown 0x0001
#define kControllerModeCurrentRAID 0x0002
#define kControllerModeCurrentHBA 0x0003
#define kControllerModeCurrentMixed 0x0004
#define kControllerModePendingMask 0x0038
#define kControllerModePendingUnknown 0x0008
#define kControllerModePendingRAID 0x0010
#define kControllerModePendingHBA 0x0018
#define kControllerModePendingMixed 0x0020
#define kControllerModeSupportsMask 0x01C0
#define kControllerModeSupportsHBAMode 0x0040
#define kControllerModeSupportsVeskHBAMode 0x0080
#define kControllerModeSupportsMixedMode 0x0100

/* ---- Power-mode word ------------------------------------------------------------------------- */

#define kPowerModeCurrentMask 0x0003
#define kPowerModeCurrentInvalid 0
#define kPowerModeCurrentMin 0x0001
#define kPowerModeCurrentBalanced 0x0002
#define kPowerModeCurrentMax 0x0003
#define kPowerModePendingMask 0x000C
#define kPowerModePendingInvalid 0
#define kPowerModePendingMin 0x0004
#define kPowerModePendingBalanced 0x0008
#define kPowerModePendingMax 0x000C
#define kPowerModeWarningMask 0x07F0
#define kPowerModeWarningRebootRequired 0x0010
#define kPowerModeWarningTemp 0x0020
#define kPowerModeWarningNewMode 0x0040
#define kPowerModeWarningConfigChange 0x0080
#define kPowerModeWarningRebootPower 0x0100
#define kPowerModeWarningRebootPerformance 0x0200
#define kPowerModeWarningColdBootRequired 0x0400
#define kSupportedPowerModesMask 0x3800
#define kPowerModeNoneSupported 0
#define kPowerModeMinSupported 0x0800
#define kPowerModeBalancedSupported 0x1000
#define kPowerModeMaxSupported 0x2000
#define kDefaultPowerModeMask 0xC000
#define kPowerModeDefaultInvalid 0
#define kPowerModeDefaultMin 0x4000
#define kPowerModeDefaultBalanced 0x8000
#define kPowerModeDefaultMax 0xC000

/* VK_GetControllerSurvivalPowerMode. */
#define kControllerSurvivalPowerModeDisabled 0
#define kControllerSurvivalPowerModeEnabled 1
#define kControllerSurvivalPowerModeInvalid 0xFF

/* ---- Manufacturing data, sensors, cache and backup power ------------------------------------- */

#pragma pack(push, 1)
typedef struct _VK_CONTROLLER_MANUFACTURING_DATA {
    VK_BYTE WWID[8];
    char serial_number[16];
    char spare_part_number[16];
    VK_BYTE wellness_log[12];
    VK_BYTE revision;
    char part_number[16];
} VK_CONTROLLER_MANUFACTURING_DATA, *PVK_CONTROLLER_MANUFACTURING_DATA;
#pragma pack(pop)

typedef struct _CONTROLLER_TEMPERATURE_SENSOR_INFO {
    VK_UINT32 current_reading;
    VK_UINT32 max_reading;
    VK_BYTE location;
    VK_UINT32 critical_threshold;
    VK_UINT32 caution_threshold;
    VK_UINT32 warning_threshold;
    VK_BYTE sensor_index;
} CONTROLLER_TEMPERATURE_SENSOR_INFO, *PCONTROLLER_TEMPERATURE_SENSOR_INFO;

#define kControllerTemperatureSensorLocationInletAmbient 0
#define kControllerTemperatureSensorLocationChipASIC 1
#define kControllerTemperatureSensorLocationTop 2
#define kControllerTemperatureSensorLocationBottom 3
#define kControllerTemperatureSensorLocationFront 4
#define kControllerTemperatureSensorLocationBack 5
#define kControllerTemperatureSensorLocationCache 6

/* Selectors of VK_GetControllerTemperatureSensorInfo. */
#define kGetControllerTemperatureSensorLocation 0
#define kGetControllerTemperatureSensorReading 1
#define kGetControllerTemperatureSensorMaxReading 2

#define kBackupPowerSourceTypeNone 0
#define kBackupPowerSourceTypeCapacitor 1
#define kBackupPowerSourceTypeBattery 2
#define kBackupPowerSourceTypeVeskBattery 3
#define kBackupPowerSourceTypeUnknown 0xFF

/* Backup power counts word; each count saturates at 255. */
#define kBackupPowerSourceCountMask 0xFF
#define kInstalledBackupPowerSourcesMask 0xFF00
#define kInstalledBackupPowerSourcesShift 8
#define kFailedBackupPowerSourcesMask 0xFF0000
#define kFailedBackupPowerSourcesShift 16
#define kBackupPowerSourceResultMask 0xFF000000
#define kBackupPowerSourceResultShift 24
#define kBackupPowerSourceCountsSuccessful 1
#define kBackupPowerSourceCountsUnavailable 0
#define TOTAL_BACKUP_POWER_SOURCE_COUNT(w) ((VK_BYTE)((w)&kBackupPowerSourceCountMask))
#define INSTALLED_BACKUP_POWER_SOURCE_COUNT(w)                                                                 \
    ((VK_BYTE)(((w)&kInstalledBackupPowerSourcesMask) >> kInstalledBackupPowerSourcesShift))
#define FAILED_BACKUP_POWER_SOURCE_COUNT(w)                                                                    \
    ((VK_BYTE)(((w)&kFailedBackupPowerSourcesMask) >> kFailedBackupPowerSourcesShift))
#define BACKUP_POWER_SOURCE_COUNT_RESULT(w)                                                                    \
    ((VK_BYTE)(((w)&kBackupPowerSourceResultMask) >> kBackupPowerSourceResultShift))

PN_EXTERN_C_BEGIN

/* Connectors, addressed by index: internal ones first. */
VK_API VK_BOOL VK_GetControllerConnectorInfo(PCDA cda, VK_WORD connector_index, PCONTROLLER_CONNECTOR_INFO info);
VK_API VK_BOOL VK_ConnectorCurrentModeIsRAID(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorCurrentModeIsHBA(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorCurrentModeIsMixed(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorCurrentModeIsUnknown(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorPendingModeIsRAID(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorPendingModeIsHBA(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorPendingModeIsMixed(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL VK_ConnectorPendingModeIsUnknown(PCDA cda, VK_WORD connector_index);
VK_API VK_BOOL __VK_ConnectorCurrentModeIs(PCDA cda, VK_WORD connector_index, VK_BYTE mode);
VK_API VK_BOOL __VK_ConnectorPendingModeIs(PCDA cda, VK_WORD connector_index, VK_BYTE mode);
VK_API VK_BOOL VK_ConnectorIsBootConnector(PCDA cda, VK_WORD connector_index);
VK_API VK_WORD _VK_GetConnectorIndexFromNumber(PCDA cda, VK_BYTE connector_number);
VK_API VK_BYTE _VK_GetConnectorNumberFromIndex(PCDA cda, VK_WORD connector_index);
VK_API VK_BYTE VK_GetConnectorActiveDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                           PCONNECTOR_DISCOVERY_CONFIGURATION configuration);
VK_API VK_BYTE VK_GetConnectorPendingDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                            PCONNECTOR_DISCOVERY_CONFIGURATION configuration);
VK_API VK_BYTE VK_GetConnectorDefaultDiscoveryConfiguration(PCDA cda, VK_WORD connector_index,
                                                            PCONNECTOR_DISCOVERY_CONFIGURATION configuration);
VK_API VK_BYTE VK_GetConnectorDiscoveryProtocolSupport(PCDA cda, VK_WORD connector_index);
VK_API VK_BYTE VK_GetConnectorDirectAttachTargetCountSupport(PCDA cda, VK_WORD connector_index);
VK_API VK_BYTE VK_GetConnectorPhyCount(PCDA cda, VK_WORD connector_index);
/* 0x1 one PHY, 0x2 two PHYs, 0x4 four PHYs per link. */
VK_API VK_BYTE _VK_GetConnectorAllowedLinkWidths(PCDA cda);
VK_API VK_WORD VK_GetControllerConnectorCounts(PCDA cda);
VK_API VK_WORD VK_GetControllerTotalConnectorCount(PCDA cda);
VK_API VK_WORD VK_GetControllerInternalConnectorCount(PCDA cda);
VK_API VK_WORD VK_GetControllerExternalConnectorCount(PCDA cda);

/* Controller mode word; 0 when the controller cannot be identified. */
VK_API VK_WORD VK_GetControllerModeInfo(PCDA cda);
VK_API VK_BOOL __VK_ControllerCurrentModeIs(PCDA cda, VK_WORD mode);
VK_API VK_BOOL __VK_ControllerPendingModeIs(PCDA cda, VK_WORD mode);
VK_API VK_BOOL VK_ControllerCurrentModeIsRAID(PCDA cda);
VK_API VK_BOOL VK_ControllerCurrentModeIsHBA(PCDA cda);
VK_API VK_BOOL VK_ControllerCurrentModeIsMixed(PCDA cda);
VK_API VK_BOOL VK_ControllerCurrentModeIsUnknown(PCDA cda);
VK_API VK_BOOL VK_ControllerPendingModeIsRAID(PCDA cda);
VK_API VK_BOOL VK_ControllerPendingModeIsHBA(PCDA cda);
VK_API VK_BOOL VK_ControllerPendingModeIsMixed(PCDA cda);
VK_API VK_BOOL VK_ControllerPendingModeIsUnknown(PCDA cda);

/* Power-mode word. A warning predicate is true only when its warning is the only one. */
VK_API VK_WORD VK_GetPowerModeInformation(PCDA cda);
VK_API VK_BOOL __VK_CurrentPowerModeIs(PCDA cda, VK_WORD mode);
VK_API VK_BOOL __VK_PendingPowerModeIs(PCDA cda, VK_WORD mode);
VK_API VK_BOOL __VK_PowerModeWarning(PCDA cda, VK_WORD warning);
VK_API VK_BOOL VK_CurrentPowerModeIsInvalid(PCDA cda);
VK_API VK_BOOL VK_CurrentPowerModeIsMin(PCDA cda);
VK_API VK_BOOL VK_CurrentPowerModeIsBalanced(PCDA cda);
VK_API VK_BOOL VK_CurrentPowerModeIsMax(PCDA cda);
VK_API VK_BOOL VK_PendingPowerModeIsInvalid(PCDA cda);
VK_API VK_BOOL VK_PendingPowerModeIsMin(PCDA cda);
VK_API VK_BOOL VK_PendingPowerModeIsBalanced(PCDA cda);
VK_API VK_BOOL VK_PendingPowerModeIsMax(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningRebootRequired(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningTemp(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningNewMode(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningConfigChange(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningRebootPower(PCDA cda);
VK_API VK_BOOL VK_PowerModeWarningRebootPerformance(PCDA cda);
VK_API VK_BYTE VK_GetControllerSurvivalPowerMode(PCDA cda);

/* Manufacturing data: the standard record (OEM id 0 only), or the OEM form in a block that the
 * caller frees with VK_free (69 bytes for OEM id 0, else the 256 bytes as read). */
VK_API VK_BOOL VK_GetControllerManufacturingData(PCDA cda, VK_CONTROLLER_MANUFACTURING_DATA* manufacturing_data);
VK_API void* VK_GetControllerOEMManufacturingData(PCDA cda, VK_BYTE* data_type, VK_BYTE* revision);

/* Temperature sensors; every call reads the controller afresh. */
VK_API VK_DWORD VK_GetControllerTemperatureSensorCount(PCDA cda);
VK_API VK_DWORD VK_GetControllerTemperatureSensorLocation(PCDA cda, VK_DWORD sensor_index);
VK_API VK_DWORD VK_GetControllerTemperatureSensorReading(PCDA cda, VK_DWORD sensor_index);
VK_API VK_DWORD VK_GetControllerTemperatureSensorMaxReading(PCDA cda, VK_DWORD sensor_index);
VK_API VK_DWORD VK_GetControllerTemperatureSensorInfo(PCDA cda, VK_DWORD sensor_index, VK_BYTE temp_info_type);
/* The valid sensors, or NULL; release with VK_DestroyControllerTemperatureSensorsInfo. */
VK_API PCONTROLLER_TEMPERATURE_SENSOR_INFO VK_GetControllerTemperatureSensorsInfo(PCDA cda,
                                                                                  VK_DWORD* number_of_sensors);
VK_API void VK_DestroyControllerTemperatureSensorsInfo(PCONTROLLER_TEMPERATURE_SENSOR_INFO sensors_info);

VK_API VK_WORD VK_GetControllerTotalCacheSize(PCDA cda);
VK_API VK_WORD VK_GetControllerBatteryBackedCacheSize(PCDA cda);
VK_API VK_BYTE VK_GetControllerBackupPowerSourceType(PCDA cda);
VK_API VK_DWORD VK_GetControllerBackupPowerSourceCounts(PCDA cda);

PN_EXTERN_C_END

/* ---- Physical drives, arrays and enclosures -------------------------------------------------- */

/* Numbers of no element: enumerators start from and end with them. */
#define kInvalidPDNumber 0xFFFF
#define kInvalidLDNumber 0xFFFF
#define kInvalidArrayNumber 0xFFFF
#define kInvalidSENumber 0xFFFF

/* Usage of a physical device, set by the array model. */
#define kPhysicalDriveUsageUnassigned 0x01
#define kPhysicalDriveUsageData 0x02
#define kPhysicalDriveUsageAutoReplaceStandbySpare 0x03
#define kPhysicalDriveUsageShareableStandbySpare 0x04
#define kPhysicalDriveUsageShareableActiveSpare 0x05
#define kPhysicalDriveUsageTransientData 0x06
#define kPhysicalDriveUsageLUCacheData 0x07
#define kPhysicalDriveUsageHBA 0x08
#define kPhysicalDriveUsageTransientUnassigned 0x09
#define kPhysicalDriveUsageUnconfigurable 0x0A

/* Logical-drive types; an array has the type of its logical drives. */
#define kLogicalDriveTypeMask 0x07
#define kLogicalDriveTypeData 1
#define kLogicalDriveTypeCache 2
#define kLogicalDriveTypeSplitMirrorSetPrimary 3
#define kLogicalDriveTypeSplitMirrorSetBackup 4
#define kLogicalDriveTypeSplitMirrorSetBackupOrphan 5

/* Array types, one bit each, for VK_GetArrayType and the masks of VK_EnumerateArrays. */
#define kArrayTypeData 0x01
#define kArrayTypeLUCache 0x02
#define kArrayTypeSplitMirrorPrimary 0x10
#define kArrayTypeSplitMirrorBackup 0x20
#define kArrayTypeSplitMirrorBackupOrphan 0x40
#define kArrayTypeAny 0xFF

PN_EXTERN_C_BEGIN

/* The connector index of a drive, by name first, then by connector number; kInvalidConnectorIndex
 * when none matches or the drive cannot be read. */
VK_API VK_WORD VK_GetConnectorIndexOfPhysicalDrive(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDriveConnectorIndex(PCDA cda, VK_WORD pd_number);
/* Whether the drive may take part in a configuration. */
VK_API VK_BOOL _VK_IsPhysicalDriveSupportedForConfig(PCDA cda, VK_WORD pd_number);

/* Arrays: the enumerators take the previous number (kInvalid... to start) and return the next. */
VK_API VK_BYTE VK_GetArrayType(PCDA cda, VK_WORD array_number);
VK_API VK_WORD VK_EnumerateArrays(PCDA cda, VK_BYTE array_type, VK_WORD array_number);
VK_API VK_WORD VK_EnumerateAllArrays(PCDA cda, VK_WORD array_number);
VK_API VK_WORD VK_EnumerateArrayPhysicalDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateArrayDataDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateArraySpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateArraySharedActiveSpareDrives(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateArrayLogicalDrives(PCDA cda, VK_WORD array_number, VK_WORD ld_number);

/* `current_offset` rounded up to the alignment of a live array; the worker takes the alignment. */
VK_API VK_QWORD VK_GetNextLogicalDriveAlignedOffset(PCDA cda, VK_WORD editable_array_number,
                                                    VK_QWORD current_offset);
VK_API VK_QWORD _VK_GetNextLogicalDriveAlignedOffset(PCDA cda, VK_QWORD alignment_size_blocks,
                                                     VK_QWORD current_offset);

/* Enclosures 0 to 15 that answered. */
VK_API VK_WORD VK_EnumerateControllerStorageEnclosures(PCDA cda, VK_WORD se_number);

PN_EXTERN_C_END

/* ---- Physical devices: counts, enumeration, identity, sizes, PHYs, paths and locations ------- */

#define kInvalidDeviceNumber 0xFFFF
#define kInvalidSEPNumber 0xFFFF
#define kInvalidExpanderNumber 0xFFFF

/* Logical-drive counts word of VK_GetControllerLogicalDriveCounts. */
#define kDataLogicalDriveCountMask 0x00000FFF
#define kCacheLogicalDriveCountMask 0x00FFF000
#define kCacheLogicalDriveCountBitShift 12
#define NUM_DATA_LOGICAL_DRIVES(w) ((VK_WORD)((w)&kDataLogicalDriveCountMask))
#define NUM_CACHE_LOGICAL_DRIVES(w) ((VK_WORD)(((w)&kCacheLogicalDriveCountMask) >> kCacheLogicalDriveCountBitShift))
#define NUM_LOGICAL_DRIVES(w) ((VK_WORD)(NUM_DATA_LOGICAL_DRIVES(w) + NUM_CACHE_LOGICAL_DRIVES(w)))

/* Drive-type mask of VK_GetControllerPhysicalDriveCount. */
#define kPhysicalDriveTypeUnassigned 0x01
#define kPhysicalDriveTypeData 0x02
#define kPhysicalDriveTypeCache 0x04
#define kPhysicalDriveTypeSpare 0x08
#define kPhysicalDriveTypeHBA 0x10
#define kPhysicalDriveTypeAny 0xFF

/* VK_PhysicalDeviceType. */
#define kPhysicalDeviceTypeDrive 0x00
#define kPhysicalDeviceTypeExpander 0x01
#define kPhysicalDeviceTypeSEP 0x02
#define kPhysicalDeviceTypeController 0x03
#define kPhysicalDeviceTypeSMP 0x04
#define kPhysicalDeviceTypePhyNotConnected 0x05
#define kPhysicalDeviceTypeUnknown 0xFF

/* Basic-info word of VK_GetPhysicalDriveBasicInfo. */
#define kPhysicalDriveTypeSAS 0x0001
#define kPhysicalDriveTypeSATA 0x0002
#define kPhysicalDriveTypeNVMe 0x0004
#define kPhysicalDriveTypeUnknown 0x0008
#define kPhysicalDriveTypeSSD 0x0010
#define kPhysicalDriveTypeHDD 0x0020
#define kPhysicalDriveTypeTape 0x0040
#define kPhysicalDriveIsPresent 0x0080
#define kPhysicalDriveRecordingSMRHA 0x0100
#define kPhysicalDriveRecordingSMRHM 0x0200
#define kPhysicalDriveRecordingSMRDM 0x0400
#define kPhysicalDriveOnBootConnector 0x0800
#define kPhysicalDriveIsInstalled 0x1000
#define kPhysicalDriveIsMultiActuator 0x2000
#define kPhysicalDriveInterfaceMask 0x0F
#define kPhysicalDriveMediaMask 0x70
#define kPhysicalDriveRecordingMask 0x0700
#define kPhysicalDriveTypeMask (kPhysicalDriveInterfaceMask | kPhysicalDriveMediaMask)
#define PHYSICAL_DRIVE_TYPE(info) ((info)&kPhysicalDriveTypeMask)
#define IS_SAS_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeSAS) != 0)
#define IS_SATA_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeSATA) != 0)
#define IS_NVME_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeNVMe) != 0)
#define IS_UNKNOWN_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeUnknown) != 0)
#define IS_SSD_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeSSD) != 0)
#define IS_HDD_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveTypeHDD) != 0)
#define IS_SMR_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveRecordingMask) != 0)
#define IS_PHYSICAL_DRIVE_PRESENT(info) (((info)&kPhysicalDriveIsPresent) != 0)
#define IS_PHYSICAL_DRIVE_INSTALLED(info) (((info)&kPhysicalDriveIsInstalled) != 0)
#define IS_PHYSICAL_DRIVE_ON_BOOT_CONNECTOR(info) (((info)&kPhysicalDriveOnBootConnector) != 0)
#define IS_MULTI_ACTUATOR_PHYSICAL_DRIVE(info) (((info)&kPhysicalDriveIsMultiActuator) != 0)

/* Selectors of VK_GetPhysicalDriveSize. */
#define kPhysicalDriveSizeTotalBlocks 1
#define kPhysicalDriveSizeTotalBytes 2
#define kPhysicalDriveSizeUsableBlocks 3
#define kPhysicalDriveSizeUsableBytes 4
#define kPhysicalDriveBlockSizeBytes 5
#define kPhysicalDriveNativeBlockSizeBytes 6
#define kPhysicalDriveReservedSizeBlocks 7
#define kPhysicalDriveReservedSizeBytes 8

/* Boot precedence of VK_GetPhysicalDriveBootPriority. */
#define kBootableVolumePrecedenceNone 0
#define kBootableVolumePrecedencePrimary 1
#define kBootableVolumePrecedenceSecondary 2
#define kBootableVolumePrecedenceAll 3

/* Smallest buffers of the text getters (text and its NUL). */
#define kMinGetPhysicalDriveModelBufferLength 49
#define kMinGetPhysicalDriveSerialNumberBufferLength 41
#define kMinGetPhysicalDriveFirmwareVersionBufferLength 9
#define kMinGetPhysicalDriveMinFirmwareVersionBufferLength 9
#define kMinGetPhysicalDriveVendorIDBufferLength 9
#define kMinGetPhysicalDriveProductIDBufferLength 41
#define kMinGetPhysicalDriveUniqueVolumeIDBufferLength 33
#define kMinGetPhysicalDriveWWIDBufferLength 20
#define kMinGetPhysicalDriveWWIDStringLength 41

/* VK_GetPhysicalDriveTemperatureInfo. */
#define PD_CURRENT_TEMPERATURE(w) ((VK_BYTE)((w)&0x00FF))
#define PD_MAXIMUM_TEMPERATURE(w) ((VK_BYTE)(((w)&0xFF00) >> 8))

/* Results of VK_GetPhysicalDriveLunInfo. */
#define kGetPhysicalDriveLunInfoSuccess 0
#define kGetPhysicalDriveLunInfoInvalidArgument 1
#define kGetPhysicalDriveLunInfoFailed 2
#define kGetPhysicalDriveLunInfoOutOfMemory 3

/* One LUN of a drive; slot n of the list is LUN n. */
typedef struct _PHYSICAL_DRIVE_LUN_INFO {
    VK_BYTE lun_number;
    VK_BYTE wwid[20];
    char wwid_str[41];
    char unique_volume_id[33];
    VK_QWORD total_size_in_bytes;
    VK_QWORD total_size_in_blocks;
} PHYSICAL_DRIVE_LUN_INFO, *PPHYSICAL_DRIVE_LUN_INFO;

/* Header of the one block VK_GetPhysicalDriveLunInfo allocates; the slots follow it. */
typedef struct _PHYSICAL_DRIVE_LUN_INFO_LIST {
    VK_BYTE count;
    PHYSICAL_DRIVE_LUN_INFO* lun_info;
} PHYSICAL_DRIVE_LUN_INFO_LIST, *PPHYSICAL_DRIVE_LUN_INFO_LIST;

/* PHY numbers. */
#define kAnyPhyNumber 0xFFFE
#define kInvalidPhyNumber 0xFFFF
#define kPhyRateUnknown 0x00

/* Link-rate word of VK_GetPhysicalDevicePhyLinkRate. */
#define kPhyNegotiatedPhysicalLinkRateMask 0x000000FF
#define kPhyNegotiatedLogicalLinkRateMask 0x0000FF00
#define kPhyMaxLinkRateMask 0x00FF0000
#define kPhyInfoFormatMask 0xF0000000
#define kPhyNegotiatedPhysicalLinkRateOffset 0
#define kPhyNegotiatedLogicalLinkRateOffset 8
#define kPhyMaxLinkRateOffset 16
#define kPhyInfoFormatOffset 28
#define kPhyInfoFormatSAS 1
#define kPhyInfoFormatNVMe 2
#define PHY_NEGOTIATED_PHYSICAL_LINK_RATE(w) ((VK_BYTE)(((w)&kPhyNegotiatedPhysicalLinkRateMask) >> kPhyNegotiatedPhysicalLinkRateOffset))
#define PHY_NEGOTIATED_LOGICAL_LINK_RATE(w) ((VK_BYTE)(((w)&kPhyNegotiatedLogicalLinkRateMask) >> kPhyNegotiatedLogicalLinkRateOffset))
#define PHY_MAX_LINK_RATE(w) ((VK_BYTE)(((w)&kPhyMaxLinkRateMask) >> kPhyMaxLinkRateOffset))
#define PHY_INFO_FORMAT(w) ((VK_BYTE)(((w)&kPhyInfoFormatMask) >> kPhyInfoFormatOffset))

/* Controller-PHY word of VK_GetPhysicalDeviceControllerPhyNumbers. */
#define FIRST_CONTROLLER_PHY_NUMBER(w) ((VK_WORD)((w)&0xFFFF))
#define LAST_CONTROLLER_PHY_NUMBER(w) ((VK_WORD)(((w) >> 16) & 0xFFFF))

/* Path maps of VK_GetPhysicalDevicePhyMap. */
#define kActivePathMap 1
#define kPathPresentMap 2
#define kPathFailureMap 3

/* Path-info word of VK_GetPhysicalDevicePathInfo. */
#define IS_PATH_ACTIVE(w, i) ((((w) >> (i)) & 1) != 0)
#define IS_PATH_FAILED(w, i) ((((w) >> (8 + (i))) & 1) != 0)

/* Location and path-name selectors. */
#define kPhysicalDriveLocationComplete 1
#define kPhysicalDriveLocationPort 2
#define kPhysicalDriveLocationBox 3
#define kPhysicalDriveLocationBay 4
#define kPhysicalDevicePathNameComplete 1
#define kPhysicalDevicePathNamePort 2
#define kPhysicalDevicePathNameBox 3
#define kPhysicalDevicePathNameBay 4
#define kSEPLocationComplete 1
#define kSEPLocationPort 2
#define kSEPLocationBox 3
#define kExpanderLocationComplete 1
#define kExpanderLocationPort 2
#define kExpanderLocationBox 3
#define kMinGetPhysicalDeviceLocationCompleteBufferLength 25
#define kMinGetPhysicalDeviceLocationPortBufferLength 9
#define kMinGetPhysicalDeviceLocationBoxBufferLength 8
#define kMinGetPhysicalDeviceLocationBayBufferLength 8

/* VK_GetPhysicalDeviceConnectorLocation. */
#define kPhysicalDeviceConnectorLocationUnknown 0
#define kPhysicalDeviceConnectorLocationExternal 1
#define kPhysicalDeviceConnectorLocationInternal 2

/* Aggregate speed word of VK_GetConnectorAggregateSpeedGbps: significand / 10^exponent Gbps. */
#define kGetConnectorAggregateSpeedGbpsSignificandMask 0xFFFF0000
#define kGetConnectorAggregateSpeedGbpsExponentMask 0x0000FFFF
#define CONNECTOR_LINK_RATE_SIGNIFICAND(w) ((VK_WORD)(((w)&kGetConnectorAggregateSpeedGbpsSignificandMask) >> 16))
#define CONNECTOR_LINK_RATE_EXPONENT(w) ((VK_WORD)((w)&kGetConnectorAggregateSpeedGbpsExponentMask))
#define kConnectorAggregateSpeedNegotiatedLogical 0
#define kConnectorAggregateSpeedNegotiatedPhysical 1
#define kConnectorAggregateSpeedMax 2

PN_EXTERN_C_BEGIN

/* Counts: 0 when the array model or IDENTIFY is unavailable. */
VK_API VK_WORD VK_GetControllerTotalArrayCount(PCDA cda);
VK_API VK_WORD VK_GetControllerDataArrayCount(PCDA cda);
VK_API VK_WORD VK_GetControllerCacheArrayCount(PCDA cda);
VK_API VK_WORD VK_GetControllerOfflineArrayCount(PCDA cda);
VK_API VK_WORD VK_GetControllerArrayCount(PCDA cda, VK_BYTE array_type);
VK_API VK_DWORD VK_GetControllerLogicalDriveCounts(PCDA cda);
VK_API VK_WORD VK_GetControllerPhysicalDriveCount(PCDA cda, VK_BYTE drive_type);
VK_API VK_WORD VK_GetControllerUnassignedPhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerDataPhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerCachePhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerSparePhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerHBAPhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerTotalPhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_GetControllerPhysicalDeviceCount(PCDA cda);
/* Enumerators: the previous number (0xFFFF to start) in, the next one or 0xFFFF out. */
VK_API VK_WORD VK_EnumerateControllerPhysicalDevices(PCDA cda, VK_WORD device_number);
VK_API VK_WORD VK_EnumerateControllerAllPhysicalDevices(PCDA cda, VK_WORD device_number);
VK_API VK_BYTE VK_PhysicalDeviceType(PCDA cda, VK_WORD device_number);
VK_API VK_BOOL VK_IsControllerLUCacheEnabled(PCDA cda);
VK_API VK_BOOL _VK_ControllerHasSelfEncryptingDrives(PCDA cda);

VK_API VK_WORD VK_EnumerateControllerPhysicalDrives(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDriveArray(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDeviceStorageEnclosureNumber(PCDA cda, VK_WORD pd_number);
VK_API VK_DWORD VK_GetPhysicalDriveBasicInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveUsageInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_QWORD VK_GetPhysicalDriveSize(PCDA cda, VK_WORD pd_number, VK_BYTE size_type);
/* Text getters: the buffer is zeroed; it stays empty unless it is larger than the field. */
VK_API char* VK_GetPhysicalDriveModel(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveSerialNumber(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveFirmwareVersion(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveMinFirmwareVersion(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveVendorID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveProductID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveBootVolumeID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveUniqueVolumeID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size);
VK_API char* VK_GetPhysicalDriveWWID(PCDA cda, VK_WORD pd_number, void* wwid_buffer, size_t buffer_size,
                                     VK_BOOL convert_to_string);
VK_API VK_BYTE VK_GetPhysicalDriveCurrentTemperature(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveMaximumTemperature(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveTemperatureThreshold(PCDA cda, VK_WORD pd_number);
/* Read live: maximum << 8 | current, 0 on failure. */
VK_API VK_WORD VK_GetPhysicalDriveTemperatureInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_DWORD VK_GetPhysicalDriveRotationalSpeed(PCDA cda, VK_WORD pd_number);
/* The list is one block that the caller frees with VK_free. */
VK_API VK_BYTE VK_GetPhysicalDriveLunInfo(PCDA cda, VK_WORD pd_number, PHYSICAL_DRIVE_LUN_INFO_LIST** pd_lun_info_list);
VK_API VK_DWORD VK_GetPhysicalDrivePCIValue(PCDA cda, VK_WORD pd_number, VK_BYTE pci_value);
/* The drive's host descriptor, owned by the data area until its records are cleared; NULL when the
 * controller reports no such drive. */
VK_API void* VK_GetPhysicalDriveDescriptor(PCDA cda, VK_WORD pd_number);

VK_API VK_WORD VK_GetPhysicalDevicePHYCount(PCDA cda, VK_WORD dev_number);
VK_API VK_DWORD VK_GetPhysicalDeviceControllerPhyNumbers(PCDA cda, VK_WORD dev_number);
VK_API VK_DWORD VK_GetPhysicalDevicePhyLinkRate(PCDA cda, VK_WORD dev_number, VK_WORD phy_number);
VK_API VK_WORD VK_GetPhysicalDevicePhyConnectorIndex(PCDA cda, VK_WORD dev_number, VK_WORD phy_number);
VK_API VK_BYTE VK_GetPhysicalDevicePhyMap(PCDA cda, VK_WORD dev_number, VK_BYTE map_type);
VK_API VK_BYTE _VK_GetPhysicalDevicePhyConnectedDeviceType(PCDA cda, VK_WORD dev_number, VK_WORD phy_number);
VK_API char* VK_GetPhysicalDriveLocation(PCDA cda, VK_WORD dev_number, VK_BYTE type, char* location_buffer,
                                         size_t buffer_size);
VK_API VK_BYTE VK_GetPhysicalDevicePathCount(PCDA cda, VK_WORD dev_number);
VK_API char* VK_GetPhysicalDevicePathName(PCDA cda, VK_WORD dev_number, VK_BYTE path_index, VK_BYTE type,
                                          char* path_name_buffer, size_t buffer_size);
VK_API VK_WORD VK_GetPhysicalDevicePathInfo(PCDA cda, VK_WORD dev_number);
VK_API VK_BOOL VK_PhysicalDeviceIsMultiPath(PCDA cda, VK_WORD dev_number);
VK_API VK_WORD VK_EnumeratePhysicalDriveConnectors(PCDA cda, VK_WORD pd_number, VK_WORD connector_index);
VK_API VK_BYTE VK_GetPhysicalDeviceConnectorLocation(PCDA cda, VK_WORD dev_number);

VK_API VK_DWORD VK_GetConnectorAggregateSpeedGbps(PCDA cda, VK_WORD connector_index, VK_BYTE speed_type);
VK_API VK_WORD __VK_EnumerateConnectorDirectAttachDevices(PCDA cda, VK_WORD connector_index, VK_WORD device_number);

PN_EXTERN_C_END

/* The FOREACH_ loops: each starts from 0xFFFF and runs its body for every number the enumerator
 * gives, until it answers 0xFFFF. */
/* ---- Physical-drive flag set, wear, erase state and statistics; enclosures, SEPs, expanders and
 * remote volumes ---------------------------------------------------------------------------------- */

/* Indexes of the drive flag set. */
#define PDF_StampedForMNP 0
#define PDF_PresentAndOperational 1
#define PDF_IsNonDiskDevice 2
#define PDF_SMARTSupported 3
#define PDF_SMARTEnabled 4
#define PDF_SMARTErrorsInMNPFactory 5
#define PDF_SMARTErrorsInMNPSincePowerOn 6
#define PDF_AttachedToExternalConnector 7
#define PDF_IsDataDrive 8
#define PDF_IsSpareDrive 9
#define PDF_DriveWriteCacheEnabledOnSpinup 10
#define PDF_DoesNotSupportMultiInitiatorOperation 11
#define PDF_DriveWriteCacheEnabled 12
#define PDF_DriveWriteCacheIsChangeable 13
#define PDF_IsSMARTOverheated 14
#define PDF_IsVirtualRAMDisk 15
#define PDF_NCQSupported 16
#define PDF_NCQEnabled 17
#define PDF_DriveNotSupportedForConfiguration 18
#define PDF_MappedToZonedDriveBay 19
#define PDF_DriveHasOverheated 20
#define PDF_HasKnownBadFWVersion 21
#define PDF_DriveIsOffline 22
#define PDF_DriveIsOfflineDueToEraseOperation 23
#define PDF_IsSSD 24
#define PDF_HasUnsupportedMetadata 25
#define PDF_IsLowestNumberedDeviceWithKnownBadFW 26
#define PDF_IsBehindSASSwitchEnclosure 27
#define PDF_IsSMARTWornOut 28
#define PDF_SSDWearInformationSupported 29
#define PDF_RPICapable 31
#define PDF_ImmediateModeFWUpdateSupported 32
#define PDF_SupportsOverwrite 33
#define PDF_SupportsBlockErase 34
#define PDF_SupportsCryptoErase 35
#define PDF_SupportsUnrestrictedSanitizeOperations 36
#define PDF_VendorVerifiedSupport 37
#define PDF_DriveSanitizingAfterPowerLoss 38
#define PDF_NoSanitizeOperationsSupported 39
#define PDF_HasBeenPowerCycledForErrorRecovery 40
#define PDF_DriveIsEncrypted 41
#define PDF_SpareRebuildsDisabled 42
#define PDF_WriteBufferModeDSupported 43
#define PDF_WriteBufferModeESupported 44
#define PDF_WriteBufferMode7Supported 45
#define PDF_WriteBufferMode5Supported 46
#define PDF_DriveMaskedFromOSWithRIS 47
#define PDF_IsHBADrive 48
#define PDF_SelectedAsPrimaryBootVolume 49
#define PDF_SelectedAsSecondaryBootVolume 50
#define PDF_HostAwareSMRDrive 51
#define PDF_HostManagedSMRDrive 52
#define PDF_DeviceManagedSMRDrive 53
#define PDF_DeviceExposedToHost 54
#define PDF_DeviceOnBootConnector 55
#define PDF_LastValidFlag 56

/* Remaining life from power-on hours and percent of endurance used; 0 unless both are usable. */
#define SSD_REMAINING_DAYS(hours, utilization)                                                           \
    (((hours) > 0 && (utilization) > 0 && (utilization) <= 100)                                          \
         ? ((100.0 - (double)(utilization)) / (((double)(utilization) / (double)(hours)) * 24.0))         \
         : 0.0)
#define SSD_REMAINING_HOURS(hours, utilization)                                                          \
    (((hours) > 0 && (utilization) > 0 && (utilization) <= 100)                                          \
         ? (((unsigned)(utilization) / (unsigned)(hours)) > 0                                            \
                ? (100u - (unsigned)(utilization)) / ((unsigned)(utilization) / (unsigned)(hours))       \
                : (100u - (unsigned)(utilization)) * ((unsigned)(hours) / (unsigned)(utilization)))      \
         : 0u)

/* VK_GetPhysicalDriveCarrierAuthentication. */
#define kPhysicalDriveCarrierFailed 0
#define kPhysicalDriveCarrierOK 1
#define kPhysicalDriveCarrierNoCommunication 2
#define kPhysicalDriveCarrierNotApplicable 3

/* VK_GetPhysicalDriveSanitizeLock: state in bits 0-1, errors in bits 2-3. */
#define kPhysicalDriveSanitizeLockStateMask 0x03
#define kPhysicalDriveSanitizeLockDisabled 0
#define kPhysicalDriveSanitizeLockFreeze 1
#define kPhysicalDriveSanitizeLockAntiFreeze 2
#define kPhysicalDriveSanitizeLockUnknown 3
#define kPhysicalDriveSanitizeLockErrorsMask 0x0C
#define kPhysicalDriveSanitizeLockNoErrors 0
#define kPhysicalDriveSanitizeLockFreezeFailed 1
#define kPhysicalDriveSanitizeLockAntiFreezeFailed 2
#define PHYSICAL_DRIVE_SANITIZE_LOCK(lock) ((lock) & kPhysicalDriveSanitizeLockStateMask)
#define PHYSICAL_DRIVE_SANITIZE_LOCK_ERRORS(lock) (((lock) & kPhysicalDriveSanitizeLockErrorsMask) >> 2)

/* Erase word: status in bits 0-3, 0x10 for a sanitize class, method in bits 8-11, progress in 16-31. */
#define kPhysicalDriveEraseStatusMask 0x0F
#define kPhysicalDriveEraseStatusNotErasing 0
#define kPhysicalDriveEraseStatusEraseQueued 1
#define kPhysicalDriveEraseStatusEraseInProgress 2
#define kPhysicalDriveEraseStatusEraseCompleted 3
#define kPhysicalDriveEraseStatusEraseFailed 4
#define kPhysicalDriveEraseStatusEraseAborted 5
#define kPhysicalDriveEraseStatusSanitizeClass 0x10
#define kPhysicalDriveEraseStatusMethodMask 0x0F00
#define kPhysicalDriveEraseStatusMethod1Pass 1
#define kPhysicalDriveEraseStatusMethod2Pass 2
#define kPhysicalDriveEraseStatusMethod3Pass 3
#define kPhysicalDriveEraseStatusMethodCrypto 4
#define kPhysicalDriveEraseStatusMethodBlock 5
#define kPhysicalDriveEraseStatusMethodOverwrite 6
#define kPhysicalDriveEraseStatusMethodSanitize 7
#define kPhysicalDriveEraseStatusMethodLow 8
#define kPhysicalDriveEraseStatusProgressMask 0xFFFF0000u
#define PHYSICAL_DRIVE_ERASE_STATUS(erase) ((erase) & kPhysicalDriveEraseStatusMask)
#define PHYSICAL_DRIVE_ERASE_METHOD(erase) (((erase) & kPhysicalDriveEraseStatusMethodMask) >> 8)
#define PHYSICAL_DRIVE_ERASE_PROGRESS(erase) (((erase) & kPhysicalDriveEraseStatusProgressMask) >> 16)

/* Drive statistics, each field as wide as the controller reports it. */
typedef struct _MNP_STATISTICS {
    VK_WORD aborted_commands;
    VK_WORD bad_target_errors;
    VK_QWORD ecc_recovered_read_errors;
    VK_WORD failed_read_recovers;
    VK_WORD failed_write_recovers;
    VK_WORD format_errors;
    VK_WORD hardware_errors;
    VK_DWORD hard_read_errors;
    VK_DWORD hard_write_errors;
    VK_DWORD hot_plug_count;
    VK_WORD media_failures;
    VK_DWORD not_ready_errors;
    VK_WORD other_time_out_errors;
    VK_DWORD predictive_failures;
    VK_DWORD retry_recovered_read_errors;
    VK_DWORD retry_recovered_write_errors;
    VK_DWORD bus_faults;
    VK_QWORD sectors_read;
    VK_QWORD sectors_written;
    VK_QWORD seek_count;
    VK_QWORD seek_errors;
    VK_WORD drq_timeouts;
    VK_WORD spin_retries;
    VK_DWORD reference_hours;
} MNP_STATISTICS;

/* VK_GetPhysicalDriveMNPStatistics. */
#define kGetPhysicalDriveMNPStatisticsSuccess 1
#define kGetPhysicalDriveMNPStatisticsInvalidInput 2
#define kGetPhysicalDriveMNPStatisticsUnsupportedPD 3
#define kGetPhysicalDriveMNPStatisticsNotOKState 4
#define kGetPhysicalDriveMNPStatisticsFailed 5
/* Selector of VK_GetPhysicalDriveMNPStatistic. */
#define kPdMNPMediaFailures 0x01

/* Enclosures. */
#define kSEDeviceTypeBay 1
#define kSEDeviceTypePhysicalDrive 2
#define kSEDeviceTypeSEP 3
#define kSEDeviceTypeExpander 4

#define kStorageEnclosureBackplaneInterfaceTypeNone 0x00
#define kStorageEnclosureBackplaneInterfaceTypeDirectSGPIO 0x01
#define kStorageEnclosureBackplaneInterfaceTypeSGPIOOverSMP 0x02
#define kStorageEnclosureBackplaneInterfaceTypeSSP 0x03
#define kStorageEnclosureBackplaneInterfaceTypeUBM 0x04
#define kStorageEnclosureBackplaneInterfaceTypeVendorSpecific 0x05
#define kStorageEnclosureBackplaneInterfaceTypeVPP 0x06
#define kStorageEnclosureBackplaneInterfaceTypeUnknown 0xFF

#define kGetStorageEnclosureLocationInternal 0
#define kGetStorageEnclosureLocationExternal 1
#define kGetStorageEnclosureLocationUnknown 2
#define kGetStorageEnclosureLocationInvalidSENumber 0xFF

#define kStorageEnclosurePathNameComplete 1
#define kStorageEnclosurePathNamePort 2
#define kStorageEnclosurePathNameBox 3
#define IS_SE_PATH_ACTIVE(path_info, path_index) ((((path_info) >> (path_index)) & 0x1) != 0)
#define IS_SE_PATH_FAILED(path_info, path_index) ((((path_info) >> ((path_index) + 8)) & 0x1) != 0)

#define kUBMBackplaneManagerDeviceCodeInvalid 0xFFFFFFFF
#define kGetUBMBackplaneNumberInvalidSENumber 0xFF
#define kGetUBMBackplaneNumberNotUBMBackplane 0xFE
#define kGetUBMBackplaneVersionNumberInvalidSENumber 0xFFFFFFFF
#define kGetUBMBackplaneVersionNumberNotUBMBackplane 0xFFFFFFFE
#define kUBMBackplaneVersionNumberMajorMask 0xFF00
#define kUBMBackplaneVersionNumberMinorMask 0x00FF
#define GET_UBM_BACKPLANE_MAJOR_VERSION(version) (((version) & kUBMBackplaneVersionNumberMajorMask) >> 8)
#define GET_UBM_BACKPLANE_MINOR_VERSION(version) ((version) & kUBMBackplaneVersionNumberMinorMask)

#define kMinGetStorageEnclosureVendorIDBufferLength 9
#define kMinGetStorageEnclosureProductIDBufferLength 17
#define kMinGetStorageEnclosureSerialNumberBufferLength 41
#define kMinGetUBMBackplaneVersionBufferLength 8
#define kMinGetUBMBackplaneProductStringBufferLength 33
#define kMinGetUBMBackplanePartNumberBufferLength 33

/* SEPs, expanders and remote volumes. */
#define kInvalidRemoteVolumeNumber 0xFFFF
#define kMinGetSEPModelBufferLength 49
#define kMinGetSEPFirmwareVersionBufferLength 9
#define kMinGetSEPWWIDBufferLength 20
#define kMinGetSEPWWIDStringLength 41
#define kMinGetExpanderModelBufferLength 49
#define kMinGetExpanderFirmwareVersionBufferLength 9
#define kMinGetExpanderWWIDBufferLength 20
#define kMinGetExpanderWWIDStringLength 41
#define kMinGetRemoteVolumeUniqueIDBufferLength 33

PN_EXTERN_C_BEGIN

VK_API VK_WORD VK_EnumerateControllerBootablePhysicalDrives(PCDA cda, VK_WORD pd_number);

/* A new 8-byte flag set, released with VK_DestroyPhysicalDriveFlagsInfo; NULL when unreadable. */
VK_API void* VK_GetPhysicalDriveFlagsInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_IsPhysicalDriveFlagSet(void* pd_flags_info, VK_BYTE drive_flag);
VK_API void VK_DestroyPhysicalDriveFlagsInfo(void* pd_flags_info);
VK_API VK_WORD VK_GetPhysicalDrivePowerOnHours(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDriveUtilization(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveCarrierAuthentication(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveCarrierApplicationVersion(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveSanitizeLock(PCDA cda, VK_WORD pd_number);
/* The next erase query reads the erase status again. */
VK_API void VK_RefreshDriveEraseInfo(PCDA cda);
VK_API VK_DWORD VK_GetPhysicalDriveEraseInfo(PCDA cda, VK_WORD pd_number);
/* Read from the controller on every call; 101 when unknown. */
VK_API VK_BYTE VK_GetPhysicalDriveEraseProgressLive(PCDA cda, VK_WORD pd_number);
/* A new 64-byte block that the caller frees with VK_free, or NULL. */
VK_API void* VK_GetPhysicalDriveOEMExtendedData(PCDA cda, VK_WORD pd_number, VK_BYTE* data_type);
VK_API VK_BYTE VK_GetPhysicalDriveMNPStatistics(PCDA cda, VK_WORD pd_number, MNP_STATISTICS* mnp_statistics);
VK_API VK_WORD VK_GetPhysicalDriveMNPStatistic(PCDA cda, VK_WORD pd_number, VK_BYTE type);

/* Enclosures; all take the enclosure number 0 to 15 and answer sentinels. */
VK_API VK_WORD VK_EnumerateStorageEnclosurePhysicalDrives(PCDA cda, VK_WORD se_number, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateStorageEnclosureSEPs(PCDA cda, VK_WORD se_number, VK_WORD sep_number);
VK_API VK_WORD VK_EnumerateStorageEnclosureExpanders(PCDA cda, VK_WORD se_number, VK_WORD expander_number);
VK_API VK_WORD VK_GetStorageEnclosureDeviceCount(PCDA cda, VK_WORD se_number, VK_BYTE dev_type);
VK_API VK_WORD _VK_GetStorageEnclosureBayCount(PCDA cda, VK_WORD se_number);
VK_API VK_WORD _VK_GetStorageEnclosurePhysicalDriveCount(PCDA cda, VK_WORD se_number);
VK_API VK_WORD _VK_GetStorageEnclosureSEPCount(PCDA cda, VK_WORD se_number);
VK_API VK_WORD _VK_GetStorageEnclosureExpanderCount(PCDA cda, VK_WORD se_number);
VK_API VK_WORD VK_GetStorageEnclosurePDNumber(PCDA cda, VK_WORD se_number, VK_WORD bay_number);
VK_API char* VK_GetStorageEnclosureVendorID(PCDA cda, VK_WORD se_number, char* vendor_id, size_t buffer_size);
VK_API char* VK_GetStorageEnclosureProductID(PCDA cda, VK_WORD se_number, char* product_id, size_t buffer_size);
VK_API char* VK_GetStorageEnclosureSerialNumber(PCDA cda, VK_WORD se_number, char* serial_number,
                                                size_t buffer_size);
VK_API VK_BYTE VK_GetStorageEnclosurePathCount(PCDA cda, VK_WORD se_number);
VK_API char* VK_GetStorageEnclosurePathName(PCDA cda, VK_WORD se_number, VK_BYTE path_index, VK_BYTE type,
                                            char* path_name_buffer, size_t buffer_size);
VK_API VK_WORD VK_GetStorageEnclosurePathInfo(PCDA cda, VK_WORD se_number);
VK_API VK_BYTE VK_GetStorageEnclosureBackplaneInterfaceType(PCDA cda, VK_WORD se_number);
VK_API VK_BYTE VK_GetStorageEnclosureLocation(PCDA cda, VK_WORD se_number);
VK_API VK_DWORD VK_GetUBMBackplaneManagerDeviceCode(PCDA cda, VK_WORD se_number);
VK_API VK_WORD VK_GetUBMBackplanePCIVendorID(PCDA cda, VK_WORD se_number);
VK_API char* VK_GetUBMBackplaneVersion(PCDA cda, VK_WORD se_number, char* ubm_version_buffer, size_t buffer_size);
VK_API char* VK_GetUBMBackplaneProductString(PCDA cda, VK_WORD se_number, char* product_string,
                                             size_t buffer_size);
VK_API char* VK_GetUBMBackplanePartNumber(PCDA cda, VK_WORD se_number, char* part_number, size_t buffer_size);
VK_API VK_BYTE VK_GetUBMBackplaneNumber(PCDA cda, VK_WORD se_number);
VK_API VK_DWORD VK_GetUBMBackplaneVersionNumber(PCDA cda, VK_WORD se_number);

/* SEPs and expanders: numbered like the drives; the identity getters are the drives' own. */
VK_API VK_WORD VK_EnumerateControllerSEPs(PCDA cda, VK_WORD sep_number);
VK_API VK_WORD VK_EnumerateControllerExpanders(PCDA cda, VK_WORD expander_number);
VK_API char* VK_GetSEPWWID(PCDA cda, VK_WORD sep_number, void* wwid_buffer, size_t buffer_size,
                           VK_BOOL convert_to_string);
VK_API char* VK_GetExpanderWWID(PCDA cda, VK_WORD expander_number, void* wwid_buffer, size_t buffer_size,
                                VK_BOOL convert_to_string);
VK_API char* VK_GetSEPLocation(PCDA cda, VK_WORD sep_number, VK_BYTE type, char* location_buffer,
                               size_t buffer_size);
VK_API char* VK_GetExpanderLocation(PCDA cda, VK_WORD expander_number, VK_BYTE type, char* location_buffer,
                                    size_t buffer_size);
VK_API char* VK_GetSEPModel(PCDA cda, VK_WORD sep_number, char* model_buffer, size_t buffer_size);
VK_API char* VK_GetExpanderModel(PCDA cda, VK_WORD expander_number, char* model_buffer, size_t buffer_size);
VK_API char* VK_GetSEPFirmwareVersion(PCDA cda, VK_WORD sep_number, char* firmware_version_buffer,
                                      size_t buffer_size);
VK_API char* VK_GetExpanderFirmwareVersion(PCDA cda, VK_WORD expander_number, char* firmware_version_buffer,
                                           size_t buffer_size);
/* As VK_GetPhysicalDriveDescriptor, for a SEP. */
VK_API void* _VK_GetSEPDescriptor(PCDA cda, VK_WORD sep_number);

/* Remote volumes: 0 to VK_GetControllerRemoteVolumeCount - 1. */
VK_API VK_WORD VK_GetControllerRemoteVolumeCount(PCDA cda);
VK_API char* VK_GetRemoteVolumeUniqueID(PCDA cda, VK_WORD volume_number, char* volume_id_buffer,
                                        size_t buffer_size);

PN_EXTERN_C_END


#define FOREACH_PHYSICAL_DRIVE(cda, pd_number)                                                                 \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateControllerPhysicalDrives((cda), (pd_number))) != kInvalidPDNumber;)
#define FOREACH_BOOTABLE_PHYSICAL_DRIVE(cda, pd_number)                                                        \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateControllerBootablePhysicalDrives((cda), (pd_number))) != kInvalidPDNumber;)
#define FOREACH_PHYSICAL_DEVICE(cda, device_number)                                                            \
    for ((device_number) = kInvalidDeviceNumber;                                                               \
         ((device_number) = VK_EnumerateControllerPhysicalDevices((cda), (device_number))) !=                  \
         kInvalidDeviceNumber;)
#define FOREACH_ALL_PHYSICAL_DEVICE(cda, device_number)                                                        \
    for ((device_number) = kInvalidDeviceNumber;                                                               \
         ((device_number) = VK_EnumerateControllerAllPhysicalDevices((cda), (device_number))) !=               \
         kInvalidDeviceNumber;)
#define FOREACH_SEP(cda, sep_number)                                                                           \
    for ((sep_number) = kInvalidSEPNumber;                                                                     \
         ((sep_number) = VK_EnumerateControllerSEPs((cda), (sep_number))) != kInvalidSEPNumber;)
#define FOREACH_EXPANDER(cda, expander_number)                                                                 \
    for ((expander_number) = kInvalidExpanderNumber;                                                           \
         ((expander_number) = VK_EnumerateControllerExpanders((cda), (expander_number))) !=                    \
         kInvalidExpanderNumber;)
#define FOREACH_LOGICAL_DRIVE(cda, ld_number)                                                                  \
    for ((ld_number) = kInvalidLDNumber;                                                                       \
         ((ld_number) = VK_EnumerateControllerLogicalDrives((cda), (ld_number))) != kInvalidLDNumber;)
#define FOREACH_BOOTABLE_LOGICAL_DRIVE(cda, ld_number)                                                         \
    for ((ld_number) = kInvalidLDNumber;                                                                       \
         ((ld_number) = VK_EnumerateControllerBootableLogicalDrives((cda), (ld_number))) != kInvalidLDNumber;)
#define FOREACH_SE_PHYSICAL_DRIVE(cda, se_number, pd_number)                                                   \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateStorageEnclosurePhysicalDrives((cda), (se_number), (pd_number))) !=        \
         kInvalidPDNumber;)
#define FOREACH_SE_SEP(cda, se_number, sep_number)                                                             \
    for ((sep_number) = kInvalidSEPNumber;                                                                     \
         ((sep_number) = VK_EnumerateStorageEnclosureSEPs((cda), (se_number), (sep_number))) !=                \
         kInvalidSEPNumber;)
#define FOREACH_SE_EXPANDER(cda, se_number, expander_number)                                                   \
    for ((expander_number) = kInvalidExpanderNumber;                                                           \
         ((expander_number) = VK_EnumerateStorageEnclosureExpanders((cda), (se_number), (expander_number))) != \
         kInvalidExpanderNumber;)

#define FOREACH_ARRAY(cda, array_number)                                                                       \
    for ((array_number) = kInvalidArrayNumber;                                                                 \
         ((array_number) = VK_EnumerateAllArrays((cda), (array_number))) != kInvalidArrayNumber;)
#define FOREACH_ARRAY_OF_TYPE(cda, array_type, array_number)                                                   \
    for ((array_number) = kInvalidArrayNumber;                                                                 \
         ((array_number) = VK_EnumerateArrays((cda), (array_type), (array_number))) != kInvalidArrayNumber;)
#define FOREACH_ARRAY_PHYSICAL_DRIVE(cda, array_number, pd_number)                                             \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateArrayPhysicalDrives((cda), (array_number), (pd_number))) != kInvalidPDNumber;)
#define FOREACH_ARRAY_DATA_DRIVE(cda, array_number, pd_number)                                                 \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateArrayDataDrives((cda), (array_number), (pd_number))) != kInvalidPDNumber;)
#define FOREACH_ARRAY_SPARE_DRIVE(cda, array_number, pd_number)                                                \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateArraySpareDrives((cda), (array_number), (pd_number))) != kInvalidPDNumber;)
#define FOREACH_ARRAY_SHARED_ACTIVE_SPARE_DRIVE(cda, array_number, pd_number)                                  \
    for ((pd_number) = kInvalidPDNumber;                                                                       \
         ((pd_number) = VK_EnumerateArraySharedActiveSpareDrives((cda), (array_number), (pd_number))) !=       \
         kInvalidPDNumber;)
#define FOREACH_ARRAY_LOGICAL_DRIVE(cda, array_number, ld_number)                                              \
    for ((ld_number) = kInvalidLDNumber;                                                                       \
         ((ld_number) = VK_EnumerateArrayLogicalDrives((cda), (array_number), (ld_number))) != kInvalidLDNumber;)
#define FOREACH_STORAGE_ENCLOSURE(cda, se_number)                                                              \
    for ((se_number) = kInvalidSENumber;                                                                       \
         ((se_number) = VK_EnumerateControllerStorageEnclosures((cda), (se_number))) != kInvalidSENumber;)

/* ---- Logical drives and arrays: properties, RAID groups, LU caches -------------------------- */

/* RAID-info word: the level code (ptelm_features.h) and the parity-group count. */
#define kRAIDLevelMask 0x00FF
#define kParityGroupCountMask 0xFF00
#define RAID_LEVEL(w) ((VK_BYTE)((w)&kRAIDLevelMask))
#define NUM_PARITY_GROUPS(w) ((VK_BYTE)(((w)&kParityGroupCountMask) >> 8))

/* Logical-drive basic-info word: type (kLogicalDriveType...) and accelerator. */
#define LOGICAL_DRIVE_TYPE(w) ((VK_BYTE)((w)&0x0F))
#define kLogicalDriveAcceleratorMask 0xF0
#define LOGICAL_DRIVE_ACCELERATOR(w) ((VK_BYTE)(((w)&kLogicalDriveAcceleratorMask) >> 4))
#define kLogicalDriveAcceleratorUnknown 0
#define kLogicalDriveAcceleratorNone 1
#define kLogicalDriveAcceleratorControllerCache 2
#define kLogicalDriveAcceleratorIOBypass 3
#define kLogicalDriveAcceleratorLUCache 4

/* Selectors of VK_GetLogicalDriveSize. */
#define kLogicalDriveSizeBlocks 0
#define kLogicalDriveSizeBytes 1
#define kLogicalDriveStripSizeBlocks 2
#define kLogicalDriveStripSizeBytes 3
#define kLogicalDriveFullStripeSizeBlocks 4
#define kLogicalDriveFullStripeSizeBytes 5
#define kLogicalDriveBlockSizeBytes 0x10

/* Geometry word. */
#define LOGICAL_DRIVE_CYLINDERS(w) ((VK_WORD)(((w) >> 16) & 0xFFFF))
#define LOGICAL_DRIVE_HEADS(w) ((VK_BYTE)(((w) >> 8) & 0xFF))
#define LOGICAL_DRIVE_SECTORS(w) ((VK_BYTE)((w)&0xFF))

#define kLogicalDriveParityInitializationRapid 0
#define kLogicalDriveParityInitializationDefault 1

/* LU cache info word. */
#define kLUCacheAlgorithmMask 0x0007
#define LU_CACHE_ALGORITHM(w) ((VK_BYTE)((w)&kLUCacheAlgorithmMask))
#define kLUCacheAlgorithmHashingLRU 1
#define kLUCacheAlgorithmHashingLRU2 2
#define kLUCacheAlgorithmRegional 3
#define kLUCacheAlgorithmSimpleLRU 4
#define kLUCacheActualWritePolicyMask 0x0018
#define LU_CACHE_ACTUAL_WRITE_POLICY(w) ((VK_BYTE)(((w)&kLUCacheActualWritePolicyMask) >> 3))
#define kLUCacheRequestedWritePolicyMask 0x0060
#define LU_CACHE_REQUESTED_WRITE_POLICY(w) ((VK_BYTE)(((w)&kLUCacheRequestedWritePolicyMask) >> 5))
#define kLUCacheCacheLineSizeMask 0x0700
#define LU_CACHE_LINE_SIZE(w) ((VK_BYTE)(((w)&kLUCacheCacheLineSizeMask) >> 8))

typedef struct _VK_LU_CACHE_STATISTICS {
    VK_QWORD read_cache_hits;
    VK_QWORD read_cache_misses_do_load;
    VK_QWORD read_cache_misses_loading;
    VK_QWORD read_cache_misses_skip;
    VK_QWORD read_cache_misses_locked;
    VK_QWORD read_cache_misses_total;
    VK_QWORD write_cache_hits;
    VK_QWORD write_cache_misses_do_load;
    VK_QWORD write_cache_misses_loading;
    VK_QWORD write_cache_misses_skip;
    VK_QWORD write_cache_misses_locked;
    VK_QWORD write_cache_misses_total;
} VK_LU_CACHE_STATISTICS, *PVK_LU_CACHE_STATISTICS;

/* The mirror or parity groups of a logical drive (layout in the library's private header). */
typedef struct _RAID_GROUP_INFO* PRAID_GROUP_INFO;

/* Result of VK_CreateLogicalDriveRaidGroupEnumerator. */
#define kCreateLogicalDriveRaidGroupMirrorGroupCountShift 0
#define kCreateLogicalDriveRaidGroupParityGroupCountShift 8
#define MIRROR_GROUP_COUNT(r) ((VK_BYTE)(((r) >> kCreateLogicalDriveRaidGroupMirrorGroupCountShift) & 0xFF))
#define PARITY_GROUP_COUNT(r) ((VK_BYTE)(((r) >> kCreateLogicalDriveRaidGroupParityGroupCountShift) & 0xFF))

#define kMinGetLogicalDriveUniqueVolumeIDBufferLength 33
#define kMinGetLogicalDriveVolumeLabelBufferLength 65

/* Array drive-count word; each count saturates at 255. */
#define kDataPhysicalDriveCountMask 0x000000FF
#define kSparePhysicalDriveCountMask 0x0000FF00
#define kTransientPhysicalDriveCountMask 0x00FF0000
#define kFailedPhysicalDriveCountMask 0xFF000000
#define NUM_DATA_PHYSICAL_DRIVES(w) ((VK_BYTE)((w)&kDataPhysicalDriveCountMask))
#define NUM_SPARE_PHYSICAL_DRIVES(w) ((VK_BYTE)(((w)&kSparePhysicalDriveCountMask) >> 8))
#define NUM_TRANSIENT_PHYSICAL_DRIVES(w) ((VK_BYTE)(((w)&kTransientPhysicalDriveCountMask) >> 16))
#define NUM_FAILED_PHYSICAL_DRIVES(w) ((VK_BYTE)(((w)&kFailedPhysicalDriveCountMask) >> 24))
#define NUM_PHYSICAL_DRIVES(w)                                                                                 \
    ((VK_WORD)(NUM_DATA_PHYSICAL_DRIVES(w) + NUM_SPARE_PHYSICAL_DRIVES(w) + NUM_TRANSIENT_PHYSICAL_DRIVES(w)))

/* Selectors of VK_GetArraySize. */
#define kArrayTotalSizeBlocks 1
#define kArrayTotalSizeBytes 2
#define kArrayFreeSizeBlocks 3
#define kArrayFreeSizeBytes 4
#define kArrayBlockSizeBytes 5

/* Media and interface byte. */
#define kArrayMediaMask 0x3
#define ARRAY_MEDIA_TYPE(b) ((VK_BYTE)((b)&kArrayMediaMask))
#define kArrayMediaUnknown 0
#define kArrayMediaSSD 1
#define kArrayMediaHDD 2
#define kArrayInterfaceMask 0x1C
#define ARRAY_INTERFACE_TYPE(b) ((VK_BYTE)((b)&kArrayInterfaceMask))
#define kArrayInterfaceUnknown 0
#define kArrayInterfaceSAS 0x4
#define kArrayInterfaceSATA 0x8
#define kArrayInterfaceNVMe 0x10

#define kSpareDriveTypeDoesNotExist 0
#define kSpareDriveTypeAutoReplace 1
#define kSpareDriveTypeDedicated 2

#define kArrayAccelerationModeUnknown 0
#define kArrayAccelerationModeIOBypass 1
#define kArrayAccelerationModeIndependent 2

PN_EXTERN_C_BEGIN

/* Logical drives: the enumerators take the previous number (kInvalidLDNumber to start). */
VK_API VK_WORD VK_EnumerateControllerLogicalDrives(PCDA cda, VK_WORD ld_number);
VK_API VK_WORD VK_EnumerateControllerBootableLogicalDrives(PCDA cda, VK_WORD ld_number);
VK_API VK_WORD VK_GetLogicalDriveRAIDInfo(PCDA cda, VK_WORD ld_number);
VK_API VK_DWORD VK_GetLogicalDriveBasicInfo(PCDA cda, VK_WORD ld_number);
VK_API VK_QWORD VK_GetLogicalDriveSize(PCDA cda, VK_WORD ld_number, VK_BYTE size_type);
VK_API VK_WORD VK_GetLogicalDriveArray(PCDA cda, VK_WORD ld_number);
VK_API VK_WORD VK_GetArrayLogicalDriveNumberFromIndex(PCDA cda, VK_WORD array_index, VK_WORD ld_index);
VK_API VK_WORD VK_GetLogicalDriveParityInitializationType(PCDA cda, VK_WORD ld_number);
/* 32 upper-case hex digits; the buffer must hold kMinGetLogicalDriveUniqueVolumeIDBufferLength. */
VK_API char* VK_GetLogicalDriveUniqueVolumeID(PCDA cda, VK_WORD ld_number, char* volume_id_buffer,
                                              size_t buffer_size);
/* The buffer must hold kMinGetLogicalDriveVolumeLabelBufferLength. */
VK_API char* VK_GetLogicalDriveVolumeLabel(PCDA cda, VK_WORD ld_number, char* volume_label_buffer,
                                           size_t buffer_size);
VK_API VK_DWORD VK_GetLogicalDriveGeometry(PCDA cda, VK_WORD ld_number);
/* Packed group counts, or 0 with *raid_group_info NULL; release with
 * VK_DestroyLogicalDriveRaidGroupEnumerator. Reads the controller on every call. */
VK_API VK_WORD VK_CreateLogicalDriveRaidGroupEnumerator(PCDA cda, VK_WORD ld_number,
                                                        PRAID_GROUP_INFO* raid_group_info);
VK_API void VK_DestroyLogicalDriveRaidGroupEnumerator(PRAID_GROUP_INFO raid_group_info);
VK_API VK_WORD VK_EnumerateMirrorGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info,
                                                     VK_BYTE mirror_group_index, VK_WORD pd_number);
VK_API VK_WORD VK_EnumerateParityGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info,
                                                     VK_BYTE parity_group_index, VK_WORD pd_number);
VK_API VK_WORD _VK_EnumerateRaidGroupPhysicalDrives(const PRAID_GROUP_INFO raid_group_info, VK_BYTE group_index,
                                                    VK_WORD pd_number);
/* Position of pd_number in list[0..n), or (size_t)-1. */
VK_API size_t _VK_PhysicalDriveListAt(VK_WORD* list, VK_WORD pd_number, size_t n);
VK_API VK_WORD VK_GetLogicalDriveLUCacheNumber(PCDA cda, VK_WORD ld_number);
VK_API VK_WORD VK_GetLogicalDriveLUCacheInfo(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_GetLogicalDriveLUCacheStats(PCDA cda, VK_WORD ld_number, PVK_LU_CACHE_STATISTICS lu_stats);
VK_API VK_WORD VK_GetLogicalDriveSplitMirrorNumber(PCDA cda, VK_WORD ld_number);

/* Arrays. */
VK_API VK_DWORD VK_GetArrayPhysicalDriveCounts(PCDA cda, VK_WORD array_number);
VK_API VK_WORD VK_GetArrayLogicalDriveCount(PCDA cda, VK_WORD array_index);
VK_API VK_QWORD VK_GetArraySize(PCDA cda, VK_WORD array_number, VK_BYTE size_type);
VK_API VK_BYTE VK_GetArrayMediaInterfaceType(PCDA cda, VK_WORD array_number);
VK_API VK_QWORD VK_GetArrayPhysicalDriveBlockSize(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_GetArraySpareType(PCDA cda, VK_WORD array_number);
VK_API VK_BYTE VK_GetArrayAccelerationMode(PCDA cda, VK_WORD array_number);
VK_API VK_WORD VK_GetArraySplitMirrorNumber(PCDA cda, VK_WORD array_number);
/* Drive-count word of a staged array of the editable configuration (no transient count). */
VK_API VK_DWORD VK_GetEditableArrayPhysicalDriveCounts(PCDA cda, VK_WORD editable_array_number);

PN_EXTERN_C_END


/* ---- Controller operating parameters, cache, surface-scan and out-of-band settings ----------- */

#define kControllerExpandPriorityLow 0
#define kControllerExpandPriorityMedium 1
#define kControllerExpandPriorityHigh 2
#define kControllerExpandPriorityInvalid 0xFF
#define kControllerRebuildPriorityLow 0
#define kControllerRebuildPriorityMedium 1
#define kControllerRebuildPriorityMediumHigh 2
#define kControllerRebuildPriorityHigh 3
#define kControllerRebuildPriorityInvalid 0xFF
#define kControllerRebuildRatePercentageInvalid 0xFF
#define kControllerTransformationRatePercentInvalid 0xFF
#define kControllerSAMTypeFailure 0
#define kControllerSAMTypePredictive 1
#define kControllerSAMTypeInvalid 0xFF
#define kControllerDriveWriteCacheDefault 0
#define kControllerDriveWriteCacheEnabled 1
#define kControllerDriveWriteCacheDisabled 2
#define kControllerDriveWriteCacheUnchanged 3
#define kControllerDriveWriteCacheInvalid 0xFF
#define kDriveWriteCacheDriveTypeSASHDD 0x00
#define kDriveWriteCacheDriveTypeSASSSD 0x01
#define kDriveWriteCacheDriveTypeSATAHDD 0x02
#define kDriveWriteCacheDriveTypeSATASSD 0x03
#define kDriveWriteCacheDriveTypeNVMEHDD 0x04
#define kDriveWriteCacheDriveTypeNVMESSD 0x05
#define kDriveWriteCacheUsageTypeConfigured 0x00
#define kDriveWriteCacheUsageTypeUnconfigured 0x01
#define kDriveWriteCacheUsageTypeHBA 0x02
#define kControllerDPOEnabled 0
#define kControllerDPODisabled 1
#define kControllerDPOInvalid 0xFF
#define kControllerIRPEnabled 0
#define kControllerIRPDisabled 1
#define kControllerIRPInvalid 0xFF
#define kControllerInconsistencyEventNotificationDisabled 0
#define kControllerInconsistencyEventNotificationEnabled 1
#define kControllerInconsistencyEventNotificationNotSupported 0xFF
#define kControllerElevatorSortEnabled 0
#define kControllerElevatorSortDisabled 1
#define kControllerElevatorSortInvalid 0xFF
#define kControllerQueueDepthAutomatic 0
#define kControllerQueueDepth2 1
#define kControllerQueueDepth4 2
#define kControllerQueueDepth8 3
#define kControllerQueueDepth16 4
#define kControllerQueueDepth32 5
#define kControllerQueueDepthInvalid 0xFF
#define kControllerFLSDefault 0
#define kControllerFLSLow250 1
#define kControllerFLSMiddle100 2
#define kControllerFLSMiddle50 3
#define kControllerFLSAggressive30 4
#define kControllerFLSAggressive10 5
#define kControllerFLSInvalid 0xFF
#define kControllerNotifyOnAnyBroadcastError 0
#define kControllerNotifyOnAnyBroadcastNotSupported 1
#define kControllerNotifyOnAnyBroadcastDisabled 2
#define kControllerNotifyOnAnyBroadcastEnabled 3
#define kControllerSanitizeLockDisabled 0x00
#define kControllerSanitizeLockFreeze 0x01
#define kControllerSanitizeLockAntiFreeze 0x02
#define kControllerSanitizeLockUnknown 0x03
#define kCurrentControllerSanitizeLockMask 0x0F
#define kPendingControllerSanitizeLockMask 0xF0
#define kPendingControllerSanitizeLockShift 4
#define CURRENT_CTRL_SANITIZE_LOCK(w) ((VK_BYTE)((w)&kCurrentControllerSanitizeLockMask))
#define PENDING_CTRL_SANITIZE_LOCK(w)                                                                          \
    ((VK_BYTE)(((w)&kPendingControllerSanitizeLockMask) >> kPendingControllerSanitizeLockShift))
#define kControllerPCIeOrderingNotSupported 0
#define kControllerPCIeOrderingUnknown 1
#define kControllerPCIeOrderingStrict 2
#define kControllerPCIeOrderingRelaxed 3
#define kCurrentControllerPCIeOrderingMask 0x0F
#define kPendingControllerPCIeOrderingMask 0xF0
#define kPendingControllerPCIeOrderingShift 4
#define CURRENT_CTRL_PCIE_ORDERING(w) ((VK_BYTE)((w)&kCurrentControllerPCIeOrderingMask))
#define PENDING_CTRL_PCIE_ORDERING(w)                                                                          \
    ((VK_BYTE)(((w)&kPendingControllerPCIeOrderingMask) >> kPendingControllerPCIeOrderingShift))
#define kGetControllerExpanderScanDurationFailed 0xFFFFFFFF
#define kGetControllerExpanderScanDurationNotSupported 0xFFFFFFFE
#define kControllerPersistentEventLogPolicyInvalid 0
#define kControllerPersistentEventLogPolicyKeepOldest 1
#define kControllerPersistentEventLogPolicyKeepNewest 2
#define kControllerUEFIDriveHealthReportInvalid 0x00
#define kControllerUEFIDriveHealthReportAllErrors 0x01
#define kControllerUEFIDriveHealthReportDisabled 0x02
#define kBootableVolumePrecedenceNone 0
#define kBootableVolumePrecedencePrimary 1
#define kBootableVolumePrecedenceSecondary 2
#define kBootableVolumePrecedenceAll 3
#define kBootableVolumeDriveTypeLogical 0
#define kBootableVolumeDriveTypePhysical 1
#define kBootableVolumeDriveTypeRemote 2
/* Smallest buffer of VK_GetControllerBootVolumeID: 32 hex digits and the NUL. */
#define kMinGetControllerBootVolumeIDBufferLength 33

#define kControllerReadCachePercentInvalid 0xFF
#define kControllerPreviousReadCachePercentInvalid 0xFF
#define kGetControllerNonBatteryBackedReadCachePercentMaxLimitMask 0xFF00
#define kGetControllerNonBatteryBackedReadCachePercentMaxLimitShift 8
#define kGetControllerNonBatteryBackedReadCachePercentMinLimitMask 0x00FF
#define kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid 101
#define GET_CONTROLLER_NON_BATTERY_BACKED_MAX_READ_CACHE_PERCENT(w)                                            \
    ((VK_BYTE)(((w)&kGetControllerNonBatteryBackedReadCachePercentMaxLimitMask) >>                             \
               kGetControllerNonBatteryBackedReadCachePercentMaxLimitShift))
#define GET_CONTROLLER_NON_BATTERY_BACKED_MIN_READ_CACHE_PERCENT(w)                                            \
    ((VK_BYTE)((w)&kGetControllerNonBatteryBackedReadCachePercentMinLimitMask))
#define kControllerNBWCEnabled 0
#define kControllerNBWCDisabled 1
#define kControllerNBWCInvalid 0xFF
#define kControllerWaitForCacheRoomDisabled 0
#define kControllerWaitForCacheRoomEnabled 1
#define kControllerWaitForCacheRoomInvalid 0xFF
#define IS_SURFACE_SCAN_PRIORITY_DISABLED(p) ((p) == 0)
#define IS_SURFACE_SCAN_PRIORITY_HIGH(p) ((p) == 1)
#define IS_SURFACE_SCAN_PRIORITY_IDLE(p) ((p) >= 2 && (p) <= 300)
#define IS_SURFACE_SCAN_PRIORITY_INVALID(p) ((p) > 300)
#define kControllerSSARatePercentInvalid 0xFF
#define kControllerPSSCountInvalid 0
#define kControllerMNPDelayInvalid 0xFFFF

#define kOOBInterfaceTypeReset 0x00
#define kOOBInterfaceTypePBSI 0x01
#define kOOBInterfaceTypeMCTP 0x02
#define kOOBInterfaceTypeDisabled 0xFF
#define kPBSIClockSpeedDisabled 0
#define kPBSIClockSpeed10KHZ 1
#define kPBSIClockSpeed100KHZ 2
#define kPBSIClockSpeed400KHZ 3
#define kPBSIClockSpeed800KHZ 4
#define kMCTPSMBUSDeviceTypeDefault 0
#define kMCTPSMBUSDeviceTypeFixed 1
#define kMCTPSMBUSDeviceTypeARP 2
#define kGetControllerOOBConfigurationSuccess 0x01
#define kGetControllerOOBConfigurationInvalidInput 0x02
#define kGetControllerOOBConfigurationNotSupported 0x03
#define kGetControllerOOBConfigurationFailed 0x04
#define kUnknownI2CAddress 0xFFFF
#define kOOBSubcommandReadI2CConfiguration 0x01
#define kOOBSubcommandSetI2CAddress 0x02
#define kOOBSubcommandMessageInterface 0x10
#define kOOBInterfaceI2CEnabled 0x01

#pragma pack(push, 1)
typedef struct _OOBConfiguration {
    VK_BYTE interface_type;
    union {
        struct {
            VK_BYTE clock_speed : 3;
            VK_BYTE clock_stretching : 1;
            VK_BYTE reserved : 4;
        } pbsi;
        struct {
            VK_BYTE smbus_device_type : 2;
            VK_BYTE vdm_discovery_notify : 1;
            VK_BYTE use_static_eids_on_init : 1;
            VK_BYTE enable_smbus_physical_channel : 1;
            VK_BYTE reserved : 3;
        } mctp;
        VK_BYTE raw;
    } i2c_configuration;
    VK_BYTE slave_address;
    VK_BYTE reserved;
} OOBConfiguration, *POOBConfiguration;
#pragma pack(pop)

PN_EXTERN_C_BEGIN

VK_API VK_BYTE VK_GetControllerExpandPriority(PCDA cda);
VK_API VK_BYTE VK_GetControllerRebuildPriority(PCDA cda);
VK_API VK_BYTE VK_GetControllerRebuildRatePercent(PCDA cda);
VK_API VK_BYTE VK_GetControllerTransformationRatePercent(PCDA cda);
VK_API VK_BYTE VK_GetControllerSAM(PCDA cda);
VK_API VK_BYTE VK_GetControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type);
VK_API VK_BYTE VK_GetControllerDriveWriteCache(PCDA cda);
VK_API VK_BYTE VK_GetControllerDPO(PCDA cda);
VK_API VK_BYTE VK_GetControllerIRP(PCDA cda);
VK_API VK_BYTE VK_GetControllerInconsistencyEventNotification(PCDA cda);
VK_API VK_BYTE VK_GetControllerElevatorSort(PCDA cda);
VK_API VK_BYTE VK_GetControllerQueueDepth(PCDA cda);
VK_API VK_BYTE VK_GetControllerFLS(PCDA cda);
VK_API VK_DWORD VK_GetControllerWCBT(PCDA cda);
VK_API VK_BYTE VK_GetControllerNotifyOnAnyBroadcast(PCDA cda);
/* Pending lock << 4 | current lock. */
VK_API VK_BYTE VK_GetControllerSanitizeLock(PCDA cda);
VK_API VK_BYTE VK_GetControllerOSBootableDriveCount(PCDA cda);
VK_API VK_DWORD VK_GetControllerExpanderMaximumAllowableScanDuration(PCDA cda);
VK_API VK_DWORD VK_GetControllerExpanderMinimumScanDuration(PCDA cda);
/* Pending ordering << 4 | current ordering. */
VK_API VK_BYTE VK_GetControllerPCIeOrdering(PCDA cda);
VK_API VK_DWORD VK_GetControllerActiveMaxReadRequestSize(PCDA cda);
VK_API VK_DWORD VK_GetControllerPendingMaxReadRequestSize(PCDA cda);
VK_API VK_DWORD VK_GetControllerMaxPayloadSize(PCDA cda);
VK_API VK_BYTE VK_GetControllerPersistentEventLogPolicy(PCDA cda);
VK_API VK_BYTE VK_GetControllerUEFIDriverHealthReportingStatus(PCDA cda);
/* The controller clock as a local time value; -1 when it cannot be read. */
VK_API VK_INT64 VK_GetControllerTime(PCDA cda);
/* Precedence 1 or 2: the boot volume's unique id as 32 upper-case hex digits; the buffer must hold
 * more than 32 bytes. */
VK_API char* VK_GetControllerBootVolumeID(PCDA cda, VK_BYTE precedence, char* buffer, size_t buffer_size);
/* The number of the boot volume of that precedence among the volumes of `volume_type`; 0xFFFF none. */
VK_API VK_WORD VK_GetControllerBootVolumeNumber(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type);
VK_API VK_WORD _VK_GetLogicalDriveNumberFromID(PCDA cda, const char* volume_id);
VK_API VK_WORD _VK_GetPhysicalDriveNumberFromID(PCDA cda, const char* volume_id);
VK_API VK_WORD _VK_GetRemoteVolumeNumberFromID(PCDA cda, const char* volume_id);
/* Boot precedence of a drive: 1 primary, 2 secondary, 3 both, 0 none. */
VK_API VK_BYTE VK_GetPhysicalDriveBootPriority(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetLogicalDriveBootPriority(PCDA cda, VK_WORD ld_number);

VK_API VK_BYTE VK_GetControllerReadCachePercent(PCDA cda);
VK_API VK_BYTE VK_GetControllerPreviousReadCachePercent(PCDA cda);
/* Maximum << 8 | minimum read-cache percent without backup power. */
VK_API VK_WORD VK_GetControllerNonBatteryBackedReadCachePercentLimits(PCDA cda);
VK_API VK_BYTE VK_GetControllerNBWC(PCDA cda);
VK_API VK_BYTE VK_GetControllerWaitForCacheRoom(PCDA cda);
VK_API VK_WORD VK_GetControllerSSAPriority(PCDA cda);
VK_API VK_BYTE VK_GetControllerSSARatePercent(PCDA cda);
VK_API VK_BYTE VK_GetControllerPSSCount(PCDA cda);
VK_API VK_WORD VK_GetControllerMNPDelay(PCDA cda);
VK_API VK_BYTE VK_GetControllerOOBInterfaces(PCDA cda);
VK_API VK_WORD VK_GetControllerI2CAddress(PCDA cda);
VK_API VK_BYTE VK_GetControllerActiveOOBConfiguration(PCDA cda, OOBConfiguration* configuration);
VK_API VK_BYTE VK_GetControllerPendingOOBConfiguration(PCDA cda, OOBConfiguration* configuration);
VK_API VK_BYTE __CalculateReadRatioPercent(PCDA cda, VK_DWORD read_size, VK_DWORD total_size);
VK_API VK_BYTE _VK_GetControllerSSARatePercentFromPriority(VK_WORD surface_analysis_priority, VK_DWORD ld_count);

/* Logical-drive operation progress: 0-100 percent, or one of these. */
#define kInvalidOperationProgressPercent 101
#define kFailedOperationProgressPercent 102
VK_API VK_QWORD _VK_GetLogicalDriveBlocksLeftToRecover(VK_DWORD blocks_left_to_recover,
                                                       VK_QWORD big_blocks_left_to_recover);
/* From the cached status copy; 0 when it cannot be loaded. */
VK_API VK_QWORD VK_GetLogicalDriveBlocksLeftToRecover(PCDA cda, VK_WORD ld_number);
/* From the cached copies. */
VK_API VK_BYTE VK_GetLogicalDriveRebuildProgress(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveTransformationProgress(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveRekeyProgress(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveParityInitializationProgress(PCDA cda, VK_WORD ld_number);
/* From fresh replies of the controller. */
VK_API VK_BYTE VK_GetLogicalDriveRebuildProgressLive(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveTransformationProgressLive(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveRekeyProgressLive(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveRPIProgressLive(PCDA cda, VK_WORD ld_number);
VK_API VK_BYTE VK_GetLogicalDriveParityInitializationProgressLive(PCDA cda, VK_WORD ld_number);

PN_EXTERN_C_END

#endif
