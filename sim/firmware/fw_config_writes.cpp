// The simulated controller's configuration writes and its logical drives' blocks: BMIC 0x51 creates,
// changes, recreates (a failed drive) or (wAssignedDrives 0) deletes a logical drive, 0x54 transforms
// one or puts replacements into a degraded one, 0x5E splits a mirror into a primary and a backup and
// joins them again; READ(16) and WRITE(16) at a logical drive's LUN reach its sparse block store.
#include <algorithm>
#include <array>
#include <cstdint>

#include "firmware/fw_drive_io.h"
#include "firmware/fw_writes.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

// The record the controller takes: through dwCacheLineSizeBlocks (275-278).
constexpr std::size_t kConfigTaken = 279;
constexpr std::uint8_t kUnitOk = 0, kUnitFailed = 1, kUnitInterimRecovery = 3, kUnitRecovering = 5,
                       kUnitRpiInProgress = 18, kUnitQueuedForExpansion = 12;
constexpr std::uint8_t kPropertyBackup = 0x02, kPropertyLuCache = 0x04;
constexpr std::uint8_t kBreakUpSplit = 1, kBreakUpRemirror = 2, kBreakUpRollBack = 14;

Reply refuse(std::uint8_t asc) {
    return check_condition(0x05, asc, 0x00);
}

bool good(const Reply& r) {
    return r.err == 0 && r.scsi_status == 0;
}

std::uint16_t u16(const Bytes& d, std::size_t off) {
    return get_le16(&d[off]);
}
std::uint32_t u32(const Bytes& d, std::size_t off) {
    return get_le32(&d[off]);
}
std::uint64_t u64(const Bytes& d, std::size_t off) {
    return get_le64(&d[off]);
}

// The devices of a map: the extended map at its offset (wMaximumPhysicalDevicesSupported bits) when
// the record holds it whole, else the 128-bit map at `big_at`.
std::vector<std::uint16_t> devices(const Bytes& d, std::size_t offset_at, std::size_t big_at) {
    const std::size_t ext = u16(d, offset_at), bits = u16(d, 260);
    std::vector<std::uint16_t> out;
    if (ext != 0 && bits != 0 && ext + (bits + 7) / 8 <= d.size()) {
        for (std::size_t n = 0; n < bits; ++n)
            if (d[ext + n / 8] & (1u << (n % 8)))
                out.push_back(std::uint16_t(n));
        return out;
    }
    for (std::size_t n = 0; n < 128; ++n)
        if (d[big_at + n / 8] & (1u << (n % 8)))
            out.push_back(std::uint16_t(n));
    return out;
}

// What a configuration record says about a logical drive's layout.
struct Layout {
    std::vector<std::uint16_t> members, spares;
    std::uint16_t assigned = 0, fault_tolerance = 0, strip = 0, block_size = 0;
    std::uint8_t parity_groups = 0;
    std::uint64_t size = 0, offset = 0;
};

Layout parse(const Bytes& d) {
    Layout x;
    x.members = devices(d, 250, 98);
    x.spares = devices(d, 252, 114);
    x.assigned = u16(d, 10);
    x.fault_tolerance = u16(d, 12);
    x.size = u64(d, 16) ? u64(d, 16) : u32(d, 74);
    x.block_size = u16(d, 24);
    x.parity_groups = d[29];
    x.strip = u16(d, 50);
    // data_offset 0xFFFFFFFF defers to qwExtendedOffsetToData.
    x.offset = u32(d, 66) == 0xFFFFFFFF || u64(d, 234) ? u64(d, 234) : u32(d, 66);
    return x;
}

bool known_mode(std::uint16_t fault_tolerance) {
    switch (fault_tolerance) {
        case 0:
        case 2:
        case 3:
        case 5:
        case 6:
            return true;
        default:
            return false;
    }
}

// A layout the controller can build: members as announced, described drives (when the inventory
// describes any), no drive both member and spare, a known mode, a size and a block size.
bool buildable(const FirmwareState& s, const Layout& x) {
    if (x.members.empty() || x.members.size() != x.assigned || !known_mode(x.fault_tolerance) || x.size == 0 ||
        x.block_size == 0)
        return false;
    for (auto m : x.members)
        if (std::find(x.spares.begin(), x.spares.end(), m) != x.spares.end())
            return false;
    if (s.drives.empty())
        return true;
    auto described = [&](std::uint16_t n) { return s.find_drive(n) != nullptr; };
    return std::all_of(x.members.begin(), x.members.end(), described) &&
           std::all_of(x.spares.begin(), x.spares.end(), described);
}

