/* What the controller supports: feature pages and capability predicates. */
#ifndef PTELM_FEATURES_H
#define PTELM_FEATURES_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* LU cache capability word of VK_ControllerSupportsLUCache. */
#define kControllerSupportsLUCacheSupported 0x0001
#define kControllerSupportsWriteThru 0x0004
#define kControllerSupportsWriteBack 0x0008
#define kControllerLUCacheLineSizeSupportMask 0x0700
#define kControllerLUCacheLineSizeSupportBitshift 8
#define kControllerLUCacheLineSize64KB 0x01
#define kControllerLUCacheLineSize128KB 0x02
#define kControllerLUCacheLineSize256KB 0x04
#define LU_CACHE_SUPPORTED_LINE_SIZES(w)                                                                     \
    ((VK_BYTE)(((w)&kControllerLUCacheLineSizeSupportMask) >> kControllerLUCacheLineSizeSupportBitshift))

/* VK_ControllerSupportsOnlineFirmwareActivation. */
#define kControllerOnlineFirmwareActivationSupported 0x1
#define kControllerOnlineFirmwareActivationEnabled 0x2

/* VK_ControllerSupportsSEDEncryption. */
#define kControllerSEDEncryptionSupported 0x1
#define kControllerSEDEncryptionLocalModeSupported 0x2
#define kControllerSEDEncryptionRemoteModeSupported 0x4

/* VK_GetControllerConnectorDiscoveryConfigurationSupport. */
#define kControllerGetActiveConnectorDiscoveryConfigurationSupported 0x01
#define kControllerGetPendingConnectorDiscoveryConfigurationSupported 0x02
#define kControllerChangeConnectorDiscoveryConfigurationSupported 0x04
#define kControllerGetDefaultConnectorDiscoveryConfigurationSupported 0x08

/* VK_ControllerSupportsSanitizeLock. */
#define kSanitizeLockFreezeSupported 0x01
#define kSanitizeLockAntiFreezeSupported 0x02

/* VK_ControllerSupportsAdditionalRAIDInfo. */
#define kControllerSupports4knRAID 0x1
#define kControllerSupportsNVMeRAID 0x2

/* RAID level codes. */
#define kRAID0 0x01
#define kRAID1 0x02
#define kRAID10 0x03
#define kRAID5 0x04
#define kRAID50 0x05
#define kRAID6 0x06
#define kRAID60 0x07
#define kRAID1Triple 0x08
#define kRAID10Triple 0x09

/* PHY-rate word of VK_ControllerSupportsPhyRates. */
#define kDefaultPhyRateMask 0x00FF
#define kSupportedMaxPhyRateMask 0xFF00
#define kSupportedMaxPhyRateShift 8
#define kSupportedMaxPhyRate6G 0x04
#define kSupportedMaxPhyRate12G 0x08
#define kSupportedMaxPhyRate24G 0x10
#define DEFAULT_PHY_RATE(w) ((VK_BYTE)((w)&kDefaultPhyRateMask))
#define SUPPORTED_MAX_PHY_RATES(w) ((VK_BYTE)(((w)&kSupportedMaxPhyRateMask) >> kSupportedMaxPhyRateShift))

/* Transformation word of VK_ControllerSupportsTransformations: the controller's own bits and two
 * that the library adds. */
#define kControllerSupportsArrayExpansion 0x00000001
#define kControllerSupportsStripeMigration 0x00000002
#define kControllerSupportsRAIDMigration 0x00000004
#define kControllerSupportsLogicalDriveExtension 0x00000008
#define kControllerSupportsPowerlessTransformations 0x00000020
#define kControllerSupportsArrayDriveSwap 0x40000000
#define kControllerSupportsLogicalDriveMove 0x80000000

