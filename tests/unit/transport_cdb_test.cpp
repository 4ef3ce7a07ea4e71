// CDBs that the platform builds itself: BMIC, ATA PASS-THROUGH (16), block I/O and the BMIC 0x68
// carrier of tunnelled frames; and the ATA return registers read back from sense data.
#include "pavl_extern.h"
#include "pavl_wire.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using transport_test::Hex;

namespace {

struct BMICCase {
    const char* name;
    EnTransferType transfer_type;
    VK_UINT8 opcode;
    VK_UINT32 detail;
    VK_UINT16 lun;
    VK_UINT32 buffer_size;
    VK_UINT32 block_count_override;
    VK_QWORD additional_detail;
    const char* cdb;
};

const BMICCase kBMICCases[] = {
    {"identify read", eDATA_TRANSFER_IN, 0x11, 0, 0, 1024, 0, 0,
     "26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00"},
    {"override announces the count", eDATA_TRANSFER_OUT, 0x27, 0, 0, 512, 1, 0,
     "27 00 00 00 00 00 27 00 01 00 00 00 00 00 00 00"},
    {"length keeps its low 16 bits", eDATA_TRANSFER_IN, 0x11, 0, 0, 70000, 0, 0,
     "26 00 00 00 00 00 11 11 70 00 00 00 00 00 00 00"},
    {"every field in place", eDATA_TRANSFER_IN, 0x26, 0xAABBCCDD, 0x1234, 0x0203, 0, 0xFF11223344556677ULL,
     "26 34 AA BB CC DD 26 02 03 12 22 33 44 55 66 77"},
    {"inout is a write", eDATA_TRANSFER_INOUT, 0x90, 0, 0, 0, 0, 0,
     "27 00 00 00 00 00 90 00 00 00 00 00 00 00 00 00"},
    {"no data is a write", eDATA_TRANSFER_NONE, 0x90, 0, 0, 0, 0, 0,
     "27 00 00 00 00 00 90 00 00 00 00 00 00 00 00 00"},
    {"in message is a write", eDATA_TRANSFER_IN_MESSAGE, 0x90, 0, 0, 8, 0, 0,
     "27 00 00 00 00 00 90 00 08 00 00 00 00 00 00 00"},
};

TEST(TransportCDB, BMICCommandBlocks) {
    for (const auto& c : kBMICCases) {
        SCOPED_TRACE(c.name);
        BMICRequest r{};
        r.transfer_type = c.transfer_type;
        r.bmic_opcode = c.opcode;
        r.bmic_detail = c.detail;
        r.LUN.lun_number = c.lun;
        r.io_buffer_size = c.buffer_size;
        r.block_count_override = c.block_count_override;
        r.bmic_additional_detail = c.additional_detail;
        VK_UINT8 cdb[16];
        std::memset(cdb, 0xEE, sizeof cdb);
        __BMIC2SCSI(&r, cdb);
        EXPECT_EQ(Hex(cdb, 16), c.cdb);
    }
}

struct ATACase {
    const char* name;
    EnTransferType transfer_type;
    VK_UINT32 buffer_size;
    std::vector<VK_UINT8> registers; // previous 0-7, current 8-15
    const char* cdb;
};

const ATACase kATACases[] = {
    {"identify device",
     eDATA_TRANSFER_IN,
     512,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0},
     "85 09 2E 00 00 00 01 00 00 00 00 00 00 00 EC 00"},
    {"non-data",
     eDATA_TRANSFER_NONE,
     0,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0xE7, 0},
     "85 07 26 00 00 00 00 00 00 00 00 00 00 A0 E7 00"},
    {"data-out with every register",
     eDATA_TRANSFER_OUT,
     4096,
     {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x35, 0x28},
     "85 0B 26 11 21 12 22 13 23 14 24 15 25 26 35 00"},
    {"inout goes as data-out",
     eDATA_TRANSFER_INOUT,
     512,
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x92, 0},
     "85 0B 26 00 00 00 01 00 00 00 00 00 00 00 92 00"},
    // Counts left 0 take the size in sectors: bits 24-17 and 16-9 of 3 << 17 | 5 << 9.
    {"counts from the size",
     eDATA_TRANSFER_IN,
     (3u << 17) | (5u << 9),
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x25, 0},
     "85 09 2E 00 00 03 05 00 00 00 00 00 00 00 25 00"},
};

TEST(TransportCDB, ATAPassThrough16) {
    for (const auto& c : kATACases) {
        SCOPED_TRACE(c.name);
        ATARequest r{};
        r.transfer_type = c.transfer_type;
        r.io_buffer_size = c.buffer_size;
        std::memcpy(r.u.cdb, c.registers.data(), 16);
        VK_UINT8 cdb[16];
        std::memset(cdb, 0xEE, sizeof cdb);
        __ATA2SCSI(&r, cdb);
        EXPECT_EQ(Hex(cdb, 16), c.cdb);
    }
}

