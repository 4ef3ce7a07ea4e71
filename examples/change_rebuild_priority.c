/* Changes controller 1's rebuild priority through an editable configuration and commits it, through
 * the libraries' C API. Run it as root; on a machine without controllers, run it on the simulated
 * host:
 *   qvsim --scenario sim/scenarios/mirror_two_unassigned.json -- ./change_rebuild_priority
 * It prints each answer the library gives and exits 0 only when the commit succeeded. Starting the
 * libraries, the commit and the re-read are in example_common.h beside it.
 */
#include <stdio.h>

#include "example_common.h"

static const char* priority_name(VK_BYTE priority) {
    switch (priority) {
        case kControllerRebuildPriorityLow:
            return "low";
        case kControllerRebuildPriorityMedium:
            return "medium";
        case kControllerRebuildPriorityMediumHigh:
            return "medium-high";
        case kControllerRebuildPriorityHigh:
            return "high";
        default:
            return "unknown";
    }
}

static int change_rebuild_priority(PCDA cda) {
    VK_BYTE status = VK_CreateEditableConfiguration(cda);
    if (status != kCreateEditableConfigOK) {
        printf("create editable configuration: refused (%u)\n", (unsigned)status);
        return 1;
    }
    VK_BYTE current = VK_GetEditableControllerRebuildPriority(cda);
    /* Any other value will do; high is always valid, medium when the controller is already at high. */
    VK_BYTE wanted = current == kControllerRebuildPriorityHigh ? kControllerRebuildPriorityMedium
                                                               : kControllerRebuildPriorityHigh;
    printf("rebuild priority: %u (%s)\n", (unsigned)current, priority_name(current));
    VK_BYTE allowed = VK_CanChangeEditableControllerRebuildPriority(cda, wanted);
    if (allowed == kCanChangeEditableControllerRebuildPriorityAllowed &&
        VK_ChangeEditableControllerRebuildPriority(cda, wanted)) {
        printf("change to %u (%s): staged\n", (unsigned)wanted, priority_name(wanted));
    } else {
        printf("change to %u (%s): refused (%u)\n", (unsigned)wanted, priority_name(wanted),
               (unsigned)allowed);
    }
    VK_BYTE result = example_commit(cda);
    /* Read back whether or not the commit went through: a refused one leaves the old priority. */
    if (!example_reread(cda)) {
        return 1;
    }
    VK_BYTE now = VK_GetControllerRebuildPriority(cda);
    printf("rebuild priority read back: %u (%s)\n", (unsigned)now, priority_name(now));
    return result == kCommitEditableConfigurationOK ? 0 : 1;
}

int main(void) {
    return example_run_on_controller_1(change_rebuild_priority);
}