/* Key-cache support word of VK_ControllerEncryptionKeyCacheSupport. */
#define kControllerEncryptionKeyCacheSupportMinRetryAttemptsMask 0x000000000000FFFFULL
#define kControllerEncryptionKeyCacheSupportMaxRetryAttemptsMask 0x00000000FFFF0000ULL
#define kControllerEncryptionKeyCacheSupportMinRetryIntervalMask 0x0000FFFF00000000ULL
#define kControllerEncryptionKeyCacheSupportMaxRetryIntervalMask 0xFFFF000000000000ULL
#define kControllerEncryptionKeyCacheSupportMinRetryAttemptsBitShift 0
#define kControllerEncryptionKeyCacheSupportMaxRetryAttemptsBitShift 16
#define kControllerEncryptionKeyCacheSupportMinRetryIntervalBitShift 32
#define kControllerEncryptionKeyCacheSupportMaxRetryIntervalBitShift 48
#define ENCRYPTION_KEY_CACHE_SUPPORT_MIN_ATTEMPTS(w)                                                           \
    ((VK_WORD)(((w)&kControllerEncryptionKeyCacheSupportMinRetryAttemptsMask) >>                             \
               kControllerEncryptionKeyCacheSupportMinRetryAttemptsBitShift))
#define ENCRYPTION_KEY_CACHE_SUPPORT_MAX_ATTEMPTS(w)                                                           \
    ((VK_WORD)(((w)&kControllerEncryptionKeyCacheSupportMaxRetryAttemptsMask) >>                             \
               kControllerEncryptionKeyCacheSupportMaxRetryAttemptsBitShift))
#define ENCRYPTION_KEY_CACHE_SUPPORT_MIN_INTERVAL(w)                                                           \
    ((VK_WORD)(((w)&kControllerEncryptionKeyCacheSupportMinRetryIntervalMask) >>                             \
               kControllerEncryptionKeyCacheSupportMinRetryIntervalBitShift))
#define ENCRYPTION_KEY_CACHE_SUPPORT_MAX_INTERVAL(w)                                                           \
    ((VK_WORD)(((w)&kControllerEncryptionKeyCacheSupportMaxRetryIntervalMask) >>                             \
               kControllerEncryptionKeyCacheSupportMaxRetryIntervalBitShift))
#define ENCRYPTION_KEY_CACHE_MAX_ATTEMPTS_SUPPORTED(w) (ENCRYPTION_KEY_CACHE_SUPPORT_MAX_ATTEMPTS(w) > 0)
#define ENCRYPTION_KEY_CACHE_INTERVAL_SUPPORTED(w) (ENCRYPTION_KEY_CACHE_SUPPORT_MAX_INTERVAL(w) > 0)

/* Enabled-feature word of VK_GetControllerEncryptionEnabledFeatures: bit n is bit n % 8 of feature
 * byte n / 8. */
#define kEncryptionFeatureUserRoles 0x0000000000000001ULL
#define kEncryptionFeaturePasswordRecovery 0x0000000000000002ULL
#define kEncryptionFeatureSetUserPassword 0x0000000000000004ULL
#define kEncryptionFeatureFirmwareLock 0x0000000000000008ULL
#define kEncryptionFeatureDisableEncryption 0x0000000000000010ULL
#define kEncryptionFeatureAllowPlaintextVolumes 0x0000000000000020ULL
#define kEncryptionFeatureRemoteKeyManager 0x0000000000000040ULL
#define kEncryptionFeatureLocalKeyManager 0x0000000000000080ULL
#define kEncryptionFeatureExpressLocalEncryption 0x0000000000000100ULL
#define kEncryptionFeatureConvertToEncrypted 0x0000000000000200ULL
#define kEncryptionFeatureEncodeVolume 0x0000000000000400ULL
#define kEncryptionFeatureDriveRekey 0x0000000000000800ULL
#define kEncryptionFeatureDataRekey 0x0000000000001000ULL
#define kEncryptionFeatureMasterKeyRekey 0x0000000000002000ULL
#define kEncryptionFeatureVolatileKeys 0x0000000000004000ULL
#define kEncryptionFeatureKeyCache 0x0000000000008000ULL
#define kEncryptionFeatureBootPassword 0x0000000000010000ULL
#define kEncryptionFeatureBootTimeRemoteAuth 0x0000000000020000ULL
#define kEncryptionFeatureCryptoErase 0x0000000000040000ULL
#define kEncryptionFeatureImportForeignKeys 0x0000000000080000ULL
#define kEncryptionFeaturePauseResumeBootPassword 0x0000000000100000ULL
#define kEncryptionFeatureKeyManagerConversion 0x0000000000200000ULL
#define kEncryptionFeatureClearEncryption 0x0000000000400000ULL
#define kEncryptionFeatureConvertToPlaintext 0x0000000000800000ULL
#define IS_PARITY_RAID(raid_level)                                                                           \
    ((raid_level) == kRAID5 || (raid_level) == kRAID50 || (raid_level) == kRAID6 || (raid_level) == kRAID60)

