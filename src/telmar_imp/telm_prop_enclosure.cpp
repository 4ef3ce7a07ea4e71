// Storage enclosures: the boxes that answered the bus-parameters read.
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_private.h"

VK_WORD VK_EnumerateControllerStorageEnclosures(PCDA cda, VK_WORD se_number) {
    if (cda == nullptr) {
        return kInvalidSENumber;
    }
    CDALock guard(cda);
    if (!VK_RequestStorageEnclosureInfo(cda)) {
        return kInvalidSENumber;
    }
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD se = static_cast<VK_WORD>(se_number + 1); se < kMaxStorageEnclosuresSupported; ++se) {
        if (c->se_record_list[se].flags & 0x1) {
            return se;
        }
    }
    return kInvalidSENumber;
}
