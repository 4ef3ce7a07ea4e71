// What the data area's files share: its lifecycle (telm_cda_main.cpp), the cached loaders
// (telm_cda_loaders.cpp), the variable-length readers and their decoders (telm_cda_readers.cpp) and
// the page zeroing (telm_cda_zero.cpp).
#ifndef TELM_CDA_INTERNAL_H
#define TELM_CDA_INTERNAL_H

#include <cstddef>

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_reportluns.h"
#include "telm_private.h"

namespace telmar {

// The CDB carries the transfer length in 16 bits; a longer reply cannot be asked for.
inline constexpr VK_QWORD kMaxBMICTransferLength = 0xFFFF;

// The erase-status reader's number for every physical drive at once.
inline constexpr VK_WORD kAllPhysicalDrives = 0xFFFF;

inline VK_DWORD& BufferFlags(_CDA* c) {
    return c->flags[kCDAFlagsBuffers];
}

inline VK_BOOL ReadInto(_CDA* c, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, void* buffer, size_t size) {
    return _VK_BMICHelperReadBuffer(c->controller_handle, opcode, detail, lun, buffer,
                                    static_cast<VK_DWORD>(size));
}

// Zeroes a data area without touching the pages that hold nothing yet.
void ZeroDataArea(void* area, size_t size);

// The erase status of one drive, or of every drive (kAllPhysicalDrives), read at the length the reply
// asks for; empty when it cannot be read. Its total length never passes the buffer.
pavlin::TrackedBuffer ReadEraseStatus(PCDA cda, VK_WORD pd_number);

// Decoders of controller replies. Each reads only inside `reply` and is called by the product
// exactly so.

// The per-drive erase state words of an ERASE_STATE reply into `states` (zeroed first); words the
// reply does not hold stay zero.
void DecodeEraseStates(pavlin::ByteView reply, VK_WORD* states, size_t count);

// The unique ids of the remote volumes (address byte 4 = 1) of a REPORT LOGICAL LUNS (extended)
// report, at most `capacity` of them; `*found` is how many. False, with none, when the report lists
// more entries than a controller can have.
bool DecodeRemoteVolumes(pavlin::ByteView report, RemoteVolumeRecord* records, size_t capacity,
                         VK_WORD* found);

// A host volume's unique identifier (property 0x21: a format letter, then the identifier) as the
// text a caller compares against, for a caller's text buffer of `buffer_size` bytes: 'B' is the
// upper-case hex of min((buffer_size - 1) / 2, size - 1) bytes, 'S' the next
// min(size, buffer_size) - 1 characters up to a NUL. The product reads at most
// kVolumeIdPropertyReadSize bytes of the property.
inline constexpr size_t kVolumeIdPropertyReadSize = 128;
inline constexpr size_t kVolumeIdTextSize = 2 * kVolumeIdPropertyReadSize + 1;
enum class VolumeIdText {
    kBuilt,             // `text` holds a non-empty identifier
    kNone,              // no identifier: the property has no byte after its letter, or the text is empty
    kUnsupportedFormat, // another format letter
};
VolumeIdText BuildVolumeIdText(pavlin::ByteView property, size_t buffer_size, char (&text)[kVolumeIdTextSize]);

// The unit serial number of a VPD page 0x80 reply (the byte count at offset 3 from offset 4, at most
// `serial_size` - 1 characters), trimmed at both ends; empty when the reply holds none.
void DecodeVPDUnitSerialNumber(pavlin::ByteView page, char* serial, size_t serial_size);

} // namespace telmar

#endif
