// Controller buffer formats: the byte-exact requests and replies of the BMIC commands the controller
// model sends. Little-endian, packed. Offsets that docs/wire-decisions.md fixes are marked there.
#ifndef TELM_BMIC_H
#define TELM_BMIC_H

#include <cstddef>

#include "ppavl_types.h"

// BMIC opcodes of the library's command set.
inline constexpr VK_BYTE BMIC_IDENTIFY_LOGICAL_DRIVE = 0x10;
inline constexpr VK_BYTE BMIC_IDENTIFY_CONTROLLER = 0x11;
inline constexpr VK_BYTE BMIC_SENSE_LOGICAL_DRIVE_STATUS = 0x12;
inline constexpr VK_BYTE BMIC_IDENTIFY_PHYSICAL_DRIVE = 0x15;
inline constexpr VK_BYTE BMIC_ENCRYPTION = 0x1E;
inline constexpr VK_BYTE BMIC_READ_LOGICAL_DRIVE = 0x20;
inline constexpr VK_BYTE BMIC_WRITE_LOGICAL_DRIVE = 0x30;
inline constexpr VK_BYTE BMIC_DIAGNOSTICS = 0x42;
inline constexpr VK_BYTE BMIC_I2C_NVRAM_PASSTHROUGH = 0x46;
inline constexpr VK_BYTE BMIC_SENSE_CONFIGURATION = 0x50;
inline constexpr VK_BYTE BMIC_SET_CONFIGURATION = 0x51;
inline constexpr VK_BYTE BMIC_ENABLE_FAILED_TRANSFORMING_LOGICAL_DRIVE = 0x52;
inline constexpr VK_BYTE BMIC_CHANGE_CONFIGURATION = 0x54;
inline constexpr VK_BYTE BMIC_SENSE_ORIGINAL_CONFIGURATION = 0x55;
inline constexpr VK_BYTE BMIC_LABEL_LOGICAL_DRIVE = 0x57;
inline constexpr VK_BYTE BMIC_SENSE_EXPANSION_ABILITY = 0x59;
inline constexpr VK_BYTE BMIC_SENSE_MIRROR_PAIR_INFO = 0x5D;
inline constexpr VK_BYTE BMIC_JOIN_SPLIT_MIRROR = 0x5E;
inline constexpr VK_BYTE BMIC_SET_SURFACE_DELAY = 0x60;
inline constexpr VK_BYTE BMIC_SENSE_FEATURE_PAGES = 0x61;
inline constexpr VK_BYTE BMIC_SET_MNP_DELAY = 0x62;
inline constexpr VK_BYTE BMIC_SET_CONTROLLER_PARAMETERS = 0x63;
inline constexpr VK_BYTE BMIC_SENSE_CONTROLLER_PARAMETERS = 0x64;
inline constexpr VK_BYTE BMIC_SENSE_BUS_PARAMETERS = 0x65;
inline constexpr VK_BYTE BMIC_SENSE_SUBSYSTEM_PARAMETERS = 0x66;
inline constexpr VK_BYTE BMIC_CSMI_PASSTHROUGH = 0x68;
inline constexpr VK_BYTE BMIC_CLEAR_CONFIGURATION = 0x6E;
inline constexpr VK_BYTE BMIC_SENSE_SURFACE_STATUS = 0x70;
inline constexpr VK_BYTE BMIC_SENSE_MNP_STATUS = 0x72;
inline constexpr VK_BYTE BMIC_CONTROLLER_DEBUG_LOG = 0x77;
inline constexpr VK_BYTE BMIC_SENSE_SENSORS = 0x78;
inline constexpr VK_BYTE BMIC_I2C_OOB_CONFIGURATION = 0x80;
inline constexpr VK_BYTE BMIC_MANUFACTURING_DATA = 0x82;
inline constexpr VK_BYTE BMIC_DISCOVERY_CONFIGURATION = 0x83;
inline constexpr VK_BYTE BMIC_OEM_EXTENDED_DRIVE_DATA = 0x84;
inline constexpr VK_BYTE BMIC_PAUSE_BACKGROUND_ACTIVITY = 0x98;
inline constexpr VK_BYTE BMIC_RESUME_BACKGROUND_ACTIVITY = 0x99;
inline constexpr VK_BYTE BMIC_SENSE_MNP_STATISTICS = 0xA0;
inline constexpr VK_BYTE BMIC_SET_CONTROLLER_TIME = 0xA5;
inline constexpr VK_BYTE BMIC_SENSE_BACKUP_POWER_SOURCE = 0xBF;
inline constexpr VK_BYTE BMIC_SET_CACHE_CONFIGURATION = 0xC0;
inline constexpr VK_BYTE BMIC_SENSE_CACHE_CONFIGURATION = 0xC1;
inline constexpr VK_BYTE BMIC_RECOVER_CACHE_MODULE = 0xC3;
inline constexpr VK_BYTE BMIC_WRITE_COLLECT_BUFFER = 0xD2;
inline constexpr VK_BYTE BMIC_FREE_COLLECT_BUFFER = 0xD3;
inline constexpr VK_BYTE BMIC_ONLINE_FIRMWARE_ACTIVATION = 0xD4;
inline constexpr VK_BYTE BMIC_ENABLE_FAILED_LOGICAL_DRIVE = 0xE0;
inline constexpr VK_BYTE BMIC_SENSE_ERASE_STATUS = 0xE5;
inline constexpr VK_BYTE BMIC_MANAGED_SED = 0xE8;
inline constexpr VK_BYTE BMIC_POWER_MODE = 0xEE;
inline constexpr VK_BYTE BMIC_ACTIVATE_FIRMWARE = 0xF7;
inline constexpr VK_BYTE BMIC_TOGGLE_ACTIVE_ROM_IMAGE = 0xFC;
inline constexpr VK_BYTE BMIC_VALIDATE_FIRMWARE_IMAGE = 0xFD;

#pragma pack(push, 1)

// BMIC 0x11, 1024 bytes.
typedef struct _IDENTIFY_CONTROLLER {
    VK_RESERVED reserved0[5];
    char sShortRAMFirmwareRev[4];
    char sShortROMFirmwareRev[4];
    VK_RESERVED reserved13[27];
    char cMarketingRevision;
    VK_RESERVED reserved41[76];
    VK_BYTE bRAID6Support;
    VK_BYTE pbFeaturesSupported[11];
    VK_RESERVED reserved129[4];
    VK_BYTE bActiveROMStatus;
    VK_BYTE bControllerPostStatus;
    VK_RESERVED reserved135[8];
    VK_WORD wTotalAvailableMemorySize;
    VK_BYTE bMoreControllerFlags;
    VK_RESERVED reserved146[6];
    VK_WORD wMaximumLogicalDevicesSupported;
    VK_WORD wExtendedLogicalUnitCount;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_WORD wMaximumPhysicalDrivesPerLogicalUnit;
    VK_BYTE bEnclosureCount;
    VK_RESERVED reserved161;
    VK_WORD wOffsetToExtendedDrivePresentMap;
    VK_RESERVED reserved164[2];
    VK_WORD wOffsetToExtendedNonDiskMap;
    VK_RESERVED reserved168[16];
    VK_DWORD dwYetMoreControllerFlags;
    VK_BYTE bLastLockup;
    VK_BYTE bPCISlot;
    VK_WORD wFirmwareBuildNumber;
    VK_DWORD dwMaximumSafeFullStripeSizeMB;
    VK_DWORD dwTotalStructureLength;
    char sVendorID[8];
    char sProductID[16];
    VK_DWORD dwExtendedLastLockup;
    VK_WORD wMaximumRAID01StripeSize;
    VK_WORD wMaximumRAID45StripeSize;
    VK_WORD wMaximumRAID6StripeSize;
    VK_WORD wYetMoreSwappedCableFlags;
    VK_RESERVED reserved236[4];
    VK_DWORD dwFixedStructureLength;
    char sFirmwareCompileTimeStamp[24];
    VK_DWORD dwEvenMoreControllerFlags;
    VK_RESERVED reserved272[10];
    VK_DWORD dwEncryptionStatus;
    VK_DWORD dwExtraControllerFlags;
    VK_BYTE bPCIEGeneration;
    VK_BYTE bPCIEWidth;
    VK_BYTE bCurrentControllerMode;
    VK_RESERVED reserved293[32];
    char sFWTag[32];
    VK_DWORD dwSimultaneousSpinupCount;
    VK_DWORD dwDriveSpinupDelay;
    VK_WORD wPCIDeviceID;
    VK_WORD wPCIVendorID;
    VK_WORD wPCISSDeviceID;
    VK_WORD wPCISSVendorID;
    VK_DWORD dwPCIMaxLinkRate;
    VK_DWORD dwPCIMaxLinkWidth;
    VK_RESERVED reserved381[4];
    VK_WORD wMinRAID01StripSize;
    VK_WORD wMinParityStripSize;
    char sFamilyID[32];
    VK_RESERVED reserved421[32];
    VK_WORD wExtendedPCISlot;
    char sPendingFirmwareVersion[32];
    VK_UINT32 u32PendingFirmwareComparisonStamp;
    VK_UINT32 u32CurrentFirmwareComparisonStamp;
    VK_RESERVED reserved495[32];
    VK_DWORD dwRebootReason;
    VK_RESERVED reserved531[9];
    VK_DWORD dwManagedSEDModeStatus;
    VK_RESERVED reserved544[12];
    VK_BYTE bMarketingRevisionMinor;
    VK_RESERVED reserved557[467];
} IDENTIFY_CONTROLLER, *PIDENTIFY_CONTROLLER;

