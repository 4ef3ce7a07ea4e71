// A bounds-checked, non-owning view over bytes that came from outside the process: controller
// replies, sense data, sysfs text, frames, VPD pages, image and configuration files.
//
// Every read names its offset and width; a read that would pass the end gives an empty optional
// (or false), never bytes from beyond the range. Offsets and lengths are size_t and every range test
// is written so that it cannot wrap. Header-only, no allocation: the loads compile to the same
// single moves as the pointer arithmetic they replace.
#ifndef PAVL_BYTES_H
#define PAVL_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <bit>
#include <span>

namespace pavlin {

class ByteView {
public:
    constexpr ByteView() noexcept = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size) noexcept
        : data_(data), size_(data ? size : 0) {}
    ByteView(const void* data, std::size_t size) noexcept
        : ByteView(static_cast<const std::uint8_t*>(data), size) {}
    constexpr ByteView(std::span<const std::uint8_t> bytes) noexcept // NOLINT: implicit on purpose
        : ByteView(bytes.data(), bytes.size()) {}

    constexpr const std::uint8_t* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr bool empty() const noexcept { return size_ == 0; }

    // True when [offset, offset + length) lies inside the view.
    constexpr bool has(std::size_t offset, std::size_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }

    // The bytes [offset, offset + length), or nothing when they do not all lie inside.
    constexpr std::optional<ByteView> sub(std::size_t offset, std::size_t length) const noexcept {
        if (!has(offset, length)) return std::nullopt;
        return ByteView(data_ + offset, length);
    }
    // The bytes from offset to the end; empty when offset is at or past the end.
    constexpr ByteView from(std::size_t offset) const noexcept {
        return offset < size_ ? ByteView(data_ + offset, size_ - offset) : ByteView();
    }
    // At most the first length bytes.
    constexpr ByteView first(std::size_t length) const noexcept {
        return ByteView(data_, length < size_ ? length : size_);
    }

    std::optional<std::uint8_t> u8(std::size_t offset) const noexcept {
        if (!has(offset, 1)) return std::nullopt;
        return data_[offset];
    }
    std::optional<std::uint16_t> le16(std::size_t offset) const noexcept { return load<std::uint16_t, false>(offset); }
    std::optional<std::uint32_t> le32(std::size_t offset) const noexcept { return load<std::uint32_t, false>(offset); }
    std::optional<std::uint64_t> le64(std::size_t offset) const noexcept { return load<std::uint64_t, false>(offset); }
    std::optional<std::uint16_t> be16(std::size_t offset) const noexcept { return load<std::uint16_t, true>(offset); }
    std::optional<std::uint32_t> be32(std::size_t offset) const noexcept { return load<std::uint32_t, true>(offset); }
    std::optional<std::uint64_t> be64(std::size_t offset) const noexcept { return load<std::uint64_t, true>(offset); }

    // Bool-with-value forms for code that reads many fields and tests once.
    template <typename T>
    bool read_le(std::size_t offset, T& out) const noexcept {
        auto v = load<T, false>(offset);
        if (v) out = *v;
        return v.has_value();
    }
    template <typename T>
    bool read_be(std::size_t offset, T& out) const noexcept {
        auto v = load<T, true>(offset);
        if (v) out = *v;
        return v.has_value();
    }

    // Copies [offset, offset + length) to dst; false, and dst untouched, when out of range.
    bool copy_to(std::size_t offset, void* dst, std::size_t length) const noexcept {
        if (!has(offset, length)) return false;
        if (length) std::memcpy(dst, data_ + offset, length);
        return true;
    }

