// Laying out the logical drives of a staged array behind a removed one, over hostile staged offsets,
// footprints and alignments. The input gives: the alignment (8 bytes), the start offset (8), the
// index of the drive after which to begin (1), then per drive its offset (8), footprint (8) and
// whether it is new (1), up to 64 drives. Every drive the walk reaches is placed exactly once, each at
// the end of the one before (aligned, saturating), and no other drive moves.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_cda.h"
#include "telm_config_internal.h"

namespace {

VK_QWORD Aligned(VK_QWORD alignment, VK_QWORD offset) {
    if (alignment == 0 || offset % alignment == 0) {
        return offset;
    }
    const Wide up = Wide{offset} + (alignment - offset % alignment);
    return up > UINT64_MAX ? offset : static_cast<VK_QWORD>(up);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    HeapStagedConfiguration config(c);
    EDITABLE_ARRAY& array = config.Array(0);
    config->editable_array_count = 1;
    array.alignment_size_blocks = static_cast<VK_DWORD>(in.Take<VK_QWORD>());
    const VK_QWORD start = in.Take<VK_QWORD>();
    const uint8_t after_index = in.Byte();
    EDITABLE_LOGICAL_DRIVE* lds[kMaxLogicalDrivesSupported] = {};
    VK_WORD count = 0;
    while (!in.Done() && count < kMaxLogicalDrivesSupported) {
        EDITABLE_LOGICAL_DRIVE& e = config.AddLogicalDrive(0);
        e.flags = kEditableLDArraySet | kEditableLDLocked;
        e.physical_drive_offset_block = in.Take<VK_QWORD>();
        e.physical_drive_blocks_per_drive = in.Take<VK_QWORD>();
        if (in.Byte() & 1) {
            e.flags |= kEditableLDNewDrive;
        }
        lds[count++] = &e;
    }

    // From the drive the input names, or from the start of the walk.
    const VK_WORD after = after_index < count ? after_index : kInvalidLDNumber;
    VK_QWORD before[kMaxLogicalDrivesSupported] = {};
    for (VK_WORD i = 0; i < count; ++i) {
        before[i] = lds[i]->physical_drive_offset_block;
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
        const EDITABLE_LOGICAL_DRIVE& e = *lds[order[k]];
        FUZZ_CHECK(e.physical_drive_offset_block == running);
        const VK_QWORD next =
            Aligned(array.alignment_size_blocks, Saturated(Wide{running} + e.physical_drive_blocks_per_drive));
        FUZZ_CHECK(next >= running);
        running = next;
        any_existing = any_existing || !(e.flags & kEditableLDNewDrive);
    }
    FUZZ_CHECK((existing != kFalse) == any_existing);
    for (VK_WORD i = 0; i < count; ++i) {
        if (!reached[i]) {
            FUZZ_CHECK(lds[i]->physical_drive_offset_block == before[i]);
        }
    }
    // The check over the same walk asks a controller that is not there, and must not wrap either.
    for (VK_WORD i = 0; i < count; ++i) {
        lds[i]->physical_drive_offset_block = before[i];
    }
    const VK_BYTE check = _VK_CheckLaterLogicalDriveTransformations(cda, 0, after, start);
    FUZZ_CHECK(check >= 1 && check <= kLaterLogicalDrivesExceedTransformationQueue);
    return 0;
}
