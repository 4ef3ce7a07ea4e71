#include "qvsim/scenario.h"

#include "default_scenario.h"

#include "common/json_fields.h"
#include "qvsim/fw_state.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace qvsim {

namespace {

using nlohmann::json;

using json_fields::check_keys;
using json_fields::fail;

template <typename T> T get(const json& j, const char* key, const std::string& where) {
    try {
        return j.at(key).get<T>();
    } catch (const json::exception& e) {
        fail(where + "." + key, e.what());
    }
}

template <typename T> void get_if(const json& j, const char* key, T* out, const std::string& where) {
    if (j.contains(key))
        *out = get<T>(j, key, where);
}

template <typename T>
void get_opt(const json& j, const char* key, std::optional<T>* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (j.at(key).is_null()) {
        out->reset();
    } else {
        *out = get<T>(j, key, where);
    }
}

unsigned long parse_request(const json& v, const std::string& where) {
    if (v.is_number_unsigned() || v.is_string()) {
        try {
            return json_fields::parse_number(v, where);
        } catch (const std::runtime_error&) {
        }
    }
    fail(where, "request must be a number or a number in text");
}

Protocol parse_protocol(const std::string& s, const std::string& where) {
    if (s == "ciss")
        return Protocol::kCiss;
    if (s == "pqi")
        return Protocol::kPqi;
    if (s == "sis")
        return Protocol::kSis;
    if (s == "none")
        return Protocol::kNone;
    fail(where, "unknown protocol \"" + s + "\"");
}

Fault fault_from_json(const json& j, const std::string& where) {
    check_keys(j,
               {"request", "on_open", "opcode", "nth", "count", "errno", "scsi_status", "command_status",
                "sense", "data_in_length", "reported_sense_length", "reported_data_length", "patch_offset",
                "patch_bytes"},
               where);
    Fault f;
    if (j.contains("request"))
        f.request = parse_request(j.at("request"), where + ".request");
    get_if(j, "on_open", &f.on_open, where);
    get_opt(j, "opcode", &f.opcode, where);
    get_if(j, "nth", &f.nth, where);
    get_if(j, "count", &f.count, where);
    get_if(j, "errno", &f.err, where);
    get_opt(j, "scsi_status", &f.scsi_status, where);
    get_opt(j, "command_status", &f.command_status, where);
    get_opt(j, "sense", &f.sense, where);
    get_opt(j, "data_in_length", &f.data_in_length, where);
    get_opt(j, "reported_sense_length", &f.reported_sense_length, where);
    get_opt(j, "reported_data_length", &f.reported_data_length, where);
    get_opt(j, "patch_offset", &f.patch_offset, where);
    get_if(j, "patch_bytes", &f.patch_bytes, where);
    if (f.nth == 0)
        fail(where + ".nth", "counts from 1");
    return f;
}

json fault_to_json(const Fault& f) {
    json j{
        {"request", f.request}, {"on_open", f.on_open}, {"nth", f.nth}, {"count", f.count}, {"errno", f.err}};
    if (f.opcode)
        j["opcode"] = *f.opcode;
    if (f.scsi_status)
        j["scsi_status"] = *f.scsi_status;
    if (f.command_status)
        j["command_status"] = *f.command_status;
    if (f.sense)
        j["sense"] = *f.sense;
    if (f.data_in_length)
        j["data_in_length"] = *f.data_in_length;
    if (f.reported_sense_length)
        j["reported_sense_length"] = *f.reported_sense_length;
    if (f.reported_data_length)
        j["reported_data_length"] = *f.reported_data_length;
    if (f.patch_offset) {
        j["patch_offset"] = *f.patch_offset;
        j["patch_bytes"] = f.patch_bytes;
    }
    return j;
}

Controller controller_from_json(const json& j, const std::string& where) {
    check_keys(j,
               {"driver", "protocol", "pci_address", "pci_parent", "class", "bound", "hosts", "proc_name",
                "scsi", "board_id", "sis", "faults", "extra", "fw"},
               where);
    Controller c;
    c.driver = get<std::string>(j, "driver", where);
    if (c.driver.empty() || c.driver.find('/') != std::string::npos)
        fail(where, "bad driver name");
    if (j.contains("protocol")) {
        c.protocol = parse_protocol(get<std::string>(j, "protocol", where), where + ".protocol");
    }
    get_if(j, "pci_address", &c.pci_address, where);
    get_if(j, "pci_parent", &c.pci_parent, where);
    get_opt(j, "class", &c.class_file, where);
    get_if(j, "bound", &c.bound, where);
    get_if(j, "hosts", &c.hosts, where);
    get_opt(j, "proc_name", &c.proc_name, where);
    get_if(j, "board_id", &c.board_id, where);
    if (j.contains("scsi")) {
        const json& list = j.at("scsi");
        if (!list.is_array())
            fail(where + ".scsi", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = where + ".scsi[" + std::to_string(i) + "]";
            const json& s = list[i];
            check_keys(s, {"sg", "minor", "type", "host_index", "channel", "target", "lun", "routed"}, w);
            ScsiDevice d;
            get_if(s, "minor", &d.minor, w);
            d.sg = "sg" + std::to_string(d.minor);
            get_if(s, "sg", &d.sg, w);
            get_if(s, "type", &d.type, w);
            get_if(s, "host_index", &d.host_index, w);
            get_if(s, "channel", &d.channel, w);
            get_if(s, "target", &d.target, w);
            get_if(s, "lun", &d.lun, w);
            get_if(s, "routed", &d.routed, w);
            c.scsi.push_back(d);
        }
    }
    if (j.contains("sis")) {
        std::string w = where + ".sis";
        const json& s = j.at("sis");
        check_keys(s,
                   {"supported_options", "virtual_bus", "virtual_target", "virtual_lun", "adapter_type_text",
                    "serial_number", "minor", "node"},
                   w);
        get_if(s, "supported_options", &c.sis.supported_options, w);
        get_if(s, "virtual_bus", &c.sis.virtual_bus, w);
        get_if(s, "virtual_target", &c.sis.virtual_target, w);
        get_if(s, "virtual_lun", &c.sis.virtual_lun, w);
        get_if(s, "adapter_type_text", &c.sis.adapter_type_text, w);
        get_if(s, "serial_number", &c.sis.serial_number, w);
        get_opt(s, "minor", &c.sis.minor, w);
        get_opt(s, "node", &c.sis.node, w);
    }
    if (j.contains("faults")) {
        const json& list = j.at("faults");
        if (!list.is_array())
            fail(where + ".faults", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            c.faults.push_back(fault_from_json(list[i], where + ".faults[" + std::to_string(i) + "]"));
        }
    }
    if (j.contains("extra"))
        c.extra = j.at("extra");
    // Firmware state: the controller answers BMIC reads and REPORT LUNS from it (fw_state.h).
    if (j.contains("fw"))
        c.firmware = std::make_shared<FwController>(FirmwareState::from_json(j.at("fw"), where + ".fw"));
    return c;
}

json controller_to_json(const Controller& c) {
    json j{{"driver", c.driver},
           {"protocol", protocol_name(c.protocol)},
           {"pci_address", c.pci_address},
           {"pci_parent", c.pci_parent},
           {"class", c.class_file ? json(*c.class_file) : json(nullptr)},
           {"bound", c.bound},
           {"hosts", c.hosts},
           {"board_id", c.board_id},
           {"extra", c.extra}};
    if (c.proc_name)
        j["proc_name"] = *c.proc_name;
    if (auto* fw = dynamic_cast<const FwController*>(c.firmware.get()))
        j["fw"] = fw->fw_state().to_json();
    json scsi = json::array();
    for (const auto& d : c.scsi) {
        scsi.push_back({{"sg", d.sg},
                        {"minor", d.minor},
                        {"type", d.type},
                        {"host_index", d.host_index},
                        {"channel", d.channel},
                        {"target", d.target},
                        {"lun", d.lun},
                        {"routed", d.routed}});
    }
    j["scsi"] = scsi;
    json sis{{"supported_options", c.sis.supported_options}, {"virtual_bus", c.sis.virtual_bus},
             {"virtual_target", c.sis.virtual_target},       {"virtual_lun", c.sis.virtual_lun},
             {"adapter_type_text", c.sis.adapter_type_text}, {"serial_number", c.sis.serial_number}};
    if (c.sis.minor)
        sis["minor"] = *c.sis.minor;
    if (c.sis.node)
        sis["node"] = *c.sis.node;
    j["sis"] = sis;
    json faults = json::array();
    for (const auto& f : c.faults)
        faults.push_back(fault_to_json(f));
    j["faults"] = faults;
    return j;
}

constexpr const char* kDefaultScenario = kQvsimDefaultScenario;

} // namespace

