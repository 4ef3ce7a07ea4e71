// Private layouts of the controller model: the controller data area with its validity words, the
// record tables, the parsed feature pages and the staged configuration.
#ifndef TELM_PRIVATE_H
#define TELM_PRIVATE_H

#include <cstddef>
#include <cstring>

#include "ppavl_commands.h"
#include "ppavl_export.h"
#include "ppavl_synchronization.h"
#include "ppavl_types.h"
#include "ptelm.h"
#include "ptelm_flash.h"
#include "telm_bmic.h"
#include "telm_private_utils.h"

// Limits of the record tables.
inline constexpr VK_WORD kMaxPhysicalDrivesSupported = 384;
inline constexpr VK_WORD kMaxLogicalDrivesSupported = 64;
inline constexpr VK_WORD kMaxArraysSupported = 64;
inline constexpr VK_WORD kMaxStorageEnclosuresSupported = 16;
inline constexpr VK_WORD kMaxRemoteVolumesSupported = 8208;
// A REPORT LOGICAL LUNS list longer than this is refused: 64 local and 512 x 16 remote volumes.
inline constexpr VK_DWORD kMaxReportLogicalLunsEntries = 64 + ((513 - 1) * 16);

inline constexpr VK_DWORD kCDASignature = 0xBAAAF000;

// Validity word 0 (flags[0]): one bit per cached controller-level buffer.
inline constexpr VK_DWORD kCDAValidIdentifyController = 0x1;
inline constexpr VK_DWORD kCDAValidControllerParameters = 0x2;
inline constexpr VK_DWORD kCDAValidSubsystemParameters = 0x4;
inline constexpr VK_DWORD kCDAValidCacheConfigStatus = 0x8;
inline constexpr VK_DWORD kCDAValidEncryptionRecoveryQuestion = 0x20;
inline constexpr VK_DWORD kCDAValidEncryptionBootPasswordStatus = 0x40;
inline constexpr VK_DWORD kCDAValidEncryptionKeyManagerStatus = 0x80;
inline constexpr VK_DWORD kCDAValidEncryptionRoleAttributes = 0x100;
inline constexpr VK_DWORD kCDAValidEncryptionServerName = 0x200;
inline constexpr VK_DWORD kCDAValidEncryptionIKekStatus = 0x400;
inline constexpr VK_DWORD kCDAValidEncryptionKekCacheAttributes = 0x800;
inline constexpr VK_DWORD kCDAValidEncryptionBootStatus = 0x1000;
inline constexpr VK_DWORD kCDAValidEncryptionFeatures = 0x2000;
inline constexpr VK_DWORD kCDAValidLUCacheRAMInfo = 0x4000;
inline constexpr VK_DWORD kCDAValidPowerMode = 0x8000;
inline constexpr VK_DWORD kCDAValidDefaultPowerMode = 0x10000;
inline constexpr VK_DWORD kCDAValidSurfaceStatus = 0x20000;
inline constexpr VK_DWORD kCDAValidEraseStatus = 0x40000;
inline constexpr VK_DWORD kCDAValidMNPStatus = 0x80000;
inline constexpr VK_DWORD kCDAValidEnclosures = 0x100000;
inline constexpr VK_DWORD kCDAValidDefaultDiscoveryConfiguration = 0x200000;
inline constexpr VK_DWORD kCDAValidFeaturePages = 0x400000;
inline constexpr VK_DWORD kCDAValidExpansionAbility = 0x800000;
inline constexpr VK_DWORD kCDAValidRemoteVolumes = 0x1000000;
inline constexpr VK_DWORD kCDAValidManufacturingData = 0x2000000;
inline constexpr VK_DWORD kCDAValidOFAStatus = 0x4000000;
inline constexpr VK_DWORD kCDAValidOOBMessageInterface = 0x8000000;
inline constexpr VK_DWORD kCDAValidPendingDiscoveryConfiguration = 0x10000000;
inline constexpr VK_DWORD kCDAValidActiveDiscoveryConfiguration = 0x20000000;
inline constexpr VK_DWORD kCDAValidManagedSEDStatus = 0x40000000;
inline constexpr VK_DWORD kCDAValidManagedSEDMasterKeyIdentifier = 0x80000000;

// Validity word 2 (flags[2]): the derived model.
inline constexpr VK_DWORD kCDAModelArraysBuilt = 0x1;
inline constexpr VK_DWORD kCDAModelFirstUnusedLDFound = 0x2;
inline constexpr VK_DWORD kCDAModelLDDescriptors = 0x4;
inline constexpr VK_DWORD kCDAModelPDDescriptors = 0x8;

// Indexes of the validity words.
inline constexpr size_t kCDAFlagsBuffers = 0;
inline constexpr size_t kCDAFlagsModel = 2;
inline constexpr size_t kCDAFlagsCount = 8;

// Outcome of a BMIC request with sense, decoded for the caller.
typedef struct _ScsiCommandSenseData {
    VK_BYTE scsi_status; // 2 = CHECK CONDITION
    VK_WORD command_status;
    VK_INT32 low_level_status;
    VK_BYTE sense_key;
    VK_BYTE asc;
    VK_BYTE ascq;
} ScsiCommandSenseData, *PScsiCommandSenseData;

// Usage and sizes of a drive; also the editable configuration's per-drive entry.
typedef struct _PhysicalDriveConfigInformation {
    VK_BYTE config_usage_info;
    VK_WORD physical_block_size_bytes;
    VK_WORD logical_block_size_bytes;
    VK_QWORD total_size_blocks;
    VK_QWORD usable_size_blocks;
} PhysicalDriveConfigInformation;

// One LUN after the first on a multi-LUN drive.
typedef struct _PhysicalDriveLunInfo {
    VK_BYTE is_valid;
    VK_BYTE wwid[20];
    VK_QWORD total_size_blocks;
    VK_DWORD reserved_blocks;
    VK_BYTE device_unique_id[16];
} PhysicalDriveLunInfo;

#pragma pack(push, 1)

// Compact copy of IDENTIFY PHYSICAL DRIVE (BMIC 0x15): the fields the record keeps.
typedef struct _CDA_PHYSICAL_DRIVE_STATUS {
    VK_WORD wBlockSize;
    VK_DWORD dwTotalBlocks;
    VK_DWORD dwReservedBlocks;
    char sDriveSerialNumber[40];
    char sDriveFirmwareRevision[8];
    VK_BYTE bDriveStamped;
    VK_BYTE bLastFailureReason;
    VK_BYTE bDeviceFlags;
    VK_BYTE bMoreDeviceFlags;
    VK_BYTE bYetMoreDeviceFlags;
    VK_BYTE bEvenMoreDeviceFlags;
    char sPhysicalPort[2];
    VK_BYTE bPhysicalBox;
    VK_BYTE bPhysicalBay;
    VK_DWORD dwRPM;
    VK_BYTE bDeviceType;
    VK_QWORD qwBIGTotalBlockCount;
    VK_BYTE bWWID[20];
    VK_BYTE bControllerPHYMap[32];
    VK_WORD wPHYCount;
    VK_BYTE bPHYConnectedDeviceType[256];
    VK_BYTE bBoxIndex;
    VK_BYTE bQRBSupport;
    VK_WORD wExtraDeviceFlags;
    VK_BYTE bNegotiatedLogicalLinkRate[256];
    VK_BYTE bRedundantPathPresentMap;
    VK_BYTE bRedundantPathFailureMap;
    VK_BYTE bActivePathNumber;
    char sMultiPathPort[16];
    VK_BYTE bMultiPathBox[8];
    VK_BYTE bMultiLUNDeviceLUNCount;
    char sMinimumGoodFirmwareRevision[8];
    VK_BYTE bCurrentTemperature;
    VK_BYTE bTemperatureThreshold;
    VK_BYTE bMaximumTemperature;
    VK_BYTE bLogicalBlocksPerPhysicalBlock;
    VK_WORD wPowerOnHours;
    VK_WORD wPercentEnduranceUsed;
    VK_BYTE bVeskCarrierAuthentication;
    VK_BYTE bVeskCarrierApplicationVersion;
    VK_BYTE bSanitizeEraseSupport;
    VK_DWORD dwMiscDriveFlags;
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
    VK_WORD wPCIVendorID;
    VK_WORD wPCISSVendorID;
} CDA_PHYSICAL_DRIVE_STATUS;

