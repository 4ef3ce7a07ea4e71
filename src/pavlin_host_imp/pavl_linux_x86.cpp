// Linux controller discovery: walks the PCI driver directories of the known drivers and describes
// each bound controller in a descriptor, and the device-node primitives that every transport uses.
#include "pavl_linux_x86.h"

#include "pavl_descriptor.h"
#include "pavl_hostfile.h"
#include "pavl_bytes.h"
#include "pavl_path.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

#include <linux/cciss_ioctl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// The kernel's record and request code must match ours byte for byte.
static_assert(sizeof(CISS_PCI_INFO) == sizeof(cciss_pci_info_struct));
static_assert(offsetof(CISS_PCI_INFO, bus) == offsetof(cciss_pci_info_struct, bus));
static_assert(offsetof(CISS_PCI_INFO, dev_fn) == offsetof(cciss_pci_info_struct, dev_fn));
static_assert(offsetof(CISS_PCI_INFO, domain) == offsetof(cciss_pci_info_struct, domain));
static_assert(offsetof(CISS_PCI_INFO, board_id) == offsetof(cciss_pci_info_struct, board_id));
static_assert(kCISSGetPCIInfoRequest == CCISS_GETPCIINFO);

static_assert(sizeof(FIB2_HEADER) == 32);
static_assert(offsetof(FIB2_HEADER, Command) == 4 && offsetof(FIB2_HEADER, StructType) == 6 &&
              offsetof(FIB2_HEADER, FwIdx) == 7 && offsetof(FIB2_HEADER, Size) == 8 &&
              offsetof(FIB2_HEADER, SenderSize) == 10 && offsetof(FIB2_HEADER, SenderFibAddress) == 12 &&
              offsetof(FIB2_HEADER, SenderFibAddressHigh) == 16 && offsetof(FIB2_HEADER, Handle) == 20 &&
              offsetof(FIB2_HEADER, Next) == 24 && offsetof(FIB2_HEADER, Previous) == 28);
static_assert(sizeof(SIS_FIB) == kFibSize && offsetof(SIS_FIB, data) == 32);
static_assert(sizeof(SIS_REVISION) == 8);
static_assert(sizeof(ADAPTER_INFO_STRUCT) == 88);
static_assert(offsetof(ADAPTER_INFO_STRUCT, KernelRevision) == 28 &&
              offsetof(ADAPTER_INFO_STRUCT, MonitorRevision) == 36 &&
              offsetof(ADAPTER_INFO_STRUCT, HardwareRevision) == 44 &&
              offsetof(ADAPTER_INFO_STRUCT, BIOSRevision) == 52 &&
              offsetof(ADAPTER_INFO_STRUCT, ClusteringEnabled) == 60 &&
              offsetof(ADAPTER_INFO_STRUCT, SerialNumber) == 68 &&
              offsetof(ADAPTER_INFO_STRUCT, batteryPlatform) == 76 &&
              offsetof(ADAPTER_INFO_STRUCT, SupportedOptions) == 80 &&
              offsetof(ADAPTER_INFO_STRUCT, OemVariant) == 84);
static_assert(sizeof(SIS_VPD_INFO) == 44);
static_assert(sizeof(ADAPTER_SUPPLEMENT_INFO_STRUCT) == kFibDataSize);
static_assert(offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, FlashMemoryByteSize) == 20 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, FeatureBits) == 36 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, SlotNumber) == 40 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, BootCFGVerInFlash) == 43 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, BuildDate) == 44 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, CurrentNumberPorts) == 56 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, VpdInfo) == 60 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, FlashFirmwareRevision) == 104 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, RaidTypeMorphOptions) == 112 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, FlashFirmwareBootRevision) == 116 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, MfgPcbaSerialNo) == 124 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, MfgWWNName) == 136 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, SupportedOptions2) == 144 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, FeatureBits3) == 152 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, HostBusType) == 160 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, HostBusSpeed) == 162 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, MaxRRCDrives) == 164 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, CpldVerInFlash) == 167 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, MaxRRCCapacity) == 168 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, CompiledMaxHistLogLevel) == 176 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, CustomBoardName) == 180 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, SupportedCntlrMode) == 192 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, SupportedOptions3) == 196 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, VirtualScsiDeviceBus) == 200 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, VirtualScsiDeviceTarget) == 202 &&
              offsetof(ADAPTER_SUPPLEMENT_INFO_STRUCT, VirtualScsiDeviceLUN) == 204);

