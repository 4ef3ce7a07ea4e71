// SCSI generic SG_IO, decoded with the kernel's sg_io_hdr.
#include <scsi/sg.h>

#include <cerrno>
#include <cstring>

#include "drivers/endpoint_util.h"

namespace qvsim {
namespace {

static_assert(SG_IO == 0x2285);
static_assert(sizeof(sg_io_hdr_t) == 88);

constexpr unsigned kDriverSense = 0x08;
constexpr std::size_t kMaxCdb = 16;

bool direction_of(int dxfer_direction, Direction* d) {
    switch (dxfer_direction) {
        case SG_DXFER_NONE:
            *d = Direction::kNone;
            return true;
        case SG_DXFER_TO_DEV:
            *d = Direction::kOut;
            return true;
        case SG_DXFER_FROM_DEV:
            *d = Direction::kIn;
            return true;
        case SG_DXFER_TO_FROM_DEV:
            *d = Direction::kBoth;
            return true;
        default:
            return false;
    }
}

nlohmann::json decode(const void* arg) {
    sg_io_hdr_t h;
    std::memcpy(&h, arg, sizeof h);
    nlohmann::json j = {{"interface_id", h.interface_id}, {"dxfer_direction", h.dxfer_direction},
                        {"cmd_len", h.cmd_len},           {"mx_sb_len", h.mx_sb_len},
                        {"iovec_count", h.iovec_count},   {"dxfer_len", h.dxfer_len},
                        {"timeout_ms", h.timeout},        {"flags", h.flags},
                        {"pack_id", h.pack_id},           {"dxferp_null", h.dxferp == nullptr},
                        {"sbp_null", h.sbp == nullptr}};
    if (h.cmdp != nullptr)
        j["cdb"] = hex_bytes(h.cmdp, std::min<std::size_t>(h.cmd_len, kMaxCdb));
    Direction d;
    if (direction_of(h.dxfer_direction, &d) && ep::writes(d) && h.dxferp != nullptr && h.dxfer_len > 0 &&
        h.iovec_count == 0) {
        j["data_out"] = ep::data_hex(h.dxferp, h.dxfer_len);
        if (h.cmdp != nullptr && h.cmd_len <= kMaxCdb)
            ep::add_tunnel(j, ep::copy_in(h.cmdp, h.cmd_len), h.dxferp, h.dxfer_len, d);
    }
    return j;
}

int serve(Device& dev, void* arg, RequestRecord& rec) {
    sg_io_hdr_t h;
    std::memcpy(&h, arg, sizeof h);
    if (h.interface_id != 'S')
        return ENOSYS;
    Direction d;
    // Scatter-gather lists are not simulated; nobody here sends them.
    if (!direction_of(h.dxfer_direction, &d) || h.iovec_count != 0)
        return EINVAL;
    if (h.cmd_len == 0 || h.cmd_len > kMaxCdb)
        return EINVAL;
    if (h.cmdp == nullptr || (h.dxfer_len > 0 && d != Direction::kNone && h.dxferp == nullptr) ||
        (h.mx_sb_len > 0 && h.sbp == nullptr))
        return EFAULT;

    Command cmd;
    cmd.transport = "sg_io";
    cmd.cdb = ep::copy_in(h.cmdp, h.cmd_len);
    cmd.direction = d;
    cmd.timeout_sec = h.timeout / 1000;
    cmd.sense_capacity = h.mx_sb_len;
    if (ep::reads(d))
        cmd.data_in_length = h.dxfer_len;
    if (ep::writes(d))
        cmd.data_out = ep::copy_in(h.dxferp, h.dxfer_len);

    const Reply rep = ep::run(dev, cmd, rec);
    if (rep.err)
        return rep.err;

    const std::size_t sense_copied = std::min<std::size_t>(rep.sense.size(), h.mx_sb_len);
    ep::put_bytes(h.sbp, rep.sense, sense_copied);
    std::size_t moved = 0, reported = 0;
    if (ep::reads(d)) {
        const ep::DataIn in = ep::data_in(rep, h.dxfer_len);
        moved = in.moved;
        reported = in.reported;
        ep::put_bytes(h.dxferp, rep.data_in, moved);
    } else if (ep::writes(d)) {
        reported = rep.reported_data_length.value_or(h.dxfer_len);
    }
    h.status = rep.scsi_status;
    h.masked_status = static_cast<unsigned char>((rep.scsi_status >> 1) & 0x7F);
    h.msg_status = 0;
    // A lying length (a fault) may exceed the buffer; the true one never does.
    h.sb_len_wr = static_cast<unsigned char>(
        rep.reported_sense_length ? std::min<std::size_t>(*rep.reported_sense_length, 0xFF) : sense_copied);
    h.host_status = 0;
    h.driver_status = static_cast<unsigned short>(h.sb_len_wr ? kDriverSense : 0);
    h.resid = static_cast<int>(
        ep::reads(d) || ep::writes(d) ? (reported < h.dxfer_len ? h.dxfer_len - reported : 0) : 0);
    h.duration = 0;
    h.info = (h.status || h.host_status || h.driver_status) ? SG_INFO_CHECK : SG_INFO_OK;
    std::memcpy(arg, &h, sizeof h);

    rec.reply["moved"] = moved;
    rec.reply["sb_len_wr"] = h.sb_len_wr;
    rec.reply["resid"] = h.resid;
    rec.reply["masked_status"] = h.masked_status;
    return 0;
}

const bool registered = register_endpoint(DriverKind::kCiss, SG_IO, {"SG_IO", decode, serve}) &&
                        register_endpoint(DriverKind::kBlock, SG_IO, {"SG_IO", decode, serve});

} // namespace
} // namespace qvsim
