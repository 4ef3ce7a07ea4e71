// Verification commands: one property of the selected controller, PASS or FAIL. A FAIL is the
// command's answer, not an error: the handlers return success after it.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "bmic.h"
#include "cli.h"
#include "ctlrinfo.h"
#include "externs.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"

namespace {

constexpr VK_BYTE kToolReadTimeout = 1;

// The whole line, however long the texts it carries.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
    }
    va_end(again);
    return text;
}

// Sends one of the tool's diagnostic CDBs; true only when it was carried and answered GOOD.
bool SendToolCommand(PCDA cda, const char* name, EnTransferType direction, void* data, VK_UINT32 size) {
    const BMIC_SCSI_DIAGNOSTIC_CDB* row = BmicScsiCdbLookup(name);
    if (row == nullptr) {
        return false;
    }
    BMIC_SCSI_DIAGNOSTIC_CDB cdb = *row;
    SCSIRequest request;
    return QV_PopulateSCSIRequest(&request, &cdb, direction, kToolReadTimeout, data, size) != nullptr &&
           QV_SendDiagnosticRequest(cda, &request);
}

void PrintSendFailure() {
    QV_ReportOut("Failed to send request to the controller \n");
}

} // namespace

void QV_VerifyDisplayLogResult(const void* expected, const void* actual, VK_BYTE kind, const char* name) {
    std::string line;
    if (kind == STRING_ARG) {
        const auto* e = static_cast<const char*>(expected);
        const auto* a = static_cast<const char*>(actual);
        line = Format("%s: %s (eValue: %s/aValue: %s)", name, std::strcmp(e, a) == 0 ? "PASS" : "FAIL", e, a);
    } else if (kind == INTEGER_ARG) {
        const VK_UINT16 e = *static_cast<const VK_UINT16*>(expected);
        const VK_UINT16 a = *static_cast<const VK_UINT16*>(actual);
        line = Format("%s: %s (eValue: %d/aValue: %d)", name, e == a ? "PASS" : "FAIL", e, a);
    } else {
        return;
    }
    QV_Report("%s \n", "%s \r\n", line.c_str());
}

void QV_VerifyFwVersion(PCDA cda) {
    char version[MAX_FW_VERSION_LEN] = {};
    VK_GetControllerFirmwareVersion(cda, version, sizeof version);
    QV_VerifyDisplayLogResult(verifyTestExpectedValue.fwVersion, version, STRING_ARG,
                              "Firmware version verification test");
}

void QV_VerifySystemPowerInfo(PCDA cda) {
    static const char kName[] = "Powermode verification test";
    // Without the replies the word has no warnings to show: that is no PASS.
    const bool pages_unread = VK_ControllerFeaturePagesSupported(cda) && !VK_RequestFeaturePages(cda);
    if (pages_unread || (VK_ControllerSupportsPowerModes(cda) != 0 && !VK_RequestGetPowerModeBuffer(cda))) {
        QV_Report("%s : FAIL Unable to read the power mode information\n",
                  "%s : FAIL Unable to read the power mode information \r\n", kName);
        return;
    }
    const VK_WORD word = VK_GetPowerModeInformation(cda);
    if ((word & kPowerModeWarningMask) == 0) {
        QV_Report("%s : PASS\n", "%s : PASS \r\n", kName);
        return;
    }
    static const struct {
        VK_WORD bit;
        const char* out;
        const char* log;
    } kWarnings[] = {
        {kPowerModeWarningRebootRequired, "%s : FAIL PowerMode Warning : RebootRequired\n",
         "%s : FAIL PowerMode Warning : RebootRequired \r\n"},
        {kPowerModeWarningTemp, "%s : FAIL PowerMode Warning Temperature\n",
         "%s : FAIL PowerMode Warning Temperature \r\n"},
        {kPowerModeWarningNewMode, "%s : FAIL PowerModeWarning NewMode\n", "%s : FAIL PowerMode Warning NewMode \r\n"},
        {kPowerModeWarningConfigChange, "%s : FAIL PowerModeWarning ConfigChange\n",
         "%s : FAIL PowerMode Warning ConfigChange \r\n"},
        {kPowerModeWarningRebootPower, "%s : FAIL PowerModeWarning RebootPower\n",
         "%s : FAIL PowerMode Warning RebootPower \r\n"},
        {kPowerModeWarningRebootPerformance, "%s : FAIL PowerMode Warning RebootPerformance\n",
         "%s : FAIL PowerMode Warning RebootPerformance \r\n"},
    };
    for (const auto& w : kWarnings) {
        if (word & w.bit) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
            QV_Report(w.out, w.log, kName);
#pragma GCC diagnostic pop
        }
    }
}

