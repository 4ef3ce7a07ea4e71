// The simulated CSMI-capable node: a SAS driver answering the CSMI SAS requests for a topology
// of phys, end devices and expanders.
#include "qvsim/csmi.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/json_fields.h"
#include "host/staging_tree.h"
#include "qvsim/device.h"
#include "qvsim/frames.h"
#include "qvsim/scenario.h"

namespace qvsim {

namespace {

using json_fields::json;
using SasAddress = std::array<std::uint8_t, 8>;

constexpr std::uint8_t kInitiatorAll = kSasSsp | kSasStp | kSasSmp;

// What sits at a SAS address of the topology.
struct Attached {
    std::uint8_t device_type = 0, initiator = 0, target = 0;
    const CsmiEndDevice* end_device = nullptr;
    const CsmiExpander* expander = nullptr;
};

std::optional<SasAddress> parse_address(const std::string& hex) {
    std::vector<std::uint8_t> b;
    if (!json_fields::hex_to_bytes(hex, &b) || b.size() != 8)
        return std::nullopt;
    SasAddress a{};
    std::copy(b.begin(), b.end(), a.begin());
    return a;
}

bool same(const std::string& hex, const SasAddress& a) {
    auto p = parse_address(hex);
    return p && *p == a;
}

std::optional<Attached> lookup(const CsmiNode& n, const SasAddress& a) {
    Attached r;
    if (same(n.sas_address, a)) {
        r.device_type = kSasEndDevice;
        r.initiator = kInitiatorAll;
        return r;
    }
    for (const auto& d : n.end_devices) {
        if (same(d.sas_address, a)) {
            r.device_type = d.device_type;
            r.initiator = d.initiator_protocol;
            r.target = d.target_protocol;
            r.end_device = &d;
            return r;
        }
    }
    for (const auto& e : n.expanders) {
        if (same(e.sas_address, a)) {
            r.device_type = e.device_type;
            r.target = kSasSmp;
            r.expander = &e;
            return r;
        }
    }
    return std::nullopt;
}

std::optional<Attached> lookup(const CsmiNode& n, const std::string& hex) {
    auto a = parse_address(hex);
    if (!a)
        return std::nullopt;
    return lookup(n, *a);
}

// SSP and SMP commands: the node's own firmware, or the built-in topology.
class CsmiFirmware : public Firmware {
public:
    explicit CsmiFirmware(std::shared_ptr<const CsmiNode> n) : node_(std::move(n)) {}
    const CsmiNode& node() const { return *node_; }

