#include "qvsim/script.h"

#include <cerrno>
#include <span>

#include "qvsim/bytes.h"
#include "qvsim/frames.h"

namespace qvsim {
namespace {

// Long data is shown by its length and first bytes.
std::string hex_head(std::span<const std::uint8_t> b) {
    constexpr std::size_t kShown = 32;
    if (b.size() <= kShown)
        return "[" + hex_bytes(b) + "]";
    return std::to_string(b.size()) + " bytes [" + hex_bytes(b.first(kShown)) + " ...]";
}

std::string first_difference(std::span<const std::uint8_t> got, std::span<const std::uint8_t> want) {
    const std::size_t n = std::min(got.size(), want.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (got[i] != want[i])
            return "byte " + std::to_string(i) + " is " + hex_bytes(got.subspan(i, 1)) + ", expected " +
                   hex_bytes(want.subspan(i, 1));
    }
    return std::to_string(got.size()) + " bytes, expected " + std::to_string(want.size());
}

} // namespace

const char* direction_name(Direction d) {
    switch (d) {
        case Direction::kNone:
            return "none";
        case Direction::kIn:
            return "in";
        case Direction::kOut:
            return "out";
        case Direction::kBoth:
            return "both";
    }
    return "?";
}

std::string describe(const Command& c) {
    std::string s = c.transport + " cdb=[" + hex_bytes(c.cdb) + "] dir=" + direction_name(c.direction) +
                    " timeout=" + std::to_string(c.timeout_sec) + " in=" + std::to_string(c.data_in_length) +
                    " out=" + std::to_string(c.data_out.size());
    if (c.lun_address != std::array<std::uint8_t, 8>{})
        s += " lun=[" + hex_bytes(c.lun_address) + "]";
    if (c.bus || c.target || c.lun)
        s += " btl=" + std::to_string(c.bus) + ":" + std::to_string(c.target) + ":" + std::to_string(c.lun);
    return s;
}

std::string describe(const Expectation& e) {
    std::string s = (e.transport ? *e.transport + " " : std::string()) + "cdb=[" + hex_bytes(e.cdb) + "]";
    if (e.direction)
        s += std::string(" dir=") + direction_name(*e.direction);
    if (e.timeout_sec)
        s += " timeout=" + std::to_string(*e.timeout_sec);
    if (e.data_in_length)
        s += " in=" + std::to_string(*e.data_in_length);
    if (e.data_out)
        s += " out=" + std::to_string(e.data_out->size());
    if (e.lun_address)
        s += " lun=[" + hex_bytes(*e.lun_address) + "]";
    if (e.bus || e.target || e.lun)
        s += " btl=" + (e.bus ? std::to_string(*e.bus) : "*") + ":" +
             (e.target ? std::to_string(*e.target) : "*") + ":" + (e.lun ? std::to_string(*e.lun) : "*");
    return s;
}

Script& Script::expect(Expectation e) {
    std::lock_guard lk(mu_);
    pending_.push_back(std::move(e));
    return *this;
}

Expectation& Script::expect(std::vector<std::uint8_t> cdb, Reply reply) {
    std::lock_guard lk(mu_);
    Expectation e;
    e.cdb = std::move(cdb);
    e.reply = std::move(reply);
    pending_.push_back(std::move(e));
    return pending_.back();
}

Reply Script::execute(const Command& cmd) {
    if (unwrap_csmi && is_csmi_carrier(cmd)) {
        const std::span<const std::uint8_t> frame(cmd.data_out);
        std::string why;
        Reply out;
        if (csmi_control_code(cmd) == kCsmiSspControlCode) {
            auto inner = parse_ssp_frame(frame, &why);
            if (!inner) {
                std::lock_guard lk(mu_);
                ++seen_;
                failures_.push_back("command #" + std::to_string(seen_) + ": got " + describe(cmd) +
                                    " with a bad SSP frame (" + why + ")");
                out.err = EIO;
                return out;
            }
            Reply r = match(*inner);
            if (r.err) {
                out.err = r.err;
                return out;
            }
            out.data_in = write_ssp_reply(frame, *inner, r);
            return out;
        }
        if (csmi_control_code(cmd) == kCsmiSmpControlCode) {
            auto req = parse_smp_frame(frame, &why);
            if (!req) {
                std::lock_guard lk(mu_);
                ++seen_;
                failures_.push_back("command #" + std::to_string(seen_) + ": got " + describe(cmd) +
                                    " with a bad SMP frame (" + why + ")");
                out.err = EIO;
                return out;
            }
            SmpReply sr = smp_reply_from(match(smp_as_command(*req)));
            if (sr.err) {
                out.err = sr.err;
                return out;
            }
            out.data_in = write_smp_reply(frame, sr);
            return out;
        }
    }
    return match(cmd);
}

Reply Script::match(const Command& cmd) {
    std::lock_guard lk(mu_);
    ++seen_;
    const std::string where = "command #" + std::to_string(seen_) + ": ";
    Reply failed;
    failed.err = EIO;
    if (pending_.empty()) {
        failures_.push_back(where + "got " + describe(cmd) + ", expected no more commands");
        return failed;
    }
    const Expectation& e = pending_.front();
    std::string why;
    if (cmd.cdb != e.cdb)
        why = "CDB " + first_difference(cmd.cdb, e.cdb);
    else if (e.transport && cmd.transport != *e.transport)
        why = "transport differs";
    else if (e.direction && cmd.direction != *e.direction)
        why = "direction differs";
    else if (e.timeout_sec && cmd.timeout_sec != *e.timeout_sec)
        why = "time limit differs";
    else if (e.data_in_length && cmd.data_in_length != *e.data_in_length)
        why = "data-in length differs";
    else if (e.data_out && cmd.data_out != *e.data_out)
        why = "data out " + first_difference(cmd.data_out, *e.data_out) + "; got " + hex_head(cmd.data_out);
    else if (e.lun_address && cmd.lun_address != *e.lun_address)
        why = "LUN address differs";
    else if ((e.bus && cmd.bus != *e.bus) || (e.target && cmd.target != *e.target) ||
             (e.lun && cmd.lun != *e.lun))
        why = "bus/target/LUN differs";
    if (!why.empty()) {
        failures_.push_back(where + "got " + describe(cmd) + ", expected " + describe(e) + " (" + why + ")");
        return failed;
    }
    Reply r = e.reply;
    pending_.pop_front();
    ++consumed_;
    return r;
}

std::string Script::ExpectNoneLeft() const {
    std::lock_guard lk(mu_);
    std::string s;
    for (const auto& f : failures_)
        s += f + "\n";
    std::size_t n = consumed_;
    for (const auto& e : pending_)
        s += "expectation #" + std::to_string(++n) + " not consumed: " + describe(e) + "\n";
    return s;
}

std::vector<std::string> Script::failures() const {
    std::lock_guard lk(mu_);
    return failures_;
}

std::size_t Script::remaining() const {
    std::lock_guard lk(mu_);
    return pending_.size();
}

std::size_t Script::consumed() const {
    std::lock_guard lk(mu_);
    return consumed_;
}

} // namespace qvsim
