// Helpers of the simulator's self-tests. Replies are read here with a reader of the tests' own,
// not the simulator's byte helpers, so a fault shared by the writer and the reader cannot hide.
#pragma once

#include <sys/stat.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace selftest {

inline std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

inline std::string real_path(const std::string& path) {
    char buf[PATH_MAX];
    return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

// The little-endian number of `width` bytes at `off` (throws past the end).
inline std::uint64_t le(const std::vector<std::uint8_t>& b, std::size_t off, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v |= std::uint64_t(b.at(off + i)) << (8 * i);
    return v;
}

inline std::string text(const std::vector<std::uint8_t>& b, std::size_t off, std::size_t width) {
    return std::string(b.begin() + std::ptrdiff_t(off), b.begin() + std::ptrdiff_t(off + width));
}

} // namespace selftest
