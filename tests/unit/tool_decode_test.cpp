// The tool's decoders of its own diagnostic replies, over byte fixtures of the wire records.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decode.h"

namespace {

// A "readPCIeValues" reply with the controller's DeviceStatus (10) and LinkStatus (18); the memory
// controller's words (26, 34) carry other values so that a read of the wrong block shows.
std::vector<std::uint8_t> Registers(std::uint16_t device_status, std::uint16_t link_status) {
    std::vector<std::uint8_t> r(36, 0);
    r[0] = 0x10;
    r[10] = static_cast<std::uint8_t>(device_status);
    r[11] = static_cast<std::uint8_t>(device_status >> 8);
    r[18] = static_cast<std::uint8_t>(link_status);
    r[19] = static_cast<std::uint8_t>(link_status >> 8);
    r[26] = 0xF0;
    r[34] = 0x41;
    r[35] = 0x02;
    return r;
}

TEST(ToolPCIeDecode, LinkStatusAndDeviceStatus) {
    struct Case {
        std::uint16_t device_status, link_status;
        std::uint8_t speed, width, errors;
    };
    const Case cases[] = {
        {0x0000, 0x0083, PCIe_LINK_RATE_8_0_GTPS, 8, 0x00},   // 8 GT/s x8
        {0x0000, 0x0081, PCIe_LINK_RATE_2_5_GTPS, 8, 0x00},   // code 1
        {0x0000, 0x0042, PCIe_LINK_RATE_5_0_GTPS, 4, 0x00},   // code 2, x4
        {0x0000, 0x0104, PCIe_LINK_RATE_16_0_GTPS, 16, 0x00}, // code 4, x16
        {0x0000, 0x0080, PCIe_LINK_RATE_UNKNOWN, 8, 0x00},    // code 0
        {0x0000, 0x0085, PCIe_LINK_RATE_UNKNOWN, 8, 0x00},    // code 5
        {0x0000, 0xFC0F, PCIe_LINK_RATE_UNKNOWN, 0, 0x00},    // bits above the width are not lanes
        {0x0000, 0x03F3, PCIe_LINK_RATE_8_0_GTPS, 63, 0x00},  // widest field
        {0x0010, 0x0083, PCIe_LINK_RATE_8_0_GTPS, 8, 0x10},   // an error bit, kept in place
        {0x000F, 0x0083, PCIe_LINK_RATE_8_0_GTPS, 8, 0x00},   // bits 0-3 are no link errors
        {0xFFF0, 0x0083, PCIe_LINK_RATE_8_0_GTPS, 8, 0xF0},   // bits 8-15 are cut off
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.device_status << "/" << c.link_status);
        const auto reply = Registers(c.device_status, c.link_status);
        PCIeLinkInfo info{};
        ASSERT_TRUE(QV_DecodePCIeLinkInfo(pavlin::ByteView(reply.data(), reply.size()), &info));
        EXPECT_EQ(info.CurrentLinkSpeed, c.speed);
        EXPECT_EQ(info.NegotiatedLinkWidth, c.width);
        EXPECT_EQ(info.LinkErrors, c.errors);
    }
}

TEST(ToolPCIeDecode, ReplyThatEndsBeforeTheLinkStatus) {
    const auto reply = Registers(0x0010, 0x0083);
    PCIeLinkInfo info{1, 2, 3};
    EXPECT_FALSE(QV_DecodePCIeLinkInfo(pavlin::ByteView(reply.data(), 19), &info));
    EXPECT_EQ(info.CurrentLinkSpeed, 1);
    EXPECT_EQ(info.NegotiatedLinkWidth, 2);
    EXPECT_EQ(info.LinkErrors, 3);
    EXPECT_TRUE(QV_DecodePCIeLinkInfo(pavlin::ByteView(reply.data(), 20), &info));
    EXPECT_EQ(info.LinkErrors, 0x10);
}

TEST(ToolHostRecord, Signature) {
    const std::uint8_t signed_record[] = {'Z', 'Q', 0x01};
    const std::uint8_t swapped[] = {'Q', 'Z'};
    const std::uint8_t lower[] = {'z', 'q'};
    const std::uint8_t one[] = {'Z'};
    EXPECT_TRUE(QV_HostMfgSignatureValid(pavlin::ByteView(signed_record, 3)));
    EXPECT_TRUE(QV_HostMfgSignatureValid(pavlin::ByteView(signed_record, 2)));
    EXPECT_FALSE(QV_HostMfgSignatureValid(pavlin::ByteView(swapped, 2)));
    EXPECT_FALSE(QV_HostMfgSignatureValid(pavlin::ByteView(lower, 2)));
    EXPECT_FALSE(QV_HostMfgSignatureValid(pavlin::ByteView(one, 1)));
    EXPECT_FALSE(QV_HostMfgSignatureValid(pavlin::ByteView()));
}

} // namespace
