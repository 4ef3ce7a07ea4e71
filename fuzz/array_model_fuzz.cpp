// The array model over hostile IDENTIFY maps and logical-drive configurations. The input fills, in
// order: a byte of choices, IDENTIFY CONTROLLER, then for up to eight logical drives a configuration
// (652 bytes) each; drives and statuses follow from them. The data area has no controller behind it:
// whatever is not cached fails to load as an unreadable reply would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_records.h"

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    bool Fill(void* destination, size_t length) {
        std::memset(destination, 0, length);
        const size_t n = at < size ? std::min(length, size - at) : 0;
        if (n) {
            std::memcpy(destination, data + at, n);
        }
        at += n;
        return n > 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    struct QuietLog {
        VK_BYTE previous = PN_SetDebugLogLevel(0);
        ~QuietLog() { PN_SetDebugLogLevel(previous); }
    } quiet;
    static const std::unique_ptr<uint8_t[]> memory = std::make_unique<uint8_t[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    PCDA cda = memory.get();
    _CDA* c = _VK_CDA(cda);
    Input in{data, size};
    const uint8_t choices = in.Byte();
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                 kCDAValidEnclosures | ((choices & 1) ? kCDAValidCacheConfigStatus : 0);
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    for (VK_WORD n = 0; n < 8; ++n) {
        LogicalDriveRecord& r = _VK_LDRecordForWrite(c, static_cast<VK_WORD>(n));
        if (!in.Fill(&r.sense_config_buffer, sizeof(r.sense_config_buffer))) {
            break;
        }
        telmar::DeriveLogicalDriveConfig(cda, r);
        r.flags |= kLDRecordConfigValid | kLDRecordStatusValid;
    }
    for (VK_WORD p = 0; p < kMaxPhysicalDrivesSupported; ++p) {
        PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, static_cast<VK_WORD>(p));
        pd.identify_physical_drive_buffer.bDeviceType = 1;
        pd.identify_physical_drive_buffer.wBlockSize = static_cast<VK_WORD>((choices & 2) ? 4096 : 512);
        pd.identify_physical_drive_buffer.bLogicalBlocksPerPhysicalBlock = static_cast<VK_BYTE>(choices >> 2);
        telmar::DerivePhysicalDriveRecord(cda, pd);
        pd.flags |= kPDRecordIdentifyValid;
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
