// Self-tests of the simulated controller's writes: each accepted write changes what the later read
// returns at the controller's offsets, a refused one changes nothing; the backup power source,
// the password check, the NVRAM stores, online activation and the firmware flash.
#include <fcntl.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fw_selftest_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::le;
using selftest::text;

// A BMIC write (CDB 27) carrying `data`, or a no-data command when it is empty.
Command bmic_write(std::uint8_t opcode, const Bytes& data, std::uint32_t detail = 0, std::uint16_t lun = 0) {
    BmicCdb b;
    b.write = true;
    b.opcode = opcode;
    b.length = std::uint16_t(data.size());
    b.detail = detail;
    b.lun_low = std::uint8_t(lun);
    b.lun_high = std::uint8_t(lun >> 8);
    Command c;
    c.transport = "test";
    c.cdb = b.to_cdb();
    c.direction = data.empty() ? qvsim::Direction::kNone : qvsim::Direction::kOut;
    c.data_out = data;
    return c;
}

Bytes at(Bytes b, std::size_t off, std::initializer_list<std::uint8_t> v) {
    std::size_t k = off;
    for (auto x : v)
        b.at(k++) = x;
    return b;
}

Bytes put_text(Bytes b, std::size_t off, const std::string& s) {
    std::memcpy(b.data() + off, s.data(), s.size());
    return b;
}

// Controller with logical drive 0 (failed) on drives 0-3 and logical drive 1 on drives 4-5.
FirmwareState two_drives() {
    FirmwareState s;
    for (std::uint16_t d = 0; d < 6; ++d)
        s.add_drive(d);
    auto& a = s.add_configured_drive(0, {0, 1, 2, 3}, 1 << 20);
    a.fault_tolerance = 3;
    a.unit_status = 1;
    a.failed = {2};
    a.label = "old";
    s.add_configured_drive(1, {4, 5}, 1 << 20).fault_tolerance = 2;
    return s;
}

qvsim::FwFault fault(std::uint8_t opcode, unsigned nth = 1, int err = EIO) {
    qvsim::FwFault f;
    f.bmic = opcode;
    f.nth = nth;
    f.err = err;
    return f;
}

bool good(const Reply& r) {
    return r.err == 0 && r.scsi_status == 0;
}

std::uint8_t asc(const Reply& r) {
    return r.sense.size() > 12 ? r.sense[12] : 0xFF;
}

// Detail bytes of chunk n of total t, as the flash sends them.
std::uint32_t chunk_detail(std::uint16_t n, std::uint16_t t) {
    return (std::uint32_t(t >> 8) << 24) | (std::uint32_t(n >> 8) << 16) | (std::uint32_t(t & 0xFF) << 8) |
           (n & 0xFFu);
}

