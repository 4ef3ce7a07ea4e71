// Expected values of the verification commands: factory defaults, overridden by a small text file.
#include <climits>
#include <cstring>

#include "cli.h"
#include "externs.h"
#include "ppavl_platform.h"

CFGFILE_COMMAND_TABLE cfgFileCommandT[] = {
    {"verifyfwversion"}, {"verifysystemtemperature"}, {"verifypcieconfig"}, {"verifycachesize"}, {""},
};

CONFIGFILE_EXPECTED_VALUE_TABLE configFileExpectedValueT[] = {
    {"filecfgversion", "0.1", EXPECTED_VALUE_DEFAULT}, {"fwversion", "1.99", EXPECTED_VALUE_DEFAULT},
    {"maxtempsensor0", "85", EXPECTED_VALUE_DEFAULT},  {"mintempsensor0", "5", EXPECTED_VALUE_DEFAULT},
    {"maxtempsensor1", "90", EXPECTED_VALUE_DEFAULT},  {"mintempsensor1", "10", EXPECTED_VALUE_DEFAULT},
    {"maxtempsensor2", "85", EXPECTED_VALUE_DEFAULT},  {"mintempsensor2", "5", EXPECTED_VALUE_DEFAULT},
    {"maxtempsensor3", "90", EXPECTED_VALUE_DEFAULT},  {"mintempsensor3", "10", EXPECTED_VALUE_DEFAULT},
    {"pcieLinkRate", "2", EXPECTED_VALUE_DEFAULT},     {"pcieLinkWidth", "16", EXPECTED_VALUE_DEFAULT},
    {"cachesize", "0", EXPECTED_VALUE_DEFAULT},        {"EOL", "EOL", EXPECTED_VALUE_NULL},
};

namespace {

constexpr const char* kDefaultCfgFile = "veskroc.cfg";

// Rows before the end row only: the end row is no field and must keep ending the table.
CONFIGFILE_EXPECTED_VALUE_TABLE* FindRow(const char* field) {
    if (field == nullptr) {
        return nullptr;
    }
    for (auto* row = configFileExpectedValueT; row->expectedValueSrc != EXPECTED_VALUE_NULL; ++row) {
        if (std::strcmp(row->field, field) == 0) {
            return row;
        }
    }
    return nullptr;
}

const char* CommandKeyword() {
    return QV_GetCommandLine().Keyword();
}

// One line without its line end (LF, or CR LF). A line longer than the buffer is read to its end and
// reported through `too_long`, so it never turns into several lines. False at the end of the file.
bool ReadLine(FILE* file, char* line, size_t size, bool* too_long) {
    size_t length = 0;
    bool any = false;
    *too_long = false;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (c == '\r') {
            const int next = std::fgetc(file);
            if (next == '\n') {
                break;
            }
            if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        if (length + 1 < size) {
            line[length++] = static_cast<char>(c);
        } else {
            *too_long = true;
        }
    }
    line[length] = '\0';
    return any;
}

// Values that are converted to 16-bit numbers must convert exactly: AtoD would read "85.0" as 0 and
// "65621" as 85. The file version is never converted, and the link rate keeps its own rule: a rate
// written with a point is accepted.
bool ConvertsExactly(const char* field, const char* value) {
    if (std::strcmp(field, "filecfgversion") == 0) {
        return true;
    }
    if (std::strchr(value, '.') != nullptr) {
        return std::strcmp(field, "pcieLinkRate") == 0;
    }
    unsigned long number = 0;
    for (const char* p = value; *p != '\0'; ++p) {
        number = number * 10 + static_cast<unsigned long>(*p - '0');
        if (number > 0xFFFF) {
            return false;
        }
    }
    return true;
}

void CloseCfgFile() {
    if (cfp != nullptr) {
        std::fclose(cfp);
        cfp = nullptr;
    }
}

} // namespace

VK_BYTE IsCmdRequiresCfgFile(const char* command) {
    if (command == nullptr) {
        return 0;
    }
    for (const auto* row = cfgFileCommandT; row->testName[0] != '\0'; ++row) {
        if (std::strcmp(row->testName, command) == 0) {
            return 1;
        }
    }
    return 0;
}

VK_BYTE ParseArgs(char* line, size_t line_size, char* field, size_t field_size, char* value,
                  size_t value_size) {
    if (line == nullptr || field == nullptr || value == nullptr || field_size == 0 || value_size == 0) {
        return CFG_FILE_ARGS_INVALID;
    }
    field[0] = '\0';
    value[0] = '\0';
    QV_AsciiTrimSpace(line, line_size);

    // After the trim, words are separated by exactly one blank.
    int words = 0;
    const char* p = line;
    while (*p != '\0') {
        const char* end = std::strchr(p, ' ');
        const size_t length = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
        ++words;
        if (words == 1) {
            if (length >= field_size) {
                return CFG_FILE_ARGS_INVALID_SFIELD;
            }
            std::memcpy(field, p, length);
            field[length] = '\0';
        } else if (words == 2) {
            if (length >= value_size) {
                return CFG_FILE_ARGS_INVALID_SVALUE;
            }
            std::memcpy(value, p, length);
            value[length] = '\0';
        }
        p += length;
        if (*p == ' ') {
            ++p;
        }
    }
    return words == 2 ? CFG_FILE_ARGS_VALID : CFG_FILE_ARGS_INVALID;
}

