// Decoders behind the controller status word, the backup power getters and the reboot mask. They
// read only through the byte view, so a short or hostile reply can never make them read outside the
// bytes they were given; the getters pass their cached copies, tests and fuzz targets anything.
#ifndef TELM_STATUS_CONTROLLER_H
#define TELM_STATUS_CONTROLLER_H

#include <optional>

#include "pavl_bytes.h"
#include "ppavl_types.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"

namespace telmar {

// Status, cache and failsafe parts of the status word from IDENTIFY and, when it could be read, the
// cache configuration status; the configuration-status byte is left 0.
VK_DWORD DecodeControllerStatus(pavlin::ByteView identify, std::optional<pavlin::ByteView> cache_status);

// What the walk over the logical drives found.
struct ConfigurationWalk {
    bool walked = false;          // the controller has logical drives and its array model was built
    bool version_invalid = false; // a logical drive has an unsupported configuration version
    bool volume_invalid = false;  // a logical drive's status is 6 or 7, or cable flag 0x800 is set
};
// The configuration-status bits, in place (bits 24-31).
VK_DWORD ConfigurationStatusBits(const ConfigurationWalk& walk, VK_WORD swapped_cable_flags);

VK_BYTE HealthFromStatusWord(VK_DWORD status_word);

// kControllerBackupPowerSource... from the cache configuration status.
VK_WORD DecodeBackupPowerSourceStatus(pavlin::ByteView cache_status);
// Fills `info` from a BMIC 0xBF reply; false, with `info` untouched, when the reply is too short.
bool DecodeBackupPowerSourceInfo(pavlin::ByteView reply, VK_BACKUP_POWER_SOURCE_INFO* info);
// Fills `info` from the cache configuration status; a field the view does not reach reads 0.
void DecodeGreenBackupInfo(pavlin::ByteView cache_status, GREEN_BACKUP_INFO* info);

// Reboot reasons of the power-mode word's warnings and of IDENTIFY's dwRebootReason.
VK_QWORD PowerModeRebootReasons(VK_WORD power_mode_word);
VK_QWORD IdentifyRebootReasons(VK_DWORD reboot_reason);

} // namespace telmar

#endif