TEST(SimUpdates, EachWriteChangesWhatTheLaterReadReturns) {
    FwController fw(two_drives());
    auto read = [&](const Command& c) { return fw.execute(c).data_in; };
    const Bytes params = read(bmic_read(0x64, 344));
    const Bytes cache = read(bmic_read(0xC1, 512));
    const Bytes config0 = read(bmic_read(0x50, 652, 0, 0));
    Bytes lu_create(512, 0);
    lu_create = at(lu_create, 3, {2, 1, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00});
    Bytes discovery = read(bmic_read(0x83, 98, 1));
    discovery = at(discovery, 2, {3, 0, 2, 1});
    struct Case {
        const char* name;
        Command write;
        Command read;
        std::size_t offset;
        Bytes expect;
    } cases[] = {
        {"parameters: rebuild priority and boot LUN", bmic_write(0x63, at(at(params, 14, {118}), 156, {0xAB})),
         bmic_read(0x64, 344), 14, {118}},
        {"parameters: boot LUN", bmic_write(0x63, at(params, 156, {0xAB, 0xCD})), bmic_read(0x64, 344), 156,
         {0xAB, 0xCD}},
        {"cache sizes", bmic_write(0xC0, at(cache, 4, {0x00, 0x04, 0x00, 0x0A})), bmic_read(0xC1, 512), 4,
         {0x00, 0x04, 0x00, 0x0A}},
        {"cache flags", bmic_write(0xC0, at(cache, 15, {0x06})), bmic_read(0xC1, 512), 15, {0x06}},
        {"surface delay and parallel count", bmic_write(0x60, at(Bytes(512, 0), 0, {0x02, 0x01, 0x03})),
         bmic_read(0x70, 6904), 0, {0x02, 0x01, 0x00, 0x00, 100, 4, 3}},
        {"MNP delay", bmic_write(0x62, at(Bytes(512, 0), 0, {0xA1, 0x05})), bmic_read(0x72, 16), 0, {0xA1, 0x05}},
        {"survival mode", bmic_write(0xEE, {0x03}, 2), bmic_read(0xEE, 17, 1), 16, {0x03}},
        {"I2C address (no data)", bmic_write(0x80, {}, 0x42000000, 0x05), bmic_read(0x80, 4, 0x10000), 0,
         {0x42, 0x05}},
        {"OOB pending half only", bmic_write(0x80, {9, 9, 9, 9, 0x02, 0x01, 0x71, 0x00}, 0x50000),
         bmic_read(0x80, 8, 0x60000), 0, {0x01, 0x02, 0x70, 0x00, 0x02, 0x01, 0x71, 0x00}},
        {"pending discovery", bmic_write(0x83, discovery, 2), bmic_read(0x83, 98, 1), 2, {3, 1, 2, 1}},
        {"label", bmic_write(0x57, put_text(Bytes(512, 0), 4, "Logical Drive 1"), 0, 1), bmic_read(0x10, 118, 0, 1),
         38, Bytes{'L', 'o', 'g', 'i', 'c', 'a', 'l', ' ', 'D', 'r', 'i', 'v', 'e', ' ', '1', 0}},
        {"BIOS-disable flag", bmic_write(0x51, at(config0, 73, {0x02}), 0, 0), bmic_read(0x50, 652, 0, 0), 73, {0x02}},
        {"BIOS flag through join", bmic_write(0x5E, at(config0, 73, {0x00}), 0, 0), bmic_read(0x50, 652, 0, 0), 73,
         {0x00}},
        {"LU cache create", bmic_write(0xC0, lu_create, 0x10001, 1), bmic_read(0xC1, 512, 0x1, 1), 3,
         {2, 1, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {"LU cache modify", bmic_write(0xC0, at(lu_create, 3, {3}), 0x50001, 1), bmic_read(0xC1, 512, 0x1, 1), 3,
         {3}},
        {"manufacturing record, function 1", bmic_write(0x82, at(Bytes(256, 0x20), 8, {'N', 'E', 'W'}), 1),
         bmic_read(0x82, 256, 1), 7, {0x20, 'N', 'E', 'W', 0x20}},
        {"manufacturing record as the tool writes it (function 0)", bmic_write(0x82, Bytes(256, 0x31), 0),
         bmic_read(0x82, 256, 1), 255, {0x31}},
        {"NVRAM data id 1", bmic_write(0x46, Bytes(256, 0x5A), 0x01010000), bmic_read(0x46, 256, 0x01000000), 255,
         {0x5A}},
        {"re-enable after a failed transformation", bmic_write(0x52, {}, 0, 0), bmic_read(0x12, 3265, 0, 0), 0, {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply w = fw.execute(c.write);
        ASSERT_TRUE(good(w)) << "sense asc " << int(asc(w));
        const Bytes r = read(c.read);
        ASSERT_GE(r.size(), c.offset + c.expect.size());
        EXPECT_EQ(Bytes(r.begin() + std::ptrdiff_t(c.offset), r.begin() + std::ptrdiff_t(c.offset + c.expect.size())),
                  c.expect);
    }
    // The parameters write leaves the clock and the total the controller's own.
    const Bytes now = read(bmic_read(0x64, 344));
    EXPECT_EQ(le(now, 188, 4), 344u);
    EXPECT_EQ(Bytes(now.begin() + 228, now.begin() + 256), Bytes(params.begin() + 228, params.begin() + 256));
    // Every accepted write is kept with its length.
    const auto& log = fw.fw_state().updates.writes;
    ASSERT_EQ(log.size(), std::size(cases));
    EXPECT_EQ(log[0].opcode, 0x63);
    EXPECT_EQ(log[0].length, 344u);
    EXPECT_EQ(log[7].length, 0u);
    EXPECT_EQ(log[10].opcode, 0x57);
    EXPECT_EQ(log[10].lun, 1u);
    EXPECT_EQ(fw.fw_state().find_configured_drive(0)->failed.size(), 0u);
    EXPECT_EQ(fw.fw_state().updates.enables, 1u);
}

TEST(SimUpdates, RefusedWritesGetCheckConditionAndChangeNothing) {
    FwController fw(two_drives());
    const Bytes cache = fw.execute(bmic_read(0xC1, 512)).data_in;
    const Bytes config1 = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    struct Case {
        const char* name;
        Command write;
        std::uint8_t asc;
    } cases[] = {
        {"cache sizes above the memory", bmic_write(0xC0, at(cache, 4, {0x00, 0x08, 0x01, 0x08})), 0x26},
        {"short parameters", bmic_write(0x63, Bytes(100, 0)), 0x1A},
        {"configuration of logical drive 64", bmic_write(0x51, config1, 0, 64), 0x24},
        {"short configuration", bmic_write(0x54, Bytes(200, 0), 0, 1), 0x1A},
        {"label of a drive that does not exist", bmic_write(0x57, Bytes(512, 0), 0, 9), 0x24},
        {"parallel scans above the limit", bmic_write(0x60, at(Bytes(512, 0), 2, {5})), 0x26},
        {"LU cache modify without a cache", bmic_write(0xC0, Bytes(512, 0), 0x50000, 1), 0x24},
        {"LU cache destroy without a cache", bmic_write(0xC0, Bytes(512, 0), 0x20000, 1), 0x24},
        {"power-mode write of an unknown function", bmic_write(0xEE, {0, 0, 0, 4}, 5), 0x24},
        {"manufacturing record of another OEM", bmic_write(0x82, Bytes(256, 0), 1, 0x0300), 0x24},
        {"short manufacturing record", bmic_write(0x82, Bytes(255, 0), 1), 0x1A},
        {"manufacturing record, function 2", bmic_write(0x82, Bytes(256, 0), 2), 0x24},
        {"NVRAM data id 2", bmic_write(0x46, Bytes(16, 0), 0x02010000), 0x24},
        {"NVRAM write marked as read", bmic_write(0x46, Bytes(16, 0), 0x01000000), 0x24},
        {"re-enable of a missing drive", bmic_write(0xE0, {}, 0, 7), 0x24},
        {"encryption write of an unknown function", bmic_write(0x1E, Bytes(20, 0), 0x0F), 0x24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Reply r = fw.execute(c.write);
        EXPECT_EQ(r.err, 0);
        EXPECT_EQ(r.scsi_status, 0x02);
        ASSERT_GT(r.sense.size(), 12u);
        EXPECT_EQ(r.sense[2] & 0x0F, 0x05);
        EXPECT_EQ(r.sense[12], c.asc);
    }
    EXPECT_EQ(fw.execute(bmic_read(0xC1, 512)).data_in, cache);
    EXPECT_EQ(fw.fw_state().parameters.rebuild_priority, 64);
    EXPECT_EQ(fw.fw_state().find_configured_drive(1)->label, two_drives().find_configured_drive(1)->label);
    EXPECT_TRUE(fw.fw_state().updates.writes.empty());
}

// The fault list reaches writes by opcode, function and direction; a refused write changes nothing.
TEST(SimUpdates, FaultsFailWritesWithoutTouchingReads) {
    FirmwareState s = two_drives();
    s.faults.push_back(fault(0x51, 1, 0));
    s.faults.back().sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    s.faults.push_back(fault(0x82));
    s.faults.back().write = true;
    s.faults.back().count = 0;
    s.faults.push_back(fault(0xD2, 2));
    FwController fw(s);
    Bytes config = fw.execute(bmic_read(0x50, 652, 0, 0)).data_in;
    const Reply cc = fw.execute(bmic_write(0x51, at(config, 73, {0x02}), 0, 0));
    EXPECT_EQ(cc.scsi_status, 0x02);
    EXPECT_EQ(fw.execute(bmic_read(0x50, 652, 0, 0)).data_in.at(73), 0x00);
    EXPECT_TRUE(good(fw.execute(bmic_write(0x51, at(config, 73, {0x02}), 0, 0)))); // only the first

    EXPECT_EQ(fw.execute(bmic_write(0x82, Bytes(256, 1), 1)).err, EIO);
    EXPECT_TRUE(good(fw.execute(bmic_read(0x82, 256, 1)))); // the read of the same opcode answers

    // Chunk 2 fails: the collect buffer holds chunk 1 only and nothing can be activated.
    EXPECT_TRUE(good(fw.execute(bmic_write(0xD2, Bytes(16384, 1), chunk_detail(1, 3)))));
    EXPECT_EQ(fw.execute(bmic_write(0xD2, Bytes(100, 2), chunk_detail(2, 3))).err, EIO);
    EXPECT_EQ(fw.fw_state().updates.flash.collect.chunks.size(), 1u);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xF7, {}))), 0x2C);
    EXPECT_FALSE(fw.fw_state().updates.flash.pending);
}

TEST(SimUpdates, PasswordCheckAnswersCheckConditionForAWrongPassword) {
    FirmwareState s;
    s.updates.passwords = {"Officer1!", "ABCDEFGHIJKLMNOPQ"};
    FwController fw(s);
    auto check = [&](const std::string& pw, std::uint8_t role) {
        Bytes d(20, 0);
        std::memcpy(d.data(), pw.data(), std::min<std::size_t>(pw.size(), 16));
        d[16] = role;
        return fw.execute(bmic_write(0x1E, d, 0x14));
    };
    EXPECT_TRUE(good(check("Officer1!", 0)));
    EXPECT_EQ(check("Officer1!", 1).scsi_status, 0x02);           // the other role's password
    EXPECT_EQ(check("Officer1", 0).scsi_status, 0x02);            // a prefix is not the password
    EXPECT_TRUE(good(check("ABCDEFGHIJKLMNOP", 1)));              // 16 characters, unterminated
    EXPECT_EQ(check("ABCDEFGHIJKLMNOP", 2).scsi_status, 0x02);    // no third role
    EXPECT_EQ(fw.fw_state().updates.writes.size(), 2u);
}

TEST(SimUpdates, BackupPowerSourceAtItsOffsets) {
    FirmwareState s;
    s.updates.backup_power = {.status = 0x0209, .max_temperature = -5, .max_voltage = 0x1234,
                              .temperature = -40, .voltage = 0x0F00, .current = -300,
                              .temperature_threshold = 70, .health = 0x55, .relative_charge = 87};
    s.faults.push_back(fault(0xBF, 2));
    FwController fw(s);
    const Bytes r = fw.execute(bmic_read(0xBF, 512)).data_in;
    ASSERT_EQ(r.size(), 512u);
    EXPECT_EQ(le(r, 0, 2), 0x0209u);
    EXPECT_EQ(std::int16_t(le(r, 2, 2)), -5);
    EXPECT_EQ(le(r, 4, 2), 0x1234u);
    EXPECT_EQ(std::int16_t(le(r, 6, 2)), -40);
    EXPECT_EQ(le(r, 8, 2), 0x0F00u);
    EXPECT_EQ(std::int16_t(le(r, 10, 2)), -300);
    EXPECT_EQ(std::int16_t(le(r, 12, 2)), 70);
    EXPECT_EQ(le(r, 14, 2), 0x55u);
    EXPECT_EQ(le(r, 16, 2), 87u);
    EXPECT_EQ(Bytes(r.begin() + 18, r.end()), Bytes(494, 0));
    EXPECT_EQ(fw.execute(bmic_read(0xBF, 512)).err, EIO);
    EXPECT_EQ(fw.execute(bmic_read(0xBF, 100)).data_in.size(), 100u);
}

Bytes image(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = std::uint8_t(i * 7 + i / 251);
    return b;
}

// Sends an image as the flash does: chunks of 16,384 bytes, numbered from 1.
void send_image(FwController& fw, const Bytes& img) {
    const std::size_t total = (img.size() + 16383) / 16384;
    for (std::size_t n = 1; n <= total; ++n) {
        const std::size_t from = (n - 1) * 16384, size = std::min<std::size_t>(16384, img.size() - from);
        const Bytes chunk(img.begin() + std::ptrdiff_t(from), img.begin() + std::ptrdiff_t(from + size));
        ASSERT_TRUE(good(fw.execute(bmic_write(0xD2, chunk, chunk_detail(std::uint16_t(n), std::uint16_t(total))))));
    }
}

TEST(SimUpdates, CollectBufferKeepsChunksAndActivationMakesThePendingImage) {
    FwController fw;
    const Bytes img = image(40000);
    send_image(fw, img);
    const auto& f = fw.fw_state().updates.flash;
    ASSERT_EQ(f.collect.chunks.size(), 3u);
    EXPECT_EQ(f.collect.chunks[1].number, 2);
    EXPECT_EQ(f.collect.chunks[1].total, 3);
    EXPECT_EQ(f.collect.chunks[2].size, 7232u);
    EXPECT_EQ(f.collect.data, img);
    EXPECT_EQ(fw.fw_state().updates.writes.back().data.size(), 0u); // chunk data lives in the buffer
    EXPECT_EQ(fw.fw_state().updates.writes.back().length, 7232u);

    EXPECT_TRUE(good(fw.execute(bmic_write(0xF7, {}, 1)))); // keep the buffer
    EXPECT_TRUE(f.pending);
    EXPECT_EQ(f.pending_image, img);
    EXPECT_EQ(f.collect.chunks.size(), 3u);
    EXPECT_TRUE(good(fw.execute(bmic_write(0xFD, {}, 1))));
    EXPECT_TRUE(good(fw.execute(bmic_write(0xF7, {}, 0)))); // free it
    EXPECT_TRUE(f.collect.chunks.empty());
    EXPECT_EQ(f.activations, 2u);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xFD, {}, 1))), 0x2C); // nothing left to validate
    EXPECT_EQ(f.verdicts, std::vector<bool>{true});

    // Chunk 300 of 300: the high bytes of the detail count too.
    EXPECT_TRUE(good(fw.execute(bmic_write(0xD2, Bytes(1, 0), chunk_detail(257, 300)))));
    EXPECT_EQ(fw.fw_state().updates.writes.back().detail, 0x01012C01u);
    EXPECT_EQ(f.collect.chunks.back().number, 257);
    EXPECT_EQ(f.collect.chunks.back().total, 300);
    EXPECT_TRUE(good(fw.execute(bmic_write(0xD3, {}))));
    EXPECT_TRUE(f.collect.chunks.empty());
    EXPECT_FALSE(f.collect.total);
    EXPECT_EQ(f.frees, 1u);
}

