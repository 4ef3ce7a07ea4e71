// Controller identity properties and capability predicates against a simulated controller: what
// they report from the real replies, and that the cached buffers are read once (and again only
// after a failed read). Traffic is read from the controller's request log.
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::FirmwareState;

// Every capability predicate and every property getter of the controller, once each.
void RunEveryPredicateAndGetter(PCDA cda) {
    using Predicate = VK_DWORD (*)(PCDA);
#define P(f) [](PCDA c) -> VK_DWORD { return f(c); }
    const Predicate predicates[] = {
        P(VK_ControllerFeaturePagesSupported),
        P(VK_RequestFeaturePages),
        P(VK_ControllerSupportsPhysicalDriveErase),
        P(VK_ControllerSupportsEncryption),
        P(VK_ControllerSupportsSenseExpansionAbility),
        P(VK_ControllerSupportsDefaultPowerMode),
        P(VK_ControllerSupportsEncryptionFeatureBreakout),
        P(VK_ControllerSupportsUEFIKMS),
        P(VK_ControllerSupportsOnlineFirmwareActivation),
        P(VK_ControllerSupportsSEDEncryption),
        P(VK_GetControllerConnectorDiscoveryConfigurationSupport),
        P(_VK_GetControllerOEMID),
        P(VK_ControllerSupportsLUCache),
        P(VK_ControllerSupportsPowerModes),
        P(VK_ControllerSupportsOPO),
        P(VK_ControllerSupportsParityRAID),
        P(VK_ControllerSupportsNWayRAID),
        P(VK_ControllerSupportsRapidRebuild),
        P(VK_ControllerSupportsRapidInitialization),
        P(VK_ControllerSupportsPhysicalDriveSanitize),
        P(VK_ControllerSupportsLongConnectorNames),
        P(VK_ControllerSupportsLongBoxConnectorName),
        P(VK_ControllerSupports2TBDrives),
        P(VK_ControllerSupportsNBWC),
        P(VK_ControllerSupportsCarrierAuthentication),
        P(VK_ControllerSupportsIOBypass),
        P(VK_ControllerSupportsFLS),
        P(VK_ControllerSupportsSurvivalPowerMode),
        P(VK_ControllerSupportsClearConfigurationBMIC),
        P(VK_ControllerSupportsAutoReplaceSpares),
        P(VK_ControllerSupportsPredictiveSpareRebuild),
        P(VK_ControllerSupportsSplitMirrorBackup),
        P(VK_ControllerSupportsResyncAndRollback),
        P(VK_ControllerIsSoftwareRAID),
        P(_VK_ControllerSupportsExtendedDriveMap),
        P(VK_ControllerSupportsAdvancedCapacityExpansion),
        P(VK_ControllerSupportsPersistentKeyCache),
        P(VK_ControllerSupportsKeyManagerConversion),
        P(VK_ControllerSupportsCacheOperations),
        P(VK_ControllerSupportsBootConnectors),
        P(VK_ControllerSupportsBackupPowerSourceInfo),
        P(VK_ControllerSupportsGreenBackupInfo),
        P(VK_ControllerSupportsIOAccelAdvancedWrites),
        P(VK_ControllerSupportsExpanderMinimumScanDuration),
        P(VK_ControllerSupportsWCBT),
        P(VK_ControllerSupportsDriveWriteCacheForAllDrives),
        P(_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy),
        P(VK_ControllerSupportsFamilyID),
        P(VK_ControllerSupportsMissingDrives),
        P(VK_ControllerSupportsNotifyOnAnyBroadcast),
        P(VK_ControllerSupportsPCIeRelaxedOrdering),
        P(VK_ControllerSupportsConfigurableLUCacheLineSize),
        P(VK_ControllerSupportsNVMe),
        P(VK_ControllerSupportsPreviousCacheRatioSettings),
        P(VK_ControllerSupportsOFASoftReset),
        P(VK_ControllerSupportsSED),
        P(VK_ControllerSupportsSEDSecurityRefresh),
        P(VK_ControllerSupportsRebootReasons),
        P(VK_ControllerSupportsDebugToken),
        P(_VK_ControllerSupportsFullLengthDeviceModel),
        P(_VK_ControllerSupportsOEMExtendedDriveData),
        P(VK_ControllerFlashOnce),
        P(VK_ControllerSupportsPersistentEventLog),
        P(_VK_ControllerSupportsUBMProgrammingCapability),
        P(VK_ControllerSupportsReenablePhysicaldrive),
        P(VK_ControllerSupportsSettingPersistentEventLogPolicy),
        P(VK_ControllerSupportsConnectorActivePhyMap),
        P(VK_ControllerSupportsInconsistencyEventNotification),
        P(VK_ControllerSupportsHardwareMinorRevision),
        P(__VK_ControllerSupportsMPSAndMRRS),
        P(VK_ControllerSupportsSurfaceAnalysisInfo),
        P(VK_ControllerSupportsUEFIDriverHealthReporting),
        P(VK_ControllerSupportsAdditionalRAIDInfo),
        P(VK_ControllerSupportsWaitForCacheRoom),
        P(VK_ControllerSupportsDriveWriteCache),
        P(VK_ControllerSupportsMaxPSSCount),
        P(VK_ControllerSupportsSanitizeLock),
        P(VK_ControllerSupportsOOBCommands),
        P(VK_ControllerSupportsQueueDepth),
        P(VK_ControllerSupportsDPO),
        P(VK_ControllerSupportsPSS),
        P(VK_ControllerSupportsHealArray),
        P(VK_ControllerSupportsMaxReadRequestSize),
        P(VK_ControllerSupportsMaxPayloadSize),
        P(VK_ControllerSupportsMaxArrayCount),
        P(VK_ControllerSupportsMaxLogicalDriveCount),
        P(VK_ControllerSupportsMaxPhysicalDriveCount),
        P(VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount),
        P(_VK_GetControllerMaxNVMeStripSize),
        P(VK_GetControllerMemorySizeMB),
        P(VK_GetControllerFlashSizeMB),
        P(VK_GetControllerFirmwareBuildNumber),
        P(VK_GetPCIeGen),
        P(VK_GetPCIeWidth),
        P(VK_GetPCIeNegotiatedSpeed),
        P(VK_GetControllerFirmwareComparisonStamp),
        P(VK_GetControllerPendingFirmwareComparisonStamp),
        P(VK_GetControllerRawWWN),
        P(VK_GetControllerNVRAMErrors),
        P(VK_GetControllerPlatformNVRAMRevision),
        P(_VK_GetControllerAdditionalError),
        P(_VK_GetControllerLastLockupCode),
    };
#undef P
    for (Predicate p : predicates) {
        p(cda);
    }
    for (VK_BYTE value = 0; value <= 0x0F; ++value) {
        VK_ControllerSupportsPCIBusType(cda, value);
        VK_GetMinMaxPDForRAIDLevel(cda, value);
        VK_ControllerSupportsPDInterface(cda, value);
        VK_GetControllerStripSizeSupport(cda, value);
        VK_GetControllerPCIValue(cda, value);
        VK_GetControllerSpinupParameter(cda, value);
    }
    using TextGetter = char* (*)(PCDA, char*, size_t);
    const TextGetter getters[] = {
        VK_GetControllerProductID,
        VK_GetControllerFamilyID,
        VK_GetControllerVendorID,
        VK_GetControllerFirmwareVersion,
        VK_GetControllerPendingFirmwareVersion,
        VK_GetControllerFirmwareCompileTimeStamp,
        VK_GetControllerHardwareRevision,
        VK_GetControllerHardwareMinorRevision,
        VK_GetControllerSerialNumber,
        VK_GetControllerDriverVersion,
        VK_GetControllerWWN,
        VK_GetControllerSlotNumber,
        VK_GetControllerPCILocation,
    };
    char text[64];
    for (TextGetter g : getters) {
        g(cda, text, sizeof(text));
    }
    VK_GetControllerAdapterType(cda, text, sizeof(text));
}

