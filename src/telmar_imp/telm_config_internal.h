// Internals the configuration-editing files share: workers behind the public functions that other
// editing files call under the data area's lock.
#pragma once

#include "ptelm_configuration.h"
#include "telm_private.h"

// ---- Editable configuration and population ----

PN_EXTERN_C_BEGIN

// The staged configuration of a data area, or NULL. The caller holds the lock.
PEDITABLE_CONFIGURATION _VK_GetEditableConfiguration(PCDA cda);

// Fills `editable_configuration` from the live configuration, re-reading the controller first. False
// when an array record could not be allocated: the record then holds no array or logical-drive
// record, and its checksum is not computed.
VK_BOOL _VK_PopulateEditableConfiguration(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// Population after the re-read: drives, `array_count` arrays with their logical drives, settings,
// encryption, boot volumes and the checksum, from what the data area holds or loads. The record
// must be zeroed and hold no records yet; on failure it is left holding none.
VK_BOOL _VK_PopulateEditableConfigurationFromModel(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                                  VK_WORD array_count);
void _VK_PopulateEncryptionSettings(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// The checksum of a populated record and its array and logical-drive records.
VK_DWORD _VK_GetEditableConfigurationChecksum(const EDITABLE_CONFIGURATION* editable_configuration);

// Population of one array (slot `array_number`, already allocated and zeroed) from the live array
// of that number, and of one live logical drive of it.
void _VK_PopulateEditableArray(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                               PEDITABLE_ARRAY editable_array);
void _VK_PopulateEditableLogicalDrive(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration,
                                      PEDITABLE_ARRAY editable_array, VK_WORD ld_number);
// Step 4 of population: the configuration facts of every configurable drive.
void _VK_PopulateEditablePhysicalDrives(PCDA cda, PEDITABLE_CONFIGURATION editable_configuration);
// Copies a drive's configuration facts field by field, so that padding stays as it was.
void _VK_CopyPhysicalDriveConfigInformation(PhysicalDriveConfigInformation* destination,
                                            const PhysicalDriveConfigInformation* source);

PN_EXTERN_C_END

// ---- RAID geometry and rules ----

// ---- Editable arrays and drive list ----

PN_EXTERN_C_BEGIN

// The staged array in slot `array_number`, or NULL without a configuration, for a number of 64 or
// more, or for an empty slot. The caller holds the lock.
PEDITABLE_ARRAY _VK_GetEditableArray(PCDA cda, VK_WORD array_number);
size_t _VK_EditableArrayDataDriveAt(PCDA cda, VK_WORD array_number, VK_WORD pd_number);
size_t _VK_InDeviceList(const VK_WORD* dev_list, VK_WORD dev_number, size_t dev_list_size);
VK_QWORD _VK_GetEditableArrayQueuedTransformations(PCDA cda, VK_WORD editable_array_number);
// The controller's drive limit, capped at the 384 drives the tables hold; 0 when identify fails.
VK_WORD _VK_GetEditablePhysicalDriveLimit(PCDA cda);
// SED types: 1 non-SED, 2 OPAL, 4 Enterprise; sets of drives OR them.
VK_BYTE _VK_GetPhysicalDriveArraySEDType(VK_UINT64 pd_encryption_info);
VK_BYTE _VK_GetArrayCommonSEDType(PCDA cda, VK_WORD array_number);

PN_EXTERN_C_END

// ---- Editable logical drives ----

PN_EXTERN_C_BEGIN

// The staged logical drive in slot `ld_number`, or NULL (no configuration, 64 or more, empty slot).
PEDITABLE_LOGICAL_DRIVE _VK_GetEditableLogicalDrive(PCDA cda, VK_WORD ld_number);
// Index of the drive in the staged array's `logical_drives` or the live array's `ld_index_array`,
// (size_t)-1 when absent.
size_t _VK_EditableArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
size_t _VK_ArrayLogicalDriveAt(PCDA cda, VK_WORD array_number, VK_WORD ld_number);
VK_WORD _VK_EnumerateEditableArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                        VK_BOOL ascending);
VK_WORD _VK_EnumerateArrayLogicalDrivesByOffset(PCDA cda, VK_WORD array_number, VK_WORD ld_number,
                                                VK_BOOL ascending);

PN_EXTERN_C_END

// ---- Editable controller settings ----

// ---- Direct controller operations ----

// ---- Encryption credentials and requests ----
