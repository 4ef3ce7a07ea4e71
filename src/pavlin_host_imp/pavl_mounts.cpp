// The mount list: which mount table entries name a volume or its partitions, kept as records while an
// extent array is built.
#include "pavl_hostfile.h"
#include "pavl_info.h"

#include "ppavl_platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mntent.h>
#include <pthread.h>

namespace {

constexpr char kMountTable[] = "/etc/mtab";
constexpr char kFilesystemTable[] = "/etc/fstab";
constexpr size_t kMountEntryBufferSize = 8192;

// Mount records of the extent array being built.
PartitionMountList* gPartitionMountList = nullptr;
pthread_mutex_t gPartitionMountListLock = PTHREAD_MUTEX_INITIALIZER;

using pavlin::FormatPath;

bool IsTrimChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(const char* s) {
    if (*s == '\0') {
        return false;
    }
    for (; *s != '\0'; ++s) {
        if (!IsDigit(*s)) {
            return false;
        }
    }
    return true;
}

} // namespace

char* __DuplicateText(const char* text, size_t length, size_t buffer_size) {
    auto* copy = static_cast<char*>(VK_malloc(buffer_size));
    if (copy != nullptr) {
        std::memset(copy, 0, buffer_size);
        std::memcpy(copy, text, length);
    }
    return copy;
}

void __LockPartitionMountList() {
    pthread_mutex_lock(&gPartitionMountListLock);
}

void __UnlockPartitionMountList() {
    pthread_mutex_unlock(&gPartitionMountListLock);
}

PartitionMountList* __FirstPartitionMountRecord() {
    return gPartitionMountList;
}

size_t _PN_CopyTrimmed(char* dest, size_t dest_size, const char* src, size_t src_size) {
    if (dest == nullptr || dest_size == 0) {
        return 0;
    }
    if (src == nullptr) {
        dest[0] = '\0';
        return 0;
    }
    size_t end = strnlen(src, src_size);
    size_t begin = 0;
    while (begin < end && IsTrimChar(src[begin])) {
        ++begin;
    }
    while (end > begin && IsTrimChar(src[end - 1])) {
        --end;
    }
    // Room is kept for the terminator, so the destination always holds a string.
    const size_t n = VK_min(end - begin, dest_size - 1);
    if (n != 0) {
        std::memmove(dest, src + begin, n);
    }
    dest[n] = '\0';
    return n;
}

bool __IsDeviceOrPartition(const char* pattern, size_t pattern_length, const char* device_name) {
    if (pattern == nullptr || device_name == nullptr || pattern_length == 0 ||
        std::strncmp(device_name, pattern, pattern_length) != 0) {
        return false;
    }
    const char* rest = device_name + pattern_length;
    if (*rest == '\0') {
        return true;
    }
    // sda -> sda1, but nvme0n1 -> nvme0n1p1: nvme0n11 is another device.
    if (IsDigit(pattern[pattern_length - 1])) {
        return rest[0] == 'p' && AllDigits(rest + 1);
    }
    return AllDigits(rest);
}

VK_DWORD __PartitionNumber(const char* device, const char* partition) {
    if (device == nullptr || partition == nullptr) {
        return 0;
    }
    const size_t n = std::strlen(device);
    if (n == 0 || !__IsDeviceOrPartition(device, n, partition)) {
        return 0;
    }
    const char* digits = partition + n;
    if (*digits == 'p') {
        ++digits;
    }
    errno = 0;
    const unsigned long long v = std::strtoull(digits, nullptr, 10);
    return errno != 0 || v > UINT32_MAX ? 0 : static_cast<VK_DWORD>(v);
}

void __PartitionSysfsName(const char* device_name, char* name, size_t name_size) {
    // The kernel names a node below a /dev subdirectory with "!" in sysfs: /dev/cciss/c0d0p1 is
    // cciss!c0d0p1, not c0d0p1.
    constexpr char kDev[] = "/dev/";
    if (std::strncmp(device_name, kDev, sizeof(kDev) - 1) == 0) {
        FormatPath(name, name_size, "%s", device_name + sizeof(kDev) - 1);
        if (char* slash = std::strchr(name, '/'); slash != nullptr) {
            *slash = '!';
        }
        return;
    }
    const char* slash = std::strrchr(device_name, '/');
    FormatPath(name, name_size, "%s", slash != nullptr ? slash + 1 : device_name);
}

PartitionMountList* __FindPartitionMountRecord(const char* device_name) {
    if (device_name == nullptr) {
        return nullptr;
    }
    for (PartitionMountList* r = gPartitionMountList; r != nullptr; r = r->next_record) {
        if (std::strcmp(r->device_name, device_name) == 0) {
            return r;
        }
    }
    return nullptr;
}

