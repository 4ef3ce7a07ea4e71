// The tool's maintenance workers against a simulated controller whose manufacturing record, NVRAM
// and collect buffer the test plays: what each sends, what it prints and logs, and that a failed
// step never reads as success.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bmic.h"
#include "cli.h"
#include "externs.h"
#include "ptelm.h"
#include "telm_private.h"
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

struct Maintained {
    Bytes record = Bytes(256, 0);          // what 0x82 function 1 answers
    std::vector<Bytes> record_writes;      // 0x82 writes received
    std::vector<Bytes> nvram_writes;       // 0x46 writes received
    std::vector<Bytes> cdbs;               // every maintenance CDB, in order
    bool refuse_record_read = false;
    bool refuse_record_write = false;
    bool refuse_nvram = false;
    std::vector<std::uint32_t> chunk_details;
    int failing_chunk = 0;
};

Reply Refused() {
    return qvsim::check_condition(0x05, 0x24, 0x00);
}

class Maintenance : public telmar_host::ControllerHost {
protected:
    void SetUp() override {
        saved_lfp_ = lfp;
        lfp = std::tmpfile();
        ASSERT_NE(lfp, nullptr);
        dir_ = ::testing::TempDir() + "maintenance_" + std::to_string(::getpid()) + "/";
        std::string mk = "mkdir -p " + dir_;
        ASSERT_EQ(std::system(mk.c_str()), 0);
        for (int i = 0; i < 256; ++i) {
            m_->record[i] = static_cast<std::uint8_t>(i);
        }
        const char serial[] = "SN0123456789ABC"; // 15 characters: no terminator in the record
        std::memcpy(m_->record.data() + 8, serial, 15);
        const std::uint8_t wwid[8] = {0x50, 0x01, 0x43, 0x80, 0x12, 0x34, 0x56, 0x78};
        std::memcpy(m_->record.data(), wwid, 8);
    }

    void Start(qvsim::FirmwareState state = {}) {
        auto m = m_;
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state), [m](qvsim::FwController& fw) {
            fw.on_bmic(BmicDirection::kRead, 0x82, [m](ControllerFirmware&, const Command& cmd, const BmicCdb& b) {
                if (b.detail != 1) {
                    Reply r;
                    r.data_in = m->record;
                    return r;
                }
                m->cdbs.push_back(cmd.cdb);
                if (m->refuse_record_read) {
                    return Refused();
                }
                Reply r;
                r.data_in = m->record;
                return r;
            });
            fw.on_bmic(BmicDirection::kWrite, 0x82, [m](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                m->cdbs.push_back(cmd.cdb);
                m->record_writes.push_back(cmd.data_out);
                return m->refuse_record_write ? Refused() : Reply{};
            });
            fw.on_bmic(BmicDirection::kWrite, 0x46, [m](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                m->cdbs.push_back(cmd.cdb);
                m->nvram_writes.push_back(cmd.data_out);
                return m->refuse_nvram ? Refused() : Reply{};
            });
            fw.on_bmic(BmicDirection::kRead, 0x46, [m](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                m->cdbs.push_back(cmd.cdb);
                Reply r;
                r.data_in = Bytes(256, 0x6D);
                return r;
            });
            for (std::uint8_t opcode : {0xD3, 0xF7, 0xFD, 0x98, 0x99}) {
                fw.on_bmic(BmicDirection::kWrite, opcode,
                           [m](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                               m->cdbs.push_back(cmd.cdb);
                               return Reply{};
                           });
            }
            fw.on_bmic(BmicDirection::kWrite, 0xD2, [m](ControllerFirmware&, const Command& cmd, const BmicCdb& b) {
                m->cdbs.push_back(cmd.cdb);
                m->chunk_details.push_back(b.detail);
                return static_cast<int>(m->chunk_details.size()) == m->failing_chunk ? Refused() : Reply{};
            });
        }));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        CDAs[0] = cda();
        gNumOfControllersFound = 1;
    }

    void TearDown() override {
        pCDA = nullptr;
        CDAs[0] = nullptr;
        gNumOfControllersFound = 0;
        StopController();
        std::fclose(lfp);
        lfp = saved_lfp_;
        std::string rm = "rm -rf " + dir_;
        (void)std::system(rm.c_str());
        qvsim::SimHostTest::TearDown();
    }

    std::string File(const std::string& name, size_t size) {
        const std::string path = dir_ + name;
        std::ofstream f(path, std::ios::binary);
        for (size_t i = 0; i < size; ++i) {
            f.put(static_cast<char>(i * 13));
        }
        return path;
    }

    // Runs a handler with the command line given and returns what it returned.
    VK_BYTE Handle(VK_BYTE (*handler)(), std::vector<std::string> args) {
        args.insert(args.begin(), "quorvel");
        argv_.clear();
        for (auto& a : args) {
            argv_.push_back(a.data());
        }
        argv_.push_back(nullptr);
        gArgc = static_cast<int>(args.size());
        gArgv = argv_.data();
        args_ = std::move(args);
        VK_BYTE result = 0;
        captured_ = tool_host::CaptureRun(lfp, [&] { result = handler(); });
        gArgc = 0;
        gArgv = nullptr;
        return result;
    }

    std::vector<int> Opcodes() {
        std::vector<int> out;
        for (const auto& cdb : m_->cdbs) {
            out.push_back(cdb.at(6));
        }
        return out;
    }

    std::shared_ptr<Maintained> m_ = std::make_shared<Maintained>();
    tool_host::Captured captured_;
    std::string dir_;
    std::vector<std::string> args_;
    std::vector<char*> argv_;
    FILE* saved_lfp_ = nullptr;
};

