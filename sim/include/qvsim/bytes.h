// Byte helpers of the simulator: little-endian loads and stores into callers' records, hex text
// for the request log and the scenario JSON, fixed-width text fields.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace qvsim {

namespace bytes_detail {
template <class T> T load_le(const void* p) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    T v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        v = static_cast<T>((v << 8) | b[i]);
    return v;
}
template <class T> void store_le(void* p, T v) {
    auto* b = static_cast<std::uint8_t*>(p);
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
} // namespace bytes_detail

inline std::uint16_t get_le16(const void* p) {
    return bytes_detail::load_le<std::uint16_t>(p);
}
inline std::uint32_t get_le32(const void* p) {
    return bytes_detail::load_le<std::uint32_t>(p);
}
inline std::uint64_t get_le64(const void* p) {
    return bytes_detail::load_le<std::uint64_t>(p);
}
inline void put_le16(void* p, std::uint16_t v) {
    bytes_detail::store_le(p, v);
}
inline void put_le32(void* p, std::uint32_t v) {
    bytes_detail::store_le(p, v);
}
inline void put_le64(void* p, std::uint64_t v) {
    bytes_detail::store_le(p, v);
}

// "12 01 00 ..." (upper case); `separator` goes between bytes ("" gives "120100").
inline std::string hex_bytes(std::span<const std::uint8_t> b, std::string_view separator = " ") {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(b.size() * (2 + separator.size()));
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i)
            out += separator;
        out += kDigits[b[i] >> 4];
        out += kDigits[b[i] & 15];
    }
    return out;
}
inline std::string hex_bytes(const void* p, std::size_t n, std::string_view separator = " ") {
    return hex_bytes(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(p), n), separator);
}

// "0x1F": upper-case hex digits, at least `min_digits` of them.
inline std::string hex_number(std::uint64_t v, std::size_t min_digits = 1) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[v & 15]);
        v >>= 4;
    } while (v != 0);
    if (digits.size() < min_digits)
        digits.insert(0, min_digits - digits.size(), '0');
    return "0x" + digits;
}

// Copies `text` into a field of `size` bytes, padded with `pad`, never terminated by itself.
inline void put_text(std::uint8_t* p, std::size_t size, const std::string& text, char pad) {
    std::memset(p, static_cast<unsigned char>(pad), size);
    std::memcpy(p, text.data(), std::min(size, text.size()));
}

} // namespace qvsim
