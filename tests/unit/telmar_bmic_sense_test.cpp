// Sense decoding of BMIC requests with sense: fixed and descriptor formats, and the statuses that
// travel with them.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <vector>

#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

struct SenseCase {
    const char* name;
    std::vector<VK_BYTE> sense; // bytes at the start of a 32-byte sense buffer
    VK_BYTE key, asc, ascq;
};

// Listed and reported by name, not as the bytes of the record.
void PrintTo(const SenseCase& c, std::ostream* os) {
    *os << c.name;
}

class BmicSenseDecoding : public ::testing::TestWithParam<SenseCase> {};

TEST_P(BmicSenseDecoding, DecodesKeyAscAscq) {
    const SenseCase& c = GetParam();
    std::array<VK_BYTE, 32> sense{};
    std::copy(c.sense.begin(), c.sense.end(), sense.begin());
    BMICRequest request{};
    request.sense_data = sense.data();
    request.sense_data_size = sense.size();
    request.valid_sense_data_size = 0; // not consulted
    request.scsi_status = 2;
    request.command_status = 0x0001;
    request.low_level_status = -5;

    ScsiCommandSenseData decoded;
    std::memset(&decoded, 0xA5, sizeof(decoded));
    __VK_DecodeBMICSenseData(&request, &decoded);

    EXPECT_EQ(decoded.sense_key, c.key);
    EXPECT_EQ(decoded.asc, c.asc);
    EXPECT_EQ(decoded.ascq, c.ascq);
    EXPECT_EQ(decoded.scsi_status, 2);
    EXPECT_EQ(decoded.command_status, 0x0001);
    EXPECT_EQ(decoded.low_level_status, -5);
}

// Fixed format: key in byte 2 (low nibble), ASC 12, ASCQ 13. Descriptor: bytes 1 to 3.
INSTANTIATE_TEST_SUITE_P(
    Formats, BmicSenseDecoding,
    ::testing::Values(
        SenseCase{
            "FixedCurrent", {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x01}, 0x05, 0x24, 0x01},
        SenseCase{
            "FixedDeferred", {0x71, 0, 0xF3, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x11, 0x00}, 0x03, 0x11, 0x00},
        SenseCase{
            "FixedWithValidBit", {0xF0, 0, 0x06, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x29, 0x02}, 0x06, 0x29, 0x02},
        SenseCase{"DescriptorCurrent",
                  {0x72, 0x0B, 0x47, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0xEE, 0xEE},
                  0x0B,
                  0x47,
                  0x03},
        SenseCase{"DescriptorDeferred", {0xF3, 0x14, 0x3F, 0x0E}, 0x04, 0x3F, 0x0E},
        SenseCase{
            "UnknownResponseCode", {0x7F, 0x05, 0x24, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x24, 0x00}, 0, 0, 0},
        SenseCase{"NoSense", {}, 0, 0, 0}),
    [](const ::testing::TestParamInfo<SenseCase>& info) { return info.param.name; });

TEST(BmicSenseDecodingLimits, BufferOfThirteenBytesDecodesOnlyTheStatuses) {
    TelmarLogCapture log;
    VK_BYTE sense[13] = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24};
    BMICRequest request{};
    request.sense_data = sense;
    request.sense_data_size = sizeof(sense);
    request.scsi_status = 2;
    request.command_status = 7;
    ScsiCommandSenseData decoded{};
    __VK_DecodeBMICSenseData(&request, &decoded);
    EXPECT_EQ(decoded.sense_key, 0);
    EXPECT_EQ(decoded.asc, 0);
    EXPECT_EQ(decoded.scsi_status, 2);
    EXPECT_EQ(decoded.command_status, 7);
    EXPECT_EQ(TelmarLogCapture::Count(
                  "Assertion 'bmic_request->sense_data_size > 13' failed: Sense buffer to small"),
              1u);
    EXPECT_EQ(TelmarLogCapture::Count("__VK_DecodeBMICSenseData:"), 1u);
}

TEST(BmicSenseDecodingLimits, MissingSenseBufferIsNotRead) {
    BMICRequest request{};
    request.sense_data = nullptr;
    request.sense_data_size = 32;
    request.scsi_status = 2;
    ScsiCommandSenseData decoded{};
    __VK_DecodeBMICSenseData(&request, &decoded);
    EXPECT_EQ(decoded.sense_key, 0);
    EXPECT_EQ(decoded.scsi_status, 2);
}

} // namespace
