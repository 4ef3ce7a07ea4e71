// The temperature sensor reply (BMIC 0x78) through the sensor decoder: the input is the reply.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "telm_prop_replies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView reply(data, size);
    const auto sensors = telmar::DecodeTemperatureSensors(reply);
    const size_t whole_records = size >= 12 ? (size - 12) / 47 : 0;
    FUZZ_CHECK(sensors.size() <= whole_records);
    FUZZ_CHECK(sensors.size() <= telmar::SensorCount(reply));
    for (const auto& s : sensors) {
        FUZZ_CHECK(s.sensor_index != 0xFF);
    }
    const VK_DWORD count = telmar::SensorCount(reply);
    for (VK_DWORD index : {VK_DWORD{0}, VK_DWORD{1}, count > 0 ? count - 1 : 0, count, VK_DWORD{0xFFFFFFFF}}) {
        for (auto field : {telmar::SensorField::kLocation, telmar::SensorField::kReading, telmar::SensorField::kMaxReading}) {
            const VK_DWORD value = telmar::DecodeSensorField(reply, index, field);
            if (index >= count || index >= whole_records) {
                FUZZ_CHECK(value == 0);
            }
        }
    }
    return 0;
}
