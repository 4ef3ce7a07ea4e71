// Host block volumes: finds the block devices below a controller in sysfs, identifies them through
// sysfs, SCSI vital product data and the ATA identity, and reports their size, geometry and mounted
// extents.
#include "pavl_blockdev.h"
#include "pavl_info.h"

#include "pavl_descriptor.h"
#include "pavl_hostfile.h"
#include "pavl_extern.h"
#include "pavl_linux_x86.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr char kSysBlockDir[] = "/sys/block";
constexpr VK_WORD kVolumeDeviceType = 11;
constexpr VK_WORD kUnknownDeviceType = 99;
constexpr VK_WORD kControllerDeviceType = 1;
constexpr VK_WORD kOtherControllerDeviceType = 12;
constexpr VK_WORD kNoProtocol = 0xFFFF;
constexpr unsigned long long kSectorSize = 512;
constexpr VK_UINT32 kInquiryTimeoutSec = 30;


using pavlin::DeviceNode;
using pavlin::Dir;
using pavlin::FormatPath;
using pavlin::IsDirAt;
using pavlin::IsLink;
using pavlin::IsLinkAt;
using pavlin::ReadSysfsNumber;
using pavlin::ReadSysfsToken;

// The resolved target of the first symbolic link in `dir` whose name contains "block".
bool ResolveBlockLink(const char* dir, char* resolved) {
    Dir d(dir);
    if (!d) {
        return false;
    }
    for (dirent* e = d.next(); e != nullptr; e = d.next()) {
        if (std::strstr(e->d_name, "block") == nullptr || !IsLinkAt(dir, e)) {
            continue;
        }
        char path[PATH_MAX];
        return FormatPath(path, sizeof(path), "%s/%s", dir, e->d_name) &&
               realpath(path, resolved) != nullptr;
    }
    return false;
}

// A text property, NUL-terminated; empty when absent or too long for the buffer.
void ReadTextProperty(DeviceDescriptor descriptor, VK_BYTE id, char* out, size_t out_size) {
    if (PN_GetDeviceSystemProperty(descriptor, id, out, static_cast<VK_DWORD>(out_size - 1)) != 0) {
        out[0] = '\0';
    }
    out[out_size - 1] = '\0';
}

VK_WORD ReadWordProperty(DeviceDescriptor descriptor, VK_BYTE id, VK_WORD absent) {
    VK_BYTE b[2];
    if (PN_GetDeviceSystemProperty(descriptor, id, b, sizeof(b)) != 0) {
        return absent;
    }
    return pavlin::ByteView(b, sizeof(b)).le16(0).value_or(absent);
}

// Number of 512-byte sectors in bytes; false when unreadable or when the product does not fit.
bool ReadSectorsAsBytes(const char* path, VK_QWORD* bytes) {
    unsigned long long sectors = 0;
    if (!ReadSysfsNumber(path, &sectors) || sectors > UINT64_MAX / kSectorSize) {
        return false;
    }
    *bytes = sectors * kSectorSize;
    return true;
}

// INQUIRY of one vital product data page through SG_IO, without the trace line. The reply counts
// only when the command completed with GOOD status.
bool InquiryVPD(int handle, const char* node, VK_BYTE page, VK_BYTE* reply) {
    std::memset(reply, 0, kVPDReplySize);
    VK_BYTE cdb[6] = {0x12, 0x01, page, 0x00, static_cast<VK_BYTE>(kVPDReplySize), 0x00};
    VK_BYTE sense[32] = {};
    SCSIRequest request{};
    request.transfer_type = eDATA_TRANSFER_IN;
    request.timeout_sec = kInquiryTimeoutSec;
    request.cdb = cdb;
    request.cdb_size = sizeof(cdb);
    request.io_buffer = reply;
    request.io_buffer_size = kVPDReplySize;
    request.sense_data = sense;
    request.sense_data_size = sizeof(sense);
    auto* internal = static_cast<PavlinInternalSCSIRequest*>(VK_malloc(sizeof(PavlinInternalSCSIRequest)));
    if (internal == nullptr) {
        return false;
    }
    std::memset(internal, 0, sizeof(*internal));
    internal->command_target.protocol_type = kProtocolTypeNativeSCSI;
    internal->command_target.device_handle = handle;
    std::snprintf(internal->command_target.device_node_name,
                  sizeof(internal->command_target.device_node_name), "%s", node);
    internal->request = &request;
    const bool ok = _PN_SendSCSICommand(internal) == eCOMMAND_STATUS_OK && request.scsi_status == 0;
    VK_free(internal);
    if (!ok) {
        std::memset(reply, 0, kVPDReplySize);
    }
    return ok;
}

} // namespace

