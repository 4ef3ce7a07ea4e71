// Log header and the small text and file helpers the tool's units share.
#include <cstdarg>
#include <cstring>

#include "buildnum.h"
#include "externs.h"
#include "ppavl_platform.h"
#include "ptelm_flash.h"

void QV_Log(const char* format, ...) {
    if (lfp == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(lfp, format, args);
    va_end(args);
}

void QV_Report(const char* out_format, const char* log_format, ...) {
    va_list args;
    va_start(args, log_format);
    va_list log_args;
    va_copy(log_args, args);
    std::vprintf(out_format, args);
    if (lfp != nullptr) {
        std::vfprintf(lfp, log_format, log_args);
    }
    va_end(log_args);
    va_end(args);
}

void QV_ReportOut(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void QV_BannerLinePrint(void) {
    if (lfp == nullptr) {
        return;
    }
    for (int i = 0; i < BANNER_LINEPRINT_LENGTH; ++i) {
        std::fputc('-', lfp);
    }
    std::fputs("\r\n", lfp);
}

void QV_PrintCLIArgs(int argc, char* argv[]) {
    if (lfp == nullptr) {
        return;
    }
    QV_BannerLinePrint();
    std::fprintf(lfp, "Quorvel Version %d.%d.%d \n", VERSION_MAJOR, VERSION_MINOR, BUILD_NUMBER);
    for (int i = 0; argv != nullptr && i < argc; ++i) {
        if (argv[i] != nullptr) {
            std::fprintf(lfp, "%s ", argv[i]);
        }
    }
    std::fprintf(lfp, "/ %s \r\n", GetCurrentTime());
}

char* GetCurrentTime(void) {
    // The system's asctime layout, written into a buffer wide enough for any year.
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static char text[64];

    rawtime = std::time(nullptr);
    if (localtime_r(&rawtime, &timeinfo) == nullptr) {
        timeinfo = {};
    }
    const int wday = (timeinfo.tm_wday >= 0 && timeinfo.tm_wday < 7) ? timeinfo.tm_wday : 0;
    const int mon = (timeinfo.tm_mon >= 0 && timeinfo.tm_mon < 12) ? timeinfo.tm_mon : 0;
    std::snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n", kDays[wday], kMonths[mon],
                  timeinfo.tm_mday, timeinfo.tm_hour, timeinfo.tm_min, timeinfo.tm_sec,
                  1900LL + timeinfo.tm_year);
    return text;
}

VK_BYTE HexVal(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<VK_BYTE>(c - '0');
    }
    if (c >= 'A' && c <= 'F') {
        return static_cast<VK_BYTE>(c - 'A' + 10);
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<VK_BYTE>(c - 'a' + 10);
    }
    return HEX_VAL_ERR;
}

VK_BYTE AtoH(const char* text, VK_UINT16* out) {
    if (out == nullptr) {
        return 0;
    }
    *out = 0;
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    if (text[0] == '0' && text[1] == 'x') {
        text += 2;
    }
    VK_UINT16 value = 0;
    for (; *text != '\0'; ++text) {
        const VK_BYTE digit = HexVal(*text);
        if (digit == HEX_VAL_ERR) {
            return 0;
        }
        value = static_cast<VK_UINT16>(value * 16 + digit);
    }
    *out = value;
    return 1;
}

VK_BYTE AtoD(const char* text, VK_UINT16* out) {
    if (out == nullptr) {
        return 0;
    }
    *out = 0;
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    if (text[0] == '0' && text[1] == 'x') {
        return AtoH(text, out);
    }
    const bool negative = text[0] == '-';
    if (negative) {
        ++text;
    }
    VK_UINT16 value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return 0;
        }
        value = static_cast<VK_UINT16>(value * 10 + (*text - '0'));
    }
    *out = negative ? static_cast<VK_UINT16>(-value) : value;
    return 1;
}

VK_BYTE IsValidValue(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    int points = 0;
    char last = '\0';
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '.') {
            ++points;
        } else if (*p < '0' || *p > '9') {
            return 0;
        }
        last = *p;
    }
    return (points <= 1 && last != '.') ? 1 : 0;
}

void QV_AsciiTrimSpace(char* text, size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    // A text not terminated within its buffer is taken to end at the buffer's last byte, so the
    // result always fits back.
    const size_t length = strnlen(text, size - 1);
    auto* trimmed = static_cast<char*>(VK_malloc(length + 1));
    if (trimmed == nullptr) {
        return;
    }
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == ' ' && (n == 0 || text[i + 1] == ' ')) {
            continue;
        }
        trimmed[n++] = text[i];
    }
    if (n > 0 && trimmed[n - 1] == ' ') {
        --n;
    }
    trimmed[n] = '\0';
    VK_strcpy_s(text, size, trimmed);
    VK_free(trimmed);
}

VK_BYTE ValidateAsciiString(const char* text, size_t length, VK_BOOL allow_empty) {
    if (text == nullptr) {
        return 0;
    }
    if (length == 0 && !allow_empty) {
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum) {
            return 0;
        }
    }
    return 1;
}

VK_BYTE* QV_GetFileDataWithin(const char* path, VK_UINT64 limit, VK_UINT64* size) {
    if (size == nullptr) {
        return nullptr;
    }
    *size = 0;
    if (path == nullptr) {
        return nullptr;
    }
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return nullptr;
    }
    long length = 0;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        length = std::ftell(file);
        if (length < 0) {
            length = 0;
        }
    }
    // A file larger than its format can hold is refused by its size alone, before a byte is allocated.
    if (static_cast<VK_UINT64>(length) > limit) {
        std::fclose(file);
        *size = static_cast<VK_UINT64>(length);
        return nullptr;
    }
    VK_BYTE* data = nullptr;
    if (length > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
        const auto wanted = static_cast<size_t>(length);
        data = static_cast<VK_BYTE*>(VK_malloc(wanted + 1));
        if (data != nullptr) {
            const size_t read = std::fread(data, 1, wanted, file);
            if (read < wanted) {
                VK_free(data);
                data = nullptr;
            } else {
                *size = read;
            }
        }
    }
    std::fclose(file);
    return data;
}

VK_BYTE* QV_GetCompleteFileData(const char* path, VK_UINT64* size) {
    // No file the tool reads may be larger than a firmware image.
    constexpr VK_UINT64 kLargestImage = static_cast<VK_UINT64>(kFlashControllerChunkSize) * kFlashControllerMaxChunks;
    return QV_GetFileDataWithin(path, kLargestImage, size);
}