class TelmarPropertiesHost : public telmar_host::ControllerHost {
protected:
    void StartInitialised(FirmwareState state = {}) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    // BMIC opcode -> how many were received.
    std::map<int, int> OpcodeCounts() {
        std::map<int, int> out;
        for (const auto& cdb : SentCdbs()) {
            const auto bmic = BmicCdb::parse(cdb);
            ++out[bmic ? bmic->opcode : -int(cdb.at(0))];
        }
        return out;
    }

    std::string Text(char* (*getter)(PCDA, char*, size_t)) {
        char buffer[64];
        return getter(cda(), buffer, sizeof(buffer));
    }
};

TEST_F(TelmarPropertiesHost, EveryPredicateAndGetterReadsEachBufferOnce) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    RunEveryPredicateAndGetter(cda());
    RunEveryPredicateAndGetter(cda());
    EXPECT_EQ(OpcodeCounts(), (std::map<int, int>{{0x61, 1}, {0x66, 1}, {0x70, 1}}));
}

TEST_F(TelmarPropertiesHost, ALegacyControllerIsNeverAskedForFeaturePages) {
    FirmwareState s;
    s.identify.even_more_flags = 0;
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    RunEveryPredicateAndGetter(cda());
    RunEveryPredicateAndGetter(cda());
    EXPECT_EQ(OpcodeCounts(), (std::map<int, int>{{0x66, 1}, {0x70, 1}}));
}

