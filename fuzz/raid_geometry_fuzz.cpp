// The RAID geometry and the RAID-level, parity-group and strip-size rules over arbitrary arguments.
// The input fills, in order: the drive count (2 bytes), level, groups, drive count changed (2), change
// type, strip size in blocks (4), per-drive free space (8), size (8), sectors per track (2), logic
// type, current and target block sizes (2 each), strip size in bytes (4), the seven controller strip
// limits in bytes (4 each), a byte of choices (bit 0: RAID 6 support), the room of the group list;
// missing bytes read as 0. Nothing may divide by zero or wrap, and every result stays in its bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_configuration.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_QWORD kAll = ~VK_QWORD{0};

bool Valid(VK_DWORD n, VK_BYTE level, VK_DWORD g) {
    // Counts past 16 bits are no array at all.
    return n <= 0xFFFF && g <= 0xFF &&
           __VK_IsValidRAIDForArray(nullptr, static_cast<VK_WORD>(n), level, static_cast<VK_BYTE>(g));
}

void CheckGeometry(FuzzInput& in) {
    const VK_WORD n = in.Take<VK_WORD>();
    const VK_BYTE level = in.Take<VK_BYTE>() % 12;
    const VK_BYTE g = in.Take<VK_BYTE>();
    const VK_WORD changed = in.Take<VK_WORD>();
    const VK_BYTE type = in.Take<VK_BYTE>() % 5;
    const VK_DWORD strip = in.Take<VK_DWORD>();
    const VK_QWORD free = in.Take<VK_QWORD>();
    const VK_QWORD size = in.Take<VK_QWORD>();
    const VK_WORD sectors = in.Take<VK_WORD>();
    const VK_BYTE logic = in.Take<VK_BYTE>() % 4;
    const VK_WORD current_block = in.Take<VK_WORD>();
    const VK_WORD target_block = in.Take<VK_WORD>();

    const VK_WORD usable = __VK_GetUsableDriveCount(n, level, g);
    FUZZ_CHECK(usable <= n);
    const VK_DWORD multiplier = __VK_GetFullStripeSizeMultiplier(n, level, g);
    FUZZ_CHECK(multiplier <= std::max<VK_DWORD>(n, 1));

    const VK_QWORD converted = __VK_ConvertDriveSizeInBlocks(size, current_block, target_block);
    if (target_block == 0) {
        FUZZ_CHECK(converted == 0);
    } else if (converted != kAll) {
        // Rounded up: the converted blocks hold the bytes, one block fewer does not.
        const Wide bytes = Wide{size} * current_block;
        FUZZ_CHECK(Wide{converted} * target_block >= bytes);
        FUZZ_CHECK(converted == 0 || Wide{converted - 1} * target_block < bytes);
    }

    const VK_QWORD largest = __VK_GetLogicalDriveMaxUsableSize(usable, free, strip, logic);
    if (strip == 0 || logic > 2) {
        FUZZ_CHECK(largest == 0);
    } else {
        FUZZ_CHECK(largest <= Saturated(Wide{std::max<VK_WORD>(usable, 1)} * free));
        if (logic == 2) {
            FUZZ_CHECK(largest <= __VK_GetLogicalDriveMaxUsableSize(usable, free, strip, 0));
        }
    }

    const VK_QWORD rounded = __VK_GetLogicalDriveAdjustedSize(size, sectors, logic);
    FUZZ_CHECK(rounded <= size);
    if (logic == 0) {
        const VK_QWORD cylinder = VK_QWORD{sectors != 0 ? sectors : VK_WORD{32}} * 255;
        FUZZ_CHECK(size >= cylinder * 65535 ? rounded == size : rounded % cylinder == 0 && size - rounded < cylinder);
    } else {
        FUZZ_CHECK(rounded == size);
    }

    const VK_QWORD per_drive = __VK_GetLogicalDriveUsageBlocks(size, strip, usable);
    FUZZ_CHECK(per_drive <= size);
    if (strip == 0 || usable == 0) {
        FUZZ_CHECK(per_drive == 0);
    } else {
        // The drives together hold the size, and no drive takes more than a strip beyond its share.
        FUZZ_CHECK(Wide{per_drive} * usable >= size);
        FUZZ_CHECK(Wide{per_drive} <= Wide{size / usable} + strip);
    }

    EDITABLE_ARRAY array{};
    array.data_drive_count = n;
    array.common_drive_size_blocks = free;
    const VK_QWORD free_blocks = _VK_GetEditableArrayUsableFreeBlocksFrom(&array, size, level, g, strip, sectors, logic);
    FUZZ_CHECK(free_blocks <= Saturated(Wide{std::max<VK_WORD>(usable, 1)} * (free > size ? free - size : 0)));

    // RAID 50 and 60 validity is the parity-group rule; the group changes land on valid counts.
    if (level == kRAID50 || level == kRAID60) {
        FUZZ_CHECK(__VK_IsValidRAIDForArray(nullptr, n, level, g) == __VK_IsParityGroupCountValidFor(level, n, g));
    } else {
        FUZZ_CHECK(!__VK_IsParityGroupCountValidFor(level, n, g));
    }
    const VK_BYTE after_shrink = __VK_ParityGroupCountAfterShrink(level, g, n, changed, type);
    FUZZ_CHECK(after_shrink == 0 || (changed <= n && after_shrink <= g && Valid(n - changed, level, after_shrink)));
    const VK_BYTE after_expand = __VK_ParityGroupCountAfterExpand(level, g, n, changed, type);
    FUZZ_CHECK(after_expand == 0 || (after_expand >= g && Valid(VK_DWORD{n} + changed, level, after_expand)));
}

