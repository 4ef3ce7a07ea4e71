// Self-tests of the simulated controller's logical-drive extras: identify logical drive, the LU
// cache statistics and sense replies, and the faults of the mirror-pair and surface replies.
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "fw_selftest_commands.h"
#include "selftest_util.h"

namespace {

using qvsim::Bytes;
using qvsim::Command;
using qvsim::FirmwareState;
using qvsim::FwController;
using qvsim::Reply;
using selftest::bmic_read;
using selftest::le;
using selftest::text;

Command lu_cache(std::uint8_t sub, std::uint16_t ld, std::uint16_t length) {
    return bmic_read(0xC1, length, (std::uint32_t(sub) << 16) | ld, 1);
}

// A data drive (0) with an LU cache drive (1) in front of it.
FirmwareState cached_pair() {
    FirmwareState s;
    auto& data = s.add_configured_drive(0, {0, 1, 2}, 1 << 20);
    data.fault_tolerance = 3;
    data.lu_cache_bits = 1;
    data.lu_cache_other = 1;
    data.lu_cache_write_policy = 2;
    data.lu_cache_requested_write_policy = 3;
    data.lu_write_policy_reason = 4;
    data.lu_cache_line_blocks = 256;
    data.lu_cache_state_stats = 0x20;
    data.lu_cache_starting_dirty_lines = 4000;
    data.lu_cache_dirty_lines = 1000;
    data.lu_cache_counters = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    auto& cache = s.add_configured_drive(1, {3, 4}, 1 << 16);
    cache.property = 0x04;
    cache.lu_cache_other = 0;
    return s;
}

TEST(SimLogicalExtras, LuCacheStatisticsCarryStateDirtyLinesAndCounters) {
    FirmwareState s = cached_pair();
    FwController fw(s);
    Bytes b = fw.execute(lu_cache(1, 0, 112)).data_in;
    ASSERT_EQ(b.size(), 112u);
    EXPECT_EQ(le(b, 0, 2), 108u);
    EXPECT_EQ(b[2], 0x20) << "bCacheState";
    EXPECT_EQ(b[3], 0) << "reserved";
    EXPECT_EQ(le(b, 4, 4), 4000u) << "dwStartingDirtyCacheLines";
    EXPECT_EQ(le(b, 72, 4), 1000u) << "dwDirtyCacheLines";
    const std::size_t at[12] = {8, 16, 24, 32, 40, 48, 56, 64, 76, 84, 92, 100};
    for (std::size_t k = 0; k < 12; ++k)
        EXPECT_EQ(le(b, at[k], 8), k + 1) << at[k];
    EXPECT_EQ(le(b, 108, 4), 0u) << "reserved";

    fw.fw_state().find_configured_drive(0)->lu_cache_stats_valid_length = 90;
    EXPECT_EQ(le(fw.execute(lu_cache(1, 0, 112)).data_in, 0, 2), 90u) << "a 90-byte reply";

    const Bytes sense = fw.execute(lu_cache(0, 0, 512)).data_in;
    ASSERT_EQ(sense.size(), 512u);
    EXPECT_EQ(sense[4], 3) << "requested write policy";
    EXPECT_EQ(le(sense, 7, 4), 256u) << "cache line size, blocks";
    EXPECT_EQ(sense[13], 4) << "write-policy reason";
    EXPECT_EQ(le(fw.execute(bmic_read(0x50, 652, 0, 0)).data_in, 274, 1), 2u) << "actual write policy";
}

TEST(SimLogicalExtras, IdentifyLogicalDriveCarriesTableLabelAndIdentifier) {
    FirmwareState s = cached_pair();
    auto& l = *s.find_configured_drive(0);
    l.label = std::string("DA\tTA\0\0", 7);
    l.page83_id = {0x60, 0x0A, 0x0B, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x42};
    FwController fw(s);
    const Bytes b = fw.execute(bmic_read(0x10, 118, 0, 0)).data_in;
    ASSERT_EQ(b.size(), 118u);
    EXPECT_EQ(le(b, 0, 2), 512u);
    EXPECT_EQ(le(b, 2, 4), 2u << 20) << "two data drives of RAID 5";
    std::uint8_t sum = 0;
    for (std::size_t k = 6; k < 22; ++k)
        sum = std::uint8_t(sum + b[k]);
    EXPECT_EQ(sum, 0) << "the parameter table's checksum";
    EXPECT_EQ(b[22], 3);
    EXPECT_EQ(text(b, 38, 64), std::string("DA\tTA") + std::string(59, '\0'));
    EXPECT_EQ(Bytes(b.begin() + 102, b.end()), Bytes(l.page83_id.begin(), l.page83_id.end()));
}

TEST(SimLogicalExtras, MirrorPairAndSurfaceRepliesFailAsScripted) {
    FirmwareState s = cached_pair();
    s.mirror_pairs.push_back({0, {{0, 1}, {1, 0}, {2, 400}}}); // a partner past the devices
    s.mirror_pairs.push_back({1, {{3, 4}}});
    s.fail_device(0x5D, 1, 1, 0);                                       // every read of drive 1
    s.patches.push_back({0x5D, std::nullopt, 512, {0xF0, 0xFF}});       // pair table past the reply
    s.patches.push_back({0x70, std::nullopt, 1432, {0x00, 0xF0, 0, 0}}); // status table past it
    s.surface.drives.resize(1);
    s.surface.drives[0].analysis_status = 2;
    FwController fw(s);
    const Bytes pairs = fw.execute(bmic_read(0x5D, 1292, 0, 0)).data_in;
    ASSERT_EQ(pairs.size(), 1292u);
    EXPECT_EQ(le(pairs, 512, 2), 0xFFF0u);
    EXPECT_EQ(le(pairs, 4, 2), 400u);
    EXPECT_EQ(le(pairs, 524 + 4, 2), 400u);
    const Reply failed = fw.execute(bmic_read(0x5D, 1292, 0, 1));
    EXPECT_EQ(failed.scsi_status, 2);
    EXPECT_TRUE(failed.data_in.empty());

    const Bytes surface = fw.execute(bmic_read(0x70, 6904)).data_in;
    EXPECT_EQ(le(surface, 1432, 4), 0xF000u);
    qvsim::FwFault lost;
    lost.bmic = 0x70;
    lost.err = EIO;
    fw.fw_state().faults.push_back(lost);
    EXPECT_EQ(fw.execute(bmic_read(0x70, 6904)).err, EIO);
}

TEST(SimLogicalExtras, JsonFormCarriesTheLuCacheFields) {
    const auto j = nlohmann::json::parse(R"({"logical_drives": [{"number": 0, "members": [0, 1],
        "blocks_per_drive": 64, "lu_cache_bits": 1, "lu_cache_starting_dirty_lines": 10,
        "lu_cache_dirty_lines": 4, "lu_cache_stats_valid_length": 98,
        "lu_cache_requested_write_policy": 1}]})");
    const FirmwareState s = FirmwareState::from_json(j);
    const auto& l = *s.find_configured_drive(0);
    EXPECT_EQ(l.lu_cache_starting_dirty_lines, 10u);
    EXPECT_EQ(l.lu_cache_dirty_lines, 4u);
    EXPECT_EQ(l.lu_cache_stats_valid_length, 98u);
    EXPECT_EQ(l.lu_cache_requested_write_policy, 1);
    EXPECT_EQ(FirmwareState::from_json(s.to_json()).to_json(), s.to_json());
}

} // namespace
