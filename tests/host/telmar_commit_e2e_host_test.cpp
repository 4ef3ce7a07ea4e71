// Staged logical-drive changes carried through a real commit: staged with public calls only,
// committed, the controller re-read, and the result compared with values worked out by hand.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;

constexpr std::uint32_t kReserved = 32768;
// The three live RAID 5 drives of array 0: distinct footprints, back to back.
constexpr VK_QWORD kBlocks0 = 1u << 20, kBlocks1 = 1u << 19, kBlocks2 = 1u << 18;
constexpr VK_QWORD kOffset1 = kBlocks0, kOffset2 = kBlocks0 + kBlocks1;
constexpr VK_QWORD kFreeOffset = kOffset2 + kBlocks2; // 1,835,008: a whole MiB of 512-byte blocks
// The smallest member (drive 2) holds 2^24 + 16,384 usable blocks; behind kFreeOffset that leaves
// 14,958,592 blocks per drive, 29,917,184 over RAID 5's two data drives, which come down to whole
// cylinders of 255 x 32 blocks: 3,666 x 8,160. The controller spreads that over the two data drives.
constexpr VK_QWORD kCylinder = 255 * 32;
constexpr VK_QWORD kExpectedSize = 3666 * kCylinder;
static_assert(kExpectedSize <= 2 * ((1u << 24) + 16384u - kFreeOffset) &&
              kExpectedSize + kCylinder > 2 * ((1u << 24) + 16384u - kFreeOffset));
constexpr VK_QWORD kExpectedPerDrive = kExpectedSize / 2;
constexpr VK_WORD kExpectedStrip = 512; // the controller's default 256 KiB strip

// Drives 0-5 of 512-byte blocks, distinct sizes; array 0 on drives 0-2 holds RAID 5 logical drives 0,
// 1 and 2 with 256 KiB strips, the rest of its drives free. RAID 0, 1 and parity RAID offered.
FirmwareState Controller() {
    FirmwareState st;
    st.set_page("drive", {0x08, 0x58, 0x03});
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.reserved_blocks = kReserved;
        d.total_blocks = (1u << 24) + 4096u * (6 - pd) + kReserved;
        d.block_size = 512;
    }
    st.set_page("raid", {0x02, 0x0C, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
    st.identify.max_safe_full_stripe_mb = 16;
    st.expansion.memory_kib = 1u << 16;
    const VK_QWORD blocks[] = {kBlocks0, kBlocks1, kBlocks2};
    const VK_QWORD offsets[] = {0, kOffset1, kOffset2};
    for (VK_WORD n = 0; n < 3; ++n) {
        FwLogicalDrive& ld = st.add_configured_drive(n, {0, 1, 2}, blocks[n], offsets[n]);
        ld.fault_tolerance = 3;
        ld.label = "live drive " + std::to_string(n);
    }
    return st;
}

// Drives 0-2 hard disks holding logical drive 0 (RAID 5), 3 and 4 SSDs holding logical drive 1
// (RAID 1) with the controller cache; IO bypass offered, a cache board present.
FirmwareState SsdController() {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 5; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.total_blocks = (1ull << 24) + 32768 + 8192u * pd;
        d.reserved_blocks = 32768;
        d.block_size = 512;
        if (pd >= 3) {
            d.rpm = 1;
            d.extra_device_flags = 0x20;
        }
    }
    st.set_page("io", {0x02});
    st.cache.board_present = 1;
    FwLogicalDrive& hdd = st.add_configured_drive(0, {0, 1, 2}, 1u << 20);
    hdd.fault_tolerance = 3;
    FwLogicalDrive& ssd = st.add_configured_drive(1, {3, 4}, 1u << 19);
    ssd.fault_tolerance = 2;
    return st;
}

// dwDriveFeatureFlags of the simulated drives.
constexpr std::uint32_t kSED = 0x1, kOwned = 0x800, kOPAL = 0x2000;