size_t __GetNumPartitionMountRecords() {
    size_t n = 0;
    for (PartitionMountList* r = gPartitionMountList; r != nullptr; r = r->next_record) {
        ++n;
    }
    return n;
}

void __FreePartitionMountList() {
    PartitionMountList* r = gPartitionMountList;
    while (r != nullptr) {
        PartitionMountList* next = r->next_record;
        VK_free(r->device_name);
        VK_free(r->mount_point);
        VK_free(r);
        r = next;
    }
    gPartitionMountList = nullptr;
}

void __InsertPartitionMountRecord(const char* device_name, size_t device_name_size, const char* mount_point,
                                  size_t mount_point_size) {
    if (device_name == nullptr || mount_point == nullptr) {
        return;
    }
    const size_t name_length = strnlen(device_name, device_name_size);
    const size_t point_length = strnlen(mount_point, mount_point_size);
    if (name_length == 0) {
        return;
    }
    char* name = __DuplicateText(device_name, name_length, name_length + 1);
    if (name == nullptr) {
        return;
    }
    PartitionMountList* existing = __FindPartitionMountRecord(name);
    if (existing != nullptr) {
        VK_free(name);
        char trimmed_probe[2];
        if (_PN_CopyTrimmed(trimmed_probe, sizeof(trimmed_probe), mount_point, point_length) == 0) {
            return;
        }
        const size_t used = std::strlen(existing->mount_point);
        const size_t new_size = used + 1 + point_length + 1;
        auto* grown = static_cast<char*>(VK_realloc(existing->mount_point, new_size));
        if (grown == nullptr) {
            return;
        }
        grown[used] = ',';
        _PN_CopyTrimmed(grown + used + 1, new_size - used - 1, mount_point, point_length);
        existing->mount_point = grown;
        existing->mount_point_size = new_size;
        return;
    }
    auto* record = static_cast<PartitionMountList*>(VK_malloc(sizeof(PartitionMountList)));
    char* point = static_cast<char*>(VK_malloc(point_length + 1));
    if (record == nullptr || point == nullptr) {
        VK_free(name);
        if (record != nullptr) {
            VK_free(record);
        }
        if (point != nullptr) {
            VK_free(point);
        }
        return;
    }
    _PN_CopyTrimmed(point, point_length + 1, mount_point, point_length);
    record->device_name = name;
    record->mount_point = point;
    record->mount_point_size = point_length + 1;
    record->next_record = nullptr;
    // Appended, so extents come in the order of the mount tables.
    PartitionMountList** tail = &gPartitionMountList;
    while (*tail != nullptr) {
        tail = &(*tail)->next_record;
    }
    *tail = record;
}

bool __ScanMountTable(const char* table_path, bool swap_only, const char* pattern, size_t pattern_length,
                      bool create_list) {
    FILE* table = setmntent(table_path, "r");
    if (table == nullptr) {
        return false;
    }
    auto* buffer = static_cast<char*>(VK_malloc(kMountEntryBufferSize));
    bool found = false;
    if (buffer != nullptr) {
        struct mntent entry {};
        while (getmntent_r(table, &entry, buffer, kMountEntryBufferSize) != nullptr) {
            if (entry.mnt_fsname == nullptr || entry.mnt_dir == nullptr) {
                continue;
            }
            if (swap_only && std::strcmp(entry.mnt_dir, "swap") != 0) {
                continue;
            }
            if (!__IsDeviceOrPartition(pattern, pattern_length, entry.mnt_fsname)) {
                continue;
            }
            found = true;
            if (!create_list) {
                break;
            }
            __InsertPartitionMountRecord(entry.mnt_fsname, std::strlen(entry.mnt_fsname) + 1, entry.mnt_dir,
                                         std::strlen(entry.mnt_dir) + 1);
        }
        VK_free(buffer);
    }
    endmntent(table);
    return found;
}

VK_BOOL __IsDeviceMounted(const char* pattern, size_t pattern_size, VK_BOOL create_list) {
    if (pattern == nullptr) {
        return kFalse;
    }
    const size_t length = strnlen(pattern, pattern_size);
    if (length == 0) {
        return kFalse;
    }
    bool found = __ScanMountTable(kMountTable, false, pattern, length, create_list != kFalse);
    if (create_list || !found) {
        found = __ScanMountTable(kFilesystemTable, true, pattern, length, create_list != kFalse) || found;
    }
    return found ? kTrue : kFalse;
}
