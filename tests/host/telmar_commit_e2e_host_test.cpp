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
#include "ptelm_status.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telmar_encryption_host.h"
#include "telmar_host_fixture.h"

namespace {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;
using telmar_encryption_host::kOPAL;
using telmar_encryption_host::kOwned;
using telmar_encryption_host::kSED;
using telmar_encryption_host::ManagedSEDLocal;

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

// Managed SED on in local mode; six owned OPAL drives. Array 0 on drives 0 and 1 holds logical
// drives 0 and 1, array 1 on drives 2 and 3 logical drive 2; drives 4 and 5 unassigned.
FirmwareState SedController() {
    FirmwareState st;
    ManagedSEDLocal(st, "SedMaster#Key1");
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

// The miscellaneous feature page with logical-drive moves offered.
const std::vector<std::uint8_t> kMovesPage = {0x12, 0x0B, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00};
// Logical drive 3, alone on array 1.
constexpr VK_QWORD kBlocks3 = 1u << 17;

// Automatic queue depth, medium expand priority and the default bypass threshold, as a commit
// writes them back: the controller parameters need no rewrite, so only the layout changes go out.
void SettleParameters(FirmwareState& st) {
    st.parameters.queue_depth = 0xFFFF;
    st.parameters.expand_priority = 64;
    st.parameters.wcbt = 65;
}

// Controller() with moves offered and settled parameters, a second array on drives 3-5 holding RAID 5 logical
// drive 3, and drives 6 and 7 unassigned.
FirmwareState TwoArrays() {
    FirmwareState st = Controller();
    st.set_page("miscellaneous", kMovesPage);
    SettleParameters(st);
    for (VK_WORD pd = 6; pd < 8; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.reserved_blocks = kReserved;
        d.total_blocks = (1u << 24) + 1024u * pd + kReserved;
        d.block_size = 512;
    }
    FwLogicalDrive& ld = st.add_configured_drive(3, {3, 4, 5}, kBlocks3);
    ld.fault_tolerance = 3;
    ld.label = "live drive 3";
    return st;
}

constexpr VK_QWORD k16GiBBlocks = 0x400000000ULL / 512;

// Hard disks 0-3 hold RAID 5 logical drive 0 of exactly 16 GiB, the least an LU cache serves; SSDs 4
// and 5 are unassigned. LU caches offered (RAID 0, 1 and 5 write-through, write-back, 64 to 256 KiB
// lines), memory for one, a charged cache battery; settled parameters.
FirmwareState LUCacheController() {
    FirmwareState st;
    std::vector<std::uint8_t> page = {0x20 | 0x40 | 0x01 | 0x02 | 0x04, 0x00, 0x02};
    for (const std::uint32_t kib : {256u, 16u, 1024u, 64u}) { // strip max, min; stripe max, min
        for (int i = 0; i < 4; ++i) {
            page.push_back(static_cast<std::uint8_t>(kib >> (8 * i)));
        }
    }
    page.push_back(0x06);
    st.set_page("lu_cache", page);
    SettleParameters(st);
    for (VK_WORD pd = 0; pd < 6; ++pd) {
        auto& d = st.add_drive(pd, 2);
        d.total_blocks = (1ull << 26) + kReserved + 2048u * pd;
        d.reserved_blocks = kReserved;
        d.block_size = 512;
    }
    // Solid state: rotation rate 1 and the SSD device flag.
    for (const VK_WORD pd : {4, 5}) {
        st.find_drive(pd)->rpm = 1;
        st.find_drive(pd)->extra_device_flags = 0x20;
    }
    FwLogicalDrive& data = st.add_configured_drive(0, {0, 1, 2, 3}, k16GiBBlocks / 3);
    data.fault_tolerance = 3;
    data.size_blocks = k16GiBBlocks;
    data.label = "cached data";
    st.cache.lu_cache_used = 1000000;
    st.cache.lu_cache_available = 9000000;
    st.cache.lu_cache_algorithms = {{1, 16, 1000, 1, 20, 30}, {2, 24, 2000, 2, 22, 32}};
    st.cache.battery_status = 0x1;
    return st;
}

// One configuration write as the controller received it.
struct ConfigWrite {
    int opcode;
    VK_WORD lun;
    std::uint32_t detail;
    std::vector<VK_BYTE> data;
};

// A little-endian field of a request's data.
std::uint64_t Field(const std::vector<VK_BYTE>& d, size_t at, size_t size) {
    std::uint64_t v = 0;
    for (size_t i = size; i-- > 0;) {
        v = (v << 8) | (at + i < d.size() ? d[at + i] : 0);
    }
    return v;
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
    // Every BMIC write the controller received, in order, with its data.
    std::vector<ConfigWrite> Writes() {
        std::vector<ConfigWrite> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            const auto b = qvsim::BmicCdb::parse(telmar_host::ParseHex(r.decoded["cdb"].get<std::string>()));
            if (!b || !b->write) {
                continue;
            }
            out.push_back({b->opcode, b->lun(), b->detail,
                           r.decoded.contains("data_out")
                               ? telmar_host::ParseHex(r.decoded["data_out"].get<std::string>())
                               : std::vector<VK_BYTE>{}});
        }
        return out;
    }
    static std::vector<std::pair<int, VK_WORD>> Targets(const std::vector<ConfigWrite>& writes) {
        std::vector<std::pair<int, VK_WORD>> out;
        for (const ConfigWrite& w : writes) {
            out.emplace_back(w.opcode, w.lun);
        }
        return out;
    }
    // The data of each write of `opcode` (and `detail`, when given) in the order sent.
    std::vector<std::vector<VK_BYTE>> WriteData(int opcode, std::optional<std::uint32_t> detail = {}) {
        std::vector<std::vector<VK_BYTE>> out;
        for (ConfigWrite& w : Writes()) {
            if (w.opcode == opcode && (!detail || w.detail == *detail)) {
                out.push_back(std::move(w.data));
            }
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

// LOGICAL_DRIVE_CONFIG fields the commit's requests carry.
constexpr size_t kAssignedDrives = 10, kFaultTolerance = 12, kBigBlocks = 16, kCylinders = 30, kStrip = 50,
                 kSpareMap = 52, kDataOffset = 66, kBIOSDisable = 73, kProperty = 87, kBigMemberMap = 98,
                 kBigSpareMap = 114, kExtendedOffset = 234, kExtendedMemberMapAt = 250,
                 kExtendedSpareMapAt = 252;

// Drives 0-15 of the extended member (or spare) map the record points at; the controller offers the
// extended map, so the 128-drive map of the same kind stays empty.
std::uint64_t ExtendedMap(const std::vector<VK_BYTE>& d, size_t offset_field) {
    const size_t at = Field(d, offset_field, 2);
    const size_t big = offset_field == kExtendedMemberMapAt ? kBigMemberMap : kBigSpareMap;
    EXPECT_NE(at, 0u);
    EXPECT_EQ(Field(d, big, 8), 0u);
    EXPECT_EQ(Field(d, big + 8, 8), 0u);
    return at == 0 ? ~0ull : Field(d, at, 2);
}

// What a change request of a RAID 5 drive on three drives must carry.
struct Layout {
    std::uint64_t size, cylinders, strip, offset, members;
};

void ExpectLayout(const std::vector<VK_BYTE>& d, const Layout& want) {
    EXPECT_EQ(Field(d, kAssignedDrives, 2), 3u);
    EXPECT_EQ(Field(d, kFaultTolerance, 2), 3u);
    EXPECT_EQ(Field(d, kBigBlocks, 8), want.size);
    EXPECT_EQ(Field(d, kCylinders, 2), want.cylinders);
    EXPECT_EQ(Field(d, kStrip, 2), want.strip);
    EXPECT_EQ(Field(d, kSpareMap, 4), 0u);
    EXPECT_EQ(Field(d, kDataOffset, 4), want.offset);
    EXPECT_EQ(Field(d, kExtendedOffset, 8), want.offset);
    EXPECT_EQ(ExtendedMap(d, kExtendedMemberMapAt), want.members);
    EXPECT_EQ(ExtendedMap(d, kExtendedSpareMapAt), 0u);
}

// A controller that queues transformations: the extension of the last drive goes out before the
// strip change of drive 0 (growing extents come before other transformations, whatever the drive
// numbers), each request carries the whole new layout, and the controller then reports both drives
// queued. Its queue alone lets an unchanged configuration be committed, which writes nothing.
TEST_F(CommitE2EHost, QueuedTransformationsAreOrderedAndTheControllerQueueCommits) {
    FirmwareState st = TwoArrays();
    st.updates.transformation = "queue";
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    ASSERT_EQ(VK_SetEditableLogicalDriveStripSize(cda(), 0, 256), kSetEditableLogicalDriveStripSizeOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), 2, kEditableLogicalDriveSizeBlocks, 4 * kBlocks2),
              kSetEditableLogicalDriveSizeOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    const std::vector<ConfigWrite> writes = Writes();
    ASSERT_EQ(Targets(writes), (std::vector<std::pair<int, VK_WORD>>{{0x54, 2}, {0x54, 0}}));
    // 4 x 2^18 blocks come down to 128 cylinders of 8,160; 2^21 blocks span 257 of them.
    ExpectLayout(writes[0].data, {128 * kCylinder, 128, 512, kOffset2, 0x07});
    ExpectLayout(writes[1].data, {2 * kBlocks0, 257, 256, 0, 0x07});
    EXPECT_EQ(state().expansion.queued, 2);
    EXPECT_EQ(LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda(), 0)),
              kLogicalDriveUnitStatus12QueuedForExpansion);
    EXPECT_EQ(LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda(), 2)),
              kLogicalDriveUnitStatus12QueuedForExpansion);
    EXPECT_EQ(LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda(), 1)), kLogicalDriveUnitStatusOK);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 2, kLogicalDriveSizeBlocks), 128 * kCylinder);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveStripSizeBlocks), 256u);

    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_CanCommitEditableConfiguration(cda()), kCanCommitEditableConfigurationOK);
    host().clear_requests();
    ASSERT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationOK);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 2, kLogicalDriveSizeBlocks), 128 * kCylinder);

    // Without the controller's queue the same unchanged configuration has nothing to commit.
    state().expansion.queued = 0;
    VK_UnInitializeCDA(cda());
    ASSERT_EQ(VK_InitializeCDA(cda(), controller_), kInitializeSucceeded);
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_CanCommitEditableConfiguration(cda()), kCanCommitEditableConfigurationNoChangesToCommit);
    EXPECT_EQ(VK_CommitEditableConfiguration(cda()), kCommitEditableConfigurationCanCommitFailed);
}

