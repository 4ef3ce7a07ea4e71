// Controller status word, backup power, health and reboot reasons, and the encryption and managed-SED
// words, decoded from hand-built replies; the getters read hand-built cached copies.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pavl_bytes.h"
#include "pavl_descriptor.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_encryption_words.h"
#include "telm_private.h"
#include "telm_status_controller.h"

namespace {

using pavlin::ByteView;

template <typename T> ByteView View(const T& record) {
    return ByteView(&record, sizeof(record));
}

// ---- Status word ---------------------------------------------------------------------------------

struct StatusCase {
    const char* name;
    VK_DWORD cache_flags;
    VK_WORD disable_code;
    bool dirty_software_raid; // features[3] 0x06, hardware status[2] 0x01, one logical unit
    VK_DWORD even_more;
    VK_DWORD extra;
    VK_DWORD expected; // without the configuration byte
};

TEST(ControllerStatusWord, StatusCacheAndFlagsFollowTheirOverwriteOrder) {
    const StatusCase cases[] = {
        {"cache OK", 0x1, 0, false, 0, 0, 0x00000011},
        {"not configured", 0x0, 0x22, false, 0, 0, 0x00000021},
        {"permanently disabled, cannot read: cache problem", 0x4, 0x11, false, 0, 0, 0x00001144},
        {"the same with a dirty software-RAID cache keeps OK", 0x4, 0x11, true, 0, 0, 0x00201141},
        {"temporarily disabled, hot removed: no cache problem", 0x2, 22, false, 0, 0, 0x00001631},
        {"both disable bits read as temporarily", 0x6, 0x12, false, 0, 0, 0x00001234},
        {"only the low byte of the code is kept", 0x2, 0x0121, false, 0, 0, 0x00002131},
        {"board mismatch code 0 is a cache problem", 0x4, 0x00, false, 0, 0, 0x00000044},
        {"bad ZMR", 0x1, 0, false, 0x100, 0, 0x00000013},
        {"incompatible module overrides cache problem", 0x4 | 0x80000, 0x11, false, 0, 0, 0x00001145},
        {"firmware downgrade overrides incompatible module", 0x1 | 0x80000, 0, false, 0, 0x10000000, 0x00000016},
        {"valid data, low battery, flash detached", 0x1 | 0x8 | 0x10 | 0x20000, 0, false, 0, 0, 0x00070011},
        {"other state from any other flag bit", 0x1 | 0x20, 0, false, 0, 0, 0x00100011},
        {"failsafe speed from IDENTIFY", 0x1, 0, false, 0x8000000, 0, 0x00080011},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        IDENTIFY_CONTROLLER id = {};
        CACHE_CONFIG_STATUS cache = {};
        id.dwEvenMoreControllerFlags = c.even_more;
        id.dwExtraControllerFlags = c.extra;
        cache.dwCacheFlags = c.cache_flags;
        cache.wCacheDisableCode = c.disable_code;
        if (c.dirty_software_raid) {
            id.pbFeaturesSupported[3] = 0x06;
            id.wExtendedLogicalUnitCount = 1;
            cache.bDetailedCindervaneHardwareStatus[2] = 0x01;
        }
        EXPECT_EQ(telmar::DecodeControllerStatus(View(id), View(cache)), c.expected);
    }
}

TEST(ControllerStatusWord, DirtySoftwareRAIDCacheNeedsEveryCondition) {
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        IDENTIFY_CONTROLLER id = {};
        CACHE_CONFIG_STATUS cache = {};
        id.pbFeaturesSupported[3] = missing == 0 ? 0x02 : 0x06;
        cache.bDetailedCindervaneHardwareStatus[2] = missing == 1 ? 0x00 : 0x01;
        id.wExtendedLogicalUnitCount = missing == 2 ? 0 : 1;
        cache.dwCacheFlags = 0x4;
        cache.wCacheDisableCode = 0x11;
        EXPECT_EQ(telmar::DecodeControllerStatus(View(id), View(cache)), 0x00001144u);
    }
}

