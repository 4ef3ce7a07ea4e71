// SCSI commands the controller routes to one of its drives by the drive's LUN address (CISS
// pass-through, or an SSP frame tunnelled in BMIC 0x68): TEST UNIT READY, START STOP UNIT,
// INQUIRY (standard and VPD pages) and, for SATA drives, ATA PASS-THROUGH (16).
#include <algorithm>

#include "firmware/fw_drive_io.h"
#include "firmware/reply_out.h"

namespace qvsim {
namespace {

using fw_detail::Out;

Reply invalid_opcode() {
    return check_condition(0x05, 0x20, 0x00);
}
Reply invalid_field() {
    return check_condition(0x05, 0x24, 0x00);
}

Reply data(Bytes b, std::size_t allocation) {
    if (b.size() > allocation)
        b.resize(allocation);
    Reply r;
    r.data_in = std::move(b);
    return r;
}

bool is_disk(const FwDrive& d) {
    switch (d.device_type) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 9:
        case 10:
            return true;
        default:
            return false;
    }
}

// The device whose REPORT PHYSICAL LUNS address the command carries. Transports without a LUN
// address (a SIS SRB sent straight to the controller) address the controller.
FwDrive* routed_drive(FirmwareState& s, const Command& cmd) {
    if (cmd.transport == "sis-srb")
        return nullptr;
    for (auto& d : s.drives) {
        if (!d.reported)
            continue;
        std::optional<std::array<std::uint8_t, 8>> address;
        for (const auto& p : s.physical_luns)
            if (p.number == d.number)
                address = fw_physical_address(p);
        if (!address) {
            FwPhysicalLun p;
            p.number = d.number;
            p.device_type = d.device_type;
            address = fw_physical_address(p);
        }
        if (*address == cmd.lun_address)
            return &d;
    }
    return nullptr;
}

std::string serial_of(const FwDrive& d) {
    return d.serial.value_or("QVSD" + std::to_string(d.number));
}

std::uint8_t peripheral_of(const FwDrive& d) {
    return d.scsi.peripheral.value_or(d.device_type == 6 ? 0x0D : d.device_type == 5 ? 0x1F : 0x00);
}

Bytes standard_inquiry(const FwDrive& d) {
    Out o(96);
    o.u8(0, peripheral_of(d)).u8(2, 0x06).u8(3, 0x02).u8(4, d.scsi.additional_length.value_or(96 - 5)).u8(7, 0x02);
    o.text(8, 8, d.scsi.vendor.value_or(d.device_type == 1 ? "ATA" : d.vendor), ' ');
    o.text(16, 16, d.scsi.product.value_or(d.model), ' ');
    o.text(32, 4, d.scsi.revision.value_or(d.firmware), ' ');
    return o.take();
}

std::optional<Bytes> vpd_page(const FwDrive& d, std::uint8_t page) {
    for (const auto& raw : d.scsi.vpd_raw)
        if (raw.page == page)
            return raw.bytes;
    const auto& pages = d.scsi.vpd_pages;
    if (std::find(pages.begin(), pages.end(), page) == pages.end())
        return std::nullopt;
    Bytes body;
    switch (page) {
        case 0x00:
            body = pages;
            break;
        case 0x80: {
            const std::string serial = d.scsi.vpd_serial.value_or(serial_of(d));
            body.assign(serial.begin(), serial.end());
            break;
        }
        case 0x83: {
            // One NAA designator: the first 8 bytes of the device's WWID.
            const auto w = fw_drive_wwid(d);
            body = {0x01, 0x03, 0x00, 0x08};
            body.insert(body.end(), w.begin(), w.begin() + 8);
            break;
        }
        default:
            break; // listed but empty
    }
    Bytes out = {peripheral_of(d), page, std::uint8_t(body.size() >> 8), std::uint8_t(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Reply inquiry(const FwDrive& d, const Command& cmd) {
    if (cmd.cdb.size() < 6)
        return invalid_field();
    const bool evpd = cmd.cdb[1] & 0x01;
    const std::uint8_t page = cmd.cdb[2];
    const std::size_t allocation = (std::size_t(cmd.cdb[3]) << 8) | cmd.cdb[4];
    if (!evpd)
        return page ? invalid_field() : data(standard_inquiry(d), allocation);
    auto body = vpd_page(d, page);
    return body ? data(std::move(*body), allocation) : invalid_field();
}

Reply test_unit_ready(const FwDrive& d) {
    if (!d.scsi.ready)
        return check_condition(0x02, 0x04, 0x02); // NOT READY, initializing command required
    if (d.scsi.power_condition == 2)
        return check_condition(0x02, 0x04, 0x02);
    return {};
}

Reply start_stop(FwDrive& d, const Command& cmd) {
    if (!is_disk(d))
        return invalid_opcode();
    if (cmd.cdb.size() < 6)
        return invalid_field();
    d.scsi.power_condition = (cmd.cdb[4] & 0x01) ? 1 : 2;
    return {};
}

// ATA strings: two characters per word, the first in the high byte.
void ata_text(Out& o, std::size_t word, std::size_t words, const std::string& s) {
    for (std::size_t i = 0; i < 2 * words; ++i) {
        const std::uint8_t c = std::uint8_t(i < s.size() ? s[i] : ' ');
        o.u8(2 * word + (i ^ 1), c);
    }
}

Bytes ata_identify(const FwDrive& d) {
    if (!d.scsi.ata_identify.empty()) {
        Bytes b = d.scsi.ata_identify;
        b.resize(512, 0);
        return b;
    }
    Out o(512);
    o.u16(0, 0x0040);
    ata_text(o, 10, 10, serial_of(d));
    ata_text(o, 23, 4, d.firmware);
    ata_text(o, 27, 20, d.vendor + " " + d.model);
    o.u16(2 * 83, 0x0400); // 48-bit addressing
    const std::uint64_t blocks = d.total_blocks.value_or(585937500);
    o.u64(2 * 100, blocks & 0xFFFFFFFFFFFFull);
    const auto w = fw_drive_wwid(d);
    for (std::size_t k = 0; k < 4; ++k)
        o.u16(2 * (108 + k), std::uint16_t((w[2 * k] << 8) | w[2 * k + 1]));
    o.u8(510, 0xA5);
    Bytes b = o.take();
    std::uint8_t sum = 0;
    for (std::size_t k = 0; k < 511; ++k)
        sum = std::uint8_t(sum + b[k]);
    b[511] = std::uint8_t(0u - sum);
    return b;
}

// Descriptor sense with the ATA status return descriptor (type 0x09, 12 bytes).
Reply ata_return(std::uint8_t key, std::uint8_t ascq, std::uint8_t error, std::uint8_t status) {
    Reply r;
    r.scsi_status = 0x02;
    r.sense = {0x72, key, 0x00, ascq, 0, 0, 0, 14, 0x09, 0x0C, 0x00, error, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, status};
    return r;
}

Reply ata_passthrough(const FwDrive& d, const Command& cmd) {
    if (d.device_type != 1)
        return invalid_opcode(); // only SATA drives take ATA commands
    if (cmd.cdb.size() != 16)
        return invalid_field();
    const std::uint8_t protocol = (cmd.cdb[1] >> 1) & 0x0F;
    const bool check_condition_on_success = cmd.cdb[2] & 0x20;
    const std::uint8_t command = cmd.cdb[14];
    if (d.scsi.ata_abort)
        return ata_return(0x0B, 0x00, 0x04, 0x51);
    Reply r;
    if (command == 0xEC && protocol == 4)
        r.data_in = ata_identify(d);
    else if (protocol != 3)
        return ata_return(0x0B, 0x00, 0x04, 0x51); // a data command this drive does not take
    if (check_condition_on_success) {
        Reply with = ata_return(0x01, 0x1D, 0x00, 0x50); // ATA pass through information available
        with.data_in = std::move(r.data_in);
        return with;
    }
    return r;
}

// Routes the command to its drive; the controller itself answers none of these opcodes.
template <class Answer> ScsiHandler to_drive(Answer answer) {
    return [answer](ControllerFirmware& fw, const Command& cmd) -> Reply {
        FirmwareState& s = firmware_state(fw);
        FwDrive* d = routed_drive(s, cmd);
        if (!d)
            return invalid_opcode();
        return fw_with_faults(s, std::nullopt, cmd.cdb[0], d->number, [&] { return answer(*d, cmd); });
    };
}

bool register_all() {
    register_scsi(0x00, to_drive([](FwDrive& d, const Command&) { return test_unit_ready(d); }));
    register_scsi(0x1B, to_drive([](FwDrive& d, const Command& c) { return start_stop(d, c); }));
    register_scsi(0x12, to_drive([](FwDrive& d, const Command& c) { return inquiry(d, c); }));
    register_scsi(0x85, to_drive([](FwDrive& d, const Command& c) { return ata_passthrough(d, c); }));
    return true;
}

const bool registered = register_all();

} // namespace
} // namespace qvsim