void QV_VerifyControllerTemperatureSensorInfo(PCDA cda) {
    static const char kName[] = "Controller temperature verification test";
    // The getter writes the count only when it has records.
    VK_DWORD count = 0;
    PCONTROLLER_TEMPERATURE_SENSOR_INFO sensors = VK_GetControllerTemperatureSensorsInfo(cda, &count);
    if (sensors == nullptr || count == 0) {
        QV_Report("%s : Failed to get Sensors info \n", "%s : Failed to get Sensors info \n", kName);
    }
    if (sensors == nullptr) {
        count = 0;
    }
    if (count > SENSOR_COUNT) {
        QV_Report("%s : Detected a board with %u sensors. Max Sensor Count Supported %d\n",
                  "%s : Detected a board with %u sensors. Max Sensor Count Supported %d\n", kName, count, SENSOR_COUNT);
    } else {
        const std::string dashes = std::string(85, '-') + " \n";
        for (VK_DWORD i = 0; i < count; ++i) {
            const int index = static_cast<int>(i);
            const unsigned min = verifyTestExpectedValue.sensorTempMin[i];
            const unsigned max = verifyTestExpectedValue.sensorTempMax[i];
            const VK_UINT32 current = sensors[i].current_reading;
            const VK_UINT32 highest = sensors[i].max_reading;
            if (highest > max) {
                QV_Report("%s : Temperature Sensor index : %d Max temperature %u is more than the Expected "
                          "Maximum Temp %u \n",
                          "%s : Temperature Sensor index : %d Max temperature %u is more than the Expected Maximum "
                          "Temp %u \r\n",
                          kName, index, highest, max);
            }
            const bool fail = current < min || current > max;
            // Printed in three lines, logged in one whose wording depends on the verdict.
            QV_ReportOut("%s : Temperature Sensor index %d - %s\n", kName, index, fail ? "FAIL" : "PASS");
            QV_ReportOut("Sensor Index-%d: Expected Minimum Temp: %u Expected Maximum Temp: %u Current Temp: %u \n",
                         index, min, max, current);
            QV_ReportOut("%s", dashes.c_str());
            if (fail) {
                QV_Log("%s : Temperature Sensor - FAIL  sensorIndex: %d sensorCurrtemp:%u, "
                       "verifyTestExpectedValue.sensorTempMin: %u, verifyTestExpectedValue.sensorTempMax: %u\r\n",
                       kName, index, current, min, max);
            } else {
                QV_Log("%s : Temperature Sensor index %d - PASS \r\n", kName, index);
            }
        }
    }
    if (sensors != nullptr) {
        VK_DestroyControllerTemperatureSensorsInfo(sensors);
    }
}

void QV_VerifyCache(PCDA cda) {
    const VK_UINT16 actual = VK_GetControllerTotalCacheSize(cda);
    QV_VerifyDisplayLogResult(&verifyTestExpectedValue.cacheSize, &actual, INTEGER_ARG,
                              "Cache size verification test");
}

VK_BYTE QV_PCIeGetInfo(PCDA cda, PCIeLinkInfo* info) {
    if (info == nullptr || BmicScsiCdbLookup("readPCIeValues") == nullptr) {
        return 0;
    }
    VK_BYTE registers[PCIE_CAPABILITY_REGISTERS_SIZE] = {};
    if (!SendToolCommand(cda, "readPCIeValues", eDATA_TRANSFER_IN, registers, sizeof registers)) {
        PrintSendFailure();
        return 0;
    }
    return QV_DecodePCIeLinkInfo(pavlin::ByteView(registers, sizeof registers), info) ? 1 : 0;
}

void QV_VerifyPCIeConfig(PCDA cda) {
    PCIeLinkInfo info{};
    if (!QV_PCIeGetInfo(cda, &info)) {
        QV_Report("PCIe Test failed\n", "PCIe Test failed \r\n");
        return;
    }
    const VK_UINT16 speed = info.CurrentLinkSpeed;
    const VK_UINT16 width = info.NegotiatedLinkWidth;
    QV_VerifyDisplayLogResult(&verifyTestExpectedValue.pcieLinkRate, &speed, INTEGER_ARG, "PCIe Link Speed test");
    QV_VerifyDisplayLogResult(&verifyTestExpectedValue.pcieLinkWidth, &width, INTEGER_ARG, "PCIe Link Width test");
}

