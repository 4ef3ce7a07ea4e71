// Helpers shared by the pass-through endpoints (private to sim/).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "qvsim/controller_fw.h"
#include "qvsim/device.h"
#include "qvsim/firmware.h"
#include "qvsim/frames.h"

namespace qvsim::ep {

// Data bytes logged per request; longer data is cut (the length is logged whole).
inline constexpr std::size_t kLoggedDataBytes = 4096;

inline std::vector<std::uint8_t> copy_in(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    return std::vector<std::uint8_t>(b, b + n);
}

// Copies the first n bytes of src (n may be 0 with src empty).
inline void put_bytes(void* dst, const std::vector<std::uint8_t>& src, std::size_t n) {
    if (n != 0)
        std::memcpy(dst, src.data(), n);
}

inline std::string data_hex(const void* p, std::size_t n) {
    if (n <= kLoggedDataBytes)
        return hex_bytes(p, n);
    return hex_bytes(p, kLoggedDataBytes) + " ...";
}

inline bool reads(Direction d) {
    return d == Direction::kIn || d == Direction::kBoth;
}
inline bool writes(Direction d) {
    return d == Direction::kOut || d == Direction::kBoth;
}

// Adds the CSMI frame a BMIC 0x68 write carries to a decoded record.
inline void add_tunnel(nlohmann::json& j, const std::vector<std::uint8_t>& cdb, const void* data,
                       std::size_t n, Direction d) {
    if (cdb.size() == 16 && cdb[0] == 0x27 && cdb[6] == kBmicCsmiPassthrough && writes(d) && data != nullptr)
        j["csmi"] = describe_csmi_frame(cdb[5], {static_cast<const std::uint8_t*>(data), n});
}

// The firmware's reply with the JSON the log keeps of it.
inline Reply run(Device& dev, const Command& cmd, RequestRecord& rec) {
    bind_controller(dev.firmware(), dev.controller());
    Reply r = dev.execute(cmd);
    rec.reply["scsi_status"] = r.scsi_status;
    rec.reply["command_status"] = r.command_status;
    rec.reply["sense"] = hex_bytes(r.sense.data(), r.sense.size());
    rec.reply["data_in_length"] = r.data_in.size();
    if (r.reported_sense_length)
        rec.reply["reported_sense_length"] = *r.reported_sense_length;
    if (r.reported_data_length)
        rec.reply["reported_data_length"] = *r.reported_data_length;
    if (r.err)
        rec.reply["err"] = r.err;
    return r;
}

// Sense length a record announces: the firmware's claim, cut to the field's width.
inline std::size_t claimed_sense(const Reply& r, std::size_t field_max) {
    return std::min(r.reported_sense_length.value_or(r.sense.size()), field_max);
}

// Bytes moved into the caller's data buffer, and the transfer length to report.
struct DataIn {
    std::size_t moved = 0;
    std::size_t reported = 0;
};
inline DataIn data_in(const Reply& r, std::size_t room) {
    DataIn d;
    d.moved = std::min(r.data_in.size(), room);
    d.reported = r.reported_data_length.value_or(d.moved);
    return d;
}

} // namespace qvsim::ep
