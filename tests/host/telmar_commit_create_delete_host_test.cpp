// The commit steps that create new logical drives and delete existing ones, against a simulated
// controller: the configuration copy each builder fills, the creation passes and their retry, the
// partition-table overwrite before a deletion, the single and the all-drives deletion. Each test
// stages, runs the step, and reads the result back from the controller. The geometry of a staged
// logical drive is filled in by the fixture, as the geometry setters would leave it.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_properties.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "qvsim/virtual_clock.h"
#include "telm_cda_writeback.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

// A field of a packed wire record, by value: gtest would bind a reference to it, which may be
// misaligned.
template <typename T> T Packed(T value) {
    return value;
}

using qvsim::Bytes;
using qvsim::FirmwareState;
using qvsim::FwFault;
using qvsim::FwLogicalDrive;
using qvsim::FwWriteRecord;

constexpr VK_WORD kNone = 0xFFFF;
constexpr size_t kMemberMapAt = 300; // where the simulated controller reports its extended maps
constexpr size_t kSpareMapAt = 348;  // 384 devices: 48 bytes each
constexpr size_t kPrimaryBootLun = 156;
constexpr size_t kSecondaryBootLun = 172;

const std::array<std::uint8_t, 16> kBootId{0x60, 0x0A, 0x0B, 0x0C, 0x11, 0x22, 0x33, 0x44,
                                           0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
const std::array<std::uint8_t, 16> kOtherId{0x60, 0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03, 0x04,
                                            0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0D};

// Drives 0-11 unassigned; on `configured`, logical drive 0 on drives 10 and 11 (RAID 1).
FirmwareState Drives(bool configured = false) {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < 12; ++pd) {
        st.add_drive(pd);
    }
    if (configured) {
        st.add_configured_drive(0, {10, 11}, 1u << 20).fault_tolerance = 2;
    }
    return st;
}

// Without the extended drive map (raid page bFlags2 0x08 clear).
void NoExtendedMap(FirmwareState& st) {
    st.set_page("raid", {0x02, 0x04, 0x05, 0x00, 0x0F, 0x04, 0x00, 0x00});
}

FwFault FailWrite(VK_BYTE opcode, VK_WORD device, unsigned nth = 1, unsigned count = 1) {
    FwFault f;
    f.bmic = opcode;
    f.device = device;
    f.write = true;
    f.nth = nth;
    f.count = count;
    f.sense = qvsim::fixed_sense(0x05, 0x26, 0x00);
    return f;
}

FwFault FailBlock(VK_BYTE opcode, VK_WORD ld, unsigned count = 0) {
    FwFault f;
    f.scsi = opcode;
    f.device = ld;
    f.count = count;
    f.err = EIO;
    return f;
}

std::vector<VK_WORD> MapBits(const VK_BYTE* map, size_t bytes) {
    std::vector<VK_WORD> out;
    for (size_t n = 0; n < 8 * bytes; ++n) {
        if (map[n / 8] & (1u << (n % 8))) {
            out.push_back(static_cast<VK_WORD>(n));
        }
    }
    return out;
}

// Fixes the local time zone for a scope, so that local times are the virtual clock's UTC.
class UtcScope {
public:
    UtcScope() {
        const char* tz = std::getenv("TZ");
        if (tz != nullptr) {
            previous_ = tz;
        }
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    ~UtcScope() {
        if (previous_) {
            setenv("TZ", previous_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    std::optional<std::string> previous_;
};

std::int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&t));
}

class CommitCreateDeleteHost : public telmar_host::ControllerHost {
public:
    // Starts the controller; with `editable`, a staged configuration is created from it.
    void Start(FirmwareState st, bool editable = true) {
        if (initialised_) {
            StopController();
        }
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        if (editable) {
            ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        }
        Forget();
    }
    // Clears the request log and the writes kept so far.
    void Forget() {
        host().clear_requests();
        state().updates.writes.clear();
    }
    FirmwareState& state() { return fw_->fw_state(); }
    PEDITABLE_CONFIGURATION config() { return _VK_CDA(cda())->editable_configuration; }

    // A new staged array of `data` drives and `spares`, each drive staged with its usage.
    PEDITABLE_ARRAY StageArray(const std::vector<VK_WORD>& data, const std::vector<VK_WORD>& spares,
                               VK_BYTE spare_usage = kPhysicalDriveUsageShareableStandbySpare) {
        const VK_WORD n = VK_CreateEditableArray(cda());
        EXPECT_NE(n, kNone);
        if (n == kNone) {
            return nullptr;
        }
        PEDITABLE_ARRAY a = config()->editable_array_list[n];
        for (VK_WORD pd : data) {
            a->data_drives[a->data_drive_count++] = pd;
            config()->editable_pd_list[pd].config_usage_info = kPhysicalDriveUsageData;
        }
        for (VK_WORD pd : spares) {
            a->spare_drives[a->spare_drive_count++] = pd;
            config()->editable_pd_list[pd].config_usage_info = spare_usage;
        }
        a->common_block_size = 512;
        return a;
    }

    // A new staged logical drive `ld` on `array`, its fields filled as the geometry setters would.
    PEDITABLE_LOGICAL_DRIVE StageDrive(VK_WORD ld, PEDITABLE_ARRAY array, VK_BYTE raid,
                                       VK_QWORD blocks_per_drive, VK_QWORD size) {
        auto* r = static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
        std::memset(r, 0, sizeof(*r));
        r->flags = kEditableLDNewDrive | kEditableLDArraySet | kEditableLDRAIDSet | kEditableLDStripSizeSet |
                   kEditableLDSizeSet | kEditableLDPlaced;
        r->ld_number = ld;
        r->editable_array_number = array->editable_array_number;
        r->RAID_level = raid;
        r->strip_size_blocks = 256;
        r->block_size_bytes = 512;
        r->physical_drive_offset_block = 2048;
        r->physical_drive_blocks_per_drive = blocks_per_drive;
        r->drive_size_blocks = size;
        r->sectors_per_track = 32;
        r->logical_drive_accelerator = 2;
        r->lu_cache_ld_number = kNone;
        config()->editable_ld_list[ld] = r;
        ++config()->editable_ld_count;
        array->logical_drives[array->logical_drive_count++] = ld;
        return r;
    }

    // The configuration copy of `ld` as the controller hands it out for an update.
    LOGICAL_DRIVE_CONFIG Fresh(VK_WORD ld) {
        LOGICAL_DRIVE_CONFIG copy{};
        LOGICAL_DRIVE_CONFIG* p = VK_GetLogicalDriveConfigurationBufferForUpdate(cda(), ld);
        EXPECT_NE(p, nullptr);
        if (p != nullptr) {
            copy = *p;
            VK_free(p);
        }
        return copy;
    }

