// What the drive-level firmware files share with the controller reads (private to sim/firmware):
// the fault runner and the per-drive BMIC replies built in fw_drive_extras.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "qvsim/fw_state.h"

namespace qvsim {

// Runs one command under the state's faults (FwFault): an errno or CHECK CONDITION replaces the
// answer, short data cuts it. BMIC commands match by opcode, function and device; SCSI commands by
// opcode and, when the fault names one, the device the command is routed to (`scsi_device`).
Reply fw_with_faults(FirmwareState& s, const std::optional<BmicCdb>& b, std::uint8_t scsi_opcode,
                     std::optional<std::uint16_t> scsi_device, const std::function<Reply()>& build);

// OEM extended drive data (BMIC 0x84, 64 bytes) and drive statistics (BMIC 0xA0, 512 bytes);
// nullopt where the controller refuses the CDB.
std::optional<Bytes> fw_oem_extended_data(const FirmwareState& s, const BmicCdb& b);
std::optional<Bytes> fw_mnp_statistics(const FirmwareState& s, const BmicCdb& b);

// The drive a BMIC 0x84 / 0xA0 CDB names.
std::uint16_t fw_oem_data_drive(const BmicCdb& b);
std::uint16_t fw_mnp_statistics_drive(const BmicCdb& b);

} // namespace qvsim
