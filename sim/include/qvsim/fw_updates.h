// What the simulated controller keeps of the commands that change it: the writes it took, the
// backup power source it reports, the encryption passwords it checks, its NVRAM stores and its
// firmware flash state. Part of FirmwareState (`updates`, JSON key "updates").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace qvsim {

// One write or no-data BMIC command the controller carried out (refused ones are not kept).
struct FwWriteRecord {
    std::uint8_t opcode = 0;
    std::uint32_t detail = 0; // CDB bytes 2-5
    std::uint16_t lun = 0;    // CDB bytes 1 and 9
    std::uint32_t length = 0; // bytes of data out (0 for a no-data command)
    std::vector<std::uint8_t> data; // data out (empty for collect-buffer chunks: see FwCollectBuffer)
};

// BACKUP_POWER_SOURCE_STATUS (BMIC 0xBF, 512 bytes).
struct FwBackupPowerSource {
    std::uint16_t status = 0x0002; // u16Status: ready
    std::int16_t max_temperature = 60;
    std::uint16_t max_voltage = 5400;
    std::int16_t temperature = 31;
    std::uint16_t voltage = 5100;
    std::int16_t current = 0;
    std::int16_t temperature_threshold = 55;
    std::uint16_t health = 100;
    std::uint16_t relative_charge = 100;
};

// One chunk the collect buffer took (BMIC 0xD2).
struct FwChunk {
    std::uint16_t number = 0, total = 0; // from the CDB's detail bytes
    std::uint32_t size = 0;
};

// The controller's one collect buffer: chunks in the order they came, their data concatenated.
struct FwCollectBuffer {
    std::optional<std::uint16_t> total; // the chunk count the first chunk announced
    std::vector<FwChunk> chunks;
    std::vector<std::uint8_t> data;
};

struct FwFlash {
    FwCollectBuffer collect;
    // Validation verdict (0xFD, and activation 0xF7, which refuses what validation would refuse):
    // "accept" every complete image, "reject" every one, or "prefix": accept an image that starts
    // with `valid_prefix`.
    std::string validation = "accept";
    std::vector<std::uint8_t> valid_prefix;
    std::vector<std::uint8_t> pending_image; // the last activated image, waiting for a reboot
    bool pending = false;
    std::vector<bool> verdicts;                  // each validation that ran, in order
    unsigned frees = 0, activations = 0, toggles = 0;
    // ROM images by short version; the toggle swaps them, flips bit 0x01 of the identify data's
    // bActiveROMStatus and reports the new active one as sShortROMFirmwareRev. A bActiveROMStatus
    // with bit 0x10 refuses the toggle.
    std::string active_rom = "5.32", backup_rom = "5.30";
};

// Encryption passwords the controller checks (BMIC 0x1E write function 0x14), by role.
struct FwPasswords {
    std::string crypto_officer = "Officer1!";
    std::string user = "User1!";
};

// I2C NVRAM stores of BMIC 0x46: data id 1 (manufacturing data) and 8 (the SEEPROM image). An
// empty store is erased: it reads as zeros, as many as the read asks for.
struct FwNvram {
    std::vector<std::uint8_t> manufacturing, seeprom;
};

struct FwUpdates {
    // What BMIC 0x54 (change configuration) does with a logical drive: "complete" takes the new
    // record at once; "queue" keeps the old members as the original configuration (0x55), counts
    // the transformation in the expansion ability's bExpansionQueued and reports unit status 12.
    std::string transformation = "complete";
    unsigned created = 0; // logical drives created by 0x51 (each gets a fresh page-83 id)
    FwBackupPowerSource backup_power;
    FwPasswords passwords;
    FwNvram nvram;
    FwFlash flash;
    unsigned soft_resets = 0, enables = 0;
    unsigned register_new_disks = 0; // CCISS_REGNEWD requests on the controller's node
    unsigned nvram_clears = 0;       // 0x6E with action bit 4
    std::vector<FwWriteRecord> writes;
};

// Fields by JSON name, for the state's JSON form (found by argument-dependent lookup).
template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwWriteRecord>
void fields(S& s, V& v) {
    v("opcode", s.opcode);
    v("detail", s.detail);
    v("lun", s.lun);
    v("length", s.length);
    v("data", s.data);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwBackupPowerSource>
void fields(S& s, V& v) {
    v("status", s.status);
    v("max_temperature", s.max_temperature);
    v("max_voltage", s.max_voltage);
    v("temperature", s.temperature);
    v("voltage", s.voltage);
    v("current", s.current);
    v("temperature_threshold", s.temperature_threshold);
    v("health", s.health);
    v("relative_charge", s.relative_charge);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwChunk>
void fields(S& s, V& v) {
    v("number", s.number);
    v("total", s.total);
    v("size", s.size);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwCollectBuffer>
void fields(S& s, V& v) {
    v("total", s.total);
    v("chunks", s.chunks);
    v("data", s.data);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwFlash>
void fields(S& s, V& v) {
    v("collect", s.collect);
    v("validation", s.validation);
    v("valid_prefix", s.valid_prefix);
    v("pending_image", s.pending_image);
    v("pending", s.pending);
    v("verdicts", s.verdicts);
    v("frees", s.frees);
    v("activations", s.activations);
    v("toggles", s.toggles);
    v("active_rom", s.active_rom);
    v("backup_rom", s.backup_rom);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwPasswords>
void fields(S& s, V& v) {
    v("crypto_officer", s.crypto_officer);
    v("user", s.user);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwNvram>
void fields(S& s, V& v) {
    v("manufacturing", s.manufacturing);
    v("seeprom", s.seeprom);
}

template <class S, class V>
requires std::is_same_v<std::remove_const_t<S>, FwUpdates>
void fields(S& s, V& v) {
    v("transformation", s.transformation);
    v("created", s.created);
    v("backup_power", s.backup_power);
    v("passwords", s.passwords);
    v("nvram", s.nvram);
    v("flash", s.flash);
    v("soft_resets", s.soft_resets);
    v("enables", s.enables);
    v("register_new_disks", s.register_new_disks);
    v("nvram_clears", s.nvram_clears);
    v("writes", s.writes);
}

} // namespace qvsim