// Compact copy of LOGICAL DRIVE STATUS (BMIC 0x12); the extended maps are kept inside it.
typedef struct _CDA_LOGICAL_DRIVE_STATUS {
    VK_BYTE bUnitStatus;
    VK_WORD wMissingDriveCount;
    VK_DWORD dwBlocksLeftToRecover;
    VK_BYTE bMediaExchanged;
    VK_BYTE bExpandFailure;
    VK_BYTE bUnitFlags;
    VK_BYTE pbBigReplacementDriveMap[16];
    VK_BYTE bBigDriveRebuilding;
    VK_QWORD qwBigBlocksLeftToRecover;
    VK_WORD wExtendedDriveRebuilding;
    VK_WORD wOffsetToExtendedDriveFailureMap;
    VK_WORD wOffsetToExtendedReplacementDriveMap;
    VK_WORD wOffsetToExtendedActiveSpareMap;
    VK_WORD wOffsetToDriveRebuildPercentage;
    VK_BYTE bEncryptionFlags;
    VK_BYTE bRedundantCablingFlags;
    VK_DWORD dwFixedStructureLength;
    VK_BYTE bAdditionalEncryptionFlags;
    VK_BYTE bManagedSEDVolumeFlags;
    VK_BYTE pbExtendedDriveFailureMap[48];
    VK_BYTE pbExtendedReplacementDriveMap[48];
    VK_BYTE pbExtendedActiveSpareMap[48];
    VK_BYTE pbDriveRebuildPercentage[384];
} CDA_LOGICAL_DRIVE_STATUS;

// Compact copy of SENSE BUS PARAMETERS (BMIC 0x65).
typedef struct _CDA_SENSE_BUS_PARAMETERS {
    BOX_INQUIRY_DATA boxInquiryData;
    VK_BYTE bInquiryValid;
    VK_BYTE bPhysicalBox;
    ALARM_STRUCTURE alarmData;
    VK_WORD wConnectionFlags;
    VK_BYTE pbBigInstalledDriveMap[16];
    VK_BYTE bBayCount;
    VK_BYTE bExpanderCount;
    char sChassisSerialNumber[40];
    VK_BYTE bSEPCount;
    VK_BYTE bSEPDeviceTypes[16];
    VK_WORD wSEPDeviceNumbers[16];
    VK_WORD wExpanderDeviceNumbers[16];
    VK_WORD wOffsetToExtendedInstalledDriveMap;
    VK_WORD wMaximumPhysicalDevicesSupported;
    VK_BYTE bRedundantPathPresentMap;
    VK_BYTE bRedundantPathFailureMap;
    VK_BYTE bActivePathNumber;
    char sMultiPathPort[16];
    VK_BYTE bMultiPathBox[8];
    char sLongConnectorName[64];
    VK_BYTE bActivePathMap;
    VK_BYTE bConnectorMap;
    UBM_BACKPLANE_INFO ubmBackplaneInfo;
    VK_BYTE pbExtendedInstalledDriveMap[48];
} CDA_SENSE_BUS_PARAMETERS;

// Feature-page slots: each keeps the page as received, header first, cut to the slot size.

typedef struct _SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
} SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
    VK_BYTE bReserved;
    VK_BYTE bLUCacheVersion;
    VK_DWORD dwMaxStripSize;
    VK_DWORD dwMinStripSize;
    VK_DWORD dwMaxStripeSize;
    VK_DWORD dwMinStripeSize;
    VK_BYTE bSupportedCacheLineSizes;
} SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE;

typedef struct _SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_3 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
} SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_3;

typedef struct _SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
    VK_BYTE bFlags2;
    VK_BYTE bFlagsForSpares;
    VK_BYTE bReserved;
    VK_DWORD dwRAIDLevelSupportBitmap;
} SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_3_BACKUP_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
} SENSE_FEATURE_PAGE_3_BACKUP_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
    VK_BYTE bMonitoringFlags;
    VK_BYTE bReserved;
    VK_BYTE bFlags2;
} SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_2_ERASE {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bWriteEraseSupport;
    VK_BYTE bSanitizeEraseSupport;
    VK_BYTE bSanitizeLockSupport;
} SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_2_ERASE;

typedef struct _SENSE_FEATURE_PAGE_5_CONNECTIVITY_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
    VK_BYTE bFlags2;
    VK_BYTE bHighRateDefault;
    VK_BYTE bHighRateBitmap;
} SENSE_FEATURE_PAGE_5_CONNECTIVITY_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_6_DRIVE_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
    VK_BYTE bFlags2;
    VK_BYTE bFlags3;
} SENSE_FEATURE_PAGE_6_DRIVE_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_7_ENCRYPTION_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
} SENSE_FEATURE_PAGE_7_ENCRYPTION_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
} SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_2 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFWAIOReadSupport;
    VK_BYTE bDriverAIOReadSupport;
    VK_BYTE bFWAIOWriteSupport;
    VK_BYTE bDriverAIOWriteSupport;
} SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_2;

