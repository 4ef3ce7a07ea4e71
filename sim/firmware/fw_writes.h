// What the write handlers of the simulated firmware share (private to sim/firmware): the write log
// and the encryption and managed-SED writes, which live in fw_encryption_writes.cpp.
#pragma once

#include <cstddef>
#include <string>

#include "qvsim/fw_state.h"

namespace qvsim {

// Appends an accepted write to updates.writes (with its data unless `with_data` is false).
void fw_keep_write(FirmwareState& s, const BmicCdb& b, const Command& cmd, bool with_data = true);

// Fixed-width text of a request: the bytes at `off` up to the first NUL, at most `width`.
inline std::string fw_text_at(const Bytes& d, std::size_t off, std::size_t width) {
    std::string s;
    for (std::size_t i = off; i < off + width && i < d.size() && d[i] != 0; ++i)
        s.push_back(char(d[i]));
    return s;
}

// BMIC 0x1E writes (function in CDB byte 5) and BMIC 0xE8 write function 9.
Reply fw_encryption_write(FirmwareState& s, const BmicCdb& b, const Command& cmd);
Reply fw_managed_sed_write(FirmwareState& s, const BmicCdb& b, const Command& cmd);
// BMIC 0xE8 writes but function 9: the controller's managed-SED settings (functions 1 to 5) and the
// drive ownership, revert and import (6, 7, 8, 10), fw_managed_sed.cpp.
Reply fw_managed_sed_settings_write(FirmwareState& s, const BmicCdb& b, const Command& cmd);

// BMIC 0x51 (set configuration), 0x54 (change configuration) and 0x5E (join split mirror).
Reply fw_configuration_write(FirmwareState& s, const BmicCdb& b, const Command& cmd);

// Drives a logical drive gives to fault tolerance (wDrivesConsumedForFaultTolerance).
std::uint16_t fw_consumed_drives(const FwLogicalDrive& l);

// A read of 0x1E function 7 takes the next scripted IKEK status (FwEncryption::ikek_polls).
void fw_next_ikek_status(FirmwareState& s);

// BMIC 0x6E action bit 2: the drive's invalid-metadata mark goes; its logical drives stay.
// False when no such drive exists.
bool fw_clear_drive_metadata(FirmwareState& s, std::uint32_t drive);

} // namespace qvsim
