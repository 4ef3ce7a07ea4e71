// What a simulated host holds: controllers laid out in sysfs as Linux lays them out, device
// nodes, /proc/devices, /etc/fstab and mounts. Built in C++ or loaded from JSON.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/block.h"
#include "qvsim/csmi.h"
#include "qvsim/firmware.h"

namespace qvsim {

// kNone: a controller whose driver takes no pass-through (a SATA host, say).
enum class Protocol { kCiss, kPqi, kSis, kNone };

inline constexpr unsigned kScsiGenericMajor = 21;
inline constexpr unsigned kDefaultSisMajor = 245;

// A SCSI device below one of the controller's hosts, with a SCSI generic node /dev/<sg>.
struct ScsiDevice {
    std::string sg = "sg0";
    unsigned minor = 0;      // char 21:minor
    std::string type = "12"; // text of sysfs "type" (12 RAID controller, 13 enclosure, 0 disk)
    unsigned host_index = 0; // index into Controller::hosts
    unsigned channel = 0, target = 0, lun = 0;
    bool routed = true; // ioctls on the node reach this controller's simulated device
};

// What a SIS controller's firmware reports to the adapter-information FIBs.
struct SisAdapter {
    std::uint32_t supported_options = 0x10000; // 0x10000: supplement request supported
    std::uint16_t virtual_bus = 0, virtual_target = 0, virtual_lun = 0;
    std::string adapter_type_text = "SIM SIS ADAPTER";
    std::uint32_t serial_number = 0x51A10001;
    std::optional<unsigned> minor;   // default: the controller's order among SIS controllers
    std::optional<std::string> node; // default: "/dev/xov" + minor
};

struct Controller {
    std::string driver;
    Protocol protocol = Protocol::kCiss;
    std::string pci_address = "0000:3b:00.0";             // domain:bus:device.function
    std::string pci_parent = "pci0000:00";                // path below /sys/devices
    std::optional<std::string> class_file = "0x010400\n"; // nullopt: no class file
    bool bound = true;                                    // linked from /sys/bus/pci/drivers/<driver>
    std::vector<unsigned> hosts;                          // SCSI host numbers
    std::optional<std::string> proc_name;                 // default: the driver name
    std::vector<ScsiDevice> scsi;
    std::uint32_t board_id = 0x00E10001;
    SisAdapter sis;
    std::vector<Fault> faults;                       // applied on each of the controller's nodes
    std::shared_ptr<Firmware> firmware;              // default: answers ILLEGAL REQUEST
    nlohmann::json extra = nlohmann::json::object(); // room for later firmware state

    Controller& host(unsigned n) {
        hosts.push_back(n);
        return *this;
    }
    Controller& scsi_generic(unsigned minor, std::string type = "12"); // adds /dev/sg<minor> on host 0
    Controller& fault(Fault f) {
        faults.push_back(std::move(f));
        return *this;
    }
    std::string sysfs_path() const; // "/sys/devices/<parent>/<address>"
    std::string proc_name_text() const { return proc_name ? *proc_name : driver; }
};

struct DevNode {
    std::string path; // absolute, under /dev
    char type = 'c';  // 'c' char, 'b' block
    unsigned major = 0, minor = 0;
    unsigned mode = 0600;
};

// A tmpfs mounted with a block node as its source, so that it shows in /etc/mtab.
struct VolumeMount {
    std::string source; // e.g. "/dev/sdb1"
    std::string name;   // directory below the sandbox's mnt/
};

struct Scenario {
    std::deque<Controller> controllers;      // deque: references from add_* stay valid
    std::optional<unsigned> sis_major;       // line "<major> xovraid" in /proc/devices
    std::optional<std::string> proc_devices; // whole /proc/devices text instead of the generated one
    std::string fstab = "# <file system> <mount point> <type> <options> <dump> <pass>\n";
    std::vector<DevNode> nodes;             // extra nodes in /dev (stale ones, say)
    std::vector<std::string> empty_drivers; // driver directories with no device bound
    std::vector<VolumeMount> mounts;
    std::deque<BlockDevice> block_devices; // host block volumes (qvsim/block.h)
    std::deque<CsmiNode> csmi_nodes;       // CSMI-capable nodes (qvsim/csmi.h)
    nlohmann::json extra = nlohmann::json::object();

    Controller& add(Controller c);
    // One node each, on the given host: /dev/sg<sg_minor> of type 12.
    Controller& add_ciss(std::string driver, std::string pci, unsigned host, unsigned sg_minor);
    Controller& add_pqi(std::string driver, std::string pci, unsigned host, unsigned sg_minor);
    // Also sets sis_major to kDefaultSisMajor when unset.
    Controller& add_sis(std::string driver, std::string pci, unsigned host);

    std::string proc_devices_text() const;
    // The node and minor of the n-th controller when it is SIS (order among SIS controllers).
    unsigned sis_minor(std::size_t controller_index) const;
    std::string sis_node(std::size_t controller_index) const;

    static Scenario from_json(const nlohmann::json& j); // throws std::runtime_error
    static Scenario load(const std::string& path);      // throws std::runtime_error
    static Scenario builtin_default();                  // the launcher's scenario without a file
    static const char* builtin_default_json();
    nlohmann::json to_json() const; // firmware objects are not written
};

const char* protocol_name(Protocol p);

// A controller fault's JSON form, for other scenario parts that carry faults.
Fault scenario_fault_from_json(const nlohmann::json& j, const std::string& where);
nlohmann::json scenario_fault_to_json(const Fault& f);

} // namespace qvsim
