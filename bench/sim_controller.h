// One simulated controller for the benchmarks that run the library on the simulated host: the host
// in its private namespace, discovery, and an initialised data area. Needs root.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_cda.h"
#include "qvsim/full_host.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"

namespace bench_sim {

class SimulatedController {
public:
    explicit SimulatedController(qvsim::FirmwareState state) {
        qvsim::Scenario s;
        s.add_ciss("qzvk", "0000:10:00.0", 2, 1).firmware = std::make_shared<qvsim::FwController>(std::move(state));
        host_ = std::make_unique<qvsim::Sandbox>(std::move(s));
        if (!host_->verify()) {
            return;
        }
        InitializeTelmar("0x6D2A");
        InitializePavlin("0x6D2A");
        list_ = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        if (!PN_IsDeviceListIteratorEnd(it)) {
            area_ = VK_malloc(VK_GetCDASize());
            if (VK_InitializeCDA(area_, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
                VK_free(area_);
                area_ = nullptr;
            }
        }
        PN_DestroyDeviceListIterator(it);
    }
    ~SimulatedController() {
        if (area_ != nullptr) {
            VK_UnInitializeCDA(area_);
            VK_free(area_);
        }
        if (list_ != nullptr) {
            PN_DestroyDeviceDescriptorList(list_);
        }
    }
    SimulatedController(const SimulatedController&) = delete;
    SimulatedController& operator=(const SimulatedController&) = delete;

    PCDA cda() const { return area_; }
    qvsim::Sandbox& host() { return *host_; }

private:
    std::unique_ptr<qvsim::Sandbox> host_;
    DeviceDescriptorList list_ = nullptr;
    PCDA area_ = nullptr;
};

// The full simulated host of the current shape (N controllers of D devices each, seed 1), kept while
// consecutive benchmarks ask for the same shape; ReleaseFullHost() ends it.
inline std::unique_ptr<qvsim::Sandbox>& CurrentFullHost() {
    static std::unique_ptr<qvsim::Sandbox> host;
    return host;
}
inline qvsim::Sandbox& FullHost(unsigned controllers, unsigned devices) {
    static std::pair<unsigned, unsigned> shape{0, 0};
    std::unique_ptr<qvsim::Sandbox>& host = CurrentFullHost();
    if (host == nullptr || shape != std::make_pair(controllers, devices)) {
        host.reset();
        host = std::make_unique<qvsim::Sandbox>(qvsim::full_host({controllers, devices, 1}));
        shape = {controllers, devices};
    }
    return *host;
}
inline void ReleaseFullHost() {
    CurrentFullHost().reset();
}

// Runs the registered benchmarks, then `done` releases what they kept.
template <typename Done> int RunRegistered(int argc, char** argv, Done done) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    done();
    return 0;
}

// main() of a benchmark on the simulated host: enters the private namespace (without it the simulated
// cases skip themselves), runs the benchmarks, then `done` releases what they kept.
template <typename Done>
int RunBenchmarks(int argc, char** argv, const char* name, bool& in_namespace, Done done) {
    std::string error;
    in_namespace = qvsim::enter_private_namespace(&error);
    if (!in_namespace) {
        std::fprintf(stderr, "%s: no private mount namespace, simulated cases skipped: %s\n", name, error.c_str());
    }
    return RunRegistered(argc, argv, done);
}

// main() of a benchmark whose every case needs the simulated host: without the private namespace
// nothing runs.
template <typename Done> int RunOnSimulatedHost(int argc, char** argv, const char* name, Done done) {
    std::string error;
    if (!qvsim::enter_private_namespace(&error)) {
        std::fprintf(stderr, "%s: cannot enter a private mount namespace: %s\n", name, error.c_str());
        return 1;
    }
    return RunRegistered(argc, argv, done);
}

} // namespace bench_sim