// The layout on the drive; blocks per drive the controller works out from the size.
void take_layout(FwLogicalDrive& l, const Layout& x) {
    l.members = x.members;
    l.spares = x.spares;
    l.fault_tolerance = x.fault_tolerance;
    l.parity_groups = x.parity_groups;
    l.strip = x.strip;
    l.block_size = x.block_size;
    l.offset = x.offset;
    l.size_blocks = x.size;
    l.drives_for_fault_tolerance.reset();
    l.assigned_drives.reset();
    const std::uint16_t consumed = fw_consumed_drives(l);
    const std::uint64_t data = l.members.size() > consumed ? l.members.size() - consumed : 1;
    l.blocks_per_drive = (x.size + data - 1) / data;
}

void remove_drive(FirmwareState& s, std::uint16_t ld) {
    std::erase_if(s.logical_drives, [&](const FwLogicalDrive& l) { return l.number == ld; });
    std::erase_if(s.logical_luns, [&](const FwLogicalLun& e) { return !e.remote && e.number == ld; });
    std::erase(s.cache.disabled_logical_drives, ld);
    // Its LU-cache partner is no longer paired.
    for (auto& l : s.logical_drives) {
        if (l.lu_cache_other != ld)
            continue;
        l.lu_cache_bits = 0;
        l.lu_cache_other = 0xFFFF;
        l.property &= std::uint8_t(~0x04);
    }
}

std::array<std::uint8_t, 16> fresh_page83_id(FirmwareState& s, std::uint16_t ld) {
    const unsigned k = ++s.updates.created;
    std::array<std::uint8_t, 16> id{0x60, 0x0D, 0x1A, 0x00, 'Q', 'V', 'N', 'L'};
    const std::uint8_t tail[] = {std::uint8_t(k >> 24), std::uint8_t(k >> 16), std::uint8_t(k >> 8),
                                 std::uint8_t(k),       std::uint8_t(ld >> 8),  std::uint8_t(ld)};
    std::copy(std::begin(tail), std::end(tail), id.begin() + 10);
    return id;
}

void insert_drive(FirmwareState& s, FwLogicalDrive l) {
    auto at = std::find_if(s.logical_drives.begin(), s.logical_drives.end(),
                           [&](const FwLogicalDrive& e) { return e.number > l.number; });
    s.logical_drives.insert(at, std::move(l));
}

bool contains(const std::vector<std::uint16_t>& v, std::uint16_t n) {
    return std::find(v.begin(), v.end(), n) != v.end();
}

Reply create_drive(FirmwareState& s, std::uint16_t ld, const Bytes& d) {
    const Layout x = parse(d);
    if (!buildable(s, x))
        return refuse(0x26);
    FwLogicalDrive l;
    l.number = ld;
    take_layout(l, x);
    l.signature = u32(d, 0);
    l.more_unit_flags = d[26];
    l.cylinders = u16(d, 30);
    l.heads = d[32];
    l.sectors_per_track = d[44];
    l.configuration_flags = std::uint8_t(d[57] & ~0x02);
    l.other_signature = u32(d, 58);
    l.bios_disable_flag = d[73];
    l.config_version = d[82];
    l.property = d[87];
    l.lu_cache_unpaired = (d[87] & kPropertyLuCache) != 0;
    l.unit_status = (d[28] & 0x01) ? kUnitRpiInProgress : 0;
    if (d[57] & 0x10)
        l.managed_sed_flags = 0x01;
    l.backup_timestamp = u32(d, 89);
    l.page83_id = fresh_page83_id(s, ld);
    insert_drive(s, std::move(l));
    return {};
}

