// The controller data area's lifecycle: initialisation, identification, re-initialisation,
// re-enumeration and teardown.
#include <cstring>
#include <span>
#include <utility>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ppavl_synchronization.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_cda_internal.h"

namespace {

constexpr VK_DWORD kMinimumIdentifyFixedLength = 276;

// Frees a tracked allocation that a record holds and leaves the record without it.
template <typename T> void FreeHeld(T*& held) {
    pavlin::TrackedPtr<T> owner(std::exchange(held, nullptr));
}

VK_BYTE ChooseVersionByStructureLength(VK_DWORD fixed_length, VK_DWORD parameters_total_length) {
    if (fixed_length >= 317) {
        return parameters_total_length >= 207 ? 5 : 4;
    }
    if (fixed_length >= 293) {
        return 4;
    }
    if (fixed_length == 292) {
        return 3;
    }
    if (fixed_length >= 290) {
        return 2;
    }
    return 1;
}

} // namespace

size_t VK_GetCDASize(void) {
    return sizeof(_CDA);
}

VK_BYTE _VK_ChooseFirmwareFeatureVersion(const IDENTIFY_CONTROLLER* identify,
                                         VK_DWORD parameters_total_length, VK_BOOL feature_pages) {
    if (identify == nullptr) {
        return 1;
    }
    const VK_WORD vendor = identify->wPCIVendorID;
    const VK_WORD device = identify->wPCIDeviceID;
    if (vendor == kFirmwareFeaturePCIVendorID1 && device == kFirmwareFeaturePCIDeviceID1) {
        return 4;
    }
    if (vendor == kFirmwareFeaturePCIVendorID2) {
        if (device == kFirmwareFeaturePCIDeviceID3) {
            return 5;
        }
        if (device == kFirmwareFeaturePCIDeviceID1) {
            return 6;
        }
        if (device == kFirmwareFeaturePCIDeviceID2) {
            return 7;
        }
    }
    if (feature_pages) {
        return 8;
    }
    return ChooseVersionByStructureLength(identify->dwFixedStructureLength, parameters_total_length);
}
VK_WORD VK_InitializeCDA(PCDA cda, void* controller_handle) {
    if (cda == nullptr || controller_handle == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    DeviceDescriptor copy = PN_CopyDeviceDescriptor(controller_handle);
    if (copy == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    _CDA* c = _VK_CDA(cda);
    telmar::ZeroDataArea(c, sizeof(*c));
    c->Signature = kCDASignature;
    c->controller_handle = copy;
    if (!_PN_MutexCreate(&c->lock) || !_PN_MutexCreate(&c->event_lock)) {
        _PN_MutexDelete(c->lock);
        c->lock = nullptr;
        return kInitializeFailedFailedToInitializeLocks;
    }
    return __VK_InitializeCDA(cda);
}

VK_WORD __VK_InitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        PN_DebugLog(
            1, 0, "%s:%d: Assertion 'VK_RequestIdentifyControllerBuffer(cda)' failed: Controller ID Failed\n",
            __func__, __LINE__);
        if (!VK_RequestIdentifyControllerBuffer(cda)) {
            return kInitializeFailed | kInitializeFailedCommunicationError;
        }
    }
    if (c->identify_controller_buffer.dwFixedStructureLength < kMinimumIdentifyFixedLength ||
        !VK_RequestSenseControllerParametersBuffer(cda)) {
        PN_DebugLog(1, 0, "%s:%d: Device not a supported controller\n", __FILE__, __LINE__);
        return kInitializeFailed | kInitializeFailedControllerNotSupported;
    }
    c->controller_firmware_feature_version = _VK_ChooseFirmwareFeatureVersion(
        &c->identify_controller_buffer, c->sense_controller_parameters_buffer.dwTotalStructureLength,
        VK_ControllerFeaturePagesSupported(cda));
    // The cache status is wanted early but a controller without it still works.
    VK_RequestSenseCacheConfigStatusBuffer(cda);
    return kInitializeSucceeded;
}

void __VK_ClearPhysicalDeviceHandles(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    _CDA* c = _VK_CDA(cda);
    for (PhysicalDriveRecord& record : std::span(c->pd_record_list).first(c->pd_records_in_use)) {
        FreeHeld(record.physical_drive_handle);
    }
}

void __VK_ClearPhysicalDriveRecords(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    __VK_ClearPhysicalDeviceHandles(cda);
    _CDA* c = _VK_CDA(cda);
    for (PhysicalDriveRecord& record : std::span(c->pd_record_list).first(c->pd_records_in_use)) {
        FreeHeld(record.additional_lun_info);
        std::memset(&record, 0, sizeof(record));
    }
    c->pd_records_in_use = 0;
}

void __VK_ClearLogicalDriveHandles(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    _CDA* c = _VK_CDA(cda);
    for (LogicalDriveRecord& record : std::span(c->ld_record_list).first(c->ld_records_in_use)) {
        FreeHeld(record.logical_drive_handle);
    }
}

void __VK_ClearLogicalDriveRecords(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    __VK_ClearLogicalDriveHandles(cda);
    _CDA* c = _VK_CDA(cda);
    std::memset(c->ld_record_list, 0, c->ld_records_in_use * sizeof(LogicalDriveRecord));
    c->ld_records_in_use = 0;
}

