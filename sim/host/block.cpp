// Host block volumes of the simulated host: sysfs entries, block nodes, the SCSI target behind
// SG_IO and the block ioctls.
#include "qvsim/block.h"

#include <linux/fs.h>
#include <linux/hdreg.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "common/json_fields.h"
#include "host/staging_tree.h"
#include "qvsim/device.h"
#include "qvsim/scenario.h"

namespace qvsim {

static_assert(HDIO_GET_IDENTITY == 0x30D);
static_assert(HDIO_GETGEO == 0x301);
static_assert(BLKSSZGET == 0x1268);
static_assert(BLKPBSZGET == 0x127B);
static_assert(sizeof(struct hd_driveid) == 512);
static_assert(offsetof(struct hd_driveid, serial_no) == 20);
static_assert(offsetof(struct hd_driveid, fw_rev) == 46);
static_assert(offsetof(struct hd_driveid, model) == 54);
static_assert(offsetof(struct hd_driveid, words104_125) == 208); // word 108 at byte 216

namespace {

using json_fields::json;

bool ends_in_digit(const std::string& s) {
    return !s.empty() && std::isdigit(static_cast<unsigned char>(s.back()));
}

std::string node_of(const std::string& sysfs_name) {
    std::string n = sysfs_name;
    if (auto bang = n.find('!'); bang != std::string::npos)
        n[bang] = '/';
    return "/dev/" + n;
}

std::uint64_t partition_size(const BlockDevice& d, const BlockPartition& p) {
    if (p.size != 0)
        return p.size;
    return p.start < d.size ? d.size - p.start : 0;
}

// The volume's answers on one of its nodes (the disk, or one of its partitions).
class BlockFirmware : public Firmware {
public:
    BlockFirmware(std::shared_ptr<const BlockDevice> d, std::optional<BlockPartition> part)
        : dev_(std::move(d)), part_(std::move(part)) {}

    const BlockDevice& volume() const { return *dev_; }
    const std::optional<BlockPartition>& partition() const { return part_; }

