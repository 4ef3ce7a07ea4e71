// The default controller gives every field its own value, so a product that prints one field where
// another belongs prints a wrong value that a test sees. Two fields with the same value would let
// such a swap pass every test.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "qvsim/fw_state.h"

namespace {

using qvsim::FirmwareState;

template <typename T>
void ExpectPairwiseDistinct(const std::vector<std::pair<std::string, T>>& fields) {
    for (size_t a = 0; a < fields.size(); ++a) {
        for (size_t b = a + 1; b < fields.size(); ++b) {
            EXPECT_NE(fields[a].second, fields[b].second) << fields[a].first << " and " << fields[b].first;
        }
    }
}

std::string Hex(const std::array<std::uint8_t, 8>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const auto b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

TEST(SimDistinctDefaults, TextFieldsOfEachRecordDiffer) {
    const FirmwareState s;
    const auto& id = s.identify;
    ExpectPairwiseDistinct<std::string>({{"firmware_version", id.firmware_version},
                                         {"short_firmware_rev", id.short_firmware_rev},
                                         {"rom_firmware_rev", id.rom_firmware_rev},
                                         {"pending_firmware_version", id.pending_firmware_version},
                                         {"compile_timestamp", id.compile_timestamp},
                                         {"vendor_id", id.vendor_id},
                                         {"product_id", id.product_id},
                                         {"family_id", id.family_id},
                                         {"hardware_revision", std::string(1, id.hardware_revision)}});
    ExpectPairwiseDistinct<std::string>({{"serial_number", s.subsystem.serial_number},
                                         {"board_serial_number", s.subsystem.board_serial_number},
                                         {"driver_version", s.subsystem.driver_version},
                                         {"wwn", Hex(s.subsystem.wwn)}});
    ExpectPairwiseDistinct<std::string>({{"serial_number", s.manufacturing.serial_number},
                                         {"spare_part_number", s.manufacturing.spare_part_number},
                                         {"part_number", s.manufacturing.part_number},
                                         {"wwid", Hex(s.manufacturing.wwid)}});
    std::vector<std::pair<std::string, std::string>> names;
    for (const auto& c : s.subsystem.connectors) {
        names.push_back({"connector " + std::to_string(c.number) + " short name", c.short_name});
        names.push_back({"connector " + std::to_string(c.number) + " long name", c.long_name});
        names.push_back({"connector " + std::to_string(c.number) + " SAS address", Hex(c.sas_address)});
    }
    ExpectPairwiseDistinct(names);
}

// What the commands print side by side, one command to a group.
TEST(SimDistinctDefaults, FieldsACommandPrintsSideBySideDiffer) {
    const FirmwareState s;
    const auto& id = s.identify;
    // getfwmiscinfo and verifyfwversion.
    ExpectPairwiseDistinct<std::string>({{"product_id", id.product_id},
                                         {"firmware_version", id.firmware_version},
                                         {"pending_firmware_version", id.pending_firmware_version},
                                         {"vendor_id", id.vendor_id},
                                         {"hardware_revision", std::string(1, id.hardware_revision)}});
    // listcontrollers.
    ExpectPairwiseDistinct<std::string>({{"vendor_id", id.vendor_id},
                                         {"family_id", id.family_id},
                                         {"product_id", id.product_id},
                                         {"serial_number", s.subsystem.serial_number}});
    // getcacheinfo and verifycachesize; the cache's own sizes beside them.
    ExpectPairwiseDistinct<std::uint32_t>({{"identify memory_mib", id.memory_mib},
                                           {"cache total_memory", s.cache.total_memory},
                                           {"read_cache_size", s.cache.read_cache_size},
                                           {"write_cache_size", s.cache.write_cache_size}});
    // getpcieinfo and verifypcieconfig.
    ExpectPairwiseDistinct<std::uint32_t>({{"pcie_generation", id.pcie_generation}, {"pcie_width", id.pcie_width}});
    ExpectPairwiseDistinct<std::uint32_t>({{"current_comparison_stamp", id.current_comparison_stamp},
                                           {"pending_comparison_stamp", id.pending_comparison_stamp}});
    // verifysystemtemperature: every reading, and each sensor's reading beside its highest.
    std::vector<std::pair<std::string, std::uint32_t>> readings;
    for (const auto& sensor : s.sensors) {
        readings.push_back({"sensor " + std::to_string(sensor.index) + " reading", sensor.reading});
        ExpectPairwiseDistinct<std::uint32_t>({{"reading", sensor.reading},
                                               {"max_since_poweron", sensor.max_since_poweron},
                                               {"critical", sensor.critical},
                                               {"caution", sensor.caution},
                                               {"warning", sensor.warning}});
    }
    ExpectPairwiseDistinct(readings);
    // showctrlphyerrors: every counter of every PHY the connectors hold.
    std::vector<std::pair<std::string, std::uint32_t>> counters;
    for (const auto& e : s.phy_errors) {
        const std::string phy = "PHY " + std::to_string(e.phy) + " ";
        counters.push_back({phy + "invalid_dword", e.invalid_dword});
        counters.push_back({phy + "loss_of_sync", e.loss_of_sync});
        counters.push_back({phy + "phy_reset_problem", e.phy_reset_problem});
        counters.push_back({phy + "running_disparity", e.running_disparity});
    }
    ASSERT_EQ(counters.size(), 4u * 12u) << "every PHY of the three connectors has its counters";
    ExpectPairwiseDistinct(counters);
}

} // namespace
