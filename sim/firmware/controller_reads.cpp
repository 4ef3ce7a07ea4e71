// The simulated controller's answers to the controller-level BMIC reads and to CISS REPORT LUNS,
// registered on the stateful controller's dispatch table.
#include <algorithm>

#include "firmware/fw_drive_io.h"
#include "firmware/fw_writes.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

struct DefaultState {
    FirmwareState state;
};

// Each read takes the next announced total of its sequence, if one is left.
std::optional<std::uint32_t> take_total(std::vector<std::uint32_t>& seq) {
    if (seq.empty())
        return std::nullopt;
    const std::uint32_t t = seq.front();
    seq.erase(seq.begin());
    return t;
}

std::optional<std::uint32_t> next_bmic_total(FirmwareState& s, std::uint8_t opcode) {
    auto it = s.reported_totals.find(opcode);
    return it == s.reported_totals.end() ? std::nullopt : take_total(it->second);
}

Reply illegal_field() {
    return check_condition(0x05, 0x24, 0x00);
}

// The firmware transfers what it has, at most what the CDB allows.
Reply data(Bytes b, std::size_t allocation) {
    if (b.size() > allocation)
        b.resize(allocation);
    Reply r;
    r.data_in = std::move(b);
    return r;
}

// The device a per-device read addresses, if it is one.
std::optional<std::uint16_t> addressed_device(const BmicCdb& b) {
    switch (b.opcode) {
        case 0x15:
            return std::uint16_t((b.detail >> 24) | (b.lun() & 0xFF00));
        case 0x10:
        case 0x12:
        case 0x50:
        case 0x55:
        case 0x5D:
        case 0x51:
        case 0x54:
        case 0x57:
        case 0x5E:
            return b.lun();
        case 0xC0:
        case 0xC1:
            if (b.lun() == 1)
                return std::uint16_t(b.detail);
            return std::nullopt;
        case 0x65:
            return std::uint16_t(b.detail);
        case 0x84:
            return fw_oem_data_drive(b);
        case 0xA0:
            return fw_mnp_statistics_drive(b);
        default:
            return std::nullopt;
    }
}

bool device_matches(const std::optional<std::uint16_t>& want, const BmicCdb& b) {
    return !want || addressed_device(b) == want;
}

void patch(Bytes& reply, std::uint32_t offset, const Bytes& bytes) {
    for (std::size_t k = 0; k < bytes.size(); ++k)
        if (std::size_t(offset) + k < reply.size())
            reply[std::size_t(offset) + k] = bytes[k];
}

void apply_patches(const FirmwareState& s, const BmicCdb& b, Bytes& reply) {
    for (const auto& p : s.patches) {
        if (p.opcode != b.opcode || (p.function && *p.function != std::uint8_t(b.detail)))
            continue;
        patch(reply, p.offset, p.bytes);
    }
    for (const auto& p : s.device_patches)
        if (p.opcode == b.opcode && device_matches(p.device, b))
            patch(reply, p.offset, p.bytes);
}

