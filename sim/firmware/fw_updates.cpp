// The simulated controller's writes and no-data commands: settings, logical-drive configuration,
// LU caches, passwords, NVRAM, manufacturing data, online activation and the firmware flash. Each
// accepted command changes the state the reads answer from and is kept in updates.writes.
#include <algorithm>
#include <cstring>

#include "firmware/fw_drive_io.h"
#include "firmware/fw_writes.h"
#include "firmware/reply_out.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

constexpr std::size_t kChunkMax = 16384;

Reply refuse(std::uint8_t asc) {
    return check_condition(0x05, asc, 0x00);
}
// The sense keys the simulated controller refuses with.
Reply invalid_field() {
    return refuse(0x24);
}
Reply short_parameter_list() {
    return refuse(0x1A);
}
Reply invalid_parameter() {
    return refuse(0x26);
}
Reply sequence_error() {
    return refuse(0x2C);
}

std::uint8_t sub_of(const BmicCdb& b) {
    return std::uint8_t(b.detail >> 16);
}
std::uint8_t fn_of(const BmicCdb& b) {
    return std::uint8_t(b.detail);
}

std::string text_at(const Bytes& d, std::size_t off, std::size_t width) {
    return fw_text_at(d, off, width);
}

template <std::size_t N> void copy_at(const Bytes& d, std::size_t off, std::array<std::uint8_t, N>& out) {
    std::copy_n(d.begin() + std::ptrdiff_t(off), N, out.begin());
}

void keep(FirmwareState& s, const BmicCdb& b, const Command& cmd, bool with_data = true) {
    fw_keep_write(s, b, cmd, with_data);
}

Reply accepted(FirmwareState& s, const BmicCdb& b, const Command& cmd, bool with_data = true) {
    keep(s, b, cmd, with_data);
    return {};
}

// 0x63: the parameters a host may set; the clock and the total stay the controller's.
Reply set_parameters(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const Bytes& d = cmd.data_out;
    if (d.size() < 296)
        return short_parameter_list();
    auto& p = s.parameters;
    p.configuration_flags = d[5];
    p.queue_depth = get_le16(&d[6]);
    p.elevator_state = d[10];
    p.rebuild_priority = d[14];
    p.expand_priority = d[15];
    p.software_name = text_at(d, 18, 64);
    p.hardware_name = text_at(d, 82, 32);
    p.nvram_flags = d[123];
    p.drive_configuration_flags = d[125];
    copy_at(d, 156, p.primary_boot_lun);
    copy_at(d, 172, p.secondary_boot_lun);
    p.more_nvram_flags = get_le32(&d[200]);
    p.elevator_latency = get_le16(&d[204]);
    copy_at(d, 207, p.connector_mode);
    p.os_bootable_drives = d[223];
    p.wcbt = get_le32(&d[224]);
    p.sanitize_policy = d[279];
    copy_at(d, 280, p.drive_write_cache_policy);
    p.expander_min_scan = get_le16(&d[286]);
    p.expander_scan_timeout = get_le16(&d[288]);
    copy_at(d, 290, p.pcie_ordering);
    p.pcie_max_payload = d[292];
    p.pcie_max_read_request = d[293];
    p.pcie_mrrs_override = d[294];
    p.preboot_health_mode = d[295];
    return accepted(s, b, cmd);
}

// bLUCacheBits of both drives of an LU cache pair.
constexpr std::uint8_t kLuCachePaired = 0x01;

FwLogicalDrive* lu_cache_drive(FirmwareState& s, std::uint16_t ld) {
    return s.find_configured_drive(ld);
}