// Logical drive 1 moved from array 0 to array 1: the move goes out first, placing it behind drive 3
// on drives 3-5; then drive 2 shrinks down into the place it left. Afterwards the controller reports
// the drive on array 1 with its old size, and drive 2 where drive 1 was.
TEST_F(CommitE2EHost, MoveToAnotherArrayGoesFirstAndTheDrivesLeftBehindCloseUp) {
    ASSERT_NO_FATAL_FAILURE(Start(TwoArrays()));
    ASSERT_EQ(VK_CanSetEditableLogicalDriveArray(cda(), 1, 1), kCanSetEditableLogicalDriveArrayOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), 1, 1), kSetEditableLogicalDriveArrayOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    const std::vector<ConfigWrite> writes = Writes();
    ASSERT_EQ(Targets(writes), (std::vector<std::pair<int, VK_WORD>>{{0x54, 1}, {0x54, 2}}));
    ExpectLayout(writes[0].data, {2 * kBlocks1, 128, 512, kBlocks3, 0x38});
    ExpectLayout(writes[1].data, {2 * kBlocks2, 64, 512, kOffset1, 0x07});
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);

    EXPECT_EQ(live(1).members, (std::vector<std::uint16_t>{3, 4, 5}));
    EXPECT_EQ(live(1).offset, kBlocks3);
    EXPECT_EQ(live(1).blocks_per_drive, kBlocks1);
    EXPECT_EQ(live(2).members, (std::vector<std::uint16_t>{0, 1, 2}));
    EXPECT_EQ(live(2).offset, kOffset1);
    EXPECT_EQ(live(0).offset, 0u);
    EXPECT_EQ(live(3).offset, 0u);
    EXPECT_EQ(VK_GetLogicalDriveArray(cda(), 1), VK_GetLogicalDriveArray(cda(), 3));
    EXPECT_EQ(VK_GetLogicalDriveArray(cda(), 2), VK_GetLogicalDriveArray(cda(), 0));
    EXPECT_NE(VK_GetLogicalDriveArray(cda(), 1), VK_GetLogicalDriveArray(cda(), 0));
    EXPECT_EQ(VK_GetArrayLogicalDriveCount(cda(), VK_GetLogicalDriveArray(cda(), 3)), 2);
    EXPECT_EQ(VK_GetArrayLogicalDriveCount(cda(), VK_GetLogicalDriveArray(cda(), 0)), 2);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 1, kLogicalDriveSizeBlocks), 2 * kBlocks1);
    EXPECT_EQ(Label(1), "live drive 1");
}

