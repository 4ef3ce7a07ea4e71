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

PN_EXTERN_C_END

#endif