typedef struct _SENSE_FEATURE_PAGE_9_POWER_MANAGEMENT_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bPowerModeSupportBitmap;
    VK_BYTE bSurvivalModeFlag;
    VK_BYTE bPowerModeSubCommandSupportBitmap;
} SENSE_FEATURE_PAGE_9_POWER_MANAGEMENT_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_A_SOFTWARE_RAID_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
} SENSE_FEATURE_PAGE_A_SOFTWARE_RAID_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_B_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
} SENSE_FEATURE_PAGE_B_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_C_MISC_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags1;
    VK_BYTE bFlags2;
    VK_BYTE bReserved;
    VK_BYTE bFlags3;
    VK_BYTE bConfigurationUtilityKeyBind;
    VK_BYTE bCLICommandFlags1;
    VK_BYTE bDataRecoveryFlags;
    VK_BYTE bFlags4;
    VK_BYTE bFlags5;
} SENSE_FEATURE_PAGE_C_MISC_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_D_NVME_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bNVMeFlags;
    VK_BYTE bReserved;
    VK_WORD wMaxNVMeStripSize;
} SENSE_FEATURE_PAGE_D_NVME_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_2_PERFORM_DEVICE_MGMT {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bBMICOpcode;
    VK_DWORD dwDetailBitsSupported;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_2_PERFORM_DEVICE_MGMT;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_3_OOB_COMMAND {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bBMICOpcode;
    VK_BYTE bSubcommandsSupported;
    VK_BYTE bInterfacesEnabled;
    VK_RESERVED reserved[2];
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_3_OOB_COMMAND;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_4_ID_CONTROLLER {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_DWORD dwFlags1;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_4_ID_CONTROLLER;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_5_CTRL_PARAMS {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_DWORD dwFlags1;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_5_CTRL_PARAMS;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_6_OFA {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bBMICOpcode;
    VK_BYTE bOFASupport;
    VK_BYTE bOFAVersion;
    VK_BYTE bReserved;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_6_OFA;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bAllowedProtocols[16];
    VK_BYTE bSupportedSubCommands;
    VK_BYTE bFlags;
    VK_BYTE bAllowedLinkWidths;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_8_MANUFACTURING_DATA {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bOEMID;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_8_MANUFACTURING_DATA;

typedef struct _SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_A_SUBSYSTEM_INFO {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFlags;
} SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_A_SUBSYSTEM_INFO;

typedef struct _SENSE_FEATURE_PAGE_10_COMMAND_PLDM_FEATURES_SUPPORT_SUB_PAGE_1 {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bPLDMEnabled;
    VK_QWORD qwFlags;
} SENSE_FEATURE_PAGE_10_COMMAND_PLDM_FEATURES_SUPPORT_SUB_PAGE_1;

typedef struct _SENSE_FEATURE_PAGE_11_COMMAND_SUB_PAGE_1_MANAGED_SED {
    SENSE_FEATURE_PAGE_HEADER PageHeader;
    VK_BYTE bFeatureFlags;
} SENSE_FEATURE_PAGE_11_COMMAND_SUB_PAGE_1_MANAGED_SED;

// The parsed feature pages: one slot per known page and subpage; a page that did not arrive is zero.
typedef struct _SENSE_FEATURE_PAGES {
    SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_1 page_cache;
    SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE page_lu_cache;
    SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_3 page_cache_ratio;
    SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1 page_raid;
    SENSE_FEATURE_PAGE_3_BACKUP_SUB_PAGE_1 page_backup;
    SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_1 page_background;
    SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_2_ERASE page_background_erase;
    SENSE_FEATURE_PAGE_5_CONNECTIVITY_SUB_PAGE_1 page_connectivity;
    SENSE_FEATURE_PAGE_6_DRIVE_SUB_PAGE_1 page_drive;
    SENSE_FEATURE_PAGE_7_ENCRYPTION_SUB_PAGE_1 page_encryption;
    SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_1 page_io;
    SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_2 page_aio;
    SENSE_FEATURE_PAGE_9_POWER_MANAGEMENT_SUB_PAGE_1 page_power_management;
    SENSE_FEATURE_PAGE_A_SOFTWARE_RAID_SUB_PAGE_1 page_software_raid;
    SENSE_FEATURE_PAGE_B_SUB_PAGE_1 page_b_sub_page_1;
    SENSE_FEATURE_PAGE_C_MISC_SUB_PAGE_1 page_miscellaneous;
    SENSE_FEATURE_PAGE_D_NVME_SUB_PAGE_1 page_nvme;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_2_PERFORM_DEVICE_MGMT page_perform_device_mgmt;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_3_OOB_COMMAND page_oob_command;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_4_ID_CONTROLLER page_id_controller;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_5_CTRL_PARAMS page_set_controller_params;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_6_OFA page_online_firmware_activation;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL page_backplane_discovery_protocol;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_8_MANUFACTURING_DATA page_manufacturing_data;
    SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_A_SUBSYSTEM_INFO page_subsystem_info;
    SENSE_FEATURE_PAGE_10_COMMAND_PLDM_FEATURES_SUPPORT_SUB_PAGE_1 page_pldm_features_support;
    SENSE_FEATURE_PAGE_11_COMMAND_SUB_PAGE_1_MANAGED_SED page_managed_sed;
} SENSE_FEATURE_PAGES, *PSENSE_FEATURE_PAGES;

#pragma pack(pop)

static_assert(sizeof(CDA_PHYSICAL_DRIVE_STATUS) == 1369);
static_assert(offsetof(CDA_PHYSICAL_DRIVE_STATUS, bMultiLUNDeviceLUNCount) == 678);
static_assert(sizeof(CDA_LOGICAL_DRIVE_STATUS) == 581);
static_assert(offsetof(CDA_LOGICAL_DRIVE_STATUS, pbExtendedDriveFailureMap) == 53);
static_assert(offsetof(CDA_LOGICAL_DRIVE_STATUS, pbExtendedReplacementDriveMap) == 101);
static_assert(offsetof(CDA_LOGICAL_DRIVE_STATUS, pbExtendedActiveSpareMap) == 149);
static_assert(offsetof(CDA_LOGICAL_DRIVE_STATUS, pbDriveRebuildPercentage) == 197);
static_assert(sizeof(BOX_INQUIRY_DATA) == 36);
static_assert(sizeof(ALARM_STRUCTURE) == 21);
static_assert(sizeof(UBM_BACKPLANE_INFO) == 73);
static_assert(sizeof(CDA_SENSE_BUS_PARAMETERS) == 418);
static_assert(offsetof(CDA_SENSE_BUS_PARAMETERS, pbExtendedInstalledDriveMap) == 370);

static_assert(sizeof(SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE) == 24);
static_assert(sizeof(SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_3) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1) == 12);
static_assert(sizeof(SENSE_FEATURE_PAGE_3_BACKUP_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_1) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_4_BACKGROUND_SUB_PAGE_2_ERASE) == 7);
static_assert(sizeof(SENSE_FEATURE_PAGE_5_CONNECTIVITY_SUB_PAGE_1) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_6_DRIVE_SUB_PAGE_1) == 7);
static_assert(sizeof(SENSE_FEATURE_PAGE_7_ENCRYPTION_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_8_IO_SUB_PAGE_2) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_9_POWER_MANAGEMENT_SUB_PAGE_1) == 7);
static_assert(sizeof(SENSE_FEATURE_PAGE_A_SOFTWARE_RAID_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_B_SUB_PAGE_1) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_C_MISC_SUB_PAGE_1) == 13);
static_assert(sizeof(SENSE_FEATURE_PAGE_D_NVME_SUB_PAGE_1) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_2_PERFORM_DEVICE_MGMT) == 9);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_3_OOB_COMMAND) == 9);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_4_ID_CONTROLLER) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_5_CTRL_PARAMS) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_6_OFA) == 8);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL) == 23);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_8_MANUFACTURING_DATA) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_A_SUBSYSTEM_INFO) == 5);
static_assert(sizeof(SENSE_FEATURE_PAGE_10_COMMAND_PLDM_FEATURES_SUPPORT_SUB_PAGE_1) == 13);
static_assert(sizeof(SENSE_FEATURE_PAGE_11_COMMAND_SUB_PAGE_1_MANAGED_SED) == 5);
static_assert(offsetof(SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE, bSupportedCacheLineSizes) == 23);
static_assert(offsetof(SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1, dwRAIDLevelSupportBitmap) == 8);
static_assert(offsetof(SENSE_FEATURE_PAGE_C_MISC_SUB_PAGE_1, bFlags5) == 12);
static_assert(offsetof(SENSE_FEATURE_PAGE_E_COMMAND_SUB_PAGE_7_BP_DISCOVERY_PROTOCOL,
                       bSupportedSubCommands) == 20);

