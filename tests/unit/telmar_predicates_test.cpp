// Capability predicates: feature-page bits, the older IDENTIFY flags and their length gates.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "ppavl_discovery.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_DWORD kPagesOffered = 0x80000000;   // IDENTIFY dwEvenMoreControllerFlags
constexpr VK_DWORD kLongFlagsValid = 0x00100000; // IDENTIFY dwYetMoreControllerFlags

// One bit (or several bits that must all be set) of a multi-byte field, as byte offset and byte mask.
struct Bits {
    size_t offset;
    VK_BYTE mask;
};

// Little-endian field at `field_offset`: the byte of `mask`'s bits (which lie in one byte).
Bits FieldBits(size_t field_offset, VK_DWORD mask) {
    size_t byte = 0;
    while ((mask & 0xFF) == 0) {
        mask >>= 8;
        ++byte;
    }
    return {field_offset + byte, static_cast<VK_BYTE>(mask)};
}

#define PAGE(member, field, mask)                                                                            \
    FieldBits(offsetof(SENSE_FEATURE_PAGES, member) +                                                        \
                  offsetof(decltype(SENSE_FEATURE_PAGES::member), field),                                    \
              mask)
#define ID(field, mask) FieldBits(offsetof(IDENTIFY_CONTROLLER, field), mask)
#define ID_FEATURE(index, mask)                                                                              \
    Bits {                                                                                                   \
        offsetof(IDENTIFY_CONTROLLER, pbFeaturesSupported) + (index), mask                                   \
    }

enum class Kind {
    kPageOrIdentify, // legacy bits checked from the table
    kPageOnly,       // nothing without pages
    kOwnLegacy,      // legacy answer checked by its own test
};
enum class Gate { kNone, kExtra, kEvenMore };

struct Case {
    const char* name;
    VK_DWORD (*predicate)(PCDA);
    Kind kind;
    std::vector<Bits> page;
    std::vector<Bits> legacy = {};
    Gate gate = Gate::kNone;
};

