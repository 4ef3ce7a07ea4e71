// Immediate operations on live arrays against a simulated controller: the spares of an array added,
// removed and retyped with one 0x51 per logical drive, and one drive's configuration metadata
// cleared with 0x6E. Each is checked by what the controller received and what the re-read model says.
#include <array>
#include <cstdint>
#include <vector>

#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;
using qvsim::FwFault;

constexpr std::uint8_t kClearConfiguration = 0x6E;

// A physical drive's 16-byte unique id as the simulated controller reports it.
std::array<std::uint8_t, 16> DriveId(std::uint16_t pd) {
    return {0x60, 0x0D, 0x1A, 0x00, 0x00, 0x00, std::uint8_t(pd >> 8), std::uint8_t(pd), 0, 0, 0, 0, 0, 0, 0, 0};
}

// Array 0: RAID 1 logical drives 0 and 1 on drives 0 and 1. Array 1: RAID 0 logical drive 2 on drive
// 2. Drives 3 to 7 unassigned, each a little larger than the one before; drive 7 much smaller.
FirmwareState TwoArrays() {
    FirmwareState st;
    st.identify.yet_more_flags |= 0x10000000; // boot volumes
    AddRisingDrives(st, 8);
    st.find_drive(7)->total_blocks = (1u << 22) + kReserved;
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(1, {0, 1}, 1u << 19, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(2, {2}, 1u << 20);
    return st;
}

class LiveArraysHost : public LiveConfigHost {
protected:
    const FwLogicalDrive& Drive(std::uint16_t ld) { return *state().find_configured_drive(ld); }

    // Identify-controller reads, which each re-initialisation starts with.
    size_t Reinitialisations() {
        size_t n = 0;
        for (const qvsim::BmicCdb& b : Received()) {
            n += !b.write && b.opcode == 0x11;
        }
        return n;
    }
};

TEST_F(LiveArraysHost, SpareAddedRetypedAndRemovedEachReadsBack) {
    FirmwareState st = TwoArrays();
    st.identify.extra_flags |= 0x1000;           // connectors report their modes
    st.find_drive(3)->misc_drive_flags = 0x4100; // a drive a host may boot from
    st.parameters.primary_boot_lun = DriveId(3);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));

    ASSERT_EQ(VK_CanAddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 3), kCanAddArraySpareDriveAllowed);
    host().clear_requests();
    const size_t before = Reinitialisations();
    EXPECT_EQ(VK_AddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 3), kAddArraySpareDriveOK);
    EXPECT_EQ(Writes(kSetConfiguration), (std::vector<std::uint16_t>{0, 1}));
    EXPECT_EQ(Drive(0).spares, (std::vector<std::uint16_t>{3}));
    EXPECT_EQ(Drive(1).spares, (std::vector<std::uint16_t>{3}));
    EXPECT_TRUE(Drive(2).spares.empty());
    EXPECT_EQ(Drive(0).more_unit_flags & 0x01, 0);
    EXPECT_EQ(state().parameters.primary_boot_lun, (std::array<std::uint8_t, 16>{})); // no longer a boot volume
    EXPECT_GT(Reinitialisations(), before);
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 3), kPhysicalDriveUsageShareableStandbySpare);
    EXPECT_EQ(VK_GetArraySpareType(cda(), 0), kSpareDriveTypeDedicated);
    EXPECT_EQ(VK_CanAddArraySpareDrive(cda(), 0, 0, 3), kCanAddArraySpareDriveDriveAlreadyUsedAsSpare);

    // A type change writes the flag only and re-initialises nothing, yet the next getters read anew.
    EXPECT_EQ(VK_CanChangeArraySpareType(cda(), 0, kSpareDriveTypeDedicated),
              kCanChangeArraySpareTypeSelectedTypeAlreadySet);
    ASSERT_EQ(VK_CanChangeArraySpareType(cda(), 0, kSpareDriveTypeAutoReplace), kCanChangeArraySpareTypeAllowed);
    const size_t before_type = Reinitialisations();
    EXPECT_EQ(VK_ChangeArraySpareType(cda(), 0, kSpareDriveTypeAutoReplace), kChangeArraySpareTypeOK);
    EXPECT_EQ(Reinitialisations(), before_type);
    EXPECT_EQ(Drive(0).more_unit_flags & 0x01, 0x01);
    EXPECT_EQ(Drive(1).more_unit_flags & 0x01, 0x01);
    EXPECT_EQ(Drive(0).spares, (std::vector<std::uint16_t>{3}));
    EXPECT_EQ(VK_GetArraySpareType(cda(), 0), kSpareDriveTypeAutoReplace);
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 3), kPhysicalDriveUsageAutoReplaceStandbySpare);

    EXPECT_EQ(VK_CanRemoveArraySpareDrive(cda(), 0, 4), kCanRemoveArraySpareDriveNotFound);
    EXPECT_EQ(VK_CanRemoveArraySpareDrive(cda(), 1, 3), kCanRemoveArraySpareDriveNotFound);
    EXPECT_EQ(VK_RemoveArraySpareDrive(cda(), 0, 3), kRemoveArraySpareDriveOK);
    EXPECT_TRUE(Drive(0).spares.empty());
    EXPECT_TRUE(Drive(1).spares.empty());
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 3), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(VK_GetArraySpareType(cda(), 0), kSpareDriveTypeDoesNotExist);
    EXPECT_EQ(VK_CanChangeArraySpareType(cda(), 0, kSpareDriveTypeDedicated), kCanChangeArraySpareTypeNoSparesFound);
}

