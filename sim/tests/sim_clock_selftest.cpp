// Self-tests of the test process's virtual clock and scripted random source: with them on, the
// libc entry points the product calls answer from them (a sleep returns at once and moves the
// clock); off, those calls reach libc.
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <vector>

#include "qvsim/gtest.h"
#include "qvsim/virtual_clock.h"

namespace {

namespace vclock = qvsim::virtual_clock;
namespace vrandom = qvsim::scripted_random;

constexpr std::int64_t kNs = 1000000000;

// The real monotonic clock, read past the interposer.
std::int64_t real_monotonic_ns() {
    struct timespec ts {};
    ::syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * kNs + ts.tv_nsec;
}

std::int64_t read_ns(clockid_t clock) {
    struct timespec ts {};
    EXPECT_EQ(::clock_gettime(clock, &ts), 0);
    return std::int64_t(ts.tv_sec) * kNs + ts.tv_nsec;
}

TEST(SimVirtualClock, SleepsAdvanceTheClockAtOnceAndAreCounted) {
    const std::int64_t real_start = real_monotonic_ns();
    vclock::Scope on(1673946307); // 2023-01-17 09:05:07 UTC
    EXPECT_EQ(::time(nullptr), 1673946307);
    time_t out = 0;
    ::time(&out);
    EXPECT_EQ(out, 1673946307);
    EXPECT_EQ(read_ns(CLOCK_REALTIME), 1673946307 * kNs);
    const std::int64_t mono = read_ns(CLOCK_MONOTONIC);
    // 480 sleeps of 250 ms: two minutes later on every virtual clock, no time really spent.
    const struct timespec quarter {0, 250000000};
    for (int k = 0; k < 480; ++k)
        ASSERT_EQ(::nanosleep(&quarter, nullptr), 0);
    EXPECT_EQ(vclock::sleeps(), 480u);
    EXPECT_EQ(vclock::slept_ns(), 120 * kNs);
    EXPECT_EQ(::time(nullptr), 1673946307 + 120);
    EXPECT_EQ(read_ns(CLOCK_MONOTONIC) - mono, 120 * kNs);
    EXPECT_EQ(read_ns(CLOCK_BOOTTIME) - mono, 120 * kNs);
    EXPECT_LT(real_monotonic_ns() - real_start, 10 * kNs);
    // clock_nanosleep: relative, and absolute to a point ahead (and one behind, which sleeps 0).
    const struct timespec one_and_half {1, 500000000};
    EXPECT_EQ(::clock_nanosleep(CLOCK_MONOTONIC, 0, &one_and_half, nullptr), 0);
    EXPECT_EQ(read_ns(CLOCK_MONOTONIC) - mono, 121500000000);
    const std::int64_t target = read_ns(CLOCK_REALTIME) + 3 * kNs;
    const struct timespec abs {time_t(target / kNs), long(target % kNs)};
    EXPECT_EQ(::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &abs, nullptr), 0);
    EXPECT_EQ(read_ns(CLOCK_REALTIME), target);
    EXPECT_EQ(::clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &abs, nullptr), 0);
    EXPECT_EQ(read_ns(CLOCK_REALTIME), target);
    EXPECT_EQ(vclock::sleeps(), 483u);
    vclock::advance(kNs);
    EXPECT_EQ(read_ns(CLOCK_REALTIME), target + kNs);
    // A malformed request is refused as libc refuses it, and does not count.
    const struct timespec bad {0, kNs};
    errno = 0;
    EXPECT_EQ(::nanosleep(&bad, nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(::clock_nanosleep(CLOCK_MONOTONIC, 0, &bad, nullptr), EINVAL);
    EXPECT_EQ(vclock::sleeps(), 483u);
}

// A sleep that a shared library makes (libstdc++'s sleep_for) reaches the interposer too.
TEST(SimVirtualClock, SleepsFromSharedLibrariesAreAnsweredToo) {
    vclock::Scope on(1000);
    const std::int64_t real_start = real_monotonic_ns();
    std::this_thread::sleep_for(std::chrono::seconds(30));
    EXPECT_EQ(vclock::sleeps(), 1u);
    EXPECT_EQ(vclock::slept_ns(), 30 * kNs);
    EXPECT_EQ(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()), 1030);
    EXPECT_LT(real_monotonic_ns() - real_start, 5 * kNs);
}

TEST(SimVirtualClock, OffEverythingIsReal) {
    ASSERT_FALSE(vclock::running());
    const unsigned counted = vclock::sleeps();
    const std::int64_t before = real_monotonic_ns();
    const struct timespec ms20 {0, 20000000};
    ASSERT_EQ(::nanosleep(&ms20, nullptr), 0);
    ASSERT_EQ(::clock_nanosleep(CLOCK_MONOTONIC, 0, &ms20, nullptr), 0);
    EXPECT_GE(real_monotonic_ns() - before, 40000000);
    EXPECT_EQ(vclock::sleeps(), counted); // nothing counted while off
    struct timespec ts {};
    ::syscall(SYS_clock_gettime, CLOCK_REALTIME, &ts);
    EXPECT_LE(std::llabs(std::int64_t(::time(nullptr)) - std::int64_t(ts.tv_sec)), 1);
    // A second start restarts the counters.
    vclock::start(100);
    EXPECT_EQ(vclock::sleeps(), 0u);
    EXPECT_EQ(::time(nullptr), 100);
    vclock::stop();
    EXPECT_GT(::time(nullptr), 100);
}

TEST(SimScriptedRandom, ScriptedBytesInOrderThenFailure) {
    {
        vrandom::Scope on({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, EAGAIN);
        std::uint8_t a[4] = {}, b[2] = {}, c[1] = {};
        ASSERT_EQ(::getrandom(a, 4, 0), 4);
        EXPECT_EQ(std::vector<std::uint8_t>(a, a + 4), (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44}));
        // More than is left: fails and takes nothing.
        errno = 0;
        EXPECT_EQ(::getrandom(a, 3, 0), -1);
        EXPECT_EQ(errno, EAGAIN);
        ASSERT_EQ(::getrandom(b, 2, GRND_NONBLOCK), 2);
        EXPECT_EQ(std::vector<std::uint8_t>(b, b + 2), (std::vector<std::uint8_t>{0x55, 0x66}));
        EXPECT_EQ(::getrandom(c, 1, 0), -1);
        EXPECT_EQ(vrandom::calls(), 4u);
        EXPECT_EQ(vrandom::used(), 6u);
    }
    vrandom::fail(ENOSYS);
    std::uint8_t d[8] = {};
    errno = 0;
    EXPECT_EQ(::getrandom(d, 8, 0), -1);
    EXPECT_EQ(errno, ENOSYS);
    vrandom::stop();
    EXPECT_FALSE(vrandom::running());
    EXPECT_EQ(::getrandom(d, 8, 0), 8); // the kernel's again
}

} // namespace
