// Host-file helpers of the sysfs walks and the transports, one copy each: bounded path formatting,
// directory entries and their types, the directory, file and device-node holders that close
// themselves on every path, and the bounded reads of sysfs text with their decoders. The decoders
// take the bytes read (a view), never a C string of unknown end.
#ifndef PAVL_HOSTFILE_H
#define PAVL_HOSTFILE_H

#include "pavl_bytes.h"
#include "pavl_linux_x86.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace pavlin {

// snprintf that reports whether the whole text fitted; the output is empty when it did not.
template <typename... Args> bool FormatPath(char* out, size_t size, const char* format, Args... args) {
    const int n = std::snprintf(out, size, format, args...);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        if (size != 0) {
            out[0] = '\0';
        }
        return false;
    }
    return true;
}

inline bool IsLink(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0 && S_ISLNK(st.st_mode);
}

// The entry's type from readdir is trusted when the file system gives one.
inline bool EntryHasType(const char* dir, const dirent* entry, unsigned char type, mode_t mode) {
    if (entry->d_type != DT_UNKNOWN) {
        return entry->d_type == type;
    }
    char path[PATH_MAX];
    struct stat st {};
    return FormatPath(path, sizeof(path), "%s/%s", dir, entry->d_name) && lstat(path, &st) == 0 &&
           (st.st_mode & S_IFMT) == mode;
}
inline bool IsLinkAt(const char* dir, const dirent* entry) {
    return EntryHasType(dir, entry, DT_LNK, S_IFLNK);
}
inline bool IsDirAt(const char* dir, const dirent* entry) {
    return EntryHasType(dir, entry, DT_DIR, S_IFDIR);
}

