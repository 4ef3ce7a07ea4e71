// Per-drive BMIC replies beyond the identify record: OEM extended drive data (0x84) and the
// drive statistics (0xA0), answered from the inventory's drives.
#include <algorithm>

#include "firmware/fw_drive_io.h"
#include "firmware/reply_out.h"

namespace qvsim {
namespace {

using fw_detail::Out;

constexpr std::size_t kOemDataSize = 64, kMnpStatisticsSize = 512;

bool is_drive(const FwDrive& d) {
    switch (d.device_type) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 9:
        case 10:
            return true;
        default:
            return false;
    }
}

} // namespace

// Detail = drive << 24 | OEM id, LUN = drive & 0xFF00.
std::uint16_t fw_oem_data_drive(const BmicCdb& b) {
    return std::uint16_t((b.detail >> 24) | (b.lun() & 0xFF00));
}

// Low byte in CDB byte 2, high byte in byte 9 (the LUN's high byte).
std::uint16_t fw_mnp_statistics_drive(const BmicCdb& b) {
    return std::uint16_t((b.detail >> 24) | (std::uint16_t(b.lun_high) << 8));
}

std::optional<Bytes> fw_oem_extended_data(const FirmwareState& s, const BmicCdb& b) {
    const FwDrive* d = s.find_drive(fw_oem_data_drive(b));
    // The OEM id must be the drive's own; the middle detail bytes and the LUN's low byte are 0.
    if (!d || !is_drive(*d) || std::uint8_t(b.detail) != d->oem_id || (b.detail & 0x00FFFF00u) ||
        b.lun_low)
        return std::nullopt;
    Out o(kOemDataSize);
    o.bytes(0, d->oem_data, kOemDataSize);
    return o.take();
}

std::optional<Bytes> fw_mnp_statistics(const FirmwareState& s, const BmicCdb& b) {
    // Byte 3 and byte 5 are 0, byte 4 selects the statistics page 0x02, byte 1 (LUN low) is 0.
    if ((b.detail & 0x00FFFFFFu) != 0x00000200u || b.lun_low)
        return std::nullopt;
    const FwDrive* d = s.find_drive(fw_mnp_statistics_drive(b));
    if (!d || !is_drive(*d))
        return std::nullopt;
    const FwMnpStatistics& m = d->mnp;
    Out o(kMnpStatisticsSize);
    o.text(0, 20, d->serial.value_or("QVSD" + std::to_string(d->number)), ' ');
    o.text(20, 8, d->firmware, ' ').text(28, 40, d->model, ' ');
    o.u32(68, m.reference_minutes).u64(72, m.sectors_read).u32(80, m.hard_read_errors);
    o.u32(84, m.retry_recovered_read_errors).u64(88, m.ecc_recovered_read_errors).u64(96, m.sectors_written);
    o.u32(104, m.hard_write_errors).u32(108, m.retry_recovered_write_errors).u64(112, m.seek_count);
    o.u64(120, m.seek_errors).u16(150, m.drq_timeouts).u16(152, m.other_time_outs).u16(156, m.spin_retries);
    o.u16(158, m.failed_read_recovers).u16(160, m.failed_write_recovers).u16(162, m.format_errors);
    o.u32(166, m.not_ready_errors).u32(178, m.bus_faults).u32(182, m.hot_plug_count);
    o.u16(198, m.media_failures).u16(200, m.hardware_errors).u16(202, m.aborted_commands);
    o.u16(206, m.bad_target_count).u32(208, m.predictive_failures);
    return o.take();
}

} // namespace qvsim
