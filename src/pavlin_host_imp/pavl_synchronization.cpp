// Locks, condition variables and event flags over POSIX threads.
#include <pthread.h>
#include <string.h>

#include <atomic>

#include "pavl_sync_private.h"
#include "ppavl_platform.h"

namespace {

MUTEX_LOCK* as_lock(PMUTEX_LOCK mutex) {
    return static_cast<MUTEX_LOCK*>(mutex);
}
COND_VARIABLE* as_cond(PCOND_VARIABLE cond) {
    return static_cast<COND_VARIABLE*>(cond);
}

bool usable(const MUTEX_LOCK* m) {
    return m != nullptr && m->initialized;
}
bool usable(const COND_VARIABLE* c) {
    return c != nullptr && c->initialized;
}
bool usable(const EVENT_FLAGS* e) {
    return e != nullptr && e->initialized;
}

constexpr VK_DWORD kSetOptionOr = 0;
constexpr VK_DWORD kSetOptionAnd = 2;
constexpr VK_DWORD kGetTestMask = 0x0000000F;
constexpr VK_DWORD kGetAny = 1;
constexpr VK_DWORD kGetAnyClear = 2;
constexpr VK_DWORD kGetAll = 4;
constexpr VK_DWORD kGetAllClear = 8;
constexpr VK_DWORD kGetWaitMask = 0xC0000000;
constexpr VK_DWORD kGetWait = 0x80000000;
constexpr VK_DWORD kGetNoWait = 0x40000000;

// A zeroed heap object set up by `initialize`; the handle stays NULL when either step fails.
template <typename T, typename Handle> VK_BOOL CreateInitialized(Handle* handle, VK_BOOL (*initialize)(T*)) {
    if (handle == nullptr) {
        return kFalse;
    }
    auto* object = static_cast<T*>(VK_malloc(sizeof(T)));
    *handle = object;
    if (object == nullptr) {
        return kFalse;
    }
    memset(static_cast<void*>(object), 0, sizeof(T));
    if (!initialize(object)) {
        VK_free(object);
        *handle = nullptr;
        return kFalse;
    }
    return kTrue;
}

// Runs `body` while holding `lock`; a failure to take or release the lock fails the call.
template <typename Body> VK_BOOL UnderLock(pthread_mutex_t* lock, Body body) {
    if (pthread_mutex_lock(lock) != 0) {
        return kFalse;
    }
    bool ok = body();
    if (pthread_mutex_unlock(lock) != 0) {
        ok = false;
    }
    return ok ? kTrue : kFalse;
}

// Owner and depth are read without the OS mutex when the owner re-enters or leaves a nested hold, so
// every access is atomic. Only the holder writes the depth while it is positive, so it needs no
// read-modify-write; every depth write is a release after the owner's: a thread that sees a positive
// depth also sees the owner that set it, and only the owner itself can find its own id there.
std::atomic_ref<pthread_t> Owner(MUTEX_LOCK* m) {
    return std::atomic_ref<pthread_t>(m->tid);
}
std::atomic_ref<VK_INT64> Depth(MUTEX_LOCK* m) {
    return std::atomic_ref<VK_INT64>(m->lock_depth);
}
static_assert(alignof(pthread_t) >= std::atomic_ref<pthread_t>::required_alignment &&
              alignof(VK_INT64) >= std::atomic_ref<VK_INT64>::required_alignment);
bool HeldBy(MUTEX_LOCK* m, pthread_t self) {
    return Depth(m).load(std::memory_order_acquire) > 0 &&
           pthread_equal(Owner(m).load(std::memory_order_relaxed), self);
}

} // namespace

