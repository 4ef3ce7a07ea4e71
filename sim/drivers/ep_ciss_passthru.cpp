// The CISS driver's pass-through requests (ordinary and big) and register-new-disks, decoded
// with the kernel's own record definitions.
#include <linux/cciss_ioctl.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "drivers/endpoint_util.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

static_assert(CCISS_PASSTHRU == 0xC058420BUL);
static_assert(CCISS_BIG_PASSTHRU == 0xC0604212UL);
static_assert(CCISS_REGNEWD == 0x420EUL);
static_assert(sizeof(IOCTL_Command_struct) == 88 && sizeof(BIG_IOCTL_Command_struct) == 96);

// Limits the driver puts on a big pass-through: one chunk at most this size, at most this many chunks.
constexpr std::size_t kMaxChunk = MAX_KMALLOC_SIZE;
constexpr std::size_t kMaxChunks = 32;

Direction direction_of(unsigned bits) {
    switch (bits & 3) {
        case XFER_WRITE:
            return Direction::kOut;
        case XFER_READ:
            return Direction::kIn;
        case XFER_RSVD:
            return Direction::kBoth;
        default:
            return Direction::kNone;
    }
}

template <class Rec> nlohmann::json decode(const void* arg) {
    Rec r;
    std::memcpy(&r, arg, sizeof r);
    const Direction d = direction_of(r.Request.Type.Direction);
    const std::size_t cdb_len = std::min<std::size_t>(r.Request.CDBLen, sizeof r.Request.CDB);
    nlohmann::json j = {{"lun", hex_bytes(r.LUN_info.LunAddrBytes, 8)},
                        {"cdb_len", unsigned{r.Request.CDBLen}},
                        {"type", unsigned{r.Request.Type.Type}},
                        {"attribute", unsigned{r.Request.Type.Attribute}},
                        {"direction", unsigned{r.Request.Type.Direction}},
                        {"timeout", unsigned{r.Request.Timeout}},
                        {"cdb", hex_bytes(r.Request.CDB, cdb_len)},
                        {"buf_size", unsigned{r.buf_size}},
                        {"buf_null", r.buf == nullptr}};
    if constexpr (std::is_same_v<Rec, BIG_IOCTL_Command_struct>)
        j["malloc_size"] = unsigned{r.malloc_size};
    if (ep::writes(d) && r.buf != nullptr && r.buf_size > 0) {
        j["data_out"] = ep::data_hex(r.buf, r.buf_size);
        ep::add_tunnel(j, std::vector<std::uint8_t>(r.Request.CDB, r.Request.CDB + cdb_len), r.buf,
                       r.buf_size, d);
    }
    return j;
}

template <class Rec> int serve(Device& dev, void* arg, RequestRecord& rec) {
    Rec r;
    std::memcpy(&r, arg, sizeof r);
    const Direction d = direction_of(r.Request.Type.Direction);
    const std::size_t size = r.buf_size;
    if (r.Request.CDBLen > sizeof r.Request.CDB)
        return EINVAL;
    // The driver refuses a data phase without data.
    if (size == 0 && d != Direction::kNone)
        return EINVAL;
    if constexpr (std::is_same_v<Rec, BIG_IOCTL_Command_struct>) {
        if (r.malloc_size == 0 || r.malloc_size > kMaxChunk || size > std::size_t{r.malloc_size} * kMaxChunks)
            return EINVAL;
    }
    if (d != Direction::kNone && r.buf == nullptr)
        return EFAULT;

    Command cmd;
    cmd.transport = std::is_same_v<Rec, BIG_IOCTL_Command_struct> ? "ciss-big" : "ciss";
    cmd.cdb.assign(r.Request.CDB, r.Request.CDB + r.Request.CDBLen);
    cmd.direction = d;
    cmd.timeout_sec = r.Request.Timeout;
    cmd.sense_capacity = SENSEINFOBYTES;
    std::memcpy(cmd.lun_address.data(), r.LUN_info.LunAddrBytes, 8);
    if (ep::reads(d))
        cmd.data_in_length = size;
    if (ep::writes(d))
        cmd.data_out = ep::copy_in(r.buf, size);

    const Reply rep = ep::run(dev, cmd, rec);
    if (rep.err)
        return rep.err;

    std::memset(&r.error_info, 0, sizeof r.error_info);
    r.error_info.ScsiStatus = rep.scsi_status;
    r.error_info.CommandStatus = rep.command_status;
    r.error_info.SenseLen = static_cast<BYTE>(ep::claimed_sense(rep, 0xFF));
    ep::put_bytes(r.error_info.SenseInfo, rep.sense,
                  std::min(rep.sense.size(), sizeof r.error_info.SenseInfo));
    std::size_t moved = 0, reported = 0;
    if (ep::reads(d)) {
        const ep::DataIn in = ep::data_in(rep, size);
        moved = in.moved;
        reported = in.reported;
        // The driver reads into a zeroed bounce buffer and copies all of it back.
        ep::put_bytes(r.buf, rep.data_in, moved);
        std::memset(r.buf + moved, 0, size - moved);
    } else {
        reported = rep.reported_data_length.value_or(cmd.data_out.size());
    }
    r.error_info.ResidualCnt = static_cast<DWORD>(reported < size ? size - reported : 0);
    std::memcpy(arg, &r, sizeof r);

    rec.reply["moved"] = moved;
    rec.reply["SenseLen"] = r.error_info.SenseLen;
    rec.reply["ResidualCnt"] = r.error_info.ResidualCnt;
    return 0;
}

int serve_regnewd(Device& dev, void*, RequestRecord&) {
    if (auto* fw = dynamic_cast<ControllerFirmware*>(&dev.firmware()))
        ++firmware_state(*fw).updates.register_new_disks;
    return 0;
}

const bool registered =
    register_endpoint(DriverKind::kCiss, CCISS_PASSTHRU,
                      {"CCISS_PASSTHRU", decode<IOCTL_Command_struct>, serve<IOCTL_Command_struct>}) &&
    register_endpoint(
        DriverKind::kCiss, CCISS_BIG_PASSTHRU,
        {"CCISS_BIG_PASSTHRU", decode<BIG_IOCTL_Command_struct>, serve<BIG_IOCTL_Command_struct>}) &&
    register_endpoint(DriverKind::kCiss, CCISS_REGNEWD,
                      {"CCISS_REGNEWD", nullptr, serve_regnewd, /*takes_arg=*/false});

} // namespace
} // namespace qvsim