// 0xC0: LUN 0 the cache sizes and flags; LUN 1 the LU cache of one logical drive.
Reply set_cache(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const Bytes& d = cmd.data_out;
    if (b.lun() == 0) {
        if (d.size() < 44)
            return short_parameter_list();
        const std::uint16_t read = get_le16(&d[4]), write = get_le16(&d[6]);
        if (std::uint32_t{read} + write > s.cache.total_memory)
            return invalid_parameter();
        s.cache.disable_flag = d[0];
        s.cache.read_cache_size = read;
        s.cache.write_cache_size = write;
        s.cache.disabled_map = get_le32(&d[8]);
        s.cache.configuration_flags = d[15];
        // The extended cache-disabled map, one bit per logical drive, at the offset the record gives.
        const std::size_t at = get_le16(&d[32]), bits = s.cache.max_logical_drives;
        if (at != 0 && at + (bits + 7) / 8 <= d.size()) {
            s.cache.disabled_logical_drives.clear();
            for (std::size_t n = 0; n < bits; ++n)
                if (d[at + n / 8] & (1u << (n % 8)))
                    s.cache.disabled_logical_drives.push_back(std::uint16_t(n));
        }
        return accepted(s, b, cmd);
    }
    if (b.lun() != 1)
        return invalid_field();
    if (d.size() < 76)
        return short_parameter_list();
    FwLogicalDrive* l = lu_cache_drive(s, std::uint16_t(b.detail));
    if (!l)
        return invalid_field();
    const bool has_cache = l->lu_cache_bits || (l->property & 0x04);
    switch (sub_of(b)) {
        case 1: { // create
            if (has_cache && !l->lu_cache_unpaired)
                return invalid_field();
            const std::uint16_t primary = get_le16(&d[5]);
            l->lu_cache_unpaired = false;
            l->property |= 0x04;
            l->lu_cache_bits = kLuCachePaired;
            l->lu_cache_other = primary;
            // The data drive reports the pairing from its own configuration too, with the cache's
            // settings: that is how a later read finds the cache of a data drive.
            if (FwLogicalDrive* data = lu_cache_drive(s, primary); data && data != l) {
                data->lu_cache_bits = kLuCachePaired;
                data->lu_cache_other = l->number;
                data->lu_cache_algorithm = d[3];
                data->lu_cache_write_policy = d[4];
                data->lu_cache_line_blocks = get_le32(&d[7]);
            }
            break;
        }
        case 2: // force destroy
            if (!has_cache)
                return invalid_field();
            if (FwLogicalDrive* data = lu_cache_drive(s, l->lu_cache_other);
                data && data != l && data->lu_cache_other == l->number) {
                data->lu_cache_bits = 0;
                data->lu_cache_other = 0xFFFF;
            }
            l->property &= std::uint8_t(~0x04);
            l->lu_cache_bits = 0;
            l->lu_cache_other = 0xFFFF;
            l->lu_cache_unpaired = false;
            return accepted(s, b, cmd);
        case 5: // modify
            if (!has_cache)
                return invalid_field();
            break;
        default:
            return invalid_field();
    }
    l->lu_cache_algorithm = d[3];
    l->lu_cache_write_policy = d[4];
    l->lu_cache_line_blocks = get_le32(&d[7]);
    return accepted(s, b, cmd);
}

Reply set_label(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    FwLogicalDrive* l = s.find_configured_drive(b.lun());
    if (!l)
        return invalid_field();
    if (cmd.data_out.size() < 68)
        return short_parameter_list();
    l->label = text_at(cmd.data_out, 4, 64);
    return accepted(s, b, cmd);
}

Reply set_surface_delay(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const Bytes& d = cmd.data_out;
    if (d.size() < 3)
        return short_parameter_list();
    // A parallel count of 0 leaves the current one.
    if (d[2] > s.surface.max_parallel)
        return invalid_parameter();
    s.surface.delay = get_le16(&d[0]);
    if (d[2])
        s.surface.current_parallel = d[2];
    return accepted(s, b, cmd);
}

Reply set_mnp_delay(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (cmd.data_out.size() < 2)
        return short_parameter_list();
    s.mnp_delay = get_le16(&cmd.data_out[0]);
    return accepted(s, b, cmd);
}

// 0xEE: function 0 (SET_POWER_MODE, one dword) makes the mode pending, which function 1 reports
// in its first dword until the controller restarts; function 2 the survival mode.
Reply set_power(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const Bytes& d = cmd.data_out;
    if (fn_of(b) == 0) {
        if (d.size() < 4)
            return short_parameter_list();
        const std::uint32_t mode = get_le32(&d[0]);
        if (mode != 1 && mode != 2 && mode != 4)
            return invalid_parameter();
        s.power.operational = mode;
        return accepted(s, b, cmd);
    }
    if (fn_of(b) != 2)
        return invalid_field();
    if (d.empty())
        return short_parameter_list();
    s.power.survival_mode = d[0];
    return accepted(s, b, cmd);
}