TEST(SimUpdates, CollectBufferRefusesBadChunksAndIncompleteImages) {
    FwController fw;
    struct Case {
        const char* name;
        std::uint32_t detail;
        std::size_t size;
    } bad[] = {
        {"chunk 0", chunk_detail(0, 3), 10},
        {"total 0", chunk_detail(1, 0), 10},
        {"number above the total", chunk_detail(4, 3), 10},
        {"empty chunk", chunk_detail(1, 3), 0},
        {"chunk over 16,384 bytes", chunk_detail(1, 3), 16385},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(asc(fw.execute(bmic_write(0xD2, Bytes(c.size, 1), c.detail))), 0x24);
    }
    EXPECT_TRUE(fw.fw_state().updates.flash.collect.chunks.empty());
    // Another total than the buffer's first chunk announced.
    EXPECT_TRUE(good(fw.execute(bmic_write(0xD2, Bytes(10, 1), chunk_detail(1, 2)))));
    EXPECT_EQ(asc(fw.execute(bmic_write(0xD2, Bytes(10, 1), chunk_detail(2, 3)))), 0x24);
    // Out of order: kept, so a test sees it, but the image is not complete.
    EXPECT_TRUE(good(fw.execute(bmic_write(0xD2, Bytes(10, 1), chunk_detail(1, 2)))));
    EXPECT_EQ(fw.fw_state().updates.flash.collect.chunks.size(), 2u);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xF7, {}))), 0x2C);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xF7, {}, 2))), 0x24);
    EXPECT_FALSE(fw.fw_state().updates.flash.pending);
}

