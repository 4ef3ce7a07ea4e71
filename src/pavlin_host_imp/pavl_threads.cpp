// Threads over POSIX threads.
#include <pthread.h>
#include <stdint.h>
#include <string.h>

#include "pavl_sync_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

extern "C" {

VK_BOOL _PN_ThreadHandleCreate(PTHREAD_HANDLE* handle) {
    if (handle == nullptr) {
        return kFalse;
    }
    auto* h = static_cast<THREAD_HANDLE*>(VK_malloc(sizeof(THREAD_HANDLE)));
    *handle = h;
    if (h == nullptr) {
        return kFalse;
    }
    memset(static_cast<void*>(h), 0, sizeof(*h));
    return kTrue;
}

VK_BOOL _PN_ThreadHandleDestroy(PTHREAD_HANDLE handle) {
    VK_free(handle);
    return kTrue;
}

VK_BOOL _PN_ThreadStart(PTHREAD_HANDLE handle, ThreadRoutine routine, void* param) {
    auto* h = static_cast<THREAD_HANDLE*>(handle);
    bool started = false;
    if (h != nullptr) {
        started = routine != nullptr && pthread_create(&h->id, nullptr, routine, param) == 0;
        h->handle = started ? 1 : 0;
    }
    if (!started) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'handle->handle != 0' failed: Failed to start thread\n", __func__,
                    __LINE__);
    }
    return started ? kTrue : kFalse;
}

VK_BOOL _PN_ThreadJoin(PTHREAD_HANDLE handle) {
    auto* h = static_cast<THREAD_HANDLE*>(handle);
    // Joining a thread that never started, or joining twice, is undefined for the OS: refuse it.
    bool success = h != nullptr && h->handle != 0 && pthread_join(h->id, nullptr) == 0;
    if (success) {
        h->handle = 0;
    } else {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to join thread\n", __func__, __LINE__);
    }
    return success ? kTrue : kFalse;
}

VK_DWORD PN_GetCurrentThreadID(void) {
    return (VK_DWORD)(uintptr_t)pthread_self();
}

} // extern "C"
