// The permission tables of the staged controller and cache settings over hostile staged values and
// controller state. The input fills, in order: the staged configuration, IDENTIFY CONTROLLER, the
// parsed feature pages, CACHE CONFIG STATUS, the surface status, the expansion ability, the boot
// password status, two staged logical drives, then the values to ask about. The data area has no
// controller behind it: whatever is not cached fails to load. Whatever the state, a value outside
// a setting's range is never allowed, and a refused Change leaves the staged value as it was.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

// A setting's valid values, as the permission table states them, and its functions.
struct Setting {
    VK_DWORD width; // the bits the value's type keeps
    VK_DWORD minimum, maximum;
    bool multiple_of_5;
    VK_BYTE (*can)(PCDA, VK_DWORD);
    VK_BOOL (*change)(PCDA, VK_DWORD);
    VK_DWORD (*get)(PCDA);
};

#define SETTING(S, T, minimum, maximum, multiple_of_5)                                                         \
    Setting {                                                                                                  \
        static_cast<VK_DWORD>(static_cast<T>(~0u)), minimum, maximum, multiple_of_5, [](PCDA c, VK_DWORD v) { return VK_CanChangeEditableController##S(c, static_cast<T>(v)); }, \
            [](PCDA c, VK_DWORD v) { return VK_ChangeEditableController##S(c, static_cast<T>(v)); },           \
            [](PCDA c) { return static_cast<VK_DWORD>(VK_GetEditableController##S(c)); }                      \
    }

const Setting kSettings[] = {
    SETTING(RebuildPriority, VK_BYTE, 0, 3, false),
    SETTING(ExpandPriority, VK_BYTE, 0, 2, false),
    SETTING(SSAPriority, VK_WORD, 0, 300, false),
    SETTING(PSSCount, VK_BYTE, 1, 255, false),
    SETTING(DPO, VK_BYTE, 0, 1, false),
    SETTING(IRP, VK_BYTE, 0, 1, false),
    SETTING(InconsistencyEventNotification, VK_BYTE, 0, 1, false),
    SETTING(ElevatorSort, VK_BYTE, 0, 1, false),
    SETTING(QueueDepth, VK_BYTE, 0, 5, false),
    SETTING(FLS, VK_BYTE, 0, 5, false),
    SETTING(MNPDelay, VK_WORD, 0, 1440, false),
    SETTING(SurvivalPowerMode, VK_BYTE, 0, 1, false),
    SETTING(WCBT, VK_DWORD, 1, 65, false),
    SETTING(NotifyOnAnyBroadcast, VK_BYTE, 2, 3, false),
    SETTING(SanitizeLock, VK_BYTE, 0, 2, false),
    SETTING(NBWC, VK_BYTE, 0, 1, false),
    SETTING(WaitForCacheRoom, VK_BYTE, 0, 1, false),
    SETTING(ReadCachePercent, VK_BYTE, 0, 100, true),
};

#undef SETTING

void CheckSetting(PCDA cda, const Setting& s, VK_DWORD raw) {
    const VK_DWORD v = raw & s.width;
    const VK_BYTE reason = s.can(cda, v);
    const bool out_of_range = v < s.minimum || v > s.maximum || (s.multiple_of_5 && v % 5 != 0);
    if (out_of_range) {
        FUZZ_CHECK(reason != 1);
        const VK_DWORD before = s.get(cda);
        FUZZ_CHECK(!s.change(cda, v));
        FUZZ_CHECK(s.get(cda) == before);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    FuzzInput in{data, size};
    HeapStagedConfiguration config(c, in);

    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidCacheConfigStatus |
                                 kCDAValidSurfaceStatus | kCDAValidExpansionAbility |
                                 kCDAValidEncryptionBootPasswordStatus;
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    in.Fill(&c->sense_feature, sizeof(c->sense_feature));
    in.Fill(&c->sense_cache_config_status_buffer, sizeof(c->sense_cache_config_status_buffer));
    in.Fill(&c->surface_status_buffer, sizeof(c->surface_status_buffer));
    in.Fill(&c->sense_expansion_ability_buffer, sizeof(c->sense_expansion_ability_buffer));
    in.Fill(&c->encryption_boot_password_status_buffer, sizeof(c->encryption_boot_password_status_buffer));
    config.FillLogicalDrives(in, 2);

    for (const Setting& s : kSettings) {
        CheckSetting(c, s, in.TakeBigEndian<VK_DWORD>());
        // The edges of every range, and just past them.
        for (VK_DWORD v : {s.minimum - 1, s.minimum, s.maximum, s.maximum + 1, VK_DWORD{0xFFFFFFFF}}) {
            CheckSetting(c, s, v);
        }
    }
    return 0;
}
