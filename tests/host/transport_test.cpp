// The platform library's execute functions over the simulated drivers: what each request
// looks like once the kernel driver has decoded it, and what the caller gets back.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "ppavl_commands.h"
#include "qvsim/controller_fw.h"
#include "qvsim/gtest.h"
#include "qvsim/script.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qvsim::Direction;
using qvsim::Reply;
using qvsim::Scenario;
using BMIC = std::remove_pointer_t<PBMICRequest>;
using SCSI = std::remove_pointer_t<PSCSIRequest>;
using ATA = std::remove_pointer_t<PATARequest>;
using SMP = std::remove_pointer_t<PSMPRequest>;
using IO = std::remove_pointer_t<PIORequest>;

constexpr std::uint16_t kCiss = 0, kSis = 1, kPqi = 2, kNativeScsi = 4;
constexpr std::uint8_t kAccepts = 1, kPhysical = 2, kLogical = 4;

// A descriptor blob: total length, then (id, length, data) entries.
class Descriptor {
public:
    Descriptor(const std::string& node, std::uint16_t protocol, const Bytes& address, std::uint16_t type) {
        blob_ = {0, 0};
        add(0x01, Bytes(node.begin(), node.end()));
        add(0x02, {static_cast<std::uint8_t>(protocol), static_cast<std::uint8_t>(protocol >> 8)});
        add(0x03, address);
        add(0x05, {static_cast<std::uint8_t>(type), 0});
        add(0x06, {0xFF, 0xFF});
    }
    DeviceDescriptor get() { return blob_.data(); }

private:
    void add(std::uint8_t id, const Bytes& data) {
        blob_.push_back(id);
        blob_.push_back(static_cast<std::uint8_t>(data.size()));
        blob_.push_back(static_cast<std::uint8_t>(data.size() >> 8));
        blob_.insert(blob_.end(), data.begin(), data.end());
        blob_[0] = static_cast<std::uint8_t>(blob_.size());
        blob_[1] = static_cast<std::uint8_t>(blob_.size() >> 8);
    }
    Bytes blob_;
};

// Protocol address: SIS bus, target, LUN, flags, then the 8-byte CISS LUN address.
Bytes address(std::uint8_t flags, const Bytes& lun = Bytes(8, 0), std::uint8_t bus = 0,
              std::uint8_t target = 1, std::uint8_t sis_lun = 0) {
    Bytes a(16, 0);
    a[0] = bus;
    a[1] = target;
    a[2] = sis_lun;
    a[3] = flags;
    std::copy(lun.begin(), lun.end(), a.begin() + 4);
    return a;
}

const Bytes kDriveLun = {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const Bytes kVolumeLun = {0x01, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00};
const Bytes kSisVolumeLun = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
const Bytes kSisRemoteDriveLun = {0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}; // byte 3: tunnelled
const Bytes kSisLocalDriveLun = {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};  // bus 0, target 1

std::string hex(const Bytes& b) {
    return qvsim::hex_bytes(b.data(), b.size());
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i);
    return b;
}

class ProductTransport : public qvsim::SimHostTest {
public: // the case tables reach the targets through the fixture
    std::shared_ptr<qvsim::ControllerFirmware> ciss_fw = std::make_shared<qvsim::ControllerFirmware>();
    std::shared_ptr<qvsim::ControllerFirmware> pqi_fw = std::make_shared<qvsim::ControllerFirmware>();
    std::shared_ptr<qvsim::ControllerFirmware> sis_fw = std::make_shared<qvsim::ControllerFirmware>();

    Descriptor ciss_ctl{"/dev/sg1", kCiss, address(kAccepts), 1};
    Descriptor ciss_drive{"/dev/sg1", kCiss, address(kAccepts | kPhysical, kDriveLun), 2};
    Descriptor pqi_volume{"/dev/sg2", kPqi, address(kAccepts | kLogical, kVolumeLun), 9};
    Descriptor pqi_expander{"/dev/sg2", kPqi, address(kAccepts | kPhysical, kDriveLun), 5};
    Descriptor block{"/dev/sg1", kNativeScsi, address(kAccepts), 11};
    Descriptor sis_ctl{"/dev/xov0", kSis, address(kAccepts), 1};
    Descriptor sis_volume{"/dev/xov0", kSis, address(kAccepts | kLogical, kSisVolumeLun), 9};
    Descriptor sis_remote{"/dev/xov0", kSis, address(kAccepts | kPhysical, kSisRemoteDriveLun), 2};
    Descriptor sis_local{"/dev/xov0", kSis, address(kAccepts | kPhysical, kSisLocalDriveLun), 2};
    Descriptor sis_expander{"/dev/xov0", kSis, address(kAccepts | kPhysical, kSisLocalDriveLun, 0, 2, 0), 5};

