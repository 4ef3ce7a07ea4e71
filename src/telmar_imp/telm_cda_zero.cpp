// Zeroing of a data area that leaves untouched pages untouched.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "telm_cda_internal.h"

// Zeroes a data area without touching the pages that hold nothing yet. The tool's areas are fresh
// allocations, zero already, and most of their 940 KiB is never used: writing it all cost a page fault
// per page and made every page resident. Pages in memory are cleared; the others are dropped, which
// reads back as zero only for private anonymous memory. MADV_FREE is refused for any other kind (and
// for locked memory), and those pages are cleared as well.
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
    constexpr size_t kPagesPerQuery = 256;
    unsigned char resident[kPagesPerQuery];
    for (unsigned char* chunk = first; chunk < last;) {
        const size_t pages = std::min<size_t>(static_cast<size_t>(last - chunk) / page, kPagesPerQuery);
        const size_t length = pages * page;
        if (mincore(chunk, length, resident) != 0) {
            std::memset(chunk, 0, length);
            chunk += length;
            continue;
        }
        for (size_t i = 0; i < pages;) {
            const bool in_memory = (resident[i] & 1) != 0;
            size_t j = i + 1;
            while (j < pages && ((resident[j] & 1) != 0) == in_memory) {
                ++j;
            }
            unsigned char* const run = chunk + i * page;
            const size_t run_length = (j - i) * page;
            if (in_memory || madvise(run, run_length, MADV_FREE) != 0 ||
                madvise(run, run_length, MADV_DONTNEED) != 0) {
                std::memset(run, 0, run_length);
            }
            i = j;
        }
        chunk += length;
    }
}