// BMIC 0x64 (read) and 0x63 (write), 344 bytes.
typedef struct _CONTROLLER_PARAMETERS {
    VK_BYTE bLEDFlag;
    VK_BYTE bCmdListVerification;
    VK_BYTE bBackedOutWriteDrives;
    VK_WORD wParityStripes;
    VK_BYTE controller_configuration_flags;
    VK_WORD queue_depth;
    VK_WORD wElevatorTrend;
    VK_BYTE elevator_state;
    VK_BYTE bForceScanComplete;
    VK_BYTE bForcedTransferMode;
    VK_BYTE bForcedTransferWidth;
    VK_BYTE rebuild_priority;
    VK_BYTE expand_priority;
    VK_BYTE bHostSdbASICFix;
    VK_BYTE bBoardChipBurstControl;
    char sSoftwareName[64];
    char sHardwareName[32];
    VK_BYTE bBridgeRevision;
    VK_BYTE bSnapshotPriority;
    VK_DWORD dwOSSpecific;
    VK_BYTE bPOSTPromptTimeout;
    VK_BYTE bAutomaticDriveSlamming;
    VK_BYTE bDevicePathSelectionMethod;
    VK_BYTE bNVRAMFlags;
    VK_BYTE bCacheNVRAMFlags;
    VK_BYTE drive_configuration_flags;
    VK_RESERVED reserved126[2];
    VK_BYTE bOverTemperatureWarning;
    VK_BYTE bOverTemperatureShutdown;
    VK_BYTE bOverTemperatureConditionCancelled;
    VK_BYTE bMaxCoalesceCommands;
    VK_DWORD dwMaxCoalesceDelay;
    char sKELPPassword[4];
    char sAccessID[16];
    VK_BYTE primary_boot_lun[16];
    VK_BYTE secondary_boot_lun[16];
    VK_DWORD dwTotalStructureLength;
    VK_WORD wRAMDriveNumber;
    VK_WORD wRAMDriveSizeInMiB;
    VK_DWORD dwMoreConfigFlags;
    VK_DWORD dwMoreNVRAMFlags;
    VK_WORD elevator_latency_setting;
    VK_RESERVED reserved206;
    VK_BYTE bConnectorMode[16];
    VK_BYTE bNumOSBootableDrives;
    VK_DWORD dwBigBlockCacheLineBypassLimit;
    VK_DWORD dwRTCCentury;
    VK_DWORD dwRTCYear;
    VK_DWORD dwRTCMonth;
    VK_DWORD dwRTCDay;
    VK_DWORD dwRTCHour;
    VK_DWORD dwRTCMinute;
    VK_DWORD dwRTCSecond;
    VK_BYTE bDCacheErrorMethod;
    VK_BYTE bICacheErrorMethod;
    VK_BYTE bWriteVerifyStatus;
    VK_BYTE bConnectorMaxPhyRate[16];
    VK_BYTE bPeriodicTimerCount;
    VK_WORD wOffsetToPeriodicTimers;
    VK_BYTE bConnectorModeFlags;
    VK_BYTE bSanitizePolicy;
    VK_BYTE pbDriveWriteCachePolicy[6];
    VK_WORD wExpanderSpinupMinimumDuration;
    VK_WORD wScanDevicesTimeout;
    VK_BYTE pbPCIEOrderingMode[2];
    VK_BYTE bPCIEMaxPayloadSize;
    VK_BYTE bPCIEMaxReadRequestSize;
    VK_BYTE bPCIeMRRSOverrideSetting;
    VK_BYTE PrebootHealthReportingMode;
    VK_RESERVED reserved296[48];
} CONTROLLER_PARAMETERS, *PCONTROLLER_PARAMETERS;

// BMIC 0xC1 LUN 0 (read) and 0xC0 (write), 512 bytes.
typedef struct _CACHE_CONFIG_STATUS {
    VK_BYTE bDisableFlag;
    VK_BYTE bCacheSupportFlags;
    VK_WORD wCacheDisableCode;
    VK_WORD read_cache_size;
    VK_WORD write_cache_size;
    VK_DWORD dwCacheDisabledMap;
    VK_WORD wBatteryCount;
    VK_BYTE bDefaultPercentReadCache;
    VK_BYTE cache_configuration_flags;
    VK_DWORD dwTotalStructureLength;
    VK_DWORD dwFixedStructureLength;
    VK_DWORD dwCacheFlags;
    VK_WORD wInstalledBatteries;
    VK_WORD wFailedBatteries;
    VK_WORD wOffsetToExtendedCacheDisabledMap;
    VK_WORD wMaximumLogicalDevicesSupported;
    VK_RESERVED reserved36[2];
    VK_WORD wTotalMemorySize;
    VK_WORD wOverriddenPostedReadMemoryMiB;
    VK_WORD wOverriddenPostedWriteMemoryMiB;
    VK_BYTE bDetailedCindervaneHardwareStatus[8];
    VK_RESERVED reserved52[158];
    VK_BYTE bBoardPresent;
    VK_BYTE bBackupPowerStatus;
    VK_WORD wTotalNumberOfBackups;
    VK_WORD wBackupHardwareError;
    VK_BYTE bGreenBackupFlags;
    VK_BYTE bMemorySizeShiftFactor;
    VK_WORD wNonBatteryBackedMemorySize;
    VK_DWORD dwLastBackupTime;
    VK_BYTE bGreenBackupProcessorVersionMajor;
    VK_BYTE bGreenBackupProcessorVersionMinor;
    VK_RESERVED reserved226;
    VK_WORD wBatteryStatus;
    VK_RESERVED reserved229[27];
    VK_BYTE bRequiredBackupPowerType;
    VK_RESERVED reserved257[3];
    VK_DWORD dwLastRestoreTime;
    VK_BYTE pbExtendedCacheDisabledMap[8];
    VK_RESERVED reserved272[240];
} CACHE_CONFIG_STATUS, *PCACHE_CONFIG_STATUS;

typedef struct _PHYSICAL_PORT_INFO {
    VK_QWORD qwControllerPhyMap;
    char sPhysicalPort[2];
    VK_RESERVED reserved[2];
} PHYSICAL_PORT_INFO;

typedef struct _ADDITIONAL_PHYSICAL_PORT_INFO {
    VK_BYTE bSASAddress[8];
    VK_BYTE bConnectionNumber;
    VK_BYTE bConnectionMode;
    VK_BYTE bConnModeSupport;
    VK_BYTE bConnPhyRateLimit;
    VK_BYTE bConnectorFlags;
    VK_QWORD qwActivePhyMap;
    VK_RESERVED reserved[11];
} ADDITIONAL_PHYSICAL_PORT_INFO;

// BMIC 0x66, 1744 bytes.
typedef struct _SUBSYSTEM_PARAMETERS {
    VK_RESERVED reserved0[36];
    VK_BYTE bPortName[8];
    char sControllerSerialNumber[32];
    VK_RESERVED reserved76[104];
    char sSystemBoardSerialNumber[32];
    VK_RESERVED reserved212[280];
    VK_BYTE bInternalPortCount;
    VK_BYTE bExternalPortCount;
    VK_RESERVED reserved494[2];
    PHYSICAL_PORT_INFO internalPortInfo[8];
    PHYSICAL_PORT_INFO externalPortInfo[8];
    VK_RESERVED reserved688[16];
    VK_DWORD dwTotalStructureLength;
    ADDITIONAL_PHYSICAL_PORT_INFO additionalInternalPortInfo[8];
    ADDITIONAL_PHYSICAL_PORT_INFO additionalExternalPortInfo[8];
    VK_RESERVED reserved1220[364];
    char longConnectorNameInternal[8][8];
    char longConnectorNameExternal[8][8];
    char sDriverVersion[32];
} SUBSYSTEM_PARAMETERS, *PSUBSYSTEM_PARAMETERS;

// BMIC 0x72, 16 bytes.
typedef struct _MNP_STATUS {
    VK_WORD wMNPDelay;
    VK_RESERVED reserved2[14];
} MNP_STATUS, *PMNP_STATUS;

// BMIC 0x59, 118 bytes.
typedef struct _SENSE_EXPANSION_ABILITY {
    VK_DWORD dwSupportFlags;
    VK_DWORD dwExpansionMemorySize;
    VK_RESERVED reserved8[36];
    VK_DWORD dwTotalStructureLength;
    VK_DWORD dwFixedStructureLength;
    VK_RESERVED reserved52;
    VK_BYTE bExpansionQueued;
    VK_RESERVED reserved54[64];
} SENSE_EXPANSION_ABILITY, *PSENSE_EXPANSION_ABILITY;