#define PRED(f) [](PCDA c) -> VK_DWORD { return f(c); }

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"OPO",
         PRED(VK_ControllerSupportsOPO),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlags2, 0x04)},
         {ID(dwExtraControllerFlags, 0x04)},
         Gate::kExtra},
        {"NWayRAID",
         PRED(VK_ControllerSupportsNWayRAID),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, dwRAIDLevelSupportBitmap, 0x400)},
         {ID_FEATURE(5, 0x03)}},
        {"RapidRebuild",
         PRED(VK_ControllerSupportsRapidRebuild),
         Kind::kPageOrIdentify,
         {PAGE(page_background, bFlags1, 0x20)},
         {ID(dwEvenMoreControllerFlags, 0x20000000)}},
        {"RapidInitialization",
         PRED(VK_ControllerSupportsRapidInitialization),
         Kind::kPageOrIdentify,
         {PAGE(page_background, bFlags1, 0x02)},
         {ID(dwEvenMoreControllerFlags, 0x00800000)}},
        {"PhysicalDriveSanitize",
         PRED(VK_ControllerSupportsPhysicalDriveSanitize),
         Kind::kPageOrIdentify,
         {PAGE(page_background, bFlags1, 0x04)},
         {ID(dwExtraControllerFlags, 0x800)},
         Gate::kExtra},
        {"LongConnectorNames",
         PRED(VK_ControllerSupportsLongConnectorNames),
         Kind::kPageOrIdentify,
         {PAGE(page_connectivity, bFlags, 0x08)},
         {ID(dwExtraControllerFlags, 0x8000)},
         Gate::kExtra},
        {"LongBoxConnectorName",
         PRED(VK_ControllerSupportsLongBoxConnectorName),
         Kind::kPageOrIdentify,
         {PAGE(page_connectivity, bFlags2, 0x01)},
         {ID(dwExtraControllerFlags, 0x02000000)},
         Gate::kExtra},
        {"2TBDrives",
         PRED(VK_ControllerSupports2TBDrives),
         Kind::kPageOrIdentify,
         {PAGE(page_drive, bFlags1, 0x08)},
         {ID(dwEvenMoreControllerFlags, 0x200)}},
        {"NBWC",
         PRED(VK_ControllerSupportsNBWC),
         Kind::kPageOrIdentify,
         {PAGE(page_backup, bFlags, 0x01)},
         {ID(dwYetMoreControllerFlags, 0x08000000)}},
        {"CarrierAuthentication",
         PRED(VK_ControllerSupportsCarrierAuthentication),
         Kind::kPageOrIdentify,
         {PAGE(page_drive, bFlags3, 0x01)},
         {ID(dwEvenMoreControllerFlags, 0x4000)}},
        {"IOBypass",
         PRED(VK_ControllerSupportsIOBypass),
         Kind::kPageOrIdentify,
         {PAGE(page_io, bFlags, 0x02)},
         {ID(dwEvenMoreControllerFlags, 0x20000)}},
        {"FLS",
         PRED(VK_ControllerSupportsFLS),
         Kind::kPageOrIdentify,
         {PAGE(page_io, bFlags, 0x01)},
         {ID(dwEvenMoreControllerFlags, 0x40000000)}},
        {"Encryption",
         PRED(VK_ControllerSupportsEncryption),
         Kind::kPageOrIdentify,
         {PAGE(page_encryption, bFlags1, 0x01)},
         {ID_FEATURE(8, 0x02)}},
        {"SurvivalPowerMode",
         PRED(VK_ControllerSupportsSurvivalPowerMode),
         Kind::kOwnLegacy,
         {PAGE(page_power_management, bSurvivalModeFlag, 0x01)}},
        {"ClearConfigurationBMIC",
         PRED(VK_ControllerSupportsClearConfigurationBMIC),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlags, 0x02)},
         {ID(dwExtraControllerFlags, 0x08)},
         Gate::kExtra},
        {"AutoReplaceSpares",
         PRED(VK_ControllerSupportsAutoReplaceSpares),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlagsForSpares, 0x01)},
         {ID(dwEvenMoreControllerFlags, 0x40000)},
         Gate::kEvenMore},
        {"PredictiveSpareRebuild",
         PRED(VK_ControllerSupportsPredictiveSpareRebuild),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlagsForSpares, 0x04)},
         {ID(dwEvenMoreControllerFlags, 0x8000)},
         Gate::kEvenMore},
        {"SplitMirrorBackup",
         PRED(VK_ControllerSupportsSplitMirrorBackup),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlags, 0xC0)},
         {ID_FEATURE(0, 0xC0), ID_FEATURE(4, 0xC0)}},
        {"ResyncAndRollback",
         PRED(VK_ControllerSupportsResyncAndRollback),
         Kind::kPageOrIdentify,
         {PAGE(page_background, bFlags1, 0x40)},
         {ID(dwEvenMoreControllerFlags, 0x400000)},
         Gate::kEvenMore},
        {"IsSoftwareRAID",
         PRED(VK_ControllerIsSoftwareRAID),
         Kind::kPageOrIdentify,
         {PAGE(page_software_raid, bFlags1, 0x01)},
         {ID(dwYetMoreControllerFlags, 0x04000000)}},
        {"ExtendedDriveMap",
         PRED(_VK_ControllerSupportsExtendedDriveMap),
         Kind::kPageOrIdentify,
         {PAGE(page_raid, bFlags2, 0x08)},
         {ID(bMoreControllerFlags, 0x40)}},
        {"SenseExpansionAbility",
         PRED(VK_ControllerSupportsSenseExpansionAbility),
         Kind::kPageOrIdentify,
         {PAGE(page_background, bFlags1, 0x01)},
         {ID(dwYetMoreControllerFlags, 0x00400000)}},
        {"AdvancedCapacityExpansion",
         PRED(VK_ControllerSupportsAdvancedCapacityExpansion),
         Kind::kPageOrIdentify,
         {PAGE(page_miscellaneous, bFlags2, 0x02)},
         {ID_FEATURE(0, 0x30)}},
        {"HealArray",
         PRED(VK_ControllerSupportsHealArray),
         Kind::kPageOrIdentify,
         {PAGE(page_miscellaneous, bFlags2, 0x02)},
         {ID_FEATURE(0, 0x30)}},
        {"PersistentKeyCache",
         PRED(VK_ControllerSupportsPersistentKeyCache),
         Kind::kPageOrIdentify,
         {PAGE(page_encryption, bFlags1, 0x20)},
         {ID_FEATURE(8, 0x40)}},
        {"KeyManagerConversion",
         PRED(VK_ControllerSupportsKeyManagerConversion),
         Kind::kPageOrIdentify,
         {PAGE(page_encryption, bFlags1, 0x02)},
         {ID_FEATURE(8, 0x04)}},
        {"QueueDepth",
         PRED(VK_ControllerSupportsQueueDepth),
         Kind::kPageOrIdentify,
         {PAGE(page_miscellaneous, bFlags2, 0x01)},
         {ID_FEATURE(0, 0x04)}},
        {"CacheOperations",
         PRED(VK_ControllerSupportsCacheOperations),
         Kind::kOwnLegacy,
         {PAGE(page_cache, bFlags, 0x04)}},
        {"DPO",
         PRED(VK_ControllerSupportsDPO),
         Kind::kOwnLegacy,
         {PAGE(page_raid, dwRAIDLevelSupportBitmap, 0x08), PAGE(page_miscellaneous, bFlags2, 0x01)}},

        {"BootConnectors",
         PRED(VK_ControllerSupportsBootConnectors),
         Kind::kPageOnly,
         {PAGE(page_connectivity, bFlags2, 0x10)}},
        {"BackupPowerSourceInfo",
         PRED(VK_ControllerSupportsBackupPowerSourceInfo),
         Kind::kPageOnly,
         {PAGE(page_backup, bFlags, 0x02)}},
        {"GreenBackupInfo",
         PRED(VK_ControllerSupportsGreenBackupInfo),
         Kind::kPageOnly,
         {PAGE(page_cache, bFlags, 0x10)}},
        {"IOAccelAdvancedWrites",
         PRED(VK_ControllerSupportsIOAccelAdvancedWrites),
         Kind::kPageOnly,
         {PAGE(page_io, bFlags, 0x08)}},
        {"ExpanderMinimumScanDuration",
         PRED(VK_ControllerSupportsExpanderMinimumScanDuration),
         Kind::kPageOnly,
         {PAGE(page_set_controller_params, dwFlags1, 0x08)}},
        {"DefaultPowerMode",
         PRED(VK_ControllerSupportsDefaultPowerMode),
         Kind::kPageOnly,
         {PAGE(page_power_management, bPowerModeSubCommandSupportBitmap, 0x08)}},
        {"WCBT", PRED(VK_ControllerSupportsWCBT), Kind::kPageOnly, {PAGE(page_cache, bFlags, 0x08)}},
        {"DriveWriteCacheForAllDrives",
         PRED(VK_ControllerSupportsDriveWriteCacheForAllDrives),
         Kind::kPageOnly,
         {PAGE(page_drive, bFlags2, 0x08)}},
        {"DriveWriteCacheUnchangedPolicy",
         PRED(_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy),
         Kind::kPageOnly,
         {PAGE(page_drive, bFlags2, 0x08), PAGE(page_drive, bFlags3, 0x02)}},
        {"FamilyID",
         PRED(VK_ControllerSupportsFamilyID),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags3, 0x02)}},
        {"MissingDrives",
         PRED(VK_ControllerSupportsMissingDrives),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags3, 0x04)}},
        {"NotifyOnAnyBroadcast",
         PRED(VK_ControllerSupportsNotifyOnAnyBroadcast),
         Kind::kPageOnly,
         {PAGE(page_set_controller_params, dwFlags1, 0x02)}},
        {"PCIeRelaxedOrdering",
         PRED(VK_ControllerSupportsPCIeRelaxedOrdering),
         Kind::kPageOnly,
         {PAGE(page_set_controller_params, dwFlags1, 0x04)}},
        {"ConfigurableLUCacheLineSize",
         PRED(VK_ControllerSupportsConfigurableLUCacheLineSize),
         Kind::kPageOnly,
         {PAGE(page_lu_cache, bFlags, 0x80)}},
        {"NVMe", PRED(VK_ControllerSupportsNVMe), Kind::kPageOnly, {PAGE(page_nvme, bNVMeFlags, 0x01)}},
        {"EncryptionFeatureBreakout",
         PRED(VK_ControllerSupportsEncryptionFeatureBreakout),
         Kind::kPageOnly,
         {PAGE(page_encryption, bFlags1, 0x40)}},
        {"PreviousCacheRatioSettings",
         PRED(VK_ControllerSupportsPreviousCacheRatioSettings),
         Kind::kPageOnly,
         {PAGE(page_cache_ratio, bFlags, 0x01)}},
        {"OFASoftReset",
         PRED(VK_ControllerSupportsOFASoftReset),
         Kind::kPageOnly,
         {PAGE(page_online_firmware_activation, bOFASupport, 0x04)}},
        {"SED", PRED(VK_ControllerSupportsSED), Kind::kPageOnly, {PAGE(page_drive, bFlags2, 0x10)}},
        {"SEDSecurityRefresh",
         PRED(VK_ControllerSupportsSEDSecurityRefresh),
         Kind::kPageOnly,
         {PAGE(page_drive, bFlags2, 0x20)}},
        {"RebootReasons",
         PRED(VK_ControllerSupportsRebootReasons),
         Kind::kPageOnly,
         {PAGE(page_id_controller, dwFlags1, 0x02)}},
        {"DebugToken",
         PRED(VK_ControllerSupportsDebugToken),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags3, 0x80)}},
        {"FullLengthDeviceModel",
         PRED(_VK_ControllerSupportsFullLengthDeviceModel),
         Kind::kPageOnly,
         {PAGE(page_drive, bFlags2, 0x40)}},
        {"OEMExtendedDriveData",
         PRED(_VK_ControllerSupportsOEMExtendedDriveData),
         Kind::kPageOnly,
         {PAGE(page_drive, bFlags2, 0x80)}},
        {"FlashOnce",
         PRED(VK_ControllerFlashOnce),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags3, 0x40)}},
        {"PersistentEventLog",
         PRED(VK_ControllerSupportsPersistentEventLog),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags4, 0x01)}},
        {"UBMProgrammingCapability",
         PRED(_VK_ControllerSupportsUBMProgrammingCapability),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags5, 0x01)}},
        {"ReenablePhysicaldrive",
         PRED(VK_ControllerSupportsReenablePhysicaldrive),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags4, 0x20)}},
        {"SettingPersistentEventLogPolicy",
         PRED(VK_ControllerSupportsSettingPersistentEventLogPolicy),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags4, 0x80)}},
        {"ConnectorActivePhyMap",
         PRED(VK_ControllerSupportsConnectorActivePhyMap),
         Kind::kPageOnly,
         {PAGE(page_subsystem_info, bFlags, 0x01)}},
        {"InconsistencyEventNotification",
         PRED(VK_ControllerSupportsInconsistencyEventNotification),
         Kind::kPageOnly,
         {PAGE(page_miscellaneous, bFlags1, 0x10)}},
        {"HardwareMinorRevision",
         PRED(VK_ControllerSupportsHardwareMinorRevision),
         Kind::kPageOnly,
         {PAGE(page_id_controller, dwFlags1, 0x04)}},
        {"MPSAndMRRS",
         PRED(__VK_ControllerSupportsMPSAndMRRS),
         Kind::kPageOnly,
         {PAGE(page_io, bFlags, 0x40)}},
        {"MaxReadRequestSize",
         PRED(VK_ControllerSupportsMaxReadRequestSize),
         Kind::kPageOnly,
         {PAGE(page_io, bFlags, 0x40)}},
        {"MaxPayloadSize",
         PRED(VK_ControllerSupportsMaxPayloadSize),
         Kind::kPageOnly,
         {PAGE(page_io, bFlags, 0x40)}},
        {"UEFIKMS",
         PRED(VK_ControllerSupportsUEFIKMS),
         Kind::kPageOnly,
         {PAGE(page_encryption, bFlags1, 0x80)}},
        {"SurfaceAnalysisInfo",
         PRED(VK_ControllerSupportsSurfaceAnalysisInfo),
         Kind::kPageOnly,
         {PAGE(page_background, bFlags2, 0x02)}},
        {"UEFIDriverHealthReporting",
         PRED(VK_ControllerSupportsUEFIDriverHealthReporting),
         Kind::kPageOnly,
         {PAGE(page_set_controller_params, dwFlags1, 0x10)}},
    };
    return cases;
}