    // The writes of one opcode the controller took, in order.
    std::vector<FwWriteRecord> Taken(VK_BYTE opcode) {
        std::vector<FwWriteRecord> out;
        for (const FwWriteRecord& w : state().updates.writes) {
            if (w.opcode == opcode) {
                out.push_back(w);
            }
        }
        return out;
    }

    // BMIC opcodes sent as writes, refused ones included.
    std::vector<int> SentWrites() {
        std::vector<int> out;
        for (const qvsim::BmicCdb& b : Received()) {
            if (b.write) {
                out.push_back(b.opcode);
            }
        }
        return out;
    }

    // The READ(16) and WRITE(16) commands sent: opcode, LBA and block count.
    struct BlockIo {
        int opcode;
        std::uint64_t lba;
        std::uint32_t count;
        bool operator==(const BlockIo&) const = default;
    };
    std::vector<BlockIo> BlockCommands() {
        std::vector<BlockIo> out;
        for (const auto& cdb : SentCdbs()) {
            if (cdb.size() == 16 && (cdb[0] == 0x88 || cdb[0] == 0x8A)) {
                std::uint64_t lba = 0;
                for (int k = 2; k < 10; ++k) {
                    lba = lba << 8 | cdb[k];
                }
                std::uint32_t count = 0;
                for (int k = 10; k < 14; ++k) {
                    count = count << 8 | cdb[k];
                }
                out.push_back({cdb[0], lba, count});
            }
        }
        return out;
    }

    // A block of a logical drive's store (zeros when it holds none).
    Bytes Block(VK_WORD ld, std::uint64_t lba) {
        const FwLogicalDrive* l = state().find_configured_drive(ld);
        if (l != nullptr) {
            for (const auto& b : l->blocks) {
                if (b.lba == lba) {
                    return b.data;
                }
            }
        }
        return Bytes(l != nullptr && l->block_size ? l->block_size : 512, 0);
    }

    // Re-reads the controller.
    void Reread() { ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded); }

    TelmarLogCapture log_;
};

std::string Text(const Bytes& b, size_t at, size_t n) {
    return b.size() >= at + n
               ? std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n))
               : std::string();
}

// ---- Creation: the builders -------------------------------------------------------------------

TEST_F(CommitCreateDeleteHost, FaultToleranceByRAIDCode) {
    struct Row {
        VK_BYTE raid;
        VK_BYTE groups;
        VK_WORD drives;
        VK_WORD mode;
        VK_BYTE distribution;
        VK_BYTE groups_written;
        VK_WORD consumed;
    };
    const Row rows[] = {
        {kRAID0, 0, 3, 0, 2, 0, 0},  {kRAID1, 0, 2, 2, 2, 0, 0},       {kRAID10, 0, 4, 2, 2, 0, 0},
        {kRAID5, 0, 3, 3, 2, 0, 0},  {kRAID50, 2, 6, 3, 7, 2, 2},      {kRAID6, 0, 5, 5, 2, 0, 2},
        {kRAID60, 2, 8, 5, 7, 2, 4}, {kRAID1Triple, 0, 3, 6, 2, 0, 2}, {kRAID10Triple, 0, 6, 6, 2, 0, 4},
    };
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    PEDITABLE_ARRAY a = StageArray({0, 1, 2, 3, 4, 5, 6, 7}, {});
    PEDITABLE_LOGICAL_DRIVE ld = StageDrive(5, a, kRAID5, 1000, 1000);
    ld->strip_size_blocks = 0x12345;
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.raid));
        ld->RAID_level = row.raid;
        ld->num_parity_groups = row.groups;
        a->data_drive_count = row.drives;
        LOGICAL_DRIVE_CONFIG c{};
        std::memset(&c, 0xA5, sizeof(c));
        __VK_ManageEditableLogicalDriveFaultTolerance(cda(), 5, &c);
        EXPECT_EQ(Packed(c.wFaultToleranceMode), row.mode);
        EXPECT_EQ(Packed(c.bDataDistributionMode), row.distribution);
        EXPECT_EQ(Packed(c.bNumberOfParityGroups), row.groups_written);
        EXPECT_EQ(Packed(c.wDrivesConsumedForFaultTolerance), row.consumed);
        EXPECT_EQ(Packed(c.wDistribution), 0x2345) << "the strip's low 16 bits";
    }
    // Another code leaves the four fields as read; the strip is still written.
    ld->RAID_level = 0x42;
    LOGICAL_DRIVE_CONFIG c{};
    std::memset(&c, 0xA5, sizeof(c));
    __VK_ManageEditableLogicalDriveFaultTolerance(cda(), 5, &c);
    EXPECT_EQ(Packed(c.wFaultToleranceMode), 0xA5A5);
    EXPECT_EQ(Packed(c.bDataDistributionMode), 0xA5);
    EXPECT_EQ(Packed(c.bNumberOfParityGroups), 0xA5);
    EXPECT_EQ(Packed(c.wDrivesConsumedForFaultTolerance), 0xA5A5);
    EXPECT_EQ(Packed(c.wDistribution), 0x2345);
}

TEST_F(CommitCreateDeleteHost, SizeOffsetAndDriveParameterTable) {
    struct Row {
        VK_QWORD size;
        VK_QWORD offset;
        VK_WORD cylinders;
        VK_DWORD data_offset;
    };
    const Row rows[] = {
        {534765601, 2048, 0xFFFF, 2048},
        {534765600, 0xFFFFFFFEull, 65535, 0xFFFFFFFEu},
        {8160, 0xFFFFFFFFull, 1, 0xFFFFFFFFu},
        {8159, 1ull << 32, 0, 0xFFFFFFFFu},
        {(1ull << 40) + 5, (1ull << 40) + 7, 0xFFFF, 0xFFFFFFFFu},
    };
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    PEDITABLE_ARRAY a = StageArray({0, 1}, {});
    PEDITABLE_LOGICAL_DRIVE ld = StageDrive(5, a, kRAID1, 1000, 1000);
    ld->sectors_per_track = 63;
    ld->block_size_bytes = 4096;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        ld->drive_size_blocks = row.size;
        ld->physical_drive_offset_block = row.offset;
        LOGICAL_DRIVE_CONFIG c{};
        std::memset(&c, 0x5C, sizeof(c));
        __VK_ManageEditableLogicalDriveSize(cda(), 5, &c);
        EXPECT_EQ(Packed(c.data_offset), row.data_offset);
        EXPECT_EQ(Packed(c.qwExtendedOffsetToData), row.offset);
        EXPECT_EQ(Packed(c.qwBigBlocksInLogicalDrive), row.size);
        EXPECT_EQ(Packed(c.wBlockSize), 4096);
        const DRIVE_PARAM_TABLE& t = c.logicalDriveParamTable;
        EXPECT_EQ(Packed(t.wMaxCylinders), row.cylinders);
        EXPECT_EQ(Packed(t.wLandingZone), row.cylinders);
        EXPECT_EQ(Packed(t.bMaxHeads), 255);
        EXPECT_EQ(Packed(t.bSectorsPerTrack), 63);
        EXPECT_EQ(Packed(t.bDriveControl), 8);
        EXPECT_EQ(Packed(t.wPreCompCylinder), 0xFFFF);
        EXPECT_EQ(Packed(t.bTranslationSignature), 0x5C) << "fields not named stay as read";
        VK_BYTE sum = 0;
        for (size_t i = 0; i < sizeof(t); ++i) {
            sum = static_cast<VK_BYTE>(sum + reinterpret_cast<const VK_BYTE*>(&t)[i]);
        }
        EXPECT_EQ(sum, 0) << "the table sums to 0";
    }
}

