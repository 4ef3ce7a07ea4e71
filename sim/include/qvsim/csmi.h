// A simulated CSMI-capable node: a SAS controller's driver answering the CSMI SAS requests
// (driver, controller, phy information, SSP and SMP pass-through) for a topology of end devices
// and expanders. Buffer layouts: offsets from the buffer start, little-endian.
#pragma once

#include <array>
#include <cstddef>
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

namespace csmi {

inline constexpr unsigned long kDriverInfo = 0xCC770001;
inline constexpr unsigned long kControllerConfig = 0xCC770002;
inline constexpr unsigned long kControllerStatus = 0xCC770003;
inline constexpr unsigned long kPhyInfo = 0xCC770014;
inline constexpr unsigned long kSmpPassthru = 0xCC770017;
inline constexpr unsigned long kSspPassthru = 0xCC770018;
inline constexpr unsigned long kPause = 0xCC770031;
inline constexpr unsigned long kResume = 0xCC770032;

inline constexpr std::size_t kDriverInfoSize = 216, kControllerConfigSize = 240, kControllerStatusSize = 88,
                             kPhyInfoSize = 2096, kSmpSize = 2120, kSspSize = 392, kPauseSize = 112;
// Larger buffers are refused (EINVAL): no driver copies more.
inline constexpr std::size_t kMaxBufferSize = 16u << 20;

// IOCTL_HEADER (40 bytes; Length is the whole buffer's size).
namespace hdr {
inline constexpr std::size_t kControllerNumber = 0, kLength = 8, kReturnCode = 16, kTimeout = 24,
                             kDirection = 32, kSize = 40;
}
inline constexpr std::uint32_t kReturnOk = 0, kReturnFailed = 1, kReturnInvalidParameter = 3;

namespace drv { // CSMI_SAS_DRIVER_INFO_BUFFER
inline constexpr std::size_t kName = 40, kDescription = 121, kTextSize = 81, kMajor = 202, kMinor = 204,
                             kBuild = 206, kRelease = 208, kCsmiMajor = 210, kCsmiMinor = 212;
}
namespace cfg { // CSMI_SAS_CNTLR_CONFIG_BUFFER
inline constexpr std::size_t kBaseIoAddress = 40, kBaseMemoryLow = 44, kBaseMemoryHigh = 48, kBoardId = 52,
                             kSlotNumber = 56, kControllerClass = 58, kIoBusType = 59, kPciBus = 60,
                             kPciDevice = 61, kPciFunction = 62, kSerialNumber = 92, kSerialSize = 81,
                             kMajor = 174, kMinor = 176, kBuild = 178, kRelease = 180, kBiosMajor = 182,
                             kBiosMinor = 184, kBiosBuild = 186, kBiosRelease = 188, kControllerFlags = 192,
                             kRromMajor = 196, kRromMinor = 198, kRromBuild = 200, kRromRelease = 202;
}
namespace sts { // CSMI_SAS_CNTLR_STATUS_BUFFER
inline constexpr std::size_t kStatus = 40, kOfflineReason = 44;
}
namespace phy { // CSMI_SAS_PHY_INFO_BUFFER and CSMI_SAS_PHY_ENTITY
inline constexpr std::size_t kNumberOfPhys = 40, kEntities = 44, kEntitySize = 64, kMaxPhys = 32;
// Identify record (28 bytes), at 0 (the phy itself) and at kAttached (what it is attached to).
inline constexpr std::size_t kDeviceType = 0, kRestricted = 1, kInitiatorProtocol = 2, kTargetProtocol = 3,
                             kSasAddress = 12, kPhyIdentifier = 20, kSignalClass = 21;
inline constexpr std::size_t kPortIdentifier = 28, kNegotiatedLinkRate = 29, kMinimumLinkRate = 30,
                             kMaximumLinkRate = 31, kPhyChangeCount = 32, kAutoDiscover = 33,
                             kPhyFeatures = 34, kAttached = 36;
} // namespace phy
namespace ssp { // CSMI_SAS_SSP_PASSTHRU_BUFFER
inline constexpr std::size_t kPhy = 40, kPort = 41, kConnectionRate = 42, kDestination = 44, kLun = 52,
                             kCdbLength = 60, kAdditionalCdbLength = 61, kCdb = 64, kFlags = 80,
                             kAdditionalCdb = 88, kDataLength = 112, kConnectionStatus = 120,
                             kSspStatus = 121, kDataPresent = 124, kStatus = 125, kResponseLength = 126,
                             kResponse = 128, kResponseSize = 256, kDataBytes = 384, kData = 392;
inline constexpr std::uint64_t kFlagRead = 1, kFlagWrite = 2, kFlagNoData = 4;
inline constexpr std::uint8_t kStatusCompleted = 1, kSenseDataPresent = 2;
} // namespace ssp
namespace smp { // CSMI_SAS_SMP_PASSTHRU_BUFFER
inline constexpr std::size_t kPhy = 40, kPort = 41, kConnectionRate = 42, kDestination = 44,
                             kRequestLength = 56, kRequest = 64, kAdditionalRequest = 68,
                             kConnectionStatus = 1084, kResponseBytes = 1088, kResponse = 1096,
                             kAdditionalResponse = 1100, kMaxAdditional = 1016;
}
namespace pause {
inline constexpr std::size_t kSasAddress = 40;
}
// bConnectionStatus when nothing answers at the destination SAS address, or the device there
// does not take the protocol (SMP to an end device, SSP to an expander).
inline constexpr std::uint8_t kConnectionNoDestination = 1, kConnectionProtocolNotSupported = 2;

} // namespace csmi

