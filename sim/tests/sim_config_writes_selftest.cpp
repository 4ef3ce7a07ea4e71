// Self-tests of the simulated controller's configuration writes: BMIC 0x51 creates, changes and
// deletes logical drives, 0x54 transforms one (at once or queued), 0xC0 LUN 0 takes the cache's
// disable flag and extended map, 0xC0 LUN 1 pairs and unpairs an LU cache; READ(16) and WRITE(16) at a logical drive's LUN reach its blocks.
// Records are built here from the LOGICAL_DRIVE_CONFIG layout; results are read back with 0x50,
// 0x55, 0x12, 0x10, 0x59, 0xC1 and REPORT LOGICAL LUNS.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "fw_selftest_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::bmic_write;
using selftest::le;

void put(Bytes& b, std::size_t off, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i)
        b[off + i] = std::uint8_t(v >> (8 * i));
}
void bit(Bytes& b, std::size_t at, std::uint16_t n) {
    b[at + n / 8] |= std::uint8_t(1u << (n % 8));
}

struct Record {
    std::vector<std::uint16_t> members, spares;
    std::uint16_t fault_tolerance = 2, strip = 128, block_size = 512;
    std::uint64_t size = 2000000, offset = 4096;
    std::uint8_t more_unit_flags = 0, fast_parity = 0, configuration_flags = 0, bios = 0;
    std::uint32_t signature = 0x51C0FFEE;
    std::optional<std::uint16_t> assigned;
    bool extended_maps = true; // members and spares also in the extended maps at 300 and 348
};

// A 652-byte LOGICAL_DRIVE_CONFIG as a host writes it (a controller of 384 devices).
Bytes record(const Record& r) {
    Bytes b(652, 0);
    put(b, 0, r.signature, 4);
    put(b, 4, 2, 2);
    put(b, 10, r.assigned.value_or(std::uint16_t(r.members.size())), 2);
    put(b, 12, r.fault_tolerance, 2);
    put(b, 16, r.size, 8);
    put(b, 24, r.block_size, 2);
    b[26] = r.more_unit_flags;
    b[28] = r.fast_parity;
    put(b, 50, r.strip, 2);
    b[57] = r.configuration_flags;
    put(b, 66, r.offset, 4);
    b[73] = r.bios;
    put(b, 74, r.size, 4);
    b[82] = 20;
    b[87] = 0x01;
    put(b, 234, r.offset, 8);
    put(b, 256, 652, 4);
    put(b, 260, 384, 2);
    put(b, 264, 300, 4);
    for (auto m : r.members)
        if (m < 128)
            bit(b, 98, m);
    for (auto s : r.spares)
        if (s < 128)
            bit(b, 114, s);
    if (r.extended_maps) {
        put(b, 250, 300, 2);
        put(b, 252, 348, 2);
        for (auto m : r.members)
            bit(b, 300, m);
        for (auto s : r.spares)
            bit(b, 348, s);
    }
    return b;
}

std::vector<std::uint16_t> bits_of(const Bytes& b, std::size_t at, std::size_t count) {
    std::vector<std::uint16_t> out;
    for (std::size_t n = 0; n < count; ++n)
        if (b.at(at + n / 8) & (1u << (n % 8)))
            out.push_back(std::uint16_t(n));
    return out;
}

bool good(const Reply& r) {
    return r.err == 0 && r.scsi_status == 0;
}
std::uint8_t asc(const Reply& r) {
    return r.sense.size() > 12 ? r.sense[12] : 0xFF;
}

// Drives 0-7 and 200; logical drive 0 on 0-1 (LU cache pair with 2), 1 on 2-3, 2 an LU cache.
FirmwareState inventory() {
    FirmwareState s;
    for (std::uint16_t d = 0; d < 8; ++d)
        s.add_drive(d);
    s.add_drive(200);
    auto& a = s.add_configured_drive(0, {0, 1}, 1 << 20);
    a.fault_tolerance = 2;
    a.lu_cache_bits = 0x01;
    a.lu_cache_other = 2;
    s.add_configured_drive(1, {2, 3}, 1 << 20).fault_tolerance = 2;
    auto& c = s.add_configured_drive(2, {4}, 1 << 16);
    c.property = 0x05;
    c.lu_cache_bits = 0x02;
    c.lu_cache_other = 0;
    return s;
}

// Entries of REPORT LOGICAL LUNS (the list length, big-endian at 0, over 24-byte entries).
std::size_t logical_lun_count(FwController& fw) {
    const Bytes r = fw.execute(selftest::report_luns(0xC2, 8 + 24 * 70)).data_in;
    return ((std::size_t(r.at(0)) << 24) | (std::size_t(r.at(1)) << 16) | (std::size_t(r.at(2)) << 8) | r.at(3)) / 24;
}

