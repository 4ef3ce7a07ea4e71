// LU caches of the staged configuration against a simulated controller: creating the cache array,
// pairing a data drive with a cache drive, and the cache line with the cache drive's strip. New
// cache drives come from other editing functions; here the fixture stages them directly, as those
// functions would leave them.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "staged_config_fixture.h"

namespace {

using namespace staged_host;

constexpr VK_QWORD k16GiBBlocks = 0x400000000ULL / 512;

// The LU-cache feature page: flags (0x20 supported, 0x40 strip limits reported, then the RAID
// policy bits), version, strip and stripe limits in KiB, and the extra line sizes.
std::vector<std::uint8_t> LUCachePage(std::uint8_t flags, std::uint32_t min_strip_kib, std::uint8_t lines) {
    std::vector<std::uint8_t> page = {flags, 0x00, 0x02};
    for (const std::uint32_t v : {256u, min_strip_kib, 1024u, 64u}) {
        for (int i = 0; i < 4; ++i) {
            page.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    page.push_back(lines);
    return page;
}

// RAID 0, 1 and RAID 5 write-through; 128 and 256 KiB lines; strips of 16 to 256 KiB.
constexpr std::uint8_t kPolicies = 0x20 | 0x40 | 0x01 | 0x02 | 0x04;

// Drives 0-3 hard disks, 4-9 unassigned SSDs, all of 512-byte blocks; array 0 holds logical drive 0,
// RAID 5 on drives 0-3, of exactly 16 GiB.
FirmwareState Controller(std::uint8_t policies = kPolicies, std::uint32_t min_strip_kib = 16) {
    FirmwareState st;
    st.set_page("lu_cache", LUCachePage(policies, min_strip_kib, 0x06));
    AddDrives(st, 10, VK_QWORD{1} << 26);
    for (std::uint16_t pd = 4; pd < 10; ++pd) {
        st.find_drive(pd)->rpm = 1;
        st.find_drive(pd)->extra_device_flags = 0x20;
    }
    FwLogicalDrive& data = st.add_configured_drive(0, {0, 1, 2, 3}, k16GiBBlocks / 3);
    data.fault_tolerance = 3;
    data.size_blocks = k16GiBBlocks;
    st.cache.lu_cache_used = 1000000;
    st.cache.lu_cache_available = 9000000;
    // Every field distinct: type, bytes per line, header, data volumes, cache and data size bits.
    st.cache.lu_cache_algorithms = {
        {1, 16, 1000, 1, 20, 30}, {2, 24, 2000, 2, 22, 32}, {3, 40, 3000, 3, 0, 64}, {4, 48, 4000, 4, 64, 70}};
    st.cache.battery_status = 0x1; // charged
    return st;
}

class LUCacheHost : public StagedConfigHost {
public:
    PCDA area() { return cda(); }

    // A new LU-cache array holding the given SSDs.
    PEDITABLE_ARRAY StageCacheArray(std::vector<VK_WORD> drives) {
        PEDITABLE_ARRAY a =
            FillArray(VK_CreateEditableLUCacheArray(cda()), drives, kPhysicalDriveUsageLUCacheData);
        if (a != nullptr) {
            a->common_drive_type = kPhysicalDriveTypeSSD;
        }
        return a;
    }

    // A new cache logical drive in the first free slot of `a`, RAID level set, algorithm 2 and a
    // 128 KiB line, not sized.
    PEDITABLE_LOGICAL_DRIVE StageCacheDrive(PEDITABLE_ARRAY a, VK_BYTE raid_level) {
        PEDITABLE_LOGICAL_DRIVE r = StageRecord(a, kEditableLDNewDrive | kEditableLDArraySet |
                                                       kEditableLDLUCache | kEditableLDRAIDSet);
        r->lu_cache_ld_number = 0xFFFF;
        r->RAID_level = raid_level;
        r->num_parity_groups = 1;
        r->lu_cache_algorithm = 2;
        r->lu_cache_line_size_blocks = 256;
        r->block_size_bytes = 512;
        return r;
    }
};

// ---- The LU-cache array ----

TEST_F(LUCacheHost, CacheArrayIsCreatedOnceAndStagesTheLeastReadShare) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    const VK_BYTE minimum =
        GET_EDITABLE_CONTROLLER_MIN_READ_CACHE_PERCENT(VK_GetEditableControllerReadCachePercentLimits(cda()));
    ASSERT_LE(minimum, 90);
    config()->controller_read_cache_percent = static_cast<VK_BYTE>(minimum + 10);
    config()->flags &= ~kEditableConfigCacheConfig;
    EXPECT_EQ(VK_CanCreateEditableLUCacheArray(cda()), kCanCreateEditableLUCacheArrayOK);
    const VK_WORD n = VK_CreateEditableLUCacheArray(cda());
    ASSERT_EQ(n, 1);
    EXPECT_EQ(array(1)->flags, kEditableArrNew | kEditableArrLUCache);
    EXPECT_EQ(array(1)->editable_array_number, 1);
    EXPECT_EQ(config()->editable_array_count, 2);
    EXPECT_EQ(config()->controller_read_cache_percent, minimum);
    EXPECT_TRUE(config()->flags & kEditableConfigCacheConfig);
    EXPECT_TRUE(VK_IsEditableControllerLUCacheEnabled(cda()));
    EXPECT_EQ(VK_CanCreateEditableLUCacheArray(cda()), kCanCreateEditableLUCacheArrayLUCacheArrayAlreadyExist);
    EXPECT_EQ(VK_CreateEditableLUCacheArray(cda()), 0xFFFF);

    // Already at the minimum: nothing more is staged for the cache.
    ASSERT_NO_FATAL_FAILURE(Restage());
    config()->controller_read_cache_percent = minimum;
    config()->flags &= ~kEditableConfigCacheConfig;
    ASSERT_EQ(VK_CreateEditableLUCacheArray(cda()), 1);
    EXPECT_FALSE(config()->flags & kEditableConfigCacheConfig);
}

TEST_F(LUCacheHost, CacheArrayRefusalsOfTheStaging) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    const struct {
        const char* name;
        std::function<void(LUCacheHost&)> stage;
        VK_BYTE reason;
    } rows[] = {
        {"ld count at the controller's limit",
         [](LUCacheHost& h) { h.config()->editable_ld_count = _VK_CDA(h.area())->identify_controller_buffer.wMaximumLogicalDevicesSupported; },
         kCanCreateEditableLUCacheArrayMaxLDCountReached},
        {"no unassigned SSD",
         [](LUCacheHost& h) {
             for (VK_WORD pd = 4; pd < 10; ++pd) {
                 h.config()->editable_pd_list[pd].config_usage_info = kPhysicalDriveUsageData;
             }
         },
         kCanCreateEditableLUCacheArrayNoUnassignedDrivesAvailable},
        {"a transformation queued",
         [](LUCacheHost& h) { h.ld(0)->drive_size_blocks += 8160; __VK_RefreshEditableLogicalDriveTransformationFlags(h.area(), 0); },
         kCanCreateEditableLUCacheArrayHasTransformingLogicalDrive},
        // Every array slot taken: the new array would be stored past the list.
        {"64 arrays staged", [](LUCacheHost& h) { h.config()->editable_array_count = 64; },
         kCanCreateEditableLUCacheArrayLUCacheArrayAlreadyExist},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        row.stage(*this);
        EXPECT_EQ(VK_CanCreateEditableLUCacheArray(cda()), row.reason);
        EXPECT_EQ(VK_CreateEditableLUCacheArray(cda()), 0xFFFF);
    }
    // Restore the count the row above overstated, so the configuration is destroyed whole.
    config()->editable_array_count = 1;
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanCreateEditableLUCacheArray(cda()), kCanCreateEditableLUCacheArrayNoEditableConfigCreated);
    EXPECT_EQ(VK_CreateEditableLUCacheArray(cda()), 0xFFFF);
}

