// Controller replies built from the firmware state, byte for byte.
#include <algorithm>
#include <cstring>
#include <functional>

#include "qvsim/bytes.h"
#include "firmware/reply_out.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

using fw_detail::Out;

void put_map(Out& o, std::uint16_t offset, const std::vector<std::uint16_t>& devices) {
    if (offset == 0)
        return;
    for (auto d : devices)
        o.set_bit(std::size_t(offset) + d / 8, d % 8);
}

} // namespace

Bytes fw_identify_controller(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& i = s.identify;
    Out o(1024);
    o.text(5, 4, i.short_firmware_rev, ' ').text(9, 4, i.rom_firmware_rev, ' ');
    o.u8(40, std::uint8_t(i.hardware_revision));
    o.u8(117, i.raid6_support).bytes(118, i.features_supported);
    o.u8(133, i.active_rom_status).u8(134, i.post_status);
    o.u16(143, i.memory_mib).u8(145, i.more_controller_flags);
    // Counts not set explicitly are those of the inventory.
    std::uint8_t enclosures = 0;
    for (const auto& e : s.enclosures)
        if (e.inquiry_valid || e.bay_count || e.expander_count)
            ++enclosures;
    o.u16(152, i.max_logical_drives)
        .u16(154, i.logical_drive_count.value_or(std::uint16_t(s.logical_drives.size())));
    o.u16(156, i.max_physical_devices).u16(158, i.max_drives_per_logical_drive);
    o.u8(160, i.enclosure_count.value_or(enclosures));
    o.u16(162, i.present_map_offset).u16(166, i.non_disk_map_offset);
    o.u32(184, i.yet_more_flags).u8(188, i.last_lockup).u8(189, i.pci_slot).u16(190, i.build_number);
    o.u32(192, i.max_safe_full_stripe_mb).u32(196, total.value_or(i.total_length));
    o.text(200, 8, i.vendor_id, ' ').text(208, 16, i.product_id, ' ');
    o.u32(224, i.extended_last_lockup);
    o.u16(228, i.max_raid01_stripe).u16(230, i.max_raid45_stripe).u16(232, i.max_raid6_stripe);
    o.u16(234, i.swapped_cable_flags).u32(240, i.fixed_length);
    o.text(244, 24, i.compile_timestamp);
    o.u32(268, i.even_more_flags).u32(282, i.encryption_status).u32(286, i.extra_flags);
    o.u8(290, i.pcie_generation).u8(291, i.pcie_width).u8(292, i.controller_mode);
    o.text(325, 32, i.firmware_version);
    o.u32(357, i.spinup_count).u32(361, i.spinup_delay);
    o.u16(365, i.pci_device)
        .u16(367, i.pci_vendor)
        .u16(369, i.pci_subsystem_device)
        .u16(371, i.pci_subsystem_vendor);
    o.u32(373, i.max_link_rate).u32(377, i.max_link_width);
    o.u16(385, i.min_raid01_strip).u16(387, i.min_parity_strip);
    o.text(389, 32, i.family_id, ' ');
    o.u16(453, i.extended_pci_slot).text(455, 32, i.pending_firmware_version);
    o.u32(487, i.pending_comparison_stamp).u32(491, i.current_comparison_stamp);
    o.u32(527, i.reboot_reason).u32(540, i.managed_sed_mode).u8(556, i.hardware_minor_revision);
    put_map(o, i.present_map_offset, fw_present_devices(s));
    put_map(o, i.non_disk_map_offset, fw_non_disk_devices(s));
    return o.take();
}

Bytes fw_controller_parameters(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& p = s.parameters;
    Out o(344);
    o.u8(5, p.configuration_flags).u16(6, p.queue_depth).u8(10, p.elevator_state);
    o.u8(14, p.rebuild_priority).u8(15, p.expand_priority);
    o.text(18, 64, p.software_name).text(82, 32, p.hardware_name);
    o.u8(123, p.nvram_flags).u8(125, p.drive_configuration_flags);
    o.bytes(156, p.primary_boot_lun).bytes(172, p.secondary_boot_lun);
    o.u32(188, total.value_or(p.total_length)).u32(200, p.more_nvram_flags).u16(204, p.elevator_latency);
    o.bytes(207, p.connector_mode).u8(223, p.os_bootable_drives).u32(224, p.wcbt);
    o.u32(228, p.rtc.century).u32(232, p.rtc.year).u32(236, p.rtc.month).u32(240, p.rtc.day);
    o.u32(244, p.rtc.hour).u32(248, p.rtc.minute).u32(252, p.rtc.second);
    o.u8(279, p.sanitize_policy).bytes(280, p.drive_write_cache_policy);
    o.u16(286, p.expander_min_scan).u16(288, p.expander_scan_timeout).bytes(290, p.pcie_ordering);
    o.u8(292, p.pcie_max_payload).u8(293, p.pcie_max_read_request).u8(294, p.pcie_mrrs_override);
    o.u8(295, p.preboot_health_mode);
    return o.take();
}