TEST(SimConfigWrites, NewLogicalDriveTakesTheRecordAndTheControllerFillsTheRest) {
    FwController fw(inventory());
    Record r;
    r.members = {5, 200};
    r.spares = {6};
    r.fast_parity = 0x01;
    r.configuration_flags = 0x10;
    r.bios = 0x02;
    r.more_unit_flags = 0x08;
    const std::size_t luns = logical_lun_count(fw);
    const Reply w = fw.execute(bmic_write(0x51, record(r), 0, 7));
    ASSERT_TRUE(good(w)) << "asc " << int(asc(w));
    const Bytes c = fw.execute(bmic_read(0x50, 652, 0, 7)).data_in;
    EXPECT_EQ(le(c, 0, 4), 0x51C0FFEEu);
    EXPECT_EQ(le(c, 10, 2), 2u);
    EXPECT_EQ(le(c, 12, 2), 2u);
    EXPECT_EQ(le(c, 16, 8), 2000000u);
    EXPECT_EQ(le(c, 50, 2), 128u);
    EXPECT_EQ(c[26], 0x08);
    EXPECT_EQ(c[73], 0x02);
    EXPECT_EQ(le(c, 234, 8), 4096u);
    EXPECT_EQ(le(c, 242, 8), 2000000u); // mirrored pair: one data drive
    EXPECT_EQ(bits_of(c, le(c, 250, 2), 384), (std::vector<std::uint16_t>{5, 200}));
    EXPECT_EQ(bits_of(c, le(c, 252, 2), 384), (std::vector<std::uint16_t>{6}));
    const Bytes st = fw.execute(bmic_read(0x12, 3265, 0, 7)).data_in;
    EXPECT_EQ(st[0], 18);      // rapid parity initialisation running
    EXPECT_EQ(st[1056], 0x01); // SED-enabled
    const Bytes id = fw.execute(bmic_read(0x10, 118, 0, 7)).data_in;
    EXPECT_NE(Bytes(id.begin() + 102, id.begin() + 118), Bytes(16, 0));
    EXPECT_EQ(logical_lun_count(fw), luns + 1);
    // Deleted and created again, it gets another page-83 id.
    Record gone = r;
    gone.assigned = 0;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, record(gone), 0, 7))));
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, record(r), 0, 7))));
    EXPECT_NE(fw.execute(bmic_read(0x10, 118, 0, 7)).data_in, id);
}

TEST(SimConfigWrites, DeletionChangeAndRefusals) {
    FwController fw(inventory());
    // Deleting logical drive 2 (an LU cache) unpairs logical drive 0.
    Record gone;
    gone.members = {4};
    gone.assigned = 0;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, record(gone), 0, 2))));
    EXPECT_EQ(le(fw.execute(bmic_read(0x50, 652, 0, 2)).data_in, 10, 2), 0u);
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 2)).scsi_status, 0x02);
    const Bytes c0 = fw.execute(bmic_read(0x50, 652, 0, 0)).data_in;
    EXPECT_EQ(c0[268], 0x00);
    EXPECT_EQ(le(c0, 271, 2), 0xFFFFu);
    // An existing drive takes spares (from the 128-bit map when there is no extended one), flags.
    Bytes change = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    std::fill(change.begin() + 114, change.begin() + 130, 0);
    put(change, 252, 0, 2);
    bit(change, 114, 7);
    change[26] = 0x01; // auto-replace
    change[73] = 0x02;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, change, 0, 1))));
    const Bytes c1 = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    EXPECT_EQ(bits_of(c1, 114, 128), (std::vector<std::uint16_t>{7}));
    EXPECT_EQ(c1[26], 0x01);
    EXPECT_EQ(c1[73], 0x02);
    EXPECT_EQ(bits_of(c1, 98, 128), (std::vector<std::uint16_t>{2, 3}));

    Record ok;
    ok.members = {5, 6};
    auto with = [&](auto change) {
        Record r = ok;
        change(r);
        return record(r);
    };
    const struct {
        const char* name;
        Command write;
        std::uint8_t asc;
    } refused[] = {
        {"assigned count not the members", bmic_write(0x51, with([](Record& r) { r.assigned = 3; }), 0, 9), 0x26},
        {"member not described", bmic_write(0x51, with([](Record& r) { r.members = {5, 77}; }), 0, 9), 0x26},
        {"member also spare", bmic_write(0x51, with([](Record& r) { r.spares = {6}; }), 0, 9), 0x26},
        {"fault tolerance 4", bmic_write(0x51, with([](Record& r) { r.fault_tolerance = 4; }), 0, 9), 0x26},
        {"size 0", bmic_write(0x51, with([](Record& r) { r.size = 0; }), 0, 9), 0x26},
        {"spare of an existing drive that is its member", bmic_write(0x51, [&] {
             Bytes b = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
             bit(b, 114, 2);
             put(b, 252, 0, 2);
             return b;
         }(), 0, 1), 0x26},
        {"transformation of an unused number", bmic_write(0x54, record(ok), 0, 9), 0x24},
        {"logical drive 64", bmic_write(0x51, record(ok), 0, 64), 0x24},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const std::string before = fw.fw_state().to_json().dump();
        const Reply r = fw.execute(c.write);
        EXPECT_EQ(asc(r), c.asc);
        EXPECT_EQ(fw.fw_state().to_json().dump(), before);
    }
}