TEST_F(LUCacheHost, CacheArrayRefusalsOfTheController) {
    const struct {
        const char* name;
        std::function<void(FirmwareState&)> firmware;
        VK_BYTE reason;
    } rows[] = {
        {"controller locked",
         [](FirmwareState& st) {
             st.set_page("encryption", {0x01});
             st.encryption.boot_password_status = 0x2;
         },
         kCanCreateEditableLUCacheArrayControllerStatusNotOK},
        {"no LU cache", [](FirmwareState& st) { st.set_page("lu_cache", LUCachePage(0x40, 16, 0)); },
         kCanCreateEditableLUCacheArrayNotSupported},
        {"SSDs of 4096-byte blocks",
         [](FirmwareState& st) {
             for (VK_WORD pd = 4; pd < 10; ++pd) {
                 st.find_drive(pd)->block_size = 4096;
             }
         },
         kCanCreateEditableLUCacheArrayNoUnassignedDrivesAvailable},
        {"cache permanently disabled",
         [](FirmwareState& st) {
             st.cache.cache_flags = 0x4;
             st.cache.disable_code = 1;
         },
         kCanCreateEditableLUCacheArrayCacheStatusNotOK},
        {"backup power charging", [](FirmwareState& st) { st.cache.battery_status = 0; },
         kCanCreateEditableLUCacheArrayCacheStatusNotOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Controller();
        row.firmware(st);
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        EXPECT_EQ(VK_CanCreateEditableLUCacheArray(cda()), row.reason);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

// ---- Pairing ----

TEST_F(LUCacheHost, PairingRefusalsInOrder) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    using Stage = std::function<void(LUCacheHost&, PEDITABLE_LOGICAL_DRIVE d, PEDITABLE_LOGICAL_DRIVE k)>;
    const struct {
        const char* name;
        Stage stage;
        VK_WORD data, cache;
        VK_BYTE policy, reason;
    } rows[] = {
        {"allowed", {}, 0, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheOK},
        {"data drive past 63", {}, 64, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive},
        {"no data drive", {}, 9, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive},
        {"no cache drive", {}, 0, 9, 2, kCanSetEditableLogicalDriveLUCacheInvalidLUCacheLogicalDrive},
        {"cache array not set", [](auto&, auto, auto k) { k->flags &= ~kEditableLDArraySet; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheLUCacheArrayNotSet},
        {"not a cache drive", [](auto&, auto, auto k) { k->flags &= ~kEditableLDLUCache; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheInvalidLUCacheLogicalDrive},
        {"cache RAID not set", [](auto&, auto, auto k) { k->flags &= ~kEditableLDRAIDSet; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheLUCacheRAIDNotSet},
        {"data array not set", [](auto&, auto d, auto) { d->flags &= ~kEditableLDArraySet; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheDataArrayNotSet},
        {"data on an LU-cache array", [](auto& h, auto, auto) { h.array(0)->flags |= kEditableArrLUCache; }, 0, 0xFFFF,
         2, kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive},
        {"data on a split mirror", [](auto& h, auto, auto) { h.array(0)->flags |= kEditableArrSplitMirror; }, 0,
         0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheInvalidDataLogicalDrive},
        {"4096-byte blocks", [](auto& h, auto, auto) { h.array(0)->common_block_size = 4096; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheUnsupportedBlockSize},
        {"IO bypass", [](auto& h, auto, auto) { h.array(0)->flags |= kEditableArrIOBypass; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheIOBypassEnabled},
        {"already paired so",
         [](auto&, auto d, auto k) {
             k->lu_cache_ld_number = 0;
             k->lu_cache_policy = 2;
             d->lu_cache_ld_number = k->ld_number;
         },
         0, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheAlreadySet},
        {"cache caches another drive", [](auto&, auto, auto k) { k->lu_cache_ld_number = 5; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheReassignNotAllowed},
        {"data cached by another", [](auto&, auto d, auto) { d->lu_cache_ld_number = 7; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheAlreadyCached},
        {"read-only policy", {}, 0, 0xFFFF, 1, kCanSetEditableLogicalDriveLUCacheInvalidPolicy},
        {"policy 4", {}, 0, 0xFFFF, 4, kCanSetEditableLogicalDriveLUCacheInvalidPolicy},
        {"RAID 5 write-back unsupported", [](auto&, auto, auto k) { k->RAID_level = kRAID5; }, 0, 0xFFFF, 3,
         kCanSetEditableLogicalDriveLUCachePolicyUnsupported},
        {"data larger than a cache may cover",
         [](auto&, auto d, auto) { d->drive_size_blocks = (VK_QWORD{1} << 32) * 256 + 1; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheDataLogicalDriveTooLarge},
        {"data just under 16 GiB", [](auto&, auto d, auto) { d->drive_size_blocks = k16GiBBlocks - 1; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheDataLogicalDriveTooSmall},
        {"boot connector", [](auto& h, auto, auto) { h.array(0)->flags |= kEditableArrBootConnector; }, 0, 0xFFFF, 2,
         kCanSetEditableLogicalDriveLUCacheCannotCacheBootVolumes},
        {"cache larger than data",
         [](auto&, auto, auto k) {
             k->drive_size_blocks = k16GiBBlocks + 8160;
             k->flags |= kEditableLDSizeSet;
         },
         0, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheCacheLDLargerThanDataLD},
        {"SED on one side only", [](auto& h, auto, auto k) { h.array(k->editable_array_number)->flags |= kEditableArrSEDEncryption; },
         0, 0xFFFF, 2, kCanSetEditableLogicalDriveLUCacheInvalidSEDEncryptionState},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(StageCacheArray({4, 5}), kRAID1);
        if (row.stage) {
            row.stage(*this, ld(0), k);
        }
        const VK_WORD cache = row.cache == 0xFFFF ? k->ld_number : row.cache;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveLUCache(cda(), row.data, cache, row.policy), row.reason);
    }
    VK_DestroyEditableConfiguration(cda());
    EXPECT_EQ(VK_CanSetEditableLogicalDriveLUCache(cda(), 0, 1, 2), kCanSetEditableLogicalDriveLUCacheNoEditableConfigCreated);
}

TEST_F(LUCacheHost, PairingAtExactly16GiBAndItsEffect) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(StageCacheArray({4, 5}), kRAID1);
    ASSERT_EQ(ld(0)->drive_size_blocks, k16GiBBlocks);
    const VK_WORD kn = k->ld_number;
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), 0), 0xFFFF);

    EXPECT_EQ(VK_SetEditableLogicalDriveLUCache(cda(), 0, kn, 1), kSetEditableLogicalDriveLUCacheFailedUnknown);
    EXPECT_EQ(ld(0)->lu_cache_ld_number, 0xFFFF);
    EXPECT_EQ(VK_SetEditableLogicalDriveLUCache(cda(), 0, kn, 2), kSetEditableLogicalDriveLUCacheOK);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), 0), kn);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), kn), 0);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheWritePolicy(cda(), 0), 2);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheWritePolicy(cda(), kn), 2);
    EXPECT_EQ(ld(0)->lu_cache_algorithm, 2);
    EXPECT_EQ(ld(0)->lu_cache_line_size_blocks, 256u);
    EXPECT_EQ(ld(0)->logical_drive_accelerator, kLogicalDriveAcceleratorLUCache);
    EXPECT_TRUE(ld(0)->flags & kEditableLDLUCacheChanged);
    EXPECT_TRUE(k->flags & kEditableLDLUCacheChanged);
    EXPECT_EQ(VK_GetEditableLogicalDriveFlags(cda(), kn) & kEditableLogicalDriveFlagNoLUCacheLogicalDriveSet, 0u);

    // One side naming the other is no pairing.
    ld(0)->lu_cache_ld_number = 0xFFFF;
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), kn), 0xFFFF);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), 64), 0xFFFF);
}