    Reply execute(const Command& cmd) override {
        if (node_->firmware)
            return node_->firmware->execute(cmd);
        auto at = lookup(*node_, cmd.lun_address);
        if (cmd.transport == "csmi-smp") {
            Reply r;
            if (at && at->expander)
                r.data_in = csmi_smp_response(*node_, *at->expander, cmd.cdb);
            return r;
        }
        if (!at || !at->end_device || cmd.cdb.empty() || cmd.cdb[0] != 0x12)
            return check_condition(0x05, 0x20, 0x00);
        if (cmd.cdb.size() < 6 || (cmd.cdb[1] & 0x01) || cmd.cdb[2] != 0)
            return check_condition(0x05, 0x24, 0x00);
        Reply r;
        r.data_in = csmi_inquiry(*at->end_device);
        const std::size_t alloc = static_cast<std::size_t>((cmd.cdb[3] << 8) | cmd.cdb[4]);
        r.data_in.resize(std::min(r.data_in.size(), alloc));
        return r;
    }

private:
    std::shared_ptr<const CsmiNode> node_;
};

const CsmiNode* node_of(Device& dev) {
    auto* fw = dynamic_cast<const CsmiFirmware*>(&dev.firmware());
    return fw ? &fw->node() : nullptr;
}

// The built-in topology's connection failure, 0 when the connection opens: nothing at that
// address, or a device that does not speak the protocol (SMP to expanders, SSP to end devices).
std::uint8_t connection_status(Device& dev, const SasAddress& a, bool smp) {
    const CsmiNode* n = node_of(dev);
    if (n == nullptr || n->firmware)
        return 0;
    auto at = lookup(*n, a);
    if (!at)
        return csmi::kConnectionNoDestination;
    if (smp ? at->expander == nullptr : at->end_device == nullptr)
        return csmi::kConnectionProtocolNotSupported;
    return 0;
}

std::size_t record_size(unsigned long code) {
    switch (code) {
        case csmi::kDriverInfo:
            return csmi::kDriverInfoSize;
        case csmi::kControllerConfig:
            return csmi::kControllerConfigSize;
        case csmi::kControllerStatus:
            return csmi::kControllerStatusSize;
        case csmi::kPhyInfo:
            return csmi::kPhyInfoSize;
        case csmi::kSmpPassthru:
            return csmi::kSmpSize;
        case csmi::kSspPassthru:
            return csmi::kSspSize;
        default:
            return csmi::kPauseSize;
    }
}

std::string hex8(const std::uint8_t* p) {
    return hex_bytes(p, 8);
}

// The caller's buffer as far as its header's Length lets us read it; nullopt when that is not
// enough for the request's record.
std::optional<std::size_t> buffer_length(unsigned long code, const std::uint8_t* p) {
    const std::uint64_t length = get_le64(p + csmi::hdr::kLength);
    if (length < record_size(code) || length > csmi::kMaxBufferSize)
        return std::nullopt;
    if (code == csmi::kSspPassthru && get_le64(p + csmi::ssp::kDataLength) > length - csmi::kSspSize)
        return std::nullopt;
    return static_cast<std::size_t>(length);
}

json decode(unsigned long code, const void* arg) {
    const auto* p = static_cast<const std::uint8_t*>(arg);
    json j{{"controller_number", get_le64(p + csmi::hdr::kControllerNumber)},
           {"length", get_le64(p + csmi::hdr::kLength)},
           {"return_code", get_le64(p + csmi::hdr::kReturnCode)},
           {"timeout", get_le64(p + csmi::hdr::kTimeout)},
           {"direction", get_le16(p + csmi::hdr::kDirection)}};
    const std::uint64_t length = get_le64(p + csmi::hdr::kLength);
    if (length < record_size(code) || length > csmi::kMaxBufferSize)
        return j;
    if (code == csmi::kSspPassthru) {
        using namespace csmi::ssp;
        j["phy"] = p[kPhy];
        j["port"] = p[kPort];
        j["connection_rate"] = p[kConnectionRate];
        j["sas_address"] = hex8(p + kDestination);
        j["lun"] = hex8(p + kLun);
        j["cdb_length"] = p[kCdbLength];
        j["cdb"] = hex_bytes(p + kCdb, std::min<std::size_t>(p[kCdbLength], 16));
        j["flags"] = get_le64(p + kFlags);
        j["data_length"] = get_le64(p + kDataLength);
        const std::uint64_t n = get_le64(p + kDataLength);
        if (get_le64(p + kFlags) == kFlagWrite && n <= length - kData)
            j["data_out"] = hex_bytes(p + kData, std::min<std::uint64_t>(n, 4096));
    } else if (code == csmi::kSmpPassthru) {
        using namespace csmi::smp;
        j["phy"] = p[kPhy];
        j["port"] = p[kPort];
        j["connection_rate"] = p[kConnectionRate];
        j["sas_address"] = hex8(p + kDestination);
        j["request_length"] = get_le64(p + kRequestLength);
        j["request"] =
            hex_bytes(p + kRequest, 4 + std::min<std::uint64_t>(get_le64(p + kRequestLength), kMaxAdditional));
    } else if (code == csmi::kPause || code == csmi::kResume) {
        j["sas_address"] = hex8(p + csmi::pause::kSasAddress);
    }
    return j;
}

void put_identify(std::uint8_t* id, std::uint8_t type, std::uint8_t initiator, std::uint8_t target,
                  const SasAddress& a, std::uint8_t phy) {
    using namespace csmi::phy;
    id[kDeviceType] = type;
    id[kInitiatorProtocol] = initiator;
    id[kTargetProtocol] = target;
    std::copy(a.begin(), a.end(), id + kSasAddress);
    id[kPhyIdentifier] = phy;
}

void fill_phy_info(const CsmiNode& n, std::uint8_t* p, RequestRecord& rec) {
    using namespace csmi::phy;
    const unsigned reported = n.reported_phys.value_or(static_cast<unsigned>(n.phys.size()));
    p[kNumberOfPhys] = static_cast<std::uint8_t>(std::min(reported, 255u));
    const SasAddress own = parse_address(n.sas_address).value_or(SasAddress{});
    const std::size_t count = std::min(n.phys.size(), kMaxPhys);
    for (std::size_t i = 0; i < count; ++i) {
        const CsmiPhy& ph = n.phys[i];
        std::uint8_t* e = p + kEntities + i * kEntitySize;
        std::memset(e, 0, kEntitySize);
        put_identify(e, kSasEndDevice, kInitiatorAll, 0, own, static_cast<std::uint8_t>(i));
        e[kPortIdentifier] = ph.port;
        e[kNegotiatedLinkRate] = ph.link_rate;
        e[kMinimumLinkRate] = 0x08;
        e[kMaximumLinkRate] = ph.link_rate;
        if (auto at = lookup(n, ph.attached)) {
            put_identify(e + kAttached, at->device_type, at->initiator, at->target,
                         *parse_address(ph.attached), ph.attached_phy);
        }
    }
    rec.reply["number_of_phys"] = p[kNumberOfPhys];
    rec.reply["entities"] = count;
}

void fill_driver_info(const CsmiNode& n, std::uint8_t* p) {
    using namespace csmi::drv;
    put_text(p + kName, kTextSize, n.driver.name.substr(0, kTextSize - 1), '\0');
    put_text(p + kDescription, kTextSize, n.driver.description.substr(0, kTextSize - 1), '\0');
    put_le16(p + kMajor, n.driver.major);
    put_le16(p + kMinor, n.driver.minor);
    put_le16(p + kBuild, n.driver.build);
    put_le16(p + kRelease, n.driver.release);
    put_le16(p + kCsmiMajor, n.driver.csmi_major);
    put_le16(p + kCsmiMinor, n.driver.csmi_minor);
}

void fill_config(const CsmiNode& n, std::uint8_t* p) {
    using namespace csmi::cfg;
    const CsmiControllerConfig& c = n.config;
    put_le32(p + kBaseIoAddress, c.base_io_address);
    put_le32(p + kBaseMemoryLow, c.base_memory_low);
    put_le32(p + kBaseMemoryHigh, c.base_memory_high);
    put_le32(p + kBoardId, c.board_id);
    put_le16(p + kSlotNumber, c.slot);
    p[kControllerClass] = c.controller_class;
    p[kIoBusType] = c.io_bus_type;
    p[kPciBus] = c.pci_bus;
    p[kPciDevice] = c.pci_device;
    p[kPciFunction] = c.pci_function;
    put_text(p + kSerialNumber, kSerialSize, c.serial_number.substr(0, kSerialSize - 1), '\0');
    const std::pair<std::size_t, std::uint16_t> words[] = {
        {kMajor, c.major},          {kMinor, c.minor},
        {kBuild, c.build},          {kRelease, c.release},
        {kBiosMajor, c.bios_major}, {kBiosMinor, c.bios_minor},
        {kBiosBuild, c.bios_build}, {kBiosRelease, c.bios_release},
        {kRromMajor, c.rrom_major}, {kRromMinor, c.rrom_minor},
        {kRromBuild, c.rrom_build}, {kRromRelease, c.rrom_release}};
    for (const auto& [off, v] : words)
        put_le16(p + off, v);
    put_le32(p + kControllerFlags, c.flags);
}

int serve_ssp(Device& dev, std::uint8_t* p, std::size_t length, RequestRecord& rec) {
    using namespace csmi::ssp;
    const std::uint64_t flags = get_le64(p + kFlags);
    const std::size_t data_length = static_cast<std::size_t>(get_le64(p + kDataLength));
    const std::uint8_t cdb_length = p[kCdbLength];
    if ((flags != kFlagRead && flags != kFlagWrite && flags != kFlagNoData) || cdb_length == 0 ||
        cdb_length > 16) {
        put_le64(p + csmi::hdr::kReturnCode, csmi::kReturnInvalidParameter);
        return 0;
    }
    Command cmd;
    cmd.transport = "csmi-sas-ssp";
    cmd.cdb.assign(p + kCdb, p + kCdb + cdb_length);
    cmd.timeout_sec = static_cast<std::uint32_t>(get_le64(p + csmi::hdr::kTimeout));
    cmd.sense_capacity = kResponseSize;
    std::copy_n(p + kDestination, 8, cmd.lun_address.begin());
    cmd.bus = p[kPhy];
    cmd.target = p[kPort];
    if (flags == kFlagRead) {
        cmd.direction = Direction::kIn;
        cmd.data_in_length = data_length;
    } else if (flags == kFlagWrite) {
        cmd.direction = Direction::kOut;
        cmd.data_out.assign(p + kData, p + kData + data_length);
    }
    if (const std::uint8_t cs = connection_status(dev, cmd.lun_address, false)) {
        p[kConnectionStatus] = cs;
        put_le64(p + csmi::hdr::kReturnCode, csmi::kReturnFailed);
        rec.reply["connection_status"] = cs;
        return 0;
    }
    const Reply r = dev.execute(cmd);
    if (r.err)
        return r.err;
    p[kConnectionStatus] = 0;
    p[kSspStatus] = kStatusCompleted;
    p[kStatus] = r.scsi_status;
    const std::size_t claimed =
        std::min<std::size_t>(r.reported_sense_length.value_or(r.sense.size()), 0xFFFF);
    if (claimed != 0 || !r.sense.empty()) {
        p[kDataPresent] = kSenseDataPresent;
        p[kResponseLength] = static_cast<std::uint8_t>(claimed >> 8);
        p[kResponseLength + 1] = static_cast<std::uint8_t>(claimed);
        std::copy_n(r.sense.begin(), std::min(r.sense.size(), kResponseSize), p + kResponse);
    }
    std::size_t moved = 0;
    if (cmd.direction == Direction::kIn) {
        moved = std::min({r.data_in.size(), data_length, length - kData});
        std::copy_n(r.data_in.begin(), moved, p + kData);
    } else {
        moved = cmd.data_out.size();
    }
    put_le64(p + kDataBytes, r.reported_data_length.value_or(moved));
    rec.reply["scsi_status"] = r.scsi_status;
    rec.reply["sense"] = hex_bytes(r.sense.data(), r.sense.size());
    rec.reply["data_bytes"] = get_le64(p + kDataBytes);
    return 0;
}

int serve_smp(Device& dev, std::uint8_t* p, RequestRecord& rec) {
    using namespace csmi::smp;
    const std::uint64_t request_length = get_le64(p + kRequestLength);
    if (request_length > kMaxAdditional) {
        put_le64(p + csmi::hdr::kReturnCode, csmi::kReturnInvalidParameter);
        return 0;
    }
    SmpRequest req;
    req.phy_identifier = p[kPhy];
    req.port_identifier = p[kPort];
    req.connection_rate = p[kConnectionRate];
    std::copy_n(p + kDestination, 8, req.sas_address.begin());
    req.request_length = static_cast<std::uint32_t>(request_length);
    req.frame_type = p[kRequest];
    req.function = p[kRequest + 1];
    req.allocated_response_length = p[kRequest + 2];
    req.header_request_length = p[kRequest + 3];
    req.additional_request.assign(p + kAdditionalRequest, p + kAdditionalRequest + request_length);
    if (const std::uint8_t cs = connection_status(dev, req.sas_address, true)) {
        p[kConnectionStatus] = cs;
        put_le64(p + csmi::hdr::kReturnCode, csmi::kReturnFailed);
        rec.reply["connection_status"] = cs;
        return 0;
    }
    const Reply r = dev.execute(smp_as_command(req));
    if (r.err)
        return r.err;
    p[kConnectionStatus] = 0;
    std::memset(p + kResponse, 0, 4 + kMaxAdditional);
    const std::size_t n = std::min(r.data_in.size(), 4 + kMaxAdditional);
    std::copy_n(r.data_in.begin(), n, p + kResponse);
    put_le64(p + kResponseBytes, r.reported_data_length.value_or(n));
    rec.reply["response"] = hex_bytes(r.data_in.data(), std::min<std::size_t>(n, 64));
    rec.reply["response_bytes"] = get_le64(p + kResponseBytes);
    return 0;
}

int serve(unsigned long code, Device& dev, void* arg, RequestRecord& rec) {
    const CsmiNode* n = node_of(dev);
    if (n == nullptr)
        return ENOTTY;
    auto* caller = static_cast<std::uint8_t*>(arg);
    const auto length = buffer_length(code, caller);
    if (!length)
        return EINVAL;
    // Work on a copy, as the driver does, and hand back only the buffer's own bytes.
    std::vector<std::uint8_t> buf(caller, caller + *length);
    std::uint8_t* p = buf.data();
    put_le64(p + csmi::hdr::kReturnCode, csmi::kReturnOk);
    int err = 0;
    if (auto rc = n->return_codes.find(code); rc != n->return_codes.end() && rc->second != 0) {
        put_le64(p + csmi::hdr::kReturnCode, rc->second);
    } else {
        switch (code) {
            case csmi::kDriverInfo:
                fill_driver_info(*n, p);
                break;
            case csmi::kControllerConfig:
                fill_config(*n, p);
                break;
            case csmi::kControllerStatus:
                put_le32(p + csmi::sts::kStatus, n->status);
                put_le32(p + csmi::sts::kOfflineReason, n->offline_reason);
                break;
            case csmi::kPhyInfo:
                fill_phy_info(*n, p, rec);
                break;
            case csmi::kSspPassthru:
                err = serve_ssp(dev, p, *length, rec);
                break;
            case csmi::kSmpPassthru:
                err = serve_smp(dev, p, rec);
                break;
            default: // pause, resume: nothing to report
                break;
        }
    }
    if (err)
        return err;
    rec.reply["return_code"] = get_le64(p + csmi::hdr::kReturnCode);
    std::memcpy(caller, p, *length);
    return 0;
}

bool register_code(unsigned long code, const char* name) {
    return register_endpoint(
        DriverKind::kCsmi, code,
        {name, [code](const void* arg) { return decode(code, arg); },
         [code](Device& dev, void* arg, RequestRecord& rec) { return serve(code, dev, arg, rec); }});
}

const bool registered = register_code(csmi::kDriverInfo, "CSMI_SAS_GET_DRIVER_INFO") &&
                        register_code(csmi::kControllerConfig, "CSMI_SAS_GET_CNTLR_CONFIG") &&
                        register_code(csmi::kControllerStatus, "CSMI_SAS_GET_CNTLR_STATUS") &&
                        register_code(csmi::kPhyInfo, "CSMI_SAS_GET_PHY_INFO") &&
                        register_code(csmi::kSmpPassthru, "CSMI_SAS_SMP_PASSTHRU") &&
                        register_code(csmi::kSspPassthru, "CSMI_SAS_SSP_PASSTHRU") &&
                        register_code(csmi::kPause, "CSMI_SAS_PAUSE_ACTIVITY") &&
                        register_code(csmi::kResume, "CSMI_SAS_RESUME_ACTIVITY");

// ---- JSON ----

CsmiPhy phy_from_json(const json& j, const std::string& w) {
    json_fields::check_keys(j, {"attached", "attached_phy", "port", "link_rate", "virtual_phy"}, w);
    CsmiPhy p;
    json_fields::text(j, "attached", &p.attached, w);
    json_fields::num(j, "attached_phy", &p.attached_phy, w);
    json_fields::num(j, "port", &p.port, w);
    json_fields::num(j, "link_rate", &p.link_rate, w);
    json_fields::flag(j, "virtual_phy", &p.virtual_phy, w);
    return p;
}

json phy_to_json(const CsmiPhy& p) {
    return {{"attached", p.attached},
            {"attached_phy", p.attached_phy},
            {"port", p.port},
            {"link_rate", p.link_rate},
            {"virtual_phy", p.virtual_phy}};
}

std::vector<CsmiPhy> phys_from_json(const json& j, const std::string& w) {
    std::vector<CsmiPhy> out;
    if (!j.contains("phys"))
        return out;
    if (!j.at("phys").is_array())
        json_fields::fail(w + ".phys", "expected an array");
    for (std::size_t i = 0; i < j.at("phys").size(); ++i)
        out.push_back(phy_from_json(j.at("phys")[i], w + ".phys[" + std::to_string(i) + "]"));
    return out;
}

json phys_to_json(const std::vector<CsmiPhy>& phys) {
    json out = json::array();
    for (const auto& p : phys)
        out.push_back(phy_to_json(p));
    return out;
}

template <class F> void each(const json& j, const char* key, const std::string& where, F f) {
    if (!j.contains(key))
        return;
    const json& list = j.at(key);
    if (!list.is_array())
        json_fields::fail(where + "." + key, "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i)
        f(list[i], where + "." + key + "[" + std::to_string(i) + "]");
}

} // namespace

CsmiEndDevice& CsmiNode::add_end_device(std::string sas_address, std::uint8_t peripheral_type) {
    CsmiEndDevice d;
    d.sas_address = std::move(sas_address);
    d.peripheral_type = peripheral_type;
    end_devices.push_back(d);
    return end_devices.back();
}

CsmiExpander& CsmiNode::add_expander(std::string sas_address, std::uint8_t device_type) {
    CsmiExpander e;
    e.sas_address = std::move(sas_address);
    e.device_type = device_type;
    expanders.push_back(e);
    return expanders.back();
}

CsmiNode& CsmiNode::phy(std::string attached, std::uint8_t attached_phy) {
    CsmiPhy p;
    p.attached = std::move(attached);
    p.attached_phy = attached_phy;
    p.port = static_cast<std::uint8_t>(phys.size());
    phys.push_back(p);
    return *this;
}

CsmiNode& add_csmi_node(Scenario& s, CsmiNode n) {
    s.csmi_nodes.push_back(std::move(n));
    return s.csmi_nodes.back();
}

std::array<std::uint8_t, 8> sas_address_bytes(const std::string& hex) {
    auto a = parse_address(hex);
    if (!a)
        throw std::runtime_error("not a SAS address (16 hex digits): \"" + hex + "\"");
    return *a;
}

std::vector<std::uint8_t> csmi_inquiry(const CsmiEndDevice& d) {
    std::vector<std::uint8_t> r(116, 0);
    r[0] = d.peripheral_type & 0x1F;
    r[2] = 0x06;
    r[3] = 0x02;
    r[4] = static_cast<std::uint8_t>(r.size() - 5);
    put_text(&r[8], 8, d.vendor, ' ');
    put_text(&r[16], 16, d.product, ' ');
    put_text(&r[32], 4, d.revision, ' ');
    return r;
}

std::vector<std::uint8_t> csmi_smp_response(const CsmiNode& n, const CsmiExpander& e,
                                            const std::vector<std::uint8_t>& request) {
    const std::uint8_t function = request.size() > 1 ? request[1] : 0;
    std::vector<std::uint8_t> r = {0x41, function, 0x00, 0x00};
    if (request.empty() || request[0] != 0x40) {
        r[2] = 0x02; // SMP function failed
        return r;
    }
    const SasAddress own = parse_address(e.sas_address).value_or(SasAddress{});
    if (function == 0x00) { // REPORT GENERAL
        r.resize(4 + 28, 0);
        r[3] = 7;
        const unsigned phys = e.reported_phys.value_or(static_cast<unsigned>(e.phys.size()));
        r[9] = static_cast<std::uint8_t>(std::min(phys, 255u));
        return r;
    }
    if (function == 0x10) { // DISCOVER
        const std::uint8_t phy = request.size() > 9 ? request[9] : 0;
        if (phy >= e.phys.size()) {
            r[2] = 0x10; // phy does not exist
            return r;
        }
        const CsmiPhy& ph = e.phys[phy];
        r.resize(4 + 56, 0);
        r[3] = 14;
        r[9] = phy;
        std::copy(own.begin(), own.end(), r.begin() + 16);
        if (auto at = lookup(n, ph.attached)) {
            r[12] = at->device_type & 0x70;
            r[13] = ph.link_rate & 0x0F;
            r[14] = at->initiator;
            r[15] = at->target;
            const SasAddress a = *parse_address(ph.attached);
            std::copy(a.begin(), a.end(), r.begin() + 24);
            r[32] = ph.attached_phy;
        }
        if (ph.virtual_phy)
            r[43] |= 0x80;
        return r;
    }
    r[2] = 0x01; // unknown SMP function
    return r;
}

CsmiNode csmi_node_from_json(const json& j, const std::string& where) {
    using namespace json_fields;
    check_keys(j,
               {"node", "major", "minor", "sas_address", "phys", "reported_phys", "end_devices", "expanders",
                "driver", "config", "status", "offline_reason", "return_codes", "faults"},
               where);
    CsmiNode n;
    text(j, "node", &n.node, where);
    num(j, "major", &n.major, where);
    num(j, "minor", &n.minor, where);
    text(j, "sas_address", &n.sas_address, where);
    n.phys = phys_from_json(j, where);
    opt_num(j, "reported_phys", &n.reported_phys, where);
    each(j, "end_devices", where, [&](const json& e, const std::string& w) {
        check_keys(e,
                   {"sas_address", "device_type", "initiator_protocol", "target_protocol", "peripheral_type",
                    "vendor", "product", "revision"},
                   w);
        CsmiEndDevice d;
        text(e, "sas_address", &d.sas_address, w);
        num(e, "device_type", &d.device_type, w);
        num(e, "initiator_protocol", &d.initiator_protocol, w);
        num(e, "target_protocol", &d.target_protocol, w);
        num(e, "peripheral_type", &d.peripheral_type, w);
        text(e, "vendor", &d.vendor, w);
        text(e, "product", &d.product, w);
        text(e, "revision", &d.revision, w);
        n.end_devices.push_back(d);
    });
    each(j, "expanders", where, [&](const json& e, const std::string& w) {
        check_keys(e, {"sas_address", "device_type", "phys", "reported_phys"}, w);
        CsmiExpander x;
        text(e, "sas_address", &x.sas_address, w);
        num(e, "device_type", &x.device_type, w);
        x.phys = phys_from_json(e, w);
        opt_num(e, "reported_phys", &x.reported_phys, w);
        n.expanders.push_back(x);
    });
    if (j.contains("driver")) {
        const json& d = j.at("driver");
        const std::string w = where + ".driver";
        check_keys(
            d, {"name", "description", "major", "minor", "build", "release", "csmi_major", "csmi_minor"}, w);
        text(d, "name", &n.driver.name, w);
        text(d, "description", &n.driver.description, w);
        num(d, "major", &n.driver.major, w);
        num(d, "minor", &n.driver.minor, w);
        num(d, "build", &n.driver.build, w);
        num(d, "release", &n.driver.release, w);
        num(d, "csmi_major", &n.driver.csmi_major, w);
        num(d, "csmi_minor", &n.driver.csmi_minor, w);
    }
    if (j.contains("config")) {
        const json& c = j.at("config");
        const std::string w = where + ".config";
        CsmiControllerConfig& k = n.config;
        check_keys(c, {"base_io_address",
                       "base_memory_low",
                       "base_memory_high",
                       "board_id",
                       "slot",
                       "controller_class",
                       "io_bus_type",
                       "pci_bus",
                       "pci_device",
                       "pci_function",
                       "serial_number",
                       "major",
                       "minor",
                       "build",
                       "release",
                       "bios_major",
                       "bios_minor",
                       "bios_build",
                       "bios_release",
                       "flags",
                       "rrom_major",
                       "rrom_minor",
                       "rrom_build",
                       "rrom_release"},
                   w);
        num(c, "base_io_address", &k.base_io_address, w);
        num(c, "base_memory_low", &k.base_memory_low, w);
        num(c, "base_memory_high", &k.base_memory_high, w);
        num(c, "board_id", &k.board_id, w);
        num(c, "slot", &k.slot, w);
        num(c, "controller_class", &k.controller_class, w);
        num(c, "io_bus_type", &k.io_bus_type, w);
        num(c, "pci_bus", &k.pci_bus, w);
        num(c, "pci_device", &k.pci_device, w);
        num(c, "pci_function", &k.pci_function, w);
        text(c, "serial_number", &k.serial_number, w);
        num(c, "major", &k.major, w);
        num(c, "minor", &k.minor, w);
        num(c, "build", &k.build, w);
        num(c, "release", &k.release, w);
        num(c, "bios_major", &k.bios_major, w);
        num(c, "bios_minor", &k.bios_minor, w);
        num(c, "bios_build", &k.bios_build, w);
        num(c, "bios_release", &k.bios_release, w);
        num(c, "flags", &k.flags, w);
        num(c, "rrom_major", &k.rrom_major, w);
        num(c, "rrom_minor", &k.rrom_minor, w);
        num(c, "rrom_build", &k.rrom_build, w);
        num(c, "rrom_release", &k.rrom_release, w);
    }
    num(j, "status", &n.status, where);
    num(j, "offline_reason", &n.offline_reason, where);
    if (j.contains("return_codes")) {
        const json& rc = j.at("return_codes");
        if (!rc.is_object())
            fail(where + ".return_codes", "expected an object of request codes");
        for (const auto& item : rc.items()) {
            const std::string w = where + ".return_codes." + item.key();
            const std::uint64_t code = parse_number(json(item.key()), w);
            const std::uint64_t value = parse_number(item.value(), w);
            if (value > 0xFFFFFFFFu)
                fail(w, "out of range");
            n.return_codes[static_cast<unsigned long>(code)] = static_cast<std::uint32_t>(value);
        }
    }
    n.faults = faults_from_json(j, "faults", where);
    return n;
}

json csmi_node_to_json(const CsmiNode& n) {
    json j{{"node", n.node},
           {"major", n.major},
           {"minor", n.minor},
           {"sas_address", n.sas_address},
           {"phys", phys_to_json(n.phys)},
           {"reported_phys", n.reported_phys ? json(*n.reported_phys) : json(nullptr)},
           {"status", n.status},
           {"offline_reason", n.offline_reason},
           {"faults", json_fields::faults_to_json(n.faults)}};
    json ends = json::array();
    for (const auto& d : n.end_devices) {
        ends.push_back({{"sas_address", d.sas_address},
                        {"device_type", d.device_type},
                        {"initiator_protocol", d.initiator_protocol},
                        {"target_protocol", d.target_protocol},
                        {"peripheral_type", d.peripheral_type},
                        {"vendor", d.vendor},
                        {"product", d.product},
                        {"revision", d.revision}});
    }
    j["end_devices"] = ends;
    json exps = json::array();
    for (const auto& e : n.expanders) {
        exps.push_back({{"sas_address", e.sas_address},
                        {"device_type", e.device_type},
                        {"phys", phys_to_json(e.phys)},
                        {"reported_phys", e.reported_phys ? json(*e.reported_phys) : json(nullptr)}});
    }
    j["expanders"] = exps;
    j["driver"] = {{"name", n.driver.name},
                   {"description", n.driver.description},
                   {"major", n.driver.major},
                   {"minor", n.driver.minor},
                   {"build", n.driver.build},
                   {"release", n.driver.release},
                   {"csmi_major", n.driver.csmi_major},
                   {"csmi_minor", n.driver.csmi_minor}};
    const CsmiControllerConfig& c = n.config;
    j["config"] = {{"base_io_address", c.base_io_address},
                   {"base_memory_low", c.base_memory_low},
                   {"base_memory_high", c.base_memory_high},
                   {"board_id", c.board_id},
                   {"slot", c.slot},
                   {"controller_class", c.controller_class},
                   {"io_bus_type", c.io_bus_type},
                   {"pci_bus", c.pci_bus},
                   {"pci_device", c.pci_device},
                   {"pci_function", c.pci_function},
                   {"serial_number", c.serial_number},
                   {"major", c.major},
                   {"minor", c.minor},
                   {"build", c.build},
                   {"release", c.release},
                   {"bios_major", c.bios_major},
                   {"bios_minor", c.bios_minor},
                   {"bios_build", c.bios_build},
                   {"bios_release", c.bios_release},
                   {"flags", c.flags},
                   {"rrom_major", c.rrom_major},
                   {"rrom_minor", c.rrom_minor},
                   {"rrom_build", c.rrom_build},
                   {"rrom_release", c.rrom_release}};
    json rc = json::object();
    for (const auto& [code, value] : n.return_codes)
        rc[hex_number(code)] = value;
    j["return_codes"] = rc;
    return j;
}

void build_csmi_tree(const std::string& staging, const Scenario& s) {
    staging::Tree t(staging);
    for (const auto& n : s.csmi_nodes) {
        if (n.node.rfind("/dev/", 0) != 0)
            throw SetupError("CSMI node outside /dev: " + n.node);
        staging::check_relative(n.node.substr(1), "CSMI node");
        if (n.phys.size() > csmi::phy::kMaxPhys)
            throw SetupError("CSMI node " + n.node + ": more than 32 phys");
        auto check = [&](const std::string& a, const std::string& what) {
            if (!parse_address(a))
                throw SetupError("CSMI node " + n.node + ": " + what + " \"" + a + "\" is not a SAS address");
        };
        check(n.sas_address, "SAS address");
        for (const auto& d : n.end_devices)
            check(d.sas_address, "end device");
        for (const auto& e : n.expanders)
            check(e.sas_address, "expander");
        auto check_phys = [&](const std::vector<CsmiPhy>& phys) {
            for (const auto& p : phys) {
                if (!p.attached.empty() && !lookup(n, p.attached))
                    throw SetupError("CSMI node " + n.node + ": a phy is attached to unknown \"" +
                                     p.attached + "\"");
            }
        };
        check_phys(n.phys);
        for (const auto& e : n.expanders)
            check_phys(e.phys);
        t.node(n.node, 'c', n.major, n.minor);
    }
}

void attach_csmi_nodes(const Scenario& s) {
    auto& reg = Registry::instance();
    for (const auto& n : s.csmi_nodes) {
        auto c = std::make_shared<Controller>();
        c->driver = "csmi";
        c->protocol = Protocol::kNone;
        c->faults = n.faults;
        c->firmware = std::make_shared<CsmiFirmware>(std::make_shared<const CsmiNode>(n));
        reg.add(std::make_shared<Device>(n.node, DriverKind::kCsmi, 'c', n.major, n.minor, std::move(c)));
    }
}

} // namespace qvsim
