// A whole host built from a few numbers: N controllers, each with D devices (drives on several
// connectors, enclosures with one SEP each, an expander), 64 logical drives in arrays and remote
// volumes. The seed varies what the numbers leave open, reproducibly.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "qvsim/scenario.h"

namespace qvsim {

struct FullHostShape {
    unsigned controllers = 1;  // 1-7
    unsigned devices = 48;     // per controller, 8-384: drives, SEPs and the expander
    std::uint32_t seed = 1;
};

// The scenario in file form ("fw" of every controller included); Scenario::from_json reads it back.
// Throws std::invalid_argument for a shape out of range.
nlohmann::json full_host_json(const FullHostShape& shape);
Scenario full_host(const FullHostShape& shape);
// Writes full_host_json to `path`; throws std::runtime_error when it cannot.
void write_full_host(const FullHostShape& shape, const std::string& path);

} // namespace qvsim