    void SetUp() override {
        Scenario s;
        s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).firmware = ciss_fw;
        s.add_pqi("veskdq", "0000:5e:00.0", 3, 2).firmware = pqi_fw;
        s.add_sis("xovraid", "0000:86:00.0", 4).firmware = sis_fw;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        ASSERT_EQ(::mknod("/dev/xov0", S_IFCHR, makedev(245, 0)), 0) << std::strerror(errno);
    }

    // The driver requests (not the opens) the nodes saw since the last call.
    std::vector<qvsim::RequestRecord> take_ioctls() {
        std::vector<qvsim::RequestRecord> out;
        for (auto& r : host().requests())
            if (r.op == "ioctl")
                out.push_back(r);
        host().clear_requests();
        return out;
    }
};

EnCommandStatus bmic_read(DeviceDescriptor d, std::uint8_t opcode, Bytes& buf,
                          std::uint32_t override_count = 0, std::uint32_t timeout = 0) {
    BMIC r{};
    r.transfer_type = eDATA_TRANSFER_IN;
    r.timeout_sec = timeout;
    r.bmic_opcode = opcode;
    r.io_buffer = buf.data();
    r.io_buffer_size = static_cast<VK_UINT32>(buf.size());
    r.block_count_override = override_count;
    return PN_ExecuteBMICCommand(d, &r);
}

EnCommandStatus scsi(DeviceDescriptor d, Bytes cdb, EnTransferType t, Bytes& buf, std::uint32_t timeout = 0,
                     Bytes* sense = nullptr, SCSI* out = nullptr) {
    SCSI r{};
    r.transfer_type = t;
    r.timeout_sec = timeout;
    r.cdb = cdb.data();
    r.cdb_size = static_cast<VK_UINT8>(cdb.size());
    r.io_buffer = buf.empty() ? nullptr : buf.data();
    r.io_buffer_size = static_cast<VK_UINT32>(buf.size());
    if (sense) {
        r.sense_data = sense->data();
        r.sense_data_size = static_cast<VK_UINT32>(sense->size());
    }
    const EnCommandStatus st = PN_ExecuteSCSICommand(d, &r);
    if (out)
        *out = r;
    return st;
}

EnCommandStatus block_write(DeviceDescriptor d, VK_UINT64 lba, Bytes& buf) {
    IO r{};
    r.transfer_type = eDATA_TRANSFER_OUT;
    r.lba_offset = lba;
    r.io_buffer = buf.data();
    r.io_buffer_size = static_cast<VK_UINT32>(buf.size());
    r.block_size_in_bytes = 512;
    return PN_ExecuteIORequest(d, &r);
}

EnCommandStatus smp_discover(DeviceDescriptor d, Bytes& response, SMP* out = nullptr) {
    Bytes request = {0, 0, 0, 0, 0, 7, 0, 0};
    SMP r{};
    r.phy_identifier = 3;
    r.port_identifier = 0xFF;
    for (int i = 0; i < 8; ++i)
        r.sas_address[i] = static_cast<VK_UINT8>(0x50 + i);
    r.header_frame_type = 0x40;
    r.header_function = 0x10;
    r.header_allocation_response_size = 0x0F;
    r.header_request_length = 2;
    r.additional_request_data = request.data();
    r.additional_request_data_size = static_cast<VK_UINT32>(request.size());
    r.additional_response_data = response.data();
    r.additional_response_data_size = static_cast<VK_UINT32>(response.size());
    const EnCommandStatus st = PN_ExecuteSMPCommand(d, &r);
    if (out)
        *out = r;
    return st;
}