TEST_F(LiveArraysHost, AddSpareCheckAnswersInOrder) {
    FirmwareState st = TwoArrays();
    st.find_drive(5)->extra_device_flags = 0x20; // solid state
    st.find_drive(5)->rpm = 1;
    st.add_drive(8, 2).reserved_blocks = kReserved;
    st.find_drive(8)->total_blocks = (1u << 25);
    st.find_drive(8)->feature_flags = 0;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    struct Case {
        const char* what;
        VK_WORD array;
        VK_BYTE type;
        VK_WORD pd;
        VK_BYTE reason;
    };
    const Case cases[] = {
        {"no such array", 2, kSpareDriveTypeDedicated, 3, kCanAddArraySpareDriveArrayDoesNotExist},
        {"unknown type", 0, 3, 3, kCanAddArraySpareDriveInvalidSpareType},
        {"current type of an array without spares", 0, 0, 3, kCanAddArraySpareDriveNoSpareTypeSet},
        {"a data drive as dedicated spare", 0, kSpareDriveTypeDedicated, 2, kCanAddArraySpareDriveDriveIsNotUnassignedOrShareableStandby},
        {"a data drive as auto-replace spare", 0, kSpareDriveTypeAutoReplace, 2, kCanAddArraySpareDriveDriveIsNotUnassigned},
        {"only RAID 0 drives without predictive activation", 1, kSpareDriveTypeDedicated, 3, kCanAddArraySpareDriveInvalidSAM},
        {"smaller than the array's smallest drive", 0, kSpareDriveTypeDedicated, 7, kCanAddArraySpareDriveTooSmall},
        {"other media", 0, kSpareDriveTypeDedicated, 5, kCanAddArraySpareDriveCannotMixDriveTypes},
        {"allowed", 0, kSpareDriveTypeDedicated, 3, kCanAddArraySpareDriveAllowed},
        {"allowed as auto-replace", 0, kSpareDriveTypeAutoReplace, 8, kCanAddArraySpareDriveAllowed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VK_CanAddArraySpareDrive(cda(), c.array, c.type, c.pd), c.reason) << c.what;
    }
    // A refused add sends nothing.
    host().clear_requests();
    EXPECT_EQ(VK_AddArraySpareDrive(cda(), 1, kSpareDriveTypeDedicated, 3), kAddArraySpareDriveFailedNoChanges);
    EXPECT_TRUE(Writes(kSetConfiguration).empty());

    // The array's data drives differ from the unassigned drive 3 in one respect each.
    struct Variant {
        const char* what;
        void (*change)(qvsim::FwDrive&);
        VK_BYTE reason;
    };
    const Variant variants[] = {
        {"data drives on the boot connector", [](qvsim::FwDrive& d) { d.misc_drive_flags = 0x8000; },
         kCanAddArraySpareDriveIncompatibleConnectors},
        {"data drives of 4096-byte blocks",
         [](qvsim::FwDrive& d) {
             d.block_size = 4096;
             d.total_blocks = (1u << 20) + kReserved / 8;
         },
         kCanAddArraySpareDriveIncompatibleBlockSize},
    };
    for (const Variant& v : variants) {
        StopController();
        FirmwareState other = TwoArrays();
        v.change(*other.find_drive(0));
        v.change(*other.find_drive(1));
        ASSERT_NO_FATAL_FAILURE(Start(std::move(other)));
        EXPECT_EQ(VK_CanAddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 3), v.reason) << v.what;
    }
}

