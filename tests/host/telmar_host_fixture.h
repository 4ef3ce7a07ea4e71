// One simulated controller on the simulated host, found through discovery, with a data area ready
// for it: the set-up the Telmar host tests share.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ppavl_discovery.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"

namespace telmar_host {

// The node the one controller is reached through.
inline constexpr const char* kNode = "/dev/sg1";

// "0a 1b ..." as the request log records a CDB.
inline std::vector<VK_BYTE> ParseHex(const std::string& text) {
    std::vector<VK_BYTE> out;
    for (size_t i = 0; i + 2 <= text.size(); i += 3) {
        out.push_back(static_cast<VK_BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

class ControllerHost : public qvsim::SimHostTest {
protected:
    // Starts the host with the controller and finds its descriptor; `configure` installs firmware
    // handlers before the host starts.
    void StartController(qvsim::FirmwareState state,
                         const std::function<void(qvsim::FwController&)>& configure = {}) {
        qvsim::Scenario s;
        auto& c = s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
        fw_ = std::make_shared<qvsim::FwController>(std::move(state));
        c.firmware = fw_;
        if (add_to_scenario_) {
            add_to_scenario_(s);
        }
        if (configure) {
            configure(*fw_);
        }
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        list_ = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
        controller_ = PN_GetDeviceListItemAt(it);
        PN_DestroyDeviceListIterator(it);
        memory_ = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    }

    VK_WORD Initialize() {
        initialised_ = true;
        return VK_InitializeCDA(cda(), controller_);
    }

    // Releases the data area and the descriptors, so a table-driven test can start the next run.
    void StopController() {
        if (initialised_) {
            VK_UnInitializeCDA(cda());
            initialised_ = false;
        }
        PN_DestroyDeviceDescriptorList(list_);
        list_ = nullptr;
    }

    void TearDown() override {
        StopController();
        qvsim::SimHostTest::TearDown();
    }

    PCDA cda() { return memory_.get(); }

    // The CDBs the controller received, in order, from the host's request log.
    std::vector<std::vector<VK_BYTE>> SentCdbs() {
        std::vector<std::vector<VK_BYTE>> out;
        for (const auto& r : host().requests(kNode)) {
            if (r.op == "ioctl" && r.decoded.contains("cdb")) {
                out.push_back(ParseHex(r.decoded["cdb"].get<std::string>()));
            }
        }
        return out;
    }

    // The BMIC commands among them, in order.
    std::vector<qvsim::BmicCdb> Received() {
        std::vector<qvsim::BmicCdb> out;
        for (const auto& cdb : SentCdbs()) {
            if (auto b = qvsim::BmicCdb::parse(cdb)) {
                out.push_back(*b);
            }
        }
        return out;
    }

    std::vector<int> Opcodes() {
        std::vector<int> out;
        for (const qvsim::BmicCdb& b : Received()) {
            out.push_back(b.opcode);
        }
        return out;
    }

    // Adds to the scenario (host volumes, other devices) before the host starts.
    std::function<void(qvsim::Scenario&)> add_to_scenario_;
    std::shared_ptr<qvsim::FwController> fw_;
    DeviceDescriptorList list_ = nullptr;
    DeviceDescriptor controller_ = nullptr;
    std::unique_ptr<VK_BYTE[]> memory_;
    bool initialised_ = false;
};

} // namespace telmar_host