// The data and spare maps of a copy as the controller reported it, with the extended map and without.
TEST_F(CommitCreateDeleteHost, DriveMapsFollowTheControllersMaps) {
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    PEDITABLE_ARRAY a = StageArray({3, 9, 7}, {4, 8});
    a->data_drives[1] = 128; // staged beyond the 128-drive map
    a->spare_drives[1] = 200;
    StageDrive(5, a, kRAID5, 1000, 2000);
    config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
    const LOGICAL_DRIVE_CONFIG read = Fresh(5);
    ASSERT_EQ(read.wOffsetToExtendedDriveAssignmentMap, kMemberMapAt);
    ASSERT_EQ(read.wMaximumPhysicalDevicesSupported, 384);

    // The extended maps at the offsets read, each cleared first; the 128-drive maps zeroed.
    LOGICAL_DRIVE_CONFIG c = read;
    auto* raw = reinterpret_cast<VK_BYTE*>(&c);
    std::memset(raw + kMemberMapAt, 0xFF, 96);
    std::memset(c.pbBigDriveAssignmentMap, 0xFF, 32);
    c.dwDriveAssignmentMap = 0xFFFFFFFF;
    c.wOffsetToExtendedPhysicalDriveOrderList = 77;
    __VK_ManageEditableLogicalDriveDataDrives(cda(), 5, &c);
    __VK_ManageEditableLogicalDriveSpareDrives(cda(), 5, &c);
    EXPECT_EQ(MapBits(raw + kMemberMapAt, 48), (std::vector<VK_WORD>{3, 7, 128}));
    EXPECT_EQ(MapBits(raw + kSpareMapAt, 48), (std::vector<VK_WORD>{4, 200}));
    EXPECT_EQ(MapBits(c.pbBigDriveAssignmentMap, 32), std::vector<VK_WORD>{});
    EXPECT_EQ(Packed(c.dwDriveAssignmentMap), 0u);
    EXPECT_EQ(Packed(c.dwSpareAssignmentMap), 0u);
    EXPECT_EQ(Packed(c.wOffsetToExtendedPhysicalDriveOrderList), 0);
    EXPECT_EQ(Packed(c.wAssignedDrives), 3);
    EXPECT_EQ(Packed(c.wPhysicalDrives), 3) << "staged data drives 3, 7 and (as a number) 9";

    // Moved maps: the bits land where the read said.
    c = read;
    c.wOffsetToExtendedDriveAssignmentMap = 500;
    c.wOffsetToExtendedSpareAssignmentMap = 440;
    __VK_ManageEditableLogicalDriveDataDrives(cda(), 5, &c);
    __VK_ManageEditableLogicalDriveSpareDrives(cda(), 5, &c);
    EXPECT_EQ(MapBits(raw + 500, 48), (std::vector<VK_WORD>{3, 7, 128}));
    EXPECT_EQ(MapBits(raw + 440, 48), (std::vector<VK_WORD>{4, 200}));
    EXPECT_EQ(MapBits(raw + kMemberMapAt, 96), std::vector<VK_WORD>{}) << "nothing at the old offsets";

    // Without the extended map: the 128-drive maps; drive 128 and 200 are logged and left out.
    FirmwareState st = Drives();
    NoExtendedMap(st);
    ASSERT_NO_FATAL_FAILURE(Start(st));
    a = StageArray({3, 9, 7}, {4, 8});
    a->data_drives[1] = 128;
    a->spare_drives[1] = 200;
    StageDrive(5, a, kRAID5, 1000, 2000);
    config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
    c = Fresh(5);
    __VK_ManageEditableLogicalDriveDataDrives(cda(), 5, &c);
    __VK_ManageEditableLogicalDriveSpareDrives(cda(), 5, &c);
    EXPECT_EQ(MapBits(c.pbBigDriveAssignmentMap, 16), (std::vector<VK_WORD>{3, 7}));
    EXPECT_EQ(MapBits(c.pbBigSpareAssignmentMap, 16), (std::vector<VK_WORD>{4}));
    EXPECT_EQ(Packed(c.wOffsetToExtendedDriveAssignmentMap), 0);
    EXPECT_EQ(Packed(c.wOffsetToExtendedSpareAssignmentMap), 0);
    EXPECT_EQ(MapBits(raw + kMemberMapAt, 96), std::vector<VK_WORD>{}) << "the extended maps untouched";
    EXPECT_EQ(log_.Count("Invalid pd number 128 for big data assignment map for ld 5"), 1u);
    EXPECT_EQ(log_.Count("Invalid pd number for big spare assignment map for ld 5"), 1u);
}

