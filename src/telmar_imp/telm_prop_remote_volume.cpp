// Remote volumes: logical volumes the controller lists without owning them.
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_drive_decode.h"
#include "telm_private.h"

namespace {
constexpr size_t kIdentifierTextLimit = 32;
} // namespace

VK_WORD VK_GetControllerRemoteVolumeCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    return VK_RequestRemoteVolumeRecords(cda) ? _VK_CDA(cda)->remote_volume_count : VK_WORD{0};
}

char* VK_GetRemoteVolumeUniqueID(PCDA cda, VK_WORD volume_number, char* volume_id_buffer,
                                 size_t buffer_size) {
    if (volume_id_buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'volume_id_buffer != NULL' failed: NULL buffer\n", __func__,
                    __LINE__);
    } else if (buffer_size <= kIdentifierTextLimit) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer_size > 32' failed: Buffer too small (%zu)\n", __func__,
                    __LINE__, buffer_size);
    }
    if (volume_id_buffer == nullptr || buffer_size == 0) {
        return volume_id_buffer;
    }
    std::memset(volume_id_buffer, 0, buffer_size);
    if (cda == nullptr) {
        return volume_id_buffer;
    }
    CDALock guard(cda);
    const _CDA* c = _VK_CDA(cda);
    if (VK_RequestRemoteVolumeRecords(cda) && volume_number < c->remote_volume_count &&
        volume_number < kMaxRemoteVolumesSupported && buffer_size > kIdentifierTextLimit) {
        const RemoteVolumeRecord& volume = c->remote_volume_record_list[volume_number];
        VK_ConvertBufferToHexStringSafe(volume_id_buffer, buffer_size, volume.device_unique_id,
                                        sizeof(volume.device_unique_id));
    }
    return volume_id_buffer;
}

VK_BOOL __VK_CheckBootRemoteVolume(PCDA cda, VK_WORD volume_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return volume_number < VK_GetControllerRemoteVolumeCount(cda) &&
                   volume_number < kMaxRemoteVolumesSupported &&
                   _VK_CDA(cda)->remote_volume_record_list[volume_number].device_unique_id[0] != 0
               ? kTrue
               : kFalse;
}
