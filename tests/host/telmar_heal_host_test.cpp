// Healing an array against a simulated controller: failed data drives replaced by listed drives,
// a degraded logical drive changed (0x54) and rebuilt, a failed one created again (0x51) with its
// label back (0x57); the checks in their order, and partial heals.
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

// Array 0: RAID 1 logical drive 0 on drives 0-2 (members 0 and 1 mirrored with 2), drive 1 failed. Array 1:
// RAID 0 logical drive 1 on drive 4, failed with it, labelled. Drives 3, 5 and 6 unassigned; drive 6 too
// small; drive 7 a spare of array 0.
FirmwareState Degraded() {
    FirmwareState st;
    AddDrives(st, 8);
    st.find_drive(6)->total_blocks = (1u << 19) + kReserved;
    st.find_drive(1)->device_flags = 0x00;
    st.find_drive(4)->device_flags = 0x00;
    auto& r5 = st.add_configured_drive(0, {0, 1}, 1u << 20);
    r5.fault_tolerance = 2;
    r5.unit_status = 3;
    r5.failed = {1};
    r5.spares = {7};
    auto& r0 = st.add_configured_drive(1, {4}, 1u << 20);
    r0.unit_status = 1;
    r0.failed = {4};
    r0.label = "Failed R0";
    return st;
}

class HealHost : public LiveConfigHost {
protected:
    const FwLogicalDrive& Drive(std::uint16_t ld) { return *state().find_configured_drive(ld); }
    std::vector<std::uint8_t> WriteOrder() {
        std::vector<std::uint8_t> out;
        for (const qvsim::BmicCdb& b : Received()) {
            if (b.write) {
                out.push_back(b.opcode);
            }
        }
        return out;
    }
};

TEST_F(HealHost, DegradedDriveRebuildsOntoTheReplacement) {
    ASSERT_NO_FATAL_FAILURE(Start(Degraded()));
    VK_WORD list[] = {3};
    ASSERT_EQ(VK_CanHealArray(cda(), 0, list, 1), kCanHealArrayAllowed);
    host().clear_requests();
    EXPECT_EQ(VK_HealArray(cda(), 0, list, 1), kHealArraySuccess);
    EXPECT_EQ(Writes(kChangeConfiguration), (std::vector<std::uint16_t>{0}));
    EXPECT_TRUE(Writes(kSetConfiguration).empty());
    EXPECT_EQ(Drive(0).members, (std::vector<std::uint16_t>{0, 3}));
    EXPECT_EQ(Drive(0).spares, (std::vector<std::uint16_t>{7}));
    // Read back after the re-initialisation: the new member is rebuilding.
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 3), kPhysicalDriveUsageData);
    EXPECT_EQ(LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda(), 0)),
              kLogicalDriveUnitStatus5Recovering);
    EXPECT_EQ(VK_CanHealArray(cda(), 0, list, 1), kCanHealArrayIsTransforming);
}

TEST_F(HealHost, FailedDriveIsCreatedAgainWithItsLabel) {
    ASSERT_NO_FATAL_FAILURE(Start(Degraded()));
    VK_WORD list[] = {5};
    ASSERT_EQ(VK_CanHealArray(cda(), 1, list, 1), kCanHealArrayAllowed);
    host().clear_requests();
    EXPECT_EQ(VK_HealArray(cda(), 1, list, 1), kHealArraySuccess);
    EXPECT_EQ(Writes(kSetConfiguration), (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(Writes(kLabel), (std::vector<std::uint16_t>{1}));
    EXPECT_TRUE(Writes(kChangeConfiguration).empty());
    EXPECT_EQ(Drive(1).members, (std::vector<std::uint16_t>{5}));
    EXPECT_EQ(Drive(1).label, "Failed R0");
    EXPECT_EQ(LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda(), 1)), kLogicalDriveUnitStatusOK);
    char label[65] = {};
    EXPECT_STREQ(VK_GetLogicalDriveVolumeLabel(cda(), 1, label, sizeof(label)), "Failed R0");
}

