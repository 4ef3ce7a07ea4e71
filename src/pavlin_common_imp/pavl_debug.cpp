// Debug log, hex dump and hard assertion.
// The system's assertion-failure report is declared only without NDEBUG.
#undef NDEBUG
#include <assert.h>
#include <ctype.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <utility>

#include "pavl_debug_private.h"
#include "ppavl_platform.h"
#include "ppavl_synchronization.h"

extern "C" {

VK_BYTE _PN_DebugLogLevel = 2;
VK_UINT32 _PN_DebugLogMask = 0xFFFFFFFF;
VK_UINT32 _PN_DebugLogLevelMasks[kDebugLogLevelCount] = {0};
DebugCallbackFunction _PN_LogCallback = nullptr;
char __PN_DebugLogBuffer[kDebugLogBufferSize];
PMUTEX_LOCK _PN_PavlinDebugMutex = nullptr;

} // extern "C"

namespace {

// Set while a sink holds text in the static buffer: a sink that logs again must not overwrite it.
bool static_buffer_in_use = false;

class DebugGuard {
public:
    DebugGuard() { _PN_RecursiveMutexLock(_PN_PavlinDebugMutex); }
    ~DebugGuard() { _PN_RecursiveMutexUnlock(_PN_PavlinDebugMutex); }
    DebugGuard(const DebugGuard&) = delete;
    DebugGuard& operator=(const DebugGuard&) = delete;
};

bool has_level_mask(VK_BYTE level) {
    return level >= 1 && level <= kDebugLogLevelCount;
}

VK_UINT32 level_mask(VK_BYTE level) {
    return has_level_mask(level) ? _PN_DebugLogLevelMasks[level - 1] : _PN_DebugLogMask;
}

constexpr char kDumpHeader[] = "0F 0E 0D 0C 0B 0A 09 08 07 06 05 04 03 02 01 00 |      | 0123456789ABCDEF\n";
constexpr char kDumpRule[] = "----------------------------------------------- + ---- + ----------------\n";
constexpr size_t kDumpBytesPerRow = 16;
constexpr size_t kDumpHexWidth = 3 * kDumpBytesPerRow;
// Hex area, "| ", " | ", the characters and the line end; the offset digits come on top.
constexpr size_t kDumpRowFixed = kDumpHexWidth + 2 + 3 + kDumpBytesPerRow + 1;
constexpr size_t kDumpMinOffsetDigits = 4;
// The leading newline, header, rule and terminator.
constexpr size_t kDumpPreamble = 1 + sizeof(kDumpHeader) - 1 + sizeof(kDumpRule) - 1 + 1;
static_assert(kDumpRowFixed + kDumpMinOffsetDigits == 74);
static_assert(kDumpPreamble == 150);

size_t hex_digits(size_t value) {
    size_t digits = 1;
    while (value >>= 4) {
        ++digits;
    }
    return digits;
}

// Measures the text on a copy of `args`, so `args` itself is still unread for the formatting.
void log_formatted(VK_BYTE level, VK_UINT32 mask, const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int n = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (n >= 0) {
        _PN_DebugLog(_PN_LogCallback, level, mask, n, format, args);
    }
}

} // namespace

