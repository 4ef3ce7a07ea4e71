// CSMI SAS request buffers as they go to the driver, byte for byte.
#include "pavl_csmi.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using transport_test::Hex;

const VK_BYTE kSAS[8] = {0x50, 0x06, 0x05, 0xB0, 0x00, 0x00, 0x00, 0x10};

VK_UINT64 LE64(const VK_BYTE* p) {
    VK_UINT64 v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | p[i];
    }
    return v;
}

TEST(CSMIRecords, SMPRequestFrame) {
    std::vector<VK_BYTE> request(12, 0);
    request[5] = 7; // frame byte 9: the phy of a DISCOVER
    CSMI_SAS_SMP_PASSTHRU_BUFFER buffer;
    std::memset(&buffer, 0xEE, sizeof(buffer));
    ASSERT_TRUE(__BuildCSMISMPPassthru(&buffer, 3, 1, 0xFF, kSAS, 0x40, 0x10, 0x11, 0x02, request.data(),
                                       static_cast<VK_DWORD>(request.size())));
    const auto* b = reinterpret_cast<const VK_BYTE*>(&buffer);
    EXPECT_EQ(LE64(b + 0), 3u);               // IOControllerNumber
    EXPECT_EQ(Hex(b + 40, 4), "01 FF 00 00"); // phy, port, connection rate, reserved
    EXPECT_EQ(Hex(b + 44, 8), "50 06 05 B0 00 00 00 10");
    EXPECT_EQ(LE64(b + 56), 12u);             // uRequestLength
    EXPECT_EQ(Hex(b + 64, 4), "40 10 11 02"); // frame type, function, lengths
    EXPECT_EQ(Hex(b + 68, 12), "00 00 00 00 00 07 00 00 00 00 00 00");
    // Everything else is zero.
    for (size_t i = 80; i < sizeof(buffer); ++i) {
        ASSERT_EQ(b[i], 0) << i;
    }
}

TEST(CSMIRecords, SMPRequestDataMustFitTheFrame) {
    std::vector<VK_BYTE> request(1017, 0x5A);
    CSMI_SAS_SMP_PASSTHRU_BUFFER buffer;
    EXPECT_TRUE(__BuildCSMISMPPassthru(&buffer, 0, 0, 0, kSAS, 0x40, 0, 0, 0, request.data(), 1016));
    EXPECT_EQ(buffer.Request.bAdditionalRequestBytes[1015], 0x5A);
    EXPECT_FALSE(__BuildCSMISMPPassthru(&buffer, 0, 0, 0, kSAS, 0x40, 0, 0, 0, request.data(), 1017));
    EXPECT_FALSE(__BuildCSMISMPPassthru(&buffer, 0, 0, 0, kSAS, 0x40, 0, 0, 0, nullptr, 4));

    // Refused before anything is sent.
    VK_BYTE type = 0x40;
    VK_BYTE function = 0x10;
    EXPECT_EQ(SendCSMISASSMPCommand(-1, 0, 0, 0, kSAS, &type, &function, 0, 0, request.data(), 1017, nullptr,
                                    nullptr, nullptr, 0),
              1u);
}

TEST(CSMIRecords, SMPResponseIsCopiedWithinItsFrame) {
    CSMI_SAS_SMP_PASSTHRU_BUFFER buffer{};
    buffer.Response.bFrameType = 0x41;
    buffer.Response.bFunction = 0x10;
    buffer.Response.bFunctionResult = 0x16;
    buffer.Response.bResponseLength = 14;
    std::memset(buffer.Response.bAdditionalResponseBytes, 0x3C,
                sizeof(buffer.Response.bAdditionalResponseBytes));
    std::vector<VK_BYTE> response(2000, 0);
    VK_BYTE type = 0;
    VK_BYTE function = 0;
    VK_BYTE result = 0;
    VK_BYTE length = 0;
    __TakeCSMISMPPassthruReply(&buffer, &type, &function, &result, &length, response.data(), 2000);
    EXPECT_EQ(type, 0x41);
    EXPECT_EQ(function, 0x10);
    EXPECT_EQ(result, 0x16);
    EXPECT_EQ(length, 14);
    for (size_t i = 0; i < response.size(); ++i) {
        ASSERT_EQ(response[i], i < 1016 ? 0x3C : 0) << i;
    }
}

