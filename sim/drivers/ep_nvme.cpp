// The NVMe admin-command request, decoded with the kernel's nvme_admin_cmd. None of the simulated
// nodes is an NVMe device: the command is logged and offered to the firmware, and unless the
// firmware answers it (transport "nvme-admin", the 64 command bytes as CDB) the node refuses it.
#include <linux/ioctl.h>
#include <linux/nvme_ioctl.h>

#include <cerrno>
#include <cstring>

#include "drivers/endpoint_util.h"

namespace qvsim {
namespace {

static_assert(NVME_IOCTL_ADMIN_CMD == 0xC0484E41UL);
static_assert(sizeof(nvme_admin_cmd) == 72);
constexpr std::size_t kCommandBytes = 64;

Direction direction_of(std::uint8_t opcode) {
    switch (opcode & 3) {
        case 1:
            return Direction::kOut;
        case 2:
            return Direction::kIn;
        case 3:
            return Direction::kBoth;
        default:
            return Direction::kNone;
    }
}

void* data_pointer(const nvme_admin_cmd& c) {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(c.addr));
}

nlohmann::json decode(const void* arg) {
    nvme_admin_cmd c;
    std::memcpy(&c, arg, sizeof c);
    nlohmann::json j = {{"opcode", c.opcode},
                        {"flags", c.flags},
                        {"nsid", c.nsid},
                        {"data_len", c.data_len},
                        {"cdw10", c.cdw10},
                        {"cdw11", c.cdw11},
                        {"cdw12", c.cdw12},
                        {"cdw13", c.cdw13},
                        {"cdw14", c.cdw14},
                        {"cdw15", c.cdw15},
                        {"timeout_ms", c.timeout_ms},
                        {"addr_null", c.addr == 0},
                        {"command", hex_bytes(arg, kCommandBytes)}};
    if (ep::writes(direction_of(c.opcode)) && c.addr != 0 && c.data_len > 0)
        j["data_out"] = ep::data_hex(data_pointer(c), c.data_len);
    return j;
}

int serve(Device& dev, void* arg, RequestRecord& rec) {
    nvme_admin_cmd c;
    std::memcpy(&c, arg, sizeof c);
    const Direction d = c.data_len ? direction_of(c.opcode) : Direction::kNone;
    if (d != Direction::kNone && c.addr == 0)
        return EFAULT;
    Command cmd;
    cmd.transport = "nvme-admin";
    cmd.cdb = ep::copy_in(arg, kCommandBytes);
    cmd.direction = d;
    cmd.timeout_sec = c.timeout_ms / 1000;
    if (ep::reads(d))
        cmd.data_in_length = c.data_len;
    if (ep::writes(d))
        cmd.data_out = ep::copy_in(data_pointer(c), c.data_len);
    const Reply rep = ep::run(dev, cmd, rec);
    if (rep.err)
        return rep.err;
    if (rep.scsi_status != 0)
        return ENOTTY;
    if (ep::reads(d)) {
        const ep::DataIn in = ep::data_in(rep, c.data_len);
        ep::put_bytes(data_pointer(c), rep.data_in, in.moved);
        rec.reply["moved"] = in.moved;
    }
    c.result = rep.command_status;
    std::memcpy(arg, &c, sizeof c);
    return 0;
}

const bool registered =
    register_endpoint(DriverKind::kCiss, NVME_IOCTL_ADMIN_CMD, {"NVME_IOCTL_ADMIN_CMD", decode, serve}) &&
    register_endpoint(DriverKind::kSis, NVME_IOCTL_ADMIN_CMD, {"NVME_IOCTL_ADMIN_CMD", decode, serve}) &&
    register_endpoint(DriverKind::kBlock, NVME_IOCTL_ADMIN_CMD, {"NVME_IOCTL_ADMIN_CMD", decode, serve});

} // namespace
} // namespace qvsim