TEST_F(HealHost, CheckAnswersInOrder) {
    FirmwareState st = Degraded();
    auto& second = st.add_configured_drive(2, {0, 1}, 1u << 20, 1u << 21);
    second.fault_tolerance = 2;
    second.unit_status = 3;
    second.failed = {1};
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    struct Case {
        const char* what;
        VK_WORD array;
        std::vector<VK_WORD> list;
        VK_BYTE reason;
    };
    const Case cases[] = {
        {"no such array", 64, {3}, kCanHealArrayInvalidArray},
        {"an unused array number", 5, {3}, kCanHealArrayNoFailedDrives},
        {"a drive twice", 0, {3, 3}, kCanHealArrayDuplicateDrivesInList},
        {"too few", 0, {}, kCanHealArrayNotEnoughReplacementDrives},
        {"too many", 0, {3, 5}, kCanHealArrayTooManyReplacementDrives},
        {"a spare", 0, {7}, kCanHealArrayDriveNotUnassigned},
        {"a data drive of another array", 0, {4}, kCanHealArrayDriveNotUnassigned},
        {"too small", 0, {6}, kCanHealArrayDriveTooSmall},
        {"beyond the controller", 0, {400}, kCanHealArrayDriveInvalid},
        {"allowed", 0, {3}, kCanHealArrayAllowed},
    };
    for (const Case& c : cases) {
        std::vector<VK_WORD> list = c.list;
        EXPECT_EQ(VK_CanHealArray(cda(), c.array, list.data(), list.size()), c.reason) << c.what;
    }
    // A refused heal writes nothing.
    host().clear_requests();
    VK_WORD twice[] = {3, 3};
    EXPECT_EQ(VK_HealArray(cda(), 0, twice, 2), kHealArrayFailedNoChanges);
    EXPECT_TRUE(WriteOrder().empty());
}

TEST_F(HealHost, NoFailedDrivesWritesNothing) {
    FirmwareState st = Degraded();
    st.add_configured_drive(2, {5}, 1u << 20);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    VK_WORD list[] = {3};
    EXPECT_EQ(VK_CanHealArray(cda(), 2, list, 1), kCanHealArrayNoFailedDrives);
    host().clear_requests();
    EXPECT_EQ(VK_HealArray(cda(), 2, list, 1), kHealArrayFailedNoChanges);
    EXPECT_TRUE(WriteOrder().empty());
}

TEST_F(HealHost, ExcludedDriveCannotReplace) {
    FirmwareState st = Degraded();
    st.find_drive(5)->block_size = 520;
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    EXPECT_EQ(VK_CanHealArrayWithPhysicalDrive(cda(), 0, 5), kCanHealArrayDriveNotConfigurable);
    EXPECT_EQ(VK_CanHealArrayWithPhysicalDrive(cda(), 0, 3), kCanHealArrayAllowed);
}

TEST_F(HealHost, PartialHeals) {
    // Two degraded logical drives on array 0; the second's change refused: 1, and re-read.
    FirmwareState st = Degraded();
    auto& second = st.add_configured_drive(2, {0, 1}, 1u << 20, 1u << 21);
    second.fault_tolerance = 2;
    second.unit_status = 3;
    second.failed = {1};
    FwFault f;
    f.bmic = kChangeConfiguration;
    f.write = true;
    f.nth = 2;
    f.sense = qvsim::fixed_sense(0x05, 0x24, 0x00);
    st.faults.push_back(f);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    VK_WORD list[] = {3};
    host().clear_requests();
    EXPECT_EQ(VK_HealArray(cda(), 0, list, 1), kHealArrayFailedWithChanges);
    EXPECT_EQ(Writes(kChangeConfiguration), (std::vector<std::uint16_t>{0, 2}));
    EXPECT_EQ(Drive(0).members, (std::vector<std::uint16_t>{0, 3}));
    EXPECT_EQ(Drive(2).members, (std::vector<std::uint16_t>{0, 1}));
}