/* Drive-count word of VK_GetMinMaxPDForRAIDLevel: minimum in the high byte, maximum in the low byte. */
#define kRAIDMinDriveMask 0xFF00
#define kRAIDMinDriveShift 8
#define kRAIDMaxDriveMask 0x00FF
#define RAID_MIN_PD_NUMBER(w) ((VK_BYTE)(((w)&kRAIDMinDriveMask) >> kRAIDMinDriveShift))
#define RAID_MAX_PD_NUMBER(w) ((VK_BYTE)((w)&kRAIDMaxDriveMask))

/* Drive interface types of VK_ControllerSupportsPDInterface. */
#define kPhysicalDriveInterfaceSAS3G 0x01
#define kPhysicalDriveInterfaceSATA1_5G 0x02
#define kPhysicalDriveInterfaceSATA3G 0x03
#define kPhysicalDriveInterfaceSAS6G 0x04
#define kPhysicalDriveInterfaceSAS12G 0x05
#define kPhysicalDriveInterfaceSATA6G 0x06
#define kPhysicalDriveInterfaceMixSAS 0x11
#define kPhysicalDriveInterfaceMixSATA 0x12
#define kPhysicalDriveMixEnclosure 0x13
#define kPhysicalDriveMixSAS_SATA 0x14
#define kPhysicalDriveMixSSD_SAS_SATA 0x15
#define kPhysicalDriveMixSSD_HDD 0x16

/* Bus types of VK_ControllerSupportsPCIBusType. */
#define kPCIe 1
#define kPCIX 2

/* Selectors of VK_GetControllerStripSizeSupport; every answer is in bytes. */
#define kControllerStripSizeMaxFullStripeSizeBytes 0x01
#define kControllerStripSizeMaxStripSizeBytes 0x02
#define kControllerStripSizeMaxRAID01StripSizeBytes 0x03
#define kControllerStripSizeMaxRAID5StripSizeBytes 0x04
#define kControllerStripSizeMaxRAID6StripSizeBytes 0x05
#define kControllerStripSizeMinStripSizeBytes 0x06
#define kControllerStripSizeMinNonParityStripSizeBytes 0x07
#define kControllerStripSizeMinParityStripSizeBytes 0x08
#define kControllerStripSizeMaxNVMeStripSizeBytes 0x09
#define kControllerStripSizeLUCacheMaxFullStripeSizeBytes 0x0A
#define kControllerStripSizeLUCacheMaxStripSizeBytes 0x0B
#define kControllerStripSizeLUCacheMinFullStripeSizeBytes 0x0C
#define kControllerStripSizeLUCacheMinStripSizeBytes 0x0D

PN_EXTERN_C_BEGIN

/* Feature pages: whether the controller offers them, and the loader of the parsed pages. */
VK_API VK_BOOL VK_ControllerFeaturePagesSupported(PCDA cda);
VK_API VK_BOOL VK_RequestFeaturePages(PCDA cda);

