// The per-device replies of the simulated controller, built from its inventory byte for byte, and
// the inventory builders.
#include <algorithm>
#include <stdexcept>

#include "firmware/reply_out.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

using fw_detail::Out;

constexpr std::size_t kPhysicalDriveStatusSize = 3072;
constexpr std::size_t kConfigSize = 652, kConfigFixed = 300;
constexpr std::size_t kIdentifyLogicalSize = 118;
constexpr std::size_t kStatusSize = 3265;
constexpr std::size_t kLuCacheSenseSize = 512, kLuCacheStatsSize = 112;
constexpr std::size_t kBusParametersSize = 1537, kBusParametersFixed = 1352;

bool is_disk_type(std::uint8_t t) {
    return t == 1 || t == 2 || t == 3 || t == 4 || t == 9 || t == 10;
}

std::uint32_t cap32(std::uint64_t v) {
    return v >= 0xFFFFFFFFull ? 0xFFFFFFFFu : std::uint32_t(v);
}

// Bytes of one extended device map: one bit per device the controller supports.
std::size_t map_bytes(const FirmwareState& s) {
    return (std::size_t(s.identify.max_physical_devices) + 7) / 8;
}

void put_devices(Out& o, std::size_t at, std::size_t bytes, const std::vector<std::uint16_t>& devices) {
    for (auto d : devices)
        if (std::size_t(d) / 8 < bytes)
            o.set_bit(at + d / 8, d % 8);
}

std::uint32_t legacy_map(const std::vector<std::uint16_t>& devices) {
    std::uint32_t m = 0;
    for (auto d : devices)
        if (d < 32)
            m |= 1u << d;
    return m;
}

std::array<std::uint8_t, 16> drive_unique_id(const FwDrive& d) {
    if (d.unique_id)
        return *d.unique_id;
    return {0x60, 0x0D, 0x1A, 0x00, 0x00, 0x00, std::uint8_t(d.number >> 8), std::uint8_t(d.number)};
}

bool drive_is_disk(const FwDrive& d) {
    return is_disk_type(d.device_type);
}

std::uint8_t drive_box_index(const FirmwareState& s, const FwDrive& d) {
    if (d.box_index)
        return *d.box_index;
    for (const auto& e : s.enclosures)
        if (std::find(e.installed.begin(), e.installed.end(), d.number) != e.installed.end())
            return e.box;
    return d.box;
}

std::vector<FwPath> drive_paths(const FwDrive& d) {
    if (!d.paths.empty())
        return d.paths;
    return {FwPath{d.port, d.box, {}}};
}

std::uint16_t consumed_drives(const FwLogicalDrive& l) {
    if (l.drives_for_fault_tolerance)
        return *l.drives_for_fault_tolerance;
    const auto n = std::uint16_t(l.members.size());
    const std::uint16_t groups = std::max<std::uint16_t>(1, l.parity_groups);
    switch (l.fault_tolerance) {
        case 2:
            return std::uint16_t(n / 2);
        case 3:
            return groups;
        case 5:
            return std::uint16_t(2 * groups);
        case 6:
            return std::uint16_t(n * 2 / 3);
        default:
            return 0;
    }
}

std::uint64_t ld_size(const FwLogicalDrive& l) {
    if (l.size_blocks)
        return *l.size_blocks;
    const std::size_t consumed = consumed_drives(l);
    const std::size_t data = l.members.size() > consumed ? l.members.size() - consumed : 0;
    return l.blocks_per_drive * data;
}

// DRIVE_PARAM_TABLE (16 bytes) with its checksum: minus the sum of the bytes before it.
void put_param_table(Out& o, std::size_t at, const FwLogicalDrive& l) {
    std::uint16_t cylinders = l.cylinders;
    if (!cylinders && l.heads && l.sectors_per_track)
        cylinders =
            std::uint16_t(std::min<std::uint64_t>(ld_size(l) / (l.heads * l.sectors_per_track), 65535));
    o.u16(at, cylinders).u8(at + 2, l.heads).u8(at + 3, 0xA0).u8(at + 4, l.sectors_per_track);
    o.u16(at + 9, cylinders).u8(at + 11, l.heads).u8(at + 14, l.sectors_per_track);
    Bytes table = o.peek(at, 15);
    std::uint8_t sum = 0;
    for (auto b : table)
        sum = std::uint8_t(sum + b);
    o.u8(at + 15, std::uint8_t(0u - sum));
}

} // namespace

