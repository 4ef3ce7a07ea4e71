// Controller commands against a simulated controller: the controller log reads with their size
// query and pieces, the failure paths (lock released, no buffer, size 0), the persistent event log
// and debug token, pause and resume, cache-module recovery and the controller pass-through.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "pavl_sync_private.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::BmicDirection;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::ControllerFirmware;
using qvsim::FirmwareState;
using qvsim::Reply;

// What the simulated controller keeps for the log command.
struct LogController {
    std::map<VK_BYTE, Bytes> logs;
    std::vector<VK_DWORD> reported_sizes; // size answers used in turn before the log's own size
    int failing_read = 0;                 // 1-based data read answered with CHECK CONDITION
    bool fail_size = false;
    int data_reads = 0;
    std::vector<BmicCdb> received;
};

class ControllerCommands : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState state = {}) {
        auto logs = logs_;
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state), [logs](qvsim::FwController& fw) {
            fw.on_bmic(BmicDirection::kRead, 0x77,
                       [logs](ControllerFirmware&, const Command&, const BmicCdb& b) {
                           logs->received.push_back(b);
                           if (b.lun_high == kControllerLogActionGetSize) {
                               if (logs->fail_size) {
                                   return qvsim::check_condition(0x05, 0x24, 0x00);
                               }
                               VK_DWORD size = static_cast<VK_DWORD>(logs->logs[b.lun_low].size());
                               if (!logs->reported_sizes.empty()) {
                                   size = logs->reported_sizes.front();
                                   logs->reported_sizes.erase(logs->reported_sizes.begin());
                               }
                               Reply r;
                               r.data_in.resize(4);
                               std::memcpy(r.data_in.data(), &size, 4);
                               return r;
                           }
                           if (++logs->data_reads == logs->failing_read) {
                               return qvsim::check_condition(0x04, 0x44, 0x00);
                           }
                           const Bytes& log = logs->logs[b.lun_low];
                           Reply r;
                           if (b.detail < log.size()) {
                               const size_t n = std::min<size_t>(b.length, log.size() - b.detail);
                               r.data_in.assign(log.begin() + b.detail, log.begin() + b.detail + n);
                           }
                           return r;
                       });
        }));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    // Ends one controller's run, so a table-driven test can start the next.
    void Stop() {
        StopController();
        logs_ = std::make_shared<LogController>();
    }

    void TearDown() override {
        Stop();
        qvsim::SimHostTest::TearDown();
    }
    _CDA* data() { return _VK_CDA(cda()); }
    VK_INT64 LockDepth() { return static_cast<MUTEX_LOCK*>(data()->lock)->lock_depth; }

    std::shared_ptr<LogController> logs_ = std::make_shared<LogController>();
};

Bytes Pattern(size_t n, unsigned seed = 7) {
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) {
        out[i] = static_cast<std::uint8_t>((i * 31 + seed) & 0xFF);
    }
    return out;
}

// ---- Log reads -----------------------------------------------------------------------------------

TEST_F(ControllerCommands, SerialOutputBufferIsReadAsSizeThenPiecesOf16KiB) {
    ASSERT_NO_FATAL_FAILURE(Start());
    logs_->logs[2] = Pattern(40000);
    VK_DWORD size = 0;
    VK_BYTE* log = VK_GetControllerSerialOutputBuffer(cda(), &size);
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(size, 40000u);
    EXPECT_EQ(Bytes(log, log + size), logs_->logs[2]);
    VK_free(log);
    EXPECT_EQ(LockDepth(), 0);

    const auto& got = logs_->received;
    ASSERT_EQ(got.size(), 4u);
    const struct {
        unsigned action, offset, length;
    } expected[] = {{0, 0, 4}, {1, 0, 16384}, {1, 16384, 16384}, {1, 32768, 7232}};
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_FALSE(got[i].write);
        EXPECT_EQ(got[i].lun_low, 2) << "log type in CDB byte 1";
        EXPECT_EQ(got[i].lun_high, expected[i].action) << "action in CDB byte 9";
        EXPECT_EQ(got[i].detail, expected[i].offset);
        EXPECT_EQ(got[i].length, expected[i].length);
    }
}

