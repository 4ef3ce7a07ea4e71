// Host block volumes: private records and the workers behind the public functions of ppavl_info.h.
#ifndef PAVL_INFO_H
#define PAVL_INFO_H

#include "ppavl_info.h"

#include "pavl_bytes.h"

#include <cstddef>
#include <cstdio>

inline constexpr size_t kATAIdentitySize = 512;
inline constexpr size_t kATAIdentitySerialOffset = 20;
inline constexpr size_t kATAIdentitySerialSize = 20;
inline constexpr size_t kATAIdentityWWNOffset = 216; // words 108 to 111

// Public records.
static_assert(sizeof(StorageVolumeInformation) == 64);
static_assert(offsetof(StorageVolumeInformation, qwUsableSizeInBytes) == 8);
static_assert(offsetof(StorageVolumeInformation, qwNumSectors) == 48);
static_assert(offsetof(StorageVolumeInformation, bSCSIBus) == 56);
static_assert(offsetof(StorageVolumeInformation, bSCSILUN) == 58);
static_assert(sizeof(StorageExtentInformation) == 72);
static_assert(offsetof(StorageExtentInformation, partition_guid) == 1);
static_assert(offsetof(StorageExtentInformation, partition_type_guid) == 17);
static_assert(offsetof(StorageExtentInformation, extent_number) == 36);
static_assert(offsetof(StorageExtentInformation, extent_offset) == 40);
static_assert(offsetof(StorageExtentInformation, extent_size) == 48);
static_assert(offsetof(StorageExtentInformation, mount_points) == 56);
static_assert(offsetof(StorageExtentInformation, mount_points_size) == 64);

// Text sizes, terminator included.
inline constexpr size_t kUniqueVolumeIDSize = 34;     // "S" and at most 32 hex digits
inline constexpr size_t kVolumeSerialNumberSize = 96; // at most 95 characters
inline constexpr size_t kVolumeVendorSize = 64;       // the vendor token
inline constexpr size_t kVolumeModelSize = 92;        // the model token
inline constexpr size_t kVolumeVendorModelSize = 160; // at most 159 characters
inline constexpr size_t kVolumeVendorPadding = 8;

// INQUIRY of vital product data pages: the reply size the scan reads.
inline constexpr size_t kVPDReplySize = 96;
inline constexpr VK_BYTE kVPDSupportedPages = 0x00;
inline constexpr VK_BYTE kVPDUnitSerialNumber = 0x80;
inline constexpr VK_BYTE kVPDDeviceIdentification = 0x83;

// Mount records, kept while an extent array is built.
struct PartitionMountList {
    char* device_name;
    char* mount_point;
    size_t mount_point_size;
    PartitionMountList* next_record;
};

// Copies src (up to its first NUL or src_size) without leading and trailing blanks, tabs, CR and
// LF; at most dest_size - 1 characters, followed by a NUL. Returns the characters copied.
size_t _PN_CopyTrimmed(char* dest, size_t dest_size, const char* src, size_t src_size);

// Whether a mount table entry names the device `pattern` or one of its partitions: the pattern
// itself, or the pattern followed by a partition number ("p" and the number when the pattern ends
// in a digit, as the kernel names such partitions).
bool __IsDeviceOrPartition(const char* pattern, size_t pattern_length, const char* device_name);
// The sysfs directory name of a partition node (inside its disk's block directory).
void __PartitionSysfsName(const char* device_name, char* name, size_t name_size);
// The partition number that follows the device's name in a partition's name; 0 when none.
VK_DWORD __PartitionNumber(const char* device, const char* partition);

// Reads one mount table (mtab or fstab format). From an fstab only entries whose mount point is
// "swap" count. Without create_list the first match ends the scan; with it every match is
// recorded. True when an entry matched.
bool __ScanMountTable(const char* table_path, bool swap_only, const char* pattern, size_t pattern_length,
                      bool create_list);
VK_BOOL __IsDeviceMounted(const char* pattern, size_t pattern_size, VK_BOOL create_list);
void __InsertPartitionMountRecord(const char* device_name, size_t device_name_size, const char* mount_point,
                                  size_t mount_point_size);
PartitionMountList* __FindPartitionMountRecord(const char* device_name);
size_t __GetNumPartitionMountRecords();
void __FreePartitionMountList();
// The list is shared by the extent arrays being built: hold the lock while it is filled and read.
void __LockPartitionMountList();
void __UnlockPartitionMountList();
PartitionMountList* __FirstPartitionMountRecord();
// A zeroed tracked buffer of buffer_size bytes starting with length bytes of text.
char* __DuplicateText(const char* text, size_t length, size_t buffer_size);

// Page list of VPD page 0x00 (reply of reply_size bytes): whether pages 0x80 and 0x83 are listed.
// Only the entries that lie inside the reply are read.
void __ParseVPDPageList(pavlin::ByteView reply, bool* has_serial_page, bool* has_identification_page);
// Serial number from VPD page 0x80, trimmed; empty when the page holds none.
void __ParseVPDSerialNumber(pavlin::ByteView reply, char* serial, size_t serial_size);
// "S" and the NAA designator of VPD page 0x83 in hex; false when the first designator is not a
// 16-byte binary NAA one lying inside the page.
bool __ParseVPDUniqueID(pavlin::ByteView reply, char* unique_id, size_t unique_id_size);
// Serial number and world wide name of an ATA identity block (512 bytes); a block too short for the
// field gives none.
void __ParseATAIdentitySerial(pavlin::ByteView identity, char* serial, size_t serial_size);
bool __ParseATAIdentityUniqueID(pavlin::ByteView identity, char* unique_id, size_t unique_id_size);
// Volume kind from the controller's device type and which identity sources could be read.
VK_WORD __StorageVolumeKind(VK_WORD controller_device_type, bool scsi_pages_readable,
                            bool ata_identity_readable);
// Whether the PCI class text asks for the ATA identity request.
bool __ClassWantsATAIdentity(const char* pci_class);
// Whether `volume_path` lies below `controller_path` in sysfs.
bool __VolumeBelongsToController(const char* volume_path, const char* controller_path);

// What the scan learned about one volume.
struct StorageVolumeIdentity {
    const char* node;
    const char* sysfs_path;
    VK_WORD protocol_type;
    VK_WORD volume_kind;
    const char* unique_id;
    const char* serial_number;
    const char* vendor_model;
};
// The host-volume descriptor; NULL when it would exceed 65,535 bytes (logged) or cannot be
// allocated.
DeviceDescriptor __BuildStorageVolumeDescriptor(const StorageVolumeIdentity& identity);

void _PN_GetStorageVolumeDescriptorList(DeviceDescriptor controller_descriptor, DeviceDescriptorList list);
VK_BOOL _PN_GetStorageVolumeInformation(DeviceDescriptor volume_descriptor,
                                        PStorageVolumeInformation volume_information);
int _PN_CreateStorageExtentArray(DeviceDescriptor volume_descriptor,
                                 PStorageExtentInformation** extent_array);

#endif
