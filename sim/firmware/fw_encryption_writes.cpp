// The simulated controller's encryption writes (BMIC 0x1E) and the managed-SED secure-volume write
// (BMIC 0xE8 function 9). Each accepted request changes the state that the 0x1E reads, the identify
// data's encryption status word and the logical drives' status replies report; a refused one is
// CHECK CONDITION and changes nothing (a wrong boot password excepted: it uses an attempt).
#include <algorithm>
#include <cstdint>

#include "firmware/fw_writes.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_state.h"

namespace qvsim {
namespace {

// dwEncryptionStatus bits of the identify data that the writes change.
constexpr std::uint32_t kEnabled = 0x1, kLocalMode = 0x4, kMasterKeyReset = 0x100, kKeyCache = 0x400,
                        kOfficerPassword = 0x800, kUserPassword = 0x1000, kFirmwareLocked = 0x4000,
                        kRecoverySet = 0x10000, kLocalKek = 0x20000, kMissingBootPassword = 0x40000,
                        kPlaintext = 0x80000, kRemoteKek = 0x8000000, kSkipBootPassword = 0x10000000;
// What a return to the factory state clears; the self-test and NVRAM failure bits stay.
constexpr std::uint32_t kConfigurationBits = kEnabled | kLocalMode | kMasterKeyReset | kKeyCache | kOfficerPassword |
                                             kUserPassword | kFirmwareLocked | kRecoverySet | kLocalKek |
                                             kMissingBootPassword | kPlaintext | kRemoteKek | kSkipBootPassword;
// wStatus of the boot-password status (function 6).
constexpr std::uint16_t kBootPasswordSet = 0x1, kBootLocked = 0x2, kBootSuspended = 0x4;
// bEncryptionFlags (status byte 1026) and bAdditionalEncryptionFlags (1051) of a logical drive.
constexpr std::uint8_t kLdEncrypted = 0x01, kLdKeyWait = 0x02;
constexpr std::uint8_t kVolatileKey = 0x01, kVolatileKeyBackup = 0x02;
constexpr std::uint8_t kUnitEncryptedWithoutKey = 0x14;
// bBootPassword of ENCRYPTION_UNLOCK_VOLUMES holds bCount passwords of this width.
constexpr std::size_t kBootPasswordWidth = 128, kUnlockPasswords = 3968 / kBootPasswordWidth;

Reply refuse(std::uint8_t asc) {
    return check_condition(0x05, asc, 0x00);
}
Reply invalid_field() {
    return refuse(0x24);
}
Reply invalid_parameter() {
    return refuse(0x26);
}
Reply sequence_error() {
    return refuse(0x2C);
}

// Bytes each request carries (the controller takes no fewer).
std::size_t record_size(std::uint8_t fn) {
    switch (fn) {
        case 10:
            return 84;
        case 12:
            return 40;
        case 13:
        case 17:
            return 24;
        case 14:
            return 28;
        case 16:
        case 34:
            return 32;
        case 18:
            return 88;
        case 19:
        case 23:
            return 52;
        case 20:
            return 20;
        case 21:
            return 340;
        case 22:
            return 80;
        case 24:
            return 512;
        case 25:
        case 27:
        case 28:
        case 29:
            return 148;
        case 26:
            return 3969;
        default:
            return 0;
    }
}

std::uint32_t le32_at(const Bytes& d, std::size_t off) {
    return get_le32(&d[off]);
}
std::uint16_t le16_at(const Bytes& d, std::size_t off) {
    return get_le16(&d[off]);
}

bool zero(const Bytes& d, std::size_t off, std::size_t n) {
    return std::all_of(d.begin() + std::ptrdiff_t(off), d.begin() + std::ptrdiff_t(off + n),
                       [](std::uint8_t x) { return x == 0; });
}

// A role's login: role 0 or 1 whose password is set and equals the 16-byte field (up to its NUL).
bool logs_in(const FirmwareState& s, const Bytes& d, std::size_t password_at, std::size_t role_at) {
    const std::uint32_t role = le32_at(d, role_at);
    if (role > 1)
        return false;
    const std::string& want = role == 0 ? s.updates.passwords.crypto_officer : s.updates.passwords.user;
    return !want.empty() && fw_text_at(d, password_at, 16) == want.substr(0, 16);
}

// The requests that start with a login: bPassword at 0, dwRole at 16.
bool has_login(std::uint8_t fn) {
    switch (fn) {
        case 10:
        case 13:
        case 14:
        case 16:
        case 17:
        case 19:
        case 20:
        case 21:
        case 23:
        case 25:
        case 27:
        case 28:
        case 29:
        case 34:
            return true;
        default:
            return false;
    }
}

std::uint32_t& status_word(FirmwareState& s) {
    return s.identify.encryption_status;
}

void set_bits(std::uint32_t& w, std::uint32_t bits, bool on) {
    w = on ? (w | bits) : (w & ~bits);
}

// 12: a role's password. The first crypto-officer password of an unconfigured controller needs no
// login (bMyPassword all zero); every other change does.
Reply set_password(FirmwareState& s, const Bytes& d) {
    const std::uint32_t role = le32_at(d, 20);
    const std::string password = fw_text_at(d, 24, 16);
    if (role > 1 || password.empty())
        return invalid_parameter();
    const bool first = role == 0 && !(status_word(s) & kOfficerPassword) && zero(d, 4, 16);
    if (!first && !logs_in(s, d, 4, 0))
        return invalid_parameter();
    (role == 0 ? s.updates.passwords.crypto_officer : s.updates.passwords.user) = password;
    status_word(s) |= role == 0 ? kOfficerPassword : kUserPassword;
    return {};
}

// 13: dwAction 0x2 local (else remote), 0x4 plaintext volumes allowed, 0x1 enabled.
Reply set_mode(FirmwareState& s, const Bytes& d) {
    const std::uint32_t action = le32_at(d, 20);
    if (action > 7)
        return invalid_parameter();
    auto& w = status_word(s);
    set_bits(w, kEnabled, action & 0x1);
    set_bits(w, kLocalMode, action & 0x2);
    set_bits(w, kPlaintext, action & 0x4);
    return {};
}

// 19: the local master key.
Reply set_local_key(FirmwareState& s, const Bytes& d) {
    const std::string key = fw_text_at(d, 20, 32);
    if (key.empty())
        return invalid_parameter();
    s.encryption.master_key = key;
    status_word(s) |= kLocalKek;
    return {};
}

// 10: the remote key name; the IKEK status then follows the script, or is obtained at once.
Reply set_remote_key(FirmwareState& s, const Bytes& d) {
    const std::string name = fw_text_at(d, 20, 64);
    if (name.empty())
        return invalid_parameter();
    auto& e = s.encryption;
    const bool had_one = status_word(s) & kRemoteKek;
    e.key_name = name;
    status_word(s) |= kRemoteKek;
    if (e.ikek_polls.empty()) {
        e.ikek = e.controller_key = 3;
        e.ikek_reset = had_one ? 3 : 0;
        e.ikek_poll.reset();
    } else {
        e.ikek_poll = 0;
    }
    return {};
}

// 14: key cache on (0x1) and persistent (0x2); retry attempts and interval within the controller's
// limits when it supports them and the cache is turned on.
Reply set_key_cache(FirmwareState& s, const Bytes& d) {
    auto& e = s.encryption;
    if (!(e.kek_supported & 0x1))
        return invalid_field();
    const std::uint32_t control = le32_at(d, 20);
    const std::uint16_t attempts = le16_at(d, 24), interval = le16_at(d, 26);
    const bool on = control & 0x1;
    const bool set_attempts = on && (e.kek_supported & 0x2), set_interval = on && (e.kek_supported & 0x4);
    if (set_attempts && (attempts < e.kek_min_attempts || attempts > e.kek_max_attempts))
        return invalid_parameter();
    if (set_interval && (interval < e.kek_min_interval || interval > e.kek_max_interval))
        return invalid_parameter();
    set_bits(status_word(s), kKeyCache, on);
    e.kek_flags = control & ~0x1u;
    if (set_attempts)
        e.kek_attempts = attempts;
    if (set_interval)
        e.kek_interval = interval;
    return {};
}

// 16: key type 1 rekeys the controller's master key (index 0); 2 rekeys an encrypted logical drive,
// 4 encodes a plaintext one, 8 gives one a new key (its data lost), 16 makes one plaintext.
Reply rekey(FirmwareState& s, const Bytes& d) {
    const std::uint32_t type = le32_at(d, 20), index = le32_at(d, 24), drive_type = le32_at(d, 28);
    if (drive_type != 0)
        return invalid_parameter();
    if (type == 1) {
        if (index != 0)
            return invalid_parameter();
        ++s.encryption.controller_rekeys;
        return {};
    }
    FwLogicalDrive* l = index <= 0xFFFF ? s.find_configured_drive(std::uint16_t(index)) : nullptr;
    if (!l)
        return invalid_parameter();
    const bool encrypted = l->encryption_flags & kLdEncrypted;
    switch (type) {
        case 2:
            if (!encrypted)
                return invalid_parameter();
            return {};
        case 4:
            if (encrypted)
                return invalid_parameter();
            l->encryption_flags = kLdEncrypted;
            return {};
        case 8:
            l->encryption_flags = kLdEncrypted;
            if (l->unit_status == kUnitEncryptedWithoutKey)
                l->unit_status = 0;
            return {};
        case 16:
            l->encryption_flags = 0;
            l->additional_encryption_flags = 0;
            if (l->unit_status == kUnitEncryptedWithoutKey)
                l->unit_status = 0;
            return {};
        default:
            return invalid_parameter();
    }
}

// 17: dwAction 0 locks the firmware, 1 unlocks it.
Reply lock_firmware(FirmwareState& s, const Bytes& d) {
    const std::uint32_t action = le32_at(d, 20);
    if (action > 1)
        return invalid_parameter();
    set_bits(status_word(s), kFirmwareLocked, action == 0);
    return {};
}

bool any_encrypted_drive(const FirmwareState& s) {
    return std::any_of(s.logical_drives.begin(), s.logical_drives.end(),
                       [](const FwLogicalDrive& l) { return l.encryption_flags & kLdEncrypted; });
}

// 18: back to the factory state. With encrypted logical drives the request must carry the master
// key (local mode) or the key name (remote).
Reply return_to_factory(FirmwareState& s, const Bytes& d) {
    if (le32_at(d, 0) != 1)
        return invalid_parameter();
    auto& e = s.encryption;
    if (any_encrypted_drive(s)) {
        const std::string key = fw_text_at(d, 4, 64);
        const std::string& want = (status_word(s) & kLocalMode) ? e.master_key : e.key_name;
        if (key.empty() || key != want)
            return invalid_parameter();
    }
    status_word(s) &= ~kConfigurationBits;
    s.updates.passwords.crypto_officer.clear();
    s.updates.passwords.user.clear();
    e.master_key.clear();
    e.key_name.clear();
    e.recovery_answer.clear();
    e.boot_password.clear();
    e.recovery_question.clear();
    e.boot_password_status = 0;
    e.kek_flags = 0;
    e.ikek = e.ikek_reset = e.controller_key = 0;
    e.ikek_poll.reset();
    ++e.factory_resets;
    return {};
}

// 21: the recovery question (256 bytes, kept as sent) and its answer.
Reply set_recovery(FirmwareState& s, const Bytes& d) {
    const std::string answer = fw_text_at(d, 276, 64);
    if (zero(d, 20, 256) || answer.empty())
        return invalid_parameter();
    s.encryption.recovery_question.assign(d.begin() + 20, d.begin() + 276);
    s.encryption.recovery_answer = answer;
    status_word(s) |= kRecoverySet;
    return {};
}

// 22: the recovery answer replaces the crypto officer's password.
Reply recover_password(FirmwareState& s, const Bytes& d) {
    auto& e = s.encryption;
    if (!(status_word(s) & kRecoverySet) || e.recovery_answer.empty())
        return sequence_error();
    const std::string password = fw_text_at(d, 64, 16);
    if (fw_text_at(d, 0, 64) != e.recovery_answer || password.empty())
        return invalid_parameter();
    s.updates.passwords.crypto_officer = password;
    return {};
}

// 23: a foreign local key; the logical drives waiting for a key get it when it is theirs.
Reply import_foreign_key(FirmwareState& s, const Bytes& d) {
    const std::string key = fw_text_at(d, 20, 32);
    std::vector<FwLogicalDrive*> waiting;
    for (auto& l : s.logical_drives)
        if (l.encryption_flags & kLdKeyWait)
            waiting.push_back(&l);
    if (waiting.empty())
        return sequence_error();
    if (key.empty() || key != s.encryption.foreign_key)
        return invalid_parameter();
    for (FwLogicalDrive* l : waiting) {
        l->encryption_flags &= std::uint8_t(~kLdKeyWait);
        if (l->unit_status == kUnitEncryptedWithoutKey)
            l->unit_status = 0;
    }
    return {};
}

// 25: the boot password (set, not suspended); 27 removes it, 28 suspends it, 29 resumes it.
Reply boot_password(FirmwareState& s, std::uint8_t fn, const Bytes& d) {
    auto& e = s.encryption;
    if (fn == 25) {
        const std::string password = fw_text_at(d, 20, kBootPasswordWidth);
        if (password.empty())
            return invalid_parameter();
        e.boot_password = password;
        e.boot_password_status = std::uint16_t((e.boot_password_status & kBootLocked) | kBootPasswordSet);
        return {};
    }
    if (!(e.boot_password_status & kBootPasswordSet))
        return sequence_error();
    if (fn == 27) {
        e.boot_password.clear();
        e.boot_password_status = 0;
        status_word(s) &= ~kMissingBootPassword;
    } else if (fn == 28) {
        e.boot_password_status |= kBootSuspended;
    } else {
        e.boot_password_status &= std::uint16_t(~kBootSuspended);
    }
    return {};
}

// 26: bCount boot passwords of 128 bytes each; one that matches unlocks the controller, a wrong
// one uses one of the crypto officer's attempts (function 9).
Reply unlock(FirmwareState& s, const Bytes& d) {
    auto& e = s.encryption;
    const std::size_t count = d[0];
    if (count == 0 || count > kUnlockPasswords)
        return invalid_parameter();
    if (!(e.boot_password_status & kBootLocked))
        return sequence_error();
    if (e.attempts_remaining[0] == 0)
        return invalid_parameter();
    bool right = false;
    for (std::size_t k = 0; k < count && !right; ++k)
        right = !e.boot_password.empty() && fw_text_at(d, 1 + k * kBootPasswordWidth, kBootPasswordWidth) ==
                                                 e.boot_password.substr(0, kBootPasswordWidth);
    if (!right) {
        --e.attempts_remaining[0];
        return invalid_parameter();
    }
    e.boot_password_status &= std::uint16_t(~kBootLocked);
    status_word(s) &= ~kMissingBootPassword;
    ++e.unlocks;
    return {};
}

// 34: volatile key (feature 0: option 1 on, 0 off, which drops its backup too) and its backup
// (feature 1: option 0 on, 1 restore the key from it, 2 off, 3 key and backup in one step) of an
// encrypted logical drive.
Reply drive_features(FirmwareState& s, const Bytes& d) {
    const std::uint16_t feature = le16_at(d, 20), option = le16_at(d, 22);
    const std::uint32_t number = le32_at(d, 24), drive_type = le32_at(d, 28);
    FwLogicalDrive* l = number <= 0xFFFF ? s.find_configured_drive(std::uint16_t(number)) : nullptr;
    if (drive_type != 0 || !l || !(l->encryption_flags & kLdEncrypted))
        return invalid_parameter();
    std::uint8_t& a = l->additional_encryption_flags;
    if (feature == 0 && option <= 1) {
        a = option == 1 ? std::uint8_t(a | kVolatileKey) : std::uint8_t(a & ~(kVolatileKey | kVolatileKeyBackup));
        return {};
    }
    if (feature != 1)
        return invalid_parameter();
    switch (option) {
        case 0:
            if (!(a & kVolatileKey))
                return sequence_error();
            a |= kVolatileKeyBackup;
            return {};
        case 1:
            if ((a & (kVolatileKey | kVolatileKeyBackup)) != (kVolatileKey | kVolatileKeyBackup))
                return sequence_error();
            l->encryption_flags &= std::uint8_t(~kLdKeyWait);
            if (l->unit_status == kUnitEncryptedWithoutKey)
                l->unit_status = 0;
            return {};
        case 2:
            a &= std::uint8_t(~kVolatileKeyBackup);
            return {};
        case 3:
            a |= kVolatileKey | kVolatileKeyBackup;
            return {};
        default:
            return invalid_parameter();
    }
}

Reply answer(FirmwareState& s, std::uint8_t fn, const Bytes& d) {
    if (has_login(fn) && !logs_in(s, d, 0, 16))
        return invalid_parameter();
    switch (fn) {
        case 10:
            return set_remote_key(s, d);
        case 12:
            return set_password(s, d);
        case 13:
            return set_mode(s, d);
        case 14:
            return set_key_cache(s, d);
        case 16:
            return rekey(s, d);
        case 17:
            return lock_firmware(s, d);
        case 18:
            return return_to_factory(s, d);
        case 19:
            return set_local_key(s, d);
        case 20:
            return {}; // the login was the whole check
        case 21:
            return set_recovery(s, d);
        case 22:
            return recover_password(s, d);
        case 23:
            return import_foreign_key(s, d);
        case 24:
            ++s.encryption.rescans;
            return {};
        case 25:
        case 27:
        case 28:
        case 29:
            return boot_password(s, fn, d);
        case 26:
            return unlock(s, d);
        case 34:
            return drive_features(s, d);
        default:
            return invalid_field();
    }
}

bool good(const Reply& r) {
    return r.err == 0 && r.scsi_status == 0;
}

} // namespace

Reply fw_encryption_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    const std::uint8_t fn = std::uint8_t(b.detail);
    const std::size_t size = record_size(fn);
    if (size == 0 || (b.detail >> 8) != 0 || b.lun() != 0)
        return invalid_field();
    if (cmd.data_out.size() < size)
        return refuse(0x1A);
    Reply r = answer(s, fn, cmd.data_out);
    if (good(r))
        fw_keep_write(s, b, cmd);
    return r;
}

