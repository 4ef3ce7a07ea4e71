// Managed-SED drives and arrays against a simulated controller: the drive-selection records (take
// ownership, import, revert) with their refusals and the one 0xE8 request each apply sends, import of
// every foreign SED, PSID revert, SED encryption staged on editable arrays and the import of a
// foreign SED array.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "qvsim/fw_state.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_encryption_host.h"

namespace {

using namespace telmar_encryption_host;

const std::string kKey = "SedMaster#Key1";
const std::string kForeignKey = "Foreign#Key-22x";
const std::string kResetKey = "Reset#Key-333yz";
const std::string kPSID = "PSID0123456789ABCDEFGHIJKLMNOPQR"; // 32 characters

// Drive numbers of SEDs() by kind.
enum : VK_WORD {
    kOFS1 = 0,
    kOFS2 = 1,
    kOwnedDrive = 2,
    kForeignDrive = 3,
    kPlainDrive = 4,
    kSMRDrive = 5,
    kMultiActuator = 6,
    kQualifyingDrive = 7,
    kForeign2 = 8,
    kAbsent = 100,
};

// Managed SED on in local mode with kKey; drives of every kind, none configured.
FirmwareState SEDs() {
    FirmwareState s;
    ManagedSEDLocal(s, kKey);
    const std::uint32_t flags[] = {kSED | kOFS | kOPAL,
                                   kSED | kOFS | kOPAL,
                                   kSED | kOwned | kOPAL,
                                   kSED | kOwned | kForeign | kOPAL,
                                   0,
                                   kSED | kOFS | kOPAL,
                                   kSED | kOFS | kOPAL,
                                   kSED | kOFS | kOPAL | kQualifying,
                                   kSED | kOwned | kForeign | kOPAL};
    for (VK_WORD d = 0; d < 9; ++d) {
        s.add_drive(d).feature_flags = flags[d];
    }
    s.find_drive(kSMRDrive)->misc_drive_flags = 0x800;
    s.find_drive(kMultiActuator)->lun_count = 2;
    return s;
}

// SEDs() and logical drive 0 on drives 9 and 10 of `member_flags`; drive 11, owned, has failed.
FirmwareState SEDsWithArray(std::uint32_t member_flags) {
    FirmwareState s = SEDs();
    s.add_drive(9).feature_flags = member_flags;
    s.add_drive(10).feature_flags = member_flags;
    s.add_configured_drive(0, {9, 10}, 1 << 20);
    s.add_drive(11).feature_flags = kSED | kOwned | kOPAL;
    s.find_drive(11)->device_flags = 0x00; // failed
    return s;
}

// A 128-byte drive map with the bits of `drives`, as hex.
std::string Map(std::initializer_list<VK_WORD> drives) {
    std::vector<VK_BYTE> bytes(128, 0);
    for (VK_WORD d : drives) {
        bytes[d / 8] |= static_cast<VK_BYTE>(1u << (d % 8));
    }
    return qvsim::hex_bytes(bytes.data(), bytes.size());
}

class ManagedSEDDrivesHost : public EncryptionHost {
protected:
    // The three drive-selection records, destroyed with the object.
    struct SelectionRecords {
        void* own = nullptr;
        void* import = nullptr;
        void* revert = nullptr;
        ~SelectionRecords() {
            VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(own);
            VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(import);
            VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(revert);
        }
    };
    void Open(SelectionRecords& r) {
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(cda(), &r.own), 0);
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionImportForUpdate(cda(), &r.import), 0);
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(cda(), &r.revert), 0);
    }
    VK_QWORD DriveWord(VK_WORD pd) { return VK_GetPhysicalDriveEncryptionInfo(cda(), pd); }
};

// ---- Opening the drive-selection records ----

TEST_F(ManagedSEDDrivesHost, OpenTablesRefuseInTheirOwnOrder) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        VK_BYTE take_ownership, import, revert;
    } cases[] = {
        {"allowed", [](FirmwareState&) {}, 0, 0, 0},
        {"managed SED unsupported", [](FirmwareState& s) { s.set_page("managed_sed", {0x00}); }, 1, 1, 2},
        {"mode none", [](FirmwareState& s) { s.identify.managed_sed_mode = 0; }, 3, 3, 3},
        {"operation in progress", [](FirmwareState& s) { s.managed_sed.status = 0x20; }, 4, 5, 4},
        {"waiting on the adapter password", [](FirmwareState& s) { s.managed_sed.status = 0x1; }, 4, 5, 4},
        {"no foreign SED",
         [](FirmwareState& s) {
             s.find_drive(kForeignDrive)->feature_flags = kSED | kOwned | kOPAL;
             s.find_drive(kForeign2)->feature_flags = kSED | kOFS | kOPAL;
         },
         0, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = SEDs();
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        void* info = reinterpret_cast<void*>(1);
        EXPECT_EQ(VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(cda(), &info), c.take_ownership);
        EXPECT_EQ(info == nullptr, c.take_ownership != 0);
        VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(info);
        info = reinterpret_cast<void*>(1);
        EXPECT_EQ(VK_GetPhysicalDriveSEDEncryptionImportForUpdate(cda(), &info), c.import);
        EXPECT_EQ(info == nullptr, c.import != 0);
        VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(info);
        info = reinterpret_cast<void*>(1);
        EXPECT_EQ(VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(cda(), &info), c.revert);
        EXPECT_EQ(info == nullptr, c.revert != 0);
        VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(info);
        StopController();
    }
}