Bytes fw_cache_config_status(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& c = s.cache;
    Out o(512);
    o.u8(0, c.disable_flag).u8(1, c.support_flags).u16(2, c.disable_code);
    o.u16(4, c.read_cache_size).u16(6, c.write_cache_size).u32(8, c.disabled_map).u16(12, c.battery_count);
    o.u8(15, c.configuration_flags).u32(16, total.value_or(c.total_length)).u32(20, c.fixed_length);
    o.u32(24, c.cache_flags).u16(28, c.installed_batteries).u16(30, c.failed_batteries);
    o.u16(32, c.extended_map_offset).u16(34, c.max_logical_drives).u16(38, c.total_memory);
    o.u16(40, c.overridden_read).u16(42, c.overridden_write).bytes(44, c.hardware_status);
    o.u8(210, c.board_present).u8(211, c.backup_power_status).u16(212, c.total_backups);
    o.u16(214, c.backup_hardware_error).u8(216, c.green_backup_flags).u8(217, c.memory_shift);
    o.u16(218, c.non_battery_backed).u32(220, c.last_backup_time);
    o.u8(224, c.green_version_major).u8(225, c.green_version_minor).u16(227, c.battery_status);
    o.u8(256, c.backup_power_type).u32(260, c.last_restore_time);
    if (c.extended_map_offset)
        for (auto ld : c.disabled_logical_drives)
            if (ld < c.max_logical_drives)
                o.set_bit(c.extended_map_offset + ld / 8u, ld % 8u);
    return o.take();
}

Bytes fw_lu_cache_ram_info(const FirmwareState& s) {
    Out o(39);
    o.u32(0, s.cache.lu_cache_used).u32(4, s.cache.lu_cache_available);
    const auto& algorithms = s.cache.lu_cache_algorithms;
    for (std::size_t k = 0; k < algorithms.size() && k < 4; ++k) {
        const auto& a = algorithms[k];
        const std::size_t at = 8 + 7 * k;
        o.u8(at, a.type).u8(at + 1, a.bytes_per_line).u16(at + 2, a.fixed_header);
        o.u8(at + 4, a.data_volumes_per_cache)
            .u8(at + 5, a.max_cache_size_bits)
            .u8(at + 6, a.max_data_size_bits);
    }
    return o.take();
}

Bytes fw_subsystem_parameters(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& p = s.subsystem;
    Out o(1744);
    o.bytes(36, p.wwn).text(44, 32, p.serial_number).text(180, 32, p.board_serial_number);
    o.u8(209, p.platform_nvram_revision);
    unsigned internal = 0, external = 0;
    for (const auto& c : p.connectors) {
        unsigned& n = c.external ? external : internal;
        if (n < 8) {
            const std::size_t port = (c.external ? 592 : 496) + 12 * n;
            o.u64(port, c.phy_map).text(port + 8, 2, c.short_name, ' ');
            const std::size_t add = (c.external ? 964 : 708) + 32 * n;
            o.bytes(add, c.sas_address)
                .u8(add + 8, c.number)
                .u8(add + 9, c.mode)
                .u8(add + 10, c.mode_support);
            o.u8(add + 11, c.phy_rate_limit).u8(add + 12, c.flags).u64(add + 13, c.active_phy_map);
            o.text((c.external ? 1648 : 1584) + 8 * n, 8, c.long_name);
        }
        ++n; // the counts say what the controller has, even beyond the eight described
    }
    o.u8(492, std::uint8_t(std::min(internal, 255u))).u8(493, std::uint8_t(std::min(external, 255u)));
    o.u32(704, total.value_or(p.total_length)).text(1712, 32, p.driver_version);
    return o.take();
}

