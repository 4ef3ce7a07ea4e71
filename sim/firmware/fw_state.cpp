// Firmware state: the default controller, feature page names and the scenario JSON form.
#include "qvsim/fw_state.h"

#include "common/json_fields.h"
#include "qvsim/bytes.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <set>
#include <stdexcept>
#include <type_traits>

namespace qvsim {
namespace {

using json = nlohmann::json;

struct PageName {
    const char* name;
    std::uint8_t page, subpage;
};

// The slots the library keeps, by the names it gives them.
constexpr PageName kPageNames[] = {
    {"cache", 0x01, 0x01},
    {"lu_cache", 0x01, 0x02},
    {"cache_ratio", 0x01, 0x03},
    {"raid", 0x02, 0x01},
    {"backup", 0x03, 0x01},
    {"background", 0x04, 0x01},
    {"background_erase", 0x04, 0x02},
    {"connectivity", 0x05, 0x01},
    {"drive", 0x06, 0x01},
    {"encryption", 0x07, 0x01},
    {"io", 0x08, 0x01},
    {"aio", 0x08, 0x02},
    {"power_management", 0x09, 0x01},
    {"software_raid", 0x0A, 0x01},
    {"b_sub_page_1", 0x0B, 0x01},
    {"miscellaneous", 0x0C, 0x01},
    {"nvme", 0x0D, 0x01},
    {"perform_device_mgmt", 0x0E, 0x02},
    {"oob_command", 0x0E, 0x03},
    {"id_controller", 0x0E, 0x04},
    {"set_controller_params", 0x0E, 0x05},
    {"online_firmware_activation", 0x0E, 0x06},
    {"backplane_discovery_protocol", 0x0E, 0x07},
    {"manufacturing_data", 0x0E, 0x08},
    {"subsystem_info", 0x0E, 0x0A},
    {"pldm_features_support", 0x10, 0x01},
    {"managed_sed", 0x11, 0x01},
};

using json_fields::check_keys;
using json_fields::fail;
using json_fields::parse_bytes;
using json_fields::parse_int;

template <class T> struct is_array_of_bytes : std::false_type {};
template <std::size_t N> struct is_array_of_bytes<std::array<std::uint8_t, N>> : std::true_type {};
template <class T> struct is_array_of_u32 : std::false_type {};
template <std::size_t N> struct is_array_of_u32<std::array<std::uint32_t, N>> : std::true_type {};
template <class T> struct is_vector : std::false_type {};
template <class T> struct is_vector<std::vector<T>> : std::true_type {};
template <class T> struct is_optional : std::false_type {};
template <class T> struct is_optional<std::optional<T>> : std::true_type {};

// Every struct of the state lists its fields once, for reading and writing alike.
template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwIdentify>
void fields(S& s, V& v) {
    v("firmware_version", s.firmware_version);
    v("short_firmware_rev", s.short_firmware_rev);
    v("rom_firmware_rev", s.rom_firmware_rev);
    v("pending_firmware_version", s.pending_firmware_version);
    v("compile_timestamp", s.compile_timestamp);
    v("vendor_id", s.vendor_id);
    v("product_id", s.product_id);
    v("family_id", s.family_id);
    v("hardware_revision", s.hardware_revision);
    v("hardware_minor_revision", s.hardware_minor_revision);
    v("build_number", s.build_number);
    v("pci_vendor", s.pci_vendor);
    v("pci_device", s.pci_device);
    v("pci_subsystem_vendor", s.pci_subsystem_vendor);
    v("pci_subsystem_device", s.pci_subsystem_device);
    v("pci_slot", s.pci_slot);
    v("extended_pci_slot", s.extended_pci_slot);
    v("pcie_generation", s.pcie_generation);
    v("pcie_width", s.pcie_width);
    v("max_link_rate", s.max_link_rate);
    v("max_link_width", s.max_link_width);
    v("memory_mib", s.memory_mib);
    v("max_logical_drives", s.max_logical_drives);
    v("logical_drive_count", s.logical_drive_count);
    v("max_physical_devices", s.max_physical_devices);
    v("max_drives_per_logical_drive", s.max_drives_per_logical_drive);
    v("enclosure_count", s.enclosure_count);
    v("present_devices", s.present_devices);
    v("non_disk_devices", s.non_disk_devices);
    v("present_map_offset", s.present_map_offset);
    v("non_disk_map_offset", s.non_disk_map_offset);
    v("raid6_support", s.raid6_support);
    v("features_supported", s.features_supported);
    v("more_controller_flags", s.more_controller_flags);
    v("yet_more_flags", s.yet_more_flags);
    v("even_more_flags", s.even_more_flags);
    v("extra_flags", s.extra_flags);
    v("fixed_length", s.fixed_length);
    v("total_length", s.total_length);
    v("encryption_status", s.encryption_status);
    v("managed_sed_mode", s.managed_sed_mode);
    v("controller_mode", s.controller_mode);
    v("active_rom_status", s.active_rom_status);
    v("post_status", s.post_status);
    v("last_lockup", s.last_lockup);
    v("extended_last_lockup", s.extended_last_lockup);
    v("reboot_reason", s.reboot_reason);
    v("spinup_count", s.spinup_count);
    v("spinup_delay", s.spinup_delay);
    v("max_safe_full_stripe_mb", s.max_safe_full_stripe_mb);
    v("max_raid01_stripe", s.max_raid01_stripe);
    v("max_raid45_stripe", s.max_raid45_stripe);
    v("max_raid6_stripe", s.max_raid6_stripe);
    v("min_raid01_strip", s.min_raid01_strip);
    v("min_parity_strip", s.min_parity_strip);
    v("swapped_cable_flags", s.swapped_cable_flags);
    v("current_comparison_stamp", s.current_comparison_stamp);
    v("pending_comparison_stamp", s.pending_comparison_stamp);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwParameters::Clock>
void fields(S& s, V& v) {
    v("century", s.century);
    v("year", s.year);
    v("month", s.month);
    v("day", s.day);
    v("hour", s.hour);
    v("minute", s.minute);
    v("second", s.second);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwParameters>
void fields(S& s, V& v) {
    v("configuration_flags", s.configuration_flags);
    v("queue_depth", s.queue_depth);
    v("elevator_state", s.elevator_state);
    v("rebuild_priority", s.rebuild_priority);
    v("expand_priority", s.expand_priority);
    v("software_name", s.software_name);
    v("hardware_name", s.hardware_name);
    v("nvram_flags", s.nvram_flags);
    v("drive_configuration_flags", s.drive_configuration_flags);
    v("primary_boot_lun", s.primary_boot_lun);
    v("secondary_boot_lun", s.secondary_boot_lun);
    v("total_length", s.total_length);
    v("more_nvram_flags", s.more_nvram_flags);
    v("elevator_latency", s.elevator_latency);
    v("connector_mode", s.connector_mode);
    v("os_bootable_drives", s.os_bootable_drives);
    v("wcbt", s.wcbt);
    v("clock", s.rtc);
    v("sanitize_policy", s.sanitize_policy);
    v("drive_write_cache_policy", s.drive_write_cache_policy);
    v("expander_min_scan", s.expander_min_scan);
    v("expander_scan_timeout", s.expander_scan_timeout);
    v("pcie_ordering", s.pcie_ordering);
    v("pcie_max_payload", s.pcie_max_payload);
    v("pcie_max_read_request", s.pcie_max_read_request);
    v("pcie_mrrs_override", s.pcie_mrrs_override);
    v("preboot_health_mode", s.preboot_health_mode);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwLuCacheAlgorithm>
void fields(S& s, V& v) {
    v("type", s.type);
    v("bytes_per_line", s.bytes_per_line);
    v("fixed_header", s.fixed_header);
    v("data_volumes_per_cache", s.data_volumes_per_cache);
    v("max_cache_size_bits", s.max_cache_size_bits);
    v("max_data_size_bits", s.max_data_size_bits);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwCache>
void fields(S& s, V& v) {
    v("disable_flag", s.disable_flag);
    v("support_flags", s.support_flags);
    v("disable_code", s.disable_code);
    v("read_cache_size", s.read_cache_size);
    v("write_cache_size", s.write_cache_size);
    v("total_memory", s.total_memory);
    v("memory_shift", s.memory_shift);
    v("disabled_map", s.disabled_map);
    v("battery_count", s.battery_count);
    v("installed_batteries", s.installed_batteries);
    v("failed_batteries", s.failed_batteries);
    v("configuration_flags", s.configuration_flags);
    v("total_length", s.total_length);
    v("fixed_length", s.fixed_length);
    v("cache_flags", s.cache_flags);
    v("extended_map_offset", s.extended_map_offset);
    v("max_logical_drives", s.max_logical_drives);
    v("overridden_read", s.overridden_read);
    v("overridden_write", s.overridden_write);
    v("hardware_status", s.hardware_status);
    v("board_present", s.board_present);
    v("backup_power_status", s.backup_power_status);
    v("total_backups", s.total_backups);
    v("backup_hardware_error", s.backup_hardware_error);
    v("green_backup_flags", s.green_backup_flags);
    v("non_battery_backed", s.non_battery_backed);
    v("last_backup_time", s.last_backup_time);
    v("last_restore_time", s.last_restore_time);
    v("green_version_major", s.green_version_major);
    v("green_version_minor", s.green_version_minor);
    v("battery_status", s.battery_status);
    v("backup_power_type", s.backup_power_type);
    v("lu_cache_used", s.lu_cache_used);
    v("lu_cache_available", s.lu_cache_available);
    v("lu_cache_algorithms", s.lu_cache_algorithms);
    v("disabled_logical_drives", s.disabled_logical_drives);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwConnector>
void fields(S& s, V& v) {
    v("external", s.external);
    v("phy_map", s.phy_map);
    v("short_name", s.short_name);
    v("long_name", s.long_name);
    v("sas_address", s.sas_address);
    v("number", s.number);
    v("mode", s.mode);
    v("mode_support", s.mode_support);
    v("phy_rate_limit", s.phy_rate_limit);
    v("flags", s.flags);
    v("active_phy_map", s.active_phy_map);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwSubsystem>
void fields(S& s, V& v) {
    v("serial_number", s.serial_number);
    v("wwn", s.wwn);
    v("board_serial_number", s.board_serial_number);
    v("platform_nvram_revision", s.platform_nvram_revision);
    v("driver_version", s.driver_version);
    v("total_length", s.total_length);
    v("connectors", s.connectors);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwExpansion>
void fields(S& s, V& v) {
    v("support_flags", s.support_flags);
    v("memory_kib", s.memory_kib);
    v("total_length", s.total_length);
    v("fixed_length", s.fixed_length);
    v("queued", s.queued);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwSurfaceDrive>
void fields(S& s, V& v) {
    v("analysis_status", s.analysis_status);
    v("init_percent", s.init_percent);
    v("pass_time", s.pass_time);
    v("completion_date", s.completion_date);
    v("completion_time", s.completion_time);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwSurface>
void fields(S& s, V& v) {
    v("delay", s.delay);
    v("current_volume", s.current_volume);
    v("init_percent", s.init_percent);
    v("max_parallel", s.max_parallel);
    v("current_parallel", s.current_parallel);
    v("total_length", s.total_length);
    v("fixed_length", s.fixed_length);
    v("max_logical_drives", s.max_logical_drives);
    v("drives", s.drives);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwPower>
void fields(S& s, V& v) {
    v("operational", s.operational);
    v("configured", s.configured);
    v("warnings", s.warnings);
    v("survival_thresholds", s.survival_thresholds);
    v("survival_mode", s.survival_mode);
    v("default_mode", s.default_mode);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwManufacturing>
void fields(S& s, V& v) {
    v("oem_id", s.oem_id);
    v("wwid", s.wwid);
    v("serial_number", s.serial_number);
    v("spare_part_number", s.spare_part_number);
    v("wellness_log", s.wellness_log);
    v("revision", s.revision);
    v("part_number", s.part_number);
    v("raw", s.raw);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwSensor>
void fields(S& s, V& v) {
    v("index", s.index);
    v("over_critical", s.over_critical);
    v("over_caution", s.over_caution);
    v("over_warning", s.over_warning);
    v("reading", s.reading);
    v("type", s.type);
    v("class_type", s.class_type);
    v("location", s.location);
    v("unit", s.unit);
    v("flags", s.flags);
    v("max_since_poweron", s.max_since_poweron);
    v("failed_count", s.failed_count);
    v("critical", s.critical);
    v("caution", s.caution);
    v("warning", s.warning);
    v("temperature", s.temperature);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwErase::Drive>
void fields(S& s, V& v) {
    v("number", s.number);
    v("state", s.state);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwErase>
void fields(S& s, V& v) {
    v("max_physical_devices", s.max_physical_devices);
    v("max_logical_drives", s.max_logical_drives);
    v("support_flags", s.support_flags);
    v("option_flags", s.option_flags);
    v("fixed_length", s.fixed_length);
    v("drives", s.drives);
    v("logical_drives", s.logical_drives);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwMirrorPairs::Pair>
void fields(S& s, V& v) {
    v("drive", s.drive);
    v("paired", s.paired);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwMirrorPairs>
void fields(S& s, V& v) {
    v("logical_drive", s.logical_drive);
    v("pairs", s.pairs);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwOfa>
void fields(S& s, V& v) {
    v("status", s.status);
    v("percent", s.percent);
    v("delay_set", s.delay_set);
    v("delay_remaining", s.delay_remaining);
    v("response_code", s.response_code);
    v("failure_reason", s.failure_reason);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwDiscoveryEntry>
void fields(S& s, V& v) {
    v("protocol", s.protocol);
    v("found_protocol", s.found_protocol);
    v("link_width", s.link_width);
    v("clock_routing", s.clock_routing);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwDiscovery>
void fields(S& s, V& v) {
    v("connector_count", s.connector_count);
    v("active", s.active);
    v("pending", s.pending);
    v("default", s.defaults);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwRole>
void fields(S& s, V& v) {
    v("value", s.value);
    v("type", s.type);
    v("capabilities", s.capabilities);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwIkekStatus>
void fields(S& s, V& v) {
    v("ikek", s.ikek);
    v("ikek_reset", s.ikek_reset);
    v("controller_key", s.controller_key);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwEncryption>
void fields(S& s, V& v) {
    v("kek_supported", s.kek_supported);
    v("kek_min_attempts", s.kek_min_attempts);
    v("kek_max_attempts", s.kek_max_attempts);
    v("kek_attempts", s.kek_attempts);
    v("kek_min_interval", s.kek_min_interval);
    v("kek_max_interval", s.kek_max_interval);
    v("kek_interval", s.kek_interval);
    v("kek_flags", s.kek_flags);
    v("roles", s.roles);
    v("recovery_question", s.recovery_question);
    v("server_name", s.server_name);
    v("boot_password_status", s.boot_password_status);
    v("ikek", s.ikek);
    v("ikek_reset", s.ikek_reset);
    v("controller_key", s.controller_key);
    v("boot_complete", s.boot_complete);
    v("boot_status", s.boot_status);
    v("attempts_remaining", s.attempts_remaining);
    v("lockout_seconds", s.lockout_seconds);
    v("retrieval_status", s.retrieval_status);
    v("connection_status", s.connection_status);
    v("features", s.features);
    v("master_key", s.master_key);
    v("key_name", s.key_name);
    v("recovery_answer", s.recovery_answer);
    v("boot_password", s.boot_password);
    v("foreign_key", s.foreign_key);
    v("ikek_polls", s.ikek_polls);
    v("ikek_poll", s.ikek_poll);
    v("controller_rekeys", s.controller_rekeys);
    v("rescans", s.rescans);
    v("factory_resets", s.factory_resets);
    v("unlocks", s.unlocks);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwManagedSed::ForeignKey>
void fields(S& s, V& v) {
    v("drive", s.drive);
    v("key_id", s.key_id);
    v("reset_key_id", s.reset_key_id);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwManagedSed>
void fields(S& s, V& v) {
    v("adapter_password_status", s.adapter_password_status);
    v("countdown_timer", s.countdown_timer);
    v("unlock_attempts_left", s.unlock_attempts_left);
    v("status", s.status);
    v("master_key_id", s.master_key_id);
    v("kms_action", s.kms_action);
    v("foreign_keys", s.foreign_keys);
    v("master_key", s.master_key);
    v("adapter_password", s.adapter_password);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwLogicalLun>
void fields(S& s, V& v) {
    v("number", s.number);
    v("remote", s.remote);
    v("unique_id", s.unique_id);
    v("address", s.address);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwPhysicalLun>
void fields(S& s, V& v) {
    v("number", s.number);
    v("device_type", s.device_type);
    v("flags", s.flags);
    v("sas_wwid", s.sas_wwid);
    v("address", s.address);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwFault>
void fields(S& s, V& v) {
    v("bmic", s.bmic);
    v("function", s.function);
    v("scsi", s.scsi);
    v("nth", s.nth);
    v("count", s.count);
    v("errno", s.err);
    v("sense", s.sense);
    v("data_length", s.data_length);
    v("device", s.device);
    v("lun", s.lun);
    v("write", s.write);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwPatch>
void fields(S& s, V& v) {
    v("opcode", s.opcode);
    v("function", s.function);
    v("offset", s.offset);
    v("bytes", s.bytes);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwDevicePatch>
void fields(S& s, V& v) {
    v("opcode", s.opcode);
    v("device", s.device);
    v("offset", s.offset);
    v("bytes", s.bytes);
}

#define QVSIM_FIELDS_OF(T)                                                                                   \
    template <class S, class V>                                                                              \
    requires std::is_same_v<std::remove_const_t<S>, T>                                                       \
    void fields(S& s, V& v)

QVSIM_FIELDS_OF(FwPhy) {
    v("max_rate", s.max_rate);
    v("physical_rate", s.physical_rate);
    v("logical_rate", s.logical_rate);
    v("connected_type", s.connected_type);
}

QVSIM_FIELDS_OF(FwPath) {
    v("port", s.port);
    v("box", s.box);
    v("connector_name", s.connector_name);
}

QVSIM_FIELDS_OF(FwDriveLun) {
    v("valid", s.valid);
    v("total_blocks", s.total_blocks);
    v("reserved_blocks", s.reserved_blocks);
    v("wwid", s.wwid);
    v("unique_id", s.unique_id);
}

QVSIM_FIELDS_OF(FwMnpStatistics) {
    v("reference_minutes", s.reference_minutes);
    v("sectors_read", s.sectors_read);
    v("hard_read_errors", s.hard_read_errors);
    v("retry_recovered_read_errors", s.retry_recovered_read_errors);
    v("ecc_recovered_read_errors", s.ecc_recovered_read_errors);
    v("sectors_written", s.sectors_written);
    v("hard_write_errors", s.hard_write_errors);
    v("retry_recovered_write_errors", s.retry_recovered_write_errors);
    v("seek_count", s.seek_count);
    v("seek_errors", s.seek_errors);
    v("drq_timeouts", s.drq_timeouts);
    v("other_time_outs", s.other_time_outs);
    v("spin_retries", s.spin_retries);
    v("failed_read_recovers", s.failed_read_recovers);
    v("failed_write_recovers", s.failed_write_recovers);
    v("format_errors", s.format_errors);
    v("not_ready_errors", s.not_ready_errors);
    v("bus_faults", s.bus_faults);
    v("hot_plug_count", s.hot_plug_count);
    v("media_failures", s.media_failures);
    v("hardware_errors", s.hardware_errors);
    v("aborted_commands", s.aborted_commands);
    v("bad_target_count", s.bad_target_count);
    v("predictive_failures", s.predictive_failures);
}

QVSIM_FIELDS_OF(FwDriveScsi::RawPage) {
    v("page", s.page);
    v("bytes", s.bytes);
}

QVSIM_FIELDS_OF(FwDriveScsi) {
    v("ready", s.ready);
    v("peripheral", s.peripheral);
    v("additional_length", s.additional_length);
    v("vendor", s.vendor);
    v("product", s.product);
    v("revision", s.revision);
    v("vpd_serial", s.vpd_serial);
    v("vpd_pages", s.vpd_pages);
    v("vpd_raw", s.vpd_raw);
    v("power_condition", s.power_condition);
    v("ata_identify", s.ata_identify);
    v("ata_abort", s.ata_abort);
}

QVSIM_FIELDS_OF(FwDrive) {
    v("number", s.number);
    v("device_type", s.device_type);
    v("present", s.present);
    v("non_disk", s.non_disk);
    v("device_flags", s.device_flags);
    v("more_device_flags", s.more_device_flags);
    v("yet_more_device_flags", s.yet_more_device_flags);
    v("even_more_device_flags", s.even_more_device_flags);
    v("extra_device_flags", s.extra_device_flags);
    v("misc_drive_flags", s.misc_drive_flags);
    v("feature_flags", s.feature_flags);
    v("psid", s.psid);
    v("sed_owner_key", s.sed_owner_key);
    v("stamped", s.stamped);
    v("last_failure_reason", s.last_failure_reason);
    v("qrb_support", s.qrb_support);
    v("unsupported_reason", s.unsupported_reason);
    v("sanitize_erase_support", s.sanitize_erase_support);
    v("sanitize_policy", s.sanitize_policy);
    v("oem_id", s.oem_id);
    v("power_on_hours", s.power_on_hours);
    v("endurance_used", s.endurance_used);
    v("carrier_authentication", s.carrier_authentication);
    v("carrier_version", s.carrier_version);
    v("total_blocks", s.total_blocks);
    v("reserved_blocks", s.reserved_blocks);
    v("block_size", s.block_size);
    v("blocks_per_physical_shift", s.blocks_per_physical_shift);
    v("lun_count", s.lun_count);
    v("luns", s.luns);
    v("vendor", s.vendor);
    v("model", s.model);
    v("firmware", s.firmware);
    v("min_firmware", s.min_firmware);
    v("serial", s.serial);
    v("short_model", s.short_model);
    v("wwid", s.wwid);
    v("unique_id", s.unique_id);
    v("temperature", s.temperature);
    v("temperature_threshold", s.temperature_threshold);
    v("temperature_max", s.temperature_max);
    v("live_temperature", s.live_temperature);
    v("live_temperature_max", s.live_temperature_max);
    v("rpm", s.rpm);
    v("pci_vendor", s.pci_vendor);
    v("pci_subsystem_vendor", s.pci_subsystem_vendor);
    v("port", s.port);
    v("box", s.box);
    v("bay", s.bay);
    v("box_index", s.box_index);
    v("phy_count", s.phy_count);
    v("phys", s.phys);
    v("controller_phys", s.controller_phys);
    v("connector_info", s.connector_info);
    v("connector_mode", s.connector_mode);
    v("paths", s.paths);
    v("path_present_map", s.path_present_map);
    v("path_failure_map", s.path_failure_map);
    v("active_path", s.active_path);
    v("active_path_map", s.active_path_map);
    v("connector_map", s.connector_map);
    v("long_box_connector_name", s.long_box_connector_name);
    v("reported", s.reported);
    v("oem_data", s.oem_data);
    v("mnp", s.mnp);
    v("scsi", s.scsi);
}

QVSIM_FIELDS_OF(FwBlock) {
    v("lba", s.lba);
    v("data", s.data);
}

QVSIM_FIELDS_OF(FwLogicalDrive::Rebuild) {
    v("device", s.device);
    v("percent", s.percent);
}

QVSIM_FIELDS_OF(FwLogicalDrive) {
    v("number", s.number);
    v("members", s.members);
    v("spares", s.spares);
    v("original_members", s.original_members);
    v("fault_tolerance", s.fault_tolerance);
    v("parity_groups", s.parity_groups);
    v("drives_for_fault_tolerance", s.drives_for_fault_tolerance);
    v("assigned_drives", s.assigned_drives);
    v("offset", s.offset);
    v("blocks_per_drive", s.blocks_per_drive);
    v("size_blocks", s.size_blocks);
    v("strip", s.strip);
    v("block_size", s.block_size);
    v("sectors_per_track", s.sectors_per_track);
    v("heads", s.heads);
    v("cylinders", s.cylinders);
    v("signature", s.signature);
    v("other_signature", s.other_signature);
    v("backup_timestamp", s.backup_timestamp);
    v("property", s.property);
    v("bios_disable_flag", s.bios_disable_flag);
    v("more_unit_flags", s.more_unit_flags);
    v("configuration_flags", s.configuration_flags);
    v("config_version", s.config_version);
    v("other_drive_number", s.other_drive_number);
    v("lu_cache_bits", s.lu_cache_bits);
    v("lu_cache_state", s.lu_cache_state);
    v("lu_cache_primaries", s.lu_cache_primaries);
    v("lu_cache_other", s.lu_cache_other);
    v("lu_cache_unpaired", s.lu_cache_unpaired);
    v("lu_cache_algorithm", s.lu_cache_algorithm);
    v("lu_cache_write_policy", s.lu_cache_write_policy);
    v("lu_write_policy_reason", s.lu_write_policy_reason);
    v("lu_cache_line_blocks", s.lu_cache_line_blocks);
    v("lu_cache_state_stats", s.lu_cache_state_stats);
    v("lu_cache_counters", s.lu_cache_counters);
    v("lu_cache_starting_dirty_lines", s.lu_cache_starting_dirty_lines);
    v("lu_cache_dirty_lines", s.lu_cache_dirty_lines);
    v("lu_cache_stats_valid_length", s.lu_cache_stats_valid_length);
    v("lu_cache_requested_write_policy", s.lu_cache_requested_write_policy);
    v("label", s.label);
    v("page83_id", s.page83_id);
    v("unit_status", s.unit_status);
    v("missing_drives", s.missing_drives);
    v("failed", s.failed);
    v("replacements", s.replacements);
    v("active_spares", s.active_spares);
    v("rebuild_percent", s.rebuild_percent);
    v("rebuilding_drive", s.rebuilding_drive);
    v("blocks_left", s.blocks_left);
    v("media_exchanged", s.media_exchanged);
    v("expand_failure", s.expand_failure);
    v("unit_flags", s.unit_flags);
    v("encryption_flags", s.encryption_flags);
    v("additional_encryption_flags", s.additional_encryption_flags);
    v("managed_sed_flags", s.managed_sed_flags);
    v("redundant_cabling_flags", s.redundant_cabling_flags);
    v("status_fixed_length", s.status_fixed_length);
    v("status_totals", s.status_totals);
    v("member_map_offset", s.member_map_offset);
    v("spare_map_offset", s.spare_map_offset);
    v("failure_map_offset", s.failure_map_offset);
    v("replacement_map_offset", s.replacement_map_offset);
    v("active_spare_map_offset", s.active_spare_map_offset);
    v("rebuild_offset", s.rebuild_offset);
    v("blocks", s.blocks);
}


QVSIM_FIELDS_OF(FwEnclosure::Sep) {
    v("device", s.device);
    v("type", s.type);
}

QVSIM_FIELDS_OF(FwEnclosure) {
    v("box", s.box);
    v("physical_box", s.physical_box);
    v("vendor", s.vendor);
    v("product", s.product);
    v("revision", s.revision);
    v("inquiry_valid", s.inquiry_valid);
    v("bay_count", s.bay_count);
    v("expander_count", s.expander_count);
    v("installed", s.installed);
    v("seps", s.seps);
    v("expanders", s.expanders);
    v("chassis_serial", s.chassis_serial);
    v("connection_flags", s.connection_flags);
    v("path_present_map", s.path_present_map);
    v("path_failure_map", s.path_failure_map);
    v("active_path", s.active_path);
    v("active_path_map", s.active_path_map);
    v("connector_map", s.connector_map);
    v("paths", s.paths);
    v("sep_count", s.sep_count);
    v("ubm_version_major", s.ubm_version_major);
    v("ubm_version_minor", s.ubm_version_minor);
    v("ubm_programming_capabilities", s.ubm_programming_capabilities);
    v("ubm_manager_device_code", s.ubm_manager_device_code);
    v("ubm_pci_vendor", s.ubm_pci_vendor);
    v("ubm_part_number", s.ubm_part_number);
    v("ubm_product", s.ubm_product);
    v("fixed_length", s.fixed_length);
    v("installed_map_offset", s.installed_map_offset);
}

QVSIM_FIELDS_OF(FwPhyErrors) {
    v("phy", s.phy);
    v("invalid_dword", s.invalid_dword);
    v("running_disparity", s.running_disparity);
    v("loss_of_sync", s.loss_of_sync);
    v("phy_reset_problem", s.phy_reset_problem);
    v("return_code", s.return_code);
    v("errno", s.err);
    v("sense", s.sense);
}

QVSIM_FIELDS_OF(FwInventoryShape) {
    v("drives", s.drives);
    v("connectors", s.connectors);
    v("enclosures", s.enclosures);
    v("logical_drives", s.logical_drives);
    v("arrays", s.arrays);
    v("spares", s.spares);
    v("fault_tolerance", s.fault_tolerance);
    v("drive_blocks", s.drive_blocks);
    v("blocks_per_drive", s.blocks_per_drive);
}

#undef QVSIM_FIELDS_OF

class Reader {
public:
    Reader(const json& j, std::string where) : j_(j), where_(std::move(where)) {
        if (!j.is_object())
            fail(where_, "expected an object");
    }
    ~Reader() = default;

    template <class T> void operator()(const char* name, T& v) {
        known_.insert(name);
        if (j_.contains(name))
            read(j_.at(name), v, where_ + "." + name);
    }

    // Call after the fields: unknown keys are errors, so a misspelt field is never ignored.
    void finish() const {
        for (const auto& [k, _] : j_.items())
            if (!known_.count(k))
                fail(where_, "unknown key \"" + k + "\"");
    }

    template <class T> static void read(const json& v, T& out, const std::string& where) {
        if constexpr (std::is_same_v<T, bool>) {
            if (!v.is_boolean())
                fail(where, "expected true or false");
            out = v.get<bool>();
        } else if constexpr (std::is_same_v<T, char>) {
            if (!v.is_string() || v.get<std::string>().size() != 1)
                fail(where, "expected one character");
            out = v.get<std::string>()[0];
        } else if constexpr (std::is_integral_v<T>) {
            out = parse_int<T>(v, where);
        } else if constexpr (std::is_same_v<T, std::string>) {
            if (!v.is_string())
                fail(where, "expected text");
            out = v.get<std::string>();
        } else if constexpr (std::is_same_v<T, Bytes>) {
            out = parse_bytes(v, where);
        } else if constexpr (is_array_of_bytes<T>::value) {
            const Bytes b = parse_bytes(v, where);
            if (b.size() > out.size())
                fail(where, "more than " + std::to_string(out.size()) + " bytes");
            out.fill(0);
            std::copy(b.begin(), b.end(), out.begin());
        } else if constexpr (is_array_of_u32<T>::value) {
            if (!v.is_array() || v.size() != out.size())
                fail(where, "expected " + std::to_string(out.size()) + " numbers");
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = parse_int<std::uint32_t>(v[i], where);
        } else if constexpr (is_optional<T>::value) {
            if (v.is_null()) {
                out.reset();
            } else {
                typename T::value_type inner{};
                read(v, inner, where);
                out = std::move(inner);
            }
        } else if constexpr (is_vector<T>::value) {
            if (!v.is_array())
                fail(where, "expected an array");
            out.clear();
            for (std::size_t i = 0; i < v.size(); ++i) {
                typename T::value_type e{};
                read(v[i], e, where + "[" + std::to_string(i) + "]");
                out.push_back(std::move(e));
            }
        } else {
            Reader r(v, where);
            fields(out, r);
            r.finish();
        }
    }

private:
    const json& j_;
    std::string where_;
    std::set<std::string> known_;
};

class Writer {
public:
    template <class T> void operator()(const char* name, const T& v) {
        if constexpr (is_optional<T>::value) {
            if (!v)
                return;
        }
        j[name] = write(v);
    }

    template <class T> static json write(const T& v) {
        if constexpr (std::is_same_v<T, char>) {
            return std::string(1, v);
        } else if constexpr (std::is_same_v<T, bool> || std::is_integral_v<T> ||
                             std::is_same_v<T, std::string>) {
            return v;
        } else if constexpr (std::is_same_v<T, Bytes> || is_array_of_bytes<T>::value) {
            return hex_bytes(v.data(), v.size(), "");
        } else if constexpr (is_array_of_u32<T>::value) {
            return json(std::vector<std::uint32_t>(v.begin(), v.end()));
        } else if constexpr (is_optional<T>::value) {
            return v ? write(*v) : json(nullptr);
        } else if constexpr (is_vector<T>::value) {
            json a = json::array();
            for (const auto& e : v)
                a.push_back(write(e));
            return a;
        } else {
            Writer w;
            fields(v, w);
            return w.j;
        }
    }

    json j = json::object();
};

std::string opcode_text(std::uint8_t op) {
    return hex_number(op, 2);
}

FwFeaturePage read_page(const json& v, const std::string& where) {
    check_keys(v, {"page", "subpage", "data", "length"}, where);
    if (!v.contains("page"))
        fail(where, "missing \"page\"");
    FwFeaturePage p;
    const json& page = v.at("page");
    if (page.is_string() && !page.get<std::string>().empty() &&
        !std::isdigit(static_cast<unsigned char>(page.get<std::string>()[0]))) {
        auto named = feature_page_by_name(page.get<std::string>());
        if (!named)
            fail(where, "unknown feature page \"" + page.get<std::string>() + "\"");
        p.page = named->first;
        p.subpage = named->second;
    } else {
        p.page = parse_int<std::uint8_t>(page, where + ".page");
        if (!v.contains("subpage"))
            fail(where, "missing \"subpage\"");
    }
    if (v.contains("subpage"))
        p.subpage = parse_int<std::uint8_t>(v.at("subpage"), where + ".subpage");
    if (v.contains("data"))
        p.data = parse_bytes(v.at("data"), where + ".data");
    if (v.contains("length"))
        p.length = parse_int<std::uint16_t>(v.at("length"), where + ".length");
    return p;
}

json write_page(const FwFeaturePage& p) {
    json j;
    if (const char* n = feature_page_name(p.page, p.subpage)) {
        j["page"] = n;
    } else {
        j["page"] = p.page;
        j["subpage"] = p.subpage;
    }
    j["data"] = hex_bytes(p.data, "");
    if (p.length)
        j["length"] = *p.length;
    return j;
}

std::map<std::uint8_t, std::vector<std::uint32_t>> read_totals(const json& v, const std::string& where) {
    if (!v.is_object())
        fail(where, "expected an object keyed by BMIC opcode");
    std::map<std::uint8_t, std::vector<std::uint32_t>> out;
    for (const auto& [k, list] : v.items()) {
        const auto op = parse_int<std::uint8_t>(json(k), where + " key");
        Reader::read(list, out[op], where + "." + k);
    }
    return out;
}

} // namespace

std::optional<std::pair<std::uint8_t, std::uint8_t>> feature_page_by_name(const std::string& name) {
    for (const auto& p : kPageNames)
        if (name == p.name)
            return std::pair{p.page, p.subpage};
    return std::nullopt;
}

const char* feature_page_name(std::uint8_t page, std::uint8_t subpage) {
    for (const auto& p : kPageNames)
        if (p.page == page && p.subpage == subpage)
            return p.name;
    return nullptr;
}

Bytes fixed_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Bytes b(18, 0);
    b[0] = 0x70;
    b[2] = key & 0x0F;
    b[7] = 10;
    b[12] = asc;
    b[13] = ascq;
    return b;
}

FirmwareState::FirmwareState() {
    // Two internal connectors and one external, four PHYs each.
    for (std::uint8_t n = 0; n < 3; ++n) {
        FwConnector c;
        c.external = n == 2;
        c.number = n;
        c.phy_map = std::uint64_t{0x0F} << (4 * n);
        c.active_phy_map = c.phy_map;
        c.short_name = n == 2 ? "1E" : std::string(1, char('1' + n)) + "I";
        c.long_name = "Port " + c.short_name;
        c.sas_address = {0x51, 0xD7, 0xB0, 0x00, 0x00, 0xA1, 0xB2, std::uint8_t(0xC4 + n)};
        subsystem.connectors.push_back(c);
        discovery.active.push_back({0, 1, 0, 0});
        discovery.pending.push_back({0, 1, 0, 0});
        discovery.defaults.push_back({0, 0, 0, 0});
    }
    // A few link errors on every PHY, each counter and each PHY its own count, so a swap shows.
    for (std::uint8_t phy = 0; phy < 12; ++phy) {
        FwPhyErrors e;
        e.phy = phy;
        e.invalid_dword = 4u * phy + 1;
        e.loss_of_sync = 4u * phy + 2;
        e.phy_reset_problem = 4u * phy + 3;
        e.running_disparity = 4u * phy + 4;
        phy_errors.push_back(e);
    }
    // Inlet, chip, cache module and a board sensor that is not a temperature.
    const struct {
        std::uint8_t location;
        std::uint32_t reading, max;
        bool temperature;
    } kSensors[] = {{0, 28, 34, true}, {1, 61, 70, true}, {6, 44, 51, true}, {2, 12, 13, false}};
    std::uint8_t index = 0;
    for (const auto& k : kSensors) {
        FwSensor x;
        x.index = index++;
        x.location = k.location;
        x.reading = k.reading;
        x.max_since_poweron = k.max;
        x.temperature = k.temperature;
        if (!k.temperature) {
            x.type = 2;
            x.unit = "V";
        }
        sensors.push_back(x);
    }
    // What a current controller offers; the flag bits are the ones the library tests.
    set_page("cache", {0x14});
    set_page("raid", {0x02, 0x0C, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
    set_page("backup", {0x03});
    set_page("background", {0x67, 0x00, 0x00, 0x02});
    set_page("background_erase", {0x07, 0x07, 0x01});
    set_page("connectivity", {0x08, 0x13, 0x0B, 0x0C});
    set_page("drive", {0x08, 0x48, 0x03});
    set_page("io", {0x03});
    set_page("power_management", {0x07, 0x01, 0x0F});
    set_page("miscellaneous", {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00});
    set_page("perform_device_mgmt", {0x9E, 0x01, 0x00, 0x00, 0x00});
    set_page("oob_command", {0x80, 0x13, 0x01, 0x00, 0x00});
    set_page("id_controller", {0x06, 0x00, 0x00, 0x00});
    set_page("set_controller_params", {0x1F, 0x00, 0x00, 0x00});
    set_page("online_firmware_activation", {0xD4, 0x07, 0x01, 0x00});
    Bytes bp(16, 0);
    bp[0] = bp[1] = 0xC7;
    bp.insert(bp.end(), {0x0F, 0x00, 0x07});
    set_page("backplane_discovery_protocol", bp);
    set_page("manufacturing_data", {0x00});
    set_page("subsystem_info", {0x01});
}

FirmwareState& FirmwareState::set_page(std::uint8_t page, std::uint8_t subpage, Bytes data) {
    for (auto& p : feature_pages) {
        if (p.page == page && p.subpage == subpage) {
            p.data = std::move(data);
            p.length.reset();
            return *this;
        }
    }
    feature_pages.push_back({page, subpage, std::move(data), std::nullopt});
    return *this;
}

FirmwareState& FirmwareState::set_page(const std::string& name, Bytes data) {
    auto p = feature_page_by_name(name);
    if (!p)
        throw std::invalid_argument("unknown feature page " + name);
    return set_page(p->first, p->second, std::move(data));
}

FirmwareState& FirmwareState::remove_page(std::uint8_t page, std::uint8_t subpage) {
    std::erase_if(feature_pages,
                  [&](const FwFeaturePage& p) { return p.page == page && p.subpage == subpage; });
    return *this;
}

const FwFeaturePage* FirmwareState::find_page(std::uint8_t page, std::uint8_t subpage) const {
    for (const auto& p : feature_pages)
        if (p.page == page && p.subpage == subpage)
            return &p;
    return nullptr;
}

FwLogicalLun& FirmwareState::add_logical_drive(std::uint16_t number, bool remote) {
    FwLogicalLun l;
    l.number = number;
    l.remote = remote;
    const char tag[8] = {'Q', 'V', remote ? 'R' : 'L', 'D', 0, 0, 0, 0};
    std::copy(tag, tag + 8, l.unique_id.begin());
    l.unique_id[14] = std::uint8_t(number >> 8);
    l.unique_id[15] = std::uint8_t(number);
    logical_luns.push_back(l);
    return logical_luns.back();
}

FwPhysicalLun& FirmwareState::add_physical_device(std::uint16_t number, std::uint8_t device_type) {
    FwPhysicalLun p;
    p.number = number;
    p.device_type = device_type;
    p.sas_wwid = {0x50, 0x00, 0xC5, 0x00, 0x00, 0x00, std::uint8_t(number >> 8), std::uint8_t(number)};
    physical_luns.push_back(p);
    return physical_luns.back();
}

FirmwareState FirmwareState::from_json(const json& j, const std::string& where) {
    static const std::set<std::string> kKeys = {"identify",
                                                "parameters",
                                                "cache",
                                                "subsystem",
                                                "mnp_delay",
                                                "expansion",
                                                "surface",
                                                "power",
                                                "manufacturing",
                                                "ofa",
                                                "i2c_slave_address",
                                                "i2c_configuration",
                                                "oob_active",
                                                "oob_pending",
                                                "discovery",
                                                "encryption",
                                                "managed_sed",
                                                "feature_pages",
                                                "logical_luns",
                                                "generated_remote_volumes",
                                                "physical_luns",
                                                "reported_totals",
                                                "logical_list_lengths",
                                                "physical_list_lengths",
                                                "patches",
                                                "device_patches",
                                                "faults",
                                                "sensors",
                                                "erase",
                                                "mirror_max_physical_devices",
                                                "mirror_pairs",
                                                "generate",
                                                "drives",
                                                "logical_drives",
                                                "enclosures",
                                                "phy_errors",
                                                "updates"};
    if (!j.is_object())
        fail(where, "expected an object");
    for (const auto& [k, _] : j.items())
        if (!kKeys.count(k))
            fail(where, "unknown key \"" + k + "\"");
    FirmwareState s;
    auto take = [&](const char* key, auto& member) {
        if (j.contains(key))
            Reader::read(j.at(key), member, where + "." + key);
    };
    take("identify", s.identify);
    take("parameters", s.parameters);
    take("cache", s.cache);
    take("subsystem", s.subsystem);
    take("mnp_delay", s.mnp_delay);
    take("expansion", s.expansion);
    take("surface", s.surface);
    take("power", s.power);
    take("manufacturing", s.manufacturing);
    take("ofa", s.ofa);
    take("sensors", s.sensors);
    take("erase", s.erase);
    take("mirror_max_physical_devices", s.mirror_max_physical_devices);
    take("mirror_pairs", s.mirror_pairs);
    take("i2c_slave_address", s.i2c_slave_address);
    take("i2c_configuration", s.i2c_configuration);
    take("oob_active", s.oob_active);
    take("oob_pending", s.oob_pending);
    take("discovery", s.discovery);
    take("encryption", s.encryption);
    take("managed_sed", s.managed_sed);
    take("updates", s.updates);
    if (j.contains("feature_pages")) {
        const json& pages = j.at("feature_pages");
        if (!pages.is_array())
            fail(where + ".feature_pages", "expected an array");
        s.feature_pages.clear();
        for (std::size_t i = 0; i < pages.size(); ++i)
            s.feature_pages.push_back(
                read_page(pages[i], where + ".feature_pages[" + std::to_string(i) + "]"));
    }
    take("logical_luns", s.logical_luns);
    take("generated_remote_volumes", s.generated_remote_volumes);
    take("physical_luns", s.physical_luns);
    if (j.contains("reported_totals"))
        s.reported_totals = read_totals(j.at("reported_totals"), where + ".reported_totals");
    take("logical_list_lengths", s.logical_list_lengths);
    take("physical_list_lengths", s.physical_list_lengths);
    take("patches", s.patches);
    take("device_patches", s.device_patches);
    take("faults", s.faults);
    take("phy_errors", s.phy_errors);
    // A generated inventory first; listed entries then replace or add devices of the same number.
    if (j.contains("generate")) {
        FwInventoryShape shape;
        take("generate", shape);
        try {
            s.generate(shape);
        } catch (const std::invalid_argument& e) {
            fail(where + ".generate", e.what());
        }
    }
    auto merge = [&](const char* key, auto& list, auto same) {
        if (!j.contains(key))
            return;
        std::remove_reference_t<decltype(list)> listed;
        Reader::read(j.at(key), listed, where + "." + key);
        for (auto& e : listed) {
            std::erase_if(list, [&](const auto& x) { return same(x, e); });
            list.push_back(std::move(e));
        }
    };
    merge("drives", s.drives, [](const FwDrive& a, const FwDrive& b) { return a.number == b.number; });
    merge("logical_drives", s.logical_drives,
          [](const FwLogicalDrive& a, const FwLogicalDrive& b) { return a.number == b.number; });
    merge("enclosures", s.enclosures,
          [](const FwEnclosure& a, const FwEnclosure& b) { return a.box == b.box; });
    for (std::size_t i = 0; i < s.faults.size(); ++i) {
        const auto& f = s.faults[i];
        if (bool(f.bmic) == bool(f.scsi))
            fail(where + ".faults[" + std::to_string(i) + "]", "name exactly one of \"bmic\" and \"scsi\"");
        if (f.err < 0)
            fail(where + ".faults[" + std::to_string(i) + "]", "negative errno");
    }
    return s;
}

json FirmwareState::to_json() const {
    json j;
    j["identify"] = Writer::write(identify);
    j["parameters"] = Writer::write(parameters);
    j["cache"] = Writer::write(cache);
    j["subsystem"] = Writer::write(subsystem);
    j["mnp_delay"] = mnp_delay;
    j["expansion"] = Writer::write(expansion);
    j["surface"] = Writer::write(surface);
    j["power"] = Writer::write(power);
    j["manufacturing"] = Writer::write(manufacturing);
    j["ofa"] = Writer::write(ofa);
    j["sensors"] = Writer::write(sensors);
    j["erase"] = Writer::write(erase);
    j["mirror_max_physical_devices"] = mirror_max_physical_devices;
    j["mirror_pairs"] = Writer::write(mirror_pairs);
    j["i2c_slave_address"] = i2c_slave_address;
    j["i2c_configuration"] = i2c_configuration;
    j["oob_active"] = Writer::write(oob_active);
    j["oob_pending"] = Writer::write(oob_pending);
    j["discovery"] = Writer::write(discovery);
    j["encryption"] = Writer::write(encryption);
    j["managed_sed"] = Writer::write(managed_sed);
    json pages = json::array();
    for (const auto& p : feature_pages)
        pages.push_back(write_page(p));
    j["feature_pages"] = pages;
    j["logical_luns"] = Writer::write(logical_luns);
    j["generated_remote_volumes"] = generated_remote_volumes;
    j["physical_luns"] = Writer::write(physical_luns);
    json totals = json::object();
    for (const auto& [op, list] : reported_totals)
        totals[opcode_text(op)] = list;
    j["reported_totals"] = totals;
    j["logical_list_lengths"] = logical_list_lengths;
    j["physical_list_lengths"] = physical_list_lengths;
    j["patches"] = Writer::write(patches);
    j["device_patches"] = Writer::write(device_patches);
    j["faults"] = Writer::write(faults);
    j["drives"] = Writer::write(drives);
    j["logical_drives"] = Writer::write(logical_drives);
    j["enclosures"] = Writer::write(enclosures);
    j["phy_errors"] = Writer::write(phy_errors);
    j["updates"] = Writer::write(updates);
    return j;
}

} // namespace qvsim