TEST(SimConfigWrites, TransformationCompletesAtOnceOrIsQueued) {
    Record grown;
    grown.members = {2, 3, 4, 5};
    grown.spares = {7};
    grown.fault_tolerance = 3;
    grown.size = 6000000;
    grown.offset = 8192;
    {
        FwController fw(inventory());
        ASSERT_TRUE(good(fw.execute(bmic_write(0x54, record(grown), 0, 1))));
        const Bytes c = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
        EXPECT_EQ(bits_of(c, 98, 128), (std::vector<std::uint16_t>{2, 3, 4, 5}));
        EXPECT_EQ(le(c, 12, 2), 3u);
        EXPECT_EQ(le(c, 242, 8), 2000000u); // RAID 5 of four: three data drives
        EXPECT_EQ(le(c, 234, 8), 8192u);
        EXPECT_EQ(c[57] & 0x02, 0);
        EXPECT_EQ(fw.execute(bmic_read(0x55, 652, 0, 1)).scsi_status, 0x02);
    }
    FirmwareState st = inventory();
    st.updates.transformation = "queue";
    st.expansion.queued = 2;
    FwController fw(st);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x54, record(grown), 0, 1))));
    const Bytes now = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    EXPECT_EQ(bits_of(now, 98, 128), (std::vector<std::uint16_t>{2, 3, 4, 5}));
    EXPECT_EQ(now[57] & 0x02, 0x02);
    const Bytes original = fw.execute(bmic_read(0x55, 652, 0, 1)).data_in;
    EXPECT_EQ(bits_of(original, 98, 128), (std::vector<std::uint16_t>{2, 3}));
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 1)).data_in[0], 12);
    EXPECT_EQ(fw.execute(bmic_read(0x59, 118)).data_in[53], 3);
}

TEST(SimConfigWrites, ChangeAtOnceAndSpareRewriteTakeWhatTheBufferSays) {
    FirmwareState st = inventory();
    st.add_drive(201);
    FwController fw(st);
    // RAID 1 on 2 and 3 becomes RAID 50 of two groups on six drives (one above 127), with spare 7,
    // at another offset and size: every field distinct from before.
    Record r;
    r.members = {2, 3, 4, 5, 6, 200};
    r.spares = {7};
    r.fault_tolerance = 3;
    r.size = 12000000;
    r.offset = 1u << 21;
    Bytes grown = record(r);
    grown[29] = 2;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x54, grown, 0, 1))));
    const Bytes c = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    EXPECT_EQ(bits_of(c, le(c, 250, 2), 384), (std::vector<std::uint16_t>{2, 3, 4, 5, 6, 200}));
    EXPECT_EQ(bits_of(c, le(c, 252, 2), 384), (std::vector<std::uint16_t>{7}));
    EXPECT_EQ(le(c, 12, 2), 3u);
    EXPECT_EQ(c[29], 2);
    EXPECT_EQ(c[6], 7);          // distributed over parity groups
    EXPECT_EQ(le(c, 14, 2), 2u); // one parity drive per group
    EXPECT_EQ(le(c, 16, 8), 12000000u);
    EXPECT_EQ(le(c, 234, 8), 1u << 21);
    EXPECT_EQ(le(c, 242, 8), 3000000u); // four data drives
    // The spares alone, written in an extended map at an offset of the writer's choosing; the map at
    // the old offset (still naming 7) is not read.
    Bytes spares = c;
    std::fill(spares.begin() + 114, spares.begin() + 130, 0);
    put(spares, 52, 0, 4);
    put(spares, 252, 520, 2);
    bit(spares, 520, 201);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, spares, 0, 1))));
    const Bytes after = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    EXPECT_EQ(bits_of(after, le(after, 252, 2), 384), (std::vector<std::uint16_t>{201}));
    EXPECT_EQ(bits_of(after, le(after, 250, 2), 384), (std::vector<std::uint16_t>{2, 3, 4, 5, 6, 200}));
    // Drive 7 is then in no logical drive's maps: the host finds it unassigned.
    for (std::uint16_t ld = 0; ld < 3; ++ld) {
        const Bytes any = fw.execute(bmic_read(0x50, 652, 0, ld)).data_in;
        for (std::size_t off : {std::size_t(250), std::size_t(252)}) {
            const auto bits = bits_of(any, le(any, off, 2), 384);
            EXPECT_EQ(std::count(bits.begin(), bits.end(), 7), 0) << "logical drive " << ld;
        }
    }
}

