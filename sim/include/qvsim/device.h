// Simulated device nodes and the requests they answer.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "qvsim/bytes.h" // the little-endian and hex helpers endpoints use
#include "qvsim/firmware.h"
#include "qvsim/scenario.h"

namespace qvsim {

// The request set a node answers, as the owning kernel driver would.
enum class DriverKind { kCiss, kSis, kBlock, kCsmi };

// One open or ioctl that reached a simulated node.
struct RequestRecord {
    std::uint64_t seq = 0;
    std::string node;          // the registered node
    std::string op;            // "open" or "ioctl"
    unsigned long request = 0; // ioctl request code (0 for an open)
    std::string name;          // endpoint name, "unknown" when no endpoint knows the code
    nlohmann::json decoded = nlohmann::json::object(); // the caller's record, field by field
    nlohmann::json reply = nlohmann::json::object();   // what the device answered
    int err = 0;                                       // errno the request failed with, 0 on success
    bool injected = false;                             // err came from a Fault
    nlohmann::json to_json() const;
};

class Device;

// A transport endpoint: decodes the caller's record (for the log, before any fault) and serves
// it. serve returns 0 or an errno; it may add to rec.reply. decode is skipped for a NULL arg.
struct Endpoint {
    std::string name;
    std::function<nlohmann::json(const void* arg)> decode;
    std::function<int(Device& dev, void* arg, RequestRecord& rec)> serve;
    bool takes_arg = true; // a NULL argument fails with EFAULT before decode and serve
};

// Registers an endpoint for a driver kind; later registrations of the same code replace earlier
// ones. Endpoint files call it from a static initializer:
//   static const bool registered = qvsim::register_endpoint(DriverKind::kCiss, CODE, {...});
bool register_endpoint(DriverKind kind, unsigned long request, Endpoint ep);
const Endpoint* find_endpoint(DriverKind kind, unsigned long request);

class Device {
public:
    Device(std::string node, DriverKind kind, char type, unsigned node_major, unsigned node_minor,
           std::shared_ptr<const Controller> controller);

    const std::string& node() const { return node_; }
    DriverKind kind() const { return kind_; }
    char type() const { return type_; }
    unsigned node_major() const { return major_; }
    unsigned node_minor() const { return minor_; }
    const Controller& controller() const { return *controller_; }
    Firmware& firmware() { return *firmware_; }

    // Entry points of the interposer; both record what they saw. Return 0 or an errno.
    int open(int flags);
    int ioctl(unsigned long request, void* arg);

    // Runs a decoded command through the firmware, applying command-level faults.
    Reply execute(const Command& cmd);

    // Faults can be added while the device is live.
    void add_fault(Fault f);
    // The faults with the count of requests each has seen, and putting such a set back.
    std::vector<Fault> faults();
    void set_faults(std::vector<Fault> faults);

private:
    std::string node_;
    DriverKind kind_;
    char type_;
    unsigned major_, minor_;
    std::shared_ptr<const Controller> controller_;
    std::shared_ptr<Firmware> firmware_;
    std::mutex mu_;
    std::vector<Fault> faults_;
};

// Process-wide table of live devices and the request log.
class Registry {
public:
    static Registry& instance();

    void add(std::shared_ptr<Device> dev);
    void clear(); // drops every device and fd binding (the log stays)
    bool empty() const;
    std::shared_ptr<Device> find(char type, dev_t rdev) const;
    std::shared_ptr<Device> find(const std::string& node) const;
    std::vector<std::shared_ptr<Device>> devices() const;

    // The interposer's fd bookkeeping: a simulated open hands out a memfd, known by its inode.
    void bind_file(dev_t st_dev, ino_t st_ino, std::shared_ptr<Device> dev);
    std::shared_ptr<Device> device_for_fd(int fd) const;

    void record(RequestRecord rec);
    std::vector<RequestRecord> log() const;
    void clear_log();
    // Also appends each record as one JSON line to this file (the launcher's request log).
    bool set_log_file(const std::string& path);
    // Whether opens and requests are decoded into the log (the default). A benchmark turns it off
    // while it measures: the log's JSON is the simulator's own cost, not the host's.
    void keep_log(bool on) { keep_log_.store(on, std::memory_order_relaxed); }
    bool keeps_log() const { return keep_log_.load(std::memory_order_relaxed); }

private:
    Registry() = default;
    mutable std::mutex mu_;
    std::vector<std::shared_ptr<Device>> devices_;
    void drop_closed_files();

    // Keyed by the memfd's (st_dev, st_ino): one entry per simulated open still held.
    std::map<std::pair<dev_t, ino_t>, std::weak_ptr<Device>> files_;
    static constexpr std::size_t kFirstPrune = 64;
    std::size_t prune_at_ = kFirstPrune;
    std::vector<RequestRecord> log_;
    std::uint64_t next_seq_ = 1;
    int log_fd_ = -1;
    std::atomic<bool> keep_log_{true};
};

// Builds the devices of a scenario and adds them to the registry.
void attach_devices(const Scenario& s);

} // namespace qvsim