TEST_F(LiveArraysHost, PredictiveActivationRewritesTheRAID0DrivesToo) {
    FirmwareState st = TwoArrays();
    st.parameters.drive_configuration_flags |= 0x80; // spares activate on predictive failure
    st.add_configured_drive(3, {2}, 1u << 19, 1u << 20);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_CanAddArraySpareDrive(cda(), 1, kSpareDriveTypeDedicated, 3), kCanAddArraySpareDriveAllowed);
    host().clear_requests();
    EXPECT_EQ(VK_AddArraySpareDrive(cda(), 1, kSpareDriveTypeDedicated, 3), kAddArraySpareDriveOK);
    EXPECT_EQ(Writes(kSetConfiguration), (std::vector<std::uint16_t>{2, 3}));
    EXPECT_EQ(Drive(2).spares, (std::vector<std::uint16_t>{3}));
    EXPECT_EQ(Drive(3).spares, (std::vector<std::uint16_t>{3}));
}

TEST_F(LiveArraysHost, FailedDrivesLeaveTheSpareMapsOnEveryRewrite) {
    for (const bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended maps" : "128-drive maps");
        FirmwareState st = TwoArrays();
        if (!extended) {
            st.set_page("raid", {0x02, 0x04, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
        }
        st.find_drive(3)->device_flags = 0x00; // failed
        FwLogicalDrive& a = *st.find_configured_drive(0);
        FwLogicalDrive& b = *st.find_configured_drive(1);
        a.spares = b.spares = {3, 4};
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_AddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 5), kAddArraySpareDriveOK);
        EXPECT_EQ(Drive(0).spares, (std::vector<std::uint16_t>{4, 5}));
        EXPECT_EQ(Drive(1).spares, (std::vector<std::uint16_t>{4, 5}));
        StopController();
    }
}

TEST_F(LiveArraysHost, DriveBeyond127NeedsExtendedMaps) {
    for (const bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended maps" : "128-drive maps");
        FirmwareState st = TwoArrays();
        if (!extended) {
            st.set_page("raid", {0x02, 0x04, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
        }
        AddDrive(st, 130, kDriveBlocks);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        host().clear_requests();
        const size_t before = Reinitialisations();
        EXPECT_EQ(VK_AddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 130),
                  extended ? kAddArraySpareDriveOK : kAddArraySpareDriveFailedNoChanges);
        EXPECT_EQ(Writes(kSetConfiguration).size(), extended ? 2u : 0u);
        EXPECT_EQ(Drive(0).spares, extended ? std::vector<std::uint16_t>{130} : std::vector<std::uint16_t>{});
        EXPECT_EQ(Reinitialisations() > before, extended);
        StopController();
    }
}

TEST_F(LiveArraysHost, AFailedWriteStopsOnlyBeforeTheFirstSuccess) {
    for (const unsigned nth : {1u, 2u}) {
        SCOPED_TRACE(nth);
        FirmwareState st = TwoArrays();
        FwFault f;
        f.bmic = kSetConfiguration;
        f.write = true;
        f.nth = nth;
        f.sense = qvsim::fixed_sense(0x05, 0x24, 0x00);
        st.faults.push_back(f);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        host().clear_requests();
        const size_t before = Reinitialisations();
        EXPECT_EQ(VK_AddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 3),
                  nth == 1 ? kAddArraySpareDriveFailedNoChanges : kAddArraySpareDriveFailedWithChanges);
        EXPECT_EQ(Writes(kSetConfiguration).size(), nth == 1 ? 1u : 2u);
        EXPECT_EQ(Drive(0).spares, nth == 1 ? std::vector<std::uint16_t>{} : std::vector<std::uint16_t>{3});
        EXPECT_TRUE(Drive(1).spares.empty());
        EXPECT_EQ(Reinitialisations() > before, nth != 1);
        StopController();
    }
}

// The extended spare map's offset comes from the controller; one that reaches past the record is
// never written through.
TEST_F(LiveArraysHost, SpareMapOutsideTheRecordIsNotWritten) {
    FirmwareState st = TwoArrays();
    st.find_configured_drive(0)->spare_map_offset = 640;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    host().clear_requests();
    EXPECT_EQ(VK_AddArraySpareDrive(cda(), 0, kSpareDriveTypeDedicated, 3), kAddArraySpareDriveFailedNoChanges);
    EXPECT_TRUE(Writes(kSetConfiguration).empty());
}

