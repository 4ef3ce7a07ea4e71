// Reports of what the controller-model library knows of a controller, and the controller list.
// Nothing here sends a command of the tool's own: every value comes from a library getter.
#include <cstdio>
#include <iterator>
#include <string>

#include "cli.h"
#include "ctlrinfo.h"
#include "decode.h"
#include "externs.h"
#include "ppavl_commands.h"
#include "ppavl_platform.h"
#include "ptelm_commands.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"

CONTROLLER_INFO_S ctrlInfo = {};

void ShowControllers(void) {
    if (gNumOfControllersFound == 0) {
        QV_Report("ERROR!!! No Controllers were detected.\n", "ERROR!!! No Controllers were detected.\r\n");
        return;
    }
    QV_ReportOut("Found %d controller(s)\n", static_cast<int>(gNumOfControllersFound));
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
        QV_Report("  %d: %-6s %-10s %-10s %-10s %s \n", "  %d: %-6s %-10s %-10s %-10s %s \n", number, vendor,
                  family, product, "- Serial Number:", serial);
    }
}

void QV_GetCacheInfo(PCDA cda) {
    ctrlInfo.cache.ControllermemorySize = VK_GetControllerMemorySizeMB(cda);
    ctrlInfo.cache.Totalcachesize = VK_GetControllerTotalCacheSize(cda);
    const int memory = ctrlInfo.cache.ControllermemorySize;
    const int cache = ctrlInfo.cache.Totalcachesize;
    QV_Report(
        "Cache information \n ControllerMemorySize    : %d MB \n ControllerCacheSize     : %d MB \n",
        "Cache information \r\n ControllerMemorySize    : %d MB \r\n ControllerCacheSize     : %d MB \r\n",
        memory, cache);
}

void QV_GetFirmwareMiscInfo(PCDA cda) {
    char product[FWMISC_PRODUCT_ID_LEN] = {};
    char version[MAX_FW_VERSION_LEN] = {};
    char pending[MAX_FW_VERSION_LEN] = {};
    char vendor[MAX_VENDOR_ID_LEN] = {};
    char revision[MAX_HW_REVISION_LEN] = {};
    VK_GetControllerProductID(cda, product, sizeof product);
    QV_Report("ProductIdBuffer         : %s \n", "ProductIdBuffer         : %s\n", product);
    VK_GetControllerFirmwareVersion(cda, version, sizeof version);
    QV_Report("FirmwareVersion         : %s\n", "FirmwareVersion         : %s\n", version);
    VK_GetControllerPendingFirmwareVersion(cda, pending, sizeof pending);
    QV_Report("PendingFirmwareVersion  : %s\n", "PendingFirmwareVersion  : %s\n", pending);
    VK_GetControllerVendorID(cda, vendor, sizeof vendor);
    QV_Report("VendorIDBuffer          : %s\n", "VendorIDBuffer          : %s\n", vendor);
    VK_GetControllerHardwareRevision(cda, revision, sizeof revision);
    QV_Report("HardwareRevision        : %s\n", "HardwareRevision        : %s\n", revision);
}

void QV_GetPCIeInfo(PCDA cda) {
    ctrlInfo.pci.PCIegenversion = VK_GetPCIeGen(cda);
    ctrlInfo.pci.PCIewidth = VK_GetPCIeWidth(cda);
    QV_Report("PCIeGen       : %d\n", "PCIeGen       : %d\n", ctrlInfo.pci.PCIegenversion);
    QV_Report("PCIewidth     : %d\n", "PCIewidth     : %d\n", ctrlInfo.pci.PCIewidth);
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
    QV_ReportOut("Controller Status           : %s\n", controller);
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
        QV_ReportOut("Cache Status                : %s\n", cache);
        if (cache_status == kControllerCacheStatusTemporarilyDisabled ||
            cache_status == kControllerCacheStatusPermanentlyDisabled) {
            QV_ReportOut("Cache State                 : %s\n", DecodeControllerCacheStatus(status));
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
                QV_ReportOut("%s\n", f.line);
            }
        }
    }
    // Bits without a word print nothing; with none of the four the line is left without its end.
    QV_ReportOut("Controller Config Status    : ");
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
            QV_ReportOut("%s\n", w.word);
        }
    }
}

VK_BYTE QV_GetBackupPowerSourceStatusInfo(void) {
    const VK_BYTE status = static_cast<VK_BYTE>(VK_GetControllerBackupPowerSourceStatus(pCDA));
    static constexpr const char* kNames[] = {"Failed", "NotPresent", "PresentAndCharging", "PresentAndCharged"};
    QV_ReportOut("Backup Power Source Status : %s \n",
                 status < std::size(kNames) ? kNames[status] : "UNKNOWN");
    return status;
}

