// The staged configuration in the debug log: one block of indented lines, one member a line, written
// under the debug lock so that no other message lands inside it. Credentials, the recovery question
// and answer and the login session are never written.
#include <algorithm>

#include "ppavl_debug.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"

namespace {

// The level and mask every line of one dump is written with.
struct DumpWriter {
    VK_BYTE level;
    VK_UINT32 mask;
};

// Each line goes through the bypass with a literal format, so the compiler checks its arguments.
#define DUMP_LINE(out, ...) _PN_DebugLogBypass((out).level, (out).mask, __VA_ARGS__)

// "<opening>" then each entry as "%u " (or "%02x " when `hex`), then "]\n".
template <typename T>
void DumpList(const DumpWriter& out, const char* opening, const T* entries, size_t count, bool hex) {
    DUMP_LINE(out, "%s", opening);
    for (size_t i = 0; i < count; ++i) {
        if (hex) {
            DUMP_LINE(out, "%02x ", static_cast<unsigned>(entries[i]));
        } else {
            DUMP_LINE(out, "%u ", static_cast<unsigned>(entries[i]));
        }
    }
    DUMP_LINE(out, "]\n");
}

template <size_t N>
size_t Used(VK_WORD count, const VK_WORD (&)[N]) {
    return std::min<size_t>(count, N);
}

void DumpArray(const DumpWriter& out, int slot, const EDITABLE_ARRAY& a) {
    DUMP_LINE(out, "    %i:\n", slot);
    DUMP_LINE(out, "      flags: 0x%04x\n", static_cast<unsigned>(a.flags));
    DUMP_LINE(out, "      editable_array_number: %u\n", static_cast<unsigned>(a.editable_array_number));
    DUMP_LINE(out, "      common_drive_type: %u\n", static_cast<unsigned>(a.common_drive_type));
    DUMP_LINE(out, "      common_block_size: %u\n", static_cast<unsigned>(a.common_block_size));
    DUMP_LINE(out, "      alignment_size_blocks: %u\n", static_cast<unsigned>(a.alignment_size_blocks));
    DUMP_LINE(out, "      common_drive_size_blocks: %llu\n", static_cast<unsigned long long>(a.common_drive_size_blocks));
    DUMP_LINE(out, "      offset_to_creatable_space: %llu\n", static_cast<unsigned long long>(a.offset_to_creatable_space));
    DUMP_LINE(out, "      data_drive_count: %u\n", static_cast<unsigned>(a.data_drive_count));
    DUMP_LINE(out, "      spare_drive_count: %u\n", static_cast<unsigned>(a.spare_drive_count));
    DUMP_LINE(out, "      logical_drive_count: %u\n", static_cast<unsigned>(a.logical_drive_count));
    DumpList(out, "      data_drives: [ ", a.data_drives, Used(a.data_drive_count, a.data_drives), false);
    DumpList(out, "      spare_drives: [ ", a.spare_drives, Used(a.spare_drive_count, a.spare_drives), false);
    DumpList(out, "      logical_drives: [ ", a.logical_drives, Used(a.logical_drive_count, a.logical_drives), false);
    DUMP_LINE(out, "      common_sed_type: 0x%02X\n", static_cast<unsigned>(a.common_sed_type));
}

void DumpLogicalDrive(const DumpWriter& out, int slot, const EDITABLE_LOGICAL_DRIVE& l) {
    DUMP_LINE(out, "    %i:\n", slot);
    DUMP_LINE(out, "      flags: 0x%016llx\n", static_cast<unsigned long long>(l.flags));
    DUMP_LINE(out, "      ld_number: %u\n", static_cast<unsigned>(l.ld_number));
    DUMP_LINE(out, "      editable_array_number: %u\n", static_cast<unsigned>(l.editable_array_number));
    DUMP_LINE(out, "      lu_cache_ld_number: %u\n", static_cast<unsigned>(l.lu_cache_ld_number));
    DUMP_LINE(out, "      lu_cache_policy: %u\n", static_cast<unsigned>(l.lu_cache_policy));
    DUMP_LINE(out, "      lu_cache_algorithm: %u\n", static_cast<unsigned>(l.lu_cache_algorithm));
    DUMP_LINE(out, "      lu_cache_line_size_blocks: %u\n", static_cast<unsigned>(l.lu_cache_line_size_blocks));
    DUMP_LINE(out, "      RAID_level: %u\n", static_cast<unsigned>(l.RAID_level));
    DUMP_LINE(out, "      num_parity_groups: %u\n", static_cast<unsigned>(l.num_parity_groups));
    DUMP_LINE(out, "      strip_size_blocks: %u\n", static_cast<unsigned>(l.strip_size_blocks));
    DUMP_LINE(out, "      block_size_bytes: %u\n", static_cast<unsigned>(l.block_size_bytes));
    DUMP_LINE(out, "      physical_drive_offset_block: %llu\n", static_cast<unsigned long long>(l.physical_drive_offset_block));
    DUMP_LINE(out, "      physical_drive_blocks_per_drive: %llu\n",
             static_cast<unsigned long long>(l.physical_drive_blocks_per_drive));
    DUMP_LINE(out, "      drive_size_blocks: %llu\n", static_cast<unsigned long long>(l.drive_size_blocks));
    DUMP_LINE(out, "      sectors_per_track: %u\n", static_cast<unsigned>(l.sectors_per_track));
    DUMP_LINE(out, "      logical_drive_accelerator: %u\n", static_cast<unsigned>(l.logical_drive_accelerator));
    DUMP_LINE(out, "      logical_drive_initialization_method: %u\n",
             static_cast<unsigned>(l.logical_drive_initialization_method));
    const auto* label = reinterpret_cast<const VK_BYTE*>(l.logical_drive_label);
    DumpList(out, "      logical_drive_label: [ ", label, sizeof(l.logical_drive_label), true);
}

void DumpConfiguration(const DumpWriter& out, const EDITABLE_CONFIGURATION& c) {
    DUMP_LINE(out, "EDITABLE_CONFIGURATION:\n");
    DUMP_LINE(out, "  crc: 0x%08x\n", static_cast<unsigned>(c.crc));
    DUMP_LINE(out, "  flags: 0x%08x\n", static_cast<unsigned>(c.flags));
    DUMP_LINE(out, "  controller_rebuild_priority: %u\n", static_cast<unsigned>(c.controller_rebuild_priority));
    DUMP_LINE(out, "  controller_transformation_priority: %u\n", static_cast<unsigned>(c.controller_transformation_priority));
    DUMP_LINE(out, "  controller_spare_activation_mode: %u\n", static_cast<unsigned>(c.controller_spare_activation_mode));
    DUMP_LINE(out, "  controller_write_cache_bypass_threshold: %u\n",
             static_cast<unsigned>(c.controller_write_cache_bypass_threshold));
    DUMP_LINE(out, "  controller_sanitize_lock: %u\n", static_cast<unsigned>(c.controller_sanitize_lock));
    DUMP_LINE(out, "  controller_notify_on_any_broadcast: %u\n", static_cast<unsigned>(c.controller_notify_on_any_broadcast));
    DUMP_LINE(out, "  controller_surface_scan_priority: %u\n", static_cast<unsigned>(c.controller_surface_scan_priority));
    DUMP_LINE(out, "  controller_parallel_surface_scan_count: %u\n",
             static_cast<unsigned>(c.controller_parallel_surface_scan_count));
    DUMP_LINE(out, "  controller_performance_profile: %u\n", static_cast<unsigned>(c.controller_performance_profile));
    DUMP_LINE(out, "  controller_parity_RAID_DPO: %u\n", static_cast<unsigned>(c.controller_parity_RAID_DPO));
    DUMP_LINE(out, "  controller_RAID6x_IRP: %u\n", static_cast<unsigned>(c.controller_RAID6x_IRP));
    DUMP_LINE(out, "  controller_pd_elevator_sort: %u\n", static_cast<unsigned>(c.controller_pd_elevator_sort));
    DUMP_LINE(out, "  controller_max_drive_request_queue_depth: %u\n",
             static_cast<unsigned>(c.controller_max_drive_request_queue_depth));
    DUMP_LINE(out, "  controller_fls_setting: %u\n", static_cast<unsigned>(c.controller_fls_setting));
    DUMP_LINE(out, "  controller_mnp_analysis_delay: %u\n", static_cast<unsigned>(c.controller_mnp_analysis_delay));
    DUMP_LINE(out, "  controller_survival_mode: %u\n", static_cast<unsigned>(c.controller_survival_mode));
    DUMP_LINE(out, "  controller_nbwc: %u\n", static_cast<unsigned>(c.controller_nbwc));
    DUMP_LINE(out, "  controller_read_cache_percent: %u\n", static_cast<unsigned>(c.controller_read_cache_percent));
    DUMP_LINE(out, "  controller_sed_encryption_status: %llu\n",
             static_cast<unsigned long long>(c.controller_sed_encryption_status));
    DumpList(out, "  controller_drive_write_cache_policy: [ ", c.controller_drive_write_cache_policy,
             sizeof(c.controller_drive_write_cache_policy), true);
    DUMP_LINE(out, "  encryption: %u\n", static_cast<unsigned>(c.encryption));
    DUMP_LINE(out, "  encryption_boot_password_state: %u\n", static_cast<unsigned>(c.encryption_boot_password_state));
    DUMP_LINE(out, "  editable_array_count: %u\n", static_cast<unsigned>(c.editable_array_count));
    DUMP_LINE(out, "  editable_ld_count: %u\n", static_cast<unsigned>(c.editable_ld_count));
    DUMP_LINE(out, "  deleted_ld_count: %u\n", static_cast<unsigned>(c.deleted_ld_count));
    DumpList(out, "  deleted_logical_drives: [ ", c.deleted_logical_drives,
             Used(c.deleted_ld_count, c.deleted_logical_drives), false);
    DUMP_LINE(out, "  controller_bootable_volume_flags: %u\n", static_cast<unsigned>(c.controller_bootable_volume_flags));
    DUMP_LINE(out, "  controller_primary_boot_volume:\n");
    DUMP_LINE(out, "    controller_primary_boot_volume.type: %u\n", static_cast<unsigned>(c.controller_primary_boot_volume.type));
    DUMP_LINE(out, "    controller_primary_boot_volume.dev_number: %u\n",
             static_cast<unsigned>(c.controller_primary_boot_volume.dev_number));
    DUMP_LINE(out, "  controller_secondary_boot_volume:\n");
    DUMP_LINE(out, "    controller_secondary_boot_volume.type: %u\n",
             static_cast<unsigned>(c.controller_secondary_boot_volume.type));
    DUMP_LINE(out, "    controller_secondary_boot_volume.dev_number: %u\n",
             static_cast<unsigned>(c.controller_secondary_boot_volume.dev_number));
    DUMP_LINE(out, "  editable_array_list: [\n");
    for (int i = 0; i < static_cast<int>(kMaxArraysSupported); ++i) {
        if (c.editable_array_list[i] != nullptr) {
            DumpArray(out, i, *c.editable_array_list[i]);
        }
    }
    DUMP_LINE(out, "  ]\n");
    DUMP_LINE(out, "  editable_ld_list: [\n");
    for (int i = 0; i < static_cast<int>(kMaxLogicalDrivesSupported); ++i) {
        if (c.editable_ld_list[i] != nullptr) {
            DumpLogicalDrive(out, i, *c.editable_ld_list[i]);
        }
    }
    DUMP_LINE(out, "  ]\n");
}

// Holds the debug lock for a scope; taken after the data area's lock, released before it.
class DebugLogLock {
public:
    DebugLogLock() { _PN_LockDebugLog(); }
    ~DebugLogLock() { _PN_UnlockDebugLog(); }
    DebugLogLock(const DebugLogLock&) = delete;
    DebugLogLock& operator=(const DebugLogLock&) = delete;
};

} // namespace

void VK_DebugLogEditableConfiguration(PCDA cda, VK_BYTE level) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    DebugLogLock debug;
    VK_UINT32 mask = 0;
    if (!_PN_DebugLogPredicate(level, 0, &mask)) {
        return;
    }
    const DumpWriter out{level, mask};
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        DUMP_LINE(out, "No editable configuration\n");
        return;
    }
    DumpConfiguration(out, *config);
}
