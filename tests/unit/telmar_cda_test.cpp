// The controller data area without a controller: its size, the firmware feature version choice,
// argument checks and the teardown of a staged configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <ostream>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

// The caller allocates what VK_GetCDASize says; the tables hold the documented limits. The byte layout
// of each cached reply is fixed where its record is declared, and the zeroing tests cover every byte.
TEST(ControllerDataArea, SizeIsTheRecordAndTheTablesHoldTheLimits) {
    EXPECT_EQ(VK_GetCDASize(), sizeof(_CDA));
#define COUNT(member) (sizeof(_CDA::member) / sizeof(_CDA::member[0]))
    EXPECT_EQ(COUNT(pd_record_list), 384u);
    EXPECT_EQ(COUNT(ld_record_list), 64u);
    EXPECT_EQ(COUNT(array_record_list), 64u);
    EXPECT_EQ(COUNT(se_record_list), 16u);
    EXPECT_EQ(COUNT(remote_volume_record_list), 8208u);
    EXPECT_EQ(COUNT(pd_erase_status_list), 384u);
    EXPECT_EQ(COUNT(flags), 8u);
#undef COUNT
    // A remote volume's record is its 16-byte unique id and nothing else.
    EXPECT_EQ(sizeof(RemoteVolumeRecord), 16u);
}

struct VersionCase {
    const char* name;
    VK_WORD vendor, device;
    VK_DWORD fixed_length, parameters_total;
    bool feature_pages;
    VK_BYTE expected;
};

// Listed and reported by name, not as the bytes of the record.
void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class FirmwareFeatureVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(FirmwareFeatureVersion, ChoosesByPciIdsThenPagesThenLengths) {
    const VersionCase& v = GetParam();
    IDENTIFY_CONTROLLER identify;
    std::memset(&identify, 0, sizeof(identify));
    identify.wPCIVendorID = v.vendor;
    identify.wPCIDeviceID = v.device;
    identify.dwFixedStructureLength = v.fixed_length;
    EXPECT_EQ(
        _VK_ChooseFirmwareFeatureVersion(&identify, v.parameters_total, v.feature_pages ? kTrue : kFalse),
        v.expected);
}

constexpr VK_WORD kV1 = kFirmwareFeaturePCIVendorID1, kV2 = kFirmwareFeaturePCIVendorID2;
constexpr VK_WORD kD1 = kFirmwareFeaturePCIDeviceID1, kD2 = kFirmwareFeaturePCIDeviceID2,
                  kD3 = kFirmwareFeaturePCIDeviceID3;

