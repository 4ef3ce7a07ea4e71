// Direct controller operations and single-field parameter updates against a simulated controller:
// each call, then what the controller received (the request log and the writes it took), then the
// getter read again. Also the reasons each permission function gives, in their order.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pavl_sync_private.h"
#include "ppavl_synchronization.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_cda_internal.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::BmicCdb;
using qvsim::Bytes;
using qvsim::FirmwareState;
using qvsim::FwFault;

constexpr std::array<std::uint8_t, 16> kLogicalId{0x60, 0x0D, 0x1A, 0x00, 0x11, 0x22, 0x33, 0x44,
                                                  0xA0, 0xB1, 0xC2, 0xD3, 0xE4, 0xF5, 0x06, 0x17};
constexpr std::array<std::uint8_t, 16> kDriveId{0x60, 0x0D, 0x1A, 0x00, 0x5A, 0x6B, 0x7C, 0x8D,
                                                0x19, 0x28, 0x37, 0x46, 0x55, 0x64, 0x73, 0x82};
constexpr size_t kPrimaryBootLun = 156;
constexpr size_t kSecondaryBootLun = 172;
constexpr size_t kConnectorMode = 207;

FwFault Failing(VK_BYTE opcode, std::optional<std::uint8_t> function = {}) {
    FwFault f;
    f.bmic = opcode;
    f.function = function;
    f.write = true;
    f.err = 5;
    f.count = 100;
    return f;
}

// Boot volumes offered; logical drive 1 (two drives, RAID 1) carries kLogicalId.
FirmwareState BootState() {
    FirmwareState s;
    s.identify.yet_more_flags |= 0x10000000;
    for (std::uint16_t d = 0; d < 4; ++d) {
        s.add_drive(d);
    }
    s.add_configured_drive(0, {0, 1}, 1000).fault_tolerance = 2;
    s.add_configured_drive(1, {2, 3}, 1000).fault_tolerance = 2;
    s.logical_drives.back().page83_id = kLogicalId;
    return s;
}

// Modes per connector, every connector offering every mode, and one drive a host may boot from.
FirmwareState MixedModeState() {
    FirmwareState s;
    s.identify.extra_flags |= 0x1000;
    s.identify.yet_more_flags |= 0x10000000;
    auto& d = s.add_drive(0, 2);
    d.misc_drive_flags = 0x4100; // exposed to the host
    d.unique_id = kDriveId;
    return s;
}

class DirectHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState s, const std::function<void(qvsim::FwController&)>& configure = {}) {
        StopController();
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(s), configure));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        Clear();
    }
    void Clear() {
        host().clear_requests();
        state().updates.writes.clear();
    }
    FirmwareState& state() { return fw_->fw_state(); }
    _CDA* data() { return _VK_CDA(cda()); }
    const std::vector<qvsim::FwWriteRecord>& Writes() { return state().updates.writes; }

    // The BMIC reads the controller received since the log was cleared, as (opcode, function).
    std::vector<std::pair<int, int>> Reads() {
        std::vector<std::pair<int, int>> out;
        for (const BmicCdb& b : Received()) {
            if (!b.write) {
                out.emplace_back(b.opcode, static_cast<int>(b.detail & 0xFF));
            }
        }
        return out;
    }
    size_t Count(int opcode, bool write) {
        size_t n = 0;
        for (const BmicCdb& b : Received()) {
            n += (b.opcode == opcode && b.write == write) ? 1 : 0;
        }
        return n;
    }
    // Every BMIC command sent, reads and writes alike.
    size_t Sent() { return Received().size(); }

    TelmarLogCapture log_;
};

// The 0x63 write changed exactly the bytes in [offset, offset + expected.size()) of the parameters
// the controller reported before, and to `expected`.
void ExpectOnlyField(const qvsim::FwWriteRecord& write, const Bytes& before, size_t offset, const Bytes& expected) {
    ASSERT_EQ(write.opcode, 0x63);
    ASSERT_EQ(write.data.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        if (i >= offset && i < offset + expected.size()) {
            EXPECT_EQ(write.data[i], expected[i - offset]) << "byte " << i;
        } else {
            EXPECT_EQ(write.data[i], before[i]) << "byte " << i << " is not the field's";
        }
    }
}

// ---- Clock ----

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

TEST_F(DirectHost, ClockRecordIsLocalTimeInBCDAndTheClockFollows) {
    ASSERT_NO_FATAL_FAILURE(Start(FirmwareState{}));
    const time_t when = LocalTime(2023, 1, 17, 9, 5, 7);
    ASSERT_TRUE(VK_SetControllerTime(cda(), static_cast<VK_QWORD>(when)));
    ASSERT_EQ(Writes().size(), 1u);
    const auto& w = Writes()[0];
    EXPECT_EQ(w.opcode, 0xA5);
    EXPECT_EQ(w.detail, 0u);
    EXPECT_EQ(w.lun, 0);
    EXPECT_EQ(w.data, (Bytes{0x3C, 0x48, 0x57, 0x3E, 0x54, 0x44, 0x08, 0x00, 0x09, 0x05, 0x07, 0x00, 0x01, 0x17, 0x20,
                             0x23, 0x44, 0x57, 0x5A, 0x5A}));
    EXPECT_EQ(Reads().size(), 0u) << "nothing is read first";
    // The getter reads the parameters copy, which a clock write leaves alone: read again.
    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    EXPECT_EQ(VK_GetControllerTime(cda()), static_cast<VK_INT64>(when));
}