// Device types of an Identify record and of DISCOVER (byte 12, bits 4..6).
inline constexpr std::uint8_t kSasEndDevice = 0x10, kSasEdgeExpander = 0x20, kSasFanoutExpander = 0x30;
// Protocol bits: SATA 0x01, SMP 0x02, STP 0x04, SSP 0x08.
inline constexpr std::uint8_t kSasSata = 0x01, kSasSmp = 0x02, kSasStp = 0x04, kSasSsp = 0x08;

// A phy of the controller or of an expander and what it is attached to.
struct CsmiPhy {
    std::string attached;          // SAS address (16 hex digits) of a device, an expander or
                                   // the controller; "" when nothing is attached
    std::uint8_t attached_phy = 0; // the attached device's phy identifier
    std::uint8_t port = 0;         // bPortIdentifier
    std::uint8_t link_rate = 0x0A; // negotiated (0x08 1.5, 0x09 3, 0x0A 6, 0x0B 12 Gbit/s)
    bool virtual_phy = false;      // DISCOVER byte 43 bit 7
};

struct CsmiEndDevice {
    std::string sas_address;
    std::uint8_t device_type = kSasEndDevice;
    std::uint8_t initiator_protocol = 0;
    std::uint8_t target_protocol = kSasSsp;
    // Standard INQUIRY over SSP.
    std::uint8_t peripheral_type = 0; // 0 disk, 1 tape, 13 enclosure services
    std::string vendor = "QVSIM", product = "SIM SAS DISK", revision = "0001";
};

struct CsmiExpander {
    std::string sas_address;
    std::uint8_t device_type = kSasEdgeExpander;
    std::vector<CsmiPhy> phys{};
    std::optional<unsigned> reported_phys{}; // REPORT GENERAL's number of phys (default: phys.size())
};

struct CsmiDriverInfo {
    std::string name = "qvcsmi";
    std::string description = "QVSIM SAS HBA driver";
    std::uint16_t major = 1, minor = 2, build = 3, release = 4, csmi_major = 0, csmi_minor = 90;
};

struct CsmiControllerConfig {
    std::uint32_t base_io_address = 0, base_memory_low = 0xFB000000, base_memory_high = 0;
    std::uint32_t board_id = 0x1D7A0C01;
    std::uint16_t slot = 3;
    std::uint8_t controller_class = 5, io_bus_type = 3, pci_bus = 0x41, pci_device = 0, pci_function = 0;
    std::string serial_number = "QVSIMHBA0001";
    std::uint16_t major = 5, minor = 1, build = 0, release = 7;
    std::uint16_t bios_major = 2, bios_minor = 0, bios_build = 0, bios_release = 1;
    std::uint32_t flags = 0x00000001;
    std::uint16_t rrom_major = 0, rrom_minor = 0, rrom_build = 0, rrom_release = 0;
};

struct CsmiNode {
    std::string node = "/dev/csmi0";
    unsigned major = 240, minor = 0;              // char node
    std::string sas_address = "5001D7A000000000"; // the controller's own
    std::vector<CsmiPhy> phys{};                  // at most 32 (the buffer's slots)
    std::optional<unsigned> reported_phys{};      // bNumberOfPhys (default: phys.size()), up to 255
    std::vector<CsmiEndDevice> end_devices{};
    std::vector<CsmiExpander> expanders{};
    CsmiDriverInfo driver;
    CsmiControllerConfig config;
    std::uint32_t status = 1, offline_reason = 0; // controller status buffer
    // ReturnCode written back for every request of that code (0: success).
    std::map<unsigned long, std::uint32_t> return_codes{};
    std::vector<Fault> faults{};
    // SSP ("csmi-sas-ssp") and SMP ("csmi-smp") commands go here instead of the built-in topology.
    std::shared_ptr<Firmware> firmware{};

    CsmiEndDevice& add_end_device(std::string sas_address, std::uint8_t peripheral_type = 0);
    CsmiExpander& add_expander(std::string sas_address, std::uint8_t device_type = kSasEdgeExpander);
    // Attaches the controller's next phy to `attached`.
    CsmiNode& phy(std::string attached, std::uint8_t attached_phy = 0);
};

CsmiNode& add_csmi_node(Scenario& s, CsmiNode n);

// Built-in answers of the topology (also used by the self-tests).
// SMP responses as a frame: 4 header bytes (frame type 0x41, function, result, response length),
// then the additional bytes. REPORT GENERAL: 4 + 28 bytes, number of phys at frame byte 9.
// DISCOVER: 4 + 56 bytes; phy 9, attached device type 12 (bits 4..6), link rate 13, initiator
// protocols 14, target protocols 15, SAS address 16, attached SAS address 24, attached phy 32,
// virtual phy byte 43 bit 7. An unknown function: result 0x01; a phy past the last: 0x10.
std::vector<std::uint8_t> csmi_smp_response(const CsmiNode& n, const CsmiExpander& e,
                                            const std::vector<std::uint8_t>& request_frame);
// Standard INQUIRY data (116 bytes max): peripheral type, vendor 8..15, product 16..31,
// revision 32..35, blank padded and not terminated.
std::vector<std::uint8_t> csmi_inquiry(const CsmiEndDevice& d);
// 16 hex digits to 8 bytes, most significant first; throws std::runtime_error otherwise.
std::array<std::uint8_t, 8> sas_address_bytes(const std::string& hex);

CsmiNode csmi_node_from_json(const nlohmann::json& j, const std::string& where);
nlohmann::json csmi_node_to_json(const CsmiNode& n);
void build_csmi_tree(const std::string& staging, const Scenario& s);
void attach_csmi_nodes(const Scenario& s);

} // namespace qvsim