// Maps the controller reported where they cannot be written take the missing-map path: nothing
// is written past the copy, past its total, over its fixed fields, or past the map's own span.
TEST_F(CommitCreateDeleteHost, UnusableExtendedMapsAreLoggedAndNotWritten) {
    struct Row {
        const char* name;
        std::function<void(LOGICAL_DRIVE_CONFIG&)> edit;
        std::vector<VK_WORD> data;
        bool missing;
        std::vector<VK_WORD> written;
    };
    const Row rows[] = {
        {"offset 0",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wOffsetToExtendedDriveAssignmentMap = 0; },
         {3},
         true,
         {}},
        {"no devices",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wMaximumPhysicalDevicesSupported = 0; },
         {3},
         true,
         {}},
        {"past the buffer",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wOffsetToExtendedDriveAssignmentMap = 640; },
         {3},
         true,
         {}},
        {"past the reported total",
         [](LOGICAL_DRIVE_CONFIG& c) { c.dwTotalStructureLength = 320; },
         {3},
         true,
         {}},
        {"among the fixed fields",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wOffsetToExtendedDriveAssignmentMap = 10; },
         {3},
         true,
         {}},
        // 4,000 devices need 500 bytes: more than the copy holds past 300, though the low byte of
        // the count alone (4000 / 8 = 500, kept to 8 bits: 244) would have fitted.
        {"too many devices for the copy",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wMaximumPhysicalDevicesSupported = 4000; },
         {3},
         true,
         {}},
        // 2,100 devices: 263 bytes from 300 fit; drive 2,080 lies inside the span, beyond 8 bits of it.
        {"a large map is sized in full",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wMaximumPhysicalDevicesSupported = 2100; },
         {3, 2080},
         false,
         {3, 2080}},
        {"drive at the device count",
         [](LOGICAL_DRIVE_CONFIG& c) { c.wMaximumPhysicalDevicesSupported = 16; },
         {3, 16, 15},
         false,
         {3, 15}},
    };
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    PEDITABLE_ARRAY a = StageArray({3}, {});
    StageDrive(5, a, kRAID0, 1000, 1000);
    const LOGICAL_DRIVE_CONFIG read = Fresh(5);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        a->data_drive_count = 0;
        for (VK_WORD pd : row.data) {
            a->data_drives[a->data_drive_count++] = pd;
        }
        struct {
            LOGICAL_DRIVE_CONFIG c;
            VK_BYTE guard[64];
        } g;
        std::memset(&g, 0xEE, sizeof(g));
        g.c = read;
        row.edit(g.c);
        const auto before = g;
        log_.lines().clear();
        __VK_ManageEditableLogicalDriveDataDrives(cda(), 5, &g.c);
        for (VK_BYTE b : g.guard) {
            ASSERT_EQ(b, 0xEE) << "written past the copy";
        }
        const auto* now = reinterpret_cast<const VK_BYTE*>(&g.c);
        const auto* was = reinterpret_cast<const VK_BYTE*>(&before.c);
        const size_t at = g.c.wOffsetToExtendedDriveAssignmentMap;
        if (row.missing) {
            EXPECT_EQ(log_.Count("Ctrl missing extended data assignment map"), 1u);
            EXPECT_EQ(std::memcmp(now + 300, was + 300, sizeof(g.c) - 300), 0)
                << "nothing written past the fixed fields";
        } else {
            EXPECT_EQ(log_.Count("Ctrl missing extended data assignment map"), 0u);
            const size_t bytes = (g.c.wMaximumPhysicalDevicesSupported + 7u) / 8u;
            EXPECT_EQ(MapBits(now + at, bytes), row.written);
            EXPECT_EQ(std::memcmp(now + at + bytes, was + at + bytes, sizeof(g.c) - at - bytes), 0)
                << "nothing past the map";
        }
        EXPECT_EQ(g.c.wAssignedDrives, row.data.size());
    }
    EXPECT_EQ(log_.Count("Invalid pd number 16 for extended data assignment map for ld 5"), 1u);
}

TEST_F(CommitCreateDeleteHost, SparesAutoReplaceAndFailureActivatedRAID0) {
    struct Row {
        const char* name;
        VK_BYTE raid;
        VK_BYTE mode;
        VK_BYTE last_usage;
        std::vector<VK_WORD> spares;
        VK_BYTE more_unit_flags; // read 0x80 | 0x01
    };
    const Row rows[] = {
        {"RAID 0, activation on failure: none", kRAID0, kControllerSAMTypeFailure, 3, {}, 0x81},
        {"RAID 0, predictive: spares, auto-replace", kRAID0, kControllerSAMTypePredictive, 3, {6, 8}, 0x81},
        {"RAID 5, on failure: spares, shareable", kRAID5, kControllerSAMTypeFailure, 4, {6, 8}, 0x80},
        {"RAID 1, on failure: spares, auto-replace", kRAID1, kControllerSAMTypeFailure, 3, {6, 8}, 0x81},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(Drives()));
        PEDITABLE_ARRAY a = StageArray({1, 2}, {8, 6}, 4);
        config()->editable_pd_list[6].config_usage_info = row.last_usage;
        StageDrive(5, a, row.raid, 1000, 1000);
        config()->controller_spare_activation_mode = row.mode;
        LOGICAL_DRIVE_CONFIG c = Fresh(5);
        auto* raw = reinterpret_cast<VK_BYTE*>(&c);
        std::memset(raw + kSpareMapAt, 0xFF, 48);
        std::memset(c.pbBigSpareAssignmentMap, 0xFF, 16);
        c.dwSpareAssignmentMap = 0xFFFFFFFF;
        c.bMoreUnitFlags = 0x81;
        __VK_ManageEditableLogicalDriveSpareDrives(cda(), 5, &c);
        EXPECT_EQ(MapBits(raw + kSpareMapAt, 48), row.spares);
        EXPECT_EQ(MapBits(c.pbBigSpareAssignmentMap, 16), std::vector<VK_WORD>{});
        EXPECT_EQ(Packed(c.dwSpareAssignmentMap), 0u);
        EXPECT_EQ(Packed(c.bMoreUnitFlags), row.more_unit_flags);
    }
}

TEST_F(CommitCreateDeleteHost, AcceleratorAndSEDFlags) {
    struct Row {
        const char* name;
        bool advanced;
        VK_BYTE accelerator;
        VK_BYTE read;
        VK_BYTE written;
    };
    const Row rows[] = {
        {"IO bypass", false, 3, 0x41, 0x49},
        {"IO bypass, advanced writes", true, 3, 0x41, 0x69},
        {"controller cache clears the bits", false, 2, 0x49, 0x41},
        {"controller cache clears the advanced bits", true, 2, 0x69, 0x41},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Drives();
        if (row.advanced) {
            st.set_page("io", {0x0B});
        }
        ASSERT_NO_FATAL_FAILURE(Start(st));
        PEDITABLE_ARRAY a = StageArray({1}, {});
        StageDrive(5, a, kRAID0, 1000, 1000)->logical_drive_accelerator = row.accelerator;
        LOGICAL_DRIVE_CONFIG c{};
        c.bMoreUnitFlags = row.read;
        __VK_ManageEditableLogicalDriveAccelerator(cda(), 5, &c);
        EXPECT_EQ(Packed(c.bMoreUnitFlags), row.written);
    }

    // The SED flag only with the logical drive's and the array's bits both.
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    PEDITABLE_ARRAY a = StageArray({1}, {});
    PEDITABLE_LOGICAL_DRIVE ld = StageDrive(5, a, kRAID0, 1000, 1000);
    const struct {
        bool ld_bit, array_bit;
        VK_BYTE flags;
    } sed[] = {{true, true, 0x10}, {true, false, 0}, {false, true, 0}};
    for (const auto& s : sed) {
        ld->flags = s.ld_bit ? ld->flags | kEditableLDEnableSED : ld->flags & ~kEditableLDEnableSED;
        a->flags = static_cast<VK_WORD>(s.array_bit ? a->flags | kEditableArrSEDEncryption
                                                    : a->flags & ~kEditableArrSEDEncryption);
        LOGICAL_DRIVE_CONFIG c = Fresh(5);
        __VK_PrepNewEditableLogicalDrive(cda(), 5, &c);
        EXPECT_EQ(Packed(c.bConfigurationFlags) & 0x10, s.flags) << s.ld_bit << s.array_bit;
    }
}