// Every call of the three records refuses a missing controller or record.
TEST_F(ManagedSEDDrivesHost, RecordCallsRefuseAMissingArgument) {
    struct Case {
        const char* name;
        VK_BYTE (*call)();
        VK_BYTE refusal;
    } const cases[] = {
        {"take ownership: open",
         [] { return VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(nullptr, nullptr); },
         kGetPhysicalDriveSEDEncryptionTakeOwnershipForUpdateInvalidArgument},
        {"import: open", [] { return VK_GetPhysicalDriveSEDEncryptionImportForUpdate(nullptr, nullptr); },
         kGetPhysicalDriveSEDEncryptionImportForUpdateInvalidArgument},
        {"revert: open", [] { return VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(nullptr, nullptr); },
         kGetPhysicalDriveSEDEncryptionRevertForUpdateInvalidArgument},
        {"take ownership: judge",
         [] { return VK_CanPhysicalDriveSEDEncryptionTakeOwnership(nullptr, kOFS1); },
         kCanPhysicalDriveSEDEncryptionTakeOwnershipInvalidArguments},
        {"import: judge", [] { return VK_CanPhysicalDriveSEDEncryptionImport(nullptr, kOFS1); },
         kCanPhysicalDriveSEDEncryptionImportInvalidInput},
        {"revert: judge", [] { return VK_CanPhysicalDriveSEDEncryptionRevert(nullptr, kOFS1); },
         kCanPhysicalDriveSEDEncryptionRevertInvalidArgument},
        {"take ownership: apply",
         [] { return VK_UpdatePhysicalDriveSEDEncryptionTakeOwnershipInfo(nullptr); },
         kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoInvalidArgument},
        {"import: apply",
         [] {
             return VK_UpdatePhysicalDriveSEDEncryptionImportInfo(nullptr, kForeignKey.c_str(), 16, nullptr,
                                                                  0);
         },
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidArgument},
        {"revert: apply", [] { return VK_UpdatePhysicalDriveSEDEncryptionRevertInfo(nullptr); },
         kUpdatePhysicalDriveSEDEncryptionRevertInfoInvalidArgument},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.refusal);
    }
}

// ---- Marking drives ----

TEST_F(ManagedSEDDrivesHost, EachRecordTestsTheDriveItMarks) {
    ASSERT_NO_FATAL_FAILURE(Start(SEDsWithArray(kSED | kOFS | kOPAL)));
    SelectionRecords records;
    ASSERT_NO_FATAL_FAILURE(Open(records));
    auto& [own, import, revert] = records;
    struct Case {
        VK_WORD pd;
        VK_BYTE take_ownership, import, revert;
    } cases[] = {
        {kOFS1, 0, 5, 3},
        {kOwnedDrive, 5, 5, 0},
        {kForeignDrive, 5, 0, 9},
        {kPlainDrive, 2, 3, 2},
        {kSMRDrive, 10, 5, 3},
        {kMultiActuator, 11, 5, 3},
        {kQualifyingDrive, 4, 5, 3},
        {9, 9, 5, 3}, // a data drive of an array
        {11, 8, 5, 8},
        {kAbsent, 7, 2, 7},
        {383, 7, 2, 7},
        {384, 7, 2, 7},
        {0xFFFF, 7, 2, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pd);
        EXPECT_EQ(VK_CanPhysicalDriveSEDEncryptionTakeOwnership(own, c.pd), c.take_ownership);
        EXPECT_EQ(VK_CanPhysicalDriveSEDEncryptionImport(import, c.pd), c.import);
        EXPECT_EQ(VK_CanPhysicalDriveSEDEncryptionRevert(revert, c.pd), c.revert);
    }
    // The second marking of a drive is refused.
    struct Marking {
        const char* name;
        void* record;
        VK_BYTE (*mark)(void*, VK_WORD);
        VK_BYTE (*can)(void*, VK_WORD);
        VK_WORD pd;
        VK_BYTE marked, already, refused;
    } const markings[] = {
        {"take ownership", own, VK_DoPhysicalDriveSEDEncryptionTakeOwnership,
         VK_CanPhysicalDriveSEDEncryptionTakeOwnership, kOFS1,
         kDoPhysicalDriveSEDEncryptionTakeOwnershipSuccess,
         kCanPhysicalDriveSEDEncryptionTakeOwnershipPDNumberAlreadySet,
         kDoPhysicalDriveSEDEncryptionTakeOwnershipFailure},
        {"import", import, VK_DoPhysicalDriveSEDEncryptionImport, VK_CanPhysicalDriveSEDEncryptionImport,
         kForeignDrive, kDoPhysicalDriveSEDEncryptionImportSuccess,
         kCanPhysicalDriveSEDEncryptionImportPDAlreadySet, kDoPhysicalDriveSEDEncryptionImportFailure},
        {"revert", revert, VK_DoPhysicalDriveSEDEncryptionRevert, VK_CanPhysicalDriveSEDEncryptionRevert,
         kOwnedDrive, kDoPhysicalDriveSEDEncryptionRevertSuccess,
         kCanPhysicalDriveSEDEncryptionRevertPDAlreadyPending, kDoPhysicalDriveSEDEncryptionRevertFailure},
    };
    for (const Marking& m : markings) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(m.mark(m.record, m.pd), m.marked);
        EXPECT_EQ(m.can(m.record, m.pd), m.already);
        EXPECT_EQ(m.mark(m.record, m.pd), m.refused);
    }
    // A refused drive is not marked in another record's map either.
    EXPECT_EQ(VK_DoPhysicalDriveSEDEncryptionRevert(revert, kForeignDrive),
              kDoPhysicalDriveSEDEncryptionRevertFailure);
    EXPECT_EQ(SEDWritesReceived(), 0u);
}

