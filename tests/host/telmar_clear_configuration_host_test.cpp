// Clearing the configuration of a simulated controller: the permission bits for each action asked
// for, and the actions in their order, each reported as performed only when its commands succeeded.
#include <cerrno>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwFault;
using qvsim::FwWriteRecord;

constexpr VK_DWORD kEveryAction = kClearConfigurationRemoveLogicalDrives |
                                  kClearConfigurationRemoveEncryption | kClearConfigurationClearNVRAM |
                                  kClearConfigurationClearPhysicalDriveCCM |
                                  kClearConfigurationRemoveSEDEncryption;

// Drives 0-7; logical drive 0 on drives 0 and 1 (RAID 1), logical drive 1 on drives 2 and 3.
FirmwareState TwoDrives() {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 8; ++pd) {
        st.add_drive(pd);
    }
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(1, {2, 3}, 1u << 20).fault_tolerance = 2;
    return st;
}

// The controller can clear its NVRAM (bFlags3 of the miscellaneous page, its fourth byte, 0x01).
void WithNVRAMClear(FirmwareState& st) {
    st.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x07, 0x00, 0x00, 0x00, 0x01, 0x00});
}

// Managed SED enabled; logical drive 1 SED-enabled.
void WithManagedSED(FirmwareState& st) {
    st.set_page("managed_sed", {0x07});
    st.identify.managed_sed_mode = 0x3;
    st.find_configured_drive(1)->managed_sed_flags = 0x01;
}

class ClearConfigurationHost : public telmar_host::ControllerHost {
public:
    void Start(FirmwareState st) {
        if (initialised_) {
            StopController();
        }
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
        state().updates.writes.clear();
    }
    FirmwareState& state() { return fw_->fw_state(); }

    // The 0x6E writes taken: action bits and drive specifier.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Clears() {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const FwWriteRecord& w : state().updates.writes) {
            if (w.opcode == 0x6E && w.data.size() >= 8) {
                const auto le = [&](size_t at) {
                    return std::uint32_t(w.data[at]) | std::uint32_t(w.data[at + 1]) << 8 |
                           std::uint32_t(w.data[at + 2]) << 16 | std::uint32_t(w.data[at + 3]) << 24;
                };
                out.push_back({le(0), le(4)});
            }
        }
        return out;
    }
    // IDENTIFY CONTROLLER reads sent: one per (re-)initialisation.
    size_t IdentifyReads() {
        size_t n = 0;
        for (const qvsim::BmicCdb& b : Received()) {
            n += !b.write && b.opcode == 0x11 ? 1 : 0;
        }
        return n;
    }
};

