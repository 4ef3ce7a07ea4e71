// Firmware state of a simulated controller: what it reports, field by field, and the replies built
// from it. The replies follow the controller's wire formats byte for byte (little-endian unless said).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/controller_fw.h"
#include "qvsim/firmware.h"
#include "qvsim/fw_inventory.h"
#include "qvsim/fw_updates.h"

namespace qvsim {

using Bytes = std::vector<std::uint8_t>;

// IDENTIFY CONTROLLER (BMIC 0x11, 1024 bytes).
struct FwIdentify {
    std::string firmware_version = "5.32-0";         // sFWTag (long running version)
    std::string short_firmware_rev = "5.32";         // sShortRAMFirmwareRev
    std::string rom_firmware_rev = "5.30";           // sShortROMFirmwareRev
    std::string pending_firmware_version = "5.40-2"; // sPendingFirmwareVersion
    std::string compile_timestamp = "Oct 02 2025 11:42:07";
    std::string vendor_id = "QVSIM";
    std::string product_id = "PQ-16i Sim";
    std::string family_id = "QVSIM Gen2 RAID";
    char hardware_revision = 'B'; // cMarketingRevision
    std::uint8_t hardware_minor_revision = 1;
    std::uint16_t build_number = 0;
    std::uint16_t pci_vendor = 0x1D7B, pci_device = 0x0A60;
    std::uint16_t pci_subsystem_vendor = 0x1D7B, pci_subsystem_device = 0x1100;
    std::uint8_t pci_slot = 3;
    std::uint16_t extended_pci_slot = 3;
    std::uint8_t pcie_generation = 3, pcie_width = 8;
    std::uint32_t max_link_rate = 8, max_link_width = 8;
    std::uint16_t memory_mib = 4096; // wTotalAvailableMemorySize
    std::uint16_t max_logical_drives = 64;
    // wExtendedLogicalUnitCount; default the logical drives described.
    std::optional<std::uint16_t> logical_drive_count;
    std::uint16_t max_physical_devices = 384;
    std::uint16_t max_drives_per_logical_drive = 128;
    std::optional<std::uint8_t> enclosure_count; // default the enclosures described that answer
    // Extended drive-present and non-disk maps: these devices besides the ones described in
    // FirmwareState::drives (each in the map its type and flags say).
    std::vector<std::uint16_t> present_devices;
    std::vector<std::uint16_t> non_disk_devices;
    std::uint16_t present_map_offset = 600; // 0: no map
    std::uint16_t non_disk_map_offset = 656;
    std::uint8_t raid6_support = 0;
    std::array<std::uint8_t, 11> features_supported{}; // pbFeaturesSupported
    std::uint8_t more_controller_flags = 0;
    std::uint32_t yet_more_flags = 0x00100000;  // newer fields exist
    std::uint32_t even_more_flags = 0x80000000; // feature pages offered
    std::uint32_t extra_flags = 0x20000000;     // long firmware tag valid
    std::uint32_t fixed_length = 560;           // dwFixedStructureLength
    std::uint32_t total_length = 1024;          // dwTotalStructureLength
    std::uint32_t encryption_status = 0;
    std::uint32_t managed_sed_mode = 0;
    std::uint8_t controller_mode = 0; // bCurrentControllerMode
    std::uint8_t active_rom_status = 0, post_status = 0;
    std::uint8_t last_lockup = 0;
    std::uint32_t extended_last_lockup = 0;
    std::uint32_t reboot_reason = 0;
    std::uint32_t spinup_count = 4, spinup_delay = 2;
    std::uint32_t max_safe_full_stripe_mb = 0;
    std::uint16_t max_raid01_stripe = 0, max_raid45_stripe = 0, max_raid6_stripe = 0;
    std::uint16_t min_raid01_strip = 0, min_parity_strip = 0;
    std::uint16_t swapped_cable_flags = 0;
    std::uint32_t current_comparison_stamp = 0x5320, pending_comparison_stamp = 0x5402;
};

// CONTROLLER_PARAMETERS (BMIC 0x64, 344 bytes).
struct FwParameters {
    std::uint8_t configuration_flags = 0x08; // controller_configuration_flags
    std::uint16_t queue_depth = 0;
    std::uint8_t elevator_state = 0;
    std::uint8_t rebuild_priority = 64, expand_priority = 32;
    std::string software_name;
    std::string hardware_name;
    std::uint8_t nvram_flags = 0;
    std::uint8_t drive_configuration_flags = 0x01;
    std::array<std::uint8_t, 16> primary_boot_lun{}, secondary_boot_lun{};
    std::uint32_t total_length = 344;
    std::uint32_t more_nvram_flags = 0;
    std::uint16_t elevator_latency = 0;
    std::array<std::uint8_t, 16> connector_mode{}; // bConnectorMode (pending, per number)
    std::uint8_t os_bootable_drives = 1;
    std::uint32_t wcbt = 0; // dwBigBlockCacheLineBypassLimit
    struct Clock {
        std::uint32_t century = 20, year = 25, month = 10, day = 2, hour = 11, minute = 42, second = 7;
    } rtc;
    std::uint8_t sanitize_policy = 0;
    std::array<std::uint8_t, 6> drive_write_cache_policy{};
    std::uint16_t expander_min_scan = 0, expander_scan_timeout = 0;
    std::array<std::uint8_t, 2> pcie_ordering{};
    std::uint8_t pcie_max_payload = 2, pcie_max_read_request = 3, pcie_mrrs_override = 0;
    std::uint8_t preboot_health_mode = 0;
};

// One algorithm entry of LU_CACHE_RAM_INFO (LU_CACHE_RAM_ALGO_INFO, 7 bytes).
struct FwLuCacheAlgorithm {
    std::uint8_t type = 0;                   // bType
    std::uint8_t bytes_per_line = 0;         // bBytesPerCacheLine
    std::uint16_t fixed_header = 0;          // wFixedHeaderSizeBytes
    std::uint8_t data_volumes_per_cache = 0; // bDataVolumesPerCacheVolume
    std::uint8_t max_cache_size_bits = 0;    // bMaxCacheVolumeSizeBits
    std::uint8_t max_data_size_bits = 0;     // bMaxDataVolumeSizeBits
};

// CACHE_CONFIG_STATUS (BMIC 0xC1 LUN 0, 512 bytes) and LU_CACHE_RAM_INFO (LUN 1, sub-command 3).
struct FwCache {
    std::uint8_t disable_flag = 0, support_flags = 0x04;
    std::uint16_t disable_code = 0;
    std::uint16_t read_cache_size = 410, write_cache_size = 3446, total_memory = 3856;
    std::uint8_t memory_shift = 0;
    std::uint32_t disabled_map = 0;
    std::uint16_t battery_count = 1, installed_batteries = 0x1, failed_batteries = 0;
    std::uint8_t configuration_flags = 0x02; // cache_configuration_flags
    std::uint32_t total_length = 512, fixed_length = 264;
    std::uint32_t cache_flags = 0;
    std::uint16_t extended_map_offset = 264;
    std::uint16_t max_logical_drives = 64;
    std::uint16_t overridden_read = 0, overridden_write = 0;
    std::array<std::uint8_t, 8> hardware_status{};
    std::uint8_t board_present = 1, backup_power_status = 1;
    std::uint16_t total_backups = 0, backup_hardware_error = 0;
    std::uint8_t green_backup_flags = 0;
    std::uint16_t non_battery_backed = 0;
    std::uint32_t last_backup_time = 0, last_restore_time = 0;
    std::uint8_t green_version_major = 1, green_version_minor = 0;
    std::uint16_t battery_status = 0;
    std::uint8_t backup_power_type = 1;                      // bRequiredBackupPowerType (capacitor)
    std::uint32_t lu_cache_used = 0, lu_cache_available = 0; // LU_CACHE_RAM_INFO
    // Its bAlgoInfo: entry k for algorithm k + 1; entries past the fourth are not reported, missing
    // ones read as zeros.
    std::vector<FwLuCacheAlgorithm> lu_cache_algorithms;
    // Logical drives in the extended cache-disabled map (at `extended_map_offset`, one bit per
    // logical drive up to `max_logical_drives`).
    std::vector<std::uint16_t> disabled_logical_drives;
};

// One connector of SENSE SUBSYSTEM PARAMETERS.
struct FwConnector {
    bool external = false;
    std::uint64_t phy_map = 0x0F;
    std::string short_name = "1I";
    std::string long_name = "1I";
    std::array<std::uint8_t, 8> sas_address{};
    std::uint8_t number = 0;
    std::uint8_t mode = 0, mode_support = 0, phy_rate_limit = 0x0B, flags = 0;
    std::uint64_t active_phy_map = 0x0F;
};

// SUBSYSTEM_PARAMETERS (BMIC 0x66, 1744 bytes).
struct FwSubsystem {
    std::string serial_number = "QVS0A1B2C3D4";
    std::array<std::uint8_t, 8> wwn{0x51, 0xD7, 0xB0, 0x00, 0x00, 0xA1, 0xB2, 0xC0}; // bPortName
    std::string board_serial_number = "QVSBOARD0001";
    std::uint8_t platform_nvram_revision = 3; // byte 29 of the board serial field
    std::string driver_version = "3.4.20-sim";
    std::uint32_t total_length = 1744;
    std::vector<FwConnector> connectors; // internal ones first, at most 8 of each
};

// SENSE_EXPANSION_ABILITY (BMIC 0x59, 118 bytes).
struct FwExpansion {
    std::uint32_t support_flags = 0x2F;
    std::uint32_t memory_kib = 65536;
    std::uint32_t total_length = 118, fixed_length = 54;
    std::uint8_t queued = 0;
};

// Per-logical-drive rows of the surface status tables.
struct FwSurfaceDrive {
    std::uint16_t analysis_status = 0;
    std::uint8_t init_percent = 100;
    std::uint32_t pass_time = 0, completion_date = 0, completion_time = 0;
};

// SURFACE_STATUS (BMIC 0x70, 6904 bytes or the reported total).
struct FwSurface {
    std::uint16_t delay = 3, current_volume = 0;
    std::uint8_t init_percent = 100, max_parallel = 4, current_parallel = 1;
    std::uint32_t total_length = 6904, fixed_length = 1452;
    std::uint16_t max_logical_drives = 64;
    std::vector<FwSurfaceDrive> drives; // tables laid after the fixed part when present
};

// GET_POWER_MODE (BMIC 0xEE fn 1, 17 bytes) and GET_DEFAULT_POWER_MODE (fn 3, 1 byte).
struct FwPower {
    std::uint32_t operational = 4, configured = 4, warnings = 0, survival_thresholds = 0;
    std::uint8_t survival_mode = 0;
    std::uint8_t default_mode = 0x04;
};

// Manufacturing data (BMIC 0x82 fn 1, 256 bytes); OEM id 0 has the standard layout.
struct FwManufacturing {
    std::uint8_t oem_id = 0;
    std::array<std::uint8_t, 8> wwid{0x51, 0xD7, 0xB0, 0x00, 0x00, 0xA1, 0xB2, 0xC0};
    std::string serial_number = "QVS0A1B2C3D4";
    std::string spare_part_number = "QV-4100-S01";
    std::array<std::uint8_t, 12> wellness_log{};
    std::uint8_t revision = 2;
    std::string part_number = "QV-4100-A1";
    Bytes raw; // replaces the whole record when not empty (OEM layouts)
};

// One record of the sensor reply (BMIC 0x78).
struct FwSensor {
    std::uint8_t index = 0; // 0xFF: no sensor in this record
    std::uint8_t over_critical = 0, over_caution = 0, over_warning = 0;
    std::uint32_t reading = 30;
    std::uint8_t type = 1, class_type = 0, location = 0;
    std::string unit = "C";
    std::uint16_t flags = 0;
    std::uint32_t max_since_poweron = 40, failed_count = 0;
    std::uint32_t critical = 105, caution = 95, warning = 85; // first three values of class_info
    bool temperature = true; // listed by sub-command 1 (temperature sensors only)
};

// ERASE_STATE (BMIC 0xE5): a 664-byte header, one word per physical device, then (when any) one
// word per logical drive.
struct FwErase {
    std::uint16_t max_physical_devices = 384, max_logical_drives = 64;
    std::uint8_t support_flags = 0x07, option_flags = 0;
    std::uint32_t fixed_length = 22;
    struct Drive {
        std::uint16_t number = 0, state = 0;
    };
    std::vector<Drive> drives;                 // words of the devices not listed are 0
    std::vector<std::uint16_t> logical_drives; // empty: no logical-drive table (offset 0)
};

// MIRROR_DRIVE_PAIR_INFO (BMIC 0x5D, LUN = logical drive) of one logical drive.
struct FwMirrorPairs {
    std::uint16_t logical_drive = 0;
    struct Pair {
        std::uint16_t drive = 0, paired = 0;
    };
    std::vector<Pair> pairs; // drives not listed read 0xFFFF (no partner)
};

// ONLINE FIRMWARE ACTIVATION (BMIC 0xD4): the status record and the response of fns 1, 2, 4, 5.
struct FwOfa {
    std::uint8_t status = 255, percent = 0;
    std::uint16_t delay_set = 0, delay_remaining = 0;
    std::uint8_t response_code = 0;
    std::array<std::uint8_t, 8> failure_reason{};
};

// One connector entry of a DISCOVERY_CONFIGURATION_BUFFER.
struct FwDiscoveryEntry {
    std::uint8_t protocol = 0, found_protocol = 0, link_width = 0, clock_routing = 0;
};

struct FwDiscovery {
    std::optional<std::uint8_t> connector_count;             // default: the number of connectors
    std::vector<FwDiscoveryEntry> active, pending, defaults; // indexed by connector number
};

struct FwRole {
    std::uint8_t value = 0;
    std::string type;
    std::uint32_t capabilities = 0; // dwSupportedDetailField
};

// The IKEK status bytes of BMIC 0x1E read function 7.
struct FwIkekStatus {
    std::uint8_t ikek = 0, ikek_reset = 0, controller_key = 0;
};

// Encryption reads (BMIC 0x1E) and what the 0x1E writes set. The writes keep the reported state in
// the reads' own fields: the identify data's `encryption_status` (enabled 0x1, local 0x4, key
// cache 0x400, crypto-officer password 0x800, user password 0x1000, firmware lock 0x4000, recovery
// question 0x10000, local key 0x20000, missing boot password 0x40000, plaintext volumes 0x80000,
// remote key name 0x8000000), `boot_password_status`, `recovery_question`, the key-cache fields, the
// IKEK bytes and `attempts_remaining`; the role passwords are `updates.passwords`.
struct FwEncryption {
    std::uint32_t kek_supported = 0x7;
    std::uint16_t kek_min_attempts = 1, kek_max_attempts = 10, kek_attempts = 5;
    std::uint16_t kek_min_interval = 1, kek_max_interval = 60, kek_interval = 5;
    std::uint32_t kek_flags = 0;
    std::vector<FwRole> roles;
    Bytes recovery_question; // 256 bytes, NUL padded
    std::string server_name;
    std::uint16_t boot_password_status = 0;
    std::uint8_t ikek = 0, ikek_reset = 0, controller_key = 0;
    std::uint32_t boot_complete = 1, boot_status = 0;
    std::array<std::uint32_t, 2> attempts_remaining{5, 5}, lockout_seconds{0, 0};
    std::uint8_t retrieval_status = 0, connection_status = 0;
    Bytes features; // bNumberOfFeatureBytes is its size
    // Credentials the writes set and check; no read returns them.
    std::string master_key;      // local master key (function 19)
    std::string key_name;        // remote key name (function 10)
    std::string recovery_answer; // function 21; function 22 checks it
    std::string boot_password;   // function 25; function 26 checks it
    std::string foreign_key;     // what the logical drives waiting for a key need (function 23)
    // IKEK status after a key name is taken (function 10): each function 7 read then takes the next
    // entry and reports it; after the last, the status stays. Empty: obtained at once (ikek and
    // controller key 3, reset 3 when a key name was set before, else 0). `ikek_poll` is the next
    // entry, set by function 10.
    std::vector<FwIkekStatus> ikek_polls;
    std::optional<std::uint32_t> ikek_poll;
    unsigned controller_rekeys = 0, rescans = 0, factory_resets = 0, unlocks = 0;
};

// Managed self-encrypting drives (BMIC 0xE8).
struct FwManagedSed {
    std::uint8_t adapter_password_status = 0;
    std::uint32_t countdown_timer = 0;
    std::uint8_t unlock_attempts_left = 5;
    std::uint32_t status = 0;
    std::array<std::uint8_t, 32> master_key_id{};
    std::uint32_t kms_action = 0;
    struct ForeignKey {
        std::uint16_t drive = 0;
        std::array<std::uint8_t, 32> key_id{}, reset_key_id{};
    };
    std::vector<ForeignKey> foreign_keys;
    // What the 0xE8 writes set and check: the local master key and the adapter password (empty: none).
    std::string master_key, adapter_password;
};

// One feature page of BMIC 0x61.
struct FwFeaturePage {
    std::uint8_t page = 0, subpage = 0;
    Bytes data;
    std::optional<std::uint16_t> length; // announce another wPageLength than data.size()
};

// One entry of REPORT LOGICAL LUNS (extended).
struct FwLogicalLun {
    std::uint16_t number = 0;
    bool remote = false;
    std::array<std::uint8_t, 16> unique_id{};
    std::optional<std::array<std::uint8_t, 8>> address; // default from number and remote
};

// One entry of REPORT PHYSICAL LUNS (extended).
struct FwPhysicalLun {
    std::uint16_t number = 0;
    std::uint8_t device_type = 0; // bDeviceType
    std::uint8_t flags = 0;       // bFlags
    std::array<std::uint8_t, 8> sas_wwid{};
    std::optional<std::array<std::uint8_t, 8>> address; // default from number and device_type
};

// Raw bytes written over a BMIC reply after it is built: fields that have no name here.
struct FwPatch {
    std::uint8_t opcode = 0;
    std::optional<std::uint8_t> function; // CDB byte 5
    std::uint32_t offset = 0;
    Bytes bytes;
};

// A patch of the replies for one device only (the device as FwFault::device reads it).
struct FwDevicePatch {
    std::uint8_t opcode = 0;
    std::uint16_t device = 0;
    std::uint32_t offset = 0;
    Bytes bytes;
};

// A planned failure of one firmware command, matched by BMIC opcode (and function) or SCSI opcode.
// The nth matching command and `count` after it (0: all) fail: with an errno from the driver
// request, with CHECK CONDITION and the given sense, or with short data.
struct FwFault {
    std::optional<std::uint8_t> bmic;     // BMIC opcode (CDB byte 6)
    std::optional<std::uint8_t> function; // with bmic: CDB byte 5
    std::optional<std::uint8_t> scsi;     // or the CDB's byte 0 (REPORT LUNS: 0xC2, 0xC3, 0xC4)
    // With bmic: only commands for this device: 0x15 the drive ((detail >> 24) | (LUN & 0xFF00)),
    // 0x10, 0x12, 0x50, 0x55 the logical drive (LUN), 0xC1 LUN 1 the logical drive (detail's low
    // word), 0x65 the box (detail). `lun`: with 0x15, only that LUN of the drive (LUN & 0xFF).
    std::optional<std::uint16_t> device;
    std::optional<std::uint8_t> lun;
    std::optional<bool> write; // with bmic: only writes (CDB 27) or only reads (CDB 26)
    unsigned nth = 1, count = 1;
    int err = 0;
    Bytes sense;                            // not empty: CHECK CONDITION with this sense
    std::optional<std::size_t> data_length; // at most this many bytes of data in (with sense:
                                            // that much of the reply is written before it fails)
    unsigned seen = 0;                      // matching commands so far
};

// Fixed-format sense data (response code 0x70) for a fault.
Bytes fixed_sense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

struct FirmwareState {
    FwIdentify identify;
    FwParameters parameters;
    FwCache cache;
    FwSubsystem subsystem;
    std::uint16_t mnp_delay = 60;
    FwExpansion expansion;
    FwSurface surface;
    FwPower power;
    FwManufacturing manufacturing;
    FwOfa ofa;
    std::vector<FwSensor> sensors;
    FwErase erase;
    std::uint16_t mirror_max_physical_devices = 384;
    std::vector<FwMirrorPairs> mirror_pairs;
    std::uint8_t i2c_slave_address = 0x70, i2c_configuration = 0x02;
    std::array<std::uint8_t, 4> oob_active{0x01, 0x02, 0x70, 0x00}, oob_pending{0x01, 0x02, 0x70, 0x00};
    FwDiscovery discovery;
    FwEncryption encryption;
    FwManagedSed managed_sed;
    std::vector<FwFeaturePage> feature_pages;
    std::vector<FwLogicalLun> logical_luns;
    std::uint32_t generated_remote_volumes = 0; // appended to logical_luns, numbered from 0
    std::vector<FwPhysicalLun> physical_luns;   // besides the devices of `drives`
    // The inventory (qvsim/fw_inventory.h). REPORT PHYSICAL LUNS lists every device of `drives`
    // not in physical_luns, REPORT LOGICAL LUNS every logical drive not in logical_luns.
    std::vector<FwDrive> drives;
    std::vector<FwLogicalDrive> logical_drives;
    std::vector<FwEnclosure> enclosures;
    // Writes taken, backup power source, passwords, NVRAM and flash (qvsim/fw_updates.h).
    FwUpdates updates;
    std::vector<FwPhyErrors> phy_errors; // controller PHYs' link-error counters
    // Identify-physical-drive reads of LUN 0 so far, per drive (the second and later are the live
    // reads). Not part of the JSON form.
    std::map<std::uint16_t, unsigned> identify_reads;
    // Read-twice faults: each read of a command takes the next total of its sequence and reports it
    // instead of its own (its own again once the sequence is used up). BMIC opcode -> totals
    // (0x11, 0x64, 0xC1, 0x66, 0x59, 0x70, 0x61, 0xE5, 0x5D; for 0x78 the sensor count); REPORT LUNS
    // list lengths separately.
    std::map<std::uint8_t, std::vector<std::uint32_t>> reported_totals;
    std::vector<std::uint32_t> logical_list_lengths, physical_list_lengths;
    std::vector<FwPatch> patches;
    std::vector<FwDevicePatch> device_patches;
    std::vector<FwFault> faults;

