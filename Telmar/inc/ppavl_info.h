/* Host block volumes: the volumes of a controller as host-volume descriptors, their size and
 * geometry, and the mounted extents (partitions) of a volume. */
#ifndef PPAVL_INFO_H
#define PPAVL_INFO_H

#include "ppavl_discovery.h"
#include "ppavl_export.h"
#include "ppavl_types.h"

/* Volume kind (property 0x22): how the volume's identity was obtained. */
#define kStorageVolumeKindATA 1
#define kStorageVolumeKindOtherController 2
#define kStorageVolumeKindSCSI 3
#define kStorageVolumeKindController 4
#define kStorageVolumeKindUnknown 6

/* Bits of wVolumeInformationFlags: which values were found. */
#define kStorageVolumeUsableSizeValid 0x01
#define kStorageVolumeLogicalBlockSizeValid 0x02
#define kStorageVolumePhysicalBlockSizeValid 0x04
#define kStorageVolumeCylindersValid 0x08
#define kStorageVolumeHeadsValid 0x10
#define kStorageVolumeSectorsValid 0x20

typedef struct _StorageVolumeInformation {
    VK_WORD wVolumeInformationFlags;
    VK_QWORD qwUsableSizeInBytes; /* the sysfs size in 512-byte sectors x 512 */
    VK_QWORD qwLogicalBlockSize;
    VK_QWORD qwPhysicalBlockSize;
    VK_QWORD qwNumCylinders; /* legacy geometry */
    VK_QWORD qwNumHeads;
    VK_QWORD qwNumSectors; /* per track */
    VK_BYTE bSCSIBus;      /* not filled on Linux */
    VK_BYTE bSCSITarget;
    VK_BYTE bSCSILUN;
} StorageVolumeInformation, *PStorageVolumeInformation;

PN_EXTERN_C_BEGIN

/* A new list of the host volumes below the controller; NULL when the list cannot be allocated. */
PN_API DeviceDescriptorList
PN_CreateStorageVolumeDeviceDescriptorList(DeviceDescriptor controller_descriptor);

/* Always true; the flags tell what was found. */
PN_API VK_BOOL PN_GetStorageVolumeInformation(DeviceDescriptor volume_descriptor,
                                              PStorageVolumeInformation volume_information);

/* The number of mounted extents of the volume. When there is at least one, a NULL-terminated array
 * of caller-owned records is stored through extent_array (NULL is stored otherwise); release it with
 * PN_DestroyStorageExtentArray. */
PN_API int PN_CreateStorageExtentArray(DeviceDescriptor volume_descriptor,
                                       PStorageExtentInformation** extent_array);
/* Releases every record with its mount-point text, then the array; the pointer is left NULL. */
PN_API void PN_DestroyStorageExtentArray(PStorageExtentInformation** extent_array);

PN_EXTERN_C_END

#endif