TEST(TransportCDB, BlockIO) {
    VK_UINT8 cdb[16];
    __BuildReadWrite16CDB(kFalse, 0x100000002ULL, 8, cdb);
    EXPECT_EQ(Hex(cdb, 16), "8A 00 00 00 00 01 00 00 00 02 00 00 00 08 00 00");
    __BuildReadWrite16CDB(kTrue, 0x0102030405060708ULL, 0xA1B2C3D4, cdb);
    EXPECT_EQ(Hex(cdb, 16), "88 00 01 02 03 04 05 06 07 08 A1 B2 C3 D4 00 00");

    VK_BYTE address[16] = {0, 1, 0, 0x05, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    __BuildBMICLogicalDriveCDB(kFalse, address, 0x100000002ULL, 8, cdb);
    EXPECT_EQ(Hex(cdb, 16), "27 03 00 00 00 02 30 00 08 00 00 00 00 01 00 00");
    address[5] = 0x41;
    __BuildBMICLogicalDriveCDB(kTrue, address, 0xAABBCCDD11223344ULL, 0x00012345, cdb);
    EXPECT_EQ(Hex(cdb, 16), "26 03 11 22 33 44 20 23 45 41 AA BB CC DD 00 01");
}

TEST(TransportCDB, CSMICarrier) {
    VK_BYTE cdb[16];
    pavlin::__BuildCSMICarrierCDB(pavlin::kCSMIControlCodeSMP, sizeof(pavlin::_MODIFIED_CSMI_SMPPT_BUFFER),
                                  cdb);
    EXPECT_EQ(Hex(cdb, 16), "27 00 00 00 00 17 68 08 2C 00 00 00 00 00 00 00");
    pavlin::__BuildCSMICarrierCDB(pavlin::kCSMIControlCodeSSP, pavlin::__SSPTunnelFrameSize(512), cdb);
    EXPECT_EQ(Hex(cdb, 16), "27 00 00 00 00 18 68 03 74 00 00 00 00 00 00 00");
}

// ---- ATA return registers -----------------------------------------------------------------------

struct ReturnRegisterCase {
    const char* name;
    std::vector<VK_BYTE> sense;    // padded to 32
    std::vector<VK_BYTE> expected; // error .. sense_format, 12 bytes
};

const ReturnRegisterCase kReturnRegisterCases[] = {
    {"fixed, short",
     {0x70, 0, 0, 0x04, 0x51, 0x40, 0x01, 0x03, 0xAA, 0xBB, 0xCC, 0xDD},
     {0x04, 0, 0x01, 0, 0, 0, 0, 0, 0, 0x40, 0x51, 0x70}},
    {"fixed with LBA",
     {0x71, 0, 0, 0x04, 0x51, 0x40, 0x01, 0x0A, 0xAA, 0xBB, 0xCC, 0xDD},
     {0x04, 0, 0x01, 0, 0xDD, 0, 0xCC, 0xAA, 0xBB, 0x40, 0x51, 0x71}},
    {"descriptor with ATA return",
     {0x72, 0x01, 0,    0x1D, 0,    0,    0,    0x0E, 0x09, 0x0C, 0x00,
      0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x40, 0x51},
     {0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x40, 0x51, 0x72}},
    {"descriptor of another kind",
     {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0x0E, 0x02, 0x06, 0, 0x04, 0x01},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x72}},
    {"descriptor with no descriptors",
     {0x73, 0, 0, 0, 0, 0, 0, 0x00, 0x09, 0x0C, 0, 0x04},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x73}},
    {"no sense", {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
};

TEST(TransportATA, ReturnRegistersFromSense) {
    for (const auto& c : kReturnRegisterCases) {
        SCOPED_TRACE(c.name);
        std::vector<VK_BYTE> sense = c.sense;
        sense.resize(32);
        ATARequest r{};
        std::memset(&r.ReturnRegisters, 0xEE, sizeof r.ReturnRegisters);
        __DecodeATAReturnRegisters(&r, pavlin::ByteView(sense.data(), 32));
        std::vector<VK_BYTE> got(sizeof r.ReturnRegisters);
        std::memcpy(got.data(), &r.ReturnRegisters, got.size());
        EXPECT_EQ(got, c.expected);
    }
}

struct SenseCheckCase {
    const char* name;
    std::vector<VK_BYTE> sense; // exactly the bytes given to the check
    VK_BOOL no_error;
};

std::vector<VK_BYTE> DescriptorSense(VK_BYTE status, size_t size) {
    std::vector<VK_BYTE> s(22, 0);
    s[0] = 0x72;
    s[7] = 0x0E;
    s[8] = 0x09;
    s[9] = 0x0C;
    s[21] = status;
    s.resize(size);
    return s;
}

TEST(TransportATA, SenseCheckReadsOnlyWhatItIsGiven) {
    const SenseCheckCase cases[] = {
        {"no sense at all", std::vector<VK_BYTE>(32, 0), kTrue},
        {"fixed, error bit clear", {0x70, 0, 0, 0, 0x50}, kTrue},
        {"fixed, error bit set", {0x70, 0, 0, 0x04, 0x51}, kFalse},
        {"fixed, status byte not given", {0x70, 0, 0, 0x04}, kFalse},
        {"descriptor, error bit clear", DescriptorSense(0x50, 22), kTrue},
        {"descriptor, error bit set", DescriptorSense(0x51, 22), kFalse},
        {"descriptor, status byte not given", DescriptorSense(0x50, 21), kFalse},
        {"descriptor header cut short", DescriptorSense(0x50, 9), kFalse},
        {"descriptor of another kind",
         {0x72, 0x05, 0x24, 0, 0, 0, 0, 0x0E, 0x02, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
         kFalse},
        {"empty", {}, kFalse},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A heap block of exactly the given size, so a read past it is caught by the sanitizer.
        std::vector<VK_BYTE> exact(c.sense);
        EXPECT_EQ(CheckATAPassthroughSenseData(exact.empty() ? nullptr : exact.data(),
                                               static_cast<VK_DWORD>(exact.size())),
                  c.no_error);
    }
}

} // namespace
