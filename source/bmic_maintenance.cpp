// Firmware, manufacturing-data and SEEPROM maintenance: the firmware and manufacturing-data flashes
// through the library, and the tool's own manufacturing-record and NVRAM CDBs.
#include <cstdio>
#include <cstring>
#include <string>

#include "bmic.h"
#include "cli.h"
#include "externs.h"
#include "pavl_bytes.h"
#include "ptelm.h"
#include "ptelm_commands.h"
#include "ptelm_features.h"
#include "ppavl_platform.h"
#include "ptelm_flash.h"
// The result codes the tool shares with the library.
#include "telm_pprivate.h"

namespace {

constexpr VK_BYTE kBmicI2CNVRAMPassthrough = 0x46;
constexpr VK_BYTE kBmicManufacturingData = 0x82;
constexpr VK_UINT32 kReadManufacturingRecordDetail = 0x00000001;
constexpr VK_UINT32 kWriteManufacturingRecordDetail = 0x00000000;
constexpr VK_UINT32 kReadI2CManufacturingDetail = 0x01000000;
constexpr VK_UINT32 kWriteNvramImageDetail = 0x08010000;
constexpr VK_UINT16 kNvramAnnouncedSize = 0x4000;
constexpr VK_BYTE kInvalidSerialNumber = 1;
constexpr size_t kSerialNumberLength = 15;
constexpr size_t kWWIDDigits = 16;
constexpr size_t kCdbSize = 16;

// Each image file is bounded by what its format can hold: a larger one is refused unread.
constexpr VK_UINT64 kLargestFirmwareImage = static_cast<VK_UINT64>(kFlashControllerChunkSize) * kFlashControllerMaxChunks;
constexpr VK_UINT64 kLargestManufacturingData = 0xFFFF; // the I2C NVRAM write states 16 bits
constexpr VK_UINT64 kLargestNvramImage = 0xFFFF;        // the request's data size is 16 bits wide

// A whole file read into a tracked block, freed when it goes. A file past its limit is not read:
// too_large() tells it from a missing or empty one.
class FileData {
public:
    FileData(const char* path, VK_UINT64 limit)
        : data_(path != nullptr ? QV_GetFileDataWithin(path, limit, &size_) : nullptr), limit_(limit) {}
    ~FileData() {
        if (data_ != nullptr) {
            VK_free(data_);
        }
    }
    FileData(const FileData&) = delete;
    FileData& operator=(const FileData&) = delete;
    bool too_large() const { return size_ > limit_; }
    bool empty() const { return data_ == nullptr || size_ == 0; }
    VK_BYTE* data() const { return data_; }
    VK_UINT64 size() const { return size_; }

private:
    VK_UINT64 size_ = 0;
    VK_BYTE* data_;
    VK_UINT64 limit_;
};

// Sends one maintenance CDB; success only when it was carried and answered GOOD.
bool SendMaintenanceCdb(PCDA cda, VK_BYTE bmic_opcode, VK_UINT32 detail, EnDirection operation,
                        VK_UINT16 announced_size, void* buffer, VK_UINT32 buffer_size) {
    VK_BYTE cdb[kCdbSize] = {};
    ConstructManufacturingDataCdb(cdb, bmic_opcode, detail, operation, announced_size);
    SCSIRequest request;
    if (QV_PopulateSCSIRequest(&request, cdb, operation == eREAD ? eDATA_TRANSFER_IN : eDATA_TRANSFER_OUT, 0,
                               buffer, buffer_size) == nullptr) {
        return false;
    }
    return QV_SendDiagnosticRequest(cda, &request) != kFalse;
}

bool ReadManufacturingRecord(PCDA cda, VK_BYTE* record) {
    std::memset(record, 0, MANUFACTURING_RECORD_SIZE);
    return SendMaintenanceCdb(cda, kBmicManufacturingData, kReadManufacturingRecordDetail, eREAD,
                              MANUFACTURING_RECORD_SIZE, record, MANUFACTURING_RECORD_SIZE);
}

bool WriteManufacturingRecord(PCDA cda, VK_BYTE* record) {
    return SendMaintenanceCdb(cda, kBmicManufacturingData, kWriteManufacturingRecordDetail, eWRITE,
                              MANUFACTURING_RECORD_SIZE, record, MANUFACTURING_RECORD_SIZE);
}

// The same text on both sides; the log copy takes the line end the command's message has there.
void PrintAndLog(const char* text, const char* log_end) {
    QV_ReportOut("%s\n", text);
    QV_Log("%s%s", text, log_end);
}

constexpr const char* kRebootNote = "\n\rA reboot will be required for changes to take effect.";
constexpr const char* kRebootAllNote = "\n\rA reboot will be required for all new values to take effect.";

// Success and failure print their own texts; every other result is decoded.
void PrintOutcome(VK_BYTE result, const char* success, const char* success_log, const char* success_log_end,
                  const char* failure, const char* failure_log_end) {
    if (result == QV_CMD_SUCCESS) {
        // The log names the success in words of its own.
        QV_ReportOut("%s\n", success);
        QV_Log("%s%s", success_log, success_log_end);
    } else if (result == QV_CMD_FAILURE) {
        PrintAndLog(failure, failure_log_end);
    } else {
        DecodeCommandReturnStatus(result);
    }
}

// The operand of "keyword=operand": the text after the first "=".
const char* Operand() {
    return QV_GetCommandLine().Operand();
}

// Validates the command line and runs the worker on the selected controller.
VK_BYTE RunMaintenance(VK_BYTE test_id, VK_BYTE (*worker)(PCDA, const char*), VK_BYTE* result) {
    const VK_BYTE valid = ValidateCmdLineArgs(3, test_id);
    if (valid != QV_CMD_SUCCESS) {
        return valid;
    }
    *result = worker(pCDA, Operand());
    return QV_CMD_SUCCESS;
}

std::string Joined(const char* text, const char* note) {
    return std::string(text) + note;
}

} // namespace

