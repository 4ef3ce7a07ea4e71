// Firmware flash, image validation, online activation and raw manufacturing data against a
// simulated controller whose collect buffer is played by the test.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ptelm.h"
#include "ptelm_flash.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_pprivate.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::BmicDirection;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::ControllerFirmware;
using qvsim::FirmwareState;
using qvsim::Reply;

// What the controller's collect buffer saw.
struct CollectBuffer {
    struct Chunk {
        std::uint32_t detail;
        Bytes data;
    };
    std::vector<Chunk> chunks;
    std::vector<std::uint32_t> timeouts; // of 0xF7 and 0xFD, in order
    int failing_chunk = 0;               // 1-based chunk answered with CHECK CONDITION
    bool refuse_activate = false;
    bool refuse_validate = false;
    Bytes ofa_status;               // what 0xD4 function 3 answers
    Bytes ofa_reply = Bytes(16, 0); // what 0xD4 functions 1, 2, 4 and 5 answer
    std::vector<Bytes> ofa_written;
};

std::vector<VK_BYTE> g_progress;
void RecordProgress(VK_BYTE percent) {
    g_progress.push_back(percent);
}

Bytes Image(size_t size) {
    Bytes image(size);
    for (size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    return image;
}

class Flash : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState state = {}) {
        auto buffer = buffer_;
        buffer->ofa_status = qvsim::fw_ofa_status(state);
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state), [buffer](qvsim::FwController& fw) {
            auto refuse = [] { return qvsim::check_condition(0x05, 0x24, 0x00); };
            fw.on_bmic(BmicDirection::kWrite, 0xD3,
                       [](ControllerFirmware&, const Command&, const BmicCdb&) { return Reply{}; });
            fw.on_bmic(BmicDirection::kWrite, 0xD2,
                       [buffer, refuse](ControllerFirmware&, const Command& cmd, const BmicCdb& b) {
                           buffer->chunks.push_back({b.detail, cmd.data_out});
                           return static_cast<int>(buffer->chunks.size()) == buffer->failing_chunk ? refuse()
                                                                                                   : Reply{};
                       });
            fw.on_bmic(BmicDirection::kWrite, 0xF7,
                       [buffer, refuse](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                           buffer->timeouts.push_back(cmd.timeout_sec);
                           return buffer->refuse_activate ? refuse() : Reply{};
                       });
            fw.on_bmic(BmicDirection::kWrite, 0xFD,
                       [buffer, refuse](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
                           buffer->timeouts.push_back(cmd.timeout_sec);
                           return buffer->refuse_validate ? refuse() : Reply{};
                       });
            auto ofa = [buffer](ControllerFirmware&, const Command& cmd, const BmicCdb& b) {
                if (b.detail == 3) {
                    Reply r;
                    r.data_in = buffer->ofa_status;
                    return r;
                }
                if (b.write) {
                    buffer->ofa_written.push_back(cmd.data_out);
                }
                Reply r;
                r.data_in = buffer->ofa_reply;
                return r;
            };
            fw.on_bmic(BmicDirection::kRead, 0xD4, ofa);
            fw.on_bmic(BmicDirection::kWrite, 0xD4, ofa);
        }));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
        g_progress.clear();
    }

    void Stop() {
        StopController();
        buffer_ = std::make_shared<CollectBuffer>();
    }

    _CDA* data() { return _VK_CDA(cda()); }

    // The commands of the transfer and the activation exchanges, without the cached reads the
    // permission checks make on first use.
    std::vector<int> FlashOpcodes() {
        std::vector<int> out;
        for (const BmicCdb& b : Received()) {
            if (b.opcode != 0x61 && !(b.opcode == 0xD4 && b.detail == 3)) {
                out.push_back(b.opcode);
            }
        }
        return out;
    }

    std::shared_ptr<CollectBuffer> buffer_ = std::make_shared<CollectBuffer>();
};

