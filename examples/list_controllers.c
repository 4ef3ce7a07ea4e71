/* Lists the controllers this host has, with their firmware versions, through the two libraries' C
 * API. Run it as root; on a machine without controllers, run it on the simulated host:
 *   qvsim -- ./list_controllers
 */
#include <stdio.h>
#include <stdlib.h>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"

int main(void) {
    /* Neither library examines the text it is started with. */
    InitializePavlin("example");
    InitializeTelmar("example");

    DeviceDescriptorList controllers = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(controllers);
    int count = 0;
    int failed = 0;
    for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        ++count;
        PCDA cda = malloc(VK_GetCDASize());
        if (cda == NULL) {
            failed = 1;
            break;
        }
        VK_WORD status = VK_InitializeCDA(cda, PN_GetDeviceListItemAt(it));
        if (status != kInitializeSucceeded) {
            printf("%d: cannot read the controller (status 0x%x)\n", count, (unsigned)status);
            if ((status & kInitializeFailedInvalidArgument) == 0) {
                VK_UnInitializeCDA(cda);
            }
            free(cda);
            failed = 1;
            continue;
        }
        char product[64], serial[64], running[64], pending[64];
        printf("%d: %s, serial number %s, firmware %s (pending %s)\n", count,
               VK_GetControllerProductID(cda, product, sizeof product),
               VK_GetControllerSerialNumber(cda, serial, sizeof serial),
               VK_GetControllerFirmwareVersion(cda, running, sizeof running),
               VK_GetControllerPendingFirmwareVersion(cda, pending, sizeof pending));
        VK_UnInitializeCDA(cda);
        free(cda);
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(controllers);
    printf("%d controller(s)\n", count);

    UnInitializeTelmar();
    UnInitializePavlin();
    return failed;
}
