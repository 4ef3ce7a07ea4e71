#include "qvsim/full_host.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

#include "qvsim/fw_state.h"

namespace qvsim {

namespace {

const char* const kDrivers[] = {"qzvk", "qzdvk", "qzdvkc", "qzdvkg", "qzdvkw", "veskdq", "veskdqg"};

FirmwareState ControllerState(unsigned devices, std::mt19937& random) {
    // One SEP per 24 devices (at least one, at most 16) and one expander; the rest are drives.
    const unsigned enclosures = std::clamp(devices / 24u, 1u, 16u);
    const unsigned drives = devices - enclosures - 1;
    FwInventoryShape shape;
    shape.drives = static_cast<std::uint16_t>(drives);
    shape.connectors = static_cast<std::uint8_t>(2 + random() % 7);
    shape.enclosures = static_cast<std::uint8_t>(enclosures);
    shape.arrays = static_cast<std::uint16_t>(std::min(8u, drives / 3));
    shape.logical_drives = 64;
    shape.spares = 1;
    shape.fault_tolerance = static_cast<std::uint16_t>(random() % 2);
    FirmwareState state;
    state.generate(shape);
    const auto expander_number = static_cast<std::uint16_t>(drives + enclosures);
    FwDrive& expander = state.add_drive(expander_number, 5);
    expander.box = state.enclosures.front().physical_box;
    expander.box_index = state.enclosures.front().box;
    expander.bay = 0;
    expander.port = state.subsystem.connectors.front().short_name;
    state.enclosures.front().expanders.push_back(expander_number);
    state.enclosures.front().expander_count = 1;
    state.generated_remote_volumes = 1 + random() % 4;
    return state;
}

} // namespace

nlohmann::json full_host_json(const FullHostShape& shape) {
    if (shape.controllers < 1 || shape.controllers > 7 || shape.devices < 8 || shape.devices > 384)
        throw std::invalid_argument("full host shape out of range");
    std::mt19937 random(shape.seed);
    Scenario scenario;
    std::vector<FirmwareState> states;
    for (unsigned i = 0; i < shape.controllers; ++i) {
        const std::string pci = "0000:1" + std::to_string(i) + ":00.0";
        const auto host = static_cast<unsigned>(2 + i), minor = static_cast<unsigned>(1 + i);
        if (std::string(kDrivers[i]).rfind("vesk", 0) == 0)
            scenario.add_pqi(kDrivers[i], pci, host, minor);
        else
            scenario.add_ciss(kDrivers[i], pci, host, minor);
        states.push_back(ControllerState(shape.devices, random));
    }
    nlohmann::json j = scenario.to_json();
    for (unsigned i = 0; i < shape.controllers; ++i)
        j["controllers"][i]["fw"] = states[i].to_json();
    return j;
}

Scenario full_host(const FullHostShape& shape) {
    return Scenario::from_json(full_host_json(shape));
}

void write_full_host(const FullHostShape& shape, const std::string& path) {
    std::ofstream out(path);
    out << full_host_json(shape).dump(1) << '\n';
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

} // namespace qvsim
