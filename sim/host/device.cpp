#include "qvsim/device.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <utility>

namespace qvsim {

namespace {

std::map<std::pair<DriverKind, unsigned long>, Endpoint>& endpoints() {
    static std::map<std::pair<DriverKind, unsigned long>, Endpoint> table;
    return table;
}

std::mutex& endpoints_mutex() {
    static std::mutex mu;
    return mu;
}

} // namespace

nlohmann::json RequestRecord::to_json() const {
    return nlohmann::json{
        {"seq", seq},          {"node", node},       {"op", op},       {"request", hex_number(request)},
        {"name", name},        {"decoded", decoded}, {"reply", reply}, {"errno", err},
        {"injected", injected}};
}

bool register_endpoint(DriverKind kind, unsigned long request, Endpoint ep) {
    std::lock_guard<std::mutex> lock(endpoints_mutex());
    endpoints()[{kind, request}] = std::move(ep);
    return true;
}

const Endpoint* find_endpoint(DriverKind kind, unsigned long request) {
    std::lock_guard<std::mutex> lock(endpoints_mutex());
    auto it = endpoints().find({kind, request});
    // Entries are never erased, so the pointer stays valid after the lock is dropped.
    return it == endpoints().end() ? nullptr : &it->second;
}

Device::Device(std::string node, DriverKind kind, char type, unsigned node_major, unsigned node_minor,
               std::shared_ptr<const Controller> controller)
    : node_(std::move(node)), kind_(kind), type_(type), major_(node_major), minor_(node_minor),
      controller_(std::move(controller)),
      firmware_(controller_->firmware ? controller_->firmware : std::make_shared<ScriptedFirmware>()),
      faults_(controller_->faults) {}

void Device::add_fault(Fault f) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_.push_back(std::move(f));
}

std::vector<Fault> Device::faults() {
    std::lock_guard<std::mutex> lock(mu_);
    return faults_;
}

void Device::set_faults(std::vector<Fault> faults) {
    std::lock_guard<std::mutex> lock(mu_);
    faults_ = std::move(faults);
}

int Device::open(int flags) {
    const bool log = Registry::instance().keeps_log();
    RequestRecord rec;
    rec.node = node_;
    rec.op = "open";
    rec.name = "open";
    if (log) {
        rec.decoded = {{"flags", flags},
                       {"access", (flags & O_ACCMODE) == O_RDONLY   ? "r"
                                  : (flags & O_ACCMODE) == O_WRONLY ? "w"
                                                                    : "rw"},
                       {"nonblock", (flags & O_NONBLOCK) != 0}};
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& f : faults_) {
            if (f.on_open && f.err != 0 && f.fires_now() && rec.err == 0) {
                rec.err = f.err;
                rec.injected = true;
            }
        }
    }
    int err = rec.err;
    if (log)
        Registry::instance().record(std::move(rec));
    return err;
}

int Device::ioctl(unsigned long request, void* arg) {
    const bool log = Registry::instance().keeps_log();
    RequestRecord rec;
    rec.node = node_;
    rec.op = "ioctl";
    rec.request = request;
    const Endpoint* ep = find_endpoint(kind_, request);
    if (ep == nullptr) {
        rec.name = "unknown";
        rec.err = ENOTTY;
    } else {
        rec.name = ep->name;
        if (arg == nullptr && ep->takes_arg) {
            rec.err = EFAULT;
        } else if (log && arg != nullptr && ep->decode) {
            rec.decoded = ep->decode(arg);
        }
    }
    if (rec.err == 0) {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& f : faults_) {
            if (f.on_open || f.opcode || f.err == 0)
                continue;
            if (f.request != 0 && f.request != request)
                continue;
            if (f.fires_now() && rec.err == 0) {
                rec.err = f.err;
                rec.injected = true;
            }
        }
    }
    if (rec.err == 0)
        rec.err = ep->serve(*this, arg, rec);
    int err = rec.err;
    if (log)
        Registry::instance().record(std::move(rec));
    return err;
}

Reply Device::execute(const Command& cmd) {
    Reply r = firmware_->execute(cmd);
    std::lock_guard<std::mutex> lock(mu_);
    for (auto& f : faults_) {
        if (f.on_open)
            continue;
        // Faults without an opcode but with an errno belong to the ioctl level.
        if (!f.opcode && f.err != 0)
            continue;
        if (f.opcode && (cmd.cdb.empty() || cmd.cdb[0] != *f.opcode))
            continue;
        if (!f.fires_now())
            continue;
        if (f.err != 0) {
            r = Reply{};
            r.err = f.err;
            return r;
        }
        if (f.scsi_status)
            r.scsi_status = *f.scsi_status;
        if (f.command_status)
            r.command_status = *f.command_status;
        if (f.sense)
            r.sense = *f.sense;
        if (f.data_in_length)
            r.data_in.resize(*f.data_in_length, 0);
        if (f.reported_sense_length)
            r.reported_sense_length = f.reported_sense_length;
        if (f.reported_data_length)
            r.reported_data_length = f.reported_data_length;
        if (f.patch_offset) {
            for (std::size_t i = 0; i < f.patch_bytes.size() && *f.patch_offset + i < r.data_in.size(); ++i)
                r.data_in[*f.patch_offset + i] = f.patch_bytes[i];
        }
    }
    return r;
}

