// A 64 MiB firmware flash on a zero-latency simulated controller: VK_FlashController (free, 4,096
// chunks, activate, free) against the replay of the calls it made on the host, each open of the node
// and every chunk's bytes as sent (see yardstick.h). The controller's flash state is put back between
// runs. The counter per_chunk_ns is the flash's time per 16 KiB chunk.
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_flash.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "yardstick.h"

namespace {

constexpr size_t kImageSize = 64u << 20;
constexpr double kChunks = kImageSize / 16384.0;

bool gInNamespace = false;

using bench_sim::SimulatedController;

std::unique_ptr<SimulatedController> gController;

SimulatedController* Controller(benchmark::State& state) {
    if (!gInNamespace) {
        state.SkipWithError("no private mount namespace (needs root)");
        return nullptr;
    }
    if (!gController) {
        gController = std::make_unique<SimulatedController>(qvsim::FirmwareState{});
    }
    if (gController->cda() == nullptr) {
        state.SkipWithError("the simulated controller's data area failed to initialise");
        return nullptr;
    }
    return gController.get();
}

void BM_FlashController(benchmark::State& state) {
    PN_SetDebugLogLevel(0);
    SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    // Each chunk differs from the others, so a replay that sent one chunk for another would show.
    std::vector<VK_BYTE> image(kImageSize);
    for (size_t i = 0; i < kImageSize; ++i) {
        image[i] = static_cast<VK_BYTE>(i + i / 16384);
    }
    // A flash reads the controller's status into the data area first; every run starts from an empty
    // cache, as in a new process of the tool.
    const bench_replay::Measured m = bench_replay::Measure(
        state, {.product =
                    [&] {
                        return VK_FlashController(controller->cda(), image.data(), kImageSize, nullptr) ==
                               kFlashControllerSuccess;
                    },
                .release = [&] { VK_ReInitializeCDA(controller->cda()); }});
    bench_replay::PerItem(state, m, "per_chunk_ns", kChunks);
}
BENCHMARK(BM_FlashController)->Unit(benchmark::kMillisecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "flash_bench", gInNamespace, [] { gController.reset(); });
}
