// The configuration copy of a new logical drive built over a hostile configuration reply. The input
// is a choice byte (extended maps, spare activation, SED bits, LU cache), the staged RAID code,
// parity groups, data and spare counts, the staged geometry, the drive numbers (2 bytes each,
// little-endian), then the 652-byte configuration as 0x50 returned it. Whatever its map offsets,
// device count and total say, nothing outside the copy may be touched, and past the fixed fields only
// the data and spare maps that fit the copy and its reported total may change.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "fuzz_staged.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

// The span a map at `offset` may take in `config` as it was read: nothing when it is not usable.
size_t UsableSpan(const LOGICAL_DRIVE_CONFIG& config, size_t offset) {
    const size_t bytes = (static_cast<size_t>(config.wMaximumPhysicalDevicesSupported) + 7) / 8;
    const size_t limit = std::min<size_t>(config.dwTotalStructureLength, sizeof(config));
    if (offset < telmar::kConfigFixedFieldsEnd || bytes == 0 || offset > limit || bytes > limit - offset) {
        return 0;
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};

    const uint8_t choices = in.Byte();
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
    c->identify_controller_buffer.bMoreControllerFlags = (choices & 1) ? 0x40 : 0;
    c->identify_controller_buffer.wMaximumPhysicalDevicesSupported = kMaxPhysicalDrivesSupported;
    HeapStagedConfiguration config(c);
    EDITABLE_ARRAY& array = config.Array(0);
    config->controller_spare_activation_mode =
        (choices & 2) ? kControllerSAMTypePredictive : kControllerSAMTypeFailure;
    config->editable_array_count = 1;
    const VK_WORD ld_number = static_cast<VK_WORD>(in.Byte() % kMaxLogicalDrivesSupported);
    EDITABLE_LOGICAL_DRIVE& ld = config.LogicalDrive(ld_number);
    config->editable_ld_count = 1;

    ld.ld_number = ld_number;
    ld.flags = kEditableLDNewDrive | kEditableLDRAIDSet | ((choices & 4) ? kEditableLDEnableSED : 0) |
               ((choices & 8) ? kEditableLDLUCache : 0);
    array.flags = static_cast<VK_WORD>(kEditableArrNew | ((choices & 4) ? kEditableArrSEDEncryption : 0));
    ld.RAID_level = in.Byte();
    ld.num_parity_groups = in.Byte();
    array.data_drive_count = in.Byte();
    array.spare_drive_count = in.Byte();
    in.Fill(&ld.drive_size_blocks, sizeof(ld.drive_size_blocks));
    in.Fill(&ld.physical_drive_offset_block, sizeof(ld.physical_drive_offset_block));
    in.Fill(&ld.strip_size_blocks, sizeof(ld.strip_size_blocks));
    in.Fill(&ld.block_size_bytes, sizeof(ld.block_size_bytes));
    ld.sectors_per_track = in.Byte();
    ld.logical_drive_accelerator = in.Byte();
    ld.logical_drive_initialization_method = in.Byte();
    for (VK_WORD i = 0; i < std::min<VK_WORD>(array.data_drive_count, 128); ++i) {
        array.data_drives[i] = in.Take<VK_WORD>();
    }
    for (VK_WORD i = 0; i < std::min<VK_WORD>(array.spare_drive_count, 128); ++i) {
        array.spare_drives[i] = in.Take<VK_WORD>();
        config->editable_pd_list[array.spare_drives[i] % kMaxPhysicalDrivesSupported].config_usage_info =
            in.Byte();
    }

    GuardedConfig g;
    in.Fill(&g.config, sizeof(g.config));
    const GuardedConfig before = g;

    __VK_PrepNewEditableLogicalDrive(cda, ld_number, &g.config);
    __VK_ManageEditableLogicalDriveSpareDrives(cda, ld_number, &g.config);

    g.CheckGuards();
    const bool extended = choices & 1;
    const size_t data_at = before.config.wOffsetToExtendedDriveAssignmentMap;
    const size_t spare_at = before.config.wOffsetToExtendedSpareAssignmentMap;
    const size_t data_span = extended ? UsableSpan(before.config, data_at) : 0;
    // A RAID 0 drive under spare activation on failure has its extended spare map zeroed wherever the
    // copy has a usable one, on any controller.
    const bool spares_cleared = ld.RAID_level == kRAID0 && !(choices & 2);
    const size_t spare_span = extended || spares_cleared ? UsableSpan(before.config, spare_at) : 0;
    const auto* now = reinterpret_cast<const uint8_t*>(&g.config);
    const auto* was = reinterpret_cast<const uint8_t*>(&before.config);
    for (size_t at = telmar::kConfigFixedFieldsEnd; at < sizeof(LOGICAL_DRIVE_CONFIG); ++at) {
        if (now[at] != was[at]) {
            FUZZ_CHECK(Inside(at, data_at, data_span) || Inside(at, spare_at, spare_span));
        }
    }
    // The drive parameter table always sums to 0.
    uint8_t sum = 0;
    for (size_t i = 0; i < sizeof(DRIVE_PARAM_TABLE); ++i) {
        sum =
            static_cast<uint8_t>(sum + reinterpret_cast<const uint8_t*>(&g.config.logicalDriveParamTable)[i]);
    }
    FUZZ_CHECK(sum == 0);
    FUZZ_CHECK(g.config.wAssignedDrives == array.data_drive_count);
    return 0;
}
