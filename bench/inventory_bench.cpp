// The whole inventory the library builds on a full simulated host (array model, every drive's record,
// every logical drive's status, enclosures), against the replay of the calls that run made on the
// host (see yardstick.h). Start-up happens outside the timed part; the data areas are cleared and
// initialised again between runs. Root only.
//
// Profiling notes: perf (record -g on this binary, with --benchmark_filter) and valgrind's callgrind
// (Debian packages linux-perf and valgrind) show where the library's share goes.
#include <benchmark/benchmark.h>


#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "side_by_side.h"
#include "sim_controller.h"
#include "started_areas.h"
#include "yardstick.h"

namespace {

using Areas = bench_sim::StartedAreas;

bool Inventory(const Areas& a, unsigned devices) {
    bool ok = true;
    for (PCDA cda : a.areas) {
        ok = VK_RequestArrayConfigurationInformation(cda) && ok;
        ok = VK_RequestStorageEnclosureInfo(cda) && ok;
        for (VK_WORD pd = 0; pd < devices; ++pd) {
            ok = VK_RequestIdentifyPhysicalDriveBuffer(cda, pd) && ok;
        }
        for (VK_WORD ld = 0; ld < 64; ++ld) {
            ok = VK_RequestSenseLogicalDriveStatusBuffer(cda, ld) && ok;
        }
    }
    return ok;
}

void BM_LibraryInventory(benchmark::State& state) {
    const auto controllers = static_cast<unsigned>(state.range(0));
    const auto devices = static_cast<unsigned>(state.range(1));
    bench_sim::FullHost(controllers, devices);
    Areas a;
    if (a.areas.size() != controllers) {
        state.SkipWithError("a data area failed to initialise");
        return;
    }
    const bench_replay::Measured m =
        bench_replay::Measure(state, {.product = [&] { return Inventory(a, devices); }, .release = [&] { a.Restart(); }});
    bench_replay::PerItem(state, m, "per_device_ns", static_cast<double>(controllers * devices));
}

[[maybe_unused]] const bool kRegistered = [] {
    bench_replay::Register("BM_LibraryInventory", BM_LibraryInventory,
                           bench_replay::Product({{1, 2, 4, 7}, {48, 96, 192, 384}}), {"controllers", "devices"},
                           benchmark::kMillisecond);
    return true;
}();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunOnSimulatedHost(argc, argv, "inventory_bench", bench_sim::ReleaseFullHost);
}