extern "C" {

VK_BOOL _PN_CondVariableInitialize(COND_VARIABLE* cond) {
    if (cond == nullptr) {
        return kFalse;
    }
    cond->initialized = kFalse;
    if (pthread_cond_init(&cond->variable, nullptr) != 0) {
        return kFalse;
    }
    cond->initialized = kTrue;
    return kTrue;
}

VK_BOOL _PN_CondVariableDestroy(COND_VARIABLE* cond) {
    if (cond == nullptr) {
        return kFalse;
    }
    int rc = 0;
    if (cond->initialized) {
        rc = pthread_cond_destroy(&cond->variable);
    }
    cond->initialized = kFalse;
    return rc == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_MutexInitialize(MUTEX_LOCK* mutex) {
    if (mutex == nullptr) {
        return kFalse;
    }
    mutex->initialized = kFalse;
    memset(&mutex->tid, 0, sizeof(mutex->tid));
    mutex->lock_depth = 0;
    if (pthread_mutex_init(&mutex->lock, nullptr) != 0) {
        return kFalse;
    }
    if (!_PN_CondVariableInitialize(&mutex->cond)) {
        pthread_mutex_destroy(&mutex->lock);
        return kFalse;
    }
    mutex->initialized = kTrue;
    return kTrue;
}

VK_BOOL _PN_MutexDestroy(MUTEX_LOCK* mutex) {
    if (mutex == nullptr) {
        return kFalse;
    }
    int rc = 0;
    if (mutex->initialized) {
        rc = pthread_mutex_destroy(&mutex->lock);
        _PN_CondVariableDestroy(&mutex->cond);
    }
    memset(&mutex->tid, 0, sizeof(mutex->tid));
    mutex->lock_depth = 0;
    mutex->initialized = kFalse;
    return rc == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_MutexCreate(PMUTEX_LOCK* mutex) {
    return CreateInitialized(mutex, _PN_MutexInitialize);
}

void _PN_MutexDelete(PMUTEX_LOCK mutex) {
    if (mutex == nullptr) {
        return;
    }
    _PN_MutexDestroy(as_lock(mutex));
    VK_free(mutex);
}

VK_BOOL _PN_MutexLock(PMUTEX_LOCK mutex) {
    MUTEX_LOCK* m = as_lock(mutex);
    if (!usable(m)) {
        return kFalse;
    }
    return pthread_mutex_lock(&m->lock) == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_MutexUnlock(PMUTEX_LOCK mutex) {
    MUTEX_LOCK* m = as_lock(mutex);
    if (!usable(m)) {
        return kFalse;
    }
    return pthread_mutex_unlock(&m->lock) == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_RecursiveMutexLock(PMUTEX_LOCK mutex) {
    MUTEX_LOCK* m = as_lock(mutex);
    if (!usable(m)) {
        return kFalse;
    }
    const pthread_t self = pthread_self();
    if (HeldBy(m, self)) {
        Depth(m).store(Depth(m).load(std::memory_order_relaxed) + 1, std::memory_order_release);
        return kTrue;
    }
    return UnderLock(&m->lock, [&] {
        bool ok = true;
        while (Depth(m).load(std::memory_order_relaxed) > 0) {
            if (pthread_cond_wait(&m->cond.variable, &m->lock) != 0) {
                ok = false;
            }
        }
        Owner(m).store(self, std::memory_order_relaxed);
        Depth(m).store(1, std::memory_order_release);
        return ok;
    });
}

VK_BOOL _PN_RecursiveMutexUnlock(PMUTEX_LOCK mutex) {
    MUTEX_LOCK* m = as_lock(mutex);
    if (!usable(m)) {
        return kFalse;
    }
    const pthread_t self = pthread_self();
    // Only the last release can wake a waiter; the ones before it are the owner's own business.
    if (HeldBy(m, self) && Depth(m).load(std::memory_order_relaxed) > 1) {
        Depth(m).store(Depth(m).load(std::memory_order_relaxed) - 1, std::memory_order_release);
        return kTrue;
    }
    return UnderLock(&m->lock, [&] {
        if (HeldBy(m, self)) {
            Depth(m).store(0, std::memory_order_release);
            return pthread_cond_signal(&m->cond.variable) == 0;
        }
        return true;
    });
}

VK_BOOL _PN_CondVariableCreate(PCOND_VARIABLE* cond) {
    return CreateInitialized(cond, _PN_CondVariableInitialize);
}

void _PN_CondVariableDelete(PCOND_VARIABLE cond) {
    if (cond == nullptr) {
        return;
    }
    _PN_CondVariableDestroy(as_cond(cond));
    VK_free(cond);
}

VK_BOOL _PN_CondVariableWait(PCOND_VARIABLE cond, PMUTEX_LOCK mutex) {
    COND_VARIABLE* c = as_cond(cond);
    MUTEX_LOCK* m = as_lock(mutex);
    if (!usable(c) || !usable(m)) {
        return kFalse;
    }
    return pthread_cond_wait(&c->variable, &m->lock) == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_CondVariableSignal(PCOND_VARIABLE cond) {
    COND_VARIABLE* c = as_cond(cond);
    if (!usable(c)) {
        return kFalse;
    }
    return pthread_cond_signal(&c->variable) == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_CondVariableBroadcast(PCOND_VARIABLE cond) {
    COND_VARIABLE* c = as_cond(cond);
    if (!usable(c)) {
        return kFalse;
    }
    return pthread_cond_broadcast(&c->variable) == 0 ? kTrue : kFalse;
}

VK_BOOL _PN_EventFlagsInitialize(EVENT_FLAGS* event_flags) {
    if (event_flags == nullptr) {
        return kFalse;
    }
    event_flags->flags = 0;
    event_flags->initialized = _PN_MutexInitialize(&event_flags->lock);
    return event_flags->initialized;
}

VK_BOOL _PN_EventFlagsDestroy(EVENT_FLAGS* event_flags) {
    if (event_flags == nullptr) {
        return kFalse;
    }
    event_flags->initialized = kFalse;
    return _PN_MutexDestroy(&event_flags->lock);
}

VK_BOOL _PN_EventFlagsCreate(PEVENT_FLAGS* event_flags) {
    return CreateInitialized(event_flags, _PN_EventFlagsInitialize);
}

VK_BOOL _PN_EventFlagsDelete(PEVENT_FLAGS event_flags) {
    if (event_flags == nullptr) {
        return kFalse;
    }
    VK_BOOL result = _PN_EventFlagsDestroy(event_flags);
    VK_free(event_flags);
    return result;
}

VK_BOOL _PN_EventFlagsSet(PEVENT_FLAGS event_flags, VK_DWORD flags_to_set, VK_DWORD set_options) {
    if (!usable(event_flags) || (set_options != kSetOptionOr && set_options != kSetOptionAnd)) {
        return kFalse;
    }
    MUTEX_LOCK& m = event_flags->lock;
    return UnderLock(&m.lock, [&] {
        if (set_options == kSetOptionAnd) {
            event_flags->flags = event_flags->flags & flags_to_set;
        } else {
            event_flags->flags = event_flags->flags | flags_to_set;
        }
        return pthread_cond_broadcast(&m.cond.variable) == 0;
    });
}

VK_BOOL _PN_EventFlagsGet(PEVENT_FLAGS event_flags, VK_DWORD requested_flags, VK_DWORD get_options,
                          VK_DWORD* actual_flags) {
    if (!usable(event_flags) || actual_flags == nullptr) {
        return kFalse;
    }
    const VK_DWORD test = get_options & kGetTestMask;
    if (test != kGetAny && test != kGetAnyClear && test != kGetAll && test != kGetAllClear) {
        return kFalse;
    }
    const VK_DWORD wait = get_options & kGetWaitMask;
    if (wait != kGetWait && wait != kGetNoWait) {
        return kFalse;
    }
    const bool want_all = test == kGetAll || test == kGetAllClear;
    auto holds = [&] {
        const VK_DWORD shared = event_flags->flags & requested_flags;
        return want_all ? shared == requested_flags : shared != 0;
    };

    MUTEX_LOCK& m = event_flags->lock;
    return UnderLock(&m.lock, [&] {
        bool ok = true;
        if (wait == kGetWait) {
            while (!holds()) {
                if (pthread_cond_wait(&m.cond.variable, &m.lock) != 0) {
                    ok = false;
                    break;
                }
            }
        }
        *actual_flags = event_flags->flags & requested_flags;
        if (test == kGetAnyClear || test == kGetAllClear) {
            event_flags->flags = event_flags->flags & ~requested_flags;
        }
        return ok;
    });
}

} // extern "C"
