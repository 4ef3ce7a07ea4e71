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

// One logged request of a run that spans nodes: an open of a node, or a request on the node opened
// last (the library opens the node for each command).
struct Step {
    bool open = false;
    Read read;
};

// Every open and pass-through of the log, in order; PCI-info requests are kept as requests with no
// pass-through record.
inline std::vector<Step> Steps(qvsim::Sandbox& host) {
    std::vector<Step> steps;
    std::vector<Read> reads = Recorded(host, [](const Read&) { return true; });
    size_t next = 0;
    for (const auto& r : host.requests()) {
        Step s;
        if (r.op == "open") {
            s.open = true;
            s.read.node = r.node;
        } else if (r.op == "ioctl" && r.request == CCISS_GETPCIINFO) {
            s.read.node = r.node;
            s.read.request = r.request;
        } else if (next < reads.size() && r.op == "ioctl" && r.request == reads[next].request) {
            s.read = std::move(reads[next++]);
        } else {
            continue;
        }
        steps.push_back(std::move(s));
    }
    return steps;
}

inline size_t RequestCount(const std::vector<Step>& steps) {
    return static_cast<size_t>(std::count_if(steps.begin(), steps.end(), [](const Step& s) { return !s.open; }));
}

// Sends the steps again as they were: each open, then its requests; false when one of them fails.
inline bool Replay(const std::vector<Step>& steps, std::vector<unsigned char>& buffer) {
    int fd = -1;
    bool ok = true;
    for (const Step& s : steps) {
        if (s.open) {
            if (fd >= 0) {
                ::close(fd);
            }
            fd = ::open(s.read.node.c_str(), O_RDWR);
            ok = ok && fd >= 0;
        } else if (s.read.request == CCISS_GETPCIINFO) {
            cciss_pci_info_struct info{};
            ok = ok && ::ioctl(fd, CCISS_GETPCIINFO, &info) == 0;
        } else if (s.read.request == CCISS_PASSTHRU) {
            IOCTL_Command_struct command{};
            FillRequest(command, s.read, buffer);
            ok = ok && ::ioctl(fd, CCISS_PASSTHRU, &command) == 0;
        } else {
            BIG_IOCTL_Command_struct command{};
            FillRequest(command, s.read, buffer);
            command.malloc_size = s.read.buf_size;
            ok = ok && ::ioctl(fd, CCISS_BIG_PASSTHRU, &command) == 0;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

} // namespace bench_replay