VK_WORD __StorageVolumeKind(VK_WORD controller_device_type, bool scsi_pages_readable,
                            bool ata_identity_readable) {
    if (controller_device_type == kControllerDeviceType) {
        return kStorageVolumeKindController;
    }
    if (controller_device_type == kOtherControllerDeviceType) {
        return kStorageVolumeKindOtherController;
    }
    if (scsi_pages_readable) {
        return kStorageVolumeKindSCSI;
    }
    return ata_identity_readable ? kStorageVolumeKindATA : kStorageVolumeKindUnknown;
}

bool __ClassWantsATAIdentity(const char* pci_class) {
    const size_t n = strnlen(pci_class, 8);
    return (n >= 2 && std::strncmp(pci_class, "01", 2) == 0) ||
           (n >= 4 && std::strncmp(pci_class + 2, "05", 2) == 0) ||
           (n >= 6 && std::strncmp(pci_class + 4, "06", 2) == 0);
}

bool __VolumeBelongsToController(const char* volume_path, const char* controller_path) {
    // A controller without a sysfs path owns nothing (the empty text would be found everywhere).
    const size_t n = std::strlen(controller_path);
    if (n == 0) {
        return false;
    }
    // The controller's path as a whole component sequence: 0000:3b:00.0 must not claim 0000:3b:00.01.
    for (const char* p = std::strstr(volume_path, controller_path); p != nullptr;
         p = std::strstr(p + 1, controller_path)) {
        if (p[n] == '/' || p[n] == '\0' || controller_path[n - 1] == '/') {
            return true;
        }
    }
    return false;
}

DeviceDescriptor __BuildStorageVolumeDescriptor(const StorageVolumeIdentity& identity) {
    VK_BYTE protocol[2];
    VK_BYTE device_type[2];
    VK_BYTE kind[2];
    pavlin::ByteSpan(protocol, sizeof(protocol)).put_le16(0, identity.protocol_type);
    pavlin::ByteSpan(device_type, sizeof(device_type)).put_le16(0, kVolumeDeviceType);
    pavlin::ByteSpan(kind, sizeof(kind)).put_le16(0, identity.volume_kind);
    DeviceDescriptorEntry entries[9] = {
        {kDevicePropertyNodeName, identity.node, std::strlen(identity.node)},
        {kDevicePropertySysPath, identity.sysfs_path, std::strlen(identity.sysfs_path)},
        {kDevicePropertyProtocolType, protocol, sizeof(protocol)},
        {kDevicePropertyDeviceType, device_type, sizeof(device_type)},
        {kDevicePropertyVolumeKind, kind, sizeof(kind)},
        {kDevicePropertyVolumeNodeName, identity.node, std::strlen(identity.node)},
    };
    size_t count = 6;
    const struct {
        VK_BYTE id;
        const char* text;
    } optional[] = {
        {kDevicePropertyUniqueVolumeID, identity.unique_id},
        {kDevicePropertySerialNumber, identity.serial_number},
        {kDevicePropertyVendorModel, identity.vendor_model},
    };
    for (const auto& o : optional) {
        if (o.text != nullptr && o.text[0] != '\0') {
            entries[count++] = {o.id, o.text, std::strlen(o.text)};
        }
    }
    const std::span<const DeviceDescriptorEntry> used(entries, count);
    const size_t descriptor_total_length = _PN_DeviceDescriptorLength(used);
    if (descriptor_total_length > kMaxDeviceDescriptorSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'descriptor_total_length <= (size_t)((VK_WORD)-1)' failed: "
                    "DeviceDescriptor too long\n",
                    __func__, __LINE__);
        return nullptr;
    }
    return _PN_BuildDeviceDescriptor(used);
}