TEST(SimConfigWrites, CacheDisableFlagAndExtendedMap) {
    FwController fw(inventory());
    Bytes c = fw.execute(bmic_read(0xC1, 512)).data_in;
    const std::size_t at = le(c, 32, 2);
    c[0] = 0x01;
    bit(c, at, 1);
    bit(c, at, 9);
    ASSERT_TRUE(good(fw.execute(bmic_write(0xC0, c))));
    const Bytes back = fw.execute(bmic_read(0xC1, 512)).data_in;
    EXPECT_EQ(back[0], 0x01);
    EXPECT_EQ(bits_of(back, at, 64), (std::vector<std::uint16_t>{1, 9}));
}

// A cache drive created by 0x51 (bLogicalDriveProperty 0x04) takes the 0xC0 create that pairs it with
// a data drive, and both then name each other in their configuration; destroying the cache unpairs
// both. A live cache drive is not paired a second time.
TEST(SimConfigWrites, LUCacheCreateAndDestroyPairAndUnpairBothDrives) {
    FwController fw(inventory());
    Record r;
    r.members = {5, 6};
    Bytes made = record(r);
    made[87] = 0x05;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, made, 0, 3))));
    Bytes create(512, 0);
    create[3] = 2;                 // algorithm
    create[4] = 3;                 // write-back
    put(create, 5, 1, 2);          // data drive 1
    put(create, 7, 0x0102, 4);     // line blocks
    create[75] = 3;
    ASSERT_TRUE(good(fw.execute(bmic_write(0xC0, create, 0x10003, 1))));
    const Bytes cache = fw.execute(bmic_read(0x50, 652, 0, 3)).data_in;
    const Bytes data = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    for (const Bytes* c : {&cache, &data}) {
        EXPECT_EQ((*c)[268], 0x01);
        EXPECT_EQ((*c)[273], 2);
        EXPECT_EQ((*c)[274], 3);
        EXPECT_EQ(le(*c, 275, 4), 0x0102u);
    }
    EXPECT_EQ(le(cache, 271, 2), 1u);
    EXPECT_EQ(le(data, 271, 2), 3u);
    EXPECT_EQ(cache[87], 0x05);
    EXPECT_EQ(asc(fw.execute(bmic_write(0xC0, create, 0x10003, 1))), 0x24) << "paired already";
    EXPECT_EQ(asc(fw.execute(bmic_write(0xC0, create, 0x10002, 1))), 0x24) << "a live cache drive";

    ASSERT_TRUE(good(fw.execute(bmic_write(0xC0, Bytes(512, 0), 0x20003, 1))));
    for (std::uint16_t ld : {1, 3}) {
        const Bytes c = fw.execute(bmic_read(0x50, 652, 0, ld)).data_in;
        EXPECT_EQ(c[268], 0) << ld;
        EXPECT_EQ(le(c, 271, 2), 0xFFFFu) << ld;
    }
}

TEST(SimConfigWrites, WriteFaultsMatchTheLogicalDrive) {
    FirmwareState st = inventory();
    qvsim::FwFault f;
    f.bmic = 0x51;
    f.device = 1;
    f.sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    qvsim::FwFault label;
    label.bmic = 0x57;
    label.device = 0;
    label.err = EIO;
    qvsim::FwFault lu;
    lu.bmic = 0xC0;
    lu.device = 2;
    lu.err = EBUSY;
    st.faults = {f, label, lu};
    FwController fw(st);
    Bytes c0 = fw.execute(bmic_read(0x50, 652, 0, 0)).data_in;
    Bytes c1 = fw.execute(bmic_read(0x50, 652, 0, 1)).data_in;
    EXPECT_TRUE(good(fw.execute(bmic_write(0x51, c0, 0, 0))));
    EXPECT_EQ(fw.execute(bmic_write(0x51, c1, 0, 1)).scsi_status, 0x02);
    EXPECT_TRUE(good(fw.execute(bmic_write(0x57, Bytes(68, 0x41), 0, 1))));
    EXPECT_EQ(fw.execute(bmic_write(0x57, Bytes(68, 0x41), 0, 0)).err, EIO);
    EXPECT_EQ(fw.execute(bmic_write(0xC0, Bytes(512, 0), 0x20002, 1)).err, EBUSY); // destroy LU cache 2
    EXPECT_EQ(fw.fw_state().find_configured_drive(2)->property & 0x04, 0x04);
}

// ---- Split mirrors, joins and heals ---------------------------------------------------------------------

// A configuration read back (0x50) and rewritten as a host does: the member map (the extended one at
// its offset and the 128-bit one) replaced, spares cleared.
Bytes with_members(Bytes c, const std::vector<std::uint16_t>& members) {
    const std::size_t ext = le(c, 250, 2), spares = le(c, 252, 2), bytes = le(c, 260, 2) / 8;
    std::fill(c.begin() + 98, c.begin() + 130, 0);
    std::fill(c.begin() + std::ptrdiff_t(ext), c.begin() + std::ptrdiff_t(ext + bytes), 0);
    std::fill(c.begin() + std::ptrdiff_t(spares), c.begin() + std::ptrdiff_t(spares + bytes), 0);
    put(c, 46, 0, 4);
    put(c, 52, 0, 4);
    for (auto m : members) {
        if (m < 128)
            bit(c, 98, m);
        bit(c, ext, m);
    }
    put(c, 10, members.size(), 2);
    return c;
}

