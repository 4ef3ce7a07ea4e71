/* Threads of the platform library. */
#ifndef PPAVL_THREADS_H
#define PPAVL_THREADS_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PTHREAD_HANDLE;
typedef void* (*ThreadRoutine)(void* param);

PN_EXTERN_C_BEGIN

PN_API VK_BOOL _PN_ThreadHandleCreate(PTHREAD_HANDLE* handle);
PN_API VK_BOOL _PN_ThreadHandleDestroy(PTHREAD_HANDLE handle);
PN_API VK_BOOL _PN_ThreadStart(PTHREAD_HANDLE handle, ThreadRoutine routine, void* param);
PN_API VK_BOOL _PN_ThreadJoin(PTHREAD_HANDLE handle);

/* The calling thread's id truncated to 32 bits: fine for display, not for telling threads apart. */
PN_API VK_DWORD PN_GetCurrentThreadID(void);

PN_EXTERN_C_END

#endif
