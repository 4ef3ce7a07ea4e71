// Connector, mode, power, capability, manufacturing and sensor getters against a simulated
// controller: what they answer and which reads reach the controller, from its request log.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::FirmwareState;

class ModesHost : public telmar_host::ControllerHost {
protected:
    void StartInitialised(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    std::vector<BmicCdb> Reads() {
        std::vector<BmicCdb> out;
        for (const auto& cdb : SentCdbs()) {
            if (auto b = BmicCdb::parse(cdb); b && !b->write) {
                out.push_back(*b);
            }
        }
        return out;
    }
    // Reads of this opcode (and CDB byte 5 function, when given).
    size_t Count(VK_BYTE opcode, int function = -1) {
        size_t n = 0;
        for (const BmicCdb& b : Reads()) {
            n += (b.opcode == opcode && (function < 0 || (b.detail & 0xFF) == static_cast<unsigned>(function))) ? 1 : 0;
        }
        return n;
    }
    std::vector<unsigned> Lengths(VK_BYTE opcode) {
        std::vector<unsigned> out;
        for (const BmicCdb& b : Reads()) {
            if (b.opcode == opcode) {
                out.push_back(b.length);
            }
        }
        return out;
    }
    TelmarLogCapture log_;
};

FirmwareState WithEncryption() {
    FirmwareState st;
    st.set_page("encryption", {0x41}); // encryption with per-feature bytes
    st.encryption.features = {0x81, 0x02};
    return st;
}

TEST_F(ModesHost, ControllerBuffersAreReadOnceAndSensorsOnEveryCall) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised(WithEncryption()));
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        CONTROLLER_CONNECTOR_INFO info;
        ASSERT_TRUE(VK_GetControllerConnectorInfo(cda(), 2, &info));
        EXPECT_EQ(info.is_external_connector, kTrue);
        EXPECT_STREQ(info.connector_name, "Port 1E");
        EXPECT_EQ(info.phy_map, 0xF00u);
        EXPECT_EQ(VK_GetControllerConnectorCounts(cda()), 0x0102);
        EXPECT_EQ(VK_GetControllerModeInfo(cda()), 0x0012);
        CONNECTOR_DISCOVERY_CONFIGURATION config{};
        EXPECT_EQ(VK_GetConnectorActiveDiscoveryConfiguration(cda(), 1, &config), 0);
        EXPECT_EQ(VK_GetConnectorPendingDiscoveryConfiguration(cda(), 1, &config), 0);
        EXPECT_EQ(VK_GetConnectorDefaultDiscoveryConfiguration(cda(), 1, &config), 0);
        EXPECT_EQ(VK_GetConnectorDiscoveryProtocolSupport(cda(), 1), 0xC7);
        EXPECT_EQ(VK_GetConnectorDirectAttachTargetCountSupport(cda(), 1), 0x07);
        EXPECT_EQ(VK_GetPowerModeInformation(cda()), 0xF80F);
        EXPECT_EQ(VK_ControllerSupportsTransformations(cda()), 0x4000002Fu);
        EXPECT_EQ(VK_GetControllerTransformationMemorySize(cda()), 65536ull * 1024);
        EXPECT_EQ(VK_ControllerEncryptionKeyCacheSupport(cda()), 0x003C0001000A0001ull);
        EXPECT_EQ(VK_GetControllerEncryptionEnabledFeatures(cda()), 0x0281u);
        VK_CONTROLLER_MANUFACTURING_DATA record;
        ASSERT_TRUE(VK_GetControllerManufacturingData(cda(), &record));
        EXPECT_STREQ(record.serial_number, "QVS0A1B2C3D4");
        EXPECT_STREQ(record.part_number, "QV-4100-A1");
        EXPECT_EQ(record.revision, 2);
        EXPECT_EQ(VK_GetControllerTemperatureSensorCount(cda()), 3u);
        EXPECT_EQ(VK_GetControllerBackupPowerSourceCounts(cda()), 0x01000101u);
        EXPECT_EQ(VK_GetControllerTotalCacheSize(cda()), 3856);
    }
    for (auto [opcode, function] : {std::pair<VK_BYTE, int>{0x66, -1}, {0x59, -1}, {0xEE, 1}, {0xEE, 3}, {0x1E, 1},
                                    {0x1E, 13}, {0x82, -1}, {0x83, 0}, {0x83, 1}, {0x83, 3}, {0x61, -1}}) {
        EXPECT_EQ(Count(opcode, function), 1u) << std::hex << int(opcode) << " fn " << function;
    }
    EXPECT_EQ(Count(0x78), 2u) << "sensors are read on every call";
}