// A zeroed data area with no lock and no controller: every answer comes from the cached buffers.
class Predicates : public ::testing::Test {
protected:
    Predicates() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) { Reset(); }

    void Reset() {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
    }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    VK_BYTE* pages() { return reinterpret_cast<VK_BYTE*>(&c()->sense_feature); }
    VK_BYTE* identify() { return reinterpret_cast<VK_BYTE*>(&c()->identify_controller_buffer); }

    // A controller with feature pages, read already.
    void WithPages() {
        c()->identify_controller_buffer.dwEvenMoreControllerFlags = kPagesOffered;
        c()->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
    }
    // Identify filled with `fill` but never offering pages.
    void Legacy(VK_BYTE fill) {
        std::memset(identify(), fill, sizeof(IDENTIFY_CONTROLLER));
        c()->identify_controller_buffer.dwEvenMoreControllerFlags &= ~kPagesOffered;
    }
    void OpenGate(Gate gate) {
        auto& id = c()->identify_controller_buffer;
        if (gate == Gate::kNone) {
            return;
        }
        id.dwYetMoreControllerFlags |= kLongFlagsValid;
        id.dwFixedStructureLength = gate == Gate::kExtra ? 287 : 269;
    }

    static void Set(VK_BYTE* base, const std::vector<Bits>& bits) {
        for (const Bits& b : bits) {
            base[b.offset] |= b.mask;
        }
    }
    static void Clear(VK_BYTE* base, const std::vector<Bits>& bits) {
        for (const Bits& b : bits) {
            base[b.offset] &= static_cast<VK_BYTE>(~b.mask);
        }
    }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