// Physical-drive record bits.
inline constexpr VK_WORD kPDRecordIdentifyValid = 0x1;
inline constexpr VK_WORD kPDRecordUsageAssigned = 0x2;
inline constexpr VK_WORD kPDRecordDrive = 0x4;
inline constexpr VK_WORD kPDRecordNonDisk = 0x8;
inline constexpr VK_WORD kPDRecordPresent = 0x10;
inline constexpr VK_WORD kPDRecordBootConnector = 0x20;
inline constexpr VK_WORD kPDRecordConnectorModeMismatch = 0x40;
inline constexpr VK_WORD kPDRecordInstalled = 0x80;

// Logical-drive record bits.
inline constexpr VK_DWORD kLDRecordConfigValid = 0x1;
inline constexpr VK_DWORD kLDRecordOriginalConfigValid = 0x2;
inline constexpr VK_DWORD kLDRecordIdentifyValid = 0x4;
inline constexpr VK_DWORD kLDRecordStatusValid = 0x8;
inline constexpr VK_DWORD kLDRecordLUCacheStatsValid = 0x10;
inline constexpr VK_DWORD kLDRecordLUCacheSenseValid = 0x20;
inline constexpr VK_DWORD kLDRecordExists = 0x100;
inline constexpr VK_DWORD kLDRecordRoleData = 0x200;
inline constexpr VK_DWORD kLDRecordRoleLUCache = 0x400;
inline constexpr VK_DWORD kLDRecordRoleSplitMirrorPrimary = 0x800;
inline constexpr VK_DWORD kLDRecordRoleSplitMirrorBackup = 0x1000;
inline constexpr VK_DWORD kLDRecordRoleSplitMirrorOrphan = 0x2000;
inline constexpr VK_DWORD kLDRecordRoleMask = 0x3F00; // the exists bit and the role bits
inline constexpr VK_DWORD kLDRecordUnsupportedConfigVersion = 0x4000;
inline constexpr VK_DWORD kLDRecordLUCacheBits = 0x8000;
inline constexpr VK_DWORD kLDRecordAcceleratorMask = 0xE0000;
inline constexpr VK_DWORD kLDRecordAcceleratorNone = 0x20000;
inline constexpr VK_DWORD kLDRecordAcceleratorControllerCache = 0x40000;
inline constexpr VK_DWORD kLDRecordAcceleratorLUCache = 0x60000;
inline constexpr VK_DWORD kLDRecordAcceleratorIOBypass = 0x80000;

// Array record flags: the type in bits 0-2 (the logical-drive type numbering), then attributes.
inline constexpr VK_BYTE kArrayRecordTypeMask = 0x07;
inline constexpr VK_BYTE kArrayRecordIOBypass = 0x08;
inline constexpr VK_BYTE kArrayRecordIndependentAcceleration = 0x10;
inline constexpr VK_BYTE kArrayRecordBootConnector = 0x20;

// Extra LUNs a multi-LUN drive may have besides the first.
inline constexpr VK_BYTE kMaxPhysicalDriveLunsSupported = 4;

typedef struct _PhysicalDriveRecord {
    VK_WORD flags;
    PhysicalDriveConfigInformation pd_config_information;
    CDA_PHYSICAL_DRIVE_STATUS identify_physical_drive_buffer;
    PhysicalDriveLunInfo* additional_lun_info; // tracked heap array of the extra LUNs, or NULL
    DeviceDescriptor physical_drive_handle;    // host descriptor, or NULL
} PhysicalDriveRecord;

typedef struct _LogicalDriveRecord {
    VK_DWORD flags;
    VK_WORD array_number;
    VK_WORD block_size_bytes;
    VK_QWORD physical_drive_offset_block;
    VK_QWORD physical_drive_blocks_per_drive;
    VK_QWORD drive_size_blocks;
    LOGICAL_DRIVE_CONFIG sense_config_buffer;
    LOGICAL_DRIVE_CONFIG sense_original_config_buffer;
    IDENTIFY_LOGICAL_DRIVE identify_logical_drive_buffer;
    CDA_LOGICAL_DRIVE_STATUS sense_logical_drive_status_buffer;
    LU_CACHE_STATS lu_cache_stats_buffer;
    LU_CACHE_SENSE lu_cache_config_buffer;
    DeviceDescriptor logical_drive_handle; // host descriptor, or NULL
} LogicalDriveRecord;

inline constexpr size_t kDriveBitmapSize = 48; // bit n of byte n / 8 is physical device n

typedef struct _ArrayRecord {
    VK_BYTE flags;
    VK_WORD ld_count;
    VK_WORD logical_block_size_bytes;
    VK_DWORD alignment_size_blocks;
    VK_WORD ld_index_array[64];
    VK_QWORD ld_offset_array[64];
    VK_QWORD ld_blocks_per_drive_array[64];
    VK_BYTE data_drive_bitmap[kDriveBitmapSize];
    VK_BYTE spare_drive_bitmap[kDriveBitmapSize];
    VK_BYTE active_spare_drive_bitmap[kDriveBitmapSize];
    VK_BYTE failed_drive_bitmap[kDriveBitmapSize];
    VK_BYTE transient_drive_bitmap[kDriveBitmapSize];
    VK_WORD missing_drive_count;
} ArrayRecord;

typedef struct _StorageEnclosureRecord {
    VK_WORD flags;
    CDA_SENSE_BUS_PARAMETERS sense_bus_parameters_buffer;
} StorageEnclosureRecord;

typedef struct _RemoteVolumeRecord {
    VK_BYTE device_unique_id[16];
} RemoteVolumeRecord;

// The staged configuration of one controller.
typedef struct _EDITABLE_BOOT_VOLUME {
    VK_BYTE type; // 0 logical drive, 1 physical drive, 2 remote volume
    VK_WORD dev_number;
} EDITABLE_BOOT_VOLUME;

typedef struct _EDITABLE_ENCRYPTION_LOGIN_SESSION {
    VK_BYTE user; // 0 crypto officer, 1 user, 255 none
    char password[17];
} EDITABLE_ENCRYPTION_LOGIN_SESSION;

typedef struct _EDITABLE_ARRAY {
    VK_WORD flags;
    VK_WORD editable_array_number;
    VK_DWORD common_drive_type;
    VK_WORD common_block_size;
    VK_DWORD alignment_size_blocks;
    VK_QWORD common_drive_size_blocks;
    VK_QWORD offset_to_creatable_space;
    VK_WORD data_drive_count;
    VK_WORD spare_drive_count;
    VK_WORD logical_drive_count;
    VK_WORD data_drives[128];
    VK_WORD spare_drives[128];
    VK_WORD logical_drives[64];
    VK_BYTE common_sed_type;
} EDITABLE_ARRAY, *PEDITABLE_ARRAY;