// 0x51: wAssignedDrives 0 deletes; an unused number creates; a failed drive is created again on the
// members written (its data and label are gone); any other existing drive takes its spares,
// bMoreUnitFlags (accelerator, auto-replace), bBIOSDisableFlag and the split-mirror fields (the
// backup bit of bLogicalDriveProperty, dwBackupTimestamp, dwOtherVolumeSignature).
Reply set_configuration(FirmwareState& s, std::uint16_t ld, const Bytes& d) {
    FwLogicalDrive* l = s.find_configured_drive(ld);
    if (u16(d, 10) == 0) {
        remove_drive(s, ld);
        return {};
    }
    if (!l)
        return create_drive(s, ld, d);
    if (l->unit_status == kUnitFailed) {
        if (!buildable(s, parse(d)))
            return refuse(0x26);
        std::erase_if(s.logical_drives, [&](const FwLogicalDrive& e) { return e.number == ld; });
        return create_drive(s, ld, d);
    }
    std::vector<std::uint16_t> spares = devices(d, 252, 114);
    for (auto sp : spares)
        if (contains(l->members, sp) || (!s.drives.empty() && !s.find_drive(sp)))
            return refuse(0x26);
    l->spares = std::move(spares);
    l->more_unit_flags = d[26];
    l->bios_disable_flag = d[73];
    l->property = std::uint8_t((l->property & ~kPropertyBackup) | (d[87] & kPropertyBackup));
    l->backup_timestamp = u32(d, 89);
    l->other_signature = u32(d, 58);
    return {};
}

// 0x54 on a degraded drive (interim recovery) that names drives it did not have: those are its
// replacements. The drive takes the layout at once and rebuilds onto them; the failed drives left
// out of the members leave the failure map.
bool take_replacements(FwLogicalDrive& l, const Layout& x) {
    if (l.unit_status != kUnitInterimRecovery)
        return false;
    std::vector<std::uint16_t> added;
    for (auto m : x.members)
        if (!contains(l.members, m))
            added.push_back(m);
    if (added.empty())
        return false;
    take_layout(l, x);
    l.original_members.reset();
    std::erase_if(l.failed, [&](std::uint16_t f) { return !contains(l.members, f); });
    if (l.failed.empty())
        l.missing_drives = 0;
    l.replacements = added;
    l.rebuild_percent.clear();
    for (auto a : added)
        l.rebuild_percent.push_back({a, 0});
    l.rebuilding_drive.reset();
    l.blocks_left = l.blocks_per_drive;
    l.unit_status = kUnitRecovering;
    return true;
}

// 0x54: the whole layout (with bMoreUnitFlags and bBIOSDisableFlag) at once, or queued with the old
// members kept as the original.
Reply change_configuration(FirmwareState& s, FwLogicalDrive& l, const Bytes& d) {
    const Layout x = parse(d);
    if (!buildable(s, x))
        return refuse(0x26);
    if (take_replacements(l, x)) {
        l.more_unit_flags = d[26];
        l.bios_disable_flag = d[73];
        return {};
    }
    if (s.updates.transformation == "queue") {
        if (!l.original_members)
            l.original_members = l.members;
        ++s.expansion.queued;
        l.unit_status = kUnitQueuedForExpansion;
    } else {
        l.original_members.reset();
    }
    take_layout(l, x);
    l.more_unit_flags = d[26];
    l.bios_disable_flag = d[73];
    return {};
}

// 0x5E bBreakUpFlags 1 on a mirrored drive: it keeps the members written; the drives it gives up
// become a new RAID 0 backup drive at wOtherVolumeDriveNumber, with the same layout and a copy of the
// data, hidden by the request's bBIOSDisableFlag. The backup's signature is the request's
// dwOtherVolumeSignature, and each drive names the other (number and signature).
Reply split_mirror(FirmwareState& s, FwLogicalDrive& l, const Bytes& d) {
    const Layout x = parse(d);
    const std::uint16_t n = u16(d, 232);
    if (l.fault_tolerance != 2 && l.fault_tolerance != 6)
        return refuse(0x26);
    if (!buildable(s, x) || n >= s.identify.max_logical_drives || s.find_configured_drive(n))
        return refuse(0x26);
    std::vector<std::uint16_t> given_up;
    for (auto m : l.members)
        if (!contains(x.members, m))
            given_up.push_back(m);
    const bool kept_are_members = std::all_of(x.members.begin(), x.members.end(),
                                              [&](std::uint16_t m) { return contains(l.members, m); });
    if (!kept_are_members || given_up.empty())
        return refuse(0x26);
    FwLogicalDrive b = l;
    b.number = n;
    b.members = std::move(given_up);
    b.spares.clear();
    b.original_members.reset();
    b.fault_tolerance = 0;
    b.parity_groups = 0;
    b.drives_for_fault_tolerance.reset();
    b.assigned_drives.reset();
    b.size_blocks.reset();
    b.signature = u32(d, 58);
    b.other_signature = l.signature;
    b.other_drive_number = l.number;
    b.bios_disable_flag = d[73];
    b.property = std::uint8_t(l.property & ~(kPropertyBackup | kPropertyLuCache));
    b.backup_timestamp = 0;
    b.lu_cache_bits = 0;
    b.lu_cache_other = 0xFFFF;
    b.label.clear();
    b.page83_id = fresh_page83_id(s, n);
    b.unit_status = kUnitOk;
    b.missing_drives = 0;
    b.failed.clear();
    b.replacements.clear();
    b.active_spares.clear();
    b.rebuild_percent.clear();
    b.rebuilding_drive.reset();
    // The backup caches as its primary does (the two must match as siblings).
    if (contains(s.cache.disabled_logical_drives, l.number))
        s.cache.disabled_logical_drives.push_back(n);
    take_layout(l, x);
    l.other_signature = u32(d, 58);
    l.other_drive_number = n;
    insert_drive(s, std::move(b)); // l is not used past this point
    return {};
}