void ConstructManufacturingDataCdb(VK_BYTE* cdb, VK_BYTE bmic_opcode, VK_UINT32 detail, EnDirection operation,
                                   VK_UINT16 size) {
    pavlin::ByteSpan out(cdb, kCdbSize);
    out.put8(0, static_cast<VK_BYTE>(operation));
    out.put8(1, 0);
    out.put_be32(2, detail);
    out.put8(6, bmic_opcode);
    out.put_be16(7, size);
    out.put8(9, 0);
    out.put8(10, 0);
}

void DecodeCommandReturnStatus(VK_BYTE result) {
    switch (result) {
        case QV_CMD_FILE_OPEN_ERROR:
            PrintAndLog("Opening file : FAILED", " \r\n");
            break;
        case QV_CMD_FILE_WRITE_ERROR:
            PrintAndLog("Writing Manufacturing data to binary file : FAILED", " \r\n");
            break;
        case QV_CMD_INVALID_PARAMETER:
            QV_Report("Invalid input parameter. \n", "Invalid input parameter.\r\n");
            break;
        case QV_CMD_INVALID_WWID:
            QV_Report("Invalid WWID. Valid input for WWID is 16 hex digits starting with 5\n",
                      "Invalid WWID.Valid input for WWID is 16 hex digits starting with 5 \r\n");
            break;
        case QV_CMD_INVALID_MANUFACTURING_DATA:
            PrintAndLog("Invalid Manufacturing Data parameter", " \r\n");
            break;
        case QV_CMD_WWID_NOT_PROVIDED:
            PrintAndLog("WWID is not provided ", "\r\n");
            break;
        default:
            PrintAndLog("Command Execution : FAILED", " \r\n");
            break;
    }
}

VK_BYTE FlashRomImage(PCDA cda, const char* file_name) {
    FileData image(file_name, kLargestFirmwareImage);
    // More chunks than the collect buffer numbers: the library would refuse it.
    if (image.too_large()) {
        return QV_CMD_FAILURE;
    }
    if (image.empty()) {
        return QV_CMD_FILE_OPEN_ERROR;
    }
    const auto size = static_cast<VK_DWORD>(image.size());
    if (VK_CanFlashController(cda, size) != kCanFlashControllerOK) {
        return QV_CMD_FAILURE;
    }
    VK_BYTE result = QV_CMD_FAILURE;
    VK_ControllerPauseBackgroundActivity(cda, kTrue);
    if (VK_ValidateControllerImage(cda, image.data(), size) == kValidateControllerImageOK &&
        VK_FlashController(cda, image.data(), size, nullptr) == kFlashControllerSuccess) {
        if (VK_ControllerFlashOnce(cda) ||
            VK_FlashController(cda, image.data(), size, nullptr) == kFlashControllerSuccess) {
            result = QV_CMD_SUCCESS;
        }
    }
    VK_ControllerResumeBackgroundActivity(cda);
    return result;
}

