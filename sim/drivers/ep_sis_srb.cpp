// The SIS driver's send-raw-SRB and reset requests. The SRB and its reply are read by byte
// offset (qvsim/frames.h), not through any structure of the product.
#include <cerrno>
#include <cstring>

#include "drivers/endpoint_util.h"

namespace qvsim {
namespace {

constexpr std::uint32_t kSrbStatusSuccess = 0x01;
constexpr std::uint32_t kSrbStatusError = 0x04;

Direction direction_of(std::uint32_t flags) {
    switch (flags & (kSrbFlagDataIn | kSrbFlagDataOut)) {
        case kSrbFlagDataIn:
            return Direction::kIn;
        case kSrbFlagDataOut:
            return Direction::kOut;
        case kSrbFlagDataIn | kSrbFlagDataOut:
            return Direction::kBoth;
        default:
            return Direction::kNone;
    }
}

// The SRB with its scatter-gather entry when its size says it has one.
Srb read_srb(const void* arg) {
    const auto* p = static_cast<const std::uint8_t*>(arg);
    Srb s = parse_srb_head(p);
    if (s.size == kSrbSize)
        parse_srb_sg(p, s);
    return s;
}

void* sg_pointer(const Srb& s) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(s.sg_address));
}

nlohmann::json decode_srb(const void* arg) {
    const Srb s = read_srb(arg);
    const Direction d = direction_of(s.flags);
    const std::size_t cdb_len = std::min<std::size_t>(s.cdb_length, s.cdb.size());
    nlohmann::json j = {{"Function", s.function},       {"Bus", s.bus},
                        {"TargetId", s.target},         {"Lun", s.lun},
                        {"TimeOutValue", s.timeout},    {"SrbFlags", s.flags},
                        {"DataTransferLength", s.size}, {"RetryLimit", s.retry_limit},
                        {"CdbLength", s.cdb_length},    {"cdb", hex_bytes(s.cdb.data(), cdb_len)}};
    if (s.size == kSrbSize) {
        j["SgCount"] = s.sg_count;
        j["SgFlags"] = s.sg_flags;
        j["SgByteCount"] = s.sg_byte_count;
        j["SgAddress_null"] = s.sg_address == 0;
        if (ep::writes(d) && s.sg_count == 1 && s.sg_address != 0 && s.sg_byte_count > 0) {
            j["data_out"] = ep::data_hex(sg_pointer(s), s.sg_byte_count);
            ep::add_tunnel(j, std::vector<std::uint8_t>(s.cdb.begin(), s.cdb.begin() + cdb_len),
                           sg_pointer(s), s.sg_byte_count, d);
        }
    }
    return j;
}

int serve_srb(Device& dev, void* arg, RequestRecord& rec) {
    const Srb s = read_srb(arg);
    const Direction d = direction_of(s.flags);
    if (s.size != kSrbSize && s.size != kSrbSizeNoData)
        return EINVAL;
    if (s.cdb_length == 0 || s.cdb_length > s.cdb.size())
        return EINVAL;
    // A data phase needs the scatter-gather entry, and one entry is all the SRB has room for.
    if (d != Direction::kNone && (s.size != kSrbSize || s.sg_count != 1 || s.sg_byte_count == 0))
        return EINVAL;
    if (d != Direction::kNone && s.sg_address == 0)
        return EFAULT;

    Command cmd;
    cmd.transport = "sis-srb";
    cmd.cdb.assign(s.cdb.begin(), s.cdb.begin() + s.cdb_length);
    cmd.direction = d;
    cmd.timeout_sec = s.timeout;
    cmd.sense_capacity = kSrbSenseSize;
    cmd.bus = s.bus;
    cmd.target = s.target;
    cmd.lun = s.lun;
    if (ep::reads(d))
        cmd.data_in_length = s.sg_byte_count;
    if (ep::writes(d))
        cmd.data_out = ep::copy_in(sg_pointer(s), s.sg_byte_count);

    const Reply rep = ep::run(dev, cmd, rec);
    if (rep.err)
        return rep.err;

    SrbResult res;
    res.status = rep.command_status;
    res.srb_status = rep.scsi_status == 0 ? kSrbStatusSuccess : kSrbStatusError;
    res.scsi_status = rep.scsi_status;
    std::size_t moved = 0;
    if (ep::reads(d)) {
        const ep::DataIn in = ep::data_in(rep, s.sg_byte_count);
        moved = in.moved;
        res.data_transfer_length = static_cast<std::uint32_t>(in.reported);
        ep::put_bytes(sg_pointer(s), rep.data_in, moved);
    } else if (ep::writes(d)) {
        res.data_transfer_length =
            static_cast<std::uint32_t>(rep.reported_data_length.value_or(s.sg_byte_count));
    }
    res.sense_length = static_cast<std::uint32_t>(ep::claimed_sense(rep, 0xFFFFFFFF));
    ep::put_bytes(res.sense.data(), rep.sense, std::min(rep.sense.size(), res.sense.size()));
    // The reply sits right behind the SRB the caller sent.
    write_srb_result(static_cast<std::uint8_t*>(arg) + s.size, res);

    rec.reply["moved"] = moved;
    rec.reply["result_offset"] = s.size;
    rec.reply["SrbStatus"] = res.srb_status;
    rec.reply["DataTransferLength"] = res.data_transfer_length;
    rec.reply["SenseInfoBufferLength"] = res.sense_length;
    return 0;
}

nlohmann::json decode_reset(const void* arg) {
    return {{"reset_type", *static_cast<const std::uint8_t*>(arg)}};
}

int serve_reset(Device&, void*, RequestRecord&) {
    return 0;
}

const bool registered =
    register_endpoint(DriverKind::kSis, kSisSendSrbRequest, {"SIS_SEND_RAW_SRB", decode_srb, serve_srb}) &&
    register_endpoint(DriverKind::kSis, kSisResetRequest, {"SIS_RESET", decode_reset, serve_reset});

} // namespace
} // namespace qvsim
