// The tool's command line, checked as main and the command handlers check it, up to the point where a
// command would talk to a controller. Input: the number of controllers found (first byte, modulo the
// most the tool takes), then the arguments after the program name, each ended by a NUL.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli.h"
#include "externs.h"
#include "fuzz_check.h"
#include "ppavl_platform.h"

namespace {

constexpr int kArgsOfHandler = 0; // the handler passes the argument count itself

// How each handler that validates before working calls the validation.
struct Handler {
    const char* keyword;
    int expected_args;
    VK_BYTE id;
    bool iterations;
};
constexpr Handler kHandlers[] = {
    {"cachetest", kArgsOfHandler, CLI_CACHETEST, true},
    {"memorytest", kArgsOfHandler, CLI_MEMORYTEST, true},
    {"sastest", kArgsOfHandler, CLI_SASTEST, true},
    {"saspatterntest", kArgsOfHandler, CLI_SASPATTERNTEST, true},
    {"ctrlledtest", 4, CLI_CONTROLLERLEDTEST, true},
    {"mramtest", 4, CLI_MRAMTEST, false},
    {"dataretentiontest", 4, CLI_DATARETENTIONTEST, false},
    {"fwdiagrevision", 3, CLI_FWDIAGREVISION, false},
    {"sobmessagecounters", 3, CLI_SOBMESSAGECOUNTERS, false},
    {"verifyfwversion", 3, CLI_VERIFYFWVERSION, false},
    {"verifysystemtemperature", 3, CLI_VERIFYSYSTEMTEMPERATURE, false},
    {"verifypcieconfig", 3, CLI_VERIFYPCIECONFIG, false},
    {"verifycachesize", 3, CLI_VERIFYCACHESIZE, false},
};

int g_areas[NUM_OF_CONTROLLERS];
char g_empty_dir[] = "/tmp/quorvel_cli_fuzz_XXXXXX";

void Setup() {
    static const bool done = [] {
        std::freopen("/dev/null", "w", stdout);
        InitializePavlin(nullptr);
        lfp = std::fopen("/dev/null", "w");
        FUZZ_CHECK(mkdtemp(g_empty_dir) != nullptr);
        std::atexit([] { rmdir(g_empty_dir); });
        for (int i = 0; i < NUM_OF_CONTROLLERS; ++i) {
            CDAs[i] = &g_areas[i];
        }
        return true;
    }();
    (void)done;
}

// The file is looked up in an empty directory, so that a name from the input names nothing real.
// The working directory is put back at once: libFuzzer reads and writes by relative paths.
VK_BYTE ReadCfgFileInEmptyDirectory() {
    const int back = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(back >= 0 && chdir(g_empty_dir) == 0);
    const VK_BYTE read = CfgFileReadWizard();
    FUZZ_CHECK(fchdir(back) == 0);
    close(back);
    return read;
}

// The number a user means by the text: decimal, or hexadecimal after "0x"; none for anything else.
std::optional<unsigned long> Meant(const char* text) {
    const bool hex = text[0] == '0' && text[1] == 'x';
    const char* p = hex ? text + 2 : text;
    if (*p == '\0') {
        return std::nullopt;
    }
    unsigned long value = 0;
    for (; *p != '\0'; ++p) {
        int digit;
        if (*p >= '0' && *p <= '9') {
            digit = *p - '0';
        } else if (hex && *p >= 'a' && *p <= 'f') {
            digit = *p - 'a' + 10;
        } else if (hex && *p >= 'A' && *p <= 'F') {
            digit = *p - 'A' + 10;
        } else {
            return std::nullopt;
        }
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (value > 0xFFFFFFFFUL) {
            return std::nullopt;
        }
    }
    return value;
}

// An accepted number is the one the user meant, in range, and the one the handler goes on to use.
void CheckNumber(const char* text, unsigned long low, unsigned long high) {
    const std::optional<unsigned long> meant = Meant(text);
    FUZZ_CHECK(meant.has_value() && *meant >= low && *meant <= high);
    VK_UINT16 used = 0;
    AtoD(text, &used);
    FUZZ_CHECK(used == *meant);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    if (size == 0) {
        return 0;
    }
    const VK_UINT32 controllers = data[0] % (NUM_OF_CONTROLLERS + 1);
    std::vector<std::string> args{"quorvel"};
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == '\0') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) {
        args.push_back(current);
    }
    // Each argument in a block of its exact size, so that a read past its end is caught.
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<char*> argv;
    for (const auto& a : args) {
        blocks.push_back(std::make_unique<char[]>(a.size() + 1));
        std::memcpy(blocks.back().get(), a.c_str(), a.size() + 1);
        argv.push_back(blocks.back().get());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());
    gArgc = argc;
    gArgv = argv.data();
    gNumOfControllersFound = controllers;
    pCDA = nullptr;

    QV_PrintCLIArgs(argc, argv.data());
    if (argc < 2) {
        return 0;
    }
    const char* command = argv[1];
    const bool known = IsCommandValid() != 0;

    // The file name check; only names that cannot reach outside the empty directory are opened.
    if (IsCmdRequiresCfgFile(command)) {
        const char* name = argc > 3 && std::strcmp(argv[argc - 2], "-f") == 0 ? argv[argc - 1] : "";
        if (std::strchr(name, '/') == nullptr || std::strlen(name) >= FILENAMEMAXLEN) {
            const VK_BYTE read = ReadCfgFileInEmptyDirectory();
            FUZZ_CHECK(cfp == nullptr);
            FUZZ_CHECK(read != CFG_FILE_ERROR || std::strlen(name) >= FILENAMEMAXLEN ||
                       std::strcmp(command, "verifycachesize") == 0);
            if (read != CFG_FILE_ERROR) {
                ExpectedValuesTableInit();
            }
        }
    }

    const Handler* handler = nullptr;
    for (const Handler& h : kHandlers) {
        if (std::strcmp(h.keyword, command) == 0) {
            handler = &h;
        }
    }
    VK_BYTE result;
    if (known && (std::strcmp(command, "version") == 0 || std::strcmp(command, "help") == 0)) {
        result = QV_CliParser(); // these handlers only print
    } else if (handler == nullptr) {
        return 0;
    } else if (handler->expected_args == kArgsOfHandler) {
        result = (argc == 4 || argc == 5) ? ValidateCmdLineArgs(static_cast<VK_BYTE>(argc), handler->id)
                                          : static_cast<VK_BYTE>(QV_CMD_ARGS_INVALID_SYNTAX);
    } else {
        result = ValidateCmdLineArgs(static_cast<VK_BYTE>(handler->expected_args), handler->id);
    }
    CheckCliErrorCode(result);

    if (result == QV_CMD_SUCCESS && handler != nullptr) {
        FUZZ_CHECK(controllers > 0 && argc >= 3);
        CheckNumber(argv[2], 1, controllers);
        FUZZ_CHECK(pCDA == CDAs[*Meant(argv[2]) - 1]);
        if (handler->iterations) {
            CheckNumber(argv[argc - 1], 1, MAX_ITERATION);
        }
    }
    return 0;
}
