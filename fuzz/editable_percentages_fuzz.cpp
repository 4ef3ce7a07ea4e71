// The staged rate percentages: every percent and every priority through the conversions, whatever
// the input; the input picks the logical-drive count the surface-scan read-back is given and one
// extra percent and priority to convert. Priorities stay in range, a controller without rapid
// rebuild never stages medium-high, and the conversions round-trip where they are meant to.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"

namespace {

namespace editable = telmar::editable;

void CheckPercent(VK_BYTE p, VK_DWORD ld_count) {
    for (const bool rapid : {false, true}) {
        const VK_BYTE rebuild = editable::RebuildPriorityFromPercent(p, rapid);
        FUZZ_CHECK(rebuild <= kControllerRebuildPriorityHigh);
        FUZZ_CHECK(rapid || rebuild != kControllerRebuildPriorityMediumHigh);
    }
    FUZZ_CHECK(editable::ExpandPriorityFromPercent(p) <= kControllerExpandPriorityHigh);
    const VK_WORD delay = editable::SSADelayFromPercent(p);
    if (p > 100) {
        FUZZ_CHECK(delay == 0xFFFF);
        return;
    }
    FUZZ_CHECK(delay <= 300);
    // 1 is what an unknown delay reads as; every other percent comes back as itself.
    if (p != 1 && ld_count != 0) {
        FUZZ_CHECK(_VK_GetControllerSSARatePercentFromPriority(delay, ld_count) == p);
    }
}

void CheckPriority(VK_BYTE priority) {
    for (const bool rapid : {false, true}) {
        const VK_BYTE percent = editable::RebuildPercentFromPriority(priority, rapid);
        if (priority == kControllerRebuildPriorityInvalid) {
            FUZZ_CHECK(percent == 255);
            continue;
        }
        FUZZ_CHECK(percent <= 100);
        FUZZ_CHECK(editable::RawRebuildPriority(priority, rapid).has_value() ==
                   (priority <= kControllerRebuildPriorityHigh));
        // Medium-high reads back as a percent that stands for medium.
        if (priority <= kControllerRebuildPriorityHigh && priority != kControllerRebuildPriorityMediumHigh) {
            FUZZ_CHECK(editable::RebuildPriorityFromPercent(percent, rapid) == priority);
        }
    }
    const VK_BYTE expand = editable::ExpandPercentFromPriority(priority);
    FUZZ_CHECK(expand <= 100 || (priority == kControllerExpandPriorityInvalid && expand == 255));
    if (priority <= kControllerExpandPriorityHigh) {
        FUZZ_CHECK(editable::ExpandPriorityFromPercent(expand) == priority);
    }
    const VK_BYTE raw = editable::RawExpandPriority(priority);
    FUZZ_CHECK(raw == 0 || raw == 64 || raw == 118);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const VK_DWORD ld_count = size > 0 ? data[0] : 1;
    for (unsigned v = 0; v <= 255; ++v) {
        CheckPercent(static_cast<VK_BYTE>(v), ld_count);
        CheckPriority(static_cast<VK_BYTE>(v));
    }
    for (size_t i = 1; i < size; ++i) {
        CheckPercent(data[i], ld_count | 1);
        CheckPriority(data[i]);
    }
    return 0;
}
