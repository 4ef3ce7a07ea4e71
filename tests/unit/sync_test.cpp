// Locks, condition variables, event flags and threads of the platform library.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <string>
#include <vector>

#include "pavl_sync_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ppavl_synchronization.h"
#include "ppavl_threads.h"

namespace {

class RecursiveLockTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(_PN_MutexCreate(&lock_)); }
    void TearDown() override { _PN_MutexDelete(lock_); }
    MUTEX_LOCK* record() { return static_cast<MUTEX_LOCK*>(lock_); }
    PMUTEX_LOCK lock_ = nullptr;
};

TEST_F(RecursiveLockTest, OwnerTakesItRepeatedlyAndReleasesItFully) {
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(_PN_RecursiveMutexLock(lock_));
        EXPECT_EQ(record()->lock_depth, i);
        EXPECT_TRUE(pthread_equal(record()->tid, pthread_self()));
    }
    for (int i = 2; i >= 0; --i) {
        EXPECT_TRUE(_PN_RecursiveMutexUnlock(lock_));
        EXPECT_EQ(record()->lock_depth, i);
    }
    EXPECT_TRUE(_PN_RecursiveMutexUnlock(lock_)); // a fourth release changes nothing
    EXPECT_EQ(record()->lock_depth, 0);
}

TEST_F(RecursiveLockTest, ReleaseByAnotherThreadChangesNothing) {
    ASSERT_TRUE(_PN_RecursiveMutexLock(lock_));
    ASSERT_TRUE(_PN_RecursiveMutexLock(lock_));
    pthread_t other;
    ASSERT_EQ(pthread_create(
                  &other, nullptr,
                  [](void* lock) -> void* {
                      return reinterpret_cast<void*>(static_cast<intptr_t>(_PN_RecursiveMutexUnlock(lock)));
                  },
                  lock_),
              0);
    void* result = nullptr;
    ASSERT_EQ(pthread_join(other, &result), 0);
    EXPECT_EQ(reinterpret_cast<intptr_t>(result), kTrue);
    EXPECT_EQ(record()->lock_depth, 2);
    EXPECT_TRUE(pthread_equal(record()->tid, pthread_self()));
    EXPECT_TRUE(_PN_RecursiveMutexUnlock(lock_));
    EXPECT_TRUE(_PN_RecursiveMutexUnlock(lock_));
}

// A thread whose id agrees with the owner's in its low 32 bits is still not the owner.
TEST_F(RecursiveLockTest, OwnershipComparesTheWholeThreadId) {
    if (sizeof(pthread_t) <= sizeof(VK_DWORD)) {
        GTEST_SKIP() << "thread ids fit in 32 bits here";
    }
    const auto self = static_cast<unsigned long long>(pthread_self());
    record()->tid = static_cast<pthread_t>(self ^ (1ULL << 40));
    record()->lock_depth = 1;
    EXPECT_EQ(static_cast<VK_DWORD>(record()->tid), PN_GetCurrentThreadID());
    EXPECT_TRUE(_PN_RecursiveMutexUnlock(lock_));
    EXPECT_EQ(record()->lock_depth, 1);
    record()->lock_depth = 0;
}

struct SharedCounter {
    PMUTEX_LOCK lock;
    long value;
};

void* bump_under_lock(void* param) {
    auto* shared = static_cast<SharedCounter*>(param);
    for (int i = 0; i < 2000; ++i) {
        _PN_RecursiveMutexLock(shared->lock);
        _PN_RecursiveMutexLock(shared->lock);
        const long seen = shared->value;
        sched_yield(); // invites another thread in if the lock let it
        shared->value = seen + 1;
        _PN_RecursiveMutexUnlock(shared->lock);
        _PN_RecursiveMutexUnlock(shared->lock);
    }
    return nullptr;
}