TEST(SimUpdates, ValidationVerdictFollowsTheScenarioRule) {
    struct Case {
        const char* rule;
        Bytes prefix;
        bool accepted;
    } cases[] = {
        {"accept", {}, true},
        {"reject", {}, false},
        {"prefix", {0x00, 0x07}, true},
        {"prefix", {0x00, 0x08}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " " + qvsim::hex_bytes(c.prefix));
        FirmwareState s;
        s.updates.flash.validation = c.rule;
        s.updates.flash.valid_prefix = c.prefix;
        FwController fw(s);
        send_image(fw, image(20000));
        EXPECT_EQ(good(fw.execute(bmic_write(0xFD, {}, 1))), c.accepted);
        EXPECT_EQ(fw.fw_state().updates.flash.verdicts, std::vector<bool>{c.accepted});
        // Activation refuses what validation refuses.
        EXPECT_EQ(good(fw.execute(bmic_write(0xF7, {}))), c.accepted);
        EXPECT_EQ(fw.fw_state().updates.flash.pending, c.accepted);
    }
}

TEST(SimUpdates, RomToggleSwapsImagesUnlessUnsupported) {
    FirmwareState s;
    s.identify.active_rom_status = 0x04;
    FwController fw(s);
    ASSERT_TRUE(good(fw.execute(bmic_write(0xFC, {}))));
    Bytes id = fw.execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(id[133], 0x05);
    EXPECT_EQ(text(id, 9, 4), "5.30");
    ASSERT_TRUE(good(fw.execute(bmic_write(0xFC, {}))));
    id = fw.execute(bmic_read(0x11, 1024)).data_in;
    EXPECT_EQ(id[133], 0x04);
    EXPECT_EQ(text(id, 9, 4), "5.32");
    fw.fw_state().identify.active_rom_status = 0x10;
    EXPECT_EQ(asc(fw.execute(bmic_write(0xFC, {}))), 0x20);
    EXPECT_EQ(fw.fw_state().updates.flash.toggles, 2u);
}