TEST_F(DirectHost, ClockThatCannotBeCodedSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(FirmwareState{}));
    const VK_INT64 before = VK_GetControllerTime(cda());
    const VK_QWORD cases[] = {
        ~VK_QWORD{0},                                      // no time
        static_cast<VK_QWORD>(INT64_MAX),                  // beyond what the platform converts
        static_cast<VK_QWORD>(LocalTime(10000, 6, 1, 12, 0, 0)), // five-digit year
        static_cast<VK_QWORD>(VK_INT64{-62167219200} - 400 * 86400), // before year 0
    };
    Clear();
    for (const VK_QWORD value : cases) {
        SCOPED_TRACE(static_cast<VK_INT64>(value));
        EXPECT_FALSE(VK_SetControllerTime(cda(), value));
    }
    EXPECT_EQ(Sent(), 0u);
    EXPECT_EQ(VK_GetControllerTime(cda()), before);

    state().faults.push_back(Failing(0xA5));
    EXPECT_FALSE(VK_SetControllerTime(cda(), static_cast<VK_QWORD>(LocalTime(2023, 1, 17, 9, 5, 7))));
    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    EXPECT_EQ(VK_GetControllerTime(cda()), before);
}

// ---- I2C address ----

TEST_F(DirectHost, I2CAddressReasonsThenTheWrite) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_BYTE address;
        VK_BYTE expected;
    };
    const Case cases[] = {
        {"allowed", {}, 0x52, kCanSetControllerI2CAddressAllowed},
        {"the address it has", {}, 0x70, kCanSetControllerI2CAddressAlreadySet},
        {"I2C interface off", [](FirmwareState& s) { s.set_page("oob_command", {0x80, 0x13, 0x00, 0x00, 0x00}); },
         0x52, kCanSetControllerI2CAddressInactive},
        {"no set-address sub-command, interface off too",
         [](FirmwareState& s) { s.set_page("oob_command", {0x80, 0x11, 0x00, 0x00, 0x00}); }, 0x52,
         kCanSetControllerI2CAddressUnsupported},
        {"activation running, nothing else allowed either",
         [](FirmwareState& s) {
             s.ofa.status = 3;
             s.set_page("oob_command", {0x80, 0x11, 0x00, 0x00, 0x00});
         },
         0x70, kCanSetControllerI2CAddressControllerOFAActive},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        if (k.edit) {
            k.edit(s);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanSetControllerI2CAddress(cda(), k.address), k.expected);
        const bool allowed = k.expected == kCanSetControllerI2CAddressAllowed;
        EXPECT_EQ(VK_SetControllerI2CAddress(cda(), k.address) != kFalse, allowed);
        ASSERT_EQ(Writes().size(), allowed ? 1u : 0u);
        if (allowed) {
            EXPECT_EQ(Writes()[0].opcode, 0x80);
            EXPECT_EQ(Writes()[0].detail >> 24, 0x52u);
            EXPECT_EQ(Writes()[0].lun, 0x02) << "the configuration byte goes back as it was";
            EXPECT_EQ(VK_GetControllerI2CAddress(cda()), 0x52);
        }
    }
}

// ---- OOB interface ----

OOBConfiguration Oob(VK_BYTE type, VK_BYTE configuration, VK_BYTE address = 0x62, VK_BYTE reserved = 0x00) {
    OOBConfiguration c{};
    c.interface_type = type;
    c.i2c_configuration.raw = configuration;
    c.slave_address = address;
    c.reserved = reserved;
    return c;
}

// Holds a data area's lock on a thread of its own until released.
class LockHolder {
public:
    explicit LockHolder(PMUTEX_LOCK lock) : thread_([this, lock] {
        _PN_RecursiveMutexLock(lock);
        {
            std::lock_guard g(m_);
            held_ = true;
        }
        cv_.notify_all();
        std::unique_lock u(m_);
        cv_.wait(u, [this] { return release_; });
        _PN_RecursiveMutexUnlock(lock);
    }) {
        std::unique_lock u(m_);
        cv_.wait(u, [this] { return held_; });
    }
    ~LockHolder() {
        {
            std::lock_guard g(m_);
            release_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool held_ = false, release_ = false;
    std::thread thread_;
};

TEST_F(DirectHost, OOBRecordIsRefusedBeforeTheLockOrTheController) {
    ASSERT_NO_FATAL_FAILURE(Start(FirmwareState{}));
    struct Case {
        const char* name;
        std::optional<OOBConfiguration> record;
        VK_DWORD expected;
    };
    const Case cases[] = {
        {"no record", std::nullopt, kCanChangeControllerOOBConfigurationInvalidInput},
        {"interface type 3", Oob(3, 0x00), kCanChangeControllerOOBConfigurationInvalidInterfaceType},
        {"PBSI clock speed 5", Oob(kOOBInterfaceTypePBSI, 0x05), kCanChangeControllerOOBConfigurationInvalidClockSpeed},
        {"MCTP device type 3", Oob(kOOBInterfaceTypeMCTP, 0x03),
         kCanChangeControllerOOBConfigurationInvalidSMBUSDeviceType},
    };
    std::vector<std::future<VK_DWORD>> answers;
    {
        // Another thread holds the lock: an answer that needed it would wait for the holder.
        LockHolder holder(data()->lock);
        for (const Case& k : cases) {
            answers.push_back(std::async(std::launch::async, [this, record = k.record]() mutable {
                return VK_CanChangeControllerOOBConfiguration(cda(), record ? &*record : nullptr);
            }));
        }
        for (size_t i = 0; i < std::size(cases); ++i) {
            EXPECT_EQ(answers[i].wait_for(std::chrono::seconds(5)), std::future_status::ready) << cases[i].name;
        }
    }
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(answers[i].get(), cases[i].expected) << cases[i].name;
    }
    EXPECT_EQ(Sent(), 0u);
    OOBConfiguration slow = Oob(kOOBInterfaceTypePBSI, 0x00);
    EXPECT_EQ(VK_CanChangeControllerOOBConfiguration(cda(), &slow), kCanChangeControllerOOBConfigurationAllowed);
}

TEST_F(DirectHost, OOBControllerReasonsInTheirOrder) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_DWORD expected;
    };
    const Case cases[] = {
        {"no message-interface sub-command, activation running",
         [](FirmwareState& s) {
             s.set_page("oob_command", {0x80, 0x03, 0x01, 0x00, 0x00});
             s.ofa.status = 3;
         },
         kCanChangeControllerOOBConfigurationNotSupported},
        {"the excluded vendor", [](FirmwareState& s) { s.identify.vendor_id = "DLX"; },
         kCanChangeControllerOOBConfigurationNotSupported},
        {"a longer vendor name is not it", [](FirmwareState& s) { s.identify.vendor_id = "DLXA"; },
         kCanChangeControllerOOBConfigurationAllowed},
        {"activation running, status not OK",
         [](FirmwareState& s) {
             s.ofa.status = 3;
             s.identify.even_more_flags |= 0x100;
         },
         kCanChangeControllerOOBConfigurationOFAActive},
        {"status not OK", [](FirmwareState& s) { s.identify.even_more_flags |= 0x100; },
         kCanChangeControllerOOBConfigurationControllerStatusNotOk},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        k.edit(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        OOBConfiguration record = Oob(kOOBInterfaceTypeMCTP, 0xE2);
        EXPECT_EQ(VK_CanChangeControllerOOBConfiguration(cda(), &record), k.expected);
        if (k.expected != kCanChangeControllerOOBConfigurationAllowed) {
            EXPECT_FALSE(VK_DoChangeControllerOOBConfiguration(cda(), &record));
            EXPECT_EQ(record.i2c_configuration.raw, 0xE2) << "a refused record is left as it was";
            EXPECT_TRUE(Writes().empty());
        }
    }
}