// 0xA5: the 20-byte clock record, "<HW>TD" 08 00 first and "DWZZ" last, the time in BCD between.
// A record whose frame or digits are wrong changes nothing.
Reply set_time(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    static constexpr std::uint8_t kHead[8] = {0x3C, 0x48, 0x57, 0x3E, 0x54, 0x44, 0x08, 0x00};
    static constexpr std::uint8_t kTail[4] = {0x44, 0x57, 0x5A, 0x5A};
    const Bytes& d = cmd.data_out;
    if (b.detail != 0 || b.lun() != 0)
        return invalid_field();
    if (d.size() < 20)
        return short_parameter_list();
    if (!std::equal(std::begin(kHead), std::end(kHead), d.begin()) ||
        !std::equal(std::begin(kTail), std::end(kTail), d.begin() + 16) || d[11] != 0)
        return invalid_parameter();
    std::uint32_t v[7]; // hour, minute, second, month, day, century, year
    const std::size_t at[7] = {8, 9, 10, 12, 13, 14, 15};
    for (std::size_t k = 0; k < 7; ++k) {
        const std::uint8_t x = d[at[k]];
        if ((x >> 4) > 9 || (x & 0x0F) > 9)
            return invalid_parameter();
        v[k] = (x >> 4) * 10u + (x & 0x0Fu);
    }
    if (v[0] > 23 || v[1] > 59 || v[2] > 59 || v[3] < 1 || v[3] > 12 || v[4] < 1 || v[4] > 31)
        return invalid_parameter();
    auto& c = s.parameters.rtc;
    c.hour = v[0];
    c.minute = v[1];
    c.second = v[2];
    c.month = v[3];
    c.day = v[4];
    c.century = v[5];
    c.year = v[6];
    return accepted(s, b, cmd);
}

// 0x80: sub-command 0 (no data) sets the I2C address and configuration, 5 the pending OOB
// interface (the active half of the record is the controller's and is not taken).
Reply set_i2c_oob(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (sub_of(b) == 0) {
        s.i2c_slave_address = std::uint8_t(b.detail >> 24);
        s.i2c_configuration = b.lun_low;
        return accepted(s, b, cmd);
    }
    if (sub_of(b) != 5)
        return invalid_field();
    if (cmd.data_out.size() < 8)
        return short_parameter_list();
    std::copy_n(cmd.data_out.begin() + 4, 4, s.oob_pending.begin());
    return accepted(s, b, cmd);
}

// 0x83 function 2: the pending discovery configuration of each connector the controller has.
Reply set_discovery(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (fn_of(b) != 2)
        return invalid_field();
    const Bytes& d = cmd.data_out;
    if (d.size() < 98)
        return short_parameter_list();
    const std::size_t n = s.discovery.connector_count.value_or(
        std::uint8_t(std::min<std::size_t>(s.subsystem.connectors.size(), 16)));
    auto& pending = s.discovery.pending;
    if (pending.size() < n)
        pending.resize(n);
    for (std::size_t k = 0; k < n && k < 16; ++k) {
        pending[k].protocol = d[2 + 6 * k];
        pending[k].link_width = d[4 + 6 * k];
        pending[k].clock_routing = d[5 + 6 * k];
    }
    return accepted(s, b, cmd);
}

// 0x6E by action bit: 0x1 removes every logical drive (drive specifier 0xFFFFFFFF) or those using
// the drive named; 0x2 clears only the named drive's metadata mark; 0x4 clears the NVRAM (counted).
// Neither 0x2 nor 0x4 removes a logical drive; an action with neither removes as 0x1 does.
Reply clear_configuration(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const Bytes& d = cmd.data_out;
    if (d.size() < 8)
        return short_parameter_list();
    const std::uint32_t drive = get_le32(&d[4]);
    const std::uint32_t action = get_le32(&d[0]);
    if ((action & 0x2) && (drive > 0xFFFF || !s.find_drive(std::uint16_t(drive))))
        return check_condition(0x05, 0x24, 0x00);
    if (action & 0x2)
        fw_clear_drive_metadata(s, drive);
    if (action & 0x4)
        ++s.updates.nvram_clears;
    if ((action & 0x1) || !(action & 0x6)) {
        auto uses = [&](const FwLogicalDrive& l) {
            if (drive == 0xFFFFFFFF)
                return true;
            auto has = [&](const std::vector<std::uint16_t>& v) {
                return std::find(v.begin(), v.end(), drive) != v.end();
            };
            return has(l.members) || has(l.spares);
        };
        std::vector<std::uint16_t> gone;
        for (const auto& l : s.logical_drives)
            if (uses(l))
                gone.push_back(l.number);
        std::erase_if(s.logical_drives, uses);
        std::erase_if(s.logical_luns, [&](const FwLogicalLun& e) {
            return !e.remote && std::find(gone.begin(), gone.end(), e.number) != gone.end();
        });
    }
    return accepted(s, b, cmd);
}

