// The walk over a feature-page reply into the data area's page slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <vector>

#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

// Packed fields are read by value: a reference to one may be misaligned.
template <typename T> T Value(T v) {
    return v;
}

using Bytes = std::vector<VK_BYTE>;

struct Page {
    VK_BYTE page, subpage;
    Bytes data;
    std::optional<VK_WORD> announced = std::nullopt; // wPageLength, when it differs from data.size()
};

// A 601-byte reply as the controller sends it: starting header, pages back to back, zero padding.
Bytes Reply(const std::vector<Page>& pages, std::optional<VK_WORD> total = std::nullopt) {
    Bytes reply(4, 0);
    for (const Page& p : pages) {
        const VK_WORD length = p.announced.value_or(static_cast<VK_WORD>(p.data.size()));
        reply.push_back(p.page);
        reply.push_back(p.subpage);
        reply.push_back(static_cast<VK_BYTE>(length));
        reply.push_back(static_cast<VK_BYTE>(length >> 8));
        for (VK_BYTE b : p.data) {
            reply.push_back(b);
        }
    }
    const VK_WORD announced = total.value_or(static_cast<VK_WORD>(reply.size() - 4));
    reply[0] = 0xFF;
    reply[1] = 0xFF;
    reply[2] = static_cast<VK_BYTE>(announced);
    reply[3] = static_cast<VK_BYTE>(announced >> 8);
    reply.resize(kSenseFeatureSize, 0);
    return reply;
}

SENSE_FEATURE_PAGES Parse(const Bytes& reply) {
    SENSE_FEATURE_PAGES pages;
    std::memset(&pages, 0xEE, sizeof(pages)); // the walk must start from zero
    _VK_ParseFeaturePages(reply.data(), static_cast<VK_DWORD>(reply.size()), &pages);
    return pages;
}

Bytes SlotBytes(const void* slot, size_t size) {
    const auto* p = static_cast<const VK_BYTE*>(slot);
    return Bytes(p, p + size);
}

bool AllZero(const void* p, size_t size) {
    const auto* b = static_cast<const VK_BYTE*>(p);
    return std::all_of(b, b + size, [](VK_BYTE v) { return v == 0; });
}

Bytes Hex(std::initializer_list<const char*> lines) {
    Bytes out;
    for (const char* line : lines) {
        std::istringstream in(line);
        unsigned v;
        while (in >> std::hex >> v) {
            out.push_back(static_cast<VK_BYTE>(v));
        }
    }
    return out;
}

// A reply with every page that has a slot, in reverse slot order, and two pages that are known but
// have none; the data bytes count up from 01 so that each is unique.
// clang-format off
const Bytes kAllPagesReply = Hex({
    "FF FF F1 00",                                                             // header: 241 page bytes follow
    "0E 01 02 00 01 02",                                                       // 0x0E/1: known, no slot
    "11 01 01 00 03",                                                          // 0x11/1
    "10 01 09 00 04 05 06 07 08 09 0A 0B 0C",                                  // 0x10/1
    "0E 0A 01 00 0D",                                                          // 0x0E/10
    "0E 08 01 00 0E",                                                          // 0x0E/8
    "0E 07 13 00 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21",    // 0x0E/7
    "0E 06 04 00 22 23 24 25",                                                 // 0x0E/6
    "0E 05 04 00 26 27 28 29",                                                 // 0x0E/5
    "0E 04 04 00 2A 2B 2C 2D",                                                 // 0x0E/4
    "0E 03 05 00 2E 2F 30 31 32",                                              // 0x0E/3
    "0E 02 05 00 33 34 35 36 37",                                              // 0x0E/2
    "0D 01 04 00 38 39 3A 3B",                                                 // 0x0D/1
    "0C 01 09 00 3C 3D 3E 3F 40 41 42 43 44",                                  // 0x0C/1
    "0B 01 01 00 45",                                                          // 0x0B/1
    "0A 01 01 00 46",                                                          // 0x0A/1
    "0F 03 01 00 47",                                                          // 0x0F/3: known, no slot
    "09 01 03 00 48 49 4A",                                                    // 0x09/1
    "08 02 04 00 4B 4C 4D 4E",                                                 // 0x08/2
    "08 01 01 00 4F",                                                          // 0x08/1
    "07 01 01 00 50",                                                          // 0x07/1
    "06 01 03 00 51 52 53",                                                    // 0x06/1
    "05 01 04 00 54 55 56 57",                                                 // 0x05/1
    "04 02 03 00 58 59 5A",                                                    // 0x04/2
    "04 01 04 00 5B 5C 5D 5E",                                                 // 0x04/1
    "03 01 01 00 5F",                                                          // 0x03/1
    "02 01 08 00 60 61 62 63 64 65 66 67",                                     // 0x02/1
    "01 03 01 00 68",                                                          // 0x01/3
    "01 02 14 00 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 7B 7C", // 0x01/2
    "01 01 01 00 7D",                                                          // 0x01/1
});

