// The test process's virtual clock and scripted random source (qvsim/virtual_clock.h): time,
// clock_gettime, nanosleep, clock_nanosleep and getrandom, answered here while a test has turned
// them on and passed to libc otherwise.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "qvsim/virtual_clock.h"

namespace {

constexpr std::int64_t kNs = 1000000000;

template <typename F> F next_symbol(const char* name) {
    void* p = ::dlsym(RTLD_NEXT, name);
    if (p == nullptr) {
        std::fprintf(stderr, "qvsim: no libc symbol %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

// Real clock readings without going through the interposed clock_gettime.
std::int64_t real_ns(clockid_t clock) {
    struct timespec ts {};
    ::syscall(SYS_clock_gettime, clock, &ts);
    return std::int64_t(ts.tv_sec) * kNs + ts.tv_nsec;
}

struct Clock {
    std::mutex m;
    std::atomic<bool> on{false};
    std::int64_t realtime = 0, monotonic = 0; // virtual readings, ns
    unsigned sleeps = 0;
    std::int64_t slept = 0;
};

Clock& clock_state() {
    static Clock* c = new Clock; // never destroyed: libc may ask for the time during exit
    return *c;
}

struct Random {
    std::mutex m;
    std::atomic<bool> on{false};
    bool failing = false;
    int err = EIO;
    std::vector<std::uint8_t> bytes;
    std::size_t next = 0;
    unsigned calls = 0;
};

Random& random_state() {
    static Random* r = new Random;
    return *r;
}

// The clocks the virtual clock answers: the wall clock, and the ones that count from boot.
enum class Kind { kReal, kWall, kSinceBoot };

Kind kind_of(clockid_t clock) {
    switch (clock) {
        case CLOCK_REALTIME:
        case CLOCK_REALTIME_COARSE:
        case CLOCK_TAI:
            return Kind::kWall;
        case CLOCK_MONOTONIC:
        case CLOCK_MONOTONIC_RAW:
        case CLOCK_MONOTONIC_COARSE:
        case CLOCK_BOOTTIME:
            return Kind::kSinceBoot;
        default:
            return Kind::kReal; // CPU-time clocks and the like keep running
    }
}

std::int64_t reading(const Clock& c, Kind k) {
    return k == Kind::kWall ? c.realtime : c.monotonic;
}

void advance_locked(Clock& c, std::int64_t ns) {
    c.realtime += ns;
    c.monotonic += ns;
}

bool valid(const struct timespec* ts) {
    return ts != nullptr && ts->tv_sec >= 0 && ts->tv_nsec >= 0 && ts->tv_nsec < kNs;
}

std::int64_t ns_of(const struct timespec& ts) {
    return std::int64_t(ts.tv_sec) * kNs + ts.tv_nsec;
}

// A sleep of `ns` on the virtual clock (a target in the past sleeps 0 and still counts).
void sleep_locked(Clock& c, std::int64_t ns) {
    ns = std::max<std::int64_t>(ns, 0);
    advance_locked(c, ns);
    ++c.sleeps;
    c.slept += ns;
}

} // namespace

namespace qvsim {

namespace virtual_clock {

void start(std::int64_t realtime_seconds) {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    c.realtime = realtime_seconds * kNs;
    c.monotonic = real_ns(CLOCK_MONOTONIC);
    c.sleeps = 0;
    c.slept = 0;
    c.on = true;
}

void start() {
    start(real_ns(CLOCK_REALTIME) / kNs);
}

void stop() {
    clock_state().on = false;
}

bool running() {
    return clock_state().on;
}

void advance(std::int64_t nanoseconds) {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    advance_locked(c, nanoseconds);
}

std::int64_t realtime_ns() {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    return c.realtime;
}

std::int64_t monotonic_ns() {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    return c.monotonic;
}

unsigned sleeps() {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    return c.sleeps;
}

std::int64_t slept_ns() {
    Clock& c = clock_state();
    std::lock_guard<std::mutex> g(c.m);
    return c.slept;
}

} // namespace virtual_clock

namespace scripted_random {

void script(std::vector<std::uint8_t> bytes, int exhausted_errno) {
    Random& r = random_state();
    std::lock_guard<std::mutex> g(r.m);
    r.bytes = std::move(bytes);
    r.next = 0;
    r.calls = 0;
    r.failing = false;
    r.err = exhausted_errno;
    r.on = true;
}

void fail(int err) {
    Random& r = random_state();
    std::lock_guard<std::mutex> g(r.m);
    r.bytes.clear();
    r.next = 0;
    r.calls = 0;
    r.failing = true;
    r.err = err;
    r.on = true;
}

void stop() {
    Random& r = random_state();
    std::lock_guard<std::mutex> g(r.m);
    r.on = false;
    std::fill(r.bytes.begin(), r.bytes.end(), 0);
    r.bytes.clear();
}

bool running() {
    return random_state().on;
}

unsigned calls() {
    Random& r = random_state();
    std::lock_guard<std::mutex> g(r.m);
    return r.calls;
}

std::size_t used() {
    Random& r = random_state();
    std::lock_guard<std::mutex> g(r.m);
    return r.next;
}

} // namespace scripted_random

} // namespace qvsim

extern "C" {

time_t time(time_t* out) noexcept {
    Clock& c = clock_state();
    if (!c.on) {
        static auto real = next_symbol<time_t (*)(time_t*)>("time");
        return real(out);
    }
    std::lock_guard<std::mutex> g(c.m);
    const time_t now = time_t(c.realtime / kNs);
    if (out != nullptr)
        *out = now;
    return now;
}

int clock_gettime(clockid_t clock, struct timespec* ts) noexcept {
    Clock& c = clock_state();
    const Kind k = kind_of(clock);
    if (!c.on || k == Kind::kReal) {
        static auto real = next_symbol<int (*)(clockid_t, struct timespec*)>("clock_gettime");
        return real(clock, ts);
    }
    std::lock_guard<std::mutex> g(c.m);
    const std::int64_t ns = reading(c, k);
    ts->tv_sec = time_t(ns / kNs);
    ts->tv_nsec = long(ns % kNs);
    return 0;
}

int nanosleep(const struct timespec* request, struct timespec* remaining) {
    Clock& c = clock_state();
    if (!c.on) {
        static auto real = next_symbol<int (*)(const struct timespec*, struct timespec*)>("nanosleep");
        return real(request, remaining);
    }
    if (!valid(request)) {
        errno = request == nullptr ? EFAULT : EINVAL;
        return -1;
    }
    std::lock_guard<std::mutex> g(c.m);
    sleep_locked(c, ns_of(*request));
    return 0;
}

int clock_nanosleep(clockid_t clock, int flags, const struct timespec* request, struct timespec* remaining) {
    Clock& c = clock_state();
    const Kind k = kind_of(clock);
    if (!c.on || k == Kind::kReal) {
        static auto real =
            next_symbol<int (*)(clockid_t, int, const struct timespec*, struct timespec*)>("clock_nanosleep");
        return real(clock, flags, request, remaining);
    }
    if (!valid(request))
        return request == nullptr ? EFAULT : EINVAL;
    std::lock_guard<std::mutex> g(c.m);
    const std::int64_t ns = ns_of(*request);
    sleep_locked(c, (flags & TIMER_ABSTIME) ? ns - reading(c, k) : ns);
    return 0;
}

ssize_t getrandom(void* buffer, size_t length, unsigned int flags) {
    Random& r = random_state();
    if (!r.on) {
        static auto real = next_symbol<ssize_t (*)(void*, size_t, unsigned int)>("getrandom");
        return real(buffer, length, flags);
    }
    std::lock_guard<std::mutex> g(r.m);
    ++r.calls;
    if (r.failing || length > r.bytes.size() - r.next) {
        errno = r.err;
        return -1;
    }
    std::memcpy(buffer, r.bytes.data() + r.next, length);
    r.next += length;
    return ssize_t(length);
}

} // extern "C"