const char kFlashed[] = "Flashing Controller : SUCCESS\n\rA reboot will be required for changes to take effect.";

TEST_F(Maintenance, FirmwareFlashPausesValidatesFlashesAndResumes) {
    struct Case {
        const char* name;
        bool flash_once;
        int failing_chunk;
        std::vector<int> opcodes;
        std::string out, log;
    };
    const std::vector<int> transfer = {0xD3, 0xD2, 0xD2, 0xD2};
    auto join = [](std::initializer_list<std::vector<int>> parts) {
        std::vector<int> all;
        for (const auto& p : parts) {
            all.insert(all.end(), p.begin(), p.end());
        }
        return all;
    };
    const Case cases[] = {
        {"flashed twice",
         false,
         0,
         join({{0x98}, transfer, {0xFD, 0xD3}, transfer, {0xF7, 0xD3}, transfer, {0xF7, 0xD3}, {0x99}}),
         std::string(kFlashed) + "\n",
         std::string(kFlashed) + " \r\n"},
        {"flashed once",
         true,
         0,
         join({{0x98}, transfer, {0xFD, 0xD3}, transfer, {0xF7, 0xD3}, {0x99}}),
         std::string(kFlashed) + "\n",
         std::string(kFlashed) + " \r\n"},
        {"second chunk of the flash refused",
         true,
         5,
         join({{0x98}, transfer, {0xFD, 0xD3}, {0xD3, 0xD2, 0xD2, 0xD3}, {0x99}}),
         "Flashing Controller : FAILED\n",
         "Flashing Controller : FAILED\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::FirmwareState state;
        if (c.flash_once) {
            state.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x46, 0x00, 0x00, 0x00, 0x01, 0x00});
        }
        ASSERT_NO_FATAL_FAILURE(Start(state));
        m_->failing_chunk = c.failing_chunk;
        EXPECT_EQ(Handle(Cli_FlashRomImage, {"--flash=" + File("fw.bin", 40000), "1"}), QV_CMD_SUCCESS);
        EXPECT_EQ(Opcodes(), c.opcodes);
        EXPECT_EQ(captured_.out, c.out);
        EXPECT_EQ(captured_.log, c.log);
        StopController();
        m_ = std::make_shared<Maintained>();
    }
}