std::optional<Bytes> build(FirmwareState& s, const BmicCdb& b) {
    const std::uint8_t fn = std::uint8_t(b.detail);
    const std::uint8_t sub = std::uint8_t(b.detail >> 16);
    switch (b.opcode) {
        case 0x11:
            return fw_identify_controller(s, next_bmic_total(s, 0x11));
        case 0x64:
            return fw_controller_parameters(s, next_bmic_total(s, 0x64));
        case 0xC1:
            if (b.lun() == 0)
                return fw_cache_config_status(s, next_bmic_total(s, 0xC1));
            if (b.lun() == 1 && sub == 3)
                return fw_lu_cache_ram_info(s);
            if (b.lun() == 1 && sub == 0)
                return fw_lu_cache_sense(s, std::uint16_t(b.detail));
            if (b.lun() == 1 && sub == 1)
                return fw_lu_cache_stats(s, std::uint16_t(b.detail));
            return std::nullopt;
        case 0x66:
            return fw_subsystem_parameters(s, next_bmic_total(s, 0x66));
        case 0x72:
            return fw_mnp_status(s);
        case 0x59:
            return fw_expansion_ability(s, next_bmic_total(s, 0x59));
        case 0x70:
            return fw_surface_status(s, next_bmic_total(s, 0x70));
        case 0xEE:
            if (fn == 1)
                return fw_power_mode(s);
            if (fn == 3)
                return fw_default_power_mode(s);
            return std::nullopt;
        case 0x82:
            // The OEM id rides in the LUN's high byte and must be the controller's own.
            if (fn != 1 || b.lun_high != s.manufacturing.oem_id)
                return std::nullopt;
            return fw_manufacturing_data(s);
        case 0xD4:
            if (fn == 3)
                return fw_ofa_status(s);
            if (fn == 1 || fn == 4)
                return fw_ofa_response(s);
            return std::nullopt;
        case 0x80:
            if (sub == 1)
                return fw_i2c_info(s);
            if (sub == 6)
                return fw_oob_interface(s);
            return std::nullopt;
        case 0x83:
            if (fn == 0 || fn == 1 || fn == 3)
                return fw_discovery_configuration(s, fn);
            return std::nullopt;
        case 0x1E:
            if (fn == 7)
                fw_next_ikek_status(s);
            return fw_encryption_read(s, fn);
        case 0xE8:
            return fw_managed_sed_read(s, fn, b.lun());
        case 0x78:
            return fw_sensors(s, b.lun_high, next_bmic_total(s, 0x78));
        case 0xE5:
            return fw_erase_status(s, next_bmic_total(s, 0xE5));
        case 0x5D:
            return fw_mirror_pair_info(s, b.lun(), next_bmic_total(s, 0x5D));
        case 0x15: {
            const std::uint16_t drive = *addressed_device(b);
            const std::uint8_t lun = b.lun_low;
            // Reads after the first of a drive's LUN 0 are the live reads.
            const bool live = lun == 0 && ++s.identify_reads[drive] > 1;
            return fw_identify_physical_drive(s, drive, lun, live);
        }
        case 0x50:
        case 0x55:
            return fw_logical_drive_config(s, b.lun(), b.opcode == 0x55);
        case 0x10:
            return fw_identify_logical_drive(s, b.lun());
        case 0x12: {
            auto* l = s.find_configured_drive(b.lun());
            std::optional<std::uint32_t> total = l ? take_total(l->status_totals) : std::nullopt;
            if (!total)
                total = next_bmic_total(s, 0x12);
            return fw_logical_drive_status(s, b.lun(), total);
        }
        case 0x65:
            if (b.detail > 15)
                return std::nullopt;
            return fw_bus_parameters(s, std::uint8_t(b.detail));
        case 0x84:
            return fw_oem_extended_data(s, b);
        case 0xA0:
            return fw_mnp_statistics(s, b);
        case 0x61: {
            std::optional<std::uint16_t> total;
            if (auto t = next_bmic_total(s, 0x61))
                total = std::uint16_t(*t);
            return fw_feature_pages(s, std::uint8_t(b.detail >> 24), sub, total);
        }
        default:
            return std::nullopt;
    }
}

// The fault that takes this command, if any; every matching fault counts the command.
const FwFault* firing_fault(FirmwareState& s, const std::optional<BmicCdb>& b, std::uint8_t scsi_opcode,
                            std::optional<std::uint16_t> scsi_device) {
    const FwFault* hit = nullptr;
    for (auto& f : s.faults) {
        const bool match =
            b ? (f.bmic == b->opcode && (!f.function || *f.function == std::uint8_t(b->detail)) &&
                 (!f.write || *f.write == b->write) &&
                 device_matches(f.device, *b) && (!f.lun || (b->opcode == 0x15 && *f.lun == b->lun_low)))
              : f.scsi == scsi_opcode && (!f.device || f.device == scsi_device);
        if (!match)
            continue;
        const unsigned k = ++f.seen;
        if (!hit && k >= f.nth && (f.count == 0 || k - f.nth < f.count))
            hit = &f;
    }
    return hit;
}