namespace {

struct ControllerInfo {
    char sysfs_path[PATH_MAX];
    char pci_class[8];
    VK_WORD protocol_type;
    VK_WORD device_type;
};

// Identifies one volume that belongs to the controller and appends its descriptor.
void DescribeVolume(const ControllerInfo& controller, const char* name, const char* volume_path,
                     const char* device_dir, DeviceDescriptorList list) {
    char node[PATH_MAX];
    if (!FormatPath(node, sizeof(node), "/dev/%s", name)) {
        return;
    }
    if (char* bang = std::strchr(node, '!'); bang != nullptr) {
        *bang = '/';
    }

    char path[PATH_MAX];
    char unique_id[kUniqueVolumeIDSize] = {};
    if (FormatPath(path, sizeof(path), "%s/unique_id", device_dir)) {
        VK_BYTE text[pavlin::kSysfsTextMax];
        if (const auto bytes = pavlin::ReadFileBytes(path, text, sizeof(text))) {
            pavlin::DecodeUniqueID(*bytes, unique_id, sizeof(unique_id));
        }
    }

    char vendor_model[kVolumeVendorModelSize] = {};
    char vendor[kVolumeVendorSize];
    char model[kVolumeModelSize];
    char vendor_path[PATH_MAX];
    if (FormatPath(path, sizeof(path), "%s/model", device_dir) &&
        FormatPath(vendor_path, sizeof(vendor_path), "%s/vendor", device_dir) &&
        ReadSysfsToken(vendor_path, vendor, sizeof(vendor)) &&
        ReadSysfsToken(path, model, sizeof(model))) {
        FormatPath(vendor_model, sizeof(vendor_model), "%-*s%s", static_cast<int>(kVolumeVendorPadding),
                    vendor, model);
    } else {
        FormatPath(vendor_model, sizeof(vendor_model), "%s", node);
    }

    char serial[kVolumeSerialNumberSize] = {};
    bool scsi_readable = false;
    bool ata_readable = false;
    {
        DeviceNode handle(node, kTrue);
        if (handle) {
            VK_BYTE reply[kVPDReplySize];
            bool has_serial_page = false;
            bool has_identification_page = false;
            if (InquiryVPD(handle.get(), node, kVPDSupportedPages, reply)) {
                scsi_readable = true;
                __ParseVPDPageList(pavlin::ByteView(reply, sizeof(reply)), &has_serial_page, &has_identification_page);
            }
            if (has_serial_page && InquiryVPD(handle.get(), node, kVPDUnitSerialNumber, reply)) {
                __ParseVPDSerialNumber(pavlin::ByteView(reply, sizeof(reply)), serial, sizeof(serial));
            }
            if (unique_id[0] == '\0' && has_identification_page &&
                InquiryVPD(handle.get(), node, kVPDDeviceIdentification, reply)) {
                if (!__ParseVPDUniqueID(pavlin::ByteView(reply, sizeof(reply)), unique_id, sizeof(unique_id))) {
                    unique_id[0] = '\0';
                }
            }
            if (!(scsi_readable && unique_id[0] != '\0') && __ClassWantsATAIdentity(controller.pci_class)) {
                VK_BYTE identity[kATAIdentitySize] = {};
                if (_PN_SendIOCTL(handle.get(), kHDIOGetIdentityRequest, identity) == 0) {
                    ata_readable = true;
                    if (serial[0] == '\0') {
                        __ParseATAIdentitySerial(pavlin::ByteView(identity, sizeof(identity)), serial, sizeof(serial));
                    }
                    if (unique_id[0] == '\0' &&
                        !__ParseATAIdentityUniqueID(pavlin::ByteView(identity, sizeof(identity)), unique_id, sizeof(unique_id))) {
                        unique_id[0] = '\0';
                    }
                }
            }
        }
    }

    const VK_WORD kind = __StorageVolumeKind(controller.device_type, scsi_readable, ata_readable);
    if (vendor_model[0] == '\0' && unique_id[0] == '\0') {
        return;
    }
    const StorageVolumeIdentity identity{node,   volume_path, controller.protocol_type, kind, unique_id,
                                         serial, vendor_model};
    DeviceDescriptor descriptor = __BuildStorageVolumeDescriptor(identity);
    if (descriptor != nullptr) {
        _PN_AddDescriptorToList(list, descriptor);
    }
}

} // namespace