VK_BYTE FlashMFGData(PCDA cda, const char* file_name) {
    FileData data(file_name, kLargestManufacturingData);
    if (data.too_large()) {
        return QV_CMD_FAILURE;
    }
    if (data.empty()) {
        return QV_CMD_FILE_OPEN_ERROR;
    }
    const auto size = static_cast<VK_DWORD>(data.size());
    if (VK_CanFlashControllerManufacturingData(cda, data.data(), size) == kCanFlashControllerManufacturingDataOK &&
        VK_FlashControllerManufacturingData(cda, data.data(), size)) {
        return QV_CMD_SUCCESS;
    }
    return QV_CMD_FAILURE;
}

VK_BYTE FlashSeepromNvram(PCDA cda, const char* file_name) {
    FileData image(file_name, kLargestNvramImage);
    if (image.too_large()) {
        PrintAndLog("SEEPROM NVRAM image larger than 65535 bytes, not sent", " \r\n");
        return QV_CMD_FAILURE;
    }
    if (image.empty()) {
        return QV_CMD_FILE_OPEN_ERROR;
    }
    return SendMaintenanceCdb(cda, kBmicI2CNVRAMPassthrough, kWriteNvramImageDetail, eWRITE, kNvramAnnouncedSize,
                              image.data(), static_cast<VK_UINT32>(image.size()))
               ? QV_CMD_SUCCESS
               : QV_CMD_FAILURE;
}

VK_BYTE PreserveCurrentManufacturingData(PCDA cda, const char* file_name) {
    VK_BYTE record[MANUFACTURING_RECORD_SIZE];
    if (!ReadManufacturingRecord(cda, record)) {
        return QV_CMD_FAILURE;
    }
    QV_ReportOut("Get Manufacturing Data : SUCCESS\n");
    VK_BYTE result = FlashSeepromNvram(cda, file_name);
    if (result == QV_CMD_SUCCESS) {
        const std::string text = Joined("Flashing entire SEEPROM NVRAM of Controller : SUCCESS", kRebootNote);
        PrintAndLog(text.c_str(), " \r\n");
        result = WriteManufacturingRecord(cda, record) ? QV_CMD_SUCCESS : QV_CMD_FAILURE;
    }
    return result;
}

VK_BYTE ParseSerialNumberOperand(const char* serial_number, VK_CONTROLLER_MANUFACTURING_DATA* operand) {
    const size_t length = serial_number != nullptr ? std::strlen(serial_number) : 0;
    if (serial_number == nullptr || length > kSerialNumberLength ||
        !ValidateAsciiString(serial_number, length, kTrue)) {
        return kInvalidSerialNumber;
    }
    std::memset(operand, 0, sizeof(*operand));
    std::memcpy(operand->serial_number, serial_number, length);
    return QV_CMD_SUCCESS;
}

VK_BYTE ParseWWIDOperand(const char* wwid, VK_CONTROLLER_MANUFACTURING_DATA* operand) {
    if (wwid == nullptr || wwid[0] == '\0') {
        return QV_CMD_WWID_NOT_PROVIDED;
    }
    if (std::strlen(wwid) != kWWIDDigits) {
        return QV_CMD_INVALID_WWID;
    }
    std::memset(operand, 0, sizeof(*operand));
    for (size_t i = 0; i < sizeof(operand->WWID); ++i) {
        const VK_BYTE high = HexVal(wwid[2 * i]);
        const VK_BYTE low = HexVal(wwid[2 * i + 1]);
        if (high == HEX_VAL_ERR || low == HEX_VAL_ERR) {
            return QV_CMD_INVALID_WWID;
        }
        operand->WWID[i] = static_cast<VK_BYTE>(high << 4 | low);
    }
    return QV_CMD_SUCCESS;
}