TEST(SimUpdates, OnlineActivationInitiateAndSoftReset) {
    FwController fw;
    auto exchange = [&](std::uint8_t fn, std::uint16_t delay) {
        Command c = bmic_write(0xD4, at(Bytes(16, 0), 0, {std::uint8_t(delay), std::uint8_t(delay >> 8)}), fn);
        c.direction = qvsim::Direction::kBoth;
        c.data_in_length = 16;
        return fw.execute(c);
    };
    Reply r = exchange(2, 5);
    ASSERT_TRUE(good(r));
    EXPECT_EQ(r.data_in, Bytes(16, 0));
    Bytes st = fw.execute(bmic_read(0xD4, 16, 3)).data_in;
    EXPECT_EQ(st[0], 251);
    EXPECT_EQ(le(st, 2, 2), 5u);
    EXPECT_EQ(le(st, 4, 2), 5u);
    ASSERT_TRUE(good(exchange(2, 0)));
    EXPECT_EQ(fw.execute(bmic_read(0xD4, 16, 3)).data_in[0], 1); // running at once

    // A refusing response comes back and changes nothing.
    fw.fw_state().ofa.response_code = 1;
    fw.fw_state().ofa.failure_reason = {0x05, 0x04};
    r = exchange(5, 0);
    ASSERT_TRUE(good(r));
    EXPECT_EQ(Bytes(r.data_in.begin(), r.data_in.begin() + 3), (Bytes{1, 0x05, 0x04}));
    EXPECT_EQ(fw.fw_state().updates.soft_resets, 0u);
    fw.fw_state().ofa.response_code = 0;
    ASSERT_TRUE(good(exchange(5, 0)));
    EXPECT_EQ(fw.fw_state().updates.soft_resets, 1u);
    EXPECT_EQ(fw.execute(bmic_read(0xD4, 16, 3)).data_in[0], 255);
    EXPECT_EQ(asc(exchange(3, 0)), 0x24); // status is a read only
}

