// Fuzz target: the two records the direct controller operations build from a caller's input. The
// first 4 bytes are an OOB record, the rest the fields of a calendar time (seconds, minutes, hours,
// day, month, year as tm holds them, 32 bits each).
// - The OOB check refuses with one of its reasons or passes; a passing record has a known interface
//   and, once trimmed to its interface's bits, still passes and has no other bit set.
// - The clock record is either not built (and left as it was) or every clock byte is two BCD digits
//   between the fixed head and tail that decode back to the time given; it is built exactly when
//   every field is in its calendar range and the year in 0 to 9999.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"

namespace {

namespace direct = telmar::direct;

bool Bcd(VK_BYTE b) {
    return (b >> 4) <= 9 && (b & 0x0F) <= 9;
}

int FromBcd(VK_BYTE b) {
    return (b >> 4) * 10 + (b & 0x0F);
}

void CheckOOB(const OOBConfiguration& record) {
    const VK_DWORD reason = direct::CheckOOBRecord(&record);
    FUZZ_CHECK(reason == 0 || reason == kCanChangeControllerOOBConfigurationInvalidInterfaceType ||
               reason == kCanChangeControllerOOBConfigurationInvalidClockSpeed ||
               reason == kCanChangeControllerOOBConfigurationInvalidSMBUSDeviceType);
    if (reason != 0) {
        return;
    }
    const VK_BYTE type = record.interface_type;
    FUZZ_CHECK(type == kOOBInterfaceTypeReset || type == kOOBInterfaceTypePBSI || type == kOOBInterfaceTypeMCTP ||
               type == kOOBInterfaceTypeDisabled);
    if (type == kOOBInterfaceTypePBSI) {
        FUZZ_CHECK((record.i2c_configuration.raw & 0x07) <= kPBSIClockSpeed800KHZ);
    }
    if (type == kOOBInterfaceTypeMCTP) {
        FUZZ_CHECK((record.i2c_configuration.raw & 0x03) != 3);
    }
    OOBConfiguration trimmed = record;
    const VK_BYTE bits = direct::DefinedOOBConfigurationBits(type);
    trimmed.i2c_configuration.raw &= bits;
    FUZZ_CHECK((trimmed.i2c_configuration.raw & ~bits) == 0);
    FUZZ_CHECK(direct::CheckOOBRecord(&trimmed) == 0);
}

void CheckTime(const struct tm& local) {
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    const bool codable = local.tm_sec >= 0 && local.tm_sec <= 60 && local.tm_min >= 0 && local.tm_min <= 59 &&
                         local.tm_hour >= 0 && local.tm_hour <= 23 && local.tm_mday >= 1 && local.tm_mday <= 31 &&
                         local.tm_mon >= 0 && local.tm_mon <= 11 && year >= 0 && year <= 9999;
    CONTROLLER_TIME record;
    std::memset(&record, 0xA5, sizeof(record));
    const bool built = direct::BuildControllerTime(local, record);
    FUZZ_CHECK(built == codable);
    if (!built) {
        for (size_t i = 0; i < sizeof(record); ++i) {
            FUZZ_CHECK(reinterpret_cast<const VK_BYTE*>(&record)[i] == 0xA5);
        }
        return;
    }
    static constexpr VK_BYTE kHead[] = {0x3C, 0x48, 0x57, 0x3E, 0x54, 0x44, 0x08, 0x00};
    static constexpr VK_BYTE kTail[] = {0x44, 0x57, 0x5A, 0x5A};
    FUZZ_CHECK(std::memcmp(&record, kHead, sizeof(kHead)) == 0);
    FUZZ_CHECK(std::memcmp(record.bTail, kTail, sizeof(kTail)) == 0);
    FUZZ_CHECK(record.reserved11 == 0);
    for (VK_BYTE b : {record.bHour, record.bMinute, record.bSecond, record.bMonth, record.bDay, record.bCentury,
                      record.bYear}) {
        FUZZ_CHECK(Bcd(b));
    }
    FUZZ_CHECK(FromBcd(record.bHour) == local.tm_hour);
    FUZZ_CHECK(FromBcd(record.bMinute) == local.tm_min);
    FUZZ_CHECK(FromBcd(record.bSecond) == local.tm_sec);
    FUZZ_CHECK(FromBcd(record.bMonth) == local.tm_mon + 1);
    FUZZ_CHECK(FromBcd(record.bDay) == local.tm_mday);
    FUZZ_CHECK(FromBcd(record.bCentury) * 100 + FromBcd(record.bYear) == year);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(direct::CheckOOBRecord(nullptr) == kCanChangeControllerOOBConfigurationInvalidInput);
    FuzzInput in{data, size};
    OOBConfiguration record{};
    record.interface_type = in.Take<VK_BYTE>();
    record.i2c_configuration.raw = in.Take<VK_BYTE>();
    record.slave_address = in.Take<VK_BYTE>();
    record.reserved = in.Take<VK_BYTE>();
    CheckOOB(record);

    struct tm local = {};
    local.tm_sec = in.Take<int32_t>();
    local.tm_min = in.Take<int32_t>();
    local.tm_hour = in.Take<int32_t>();
    local.tm_mday = in.Take<int32_t>();
    local.tm_mon = in.Take<int32_t>();
    local.tm_year = in.Take<int32_t>();
    CheckTime(local);
    return 0;
}
