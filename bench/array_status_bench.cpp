// Array status words and roll-ups (VK_GetArrayStatusInfo, VK_GetArrayHealthRollup) of every array on
// a zero-latency simulated controller: 1 to 64 arrays, one logical drive each, over 16 to 384 drives.
// "Warm" runs on a data area whose buffers and records are already cached, so it measures the walks
// themselves and sends nothing; "Cold" drops the cache first (VK_ReInitializeCDA) and is measured
// against the replay of its calls (see yardstick.h). Each drive's status word looks up
// its array, so the cost grows with the array count as well as with the drives. Needs root.
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "ppavl_debug.h"
#include "ptelm.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "yardstick.h"

namespace {

bool gInNamespace = false;
std::unique_ptr<bench_sim::SimulatedController> gController;
std::pair<int, int> gShape{-1, -1};

bench_sim::SimulatedController* Controller(benchmark::State& state) {
    if (!gInNamespace) {
        state.SkipWithError("no private mount namespace (needs root)");
        return nullptr;
    }
    const std::pair<int, int> shape{static_cast<int>(state.range(0)), static_cast<int>(state.range(1))};
    if (shape != gShape) {
        gController.reset();
        qvsim::FirmwareState fw;
        fw.generate({.drives = static_cast<std::uint16_t>(shape.second),
                     .connectors = 4,
                     .enclosures = 0,
                     .logical_drives = static_cast<std::uint16_t>(shape.first),
                     .arrays = static_cast<std::uint16_t>(shape.first),
                     .spares = 1,
                     .fault_tolerance = 2});
        gController = std::make_unique<bench_sim::SimulatedController>(std::move(fw));
        gShape = shape;
    }
    if (gController->cda() == nullptr) {
        state.SkipWithError("the simulated controller's data area failed to initialise");
        return nullptr;
    }
    return gController.get();
}

VK_DWORD AllArrays(PCDA cda) {
    VK_DWORD seen = 0;
    VK_WORD a;
    FOREACH_ARRAY(cda, a) {
        seen |= VK_GetArrayStatusInfo(cda, a);
        seen |= VK_GetArrayHealthRollup(cda, a);
    }
    return seen;
}

void ArrayStatus(benchmark::State& state, bool cold) {
    PN_SetDebugLogLevel(0);
    bench_sim::SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    PCDA cda = controller->cda();
    if (VK_GetControllerTotalArrayCount(cda) != state.range(0)) {
        state.SkipWithError("the generated controller does not have the arrays asked for");
        return;
    }
    benchmark::DoNotOptimize(AllArrays(cda)); // fills the cache for the warm case
    if (cold) {
        // Each run drops the cache first: its reads are measured against their replay.
        bench_replay::Measure(state, {.product = [&] {
            if (VK_ReInitializeCDA(cda) != kInitializeSucceeded) {
                return false;
            }
            benchmark::DoNotOptimize(AllArrays(cda));
            return true;
        }});
    } else {
        for (auto _ : state) {
            benchmark::DoNotOptimize(AllArrays(cda));
        }
    }
    state.SetComplexityN(state.range(0) * state.range(1));
    state.counters["per_array_us"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                        benchmark::Counter::kIsIterationInvariantRate |
                                                            benchmark::Counter::kInvert);
}

void BM_ArrayStatusWarm(benchmark::State& state) {
    ArrayStatus(state, false);
}
void BM_ArrayStatusCold(benchmark::State& state) {
    ArrayStatus(state, true);
}

void Shapes(benchmark::internal::Benchmark* b) {
    for (int arrays : {1, 8, 64}) {
        for (int drives : {16, 64, 128, 384}) {
            if (arrays * 3 <= drives) { // two members and a spare each
                b->Args({arrays, drives});
            }
        }
    }
    b->ArgNames({"arrays", "pd"})->Unit(benchmark::kMicrosecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_ArrayStatusWarm)->Apply(Shapes);
BENCHMARK(BM_ArrayStatusCold)->Apply(Shapes)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "array_status_bench", gInNamespace, [] { gController.reset(); });
}