namespace {

struct DriverEntry {
    const char* name;
    VK_WORD protocol_type;
};

constexpr DriverEntry kDrivers[] = {
    {"qzvk", kProtocolTypeCISS},   {"qzdvk", kProtocolTypeCISS},  {"qzdvkc", kProtocolTypeCISS},
    {"qzdvkg", kProtocolTypeCISS}, {"qzdvkw", kProtocolTypeCISS}, {"veskdq", kProtocolTypePQI},
    {"veskdqg", kProtocolTypePQI}, {"veskdq2", kProtocolTypePQI}, {"veskdq2g", kProtocolTypePQI},
    {"xovraid", kProtocolTypeSIS}, {"veskpqi", kProtocolTypePQI}, {"veskswr", kProtocolTypePQI},
};

constexpr char kPciDriversDir[] = "/sys/bus/pci/drivers/";
constexpr char kSysDevicesPrefix[] = "/sys/devices/";
constexpr char kScsiGenericDir[] = "/sys/class/scsi_generic/";
constexpr char kScsiHostDir[] = "/sys/class/scsi_host/";
constexpr char kSISProcName[] = "xovraid";
constexpr char kDefaultClass[] = "000000";
constexpr size_t kDriverPathSize = 1024;
constexpr size_t kPathSize = 4096;

using pavlin::ByteView;
using pavlin::DeviceNode;
using pavlin::Dir;
using pavlin::File;
using pavlin::FormatPath;
using pavlin::IsLinkAt;
using pavlin::ReadFileBytes;

// The first bytes of a small sysfs file; a type, a class or a driver name lies in them.
constexpr size_t kShortTextSize = 64;

bool StartsWith(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool IsCharDevice(const char* path, struct stat* st) {
    return stat(path, st) == 0 && S_ISCHR(st->st_mode);
}

// Leading decimal number of text after optional blanks, within [low, high].
bool LeadingNumber(const char* text, unsigned long low, unsigned long high, unsigned long* value) {
    while (*text == ' ' || *text == '\t') {
        ++text;
    }
    if (*text < '0' || *text > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (errno != 0 || v < low || v > high) {
        return false;
    }
    *value = v;
    return true;
}

// The class file holds "0x" and six hex digits; anything else leaves the default.
void ReadPCIClass(const char* sysfs_path, char* pci_class, size_t size) {
    std::snprintf(pci_class, size, "%s", kDefaultClass);
    char path[kPathSize];
    if (!FormatPath(path, sizeof(path), "%s/class", sysfs_path)) {
        return;
    }
    VK_BYTE text[kShortTextSize];
    if (const auto bytes = ReadFileBytes(path, text, sizeof(text))) {
        pavlin::DecodePCIClass(*bytes, pci_class, size);
    }
}

VK_QWORD ReadPCILocation(const char* node) {
    DeviceNode handle(node, kFalse);
    if (!handle) {
        return 0;
    }
    CISS_PCI_INFO info{};
    VK_QWORD location = 0;
    if (_PN_SendIOCTL(handle.get(), kCISSGetPCIInfoRequest, &info) == 0) {
        location = (static_cast<VK_QWORD>(info.domain) << 24) + (static_cast<VK_QWORD>(info.bus) << 16) +
                   (static_cast<VK_QWORD>(info.dev_fn >> 3) << 8) + static_cast<VK_QWORD>(info.dev_fn & 7);
    }
    return location;
}

void FillFIBHeader(SIS_FIB* fib, VK_WORD command) {
    std::memset(fib, 0, sizeof(*fib));
    fib->Header.XferState = kFibXferStateHostOwned;
    fib->Header.Command = command;
    fib->Header.StructType = kFibStructTypeTFib2;
    fib->Header.FwIdx = 0;
    fib->Header.Size = sizeof(VK_DWORD);
    fib->Header.SenderSize = kFibSize;
}

// The SCSI host number N of the controller: the digits of its first "host" entry.
bool SCSIHostNumber(const char* sysfs_path, unsigned long* host) {
    Dir dir(sysfs_path);
    if (!dir) {
        return false;
    }
    for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
        if (StartsWith(e->d_name, "host")) {
            return pavlin::DecodeHostNumber(ByteView(e->d_name, strnlen(e->d_name, sizeof(e->d_name))), host);
        }
    }
    return false;
}

// Number of SIS hosts numbered below `host`. The class directory is listed rather than probing every
// number below `host`, so a huge host number cannot stall discovery; the count is the same.
int SISHostsBelow(unsigned long host) {
    Dir dir(kScsiHostDir);
    if (!dir) {
        return 0;
    }
    int index = 0;
    for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
        unsigned long h = 0;
        if (!pavlin::DecodeHostNumber(ByteView(e->d_name, strnlen(e->d_name, sizeof(e->d_name))), &h) ||
            h >= host) {
            continue;
        }
        char path[kPathSize];
        VK_BYTE name[kShortTextSize];
        if (!FormatPath(path, sizeof(path), "%shost%lu/proc_name", kScsiHostDir, h)) {
            continue;
        }
        const auto bytes = ReadFileBytes(path, name, sizeof(name));
        if (bytes && pavlin::TextStartsWith(*bytes, kSISProcName)) {
            ++index;
        }
    }
    return index;
}

bool SISMajorNumber(unsigned int* major_number) {
    File f("/proc/devices");
    char line[256];
    while (f.next_line(line, sizeof(line))) {
        if (std::strstr(line, "xov") != nullptr) {
            unsigned long v = 0;
            // Linux character majors are 12 bits wide; 0 names no driver.
            if (LeadingNumber(line, 1, 4095, &v)) {
                *major_number = static_cast<unsigned int>(v);
                return true;
            }
            break;
        }
    }
    PN_DebugLog(1, 0, "%s:%d: Did not find device major number\n", __FILE__, __LINE__);
    return false;
}

// A link of the SCSI generic class directory and, once looked up, the file its type resolves to.
struct GenericDevice {
    char name[sizeof(dirent::d_name)];
    bool looked_up;
    char* type_file; // nullptr: not kept, or it does not resolve
};

// The resolved type file of the generic device `name`.
bool ResolveGenericTypeFile(PathResolver& resolver, const char* name, char* out, size_t out_size) {
    char type_path[kPathSize];
    return FormatPath(type_path, sizeof(type_path), "%s%s/device/type", kScsiGenericDir, name) &&
           resolver.resolve(type_path, out, out_size);
}

// What one discovery pass learns from sysfs and uses again for every controller: the path components
// it resolved, the links of the SCSI generic class directory and where their type files lie. Every
// controller looks through the same generic devices; without this each one resolved all of them again.
class SysfsWalk {
public:
    SysfsWalk() = default;
    ~SysfsWalk() {
        for (size_t i = 0; i < generic_count_; ++i) {
            VK_free(generic_[i].type_file);
        }
        VK_free(generic_);
    }
    SysfsWalk(const SysfsWalk&) = delete;
    SysfsWalk& operator=(const SysfsWalk&) = delete;

