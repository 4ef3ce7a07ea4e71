/* Controller data area: initialisation, re-initialisation, teardown and the cached controller buffers. */
#ifndef PTELM_CDA_H
#define PTELM_CDA_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* Result bits of VK_InitializeCDA, VK_ReInitializeCDA and VK_ReenumerateCDA. Success is exactly
 * kInitializeSucceeded; a failure is kInitializeFailed with its reason, except the argument and lock
 * failures, which come alone. */
#define kInitializeSucceeded 0x01
#define kInitializeFailed 0x02
#define kInitializeFailedInvalidArgument 0x04
#define kInitializeFailedCommunicationError 0x10
#define kInitializeFailedControllerNotSupported 0x20
#define kInitializeFailedFailedToInitializeLocks 0x40

PN_EXTERN_C_BEGIN

VK_API size_t VK_GetCDASize(void);
/* `controller_handle` is the controller's DeviceDescriptor; the data area keeps its own copy. */
VK_API VK_WORD VK_InitializeCDA(PCDA cda, void* controller_handle);
/* Drops everything cached and identifies the controller again. */
VK_API VK_WORD VK_ReInitializeCDA(PCDA cda);
/* Re-initialises, then reloads every buffer and record; 1 after the full reload. */
VK_API VK_WORD VK_ReenumerateCDA(PCDA cda);
/* Teardown: frees what the data area holds (not the data area itself) and deletes its locks; 1. */
VK_API VK_WORD VK_UnInitializeCDA(PCDA cda);
/* Discards the staged configuration, if any. */
VK_API void VK_DestroyEditableConfiguration(PCDA cda);

/* Cached controller-level buffers: each returns whether its copy is valid after the call. */
VK_API VK_BOOL VK_RequestIdentifyControllerBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSenseControllerParametersBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSenseCacheConfigStatusBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSenseSubsystemParametersBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSenseMNPStatusBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSenseExpansionAbilityBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestSurfaceStatusBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestGetPowerModeBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestGetDefaultPowerModeBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestLUCacheRAMInfoBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestManufacturingData(PCDA cda);
VK_API VK_BOOL VK_RequestOnlineFirmwareActivationStatus(PCDA cda);
VK_API VK_BOOL VK_RequestOOBMessageInterfaceBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestConnectorActiveDiscoveryConfigurationBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestConnectorPendingDiscoveryConfigurationBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestConnectorDefaultDiscoveryConfigurationBuffer(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionPasswordRecoveryQuestion(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionBootPasswordStatus(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionKeyManagerStatus(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionIKekStatus(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionRoleAttributes(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionServerName(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionKekCacheAttributes(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionBootStatus(PCDA cda);
VK_API VK_BOOL VK_RequestEncryptionFeatures(PCDA cda);
VK_API VK_BOOL VK_RequestManagedSEDStatus(PCDA cda);
VK_API VK_BOOL VK_RequestManagedSEDMasterKeyIdentifier(PCDA cda);
VK_API VK_BOOL VK_RequestRemoteVolumeRecords(PCDA cda);
VK_API VK_BOOL VK_RequestEraseStatusBuffer(PCDA cda);

/* Per-device records, cached with a validity bit per record: each returns whether the record's copy
 * is valid after the call. A number out of range (physical device 384 or more, logical drive 64 or
 * more) is logged and answered FALSE without taking the lock. */
VK_API VK_BOOL VK_RequestIdentifyPhysicalDriveBuffer(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_RequestSenseConfigurationBuffer(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_RequestSenseOriginalConfigurationBuffer(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_RequestIdentifyLogicalDriveBuffer(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_RequestSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_RequestLUCacheStatisticsBuffer(PCDA cda, VK_WORD ld_number);
/* The LU cache configuration of the drive's pair; one read marks both drives of the pair. */
VK_API VK_BOOL VK_RequestLUCacheSenseBuffer(PCDA cda, VK_WORD ld_number);
/* Every enclosure box, up to the controller's enclosure count. */
VK_API VK_BOOL VK_RequestStorageEnclosureInfo(PCDA cda);
/* Builds, once per data area, the arrays, the logical-drive roles and accelerators and the usage of
 * every physical device; TRUE once built. */
VK_API VK_BOOL VK_RequestArrayConfigurationInformation(PCDA cda);

/* Shared workers of the encryption (BMIC 0x1E) and managed-SED (BMIC 0xE8) loaders: `detail` is the
 * function number, `cda_flag` the validity bit of `buffer`. */
VK_API VK_BOOL VK_RequestEncryptionBuffer(PCDA cda, VK_DWORD detail, void* buffer, VK_DWORD buf_size,
                                          VK_DWORD cda_flag);
VK_API VK_BOOL VK_RequestManagedSEDBuffer(PCDA cda, VK_DWORD detail, void* buffer, VK_DWORD buf_size,
                                          VK_DWORD cda_flag);

/* Managed-SED adapter password status (BMIC 0xE8 function 1) into the caller's buffer. */
VK_API VK_BOOL VK_RequestManagedSEDAdapterPasswordStatus(PCDA cda, void* buffer, VK_DWORD buf_size);

/* Host descriptors of the logical drives and physical devices, fetched once per data area into their
 * records; each returns whether the fetch has been done (also when no descriptor could be kept). */
VK_API VK_BOOL VK_RequestLogicalDriveDescriptors(PCDA cda);
VK_API VK_BOOL VK_RequestPhysicalDriveDescriptors(PCDA cda);

/* The host's block volumes on this controller; the caller destroys the list. */
VK_API DeviceDescriptorList VK_RequestStorageVolumeDescriptorList(PCDA cda);
/* A copy of the volume of the list that holds the logical drive (the caller frees it), or NULL. */
VK_API DeviceDescriptor VK_RequestStorageVolumeDescriptorForLogicalDrive(PCDA cda, DeviceDescriptorList sv_descriptor_list,
                                                                         VK_WORD ld_number);
/* Up to 4 copies of the volumes of the list that belong to the physical drive, in an array the
 * caller frees with each copy; their number goes to storage_vol_count. NULL when none matches. */
VK_API DeviceDescriptor* VK_RequestStorageVolumeDescriptorForPhysicalDrive(PCDA cda,
                                                                           DeviceDescriptorList sv_descriptor_list,
                                                                           VK_WORD pd_number,
                                                                           VK_WORD* storage_vol_count);
/* Whether the volume's unique identifier, as text for a buffer of unique_vol_id_buffer_size bytes,
 * equals unique_vol_id; the multi-LUN form asks it of every LUN's wwid_str. The caller holds the
 * data area's lock. */
struct _PHYSICAL_DRIVE_LUN_INFO_LIST;
VK_API VK_BOOL __VK_CheckStorageVolumeUniqueIdMatch(PCDA cda, DeviceDescriptor storage_vol_descriptor,
                                                    const char* unique_vol_id,
                                                    const VK_WORD unique_vol_id_buffer_size);
VK_API VK_BOOL __VK_CheckStorageVolumeMultiLUNUniqueIdMatch(PCDA cda, DeviceDescriptor storage_vol_descriptor,
                                                            struct _PHYSICAL_DRIVE_LUN_INFO_LIST* p_lun_info_list,
                                                            const VK_WORD unique_vol_id_buffer_size);

PN_EXTERN_C_END

#endif