// BMIC 0x70, 6904 bytes by default; the per-logical-drive tables lie at the offsets the reply gives.
inline constexpr VK_DWORD kSurfaceStatusDefaultSize = 6904;
typedef struct _SURFACE_STATUS {
    VK_WORD wSurfaceDelay;
    VK_WORD wCurrentVolume;
    VK_BYTE bInitializationPercentageComplete;
    VK_BYTE bMaxParallelScanLimit;
    VK_BYTE bCurrentParallelScanLimit;
    VK_RESERVED reserved7[1415];
    VK_DWORD dwTotalStructureLength;
    VK_DWORD dwFixedStructureLength;
    VK_WORD wMaximumLogicalDevicesSupported;
    VK_DWORD dwOffsetToExtendedSurfaceAnalysisStatus;
    VK_DWORD dwOffsetToExtendedInitializationPercentComplete;
    VK_DWORD dwOffsetToExtendedSurfaceAnalysisPassTime;
    VK_DWORD dwOffsetToSurfaceScanPassCompletionDateArray;
    VK_DWORD dwOffsetToSurfaceScanPassCompletionTimeArray;
    VK_BYTE bTableArea[5452];
} SURFACE_STATUS, *PSURFACE_STATUS;

// BMIC 0xEE function 1, 17 bytes. Mode values: 1 minimum, 2 balanced, 4 maximum.
typedef struct _GET_POWER_MODE {
    VK_DWORD dwPowerModeOperational;
    VK_DWORD dwPowerModeConfigured;
    VK_DWORD dwWarningMap;
    VK_DWORD dwSurvivalModeThresholds;
    VK_BYTE bSelectedSurvivalMode;
} GET_POWER_MODE, *PGET_POWER_MODE;

// BMIC 0xEE function 3, 1 byte.
typedef struct _GET_DEFAULT_POWER_MODE {
    VK_BYTE bDefaultPowerMode;
} GET_DEFAULT_POWER_MODE, *PGET_DEFAULT_POWER_MODE;

// Standard layout of the 256-byte manufacturing data (BMIC 0x82) when the OEM id is 0.
inline constexpr size_t kManufacturingDataSize = 256;
typedef struct _DEFAULT_MANUFACTURING_DATA {
    VK_BYTE WWID[8];
    char serial_number[15];
    char spare_part_number[15];
    VK_BYTE wellness_log[12];
    VK_BYTE revision;
    char part_number[15];
} DEFAULT_MANUFACTURING_DATA;

// BMIC 0x80 sub-function 6 (read) and 5 (write), 8 bytes.
typedef struct _OOB_MESSAGE_INTERFACE {
    VK_BYTE bActiveInterfaceType;
    VK_BYTE bActiveI2cConfiguration;
    VK_BYTE bActiveI2cSlaveAddress;
    VK_BYTE bActiveReserved;
    VK_BYTE bPendingInterfaceType;
    VK_BYTE bPendingI2cConfiguration;
    VK_BYTE bPendingI2cSlaveAddress;
    VK_BYTE bPendingReserved;
} OOB_MESSAGE_INTERFACE, *POOB_MESSAGE_INTERFACE;

// BMIC 0x80 sub-function 1, 4 bytes.
typedef struct _I2C_INFO {
    VK_BYTE slave_address;
    VK_BYTE configuration;
    VK_RESERVED reserved[2];
} I2C_INFO, *PI2C_INFO;

typedef struct _LU_CACHE_RAM_ALGO_INFO {
    VK_BYTE bType;
    VK_BYTE bBytesPerCacheLine;
    VK_WORD wFixedHeaderSizeBytes;
    VK_BYTE bDataVolumesPerCacheVolume;
    VK_BYTE bMaxCacheVolumeSizeBits;
    VK_BYTE bMaxDataVolumeSizeBits;
} LU_CACHE_RAM_ALGO_INFO;

// BMIC 0xC1 LUN 1 sub-command 3, 39 bytes. Entry a - 1 describes LU cache algorithm a.
typedef struct _LU_CACHE_RAM_INFO {
    VK_DWORD dwMemoryUsedForLUCacheBytes;
    VK_DWORD dwMemoryAvailableForLUCacheBytes;
    LU_CACHE_RAM_ALGO_INFO bAlgoInfo[4];
    VK_RESERVED reserved36[3];
} LU_CACHE_RAM_INFO, *PLU_CACHE_RAM_INFO;

// BMIC 0xD4 function 3, 16 bytes.
typedef struct _ONLINE_FIRMWARE_ACTIVATION_STATUS {
    VK_UINT8 u8CurrentStatus;
    VK_UINT8 u8PercentComplete;
    VK_UINT16 u16DelayTimeSet;
    VK_UINT16 u16DelayTimeRemaining;
    VK_RESERVED reserved6[10];
} ONLINE_FIRMWARE_ACTIVATION_STATUS, *PONLINE_FIRMWARE_ACTIVATION_STATUS;

// BMIC 0xD4 functions 1, 2 and 5: the reply.
typedef struct _ONLINE_FIRMWARE_ACTIVATION_RESPONSE {
    VK_UINT8 u8ResponseCode;
    VK_UINT8 u8FailureReason[8];
    VK_RESERVED reserved9[7];
} ONLINE_FIRMWARE_ACTIVATION_RESPONSE;

typedef struct _CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER {
    VK_BYTE bDiscoveryProtocol;
    VK_BYTE bFoundProtocol;
    VK_BYTE bLinkWidth;
    VK_BYTE bSupportsClockRouting;
    VK_RESERVED reserved[2];
} CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER;

// BMIC 0x83, 98 bytes; entries indexed by connector number.
typedef struct _DISCOVERY_CONFIGURATION_BUFFER {
    VK_BYTE bConnectorCount;
    VK_BYTE bConnectorStructSize;
    CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER connectors[16];
} DISCOVERY_CONFIGURATION_BUFFER, *PDISCOVERY_CONFIGURATION_BUFFER;

// BMIC 0x1E reads: function numbers in CDB byte 5.
inline constexpr VK_DWORD kEncryptionFunctionKekCacheAttributes = 1;
inline constexpr VK_DWORD kEncryptionFunctionRoleAttributes = 2;
inline constexpr VK_DWORD kEncryptionFunctionPasswordRecovery = 3;
inline constexpr VK_DWORD kEncryptionFunctionServerName = 5;
inline constexpr VK_DWORD kEncryptionFunctionBootPasswordStatus = 6;
inline constexpr VK_DWORD kEncryptionFunctionIKekStatus = 7;
inline constexpr VK_DWORD kEncryptionFunctionBootStatus = 8;
inline constexpr VK_DWORD kEncryptionFunctionKeyManagerStatus = 10;
inline constexpr VK_DWORD kEncryptionFunctionFeatures = 13;

typedef struct _ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES {
    VK_DWORD dwSupportedBits;
    VK_WORD wMinRetryAttempts;
    VK_WORD wMaxRetryAttempts;
    VK_WORD wCurrentRetryAttempts;
    VK_WORD wMinRetryInterval;
    VK_WORD wMaxRetryInterval;
    VK_WORD wCurrentRetryInterval;
    VK_DWORD flags;
} ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, *PENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES;

typedef struct _ENCRYPTION_ROLE_ATTRIBUTE {
    VK_BYTE bRoleValue;
    VK_BYTE bRoleType[15];
    VK_DWORD dwSupportedDetailField;
} ENCRYPTION_ROLE_ATTRIBUTE;

typedef struct _ENCRYPTION_ROLE_ATTRIBUTES {
    VK_DWORD dwNumberOfRoles;
    ENCRYPTION_ROLE_ATTRIBUTE roleAttrs[10];
} ENCRYPTION_ROLE_ATTRIBUTES, *PENCRYPTION_ROLE_ATTRIBUTES;

typedef struct _ENCRYPTION_PASSWORD_RECOVERY {
    char bQuestion[256];
} ENCRYPTION_PASSWORD_RECOVERY, *PENCRYPTION_PASSWORD_RECOVERY;

typedef struct _ENCRYPTION_SERVER_NAME {
    char bServerName[64];
} ENCRYPTION_SERVER_NAME, *PENCRYPTION_SERVER_NAME;

typedef struct _ENCRYPTION_BOOT_PASSWORD_STATUS {
    VK_WORD wStatus;
    VK_RESERVED reserved[2];
} ENCRYPTION_BOOT_PASSWORD_STATUS, *PENCRYPTION_BOOT_PASSWORD_STATUS;

typedef struct _ENCRYPTION_IKEK_STATUS {
    VK_BYTE bIkek;
    VK_BYTE bIkekReset;
    VK_BYTE bControllerKey;
    VK_RESERVED reserved;
} ENCRYPTION_IKEK_STATUS, *PENCRYPTION_IKEK_STATUS;

typedef struct _ENCRYPTION_BOOT_STATUS {
    VK_DWORD dwCompleteStatus;
    VK_DWORD dwBootStatus;
} ENCRYPTION_BOOT_STATUS, *PENCRYPTION_BOOT_STATUS;

typedef struct _ENCRYPTION_PASSWORD_STATUS {
    VK_DWORD dwAttemptsRemaining;
    VK_DWORD dwLockoutSecondsRemaining;
} ENCRYPTION_PASSWORD_STATUS;

