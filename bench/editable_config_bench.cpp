// Creating and destroying the editable configuration on a full simulated host (64 logical drives in
// arrays on every controller), against its baseline in the same run: the same requests in the same
// order, taken from the request log of the library's run and sent again with nothing of the library
// around them. Creation re-reads the whole controller, so its cost follows the host's size. Start-up
// and one warm-up creation happen outside the timed part. Root only.
#include <benchmark/benchmark.h>

#include <vector>

#include "ioctl_replay.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "side_by_side.h"
#include "sim_controller.h"

namespace {

// Started data areas of every controller of the host.
struct Areas {
    DeviceDescriptorList list = nullptr;
    std::vector<PCDA> areas;
    Areas() {
        InitializeTelmar("0x6D2A");
        InitializePavlin("0x6D2A");
        list = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            PCDA area = VK_malloc(VK_GetCDASize());
            if (VK_InitializeCDA(area, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
                VK_free(area);
                break;
            }
            areas.push_back(area);
        }
        PN_DestroyDeviceListIterator(it);
    }
    ~Areas() {
        for (PCDA area : areas) {
            VK_UnInitializeCDA(area);
            VK_free(area);
        }
        PN_DestroyDeviceDescriptorList(list);
    }
};

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
    qvsim::Sandbox& host = bench_sim::FullHost(controllers, devices);
    Areas a;
    if (a.areas.size() != controllers) {
        state.SkipWithError("a data area failed to initialise");
        return;
    }
    if (!CreateAndDestroy(a)) {
        state.SkipWithError("a creation failed");
        return;
    }
    host.clear_requests();
    for (auto _ : state) {
        const bool ok = CreateAndDestroy(a);
        state.PauseTiming();
        host.clear_requests();
        if (!ok) {
            state.SkipWithError("a creation failed");
            break;
        }
        state.ResumeTiming();
    }
    state.counters["per_device_ns"] = benchmark::Counter(
        static_cast<double>(controllers * devices), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void BM_BaselineEditableConfig(benchmark::State& state) {
    const auto controllers = static_cast<unsigned>(state.range(0));
    const auto devices = static_cast<unsigned>(state.range(1));
    qvsim::Sandbox& host = bench_sim::FullHost(controllers, devices);
    std::vector<bench_replay::Step> steps;
    {
        Areas a;
        CreateAndDestroy(a);
        host.clear_requests();
        CreateAndDestroy(a);
        steps = bench_replay::Steps(host);
        host.clear_requests();
    }
    const size_t requests = bench_replay::RequestCount(steps);
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["opens"] = static_cast<double>(steps.size() - requests);
    std::vector<unsigned char> buffer;
    for (auto _ : state) {
        if (!bench_replay::Replay(steps, buffer)) {
            state.SkipWithError("a replayed request failed");
            return;
        }
        state.PauseTiming();
        host.clear_requests();
        state.ResumeTiming();
    }
    state.counters["per_device_ns"] = benchmark::Counter(
        static_cast<double>(controllers * devices), benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

[[maybe_unused]] const bool kRegistered = [] {
    bench_replay::RegisterSideBySide({{"BM_LibraryEditableConfig", BM_LibraryEditableConfig},
                                      {"BM_BaselineEditableConfig", BM_BaselineEditableConfig}},
                                     bench_replay::Product({{1, 7}, {48, 96, 192, 384}}),
                                     {"controllers", "devices"}, benchmark::kMillisecond);
    return true;
}();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunOnSimulatedHost(argc, argv, "editable_config_bench", bench_sim::ReleaseFullHost);
}
