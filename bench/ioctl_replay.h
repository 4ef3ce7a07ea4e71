// The baseline of a simulated benchmark: the pass-through ioctls a library run sent, taken from the
// request log and sent again as they were, with nothing of the library around them.
#pragma once

#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "qvsim/qvsim.h"

namespace bench_replay {

// One pass-through request, as the library sent it.
struct Read {
    std::string node;
    unsigned long request = 0;
    std::vector<unsigned char> lun, cdb;
    unsigned direction = 0, buf_size = 0, timeout = 0;
};

inline std::vector<unsigned char> FromHex(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 3) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The CISS pass-through requests of the log that `keep` accepts.
template <typename Keep> std::vector<Read> Recorded(qvsim::Sandbox& host, Keep keep) {
    std::vector<Read> reads;
    for (const auto& r : host.requests()) {
        if (r.op != "ioctl" || (r.request != CCISS_PASSTHRU && r.request != CCISS_BIG_PASSTHRU)) {
            continue;
        }
        Read read;
        read.node = r.node;
        read.request = r.request;
        read.lun = FromHex(r.decoded.value("lun", ""));
        read.cdb = FromHex(r.decoded.value("cdb", ""));
        read.direction = r.decoded.value("direction", 0u);
        read.buf_size = r.decoded.value("buf_size", 0u);
        read.timeout = r.decoded.value("timeout", 0u);
        if (keep(read)) {
            reads.push_back(std::move(read));
        }
    }
    return reads;
}

template <typename Record>
void FillRequest(Record& command, const Read& r, std::vector<unsigned char>& buffer) {
    std::memcpy(command.LUN_info.LunAddrBytes, r.lun.data(), std::min(r.lun.size(), sizeof command.LUN_info));
    command.Request.CDBLen = static_cast<BYTE>(r.cdb.size());
    std::memcpy(command.Request.CDB, r.cdb.data(), std::min(r.cdb.size(), sizeof command.Request.CDB));
    command.Request.Type.Type = TYPE_CMD;
    command.Request.Type.Attribute = ATTR_SIMPLE;
    command.Request.Type.Direction = static_cast<BYTE>(r.direction);
    command.Request.Timeout = static_cast<HWORD>(r.timeout);
    if (buffer.size() < r.buf_size) {
        buffer.resize(r.buf_size);
    }
    command.buf_size = r.buf_size;
    command.buf = buffer.data();
}

// Sends the requests again on their node; false when one of them fails.
inline bool Replay(const std::vector<Read>& reads, std::vector<unsigned char>& buffer) {
    if (reads.empty()) {
        return true;
    }
    const int fd = ::open(reads.front().node.c_str(), O_RDWR);
    bool ok = fd >= 0;
    for (const Read& r : reads) {
        if (!ok) {
            break;
        }
        if (r.request == CCISS_PASSTHRU) {
            IOCTL_Command_struct command{};
            FillRequest(command, r, buffer);
            ok = ::ioctl(fd, CCISS_PASSTHRU, &command) == 0;
        } else {
            BIG_IOCTL_Command_struct command{};
            FillRequest(command, r, buffer);
            command.malloc_size = r.buf_size;
            ok = ::ioctl(fd, CCISS_BIG_PASSTHRU, &command) == 0;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

} // namespace bench_replay