TEST_F(CommitCreateDeleteHost, SignatureAndTimestampFromTheLocalTime) {
    UtcScope utc;
    qvsim::virtual_clock::Scope clock(UtcSeconds(2026, 3, 7, 10, 20, 30));
    EXPECT_EQ(__VK_GenerateLogicalDriveSignature(5),
              5u << 26 | 2u << 22 | 7u << 17 | 10u << 12 | 20u << 6 | 30u);
    // Only the low 6 bits of the number.
    EXPECT_EQ(__VK_GenerateLogicalDriveSignature(64 + 5), __VK_GenerateLogicalDriveSignature(5));
    EXPECT_EQ(__VK_GenerateTimestamp(), 2026u << 20 | 3u << 16 | 7u << 11 | 10u << 6 | 20u);
    qvsim::virtual_clock::start(UtcSeconds(2099, 12, 31, 23, 59, 58));
    EXPECT_EQ(__VK_GenerateLogicalDriveSignature(63),
              63u << 26 | 11u << 22 | 31u << 17 | 23u << 12 | 59u << 6 | 58u);
    EXPECT_EQ(__VK_GenerateTimestamp(), 2099u << 20 | 12u << 16 | 31u << 11 | 23u << 6 | 59u);
}

// ---- Creation: the passes --------------------------------------------------------------------

// A RAID 5 drive completed by the fixture goes through the plaintext pass and the labels; re-read,
// the controller has it with the geometry and the label staged.
TEST_F(CommitCreateDeleteHost, PlaintextPassCreatesARAID5DriveThatReadsBack) {
    UtcScope utc;
    qvsim::virtual_clock::Scope clock(UtcSeconds(2026, 3, 7, 10, 20, 30));
    ASSERT_NO_FATAL_FAILURE(Start(Drives(true)));
    PEDITABLE_ARRAY a = StageArray({2, 4, 3}, {7});
    PEDITABLE_LOGICAL_DRIVE ld = StageDrive(3, a, kRAID5, 1u << 20, 2u << 20);
    ld->logical_drive_initialization_method = 1;
    std::strcpy(ld->logical_drive_label, "RAID5 data three");
    config()->controller_spare_activation_mode = kControllerSAMTypeFailure;
    config()->flags &= ~kEditableConfigCacheConfig;

    EXPECT_EQ(__VK_CommitCreateNewEncryptedLogicalDrives(cda()), 0u);
    EXPECT_TRUE(Taken(0x51).empty()) << "the drive is not encrypted";
    EXPECT_EQ(__VK_CommitCreateNewPlaintextLogicalDrives(cda()), 0u);
    EXPECT_EQ(config()->flags & kEditableConfigCacheConfig, kEditableConfigCacheConfig);
    ASSERT_EQ(Taken(0x51).size(), 1u);
    EXPECT_EQ(Taken(0x51)[0].lun, 3);
    EXPECT_EQ(log_.Count("Creating ld 3\n ->flags......0x000001EA\n ->array......1\n ->RAID.......4\n"), 1u);
    EXPECT_EQ(__VK_CommitEditableLogicalDriveLabels(cda()), 0u);

    ASSERT_NO_FATAL_FAILURE(Reread());
    LOGICAL_DRIVE_CONFIG c{};
    ASSERT_TRUE(VK_GetSenseConfigurationBuffer(cda(), 3, &c));
    EXPECT_EQ(Packed(c.signature), 3u << 26 | 2u << 22 | 7u << 17 | 10u << 12 | 20u << 6 | 30u);
    EXPECT_EQ(Packed(c.wAssignedDrives), 3);
    EXPECT_EQ(Packed(c.wFaultToleranceMode), 3);
    EXPECT_EQ(Packed(c.wDistribution), 256);
    EXPECT_EQ(Packed(c.qwBigBlocksInLogicalDrive), 2u << 20);
    EXPECT_EQ(Packed(c.qwExtendedOffsetToData), 2048u);
    EXPECT_EQ(Packed(c.wBlockSize), 512);
    EXPECT_EQ(Packed(c.bLogicalDriveProperty) & 0x01, 0x01);
    EXPECT_EQ(Packed(c.wOS), 0xFD00);
    const auto* raw = reinterpret_cast<const VK_BYTE*>(&c);
    EXPECT_EQ(MapBits(raw + c.wOffsetToExtendedDriveAssignmentMap, 48), (std::vector<VK_WORD>{2, 3, 4}));
    EXPECT_EQ(MapBits(raw + c.wOffsetToExtendedSpareAssignmentMap, 48), (std::vector<VK_WORD>{7}));
    EXPECT_EQ(VK_GetLogicalDriveStatusInfo(cda(), 3) & 0xFF, kLogicalDriveUnitStatus18RPIInProgress)
        << "rapid parity initialisation asked for";
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 4), kPhysicalDriveUsageData);
    char label[kMinGetLogicalDriveVolumeLabelBufferLength] = {};
    ASSERT_NE(VK_GetLogicalDriveVolumeLabel(cda(), 3, label, sizeof(label)), nullptr);
    EXPECT_STREQ(label, "RAID5 data three");
}

// Each pass takes its own drives, and a failed creation does not stop it.
TEST_F(CommitCreateDeleteHost, PassesTakeTheirOwnDrivesAndGoOnAfterAFailure) {
    FirmwareState st = Drives(true);
    st.faults = {FailWrite(0x51, 1)};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    PEDITABLE_ARRAY a = StageArray({1, 2}, {});
    PEDITABLE_ARRAY b = StageArray({3, 4}, {});
    PEDITABLE_ARRAY e = StageArray({5, 6}, {});
    StageDrive(1, a, kRAID1, 1000, 1000);
    StageDrive(2, b, kRAID1, 1000, 1000);
    StageDrive(4, e, kRAID1, 1000, 1000)->flags |= kEditableLDEncrypted;
    config()->flags &= ~kEditableConfigCacheConfig;

    EXPECT_EQ(__VK_CommitCreateNewPlaintextLogicalDrives(cda()),
              kEditableConfigurationCommitErrorCreatePlainTextLogicalDrives);
    EXPECT_EQ(SentWrites(), (std::vector<int>{0x51, 0x51}));
    ASSERT_EQ(Taken(0x51).size(), 1u);
    EXPECT_EQ(Taken(0x51)[0].lun, 2) << "the second is created after the first failed";
    EXPECT_EQ(config()->flags & kEditableConfigCacheConfig, kEditableConfigCacheConfig);
    EXPECT_EQ(log_.Count("Failed to create ld 1"), 1u);

    Forget();
    EXPECT_EQ(__VK_CommitCreateNewEncryptedLogicalDrives(cda()), 0u);
    ASSERT_EQ(Taken(0x51).size(), 1u);
    EXPECT_EQ(Taken(0x51)[0].lun, 4);

    ASSERT_NO_FATAL_FAILURE(Reread());
    std::vector<VK_WORD> drives;
    for (VK_WORD n = VK_EnumerateControllerLogicalDrives(cda(), kNone); n != kNone;
         n = VK_EnumerateControllerLogicalDrives(cda(), n)) {
        drives.push_back(n);
    }
    EXPECT_EQ(drives, (std::vector<VK_WORD>{0, 2, 4}));
}

