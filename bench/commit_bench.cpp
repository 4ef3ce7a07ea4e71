// A whole plain commit on a full simulated host (64 logical drives in arrays): populate the editable
// configuration, stage one controller setting and the deletion of one logical drive, commit, and read
// the controller again, against the replay of the same run's calls (yardstick.h: every request with
// the data the library wrote, the register-new-disk request included). The controller's state is put
// back before every run on either side, outside the timed part. Root only.
#include <benchmark/benchmark.h>

#include "sim_controller.h"

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "qvsim/full_host.h"
#include "qvsim/qvsim.h"
#include "started_areas.h"
#include "yardstick.h"

namespace {

using Areas = bench_sim::StartedAreas;

// Deletes the highest-numbered staged logical drive: the last of its array, so the controller has to
// move nothing behind it.
bool StageDeletion(PCDA cda) {
    VK_WORD last = 0xFFFF;
    for (VK_WORD n = VK_EnumerateEditableLogicalDrives(cda, 0xFFFF); n != 0xFFFF;
         n = VK_EnumerateEditableLogicalDrives(cda, n)) {
        last = n;
    }
    return last != 0xFFFF && VK_DeleteEditableLogicalDrive(cda, last) == kDeleteEditableLogicalDriveOK;
}

bool StageAndCommit(PCDA cda) {
    const VK_WORD drives = NUM_DATA_LOGICAL_DRIVES(VK_GetControllerLogicalDriveCounts(cda));
    if (VK_CreateEditableConfiguration(cda) != kCreateEditableConfigOK) {
        return false;
    }
    const VK_BYTE priority = VK_GetEditableControllerRebuildPriority(cda) == kControllerRebuildPriorityHigh
                                 ? kControllerRebuildPriorityLow
                                 : kControllerRebuildPriorityHigh;
    const bool staged = VK_ChangeEditableControllerRebuildPriority(cda, priority) && StageDeletion(cda);
    if (!staged) {
        VK_DestroyEditableConfiguration(cda);
        return false;
    }
    const bool committed = VK_CommitEditableConfiguration(cda) == kCommitEditableConfigurationOK;
    // What a caller reads next: the arrays as the controller now has them.
    const bool reread = VK_RequestArrayConfigurationInformation(cda) != kFalse;
    return committed && reread && VK_GetControllerRebuildPriority(cda) == priority &&
           NUM_DATA_LOGICAL_DRIVES(VK_GetControllerLogicalDriveCounts(cda)) + 1 == drives;
}

void BM_LibraryCommit(benchmark::State& state) {
    const auto devices = static_cast<unsigned>(state.range(0));
    bench_sim::FullHost(1, devices);
    Areas a;
    if (a.areas.size() != 1) {
        state.SkipWithError("the data area failed to initialise");
        return;
    }
    // The commit changes the controller: the data area is read again once its state is back, so every
    // run starts from the same controller and the same cache.
    const bench_replay::Measured m =
        bench_replay::Measure(state, {.product = [&] { return StageAndCommit(a.areas[0]); },
                                      .before = [&] { a.Restart(); },
                                      // A refused or failed commit leaves its configuration behind.
                                      .release = [&] { VK_DestroyEditableConfiguration(a.areas[0]); }});
    bench_replay::PerItem(state, m, "per_device_ns", static_cast<double>(devices));
}

[[maybe_unused]] const bool kRegistered = [] {
    bench_replay::Register("BM_LibraryCommit", BM_LibraryCommit, bench_replay::Product({{48, 96, 192, 384}}),
                           {"devices"}, benchmark::kMillisecond);
    return true;
}();

} // namespace

int main(int argc, char** argv) {
    return bench_sim::RunOnSimulatedHost(argc, argv, "commit_bench", bench_sim::ReleaseFullHost);
}