// ---- Drive commands ------------------------------------------------------------------------------

namespace {

constexpr char kLinkRateNames[13][20] = {
    "UNKNOWN", "PHY Disabled", "Negotiation Failed", "ATA spin-up hold", "", "", "", "",
    "1.5 Gbps", "3.0 Gbps",    "6.0 Gbps",           "12.0 Gbps",        "22.5 Gbps"};

// The condition bits of the status word, in the order the first one set names the drive.
constexpr struct {
    VK_DWORD bit;
    const char* text;
} kDriveConditions[] = {
    {kPhysicalDriveStatusFailed, "Failed"},
    {kPhysicalDriveStatusFailedDueToPSA, "Failed due to PSA"},
    {kPhysicalDriveStatusPredictiveFailure, "Predictive Failure:"},
    {kPhysicalDriveStatusPredictiveFailureWornOut, "Worn-out"},
    {kPhysicalDriveStatusIsTransientDrive, "Transient drive"},
    {kPhysicalDriveStatusErasingOffline, "Erasing"},
    {kPhysicalDriveStatusInvalidDriveSize, "Invalid drive size"},
    {kPhysicalDriveStatusFirmwareUpdateRequired, "FW update required"},
    {kPhysicalDriveStatusExposedToOS, "Exposed to OS"},
    {kPhysicalDriveStatusMaskedWithInvalidCCM, "Masked from OS (metadata present)"},
    {kPhysicalDriveStatusRebuilding, "Rebuilding"},
    {kPhysicalDriveStatusRebuildQueued, "Queued for rebuild"},
    {kPhysicalDriveStatusUnsupportedForConfig, "Unsupported for configuration"},
};

constexpr VK_WORD kEndOfDrives = 0xFFFF;
constexpr VK_UINT8 kScsiStatusGood = 0x00;
constexpr VK_UINT16 kCommandStatusSuccess = 0x0000;

// The number of drives to walk; 0, after the "No drives" line, when there are none.
VK_WORD DriveCount(PCDA cda) {
    const VK_WORD count = VK_GetControllerTotalPhysicalDriveCount(cda);
    if (count == 0) {
        QV_Report("No drives connected to the requested controller \n",
                  "No drives connected to the requested controller \r\n");
    }
    return count;
}

// One turn per counted drive. An enumeration that ends early either loses that turn and starts
// again from the first drive, or ends the walk.
template <typename Body>
void WalkDrives(PCDA cda, VK_WORD count, bool restart_at_end, Body body) {
    VK_WORD pd = kEndOfDrives;
    for (VK_WORD turn = 0; turn < count; ++turn) {
        pd = VK_EnumerateControllerPhysicalDrives(cda, pd);
        if (pd == kEndOfDrives) {
            if (restart_at_end) {
                continue;
            }
            return;
        }
        body(pd);
    }
}

void DriveLocation(PCDA cda, VK_WORD pd, char (&location)[LOCATION_BUFFER_MAXSIZE]) {
    location[0] = '\0';
    VK_GetPhysicalDriveLocation(cda, pd, kPhysicalDriveLocationComplete, location, sizeof location);
    location[sizeof location - 1] = '\0';
}

// TEST UNIT READY as the library builds it; a drive that is carried the command but answers
// anything but GOOD (NOT READY, say) is not ready.
bool DriveReady(PCDA cda, VK_WORD pd) {
    VK_UINT8 cdb[6] = {};
    SCSIRequest request;
    _VK_InitCDBSCSICommand(&request, cdb, sizeof cdb);
    return VK_SendPhysicalDeviceSCSICommand(cda, pd, &request) && request.scsi_status == kScsiStatusGood &&
           request.command_status == kCommandStatusSuccess;
}

} // namespace

const char* QV_LinkRateName(VK_BYTE code) {
    return code < std::size(kLinkRateNames) ? kLinkRateNames[code] : kLinkRateNames[LINK_SPEED_UNKNOWN];
}

bool QV_LinkRatePasses(VK_BYTE max_code, VK_BYTE negotiated_code) {
    return max_code >= LINK_SPEED_1_5_GBPS && max_code <= LINK_SPEED_22_5_GBPS && negotiated_code == max_code;
}

