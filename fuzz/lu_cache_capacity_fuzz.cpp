// The LU-cache capacity and the cache drives' line and strip over a fuzzed LU_CACHE_RAM_INFO reply
// and fuzzed staged drives. The input fills, in order: the reply (39 bytes, read through the byte
// view, shorter when the input ends), the LU-cache feature page, the requested algorithm, line size
// in blocks (4), then up to eight staged drives of 24 bytes each (flags, algorithm, line size 4, size
// 8, block size 2, RAID level, groups, array's data-drive count 2, line-size code, strip set, the
// array's block size 2). The size getters run over the same geometry. Nothing
// may divide by zero, index past the algorithm table or wrap.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};

    const auto decoded = telmar::lucache::DecodeRAMInfo(in.View(39));
    in.Fill(&c->sense_feature.page_lu_cache, sizeof(c->sense_feature.page_lu_cache));
    const VK_BYTE algorithm = in.Take<VK_BYTE>();
    const VK_DWORD line = in.Take<VK_DWORD>();

    HeapStagedConfiguration config(c);
    VK_BYTE codes[8] = {};
    for (VK_WORD n = 0; n < 8 && !in.Done(); ++n) {
        EDITABLE_LOGICAL_DRIVE& ld = config.LogicalDrive(n);
        ld.ld_number = n;
        ld.flags = in.Take<VK_BYTE>() & 0x1 ? kEditableLDLocked : 0;
        ld.flags |= kEditableLDLUCache | kEditableLDArraySet | kEditableLDRAIDSet | kEditableLDSizeSet;
        ld.lu_cache_algorithm = in.Take<VK_BYTE>();
        ld.lu_cache_line_size_blocks = in.Take<VK_DWORD>();
        ld.drive_size_blocks = in.Take<VK_QWORD>();
        ld.block_size_bytes = in.Take<VK_WORD>();
        ld.RAID_level = in.Take<VK_BYTE>();
        ld.num_parity_groups = in.Take<VK_BYTE>();
        ld.lu_cache_ld_number = 0xFFFF;
        // Each drive on its own staged array of the given drive count.
        EDITABLE_ARRAY& array = config.Array(n);
        array.editable_array_number = n;
        array.data_drive_count = std::min<VK_WORD>(in.Take<VK_WORD>(), 128);
        array.logical_drives[array.logical_drive_count++] = n;
        ld.editable_array_number = n;
        codes[n] = in.Take<VK_BYTE>();
        ld.flags |= in.Take<VK_BYTE>() & 0x1 ? kEditableLDStripSizeSet : 0;
        array.common_block_size = in.Take<VK_WORD>();
        array.common_drive_size_blocks = ld.drive_size_blocks >> (ld.block_size_bytes & 0x3F);
        ld.strip_size_blocks = ld.lu_cache_line_size_blocks >> 2;
        ld.sectors_per_track = ld.lu_cache_algorithm;
        ++config->editable_ld_count;
        ++config->editable_array_count;
    }

    if (decoded) {
        const LU_CACHE_RAM_INFO& info = *decoded;
        const bool valid = algorithm >= 1 && algorithm <= 4;
        const VK_DWORD lines = telmar::lucache::AvailableLines(info, *config, algorithm);
        const VK_QWORD cache_lines = telmar::lucache::LinesPerVolume(info, algorithm, false);
        const VK_QWORD data_lines = telmar::lucache::LinesPerVolume(info, algorithm, true);
        const VK_QWORD max_cache = telmar::lucache::MaxCacheSizeBlocks(info, *config, algorithm, line);
        const VK_QWORD max_data = telmar::lucache::MaxDataVolumeBlocks(info, algorithm, line, false);
        const VK_QWORD max_data_rounded = telmar::lucache::MaxDataVolumeBlocks(info, algorithm, line, true);
        if (!valid) {
            FUZZ_CHECK(lines == 0 && cache_lines == 0 && data_lines == 0 && max_cache == 0 && max_data == 0);
        } else {
            const LU_CACHE_RAM_ALGO_INFO& e = info.bAlgoInfo[algorithm - 1];
            const VK_QWORD memory =
                VK_QWORD{info.dwMemoryUsedForLUCacheBytes} + info.dwMemoryAvailableForLUCacheBytes;
            FUZZ_CHECK(e.bBytesPerCacheLine != 0 || lines == 0);
            FUZZ_CHECK(e.bBytesPerCacheLine == 0 || lines <= memory / e.bBytesPerCacheLine);
            FUZZ_CHECK(max_data == Saturated(Wide{line} * data_lines));
            FUZZ_CHECK(max_cache <= Saturated(Wide{line} * lines));
            FUZZ_CHECK(max_cache <= Saturated(Wide{line} * cache_lines));
        }
        FUZZ_CHECK(max_data_rounded <= max_data);
    }

    // The same through the data area, with the reply cached as the controller gave it.
    if (decoded) {
        std::memcpy(&c->lu_cache_ram_info_buffer, &*decoded, sizeof(c->lu_cache_ram_info_buffer));
        c->flags[kCDAFlagsBuffers] |= kCDAValidLUCacheRAMInfo;
    }
    c->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
    _VK_GetAvailableEditableLUCacheLines(cda, algorithm);
    _VK_GetEditableLUCacheBlocksPerCacheLine(cda, algorithm);
    _VK_GetMaxEditableLUCacheSizeBlocks(cda, algorithm, line);
    _VK_GetMaxEditableLUCachedDataSizeBlocks(cda, algorithm, line);
    for (VK_WORD n = 0; n < 8; ++n) {
        const PEDITABLE_LOGICAL_DRIVE ld = config->editable_ld_list[n];
        if (ld == nullptr) {
            continue;
        }
        const VK_BYTE code = VK_GetEditableLogicalDriveLUCacheLineSize(cda, n);
        FUZZ_CHECK(code == 0 || code == 1 || code == 2 || code == 4);
        VK_DWORD stripe = 0;
        const VK_DWORD strip =
            __VK_GetEditableLUCacheStripAndStripeSize(cda, n, ld->RAID_level, ld->num_parity_groups, &stripe);
        FUZZ_CHECK((strip == 0) == (stripe == 0));
        FUZZ_CHECK(strip <= stripe);
        // Every size of the drive, block size, strip or usable count 0 included.
        for (VK_BYTE type : {0x00, 0x01, 0x02, 0x03, 0x10, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29}) {
            VK_QWORD value = 1;
            const VK_BYTE result = VK_GetEditableLogicalDriveSize(cda, n, type, &value);
            FUZZ_CHECK(result >= kGetEditableLogicalDriveSizeOK && result <= kGetEditableLogicalDriveSizeNoSizeSet);
            FUZZ_CHECK(result == kGetEditableLogicalDriveSizeOK || value == 0);
        }
        const VK_DWORD before_line = ld->lu_cache_line_size_blocks;
        const VK_BYTE can = VK_CanSetEditableLogicalDriveLUCacheLineSize(cda, n, codes[n]);
        const VK_BYTE set = VK_SetEditableLogicalDriveLUCacheLineSize(cda, n, codes[n]);
        FUZZ_CHECK((can == kCanSetEditableLogicalDriveLUCacheLineSizeOK) == (set == kSetEditableLogicalDriveLUCacheLineSizeOK));
        if (can != kCanSetEditableLogicalDriveLUCacheLineSizeOK) {
            FUZZ_CHECK(ld->lu_cache_line_size_blocks == before_line);
        }
    }
    return 0;
}
