// The CISS pass-through records, read back through the kernel's own definitions of them.
#include "pavl_extern.h"
#include "pavl_wire.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

// Included last: it defines BYTE, WORD and DWORD.
#include <linux/cciss_ioctl.h>

namespace {

using pavlin::CISSPassthrough;

struct CISSRequestFixture {
    VK_UINT8 cdb[16] = {0x12, 0x01, 0x80, 0x00, 0x60, 0x00};
    std::vector<VK_UINT8> buffer;
    SCSIRequest request{};
    PavlinInternalSCSIRequest internal{};

    CISSRequestFixture(EnTransferType transfer_type, VK_UINT32 size, VK_UINT32 timeout = 0)
        : buffer(size ? size : 1) {
        request.transfer_type = transfer_type;
        request.timeout_sec = timeout;
        request.cdb = cdb;
        request.cdb_size = 6;
        request.io_buffer = buffer.data();
        request.io_buffer_size = size;
        internal.request = &request;
        internal.command_target.protocol_type = kProtocolTypePQI;
        const VK_BYTE address[16] = {0,    0,    0,    0x05, 0xA1, 0xA2, 0xA3, 0xA4,
                                     0xA5, 0xA6, 0xA7, 0xA8, 0,    0,    0,    0};
        std::memcpy(internal.command_target.protocol_address, address, 16);
    }

