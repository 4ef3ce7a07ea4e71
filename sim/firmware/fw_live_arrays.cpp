// What the simulated controller does for the immediate operations on live arrays beyond the
// configuration writes: clearing one drive's configuration metadata (BMIC 0x6E action bit 2).
#include "firmware/fw_writes.h"

namespace qvsim {

namespace {
constexpr std::uint32_t kMaskedWithInvalidMetadata = 0x80; // dwMiscDriveFlags
} // namespace

bool fw_clear_drive_metadata(FirmwareState& s, std::uint32_t drive) {
    if (drive > 0xFFFF)
        return false;
    FwDrive* d = s.find_drive(std::uint16_t(drive));
    if (!d)
        return false;
    d->misc_drive_flags &= ~kMaskedWithInvalidMetadata;
    return true;
}

} // namespace qvsim
