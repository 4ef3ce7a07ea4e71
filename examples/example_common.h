/* The steps every configuration example takes around its own changes: starting the libraries and
 * reading controller 1, committing what was staged, and reading the controller again. Each example
 * includes this file from its own directory, so it builds alone with the one command its comment
 * shows. Everything here is static inline: an example that uses only part of it still compiles
 * cleanly with every warning on.
 */
#ifndef QUORVEL_EXAMPLE_COMMON_H
#define QUORVEL_EXAMPLE_COMMON_H

#include <stdio.h>
#include <stdlib.h>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"

/* Asks whether the staged configuration may be committed, commits it and prints each answer with
 * the errors the commit left. Returns the commit's own answer. */
static inline VK_BYTE example_commit(PCDA cda) {
    printf("can commit: %u\n", (unsigned)VK_CanCommitEditableConfiguration(cda));
    VK_BYTE result = VK_CommitEditableConfiguration(cda);
    printf("commit: %u\n", (unsigned)result);
    printf("commit errors: 0x%llx\n", (unsigned long long)VK_GetEditableConfigurationCommitErrors(cda));
    return result;
}

/* Drops the editable configuration and reads the controller again, so that what the example reads
 * next is what the controller now reports. A refused commit keeps the staged configuration; a
 * finished one has already dropped it. Returns 0, after saying so, when the controller could not
 * be read again. */
static inline int example_reread(PCDA cda) {
    VK_DestroyEditableConfiguration(cda);
    VK_WORD reread = VK_ReInitializeCDA(cda);
    if (reread != kInitializeSucceeded) {
        printf("re-read: failed (0x%x)\n", (unsigned)reread);
        return 0;
    }
    return 1;
}

/* Starts both libraries, reads the first controller the host lists (controller 1) and runs
 * `configure` on it, then releases everything in the reverse order. Returns what `configure`
 * returned, or 1 when there is no controller or it cannot be read. */
static inline int example_run_on_controller_1(int (*configure)(PCDA cda)) {
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
                failed = configure(cda);
                VK_UnInitializeCDA(cda);
            } else {
                printf("cannot read controller 1 (status 0x%x)\n", (unsigned)status);
                /* Only an argument the library refused outright leaves nothing to release. */
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

#endif /* QUORVEL_EXAMPLE_COMMON_H */
