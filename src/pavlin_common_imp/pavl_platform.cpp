// Tracked allocator, bounds-checked string helpers, time helpers, sleep and process id.
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <safe_lib.h>
#include <safe_mem_lib.h>
#include <safe_str_lib.h>

#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_synchronization.h"

// Kept out of line so that safeclib's object-size checks see unknown objects: inlined into a caller they
// would judge the caller's sizes against its arrays and could refuse valid bounded copies.
#define PN_OUT_OF_LINE __attribute__((noinline))

extern "C" {

ALLOC_STACK _VK_alloc_stack = {nullptr};
VK_UINT64 _VK_curr_alloc = 0;
VK_UINT64 _VK_max_alloc = 0;
VK_UINT64 _VK_total_alloc = 0;
PMUTEX_LOCK _PN_PavlinAllocatorMutex = nullptr;
PMUTEX_LOCK _PN_PavlinLocaltimeMutex = nullptr;

} // extern "C"

namespace {

constexpr long kDefaultPathBound = 4096;

// Copy of at most `bound` characters of `text`, from the plain allocator.
char* copy_text(const char* text, long bound) {
    if (text == nullptr) {
        return nullptr;
    }
    return strndup(text, static_cast<size_t>(bound < 0 ? kDefaultPathBound : bound));
}

void release_record(ALLOC_RECORD* record) {
    free(record->malloc_file);
    free(record->last_realloc_file);
    free(record);
}

// Empties the list; the caller holds the allocator lock.
void release_all_records() {
    ALLOC_RECORD* record = _VK_alloc_stack.first_record;
    _VK_alloc_stack.first_record = nullptr;
    while (record != nullptr) {
        ALLOC_RECORD* next = record->next_record;
        release_record(record);
        record = next;
    }
}

void count_growth(VK_UINT64 added_to_current, VK_UINT64 added_to_total) {
    _VK_curr_alloc += added_to_current;
    _VK_total_alloc += added_to_total;
    if (_VK_curr_alloc > _VK_max_alloc) {
        _VK_max_alloc = _VK_curr_alloc;
    }
}

void count_release(VK_UINT64 size) {
    _VK_curr_alloc = size < _VK_curr_alloc ? _VK_curr_alloc - size : 0;
}

ALLOC_RECORD* find_record(const void* address) {
    ALLOC_RECORD* record = _VK_alloc_stack.first_record;
    while (record != nullptr && record->address != address) {
        record = record->next_record;
    }
    return record;
}

void update_found_record(ALLOC_RECORD* record, void* new_address, size_t size, const char* file, long bound,
                         unsigned int line) {
    if (new_address != nullptr) {
        const size_t old_size = record->size;
        record->address = new_address;
        record->size = size;
        count_release(old_size);
        count_growth(size, size > old_size ? size - old_size : 0);
    }
    free(record->last_realloc_file);
    record->last_realloc_file = copy_text(file, bound);
    record->last_realloc_line = line;
}

long path_bound(const char* file) {
    long bound = _PN_GetMaxFilePathSize(file);
    return bound == -1 ? kDefaultPathBound : bound;
}

class AllocatorGuard {
public:
    AllocatorGuard() { _PN_MutexLock(_PN_PavlinAllocatorMutex); }
    ~AllocatorGuard() { _PN_MutexUnlock(_PN_PavlinAllocatorMutex); }
    AllocatorGuard(const AllocatorGuard&) = delete;
    AllocatorGuard& operator=(const AllocatorGuard&) = delete;
};

} // namespace

