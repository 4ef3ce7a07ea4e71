// Path resolution with the answers of earlier lookups kept (see pavl_path.h).
#include "pavl_path.h"

#include "ppavl_platform.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

// The C library follows at most this many links in one resolution before it reports a loop.
constexpr int kMaxLinks = 40;
constexpr size_t kInitialSlots = 64;
constexpr size_t kBlockSize = 8192;

// FNV-1a, which can go on from the hash of a prefix: a path is hashed a component at a time.
constexpr size_t kHashStart = 14695981039346656037ull;

size_t hash_more(size_t h, const char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
    }
    return h;
}

// The C library checks that a component is a directory when the rest of the path goes on with only
// "." or ".." (or ends in a slash): the kernel would not.
bool suffix_requires_dir_check(const char* end) {
    while (*end == '/') {
        do {
            ++end;
        } while (*end == '/');
        switch (*end++) {
            default:
                return false;
            case '\0':
                return true;
            case '.':
                break;
        }
        if (*end == '\0' || (*end == '.' && (end[1] == '\0' || end[1] == '/'))) {
            return true;
        }
    }
    return false;
}

bool fallback(const char* path, char* out, size_t out_size) {
    char resolved[PATH_MAX];
    if (realpath(path, resolved) == nullptr) {
        return false;
    }
    const size_t length = std::strlen(resolved);
    if (length >= out_size) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out, resolved, length + 1);
    return true;
}

} // namespace

PathResolver::~PathResolver() {
    VK_free(slots_);
    while (block_ != nullptr) {
        char* previous = nullptr;
        std::memcpy(&previous, block_, sizeof(previous));
        VK_free(block_);
        block_ = previous;
    }
}

const PathResolver::Entry* PathResolver::find(const char* path, size_t length, size_t hash) const {
    if (capacity_ == 0) {
        return nullptr;
    }
    for (size_t i = hash & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
        const Entry& e = slots_[i];
        if (e.path == nullptr) {
            return nullptr;
        }
        if (e.hash == hash && e.length == length && std::memcmp(e.path, path, length) == 0) {
            return &e;
        }
    }
}

bool PathResolver::grow() {
    const size_t capacity = capacity_ == 0 ? kInitialSlots : capacity_ * 2;
    auto* slots = static_cast<Entry*>(VK_malloc(capacity * sizeof(Entry)));
    if (slots == nullptr) {
        return false;
    }
    std::memset(static_cast<void*>(slots), 0, capacity * sizeof(Entry));
    for (size_t i = 0; i < capacity_; ++i) {
        if (slots_[i].path != nullptr) {
            size_t j = slots_[i].hash & (capacity - 1);
            while (slots[j].path != nullptr) {
                j = (j + 1) & (capacity - 1);
            }
            slots[j] = slots_[i];
        }
    }
    VK_free(slots_);
    slots_ = slots;
    capacity_ = capacity;
    return true;
}

char* PathResolver::store(const char* text, size_t length) {
    const size_t need = length + 1;
    if (block_ == nullptr || block_size_ - block_used_ < need) {
        const size_t size = sizeof(char*) + (need > kBlockSize ? need : kBlockSize);
        auto* block = static_cast<char*>(VK_malloc(size));
        if (block == nullptr) {
            return nullptr;
        }
        std::memcpy(block, &block_, sizeof(block_));
        block_ = block;
        block_used_ = sizeof(char*);
        block_size_ = size;
    }
    char* copy = block_ + block_used_;
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    block_used_ += need;
    return copy;
}

// Forgetting is always safe: a failed allocation only costs a lookup later.
void PathResolver::remember(const char* path, size_t length, size_t hash, const char* target,
                            size_t target_length) {
    if ((used_ + 1) * 2 > capacity_ && !grow()) {
        return;
    }
    char* path_copy = store(path, length);
    char* target_copy = target != nullptr ? store(target, target_length) : nullptr;
    if (path_copy == nullptr || (target != nullptr && target_copy == nullptr)) {
        return;
    }
    size_t i = hash & (capacity_ - 1);
    while (slots_[i].path != nullptr) {
        i = (i + 1) & (capacity_ - 1);
    }
    slots_[i] = Entry{path_copy, length, hash, target_copy, target_length};
    ++used_;
}