extern "C" {

void _PN_InitializeDebug(void) {
    if (_PN_PavlinDebugMutex == nullptr) {
        PMUTEX_LOCK lock = nullptr;
        if (_PN_MutexCreate(&lock)) {
            _PN_PavlinDebugMutex = lock;
        }
    }
    DebugGuard guard;
    for (VK_UINT32& mask : _PN_DebugLogLevelMasks) {
        mask = 0xFFFFFFFF;
    }
}

void _PN_UnInitializeDebug(void) {
    PMUTEX_LOCK lock = _PN_PavlinDebugMutex;
    _PN_PavlinDebugMutex = nullptr;
    _PN_MutexDelete(lock);
}

void _PN_LockDebugLog(void) {
    _PN_RecursiveMutexLock(_PN_PavlinDebugMutex);
}

void _PN_UnlockDebugLog(void) {
    _PN_RecursiveMutexUnlock(_PN_PavlinDebugMutex);
}

DebugCallbackFunction PN_SetDebugCallback(DebugCallbackFunction callback) {
    DebugGuard guard;
    return std::exchange(_PN_LogCallback, callback);
}

VK_BYTE PN_GetDebugLogLevel(void) {
    DebugGuard guard;
    return _PN_DebugLogLevel;
}

VK_BYTE PN_SetDebugLogLevel(VK_BYTE level) {
    DebugGuard guard;
    return std::exchange(_PN_DebugLogLevel, level);
}

VK_UINT32 PN_GetDebugLogMask(void) {
    DebugGuard guard;
    return _PN_DebugLogMask;
}

VK_UINT32 PN_SetDebugLogMask(VK_UINT32 mask) {
    DebugGuard guard;
    for (VK_UINT32& level_mask : _PN_DebugLogLevelMasks) {
        level_mask = mask;
    }
    return std::exchange(_PN_DebugLogMask, mask);
}

VK_UINT32 PN_GetDebugLogLevelMask(VK_BYTE level) {
    DebugGuard guard;
    return level_mask(level);
}

VK_UINT32 PN_SetDebugLogLevelMask(VK_BYTE level, VK_UINT32 mask) {
    DebugGuard guard;
    if (!has_level_mask(level)) {
        return 0;
    }
    return std::exchange(_PN_DebugLogLevelMasks[level - 1], mask);
}

VK_BOOL _PN_DebugLogPredicate(VK_BYTE level, VK_UINT32 mask, VK_UINT32* dbg_mask) {
    const VK_UINT32 m = level_mask(level);
    if (dbg_mask != nullptr) {
        *dbg_mask = m;
    }
    const bool mask_matches = (mask == 0 && m != 0) || (mask & m) != 0;
    return level != 0 && level <= _PN_DebugLogLevel && mask_matches && _PN_LogCallback != nullptr ? kTrue
                                                                                                  : kFalse;
}

void _PN_DebugLog(DebugCallbackFunction callback, VK_BYTE level, VK_UINT32 mask, int n, const char* format,
                  va_list args) {
    if (callback == nullptr || format == nullptr || n < 0) {
        return;
    }
    // `n` comes from the C library's formatter, but the text is made by the bounds-checked one, which
    // writes some conversions wider (a pointer is always 16 hex digits, where the C library writes
    // "0x" and the significant digits only). A text that does not fit is made again in a larger
    // buffer instead of being dropped.
    constexpr size_t kMostText = 1u << 20;
    size_t size = static_cast<size_t>(n) + 1;
    while (size <= kMostText) {
        char* text;
        const bool use_static = size <= sizeof(__PN_DebugLogBuffer) && !static_buffer_in_use;
        if (use_static) {
            text = __PN_DebugLogBuffer;
        } else {
            text = static_cast<char*>(VK_malloc(size));
            if (text == nullptr) {
                return;
            }
        }
        va_list attempt;
        va_copy(attempt, args);
        const bool made = _VK_vsnprintf_s(text, size, size, format, attempt) >= 0;
        va_end(attempt);
        if (made) {
            if (use_static) {
                static_buffer_in_use = true;
            }
            callback(level, mask, text);
            if (use_static) {
                static_buffer_in_use = false;
            }
        }
        if (!use_static) {
            VK_free(text);
        }
        if (made) {
            return;
        }
        size = size * 2 + 64;
    }
}

void _PN_DebugLogBypass(VK_BYTE level, VK_UINT32 mask, const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    log_formatted(level, mask, format, args);
    va_end(args);
}

void PN_DebugLog(VK_BYTE level, VK_UINT32 mask, const char* format, ...) {
    DebugGuard guard;
    VK_UINT32 m = 0;
    if (!_PN_DebugLogPredicate(level, mask, &m) || format == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    log_formatted(level, mask & m, format, args);
    va_end(args);
}

void _PN_LogDataBufferBypass(VK_BYTE level, VK_UINT32 mask, const void* data_buffer, size_t size) {
    DebugCallbackFunction callback = _PN_LogCallback;
    if (callback == nullptr || (data_buffer == nullptr && size != 0)) {
        return;
    }
    const size_t rows = size / kDumpBytesPerRow + (size % kDumpBytesPerRow != 0 ? 1 : 0);
    // Offsets of 64 KiB and beyond take more than four digits: size the rows for the widest one.
    size_t offset_digits = kDumpMinOffsetDigits;
    if (rows > 0) {
        const size_t widest = hex_digits((rows - 1) * kDumpBytesPerRow);
        offset_digits = widest > offset_digits ? widest : offset_digits;
    }
    const size_t row_width = kDumpRowFixed + offset_digits;
    size_t text_size;
    if (__builtin_mul_overflow(rows, row_width, &text_size) ||
        __builtin_add_overflow(text_size, kDumpPreamble, &text_size)) {
        return;
    }
    auto* text = static_cast<char*>(VK_malloc(text_size));
    if (text == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data_buffer);
    char* out = text;
    char* const end = text + text_size;
    auto put = [&](const char* s, size_t len) {
        memcpy(out, s, len);
        out += len;
    };
    put("\n", 1);
    put(kDumpHeader, sizeof(kDumpHeader) - 1);
    put(kDumpRule, sizeof(kDumpRule) - 1);
    for (size_t row = 0; row < rows; ++row) {
        const size_t first = row * kDumpBytesPerRow;
        const size_t count = size - first < kDumpBytesPerRow ? size - first : kDumpBytesPerRow;
        memset(out, ' ', kDumpHexWidth);
        for (size_t i = 0; i < count; ++i) {
            char hex[4];
            snprintf(hex, sizeof(hex), "%02X", bytes[first + i]);
            memcpy(out + 3 * (kDumpBytesPerRow - 1 - i), hex, 2);
        }
        out += kDumpHexWidth;
        const int written =
            snprintf(out, static_cast<size_t>(end - out), "| %04lX | ", static_cast<unsigned long>(first));
        if (written < 0 || static_cast<size_t>(written) >= static_cast<size_t>(end - out)) {
            break;
        }
        out += written;
        for (size_t i = 0; i < count; ++i) {
            const unsigned char c = bytes[first + i];
            *out++ = isprint(c) ? static_cast<char>(c) : '.';
        }
        *out++ = '\n';
    }
    *out = '\0';
    callback(level, mask, text);
    VK_free(text);
}

void PN_LogDataBuffer(VK_BYTE level, VK_UINT32 mask, const void* data_buffer, size_t size) {
    DebugGuard guard;
    VK_UINT32 m = 0;
    if (_PN_DebugLogPredicate(level, mask, &m)) {
        _PN_LogDataBufferBypass(level, mask & m, data_buffer, size);
    }
}

void _PN_LockUp(const char* expression, const char* message, const char* file, unsigned int line) {
    char text[kDebugLogBufferSize] = {0};
    _VK_sprintf_s(text, sizeof(text), "%s, %s", expression ? expression : "", message ? message : "");
    __assert_fail(text, file ? file : "", line, nullptr);
}

void __PN_assert(const char* expression, const char* message, const char* file, unsigned int line) {
    _PN_LockUp(expression, message, file, line);
}

} // extern "C"