TEST_F(HealHost, DriveBeyond127WithoutExtendedMapsFailsEveryDrive) {
    FirmwareState st = Degraded();
    st.set_page("raid", {0x02, 0x04, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
    AddDrive(st, 130, kDriveBlocks);
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    VK_WORD list[] = {130};
    ASSERT_EQ(VK_CanHealArray(cda(), 0, list, 1), kCanHealArrayAllowed);
    host().clear_requests();
    EXPECT_EQ(VK_HealArray(cda(), 0, list, 1), kHealArrayFailedNoChanges);
    EXPECT_TRUE(WriteOrder().empty());
    // Drive 3 fits the 128-drive map.
    VK_WORD fits[] = {3};
    EXPECT_EQ(VK_HealArray(cda(), 0, fits, 1), kHealArraySuccess);
    EXPECT_EQ(Drive(0).members, (std::vector<std::uint16_t>{0, 3}));
}

} // namespace

namespace {

// An encrypting controller (both passwords set, every role may rekey) whose plaintext RAID 0 on
// drive 4 has failed; drive 5 unassigned.
FirmwareState EncryptingWithFailedPlaintext() {
    FirmwareState st;
    st.set_page("encryption", {0x01});
    st.identify.encryption_status = 0x800 | 0x1000 | 0x20000 | 0x4 | 0x1;
    st.updates.passwords = {"Officer#1", "User#2pass"};
    st.encryption.master_key = "LocalMasterKey-01";
    st.encryption.roles = {{0, "crypto", 0xFFFFFF}, {1, "user", 0xFFFFFF}};
    for (std::uint16_t pd = 4; pd < 6; ++pd) {
        AddDrive(st, pd, kDriveBlocks);
    }
    st.find_drive(4)->device_flags = 0x00;
    auto& r0 = st.add_configured_drive(1, {4}, 1u << 20);
    r0.unit_status = 1;
    r0.failed = {4};
    r0.label = "Plain R0";
    return st;
}

TEST_F(HealHost, FailedPlaintextDriveOnAnEncryptingControllerNeedsALogin) {
    struct Case {
        const char* what;
        bool user_without_rekey;
        VK_BYTE user;
        const char* password;
        VK_BYTE result;
    };
    const Case cases[] = {
        {"no such role", false, 2, "Officer#1", kHealArrayInvalidUser},
        {"a user that may not rekey", true, 1, "User#2pass", kHealArrayPermissionDenied},
        {"wrong password", false, 0, "Officer#2", kHealArrayLoginFailed},
        {"no password", false, 0, nullptr, kHealArrayLoginFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwareState st = EncryptingWithFailedPlaintext();
        if (c.user_without_rekey) {
            st.encryption.roles[1].capabilities = 0;
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        VK_WORD list[] = {5};
        ASSERT_EQ(VK_CanHealArray(cda(), 0, list, 1), kCanHealArrayLoginNeeded);
        host().clear_requests();
        EXPECT_EQ(VK_HealArrayWithLogin(cda(), 0, list, 1, c.user, c.password), c.result);
        EXPECT_TRUE(Writes(kSetConfiguration).empty());
        StopController();
    }
    // With the officer's login: created again, labelled, then rekeyed to plaintext.
    ASSERT_NO_FATAL_FAILURE(Start(EncryptingWithFailedPlaintext()));
    VK_WORD list[] = {5};
    host().clear_requests();
    EXPECT_EQ(VK_HealArrayWithLogin(cda(), 0, list, 1, 0, "Officer#1"), kHealArraySuccess);
    // The login's own check comes first; from the recreation on: 0x51, 0x57, then the rekey.
    std::vector<std::uint8_t> order;
    for (std::uint8_t op : WriteOrder()) {
        if (op == kSetConfiguration || !order.empty()) {
            order.push_back(op);
        }
    }
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[0], kSetConfiguration);
    EXPECT_EQ(order[1], kLabel);
    EXPECT_EQ(order[2], 0x1E);
    EXPECT_EQ(Drive(1).label, "Plain R0");
    EXPECT_EQ(Drive(1).members, (std::vector<std::uint16_t>{5}));
}

} // namespace