TEST_F(Flash, ImageTravelsInNumberedChunksAndIsActivatedOnce) {
    struct Case {
        const char* name;
        size_t size;
        std::vector<std::uint32_t> details; // of the chunks checked, by index
        std::vector<size_t> checked;
        std::vector<VK_BYTE> progress;
    };
    const Case cases[] = {
        {"three chunks", 40000, {0x00000301, 0x00000302, 0x00000303}, {0, 1, 2}, {25, 50, 75, 100}},
        {"exactly one chunk", 16384, {0x00000101}, {0}, {50, 100}},
        {"chunk numbers past one byte", 300 * 16384 - 5, {0x01012C01, 0x01012C2C}, {256, 299}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        data()->flags[kCDAFlagsModel] |= kCDAModelArraysBuilt | kCDAModelFirstUnusedLDFound;
        const Bytes image = Image(c.size);
        EXPECT_EQ(VK_FlashController(cda(), image.data(), static_cast<VK_DWORD>(image.size()), RecordProgress),
                  kFlashControllerSuccess);

        const size_t total = (c.size + 16383) / 16384;
        std::vector<int> expected_opcodes = {0xD3};
        expected_opcodes.insert(expected_opcodes.end(), total, 0xD2);
        expected_opcodes.insert(expected_opcodes.end(), {0xF7, 0xD3});
        EXPECT_EQ(FlashOpcodes(), expected_opcodes);
        ASSERT_EQ(buffer_->chunks.size(), total);
        for (size_t i = 0; i < c.checked.size(); ++i) {
            EXPECT_EQ(buffer_->chunks[c.checked[i]].detail, c.details[i]) << c.checked[i];
        }
        // The chunks put back together are the image, each at its real size.
        Bytes joined;
        for (const auto& chunk : buffer_->chunks) {
            joined.insert(joined.end(), chunk.data.begin(), chunk.data.end());
        }
        EXPECT_EQ(joined, image);
        const auto received = Received();
        EXPECT_EQ(received[received.size() - 2].detail, 0u) << "activation frees the collect buffer";
        EXPECT_EQ(buffer_->timeouts, std::vector<std::uint32_t>{60});
        if (!c.progress.empty()) {
            EXPECT_EQ(g_progress, c.progress);
        } else {
            ASSERT_EQ(g_progress.size(), total + 1);
            EXPECT_EQ(g_progress.back(), 100);
        }
        // Only the array model is to be rebuilt.
        EXPECT_EQ(data()->flags[kCDAFlagsModel] & kCDAModelArraysBuilt, 0u);
        EXPECT_NE(data()->flags[kCDAFlagsModel] & kCDAModelFirstUnusedLDFound, 0u);
        Stop();
    }
}

TEST_F(Flash, AFailedStepIsNeverReportedAsFlashed) {
    struct Case {
        const char* name;
        int failing_chunk;
        bool refuse_activate;
        std::vector<int> opcodes;
        std::vector<VK_BYTE> progress;
    };
    const Case cases[] = {
        {"second chunk refused", 2, false, {0xD3, 0xD2, 0xD2, 0xD3}, {25}},
        {"activation refused", 0, true, {0xD3, 0xD2, 0xD2, 0xD2, 0xF7, 0xD3}, {25, 50, 75}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start());
        buffer_->failing_chunk = c.failing_chunk;
        buffer_->refuse_activate = c.refuse_activate;
        data()->flags[kCDAFlagsModel] |= kCDAModelArraysBuilt;
        const Bytes image = Image(40000);
        EXPECT_EQ(VK_FlashController(cda(), image.data(), 40000, RecordProgress), kFlashControllerFailed);
        EXPECT_EQ(FlashOpcodes(), c.opcodes);
        EXPECT_EQ(g_progress, c.progress);
        EXPECT_NE(data()->flags[kCDAFlagsModel] & kCDAModelArraysBuilt, 0u);
        Stop();
    }
}

TEST_F(Flash, PermissionAndImageChecksSendNothing) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const Bytes image = Image(100);
    EXPECT_EQ(VK_FlashController(cda(), nullptr, 100, nullptr), kFlashControllerFailed);
    EXPECT_EQ(VK_FlashController(cda(), image.data(), 0, nullptr), kFlashControllerFailed);
    EXPECT_EQ(VK_ValidateControllerImage(cda(), nullptr, 100), kValidateControllerImageCannotValidateImage);
    EXPECT_EQ(VK_ValidateControllerImage(cda(), image.data(), 0), kValidateControllerImageCannotValidateImage);
    // More than 65,535 chunks cannot be numbered: refused before anything is sent (the image
    // pointer is never read past its 100 bytes because nothing is transferred).
    const VK_DWORD too_big = 65535u * 16384u + 1;
    EXPECT_EQ(VK_CanFlashController(cda(), too_big), kCanFlashControllerInvalidImageSize);
    EXPECT_EQ(VK_CanFlashController(cda(), 65535u * 16384u), kCanFlashControllerOK);
    EXPECT_EQ(VK_FlashController(cda(), image.data(), too_big, nullptr), kFlashControllerFailed);
    EXPECT_EQ(VK_ValidateControllerImage(cda(), image.data(), too_big), kValidateControllerImageCannotValidateImage);
    EXPECT_EQ(VK_ValidateControllerOnlineFlash(cda(), image.data(), too_big),
              kControllerOnlineFirmwareActivationValidateUnknownError);
    EXPECT_TRUE(FlashOpcodes().empty());
    EXPECT_EQ(_VK_FlashControllerFirmwareCollectBuffer(cda(), 0, 1, image.data(), 10), kFalse);
    EXPECT_EQ(_VK_FlashControllerFirmwareCollectBuffer(cda(), 2, 1, image.data(), 10), kFalse);
    EXPECT_EQ(_VK_FlashControllerFirmwareCollectBuffer(cda(), 1, 0, image.data(), 10), kFalse);
    EXPECT_EQ(_VK_FlashControllerFirmwareCollectBuffer(cda(), 1, 1, nullptr, 10), kFalse);
    EXPECT_EQ(_VK_FlashControllerFirmwareCollectBuffer(cda(), 1, 1, image.data(), 0), kFalse);
    EXPECT_EQ(buffer_->chunks.size(), 0u);
}

