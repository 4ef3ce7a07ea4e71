/* Stages a change of the rebuild priority in an editable configuration, asks whether it may be
 * committed, commits it and reads the setting back, through the library's C API. Run it as root; on a
 * machine without controllers, run it on the simulated host:
 *   qvsim --scenario sim/scenarios/commit_two_drives.json -- ./commit_settings
 */
#include <stdio.h>
#include <stdlib.h>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"

int main(void) {
    InitializePavlin("example");
    InitializeTelmar("example");

    DeviceDescriptorList controllers = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(controllers);
    if (PN_IsDeviceListIteratorEnd(it)) {
        printf("no controller\n");
        return 1;
    }
    PCDA cda = malloc(VK_GetCDASize());
    if (cda == NULL || VK_InitializeCDA(cda, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
        printf("cannot read the controller\n");
        return 1;
    }
    const VK_BYTE priority = 2;
    printf("create: %u\n", (unsigned)VK_CreateEditableConfiguration(cda));
    printf("can change rebuild priority to %u: %u\n", (unsigned)priority,
           (unsigned)VK_CanChangeEditableControllerRebuildPriority(cda, priority));
    printf("changed: %u\n", (unsigned)VK_ChangeEditableControllerRebuildPriority(cda, priority));
    printf("can commit: %u\n", (unsigned)VK_CanCommitEditableConfiguration(cda));
    const VK_BYTE result = VK_CommitEditableConfiguration(cda);
    /* 1 committed, 2 refused by the permission check, 3 written with errors, 4 changed meanwhile. */
    printf("commit: %u\n", (unsigned)result);
    printf("commit errors: 0x%llx\n", (unsigned long long)VK_GetEditableConfigurationCommitErrors(cda));
    printf("rebuild priority now: %u\n", (unsigned)VK_GetControllerRebuildPriority(cda));
    (void)result;
    VK_DestroyEditableConfiguration(cda);
    VK_UnInitializeCDA(cda);
    free(cda);
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(controllers);
    UnInitializeTelmar();
    UnInitializePavlin();
    return 0;
}