Reply write_chunk(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const std::uint16_t total = std::uint16_t(((b.detail >> 24) << 8) | ((b.detail >> 8) & 0xFF));
    const std::uint16_t number = std::uint16_t((((b.detail >> 16) & 0xFF) << 8) | (b.detail & 0xFF));
    auto& c = s.updates.flash.collect;
    const std::size_t size = cmd.data_out.size();
    if (number == 0 || total == 0 || number > total || size == 0 || size > kChunkMax ||
        (c.total && *c.total != total))
        return invalid_field();
    c.total = total;
    c.chunks.push_back({number, total, std::uint32_t(size)});
    c.data.insert(c.data.end(), cmd.data_out.begin(), cmd.data_out.end());
    return accepted(s, b, cmd, false);
}

// Chunks 1 to the announced total, each once and in order.
bool complete(const FwCollectBuffer& c) {
    if (!c.total || c.chunks.size() != *c.total)
        return false;
    for (std::size_t k = 0; k < c.chunks.size(); ++k)
        if (c.chunks[k].number != k + 1)
            return false;
    return true;
}

bool verdict(const FwFlash& f) {
    if (f.validation == "reject")
        return false;
    if (f.validation == "prefix")
        return f.collect.data.size() >= f.valid_prefix.size() &&
               std::equal(f.valid_prefix.begin(), f.valid_prefix.end(), f.collect.data.begin());
    return true;
}

Reply free_collect(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    s.updates.flash.collect = {};
    ++s.updates.flash.frees;
    return accepted(s, b, cmd);
}

Reply activate(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    auto& f = s.updates.flash;
    if (b.detail > 1)
        return invalid_field();
    if (!complete(f.collect))
        return sequence_error();
    if (!verdict(f))
        return invalid_parameter();
    f.pending_image = f.collect.data;
    f.pending = true;
    ++f.activations;
    if (b.detail == 0)
        f.collect = {};
    return accepted(s, b, cmd);
}

Reply validate(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    auto& f = s.updates.flash;
    if (!complete(f.collect))
        return sequence_error();
    const bool ok = verdict(f);
    f.verdicts.push_back(ok);
    if (!ok)
        return invalid_parameter();
    return accepted(s, b, cmd);
}

Reply toggle_rom(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (s.identify.active_rom_status & 0x10)
        return refuse(0x20);
    auto& f = s.updates.flash;
    std::swap(f.active_rom, f.backup_rom);
    s.identify.active_rom_status ^= 0x01;
    s.identify.rom_firmware_rev = f.active_rom;
    ++f.toggles;
    return accepted(s, b, cmd);
}

// 0xD4 functions 2 (initiate) and 5 (soft reset): the request goes out, the response comes back
// in the same 16 bytes. A response code other than 0 changes nothing.
Reply online_activation(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const std::uint8_t fn = fn_of(b);
    if (fn != 2 && fn != 5)
        return invalid_field();
    const Bytes& d = cmd.data_out;
    if (d.size() < 2)
        return short_parameter_list();
    Reply r;
    r.data_in = fw_ofa_response(s);
    if (s.ofa.response_code == 0) {
        if (fn == 2) {
            const std::uint16_t delay = get_le16(&d[0]);
            s.ofa.status = delay ? 251 : 1;
            s.ofa.percent = 0;
            s.ofa.delay_set = s.ofa.delay_remaining = delay;
        } else {
            FwOfa idle;
            idle.response_code = s.ofa.response_code;
            idle.failure_reason = s.ofa.failure_reason;
            s.ofa = idle;
            ++s.updates.soft_resets;
        }
    }
    keep(s, b, cmd);
    if (r.data_in.size() > b.length)
        r.data_in.resize(b.length);
    return r;
}

// 0x46 stores by data id (CDB byte 2); byte 3 says read (0) or write (1).
Bytes* nvram_store(FirmwareState& s, const BmicCdb& b) {
    switch (b.detail >> 24) {
        case 1:
            return &s.updates.nvram.manufacturing;
        case 8:
            return &s.updates.nvram.seeprom;
        default:
            return nullptr;
    }
}

Reply nvram_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    Bytes* store = nvram_store(s, b);
    if (!store || sub_of(b) != 1 || (b.detail & 0xFFFF) != 0)
        return invalid_field();
    if (cmd.data_out.empty())
        return short_parameter_list();
    *store = cmd.data_out;
    return accepted(s, b, cmd);
}

// 0x82 with the controller's OEM id: the 256-byte record the reads return from now on. The tool
// writes it with function 0, so 0 and 1 are both taken.
Reply manufacturing_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (b.detail > 1 || b.lun_high != s.manufacturing.oem_id)
        return invalid_field();
    if (cmd.data_out.size() < 256)
        return short_parameter_list();
    s.manufacturing.raw.assign(cmd.data_out.begin(), cmd.data_out.begin() + 256);
    return accepted(s, b, cmd);
}