Bytes config_of(FwController& fw, std::uint16_t ld) {
    return fw.execute(bmic_read(0x50, 652, 0, ld)).data_in;
}
std::vector<std::uint16_t> members_of(const Bytes& c) {
    return bits_of(c, le(c, 250, 2), 384);
}

// The split request of a mirror: kept members, fault tolerance, the backup's number and signature,
// the BIOS-disable bit, bBreakUpFlags 1.
Bytes split_request(FwController& fw, std::uint16_t ld, const std::vector<std::uint16_t>& kept,
                    std::uint16_t fault_tolerance, std::uint16_t backup, std::uint32_t backup_signature) {
    Bytes c = with_members(config_of(fw, ld), kept);
    put(c, 12, fault_tolerance, 2);
    put(c, 232, backup, 2);
    put(c, 58, backup_signature, 4);
    c[73] |= 0x02;
    c[56] = 1;
    return c;
}

Bytes join_request(FwController& fw, std::uint16_t kept, std::uint16_t discarded, std::uint8_t how) {
    std::vector<std::uint16_t> all = members_of(config_of(fw, kept));
    for (auto m : members_of(config_of(fw, discarded)))
        all.push_back(m);
    Bytes c = with_members(config_of(fw, kept), all);
    put(c, 12, 2, 2);
    put(c, 232, discarded, 2);
    put(c, 58, 0, 4);
    c[73] &= std::uint8_t(~0x02);
    c[87] &= std::uint8_t(~0x02);
    put(c, 89, 0, 4);
    c[56] = how;
    return c;
}

// Drives 0-9; logical drive 0 a RAID 1 on 0 and 1 (signature 0xA0A0A0A0, at 4096, 1 Mi blocks per
// drive, a block of data), 3 a three-way mirror of two groups on 4-9, 5 a RAID 5 on 2 and 3.
FirmwareState mirrors() {
    FirmwareState s;
    for (std::uint16_t d = 0; d < 10; ++d)
        s.add_drive(d);
    auto& a = s.add_configured_drive(0, {0, 1}, 1 << 20, 4096);
    a.fault_tolerance = 2;
    a.signature = 0xA0A0A0A0;
    a.label = "Mirror data";
    a.blocks.push_back({7, Bytes(512, 0xA7)});
    auto& b = s.add_configured_drive(3, {4, 5, 6, 7, 8, 9}, 1 << 18);
    b.fault_tolerance = 6;
    b.signature = 0xC3C3C3C3;
    s.add_configured_drive(5, {2, 3}, 1 << 16).fault_tolerance = 3;
    return s;
}

Command block_command(bool write, std::uint16_t ld, std::uint64_t lba, std::uint32_t count, Bytes data = {});