TEST_F(DirectHost, OOBChangeTrimsTheRecordAndSetsOnlyThePendingHalf) {
    struct Case {
        const char* name;
        OOBConfiguration record;
        VK_BYTE trimmed;
        std::array<std::uint8_t, 4> pending;
    };
    const Case cases[] = {
        {"PBSI keeps four bits", Oob(kOOBInterfaceTypePBSI, 0xFB, 0x62, 0x05), 0x0B, {0x01, 0x0B, 0x62, 0x05}},
        {"MCTP keeps five bits", Oob(kOOBInterfaceTypeMCTP, 0xF6, 0x64), 0x16, {0x02, 0x16, 0x64, 0x00}},
        {"disabled keeps five bits", Oob(kOOBInterfaceTypeDisabled, 0xE7, 0x66), 0x07, {0xFF, 0x07, 0x66, 0x00}},
        {"reset clears the pending bytes", Oob(kOOBInterfaceTypeReset, 0xFF, 0x68, 0x09), 0xFF, {0, 0, 0, 0}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        s.oob_pending = {0x02, 0x11, 0x4E, 0x00};
        ASSERT_NO_FATAL_FAILURE(Start(s));
        OOBConfiguration record = k.record;
        ASSERT_TRUE(VK_DoChangeControllerOOBConfiguration(cda(), &record));
        EXPECT_EQ(record.i2c_configuration.raw, k.trimmed);
        ASSERT_EQ(Writes().size(), 1u);
        EXPECT_EQ(Writes()[0].opcode, 0x80);
        EXPECT_EQ(Writes()[0].data, (Bytes{0x01, 0x02, 0x70, 0x00, k.pending[0], k.pending[1], k.pending[2],
                                           k.pending[3]}))
            << "the active half goes back as it was read";
        OOBConfiguration active{}, pending{};
        EXPECT_EQ(VK_GetControllerPendingOOBConfiguration(cda(), &pending), kGetControllerOOBConfigurationSuccess);
        EXPECT_EQ(VK_GetControllerActiveOOBConfiguration(cda(), &active), kGetControllerOOBConfigurationSuccess);
        EXPECT_EQ(0, std::memcmp(&pending, k.pending.data(), 4));
        EXPECT_EQ(active.slave_address, 0x70);
    }
}

// ---- Boot volumes ----

TEST_F(DirectHost, PrimaryBootVolumeTakesTheLogicalDrivesId) {
    ASSERT_NO_FATAL_FAILURE(Start(BootState()));
    const Bytes before = qvsim::fw_controller_parameters(state());
    EXPECT_EQ(VK_CanSetBootableVolume(cda(), kBootableVolumePrecedencePrimary, kBootableVolumeDriveTypeLogical, 1),
              kSetBootableVolumeOperationAllowed);
    ASSERT_TRUE(VK_DoSetBootableVolume(cda(), kBootableVolumePrecedencePrimary, kBootableVolumeDriveTypeLogical, 1));
    ASSERT_EQ(Writes().size(), 1u);
    ExpectOnlyField(Writes()[0], before, kPrimaryBootLun, Bytes(kLogicalId.begin(), kLogicalId.end()));
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary,
                                               kBootableVolumeDriveTypeLogical),
              1);
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 1), kBootableVolumePrecedencePrimary);

    // The same id again: read, compared, nothing written.
    Clear();
    EXPECT_TRUE(VK_DoSetBootableVolume(cda(), kBootableVolumePrecedencePrimary, kBootableVolumeDriveTypeLogical, 1));
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(log_.Count("No change to precedence:1 boot volumes"), 1u);

    // Secondary as well, then both cleared by the drive number.
    ASSERT_TRUE(VK_DoSetBootableVolume(cda(), kBootableVolumePrecedenceSecondary, kBootableVolumeDriveTypeLogical, 1));
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 1), kBootableVolumePrecedenceAll);
    Clear();
    EXPECT_TRUE(_VK_ClearBootVolume(cda(), kBootableVolumeDriveTypeLogical, 0)) << "not a boot volume";
    EXPECT_TRUE(Writes().empty());
    EXPECT_TRUE(_VK_ClearBootVolume(cda(), kBootableVolumeDriveTypeLogical, 1));
    ASSERT_EQ(Writes().size(), 1u);
    EXPECT_EQ(Bytes(Writes()[0].data.begin() + kPrimaryBootLun, Writes()[0].data.begin() + kSecondaryBootLun + 16),
              Bytes(32, 0));
    EXPECT_EQ(VK_GetLogicalDriveBootPriority(cda(), 1), kBootableVolumePrecedenceNone);
}

