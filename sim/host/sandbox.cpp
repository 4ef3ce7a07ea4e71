#include "qvsim/sandbox.h"

#include "host/staging_tree.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qvsim {

namespace {

constexpr char kMarker[] = ".qvsim-sandbox";

ino_t g_original_ns = 0;
ino_t g_private_ns = 0;
std::atomic<bool> g_sandbox_live{false};

ino_t current_ns() {
    struct stat st {};
    if (::stat("/proc/self/ns/mnt", &st) != 0)
        return 0;
    return st.st_ino;
}

std::string errno_text(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

[[noreturn]] void fail(const std::string& what) {
    throw SetupError(what);
}
[[noreturn]] void fail_errno(const std::string& what) {
    throw SetupError(errno_text(what));
}

using staging::check_component;
using staging::check_relative;

} // namespace

bool enter_private_namespace(std::string* error) {
    auto set = [&](const std::string& e) {
        if (error)
            *error = e;
        return false;
    };
    if (::geteuid() != 0)
        return set("the simulated host needs root");
    ino_t before = current_ns();
    if (before == 0)
        return set(errno_text("stat /proc/self/ns/mnt"));
    if (::unshare(CLONE_NEWNS) != 0)
        return set(errno_text("unshare(CLONE_NEWNS)"));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return set(errno_text("making / recursively private"));
    }
    ino_t after = current_ns();
    if (after == 0 || after == before)
        return set("mount namespace did not change");
    g_original_ns = before;
    g_private_ns = after;
    return true;
}

bool in_private_namespace() {
    if (g_private_ns == 0)
        return false;
    ino_t now = current_ns();
    return now == g_private_ns && now != g_original_ns;
}

Sandbox::Sandbox(Scenario s) : Sandbox(std::move(s), Options{}) {}

Sandbox::Sandbox(Scenario s, Options opt) : scenario_(std::move(s)), opt_(std::move(opt)) {
    if (!in_private_namespace()) {
        fail("not in a private mount namespace: the test main must call enter_private_namespace");
    }
    bool expected = false;
    if (!g_sandbox_live.compare_exchange_strong(expected, true)) {
        fail("another simulated host is live in this process");
    }
    try {
        unsigned char rnd[8] = {};
        if (::getrandom(rnd, sizeof rnd, 0) != static_cast<ssize_t>(sizeof rnd)) {
            fail_errno("getrandom");
        }
        token_ = std::to_string(::getpid()) + "-" + hex_bytes(rnd, sizeof rnd);

        std::string templ = opt_.staging_parent + "/qvsim.XXXXXX";
        std::vector<char> buf(templ.begin(), templ.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr)
            fail_errno("mkdtemp " + templ);
        staging_ = buf.data();
        staging_made_ = true;
        // Everything lives on a tmpfs of our own: nothing is written to the host's disk.
        if (::mount("qvsim", staging_.c_str(), "tmpfs", 0, "mode=0755") != 0) {
            fail_errno("mount tmpfs on " + staging_);
        }
        mounted_.push_back(staging_);

        build_tree();
        mount_all();
        if (!verify())
            fail("sandbox markers not visible after mounting");
        // The binds keep the tree alive; without volume mounts the staging directory can go now,
        // so that a test that dies leaves nothing behind in the host's /tmp.
        if (scenario_.mounts.empty() && ::umount2(staging_.c_str(), MNT_DETACH) == 0) {
            mounted_.erase(mounted_.begin());
            ::rmdir(staging_.c_str());
            staging_made_ = false;
        }
        Registry::instance().clear_log();
        if (opt_.register_devices) {
            Registry::instance().clear();
            attach_devices(scenario_);
        }
    } catch (...) {
        undo();
        g_sandbox_live = false;
        throw;
    }
}

Sandbox::~Sandbox() {
    undo();
    g_sandbox_live = false;
}

void Sandbox::undo() noexcept {
    if (opt_.register_devices)
        Registry::instance().clear();
    while (!mounted_.empty()) {
        const std::string& target = mounted_.back();
        if (::umount2(target.c_str(), 0) != 0)
            ::umount2(target.c_str(), MNT_DETACH);
        mounted_.pop_back();
    }
    if (staging_made_) {
        ::rmdir(staging_.c_str());
        staging_made_ = false;
    }
}

bool Sandbox::verify() const {
    if (!in_private_namespace())
        return false;
    for (const char* dir : {"/sys/", "/dev/"}) {
        std::ifstream in(std::string(dir) + kMarker);
        std::string text;
        if (!in || !std::getline(in, text) || text != token_)
            return false;
    }
    return true;
}