VK_BYTE SetSerialNumber(PCDA cda, const char* serial_number) {
    VK_CONTROLLER_MANUFACTURING_DATA operand;
    const VK_BYTE parsed = ParseSerialNumberOperand(serial_number, &operand);
    return parsed != QV_CMD_SUCCESS ? parsed : ModifyManufacturingData(cda, &operand, "SerialNumber");
}

VK_BYTE SetSeepromWWID(PCDA cda, const char* wwid) {
    VK_CONTROLLER_MANUFACTURING_DATA operand;
    const VK_BYTE parsed = ParseWWIDOperand(wwid, &operand);
    return parsed != QV_CMD_SUCCESS ? parsed : ModifyManufacturingData(cda, &operand, "SeepromWWID");
}

VK_BYTE EditManufacturingRecord(VK_BYTE* record_bytes, size_t record_size,
                                const VK_CONTROLLER_MANUFACTURING_DATA* operand, const char* field) {
    if (record_bytes == nullptr || record_size < sizeof(DIAG_MANUFACTURING_DATA) || operand == nullptr ||
        field == nullptr) {
        return QV_CMD_INVALID_PARAMETER;
    }
    DIAG_MANUFACTURING_DATA record;
    std::memcpy(&record, record_bytes, sizeof(record));
    if (std::strcmp(field, "SerialNumber") == 0) {
        // The record's serial number fills all 15 bytes when it is that long: print a terminated copy.
        char current[kSerialNumberLength + 1] = {};
        std::memcpy(current, record.SerialNumber, kSerialNumberLength);
        char next[kSerialNumberLength + 1] = {};
        std::memcpy(next, operand->serial_number, kSerialNumberLength);
        QV_ReportOut("Current Controller Serial Number: %s\n", current);
        QV_ReportOut("New Controller Serial Number: %s\n", next);
        std::memset(record.SerialNumber, 0, sizeof(record.SerialNumber));
        std::memcpy(record.SerialNumber, next, std::strlen(next));
    } else if (std::strcmp(field, "SeepromWWID") == 0) {
        const VK_BYTE* w = record.WWID;
        QV_ReportOut("Current Controller SEEPROM WWID:%02X%02X%02X%02X%02X%02X%02X%02X\n", w[0], w[1], w[2], w[3],
                    w[4], w[5], w[6], w[7]);
        if ((operand->WWID[0] & 0xF0) != WWID_NAA) {
            return QV_CMD_INVALID_WWID;
        }
        std::memcpy(record.WWID, operand->WWID, sizeof(record.WWID));
        w = record.WWID;
        QV_ReportOut("New Controller SEEPROM WWID: %02X%02X%02X%02X%02X%02X%02X%02X\n", w[0], w[1], w[2], w[3],
                    w[4], w[5], w[6], w[7]);
    } else {
        return QV_CMD_INVALID_MANUFACTURING_DATA;
    }
    std::memcpy(record_bytes, &record, sizeof(record));
    return QV_CMD_SUCCESS;
}

VK_BYTE ModifyManufacturingData(PCDA cda, const void* operand_record, const char* field) {
    if (operand_record == nullptr) {
        return QV_CMD_INVALID_PARAMETER;
    }
    VK_BYTE record[MANUFACTURING_RECORD_SIZE];
    if (!ReadManufacturingRecord(cda, record)) {
        return QV_CMD_FAILURE;
    }
    const VK_BYTE edited = EditManufacturingRecord(
        record, sizeof(record), static_cast<const VK_CONTROLLER_MANUFACTURING_DATA*>(operand_record), field);
    if (edited != QV_CMD_SUCCESS) {
        return edited;
    }
    if (!WriteManufacturingRecord(cda, record)) {
        QV_ReportOut("Modifying Manufacturing Data failed\n");
        return QV_CMD_FAILURE;
    }
    return QV_CMD_SUCCESS;
}

VK_BYTE ReadManufacturingData(PCDA cda, const char* file_name) {
    if (file_name == nullptr || file_name[0] == '\0') {
        return QV_CMD_INVALID_PARAMETER;
    }
    VK_BYTE record[MANUFACTURING_RECORD_SIZE] = {};
    if (!SendMaintenanceCdb(cda, kBmicI2CNVRAMPassthrough, kReadI2CManufacturingDetail, eREAD,
                            MANUFACTURING_RECORD_SIZE, record, sizeof(record))) {
        QV_ReportOut("Read Manufacturing Data Failed\n");
        return QV_CMD_FAILURE;
    }
    Wfp = std::fopen(file_name, "a");
    if (Wfp == nullptr) {
        return QV_CMD_FILE_OPEN_ERROR;
    }
    const size_t written = std::fwrite(record, 1, sizeof(record), Wfp);
    const bool closed = std::fclose(Wfp) == 0;
    Wfp = nullptr;
    return written == sizeof(record) && closed ? QV_CMD_SUCCESS : QV_CMD_FILE_WRITE_ERROR;
}