TEST_F(ManagedSEDDrivesHost, EmptyRecordsApplyAsNoChangesAndSendNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(SEDs()));
    SelectionRecords records;
    ASSERT_NO_FATAL_FAILURE(Open(records));
    auto& [own, import, revert] = records;
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionTakeOwnershipInfo(own),
              kUpdatePhysicalDriveSEDEncryptionTakeOwnershipNoChanges);
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionRevertInfo(revert),
              kUpdatePhysicalDriveSEDEncryptionRevertInfoNoChanges);
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionImportInfo(import, kForeignKey.c_str(),
                                                            kForeignKey.size() + 1, nullptr, 0),
              kUpdatePhysicalDriveSEDEncryptionImportInfoNoChanges);
    EXPECT_EQ(SEDWritesReceived(), 0u);
    EXPECT_FALSE(Reinitialised());
}

TEST_F(ManagedSEDDrivesHost, ImportKeysAreCheckedBeforeAnythingIsSent) {
    struct Case {
        const char* name;
        std::uint32_t mode;
        const char* key;
        size_t key_size;
        const char* reset;
        size_t reset_size;
        VK_BYTE result;
    } cases[] = {
        {"no foreign key", 0x3, nullptr, 0, nullptr, 0,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey},
        {"foreign key of size 0", 0x3, "Foreign#Key-22x", 0, nullptr, 0,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey},
        {"reset key without a size", 0x3, "Foreign#Key-22x", 16, "Reset#Key-333yz", 0,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignResetKey},
        {"a size without a reset key", 0x3, "Foreign#Key-22x", 16, nullptr, 16,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignResetKey},
        {"foreign key failing the rule", 0x3, "weak", 5, nullptr, 0,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey},
        {"reset key failing the rule", 0x3, "Foreign#Key-22x", 16, "weak", 5,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignResetKey},
        {"remote mode", 0x5, "Foreign#Key-22x", 16, nullptr, 0,
         kUpdatePhysicalDriveSEDEncryptionImportInfoInvalidForeignKey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = SEDs();
        s.identify.managed_sed_mode = c.mode;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        void* import = nullptr;
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionImportForUpdate(cda(), &import), 0);
        ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionImport(import, kForeignDrive),
                  kDoPhysicalDriveSEDEncryptionImportSuccess);
        EXPECT_EQ(
            VK_UpdatePhysicalDriveSEDEncryptionImportInfo(import, c.key, c.key_size, c.reset, c.reset_size),
            c.result);
        EXPECT_EQ(SEDWritesReceived(), 0u);
        VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(import);
        StopController();
    }
}

// ---- Importing every foreign SED, PSID revert ----

