// The CSMI SAS SSP pass-through buffer that serves CSMI devices.
#include "pavl_csmi.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using transport_test::Hex;

namespace {

const VK_BYTE kSAS[8] = {0x50, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10};
const VK_BYTE kCDB[6] = {0x12, 0, 0, 0, 0x74, 0};

CSMI_SAS_SSP_PASSTHRU_BUFFER Record(const std::vector<VK_BYTE>& buffer) {
    CSMI_SAS_SSP_PASSTHRU_BUFFER r;
    std::memcpy(&r, buffer.data(), sizeof r);
    return r;
}

TEST(TransportCSMI, SSPBufferPerTransferType) {
    const struct {
        EnTransferType type;
        VK_UINT64 flags;
        VK_UINT16 direction;
        bool data_out;
    } cases[] = {{eDATA_TRANSFER_IN, 1, 0, false},
                 {eDATA_TRANSFER_OUT, 2, 1, true},
                 {eDATA_TRANSFER_INOUT, 2, 1, true},
                 {eDATA_TRANSFER_NONE, 4, 0, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        std::vector<VK_BYTE> data(512);
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<VK_BYTE>(i ^ 0x33);
        }
        std::vector<VK_BYTE> buffer(392 + 512, 0);
        ASSERT_TRUE(__BuildCSMISSPPassthru(buffer.data(), static_cast<VK_DWORD>(buffer.size()), 7, 3, kSAS, c.type, kCDB, 6, data.data(), 512));
        const auto r = Record(buffer);
        EXPECT_EQ(r.IoctlHeader.IOControllerNumber, 7u);
        EXPECT_EQ(r.IoctlHeader.Direction, c.direction);
        EXPECT_EQ(r.uFlags, c.flags);
        EXPECT_EQ(r.bPhyIdentifier, 3);
        EXPECT_EQ(r.bPortIdentifier, 0xFF);
        EXPECT_EQ(r.bConnectionRate, 0);
        EXPECT_EQ(Hex(r.bDestinationSASAddress, 8), "50 0A 0B 0C 0D 0E 0F 10");
        EXPECT_EQ(Hex(r.bLun, 8), "50 0A 0B 0C 0D 0E 0F 10");
        EXPECT_EQ(r.bCDBLength, 6);
        EXPECT_EQ(Hex(r.bCDB, 16), "12 00 00 00 74 00 00 00 00 00 00 00 00 00 00 00");
        EXPECT_EQ(r.uDataLength, 512u);
        EXPECT_EQ(std::memcmp(&buffer[392], data.data(), 512) == 0, c.data_out);
    }
}

TEST(TransportCSMI, SSPBufferRefusesWhatItCannotCarry) {
    std::vector<VK_BYTE> buffer(392 + 16, 0);
    VK_BYTE long_cdb[17] = {};
    EXPECT_FALSE(
        __BuildCSMISSPPassthru(buffer.data(), static_cast<VK_DWORD>(buffer.size()), 0, 0, kSAS,
                               eDATA_TRANSFER_NONE, long_cdb, 17, nullptr, 0));
    EXPECT_FALSE(__BuildCSMISSPPassthru(buffer.data(), static_cast<VK_DWORD>(buffer.size()), 0, 0, kSAS,
                                        eDATA_TRANSFER_OUT, kCDB, 6, nullptr, 16));
    // Data that would pass the end of the buffer given is refused, not written beyond it.
    VK_BYTE data[17] = {};
    EXPECT_FALSE(__BuildCSMISSPPassthru(buffer.data(), static_cast<VK_DWORD>(buffer.size()), 0, 0, kSAS,
                                        eDATA_TRANSFER_OUT, kCDB, 6, data, 17));
    EXPECT_FALSE(__BuildCSMISSPPassthru(buffer.data(), 391, 0, 0, kSAS, eDATA_TRANSFER_NONE, kCDB, 6, nullptr, 0));
}

TEST(TransportCSMI, SSPReplyIsBoundedByWhatTheDriverReports) {
    const struct {
        const char* name;
        EnTransferType type;
        VK_UINT64 data_bytes;
        size_t data_copied;
        VK_BYTE data_present;
        VK_WORD response_length;
        VK_UINT32 valid;
        size_t sense_copied;
    } cases[] = {
        {"short read", eDATA_TRANSFER_IN, 100, 100, 0, 0, 0, 0},
        {"driver claims more than asked", eDATA_TRANSFER_IN, 100000, 512, 0, 0, 0, 0},
        {"sense present", eDATA_TRANSFER_IN, 0, 0, 2, 18, 18, 18},
        {"sense longer than the response field", eDATA_TRANSFER_NONE, 0, 0, 2, 1000, 256, 32},
        {"write reads nothing back", eDATA_TRANSFER_OUT, 512, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<VK_BYTE> buffer(392 + 512, 0);
        CSMI_SAS_SSP_PASSTHRU_BUFFER r{};
        r.uDataBytes = c.data_bytes;
        r.bStatus = 0x02;
        r.bDataPresent = c.data_present;
        r.bResponseLength[0] = static_cast<VK_BYTE>(c.response_length >> 8);
        r.bResponseLength[1] = static_cast<VK_BYTE>(c.response_length);
        std::memset(r.bResponse, 0x71, sizeof r.bResponse);
        std::memcpy(buffer.data(), &r, sizeof r);
        std::memset(&buffer[392], 0x6B, 512);

        std::vector<VK_BYTE> data(512, 0);
        std::vector<VK_BYTE> sense(40, 0);
        VK_DWORD valid = 12345;
        VK_BYTE status = 0;
        __TakeCSMISSPPassthruReply(buffer.data(), static_cast<VK_DWORD>(buffer.size()), c.type, data.data(), 512, sense.data(), 32, &valid,
                                   &status);
        EXPECT_EQ(status, 0x02);
        EXPECT_EQ(valid, c.valid);
        for (size_t i = 0; i < data.size(); ++i) {
            ASSERT_EQ(data[i], i < c.data_copied ? 0x6B : 0) << i;
        }
        for (size_t i = 0; i < sense.size(); ++i) {
            ASSERT_EQ(sense[i], i < c.sense_copied ? 0x71 : 0) << i;
        }
    }
}

TEST(TransportCSMI, SSPReplyReadsOnlyTheBufferGiven) {
    // The driver reports more data than the buffer holds behind the record; a heap block of exactly
    // the given size lets the sanitizer build catch any read past it.
    std::vector<VK_BYTE> buffer(392 + 100, 0x6B);
    CSMI_SAS_SSP_PASSTHRU_BUFFER r{};
    r.uDataBytes = 512;
    std::memcpy(buffer.data(), &r, sizeof r);
    std::vector<VK_BYTE> data(512, 0);
    VK_DWORD valid = 99;
    __TakeCSMISSPPassthruReply(buffer.data(), static_cast<VK_DWORD>(buffer.size()), eDATA_TRANSFER_IN,
                               data.data(), 512, nullptr, 0, &valid, nullptr);
    for (size_t i = 0; i < data.size(); ++i) {
        ASSERT_EQ(data[i], i < 100 ? 0x6B : 0) << i;
    }
    // Shorter than the record itself: nothing is taken.
    std::vector<VK_BYTE> short_buffer(100, 0x6B);
    VK_BYTE status = 0xEE;
    __TakeCSMISSPPassthruReply(short_buffer.data(), static_cast<VK_DWORD>(short_buffer.size()),
                               eDATA_TRANSFER_IN, data.data(), 512, nullptr, 0, &valid, &status);
    EXPECT_EQ(valid, 0u);
    EXPECT_EQ(status, 0xEE);
}

TEST(TransportCSMI, DriverRefusalIsTheResult) {
    const int fd = open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    VK_BYTE data[512];
    VK_BYTE sense[32];
    VK_DWORD valid = 0;
    VK_BYTE status = 0xFF;
    EXPECT_EQ(SendCSMISASSSPPassthruCommand(fd, 0, 0, kSAS, eDATA_TRANSFER_IN, kCDB, 6, data, sizeof data,
                                            sense, sizeof sense, &valid, &status),
              static_cast<VK_DWORD>(ENOTTY));
    EXPECT_EQ(status, 0); // bStatus of the buffer that came back unanswered
    close(fd);
}

} // namespace
