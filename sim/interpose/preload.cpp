// LD_PRELOAD start-up: the launcher has mounted the host; register its devices in this process.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "qvsim/device.h"
#include "qvsim/scenario.h"

namespace {

[[noreturn]] void refuse(const std::string& why) {
    std::fprintf(stderr, "qvsim preload: %s\n", why.c_str());
    std::_Exit(125);
}

__attribute__((constructor)) void qvsim_preload_start() {
    const char* scenario = std::getenv("QVSIM_SCENARIO");
    if (scenario == nullptr)
        return; // loaded outside the launcher: route nothing
    const char* token = std::getenv("QVSIM_TOKEN");
    std::string marker;
    std::ifstream in("/sys/.qvsim-sandbox");
    // Without our /sys and /dev, a product mknod or unlink would reach the real host.
    if (token == nullptr || !in || !std::getline(in, marker) || marker != token) {
        refuse("the simulated host is not mounted here");
    }
    try {
        // "@FILE": a scenario too large for one environment string (128 KiB) comes from a file.
        nlohmann::json text;
        if (scenario[0] == '@') {
            std::ifstream file(scenario + 1);
            if (!file) {
                refuse(std::string("cannot read scenario file ") + (scenario + 1));
            }
            text = nlohmann::json::parse(file);
        } else {
            text = nlohmann::json::parse(scenario);
        }
        auto s = qvsim::Scenario::from_json(text);
        const char* log = std::getenv("QVSIM_LOG");
        if (log != nullptr && !qvsim::Registry::instance().set_log_file(log)) {
            refuse(std::string("cannot open request log ") + log);
        }
        qvsim::attach_devices(s);
    } catch (const std::exception& e) {
        refuse(e.what());
    }
}

} // namespace