TEST_F(DirectHost, BootVolumeReasonsInTheirOrder) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_BYTE precedence, type;
        VK_WORD number;
        VK_BYTE expected;
    };
    const auto no_support = [](FirmwareState& s) { s.identify.yet_more_flags &= ~0x10000000u; };
    const auto ofa = [](FirmwareState& s) {
        s.ofa.status = 3;
        s.identify.yet_more_flags &= ~0x10000000u;
    };
    const Case cases[] = {
        {"activation running, no boot support", ofa, 1, 0, 1, kSetBootableVolumeOperationControllerOFAActive},
        {"no boot support, precedence 4", no_support, 4, 0, 1, kSetBootableVolumeUnsupportedOperation},
        {"precedence 0", {}, 0, 0, 1, kSetBootableVolumeUnsupportedPrecedence},
        {"precedence 4, drive type 7", {}, 4, 7, 1, kSetBootableVolumeUnsupportedPrecedence},
        {"both precedences", {}, 3, 0, 0, kSetBootableVolumeOperationAllowed},
        {"a logical drive that is not there", {}, 1, 0, 5, kSetBootableVolumeInvalidLogicalDrive},
        {"a failed logical drive", [](FirmwareState& s) { s.logical_drives.back().unit_status = 1; }, 1, 0, 1,
         kSetBootableVolumeInvalidLogicalDrive},
        {"a drive without mixed mode, even one a host could boot",
         [](FirmwareState& s) { s.find_drive(2)->misc_drive_flags = 0x4100; }, 1, 1, 2,
         kSetBootableVolumeUnsupportedDriveType},
        {"a remote volume that is not listed", {}, 2, 2, 0, kSetBootableVolumeInvalidRemoteVolume},
        {"drive type 3", {}, 1, 3, 0, kSetBootableVolumeUnsupportedDriveType},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s = BootState();
        if (k.edit) {
            k.edit(s);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanSetBootableVolume(cda(), k.precedence, k.type, k.number), k.expected);
        if (k.expected != kSetBootableVolumeOperationAllowed) {
            EXPECT_FALSE(VK_DoSetBootableVolume(cda(), k.precedence, k.type, k.number));
            EXPECT_TRUE(Writes().empty());
        }
    }
}

TEST_F(DirectHost, PhysicalAndRemoteBootVolumesAndClearing) {
    FirmwareState s = MixedModeState();
    const std::array<std::uint8_t, 16> remote{0x60, 0x0D, 0x1A, 0x00, 0x55, 0x66, 0x77, 0x88,
                                              0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x60, 0x71};
    s.add_logical_drive(7, true).unique_id = remote;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    ASSERT_TRUE(VK_DoSetBootableVolume(cda(), kBootableVolumePrecedencePrimary, kBootableVolumeDriveTypePhysical, 0));
    ASSERT_TRUE(VK_DoSetBootableVolume(cda(), kBootableVolumePrecedenceSecondary, kBootableVolumeDriveTypeRemote, 0));
    ASSERT_EQ(Writes().size(), 2u);
    EXPECT_EQ(Bytes(Writes()[0].data.begin() + kPrimaryBootLun, Writes()[0].data.begin() + kPrimaryBootLun + 16),
              Bytes(kDriveId.begin(), kDriveId.end()));
    EXPECT_EQ(Bytes(Writes()[1].data.begin() + kSecondaryBootLun, Writes()[1].data.begin() + kSecondaryBootLun + 16),
              Bytes(remote.begin(), remote.end()));
    EXPECT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 0), kBootableVolumePrecedencePrimary);
    EXPECT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedenceSecondary,
                                               kBootableVolumeDriveTypeRemote),
              0);

    EXPECT_EQ(VK_CanClearBootableVolume(cda(), 4), kClearBootableVolumeUnsupportedPrecedence);
    EXPECT_FALSE(VK_DoClearBootableVolume(cda(), 0));
    ASSERT_TRUE(VK_DoClearBootableVolume(cda(), kBootableVolumePrecedenceSecondary));
    EXPECT_EQ(state().parameters.secondary_boot_lun, (std::array<std::uint8_t, 16>{}));
    EXPECT_EQ(state().parameters.primary_boot_lun, kDriveId) << "the other precedence stays";

    FirmwareState without = s;
    without.identify.yet_more_flags &= ~0x10000000u;
    ASSERT_NO_FATAL_FAILURE(Start(without));
    EXPECT_EQ(VK_CanClearBootableVolume(cda(), 1), kClearBootableVolumeUnsupportedOperation);
    without.ofa.status = 3;
    ASSERT_NO_FATAL_FAILURE(Start(without));
    EXPECT_EQ(VK_CanClearBootableVolume(cda(), 1), kClearBootableVolumeOperationControllerOFAActive);
}

// A boot id that names no volume is not "found" as device 0xFFFF and cleared by it.
TEST_F(DirectHost, ClearingNoDeviceLeavesADanglingBootIdAlone) {
    FirmwareState s = BootState();
    s.parameters.primary_boot_lun = kDriveId; // no logical drive has it
    ASSERT_NO_FATAL_FAILURE(Start(s));
    ASSERT_EQ(VK_GetControllerBootVolumeNumber(cda(), kBootableVolumePrecedencePrimary,
                                               kBootableVolumeDriveTypeLogical),
              0xFFFF);
    EXPECT_TRUE(_VK_ClearBootVolume(cda(), kBootableVolumeDriveTypeLogical, 0xFFFF));
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(state().parameters.primary_boot_lun, kDriveId);
}