extern "C" {

long _PN_GetMaxFilePathSize(const char* file) {
    if (file == nullptr) {
        return -1;
    }
    errno = 0;
    long limit = pathconf(file, _PC_PATH_MAX);
    if (limit == -1) {
        return errno == 0 ? kDefaultPathBound : -1;
    }
    return limit;
}

VK_BOOL _VK_push_record(void* address, size_t size, const char* file, long bound, unsigned int line) {
    auto* record = static_cast<ALLOC_RECORD*>(calloc(1, sizeof(ALLOC_RECORD)));
    if (record == nullptr) {
        return kFalse;
    }
    record->address = address;
    record->size = size;
    record->malloc_file = copy_text(file, bound);
    record->malloc_line = line;
    record->next_record = _VK_alloc_stack.first_record;
    _VK_alloc_stack.first_record = record;
    count_growth(size, size);
    return kTrue;
}

VK_BOOL _VK_update_record(void* old_address, void* new_address, size_t size, const char* file, long bound,
                          unsigned int line) {
    ALLOC_RECORD* record = find_record(old_address);
    if (record == nullptr) {
        return kFalse;
    }
    update_found_record(record, new_address, size, file, bound, line);
    return kTrue;
}

VK_BOOL _VK_pop_record(void* address) {
    ALLOC_RECORD** link = &_VK_alloc_stack.first_record;
    while (*link != nullptr && (*link)->address != address) {
        link = &(*link)->next_record;
    }
    ALLOC_RECORD* record = *link;
    if (record == nullptr) {
        return kFalse;
    }
    *link = record->next_record;
    count_release(record->size);
    release_record(record);
    return kTrue;
}

// Blocks recorded before start-up are forgotten; the records themselves are released so nothing leaks.
void _VK_InitAllocRecord(void) {
    if (_PN_PavlinAllocatorMutex == nullptr) {
        PMUTEX_LOCK lock = nullptr;
        if (_PN_MutexCreate(&lock)) {
            _PN_PavlinAllocatorMutex = lock;
        }
    }
    AllocatorGuard guard;
    release_all_records();
    _VK_curr_alloc = 0;
    _VK_total_alloc = 0;
}

void _VK_DumpAllocRecord(FILE* stream) {
    if (stream == nullptr) {
        return;
    }
    AllocatorGuard guard;
    if (_VK_alloc_stack.first_record != nullptr) {
        fprintf(stream, "WARNING! Outstanding heap allocations (leak):\n");
    }
    unsigned long long listed = 0;
    for (ALLOC_RECORD* r = _VK_alloc_stack.first_record; r != nullptr; r = r->next_record) {
        fprintf(stream, " -> Addr:%p (%llu bytes) alloc-ed at %s:%u", r->address,
                static_cast<unsigned long long>(r->size), r->malloc_file ? r->malloc_file : "",
                r->malloc_line);
        if (r->last_realloc_file != nullptr) {
            fprintf(stream, " (last re-alloced at %s:%u)\n", r->last_realloc_file, r->last_realloc_line);
        } else {
            fprintf(stream, "\n");
        }
        listed += r->size;
    }
    if (listed > 0) {
        fprintf(stream, "%llu", listed);
        if (listed != _VK_curr_alloc) {
            fprintf(stream, "or %llu", static_cast<unsigned long long>(_VK_curr_alloc));
        }
        fprintf(stream, " total bytes still held by process\n");
    }
    fprintf(stream, "Max held in heap:         %llu B\n", static_cast<unsigned long long>(_VK_max_alloc));
    fprintf(stream, "Total allocated in heap:  %llu B\n", static_cast<unsigned long long>(_VK_total_alloc));
}

void _VK_DestroyAllocRecord(void) {
    {
        AllocatorGuard guard;
        release_all_records();
    }
    // Unpublish the lock first: its own release goes through the allocator.
    PMUTEX_LOCK lock = _PN_PavlinAllocatorMutex;
    _PN_PavlinAllocatorMutex = nullptr;
    _PN_MutexDelete(lock);
}

void* _VK_malloc(size_t n, const char* file, unsigned int line) {
    void* block = malloc(n);
    const long bound = path_bound(file);
    if (block != nullptr) {
        AllocatorGuard guard;
        _VK_push_record(block, n, file, bound, line);
    }
    return block;
}

void* _VK_realloc(void* p, size_t n, const char* file, unsigned int line) {
    // A resize to 0 frees the block; a record must not go on holding the freed address.
    if (n == 0) {
        _VK_free(p, file, line);
        return nullptr;
    }
    const long bound = path_bound(file);
    // The resize happens under the lock: once the old block is free another thread may be handed the
    // same address, and its record must not be mistaken for this one.
    AllocatorGuard guard;
    ALLOC_RECORD* record = p != nullptr ? find_record(p) : nullptr;
    void* block = realloc(p, n);
    if (record != nullptr) {
        update_found_record(record, block, n, file, bound, line);
    } else if (block != nullptr) {
        _VK_push_record(block, n, file, bound, line);
    }
    return block;
}

void _VK_free(void* p, const char* file, unsigned int line) {
    (void)file;
    (void)line;
    if (p != nullptr) {
        AllocatorGuard guard;
        _VK_pop_record(p);
    }
    free(p);
}

} // extern "C"