    PathResolver& resolver() { return resolver_; }

    // The number of links in the generic class directory (0 when it cannot be opened); false when they
    // could not be kept, and the caller reads the directory itself.
    bool generic_devices(size_t* count) {
        if (!generic_listed_) {
            generic_listed_ = list_generic_devices();
        }
        *count = generic_count_;
        return generic_listed_;
    }
    const char* generic_name(size_t i) const { return generic_[i].name; }

    // The resolved type file of generic device `i`, looked up on the first call only.
    bool generic_type_file(size_t i, char* out, size_t out_size) {
        GenericDevice& g = generic_[i];
        if (g.type_file != nullptr) {
            const size_t length = std::strlen(g.type_file);
            if (length >= out_size) {
                return false;
            }
            std::memcpy(out, g.type_file, length + 1);
            return true;
        }
        if (g.looked_up) {
            return false;
        }
        if (!ResolveGenericTypeFile(resolver_, g.name, out, out_size)) {
            g.looked_up = true;
            return false;
        }
        // Without a copy the next controller resolves it again, which gives the same answer.
        const size_t size = std::strlen(out) + 1;
        g.type_file = static_cast<char*>(VK_malloc(size));
        if (g.type_file != nullptr) {
            std::memcpy(g.type_file, out, size);
            g.looked_up = true;
        }
        return true;
    }

private:
    bool list_generic_devices() {
        Dir dir(kScsiGenericDir);
        if (!dir) {
            return true;
        }
        size_t capacity = 0;
        for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
            if (!IsLinkAt(kScsiGenericDir, e)) {
                continue;
            }
            if (generic_count_ == capacity) {
                capacity = capacity == 0 ? 16 : capacity * 2;
                auto* grown =
                    static_cast<GenericDevice*>(VK_realloc(generic_, capacity * sizeof(GenericDevice)));
                if (grown == nullptr) {
                    VK_free(generic_);
                    generic_ = nullptr;
                    generic_count_ = 0;
                    return false;
                }
                generic_ = grown;
            }
            GenericDevice& g = generic_[generic_count_];
            std::snprintf(g.name, sizeof(g.name), "%s", e->d_name);
            g.looked_up = false;
            g.type_file = nullptr;
            ++generic_count_;
        }
        return true;
    }

