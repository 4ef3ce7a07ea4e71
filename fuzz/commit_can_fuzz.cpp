// The commit permission checks over staged configurations built from the input, with no controller
// behind the data area. The input fills, in order: the staged configuration up to its checksum, the
// expansion-ability reply (the controller's transformation queue), then records: a slot byte and a
// kind byte, followed by an array or a logical-drive record. Hostile counts, LU cache partners above
// 63 or naming empty slots, and drive lists longer than their arrays must never read outside the
// lists, and the answers are always reasons the checks define.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    HeapStagedConfiguration config(c, in);
    c->flags[kCDAFlagsBuffers] = kCDAValidExpansionAbility;
    in.Fill(&c->sense_expansion_ability_buffer, sizeof(c->sense_expansion_ability_buffer));

    while (!in.Done()) {
        const VK_WORD slot = in.Byte() % kMaxArraysSupported;
        if (in.Byte() & 1) {
            EDITABLE_ARRAY& array = config.Array(slot);
            in.Fill(&array, sizeof(array));
        } else {
            EDITABLE_LOGICAL_DRIVE& ld = config.LogicalDrive(slot);
            in.Fill(&ld, sizeof(ld));
        }
    }

    const VK_BYTE spare = _VK_CanCommitEditableConfigurationInvalidSpareActivationMode(cda);
    FUZZ_CHECK(spare == kCanCommitEditableConfigurationOK ||
               spare == kCanCommitEditableConfigurationInvalidSpareActivationMode);
    const VK_BYTE shared = _VK_CanCommitEditableConfiguration(cda);
    FUZZ_CHECK(shared >= kCanCommitEditableConfigurationOK &&
               shared <= kCanCommitEditableConfigurationControllerOFAActive &&
               shared != kCanCommitEditableConfigurationNoEditableConfigCreated &&
               shared != kCanCommitEditableConfigurationOutOfSync &&
               shared != kCanCommitEditableConfigurationPasswordRequired);
    if (spare != kCanCommitEditableConfigurationOK) {
        FUZZ_CHECK(shared != kCanCommitEditableConfigurationOK);
    }
    const VK_BYTE plain = VK_CanCommitEditableConfiguration(cda);
    FUZZ_CHECK(plain == shared || (shared == kCanCommitEditableConfigurationOK &&
                                   plain == kCanCommitEditableConfigurationPasswordRequired));
    return 0;
}