std::uint16_t fw_consumed_drives(const FwLogicalDrive& l) {
    return consumed_drives(l);
}

std::array<std::uint8_t, 20> fw_drive_wwid(const FwDrive& d) {
    if (d.wwid)
        return *d.wwid;
    return {0x50, 0x00, 0xC5, 0x00, 0x00, 0x00, std::uint8_t(d.number >> 8), std::uint8_t(d.number)};
}

std::vector<std::uint16_t> fw_present_devices(const FirmwareState& s) {
    std::vector<std::uint16_t> out = s.identify.present_devices;
    for (const auto& d : s.drives)
        if (d.present.value_or(drive_is_disk(d)))
            out.push_back(d.number);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::vector<std::uint16_t> fw_non_disk_devices(const FirmwareState& s) {
    std::vector<std::uint16_t> out = s.identify.non_disk_devices;
    for (const auto& d : s.drives)
        if (d.non_disk.value_or(!drive_is_disk(d)))
            out.push_back(d.number);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

std::optional<Bytes> fw_identify_physical_drive(const FirmwareState& s, std::uint16_t drive, std::uint8_t lun,
                                                bool live) {
    const FwDrive* d = s.find_drive(drive);
    if (!d)
        return std::nullopt;
    const FwDriveLun* extra = nullptr;
    if (lun > 0) {
        if (lun >= std::max<std::uint8_t>(d->lun_count, 1) || std::size_t(lun) > d->luns.size() ||
            !d->luns[lun - 1].valid)
            return std::nullopt;
        extra = &d->luns[lun - 1];
    }
    const bool disk = drive_is_disk(*d);
    Out o(kPhysicalDriveStatusSize);
    const std::uint16_t block_size = d->block_size.value_or(disk ? 512 : 0);
    const std::uint64_t total = extra ? extra->total_blocks : d->total_blocks.value_or(disk ? 585937500 : 0);
    const std::uint32_t reserved =
        extra ? extra->reserved_blocks : d->reserved_blocks.value_or(disk ? 32768 : 0);
    o.u16(2, block_size).u32(4, cap32(total)).u32(8, reserved);
    o.text(12, 40, d->short_model.value_or(d->vendor + " " + d->model), ' ');
    o.text(52, 40, d->serial.value_or("QVSD" + std::to_string(d->number)), ' ');
    o.text(92, 8, d->firmware, ' ');
    o.u8(101, d->stamped).u8(102, d->last_failure_reason);
    o.u8(103, d->device_flags.value_or(disk ? 0x01 : 0x03)).u8(104, d->more_device_flags);
    o.u8(106, d->yet_more_device_flags).u8(107, d->even_more_device_flags);
    o.text(112, 2, d->port, ' ').u8(114, d->box).u8(115, d->bay);
    o.u32(116, d->rpm.value_or(disk ? 10000 : 0)).u8(120, d->device_type).u64(122, total);
    o.bytes(142, extra ? extra->wwid : fw_drive_wwid(*d));
    for (auto p : d->controller_phys)
        o.set_bit(162 + p / 8, p % 8);
    o.u16(194, d->phy_count.value_or(std::uint16_t(std::min<std::size_t>(d->phys.size(), 0xFFFF))));
    const std::size_t phys = std::min<std::size_t>(d->phys.size(), 256);
    for (std::size_t k = 0; k < phys; ++k) {
        const FwPhy& p = d->phys[k];
        o.u8(196 + k, p.connected_type).u8(1224 + k, p.logical_rate);
        o.u8(2031 + k, p.max_rate).u8(2287 + k, p.physical_rate);
    }
    o.u8(1220, drive_box_index(s, *d)).u8(1221, d->qrb_support).u16(1222, d->extra_device_flags);
    o.u8(1736, d->path_present_map).u8(1737, d->path_failure_map).u8(1738, d->active_path);
    const auto paths = drive_paths(*d);
    for (std::size_t k = 0; k < std::min<std::size_t>(paths.size(), 8); ++k) {
        o.text(1739 + 2 * k, 2, paths[k].port, ' ').u8(1755 + k, paths[k].box);
        o.text(1951 + 8 * k, 8, paths[k].connector_name);
    }
    o.u8(1763, d->lun_count).text(1764, 8, d->min_firmware, ' ');
    const std::uint8_t current = live && d->live_temperature ? *d->live_temperature : d->temperature;
    const std::uint8_t maximum =
        live && d->live_temperature_max ? *d->live_temperature_max : d->temperature_max;
    o.u8(1792, current).u8(1793, d->temperature_threshold).u8(1794, maximum);
    o.u8(1795, d->blocks_per_physical_shift);
    o.u16(1858, d->power_on_hours).u16(1860, d->endurance_used);
    o.u8(1863, d->carrier_authentication).u8(1864, d->carrier_version).u8(1866, d->sanitize_erase_support);
    o.u32(1932, d->misc_drive_flags).u8(1946, d->connector_mode).bytes(1947, d->connector_info);
    o.bytes(2015, extra ? extra->unique_id : drive_unique_id(*d));
    o.text(2543, 8, d->long_box_connector_name);
    o.u8(2551, d->active_path_map).u8(2552, d->sanitize_policy).u8(2553, d->connector_map);
    o.u32(2554, d->feature_flags).u16(2558, d->unsupported_reason);
    o.text(2560, 8, d->vendor, ' ').text(2568, 40, d->model, ' ');
    o.u8(2608, d->oem_id).u16(2610, d->pci_vendor).u16(2612, d->pci_subsystem_vendor);
    return o.take();
}

std::optional<Bytes> fw_logical_drive_config(const FirmwareState& s, std::uint16_t ld, bool original) {
    if (ld >= s.identify.max_logical_drives)
        return std::nullopt;
    const FwLogicalDrive* l = s.find_configured_drive(ld);
    if (original && (!l || !l->original_members))
        return std::nullopt;
    Out o(kConfigSize);
    const std::size_t bytes = map_bytes(s);
    const std::uint16_t member_at =
        l && l->member_map_offset ? *l->member_map_offset : std::uint16_t(kConfigFixed);
    const std::uint16_t spare_at =
        l && l->spare_map_offset ? *l->spare_map_offset : std::uint16_t(kConfigFixed + bytes);
    o.u16(250, member_at).u16(252, spare_at).u32(256, std::uint32_t(kConfigSize));
    o.u16(260, s.identify.max_physical_devices).u16(262, s.identify.max_drives_per_logical_drive);
    o.u32(264, std::uint32_t(kConfigFixed));
    if (!l)
        return o.take();
    const auto& members = original ? *l->original_members : l->members;
    const std::uint64_t size = ld_size(*l);
    o.u32(0, l->signature).u16(4, 2).u8(6, l->parity_groups > 1 ? 7 : 2);
    o.u16(8, std::uint16_t(members.size()))
        .u16(10, l->assigned_drives.value_or(std::uint16_t(members.size())));
    o.u16(12, l->fault_tolerance).u16(14, consumed_drives(*l)).u64(16, size).u16(24, l->block_size);
    o.u8(26, l->more_unit_flags).u8(29, l->parity_groups);
    put_param_table(o, 30, *l);
    o.u32(46, legacy_map(members)).u16(50, l->strip).u32(52, legacy_map(l->spares));
    o.u8(57, std::uint8_t(l->configuration_flags | (l->original_members ? 0x02 : 0)));
    o.u32(58, l->other_signature).u16(62, 0xFD00).u32(66, cap32(l->offset)).u8(72, 4);
    o.u8(73, l->bios_disable_flag).u32(74, cap32(size)).u32(78, cap32(l->blocks_per_drive));
    o.u8(82, l->config_version).u8(86, 9).u8(87, l->property).u32(89, l->backup_timestamp);
    put_devices(o, 98, 16, members);
    put_devices(o, 114, 16, l->spares);
    o.u16(232, l->other_drive_number).u64(234, l->offset).u64(242, l->blocks_per_drive);
    o.u8(268, l->lu_cache_bits).u8(269, l->lu_cache_state).u8(270, l->lu_cache_primaries);
    o.u16(271, l->lu_cache_other).u8(273, l->lu_cache_algorithm).u8(274, l->lu_cache_write_policy);
    o.u32(275, l->lu_cache_line_blocks);
    if (member_at)
        put_devices(o, member_at, bytes, members);
    if (spare_at)
        put_devices(o, spare_at, bytes, l->spares);
    return o.take();
}

std::optional<Bytes> fw_identify_logical_drive(const FirmwareState& s, std::uint16_t ld) {
    const FwLogicalDrive* l = s.find_configured_drive(ld);
    if (!l)
        return std::nullopt;
    Out o(kIdentifyLogicalSize);
    o.u16(0, l->block_size).u32(2, cap32(ld_size(*l)));
    put_param_table(o, 6, *l);
    o.u8(22, std::uint8_t(l->fault_tolerance)).text(38, 64, l->label).bytes(102, l->page83_id);
    return o.take();
}

std::optional<Bytes> fw_logical_drive_status(const FirmwareState& s, std::uint16_t ld,
                                             std::optional<std::uint32_t> total) {
    const FwLogicalDrive* l = s.find_configured_drive(ld);
    if (!l)
        return std::nullopt;
    const std::uint32_t reported = total.value_or(std::uint32_t(kStatusSize));
    // Nothing reads more than a 16-bit transfer length, so a larger total is only a number.
    Out o(std::max<std::size_t>(kStatusSize, std::min<std::uint32_t>(reported, 0x10000)));
    const std::size_t bytes = map_bytes(s);
    const std::size_t fixed = l->status_fixed_length;
    const std::uint16_t failure_at = l->failure_map_offset.value_or(std::uint16_t(fixed));
    const std::uint16_t replacement_at = l->replacement_map_offset.value_or(std::uint16_t(fixed + bytes));
    const std::uint16_t spare_at = l->active_spare_map_offset.value_or(std::uint16_t(fixed + 2 * bytes));
    const std::uint16_t rebuild_at = l->rebuild_offset.value_or(std::uint16_t(fixed + 3 * bytes));
    o.u8(0, l->unit_status).u16(5, l->missing_drives).u32(421, cap32(l->blocks_left));
    o.u8(535, l->media_exchanged).u8(537, l->expand_failure).u8(538, l->unit_flags);
    put_devices(o, 811, 16, l->replacements);
    const std::uint16_t rebuilding = l->rebuilding_drive.value_or(
        l->rebuild_percent.empty() ? std::uint16_t(0xFFFF) : l->rebuild_percent.front().device);
    // The one-byte field cannot name drive 255 or above: it reads "none" then.
    o.u8(987, rebuilding < 0xFF ? std::uint8_t(rebuilding) : std::uint8_t(0xFF));
    o.u64(988, l->blocks_left).u16(1002, rebuilding);
    o.u16(1004, failure_at).u16(1006, replacement_at).u16(1008, spare_at).u16(1016, rebuild_at);
    o.u16(1018, s.identify.max_physical_devices).u32(1020, reported);
    o.u8(1026, l->encryption_flags).u8(1027, l->redundant_cabling_flags).u32(1044, l->status_fixed_length);
    o.u8(1051, l->additional_encryption_flags).u8(1056, l->managed_sed_flags);
    if (failure_at)
        put_devices(o, failure_at, bytes, l->failed);
    if (replacement_at)
        put_devices(o, replacement_at, bytes, l->replacements);
    if (spare_at)
        put_devices(o, spare_at, bytes, l->active_spares);
    if (rebuild_at)
        for (const auto& r : l->rebuild_percent)
            if (r.device < s.identify.max_physical_devices)
                o.u8(std::size_t(rebuild_at) + r.device, r.percent);
    return o.take();
}

namespace {
bool has_lu_cache(const FwLogicalDrive* l) {
    return l && (l->lu_cache_bits || (l->property & 0x04));
}
} // namespace

std::optional<Bytes> fw_lu_cache_sense(const FirmwareState& s, std::uint16_t ld) {
    const FwLogicalDrive* l = s.find_configured_drive(ld);
    if (!has_lu_cache(l))
        return std::nullopt;
    Out o(kLuCacheSenseSize);
    const std::uint16_t primary = (l->property & 0x04) ? l->lu_cache_other : l->number;
    o.u16(0, 14).u8(2, 1).u8(3, l->lu_cache_algorithm);
    o.u8(4, l->lu_cache_requested_write_policy.value_or(l->lu_cache_write_policy)).u16(5, primary);
    o.u32(7, l->lu_cache_line_blocks).u8(13, l->lu_write_policy_reason);
    return o.take();
}

std::optional<Bytes> fw_lu_cache_stats(const FirmwareState& s, std::uint16_t ld) {
    const FwLogicalDrive* l = s.find_configured_drive(ld);
    if (!has_lu_cache(l))
        return std::nullopt;
    static constexpr std::size_t kCounterAt[12] = {8, 16, 24, 32, 40, 48, 56, 64, 76, 84, 92, 100};
    Out o(kLuCacheStatsSize);
    o.u16(0, l->lu_cache_stats_valid_length).u8(2, l->lu_cache_state_stats);
    o.u32(4, l->lu_cache_starting_dirty_lines).u32(72, l->lu_cache_dirty_lines);
    for (std::size_t k = 0; k < std::min<std::size_t>(12, l->lu_cache_counters.size()); ++k)
        o.u64(kCounterAt[k], l->lu_cache_counters[k]);
    return o.take();
}

std::optional<Bytes> fw_bus_parameters(const FirmwareState& s, std::uint8_t box) {
    if (box > 15)
        return std::nullopt;
    Out o(kBusParametersSize);
    o.u32(412, std::uint32_t(kBusParametersSize)).u16(418, s.identify.max_physical_devices);
    const FwEnclosure* e = s.find_enclosure(box);
    if (!e) {
        o.u32(482, std::uint32_t(kBusParametersFixed));
        return o.take();
    }
    if (e->inquiry_valid) {
        o.u8(0, 0x0D).u8(2, 0x05).u8(3, 0x02).u8(4, 31);
        o.text(8, 8, e->vendor, ' ').text(16, 16, e->product, ' ').text(32, 4, e->revision, ' ');
    }
    o.u8(36, e->inquiry_valid ? 1 : 0).u8(105, e->physical_box).u16(128, e->connection_flags);
    put_devices(o, 216, 16, e->installed);
    o.u8(266, e->bay_count).u8(267, e->expander_count).text(268, 40, e->chassis_serial);
    o.u8(324, e->sep_count.value_or(std::uint8_t(std::min<std::size_t>(e->seps.size(), 16))));
    for (std::size_t k = 0; k < std::min<std::size_t>(e->seps.size(), 16); ++k)
        o.u8(325 + k, e->seps[k].type).u16(341 + 2 * k, e->seps[k].device);
    for (std::size_t k = 0; k < std::min<std::size_t>(e->expanders.size(), 16); ++k)
        o.u16(373 + 2 * k, e->expanders[k]);
    const std::uint16_t installed_at = e->installed_map_offset.value_or(std::uint16_t(kBusParametersFixed));
    o.u16(405, installed_at).u32(482, e->fixed_length);
    o.u8(423, e->path_present_map).u8(424, e->path_failure_map).u8(425, e->active_path);
    for (std::size_t k = 0; k < std::min<std::size_t>(e->paths.size(), 8); ++k) {
        o.text(426 + 2 * k, 2, e->paths[k].port, ' ').u8(442 + k, e->paths[k].box);
        o.text(1210 + 8 * k, 8, e->paths[k].connector_name);
    }
    o.u8(1274, e->active_path_map).u8(1275, e->connector_map);
    o.u8(1276, e->ubm_version_major).u8(1277, e->ubm_version_minor).u16(1278, e->ubm_pci_vendor);
    o.u32(1280, e->ubm_manager_device_code).u8(1348, e->ubm_programming_capabilities);
    o.text(1284, 32, e->ubm_part_number).text(1316, 32, e->ubm_product);
    if (installed_at)
        put_devices(o, installed_at, map_bytes(s), e->installed);
    return o.take();
}

// ---- builders ----

namespace {
template <class V, class P> auto* find_in(V& v, P pred) {
    auto it = std::find_if(v.begin(), v.end(), pred);
    return it == v.end() ? nullptr : &*it;
}
} // namespace

FwDrive* FirmwareState::find_drive(std::uint16_t n) {
    return find_in(drives, [&](const FwDrive& d) { return d.number == n; });
}
const FwDrive* FirmwareState::find_drive(std::uint16_t n) const {
    return find_in(drives, [&](const FwDrive& d) { return d.number == n; });
}
FwLogicalDrive* FirmwareState::find_configured_drive(std::uint16_t n) {
    return find_in(logical_drives, [&](const FwLogicalDrive& l) { return l.number == n; });
}
const FwLogicalDrive* FirmwareState::find_configured_drive(std::uint16_t n) const {
    return find_in(logical_drives, [&](const FwLogicalDrive& l) { return l.number == n; });
}
const FwEnclosure* FirmwareState::find_enclosure(std::uint8_t box) const {
    return find_in(enclosures, [&](const FwEnclosure& e) { return e.box == box; });
}

FwDrive& FirmwareState::add_drive(std::uint16_t number, std::uint8_t device_type) {
    std::erase_if(drives, [&](const FwDrive& d) { return d.number == number; });
    FwDrive d;
    d.number = number;
    d.device_type = device_type;
    d.bay = std::uint8_t(number % 255 + 1);
    drives.push_back(d);
    return drives.back();
}

FwLogicalDrive& FirmwareState::add_configured_drive(std::uint16_t number, std::vector<std::uint16_t> members,
                                                    std::uint64_t blocks_per_drive, std::uint64_t offset) {
    std::erase_if(logical_drives, [&](const FwLogicalDrive& l) { return l.number == number; });
    FwLogicalDrive l;
    l.number = number;
    l.members = std::move(members);
    l.blocks_per_drive = blocks_per_drive;
    l.offset = offset;
    l.signature = 0x51D70000u | number;
    l.page83_id = {0x60,
                   0x0D,
                   0x1A,
                   0x00,
                   0x4C,
                   0x44,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   std::uint8_t(number >> 8),
                   std::uint8_t(number)};
    l.label = "Logical Drive " + std::to_string(number + 1);
    logical_drives.push_back(std::move(l));
    return logical_drives.back();
}

FwEnclosure& FirmwareState::add_enclosure(std::uint8_t box) {
    std::erase_if(enclosures, [&](const FwEnclosure& e) { return e.box == box; });
    FwEnclosure e;
    e.box = box;
    e.physical_box = std::uint8_t(box + 1);
    e.chassis_serial = "QVSENC" + std::to_string(box);
    enclosures.push_back(e);
    return enclosures.back();
}

FwFault& FirmwareState::fail_device(std::uint8_t opcode, std::uint16_t device, unsigned nth, unsigned count,
                                    int err) {
    FwFault f;
    f.bmic = opcode;
    f.device = device;
    f.nth = nth;
    f.count = count;
    f.err = err;
    if (!err)
        f.sense = fixed_sense(0x05, 0x24, 0x00);
    faults.push_back(f);
    return faults.back();
}

FwFault& FirmwareState::fail_live_identify(std::uint16_t drive, int err) {
    FwFault& f = fail_device(0x15, drive, 2, 0, err);
    f.lun = 0;
    return f;
}

FirmwareState& FirmwareState::generate(const FwInventoryShape& shape) {
    if (shape.drives > 384 || shape.connectors == 0 || shape.connectors > 16 || shape.enclosures > 16 ||
        shape.logical_drives > 64 || (shape.logical_drives && !shape.arrays))
        throw std::invalid_argument("inventory shape out of range");
    const std::uint16_t n = shape.drives;
    const std::uint16_t per_array = shape.arrays ? std::uint16_t(n / shape.arrays) : 0;
    if (shape.logical_drives && per_array <= shape.spares)
        throw std::invalid_argument("inventory shape: no data drives left in an array");
    drives.clear();
    logical_drives.clear();
    enclosures.clear();
    identify.present_devices.clear();
    identify.non_disk_devices.clear();
    identify.logical_drive_count.reset();
    identify.enclosure_count.reset();

    subsystem.connectors.clear();
    discovery = {};
    for (std::uint8_t c = 0; c < shape.connectors; ++c) {
        FwConnector con;
        con.number = c;
        con.phy_map = std::uint64_t{0x0F} << (4 * c);
        con.active_phy_map = con.phy_map;
        con.short_name = std::to_string(c + 1) + "I";
        con.long_name = "Port " + std::to_string(c + 1);
        con.sas_address = {0x51, 0xD7, 0xB0, 0x00, 0x00, 0xA1, 0xB2, std::uint8_t(0xC4 + c)};
        subsystem.connectors.push_back(con);
        discovery.active.push_back({0, 1, 0, 0});
        discovery.pending.push_back({0, 1, 0, 0});
        discovery.defaults.push_back({0, 0, 0, 0});
    }
    for (std::uint8_t e = 0; e < shape.enclosures; ++e)
        add_enclosure(e).bay_count = 0;
    for (std::uint16_t k = 0; k < n; ++k) {
        FwDrive& d = add_drive(k, 2);
        const std::uint8_t c = std::uint8_t(std::size_t(k) * shape.connectors / n);
        d.port = subsystem.connectors[c].short_name;
        d.connector_info[0] = c;
        d.controller_phys = {std::uint8_t(4 * c + k % 4)};
        d.total_blocks = shape.drive_blocks;
        if (shape.enclosures) {
            FwEnclosure& enc = enclosures[std::size_t(k) * shape.enclosures / n];
            d.box = enc.physical_box;
            d.box_index = enc.box;
            d.bay = std::uint8_t(++enc.bay_count);
            enc.installed.push_back(k);
        } else {
            d.box = 0;
            d.bay = std::uint8_t(k % 255 + 1);
        }
        d.paths = {FwPath{d.port, d.box, subsystem.connectors[c].long_name}};
    }
    // One SEP per enclosure, numbered after the drives while there is room.
    for (auto& enc : enclosures) {
        const std::size_t number = std::size_t(n) + enc.box;
        if (number >= 384)
            break;
        FwDrive& sep = add_drive(std::uint16_t(number), 6);
        sep.box = enc.physical_box;
        sep.box_index = enc.box;
        sep.bay = 0;
        sep.port = subsystem.connectors[0].short_name;
        sep.vendor = "QVSIM";
        sep.model = "SIM SEP";
        enc.seps.push_back({std::uint16_t(number), 0});
    }
    std::vector<std::uint64_t> next_offset(shape.arrays, 0);
    for (std::uint16_t i = 0; i < shape.logical_drives; ++i) {
        const std::uint16_t a = std::uint16_t(i % shape.arrays);
        std::vector<std::uint16_t> members, spares;
        for (std::uint16_t k = 0; k < per_array; ++k)
            (k < per_array - shape.spares ? members : spares).push_back(std::uint16_t(a * per_array + k));
        FwLogicalDrive& l = add_configured_drive(i, members, shape.blocks_per_drive, next_offset[a]);
        l.spares = spares;
        l.fault_tolerance = shape.fault_tolerance;
        next_offset[a] += shape.blocks_per_drive;
    }
    return *this;
}

} // namespace qvsim