VK_API VK_BOOL VK_ControllerSupportsPhysicalDriveErase(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsEncryption(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSenseExpansionAbility(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDefaultPowerMode(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsEncryptionFeatureBreakout(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsUEFIKMS(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsOnlineFirmwareActivation(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsSEDEncryption(PCDA cda);
VK_API VK_BYTE VK_GetControllerConnectorDiscoveryConfigurationSupport(PCDA cda);
VK_API VK_BYTE _VK_GetControllerOEMID(PCDA cda);
VK_API VK_WORD VK_ControllerSupportsLUCache(PCDA cda);
/* Power-mode capability bits: 0x1 minimum power, 0x2 balanced, 0x4 maximum performance. */
VK_API VK_DWORD VK_ControllerSupportsPowerModes(PCDA cda);

/* Feature page, or the older IDENTIFY flags on controllers without pages. */
VK_API VK_BOOL VK_ControllerSupportsOPO(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsParityRAID(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsNWayRAID(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsRapidRebuild(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsRapidInitialization(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPhysicalDriveSanitize(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsLongConnectorNames(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsLongBoxConnectorName(PCDA cda);
VK_API VK_BOOL VK_ControllerSupports2TBDrives(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsNBWC(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsCarrierAuthentication(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsIOBypass(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsFLS(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSurvivalPowerMode(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsClearConfigurationBMIC(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsAutoReplaceSpares(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPredictiveSpareRebuild(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSplitMirrorBackup(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsResyncAndRollback(PCDA cda);
VK_API VK_BOOL VK_ControllerIsSoftwareRAID(PCDA cda);
VK_API VK_BOOL _VK_ControllerSupportsExtendedDriveMap(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsAdvancedCapacityExpansion(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPersistentKeyCache(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsKeyManagerConversion(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsCacheOperations(PCDA cda);

/* Feature page only: not supported (0) without pages. */
VK_API VK_BOOL VK_ControllerSupportsBootConnectors(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsBackupPowerSourceInfo(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsGreenBackupInfo(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsIOAccelAdvancedWrites(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsExpanderMinimumScanDuration(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsWCBT(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDriveWriteCacheForAllDrives(PCDA cda);
VK_API VK_BOOL _VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsFamilyID(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsMissingDrives(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsNotifyOnAnyBroadcast(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPCIeRelaxedOrdering(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsConfigurableLUCacheLineSize(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsNVMe(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPreviousCacheRatioSettings(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsOFASoftReset(PCDA cda);
/* 0 or 1. */
VK_API VK_DWORD VK_ControllerSupportsSED(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSEDSecurityRefresh(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsRebootReasons(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDebugToken(PCDA cda);
VK_API VK_BOOL _VK_ControllerSupportsFullLengthDeviceModel(PCDA cda);
VK_API VK_BOOL _VK_ControllerSupportsOEMExtendedDriveData(PCDA cda);
VK_API VK_BOOL VK_ControllerFlashOnce(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPersistentEventLog(PCDA cda);
VK_API VK_BOOL _VK_ControllerSupportsUBMProgrammingCapability(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsReenablePhysicaldrive(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSettingPersistentEventLogPolicy(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsConnectorActivePhyMap(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsInconsistencyEventNotification(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsHardwareMinorRevision(PCDA cda);
VK_API VK_BOOL __VK_ControllerSupportsMPSAndMRRS(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSurfaceAnalysisInfo(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsUEFIDriverHealthReporting(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsAdditionalRAIDInfo(PCDA cda);

/* Other cached controller buffers. */
VK_API VK_BOOL VK_ControllerSupportsWaitForCacheRoom(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDriveWriteCache(PCDA cda);
VK_API VK_BYTE VK_ControllerSupportsMaxPSSCount(PCDA cda);
VK_API VK_BYTE VK_ControllerSupportsSanitizeLock(PCDA cda);
/* Out-of-band subcommand bitmap. */
VK_API VK_BYTE VK_ControllerSupportsOOBCommands(PCDA cda);

/* Derived from the predicates above. */
VK_API VK_BOOL VK_ControllerSupportsQueueDepth(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDPO(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPSS(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsHealArray(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsMaxReadRequestSize(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsMaxPayloadSize(PCDA cda);
/* kTrue only for kPCIe on a controller that reports its PCIe generation. */
VK_API VK_BOOL VK_ControllerSupportsPCIBusType(PCDA cda, VK_BYTE bus_type);
VK_API VK_WORD VK_ControllerSupportsMaxArrayCount(PCDA cda);

/* Drive counts and limits; 0 when the controller cannot be read. The drive-count word does not say
 * whether the level itself is supported. */
VK_API VK_WORD VK_GetMinMaxPDForRAIDLevel(PCDA cda, VK_BYTE raid_level);
VK_API VK_WORD VK_ControllerSupportsMaxLogicalDriveCount(PCDA cda);
VK_API VK_WORD VK_ControllerSupportsMaxPhysicalDriveCount(PCDA cda);
VK_API VK_WORD VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPDInterface(PCDA cda, VK_BYTE interface_type);

/* Strip and stripe limits in bytes; 0 for an unknown selector. */
VK_API VK_DWORD VK_GetControllerStripSizeSupport(PCDA cda, VK_BYTE size_type);
VK_API VK_DWORD _VK_GetControllerMaxStripSizeSupport(PCDA cda, VK_BYTE size_type);
VK_API VK_DWORD _VK_GetControllerMinStripSizeSupport(PCDA cda, VK_BYTE size_type);
VK_API VK_DWORD _VK_GetControllerMaxNVMeStripSize(PCDA cda);
VK_API VK_DWORD _VK_GetControllerLUCacheStripSizeSupport(PCDA cda, VK_BYTE size_type);

/* Capability words. */
VK_API VK_DWORD VK_GetControllerSupportFlags(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsLUCacheRAIDPolicy(PCDA cda, VK_BYTE raid_level, VK_BYTE write_policy);
VK_API VK_WORD VK_ControllerSupportsPhyRates(PCDA cda);
VK_API VK_BOOL __VK_PowerModeSupported(PCDA cda, VK_WORD power_mode);
VK_API VK_BOOL VK_ControllerSupportsPowerModeNone(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPowerModeMin(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPowerModeBalanced(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsPowerModeMax(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsTransformations(PCDA cda);
/* Bytes of memory for transformations. */
VK_API VK_QWORD VK_GetControllerTransformationMemorySize(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsRequeryCommand(PCDA cda);

/* Encryption capabilities. */
VK_API VK_BOOL VK_ControllerSupportsEncryptionKeyCache(PCDA cda);
VK_API VK_QWORD VK_ControllerEncryptionKeyCacheSupport(PCDA cda);
VK_API VK_QWORD VK_GetControllerEncryptionEnabledFeatures(PCDA cda);

/* Operating modes and RAID levels. A controller in HBA mode, or switching to it, supports no RAID
 * level. */
VK_API VK_BOOL VK_ControllerSupportsVeskHBAMode(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsMixedMode(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsIRP(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsRAIDLevel(PCDA cda, VK_BYTE raid_level);
/* Spares per logical drive; 0 unless the controller runs in RAID or mixed mode. */
VK_API VK_WORD VK_ControllerSupportsMaxSpareDriveCount(PCDA cda);

PN_EXTERN_C_END

/* ---- Drive-level capabilities --------------------------------------------------------------- */

/* VK_PhysicalDriveSupportsErasePattern. */
#define kErasePattern1Pass 0x0001
#define kErasePattern2Pass 0x0002
#define kErasePattern3Pass 0x0004
#define kErasePatternOverwriteRestricted 0x0008
#define kErasePatternOverwriteUnrestricted 0x0010
#define kErasePatternBlockEraseRestricted 0x0020
#define kErasePatternBlockEraseUnrestricted 0x0040
#define kErasePatternCryptoScrambleRestricted 0x0080
#define kErasePatternCryptoScrambleUnrestricted 0x0100
#define kErasePatternSanitizeUnknown 0x8000

PN_EXTERN_C_BEGIN

VK_API VK_WORD VK_PhysicalDriveSupportsErasePattern(PCDA cda, VK_WORD pd_number);
/* kSanitizeLockFreezeSupported and kSanitizeLockAntiFreezeSupported of a SATA drive. */
VK_API VK_BYTE VK_PhysicalDriveSupportsSanitizeLock(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL _VK_PhysicalDriveSupportsWearGauge(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_PhysicalDriveSupportsOEMExtendedDriveData(PCDA cda, VK_WORD pd_number);
/* Whether any connector supports the connector mode (kConnectorModeRAID, HBA or mixed). */
VK_API VK_BOOL _VK_AnyConnectorSupportsOperatingMode(PCDA cda, VK_WORD connector_mode);

PN_EXTERN_C_END

#endif