// /dev/null refuses every request, and the buffer comes back as it went out.
class CSMIOnNull : public ::testing::Test {
protected:
    void SetUp() override { fd_ = open("/dev/null", O_RDWR); }
    void TearDown() override { close(fd_); }
    int fd_ = -1;
};

// The buffer as it went out: zeroed, with the header filled in.
template <typename Buffer, typename Sender> void ExpectSentHeader(int fd, Sender send, size_t size) {
    Buffer buffer;
    std::memset(&buffer, 0xAA, sizeof(buffer));
    ASSERT_EQ(sizeof(buffer), size);
    EXPECT_EQ(send(fd, 5, &buffer), static_cast<VK_DWORD>(ENOTTY));
    const auto* b = reinterpret_cast<const VK_BYTE*>(&buffer);
    EXPECT_EQ(LE64(b + 0), 5u);   // IOControllerNumber
    EXPECT_EQ(LE64(b + 8), size); // Length: the whole buffer
    EXPECT_EQ(LE64(b + 16), 0u);  // ReturnCode
    EXPECT_EQ(LE64(b + 24), 60u); // Timeout
    EXPECT_EQ(Hex(b + 32, 2), "00 00");
    for (size_t i = 40; i < size; ++i) {
        ASSERT_EQ(b[i], 0) << i;
    }
}

TEST_F(CSMIOnNull, InformationRequestsCarryTheirHeader) {
    ASSERT_GE(fd_, 0);
    ExpectSentHeader<CSMI_SAS_DRIVER_INFO_BUFFER>(fd_, SendCSMISASDriverInformationCommand, 216);
    ExpectSentHeader<CSMI_SAS_CNTLR_CONFIG_BUFFER>(fd_, SendCSMISASControllerConfigCommand, 240);
    ExpectSentHeader<CSMI_SAS_CNTLR_STATUS_BUFFER>(fd_, SendCSMISASControllerStatusCommand, 88);
    ExpectSentHeader<CSMI_SAS_PHY_INFO_BUFFER>(fd_, SendCSMISASPhyInfoCommand, 2096);
}

TEST_F(CSMIOnNull, FailedRequestsReportTheDriversError) {
    ASSERT_GE(fd_, 0);
    EXPECT_EQ(SendCSMISASPauseBackgroundActivityCommand(fd_, 0, 0, kSAS, kTrue),
              static_cast<VK_DWORD>(ENOTTY));
    EXPECT_EQ(SendCSMISASPauseBackgroundActivityCommand(fd_, 0, 0, kSAS, kFalse),
              static_cast<VK_DWORD>(ENOTTY));
    VK_BYTE type = 0x40;
    VK_BYTE function = 0x00;
    VK_BYTE result = 0xAB;
    VK_BYTE request[4] = {};
    VK_BYTE response[32];
    std::memset(response, 0x77, sizeof(response));
    EXPECT_EQ(SendCSMISASSMPCommand(fd_, 0, 0, 0, kSAS, &type, &function, 0, 0, request, 4, &result, nullptr,
                                    response, sizeof(response)),
              static_cast<VK_DWORD>(ENOTTY));
    // Nothing of a response that never came is handed back.
    EXPECT_EQ(result, 0xAB);
    EXPECT_EQ(response[0], 0x77);
    EXPECT_EQ(SendCSMISASDriverInformationCommand(fd_, 0, nullptr), static_cast<VK_DWORD>(EINVAL));
}

} // namespace