// ---------------------------------------------------------------------------------------------------------
// Bounds-checked helpers.
//
// safeclib refuses any size above RSIZE_MAX_STR (strings) or RSIZE_MAX_MEM (memory) before it looks at the
// data. A copy into a larger destination that does fit is valid, so such calls are checked and done here
// instead of being handed to the library (see docs/safeclib.md).

namespace {

constexpr size_t kMaxStr = RSIZE_MAX_STR;
constexpr size_t kMaxMem = RSIZE_MAX_MEM;

bool overlaps(const void* a, size_t a_len, const void* b, size_t b_len) {
    const auto a0 = reinterpret_cast<uintptr_t>(a);
    const auto b0 = reinterpret_cast<uintptr_t>(b);
    return a0 < b0 + b_len && b0 < a0 + a_len;
}

// Both return 0 on success, non-zero when the library would have refused the copy.
int checked_string_append(char* dest, size_t destsz, size_t offset, const char* src, size_t count) {
    if (dest == nullptr || src == nullptr) {
        return ESNULLP;
    }
    if (offset >= destsz) {
        return ESUNTERM;
    }
    const size_t room = destsz - offset; // includes the terminator
    const size_t len = strnlen(src, count < room ? count : room);
    if (len >= room) {
        return ESNOSPC;
    }
    if (overlaps(dest, destsz, src, len + 1)) {
        return ESOVRLP;
    }
    memcpy(dest + offset, src, len);
    dest[offset + len] = '\0';
    return 0;
}

size_t terminated_length(const char* dest, size_t destsz) {
    return dest == nullptr ? 0 : strnlen(dest, destsz);
}

[[noreturn]] void copy_failed(const char* message, const char* file, unsigned int line) {
    __PN_assert("err == 0", message, file, line);
}

// An oversized request takes the local check, any other the library's; a refusal is a hard failure.
template <typename LocalCopy, typename LibraryCopy>
int bounded_copy(bool oversized, LocalCopy local_copy, LibraryCopy library_copy, const char* message,
                 const char* file, unsigned int line) {
    const errno_t err = oversized ? local_copy() : library_copy();
    if (err != 0) {
        copy_failed(message, file, line);
    }
    return 0;
}

int checked_memory_copy(void* dest, size_t destsz, const void* src, size_t count) {
    if (count == 0) {
        return 0;
    }
    if (dest == nullptr || src == nullptr) {
        return ESNULLP;
    }
    if (count > destsz) {
        return ESNOSPC;
    }
    if (overlaps(dest, count, src, count)) {
        return ESOVRLP;
    }
    memcpy(dest, src, count);
    return 0;
}

// Rejects %n, which the library's formatting functions refuse as well.
bool has_n_conversion(const char* format) {
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            continue;
        }
        ++p;
        if (*p == '%') {
            continue;
        }
        while (*p != '\0' && strchr("-+ #0123456789.*'hlLqjzt", *p) != nullptr) {
            ++p;
        }
        if (*p == 'n') {
            return true;
        }
        if (*p == '\0') {
            break;
        }
    }
    return false;
}

int format_oversized(char* buffer, size_t bufsz, const char* format, va_list args) {
    if (buffer == nullptr || format == nullptr) {
        return -ESNULLP;
    }
    if (has_n_conversion(format)) {
        buffer[0] = '\0';
        return -EINVAL;
    }
    const int n = vsnprintf(buffer, bufsz, format, args);
    if (n < 0 || static_cast<size_t>(n) >= bufsz) {
        buffer[0] = '\0';
        return n < 0 ? n : -ESNOSPC;
    }
    return n;
}

} // namespace