TEST_F(Predicates, FeaturePageBitsDecideEachAnswerExactly) {
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        Reset();
        WithPages();
        EXPECT_EQ(k.predicate(cda()), 0u) << "no page bit";
        Set(pages(), k.page);
        EXPECT_EQ(k.predicate(cda()), 1u) << "only its page bits";

        // Every other page bit set, and the legacy flags too: still no.
        std::memset(pages(), 0xFF, sizeof(SENSE_FEATURE_PAGES));
        Clear(pages(), k.page);
        std::memset(identify(), 0xFF, sizeof(IDENTIFY_CONTROLLER));
        EXPECT_EQ(k.predicate(cda()), 0u) << "all but its page bits";

        // Where several bits count, each one is needed.
        for (const Bits& b : k.page) {
            for (VK_BYTE bit = 1; bit != 0; bit = static_cast<VK_BYTE>(bit << 1)) {
                if ((b.mask & bit) == 0) {
                    continue;
                }
                std::memset(pages(), 0, sizeof(SENSE_FEATURE_PAGES));
                Set(pages(), k.page);
                pages()[b.offset] &= static_cast<VK_BYTE>(~bit);
                EXPECT_EQ(k.predicate(cda()), 0u)
                    << "page byte " << b.offset << " bit " << int(bit) << " missing";
            }
        }
    }
}

