// Simulated controller firmware: what a transport endpoint hands to a controller and gets back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvsim {

enum class Direction { kNone, kIn, kOut, kBoth };

// One SCSI command as the driver would hand it to the controller, decoded from the
// caller's record by a transport endpoint.
struct Command {
    std::string transport;         // "ciss", "ciss-big", "sg_io", "sis-srb", ...
    std::vector<std::uint8_t> cdb; // exactly the bytes the record announced
    Direction direction = Direction::kNone;
    std::uint32_t timeout_sec = 0;
    std::size_t data_in_length = 0; // room the caller gave for data in
    std::vector<std::uint8_t> data_out;
    std::size_t sense_capacity = 0;             // room the carrying record has for sense
    std::array<std::uint8_t, 8> lun_address{};  // CISS 8-byte LUN address, when the record has one
    std::uint32_t bus = 0, target = 0, lun = 0; // SRB addressing, when the record has it
};

// The controller's answer. A non-zero err makes the driver request itself fail.
struct Reply {
    int err = 0;
    std::vector<std::uint8_t> data_in; // may be shorter or longer than asked: the endpoint clips
    std::uint8_t scsi_status = 0;
    std::uint16_t command_status = 0;
    std::vector<std::uint8_t> sense;                    // any length: the endpoint clips to its record
    std::optional<std::size_t> reported_sense_length{}; // claim a length other than sense.size()
    std::optional<std::size_t> reported_data_length{};  // claim a transfer length other than data_in.size()
};

// CHECK CONDITION with fixed-format sense (response code 0x70).
Reply check_condition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

class Firmware {
public:
    virtual ~Firmware() = default;
    virtual Reply execute(const Command& cmd) = 0;
};

// Answers by CDB opcode; an opcode without a handler gets ILLEGAL REQUEST, invalid opcode.
class ScriptedFirmware : public Firmware {
public:
    using Handler = std::function<Reply(const Command&)>;
    ScriptedFirmware& on(std::uint8_t opcode, Handler h);
    Reply execute(const Command& cmd) override;

private:
    std::map<std::uint8_t, Handler> handlers_;
};

// A planned failure. With err set it fails the driver request (or the open) itself;
// otherwise it rewrites the reply of a firmware command (Device::execute).
struct Fault {
    unsigned long request = 0;            // ioctl request code to match; 0 matches any
    bool on_open = false;                 // match opens of the node instead of ioctls
    std::optional<std::uint8_t> opcode{}; // firmware commands: CDB byte 0 to match
    unsigned nth = 1;                     // the first matching request that fails (1-based)
    unsigned count = 1;                   // how many matching requests fail from there; 0 = all
    int err = 0;                          // errno for the request
    // Command-level rewrites (used when err is 0):
    std::optional<std::uint8_t> scsi_status{};
    std::optional<std::uint16_t> command_status{};
    std::optional<std::vector<std::uint8_t>> sense{};
    std::optional<std::size_t> data_in_length{}; // short (or long) data
    std::optional<std::size_t> reported_sense_length{};
    std::optional<std::size_t> reported_data_length{};
    // The reply's own bytes from this offset on are replaced by these (only those inside the reply):
    // a damaged length field, for instance.
    std::optional<std::size_t> patch_offset{};
    std::vector<std::uint8_t> patch_bytes{};

    unsigned seen = 0; // matching requests so far (kept by the device)
    bool fires_now();  // counts one matching request and says whether this one fails
};

} // namespace qvsim
