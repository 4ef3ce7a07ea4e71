// Layouts behind the platform library's lock, condition-variable, event-flag and thread handles.
#ifndef PAVL_SYNC_PRIVATE_H
#define PAVL_SYNC_PRIVATE_H

#include <pthread.h>

#include "ppavl_synchronization.h"
#include "ppavl_threads.h"

typedef struct _COND_VARIABLE {
    VK_BOOL initialized;
    pthread_cond_t variable;
} COND_VARIABLE;

typedef struct _MUTEX_LOCK {
    VK_BOOL initialized;
    pthread_mutex_t lock; // guards tid and lock_depth
    COND_VARIABLE cond;   // signalled when a re-entrant holder lets go
    // Full thread identity of the re-entrant owner: a 32-bit truncation could let another thread
    // pass as the owner.
    pthread_t tid;
    VK_INT64 lock_depth;
} MUTEX_LOCK;

struct _EVENT_FLAGS {
    volatile VK_DWORD flags;
    MUTEX_LOCK lock;
    VK_BOOL initialized;
};

typedef struct _THREAD_HANDLE {
    pthread_t id;
    int handle;
} THREAD_HANDLE;

PN_EXTERN_C_BEGIN

VK_BOOL _PN_MutexInitialize(MUTEX_LOCK* mutex);
VK_BOOL _PN_MutexDestroy(MUTEX_LOCK* mutex);
VK_BOOL _PN_CondVariableInitialize(COND_VARIABLE* cond);
VK_BOOL _PN_CondVariableDestroy(COND_VARIABLE* cond);
VK_BOOL _PN_EventFlagsInitialize(EVENT_FLAGS* event_flags);
VK_BOOL _PN_EventFlagsDestroy(EVENT_FLAGS* event_flags);

PN_EXTERN_C_END

#endif