// An id of any size but 16 could be read short or past its end: nothing is read or written.
TEST_F(DirectHost, BootVolumeIdOfAnotherSizeWritesNothing) {
    ASSERT_NO_FATAL_FAILURE(Start(BootState()));
    const VK_BYTE id[32] = {0x60, 0x0D};
    for (const VK_WORD size : {VK_WORD{8}, VK_WORD{15}, VK_WORD{17}, VK_WORD{32}}) {
        SCOPED_TRACE(size);
        EXPECT_FALSE(__VK_SetBootableVolume(cda(), kBootableVolumePrecedenceAll, id, size));
    }
    EXPECT_EQ(Sent(), 0u);
    EXPECT_EQ(log_.Count("primary_boot_lun and volume_id size don't match."), 4u);
    EXPECT_EQ(log_.Count("secondary_boot_lun and volume_id size don't match."), 4u);

    state().faults.push_back(Failing(0x63));
    EXPECT_FALSE(__VK_SetBootableVolume(cda(), kBootableVolumePrecedencePrimary, id, 16));
    EXPECT_EQ(log_.Count("Failed to set precedence:1 boot volumes"), 1u);
}

// ---- Operating mode ----

TEST_F(DirectHost, ModeReasons) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_BYTE mode;
        VK_BYTE expected;
    };
    const auto three_drives_encrypted = [](FirmwareState& s) {
        for (std::uint16_t d = 0; d < 3; ++d) {
            s.add_drive(d);
            s.add_configured_drive(d, {d}, 1000);
        }
        s.set_page("encryption", {0x41});
        s.identify.encryption_status = 0x800;
    };
    const Case cases[] = {
        {"mode 3", {}, 3, kChangeControllerModeUnsupportedOperation},
        {"no connector offers HBA", [](FirmwareState& s) {
             for (auto& c : s.subsystem.connectors) {
                 c.mode_support = 0x01;
             }
         }, kControllerModeHBA, kChangeControllerModeUnsupportedMode},
        {"HBA with logical drives and encryption", three_drives_encrypted, kControllerModeHBA, 0x30},
        {"HBA with logical drives", [](FirmwareState& s) {
             s.add_drive(0);
             s.add_configured_drive(0, {0}, 1000);
         }, kControllerModeHBA, kChangeControllerModeLogicalDrivesExist},
        {"HBA pending, logical drives and encryption",
         [three_drives_encrypted](FirmwareState& s) {
             three_drives_encrypted(s);
             s.parameters.connector_mode.fill(kConnectorModeHBA);
         },
         kControllerModeHBA, kChangeControllerModeSelectedModePending},
        {"activation running before the pending mode",
         [](FirmwareState& s) {
             s.ofa.status = 3;
             s.parameters.connector_mode.fill(kConnectorModeHBA);
         },
         kControllerModeHBA, kChangeControllerModeControllerOFAActive},
        {"RAID from HBA pending, with logical drives", [three_drives_encrypted](FirmwareState& s) {
             three_drives_encrypted(s);
             s.parameters.connector_mode.fill(kConnectorModeHBA);
         }, kControllerModeRAID, kChangeControllerModeOperationAllowed},
        {"mixed with logical drives", three_drives_encrypted, kControllerModeMixed,
         kChangeControllerModeOperationAllowed},
        {"HBA without logical drives", {}, kControllerModeHBA, kChangeControllerModeOperationAllowed},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        s.identify.extra_flags |= 0x1000; // connectors report the modes they offer
        if (k.edit) {
            k.edit(s);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanChangeControllerMode(cda(), k.mode), k.expected);
    }
}

TEST_F(DirectHost, ModeSwitchWritesThenReinitialises) {
    ASSERT_NO_FATAL_FAILURE(Start(MixedModeState()));
    const Bytes before = qvsim::fw_controller_parameters(state());
    ASSERT_TRUE(VK_DoChangeControllerMode(cda(), kControllerModeHBA));
    ASSERT_EQ(Writes().size(), 1u);
    ExpectOnlyField(Writes()[0], before, kConnectorMode, Bytes(16, kConnectorModeHBA));
    // The write, then the re-initialisation's reads from the start.
    const auto sent = Received();
    size_t write = sent.size();
    for (size_t i = 0; i < sent.size(); ++i) {
        if (sent[i].write && sent[i].opcode == 0x63) {
            write = i;
        }
    }
    ASSERT_LT(write + 1, sent.size());
    EXPECT_EQ(sent[write + 1].opcode, 0x11);
    EXPECT_FALSE(sent[write + 1].write);
    EXPECT_EQ(static_cast<MUTEX_LOCK*>(data()->lock)->lock_depth, 0);
    EXPECT_EQ(VK_GetControllerModeInfo(cda()) & kControllerModePendingMask, kControllerModePendingHBA);

    // Refused: HBA is pending now. Nothing written, nothing re-read, the lock let go.
    Clear();
    EXPECT_FALSE(VK_DoChangeControllerMode(cda(), kControllerModeHBA));
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Count(0x11, false), 0u);
    EXPECT_EQ(static_cast<MUTEX_LOCK*>(data()->lock)->lock_depth, 0);
}

