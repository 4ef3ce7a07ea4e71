// The recorder and its replay: a run's calls on the host are kept in order with what they sent and
// got, a replay makes them again and sees a changed reply, and the host's state comes back between
// runs. Built with the record hooks (sim_record), as the benchmarks are.
#include <dirent.h>
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../fw_selftest_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "qvsim/recorder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using qvsim::CallKind;

constexpr char kController[] = "/sys/devices/pci0000:00/0000:3b:00.0";
// The data out of the write below: every byte differs.
const Bytes kDataOut = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

class RecordedRun : public qvsim::SimHostTest {
protected:
    void Start(qvsim::FirmwareState state) {
        qvsim::Scenario s;
        fw_ = std::make_shared<qvsim::FwController>(std::move(state));
        s.add_ciss("qzvk", "0000:3b:00.0", 2, 1).firmware = fw_;
        ASSERT_NO_FATAL_FAILURE(StartHost(std::move(s)));
    }

    // A CISS pass-through of a BMIC command: a read of `length` bytes, or a write of `out`.
    static int Passthru(int fd, std::uint8_t opcode, bool write, Bytes& buffer) {
        IOCTL_Command_struct io{};
        Bytes cdb = selftest::bmic_read(opcode, static_cast<std::uint16_t>(buffer.size())).cdb;
        cdb[0] = write ? 0x27 : 0x26;
        io.Request.CDBLen = 16;
        io.Request.Type.Type = TYPE_CMD;
        io.Request.Type.Attribute = ATTR_SIMPLE;
        io.Request.Type.Direction = write ? XFER_WRITE : XFER_READ;
        std::memcpy(io.Request.CDB, cdb.data(), 16);
        io.buf_size = static_cast<WORD>(buffer.size());
        io.buf = buffer.data();
        return ::ioctl(fd, CCISS_PASSTHRU, &io);
    }

    // What a discovery and two commands do on the host, plus one file outside it.
    static void Run(const Bytes& out) {
        char link[256] = {};
        EXPECT_GT(::readlink("/sys/bus/pci/drivers/qzvk/0000:3b:00.0", link, sizeof link), 0);
        if (DIR* d = ::opendir("/sys/bus/pci/drivers/qzvk")) {
            while (::readdir(d) != nullptr) {
            }
            ::closedir(d);
        }
        const int cls = ::open((std::string(kController) + "/class").c_str(), O_RDONLY);
        char text[64];
        EXPECT_GT(::read(cls, text, sizeof text), 0);
        ::close(cls);
        struct stat st {};
        EXPECT_EQ(::stat("/dev/sg1", &st), 0);
        const int outside = ::open("/tmp", O_RDONLY | O_DIRECTORY);
        ::close(outside);

        const int fd = ::open("/dev/sg1", O_RDWR);
        ASSERT_GE(fd, 0);
        cciss_pci_info_struct pci{};
        EXPECT_EQ(::ioctl(fd, CCISS_GETPCIINFO, &pci), 0);
        Bytes identify(1024, 0xCC);
        EXPECT_EQ(Passthru(fd, 0x11, false, identify), 0);
        Bytes data = out;
        Passthru(fd, 0x99, true, data);
        ::close(fd);
    }

    std::shared_ptr<qvsim::FwController> fw_;
};

std::vector<CallKind> Kinds(const qvsim::Recording& r) {
    std::vector<CallKind> kinds;
    for (const qvsim::Call& c : r.calls) {
        if (c.kind != CallKind::kReaddir) {
            kinds.push_back(c.kind);
        }
    }
    return kinds;
}

