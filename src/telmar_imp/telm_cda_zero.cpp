// Zeroing of a data area that leaves untouched pages untouched.
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "telm_cda_internal.h"

// Zeroes a data area without touching the pages that hold nothing yet. The tool's areas are fresh
// allocations, zero already, and most of their 940 KiB is never used: writing it all cost a page fault
// per page and made every page resident. The whole pages are dropped instead, which reads back as zero
// only for private anonymous memory: MADV_FREE is refused for any other kind (and for locked memory),
// and those pages are cleared by hand. Only the partial pages at the ends are written.
void telmar::ZeroDataArea(void* area, size_t size) {
    auto* const begin = static_cast<unsigned char*>(area);
    unsigned char* const end = begin + size;
    const long page_size = sysconf(_SC_PAGESIZE);
    const auto page = static_cast<uintptr_t>(page_size > 0 ? page_size : 1);
    auto* const first =
        reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1));
    auto* const last = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(end) & ~(page - 1));
    if (page_size <= 0 || first >= last) {
        std::memset(area, 0, size);
        return;
    }
    std::memset(begin, 0, static_cast<size_t>(first - begin));
    std::memset(last, 0, static_cast<size_t>(end - last));
    const auto length = static_cast<size_t>(last - first);
    if (madvise(first, length, MADV_FREE) != 0 || madvise(first, length, MADV_DONTNEED) != 0) {
        std::memset(first, 0, length);
    }
}
