// A 64 MiB firmware flash on a zero-latency simulated controller: VK_FlashController (free, 4,096
// chunks, activate, free) against a baseline that sends the same pass-through requests again with
// nothing of the library around them. The counter "per_chunk" is the time per 16 KiB chunk.
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ioctl_replay.h"
#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_flash.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"

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

void PerChunk(benchmark::State& state) {
    state.counters["per_chunk"] =
        benchmark::Counter(kChunks, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FlashController(benchmark::State& state) {
    PN_SetDebugLogLevel(0);
    SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    const std::vector<VK_BYTE> image(kImageSize, 0x5A);
    for (auto _ : state) {
        if (VK_FlashController(controller->cda(), image.data(), kImageSize, nullptr) != kFlashControllerSuccess) {
            state.SkipWithError("the flash failed");
            break;
        }
        state.PauseTiming();
        controller->host().clear_requests();
        state.ResumeTiming();
    }
    PerChunk(state);
}
BENCHMARK(BM_FlashController)->Unit(benchmark::kMillisecond);

void BM_FlashBaseline(benchmark::State& state) {
    SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    qvsim::Sandbox& host = controller->host();
    host.clear_requests();
    const std::vector<VK_BYTE> image(kImageSize, 0x5A);
    if (VK_FlashController(controller->cda(), image.data(), kImageSize, nullptr) != kFlashControllerSuccess) {
        state.SkipWithError("the flash failed");
        return;
    }
    // The flash's own requests: free, chunks, activate, free.
    const auto sent = bench_replay::Recorded(host, [](const bench_replay::Read& r) {
        return r.cdb.size() == 16 && (r.cdb[6] == 0xD2 || r.cdb[6] == 0xD3 || r.cdb[6] == 0xF7);
    });
    host.clear_requests();
    state.counters["requests"] = static_cast<double>(sent.size());
    std::vector<unsigned char> buffer(16384, 0x5A);
    for (auto _ : state) {
        if (!bench_replay::Replay(sent, buffer)) {
            state.SkipWithError("a replayed request failed");
            break;
        }
        state.PauseTiming();
        host.clear_requests();
        state.ResumeTiming();
    }
    PerChunk(state);
}
BENCHMARK(BM_FlashBaseline)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "flash_bench", gInNamespace, [] { gController.reset(); });
}
