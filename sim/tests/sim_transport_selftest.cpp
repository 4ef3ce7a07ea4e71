// Self-tests of the simulated pass-through endpoints: each caller's record is decoded with the
// kernel's own definition (or the SRB's byte table), the reply is written back within the room
// the record has, and the scripted and stateful firmwares answer what reaches them.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "qvsim/controller_fw.h"
#include "qvsim/gtest.h"
#include "qvsim/script.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qvsim::Direction;
using qvsim::Expectation;
using qvsim::Reply;
using qvsim::Scenario;
using qvsim::Script;

constexpr unsigned long kSendSrb = 0x4204C;
constexpr unsigned long kSisReset = 0x42170;

Bytes bmic(std::uint8_t opcode, std::uint16_t length, bool write = false) {
    Bytes c(16, 0);
    c[0] = write ? 0x27 : 0x26;
    c[6] = opcode;
    c[7] = static_cast<std::uint8_t>(length >> 8);
    c[8] = static_cast<std::uint8_t>(length);
    return c;
}

Bytes pattern(std::size_t n, std::uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(seed + i);
    return b;
}

Reply check_condition_with(std::size_t sense_length) {
    Reply r;
    r.scsi_status = 0x02;
    r.command_status = 0x0001;
    r.sense = pattern(sense_length, 0x70);
    return r;
}

std::string hex(const Bytes& b) {
    return qvsim::hex_bytes(b.data(), b.size());
}

// Opens the node, sends one request and closes it; 0 or the errno of the request.
int send(const char* node, unsigned long request, void* arg) {
    const int fd = ::open(node, O_RDWR);
    if (fd < 0)
        return errno;
    const int rc = ::ioctl(fd, request, arg);
    const int err = rc == 0 ? 0 : errno;
    ::close(fd);
    return err;
}

IOCTL_Command_struct passthru(const Bytes& cdb, unsigned direction, Bytes& buf, unsigned timeout = 30) {
    IOCTL_Command_struct io{};
    io.Request.CDBLen = static_cast<BYTE>(cdb.size());
    io.Request.Type.Type = TYPE_CMD;
    io.Request.Type.Attribute = ATTR_SIMPLE;
    io.Request.Type.Direction = direction & 3;
    io.Request.Timeout = static_cast<WORD>(timeout);
    std::memcpy(io.Request.CDB, cdb.data(), std::min<std::size_t>(cdb.size(), 16));
    io.buf_size = static_cast<WORD>(buf.size());
    io.buf = buf.empty() ? nullptr : buf.data();
    return io;
}

// A SIS SRB with room for its reply, laid out by the byte table: 32-bit fields, CDB at 36,
// scatter-gather count at 52 and its one entry at 56.
struct SrbBuffer {
    std::uint8_t bytes[68 + 52 + 16] = {};
    SrbBuffer(const Bytes& cdb, std::uint32_t flags, void* data, std::uint32_t size, std::uint32_t target) {
        std::memset(bytes, 0xEE, sizeof bytes);
        std::memset(bytes, 0, data ? 68 + 52 : 56 + 52);
        qvsim::put_le32(bytes + 8, target);
        qvsim::put_le32(bytes + 20, flags);
        qvsim::put_le32(bytes + 24, data ? 68 : 56);
        qvsim::put_le32(bytes + 32, static_cast<std::uint32_t>(cdb.size()));
        std::memcpy(bytes + 36, cdb.data(), cdb.size());
        if (data) {
            qvsim::put_le16(bytes + 52, 1);
            const auto address = reinterpret_cast<std::uintptr_t>(data);
            qvsim::put_le32(bytes + 56, static_cast<std::uint32_t>(address));
            qvsim::put_le32(bytes + 60, static_cast<std::uint32_t>(std::uint64_t{address} >> 32));
            qvsim::put_le32(bytes + 64, size);
        }
    }
    std::uint32_t result(std::size_t srb_size, std::size_t offset) const {
        return qvsim::get_le32(bytes + srb_size + offset);
    }
};