// A first creation refused on a controller without arrays is retried without spares, only for a
// RAID 0 drive whose array has spares.
TEST_F(CommitCreateDeleteHost, RetryWithoutSparesOnlyForRAID0WithSparesOnAnEmptyController) {
    struct Row {
        const char* name;
        bool configured;
        VK_BYTE raid;
        std::vector<VK_WORD> spares;
        bool retried;
    };
    const Row rows[] = {
        {"RAID 0 with spares, no arrays", false, kRAID0, {7}, true},
        {"RAID 1 with spares", false, kRAID1, {7}, false},
        {"RAID 0 without spares", false, kRAID0, {}, false},
        {"a controller with arrays", true, kRAID0, {7}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Drives(row.configured);
        st.faults = {FailWrite(0x51, 5)};
        ASSERT_NO_FATAL_FAILURE(Start(st));
        PEDITABLE_ARRAY a = StageArray({1, 2}, row.spares);
        PEDITABLE_LOGICAL_DRIVE ld = StageDrive(5, a, row.raid, 1000, 2000);
        config()->controller_spare_activation_mode = kControllerSAMTypePredictive;
        log_.lines().clear();
        EXPECT_EQ(__VK_CommitCreateLogicalDrive(cda(), 5), row.retried ? kTrue : kFalse);
        EXPECT_EQ(log_.Count("First attempt to create ld 5 failed: Re-trying w/o spares..."),
                  row.retried ? 1u : 0u);
        EXPECT_EQ((ld->flags & kEditableLDSparesChanged) != 0, row.retried);
        if (!row.retried) {
            EXPECT_EQ(SentWrites(), (std::vector<int>{0x51}));
            EXPECT_EQ(log_.Count("Failed to create ld 5\n"), 1u);
            continue;
        }
        // Refused, retried, then the controller parameters (the staged spare activation differs).
        EXPECT_EQ(SentWrites(), (std::vector<int>{0x51, 0x51, 0x63}));
        ASSERT_EQ(Taken(0x63).size(), 1u);
        EXPECT_EQ(Taken(0x63)[0].data[125] & 0x80, 0x80) << "predictive spare activation";
        ASSERT_EQ(Taken(0x51).size(), 1u);
        const Bytes sent_config = Taken(0x51)[0].data;
        EXPECT_EQ(MapBits(sent_config.data() + kSpareMapAt, 48), std::vector<VK_WORD>{}) << "no spares";
        EXPECT_EQ(MapBits(sent_config.data() + kMemberMapAt, 48), (std::vector<VK_WORD>{1, 2}));
        EXPECT_EQ(log_.Count("LD 5 created w/o spares (pending later change)"), 1u);
    }

    // The retry refused as well.
    FirmwareState st = Drives();
    st.faults = {FailWrite(0x51, 5, 1, 2)};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    PEDITABLE_ARRAY a = StageArray({1, 2}, {7});
    PEDITABLE_LOGICAL_DRIVE ld = StageDrive(5, a, kRAID0, 1000, 2000);
    EXPECT_FALSE(__VK_CommitCreateLogicalDrive(cda(), 5));
    EXPECT_EQ(SentWrites(), (std::vector<int>{0x51, 0x51}));
    EXPECT_EQ(ld->flags & kEditableLDSparesChanged, 0u);
    EXPECT_EQ(log_.Count("Failed to create ld 5 w/o spares"), 1u);
}

// A configuration reply whose own total exceeds its buffer is never sent back: creation and
// deletion report their failure and write nothing.
TEST_F(CommitCreateDeleteHost, AReplyTotalBeyondTheBufferSendsNothing) {
    FirmwareState st = Drives(true);
    for (VK_WORD ld : {VK_WORD{0}, VK_WORD{5}}) {
        st.device_patches.push_back({0x50, ld, 256, {0xBC, 0x02, 0x00, 0x00}}); // 700
    }
    ASSERT_NO_FATAL_FAILURE(Start(st));
    PEDITABLE_ARRAY a = StageArray({1, 2}, {});
    StageDrive(5, a, kRAID1, 1000, 1000);
    EXPECT_EQ(__VK_CommitCreateNewPlaintextLogicalDrives(cda()),
              kEditableConfigurationCommitErrorCreatePlainTextLogicalDrives);
    EXPECT_FALSE(__VK_DeleteLogicalDrive(cda(), 0));
    EXPECT_TRUE(SentWrites().empty());
    EXPECT_NE(state().find_configured_drive(0), nullptr);
}

// ---- Deletion: the partition-table overwrite ----------------------------------------------------

// Logical drive 1 (drives 2 and 3, RAID 1, 2^20 blocks) with a protective MBR and GPT headers.
FirmwareState Partitioned(const std::function<void(FwLogicalDrive&)>& edit = {}) {
    FirmwareState st = Drives(true);
    FwLogicalDrive& l = st.add_configured_drive(1, {2, 3}, 1u << 20);
    l.fault_tolerance = 2;
    l.page83_id = kOtherId;
    if (edit) {
        edit(l);
    }
    qvsim::fw_seed_partition_tables(l);
    return st;
}

constexpr std::uint64_t kLastBlock = (1u << 20) - 1;

TEST_F(CommitCreateDeleteHost, BothTablesOverwrittenInPrimaryAndAlternate) {
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned()));
    const Bytes mbr = Block(1, 0);
    __VK_ManglePartitionTable(cda(), 1);
    using B = BlockIo;
    EXPECT_EQ(BlockCommands(), (std::vector<B>{{0x88, 0, 1},
                                               {0x8A, 0, 1},
                                               {0x88, 1, 1},
                                               {0x8A, 1, 1},
                                               {0x88, kLastBlock, 1},
                                               {0x8A, kLastBlock, 1}}));
    Bytes expected = mbr;
    expected[510] = 0xDE;
    expected[511] = 0xAD;
    EXPECT_EQ(Block(1, 0), expected) << "only the signature changes";
    EXPECT_EQ(Text(Block(1, 1), 0, 8), "DEADDEAD");
    EXPECT_EQ(Text(Block(1, kLastBlock), 0, 8), "DEADDEAD");
    EXPECT_EQ(Block(1, 1)[12], 92) << "the rest of the header stays";
    EXPECT_TRUE(Taken(0x51).empty()) << "the overwrite alone deletes nothing";
}