typedef struct _ENCRYPTION_PASSWORD_STATUSES {
    VK_DWORD dwNumberOfRoles;
    ENCRYPTION_PASSWORD_STATUS roles[2];
} ENCRYPTION_PASSWORD_STATUSES, *PENCRYPTION_PASSWORD_STATUSES;

typedef struct _ENCRYPTION_KEY_MANAGER_STATUS {
    VK_BYTE bRetrievalStatus;
    VK_BYTE bConnectionStatus;
    VK_RESERVED reserved[2];
} ENCRYPTION_KEY_MANAGER_STATUS, *PENCRYPTION_KEY_MANAGER_STATUS;

typedef struct _ENCRYPTION_FEATURES {
    VK_BYTE bNumberOfFeatureBytes;
    VK_BYTE pbFeatures[511];
} ENCRYPTION_FEATURES, *PENCRYPTION_FEATURES;

// BMIC 0xE8 reads: function numbers in CDB byte 5.
inline constexpr VK_DWORD kManagedSEDFunctionAdapterPasswordStatus = 1;
inline constexpr VK_DWORD kManagedSEDFunctionStatus = 2;
inline constexpr VK_DWORD kManagedSEDFunctionMasterKeyIdentifier = 4;
inline constexpr VK_DWORD kManagedSEDFunctionKMSStatus = 6;

typedef struct _MANAGED_SED_ADAPTER_PASSWORD_STATUS {
    VK_BYTE bAdapterPasswordStatus;
    VK_DWORD dwCountdownTimer;
    VK_BYTE bUnlockAttemptsLeft;
} MANAGED_SED_ADAPTER_PASSWORD_STATUS, *PMANAGED_SED_ADAPTER_PASSWORD_STATUS;

typedef struct _MANAGED_SED_STATUS_BUFFER {
    VK_DWORD dwStatus;
    VK_DWORD dwReserved;
} MANAGED_SED_STATUS_BUFFER, *PMANAGED_SED_STATUS_BUFFER;

typedef struct _MANAGED_SED_FOREIGN_KEY_IDENTIFIER {
    VK_BYTE bForeignKeyIdentifier[32];
    VK_BYTE bResetForeignKeyIdentifier[32];
} MANAGED_SED_FOREIGN_KEY_IDENTIFIER, *PMANAGED_SED_FOREIGN_KEY_IDENTIFIER;

typedef struct _MANAGED_SED_MASTER_KEY_IDENTIFIER {
    VK_BYTE bMasterKeyIdentifier[32];
    VK_RESERVED reserved;
} MANAGED_SED_MASTER_KEY_IDENTIFIER, *PMANAGED_SED_MASTER_KEY_IDENTIFIER;

typedef struct _MANAGED_SED_KMS_STATUS {
    VK_DWORD dwKMSAction;
} MANAGED_SED_KMS_STATUS, *PMANAGED_SED_KMS_STATUS;

// BMIC 0xE5: a 664-byte header followed by one 16-bit erase state word per physical device.
inline constexpr VK_DWORD kEraseStateHeaderSize = 664;
typedef struct _ERASE_STATE {
    VK_DWORD wOffsetToPhysicalDriveEraseState;
    VK_DWORD wOffsetToLogicalDriveEraseState;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_WORD wMaximumLogicalDevicesSupported;
    VK_DWORD dwTotalStructureLength;
    VK_DWORD dwFixedStructureLength;
    VK_BYTE bSupportFlags;
    VK_BYTE bOptionFlags;
    VK_RESERVED reserved22[642];
} ERASE_STATE, *PERASE_STATE;

// BMIC 0x78: a 12-byte header followed by number_of_sensors records of 47 bytes.
typedef struct _SENSE_SENSORS_INFO_FIXED {
    VK_DWORD number_of_sensors;
    VK_DWORD version;
    VK_DWORD size_of_sensor_info;
} SENSE_SENSORS_INFO_FIXED, *PSENSE_SENSORS_INFO_FIXED;

typedef struct _SENSOR_STATUS {
    VK_BYTE index; // 0xFF: no sensor in this record
    VK_BYTE over_critical;
    VK_BYTE over_caution;
    VK_BYTE over_warning;
    VK_DWORD reading;
} SENSOR_STATUS;

typedef struct _SENSOR_INFO {
    SENSOR_STATUS sensor_status;
    VK_BYTE type;
    VK_BYTE class_type;
    VK_BYTE location;
    char unit[2];
    VK_WORD flags;
    VK_DWORD max_since_poweron;
    VK_DWORD failed_count;
    VK_BYTE class_info[24];
} SENSOR_INFO, *PSENSOR_INFO;

inline constexpr VK_DWORD kDefaultSensorCount = 32;

// BMIC 0x5D, 1292 bytes by default.
inline constexpr VK_DWORD kMirrorDrivePairInfoDefaultSize = 1292;
typedef struct _MIRROR_DRIVE_PAIR_INFO {
    VK_WORD pwPairedDrive[256];
    VK_WORD wOffsetToExtendedPairedDrive;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_DWORD dwTotalStructureLength;
    VK_DWORD dwFixedStructureLength;
    VK_BYTE bExtendedPairedDriveArea[768];
} MIRROR_DRIVE_PAIR_INFO, *PMIRROR_DRIVE_PAIR_INFO;

// BMIC 0x61: a starting header and the pages back to back.
inline constexpr VK_DWORD kSenseFeatureSize = 601;
typedef struct _SENSE_FEATURE_STARTING_HEADER {
    VK_BYTE bRequestedPage;
    VK_BYTE bRequestedSubPage;
    VK_WORD wTotalLength; // page bytes after this header
} SENSE_FEATURE_STARTING_HEADER;

typedef struct _SENSE_FEATURE_PAGE_HEADER {
    VK_BYTE bPageCode;
    VK_BYTE bSubPageCode;
    VK_WORD wPageLength; // page bytes after this header
} SENSE_FEATURE_PAGE_HEADER;

typedef struct _SENSE_FEATURE {
    SENSE_FEATURE_STARTING_HEADER StartingHeader;
    VK_BYTE bPages[kSenseFeatureSize - sizeof(SENSE_FEATURE_STARTING_HEADER)];
} SENSE_FEATURE, *PSENSE_FEATURE;

// The 16-byte drive parameter table inside LOGICAL_DRIVE_CONFIG.
typedef struct _DRIVE_PARAM_TABLE {
    VK_WORD wMaxCylinders;
    VK_BYTE bMaxHeads;
    VK_BYTE bTranslationSignature;
    VK_BYTE bPhysSectorsPerTrack;
    VK_WORD wPreCompCylinder;
    VK_BYTE bMaxECCBurst;
    VK_BYTE bDriveControl;
    VK_WORD wMaxPhysicalCylinders;
    VK_BYTE bMaxPhysicalHeads;
    VK_WORD wLandingZone;
    VK_BYTE bSectorsPerTrack;
    VK_BYTE bChecksum;
} DRIVE_PARAM_TABLE;

// BMIC 0x50 and 0x55 (read), 0x51, 0x54 and 0x5E (write), 652 bytes.
typedef struct _LOGICAL_DRIVE_CONFIG {
    VK_DWORD signature;
    VK_WORD wCPCPort;
    VK_BYTE bDataDistributionMode;
    VK_BYTE bSurfaceAnalysisControl;
    VK_WORD wPhysicalDrives;
    VK_WORD wAssignedDrives;
    VK_WORD wFaultToleranceMode;
    VK_WORD wDrivesConsumedForFaultTolerance;
    VK_QWORD qwBigBlocksInLogicalDrive;
    VK_WORD wBlockSize;
    VK_BYTE bMoreUnitFlags;
    VK_RESERVED reserved27;
    VK_BYTE bFastParityInitialization;
    VK_BYTE bNumberOfParityGroups;
    DRIVE_PARAM_TABLE logicalDriveParamTable;
    VK_DWORD dwDriveAssignmentMap;
    VK_WORD wDistribution;
    VK_DWORD dwSpareAssignmentMap;
    VK_BYTE bBreakUpFlags;
    VK_BYTE bConfigurationFlags;
    VK_DWORD dwOtherVolumeSignature;
    VK_WORD wOS;
    VK_BYTE bControllerOrder;
    VK_BYTE bAdditionalInfo;
    VK_DWORD data_offset;
    VK_BYTE bBackedOutWriteDrives;
    VK_BYTE bParityDistributionMode;
    VK_BYTE bParityShiftFactor;
    VK_BYTE bBIOSDisableFlag;
    VK_DWORD dwBlocksOnVolume;
    VK_DWORD dwBlocksPerDrive;
    VK_BYTE bConfigModMajorVer;
    VK_BYTE bConfigModMinorVer;
    VK_BYTE bGUIMajorVer;
    VK_BYTE bGUIMinorVer;
    VK_BYTE bGUIOptions;
    VK_BYTE bLogicalDriveProperty;
    VK_BYTE bLogicalDriveAlignment;
    VK_DWORD dwBackupTimestamp;
    VK_BYTE bScratchPad[5];
    VK_BYTE pbBigDriveAssignmentMap[16];
    VK_BYTE pbBigSpareAssignmentMap[16];
    VK_BYTE bSnapshotSourceVolume;
    VK_BYTE bDriveTypeMixFlag;
    VK_RESERVED reserved132[96];
    VK_BYTE bSnapshotResourceVolumeFlag;
    VK_BYTE bSnapshotRISCounter;
    VK_WORD wExtendedSnapshotSourceVolume;
    VK_WORD wOtherVolumeDriveNumber;
    VK_QWORD qwExtendedOffsetToData;
    VK_QWORD qwExtendedBlocksPerDrive;
    VK_WORD wOffsetToExtendedDriveAssignmentMap;
    VK_WORD wOffsetToExtendedSpareAssignmentMap;
    VK_WORD wOffsetToExtendedPhysicalDriveOrderList;
    VK_DWORD dwTotalStructureLength;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_WORD wMaximumPhysicalDrivesPerLogicalUnit;
    VK_DWORD dwFixedStructureLength;
    VK_BYTE bLUCacheBits;
    VK_BYTE bLUCacheState;
    VK_BYTE bLUCacheNumberOfPrimaryUnits;
    VK_WORD wLUCacheOtherUnitNumber;
    VK_BYTE bLUCacheCachingAlgorithm;
    VK_BYTE bLUCacheWritePolicy;
    VK_DWORD dwCacheLineSizeBlocks;
    VK_BYTE bLUMaxWriteCmds;
    VK_BYTE bLUMaxReadCmds;
    VK_RESERVED reserved281[7];
    VK_BYTE bLUCacheAlgorithmDetails[12];
    VK_RESERVED reserved300[352];
} LOGICAL_DRIVE_CONFIG, *PLOGICAL_DRIVE_CONFIG;

