/* Changes controller 1's rebuild priority through an editable configuration and commits it, through
 * the libraries' C API. Run it as root; on a machine without controllers, run it on the simulated
 * host:
 *   qvsim --scenario sim/scenarios/mirror_two_unassigned.json -- ./change_rebuild_priority
 * It prints each answer the library gives and exits 0 only when the commit succeeded.
 */
#include <stdio.h>
#include <stdlib.h>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"

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
    printf("can commit: %u\n", (unsigned)VK_CanCommitEditableConfiguration(cda));
    VK_BYTE result = VK_CommitEditableConfiguration(cda);
    printf("commit: %u\n", (unsigned)result);
    printf("commit errors: 0x%llx\n", (unsigned long long)VK_GetEditableConfigurationCommitErrors(cda));

    /* A refused commit keeps the staged configuration; a finished one has already dropped it. */
    VK_DestroyEditableConfiguration(cda);
    VK_WORD reread = VK_ReInitializeCDA(cda);
    if (reread != kInitializeSucceeded) {
        printf("re-read: failed (0x%x)\n", (unsigned)reread);
        return 1;
    }
    VK_BYTE now = VK_GetControllerRebuildPriority(cda);
    printf("rebuild priority read back: %u (%s)\n", (unsigned)now, priority_name(now));
    return result == kCommitEditableConfigurationOK ? 0 : 1;
}

int main(void) {
    /* Neither library examines the text it is started with. */
    InitializePavlin("example");
    InitializeTelmar("example");

    int failed = 1;
    DeviceDescriptorList controllers = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(controllers);
    if (PN_IsDeviceListIteratorEnd(it)) {
        printf("no controller\n");
    } else {
        PCDA cda = malloc(VK_GetCDASize());
        if (cda != NULL) {
            VK_WORD status = VK_InitializeCDA(cda, PN_GetDeviceListItemAt(it));
            if (status == kInitializeSucceeded) {
                failed = change_rebuild_priority(cda);
                VK_UnInitializeCDA(cda);
            } else {
                printf("cannot read controller 1 (status 0x%x)\n", (unsigned)status);
                if ((status & kInitializeFailedInvalidArgument) == 0) {
                    VK_UnInitializeCDA(cda);
                }
            }
            free(cda);
        }
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(controllers);

    UnInitializeTelmar();
    UnInitializePavlin();
    return failed;
}