// 0x52 and 0xE0: a failed logical drive (after a failed transformation, for 0x52) is OK again.
Reply enable_logical_drive(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    FwLogicalDrive* l = s.find_configured_drive(b.lun());
    if (!l)
        return invalid_field();
    l->unit_status = 0;
    l->failed.clear();
    if (b.opcode == 0x52)
        l->expand_failure = 0;
    ++s.updates.enables;
    return accepted(s, b, cmd);
}

Reply answer_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    switch (b.opcode) {
        case 0x63:
            return set_parameters(s, b, cmd);
        case 0xC0:
            return set_cache(s, b, cmd);
        case 0x51:
        case 0x54:
        case 0x5E:
            return fw_configuration_write(s, b, cmd);
        case 0x57:
            return set_label(s, b, cmd);
        case 0x60:
            return set_surface_delay(s, b, cmd);
        case 0x62:
            return set_mnp_delay(s, b, cmd);
        case 0xEE:
            return set_power(s, b, cmd);
        case 0xA5:
            return set_time(s, b, cmd);
        case 0x80:
            return set_i2c_oob(s, b, cmd);
        case 0x83:
            return set_discovery(s, b, cmd);
        case 0x6E:
            return clear_configuration(s, b, cmd);
        case 0x1E:
            return fw_encryption_write(s, b, cmd);
        case 0xE8:
            return fw_managed_sed_write(s, b, cmd);
        case 0xD2:
            return write_chunk(s, b, cmd);
        case 0xD3:
            return free_collect(s, b, cmd);
        case 0xF7:
            return activate(s, b, cmd);
        case 0xFD:
            return validate(s, b, cmd);
        case 0xFC:
            return toggle_rom(s, b, cmd);
        case 0xD4:
            return online_activation(s, b, cmd);
        case 0x46:
            return nvram_write(s, b, cmd);
        case 0x82:
            return manufacturing_write(s, b, cmd);
        case 0x52:
        case 0xE0:
            return enable_logical_drive(s, b, cmd);
        default:
            return check_condition(0x05, 0x20, 0x00);
    }
}

Reply bmic_write(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    FirmwareState& s = firmware_state(fw);
    return fw_with_faults(s, b, 0, std::nullopt, [&] { return answer_write(s, b, cmd); });
}

Reply clip(Bytes b, std::size_t allocation) {
    if (b.size() > allocation)
        b.resize(allocation);
    Reply r;
    r.data_in = std::move(b);
    return r;
}

Reply bmic_read(ControllerFirmware& fw, const Command&, const BmicCdb& b) {
    FirmwareState& s = firmware_state(fw);
    return fw_with_faults(s, b, 0, std::nullopt, [&]() -> Reply {
        if (b.opcode == 0xBF)
            return clip(fw_backup_power_source(s), b.length);
        Bytes* store = nvram_store(s, b);
        if (!store || (b.detail & 0xFFFFFF) != 0)
            return invalid_field();
        return clip(store->empty() ? Bytes(b.length, 0) : *store, b.length);
    });
}

bool register_all() {
    for (std::uint8_t op : {0x63, 0xC0, 0x51, 0x54, 0x5E, 0x57, 0x60, 0x62, 0xEE, 0x80, 0x83, 0x6E, 0x1E,
                            0xD2, 0xD3, 0xF7, 0xFD, 0xFC, 0xD4, 0x46, 0x82, 0x52, 0xE0, 0xA5, 0xE8})
        register_bmic(BmicDirection::kWrite, op, bmic_write);
    for (std::uint8_t op : {0xBF, 0x46})
        register_bmic(BmicDirection::kRead, op, bmic_read);
    return true;
}

const bool registered = register_all();

} // namespace

void fw_keep_write(FirmwareState& s, const BmicCdb& b, const Command& cmd, bool with_data) {
    FwWriteRecord r;
    r.opcode = b.opcode;
    r.detail = b.detail;
    r.lun = b.lun();
    r.length = std::uint32_t(cmd.data_out.size());
    if (with_data)
        r.data = cmd.data_out;
    s.updates.writes.push_back(std::move(r));
}

Bytes fw_backup_power_source(const FirmwareState& s) {
    const auto& p = s.updates.backup_power;
    fw_detail::Out o(512);
    o.u16(0, p.status).u16(2, std::uint16_t(p.max_temperature)).u16(4, p.max_voltage);
    o.u16(6, std::uint16_t(p.temperature)).u16(8, p.voltage).u16(10, std::uint16_t(p.current));
    o.u16(12, std::uint16_t(p.temperature_threshold)).u16(14, p.health).u16(16, p.relative_charge);
    return o.take();
}

} // namespace qvsim