TEST_F(TelmarPropertiesHost, AFailedSubsystemReadIsRetriedOnTheNextCall) {
    FirmwareState s;
    qvsim::FwFault fault;
    fault.bmic = 0x66;
    fault.err = EIO;
    s.faults.push_back(fault);
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_EQ(Text(VK_GetControllerSerialNumber), "");
    EXPECT_EQ(Text(VK_GetControllerSerialNumber), "QVS0A1B2C3D4");
    EXPECT_EQ(Text(VK_GetControllerWWN), "51D7B00000A1B2C0");
    EXPECT_EQ(OpcodeCounts(), (std::map<int, int>{{0x66, 2}}));
}

TEST_F(TelmarPropertiesHost, IdentityOfTheSimulatedController) {
    FirmwareState s;
    // A byte 0x85 in position 5 of the serial number ends it.
    s.patches.push_back({0x66, std::nullopt, 44 + 4, {0x85}});
    s.subsystem.driver_version = "3.4.20-sim";
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_EQ(Text(VK_GetControllerProductID), "PQ-16i Sim");
    EXPECT_EQ(Text(VK_GetControllerVendorID), "QVSIM");
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion), "5.32-0");
    EXPECT_EQ(Text(VK_GetControllerPendingFirmwareVersion), "5.40-2");
    EXPECT_EQ(Text(VK_GetControllerFirmwareCompileTimeStamp), "Oct 02 2025 11:42:07");
    EXPECT_EQ(Text(VK_GetControllerHardwareRevision), "B");
    EXPECT_EQ(Text(VK_GetControllerSerialNumber), "QVS0");
    EXPECT_EQ(Text(VK_GetControllerDriverVersion), "3.4.20-sim");
    EXPECT_EQ(Text(VK_GetControllerWWN), "51D7B00000A1B2C0");
    EXPECT_EQ(Text(VK_GetControllerSlotNumber), "3");
    EXPECT_EQ(Text(VK_GetControllerPCILocation), "0:59:0.0");
    EXPECT_EQ(VK_GetPCIeGen(cda()), 3);
    EXPECT_EQ(VK_GetPCIeWidth(cda()), 8);
    EXPECT_EQ(VK_GetPCIeNegotiatedSpeed(cda()), 7880u);
    EXPECT_EQ(VK_GetControllerMemorySizeMB(cda()), 4096);
    EXPECT_EQ(VK_GetControllerFlashSizeMB(cda()), 32);
    EXPECT_EQ(VK_GetControllerPCIValue(cda(), kPCIVendorDeviceID), 0x1D7B0A60u);
    EXPECT_EQ(VK_GetControllerSpinupParameter(cda(), kSimultaneousSpinupCount), 4u);
    EXPECT_EQ(VK_ControllerSupportsPCIBusType(cda(), kPCIe), kTrue);
    EXPECT_EQ(VK_ControllerSupportsMaxArrayCount(cda()), 64);
    EXPECT_EQ(VK_GetMinMaxPDForRAIDLevel(cda(), kRAID1), 0x0280);
    EXPECT_EQ(VK_GetControllerPlatformNVRAMRevision(cda()), 3);
}

} // namespace
