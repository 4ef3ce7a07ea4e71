// State of the debug log, private to the platform library.
#ifndef PAVL_DEBUG_PRIVATE_H
#define PAVL_DEBUG_PRIVATE_H

#include "ppavl_debug.h"
#include "ppavl_synchronization.h"

#define kDebugLogLevelCount 10
#define kDebugLogBufferSize 512

PN_EXTERN_C_BEGIN

extern VK_BYTE _PN_DebugLogLevel;
extern VK_UINT32 _PN_DebugLogMask;
extern VK_UINT32 _PN_DebugLogLevelMasks[kDebugLogLevelCount];
extern DebugCallbackFunction _PN_LogCallback;
extern char __PN_DebugLogBuffer[kDebugLogBufferSize];
extern PMUTEX_LOCK _PN_PavlinDebugMutex;

void _PN_InitializeDebug(void);
void _PN_UnInitializeDebug(void);

PN_EXTERN_C_END

#endif