Bytes fw_mnp_status(const FirmwareState& s) {
    Out o(16);
    o.u16(0, s.mnp_delay);
    return o.take();
}

Bytes fw_expansion_ability(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& e = s.expansion;
    Out o(118);
    o.u32(0, e.support_flags).u32(4, e.memory_kib).u32(44, total.value_or(e.total_length));
    o.u32(48, e.fixed_length).u8(53, e.queued);
    return o.take();
}

Bytes fw_surface_status(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& f = s.surface;
    const std::uint32_t reported = total.value_or(f.total_length);
    // The reply is as long as it says, and never shorter than its fixed part and tables.
    const std::size_t n = f.drives.size();
    const std::size_t tables_end = 1452 + n * (2 + 1 + 4 + 4 + 4);
    Out o(std::max<std::size_t>({reported, n ? tables_end : 1452}));
    o.u16(0, f.delay).u16(2, f.current_volume).u8(4, f.init_percent);
    o.u8(5, f.max_parallel).u8(6, f.current_parallel);
    o.u32(1422, reported).u32(1426, f.fixed_length).u16(1430, f.max_logical_drives);
    if (n) {
        std::size_t at = 1452;
        const std::size_t status = at, init = status + 2 * n, pass = init + n, date = pass + 4 * n,
                          time = date + 4 * n;
        o.u32(1432, std::uint32_t(status)).u32(1436, std::uint32_t(init)).u32(1440, std::uint32_t(pass));
        o.u32(1444, std::uint32_t(date)).u32(1448, std::uint32_t(time));
        for (std::size_t k = 0; k < n; ++k) {
            const auto& d = f.drives[k];
            o.u16(status + 2 * k, d.analysis_status).u8(init + k, d.init_percent);
            o.u32(pass + 4 * k, d.pass_time)
                .u32(date + 4 * k, d.completion_date)
                .u32(time + 4 * k, d.completion_time);
        }
    }
    return o.take();
}

Bytes fw_power_mode(const FirmwareState& s) {
    const auto& p = s.power;
    Out o(17);
    o.u32(0, p.operational).u32(4, p.configured).u32(8, p.warnings).u32(12, p.survival_thresholds);
    o.u8(16, p.survival_mode);
    return o.take();
}

Bytes fw_default_power_mode(const FirmwareState& s) {
    return Bytes{s.power.default_mode};
}

Bytes fw_manufacturing_data(const FirmwareState& s) {
    const auto& m = s.manufacturing;
    Out o(256);
    if (!m.raw.empty()) {
        o.bytes(0, m.raw, 256);
        return o.take();
    }
    o.bytes(0, m.wwid).text(8, 15, m.serial_number).text(23, 15, m.spare_part_number);
    o.bytes(38, m.wellness_log).u8(50, m.revision).text(51, 15, m.part_number);
    return o.take();
}

Bytes fw_sensors(const FirmwareState& s, std::uint8_t subcommand, std::optional<std::uint32_t> count) {
    std::vector<const FwSensor*> list;
    for (const auto& x : s.sensors)
        if (subcommand != 1 || x.temperature)
            list.push_back(&x);
    const std::uint32_t reported = count.value_or(std::uint32_t(list.size()));
    const std::size_t records =
        std::max<std::size_t>(list.size(), std::min<std::uint32_t>(reported, 0x10000));
    Out o(12 + 47 * records);
    o.u32(0, reported).u32(4, 1).u32(8, 47);
    for (std::size_t k = 0; k < records; ++k) {
        const std::size_t at = 12 + 47 * k;
        if (k >= list.size()) {
            o.u8(at, 0xFF);
            continue;
        }
        const FwSensor& x = *list[k];
        o.u8(at, x.index).u8(at + 1, x.over_critical).u8(at + 2, x.over_caution).u8(at + 3, x.over_warning);
        o.u32(at + 4, x.reading).u8(at + 8, x.type).u8(at + 9, x.class_type).u8(at + 10, x.location);
        o.text(at + 11, 2, x.unit).u16(at + 13, x.flags).u32(at + 15, x.max_since_poweron);
        o.u32(at + 19, x.failed_count)
            .u32(at + 23, x.critical)
            .u32(at + 27, x.caution)
            .u32(at + 31, x.warning);
    }
    return o.take();
}

