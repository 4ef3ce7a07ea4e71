#include "qvsim/recorder.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "qvsim/controller_fw.h"
#include "qvsim/device.h"
#include "qvsim/fw_state.h"

namespace qvsim {

namespace detail {
std::atomic<bool> g_recording{false};
std::atomic<bool> g_timing{false};
} // namespace detail

namespace {

// The record of an ioctl's argument: its own bytes, and the buffers it points to.
struct Buffer {
    std::size_t pointer_at = 0;
    std::size_t length = 0;
    bool out = false; // the device reads it
    bool in = false;  // the device writes it
};
struct Layout {
    std::size_t size = 0;
    std::vector<Buffer> buffers;
};

const void* pointer_in(const std::uint8_t* record, std::size_t at) {
    const void* p = nullptr;
    std::memcpy(&p, record + at, sizeof p);
    return p;
}

// The CISS pass-through records: one buffer, its direction in the request's type.
template <class Rec> Layout ciss_layout(const void* arg) {
    Rec r;
    std::memcpy(&r, arg, sizeof r);
    Layout l{sizeof r, {}};
    const unsigned direction = r.Request.Type.Direction & 3;
    if (r.buf != nullptr && r.buf_size > 0) {
        l.buffers.push_back({offsetof(Rec, buf), r.buf_size, direction == XFER_WRITE || direction == XFER_RSVD,
                             direction == XFER_READ || direction == XFER_RSVD});
    }
    return l;
}

Layout sg_layout(const void* arg) {
    sg_io_hdr_t h;
    std::memcpy(&h, arg, sizeof h);
    Layout l{sizeof h, {}};
    if (h.cmdp != nullptr && h.cmd_len > 0)
        l.buffers.push_back({offsetof(sg_io_hdr_t, cmdp), h.cmd_len, true, false});
    if (h.dxferp != nullptr && h.dxfer_len > 0) {
        const bool out = h.dxfer_direction == SG_DXFER_TO_DEV || h.dxfer_direction == SG_DXFER_TO_FROM_DEV;
        const bool in = h.dxfer_direction == SG_DXFER_FROM_DEV || h.dxfer_direction == SG_DXFER_TO_FROM_DEV;
        l.buffers.push_back({offsetof(sg_io_hdr_t, dxferp), h.dxfer_len, out, in});
    }
    if (h.sbp != nullptr && h.mx_sb_len > 0)
        l.buffers.push_back({offsetof(sg_io_hdr_t, sbp), h.mx_sb_len, false, true});
    return l;
}

// False for a request whose record the recorder does not know: replaying it would send something
// else. The CISS driver's other requests are flat records of the size their code gives.
bool layout_of(unsigned long request, const void* arg, Layout* out) {
    if (request == CCISS_REGNEWD || arg == nullptr) {
        *out = Layout{};
        return true;
    }
    if (request == CCISS_PASSTHRU) {
        *out = ciss_layout<IOCTL_Command_struct>(arg);
        return true;
    }
    if (request == CCISS_BIG_PASSTHRU) {
        *out = ciss_layout<BIG_IOCTL_Command_struct>(arg);
        return true;
    }
    if (request == SG_IO) {
        sg_io_hdr_t h;
        std::memcpy(&h, arg, sizeof h);
        if (h.iovec_count != 0)
            return false;
        *out = sg_layout(arg);
        return true;
    }
    if (_IOC_TYPE(request) == CCISS_IOC_MAGIC && _IOC_DIR(request) != _IOC_NONE && _IOC_SIZE(request) > 0) {
        *out = Layout{_IOC_SIZE(request), {}};
        return true;
    }
    return false;
}

bool below_host(const char* path) {
    if (path == nullptr)
        return false;
    for (const char* root : {"/sys", "/dev", "/proc", "/etc"}) {
        const std::size_t n = std::strlen(root);
        if (std::strncmp(path, root, n) == 0 && (path[n] == '/' || path[n] == '\0'))
            return true;
    }
    return false;
}

struct Recorder {
    std::mutex mu;
    Recording rec;
    std::map<long, int> fds;                 // descriptor -> slot
    std::map<const void*, int> handles;      // DIR* or FILE* -> slot
    std::map<long, Layout> pending;          // ioctl call number -> its layout