TEST_F(ClearConfigurationHost, PermissionBitsPerAction) {
    struct Row {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_DWORD asked;
        VK_DWORD answer;
    };
    const Row rows[] = {
        {"logical drives",
         {},
         kClearConfigurationRemoveLogicalDrives,
         kClearConfigurationRemoveLogicalDrivesAllowed},
        {"no logical drives", [](FirmwareState& st) { st.logical_drives.clear(); },
         kClearConfigurationRemoveLogicalDrives, kClearConfigurationNoLogicalDrives},
        {"HBA mode, logical drives present",
         [](FirmwareState& st) {
             st.feature_pages.clear();
             st.identify.even_more_flags &= ~0x80000000u;
             st.identify.yet_more_flags |= 0x02000000;
             st.parameters.nvram_flags = 0x08;
         },
         kClearConfigurationRemoveLogicalDrives, kClearConfigurationHBAMode},
        {"no encryption support",
         {},
         kClearConfigurationRemoveEncryption,
         kClearConfigurationNoEncryptionSupport},
        {"NVRAM", WithNVRAMClear, kClearConfigurationClearNVRAM, kClearConfigurationClearNVRAMAllowed},
        {"NVRAM not supported", {}, kClearConfigurationClearNVRAM, kClearConfigurationClearNVRAMNotSupported},
        {"CCM without drives",
         [](FirmwareState& st) {
             st.logical_drives.clear();
             st.drives.clear();
         },
         kClearConfigurationClearPhysicalDriveCCM, kClearConfigurationClearPhysicalDriveCCMNoDrivesAttached},
        {"CCM on one drive of two kinds",
         [](FirmwareState& st) { st.find_drive(5)->misc_drive_flags = 0x80; },
         kClearConfigurationClearPhysicalDriveCCM,
         kClearConfigurationClearPhysicalDriveCCMAllowed | kClearConfigurationClearPhysicalDriveCCMNoCCM},
        {"no managed SED",
         {},
         kClearConfigurationRemoveSEDEncryption,
         kClearConfigurationNoSEDEncryptionSupport},
        {"SED-enabled logical drive", WithManagedSED, kClearConfigurationRemoveSEDEncryption,
         kClearConfigurationSEDHasSEDEnabledLD},
        {"SED-enabled logical drive, removed in the same call", WithManagedSED,
         kClearConfigurationRemoveSEDEncryption | kClearConfigurationRemoveLogicalDrives,
         kClearConfigurationRemoveSEDEncryptionAllowed | kClearConfigurationRemoveLogicalDrivesAllowed},
        {"managed SED without SED-enabled drives",
         [](FirmwareState& st) {
             WithManagedSED(st);
             st.find_configured_drive(1)->managed_sed_flags = 0;
         },
         kClearConfigurationRemoveSEDEncryption, kClearConfigurationRemoveSEDEncryptionAllowed},
        {"online firmware activation", [](FirmwareState& st) { st.ofa.status = 3; }, kEveryAction | 0x40,
         kClearConfigurationControllerOFAActive},
        {"nothing asked", {}, 0, 0},
        {"bits outside the actions", {}, 0xFFFFFF00u, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = TwoDrives();
        if (row.edit) {
            row.edit(st);
        }
        ASSERT_NO_FATAL_FAILURE(Start(st));
        EXPECT_EQ(VK_CanClearConfiguration(cda(), row.asked), row.answer) << std::hex << row.answer;
        EXPECT_TRUE(state().updates.writes.empty());
    }
}

TEST_F(ClearConfigurationHost, NothingAllowedOrAskedDoesNothing) {
    FirmwareState st = TwoDrives();
    st.ofa.status = 3;
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_EQ(VK_DoClearConfiguration(cda(), kEveryAction), 0);
    EXPECT_TRUE(state().updates.writes.empty());
    EXPECT_EQ(state().logical_drives.size(), 2u);

    ASSERT_NO_FATAL_FAILURE(Start(TwoDrives()));
    EXPECT_EQ(VK_DoClearConfiguration(cda(), 0), 0);
    EXPECT_EQ(IdentifyReads(), 0u) << "no re-initialisation";
    EXPECT_TRUE(state().updates.writes.empty());
}

// Logical drives, NVRAM and one drive's CCM: the tables are overwritten first, then the actions go
// in their order and each is reported done.
TEST_F(ClearConfigurationHost, ActionsInOrderAndReportedWhenDone) {
    FirmwareState st = TwoDrives();
    WithNVRAMClear(st);
    qvsim::fw_seed_partition_tables(*st.find_configured_drive(0));
    st.find_drive(5)->misc_drive_flags = 0x80;
    ASSERT_NO_FATAL_FAILURE(Start(st));
    ASSERT_GE(_VK_CDA(cda())->controller_firmware_feature_version, 4)
        << "the clear command deletes the drives";
    const VK_DWORD asked = kClearConfigurationRemoveLogicalDrives | kClearConfigurationClearNVRAM |
                           kClearConfigurationClearPhysicalDriveCCM;
    ASSERT_EQ(VK_CanClearConfiguration(cda(), asked), kClearConfigurationRemoveLogicalDrivesAllowed |
                                                          kClearConfigurationClearNVRAMAllowed |
                                                          kClearConfigurationClearPhysicalDriveCCMAllowed |
                                                          kClearConfigurationClearPhysicalDriveCCMNoCCM);
    EXPECT_EQ(VK_DoClearConfiguration(cda(), asked), ClearConfigurationLogicalDrivesRemoved |
                                                         ClearConfigurationNVRAMCleared |
                                                         ClearConfigurationPhysicalDriveCCMCleared);
    EXPECT_EQ(Clears(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                            {1, 0xFFFFFFFF}, {4, 0xFFFFFFFF}, {2, 5}}));
    // The MBR of logical drive 0 was overwritten before the clear removed it.
    bool mangled = false;
    for (const auto& cdb : SentCdbs()) {
        mangled = mangled || (cdb.size() == 16 && cdb[0] == 0x8A);
    }
    EXPECT_TRUE(mangled);
    EXPECT_TRUE(state().logical_drives.empty());
    EXPECT_EQ(state().find_drive(5)->misc_drive_flags, 0u);
    EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 0) << "re-read after the actions";
}