TEST(ControllerStatusWord, UnreadableOrShortBuffersGiveOnlyWhatTheyHold) {
    IDENTIFY_CONTROLLER id = {};
    id.dwExtraControllerFlags = 0x10000000;
    // No cache buffer: no cache status at all.
    EXPECT_EQ(telmar::DecodeControllerStatus(View(id), std::nullopt), 0x00000006u);
    // A view too short for IDENTIFY's flags: plain OK, nothing read past its end.
    const VK_BYTE shortened[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(telmar::DecodeControllerStatus(ByteView(shortened, sizeof shortened), std::nullopt), 0x00000001u);
}

TEST(ControllerStatusWord, ConfigurationStatusFromTheWalk) {
    struct Case {
        const char* name;
        telmar::ConfigurationWalk walk;
        VK_WORD cable_flags;
        VK_DWORD expected;
    } const cases[] = {
        {"no logical drives", {false, false, false}, 0x1000, 0x01000000},
        {"all well", {true, false, false}, 0, 0x01000000},
        {"a volume in status 6", {true, false, true}, 0, 0x10000000},
        {"unsupported version", {true, true, false}, 0, 0x02000000},
        {"both", {true, true, true}, 0, 0x12000000},
        {"SED locked with dirty cache", {true, false, false}, 0x1000, 0x30000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(telmar::ConfigurationStatusBits(c.walk, c.cable_flags), c.expected);
    }
}

TEST(ControllerHealth, FlagByteIsComparedAsAWhole) {
    struct Case {
        const char* name;
        VK_DWORD word;
        VK_BYTE health;
    } const cases[] = {
        {"all OK", 0x01000011, kControllerHealthOK},
        {"cache not configured", 0x01000021, kControllerHealthOK},
        {"valid data and low battery together", 0x01030011, kControllerHealthOK},
        {"valid data alone", 0x01010011, kControllerHealthWarning},
        {"failsafe speed alone", 0x01080011, kControllerHealthWarning},
        {"cache temporarily disabled", 0x01001631, kControllerHealthWarning},
        {"other state alone", 0x01100011, kControllerHealthCritical},
        {"dirty software-RAID cache alone", 0x01200011, kControllerHealthCritical},
        {"cache problem", 0x01001144, kControllerHealthCritical},
        {"firmware downgrade", 0x01000016, kControllerHealthCritical},
        {"abnormal volume state", 0x10000011, kControllerHealthCritical},
        {"good and version mismatch together", 0x03000011, kControllerHealthCritical},
        {"unknown status 7", 0x01000017, kControllerHealthOK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(telmar::HealthFromStatusWord(c.word), c.health);
    }
}

// ---- Backup power ----------------------------------------------------------------------------------

TEST(BackupPowerSourceStatus, FiveRulesInOrder) {
    struct Case {
        const char* name;
        VK_WORD count, installed, failed, good;
        VK_DWORD flags;
        VK_WORD code;
        VK_DWORD fixed_length;
        VK_WORD expected;
    } const cases[] = {
        {"none", 0, 0x1, 0x1, 0x1, 0x4, 1, 264, kControllerBackupPowerSourceNotPresent},
        {"failed before disabled", 1, 0x1, 0x1, 0x1, 0x4, 1, 264, kControllerBackupPowerSourceFailed},
        {"disabled, low batteries", 1, 0x1, 0, 0x1, 0x2, 1, 264, kControllerBackupPowerSourcePresentAndCharging},
        {"disabled, capacitor low", 1, 0x1, 0, 0x1, 0x4, 12, 264, kControllerBackupPowerSourcePresentAndCharging},
        {"disabled for another reason", 1, 0x1, 0, 0, 0x2, 22, 264, kControllerBackupPowerSourcePresentAndCharged},
        {"one of two installed good, long", 1, 0x3, 0, 0x1, 0x1, 0, 229, kControllerBackupPowerSourcePresentAndCharging},
        {"one of two installed good, short", 1, 0x3, 0, 0x1, 0x1, 0, 228, kControllerBackupPowerSourcePresentAndCharged},
        {"count 2, one good, long", 2, 0x3, 0, 0x1, 0x1, 0, 229, kControllerBackupPowerSourcePresentAndCharging},
        {"count 2, one good, short", 2, 0x3, 0, 0x1, 0x1, 0, 100, kControllerBackupPowerSourcePresentAndCharging},
        {"all good", 2, 0x3, 0, 0x3, 0x1, 0, 264, kControllerBackupPowerSourcePresentAndCharged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CACHE_CONFIG_STATUS cache = {};
        cache.wBatteryCount = c.count;
        cache.wInstalledBatteries = c.installed;
        cache.wFailedBatteries = c.failed;
        cache.wBatteryStatus = c.good;
        cache.dwCacheFlags = c.flags;
        cache.wCacheDisableCode = c.code;
        cache.dwFixedStructureLength = c.fixed_length;
        EXPECT_EQ(telmar::DecodeBackupPowerSourceStatus(View(cache)), c.expected);
    }
}

TEST(BackupPowerSourceInfo, ReplyWordsInRecordOrder) {
    const VK_BYTE reply[18] = {0x0A, 0x20, 0xF6, 0xFF, 0x10, 0x27, 0x1E, 0x00, 0x64, 0x00,
                               0x38, 0xFF, 0x37, 0x00, 0x05, 0x00, 0x5A, 0x00};
    VK_BACKUP_POWER_SOURCE_INFO info = {};
    ASSERT_TRUE(telmar::DecodeBackupPowerSourceInfo(ByteView(reply, sizeof reply), &info));
    EXPECT_EQ(info.status, 0x200A);
    EXPECT_EQ(info.max_temperature, -10);
    EXPECT_EQ(info.max_voltage, 10000);
    EXPECT_EQ(info.temperature, 30);
    EXPECT_EQ(info.voltage, 100);
    EXPECT_EQ(info.current, -200);
    EXPECT_EQ(info.temp_threshold, 55);
    EXPECT_EQ(info.health, 5);
    EXPECT_EQ(info.charge_state, 90);

    VK_BACKUP_POWER_SOURCE_INFO untouched = {};
    untouched.health = 0x1234;
    EXPECT_FALSE(telmar::DecodeBackupPowerSourceInfo(ByteView(reply, 17), &untouched));
    EXPECT_EQ(untouched.health, 0x1234);
}

TEST(GreenBackupInfo, FieldsComeFromTheCacheStatus) {
    CACHE_CONFIG_STATUS cache = {};
    cache.bBackupPowerStatus = kGreenBackupInfoStatusCharged;
    cache.wTotalNumberOfBackups = 7;
    cache.dwLastBackupTime = 0x11223344;
    cache.dwLastRestoreTime = 0x55667788;
    cache.bGreenBackupProcessorVersionMajor = 2;
    cache.bGreenBackupProcessorVersionMinor = 9;
    cache.wBackupHardwareError = kGreenBackupInfoHardwareNANDEraseError;
    cache.bGreenBackupFlags = kGreenBackupInfoFlagsPreservationSet;
    GREEN_BACKUP_INFO info = {};
    telmar::DecodeGreenBackupInfo(View(cache), &info);
    EXPECT_EQ(info.status, kGreenBackupInfoStatusCharged);
    EXPECT_EQ(info.total_backups, 7);
    EXPECT_EQ(info.last_backup_time, 0x11223344u);
    EXPECT_EQ(info.last_restore_time, 0x55667788u);
    EXPECT_EQ(info.processor_version_major, 2);
    EXPECT_EQ(info.processor_version_minor, 9);
    EXPECT_EQ(info.hardware_error, kGreenBackupInfoHardwareNANDEraseError);
    EXPECT_EQ(info.flags, kGreenBackupInfoFlagsPreservationSet);

    // A cache reply that ends before the restore time: that field reads 0, the rest is filled.
    GREEN_BACKUP_INFO shortened = {};
    telmar::DecodeGreenBackupInfo(ByteView(&cache, offsetof(CACHE_CONFIG_STATUS, dwLastRestoreTime)), &shortened);
    EXPECT_EQ(shortened.last_restore_time, 0u);
    EXPECT_EQ(shortened.total_backups, 7);
}

// ---- Reboot reasons --------------------------------------------------------------------------------

TEST(RebootReasons, IdentifyBitsMapOneByOne) {
    struct Case {
        VK_DWORD reason;
        VK_QWORD expected;
    } const cases[] = {
        {0x80001000, 0x8000000000000001ULL},
        {0x1, kControllerRebootRequiredControllerFirmwareUpdate},
        {0x2, kControllerRebootRequiredCPLDUpdate},
        {0x4, kControllerRebootRequiredPowerMode},
        {0x8, kControllerRebootRequiredConnectorDiscoveryConfiguration},
        {0x10, kControllerRebootRequiredOOBInterface},
        {0x20, kControllerRebootRequiredUnlockedSEDWithConfigMetadata},
        {0x40, kControllerRebootRequiredPCIeOrdering},
        {0x80, kControllerRebootRequiredPCIeMaxReadRequestSizeChange},
        {0x100, kControllerRebootRequiredEncryptionEnablement},
        {0x200, kControllerRebootRequiredEncryptionReset},
        {0x400, kControllerRebootRequiredUnknownReason},
        {0x40000000, kControllerRebootRequiredUnknownReason},
        {0, kControllerNoRebootRequired},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(telmar::IdentifyRebootReasons(c.reason), c.expected);
    }
}

TEST(RebootReasons, PowerModeWarnings) {
    EXPECT_EQ(telmar::PowerModeRebootReasons(0x0010), kControllerRebootRequiredPowerMode);
    EXPECT_EQ(telmar::PowerModeRebootReasons(0x0100), kControllerRebootRecommendedPowerMode);
    EXPECT_EQ(telmar::PowerModeRebootReasons(0x0200), kControllerRebootRecommendedPowerMode);
    EXPECT_EQ(telmar::PowerModeRebootReasons(0x0400), 0x1u);
    EXPECT_EQ(telmar::PowerModeRebootReasons(0x00EF), 0u); // modes and the other warnings
}

// ---- Getters on hand-built cached copies -----------------------------------------------------------

// A zeroed data area with no lock and no controller: the getters read the cached copies only.
class CachedController : public ::testing::Test {
protected:
    CachedController() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidCacheConfigStatus;
    }
    ~CachedController() override { PN_DestroyDeviceDescriptor(c()->controller_handle); }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }

private:
    std::unique_ptr<VK_BYTE[]> memory_;
};

TEST_F(CachedController, StatusWordOfAControllerWithoutLogicalDrives) {
    c()->sense_cache_config_status_buffer.dwCacheFlags = 0x4;
    c()->sense_cache_config_status_buffer.wCacheDisableCode = 0x11;
    c()->identify_controller_buffer.wYetMoreSwappedCableFlags = 0x1800; // counts only with logical drives
    const VK_DWORD word = VK_GetControllerStatusInfo(cda());
    EXPECT_EQ(word, 0x01001144u);
    EXPECT_EQ(CONTROLLER_STATUS(word), kControllerStatusCacheProblem);
    EXPECT_EQ(CACHE_STATUS(word), kControllerCacheStatusPermanentlyDisabled);
    EXPECT_EQ(CONTROLLER_CACHE_STATE(word), kControllerCacheState17CannotReadData);
    EXPECT_EQ(CONTROLLER_CONFIG_STATUS(word), kControllerConfigStatusOK);
    EXPECT_EQ(VK_GetControllerHealth(cda()), kControllerHealthCritical);
}

TEST_F(CachedController, NullArgumentsGiveTheirResults) {
    EXPECT_EQ(VK_GetControllerStatusInfo(nullptr), static_cast<VK_DWORD>(kControllerStatusFailed));
    EXPECT_EQ(VK_GetControllerBackupPowerSourceStatus(nullptr), kControllerBackupPowerSourceNotPresent);
    EXPECT_EQ(VK_GetControllerBackupPowerSourceInfo(cda(), nullptr), kGetControllerBackupPowerSourceInfoInvalidInfoBuffer);
    EXPECT_EQ(VK_GetControllerGreenBackupInfo(cda(), nullptr), kGetControllerGreenBackupInfoInvalidInfoBuffer);
    // No power source: answered from the cached copy, before any command.
    VK_BACKUP_POWER_SOURCE_INFO info = {};
    EXPECT_EQ(VK_GetControllerBackupPowerSourceInfo(cda(), &info),
              kGetControllerBackupPowerSourceInfoPowerSourceNotConnected);
}

// ---- Encryption and managed-SED words -------------------------------------------------------------

TEST(EncryptionWords, KeyCacheWord) {
    struct Case {
        const char* name;
        VK_DWORD supported;
        VK_DWORD flags;
        VK_DWORD encryption_status;
        VK_QWORD expected;
    } const cases[] = {
        {"key cache not supported", 0x6, 0x2, 0x400, 0},
        {"attempts only", 0x3, 0, 0, 0x0000000000000005ULL},
        {"interval only", 0x5, 0, 0, 0x00000000003C0000ULL},
        {"both, persistent, enabled", 0x7, 0x2, 0x400, 0xC0000000003C0005ULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES attributes = {};
        attributes.dwSupportedBits = c.supported;
        attributes.wCurrentRetryAttempts = 5;
        attributes.wCurrentRetryInterval = 60;
        attributes.flags = c.flags;
        EXPECT_EQ(telmar::DecodeKeyCacheStatus(View(attributes), c.encryption_status), c.expected);
    }
}

TEST(EncryptionWords, PasswordStatusAndCapabilitiesByRoleNumber) {
    ENCRYPTION_PASSWORD_STATUSES statuses = {};
    statuses.roles[0] = {3, 0};
    statuses.roles[1] = {0, 600};
    EXPECT_EQ(telmar::DecodePasswordStatus(View(statuses), 0), 3u);
    EXPECT_EQ(telmar::DecodePasswordStatus(View(statuses), 1), 600ULL << 32);
    EXPECT_EQ(telmar::DecodePasswordStatus(View(statuses), 2), 0u);
    EXPECT_EQ(VERIFY_PASSWORD_LOCKOUT_SECONDS_REMAINING(telmar::DecodePasswordStatus(View(statuses), 1)), 600u);
    EXPECT_EQ(telmar::DecodePasswordStatus(ByteView(&statuses, 15), 1), 0u);

    ENCRYPTION_ROLE_ATTRIBUTES roles = {};
    roles.roleAttrs[0] = {1, {}, kEncryptionUserCapabilityVerifyPassword};
    roles.roleAttrs[1] = {0, {}, kEncryptionUserCapabilitySetTime};
    // Picked by index, whatever bRoleValue says.
    EXPECT_EQ(telmar::DecodeUserCapabilities(View(roles), 0), static_cast<VK_DWORD>(kEncryptionUserCapabilityVerifyPassword));
    EXPECT_EQ(telmar::DecodeUserCapabilities(View(roles), 1), static_cast<VK_DWORD>(kEncryptionUserCapabilitySetTime));
    EXPECT_EQ(telmar::DecodeUserCapabilities(View(roles), 10), 0u); // past the ten entries
}

TEST(EncryptionWords, ManagedSEDWord) {
    struct Case {
        const char* name;
        VK_DWORD mode_status;
        std::optional<VK_DWORD> status;
        VK_QWORD expected;
    } const cases[] = {
        {"not enabled", 0x0E, 0xFFFF, kControllerSEDEncryptionModeNone},
        {"local before remote", 0x07, std::nullopt, 0x22},
        {"remote", 0x05, std::nullopt, 0x23},
        {"enabled without a mode", 0x01, std::nullopt, 0x20},
        {"adapter password", 0x0B, std::nullopt, 0x32},
        {"status bits", 0x03, 0x49, 0x20 | 0x22 | (0x2ULL << 5) | (0x4ULL << 5) | (0x8ULL << 5)},
        {"progress bits", 0x03, 0x236, 0x22 | (0x1FULL << 21)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(telmar::DecodeSEDEncryptionStatus(c.mode_status, c.status), c.expected);
    }
}

TEST(EncryptionWords, AdapterPasswordStatusReadsTheUnalignedTimer) {
    const VK_BYTE reply[6] = {0x01, 0x78, 0x56, 0x34, 0x12, 0x03};
    EXPECT_EQ(telmar::DecodeAdapterPasswordStatus(ByteView(reply, sizeof reply)), 0x0000000312345678ULL);
    EXPECT_EQ(telmar::DecodeAdapterPasswordStatus(ByteView(reply, 5)), 0u);
}

TEST_F(CachedController, RecoveryQuestionAndMasterKeyBufferRules) {
    // A buffer of 256 bytes has no room for the question and its NUL: it comes back zeroed.
    std::vector<char> question(256, 'x');
    EXPECT_EQ(VK_GetEncryptionRecoveryQuestion(cda(), question.data(), question.size()), question.data());
    EXPECT_EQ(question, std::vector<char>(256, '\0'));
    // A master-key buffer of 32 bytes cannot hold the identifier and its NUL: left as it was.
    std::vector<char> key(32, 'k');
    EXPECT_EQ(VK_GetControllerSEDEncryptionMasterKeyIdentifier(cda(), key.data(), key.size()), key.data());
    EXPECT_EQ(key, std::vector<char>(32, 'k'));
}

TEST_F(CachedController, NoEncryptionSupportGivesZeroWords) {
    EXPECT_EQ(VK_GetControllerEncryptionKeyCacheStatus(cda()), 0u);
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()), 0u);
    EXPECT_EQ(VK_GetControllerSEDEncryptionStatus(cda()), 0u);
    EXPECT_EQ(VK_GetEncryptionPasswordStatus(cda(), 0), 0u);
    EXPECT_FALSE(VK_VerifyEncryptionPassword(cda(), 0, "secret"));
}

} // namespace