TEST_F(CommitCreateDeleteHost, MBROnlyAndGPTWithoutAlternate) {
    // MBR only: block 1 is read and left alone.
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned()));
    std::erase_if(state().find_configured_drive(1)->blocks,
                  [](const qvsim::FwBlock& b) { return b.lba != 0; });
    __VK_ManglePartitionTable(cda(), 1);
    EXPECT_EQ(BlockCommands(), (std::vector<BlockIo>{{0x88, 0, 1}, {0x8A, 0, 1}, {0x88, 1, 1}}));
    EXPECT_EQ(Block(1, 0)[510], 0xDE);
    EXPECT_EQ(Block(1, 0)[511], 0xAD);
    EXPECT_EQ(Block(1, 1), Bytes(512, 0));

    // GPT whose alternate field is 0: the primary header only.
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned()));
    for (auto& b : state().find_configured_drive(1)->blocks) {
        if (b.lba == 1) {
            std::fill(b.data.begin() + 32, b.data.begin() + 40, 0);
        }
    }
    __VK_ManglePartitionTable(cda(), 1);
    EXPECT_EQ(BlockCommands(),
              (std::vector<BlockIo>{{0x88, 0, 1}, {0x8A, 0, 1}, {0x88, 1, 1}, {0x8A, 1, 1}}));
    EXPECT_EQ(Text(Block(1, 1), 0, 8), "DEADDEAD");
    EXPECT_EQ(Text(Block(1, kLastBlock), 0, 8), "EFI PART");

    // Neither: read, nothing written.
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned()));
    state().find_configured_drive(1)->blocks.clear();
    __VK_ManglePartitionTable(cda(), 1);
    EXPECT_EQ(BlockCommands(), (std::vector<BlockIo>{{0x88, 0, 1}, {0x88, 1, 1}}));
}

TEST_F(CommitCreateDeleteHost, BlocksMoveInTheDrivesBlockSize) {
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned([](FwLogicalDrive& l) { l.block_size = 4096; })));
    __VK_ManglePartitionTable(cda(), 1);
    const std::vector<BlockIo> io = BlockCommands();
    ASSERT_EQ(io.size(), 6u);
    for (const BlockIo& b : io) {
        EXPECT_EQ(b.count, 1u) << "one 4096-byte block per transfer";
    }
    ASSERT_EQ(Block(1, 0).size(), 4096u);
    EXPECT_EQ(Block(1, 0)[510], 0xDE);
    EXPECT_EQ(Text(Block(1, 1), 0, 8), "DEADDEAD");

    // A block too small to hold the MBR signature: nothing read, nothing written.
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned([](FwLogicalDrive& l) { l.block_size = 256; })));
    __VK_ManglePartitionTable(cda(), 1);
    EXPECT_TRUE(BlockCommands().empty());
}

TEST_F(CommitCreateDeleteHost, ExcludedDrivesSeeNoBlockIo) {
    struct Row {
        const char* name;
        std::function<void(FwLogicalDrive&)> edit;
    };
    std::vector<Row> rows;
    for (std::uint8_t status : {1, 2, 6, 7, 11, 14, 15, 18}) {
        rows.push_back({"unit status", [status](FwLogicalDrive& l) { l.unit_status = status; }});
    }
    rows.push_back({"LU cache drive", [](FwLogicalDrive& l) {
                        l.property = 0x05;
                        l.lu_cache_bits = 0x02;
                    }});
    rows.push_back({"encrypted", [](FwLogicalDrive& l) { l.encryption_flags = 0x01; }});
    rows.push_back({"SED-enabled", [](FwLogicalDrive& l) { l.managed_sed_flags = 0x01; }});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Partitioned(row.edit);
        st.set_page("encryption", {0x01});
        st.set_page("managed_sed", {0x07});
        ASSERT_NO_FATAL_FAILURE(Start(st, false));
        EXPECT_FALSE(__VK_CheckLogicalDriveAllowsMangling(cda(), 1));
        __VK_ManglePartitionTable(cda(), 1);
        EXPECT_TRUE(BlockCommands().empty());
        EXPECT_TRUE(__VK_DeleteLogicalDrive(cda(), 1)) << "deleted all the same";
    }
    // Statuses that allow it: OK, recovering, expanding.
    for (std::uint8_t status : {0, 5, 10}) {
        ASSERT_NO_FATAL_FAILURE(
            Start(Partitioned([status](FwLogicalDrive& l) { l.unit_status = status; }), false));
        EXPECT_TRUE(__VK_CheckLogicalDriveAllowsMangling(cda(), 1)) << int(status);
    }
}

// Failed block I/O is silent and never stops the deletion that follows.
TEST_F(CommitCreateDeleteHost, FailedBlockIoNeverStopsTheDeletion) {
    struct Row {
        const char* name;
        FwFault fault;
        std::vector<BlockIo> io;
    };
    const Row rows[] = {
        {"reads fail", FailBlock(0x88, 1), {{0x88, 0, 1}, {0x88, 1, 1}}},
        {"writes fail", FailBlock(0x8A, 1), {{0x88, 0, 1}, {0x8A, 0, 1}, {0x88, 1, 1}, {0x8A, 1, 1}}},
        {"the alternate read fails",
         [] {
             FwFault f = FailBlock(0x88, 1, 1);
             f.nth = 3;
             return f;
         }(),
         {{0x88, 0, 1}, {0x8A, 0, 1}, {0x88, 1, 1}, {0x8A, 1, 1}, {0x88, kLastBlock, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Partitioned();
        st.faults = {row.fault};
        ASSERT_NO_FATAL_FAILURE(Start(st));
        __VK_ManglePartitionTable(cda(), 1);
        EXPECT_EQ(BlockCommands(), row.io);
        EXPECT_TRUE(__VK_DeleteLogicalDrive(cda(), 1));
        EXPECT_EQ(state().find_configured_drive(1), nullptr);
    }
}

// ---- Deletion: single and all ------------------------------------------------------------------

// End to end: a staged deletion overwrites the tables, the drive is gone after a re-read and its
// drives are unassigned.
TEST_F(CommitCreateDeleteHost, StagedDeletionEndToEnd) {
    ASSERT_NO_FATAL_FAILURE(Start(Partitioned()));
    __VK_ManglePartitionTable(cda(), 1);
    EXPECT_EQ(Block(1, 0)[511], 0xAD);
    EXPECT_EQ(Text(Block(1, kLastBlock), 0, 8), "DEADDEAD");
    ASSERT_TRUE(__VK_DeleteLogicalDrive(cda(), 1));
    ASSERT_EQ(Taken(0x51).size(), 1u);
    EXPECT_EQ(Taken(0x51)[0].lun, 1);
    EXPECT_EQ(Taken(0x51)[0].data[10] | Taken(0x51)[0].data[11] << 8, 0) << "no assigned drive";
    EXPECT_TRUE(Taken(0x63).empty()) << "not a boot volume: no controller parameters";
    EXPECT_EQ(log_.Count("Deleting ld 1\n"), 1u);

    ASSERT_NO_FATAL_FAILURE(Reread());
    std::vector<VK_WORD> drives;
    for (VK_WORD n = VK_EnumerateControllerLogicalDrives(cda(), kNone); n != kNone;
         n = VK_EnumerateControllerLogicalDrives(cda(), n)) {
        drives.push_back(n);
    }
    EXPECT_EQ(drives, (std::vector<VK_WORD>{0}));
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 2), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 3), kPhysicalDriveUsageUnassigned);
    EXPECT_EQ(VK_GetPhysicalDriveUsageInfo(cda(), 10), kPhysicalDriveUsageData);
}