// ---- Handlers -----------------------------------------------------------------------------------

VK_BYTE Cli_FlashRomImage(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_FLASHROMIMAGE, FlashRomImage, &result);
    if (valid == QV_CMD_SUCCESS) {
        const std::string text = Joined("Flashing Controller : SUCCESS", kRebootNote);
        PrintOutcome(result, text.c_str(), text.c_str(), " \r\n", "Flashing Controller : FAILED", "\n");
    }
    return valid;
}

VK_BYTE Cli_FlashMFGData(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_FLASHMFGDATA, FlashMFGData, &result);
    if (valid == QV_CMD_SUCCESS) {
        const std::string text = Joined("Flashing Controller Manufacturing Data : SUCCESS", kRebootNote);
        const std::string log = Joined("Flashing Controller  Manufacturing Data : SUCCESS", kRebootNote);
        PrintOutcome(result, text.c_str(), log.c_str(), " \r\n", "Flashing Controller Manufacturing Data : FAILED",
                     " \r\n");
    }
    return valid;
}

VK_BYTE Cli_FlashSepromNvram(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_FLASHSEEPROMNVRAM, FlashSeepromNvram, &result);
    if (valid == QV_CMD_SUCCESS) {
        const std::string text = Joined("Flashing entire SEEPROM NVRAM of Controller : SUCCESS", kRebootNote);
        PrintOutcome(result, text.c_str(), text.c_str(), " \r\n",
                     "Flashing entire SEEPROM NVRAM of Controller : FAILED", " \r\n");
    }
    return valid;
}

VK_BYTE Cli_PreserveCurrentManufacturingData(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_PRESERVEMANUFACTURINGDATA, PreserveCurrentManufacturingData, &result);
    if (valid == QV_CMD_SUCCESS) {
        const std::string text =
            Joined("Preserve Current Manufacturing Data of the Controller : SUCCESS", kRebootNote);
        PrintOutcome(result, text.c_str(), text.c_str(), " \r\n",
                     "Preserve Current Manufacturing Data of the Controller : FAILED", "\n");
    }
    return valid;
}

VK_BYTE Cli_SetSerialNumber(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_SETSERIALNUMBER, SetSerialNumber, &result);
    if (valid != QV_CMD_SUCCESS) {
        return valid;
    }
    if (result == kInvalidSerialNumber) {
        return QV_CMD_ARGS_INVALID_SYNTAX;
    }
    const std::string text = Joined("Set Controller serial number result : SUCCESS", kRebootAllNote);
    PrintOutcome(result, text.c_str(), text.c_str(), " \r\n", "Set Controller serial number result : FAILED",
                 " \r\n");
    return QV_CMD_SUCCESS;
}

VK_BYTE Cli_SetSeepromWWID(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_SEEPROM_WWID, SetSeepromWWID, &result);
    if (valid == QV_CMD_SUCCESS) {
        const std::string text = Joined("Set Controller Seeprom WWID result : SUCCESS", kRebootAllNote);
        PrintOutcome(result, text.c_str(), text.c_str(), " \r\n", "Setting Controller Seeprom WWID : FAILED",
                     "\r\n");
    }
    return valid;
}

VK_BYTE Cli_ReadManufacturingData(void) {
    VK_BYTE result = QV_CMD_FAILURE;
    const VK_BYTE valid = RunMaintenance(CLI_READMANUFACTURINGDATA, ReadManufacturingData, &result);
    if (valid == QV_CMD_SUCCESS) {
        PrintOutcome(result, "Read Controller Manufacturing Data status : SUCCESS",
                     "Read Controller Manufacturing Data status : SUCCESS", " \r\n",
                     "Read Controller Manufacturing Data : FAILED", " \r\n");
    }
    return valid;
}
