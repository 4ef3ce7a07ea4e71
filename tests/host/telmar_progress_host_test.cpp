// Operation progress on a simulated controller: the cached getters from the copies the data area
// keeps, the live getters over fresh status, configuration and surface replies, the two
// parity-initialization decodes side by side, and the replies that fail or point outside themselves.
#include <string>
#include <vector>

#include "pavl_platform_private.h"
#include "ptelm.h"
#include "ptelm_properties.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;

class ProgressHost : public telmar_host::ControllerHost {
protected:
    // Logical drive 0 over drives 0-3: RAID 5 unless `fault_tolerance` says otherwise.
    static FirmwareState OneDrive(std::uint16_t fault_tolerance = 3) {
        FirmwareState state;
        for (std::uint16_t d = 0; d < 4; ++d) {
            state.add_drive(d);
        }
        auto& ld = state.add_configured_drive(0, {0, 1, 2, 3}, 100);
        ld.fault_tolerance = fault_tolerance;
        return state;
    }

    static FwLogicalDrive& Drive(FirmwareState& state) { return state.logical_drives.back(); }

    void Start(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
    }

    void Restart(FirmwareState state) {
        StopController();
        ASSERT_NO_FATAL_FAILURE(Start(std::move(state)));
    }
};

TEST_F(ProgressHost, BlockOperationsByUnitStatusCachedAndLive) {
    using Getter = VK_BYTE (*)(PCDA, VK_WORD);
    struct Case {
        const char* name;
        std::uint8_t unit;
        std::uint64_t blocks_left;
        Getter cached, live;
        VK_BYTE expected;
    };
    // Rebuild counts the blocks of one drive (100), the others the whole volume (300).
    const Case cases[] = {
        {"rebuild waiting", 4, 0, VK_GetLogicalDriveRebuildProgress, VK_GetLogicalDriveRebuildProgressLive, 0},
        {"rebuilding", 5, 25, VK_GetLogicalDriveRebuildProgress, VK_GetLogicalDriveRebuildProgressLive, 75},
        {"no rebuild", 0, 25, VK_GetLogicalDriveRebuildProgress, VK_GetLogicalDriveRebuildProgressLive, 101},
        {"expansion queued", 12, 0, VK_GetLogicalDriveTransformationProgress,
         VK_GetLogicalDriveTransformationProgressLive, 0},
        {"expanding", 10, 75, VK_GetLogicalDriveTransformationProgress,
         VK_GetLogicalDriveTransformationProgressLive, 75},
        {"rekey requested", 26, 0, VK_GetLogicalDriveRekeyProgress, VK_GetLogicalDriveRekeyProgressLive, 0},
        {"encode requested", 25, 0, VK_GetLogicalDriveRekeyProgress, VK_GetLogicalDriveRekeyProgressLive, 0},
        {"rekeying", 23, 150, VK_GetLogicalDriveRekeyProgress, VK_GetLogicalDriveRekeyProgressLive, 50},
        {"encoding", 22, 300, VK_GetLogicalDriveRekeyProgress, VK_GetLogicalDriveRekeyProgressLive, 0},
        {"RPI queued", 19, 0, nullptr, VK_GetLogicalDriveRPIProgressLive, 0},
        {"RPI running", 18, 10, nullptr, VK_GetLogicalDriveRPIProgressLive, 90},
        {"more left than the volume", 10, 1000, VK_GetLogicalDriveTransformationProgress,
         VK_GetLogicalDriveTransformationProgressLive, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState state = OneDrive();
        Drive(state).unit_status = k.unit;
        Drive(state).blocks_left = k.blocks_left;
        ASSERT_NO_FATAL_FAILURE(Restart(state));
        const VK_UINT64 before = _VK_curr_alloc;
        if (k.cached != nullptr) {
            EXPECT_EQ(k.cached(cda(), 0), k.expected);
        }
        EXPECT_EQ(k.live(cda(), 0), k.expected);
        EXPECT_EQ(_VK_curr_alloc, before); // the live buffers are the call's own and freed
        // Another number than the drive's, and one past the controller's maximum.
        EXPECT_EQ(k.live(cda(), 1), 101);
        EXPECT_EQ(k.live(cda(), 64), 101);
    }
}

TEST_F(ProgressHost, BlocksLeftTakeTheWideCountOnlyWhenTheNarrowOneIsFull) {
    FirmwareState state = OneDrive();
    Drive(state).unit_status = 5;
    Drive(state).blocks_per_drive = 0x200000000ull;
    Drive(state).blocks_left = 0x100000000ull; // the narrow field reads 0xFFFFFFFF
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetLogicalDriveBlocksLeftToRecover(cda(), 0), 0x100000000ull);
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgress(cda(), 0), 50);
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgressLive(cda(), 0), 50);
    EXPECT_EQ(VK_GetLogicalDriveBlocksLeftToRecover(cda(), 9), 0u);
    EXPECT_EQ(_VK_GetLogicalDriveBlocksLeftToRecover(0xFFFFFFFF, 0), 0xFFFFFFFFull);
}