TEST_F(CommitCreateDeleteHost, DeletingABootVolumeClearsItOnTheController) {
    struct Row {
        const char* name;
        std::array<std::uint8_t, 16> primary, secondary;
        bool written;
    };
    const std::array<std::uint8_t, 16> zero{};
    const Row rows[] = {
        {"primary", kBootId, kOtherId, true},
        {"secondary", kOtherId, kBootId, true},
        {"both", kBootId, kBootId, true},
        {"neither", kOtherId, kOtherId, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Partitioned();
        st.identify.yet_more_flags |= 0x10000000;
        st.find_configured_drive(0)->page83_id = kBootId;
        st.parameters.primary_boot_lun = row.primary;
        st.parameters.secondary_boot_lun = row.secondary;
        ASSERT_NO_FATAL_FAILURE(Start(st));
        ASSERT_TRUE(__VK_DeleteLogicalDrive(cda(), 0));
        ASSERT_EQ(Taken(0x63).size(), row.written ? 1u : 0u);
        EXPECT_EQ(state().parameters.primary_boot_lun, row.primary == kBootId ? zero : row.primary);
        EXPECT_EQ(state().parameters.secondary_boot_lun, row.secondary == kBootId ? zero : row.secondary);
        if (row.written) {
            const Bytes p = Taken(0x63)[0].data;
            EXPECT_EQ(Bytes(p.begin() + kPrimaryBootLun, p.begin() + kPrimaryBootLun + 16),
                      row.primary == kBootId ? Bytes(16, 0) : Bytes(row.primary.begin(), row.primary.end()));
            EXPECT_EQ(Bytes(p.begin() + kSecondaryBootLun, p.begin() + kSecondaryBootLun + 16),
                      row.secondary == kBootId ? Bytes(16, 0)
                                               : Bytes(row.secondary.begin(), row.secondary.end()));
        }
    }
    // A refused deletion clears no boot volume.
    FirmwareState st = Partitioned();
    st.identify.yet_more_flags |= 0x10000000;
    st.find_configured_drive(0)->page83_id = kBootId;
    st.parameters.primary_boot_lun = kBootId;
    st.faults = {FailWrite(0x51, 0)};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_FALSE(__VK_DeleteLogicalDrive(cda(), 0));
    EXPECT_EQ(SentWrites(), (std::vector<int>{0x51}));
    EXPECT_EQ(log_.Count("Failed to delete ld 0\n"), 1u);
    EXPECT_FALSE(__VK_DeleteLogicalDrive(cda(), 64));
}

// Logical drives 0 and 1 as data drives, 2 the LU cache of 0 (on drive 4), 3 another data drive.
FirmwareState WithLUCache() {
    FirmwareState st = Drives(true);
    st.set_page("lu_cache", {0x20, 0x00, 0x01});
    FwLogicalDrive& zero = *st.find_configured_drive(0);
    zero.lu_cache_bits = 0x01;
    zero.lu_cache_other = 2;
    st.add_configured_drive(1, {2, 3}, 1u << 20).fault_tolerance = 2;
    FwLogicalDrive& cache = st.add_configured_drive(2, {4}, 1u << 16);
    cache.property = 0x05;
    cache.lu_cache_bits = 0x02;
    cache.lu_cache_other = 0;
    st.add_configured_drive(3, {5, 6}, 1u << 20).fault_tolerance = 2;
    return st;
}

TEST_F(CommitCreateDeleteHost, DeleteAllDestroysLUCachesFirstAndGoesOnAfterAFailure) {
    FirmwareState st = WithLUCache();
    st.faults = {FailWrite(0x51, 1)};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_FALSE(__VK_DeleteAllLogicalDrives(cda()));
    // 0xC0 sub-command 2 for the cache drive, then a 0x51 for each drive in number order.
    std::vector<std::pair<int, std::uint32_t>> writes;
    for (const qvsim::BmicCdb& b : Received()) {
        if (b.write) {
            writes.push_back({b.opcode, b.opcode == 0xC0 ? b.detail : b.lun()});
        }
    }
    EXPECT_EQ(writes, (std::vector<std::pair<int, std::uint32_t>>{
                          {0xC0, 0x20002}, {0x51, 0}, {0x51, 1}, {0x51, 2}, {0x51, 3}}));
    EXPECT_EQ(log_.Count("Deleting cache ld 2\n"), 1u);
    EXPECT_EQ(log_.Count("Failed to delete ld 1\n\n"), 1u);
    EXPECT_NE(state().find_configured_drive(1), nullptr);
    EXPECT_EQ(state().find_configured_drive(0), nullptr);
    EXPECT_EQ(state().find_configured_drive(3), nullptr);

    // A failed destroy is logged and the deletions go on.
    st = WithLUCache();
    FwFault destroy = FailWrite(0xC0, 2);
    destroy.sense.clear();
    destroy.err = EBUSY;
    st.faults = {destroy};
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_TRUE(__VK_DeleteAllLogicalDrives(cda()));
    EXPECT_EQ(log_.Count("Failed to force-destory lu cache ld 2\n\n"), 1u);
    EXPECT_EQ(log_.Count("Failed to destroy lu cache ld 2\n"), 1u);
    EXPECT_TRUE(state().logical_drives.empty());
}

TEST_F(CommitCreateDeleteHost, DestroyingAnLUCacheWithoutItsConfiguration) {
    ASSERT_NO_FATAL_FAILURE(Start(WithLUCache()));
    FwFault read;
    read.bmic = 0xC1;
    read.device = 2;
    read.err = EIO;
    state().faults = {read};
    EXPECT_FALSE(__VK_DestroyLUCacheLogicalDrive(cda(), 2));
    EXPECT_TRUE(SentWrites().empty());
    EXPECT_EQ(log_.Count("Failed to get LU_CACHE_CREATE buffer"), 1u);
    EXPECT_TRUE(__VK_DestroyLUCacheLogicalDrive(cda(), 2));
    EXPECT_EQ(SentWrites(), (std::vector<int>{0xC0}));
}

} // namespace
