// Command-line front end: the command table, dispatch, argument validation and the help tables.
#ifndef CLI_H
#define CLI_H

#include "ppavl_types.h"
#include "ptelm_cda.h"

// One row of the help menu. The table ends with a row whose texts are all empty (cmdName "").
typedef struct {
    const char* cmdName;      // keyword that the help command's argument must equal
    const char* Syntax;       // shown after " Usage: "
    const char* Info;         // shown after " Info: "
    const char* Usage;        // example command lines, shown after " Example: "
    const char* SampleOutput; // shown under " Sample Output:", or none
} HELP_INFORMATION;

extern const HELP_INFORMATION HelpInfoT[];

// Ids that each handler passes to ValidateCmdLineArgs.
#define CLI_TESTIDNULL 0
#define CLI_VERIFYFWVERSION 1
#define CLI_VERIFYSYSTEMPOWER 2
#define CLI_VERIFYSYSTEMTEMPERATURE 3
#define CLI_VERIFYMFG 4
#define CLI_VERIFYCACHESIZE 5
#define CLI_VERIFYPCIECONFIG 6
#define CLI_VERIFYCPLD 7
#define CLI_GETCACHEINFO 8
#define CLI_GETFWMISCINFO 9
#define CLI_GETPCIEINFO 10
#define CLI_GETCTRLSTATUSINFO 11
#define CLI_GETBACKUPPOWERSTATUS 12
#define CLI_CACHETEST 13
#define CLI_MEMORYTEST 14
#define CLI_DATARETENTIONTEST 15
#define CLI_MRAMTEST 16
#define CLI_VERSION 17
#define CLI_HELP 18
#define CLI_LISTCONTROLLERS 19
#define CLI_SASTEST 20
#define CLI_SASPATTERNTEST 21
#define CLI_SHOWDRIVES 22
#define CLI_SHOWCTRLPHYERRORS 23
#define CLI_CONTROLLERLEDTEST 24
#define CLI_FWDIAGREVISION 25
#define CLI_SOBMESSAGECOUNTERS 26
#define CLI_PCIEINTEGRITYTEST 27
#define CLI_TESTUNITREADY 28
#define CLI_SASLINKRATETEST 29
#define CLI_SETSERIALNUMBER 30
#define CLI_FLASHROMIMAGE 31
#define CLI_FLASHMFGDATA 32
#define CLI_FLASHSEEPROMNVRAM 33
#define CLI_READMANUFACTURINGDATA 34
#define CLI_SEEPROM_WWID 35
#define CLI_PRESERVEMANUFACTURINGDATA 36

// One command. Keywords that take an operand end in "="; the table ends with the first row without a
// handler (keyword "EOL").
typedef struct {
    const char* testName;
    VK_BYTE (*cmd)(void);
    const char* info;   // one line, shown by the extended help
    const char* format; // syntax line(s), shown by the extended help
} CLI_COMMAND_TABLE;

extern const CLI_COMMAND_TABLE cliCommandT[];

// Sub-test keywords of the diagnostics; each list ends with an empty entry.
extern const char* const CacheSubtests[];
extern const char* const MemorySubtests[];
extern const char* const SasSubtests[];
extern const char* const SasPatternSubtests[];
extern const char* const DataFillVerify[];

// The command line as every handler reads it: the words of the tool's one argument vector (gArgc,
// gArgv), read through this record only, so no handler indexes the vector itself.
struct QV_COMMAND_LINE {
    int count;
    char* const* words;
    // The word at `index` (0 is the program), or nullptr outside the line.
    const char* Word(int index) const;
    // The command keyword as given (word 1), or "".
    const char* Keyword() const;
    // The text after the keyword's first "=", or "".
    const char* Operand() const;
    // Word `index` as a decimal number (AtoD), 0 when it is none.
    VK_UINT16 Number(int index) const;
    // The file named by a trailing "-f <file>", or nullptr.
    const char* CfgFileOption() const;
};
QV_COMMAND_LINE QV_GetCommandLine(void);

// 1 when the argument names the row of `keyword`: equal to it, or, for a keyword ending in "=", equal
// to it up to and including the argument's first "=".
VK_BYTE IsArgumentForKeyword(const char* argument, const char* keyword);
VK_BYTE IsCommandValid(void);
VK_BYTE QV_CliParser(void);
VK_BYTE ValidateCmdLineArgs(VK_BYTE expected_args, VK_BYTE test_id);
// Handler body of the commands that take only a controller number: validate, then run the worker
// on the selected controller.
VK_BYTE RunControllerWorker(VK_BYTE test_id, void (*worker)(PCDA));

// Handlers of the rows in the table.
VK_BYTE Cli_ShowVersion(void);
VK_BYTE Cli_ShowHelp(void);
// Reports (getcmds.cpp).
VK_BYTE Cli_GetCacheInfo(void);
VK_BYTE Cli_GetFwMiscInfo(void);
VK_BYTE Cli_GetPcieInfo(void);
VK_BYTE Cli_GetControllerStatusInfo(void);
VK_BYTE Cli_GetBackupPowerSourceStatusInfo(void);
VK_BYTE Cli_ListControllers(void);
VK_BYTE Cli_ShowDrives(void);
VK_BYTE Cli_SASLinkRateTest(void);
VK_BYTE Cli_TestUnitReady(void);
// Verifications (verifycmds.cpp).
VK_BYTE Cli_VerifyFwVer(void);
VK_BYTE Cli_VerifySystemPower(void);
VK_BYTE Cli_VerifySystemTemperature(void);
VK_BYTE Cli_VerifyMfg(void);
VK_BYTE Cli_VerifyCacheSize(void);
VK_BYTE Cli_VerifyPCIeConfig(void);
VK_BYTE Cli_VerifyCpld(void);
VK_BYTE Cli_PcieIntegrityTest(void);
// Firmware, manufacturing-data and SEEPROM maintenance (bmic_maintenance.cpp).
VK_BYTE Cli_FlashRomImage(void);
VK_BYTE Cli_FlashMFGData(void);
VK_BYTE Cli_FlashSepromNvram(void);
VK_BYTE Cli_PreserveCurrentManufacturingData(void);
VK_BYTE Cli_SetSerialNumber(void);
VK_BYTE Cli_SetSeepromWWID(void);
VK_BYTE Cli_ReadManufacturingData(void);

void ShowHelp(const char* cmd_name);
void ShowExtendedHelp(const char* heading, const char* keyword);

#endif