// One request of the product and the driver request it must become, field by field.
struct WireCase {
    const char* what;
    std::function<EnCommandStatus(ProductTransport&)> run;
    const char* node;
    const char* request;
    nlohmann::json expect; // fields of the decoded record
};

TEST_F(ProductTransport, RequestsReachTheDriverByteExact) {
    const std::string zero_lun = "00 00 00 00 00 00 00 00";
    std::vector<WireCase> cases = {
        {"BMIC read 0x11 of 1024 bytes, time limit 0",
         [](auto& t) {
             Bytes b(1024);
             return bmic_read(t.ciss_ctl.get(), 0x11, b);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"cdb", "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00"},
          {"cdb_len", 16},
          {"direction", 2},
          {"attribute", 4},
          {"type", 0},
          {"timeout", 30},
          {"buf_size", 1024},
          {"lun", zero_lun}}},
        {"override 1 with 512 bytes, time limit 3600",
         [](auto& t) {
             Bytes b(512);
             return bmic_read(t.ciss_ctl.get(), 0x11, b, 1, 3600);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"cdb", "26 00 00 00 00 00 11 00 01 00 00 00 00 00 00 00"}, {"timeout", 600}, {"buf_size", 512}}},
        {"70,000 bytes with an override go in the big record",
         [](auto& t) {
             Bytes b(70000);
             return bmic_read(t.ciss_ctl.get(), 0x11, b, 2);
         },
         "/dev/sg1",
         "CCISS_BIG_PASSTHRU",
         {{"cdb", "26 00 00 00 00 00 11 00 02 00 00 00 00 00 00 00"}, {"buf_size", 70000}}},
        {"65,535 bytes fit the ordinary record",
         [](auto& t) {
             Bytes b(65535);
             return scsi(t.ciss_ctl.get(), {0x3C, 2, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"buf_size", 65535}, {"cdb", "3C 02 00 00 00 00 00 FF FF 00"}, {"cdb_len", 10}}},
        {"65,536 bytes do not fit the ordinary record's size field",
         [](auto& t) {
             Bytes b(65536);
             return scsi(t.ciss_ctl.get(), {0x3C, 2, 0, 0, 0, 0, 1, 0, 0, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/sg1",
         "CCISS_BIG_PASSTHRU",
         {{"buf_size", 65536}}},
        {"128,000 bytes: big record, chunk 5120",
         [](auto& t) {
             Bytes b(128000);
             return scsi(t.ciss_ctl.get(), {0x3C, 2, 0, 0, 0, 0, 1, 0xF4, 0, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/sg1",
         "CCISS_BIG_PASSTHRU",
         {{"buf_size", 128000}, {"malloc_size", 5120}, {"direction", 2}, {"timeout", 30}}},
        {"data in of 0 bytes carries no direction",
         [](auto& t) {
             Bytes none;
             return scsi(t.ciss_ctl.get(), {0, 0, 0, 0, 0, 0}, eDATA_TRANSFER_IN, none);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"direction", 0}, {"buf_size", 0}, {"cdb", "00 00 00 00 00 00"}}},
        {"BMIC write carries its data out",
         [](auto&) {
             Bytes b = {1, 2, 3, 4};
             BMIC r{};
             r.transfer_type = eDATA_TRANSFER_OUT;
             r.bmic_opcode = 0x52;
             r.bmic_detail = 0x01020304;
             r.LUN.lun_number = 0x0201;
             r.bmic_additional_detail = 0xA1A2A3A4A5A6ull;
             r.io_buffer = b.data();
             r.io_buffer_size = 4;
             Descriptor d{"/dev/sg1", kCiss, address(kAccepts), 1};
             return PN_ExecuteBMICCommand(d.get(), &r);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"cdb", "27 01 01 02 03 04 52 00 04 02 A1 A2 A3 A4 A5 A6"},
          {"direction", 1},
          {"data_out", "01 02 03 04"}}},
        {"ATA IDENTIFY DEVICE to a drive",
         [](auto& t) {
             Bytes b(512);
             ATA r{};
             r.transfer_type = eDATA_TRANSFER_IN;
             r.u.Registers.current_command = 0xEC;
             r.io_buffer = b.data();
             r.io_buffer_size = 512;
             return PN_ExecuteATACommand(t.ciss_drive.get(), &r);
         },
         "/dev/sg1",
         "CCISS_PASSTHRU",
         {{"cdb", "85 09 2E 00 00 00 01 00 00 00 00 00 00 00 EC 00"},
          {"lun", "05 00 00 00 00 00 00 00"},
          {"direction", 2},
          {"buf_size", 512}}},
        {"PQI logical-drive write of 8 blocks at 0x1_0000_0002",
         [](auto& t) {
             Bytes b(4096);
             return block_write(t.pqi_volume.get(), 0x100000002ull, b);
         },
         "/dev/sg2",
         "CCISS_PASSTHRU",
         {{"cdb", "8A 00 00 00 00 01 00 00 00 02 00 00 00 08 00 00"},
          {"lun", "01 00 00 40 00 00 00 00"},
          {"direction", 1},
          {"timeout", 30},
          {"buf_size", 4096}}},
        {"SIS logical-drive write goes to the controller as BMIC 0x30",
         [](auto& t) {
             Bytes b(4096);
             return block_write(t.sis_volume.get(), 0x100000002ull, b);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "27 03 00 00 00 02 30 00 08 00 00 00 00 01 00 00"},
          {"Bus", 0},
          {"TargetId", 1},
          {"Lun", 0},
          {"SrbFlags", 0x80},
          {"DataTransferLength", 68},
          {"SgCount", 1},
          {"SgByteCount", 4096}}},
        {"SIS: 0xC2 goes out as 0xC4",
         [](auto& t) {
             Bytes b(64);
             return scsi(t.sis_ctl.get(), {0xC2, 0, 0, 0, 0, 0, 0, 0, 0, 64, 0, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "C4 00 00 00 00 00 00 00 00 40 00 00"}, {"SrbFlags", 0x40}, {"CdbLength", 12}}},
        {"SIS request without data sends the 56-byte SRB",
         [](auto& t) {
             Bytes none;
             return scsi(t.sis_ctl.get(), {0, 0, 0, 0, 0, 0}, eDATA_TRANSFER_NONE, none);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"DataTransferLength", 56}, {"SrbFlags", 0}, {"Function", 0}, {"TimeOutValue", 0}}},
        {"SIS drive at the controller's own bus and target goes directly",
         [](auto& t) {
             Bytes b(512);
             return scsi(t.sis_local.get(), {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "28 00 00 00 00 00 00 00 01 00"}, {"SgByteCount", 512}, {"TargetId", 1}}},
        {"SIS drive elsewhere is tunnelled: 884-byte frame",
         [](auto& t) {
             Bytes b(512);
             return scsi(t.sis_remote.get(), {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, eDATA_TRANSFER_IN, b);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "27 00 00 00 00 18 68 03 74 00 00 00 00 00 00 00"},
          {"SrbFlags", 0xC0},
          {"SgByteCount", 884},
          {"TargetId", 1},
          {"csmi",
           {{"kind", "ssp"},
            {"control_code", 0x18},
            {"frame_size", 884},
            {"header",
             {{"header_length", 28},
              {"signature", "00 00 00 00 00 00 00 00"},
              {"timeout", 60},
              {"control_code", 24},
              {"return_code", 0},
              {"length", 856}}},
            {"phy", 0},
            {"port", 0},
            {"sas_address", zero_lun},
            {"lun", "05 00 00 01 00 00 00 00"},
            {"cdb_length", 10},
            {"cdb", "28 00 00 00 00 00 00 00 01 00"},
            {"flags", 1},
            {"data_length", 512}}}}},
        {"tunnelled write carries its data in the frame, direction out",
         [](auto& t) {
             Bytes b = {9, 8, 7, 6};
             return scsi(t.sis_remote.get(), {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, eDATA_TRANSFER_OUT, b);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "27 00 00 00 00 18 68 01 78 00 00 00 00 00 00 00"},
          {"SrbFlags", 0x80},
          {"SgByteCount", 376}}},
        {"SMP to a SIS expander",
         [](auto& t) {
             Bytes resp(64);
             return smp_discover(t.sis_expander.get(), resp);
         },
         "/dev/xov0",
         "SIS_SEND_RAW_SRB",
         {{"cdb", "27 00 00 00 00 17 68 08 2C 00 00 00 00 00 00 00"},
          {"SrbFlags", 0xC0},
          {"SgByteCount", 2092},
          {"TargetId", 2},
          {"csmi",
           {{"kind", "smp"},
            {"control_code", 0x17},
            {"frame_size", 2092},
            {"header",
             {{"header_length", 28},
              {"signature", "00 00 00 00 00 00 00 00"},
              {"timeout", 60},
              {"control_code", 23},
              {"return_code", 0},
              {"length", 2064}}},
            {"phy", 3},
            {"port", 0xFF},
            {"sas_address", "50 51 52 53 54 55 56 57"},
            {"request_length", 8},
            {"request_header", "40 10 0F 02"},
            {"request_head", "00 00 00 00 00 07 00 00"}}}}},
        {"SMP to a PQI expander",
         [](auto& t) {
             Bytes resp(64);
             return smp_discover(t.pqi_expander.get(), resp);
         },
         "/dev/sg2",
         "CCISS_PASSTHRU",
         {{"cdb", "27 00 00 00 00 17 68 08 2C 00 00 00 00 00 00 00"},
          {"direction", 3},
          {"timeout", 30},
          {"buf_size", 2092},
          {"lun", "05 00 00 00 00 00 00 00"}}},
        {"SG_IO to a host block device, time limit 10",
         [](auto& t) {
             Bytes b(96);
             return scsi(t.block.get(), {0x12, 0, 0, 0, 96, 0}, eDATA_TRANSFER_IN, b, 10);
         },
         "/dev/sg1",
         "SG_IO",
         {{"interface_id", 'S'},
          {"dxfer_direction", -3},
          {"cmd_len", 6},
          {"cdb", "12 00 00 00 60 00"},
          {"dxfer_len", 96},
          {"timeout_ms", 10001},
          {"mx_sb_len", 32},
          {"iovec_count", 0}}},
        {"SG_IO announces at most 255 bytes of sense room",
         [](auto& t) {
             Bytes none, sense(300);
             return scsi(t.block.get(), {0, 0, 0, 0, 0, 0}, eDATA_TRANSFER_NONE, none, 0, &sense);
         },
         "/dev/sg1",
         "SG_IO",
         {{"dxfer_direction", -1}, {"mx_sb_len", 255}, {"timeout_ms", 1}}},
        {"register new disks to a CISS controller",
         [](auto& t) { return PN_ExecuteRegNewDiskMessage(t.ciss_ctl.get()); }, "/dev/sg1", "CCISS_REGNEWD",
         nlohmann::json::object()},
        {"SIS reset",
         [](auto& t) {
             return PN_SendResetControllerCommand(t.sis_ctl.get(), kResetControllerTypeDriverSoft);
         },
         "/dev/xov0",
         "SIS_RESET",
         {{"reset_type", 2}}},
    };

    take_ioctls();
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.run(*this), eCOMMAND_STATUS_OK);
        auto reqs = take_ioctls();
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(reqs[0].node, c.node);
        EXPECT_EQ(reqs[0].name, c.request);
        EXPECT_EQ(reqs[0].err, 0);
        for (auto it = c.expect.begin(); it != c.expect.end(); ++it)
            EXPECT_EQ(reqs[0].decoded[it.key()], it.value()) << it.key();
    }
}

TEST_F(ProductTransport, RequestsThatMustSendNothing) {
    struct Case {
        const char* what;
        std::function<EnCommandStatus(ProductTransport&)> run;
        EnCommandStatus status;
    };
    const Case cases[] = {
        {"register new disks to PQI", [](auto& t) { return PN_ExecuteRegNewDiskMessage(t.pqi_volume.get()); },
         eCOMMAND_STATUS_OK},
        {"register new disks to SIS", [](auto& t) { return PN_ExecuteRegNewDiskMessage(t.sis_ctl.get()); },
         eCOMMAND_STATUS_OK},
        {"BMIC of 70,000 bytes without override",
         [](auto& t) {
             Bytes b(70000);
             return bmic_read(t.ciss_ctl.get(), 0x11, b);
         },
         eCOMMAND_STATUS_FAILED},
        {"CDB longer than 16 bytes",
         [](auto& t) {
             Bytes b(16);
             return scsi(t.ciss_ctl.get(), Bytes(17, 0), eDATA_TRANSFER_IN, b);
         },
         eCOMMAND_STATUS_FAILED},
        {"SIS read without a buffer",
         [](auto& t) {
             Bytes none;
             return scsi(t.sis_ctl.get(), {0x12, 0, 0, 0, 36, 0}, eDATA_TRANSFER_IN, none);
         },
         eCOMMAND_STATUS_FAILED},
        {"block I/O to a controller",
         [](auto& t) {
             Bytes b(512);
             return block_write(t.ciss_ctl.get(), 0, b);
         },
         eCOMMAND_STATUS_FAILED},
        {"block I/O with block size 0",
         [](auto& t) {
             Bytes b(512);
             IO r{};
             r.transfer_type = eDATA_TRANSFER_IN;
             r.io_buffer = b.data();
             r.io_buffer_size = 512;
             return PN_ExecuteIORequest(t.pqi_volume.get(), &r);
         },
         eCOMMAND_STATUS_FAILED},
        {"an unknown protocol type",
         [](auto&) {
             Bytes b(16);
             Descriptor d{"/dev/sg1", 7, address(kAccepts), 1};
             return scsi(d.get(), {0x12, 0, 0, 0, 16, 0}, eDATA_TRANSFER_IN, b);
         },
         eCOMMAND_STATUS_FAILED},
        {"tunnelled command too large for the frame announcement",
         [](auto& t) {
             Bytes b(65535 - 372 + 1);
             return scsi(t.sis_remote.get(), {0x28, 0, 0, 0, 0, 0, 0, 0, 0x80, 0}, eDATA_TRANSFER_IN, b);
         },
         eCOMMAND_STATUS_FAILED},
    };
    take_ioctls();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.run(*this), c.status);
        EXPECT_TRUE(take_ioctls().empty());
    }
}