// Managed SED on in local mode; six owned OPAL drives. Array 0 on drives 0 and 1 holds logical
// drives 0 and 1, array 1 on drives 2 and 3 logical drive 2; drives 4 and 5 unassigned.
FirmwareState SedController() {
    FirmwareState st;
    st.set_page("managed_sed", {0x07});
    st.set_page("drive", {0x08, 0x58, 0x03});
    st.identify.encryption_status = 0;
    st.identify.managed_sed_mode = 0x3;
    st.managed_sed.master_key = "SedMaster#Key1";
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.total_blocks = (1ull << 24) + 32768 + 4096u * pd;
        d.reserved_blocks = 32768;
        d.block_size = 512;
        d.feature_flags = kSED | kOwned | kOPAL;
    }
    st.add_configured_drive(0, {0, 1}, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(1, {0, 1}, 1u << 19, 1u << 20).fault_tolerance = 2;
    st.add_configured_drive(2, {2, 3}, 1u << 18).fault_tolerance = 2;
    return st;
}

class CommitE2EHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState st = Controller()) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        host().clear_requests();
    }
    // Commits, then reads the controller afresh.
    void CommitAndReread() {
        ASSERT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationOK);
        sent_ = Received();
        VK_UnInitializeCDA(cda());
        ASSERT_EQ(VK_InitializeCDA(cda(), controller_), kInitializeSucceeded);
    }
    FirmwareState& state() { return fw_->fw_state(); }
    const FwLogicalDrive& live(VK_WORD n) {
        const FwLogicalDrive* l = state().find_configured_drive(n);
        EXPECT_NE(l, nullptr) << n;
        static const FwLogicalDrive none;
        return l ? *l : none;
    }
    size_t WritesOf(int opcode) const {
        return std::count_if(sent_.begin(), sent_.end(),
                             [&](const qvsim::BmicCdb& b) { return b.write && b.opcode == opcode; });
    }
    std::string Label(VK_WORD n) {
        char buffer[128] = {};
        const char* got = VK_GetLogicalDriveVolumeLabel(cda(), n, buffer, sizeof buffer);
        return got ? std::string(got) : std::string("<none>");
    }
    // The data of each write of `opcode` (and `detail`, when given) in the order sent.
    std::vector<std::vector<VK_BYTE>> WriteData(int opcode, std::optional<std::uint32_t> detail = {}) {
        std::vector<std::vector<VK_BYTE>> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            const auto b = qvsim::BmicCdb::parse(telmar_host::ParseHex(r.decoded["cdb"].get<std::string>()));
            if (!b || !b->write || b->opcode != opcode || (detail && b->detail != *detail)) {
                continue;
            }
            out.push_back(r.decoded.contains("data_out")
                              ? telmar_host::ParseHex(r.decoded["data_out"].get<std::string>())
                              : std::vector<VK_BYTE>{});
        }
        return out;
    }
    bool SEDEnabled(VK_WORD n) {
        return LOGICAL_DRIVE_SED_ENCRYPTION_STATUS(VK_GetLogicalDriveEncryptionInfo(cda(), n)) &
               kLogicalDriveEncryptionSEDEnabled;
    }
    std::vector<qvsim::BmicCdb> sent_;
};