Fault scenario_fault_from_json(const json& j, const std::string& where) {
    return fault_from_json(j, where);
}

json scenario_fault_to_json(const Fault& f) {
    return fault_to_json(f);
}

const char* protocol_name(Protocol p) {
    switch (p) {
        case Protocol::kCiss:
            return "ciss";
        case Protocol::kPqi:
            return "pqi";
        case Protocol::kSis:
            return "sis";
        case Protocol::kNone:
            break;
    }
    return "none";
}

Controller& Controller::scsi_generic(unsigned minor, std::string type) {
    ScsiDevice d;
    d.sg = "sg" + std::to_string(minor);
    d.minor = minor;
    d.type = std::move(type);
    scsi.push_back(d);
    return *this;
}

std::string Controller::sysfs_path() const {
    return "/sys/devices/" + pci_parent + "/" + pci_address;
}

Controller& Scenario::add(Controller c) {
    controllers.push_back(std::move(c));
    return controllers.back();
}

Controller& Scenario::add_ciss(std::string driver, std::string pci, unsigned host, unsigned sg_minor) {
    Controller c;
    c.driver = std::move(driver);
    c.protocol = Protocol::kCiss;
    c.pci_address = std::move(pci);
    c.host(host).scsi_generic(sg_minor);
    return add(std::move(c));
}