// A live pair: data drive 0 on hard disks, cache drive 1 on SSDs 4 and 5, unpaired in the staging.
FirmwareState LivePair(std::uint8_t policies, std::uint8_t cache_unit_status, std::uint8_t cache_state) {
    FirmwareState st = Controller(policies);
    FwLogicalDrive& data = st.logical_drives.front();
    data.lu_cache_bits = 0x01;
    data.lu_cache_other = 1;
    data.lu_cache_state = cache_state;
    FwLogicalDrive& cache = st.add_configured_drive(1, {4, 5}, 1u << 20);
    cache.fault_tolerance = 2;
    cache.property = 0x04;
    cache.lu_cache_bits = 0x01;
    cache.lu_cache_other = 0;
    cache.lu_cache_state = cache_state;
    cache.lu_cache_state_stats = cache_state;
    cache.unit_status = cache_unit_status;
    return st;
}

TEST_F(LUCacheHost, ExistingCacheDrivePairs) {
    const struct {
        const char* name;
        std::uint8_t policies, unit_status, state;
        VK_BYTE policy, reason;
    } rows[] = {
        {"write-through without RAID 1 policy", 0x20 | 0x40, 0, 0x01, 2, kCanSetEditableLogicalDriveLUCacheOK},
        {"write-back without RAID 1 policy", 0x20 | 0x40, 0, 0x01, 3,
         kCanSetEditableLogicalDriveLUCachePolicyUnsupported},
        {"flushing", kPolicies, 0, 0x20, 2, kCanSetEditableLogicalDriveLUCacheOK},
        {"cache drive failed", kPolicies, 1, 0x01, 2, kCanSetEditableLogicalDriveLUCacheCacheLogicalDriveNotOK},
        {"cache state limited", kPolicies, 0, 0x02, 2, kCanSetEditableLogicalDriveLUCacheStatusNotOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Start(LivePair(row.policies, row.unit_status, row.state)));
        ASSERT_NE(ld(1), nullptr);
        ASSERT_TRUE(ld(1)->flags & kEditableLDLUCache);
        EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheNumber(cda(), 0), 1);
        ld(0)->lu_cache_ld_number = 0xFFFF;
        ld(1)->lu_cache_ld_number = 0xFFFF;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveLUCache(cda(), 0, 1, row.policy), row.reason);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

