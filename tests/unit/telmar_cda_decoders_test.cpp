// Decoders of the data area's variable-length replies, fed exact heap copies so that a read past the
// reply is caught by the sanitizer build: the remote volumes of REPORT LOGICAL LUNS and the erase
// state words of ERASE_STATE.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <vector>

#include "telm_cda_internal.h"

namespace {

// An exact heap copy: the view ends where the allocation ends.
struct Exact {
    explicit Exact(const std::vector<VK_BYTE>& bytes)
        : data(new VK_BYTE[bytes.size() ? bytes.size() : 1]), size(bytes.size()) {
        if (!bytes.empty()) {
            std::memcpy(data.get(), bytes.data(), bytes.size());
        }
    }
    pavlin::ByteView view() const { return pavlin::ByteView(data.get(), size); }
    std::unique_ptr<VK_BYTE[]> data;
    size_t size;
};

// A logical report: the big-endian list length, then 24-byte entries whose address byte 4 marks a
// remote volume and whose unique id starts with the entry's index.
std::vector<VK_BYTE> Report(VK_DWORD list_length, const std::vector<bool>& remote) {
    std::vector<VK_BYTE> r(kCISSReportHeaderSize + remote.size() * kCISSReportEntrySize, 0);
    r[0] = static_cast<VK_BYTE>(list_length >> 24);
    r[1] = static_cast<VK_BYTE>(list_length >> 16);
    r[2] = static_cast<VK_BYTE>(list_length >> 8);
    r[3] = static_cast<VK_BYTE>(list_length);
    for (size_t i = 0; i < remote.size(); ++i) {
        VK_BYTE* entry = &r[kCISSReportHeaderSize + i * kCISSReportEntrySize];
        entry[4] = remote[i] ? 1 : 0;
        entry[8] = static_cast<VK_BYTE>(0xA0 + i);
    }
    return r;
}

TEST(RemoteVolumeDecoder, KeepsRemoteEntriesWithinTheReportAndTheCapacity) {
    struct Case {
        const char* name;
        std::vector<VK_BYTE> report;
        size_t capacity;
        bool accepted;
        std::vector<VK_BYTE> first_id_bytes; // byte 0 of each kept unique id
    };
    const Case cases[] = {
        {"remote entries only", Report(3 * 24, {true, false, true}), 8, true, {0xA0, 0xA2}},
        {"capacity cuts the list", Report(3 * 24, {true, true, true}), 2, true, {0xA0, 0xA1}},
        // The list says more than the report holds: only the entries inside it are read.
        {"list longer than the report", Report(40 * 24, {true, true}), 8, true, {0xA0, 0xA1}},
        {"half an entry at the end",
         [] {
             auto r = Report(2 * 24, {true, true});
             r.resize(r.size() - 5);
             return r;
         }(),
         8,
         true,
         {0xA0}},
        {"more entries than any controller",
         Report((kMaxReportLogicalLunsEntries + 1) * 24, {true}),
         8,
         false,
         {}},
        {"no header", {0x00, 0x00}, 8, false, {}},
        {"empty list", Report(0, {}), 8, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact reply(c.report);
        std::vector<RemoteVolumeRecord> records(c.capacity);
        VK_WORD found = 0xEEEE;
        EXPECT_EQ(telmar::DecodeRemoteVolumes(reply.view(), records.data(), records.size(), &found),
                  c.accepted);
        ASSERT_EQ(found, c.first_id_bytes.size());
        for (size_t i = 0; i < found; ++i) {
            EXPECT_EQ(records[i].device_unique_id[0], c.first_id_bytes[i]);
        }
    }
}

// An ERASE_STATE reply: the offset of the word list and the total length the reply states, then the
// words 0x0101, 0x0202, ... from the offset on.
std::vector<VK_BYTE> EraseReply(VK_DWORD offset, VK_DWORD total, size_t size) {
    std::vector<VK_BYTE> r(size, 0);
    pavlin::ByteSpan span(r.data(), r.size());
    span.put_le32(offsetof(ERASE_STATE, wOffsetToPhysicalDriveEraseState), offset);
    span.put_le32(offsetof(ERASE_STATE, dwTotalStructureLength), total);
    for (size_t at = offset, n = 1; at + 1 < size; at += 2, ++n) {
        span.put_le16(at, static_cast<VK_WORD>(n * 0x0101));
    }
    return r;
}

TEST(EraseStateDecoder, ReadsWordsBetweenTheOffsetAndTheReadTotal) {
    struct Case {
        const char* name;
        std::vector<VK_BYTE> reply;
        std::vector<VK_WORD> expected; // of 4 words
    };
    const Case cases[] = {
        {"words up to the total", EraseReply(664, 664 + 6, 680), {0x0101, 0x0202, 0x0303, 0}},
        {"total beyond what was read", EraseReply(664, 0xFFFFFFF0, 668), {0x0101, 0x0202, 0, 0}},
        {"offset beyond the total", EraseReply(700, 680, 720), {0, 0, 0, 0}},
        {"offset beyond the reply", EraseReply(0xFFFFFFF0, 0xFFFFFFFF, 700), {0, 0, 0, 0}},
        {"odd byte at the end", EraseReply(664, 664 + 3, 680), {0x0101, 0, 0, 0}},
        {"too short for its header", std::vector<VK_BYTE>(10, 0xFF), {0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Exact reply(c.reply);
        VK_WORD states[4] = {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};
        telmar::DecodeEraseStates(reply.view(), states, 4);
        EXPECT_EQ(std::vector<VK_WORD>(states, states + 4), c.expected);
    }
}

} // namespace