    // A believable modern controller: feature pages, two internal and one external connector.
    FirmwareState();

    // Adds or replaces a feature page; `name` is the slot name (e.g. "power_management").
    FirmwareState& set_page(std::uint8_t page, std::uint8_t subpage, Bytes data);
    FirmwareState& set_page(const std::string& name, Bytes data);
    FirmwareState& remove_page(std::uint8_t page, std::uint8_t subpage);
    const FwFeaturePage* find_page(std::uint8_t page, std::uint8_t subpage) const;
    FwLogicalLun& add_logical_drive(std::uint16_t number, bool remote = false);
    FwPhysicalLun& add_physical_device(std::uint16_t number, std::uint8_t device_type = 0);

    // Inventory builders; each replaces an entry of the same number (box).
    FwDrive& add_drive(std::uint16_t number, std::uint8_t device_type = 2);
    FwLogicalDrive& add_configured_drive(std::uint16_t number, std::vector<std::uint16_t> members,
                                         std::uint64_t blocks_per_drive, std::uint64_t offset = 0);
    FwEnclosure& add_enclosure(std::uint8_t box);
    FwDrive* find_drive(std::uint16_t number);
    const FwDrive* find_drive(std::uint16_t number) const;
    FwLogicalDrive* find_configured_drive(std::uint16_t number);
    const FwLogicalDrive* find_configured_drive(std::uint16_t number) const;
    const FwEnclosure* find_enclosure(std::uint8_t box) const;
    // Replaces the inventory with one of this shape (see FwInventoryShape).
    FirmwareState& generate(const FwInventoryShape& shape);
    // Fails BMIC `opcode` for one device (FwFault::device): the nth such command and `count` after
    // it (0: all), with ILLEGAL REQUEST sense unless `err` is given.
    FwFault& fail_device(std::uint8_t opcode, std::uint16_t device, unsigned nth = 1, unsigned count = 1,
                         int err = 0);
    // The live identify reads of a drive (every 0x15 of LUN 0 after the first) fail.
    FwFault& fail_live_identify(std::uint16_t drive, int err = 0);

