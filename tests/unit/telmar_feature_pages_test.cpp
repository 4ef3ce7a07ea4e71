// The walk over a feature-page reply into the data area's page slots.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <optional>
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

// Every page's slot, written out here on purpose rather than taken from the library: a page that the
// library's own table sends to the wrong member must show.
struct Slot {
    VK_BYTE page, subpage;
    size_t offset, size;
};

#define SLOT(page, subpage, member)                                                                          \
    Slot {                                                                                                   \
        page, subpage, offsetof(SENSE_FEATURE_PAGES, member), sizeof(SENSE_FEATURE_PAGES::member)            \
    }

const Slot kSlots[] = {
    SLOT(0x01, 0x01, page_cache),
    SLOT(0x01, 0x02, page_lu_cache),
    SLOT(0x01, 0x03, page_cache_ratio),
    SLOT(0x02, 0x01, page_raid),
    SLOT(0x03, 0x01, page_backup),
    SLOT(0x04, 0x01, page_background),
    SLOT(0x04, 0x02, page_background_erase),
    SLOT(0x05, 0x01, page_connectivity),
    SLOT(0x06, 0x01, page_drive),
    SLOT(0x07, 0x01, page_encryption),
    SLOT(0x08, 0x01, page_io),
    SLOT(0x08, 0x02, page_aio),
    SLOT(0x09, 0x01, page_power_management),
    SLOT(0x0A, 0x01, page_software_raid),
    SLOT(0x0B, 0x01, page_b_sub_page_1),
    SLOT(0x0C, 0x01, page_miscellaneous),
    SLOT(0x0D, 0x01, page_nvme),
    SLOT(0x0E, 0x02, page_perform_device_mgmt),
    SLOT(0x0E, 0x03, page_oob_command),
    SLOT(0x0E, 0x04, page_id_controller),
    SLOT(0x0E, 0x05, page_set_controller_params),
    SLOT(0x0E, 0x06, page_online_firmware_activation),
    SLOT(0x0E, 0x07, page_backplane_discovery_protocol),
    SLOT(0x0E, 0x08, page_manufacturing_data),
    SLOT(0x0E, 0x0A, page_subsystem_info),
    SLOT(0x10, 0x01, page_pldm_features_support),
    SLOT(0x11, 0x01, page_managed_sed),
};

#undef SLOT

class FeaturePageWalk : public ::testing::Test {
protected:
    TelmarLogCapture log_;
};

TEST_F(FeaturePageWalk, EveryKnownPageLandsInItsSlotHeaderFirst) {
    // Pages 0x0E/1 and 0x0F/3 are known without a slot; every slot page gets distinct data bytes.
    std::vector<Page> pages = {{0x0E, 0x01, {0xAA, 0xAA}}};
    VK_BYTE fill = 1;
    for (const Slot& s : kSlots) {
        Bytes data(s.size - 4);
        for (VK_BYTE& b : data) {
            b = fill++;
        }
        pages.push_back({s.page, s.subpage, data});
    }
    pages.push_back({0x0F, 0x03, {0xBB}});
    const Bytes reply = Reply(pages);
    ASSERT_LE(reply.size(), kSenseFeatureSize);
    const SENSE_FEATURE_PAGES parsed = Parse(reply);

    size_t position = 4 + 4 + 2; // after the starting header and the 0x0E/1 page
    for (const Slot& s : kSlots) {
        SCOPED_TRACE(::testing::Message() << "page " << int(s.page) << "/" << int(s.subpage));
        const Bytes expected(reply.begin() + static_cast<std::ptrdiff_t>(position),
                             reply.begin() + static_cast<std::ptrdiff_t>(position + s.size));
        EXPECT_EQ(SlotBytes(reinterpret_cast<const VK_BYTE*>(&parsed) + s.offset, s.size), expected);
        position += s.size;
    }
    EXPECT_EQ(TelmarLogCapture::Count("Unknown page"), 0u);
    EXPECT_EQ(TelmarLogCapture::Count("size mismatch"), 0u);
    // Named fields read through the slot types.
    EXPECT_EQ(parsed.page_raid.PageHeader.bPageCode, 0x02);
    EXPECT_EQ(Value(parsed.page_raid.PageHeader.wPageLength), 8);
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