TEST_F(RecursiveLockTest, ExclusiveAcrossThreads) {
    SharedCounter shared{lock_, 0};
    std::vector<pthread_t> threads(4);
    for (pthread_t& t : threads) {
        ASSERT_EQ(pthread_create(&t, nullptr, bump_under_lock, &shared), 0);
    }
    for (pthread_t& t : threads) {
        pthread_join(t, nullptr);
    }
    EXPECT_EQ(shared.value, 4 * 2000);
    EXPECT_EQ(record()->lock_depth, 0);
}

TEST_F(RecursiveLockTest, PlainLockAndConditionVariable) {
    PCOND_VARIABLE cond = nullptr;
    ASSERT_TRUE(_PN_CondVariableCreate(&cond));
    struct Shared {
        PMUTEX_LOCK lock;
        PCOND_VARIABLE cond;
        bool ready;
    } shared{lock_, cond, false};
    pthread_t waiter;
    ASSERT_EQ(pthread_create(
                  &waiter, nullptr,
                  [](void* param) -> void* {
                      auto* s = static_cast<Shared*>(param);
                      bool ok = _PN_MutexLock(s->lock);
                      while (ok && !s->ready) {
                          ok = _PN_CondVariableWait(s->cond, s->lock);
                      }
                      ok = _PN_MutexUnlock(s->lock) && ok;
                      return reinterpret_cast<void*>(static_cast<intptr_t>(ok));
                  },
                  &shared),
              0);
    EXPECT_TRUE(_PN_MutexLock(lock_));
    shared.ready = true;
    EXPECT_TRUE(_PN_CondVariableBroadcast(cond));
    EXPECT_TRUE(_PN_MutexUnlock(lock_));
    void* result = nullptr;
    pthread_join(waiter, &result);
    EXPECT_EQ(reinterpret_cast<intptr_t>(result), 1);
    EXPECT_TRUE(_PN_CondVariableSignal(cond));
    _PN_CondVariableDelete(cond);
}

// The libraries lock before start-up and after shut-down, when their locks do not exist.
TEST(LockHandles, MissingOrUninitialisedLocksDoNothing) {
    MUTEX_LOCK stale{};
    for (PMUTEX_LOCK lock : {static_cast<PMUTEX_LOCK>(nullptr), static_cast<PMUTEX_LOCK>(&stale)}) {
        EXPECT_FALSE(_PN_RecursiveMutexLock(lock));
        EXPECT_FALSE(_PN_RecursiveMutexUnlock(lock));
        EXPECT_FALSE(_PN_MutexLock(lock));
        EXPECT_FALSE(_PN_MutexUnlock(lock));
    }
    COND_VARIABLE stale_cond{};
    EXPECT_FALSE(_PN_CondVariableSignal(nullptr));
    EXPECT_FALSE(_PN_CondVariableBroadcast(&stale_cond));
    EXPECT_FALSE(_PN_CondVariableWait(&stale_cond, nullptr));
    EXPECT_FALSE(_PN_MutexCreate(nullptr));
    EXPECT_FALSE(_PN_CondVariableCreate(nullptr));
    EXPECT_FALSE(_PN_EventFlagsCreate(nullptr));
    EXPECT_FALSE(_PN_ThreadHandleCreate(nullptr));
    _PN_MutexDelete(nullptr);
    _PN_CondVariableDelete(nullptr);
    EXPECT_FALSE(_PN_EventFlagsDelete(nullptr));
    EXPECT_TRUE(_PN_ThreadHandleDestroy(nullptr));

    PMUTEX_LOCK lock = nullptr;
    ASSERT_TRUE(_PN_MutexCreate(&lock));
    ASSERT_TRUE(_PN_MutexDestroy(static_cast<MUTEX_LOCK*>(lock)));
    EXPECT_FALSE(_PN_RecursiveMutexLock(lock)); // destroyed: no longer usable
    _PN_MutexDelete(lock);
}

// ---------------------------------------------------------------------------------------------------------

class EventFlagsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(_PN_EventFlagsCreate(&group_)); }
    void TearDown() override { EXPECT_TRUE(_PN_EventFlagsDelete(group_)); }
    PEVENT_FLAGS group_ = nullptr;
};

