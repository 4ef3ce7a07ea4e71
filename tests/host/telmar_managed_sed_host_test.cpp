// Managed-SED controller settings against a simulated controller: the update record's refusals,
// the one 0xE8 request its apply sends (byte for byte), and what the controller reports after the
// data area is re-initialised; unlock with the adapter password.
#include <cstring>
#include <string>
#include <vector>

#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "telmar_encryption_host.h"

namespace {

using namespace telmar_encryption_host;

const std::string kKey = "SedMaster#Key1";
const std::string kNewKey = "SedMaster#Key2";
const std::string kPassword = "Adapter#Pass3";

// Managed SED supported, controller-based encryption off, four drives.
FirmwareState Supported() {
    FirmwareState s;
    s.set_page("managed_sed", {0x07});
    s.identify.encryption_status = 0;
    for (VK_WORD d = 0; d < 4; ++d) {
        s.add_drive(d);
    }
    return s;
}

// Local mode already on with kKey and identifier "Ident-A".
FirmwareState Local(bool adapter_password = false) {
    FirmwareState s = Supported();
    s.identify.managed_sed_mode = 0x3 | (adapter_password ? 0x8 : 0);
    s.managed_sed.master_key = kKey;
    s.managed_sed.adapter_password = adapter_password ? kPassword : "";
    std::memcpy(s.managed_sed.master_key_id.data(), "Ident-A", 7);
    return s;
}

class ManagedSEDHost : public EncryptionHost {
protected:
    void* Open(VK_BYTE expect = kGetControllerSEDEncryptionInfoForUpdateSuccess) {
        void* info = reinterpret_cast<void*>(1);
        EXPECT_EQ(VK_GetControllerSEDEncryptionInfoForUpdate(cda(), &info), expect);
        return info;
    }
    std::string Identifier() {
        char id[40] = {};
        VK_GetControllerSEDEncryptionMasterKeyIdentifier(cda(), id, sizeof(id));
        return id;
    }
};

TEST_F(ManagedSEDHost, OpenRefusesBesideControllerEncryptionAndDuringOperations) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        VK_BYTE code;
    } cases[] = {
        {"not supported", [](FirmwareState& s) { s.set_page("managed_sed", {0x00}); },
         kGetControllerSEDEncryptionInfoForUpdateNotSupported},
        {"controller encryption configured", [](FirmwareState& s) {
             s.set_page("encryption", {0x01});
             s.identify.encryption_status = ConfiguredLocal().identify.encryption_status;
         },
         kGetControllerSEDEncryptionInfoForUpdateCBEEncryptionIsEnabled},
        {"taking ownership", [](FirmwareState& s) { s.managed_sed.status = 0x20; },
         kGetControllerSEDEncryptionInfoForUpdateNotAllowed},
        {"waiting on the master key", [](FirmwareState& s) { s.managed_sed.status = 0x40; },
         kGetControllerSEDEncryptionInfoForUpdateNotAllowed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = Local();
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(Open(c.code), nullptr);
        StopController();
    }
    EXPECT_EQ(VK_GetControllerSEDEncryptionInfoForUpdate(nullptr, nullptr),
              kGetControllerSEDEncryptionInfoForUpdateInvalidArgument);
}

