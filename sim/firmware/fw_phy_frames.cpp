// CSMI frames the controller answers itself: get link errors (control code 22) for each of its
// own PHYs, and SMP requests (REPORT GENERAL, DISCOVER) to the expanders of its inventory. PQI and
// SIS controllers carry SMP frames; a CISS-type controller refuses them (opcode_dispatch.cpp).
#include <algorithm>
#include <bit>

#include "firmware/fw_drive_io.h"
#include "qvsim/bytes.h"

namespace qvsim {
namespace {

constexpr std::size_t kLinkErrorsFrameSize = 48;
constexpr std::uint32_t kReturnInvalidParameter = 3;

// PHY numbers run from 0 below the number of PHYs the connectors' maps hold.
unsigned controller_phy_count(const FirmwareState& s) {
    unsigned n = 0;
    for (const auto& c : s.subsystem.connectors)
        n += unsigned(std::popcount(c.phy_map));
    return n;
}

Reply link_errors(ControllerFirmware& fw, const Command& carrier, std::span<const std::uint8_t> frame) {
    FirmwareState& s = firmware_state(fw);
    const auto b = BmicCdb::parse(carrier.cdb);
    return fw_with_faults(s, b, 0, std::nullopt, [&]() -> Reply {
        if (frame.size() < kLinkErrorsFrameSize || get_le32(&frame[0]) != kCsmiHeaderSize ||
            get_le32(&frame[24]) < kLinkErrorsFrameSize - kCsmiHeaderSize)
            return check_condition(0x05, 0x26, 0x00); // invalid field in parameter list
        const std::uint8_t phy = frame[28];
        Bytes out(frame.begin(), frame.end());
        auto it = std::find_if(s.phy_errors.begin(), s.phy_errors.end(),
                               [&](const FwPhyErrors& e) { return e.phy == phy; });
        if (it != s.phy_errors.end() && it->err) {
            Reply r;
            r.err = it->err;
            return r;
        }
        if (it != s.phy_errors.end() && !it->sense.empty()) {
            Reply r;
            r.scsi_status = 0x02;
            r.sense = it->sense;
            return r;
        }
        if (phy >= controller_phy_count(s)) {
            put_le32(&out[20], kReturnInvalidParameter);
        } else if (it != s.phy_errors.end() && it->return_code) {
            put_le32(&out[20], it->return_code);
        } else {
            const FwPhyErrors zero;
            const FwPhyErrors& e = it != s.phy_errors.end() ? *it : zero;
            put_le32(&out[20], 0);
            put_le32(&out[32], e.invalid_dword);
            put_le32(&out[36], e.running_disparity);
            put_le32(&out[40], e.loss_of_sync);
            put_le32(&out[44], e.phy_reset_problem);
            // bResetCounts: the counters start again from 0 after this answer.
            if (frame[29] & 0x01 && it != s.phy_errors.end())
                it->invalid_dword = it->running_disparity = it->loss_of_sync = it->phy_reset_problem = 0;
        }
        Reply r;
        r.data_in = std::move(out);
        return r;
    });
}

const FwDrive* expander_at(const FirmwareState& s, const std::array<std::uint8_t, 8>& sas_address) {
    for (const auto& d : s.drives) {
        if (d.device_type != 5)
            continue;
        const auto w = fw_drive_wwid(d);
        if (std::equal(sas_address.begin(), sas_address.end(), w.begin()))
            return &d;
    }
    return nullptr;
}

SmpReply no_destination(std::uint8_t function) {
    SmpReply r;
    r.function = function;
    r.connection_status = 1;
    return r;
}

// Response frames as the CSMI node answers them: REPORT GENERAL 32 bytes (number of phys at
// frame byte 9), DISCOVER 60 bytes (phy 9, attached device type 12, negotiated rate 13, SAS
// address 16).
SmpReply report_general(ControllerFirmware& fw, const SmpRequest& req) {
    const FwDrive* e = expander_at(firmware_state(fw), req.sas_address);
    if (!e)
        return no_destination(req.function);
    SmpReply r;
    r.function = 0x00;
    r.response_length = 7;
    r.additional_response.assign(28, 0);
    r.additional_response[5] = std::uint8_t(std::min<std::size_t>(e->phys.size(), 255));
    return r;
}

SmpReply discover(ControllerFirmware& fw, const SmpRequest& req) {
    const FwDrive* e = expander_at(firmware_state(fw), req.sas_address);
    if (!e)
        return no_destination(req.function);
    SmpReply r;
    r.function = 0x10;
    const std::uint8_t phy = req.additional_request.size() > 5 ? req.additional_request[5] : 0;
    if (phy >= e->phys.size()) {
        r.function_result = 0x10; // phy does not exist
        return r;
    }
    const FwPhy& p = e->phys[phy];
    r.response_length = 14;
    r.additional_response.assign(56, 0);
    r.additional_response[5] = phy;
    r.additional_response[8] = p.connected_type == 0xFF ? 0x00 : 0x10; // end device attached
    r.additional_response[9] = std::uint8_t(p.logical_rate & 0x0F);
    const auto w = fw_drive_wwid(*e);
    std::copy_n(w.begin(), 8, r.additional_response.begin() + 12);
    return r;
}

bool register_all() {
    register_csmi_frame(22, link_errors);
    register_smp(0x00, report_general);
    register_smp(0x10, discover);
    return true;
}

const bool registered = register_all();

} // namespace
} // namespace qvsim