TEST_F(ProductTransport, CissSenseIsCutToTheRecordAndThenToTheCallersBuffer) {
    ciss_fw->on_bmic(qvsim::BmicDirection::kRead, 0x11,
                     [](auto&, const qvsim::Command&, const qvsim::BmicCdb&) {
                         Reply r;
                         r.scsi_status = 2;
                         r.command_status = 1;
                         r.sense = pattern(40, 0x70);
                         r.data_in = pattern(1024, 0);
                         return r;
                     });
    Bytes buf(1024, 0), sense(20, 0xCC);
    BMIC r{};
    r.transfer_type = eDATA_TRANSFER_IN;
    r.bmic_opcode = 0x11;
    r.io_buffer = buf.data();
    r.io_buffer_size = 1024;
    r.sense_data = sense.data();
    r.sense_data_size = 16;
    ASSERT_EQ(PN_ExecuteBMICCommand(ciss_ctl.get(), &r), eCOMMAND_STATUS_OK);
    EXPECT_EQ(r.scsi_status, 2);
    EXPECT_EQ(r.command_status, 1);
    EXPECT_EQ(r.valid_sense_data_size, 32u);
    EXPECT_EQ(Bytes(sense.begin(), sense.begin() + 16), pattern(16, 0x70));
    EXPECT_EQ(Bytes(sense.begin() + 16, sense.end()), Bytes(4, 0xCC));
    EXPECT_EQ(buf, pattern(1024, 0));
    EXPECT_EQ(r.low_level_status, 0);
}