TEST_F(DirectHost, SwitchToRAIDClearsEveryDriveAsBootVolume) {
    FirmwareState s = MixedModeState();
    const std::array<std::uint8_t, 16> second{0x60, 0x0D, 0x1A, 0x00, 0x91, 0xA2, 0xB3, 0xC4,
                                              0xD5, 0xE6, 0xF7, 0x08, 0x19, 0x2A, 0x3B, 0x4C};
    auto& d = s.add_drive(1, 2);
    d.misc_drive_flags = 0x4100;
    d.unique_id = second;
    s.parameters.connector_mode.fill(kConnectorModeHBA);
    s.parameters.primary_boot_lun = kDriveId;
    s.parameters.secondary_boot_lun = second;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    ASSERT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 0), kBootableVolumePrecedencePrimary);
    ASSERT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 1), kBootableVolumePrecedenceSecondary);
    ASSERT_TRUE(VK_DoChangeControllerMode(cda(), kControllerModeRAID));
    ASSERT_EQ(Writes().size(), 3u) << "the mode, then each drive cleared where it is a boot volume";
    EXPECT_EQ(Bytes(Writes()[0].data.begin() + kConnectorMode, Writes()[0].data.begin() + kConnectorMode + 16),
              Bytes(16, kConnectorModeRAID));
    EXPECT_EQ(state().parameters.primary_boot_lun, (std::array<std::uint8_t, 16>{}));
    EXPECT_EQ(state().parameters.secondary_boot_lun, (std::array<std::uint8_t, 16>{}));
    EXPECT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 0), kBootableVolumePrecedenceNone);
    EXPECT_EQ(VK_GetPhysicalDriveBootPriority(cda(), 1), kBootableVolumePrecedenceNone);

    // A failed switch clears nothing.
    s.parameters.connector_mode.fill(kConnectorModeHBA);
    ASSERT_NO_FATAL_FAILURE(Start(s));
    state().faults.push_back(Failing(0x63));
    EXPECT_FALSE(VK_DoChangeControllerMode(cda(), kControllerModeRAID));
    EXPECT_EQ(state().parameters.primary_boot_lun, kDriveId);
}

TEST_F(DirectHost, ModeBitsWithoutModesPerConnector) {
    struct Case {
        const char* name;
        bool vesk;
        std::uint8_t nvram;
        VK_BYTE mode;
        std::uint8_t written;
    };
    const Case cases[] = {
        {"HBA-capable to HBA", false, 0x41, kControllerModeHBA, 0x4D},
        {"VeskHBA-capable to HBA", true, 0x45, kControllerModeHBA, 0x49},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        s.feature_pages.clear();
        s.identify.even_more_flags &= ~0x80000000u;
        s.identify.yet_more_flags |= 0x02000000;
        if (k.vesk) {
            s.identify.extra_flags |= 0x20;
        }
        s.parameters.nvram_flags = k.nvram;
        ASSERT_NO_FATAL_FAILURE(Start(s));
        const VK_WORD word = VK_GetControllerModeInfo(cda());
        ASSERT_EQ((word & kControllerModeSupportsVeskHBAMode) != 0, k.vesk) << std::hex << word;
        if (!VK_DoChangeControllerMode(cda(), k.mode)) {
            ADD_FAILURE() << "refused: " << int(VK_CanChangeControllerMode(cda(), k.mode));
            continue;
        }
        ASSERT_EQ(Writes().size(), 1u);
        EXPECT_EQ(Writes()[0].data[123], k.written);
    }
}

// ---- Power mode ----

TEST_F(DirectHost, PowerModeReasons) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        VK_BYTE mode;
        VK_BYTE expected;
    };
    const Case cases[] = {
        {"3 names no mode", {}, 3, kChangePowerModeUnsupportedMode},
        {"balanced while balanced is pending", [](FirmwareState& s) { s.power.operational = 2; }, 2,
         kChangePowerModeSelectedModePending},
        {"balanced while it is only current", [](FirmwareState& s) { s.power.configured = 2; }, 2,
         kChangePowerModeOperationAllowed},
        {"minimum not offered", [](FirmwareState& s) { s.set_page("power_management", {0x05, 0x01, 0x0F}); }, 1,
         kChangePowerModeUnsupportedMode},
        {"activation running", [](FirmwareState& s) { s.ofa.status = 3; }, 1, kChangePowerModeControllerOFAActive},
        {"minimum", {}, 1, kChangePowerModeOperationAllowed},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s;
        if (k.edit) {
            k.edit(s);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(VK_CanChangePowerMode(cda(), k.mode), k.expected);
    }
}

