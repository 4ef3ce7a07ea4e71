// BMIC 0xE8 writes that change the controller's managed-SED settings. IDENTIFY's
// dwManagedSEDModeStatus carries the result (0x1 enabled, 0x2 local, 0x8 adapter password on), the
// status read (function 2) the waiting bit 0x1, the adapter-password read (function 1) the attempts
// left, and the identifier read (function 4) the master key identifier.
//
//   1  enable local mode (100 bytes): 0 adapter password, 32 master key, 64 identifier
//   2  change the adapter password (64): 0 new password (empty: off), 32 existing master key
//   3  change the master key and identifier (96): 0 existing key, 32 new key, 64 new identifier
//   4  no data: managed SED off
//   5  unlock (32): 0 adapter password
#include <algorithm>
#include <cstddef>
#include <string>

#include "fw_writes.h"
#include "qvsim/firmware.h"

namespace qvsim {

namespace {

constexpr std::uint32_t kEnabled = 0x1, kLocal = 0x2, kAdapterPassword = 0x8;
constexpr std::uint32_t kWaitingOnAdapterPassword = 0x1;
constexpr std::size_t kField = 32;

Reply refuse(std::uint8_t asc) {
    return check_condition(0x05, asc, 0x00);
}
Reply invalid_field() {
    return refuse(0x24);
}
Reply sequence_error() {
    return refuse(0x2C);
}

std::size_t record_size(std::uint32_t function) {
    switch (function) {
        case 1:
            return 100;
        case 2:
            return 64;
        case 3:
            return 96;
        case 5:
            return 32;
        default:
            return 0;
    }
}

void set_identifier(FwManagedSed& m, const std::string& id) {
    m.master_key_id.fill(0);
    std::copy_n(id.begin(), std::min(id.size(), m.master_key_id.size()), m.master_key_id.begin());
}

Reply apply(FirmwareState& s, std::uint32_t function, const Bytes& d) {
    FwManagedSed& m = s.managed_sed;
    std::uint32_t& mode = s.identify.managed_sed_mode;
    const bool enabled = (mode & kEnabled) != 0;
    switch (function) {
        case 1: {
            const std::string password = fw_text_at(d, 0, kField), key = fw_text_at(d, 32, kField),
                              id = fw_text_at(d, 64, kField);
            if (key.empty() || id.empty())
                return refuse(0x26);
            m.master_key = key;
            m.adapter_password = password;
            set_identifier(m, id);
            mode = kEnabled | kLocal | (password.empty() ? 0 : kAdapterPassword);
            return {};
        }
        case 2: {
            if (!enabled || !(mode & kLocal))
                return sequence_error();
            if (fw_text_at(d, 32, kField) != m.master_key)
                return refuse(0x26);
            m.adapter_password = fw_text_at(d, 0, kField);
            mode = m.adapter_password.empty() ? (mode & ~kAdapterPassword) : (mode | kAdapterPassword);
            return {};
        }
        case 3: {
            if (!enabled || !(mode & kLocal))
                return sequence_error();
            if (fw_text_at(d, 0, kField) != m.master_key)
                return refuse(0x26);
            const std::string key = fw_text_at(d, 32, kField), id = fw_text_at(d, 64, kField);
            if (key.empty() && id.empty())
                return refuse(0x26);
            if (!key.empty())
                m.master_key = key;
            if (!id.empty())
                set_identifier(m, id);
            return {};
        }
        case 4:
            if (!enabled)
                return sequence_error();
            mode = 0;
            m.master_key.clear();
            m.adapter_password.clear();
            m.master_key_id.fill(0);
            m.status &= ~kWaitingOnAdapterPassword;
            return {};
        case 5: {
            if (!enabled || !(mode & kAdapterPassword) || !(m.status & kWaitingOnAdapterPassword) ||
                m.unlock_attempts_left == 0)
                return sequence_error();
            if (fw_text_at(d, 0, kField) != m.adapter_password) {
                --m.unlock_attempts_left;
                return refuse(0x26);
            }
            m.status &= ~kWaitingOnAdapterPassword;
            return {};
        }
        default:
            return invalid_field();
    }
}

} // namespace

Reply fw_managed_sed_settings_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if ((b.detail >> 8) != 0 || b.lun() != 0)
        return invalid_field();
    const std::uint32_t function = b.detail;
    if (cmd.data_out.size() < record_size(function))
        return refuse(0x1A);
    if (!(s.identify.managed_sed_mode & kEnabled) && function != 1 && function != 4)
        return sequence_error();
    Reply r = apply(s, function, cmd.data_out);
    if (r.err == 0 && r.scsi_status == 0)
        fw_keep_write(s, b, cmd);
    return r;
}

} // namespace qvsim
