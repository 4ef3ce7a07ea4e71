// The controller's health roll-up (VK_GetControllerHealthRollup) on a zero-latency simulated
// controller: 1 to 64 logical drives over 16 to 384 drives, one array per 8 logical drives. "Warm"
// calls the roll-up on a data area whose buffers and records are already cached, so it measures the
// roll-up's own walks and sends nothing; "Cold" drops the cache first (VK_ReInitializeCDA), as a
// first call after a change does, and is measured against the replay of its calls (see yardstick.h).
// The complexity fit is over the drive count. Needs root (a private mount namespace).
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include <algorithm>
#include <cstdint>
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
#include "ptelm_status.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "yardstick.h"
#include "telm_private.h"

namespace {

bool gInNamespace = false;

// The controller's inventory for one benchmark shape.
qvsim::FirmwareState Shape(VK_WORD drives, VK_WORD logical, std::uint16_t arrays) {
    qvsim::FirmwareState state;
    state.generate({.drives = drives,
                    .connectors = 4,
                    .enclosures = 0,
                    .logical_drives = logical,
                    .arrays = arrays});
    return state;
}

using bench_sim::SimulatedController;

std::unique_ptr<SimulatedController> gController;
std::pair<int, int> gShape{-1, -1};

// range(0) logical drives over range(1) drives, in one array per 8 logical drives.
SimulatedController* Controller(benchmark::State& state) {
    if (!gInNamespace) {
        state.SkipWithError("no private mount namespace (needs root)");
        return nullptr;
    }
    const std::pair<int, int> shape{static_cast<int>(state.range(1)), static_cast<int>(state.range(0))};
    if (shape != gShape) {
        gController.reset();
        gShape = {-1, -1};
        gController = std::make_unique<SimulatedController>(Shape(
            static_cast<VK_WORD>(shape.first), static_cast<VK_WORD>(shape.second),
            static_cast<std::uint16_t>(std::max(1, shape.second / 8))));
        gShape = shape;
    }
    if (gController->cda() == nullptr) {
        state.SkipWithError("the simulated controller's data area failed to initialise");
        return nullptr;
    }
    return gController.get();
}

void Rollup(benchmark::State& state, bool cold) {
    PN_SetDebugLogLevel(0);
    SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    PCDA cda = controller->cda();
    benchmark::DoNotOptimize(VK_GetControllerHealthRollup(cda)); // fills the cache for the warm case
    if (cold) {
        // Each run drops the cache first: its reads are measured against their replay.
        bench_replay::Measure(state, {.product = [&] {
            if (VK_ReInitializeCDA(cda) != kInitializeSucceeded) {
                return false;
            }
            benchmark::DoNotOptimize(VK_GetControllerHealthRollup(cda));
            return true;
        }});
    } else {
        for (auto _ : state) {
            benchmark::DoNotOptimize(VK_GetControllerHealthRollup(cda));
        }
    }
    state.SetComplexityN(state.range(1));
    state.counters["per_drive_us"] = benchmark::Counter(static_cast<double>(state.range(1)),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

void BM_RollupWarm(benchmark::State& state) {
    Rollup(state, false);
}
void BM_RollupCold(benchmark::State& state) {
    Rollup(state, true);
}

void Shapes(benchmark::internal::Benchmark* b) {
    for (int logical : {1, 8, 64}) {
        for (int drives : {16, 64, 128, 384}) {
            if (logical <= drives / 2) {
                b->Args({logical, drives});
            }
        }
    }
    b->ArgNames({"ld", "pd"})->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_RollupWarm)->Apply(Shapes);
BENCHMARK(BM_RollupCold)->Apply(Shapes)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "controller_rollup_bench", gInNamespace, [] { gController.reset(); });
}
