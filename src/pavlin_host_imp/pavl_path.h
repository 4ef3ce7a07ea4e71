// Canonical paths as realpath(3) gives them, for walks that resolve many paths through the same
// directories and links.
#ifndef PAVL_PATH_H
#define PAVL_PATH_H

#include <cstddef>

// Resolves like realpath(3), one component at a time as the C library does, but keeps what each lookup
// learnt (this component is no link; this link reads so) for its own lifetime. Discovery resolves tens
// of sysfs paths that share most of their components, and every component the C library asks about costs
// a system call; here each is asked once. The tree is taken not to change while the resolver lives, as
// one discovery pass already assumes. Anything unusual (a relative path, a "." or ".." after a component
// that is no link, a very long path, a deep chain of links) goes to realpath(3) itself.
class PathResolver {
public:
    PathResolver() = default;
    ~PathResolver();
    PathResolver(const PathResolver&) = delete;
    PathResolver& operator=(const PathResolver&) = delete;

    // realpath(path, out) for an `out` of `out_size` bytes: false, with errno set, when a component is
    // missing or cannot be read, the links loop, or the result does not fit.
    bool resolve(const char* path, char* out, size_t out_size);

private:
    struct Entry {
        const char* path; // nullptr: free slot
        size_t length;
        size_t hash;
        const char* target; // the link's text; nullptr when the component is no link
        size_t target_length;
    };

    const Entry* find(const char* path, size_t length, size_t hash) const;
    void remember(const char* path, size_t length, size_t hash, const char* target, size_t target_length);
    bool grow();
    char* store(const char* text, size_t length);

    Entry* slots_ = nullptr;
    size_t capacity_ = 0;
    size_t used_ = 0;
    // Text storage: a chain of blocks, each beginning with the pointer to the previous one.
    char* block_ = nullptr;
    size_t block_used_ = 0;
    size_t block_size_ = 0;
};

#endif
