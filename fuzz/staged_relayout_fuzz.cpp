// Laying out the logical drives of a staged array behind a removed one, over hostile staged offsets,
// footprints and alignments. The input gives: the alignment (8 bytes), the start offset (8), the
// index of the drive after which to begin (1), then per drive its offset (8), footprint (8) and
// whether it is new (1), up to 64 drives. Every drive the walk reaches is placed exactly once, each at
// the end of the one before (aligned, saturating), and no other drive moves.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "telm_config_internal.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint64_t Qword() {
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) {
            v |= static_cast<uint64_t>(Byte()) << (8 * i);
        }
        return v;
    }
};

VK_QWORD Aligned(VK_QWORD alignment, VK_QWORD offset) {
    if (alignment == 0 || offset % alignment == 0) {
        return offset;
    }
    const unsigned __int128 up = static_cast<unsigned __int128>(offset) + (alignment - offset % alignment);
    return up > UINT64_MAX ? offset : static_cast<VK_QWORD>(up);
}

VK_QWORD End(VK_QWORD offset, VK_QWORD blocks) {
    const unsigned __int128 end = static_cast<unsigned __int128>(offset) + blocks;
    return end > UINT64_MAX ? UINT64_MAX : static_cast<VK_QWORD>(end);
}

EDITABLE_CONFIGURATION g_config;
EDITABLE_ARRAY g_array;
EDITABLE_LOGICAL_DRIVE g_lds[kMaxLogicalDrivesSupported];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct QuietLog {
        VK_BYTE previous = PN_SetDebugLogLevel(0);
        ~QuietLog() { PN_SetDebugLogLevel(previous); }
    } quiet;
    static const std::unique_ptr<uint8_t[]> memory = std::make_unique<uint8_t[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    PCDA cda = memory.get();
    Input in{data, size};
    std::memset(&g_config, 0, sizeof(g_config));
    std::memset(&g_array, 0, sizeof(g_array));
    std::memset(g_lds, 0, sizeof(g_lds));
    g_array.alignment_size_blocks = static_cast<VK_DWORD>(in.Qword());
    const VK_QWORD start = in.Qword();
    const uint8_t after_index = in.Byte();
    VK_WORD count = 0;
    while (in.More() && count < kMaxLogicalDrivesSupported) {
        EDITABLE_LOGICAL_DRIVE& e = g_lds[count];
        e.ld_number = count;
        e.flags = kEditableLDArraySet | kEditableLDLocked;
        e.physical_drive_offset_block = in.Qword();
        e.physical_drive_blocks_per_drive = in.Qword();
        if (in.Byte() & 1) {
            e.flags |= kEditableLDNewDrive;
        }
        g_config.editable_ld_list[count] = &e;
        g_array.logical_drives[count] = count;
        ++count;
    }
    g_array.logical_drive_count = count;
    g_config.editable_array_list[0] = &g_array;
    g_config.editable_array_count = 1;
    g_config.editable_ld_count = count;
    _VK_CDA(cda)->editable_configuration = &g_config;

    // From the drive the input names, or from the start of the walk.
    const VK_WORD after = after_index < count ? after_index : kInvalidLDNumber;
    VK_QWORD before[kMaxLogicalDrivesSupported] = {};
    for (VK_WORD i = 0; i < count; ++i) {
        before[i] = g_lds[i].physical_drive_offset_block;
    }
    // What the walk reaches: every offset strictly above the given drive's, the first drive of the
    // list at each.
    bool reached[kMaxLogicalDrivesSupported] = {};
    VK_WORD order[kMaxLogicalDrivesSupported];
    VK_WORD reached_count = 0;
    for (VK_WORD i = 0; i < count; ++i) {
        const bool past = after == kInvalidLDNumber || before[i] > before[after];
        bool first_at_offset = true;
        for (VK_WORD j = 0; j < i; ++j) {
            first_at_offset = first_at_offset && before[j] != before[i];
        }
        if (past && first_at_offset) {
            reached[i] = true;
            order[reached_count++] = i;
        }
    }
    std::stable_sort(order, order + reached_count,
                     [&](VK_WORD x, VK_WORD y) { return before[x] < before[y]; });

    const VK_BOOL existing = _VK_RelayoutEditableArrayLogicalDrives(cda, 0, after, start);
    VK_QWORD running = start;
    bool any_existing = false;
    for (VK_WORD k = 0; k < reached_count; ++k) {
        const EDITABLE_LOGICAL_DRIVE& e = g_lds[order[k]];
        FUZZ_CHECK(e.physical_drive_offset_block == running);
        const VK_QWORD next =
            Aligned(g_array.alignment_size_blocks, End(running, e.physical_drive_blocks_per_drive));
        FUZZ_CHECK(next >= running);
        running = next;
        any_existing = any_existing || !(e.flags & kEditableLDNewDrive);
    }
    FUZZ_CHECK((existing != kFalse) == any_existing);
    for (VK_WORD i = 0; i < count; ++i) {
        if (!reached[i]) {
            FUZZ_CHECK(g_lds[i].physical_drive_offset_block == before[i]);
        }
    }
    // The check over the same walk asks a controller that is not there, and must not wrap either.
    for (VK_WORD i = 0; i < count; ++i) {
        g_lds[i].physical_drive_offset_block = before[i];
    }
    const VK_BYTE check = _VK_CheckLaterLogicalDriveTransformations(cda, 0, after, start);
    FUZZ_CHECK(check >= 1 && check <= kLaterLogicalDrivesExceedTransformationQueue);
    _VK_CDA(cda)->editable_configuration = nullptr;
    return 0;
}