TEST_F(ManagedSEDHost, LocalModeWithAdapterPasswordSendsOneEnableRequestWithTheDefaultIdentifier) {
    ASSERT_NO_FATAL_FAILURE(Start(Supported()));
    void* info = Open();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeRemote),
              kCanChangeControllerSEDEncryptionModeInvalidArgument);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeNone),
              kCanChangeControllerSEDEncryptionModeAlreadySet);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMasterKey(info, kKey.c_str(), kKey.size() + 1),
              kCanChangeControllerSEDEncryptionMasterKeyPendingEncryptionModeNone);
    EXPECT_EQ(VK_DoChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeLocal),
              kDoChangeControllerSEDEncryptionModeSuccess);
    EXPECT_EQ(VK_DoChangeControllerSEDEncryptionMasterKey(info, kKey.c_str(), kKey.size() + 1),
              kDoChangeControllerSEDEncryptionMasterKeySuccess);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionAdapterPassword(info, kPassword.c_str(), kPassword.size() + 1),
              kCanChangeSEDEncryptionAdapterPasswordPendingStateIsDisabled);
    EXPECT_EQ(VK_DoChangeControllerSEDEncryptionAdapterPasswordState(info, 1),
              kDoChangeSEDEncryptionAdapterPasswordStateSuccess);
    // The password state on but no password yet: refused before anything is sent.
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, nullptr, 0),
              kUpdateControllerSEDEncryptionAdapterPasswordStateEnabledPasswordEmpty);
    EXPECT_EQ(SEDWritesReceived(), 0u);
    EXPECT_EQ(VK_DoChangeControllerSEDEncryptionAdapterPassword(info, kPassword.c_str(), kPassword.size() + 1),
              kDoChangeSEDEncryptionAdapterPasswordSuccess);
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, nullptr, 0), kUpdateControllerSEDEncryptionInfoSuccess);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);

    // WWN 51D7B00000A1B2C0 followed by the product id.
    const std::string id = "51D7B00000A1B2C0PQ-16i Sim";
    EXPECT_EQ(SEDWrites(), std::vector<std::string>{"1:" + Record(100)
                                                               .text(0, kPassword)
                                                               .text(32, kKey)
                                                               .text(64, id)
                                                               .hex()});
    EXPECT_TRUE(Reinitialised());
    const VK_QWORD sed = VK_GetControllerSEDEncryptionStatus(cda());
    EXPECT_EQ(CTRL_SED_ENCRYPTION_MODE(sed), kControllerSEDEncryptionModeLocal);
    EXPECT_EQ(CTRL_SED_ENCRYPTION_ADAPTER_PASSWORD(sed), kControllerSEDEncryptionAdapterPasswordEnabled);
    EXPECT_TRUE(sed & 0x20);
    EXPECT_EQ(Identifier(), id);
}

TEST_F(ManagedSEDHost, KeyAndAdapterPasswordCannotBothBeStagedWithoutAModeChange) {
    ASSERT_NO_FATAL_FAILURE(Start(Local()));
    void* info = Open();
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionMasterKey(info, kNewKey.c_str(), kNewKey.size() + 1),
              kDoChangeControllerSEDEncryptionMasterKeySuccess);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionAdapterPassword(info, kPassword.c_str(), kPassword.size() + 1),
              kCanChangeSEDEncryptionAdapterPasswordMasterKeyChangePending);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);

    info = Open();
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionAdapterPasswordState(info, 1),
              kDoChangeSEDEncryptionAdapterPasswordStateSuccess);
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionAdapterPassword(info, kPassword.c_str(), kPassword.size() + 1),
              kDoChangeSEDEncryptionAdapterPasswordSuccess);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMasterKey(info, kNewKey.c_str(), kNewKey.size() + 1),
              kCanChangeControllerSEDEncryptionMasterKeyPendingAdapterPassword);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(info, "Ident-B", 8),
              kCanChangeControllerSEDEncryptionMasterKeyIdentifierAdapterPassword);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
}

TEST_F(ManagedSEDHost, StagedKeyThenPasswordStateAppliesOnlyTheAdapterPasswordChange) {
    ASSERT_NO_FATAL_FAILURE(Start(Local(true)));
    void* info = Open();
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionMasterKey(info, kNewKey.c_str(), kNewKey.size() + 1),
              kDoChangeControllerSEDEncryptionMasterKeySuccess);
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionAdapterPasswordState(info, 0),
              kDoChangeSEDEncryptionAdapterPasswordStateSuccess);
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, nullptr, 0), kUpdateControllerSEDEncryptionNoMasterKey);
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, "short", 6), kUpdateControllerSEDEncryptionInvalidMasterKey);
    EXPECT_EQ(SEDWritesReceived(), 0u);
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, kKey.c_str(), kKey.size() + 1),
              kUpdateControllerSEDEncryptionInfoSuccess);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
    EXPECT_EQ(SEDWrites(), std::vector<std::string>{"2:" + Record(64).text(32, kKey).hex()});
    EXPECT_EQ(CTRL_SED_ENCRYPTION_ADAPTER_PASSWORD(VK_GetControllerSEDEncryptionStatus(cda())), 0);
    EXPECT_EQ(state().managed_sed.master_key, kKey);
}

TEST_F(ManagedSEDHost, KeyAndIdentifierChangeNeedsTheExistingKey) {
    ASSERT_NO_FATAL_FAILURE(Start(Local()));
    void* info = Open();
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, kKey.c_str(), kKey.size() + 1),
              kUpdateControllerSEDEncryptionInfoNoChanges);
    EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(info, "Ident-A", 8),
              kCanChangeControllerSEDEncryptionMasterKeyIdentifierSameAsPending);
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionMasterKey(info, kNewKey.c_str(), kNewKey.size() + 1),
              kDoChangeControllerSEDEncryptionMasterKeySuccess);
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionMasterKeyIdentifier(info, "Ident-B", 8),
              kDoChangeControllerSEDEncryptionMasterKeyIdentifierSuccess);
    const std::string wrong = "Wrong#Key99x";
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, wrong.c_str(), wrong.size() + 1),
              kUpdateControllerSEDEncryptionInfoFailed);
    EXPECT_FALSE(Reinitialised());
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, kKey.c_str(), kKey.size() + 1),
              kUpdateControllerSEDEncryptionInfoSuccess);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
    EXPECT_EQ(SEDWrites(), std::vector<std::string>{
                               "3:" + Record(96).text(0, kKey).text(32, kNewKey).text(64, "Ident-B").hex()});
    EXPECT_EQ(state().managed_sed.master_key, kNewKey);
    EXPECT_EQ(Identifier(), "Ident-B");
}

