// Fuzz target: the read share of the cache over fuzzed sizes and shifts. The input is a cache
// configuration (total, read and write sizes, shift, previous-ratio flag and overridden sizes) and
// two 64-bit sizes; the decoders' answers are checked against the same arithmetic done in 128 bits.
// A ratio that is neither 0xFF nor a multiple of 5 up to 100, or one that differs from the wide
// reference, aborts.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "pavl_bytes.h"
#include "telm_bmic.h"
#include "telm_prop_settings.h"

namespace {

namespace set = telmar::settings;

// read x 100 / total raised to a multiple of 5, or 0xFF: the reference.
VK_BYTE Reference(Wide read, Wide total) {
    if (total == 0 || read * 100 / total > 100) {
        return 0xFF;
    }
    const Wide ratio = read * 100 / total;
    return static_cast<VK_BYTE>((ratio + 4) / 5 * 5);
}

VK_BYTE WholeReference(VK_WORD total, VK_WORD read, VK_WORD write, VK_BYTE shift) {
    if (shift > 31) {
        return 0xFF;
    }
    const Wide t = static_cast<Wide>(total) << shift, r = static_cast<Wide>(read) << shift,
               w = static_cast<Wide>(write) << shift;
    return (t == 0 || r + w != t) ? 0xFF : Reference(r, t);
}

bool Valid(VK_BYTE ratio) {
    return ratio == 0xFF || (ratio <= 100 && ratio % 5 == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    CACHE_CONFIG_STATUS s{};
    s.wTotalMemorySize = in.Take<VK_WORD>();
    s.read_cache_size = in.Take<VK_WORD>();
    s.write_cache_size = in.Take<VK_WORD>();
    s.bMemorySizeShiftFactor = in.Take<VK_BYTE>();
    s.dwCacheFlags = in.Take<VK_DWORD>();
    s.wOverriddenPostedReadMemoryMiB = in.Take<VK_WORD>();
    s.wOverriddenPostedWriteMemoryMiB = in.Take<VK_WORD>();
    const VK_QWORD read = in.Take<VK_QWORD>();
    const VK_QWORD total = in.Take<VK_QWORD>();
    const VK_BYTE max_write = in.Take<VK_BYTE>();
    const pavlin::ByteView view(&s, sizeof(s));

    const VK_BYTE current = set::CurrentReadPercentRatio(view);
    FUZZ_CHECK(Valid(current));
    FUZZ_CHECK(current == WholeReference(s.wTotalMemorySize, s.read_cache_size, s.write_cache_size,
                                         s.bMemorySizeShiftFactor));
    const auto previous = set::PreviousReadPercentRatio(view);
    FUZZ_CHECK(previous.has_value() == ((s.dwCacheFlags & 0x80000000u) != 0));
    if (previous) {
        FUZZ_CHECK(*previous == WholeReference(s.wTotalMemorySize, s.wOverriddenPostedReadMemoryMiB,
                                               s.wOverriddenPostedWriteMemoryMiB, s.bMemorySizeShiftFactor));
    }
    const VK_BYTE ratio = set::ReadRatio(read, total);
    FUZZ_CHECK(ratio == Reference(read, total));

    // A shorter copy of the record reads as unusable, never past its end.
    for (size_t cut : {size_t{0}, size_t{8}, size_t{64}}) {
        FUZZ_CHECK(Valid(set::CurrentReadPercentRatio(pavlin::ByteView(&s, cut))));
    }

    const VK_WORD limits = set::ReadCacheLimits(max_write);
    const VK_BYTE minimum = static_cast<VK_BYTE>(limits & 0xFF);
    FUZZ_CHECK(limits == 0x6565 || ((limits >> 8) == 100 && minimum <= 100 && minimum % 5 == 0));
    for (bool nbwc_disabled : {false, true}) {
        const VK_BYTE lifted = set::ApplyReadMinimum(current, nbwc_disabled, limits);
        FUZZ_CHECK(Valid(lifted));
        FUZZ_CHECK(current == 0xFF ? lifted == 0xFF : lifted >= current);
    }
    return 0;
}