TEST_F(Predicates, WithoutPagesTheOlderIdentifyFlagsAnswer) {
    for (const Case& k : Cases()) {
        if (k.kind == Kind::kOwnLegacy) {
            continue;
        }
        SCOPED_TRACE(k.name);
        // The page record is ignored without pages, whatever it holds.
        Reset();
        std::memset(pages(), 0xFF, sizeof(SENSE_FEATURE_PAGES));
        c()->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
        if (k.kind == Kind::kPageOnly) {
            Legacy(0xFF);
            EXPECT_EQ(k.predicate(cda()), 0u);
            continue;
        }
        Legacy(0);
        OpenGate(k.gate);
        EXPECT_EQ(k.predicate(cda()), 0u) << "no legacy bit";
        Set(identify(), k.legacy);
        EXPECT_EQ(k.predicate(cda()), 1u) << "only its legacy bits";

        Legacy(0xFF);
        OpenGate(k.gate);
        Clear(identify(), k.legacy);
        EXPECT_EQ(k.predicate(cda()), 0u) << "all but its legacy bits";

        for (const Bits& b : k.legacy) {
            for (VK_BYTE bit = 1; bit != 0; bit = static_cast<VK_BYTE>(bit << 1)) {
                if ((b.mask & bit) == 0) {
                    continue;
                }
                Legacy(0);
                OpenGate(k.gate);
                Set(identify(), k.legacy);
                identify()[b.offset] &= static_cast<VK_BYTE>(~bit);
                EXPECT_EQ(k.predicate(cda()), 0u) << "identify byte " << b.offset << " bit " << int(bit);
            }
        }
    }
}

