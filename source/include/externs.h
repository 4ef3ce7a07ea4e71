// Process-wide state of the tool and the helpers its units share.
#ifndef EXTERNS_H
#define EXTERNS_H

#include <cstddef>
#include <cstdio>
#include <ctime>

#include "globals.h"
#include "ppavl_types.h"
#include "ptelm_cda.h"

extern int gArgc;
extern char** gArgv;

extern FILE* lfp; // diagslog.txt, or none when it could not be opened
extern FILE* cfp; // the expected-values file while it is read
extern FILE* Wfp; // output file of --read-mfgdata=

extern DeviceDescriptorList gControllerList; // discovery's list; it owns what devDesc points to
extern DeviceDescriptor devDesc[NUM_OF_CONTROLLERS];
extern PCDA CDAs[NUM_OF_CONTROLLERS]; // controller data areas in discovery order
extern VK_UINT32 gNumOfControllersFound;
extern PCDA pCDA; // data area of the controller the command names

extern CFGFILE_COMMAND_TABLE cfgFileCommandT[];
extern CONFIGFILE_EXPECTED_VALUE_TABLE configFileExpectedValueT[];
extern VERIFYTEST_EXPECTED_VALUE_TABLE verifyTestExpectedValue;

extern time_t rawtime;
extern struct tm timeinfo;

extern VK_BYTE buffer[32]; // data of the CPLD command

// Start-up, controller selection and exit codes (startup.cpp).
VK_BYTE QV_Init(void);
VK_BYTE QV_Initializehandle(void);
VK_BYTE QV_Exit(void);
VK_BYTE IsCtlrNumValid(const char* text);
VK_BYTE IsIterationNumValid(const char* text);
int CheckCliErrorCode(VK_UINT32 code);

// Log file and text helpers (utils.cpp).
// The report sink. A reported line goes to standard output and its copy to the log together, each
// from its own format over the same arguments (the log copy ends in CR LF and is often worded
// differently). The forms for one side only are explicit: QV_ReportOut for a line that is printed
// and never logged, QV_Log for one that is logged and never printed.
void QV_Report(const char* out_format, const char* log_format, ...)
    __attribute__((format(printf, 1, 3), format(printf, 2, 3)));
void QV_ReportOut(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Appends to the log; nothing when there is none.
void QV_Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void QV_BannerLinePrint(void);
void QV_PrintCLIArgs(int argc, char* argv[]);
char* GetCurrentTime(void);
VK_BYTE HexVal(char c);
VK_BYTE AtoH(const char* text, VK_UINT16* out);
VK_BYTE AtoD(const char* text, VK_UINT16* out);
VK_BYTE IsValidValue(const char* text);
void QV_AsciiTrimSpace(char* text, size_t size);
VK_BYTE ValidateAsciiString(const char* text, size_t length, VK_BOOL allow_empty);
// The whole file in a new block (free it with _VK_free), or none for a missing, unreadable or empty file.
VK_BYTE* QV_GetCompleteFileData(const char* path, VK_UINT64* size);
// The same for a file of at most `limit` bytes: a larger one is not read (none, with its size in *size).
VK_BYTE* QV_GetFileDataWithin(const char* path, VK_UINT64 limit, VK_UINT64* size);

// Expected-values file (cfg.cpp).
VK_BYTE IsCmdRequiresCfgFile(const char* command);
VK_BYTE CfgFileReadWizard(void);
VK_BYTE ParseArgs(char* line, size_t line_size, char* field, size_t field_size, char* value,
                  size_t value_size);
char* CfgSearchField(const char* field);
void ExpectedValuesTableInit(void);
VK_BYTE IsExpectedSourceCfgFile(const char* field);
VK_BYTE CfgTableDump(void);

#endif
