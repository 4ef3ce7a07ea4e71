// The array model over hostile IDENTIFY maps and logical-drive configurations. The input fills, in
// order: a byte of choices, IDENTIFY CONTROLLER, then for up to eight logical drives a configuration
// (652 bytes) each; drives and statuses follow from them. The data area has no controller behind it:
// whatever is not cached fails to load as an unreadable reply would.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    FuzzInput in{data, size};
    const uint8_t choices = in.Byte();
    const VK_WORD configured = FillLiveConfigurations(in, (choices & 1) != 0);
    _CDA* c = DataArea();
    PCDA cda = c;
    for (VK_WORD n = 0; n < configured; ++n) {
        c->ld_record_list[n].flags |= kLDRecordStatusValid; // a status of zeroes
    }
    for (VK_WORD p = 0; p < kMaxPhysicalDrivesSupported; ++p) {
        PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, static_cast<VK_WORD>(p));
        pd.identify_physical_drive_buffer.bDeviceType = 1;
        pd.identify_physical_drive_buffer.wBlockSize = static_cast<VK_WORD>((choices & 2) ? 4096 : 512);
        pd.identify_physical_drive_buffer.bLogicalBlocksPerPhysicalBlock = static_cast<VK_BYTE>(choices >> 2);
        CacheDriveIdentify(c, pd);
    }
    FUZZ_CHECK(VK_RequestArrayConfigurationInformation(cda));
    FUZZ_CHECK(c->total_array_count <= 8);
    FUZZ_CHECK(c->data_array_count + c->cache_array_count + c->offline_array_count == c->total_array_count);
    FUZZ_CHECK(!(c->flags[kCDAFlagsModel] & kCDAModelFirstUnusedLDFound) || c->first_unused_ld_number < 64);
    VK_WORD a;
    FOREACH_ARRAY(cda, a) {
        FUZZ_CHECK(c->array_record_list[a].ld_count >= 1);
        FUZZ_CHECK(c->array_record_list[a].alignment_size_blocks >= 1);
        VK_WORD n;
        unsigned walked = 0;
        FOREACH_ARRAY_LOGICAL_DRIVE(cda, a, n) { FUZZ_CHECK(++walked <= 64); }
    }
    return 0;
}