TEST(SimUpdates, NvramStoresAndClearConfiguration) {
    FwController fw(two_drives());
    // The SEEPROM image is replaced whole; reads return at most what they ask for.
    ASSERT_TRUE(good(fw.execute(bmic_write(0x46, Bytes(300, 0xA5), 0x08010000))));
    const Bytes nv = fw.execute(bmic_read(0x46, 16384, 0x08000000)).data_in;
    EXPECT_EQ(nv, Bytes(300, 0xA5));
    EXPECT_EQ(fw.execute(bmic_read(0x46, 256, 0x01000000)).data_in, Bytes(256, 0));

    // Clearing drive 4's configuration removes logical drive 1 only; "all" removes the rest.
    Bytes clear(512, 0);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x6E, at(clear, 4, {4, 0, 0, 0})))));
    EXPECT_EQ(fw.fw_state().logical_drives.size(), 1u);
    EXPECT_EQ(fw.execute(bmic_read(0x10, 118, 0, 1)).scsi_status, 0x02);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x6E, at(clear, 4, {0xFF, 0xFF, 0xFF, 0xFF})))));
    EXPECT_TRUE(fw.fw_state().logical_drives.empty());
    EXPECT_EQ(le(fw.execute(selftest::report_luns(0xC2, 512)).data_in, 0, 4), 0u);
}

