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
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

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

// Clearing the metadata of many drives: each drive cleared costs one clear request, one rescan and
// one re-initialisation, and between two re-initialisations no buffer goes out twice, so the requests
// grow with the drives cleared times one array-model build and no faster.
class ClearMetadataRequestCount : public telmar_host::ControllerHost {};

TEST_F(ClearMetadataRequestCount, EachClearedDriveCostsOneReinitialisation) {
    // 384 drives in 32 arrays of 12; logical drives on the first 16 arrays only, so drives 192-383
    // are unassigned, and each of those carries configuration metadata.
    constexpr VK_WORD kDrives = 384, kFirstUnassigned = 192;
    qvsim::FirmwareState st;
    st.generate({.drives = kDrives, .connectors = 16, .enclosures = 16, .logical_drives = 16, .arrays = 32});
    for (VK_WORD pd = kFirstUnassigned; pd < kDrives; ++pd) {
        st.find_drive(pd)->misc_drive_flags = 0x80;
    }
    ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
    ASSERT_EQ(Initialize(), kInitializeSucceeded);
    auto& fw = fw_->fw_state();
    // One re-initialisation with its array-model build, as the yardstick for each drive cleared.
    host().clear_requests();
    VK_ReInitializeCDA(cda());
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    const size_t one_build = SentCdbs().size();

    fw.updates.writes.clear();
    host().clear_requests();

    EXPECT_EQ(VK_DoClearConfiguration(cda(), kClearConfigurationClearPhysicalDriveCCM),
              ClearConfigurationPhysicalDriveCCMCleared);

    constexpr size_t kCleared = kDrives - kFirstUnassigned;
    // Cut the request log at each controller identify read, the start of a (re-)initialisation.
    std::vector<size_t> segments(1);
    std::map<std::string, int> since_write;
    std::vector<std::uint32_t> cleared;
    for (const auto& r : host().requests(telmar_host::kNode)) {
        if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
            continue;
        }
        const std::string cdb = r.decoded["cdb"].get<std::string>();
        const auto b = qvsim::BmicCdb::parse(telmar_host::ParseHex(cdb));
        if (b && !b->write && b->opcode == 0x11) {
            segments.emplace_back();
            since_write.clear();
        }
        ++segments.back();
        // A buffer read again after a write may have changed; read twice with no write between, it
        // is a read the cache should have saved.
        EXPECT_EQ(++since_write[cdb], 1) << "request " << segments.size() - 1 << ": " << cdb;
        if (b && b->write) {
            since_write.clear();
        }
        if (b && b->write && b->opcode == 0x6E && r.decoded.contains("data_out")) {
            const auto data = telmar_host::ParseHex(r.decoded["data_out"].get<std::string>());
            if (data.size() >= 8) {
                cleared.push_back(std::uint32_t(data[4]) | std::uint32_t(data[5]) << 8 |
                                  std::uint32_t(data[6]) << 16 | std::uint32_t(data[7]) << 24);
                EXPECT_EQ(data[0], 2u) << "metadata only";
            }
        }
    }
    std::vector<std::uint32_t> expected(kCleared);
    for (size_t i = 0; i < kCleared; ++i) {
        expected[i] = std::uint32_t(kFirstUnassigned + i);
    }
    EXPECT_EQ(cleared, expected);
    EXPECT_EQ(fw.updates.register_new_disks, kCleared);
    EXPECT_EQ(segments.size(), kCleared + 2) << "one re-initialisation per drive and one at the end";
    // Beyond the re-initialisation, each drive adds a few requests of its own (the clear request, the
    // cache settings read for update after it, the reads deciding the drive may be cleared), never a
    // number that grows with the drives already cleared.
    constexpr size_t kPerDrive = 8;
    size_t total = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        EXPECT_LE(segments[i], one_build + kPerDrive) << "between re-initialisations " << i;
        total += segments[i];
    }
    EXPECT_LE(total, (kCleared + 2) * (one_build + kPerDrive));
    EXPECT_GE(total, kCleared * one_build) << "every drive was followed by a whole re-initialisation";
    for (VK_WORD pd = kFirstUnassigned; pd < kDrives; ++pd) {
        EXPECT_EQ(fw.find_drive(pd)->misc_drive_flags, 0u) << pd;
    }
    EXPECT_EQ(fw.logical_drives.size(), 16u);
}

} // namespace