// 0xE8 function 9 (MANAGED_SED_SECURE_VOLUME, 8 bytes): bit n % 8 of byte n / 8 names logical drive
// n, which then reads SED-enabled (bManagedSEDVolumeFlags 0x1). Every named drive must exist.
Reply fw_managed_sed_write(FirmwareState& s, const BmicCdb& b, const Command& cmd) {
    if (b.detail != 9)
        return fw_managed_sed_settings_write(s, b, cmd);
    if (b.detail != 9 || b.lun() != 0)
        return invalid_field();
    const Bytes& d = cmd.data_out;
    if (d.size() < 8)
        return refuse(0x1A);
    if (!(s.identify.managed_sed_mode & 0x1))
        return sequence_error();
    std::vector<FwLogicalDrive*> named;
    for (std::uint16_t n = 0; n < 64; ++n) {
        if (!(d[n / 8] & (1u << (n % 8))))
            continue;
        FwLogicalDrive* l = s.find_configured_drive(n);
        if (!l)
            return invalid_parameter();
        named.push_back(l);
    }
    if (named.empty())
        return invalid_parameter();
    for (FwLogicalDrive* l : named)
        l->managed_sed_flags |= 0x01;
    fw_keep_write(s, b, cmd);
    return {};
}

void fw_next_ikek_status(FirmwareState& s) {
    auto& e = s.encryption;
    if (!e.ikek_poll)
        return;
    if (*e.ikek_poll >= e.ikek_polls.size()) {
        e.ikek_poll.reset();
        return;
    }
    const FwIkekStatus& p = e.ikek_polls[(*e.ikek_poll)++];
    e.ikek = p.ikek;
    e.ikek_reset = p.ikek_reset;
    e.controller_key = p.controller_key;
}

} // namespace qvsim