TEST_F(ManagedSEDDrivesHost, ImportEveryForeignSEDRefusals) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        const char* key;
        size_t key_size;
        const char* reset;
        size_t reset_size;
        VK_BYTE result;
    } cases[] = {
        {"allowed without keys", [](FirmwareState&) {}, nullptr, 0, nullptr, 0, 0},
        {"allowed with keys", [](FirmwareState&) {}, "Foreign#Key-22x", 16, "Reset#Key-333yz", 16, 0},
        {"unsupported", [](FirmwareState& s) { s.set_page("managed_sed", {0x00}); }, nullptr, 0, nullptr, 0,
         1},
        {"mode none", [](FirmwareState& s) { s.identify.managed_sed_mode = 0; }, nullptr, 0, nullptr, 0, 2},
        {"waiting on the adapter password", [](FirmwareState& s) { s.managed_sed.status = 0x1; }, nullptr, 0,
         nullptr, 0, 7},
        {"operation in progress", [](FirmwareState& s) { s.managed_sed.status = 0x20; }, nullptr, 0, nullptr,
         0, 4},
        {"no foreign SED",
         [](FirmwareState& s) {
             s.find_drive(kForeignDrive)->feature_flags = kSED | kOwned | kOPAL;
             s.find_drive(kForeign2)->feature_flags = kSED | kOwned | kOPAL;
         },
         nullptr, 0, nullptr, 0, 3},
        {"only a reset key", [](FirmwareState&) {}, nullptr, 0, "Reset#Key-333yz", 16, 5},
        {"weak foreign key", [](FirmwareState&) {}, "weak", 5, nullptr, 0, 5},
        {"reset key size without a key", [](FirmwareState&) {}, "Foreign#Key-22x", 16, nullptr, 16, 6},
        {"weak reset key", [](FirmwareState&) {}, "Foreign#Key-22x", 16, "weak", 5, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = SEDs();
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanImportControllerForeignSED(cda(), c.key, c.key_size, c.reset, c.reset_size),
                  c.result);
        if (c.result != 0) {
            EXPECT_EQ(VK_DoImportControllerForeignSED(cda(), c.key, c.key_size, c.reset, c.reset_size),
                      kDoImportControllerForeignSEDFailure);
        }
        EXPECT_EQ(SEDWritesReceived(), 0u);
        StopController();
    }
}

TEST_F(ManagedSEDDrivesHost, PSIDRevertRefusals) {
    ASSERT_NO_FATAL_FAILURE(Start(SEDsWithArray(kSED | kOwned | kOPAL)));
    struct Case {
        VK_WORD pd;
        const char* psid;
        size_t size;
        VK_BYTE result;
    } cases[] = {
        {kOwnedDrive, kPSID.c_str(), kPSID.size() + 1, 0},
        {kOwnedDrive, nullptr, 0, 0}, // asked without a PSID
        {kOFS1, kPSID.c_str(), kPSID.size() + 1, 0},
        {kAbsent, kPSID.c_str(), kPSID.size() + 1, 2},
        {kPlainDrive, kPSID.c_str(), kPSID.size() + 1, 4},
        {11, kPSID.c_str(), kPSID.size() + 1, 3},
        {9, kPSID.c_str(), kPSID.size() + 1, 5},
        {kOwnedDrive, "PSID-with-hyphens", 18, 6},
        {kOwnedDrive, "short", 6, 6},
        {kOwnedDrive, nullptr, 12, 6},
        {kOwnedDrive, kPSID.c_str(), 0, 6},
        {kSMRDrive, kPSID.c_str(), kPSID.size() + 1, 8},
        {kMultiActuator, kPSID.c_str(), kPSID.size() + 1, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pd);
        SCOPED_TRACE(c.psid != nullptr ? c.psid : "(null)");
        EXPECT_EQ(VK_CanRevertPhysicalDriveSEDEncryptionPSID(cda(), c.pd, c.psid, c.size), c.result);
    }
    EXPECT_EQ(VK_DoRevertPhysicalDriveSEDEncryptionPSID(cda(), kOwnedDrive, nullptr, 0),
              kDoRevertPhysicalDriveSEDEncryptionPSIDFailure);
    EXPECT_EQ(VK_DoRevertPhysicalDriveSEDEncryptionPSID(cda(), kSMRDrive, kPSID.c_str(), kPSID.size() + 1),
              kDoRevertPhysicalDriveSEDEncryptionPSIDFailure);
    EXPECT_EQ(SEDWritesReceived(), 0u);
}

// ---- SED encryption on editable arrays ----

// Array 0: logical drive 0 on OFS OPAL drives 0 and 1 with spare 2; managed SED enabled.
FirmwareState SEDArray() {
    FirmwareState s;
    ManagedSEDLocal(s);
    for (VK_WORD d = 0; d < 6; ++d) {
        s.add_drive(d).feature_flags = kSED | kOFS | kOPAL;
    }
    qvsim::FwLogicalDrive& ld = s.add_configured_drive(0, {0, 1}, 1 << 20);
    ld.fault_tolerance = 1;
    ld.spares = {2};
    s.add_configured_drive(1, {4, 5}, 1 << 20);
    return s;
}

class SEDArrayHost : public ManagedSEDDrivesHost {
protected:
    void StartEditing(FirmwareState s) {
        ASSERT_NO_FATAL_FAILURE(Start(std::move(s)));
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    }
    PEDITABLE_CONFIGURATION config() { return _VK_CDA(cda())->editable_configuration; }
};