void QV_PCIeIntegrityTest(PCDA cda) {
    PCIeLinkInfo info{};
    if (!QV_PCIeGetInfo(cda, &info)) {
        QV_Report("PCIe Integrity Test failed\n", "PCIe Integrity Test failed \r\n");
        return;
    }
    if (info.LinkErrors != 0) {
        QV_Report("PCIe Integrity test - FAIL \n", "PCIe Integrity test - FAIL \r\n");
    } else {
        QV_Report("PCIe Integrity test - PASS \n", "PCIe Integrity test - PASS \r\n");
    }
}

void QV_VerifyMfg(PCDA cda) {
    VK_BYTE record[HOST_MFG_RECORD_SIZE] = {};
    char wwn[MAX_WWN_LEN] = {};
    char serial[MAX_WWN_LEN] = {};
    if (BmicScsiCdbLookup("readI2CHostMFG") != nullptr &&
        !SendToolCommand(cda, "readI2CHostMFG", eDATA_TRANSFER_IN, record, sizeof record)) {
        PrintSendFailure();
        return;
    }
    if (!QV_HostMfgSignatureValid(pavlin::ByteView(record, sizeof record))) {
        QV_Report(" Manufacturing section verification: Invalid signature - FAIL\n",
                  "Manufacturing section verification: Invalid signature - FAIL\r\n");
        return;
    }
    // A WWN that could not be read verifies nothing; the factory placeholders mean the section was
    // never programmed.
    VK_GetControllerWWN(cda, wwn, sizeof wwn);
    bool pass = wwn[0] != '\0' && std::strcmp(wwn, "50123456789ABC00") != 0;
    if (pass) {
        VK_GetControllerSerialNumber(cda, serial, sizeof serial);
        pass = serial[0] != '\0' && std::strcmp(serial, "000001") != 0;
    }
    QV_Report("Manufacturing section verification test - %s\n", "Manufacturing section verification test - %s\r\n",
              pass ? "PASS" : "FAIL");
}

void QV_VerifyCPLD(PCDA cda) {
    static const char kName[] = "CPLD Programming Verification test";
    if (BmicScsiCdbLookup("verifycpld") == nullptr) {
        return;
    }
    // The CDB keeps its 0x26 while its 8 data bytes go out.
    if (SendToolCommand(cda, "verifycpld", eDATA_TRANSFER_OUT, buffer, 8)) {
        QV_Report("%s : - PASS \n", "%s : - PASS \r\n", kName);
    } else {
        QV_Report("%s : - FAIL \n", "%s : - FAIL \r\n", kName);
    }
}

// ---- Handlers -----------------------------------------------------------------------------------

VK_BYTE Cli_VerifyFwVer(void) {
    return RunControllerWorker(CLI_VERIFYFWVERSION, QV_VerifyFwVersion);
}

VK_BYTE Cli_VerifySystemPower(void) {
    return RunControllerWorker(CLI_VERIFYSYSTEMPOWER, QV_VerifySystemPowerInfo);
}

VK_BYTE Cli_VerifySystemTemperature(void) {
    return RunControllerWorker(CLI_VERIFYSYSTEMTEMPERATURE, QV_VerifyControllerTemperatureSensorInfo);
}

VK_BYTE Cli_VerifyMfg(void) {
    return RunControllerWorker(CLI_VERIFYMFG, QV_VerifyMfg);
}

VK_BYTE Cli_VerifyCacheSize(void) {
    const VK_BYTE result = ValidateCmdLineArgs(3, CLI_VERIFYCACHESIZE);
    if (result != QV_CMD_SUCCESS) {
        return result;
    }
    if (!IsExpectedSourceCfgFile("cachesize")) {
        QV_ReportOut("ERROR!!! Unable to retrieve the expected value from the configuration file.\n");
        return QV_CMD_ARGS_FILE_INVALID_PARAMETER;
    }
    QV_VerifyCache(pCDA);
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_VerifyPCIeConfig(void) {
    return RunControllerWorker(CLI_VERIFYPCIECONFIG, QV_VerifyPCIeConfig);
}

VK_BYTE Cli_VerifyCpld(void) {
    return RunControllerWorker(CLI_VERIFYCPLD, QV_VerifyCPLD);
}

VK_BYTE Cli_PcieIntegrityTest(void) {
    return RunControllerWorker(CLI_PCIEINTEGRITYTEST, QV_PCIeIntegrityTest);
}
