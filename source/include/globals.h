// Constants and record types shared by the tool's units.
#ifndef GLOBALS_H
#define GLOBALS_H

#include "ppavl_types.h"

// Controllers and iterations.
#define NUM_OF_CONTROLLERS 7
#define MAX_ITERATION 100

// Result byte of a command handler.
#define QV_CMD_SUCCESS 0
#define QV_CMD_ARGS_INVALID_SYNTAX 1
#define QV_CMD_ARGS_NO_CTLR 2
#define QV_CMD_ARGS_INVALID_CTLR_NUM 3
#define QV_CMD_ARGS_INVALID_ITERATION_NUM 4
#define QV_CMD_ARGS_FILE_INVALID_PARAMETER 5
#define QV_CMD_FAILURE 6
#define QV_CMD_FILE_OPEN_ERROR 7
#define QV_CMD_FILE_WRITE_ERROR 8
#define QV_CMD_INVALID_PARAMETER 9
#define QV_CMD_INVALID_WWID 10
#define QV_CMD_INVALID_MANUFACTURING_DATA 11
#define QV_CMD_WWID_NOT_PROVIDED 12

// Process exit codes.
#define QV_SUCCESS 0
#define QV_INVALID_PARAMETER 2
#define QV_UNSUPPORTED 3
#define QV_NOT_FOUND 14

// Log file.
#define BANNER_LINEPRINT_LENGTH 80
#define HEX_VAL_ERR 'x'

// Expected-values file.
#define FILENAMEMAXLEN 50
#define LINESIZE 150
#define SFIELDMAXLEN 25
#define SVALUEMAXLEN 33
#define SENSOR_COUNT 4

// CfgFileReadWizard results.
#define CFG_PROCEED_WO_FILE 0
#define CFG_SUCCESS 1
#define CFG_FILE_ERROR 2

// ParseArgs results.
#define CFG_FILE_ARGS_VALID 0
#define CFG_FILE_ARGS_INVALID 1
#define CFG_FILE_ARGS_INVALID_SFIELD 2
#define CFG_FILE_ARGS_INVALID_SVALUE 3

// Where an expected value came from; EXPECTED_VALUE_NULL marks the end row.
#define EXPECTED_VALUE_NULL 0
#define EXPECTED_VALUE_DEFAULT 1
#define EXPECTED_VALUE_CFGFILE 2

// Commands that read the expected-values file; the end row has an empty name.
typedef struct {
    const char* testName;
} CFGFILE_COMMAND_TABLE;

typedef struct {
    char field[SFIELDMAXLEN];
    char value[SVALUEMAXLEN];
    VK_BYTE expectedValueSrc;
} CONFIGFILE_EXPECTED_VALUE_TABLE;

typedef struct {
    char fwVersion[SVALUEMAXLEN];
    VK_UINT16 sensorTempMin[SENSOR_COUNT];
    VK_UINT16 sensorTempMax[SENSOR_COUNT];
    VK_UINT16 cacheSize;
    VK_UINT16 pcieLinkRate;
    VK_UINT16 pcieLinkWidth;
} VERIFYTEST_EXPECTED_VALUE_TABLE;

#endif