typedef struct _EDITABLE_LOGICAL_DRIVE {
    VK_QWORD flags;
    VK_WORD ld_number;
    VK_WORD editable_array_number;
    VK_WORD lu_cache_ld_number;
    VK_BYTE lu_cache_policy;
    VK_BYTE lu_cache_algorithm;
    VK_DWORD lu_cache_line_size_blocks;
    VK_BYTE RAID_level;
    VK_BYTE num_parity_groups;
    VK_DWORD strip_size_blocks;
    VK_WORD block_size_bytes;
    VK_QWORD physical_drive_offset_block;
    VK_QWORD physical_drive_blocks_per_drive;
    VK_QWORD drive_size_blocks;
    VK_BYTE sectors_per_track;
    VK_BYTE logical_drive_accelerator;
    VK_BYTE logical_drive_initialization_method;
    char logical_drive_label[64];
} EDITABLE_LOGICAL_DRIVE, *PEDITABLE_LOGICAL_DRIVE;

typedef struct _EDITABLE_CONFIGURATION {
    VK_DWORD flags;
    VK_BYTE controller_rebuild_priority;
    VK_BYTE controller_transformation_priority;
    VK_BYTE controller_spare_activation_mode;
    VK_DWORD controller_write_cache_bypass_threshold;
    VK_BYTE controller_sanitize_lock;
    VK_BYTE controller_notify_on_any_broadcast;
    EDITABLE_BOOT_VOLUME controller_primary_boot_volume;
    EDITABLE_BOOT_VOLUME controller_secondary_boot_volume;
    VK_BYTE controller_bootable_volume_flags;
    VK_WORD controller_surface_scan_priority;
    VK_BYTE controller_parallel_surface_scan_count;
    VK_BYTE controller_performance_profile;
    VK_BYTE controller_parity_RAID_DPO;
    VK_BYTE controller_RAID6x_IRP;
    VK_BYTE inconsistency_event_notification;
    VK_BYTE controller_pd_elevator_sort;
    VK_BYTE controller_max_drive_request_queue_depth;
    VK_BYTE controller_fls_setting;
    VK_WORD controller_mnp_analysis_delay;
    VK_BYTE controller_survival_mode;
    VK_BYTE controller_nbwc;
    VK_BYTE controller_wait_for_cache_room;
    VK_BYTE controller_read_cache_percent;
    VK_BYTE controller_drive_write_cache_policy[6];
    VK_BYTE encryption;
    char encryption_password[2][17];
    char encryption_key[64];
    char encryption_question[257];
    char encryption_answer[65];
    VK_BYTE encryption_boot_password_state;
    char encryption_boot_password[33];
    VK_QWORD encryption_key_cache_state;
    VK_QWORD controller_sed_encryption_status;
    VK_WORD editable_array_count;
    VK_WORD editable_ld_count;
    VK_WORD deleted_ld_count;
    VK_WORD deleted_logical_drives[64];
    PhysicalDriveConfigInformation editable_pd_list[384];
    VK_DWORD crc; // covers everything above; the lists and the session below do not count
    PEDITABLE_ARRAY editable_array_list[64];
    PEDITABLE_LOGICAL_DRIVE editable_ld_list[64];
    EDITABLE_ENCRYPTION_LOGIN_SESSION session;
} EDITABLE_CONFIGURATION, *PEDITABLE_CONFIGURATION;

// Private flag bits of EDITABLE_CONFIGURATION.flags.
inline constexpr VK_DWORD kEditableConfigControllerParams = 0x00000001;
inline constexpr VK_DWORD kEditableConfigSurfaceScan = 0x00000002;
inline constexpr VK_DWORD kEditableConfigMNPDelay = 0x00000004;
inline constexpr VK_DWORD kEditableConfigCacheConfig = 0x00000008;
inline constexpr VK_DWORD kEditableConfigSurvivalMode = 0x00000010;
inline constexpr VK_DWORD kEditableConfigEncryptionMode = 0x20;
inline constexpr VK_DWORD kEditableConfigCryptoOfficerPassword = 0x40;
inline constexpr VK_DWORD kEditableConfigUserPassword = 0x80;
inline constexpr VK_DWORD kEditableConfigMasterKey = 0x100;
inline constexpr VK_DWORD kEditableConfigAllowPlaintext = 0x200;
inline constexpr VK_DWORD kEditableConfigLogicalDriveEncryption = 0x400;
inline constexpr VK_DWORD kEditableConfigEncryptionToggle = 0x800;
inline constexpr VK_DWORD kEditableConfigFirmwareLock = 0x1000;
inline constexpr VK_DWORD kEditableConfigRecoveryQuestion = 0x2000;
inline constexpr VK_DWORD kEditableConfigBootPassword = 0x4000;
inline constexpr VK_DWORD kEditableConfigBootPasswordState = 0x8000;
inline constexpr VK_DWORD kEditableConfigVolatileKeys = 0x10000;
inline constexpr VK_DWORD kEditableConfigKeyCache = 0x20000;
inline constexpr VK_DWORD kEditableConfigLoginRequired = 0x40000;
inline constexpr VK_DWORD kEditableConfigCryptoOfficerPasswordKnown = 0x80000;
inline constexpr VK_DWORD kEditableConfigMasterKeyKnown = 0x100000;
inline constexpr VK_DWORD kEditableConfigPlaintextAllowed = 0x200000;
inline constexpr VK_DWORD kEditableConfigEncryptionEnabled = 0x400000;
inline constexpr VK_DWORD kEditableConfigFirmwareLocked = 0x800000;

// Private flag bits of EDITABLE_ARRAY.flags.
inline constexpr VK_WORD kEditableArrNew = 0x01;
inline constexpr VK_WORD kEditableArrHasNewLD = 0x02;
inline constexpr VK_WORD kEditableArrIOBypass = 0x04;
inline constexpr VK_WORD kEditableArrSplitMirror = 0x08;
inline constexpr VK_WORD kEditableArrLUCache = 0x10;
inline constexpr VK_WORD kEditableArrBootConnector = 0x20;
inline constexpr VK_WORD kEditableArrSEDEncryption = 0x40;