TEST_F(LiveArraysHost, ClearingOneDrivesMetadataKeepsItsLogicalDrives) {
    FirmwareState st = TwoArrays();
    st.set_page("drive", {0x08, 0x58, 0x03}); // self-encrypting drives supported
    st.find_drive(1)->misc_drive_flags = 0x80; // masked with invalid metadata
    st.find_drive(3)->misc_drive_flags = 0x80;
    st.find_drive(5)->feature_flags = 0x400;   // owned by another party
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 4), kCanClearPhysicalDriveCCMNoCCM);
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 5), kCanClearPhysicalDriveCCMSEDIsOtherwiseOwned);
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 300), kCanClearPhysicalDriveCCMInvalidTarget);
    EXPECT_FALSE(VK_ClearPhysicalDriveCCM(cda(), 4));
    ASSERT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 1), kCanClearPhysicalDriveCCMAllowed);
    host().clear_requests();
    EXPECT_TRUE(VK_ClearPhysicalDriveCCM(cda(), 1));
    EXPECT_EQ(Writes(kClearConfiguration).size(), 1u);
    EXPECT_EQ(state().find_drive(1)->misc_drive_flags, 0u);
    EXPECT_EQ(state().find_drive(3)->misc_drive_flags, 0x80u);
    EXPECT_EQ(state().logical_drives.size(), 3u);
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 1), kCanClearPhysicalDriveCCMNoCCM);
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 3), kCanClearPhysicalDriveCCMAllowed);
}

// Array 0 of drives 0 and 1 with RAID 1 logical drives at `offsets`, 2^20 blocks each; the
// controller can move logical drives.
FirmwareState WithOffsets(const std::vector<std::uint64_t>& offsets) {
    FirmwareState st;
    AddDrives(st, 2);
    st.set_page("miscellaneous", kMovesPage);
    for (size_t i = 0; i < offsets.size(); ++i) {
        st.add_configured_drive(std::uint16_t(i), {0, 1}, 1u << 20, offsets[i]).fault_tolerance = 2;
    }
    return st;
}

TEST_F(LiveArraysHost, ClosingGapsMovesEachDriveDownOnce) {
    ASSERT_NO_FATAL_FAILURE(Start(WithOffsets({0, 3u << 20, 5u << 20})));
    ASSERT_EQ(VK_CanCloseArrayGaps(cda(), 0), kCanCloseArrayGapsAllowed);
    host().clear_requests();
    EXPECT_EQ(VK_CloseArrayGaps(cda(), 0), kCloseArrayGapsSuccessButIncomplete);
    EXPECT_EQ(Writes(kChangeConfiguration), (std::vector<std::uint16_t>{1, 2}));
    EXPECT_EQ(Drive(0).offset, 0u);
    EXPECT_EQ(Drive(1).offset, 1u << 20);
    EXPECT_EQ(Drive(2).offset, 2u << 20);
    // Re-read after the re-initialisation: nothing left to close.
    EXPECT_EQ(VK_CanCloseArrayGaps(cda(), 0), kCanCloseArrayGapsArrayDoesNotHaveGaps);
    EXPECT_EQ(VK_CloseArrayGaps(cda(), 0), kCloseArrayGapsFailedNoChanges);
}

TEST_F(LiveArraysHost, ClosingGapsStopsAtTheFirstRefusedMove) {
    FirmwareState st = WithOffsets({0, 3u << 20, 5u << 20});
    FwFault f;
    f.bmic = kChangeConfiguration;
    f.write = true;
    f.sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    st.faults.push_back(f);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    host().clear_requests();
    const size_t before = Reinitialisations();
    // The drive at offset 0 counts as done, so the refusal of the second leaves a partial result.
    EXPECT_EQ(VK_CloseArrayGaps(cda(), 0), kCloseArrayGapsFailedWithChanges);
    EXPECT_EQ(Writes(kChangeConfiguration), (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(Drive(1).offset, 3u << 20);
    EXPECT_EQ(Drive(2).offset, 5u << 20);
    EXPECT_GT(Reinitialisations(), before);
}

TEST_F(LiveArraysHost, ClosingGapsCheckRefusals) {
    FirmwareState st = WithOffsets({0, 1u << 20});
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_CanCloseArrayGaps(cda(), 0), kCanCloseArrayGapsArrayDoesNotHaveGaps);
    EXPECT_EQ(VK_CanCloseArrayGaps(cda(), 64), kCanCloseArrayGapsInvalidArray);
    StopController();
    FirmwareState no_move = WithOffsets({0, 3u << 20});
    no_move.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00});
    ASSERT_NO_FATAL_FAILURE(Start(std::move(no_move)));
    EXPECT_EQ(VK_CanCloseArrayGaps(cda(), 0), kCanCloseArrayGapsNotSupported);
    host().clear_requests();
    EXPECT_EQ(VK_CloseArrayGaps(cda(), 0), kCloseArrayGapsFailedNoChanges);
    EXPECT_TRUE(Writes(kChangeConfiguration).empty());
}

} // namespace
