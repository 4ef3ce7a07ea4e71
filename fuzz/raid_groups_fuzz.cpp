// The mirror-pair reply (0x5D) through the RAID-group builder the enumerator runs. The input fills, in
// order: a byte choosing the level, the parity-group count, a byte of choices (bit 0: the controller
// keeps the extended pair table), the data-drive count, one step per data drive (drive numbers rise
// as the array enumerates them), then the reply, handed over at its exact size.
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    FuzzInput in{data, size};
    static constexpr VK_BYTE kLevels[] = {kRAID10, kRAID50, kRAID60, kRAID10Triple, kRAID5};
    const VK_BYTE level = kLevels[in.Byte() % 5];
    const VK_WORD raid_info = static_cast<VK_WORD>(in.Byte() << 8 | level);
    const bool extended = in.Byte() & 1;
    const size_t count = in.Byte();
    std::vector<VK_WORD> drives;
    unsigned pd = 0;
    for (size_t i = 0; i < count; ++i) {
        pd += (i == 0 ? 0u : 1u) + (in.Byte() & 7);
        if (pd >= 384) {
            break;
        }
        drives.push_back(static_cast<VK_WORD>(pd));
    }
    const VK_DWORD d = drives.size() > 255 ? 255 : static_cast<VK_DWORD>(drives.size());
    const pavlin::ByteView reply = in.View(in.Left());

    const VK_UINT64 held = _VK_curr_alloc;
    PRAID_GROUP_INFO info = reinterpret_cast<PRAID_GROUP_INFO>(1);
    const VK_WORD result =
        telmar::BuildRaidGroups(reply, extended, raid_info, drives.data(), drives.size(), d, &info);
    FUZZ_CHECK((result == 0) == (info == nullptr));
    if (info != nullptr) {
        FUZZ_CHECK(info->number_of_raid_groups > 0);
        const VK_DWORD per_group = d / info->number_of_raid_groups;
        std::set<VK_WORD> seen;
        for (VK_DWORD g = 0; g < info->number_of_raid_groups; ++g) {
            const RAID_GROUP& group = info->raid_groups[g];
            FUZZ_CHECK(group.number_of_drives <= (per_group > 2 ? per_group : 2));
            for (VK_DWORD k = 0; k < group.number_of_drives; ++k) {
                const VK_WORD drive = group.pd_numbers[k];
                // Every drive of a group is a data drive of the array, and in one group only.
                FUZZ_CHECK(_VK_PhysicalDriveListAt(drives.data(), drive, drives.size()) != static_cast<size_t>(-1));
                FUZZ_CHECK(seen.insert(drive).second);
            }
        }
        VK_DestroyLogicalDriveRaidGroupEnumerator(info);
    }
    FUZZ_CHECK(_VK_curr_alloc == held);
    return 0;
}
