// Host-file helpers of the sysfs walks and the transports, one copy each: bounded path formatting,
// directory entries and their types, and the directory and device-node holders that close
// themselves on every path.
#ifndef PAVL_HOSTFILE_H
#define PAVL_HOSTFILE_H

#include "pavl_linux_x86.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

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

} // namespace pavlin

#endif