// RAID 10 over four drives, two of them replacements, 40 of 100 blocks left on the current one: the
// second replacement has not started, so 60 of 200 are done.
TEST_F(ProgressHost, LiveRebuildCountsReplacementsNotYetStarted) {
    FirmwareState state = OneDrive(2);
    Drive(state).unit_status = 5;
    Drive(state).blocks_left = 40;
    Drive(state).replacements = {1, 3};
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgressLive(cda(), 0), 30);
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgress(cda(), 0), 60);

    // A map that would end past the 3,265-byte reply is absent: one drive's progress.
    Drive(state).replacement_map_offset = 3265 - 47;
    ASSERT_NO_FATAL_FAILURE(Restart(state));
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgressLive(cda(), 0), 60);
    Drive(state).replacement_map_offset = 3265 - 48;
    ASSERT_NO_FATAL_FAILURE(Restart(state));
    EXPECT_EQ(VK_GetLogicalDriveRebuildProgressLive(cda(), 0), 30);
}

TEST_F(ProgressHost, FailedLiveReadsGiveInvalid) {
    struct Case {
        const char* name;
        std::uint8_t opcode;
    };
    for (const Case& k : {Case{"status", 0x12}, Case{"configuration", 0x50}}) {
        SCOPED_TRACE(k.name);
        FirmwareState state = OneDrive();
        Drive(state).unit_status = 5;
        Drive(state).blocks_left = 25;
        qvsim::FwFault fault;
        fault.bmic = k.opcode;
        fault.nth = 2; // the first read builds the cached copy
        fault.count = 0;
        fault.err = 5;
        state.faults.push_back(fault);
        ASSERT_NO_FATAL_FAILURE(Restart(state));
        EXPECT_EQ(VK_GetLogicalDriveRebuildProgress(cda(), 0), 75);
        EXPECT_EQ(VK_GetLogicalDriveRebuildProgressLive(cda(), 0), 101);
        EXPECT_EQ(VK_GetLogicalDriveRPIProgressLive(cda(), 0), 101);
    }
}

// The cached decode reads the low byte with 0x04 as its marker; the live one the whole word with
// 0x0200 as its marker. Both read the percent table (42) for a scan in progress.
TEST_F(ProgressHost, ParityInitializationCachedAndLiveDecodesDiffer) {
    struct Case {
        std::uint16_t fault_tolerance, word;
        std::uint8_t unit;
        VK_BYTE cached, live;
    };
    const Case cases[] = {
        {3, 0x0005, 0, 100, 100}, {3, 0x0004, 0, 0, 0},     {3, 0x0200, 0, 42, 42}, {3, 0x0001, 0, 101, 100},
        {3, 0x0002, 0, 102, 102}, {0, 0x0005, 0, 101, 101}, // RAID 0 has no parity
        {3, 0x0005, 1, 101, 101},                           // failed
        {3, 0x0005, 3, 100, 101},                           // live answers only for unit status 0
        {3, 0x0005, 19, 0, 0},                              // RPI queued
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::Message() << "mode " << k.fault_tolerance << " word " << k.word << " unit "
                                          << int(k.unit));
        FirmwareState state = OneDrive(k.fault_tolerance);
        Drive(state).unit_status = k.unit;
        state.surface.drives.resize(1);
        state.surface.drives[0].analysis_status = k.word;
        state.surface.drives[0].init_percent = 42;
        ASSERT_NO_FATAL_FAILURE(Restart(state));
        const VK_UINT64 before = _VK_curr_alloc;
        EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgress(cda(), 0), k.cached);
        EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgressLive(cda(), 0), k.live);
        EXPECT_EQ(_VK_curr_alloc, before);
    }
}

TEST_F(ProgressHost, SurfaceTablesOutsideTheReplyGiveInvalid) {
    FirmwareState state = OneDrive();
    state.surface.drives.resize(1);
    state.surface.drives[0].analysis_status = 0x0005;
    // The analysis table's offset at the end of the reply.
    state.patches.push_back({0x70, std::nullopt, 1432, {0x00, 0x1B, 0x00, 0x00}});
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgress(cda(), 0), 101);
    EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgressLive(cda(), 0), 101);

    // A live surface read that fails.
    state.patches.clear();
    qvsim::FwFault fault;
    fault.bmic = 0x70;
    fault.nth = 2;
    fault.count = 0;
    fault.err = 5;
    state.faults.push_back(fault);
    ASSERT_NO_FATAL_FAILURE(Restart(state));
    EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgress(cda(), 0), 100);
    EXPECT_EQ(VK_GetLogicalDriveParityInitializationProgressLive(cda(), 0), 101);
}

} // namespace