    PathResolver resolver_;
    bool generic_listed_ = false;
    GenericDevice* generic_ = nullptr;
    size_t generic_count_ = 0;
};

// The generic device `name`, whose type file resolves to `type_file`, lies below the controller at
// `sysfs_path` and reads the wanted type: its node goes to `node`.
bool GenericDeviceMatches(const char* name, const char* type_file, const char* sysfs_path,
                          size_t sysfs_length, const char* wanted_type, char* node, size_t node_size) {
    // Below the controller: its path, then a separator, so that a sibling whose name merely
    // extends the controller's does not match.
    if (!pavlin::TargetLiesBelow(ByteView(type_file, std::strlen(type_file)), ByteView(sysfs_path, sysfs_length))) {
        return false;
    }
    VK_BYTE type[kShortTextSize];
    const auto bytes = ReadFileBytes(type_file, type, sizeof(type));
    if (!bytes || !pavlin::TextStartsWith(*bytes, wanted_type)) {
        return false;
    }
    if (FormatPath(node, node_size, "/dev/%s", name)) {
        return true;
    }
    node[0] = '\0';
    return false;
}

VK_BOOL GetSCSINodePath(SysfsWalk& walk, const char* sysfs_path, size_t sysfs_path_size,
                        VK_WORD protocol_type, char* node, size_t node_size) {
    if (sysfs_path == nullptr || node == nullptr || node_size == 0) {
        return kFalse;
    }
    const char* wanted_type = nullptr;
    if (protocol_type == kProtocolTypeCISS || protocol_type == kProtocolTypePQI) {
        wanted_type = "12"; // peripheral type of a RAID controller
    } else if (protocol_type == kProtocolTypeNativeSCSI) {
        wanted_type = "13"; // enclosure
    } else {
        return kFalse;
    }
    const size_t sysfs_length = strnlen(sysfs_path, sysfs_path_size);
    if (sysfs_length == 0) {
        return kFalse;
    }
    char type_file[PATH_MAX];
    size_t count = 0;
    if (walk.generic_devices(&count)) {
        for (size_t i = 0; i < count; ++i) {
            if (walk.generic_type_file(i, type_file, sizeof(type_file)) &&
                GenericDeviceMatches(walk.generic_name(i), type_file, sysfs_path, sysfs_length, wanted_type,
                                     node, node_size)) {
                return kTrue;
            }
        }
        return kFalse;
    }
    Dir dir(kScsiGenericDir);
    if (!dir) {
        return kFalse;
    }
    for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
        if (IsLinkAt(kScsiGenericDir, e) &&
            ResolveGenericTypeFile(walk.resolver(), e->d_name, type_file, sizeof(type_file)) &&
            GenericDeviceMatches(e->d_name, type_file, sysfs_path, sysfs_length, wanted_type, node,
                                 node_size)) {
            return kTrue;
        }
    }
    return kFalse;
}

} // namespace