TEST_F(Flash, EncryptionLockStopsTheFlashButNotTheValidation) {
    FirmwareState state;
    state.set_page("encryption", {0x01});
    state.identify.encryption_status = 0x4000;
    ASSERT_NO_FATAL_FAILURE(Start(state));
    const Bytes image = Image(40000);
    EXPECT_EQ(VK_CanFlashController(cda(), 40000) & kCanFlashControllerFWLocked, kCanFlashControllerFWLocked);
    EXPECT_EQ(VK_FlashController(cda(), image.data(), 40000, nullptr), kFlashControllerFailed);
    EXPECT_TRUE(buffer_->chunks.empty());
    EXPECT_EQ(VK_ValidateControllerImage(cda(), image.data(), 40000), kValidateControllerImageOK);
    EXPECT_EQ(buffer_->chunks.size(), 3u);
    buffer_->refuse_validate = true;
    EXPECT_EQ(VK_ValidateControllerImage(cda(), image.data(), 40000), kValidateControllerImageFailed);
    const auto received = Received();
    ASSERT_GE(received.size(), 6u);
    EXPECT_EQ(received[received.size() - 2].opcode, 0xFD);
    EXPECT_EQ(received[received.size() - 2].detail, 1u);
    EXPECT_EQ(received.back().opcode, 0xD3);
}

