// Storage enclosure processors: non-disk devices numbered like the drives. Their identity is the drives' own
// getters'.
#include "ppavl_debug.h"
#include "ppavl_reportluns.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_passthrough.h"
#include "telm_private.h"
#include "telm_records.h"

VK_WORD VK_EnumerateControllerSEPs(PCDA cda, VK_WORD sep_number) {
    return telmar::NextNonDiskDevice(cda, sep_number, kPhysicalDeviceTypeSEP);
}

char* VK_GetSEPWWID(PCDA cda, VK_WORD sep_number, void* wwid_buffer, size_t buffer_size,
                    VK_BOOL convert_to_string) {
    return VK_GetPhysicalDriveWWID(cda, sep_number, wwid_buffer, buffer_size, convert_to_string);
}

char* VK_GetSEPLocation(PCDA cda, VK_WORD sep_number, VK_BYTE type, char* location_buffer,
                        size_t buffer_size) {
    return VK_GetPhysicalDriveLocation(cda, sep_number, type, location_buffer, buffer_size);
}

char* VK_GetSEPModel(PCDA cda, VK_WORD sep_number, char* model_buffer, size_t buffer_size) {
    return VK_GetPhysicalDriveModel(cda, sep_number, model_buffer, buffer_size);
}

char* VK_GetSEPFirmwareVersion(PCDA cda, VK_WORD sep_number, char* firmware_version_buffer,
                               size_t buffer_size) {
    return VK_GetPhysicalDriveFirmwareVersion(cda, sep_number, firmware_version_buffer, buffer_size);
}

void* _VK_GetSEPDescriptor(PCDA cda, VK_WORD sep_number) {
    if (cda == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    DeviceDescriptor answer = _VK_GetRecordDeviceDescriptor(cda, sep_number, PN_CreateSEPDescriptorList);
    if (answer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sep_descriptor != NULL' failed: Unable to get descriptor for sep number: %d\n",
                    __func__, __LINE__, static_cast<int>(sep_number));
    }
    return answer;
}