    // Throws std::runtime_error naming `where` and the offending key.
    static FirmwareState from_json(const nlohmann::json& j, const std::string& where = "fw");
    nlohmann::json to_json() const;
};

// Known feature page names, as the library names their slots (without "page_").
std::optional<std::pair<std::uint8_t, std::uint8_t>> feature_page_by_name(const std::string& name);
const char* feature_page_name(std::uint8_t page, std::uint8_t subpage); // nullptr when unknown

// Replies built from the state, at their full size (the caller clips to the allocation length).
// `total` replaces the reply's own total-length field when given (read-twice faults).
Bytes fw_identify_controller(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_controller_parameters(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_cache_config_status(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_lu_cache_ram_info(const FirmwareState& s);
Bytes fw_subsystem_parameters(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_mnp_status(const FirmwareState& s);
Bytes fw_expansion_ability(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_surface_status(const FirmwareState& s, std::optional<std::uint32_t> total = {});
Bytes fw_power_mode(const FirmwareState& s);
Bytes fw_default_power_mode(const FirmwareState& s);
Bytes fw_manufacturing_data(const FirmwareState& s);
// Sensor reply: sub-command 1 lists the temperature sensors only; `count` replaces the reported
// number of sensors (records past the real ones have index 0xFF).
Bytes fw_sensors(const FirmwareState& s, std::uint8_t subcommand, std::optional<std::uint32_t> count = {});
Bytes fw_erase_status(const FirmwareState& s, std::optional<std::uint32_t> total = {});
// nullopt for a logical drive without mirror-pair data.
std::optional<Bytes> fw_mirror_pair_info(const FirmwareState& s, std::uint16_t logical_drive,
                                         std::optional<std::uint32_t> total = {});
Bytes fw_ofa_status(const FirmwareState& s);
Bytes fw_backup_power_source(const FirmwareState& s); // BMIC 0xBF, 512
Bytes fw_ofa_response(const FirmwareState& s);
Bytes fw_i2c_info(const FirmwareState& s);
Bytes fw_oob_interface(const FirmwareState& s);
Bytes fw_discovery_configuration(const FirmwareState& s, std::uint8_t function); // 0, 1 or 3
// BMIC 0x1E read functions 1, 2, 3, 5, 6, 7, 8, 9, 10, 13; nullopt for another function.
std::optional<Bytes> fw_encryption_read(const FirmwareState& s, std::uint8_t function);
// BMIC 0xE8 read functions 1, 2, 3 (per drive), 4, 6; nullopt for another function or drive.
std::optional<Bytes> fw_managed_sed_read(const FirmwareState& s, std::uint8_t function, std::uint16_t drive);
Bytes fw_feature_pages(const FirmwareState& s, std::uint8_t page = 0xFF, std::uint8_t subpage = 0xFF,
                       std::optional<std::uint16_t> total = {});
// CISS REPORT LOGICAL/PHYSICAL LUNS, extended: 8-byte header, 24-byte entries.
Bytes fw_report_logical_luns(const FirmwareState& s, std::optional<std::uint32_t> list_length = {});
Bytes fw_report_physical_luns(const FirmwareState& s, std::optional<std::uint32_t> list_length = {});
std::array<std::uint8_t, 8> fw_logical_address(const FwLogicalLun& l);
std::array<std::uint8_t, 8> fw_physical_address(const FwPhysicalLun& p);

// Per-device replies of the inventory; nullopt where the controller refuses (ILLEGAL REQUEST).
// Identify physical drive (0x15, 3072): `live` gives the live temperatures.
std::optional<Bytes> fw_identify_physical_drive(const FirmwareState& s, std::uint16_t drive, std::uint8_t lun,
                                                bool live = false);
// Logical-drive configuration (0x50; 0x55 with `original`, only while a transformation is pending),
// 652 bytes. A number below the maximum that is not described reads with no assigned drives.
std::optional<Bytes> fw_logical_drive_config(const FirmwareState& s, std::uint16_t ld, bool original = false);
std::optional<Bytes> fw_identify_logical_drive(const FirmwareState& s, std::uint16_t ld); // 0x10, 118
// Logical-drive status (0x12): 3265 bytes, or as many as `total` reports (at most 65,536 built).
std::optional<Bytes> fw_logical_drive_status(const FirmwareState& s, std::uint16_t ld,
                                             std::optional<std::uint32_t> total = {});
std::optional<Bytes> fw_lu_cache_sense(const FirmwareState& s, std::uint16_t ld); // 0xC1 LUN 1 sub 0, 512
std::optional<Bytes> fw_lu_cache_stats(const FirmwareState& s, std::uint16_t ld); // 0xC1 LUN 1 sub 1, 112
// Sense bus parameters (0x65, 1537) of box 0-15; a box with no enclosure answers an empty record.
std::optional<Bytes> fw_bus_parameters(const FirmwareState& s, std::uint8_t box);
// A device's WWID (its own, or the one derived from its number).
std::array<std::uint8_t, 20> fw_drive_wwid(const FwDrive& d);
// The devices IDENTIFY CONTROLLER lists in its present and non-disk maps, ascending.
std::vector<std::uint16_t> fw_present_devices(const FirmwareState& s);
std::vector<std::uint16_t> fw_non_disk_devices(const FirmwareState& s);

// A stateful controller whose BMIC and REPORT LUNS answers come from a FirmwareState. Put it on a
// scenario controller (`c.firmware = std::make_shared<qvsim::FwController>(state)`, or the JSON key
// "fw"); tests may change `fw_state()` between commands. A plain ControllerFirmware gets the same
// answers from a default state of its own.
class FwController : public ControllerFirmware {
public:
    explicit FwController(FirmwareState s = {}) : state_(std::move(s)) {}
    FirmwareState& fw_state() { return state_; }
    const FirmwareState& fw_state() const { return state_; }

private:
    FirmwareState state_;
};

// Writes a protective MBR (block 0) and GPT headers (block 1 and the last block) into a logical
// drive's block store, as an operating system would have left them.
void fw_seed_partition_tables(FwLogicalDrive& l);

// The state a firmware answers from: a FwController's own, else one kept for that firmware.
FirmwareState& firmware_state(ControllerFirmware& fw);

} // namespace qvsim