    Call& add(CallKind kind, int slot) {
        Call c;
        c.kind = kind;
        c.slot = slot;
        rec.calls.push_back(std::move(c));
        return rec.calls.back();
    }
    int new_slot() { return rec.slots++; }
};

Recorder& recorder() {
    static Recorder* r = new Recorder;
    return *r;
}

thread_local int t_depth = 0;

std::atomic<std::uint64_t> g_simulator_ns{0};

void put_text(std::vector<std::uint8_t>& to, const char* text, std::size_t n) {
    to.assign(reinterpret_cast<const std::uint8_t*>(text), reinterpret_cast<const std::uint8_t*>(text) + n);
}

std::vector<std::uint8_t> stat_bytes(const void* st) {
    const auto* s = static_cast<const struct stat*>(st);
    std::vector<std::uint8_t> b(sizeof(s->st_mode) + sizeof(s->st_rdev));
    std::memcpy(b.data(), &s->st_mode, sizeof s->st_mode);
    std::memcpy(b.data() + sizeof s->st_mode, &s->st_rdev, sizeof s->st_rdev);
    return b;
}

} // namespace

const char* call_name(CallKind kind) {
    static const char* const kNames[] = {"open",    "close", "read",     "ioctl",    "opendir", "readdir",
                                         "closedir", "stat", "lstat",    "readlink", "realpath", "fopen",
                                         "fgets",   "fclose", "mknod",   "unlink"};
    return kNames[static_cast<int>(kind)];
}

std::size_t Recording::count(CallKind kind) const {
    std::size_t n = 0;
    for (const Call& c : calls)
        n += c.kind == kind ? 1 : 0;
    return n;
}

std::string Recording::same_calls(const Recording& other) const {
    const std::size_t n = std::min(calls.size(), other.calls.size());
    for (std::size_t i = 0; i < n; ++i) {
        const Call& a = calls[i];
        const Call& b = other.calls[i];
        if (a.kind != b.kind || a.slot != b.slot || a.path != b.path || a.arg != b.arg || a.arg2 != b.arg2) {
            return "call " + std::to_string(i) + ": " + call_name(a.kind) + " " + a.path + " became " +
                   call_name(b.kind) + " " + b.path;
        }
        // The record's pointers differ from run to run; the data out after them must not.
        if (a.kind == CallKind::kIoctl) {
            Layout la, lb;
            if (layout_of(a.arg, a.sent.data(), &la) && layout_of(b.arg, b.sent.data(), &lb)) {
                std::vector<std::uint8_t> x = a.sent, y = b.sent;
                for (const Buffer& buf : la.buffers)
                    std::memset(x.data() + buf.pointer_at, 0, sizeof(void*));
                for (const Buffer& buf : lb.buffers)
                    std::memset(y.data() + buf.pointer_at, 0, sizeof(void*));
                if (x != y) {
                    std::size_t at = 0;
                    while (at < x.size() && at < y.size() && x[at] == y[at])
                        ++at;
                    return "call " + std::to_string(i) + ": ioctl " + std::to_string(a.arg) +
                           " sent other data from byte " + std::to_string(at) + " of " + std::to_string(x.size()) + " (" +
                           std::to_string(at < x.size() ? x[at] : -1) + " became " +
                           std::to_string(at < y.size() ? y[at] : -1) + ")";
                }
            }
        } else if (a.sent != b.sent) {
            return "call " + std::to_string(i) + ": " + call_name(a.kind) + " sent other data";
        }
    }
    if (calls.size() != other.calls.size()) {
        return std::to_string(calls.size()) + " calls became " + std::to_string(other.calls.size());
    }
    return "";
}

void start_recording() {
    Recorder& r = recorder();
    {
        std::lock_guard lk(r.mu);
        r.rec = Recording{};
        r.fds.clear();
        r.handles.clear();
        r.pending.clear();
    }
    detail::g_recording.store(true);
}

Recording stop_recording() {
    detail::g_recording.store(false);
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Recording out = std::move(r.rec);
    r.rec = Recording{};
    r.fds.clear();
    r.handles.clear();
    r.pending.clear();
    return out;
}

RecordScope::RecordScope() : outer_(t_depth == 0) {
    ++t_depth;
}
RecordScope::~RecordScope() {
    --t_depth;
}

void record_open(const char* path, int flags, int fd, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kOpen, fd >= 0 ? r.new_slot() : -1);
    c.path = path;
    c.arg = static_cast<std::uint32_t>(flags);
    c.result = fd >= 0 ? 0 : -1;
    c.err = fd >= 0 ? 0 : err;
    if (fd >= 0)
        r.fds[fd] = c.slot;
}