TEST(SimConfigWrites, SplitMakesAHiddenBackupAndTheBackupFieldsAreKept) {
    FirmwareState st = mirrors();
    st.cache.disabled_logical_drives = {0}; // controller cache off for the mirror: for its backup too
    FwController fw(st);
    const Bytes before = config_of(fw, 0);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x5E, split_request(fw, 0, {0}, 0, 1, 0xB1B1B1B1), 0, 0))));
    const Bytes p = config_of(fw, 0), b = config_of(fw, 1);
    EXPECT_EQ(members_of(p), (std::vector<std::uint16_t>{0}));
    EXPECT_EQ(members_of(b), (std::vector<std::uint16_t>{1}));
    for (const Bytes* c : {&p, &b}) {
        EXPECT_EQ(le(*c, 12, 2), 0u);                  // RAID 0 each
        EXPECT_EQ(le(*c, 16, 8), le(before, 16, 8));   // same size
        EXPECT_EQ(le(*c, 234, 8), 4096u);              // same offset
        EXPECT_EQ(le(*c, 242, 8), le(before, 242, 8)); // same blocks per drive
        EXPECT_EQ(le(*c, 50, 2), le(before, 50, 2));   // same strip
    }
    // Signatures cross-linked; only the backup hidden; neither a backup nor time-stamped yet.
    EXPECT_EQ(le(p, 0, 4), 0xA0A0A0A0u);
    EXPECT_EQ(le(p, 58, 4), 0xB1B1B1B1u);
    EXPECT_EQ(le(p, 232, 2), 1u);
    EXPECT_EQ(p[73] & 0x02, 0);
    EXPECT_EQ(le(b, 0, 4), 0xB1B1B1B1u);
    EXPECT_EQ(le(b, 58, 4), 0xA0A0A0A0u);
    EXPECT_EQ(le(b, 232, 2), 0u);
    EXPECT_EQ(b[73] & 0x02, 0x02);
    EXPECT_EQ(b[87] & 0x02, 0);
    EXPECT_EQ(le(b, 89, 4), 0u);
    // The backup is a logical drive of its own, with the mirror's data and no label.
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 1)).data_in[0], 0);
    EXPECT_EQ(selftest::text(fw.execute(bmic_read(0x10, 118, 0, 1)).data_in, 38, 4), std::string(4, '\0'));
    EXPECT_EQ(fw.execute(block_command(false, 1, 7, 1)).data_in, Bytes(512, 0xA7));
    const Bytes cache = fw.execute(bmic_read(0xC1, 512)).data_in;
    EXPECT_EQ(bits_of(cache, le(cache, 32, 2), 64), (std::vector<std::uint16_t>{0, 1}));
    // 0x51 then marks it a backup and stamps it: both kept, as is the BIOS-disable bit.
    Bytes mark = config_of(fw, 1);
    mark[87] |= 0x02;
    put(mark, 89, 0x5F5E1000, 4);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, mark, 0, 1))));
    const Bytes marked = config_of(fw, 1);
    EXPECT_EQ(marked[87], 0x03);
    EXPECT_EQ(le(marked, 89, 4), 0x5F5E1000u);
    EXPECT_EQ(marked[73] & 0x02, 0x02);
    EXPECT_EQ(le(marked, 58, 4), 0xA0A0A0A0u);
    // And activating it (0x51 with the fields cleared) makes it an ordinary drive.
    Bytes plain = marked;
    plain[87] &= std::uint8_t(~0x02);
    plain[73] &= std::uint8_t(~0x02);
    put(plain, 89, 0, 4);
    put(plain, 58, 0, 4);
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, plain, 0, 1))));
    const Bytes active = config_of(fw, 1);
    EXPECT_EQ(active[87], 0x01);
    EXPECT_EQ(active[73], 0x00);
    EXPECT_EQ(le(active, 89, 4), 0u);
    EXPECT_EQ(le(active, 58, 4), 0u);
}

TEST(SimConfigWrites, ThreeWayMirrorSplitKeepsTwoOfEachGroup) {
    FwController fw(mirrors());
    const Bytes before = config_of(fw, 3);
    ASSERT_TRUE(
        good(fw.execute(bmic_write(0x5E, split_request(fw, 3, {4, 5, 7, 8}, 2, 2, 0xB2B2B2B2), 0, 3))));
    const Bytes p = config_of(fw, 3), b = config_of(fw, 2);
    EXPECT_EQ(members_of(p), (std::vector<std::uint16_t>{4, 5, 7, 8}));
    EXPECT_EQ(le(p, 12, 2), 2u);
    EXPECT_EQ(members_of(b), (std::vector<std::uint16_t>{6, 9}));
    EXPECT_EQ(le(b, 12, 2), 0u);
    EXPECT_EQ(le(p, 242, 8), le(before, 242, 8));
    EXPECT_EQ(le(b, 242, 8), le(before, 242, 8));
    EXPECT_EQ(le(b, 16, 8), le(before, 16, 8));
}

TEST(SimConfigWrites, JoinRemirrorsFromTheKeptDriveOrRollsBackToTheBackup) {
    for (const std::uint8_t how : {2, 14}) {
        SCOPED_TRACE(int(how));
        FwController fw(mirrors());
        ASSERT_TRUE(good(fw.execute(bmic_write(0x5E, split_request(fw, 0, {0}, 0, 1, 0xB1B1B1B1), 0, 0))));
        Bytes mark = config_of(fw, 1);
        mark[87] |= 0x02;
        put(mark, 89, 0x5F5E1000, 4);
        ASSERT_TRUE(good(fw.execute(bmic_write(0x51, mark, 0, 1))));
        // The primary changes after the split.
        ASSERT_TRUE(good(fw.execute(block_command(true, 0, 7, 1, Bytes(512, 0x5B)))));
        // Re-mirror keeps the primary and discards the backup; roll back the other way round.
        const std::uint16_t kept = how == 2 ? 0 : 1, gone = how == 2 ? 1 : 0;
        const Reply r = fw.execute(bmic_write(0x5E, join_request(fw, kept, gone, how), 0, kept));
        ASSERT_TRUE(good(r)) << "asc " << int(asc(r));
        EXPECT_EQ(le(config_of(fw, gone), 10, 2), 0u); // gone
        const Bytes c = config_of(fw, kept);
        EXPECT_EQ(members_of(c), (std::vector<std::uint16_t>{0, 1}));
        EXPECT_EQ(le(c, 12, 2), 2u);
        EXPECT_EQ(le(c, 58, 4), 0u);
        EXPECT_EQ(le(c, 89, 4), 0u);
        EXPECT_EQ(c[87] & 0x02, 0);
        EXPECT_EQ(c[73] & 0x02, 0);
        EXPECT_EQ(le(c, 242, 8), 1u << 20);
        EXPECT_EQ(fw.execute(block_command(false, kept, 7, 1)).data_in, Bytes(512, how == 2 ? 0x5B : 0xA7));
    }
}