bool PathResolver::resolve(const char* path, char* out, size_t out_size) {
    if (path == nullptr || out == nullptr || out_size == 0) {
        errno = EINVAL;
        return false;
    }
    if (path[0] != '/') {
        return fallback(path, out, out_size);
    }
    // `rest` holds what is left to resolve; a link's text is put in front of it.
    char rest[2 * PATH_MAX];
    const size_t path_length = std::strlen(path);
    if (path_length >= sizeof(rest)) {
        return fallback(path, out, out_size);
    }
    std::memcpy(rest, path, path_length + 1);
    char name[PATH_MAX] = "/";
    size_t name_length = 1;
    const size_t root_hash = hash_more(kHashStart, name, 1);
    size_t name_hash = root_hash;
    char link[PATH_MAX];
    int links = 0;

    const char* p = rest;
    while (*p != '\0') {
        while (*p == '/') {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        const char* end = p;
        while (*end != '\0' && *end != '/') {
            ++end;
        }
        const auto component_length = static_cast<size_t>(end - p);
        if (component_length == 1 && p[0] == '.') {
            p = end;
            continue;
        }
        if (component_length == 2 && p[0] == '.' && p[1] == '.') {
            while (name_length > 1 && name[name_length - 1] != '/') {
                --name_length;
            }
            if (name_length > 1) {
                --name_length;
            }
            name[name_length] = '\0';
            name_hash = hash_more(kHashStart, name, name_length);
            p = end;
            continue;
        }
        const size_t parent_length = name_length;
        const size_t parent_hash = name_hash;
        const size_t separator = name_length > 1 ? 1 : 0;
        if (name_length + separator + component_length >= sizeof(name)) {
            return fallback(path, out, out_size);
        }
        if (separator != 0) {
            name[name_length++] = '/';
        }
        std::memcpy(name + name_length, p, component_length);
        name_hash =
            hash_more(name_hash, name + parent_length, name_length + component_length - parent_length);
        name_length += component_length;
        name[name_length] = '\0';

        const size_t hash = name_hash;
        const char* target = nullptr;
        size_t target_length = 0;
        if (const Entry* known = find(name, name_length, hash)) {
            target = known->target;
            target_length = known->target_length;
        } else {
            const ssize_t n = readlink(name, link, sizeof(link) - 1);
            if (n < 0) {
                if (errno != EINVAL) {
                    return false;
                }
                remember(name, name_length, hash, nullptr, 0);
            } else {
                target_length = static_cast<size_t>(n);
                link[target_length] = '\0';
                target = link;
                remember(name, name_length, hash, target, target_length);
            }
        }
        if (target == nullptr) {
            if (suffix_requires_dir_check(end)) {
                return fallback(path, out, out_size);
            }
            p = end;
            continue;
        }

        if (++links > kMaxLinks) {
            return fallback(path, out, out_size);
        }
        // `end` lies in `rest`: move the remainder up, then put the link's text before it.
        const size_t end_length = std::strlen(end);
        if (target_length + end_length >= sizeof(rest)) {
            return fallback(path, out, out_size);
        }
        std::memmove(rest + target_length, end, end_length + 1);
        std::memcpy(rest, target, target_length);
        p = rest;
        // A relative link continues from the link's own directory, an absolute one from the root.
        if (target[0] == '/') {
            name_length = 1;
            name_hash = root_hash;
        } else {
            name_length = parent_length;
            name_hash = parent_hash;
        }
        name[name_length] = '\0';
    }
    if (name_length >= out_size) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(out, name, name_length + 1);
    return true;
}
