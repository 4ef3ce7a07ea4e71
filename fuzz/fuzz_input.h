// The input of a fuzz target as the values it stands for.
#ifndef FUZZ_INPUT_H
#define FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pavl_bytes.h"

// The fuzz input, taken front to back; past its end every byte reads 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool Done() const { return at >= size; }
    size_t Left() const { return at < size ? size - at : 0; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    // A number of sizeof(T) bytes, least significant first.
    template <typename T> T Take() {
        static_assert(sizeof(T) <= sizeof(uint64_t));
        uint64_t value = 0;
        for (size_t k = 0; k < sizeof(T); ++k) {
            value |= uint64_t{Byte()} << (8 * k);
        }
        return static_cast<T>(value);
    }
    // A number of sizeof(T) bytes, most significant first.
    template <typename T> T TakeBigEndian() {
        static_assert(sizeof(T) <= sizeof(uint64_t));
        uint64_t value = 0;
        for (size_t k = 0; k < sizeof(T); ++k) {
            value = value << 8 | Byte();
        }
        return static_cast<T>(value);
    }
    // Up to `length` bytes into `destination` (zeroed first); the count taken.
    size_t Fill(void* destination, size_t length) {
        std::memset(destination, 0, length);
        const size_t n = std::min(length, Left());
        if (n) {
            std::memcpy(destination, data + at, n);
        }
        at += n;
        return n;
    }
    // Up to `length` bytes as a view of the input itself, not a copy, so a read past them is a
    // sanitizer report.
    pavlin::ByteView View(size_t length) {
        const size_t n = std::min(length, Left());
        const pavlin::ByteView view(data + at, n);
        at += n;
        return view;
    }
    // A reply of the length the input gives first (2 bytes), at most `most`, read through the view
    // as the loader reads a short transfer.
    pavlin::ByteView Reply(size_t most) { return View(std::min<size_t>(Take<uint16_t>(), most)); }
};

#endif
