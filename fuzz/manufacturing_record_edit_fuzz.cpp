// The serial-number and WWID edits of the manufacturing record. Input: one byte choosing the edit, a
// 256-byte record read from the controller (zero where the input ends), the rest the operand text. An
// accepted edit changes only its own field; a refused one changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "bmic.h"
#include "externs.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool serial = (data[0] & 1) != 0;
    ++data;
    --size;
    VK_BYTE record[MANUFACTURING_RECORD_SIZE] = {};
    const size_t n = size < sizeof(record) ? size : sizeof(record);
    std::memcpy(record, data, n);
    const std::string operand_text(reinterpret_cast<const char*>(data + n), size - n);

    VK_CONTROLLER_MANUFACTURING_DATA operand;
    const VK_BYTE parsed = serial ? ParseSerialNumberOperand(operand_text.c_str(), &operand)
                                  : ParseWWIDOperand(operand_text.c_str(), &operand);
    if (parsed != QV_CMD_SUCCESS) {
        return 0;
    }
    VK_BYTE before[sizeof(record)];
    std::memcpy(before, record, sizeof(record));
    // The edit prints the current and new values; keep the fuzzer's output quiet.
    std::FILE* saved = stdout;
    stdout = std::fopen("/dev/null", "w");
    const VK_BYTE edited = EditManufacturingRecord(record, sizeof(record), &operand,
                                                   serial ? "SerialNumber" : "SeepromWWID");
    std::fclose(stdout);
    stdout = saved;
    const size_t first = serial ? 8 : 0;
    const size_t end = serial ? 23 : 8;
    for (size_t i = 0; i < sizeof(record); ++i) {
        if (edited != QV_CMD_SUCCESS || i < first || i >= end) {
            FUZZ_CHECK(record[i] == before[i]);
        }
    }
    if (edited == QV_CMD_SUCCESS && serial) {
        // The operand is a C string: it ends at its first NUL.
        const size_t length = std::strlen(operand_text.c_str());
        FUZZ_CHECK(std::memcmp(record + 8, operand_text.c_str(), length) == 0);
    }
    return 0;
}