Bytes fw_erase_status(const FirmwareState& s, std::optional<std::uint32_t> total) {
    const auto& e = s.erase;
    const std::size_t pd_at = 664, ld_at = pd_at + 2 * std::size_t(e.max_physical_devices);
    const std::size_t natural = ld_at + 2 * e.logical_drives.size();
    const std::uint32_t reported = total.value_or(std::uint32_t(natural));
    Out o(std::max<std::size_t>(natural, reported));
    o.u32(0, std::uint32_t(pd_at)).u32(4, e.logical_drives.empty() ? 0 : std::uint32_t(ld_at));
    o.u16(8, e.max_physical_devices).u16(10, e.max_logical_drives).u32(12, reported).u32(16, e.fixed_length);
    o.u8(20, e.support_flags).u8(21, e.option_flags);
    for (const auto& d : e.drives)
        if (d.number < e.max_physical_devices)
            o.u16(pd_at + 2 * std::size_t(d.number), d.state);
    for (std::size_t k = 0; k < e.logical_drives.size(); ++k)
        o.u16(ld_at + 2 * k, e.logical_drives[k]);
    return o.take();
}

std::optional<Bytes> fw_mirror_pair_info(const FirmwareState& s, std::uint16_t logical_drive,
                                         std::optional<std::uint32_t> total) {
    const FwMirrorPairs* m = nullptr;
    for (const auto& x : s.mirror_pairs)
        if (x.logical_drive == logical_drive)
            m = &x;
    if (!m)
        return std::nullopt;
    const std::size_t max_pd = s.mirror_max_physical_devices;
    const bool extended = max_pd > 256;
    const std::size_t natural = extended ? 524 + 2 * max_pd : 524;
    const std::uint32_t reported = total.value_or(std::uint32_t(natural));
    Out o(std::max<std::size_t>(natural, reported));
    for (std::size_t d = 0; d < 256; ++d)
        o.u16(2 * d, 0xFFFF);
    for (std::size_t d = 0; extended && d < max_pd; ++d)
        o.u16(524 + 2 * d, 0xFFFF);
    o.u16(512, extended ? 524 : 0).u16(514, std::uint16_t(max_pd)).u32(516, reported).u32(520, 524);
    for (const auto& p : m->pairs) {
        if (p.drive < 256)
            o.u16(2 * std::size_t(p.drive), p.paired);
        if (extended && p.drive < max_pd)
            o.u16(524 + 2 * std::size_t(p.drive), p.paired);
    }
    return o.take();
}

Bytes fw_ofa_status(const FirmwareState& s) {
    Out o(16);
    o.u8(0, s.ofa.status).u8(1, s.ofa.percent).u16(2, s.ofa.delay_set).u16(4, s.ofa.delay_remaining);
    return o.take();
}

Bytes fw_ofa_response(const FirmwareState& s) {
    Out o(16);
    o.u8(0, s.ofa.response_code).bytes(1, s.ofa.failure_reason);
    return o.take();
}

Bytes fw_i2c_info(const FirmwareState& s) {
    return Bytes{s.i2c_slave_address, s.i2c_configuration, 0, 0};
}

Bytes fw_oob_interface(const FirmwareState& s) {
    Out o(8);
    o.bytes(0, s.oob_active).bytes(4, s.oob_pending);
    return o.take();
}

Bytes fw_discovery_configuration(const FirmwareState& s, std::uint8_t function) {
    const auto& d = s.discovery;
    const auto& entries = function == 0 ? d.active : function == 1 ? d.pending : d.defaults;
    Out o(98);
    o.u8(0,
         d.connector_count.value_or(std::uint8_t(std::min<std::size_t>(s.subsystem.connectors.size(), 16))));
    o.u8(1, 6);
    for (std::size_t k = 0; k < entries.size() && k < 16; ++k) {
        const auto& e = entries[k];
        o.u8(2 + 6 * k, e.protocol).u8(3 + 6 * k, e.found_protocol).u8(4 + 6 * k, e.link_width);
        o.u8(5 + 6 * k, e.clock_routing);
    }
    return o.take();
}

