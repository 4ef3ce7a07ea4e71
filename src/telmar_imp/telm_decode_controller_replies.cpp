// Decoders of the controller's mode and power-mode replies, temperature sensors, manufacturing data
// and cache inventory. Pure functions of the reply's bytes; the getters in telm_prop_controller.cpp
// read the replies and hand them over.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_private.h"
#include "telm_prop_replies.h"

using pavlin::ByteView;

namespace telmar {

namespace {

static_assert(offsetof(IDENTIFY_CONTROLLER, bCurrentControllerMode) == 292);
static_assert(offsetof(CONTROLLER_PARAMETERS, bNVRAMFlags) == 123);
static_assert(sizeof(GET_POWER_MODE) == 17 && offsetof(GET_POWER_MODE, bSelectedSurvivalMode) == 16);
static_assert(sizeof(SENSE_SENSORS_INFO_FIXED) == 12 && sizeof(SENSOR_INFO) == 47);
static_assert(offsetof(SENSOR_INFO, max_since_poweron) == 15 && offsetof(SENSOR_INFO, class_info) == 23);
static_assert(sizeof(DEFAULT_MANUFACTURING_DATA) == 66 && offsetof(DEFAULT_MANUFACTURING_DATA, part_number) == 51);
static_assert(sizeof(VK_CONTROLLER_MANUFACTURING_DATA) == 69);
static_assert(sizeof(CONTROLLER_TEMPERATURE_SENSOR_INFO) == 28 &&
              offsetof(CONTROLLER_TEMPERATURE_SENSOR_INFO, critical_threshold) == 12 &&
              offsetof(CONTROLLER_TEMPERATURE_SENSOR_INFO, sensor_index) == 24);

constexpr VK_DWORD kIdentifyLongFlagsValid = 0x00100000; // dwYetMoreControllerFlags
constexpr VK_DWORD kExtraFlagsMinimumLength = 287;
constexpr VK_DWORD kExtraFlagPerConnectorModes = 0x1000;

// Mode values of GET_POWER_MODE.
constexpr VK_DWORD kPowerModeValueMin = 1;
constexpr VK_DWORD kPowerModeValueBalanced = 2;
constexpr VK_DWORD kPowerModeValueMax = 4;
constexpr VK_DWORD kPowerWarningBits = 0x7F;

constexpr size_t kSensorHeaderSize = sizeof(SENSE_SENSORS_INFO_FIXED);
constexpr size_t kSensorRecordSize = sizeof(SENSOR_INFO);

VK_DWORD IdentifyWord(ByteView identify, size_t offset) {
    return identify.le32(offset).value_or(0);
}

// Offset of sensor record `index`, when the whole record lies in the reply.
std::optional<size_t> SensorRecord(ByteView reply, VK_DWORD index) {
    const VK_DWORD count = SensorCount(reply);
    if (index >= count) {
        return std::nullopt;
    }
    const size_t offset = kSensorHeaderSize + static_cast<size_t>(index) * kSensorRecordSize;
    if (!reply.has(offset, kSensorRecordSize)) {
        return std::nullopt;
    }
    return offset;
}

} // namespace

bool IdentifyExtraFlagsGateOpen(ByteView identify) {
    return (IdentifyWord(identify, offsetof(IDENTIFY_CONTROLLER, dwYetMoreControllerFlags)) & kIdentifyLongFlagsValid) &&
           IdentifyWord(identify, offsetof(IDENTIFY_CONTROLLER, dwFixedStructureLength)) >= kExtraFlagsMinimumLength;
}

bool IdentifyHasPerConnectorModes(ByteView identify, VK_BYTE feature_version) {
    return IdentifyExtraFlagsGateOpen(identify) && feature_version > 4 &&
           (IdentifyWord(identify, offsetof(IDENTIFY_CONTROLLER, dwExtraControllerFlags)) & kExtraFlagPerConnectorModes);
}

VK_WORD DecodePowerModeReply(ByteView reply) {
    VK_WORD word = 0;
    switch (reply.le32(offsetof(GET_POWER_MODE, dwPowerModeConfigured)).value_or(0)) {
    case kPowerModeValueMin:
        word |= kPowerModeCurrentMin;
        break;
    case kPowerModeValueBalanced:
        word |= kPowerModeCurrentBalanced;
        break;
    case kPowerModeValueMax:
        word |= kPowerModeCurrentMax;
        break;
    default:
        break;
    }
    switch (reply.le32(offsetof(GET_POWER_MODE, dwPowerModeOperational)).value_or(0)) {
    case kPowerModeValueMin:
        word |= kPowerModePendingMin;
        break;
    case kPowerModeValueBalanced:
        word |= kPowerModePendingBalanced;
        break;
    case kPowerModeValueMax:
        word |= kPowerModePendingMax;
        break;
    default:
        break;
    }
    const VK_DWORD warnings = reply.le32(offsetof(GET_POWER_MODE, dwWarningMap)).value_or(0) & kPowerWarningBits;
    return static_cast<VK_WORD>(word | (warnings << 4));
}

VK_DWORD SensorCount(ByteView reply) {
    return reply.le32(offsetof(SENSE_SENSORS_INFO_FIXED, number_of_sensors)).value_or(0);
}

VK_DWORD DecodeSensorField(ByteView reply, VK_DWORD sensor_index, SensorField field) {
    const auto record = SensorRecord(reply, sensor_index);
    if (!record) {
        return 0;
    }
    switch (field) {
    case SensorField::kLocation:
        return reply.u8(*record + offsetof(SENSOR_INFO, location)).value_or(0);
    case SensorField::kReading:
        return reply.le32(*record + offsetof(SENSOR_INFO, sensor_status) + offsetof(SENSOR_STATUS, reading)).value_or(0);
    case SensorField::kMaxReading:
        return reply.le32(*record + offsetof(SENSOR_INFO, max_since_poweron)).value_or(0);
    }
    return 0;
}

std::vector<CONTROLLER_TEMPERATURE_SENSOR_INFO> DecodeTemperatureSensors(ByteView reply) {
    std::vector<CONTROLLER_TEMPERATURE_SENSOR_INFO> sensors;
    const VK_DWORD count = SensorCount(reply);
    for (VK_DWORD index = 0; index < count; ++index) {
        const auto record = SensorRecord(reply, index);
        if (!record) {
            break; // the records after this one do not fit either
        }
        const VK_BYTE sensor_index = reply.u8(*record + offsetof(SENSOR_STATUS, index)).value_or(0xFF);
        if (sensor_index == 0xFF) {
            continue;
        }
        CONTROLLER_TEMPERATURE_SENSOR_INFO info;
        std::memset(&info, 0, sizeof(info));
        const size_t thresholds = *record + offsetof(SENSOR_INFO, class_info);
        info.location = reply.u8(*record + offsetof(SENSOR_INFO, location)).value_or(0);
        info.current_reading =
            reply.le32(*record + offsetof(SENSOR_INFO, sensor_status) + offsetof(SENSOR_STATUS, reading)).value_or(0);
        info.max_reading = reply.le32(*record + offsetof(SENSOR_INFO, max_since_poweron)).value_or(0);
        info.critical_threshold = reply.le32(thresholds).value_or(0);
        info.caution_threshold = reply.le32(thresholds + 4).value_or(0);
        info.warning_threshold = reply.le32(thresholds + 8).value_or(0);
        info.sensor_index = sensor_index;
        sensors.push_back(info);
    }
    return sensors;
}

void DecodeManufacturingData(ByteView reply, VK_CONTROLLER_MANUFACTURING_DATA* record) {
    std::memset(record, 0, sizeof(*record));
    // Each text field is 15 characters in the reply; the 16th of the record stays the terminator.
    reply.copy_to(offsetof(DEFAULT_MANUFACTURING_DATA, WWID), record->WWID, sizeof(record->WWID));
    reply.copy_to(offsetof(DEFAULT_MANUFACTURING_DATA, serial_number), record->serial_number,
                  sizeof(record->serial_number) - 1);
    reply.copy_to(offsetof(DEFAULT_MANUFACTURING_DATA, spare_part_number), record->spare_part_number,
                  sizeof(record->spare_part_number) - 1);
    reply.copy_to(offsetof(DEFAULT_MANUFACTURING_DATA, wellness_log), record->wellness_log,
                  sizeof(record->wellness_log));
    record->revision = reply.u8(offsetof(DEFAULT_MANUFACTURING_DATA, revision)).value_or(0);
    reply.copy_to(offsetof(DEFAULT_MANUFACTURING_DATA, part_number), record->part_number,
                  sizeof(record->part_number) - 1);
}

VK_WORD DecodeBatteryBackedCacheSize(ByteView cache_status) {
    const VK_WORD total = cache_status.le16(offsetof(CACHE_CONFIG_STATUS, wTotalMemorySize)).value_or(0);
    const VK_WORD not_backed =
        cache_status.le16(offsetof(CACHE_CONFIG_STATUS, wNonBatteryBackedMemorySize)).value_or(0);
    return (total != 0 && not_backed < total) ? static_cast<VK_WORD>(total - not_backed) : 0;
}

VK_BYTE DecodeBackupPowerSourceType(ByteView cache_status) {
    const VK_DWORD fixed_length = cache_status.le32(offsetof(CACHE_CONFIG_STATUS, dwFixedStructureLength)).value_or(0);
    const auto type = cache_status.u8(offsetof(CACHE_CONFIG_STATUS, bRequiredBackupPowerType));
    if (fixed_length > offsetof(CACHE_CONFIG_STATUS, bRequiredBackupPowerType) && type &&
        *type <= kBackupPowerSourceTypeVeskBattery) {
        return *type;
    }
    return kBackupPowerSourceTypeUnknown;
}

VK_DWORD DecodeBackupPowerSourceCounts(ByteView cache_status) {
    // Each count has 8 bits in the word: a larger one saturates instead of spilling into its neighbour.
    auto saturate = [](unsigned count) { return static_cast<VK_DWORD>(std::min(count, 255u)); };
    const unsigned total = cache_status.le16(offsetof(CACHE_CONFIG_STATUS, wBatteryCount)).value_or(0);
    const unsigned installed = static_cast<unsigned>(
        std::popcount(cache_status.le16(offsetof(CACHE_CONFIG_STATUS, wInstalledBatteries)).value_or(0)));
    const unsigned failed = static_cast<unsigned>(
        std::popcount(cache_status.le16(offsetof(CACHE_CONFIG_STATUS, wFailedBatteries)).value_or(0)));
    return saturate(failed) << kFailedBackupPowerSourcesShift | saturate(installed) << kInstalledBackupPowerSourcesShift |
           saturate(total) |
           static_cast<VK_DWORD>(kBackupPowerSourceCountsSuccessful) << kBackupPowerSourceResultShift;
}

} // namespace telmar
