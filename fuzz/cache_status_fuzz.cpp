// SENSE CACHE CONFIGURATION STATUS (0xC1 LUN 0) through the controller status word, the backup power
// status and the green backup record; IDENTIFY fixed, once plain and once with every condition of a
// dirty software-RAID cache.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_status.h"
#include "telm_private.h"
#include "telm_status_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView cache(data, size);
    for (int dirty = 0; dirty < 2; ++dirty) {
        IDENTIFY_CONTROLLER id = {};
        if (dirty) {
            id.pbFeaturesSupported[3] = 0x06;
            id.wExtendedLogicalUnitCount = 1;
        }
        const pavlin::ByteView identify(&id, sizeof(id));
        const VK_DWORD word = telmar::DecodeControllerStatus(identify, cache);
        const VK_BYTE status = CONTROLLER_STATUS(word);
        FUZZ_CHECK(status == kControllerStatusOK || status == kControllerStatusCacheProblem ||
                   status == kControllerStatusIncompatibleCacheModule);
        FUZZ_CHECK(CACHE_STATUS(word) >= kControllerCacheStatusOK &&
                   CACHE_STATUS(word) <= kControllerCacheStatusPermanentlyDisabled);
        FUZZ_CHECK(CONTROLLER_CONFIG_STATUS(word) == 0);
        // The disable code is kept only for a disabled cache.
        if (CACHE_STATUS(word) < kControllerCacheStatusTemporarilyDisabled) {
            FUZZ_CHECK(CONTROLLER_CACHE_STATE(word) == 0);
        }
        FUZZ_CHECK(telmar::HealthFromStatusWord(word) <= kControllerHealthCritical);
    }
    FUZZ_CHECK(telmar::DecodeBackupPowerSourceStatus(cache) <= kControllerBackupPowerSourcePresentAndCharged);
    GREEN_BACKUP_INFO green = {};
    telmar::DecodeGreenBackupInfo(cache, &green);
    return 0;
}
