// The simulated host in a private mount namespace: a fake /sys, /dev, /proc/devices and
// /etc/fstab mounted over the real ones, and the scenario's devices registered.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvsim/device.h"
#include "qvsim/scenario.h"

namespace qvsim {

struct SetupError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Moves the whole process into a private mount namespace with "/" recursively private.
// Call first in main, before any thread exists. Returns false with a reason on failure.
bool enter_private_namespace(std::string* error);
// True once enter_private_namespace succeeded and the process is still in that namespace.
bool in_private_namespace();

class Sandbox {
public:
    struct Options {
        bool register_devices = true; // false: mounts only (the launcher's preload registers)
        std::string staging_parent = "/tmp";
    };

    // Builds and mounts the host; throws SetupError (after undoing what it did) on any failure,
    // or when the process is not in the private namespace.
    explicit Sandbox(Scenario s);
    Sandbox(Scenario s, Options opt);
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    // The markers in /sys and /dev are still this sandbox's: check before running product code.
    bool verify() const;

    const Scenario& scenario() const { return scenario_; }
    // The tmpfs the tree was built in; gone (detached) once mounted unless the scenario has
    // volume mounts, which live below it.
    const std::string& staging() const { return staging_; }
    const std::string& token() const { return token_; }     // the markers' content
    std::string mount_point(const std::string& name) const; // of a VolumeMount
    std::shared_ptr<Device> device(const std::string& node) const;
    std::vector<RequestRecord> requests() const; // opens and ioctls seen, in order
    std::vector<RequestRecord> requests(const std::string& node) const;
    void clear_requests();

private:
    void build_tree();
    void mount_all();
    void undo() noexcept;

    Scenario scenario_;
    Options opt_;
    std::string staging_;
    std::string token_;
    std::vector<std::string> mounted_; // in mount order
    bool staging_made_ = false;
};

} // namespace qvsim