TEST(SimConfigWrites, SplitAndJoinRefusals) {
    FwController fw(mirrors());
    ASSERT_TRUE(good(fw.execute(bmic_write(0x5E, split_request(fw, 0, {0}, 0, 1, 0xB1B1B1B1), 0, 0))));
    const struct {
        const char* name;
        Command write;
        std::uint8_t asc;
    } refused[] = {
        {"split of a RAID 5", bmic_write(0x5E, split_request(fw, 5, {2}, 0, 9, 1), 0, 5), 0x26},
        {"split onto a used number", bmic_write(0x5E, split_request(fw, 3, {4, 5, 7, 8}, 2, 5, 1), 0, 3),
         0x26},
        {"split onto number 64", bmic_write(0x5E, split_request(fw, 3, {4, 5, 7, 8}, 2, 64, 1), 0, 3), 0x26},
        {"split keeping every drive",
         bmic_write(0x5E, split_request(fw, 3, {4, 5, 6, 7, 8, 9}, 6, 9, 1), 0, 3), 0x26},
        {"split keeping a drive not a member",
         bmic_write(0x5E, split_request(fw, 3, {4, 5, 7, 2}, 2, 9, 1), 0, 3), 0x26},
        {"split of an unused number", bmic_write(0x5E, split_request(fw, 3, {4, 5, 7, 8}, 2, 9, 1), 0, 9),
         0x24},
        {"join with itself", bmic_write(0x5E, join_request(fw, 0, 0, 2), 0, 0), 0x26},
        {"join with a drive not there",
         bmic_write(
             0x5E,
             [&] {
                 Bytes c = join_request(fw, 0, 1, 2);
                 put(c, 232, 12, 2);
                 return c;
             }(),
             0, 0),
         0x26},
        {"join taking a drive of neither",
         bmic_write(
             0x5E,
             [&] {
                 Bytes c = with_members(join_request(fw, 0, 1, 2), {0, 1, 2});
                 return c;
             }(),
             0, 0),
         0x26},
        {"join leaving out the kept drive's member",
         bmic_write(0x5E, with_members(join_request(fw, 0, 1, 2), {1}), 0, 0), 0x26},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const std::string before = fw.fw_state().to_json().dump();
        EXPECT_EQ(asc(fw.execute(c.write)), c.asc);
        EXPECT_EQ(fw.fw_state().to_json().dump(), before);
    }
    // Other break-up flags: only the BIOS-disable flag, as before.
    Bytes hide = config_of(fw, 5);
    hide[73] = 0x02;
    ASSERT_TRUE(good(fw.execute(bmic_write(0x5E, hide, 0, 5))));
    EXPECT_EQ(config_of(fw, 5)[73], 0x02);
    EXPECT_EQ(members_of(config_of(fw, 5)), (std::vector<std::uint16_t>{2, 3}));
}

TEST(SimConfigWrites, HealRecreatesAFailedDriveAndRebuildsADegradedOne) {
    FirmwareState st = mirrors();
    for (std::uint16_t d = 10; d < 13; ++d)
        st.add_drive(d);
    auto& failed = st.add_configured_drive(7, {10}, 1 << 16, 1 << 20);
    failed.unit_status = 1;
    failed.failed = {10};
    failed.label = "Failed R0";
    failed.blocks.push_back({0, Bytes(512, 0x0F)});
    auto& degraded = *st.find_configured_drive(5);
    degraded.members = {2, 3, 4};
    degraded.unit_status = 3;
    degraded.failed = {3};
    degraded.missing_drives = 1;
    FwController fw(st);
    // The failed RAID 0 on drive 10, written with drive 11 instead: created again, unit status OK.
    ASSERT_TRUE(good(fw.execute(bmic_write(0x51, with_members(config_of(fw, 7), {11}), 0, 7))));
    const Bytes c7 = config_of(fw, 7);
    EXPECT_EQ(members_of(c7), (std::vector<std::uint16_t>{11}));
    EXPECT_EQ(le(c7, 234, 8), 1u << 20);
    const Bytes s7 = fw.execute(bmic_read(0x12, 3265, 0, 7)).data_in;
    EXPECT_EQ(s7[0], 0);
    EXPECT_EQ(bits_of(s7, le(s7, 1004, 2), 384), std::vector<std::uint16_t>{});
    EXPECT_EQ(selftest::text(fw.execute(bmic_read(0x10, 118, 0, 7)).data_in, 38, 9), std::string(9, '\0'));
    EXPECT_EQ(fw.execute(block_command(false, 7, 0, 1)).data_in, Bytes(512, 0));
    // The degraded RAID 5 with drive 12 for the failed drive 3: replacement in, recovering.
    ASSERT_TRUE(good(fw.execute(bmic_write(0x54, with_members(config_of(fw, 5), {2, 4, 12}), 0, 5))));
    EXPECT_EQ(members_of(config_of(fw, 5)), (std::vector<std::uint16_t>{2, 4, 12}));
    const Bytes s5 = fw.execute(bmic_read(0x12, 3265, 0, 5)).data_in;
    EXPECT_EQ(s5[0], 5);
    EXPECT_EQ(le(s5, 5, 2), 0u);
    EXPECT_EQ(bits_of(s5, le(s5, 1004, 2), 384), std::vector<std::uint16_t>{});
    EXPECT_EQ(bits_of(s5, le(s5, 1006, 2), 384), (std::vector<std::uint16_t>{12}));
    EXPECT_EQ(bits_of(s5, 811, 128), (std::vector<std::uint16_t>{12}));
    EXPECT_EQ(le(s5, 1002, 2), 12u);
    // A failed drive's record that cannot be built is refused and the drive stays failed.
    fw.fw_state().find_configured_drive(7)->unit_status = 1;
    EXPECT_EQ(asc(fw.execute(bmic_write(0x51, with_members(config_of(fw, 7), {77}), 0, 7))), 0x26);
    EXPECT_EQ(fw.execute(bmic_read(0x12, 3265, 0, 7)).data_in[0], 1);
}

