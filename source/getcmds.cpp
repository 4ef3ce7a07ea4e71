// Reports of what the controller-model library knows of a controller, and the controller list.
// Nothing here sends a command of the tool's own: every value comes from a library getter.
#include <cstdio>
#include <iterator>

#include "cli.h"
#include "ctlrinfo.h"
#include "decode.h"
#include "externs.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"

CONTROLLER_INFO_S ctrlInfo = {};

void ShowControllers(void) {
    if (gNumOfControllersFound == 0) {
        std::puts("ERROR!!! No Controllers were detected.");
        QV_Log("ERROR!!! No Controllers were detected.\r\n");
        return;
    }
    std::printf("Found %d controller(s)\n", static_cast<int>(gNumOfControllersFound));
    for (VK_UINT32 i = 0; i < gNumOfControllersFound && i < NUM_OF_CONTROLLERS; ++i) {
        char vendor[MAX_VENDOR_ID_LEN] = {};
        char family[MAX_FAMILY_ID_LEN] = {};
        char product[MAX_PRODUCT_ID_LEN] = {};
        char serial[MAX_SERIAL_NUM_LEN] = {};
        VK_GetControllerVendorID(CDAs[i], vendor, sizeof vendor);
        VK_GetControllerFamilyID(CDAs[i], family, sizeof family);
        VK_GetControllerProductID(CDAs[i], product, sizeof product);
        VK_GetControllerSerialNumber(CDAs[i], serial, sizeof serial);
        const int number = static_cast<int>(i + 1);
        std::printf("  %d: %-6s %-10s %-10s %-10s %s \n", number, vendor, family, product, "- Serial Number:",
                    serial);
        QV_Log("  %d: %-6s %-10s %-10s %-10s %s \n", number, vendor, family, product, "- Serial Number:", serial);
    }
}

void QV_GetCacheInfo(PCDA cda) {
    ctrlInfo.cache.ControllermemorySize = VK_GetControllerMemorySizeMB(cda);
    ctrlInfo.cache.Totalcachesize = VK_GetControllerTotalCacheSize(cda);
    const int memory = ctrlInfo.cache.ControllermemorySize;
    const int cache = ctrlInfo.cache.Totalcachesize;
    std::printf("Cache information \n ControllerMemorySize    : %d MB \n ControllerCacheSize     : %d MB \n", memory,
                cache);
    QV_Log("Cache information \r\n ControllerMemorySize    : %d MB \r\n ControllerCacheSize     : %d MB \r\n", memory,
           cache);
}

void QV_GetFirmwareMiscInfo(PCDA cda) {
    char product[FWMISC_PRODUCT_ID_LEN] = {};
    char version[MAX_FW_VERSION_LEN] = {};
    char pending[MAX_FW_VERSION_LEN] = {};
    char vendor[MAX_VENDOR_ID_LEN] = {};
    char revision[MAX_HW_REVISION_LEN] = {};
    VK_GetControllerProductID(cda, product, sizeof product);
    std::printf("ProductIdBuffer         : %s \n", product);
    QV_Log("ProductIdBuffer         : %s\n", product);
    VK_GetControllerFirmwareVersion(cda, version, sizeof version);
    std::printf("FirmwareVersion         : %s\n", version);
    QV_Log("FirmwareVersion         : %s\n", version);
    VK_GetControllerPendingFirmwareVersion(cda, pending, sizeof pending);
    std::printf("PendingFirmwareVersion  : %s\n", pending);
    QV_Log("PendingFirmwareVersion  : %s\n", pending);
    VK_GetControllerVendorID(cda, vendor, sizeof vendor);
    std::printf("VendorIDBuffer          : %s\n", vendor);
    QV_Log("VendorIDBuffer          : %s\n", vendor);
    VK_GetControllerHardwareRevision(cda, revision, sizeof revision);
    std::printf("HardwareRevision        : %s\n", revision);
    QV_Log("HardwareRevision        : %s\n", revision);
}

void QV_GetPCIeInfo(PCDA cda) {
    ctrlInfo.pci.PCIegenversion = VK_GetPCIeGen(cda);
    ctrlInfo.pci.PCIewidth = VK_GetPCIeWidth(cda);
    std::printf("PCIeGen       : %d\n", ctrlInfo.pci.PCIegenversion);
    QV_Log("PCIeGen       : %d\n", ctrlInfo.pci.PCIegenversion);
    std::printf("PCIewidth     : %d\n", ctrlInfo.pci.PCIewidth);
    QV_Log("PCIewidth     : %d\n", ctrlInfo.pci.PCIewidth);
}