TEST_F(EventFlagsTest, NewGroupReadsZero) {
    for (VK_DWORD option : {1u, 2u, 4u, 8u}) {
        VK_DWORD actual = 0xDEAD;
        EXPECT_TRUE(_PN_EventFlagsGet(group_, 0xFFFFFFFF, option | kEventFlagsGetNoWait, &actual));
        EXPECT_EQ(actual, 0u);
    }
}

TEST_F(EventFlagsTest, SetAndGetWithoutWaiting) {
    struct Case {
        VK_DWORD flags, requested, options, reported, left;
    };
    const Case cases[] = {
        {0x1, 0x3, kEventFlagsGetAllClear, 0x1, 0x0}, // test fails, still reports and clears
        {0x5, 0x3, kEventFlagsGetAny, 0x1, 0x5},      {0x5, 0x3, kEventFlagsGetAnyClear, 0x1, 0x4},
        {0x7, 0x3, kEventFlagsGetAll, 0x3, 0x7},      {0x7, 0x3, kEventFlagsGetAllClear, 0x3, 0x4},
        {0x4, 0x3, kEventFlagsGetAny, 0x0, 0x4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.flags << "/" << c.requested << "/" << c.options);
        ASSERT_TRUE(_PN_EventFlagsSet(group_, 0, kEventFlagsSetAnd));
        ASSERT_TRUE(_PN_EventFlagsSet(group_, c.flags, kEventFlagsSetOr));
        VK_DWORD actual = 0xDEAD;
        EXPECT_TRUE(_PN_EventFlagsGet(group_, c.requested, c.options | kEventFlagsGetNoWait, &actual));
        EXPECT_EQ(actual, c.reported);
        EXPECT_EQ(group_->flags, c.left);
    }
    ASSERT_TRUE(_PN_EventFlagsSet(group_, 0xF0, kEventFlagsSetOr));
    ASSERT_TRUE(_PN_EventFlagsSet(group_, 0x30, kEventFlagsSetAnd));
    EXPECT_EQ(group_->flags, 0x30u);
}

TEST_F(EventFlagsTest, InvalidArgumentsAreRefused) {
    VK_DWORD actual = 0;
    EXPECT_FALSE(_PN_EventFlagsSet(group_, 1, 1));
    EXPECT_FALSE(_PN_EventFlagsSet(group_, 1, 3));
    EXPECT_FALSE(_PN_EventFlagsSet(nullptr, 1, 0));
    EXPECT_FALSE(_PN_EventFlagsGet(nullptr, 1, kEventFlagsGetAny | kEventFlagsGetNoWait, &actual));
    EXPECT_FALSE(_PN_EventFlagsGet(group_, 1, kEventFlagsGetAny | kEventFlagsGetNoWait, nullptr));
    for (VK_DWORD options :
         {0u | kEventFlagsGetNoWait, 3u | kEventFlagsGetNoWait, 0xFu | kEventFlagsGetWait, kEventFlagsGetAny,
          kEventFlagsGetAny | kEventFlagsGetWait | kEventFlagsGetNoWait}) {
        EXPECT_FALSE(_PN_EventFlagsGet(group_, 1, options, &actual)) << std::hex << options;
    }
    EVENT_FLAGS stale{};
    EXPECT_FALSE(_PN_EventFlagsSet(&stale, 1, 0));
    EXPECT_FALSE(_PN_EventFlagsGet(&stale, 1, kEventFlagsGetAny | kEventFlagsGetNoWait, &actual));
}

struct Waiter {
    PEVENT_FLAGS group;
    VK_DWORD actual;
    VK_BOOL result;
};