// A CSMI SSP frame for `cdb` with `data_length` bytes of data room, by the frame's byte table.
Bytes ssp_frame(const Bytes& cdb, std::uint32_t flags, std::uint32_t data_length, const Bytes& lun) {
    Bytes f(372 + data_length, 0);
    qvsim::put_le32(&f[0], 28);
    qvsim::put_le32(&f[12], 60);
    qvsim::put_le32(&f[16], 24);
    qvsim::put_le32(&f[24], static_cast<std::uint32_t>(f.size() - 28));
    std::memcpy(&f[40], lun.data(), 8);
    f[48] = static_cast<std::uint8_t>(cdb.size());
    std::memcpy(&f[52], cdb.data(), cdb.size());
    qvsim::put_le32(&f[68], flags);
    qvsim::put_le32(&f[96], data_length);
    return f;
}

qvsim::Command carrier(std::uint8_t control_code, const Bytes& frame) {
    qvsim::Command c;
    c.transport = "sis-srb";
    c.cdb = bmic(0x68, static_cast<std::uint16_t>(frame.size()), true);
    c.cdb[5] = control_code;
    c.direction = Direction::kBoth;
    c.data_out = frame;
    c.data_in_length = frame.size();
    return c;
}

const Bytes kIllegalOpcodeSense = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0};

class SimTransport : public qvsim::SimHostTest {
protected:
    std::shared_ptr<Script> script = std::make_shared<Script>();

    void StartCiss() {
        Scenario s;
        s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).firmware = script;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
    }
    void StartSis() {
        Scenario s;
        s.add_sis("xovraid", "0000:86:00.0", 4).firmware = script;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        ASSERT_EQ(::mknod("/dev/xov0", S_IFCHR, makedev(245, 0)), 0) << std::strerror(errno);
    }
    // The ioctl records of a node (opens left out).
    std::vector<qvsim::RequestRecord> ioctls(const std::string& node) {
        std::vector<qvsim::RequestRecord> out;
        for (auto& r : host().requests(node))
            if (r.op == "ioctl")
                out.push_back(r);
        return out;
    }
};

// --- CISS pass-through ----------------------------------------------------------------------

TEST_F(SimTransport, CissPassthruIsDecodedWithTheKernelRecord) {
    Expectation& e = script->expect(bmic(0x11, 1024), check_condition_with(40));
    e.transport = "ciss";
    e.direction = Direction::kIn;
    e.timeout_sec = 30;
    e.data_in_length = 1024;
    e.lun_address = std::array<std::uint8_t, 8>{0x00, 0x00, 0x00, 0x40, 1, 2, 3, 4};
    e.reply.data_in = pattern(1000, 1); // 24 bytes short
    ASSERT_NO_FATAL_FAILURE(StartCiss());

    Bytes buf(1024, 0xCC);
    IOCTL_Command_struct io = passthru(bmic(0x11, 1024), XFER_READ, buf);
    const BYTE lun[8] = {0x00, 0x00, 0x00, 0x40, 1, 2, 3, 4};
    std::memcpy(io.LUN_info.LunAddrBytes, lun, 8);
    ASSERT_EQ(send("/dev/sg1", CCISS_PASSTHRU, &io), 0);

    EXPECT_EQ(io.error_info.ScsiStatus, 2);
    EXPECT_EQ(io.error_info.CommandStatus, 1);
    EXPECT_EQ(io.error_info.SenseLen, 40) << "the controller's length; only the record's room is copied";
    EXPECT_EQ(Bytes(io.error_info.SenseInfo, io.error_info.SenseInfo + 32), pattern(32, 0x70));
    EXPECT_EQ(io.error_info.ResidualCnt, 24u);
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 1000), pattern(1000, 1));
    EXPECT_EQ(Bytes(buf.begin() + 1000, buf.end()), Bytes(24, 0)) << "the driver's bounce buffer is zeroed";
    EXPECT_EQ(script->ExpectNoneLeft(), "");

    auto reqs = ioctls("/dev/sg1");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].name, "CCISS_PASSTHRU");
    EXPECT_EQ(reqs[0].decoded["cdb"], "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00");
    EXPECT_EQ(reqs[0].decoded["lun"], "00 00 00 40 01 02 03 04");
    EXPECT_EQ(reqs[0].decoded["direction"], XFER_READ);
    EXPECT_EQ(reqs[0].decoded["attribute"], ATTR_SIMPLE);
    EXPECT_EQ(reqs[0].decoded["timeout"], 30);
    EXPECT_EQ(reqs[0].decoded["buf_size"], 1024);
}