TEST_F(ManagedSEDHost, ModeNoneRefusedWhileOwnedDrivesWaitOrSEDVolumesExist) {
    {
        FirmwareState s = Local(true);
        s.managed_sed.status = 0x1; // waiting on the adapter password
        s.find_drive(1)->feature_flags = 0;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        void* info = Open();
        // No owned drive: the wait alone does not refuse.
        EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeNone),
                  kCanChangeControllerSEDEncryptionModeAllowed);
        VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
        StopController();
    }
    {
        FirmwareState s = Local();
        s.add_configured_drive(0, {0, 1}, 1 << 20).managed_sed_flags = 0x01;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        void* info = Open();
        EXPECT_EQ(VK_CanChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeNone),
                  kCanChangeControllerSEDEncryptionModeHasSEDEnabledLD);
        VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
        StopController();
    }
    ASSERT_NO_FATAL_FAILURE(Start(Local()));
    void* info = Open();
    ASSERT_EQ(VK_DoChangeControllerSEDEncryptionMode(info, kControllerSEDEncryptionModeNone),
              kDoChangeControllerSEDEncryptionModeSuccess);
    EXPECT_EQ(VK_UpdateControllerSEDEncryptionInfo(info, nullptr, 0), kUpdateControllerSEDEncryptionInfoSuccess);
    VK_DestroyControllerSEDEncryptionInfoForUpdate(info);
    EXPECT_EQ(SEDWrites(), std::vector<std::string>{"4:"});
    EXPECT_EQ(CTRL_SED_ENCRYPTION_MODE(VK_GetControllerSEDEncryptionStatus(cda())), kControllerSEDEncryptionModeNone);
}

TEST_F(ManagedSEDHost, UnlockWithTheAdapterPassword) {
    {
        ASSERT_NO_FATAL_FAILURE(Start(Local(true)));
        EXPECT_EQ(VK_CanUnlockControllerWithSEDEncryption(cda(), kPassword.c_str(), kPassword.size() + 1),
                  kCanUnlockControllerWithSEDEncryptionNotLocked);
        StopController();
    }
    {
        FirmwareState s = Local(true);
        s.managed_sed.status = 0x1;
        s.managed_sed.unlock_attempts_left = 0;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanUnlockControllerWithSEDEncryption(cda(), kPassword.c_str(), kPassword.size() + 1),
                  kCanUnlockControllerWithSEDEncryptionSEDEncryptionNoUnlockAttemptsRemaining);
        StopController();
    }
    FirmwareState s = Local(true);
    s.managed_sed.status = 0x1;
    s.managed_sed.countdown_timer = 60;
    s.managed_sed.unlock_attempts_left = 3;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    const std::string wrong = "Wrong#Pass4";
    EXPECT_EQ(VK_DoUnlockControllerWithSEDEncryption(cda(), wrong.c_str(), wrong.size() + 1),
              kDoUnlockControllerWithSEDEncryptionFailed);
    EXPECT_EQ(state().managed_sed.unlock_attempts_left, 2);
    EXPECT_EQ(VK_DoUnlockControllerWithSEDEncryption(cda(), kPassword.c_str(), kPassword.size() + 1),
              kDoUnlockControllerWithSEDEncryptionOK);
    EXPECT_FALSE(VK_GetControllerSEDEncryptionStatus(cda()) & 0x40);
    EXPECT_EQ(SEDWrites(), std::vector<std::string>{"5:" + Record(32).text(0, kPassword).hex()});
}

TEST_F(ManagedSEDHost, DefaultIdentifierNeedsRoomFor32Characters) {
    ASSERT_NO_FATAL_FAILURE(Start(Supported()));
    char small[32] = {'x'};
    EXPECT_STREQ(VK_GetSEDEncryptionDefaultMasterKeyIdentifier(cda(), small, sizeof(small)), "");
    EXPECT_EQ(small[0], 'x');
}

} // namespace
