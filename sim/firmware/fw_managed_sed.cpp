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
//
// And the drive writes, which change each named drive's dwDriveFeatureFlags (the 0x15 read): SED 0x1,
// locked 0x20, in OFS 0x200, otherwise owned 0x400, owned 0x800, foreign 0x1000, data locked 0x80000.
// A drive map is 128 bytes, bit n % 8 of byte n / 8 naming drive n.
//
//   6  revert (128): the owned, not foreign drives of the map go back to OFS
//   7  PSID revert (36): 0 dwDriveIndex, 4 PSID; the drive goes back to OFS when the PSID matches
//   8  take ownership (128): the drives of the map in OFS become owned
//  10  import (194): 0 map, 128 foreign master key, 160 reset foreign master key; the owned foreign
//      drives of the map owned under that key become owned, not foreign and unlocked
#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fw_writes.h"
#include "qvsim/bytes.h"
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

constexpr std::uint32_t kSed = 0x1, kLocked = 0x20, kInOfs = 0x200, kOtherwiseOwned = 0x400, kOwned = 0x800,
                        kForeign = 0x1000, kDataLocked = 0x80000;
constexpr std::uint32_t kForeignSedPresent = 0x8; // status read (function 2)
constexpr std::size_t kMapBytes = 128;

std::optional<std::size_t> record_size(std::uint32_t function) {
    switch (function) {
        case 1:
            return 100;
        case 2:
            return 64;
        case 3:
            return 96;
        case 4:
            return 0;
        case 5:
            return 32;
        case 6:
        case 8:
            return kMapBytes;
        case 7:
            return 36;
        case 10:
            return 194;
        default:
            return std::nullopt;
    }
}

// The drives a map names; nullopt when it names a drive the controller does not have.
std::optional<std::vector<FwDrive*>> mapped_drives(FirmwareState& s, const Bytes& d) {
    std::vector<FwDrive*> out;
    for (std::size_t n = 0; n < kMapBytes * 8; ++n) {
        if (!(d[n / 8] & (1u << (n % 8))))
            continue;
        FwDrive* drive = s.find_drive(std::uint16_t(n));
        if (!drive)
            return std::nullopt;
        out.push_back(drive);
    }
    return out;
}

bool has(std::uint32_t flags, std::uint32_t bits) {
    return (flags & bits) == bits;
}

// A data drive or spare of a logical drive: the controller keeps its metadata, so it is not reverted.
bool configured(const FirmwareState& s, std::uint16_t drive) {
    for (const auto& l : s.logical_drives)
        if (std::find(l.members.begin(), l.members.end(), drive) != l.members.end() ||
            std::find(l.spares.begin(), l.spares.end(), drive) != l.spares.end())
            return true;
    return false;
}

// The drive no longer belongs to another controller's key: its foreign key identifiers go, and the
// status read stops reporting foreign drives once none is left.
void forget_foreign(FirmwareState& s, FwDrive& d) {
    d.sed_owner_key.clear();
    std::erase_if(s.managed_sed.foreign_keys,
                  [&](const FwManagedSed::ForeignKey& f) { return f.drive == d.number; });
    if (std::none_of(s.drives.begin(), s.drives.end(),
                     [](const FwDrive& x) { return has(x.feature_flags, kSed | kForeign); }))
        s.managed_sed.status &= ~kForeignSedPresent;
}

void to_factory_state(FirmwareState& s, FwDrive& d) {
    d.feature_flags =
        (d.feature_flags & ~(kOwned | kOtherwiseOwned | kForeign | kLocked | kDataLocked)) | kInOfs;
    forget_foreign(s, d);
}

// Functions 6, 8 and 10: every drive of the map must qualify, or nothing changes.
Reply drive_map_write(FirmwareState& s, std::uint32_t function, const Bytes& d) {
    const auto drives = mapped_drives(s, d);
    if (!drives || drives->empty())
        return refuse(0x26);
    const std::string key = function == 10 ? fw_text_at(d, 128, kField) : std::string();
    if (function == 10 && key.empty())
        return refuse(0x26);
    for (const FwDrive* x : *drives) {
        const std::uint32_t f = x->feature_flags;
        bool ok = false;
        switch (function) {
            case 8:
                ok = has(f, kSed | kInOfs) && !(f & kOwned);
                break;
            case 6:
                ok = has(f, kSed | kOwned) && !(f & kForeign) && !configured(s, x->number);
                break;
            default: // 10
                ok = has(f, kSed | kOwned | kForeign) && !x->sed_owner_key.empty() && x->sed_owner_key == key;
                break;
        }
        if (!ok)
            return refuse(0x26);
    }
    for (FwDrive* x : *drives) {
        switch (function) {
            case 8:
                x->feature_flags = (x->feature_flags & ~(kInOfs | kOtherwiseOwned)) | kOwned;
                break;
            case 6:
                to_factory_state(s, *x);
                break;
            default:
                // The controller now holds the key: the drive is unlocked under its own master key.
                x->feature_flags &= ~(kForeign | kLocked | kDataLocked);
                forget_foreign(s, *x);
                break;
        }
    }
    return {};
}

Reply psid_revert(FirmwareState& s, const Bytes& d) {
    const std::uint32_t number = get_le32(&d[0]);
    FwDrive* x = number <= 0xFFFF ? s.find_drive(std::uint16_t(number)) : nullptr;
    if (!x)
        return invalid_field();
    const std::string psid = fw_text_at(d, 4, kField);
    if (!(x->feature_flags & kSed) || x->psid.empty() || psid != x->psid || configured(s, x->number))
        return refuse(0x26);
    to_factory_state(s, *x);
    return {};
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
        case 6:
        case 8:
        case 10:
            return drive_map_write(s, function, d);
        case 7:
            return psid_revert(s, d);
        default:
            return invalid_field();
    }
}

} // namespace

Reply fw_managed_sed_settings_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if ((b.detail >> 8) != 0 || b.lun() != 0)
        return invalid_field();
    const std::uint32_t function = b.detail;
    const auto size = record_size(function);
    if (!size)
        return invalid_field();
    if (cmd.data_out.size() < *size)
        return refuse(0x1A);
    // A PSID revert is the way back for a drive whose owner is gone: it needs no managed-SED mode.
    if (!(s.identify.managed_sed_mode & kEnabled) && function != 1 && function != 4 && function != 7)
        return sequence_error();
    Reply r = apply(s, function, cmd.data_out);
    if (r.err == 0 && r.scsi_status == 0)
        fw_keep_write(s, b, cmd);
    return r;
}

} // namespace qvsim