INSTANTIATE_TEST_SUITE_P(Rules, FirmwareFeatureVersion,
                         ::testing::Values(VersionCase{"Vendor1Device1", kV1, kD1, 276, 0, true, 4},
                                           VersionCase{"Vendor2Device3", kV2, kD3, 276, 0, true, 5},
                                           VersionCase{"Vendor2Device1", kV2, kD1, 400, 300, true, 6},
                                           VersionCase{"Vendor2Device2", kV2, kD2, 276, 0, true, 7},
                                           VersionCase{"Vendor1Device2FallsThrough", kV1, kD2, 400, 300, true,
                                                       8},
                                           VersionCase{"FeaturePages", 0x1234, 0x5678, 276, 0, true, 8},
                                           VersionCase{"Long317Params207", 0, 0, 317, 207, false, 5},
                                           VersionCase{"Long320Params207", 0, 0, 320, 207, false, 5},
                                           VersionCase{"Long320Params206", 0, 0, 320, 206, false, 4},
                                           VersionCase{"Length316", 0, 0, 316, 400, false, 4},
                                           VersionCase{"Length293", 0, 0, 293, 0, false, 4},
                                           VersionCase{"Length292", 0, 0, 292, 0, false, 3},
                                           VersionCase{"Length291", 0, 0, 291, 0, false, 2},
                                           VersionCase{"Length290", 0, 0, 290, 0, false, 2},
                                           VersionCase{"Length289", 0, 0, 289, 0, false, 1},
                                           VersionCase{"Length276", 0, 0, 276, 0, false, 1}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST(ControllerDataAreaArguments, NullArgumentsAreRefusedAlone) {
    auto memory = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    VK_BYTE descriptor[2] = {2, 0}; // an empty descriptor blob
    EXPECT_EQ(VK_InitializeCDA(nullptr, descriptor), kInitializeFailedInvalidArgument);
    EXPECT_EQ(VK_InitializeCDA(memory.get(), nullptr), kInitializeFailedInvalidArgument);
    EXPECT_EQ(__VK_UnInitializeCDA(nullptr), 4);
    EXPECT_EQ(VK_UnInitializeCDA(nullptr), 1);
    EXPECT_EQ(VK_RequestIdentifyControllerBuffer(nullptr), kFalse);
    EXPECT_EQ(VK_RequestFeaturePages(nullptr), kFalse);
}

TEST(ControllerDataAreaArguments, PhysicalDriveNumberAbove383IsRefused) {
    TelmarLogCapture log;
    auto memory = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    _CDA* c = reinterpret_cast<_CDA*>(memory.get());
    _VK_PDRecordForWrite(c, 383).flags = kPDRecordIdentifyValid | kPDRecordDrive;
    EXPECT_EQ(_VK_InvalidatePDRecordIDPDBuffer(c, 384), kFalse);
    EXPECT_EQ(TelmarLogCapture::Count("Error: PD number out of range"), 1u);
    EXPECT_EQ(_VK_InvalidatePDRecordIDPDBuffer(c, 383), kTrue);
    EXPECT_EQ(c->pd_record_list[383].flags, kPDRecordDrive);
}

TEST(ControllerDataAreaTeardown, DestroysTheStagedConfigurationWithItsRecords) {
    auto memory = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    _CDA* c = reinterpret_cast<_CDA*>(memory.get());
    auto* config = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    ASSERT_NE(config, nullptr);
    std::memset(config, 0, sizeof(*config));
    config->editable_array_list[0] = static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY)));
    config->editable_ld_list[63] =
        static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
    c->editable_configuration = config;
    // Records held by the tables are released with the data area's facts.
    _VK_PDRecordForWrite(c, 7).additional_lun_info =
        static_cast<PhysicalDriveLunInfo*>(VK_malloc(3 * sizeof(PhysicalDriveLunInfo)));
    _VK_LDRecordForWrite(c, 2).logical_drive_handle = VK_malloc(16);
    c->flags[0] = 0xFFFFFFFF;
    c->flags[2] = kCDAModelArraysBuilt;

    EXPECT_EQ(VK_UnInitializeCDA(c), 1);
    EXPECT_EQ(c->editable_configuration, nullptr);
    EXPECT_EQ(c->pd_record_list[7].additional_lun_info, nullptr);
    EXPECT_EQ(c->ld_record_list[2].logical_drive_handle, nullptr);
    EXPECT_EQ(c->flags[0], 0u);
    EXPECT_EQ(c->flags[2], 0u);
    // Leaks of any of the blocks above show in the sanitizer build.
}

} // namespace

// Guards nested inside a guard of the same area take nothing themselves: the lock must stay held by
// the outer guard until it ends, and another thread must wait for exactly that. Guards of two areas
// nest in any order.
TEST(ControllerDataAreaLock, NestedGuardsKeepTheLockUntilTheOuterOneEnds) {
    auto first = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    auto second = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    _CDA* a = _VK_CDA(first.get());
    _CDA* b = _VK_CDA(second.get());
    ASSERT_TRUE(_PN_MutexCreate(&a->lock));
    ASSERT_TRUE(_PN_MutexCreate(&b->lock));
    std::atomic<int> step{0};
    int shared = 0;
    std::thread other([&] {
        while (step.load() < 1) {
            std::this_thread::yield();
        }
        CDALock guard(first.get());
        EXPECT_EQ(shared, 2); // only after the outer guard's whole scope
    });
    {
        CDALock outer(first.get());
        {
            CDALock inner(first.get());
            CDALock other_area(second.get());
            CDALock again(first.get());
            shared = 1;
        }
        step = 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        shared = 2;
    }
    other.join();
    // Every guard is gone: another thread takes both locks at once.
    std::thread([&] {
        EXPECT_TRUE(_PN_RecursiveMutexLock(a->lock));
        EXPECT_TRUE(_PN_RecursiveMutexLock(b->lock));
        EXPECT_TRUE(_PN_RecursiveMutexUnlock(b->lock));
        EXPECT_TRUE(_PN_RecursiveMutexUnlock(a->lock));
    }).join();
    _PN_MutexDelete(a->lock);
    _PN_MutexDelete(b->lock);
}
