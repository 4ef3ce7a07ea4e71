// Self-tests of the controller writes that take effect at once: the clock record (BMIC 0xA5),
// which the controller parameters (0x64) then report, and the power-mode request (0xEE function 0),
// which function 1 then reports as the pending mode.
#include <cerrno>
#include <cstdint>
#include <vector>

#include "fw_selftest_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "selftest_util.h"

namespace {

using qvsim::Bytes;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::bmic_write;
using selftest::le;

// The clock record of 2023-01-17 09:05:07 as the library builds it.
Bytes clock_record() {
    return {0x3C, 0x48, 0x57, 0x3E, 0x54, 0x44, 0x08, 0x00, 0x09, 0x05, 0x07, 0x00,
            0x01, 0x17, 0x20, 0x23, 0x44, 0x57, 0x5A, 0x5A};
}

Bytes with(Bytes b, std::size_t off, std::uint8_t v) {
    b.at(off) = v;
    return b;
}

Bytes shorter(Bytes b) {
    b.pop_back();
    return b;
}

std::uint8_t asc(const Reply& r) {
    return r.sense.size() > 12 ? r.sense[12] : 0xFF;
}

// Century, year, month, day, hour, minute, second as 0x64 reports them (dwords from 228).
std::vector<std::uint64_t> clock_of(FwController& fw) {
    const Bytes p = fw.execute(bmic_read(0x64, 344)).data_in;
    std::vector<std::uint64_t> v;
    for (std::size_t off = 228; off <= 252; off += 4)
        v.push_back(le(p, off, 4));
    return v;
}

TEST(SimDirectWrites, ClockRecordSetsTheClockTheParametersReport) {
    FwController fw;
    const Reply r = fw.execute(bmic_write(0xA5, clock_record()));
    ASSERT_EQ(r.scsi_status, 0) << "asc " << int(asc(r));
    EXPECT_EQ(clock_of(fw), (std::vector<std::uint64_t>{20, 23, 1, 17, 9, 5, 7}));
    ASSERT_EQ(fw.fw_state().updates.writes.size(), 1u);
    EXPECT_EQ(fw.fw_state().updates.writes[0].opcode, 0xA5);
    EXPECT_EQ(fw.fw_state().updates.writes[0].data, clock_record());
}

TEST(SimDirectWrites, MalformedClockRecordsAreRefusedAndChangeNothing) {
    const struct {
        const char* name;
        qvsim::Command write;
        std::uint8_t asc;
    } cases[] = {
        {"head", bmic_write(0xA5, with(clock_record(), 0, 0x3D)), 0x26},
        {"head's 08", bmic_write(0xA5, with(clock_record(), 6, 0x09)), 0x26},
        {"byte 11", bmic_write(0xA5, with(clock_record(), 11, 0x01)), 0x26},
        {"tail", bmic_write(0xA5, with(clock_record(), 19, 0x59)), 0x26},
        {"minute not BCD", bmic_write(0xA5, with(clock_record(), 9, 0x0A)), 0x26},
        {"month 13", bmic_write(0xA5, with(clock_record(), 12, 0x13)), 0x26},
        {"hour 24", bmic_write(0xA5, with(clock_record(), 8, 0x24)), 0x26},
        {"19 bytes", bmic_write(0xA5, shorter(clock_record())), 0x1A},
        {"detail not 0", bmic_write(0xA5, clock_record(), 1), 0x24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FwController fw;
        const auto before = clock_of(fw);
        const Reply r = fw.execute(c.write);
        EXPECT_EQ(r.scsi_status, 0x02);
        EXPECT_EQ(asc(r), c.asc);
        EXPECT_EQ(clock_of(fw), before);
        EXPECT_TRUE(fw.fw_state().updates.writes.empty());
    }
}

TEST(SimDirectWrites, PowerModeRequestBecomesThePendingMode) {
    FirmwareState st;
    st.power.operational = 4;
    st.power.configured = 1;
    FwController fw(st);
    ASSERT_EQ(fw.execute(bmic_write(0xEE, {0x02, 0x00, 0x00, 0x00}, 0)).scsi_status, 0);
    const Bytes m = fw.execute(bmic_read(0xEE, 17, 1)).data_in;
    EXPECT_EQ(le(m, 0, 4), 2u); // pending
    EXPECT_EQ(le(m, 4, 4), 1u); // current, until the controller restarts
    const struct {
        const char* name;
        Bytes data;
        std::uint8_t asc;
    } refused[] = {{"mode 3", {0x03, 0, 0, 0}, 0x26}, {"mode 0", {0, 0, 0, 0}, 0x26}, {"3 bytes", {0x01, 0, 0}, 0x1A}};
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const Reply r = fw.execute(bmic_write(0xEE, c.data, 0));
        EXPECT_EQ(asc(r), c.asc);
        EXPECT_EQ(le(fw.execute(bmic_read(0xEE, 17, 1)).data_in, 0, 4), 2u);
    }
}

TEST(SimDirectWrites, FaultsFailTheClockAndPowerModeWrites) {
    FirmwareState st;
    qvsim::FwFault clock;
    clock.bmic = 0xA5;
    clock.err = EIO;
    qvsim::FwFault power;
    power.bmic = 0xEE;
    power.function = 0;
    power.write = true;
    power.sense = qvsim::fixed_sense(0x04, 0x44, 0x00);
    st.faults = {clock, power};
    st.power.operational = 4;
    FwController fw(st);
    const auto before = clock_of(fw);
    EXPECT_EQ(fw.execute(bmic_write(0xA5, clock_record())).err, EIO);
    EXPECT_EQ(clock_of(fw), before);
    const Reply p = fw.execute(bmic_write(0xEE, {0x01, 0, 0, 0}, 0));
    EXPECT_EQ(p.scsi_status, 0x02);
    EXPECT_EQ(asc(p), 0x44);
    // The read of function 1 and the survival-mode write (function 2) are not hit.
    EXPECT_EQ(le(fw.execute(bmic_read(0xEE, 17, 1)).data_in, 0, 4), 4u);
    EXPECT_EQ(fw.execute(bmic_write(0xEE, {0x01}, 2)).scsi_status, 0);
    // Each fault hit once; the next ones go through.
    EXPECT_EQ(fw.execute(bmic_write(0xA5, clock_record())).scsi_status, 0);
    EXPECT_EQ(fw.execute(bmic_write(0xEE, {0x01, 0, 0, 0}, 0)).scsi_status, 0);
    EXPECT_EQ(le(fw.execute(bmic_read(0xEE, 17, 1)).data_in, 0, 4), 1u);
}

} // namespace
