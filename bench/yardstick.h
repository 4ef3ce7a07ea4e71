// The one yardstick of the benchmarks on the simulated host: the product's run against the replay of
// that same run's record.
//
// Measure records one run of the product: every call that reached the simulated host (opens and
// closes, sysfs reads, directory listings, link reads and resolutions, each ioctl with its record and
// data out), in order. The baseline makes exactly those calls again with plain system calls and no
// product code. Before timing, the replay is checked byte for byte against the record, and after it
// the product's run is recorded again and must make the same calls: a run that behaves otherwise fails
// the benchmark instead of measuring something else. The simulated host's state (firmware state,
// fault counts) is put back before every run on either side, outside the timed part, and the
// simulator's request log is off while measuring.
//
// The benchmark's time is the product's (manual time, register with Register or ->UseManualTime()).
// Counters, from the medians of the runs: tool_us and baseline_us (wall time of either side), ratio
// (product / replay), overhead_ns_per_request ((product - replay) / requests), the same two on the
// thread's CPU time (cpu_ratio, cpu_overhead_ns_per_request: a run that waited for a processor on a
// busy machine counts only its work), simulator_ns_per_request (the simulator's own share of a request,
// which both sides pay), requests (every recorded call), ioctls, and the minor page faults of a run on
// either side (page_faults, baseline_page_faults), the kernel's share on fresh memory.
//
// A benchmark of a product call:
//   void BM_Commit(benchmark::State& state) {
//       qvsim::Sandbox& host = bench_sim::FullHost(1, state.range(0));   // the host, kept per shape
//       ... start the data area ...
//       bench_replay::Measure(state, {.product = [&] { return VK_CommitConfiguration(cda, ...); },
//                                     .release = [&] { VK_ReInitializeCDA(cda); }});
//   }
//   bench_replay::Register("BM_Commit", BM_Commit, bench_replay::Product({{48, 384}}), {"devices"},
//                          benchmark::kMicrosecond);
#pragma once

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "qvsim/device.h"
#include "qvsim/recorder.h"
#include "side_by_side.h"

namespace bench_replay {

// One case: the product's work, and what the benchmark does around each run of it, untimed.
struct Run {
    std::function<bool()> product;        // true when the product's work ended as it should
    std::function<void()> before = [] {}; // before each run of the product (the host's state is back)
    std::function<void()> release = [] {}; // after each run of the product: what a process exit frees
};

// What Measure saw, per run, for counters of the benchmark's own (per device, per chunk).
struct Measured {
    bool ok = false;
    double product_ns = 0; // median wall time of the timed runs
    double baseline_ns = 0;
    std::size_t requests = 0;
};

namespace detail {

inline double Nanoseconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(to - from).count());
}

// Minor page faults of this process so far: on fresh memory they are the kernel's share of a run.
inline long MinorFaults() {
    rusage usage{};
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_minflt : 0;
}

inline double ThreadCpuNanoseconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

class LogOff {
public:
    LogOff() { qvsim::Registry::instance().keep_log(false); }
    ~LogOff() { qvsim::Registry::instance().keep_log(true); }
    LogOff(const LogOff&) = delete;
    LogOff& operator=(const LogOff&) = delete;
};

// One run of the product, recorded; the host's state is put back afterwards.
inline bool Record(const Run& run, const qvsim::HostState& start, qvsim::Recording* record) {
    run.before();
    qvsim::start_recording();
    const bool ok = run.product();
    *record = qvsim::stop_recording();
    run.release();
    start.restore();
    return ok;
}

} // namespace detail