class Dir {
public:
    explicit Dir(const char* path) : d_(opendir(path)) {}
    ~Dir() {
        if (d_ != nullptr) {
            closedir(d_);
        }
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    explicit operator bool() const { return d_ != nullptr; }
    dirent* next() { return readdir(d_); }

private:
    DIR* d_;
};

// A device node open for as long as the holder lives. When `bound` is given, the handle is also
// written there while the node is open and reset to -1 once it is closed.
class DeviceNode {
public:
    DeviceNode(const char* path, VK_BOOL read_only, int* bound = nullptr)
        : bound_(bound), error_(_PN_OpenDeviceNode(path, &handle_, read_only)) {
        if (bound_ != nullptr) {
            *bound_ = handle_;
        }
    }
    ~DeviceNode() {
        _PN_CloseDeviceNode(handle_);
        if (bound_ != nullptr) {
            *bound_ = -1;
        }
    }
    DeviceNode(const DeviceNode&) = delete;
    DeviceNode& operator=(const DeviceNode&) = delete;
    explicit operator bool() const { return handle_ >= 0; }
    int get() const { return handle_; }
    // 0 or the system error number of the open.
    VK_DWORD error() const { return error_; }

private:
    int handle_ = -1;
    int* bound_;
    VK_DWORD error_;
};

// A text file opened for reading, closed with its scope.
class File {
public:
    explicit File(const char* path) : f_(std::fopen(path, "r")) {}
    ~File() {
        if (f_ != nullptr) {
            std::fclose(f_);
        }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    explicit operator bool() const { return f_ != nullptr; }
    // The next line, at most size - 1 characters, without its line end; false when nothing is read.
    bool next_line(char* buffer, size_t size) {
        if (f_ == nullptr || size == 0 || size > INT_MAX ||
            std::fgets(buffer, static_cast<int>(size), f_) == nullptr) {
            return false;
        }
        buffer[std::strcspn(buffer, "\n")] = '\0';
        return true;
    }

private:
    FILE* f_;
};

// A sysfs attribute holds at most one page; a longer file is read only that far.
inline constexpr size_t kSysfsTextMax = 4096;

// At most `size` bytes of the file at `path`, read into `buffer`; nothing when it cannot be opened or
// read (a directory, for one).
inline std::optional<ByteView> ReadFileBytes(const char* path, void* buffer, size_t size) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    size_t got = 0;
    bool ok = true;
    while (got < size) {
        const ssize_t n = read(fd, bytes + got, size - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return ByteView(bytes, got);
}

inline bool IsSysfsBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
inline bool IsDecimalDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// The first blank-separated token of the text, as "%s" reads it. False, and `out` empty, when there
// is none or it does not fit `out` with its terminator: a cut token would name something else.
inline bool DecodeSysfsToken(ByteView text, char* out, size_t out_size) {
    if (out == nullptr || out_size == 0) {
        return false;
    }
    out[0] = '\0';
    // The text ends at its first NUL, as it did for the string readers: a token never holds one.
    if (const auto nul = text.find(0)) {
        text = text.first(*nul);
    }
    const std::uint8_t* d = text.data();
    size_t i = 0;
    while (i < text.size() && IsSysfsBlank(d[i])) {
        ++i;
    }
    const size_t begin = i;
    while (i < text.size() && !IsSysfsBlank(d[i])) {
        ++i;
    }
    const size_t length = i - begin;
    if (length == 0 || length >= out_size) {
        return false;
    }
    std::memcpy(out, d + begin, length);
    out[length] = '\0';
    return true;
}

// The leading decimal number of the text's first token; false when there is none or it does not fit
// 64 bits.
inline bool DecodeSysfsNumber(ByteView text, unsigned long long* value) {
    char token[32];
    if (value == nullptr || !DecodeSysfsToken(text, token, sizeof(token)) ||
        !IsDecimalDigit(static_cast<std::uint8_t>(token[0]))) {
        return false;
    }
    errno = 0;
    const unsigned long long v = std::strtoull(token, nullptr, 10);
    if (errno != 0) {
        return false;
    }
    *value = v;
    return true;
}

// A PCI class file: "0x" and up to six hex digits, which go to `out`. False, `out` untouched, for
// anything else.
inline bool DecodePCIClass(ByteView text, char* out, size_t out_size) {
    constexpr size_t kDigits = 6;
    const std::uint8_t* d = text.data();
    if (text.size() < 2 || d[0] != '0' || d[1] != 'x') {
        return false;
    }
    size_t n = 0;
    while (n < kDigits && 2 + n < text.size() &&
           ((d[2 + n] >= '0' && d[2 + n] <= '9') || (d[2 + n] >= 'a' && d[2 + n] <= 'f') ||
            (d[2 + n] >= 'A' && d[2 + n] <= 'F'))) {
        ++n;
    }
    if (n == 0 || n >= out_size) {
        return false;
    }
    std::memcpy(out, d + 2, n);
    out[n] = '\0';
    return true;
}

// The number N of a SCSI host entry's name "hostN": digits only, at most INT_MAX.
inline bool DecodeHostNumber(ByteView name, unsigned long* host) {
    constexpr char kPrefix[] = "host";
    constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
    if (!name.has(0, kPrefixLength + 1) || std::memcmp(name.data(), kPrefix, kPrefixLength) != 0) {
        return false;
    }
    unsigned long v = 0;
    for (size_t i = kPrefixLength; i < name.size(); ++i) {
        const std::uint8_t c = name.data()[i];
        if (!IsDecimalDigit(c)) {
            return false;
        }
        v = v * 10 + (c - '0');
        if (v > INT_MAX) {
            return false;
        }
    }
    *host = v;
    return true;
}

// A volume's unique_id file: "S" and its token, which must have at most 32 characters and not be all
// zeros (the kernel's "none"). False, and `out` empty, otherwise.
inline bool DecodeUniqueID(ByteView text, char* out, size_t out_size) {
    constexpr size_t kMaxLength = 32;
    constexpr char kAllZero[] = "00000000000000000000000000000000";
    static_assert(sizeof(kAllZero) == kMaxLength + 1);
    if (out == nullptr || out_size == 0) {
        return false;
    }
    out[0] = '\0';
    char token[kMaxLength + 1];
    if (!DecodeSysfsToken(text, token, sizeof(token)) || std::strcmp(token, kAllZero) == 0) {
        return false;
    }
    return FormatPath(out, out_size, "S%s", token);
}

// Whether the text starts with `prefix` (a sysfs type or driver name read as a line).
inline bool TextStartsWith(ByteView text, const char* prefix) {
    const size_t n = std::strlen(prefix);
    return text.has(0, n) && std::memcmp(text.data(), prefix, n) == 0;
}

// Whether a link's resolved target lies below the directory `dir` as a whole component: the
// controller 0000:3b:00.0 does not own 0000:3b:00.01/..., nor its own path alone.
inline bool TargetLiesBelow(ByteView target, ByteView dir) {
    if (dir.empty() || !target.has(0, dir.size()) ||
        std::memcmp(target.data(), dir.data(), dir.size()) != 0) {
        return false;
    }
    return dir.data()[dir.size() - 1] == '/' || target.u8(dir.size()).value_or(0) == '/';
}

// The sysfs readers: the first page of the file, decoded as above.
inline bool ReadSysfsToken(const char* path, char* out, size_t out_size) {
    if (out == nullptr || out_size == 0) {
        return false;
    }
    out[0] = '\0';
    std::uint8_t text[kSysfsTextMax];
    const auto bytes = ReadFileBytes(path, text, sizeof(text));
    return bytes && DecodeSysfsToken(*bytes, out, out_size);
}
inline bool ReadSysfsNumber(const char* path, unsigned long long* value) {
    std::uint8_t text[kSysfsTextMax];
    const auto bytes = ReadFileBytes(path, text, sizeof(text));
    return bytes && DecodeSysfsNumber(*bytes, value);
}

} // namespace pavlin

#endif
