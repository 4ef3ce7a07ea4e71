// The tool's diagnostic engine against a simulated controller whose diagnostic answers the test
// scripts: every CDB and payload sent, the status read after each carried send, and how a command
// answered with CHECK CONDITION is reported.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bmic.h"
#include "externs.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telmar_host_fixture.h"
#include "tool_output_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::BmicDirection;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::ControllerFirmware;
using qvsim::Reply;

struct Sent {
    Bytes cdb;
    Bytes data_out;
};

// The diagnostic side of a controller: each test command stores the payload it ran, the status read
// answers the next scripted result for it.
struct DiagController {
    std::vector<Sent> sent;
    std::vector<VK_BYTE> error_codes; // one per status read, in turn; then 0
    std::vector<int> refused_sends;   // 1-based test sends answered with CHECK CONDITION
    std::vector<int> refused_reads;   // 1-based status reads answered with CHECK CONDITION
    std::vector<int> dropped_reads;   // 1-based status reads the driver fails (not carried)
    Bytes revision = {0x05, 0x59, 0x01, 0x00};
    Bytes counters = {0, 0, 0};
    bool refuse_small_reads = false;
    Bytes mram;
    Bytes last_payload;
    int sends = 0, reads = 0;
};

bool Listed(const std::vector<int>& list, int n) {
    return std::find(list.begin(), list.end(), n) != list.end();
}

class ToolDiagnostics : public telmar_host::ControllerHost {
protected:
    void SetUp() override {
        saved_lfp_ = lfp;
        lfp = std::tmpfile();
        ASSERT_NE(lfp, nullptr);
    }

    void Start() {
        auto d = diag_;
        ASSERT_NO_FATAL_FAILURE(StartController(qvsim::FirmwareState{}, [d](qvsim::FwController& fw) {
            fw.on_bmic(BmicDirection::kWrite, 0x42,
                       [d](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                           d->sent.push_back({cmd.cdb, cmd.data_out});
                           if (cmd.cdb[8] == 0x84) {
                               if (cmd.cdb[14] == MRAM_TEST_STARTED) {
                                   d->mram = cmd.data_out;
                               }
                               return Reply{};
                           }
                           if (Listed(d->refused_sends, ++d->sends)) {
                               return qvsim::check_condition(0x05, 0x24, 0x00);
                           }
                           d->last_payload = cmd.data_out;
                           return Reply{};
                       });
            fw.on_bmic(BmicDirection::kRead, 0x42,
                       [d](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                           d->sent.push_back({cmd.cdb, cmd.data_out});
                           Reply r;
                           switch (cmd.cdb[8]) {
                               case 0xD3: {
                                   ++d->reads;
                                   if (Listed(d->dropped_reads, d->reads)) {
                                       r.err = 5;
                                       return r;
                                   }
                                   if (Listed(d->refused_reads, d->reads)) {
                                       return qvsim::check_condition(0x05, 0x24, 0x00);
                                   }
                                   const VK_BYTE code = d->error_codes.empty()
                                                            ? 0
                                                            : d->error_codes[std::min<size_t>(
                                                                  d->reads - 1, d->error_codes.size() - 1)];
                                   r.data_in.assign(16, 0);
                                   r.data_in[0] = d->last_payload.at(0);
                                   r.data_in[1] = code;
                                   r.data_in[2] = d->last_payload.at(2);
                                   r.data_in[3] = d->last_payload.at(3);
                                   return r;
                               }
                               case 0xD7:
                                   if (d->refuse_small_reads) {
                                       return qvsim::check_condition(0x05, 0x20, 0x00);
                                   }
                                   r.data_in = d->revision;
                                   return r;
                               case 0xEB:
                                   if (d->refuse_small_reads) {
                                       return qvsim::check_condition(0x05, 0x20, 0x00);
                                   }
                                   r.data_in = d->counters;
                                   return r;
                               case 0x84:
                                   if (d->refuse_small_reads) {
                                       return qvsim::check_condition(0x05, 0x20, 0x00);
                                   }
                                   r.data_in = d->mram;
                                   return r;
                               default:
                                   return qvsim::check_condition(0x05, 0x24, 0x00);
                           }
                       });
        }));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        pCDA = cda();
    }

    void TearDown() override {
        pCDA = nullptr;
        StopController();
        std::fclose(lfp);
        lfp = saved_lfp_;
        qvsim::SimHostTest::TearDown();
    }

    void Run(const std::function<void()>& f) {
        diag_->sent.clear();
        const tool_host::Captured c = tool_host::CaptureRun(lfp, f);
        out_ = c.out;
        log_ = c.log;
    }

    // Serves the serial output buffer (log type 2 of BMIC 0x77) and counts the reads of it.
    void ServeSerialLog(std::shared_ptr<Bytes> serial, std::shared_ptr<int> reads) {
        fw_->on_bmic(BmicDirection::kRead, 0x77,
                     [serial, reads](ControllerFirmware&, const Command&, const BmicCdb& b) {
                         ++*reads;
                         Reply r;
                         if (b.lun_low != 2) {
                             return qvsim::check_condition(0x05, 0x24, 0x00);
                         }
                         if (b.lun_high == 0) {
                             const auto size = static_cast<std::uint32_t>(serial->size());
                             r.data_in.resize(4);
                             std::memcpy(r.data_in.data(), &size, 4);
                         } else if (b.detail < serial->size()) {
                             r.data_in.assign(serial->begin() + b.detail,
                                              serial->begin() +
                                                  std::min<size_t>(serial->size(), b.detail + b.length));
                         }
                         return r;
                     });
    }

