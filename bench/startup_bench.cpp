// The tool's start-up road on the simulated host: both libraries started, controller discovery and
// one data area per controller, against the replay of the calls that run made on the host (see
// yardstick.h); discovery alone likewise. Also the peak resident memory of `quorvel version`. Root
// only: the process moves into a private mount namespace first. With fresh memory the library starts
// each run from a trimmed heap; profile as the commands benchmark says.
#include <benchmark/benchmark.h>

#include <malloc.h>


#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tool_run.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "side_by_side.h"
#include "sim_controller.h"
#include "yardstick.h"

namespace {

constexpr int kMaxControllers = 7;
const char* const kDrivers[] = {"qzvk", "qzdvk", "qzdvkc", "qzdvkg", "qzdvkw", "veskdq", "veskdqg"};

qvsim::Scenario MakeScenario(int controllers) {
    qvsim::Scenario s;
    for (int i = 0; i < controllers; ++i) {
        const std::string pci = "0000:1" + std::to_string(i) + ":00.0";
        qvsim::Controller& c =
            std::strncmp(kDrivers[i], "vesk", 4) == 0
                ? s.add_pqi(kDrivers[i], pci, static_cast<unsigned>(2 + i), static_cast<unsigned>(1 + i))
                : s.add_ciss(kDrivers[i], pci, static_cast<unsigned>(2 + i), static_cast<unsigned>(1 + i));
        c.firmware = std::make_shared<qvsim::FwController>();
    }
    return s;
}

// One simulated host at a time, kept while consecutive benchmarks use the same number of controllers.
std::unique_ptr<qvsim::Sandbox> gHost;
int gHostControllers = -1;

qvsim::Sandbox& Host(int controllers) {
    if (gHostControllers != controllers) {
        gHost.reset();
        gHost = std::make_unique<qvsim::Sandbox>(MakeScenario(controllers));
        gHostControllers = controllers;
    }
    return *gHost;
}

// What the tool does before its command runs. Data areas come from `spare` when it holds some (memory
// already touched), else from the allocator as in the tool. Returns the number initialised.
int StartUp(std::vector<PCDA>& areas, std::vector<PCDA>& spare, DeviceDescriptorList& list) {
    InitializeTelmar("0x6D2A");
    InitializePavlin("0x6D2A");
    list = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    while (!PN_IsDeviceListIteratorEnd(it) && areas.size() < kMaxControllers) {
        PCDA area = nullptr;
        if (spare.empty()) {
            area = VK_malloc(VK_GetCDASize());
        } else {
            area = spare.back();
            spare.pop_back();
        }
        areas.push_back(area);
        if (VK_InitializeCDA(area, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
            break;
        }
        PN_MoveDeviceListIteratorNext(it);
    }
    const bool all = PN_IsDeviceListIteratorEnd(it);
    PN_DestroyDeviceListIterator(it);
    return all ? static_cast<int>(areas.size()) : -1;
}

// Undoes StartUp; the areas go back to `spare`, or to the allocator when `keep` is false.
void TearDown(std::vector<PCDA>& areas, std::vector<PCDA>& spare, DeviceDescriptorList list, bool keep) {
    for (PCDA area : areas) {
        VK_UnInitializeCDA(area);
        if (keep) {
            spare.push_back(area);
        } else {
            VK_free(area);
        }
    }
    areas.clear();
    PN_DestroyDeviceDescriptorList(list);
}

// Both libraries, discovery and the data areas. range(1) 1: the data areas' memory is fresh from the
// allocator in each run, as in the tool; 0: it is reused, so only the library's own work counts.
void BM_LibraryStartUp(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    const bool fresh = state.range(1) != 0;
    Host(controllers);
    std::vector<PCDA> areas, spare;
    DeviceDescriptorList list = nullptr;
    bench_replay::Measure(state, {.product = [&] { return StartUp(areas, spare, list) == controllers; },
                                  .release =
                                      [&] {
                                          TearDown(areas, spare, list, !fresh);
                                          if (fresh) {
                                              // The allocator may hand the next areas out of free heap
                                              // memory that earlier runs touched; giving its free pages
                                              // back keeps them as untouched as a new process's.
                                              malloc_trim(0);
                                          }
                                      }});
    for (PCDA area : spare) {
        VK_free(area);
    }
}

// The discovery part of the start-up alone.
void BM_LibraryDiscovery(benchmark::State& state) {
    Host(static_cast<int>(state.range(0)));
    InitializeTelmar("0x6D2A");
    InitializePavlin("0x6D2A");
    DeviceDescriptorList list = nullptr;
    bench_replay::Measure(state, {.product =
                                      [&] {
                                          list = PN_CreateControllerDescriptorList();
                                          return list != nullptr;
                                      },
                                  .release = [&] { PN_DestroyDeviceDescriptorList(list); }});
}

void BM_QuorvelPeakMemory(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    qvsim::Sandbox& host = Host(controllers);
    long version = 0, help = 0;
    for (auto _ : state) {
        version = bench_replay::PeakResidentKiB(host, {"version"}, QUORVEL_BIN, QVSIM_PRELOAD);
        help = bench_replay::PeakResidentKiB(host, {"help"}, QUORVEL_BIN, QVSIM_PRELOAD);
    }
    if (version < 0 || help < 0) {
        state.SkipWithError("quorvel failed");
        return;
    }
    state.counters["version_peak_rss_KiB"] = static_cast<double>(version);
    state.counters["help_peak_rss_KiB"] = static_cast<double>(help);
    state.counters["data_areas_KiB"] = static_cast<double>(controllers * VK_GetCDASize()) / 1024.0;
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const auto& count : bench_replay::Product({{1, 2, 4, 7}})) {
        bench_replay::Register("BM_LibraryStartUp", BM_LibraryStartUp, bench_replay::Product({{count[0]}, {0, 1}}),
                               {"controllers", "fresh"}, benchmark::kMicrosecond);
        bench_replay::Register("BM_LibraryDiscovery", BM_LibraryDiscovery, {count}, {"controllers"},
                               benchmark::kMicrosecond);
    }
    return true;
}();
BENCHMARK(BM_QuorvelPeakMemory)->Arg(7)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The tool's data areas are its first large allocations, so each one is a fresh mapping. Without
    // this the allocator raises its mapping threshold after the first free and later "fresh" areas may
    // come back from the heap already touched, depending on what else lies above them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    return bench_sim::RunOnSimulatedHost(argc, argv, "startup_bench", [] { gHost.reset(); });
}
