// SIS raw SRBs, the choice between them and tunnelling, and the CSMI SSP and SMP frames tunnelled
// inside BMIC 0x68.
#include "pavl_extern.h"
#include "pavl_wire.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using transport_test::Hex;

namespace {

VK_DWORD LE32(const VK_BYTE* p) {
    return static_cast<VK_DWORD>(p[0]) | static_cast<VK_DWORD>(p[1]) << 8 |
           static_cast<VK_DWORD>(p[2]) << 16 | static_cast<VK_DWORD>(p[3]) << 24;
}

// ---- Raw SRB ----------------------------------------------------------------------------------

TEST(TransportSIS, SRBWithoutDataStopsBeforeTheScatterGatherEntry) {
    const VK_BYTE cdb[6] = {0x00, 0, 0, 0, 0, 0};
    pavlin::SISRawSRB srb;
    ASSERT_EQ(pavlin::__BuildSISRawSRB(1, 2, 3, 6, cdb, nullptr, 0, eDATA_TRANSFER_NONE, srb),
              kSISPassthroughDone);
    EXPECT_EQ(srb.srb_size, 56u);
    EXPECT_EQ(LE32(srb.bytes + 0), 0u);
    EXPECT_EQ(LE32(srb.bytes + 4), 1u);
    EXPECT_EQ(LE32(srb.bytes + 8), 2u);
    EXPECT_EQ(LE32(srb.bytes + 12), 3u);
    EXPECT_EQ(LE32(srb.bytes + 20), 0u);  // SrbFlags
    EXPECT_EQ(LE32(srb.bytes + 24), 56u); // DataTransferLength
    EXPECT_EQ(LE32(srb.bytes + 32), 6u);
    EXPECT_EQ(Hex(srb.bytes + 52, 4), "00 00 00 00");
    // The reply is read right behind the 56 bytes sent.
    srb.bytes[56 + 8] = 0x02;
    srb.bytes[56 + 16] = 18;
    const auto reply = srb.Reply();
    EXPECT_EQ(reply.ScsiStatus, 2u);
    EXPECT_EQ(reply.SenseInfoBufferLength, 18u);
}

TEST(TransportSIS, SRBWithData) {
    const struct {
        EnTransferType type;
        VK_DWORD flags;
    } cases[] = {{eDATA_TRANSFER_IN, 0x40},
                 {eDATA_TRANSFER_OUT, 0x80},
                 {eDATA_TRANSFER_INOUT, 0xC0},
                 {eDATA_TRANSFER_IN_MESSAGE, 0x00},
                 {eDATA_TRANSFER_OUT_MESSAGE, 0x00}};
    std::vector<VK_BYTE> data(512);
    const auto address = reinterpret_cast<std::uintptr_t>(data.data());
    const VK_BYTE cdb[10] = {0x28, 0, 0, 0, 0, 0x10, 0, 0, 1, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        pavlin::SISRawSRB srb;
        ASSERT_EQ(pavlin::__BuildSISRawSRB(0, 7, 0, 10, cdb, data.data(), 512, c.type, srb),
                  kSISPassthroughDone);
        EXPECT_EQ(srb.srb_size, 68u);
        EXPECT_EQ(LE32(srb.bytes + 8), 7u);
        EXPECT_EQ(LE32(srb.bytes + 20), c.flags);
        EXPECT_EQ(LE32(srb.bytes + 24), 68u);
        EXPECT_EQ(LE32(srb.bytes + 32), 10u);
        EXPECT_EQ(Hex(srb.bytes + 36, 16), "28 00 00 00 00 10 00 00 01 00 00 00 00 00 00 00");
        EXPECT_EQ(srb.bytes[52] | srb.bytes[53] << 8, 1);                // SgCount
        EXPECT_EQ(LE32(srb.bytes + 56), static_cast<VK_DWORD>(address)); // low half first
        EXPECT_EQ(LE32(srb.bytes + 60), static_cast<VK_DWORD>(static_cast<std::uint64_t>(address) >> 32));
        EXPECT_EQ(LE32(srb.bytes + 64), 512u);
    }
}

TEST(TransportSIS, SRBThatCannotBeBuiltIsNotSent) {
    VK_BYTE data[8];
    VK_BYTE long_cdb[17] = {};
    pavlin::SISRawSRB srb;
    EXPECT_EQ(pavlin::__BuildSISRawSRB(0, 0, 0, 6, long_cdb, data, 0, eDATA_TRANSFER_IN, srb),
              kSISPassthroughNotSent);
    EXPECT_EQ(pavlin::__BuildSISRawSRB(0, 0, 0, 6, long_cdb, nullptr, 8, eDATA_TRANSFER_OUT, srb),
              kSISPassthroughNotSent);
    EXPECT_EQ(pavlin::__BuildSISRawSRB(0, 0, 0, 17, long_cdb, data, 8, eDATA_TRANSFER_OUT, srb),
              kSISPassthroughNotSent);
}

TEST(TransportSIS, SendReportsWhyNothingCameBack) {
    const VK_BYTE cdb[6] = {};
    VK_BYTE data[16];
    VK_BYTE sense[32];
    VK_DWORD transferred = 7, sense_length = 7;
    VK_BYTE scsi = 7, srb = 7;
    // Not built: nothing reaches the (invalid) handle.
    EXPECT_EQ(__SendSISSCSIPassthrough(-1, 0, 0, 0, 6, cdb, &transferred, data, 0, eDATA_TRANSFER_IN,
                                       &sense_length, sense, 32, &scsi, &srb),
              kSISPassthroughNotSent);
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(scsi, 0);
    EXPECT_EQ(srb, 0);
    EXPECT_EQ(__SendSISSCSIPassthrough(-1, 0, 0, 0, 6, cdb, &transferred, data, 16, eDATA_TRANSFER_IN,
                                       &sense_length, sense, 32, &scsi, &srb),
              kSISPassthroughFailed);
    // A node whose driver does not know the request.
    const int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(__SendSISSCSIPassthrough(fd, 0, 0, 0, 6, cdb, &transferred, data, 16, eDATA_TRANSFER_IN,
                                       &sense_length, sense, 32, &scsi, &srb),
              kSISPassthroughUnknownRequest);
    close(fd);
}

// ---- Tunnel or not ----------------------------------------------------------------------------

TEST(TransportSIS, TunnelDecision) {
    struct Case {
        const char* name;
        VK_BYTE flags;
        VK_BYTE lun3, lun6, lun7;
        bool tunnel;
    };
    // Controller at bus 2, target 5.
    const Case cases[] = {
        {"the controller itself", 0x01, 0x3F, 9, 9, false},
        {"logical drive at the controller's bus and target", 0x05, 0x00, 5, 2, false},
        {"only the high bits of the bus byte differ", 0x05, 0x00, 5, 0x42, false},
        {"only the high bits of byte 3 set", 0x03, 0xC0, 5, 2, false},
        {"low bits of byte 3 set", 0x05, 0x01, 5, 2, true},
        {"another bus", 0x03, 0x00, 5, 3, true},
        {"another target", 0x03, 0x00, 6, 2, true},
        {"physical flag alone", 0x02, 0x00, 6, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        VK_BYTE address[16] = {2, 5, 0, c.flags};
        address[4 + 3] = c.lun3;
        address[4 + 6] = c.lun6;
        address[4 + 7] = c.lun7;
        EXPECT_EQ(pavlin::__SISNeedsTunnel(address), c.tunnel);
    }
}

// ---- SSP frame --------------------------------------------------------------------------------

struct TunnelFixture {
    VK_UINT8 cdb[10] = {0x28, 0, 0, 0, 0, 0x20, 0, 0, 1, 0};
    std::vector<VK_UINT8> data;
    VK_UINT8 sense[48];
    SCSIRequest request{};
    PavlinInternalSCSIRequest internal{};

    TunnelFixture(EnTransferType type, VK_UINT32 size) : data(size) {
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<VK_UINT8>(i * 7);
        }
        std::memset(sense, 0xEE, sizeof sense);
        request.transfer_type = type;
        request.cdb = cdb;
        request.cdb_size = sizeof cdb;
        request.io_buffer = data.data();
        request.io_buffer_size = size;
        request.sense_data = sense;
        request.sense_data_size = 32;
        internal.request = &request;
        internal.command_target.protocol_type = kProtocolTypeSIS;
        const VK_BYTE address[16] = {0, 1, 0, 0x03, 0x00, 0x11, 0x22, 0x01, 0x44, 0x55, 0x06, 0x07};
        std::memcpy(internal.command_target.protocol_address, address, 16);
    }
    std::vector<VK_BYTE> Frame() {
        const VK_DWORD size = pavlin::__SSPTunnelFrameSize(request.io_buffer_size);
        std::vector<VK_BYTE> frame(size, 0);
        pavlin::__BuildSSPTunnelFrame(internal, frame.data(), size);
        return frame;
    }
};

TEST(TransportSIS, SSPFrameForARead) {
    TunnelFixture f(eDATA_TRANSFER_IN, 512);
    const auto frame = f.Frame();
    ASSERT_EQ(frame.size(), 884u);
    EXPECT_EQ(LE32(&frame[0]), 28u); // HeaderLength
    EXPECT_EQ(Hex(&frame[4], 8), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(LE32(&frame[12]), 60u); // Timeout
    EXPECT_EQ(LE32(&frame[16]), 24u); // ControlCode
    EXPECT_EQ(LE32(&frame[20]), 0u);
    EXPECT_EQ(LE32(&frame[24]), 884u - 28u);
    EXPECT_EQ(Hex(&frame[28], 12), "00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(Hex(&frame[40], 8), "00 11 22 01 44 55 06 07"); // the CISS LUN address
    EXPECT_EQ(frame[48], 10);
    EXPECT_EQ(Hex(&frame[52], 16), "28 00 00 00 00 20 00 00 01 00 00 00 00 00 00 00");
    EXPECT_EQ(LE32(&frame[68]), 1u);
    EXPECT_EQ(LE32(&frame[96]), 512u);
    for (size_t i = 368; i < frame.size(); ++i) {
        ASSERT_EQ(frame[i], 0) << i; // nothing goes out with a read
    }
}

TEST(TransportSIS, SSPFrameFlagsAndDataOut) {
    const struct {
        EnTransferType type;
        VK_DWORD flags;
        bool data_out;
    } cases[] = {{eDATA_TRANSFER_IN, 1, false},         {eDATA_TRANSFER_OUT, 2, true},
                 {eDATA_TRANSFER_INOUT, 3, true},       {eDATA_TRANSFER_NONE, 4, false},
                 {eDATA_TRANSFER_IN_MESSAGE, 0, false}, {eDATA_TRANSFER_OUT_MESSAGE, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        TunnelFixture f(c.type, 64);
        const auto frame = f.Frame();
        EXPECT_EQ(LE32(&frame[68]), c.flags);
        EXPECT_EQ(std::memcmp(&frame[368], f.data.data(), 64) == 0, c.data_out);
    }
}

TEST(TransportSIS, SSPFrameMustFitTheCarriersLength) {
    EXPECT_EQ(pavlin::__SSPTunnelFrameSize(0), 372u);
    EXPECT_EQ(pavlin::__SSPTunnelFrameSize(65535 - 372), 65535u);
    EXPECT_EQ(pavlin::__SSPTunnelFrameSize(65535 - 372 + 1), 0u);
    EXPECT_EQ(pavlin::__SSPTunnelFrameSize(0xFFFFFFFF), 0u);
}

TEST(TransportSIS, TunnelReplyIsTheTunnelledCommands) {
    struct Case {
        const char* name;
        VK_BYTE status;
        VK_BYTE data_present;
        VK_WORD response_length;
        VK_UINT32 sense_size;
        VK_UINT32 valid;
        VK_UINT32 copied;
    };
    const Case cases[] = {
        {"check condition with sense", 0x02, 2, 18, 32, 18, 18},
        {"response longer than its field", 0x02, 2, 300, 32, 256, 32},
        {"small sense buffer", 0x02, 2, 18, 8, 18, 8},
        {"no response data", 0x00, 0, 18, 32, 0, 0},
        {"response data of length 0", 0x00, 2, 0, 32, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TunnelFixture f(eDATA_TRANSFER_IN, 512);
        auto frame = f.Frame();
        frame[105] = c.status;
        frame[104] = c.data_present;
        frame[106] = static_cast<VK_BYTE>(c.response_length >> 8);
        frame[107] = static_cast<VK_BYTE>(c.response_length);
        for (size_t i = 0; i < 256; ++i) {
            frame[108 + i] = static_cast<VK_BYTE>(0x80 + i);
        }
        for (size_t i = 0; i < 512; ++i) {
            frame[368 + i] = static_cast<VK_BYTE>(0xA5 ^ i);
        }
        f.request.sense_data_size = c.sense_size;
        f.request.valid_sense_data_size = 99;
        pavlin::__TakeSSPTunnelReply(&f.request, frame.data(), static_cast<VK_DWORD>(frame.size()));
        EXPECT_EQ(f.request.scsi_status, c.status);
        EXPECT_EQ(f.request.valid_sense_data_size, c.valid);
        for (size_t i = 0; i < sizeof f.sense; ++i) {
            ASSERT_EQ(f.sense[i], i < c.copied ? static_cast<VK_BYTE>(0x80 + i) : 0xEE) << i;
        }
        EXPECT_EQ(std::memcmp(f.data.data(), &frame[368], 512), 0);
    }
}

TEST(TransportSIS, TunnelReplyLeavesAWritersBufferAlone) {
    TunnelFixture f(eDATA_TRANSFER_OUT, 64);
    const auto original = f.data;
    auto frame = f.Frame();
    std::memset(&frame[368], 0x5A, 64);
    pavlin::__TakeSSPTunnelReply(&f.request, frame.data(), static_cast<VK_DWORD>(frame.size()));
    EXPECT_EQ(f.data, original);
}

TEST(TransportSIS, TunnelReplyShorterThanItsRecordIsNotRead) {
    TunnelFixture f(eDATA_TRANSFER_IN, 512);
    const auto original = f.data;
    // A heap block of exactly 100 bytes: the status byte at 105 lies beyond it.
    std::vector<VK_BYTE> frame(100, 0x02);
    f.request.scsi_status = 0;
    f.request.valid_sense_data_size = 99;
    pavlin::__TakeSSPTunnelReply(&f.request, frame.data(), static_cast<VK_DWORD>(frame.size()));
    EXPECT_EQ(f.request.scsi_status, 0);
    EXPECT_EQ(f.request.valid_sense_data_size, 0u);
    EXPECT_EQ(f.data, original);
}

TEST(TransportSIS, CarrierFailureIsNotReadAsTheTunnelledAnswer) {
    const VK_BYTE carrier_sense[18] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x20, 0x00};
    for (const VK_BYTE carrier_status : {VK_BYTE{0x00}, VK_BYTE{0x02}}) {
        SCOPED_TRACE(int(carrier_status));
        TunnelFixture f(eDATA_TRANSFER_IN, 64);
        const auto before = f.data;
        auto frame = f.Frame();
        frame[104] = 2; // the frame claims sense and a GOOD status of its own
        frame[105] = 0x00;
        frame[107] = 4;
        std::memset(&frame[108], 0x99, 4);
        std::memset(&frame[368], 0x5A, 64);
        pavlin::__TakeSSPTunnelCarrierReply(&f.request, carrier_status, carrier_sense, sizeof carrier_sense,
                                            frame.data(), static_cast<VK_DWORD>(frame.size()));
        if (carrier_status != 0) {
            EXPECT_EQ(f.request.scsi_status, 0x02);
            EXPECT_EQ(f.request.valid_sense_data_size, 18u);
            EXPECT_EQ(std::memcmp(f.sense, carrier_sense, 18), 0);
            EXPECT_EQ(f.data, before);
        } else {
            EXPECT_EQ(f.request.scsi_status, 0x00);
            EXPECT_EQ(f.request.valid_sense_data_size, 4u);
            EXPECT_EQ(Hex(f.sense, 5), "99 99 99 99 EE");
            EXPECT_EQ(f.data, std::vector<VK_UINT8>(64, 0x5A));
        }
    }
}

// ---- SMP frame --------------------------------------------------------------------------------

struct SMPFixture {
    std::vector<VK_UINT8> request_data;
    std::vector<VK_UINT8> response;
    SMPRequest request{};

    SMPFixture(VK_UINT32 request_size, VK_UINT32 response_size)
        : request_data(request_size ? request_size : 1), response(response_size ? response_size : 1, 0xEE) {
        for (size_t i = 0; i < request_data.size(); ++i) {
            request_data[i] = static_cast<VK_UINT8>(i + 1);
        }
        request.phy_identifier = 0x09;
        request.port_identifier = 0x03;
        const VK_UINT8 sas[8] = {0x50, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
        std::memcpy(request.sas_address, sas, 8);
        request.header_frame_type = 0x40;
        request.header_function = 0x10;
        request.header_allocation_response_size = 0x11;
        request.header_request_length = 0x02;
        request.additional_request_data = request_data.data();
        request.additional_request_data_size = request_size;
        request.additional_response_data = response.data();
        request.additional_response_data_size = response_size;
    }
};

TEST(TransportSIS, SMPFrameCarriesTheRequest) {
    SMPFixture f(8, 64);
    pavlin::_MODIFIED_CSMI_SMPPT_BUFFER frame;
    ASSERT_TRUE(pavlin::__BuildSMPFrame(&f.request, frame));
    const auto* b = reinterpret_cast<const VK_BYTE*>(&frame);
    EXPECT_EQ(LE32(b + 0), 28u);
    EXPECT_EQ(LE32(b + 12), 60u);
    EXPECT_EQ(LE32(b + 16), 23u);
    EXPECT_EQ(LE32(b + 24), 2064u);
    EXPECT_EQ(Hex(b + 28, 4), "09 03 00 00");
    EXPECT_EQ(Hex(b + 32, 8), "50 01 02 03 04 05 06 07");
    EXPECT_EQ(LE32(b + 40), 8u);
    EXPECT_EQ(Hex(b + 44, 4), "40 10 11 02");
    EXPECT_EQ(Hex(b + 48, 9), "01 02 03 04 05 06 07 08 00");
}

TEST(TransportSIS, SMPRequestLargerThanTheFrameIsRefused) {
    SMPFixture fits(1016, 0);
    pavlin::_MODIFIED_CSMI_SMPPT_BUFFER frame;
    EXPECT_TRUE(pavlin::__BuildSMPFrame(&fits.request, frame));
    EXPECT_EQ(frame.bAdditionalRequestBytes[1015], static_cast<VK_BYTE>(1016));
    SMPFixture too_big(1017, 0);
    EXPECT_FALSE(pavlin::__BuildSMPFrame(&too_big.request, frame));
    SMPFixture no_buffer(0, 0);
    no_buffer.request.additional_request_data = nullptr;
    no_buffer.request.additional_request_data_size = 4;
    EXPECT_FALSE(pavlin::__BuildSMPFrame(&no_buffer.request, frame));
}

TEST(TransportSIS, SMPResponseIsBoundedByFrameAndBuffer) {
    const struct {
        VK_UINT32 buffer;
        VK_UINT32 copied;
    } cases[] = {{2000, 1016}, {1016, 1016}, {10, 10}, {0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.buffer);
        SMPFixture f(0, c.buffer);
        pavlin::_MODIFIED_CSMI_SMPPT_BUFFER frame{};
        frame.bResponseFrameType = 0x41;
        frame.bResponseFunction = 0x10;
        frame.bFunctionResult = 0x00;
        frame.bResponseLength = 0x0E;
        std::memset(frame.bAdditionalResponseBytes, 0x3C, sizeof frame.bAdditionalResponseBytes);
        pavlin::__TakeSMPResponse(&f.request, frame);
        EXPECT_EQ(f.request.header_frame_type, 0x41);
        EXPECT_EQ(f.request.header_function, 0x10);
        EXPECT_EQ(f.request.header_function_result, 0x00);
        EXPECT_EQ(f.request.header_response_size, 0x0E);
        for (size_t i = 0; i < f.response.size(); ++i) {
            ASSERT_EQ(f.response[i], i < c.copied ? 0x3C : 0xEE) << i;
        }
    }
}

TEST(TransportSIS, SMPCarrierFailureGivesNoResponse) {
    pavlin::_MODIFIED_CSMI_SMPPT_BUFFER frame{}; // an unanswered frame: function result 0, "accepted"
    SMPFixture failed(0, 16);
    failed.request.header_function_result = 0x77;
    EXPECT_FALSE(pavlin::__TakeSMPCarrierReply(&failed.request, 0x02, frame));
    EXPECT_EQ(failed.request.low_level_status, EIO);
    EXPECT_EQ(failed.request.header_function_result, 0x77);
    EXPECT_EQ(failed.request.header_frame_type, 0x40);
    EXPECT_EQ(failed.response, std::vector<VK_UINT8>(16, 0xEE));

    SMPFixture answered(0, 16);
    frame.bResponseFrameType = 0x41;
    frame.bFunctionResult = 0x10;
    EXPECT_TRUE(pavlin::__TakeSMPCarrierReply(&answered.request, 0x00, frame));
    EXPECT_EQ(answered.request.header_frame_type, 0x41);
    EXPECT_EQ(answered.request.header_function_result, 0x10);
}

} // namespace
