// Physical drives in the staged configuration: the per-drive configuration facts that population
// copies, the staged drive list and its usage, and the self-encrypting-drive types of drives and
// live arrays.
#include <algorithm>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_BYTE kSEDTypeNone = 1;
constexpr VK_BYTE kSEDTypeOPAL = 2;
constexpr VK_BYTE kSEDTypeEnterprise = 4;

} // namespace

void _VK_CopyPhysicalDriveConfigInformation(PhysicalDriveConfigInformation* destination,
                                            const PhysicalDriveConfigInformation* source) {
    destination->config_usage_info = source->config_usage_info;
    destination->physical_block_size_bytes = source->physical_block_size_bytes;
    destination->logical_block_size_bytes = source->logical_block_size_bytes;
    destination->total_size_blocks = source->total_size_blocks;
    destination->usable_size_blocks = source->usable_size_blocks;
}

VK_WORD _VK_GetEditablePhysicalDriveLimit(PCDA cda) {
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    // The controller may count more devices than the staged list and the drive maps hold.
    return std::min<VK_WORD>(_VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                             kMaxPhysicalDrivesSupported);
}

void _VK_PopulateEditablePhysicalDrives(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration) {
    _CDA* c = _VK_CDA(cda);
    for (VK_WORD pd = VK_EnumerateControllerPhysicalDrives(cda, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) {
        if (pd >= kMaxPhysicalDrivesSupported) {
            break;
        }
        const VK_DWORD basic = VK_GetPhysicalDriveBasicInfo(cda, pd);
        if (!(basic & (kPhysicalDriveTypeSSD | kPhysicalDriveTypeHDD)) ||
            (VK_GetPhysicalDriveStatusInfo(cda, pd) & kPhysicalDriveStatusExcludeFromConfigurationBit)) {
            continue;
        }
        _VK_CopyPhysicalDriveConfigInformation(&editable_configuration->editable_pd_list[pd],
                                               &c->pd_record_list[pd].pd_config_information);
    }
}

VK_BYTE VK_GetEditablePhysicalDriveUsageInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr || pd_number >= _VK_GetEditablePhysicalDriveLimit(cda)) {
        return 0;
    }
    return config->editable_pd_list[pd_number].config_usage_info;
}

VK_WORD VK_EnumerateEditablePhysicalDrives(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    if (config == nullptr) {
        return kInvalidPDNumber;
    }
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    for (size_t p = static_cast<VK_WORD>(pd_number + 1); p < limit; ++p) {
        if (config->editable_pd_list[p].usable_size_blocks != 0) {
            return static_cast<VK_WORD>(p);
        }
    }
    return kInvalidPDNumber;
}

VK_BYTE _VK_GetPhysicalDriveArraySEDType(VK_UINT64 pd_encryption_info) {
    if (!(pd_encryption_info & kPhysicalDriveEncryptionSEDDrive) ||
        (pd_encryption_info & kPhysicalDriveEncryptionSEDIsIncompatibleSED)) {
        return kSEDTypeNone;
    }
    if (pd_encryption_info & kPhysicalDriveEncryptionSEDIsEnterpriseSED) {
        return kSEDTypeEnterprise;
    }
    if (pd_encryption_info & kPhysicalDriveEncryptionSEDIsOPALSED) {
        return kSEDTypeOPAL;
    }
    return kSEDTypeNone;
}

VK_BYTE _VK_GetArrayCommonSEDType(PCDA cda, VK_WORD array_number) {
    VK_BYTE type = 0;
    for (VK_WORD pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = VK_EnumerateArrayPhysicalDrives(cda, array_number, pd)) {
        type |= _VK_GetPhysicalDriveArraySEDType(VK_GetPhysicalDriveEncryptionInfo(cda, pd));
    }
    return type;
}