void _PN_GetStorageVolumeDescriptorList(DeviceDescriptor controller_descriptor, DeviceDescriptorList list) {
    if (controller_descriptor == nullptr || list == nullptr) {
        return;
    }
    auto* controller = static_cast<ControllerInfo*>(VK_malloc(sizeof(ControllerInfo)));
    if (controller == nullptr) {
        return;
    }
    ReadTextProperty(controller_descriptor, kDevicePropertySysPath, controller->sysfs_path,
                       sizeof(controller->sysfs_path));
    ReadTextProperty(controller_descriptor, kDevicePropertyPCIClass, controller->pci_class,
                       sizeof(controller->pci_class));
    controller->protocol_type =
        ReadWordProperty(controller_descriptor, kDevicePropertyProtocolType, kNoProtocol);
    controller->device_type =
        ReadWordProperty(controller_descriptor, kDevicePropertyDeviceType, kUnknownDeviceType);

    Dir dir(kSysBlockDir);
    for (dirent* e = dir ? dir.next() : nullptr; e != nullptr; e = dir.next()) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) {
            continue;
        }
        char entry_path[PATH_MAX];
        char volume_path[PATH_MAX];
        bool from_device_link = false;
        if (!FormatPath(entry_path, sizeof(entry_path), "%s/%s", kSysBlockDir, e->d_name)) {
            continue;
        }
        if (IsLinkAt(kSysBlockDir, e)) {
            if (realpath(entry_path, volume_path) == nullptr) {
                continue;
            }
        } else if (IsDirAt(kSysBlockDir, e)) {
            char device_link[PATH_MAX];
            FormatPath(volume_path, sizeof(volume_path), "%s", entry_path);
            if (FormatPath(device_link, sizeof(device_link), "%s/device", entry_path) &&
                IsLink(device_link)) {
                if (realpath(device_link, volume_path) == nullptr) {
                    continue;
                }
                from_device_link = true;
            }
        } else {
            continue;
        }

        // Size and removable belong to the block directory. In the old layout the volume path is
        // the SCSI device directory, which has neither, so they are read where they are.
        const char* block_dir = from_device_link ? entry_path : volume_path;
        char path[PATH_MAX];
        unsigned long long sectors = 0;
        if (!FormatPath(path, sizeof(path), "%s/size", block_dir) || !ReadSysfsNumber(path, &sectors) ||
            sectors == 0) {
            continue;
        }
        char removable[8];
        if (controller->protocol_type != kProtocolTypeSIS &&
            FormatPath(path, sizeof(path), "%s/removable", block_dir) &&
            ReadSysfsToken(path, removable, sizeof(removable)) && std::strcmp(removable, "1") == 0) {
            continue;
        }
        if (!__VolumeBelongsToController(volume_path, controller->sysfs_path)) {
            continue;
        }

        char device_dir[PATH_MAX];
        if (from_device_link) {
            FormatPath(device_dir, sizeof(device_dir), "%s", volume_path);
        } else if (!FormatPath(path, sizeof(path), "%s/device", volume_path) ||
                   realpath(path, device_dir) == nullptr) {
            continue;
        }
        if (!Dir(device_dir)) {
            continue;
        }
        DescribeVolume(*controller, e->d_name, volume_path, device_dir, list);
    }
    VK_free(controller);
}

