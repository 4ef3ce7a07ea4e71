/* CISS REPORT LOGICAL and PHYSICAL LUNS (extended forms) and the descriptor factories that address
 * the logical drives, physical devices and enclosure processors behind a controller. */
#ifndef PPAVL_REPORTLUNS_H
#define PPAVL_REPORTLUNS_H

#include "ppavl_export.h"
#include "ppavl_types.h"

/* A report is an 8-byte header whose bytes 0 to 3 hold the length of the entry list in bytes (most
 * significant first), then 24-byte entries. The list length of a returned report never exceeds the
 * bytes that follow the header in the buffer. */
#define kCISSReportHeaderSize 8
#define kCISSReportEntrySize 24

#pragma pack(push, 1)
typedef struct _REPORT_LOGICAL_LUNS_EX_ENTRY {
    VK_BYTE bDeviceAddress[8]; /* bytes 0 and 1: number, low byte first; byte 4: 1 for a remote drive */
    VK_BYTE bDeviceUniqueID[16];
} REPORT_LOGICAL_LUNS_EX_ENTRY;

typedef struct _CISS_REPORT_PHYSICAL_LUNS_ENTRY {
    VK_BYTE bDeviceAddress[8];
    VK_BYTE bSASWWID[8];
    VK_BYTE bDeviceType;
    VK_BYTE bFlags;
    VK_BYTE reserved[6];
} CISS_REPORT_PHYSICAL_LUNS_ENTRY;
#pragma pack(pop)

typedef VK_WORD* LDNumbersArray;
typedef VK_WORD* PDNumbersArray;
typedef VK_WORD* SEPNumbersArray;

PN_EXTERN_C_BEGIN

/* The report in a tracked buffer that the caller releases with VK_free, or NULL. */
PN_API VK_BYTE* CISS_Report_LogicalEx(DeviceDescriptor controller);
PN_API VK_BYTE* CISS_Report_PhysicalEx(DeviceDescriptor controller);

/* Every list is new (empty when the report cannot be read) and is destroyed with
 * PN_DestroyDeviceDescriptorList; NULL only when the list itself cannot be allocated. */
PN_API DeviceDescriptorList PN_CreateLogicalDeviceDescriptorList(DeviceDescriptor controller,
                                                                 LDNumbersArray numbers, VK_WORD count);
PN_API DeviceDescriptorList PN_CreateAllLogicalDeviceDescriptorList(DeviceDescriptor controller);
PN_API DeviceDescriptor PN_CreateSingleLogicalDeviceDescriptor(DeviceDescriptor controller, VK_WORD number);
PN_API void _PN_InitSingleLogicalDeviceDescriptor(VK_WORD number, DeviceDescriptor descriptor);
PN_API DeviceDescriptorList PN_CreateAllPhysicalDeviceDescriptorList(DeviceDescriptor controller);
PN_API DeviceDescriptorList _PN_CreatePhysicalDeviceDescriptorList(DeviceDescriptor controller,
                                                                   PDNumbersArray numbers, VK_WORD count,
                                                                   const VK_BYTE* device_types,
                                                                   VK_WORD type_count);
PN_API DeviceDescriptorList PN_CreatePhysicalDriveDescriptorList(DeviceDescriptor controller,
                                                                 PDNumbersArray numbers, VK_WORD count);
PN_API DeviceDescriptorList PN_CreateSEPDescriptorList(DeviceDescriptor controller, SEPNumbersArray numbers,
                                                       VK_WORD count);

PN_EXTERN_C_END

#endif
