// Split-mirror backups against a simulated controller: a live mirror split into a primary and a
// hidden, time-stamped backup (0x5E, 0x51, 0x57), the backup activated as a data array, and the two
// joined again; each checked by what the controller received and what the re-read model says.
#include <cstdint>
#include <iterator>
#include <vector>

#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;
using qvsim::FwFault;

constexpr std::uint8_t kJoinSplit = 0x5E;

constexpr std::uint8_t kRAIDPageWithSplitMirrors[] = {0xC2, 0x0C, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00};

// Drives 0-9. Logical drive 0: RAID 1 on drives 0 and 1 with its partner map; drives 2-9 unassigned.
FirmwareState Mirror() {
    FirmwareState st;
    st.set_page("raid", {std::begin(kRAIDPageWithSplitMirrors), std::end(kRAIDPageWithSplitMirrors)});
    for (std::uint16_t pd = 0; pd < 10; ++pd) {
        st.add_drive(pd, 2);
    }
    auto& ld = st.add_configured_drive(0, {0, 1}, 1u << 20);
    ld.fault_tolerance = 2;
    ld.signature = 0xA0A0A0A0;
    ld.label = "Mirror data";
    st.mirror_pairs.push_back({0, {{0, 1}, {1, 0}}});
    return st;
}

// Logical drive 3: a three-way mirror of two groups on drives 4-9 (groups 0 and 1).
FirmwareState ThreeWay(std::uint16_t second_group) {
    FirmwareState st;
    st.set_page("raid", {std::begin(kRAIDPageWithSplitMirrors), std::end(kRAIDPageWithSplitMirrors)});
    for (std::uint16_t pd = 0; pd < 10; ++pd) {
        st.add_drive(pd, 2);
    }
    auto& ld = st.add_configured_drive(3, {4, 5, 6, 7, 8, 9}, 1u << 18);
    ld.fault_tolerance = 6;
    ld.signature = 0xC3C3C3C3;
    st.mirror_pairs.push_back(
        {3, {{4, 0}, {5, 0}, {6, 0}, {7, second_group}, {8, second_group}, {9, second_group}}});
    return st;
}

class SplitMirrorHost : public LiveConfigHost {
protected:
    const FwLogicalDrive* Drive(std::uint16_t ld) { return state().find_configured_drive(ld); }
};

