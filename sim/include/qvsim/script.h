// Scripted firmware: the commands a test expects, in strict order, each with a canned reply.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/firmware.h"

namespace qvsim {

// One expected command. The CDB is always compared; every other field only when set.
struct Expectation {
    std::vector<std::uint8_t> cdb;
    std::optional<std::string> transport; // "ciss", "ciss-big", "sg_io", "sis-srb", "csmi-ssp", ...
    std::optional<Direction> direction;
    std::optional<std::uint32_t> timeout_sec;
    std::optional<std::size_t> data_in_length;
    std::optional<std::vector<std::uint8_t>> data_out;
    std::optional<std::array<std::uint8_t, 8>> lun_address;
    std::optional<std::uint32_t> bus, target, lun;
    Reply reply; // what the firmware answers when the command matches
};

// Readable forms for messages: "ciss cdb=[26 00 ...] dir=in timeout=30 in=1024 out=0 lun=[...]".
std::string describe(const Command& cmd);
std::string describe(const Expectation& e);
const char* direction_name(Direction d);

// Matches each command against the next expectation. A match consumes it and answers its reply;
// a mismatch (or a command after the last expectation) is recorded as "got X, expected Y", consumes
// nothing, and fails the driver request with EIO. Tunnelled CSMI frames are matched by the
// command they carry (transport "csmi-ssp" or "csmi-smp") unless unwrap_csmi is false.
class Script : public Firmware {
public:
    Script& expect(Expectation e);
    // Shorthand: the CDB and the reply; further fields through the returned reference.
    Expectation& expect(std::vector<std::uint8_t> cdb, Reply reply = {});

    Reply execute(const Command& cmd) override;

    // "" when every expectation was consumed and nothing mismatched; else one line per problem.
    std::string ExpectNoneLeft() const;
    std::vector<std::string> failures() const;
    std::size_t remaining() const;
    std::size_t consumed() const;

    bool unwrap_csmi = true;

private:
    Reply match(const Command& cmd);

    mutable std::mutex mu_;
    std::deque<Expectation> pending_;
    std::vector<std::string> failures_;
    std::size_t seen_ = 0, consumed_ = 0;
};

} // namespace qvsim