    Reply execute(const Command& cmd) override {
        if (dev_->firmware)
            return dev_->firmware->execute(cmd);
        if (cmd.cdb.empty() || cmd.cdb[0] != 0x12)
            return check_condition(0x05, 0x20, 0x00);
        if (cmd.cdb.size() < 6)
            return check_condition(0x05, 0x24, 0x00);
        const std::size_t alloc = static_cast<std::size_t>((cmd.cdb[3] << 8) | cmd.cdb[4]);
        Reply r;
        if (cmd.cdb[1] & 0x01) {
            auto page = block_vpd_page(*dev_, cmd.cdb[2]);
            if (!page)
                return check_condition(0x05, 0x24, 0x00);
            r.data_in = std::move(*page);
        } else {
            if (cmd.cdb[2] != 0)
                return check_condition(0x05, 0x24, 0x00);
            r.data_in = block_standard_inquiry(*dev_);
        }
        if (r.data_in.size() > alloc)
            r.data_in.resize(alloc);
        return r;
    }

private:
    std::shared_ptr<const BlockDevice> dev_;
    std::optional<BlockPartition> part_;
};

const BlockFirmware* block_of(Device& dev) {
    return dynamic_cast<const BlockFirmware*>(&dev.firmware());
}

// ---- the block ioctls ----

nlohmann::json no_fields(const void*) {
    return nlohmann::json::object();
}

int serve_identity(Device& dev, void* arg, RequestRecord& rec) {
    const BlockFirmware* b = block_of(dev);
    if (b == nullptr || !b->volume().identity)
        return ENOTTY;
    const auto id = block_identity(*b->volume().identity);
    std::memcpy(arg, id.data(), id.size());
    rec.reply = {{"serial", b->volume().identity->serial}, {"model", b->volume().identity->model}};
    return 0;
}

int serve_geometry(Device& dev, void* arg, RequestRecord& rec) {
    const BlockFirmware* b = block_of(dev);
    if (b == nullptr)
        return ENOTTY;
    const BlockDevice& d = b->volume();
    hd_geometry g{};
    g.heads = d.heads;
    g.sectors = d.sectors;
    if (d.cylinders) {
        g.cylinders = *d.cylinders;
    } else {
        const std::uint64_t per_cylinder = std::uint64_t{d.heads} * d.sectors;
        const std::uint64_t c = per_cylinder ? d.size / per_cylinder : 0;
        g.cylinders = static_cast<unsigned short>(std::min<std::uint64_t>(c, 0xFFFF));
    }
    g.start = b->partition() ? static_cast<unsigned long>(b->partition()->start) : 0;
    std::memcpy(arg, &g, sizeof g);
    rec.reply = {{"heads", g.heads}, {"sectors", g.sectors}, {"cylinders", g.cylinders}, {"start", g.start}};
    return 0;
}

int serve_logical_block(Device& dev, void* arg, RequestRecord& rec) {
    const BlockFirmware* b = block_of(dev);
    if (b == nullptr || !b->volume().logical_block_size)
        return ENOTTY;
    const int v = static_cast<int>(*b->volume().logical_block_size);
    std::memcpy(arg, &v, sizeof v);
    rec.reply = {{"size", v}};
    return 0;
}

int serve_physical_block(Device& dev, void* arg, RequestRecord& rec) {
    const BlockFirmware* b = block_of(dev);
    if (b == nullptr || !b->volume().physical_block_size)
        return ENOTTY;
    const unsigned v = *b->volume().physical_block_size;
    std::memcpy(arg, &v, sizeof v);
    rec.reply = {{"size", v}};
    return 0;
}

const bool registered =
    register_endpoint(DriverKind::kBlock, HDIO_GET_IDENTITY,
                      {"HDIO_GET_IDENTITY", no_fields, serve_identity}) &&
    register_endpoint(DriverKind::kBlock, HDIO_GETGEO, {"HDIO_GETGEO", no_fields, serve_geometry}) &&
    register_endpoint(DriverKind::kBlock, BLKSSZGET, {"BLKSSZGET", no_fields, serve_logical_block}) &&
    register_endpoint(DriverKind::kBlock, BLKPBSZGET, {"BLKPBSZGET", no_fields, serve_physical_block});

const Controller* controller_at(const Scenario& s, const std::string& pci) {
    for (const auto& c : s.controllers) {
        if (c.pci_address == pci)
            return &c;
    }
    return nullptr;
}

std::string num_text(std::uint64_t v) {
    return std::to_string(v) + "\n";
}

} // namespace

std::string BlockDevice::node() const {
    return node_of(name);
}

std::string BlockDevice::partition_name(const BlockPartition& p) const {
    if (p.name)
        return *p.name;
    return name + (ends_in_digit(name) ? "p" : "") + std::to_string(p.number);
}

std::string BlockDevice::partition_node(const BlockPartition& p) const {
    return node_of(partition_name(p));
}

BlockDevice& add_block_device(Scenario& s, BlockDevice d) {
    s.block_devices.push_back(std::move(d));
    return s.block_devices.back();
}

BlockDevice& add_volume(Scenario& s, const std::string& controller_pci, std::string name, unsigned minor) {
    BlockDevice d;
    d.name = std::move(name);
    d.minor = minor;
    d.controller = controller_pci;
    // LUN 0 is where the controller's own SCSI device usually sits.
    d.lun = 1 + static_cast<unsigned>(
                    std::count_if(s.block_devices.begin(), s.block_devices.end(),
                                  [&](const BlockDevice& b) { return b.controller == controller_pci; }));
    return add_block_device(s, std::move(d));
}

std::vector<std::uint8_t> block_standard_inquiry(const BlockDevice& d) {
    std::vector<std::uint8_t> r(96, 0);
    int type = 0;
    try {
        type = std::stoi(d.scsi_type);
    } catch (const std::exception&) {
    }
    r[0] = static_cast<std::uint8_t>(type & 0x1F);
    r[1] = d.removable == "1" ? 0x80 : 0x00;
    r[2] = 0x06; // SPC-4
    r[3] = 0x02;
    r[4] = static_cast<std::uint8_t>(r.size() - 5);
    put_text(&r[8], 8, d.vendor.value_or(""), ' ');
    put_text(&r[16], 16, d.model.value_or(""), ' ');
    put_text(&r[32], 4, "1.00", ' ');
    return r;
}

std::optional<std::vector<std::uint8_t>> block_vpd_page(const BlockDevice& d, std::uint8_t page) {
    if (auto raw = d.vpd_raw.find(page); raw != d.vpd_raw.end())
        return raw->second;
    if (std::find(d.vpd_pages.begin(), d.vpd_pages.end(), page) == d.vpd_pages.end())
        return std::nullopt;
    std::vector<std::uint8_t> r = {0x00, page, 0x00, 0x00};
    switch (page) {
        case 0x00:
            r.insert(r.end(), d.vpd_pages.begin(), d.vpd_pages.end());
            break;
        case 0x80:
            if (d.serial)
                r.insert(r.end(), d.serial->begin(), d.serial->end());
            break;
        case 0x83: {
            std::vector<std::uint8_t> id;
            if (d.naa && json_fields::hex_to_bytes(*d.naa, &id)) {
                r.insert(r.end(), {0x01, 0x03, 0x00, static_cast<std::uint8_t>(id.size())});
                r.insert(r.end(), id.begin(), id.end());
            }
            break;
        }
        default:
            break;
    }
    const std::size_t len = std::min<std::size_t>(r.size() - 4, 0xFFFF);
    r[2] = static_cast<std::uint8_t>(len >> 8);
    r[3] = static_cast<std::uint8_t>(len);
    return r;
}

std::array<std::uint8_t, 512> block_identity(const AtaIdentity& id) {
    std::array<std::uint8_t, 512> b{};
    put_text(&b[offsetof(hd_driveid, serial_no)], 20, id.serial, ' ');
    put_text(&b[offsetof(hd_driveid, fw_rev)], 8, id.firmware, ' ');
    put_text(&b[offsetof(hd_driveid, model)], 40, id.model, ' ');
    std::vector<std::uint8_t> w;
    if (id.wwn && json_fields::hex_to_bytes(*id.wwn, &w)) {
        // Words 108..111; each word is a CPU (little-endian) word whose high byte came first.
        for (std::size_t i = 0; i + 1 < w.size() && i < 8; i += 2) {
            b[216 + i] = w[i + 1];
            b[216 + i + 1] = w[i];
        }
    }
    return b;
}

BlockDevice block_device_from_json(const json& j, const std::string& where) {
    using namespace json_fields;
    check_keys(j,
               {"name",
                "major",
                "minor",
                "size",
                "removable",
                "controller",
                "host_index",
                "parent",
                "host",
                "channel",
                "target",
                "lun",
                "scsi_device",
                "legacy_directory",
                "vendor",
                "model",
                "unique_id",
                "scsi_type",
                "vpd_pages",
                "serial",
                "naa",
                "vpd_raw",
                "identity",
                "heads",
                "sectors",
                "cylinders",
                "logical_block_size",
                "physical_block_size",
                "queue_logical_block_size",
                "queue_physical_block_size",
                "partitions",
                "faults"},
               where);
    BlockDevice d;
    text(j, "name", &d.name, where);
    num(j, "major", &d.major, where);
    num(j, "minor", &d.minor, where);
    num(j, "size", &d.size, where);
    text(j, "removable", &d.removable, where);
    opt_text(j, "controller", &d.controller, where);
    num(j, "host_index", &d.host_index, where);
    text(j, "parent", &d.parent, where);
    num(j, "host", &d.host, where);
    num(j, "channel", &d.channel, where);
    num(j, "target", &d.target, where);
    num(j, "lun", &d.lun, where);
    flag(j, "scsi_device", &d.scsi_device, where);
    flag(j, "legacy_directory", &d.legacy_directory, where);
    opt_text(j, "vendor", &d.vendor, where);
    opt_text(j, "model", &d.model, where);
    opt_text(j, "unique_id", &d.unique_id, where);
    text(j, "scsi_type", &d.scsi_type, where);
    if (j.contains("vpd_pages"))
        d.vpd_pages = parse_bytes(j.at("vpd_pages"), where + ".vpd_pages");
    opt_text(j, "serial", &d.serial, where);
    opt_text(j, "naa", &d.naa, where);
    if (d.naa) {
        const auto id = parse_bytes(*d.naa, where + ".naa");
        if (id.size() != 8 && id.size() != 16)
            fail(where + ".naa", "expected 16 or 32 hex digits");
    }
    if (j.contains("vpd_raw")) {
        const json& raw = j.at("vpd_raw");
        if (!raw.is_object())
            fail(where + ".vpd_raw", "expected an object of pages");
        for (const auto& item : raw.items()) {
            const std::string w = where + ".vpd_raw." + item.key();
            const std::uint64_t page = parse_number(json(item.key()), w);
            if (page > 0xFF)
                fail(w, "page out of range");
            d.vpd_raw[static_cast<std::uint8_t>(page)] = parse_bytes(item.value(), w);
        }
    }
    if (j.contains("identity")) {
        const json& id = j.at("identity");
        if (id.is_null()) {
            d.identity.reset();
        } else {
            const std::string w = where + ".identity";
            check_keys(id, {"serial", "firmware", "model", "wwn"}, w);
            AtaIdentity a;
            text(id, "serial", &a.serial, w);
            text(id, "firmware", &a.firmware, w);
            text(id, "model", &a.model, w);
            opt_text(id, "wwn", &a.wwn, w);
            if (a.wwn && parse_bytes(*a.wwn, w + ".wwn").size() != 8)
                fail(w + ".wwn", "expected 16 hex digits");
            d.identity = a;
        }
    }
    num(j, "heads", &d.heads, where);
    num(j, "sectors", &d.sectors, where);
    opt_num(j, "cylinders", &d.cylinders, where);
    opt_num(j, "logical_block_size", &d.logical_block_size, where);
    opt_num(j, "physical_block_size", &d.physical_block_size, where);
    opt_num(j, "queue_logical_block_size", &d.queue_logical_block_size, where);
    opt_num(j, "queue_physical_block_size", &d.queue_physical_block_size, where);
    if (j.contains("partitions")) {
        const json& list = j.at("partitions");
        if (!list.is_array())
            fail(where + ".partitions", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string w = where + ".partitions[" + std::to_string(i) + "]";
            check_keys(list[i], {"number", "start", "size", "name"}, w);
            BlockPartition p;
            num(list[i], "number", &p.number, w);
            num(list[i], "start", &p.start, w);
            num(list[i], "size", &p.size, w);
            opt_text(list[i], "name", &p.name, w);
            d.partitions.push_back(p);
        }
    }
    d.faults = faults_from_json(j, "faults", where);
    return d;
}

json block_device_to_json(const BlockDevice& d) {
    auto opt = [](const auto& o) { return o ? json(*o) : json(nullptr); };
    json j{{"name", d.name},
           {"major", d.major},
           {"minor", d.minor},
           {"size", d.size},
           {"removable", d.removable},
           {"controller", opt(d.controller)},
           {"host_index", d.host_index},
           {"parent", d.parent},
           {"host", d.host},
           {"channel", d.channel},
           {"target", d.target},
           {"lun", d.lun},
           {"scsi_device", d.scsi_device},
           {"legacy_directory", d.legacy_directory},
           {"vendor", opt(d.vendor)},
           {"model", opt(d.model)},
           {"unique_id", opt(d.unique_id)},
           {"scsi_type", d.scsi_type},
           {"vpd_pages", d.vpd_pages},
           {"serial", opt(d.serial)},
           {"naa", opt(d.naa)},
           {"heads", d.heads},
           {"sectors", d.sectors},
           {"cylinders", opt(d.cylinders)},
           {"logical_block_size", opt(d.logical_block_size)},
           {"physical_block_size", opt(d.physical_block_size)},
           {"queue_logical_block_size", opt(d.queue_logical_block_size)},
           {"queue_physical_block_size", opt(d.queue_physical_block_size)},
           {"faults", json_fields::faults_to_json(d.faults)}};
    json raw = json::object();
    for (const auto& [page, bytes] : d.vpd_raw) {
        raw[hex_number(page, 2)] = hex_bytes(bytes);
    }
    j["vpd_raw"] = raw;
    if (d.identity) {
        j["identity"] = {{"serial", d.identity->serial},
                         {"firmware", d.identity->firmware},
                         {"model", d.identity->model},
                         {"wwn", opt(d.identity->wwn)}};
    } else {
        j["identity"] = nullptr;
    }
    json parts = json::array();
    for (const auto& p : d.partitions)
        parts.push_back({{"number", p.number}, {"start", p.start}, {"size", p.size}, {"name", opt(p.name)}});
    j["partitions"] = parts;
    return j;
}

void build_block_tree(const std::string& staging, const Scenario& s) {
    staging::Tree t(staging);
    for (const auto& d : s.block_devices) {
        staging::check_component(d.name, "block device name");
        const std::string node = d.node();
        staging::check_relative(node.substr(1), "block node");
        for (const auto& p : d.partitions) {
            staging::check_component(d.partition_name(p), "partition name");
            staging::check_relative(d.partition_node(p).substr(1), "partition node");
        }
        if (t.exists("/sys/block/" + d.name))
            throw SetupError("two block devices named " + d.name);
        std::vector<std::uint8_t> bytes;
        if (d.naa && (!json_fields::hex_to_bytes(*d.naa, &bytes) || (bytes.size() != 8 && bytes.size() != 16)))
            throw SetupError("block device " + d.name + ": naa is not 16 or 32 hex digits");
        if (d.identity && d.identity->wwn &&
            (!json_fields::hex_to_bytes(*d.identity->wwn, &bytes) || bytes.size() != 8))
            throw SetupError("block device " + d.name + ": wwn is not 16 hex digits");

        // The SCSI device directory, unless the volume has none.
        std::string sdev;
        if (d.scsi_device) {
            std::string host_dir;
            unsigned host = d.host;
            if (d.controller) {
                const Controller* c = controller_at(s, *d.controller);
                if (c == nullptr)
                    throw SetupError("block device " + d.name + ": no controller at " + *d.controller);
                if (d.host_index >= c->hosts.size())
                    throw SetupError("block device " + d.name + " names no host of " + *d.controller);
                host = c->hosts[d.host_index];
                host_dir = c->sysfs_path() + "/host" + std::to_string(host);
                for (const auto& sd : c->scsi) {
                    if (sd.host_index == d.host_index && sd.channel == d.channel && sd.target == d.target &&
                        sd.lun == d.lun)
                        throw SetupError("block device " + d.name + " at the address of " + sd.sg);
                }
            } else {
                staging::check_relative(d.parent, "block device parent");
                host_dir = "/sys/devices/" + d.parent + "/host" + std::to_string(host);
            }
            const std::string tgt =
                std::to_string(host) + ":" + std::to_string(d.channel) + ":" + std::to_string(d.target);
            sdev = host_dir + "/target" + tgt + "/" + tgt + ":" + std::to_string(d.lun);
            if (t.exists(sdev + "/block"))
                throw SetupError("two block devices at " + sdev);
            t.mkdirs(sdev);
            t.file(sdev + "/type", d.scsi_type + "\n");
            if (d.vendor)
                t.file(sdev + "/vendor", *d.vendor + "\n");
            if (d.model)
                t.file(sdev + "/model", *d.model + "\n");
            if (d.unique_id)
                t.file(sdev + "/unique_id", *d.unique_id + "\n");
        }

        // The block directory: below the SCSI device, or a real /sys/block entry (old sysfs).
        std::string bdir;
        if (d.legacy_directory)
            bdir = "/sys/block/" + d.name;
        else if (d.scsi_device)
            bdir = sdev + "/block/" + d.name;
        else
            bdir = "/sys/devices/virtual/block/" + d.name;
        t.mkdirs(bdir);
        t.file(bdir + "/dev", std::to_string(d.major) + ":" + std::to_string(d.minor) + "\n");
        t.file(bdir + "/size", num_text(d.size));
        t.file(bdir + "/removable", d.removable + "\n");
        t.file(bdir + "/ro", "0\n");
        if (d.queue_logical_block_size)
            t.file(bdir + "/queue/logical_block_size", num_text(*d.queue_logical_block_size));
        if (d.queue_physical_block_size)
            t.file(bdir + "/queue/physical_block_size", num_text(*d.queue_physical_block_size));
        if (d.scsi_device)
            t.link(bdir + "/device", sdev);
        if (!d.legacy_directory)
            t.link("/sys/block/" + d.name, bdir);
        t.node(node, 'b', d.major, d.minor);

        for (const auto& p : d.partitions) {
            const std::string pdir = bdir + "/" + d.partition_name(p);
            t.mkdirs(pdir);
            t.file(pdir + "/dev", std::to_string(d.major) + ":" + std::to_string(d.minor + p.number) + "\n");
            t.file(pdir + "/partition", num_text(p.number));
            t.file(pdir + "/start", num_text(p.start));
            t.file(pdir + "/size", num_text(partition_size(d, p)));
            t.node(d.partition_node(p), 'b', d.major, d.minor + p.number);
        }
    }
}

void attach_block_devices(const Scenario& s) {
    auto& reg = Registry::instance();
    for (const auto& d : s.block_devices) {
        auto vol = std::make_shared<const BlockDevice>(d);
        auto make = [&](std::optional<BlockPartition> part) {
            auto c = std::make_shared<Controller>();
            c->driver = "sd";
            c->protocol = Protocol::kNone;
            c->faults = d.faults;
            c->firmware = std::make_shared<BlockFirmware>(vol, part);
            const std::string node = part ? d.partition_node(*part) : d.node();
            const unsigned minor = part ? d.minor + part->number : d.minor;
            reg.add(std::make_shared<Device>(node, DriverKind::kBlock, 'b', d.major, minor, std::move(c)));
        };
        make(std::nullopt);
        for (const auto& p : d.partitions)
            make(p);
    }
}

} // namespace qvsim
