// Requests sent for a whole inventory: a cached buffer is read from the controller once per run, however
// often the start-up, the array model, the drive records and the enclosure walk ask for it. The request
// log names every read that went out twice.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"

namespace {

struct ShapeCase {
    const char* name;
    qvsim::FwInventoryShape shape;
};

const ShapeCase kShapes[] = {
    {"OneArray", {.drives = 8, .connectors = 2, .enclosures = 1, .logical_drives = 1, .arrays = 1}},
    {"SharedArraysWithSpares",
     {.drives = 48, .connectors = 4, .enclosures = 2, .logical_drives = 16, .arrays = 4, .spares = 1,
      .fault_tolerance = 1}},
    {"FullController",
     {.drives = 384, .connectors = 16, .enclosures = 16, .logical_drives = 64, .arrays = 32, .spares = 1,
      .fault_tolerance = 1}},
};

class RequestCountHost : public qvsim::SimHostTest, public ::testing::WithParamInterface<ShapeCase> {
protected:
    void TearDown() override {
        for (auto& area : areas_) {
            VK_UnInitializeCDA(area.get());
        }
        PN_DestroyDeviceDescriptorList(list_);
        qvsim::SimHostTest::TearDown();
    }

    // Two controllers of the shape: start-up, then the inventory, twice over.
    void Run() {
        qvsim::Scenario s;
        for (int i = 0; i < 2; ++i) {
            auto& c = s.add_ciss("qzvk", "0000:3" + std::to_string(i) + ":00.0", static_cast<unsigned>(2 + i),
                                 static_cast<unsigned>(1 + i));
            c.firmware = std::make_shared<qvsim::FwController>(qvsim::FirmwareState{}.generate(GetParam().shape));
        }
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        host().clear_requests();
        list_ = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            areas_.push_back(std::make_unique<VK_BYTE[]>(VK_GetCDASize()));
            ASSERT_EQ(VK_InitializeCDA(areas_.back().get(), PN_GetDeviceListItemAt(it)), kInitializeSucceeded);
        }
        PN_DestroyDeviceListIterator(it);
        ASSERT_EQ(areas_.size(), 2u);
        for (int pass = 0; pass < 2; ++pass) {
            for (auto& area : areas_) {
                PCDA cda = area.get();
                ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda));
                ASSERT_TRUE(VK_RequestStorageEnclosureInfo(cda));
                for (VK_WORD pd = 0; pd < GetParam().shape.drives; ++pd) {
                    EXPECT_TRUE(VK_RequestIdentifyPhysicalDriveBuffer(cda, pd)) << pd;
                }
                for (VK_WORD ld = 0; ld < GetParam().shape.logical_drives; ++ld) {
                    EXPECT_TRUE(VK_RequestSenseLogicalDriveStatusBuffer(cda, ld)) << ld;
                }
            }
        }
    }

    std::vector<std::unique_ptr<VK_BYTE[]>> areas_;
    DeviceDescriptorList list_ = nullptr;
};

TEST_P(RequestCountHost, NoCachedBufferIsReadTwice) {
    ASSERT_NO_FATAL_FAILURE(Run());
    std::map<std::string, int> reads; // node and command bytes
    size_t passthrough = 0;
    for (const auto& r : host().requests()) {
        if (r.op == "ioctl" && r.decoded.contains("cdb")) {
            ++passthrough;
            ++reads[r.node + " " + r.decoded["cdb"].get<std::string>()];
        }
    }
    EXPECT_GT(passthrough, 2u * GetParam().shape.drives);
    for (const auto& [read, count] : reads) {
        EXPECT_EQ(count, 1) << read;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, RequestCountHost, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