TEST_F(Maintenance, FilesThatCannotBeSentSendNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    struct Case {
        VK_BYTE (*handler)();
        std::string keyword;
        std::string out, log;
    };
    const std::string missing = dir_ + "missing.bin";
    const Case cases[] = {
        {Cli_FlashRomImage, "--flash=", "Opening file : FAILED\n", "Opening file : FAILED \r\n"},
        {Cli_FlashMFGData, "--flash-mfgdata=", "Opening file : FAILED\n", "Opening file : FAILED \r\n"},
        {Cli_FlashSepromNvram, "--flash-nvram=", "Opening file : FAILED\n", "Opening file : FAILED \r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyword);
        EXPECT_EQ(Handle(c.handler, {c.keyword + missing, "1"}), QV_CMD_SUCCESS);
        EXPECT_EQ(captured_.out, c.out);
        EXPECT_EQ(captured_.log, c.log);
    }
    // An NVRAM image of 65,536 bytes cannot be announced in 16 bits.
    EXPECT_EQ(Handle(Cli_FlashSepromNvram, {"--flash-nvram=" + File("big.bin", 65536), "1"}), QV_CMD_SUCCESS);
    EXPECT_EQ(captured_.out, "SEEPROM NVRAM image larger than 65535 bytes, not sent\n"
                             "Flashing entire SEEPROM NVRAM of Controller : FAILED\n");
    EXPECT_TRUE(m_->cdbs.empty());

    // Preserve with a missing image: the record is read, nothing is written back.
    EXPECT_EQ(Handle(Cli_PreserveCurrentManufacturingData, {"--preserve=" + missing, "1"}), QV_CMD_SUCCESS);
    EXPECT_EQ(captured_.out, "Get Manufacturing Data : SUCCESS\nOpening file : FAILED\n");
    EXPECT_EQ(Opcodes(), std::vector<int>{0x82});
    EXPECT_TRUE(m_->record_writes.empty());
}

TEST_F(Maintenance, NvramFlashAndPreserveWriteTheSavedRecordBack) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string image = File("nv.bin", 16384);
    EXPECT_EQ(Handle(Cli_FlashSepromNvram, {"--flash-nvram=" + image, "1"}), QV_CMD_SUCCESS);
    ASSERT_EQ(m_->cdbs.size(), 1u);
    EXPECT_EQ(Bytes(m_->cdbs[0].begin(), m_->cdbs[0].begin() + 11),
              (Bytes{0x27, 0x00, 0x08, 0x01, 0x00, 0x00, 0x46, 0x40, 0x00, 0x00, 0x00}));
    EXPECT_EQ(m_->nvram_writes.at(0).size(), 16384u);

    m_->cdbs.clear();
    const Bytes saved = m_->record;
    EXPECT_EQ(Handle(Cli_PreserveCurrentManufacturingData, {"--preserve=" + image, "1"}), QV_CMD_SUCCESS);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x82, 0x46, 0x82}));
    ASSERT_EQ(m_->record_writes.size(), 1u);
    EXPECT_EQ(m_->record_writes[0], saved);
    const std::string nvram_ok =
        "Flashing entire SEEPROM NVRAM of Controller : SUCCESS\n\rA reboot will be required for changes to take "
        "effect.";
    const std::string preserved = "Preserve Current Manufacturing Data of the Controller : SUCCESS\n\rA reboot will "
                                  "be required for changes to take effect.";
    EXPECT_EQ(captured_.out, "Get Manufacturing Data : SUCCESS\n" + nvram_ok + "\n" + preserved + "\n");
    EXPECT_EQ(captured_.log, nvram_ok + " \r\n" + preserved + " \r\n");

    // A refused NVRAM write leaves the record unwritten.
    m_->record_writes.clear();
    m_->refuse_nvram = true;
    EXPECT_EQ(Handle(Cli_PreserveCurrentManufacturingData, {"--preserve=" + image, "1"}), QV_CMD_SUCCESS);
    EXPECT_TRUE(m_->record_writes.empty());
    EXPECT_EQ(captured_.log, "Preserve Current Manufacturing Data of the Controller : FAILED\n");
}

TEST_F(Maintenance, SerialNumberIsCheckedThenWrittenIntoTheRecord) {
    ASSERT_NO_FATAL_FAILURE(Start());
    for (const char* bad : {"ABCDEFGHIJKLMNOP", "AB-CD"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Handle(Cli_SetSerialNumber, {std::string("--set-sn=") + bad, "1"}), QV_CMD_ARGS_INVALID_SYNTAX);
        EXPECT_TRUE(m_->cdbs.empty());
    }
    const Bytes before = m_->record;
    EXPECT_EQ(Handle(Cli_SetSerialNumber, {"--set-sn=0151F300139", "1"}), QV_CMD_SUCCESS);
    const std::string ok =
        "Set Controller serial number result : SUCCESS\n\rA reboot will be required for all new values to take "
        "effect.";
    EXPECT_EQ(captured_.out, "Current Controller Serial Number: SN0123456789ABC\n"
                             "New Controller Serial Number: 0151F300139\n" +
                                 ok + "\n");
    EXPECT_EQ(captured_.log, ok + " \r\n");
    ASSERT_EQ(m_->record_writes.size(), 1u);
    Bytes expected = before;
    std::memcpy(expected.data() + 8, "0151F300139", 11);
    std::memset(expected.data() + 19, 0, 4);
    EXPECT_EQ(m_->record_writes[0], expected);
    EXPECT_EQ(Bytes(m_->cdbs.back().begin(), m_->cdbs.back().begin() + 11),
              (Bytes{0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x82, 0x01, 0x00, 0x00, 0x00}));

    m_->refuse_record_write = true;
    EXPECT_EQ(Handle(Cli_SetSerialNumber, {"--set-sn=X1", "1"}), QV_CMD_SUCCESS);
    EXPECT_NE(captured_.out.find("Modifying Manufacturing Data failed\n"
                                 "Set Controller serial number result : FAILED\n"),
              std::string::npos);
}