// 0x5E bBreakUpFlags 2 (re-mirror) or 14 (roll back) on one drive of a split pair: it takes the
// members written (its own and those of the drive at wOtherVolumeDriveNumber) and the record's
// split-mirror fields; the other drive goes. Re-mirroring keeps the drive's own data, rolling back
// the backup's.
Reply join_mirror(FirmwareState& s, FwLogicalDrive& l, const Bytes& d, std::uint8_t how) {
    const Layout x = parse(d);
    const std::uint16_t other = u16(d, 232);
    const FwLogicalDrive* o = s.find_configured_drive(other);
    if (!o || other == l.number)
        return refuse(0x26);
    if (!buildable(s, x))
        return refuse(0x26);
    const bool keeps_own = std::all_of(l.members.begin(), l.members.end(),
                                       [&](std::uint16_t m) { return contains(x.members, m); });
    const bool from_pair = std::all_of(x.members.begin(), x.members.end(), [&](std::uint16_t m) {
        return contains(l.members, m) || contains(o->members, m);
    });
    if (!keeps_own || !from_pair)
        return refuse(0x26);
    if (how == kBreakUpRollBack && (o->property & kPropertyBackup))
        l.blocks = o->blocks;
    take_layout(l, x);
    l.original_members.reset();
    l.other_signature = u32(d, 58);
    l.other_drive_number = 0;
    l.bios_disable_flag = d[73];
    l.property = std::uint8_t((l.property & ~kPropertyBackup) | (d[87] & kPropertyBackup));
    l.backup_timestamp = u32(d, 89);
    remove_drive(s, other); // l is not used past this point
    return {};
}

// ---- Blocks ----------------------------------------------------------------------------------------------

FwLogicalDrive* addressed_drive(FirmwareState& s, const Command& cmd) {
    for (auto& l : s.logical_drives) {
        FwLogicalLun entry;
        entry.number = l.number;
        for (const auto& e : s.logical_luns)
            if (!e.remote && e.number == l.number)
                entry = e;
        if (fw_logical_address(entry) == cmd.lun_address)
            return &l;
    }
    return nullptr;
}

std::uint64_t be(const std::vector<std::uint8_t>& c, std::size_t off, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k)
        v = (v << 8) | c[off + k];
    return v;
}

Reply block_io(ControllerFirmware& fw, const Command& cmd) {
    FirmwareState& s = firmware_state(fw);
    FwLogicalDrive* l = addressed_drive(s, cmd);
    if (!l)
        return refuse(0x20); // no logical drive at this address: the opcode is not the controller's
    return fw_with_faults(s, std::nullopt, cmd.cdb[0], l->number, [&]() -> Reply {
        if (cmd.cdb.size() != 16)
            return refuse(0x24);
        const std::uint64_t lba = be(cmd.cdb, 2, 8), count = be(cmd.cdb, 10, 4);
        const std::size_t bs = l->block_size ? l->block_size : 512;
        const std::uint64_t size = l->size_blocks.value_or(l->blocks_per_drive);
        if (lba > size || count > size - lba)
            return refuse(0x21); // logical block address out of range
        auto find = [&](std::uint64_t at) {
            return std::lower_bound(l->blocks.begin(), l->blocks.end(), at,
                                    [](const FwBlock& b, std::uint64_t v) { return b.lba < v; });
        };
        Reply r;
        if (cmd.cdb[0] == 0x88) {
            r.data_in.assign(std::size_t(count) * bs, 0);
            for (std::uint64_t k = 0; k < count; ++k) {
                auto it = find(lba + k);
                if (it != l->blocks.end() && it->lba == lba + k)
                    std::copy_n(it->data.begin(), std::min(it->data.size(), bs), r.data_in.begin() + std::ptrdiff_t(k * bs));
            }
            return r;
        }
        if (cmd.data_out.size() < count * bs)
            return refuse(0x24);
        for (std::uint64_t k = 0; k < count; ++k) {
            const auto first = cmd.data_out.begin() + std::ptrdiff_t(k * bs);
            Bytes block(first, first + std::ptrdiff_t(bs));
            auto it = find(lba + k);
            const bool zero = std::all_of(block.begin(), block.end(), [](std::uint8_t x) { return x == 0; });
            if (it != l->blocks.end() && it->lba == lba + k) {
                if (zero)
                    l->blocks.erase(it);
                else
                    it->data = std::move(block);
            } else if (!zero) {
                l->blocks.insert(it, FwBlock{lba + k, std::move(block)});
            }
        }
        return r;
    });
}