void CheckRules(FuzzInput& in) {
    const VK_WORD n = in.Take<VK_WORD>();
    const VK_BYTE level = in.Take<VK_BYTE>() % 12;
    const VK_BYTE g = in.Take<VK_BYTE>();
    const VK_DWORD drive_type = in.Take<VK_BYTE>() & kPhysicalDriveTypeNVMe;
    const VK_DWORD strip_bytes = in.Take<VK_DWORD>();
    telmar::StripSizeLimits limits;
    limits.min_non_parity = in.Take<VK_DWORD>();
    limits.min_parity = in.Take<VK_DWORD>();
    limits.max_raid01 = in.Take<VK_DWORD>();
    limits.max_raid5 = in.Take<VK_DWORD>();
    limits.max_raid6 = in.Take<VK_DWORD>();
    limits.max_nvme = in.Take<VK_DWORD>();
    limits.max_full_stripe = in.Take<VK_DWORD>();
    const VK_BYTE choices = in.Take<VK_BYTE>();
    const VK_BYTE room = in.Take<VK_BYTE>();

    const VK_BYTE exp = __StripSizeBytesToExp(strip_bytes);
    if (strip_bytes > 1) {
        FUZZ_CHECK(exp < 32 && (VK_QWORD{1} << exp) <= strip_bytes && strip_bytes < (VK_QWORD{1} << (exp + 1)));
    } else {
        FUZZ_CHECK(exp == 0);
    }

    VK_BYTE min = 0xEE, max = 0xEE, def = 0xEE;
    const VK_BYTE result = telmar::StripSizeRange(limits, level, g, drive_type, n, &min, &max, &def);
    FUZZ_CHECK(min <= 31 && max <= 31);
    if (result == kGetEditableLogicalDriveStripSizeRangeOK) {
        FUZZ_CHECK(min != 0 && max != 0 && def != 0 && def <= max && def <= 18);
    } else {
        FUZZ_CHECK(result == kGetEditableLogicalDriveStripSizeRangeNoValidStripSize && min == 0 && max == 0 &&
                   def == 0);
    }
    const VK_BYTE max_exp = telmar::MaxStripSizeExp(limits, level, g, drive_type, n);
    const VK_QWORD multiplier = __VK_GetFullStripeSizeMultiplier(n, level, g);
    // The exponent is lowered until the full stripe fits the controller's limit, or reaches 0; only a
    // controller without a limit for the level (exponent 20) skips that.
    if (IS_PARITY_RAID(level) && limits.max_full_stripe != 0) {
        FUZZ_CHECK(max_exp == 0 || max_exp == 20 || (multiplier << max_exp) <= limits.max_full_stripe);
    }
    const bool safe = telmar::FullStripeSizeSafe(limits, n, level, g, strip_bytes);
    FUZZ_CHECK(!safe || !IS_PARITY_RAID(level) ||
               (multiplier != 0 && VK_QWORD{strip_bytes} * multiplier <= limits.max_full_stripe));

    std::vector<VK_BYTE> list(256, 0xEE);
    VK_BYTE count = room;
    VK_BYTE default_count = 0xEE;
    FUZZ_CHECK(_VK_GetEditableArrayParityGroupCountValues(nullptr, level, n, &count, list.data(), &default_count) ==
               kGetEditableArrayParityGroupCountValuesOK);
    FUZZ_CHECK(count <= room && list[room] == 0xEE);
    FUZZ_CHECK(default_count == (room != 0 ? list[0] : 0));
    for (size_t k = 0; k < count; ++k) {
        if (level == kRAID50 || level == kRAID60) {
            FUZZ_CHECK(__VK_IsParityGroupCountValidFor(level, n, list[k]));
            FUZZ_CHECK(k == 0 || list[k] > list[k - 1]);
        } else {
            FUZZ_CHECK(count == 1 && list[k] == 0);
        }
    }

    _CDA* c = DataArea();
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController;
    c->identify_controller_buffer.bRAID6Support = (choices & 1) ? 0xC0 : 0;
    const VK_BYTE expanded = _VK_ExpandRAIDLevel(c, level, n);
    const bool mirror = level == kRAID1 || level == kRAID10 || level == kRAID1Triple || level == kRAID10Triple;
    FUZZ_CHECK(mirror ? (expanded == kRAID10 || expanded == kRAID10Triple || expanded == kRAID5 || expanded == kRAID6)
                      : expanded == level);
    FUZZ_CHECK(!mirror || expanded != kRAID6 || (choices & 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    FuzzInput in{data, size};
    CheckGeometry(in);
    CheckRules(in);
    return 0;
}