char* DecodePDStatus(VK_DWORD status, char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    const VK_DWORD level = PHYSICAL_DRIVE_STATUS_LEVEL(status);
    if (level == kPhysicalDriveStatusLevelOK) {
        VK_strcpy_s(buffer, size, "Ok");
        return buffer;
    }
    static constexpr const char* kLevels[] = {"", "Informational:", "Warning:", "Failed:"};
    VK_strcpy_s(buffer, size, kLevels[level]);
    const char* condition = "Unknown";
    for (const auto& c : kDriveConditions) {
        if ((status & c.bit) != 0) {
            condition = c.text;
            break;
        }
    }
    VK_strcat_s(buffer, size, condition);
    return buffer;
}

void ShowDrives(PCDA cda) {
    const VK_WORD count = DriveCount(cda);
    if (count == 0) {
        return;
    }
    const std::string dashes(97, '-');
    QV_Report("Drives connected to the requested controller \n",
              "Drives connected to the requested controller \r\n");
    QV_Report("%s \n", "%s \r\n", dashes.c_str());
    WalkDrives(cda, count, true, [cda](VK_WORD pd) {
        const int connector = VK_GetPhysicalDriveConnectorIndex(cda, pd);
        char location[LOCATION_BUFFER_MAXSIZE];
        DriveLocation(cda, pd, location);
        const VK_DWORD status = VK_GetPhysicalDriveStatusInfo(cda, pd);
        char text[STATUS_BUFFER_MAXSIZE] = {};
        DecodePDStatus(status, text, sizeof text);
        const char* usable = (status & kPhysicalDriveStatusExcludeFromConfigurationBit) != 0 ? "No" : "Yes";
        QV_Report("Index:%d, Port:Box:Bay %s, Drive status level:%s, Is drive usable:%s \n",
                  "Index:%d, Port:Box:Bay %s, Drive status level:%s, Is drive usable:%s \r\n", connector,
                  location, text, usable);
    });
}

void TestUnitReady(PCDA cda) {
    const VK_WORD count = DriveCount(cda);
    if (count == 0) {
        return;
    }
    WalkDrives(cda, count, true, [cda](VK_WORD pd) {
        const int number = pd;
        const int connector = VK_GetPhysicalDriveConnectorIndex(cda, pd);
        char location[LOCATION_BUFFER_MAXSIZE];
        DriveLocation(cda, pd, location);
        QV_ReportOut("Drive Number:%d, Connector Index:%d, Port:Box:Bay %s,  Test Command Execution:%s \n",
                     number, connector, location, DriveReady(cda, pd) ? "SUCCESS" : "FAIL");
        // The log line asks the drive once more.
        QV_Log("Drive Number:%d, Connector Index:%d, Port:Box:Bay %s, Test Command Execution:%s \n", number,
               connector, location, DriveReady(cda, pd) ? "SUCCESS" : "FAIL");
    });
}

void SASLinkRateTest(PCDA cda) {
    const VK_WORD count = DriveCount(cda);
    if (count == 0) {
        return;
    }
    WalkDrives(cda, count, false, [cda](VK_WORD pd) {
        char location[LOCATION_BUFFER_MAXSIZE];
        DriveLocation(cda, pd, location);
        const VK_BYTE max_code = PHY_MAX_LINK_RATE(VK_GetPhysicalDevicePhyLinkRate(cda, pd, kAnyPhyNumber));
        const VK_BYTE negotiated_code =
            PHY_NEGOTIATED_LOGICAL_LINK_RATE(VK_GetPhysicalDevicePhyLinkRate(cda, pd, kAnyPhyNumber));
        const char* max_name = QV_LinkRateName(max_code);
        const char* negotiated_name = QV_LinkRateName(negotiated_code);
        const char* result = QV_LinkRatePasses(max_code, negotiated_code) ? "PASS" : "FAIL";
        const int number = pd;
        QV_Report(
            "PdNumber : %d, Port:Box:Bay %s, Drive Max Transfer Speed: %s,PHY Negotiated Transfer Speed: %s, "
            "Result:%s \n",
            "PdNumber : %d, Port:Box:Bay %s, Drive Max Transfer Speed: %s,PHY Negotiated Transfer Speed: %s, "
            "Result:%s \n\r",
            number, location, max_name, negotiated_name, result);
    });
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

VK_BYTE Cli_ShowDrives(void) {
    return RunControllerWorker(CLI_SHOWDRIVES, ShowDrives);
}

VK_BYTE Cli_SASLinkRateTest(void) {
    return RunControllerWorker(CLI_SASLINKRATETEST, SASLinkRateTest);
}

VK_BYTE Cli_TestUnitReady(void) {
    return RunControllerWorker(CLI_TESTUNITREADY, TestUnitReady);
}