void record_close(int fd, int result, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.fds.find(fd);
    if (it == r.fds.end())
        return;
    Call& c = r.add(CallKind::kClose, it->second);
    c.result = result;
    c.err = result < 0 ? err : 0;
    r.fds.erase(it);
}

void record_read(int fd, size_t asked, const void* buffer, long result, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.fds.find(fd);
    if (it == r.fds.end())
        return;
    Call& c = r.add(CallKind::kRead, it->second);
    c.arg = asked;
    c.result = result;
    c.err = result < 0 ? err : 0;
    if (result > 0)
        put_text(c.got, static_cast<const char*>(buffer), static_cast<std::size_t>(result));
}

void record_opendir(const char* path, const void* dir, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kOpendir, dir != nullptr ? r.new_slot() : -1);
    c.path = path;
    c.result = dir != nullptr ? 0 : -1;
    c.err = dir != nullptr ? 0 : err;
    if (dir != nullptr)
        r.handles[dir] = c.slot;
}

void record_readdir(const void* dir, const char* name, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.handles.find(dir);
    if (it == r.handles.end())
        return;
    Call& c = r.add(CallKind::kReaddir, it->second);
    c.result = name != nullptr ? 1 : 0;
    c.err = name != nullptr ? 0 : err;
    if (name != nullptr)
        put_text(c.got, name, std::strlen(name));
}

void record_closedir(const void* dir, int result, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.handles.find(dir);
    if (it == r.handles.end())
        return;
    Call& c = r.add(CallKind::kClosedir, it->second);
    c.result = result;
    c.err = result < 0 ? err : 0;
    r.handles.erase(it);
}

void record_stat(bool link, const char* path, const void* st, int result, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(link ? CallKind::kLstat : CallKind::kStat, -1);
    c.path = path;
    c.result = result;
    c.err = result < 0 ? err : 0;
    if (result == 0)
        c.got = stat_bytes(st);
}

void record_readlink(const char* path, size_t asked, const char* text, long result, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kReadlink, -1);
    c.path = path;
    c.arg = asked;
    c.result = result;
    c.err = result < 0 ? err : 0;
    if (result > 0)
        put_text(c.got, text, static_cast<std::size_t>(result));
}

void record_realpath(const char* path, const char* resolved, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kRealpath, -1);
    c.path = path;
    c.result = resolved != nullptr ? 0 : -1;
    c.err = resolved != nullptr ? 0 : err;
    if (resolved != nullptr)
        put_text(c.got, resolved, std::strlen(resolved));
}

void record_fopen(const char* path, const char* mode, const void* stream, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kFopen, stream != nullptr ? r.new_slot() : -1);
    c.path = path;
    put_text(c.sent, mode, std::strlen(mode) + 1);
    c.result = stream != nullptr ? 0 : -1;
    c.err = stream != nullptr ? 0 : err;
    if (stream != nullptr)
        r.handles[stream] = c.slot;
}

void record_fgets(const void* stream, int asked, const char* line, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.handles.find(stream);
    if (it == r.handles.end())
        return;
    Call& c = r.add(CallKind::kFgets, it->second);
    c.arg = static_cast<std::uint64_t>(asked);
    c.result = line != nullptr ? 1 : 0;
    c.err = line != nullptr ? 0 : err;
    if (line != nullptr)
        put_text(c.got, line, std::strlen(line));
}

void record_fclose(const void* stream, int result, int err) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.handles.find(stream);
    if (it == r.handles.end())
        return;
    Call& c = r.add(CallKind::kFclose, it->second);
    c.result = result;
    c.err = result != 0 ? err : 0;
    r.handles.erase(it);
}

void record_mknod(const char* path, mode_t mode, dev_t dev, int result, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kMknod, -1);
    c.path = path;
    c.arg = mode;
    c.arg2 = dev;
    c.result = result;
    c.err = result < 0 ? err : 0;
}

void record_unlink(const char* path, int result, int err) {
    if (!below_host(path))
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    Call& c = r.add(CallKind::kUnlink, -1);
    c.path = path;
    c.result = result;
    c.err = result < 0 ? err : 0;
}

