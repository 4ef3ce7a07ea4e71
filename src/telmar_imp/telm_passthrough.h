// Physical-device pass-through: the pieces shared with the controller commands and the descriptor
// getters, and the INQUIRY length rule kept pure so that it can be fuzzed.
#ifndef TELM_PASSTHROUGH_H
#define TELM_PASSTHROUGH_H

#include <algorithm>

#include "pavl_bytes.h"
#include "ppavl_commands.h"
#include "ppavl_discovery.h"
#include "ptelm_cda.h"

namespace telmar {

// Sense buffer lent to a request that brings none, so the platform always has somewhere to put it.
inline constexpr VK_DWORD kLentSenseSize = 32;

// Probe sizes: the standard data's header up to its additional length, and the VPD page header.
inline constexpr VK_WORD kStandardInquiryProbeSize = 5;
inline constexpr VK_WORD kVPDPageProbeSize = 4;

// Allocation length of the second INQUIRY: what the probe reply announces, at most the caller's
// buffer. Standard data: byte 4 + 5; a VPD page: bytes 2-3 (most significant first) + 4, added in
// 32 bits so that a page length near 0xFFFF does not wrap to a tiny request. Bytes the probe lacks
// read as 0.
inline VK_WORD InquiryReadLength(pavlin::ByteView probe, bool vpd, VK_WORD buffer_size) {
    const VK_DWORD full = vpd ? VK_DWORD{probe.be16(2).value_or(0)} + kVPDPageProbeSize
                              : VK_DWORD{probe.u8(4).value_or(0)} + kStandardInquiryProbeSize;
    return static_cast<VK_WORD>(std::min<VK_DWORD>(full, buffer_size));
}

} // namespace telmar

PN_EXTERN_C_BEGIN

// PN_ExecuteSCSICommand with a zeroed lent sense buffer when the request has none; the lent buffer
// is taken back before returning.
EnCommandStatus _VK_ExecuteSCSIWithSense(DeviceDescriptor device, PSCSIRequest request);

// The data area's copy of a device's host descriptor: the record's cached one, else the first item
// of a one-number list from `create_list`, stored in the record. NULL when neither names the device.
// The caller holds the lock and logs a NULL answer.
DeviceDescriptor _VK_GetRecordDeviceDescriptor(PCDA cda, VK_WORD number,
                                               DeviceDescriptorList (*create_list)(DeviceDescriptor, VK_WORD*,
                                                                                   VK_WORD));

PN_EXTERN_C_END

#endif