// READ(16) / WRITE(16) as the CISS pass-through carries them, at a logical drive's LUN address.
Command block_command(bool write, std::uint16_t ld, std::uint64_t lba, std::uint32_t count, Bytes data) {
    Command c;
    c.transport = "ciss";
    c.cdb.assign(16, 0);
    c.cdb[0] = write ? 0x8A : 0x88;
    for (int k = 0; k < 8; ++k)
        c.cdb[2 + k] = std::uint8_t(lba >> (56 - 8 * k));
    for (int k = 0; k < 4; ++k)
        c.cdb[10 + k] = std::uint8_t(count >> (24 - 8 * k));
    c.lun_address = {std::uint8_t(ld), std::uint8_t(ld >> 8), 0, 0x40, 0, 0, 0, 0};
    c.direction = write ? qvsim::Direction::kOut : qvsim::Direction::kIn;
    c.data_in_length = write ? 0 : count * 512u;
    c.data_out = std::move(data);
    return c;
}

TEST(SimConfigWrites, LogicalDriveBlocksAreASparseStoreSeededWithPartitionTables) {
    FirmwareState st = inventory();
    qvsim::fw_seed_partition_tables(*st.find_configured_drive(1));
    qvsim::FwFault f;
    f.scsi = 0x8A;
    f.device = 0;
    f.err = EIO;
    st.faults = {f};
    FwController fw(st);
    const Bytes head = fw.execute(block_command(false, 1, 0, 2)).data_in;
    ASSERT_EQ(head.size(), 1024u);
    EXPECT_EQ(head[450], 0xEE);
    EXPECT_EQ(head[510], 0x55);
    EXPECT_EQ(head[511], 0xAA);
    EXPECT_EQ(selftest::text(head, 512, 8), "EFI PART");
    const std::uint64_t last = 2 * (1u << 20) / 2 - 1; // RAID 1 of two: one data drive
    const Bytes tail = fw.execute(block_command(false, 1, last, 1)).data_in;
    EXPECT_EQ(selftest::text(tail, 0, 8), "EFI PART");
    EXPECT_EQ(le(tail, 24, 8), last);
    // Overwriting the MBR with zeros and a pattern further on; the store keeps only non-zero blocks.
    Bytes data(1024, 0);
    std::fill(data.begin() + 512, data.end(), 0x5A);
    ASSERT_TRUE(good(fw.execute(block_command(true, 1, 0, 2, data))));
    EXPECT_EQ(fw.execute(block_command(false, 1, 0, 2)).data_in, data);
    ASSERT_EQ(fw.fw_state().find_configured_drive(1)->blocks.size(), 2u);
    EXPECT_EQ(fw.fw_state().find_configured_drive(1)->blocks[0].lba, 1u);
    // Past the end: LBA out of range; a short write; another drive's fault.
    EXPECT_EQ(asc(fw.execute(block_command(false, 1, last, 2))), 0x21);
    EXPECT_EQ(asc(fw.execute(block_command(true, 1, 4, 2, Bytes(512, 1)))), 0x24);
    EXPECT_EQ(fw.execute(block_command(true, 0, 4, 1, Bytes(512, 1))).err, EIO);
    EXPECT_TRUE(good(fw.execute(block_command(true, 1, 4, 1, Bytes(512, 1)))));
    // No logical drive at the address: the controller does not take the opcode.
    EXPECT_EQ(asc(fw.execute(block_command(false, 9, 0, 1))), 0x20);
}

} // namespace