TEST_F(Predicates, GatedIdentifyWordsCountOnlyPastTheirLength) {
    struct Probe {
        Gate gate;
        VK_DWORD length;
        bool valid_bit;
        bool expected;
    };
    const Probe probes[] = {
        {Gate::kExtra, 287, true, true},     {Gate::kExtra, 286, true, false},
        {Gate::kExtra, 1024, false, false},  {Gate::kEvenMore, 269, true, true},
        {Gate::kEvenMore, 268, true, false}, {Gate::kEvenMore, 1024, false, false},
    };
    for (const Case& k : Cases()) {
        if (k.gate == Gate::kNone) {
            continue;
        }
        for (const Probe& p : probes) {
            if (p.gate != k.gate) {
                continue;
            }
            SCOPED_TRACE(::testing::Message() << k.name << " length " << p.length << " bit " << p.valid_bit);
            Reset();
            Legacy(0);
            Set(identify(), k.legacy);
            auto& id = c()->identify_controller_buffer;
            id.dwFixedStructureLength = p.length;
            id.dwYetMoreControllerFlags = p.valid_bit ? kLongFlagsValid : 0;
            EXPECT_EQ(k.predicate(cda()), p.expected ? 1u : 0u);
        }
    }
}

TEST_F(Predicates, UnreadablePagesAnswerNoEvenWhereIdentifySaysYes) {
    // No controller behind the data area: the page read fails, and nothing falls back to IDENTIFY.
    std::memset(identify(), 0xFF, sizeof(IDENTIFY_CONTROLLER));
    for (const Case& k : Cases()) {
        SCOPED_TRACE(k.name);
        EXPECT_EQ(k.predicate(cda()), 0u);
    }
    EXPECT_EQ(VK_ControllerSupportsPhysicalDriveErase(cda()), kFalse);
    EXPECT_EQ(VK_ControllerSupportsSanitizeLock(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsOOBCommands(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()), 0u);
}

TEST_F(Predicates, LegacyAnswersWithTheirOwnRules) {
    auto& id = c()->identify_controller_buffer;

    // Older firmware flags parity RAID's absence.
    Legacy(0);
    EXPECT_EQ(VK_ControllerSupportsParityRAID(cda()), kTrue);
    id.dwYetMoreControllerFlags = 0x01;
    EXPECT_EQ(VK_ControllerSupportsParityRAID(cda()), kFalse);
    WithPages();
    id.dwYetMoreControllerFlags = 0;
    EXPECT_EQ(VK_ControllerSupportsParityRAID(cda()), kFalse);
    c()->sense_feature.page_raid.dwRAIDLevelSupportBitmap = 0x08;
    EXPECT_EQ(VK_ControllerSupportsParityRAID(cda()), kTrue);

    // DPO needs parity RAID and the performance settings flag.
    Reset();
    Legacy(0);
    EXPECT_EQ(VK_ControllerSupportsDPO(cda()), kFalse);
    id.pbFeaturesSupported[0] = 0x04;
    EXPECT_EQ(VK_ControllerSupportsDPO(cda()), kTrue);
    id.dwYetMoreControllerFlags = 0x01;
    EXPECT_EQ(VK_ControllerSupportsDPO(cda()), kFalse);

    // Any survival-mode byte counts.
    Reset();
    Legacy(0);
    EXPECT_EQ(VK_ControllerSupportsSurvivalPowerMode(cda()), kFalse);
    id.pbFeaturesSupported[10] = 0x10;
    EXPECT_EQ(VK_ControllerSupportsSurvivalPowerMode(cda()), kTrue);

    // Erase: always with pages once read; the IDENTIFY bit without.
    Reset();
    WithPages();
    EXPECT_EQ(VK_ControllerSupportsPhysicalDriveErase(cda()), kTrue);
    Legacy(0xFF);
    id.pbFeaturesSupported[0] = 0xFE;
    EXPECT_EQ(VK_ControllerSupportsPhysicalDriveErase(cda()), kFalse);
    id.pbFeaturesSupported[0] = 0x01;
    EXPECT_EQ(VK_ControllerSupportsPhysicalDriveErase(cda()), kTrue);
}

TEST_F(Predicates, CacheOperationsFallBackToTheCacheBoardBehindAClosedGate) {
    auto& id = c()->identify_controller_buffer;
    Legacy(0);
    id.dwExtraControllerFlags = 0x80;
    c()->flags[kCDAFlagsBuffers] |= kCDAValidCacheConfigStatus;
    c()->sense_cache_config_status_buffer.bBoardPresent = 0;
    EXPECT_EQ(VK_ControllerSupportsCacheOperations(cda()), kFalse) << "gate closed, no board";
    c()->sense_cache_config_status_buffer.bBoardPresent = 1;
    EXPECT_EQ(VK_ControllerSupportsCacheOperations(cda()), kTrue) << "gate closed, board";

    OpenGate(Gate::kExtra);
    EXPECT_EQ(VK_ControllerSupportsCacheOperations(cda()), kTrue) << "gate open, flag";
    id.dwExtraControllerFlags = 0x7F;
    EXPECT_EQ(VK_ControllerSupportsCacheOperations(cda()), kFalse) << "gate open, board ignored";

    // Gate closed and the cache buffer unreadable.
    id.dwYetMoreControllerFlags = 0;
    c()->flags[kCDAFlagsBuffers] &= ~kCDAValidCacheConfigStatus;
    EXPECT_EQ(VK_ControllerSupportsCacheOperations(cda()), kFalse);
}

TEST_F(Predicates, ValuePredicatesMaskTheirPageFields) {
    WithPages();
    auto& p = c()->sense_feature;
    std::memset(&p, 0xFF, sizeof(p));
    EXPECT_EQ(VK_ControllerSupportsOnlineFirmwareActivation(cda()),
              static_cast<VK_DWORD>(kControllerOnlineFirmwareActivationSupported |
                                    kControllerOnlineFirmwareActivationEnabled));
    EXPECT_EQ(VK_ControllerSupportsSEDEncryption(cda()), 0x7u);
    EXPECT_EQ(VK_GetControllerConnectorDiscoveryConfigurationSupport(cda()), 0x0F);
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()),
              static_cast<VK_DWORD>(kControllerSupports4knRAID | kControllerSupportsNVMeRAID));
    EXPECT_EQ(VK_ControllerSupportsOOBCommands(cda()), 0xFF);

    p.page_raid.bFlags2 = static_cast<VK_BYTE>(~0x20);
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()),
              static_cast<VK_DWORD>(kControllerSupportsNVMeRAID));
    p.page_nvme.bNVMeFlags = static_cast<VK_BYTE>(~0x02);
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()), 0u);
    p.page_raid.bFlags2 = 0x20;
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()),
              static_cast<VK_DWORD>(kControllerSupports4knRAID));

    p.page_manufacturing_data.bOEMID = 0xA5;
    EXPECT_EQ(_VK_GetControllerOEMID(cda()), 0xA5);
    p.page_oob_command.bSubcommandsSupported = 0x05;
    EXPECT_EQ(VK_ControllerSupportsOOBCommands(cda()), 0x05);

    // Without pages the value predicates answer 0.
    Legacy(0xFF);
    EXPECT_EQ(VK_ControllerSupportsOnlineFirmwareActivation(cda()), 0u);
    EXPECT_EQ(VK_ControllerSupportsSEDEncryption(cda()), 0u);
    EXPECT_EQ(VK_GetControllerConnectorDiscoveryConfigurationSupport(cda()), 0);
    EXPECT_EQ(VK_ControllerSupportsAdditionalRAIDInfo(cda()), 0u);
    EXPECT_EQ(_VK_GetControllerOEMID(cda()), 0);
}

