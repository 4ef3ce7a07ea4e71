// Simulated host block volumes: sysfs entries as Linux lays them out, block nodes that answer
// SG_IO (INQUIRY and VPD pages) and the block ioctls.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/firmware.h"

namespace qvsim {

struct Scenario;

inline constexpr unsigned kScsiDiskMajor = 8;

struct BlockPartition {
    unsigned number = 1;
    std::uint64_t start = 2048;        // sectors of 512 bytes
    std::uint64_t size = 0;            // sectors; 0: up to the end of the disk
    std::optional<std::string> name{}; // sysfs name; default: the disk's name + number, with
                                       // "p" between when the disk's name ends in a digit
};

// What HDIO_GET_IDENTITY returns (the kernel hands the texts over in reading order).
struct AtaIdentity {
    std::string serial = "QVSIMATA0001";   // 20 bytes at offset 20, blank padded
    std::string firmware = "1.0";          // 8 bytes at 46
    std::string model = "QVSIM SATA DISK"; // 40 bytes at 54
    std::optional<std::string> wwn{};      // 16 hex digits: words 108..111, first word first
};

struct BlockDevice {
    std::string name = "sdb"; // /sys/block/<name>; node "/dev/" + name with the first '!' as '/'
    unsigned major = kScsiDiskMajor;
    unsigned minor = 16;          // partition n is minor + n
    std::uint64_t size = 2097152; // sysfs "size", sectors of 512 bytes
    std::string removable = "0";  // text of "removable"

    // Placement. Below a controller (its PCI address) on one of its hosts, so the volume belongs
    // to it; or, without a controller, below /sys/devices/<parent>/host<host>.
    std::optional<std::string> controller{};
    unsigned host_index = 0;
    std::string parent = "pci0000:00/0000:00:17.0/ata3";
    unsigned host = 30;
    unsigned channel = 0, target = 0, lun = 0;
    bool scsi_device = true;       // false: /sys/devices/virtual/block/<name>, no device link
    bool legacy_directory = false; // /sys/block/<name> a directory with a "device" link

    // The SCSI device directory (nullopt: no such file).
    std::optional<std::string> vendor = "QVSIM";
    std::optional<std::string> model = "LOGICAL VOLUME";
    std::optional<std::string> unique_id{};
    std::string scsi_type = "0";

    // SG_IO answers. INQUIRY: standard data from vendor/model; VPD pages listed in vpd_pages.
    std::vector<std::uint8_t> vpd_pages = {0x00, 0x80, 0x83};
    std::optional<std::string> serial = "QVSIMVOL0001";          // page 0x80 (nullopt: page is empty)
    std::optional<std::string> naa{};                            // page 0x83: 16 or 32 hex digits
    std::map<std::uint8_t, std::vector<std::uint8_t>> vpd_raw{}; // whole page replies, by page code
    std::shared_ptr<Firmware> firmware{};                        // answers SG_IO instead, when set

    // Block ioctls (nullopt: the request fails with ENOTTY).
    std::optional<AtaIdentity> identity{};
    std::uint8_t heads = 255, sectors = 63;
    std::optional<std::uint16_t> cylinders{}; // default: size / (heads * sectors), capped
    std::optional<unsigned> logical_block_size = 512;
    std::optional<unsigned> physical_block_size = 4096;
    // /sys/block/<name>/queue/*_block_size (nullopt: no file).
    std::optional<unsigned> queue_logical_block_size = 512;
    std::optional<unsigned> queue_physical_block_size = 4096;

    std::vector<BlockPartition> partitions{};
    std::vector<Fault> faults{}; // on the disk's node and its partitions' nodes

    std::string node() const; // "/dev/..."
    std::string partition_name(const BlockPartition& p) const;
    std::string partition_node(const BlockPartition& p) const;
};

// Adds a volume below the controller with that PCI address (added before, or later: the address
// is looked up when the host is built), at channel 0, target 0 and the next LUN from 1 (the n-th
// volume of that controller gets LUN n).
BlockDevice& add_block_device(Scenario& s, BlockDevice d);
BlockDevice& add_volume(Scenario& s, const std::string& controller_pci, std::string name, unsigned minor);

// Replies of the built-in SCSI target (the endpoint clips them to the allocation length).
std::vector<std::uint8_t> block_standard_inquiry(const BlockDevice& d);
// nullopt for a page the device does not list.
std::optional<std::vector<std::uint8_t>> block_vpd_page(const BlockDevice& d, std::uint8_t page);
std::array<std::uint8_t, 512> block_identity(const AtaIdentity& id);

// Scenario plumbing (scenario.cpp, sandbox.cpp, device.cpp call these).
BlockDevice block_device_from_json(const nlohmann::json& j, const std::string& where);
nlohmann::json block_device_to_json(const BlockDevice& d);
// Writes the volumes' sysfs entries and /dev nodes below `staging` (the tree before it is mounted).
void build_block_tree(const std::string& staging, const Scenario& s);
void attach_block_devices(const Scenario& s);

} // namespace qvsim