TEST_F(EventFlagsTest, WaiterWakesWhenAllFlagsAreSet) {
    Waiter waiter{group_, 0, kFalse};
    PTHREAD_HANDLE thread = nullptr;
    ASSERT_TRUE(_PN_ThreadHandleCreate(&thread));
    ASSERT_TRUE(_PN_ThreadStart(
        thread,
        [](void* param) -> void* {
            auto* w = static_cast<Waiter*>(param);
            w->result =
                _PN_EventFlagsGet(w->group, 0x3, kEventFlagsGetAllClear | kEventFlagsGetWait, &w->actual);
            return nullptr;
        },
        &waiter));
    EXPECT_TRUE(_PN_EventFlagsSet(group_, 0x1, kEventFlagsSetOr));
    EXPECT_TRUE(_PN_EventFlagsSet(group_, 0x6, kEventFlagsSetOr));
    EXPECT_TRUE(_PN_ThreadJoin(thread));
    EXPECT_TRUE(waiter.result);
    EXPECT_EQ(waiter.actual, 0x3u);
    EXPECT_EQ(group_->flags, 0x4u);
    EXPECT_TRUE(_PN_ThreadHandleDestroy(thread));
}

// ---------------------------------------------------------------------------------------------------------

std::vector<std::string> g_logged;
void capture(VK_BYTE, VK_UINT32, const char* text) {
    g_logged.emplace_back(text);
}

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializePavlin(nullptr);
        g_logged.clear();
        previous_ = PN_SetDebugCallback(capture);
    }
    void TearDown() override { PN_SetDebugCallback(previous_); }
    DebugCallbackFunction previous_ = nullptr;
};

TEST_F(ThreadTest, StartRunsTheRoutineAndJoinWaitsForIt) {
    PTHREAD_HANDLE handle = nullptr;
    ASSERT_TRUE(_PN_ThreadHandleCreate(&handle));
    EXPECT_EQ(static_cast<THREAD_HANDLE*>(handle)->handle, 0);
    std::atomic<int> ran{0};
    ASSERT_TRUE(_PN_ThreadStart(
        handle,
        [](void* param) -> void* {
            static_cast<std::atomic<int>*>(param)->fetch_add(1);
            return nullptr;
        },
        &ran));
    EXPECT_EQ(static_cast<THREAD_HANDLE*>(handle)->handle, 1);
    EXPECT_TRUE(_PN_ThreadJoin(handle));
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(g_logged.empty());

    // The thread is gone: a second join must not reach the OS with a stale id.
    EXPECT_FALSE(_PN_ThreadJoin(handle));
    ASSERT_EQ(g_logged.size(), 1u);
    EXPECT_EQ(g_logged[0].rfind("_PN_ThreadJoin:", 0), 0u);
    EXPECT_NE(g_logged[0].find(": Assertion 'success' failed: Failed to join thread\n"), std::string::npos);
    EXPECT_TRUE(_PN_ThreadHandleDestroy(handle));
}

TEST_F(ThreadTest, FailuresAreLoggedAndReported) {
    PTHREAD_HANDLE handle = nullptr;
    ASSERT_TRUE(_PN_ThreadHandleCreate(&handle));
    EXPECT_FALSE(_PN_ThreadStart(handle, nullptr, nullptr));
    EXPECT_EQ(static_cast<THREAD_HANDLE*>(handle)->handle, 0);
    EXPECT_FALSE(_PN_ThreadStart(nullptr, nullptr, nullptr));
    EXPECT_FALSE(_PN_ThreadJoin(handle));
    EXPECT_FALSE(_PN_ThreadJoin(nullptr));
    ASSERT_EQ(g_logged.size(), 4u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(g_logged[i].rfind("_PN_ThreadStart:", 0), 0u);
        EXPECT_NE(g_logged[i].find(": Assertion 'handle->handle != 0' failed: "
                                   "Failed to start thread\n"),
                  std::string::npos);
    }
    EXPECT_TRUE(_PN_ThreadHandleDestroy(handle));
}

TEST(ThreadId, IsTheThreadIdentityTruncated) {
    EXPECT_EQ(PN_GetCurrentThreadID(), static_cast<VK_DWORD>(pthread_self()));
}

} // namespace