bool register_all() {
    register_scsi(0x88, block_io);
    register_scsi(0x8A, block_io);
    return true;
}

const bool registered = register_all();

} // namespace

Reply fw_configuration_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const std::uint16_t ld = b.lun();
    if (ld >= s.identify.max_logical_drives)
        return refuse(0x24);
    const Bytes& d = cmd.data_out;
    if (d.size() < kConfigTaken)
        return refuse(0x1A);
    FwLogicalDrive* l = s.find_configured_drive(ld);
    Reply r;
    switch (b.opcode) {
        case 0x51:
            r = set_configuration(s, ld, d);
            break;
        case 0x54:
            if (!l)
                return refuse(0x24);
            r = change_configuration(s, *l, d);
            break;
        default: // 0x5E
            if (d[56] == kBreakUpSplit || d[56] == kBreakUpRemirror || d[56] == kBreakUpRollBack) {
                if (!l)
                    return refuse(0x24);
                r = d[56] == kBreakUpSplit ? split_mirror(s, *l, d) : join_mirror(s, *l, d, d[56]);
            } else if (l) { // other break-up flags: only the BIOS-disable flag
                l->bios_disable_flag = d[73];
            }
            break;
    }
    if (good(r))
        fw_keep_write(s, b, cmd);
    return r;
}

void fw_seed_partition_tables(FwLogicalDrive& l) {
    const std::size_t bs = l.block_size ? l.block_size : 512;
    // A block smaller than an MBR holds no partition table: such a drive starts blank.
    if (bs < 512)
        return;
    const std::uint64_t size = l.size_blocks.value_or(l.blocks_per_drive);
    auto put = [&](std::uint64_t lba, Bytes data) {
        std::erase_if(l.blocks, [&](const FwBlock& b) { return b.lba == lba; });
        auto it = std::lower_bound(l.blocks.begin(), l.blocks.end(), lba,
                                   [](const FwBlock& b, std::uint64_t v) { return b.lba < v; });
        l.blocks.insert(it, FwBlock{lba, std::move(data)});
    };
    // Protective MBR: one partition of type 0xEE over the disk, boot signature 55 AA.
    Bytes mbr(bs, 0);
    mbr[446 + 4] = 0xEE;
    put_le32(&mbr[446 + 8], 1);
    put_le32(&mbr[446 + 12], std::uint32_t(std::min<std::uint64_t>(size ? size - 1 : 0, 0xFFFFFFFF)));
    mbr[510] = 0x55;
    mbr[511] = 0xAA;
    put(0, mbr);
    // GPT header at LBA 1 and its backup at the last LBA ("EFI PART", revision 1.0, 92 bytes).
    auto header = [&](std::uint64_t self, std::uint64_t other) {
        Bytes h(bs, 0);
        const char sig[8] = {'E', 'F', 'I', ' ', 'P', 'A', 'R', 'T'};
        std::copy(sig, sig + 8, h.begin());
        put_le32(&h[8], 0x00010000);
        put_le32(&h[12], 92);
        put_le64(&h[24], self);
        put_le64(&h[32], other);
        return h;
    };
    const std::uint64_t last = size ? size - 1 : 1;
    put(1, header(1, last));
    if (last > 1)
        put(last, header(last, 1));
}

} // namespace qvsim