// What the walk leaves: each slot holds its page, header first, at its documented offset.
const Bytes kAllPagesRecord = Hex({
    "01 01 01 00 7D",                                                          //   0: page_cache
    "01 02 14 00 69 6A 6B 6C 6D 6E 6F 70 71 72 73 74 75 76 77 78 79 7A 7B 7C", //   5: page_lu_cache
    "01 03 01 00 68",                                                          //  29: page_cache_ratio
    "02 01 08 00 60 61 62 63 64 65 66 67",                                     //  34: page_raid
    "03 01 01 00 5F",                                                          //  46: page_backup
    "04 01 04 00 5B 5C 5D 5E",                                                 //  51: page_background
    "04 02 03 00 58 59 5A",                                                    //  59: page_background_erase
    "05 01 04 00 54 55 56 57",                                                 //  66: page_connectivity
    "06 01 03 00 51 52 53",                                                    //  74: page_drive
    "07 01 01 00 50",                                                          //  81: page_encryption
    "08 01 01 00 4F",                                                          //  86: page_io
    "08 02 04 00 4B 4C 4D 4E",                                                 //  91: page_aio
    "09 01 03 00 48 49 4A",                                                    //  99: page_power_management
    "0A 01 01 00 46",                                                          // 106: page_software_raid
    "0B 01 01 00 45",                                                          // 111: page_b_sub_page_1
    "0C 01 09 00 3C 3D 3E 3F 40 41 42 43 44",                                  // 116: page_miscellaneous
    "0D 01 04 00 38 39 3A 3B",                                                 // 129: page_nvme
    "0E 02 05 00 33 34 35 36 37",                                              // 137: page_perform_device_mgmt
    "0E 03 05 00 2E 2F 30 31 32",                                              // 146: page_oob_command
    "0E 04 04 00 2A 2B 2C 2D",                                                 // 155: page_id_controller
    "0E 05 04 00 26 27 28 29",                                                 // 163: page_set_controller_params
    "0E 06 04 00 22 23 24 25",                                                 // 171: page_online_firmware_activation
    "0E 07 13 00 0F 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21",    // 179: page_backplane_discovery_protocol
    "0E 08 01 00 0E",                                                          // 202: page_manufacturing_data
    "0E 0A 01 00 0D",                                                          // 207: page_subsystem_info
    "10 01 09 00 04 05 06 07 08 09 0A 0B 0C",                                  // 212: page_pldm_features_support
    "11 01 01 00 03",                                                          // 225: page_managed_sed
});
// clang-format on

class FeaturePageWalk : public ::testing::Test {
protected:
    TelmarLogCapture log_;
};

TEST_F(FeaturePageWalk, EveryKnownPageLandsInItsSlotHeaderFirst) {
    ASSERT_EQ(kAllPagesRecord.size(), sizeof(SENSE_FEATURE_PAGES));
    Bytes reply = kAllPagesReply;
    reply.resize(kSenseFeatureSize, 0);
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    const Bytes got = SlotBytes(&parsed, sizeof(parsed));
    const auto differ = std::mismatch(got.begin(), got.end(), kAllPagesRecord.begin());
    EXPECT_EQ(differ.first, got.end())
        << "first difference at record offset " << (differ.first - got.begin());
    EXPECT_EQ(TelmarLogCapture::Count("Unknown page"), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("size mismatch"), 0u);
    // Multi-byte fields sit where the slot layouts put them, little-endian.
    EXPECT_EQ(parsed.page_raid.PageHeader.bPageCode, 0x02);
    EXPECT_EQ(Value(parsed.page_raid.PageHeader.wPageLength), 8);
    EXPECT_EQ(Value(parsed.page_raid.dwRAIDLevelSupportBitmap), 0x67666564u);
    EXPECT_EQ(Value(parsed.page_lu_cache.dwMaxStripSize), 0x6F6E6D6Cu);
    EXPECT_EQ(Value(parsed.page_nvme.wMaxNVMeStripSize), 0x3B3A);
    EXPECT_EQ(parsed.page_backplane_discovery_protocol.bAllowedLinkWidths, 0x21);
    EXPECT_EQ(Value(parsed.page_pldm_features_support.qwFlags), 0x0C0B0A0908070605u);
}