// ---- Line size and strip ----

TEST_F(LUCacheHost, LineSizeSetsTheCacheDrivesStrip) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    // RAID 5 on five SSDs: four strips make the line.
    PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(StageCacheArray({4, 5, 6, 7, 8}), kRAID5);
    const VK_WORD kn = k->ld_number;
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheLineSize(cda(), kn), kControllerLUCacheLineSize128KB);
    EXPECT_EQ(__VK_GetEditableLUCacheStripSizeFromStripe(cda(), kn, 262144, kRAID5, 1), 65536u);
    EXPECT_EQ(__VK_GetEditableLUCacheStripSizeFromStripe(cda(), kn, 262144, kRAID1, 1), 262144u);
    VK_DWORD stripe = 1;
    // 64 KiB over four drives would need 16 KiB strips, the smallest allowed.
    EXPECT_EQ(__VK_GetEditableLUCacheStripAndStripeSize(cda(), kn, kRAID5, 1, &stripe), 16384u);
    EXPECT_EQ(stripe, 65536u);

    ASSERT_EQ(VK_SetEditableLogicalDriveLUCache(cda(), 0, kn, 2), kSetEditableLogicalDriveLUCacheOK);
    EXPECT_EQ(VK_SetEditableLogicalDriveLUCacheLineSize(cda(), kn, kControllerLUCacheLineSize256KB),
              kSetEditableLogicalDriveLUCacheLineSizeOK);
    EXPECT_EQ(k->lu_cache_line_size_blocks, 512u);
    EXPECT_EQ(ld(0)->lu_cache_line_size_blocks, 512u);
    EXPECT_EQ(k->strip_size_blocks, 128u);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheLineSize(cda(), kn), kControllerLUCacheLineSize256KB);
    EXPECT_EQ(VK_GetEditableLogicalDriveLUCacheLineSize(cda(), 0), kControllerLUCacheLineSize256KB);
    // Through the data drive the pair's cache drive is changed.
    EXPECT_EQ(VK_SetEditableLogicalDriveLUCacheLineSize(cda(), 0, kControllerLUCacheLineSize64KB),
              kSetEditableLogicalDriveLUCacheLineSizeOK);
    EXPECT_EQ(k->lu_cache_line_size_blocks, 128u);
    EXPECT_EQ(k->strip_size_blocks, 32u);
}