TEST_F(ProductTransport, SgIoReportsTheFullStatusAndTheSenseTheKernelWrote) {
    ciss_fw->on_scsi(0x12,
                     [](auto&, const qvsim::Command&) { return qvsim::check_condition(0x05, 0x24, 0x00); });
    Bytes buf(36), sense(64, 0xCC);
    SCSI out{};
    ASSERT_EQ(scsi(block.get(), {0x12, 0, 0, 0, 36, 0}, eDATA_TRANSFER_IN, buf, 5, &sense, &out),
              eCOMMAND_STATUS_OK);
    EXPECT_EQ(out.scsi_status, 2) << "not the kernel's masked status";
    EXPECT_EQ(out.valid_sense_data_size, 18u) << "sb_len_wr, not the buffer size";
    EXPECT_EQ(sense[12], 0x24);
    EXPECT_EQ(sense[18], 0xCC);
}

TEST_F(ProductTransport, TunnelledCommandReportsItsOwnStatusSenseAndData) {
    qvsim::Command inner;
    sis_fw->on_scsi(0x28, [&](auto&, const qvsim::Command& c) {
        inner = c;
        Reply r = qvsim::check_condition(0x03, 0x11, 0x00);
        r.data_in = pattern(512, 0x21);
        return r;
    });
    Bytes buf(512, 0), sense(32, 0xCC);
    SCSI out{};
    ASSERT_EQ(
        scsi(sis_remote.get(), {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, eDATA_TRANSFER_IN, buf, 0, &sense, &out),
        eCOMMAND_STATUS_OK);
    EXPECT_EQ(inner.transport, "csmi-ssp");
    EXPECT_EQ(hex(Bytes(inner.lun_address.begin(), inner.lun_address.end())), hex(kSisRemoteDriveLun));
    EXPECT_EQ(out.low_level_status, 0);
    EXPECT_EQ(out.scsi_status, 2) << "the drive's CHECK CONDITION, not the carrier's GOOD";
    EXPECT_EQ(out.valid_sense_data_size, 18u);
    EXPECT_EQ(sense[2], 0x03);
    EXPECT_EQ(sense[12], 0x11);
    EXPECT_EQ(sense[18], 0xCC);
    EXPECT_EQ(buf, pattern(512, 0x21));
}

TEST_F(ProductTransport, SmpResponseComesBackFromTheFrame) {
    for (auto* fw : {sis_fw.get(), pqi_fw.get()}) {
        fw->on_smp(0x10, [](auto&, const qvsim::SmpRequest& req) {
            qvsim::SmpReply r;
            r.function = req.function;
            r.function_result = 0;
            r.response_length = 0x20;
            r.additional_response = pattern(2000, 0x11);
            return r;
        });
    }
    for (Descriptor* d : {&sis_expander, &pqi_expander}) {
        Bytes resp(2000, 0xCC);
        SMP out{};
        ASSERT_EQ(smp_discover(d->get(), resp, &out), eCOMMAND_STATUS_OK);
        EXPECT_EQ(out.low_level_status, 0);
        EXPECT_EQ(out.header_frame_type, 0x41);
        EXPECT_EQ(out.header_function, 0x10);
        EXPECT_EQ(out.header_function_result, 0);
        EXPECT_EQ(out.header_response_size, 0x20);
        EXPECT_EQ(Bytes(resp.begin(), resp.begin() + 1016), pattern(1016, 0x11));
        EXPECT_EQ(Bytes(resp.begin() + 1016, resp.end()), Bytes(2000 - 1016, 0xCC));
    }
}

TEST_F(ProductTransport, FailedOpenOrDriverRequestIsReportedWithItsErrno) {
    auto ciss = host().device("/dev/sg1");
    auto sis = host().device("/dev/xov0");
    ASSERT_TRUE(ciss && sis);
    struct Case {
        const char* what;
        std::shared_ptr<qvsim::Device> dev;
        qvsim::Fault fault;
        DeviceDescriptor target;
        bool ioctl_sent;
    };
    const Case cases[] = {
        {"open refused", ciss, {.on_open = true, .err = EACCES}, ciss_ctl.get(), false},
        {"pass-through refused", ciss, {.request = 0xC058420B, .err = EIO}, ciss_ctl.get(), true},
        {"SG_IO refused", ciss, {.request = 0x2285, .err = ENODEV}, block.get(), true},
        {"raw SRB refused", sis, {.request = 0x4204C, .err = EBUSY}, sis_ctl.get(), true},
    };
    take_ioctls();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.dev->add_fault(c.fault);
        Bytes buf(36);
        SCSI out{};
        EXPECT_EQ(scsi(c.target, {0x12, 0, 0, 0, 36, 0}, eDATA_TRANSFER_IN, buf, 0, nullptr, &out),
                  eCOMMAND_STATUS_FAILED);
        // The raw SRB reports its own code (2: the driver refused), the others the errno.
        const int want = c.dev == sis && c.ioctl_sent ? 2 : c.fault.err;
        EXPECT_EQ(out.low_level_status, want);
        EXPECT_EQ(take_ioctls().size(), c.ioctl_sent ? 1u : 0u);
    }
}

} // namespace