// An LU cache staged with public calls only: a cache array on the two SSDs, a RAID 1 cache drive of
// 16 GiB on it, paired write-through with data drive 0. The cache drive is created hidden and marked
// as a cache, then paired with one create request naming the data drive; afterwards both drives
// report the pairing, and a new staged configuration reads it back.
TEST_F(CommitE2EHost, LUCachePairingIsCreatedAndReadBackFromBothDrives) {
    ASSERT_NO_FATAL_FAILURE(Start(LUCacheController()));
    const VK_WORD a = VK_CreateEditableLUCacheArray(cda());
    ASSERT_EQ(a, 1);
    const VK_WORD ssds[] = {4, 5};
    ASSERT_EQ(VK_AddEditableArrayDataDrives(cda(), a, ssds, 2, kExpandTypeAuto),
              kAddEditableArrayDataDrivesOK);
    const VK_WORD c = VK_CreateEditableLogicalDrive(cda());
    ASSERT_EQ(c, 1);
    ASSERT_EQ(VK_SetEditableLogicalDriveArray(cda(), c, a), kSetEditableLogicalDriveArrayOK);
    ASSERT_EQ(VK_GetEditableLogicalDriveType(cda(), c), kLogicalDriveTypeCache);
    ASSERT_EQ(VK_SetEditableLogicalDriveRAIDLevel(cda(), c, kRAID1, 0, true),
              kSetEditableLogicalDriveRAIDLevelOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), c, kEditableLogicalDriveSizeBlocks, k16GiBBlocks),
              kSetEditableLogicalDriveSizeOK);
    ASSERT_EQ(VK_CanSetEditableLogicalDriveLUCache(cda(), 0, c, kLUCacheWritePolicyWriteThru),
              kCanSetEditableLogicalDriveLUCacheOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveLUCache(cda(), 0, c, kLUCacheWritePolicyWriteThru),
              kSetEditableLogicalDriveLUCacheOK);
    ASSERT_EQ(VK_LockEditableLogicalDrive(cda(), c), kLockEditableLogicalDriveOK);
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());

    const std::vector<ConfigWrite> writes = Writes();
    ASSERT_EQ(Targets(writes),
              (std::vector<std::pair<int, VK_WORD>>{{0x51, 1}, {0x57, 1}, {0xC0, 0}, {0xC0, 1}}));
    const std::vector<VK_BYTE>& made = writes[0].data;
    EXPECT_EQ(Field(made, kAssignedDrives, 2), 2u);
    EXPECT_EQ(Field(made, kFaultTolerance, 2), 2u);
    // 16 GiB comes down to whole cylinders: 4,112 x 8,160 blocks.
    EXPECT_EQ(Field(made, kBigBlocks, 8), 4112 * kCylinder);
    EXPECT_EQ(Field(made, kStrip, 2), 128u) << "one 64 KiB cache line";
    EXPECT_EQ(ExtendedMap(made, kExtendedMemberMapAt), 0x30u);
    EXPECT_EQ(Field(made, kBIOSDisable, 1), 0x02u) << "hidden from the host";
    EXPECT_EQ(Field(made, kProperty, 1), 0x05u) << "created, an LU cache drive";
    EXPECT_EQ(Field(writes[1].data, 0, 4), 0xFFFFFFFFu);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&writes[1].data[4])), "Logical Drive 2");
    const ConfigWrite& pairing = writes[3];
    EXPECT_EQ(pairing.detail, (1u << 16) | c) << "create, for the cache drive";
    ASSERT_EQ(pairing.data.size(), 512u);
    EXPECT_EQ(pairing.data[3], 2) << "caching algorithm";
    EXPECT_EQ(pairing.data[4], kLUCacheWritePolicyWriteThru);
    EXPECT_EQ(Field(pairing.data, 5, 2), 0u) << "the data drive";
    EXPECT_EQ(Field(pairing.data, 7, 4), 128u) << "line blocks";
    EXPECT_EQ(pairing.data[75], 3) << "warm depth";
    EXPECT_EQ(std::count(pairing.data.begin(), pairing.data.end(), 0), 512 - 4);

    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);
    EXPECT_EQ(VK_GetLogicalDriveLUCacheNumber(cda(), 0), c);
    EXPECT_EQ(VK_GetLogicalDriveLUCacheNumber(cda(), c), 0);
    // Algorithm 2, write-through as written and as asked, 64 KiB lines.
    EXPECT_EQ(VK_GetLogicalDriveLUCacheInfo(cda(), 0), 0x152);
    EXPECT_EQ(VK_GetLogicalDriveLUCacheInfo(cda(), c), 0x152);
    EXPECT_EQ(live(c).members, (std::vector<std::uint16_t>{4, 5}));
    EXPECT_EQ(Label(0), "cached data");
    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), 0), c);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), c), 0);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheWritePolicy(cda(), 0), kLUCacheWritePolicyWriteThru);
    EXPECT_EQ(VK_GetEditableLogicalDriveType(cda(), c), kLogicalDriveTypeCache);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheLineSize(cda(), c), kControllerLUCacheLineSize64KB);
    EXPECT_EQ(VK_CanCommitEditableConfiguration(cda()), kCanCommitEditableConfigurationNoChangesToCommit);
}

