// The choice of the drives a split mirror's primary keeps, over a hostile mirror-pair reply. The input
// is a byte of choices (extended list, three-way), a byte giving the new map's size, a byte giving
// the data-drive count, that many drive numbers (2 bytes each, little-endian), then the reply's bytes
// as they were read. Nothing outside the reply may be read (ASan) and nothing outside the new map
// written; a kept drive is a listed data drive, at most two per group or one per pair.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "telm_config_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuietFuzzLog quiet;
    FuzzInput in{data, size};
    const uint8_t choices = in.Byte();
    const size_t map_bytes = in.Byte();
    const size_t count = in.Byte() % 64;
    std::vector<VK_WORD> drives(count);
    for (VK_WORD& d : drives) {
        d = in.Take<VK_WORD>();
    }
    // The reply exactly as long as what is left, so any read past it shows.
    const size_t reply_size = in.Left();
    std::vector<uint8_t> reply(data + in.at, data + in.at + reply_size);
    std::vector<uint8_t> guarded(map_bytes + 32, 0xA5);
    const pavlin::ByteSpan map(guarded.data(), map_bytes);
    std::fill(guarded.begin(), guarded.begin() + static_cast<std::ptrdiff_t>(map_bytes), 0);
    const pavlin::ByteView view(reply.data(), reply.size());
    const bool three_way = choices & 2;
    const bool ok = three_way
                        ? telmar::SelectPrimarySplitDrivesNway(view, choices & 1, drives.data(), count, map)
                        : telmar::SelectPrimarySplitDrives(view, choices & 1, drives.data(), count, map);
    for (size_t i = map_bytes; i < guarded.size(); ++i) {
        FUZZ_CHECK(guarded[i] == 0xA5);
    }
    size_t kept = 0;
    for (size_t bit = 0; bit < map_bytes * 8; ++bit) {
        if ((guarded[bit / 8] >> (bit % 8)) & 1) {
            FUZZ_CHECK(ok);
            FUZZ_CHECK(std::find(drives.begin(), drives.end(), bit) != drives.end());
            ++kept;
        }
    }
    FUZZ_CHECK(kept <= count);
    return 0;
}
