// Whole tool commands on full simulated hosts of 1-7 controllers and 48-384 devices each: start-up and
// the command, run in this process with its output thrown away, against a baseline in the same run
// that makes the sysfs reads discovery needs and sends the requests of the library's run again, in
// the same order, with nothing of the tool around them. Also the peak resident memory of the real
// binary for `showdrives` on the largest host. Root only.
//
// Both sides start each run from a trimmed heap, since the simulated host allocates from it too, and
// each shape's tool run and baseline run one after the other. page_faults counts the minor faults of
// a run: on fresh data areas they are the kernel's share.
//
// Profiling notes (Debian packages linux-perf and valgrind): pin to one idle core (taskset), then
// `perf record --call-graph dwarf,65528` with --benchmark_filter on one shape, or
// `valgrind --tool=callgrind --toggle-collect='*RunTool*'`, which counts the tool's run alone. Frames
// under qvsim:: are the simulated host's; the baseline pays those too.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli.h"
#include "externs.h"
#include "ioctl_replay.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "side_by_side.h"
#include "sim_controller.h"
#include "tool_run.h"

namespace {

const char* const kCommands[] = {"listcontrollers", "showdrives", "showctrlphyerrors"};

// The command line of a run: every command names controller 1 except the list.
std::vector<std::string> Arguments(int command) {
    std::vector<std::string> args{"quorvel", kCommands[command]};
    if (command != 0) {
        args.emplace_back("1");
    }
    return args;
}

// Standard output and the log go to /dev/null while a benchmark runs.
class Silenced {
public:
    Silenced() {
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
        lfp = std::fopen("/dev/null", "w");
    }
    ~Silenced() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
        if (lfp != nullptr) {
            std::fclose(lfp);
            lfp = nullptr;
        }
    }

private:
    int saved_ = -1;
};

// Start-up and the command, as main runs them; true when the command ended with exit code 0.
bool RunTool(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    gArgc = static_cast<int>(args.size());
    gArgv = argv.data();
    if (QV_Init() != 0) {
        return false;
    }
    return CheckCliErrorCode(QV_CliParser()) == 0;
}

// What the process's exit would release. Each run discovers the controllers again, so a list left
// behind would pile up and slow later runs down.
void ReleaseTool() {
    for (VK_UINT32 i = 0; i < gNumOfControllersFound && i < NUM_OF_CONTROLLERS; ++i) {
        VK_UnInitializeCDA(CDAs[i]);
        VK_free(CDAs[i]);
        CDAs[i] = nullptr;
    }
    gNumOfControllersFound = 0;
    PN_DestroyDeviceDescriptorList(gControllerList);
    gControllerList = nullptr;
    QV_Exit();
    gArgv = nullptr;
    gArgc = 0;
}

void PerDevice(benchmark::State& state, unsigned controllers, unsigned devices) {
    state.counters["per_device_ns"] = benchmark::Counter(
        static_cast<double>(controllers * devices),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Tool(benchmark::State& state) {
    const int command = static_cast<int>(state.range(0));
    const auto controllers = static_cast<unsigned>(state.range(1));
    const auto devices = static_cast<unsigned>(state.range(2));
    qvsim::Sandbox& host = bench_sim::FullHost(controllers, devices);
    host.clear_requests();
    state.SetLabel(kCommands[command]);
    bool ok = true;
    long faults = 0;
    {
        Silenced quiet;
        for (auto _ : state) {
            std::vector<std::string> args = Arguments(command);
            const long faults_before = bench_replay::MinorFaults();
            ok = RunTool(args);
            faults += bench_replay::MinorFaults() - faults_before;
            state.PauseTiming();
            ReleaseTool();
            host.clear_requests();
            // A new process's data areas are untouched memory.
            malloc_trim(0);
            state.ResumeTiming();
            if (!ok) {
                break;
            }
        }
    }
    if (!ok) {
        state.SkipWithError("the command failed");
        return;
    }
    PerDevice(state, controllers, devices);
    state.counters["page_faults"] = bench_replay::PerRun(faults);
}

void BM_Baseline(benchmark::State& state) {
    const int command = static_cast<int>(state.range(0));
    const auto controllers = static_cast<unsigned>(state.range(1));
    const auto devices = static_cast<unsigned>(state.range(2));
    qvsim::Sandbox& host = bench_sim::FullHost(controllers, devices);
    state.SetLabel(kCommands[command]);
    std::vector<bench_replay::Step> steps;
    {
        Silenced quiet;
        host.clear_requests();
        std::vector<std::string> args = Arguments(command);
        const bool ok = RunTool(args);
        steps = bench_replay::Steps(host);
        ReleaseTool();
        host.clear_requests();
        if (!ok) {
            state.SkipWithError("the command failed");
            return;
        }
    }
    state.counters["requests"] = static_cast<double>(bench_replay::RequestCount(steps));
    std::vector<unsigned char> buffer;
    long faults = 0;
    for (auto _ : state) {
        const long faults_before = bench_replay::MinorFaults();
        if (bench_replay::SysfsReads() != static_cast<int>(controllers) || !bench_replay::Replay(steps, buffer)) {
            state.SkipWithError("a sysfs read or a replayed request failed");
            return;
        }
        faults += bench_replay::MinorFaults() - faults_before;
        state.PauseTiming();
        host.clear_requests();
        // The simulated host shares the heap: it starts each run from a trimmed heap on both sides.
        malloc_trim(0);
        state.ResumeTiming();
    }
    PerDevice(state, controllers, devices);
    state.counters["page_faults"] = bench_replay::PerRun(faults);
}

// Peak resident memory of `quorvel showdrives 1` on 7 controllers of 384 devices, against the data
// areas of the controllers plus 4 MiB.
void BM_ShowDrivesPeakMemory(benchmark::State& state) {
    qvsim::Sandbox& host = bench_sim::FullHost(7, 384);
    long peak = -1, simulator = -1;
    for (auto _ : state) {
        peak = bench_replay::PeakResidentKiB(host, {"showdrives", "1"}, QUORVEL_BIN, QVSIM_PRELOAD);
        // The simulated host lives in the tool's process too: a program that does nothing under the
        // same preload shows what it takes.
        simulator = bench_replay::PeakResidentKiB(host, {}, "/bin/true", QVSIM_PRELOAD);
    }
    if (peak < 0 || simulator < 0) {
        state.SkipWithError("quorvel showdrives or the empty run failed");
        return;
    }
    const double areas = 7.0 * VK_GetCDASize() / 1024.0;
    state.counters["peak_rss_KiB"] = static_cast<double>(peak);
    state.counters["simulator_KiB"] = static_cast<double>(simulator);
    state.counters["tool_KiB"] = static_cast<double>(peak - simulator);
    state.counters["limit_KiB"] = areas + 4096.0;
}

[[maybe_unused]] const bool kRegistered = [] {
    bench_replay::RegisterSideBySide({{"BM_Tool", BM_Tool}, {"BM_Baseline", BM_Baseline}},
                                     bench_replay::Product({{0, 1, 2}, {1, 2, 4, 7}, {48, 96, 192, 384}}),
                                     {"command", "controllers", "devices"}, benchmark::kMicrosecond);
    return true;
}();
BENCHMARK(BM_ShowDrivesPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Each data area is a fresh mapping, as in a new process.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    return bench_sim::RunOnSimulatedHost(argc, argv, "tool_commands_bench", bench_sim::ReleaseFullHost);
}