TEST_F(SEDArrayHost, EnableRefusals) {
    struct Case {
        const char* name;
        void (*firmware)(FirmwareState&);
        void (*staged)(PEDITABLE_CONFIGURATION);
        VK_BYTE result;
    } cases[] = {
        {"allowed", [](FirmwareState&) {}, [](PEDITABLE_CONFIGURATION) {}, 0},
        {"controller encryption pending enabled", [](FirmwareState&) {},
         [](PEDITABLE_CONFIGURATION c) { c->flags |= kEditableConfigEncryptionEnabled; }, 3},
        {"managed SED unsupported", [](FirmwareState& s) { s.set_page("managed_sed", {0x00}); },
         [](PEDITABLE_CONFIGURATION) {}, 4},
        {"managed SED not enabled", [](FirmwareState& s) { s.identify.managed_sed_mode = 0; },
         [](PEDITABLE_CONFIGURATION) {}, 5},
        // The configuration cannot be created while the controller waits: the word it took is changed.
        {"waiting on the adapter password", [](FirmwareState&) {},
         [](PEDITABLE_CONFIGURATION c) { c->controller_sed_encryption_status |= 0x40; }, 6},
        {"already enabled", [](FirmwareState&) {},
         [](PEDITABLE_CONFIGURATION c) { c->editable_array_list[0]->flags |= kEditableArrSEDEncryption; }, 7},
        {"non-SED data drive", [](FirmwareState& s) { s.find_drive(1)->feature_flags = 0; },
         [](PEDITABLE_CONFIGURATION) {}, 8},
        {"OPAL with enterprise",
         [](FirmwareState& s) { s.find_drive(1)->feature_flags = kSED | kOFS | kEnterprise; },
         [](PEDITABLE_CONFIGURATION) {}, 9},
        {"locked SED among the spares",
         [](FirmwareState& s) { s.find_drive(2)->feature_flags = kSED | kOwned | kLocked | kOPAL; },
         [](PEDITABLE_CONFIGURATION) {}, 10},
        {"foreign SED among the data drives: the array's status is not OK",
         [](FirmwareState& s) { s.find_drive(0)->feature_flags = kSED | kOwned | kForeign | kOPAL; },
         [](PEDITABLE_CONFIGURATION) {}, 13},
        {"LU cache association", [](FirmwareState&) {},
         [](PEDITABLE_CONFIGURATION c) {
             c->editable_ld_list[0]->lu_cache_ld_number = 1;
             c->editable_ld_list[1]->lu_cache_ld_number = 0;
         },
         12},
        {"LU cache named by one side only", [](FirmwareState&) {},
         [](PEDITABLE_CONFIGURATION c) { c->editable_ld_list[0]->lu_cache_ld_number = 1; }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = SEDArray();
        c.firmware(s);
        ASSERT_NO_FATAL_FAILURE(StartEditing(s));
        c.staged(config());
        EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0), c.result);
        if (c.result != 0) {
            const VK_WORD array_flags = config()->editable_array_list[0]->flags;
            EXPECT_EQ(VK_DoEnableEditableArraySEDEncryption(cda(), 0),
                      kDoEnableEditableArraySEDEncryptionFailure);
            EXPECT_EQ(config()->editable_array_list[0]->flags, array_flags);
            EXPECT_FALSE(config()->editable_ld_list[0]->flags & kEditableLDEnableSED);
        }
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(nullptr, 0),
              kCanEnableEditableArraySEDEncryptionNoEditableConfiguration);
}

TEST_F(SEDArrayHost, EnableWithoutConfigurationOrArray) {
    ASSERT_NO_FATAL_FAILURE(Start(SEDArray()));
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0),
              kCanEnableEditableArraySEDEncryptionNoEditableConfiguration);
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 2),
              kCanEnableEditableArraySEDEncryptionInvalidEditableArray);
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 64),
              kCanEnableEditableArraySEDEncryptionInvalidEditableArray);
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0xFFFF),
              kCanEnableEditableArraySEDEncryptionInvalidEditableArray);
}

TEST_F(SEDArrayHost, DedicatedSpareSharedWithAnotherArrayIsRefused) {
    FirmwareState s = SEDArray();
    s.logical_drives[1].fault_tolerance = 1;
    s.logical_drives[1].spares = {2};
    ASSERT_NO_FATAL_FAILURE(StartEditing(s));
    ASSERT_EQ(VK_GetEditableArraySpareType(cda(), 0), kSpareDriveTypeDedicated);
    EXPECT_TRUE(__VK_IsDedicatedSpareSharedWithOtherArray(cda(), 0));
    EXPECT_TRUE(__VK_IsDedicatedSpareSharedWithOtherArray(cda(), 1));
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0),
              kCanEnableEditableArraySEDEncryptionHasSharedDedicatedSpare);
}

