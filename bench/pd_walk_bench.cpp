// A full physical-drive walk on a zero-latency simulated controller, as the drive listing does it:
// every iteration drops the data area's cache (VK_ReInitializeCDA) and walks FOREACH_PHYSICAL_DRIVE,
// asking each drive for its device type, complete location and any-PHY link rate. 48, 96, 192 and
// 384 drives, without logical drives and with 64, each against the replay of the calls the walk made
// on the host (see yardstick.h). Needs root (a private mount namespace).
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "telm_private.h"
#include "yardstick.h"

namespace {

bool gInNamespace = false;

// The controller's inventory for one benchmark shape.
qvsim::FirmwareState Shape(VK_WORD drives, VK_WORD logical) {
    qvsim::FirmwareState state;
    state.generate({.drives = drives,
                    .connectors = 4,
                    .enclosures = 0,
                    .logical_drives = logical,
                    .arrays = static_cast<std::uint16_t>(logical == 0 ? 0 : std::max(1, drives / 8))});
    return state;
}

using bench_sim::SimulatedController;

std::unique_ptr<SimulatedController> gController;
std::pair<int, int> gShape{-1, -1};

SimulatedController* Controller(benchmark::State& state, int logical) {
    if (!gInNamespace) {
        state.SkipWithError("no private mount namespace (needs root)");
        return nullptr;
    }
    const std::pair<int, int> shape{static_cast<int>(state.range(0)), logical};
    if (shape != gShape) {
        gController.reset();
        gShape = {-1, -1};
        gController = std::make_unique<SimulatedController>(Shape(static_cast<VK_WORD>(shape.first),
                                                            static_cast<VK_WORD>(shape.second)));
        gShape = shape;
    }
    if (gController->cda() == nullptr) {
        state.SkipWithError("the simulated controller's data area failed to initialise");
        return nullptr;
    }
    return gController.get();
}

void DriveWalk(benchmark::State& state, int logical) {
    PN_SetDebugLogLevel(0);
    SimulatedController* controller = Controller(state, logical);
    if (controller == nullptr) {
        return;
    }
    PCDA cda = controller->cda();
    const auto drives = static_cast<VK_WORD>(state.range(0));
    const bench_replay::Measured m = bench_replay::Measure(state, {.product = [&] {
        if (VK_ReInitializeCDA(cda) != kInitializeSucceeded) {
            return false;
        }
        VK_WORD walked = 0;
        VK_WORD n;
        char location[32];
        FOREACH_PHYSICAL_DRIVE(cda, n) {
            benchmark::DoNotOptimize(VK_PhysicalDeviceType(cda, n));
            benchmark::DoNotOptimize(
                VK_GetPhysicalDriveLocation(cda, n, kPhysicalDriveLocationComplete, location, sizeof(location)));
            benchmark::DoNotOptimize(VK_GetPhysicalDevicePhyLinkRate(cda, n, kAnyPhyNumber));
            ++walked;
        }
        return walked == drives;
    }});
    state.SetComplexityN(state.range(0));
    bench_replay::PerItem(state, m, "per_drive_ns", drives);
}

void BM_DriveWalk(benchmark::State& state) {
    DriveWalk(state, 0);
}
void BM_DriveWalk64LogicalDrives(benchmark::State& state) {
    DriveWalk(state, 64);
}

void Drives(benchmark::internal::Benchmark* b) {
    for (int drives : {48, 96, 192, 384}) {
        b->Arg(drives);
    }
    b->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN)->UseManualTime();
}

BENCHMARK(BM_DriveWalk)->Apply(Drives);
BENCHMARK(BM_DriveWalk64LogicalDrives)->Apply(Drives);

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "pd_walk_bench", gInNamespace, [] { gController.reset(); });
}
