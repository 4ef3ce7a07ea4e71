/* Controller identity and inventory: names, versions, serial number, slot and PCI data, sizes. */
#ifndef PTELM_PROPERTIES_H
#define PTELM_PROPERTIES_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* No RAID level. */
#define kInvalidRAID 0xFF

/* Smallest caller buffer each string getter fills (text and its NUL). */
#define kMinGetControllerProductIDBufferLength 17
#define kMinGetControllerFamilyIDBufferLength 33
#define kMinGetControllerVendorIDBufferLength 9
#define kMinGetControllerSlotNumberBufferLength 8
#define kMinGetControllerPCILocationBufferLength 17
#define kMinGetControllerAdapterTypeBufferLength 17
#define kMinGetControllerFirmwareVersionBufferLength 33
#define kMinGetControllerPendingFirmwareVersionBufferLength 33
#define kMinGetControllerFirmwareCompileTimeStampBufferLength 25
#define kMinGetControllerHardwareRevisionBufferLength 2
#define kMinGetControllerHardwareMinorRevisionBufferLength 4
#define kMinGetControllerSerialNumberBufferLength 33
#define kMinGetControllerWWNBufferLength 17
#define kMinGetControllerDriverVersionBufferLength 33

/* VK_GetControllerAdapterType. */
#define kAdapterVeskArray 0
#define kAdapterVeskHBA 1
#define kAdapterDynamicVeskArray 2
#define kAdapterArrayController 3

/* Selectors of VK_GetControllerPCIValue. */
#define kPCIVendorDeviceID 1
#define kPCISubsystemVendorDeviceID 2
#define kPCIMaxLinkRate 3
#define kPCIMaxLinkWidth 4
#define kPCIeGeneration 5
#define kPCIeWidth 6

/* Selectors of VK_GetControllerSpinupParameter. */
#define kSimultaneousSpinupCount 1
#define kDriveSpinupDelaySec 2

/* VK_GetControllerNVRAMErrors. */
#define kControllerNVRAMErrorNone 0x00
#define kControllerNVRAMErrorBoardIDNotRead 0x01
#define kControllerNVRAMErrorImageFailedButCanBeRestored 0x02
#define kControllerNVRAMErrorImageFailedButCannotBeRestored 0x03
#define kControllerNVRAMErrorUnsupported 0xFE
#define kControllerNVRAMErrorUnknown 0xFF

/* VK_GetControllerPlatformNVRAMRevision when it cannot be read. */
#define kInvalidPlatformNVRAMRevision 0xFF

PN_EXTERN_C_BEGIN

/* Text getters: each zeroes the caller's buffer and fills it, always NUL-terminated. NULL for a NULL
 * buffer; a buffer of size 0 is returned untouched; one smaller than the getter's minimum is returned
 * empty. An unreadable controller leaves the text empty. */
VK_API char* VK_GetControllerProductID(PCDA cda, char* product_id, size_t product_id_size);
VK_API char* VK_GetControllerFamilyID(PCDA cda, char* family_id, size_t family_id_size);
VK_API char* VK_GetControllerVendorID(PCDA cda, char* vendor_id, size_t vendor_id_size);
VK_API char* VK_GetControllerFirmwareVersion(PCDA cda, char* version, size_t version_size);
VK_API char* VK_GetControllerPendingFirmwareVersion(PCDA cda, char* version, size_t version_size);
VK_API char* VK_GetControllerFirmwareCompileTimeStamp(PCDA cda, char* time_stamp, size_t time_stamp_size);
VK_API char* VK_GetControllerHardwareRevision(PCDA cda, char* revision, size_t revision_size);
VK_API char* VK_GetControllerHardwareMinorRevision(PCDA cda, char* revision, size_t revision_size);
VK_API char* VK_GetControllerSerialNumber(PCDA cda, char* serial_number, size_t serial_number_size);
VK_API char* VK_GetControllerDriverVersion(PCDA cda, char* version, size_t version_size);
/* The controller's world-wide name as 16 upper-case hex digits. */
VK_API char* VK_GetControllerWWN(PCDA cda, char* wwn, size_t wwn_size);
/* Decimal slot number, "0b" for the software-RAID slot 31, or "UNKNOWN". */
VK_API char* VK_GetControllerSlotNumber(PCDA cda, char* slot, size_t slot_size);
/* "domain:bus:device.function" in decimal, or "UNKNOWN". */
VK_API char* VK_GetControllerPCILocation(PCDA cda, char* location, size_t location_size);
/* Adapter type by the product id, which the buffer receives. */
VK_API VK_WORD VK_GetControllerAdapterType(PCDA cda, char* product_id, size_t product_id_size);

/* Numbers: 0 when the controller cannot be read, unless said otherwise. */
VK_API VK_WORD VK_GetControllerMemorySizeMB(PCDA cda);
VK_API VK_WORD VK_GetControllerFlashSizeMB(PCDA cda);
VK_API VK_WORD VK_GetControllerFirmwareBuildNumber(PCDA cda);
VK_API VK_BYTE VK_GetPCIeGen(PCDA cda);
VK_API VK_BYTE VK_GetPCIeWidth(PCDA cda);
/* MB/s of the negotiated link. */
VK_API VK_DWORD VK_GetPCIeNegotiatedSpeed(PCDA cda);
VK_API VK_DWORD VK_GetControllerPCIValue(PCDA cda, VK_BYTE pci_value);
VK_API VK_DWORD VK_GetControllerSpinupParameter(PCDA cda, VK_BYTE parameter_type);
VK_API VK_UINT32 VK_GetControllerFirmwareComparisonStamp(PCDA cda);
VK_API VK_UINT32 VK_GetControllerPendingFirmwareComparisonStamp(PCDA cda);
VK_API VK_UINT64 VK_GetControllerRawWWN(PCDA cda);
/* kControllerNVRAMError...; kControllerNVRAMErrorUnknown when the controller cannot be read. */
VK_API VK_BYTE VK_GetControllerNVRAMErrors(PCDA cda);
/* kInvalidPlatformNVRAMRevision when it cannot be read. */
VK_API VK_BYTE VK_GetControllerPlatformNVRAMRevision(PCDA cda);
/* ROM, self-test and lockup bits. */
VK_API VK_WORD _VK_GetControllerAdditionalError(PCDA cda);
/* 0 unless a lockup was recorded. */
VK_API VK_DWORD _VK_GetControllerLastLockupCode(PCDA cda);

/* The controller's device descriptor: one property, or the whole descriptor for id 0xFF. */
VK_API VK_WORD VK_GetControllerSystemPropertySize(PCDA cda, VK_BYTE property_id);
/* 0 copied; otherwise the descriptor's result code (2: buffer too small). */
VK_API VK_BYTE VK_GetControllerSystemProperty(PCDA cda, VK_BYTE property_id, void* property_buffer,
                                              VK_DWORD property_buffer_size);

PN_EXTERN_C_END

#endif
