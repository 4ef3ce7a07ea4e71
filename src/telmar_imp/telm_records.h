// What the record loaders (telm_cda_records.cpp), the array model (telm_cda_model.cpp) and the getters
// over them share: the bounded map reader and the decoders of the per-device replies.
#ifndef TELM_RECORDS_H
#define TELM_RECORDS_H

#include <cstddef>
#include <optional>

#include "pavl_bytes.h"
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

} // namespace telmar

#endif
