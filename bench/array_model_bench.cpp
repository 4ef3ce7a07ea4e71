// The array-model build for 1, 8 and 64 logical drives over 16, 128 and 384 drives. The simulated
// controller does not yet answer the per-device reads, so the replies are laid out once, decoded the
// way the loaders decode them and left cached: the build then costs its own logic only. The baseline
// touches the same configuration, status and identify copies once each, in the order the build reads
// them. Counters: the tracked allocator's peak during the build.
// The same shapes are also built on the simulated controller from a generated inventory, each run
// re-initialising the data area first, against the replay of the calls the build made on the host
// (see yardstick.h). Those cases need root (a private mount namespace).
#include <benchmark/benchmark.h>

#include "sim_controller.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_cda.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"
#include "telm_records.h"
#include "yardstick.h"

namespace {

constexpr VK_WORD kPresentMapAt = 600;

class Inventory {
public:
    Inventory(VK_WORD drives, VK_WORD logical_drives) : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        _CDA* c = area();
        c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                     kCDAValidCacheConfigStatus | kCDAValidEnclosures;
        IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
        id.wMaximumPhysicalDevicesSupported = drives;
        id.wMaximumLogicalDevicesSupported = 64;
        id.wExtendedLogicalUnitCount = logical_drives;
        id.wOffsetToExtendedDrivePresentMap = kPresentMapAt;
        auto* identify = reinterpret_cast<VK_BYTE*>(&id);
        std::vector<VK_BYTE> reply(sizeof(PHYSICAL_DRIVE_STATUS));
        pavlin::ByteSpan r(reply.data(), reply.size());
        r.put_le16(2, 512);
        r.put_le32(4, 1000000);
        r.put8(103, 1);
        r.put8(114, 1);
        r.put8(120, 1);
        for (VK_WORD p = 0; p < drives; ++p) {
            identify[kPresentMapAt + p / 8] |= static_cast<VK_BYTE>(1u << (p % 8));
            PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, p);
            telmar::DecodePhysicalDriveStatus(pavlin::ByteView(reply.data(), reply.size()), false,
                                              pd.identify_physical_drive_buffer);
            telmar::DerivePhysicalDriveRecord(area(), pd);
            pd.flags |= kPDRecordIdentifyValid;
        }
        // Logical drives spread over arrays of up to eight drives, two logical drives per array.
        const VK_WORD per_array = drives >= 8 ? 8 : drives;
        for (VK_WORD n = 0; n < logical_drives; ++n) {
            LogicalDriveRecord& ld = _VK_LDRecordForWrite(c, n);
            LOGICAL_DRIVE_CONFIG& config = ld.sense_config_buffer;
            const VK_WORD first = static_cast<VK_WORD>(((n / 2) * per_array) % drives);
            config.wAssignedDrives = per_array;
            config.wBlockSize = 512;
            config.dwBlocksPerDrive = 1000;
            config.data_offset = (n % 2) * 1000u;
            config.wOffsetToExtendedDriveAssignmentMap = 300;
            config.wOffsetToExtendedSpareAssignmentMap = 348;
            auto* raw = reinterpret_cast<VK_BYTE*>(&config);
            for (VK_WORD m = 0; m < per_array; ++m) {
                const VK_WORD p = static_cast<VK_WORD>((first + m) % drives);
                raw[300 + p / 8] |= static_cast<VK_BYTE>(1u << (p % 8));
            }
            telmar::DeriveLogicalDriveConfig(area(), ld);
            std::vector<VK_BYTE> status(sizeof(LOGICAL_DRIVE_STATUS));
            telmar::DecodeLogicalDriveStatus(pavlin::ByteView(status.data(), status.size()),
                                             ld.sense_logical_drive_status_buffer);
            ld.flags |= kLDRecordConfigValid | kLDRecordStatusValid;
        }
    }
    _CDA* area() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }

private:
    std::unique_ptr<VK_BYTE[]> memory_;
};

void Args(benchmark::internal::Benchmark* b) {
    for (int logical : {1, 8, 64}) {
        for (int drives : {16, 128, 384}) {
            b->Args({logical, drives});
        }
    }
}