TEST_F(Predicates, SanitizeLockReadsThePagesWithoutAskingFirst) {
    WithPages();
    EXPECT_EQ(VK_ControllerSupportsSanitizeLock(cda()), 0);
    c()->sense_feature.page_background_erase.bSanitizeLockSupport = 0x01;
    EXPECT_EQ(VK_ControllerSupportsSanitizeLock(cda()),
              kSanitizeLockFreezeSupported | kSanitizeLockAntiFreezeSupported);
    c()->sense_feature.page_background_erase.bSanitizeLockSupport = 0xFE;
    EXPECT_EQ(VK_ControllerSupportsSanitizeLock(cda()), 0);

    // Without pages the loader hands back an empty record, whatever was there.
    Legacy(0xFF);
    c()->sense_feature.page_background_erase.bSanitizeLockSupport = 0x01;
    EXPECT_EQ(VK_ControllerSupportsSanitizeLock(cda()), 0);
}

TEST_F(Predicates, OutOfBandCommandsWithoutPagesFollowTheDescriptorProtocol) {
    Legacy(0);
    EXPECT_EQ(VK_ControllerSupportsOOBCommands(cda()), 0) << "no descriptor";
    struct Probe {
        VK_WORD protocol;
        VK_BYTE expected;
    };
    for (const Probe& p : {Probe{kProtocolTypeSIS, 3}, Probe{kProtocolTypePQI, 0},
                           Probe{kProtocolTypeCISS, 0}, Probe{0x0101, 0}}) {
        SCOPED_TRACE(p.protocol);
        // Total length, then the protocol-type entry: id, data length, data.
        VK_BYTE descriptor[] = {7,
                                0,
                                kDevicePropertyProtocolType,
                                2,
                                0,
                                static_cast<VK_BYTE>(p.protocol),
                                static_cast<VK_BYTE>(p.protocol >> 8)};
        c()->controller_handle = descriptor;
        EXPECT_EQ(VK_ControllerSupportsOOBCommands(cda()), p.expected);
        c()->controller_handle = nullptr;
    }
}