TEST_F(SEDArrayHost, EnablingAnExistingArrayMarksItsLogicalDrivesAndSendsNothing) {
    FirmwareState s = SEDArray();
    s.add_configured_drive(2, {0, 1}, 1 << 19, 1 << 20); // array 0's second; logical drive 1 is array 1
    ASSERT_NO_FATAL_FAILURE(StartEditing(s));
    ASSERT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), static_cast<VK_DWORD>(kArrayStatusOK));
    ASSERT_EQ(config()->editable_ld_list[2]->editable_array_number, 0);
    EXPECT_EQ(VK_DoEnableEditableArraySEDEncryption(cda(), 0), kDoEnableEditableArraySEDEncryptionSuccess);
    EXPECT_TRUE(config()->editable_array_list[0]->flags & kEditableArrSEDEncryption);
    EXPECT_TRUE(config()->editable_ld_list[0]->flags & kEditableLDEnableSED);
    EXPECT_TRUE(config()->editable_ld_list[2]->flags & kEditableLDEnableSED);
    EXPECT_FALSE(config()->editable_array_list[1]->flags & kEditableArrSEDEncryption);
    EXPECT_FALSE(config()->editable_ld_list[1]->flags & kEditableLDEnableSED);
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0),
              kCanEnableEditableArraySEDEncryptionAlreadyEnabled);
    EXPECT_EQ(SEDWritesReceived(), 0u);
}

// A new array is not held to a live status; its drives are. Drive addition is another editor's, so
// the fixture stages the drive as it would.
TEST_F(SEDArrayHost, NewArrayIsCheckedByItsDrivesOnly) {
    ASSERT_NO_FATAL_FAILURE(StartEditing(SEDArray()));
    const VK_WORD n = VK_CreateEditableArray(cda());
    ASSERT_NE(n, 0xFFFF);
    PEDITABLE_ARRAY a = config()->editable_array_list[n];
    ASSERT_TRUE(a->flags & kEditableArrNew);
    a->data_drives[0] = 3;
    a->data_drive_count = 1;
    a->common_sed_type = 2; // OPAL
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), n), kCanEnableEditableArraySEDEncryptionAllowed);
    a->common_sed_type = 2 | 1;
    EXPECT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), n),
              kCanEnableEditableArraySEDEncryptionContainsNonSEDDrive);
    a->common_sed_type = 2;
    EXPECT_EQ(VK_DoEnableEditableArraySEDEncryption(cda(), n), kDoEnableEditableArraySEDEncryptionSuccess);
    EXPECT_TRUE(a->flags & kEditableArrSEDEncryption);
    EXPECT_FALSE(config()->editable_array_list[0]->flags & kEditableArrSEDEncryption);
    EXPECT_EQ(SEDWritesReceived(), 0u);
}

// ---- Importing a foreign SED array ----

// Array 0: SED-enabled logical drive 0 on foreign drives 0 and 1 (owned under another key).
FirmwareState ForeignArray() {
    FirmwareState s = SEDArray();
    s.find_drive(0)->feature_flags = kSED | kOwned | kForeign | kOPAL;
    s.find_drive(1)->feature_flags = kSED | kOwned | kForeign | kOPAL;
    s.find_drive(2)->feature_flags = kSED | kOwned | kForeign | kOPAL;
    s.logical_drives[0].managed_sed_flags = 0x01;
    return s;
}

TEST_F(ManagedSEDDrivesHost, ImportForeignArrayRefusals) {
    struct Case {
        const char* name;
        void (*setup)(FirmwareState&);
        VK_WORD array;
        const char* key;
        size_t key_size;
        const char* reset;
        size_t reset_size;
        VK_BYTE result;
    } cases[] = {
        {"allowed", [](FirmwareState&) {}, 0, "Foreign#Key-22x", 16, nullptr, 0, 0},
        {"allowed without keys", [](FirmwareState&) {}, 0, nullptr, 0, nullptr, 0, 0},
        {"unsupported", [](FirmwareState& s) { s.set_page("managed_sed", {0x00}); }, 0, nullptr, 0, nullptr,
         0, 1},
        {"not enabled", [](FirmwareState& s) { s.identify.managed_sed_mode = 0; }, 0, nullptr, 0, nullptr, 0,
         6},
        {"waiting on the adapter password", [](FirmwareState& s) { s.managed_sed.status = 0x1; }, 0, nullptr,
         0, nullptr, 0, 8},
        {"first logical drive not SED-enabled",
         [](FirmwareState& s) { s.logical_drives[0].managed_sed_flags = 0; }, 0, nullptr, 0, nullptr, 0, 2},
        {"no foreign drives",
         [](FirmwareState& s) {
             for (VK_WORD d = 0; d < 3; ++d) {
                 s.find_drive(d)->feature_flags = kSED | kOwned | kOPAL;
             }
         },
         0, nullptr, 0, nullptr, 0, 3},
        // No logical drive names the array: the first-drive test passes and the status word refuses.
        {"array without logical drives", [](FirmwareState&) {}, 5, nullptr, 0, nullptr, 0, 3},
        {"weak foreign key", [](FirmwareState&) {}, 0, "weak", 5, nullptr, 0, 4},
        {"reset key without a foreign key", [](FirmwareState&) {}, 0, nullptr, 0, "Reset#Key-333yz", 16, 4},
        {"weak reset key", [](FirmwareState&) {}, 0, "Foreign#Key-22x", 16, "weak", 5, 5},
        {"reset key without a size", [](FirmwareState&) {}, 0, "Foreign#Key-22x", 16, "Reset#Key-333yz", 0,
         5},
        {"every drive failed",
         [](FirmwareState& s) {
             for (VK_WORD d : {0, 1, 2}) {
                 s.find_drive(d)->device_flags = 0x00;
             }
         },
         0, nullptr, 0, nullptr, 0, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = ForeignArray();
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanImportForeignSEDArray(cda(), c.array, c.key, c.key_size, c.reset, c.reset_size),
                  c.result);
        if (c.result != 0) {
            EXPECT_EQ(VK_DoImportForeignSEDArray(cda(), c.array, c.key, c.key_size, c.reset, c.reset_size),
                      kDoImportForeignSEDArrayFailure);
            EXPECT_EQ(SEDWritesReceived(), 0u);
        }
        StopController();
    }
    EXPECT_EQ(VK_DoImportForeignSEDArray(nullptr, 0, kForeignKey.c_str(), 16, nullptr, 0),
              kDoImportForeignSEDArrayFailure);
}