TEST_F(SimTransport, CissWriteAndBigRecordCarryTheirData) {
    const Bytes out = pattern(512, 9);
    Expectation& w = script->expect(bmic(0x52, 512, true));
    w.transport = "ciss";
    w.direction = Direction::kOut;
    w.data_out = out;
    Expectation& big = script->expect({0x3C, 0x02, 0, 0, 0, 0, 0, 0x01, 0xF4, 0x01, 0});
    big.transport = "ciss-big";
    big.data_in_length = 128000;
    big.reply.data_in = pattern(128000, 3);
    ASSERT_NO_FATAL_FAILURE(StartCiss());

    Bytes wbuf = out;
    IOCTL_Command_struct io = passthru(bmic(0x52, 512, true), XFER_WRITE, wbuf);
    ASSERT_EQ(send("/dev/sg1", CCISS_PASSTHRU, &io), 0);

    Bytes rbuf(128000, 0);
    BIG_IOCTL_Command_struct bio{};
    const Bytes read_buffer = {0x3C, 0x02, 0, 0, 0, 0, 0, 0x01, 0xF4, 0x01, 0};
    bio.Request.CDBLen = static_cast<BYTE>(read_buffer.size());
    bio.Request.Type.Attribute = ATTR_SIMPLE;
    bio.Request.Type.Direction = XFER_READ;
    std::memcpy(bio.Request.CDB, read_buffer.data(), read_buffer.size());
    bio.malloc_size = 5120;
    bio.buf_size = 128000;
    bio.buf = rbuf.data();
    ASSERT_EQ(send("/dev/sg1", CCISS_BIG_PASSTHRU, &bio), 0);
    EXPECT_EQ(rbuf, pattern(128000, 3));
    EXPECT_EQ(bio.error_info.ResidualCnt, 0u);
    EXPECT_EQ(script->ExpectNoneLeft(), "");

    auto reqs = ioctls("/dev/sg1");
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].decoded["data_out"], hex(out));
    EXPECT_EQ(reqs[1].name, "CCISS_BIG_PASSTHRU");
    EXPECT_EQ(reqs[1].decoded["malloc_size"], 5120);
    EXPECT_EQ(reqs[1].decoded["buf_size"], 128000);
}

TEST_F(SimTransport, CissDriverRefusesMalformedRecordsBeforeTheController) {
    ASSERT_NO_FATAL_FAILURE(StartCiss());
    Bytes buf(512, 0);
    Bytes none;
    struct Case {
        const char* what;
        IOCTL_Command_struct io;
        int err;
    };
    std::vector<Case> cases = {
        {"data phase of 0 bytes", passthru(bmic(0x11, 0), XFER_READ, none), EINVAL},
        {"CDB of 17 bytes", passthru(bmic(0x11, 512), XFER_READ, buf), EINVAL},
        {"no buffer for the data", passthru(bmic(0x11, 512), XFER_READ, buf), EFAULT},
    };
    cases[1].io.Request.CDBLen = 17;
    cases[2].io.buf = nullptr;
    for (auto& c : cases)
        EXPECT_EQ(send("/dev/sg1", CCISS_PASSTHRU, &c.io), c.err) << c.what;

    struct BigCase {
        const char* what;
        DWORD malloc_size, buf_size;
    };
    for (const BigCase& c :
         {BigCase{"no chunk size", 0, 512}, BigCase{"chunk above the driver's limit", 128001, 512},
          BigCase{"more than 32 chunks", 1024, 32 * 1024 + 1}}) {
        Bytes big(c.buf_size, 0);
        BIG_IOCTL_Command_struct bio{};
        bio.Request.CDBLen = 16;
        bio.Request.Type.Direction = XFER_READ;
        bio.malloc_size = c.malloc_size;
        bio.buf_size = c.buf_size;
        bio.buf = big.data();
        EXPECT_EQ(send("/dev/sg1", CCISS_BIG_PASSTHRU, &bio), EINVAL) << c.what;
    }
    EXPECT_EQ(script->consumed(), 0u);
    EXPECT_EQ(script->ExpectNoneLeft(), "") << "no refused record may reach the controller";
}

