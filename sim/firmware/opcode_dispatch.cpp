#include "qvsim/controller_fw.h"

#include <string>

namespace qvsim {
namespace {

struct Registered {
    std::mutex mu;
    std::map<std::pair<BmicDirection, std::uint8_t>, BmicHandler> bmic;
    std::map<std::uint8_t, ScsiHandler> scsi;
    std::map<std::uint8_t, SmpHandler> smp;
    std::map<std::uint8_t, CsmiFrameHandler> csmi;
};

Registered& registered() {
    static Registered r;
    return r;
}

template <class Map, class Key>
typename Map::mapped_type lookup(const Map& local, const Map& global, std::mutex& gmu, const Key& k) {
    if (auto it = local.find(k); it != local.end())
        return it->second;
    std::lock_guard lk(gmu);
    if (auto it = global.find(k); it != global.end())
        return it->second;
    return {};
}

Reply invalid_opcode() {
    return check_condition(0x05, 0x20, 0x00);
}
Reply invalid_cdb_field() {
    return check_condition(0x05, 0x24, 0x00);
}
Reply invalid_parameter_list() {
    return check_condition(0x05, 0x26, 0x00);
}

} // namespace

std::optional<BmicCdb> BmicCdb::parse(std::span<const std::uint8_t> c) {
    if (c.size() != 16 || (c[0] != 0x26 && c[0] != 0x27))
        return std::nullopt;
    BmicCdb b;
    b.write = c[0] == 0x27;
    b.lun_low = c[1];
    b.detail = (std::uint32_t{c[2]} << 24) | (std::uint32_t{c[3]} << 16) | (std::uint32_t{c[4]} << 8) | c[5];
    b.opcode = c[6];
    b.length = static_cast<std::uint16_t>((c[7] << 8) | c[8]);
    b.lun_high = c[9];
    for (int i = 10; i < 16; ++i)
        b.additional_detail = (b.additional_detail << 8) | c[i];
    return b;
}

std::vector<std::uint8_t> BmicCdb::to_cdb() const {
    std::vector<std::uint8_t> c(16, 0);
    c[0] = write ? 0x27 : 0x26;
    c[1] = lun_low;
    for (int i = 0; i < 4; ++i)
        c[2 + i] = static_cast<std::uint8_t>(detail >> (24 - 8 * i));
    c[6] = opcode;
    c[7] = static_cast<std::uint8_t>(length >> 8);
    c[8] = static_cast<std::uint8_t>(length);
    c[9] = lun_high;
    for (int i = 0; i < 6; ++i)
        c[10 + i] = static_cast<std::uint8_t>(additional_detail >> (40 - 8 * i));
    return c;
}

bool register_bmic(BmicDirection dir, std::uint8_t opcode, BmicHandler h) {
    auto& r = registered();
    std::lock_guard lk(r.mu);
    r.bmic[{dir, opcode}] = std::move(h);
    return true;
}

bool register_scsi(std::uint8_t opcode, ScsiHandler h) {
    auto& r = registered();
    std::lock_guard lk(r.mu);
    r.scsi[opcode] = std::move(h);
    return true;
}

bool register_smp(std::uint8_t function, SmpHandler h) {
    auto& r = registered();
    std::lock_guard lk(r.mu);
    r.smp[function] = std::move(h);
    return true;
}

bool register_csmi_frame(std::uint8_t control_code, CsmiFrameHandler h) {
    auto& r = registered();
    std::lock_guard lk(r.mu);
    r.csmi[control_code] = std::move(h);
    return true;
}

ControllerFirmware& ControllerFirmware::on_bmic(BmicDirection dir, std::uint8_t opcode, BmicHandler h) {
    std::lock_guard lk(mu_);
    bmic_[{dir, opcode}] = std::move(h);
    return *this;
}

ControllerFirmware& ControllerFirmware::on_scsi(std::uint8_t opcode, ScsiHandler h) {
    std::lock_guard lk(mu_);
    scsi_[opcode] = std::move(h);
    return *this;
}

ControllerFirmware& ControllerFirmware::on_smp(std::uint8_t function, SmpHandler h) {
    std::lock_guard lk(mu_);
    smp_[function] = std::move(h);
    return *this;
}

const nlohmann::json& ControllerFirmware::extra() const {
    static const nlohmann::json empty = nlohmann::json::object();
    const Controller* c = controller();
    return c ? c->extra : empty;
}

Reply ControllerFirmware::execute(const Command& cmd) {
    std::lock_guard lk(mu_);
    return dispatch(cmd, 0);
}

Reply ControllerFirmware::dispatch(const Command& cmd, int depth) {
    // No simulated controller is an NVMe device.
    if (cmd.cdb.empty() || cmd.transport == "nvme-admin")
        return invalid_opcode();
    const std::uint8_t op = cmd.cdb[0];
    if (op == 0x26 || op == 0x27) {
        auto b = BmicCdb::parse(cmd.cdb);
        if (!b)
            return invalid_cdb_field();
        if (b->write && b->opcode == kBmicCsmiPassthrough)
            return depth == 0 ? tunnel(cmd, *b, depth) : invalid_opcode();
        auto& g = registered();
        auto h = lookup(bmic_, g.bmic, g.mu,
                        std::pair{b->write ? BmicDirection::kWrite : BmicDirection::kRead, b->opcode});
        return h ? h(*this, cmd, *b) : invalid_opcode();
    }
    auto& g = registered();
    auto h = lookup(scsi_, g.scsi, g.mu, op);
    return h ? h(*this, cmd) : invalid_opcode();
}

Reply ControllerFirmware::tunnel(const Command& carrier, const BmicCdb& bmic, int depth) {
    const std::uint8_t code = static_cast<std::uint8_t>(bmic.detail & 0xFF);
    const std::span<const std::uint8_t> frame(carrier.data_out);
    std::string why;
    Reply out;
    if (code == kCsmiSspControlCode) {
        auto inner = parse_ssp_frame(frame, &why);
        if (!inner)
            return invalid_parameter_list();
        Reply r = dispatch(*inner, depth + 1);
        if (r.err) {
            out.err = r.err;
            return out;
        }
        out.data_in = write_ssp_reply(frame, *inner, r);
        return out;
    }
    if (code == kCsmiSmpControlCode) {
        // A CISS-type controller carries no SMP frames.
        if (const Controller* c = controller(); c && c->protocol == Protocol::kCiss)
            return invalid_cdb_field();
        auto req = parse_smp_frame(frame, &why);
        if (!req)
            return invalid_parameter_list();
        auto& g = registered();
        auto h = lookup(smp_, g.smp, g.mu, req->function);
        SmpReply sr;
        if (h) {
            sr = h(*this, *req);
        } else {
            sr.function = req->function;
            sr.function_result = 0x01; // unknown SMP function
        }
        if (sr.err) {
            out.err = sr.err;
            return out;
        }
        out.data_in = write_smp_reply(frame, sr);
        return out;
    }
    {
        auto& g = registered();
        std::unique_lock lk(g.mu);
        auto it = g.csmi.find(std::uint8_t(code));
        if (it != g.csmi.end()) {
            CsmiFrameHandler h = it->second;
            lk.unlock();
            return h(*this, carrier, frame);
        }
    }
    return invalid_cdb_field();
}

void bind_controller(Firmware& fw, const Controller& c) {
    if (auto* cf = dynamic_cast<ControllerFirmware*>(&fw))
        cf->bind(&c);
}

} // namespace qvsim