// A refused command is not reported as done; the later actions still run.
TEST_F(ClearConfigurationHost, RefusedCommandsAreNotReportedDone) {
    FirmwareState st = TwoDrives();
    WithNVRAMClear(st);
    st.find_drive(5)->misc_drive_flags = 0x80;
    FwFault refused;
    refused.bmic = 0x6E;
    refused.write = true;
    refused.err = EIO;
    refused.count = 100;
    st.faults = {refused};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    const VK_DWORD asked = kClearConfigurationRemoveLogicalDrives | kClearConfigurationClearNVRAM |
                           kClearConfigurationClearPhysicalDriveCCM;
    EXPECT_EQ(VK_DoClearConfiguration(cda(), asked), 0);
    std::vector<int> sent;
    for (const qvsim::BmicCdb& b : Received()) {
        if (b.write) {
            sent.push_back(b.opcode);
        }
    }
    EXPECT_EQ(sent, (std::vector<int>{0x6E, 0x6E, 0x6E})) << "every action was tried";
    EXPECT_EQ(state().logical_drives.size(), 2u);
    EXPECT_GE(IdentifyReads(), 1u) << "re-read all the same";

    // Only the NVRAM clear refused: the other two are reported.
    st.faults[0].nth = 2;
    st.faults[0].count = 1;
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_EQ(VK_DoClearConfiguration(cda(), asked),
              ClearConfigurationLogicalDrivesRemoved | ClearConfigurationPhysicalDriveCCMCleared);
}

// Every action asked for on a controller with controller-based encryption: the encrypted logical drive
// goes first, so the encryption clear needs no master key; managed SED is not there to disable.
TEST_F(ClearConfigurationHost, EveryActionWithControllerEncryption) {
    FirmwareState st = telmar_encryption_host::ConfiguredLocal();
    for (VK_WORD pd = 4; pd < 6; ++pd) {
        st.add_drive(pd);
    }
    st.find_drive(5)->misc_drive_flags = 0x80;
    WithNVRAMClear(st);
    ASSERT_NO_FATAL_FAILURE(Start(st));
    ASSERT_TRUE(CTRL_ENCRYPTION_IS_CONFIGURED(VK_GetControllerEncryptionStatus(cda())));
    EXPECT_EQ(VK_CanClearConfiguration(cda(), kEveryAction),
              kClearConfigurationRemoveLogicalDrivesAllowed | kClearConfigurationRemoveEncryptionAllowed |
                  kClearConfigurationClearNVRAMAllowed | kClearConfigurationClearPhysicalDriveCCMAllowed |
                  kClearConfigurationClearPhysicalDriveCCMNoCCM | kClearConfigurationNoSEDEncryptionSupport)
        << std::hex << VK_CanClearConfiguration(cda(), kEveryAction);
    EXPECT_EQ(VK_DoClearConfiguration(cda(), kEveryAction),
              ClearConfigurationLogicalDrivesRemoved | ClearConfigurationEncryptionConfigurationCleared |
                  ClearConfigurationNVRAMCleared | ClearConfigurationPhysicalDriveCCMCleared);
    EXPECT_EQ(Clears(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{
                            {1, 0xFFFFFFFF}, {4, 0xFFFFFFFF}, {2, 5}}));
    EXPECT_TRUE(state().logical_drives.empty());
    EXPECT_EQ(state().updates.nvram_clears, 1u);
    EXPECT_EQ(state().find_drive(5)->misc_drive_flags, 0u);
    EXPECT_EQ(state().identify.managed_sed_mode, 0u);
    // Read back from the controller after the last re-initialisation.
    EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 0);
    EXPECT_FALSE(CTRL_ENCRYPTION_IS_CONFIGURED(VK_GetControllerEncryptionStatus(cda())));
    EXPECT_EQ(VK_GetControllerEncryptionStatus(cda()) & 0xFFFF, 0u);
    EXPECT_EQ(VK_CanClearPhysicalDriveCCM(cda(), 5), kCanClearPhysicalDriveCCMNoCCM);
}