// --- SG_IO ----------------------------------------------------------------------------------

TEST_F(SimTransport, SgIoClipsSenseToTheCallersBufferAndReportsTheResidual) {
    const Bytes inquiry = {0x12, 0, 0, 0, 96, 0};
    Expectation& e = script->expect(inquiry, check_condition_with(40));
    e.transport = "sg_io";
    e.direction = Direction::kIn;
    e.data_in_length = 96;
    e.reply.data_in = pattern(36, 0x20);
    script->expect(inquiry).reply = check_condition_with(40);
    ASSERT_NO_FATAL_FAILURE(StartCiss());

    Bytes data(96, 0xCC);
    Bytes sense(20, 0xCC); // 16 offered, 4 guard bytes
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.dxfer_direction = SG_DXFER_FROM_DEV;
    h.cmd_len = static_cast<unsigned char>(inquiry.size());
    h.cmdp = const_cast<unsigned char*>(inquiry.data());
    h.mx_sb_len = 16;
    h.sbp = sense.data();
    h.dxfer_len = 96;
    h.dxferp = data.data();
    h.timeout = 10001;
    ASSERT_EQ(send("/dev/sg1", SG_IO, &h), 0);
    EXPECT_EQ(h.status, 2);
    EXPECT_EQ(h.masked_status, 1) << "the kernel shifts the status right by one";
    EXPECT_EQ(h.sb_len_wr, 16);
    EXPECT_EQ(Bytes(sense.begin(), sense.begin() + 16), pattern(16, 0x70));
    EXPECT_EQ(Bytes(sense.begin() + 16, sense.end()), Bytes(4, 0xCC)) << "sense written past mx_sb_len";
    EXPECT_EQ(h.resid, 60);
    EXPECT_EQ(h.driver_status & 0x08, 0x08);
    EXPECT_EQ(h.info & SG_INFO_CHECK, SG_INFO_CHECK);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 36), pattern(36, 0x20));
    EXPECT_EQ(Bytes(data.begin() + 36, data.end()), Bytes(60, 0xCC));

    // A lying sense length (a fault) is reported as such; the bytes still stop at mx_sb_len.
    host().device("/dev/sg1")->add_fault({.opcode = 0x12, .reported_sense_length = 200});
    sense.assign(20, 0xCC);
    ASSERT_EQ(send("/dev/sg1", SG_IO, &h), 0);
    EXPECT_EQ(h.sb_len_wr, 200);
    EXPECT_EQ(Bytes(sense.begin() + 16, sense.end()), Bytes(4, 0xCC));
    EXPECT_EQ(script->ExpectNoneLeft(), "");

    auto reqs = ioctls("/dev/sg1");
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].name, "SG_IO");
    EXPECT_EQ(reqs[0].decoded["timeout_ms"], 10001);
    EXPECT_EQ(reqs[0].decoded["mx_sb_len"], 16);
    EXPECT_EQ(reqs[0].decoded["cdb"], "12 00 00 00 60 00");

    // Headers the kernel refuses.
    sg_io_hdr_t bad = h;
    bad.interface_id = 'Q';
    EXPECT_EQ(send("/dev/sg1", SG_IO, &bad), ENOSYS);
    bad = h;
    Bytes long_cdb(17, 0);
    bad.cmdp = long_cdb.data();
    bad.cmd_len = 17;
    EXPECT_EQ(send("/dev/sg1", SG_IO, &bad), EINVAL);
    bad = h;
    bad.sbp = nullptr;
    EXPECT_EQ(send("/dev/sg1", SG_IO, &bad), EFAULT);
    EXPECT_EQ(script->ExpectNoneLeft(), "");
}

// --- SIS raw SRB ----------------------------------------------------------------------------

