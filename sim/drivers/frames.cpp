#include "qvsim/frames.h"

#include <algorithm>
#include <cstring>

#include "qvsim/bytes.h"

namespace qvsim {

Srb parse_srb_head(const std::uint8_t* p) {
    using namespace srb_off;
    Srb s;
    s.function = get_le32(p + kFunction);
    s.bus = get_le32(p + kBus);
    s.target = get_le32(p + kTargetId);
    s.lun = get_le32(p + kLun);
    s.timeout = get_le32(p + kTimeOutValue);
    s.flags = get_le32(p + kSrbFlags);
    s.size = get_le32(p + kDataTransferLength);
    s.retry_limit = get_le32(p + kRetryLimit);
    s.cdb_length = get_le32(p + kCdbLength);
    std::memcpy(s.cdb.data(), p + kCdb, s.cdb.size());
    s.sg_count = get_le16(p + kSgCount);
    s.sg_flags = get_le16(p + kSgFlags);
    return s;
}

void parse_srb_sg(const std::uint8_t* p, Srb& s) {
    using namespace srb_off;
    s.sg_address = static_cast<std::uint64_t>(get_le32(p + kSgAddressLo)) |
                   (static_cast<std::uint64_t>(get_le32(p + kSgAddressHi)) << 32);
    s.sg_byte_count = get_le32(p + kSgByteCount);
}

void write_srb_result(std::uint8_t* p, const SrbResult& r) {
    using namespace srb_result_off;
    std::memset(p, 0, kSrbResultSize);
    put_le32(p + kStatus, r.status);
    put_le32(p + kSrbStatus, r.srb_status);
    put_le32(p + kScsiStatus, r.scsi_status);
    put_le32(p + kDataTransferLength, r.data_transfer_length);
    put_le32(p + kSenseInfoBufferLength, r.sense_length);
    std::copy(r.sense.begin(), r.sense.end(), p + kSenseInfoBuffer);
}

bool is_csmi_carrier(const Command& cmd) {
    return cmd.cdb.size() == 16 && cmd.cdb[0] == 0x27 && cmd.cdb[6] == kBmicCsmiPassthrough;
}

std::uint8_t csmi_control_code(const Command& cmd) {
    return cmd.cdb.size() > 5 ? cmd.cdb[5] : 0;
}

CsmiHeader parse_csmi_header(std::span<const std::uint8_t> f) {
    using namespace csmi_off;
    CsmiHeader h;
    h.header_length = get_le32(&f[kHeaderLength]);
    std::memcpy(h.signature.data(), &f[kSignature], h.signature.size());
    h.timeout = get_le32(&f[kTimeout]);
    h.control_code = get_le32(&f[kControlCode]);
    h.return_code = get_le32(&f[kReturnCode]);
    h.length = get_le32(&f[kLength]);
    return h;
}

std::optional<Command> parse_ssp_frame(std::span<const std::uint8_t> f, std::string* why) {
    using namespace ssp_off;
    auto fail = [&](std::string m) -> std::optional<Command> {
        if (why)
            *why = std::move(m);
        return std::nullopt;
    };
    if (f.size() < kSspFrameSize)
        return fail("SSP frame of " + std::to_string(f.size()) + " bytes, less than 372");
    const std::uint32_t data_length = get_le32(&f[kDataLength]);
    if (data_length > f.size() - kSspFrameSize)
        return fail("SSP data length " + std::to_string(data_length) + " beyond the frame's " +
                    std::to_string(f.size() - kSspFrameSize) + " data bytes");
    const std::uint8_t cdb_length = f[kCdbLength];
    if (cdb_length == 0 || cdb_length > 16)
        return fail("SSP CDB length " + std::to_string(cdb_length));
    Command c;
    c.transport = "csmi-ssp";
    c.cdb.assign(f.begin() + kCdb, f.begin() + kCdb + cdb_length);
    std::copy_n(f.begin() + kLun, 8, c.lun_address.begin());
    c.timeout_sec = get_le32(&f[csmi_off::kTimeout]);
    c.sense_capacity = kSspResponseBytes;
    switch (get_le32(&f[kFlags])) {
        case 1:
            c.direction = Direction::kIn;
            break;
        case 2:
            c.direction = Direction::kOut;
            break;
        case 3:
            c.direction = Direction::kBoth;
            break;
        default:
            c.direction = Direction::kNone;
            break;
    }
    if (c.direction == Direction::kIn || c.direction == Direction::kBoth)
        c.data_in_length = data_length;
    if (c.direction == Direction::kOut || c.direction == Direction::kBoth)
        c.data_out.assign(f.begin() + kDataBuffer, f.begin() + kDataBuffer + data_length);
    return c;
}

std::vector<std::uint8_t> write_ssp_reply(std::span<const std::uint8_t> frame, const Command& inner,
                                          const Reply& r) {
    using namespace ssp_off;
    std::vector<std::uint8_t> f(frame.begin(), frame.end());
    f[kConnectionStatus] = 0;
    f[kSspStatus] = 1; // completed
    f[kStatus] = r.scsi_status;
    const std::size_t claimed = r.reported_sense_length.value_or(r.sense.size());
    const std::size_t copied = std::min({r.sense.size(), kSspResponseBytes});
    if (claimed != 0 || !r.sense.empty()) {
        f[kDataPresent] = 2;
        const std::size_t len = std::min<std::size_t>(claimed, 0xFFFF);
        f[kResponseLength] = static_cast<std::uint8_t>(len >> 8);
        f[kResponseLength + 1] = static_cast<std::uint8_t>(len);
        std::copy_n(r.sense.begin(), copied, f.begin() + kResponse);
    }
    std::size_t moved = 0;
    if (inner.direction == Direction::kIn || inner.direction == Direction::kBoth) {
        moved = std::min(r.data_in.size(), inner.data_in_length);
        std::copy_n(r.data_in.begin(), moved, f.begin() + kDataBuffer);
    } else {
        moved = inner.data_out.size();
    }
    put_le32(&f[kDataBytes], static_cast<std::uint32_t>(r.reported_data_length.value_or(moved)));
    return f;
}

std::optional<SmpRequest> parse_smp_frame(std::span<const std::uint8_t> f, std::string* why) {
    using namespace smp_off;
    if (f.size() < kSmpFrameSize) {
        if (why)
            *why = "SMP frame of " + std::to_string(f.size()) + " bytes, less than 2092";
        return std::nullopt;
    }
    SmpRequest s;
    s.header = parse_csmi_header(f);
    s.phy_identifier = f[kPhy];
    s.port_identifier = f[kPort];
    s.connection_rate = f[kConnectionRate];
    std::copy_n(f.begin() + kDestinationSasAddress, 8, s.sas_address.begin());
    s.request_length = get_le32(&f[kRequestLength]);
    s.frame_type = f[kRequestFrameType];
    s.function = f[kRequestFunction];
    s.allocated_response_length = f[kAllocatedResponseLength];
    s.header_request_length = f[kRequestHeaderLength];
    const std::size_t n = std::min<std::size_t>(s.request_length, kSmpAdditionalBytes);
    s.additional_request.assign(f.begin() + kAdditionalRequest, f.begin() + kAdditionalRequest + n);
    return s;
}

std::vector<std::uint8_t> write_smp_reply(std::span<const std::uint8_t> frame, const SmpReply& r) {
    using namespace smp_off;
    std::vector<std::uint8_t> f(frame.begin(), frame.end());
    const std::size_t n = std::min(r.additional_response.size(), kSmpAdditionalBytes);
    f[kConnectionStatus] = r.connection_status;
    put_le32(&f[kResponseBytes], r.response_bytes.value_or(static_cast<std::uint32_t>(4 + n)));
    f[kResponseFrameType] = r.frame_type;
    f[kResponseFunction] = r.function;
    f[kFunctionResult] = r.function_result;
    f[kResponseLength] = r.response_length;
    std::fill(f.begin() + kAdditionalResponse, f.begin() + kAdditionalResponse + kSmpAdditionalBytes, 0);
    std::copy_n(r.additional_response.begin(), n, f.begin() + kAdditionalResponse);
    return f;
}

nlohmann::json describe_csmi_frame(std::uint8_t control_code, std::span<const std::uint8_t> f) {
    nlohmann::json j;
    j["control_code"] = control_code;
    j["frame_size"] = f.size();
    if (f.size() < kCsmiHeaderSize)
        return j;
    const CsmiHeader h = parse_csmi_header(f);
    j["header"] = {
        {"header_length", h.header_length}, {"signature", hex_bytes(h.signature)}, {"timeout", h.timeout},
        {"control_code", h.control_code},   {"return_code", h.return_code},  {"length", h.length}};
    if (control_code == kCsmiSspControlCode && f.size() >= kSspFrameSize) {
        using namespace ssp_off;
        j["kind"] = "ssp";
        j["phy"] = f[kPhy];
        j["port"] = f[kPort];
        j["sas_address"] = hex_bytes(f.subspan(kDestinationSasAddress, 8));
        j["lun"] = hex_bytes(f.subspan(kLun, 8));
        j["cdb_length"] = f[kCdbLength];
        j["cdb"] = hex_bytes(f.subspan(kCdb, std::min<std::size_t>(f[kCdbLength], 16)));
        j["flags"] = get_le32(&f[kFlags]);
        j["data_length"] = get_le32(&f[kDataLength]);
        const std::size_t avail = f.size() - kDataBuffer;
        const std::size_t n = std::min<std::size_t>({get_le32(&f[kDataLength]), avail, 64});
        if (get_le32(&f[kFlags]) == 2 || get_le32(&f[kFlags]) == 3)
            j["data_out_head"] = hex_bytes(f.subspan(kDataBuffer, n));
    } else if (control_code == kCsmiSmpControlCode && f.size() >= kSmpFrameSize) {
        using namespace smp_off;
        j["kind"] = "smp";
        j["phy"] = f[kPhy];
        j["port"] = f[kPort];
        j["sas_address"] = hex_bytes(f.subspan(kDestinationSasAddress, 8));
        j["request_length"] = get_le32(&f[kRequestLength]);
        j["request_header"] = hex_bytes(f.subspan(kRequestFrameType, 4));
        const std::size_t n = std::min<std::size_t>(get_le32(&f[kRequestLength]), 64);
        j["request_head"] = hex_bytes(f.subspan(kAdditionalRequest, n));
    }
    return j;
}

Command smp_as_command(const SmpRequest& req) {
    Command c;
    c.transport = "csmi-smp";
    c.cdb = {req.frame_type, req.function, req.allocated_response_length, req.header_request_length};
    c.cdb.insert(c.cdb.end(), req.additional_request.begin(), req.additional_request.end());
    c.lun_address = req.sas_address;
    c.direction = Direction::kBoth;
    c.data_in_length = 4 + kSmpAdditionalBytes;
    c.bus = req.phy_identifier;
    c.target = req.port_identifier;
    return c;
}

SmpReply smp_reply_from(const Reply& r) {
    SmpReply s;
    s.err = r.err;
    const auto& d = r.data_in;
    if (d.size() > 0)
        s.frame_type = d[0];
    if (d.size() > 1)
        s.function = d[1];
    if (d.size() > 2)
        s.function_result = d[2];
    if (d.size() > 3)
        s.response_length = d[3];
    if (d.size() > 4)
        s.additional_response.assign(d.begin() + 4, d.end());
    if (r.reported_data_length)
        s.response_bytes = static_cast<std::uint32_t>(*r.reported_data_length);
    return s;
}

} // namespace qvsim