    std::shared_ptr<DiagController> diag_ = std::make_shared<DiagController>();
    std::string out_, log_;

private:
    FILE* saved_lfp_ = nullptr;
};

Bytes TestCdb() {
    Bytes cdb(16, 0);
    cdb[0] = 0x27;
    cdb[6] = 0x42;
    cdb[8] = 0xD1;
    cdb[9] = 0x01;
    return cdb;
}

Bytes StatusCdb() {
    Bytes cdb(16, 0);
    cdb[0] = 0x26;
    cdb[6] = 0x42;
    cdb[8] = 0xD3;
    cdb[9] = 0x01;
    return cdb;
}

Bytes PayloadBytes(VK_BYTE test, VK_WORD subtest) {
    return {test, 0, static_cast<std::uint8_t>(subtest & 0xFF), static_cast<std::uint8_t>(subtest >> 8), 1, 0,
            0,    0};
}

TEST_F(ToolDiagnostics, WholeCacheTestSendsEachSubtestThenItsStatusRead) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Run([] { QV_CacheTest(1, 3); });
    const VK_WORD subtests[] = {0x20, 0x40, 0x80, 0x100, 0x200};
    ASSERT_EQ(diag_->sent.size(), 30u);
    size_t i = 0;
    for (VK_WORD subtest : subtests) {
        for (int iteration = 1; iteration <= 3; ++iteration) {
            SCOPED_TRACE(testing::Message() << "sub-test " << subtest << " iteration " << iteration);
            EXPECT_EQ(diag_->sent[i].cdb, TestCdb());
            EXPECT_EQ(diag_->sent[i].data_out, PayloadBytes(2, subtest));
            EXPECT_EQ(diag_->sent[i + 1].cdb, StatusCdb());
            i += 2;
        }
    }
    std::string expected_out;
    const char* headers[] = {"LFSR Cache Fill", "Pattern Fill", "Walking Ones", "Walking Zeros",
                             "Data Inversion"};
    for (const char* header : headers) {
        expected_out += std::string("CacheTest : ") + header + " ctrlNum: 1, iteration 3\n";
        for (int iteration = 1; iteration <= 3; ++iteration) {
            expected_out += "  Result: Iteration: " + std::to_string(iteration) + " PASS - No Error\n";
        }
    }
    EXPECT_EQ(out_, expected_out);
}

// A refused or unanswered command never reads as a pass.
TEST_F(ToolDiagnostics, RefusedSendsAndStatusReadsAreNotResults) {
    ASSERT_NO_FATAL_FAILURE(Start());
    diag_->refused_sends = {2};
    diag_->refused_reads = {2};
    diag_->dropped_reads = {3};
    diag_->error_codes = {0x00, 0x35, 0x42, 0x42};
    Run([] { QV_DiagMemMovingInvFBT(2, 5); });
    EXPECT_EQ(out_, "MemoryTest : Moving Inversion FBT ctrlNum: 2, iteration 5\n"
                    "  Result: Iteration: 1 PASS - No Error\n"
                    "Failed to execute memorytest: MEM_MOVING_INVR_FBT, CtlrNum: 2, Iteration: 2 \n"
                    "  Result: Iteration: 5 FAIL - Unknown Error Code\n");
    EXPECT_EQ(log_, " \rTestid/subtestid : MEMORY_TEST [01h] / MEMORY_MOVING_INVERSION_FBT [004h] \r\n"
                    "Result: Iteration: 1 DIAG_NO_ERROR [0000] \r\n"
                    "Failed to execute memorytest: MEM_MOVING_INVR_FBT, CtlrNum: 2, Iteration: 2 \r\n"
                    " \rTestid/subtestid : MEMORY_TEST [01h] / MEMORY_MOVING_INVERSION_FBT [004h] \r\n"
                    "Result: Iteration: 5 UNKNOWN ERROR CODE [0042] \r\n");
    // Five sends, and a status read after each of the four the controller accepted.
    EXPECT_EQ(diag_->sends, 5);
    EXPECT_EQ(diag_->reads, 4);
}