// Private flag bits of EDITABLE_LOGICAL_DRIVE.flags.
inline constexpr VK_QWORD kEditableLDLocked = 0x1;
inline constexpr VK_QWORD kEditableLDNewDrive = 0x2;
inline constexpr VK_QWORD kEditableLDRAIDSet = 0x8;
inline constexpr VK_QWORD kEditableLDFromLive = 0x10;
inline constexpr VK_QWORD kEditableLDStripSizeSet = 0x20;
inline constexpr VK_QWORD kEditableLDSizeSet = 0x40;
inline constexpr VK_QWORD kEditableLDPlaced = 0x80;
inline constexpr VK_QWORD kEditableLDArraySet = 0x100;
inline constexpr VK_QWORD kEditableLDLabelUnchanged = 0x200;
inline constexpr VK_QWORD kEditableLDSparesChanged = 0x400;
inline constexpr VK_QWORD kEditableLDAcceleratorChanged = 0x800;
inline constexpr VK_QWORD kEditableLDLUCacheChanged = 0x1000;
inline constexpr VK_QWORD kEditableLDVolatileKeyChanged = 0x2000;
inline constexpr VK_QWORD kEditableLDEnableSED = 0x4000;
inline constexpr VK_QWORD kEditableLDEncrypted = 0x8000;
inline constexpr VK_QWORD kEditableLDPreserveData = 0x10000;
inline constexpr VK_QWORD kEditableLDDestructiveEncode = 0x20000;
inline constexpr VK_QWORD kEditableLDVolatileKey = 0x40000;
inline constexpr VK_QWORD kEditableLDVolatileKeyBackup = 0x80000;
inline constexpr VK_QWORD kEditableLDLUCache = 0x100000;
inline constexpr VK_QWORD kEditableLDSplitMirrorPrimary = 0x200000;
inline constexpr VK_QWORD kEditableLDSplitMirrorBackup = 0x400000;
inline constexpr VK_QWORD kEditableLDSplitMirrorOrphan = 0x800000;
inline constexpr VK_QWORD kEditableLDOffsetUp = 0x1000000;
inline constexpr VK_QWORD kEditableLDOffsetDown = 0x2000000;
inline constexpr VK_QWORD kEditableLDSizeChange = 0x4000000;
inline constexpr VK_QWORD kEditableLDArrayMove = 0x8000000;
inline constexpr VK_QWORD kEditableLDDrivesSwapped = 0x10000000;
inline constexpr VK_QWORD kEditableLDDrivesAdded = 0x20000000;
inline constexpr VK_QWORD kEditableLDDrivesRemoved = 0x40000000;
inline constexpr VK_QWORD kEditableLDGeometryChange = 0x80000000;
inline constexpr VK_QWORD kEditableLDTransformEncode = 0x100000000;
inline constexpr VK_QWORD kEditableLDExtentShrink = 0x200000000;
inline constexpr VK_QWORD kEditableLDExtentGrow = 0x400000000;
inline constexpr VK_QWORD kEditableLDTransformation = 0x1FF000000;

// The staged records' layouts: the checksum covers their memory images, padding included, so the
// layouts are fixed here.
static_assert(sizeof(PhysicalDriveConfigInformation) == 24);
static_assert(offsetof(PhysicalDriveConfigInformation, logical_block_size_bytes) == 4);
static_assert(offsetof(PhysicalDriveConfigInformation, usable_size_blocks) == 16);
static_assert(sizeof(EDITABLE_BOOT_VOLUME) == 4);
static_assert(offsetof(EDITABLE_BOOT_VOLUME, dev_number) == 2);
static_assert(sizeof(EDITABLE_ENCRYPTION_LOGIN_SESSION) == 18);
static_assert(sizeof(EDITABLE_ARRAY) == 680);
static_assert(offsetof(EDITABLE_ARRAY, common_drive_type) == 4);
static_assert(offsetof(EDITABLE_ARRAY, alignment_size_blocks) == 12);
static_assert(offsetof(EDITABLE_ARRAY, common_drive_size_blocks) == 16);
static_assert(offsetof(EDITABLE_ARRAY, offset_to_creatable_space) == 24);
static_assert(offsetof(EDITABLE_ARRAY, data_drive_count) == 32);
static_assert(offsetof(EDITABLE_ARRAY, data_drives) == 38);
static_assert(offsetof(EDITABLE_ARRAY, spare_drives) == 294);
static_assert(offsetof(EDITABLE_ARRAY, logical_drives) == 550);
static_assert(offsetof(EDITABLE_ARRAY, common_sed_type) == 678);
static_assert(sizeof(EDITABLE_LOGICAL_DRIVE) == 128);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, ld_number) == 8);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, lu_cache_line_size_blocks) == 16);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, RAID_level) == 20);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, strip_size_blocks) == 24);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, physical_drive_offset_block) == 32);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, drive_size_blocks) == 48);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, sectors_per_track) == 56);
static_assert(offsetof(EDITABLE_LOGICAL_DRIVE, logical_drive_label) == 59);
static_assert(offsetof(EDITABLE_CONFIGURATION, controller_write_cache_bypass_threshold) == 8);
static_assert(offsetof(EDITABLE_CONFIGURATION, controller_primary_boot_volume) == 14);
static_assert(offsetof(EDITABLE_CONFIGURATION, controller_drive_write_cache_policy) == 40);
static_assert(offsetof(EDITABLE_CONFIGURATION, encryption_password) == 47);
static_assert(offsetof(EDITABLE_CONFIGURATION, encryption_key_cache_state) == 504);
static_assert(offsetof(EDITABLE_CONFIGURATION, editable_pd_list) == 656);
static_assert(offsetof(EDITABLE_CONFIGURATION, crc) == 9872);
static_assert(offsetof(EDITABLE_CONFIGURATION, editable_array_list) == 9880);
static_assert(offsetof(EDITABLE_CONFIGURATION, session) == 10904);
static_assert(sizeof(EDITABLE_CONFIGURATION) == 10928);

typedef void* PEVENT_QUEUE;

// The controller data area. The caller owns the memory; the library fills it.
typedef struct _CDA {
    VK_DWORD Signature;
    DeviceDescriptor controller_handle;
    VK_BYTE controller_firmware_feature_version;
    VK_WORD data_ld_count;
    VK_WORD cache_ld_count;
    VK_WORD total_array_count;
    VK_WORD data_array_count;
    VK_WORD cache_array_count;
    VK_WORD offline_array_count;
    VK_WORD remote_volume_count;
    VK_WORD first_unused_ld_number;
    VK_BYTE read_cache_percent;
    // One past the highest record of each table written since the area was last cleared. Clearing
    // stops there: most of an area's records, and the pages under them, never hold anything.
    VK_WORD pd_records_in_use;
    VK_WORD ld_records_in_use;
    VK_WORD array_records_in_use;
    VK_WORD se_records_in_use;
    VK_DWORD flags[kCDAFlagsCount];
    IDENTIFY_CONTROLLER identify_controller_buffer;
    CONTROLLER_PARAMETERS sense_controller_parameters_buffer;
    CACHE_CONFIG_STATUS sense_cache_config_status_buffer;
    SUBSYSTEM_PARAMETERS sense_subsystem_parameters_buffer;
    MNP_STATUS sense_mnp_status_buffer;
    SENSE_EXPANSION_ABILITY sense_expansion_ability_buffer;
    ENCRYPTION_PASSWORD_RECOVERY encryption_password_recovery_buffer;
    ENCRYPTION_BOOT_PASSWORD_STATUS encryption_boot_password_status_buffer;
    ENCRYPTION_KEY_MANAGER_STATUS encryption_key_manager_status;
    ENCRYPTION_IKEK_STATUS encryption_ikek_status;
    ENCRYPTION_SERVER_NAME encryption_server_name_buffer;
    ENCRYPTION_ROLE_ATTRIBUTES encryption_role_attributes_buffer;
    ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES encryption_key_cache_attributes;
    ENCRYPTION_BOOT_STATUS encryption_boot_status_buffer;
    ENCRYPTION_FEATURES encryption_features;
    GET_POWER_MODE power_mode_buffer;
    GET_DEFAULT_POWER_MODE default_power_mode_buffer;
    SURFACE_STATUS surface_status_buffer;
    VK_BYTE manufacturing_data_buffer[kManufacturingDataSize];
    OOB_MESSAGE_INTERFACE oob_message_interface_buffer;
    LU_CACHE_RAM_INFO lu_cache_ram_info_buffer;
    ONLINE_FIRMWARE_ACTIVATION_STATUS online_firmware_activation_status_buffer;
    SENSE_FEATURE_PAGES sense_feature;
    PhysicalDriveRecord pd_record_list[kMaxPhysicalDrivesSupported];
    LogicalDriveRecord ld_record_list[kMaxLogicalDrivesSupported];
    ArrayRecord array_record_list[kMaxArraysSupported];
    StorageEnclosureRecord se_record_list[kMaxStorageEnclosuresSupported];
    RemoteVolumeRecord remote_volume_record_list[kMaxRemoteVolumesSupported];
    VK_WORD pd_erase_status_list[kMaxPhysicalDrivesSupported];
    PEDITABLE_CONFIGURATION editable_configuration;
    VK_UINT64 editable_configuration_commit_errors;
    DISCOVERY_CONFIGURATION_BUFFER connector_active_discovery_configuration_buffer;
    DISCOVERY_CONFIGURATION_BUFFER connector_pending_discovery_configuration_buffer;
    DISCOVERY_CONFIGURATION_BUFFER connector_default_discovery_configuration_buffer;
    MANAGED_SED_STATUS_BUFFER managed_sed_status_buffer;
    MANAGED_SED_MASTER_KEY_IDENTIFIER managed_sed_master_key_id_buffer;
    PMUTEX_LOCK event_lock;
    PEVENT_QUEUE event_queue;
    PMUTEX_LOCK lock;
    // How many slots each staged array of the editable configuration has moved down as arrays
    // before it were deleted: an array that exists on the controller is the live array of its slot
    // number plus this.
    VK_BYTE editable_array_slot_shift[kMaxArraysSupported];
} _CDA;