// The same request on a controller with managed SED and no controller-based encryption: the
// SED-enabled logical drive is removed in the same call, so managed SED may be turned off.
TEST_F(ClearConfigurationHost, EveryActionWithManagedSED) {
    FirmwareState st = TwoDrives();
    WithManagedSED(st);
    st.find_drive(6)->misc_drive_flags = 0x80;
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_EQ(VK_CanClearConfiguration(cda(), kEveryAction),
              kClearConfigurationRemoveLogicalDrivesAllowed | kClearConfigurationRemoveSEDEncryptionAllowed |
                  kClearConfigurationClearPhysicalDriveCCMAllowed |
                  kClearConfigurationClearPhysicalDriveCCMNoCCM | kClearConfigurationNoEncryptionSupport |
                  kClearConfigurationClearNVRAMNotSupported)
        << std::hex << VK_CanClearConfiguration(cda(), kEveryAction);
    EXPECT_EQ(VK_DoClearConfiguration(cda(), kEveryAction), ClearConfigurationLogicalDrivesRemoved |
                                                                ClearConfigurationSEDEncryptionDisabled |
                                                                ClearConfigurationPhysicalDriveCCMCleared);
    EXPECT_EQ(Clears(), (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 0xFFFFFFFF}, {2, 6}}));
    bool sed_disable = false, encryption_write = false;
    for (const qvsim::BmicCdb& b : Received()) {
        sed_disable = sed_disable || (b.write && b.opcode == 0xE8 && b.detail == 4);
        encryption_write = encryption_write || (b.write && b.opcode == 0x1E);
    }
    EXPECT_TRUE(sed_disable);
    EXPECT_FALSE(encryption_write);
    EXPECT_TRUE(state().logical_drives.empty());
    EXPECT_EQ(state().updates.nvram_clears, 0u);
    EXPECT_EQ(state().identify.managed_sed_mode, 0u);
    EXPECT_EQ(state().find_drive(6)->misc_drive_flags, 0u);
    EXPECT_EQ(VK_GetControllerTotalArrayCount(cda()), 0);
    const VK_QWORD sed = VK_GetControllerSEDEncryptionStatus(cda());
    EXPECT_EQ((sed & kControllerSEDEncryptionStatusMask) >> kControllerSEDEncryptionStatusShift &
                  kControllerSEDEncryptionStatusEnabled,
              0u)
        << std::hex << sed;
}

// The rules between actions, on facts a simulated controller cannot easily show at once.
TEST(ClearConfigurationPermission, RulesBetweenActions) {
    using telmar::direct::ClearConfigurationFacts;
    const auto facts = [](const std::function<void(ClearConfigurationFacts&)>& edit) {
        ClearConfigurationFacts f;
        f.mode = kControllerModeCurrentRAID | kControllerModePendingRAID;
        f.logical_unit_count = 2;
        if (edit) {
            edit(f);
        }
        return f;
    };
    const VK_QWORD kEnabled = 0x20, kWaiting = 0x40;
    struct Row {
        const char* name;
        ClearConfigurationFacts facts;
        VK_DWORD asked;
        VK_DWORD answer;
    };
    const Row rows[] = {
        {"encrypted drives alone", facts([](auto& f) { f.encryption_reason = 4; }), 0x04, 0x4000},
        {"encrypted drives removed in the same call", facts([](auto& f) { f.encryption_reason = 4; }), 0x05,
         0x05},
        {"encode running, drives removed too", facts([](auto& f) { f.encryption_reason = 5; }), 0x05, 0x05},
        {"encode running", facts([](auto& f) { f.encryption_reason = 5; }), 0x04, 0x8000},
        {"not configured, drives removed too", facts([](auto& f) { f.encryption_reason = 3; }), 0x05, 0x1001},
        {"drives cannot go: encryption alone decides", facts([](auto& f) {
             f.encryption_reason = 4;
             f.logical_unit_count = 0;
         }),
         0x05, 0x4100},
        {"pending HBA",
         facts([](auto& f) { f.mode = kControllerModeCurrentRAID | kControllerModePendingHBA; }), 0x01,
         0x200},
        {"adapter password awaited with an SED-enabled drive", facts([](auto& f) {
             f.sed_status = kEnabled | kWaiting;
             f.sed_enabled_ld = true;
         }),
         0x01, 0x08000000},
        {"SED operation running", facts([](auto& f) {
             f.sed_supported = true;
             f.sed_status = kEnabled | (VK_QWORD{1} << 25);
         }),
         0x20, 0x04000000},
        {"SED waiting with an owned drive", facts([](auto& f) {
             f.sed_supported = true;
             f.sed_status = kEnabled | kWaiting;
             f.owned_sed = true;
         }),
         0x20, 0x08000000},
        {"SED not enabled", facts([](auto& f) { f.sed_supported = true; }), 0x20, 0x02000000},
        {"CCM: locked, unsupported, other reasons", facts([](auto& f) {
             f.ccm_reasons = {4, 3, 7, 6, 2};
         }),
         0x10, 0x00600000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(telmar::direct::ClearConfigurationPermission(row.facts, row.asked), row.answer)
            << std::hex << row.answer;
    }
}

} // namespace