void BM_ArrayModelBuild(benchmark::State& state) {
    PN_SetDebugLogLevel(0);
    Inventory inventory(static_cast<VK_WORD>(state.range(1)), static_cast<VK_WORD>(state.range(0)));
    VK_UINT64 peak = 0;
    for (auto _ : state) {
        inventory.area()->flags[kCDAFlagsModel] = 0;
        const VK_UINT64 before = _VK_curr_alloc;
        _VK_max_alloc = before;
        benchmark::DoNotOptimize(VK_RequestArrayConfigurationInformation(inventory.cda()));
        peak = std::max<VK_UINT64>(peak, _VK_max_alloc - before);
    }
    state.counters["tracked_peak_bytes"] = static_cast<double>(peak);
}
BENCHMARK(BM_ArrayModelBuild)->Apply(Args);

// The same cached copies, each touched once: what reading them costs without any model logic.
void BM_SameReadsBaseline(benchmark::State& state) {
    const auto drives = static_cast<VK_WORD>(state.range(1));
    const auto logical = static_cast<VK_WORD>(state.range(0));
    Inventory inventory(drives, logical);
    _CDA* c = inventory.area();
    std::vector<VK_BYTE> sink(sizeof(PHYSICAL_DRIVE_STATUS));
    for (auto _ : state) {
        for (VK_WORD n = 0; n < logical; ++n) {
            std::memcpy(sink.data(), &c->ld_record_list[n].sense_config_buffer, sizeof(LOGICAL_DRIVE_CONFIG));
            std::memcpy(sink.data(), &c->ld_record_list[n].sense_logical_drive_status_buffer,
                        sizeof(CDA_LOGICAL_DRIVE_STATUS));
        }
        for (VK_WORD p = 0; p < drives; ++p) {
            std::memcpy(sink.data(), &c->pd_record_list[p].identify_physical_drive_buffer,
                        sizeof(CDA_PHYSICAL_DRIVE_STATUS));
        }
        benchmark::DoNotOptimize(sink.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SameReadsBaseline)->Apply(Args);

bool gInNamespace = false;

// One simulated controller whose inventory is generated for (logical drives, drives), with its data
// area initialised. Kept while consecutive benchmarks use the same shape.
// The controller's inventory for one benchmark shape.
qvsim::FirmwareState Shape(VK_WORD logical, VK_WORD drives) {
    qvsim::FirmwareState state;
    // Arrays of eight drives at most, two logical drives each, as in the cached inventory.
    const auto arrays =
        static_cast<std::uint16_t>(std::max(1, std::min<int>(drives / 8, (logical + 1) / 2)));
    state.generate({.drives = drives,
                    .connectors = 4,
                    .enclosures = static_cast<std::uint8_t>(std::max(1, drives / 24)),
                    .logical_drives = logical,
                    .arrays = arrays});
    return state;
}

using bench_sim::SimulatedController;

std::unique_ptr<SimulatedController> gController;
std::pair<int, int> gShape{-1, -1};

SimulatedController* Controller(benchmark::State& state) {
    if (!gInNamespace) {
        state.SkipWithError("no private mount namespace (needs root)");
        return nullptr;
    }
    const std::pair<int, int> shape{static_cast<int>(state.range(0)), static_cast<int>(state.range(1))};
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

void BM_SimulatedArrayModelBuild(benchmark::State& state) {
    PN_SetDebugLogLevel(0);
    SimulatedController* controller = Controller(state);
    if (controller == nullptr) {
        return;
    }
    VK_UINT64 peak = 0;
    bench_replay::Measure(state, {.product = [&] {
        const VK_UINT64 before = _VK_curr_alloc;
        _VK_max_alloc = before;
        const bool built = VK_ReInitializeCDA(controller->cda()) == kInitializeSucceeded &&
                           VK_RequestArrayConfigurationInformation(controller->cda());
        peak = std::max<VK_UINT64>(peak, _VK_max_alloc - before);
        return built;
    }});
    state.counters["tracked_peak_bytes"] = static_cast<double>(peak);
}
BENCHMARK(BM_SimulatedArrayModelBuild)->Apply(Args)->Unit(benchmark::kMicrosecond)->UseManualTime();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunBenchmarks(argc, argv, "array_model_bench", gInNamespace, [] { gController.reset(); });
}