long record_ioctl_before(int fd, unsigned long request, const void* arg) {
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.fds.find(fd);
    if (it == r.fds.end())
        return -1;
    Layout layout;
    const bool known = layout_of(request, arg, &layout);
    if (!known && r.rec.error.empty()) {
        char text[96];
        std::snprintf(text, sizeof text, "ioctl request 0x%lX has a record the recorder does not know", request);
        r.rec.error = text;
    }
    const long number = static_cast<long>(r.rec.calls.size());
    Call& c = r.add(CallKind::kIoctl, it->second);
    c.arg = request;
    const auto* bytes = static_cast<const std::uint8_t*>(arg);
    if (arg != nullptr && layout.size > 0) {
        c.sent.assign(bytes, bytes + layout.size);
        for (const Buffer& b : layout.buffers) {
            if (b.out) {
                const auto* data = static_cast<const std::uint8_t*>(pointer_in(bytes, b.pointer_at));
                c.sent.insert(c.sent.end(), data, data + b.length);
            }
        }
    }
    r.pending[number] = std::move(layout);
    return number;
}

void record_ioctl_after(long pending, const void* arg, int result, int err) {
    if (pending < 0)
        return;
    Recorder& r = recorder();
    std::lock_guard lk(r.mu);
    auto it = r.pending.find(pending);
    if (it == r.pending.end() || static_cast<std::size_t>(pending) >= r.rec.calls.size())
        return;
    Call& c = r.rec.calls[static_cast<std::size_t>(pending)];
    c.result = result;
    c.err = result < 0 ? err : 0;
    const Layout& layout = it->second;
    const auto* bytes = static_cast<const std::uint8_t*>(arg);
    if (arg != nullptr && layout.size > 0) {
        c.got.assign(bytes, bytes + layout.size);
        for (const Buffer& b : layout.buffers) {
            if (b.in) {
                const auto* data = static_cast<const std::uint8_t*>(pointer_in(c.sent.data(), b.pointer_at));
                c.got.insert(c.got.end(), data, data + b.length);
            }
        }
    }
    r.pending.erase(it);
}

void count_simulator_time(bool on) {
    if (on)
        g_simulator_ns.store(0);
    detail::g_timing.store(on);
}

std::uint64_t simulator_nanoseconds() {
    return g_simulator_ns.load();
}

void add_simulator_nanoseconds(std::uint64_t ns) {
    g_simulator_ns.fetch_add(ns, std::memory_order_relaxed);
}

// ---- replay ----

Replay::Replay(Recording recording) : recording_(std::move(recording)) {
    std::size_t largest_read = PATH_MAX, largest_record = 0, largest_data = 0;
    for (const Call& c : recording_.calls) {
        if (c.kind == CallKind::kRead || c.kind == CallKind::kReadlink || c.kind == CallKind::kFgets)
            largest_read = std::max<std::size_t>(largest_read, c.arg);
        if (c.kind == CallKind::kIoctl) {
            Layout l;
            if (!c.sent.empty() && layout_of(c.arg, c.sent.data(), &l)) {
                largest_record = std::max(largest_record, l.size);
                std::size_t total = 0;
                for (const Buffer& b : l.buffers)
                    total += b.length;
                largest_data = std::max(largest_data, total);
            }
        }
    }
    scratch_.resize(largest_read + 1);
    record_.resize(std::max<std::size_t>(largest_record, 1));
    data_.resize(std::max<std::size_t>(largest_data, 1));
    handles_.assign(static_cast<std::size_t>(recording_.slots), -1);
    slot_kinds_.assign(handles_.size(), CallKind::kOpen);
    for (const Call& c : recording_.calls) {
        if (c.slot >= 0 && (c.kind == CallKind::kOpendir || c.kind == CallKind::kFopen))
            slot_kinds_[static_cast<std::size_t>(c.slot)] = c.kind;
    }
}

Replay::~Replay() = default;

bool Replay::run() {
    return replay(false, nullptr);
}

std::string Replay::verify() {
    std::string difference;
    replay(true, &difference);
    return difference;
}

namespace {

bool same_bytes(const std::vector<std::uint8_t>& expected, const void* got, std::size_t n) {
    return expected.size() == n && (n == 0 || std::memcmp(expected.data(), got, n) == 0);
}

} // namespace