VK_DWORD _PN_OpenDeviceNode(const char* node_name, int* handle, VK_BOOL read_only) {
    if (handle == nullptr) {
        return EINVAL;
    }
    *handle = -1;
    if (node_name == nullptr) {
        return EINVAL;
    }
    const int fd = read_only ? open(node_name, O_RDONLY | O_NONBLOCK) : open(node_name, O_RDWR);
    if (fd < 0) {
        return static_cast<VK_DWORD>(errno);
    }
    *handle = fd;
    return 0;
}

void _PN_CloseDeviceNode(int handle) {
    if (handle >= 0) {
        close(handle);
    }
}

VK_DWORD _PN_SendIOCTL(int handle, unsigned long request, void* parameter) {
    const int rc = parameter == nullptr ? ioctl(handle, request) : ioctl(handle, request, parameter);
    if (rc == -1) {
        return errno != 0 ? static_cast<VK_DWORD>(errno) : static_cast<VK_DWORD>(EIO);
    }
    return 0;
}

VK_BOOL __SendFIB2(int handle, SIS_FIB* fib, VK_DWORD* error) {
    const VK_DWORD rc = _PN_SendIOCTL(handle, kSISSendFIBRequest, fib);
    if (error != nullptr) {
        *error = rc;
    }
    return rc == 0 ? kTrue : kFalse;
}

VK_BOOL __GetSCSINodePath(const char* sysfs_path, size_t sysfs_path_size, VK_WORD protocol_type, char* node,
                          size_t node_size) {
    SysfsWalk walk;
    return GetSCSINodePath(walk, sysfs_path, sysfs_path_size, protocol_type, node, node_size);
}

VK_BOOL __GetXOVNodeName(const char* sysfs_path, char* node, size_t node_size) {
    if (node == nullptr || node_size == 0) {
        return kFalse;
    }
    std::memset(node, 0, node_size);
    unsigned long host = 0;
    if (sysfs_path == nullptr || !SCSIHostNumber(sysfs_path, &host)) {
        return kFalse;
    }
    const int index = SISHostsBelow(host);
    if (!FormatPath(node, node_size, "/dev/xov%d", index)) {
        std::memset(node, 0, node_size);
        return kFalse;
    }
    unsigned int major_number = 0;
    if (!SISMajorNumber(&major_number)) {
        return kFalse;
    }
    struct stat st {};
    bool keep = false;
    if (IsCharDevice(node, &st)) {
        if (major(st.st_rdev) == major_number) {
            keep = true;
        } else {
            unlink(node);
        }
    }
    if (!keep) {
        mknod(node, S_IFCHR, makedev(major_number, static_cast<unsigned int>(index)));
    }
    return IsCharDevice(node, &st) ? kTrue : kFalse;
}