inline Measured Measure(benchmark::State& state, const Run& run) {
    Measured m;
    detail::LogOff log_off;
    const qvsim::HostState start = qvsim::HostState::save();
    qvsim::Recording record;
    if (!detail::Record(run, start, &record)) {
        state.SkipWithError("the product's run failed");
        return m;
    }
    if (!record.error.empty()) {
        state.SkipWithError(("the run cannot be replayed: " + record.error).c_str());
        return m;
    }
    qvsim::Replay replay(std::move(record));
    std::string difference = replay.verify();
    start.restore();
    if (!difference.empty()) {
        state.SkipWithError(("the replay differs from the product's run: " + difference).c_str());
        return m;
    }
    // The simulator's own time in a replay; the least of three, as the timed runs are many.
    std::uint64_t simulator_ns = std::numeric_limits<std::uint64_t>::max();
    for (int i = 0; i < 3; ++i) {
        qvsim::count_simulator_time(true);
        const bool same = replay.run();
        qvsim::count_simulator_time(false);
        start.restore();
        if (!same) {
            state.SkipWithError("a replay ended otherwise than the product's run");
            return m;
        }
        simulator_ns = std::min(simulator_ns, qvsim::simulator_nanoseconds());
    }

    // Wall time is what a user waits for; the thread's CPU time leaves out the time the run waited
    // for a processor, which on a shared machine is most of the noise. Both are kept per run.
    std::vector<double> product_wall, baseline_wall, product_cpu, baseline_cpu;
    long product_faults = 0, baseline_faults = 0;
    for (auto _ : state) {
        run.before();
        long faults = detail::MinorFaults();
        const double c0 = detail::ThreadCpuNanoseconds();
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = run.product();
        const auto t1 = std::chrono::steady_clock::now();
        const double c1 = detail::ThreadCpuNanoseconds();
        product_faults += detail::MinorFaults() - faults;
        run.release();
        start.restore();
        faults = detail::MinorFaults();
        const double c2 = detail::ThreadCpuNanoseconds();
        const auto t2 = std::chrono::steady_clock::now();
        const bool same = replay.run();
        const auto t3 = std::chrono::steady_clock::now();
        const double c3 = detail::ThreadCpuNanoseconds();
        baseline_faults += detail::MinorFaults() - faults;
        start.restore();
        if (!ok || !same) {
            state.SkipWithError(!ok ? "the product's run failed" : "a replay ended otherwise than the product's run");
            return m;
        }
        state.SetIterationTime(detail::Nanoseconds(t0, t1) * 1e-9);
        product_wall.push_back(detail::Nanoseconds(t0, t1));
        baseline_wall.push_back(detail::Nanoseconds(t2, t3));
        product_cpu.push_back(c1 - c0);
        baseline_cpu.push_back(c3 - c2);
    }
    const auto runs = static_cast<std::int64_t>(product_wall.size());

    // The product still makes the calls it made first, and they are still answered as they were.
    qvsim::Recording again;
    if (!detail::Record(run, start, &again)) {
        state.SkipWithError("the product's last run failed");
        return m;
    }
    difference = replay.recording().same_calls(again);
    if (difference.empty()) {
        difference = replay.verify();
        start.restore();
    }
    if (!difference.empty()) {
        state.SkipWithError(("the product's runs differ: " + difference).c_str());
        return m;
    }

    const double requests = static_cast<double>(replay.recording().calls.size());
    m.ok = runs > 0;
    m.requests = replay.recording().calls.size();
    if (runs == 0) {
        return m;
    }
    // Medians of the runs: a run that was preempted or met a page-cache stall moves neither side.
    m.product_ns = detail::Median(product_wall);
    m.baseline_ns = detail::Median(baseline_wall);
    const double product_cpu_ns = detail::Median(product_cpu), baseline_cpu_ns = detail::Median(baseline_cpu);
    state.counters["tool_us"] = m.product_ns / 1000.0;
    state.counters["baseline_us"] = m.baseline_ns / 1000.0;
    state.counters["ratio"] = m.baseline_ns > 0 ? m.product_ns / m.baseline_ns : 0.0;
    state.counters["overhead_ns_per_request"] = requests > 0 ? (m.product_ns - m.baseline_ns) / requests : 0.0;
    state.counters["cpu_ratio"] = baseline_cpu_ns > 0 ? product_cpu_ns / baseline_cpu_ns : 0.0;
    state.counters["cpu_overhead_ns_per_request"] =
        requests > 0 ? (product_cpu_ns - baseline_cpu_ns) / requests : 0.0;
    state.counters["simulator_ns_per_request"] = requests > 0 ? static_cast<double>(simulator_ns) / requests : 0.0;
    state.counters["requests"] = requests;
    state.counters["ioctls"] = static_cast<double>(replay.recording().count(qvsim::CallKind::kIoctl));
    state.counters["page_faults"] = static_cast<double>(product_faults) / static_cast<double>(runs);
    state.counters["baseline_page_faults"] = static_cast<double>(baseline_faults) / static_cast<double>(runs);
    return m;
}

// A counter of the product's time per item (device, chunk), in nanoseconds.
inline void PerItem(benchmark::State& state, const Measured& m, const char* name, double items) {
    if (m.ok && items > 0) {
        state.counters[name] = m.product_ns / items;
    }
}

// Registers `function` once per shape, timed by Measure (manual time).
inline void Register(const char* name, BenchmarkFunction function, const std::vector<std::vector<int64_t>>& shapes,
                     const std::vector<std::string>& arg_names, benchmark::TimeUnit unit) {
    for (const std::vector<int64_t>& shape : shapes) {
        benchmark::RegisterBenchmark(name, function)->Args(shape)->ArgNames(arg_names)->Unit(unit)->UseManualTime();
    }
}

} // namespace bench_replay
