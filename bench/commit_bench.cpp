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
#include "telm_private.h"
#include "yardstick.h"

namespace {

using Areas = bench_sim::StartedAreas;

// Drops the highest-numbered staged logical drive and lists it for deletion, as staging a deletion
// does; the public call for it comes with the array edits.
bool StageDeletion(PCDA cda) {
    PEDITABLE_CONFIGURATION config = _VK_CDA(cda)->editable_configuration;
    for (VK_WORD n = 64; n-- > 0;) {
        PEDITABLE_LOGICAL_DRIVE drive = config->editable_ld_list[n];
        if (drive == nullptr) {
            continue;
        }
        PEDITABLE_ARRAY array = config->editable_array_list[drive->editable_array_number];
        for (VK_WORD i = 0; array != nullptr && i < array->logical_drive_count && i < 64; ++i) {
            if (array->logical_drives[i] == n) {
                array->logical_drives[i] = array->logical_drives[--array->logical_drive_count];
                break;
            }
        }
        VK_free(drive);
        config->editable_ld_list[n] = nullptr;
        --config->editable_ld_count;
        config->deleted_logical_drives[config->deleted_ld_count++] = n;
        return true;
    }
    return false;
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
