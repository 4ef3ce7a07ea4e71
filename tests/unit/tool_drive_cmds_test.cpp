// The decoders of the drive and PHY commands: the drive status text, the link-rate names and verdict,
// the PHY count of a connector map, and the link-error frame as it is sent and as it comes back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "bmic.h"
#include "ctlrinfo.h"

namespace {

TEST(DriveStatusText, LevelThenFirstConditionInOrder) {
    struct Case {
        VK_DWORD status;
        const char* text;
    };
    const Case cases[] = {
        {0x00000000, "Ok"},
        {0x00320100, "Ok"}, // level 0 whatever the bits
        {0x00020001, "Informational:Exposed to OS"},
        {0x00020005, "Informational:Exposed to OS"}, // the exclude bit is no condition
        {0x00100103, "Failed:Failed"},               // 0x100 before 0x100000
        {0x00000302, "Warning:Failed"},
        {0x00000202, "Warning:Failed due to PSA"},
        {0x00001802, "Warning:Predictive Failure:"},
        {0x00001002, "Warning:Worn-out"},
        {0x00006001, "Informational:Transient drive"},
        {0x00004003, "Failed:Erasing"},
        {0x00018002, "Warning:Invalid drive size"},
        {0x00030001, "Informational:FW update required"},
        {0x00040001, "Informational:Masked from OS (metadata present)"},
        {0x00300001, "Informational:Rebuilding"},
        // Queued for rebuild is tested before unsupported, although its bit is higher.
        {0x00280001, "Informational:Queued for rebuild"},
        {0x00080002, "Warning:Unsupported for configuration"},
        {0x00400003, "Failed:Unknown"}, // hot removal has no text
        {0x00000006, "Warning:Unknown"},
    };
    for (const Case& c : cases) {
        char buffer[STATUS_BUFFER_MAXSIZE];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(DecodePDStatus(c.status, buffer, sizeof buffer), buffer);
        EXPECT_STREQ(buffer, c.text) << std::hex << c.status;
    }
}

TEST(LinkRate, NamesOfEveryCode) {
    const std::vector<std::string> names = {"UNKNOWN", "PHY Disabled", "Negotiation Failed", "ATA spin-up hold",
                                            "",        "",             "",                   "",
                                            "1.5 Gbps", "3.0 Gbps",    "6.0 Gbps",           "12.0 Gbps",
                                            "22.5 Gbps"};
    for (size_t code = 0; code < names.size(); ++code) {
        EXPECT_EQ(QV_LinkRateName(static_cast<VK_BYTE>(code)), names[code]) << code;
    }
    // Past the table: no read beyond it.
    for (int code : {13, 0x10, 0x80, 0xFF}) {
        EXPECT_STREQ(QV_LinkRateName(static_cast<VK_BYTE>(code)), "UNKNOWN") << code;
    }
}

TEST(LinkRate, PassOnlyAtTheMaximumOfAKnownSpeed) {
    struct Case {
        int max;
        int negotiated;
        bool pass;
    };
    const Case cases[] = {
        {10, 10, true}, {11, 11, true}, {8, 8, true},    {12, 12, true},   {10, 9, false},
        {9, 10, false}, {0, 0, false},  {3, 3, false},   {7, 7, false},    {13, 13, false},
        {0xFF, 0xFF, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(QV_LinkRatePasses(static_cast<VK_BYTE>(c.max), static_cast<VK_BYTE>(c.negotiated)), c.pass)
            << c.max << "/" << c.negotiated;
    }
}

TEST(ControllerPhys, CountOfSetBits) {
    EXPECT_EQ(CountPhys(0), 0);
    EXPECT_EQ(CountPhys(0x0F), 4);
    EXPECT_EQ(CountPhys(0xF0), 4);
    EXPECT_EQ(CountPhys(0x8000000000000001ull), 2);
    EXPECT_EQ(CountPhys(~0ull), 64);
}

TEST(LinkErrorsFrame, SentAsTheWireFormat) {
    CSMI_LINK_ERRORS_PT_BUFFER frame;
    std::memset(&frame, 0xEE, sizeof frame);
    QV_BuildLinkErrorsFrame(5, &frame);
    const VK_BYTE expected[48] = {28, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 0, 0, 0, 22, 0, 0, 0, 0, 0, 0, 0,
                                  20, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&frame, expected, sizeof expected), 0);
}

std::vector<VK_BYTE> Reply(VK_DWORD return_code) {
    std::vector<VK_BYTE> reply(48, 0);
    reply[20] = static_cast<VK_BYTE>(return_code);
    reply[28] = 3;
    for (VK_BYTE i = 0; i < 16; ++i) {
        reply[32 + i] = static_cast<VK_BYTE>(0x10 + i);
    }
    return reply;
}

TEST(LinkErrorsFrame, CountersFromTheirOffsets) {
    const std::vector<VK_BYTE> reply = Reply(0);
    CSMI_LINK_ERRORS_PT_BUFFER frame = {};
    ASSERT_TRUE(QV_DecodeLinkErrors(pavlin::ByteView(reply.data(), reply.size()), &frame));
    EXPECT_EQ(frame.bPhyIdentifier, 3);
    EXPECT_EQ(frame.uInvalidDwordCount, 0x13121110u);
    EXPECT_EQ(frame.uRunningDisparityErrorCount, 0x17161514u);
    EXPECT_EQ(frame.uLossOfDwordSyncCount, 0x1B1A1918u);
    EXPECT_EQ(frame.uPhyResetProblemCount, 0x1F1E1D1Cu);
}

TEST(LinkErrorsFrame, NoCountersFromAFailedOrShortFrame) {
    CSMI_LINK_ERRORS_PT_BUFFER frame;
    std::memset(&frame, 0xEE, sizeof frame);
    const std::vector<VK_BYTE> failed = Reply(3);
    EXPECT_FALSE(QV_DecodeLinkErrors(pavlin::ByteView(failed.data(), failed.size()), &frame));
    std::vector<VK_BYTE> high = Reply(0);
    high[23] = 0x80; // only the most significant byte of ReturnCode set
    EXPECT_FALSE(QV_DecodeLinkErrors(pavlin::ByteView(high.data(), high.size()), &frame));
    const std::vector<VK_BYTE> whole = Reply(0);
    EXPECT_FALSE(QV_DecodeLinkErrors(pavlin::ByteView(whole.data(), 47), &frame));
    EXPECT_FALSE(QV_DecodeLinkErrors(pavlin::ByteView(), &frame));
    EXPECT_EQ(frame.uInvalidDwordCount, 0xEEEEEEEEu); // untouched
}

} // namespace