TEST_F(Flash, ActiveROMToggleChecksInItsOrder) {
    struct Case {
        const char* name;
        std::uint8_t rom_status;
        std::uint8_t ofa_status;
        std::uint32_t encryption;
        bool cache_problem;
        VK_BYTE can;
    };
    const Case cases[] = {
        {"allowed", 0x00, 255, 0, false, kCanToggleControllerActiveROMImageOK},
        {"no second image", 0x10, 1, 0x4000, true, kCanToggleControllerActiveROMImageNotSupported},
        {"controller not OK", 0x00, 1, 0x4000, true, kCanToggleControllerActiveROMImageControllerStateNotOK},
        {"activation running", 0x00, 1, 0x4000, false, kCanToggleControllerActiveROMImageOFAInProgress},
        {"activation only delaying", 0x00, 251, 0, false, kCanToggleControllerActiveROMImageOK},
        {"firmware locked", 0x00, 255, 0x4000, false, kCanToggleControllerActiveROMImageFirmwareIsLocked},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState state;
        state.identify.active_rom_status = c.rom_status;
        state.ofa.status = c.ofa_status;
        state.set_page("encryption", {0x01});
        state.identify.encryption_status = c.encryption;
        if (c.cache_problem) {
            state.cache.cache_flags = 0x4;
            state.cache.disable_code = 0x11;
        }
        ASSERT_NO_FATAL_FAILURE(Start(state));
        EXPECT_EQ(VK_CanToggleControllerActiveROMImage(cda()), c.can);
        host().clear_requests();
        const bool allowed = c.can == kCanToggleControllerActiveROMImageOK;
        EXPECT_EQ(VK_ToggleControllerActiveROMImage(cda()),
                  allowed ? kToggleControllerActiveROMImageSuccess : kToggleControllerActiveROMImageFailed);
        const auto opcodes = Opcodes();
        EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0xFC), allowed ? 1 : 0);
        Stop();
    }
}

TEST_F(Flash, ActivationStatusMapsTheFirmwareStates) {
    struct Case {
        std::uint8_t firmware;
        std::uint8_t percent;
        VK_BYTE status;
        VK_BYTE progress;
        bool running, started;
        VK_WORD can_flash;
        VK_QWORD can_validate;
        VK_DWORD can_abort;
    };
    const Case cases[] = {
        {255, 10, 0x00, 101, false, false, 0, 0, 3},
        {254, 0, 0x01, 101, false, false, 0, 0, 3},
        {252, 0, 0x02, 101, false, false, 0, 0, 3},
        {253, 0, 0x03, 101, true, false, 0x8, 0x2000, 0},
        {3, 40, 0x06, 40, true, true, 0x8, 0x2000, 3},
        {6, 90, 0x09, 90, true, true, 0x8, 0x2000, 3},
        {251, 5, 0x0A, 101, false, false, 0x8, 0x2, 0},
        {7, 5, 0xFF, 5, true, true, 0x8, 0x2000, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.firmware));
        FirmwareState state;
        state.ofa.status = c.firmware;
        state.ofa.percent = c.percent;
        state.ofa.delay_set = 30;
        state.ofa.delay_remaining = 12;
        ASSERT_NO_FATAL_FAILURE(Start(state));
        VK_CONTROLLER_OFA_STATUS status;
        ASSERT_TRUE(VK_GetControllerOnlineFirmwareActivationStatus(cda(), &status));
        EXPECT_EQ(status.status, c.status);
        EXPECT_EQ(status.progress_percent, c.progress);
        EXPECT_EQ(status.delay_requested_minutes, 30);
        EXPECT_EQ(status.delay_remaining_minutes, 12);
        EXPECT_EQ(_VK_IsControllerOnlineFirmwareActivationRunning(cda(), kFalse) != 0, c.running);
        EXPECT_EQ(_VK_HasControllerOnlineFirmwareActivationStarted(cda(), kFalse) != 0, c.started);
        EXPECT_EQ(VK_CanFlashController(cda(), 100), c.can_flash);
        EXPECT_EQ(VK_CanValidateControllerOnlineFlash(cda()), c.can_validate);
        EXPECT_EQ(VK_CanAbortControllerOnlineFlash(cda()), c.can_abort);
        Stop();
    }
}