// BMIC 0x10, 118 bytes. Its fields are laid out by the logical-drive getters.
typedef struct _IDENTIFY_LOGICAL_DRIVE {
    VK_BYTE bData[118];
} IDENTIFY_LOGICAL_DRIVE, *PIDENTIFY_LOGICAL_DRIVE;

// BMIC 0xC1 LUN 1 sub-command 1, 112 bytes.
typedef struct _LU_CACHE_STATS {
    VK_WORD wValidDataLength;
    VK_BYTE bCacheState; // 0x10: the cache is not usable
    VK_RESERVED reserved3[5];
    VK_QWORD qwReadCacheHits;
    VK_QWORD qwReadCacheMissesDoLoad;
    VK_QWORD qwReadCacheMissesLoading;
    VK_QWORD qwReadCacheMissesSkip;
    VK_QWORD qwWriteCacheHits;
    VK_QWORD qwWriteCacheMissesDoLoad;
    VK_QWORD qwWriteCacheMissesLoading;
    VK_QWORD qwWriteCacheMissesSkip;
    VK_RESERVED reserved72[4];
    VK_QWORD qwReadCacheMissesTotal;
    VK_QWORD qwWriteCacheMissesTotal;
    VK_QWORD qwReadCacheMissesLocked;
    VK_QWORD qwWriteCacheMissesLocked;
    VK_RESERVED reserved108[4];
} LU_CACHE_STATS, *PLU_CACHE_STATS;

// BMIC 0xC1 LUN 1 sub-command 0, 512 bytes. Its fields are laid out by the LU cache getters.
typedef struct _LU_CACHE_SENSE {
    VK_BYTE bData[512];
} LU_CACHE_SENSE, *PLU_CACHE_SENSE;

// BMIC 0x15, 3072 bytes: the fields the drive record keeps, at their reply offsets.
typedef struct _PHYSICAL_DRIVE_STATUS {
    VK_RESERVED reserved0[2];
    VK_WORD wBlockSize;
    VK_DWORD dwTotalBlocks;
    VK_DWORD dwReservedBlocks;
    char sDriveModel[40];
    char sDriveSerialNumber[40];
    char sDriveFirmwareRevision[8];
    VK_RESERVED reserved100;
    VK_BYTE bDriveStamped;
    VK_BYTE bLastFailureReason;
    VK_BYTE bDeviceFlags;
    VK_BYTE bMoreDeviceFlags;
    VK_RESERVED reserved105;
    VK_BYTE bYetMoreDeviceFlags;
    VK_BYTE bEvenMoreDeviceFlags;
    VK_RESERVED reserved108[4];
    char sPhysicalPort[2];
    VK_BYTE bPhysicalBox;
    VK_BYTE bPhysicalBay;
    VK_DWORD dwRPM;
    VK_BYTE bDeviceType;
    VK_RESERVED reserved121;
    VK_QWORD qwBIGTotalBlockCount;
    VK_RESERVED reserved130[12];
    VK_BYTE bWWID[20];
    VK_BYTE bControllerPHYMap[32];
    VK_WORD wPHYCount;
    VK_BYTE bPHYConnectedDeviceType[256];
    VK_RESERVED reserved452[768];
    VK_BYTE bBoxIndex;
    VK_BYTE bQRBSupport;
    VK_WORD wExtraDeviceFlags;
    VK_BYTE bNegotiatedLogicalLinkRate[256];
    VK_RESERVED reserved1480[256];
    VK_BYTE bRedundantPathPresentMap;
    VK_BYTE bRedundantPathFailureMap;
    VK_BYTE bActivePathNumber;
    char sMultiPathPort[16];
    VK_BYTE bMultiPathBox[8];
    VK_BYTE bMultiLUNDeviceLUNCount;
    char sMinimumGoodFirmwareRevision[8];
    VK_RESERVED reserved1772[20];
    VK_BYTE bCurrentTemperature;
    VK_BYTE bTemperatureThreshold;
    VK_BYTE bMaximumTemperature;
    VK_BYTE bLogicalBlocksPerPhysicalBlock;
    VK_RESERVED reserved1796[62];
    VK_WORD wPowerOnHours;
    VK_WORD wPercentEnduranceUsed;
    VK_RESERVED reserved1862;
    VK_BYTE bVeskCarrierAuthentication;
    VK_BYTE bVeskCarrierApplicationVersion;
    VK_RESERVED reserved1865;
    VK_BYTE bSanitizeEraseSupport;
    VK_RESERVED reserved1867[65];
    VK_DWORD dwMiscDriveFlags;
    VK_RESERVED reserved1936[10];
    VK_BYTE bConnectorMode;
    VK_BYTE bConnectorInfo[4];
    char sLongConnectorName[64];
    VK_BYTE bDeviceUniqueID[16];
    VK_BYTE bMaxLinkRate[256];
    VK_BYTE bNegotiatedPhysicalLinkRate[256];
    char bLongBoxConnectorName[8];
    VK_BYTE bActivePathMap;
    VK_BYTE bSanitizePolicy;
    VK_BYTE bConnectorMap;
    VK_DWORD dwDriveFeatureFlags;
    VK_WORD wDriveUnsupportedReason;
    char sFullLengthDeviceModel[48];
    VK_BYTE bOEMID;
    VK_RESERVED reserved2609;
    VK_WORD wPCIVendorID;
    VK_WORD wPCISSVendorID;
    VK_RESERVED reserved2614[458];
} PHYSICAL_DRIVE_STATUS, *PPHYSICAL_DRIVE_STATUS;

// BMIC 0x12, 3265 bytes by default; the extended maps and the rebuild table sit at the offsets the
// reply gives, possibly past the default size.
typedef struct _LOGICAL_DRIVE_STATUS {
    VK_BYTE bUnitStatus;
    VK_RESERVED reserved1[4];
    VK_WORD wMissingDriveCount;
    VK_RESERVED reserved7[414];
    VK_DWORD dwBlocksLeftToRecover;
    VK_RESERVED reserved425[110];
    VK_BYTE bMediaExchanged;
    VK_RESERVED reserved536;
    VK_BYTE bExpandFailure;
    VK_BYTE bUnitFlags;
    VK_RESERVED reserved539[272];
    VK_BYTE pbBigReplacementDriveMap[16];
    VK_RESERVED reserved827[160];
    VK_BYTE bBigDriveRebuilding;
    VK_QWORD qwBigBlocksLeftToRecover;
    VK_RESERVED reserved996[6];
    VK_WORD wExtendedDriveRebuilding;
    VK_WORD wOffsetToExtendedDriveFailureMap;
    VK_WORD wOffsetToExtendedReplacementDriveMap;
    VK_WORD wOffsetToExtendedActiveSpareMap;
    VK_RESERVED reserved1010[6];
    VK_WORD wOffsetToDriveRebuildPercentage;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_DWORD dwTotalStructureLength;
    VK_RESERVED reserved1024[2];
    VK_BYTE bEncryptionFlags;
    VK_BYTE bRedundantCablingFlags;
    VK_RESERVED reserved1028[16];
    VK_DWORD dwFixedStructureLength;
    VK_RESERVED reserved1048[3];
    VK_BYTE bAdditionalEncryptionFlags;
    VK_RESERVED reserved1052[4];
    VK_BYTE bManagedSEDVolumeFlags;
    VK_RESERVED reserved1057[2208];
} LOGICAL_DRIVE_STATUS, *PLOGICAL_DRIVE_STATUS;