VK_BOOL __GetSISAdapterInfo(const char* node, VK_BYTE* protocol_address, size_t protocol_address_size) {
    if (protocol_address == nullptr || protocol_address_size < 4) {
        return kFalse;
    }
    std::memset(protocol_address, 0, protocol_address_size);
    DeviceNode handle(node, kFalse);
    if (!handle) {
        return kFalse;
    }
    // The driver may hand back more than one FIB's worth, hence the larger working buffer.
    constexpr size_t kWorkingBufferSize = 2048;
    auto* buffer = static_cast<VK_BYTE*>(VK_malloc(kWorkingBufferSize));
    VK_BOOL found = kFalse;
    if (buffer != nullptr) {
        std::memset(buffer, 0, kWorkingBufferSize);
        auto* fib = reinterpret_cast<SIS_FIB*>(buffer);
        VK_DWORD error = 0;
        FillFIBHeader(fib, kFibCommandRequestAdapterInfo);
        if (__SendFIB2(handle.get(), fib, &error)) {
            ADAPTER_INFO_STRUCT info;
            std::memcpy(&info, fib->data, sizeof(info));
            if ((info.SupportedOptions & kAdapterOptionSupplementAdapterInfo) != 0) {
                FillFIBHeader(fib, kFibCommandRequestSupplementAdapterInfo);
                if (__SendFIB2(handle.get(), fib, &error)) {
                    ADAPTER_SUPPLEMENT_INFO_STRUCT supplement;
                    std::memcpy(&supplement, fib->data, sizeof(supplement));
                    protocol_address[0] = static_cast<VK_BYTE>(supplement.VirtualScsiDeviceBus & 0xFF);
                    protocol_address[1] = static_cast<VK_BYTE>(supplement.VirtualScsiDeviceTarget & 0xFF);
                    protocol_address[2] = static_cast<VK_BYTE>(supplement.VirtualScsiDeviceLUN & 0xFF);
                    protocol_address[3] = kProtocolAddressFlagCommands;
                    found = kTrue;
                }
            }
        }
        VK_free(buffer);
    }
    return found;
}

