// Removing data drives from a staged array over hostile staged geometry, with no controller behind
// the data area. The input gives the data-drive count (1), the removed count (1), the shrink type
// (1), the array's common size (8), then per drive its usable blocks (8), then per logical drive its
// RAID level (1), parity groups (1), strip (4), size (8) and whether it is new (1), up to 8 drives.
// A refused removal changes nothing; an allowed one leaves every logical drive placed once, none
// wrapping or overlapping. With no controller behind the area the staged array status is not OK, so
// the inputs reach the list, drive, spare and SED tests but not the packed layout.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea area;
    FuzzInput in{data, size};
    HeapStagedConfiguration config(area);
    EDITABLE_ARRAY& array = config.Array(0);
    config->editable_array_count = 1;
    const VK_WORD drives = static_cast<VK_WORD>(in.Byte() % 17);
    const size_t removed = in.Byte() % 17;
    const VK_BYTE shrink = in.Byte() % 5;
    array.common_drive_size_blocks = in.Take<VK_QWORD>();
    array.alignment_size_blocks = 1;
    for (VK_WORD pd = 0; pd < drives; ++pd) {
        const VK_QWORD blocks = in.Take<VK_QWORD>();
        area->pd_record_list[pd].pd_config_information.usable_size_blocks = blocks;
        area->pd_record_list[pd].pd_config_information.config_usage_info = kPhysicalDriveUsageData;
        config->editable_pd_list[pd].usable_size_blocks = blocks;
        config->editable_pd_list[pd].config_usage_info = kPhysicalDriveUsageData;
        array.data_drives[pd] = pd;
    }
    array.data_drive_count = drives;
    EDITABLE_LOGICAL_DRIVE* lds[8] = {};
    VK_WORD count = 0;
    while (!in.Done() && count < 8) {
        EDITABLE_LOGICAL_DRIVE& e = config.AddLogicalDrive(0);
        e.flags = kEditableLDArraySet | kEditableLDLocked | kEditableLDNewDrive;
        e.RAID_level = in.Byte();
        e.num_parity_groups = in.Byte();
        e.strip_size_blocks = in.Take<VK_DWORD>();
        e.drive_size_blocks = in.Take<VK_QWORD>();
        if (in.Byte() & 1) {
            e.flags &= ~kEditableLDNewDrive;
        }
        lds[count++] = &e;
    }

    VK_WORD list[16];
    const size_t list_size = std::min<size_t>(removed, 16);
    for (size_t i = 0; i < list_size; ++i) {
        list[i] = static_cast<VK_WORD>(i);
    }
    const VK_WORD before = array.data_drive_count;
    const VK_BYTE done = VK_RemoveEditableArrayDataDrives(area, 0, list, list_size, shrink);
    if (done == kRemoveEditableArrayDataDrivesOK) {
        FUZZ_CHECK(list_size <= before);
        FUZZ_CHECK(array.data_drive_count == before - list_size);
        VK_WORD order[8];
        for (VK_WORD i = 0; i < count; ++i) {
            order[i] = i;
        }
        std::sort(order, order + count, [&lds](VK_WORD x, VK_WORD y) {
            return lds[x]->physical_drive_offset_block < lds[y]->physical_drive_offset_block;
        });
        VK_QWORD end = 0;
        for (VK_WORD k = 0; k < count; ++k) {
            const EDITABLE_LOGICAL_DRIVE& e = *lds[order[k]];
            FUZZ_CHECK(e.physical_drive_offset_block >= end);
            FUZZ_CHECK(e.physical_drive_offset_block + e.physical_drive_blocks_per_drive >=
                       e.physical_drive_offset_block);
            end = e.physical_drive_offset_block + e.physical_drive_blocks_per_drive;
        }
    } else {
        FUZZ_CHECK(array.data_drive_count == before);
    }
    return 0;
}
