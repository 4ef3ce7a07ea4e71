// Per-device records and the array model against a simulated controller inventory: what the build
// reads and caches, how shared members form one array, the enclosure walk past failing boxes, the
// read-twice status and multi-LUN drives. Expected values come from the inventory each test describes.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::FirmwareState;

constexpr const char* kNode = "/dev/sg1";

std::vector<VK_BYTE> ParseHex(const std::string& text) {
    std::vector<VK_BYTE> out;
    for (size_t i = 0; i + 2 <= text.size(); i += 3) {
        out.push_back(static_cast<VK_BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// The device a per-device BMIC read is for, as the controller reads it.
unsigned DeviceOf(const BmicCdb& b) {
    switch (b.opcode) {
    case 0x15:
        return (b.detail >> 24) | (b.lun() & 0xFF00u);
    case 0x65:
        return b.detail;
    default:
        return b.lun();
    }
}

class RecordsHost : public qvsim::SimHostTest {
protected:
    void Start(FirmwareState state) {
        qvsim::Scenario s;
        auto& c = s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
        fw_ = std::make_shared<qvsim::FwController>(std::move(state));
        c.firmware = fw_;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        list_ = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
        controller_ = PN_GetDeviceListItemAt(it);
        PN_DestroyDeviceListIterator(it);
        memory_ = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
        initialised_ = true;
        ASSERT_EQ(VK_InitializeCDA(cda(), controller_), kInitializeSucceeded);
        host().clear_requests();
    }

    void TearDown() override {
        if (initialised_) {
            VK_UnInitializeCDA(cda());
        }
        PN_DestroyDeviceDescriptorList(list_);
        qvsim::SimHostTest::TearDown();
    }

    PCDA cda() { return memory_.get(); }
    _CDA* data() { return _VK_CDA(cda()); }

    std::vector<BmicCdb> Bmic() {
        std::vector<BmicCdb> out;
        for (const auto& r : host().requests(kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            if (auto b = BmicCdb::parse(ParseHex(r.decoded["cdb"].get<std::string>()))) {
                out.push_back(*b);
            }
        }
        return out;
    }

    // How many reads of `opcode` each device received.
    std::map<unsigned, int> ReadsPerDevice(VK_BYTE opcode) {
        std::map<unsigned, int> out;
        for (const BmicCdb& b : Bmic()) {
            if (!b.write && b.opcode == opcode) {
                ++out[DeviceOf(b)];
            }
        }
        return out;
    }

    std::vector<unsigned> Lengths(VK_BYTE opcode) {
        std::vector<unsigned> out;
        for (const BmicCdb& b : Bmic()) {
            if (b.opcode == opcode) {
                out.push_back(b.length);
            }
        }
        return out;
    }

    std::shared_ptr<qvsim::FwController> fw_;
    DeviceDescriptorList list_ = nullptr;
    DeviceDescriptor controller_ = nullptr;
    std::unique_ptr<VK_BYTE[]> memory_;
    bool initialised_ = false;
};

// Four SAS drives 0-3 and an unassigned drive 4; logical drive 0 on 0-3.
FirmwareState OneArray() {
    FirmwareState st;
    for (VK_WORD pd = 0; pd <= 4; ++pd) {
        st.add_drive(pd, 2).bay = static_cast<std::uint8_t>(pd + 1);
    }
    st.add_configured_drive(0, {0, 1, 2, 3}, 1u << 20, 0);
    return st;
}

// ---- Caching -------------------------------------------------------------------------------------

TEST_F(RecordsHost, ArrayBuildReadsEachRecordOnceAndRebuildsAfterReinitialisation) {
    ASSERT_NO_FATAL_FAILURE(Start(OneArray()));
    const std::map<unsigned, int> once_ld0{{0, 1}};
    const std::map<unsigned, int> once_each_drive{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}};

    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_EQ(ReadsPerDevice(0x50), once_ld0);
    EXPECT_EQ(ReadsPerDevice(0x12), once_ld0);
    EXPECT_EQ(ReadsPerDevice(0x15), once_each_drive);

    host().clear_requests();
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_TRUE(Bmic().empty());

    // Re-initialisation forgets the model and every record: the next build reads them all again.
    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    host().clear_requests();
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));
    EXPECT_EQ(ReadsPerDevice(0x50), once_ld0);
    EXPECT_EQ(ReadsPerDevice(0x12), once_ld0);
    EXPECT_EQ(ReadsPerDevice(0x15), once_each_drive);
    EXPECT_EQ(data()->total_array_count, 1);
}

// ---- Arrays ---------------------------------------------------------------------------------------

TEST_F(RecordsHost, TwoLogicalDrivesOnTheSameDrivesFormOneArrayOrderedByOffset) {
    FirmwareState st = OneArray();
    st.find_configured_drive(0)->offset = 1u << 20; // logical drive 1 comes first on the drives
    st.add_configured_drive(1, {0, 1, 2, 3}, 1u << 20, 0);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_TRUE(VK_RequestArrayConfigurationInformation(cda()));

    EXPECT_EQ(data()->total_array_count, 1);
    const VK_WORD array = VK_EnumerateAllArrays(cda(), kInvalidArrayNumber);
    ASSERT_NE(array, kInvalidArrayNumber);
    EXPECT_EQ(VK_EnumerateAllArrays(cda(), array), kInvalidArrayNumber);
    const ArrayRecord& a = data()->array_record_list[array];
    ASSERT_EQ(a.ld_count, 2);
    EXPECT_EQ(a.ld_index_array[0], 1);
    EXPECT_EQ(a.ld_index_array[1], 0);
    EXPECT_EQ(a.ld_offset_array[0], 0u);
    EXPECT_EQ(a.ld_offset_array[1], 1u << 20);

    std::vector<VK_WORD> drives;
    VK_WORD pd = kInvalidPDNumber;
    while ((pd = VK_EnumerateArrayDataDrives(cda(), array, pd)) != kInvalidPDNumber) {
        drives.push_back(pd);
    }
    EXPECT_EQ(drives, (std::vector<VK_WORD>{0, 1, 2, 3}));
    EXPECT_EQ(data()->ld_record_list[0].array_number, array);
    EXPECT_EQ(data()->ld_record_list[1].array_number, array);
}

// ---- Enclosures -----------------------------------------------------------------------------------

std::vector<VK_WORD> Enclosures(PCDA cda) {
    std::vector<VK_WORD> out;
    VK_WORD se = kInvalidSENumber;
    while ((se = VK_EnumerateControllerStorageEnclosures(cda, se)) != kInvalidSENumber) {
        out.push_back(se);
    }
    return out;
}

TEST_F(RecordsHost, BoxAnsweringNothingIsSkippedAndTheWalkGoesOn) {
    FirmwareState st = OneArray();
    for (std::uint8_t box : {1, 2, 3, 4}) {
        st.add_enclosure(box);
    }
    st.fail_device(0x65, 3); // box 3 refuses its read
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    ASSERT_TRUE(VK_RequestStorageEnclosureInfo(cda()));
    EXPECT_EQ(Enclosures(cda()), (std::vector<VK_WORD>{1, 2, 4}));
    // Four enclosures reported, three answered: every box up to 15 is asked.
    std::map<unsigned, int> every_box;
    for (unsigned box = 0; box < 16; ++box) {
        every_box[box] = 1;
    }
    EXPECT_EQ(ReadsPerDevice(0x65), every_box);
}

TEST_F(RecordsHost, BusParametersFailingAfterPartOfItsDataDoNotCountTheBox) {
    FirmwareState st = OneArray();
    for (std::uint8_t box : {1, 2, 4}) {
        st.add_enclosure(box);
    }
    // Box 2 writes its whole record, then fails.
    auto& f = st.fail_device(0x65, 2);
    f.data_length = 1537;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    ASSERT_TRUE(VK_RequestStorageEnclosureInfo(cda()));
    EXPECT_EQ(Enclosures(cda()), (std::vector<VK_WORD>{1, 4}));
    EXPECT_EQ(data()->se_record_list[2].flags & 0x1, 0);
    EXPECT_EQ(ReadsPerDevice(0x65).size(), 16u);
}

// ---- Logical-drive status read twice ----------------------------------------------------------------

TEST_F(RecordsHost, StatusTotalAboveTheLargestTransferIsAFailedRead) {
    FirmwareState st = OneArray();
    st.find_configured_drive(0)->status_totals = {65536};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    EXPECT_FALSE(VK_RequestSenseLogicalDriveStatusBuffer(cda(), 0));
    EXPECT_EQ(Lengths(0x12), (std::vector<unsigned>{3265}));
    EXPECT_EQ(data()->ld_record_list[0].flags & kLDRecordStatusValid, 0u);
}

TEST_F(RecordsHost, StatusTotalGrowingBetweenTheReadsIsCutToTheSecondBuffer) {
    FirmwareState st = OneArray();
    st.find_configured_drive(0)->status_totals = {4000, 5000};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    VK_BYTE* raw = _VK_GetCompleteSenseLogicalDriveStatusBuffer(cda(), 0);
    ASSERT_NE(raw, nullptr);
    VK_DWORD total = 0;
    std::memcpy(&total, raw + offsetof(LOGICAL_DRIVE_STATUS, dwTotalStructureLength), sizeof(total));
    VK_free(raw);
    EXPECT_EQ(total, 4000u);
    EXPECT_EQ(Lengths(0x12), (std::vector<unsigned>{3265, 4000}));
}

// ---- Multi-LUN drives -------------------------------------------------------------------------------

TEST_F(RecordsHost, ThreeLunsKeepTwoExtraAndFiveKeepNone) {
    FirmwareState st = OneArray();
    auto& three = st.add_drive(5, 2);
    three.lun_count = 3;
    three.luns = {{.valid = true, .total_blocks = 1000, .reserved_blocks = 10},
                  {.valid = true, .total_blocks = 2000, .reserved_blocks = 20}};
    auto& five = st.add_drive(6, 2);
    five.lun_count = 5;
    five.luns.assign(4, {.valid = true, .total_blocks = 3000, .reserved_blocks = 30});
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    TelmarLogCapture log;

    ASSERT_TRUE(VK_RequestIdentifyPhysicalDriveBuffer(cda(), 5));
    const PhysicalDriveLunInfo* extra = data()->pd_record_list[5].additional_lun_info;
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(extra[0].is_valid, 1);
    EXPECT_EQ(extra[0].total_size_blocks, 1000u);
    EXPECT_EQ(extra[0].reserved_blocks, 10u);
    EXPECT_EQ(extra[1].is_valid, 1);
    EXPECT_EQ(extra[1].total_size_blocks, 2000u);
    EXPECT_EQ(extra[1].reserved_blocks, 20u);

    ASSERT_TRUE(VK_RequestIdentifyPhysicalDriveBuffer(cda(), 6));
    EXPECT_EQ(data()->pd_record_list[6].additional_lun_info, nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'num_luns_on_pd <= kMaxPhysicalDriveLunsSupported' failed"), 1u);

    // The LUN reads go out for drive 5 only.
    std::vector<unsigned> luns;
    for (const BmicCdb& b : Bmic()) {
        if (b.opcode == 0x15) {
            luns.push_back(b.lun());
        }
    }
    EXPECT_EQ(luns, (std::vector<unsigned>{0, 1, 2, 0}));
}

} // namespace