namespace {

VK_DWORD ProcessDriver(SysfsWalk& walk, const char* driver_name, size_t driver_name_size,
                       VK_WORD protocol_type, DeviceDescriptorList list, VK_DWORD count) {
    if (driver_name == nullptr || driver_name_size == 0) {
        return count;
    }
    // The name is cut so the whole path keeps at most kDriverPathSize - 1 characters.
    char driver_dir[kDriverPathSize];
    std::snprintf(driver_dir, sizeof(driver_dir), "%s%.*s", kPciDriversDir,
                  static_cast<int>(strnlen(driver_name, driver_name_size)), driver_name);
    Dir dir(driver_dir);
    if (!dir) {
        return count;
    }
    for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
        if (!IsLinkAt(driver_dir, e)) {
            continue;
        }
        char link_path[kPathSize];
        char sysfs_path[PATH_MAX];
        if (!FormatPath(link_path, sizeof(link_path), "%s/%s", driver_dir, e->d_name) ||
            !walk.resolver().resolve(link_path, sysfs_path, sizeof(sysfs_path)) ||
            !StartsWith(sysfs_path, kSysDevicesPrefix)) {
            continue;
        }

        char node[kPathSize] = {};
        VK_BYTE address[kProtocolAddressSize] = {};
        if (protocol_type == kProtocolTypeCISS || protocol_type == kProtocolTypePQI) {
            if (!GetSCSINodePath(walk, sysfs_path, sizeof(sysfs_path), protocol_type, node, sizeof(node))) {
                continue;
            }
            address[3] = kProtocolAddressFlagCommands;
        } else if (protocol_type == kProtocolTypeSIS) {
            if (!__GetXOVNodeName(sysfs_path, node, sizeof(node)) ||
                !__GetSISAdapterInfo(node, address, sizeof(address))) {
                continue;
            }
        } else {
            continue;
        }

        const VK_QWORD location = ReadPCILocation(node);
        char pci_class[8];
        ReadPCIClass(sysfs_path, pci_class, sizeof(pci_class));

        VK_BYTE protocol[2];
        VK_BYTE device_type[2];
        VK_BYTE device_number[2];
        VK_BYTE pci_location[8];
        pavlin::ByteSpan(protocol, sizeof(protocol)).put_le16(0, protocol_type);
        pavlin::ByteSpan(device_type, sizeof(device_type)).put_le16(0, 1);
        pavlin::ByteSpan(device_number, sizeof(device_number)).put_le16(0, 0xFFFF);
        pavlin::ByteSpan(pci_location, sizeof(pci_location)).put_le64(0, location);
        const DeviceDescriptorEntry entries[] = {
            {kDevicePropertySysPath, sysfs_path, std::strlen(sysfs_path)},
            {kDevicePropertyNodeName, node, std::strlen(node)},
            {kDevicePropertyProtocolType, protocol, sizeof(protocol)},
            {kDevicePropertyProtocolAddress, address, sizeof(address)},
            {kDevicePropertyDeviceType, device_type, sizeof(device_type)},
            {kDevicePropertyDeviceNumber, device_number, sizeof(device_number)},
            {kDevicePropertyPCILocation, pci_location, sizeof(pci_location)},
            {kDevicePropertyPCIClass, pci_class, std::strlen(pci_class)},
            {kDevicePropertyDriverName, driver_name, driver_name_size},
        };
        const size_t descriptor_total_length = _PN_DeviceDescriptorLength(entries);
        PN_DebugLog(2, 0, "%s:%d: DeviceDescriptor length = %zu\n", __FILE__, __LINE__,
                    descriptor_total_length);
        if (descriptor_total_length > kMaxDeviceDescriptorSize) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'descriptor_total_length <= (size_t)((VK_WORD)-1)' failed: "
                        "DeviceDescriptor too long\n",
                        __func__, __LINE__);
            continue;
        }
        DeviceDescriptor descriptor = _PN_BuildDeviceDescriptor(entries);
        if (descriptor != nullptr && _PN_AddDescriptorToList(list, descriptor)) {
            ++count;
        }
    }
    return count;
}

// Marks the drivers of the list that have a directory. A host has few of them: listing the directory
// once costs less than opening each of the twelve paths. False when it cannot be listed.
bool PresentDrivers(bool (&present)[std::size(kDrivers)]) {
    Dir dir(kPciDriversDir);
    if (!dir) {
        return false;
    }
    for (dirent* e = dir.next(); e != nullptr; e = dir.next()) {
        for (size_t i = 0; i < std::size(kDrivers); ++i) {
            if (std::strcmp(e->d_name, kDrivers[i].name) == 0) {
                present[i] = true;
            }
        }
    }
    return true;
}

} // namespace

VK_DWORD __ProcessDriver(const char* driver_name, size_t driver_name_size, VK_WORD protocol_type,
                         DeviceDescriptorList list, VK_DWORD count) {
    SysfsWalk walk;
    return ProcessDriver(walk, driver_name, driver_name_size, protocol_type, list, count);
}

void _PN_GetControllerDescriptorList(DeviceDescriptorList list) {
    SysfsWalk walk;
    bool present[std::size(kDrivers)] = {};
    const bool listed = PresentDrivers(present);
    VK_DWORD count = 0;
    for (size_t i = 0; i < std::size(kDrivers); ++i) {
        if (!listed || present[i]) {
            count = ProcessDriver(walk, kDrivers[i].name, std::strlen(kDrivers[i].name) + 1,
                                  kDrivers[i].protocol_type, list, count);
        }
    }
}

void _PN_GetHostBusAdapterDescriptorList(DeviceDescriptorList list) {
    (void)list;
}