VK_BYTE CfgFileReadWizard(void) {
    char file_name[FILENAMEMAXLEN] = {};
    const char* name = kDefaultCfgFile;
    if (const char* option = QV_GetCommandLine().CfgFileOption(); option != nullptr) {
        name = option;
    }
    if (std::strlen(name) >= sizeof file_name) {
        QV_ReportOut("ERROR!!! Configuration file name exceeds %d characters\n", FILENAMEMAXLEN - 1);
        return CFG_FILE_ERROR;
    }
    VK_strcpy_s(file_name, sizeof file_name, name);

    cfp = std::fopen(file_name, "r");
    if (cfp == nullptr) {
        // "%p" of a null stream is not the same text everywhere.
        QV_Log("Config file read error (nil)\r\n");
        if (std::strcmp(CommandKeyword(), "verifycachesize") == 0) {
            QV_ReportOut("ERROR!!! Configuration file is required for the Cache size verification test.\n");
            return CFG_FILE_ERROR;
        }
        QV_ReportOut(
            "%s\n",
            "WARNING!!! Unable to read configuration file.\nFactory Default values will be used for the "
            "verification tests.");
        return CFG_PROCEED_WO_FILE;
    }

    char line[LINESIZE];
    int line_number = 0;
    bool too_long = false;
    while (ReadLine(cfp, line, sizeof line, &too_long)) {
        if (line_number < INT_MAX) {
            ++line_number;
        }
        if (too_long) {
            QV_ReportOut("Line number %d exceeds maximum width in configuration file\n", line_number);
            CloseCfgFile();
            return CFG_FILE_ERROR;
        }
        if (line[0] == '\0') {
            continue;
        }

        char field[SFIELDMAXLEN];
        char value[SVALUEMAXLEN];
        switch (ParseArgs(line, sizeof line, field, sizeof field, value, sizeof value)) {
            case CFG_FILE_ARGS_VALID:
                break;
            case CFG_FILE_ARGS_INVALID_SFIELD:
                QV_ReportOut("Field in line number %d exceeds maximum width in configuration file\n",
                             line_number);
                CloseCfgFile();
                return CFG_FILE_ERROR;
            case CFG_FILE_ARGS_INVALID_SVALUE:
                QV_ReportOut("Value in line number %d exceeds maximum width in configuration file\n",
                             line_number);
                CloseCfgFile();
                return CFG_FILE_ERROR;
            default:
                QV_ReportOut(
                    "Invalid number of arguements provided in line number %d in configuration file\n",
                    line_number);
                CloseCfgFile();
                return CFG_FILE_ERROR;
        }

        CONFIGFILE_EXPECTED_VALUE_TABLE* row = FindRow(field);
        if (row == nullptr) {
            QV_ReportOut(" Field not supported %s\n", field);
            CloseCfgFile();
            return CFG_FILE_ERROR;
        }
        // The firmware version is free text; every other value is a number.
        if (std::strcmp(field, "fwversion") != 0 &&
            (!IsValidValue(value) || !ConvertsExactly(field, value))) {
            QV_ReportOut("Invalid value provided for %s field in configuration file\n", field);
            CloseCfgFile();
            return CFG_FILE_ERROR;
        }
        VK_strcpy_s(row->value, sizeof row->value, value);
        row->expectedValueSrc = EXPECTED_VALUE_CFGFILE;
    }
    CloseCfgFile();
    return CFG_SUCCESS;
}

char* CfgSearchField(const char* field) {
    CONFIGFILE_EXPECTED_VALUE_TABLE* row = FindRow(field);
    return row != nullptr ? row->value : nullptr;
}

void ExpectedValuesTableInit(void) {
    const char* fw_version = CfgSearchField("fwversion");
    VK_strcpy_s(verifyTestExpectedValue.fwVersion, sizeof verifyTestExpectedValue.fwVersion,
                fw_version != nullptr ? fw_version : "");
    AtoD(CfgSearchField("cachesize"), &verifyTestExpectedValue.cacheSize);
    for (int i = 0; i < SENSOR_COUNT; ++i) {
        char name[SFIELDMAXLEN];
        std::snprintf(name, sizeof name, "maxtempsensor%d", i);
        AtoD(CfgSearchField(name), &verifyTestExpectedValue.sensorTempMax[i]);
        std::snprintf(name, sizeof name, "mintempsensor%d", i);
        AtoD(CfgSearchField(name), &verifyTestExpectedValue.sensorTempMin[i]);
    }
    AtoD(CfgSearchField("pcieLinkRate"), &verifyTestExpectedValue.pcieLinkRate);
    AtoD(CfgSearchField("pcieLinkWidth"), &verifyTestExpectedValue.pcieLinkWidth);
}

VK_BYTE IsExpectedSourceCfgFile(const char* field) {
    const CONFIGFILE_EXPECTED_VALUE_TABLE* row = FindRow(field);
    return (row != nullptr && row->expectedValueSrc == EXPECTED_VALUE_CFGFILE) ? 1 : 0;
}

VK_BYTE CfgTableDump(void) {
    int i = 0;
    for (; configFileExpectedValueT[i].expectedValueSrc != EXPECTED_VALUE_NULL; ++i) {
        if (lfp != nullptr) {
            const auto& row = configFileExpectedValueT[i];
            std::fprintf(lfp, "configFileExpectedValueT[%d].field: %s - %s (src: %d)\r\n ", i, row.field,
                         row.value, row.expectedValueSrc);
        }
    }
    return configFileExpectedValueT[i].expectedValueSrc;
}