typedef struct _BOX_INQUIRY_DATA {
    VK_BYTE bPeripheralType;
    VK_BYTE bRMB;
    VK_BYTE bVersions;
    VK_BYTE bMisc;
    VK_BYTE bAdditionalLength;
    VK_RESERVED reserved[2];
    VK_BYTE bSupportBits;
    char sVendorID[8];
    char sProductID[16];
    char sProductRevision[4];
} BOX_INQUIRY_DATA;

typedef struct _ALARM_STRUCTURE {
    VK_BYTE bAlarmStatus;
    VK_BYTE bTemperatureStatus;
    VK_BYTE bValidAlarmBits;
    VK_WORD wAlarmCount;
    VK_WORD wSpecificAlarmCounts[8];
} ALARM_STRUCTURE;

typedef struct _UBM_BACKPLANE_INFO {
    VK_BYTE bImageVersionMajor;
    VK_BYTE bImageVersionMinor;
    VK_WORD wPCIVendorID;
    VK_DWORD dwManagerDeviceCode;
    char sPartNumber[32];
    char sProductString[32];
    VK_BYTE bProgrammingCapabilities;
} UBM_BACKPLANE_INFO;

// BMIC 0x65, 1537 bytes, one box per request.
typedef struct _SENSE_BUS_PARAMETERS {
    BOX_INQUIRY_DATA boxInquiryData;
    VK_BYTE bInquiryValid;
    VK_RESERVED reserved37[68];
    VK_BYTE bPhysicalBox;
    VK_RESERVED reserved106;
    ALARM_STRUCTURE alarmData;
    VK_WORD wConnectionFlags;
    VK_RESERVED reserved130[86];
    VK_BYTE pbBigInstalledDriveMap[16];
    VK_RESERVED reserved232[34];
    VK_BYTE bBayCount;
    VK_BYTE bExpanderCount;
    char sChassisSerialNumber[40];
    VK_RESERVED reserved308[16];
    VK_BYTE bSEPCount;
    VK_BYTE bSEPDeviceTypes[16];
    VK_WORD wSEPDeviceNumbers[16];
    VK_WORD wExpanderDeviceNumbers[16];
    VK_WORD wOffsetToExtendedInstalledDriveMap;
    VK_RESERVED reserved407[5];
    VK_DWORD dwTotalStructureLength;
    VK_RESERVED reserved416[2];
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_RESERVED reserved420[3];
    VK_BYTE bRedundantPathPresentMap;
    VK_BYTE bRedundantPathFailureMap;
    VK_BYTE bActivePathNumber;
    char sMultiPathPort[16];
    VK_BYTE bMultiPathBox[8];
    VK_RESERVED reserved450[32];
    VK_DWORD dwFixedStructureLength;
    VK_RESERVED reserved486[724];
    char sLongConnectorName[64];
    VK_BYTE bActivePathMap;
    VK_BYTE bConnectorMap;
    UBM_BACKPLANE_INFO ubmBackplaneInfo;
    VK_RESERVED reserved1349[188];
} SENSE_BUS_PARAMETERS, *PSENSE_BUS_PARAMETERS;

#pragma pack(pop)

// Sizes the controller reads with.
static_assert(sizeof(IDENTIFY_CONTROLLER) == 1024);
static_assert(sizeof(CONTROLLER_PARAMETERS) == 344);
static_assert(sizeof(CACHE_CONFIG_STATUS) == 512);
static_assert(sizeof(PHYSICAL_PORT_INFO) == 12);
static_assert(sizeof(ADDITIONAL_PHYSICAL_PORT_INFO) == 32);
static_assert(sizeof(SUBSYSTEM_PARAMETERS) == 1744);
static_assert(sizeof(MNP_STATUS) == 16);
static_assert(sizeof(SENSE_EXPANSION_ABILITY) == 118);
static_assert(sizeof(SURFACE_STATUS) == kSurfaceStatusDefaultSize);
static_assert(sizeof(GET_POWER_MODE) == 17);
static_assert(sizeof(GET_DEFAULT_POWER_MODE) == 1);
static_assert(sizeof(DEFAULT_MANUFACTURING_DATA) == 66);
static_assert(sizeof(OOB_MESSAGE_INTERFACE) == 8);
static_assert(sizeof(I2C_INFO) == 4);
static_assert(sizeof(LU_CACHE_RAM_ALGO_INFO) == 7);
static_assert(sizeof(LU_CACHE_RAM_INFO) == 39);
static_assert(sizeof(ONLINE_FIRMWARE_ACTIVATION_STATUS) == 16);
static_assert(sizeof(ONLINE_FIRMWARE_ACTIVATION_RESPONSE) == 16);
static_assert(sizeof(CONNECTOR_DISCOVERY_CONFIGURATION_BUFFER) == 6);
static_assert(sizeof(DISCOVERY_CONFIGURATION_BUFFER) == 98);
static_assert(sizeof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES) == 20);
static_assert(sizeof(ENCRYPTION_ROLE_ATTRIBUTE) == 20);
static_assert(sizeof(ENCRYPTION_ROLE_ATTRIBUTES) == 204);
static_assert(sizeof(ENCRYPTION_PASSWORD_RECOVERY) == 256);
static_assert(sizeof(ENCRYPTION_SERVER_NAME) == 64);
static_assert(sizeof(ENCRYPTION_BOOT_PASSWORD_STATUS) == 4);
static_assert(sizeof(ENCRYPTION_IKEK_STATUS) == 4);
static_assert(sizeof(ENCRYPTION_BOOT_STATUS) == 8);
static_assert(sizeof(ENCRYPTION_PASSWORD_STATUSES) == 20);
static_assert(sizeof(ENCRYPTION_KEY_MANAGER_STATUS) == 4);
static_assert(sizeof(ENCRYPTION_FEATURES) == 512);
static_assert(sizeof(MANAGED_SED_ADAPTER_PASSWORD_STATUS) == 6);
static_assert(sizeof(MANAGED_SED_STATUS_BUFFER) == 8);
static_assert(sizeof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER) == 64);
static_assert(sizeof(MANAGED_SED_MASTER_KEY_IDENTIFIER) == 33);
static_assert(sizeof(MANAGED_SED_KMS_STATUS) == 4);
static_assert(sizeof(ERASE_STATE) == kEraseStateHeaderSize);
static_assert(sizeof(SENSE_SENSORS_INFO_FIXED) == 12);
static_assert(sizeof(SENSOR_INFO) == 47);
static_assert(sizeof(MIRROR_DRIVE_PAIR_INFO) == kMirrorDrivePairInfoDefaultSize);
static_assert(sizeof(SENSE_FEATURE) == kSenseFeatureSize);
static_assert(sizeof(DRIVE_PARAM_TABLE) == 16);
static_assert(sizeof(LOGICAL_DRIVE_CONFIG) == 652);
static_assert(sizeof(IDENTIFY_LOGICAL_DRIVE) == 118);
static_assert(sizeof(LU_CACHE_STATS) == 112);
static_assert(sizeof(LU_CACHE_SENSE) == 512);

