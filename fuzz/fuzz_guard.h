// Guard bytes around what the code under test is handed to write, so a write outside it shows even
// where the sanitizers cannot see it (inside one record, or inside one heap block).
#ifndef FUZZ_GUARD_H
#define FUZZ_GUARD_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "telm_bmic.h"

constexpr uint8_t kGuardByte = 0xA5;

// Whether byte `at` lies within the `length` bytes from `begin`.
inline bool Inside(size_t at, size_t begin, size_t length) {
    return at >= begin && at - begin < length;
}

// A configuration copy (the 652-byte 0x50 reply) between guard bytes, all of it guard bytes until
// the target fills the copy.
struct GuardedConfig {
    uint8_t front[32];
    LOGICAL_DRIVE_CONFIG config;
    uint8_t back[64];

    GuardedConfig() {
        std::memset(front, kGuardByte, sizeof(front));
        std::memset(&config, kGuardByte, sizeof(config));
        std::memset(back, kGuardByte, sizeof(back));
    }
    void CheckGuards() const {
        for (uint8_t b : front) {
            FUZZ_CHECK(b == kGuardByte);
        }
        for (uint8_t b : back) {
            FUZZ_CHECK(b == kGuardByte);
        }
    }
};

// Hands `call` a caller's buffer of `size` bytes with guard bytes behind it: nothing may be written
// past it, and with `must_terminate` what comes back holds its terminator within it.
template <typename Call> void CheckCallerBuffer(size_t size, bool must_terminate, Call call) {
    constexpr size_t kGuardBytes = 16;
    std::vector<char> buffer(size + kGuardBytes, static_cast<char>(kGuardByte));
    call(buffer.data(), size);
    for (size_t i = size; i < buffer.size(); ++i) {
        FUZZ_CHECK(buffer[i] == static_cast<char>(kGuardByte));
    }
    if (must_terminate && size != 0) {
        FUZZ_CHECK(std::memchr(buffer.data(), 0, size) != nullptr);
    }
}

#endif