// A new drive in the free space behind the live ones: RAID 5, default strip, largest size, locked.
TEST_F(CommitE2EHost, NewDriveInFreeSpaceIsCreatedBehindTheLiveOnes) {
    ASSERT_NO_FATAL_FAILURE(Start());
    const VK_WORD n = VK_CreateEditableLogicalDrive(cda());
    ASSERT_EQ(n, 3);
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), n, 0), kSetEditableLogicalDriveArrayOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, kRAID5, 0, true),
              kSetEditableLogicalDriveRAIDLevelOK);
    ASSERT_EQ(VK_LockEditableLogicalDrive(cda(), n), kLockEditableLogicalDriveOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    EXPECT_EQ(WritesOf(0x51), 1u);
    const FwLogicalDrive& made = live(3);
    EXPECT_EQ(made.members, (std::vector<std::uint16_t>{0, 1, 2}));
    EXPECT_EQ(made.fault_tolerance, 3);
    EXPECT_EQ(made.offset, kFreeOffset);
    EXPECT_EQ(made.strip, kExpectedStrip);
    EXPECT_EQ(made.blocks_per_drive, kExpectedPerDrive);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 3, kLogicalDriveSizeBlocks), kExpectedSize);
    EXPECT_EQ(Label(3), "Logical Drive 4");
    // The live drives are untouched.
    EXPECT_EQ(live(2).offset, kOffset2);
    EXPECT_EQ(live(2).blocks_per_drive, kBlocks2);
    EXPECT_EQ(Label(0), "live drive 0");
}

// One existing drive's strip halved, the last one grown into the free space: one change request each,
// and the new geometry is what the controller reports afterwards.
TEST_F(CommitE2EHost, StripChangeAndExtensionEachSendOneChange) {
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_EQ(VK_SetEditableLogicalDriveStripSize(cda(), 0, 256), kSetEditableLogicalDriveStripSizeOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), 2, kEditableLogicalDriveSizeBlocks, 4 * kBlocks2),
              kSetEditableLogicalDriveSizeOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    EXPECT_EQ(WritesOf(0x54), 2u);
    EXPECT_EQ(WritesOf(0x51), 0u);
    EXPECT_EQ(live(0).strip, 256);
    EXPECT_EQ(live(0).blocks_per_drive, kBlocks0);
    EXPECT_EQ(live(1).strip, 512);
    EXPECT_EQ(live(2).strip, 512);
    EXPECT_EQ(live(2).offset, kOffset2);
    // 4 x 2^18 blocks come down to whole cylinders: 128 x 8,160.
    EXPECT_EQ(live(2).blocks_per_drive, 128 * kCylinder / 2);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 2, kLogicalDriveSizeBlocks), 128 * kCylinder);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveSizeBlocks), 2 * kBlocks0);
}