TEST_F(DirectHost, PowerModeWriteDropsOnlyThePowerModeCopy) {
    ASSERT_NO_FATAL_FAILURE(Start(FirmwareState{}));
    ASSERT_TRUE(VK_PendingPowerModeIsMax(cda()));
    ASSERT_EQ(VK_CanChangePowerMode(cda(), kSetPowerModeMinimumPower), kChangePowerModeOperationAllowed);
    ASSERT_TRUE(VK_RequestSenseControllerParametersBuffer(cda()));
    const VK_DWORD flags = telmar::BufferFlags(data());
    Clear();
    ASSERT_TRUE(VK_DoChangePowerMode(cda(), kSetPowerModeMinimumPower));
    ASSERT_EQ(Writes().size(), 1u);
    EXPECT_EQ(Writes()[0].opcode, 0xEE);
    EXPECT_EQ(Writes()[0].detail, 0u);
    EXPECT_EQ(Writes()[0].data, (Bytes{0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(telmar::BufferFlags(data()), flags & ~kCDAValidPowerMode);
    Clear();
    EXPECT_TRUE(VK_PendingPowerModeIsMin(cda()));
    EXPECT_EQ(Reads(), (std::vector<std::pair<int, int>>{{0xEE, 1}})) << "only the power mode is read again";

    state().faults.push_back(Failing(0xEE, 0));
    const VK_DWORD kept = telmar::BufferFlags(data());
    EXPECT_FALSE(VK_DoChangePowerMode(cda(), kSetPowerModeBalanced));
    EXPECT_EQ(telmar::BufferFlags(data()), kept);
}

// ---- Single-field parameter updates ----

// Supports every one of the six settings, with logical drives, and values that differ per field.
FirmwareState FieldsState() {
    FirmwareState s;
    s.add_drive(0);
    s.add_configured_drive(0, {0}, 1000);
    s.set_page("io", {0x43});
    s.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x81, 0x00});
    s.parameters.os_bootable_drives = 1;
    s.parameters.expander_scan_timeout = 600;
    s.parameters.expander_min_scan = 30;
    s.parameters.pcie_ordering = {0x01, 0x00};
    s.parameters.pcie_max_read_request = 3;
    s.parameters.pcie_mrrs_override = 0;
    s.parameters.more_nvram_flags = 0x00A00005;
    s.parameters.preboot_health_mode = 0;
    return s;
}

struct FieldRow {
    const char* name;
    std::function<VK_BYTE(PCDA)> can;
    VK_BYTE allowed;
    std::function<VK_BYTE(PCDA)> write;
    VK_BYTE success, failure;
    size_t offset;
    Bytes field;
    std::function<VK_QWORD(PCDA)> getter;
    VK_QWORD read_back;
};

std::vector<FieldRow> FieldRows() {
    return {
        {"OS-bootable count", [](PCDA c) { return VK_CanSetControllerOSBootableDriveCount(c, 3); }, 1,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerOSBootableDriveCount(c, 3)); }, kTrue, kFalse, 223,
         {0x03}, [](PCDA c) { return VK_GetControllerOSBootableDriveCount(c); }, 3},
        {"expander scan duration at the maximum",
         [](PCDA c) { return VK_CanSetControllerExpanderMinimumScanDuration(c, 600); }, 0,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerExpanderMinimumScanDuration(c, 600)); }, kTrue,
         kFalse, 286, {0x58, 0x02}, [](PCDA c) { return VK_GetControllerExpanderMinimumScanDuration(c); }, 600},
        {"PCIe ordering relaxed", [](PCDA c) { return VK_CanChangeControllerPCIeOrdering(c, 1); }, 1,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_DoChangeControllerPCIeOrdering(c, 1)); }, kTrue, kFalse, 291,
         {0x01}, [](PCDA c) { return VK_GetControllerPCIeOrdering(c); }, 0x33},
        {"read request size 256", [](PCDA c) { return VK_CanSetControllerMaxReadRequestSize(c, 2); }, 1,
         [](PCDA c) { return VK_SetControllerMaxReadRequestSize(c, 2); }, 1, 2, 294, {0x02},
         [](PCDA c) { return VK_GetControllerPendingMaxReadRequestSize(c); }, 256},
        {"event log keeps the newest", [](PCDA c) { return VK_CanSetControllerPersistentEventLogPolicy(c, 2); }, 0,
         [](PCDA c) { return VK_SetControllerPersistentEventLogPolicy(c, 2); }, 0, 1, 200, {0x05, 0x00, 0xA1, 0x00},
         [](PCDA c) { return VK_GetControllerPersistentEventLogPolicy(c); }, 2},
        {"UEFI health reporting disabled",
         [](PCDA c) { return VK_CanChangeControllerUEFIDriverHealthReporting(c, 2); }, 1,
         [](PCDA c) { return VK_DoChangeControllerUEFIDriverHealthReporting(c, 2); }, 1, 2, 295, {0x01},
         [](PCDA c) { return VK_GetControllerUEFIDriverHealthReportingStatus(c); }, 2},
    };
}

TEST_F(DirectHost, EachFieldUpdateWritesOnlyItsField) {
    for (const FieldRow& row : FieldRows()) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(FieldsState()));
        const Bytes before = qvsim::fw_controller_parameters(state());
        EXPECT_EQ(row.can(cda()), row.allowed);
        EXPECT_EQ(row.write(cda()), row.success);
        ASSERT_EQ(Writes().size(), 1u);
        ExpectOnlyField(Writes()[0], before, row.offset, row.field);
        EXPECT_EQ(row.getter(cda()), row.read_back);
    }
}

TEST_F(DirectHost, EachFieldUpdateAnswersAFailedWriteInItsConvention) {
    const char* const kLines[] = {
        "Failed to set number of OS bootable drives to 3",
        nullptr,
        "Failed to change controller PCIe ordering to relaxed",
        "Failed to set controller max read request size to 256 bytes",
        "Failed to set persistent event log policy to  Keep Newest",
        nullptr,
    };
    const auto rows = FieldRows();
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        FirmwareState s = FieldsState();
        s.faults.push_back(Failing(0x63));
        ASSERT_NO_FATAL_FAILURE(Start(s));
        TelmarLogCapture::lines().clear();
        EXPECT_EQ(rows[i].write(cda()), rows[i].failure);
        EXPECT_EQ(Count(0x63, true), 1u);
        if (kLines[i] != nullptr) {
            EXPECT_EQ(log_.Count(kLines[i]), 1u);
        } else {
            EXPECT_EQ(log_.Count("Failed to"), 0u);
        }
    }
}