    CISSPassthrough Build() {
        CISSPassthrough p;
        EXPECT_TRUE(pavlin::__BuildCISSPassthrough(internal, p));
        return p;
    }
};

TEST(TransportCISS, DirectionFollowsTransferTypeAndSize) {
    const struct {
        EnTransferType type;
        VK_UINT32 size;
        unsigned direction;
    } cases[] = {
        {eDATA_TRANSFER_IN, 512, XFER_READ},         {eDATA_TRANSFER_OUT, 512, XFER_WRITE},
        {eDATA_TRANSFER_INOUT, 512, XFER_RSVD},      {eDATA_TRANSFER_NONE, 512, XFER_NONE},
        {eDATA_TRANSFER_IN_MESSAGE, 512, XFER_NONE}, {eDATA_TRANSFER_OUT_MESSAGE, 512, XFER_NONE},
        {eDATA_TRANSFER_IN, 0, XFER_NONE},           {eDATA_TRANSFER_OUT, 0, XFER_NONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.size);
        CISSRequestFixture f(c.type, c.size);
        CISSPassthrough p = f.Build();
        ASSERT_FALSE(p.big);
        ::IOCTL_Command_struct k;
        std::memcpy(&k, &p.ordinary, sizeof k);
        EXPECT_EQ(k.Request.Type.Direction, c.direction);
        EXPECT_EQ(k.Request.Type.Type, TYPE_CMD);
        EXPECT_EQ(k.Request.Type.Attribute, ATTR_SIMPLE);
    }
}

TEST(TransportCISS, TimeLimitIsClamped) {
    const struct {
        VK_UINT32 seconds;
        unsigned carried;
    } cases[] = {{0, 30},    {29, 30},   {30, 30},    {31, 31},
                 {600, 600}, {601, 600}, {3600, 600}, {0xFFFFFFFF, 600}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        CISSRequestFixture f(eDATA_TRANSFER_IN, 512, c.seconds);
        CISSPassthrough p = f.Build();
        ::IOCTL_Command_struct k;
        std::memcpy(&k, &p.ordinary, sizeof k);
        EXPECT_EQ(k.Request.Timeout, c.carried);
    }
}

TEST(TransportCISS, OrdinaryRecordCarriesAddressCommandAndBuffer) {
    CISSRequestFixture f(eDATA_TRANSFER_IN, 1024, 45);
    CISSPassthrough p = f.Build();
    ASSERT_FALSE(p.big);
    EXPECT_EQ(p.RequestCode(), static_cast<unsigned long>(CCISS_PASSTHRU));
    EXPECT_EQ(p.Record(), static_cast<void*>(&p.ordinary));
    ::IOCTL_Command_struct k;
    std::memcpy(&k, &p.ordinary, sizeof k);
    EXPECT_EQ(transport_test::Hex(k.LUN_info.LunAddrBytes, 8), "A1 A2 A3 A4 A5 A6 A7 A8");
    EXPECT_EQ(k.Request.CDBLen, 6);
    EXPECT_EQ(transport_test::Hex(k.Request.CDB, 16), "12 01 80 00 60 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(k.Request.Timeout, 45);
    EXPECT_EQ(k.buf_size, 1024);
    EXPECT_EQ(k.buf, f.buffer.data());
    EXPECT_EQ(k.error_info.ScsiStatus, 0);
}

TEST(TransportCISS, BufferSizeChoosesTheRecord) {
    // The ordinary record's size field is 16 bits: everything larger goes in the big record.
    const struct {
        VK_UINT32 size;
        bool big;
        VK_UINT32 chunk;
    } cases[] = {
        {0, false, 0},        {65535, false, 0},    {65536, true, 3072},
        {127999, true, 5120}, {128000, true, 5120}, {31 * 128000, true, 128000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        CISSRequestFixture f(eDATA_TRANSFER_IN, c.size);
        CISSPassthrough p = f.Build();
        ASSERT_EQ(p.big, c.big);
        if (!c.big) {
            ::IOCTL_Command_struct k;
            std::memcpy(&k, &p.ordinary, sizeof k);
            EXPECT_EQ(k.buf_size, c.size);
            continue;
        }
        EXPECT_EQ(p.RequestCode(), static_cast<unsigned long>(CCISS_BIG_PASSTHRU));
        EXPECT_EQ(p.Record(), static_cast<void*>(&p.big_record));
        ::BIG_IOCTL_Command_struct k;
        std::memcpy(&k, &p.big_record, sizeof k);
        EXPECT_EQ(k.malloc_size, c.chunk);
        EXPECT_EQ(k.buf_size, c.size);
        EXPECT_EQ(k.buf, f.buffer.data());
        EXPECT_EQ(transport_test::Hex(k.LUN_info.LunAddrBytes, 8), "A1 A2 A3 A4 A5 A6 A7 A8");
        EXPECT_EQ(k.Request.CDBLen, 6);
        EXPECT_EQ(k.Request.Type.Direction, XFER_READ);
        EXPECT_EQ(k.Request.Timeout, 30);
    }
}

TEST(TransportCISS, ChunkSize) {
    const struct {
        VK_UINT32 size;
        VK_DWORD chunk;
    } cases[] = {{30, 1024}, {31 * 1024, 1024}, {31 * 1024 + 30, 1024}, {31 * 1025, 2048}, {128000, 5120}};
    for (const auto& c : cases) {
        EXPECT_EQ(pavlin::__CISSChunkSize(c.size), c.chunk) << c.size;
    }
}

TEST(TransportCISS, CDBLongerThanTheRecordIsRefused) {
    CISSRequestFixture f(eDATA_TRANSFER_NONE, 0);
    VK_UINT8 long_cdb[17] = {};
    f.request.cdb = long_cdb;
    f.request.cdb_size = 17;
    CISSPassthrough p;
    EXPECT_FALSE(pavlin::__BuildCISSPassthrough(f.internal, p));
}

TEST(TransportCISS, ReplyStatusesAndSenseAreBounded) {
    const struct {
        const char* name;
        VK_BYTE reported;
        VK_UINT32 buffer_size;
        VK_UINT32 valid;
        VK_UINT32 copied;
    } cases[] = {
        {"40 reported, 32 kept", 40, 32, 32, 32}, {"small caller buffer", 40, 16, 32, 16},
        {"shorter sense", 10, 32, 10, 10},        {"no sense", 0, 32, 0, 0},
        {"zero-size buffer", 18, 0, 18, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pavlin::CISSErrorInfo info{};
        info.bScsiStatus = 0x02;
        info.wCommandStatus = 0x0001;
        info.bSenseLen = c.reported;
        for (VK_BYTE i = 0; i < 32; ++i) {
            info.bSenseInfo[i] = static_cast<VK_BYTE>(0x40 + i);
        }
        std::vector<VK_UINT8> sense(40, 0xEE);
        SCSIRequest r{};
        r.sense_data = sense.data();
        r.sense_data_size = c.buffer_size;
        pavlin::__TakeCISSReply(&r, info);
        EXPECT_EQ(r.scsi_status, 0x02);
        EXPECT_EQ(r.command_status, 0x0001);
        EXPECT_EQ(r.valid_sense_data_size, c.valid);
        for (VK_UINT32 i = 0; i < sense.size(); ++i) {
            ASSERT_EQ(sense[i], i < c.copied ? 0x40 + i : 0xEE) << i;
        }
    }
}

} // namespace
