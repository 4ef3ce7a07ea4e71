// Whole tool commands on full simulated hosts of 1-7 controllers and 48-384 devices each: all of the
// tool's main (log file, header and banner, start-up and the command), run in this process with its
// output thrown away, against the replay of the calls that run made on the host (see yardstick.h).
// Also the peak resident memory of the real binary for `showdrives` on the largest host. Root only.
//
// Each run of the tool starts on new memory, as a new process does: page_faults counts the pages it
// touched first, the kernel's share (on a virtual machine with shadow page tables a first touch costs
// tens of microseconds). per_device_ns is the tool's time per device of the host.
//
// Profiling notes (Debian packages linux-perf and valgrind): pin to one idle core (taskset), then
// `perf record --call-graph dwarf,65528` with --benchmark_filter on one shape, or
// `valgrind --tool=callgrind --toggle-collect='*QuorvelMain*'`, which counts the tool's run alone.
// Frames under qvsim:: are the simulated host's; the baseline pays those too.
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
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "side_by_side.h"
#include "sim_controller.h"
#include "tool_run.h"
#include "yardstick.h"

int QuorvelMain(int argc, char* argv[]); // the tool's main, built in quorvel_main.cpp

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

// Standard output goes to /dev/null while a benchmark runs; the log to the working directory.
class Silenced {
public:
    Silenced() {
        std::fflush(stdout);
        saved_ = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~Silenced() {
        std::fflush(stdout);
        ::dup2(saved_, 1);
        ::close(saved_);
    }

private:
    int saved_ = -1;
};

// All of the tool's main with these arguments; true when it ended with exit code 0. Its output is
// flushed as a process exit would.
bool RunTool(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int code = QuorvelMain(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    return code == 0;
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
    if (lfp != nullptr) {
        std::fclose(lfp);
        lfp = nullptr;
    }
    // The log of one run, as in a fresh directory; the next run appends to an empty file again.
    if (::truncate("diagslog.txt", 0) != 0) {
        std::perror("diagslog.txt");
    }
    // A new process's data areas are untouched memory.
    malloc_trim(0);
}

void BM_Tool(benchmark::State& state) {
    const int command = static_cast<int>(state.range(0));
    const auto controllers = static_cast<unsigned>(state.range(1));
    const auto devices = static_cast<unsigned>(state.range(2));
    bench_sim::FullHost(controllers, devices);
    state.SetLabel(kCommands[command]);
    Silenced quiet;
    const bench_replay::Measured m =
        bench_replay::Measure(state, {.product = [&] { return RunTool(Arguments(command)); }, .release = ReleaseTool});
    bench_replay::PerItem(state, m, "per_device_ns", static_cast<double>(controllers * devices));
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
    // The three commands of one host one after the other, so that each host is built once.
    std::vector<std::vector<int64_t>> shapes;
    for (const std::vector<int64_t>& host : bench_replay::Product({{1, 2, 4, 7}, {48, 96, 192, 384}})) {
        for (int64_t command : {0, 1, 2}) {
            shapes.push_back({command, host[0], host[1]});
        }
    }
    bench_replay::Register("BM_Tool", BM_Tool, shapes, {"command", "controllers", "devices"}, benchmark::kMicrosecond);
    return true;
}();
BENCHMARK(BM_ShowDrivesPeakMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // Each data area is a fresh mapping, as in a new process.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // The tool writes its log in the working directory.
    char dir[] = "/tmp/quorvel-bench.XXXXXX";
    if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) {
        std::perror("tool_commands_bench: working directory");
        return 1;
    }
    const int code = bench_sim::RunOnSimulatedHost(argc, argv, "tool_commands_bench", bench_sim::ReleaseFullHost);
    ::unlink("diagslog.txt");
    if (::chdir("/") != 0 || ::rmdir(dir) != 0) {
        std::perror(dir);
    }
    return code;
}