TEST_F(ControllerCommands, CrashDumpIsLogTypeOneAndNotTerminated) {
    ASSERT_NO_FATAL_FAILURE(Start());
    logs_->logs[1] = Pattern(16384, 3);
    VK_DWORD size = 0;
    VK_BYTE* log = VK_GetControllerLastCrashDump(cda(), &size);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(Bytes(log, log + size), logs_->logs[1]);
    VK_free(log);
    ASSERT_EQ(logs_->received.size(), 2u) << "one piece of exactly 16 KiB";
    EXPECT_EQ(logs_->received[1].lun_low, 1);
}

// Every way a log read can fail gives no buffer, size 0, and leaves the controller lock free.
TEST_F(ControllerCommands, FailedLogReadsReleaseTheLockAndReturnNothing) {
    struct Case {
        const char* name;
        std::function<void(LogController&)> setup;
        size_t commands;
        const char* debug_line;
    };
    const Case cases[] = {
        {"size query refused", [](LogController& l) { l.fail_size = true; }, 1, "Failed to get log size"},
        {"size 0", [](LogController& l) { l.logs[2].clear(); }, 1, "Failed to get log size"},
        {"size beyond the cap", [](LogController& l) { l.reported_sizes = {kControllerLogMaxSize + 1}; }, 1,
         "accepted: refused"},
        {"size 0xFFFFFFFF", [](LogController& l) { l.reported_sizes = {0xFFFFFFFFu}; }, 1,
         "accepted: refused"},
        {"second piece refused",
         [](LogController& l) {
             l.logs[2] = Pattern(40000);
             l.failing_read = 2;
         },
         3, "Failed while reading debug log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        c.setup(*logs_);
        TelmarLogCapture capture;
        VK_DWORD size = 12345;
        EXPECT_EQ(VK_GetControllerSerialOutputBuffer(cda(), &size), nullptr);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(LockDepth(), 0);
        EXPECT_EQ(logs_->received.size(), c.commands);
        EXPECT_EQ(TelmarLogCapture::Count(c.debug_line), 1u);
        Stop();
    }
    VK_DWORD size = 1;
    EXPECT_EQ(__VK_GetControllerDebugLog(nullptr, &size, 2), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(__VK_GetControllerDebugLog(nullptr, nullptr, 2), nullptr);
}

// The log changes between the size query and the data read: what was allocated is what is read.
TEST_F(ControllerCommands, LogThatChangesSizeIsReadWithinTheFirstSize) {
    ASSERT_NO_FATAL_FAILURE(Start());
    logs_->logs[2] = Pattern(100);
    logs_->reported_sizes = {20000};
    VK_DWORD size = 0;
    VK_BYTE* log = VK_GetControllerSerialOutputBuffer(cda(), &size);
    ASSERT_NE(log, nullptr);
    ASSERT_EQ(size, 20000u);
    EXPECT_EQ(Bytes(log, log + 100), logs_->logs[2]);
    EXPECT_EQ(Bytes(log + 100, log + size), Bytes(size - 100, 0)) << "missing bytes read as zero";
    VK_free(log);

    logs_->received.clear();
    logs_->logs[2] = Pattern(50000);
    logs_->reported_sizes = {300};
    log = VK_GetControllerSerialOutputBuffer(cda(), &size);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(size, 300u);
    EXPECT_EQ(Bytes(log, log + size), Bytes(logs_->logs[2].begin(), logs_->logs[2].begin() + 300));
    VK_free(log);
    EXPECT_EQ(logs_->received.size(), 2u);
}

TEST_F(ControllerCommands, PersistentEventLogKeepsWholeRecordsOnly) {
    ASSERT_NO_FATAL_FAILURE(Start());
    logs_->logs[5] = Pattern(400);
    VK_DWORD size = 0;
    VK_BYTE* log = VK_GetControllerPersistentEventLog(cda(), &size);
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(size, 376u);
    const PersistentControllerEvent* first = VK_EnumeratePersistentEventLogBuffer(log, size, nullptr);
    const PersistentControllerEvent* second = VK_EnumeratePersistentEventLogBuffer(log, size, first);
    EXPECT_EQ(reinterpret_cast<const VK_BYTE*>(first), log);
    EXPECT_EQ(reinterpret_cast<const VK_BYTE*>(second), log + 188);
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(log, size, second), nullptr);
    VK_free(log);

    logs_->logs[5] = Pattern(100);
    {
        TelmarLogCapture capture;
        EXPECT_EQ(VK_GetControllerPersistentEventLog(cda(), &size), nullptr);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(TelmarLogCapture::Count("Incomplete event data received"), 1u);
    }
    // A log that cannot be read at all is reported the same way.
    logs_->fail_size = true;
    {
        TelmarLogCapture capture;
        EXPECT_EQ(VK_GetControllerPersistentEventLog(cda(), &size), nullptr);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(TelmarLogCapture::Count("Incomplete event data received"), 1u);
        EXPECT_EQ(LockDepth(), 0);
    }
    logs_->fail_size = false;

    // A controller without the capability is not asked.
    FirmwareState no_log;
    no_log.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00});
    Stop();
    ASSERT_NO_FATAL_FAILURE(Start(no_log));
    logs_->received.clear();
    EXPECT_EQ(VK_GetControllerPersistentEventLog(cda(), &size), nullptr);
    EXPECT_TRUE(logs_->received.empty());
}