TEST_F(SplitMirrorHost, SplitThenActivateMakesTwoDataArrays) {
    ASSERT_NO_FATAL_FAILURE(Start(Mirror()));
    ASSERT_EQ(VK_CanCreateArraySplitMirrorBackup(cda(), 0), kCanCreateArraySplitMirrorBackupAllowed);
    host().clear_requests();
    const VK_WORD backup_array = VK_CreateArraySplitMirrorBackup(cda(), 0);
    ASSERT_EQ(backup_array, 1);
    EXPECT_EQ(Writes(kJoinSplit), (std::vector<std::uint16_t>{0}));
    EXPECT_EQ(Writes(kSetConfiguration), (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(Writes(kLabel), (std::vector<std::uint16_t>{1}));
    ASSERT_NE(Drive(1), nullptr);
    EXPECT_EQ(Drive(0)->members, (std::vector<std::uint16_t>{0}));
    EXPECT_EQ(Drive(1)->members, (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(Drive(0)->fault_tolerance, 0);
    EXPECT_EQ(Drive(1)->label, "Logical Drive 2");
    EXPECT_EQ(Drive(0)->label, "Mirror data");
    EXPECT_EQ(Drive(1)->property & 0x02, 0x02);
    EXPECT_EQ(Drive(1)->bios_disable_flag & 0x02, 0x02);
    EXPECT_NE(Drive(1)->backup_timestamp, 0u);
    EXPECT_EQ(Drive(0)->other_signature, Drive(1)->signature);
    EXPECT_EQ(Drive(1)->other_signature, Drive(0)->signature);
    // Read back through the re-initialised model.
    EXPECT_EQ(VK_GetArrayType(cda(), 0), kArrayTypeSplitMirrorPrimary);
    EXPECT_EQ(VK_GetArrayType(cda(), 1), kArrayTypeSplitMirrorBackup);
    EXPECT_EQ(VK_CanCreateArraySplitMirrorBackup(cda(), 0), kCanCreateArraySplitMirrorBackupNotDataArray);
    EXPECT_EQ(VK_CanActivateArraySplitMirrorBackup(cda(), 0),
              kCanActivateArraySplitMirrorBackupNotBackupArrayOrOrphan);
    EXPECT_EQ(VK_CanJoinArraySplitMirror(cda(), 1), kCanJoinArraySplitMirrorArrayIsInvalidType);

    ASSERT_EQ(VK_CanActivateArraySplitMirrorBackup(cda(), 1), kCanActivateArraySplitMirrorBackupAllowed);
    host().clear_requests();
    EXPECT_TRUE(VK_ActivateArraySplitMirrorBackup(cda(), 1));
    EXPECT_EQ(Writes(kSetConfiguration), (std::vector<std::uint16_t>{1}));
    EXPECT_EQ(Drive(1)->property & 0x02, 0);
    EXPECT_EQ(Drive(1)->bios_disable_flag & 0x02, 0);
    EXPECT_EQ(Drive(1)->backup_timestamp, 0u);
    EXPECT_EQ(Drive(1)->other_signature, 0u);
    EXPECT_EQ(VK_GetArrayType(cda(), 1), kArrayTypeData);
}

TEST_F(SplitMirrorHost, JoinKeepsTheChosenSide) {
    struct Case {
        const char* what;
        VK_WORD action;
        std::uint16_t kept_ld, gone_ld;
    };
    const Case cases[] = {
        {"re-mirror keeps the primary", kJoinArraySplitMirrorRemirror, 0, 1},
        {"roll back keeps the backup", kJoinArraySplitMirrorRollback, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Start(Mirror()));
        ASSERT_EQ(VK_CreateArraySplitMirrorBackup(cda(), 0), 1);
        ASSERT_EQ(VK_CanJoinArraySplitMirror(cda(), 0), kCanJoinArraySplitMirrorAllowed);
        host().clear_requests();
        EXPECT_TRUE(VK_JoinArraySplitMirror(cda(), 0, c.action));
        EXPECT_EQ(Writes(kJoinSplit), (std::vector<std::uint16_t>{c.kept_ld}));
        EXPECT_EQ(Drive(c.gone_ld), nullptr);
        ASSERT_NE(Drive(c.kept_ld), nullptr);
        EXPECT_EQ(Drive(c.kept_ld)->members, (std::vector<std::uint16_t>{0, 1}));
        EXPECT_EQ(Drive(c.kept_ld)->property & 0x02, 0);
        EXPECT_EQ(Drive(c.kept_ld)->bios_disable_flag & 0x02, 0);
        EXPECT_EQ(VK_GetArrayType(cda(), 0), kArrayTypeData);
        EXPECT_EQ(VK_EnumerateAllArrays(cda(), 0), kInvalidArrayNumber);
        StopController();
    }
}

TEST_F(SplitMirrorHost, ThreeWayMirrorKeepsTwoOfEachGroup) {
    struct Case {
        const char* what;
        std::uint16_t second_group;
        std::vector<std::uint16_t> kept;
    };
    // With 384 drives, groups number below 128; a group of 200 is beyond the limit and is not kept.
    const Case cases[] = {
        {"two groups", 1, {4, 5, 7, 8}},
        {"second group beyond the limit", 200, {4, 5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(Start(ThreeWay(c.second_group)));
        ASSERT_EQ(VK_CanCreateArraySplitMirrorBackup(cda(), 0), kCanCreateArraySplitMirrorBackupAllowed);
        host().clear_requests();
        const VK_WORD backup = VK_CreateArraySplitMirrorBackup(cda(), 0);
        EXPECT_EQ(Writes(kJoinSplit), (std::vector<std::uint16_t>{3}));
        // The backup takes the lowest free number, 0, and with it the first array.
        EXPECT_EQ(backup, 0);
        ASSERT_NE(Drive(0), nullptr);
        EXPECT_EQ(Drive(3)->members, c.kept);
        EXPECT_EQ(Drive(3)->fault_tolerance, 2);
        if (c.second_group == 1) { // uneven halves are no siblings: the model reads an orphan then
            EXPECT_EQ(VK_GetArrayType(cda(), 0), kArrayTypeSplitMirrorBackup);
            EXPECT_EQ(VK_GetArrayType(cda(), 1), kArrayTypeSplitMirrorPrimary);
        }
        StopController();
    }
}

TEST_F(SplitMirrorHost, ASplitStoppedPartWayAnswers0xFFFF) {
    struct Case {
        const char* what;
        std::uint8_t bmic;
        bool backup_made;
    };
    const Case cases[] = {
        {"split refused", kJoinSplit, false},
        {"backup fields refused", kSetConfiguration, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwareState st = Mirror();
        FwFault f;
        f.bmic = c.bmic;
        f.write = true;
        f.sense = qvsim::fixed_sense(0x05, 0x24, 0x00);
        st.faults.push_back(f);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_CreateArraySplitMirrorBackup(cda(), 0), kInvalidArrayNumber);
        EXPECT_EQ(Drive(1) != nullptr, c.backup_made);
        StopController();
    }
    // A pair list the reply does not hold: nothing is split.
    FirmwareState st = Mirror();
    st.mirror_pairs.clear();
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    host().clear_requests();
    EXPECT_EQ(VK_CreateArraySplitMirrorBackup(cda(), 0), kInvalidArrayNumber);
    EXPECT_TRUE(Writes(kJoinSplit).empty());
}

TEST_F(SplitMirrorHost, CreateCheckRefusals) {
    struct Variant {
        const char* what;
        void (*change)(FirmwareState&);
        VK_BYTE reason;
    };
    const Variant variants[] = {
        {"RAID 0", [](FirmwareState& st) { st.find_configured_drive(0)->fault_tolerance = 0; },
         kCanCreateArraySplitMirrorBackupUnsupportedRAID},
        {"degraded",
         [](FirmwareState& st) {
             auto& ld = *st.find_configured_drive(0);
             ld.unit_status = 3;
             ld.failed = {1};
             st.find_drive(1)->device_flags = 0x00;
         },
         kCanCreateArraySplitMirrorBackupArrayNotOK},
        {"volatile key", [](FirmwareState& st) { st.find_configured_drive(0)->encryption_flags = 0x01; },
         kCanCreateArraySplitMirrorBackupAllowed},
    };
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.what);
        FirmwareState st = Mirror();
        v.change(st);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_CanCreateArraySplitMirrorBackup(cda(), 0), v.reason);
        if (v.reason != kCanCreateArraySplitMirrorBackupAllowed) {
            host().clear_requests();
            EXPECT_EQ(VK_CreateArraySplitMirrorBackup(cda(), 0), kInvalidArrayNumber);
            EXPECT_TRUE(Writes(kJoinSplit).empty());
        }
        StopController();
    }
}

TEST_F(SplitMirrorHost, APartnerOfAnotherStripSizeIsNoPartner) {
    ASSERT_NO_FATAL_FAILURE(Start(Mirror()));
    ASSERT_EQ(VK_CreateArraySplitMirrorBackup(cda(), 0), 1);
    ASSERT_EQ(VK_CanJoinArraySplitMirror(cda(), 0), kCanJoinArraySplitMirrorAllowed);
    // The model applies the same sibling rule, so the primary without a partner is read as a data
    // array again, and the join is refused before the partner search.
    state().find_configured_drive(1)->strip = 256;
    VK_ReInitializeCDA(cda());
    EXPECT_EQ(VK_CanJoinArraySplitMirror(cda(), 0), kCanJoinArraySplitMirrorArrayIsInvalidType);
    host().clear_requests();
    EXPECT_FALSE(VK_JoinArraySplitMirror(cda(), 0, kJoinArraySplitMirrorRollback));
    EXPECT_TRUE(Writes(kJoinSplit).empty());
}

} // namespace