TEST_F(LUCacheHost, LineSizeRefusals) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    using Stage = std::function<void(LUCacheHost&, PEDITABLE_LOGICAL_DRIVE k)>;
    const struct {
        const char* name;
        Stage stage;
        VK_WORD drive;
        VK_BYTE code, reason;
    } rows[] = {
        {"allowed",
         {},
         0xFFFF,
         kControllerLUCacheLineSize256KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeOK},
        {"past 63",
         {},
         64,
         kControllerLUCacheLineSize256KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeInvalidLogicalDrive},
        {"data drive without a cache",
         {},
         0,
         kControllerLUCacheLineSize256KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeInvalidLogicalDrive},
        {"block size 0", [](auto&, auto k) { k->block_size_bytes = 0; }, 0xFFFF,
         kControllerLUCacheLineSize256KB, kCanSetEditableLogicalDriveLUCacheLineSizeInvalidLogicalDrive},
        {"locked", [](auto&, auto k) { k->flags |= kEditableLDLocked; }, 0xFFFF,
         kControllerLUCacheLineSize256KB, kCanSetEditableLogicalDriveLUCacheLineSizeLogicalDriveIsLocked},
        {"no RAID level", [](auto&, auto k) { k->flags &= ~kEditableLDRAIDSet; }, 0xFFFF,
         kControllerLUCacheLineSize256KB, kCanSetEditableLogicalDriveLUCacheLineSizeRAIDNotSet},
        {"code 3", {}, 0xFFFF, 3, kCanSetEditableLogicalDriveLUCacheLineSizeInvalidCacheLineSize},
        {"code 8", {}, 0xFFFF, 8, kCanSetEditableLogicalDriveLUCacheLineSizeInvalidCacheLineSize},
        {"the current line", {}, 0xFFFF, kControllerLUCacheLineSize128KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeAlreadySet},
        {"larger than the memory allows",
         [](auto&, auto k) {
             k->drive_size_blocks = VK_QWORD{416583} * 512 + 1;
             k->flags |= kEditableLDSizeSet;
         },
         0xFFFF, kControllerLUCacheLineSize256KB, kCanSetEditableLogicalDriveLUCacheLineSizeCacheLogicalDriveTooLarge},
        {"no strip makes the line", [](auto& h, auto) { h.array(1)->data_drive_count = 4; }, 0xFFFF,
         kControllerLUCacheLineSize256KB, kCanSetEditableLogicalDriveLUCacheLineSizeDriveCountTooLarge},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_NO_FATAL_FAILURE(Restage());
        PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(StageCacheArray({4, 5, 6, 7, 8}), kRAID5);
        if (row.stage) {
            row.stage(*this, k);
        }
        const VK_WORD n = row.drive == 0xFFFF ? k->ld_number : row.drive;
        EXPECT_EQ(VK_CanSetEditableLogicalDriveLUCacheLineSize(cda(), n, row.code), row.reason);
        if (row.reason != kCanSetEditableLogicalDriveLUCacheLineSizeOK) {
            const VK_DWORD before = k->lu_cache_line_size_blocks;
            EXPECT_EQ(VK_SetEditableLogicalDriveLUCacheLineSize(cda(), n, row.code),
                      kSetEditableLogicalDriveLUCacheLineSizeFailed);
            EXPECT_EQ(k->lu_cache_line_size_blocks, before);
        }
    }
}