// Offsets the library reads.
static_assert(offsetof(IDENTIFY_CONTROLLER, sShortRAMFirmwareRev) == 5);
static_assert(offsetof(IDENTIFY_CONTROLLER, sShortROMFirmwareRev) == 9);
static_assert(offsetof(IDENTIFY_CONTROLLER, cMarketingRevision) == 40);
static_assert(offsetof(IDENTIFY_CONTROLLER, bRAID6Support) == 117);
static_assert(offsetof(IDENTIFY_CONTROLLER, pbFeaturesSupported) == 118);
static_assert(offsetof(IDENTIFY_CONTROLLER, bActiveROMStatus) == 133);
static_assert(offsetof(IDENTIFY_CONTROLLER, bControllerPostStatus) == 134);
static_assert(offsetof(IDENTIFY_CONTROLLER, wTotalAvailableMemorySize) == 143);
static_assert(offsetof(IDENTIFY_CONTROLLER, bMoreControllerFlags) == 145);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMaximumLogicalDevicesSupported) == 152);
static_assert(offsetof(IDENTIFY_CONTROLLER, wExtendedLogicalUnitCount) == 154);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMaximumPhysicalDevicesSupported) == 156);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMaximumPhysicalDrivesPerLogicalUnit) == 158);
static_assert(offsetof(IDENTIFY_CONTROLLER, bEnclosureCount) == 160);
static_assert(offsetof(IDENTIFY_CONTROLLER, wOffsetToExtendedDrivePresentMap) == 162);
static_assert(offsetof(IDENTIFY_CONTROLLER, wOffsetToExtendedNonDiskMap) == 166);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwYetMoreControllerFlags) == 184);
static_assert(offsetof(IDENTIFY_CONTROLLER, bLastLockup) == 188);
static_assert(offsetof(IDENTIFY_CONTROLLER, bPCISlot) == 189);
static_assert(offsetof(IDENTIFY_CONTROLLER, wFirmwareBuildNumber) == 190);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwMaximumSafeFullStripeSizeMB) == 192);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwTotalStructureLength) == 196);
static_assert(offsetof(IDENTIFY_CONTROLLER, sVendorID) == 200);
static_assert(offsetof(IDENTIFY_CONTROLLER, sProductID) == 208);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwExtendedLastLockup) == 224);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMaximumRAID01StripeSize) == 228);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMaximumRAID6StripeSize) == 232);
static_assert(offsetof(IDENTIFY_CONTROLLER, wYetMoreSwappedCableFlags) == 234);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwFixedStructureLength) == 240);
static_assert(offsetof(IDENTIFY_CONTROLLER, sFirmwareCompileTimeStamp) == 244);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwEvenMoreControllerFlags) == 268);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwEncryptionStatus) == 282);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwExtraControllerFlags) == 286);
static_assert(offsetof(IDENTIFY_CONTROLLER, bPCIEGeneration) == 290);
static_assert(offsetof(IDENTIFY_CONTROLLER, bCurrentControllerMode) == 292);
static_assert(offsetof(IDENTIFY_CONTROLLER, sFWTag) == 325);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwSimultaneousSpinupCount) == 357);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwDriveSpinupDelay) == 361);
static_assert(offsetof(IDENTIFY_CONTROLLER, wPCIDeviceID) == 365);
static_assert(offsetof(IDENTIFY_CONTROLLER, wPCIVendorID) == 367);
static_assert(offsetof(IDENTIFY_CONTROLLER, wPCISSDeviceID) == 369);
static_assert(offsetof(IDENTIFY_CONTROLLER, wPCISSVendorID) == 371);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwPCIMaxLinkRate) == 373);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwPCIMaxLinkWidth) == 377);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMinRAID01StripSize) == 385);
static_assert(offsetof(IDENTIFY_CONTROLLER, wMinParityStripSize) == 387);
static_assert(offsetof(IDENTIFY_CONTROLLER, sFamilyID) == 389);
static_assert(offsetof(IDENTIFY_CONTROLLER, wExtendedPCISlot) == 453);
static_assert(offsetof(IDENTIFY_CONTROLLER, sPendingFirmwareVersion) == 455);
static_assert(offsetof(IDENTIFY_CONTROLLER, u32PendingFirmwareComparisonStamp) == 487);
static_assert(offsetof(IDENTIFY_CONTROLLER, u32CurrentFirmwareComparisonStamp) == 491);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwRebootReason) == 527);
static_assert(offsetof(IDENTIFY_CONTROLLER, dwManagedSEDModeStatus) == 540);
static_assert(offsetof(IDENTIFY_CONTROLLER, bMarketingRevisionMinor) == 556);

static_assert(offsetof(CONTROLLER_PARAMETERS, controller_configuration_flags) == 5);
static_assert(offsetof(CONTROLLER_PARAMETERS, queue_depth) == 6);
static_assert(offsetof(CONTROLLER_PARAMETERS, elevator_state) == 10);
static_assert(offsetof(CONTROLLER_PARAMETERS, rebuild_priority) == 14);
static_assert(offsetof(CONTROLLER_PARAMETERS, expand_priority) == 15);
static_assert(offsetof(CONTROLLER_PARAMETERS, sSoftwareName) == 18);
static_assert(offsetof(CONTROLLER_PARAMETERS, sHardwareName) == 82);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwOSSpecific) == 116);
static_assert(offsetof(CONTROLLER_PARAMETERS, bNVRAMFlags) == 123);
static_assert(offsetof(CONTROLLER_PARAMETERS, drive_configuration_flags) == 125);
static_assert(offsetof(CONTROLLER_PARAMETERS, bOverTemperatureWarning) == 128);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwMaxCoalesceDelay) == 132);
static_assert(offsetof(CONTROLLER_PARAMETERS, sKELPPassword) == 136);
static_assert(offsetof(CONTROLLER_PARAMETERS, sAccessID) == 140);
static_assert(offsetof(CONTROLLER_PARAMETERS, primary_boot_lun) == 156);
static_assert(offsetof(CONTROLLER_PARAMETERS, secondary_boot_lun) == 172);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwTotalStructureLength) == 188);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwMoreConfigFlags) == 196);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwMoreNVRAMFlags) == 200);
static_assert(offsetof(CONTROLLER_PARAMETERS, elevator_latency_setting) == 204);
static_assert(offsetof(CONTROLLER_PARAMETERS, bConnectorMode) == 207);
static_assert(offsetof(CONTROLLER_PARAMETERS, bNumOSBootableDrives) == 223);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwBigBlockCacheLineBypassLimit) == 224);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwRTCCentury) == 228);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwRTCSecond) == 252);
static_assert(offsetof(CONTROLLER_PARAMETERS, bDCacheErrorMethod) == 256);
static_assert(offsetof(CONTROLLER_PARAMETERS, bConnectorMaxPhyRate) == 259);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPeriodicTimerCount) == 275);
static_assert(offsetof(CONTROLLER_PARAMETERS, wOffsetToPeriodicTimers) == 276);
static_assert(offsetof(CONTROLLER_PARAMETERS, bConnectorModeFlags) == 278);
static_assert(offsetof(CONTROLLER_PARAMETERS, bSanitizePolicy) == 279);
static_assert(offsetof(CONTROLLER_PARAMETERS, pbDriveWriteCachePolicy) == 280);
static_assert(offsetof(CONTROLLER_PARAMETERS, wExpanderSpinupMinimumDuration) == 286);
static_assert(offsetof(CONTROLLER_PARAMETERS, wScanDevicesTimeout) == 288);
static_assert(offsetof(CONTROLLER_PARAMETERS, pbPCIEOrderingMode) == 290);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPCIEMaxPayloadSize) == 292);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPCIeMRRSOverrideSetting) == 294);
static_assert(offsetof(CONTROLLER_PARAMETERS, PrebootHealthReportingMode) == 295);

static_assert(offsetof(CACHE_CONFIG_STATUS, read_cache_size) == 4);
static_assert(offsetof(CACHE_CONFIG_STATUS, write_cache_size) == 6);
static_assert(offsetof(CACHE_CONFIG_STATUS, wBatteryCount) == 12);
static_assert(offsetof(CACHE_CONFIG_STATUS, bDefaultPercentReadCache) == 14);
static_assert(offsetof(CACHE_CONFIG_STATUS, cache_configuration_flags) == 15);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwTotalStructureLength) == 16);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwCacheFlags) == 24);
static_assert(offsetof(CACHE_CONFIG_STATUS, wOffsetToExtendedCacheDisabledMap) == 32);
static_assert(offsetof(CACHE_CONFIG_STATUS, wTotalMemorySize) == 38);
static_assert(offsetof(CACHE_CONFIG_STATUS, bDetailedCindervaneHardwareStatus) == 44);
static_assert(offsetof(CACHE_CONFIG_STATUS, bBoardPresent) == 210);
static_assert(offsetof(CACHE_CONFIG_STATUS, bMemorySizeShiftFactor) == 217);
static_assert(offsetof(CACHE_CONFIG_STATUS, wNonBatteryBackedMemorySize) == 218);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwLastBackupTime) == 220);
static_assert(offsetof(CACHE_CONFIG_STATUS, wBatteryStatus) == 227);
static_assert(offsetof(CACHE_CONFIG_STATUS, bRequiredBackupPowerType) == 256);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwLastRestoreTime) == 260);
static_assert(offsetof(CACHE_CONFIG_STATUS, pbExtendedCacheDisabledMap) == 264);

static_assert(offsetof(ADDITIONAL_PHYSICAL_PORT_INFO, qwActivePhyMap) == 13);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, bPortName) == 36);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, sControllerSerialNumber) == 44);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, sSystemBoardSerialNumber) == 180);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, bInternalPortCount) == 492);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, internalPortInfo) == 496);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, externalPortInfo) == 592);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, dwTotalStructureLength) == 704);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, additionalInternalPortInfo) == 708);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, additionalExternalPortInfo) == 964);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameInternal) == 1584);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, longConnectorNameExternal) == 1648);
static_assert(offsetof(SUBSYSTEM_PARAMETERS, sDriverVersion) == 1712);

static_assert(offsetof(SENSE_EXPANSION_ABILITY, dwTotalStructureLength) == 44);
static_assert(offsetof(SENSE_EXPANSION_ABILITY, bExpansionQueued) == 53);
static_assert(offsetof(SURFACE_STATUS, dwTotalStructureLength) == 1422);
static_assert(offsetof(SURFACE_STATUS, wMaximumLogicalDevicesSupported) == 1430);
static_assert(offsetof(SURFACE_STATUS, dwOffsetToSurfaceScanPassCompletionTimeArray) == 1448);
static_assert(offsetof(GET_POWER_MODE, bSelectedSurvivalMode) == 16);
static_assert(offsetof(DEFAULT_MANUFACTURING_DATA, wellness_log) == 38);
static_assert(offsetof(DEFAULT_MANUFACTURING_DATA, part_number) == 51);
static_assert(offsetof(LU_CACHE_RAM_INFO, bAlgoInfo) == 8);
static_assert(offsetof(ONLINE_FIRMWARE_ACTIVATION_STATUS, u16DelayTimeRemaining) == 4);
static_assert(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, flags) == 16);
static_assert(offsetof(ENCRYPTION_ROLE_ATTRIBUTE, dwSupportedDetailField) == 16);
static_assert(offsetof(MANAGED_SED_ADAPTER_PASSWORD_STATUS, bUnlockAttemptsLeft) == 5);
static_assert(offsetof(ERASE_STATE, dwTotalStructureLength) == 12);
static_assert(offsetof(ERASE_STATE, bOptionFlags) == 21);
static_assert(offsetof(SENSOR_INFO, unit) == 11);
static_assert(offsetof(SENSOR_INFO, max_since_poweron) == 15);
static_assert(offsetof(SENSOR_INFO, class_info) == 23);
static_assert(offsetof(MIRROR_DRIVE_PAIR_INFO, dwTotalStructureLength) == 516);

