// Start of both libraries, discovery of the controllers, controller selection and exit codes.
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "externs.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"

// The platform's list owns the descriptors in devDesc; it lives as long as the process.
DeviceDescriptorList gControllerList = nullptr;

namespace {

// Neither library examines it.
constexpr const char* kLibraryChecksum = "0x6D2A";

// AtoD accumulates in 16 bits, so "65537" would read as 1 and "-65535" as 1: a number the user typed
// must name exactly the controller or count that it says.
bool IsUnwrappedNumber(const char* text) {
    if (text == nullptr || std::strchr(text, '-') != nullptr) {
        return false;
    }
    const bool hex = text[0] == '0' && text[1] == 'x';
    const unsigned base = hex ? 16 : 10;
    unsigned long value = 0;
    for (const char* p = hex ? text + 2 : text; *p != '\0'; ++p) {
        const VK_BYTE digit = HexVal(*p);
        if (digit == HEX_VAL_ERR || digit >= base) {
            return false;
        }
        value = value * base + digit;
        if (value > 0xFFFF) {
            return false;
        }
    }
    return true;
}

} // namespace

VK_BYTE QV_Init(void) {
    InitializeTelmar(kLibraryChecksum);
    InitializePavlin(kLibraryChecksum);
    return QV_Initializehandle() != 0 ? 1 : 0;
}

VK_BYTE QV_Initializehandle(void) {
    gControllerList = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator iterator = PN_CreateDeviceListIterator(gControllerList);
    VK_UINT32 taken = 0;
    while (!PN_IsDeviceListIteratorEnd(iterator) && taken < NUM_OF_CONTROLLERS) {
        devDesc[taken] = PN_GetDeviceListItemAt(iterator);
        PN_MoveDeviceListIteratorNext(iterator);
        ++taken;
    }
    PN_DestroyDeviceListIterator(iterator);

    for (VK_UINT32 i = 0; i < taken; ++i) {
        PCDA cda = VK_malloc(VK_GetCDASize());
        const VK_WORD status = cda != nullptr ? VK_InitializeCDA(cda, devDesc[i])
                                              : static_cast<VK_WORD>(kInitializeFailedInvalidArgument);
        if (status != kInitializeSucceeded) {
            if (cda != nullptr) {
                // Release the descriptor copy and the locks the data area may hold before the area goes.
                if ((status & kInitializeFailedInvalidArgument) == 0) {
                    VK_UnInitializeCDA(cda);
                }
                VK_free(cda);
            }
            QV_ReportOut(
                "Initializing Controller Data Area (#%d) failed, Status = 0x%x Or Firmware not Ready\n",
                static_cast<int>(i), static_cast<unsigned>(status));
            QV_ReportOut("Note: This failure can occur if user is not logged in as super user (root).\n");
            return 1;
        }
        CDAs[i] = cda;
    }
    gNumOfControllersFound = taken;
    return 0;
}

VK_BYTE QV_Exit(void) {
    UnInitializePavlin();
    UnInitializeTelmar();
    return 0;
}

VK_BYTE IsCtlrNumValid(const char* text) {
    VK_UINT16 number = 0;
    if (!AtoD(text, &number) || !IsUnwrappedNumber(text) || number == 0 || number > gNumOfControllersFound) {
        return 0;
    }
    pCDA = CDAs[number - 1];
    return 1;
}

VK_BYTE IsIterationNumValid(const char* text) {
    VK_UINT16 count = 0;
    return (AtoD(text, &count) && IsUnwrappedNumber(text) && count >= 1 && count <= MAX_ITERATION) ? 1 : 0;
}

int CheckCliErrorCode(VK_UINT32 code) {
    switch (code & 0xFF) {
        case QV_CMD_SUCCESS:
            return QV_SUCCESS;
        case QV_CMD_ARGS_INVALID_SYNTAX:
            ShowExtendedHelp("** Invalid syntax **", QV_GetCommandLine().Word(1));
            return QV_INVALID_PARAMETER;
        case QV_CMD_ARGS_NO_CTLR:
            QV_Report("ERROR!!! No Controllers were detected \n",
                      "ERROR!!! No Controllers were detected \r\n");
            return QV_NOT_FOUND;
        case QV_CMD_ARGS_INVALID_CTLR_NUM:
            QV_ReportOut("Invalid ControllerNumber. Please enter a valid ControllerNumber \n");
            QV_ReportOut("Total controllers found = %d \n", static_cast<int>(gNumOfControllersFound));
            QV_Log("Invalid ControllerNumber. Please enter a valid ControllerNumber \r\n");
            QV_Log("Total controllers found = %d \r\n", static_cast<int>(gNumOfControllersFound));
            return QV_INVALID_PARAMETER;
        case QV_CMD_ARGS_INVALID_ITERATION_NUM:
            QV_ReportOut("Invalid iteration number. Please enter a valid iteration number \n");
            QV_ReportOut("Valid Range : [1 - %d] \n", MAX_ITERATION);
            QV_Log("Invalid iteration number. Please enter a valid iteration number \r\n");
            QV_Log("Valid Range : [1 - %d] \r\n", MAX_ITERATION);
            return QV_INVALID_PARAMETER;
        default:
            // The handler printed its own message.
            return QV_NOT_FOUND;
    }
}
