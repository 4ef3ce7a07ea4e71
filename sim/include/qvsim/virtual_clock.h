// A virtual clock and a scripted random source for the test process. While a test has turned them
// on, the interposer (sim/interpose/clock.cpp) answers time, clock_gettime, nanosleep and
// clock_nanosleep from the clock (a sleep advances it at once and is counted) and getrandom from
// the script; off (the default) every call goes to libc. The product has no hook: it calls the libc
// functions, and only the test process's interposer answers them.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

namespace qvsim {

namespace virtual_clock {

// Turns the clock on: the wall clock (CLOCK_REALTIME, time) reads `realtime_seconds` since the
// epoch, the other clocks (CLOCK_MONOTONIC, CLOCK_BOOTTIME, ...) go on from their real value now.
// Both then move only by sleeps and advance(). Starting again restarts the counters.
void start(std::int64_t realtime_seconds);
void start(); // at the real wall-clock time now
void stop();
bool running();

void advance(std::int64_t nanoseconds);
// The clocks' virtual readings (valid while running).
std::int64_t realtime_ns();
std::int64_t monotonic_ns();
// Sleeps answered since start (nanosleep and clock_nanosleep), and the time they advanced.
unsigned sleeps();
std::int64_t slept_ns();

// Runs the clock for one scope.
class Scope {
public:
    explicit Scope(std::int64_t realtime_seconds) { start(realtime_seconds); }
    Scope() { start(); }
    ~Scope() { stop(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

} // namespace virtual_clock

namespace scripted_random {

// getrandom hands out these bytes in order; a call asking for more than are left fails with
// `exhausted_errno` and takes none.
void script(std::vector<std::uint8_t> bytes, int exhausted_errno = EIO);
// Every getrandom call fails with `err`.
void fail(int err);
void stop();
bool running();
// getrandom calls answered since script() or fail(), and the bytes handed out.
unsigned calls();
std::size_t used();

class Scope {
public:
    explicit Scope(std::vector<std::uint8_t> bytes, int exhausted_errno = EIO) {
        script(std::move(bytes), exhausted_errno);
    }
    ~Scope() { stop(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

} // namespace scripted_random

} // namespace qvsim