TEST_F(Maintenance, WWIDNeedsSixteenHexDigitsAndTheNAA) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string invalid = "Invalid WWID. Valid input for WWID is 16 hex digits starting with 5\n";
    const std::string current = "Current Controller SEEPROM WWID:5001438012345678\n";
    struct Case {
        std::string operand;
        std::string out;
        size_t cdbs;
    };
    const Case cases[] = {
        {"", "WWID is not provided \n", 0},
        {"51112222333ABCD", invalid, 0},
        {"5111222233G3ABCD", invalid, 0},
        {"411122223333ABCD", current + invalid, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.operand);
        m_->cdbs.clear();
        EXPECT_EQ(Handle(Cli_SetSeepromWWID, {"--set-wwid=" + c.operand, "1"}), QV_CMD_SUCCESS);
        EXPECT_EQ(captured_.out, c.out);
        EXPECT_EQ(m_->cdbs.size(), c.cdbs);
        EXPECT_TRUE(m_->record_writes.empty());
    }
    const Bytes before = m_->record;
    EXPECT_EQ(Handle(Cli_SetSeepromWWID, {"--set-wwid=511122223333abcd", "1"}), QV_CMD_SUCCESS);
    const std::string ok =
        "Set Controller Seeprom WWID result : SUCCESS\n\rA reboot will be required for all new values to take "
        "effect.";
    EXPECT_EQ(captured_.out, current + "New Controller SEEPROM WWID: 511122223333ABCD\n" + ok + "\n");
    ASSERT_EQ(m_->record_writes.size(), 1u);
    Bytes expected = before;
    const std::uint8_t wwid[8] = {0x51, 0x11, 0x22, 0x22, 0x33, 0x33, 0xAB, 0xCD};
    std::memcpy(expected.data(), wwid, 8);
    EXPECT_EQ(m_->record_writes[0], expected);
}

TEST_F(Maintenance, ManufacturingDataIsReadAndAppendedToTheFile) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string out = dir_ + "mfg.bin";
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(Handle(Cli_ReadManufacturingData, {"--read-mfgdata=" + out, "1"}), QV_CMD_SUCCESS);
        EXPECT_EQ(captured_.out, "Read Controller Manufacturing Data status : SUCCESS\n");
        EXPECT_EQ(captured_.log, "Read Controller Manufacturing Data status : SUCCESS \r\n");
    }
    std::ifstream f(out, std::ios::binary | std::ios::ate);
    EXPECT_EQ(static_cast<long>(f.tellg()), 512);
    EXPECT_EQ(Bytes(m_->cdbs[0].begin(), m_->cdbs[0].begin() + 11),
              (Bytes{0x26, 0x00, 0x01, 0x00, 0x00, 0x00, 0x46, 0x01, 0x00, 0x00, 0x00}));

    EXPECT_EQ(Handle(Cli_ReadManufacturingData, {"--read-mfgdata=" + dir_ + "no/such/dir/x.bin", "1"}),
              QV_CMD_SUCCESS);
    EXPECT_EQ(captured_.out, "Opening file : FAILED\n");
}

TEST_F(Maintenance, ManufacturingDataFlashNeedsFeatureVersionSeven) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string file = File("m.bin", 256);
    _VK_CDA(cda())->controller_firmware_feature_version = 7;
    EXPECT_EQ(Handle(Cli_FlashMFGData, {"--flash-mfgdata=" + file, "1"}), QV_CMD_SUCCESS);
    EXPECT_EQ(captured_.out,
              "Flashing Controller Manufacturing Data : SUCCESS\n\rA reboot will be required for changes to take "
              "effect.\n");
    EXPECT_EQ(captured_.log,
              "Flashing Controller  Manufacturing Data : SUCCESS\n\rA reboot will be required for changes to take "
              "effect. \r\n");
    ASSERT_EQ(m_->nvram_writes.size(), 1u);
    EXPECT_EQ(m_->cdbs[0][2], 0x01);
    EXPECT_EQ(m_->cdbs[0][3], 0x01);

    m_->cdbs.clear();
    _VK_CDA(cda())->controller_firmware_feature_version = 5;
    EXPECT_EQ(Handle(Cli_FlashMFGData, {"--flash-mfgdata=" + file, "1"}), QV_CMD_SUCCESS);
    EXPECT_EQ(captured_.out, "Flashing Controller Manufacturing Data : FAILED\n");
    EXPECT_TRUE(m_->cdbs.empty());
}

} // namespace
