// The byte writer the simulated firmware builds its replies with (private to sim/firmware).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "qvsim/bytes.h"

namespace qvsim::fw_detail {

// A reply under construction; every write is bounds-checked so a state that does not fit is clipped.
class Out {
public:
    explicit Out(std::size_t n) : b_(n, 0) {}
    Out& u8(std::size_t off, std::uint8_t v) { return raw(off, &v, 1); }
    Out& u16(std::size_t off, std::uint16_t v) {
        std::uint8_t t[2];
        put_le16(t, v);
        return raw(off, t, 2);
    }
    Out& u32(std::size_t off, std::uint32_t v) {
        std::uint8_t t[4];
        put_le32(t, v);
        return raw(off, t, 4);
    }
    Out& u64(std::size_t off, std::uint64_t v) {
        std::uint8_t t[8];
        put_le64(t, v);
        return raw(off, t, 8);
    }
    Out& be32(std::size_t off, std::uint32_t v) {
        std::uint8_t t[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8),
                             std::uint8_t(v)};
        return raw(off, t, 4);
    }
    // Fixed-width text, padded with `pad`, not terminated when full.
    Out& text(std::size_t off, std::size_t width, const std::string& s, char pad = '\0') {
        for (std::size_t i = 0; i < width; ++i)
            u8(off + i, std::uint8_t(i < s.size() ? s[i] : pad));
        return *this;
    }
    template <std::size_t N> Out& bytes(std::size_t off, const std::array<std::uint8_t, N>& a) {
        return raw(off, a.data(), N);
    }
    Out& bytes(std::size_t off, const std::vector<std::uint8_t>& v, std::size_t max) {
        return raw(off, v.data(), std::min(v.size(), max));
    }
    Out& raw(std::size_t off, const void* p, std::size_t n) {
        if (off >= b_.size() || n == 0 || p == nullptr)
            return *this;
        std::memcpy(b_.data() + off, p, std::min(n, b_.size() - off));
        return *this;
    }
    void set_bit(std::size_t byte_off, unsigned bit) {
        if (byte_off < b_.size())
            b_[byte_off] |= std::uint8_t(1u << bit);
    }
    std::vector<std::uint8_t> peek(std::size_t off, std::size_t n) const {
        if (off >= b_.size())
            return {};
        return {b_.begin() + std::ptrdiff_t(off), b_.begin() + std::ptrdiff_t(std::min(off + n, b_.size()))};
    }
    std::vector<std::uint8_t> take() { return std::move(b_); }

private:
    std::vector<std::uint8_t> b_;
};

} // namespace qvsim::fw_detail