TEST_F(DirectHost, FieldUpdateRefusals) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> edit;
        std::function<VK_BYTE(PCDA)> can;
        VK_BYTE reason;
        std::function<VK_BYTE(PCDA)> write;
        VK_BYTE result;
    };
    const auto unsupported = [](FirmwareState& s) {
        s.set_page("set_controller_params", {0x00, 0x00, 0x00, 0x00});
        s.set_page("io", {0x03});
        s.set_page("miscellaneous", {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00});
    };
    const Case cases[] = {
        {"OS-bootable count it has", {}, [](PCDA c) { return VK_CanSetControllerOSBootableDriveCount(c, 1); }, 2,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerOSBootableDriveCount(c, 1)); }, kFalse},
        {"OS-bootable count during an activation", [](FirmwareState& s) { s.ofa.status = 3; },
         [](PCDA c) { return VK_CanSetControllerOSBootableDriveCount(c, 3); }, 3,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerOSBootableDriveCount(c, 3)); }, kFalse},
        {"scan duration above the maximum", {},
         [](PCDA c) { return VK_CanSetControllerExpanderMinimumScanDuration(c, 601); }, 3,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerExpanderMinimumScanDuration(c, 601)); }, kFalse},
        {"scan duration it has", {}, [](PCDA c) { return VK_CanSetControllerExpanderMinimumScanDuration(c, 30); }, 2,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerExpanderMinimumScanDuration(c, 30)); }, kFalse},
        {"scan duration not offered", unsupported,
         [](PCDA c) { return VK_CanSetControllerExpanderMinimumScanDuration(c, 60); }, 1,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_SetControllerExpanderMinimumScanDuration(c, 60)); }, kFalse},
        {"PCIe ordering 2", {}, [](PCDA c) { return VK_CanChangeControllerPCIeOrdering(c, 2); }, 4,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_DoChangeControllerPCIeOrdering(c, 2)); }, kFalse},
        {"relaxed pending while strict is current",
         [](FirmwareState& s) { s.parameters.pcie_ordering = {0x00, 0x01}; },
         [](PCDA c) { return VK_CanChangeControllerPCIeOrdering(c, 1); }, 3,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_DoChangeControllerPCIeOrdering(c, 1)); }, kFalse},
        {"PCIe ordering not offered, value 2", unsupported,
         [](PCDA c) { return VK_CanChangeControllerPCIeOrdering(c, 2); }, 2,
         [](PCDA c) { return static_cast<VK_BYTE>(VK_DoChangeControllerPCIeOrdering(c, 2)); }, kFalse},
        {"read request size 6", {}, [](PCDA c) { return VK_CanSetControllerMaxReadRequestSize(c, 6); }, 4,
         [](PCDA c) { return VK_SetControllerMaxReadRequestSize(c, 6); }, 2},
        {"read request size already pending", {}, [](PCDA c) { return VK_CanSetControllerMaxReadRequestSize(c, 3); },
         3, [](PCDA c) { return VK_SetControllerMaxReadRequestSize(c, 3); }, 2},
        {"read request size not offered, value 7", unsupported,
         [](PCDA c) { return VK_CanSetControllerMaxReadRequestSize(c, 7); }, 2,
         [](PCDA c) { return VK_SetControllerMaxReadRequestSize(c, 7); }, 2},
        {"event log policy 3", {}, [](PCDA c) { return VK_CanSetControllerPersistentEventLogPolicy(c, 3); }, 2,
         [](PCDA c) { return VK_SetControllerPersistentEventLogPolicy(c, 3); }, 1},
        {"event log policy it has", {}, [](PCDA c) { return VK_CanSetControllerPersistentEventLogPolicy(c, 1); }, 3,
         [](PCDA c) { return VK_SetControllerPersistentEventLogPolicy(c, 1); }, 1},
        {"event log policy not offered, value 3", unsupported,
         [](PCDA c) { return VK_CanSetControllerPersistentEventLogPolicy(c, 3); }, 1,
         [](PCDA c) { return VK_SetControllerPersistentEventLogPolicy(c, 3); }, 1},
        {"UEFI value 0", {}, [](PCDA c) { return VK_CanChangeControllerUEFIDriverHealthReporting(c, 0); }, 3,
         [](PCDA c) { return VK_DoChangeControllerUEFIDriverHealthReporting(c, 0); }, 2},
        {"UEFI value 0 not offered", unsupported,
         [](PCDA c) { return VK_CanChangeControllerUEFIDriverHealthReporting(c, 0); }, 2,
         [](PCDA c) { return VK_DoChangeControllerUEFIDriverHealthReporting(c, 0); }, 2},
        {"UEFI value it has", {}, [](PCDA c) { return VK_CanChangeControllerUEFIDriverHealthReporting(c, 1); }, 4,
         [](PCDA c) { return VK_DoChangeControllerUEFIDriverHealthReporting(c, 1); }, 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        FirmwareState s = FieldsState();
        if (k.edit) {
            k.edit(s);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(k.can(cda()), k.reason);
        EXPECT_EQ(k.write(cda()), k.result);
        EXPECT_TRUE(Writes().empty());
    }
}

TEST_F(DirectHost, DefaultReadRequestSizeIsAlwaysAllowed) {
    FirmwareState s = FieldsState();
    s.parameters.pcie_mrrs_override = 0; // the default is what is pending
    ASSERT_NO_FATAL_FAILURE(Start(s));
    EXPECT_EQ(VK_CanSetControllerMaxReadRequestSize(cda(), kMaxReadRequestSizeTypeDefault), 1);
    EXPECT_EQ(VK_SetControllerMaxReadRequestSize(cda(), kMaxReadRequestSizeTypeDefault), 1);
    EXPECT_EQ(Count(0x63, true), 1u);
}

TEST_F(DirectHost, OSBootableCountReinitialisesEvenWhenRefused) {
    for (const VK_BYTE count : {VK_BYTE{1}, VK_BYTE{4}}) {
        SCOPED_TRACE(int(count));
        ASSERT_NO_FATAL_FAILURE(Start(FieldsState()));
        ASSERT_TRUE(VK_RequestSenseCacheConfigStatusBuffer(cda()));
        Clear();
        EXPECT_EQ(VK_SetControllerOSBootableDriveCount(cda(), count) != kFalse, count == 4);
        // Re-initialising reads identify, the parameters and the cache status again.
        EXPECT_GE(Count(0x11, false), 1u);
        EXPECT_GE(Count(0xC1, false), 1u);
        EXPECT_EQ(static_cast<MUTEX_LOCK*>(data()->lock)->lock_depth, 0);
    }
    // A missing copy is its soft assertion, and still re-initialises.
    FirmwareState s = FieldsState();
    ASSERT_NO_FATAL_FAILURE(Start(s));
    FwFault read;
    read.bmic = 0x64;
    read.write = false;
    read.err = 5;
    read.nth = 2; // the permission check reads it first
    state().faults.push_back(read);
    data()->flags[kCDAFlagsBuffers] &= ~kCDAValidControllerParameters;
    EXPECT_FALSE(VK_SetControllerOSBootableDriveCount(cda(), 5));
    EXPECT_EQ(log_.Count("Assertion 'update_buffer != ((void *)0)' failed: Failed to get buffer for ctrl OS boot "
                         "drive count buffer"),
              1u);
    EXPECT_TRUE(Writes().empty());
}

} // namespace