TEST_F(ToolDiagnostics, MramFillThenVerifyPatchTheirCdbs) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Run([this] { QV_MRAMTestDataFill(cda()); });
    EXPECT_EQ(out_, "MRAM Test Data Fill - PASS \n");
    EXPECT_EQ(log_, "MRAM Test Data Fill - PASS \r\n");
    ASSERT_EQ(diag_->sent.size(), 2u);
    const Bytes fill = {0x27, 0, 0, 0, 0, 0, 0x42, 0, 0x84, 0, 0, 0, 0x04, 0, 0x01, 0x01};
    Bytes fill_done = fill;
    fill_done[14] = 0x03;
    EXPECT_EQ(diag_->sent[0].cdb, fill);
    EXPECT_EQ(diag_->sent[1].cdb, fill_done);
    Bytes pattern(1024);
    GenerateData(pattern.data(), 1024);
    EXPECT_EQ(diag_->sent[0].data_out, pattern);
    EXPECT_EQ(diag_->sent[1].data_out, pattern);

    Run([this] { QV_MRAMTestDataVerify(cda()); });
    EXPECT_EQ(out_, "MRAM Test Data Verify - PASS \n");
    ASSERT_EQ(diag_->sent.size(), 2u);
    const Bytes verify = {0x26, 0, 0, 0, 0, 0, 0x42, 0, 0x84, 0, 0, 0, 0x04, 0, 0x01, 0x02};
    Bytes verify_done = verify;
    verify_done[14] = 0x04;
    EXPECT_EQ(diag_->sent[0].cdb, verify);
    EXPECT_EQ(diag_->sent[1].cdb, verify_done) << "byte 0 stays 0x26 while data goes out";
    EXPECT_EQ(diag_->sent[1].data_out, pattern) << "what was read goes back";

    diag_->refuse_small_reads = true;
    Run([this] { QV_MRAMTestDataVerify(cda()); });
    EXPECT_EQ(out_,
              "MRAM Test Data Verify : - MRAM read failure (Status = 0x0)\nMRAM Test Data Verify - FAIL \n");
    EXPECT_EQ(log_,
              "MRAM Test Data Verify : - MRAM read failure(Status = 0x0)\nMRAM Test Data Verify - FAIL \r\n");
    ASSERT_EQ(diag_->sent.size(), 2u);
    EXPECT_EQ(diag_->sent[1].cdb[14], MRAM_TEST_FAILED);
}

TEST_F(ToolDiagnostics, RevisionShowsBytesZeroTwoOne) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Run([this] { QV_FWDiagRevision(cda()); });
    EXPECT_EQ(out_, "Firmware Diag Revision = 5.1.89 \n");
    EXPECT_EQ(log_, "Firmware Diag Revision = 5.1.89 \r\n");
    diag_->refuse_small_reads = true;
    Run([this] { QV_FWDiagRevision(cda()); });
    EXPECT_EQ(out_, "Failed to get Firmware Diag Revision \n");
    EXPECT_EQ(log_, "Failed to get Firmware Diag Revision \r\n");
}

TEST_F(ToolDiagnostics, MessageCountersAndTheirSerialLogLines) {
    auto serial = std::make_shared<Bytes>();
    auto log_reads = std::make_shared<int>(0);
    ASSERT_NO_FATAL_FAILURE(Start());
    // The serial output buffer; its last line has no line end and there is no NUL after it.
    const std::string text = "boot ok\n"
                             "ALERT: Cache signature does not match expected value!\n"
                             "  x  ERROR: a ERROR: b\n"
                             "WARNING: Backup power: msg type =0x200";
    *serial = Bytes(text.begin(), text.end());
    ServeSerialLog(serial, log_reads);

    Run([this] { QV_SOBMessageCounters(cda()); });
    EXPECT_EQ(out_, "SOB Message Counters \n  Alerts   = 0 \n  Errors   = 0 \n  Warnings = 0 \n");
    EXPECT_EQ(log_, "SOB Message Counters \r\n  Alerts   = 0 \n  Errors   = 0 \n  Warnings = 0 \n");
    EXPECT_EQ(*log_reads, 0) << "zero counters: the serial log is not read";

    diag_->counters = {1, 2, 1};
    Run([this] { QV_SOBMessageCounters(cda()); });
    const std::string stars(77, '*');
    EXPECT_EQ(out_, "SOB Message Counters \n  Alerts   = 1 \n  Errors   = 2 \n  Warnings = 1 \n" + stars +
                        " \nParsed events from controller serial log :  \n"
                        "ALERT: Cache signature does not match expected value! \n"
                        "ERROR: a ERROR: b \n"
                        "ERROR: b \n"
                        "WARNING: Backup power: msg type =0x200 \n");
    EXPECT_EQ(log_, "SOB Message Counters \r\n  Alerts   = 1 \n  Errors   = 2 \n  Warnings = 1 \n" + stars +
                        " \r\nParsed events from controller serial log :   \r\n\n"
                        "ALERT: Cache signature does not match expected value! \r\n"
                        "ERROR: a ERROR: b \r\n"
                        "ERROR: b \r\n"
                        "WARNING: Backup power: msg type =0x200 \r\n");

    serial->clear();
    Run([this] { QV_SOBMessageCounters(cda()); });
    EXPECT_EQ(out_.substr(out_.size() - 36), " **error occured while reading log \n");
    EXPECT_EQ(log_.substr(log_.size() - 37), " **error occured while reading log \r\n");

    diag_->refuse_small_reads = true;
    Run([this] { QV_SOBMessageCounters(cda()); });
    EXPECT_EQ(out_, "Failed to get SOB message counters \n");
    EXPECT_EQ(log_, "Failed to get SOB message counters \r\n");
}

} // namespace
