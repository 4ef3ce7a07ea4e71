// Shared state of the tool.
#include "externs.h"

int gArgc = 0;
char** gArgv = nullptr;

FILE* lfp = nullptr;
FILE* cfp = nullptr;
FILE* Wfp = nullptr;

DeviceDescriptor devDesc[NUM_OF_CONTROLLERS] = {};
PCDA CDAs[NUM_OF_CONTROLLERS] = {};
VK_UINT32 gNumOfControllersFound = 0;
PCDA pCDA = nullptr;

VERIFYTEST_EXPECTED_VALUE_TABLE verifyTestExpectedValue = {};

time_t rawtime = 0;
struct tm timeinfo = {};

VK_BYTE buffer[32] = {};
