// Re-enabling a failed logical drive and hiding it from the BIOS, on a simulated controller with one
// mirrored logical drive: the permission codes in their order, the command each case sends, and the
// rescan request after a hide.
#include <algorithm>
#include <string>
#include <vector>

#include "ptelm.h"
#include "ptelm_commands.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;

class Reenable : public telmar_host::ControllerHost {
protected:
    // Logical drive 0, RAID 1 over drives 0 and 1, failed with drive 1 (`drive_failed`), or failed
    // with its drives back (its array then reports only the failed logical drive, 0x2).
    static FirmwareState Failed(bool drive_failed = true) {
        FirmwareState state;
        state.add_drive(0);
        state.add_drive(1);
        auto& ld = state.add_configured_drive(0, {0, 1}, 100000);
        ld.fault_tolerance = 2;
        ld.unit_status = 1;
        if (drive_failed) {
            ld.failed = {1};
        }
        return state;
    }

    void Start(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    int Count(int opcode) {
        const auto all = Opcodes();
        return static_cast<int>(std::count(all.begin(), all.end(), opcode));
    }
};

TEST_F(Reenable, PermissionFollowsTheStatusWords) {
    struct Case {
        const char* name;
        bool drive_failed;
        std::uint8_t expand_failure, media_exchanged;
        bool encrypted_on_locked_controller;
        VK_BYTE can;
        int sent_opcode; // 0: nothing sent
    };
    const Case cases[] = {
        {"failed during a transformation", false, 1, 0, false, kCanEnableFailedLogicalDriveAllowed, 0x52},
        {"failed during a transformation, drive still failed", true, 1, 0, false,
         kCanEnableFailedLogicalDriveInvalidArrayStatus, 0},
        {"media exchanged", true, 0, 1, false, kCanEnableFailedLogicalDriveAllowed, 0xE0},
        {"failed drive not replaced", true, 0, 0, false, kCanEnableFailedLogicalDriveFailedDriveNotReplaced, 0},
        {"encrypted on a locked controller", true, 0, 1, true, kCanEnableFailedLogicalDriveEncryptionLocked, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState state = Failed(c.drive_failed);
        state.logical_drives.back().expand_failure = c.expand_failure;
        state.logical_drives.back().media_exchanged = c.media_exchanged;
        if (c.encrypted_on_locked_controller) {
            state.set_page("encryption", {0x01});
            state.identify.encryption_status = 0x1;
            state.encryption.boot_password_status = 0x2; // controller locked
            state.logical_drives.back().encryption_flags = 0x01;
        }
        ASSERT_NO_FATAL_FAILURE(Start(state));
        EXPECT_EQ(VK_CanEnableFailedLogicalDrive(cda(), 0), c.can);
        host().clear_requests();
        EXPECT_EQ(VK_DoEnableFailedLogicalDrive(cda(), 0), c.sent_opcode != 0 ? kTrue : kFalse);
        for (int opcode : {0x52, 0xE0}) {
            EXPECT_EQ(Count(opcode), opcode == c.sent_opcode ? 1 : 0) << opcode;
        }
        if (c.sent_opcode != 0) {
            // The data area is read again, and the drive now reads healthy.
            EXPECT_GE(Count(0x11), 1);
            EXPECT_EQ(VK_CanEnableFailedLogicalDrive(cda(), 0), kCanEnableFailedLogicalDriveIsNotFailed);
        }
        StopController();
    }
}

TEST_F(Reenable, HealthyAndMissingDrivesAreNotFailed) {
    FirmwareState state = Failed();
    state.logical_drives.back().unit_status = 0;
    state.logical_drives.back().failed.clear();
    ASSERT_NO_FATAL_FAILURE(Start(state));
    EXPECT_EQ(VK_CanEnableFailedLogicalDrive(cda(), 0), kCanEnableFailedLogicalDriveIsNotFailed);
    EXPECT_EQ(VK_CanEnableFailedLogicalDrive(cda(), 70), kCanEnableFailedLogicalDriveIsNotFailed);
    EXPECT_EQ(VK_DoEnableFailedLogicalDrive(cda(), 70), kFalse);
    EXPECT_EQ(Count(0x52) + Count(0xE0), 0);
}

TEST_F(Reenable, HideAndUnhideWriteTheBIOSFlagAndAskForARescan) {
    ASSERT_NO_FATAL_FAILURE(Start(Failed()));
    EXPECT_TRUE(_VK_HideLogicalDrive(cda(), 0));
    auto rescans = [&] {
        int n = 0;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            n += r.name == "CCISS_REGNEWD";
        }
        return n;
    };
    EXPECT_EQ(rescans(), 1);
    auto bios_flag = [&] {
        VK_BYTE record[652] = {};
        // A fresh configuration read shows what the controller keeps.
        return _VK_BMICHelperReadBuffer(_VK_CDA(cda())->controller_handle, 0x50, 0, 0, record, sizeof record)
                   ? record[73]
                   : 0xFF;
    };
    EXPECT_EQ(bios_flag() & 0x02, 0x02);
    EXPECT_TRUE(_VK_UnhideLogicalDrive(cda(), 0));
    EXPECT_EQ(bios_flag() & 0x02, 0x00);

    // A configuration that cannot be read: the line, FALSE, and no rescan.
    host().clear_requests();
    TelmarLogCapture log;
    EXPECT_FALSE(_VK_HideLogicalDrive(cda(), 70));
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'new_ld_buffer' failed: Failed to sense ld 70 to hide"), 1u);
    EXPECT_EQ(rescans(), 0);
}

} // namespace