VK_WORD __VK_UnInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    __VK_ClearPhysicalDriveRecords(cda);
    __VK_ClearLogicalDriveRecords(cda);
    std::memset(c->array_record_list, 0, c->array_records_in_use * sizeof(ArrayRecord));
    c->array_records_in_use = 0;
    std::memset(c->se_record_list, 0, c->se_records_in_use * sizeof(StorageEnclosureRecord));
    c->se_records_in_use = 0;
    // The cached bytes stay; their cleared bits make them stale.
    std::memset(c->flags, 0, sizeof(c->flags));
    return 1;
}

VK_WORD VK_ReInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    __VK_UnInitializeCDA(cda);
    return __VK_InitializeCDA(cda);
}

VK_WORD VK_ReenumerateCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    __VK_UnInitializeCDA(cda);
    const VK_WORD result = __VK_InitializeCDA(cda);
    if (result != kInitializeSucceeded) {
        return result;
    }
    // Each load stands alone: what a controller cannot answer stays unloaded.
    VK_RequestIdentifyControllerBuffer(cda);
    VK_RequestArrayConfigurationInformation(cda);
    VK_RequestFeaturePages(cda);
    VK_RequestSenseControllerParametersBuffer(cda);
    VK_RequestSenseCacheConfigStatusBuffer(cda);
    VK_RequestLUCacheRAMInfoBuffer(cda);
    VK_RequestSenseSubsystemParametersBuffer(cda);
    VK_RequestGetPowerModeBuffer(cda);
    VK_RequestGetDefaultPowerModeBuffer(cda);
    VK_RequestSurfaceStatusBuffer(cda);
    VK_RequestEraseStatusBuffer(cda);
    VK_RequestSenseMNPStatusBuffer(cda);
    VK_RequestSenseExpansionAbilityBuffer(cda);
    VK_RequestManufacturingData(cda);
    VK_RequestRemoteVolumeRecords(cda);
    VK_RequestOnlineFirmwareActivationStatus(cda);
    VK_RequestEncryptionPasswordRecoveryQuestion(cda);
    VK_RequestEncryptionServerName(cda);
    VK_RequestEncryptionBootPasswordStatus(cda);
    VK_RequestEncryptionKeyManagerStatus(cda);
    VK_RequestEncryptionRoleAttributes(cda);
    VK_RequestEncryptionKekCacheAttributes(cda);
    VK_RequestEncryptionBootStatus(cda);
    VK_RequestEncryptionIKekStatus(cda);
    VK_RequestEncryptionFeatures(cda);
    VK_RequestManagedSEDStatus(cda);
    VK_RequestManagedSEDMasterKeyIdentifier(cda);
    VK_RequestStorageEnclosureInfo(cda);
    for (VK_WORD pd = VK_EnumerateControllerAllPhysicalDevices(cda, kInvalidDeviceNumber); pd != kInvalidDeviceNumber;
         pd = VK_EnumerateControllerAllPhysicalDevices(cda, pd)) {
        VK_RequestIdentifyPhysicalDriveBuffer(cda, pd);
    }
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        VK_RequestIdentifyLogicalDriveBuffer(cda, ld);
        VK_RequestSenseConfigurationBuffer(cda, ld);
        VK_RequestSenseLogicalDriveStatusBuffer(cda, ld);
        VK_RequestSenseOriginalConfigurationBuffer(cda, ld);
        VK_RequestLUCacheStatisticsBuffer(cda, ld);
        VK_RequestLUCacheSenseBuffer(cda, ld);
    }
    VK_RequestPhysicalDriveDescriptors(cda);
    VK_RequestLogicalDriveDescriptors(cda);
    return 1;
}

VK_WORD VK_UnInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return 1;
    }
    _CDA* c = _VK_CDA(cda);
    __VK_UnInitializeCDA(cda);
    if (c->editable_configuration != nullptr) {
        VK_DestroyEditableConfiguration(cda);
    }
    FreeHeld(c->controller_handle);
    _PN_MutexDelete(c->event_lock);
    c->event_lock = nullptr;
    _PN_MutexDelete(c->lock);
    c->lock = nullptr;
    return 1;
}

void _VK_DestroyEditableConfiguration(PEDITABLE_CONFIGURATION editable_configuration) {
    if (editable_configuration == nullptr) {
        return;
    }
    for (PEDITABLE_LOGICAL_DRIVE& drive : editable_configuration->editable_ld_list) {
        FreeHeld(drive);
    }
    for (PEDITABLE_ARRAY& array : editable_configuration->editable_array_list) {
        FreeHeld(array);
    }
    // Staged passwords, keys, the recovery answer and the login must not outlive the configuration
    // in freed memory; the block is wiped whole, so no credential member can be missed.
    explicit_bzero(editable_configuration, sizeof(*editable_configuration));
    FreeHeld(editable_configuration);
}

void VK_DestroyEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (c->editable_configuration != nullptr) {
        _VK_DestroyEditableConfiguration(c->editable_configuration);
        c->editable_configuration = nullptr;
    }
}

VK_BOOL _VK_InvalidatePDRecordIDPDBuffer(PCDA cda, VK_WORD pd_number) {
    if (pd_number >= kMaxPhysicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: Error: PD number out of range\n", __FILE__, __LINE__);
        return kFalse;
    }
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    // A record never written holds no valid bit to drop.
    if (pd_number < c->pd_records_in_use) {
        c->pd_record_list[pd_number].flags &= static_cast<VK_WORD>(~kPDRecordIdentifyValid);
    }
    return kTrue;
}
