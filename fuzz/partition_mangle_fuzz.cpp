// The partition-table signature overwrite over hostile blocks of any size. The input is a block
// size (2 bytes, little-endian) then the block. Only the two MBR signature bytes or the eight GPT
// signature bytes may change, nothing outside the block, and a block size the overwrite refuses
// changes nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "telm_config_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const VK_WORD block_size = static_cast<VK_WORD>(data[0] | data[1] << 8);
    const size_t usable = telmar::PartitionTableBlockSize(block_size);
    FUZZ_CHECK(usable == 0 || usable >= 512);
    FUZZ_CHECK(usable == 0 || block_size == 0 || usable == block_size);
    // The block as it would be held: the bytes given, zeros after, then a guard.
    const size_t length = std::min<size_t>(block_size, 4096);
    std::vector<uint8_t> held(length + 16, 0xC3);
    std::fill(held.begin(), held.begin() + static_cast<long>(length), 0);
    std::memcpy(held.data(), data + 2, std::min(size - 2, length));
    const std::vector<uint8_t> was = held;

    std::vector<uint8_t> mbr = held;
    const bool mangled = telmar::MangleMBRSignature(pavlin::ByteSpan(mbr.data(), length));
    for (size_t at = 0; at < mbr.size(); ++at) {
        if (at == 510 || at == 511) {
            FUZZ_CHECK(mangled || mbr[at] == was[at]);
        } else {
            FUZZ_CHECK(mbr[at] == was[at]);
        }
    }
    if (mangled) {
        FUZZ_CHECK(length >= 512 && was[510] == 0x55 && was[511] == 0xAA);
        FUZZ_CHECK(mbr[510] == 0xDE && mbr[511] == 0xAD);
    }

    std::vector<uint8_t> gpt = held;
    const auto alternate = telmar::MangleGPTSignature(pavlin::ByteSpan(gpt.data(), length));
    for (size_t at = 8; at < gpt.size(); ++at) {
        FUZZ_CHECK(gpt[at] == was[at]);
    }
    if (alternate) {
        FUZZ_CHECK(length >= 40 && std::memcmp(was.data(), "EFI PART", 8) == 0);
        FUZZ_CHECK(std::memcmp(gpt.data(), "DEADDEAD", 8) == 0);
        uint64_t expected = 0;
        for (int k = 7; k >= 0; --k) {
            expected = expected << 8 | was[32 + static_cast<size_t>(k)];
        }
        FUZZ_CHECK(*alternate == expected);
    } else {
        FUZZ_CHECK(std::memcmp(gpt.data(), was.data(), std::min<size_t>(8, gpt.size())) == 0);
    }
    return 0;
}