void Sandbox::build_tree() {
    staging::Tree t(staging_);
    const Scenario& s = scenario_;

    t.file(std::string("/sys/") + kMarker, token_ + "\n");
    for (const char* d : {"/sys/class/scsi_generic", "/sys/class/scsi_host", "/sys/block", "/sys/module",
                          "/sys/bus/pci/drivers", "/sys/bus/pci/devices"}) {
        t.mkdirs(d);
    }

    auto make_driver_dir = [&](const std::string& driver) {
        check_component(driver, "driver name");
        std::string dir = "/sys/bus/pci/drivers/" + driver;
        struct stat st {};
        if (::lstat(t.real(dir).c_str(), &st) == 0)
            return dir;
        t.mkdirs(dir);
        for (const char* f : {"bind", "unbind", "new_id", "remove_id"})
            t.file(dir + "/" + f, "", 0200);
        t.file(dir + "/uevent", "", 0200);
        t.mkdirs("/sys/module/" + driver);
        t.link(dir + "/module", "/sys/module/" + driver);
        return dir;
    };
    for (const auto& d : s.empty_drivers)
        make_driver_dir(d);

    std::vector<unsigned> hosts_seen;
    for (const auto& c : s.controllers) {
        check_component(c.pci_address, "PCI address");
        check_relative(c.pci_parent, "PCI parent");
        std::string dev = c.sysfs_path();
        struct stat st {};
        if (::lstat(t.real(dev).c_str(), &st) == 0)
            fail("two controllers at " + dev);
        t.mkdirs(dev);
        if (c.class_file)
            t.file(dev + "/class", *c.class_file);
        t.file(dev + "/uevent", "DRIVER=" + c.driver + "\nPCI_SLOT_NAME=" + c.pci_address + "\n");
        t.link("/sys/bus/pci/devices/" + c.pci_address, dev);
        std::string drv = make_driver_dir(c.driver);
        if (c.bound) {
            t.link(dev + "/driver", drv);
            t.link(drv + "/" + c.pci_address, dev);
        }
        for (unsigned h : c.hosts) {
            for (unsigned seen : hosts_seen) {
                if (seen == h)
                    fail("SCSI host " + std::to_string(h) + " used twice");
            }
            hosts_seen.push_back(h);
            std::string host = dev + "/host" + std::to_string(h);
            std::string sh = host + "/scsi_host/host" + std::to_string(h);
            t.file(sh + "/proc_name", c.proc_name_text() + "\n");
            t.link("/sys/class/scsi_host/host" + std::to_string(h), sh);
        }
        for (const auto& d : c.scsi) {
            check_component(d.sg, "SCSI generic name");
            if (d.host_index >= c.hosts.size())
                fail("SCSI device " + d.sg + " names no host");
            unsigned h = c.hosts[d.host_index];
            std::string tgt =
                std::to_string(h) + ":" + std::to_string(d.channel) + ":" + std::to_string(d.target);
            std::string sdev =
                dev + "/host" + std::to_string(h) + "/target" + tgt + "/" + tgt + ":" + std::to_string(d.lun);
            t.file(sdev + "/type", d.type + "\n");
            t.file(sdev + "/vendor", "QVSIM   \n");
            t.file(sdev + "/model", "SIMULATED DEVICE\n");
            std::string sg = sdev + "/scsi_generic/" + d.sg;
            t.file(sg + "/dev", std::to_string(kScsiGenericMajor) + ":" + std::to_string(d.minor) + "\n");
            t.link(sg + "/device", sdev);
            t.link("/sys/class/scsi_generic/" + d.sg, sg);
            t.node("/dev/" + d.sg, 'c', kScsiGenericMajor, d.minor, 0600);
        }
    }

    // /dev: the few nodes every program expects, the scenario's extras, and the marker.
    t.file(std::string("/dev/") + kMarker, token_ + "\n");
    t.node("/dev/null", 'c', 1, 3, 0666);
    t.node("/dev/zero", 'c', 1, 5, 0666);
    t.node("/dev/full", 'c', 1, 7, 0666);
    t.node("/dev/random", 'c', 1, 8, 0666);
    t.node("/dev/urandom", 'c', 1, 9, 0666);
    t.raw_link("/dev/fd", "/proc/self/fd");
    t.raw_link("/dev/stdin", "/proc/self/fd/0");
    t.raw_link("/dev/stdout", "/proc/self/fd/1");
    t.raw_link("/dev/stderr", "/proc/self/fd/2");
    t.mkdirs("/dev/shm");
    if (::chmod(t.real("/dev/shm").c_str(), 01777) != 0)
        fail_errno("chmod /dev/shm");
    for (const auto& n : s.nodes) {
        if (n.path.rfind("/dev/", 0) != 0)
            fail("node outside /dev: " + n.path);
        check_relative(n.path.substr(5), "node path");
        t.node(n.path, n.type, n.major, n.minor, n.mode & 07777);
    }

    build_block_tree(staging_, s);
    build_csmi_tree(staging_, s);

    t.file("/proc_devices", s.proc_devices_text());
    t.file("/fstab", s.fstab);
    for (const auto& m : s.mounts) {
        check_component(m.name, "mount name");
        t.mkdirs("/mnt/" + m.name);
    }
}

void Sandbox::mount_all() {
    auto bind = [&](const std::string& from, const std::string& to) {
        std::string src = staging_ + from;
        if (::mount(src.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            fail_errno("bind " + src + " over " + to);
        }
        mounted_.push_back(to);
    };
    bind("/sys", "/sys");
    bind("/dev", "/dev");
    bind("/proc_devices", "/proc/devices");
    bind("/fstab", "/etc/fstab");
    for (const auto& m : scenario_.mounts) {
        std::string dir = mount_point(m.name);
        if (::mount(m.source.c_str(), dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
            fail_errno("mount " + m.source + " on " + dir);
        }
        mounted_.push_back(dir);
    }
}

std::string Sandbox::mount_point(const std::string& name) const {
    return staging_ + "/mnt/" + name;
}

std::shared_ptr<Device> Sandbox::device(const std::string& node) const {
    return Registry::instance().find(node);
}

std::vector<RequestRecord> Sandbox::requests() const {
    return Registry::instance().log();
}

std::vector<RequestRecord> Sandbox::requests(const std::string& node) const {
    std::vector<RequestRecord> out;
    for (auto& r : Registry::instance().log()) {
        if (r.node == node)
            out.push_back(std::move(r));
    }
    return out;
}

void Sandbox::clear_requests() {
    Registry::instance().clear_log();
}

} // namespace qvsim
