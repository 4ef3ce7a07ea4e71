/* Device descriptors, descriptor lists and controller discovery. */
#ifndef PPAVL_DISCOVERY_H
#define PPAVL_DISCOVERY_H

#include "ppavl_export.h"
#include "ppavl_types.h"

/*
 * A descriptor is one blob: a 16-bit little-endian total length (the two length bytes included)
 * followed by entries of an 8-bit property id, a 16-bit little-endian data length and the data.
 */

/* Property ids. Texts carry no terminating NUL unless noted. */
#define kDevicePropertySysPath 0x00
#define kDevicePropertyNodeName 0x01
#define kDevicePropertyProtocolType 0x02    /* VK_WORD */
#define kDevicePropertyProtocolAddress 0x03 /* 16 bytes */
#define kDevicePropertyDeviceType 0x05      /* VK_WORD */
#define kDevicePropertyDeviceNumber 0x06    /* VK_WORD, 0xFFFF for a controller */
#define kDevicePropertyDriverName 0x10      /* text with its NUL */
#define kDevicePropertyVolumeNodeName 0x20
#define kDevicePropertyUniqueVolumeID 0x21
#define kDevicePropertyVolumeKind 0x22 /* VK_WORD */
#define kDevicePropertySerialNumber 0x23
#define kDevicePropertyVendorModel 0x24
#define kDevicePropertyPCIIdentifier 0x40 /* 8 bytes */
#define kDevicePropertyPCILocation 0x41   /* VK_QWORD: domain << 24 | bus << 16 | device << 8 | function */
#define kDevicePropertySlotFormat 0x42    /* 4 characters */
#define kDevicePropertySlotNumber 0x43    /* VK_DWORD */
#define kDevicePropertyPCIClass 0x44      /* up to 6 hex digits */
#define kDevicePropertyCSMIParent 0x82    /* 16 bytes */

/* Protocol types (property 0x02). */
#define kProtocolTypeCISS 0
#define kProtocolTypeSIS 1
#define kProtocolTypePQI 2
#define kProtocolTypeCSMI 3
#define kProtocolTypeNativeSCSI 4

/* One extent (partition, or the whole volume) of a host volume. */
typedef struct _StorageExtentInformation {
    VK_BYTE partition_type;          /* 0: not filled on Linux */
    VK_BYTE partition_guid[16];      /* 0 */
    VK_BYTE partition_type_guid[16]; /* 0 */
    VK_DWORD extent_number;          /* partition number, 0 for the whole volume */
    VK_QWORD extent_offset;          /* bytes */
    VK_QWORD extent_size;            /* bytes */
    char* mount_points;              /* owned; the extent's mount points separated by "," */
    size_t mount_points_size;        /* size of that buffer */
} StorageExtentInformation, *PStorageExtentInformation;

PN_EXTERN_C_BEGIN

/* Descriptors. */
PN_API size_t PN_GetDeviceDescriptorSize(DeviceDescriptor device_descriptor);
PN_API DeviceDescriptor PN_CopyDeviceDescriptor(DeviceDescriptor device_descriptor);
PN_API void PN_DestroyDeviceDescriptor(DeviceDescriptor device_descriptor);

/* Data length of the first entry with the id; 0 when absent. */
PN_API VK_WORD PN_GetDeviceSystemPropertySize(DeviceDescriptor device_descriptor, VK_BYTE property_id);
/* 0 copied, 1 absent, 2 buffer smaller than the data; the buffer is zeroed first in every case. */
PN_API VK_BYTE PN_GetDeviceSystemProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id,
                                          void* property_buffer, VK_DWORD property_buffer_size);
/* 0 replaced, 1 absent, 2 size differs from the entry's length; a descriptor never changes size. */
PN_API VK_BYTE PN_ChangeDeviceSystemProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id,
                                             const void* property_buffer, VK_DWORD property_buffer_size);

/* Lists own their descriptors. */
PN_API DeviceDescriptorList PN_CreateControllerDescriptorList(void);
PN_API DeviceDescriptorList PN_CreateHostBusAdapterDescriptorList(void);
PN_API void PN_DestroyDeviceDescriptorList(DeviceDescriptorList list);
/* Appends a tracked descriptor; the list takes ownership in every case (a descriptor that cannot be
 * appended is released and kFalse returned). */
PN_API VK_BOOL _PN_AddDescriptorToList(DeviceDescriptorList list, DeviceDescriptor device_descriptor);

/* Iterators; PN_GetDeviceListItemAt returns the list's own descriptor. */
PN_API DeviceDescriptorListIterator PN_CreateDeviceListIterator(DeviceDescriptorList list);
PN_API void PN_DestroyDeviceListIterator(DeviceDescriptorListIterator iterator);
PN_API VK_BOOL PN_IsDeviceListIteratorEnd(DeviceDescriptorListIterator iterator);
PN_API void PN_MoveDeviceListIteratorNext(DeviceDescriptorListIterator iterator);
PN_API DeviceDescriptor PN_GetDeviceListItemAt(DeviceDescriptorListIterator iterator);

PN_EXTERN_C_END

/* Descriptor lists of a controller's drives come from its REPORT LUNS replies. */
#include "ppavl_reportluns.h"

#endif