// Array 0 with a gap: drive 1 gone, leaving 2^19 free blocks on each drive between drives 0 and 2.
// An array with a gap reports it in its status, and an existing drive is resized only on an array
// whose status is OK (or only has queued transformations): extending drive 0 into the gap is
// refused with reason 15 and nothing can be committed. Once the gap is closed (drive 2 moved down),
// the same extension is allowed, and the commit moves drive 2 up behind the grown drive 0 before
// growing drive 0, the higher extent first.
TEST_F(CommitE2EHost, ExtensionIntoAGapWaitsForTheGapToClose) {
    FirmwareState st = TwoArrays();
    std::erase_if(st.logical_drives, [](const FwLogicalDrive& l) { return l.number == 1; });
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    const VK_QWORD grown = 2 * kBlocks0 + 2 * kBlocks1;
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), kArrayStatusHasGaps);
    VK_QWORD largest = 0;
    ASSERT_EQ(VK_GetEditableLogicalDriveSize(cda(), 0, kLogicalDriveSizeMaxResizeableSizeBlocks, &largest),
              kGetEditableLogicalDriveSizeOK);
    // The gap counts toward the largest extension: 2^24 + 16,384 usable blocks on the smallest drive,
    // less the end of drive 2, plus the 2^19 of the gap, give 15,482,880 free blocks on each drive;
    // over two data drives 3,794 whole cylinders, on top of drive 0's 2^21 blocks.
    EXPECT_EQ(largest, 2 * kBlocks0 + 3794 * kCylinder);
    EXPECT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, grown),
              kCanSetEditableLogicalDriveSizeArrayStatusNotOK);
    EXPECT_EQ(VK_SetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, grown),
              kSetEditableLogicalDriveSizeFailedUnknown);
    EXPECT_EQ(VK_CanCommitEditableConfiguration(cda()), kCanCommitEditableConfigurationNoChangesToCommit);
    EXPECT_TRUE(Writes().empty());

    VK_DestroyEditableConfiguration(cda());
    ASSERT_EQ(VK_CanCloseArrayGaps(cda(), 0), kCanCloseArrayGapsAllowed);
    ASSERT_EQ(VK_CloseArrayGaps(cda(), 0), kCloseArrayGapsSuccessButIncomplete);
    std::vector<ConfigWrite> writes = Writes();
    ASSERT_EQ(Targets(writes), (std::vector<std::pair<int, VK_WORD>>{{0x54, 2}}));
    EXPECT_EQ(Field(writes[0].data, kDataOffset, 4), kOffset1);
    EXPECT_EQ(Field(writes[0].data, kExtendedOffset, 8), kOffset1);
    EXPECT_EQ(live(2).offset, kOffset1);

    ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    EXPECT_EQ(VK_GetEditableArrayStatusInfo(cda(), 0), kArrayStatusOK);
    ASSERT_EQ(VK_CanSetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, grown),
              kCanSetEditableLogicalDriveSizeOK);
    ASSERT_EQ(VK_SetEditableLogicalDriveSize(cda(), 0, kEditableLogicalDriveSizeBlocks, grown),
              kSetEditableLogicalDriveSizeOK);
    host().clear_requests();
    ASSERT_NO_FATAL_FAILURE(CommitAndReread());
    writes = Writes();
    ASSERT_EQ(Targets(writes), (std::vector<std::pair<int, VK_WORD>>{{0x54, 2}, {0x54, 0}}));
    // 3 x 2^20 blocks come down to 385 cylinders; over two data drives and 256 KiB strips that is
    // 3,068 strips on each drive, behind which drive 2 now starts.
    constexpr VK_QWORD kGrownSize = 385 * kCylinder, kMovedOffset = 3068 * 512;
    ExpectLayout(writes[0].data, {2 * kBlocks2, 64, 512, kMovedOffset, 0x07});
    ExpectLayout(writes[1].data, {kGrownSize, 385, 512, 0, 0x07});
    EXPECT_EQ(VK_GetEditableConfigurationCommitErrors(cda()), 0u);
    EXPECT_EQ(VK_GetLogicalDriveSize(cda(), 0, kLogicalDriveSizeBlocks), kGrownSize);
    EXPECT_EQ(live(0).offset, 0u);
    EXPECT_EQ(live(2).offset, kMovedOffset);
    EXPECT_EQ(live(2).blocks_per_drive, kBlocks2);
    EXPECT_EQ(live(3).offset, 0u);
}

} // namespace
