// SAS expanders: non-disk devices numbered like the drives. Their identity is the drives' own getters'.
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_records.h"

VK_WORD VK_EnumerateControllerExpanders(PCDA cda, VK_WORD expander_number) {
    return telmar::NextNonDiskDevice(cda, expander_number, kPhysicalDeviceTypeExpander);
}

char* VK_GetExpanderWWID(PCDA cda, VK_WORD expander_number, void* wwid_buffer, size_t buffer_size,
                         VK_BOOL convert_to_string) {
    return VK_GetPhysicalDriveWWID(cda, expander_number, wwid_buffer, buffer_size, convert_to_string);
}

char* VK_GetExpanderLocation(PCDA cda, VK_WORD expander_number, VK_BYTE type, char* location_buffer,
                             size_t buffer_size) {
    return VK_GetPhysicalDriveLocation(cda, expander_number, type, location_buffer, buffer_size);
}

char* VK_GetExpanderModel(PCDA cda, VK_WORD expander_number, char* model_buffer, size_t buffer_size) {
    return VK_GetPhysicalDriveModel(cda, expander_number, model_buffer, buffer_size);
}

char* VK_GetExpanderFirmwareVersion(PCDA cda, VK_WORD expander_number, char* firmware_version_buffer,
                                    size_t buffer_size) {
    return VK_GetPhysicalDriveFirmwareVersion(cda, expander_number, firmware_version_buffer, buffer_size);
}