// A new label on an existing drive: one label request, and only that drive's label changes.
TEST_F(CommitE2EHost, LabelChangeSendsOneLabelRequest) {
    ASSERT_NO_FATAL_FAILURE(Start());
    char label[64] = {};
    std::strcpy(label, "Backups Q3-2026");
    ASSERT_EQ(VK_SetEditableLogicalDriveLabel(cda(), 1, label, sizeof label),
              kSetEditableLogicalDriveLabelOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    EXPECT_EQ(WritesOf(0x57), 1u);
    EXPECT_EQ(WritesOf(0x54), 0u);
    EXPECT_EQ(Label(1), "Backups Q3-2026");
    EXPECT_EQ(Label(0), "live drive 0");
    EXPECT_EQ(Label(2), "live drive 2");
}

// IO bypass chosen for the SSD mirror: its accelerator bits go out after the controller-level
// writes, and the drive reads back with IO bypass while the hard-disk drive keeps its cache.
TEST_F(CommitE2EHost, IOBypassIsWrittenAfterTheControllerSettings) {
    ASSERT_NO_FATAL_FAILURE(Start(SsdController()));
    ASSERT_EQ(VK_GetEditableLogicalDriveAccelerator(cda(), 1), kLogicalDriveAcceleratorControllerCache);
    ASSERT_EQ(VK_SetEditableLogicalDriveAccelerator(cda(), 1, kLogicalDriveAcceleratorIOBypass),
              kSetEditableLogicalDriveAcceleratorOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    ptrdiff_t last_controller = -1, bypass = -1;
    size_t ld_writes = 0;
    for (size_t i = 0; i < sent_.size(); ++i) {
        const qvsim::BmicCdb& b = sent_[i];
        if (!b.write) {
            continue;
        }
        if (b.opcode == 0x63 || b.opcode == 0x62) {
            last_controller = static_cast<ptrdiff_t>(i);
        }
        if (b.opcode == 0x51) {
            ++ld_writes;
            EXPECT_EQ(b.lun(), 1);
            bypass = static_cast<ptrdiff_t>(i);
        }
    }
    EXPECT_EQ(ld_writes, 1u);
    ASSERT_GE(last_controller, 0);
    EXPECT_GT(bypass, last_controller);
    EXPECT_EQ(live(1).more_unit_flags & 0x28, 0x08);
    EXPECT_EQ(live(0).more_unit_flags & 0x28, 0);

    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_GetEditableLogicalDriveAccelerator(cda(), 1), kLogicalDriveAcceleratorIOBypass);
    EXPECT_EQ(VK_GetEditableLogicalDriveAccelerator(cda(), 0), kLogicalDriveAcceleratorControllerCache);
}

// SED encryption staged on a live array: one secure-volume request naming exactly that array's
// logical drives (0 and 1 of bitmap byte 0), and they read SED-enabled afterwards.
TEST_F(CommitE2EHost, SEDOnAnExistingArrayNamesItsLogicalDrives) {
    ASSERT_NO_FATAL_FAILURE(Start(SedController()));
    ASSERT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), 0), kCanEnableEditableArraySEDEncryptionAllowed);
    ASSERT_EQ(VK_DoEnableEditableArraySEDEncryption(cda(), 0), kDoEnableEditableArraySEDEncryptionSuccess);
    ASSERT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationOK);

    const auto secure = WriteData(0xE8, 9);
    ASSERT_EQ(secure.size(), 1u);
    EXPECT_EQ(secure[0], (std::vector<VK_BYTE>{0x03, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(WriteData(0x51).size(), 0u);
    VK_UnInitializeCDA(cda());
    ASSERT_EQ(VK_InitializeCDA(cda(), controller_), kInitializeSucceeded);
    EXPECT_TRUE(SEDEnabled(0));
    EXPECT_TRUE(SEDEnabled(1));
    EXPECT_FALSE(SEDEnabled(2));
}

// A new array of owned OPAL drives with SED staged and a new mirror on it: the creation carries the
// SED flag in its configuration flags and the new drive reads SED-enabled; no secure-volume request.
TEST_F(CommitE2EHost, SEDOnANewArrayIsPartOfTheCreation) {
    ASSERT_NO_FATAL_FAILURE(Start(SedController()));
    const VK_WORD a = VK_CreateEditableArray(cda());
    ASSERT_EQ(a, 2);
    const VK_WORD drives[] = {4, 5};
    ASSERT_EQ(VK_AddEditableArrayDataDrives(cda(), a, drives, 2, kExpandTypeAuto),
              kAddEditableArrayDataDrivesOK);
    ASSERT_EQ(VK_CanEnableEditableArraySEDEncryption(cda(), a), kCanEnableEditableArraySEDEncryptionAllowed);
    ASSERT_EQ(VK_DoEnableEditableArraySEDEncryption(cda(), a), kDoEnableEditableArraySEDEncryptionSuccess);
    const VK_WORD n = VK_CreateEditableLogicalDrive(cda());
    ASSERT_EQ(n, 3);
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), n, a), kSetEditableLogicalDriveArrayOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), n, kRAID1, 0, true),
              kSetEditableLogicalDriveRAIDLevelOK);
    ASSERT_EQ(VK_LockEditableLogicalDrive(cda(), n), kLockEditableLogicalDriveOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    const auto created = WriteData(0x51);
    ASSERT_EQ(created.size(), 1u);
    ASSERT_GT(created[0].size(), 57u);
    EXPECT_EQ(created[0][57] & 0x10, 0x10);
    EXPECT_EQ(WriteData(0xE8, 9).size(), 0u);
    EXPECT_EQ(live(3).members, (std::vector<std::uint16_t>{4, 5}));
    EXPECT_TRUE(SEDEnabled(3));
    EXPECT_FALSE(SEDEnabled(0));
}

} // namespace
