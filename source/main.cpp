// The tool's entry point: one command per run.
#include <cstdio>
#include <cstring>

#include "buildnum.h"
#include "cli.h"
#include "externs.h"
#include "ppavl_debug.h"

int main(int argc, char* argv[]) {
    QV_ReportOut("Quorvel Version %d.%d.%d \n", VERSION_MAJOR, VERSION_MINOR, BUILD_NUMBER);
    gArgc = argc;
    gArgv = argv;
    // Works before the platform library has started.
    PN_SetDebugLogLevel(2);

    lfp = std::fopen("diagslog.txt", "a+");
    if (lfp == nullptr) {
        QV_ReportOut("Failed to open file : diagslog.txt \n");
    }
    QV_PrintCLIArgs(argc, argv);

    if (argc < 2) {
        QV_ReportOut("No command specified. Execute quorvel help for available commands \n");
        return QV_INVALID_PARAMETER;
    }
    if (!IsCommandValid()) {
        QV_ReportOut("Command not Supported. Execute quorvel help for available commands \n");
        return QV_UNSUPPORTED;
    }
    if (std::strcmp(argv[1], "help") != 0) {
        if (QV_Init() != 0) {
            return QV_NOT_FOUND;
        }
        if (IsCmdRequiresCfgFile(argv[1])) {
            if (CfgFileReadWizard() == CFG_FILE_ERROR) {
                return QV_INVALID_PARAMETER;
            }
            ExpectedValuesTableInit();
        }
    }

    const int exit_code = CheckCliErrorCode(QV_CliParser());
    if (lfp != nullptr) {
        std::fclose(lfp);
        lfp = nullptr;
    }
    return exit_code;
}
