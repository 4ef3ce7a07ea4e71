// What a simulated controller has behind it: devices by number, logical drives and enclosures by
// box. The scenario describes these; the per-device replies (identify physical drive, logical-drive
// configuration, identify and status, LU cache, bus parameters) and IDENTIFY CONTROLLER's maps and
// counts are all derived from it. Arrays are never described: the library derives them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

// Link-rate codes of a PHY.
inline constexpr std::uint8_t kRate1G = 0x08, kRate3G = 0x09, kRate6G = 0x0A, kRate12G = 0x0B,
                              kRate24G = 0x0C;

// One PHY of a device: its link rates and the kind of device at its far end.
struct FwPhy {
    std::uint8_t max_rate = kRate12G;
    std::uint8_t physical_rate = kRate12G; // negotiated physical
    std::uint8_t logical_rate = kRate12G;  // negotiated logical
    std::uint8_t connected_type = 7;       // far end: 7 the controller
};

// One path to a device (at most 8).
struct FwPath {
    std::string port = "1I";    // two characters
    std::uint8_t box = 1;       // box number on this path
    std::string connector_name; // long connector name, 8 characters
};

// LUN n (1..) of a multi-LUN drive.
struct FwDriveLun {
    bool valid = true; // false: the controller refuses this LUN
    std::uint64_t total_blocks = 0;
    std::uint32_t reserved_blocks = 0;
    std::array<std::uint8_t, 20> wwid{};
    std::array<std::uint8_t, 16> unique_id{};
};

// Drive statistics of BMIC 0xA0 (SENSE_MNP_STATISTICS, 512 bytes), field by field.
struct FwMnpStatistics {
    std::uint32_t reference_minutes = 0; // dwReferenceTime
    std::uint64_t sectors_read = 0, ecc_recovered_read_errors = 0, sectors_written = 0, seek_count = 0,
                  seek_errors = 0;
    std::uint32_t hard_read_errors = 0, retry_recovered_read_errors = 0, hard_write_errors = 0,
                  retry_recovered_write_errors = 0, not_ready_errors = 0, bus_faults = 0, hot_plug_count = 0,
                  predictive_failures = 0;
    std::uint16_t drq_timeouts = 0, other_time_outs = 0, spin_retries = 0, failed_read_recovers = 0,
                  failed_write_recovers = 0, format_errors = 0, media_failures = 0, hardware_errors = 0,
                  aborted_commands = 0, bad_target_count = 0;
};

