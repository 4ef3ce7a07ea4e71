// A property a fuzz target checks beyond the sanitizers: a failure aborts, so libFuzzer keeps the input.
#ifndef FUZZ_CHECK_H
#define FUZZ_CHECK_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

// The arithmetic a check states what it expects in: wide enough that the expectation itself never
// wraps where the code under test must not.
__extension__ typedef unsigned __int128 Wide;

// A wide value as a 64-bit answer that stops at the largest one instead of wrapping.
inline uint64_t Saturated(Wide value) {
    return value > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(value);
}

#endif