TEST_F(RecordedRun, ReplaysTheCallsAndSeesAChangedReply) {
    qvsim::FirmwareState state;
    state.identify.firmware_version = "6.01-2";
    ASSERT_NO_FATAL_FAILURE(Start(state));

    qvsim::start_recording();
    Run(kDataOut);
    qvsim::Recording record = qvsim::stop_recording();
    ASSERT_EQ(record.error, "");

    // In order, the host's calls only: /tmp is not the host's.
    EXPECT_EQ(Kinds(record), (std::vector<CallKind>{CallKind::kReadlink, CallKind::kOpendir, CallKind::kClosedir,
                                                    CallKind::kOpen, CallKind::kRead, CallKind::kClose,
                                                    CallKind::kStat, CallKind::kOpen, CallKind::kIoctl,
                                                    CallKind::kIoctl, CallKind::kIoctl, CallKind::kClose}));
    EXPECT_GE(record.count(CallKind::kReaddir), 3u); // ".", "..", the controller's link and the driver files
    const qvsim::Call& link = record.calls.front();
    EXPECT_EQ(std::string(link.got.begin(), link.got.end()), "../../../../devices/pci0000:00/0000:3b:00.0");

    const qvsim::Call& pci = record.calls[record.calls.size() - 4];
    const qvsim::Call& identify = record.calls[record.calls.size() - 3];
    const qvsim::Call& write = record.calls[record.calls.size() - 2];
    EXPECT_EQ(pci.arg, CCISS_GETPCIINFO);
    EXPECT_EQ(pci.got.size(), sizeof(cciss_pci_info_struct));
    // The read's record went out as sent; its reply is the record after the call and the data in.
    ASSERT_EQ(identify.got.size(), sizeof(IOCTL_Command_struct) + 1024);
    EXPECT_EQ(std::string(identify.got.begin() + sizeof(IOCTL_Command_struct) + 325,
                          identify.got.begin() + sizeof(IOCTL_Command_struct) + 331),
              "6.01-2");
    // The write's data out follows its record.
    ASSERT_EQ(write.sent.size(), sizeof(IOCTL_Command_struct) + kDataOut.size());
    EXPECT_EQ(Bytes(write.sent.end() - 8, write.sent.end()), kDataOut);
    EXPECT_EQ(identify.slot, write.slot);
    EXPECT_NE(identify.slot, record.calls[3].slot);

    qvsim::Replay replay(record);
    EXPECT_EQ(replay.verify(), "");
    EXPECT_TRUE(replay.run());
    EXPECT_EQ(replay.verify(), "");

    // A firmware that answers otherwise is no longer the run that was recorded.
    fw_->fw_state().identify.firmware_version = "6.01-3";
    const std::string difference = replay.verify();
    EXPECT_NE(difference.find("call " + std::to_string(record.calls.size() - 3)), std::string::npos) << difference;
    EXPECT_NE(difference.find("the reply changed"), std::string::npos) << difference;
    // Nothing the failed replay opened is left open: the next one starts clean and passes again.
    fw_->fw_state().identify.firmware_version = "6.01-2";
    EXPECT_EQ(replay.verify(), "");
}

TEST_F(RecordedRun, HostStateComesBackWithItsFaultCounts) {
    qvsim::FirmwareState state;
    state.identify.firmware_version = "6.01-2";
    qvsim::FwFault fault;
    fault.bmic = 0x11;
    fault.err = EIO;
    state.faults.push_back(fault);
    ASSERT_NO_FATAL_FAILURE(Start(state));
    const qvsim::HostState saved = qvsim::HostState::save();

    const int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    Bytes identify(1024);
    EXPECT_EQ(Passthru(fd, 0x11, false, identify), -1); // the fault's one failure
    EXPECT_EQ(Passthru(fd, 0x11, false, identify), 0);
    fw_->fw_state().identify.firmware_version = "7.00-0";

    saved.restore();
    EXPECT_EQ(fw_->fw_state().identify.firmware_version, "6.01-2");
    EXPECT_EQ(Passthru(fd, 0x11, false, identify), -1); // the fault has seen nothing again
    EXPECT_EQ(Passthru(fd, 0x11, false, identify), 0);
    ::close(fd);
}

TEST_F(RecordedRun, OtherDataAndUnknownRequestsShow) {
    ASSERT_NO_FATAL_FAILURE(Start(qvsim::FirmwareState{}));
    const qvsim::HostState saved = qvsim::HostState::save();
    qvsim::start_recording();
    Run(kDataOut);
    const qvsim::Recording first = qvsim::stop_recording();
    saved.restore();

    qvsim::start_recording();
    Run(kDataOut);
    const qvsim::Recording same = qvsim::stop_recording();
    saved.restore();
    EXPECT_EQ(first.same_calls(same), "");

    Bytes other = kDataOut;
    other[7] = 0x99;
    qvsim::start_recording();
    Run(other);
    const qvsim::Recording changed = qvsim::stop_recording();
    EXPECT_NE(first.same_calls(changed).find("sent other data"), std::string::npos) << first.same_calls(changed);

    // A request whose record the recorder cannot rebuild makes the record unusable.
    qvsim::start_recording();
    const int fd = ::open("/dev/sg1", O_RDWR);
    int word = 0;
    ::ioctl(fd, 0x5401UL, &word);
    ::close(fd);
    const qvsim::Recording unknown = qvsim::stop_recording();
    EXPECT_NE(unknown.error.find("0x5401"), std::string::npos) << unknown.error;
}

} // namespace