TEST(PersistentEventWalk, StaysInsideTheLog) {
    std::vector<VK_BYTE> log(188 * 3 + 10);
    const auto* a = VK_EnumeratePersistentEventLogBuffer(log.data(), 188 * 3, nullptr);
    const auto* b = VK_EnumeratePersistentEventLogBuffer(log.data(), 188 * 3, a);
    const auto* c = VK_EnumeratePersistentEventLogBuffer(log.data(), 188 * 3, b);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(log.data(), 188 * 3, c), nullptr);
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(log.data(), 187, nullptr), nullptr);
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(log.data(), 0, nullptr), nullptr);
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(nullptr, 188, nullptr), nullptr);
    // A record from elsewhere has no successor here.
    PersistentControllerEvent other{};
    EXPECT_EQ(VK_EnumeratePersistentEventLogBuffer(log.data(), 188 * 3, &other), nullptr);
}

TEST_F(ControllerCommands, DebugTokenComesBackAsHexText) {
    FirmwareState state;
    state.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x86, 0x00, 0x00, 0x00, 0x01, 0x00});
    ASSERT_NO_FATAL_FAILURE(Start(state));
    logs_->logs[4] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    VK_DWORD size = 0;
    char* token = VK_GetControllerDebugToken(cda(), &size);
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(size, 17u);
    EXPECT_STREQ(token, "0123456789ABCDEF");
    VK_free(token);
    EXPECT_EQ(logs_->received.at(1).lun_low, 4);

    // Without the capability bit (the default controller): nothing is sent.
    Stop();
    ASSERT_NO_FATAL_FAILURE(Start());
    logs_->logs[4] = {0x01};
    EXPECT_EQ(VK_GetControllerDebugToken(cda(), &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_TRUE(logs_->received.empty());
}

// ---- Pause, resume, recovery, pass-through --------------------------------------------------------

TEST_F(ControllerCommands, PauseAndResumeSendTheirOpcodeAndDetail) {
    ASSERT_NO_FATAL_FAILURE(Start());
    std::vector<BmicCdb> writes;
    bool refuse = false;
    for (VK_BYTE opcode : {0x98, 0x99}) {
        fw_->on_bmic(BmicDirection::kWrite, opcode,
                     [&](ControllerFirmware&, const Command&, const BmicCdb& b) {
                         writes.push_back(b);
                         return refuse ? qvsim::check_condition(0x05, 0x20, 0x00) : Reply{};
                     });
    }
    EXPECT_TRUE(VK_ControllerPauseBackgroundActivity(cda(), kTrue));
    EXPECT_TRUE(VK_ControllerPauseBackgroundActivity(cda(), kFalse));
    EXPECT_TRUE(VK_ControllerResumeBackgroundActivity(cda()));
    refuse = true;
    EXPECT_FALSE(VK_ControllerPauseBackgroundActivity(cda(), kFalse));
    EXPECT_FALSE(VK_ControllerResumeBackgroundActivity(cda()));
    ASSERT_EQ(writes.size(), 5u);
    const struct {
        int opcode;
        unsigned detail;
    } expected[] = {{0x98, 1}, {0x98, 0}, {0x99, 0}, {0x98, 0}, {0x99, 0}};
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(writes[i].opcode, expected[i].opcode) << i;
        EXPECT_EQ(writes[i].detail, expected[i].detail) << i;
        EXPECT_EQ(writes[i].lun(), 0) << i;
        EXPECT_EQ(writes[i].length, 0) << i;
    }
    EXPECT_EQ(VK_GetControllerDeviceDescriptor(cda()), data()->controller_handle);
}