VK_BOOL _PN_GetStorageVolumeInformation(DeviceDescriptor volume_descriptor,
                                        PStorageVolumeInformation volume_information) {
    if (volume_information == nullptr) {
        return kTrue;
    }
    std::memset(volume_information, 0, sizeof(*volume_information));
    char node[kPavlinNodeNameSize];
    char sysfs_path[PATH_MAX];
    if (!__DecodeDeviceNodeName(volume_descriptor, node, sizeof(node))) {
        return kTrue;
    }
    ReadTextProperty(volume_descriptor, kDevicePropertySysPath, sysfs_path, sizeof(sysfs_path));
    if (sysfs_path[0] == '\0') {
        return kTrue;
    }

    char size_path[PATH_MAX] = {};
    struct stat st {};
    if (FormatPath(size_path, sizeof(size_path), "%s/size", sysfs_path) &&
        (lstat(size_path, &st) != 0 || !S_ISREG(st.st_mode))) {
        size_path[0] = '\0';
        char target[PATH_MAX];
        if (ResolveBlockLink(sysfs_path, target)) {
            FormatPath(size_path, sizeof(size_path), "%s/size", target);
        }
    }
    if (size_path[0] == '\0') {
        return kTrue;
    }
    DeviceNode handle(node, kTrue);
    if (!handle) {
        return kTrue;
    }
    PStorageVolumeInformation info = volume_information;
    if (ReadSectorsAsBytes(size_path, &info->qwUsableSizeInBytes)) {
        info->wVolumeInformationFlags |= kStorageVolumeUsableSizeValid;
    }

    VolumeGeometry geometry{};
    if (_PN_SendIOCTL(handle.get(), kHDIOGetGeometryRequest, &geometry) == 0) {
        info->qwNumHeads = geometry.heads;
        info->qwNumSectors = geometry.sectors;
        info->qwNumCylinders = geometry.cylinders;
        info->wVolumeInformationFlags |=
            kStorageVolumeHeadsValid | kStorageVolumeSectorsValid | kStorageVolumeCylindersValid;
    }

    const char* slash = std::strrchr(node, '/');
    const char* last = slash != nullptr ? slash + 1 : node;
    char queue_path[PATH_MAX];
    unsigned long long from_file = 0;
    int logical = 0;
    if (_PN_SendIOCTL(handle.get(), kBlockGetLogicalBlockSizeRequest, &logical) == 0) {
        info->qwLogicalBlockSize = static_cast<VK_QWORD>(static_cast<unsigned int>(logical));
        info->wVolumeInformationFlags |= kStorageVolumeLogicalBlockSizeValid;
    } else if (FormatPath(queue_path, sizeof(queue_path), "%s/%s/queue/logical_block_size", kSysBlockDir,
                           last) &&
               ReadSysfsNumber(queue_path, &from_file)) {
        info->qwLogicalBlockSize = from_file;
        info->wVolumeInformationFlags |= kStorageVolumeLogicalBlockSizeValid;
    }
    unsigned int physical = 0;
    if (_PN_SendIOCTL(handle.get(), kBlockGetPhysicalBlockSizeRequest, &physical) == 0) {
        info->qwPhysicalBlockSize = physical;
        info->wVolumeInformationFlags |= kStorageVolumePhysicalBlockSizeValid;
    } else if (FormatPath(queue_path, sizeof(queue_path), "%s/%s/queue/physical_block_size", kSysBlockDir,
                           last) &&
               ReadSysfsNumber(queue_path, &from_file)) {
        info->qwPhysicalBlockSize = from_file;
        info->wVolumeInformationFlags |= kStorageVolumePhysicalBlockSizeValid;
    } else if ((info->wVolumeInformationFlags & kStorageVolumeLogicalBlockSizeValid) != 0) {
        info->qwPhysicalBlockSize = info->qwLogicalBlockSize;
        info->wVolumeInformationFlags |= kStorageVolumePhysicalBlockSizeValid;
    }
    return kTrue;
}