    // A fixed-width text field at [offset, offset + width), cut at its first NUL, copied into
    // dst[dst_size] and always terminated. The part of the field beyond the view counts as absent.
    // Returns the number of characters copied (0 when dst_size is 0).
    std::size_t copy_text(std::size_t offset, std::size_t width, char* dst, std::size_t dst_size) const noexcept {
        if (dst == nullptr || dst_size == 0) return 0;
        std::size_t n = 0;
        if (offset < size_) {
            const std::size_t avail = size_ - offset;
            const std::size_t field = width < avail ? width : avail;
            const void* nul = std::memchr(data_ + offset, 0, field);
            n = nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - (data_ + offset)) : field;
            if (n > dst_size - 1) n = dst_size - 1;
            std::memcpy(dst, data_ + offset, n);
        }
        dst[n] = '\0';
        return n;
    }

    // Offset of the first byte equal to value at or after offset, or nothing.
    std::optional<std::size_t> find(std::uint8_t value, std::size_t offset = 0) const noexcept {
        if (offset >= size_) return std::nullopt;
        const void* p = std::memchr(data_ + offset, value, size_ - offset);
        if (!p) return std::nullopt;
        return static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - data_);
    }

private:
    template <typename T, bool BigEndian>
    std::optional<T> load(std::size_t offset) const noexcept {
        static_assert(sizeof(T) <= 8 && (sizeof(T) & (sizeof(T) - 1)) == 0);
        if (!has(offset, sizeof(T))) return std::nullopt;
        T v;
        std::memcpy(&v, data_ + offset, sizeof(T));
        if constexpr (sizeof(T) > 1) {
            if constexpr (BigEndian == (std::endian::native == std::endian::little)) v = byteswap(v);
        }
        return v;
    }
    template <typename T>
    static constexpr T byteswap(T v) noexcept {
        if constexpr (sizeof(T) == 2) return static_cast<T>(__builtin_bswap16(static_cast<std::uint16_t>(v)));
        else if constexpr (sizeof(T) == 4) return static_cast<T>(__builtin_bswap32(static_cast<std::uint32_t>(v)));
        else return static_cast<T>(__builtin_bswap64(static_cast<std::uint64_t>(v)));
    }

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Stores into a caller's buffer, for the request builders: the same bounds rule as the loads.
class ByteSpan {
public:
    constexpr ByteSpan() noexcept = default;
    constexpr ByteSpan(std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(data ? size : 0) {}
    ByteSpan(void* data, std::size_t size) noexcept : ByteSpan(static_cast<std::uint8_t*>(data), size) {}

    constexpr std::uint8_t* data() const noexcept { return data_; }
    constexpr std::size_t size() const noexcept { return size_; }
    constexpr ByteView view() const noexcept { return ByteView(data_, size_); }
    constexpr bool has(std::size_t offset, std::size_t length) const noexcept {
        return offset <= size_ && length <= size_ - offset;
    }

    bool put8(std::size_t offset, std::uint8_t v) noexcept { return store<std::uint8_t, false>(offset, v); }
    bool put_le16(std::size_t offset, std::uint16_t v) noexcept { return store<std::uint16_t, false>(offset, v); }
    bool put_le32(std::size_t offset, std::uint32_t v) noexcept { return store<std::uint32_t, false>(offset, v); }
    bool put_le64(std::size_t offset, std::uint64_t v) noexcept { return store<std::uint64_t, false>(offset, v); }
    bool put_be16(std::size_t offset, std::uint16_t v) noexcept { return store<std::uint16_t, true>(offset, v); }
    bool put_be32(std::size_t offset, std::uint32_t v) noexcept { return store<std::uint32_t, true>(offset, v); }
    bool put_be64(std::size_t offset, std::uint64_t v) noexcept { return store<std::uint64_t, true>(offset, v); }
    bool put_bytes(std::size_t offset, const void* src, std::size_t length) noexcept {
        if (!has(offset, length)) return false;
        if (length) std::memcpy(data_ + offset, src, length);
        return true;
    }

private:
    template <typename T, bool BigEndian>
    bool store(std::size_t offset, T v) noexcept {
        if (!has(offset, sizeof(T))) return false;
        if constexpr (sizeof(T) > 1 && BigEndian == (std::endian::native == std::endian::little)) {
            if constexpr (sizeof(T) == 2) v = __builtin_bswap16(v);
            else if constexpr (sizeof(T) == 4) v = __builtin_bswap32(v);
            else v = __builtin_bswap64(v);
        }
        std::memcpy(data_ + offset, &v, sizeof(T));
        return true;
    }

    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace pavlin

#endif