TEST_F(FeaturePageWalk, UnknownPagesAreSkippedAndLogged) {
    const Bytes reply = Reply({{0x0E, 0x0B, {1, 2, 3}},
                               {0x07, 0x01, {0x41}},
                               {0x0E, 0x09, {9, 9}},
                               {0x30, 0x01, {}},
                               {0x09, 0x01, {0x07, 0x01, 0x08}}});
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_encryption.bFlags1, 0x41);
    EXPECT_EQ(parsed.page_power_management.bPowerModeSubCommandSupportBitmap, 0x08);
    EXPECT_EQ(TelmarLogCapture::Count("Unknown page 0x0E/0x0B"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Unknown page 0x30/0x01"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Unknown page"), 2u); // 0x0E/9 is known and silent
}

TEST_F(FeaturePageWalk, OversizedPageIsCutToItsSlot) {
    const Bytes reply = Reply({{0x01, 0x01, {0x04, 0x77, 0x77}}, {0x03, 0x01, {0x02}}});
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(SlotBytes(&parsed.page_cache, sizeof(parsed.page_cache)),
              (Bytes{0x01, 0x01, 0x03, 0x00, 0x04}));
    // The next page is found after the whole oversized page, not after the slot.
    EXPECT_EQ(parsed.page_backup.bFlags, 0x02);
    EXPECT_EQ(
        TelmarLogCapture::Count("Feature page size mismatch: got 3 B (expected 1 B) for page 0x01/0x01"), 1u);
}

TEST_F(FeaturePageWalk, ShortPageFillsOnlyItsStartAndLaterCopyReplacesEarlier) {
    const Bytes reply = Reply(
        {{0x02, 0x01, {0x11, 0x22, 0x33, 0x44}}, {0x06, 0x01, {0x01, 0x02, 0x03}}, {0x06, 0x01, {0x09}}});
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_raid.bFlags, 0x11);
    EXPECT_EQ(parsed.page_raid.bFlagsForSpares, 0x33);
    EXPECT_EQ(Value(parsed.page_raid.dwRAIDLevelSupportBitmap), 0u);
    EXPECT_EQ(parsed.page_drive.bFlags1, 0x09);
    EXPECT_EQ(parsed.page_drive.bFlags2, 0x00);
    EXPECT_EQ(Value(parsed.page_drive.PageHeader.wPageLength), 1);
}

TEST_F(FeaturePageWalk, ReplyWithoutPagesLeavesEverySlotZero) {
    const SENSE_FEATURE_PAGES parsed = Parse(Reply({}));
    EXPECT_TRUE(AllZero(&parsed, sizeof(parsed)));
}

TEST_F(FeaturePageWalk, LastHeaderAnnouncingMoreThanRemainsEndsTheWalk) {
    // The second page announces 40 data bytes but only 3 follow within the total.
    const Bytes reply = Reply({{0x07, 0x01, {0x01}}, {0x03, 0x01, {0x05, 0, 0}, VK_WORD{40}}});
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_encryption.bFlags1, 0x01);
    EXPECT_TRUE(AllZero(&parsed.page_backup, sizeof(parsed.page_backup)));
}

TEST_F(FeaturePageWalk, TotalCutsAPageThatWouldFitTheBuffer) {
    // The header's total ends inside the second page: the page bytes beyond it do not count.
    const Bytes reply = Reply({{0x07, 0x01, {0x01}}, {0x03, 0x01, {0x05}}}, VK_WORD{5 + 4});
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_encryption.bFlags1, 0x01);
    EXPECT_EQ(parsed.page_backup.bFlags, 0x00);
}

TEST_F(FeaturePageWalk, TotalBeyondTheBufferWalksOnlyTheBytesReceived) {
    // Pages fill the 597 received bytes exactly; the last announces 700 - 593 bytes it cannot have.
    std::vector<Page> pages = {{0x07, 0x01, {0x01}}};
    pages.push_back({0x0C, 0x01, Bytes(597 - 5 - 4 - 4, 0x00)});
    pages.push_back({0x09, 0x01, {}, VK_WORD{3}});
    Bytes reply = Reply(pages, VK_WORD{700});
    reply.resize(kSenseFeatureSize);
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_encryption.bFlags1, 0x01);
    EXPECT_TRUE(AllZero(&parsed.page_power_management, sizeof(parsed.page_power_management)));
    EXPECT_EQ(TelmarLogCapture::Count("The sense features command requires 704 memory, only 601 allocated"),
              1u);
}

TEST_F(FeaturePageWalk, TruncatedReplyIsNotReadPastItsEnd) {
    const SENSE_FEATURE_PAGES empty = Parse(Bytes{0xFF, 0xFF});
    EXPECT_TRUE(AllZero(&empty, sizeof(empty)));
    // Ten bytes received although the header announces a long page list.
    Bytes reply = {0xFF, 0xFF, 0x50, 0x00, 0x07, 0x01, 0x01, 0x00, 0x01, 0x09};
    const SENSE_FEATURE_PAGES parsed = Parse(reply);
    EXPECT_EQ(parsed.page_encryption.bFlags1, 0x01);
}

} // namespace