extern "C" {

PN_OUT_OF_LINE int _VK_strcpy_s(char* dest, size_t destsz, const char* src, const char* file,
                                unsigned int line) {
    return bounded_copy(
        destsz > kMaxStr, [&] { return checked_string_append(dest, destsz, 0, src, destsz); },
        [&] { return strcpy_s(dest, destsz, src); }, "Failed to strcpy_s", file, line);
}

PN_OUT_OF_LINE int _VK_strncpy_s(char* dest, size_t dmax, const char* src, size_t count, const char* file,
                                 unsigned int line) {
    return bounded_copy(
        dmax > kMaxStr || count > kMaxStr,
        [&] { return dmax == 0 ? ESZEROL : checked_string_append(dest, dmax, 0, src, count); },
        [&] { return strncpy_s(dest, dmax, src, count); }, "Failed to strncpy_s", file, line);
}

PN_OUT_OF_LINE int _VK_strcat_s(char* dest, size_t destsz, const char* src, const char* file,
                                unsigned int line) {
    return bounded_copy(
        destsz > kMaxStr,
        [&] { return checked_string_append(dest, destsz, terminated_length(dest, destsz), src, destsz); },
        [&] { return strcat_s(dest, destsz, src); }, "Failed to strcat_s", file, line);
}

PN_OUT_OF_LINE int _VK_strncat_s(char* dest, size_t destsz, const char* src, size_t count, const char* file,
                                 unsigned int line) {
    return bounded_copy(
        destsz > kMaxStr || count > kMaxStr,
        [&] { return checked_string_append(dest, destsz, terminated_length(dest, destsz), src, count); },
        [&] { return strncat_s(dest, destsz, src, count); }, "Failed to strncat_s", file, line);
}

PN_OUT_OF_LINE int _VK_memcpy_s(void* dest, size_t destsz, const void* src, size_t count, const char* file,
                                unsigned int line) {
    return bounded_copy(
        destsz > kMaxMem || count > kMaxMem, [&] { return checked_memory_copy(dest, destsz, src, count); },
        [&] { return memcpy_s(dest, destsz, src, count); }, "Failed to memcpy_s", file, line);
}

PN_OUT_OF_LINE size_t _VK_strnlen_s(const char* str, size_t size) {
    if (size > kMaxStr) {
        return str == nullptr ? 0 : strnlen(str, size);
    }
    return strnlen_s(str, size);
}

PN_OUT_OF_LINE int _VK_vsnprintf_s(char* buffer, size_t bufsz, size_t count, const char* format,
                                   va_list args) {
    (void)count;
    if (bufsz > kMaxStr) {
        return format_oversized(buffer, bufsz, format, args);
    }
    return vsnprintf_s(buffer, bufsz, format, args);
}

PN_OUT_OF_LINE int _VK_sprintf_s(char* buffer, size_t bufsz, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result;
    if (bufsz > kMaxStr) {
        result = format_oversized(buffer, bufsz, format, args);
    } else {
        result = vsprintf_s(buffer, bufsz, format, args);
    }
    va_end(args);
    return result;
}

PN_OUT_OF_LINE int _VK_sscanf_s(const char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = vsscanf_s(buffer, format, args);
    va_end(args);
    return result;
}

PN_OUT_OF_LINE char* _VK_gets_s(char* str, size_t size) {
    return gets_s(str, size);
}

PN_OUT_OF_LINE char* _VK_strtok_s(char* str, size_t* strmax, const char* delim, char** context) {
    return strtok_s(str, strmax, delim, context);
}

// ---------------------------------------------------------------------------------------------------------
// Time, sleep and process id.

struct tm* VK_localtime(time_t* time_of_day) {
    if (time_of_day == nullptr) {
        return nullptr;
    }
    _PN_RecursiveMutexLock(_PN_PavlinLocaltimeMutex);
    struct tm* result = localtime(time_of_day);
    _PN_RecursiveMutexUnlock(_PN_PavlinLocaltimeMutex);
    return result;
}

struct tm* VK_localtime_s(time_t* time_of_day) {
    if (time_of_day == nullptr) {
        return nullptr;
    }
    auto* copy = static_cast<struct tm*>(VK_malloc(sizeof(struct tm)));
    if (copy == nullptr) {
        return nullptr;
    }
    // A time the system cannot convert comes back as an all-zero record.
    memset(copy, 0, sizeof(*copy));
    _PN_RecursiveMutexLock(_PN_PavlinLocaltimeMutex);
    struct tm* shared = VK_localtime(time_of_day);
    if (shared != nullptr) {
        *copy = *shared;
    }
    _PN_RecursiveMutexUnlock(_PN_PavlinLocaltimeMutex);
    return copy;
}

time_t VK_mktime(struct tm* timeptr) {
    if (timeptr == nullptr) {
        return static_cast<time_t>(-1);
    }
    return mktime(timeptr);
}

void PN_Sleep(VK_DWORD milliseconds) {
    struct timespec request;
    request.tv_sec = static_cast<time_t>(milliseconds / 1000);
    request.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    struct timespec remaining;
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

VK_DWORD PN_GetCurrentProcessID(void) {
    return static_cast<VK_DWORD>(getpid());
}

} // extern "C"
