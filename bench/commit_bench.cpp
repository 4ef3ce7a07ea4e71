// A plain commit on a full simulated controller (64 logical drives): populate the editable
// configuration, stage one changed setting and one deleted logical drive, commit, and read the array
// model back; against the replay of the calls that run made (see yardstick.h), the writes with the
// data the library sent and the register-new-disk request included. The controller's state is put
// back between runs outside the timed part. Root only.
#include <benchmark/benchmark.h>

#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "sim_controller.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "yardstick.h"

namespace {

struct Area {
    DeviceDescriptorList list = nullptr;
    PCDA cda = nullptr;
    Area() {
        InitializeTelmar("0x6D2A");
        InitializePavlin("0x6D2A");
        list = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        if (!PN_IsDeviceListIteratorEnd(it)) {
            cda = VK_malloc(VK_GetCDASize());
            if (VK_InitializeCDA(cda, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
                VK_free(cda);
                cda = nullptr;
            }
        }
        PN_DestroyDeviceListIterator(it);
    }
    ~Area() {
        if (cda != nullptr) {
            VK_UnInitializeCDA(cda);
            VK_free(cda);
        }
        PN_DestroyDeviceDescriptorList(list);
    }
};

// Stages the deletion of the highest staged logical drive, as staging a deletion leaves the record.
bool StageDeletion(PCDA cda) {
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    VK_WORD last = kInvalidLDNumber;
    for (VK_WORD n = VK_EnumerateEditableLogicalDrives(cda, kInvalidLDNumber); n != kInvalidLDNumber;
         n = VK_EnumerateEditableLogicalDrives(cda, n)) {
        last = n;
    }
    if (config == nullptr || last == kInvalidLDNumber) {
        return false;
    }
    PEDITABLE_LOGICAL_DRIVE drive = config->editable_ld_list[last];
    PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, drive->editable_array_number);
    if (array != nullptr) {
        for (VK_WORD i = 0; i < array->logical_drive_count && i < 64; ++i) {
            if (array->logical_drives[i] == last) {
                array->logical_drives[i] = array->logical_drives[--array->logical_drive_count];
                break;
            }
        }
    }
    VK_free(drive);
    config->editable_ld_list[last] = nullptr;
    --config->editable_ld_count;
    config->deleted_logical_drives[config->deleted_ld_count++] = last;
    return true;
}

bool Commit(PCDA cda) {
    if (VK_CreateEditableConfiguration(cda) != kCreateEditableConfigOK) {
        return false;
    }
    const VK_BYTE priority = VK_GetEditableControllerRebuildPriority(cda) == 1 ? 2 : 1;
    if (!VK_ChangeEditableControllerRebuildPriority(cda, priority) || !StageDeletion(cda)) {
        VK_DestroyEditableConfiguration(cda);
        return false;
    }
    const VK_BYTE result = VK_CommitEditableConfiguration(cda);
    return result == kCommitEditableConfigurationOK && VK_RequestArrayConfigurationInformation(cda);
}

void BM_LibraryCommit(benchmark::State& state) {
    const auto devices = static_cast<unsigned>(state.range(0));
    bench_sim::FullHost(1, devices);
    Area a;
    if (a.cda == nullptr) {
        state.SkipWithError("the data area failed to initialise");
        return;
    }
    const bench_replay::Measured m = bench_replay::Measure(
        state, {.product = [&] { return Commit(a.cda); },
                // The controller is as it was before the run only once the host state is back.
                .before = [&] { VK_ReInitializeCDA(a.cda); },
                .release = [&] { VK_DestroyEditableConfiguration(a.cda); }});
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
