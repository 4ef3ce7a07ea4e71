// The clear-configuration permission over hostile facts: the input is the action bits (4 bytes), the
// mode word, the logical-unit count, the managed-SED status word (8 bytes), a byte of flags (OFA,
// SED-enabled logical drive, NVRAM clear, managed SED, owned SED), the encryption reason, then one
// CCM reason per drive. Each action asked for gets exactly one bit of its own, no action not asked
// for gets any, the bits the permission never sets stay clear, and an activation answers alone.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"

namespace {

int Bits(VK_DWORD v) {
    return __builtin_popcount(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 19) {
        return 0;
    }
    VK_DWORD actions = 0;
    std::memcpy(&actions, data, 4);
    telmar::direct::ClearConfigurationFacts facts;
    facts.mode = static_cast<VK_WORD>(data[4] | data[5] << 8);
    facts.logical_unit_count = static_cast<VK_WORD>(data[6] | data[7] << 8);
    std::memcpy(&facts.sed_status, data + 8, 8);
    const uint8_t flags = data[16];
    facts.ofa_running = flags & 0x01;
    facts.sed_enabled_ld = flags & 0x02;
    facts.nvram_clear_supported = flags & 0x04;
    facts.sed_supported = flags & 0x08;
    facts.owned_sed = flags & 0x10;
    facts.encryption_reason = data[17];
    facts.ccm_reasons.assign(data + 18, data + size);

    const VK_DWORD bits = telmar::direct::ClearConfigurationPermission(facts, actions);
    if (facts.ofa_running) {
        FUZZ_CHECK(bits == kClearConfigurationControllerOFAActive);
        return 0;
    }
    FUZZ_CHECK(
        !(bits & (kClearConfigurationAllPhysicalDrivesFailed | kClearConfigurationExpressEncryptionEnabled |
                  kClearConfigurationAbnormalVolumeExists | kClearConfigurationControllerOFAActive)));
    struct Group {
        VK_DWORD action;
        VK_DWORD answers;
        bool exactly_one;
    };
    const Group groups[] = {
        {kClearConfigurationRemoveLogicalDrives,
         kClearConfigurationRemoveLogicalDrivesAllowed | kClearConfigurationHBAMode |
             kClearConfigurationNoLogicalDrives,
         true},
        {kClearConfigurationRemoveEncryption,
         kClearConfigurationRemoveEncryptionAllowed | kClearConfigurationNoEncryptionSupport |
             kClearConfigurationNoEncryptionConfiguration | kClearConfigurationEncryptionLogicalDrivesExist |
             kClearConfigurationEncodeOrRekeyInProgress,
         true},
        {kClearConfigurationClearNVRAM,
         kClearConfigurationClearNVRAMAllowed | kClearConfigurationClearNVRAMNotSupported, true},
        {kClearConfigurationClearPhysicalDriveCCM,
         kClearConfigurationClearPhysicalDriveCCMAllowed |
             kClearConfigurationClearPhysicalDriveCCMNoDrivesAttached |
             kClearConfigurationClearPhysicalDriveCCMNoCCM |
             kClearConfigurationClearPhysicalDriveCCMEncryptionLocked |
             kClearConfigurationClearPhysicalDriveCCMNotSupported,
         false},
        {kClearConfigurationRemoveSEDEncryption,
         kClearConfigurationRemoveSEDEncryptionAllowed | kClearConfigurationNoSEDEncryptionSupport |
             kClearConfigurationSEDEncryptionNotEnabled | kClearConfigurationSEDOperationsInProgress |
             kClearConfigurationSEDHasSEDEnabledLD,
         true},
    };
    VK_DWORD accounted = 0;
    for (const Group& g : groups) {
        // The adapter-password wait answers for both the logical drives and managed SED.
        const VK_DWORD own = bits & (g.answers | kClearConfigurationSEDWaitingOnAdapterPassword);
        if (!(actions & g.action)) {
            FUZZ_CHECK((bits & g.answers) == 0);
            continue;
        }
        if (g.exactly_one) {
            FUZZ_CHECK(Bits(bits & g.answers) == 1 ||
                       ((bits & g.answers) == 0 && (bits & kClearConfigurationSEDWaitingOnAdapterPassword)));
        } else {
            FUZZ_CHECK((bits & g.answers) != 0 || !facts.ccm_reasons.empty());
            FUZZ_CHECK(!(bits & kClearConfigurationClearPhysicalDriveCCMNoDrivesAttached) ||
                       facts.ccm_reasons.empty());
        }
        accounted |= own;
    }
    FUZZ_CHECK((bits & ~accounted) == 0);
    return 0;
}