TEST_F(Predicates, OtherBuffersAnswerFromTheirCopies) {
    auto& id = c()->identify_controller_buffer;
    Legacy(0);
    id.bMoreControllerFlags = 0x20;
    EXPECT_EQ(VK_ControllerSupportsDriveWriteCache(cda()), kTrue);
    id.dwYetMoreControllerFlags = 0x4000;
    EXPECT_EQ(VK_ControllerSupportsDriveWriteCache(cda()), kFalse);
    id.dwYetMoreControllerFlags = 0;
    id.bMoreControllerFlags = static_cast<VK_BYTE>(~0x20);
    EXPECT_EQ(VK_ControllerSupportsDriveWriteCache(cda()), kFalse);

    // No controller: the cache and surface buffers cannot be read.
    EXPECT_EQ(VK_ControllerSupportsWaitForCacheRoom(cda()), kFalse);
    EXPECT_EQ(VK_ControllerSupportsMaxPSSCount(cda()), 0);

    c()->flags[kCDAFlagsBuffers] |= kCDAValidCacheConfigStatus | kCDAValidSurfaceStatus;
    c()->sense_cache_config_status_buffer.bCacheSupportFlags = 0x04;
    EXPECT_EQ(VK_ControllerSupportsWaitForCacheRoom(cda()), kTrue);
    c()->sense_cache_config_status_buffer.bCacheSupportFlags = static_cast<VK_BYTE>(~0x04);
    EXPECT_EQ(VK_ControllerSupportsWaitForCacheRoom(cda()), kFalse);
    c()->surface_status_buffer.bMaxParallelScanLimit = 6;
    EXPECT_EQ(VK_ControllerSupportsMaxPSSCount(cda()), 6);

    // Pages never change these answers.
    WithPages();
    std::memset(pages(), 0, sizeof(SENSE_FEATURE_PAGES));
    EXPECT_EQ(VK_ControllerSupportsWaitForCacheRoom(cda()), kFalse);
    EXPECT_EQ(VK_ControllerSupportsMaxPSSCount(cda()), 6);
}

TEST(PredicatesWithoutController, PSSIsAlwaysSupported) {
    EXPECT_EQ(VK_ControllerSupportsPSS(nullptr), kTrue);
    EXPECT_EQ(VK_ControllerSupportsOPO(nullptr), kFalse);
    EXPECT_EQ(VK_ControllerSupportsDebugToken(nullptr), kFalse);
    EXPECT_EQ(VK_ControllerSupportsOOBCommands(nullptr), 0);
}

} // namespace
