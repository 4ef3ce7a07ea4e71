// The staged-array status word over hostile controller replies. The input fills, in order: a byte of
// choices, IDENTIFY CONTROLLER, up to four logical-drive configurations (652 bytes each), then each
// of those drives' status reply (as many bytes as a short read gives), then identify replies of the
// first 16 physical drives; a staged copy of every live array is then made from further input bytes
// (drive lists, offsets, footprints and flags), beside a new array. The data area has no controller
// behind it: whatever is not cached fails to load as an unreadable reply would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_config_internal.h"
#include "telm_records.h"

namespace {

constexpr VK_WORD kLogicalDrives = 4;
constexpr VK_WORD kPhysicalDrives = 16;

EDITABLE_CONFIGURATION g_config;
EDITABLE_ARRAY g_arrays[kMaxArraysSupported];
EDITABLE_LOGICAL_DRIVE g_lds[kMaxLogicalDrivesSupported];

void StageArray(FuzzInput& in, PCDA cda, EDITABLE_ARRAY& a, VK_WORD number, bool is_new) {
    std::memset(&a, 0, sizeof(a));
    a.editable_array_number = number;
    a.flags = static_cast<VK_WORD>(in.Byte() & ~kEditableArrNew) | (is_new ? kEditableArrNew : 0);
    a.common_block_size = in.Take<VK_WORD>();
    a.data_drive_count = static_cast<VK_WORD>(in.Byte() % 8);
    a.spare_drive_count = static_cast<VK_WORD>(in.Byte() % 4);
    for (VK_WORD i = 0; i < a.data_drive_count; ++i) {
        a.data_drives[i] = in.Take<VK_WORD>();
    }
    for (VK_WORD i = 0; i < a.spare_drive_count; ++i) {
        a.spare_drives[i] = in.Take<VK_WORD>();
    }
    if (!is_new) {
        VK_WORD n;
        FOREACH_ARRAY_LOGICAL_DRIVE(cda, number, n) {
            if (n < kMaxLogicalDrivesSupported && a.logical_drive_count < std::size(a.logical_drives)) {
                a.logical_drives[a.logical_drive_count++] = n;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    FuzzInput in{data, size};
    const uint8_t choices = in.Byte();
    const VK_WORD configured = FillLiveConfigurations(in, false, kLogicalDrives);
    _CDA* c = DataArea();
    PCDA cda = c;
    for (VK_WORD n = 0; n < configured; ++n) {
        LogicalDriveRecord& r = _VK_LDRecordForWrite(c, n);
        telmar::DecodeLogicalDriveStatus(in.Reply(4096), r.sense_logical_drive_status_buffer);
        r.flags |= kLDRecordStatusValid;
    }
    for (VK_WORD p = 0; p < kMaxPhysicalDrivesSupported; ++p) {
        if (p < kPhysicalDrives) {
            DecodeDriveIdentify(c, p, in.Reply(1024), (choices & 1) != 0);
        } else {
            PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, p);
            pd.identify_physical_drive_buffer.bDeviceType = 1;
            pd.identify_physical_drive_buffer.wBlockSize = 512;
            CacheDriveIdentify(c, pd);
        }
    }
    if (!VK_RequestArrayConfigurationInformation(cda)) {
        return 0;
    }

    std::memset(&g_config, 0, sizeof(g_config));
    std::memset(g_lds, 0, sizeof(g_lds));
    g_config.flags = (choices & 2) ? kEditableConfigEncryptionEnabled : 0;
    c->editable_configuration = &g_config;
    VK_WORD a;
    FOREACH_ARRAY(cda, a) {
        if (a >= kMaxArraysSupported - 1) {
            break;
        }
        StageArray(in, cda, g_arrays[a], a, false);
        g_config.editable_array_list[a] = &g_arrays[a];
        g_config.editable_array_count = static_cast<VK_WORD>(a + 1);
    }
    const VK_WORD fresh = g_config.editable_array_count;
    StageArray(in, cda, g_arrays[fresh], fresh, true);
    g_config.editable_array_list[fresh] = &g_arrays[fresh];
    ++g_config.editable_array_count;
    // Each staged logical drive: the live drive of that number, at a staged place with staged flags.
    for (VK_WORD n = 0; n < kMaxLogicalDrivesSupported; ++n) {
        const bool listed =
            std::any_of(g_arrays, g_arrays + g_config.editable_array_count, [n](const EDITABLE_ARRAY& s) {
                return std::find(s.logical_drives, s.logical_drives + s.logical_drive_count, n) !=
                       s.logical_drives + s.logical_drive_count;
            });
        if (!listed) {
            continue;
        }
        EDITABLE_LOGICAL_DRIVE& e = g_lds[n];
        e.ld_number = n;
        e.flags = in.Take<VK_QWORD>();
        e.physical_drive_offset_block = in.Take<VK_QWORD>();
        e.physical_drive_blocks_per_drive = in.Take<VK_QWORD>();
        e.lu_cache_ld_number = kInvalidLDNumber;
        g_config.editable_ld_list[n] = &e;
    }

    for (VK_WORD s = 0; s < g_config.editable_array_count; ++s) {
        const VK_DWORD word = VK_GetEditableArrayStatusInfo(cda, s);
        FUZZ_CHECK(word != 0);
        FUZZ_CHECK(word == kArrayStatusOK || !(word & kArrayStatusOK));
        if (g_arrays[s].flags & kEditableArrNew) {
            // A new array has nothing on the controller to report.
            FUZZ_CHECK(!(word & ~static_cast<VK_DWORD>(
                                    kArrayStatusOK | kArrayStatusHasQueuedLogicalDriveTransformation |
                                    kArrayStatusHasUnlockedLogicalDrive |
                                    kArrayStatusUnsupportedBlockSizeForRAIDConfiguration)));
            FUZZ_CHECK(!_VK_EditableArrayHasFailedSEDLogicalDrive(cda, s));
        }
        _VK_EditableArrayHasLockedSEDPhysicalDrive(cda, s);
    }
    FUZZ_CHECK(VK_GetEditableArrayStatusInfo(cda, g_config.editable_array_count) == 0);
    c->editable_configuration = nullptr;
    return 0;
}