static_assert(offsetof(DRIVE_PARAM_TABLE, bSectorsPerTrack) == 14);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wBlockSize) == 24);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bFastParityInitialization) == 28);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, logicalDriveParamTable) == 30);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwDriveAssignmentMap) == 46);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wDistribution) == 50);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwSpareAssignmentMap) == 52);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwOtherVolumeSignature) == 58);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, data_offset) == 66);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bBIOSDisableFlag) == 73);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwBlocksOnVolume) == 74);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bConfigModMajorVer) == 82);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bLogicalDriveProperty) == 87);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwBackupTimestamp) == 89);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, pbBigDriveAssignmentMap) == 98);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, pbBigSpareAssignmentMap) == 114);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bSnapshotResourceVolumeFlag) == 228);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, qwExtendedOffsetToData) == 234);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wOffsetToExtendedDriveAssignmentMap) == 250);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwTotalStructureLength) == 256);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwFixedStructureLength) == 264);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bLUCacheBits) == 268);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wLUCacheOtherUnitNumber) == 271);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwCacheLineSizeBlocks) == 275);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bLUCacheAlgorithmDetails) == 288);
static_assert(sizeof(PHYSICAL_DRIVE_STATUS) == 3072);
static_assert(sizeof(LOGICAL_DRIVE_STATUS) == 3265);
static_assert(sizeof(SENSE_BUS_PARAMETERS) == 1537);
static_assert(offsetof(LU_CACHE_STATS, bCacheState) == 2);

// Reply offsets of the fields the records keep.
#define PD_AT(field, offset) static_assert(offsetof(PHYSICAL_DRIVE_STATUS, field) == (offset))
PD_AT(wBlockSize, 2); PD_AT(dwTotalBlocks, 4); PD_AT(dwReservedBlocks, 8); PD_AT(sDriveModel, 12);
PD_AT(sDriveSerialNumber, 52); PD_AT(sDriveFirmwareRevision, 92); PD_AT(bDriveStamped, 101);
PD_AT(bLastFailureReason, 102); PD_AT(bDeviceFlags, 103); PD_AT(bMoreDeviceFlags, 104);
PD_AT(bYetMoreDeviceFlags, 106); PD_AT(bEvenMoreDeviceFlags, 107); PD_AT(sPhysicalPort, 112);
PD_AT(bPhysicalBox, 114); PD_AT(bPhysicalBay, 115); PD_AT(dwRPM, 116); PD_AT(bDeviceType, 120);
PD_AT(qwBIGTotalBlockCount, 122); PD_AT(bWWID, 142); PD_AT(bControllerPHYMap, 162); PD_AT(wPHYCount, 194);
PD_AT(bPHYConnectedDeviceType, 196); PD_AT(bBoxIndex, 1220); PD_AT(bQRBSupport, 1221);
PD_AT(wExtraDeviceFlags, 1222); PD_AT(bNegotiatedLogicalLinkRate, 1224); PD_AT(bRedundantPathPresentMap, 1736);
PD_AT(bRedundantPathFailureMap, 1737); PD_AT(bActivePathNumber, 1738); PD_AT(sMultiPathPort, 1739);
PD_AT(bMultiPathBox, 1755); PD_AT(bMultiLUNDeviceLUNCount, 1763); PD_AT(sMinimumGoodFirmwareRevision, 1764);
PD_AT(bCurrentTemperature, 1792); PD_AT(bTemperatureThreshold, 1793); PD_AT(bMaximumTemperature, 1794);
PD_AT(bLogicalBlocksPerPhysicalBlock, 1795); PD_AT(wPowerOnHours, 1858); PD_AT(wPercentEnduranceUsed, 1860);
PD_AT(bVeskCarrierAuthentication, 1863); PD_AT(bVeskCarrierApplicationVersion, 1864);
PD_AT(bSanitizeEraseSupport, 1866); PD_AT(dwMiscDriveFlags, 1932); PD_AT(bConnectorMode, 1946);
PD_AT(bConnectorInfo, 1947); PD_AT(sLongConnectorName, 1951); PD_AT(bDeviceUniqueID, 2015);
PD_AT(bMaxLinkRate, 2031); PD_AT(bNegotiatedPhysicalLinkRate, 2287); PD_AT(bLongBoxConnectorName, 2543);
PD_AT(bActivePathMap, 2551); PD_AT(bSanitizePolicy, 2552); PD_AT(bConnectorMap, 2553);
PD_AT(dwDriveFeatureFlags, 2554); PD_AT(wDriveUnsupportedReason, 2558); PD_AT(sFullLengthDeviceModel, 2560);
PD_AT(bOEMID, 2608); PD_AT(wPCIVendorID, 2610); PD_AT(wPCISSVendorID, 2612);
#undef PD_AT

#define LD_AT(field, offset) static_assert(offsetof(LOGICAL_DRIVE_STATUS, field) == (offset))
LD_AT(wMissingDriveCount, 5); LD_AT(dwBlocksLeftToRecover, 421); LD_AT(bMediaExchanged, 535);
LD_AT(bExpandFailure, 537); LD_AT(bUnitFlags, 538); LD_AT(pbBigReplacementDriveMap, 811);
LD_AT(bBigDriveRebuilding, 987); LD_AT(qwBigBlocksLeftToRecover, 988); LD_AT(wExtendedDriveRebuilding, 1002);
LD_AT(wOffsetToExtendedDriveFailureMap, 1004); LD_AT(wOffsetToExtendedReplacementDriveMap, 1006);
LD_AT(wOffsetToExtendedActiveSpareMap, 1008); LD_AT(wOffsetToDriveRebuildPercentage, 1016);
LD_AT(wMaximumPhysicalDevicesSupported, 1018); LD_AT(dwTotalStructureLength, 1020); LD_AT(bEncryptionFlags, 1026);
LD_AT(bRedundantCablingFlags, 1027); LD_AT(dwFixedStructureLength, 1044); LD_AT(bAdditionalEncryptionFlags, 1051);
LD_AT(bManagedSEDVolumeFlags, 1056);
#undef LD_AT

#define BP_AT(field, offset) static_assert(offsetof(SENSE_BUS_PARAMETERS, field) == (offset))
BP_AT(bInquiryValid, 36); BP_AT(bPhysicalBox, 105); BP_AT(alarmData, 107); BP_AT(wConnectionFlags, 128);
BP_AT(pbBigInstalledDriveMap, 216); BP_AT(bBayCount, 266); BP_AT(bExpanderCount, 267);
BP_AT(sChassisSerialNumber, 268); BP_AT(bSEPCount, 324); BP_AT(bSEPDeviceTypes, 325); BP_AT(wSEPDeviceNumbers, 341);
BP_AT(wExpanderDeviceNumbers, 373); BP_AT(wOffsetToExtendedInstalledDriveMap, 405); BP_AT(dwTotalStructureLength, 412);
BP_AT(wMaximumPhysicalDevicesSupported, 418); BP_AT(bRedundantPathPresentMap, 423); BP_AT(bRedundantPathFailureMap, 424);
BP_AT(bActivePathNumber, 425); BP_AT(sMultiPathPort, 426); BP_AT(bMultiPathBox, 442); BP_AT(dwFixedStructureLength, 482);
BP_AT(sLongConnectorName, 1210); BP_AT(bActivePathMap, 1274); BP_AT(bConnectorMap, 1275); BP_AT(ubmBackplaneInfo, 1276);
#undef BP_AT

static_assert(offsetof(LOGICAL_DRIVE_CONFIG, signature) == 0);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wAssignedDrives) == 10);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wFaultToleranceMode) == 12);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, qwBigBlocksInLogicalDrive) == 16);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bMoreUnitFlags) == 26);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, bConfigurationFlags) == 57);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, dwBlocksPerDrive) == 78);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, qwExtendedBlocksPerDrive) == 242);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wOffsetToExtendedSpareAssignmentMap) == 252);
static_assert(offsetof(LOGICAL_DRIVE_CONFIG, wMaximumPhysicalDevicesSupported) == 260);
static_assert(offsetof(LU_CACHE_STATS, qwReadCacheHits) == 8);
static_assert(offsetof(LU_CACHE_STATS, qwWriteCacheMissesSkip) == 64);
static_assert(offsetof(LU_CACHE_STATS, qwReadCacheMissesTotal) == 76);
static_assert(offsetof(LU_CACHE_STATS, qwWriteCacheMissesLocked) == 100);

#endif