int _PN_CreateStorageExtentArray(DeviceDescriptor volume_descriptor,
                                 PStorageExtentInformation** extent_array) {
    if (extent_array == nullptr) {
        return 0;
    }
    *extent_array = nullptr;
    char node[kPavlinNodeNameSize];
    char sysfs_path[PATH_MAX];
    if (!__DecodeDeviceNodeName(volume_descriptor, node, sizeof(node)) || node[0] == '\0') {
        return 0;
    }
    ReadTextProperty(volume_descriptor, kDevicePropertySysPath, sysfs_path, sizeof(sysfs_path));
    char block_dir[PATH_MAX];
    if (!ResolveBlockLink(sysfs_path, block_dir)) {
        FormatPath(block_dir, sizeof(block_dir), "%s", sysfs_path);
    }

    __LockPartitionMountList();
    __FreePartitionMountList();
    __IsDeviceMounted(node, sizeof(node), kTrue);
    const size_t records = __GetNumPartitionMountRecords();
    PStorageExtentInformation* array = nullptr;
    size_t count = 0;
    if (records != 0) {
        array = static_cast<PStorageExtentInformation*>(
            VK_malloc((records + 1) * sizeof(PStorageExtentInformation)));
    }
    if (array != nullptr) {
        std::memset(array, 0, (records + 1) * sizeof(PStorageExtentInformation));
        for (PartitionMountList* r = __FirstPartitionMountRecord(); r != nullptr; r = r->next_record) {
            auto* extent =
                static_cast<PStorageExtentInformation>(VK_malloc(sizeof(StorageExtentInformation)));
            if (extent == nullptr) {
                continue;
            }
            std::memset(extent, 0, sizeof(*extent));
            char start_path[PATH_MAX];
            char size_path[PATH_MAX];
            bool paths = false;
            if (std::strcmp(r->device_name, node) != 0) {
                extent->extent_number = __PartitionNumber(node, r->device_name);
                char name[PATH_MAX];
                __PartitionSysfsName(r->device_name, name, sizeof(name));
                paths = FormatPath(start_path, sizeof(start_path), "%s/%s/start", block_dir, name) &&
                        FormatPath(size_path, sizeof(size_path), "%s/%s/size", block_dir, name);
            } else {
                paths = FormatPath(start_path, sizeof(start_path), "%s/start", block_dir) &&
                        FormatPath(size_path, sizeof(size_path), "%s/size", block_dir);
            }
            if (paths) {
                if (!ReadSectorsAsBytes(start_path, &extent->extent_offset)) {
                    extent->extent_offset = 0;
                }
                if (!ReadSectorsAsBytes(size_path, &extent->extent_size)) {
                    extent->extent_size = 0;
                }
            }
            extent->mount_points = __DuplicateText(
                r->mount_point, strnlen(r->mount_point, r->mount_point_size), r->mount_point_size);
            if (extent->mount_points == nullptr) {
                VK_free(extent);
                continue;
            }
            extent->mount_points_size = r->mount_point_size;
            array[count++] = extent;
        }
        if (count == 0) {
            VK_free(array);
            array = nullptr;
        }
    }
    __FreePartitionMountList();
    __UnlockPartitionMountList();
    *extent_array = array;
    return static_cast<int>(count);
}

DeviceDescriptorList PN_CreateStorageVolumeDeviceDescriptorList(DeviceDescriptor controller_descriptor) {
    auto* list = static_cast<_DescriptorListHeader*>(VK_malloc(sizeof(_DescriptorListHeader)));
    if (list == nullptr) {
        return nullptr;
    }
    list->first_element = nullptr;
    list->last_element = nullptr;
    _PN_GetStorageVolumeDescriptorList(controller_descriptor, list);
    return list;
}

VK_BOOL PN_GetStorageVolumeInformation(DeviceDescriptor volume_descriptor,
                                       PStorageVolumeInformation volume_information) {
    return _PN_GetStorageVolumeInformation(volume_descriptor, volume_information);
}

int PN_CreateStorageExtentArray(DeviceDescriptor volume_descriptor,
                                PStorageExtentInformation** extent_array) {
    return _PN_CreateStorageExtentArray(volume_descriptor, extent_array);
}

void PN_DestroyStorageExtentArray(PStorageExtentInformation** extent_array) {
    if (extent_array == nullptr || *extent_array == nullptr) {
        return;
    }
    for (PStorageExtentInformation* p = *extent_array; *p != nullptr; ++p) {
        if ((*p)->mount_points != nullptr) {
            VK_free((*p)->mount_points);
        }
        VK_free(*p);
    }
    VK_free(*extent_array);
    *extent_array = nullptr;
}
