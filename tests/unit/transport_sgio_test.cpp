// The SCSI generic SG_IO header for host block devices, and what is read back from it.
#include "pavl_extern.h"
#include "pavl_wire.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

struct SGIOFixture {
    VK_UINT8 cdb[6] = {0x12, 0x01, 0x00, 0x00, 0x60, 0x00};
    VK_UINT8 data[96] = {};
    VK_UINT8 sense[300] = {};
    SCSIRequest request{};

    SGIOFixture() {
        request.transfer_type = eDATA_TRANSFER_IN;
        request.timeout_sec = 10;
        request.cdb = cdb;
        request.cdb_size = sizeof cdb;
        request.io_buffer = data;
        request.io_buffer_size = sizeof data;
        request.sense_data = sense;
        request.sense_data_size = 32;
    }
    sg_io_hdr_t Build() {
        sg_io_hdr_t h;
        std::memset(&h, 0xEE, sizeof h);
        pavlin::__BuildSGIOHeader(&request, h);
        return h;
    }
};

TEST(TransportSGIO, HeaderCarriesTheRequest) {
    SGIOFixture f;
    const sg_io_hdr_t h = f.Build();
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(h.cmd_len, 6);
    EXPECT_EQ(h.cmdp, f.cdb);
    EXPECT_EQ(h.sbp, f.sense);
    EXPECT_EQ(h.mx_sb_len, 32);
    EXPECT_EQ(h.dxferp, f.data);
    EXPECT_EQ(h.dxfer_len, 96u);
    EXPECT_EQ(h.timeout, 10001u);
    EXPECT_EQ(h.iovec_count, 0);
    EXPECT_EQ(h.flags, 0u);
    EXPECT_EQ(h.pack_id, 0);
    EXPECT_EQ(h.usr_ptr, nullptr);
}

TEST(TransportSGIO, DirectionPerTransferType) {
    const struct {
        EnTransferType type;
        int direction;
    } cases[] = {{eDATA_TRANSFER_IN, SG_DXFER_FROM_DEV},       {eDATA_TRANSFER_OUT, SG_DXFER_TO_DEV},
                 {eDATA_TRANSFER_INOUT, SG_DXFER_TO_FROM_DEV}, {eDATA_TRANSFER_NONE, SG_DXFER_NONE},
                 {eDATA_TRANSFER_IN_MESSAGE, SG_DXFER_NONE},   {eDATA_TRANSFER_OUT_MESSAGE, SG_DXFER_NONE}};
    for (const auto& c : cases) {
        SGIOFixture f;
        f.request.transfer_type = c.type;
        EXPECT_EQ(f.Build().dxfer_direction, c.direction) << c.type;
    }
}

TEST(TransportSGIO, TimeLimitInMilliseconds) {
    const struct {
        VK_UINT32 seconds;
        unsigned milliseconds;
    } cases[] = {{0, 1},
                 {10, 10001},
                 {30, 30001},
                 {(UINT_MAX - 1) / 1000, ((UINT_MAX - 1) / 1000) * 1000 + 1},
                 {(UINT_MAX - 1) / 1000 + 1, UINT_MAX},
                 {UINT_MAX, UINT_MAX}};
    for (const auto& c : cases) {
        SGIOFixture f;
        f.request.timeout_sec = c.seconds;
        EXPECT_EQ(f.Build().timeout, c.milliseconds) << c.seconds;
    }
}

TEST(TransportSGIO, SenseSizeFitsTheKernelsByte) {
    const struct {
        bool buffer;
        VK_UINT32 size;
        unsigned announced;
    } cases[] = {{true, 32, 32}, {true, 255, 255}, {true, 256, 255}, {true, 300, 255}, {false, 32, 0}};
    for (const auto& c : cases) {
        SGIOFixture f;
        f.request.sense_data = c.buffer ? f.sense : nullptr;
        f.request.sense_data_size = c.size;
        EXPECT_EQ(f.Build().mx_sb_len, c.announced) << c.size;
    }
}

TEST(TransportSGIO, ReplyGivesFullStatusAndWrittenSense) {
    const struct {
        unsigned char status;
        unsigned char written;
        unsigned char room;
        VK_UINT32 valid;
    } cases[] = {{0x02, 18, 32, 18}, {0x00, 0, 32, 0}, {0x08, 0, 32, 0}, {0x02, 40, 32, 32}};
    for (const auto& c : cases) {
        SGIOFixture f;
        sg_io_hdr_t h = f.Build();
        h.mx_sb_len = c.room;
        h.status = c.status;
        h.masked_status = static_cast<unsigned char>(c.status >> 1);
        h.sb_len_wr = c.written;
        f.request.valid_sense_data_size = 32;
        EXPECT_TRUE(pavlin::__TakeSGIOReply(&f.request, h));
        EXPECT_EQ(f.request.scsi_status, c.status);
        EXPECT_EQ(f.request.valid_sense_data_size, c.valid);
    }
}

TEST(TransportSGIO, HostOrDriverErrorIsNoCompletion) {
    // A command that timed out or lost its device comes back with status 0: it must not read as done.
    const struct {
        unsigned short host_status;
        unsigned short driver_status;
        bool completed;
    } cases[] = {{0x00, 0x00, true},  {0x00, 0x08, true},  {0x03, 0x00, false}, {0x01, 0x00, false},
                 {0x00, 0x06, false}, {0x00, 0x0E, false}, {0x00, 0x28, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "host " << c.host_status << " driver " << c.driver_status);
        SGIOFixture f;
        sg_io_hdr_t h = f.Build();
        h.status = 0;
        h.sb_len_wr = 0;
        h.host_status = c.host_status;
        h.driver_status = c.driver_status;
        f.request.low_level_status = 0;
        EXPECT_EQ(pavlin::__TakeSGIOReply(&f.request, h), c.completed);
        EXPECT_EQ(f.request.low_level_status, c.completed ? 0 : EIO);
    }
}

} // namespace