// The data area behind a handle.
inline _CDA* _VK_CDA(PCDA cda) {
    return static_cast<_CDA*>(cda);
}

// Every writer of a record table takes its records through these, so that clearing knows how far
// the table was used. `count` is one past the highest record about to be written.
inline void _VK_RecordsInUse(VK_WORD& in_use, size_t count) {
    if (count > in_use) {
        in_use = static_cast<VK_WORD>(count);
    }
}
inline PhysicalDriveRecord& _VK_PDRecordForWrite(_CDA* c, VK_WORD pd_number) {
    _VK_RecordsInUse(c->pd_records_in_use, pd_number + 1u);
    return c->pd_record_list[pd_number];
}
// Physical-drive records past the high-water mark were never written and read as zero: a walk that
// tests their flags ends there rather than touch pages that hold nothing.
inline size_t _VK_PDRecordsToScan(const _CDA* c, size_t limit) {
    return limit < c->pd_records_in_use ? limit : c->pd_records_in_use;
}
inline LogicalDriveRecord& _VK_LDRecordForWrite(_CDA* c, VK_WORD ld_number) {
    _VK_RecordsInUse(c->ld_records_in_use, ld_number + 1u);
    return c->ld_record_list[ld_number];
}

// Holds a data area's recursive lock for a scope; a NULL data area or lock is a no-op. The library's
// functions call each other under the lock, so most guards sit inside another guard of the same area
// on the same thread: those take nothing, since the outer guard holds the lock until they are gone.
class CDALock {
public:
    explicit CDALock(PCDA cda) : lock_(cda != nullptr ? _VK_CDA(cda)->lock : nullptr) {
        if (lock_ == nullptr || lock_ == held_) {
            return;
        }
        _PN_RecursiveMutexLock(lock_);
        outer_ = held_;
        held_ = lock_;
        taken_ = true;
    }
    ~CDALock() {
        if (taken_) {
            held_ = outer_;
            _PN_RecursiveMutexUnlock(lock_);
        }
    }
    CDALock(const CDALock&) = delete;
    CDALock& operator=(const CDALock&) = delete;

private:
    // The lock of this thread's innermost guard that took one.
    static inline thread_local PMUTEX_LOCK held_ = nullptr;
    PMUTEX_LOCK lock_;
    PMUTEX_LOCK outer_ = nullptr;
    bool taken_ = false;
};

// Firmware feature version: the PCI identifiers tested before the structure-length rules.
inline constexpr VK_WORD kFirmwareFeaturePCIVendorID1 = 0x1D7A;
inline constexpr VK_WORD kFirmwareFeaturePCIVendorID2 = 0x1D7B;
inline constexpr VK_WORD kFirmwareFeaturePCIDeviceID1 = 0x0A51;
inline constexpr VK_WORD kFirmwareFeaturePCIDeviceID2 = 0x0A52;
inline constexpr VK_WORD kFirmwareFeaturePCIDeviceID3 = 0x0A53;

PN_EXTERN_C_BEGIN

// Identification step shared by initialise, re-initialise and re-enumerate.
VK_WORD __VK_InitializeCDA(PCDA cda);
// Drops every cached fact; 1, or 4 for a NULL data area.
VK_WORD __VK_UnInitializeCDA(PCDA cda);
void _VK_DestroyEditableConfiguration(PEDITABLE_CONFIGURATION editable_configuration);
VK_BOOL _VK_InvalidatePDRecordIDPDBuffer(PCDA cda, VK_WORD pd_number);
void __VK_ClearPhysicalDeviceHandles(PCDA cda);
void __VK_ClearPhysicalDriveRecords(PCDA cda);
void __VK_ClearLogicalDriveHandles(PCDA cda);
void __VK_ClearLogicalDriveRecords(PCDA cda);

// The firmware feature version (1 to 8) for an identify reply; `parameters_total_length` is the
// dwTotalStructureLength of the cached controller parameters, `feature_pages` whether the controller
// offers feature pages.
VK_BYTE _VK_ChooseFirmwareFeatureVersion(const IDENTIFY_CONTROLLER* identify,
                                         VK_DWORD parameters_total_length, VK_BOOL feature_pages);

// BMIC helpers: the only way a BMIC command leaves the controller model. They take no lock.
VK_BOOL _VK_BMICHelperReadBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                 VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size);
VK_BOOL _VK_BMICHelperReadBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                   VK_WORD lun_number, VK_QWORD bmic_additional_detail, void* io_buffer,
                                   VK_DWORD io_buffer_size);
VK_BOOL _VK_BMICHelperWriteBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                  VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size);
VK_BOOL _VK_BMICHelperWriteBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                    VK_WORD lun_number, VK_QWORD bmic_additional_detail, void* io_buffer,
                                    VK_DWORD io_buffer_size);
VK_BOOL _VK_BMICHelperNoneBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                 VK_WORD lun_number, VK_DWORD timeout_sec);
VK_BOOL _VK_BMICHelperNoneBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                   VK_WORD lun_number, VK_QWORD bmic_additional_detail, VK_DWORD timeout_sec);
VK_BOOL _VK_BMICHelperReadWriteBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                      VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                      VK_DWORD timeout_sec);
VK_BOOL _VK_BMICHelperReadBufferWithSense(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                          VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                          PScsiCommandSenseData sense_data);
VK_BOOL _VK_BMICHelperWriteBufferWithSense(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                           VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                           PScsiCommandSenseData sense_data);

// Fills `sense_data` from an executed request: its statuses and, from a sense buffer of more than 13
// bytes, the key, ASC and ASCQ of fixed (0x70/0x71) or descriptor (0x72/0x73) format sense.
void __VK_DecodeBMICSenseData(PBMICRequest bmic_request, PScsiCommandSenseData sense_data);