bool Replay::replay(bool compare, std::string* difference) {
    bool ok = true;
    std::size_t index = 0;
    auto differs = [&](const Call& c, const char* what) {
        ok = false;
        if (difference != nullptr && difference->empty()) {
            *difference = "call " + std::to_string(index) + " (" + call_name(c.kind) + " " + c.path + "): " + what;
        }
    };
    auto handle = [&](const Call& c) -> long& { return handles_[static_cast<std::size_t>(c.slot)]; };
    for (; index < recording_.calls.size() && ok; ++index) {
        const Call& c = recording_.calls[index];
        errno = 0;
        switch (c.kind) {
            case CallKind::kOpen: {
                const int fd = ::open(c.path.c_str(), static_cast<int>(c.arg));
                if ((fd >= 0 ? 0 : -1) != c.result || (fd < 0 && errno != c.err)) {
                    differs(c, "the open ended otherwise");
                    if (fd >= 0)
                        ::close(fd);
                } else if (fd >= 0) {
                    handle(c) = fd;
                }
                break;
            }
            case CallKind::kClose: {
                const int r = ::close(static_cast<int>(handle(c)));
                handle(c) = -1;
                if (r != c.result)
                    differs(c, "the close ended otherwise");
                break;
            }
            case CallKind::kRead: {
                const ssize_t n = ::read(static_cast<int>(handle(c)), scratch_.data(), c.arg);
                if (n != c.result)
                    differs(c, "another length was read");
                else if (compare && n > 0 && !same_bytes(c.got, scratch_.data(), static_cast<std::size_t>(n)))
                    differs(c, "other bytes were read");
                break;
            }
            case CallKind::kIoctl: {
                Layout l;
                if (!c.sent.empty())
                    layout_of(c.arg, c.sent.data(), &l);
                void* arg = nullptr;
                if (l.size > 0) {
                    std::memcpy(record_.data(), c.sent.data(), l.size);
                    std::size_t sent_at = l.size, data_at = 0;
                    for (const Buffer& b : l.buffers) {
                        std::uint8_t* p = data_.data() + data_at;
                        if (b.out) {
                            std::memcpy(p, c.sent.data() + sent_at, b.length);
                            sent_at += b.length;
                        }
                        std::memcpy(record_.data() + b.pointer_at, &p, sizeof p);
                        data_at += b.length;
                    }
                    arg = record_.data();
                }
                const int r = ::ioctl(static_cast<int>(handle(c)), static_cast<unsigned long>(c.arg), arg);
                if (r != c.result || (r < 0 && errno != c.err)) {
                    differs(c, "the request ended otherwise");
                } else if (compare && l.size > 0) {
                    // The reply: the record after the call, its pointers aside, then each buffer's data in.
                    std::vector<std::uint8_t> got(record_.data(), record_.data() + l.size);
                    std::vector<std::uint8_t> expected(c.got.begin(),
                                                       c.got.begin() + std::min(c.got.size(), l.size));
                    std::size_t data_at = 0;
                    for (const Buffer& b : l.buffers) {
                        std::memset(got.data() + b.pointer_at, 0, sizeof(void*));
                        if (expected.size() >= b.pointer_at + sizeof(void*))
                            std::memset(expected.data() + b.pointer_at, 0, sizeof(void*));
                        if (b.in)
                            got.insert(got.end(), data_.data() + data_at, data_.data() + data_at + b.length);
                        data_at += b.length;
                    }
                    expected.insert(expected.end(), c.got.begin() + static_cast<long>(expected.size()), c.got.end());
                    if (got != expected)
                        differs(c, "the reply changed");
                }
                break;
            }
            case CallKind::kOpendir: {
                DIR* d = ::opendir(c.path.c_str());
                if ((d != nullptr ? 0 : -1) != c.result) {
                    differs(c, "the directory opened otherwise");
                    if (d != nullptr)
                        ::closedir(d);
                } else if (d != nullptr) {
                    handle(c) = reinterpret_cast<long>(d);
                }
                break;
            }
            case CallKind::kReaddir: {
                const dirent* e = ::readdir(reinterpret_cast<DIR*>(handle(c)));
                if ((e != nullptr ? 1 : 0) != c.result)
                    differs(c, "the directory listed otherwise");
                else if (compare && e != nullptr && !same_bytes(c.got, e->d_name, std::strlen(e->d_name)))
                    differs(c, "another entry was listed");
                break;
            }
            case CallKind::kClosedir: {
                const int r = ::closedir(reinterpret_cast<DIR*>(handle(c)));
                handle(c) = -1;
                if (r != c.result)
                    differs(c, "the directory closed otherwise");
                break;
            }
            case CallKind::kStat:
            case CallKind::kLstat: {
                struct stat st {};
                const int r = c.kind == CallKind::kStat ? ::stat(c.path.c_str(), &st) : ::lstat(c.path.c_str(), &st);
                if (r != c.result)
                    differs(c, "the file's status ended otherwise");
                else if (compare && r == 0 && c.got != stat_bytes(&st))
                    differs(c, "the file's type or device changed");
                break;
            }
            case CallKind::kReadlink: {
                const ssize_t n = ::readlink(c.path.c_str(), reinterpret_cast<char*>(scratch_.data()), c.arg);
                if (n != c.result)
                    differs(c, "the link read otherwise");
                else if (compare && n > 0 && !same_bytes(c.got, scratch_.data(), static_cast<std::size_t>(n)))
                    differs(c, "the link changed");
                break;
            }
            case CallKind::kRealpath: {
                char* resolved = ::realpath(c.path.c_str(), reinterpret_cast<char*>(scratch_.data()));
                if ((resolved != nullptr ? 0 : -1) != c.result)
                    differs(c, "the path resolved otherwise");
                else if (compare && resolved != nullptr && !same_bytes(c.got, resolved, std::strlen(resolved)))
                    differs(c, "the path resolved elsewhere");
                break;
            }
            case CallKind::kFopen: {
                FILE* f = std::fopen(c.path.c_str(), reinterpret_cast<const char*>(c.sent.data()));
                if ((f != nullptr ? 0 : -1) != c.result) {
                    differs(c, "the stream opened otherwise");
                    if (f != nullptr)
                        std::fclose(f);
                } else if (f != nullptr) {
                    handle(c) = reinterpret_cast<long>(f);
                }
                break;
            }
            case CallKind::kFgets: {
                char* line = std::fgets(reinterpret_cast<char*>(scratch_.data()), static_cast<int>(c.arg),
                                        reinterpret_cast<FILE*>(handle(c)));
                if ((line != nullptr ? 1 : 0) != c.result)
                    differs(c, "the stream read otherwise");
                else if (compare && line != nullptr && !same_bytes(c.got, line, std::strlen(line)))
                    differs(c, "another line was read");
                break;
            }
            case CallKind::kFclose: {
                const int r = std::fclose(reinterpret_cast<FILE*>(handle(c)));
                handle(c) = -1;
                if (r != c.result)
                    differs(c, "the stream closed otherwise");
                break;
            }
            case CallKind::kMknod:
                if (::mknod(c.path.c_str(), static_cast<mode_t>(c.arg), static_cast<dev_t>(c.arg2)) != c.result)
                    differs(c, "the node was made otherwise");
                break;
            case CallKind::kUnlink:
                if (::unlink(c.path.c_str()) != c.result)
                    differs(c, "the unlink ended otherwise");
                break;
        }
    }
    // What a failed replay left open is closed, so the next one starts clean.
    if (!ok) {
        for (std::size_t slot = 0; slot < handles_.size(); ++slot) {
            long& h = handles_[slot];
            if (h == -1)
                continue;
            switch (slot_kinds_[slot]) {
                case CallKind::kOpen:
                    ::close(static_cast<int>(h));
                    break;
                case CallKind::kOpendir:
                    ::closedir(reinterpret_cast<DIR*>(h));
                    break;
                default:
                    std::fclose(reinterpret_cast<FILE*>(h));
                    break;
            }
            h = -1;
        }
    }
    return ok;
}

// ---- host state ----

struct HostState::Saved {
    std::vector<std::pair<std::shared_ptr<Device>, std::vector<Fault>>> faults;
    std::vector<std::pair<ControllerFirmware*, FirmwareState>> firmware;
};

HostState HostState::save() {
    auto saved = std::make_shared<Saved>();
    for (const std::shared_ptr<Device>& d : Registry::instance().devices()) {
        saved->faults.emplace_back(d, d->faults());
        if (auto* fw = dynamic_cast<ControllerFirmware*>(&d->firmware())) {
            bool seen = false;
            for (const auto& [known, state] : saved->firmware)
                seen = seen || known == fw;
            if (!seen)
                saved->firmware.emplace_back(fw, firmware_state(*fw));
        }
    }
    HostState s;
    s.saved_ = std::move(saved);
    return s;
}

void HostState::restore() const {
    if (!saved_)
        return;
    for (const auto& [device, faults] : saved_->faults)
        device->set_faults(faults);
    for (const auto& [fw, state] : saved_->firmware)
        firmware_state(*fw) = state;
}

} // namespace qvsim