TEST_F(SimTransport, SisSrbReplyFollowsTheSrbOfEitherSize) {
    Expectation& read = script->expect(bmic(0x11, 1024));
    read.transport = "sis-srb";
    read.direction = Direction::kIn;
    read.data_in_length = 1024;
    read.target = 1;
    read.reply.data_in = pattern(1024, 5);
    script->expect({0, 0, 0, 0, 0, 0}, check_condition_with(40)).direction = Direction::kNone;
    ASSERT_NO_FATAL_FAILURE(StartSis());

    Bytes data(1024, 0);
    SrbBuffer with_data(bmic(0x11, 1024), 0x40, data.data(), 1024, 1);
    ASSERT_EQ(send("/dev/xov0", kSendSrb, with_data.bytes), 0);
    EXPECT_EQ(data, pattern(1024, 5));
    EXPECT_EQ(with_data.result(68, 4), 1u) << "SrbStatus success";
    EXPECT_EQ(with_data.result(68, 8), 0u);
    EXPECT_EQ(with_data.result(68, 12), 1024u);
    EXPECT_EQ(with_data.bytes[68 + 52], 0xEE) << "reply larger than 52 bytes";

    SrbBuffer no_data({0, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0);
    ASSERT_EQ(send("/dev/xov0", kSendSrb, no_data.bytes), 0);
    EXPECT_EQ(no_data.result(56, 8), 2u);
    EXPECT_EQ(no_data.result(56, 16), 40u) << "the controller's length; the field holds 30 bytes";
    EXPECT_EQ(Bytes(no_data.bytes + 56 + 20, no_data.bytes + 56 + 50), pattern(30, 0x70));
    EXPECT_EQ(no_data.bytes[56 + 52], 0xEE) << "reply larger than 52 bytes";
    EXPECT_EQ(script->ExpectNoneLeft(), "");

    auto reqs = ioctls("/dev/xov0");
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].name, "SIS_SEND_RAW_SRB");
    EXPECT_EQ(reqs[0].decoded["DataTransferLength"], 68);
    EXPECT_EQ(reqs[0].decoded["SrbFlags"], 0x40);
    EXPECT_EQ(reqs[0].decoded["TargetId"], 1);
    EXPECT_EQ(reqs[0].decoded["SgByteCount"], 1024);
    EXPECT_EQ(reqs[1].decoded["DataTransferLength"], 56);
    EXPECT_EQ(reqs[1].reply["result_offset"], 56);

    // SRBs the driver refuses: a size that is neither 56 nor 68, a data phase without its
    // scatter-gather entry, a CDB longer than 16 bytes.
    SrbBuffer odd_size({0, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0);
    qvsim::put_le32(odd_size.bytes + 24, 60);
    SrbBuffer data_in_short_srb({0x12, 0, 0, 0, 36, 0}, 0x40, nullptr, 0, 0);
    SrbBuffer long_cdb({0, 0, 0, 0, 0, 0}, 0, nullptr, 0, 0);
    qvsim::put_le32(long_cdb.bytes + 32, 17);
    for (SrbBuffer* b : {&odd_size, &data_in_short_srb, &long_cdb})
        EXPECT_EQ(send("/dev/xov0", kSendSrb, b->bytes), EINVAL);
    EXPECT_EQ(script->ExpectNoneLeft(), "");
}

TEST_F(SimTransport, SisSrbCarriesATunnelledSspFrameBothWays) {
    const Bytes lun = {0x00, 0x00, 0x00, 0x41, 0, 0, 0, 0};
    const Bytes read10 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    Expectation& e = script->expect(read10);
    e.transport = "csmi-ssp";
    e.direction = Direction::kIn;
    e.data_in_length = 512;
    e.lun_address = std::array<std::uint8_t, 8>{0x00, 0x00, 0x00, 0x41, 0, 0, 0, 0};
    e.reply.data_in = pattern(512, 0x33);
    ASSERT_NO_FATAL_FAILURE(StartSis());

    Bytes frame = ssp_frame(read10, 1, 512, lun);
    Bytes cdb = bmic(0x68, static_cast<std::uint16_t>(frame.size()), true);
    cdb[5] = 0x18;
    SrbBuffer srb(cdb, 0xC0, frame.data(), static_cast<std::uint32_t>(frame.size()), 0);
    ASSERT_EQ(send("/dev/xov0", kSendSrb, srb.bytes), 0);
    EXPECT_EQ(script->ExpectNoneLeft(), "");
    EXPECT_EQ(Bytes(frame.begin() + 368, frame.begin() + 368 + 512), pattern(512, 0x33));
    EXPECT_EQ(qvsim::get_le32(&frame[364]), 512u);
    EXPECT_EQ(frame[104], 0) << "no response data";

    auto reqs = ioctls("/dev/xov0");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].decoded["cdb"], "27 00 00 00 00 18 68 03 74 00 00 00 00 00 00 00");
    EXPECT_EQ(reqs[0].decoded["csmi"]["kind"], "ssp");
    EXPECT_EQ(reqs[0].decoded["csmi"]["cdb"], "28 00 00 00 00 00 00 00 01 00");
    EXPECT_EQ(reqs[0].decoded["csmi"]["data_length"], 512);
    EXPECT_EQ(reqs[0].decoded["csmi"]["header"]["control_code"], 24);
}