std::optional<Bytes> fw_encryption_read(const FirmwareState& s, std::uint8_t function) {
    const auto& e = s.encryption;
    switch (function) {
        case 1: {
            Out o(20);
            o.u32(0, e.kek_supported).u16(4, e.kek_min_attempts).u16(6, e.kek_max_attempts);
            o.u16(8, e.kek_attempts).u16(10, e.kek_min_interval).u16(12, e.kek_max_interval);
            o.u16(14, e.kek_interval).u32(16, e.kek_flags);
            return o.take();
        }
        case 2: {
            Out o(204);
            o.u32(0, std::uint32_t(e.roles.size()));
            for (std::size_t k = 0; k < e.roles.size() && k < 10; ++k) {
                const std::size_t at = 4 + 20 * k;
                o.u8(at, e.roles[k].value)
                    .text(at + 1, 15, e.roles[k].type)
                    .u32(at + 16, e.roles[k].capabilities);
            }
            return o.take();
        }
        case 3: {
            Out o(256);
            o.bytes(0, e.recovery_question, 256);
            return o.take();
        }
        case 5: {
            Out o(64);
            o.text(0, 64, e.server_name);
            return o.take();
        }
        case 6: {
            Out o(4);
            o.u16(0, e.boot_password_status);
            return o.take();
        }
        case 7:
            return Bytes{e.ikek, e.ikek_reset, e.controller_key, 0};
        case 8: {
            Out o(8);
            o.u32(0, e.boot_complete).u32(4, e.boot_status);
            return o.take();
        }
        case 9: {
            Out o(20);
            o.u32(0, 2);
            for (std::size_t k = 0; k < 2; ++k)
                o.u32(4 + 8 * k, e.attempts_remaining[k]).u32(8 + 8 * k, e.lockout_seconds[k]);
            return o.take();
        }
        case 10:
            return Bytes{e.retrieval_status, e.connection_status, 0, 0};
        case 13: {
            Out o(512);
            o.u8(0, std::uint8_t(std::min<std::size_t>(e.features.size(), 255))).bytes(1, e.features, 511);
            return o.take();
        }
        default:
            return std::nullopt;
    }
}

std::optional<Bytes> fw_managed_sed_read(const FirmwareState& s, std::uint8_t function, std::uint16_t drive) {
    const auto& m = s.managed_sed;
    switch (function) {
        case 1: {
            Out o(6);
            o.u8(0, m.adapter_password_status).u32(1, m.countdown_timer).u8(5, m.unlock_attempts_left);
            return o.take();
        }
        case 2: {
            Out o(8);
            o.u32(0, m.status);
            return o.take();
        }
        case 3:
            for (const auto& f : m.foreign_keys) {
                if (f.drive != drive)
                    continue;
                Out o(64);
                o.bytes(0, f.key_id).bytes(32, f.reset_key_id);
                return o.take();
            }
            return std::nullopt;
        case 4: {
            Out o(33);
            o.bytes(0, m.master_key_id);
            return o.take();
        }
        case 6: {
            Out o(4);
            o.u32(0, m.kms_action);
            return o.take();
        }
        default:
            return std::nullopt;
    }
}