TEST_F(ModesHost, DefaultPowerModeIsAskedOnlyWhenThePageOffersIt) {
    FirmwareState st;
    st.set_page("power_management", {0x06, 0x01, 0x07}); // min and balanced; no default sub-command
    st.power.default_mode = 0x04;
    ASSERT_NO_FATAL_FAILURE(StartInitialised(st));
    EXPECT_EQ(VK_GetPowerModeInformation(cda()) & kDefaultPowerModeMask, kPowerModeDefaultBalanced);
    VK_GetPowerModeInformation(cda());
    EXPECT_EQ(Count(0xEE, 1), 1u);
    EXPECT_EQ(Count(0xEE, 3), 0u);

    fw_->fw_state().set_page("power_management", {0x06, 0x01, 0x0F});
    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    host().clear_requests();
    // The reply says maximum, which is not supported: the best supported mode instead.
    EXPECT_EQ(VK_GetPowerModeInformation(cda()) & kDefaultPowerModeMask, kPowerModeDefaultBalanced);
    EXPECT_EQ(Count(0xEE, 3), 1u);
}

TEST_F(ModesHost, ManySensorsAreReadTwiceAtTheirFullSize) {
    FirmwareState st;
    st.sensors.clear();
    for (int i = 0; i < 33; ++i) {
        qvsim::FwSensor s;
        s.index = static_cast<std::uint8_t>(i);
        s.location = static_cast<std::uint8_t>(i % 7);
        s.reading = 20 + static_cast<std::uint32_t>(i);
        st.sensors.push_back(s);
    }
    ASSERT_NO_FATAL_FAILURE(StartInitialised(st));
    VK_DWORD count = 0;
    PCONTROLLER_TEMPERATURE_SENSOR_INFO sensors = VK_GetControllerTemperatureSensorsInfo(cda(), &count);
    ASSERT_NE(sensors, nullptr);
    EXPECT_EQ(count, 33u);
    EXPECT_EQ(sensors[32].sensor_index, 32);
    EXPECT_EQ(sensors[32].current_reading, 52u);
    EXPECT_EQ(sensors[32].critical_threshold, 105u);
    VK_DestroyControllerTemperatureSensorsInfo(sensors);
    EXPECT_EQ(Lengths(0x78), (std::vector<unsigned>{1516, 12 + 47 * 33}));
    EXPECT_EQ(Reads().back().lun_high, 1) << "temperature sensors only";
}

TEST_F(ModesHost, SensorGettersAndSensorsWithoutAValidRecord) {
    FirmwareState st;
    ASSERT_NO_FATAL_FAILURE(StartInitialised(st));
    EXPECT_EQ(VK_GetControllerTemperatureSensorLocation(cda(), 1), 1u);
    EXPECT_EQ(VK_GetControllerTemperatureSensorReading(cda(), 1), 61u);
    EXPECT_EQ(VK_GetControllerTemperatureSensorMaxReading(cda(), 1), 70u);
    EXPECT_EQ(VK_GetControllerTemperatureSensorInfo(cda(), 2, kGetControllerTemperatureSensorLocation), 6u);
    EXPECT_EQ(VK_GetControllerTemperatureSensorInfo(cda(), 2, 3), 0u);
    for (auto getter : {VK_GetControllerTemperatureSensorLocation, VK_GetControllerTemperatureSensorReading,
                        VK_GetControllerTemperatureSensorMaxReading}) {
        EXPECT_EQ(getter(cda(), 3), 0u) << "index = number of sensors";
    }
    VK_DWORD count = 0;
    EXPECT_EQ(VK_GetControllerTemperatureSensorsInfo(cda(), nullptr), nullptr);

    for (auto& s : fw_->fw_state().sensors) {
        s.index = 0xFF;
    }
    EXPECT_EQ(VK_GetControllerTemperatureSensorsInfo(cda(), &count), nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(TelmarLogCapture::Count("No valid controller temp sensors found"), 1u);

    fw_->fw_state().faults.push_back([] {
        qvsim::FwFault f;
        f.bmic = 0x78;
        f.count = 0;
        f.err = 5;
        return f;
    }());
    EXPECT_EQ(VK_GetControllerTemperatureSensorsInfo(cda(), &count), nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Failed to get controller sensor info"), 1u);
    EXPECT_EQ(VK_GetControllerTemperatureSensorCount(cda()), 0u);
}

TEST_F(ModesHost, OEMManufacturingDataComesRawWithItsOEMId) {
    FirmwareState st;
    st.set_page("manufacturing_data", {0x02});
    st.manufacturing.oem_id = 2;
    st.manufacturing.raw.assign(256, 0);
    for (size_t i = 0; i < 256; ++i) {
        st.manufacturing.raw[i] = static_cast<std::uint8_t>(255 - i);
    }
    ASSERT_NO_FATAL_FAILURE(StartInitialised(st));
    VK_CONTROLLER_MANUFACTURING_DATA record;
    EXPECT_FALSE(VK_GetControllerManufacturingData(cda(), &record));
    VK_BYTE type = 0, revision = 0;
    auto* raw = static_cast<VK_BYTE*>(VK_GetControllerOEMManufacturingData(cda(), &type, &revision));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(revision, 255);
    EXPECT_EQ(0, std::memcmp(raw, st.manufacturing.raw.data(), 256));
    VK_free(raw);
    ASSERT_EQ(Count(0x82), 1u);
    EXPECT_EQ(Reads().back().lun_high, 2) << "OEM id in CDB byte 9";
}

} // namespace