TEST_F(ControllerCommands, CacheModuleRecoveryIsAskedFirstAndAlwaysReinitialises) {
    struct Case {
        const char* name;
        std::uint8_t support_flags;
        std::uint8_t ofa_status;
        bool refuse;
        VK_BYTE can;
        VK_BOOL result;
        std::vector<int> sent; // after the permission reads
    };
    const Case cases[] = {
        {"allowed", 0x24, 255, false, kCanRecoverCacheModuleAllowed, kTrue, {0xC3, 0x11, 0x64, 0xC1}},
        {"refused by the controller",
         0x24,
         255,
         true,
         kCanRecoverCacheModuleAllowed,
         kFalse,
         {0xC3, 0x11, 0x64, 0xC1}},
        {"not offered", 0x04, 255, false, kCanRecoverCacheModuleNotAllowedByFirmware, kFalse, {}},
        {"activation running", 0x24, 1, false, kCanRecoverCacheModuleControllerOFAActive, kFalse, {}},
        {"activation only delaying",
         0x24,
         251,
         false,
         kCanRecoverCacheModuleAllowed,
         kTrue,
         {0xC3, 0x11, 0x64, 0xC1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState state;
        state.cache.support_flags = c.support_flags;
        state.ofa.status = c.ofa_status;
        ASSERT_NO_FATAL_FAILURE(Start(state));
        const bool refuse = c.refuse;
        fw_->on_bmic(BmicDirection::kWrite, 0xC3,
                     [refuse](ControllerFirmware&, const Command&, const BmicCdb&) {
                         return refuse ? qvsim::check_condition(0x05, 0x24, 0x00) : Reply{};
                     });
        EXPECT_EQ(VK_CanRecoverCacheModule(cda()), c.can);
        host().clear_requests();
        EXPECT_EQ(VK_RecoverCacheModule(cda()), c.result);
        EXPECT_EQ(Opcodes(), c.sent);
        EXPECT_EQ(LockDepth(), 0);
        Stop();
    }
}

TEST_F(ControllerCommands, PassThroughLendsSenseOnlyForTheCall) {
    ASSERT_NO_FATAL_FAILURE(Start());
    fw_->on_scsi(
        0x00, [](ControllerFirmware&, const Command&) { return qvsim::check_condition(0x02, 0x04, 0x01); });
    VK_BYTE cdb[6] = {0x00};
    SCSIRequest request = {};
    request.cdb = cdb;
    request.cdb_size = 6;
    request.transfer_type = eDATA_TRANSFER_NONE;
    request.timeout_sec = 1;
    // Carried, whatever the status: the caller judges it.
    EXPECT_TRUE(VK_SendControllerSCSICommand(cda(), &request));
    EXPECT_EQ(request.scsi_status, 2);
    EXPECT_EQ(request.sense_data, nullptr);
    EXPECT_EQ(request.sense_data_size, 0u);

    VK_BYTE sense[32] = {};
    request.sense_data = sense;
    request.sense_data_size = sizeof(sense);
    EXPECT_TRUE(VK_SendControllerSCSICommand(cda(), &request));
    EXPECT_EQ(request.sense_data, sense);
    EXPECT_EQ(request.sense_data_size, 32u);
    EXPECT_EQ(sense[0], 0x70);
    EXPECT_EQ(sense[2] & 0x0F, 0x02);

    EXPECT_FALSE(VK_SendControllerSCSICommand(cda(), nullptr));
    EXPECT_FALSE(VK_SendControllerSCSICommand(nullptr, &request));
}

} // namespace