// How a drive answers the SCSI commands routed to its LUN address (and ATA PASS-THROUGH (16)
// when it is a SATA drive).
struct FwDriveScsi {
    bool ready = true;                      // false: TEST UNIT READY gets NOT READY (02/04/02)
    std::optional<std::uint8_t> peripheral; // INQUIRY byte 0; default 0x00 drives, 0x0D SEPs
    std::optional<std::uint8_t> additional_length; // standard INQUIRY byte 4; default 91 (the reply stays 96)
    std::optional<std::string> vendor, product, revision; // default the drive's vendor, model, firmware
    std::optional<std::string> vpd_serial;               // page 0x80; default the drive's serial
    std::vector<std::uint8_t> vpd_pages{0x00, 0x80, 0x83}; // pages answered (0x00 lists them)
    struct RawPage {
        std::uint8_t page = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<RawPage> vpd_raw; // a page's whole reply, as given (listed or not)
    std::uint8_t power_condition = 0; // last START STOP UNIT: 1 started, 2 stopped (0 none yet)
    std::vector<std::uint8_t> ata_identify; // IDENTIFY DEVICE data (512); default from the identity
    bool ata_abort = false;                  // every ATA command ends with ABORT
};

// A physical device by number (0-383): a drive or a non-disk device.
struct FwDrive {
    std::uint16_t number = 0;
    // bDeviceType: 1 SATA, 2 SAS, 9 NVMe, 10 unknown interface (drives); 5 expander, 6 SEP,
    // 7 controller, 8 SMP target, 0xFF PHY not connected (non-disk devices).
    std::uint8_t device_type = 2;
    // Map membership; by default from the type: drives in the present map, the rest in the
    // non-disk map.
    std::optional<bool> present, non_disk;
    // Flags (bDeviceFlags 0x01 operational / 0x02 non-disk by default from the type).
    std::optional<std::uint8_t> device_flags;
    std::uint8_t more_device_flags = 0, yet_more_device_flags = 0, even_more_device_flags = 0;
    std::uint16_t extra_device_flags = 0; // wExtraDeviceFlags: 0x20 solid state
    std::uint32_t misc_drive_flags = 0;   // dwMiscDriveFlags: SMR 0x800/0x1000/0x2000, boot connector 0x8000
    std::uint32_t feature_flags = 0;      // dwDriveFeatureFlags
    // Managed SED: the PSID printed on the drive (empty: none, so no PSID revert matches), and the
    // master key a foreign drive is owned under (an import must name it). No read returns them.
    std::string psid, sed_owner_key;
    std::uint8_t stamped = 0, last_failure_reason = 0, qrb_support = 0;
    std::uint16_t unsupported_reason = 0;
    std::uint8_t sanitize_erase_support = 0, sanitize_policy = 0, oem_id = 0;
    std::uint16_t power_on_hours = 0, endurance_used = 0;
    std::uint8_t carrier_authentication = 0, carrier_version = 0;
    // Sizes: a total of 0xFFFFFFFF or more reports 0xFFFFFFFF in the 32-bit field and the whole
    // count in the 64-bit one. Defaults: drives 585937500 blocks of 512, 32768 reserved; other
    // devices 0.
    std::optional<std::uint64_t> total_blocks;
    std::optional<std::uint32_t> reserved_blocks;
    std::optional<std::uint16_t> block_size;
    std::uint8_t blocks_per_physical_shift = 0; // bLogicalBlocksPerPhysicalBlock
    std::uint8_t lun_count = 1;                 // bMultiLUNDeviceLUNCount
    std::vector<FwDriveLun> luns;               // LUNs 1, 2, ...
    // Identity.
    std::string vendor = "QVSIM", model = "QD300 SIM", firmware = "Q100", min_firmware;
    std::optional<std::string> serial;      // default "QVSD" + number
    std::optional<std::string> short_model; // sDriveModel at 12; default vendor + model
    // Defaults from the number: WWID 50 00 C5 00 00 00 <high> <low> (8 significant bytes), unique
    // id 60 0D 1A 00 00 00 <high> <low> then 8 zero bytes.
    std::optional<std::array<std::uint8_t, 20>> wwid;
    std::optional<std::array<std::uint8_t, 16>> unique_id;
    std::uint8_t temperature = 30, temperature_threshold = 60, temperature_max = 41;
    // Temperatures of every read after the first (the live reads), when they differ.
    std::optional<std::uint8_t> live_temperature, live_temperature_max;
    std::optional<std::uint32_t> rpm; // default: drives 10000, other devices 0 (1: solid state)
    std::uint16_t pci_vendor = 0, pci_subsystem_vendor = 0;
    // Location.
    std::string port = "1I";
    std::uint8_t box = 1, bay = 1;
    std::optional<std::uint8_t> box_index;     // bBoxIndex; default the enclosure listing it, else box
    std::optional<std::uint16_t> phy_count;    // wPHYCount; default phys.size()
    std::vector<FwPhy> phys{FwPhy{}};          // at most 256 are written
    std::vector<std::uint8_t> controller_phys; // bits of bControllerPHYMap (0-255)
    std::array<std::uint8_t, 4> connector_info{0xFF, 0xFF, 0xFF, 0xFF}; // connector number per PHY
    std::uint8_t connector_mode = 0;                                    // bConnectorMode
    std::vector<FwPath> paths; // sMultiPathPort, bMultiPathBox, sLongConnectorName
    std::uint8_t path_present_map = 0x01, path_failure_map = 0, active_path = 0, active_path_map = 0x01,
                 connector_map = 0;
    std::string long_box_connector_name;
    // Listed in REPORT PHYSICAL LUNS (false: the host finds no address for it).
    bool reported = true;
    std::vector<std::uint8_t> oem_data; // BMIC 0x84 reply (64 bytes, zero padded)
    FwMnpStatistics mnp;                // BMIC 0xA0
    FwDriveScsi scsi;
};

// One block a logical drive holds (READ(16) / WRITE(16) at its LUN); blocks not kept read as zeros.
struct FwBlock {
    std::uint64_t lba = 0;
    std::vector<std::uint8_t> data; // block_size bytes
};

// A logical drive by number (0-63). Members and spares are device numbers.
struct FwLogicalDrive {
    std::uint16_t number = 0;
    std::vector<std::uint16_t> members, spares;
    std::optional<std::vector<std::uint16_t>> original_members; // a transformation in progress: 0x55
    // wFaultToleranceMode: 0 RAID 0, 2 mirroring, 3 RAID 5/50, 5 RAID 6/60, 6 triple mirroring.
    std::uint16_t fault_tolerance = 0;
    std::uint8_t parity_groups = 0;                          // more than 1: bDataDistributionMode 7
    std::optional<std::uint16_t> drives_for_fault_tolerance; // default from the mode
    std::optional<std::uint16_t> assigned_drives;            // wAssignedDrives; default members.size()
    std::uint64_t offset = 0, blocks_per_drive = 0;
    std::optional<std::uint64_t> size_blocks; // default blocks_per_drive x data drives
    std::uint16_t strip = 512;                // wDistribution, blocks
    std::uint16_t block_size = 512;
    std::uint8_t sectors_per_track = 32, heads = 255;
    std::uint16_t cylinders = 0;
    std::uint32_t signature = 0, other_signature = 0, backup_timestamp = 0;
    std::uint8_t property = 0x01; // bLogicalDriveProperty: 0x02 backup, 0x04 LU cache
    std::uint8_t bios_disable_flag = 0, more_unit_flags = 0, configuration_flags = 0;
    std::uint8_t config_version = 20;
    std::uint16_t other_drive_number = 0; // wOtherVolumeDriveNumber
    // LU cache pairing.
    std::uint8_t lu_cache_bits = 0, lu_cache_state = 0, lu_cache_primaries = 0;
    std::uint16_t lu_cache_other = 0xFFFF;
    // Created as an LU cache drive (0x51 with bLogicalDriveProperty 0x04) and not paired yet: the
    // 0xC0 create pairs it although it already is a cache drive.
    bool lu_cache_unpaired = false;
    std::uint8_t lu_cache_algorithm = 1, lu_cache_write_policy = 3, lu_write_policy_reason = 0;
    std::uint32_t lu_cache_line_blocks = 128;
    std::uint8_t lu_cache_state_stats = 0x01;     // bCacheState of the statistics
    // The 12 counters by offset: read hits 8, read misses do-load 16, loading 24, skip 32, write
    // hits 40, write misses do-load 48, loading 56, skip 64, read and write miss totals 76 and 84,
    // read and write locked misses 92 and 100.
    std::vector<std::uint64_t> lu_cache_counters;
    std::uint32_t lu_cache_starting_dirty_lines = 0, lu_cache_dirty_lines = 0; // statistics 4 and 72
    std::uint16_t lu_cache_stats_valid_length = 108;                          // wValidDataLength
    std::optional<std::uint8_t> lu_cache_requested_write_policy; // sense byte 4; default the actual one
    // Identify logical drive.
    std::string label;
    std::array<std::uint8_t, 16> page83_id{};
    // Status.
    std::uint8_t unit_status = 0;
    std::uint16_t missing_drives = 0;
    std::vector<std::uint16_t> failed, replacements, active_spares;
    struct Rebuild {
        std::uint16_t device = 0;
        std::uint8_t percent = 0;
    };
    std::vector<Rebuild> rebuild_percent;
    // bBigDriveRebuilding / wExtendedDriveRebuilding: default the first rebuild_percent device,
    // none (0xFF / 0xFFFF) without one; 0xFFFF names none explicitly.
    std::optional<std::uint16_t> rebuilding_drive;
    std::uint64_t blocks_left = 0;
    std::uint8_t media_exchanged = 0, expand_failure = 0, unit_flags = 0;
    std::uint8_t encryption_flags = 0, additional_encryption_flags = 0, managed_sed_flags = 0,
                 redundant_cabling_flags = 0;
    std::uint32_t status_fixed_length = 1060;
    std::vector<std::uint32_t> status_totals; // each 0x12 read of this drive reports the next total
    // Map offsets, when a test needs them elsewhere (outside the reply, or 0 for none).
    std::optional<std::uint16_t> member_map_offset, spare_map_offset, failure_map_offset,
        replacement_map_offset, active_spare_map_offset, rebuild_offset;
    // Its data: a sparse block store, ascending by LBA (see fw_seed_partition_tables).
    std::vector<FwBlock> blocks;
};

// An enclosure, answered by BMIC 0x65 for its box (0-15).
struct FwEnclosure {
    std::uint8_t box = 0;
    std::uint8_t physical_box = 1;
    std::string vendor = "QVSIM", product = "SIM BAY 8", revision = "0100";
    bool inquiry_valid = true;
    std::uint8_t bay_count = 8, expander_count = 0;
    std::vector<std::uint16_t> installed; // device numbers in its bays
    struct Sep {
        std::uint16_t device = 0;
        std::uint8_t type = 0;
    };
    std::vector<Sep> seps;
    std::vector<std::uint16_t> expanders;
    std::string chassis_serial;
    std::uint16_t connection_flags = 0;
    std::uint8_t path_present_map = 0x01, path_failure_map = 0, active_path = 0, active_path_map = 0x01,
                 connector_map = 0x01;
    std::vector<FwPath> paths;
    std::optional<std::uint8_t> sep_count; // bSEPCount; default seps.size()
    std::uint8_t ubm_version_major = 0, ubm_version_minor = 0, ubm_programming_capabilities = 0;
    std::uint16_t ubm_pci_vendor = 0;
    std::uint32_t ubm_manager_device_code = 0;
    std::string ubm_part_number, ubm_product;
    std::uint32_t fixed_length = 1352;
    std::optional<std::uint16_t> installed_map_offset; // default 1352
};

// Error counters of one controller PHY, answered by the CSMI get-link-errors frame (control code
// 22) tunnelled in BMIC write 0x68. PHYs not listed answer zero counters.
struct FwPhyErrors {
    std::uint8_t phy = 0;
    std::uint32_t invalid_dword = 0, running_disparity = 0, loss_of_sync = 0, phy_reset_problem = 0;
    std::uint32_t return_code = 0;      // non-zero: the frame's ReturnCode, counters left as sent
    int err = 0;                        // non-zero: the carrying request fails with this errno
    std::vector<std::uint8_t> sense;    // not empty: the carrier ends with CHECK CONDITION
};

// Shape of a generated inventory (benchmarks, large tests): `drives` SAS drives spread over
// `connectors` internal connectors (numbers 0..) and `enclosures` boxes (1..), `arrays` arrays of
// equal size holding `logical_drives` logical drives round-robin, each array with `spares` spares.
struct FwInventoryShape {
    std::uint16_t drives = 8;
    std::uint8_t connectors = 2;
    std::uint8_t enclosures = 1;
    std::uint16_t logical_drives = 1;
    std::uint16_t arrays = 1;
    std::uint16_t spares = 0; // per array, taken from the drives
    std::uint16_t fault_tolerance = 0;
    std::uint64_t drive_blocks = 585937500;
    std::uint64_t blocks_per_drive = 4194304; // per logical drive on each member
};

} // namespace qvsim
