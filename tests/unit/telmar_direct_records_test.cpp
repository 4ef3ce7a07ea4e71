// The records the direct controller operations build from a caller's input: the clock record at
// the edges of what BCD can hold, and the OOB record's check and trim.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ctime>

#include "ptelm_configuration.h"
#include "telm_config_internal.h"

namespace {

namespace direct = telmar::direct;

struct tm Calendar(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(DirectRecords, ClockRecordAtTheEdgesOfBCD) {
    struct Case {
        struct tm time;
        std::array<VK_BYTE, 8> clock; // bytes 8-15
    };
    const Case cases[] = {
        {Calendar(2023, 1, 17, 9, 5, 7), {0x09, 0x05, 0x07, 0x00, 0x01, 0x17, 0x20, 0x23}},
        {Calendar(1999, 12, 31, 23, 59, 59), {0x23, 0x59, 0x59, 0x00, 0x12, 0x31, 0x19, 0x99}},
        {Calendar(0, 1, 1, 0, 0, 0), {0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00}},
        {Calendar(9999, 10, 20, 10, 40, 30), {0x10, 0x40, 0x30, 0x00, 0x10, 0x20, 0x99, 0x99}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.time.tm_year + 1900);
        CONTROLLER_TIME record;
        ASSERT_TRUE(direct::BuildControllerTime(k.time, record));
        const auto* bytes = reinterpret_cast<const VK_BYTE*>(&record);
        EXPECT_EQ(0, std::memcmp(bytes, "\x3C\x48\x57\x3E\x54\x44\x08\x00", 8));
        EXPECT_EQ(0, std::memcmp(bytes + 8, k.clock.data(), 8));
        EXPECT_EQ(0, std::memcmp(bytes + 16, "DWZZ", 4));
    }
}

TEST(DirectRecords, ClockThatCannotBeCodedIsNotBuilt) {
    const struct tm cases[] = {
        {},                                // the record of a time the platform could not convert
        Calendar(10000, 1, 1, 0, 0, 0),    // five digits
        Calendar(-1, 12, 31, 23, 59, 59),  // before year 0
        Calendar(2023, 13, 1, 0, 0, 0),    // month 13
        Calendar(2023, 1, 32, 0, 0, 0),    // day 32
        Calendar(2023, 1, 1, 24, 0, 0),    // hour 24
        Calendar(2023, 1, 1, 0, 60, 0),    // minute 60
        Calendar(2023, 1, 1, 0, 0, -1),    // negative second
    };
    for (const struct tm& t : cases) {
        CONTROLLER_TIME record;
        std::memset(&record, 0x5A, sizeof(record));
        EXPECT_FALSE(direct::BuildControllerTime(t, record)) << t.tm_year << " " << t.tm_mon << " " << t.tm_mday;
        EXPECT_EQ(record.bHead[0], 0x5A) << "left as it was";
    }
}

TEST(DirectRecords, OOBRecordCheckAndDefinedBits) {
    struct Case {
        VK_BYTE type, configuration;
        VK_DWORD reason;
    };
    const Case cases[] = {
        {kOOBInterfaceTypeReset, 0xFF, 0},
        {kOOBInterfaceTypeDisabled, 0xFF, 0},
        {kOOBInterfaceTypePBSI, 0xF4, 0},
        {kOOBInterfaceTypePBSI, 0x05, kCanChangeControllerOOBConfigurationInvalidClockSpeed},
        {kOOBInterfaceTypePBSI, 0x07, kCanChangeControllerOOBConfigurationInvalidClockSpeed},
        {kOOBInterfaceTypeMCTP, 0xFE, 0},
        {kOOBInterfaceTypeMCTP, 0x03, kCanChangeControllerOOBConfigurationInvalidSMBUSDeviceType},
        {0x03, 0x00, kCanChangeControllerOOBConfigurationInvalidInterfaceType},
        {0xFE, 0x00, kCanChangeControllerOOBConfigurationInvalidInterfaceType},
    };
    for (const Case& k : cases) {
        OOBConfiguration record{};
        record.interface_type = k.type;
        record.i2c_configuration.raw = k.configuration;
        EXPECT_EQ(direct::CheckOOBRecord(&record), k.reason) << int(k.type) << " " << int(k.configuration);
    }
    EXPECT_EQ(direct::CheckOOBRecord(nullptr), kCanChangeControllerOOBConfigurationInvalidInput);
    EXPECT_EQ(direct::DefinedOOBConfigurationBits(kOOBInterfaceTypePBSI), 0x0F);
    EXPECT_EQ(direct::DefinedOOBConfigurationBits(kOOBInterfaceTypeMCTP), 0x1F);
    EXPECT_EQ(direct::DefinedOOBConfigurationBits(kOOBInterfaceTypeDisabled), 0x1F);
}

} // namespace