// --- requests that are not SCSI commands, and faults ----------------------------------------

TEST_F(SimTransport, RegisterNewDisksAndResetAreLoggedAndCanFail) {
    Scenario s;
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
    s.add_sis("xovraid", "0000:86:00.0", 4).fault({.request = kSisReset, .nth = 2, .err = EIO});
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    ASSERT_EQ(::mknod("/dev/xov0", S_IFCHR, makedev(245, 0)), 0);

    EXPECT_EQ(send("/dev/sg1", CCISS_REGNEWD, nullptr), 0);
    std::uint8_t type = 2;
    EXPECT_EQ(send("/dev/xov0", kSisReset, &type), 0);
    EXPECT_EQ(send("/dev/xov0", kSisReset, &type), EIO);

    auto ciss = ioctls("/dev/sg1");
    ASSERT_EQ(ciss.size(), 1u);
    EXPECT_EQ(ciss[0].name, "CCISS_REGNEWD");
    EXPECT_EQ(ciss[0].request, 0x420Eu);
    auto sis = ioctls("/dev/xov0");
    ASSERT_EQ(sis.size(), 2u);
    EXPECT_EQ(sis[0].name, "SIS_RESET");
    EXPECT_EQ(sis[0].decoded["reset_type"], 2);
    EXPECT_TRUE(sis[1].injected);
}

TEST_F(SimTransport, CommandFaultsReachTheCallersRecord) {
    auto fw = std::make_shared<qvsim::ControllerFirmware>();
    fw->on_scsi(0x12, [](qvsim::ControllerFirmware&, const qvsim::Command&) {
        Reply r;
        r.data_in = pattern(36, 0x40);
        return r;
    });
    Scenario s;
    s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).firmware = fw;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    auto dev = host().device("/dev/sg1");
    ASSERT_TRUE(dev);

    struct Case {
        const char* what;
        qvsim::Fault fault;
        int err;
        BYTE scsi_status, sense_len;
        DWORD residual;
    };
    const Case cases[] = {
        {"no fault", {.opcode = 0x12, .nth = 1000}, 0, 0, 0, 0},
        {"errno from the ioctl", {.request = CCISS_PASSTHRU, .err = EIO}, EIO, 0, 0, 0},
        {"errno from the command", {.opcode = 0x12, .err = ENXIO}, ENXIO, 0, 0, 0},
        {"short data", {.opcode = 0x12, .data_in_length = 10}, 0, 0, 0, 26},
        {"check condition", {.opcode = 0x12, .scsi_status = 2, .sense = Bytes(18, 0x70)}, 0, 2, 18, 0},
        {"lying lengths",
         {.opcode = 0x12, .reported_sense_length = 250, .reported_data_length = 4},
         0,
         0,
         250,
         32},
    };
    for (const Case& c : cases) {
        dev->add_fault(c.fault);
        Bytes buf(36, 0xCC);
        IOCTL_Command_struct io = passthru({0x12, 0, 0, 0, 36, 0}, XFER_READ, buf);
        EXPECT_EQ(send("/dev/sg1", CCISS_PASSTHRU, &io), c.err) << c.what;
        if (c.err)
            continue;
        EXPECT_EQ(io.error_info.ScsiStatus, c.scsi_status) << c.what;
        EXPECT_EQ(io.error_info.SenseLen, c.sense_len) << c.what;
        EXPECT_EQ(io.error_info.ResidualCnt, c.residual) << c.what;
    }
}

// --- scripted firmware ----------------------------------------------------------------------

