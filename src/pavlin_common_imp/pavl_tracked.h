// Owning handles over the tracked allocator, so that every early return frees by construction and
// the leak report still sees each allocation under the file and line that asked for it.
#ifndef PAVL_TRACKED_H
#define PAVL_TRACKED_H

#include "ppavl_platform.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace pavlin {

struct TrackedDeleter {
    void operator()(void* p) const noexcept {
        if (p) VK_free(p);
    }
};

// A zeroed or raw tracked byte buffer with its size. Empty (get() == nullptr) when the allocation
// failed; callers test it before use.
class TrackedBuffer {
public:
    TrackedBuffer() noexcept = default;
    // Takes ownership of a buffer that came from VK_malloc.
    TrackedBuffer(VK_BYTE* adopted, std::size_t size) noexcept : p_(adopted), size_(adopted ? size : 0) {}

    static TrackedBuffer allocate(std::size_t size, const char* file, unsigned line) noexcept {
        auto* p = static_cast<VK_BYTE*>(_VK_malloc(size ? size : 1, file, line));
        return TrackedBuffer(p, p ? size : 0);
    }
    static TrackedBuffer zeroed(std::size_t size, const char* file, unsigned line) noexcept {
        TrackedBuffer b = allocate(size, file, line);
        if (b) std::memset(b.get(), 0, b.size());
        return b;
    }

    VK_BYTE* get() const noexcept { return p_.get(); }
    std::size_t size() const noexcept { return size_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the buffer to a caller that frees it with VK_free.
    VK_BYTE* release() noexcept {
        size_ = 0;
        return p_.release();
    }
    void reset() noexcept {
        p_.reset();
        size_ = 0;
    }

private:
    std::unique_ptr<VK_BYTE[], TrackedDeleter> p_;
    std::size_t size_ = 0;
};

// A tracked allocation of one record type (plain, trivially destructible records only).
template <typename T>
using TrackedPtr = std::unique_ptr<T, TrackedDeleter>;

} // namespace pavlin

// Allocation sites keep their own file and line in the leak report.
#define PN_TRACKED_BUFFER(size) ::pavlin::TrackedBuffer::allocate((size), __FILE__, __LINE__)
#define PN_TRACKED_ZEROED(size) ::pavlin::TrackedBuffer::zeroed((size), __FILE__, __LINE__)

#endif