// ---- End to end: what the controller receives and what it reports afterwards ----

constexpr std::uint32_t kOwnedBit = 0x800000; // owned, in the drive word's security status

FwFault FailsSED(VK_BYTE function) {
    FwFault f;
    f.bmic = kManagedSED;
    f.function = function;
    f.write = true;
    f.err = EIO;
    return f;
}

TEST_F(ManagedSEDDrivesHost, OwnershipOfTwoDrivesThenRevertAndPSIDRevert) {
    FirmwareState s = SEDs();
    s.find_drive(kOwnedDrive)->psid = kPSID;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    void* own = nullptr;
    ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(cda(), &own), 0);
    ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionTakeOwnership(own, kOFS1),
              kDoPhysicalDriveSEDEncryptionTakeOwnershipSuccess);
    ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionTakeOwnership(own, kOFS2),
              kDoPhysicalDriveSEDEncryptionTakeOwnershipSuccess);
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionTakeOwnershipInfo(own),
              kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoSuccess);
    VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(own);
    EXPECT_TRUE(Reinitialised());
    for (VK_WORD pd : {kOFS1, kOFS2}) {
        EXPECT_EQ(DriveWord(pd) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsInOFS), kOwnedBit) << pd;
    }

    void* revert = nullptr;
    ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(cda(), &revert), 0);
    ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionRevert(revert, kOFS2),
              kDoPhysicalDriveSEDEncryptionRevertSuccess);
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionRevertInfo(revert),
              kUpdatePhysicalDriveSEDEncryptionRevertInfoSuccess);
    VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(revert);
    EXPECT_EQ(DriveWord(kOFS2) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsInOFS),
              kPhysicalDriveEncryptionSEDIsInOFS);
    EXPECT_EQ(DriveWord(kOFS1) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsInOFS), kOwnedBit);

    EXPECT_EQ(VK_DoRevertPhysicalDriveSEDEncryptionPSID(cda(), kOwnedDrive, kPSID.c_str(), kPSID.size() + 1),
              kDoRevertPhysicalDriveSEDEncryptionPSIDSuccess);
    EXPECT_EQ(DriveWord(kOwnedDrive) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsInOFS),
              kPhysicalDriveEncryptionSEDIsInOFS);

    EXPECT_EQ(SEDWrites(),
              (std::vector<std::string>{"8:" + Map({kOFS1, kOFS2}), "6:" + Map({kOFS2}),
                                        "7:" + Record(36).u32(0, kOwnedDrive).text(4, kPSID).hex()}));
}

TEST_F(ManagedSEDDrivesHost, FailedWritesAreReported) {
    {
        FirmwareState s = SEDs();
        s.faults = {FailsSED(8), FailsSED(6)};
        ASSERT_NO_FATAL_FAILURE(Start(s));
        void *own = nullptr, *revert = nullptr;
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(cda(), &own), 0);
        ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionTakeOwnership(own, kOFS1), 1);
        EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionTakeOwnershipInfo(own),
                  kUpdatePhysicalDriveSEDEncryptionTakeOwnershipInfoFailure);
        ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(cda(), &revert), 0);
        ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionRevert(revert, kOwnedDrive), 0);
        EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionRevertInfo(revert),
                  kUpdatePhysicalDriveSEDEncryptionRevertInfoFailed);
        VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(own);
        VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(revert);
        EXPECT_EQ(DriveWord(kOFS1) & kOwnedBit, 0u);
        StopController();
    }
    FirmwareState s = SEDs();
    s.find_drive(kOwnedDrive)->psid = kPSID;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    // The controller refuses a PSID that is not the drive's.
    const std::string wrong = "PSIDWRONG0123456789";
    EXPECT_EQ(VK_DoRevertPhysicalDriveSEDEncryptionPSID(cda(), kOwnedDrive, wrong.c_str(), wrong.size() + 1),
              kDoRevertPhysicalDriveSEDEncryptionPSIDFailure);
    EXPECT_FALSE(Reinitialised());
    EXPECT_EQ(DriveWord(kOwnedDrive) & kOwnedBit, kOwnedBit);
}