void QV_GetControllerStatusInfo(PCDA cda) {
    const VK_DWORD status = VK_GetControllerStatusInfo(cda);
    const char* controller = "UNKNOWN";
    switch (CONTROLLER_STATUS(status)) {
    case kControllerStatusOK: controller = "Good"; break;
    case kControllerStatusFailed: controller = "Failed"; break;
    case kControllerStatusBadZMRMode: controller = "Bad ZMR"; break;
    case kControllerStatusCacheProblem: controller = "Cache Problem"; break;
    case kControllerStatusIncompatibleCacheModule: controller = "Incompatible Cache"; break;
    default: break;
    }
    std::printf("Controller Status           : %s\n", controller);
    if (CONTROLLER_STATUS(status) != kControllerStatusFailed) {
        const VK_BYTE cache_status = CACHE_STATUS(status);
        const char* cache = "UNKNOWN";
        switch (cache_status) {
        case kControllerCacheStatusOK: cache = "OK"; break;
        case kControllerCacheStatusNotConfigured: cache = "Not Configured"; break;
        case kControllerCacheStatusTemporarilyDisabled: cache = "Temporarily Disabled"; break;
        case kControllerCacheStatusPermanentlyDisabled: cache = "Permanently Disabled"; break;
        default: break;
        }
        std::printf("Cache Status                : %s\n", cache);
        if (cache_status == kControllerCacheStatusTemporarilyDisabled ||
            cache_status == kControllerCacheStatusPermanentlyDisabled) {
            std::printf("Cache State                 : %s\n", DecodeControllerCacheStatus(status));
        }
        static constexpr struct {
            VK_BYTE flag;
            const char* line;
        } kFlagLines[] = {
            {kControllerCacheFlagsValidDataFoundInCache, "Cache Flags: Valid Data Exists"},
            {kControllerCacheFlagsLowBatteryAtBoot, "Cache Flags: Low battery at boot"},
            {kControllerCacheFlagsFlashMemoryDetached, "Cache Flags: Flash memory detacted"},
            {kControllerCacheFlagsModuleRunningAtFailsafeSpeed, "Cache Flags: Running at failsafe speed"},
            {kControllerCacheFlagsOtherState, "Cache Flags: other"},
        };
        for (const auto& f : kFlagLines) {
            if (CONTROLLER_CACHE_FLAGS(status) & f.flag) {
                std::puts(f.line);
            }
        }
    }
    // Bits without a word print nothing; with none of the four the line is left without its end.
    std::printf("Controller Config Status    : ");
    static constexpr struct {
        VK_BYTE bit;
        const char* word;
    } kConfigWords[] = {
        {kControllerConfigStatusOK, "Good"},
        {kControllerConfigStatusVersionMismatch, "Version mismatch"},
        {kControllerConfigStatusBadEncryptionOverride, "Bad Encryption"},
        {kControllerConfigStatusBadLUCacheOverride, "Bad Vesk Cache"},
    };
    for (const auto& w : kConfigWords) {
        if (CONTROLLER_CONFIG_STATUS(status) & w.bit) {
            std::puts(w.word);
        }
    }
}

VK_BYTE QV_GetBackupPowerSourceStatusInfo(void) {
    const VK_BYTE status = static_cast<VK_BYTE>(VK_GetControllerBackupPowerSourceStatus(pCDA));
    static constexpr const char* kNames[] = {"Failed", "NotPresent", "PresentAndCharging", "PresentAndCharged"};
    std::printf("Backup Power Source Status : %s \n", status < std::size(kNames) ? kNames[status] : "UNKNOWN");
    return status;
}

// ---- Handlers -----------------------------------------------------------------------------------

VK_BYTE RunControllerWorker(VK_BYTE test_id, void (*worker)(PCDA)) {
    const VK_BYTE result = ValidateCmdLineArgs(3, test_id);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    worker(pCDA);
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_GetCacheInfo(void) {
    return RunControllerWorker(CLI_GETCACHEINFO, QV_GetCacheInfo);
}

VK_BYTE Cli_GetFwMiscInfo(void) {
    return RunControllerWorker(CLI_GETFWMISCINFO, QV_GetFirmwareMiscInfo);
}

VK_BYTE Cli_GetPcieInfo(void) {
    return RunControllerWorker(CLI_GETPCIEINFO, QV_GetPCIeInfo);
}

VK_BYTE Cli_GetControllerStatusInfo(void) {
    return RunControllerWorker(CLI_GETCTRLSTATUSINFO, QV_GetControllerStatusInfo);
}

VK_BYTE Cli_GetBackupPowerSourceStatusInfo(void) {
    const VK_BYTE result = ValidateCmdLineArgs(3, CLI_GETBACKUPPOWERSTATUS);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    QV_GetBackupPowerSourceStatusInfo();
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_ListControllers(void) {
    const VK_BYTE result = ValidateCmdLineArgs(2, CLI_LISTCONTROLLERS);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    ShowControllers();
    return QV_CMD_SUCCESS;
}