TEST(SimScript, MismatchSaysWhatCameAndWhatWasExpected) {
    Script script;
    Expectation& first = script.expect(bmic(0x11, 1024));
    first.transport = "ciss";
    first.direction = Direction::kIn;
    first.data_in_length = 1024;
    Expectation& second = script.expect(bmic(0x52, 4, true));
    second.data_out = Bytes{1, 2, 3, 4};

    qvsim::Command wrong;
    wrong.transport = "ciss";
    wrong.cdb = bmic(0x11, 512);
    wrong.direction = Direction::kIn;
    wrong.timeout_sec = 30;
    wrong.data_in_length = 512;
    EXPECT_EQ(script.execute(wrong).err, EIO);
    ASSERT_EQ(script.failures().size(), 1u);
    EXPECT_EQ(
        script.failures()[0],
        "command #1: got ciss cdb=[26 00 00 00 00 00 11 02 00 00 00 00 00 00 00 00] dir=in timeout=30 in=512 "
        "out=0, expected ciss cdb=[26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00] dir=in in=1024 (CDB byte "
        "7 "
        "is 02, expected 04)");

    qvsim::Command right = wrong;
    right.cdb = bmic(0x11, 1024);
    right.data_in_length = 1024;
    EXPECT_EQ(script.execute(right).err, 0);

    qvsim::Command write;
    write.cdb = bmic(0x52, 4, true);
    write.data_out = {1, 2, 9, 4};
    EXPECT_EQ(script.execute(write).err, EIO);
    EXPECT_EQ(script.remaining(), 1u);
    EXPECT_EQ(
        script.ExpectNoneLeft(),
        script.failures()[0] + "\n" +
            "command #3: got  cdb=[27 00 00 00 00 00 52 00 04 00 00 00 00 00 00 00] dir=none timeout=0 in=0 "
            "out=4, expected cdb=[27 00 00 00 00 00 52 00 04 00 00 00 00 00 00 00] out=4 (data out byte 2 is "
            "09, expected 03; got [01 02 09 04])\n"
            "expectation #2 not consumed: cdb=[27 00 00 00 00 00 52 00 04 00 00 00 00 00 00 00] out=4\n");

    Script extra;
    EXPECT_EQ(extra.execute(right).err, EIO);
    EXPECT_NE(extra.ExpectNoneLeft().find("expected no more commands"), std::string::npos);
}

// --- stateful controller dispatch -----------------------------------------------------------

