// Decoders behind the physical-drive status word, flag set, erase state and drive statistics, and
// behind the enclosure getters. They see only the cached compact copies or a reply's bytes (through
// the byte view), so the getters, the tests and the fuzz targets all run the same code.
#ifndef TELM_DRIVE_DECODE_H
#define TELM_DRIVE_DECODE_H

#include <cstddef>

#include "pavl_bytes.h"
#include "ptelm_properties.h"
#include "telm_private.h"

namespace telmar {

// What the status word takes from outside the drive's identify record.
struct DriveStatusContext {
    VK_BYTE usage = 0;
    VK_WORD logical_block_size = 0;
    VK_DWORD additional_raid_info = 0; // VK_ControllerSupportsAdditionalRAIDInfo
    VK_DWORD basic_info = 0;           // VK_GetPhysicalDriveBasicInfo
    bool exposure_page = false;        // feature pages loaded and the drive page's bFlags2 0x04
    bool mixed_mode = false;           // VK_ControllerSupportsMixedMode
    bool connector_mixed = false;      // the drive's connector runs in mixed mode
    bool supported_for_config = true;  // _VK_IsPhysicalDriveSupportedForConfig
    VK_DWORD rebuild_bits = 0;         // RebuildBits over the logical drives of the drive's array
};

// The word of a drive whose records loaded: every condition, then the zero rule.
VK_DWORD ComposePhysicalDriveStatus(const CDA_PHYSICAL_DRIVE_STATUS& pd, const DriveStatusContext& context);
// The word of a drive whose records did not load.
inline constexpr VK_DWORD kUnreadableDriveStatus = 0x100 | 0x4 | 3;

// kPhysicalDriveStatusRebuilding or kPhysicalDriveStatusRebuildQueued that one recovering logical
// drive gives drive `pd_number`, else 0.
VK_DWORD RebuildBits(const CDA_LOGICAL_DRIVE_STATUS& ld, VK_WORD pd_number);

// Firmware texts trimmed into 12 bytes and compared byte-wise; an empty minimum never asks for more.
bool FirmwareOlderThanMinimum(const char (&firmware)[8], const char (&minimum)[8]);

VK_BYTE HealthOfStatus(VK_DWORD status);

// The 8-byte flag set of a drive.
inline constexpr size_t kDriveFlagSetSize = 8;
void FillDriveFlagSet(const CDA_PHYSICAL_DRIVE_STATUS& pd, VK_BYTE (&flags)[kDriveFlagSetSize]);

// Erase progress of a drive whose entry is missing or not in an erase.
inline constexpr VK_BYTE kErasePercentUnknown = 101;

// The erase word of one per-drive erase entry.
VK_DWORD DecodeEraseEntry(VK_WORD entry);
// Erase progress of drive `pd_number` in an erase-status reply: 0 queued, 100 completed, the progress
// while erasing, 101 otherwise or when the reply does not hold the entry within its own total.
VK_BYTE EraseProgressFromReply(pavlin::ByteView reply, VK_WORD pd_number);

// Whether the status word lets the drive's statistics be read.
bool StatusAllowsStatistics(VK_DWORD status);
// The statistics record from a 0xA0 reply; fields the reply does not hold read 0.
void DecodeMNPStatistics(pavlin::ByteView reply, MNP_STATISTICS& out);
// CDB detail and LUN of the statistics read: drive low byte in CDB byte 2, 0x02 in byte 4, the high
// byte in byte 9 (the LUN's high byte), as the identify and OEM-data reads carry theirs.
VK_DWORD MNPStatisticsDetail(VK_WORD pd_number);
VK_WORD MNPStatisticsLun(VK_WORD pd_number);

// ---- Enclosures --------------------------------------------------------------------------------

// Entry after `previous` of a device list of `count` entries (at most 16), 0xFFFF at its end; a 0
// entry ends the list.
VK_WORD NextInDeviceList(const VK_WORD (&list)[16], VK_BYTE count, VK_WORD previous);
VK_WORD NextInstalledDrive(const CDA_SENSE_BUS_PARAMETERS& se, VK_WORD previous);
VK_WORD InstalledDriveCount(const CDA_SENSE_BUS_PARAMETERS& se);
VK_BYTE BackplaneInterfaceType(const CDA_SENSE_BUS_PARAMETERS& se);
VK_BYTE EnclosureLocation(const CDA_SENSE_BUS_PARAMETERS& se);
VK_BYTE EnclosurePathCount(const CDA_SENSE_BUS_PARAMETERS& se);
// Path-info word; `active_out_of_range` tells whether the active path number was above 7.
VK_WORD EnclosurePathInfo(const CDA_SENSE_BUS_PARAMETERS& se, bool* active_out_of_range);
// The path's name of `type` into `out` (zeroed, `size` bytes); false when the buffer or index does not do.
bool EnclosurePathName(const CDA_SENSE_BUS_PARAMETERS& se, VK_BYTE path_index, VK_BYTE type, bool long_names,
                       char* out, size_t size);
// "major.minor" with the minor in two digits below 10; false when `size` is below 8.
bool UBMVersionText(const CDA_SENSE_BUS_PARAMETERS& se, char* out, size_t size);

} // namespace telmar

PN_EXTERN_C_BEGIN

// The erase word of a drive from a list of per-drive erase entries.
VK_DWORD __VK_CalcPhysicalDriveEraseInfo(PCDA cda, VK_WORD pd_number, VK_WORD* pd_erase_status_list);
// Exposed to the host, level informational or failed, not erasing, and a boot id that is not all zeros.
VK_BOOL __VK_CheckBootPhysicalDrive(PCDA cda, VK_WORD pd_number);
// A logical drive in a state a host can boot from (not failed, missing, erasing and the like) and
// of a type that holds data.
VK_BOOL __VK_CheckBootLogicalDrive(PCDA cda, VK_WORD ld_number);
// A listed remote volume whose identifier does not begin with 0.
VK_BOOL __VK_CheckBootRemoteVolume(PCDA cda, VK_WORD volume_number);

PN_EXTERN_C_END

#endif