TEST_F(Flash, StatusIsCachedUntilMarkedStale) {
    ASSERT_NO_FATAL_FAILURE(Start());
    auto status_reads = [&] {
        int n = 0;
        for (const BmicCdb& b : Received()) {
            n += b.opcode == 0xD4 && b.detail == 3;
        }
        return n;
    };
    VK_CONTROLLER_OFA_STATUS status;
    EXPECT_TRUE(VK_GetControllerOnlineFirmwareActivationStatus(cda(), &status));
    const int first = status_reads();
    EXPECT_LE(first, 1);
    EXPECT_TRUE(VK_GetControllerOnlineFirmwareActivationStatus(cda(), &status));
    EXPECT_FALSE(_VK_IsControllerOnlineFirmwareActivationRunning(cda(), kFalse));
    EXPECT_EQ(status_reads(), first);
    EXPECT_FALSE(_VK_IsControllerOnlineFirmwareActivationRunning(cda(), kTrue));
    EXPECT_EQ(status_reads(), first + 1);
    EXPECT_EQ(VK_GetControllerOnlineFirmwareActivationStatus(cda(), nullptr), kFalse);
}

TEST_F(Flash, ResponsesDecodeIntoResultBits) {
    struct Case {
        Bytes reply;
        VK_QWORD validate;
        VK_DWORD abort;
    };
    const Case cases[] = {
        {{0x00, 0xFF, 0xFF}, 0, 0},
        {{0x01, 0x05, 0x04}, 0x2028, 4},
        {{0x01, 0x01, 0x00}, 0x8, 2},
        {{0x01, 0x02, 0x00}, 0x10, 3},
        {{0x01, 0x80, 0x3F}, 0x400 | 0x800 | 0x1000 | 0x2000 | 0x4000 | 0x8000 | 0x10000, 4},
        {{0x02, 0x00, 0xC0}, 0, 4},
    };
    FirmwareState state;
    state.ofa.status = 253; // pending: validation refused, abort allowed
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.reply));
        ASSERT_NO_FATAL_FAILURE(Start(state));
        buffer_->ofa_reply = c.reply;
        buffer_->ofa_reply.resize(16);
        ONLINE_FIRMWARE_ACTIVATION_RESPONSE response;
        std::memcpy(&response, buffer_->ofa_reply.data(), 16);
        EXPECT_EQ(__VK_DecodeOnlineFirmwareActivationValidate(&response), c.validate);
        EXPECT_EQ(VK_AbortControllerOnlineFlash(cda()), c.abort);
        Stop();
    }
}

