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
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ppavl_debug.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint64_t Bytes(int n) {
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) {
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        }
        return v;
    }
};

EDITABLE_CONFIGURATION g_config;
EDITABLE_ARRAY g_array;
EDITABLE_LOGICAL_DRIVE g_lds[8];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct QuietLog {
        VK_BYTE previous = PN_SetDebugLogLevel(0);
        ~QuietLog() { PN_SetDebugLogLevel(previous); }
    } quiet;
    _CDA* area = DataArea();
    std::memset(static_cast<void*>(area), 0, VK_GetCDASize());
    std::memset(&g_config, 0, sizeof(g_config));
    std::memset(&g_array, 0, sizeof(g_array));
    std::memset(g_lds, 0, sizeof(g_lds));
    Input in{data, size};
    const VK_WORD drives = static_cast<VK_WORD>(in.Byte() % 17);
    const size_t removed = in.Byte() % 17;
    const VK_BYTE shrink = in.Byte() % 5;
    g_array.common_drive_size_blocks = in.Bytes(8);
    g_array.alignment_size_blocks = 1;
    for (VK_WORD pd = 0; pd < drives; ++pd) {
        const VK_QWORD blocks = in.Bytes(8);
        area->pd_record_list[pd].pd_config_information.usable_size_blocks = blocks;
        area->pd_record_list[pd].pd_config_information.config_usage_info = kPhysicalDriveUsageData;
        g_config.editable_pd_list[pd].usable_size_blocks = blocks;
        g_config.editable_pd_list[pd].config_usage_info = kPhysicalDriveUsageData;
        g_array.data_drives[pd] = pd;
    }
    g_array.data_drive_count = drives;
    VK_WORD count = 0;
    while (in.More() && count < 8) {
        EDITABLE_LOGICAL_DRIVE& e = g_lds[count];
        e.ld_number = count;
        e.editable_array_number = 0;
        e.flags = kEditableLDArraySet | kEditableLDLocked | kEditableLDNewDrive;
        e.RAID_level = in.Byte();
        e.num_parity_groups = in.Byte();
        e.strip_size_blocks = static_cast<VK_DWORD>(in.Bytes(4));
        e.drive_size_blocks = in.Bytes(8);
        if (in.Byte() & 1) {
            e.flags &= ~kEditableLDNewDrive;
        }
        g_config.editable_ld_list[count] = &e;
        g_array.logical_drives[count] = count;
        ++count;
    }
    g_array.logical_drive_count = count;
    g_config.editable_array_list[0] = &g_array;
    g_config.editable_array_count = 1;
    g_config.editable_ld_count = count;
    area->editable_configuration = &g_config;

    VK_WORD list[16];
    const size_t list_size = std::min<size_t>(removed, 16);
    for (size_t i = 0; i < list_size; ++i) {
        list[i] = static_cast<VK_WORD>(i);
    }
    const VK_WORD before = g_array.data_drive_count;
    const VK_BYTE done = VK_RemoveEditableArrayDataDrives(area, 0, list, list_size, shrink);
    if (done == kRemoveEditableArrayDataDrivesOK) {
        FUZZ_CHECK(list_size <= before);
        FUZZ_CHECK(g_array.data_drive_count == before - list_size);
        VK_WORD order[8];
        for (VK_WORD i = 0; i < count; ++i) {
            order[i] = i;
        }
        std::sort(order, order + count, [](VK_WORD x, VK_WORD y) {
            return g_lds[x].physical_drive_offset_block < g_lds[y].physical_drive_offset_block;
        });
        VK_QWORD end = 0;
        for (VK_WORD k = 0; k < count; ++k) {
            const EDITABLE_LOGICAL_DRIVE& e = g_lds[order[k]];
            FUZZ_CHECK(e.physical_drive_offset_block >= end);
            FUZZ_CHECK(e.physical_drive_offset_block + e.physical_drive_blocks_per_drive >=
                       e.physical_drive_offset_block);
            end = e.physical_drive_offset_block + e.physical_drive_blocks_per_drive;
        }
    } else {
        FUZZ_CHECK(g_array.data_drive_count == before);
    }
    area->editable_configuration = nullptr;
    return 0;
}