Registry& Registry::instance() {
    // Never destroyed: the interposer may run during static destruction.
    static Registry* r = new Registry;
    return *r;
}

void Registry::add(std::shared_ptr<Device> dev) {
    std::lock_guard<std::mutex> lock(mu_);
    devices_.push_back(std::move(dev));
}

void Registry::clear() {
    std::lock_guard<std::mutex> lock(mu_);
    devices_.clear();
    files_.clear();
    prune_at_ = kFirstPrune;
}

std::vector<std::shared_ptr<Device>> Registry::devices() const {
    std::lock_guard<std::mutex> lock(mu_);
    return devices_;
}

bool Registry::empty() const {
    std::lock_guard<std::mutex> lock(mu_);
    return devices_.empty();
}

std::shared_ptr<Device> Registry::find(char type, dev_t rdev) const {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& d : devices_) {
        if (d->type() == type && d->node_major() == major(rdev) && d->node_minor() == minor(rdev))
            return d;
    }
    return nullptr;
}

std::shared_ptr<Device> Registry::find(const std::string& node) const {
    std::lock_guard<std::mutex> lock(mu_);
    for (const auto& d : devices_) {
        if (d->node() == node)
            return d;
    }
    return nullptr;
}

void Registry::bind_file(dev_t st_dev, ino_t st_ino, std::shared_ptr<Device> dev) {
    bool look = false;
    {
        std::lock_guard<std::mutex> lock(mu_);
        files_[{st_dev, st_ino}] = dev;
        look = files_.size() >= prune_at_;
    }
    if (look)
        drop_closed_files();
}

// A close is not seen, and memfd inodes are never reused, so every open would stay in the table and
// a long run (a benchmark, the fault sweep) would slow down as it grows. Once the table has doubled,
// the bindings of inodes that no descriptor of this process holds any more go; a duplicated
// descriptor keeps its inode, and so its binding.
void Registry::drop_closed_files() {
    std::set<std::pair<dev_t, ino_t>> open_files;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        for (dirent* e = ::readdir(dir); e != nullptr; e = ::readdir(dir)) {
            struct stat st {};
            char* end = nullptr;
            const long fd = std::strtol(e->d_name, &end, 10);
            if (end != e->d_name && *end == '\0' && fd != ::dirfd(dir) && ::fstat(static_cast<int>(fd), &st) == 0)
                open_files.insert({st.st_dev, st.st_ino});
        }
        ::closedir(dir);
    } else {
        return; // nothing known: keep every binding
    }
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = files_.begin(); it != files_.end();)
        it = open_files.count(it->first) != 0 ? std::next(it) : files_.erase(it);
    prune_at_ = std::max<std::size_t>(kFirstPrune, 2 * files_.size());
}

std::shared_ptr<Device> Registry::device_for_fd(int fd) const {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (files_.empty())
            return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return nullptr;
    std::lock_guard<std::mutex> lock(mu_);
    auto it = files_.find({st.st_dev, st.st_ino});
    return it == files_.end() ? nullptr : it->second.lock();
}

void Registry::record(RequestRecord rec) {
    std::lock_guard<std::mutex> lock(mu_);
    rec.seq = next_seq_++;
    if (log_fd_ >= 0) {
        std::string line = rec.to_json().dump() + "\n";
        const char* p = line.data();
        size_t left = line.size();
        while (left > 0) {
            ssize_t n = ::write(log_fd_, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }
    log_.push_back(std::move(rec));
}

std::vector<RequestRecord> Registry::log() const {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

void Registry::clear_log() {
    std::lock_guard<std::mutex> lock(mu_);
    log_.clear();
}

bool Registry::set_log_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::lock_guard<std::mutex> lock(mu_);
    if (log_fd_ >= 0)
        ::close(log_fd_);
    log_fd_ = fd;
    return true;
}

void attach_devices(const Scenario& s) {
    auto& reg = Registry::instance();
    for (std::size_t i = 0; i < s.controllers.size(); ++i) {
        auto c = std::make_shared<const Controller>(s.controllers[i]);
        switch (c->protocol) {
            case Protocol::kCiss:
            case Protocol::kPqi:
                for (const auto& sd : c->scsi) {
                    if (!sd.routed)
                        continue;
                    reg.add(std::make_shared<Device>("/dev/" + sd.sg, DriverKind::kCiss, 'c',
                                                     kScsiGenericMajor, sd.minor, c));
                }
                break;
            case Protocol::kSis:
                if (s.sis_major) {
                    reg.add(std::make_shared<Device>(s.sis_node(i), DriverKind::kSis, 'c', *s.sis_major,
                                                     s.sis_minor(i), c));
                }
                break;
            case Protocol::kNone:
                break;
        }
    }
    attach_block_devices(s);
    attach_csmi_nodes(s);
}

} // namespace qvsim