TEST_F(ManagedSEDDrivesHost, ImportOneForeignDriveThenEveryOther) {
    FirmwareState s = SEDs();
    s.find_drive(kForeignDrive)->sed_owner_key = kForeignKey;
    s.find_drive(kForeign2)->sed_owner_key = kForeignKey;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    void* import = nullptr;
    ASSERT_EQ(VK_GetPhysicalDriveSEDEncryptionImportForUpdate(cda(), &import), 0);
    ASSERT_EQ(VK_DoPhysicalDriveSEDEncryptionImport(import, kForeignDrive),
              kDoPhysicalDriveSEDEncryptionImportSuccess);
    EXPECT_EQ(VK_UpdatePhysicalDriveSEDEncryptionImportInfo(import, kForeignKey.c_str(),
                                                            kForeignKey.size() + 1, kResetKey.c_str(),
                                                            kResetKey.size() + 1),
              kUpdatePhysicalDriveSEDEncryptionImportInfoSuccess);
    VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(import);
    EXPECT_EQ(DriveWord(kForeignDrive) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsForeign), kOwnedBit);
    EXPECT_EQ(DriveWord(kForeign2) & kPhysicalDriveEncryptionSEDIsForeign,
              kPhysicalDriveEncryptionSEDIsForeign);

    EXPECT_EQ(VK_DoImportControllerForeignSED(cda(), kForeignKey.c_str(), kForeignKey.size() + 1, nullptr, 0),
              kDoImportControllerForeignSEDSuccess);
    EXPECT_EQ(DriveWord(kForeign2) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsForeign), kOwnedBit);
    EXPECT_EQ(VK_CanImportControllerForeignSED(cda(), nullptr, 0, nullptr, 0),
              kCanImportControllerForeignSEDNoForeignOwnedSED);

    const std::string one(1, static_cast<char>(1u << (kForeignDrive % 8)));
    const std::string eight(1, static_cast<char>(1u << (kForeign2 % 8)));
    EXPECT_EQ(
        SEDWrites(),
        (std::vector<std::string>{
            "10:" +
                Record(194).text(kForeignDrive / 8, one).text(128, kForeignKey).text(160, kResetKey).hex(),
            "10:" + Record(194).text(kForeign2 / 8, eight).text(128, kForeignKey).hex()}));
}

// One request names the array's drives that have not failed, with the whole key: one of 32
// characters fills its field, no terminator before the reset key.
TEST_F(ManagedSEDDrivesHost, ForeignArrayImportNamesItsWorkingDrivesWithTheWholeKey) {
    const std::string key32 = "Foreign#Key-0123456789abcdefWXYZ";
    ASSERT_EQ(key32.size(), 32u);
    struct Case {
        const char* name;
        std::string key;
        std::optional<VK_WORD> failed;
        std::string map; // the drives imported, as the request's first byte
        VK_BYTE after;   // what an import asks afterwards
    } const cases[] = {
        {"every drive, a key of 32 characters", key32, std::nullopt, "\x07",
         kCanImportForeignSEDArrayNoForeignLogicalDrives},
        // The failed drive stays foreign, so the array may still be imported.
        {"drive 1 failed", kForeignKey, 1, "\x05", kCanImportForeignSEDArrayAllowed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s = ForeignArray();
        for (VK_WORD d : {0, 1, 2}) {
            s.find_drive(d)->sed_owner_key = c.key;
        }
        if (c.failed) {
            s.find_drive(*c.failed)->device_flags = 0x00;
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_DoImportForeignSEDArray(cda(), 0, c.key.c_str(), c.key.size() + 1, nullptr, 0),
                  kDoImportForeignSEDArraySuccess);
        EXPECT_EQ(SEDWrites(),
                  std::vector<std::string>{"10:" + Record(194).text(0, c.map).text(128, c.key).hex()});
        for (VK_WORD d : {0, 1, 2}) {
            // A drive left out stays foreign.
            if ((c.map[0] >> d) & 1) {
                EXPECT_EQ(DriveWord(d) & (kOwnedBit | kPhysicalDriveEncryptionSEDIsForeign), kOwnedBit) << d;
            } else {
                EXPECT_EQ(DriveWord(d) & kPhysicalDriveEncryptionSEDIsForeign,
                          kPhysicalDriveEncryptionSEDIsForeign)
                    << d;
            }
        }
        EXPECT_EQ(VK_CanImportForeignSEDArray(cda(), 0, nullptr, 0, nullptr, 0), c.after);
        StopController();
    }
}

} // namespace
