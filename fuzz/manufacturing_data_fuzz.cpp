// The manufacturing reply (BMIC 0x82) through both record forms. The first input byte is the OEM id
// the feature page reports, the rest the reply (at most 256 bytes are cached, the rest zero); the
// decoder also runs over the whole input as a reply of any length.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "pavl_bytes.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_prop_replies.h"

namespace {

bool Terminated(const VK_CONTROLLER_MANUFACTURING_DATA& r) {
    return r.serial_number[15] == '\0' && r.spare_part_number[15] == '\0' && r.part_number[15] == '\0';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    VK_CONTROLLER_MANUFACTURING_DATA decoded;
    telmar::DecodeManufacturingData(pavlin::ByteView(data, size), &decoded);
    FUZZ_CHECK(Terminated(decoded));

    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    const uint8_t oem_id = size ? data[0] : 0;
    const size_t reply = size > 1 ? std::min<size_t>(size - 1, kManufacturingDataSize) : 0;
    std::memset(c->manufacturing_data_buffer, 0, kManufacturingDataSize);
    if (reply) {
        std::memcpy(c->manufacturing_data_buffer, data + 1, reply);
    }
    c->identify_controller_buffer.dwEvenMoreControllerFlags = 0x80000000; // feature pages offered
    c->sense_feature.page_manufacturing_data.bOEMID = oem_id;
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidManufacturingData;

    VK_CONTROLLER_MANUFACTURING_DATA record;
    const VK_BOOL standard = VK_GetControllerManufacturingData(cda, &record);
    FUZZ_CHECK(standard == (oem_id == 0 ? kTrue : kFalse));
    if (standard) {
        FUZZ_CHECK(Terminated(record));
    }
    VK_BYTE type = 0xEE, revision = 0xEE;
    void* block = VK_GetControllerOEMManufacturingData(cda, &type, &revision);
    FUZZ_CHECK(block != nullptr);
    FUZZ_CHECK(type == oem_id);
    if (oem_id == 0) {
        FUZZ_CHECK(revision == 0);
        FUZZ_CHECK(std::memcmp(block, &record, sizeof(record)) == 0);
    } else {
        FUZZ_CHECK(revision == c->manufacturing_data_buffer[0]);
        FUZZ_CHECK(std::memcmp(block, c->manufacturing_data_buffer, kManufacturingDataSize) == 0);
    }
    VK_free(block);
    return 0;
}