// The controller decides which lines and strips it allows.
TEST_F(LUCacheHost, LineSizeRefusalsOfTheController) {
    const struct {
        const char* name;
        std::uint8_t lines;
        std::uint32_t min_strip_kib;
        bool locked;
        VK_BYTE code, reason;
    } rows[] = {
        {"128 KiB not offered", 0x04, 16, false, kControllerLUCacheLineSize128KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeUnsupportedCacheLineSize},
        // 64 KiB over four drives needs 16 KiB strips.
        {"minimum strip 32 KiB", 0x06, 32, false, kControllerLUCacheLineSize64KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeDriveCountTooLarge},
        {"minimum strip 16 KiB", 0x06, 16, false, kControllerLUCacheLineSize64KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeOK},
        {"controller locked", 0x06, 16, true, kControllerLUCacheLineSize64KB,
         kCanSetEditableLogicalDriveLUCacheLineSizeControllerStatusNotOK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FirmwareState st = Controller();
        st.set_page("lu_cache", LUCachePage(kPolicies, row.min_strip_kib, row.lines));
        if (row.locked) {
            st.set_page("encryption", {0x01});
            st.encryption.boot_password_status = 0x2;
        }
        ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
        PEDITABLE_ARRAY a = array(0);
        // The cache array is staged by hand: a locked controller refuses to create one.
        auto* cache_array = static_cast<PEDITABLE_ARRAY>(VK_malloc(sizeof(EDITABLE_ARRAY)));
        std::memset(cache_array, 0, sizeof(*cache_array));
        cache_array->editable_array_number = 1;
        cache_array->flags = kEditableArrNew | kEditableArrLUCache;
        for (VK_WORD pd : {4, 5, 6, 7, 8}) {
            cache_array->data_drives[cache_array->data_drive_count++] = pd;
        }
        config()->editable_array_list[1] = cache_array;
        config()->editable_array_count = 2;
        ASSERT_NE(a, nullptr);
        PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(cache_array, kRAID5);
        if (row.code == kControllerLUCacheLineSize64KB) {
            k->lu_cache_line_size_blocks = 512;
        }
        EXPECT_EQ(VK_CanSetEditableLogicalDriveLUCacheLineSize(cda(), k->ld_number, row.code), row.reason);
        VK_DestroyEditableConfiguration(cda());
        StopController();
    }
}

TEST_F(LUCacheHost, CapacityFromTheController) {
    ASSERT_NO_FATAL_FAILURE(Start(Controller()));
    EXPECT_EQ(_VK_GetAvailableEditableLUCacheLines(cda(), 2), 416583u);
    EXPECT_EQ(_VK_GetEditableLUCacheBlocksPerCacheLine(cda(), 2), VK_QWORD{1} << 22);
    EXPECT_EQ(_VK_GetEditableLUCachedDataBlocksPerCacheLine(cda(), 2), VK_QWORD{1} << 32);
    EXPECT_EQ(_VK_GetMaxEditableLUCacheSizeBlocks(cda(), 2, 128), 53317440u);
    EXPECT_EQ(_VK_GetMaxEditableDataVolumePossibleBlocks(cda(), 2, 128), VK_QWORD{1} << 39);
    EXPECT_EQ(_VK_GetEditableLUCacheBlocksPerCacheLine(cda(), 0), 0u);
    // A locked cache drive takes its lines: 1,000 lines of 24 bytes and the 2,000-byte header.
    PEDITABLE_LOGICAL_DRIVE k = StageCacheDrive(StageCacheArray({4, 5}), kRAID1);
    k->drive_size_blocks = 256000;
    k->flags |= kEditableLDLocked;
    EXPECT_EQ(_VK_GetAvailableEditableLUCacheLines(cda(), 2), (10000000u - 26000u - 2000u) / 24u);
}

// Without LU-cache support there is no memory to read, and every capacity is 0.
TEST_F(LUCacheHost, CapacityWithoutLUCacheIsZero) {
    FirmwareState st = Controller();
    st.set_page("lu_cache", LUCachePage(0x40, 16, 0));
    ASSERT_NO_FATAL_FAILURE(Start(std::move(st)));
    for (VK_BYTE a = 0; a <= 5; ++a) {
        SCOPED_TRACE(unsigned{a});
        EXPECT_EQ(_VK_GetAvailableEditableLUCacheLines(cda(), a), 0u);
        EXPECT_EQ(_VK_GetEditableLUCacheBlocksPerCacheLine(cda(), a), 0u);
        EXPECT_EQ(_VK_GetEditableLUCachedDataBlocksPerCacheLine(cda(), a), 0u);
        EXPECT_EQ(_VK_GetMaxEditableLUCacheSizeBlocks(cda(), a, 128), 0u);
        EXPECT_EQ(_VK_GetMaxEditableLUCachedDataSizeBlocks(cda(), a, 128), 0u);
    }
}

} // namespace
