// Creating and destroying the editable configuration on a full simulated host (64 logical drives in
// arrays on every controller), against the replay of the same run's calls (yardstick.h). Creation
// re-reads the whole controller, so its cost follows the host's size. Start-up happens outside the
// timed part. Root only.
#include <benchmark/benchmark.h>

#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "yardstick.h"
#include "sim_controller.h"
#include "started_areas.h"

namespace {

using Areas = bench_sim::StartedAreas;

bool CreateAndDestroy(const Areas& a) {
    bool ok = true;
    for (PCDA cda : a.areas) {
        ok = VK_CreateEditableConfiguration(cda) == kCreateEditableConfigOK && ok;
        VK_DestroyEditableConfiguration(cda);
    }
    return ok;
}

void BM_LibraryEditableConfig(benchmark::State& state) {
    const auto controllers = static_cast<unsigned>(state.range(0));
    const auto devices = static_cast<unsigned>(state.range(1));
    bench_sim::FullHost(controllers, devices);
    Areas a;
    if (a.areas.size() != controllers) {
        state.SkipWithError("a data area failed to initialise");
        return;
    }
    const bench_replay::Measured m = bench_replay::Measure(
        state, {.product = [&] { return CreateAndDestroy(a); }, .release = [&] { a.Restart(); }});
    bench_replay::PerItem(state, m, "per_device_ns", static_cast<double>(controllers * devices));
}

[[maybe_unused]] const bool kRegistered = [] {
    bench_replay::Register("BM_LibraryEditableConfig", BM_LibraryEditableConfig,
                           bench_replay::Product({{1, 7}, {48, 96, 192, 384}}), {"controllers", "devices"},
                           benchmark::kMillisecond);
    return true;
}();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunOnSimulatedHost(argc, argv, "editable_config_bench", bench_sim::ReleaseFullHost);
}