TEST_F(Flash, OnlineValidationTransfersThenAsks) {
    ASSERT_NO_FATAL_FAILURE(Start());
    buffer_->ofa_reply = Bytes(16, 0);
    buffer_->ofa_reply[0] = 1;
    buffer_->ofa_reply[1] = 0x04;
    const Bytes image = Image(20000);
    EXPECT_EQ(VK_ValidateControllerOnlineFlash(cda(), image.data(), 20000), 0x20u);
    EXPECT_EQ(FlashOpcodes(), (std::vector<int>{0xD3, 0xD2, 0xD2, 0xD4, 0xD3}));
    const auto received = Received();
    EXPECT_EQ(received[received.size() - 2].detail, 1u);

    host().clear_requests();
    buffer_->ofa_reply[0] = 0;
    EXPECT_EQ(VK_InitiateControllerOnlineFlash(cda(), 0x1234), 0u);
    ASSERT_EQ(buffer_->ofa_written.size(), 1u);
    EXPECT_EQ(buffer_->ofa_written[0], (Bytes{0x34, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Received().at(0).detail, 2u);
}

TEST_F(Flash, SoftResetNeedsSupportAndAlwaysReinitialises) {
    FirmwareState without;
    without.set_page("online_firmware_activation", {0xD4, 0x03, 0x01, 0x00});
    ASSERT_NO_FATAL_FAILURE(Start(without));
    EXPECT_EQ(VK_CanOFASoftResetController(cda()), kControllerOnlineFirmwareActivationValidateNotSupported);
    EXPECT_EQ(VK_DoOFASoftResetController(cda()), kControllerOnlineFirmwareActivationValidateCannotFlash);
    EXPECT_TRUE(FlashOpcodes().empty());
    Stop();

    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(VK_DoOFASoftResetController(cda()), 0u);
    const auto received = Received();
    const auto reset = std::find_if(received.begin(), received.end(),
                                    [](const BmicCdb& b) { return b.opcode == 0xD4 && b.detail == 5; });
    ASSERT_NE(reset, received.end());
    EXPECT_TRUE(reset->write);
    // Re-initialised after the reset: identify, parameters and cache status are read again.
    std::vector<int> after;
    for (auto it = reset + 1; it != received.end(); ++it) {
        after.push_back(it->opcode);
    }
    for (int opcode : {0x11, 0x64, 0xC1}) {
        EXPECT_NE(std::find(after.begin(), after.end(), opcode), after.end()) << opcode;
    }
}

TEST_F(Flash, ManufacturingDataNeedsFeatureVersionSeven) {
    ASSERT_NO_FATAL_FAILURE(Start());
    Bytes record(256, 0xA5);
    data()->controller_firmware_feature_version = 6;
    EXPECT_EQ(VK_ReadControllerRawManufacturingData(cda(), record.data(), 256),
              kReadControllerRawManufacturingDataNotSupported);
    EXPECT_EQ(VK_CanFlashControllerManufacturingData(cda(), record.data(), 256),
              kCanFlashControllerManufacturingDataNotSupported);
    EXPECT_FALSE(VK_FlashControllerManufacturingData(cda(), record.data(), 256));

    data()->controller_firmware_feature_version = 7;
    EXPECT_EQ(VK_ReadControllerRawManufacturingData(cda(), nullptr, 256),
              kReadRawControllerManufacturingDataNullBuffer);
    EXPECT_EQ(VK_ReadControllerRawManufacturingData(cda(), record.data(), 0),
              kReadRawControllerManufacturingDataInvalidLength);
    EXPECT_EQ(VK_ReadControllerRawManufacturingData(cda(), record.data(), 0x10000),
              kReadRawControllerManufacturingDataInvalidLength);
    EXPECT_EQ(VK_CanFlashControllerManufacturingData(cda(), nullptr, 256),
              kCanFlashControllerManufacturingDataNullBuffer);
    EXPECT_EQ(VK_CanFlashControllerManufacturingData(cda(), record.data(), 0x10000),
              kCanFlashControllerManufacturingDataInvalidLength);
    EXPECT_TRUE(FlashOpcodes().empty());

    Bytes written;
    bool refuse = false;
    fw_->on_bmic(BmicDirection::kWrite, 0x46, [&](ControllerFirmware&, const Command& cmd, const BmicCdb&) {
        written = cmd.data_out;
        return refuse ? qvsim::check_condition(0x05, 0x24, 0x00) : Reply{};
    });
    fw_->on_bmic(BmicDirection::kRead, 0x46, [&](ControllerFirmware&, const Command&, const BmicCdb&) {
        Reply r;
        r.data_in = Bytes(256, 0x3C);
        return r;
    });
    EXPECT_TRUE(VK_FlashControllerManufacturingData(cda(), record.data(), 256));
    EXPECT_EQ(written, record);
    const auto cdbs = SentCdbs();
    ASSERT_EQ(cdbs.size(), 1u);
    EXPECT_EQ(std::vector<VK_BYTE>(cdbs[0].begin(), cdbs[0].begin() + 10),
              (std::vector<VK_BYTE>{0x27, 0x00, 0x01, 0x01, 0x00, 0x00, 0x46, 0x01, 0x00, 0x00}));
    refuse = true;
    EXPECT_FALSE(VK_FlashControllerManufacturingData(cda(), record.data(), 256));

    Bytes read(256, 0);
    EXPECT_EQ(VK_ReadControllerRawManufacturingData(cda(), read.data(), 256),
              kReadControllerRawManufacturingDataSuccess);
    EXPECT_EQ(read, Bytes(256, 0x3C));
    EXPECT_EQ(Received().back().detail, 0x01000000u);
    EXPECT_FALSE(Received().back().write);
}

} // namespace
