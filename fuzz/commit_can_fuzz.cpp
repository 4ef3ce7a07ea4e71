// The commit permission checks over staged configurations built from the input, with no controller
// behind the data area. The input fills, in order: the staged configuration up to its checksum, the
// expansion-ability reply (the controller's transformation queue), then records: a slot byte and a
// kind byte, followed by an array or a logical-drive record. Hostile counts, LU cache partners above
// 63 or naming empty slots, and drive lists longer than their arrays must never read outside the
// lists, and the answers are always reasons the checks define.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool more() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    void Fill(void* destination, size_t length) {
        std::memset(destination, 0, length);
        const size_t n = at < size ? std::min(length, size - at) : 0;
        if (n) {
            std::memcpy(destination, data + at, n);
        }
        at += n;
    }
};

void Release(PEDITABLE_CONFIGURATION config) {
    for (PEDITABLE_LOGICAL_DRIVE& ld : config->editable_ld_list) {
        if (ld != nullptr) {
            VK_free(ld);
            ld = nullptr;
        }
    }
    for (PEDITABLE_ARRAY& array : config->editable_array_list) {
        if (array != nullptr) {
            VK_free(array);
            array = nullptr;
        }
    }
    VK_free(config);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct QuietLog {
        VK_BYTE previous = PN_SetDebugLogLevel(0);
        ~QuietLog() { PN_SetDebugLogLevel(previous); }
    } quiet;
    _CDA* c = DataArea();
    PCDA cda = c;
    Input in{data, size};

    auto* config = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    FUZZ_CHECK(config != nullptr);
    std::memset(config, 0, sizeof(*config));
    in.Fill(config, offsetof(EDITABLE_CONFIGURATION, crc));
    c->editable_configuration = config;
    std::fill(std::begin(c->flags), std::end(c->flags), 0);
    c->flags[kCDAFlagsBuffers] = kCDAValidExpansionAbility;
    in.Fill(&c->sense_expansion_ability_buffer, sizeof(c->sense_expansion_ability_buffer));

    while (in.more()) {
        const VK_WORD slot = in.Byte() % kMaxArraysSupported;
        if (in.Byte() & 1) {
            if (config->editable_array_list[slot] == nullptr) {
                config->editable_array_list[slot] =
                    static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY)));
                FUZZ_CHECK(config->editable_array_list[slot] != nullptr);
            }
            in.Fill(config->editable_array_list[slot], sizeof(EDITABLE_ARRAY));
        } else {
            if (config->editable_ld_list[slot] == nullptr) {
                config->editable_ld_list[slot] =
                    static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
                FUZZ_CHECK(config->editable_ld_list[slot] != nullptr);
            }
            in.Fill(config->editable_ld_list[slot], sizeof(EDITABLE_LOGICAL_DRIVE));
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

    c->editable_configuration = nullptr;
    Release(config);
    return 0;
}
