// The kernel's block-device requests and records that the volume walk sends; each must match the
// kernel's own.
#ifndef PAVL_BLOCKDEV_H
#define PAVL_BLOCKDEV_H

#include "pavl_info.h"

#include <cstddef>

#include <linux/fs.h>
#include <linux/hdreg.h>

// Kernel block requests; their records must match the kernel's.
inline constexpr unsigned long kHDIOGetIdentityRequest = 0x30DUL;
inline constexpr unsigned long kHDIOGetGeometryRequest = 0x301UL;
inline constexpr unsigned long kBlockGetLogicalBlockSizeRequest = 0x1268UL;
inline constexpr unsigned long kBlockGetPhysicalBlockSizeRequest = 0x127BUL;
static_assert(kHDIOGetIdentityRequest == HDIO_GET_IDENTITY);
static_assert(kHDIOGetGeometryRequest == HDIO_GETGEO);
static_assert(kBlockGetLogicalBlockSizeRequest == BLKSSZGET);
static_assert(kBlockGetPhysicalBlockSizeRequest == BLKPBSZGET);

static_assert(sizeof(struct hd_driveid) == kATAIdentitySize);
static_assert(offsetof(struct hd_driveid, serial_no) == kATAIdentitySerialOffset);
static_assert(sizeof(hd_driveid::serial_no) == kATAIdentitySerialSize);

// HDIO_GETGEO's record.
struct VolumeGeometry {
    unsigned char heads;
    unsigned char sectors;
    unsigned short cylinders;
    unsigned long start;
};
static_assert(sizeof(VolumeGeometry) == sizeof(struct hd_geometry));
static_assert(offsetof(VolumeGeometry, heads) == offsetof(struct hd_geometry, heads));
static_assert(offsetof(VolumeGeometry, sectors) == offsetof(struct hd_geometry, sectors));
static_assert(offsetof(VolumeGeometry, cylinders) == offsetof(struct hd_geometry, cylinders));
static_assert(offsetof(VolumeGeometry, start) == offsetof(struct hd_geometry, start));

#endif
