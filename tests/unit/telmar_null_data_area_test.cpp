// The controller, capability and drive getters with a NULL data area: each answers the value it gives
// when the controller cannot be read, writes no more of the caller's memory than clearing its text
// buffer or out-parameter, and logs nothing. Every other argument is valid, so any difference comes from
// the missing data area alone.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_prop_decode.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_WORD kPD = 3;
constexpr VK_WORD kLD = 1;
constexpr VK_WORD kSensor = 0;
constexpr VK_WORD kPhy = 0;

struct NumberRow {
    const char* call;
    std::function<std::uint64_t()> get;
    std::uint64_t expected;
};

// clang-format off
#define N(call, expected) \
    NumberRow { #call, [] { return static_cast<std::uint64_t>(call); }, static_cast<std::uint64_t>(expected) }
// clang-format on

TEST(TelmarNullDataArea, NumbersAnswerTheirFallback) {
    const std::vector<NumberRow> rows = {
        // Identity, PCI data and the controller's descriptor.
        N(VK_GetControllerMemorySizeMB(nullptr), 0),
        N(VK_GetControllerFlashSizeMB(nullptr), 0),
        N(VK_GetControllerFirmwareBuildNumber(nullptr), 0),
        N(VK_GetPCIeGen(nullptr), 0),
        N(VK_GetPCIeWidth(nullptr), 0),
        N(VK_GetPCIeNegotiatedSpeed(nullptr), 0),
        N(VK_GetControllerPCIValue(nullptr, kPCIVendorDeviceID), 0),
        N(VK_GetControllerSpinupParameter(nullptr, kSimultaneousSpinupCount), 0),
        N(VK_GetControllerFirmwareComparisonStamp(nullptr), 0),
        N(VK_GetControllerPendingFirmwareComparisonStamp(nullptr), 0),
        N(VK_GetControllerRawWWN(nullptr), 0),
        N(VK_GetControllerPlatformNVRAMRevision(nullptr), kInvalidPlatformNVRAMRevision),
        N(VK_GetControllerNVRAMErrors(nullptr), kControllerNVRAMErrorUnknown),
        N(_VK_GetControllerAdditionalError(nullptr), 0),
        N(_VK_GetControllerLastLockupCode(nullptr), 0),
        N(VK_GetControllerSystemPropertySize(nullptr, 0xFF), 0),
        N(VK_GetControllerSystemPropertySize(nullptr, kDevicePropertyPCILocation), 0),
        // Operating and power modes: no mode word, so no mode matches but the power modes' "invalid".
        N(VK_GetControllerModeInfo(nullptr), 0),
        N(__VK_ControllerCurrentModeIs(nullptr, kControllerModeCurrentRAID), kFalse),
        N(__VK_ControllerPendingModeIs(nullptr, kControllerModePendingRAID), kFalse),
        N(VK_ControllerCurrentModeIsRAID(nullptr), kFalse),
        N(VK_ControllerCurrentModeIsHBA(nullptr), kFalse),
        N(VK_ControllerCurrentModeIsMixed(nullptr), kFalse),
        N(VK_ControllerCurrentModeIsUnknown(nullptr), kFalse),
        N(VK_ControllerPendingModeIsRAID(nullptr), kFalse),
        N(VK_ControllerPendingModeIsHBA(nullptr), kFalse),
        N(VK_ControllerPendingModeIsMixed(nullptr), kFalse),
        N(VK_ControllerPendingModeIsUnknown(nullptr), kFalse),
        N(VK_GetPowerModeInformation(nullptr), 0),
        N(__VK_CurrentPowerModeIs(nullptr, kPowerModeCurrentMax), kFalse),
        N(__VK_PendingPowerModeIs(nullptr, kPowerModePendingMax), kFalse),
        N(__VK_PowerModeWarning(nullptr, kPowerModeWarningTemp), kFalse),
        N(VK_CurrentPowerModeIsInvalid(nullptr), kTrue),
        N(VK_CurrentPowerModeIsMin(nullptr), kFalse),
        N(VK_CurrentPowerModeIsBalanced(nullptr), kFalse),
        N(VK_CurrentPowerModeIsMax(nullptr), kFalse),
        N(VK_PendingPowerModeIsInvalid(nullptr), kTrue),
        N(VK_PendingPowerModeIsMin(nullptr), kFalse),
        N(VK_PendingPowerModeIsBalanced(nullptr), kFalse),
        N(VK_PendingPowerModeIsMax(nullptr), kFalse),
        N(VK_PowerModeWarningRebootRequired(nullptr), kFalse),
        N(VK_PowerModeWarningTemp(nullptr), kFalse),
        N(VK_PowerModeWarningNewMode(nullptr), kFalse),
        N(VK_PowerModeWarningConfigChange(nullptr), kFalse),
        N(VK_PowerModeWarningRebootPower(nullptr), kFalse),
        N(VK_PowerModeWarningRebootPerformance(nullptr), kFalse),
        N(VK_GetControllerSurvivalPowerMode(nullptr), kControllerSurvivalPowerModeInvalid),
        // Temperature sensors and cache.
        N(VK_GetControllerTemperatureSensorCount(nullptr), 0),
        N(VK_GetControllerTemperatureSensorLocation(nullptr, kSensor), 0),
        N(VK_GetControllerTemperatureSensorReading(nullptr, kSensor), 0),
        N(VK_GetControllerTemperatureSensorMaxReading(nullptr, kSensor), 0),
        N(VK_GetControllerTemperatureSensorInfo(nullptr, kSensor, kGetControllerTemperatureSensorReading), 0),
        N(VK_GetControllerTotalCacheSize(nullptr), 0),
        N(VK_GetControllerBatteryBackedCacheSize(nullptr), 0),
        N(VK_GetControllerBackupPowerSourceType(nullptr), kBackupPowerSourceTypeUnknown),
        N(VK_GetControllerBackupPowerSourceCounts(nullptr), 0),
        // Counts and enumeration.
        N(VK_GetControllerDataArrayCount(nullptr), 0),
        N(VK_GetControllerCacheArrayCount(nullptr), 0),
        N(VK_GetControllerOfflineArrayCount(nullptr), 0),
        N(VK_GetControllerTotalArrayCount(nullptr), 0),
        N(VK_GetControllerArrayCount(nullptr, kArrayTypeAny), 0),
        N(VK_GetControllerLogicalDriveCounts(nullptr), 0),
        N(VK_GetControllerPhysicalDriveCount(nullptr, kPhysicalDriveTypeAny), 0),
        N(VK_GetControllerUnassignedPhysicalDriveCount(nullptr), 0),
        N(VK_GetControllerDataPhysicalDriveCount(nullptr), 0),
        N(VK_GetControllerCachePhysicalDriveCount(nullptr), 0),
        N(VK_GetControllerSparePhysicalDriveCount(nullptr), 0),
        N(VK_GetControllerHBAPhysicalDriveCount(nullptr), 0),
        N(VK_GetControllerTotalPhysicalDriveCount(nullptr), 0),
        N(VK_EnumerateControllerPhysicalDevices(nullptr, kInvalidDeviceNumber), kInvalidDeviceNumber),
        N(VK_EnumerateControllerAllPhysicalDevices(nullptr, kInvalidDeviceNumber), kInvalidDeviceNumber),
        N(VK_GetControllerPhysicalDeviceCount(nullptr), 0),
        N(VK_PhysicalDeviceType(nullptr, kPD), kPhysicalDeviceTypeUnknown),
        N(VK_IsControllerLUCacheEnabled(nullptr), kFalse),
        N(_VK_ControllerHasSelfEncryptingDrives(nullptr), kFalse),
        // Operating parameters and cache settings.
        N(VK_GetControllerInconsistencyEventNotification(nullptr),
          kControllerInconsistencyEventNotificationNotSupported),
        N(VK_GetControllerNotifyOnAnyBroadcast(nullptr), kControllerNotifyOnAnyBroadcastError),
        N(VK_GetControllerSanitizeLock(nullptr), kControllerSanitizeLockDisabled),
        N(VK_GetControllerOSBootableDriveCount(nullptr), 0),
        N(VK_GetControllerExpanderMaximumAllowableScanDuration(nullptr),
          kGetControllerExpanderScanDurationFailed),
        N(VK_GetControllerExpanderMinimumScanDuration(nullptr), kGetControllerExpanderScanDurationFailed),
        N(VK_GetControllerPCIeOrdering(nullptr), kControllerPCIeOrderingNotSupported),
        N(VK_GetControllerActiveMaxReadRequestSize(nullptr), 0),
        N(VK_GetControllerPendingMaxReadRequestSize(nullptr), 0),
        N(VK_GetControllerMaxPayloadSize(nullptr), 0),
        N(VK_GetControllerPersistentEventLogPolicy(nullptr), kControllerPersistentEventLogPolicyInvalid),
        N(VK_GetControllerUEFIDriverHealthReportingStatus(nullptr), kControllerUEFIDriveHealthReportInvalid),
        N(VK_GetControllerTime(nullptr), VK_INT64{-1}),
        N(VK_GetControllerWaitForCacheRoom(nullptr), kControllerWaitForCacheRoomInvalid),
        N(VK_GetControllerNonBatteryBackedReadCachePercentLimits(nullptr),
          kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid << 8 |
              kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid),
        N(VK_GetControllerOOBInterfaces(nullptr), 0),
        N(VK_GetControllerI2CAddress(nullptr), kUnknownI2CAddress),
        N(VK_GetControllerExpandPriority(nullptr), kControllerExpandPriorityInvalid),
        N(VK_GetControllerRebuildPriority(nullptr), kControllerRebuildPriorityInvalid),
        N(VK_GetControllerRebuildRatePercent(nullptr), kControllerRebuildRatePercentageInvalid),
        N(VK_GetControllerTransformationRatePercent(nullptr), kControllerTransformationRatePercentInvalid),
        N(VK_GetControllerSAM(nullptr), kControllerSAMTypeInvalid),
        N(VK_GetControllerDPO(nullptr), kControllerDPOInvalid),
        N(VK_GetControllerIRP(nullptr), kControllerIRPInvalid),
        N(VK_GetControllerElevatorSort(nullptr), kControllerElevatorSortInvalid),
        N(VK_GetControllerQueueDepth(nullptr), kControllerQueueDepthInvalid),
        N(VK_GetControllerFLS(nullptr), kControllerFLSInvalid),
        N(VK_GetControllerWCBT(nullptr), 0),
        N(VK_GetControllerNBWC(nullptr), kControllerNBWCInvalid),
        // Without a controller no minimum applies: the ratio of the sizes, in steps of 5.
        N(__CalculateReadRatioPercent(nullptr, 24, 100), 25),
        N(VK_GetControllerReadCachePercent(nullptr), kControllerReadCachePercentInvalid),
        N(VK_GetControllerPreviousReadCachePercent(nullptr), kControllerPreviousReadCachePercentInvalid),
        N(VK_GetControllerSSAPriority(nullptr), 0xFFFF),
        N(VK_GetControllerSSARatePercent(nullptr), kControllerSSARatePercentInvalid),
        N(VK_GetControllerPSSCount(nullptr), kControllerPSSCountInvalid),
        N(VK_GetControllerMNPDelay(nullptr), kControllerMNPDelayInvalid),
        N(VK_GetControllerDriveWriteCachePolicy(nullptr, kDriveWriteCacheDriveTypeNVMESSD,
                                                kDriveWriteCacheUsageTypeConfigured),
          kControllerDriveWriteCacheInvalid),
        N(VK_GetControllerDriveWriteCache(nullptr), kControllerDriveWriteCacheInvalid),
        // Boot volumes.
        N(_VK_GetLogicalDriveNumberFromID(nullptr, "600508B1001C0F3A"), 0xFFFF),
        N(_VK_GetPhysicalDriveNumberFromID(nullptr, "600508B1001C0F3A"), 0xFFFF),
        N(_VK_GetRemoteVolumeNumberFromID(nullptr, "600508B1001C0F3A"), 0xFFFF),
        N(VK_GetControllerBootVolumeNumber(nullptr, kBootableVolumePrecedencePrimary,
                                           kBootableVolumeDriveTypeLogical),
          0xFFFF),
        N(VK_GetControllerBootVolumeNumber(nullptr, kBootableVolumePrecedencePrimary,
                                           kBootableVolumeDriveTypeRemote),
          0xFFFF),
        N(VK_GetPhysicalDriveBootPriority(nullptr, kPD), kBootableVolumePrecedenceNone),
        N(VK_GetLogicalDriveBootPriority(nullptr, kLD), kBootableVolumePrecedenceNone),

        // Feature pages and capability predicates: nothing is supported, except PSS, which every
        // controller has.
        N(VK_ControllerFeaturePagesSupported(nullptr), kFalse),
        N(VK_RequestFeaturePages(nullptr), kFalse),
        N(VK_ControllerSupportsPhysicalDriveErase(nullptr), kFalse),
        N(VK_ControllerSupportsEncryption(nullptr), kFalse),
        N(VK_ControllerSupportsSenseExpansionAbility(nullptr), kFalse),
        N(VK_ControllerSupportsDefaultPowerMode(nullptr), kFalse),
        N(VK_ControllerSupportsEncryptionFeatureBreakout(nullptr), kFalse),
        N(VK_ControllerSupportsUEFIKMS(nullptr), kFalse),
        N(VK_ControllerSupportsOnlineFirmwareActivation(nullptr), 0),
        N(VK_ControllerSupportsSEDEncryption(nullptr), 0),
        N(VK_GetControllerConnectorDiscoveryConfigurationSupport(nullptr), 0),
        N(_VK_GetControllerOEMID(nullptr), 0),
        N(VK_ControllerSupportsLUCache(nullptr), 0),
        N(VK_ControllerSupportsPowerModes(nullptr), 0),
        N(VK_ControllerSupportsOPO(nullptr), kFalse),
        N(VK_ControllerSupportsParityRAID(nullptr), kFalse),
        N(VK_ControllerSupportsNWayRAID(nullptr), kFalse),
        N(VK_ControllerSupportsRapidRebuild(nullptr), kFalse),
        N(VK_ControllerSupportsRapidInitialization(nullptr), kFalse),
        N(VK_ControllerSupportsPhysicalDriveSanitize(nullptr), kFalse),
        N(VK_ControllerSupportsLongConnectorNames(nullptr), kFalse),
        N(VK_ControllerSupportsLongBoxConnectorName(nullptr), kFalse),
        N(VK_ControllerSupports2TBDrives(nullptr), kFalse),
        N(VK_ControllerSupportsNBWC(nullptr), kFalse),
        N(VK_ControllerSupportsCarrierAuthentication(nullptr), kFalse),
        N(VK_ControllerSupportsIOBypass(nullptr), kFalse),
        N(VK_ControllerSupportsFLS(nullptr), kFalse),
        N(VK_ControllerSupportsSurvivalPowerMode(nullptr), kFalse),
        N(VK_ControllerSupportsClearConfigurationBMIC(nullptr), kFalse),
        N(VK_ControllerSupportsAutoReplaceSpares(nullptr), kFalse),
        N(VK_ControllerSupportsPredictiveSpareRebuild(nullptr), kFalse),
        N(VK_ControllerSupportsSplitMirrorBackup(nullptr), kFalse),
        N(VK_ControllerSupportsResyncAndRollback(nullptr), kFalse),
        N(VK_ControllerIsSoftwareRAID(nullptr), kFalse),
        N(_VK_ControllerSupportsExtendedDriveMap(nullptr), kFalse),
        N(VK_ControllerSupportsAdvancedCapacityExpansion(nullptr), kFalse),
        N(VK_ControllerSupportsPersistentKeyCache(nullptr), kFalse),
        N(VK_ControllerSupportsKeyManagerConversion(nullptr), kFalse),
        N(VK_ControllerSupportsCacheOperations(nullptr), kFalse),
        N(VK_ControllerSupportsBootConnectors(nullptr), kFalse),
        N(VK_ControllerSupportsBackupPowerSourceInfo(nullptr), kFalse),
        N(VK_ControllerSupportsGreenBackupInfo(nullptr), kFalse),
        N(VK_ControllerSupportsIOAccelAdvancedWrites(nullptr), kFalse),
        N(VK_ControllerSupportsExpanderMinimumScanDuration(nullptr), kFalse),
        N(VK_ControllerSupportsWCBT(nullptr), kFalse),
        N(VK_ControllerSupportsDriveWriteCacheForAllDrives(nullptr), kFalse),
        N(_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(nullptr), kFalse),
        N(VK_ControllerSupportsFamilyID(nullptr), kFalse),
        N(VK_ControllerSupportsMissingDrives(nullptr), kFalse),
        N(VK_ControllerSupportsNotifyOnAnyBroadcast(nullptr), kFalse),
        N(VK_ControllerSupportsPCIeRelaxedOrdering(nullptr), kFalse),
        N(VK_ControllerSupportsConfigurableLUCacheLineSize(nullptr), kFalse),
        N(VK_ControllerSupportsNVMe(nullptr), kFalse),
        N(VK_ControllerSupportsPreviousCacheRatioSettings(nullptr), kFalse),
        N(VK_ControllerSupportsOFASoftReset(nullptr), kFalse),
        N(VK_ControllerSupportsSED(nullptr), 0),
        N(VK_ControllerSupportsSEDSecurityRefresh(nullptr), kFalse),
        N(VK_ControllerSupportsRebootReasons(nullptr), kFalse),
        N(VK_ControllerSupportsDebugToken(nullptr), kFalse),
        N(_VK_ControllerSupportsFullLengthDeviceModel(nullptr), kFalse),
        N(_VK_ControllerSupportsOEMExtendedDriveData(nullptr), kFalse),
        N(VK_ControllerFlashOnce(nullptr), kFalse),
        N(VK_ControllerSupportsPersistentEventLog(nullptr), kFalse),
        N(_VK_ControllerSupportsUBMProgrammingCapability(nullptr), kFalse),
        N(VK_ControllerSupportsReenablePhysicaldrive(nullptr), kFalse),
        N(VK_ControllerSupportsSettingPersistentEventLogPolicy(nullptr), kFalse),
        N(VK_ControllerSupportsConnectorActivePhyMap(nullptr), kFalse),
        N(VK_ControllerSupportsInconsistencyEventNotification(nullptr), kFalse),
        N(VK_ControllerSupportsHardwareMinorRevision(nullptr), kFalse),
        N(__VK_ControllerSupportsMPSAndMRRS(nullptr), kFalse),
        N(VK_ControllerSupportsSurfaceAnalysisInfo(nullptr), kFalse),
        N(VK_ControllerSupportsUEFIDriverHealthReporting(nullptr), kFalse),
        N(VK_ControllerSupportsAdditionalRAIDInfo(nullptr), 0),
        N(VK_ControllerSupportsWaitForCacheRoom(nullptr), kFalse),
        N(VK_ControllerSupportsDriveWriteCache(nullptr), kFalse),
        N(VK_ControllerSupportsMaxPSSCount(nullptr), 0),
        N(VK_ControllerSupportsSanitizeLock(nullptr), 0),
        N(VK_ControllerSupportsOOBCommands(nullptr), 0),
        N(VK_ControllerSupportsQueueDepth(nullptr), kFalse),
        N(VK_ControllerSupportsDPO(nullptr), kFalse),
        N(VK_ControllerSupportsPSS(nullptr), kTrue),
        N(VK_ControllerSupportsHealArray(nullptr), kFalse),
        N(VK_ControllerSupportsMaxReadRequestSize(nullptr), kFalse),
        N(VK_ControllerSupportsMaxPayloadSize(nullptr), kFalse),
        N(VK_GetControllerSupportFlags(nullptr), 0),
        N(VK_ControllerSupportsLUCacheRAIDPolicy(nullptr, kRAID1, kLUCacheWritePolicyWriteThru), kFalse),
        N(VK_ControllerSupportsPhyRates(nullptr), 0),
        N(__VK_PowerModeSupported(nullptr, kPowerModeMinSupported), kFalse),
        // No power mode at all is what a missing controller offers.
        N(VK_ControllerSupportsPowerModeNone(nullptr), kTrue),
        N(VK_ControllerSupportsPowerModeMin(nullptr), kFalse),
        N(VK_ControllerSupportsPowerModeBalanced(nullptr), kFalse),
        N(VK_ControllerSupportsPowerModeMax(nullptr), kFalse),
        N(VK_ControllerSupportsTransformations(nullptr), 0),
        N(VK_GetControllerTransformationMemorySize(nullptr), 0),
        N(VK_ControllerSupportsRequeryCommand(nullptr), kFalse),
        N(VK_ControllerSupportsEncryptionKeyCache(nullptr), kFalse),
        N(VK_ControllerEncryptionKeyCacheSupport(nullptr), 0),
        N(VK_GetControllerEncryptionEnabledFeatures(nullptr), 0),
        N(VK_ControllerSupportsVeskHBAMode(nullptr), kFalse),
        N(VK_ControllerSupportsMixedMode(nullptr), kFalse),
        N(VK_ControllerSupportsIRP(nullptr), kFalse),
        N(VK_ControllerSupportsRAIDLevel(nullptr, kRAID0), kFalse),
        N(VK_ControllerSupportsMaxSpareDriveCount(nullptr), 0),
        N(VK_ControllerSupportsPCIBusType(nullptr, kPCIe), kFalse),
        N(VK_ControllerSupportsMaxLogicalDriveCount(nullptr), 0),
        N(VK_ControllerSupportsMaxArrayCount(nullptr), 0),
        N(VK_ControllerSupportsMaxPhysicalDriveCount(nullptr), 0),
        N(VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(nullptr), 0),
        N(VK_GetMinMaxPDForRAIDLevel(nullptr, kRAID5), 0),
        N(VK_ControllerSupportsPDInterface(nullptr, kPhysicalDriveInterfaceSAS12G), kFalse),
        // Strip sizes: the maxima are unknown, the minima and LU cache sizes their defaults.
        N(_VK_GetControllerMaxStripSizeSupport(nullptr, kControllerStripSizeMaxStripSizeBytes), 0),
        N(_VK_GetControllerMaxStripSizeSupport(nullptr, kControllerStripSizeMaxFullStripeSizeBytes), 0),
        N(_VK_GetControllerMinStripSizeSupport(nullptr, kControllerStripSizeMinStripSizeBytes),
          telmar::decode::kDefaultMinStripSize),
        N(_VK_GetControllerMinStripSizeSupport(nullptr, kControllerStripSizeMinParityStripSizeBytes),
          telmar::decode::kDefaultMinStripSize),
        N(_VK_GetControllerMaxNVMeStripSize(nullptr), 0),
        N(_VK_GetControllerLUCacheStripSizeSupport(nullptr, kControllerStripSizeLUCacheMaxStripSizeBytes),
          telmar::decode::kDefaultLUCacheSize),
        N(_VK_GetControllerLUCacheStripSizeSupport(nullptr, kControllerStripSizeLUCacheMinStripSizeBytes),
          telmar::decode::kDefaultMinStripSize),
        N(VK_GetControllerStripSizeSupport(nullptr, kControllerStripSizeMaxRAID5StripSizeBytes), 0),
        N(VK_GetControllerStripSizeSupport(nullptr, kControllerStripSizeMinNonParityStripSizeBytes),
          telmar::decode::kDefaultMinStripSize),
        N(VK_GetControllerStripSizeSupport(nullptr, kControllerStripSizeMaxNVMeStripSizeBytes), 0),
        N(VK_GetControllerStripSizeSupport(nullptr, kControllerStripSizeLUCacheMaxFullStripeSizeBytes),
          telmar::decode::kDefaultLUCacheSize),
        N(VK_PhysicalDriveSupportsErasePattern(nullptr, kPD), 0),
        N(VK_PhysicalDriveSupportsSanitizeLock(nullptr, kPD), 0),
        N(_VK_PhysicalDriveSupportsWearGauge(nullptr, kPD), kFalse),
        N(VK_PhysicalDriveSupportsOEMExtendedDriveData(nullptr, kPD), kFalse),
        N(_VK_AnyConnectorSupportsOperatingMode(nullptr, kConnectorModeRAID), kFalse),

        // Physical devices.
        N(VK_GetConnectorIndexOfPhysicalDrive(nullptr, kPD), kInvalidConnectorIndex),
        N(VK_GetPhysicalDriveConnectorIndex(nullptr, kPD), kInvalidConnectorIndex),
        N(_VK_IsPhysicalDriveSupportedForConfig(nullptr, kPD), kFalse),
        N(VK_EnumerateControllerPhysicalDrives(nullptr, kInvalidPDNumber), kInvalidPDNumber),
        N(VK_GetPhysicalDriveArray(nullptr, kPD), kInvalidArrayNumber),
        N(VK_GetPhysicalDeviceStorageEnclosureNumber(nullptr, kPD), kInvalidSENumber),
        N(VK_GetPhysicalDriveBasicInfo(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveUsageInfo(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveSize(nullptr, kPD, kPhysicalDriveSizeTotalBytes), 0),
        N(VK_GetPhysicalDriveCurrentTemperature(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveMaximumTemperature(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveTemperatureThreshold(nullptr, kPD), 0xFF),
        N(VK_GetPhysicalDriveTemperatureInfo(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveRotationalSpeed(nullptr, kPD), 0),
        N(VK_GetPhysicalDrivePCIValue(nullptr, kPD, kPCIVendorDeviceID), 0),
        N(VK_GetPhysicalDevicePHYCount(nullptr, kPD), 0),
        N(VK_GetPhysicalDeviceControllerPhyNumbers(nullptr, kPD), 0xFFFFFFFF),
        N(VK_GetPhysicalDevicePhyLinkRate(nullptr, kPD, kPhy), 0),
        N(VK_GetPhysicalDevicePhyConnectorIndex(nullptr, kPD, kPhy), kInvalidConnectorIndex),
        N(VK_GetPhysicalDevicePhyMap(nullptr, kPD, kActivePathMap), 0),
        N(_VK_GetPhysicalDevicePhyConnectedDeviceType(nullptr, kPD, kPhy), 0xFF),
        N(VK_GetPhysicalDevicePathCount(nullptr, kPD), 0),
        N(VK_GetPhysicalDevicePathInfo(nullptr, kPD), 0),
        N(VK_PhysicalDeviceIsMultiPath(nullptr, kPD), kFalse),
        N(VK_EnumeratePhysicalDriveConnectors(nullptr, kPD, kInvalidConnectorIndex), kInvalidConnectorIndex),
        N(VK_GetPhysicalDeviceConnectorLocation(nullptr, kPD), kPhysicalDeviceConnectorLocationUnknown),
        N(VK_GetPhysicalDrivePowerOnHours(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveUtilization(nullptr, kPD), 0xFFFF),
        N(VK_GetPhysicalDriveCarrierAuthentication(nullptr, kPD), kPhysicalDriveCarrierFailed),
        N(VK_GetPhysicalDriveCarrierApplicationVersion(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveSanitizeLock(nullptr, kPD), kPhysicalDriveSanitizeLockUnknown),
        N(VK_GetPhysicalDriveEraseInfo(nullptr, kPD), 0),
        N(VK_GetPhysicalDriveEraseProgressLive(nullptr, kPD), telmar::kErasePercentUnknown),
        N(VK_GetPhysicalDriveMNPStatistic(nullptr, kPD, 0), 0),
        N(VK_EnumerateControllerBootablePhysicalDrives(nullptr, kInvalidPDNumber), kInvalidPDNumber),
    };
    const TelmarLogCapture log;
    for (const NumberRow& row : rows) {
        EXPECT_EQ(row.get(), row.expected) << row.call;
    }
    VK_RefreshDriveEraseInfo(nullptr);
    EXPECT_TRUE(TelmarLogCapture::lines().empty()) << TelmarLogCapture::lines().front();
}

#undef N

// A text getter called with a buffer of `kText` bytes filled with 'x'.
constexpr size_t kText = 64;

struct TextRow {
    const char* call;
    std::function<const void*(char*)> get;
    const char* expected; // nullptr: the buffer is left as it was
};

// clang-format off
#define T(call, expected) \
    TextRow { #call, [](char* buffer) -> const void* { return call; }, expected }
// clang-format on

TEST(TelmarNullDataArea, TextGettersReturnTheBufferWithTheirFallbackText) {
    const std::vector<TextRow> rows = {
        T(VK_GetControllerProductID(nullptr, buffer, kText), ""),
        T(VK_GetControllerFamilyID(nullptr, buffer, kText), ""),
        T(VK_GetControllerVendorID(nullptr, buffer, kText), ""),
        T(VK_GetControllerFirmwareVersion(nullptr, buffer, kText), ""),
        T(VK_GetControllerPendingFirmwareVersion(nullptr, buffer, kText), ""),
        T(VK_GetControllerFirmwareCompileTimeStamp(nullptr, buffer, kText), ""),
        T(VK_GetControllerHardwareRevision(nullptr, buffer, kText), ""),
        // Like an unsupported minor revision: the buffer is not even cleared.
        T(VK_GetControllerHardwareMinorRevision(nullptr, buffer, kText), nullptr),
        T(VK_GetControllerSerialNumber(nullptr, buffer, kText), ""),
        T(VK_GetControllerDriverVersion(nullptr, buffer, kText), ""),
        T(VK_GetControllerWWN(nullptr, buffer, kText), ""),
        T(VK_GetControllerSlotNumber(nullptr, buffer, kText), "UNKNOWN"),
        T(VK_GetControllerPCILocation(nullptr, buffer, kText), "UNKNOWN"),
        T(VK_GetControllerBootVolumeID(nullptr, kBootableVolumePrecedencePrimary, buffer, kText), ""),
        T(VK_GetControllerBootVolumeID(nullptr, kBootableVolumePrecedenceSecondary, buffer, kText), ""),
        T(VK_GetPhysicalDriveModel(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveSerialNumber(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveFirmwareVersion(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveMinFirmwareVersion(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveVendorID(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveProductID(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveBootVolumeID(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveUniqueVolumeID(nullptr, kPD, buffer, kText), ""),
        T(VK_GetPhysicalDriveWWID(nullptr, kPD, buffer, kText, kTrue), ""),
        T(VK_GetPhysicalDriveWWID(nullptr, kPD, buffer, kText, kFalse), ""),
        T(VK_GetPhysicalDriveLocation(nullptr, kPD, kPhysicalDriveLocationComplete, buffer, kText), ""),
        T(VK_GetPhysicalDevicePathName(nullptr, kPD, 0, kPhysicalDevicePathNameComplete, buffer, kText), ""),
    };
    const TelmarLogCapture log;
    const std::string untouched(kText, 'x');
    for (const TextRow& row : rows) {
        char buffer[kText];
        std::memset(buffer, 'x', sizeof(buffer));
        EXPECT_EQ(row.get(buffer), buffer) << row.call;
        if (row.expected == nullptr) {
            EXPECT_EQ(std::string(buffer, sizeof(buffer)), untouched) << row.call;
            continue;
        }
        // The fallback text, then nothing but zeros to the end of the buffer.
        std::string expected(row.expected);
        expected.resize(kText, '\0');
        EXPECT_EQ(std::string(buffer, sizeof(buffer)), expected) << row.call;
    }
    // The adapter type clears the buffer it would have read the product id into.
    char product_id[kText];
    std::memset(product_id, 'x', sizeof(product_id));
    EXPECT_EQ(VK_GetControllerAdapterType(nullptr, product_id, sizeof(product_id)), kAdapterArrayController);
    EXPECT_EQ(std::string(product_id, sizeof(product_id)), std::string(kText, '\0'));
    EXPECT_TRUE(TelmarLogCapture::lines().empty()) << TelmarLogCapture::lines().front();
}

#undef T

// Out-parameters start as this pattern; a getter may clear one (and says which) but never fills it.
constexpr VK_BYTE kPattern = 0xA5;

struct OutRow {
    const char* call;
    // Calls the getter with `out` (a patterned block of `kOut` bytes) and returns its answer as a number.
    std::function<std::uint64_t(void* out)> get;
    std::uint64_t expected;
    bool clears; // the getter zeroes `out` first
};

constexpr size_t kOut = 512;

TEST(TelmarNullDataArea, PointerAndOutParameterGettersAnswerNothing) {
    static_assert(sizeof(VK_CONTROLLER_MANUFACTURING_DATA) <= kOut && sizeof(MNP_STATISTICS) <= kOut &&
                  sizeof(OOBConfiguration) <= kOut);
    auto address = [](const void* p) {
        return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(p));
    };
    const std::vector<OutRow> rows = {
        {"VK_GetControllerSystemProperty(nullptr, kDevicePropertyPCILocation, out, kOut)",
         [](void* out) {
             return static_cast<std::uint64_t>(
                 VK_GetControllerSystemProperty(nullptr, kDevicePropertyPCILocation, out, kOut));
         },
         1, false},
        {"VK_GetControllerSystemProperty(nullptr, 0xFF, out, kOut)",
         [](void* out) {
             return static_cast<std::uint64_t>(VK_GetControllerSystemProperty(nullptr, 0xFF, out, kOut));
         },
         1, false},
        {"VK_GetControllerManufacturingData(nullptr, out)",
         [](void* out) {
             return static_cast<std::uint64_t>(VK_GetControllerManufacturingData(
                 nullptr, static_cast<VK_CONTROLLER_MANUFACTURING_DATA*>(out)));
         },
         kFalse, false},
        {"VK_GetControllerOEMManufacturingData(nullptr, out, out + 1)",
         [address](void* out) {
             auto* bytes = static_cast<VK_BYTE*>(out);
             return address(VK_GetControllerOEMManufacturingData(nullptr, bytes, bytes + 1));
         },
         0, false},
        {"VK_GetControllerTemperatureSensorsInfo(nullptr, out)",
         [address](void* out) {
             return address(VK_GetControllerTemperatureSensorsInfo(nullptr, static_cast<VK_DWORD*>(out)));
         },
         0, false},
        {"VK_GetControllerActiveOOBConfiguration(nullptr, out)",
         [](void* out) {
             return static_cast<std::uint64_t>(
                 VK_GetControllerActiveOOBConfiguration(nullptr, static_cast<OOBConfiguration*>(out)));
         },
         kGetControllerOOBConfigurationFailed, true},
        {"VK_GetControllerPendingOOBConfiguration(nullptr, out)",
         [](void* out) {
             return static_cast<std::uint64_t>(
                 VK_GetControllerPendingOOBConfiguration(nullptr, static_cast<OOBConfiguration*>(out)));
         },
         kGetControllerOOBConfigurationFailed, true},
        {"VK_GetPhysicalDriveLunInfo(nullptr, kPD, out)",
         [](void* out) {
             return static_cast<std::uint64_t>(
                 VK_GetPhysicalDriveLunInfo(nullptr, kPD, static_cast<PHYSICAL_DRIVE_LUN_INFO_LIST**>(out)));
         },
         kGetPhysicalDriveLunInfoFailed, true},
        {"VK_GetPhysicalDriveDescriptor(nullptr, kPD)",
         [address](void*) { return address(VK_GetPhysicalDriveDescriptor(nullptr, kPD)); }, 0, false},
        {"VK_GetPhysicalDriveFlagsInfo(nullptr, kPD)",
         [address](void*) { return address(VK_GetPhysicalDriveFlagsInfo(nullptr, kPD)); }, 0, false},
        {"VK_GetPhysicalDriveOEMExtendedData(nullptr, kPD, out)",
         [address](void* out) {
             return address(VK_GetPhysicalDriveOEMExtendedData(nullptr, kPD, static_cast<VK_BYTE*>(out)));
         },
         0, false},
        {"VK_GetPhysicalDriveMNPStatistics(nullptr, kPD, out)",
         [](void* out) {
             return static_cast<std::uint64_t>(
                 VK_GetPhysicalDriveMNPStatistics(nullptr, kPD, static_cast<MNP_STATISTICS*>(out)));
         },
         kGetPhysicalDriveMNPStatisticsFailed, false},
    };
    const TelmarLogCapture log;
    for (const OutRow& row : rows) {
        // Pointer-aligned, so that the LUN list's out-pointer can live in it.
        alignas(std::max_align_t) VK_BYTE out[kOut];
        std::memset(out, kPattern, sizeof(out));
        EXPECT_EQ(row.get(out), row.expected) << row.call;
        // A cleared out-parameter is zero where the getter wrote; the rest of the block keeps its pattern.
        size_t zeroed = 0;
        while (zeroed < kOut && out[zeroed] == 0) {
            ++zeroed;
        }
        EXPECT_EQ(zeroed > 0, row.clears) << row.call;
        for (size_t i = zeroed; i < kOut; ++i) {
            ASSERT_EQ(out[i], kPattern) << row.call << ": byte " << i;
        }
    }
    EXPECT_TRUE(TelmarLogCapture::lines().empty()) << TelmarLogCapture::lines().front();
}

} // namespace
