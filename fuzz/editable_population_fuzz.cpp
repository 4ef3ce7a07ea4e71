// Population of the editable configuration from a hostile live model, and its checksum. The input
// fills, in order: a byte of choices, IDENTIFY CONTROLLER, up to eight logical-drive configurations
// (652 bytes each, as the array model's target reads them), then a status reply for each of those
// drives and identify replies for the first drives. The data area has no controller behind it:
// whatever is not cached fails to load as an unreadable reply would. Population runs twice into
// fresh records: both must give one checksum, and destroying them must free every record.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_properties.h"
#include "telm_config_internal.h"
#include "telm_records.h"

namespace {

constexpr VK_WORD kInputDrives = 16;

// One population into a fresh record; its checksum. Every record is freed again.
VK_DWORD Populate(PCDA cda, VK_WORD array_count) {
    auto* record = static_cast<PEDITABLE_CONFIGURATION>(VK_malloc(sizeof(EDITABLE_CONFIGURATION)));
    FUZZ_CHECK(record != nullptr);
    std::memset(record, 0, sizeof(*record));
    FUZZ_CHECK(_VK_PopulateEditableConfigurationFromModel(cda, record, array_count));
    FUZZ_CHECK(record->editable_array_count <= kMaxArraysSupported);
    FUZZ_CHECK(record->editable_ld_count <= kMaxLogicalDrivesSupported);
    FUZZ_CHECK(record->crc == _VK_GetEditableConfigurationChecksum(record));
    size_t staged = 0;
    for (const PEDITABLE_LOGICAL_DRIVE ld : record->editable_ld_list) {
        staged += ld != nullptr ? 1 : 0;
    }
    FUZZ_CHECK(staged == record->editable_ld_count);
    for (const PEDITABLE_ARRAY array : record->editable_array_list) {
        if (array != nullptr) {
            FUZZ_CHECK(array->data_drive_count <= 128 && array->spare_drive_count <= 128);
            FUZZ_CHECK(array->logical_drive_count <= 64);
            FUZZ_CHECK(array->common_block_size != 0);
        }
    }
    const VK_DWORD crc = record->crc;
    _VK_DestroyEditableConfiguration(record);
    return crc;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    FuzzInput in{data, size};
    const uint8_t choices = in.Byte();
    const VK_WORD configured = FillLiveConfigurations(in, (choices & 1) != 0);
    _CDA* c = DataArea();
    PCDA cda = c;
    std::vector<uint8_t> reply(std::max(sizeof(LOGICAL_DRIVE_STATUS), sizeof(PHYSICAL_DRIVE_STATUS)));
    for (VK_WORD n = 0; n < configured; ++n) {
        LogicalDriveRecord& r = c->ld_record_list[n];
        const size_t got = in.Fill(reply.data(), sizeof(LOGICAL_DRIVE_STATUS));
        telmar::DecodeLogicalDriveStatus(pavlin::ByteView(reply.data(), got), r.sense_logical_drive_status_buffer);
        r.flags |= kLDRecordStatusValid;
    }
    for (VK_WORD p = 0; p < kMaxPhysicalDrivesSupported; ++p) {
        PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, p);
        const size_t got = p < kInputDrives ? in.Fill(reply.data(), sizeof(PHYSICAL_DRIVE_STATUS)) : 0;
        if (got != 0) {
            telmar::DecodePhysicalDriveStatus(pavlin::ByteView(reply.data(), got), (choices & 4) != 0,
                                              pd.identify_physical_drive_buffer);
        } else {
            pd.identify_physical_drive_buffer.bDeviceType = 1;
            pd.identify_physical_drive_buffer.bDeviceFlags = 0x01;
            pd.identify_physical_drive_buffer.wBlockSize = static_cast<VK_WORD>((choices & 2) ? 4096 : 512);
            pd.identify_physical_drive_buffer.dwTotalBlocks = 0x100000u + p;
        }
        CacheDriveIdentify(c, pd);
    }
    VK_RequestArrayConfigurationInformation(cda);
    const VK_WORD array_count = VK_GetControllerTotalArrayCount(cda);

    const VK_UINT64 held = _VK_curr_alloc;
    const VK_DWORD first = Populate(cda, array_count);
    FUZZ_CHECK(_VK_curr_alloc == held);
    FUZZ_CHECK(Populate(cda, array_count) == first);
    FUZZ_CHECK(_VK_curr_alloc == held);
    return 0;
}