// Uncached readers: each returns a new tracked buffer that the caller frees with VK_free, or NULL.
SURFACE_STATUS* VK_RequestCompleteSurfaceStatusBuffer(PCDA cda);
SURFACE_STATUS* __VK_RequestCompleteSurfaceStatusBufferWithSize(PCDA cda, VK_DWORD buffer_size);
ERASE_STATE* VK_GetEraseStatusBuffer(PCDA cda, VK_WORD pd_number);
VK_BYTE* VK_GetSenseSensorInfoBuffer(PCDA cda);
VK_BYTE* VK_GetSenseTemperatureSensorInfoBuffer(PCDA cda);
VK_BYTE* _VK_GetSenseSensorInfoBuffer(PCDA cda, VK_BYTE subcommand);
PMIRROR_DRIVE_PAIR_INFO VK_GetMirrorPairInfo(PCDA cda, VK_WORD ld_number);
VK_BOOL VK_RequestCBEKMSStatus(PCDA cda, MANAGED_SED_KMS_STATUS* kms_status);

// LU cache read (BMIC 0xC1, LUN 1): sub-command 0 configuration, 1 statistics, 3 RAM information.
VK_BOOL _VK_RequestLUCacheInfoBuffer(PCDA cda, VK_WORD ld_number, VK_DWORD subcommand, void* buffer,
                                     VK_DWORD buffer_size);

// ---- Drive and logical-drive records (per-record loaders and their raw readers) ----------------

// Raw readers into the caller's buffer; they zero it first and take no lock.
VK_BOOL VK_GetIdentifyPhysicalDriveBuffer(PCDA cda, VK_WORD pd_number, PHYSICAL_DRIVE_STATUS* buffer);
VK_BOOL VK_GetSenseConfigurationBuffer(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer);
VK_BOOL VK_GetSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_STATUS* buffer);
// A new tracked buffer of `buffer_size` bytes read with 0x12, or NULL; freed with VK_free.
VK_BYTE* __VK_GetSenseLogicalDriveStatusBufferWithSize(PCDA cda, VK_WORD ld_number, VK_DWORD buffer_size);
// The whole status reply (read twice when it is longer than the default), or NULL; freed with VK_free.
// Its dwTotalStructureLength never exceeds the bytes it holds.
VK_BYTE* _VK_GetCompleteSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number);
VK_BOOL __VK_GetPhysicalDriveRecordLunInfo(PCDA cda, VK_WORD pd_number, VK_BYTE lun_number,
                                           PhysicalDriveLunInfo* pd_lun_info);

// Split-mirror helpers of the array model.
VK_WORD __VK_FindSplitMirrorSibling(PCDA cda, VK_DWORD ld_signature, VK_DWORD sibling_signature);
VK_BOOL __VK_CheckSplitMirrorSiblingMatch(PCDA cda, VK_WORD left_ld_number, VK_WORD right_ld_number);
VK_BOOL __VK_DriveIsInstalled(PCDA cda, VK_WORD pd_number, VK_BOOL drive_present);

// Whether the array of `ld_record` holds an owned foreign self-encrypting drive.
VK_BOOL __VK_IsLogicalDriveArraySEDForeign(PCDA cda, LogicalDriveRecord* ld_record);

PN_EXTERN_C_END

// The recovery question that marks express-local encryption: 255 printable characters and a NUL.
extern const char kControllerEncryptionExpressModeQuestion[256];

PN_EXTERN_C_BEGIN

// Hide a logical drive from the host's BIOS, or show it again; the host is asked to rescan either way.
VK_BOOL _VK_HideLogicalDrive(PCDA cda, VK_WORD ld_number);
VK_BOOL _VK_UnhideLogicalDrive(PCDA cda, VK_WORD ld_number);

// Firmware flash and online activation: the collect-buffer steps and the activation state.
VK_BOOL _VK_FlashControllerFirmwareFreeCollectBuffer(PCDA cda);
VK_BOOL _VK_FlashControllerFirmwareCollectBuffer(PCDA cda, VK_WORD current_chunk, VK_WORD total_chunks,
                                                 const VK_BYTE* chunk, VK_WORD chunk_size);
VK_BOOL _VK_FlashControllerFirmwareActivate(PCDA cda, VK_BOOL free_collect_buffer);
VK_BOOL __VK_SendControllerFirmwareImageToCollectBuffer(PCDA cda, const VK_BYTE* image, VK_DWORD image_size,
                                                        FlashProgressCallback callback);
VK_BOOL _VK_ValidateFirmwareImage(PCDA cda);
VK_BOOL _VK_IsControllerOnlineFirmwareActivationRunning(PCDA cda, VK_BOOL force);
VK_BOOL _VK_HasControllerOnlineFirmwareActivationStarted(PCDA cda, VK_BOOL force);
// Fills `ofa_status` from a status reply (function 3).
void __VK_DecodeOnlineFirmwareActivationStatus(const ONLINE_FIRMWARE_ACTIVATION_STATUS* reply,
                                               PVK_CONTROLLER_OFA_STATUS ofa_status);
VK_QWORD __VK_DecodeOnlineFirmwareActivationValidate(const ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response);
VK_QWORD __VK_DecodeOnlineFirmwareActivationValidateForOFAKSR(const ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response);
VK_BOOL _VK_OnlineFirmwareActivationValidate(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response);
VK_BOOL __VK_OnlineFirmwareActivationInitiate(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* buffer,
                                              VK_WORD delay_minutes);
VK_BOOL __VK_OnlineFirmwareActivationAbort(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* buffer);
VK_BOOL __VK_SendControllerI2CNVRAMPassthroughRead(PCDA cda, VK_BYTE data_id, VK_BYTE* buffer, VK_DWORD length);
VK_BOOL __VK_SendControllerI2CNVRAMPassthroughWrite(PCDA cda, VK_BYTE data_id, const VK_BYTE* buffer,
                                                    VK_DWORD length);

// Walks a feature-page reply (`reply_size` bytes received, starting header included) into `pages`,
// which it zeroes first.
void _VK_ParseFeaturePages(const VK_BYTE* reply, VK_DWORD reply_size, PSENSE_FEATURE_PAGES pages);

PN_EXTERN_C_END

// ---- Logical drives and arrays: the RAID-group enumerator's layout ----------------------------------

typedef struct _RAID_GROUP {
    VK_DWORD number_of_drives;
    VK_WORD* pd_numbers; // tracked, number_of_drives entries; NULL until the group's first drive
} RAID_GROUP;

typedef struct _RAID_GROUP_INFO {
    RAID_GROUP* raid_groups; // tracked, number_of_raid_groups entries
    VK_DWORD number_of_raid_groups;
    VK_BYTE raid_level;
} RAID_GROUP_INFO;

static_assert(offsetof(RAID_GROUP, number_of_drives) == 0);
static_assert(offsetof(RAID_GROUP, pd_numbers) == sizeof(void*));
static_assert(offsetof(RAID_GROUP_INFO, raid_groups) == 0);
static_assert(offsetof(RAID_GROUP_INFO, number_of_raid_groups) == sizeof(void*));
static_assert(offsetof(RAID_GROUP_INFO, raid_level) == sizeof(void*) + 4);

namespace telmar {

// The size the string forms of the credential functions pass on: the length with its NUL, 0 for NULL.
inline size_t StringSize(const char* text) {
    return text != nullptr ? std::strlen(text) + 1 : 0;
}

} // namespace telmar

#endif