Controller& Scenario::add_pqi(std::string driver, std::string pci, unsigned host, unsigned sg_minor) {
    Controller& c = add_ciss(std::move(driver), std::move(pci), host, sg_minor);
    c.protocol = Protocol::kPqi;
    return c;
}

Controller& Scenario::add_sis(std::string driver, std::string pci, unsigned host) {
    Controller c;
    c.driver = std::move(driver);
    c.protocol = Protocol::kSis;
    c.pci_address = std::move(pci);
    c.host(host);
    if (!sis_major)
        sis_major = kDefaultSisMajor;
    return add(std::move(c));
}

std::string Scenario::proc_devices_text() const {
    if (proc_devices)
        return *proc_devices;
    std::vector<std::pair<unsigned, std::string>> chars = {
        {1, "mem"},       {4, "/dev/vc/0"}, {4, "tty"}, {4, "ttyS"},  {5, "/dev/tty"}, {5, "/dev/console"},
        {5, "/dev/ptmx"}, {10, "misc"},     {21, "sg"}, {128, "ptm"}, {136, "pts"}};
    if (sis_major)
        chars.emplace_back(*sis_major, "xovraid");
    std::stable_sort(chars.begin(), chars.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out = "Character devices:\n";
    char line[64];
    for (const auto& [major, name] : chars) {
        std::snprintf(line, sizeof line, "%3u %s\n", major, name.c_str());
        out += line;
    }
    out += "\nBlock devices:\n  7 loop\n  8 sd\n 11 sr\n 65 sd\n253 device-mapper\n259 blkext\n";
    return out;
}

unsigned Scenario::sis_minor(std::size_t index) const {
    const Controller& c = controllers.at(index);
    if (c.sis.minor)
        return *c.sis.minor;
    unsigned n = 0;
    for (std::size_t i = 0; i < index; ++i) {
        if (controllers[i].protocol == Protocol::kSis)
            ++n;
    }
    return n;
}

std::string Scenario::sis_node(std::size_t index) const {
    const Controller& c = controllers.at(index);
    if (c.sis.node)
        return *c.sis.node;
    return "/dev/xov" + std::to_string(sis_minor(index));
}

Scenario Scenario::from_json(const json& j) {
    check_keys(j,
               {"controllers", "sis_major", "proc_devices", "fstab", "nodes", "empty_drivers", "mounts",
                "extra", "block_devices", "csmi_nodes"},
               "top level");
    Scenario s;
    if (j.contains("controllers")) {
        const json& list = j.at("controllers");
        if (!list.is_array())
            fail("controllers", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            s.add(controller_from_json(list[i], "controllers[" + std::to_string(i) + "]"));
        }
    }
    bool any_sis = std::any_of(s.controllers.begin(), s.controllers.end(),
                               [](const Controller& c) { return c.protocol == Protocol::kSis; });
    if (any_sis)
        s.sis_major = kDefaultSisMajor;
    get_opt(j, "sis_major", &s.sis_major, "top level");
    get_opt(j, "proc_devices", &s.proc_devices, "top level");
    get_if(j, "fstab", &s.fstab, "top level");
    get_if(j, "empty_drivers", &s.empty_drivers, "top level");
    if (j.contains("nodes")) {
        const json& list = j.at("nodes");
        if (!list.is_array())
            fail("nodes", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = "nodes[" + std::to_string(i) + "]";
            check_keys(list[i], {"path", "type", "major", "minor", "mode"}, w);
            DevNode n;
            n.path = get<std::string>(list[i], "path", w);
            std::string type = "c";
            get_if(list[i], "type", &type, w);
            if (type != "c" && type != "b")
                fail(w + ".type", "must be \"c\" or \"b\"");
            n.type = type[0];
            get_if(list[i], "major", &n.major, w);
            get_if(list[i], "minor", &n.minor, w);
            get_if(list[i], "mode", &n.mode, w);
            s.nodes.push_back(n);
        }
    }
    if (j.contains("mounts")) {
        const json& list = j.at("mounts");
        if (!list.is_array())
            fail("mounts", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = "mounts[" + std::to_string(i) + "]";
            check_keys(list[i], {"source", "name"}, w);
            s.mounts.push_back(
                {get<std::string>(list[i], "source", w), get<std::string>(list[i], "name", w)});
        }
    }
    if (j.contains("extra"))
        s.extra = j.at("extra");
    for (const char* key : {"block_devices", "csmi_nodes"}) {
        if (!j.contains(key))
            continue;
        const json& list = j.at(key);
        if (!list.is_array())
            fail(key, "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = std::string(key) + "[" + std::to_string(i) + "]";
            if (key[0] == 'b')
                s.block_devices.push_back(block_device_from_json(list[i], w));
            else
                s.csmi_nodes.push_back(csmi_node_from_json(list[i], w));
        }
    }
    return s;
}

Scenario Scenario::load(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("scenario: cannot open " + path);
    json j;
    try {
        j = json::parse(in);
    } catch (const json::exception& e) {
        throw std::runtime_error("scenario: " + path + ": " + e.what());
    }
    return from_json(j);
}

const char* Scenario::builtin_default_json() {
    return kDefaultScenario;
}

Scenario Scenario::builtin_default() {
    return from_json(json::parse(kDefaultScenario));
}

json Scenario::to_json() const {
    json j;
    json list = json::array();
    for (const auto& c : controllers)
        list.push_back(controller_to_json(c));
    j["controllers"] = list;
    j["sis_major"] = sis_major ? json(*sis_major) : json(nullptr);
    if (proc_devices)
        j["proc_devices"] = *proc_devices;
    j["fstab"] = fstab;
    json nodes_json = json::array();
    for (const auto& n : nodes) {
        nodes_json.push_back({{"path", n.path},
                              {"type", std::string(1, n.type)},
                              {"major", n.major},
                              {"minor", n.minor},
                              {"mode", n.mode}});
    }
    j["nodes"] = nodes_json;
    j["empty_drivers"] = empty_drivers;
    json mounts_json = json::array();
    for (const auto& m : mounts)
        mounts_json.push_back({{"source", m.source}, {"name", m.name}});
    j["mounts"] = mounts_json;
    j["extra"] = extra;
    json blocks = json::array();
    for (const auto& b : block_devices)
        blocks.push_back(block_device_to_json(b));
    j["block_devices"] = blocks;
    json csmi = json::array();
    for (const auto& n : csmi_nodes)
        csmi.push_back(csmi_node_to_json(n));
    j["csmi_nodes"] = csmi;
    return j;
}

} // namespace qvsim