TEST(SimControllerFirmware, DispatchesByOpcodeAndRefusesTheRest) {
    qvsim::ControllerFirmware fw;
    qvsim::BmicCdb seen;
    fw.on_bmic(qvsim::BmicDirection::kRead, 0x11, [&](auto&, const qvsim::Command&, const qvsim::BmicCdb& b) {
        seen = b;
        Reply r;
        r.data_in = {0x11};
        return r;
    });
    fw.on_scsi(0x12, [](auto&, const qvsim::Command&) {
        Reply r;
        r.data_in = {0x12};
        return r;
    });

    qvsim::Command c;
    c.cdb = {0x26, 0x05, 0x01, 0x02, 0x03, 0x04, 0x11, 0x04, 0x00, 0x07, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    EXPECT_EQ(fw.execute(c).data_in, Bytes{0x11});
    EXPECT_FALSE(seen.write);
    EXPECT_EQ(seen.lun(), 0x0705);
    EXPECT_EQ(seen.detail, 0x01020304u);
    EXPECT_EQ(seen.length, 1024);
    EXPECT_EQ(seen.additional_detail, 0xA1A2A3A4A5A6u);
    EXPECT_EQ(seen.to_cdb(), c.cdb);

    c.cdb = {0x12, 0, 0, 0, 36, 0};
    EXPECT_EQ(fw.execute(c).data_in, Bytes{0x12});

    struct Refused {
        const char* what;
        Bytes cdb;
        std::uint8_t asc;
    };
    for (const Refused& r :
         {Refused{"BMIC write without handler", bmic(0x11, 0, true), 0x20},
          Refused{"SCSI opcode without handler", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x20},
          Refused{"BMIC CDB not 16 bytes", {0x26, 0, 0, 0, 0, 0, 0x11, 0, 0, 0}, 0x24}}) {
        c.cdb = r.cdb;
        const Reply rep = fw.execute(c);
        EXPECT_EQ(rep.scsi_status, 2) << r.what;
        Bytes want = kIllegalOpcodeSense;
        want[12] = r.asc;
        EXPECT_EQ(rep.sense, want) << r.what;
    }
}

TEST(SimControllerFirmware, UnwrapsTunnelledSspAndSmpFrames) {
    qvsim::ControllerFirmware fw;
    const Bytes lun = {0x00, 0x00, 0x00, 0x41, 0, 0, 0, 0};
    qvsim::Command inner_seen;
    fw.on_scsi(0x28, [&](auto&, const qvsim::Command& inner) {
        inner_seen = inner;
        Reply r = check_condition_with(18);
        r.data_in = pattern(100, 0x50);
        return r;
    });
    qvsim::SmpRequest smp_seen;
    fw.on_smp(0x10, [&](auto&, const qvsim::SmpRequest& req) {
        smp_seen = req;
        qvsim::SmpReply r;
        r.function = 0x10;
        r.response_length = 0x0F;
        r.additional_response = pattern(60, 0x90);
        return r;
    });

    const Bytes read10 = {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    const Bytes frame = ssp_frame(read10, 1, 512, lun);
    Reply r = fw.execute(carrier(0x18, frame));
    EXPECT_EQ(r.scsi_status, 0) << "the carrier itself succeeded";
    ASSERT_EQ(r.data_in.size(), frame.size());
    EXPECT_EQ(inner_seen.transport, "csmi-ssp");
    EXPECT_EQ(inner_seen.cdb, read10);
    EXPECT_EQ(Bytes(inner_seen.lun_address.begin(), inner_seen.lun_address.end()), lun);
    EXPECT_EQ(inner_seen.direction, Direction::kIn);
    EXPECT_EQ(inner_seen.data_in_length, 512u);
    const Bytes& f = r.data_in;
    EXPECT_EQ(f[105], 2) << "bStatus";
    EXPECT_EQ(f[104], 2) << "bDataPresent";
    EXPECT_EQ(f[106], 0x00);
    EXPECT_EQ(f[107], 18) << "bResponseLength, most significant byte first";
    EXPECT_EQ(Bytes(f.begin() + 108, f.begin() + 126), pattern(18, 0x70));
    EXPECT_EQ(qvsim::get_le32(&f[364]), 100u);
    EXPECT_EQ(Bytes(f.begin() + 368, f.begin() + 468), pattern(100, 0x50));

    // A frame announcing more data than it holds is refused by the carrier.
    Bytes bad = frame;
    qvsim::put_le32(&bad[96], 513);
    r = fw.execute(carrier(0x18, bad));
    EXPECT_EQ(r.scsi_status, 2);
    ASSERT_GE(r.sense.size(), 13u);
    EXPECT_EQ(r.sense[12], 0x26);

    Bytes smp(2092, 0);
    qvsim::put_le32(&smp[16], 23);
    smp[28] = 3;
    for (int i = 0; i < 8; ++i)
        smp[32 + i] = static_cast<std::uint8_t>(0x50 + i);
    qvsim::put_le32(&smp[40], 8);
    smp[44] = 0x40;
    smp[45] = 0x10;
    smp[47] = 2;
    smp[48 + 5] = 7; // the phy asked for
    r = fw.execute(carrier(0x17, smp));
    ASSERT_EQ(r.data_in.size(), 2092u);
    EXPECT_EQ(smp_seen.phy_identifier, 3);
    EXPECT_EQ(smp_seen.sas_address[7], 0x57);
    EXPECT_EQ(smp_seen.frame_type, 0x40);
    EXPECT_EQ(smp_seen.additional_request.size(), 8u);
    EXPECT_EQ(smp_seen.additional_request[5], 7);
    EXPECT_EQ(Bytes(r.data_in.begin() + 1072, r.data_in.begin() + 1076), (Bytes{0x41, 0x10, 0x00, 0x0F}));
    EXPECT_EQ(qvsim::get_le32(&r.data_in[1068]), 64u);
    EXPECT_EQ(Bytes(r.data_in.begin() + 1076, r.data_in.begin() + 1136), pattern(60, 0x90));
}

} // namespace
