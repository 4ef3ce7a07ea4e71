// What the record loaders (telm_cda_records.cpp), the array model (telm_cda_model.cpp) and the getters
// over them share: the bounded map reader and writer and the decoders of the per-device replies.
#ifndef TELM_RECORDS_H
#define TELM_RECORDS_H

#include <cstddef>
#include <optional>

#include "pavl_bytes.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_private.h"

namespace telmar {

// Bytes of a drive map for `max_devices` devices: one bit each, rounded up, at most the 48 bytes the
// records keep.
inline size_t MapByteCount(VK_WORD max_devices) {
    const size_t bytes = (static_cast<size_t>(max_devices) + 7) / 8;
    return bytes < kDriveBitmapSize ? bytes : kDriveBitmapSize;
}

// The map of `bytes` bytes at a controller-reported `offset` into the bytes actually `held`; nothing
// when the offset is 0 or the map does not lie wholly inside them. Every map at a reported offset is
// read through here.
inline std::optional<pavlin::ByteView> MapAt(pavlin::ByteView held, size_t offset, size_t bytes) {
    if (offset == 0) {
        return std::nullopt;
    }
    return held.sub(offset, bytes);
}

// Copies such a map into `destination` (cleared first, `destination_size` bytes); an absent map
// leaves it clear. True when the map was there.
inline bool CopyMap(pavlin::ByteView held, size_t offset, size_t bytes, VK_BYTE* destination,
                    size_t destination_size) {
    for (size_t i = 0; i < destination_size; ++i) {
        destination[i] = 0;
    }
    const auto map = MapAt(held, offset, bytes < destination_size ? bytes : destination_size);
    return map && map->copy_to(0, destination, map->size());
}

inline bool MapBit(const VK_BYTE* map, size_t map_size, size_t bit) {
    return bit / 8 < map_size && (map[bit / 8] >> (bit % 8)) & 1;
}

// The writable map of `bytes` bytes at a controller-reported `offset` in a buffer about to go back to
// the controller. `limit` is what the buffer may hold (the smaller of its size and the total its own
// header reports); a map at offset 0 or reaching past the limit is absent, so nothing is written
// outside what the controller will read. Every map written at a reported offset goes through here.
inline std::optional<pavlin::ByteSpan> MapSpanAt(pavlin::ByteSpan buffer, size_t limit, size_t offset,
                                                 size_t bytes) {
    if (offset == 0) {
        return std::nullopt;
    }
    const size_t held = limit < buffer.size() ? limit : buffer.size();
    if (offset > held || bytes > held - offset) {
        return std::nullopt;
    }
    return pavlin::ByteSpan(buffer.data() + offset, bytes);
}

// Zeroes a whole map; the map's own size bounds it.
inline void ClearMapSpan(pavlin::ByteSpan map) {
    for (size_t i = 0; i < map.size(); ++i) {
        map.put8(i, 0);
    }
}

// Sets (or clears) one drive's bit; false, with nothing written, when the bit lies outside the map.
inline bool PutMapBit(pavlin::ByteSpan map, size_t bit, bool set = true) {
    if (bit / 8 >= map.size()) {
        return false;
    }
    VK_BYTE* byte = map.data() + bit / 8;
    const auto mask = static_cast<VK_BYTE>(1u << (bit % 8));
    *byte = set ? static_cast<VK_BYTE>(*byte | mask) : static_cast<VK_BYTE>(*byte & ~mask);
    return true;
}

// IDENTIFY PHYSICAL DRIVE into its compact copy (zeroed first). The model is the 48-byte full-length
// one when the controller has it, else the 40-byte model of the reply's start.
void DecodePhysicalDriveStatus(pavlin::ByteView reply, bool full_length_model, CDA_PHYSICAL_DRIVE_STATUS& out);

// LOGICAL DRIVE STATUS, as many bytes as were read, into its compact copy (zeroed first).
void DecodeLogicalDriveStatus(pavlin::ByteView reply, CDA_LOGICAL_DRIVE_STATUS& out);

// SENSE BUS PARAMETERS into the compact copy of an enclosure record (zeroed first). True when the box
// answered with an enclosure.
bool DecodeBusParameters(pavlin::ByteView reply, CDA_SENSE_BUS_PARAMETERS& out);

// What a freshly read identify record implies: drive bit, sizes, boot connector, connector-mode
// mismatch. The extra LUNs are read by the loader. The caller holds the lock.
void DerivePhysicalDriveRecord(PCDA cda, PhysicalDriveRecord& record);

// The LUNs after the first of a multi-LUN drive into `additional_lun_info`: two to four LUNs are
// kept, more are logged and none kept.
void ReadExtraLuns(PCDA cda, VK_WORD pd_number, PhysicalDriveRecord& record);

// What a freshly read configuration implies: exists bit, sizes, offsets, LU cache bits.
void DeriveLogicalDriveConfig(PCDA cda, LogicalDriveRecord& record);

// The configuration's member and spare maps: the extended maps at their offsets, or the 128-drive
// maps when the configuration gives no extended offset. `map_bytes` from MapByteCount.
std::optional<pavlin::ByteView> ConfigMemberMap(const LOGICAL_DRIVE_CONFIG& config, size_t map_bytes);
std::optional<pavlin::ByteView> ConfigSpareMap(const LOGICAL_DRIVE_CONFIG& config, size_t map_bytes);

// The installed-drive map of an enclosure record and the number of its meaningful bits.
pavlin::ByteView EnclosureInstalledMap(const CDA_SENSE_BUS_PARAMETERS& enclosure, size_t* bit_count);

// The RAID groups of a logical drive from its mirror-pair reply (`reply`: the bytes read, its total
// already cut to them), as the enumerator hands them out. `data_drives` are the array's data drives in
// enumeration order and `d` the data count of its drive-count word. Any fault gives 0 and a NULL info.
VK_WORD BuildRaidGroups(pavlin::ByteView reply, bool extended_map, VK_WORD raid_info, const VK_WORD* data_drives,
                        size_t data_drive_count, VK_DWORD d, PRAID_GROUP_INFO* raid_group_info);

// One logical drive's word of a surface-status reply's status table; 0 when the drive is past the
// reply's logical-device count or the table is absent or not whole inside `reply`.
VK_WORD DecodeSurfaceStatusWord(pavlin::ByteView reply, VK_WORD ld_number);

// The last surface analysis of one logical drive from a complete surface-status reply: result 0 with
// the record filled, or result 5 (tables absent or not whole inside `reply`, or zero fields) with the
// record zeroed when the tables were there, untouched otherwise.
VK_BYTE DecodeSurfaceAnalysisInfo(pavlin::ByteView reply, VK_WORD ld_number, LOGICAL_DRIVE_SURFACE_ANALYSIS_INFO* info);

// Whether the array's drive walk (data drives and spares) would give `pd_number`, without walking.
bool ArrayHoldsDrive(PCDA cda, VK_WORD array_number, VK_WORD pd_number);

// The next non-disk device after `number` (0xFFFF: from the first) whose type is `device_type`, as
// the SEP and expander walks give them; 0xFFFF when there is none.
VK_WORD NextNonDiskDevice(PCDA cda, VK_WORD number, VK_BYTE device_type);

} // namespace telmar

#endif