Bytes fw_feature_pages(const FirmwareState& s, std::uint8_t page, std::uint8_t subpage,
                       std::optional<std::uint16_t> total) {
    Bytes out{page, subpage, 0, 0};
    for (const auto& p : s.feature_pages) {
        if ((page != 0xFF && p.page != page) || (subpage != 0xFF && p.subpage != subpage))
            continue;
        const std::uint16_t len =
            p.length.value_or(std::uint16_t(std::min<std::size_t>(p.data.size(), 0xFFFF)));
        out.insert(out.end(), {p.page, p.subpage, std::uint8_t(len), std::uint8_t(len >> 8)});
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    const std::size_t natural = std::min<std::size_t>(out.size() - 4, 0xFFFF);
    const std::uint16_t t = total.value_or(std::uint16_t(natural));
    out[2] = std::uint8_t(t);
    out[3] = std::uint8_t(t >> 8);
    return out;
}

std::array<std::uint8_t, 8> fw_logical_address(const FwLogicalLun& l) {
    if (l.address)
        return *l.address;
    return {std::uint8_t(l.number),
            std::uint8_t(l.number >> 8),
            0,
            0x40,
            std::uint8_t(l.remote ? 1 : 0),
            0,
            0,
            0};
}

std::array<std::uint8_t, 8> fw_physical_address(const FwPhysicalLun& p) {
    if (p.address)
        return *p.address;
    if (p.device_type == 7) // the controller itself: its number in byte 0
        return {std::uint8_t(p.number), 0, 0, 0, 0, 0, 0, 0};
    return {0, 0, 0, 0, 0, 0, std::uint8_t(p.number), std::uint8_t(((p.number >> 8) + 1) & 0x3F)};
}

namespace {

Bytes report(std::uint32_t natural_length, std::optional<std::uint32_t> list_length,
             const std::function<void(Bytes&)>& entries) {
    Bytes out(8, 0);
    entries(out);
    const std::uint32_t l = list_length.value_or(natural_length);
    out[0] = std::uint8_t(l >> 24);
    out[1] = std::uint8_t(l >> 16);
    out[2] = std::uint8_t(l >> 8);
    out[3] = std::uint8_t(l);
    // A longer announced list carries zero entries, so a second read has bytes to take.
    if (list_length && std::size_t(*list_length) + 8 > out.size())
        out.resize(std::size_t(*list_length) + 8, 0);
    return out;
}

// The listed entries and, after them, the inventory's devices (logical drives) they leave out.
std::vector<FwLogicalLun> logical_entries(const FirmwareState& s) {
    std::vector<FwLogicalLun> out = s.logical_luns;
    for (const auto& l : s.logical_drives) {
        if (std::any_of(out.begin(), out.end(),
                        [&](const FwLogicalLun& e) { return !e.remote && e.number == l.number; }))
            continue;
        FwLogicalLun e;
        e.number = l.number;
        e.unique_id = l.page83_id;
        out.push_back(e);
    }
    return out;
}

std::vector<FwPhysicalLun> physical_entries(const FirmwareState& s) {
    std::vector<FwPhysicalLun> out = s.physical_luns;
    for (const auto& d : s.drives) {
        if (!d.reported ||
            std::any_of(out.begin(), out.end(), [&](const FwPhysicalLun& e) { return e.number == d.number; }))
            continue;
        FwPhysicalLun e;
        e.number = d.number;
        e.device_type = d.device_type;
        const auto w = fw_drive_wwid(d);
        std::copy_n(w.begin(), 8, e.sas_wwid.begin());
        out.push_back(e);
    }
    return out;
}

} // namespace

Bytes fw_report_logical_luns(const FirmwareState& s, std::optional<std::uint32_t> list_length) {
    const std::vector<FwLogicalLun> listed = logical_entries(s);
    const std::size_t count = listed.size() + s.generated_remote_volumes;
    return report(std::uint32_t(count * 24), list_length, [&](Bytes& out) {
        out[4] = 0x01; // extended format
        out.reserve(8 + count * 24);
        auto put = [&](const FwLogicalLun& l) {
            const auto a = fw_logical_address(l);
            out.insert(out.end(), a.begin(), a.end());
            out.insert(out.end(), l.unique_id.begin(), l.unique_id.end());
        };
        for (const auto& l : listed)
            put(l);
        for (std::uint32_t k = 0; k < s.generated_remote_volumes; ++k) {
            FwLogicalLun l;
            l.number = std::uint16_t(k);
            l.remote = true;
            const char tag[8] = {'Q', 'V', 'R', 'E', 'M', 'O', 'T', 'E'};
            std::memcpy(l.unique_id.data(), tag, 8);
            for (int b = 0; b < 4; ++b)
                l.unique_id[12 + b] = std::uint8_t(k >> (24 - 8 * b));
            put(l);
        }
    });
}

Bytes fw_report_physical_luns(const FirmwareState& s, std::optional<std::uint32_t> list_length) {
    const std::vector<FwPhysicalLun> listed = physical_entries(s);
    return report(std::uint32_t(listed.size() * 24), list_length, [&](Bytes& out) {
        out[4] = 0x02; // extended format
        for (const auto& p : listed) {
            const auto a = fw_physical_address(p);
            out.insert(out.end(), a.begin(), a.end());
            out.insert(out.end(), p.sas_wwid.begin(), p.sas_wwid.end());
            out.insert(out.end(), {p.device_type, p.flags, 0, 0, 0, 0, 0, 0});
        }
    });
}

} // namespace qvsim