TEST(SimUpdates, JsonFormCarriesTheUpdates) {
    auto j = nlohmann::json::parse(R"({
        "updates": {"backup_power": {"status": 8, "relative_charge": 12},
                    "passwords": {"user": "pw"},
                    "flash": {"validation": "prefix", "valid_prefix": "51 56", "active_rom": "6.00"}},
        "faults": [{"bmic": "0x82", "write": true, "errno": 5}]})");
    const FirmwareState s = FirmwareState::from_json(j);
    EXPECT_EQ(s.updates.backup_power.status, 8);
    EXPECT_EQ(s.updates.backup_power.relative_charge, 12);
    EXPECT_EQ(s.updates.passwords.user, "pw");
    EXPECT_EQ(s.updates.flash.valid_prefix, (Bytes{0x51, 0x56}));
    ASSERT_EQ(s.faults.size(), 1u);
    EXPECT_EQ(s.faults[0].write, true);
    const FirmwareState back = FirmwareState::from_json(s.to_json());
    EXPECT_EQ(back.updates.flash.active_rom, "6.00");
    EXPECT_EQ(back.updates.flash.validation, "prefix");
    EXPECT_THROW(FirmwareState::from_json(nlohmann::json::parse(R"({"updates": {"flsh": {}}})")),
                 std::runtime_error);
}

class SimUpdatesHost : public qvsim::SimHostTest {};

// Through the CISS node: the log shows the write with its length, and register-new-disks counts.
TEST_F(SimUpdatesHost, WritesAndRegisterNewDisksReachTheController) {
    qvsim::Scenario s;
    auto& c = s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
    auto fw = std::make_shared<FwController>();
    c.firmware = fw;
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    const int fd = ::open("/dev/sg1", O_RDWR);
    ASSERT_GE(fd, 0);
    Bytes data(512, 0);
    data[0] = 0x10;
    IOCTL_Command_struct io{};
    const Bytes cdb = bmic_write(0x62, data).cdb;
    io.Request.CDBLen = 16;
    io.Request.Type.Type = TYPE_CMD;
    io.Request.Type.Attribute = ATTR_SIMPLE;
    io.Request.Type.Direction = XFER_WRITE;
    std::memcpy(io.Request.CDB, cdb.data(), 16);
    io.buf_size = 512;
    io.buf = data.data();
    ASSERT_EQ(::ioctl(fd, CCISS_PASSTHRU, &io), 0);
    EXPECT_EQ(io.error_info.ScsiStatus, 0);
    EXPECT_EQ(::ioctl(fd, CCISS_REGNEWD, nullptr), 0);
    EXPECT_EQ(::ioctl(fd, CCISS_REGNEWD, nullptr), 0);
    ::close(fd);
    EXPECT_EQ(fw->fw_state().mnp_delay, 0x10);
    EXPECT_EQ(fw->fw_state().updates.register_new_disks, 2u);
    const auto reqs = host().requests("/dev/sg1");
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ(reqs[1].decoded.at("buf_size"), 512);
    EXPECT_EQ(reqs[1].decoded.at("data_out").get<std::string>().substr(0, 2), "10");
}

} // namespace