// Runs a command under the state's faults: an errno or CHECK CONDITION replaces the answer,
// short data cuts it.
template <class Build>
Reply with_faults(FirmwareState& s, const std::optional<BmicCdb>& b, std::uint8_t scsi_opcode,
                  Build&& build, std::optional<std::uint16_t> scsi_device = std::nullopt) {
    const FwFault* f = firing_fault(s, b, scsi_opcode, scsi_device);
    if (f && f->err) {
        Reply r;
        r.err = f->err;
        return r;
    }
    if (f && !f->sense.empty()) {
        Reply r;
        // With a data length the controller writes that much of its reply before failing.
        if (f->data_length) {
            r = build();
            r.data_in.resize(std::min(r.data_in.size(), *f->data_length));
        }
        r.scsi_status = 0x02;
        r.sense = f->sense;
        return r;
    }
    Reply r = build();
    if (f && f->data_length && r.data_in.size() > *f->data_length)
        r.data_in.resize(*f->data_length);
    return r;
}

Reply bmic_read(ControllerFirmware& fw, const Command&, const BmicCdb& b) {
    FirmwareState& s = firmware_state(fw);
    return with_faults(s, b, 0, [&] {
        auto reply = build(s, b);
        if (!reply)
            return illegal_field();
        apply_patches(s, b, *reply);
        return data(std::move(*reply), b.length);
    });
}

std::uint32_t allocation_length(const Command& cmd) {
    const auto& c = cmd.cdb;
    return (std::uint32_t{c[6]} << 24) | (std::uint32_t{c[7]} << 16) | (std::uint32_t{c[8]} << 8) | c[9];
}

Reply report_luns(ControllerFirmware& fw, const Command& cmd, bool logical) {
    FirmwareState& s = firmware_state(fw);
    return with_faults(s, std::nullopt, cmd.cdb[0], [&] {
        if (cmd.cdb.size() < 10)
            return illegal_field();
        Bytes b = logical ? fw_report_logical_luns(s, take_total(s.logical_list_lengths))
                          : fw_report_physical_luns(s, take_total(s.physical_list_lengths));
        return data(std::move(b), allocation_length(cmd));
    });
}

Reply report_logical(ControllerFirmware& fw, const Command& cmd) {
    return report_luns(fw, cmd, true);
}
Reply report_physical(ControllerFirmware& fw, const Command& cmd) {
    return report_luns(fw, cmd, false);
}

bool register_all() {
    for (std::uint8_t op : {0x11, 0x64, 0xC1, 0x66, 0x72, 0x59, 0x70, 0xEE, 0x82, 0xD4, 0x80, 0x83, 0x1E,
                            0xE8, 0x61, 0x78, 0xE5, 0x5D, 0x15, 0x50, 0x55, 0x10, 0x12, 0x65, 0x84, 0xA0})
        register_bmic(BmicDirection::kRead, op, bmic_read);
    register_scsi(0xC2, report_logical);
    register_scsi(0xC4, report_logical); // the SIS transport's opcode for the logical report
    register_scsi(0xC3, report_physical);
    return true;
}

const bool registered = register_all();

} // namespace

Reply fw_with_faults(FirmwareState& s, const std::optional<BmicCdb>& b, std::uint8_t scsi_opcode,
                     std::optional<std::uint16_t> scsi_device, const std::function<Reply()>& build) {
    return with_faults(s, b, scsi_opcode, build, scsi_device);
}

FirmwareState& firmware_state(ControllerFirmware& fw) {
    if (auto* c = dynamic_cast<FwController*>(&fw))
        return c->fw_state();
    return fw.state<DefaultState>().state;
}

} // namespace qvsim
