// CISS REPORT LOGICAL and PHYSICAL LUNS (extended forms) and the descriptor factories that clone a
// controller's descriptor to address a drive behind it.
#include "pavl_reportluns.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "pavl_descriptor.h"
#include "pavl_tracked.h"
#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

namespace {

constexpr VK_DWORD kPhysicalReportFirstAllocation = 776;
constexpr VK_DWORD kPhysicalReportTimeoutSec = 1000;

constexpr VK_WORD kDeviceTypeController = 1;
constexpr VK_WORD kDeviceTypeExpander = 5;
constexpr VK_WORD kDeviceTypeLogicalDrive = 9;
constexpr VK_WORD kDeviceTypeRemoteLogicalDrive = 10;

constexpr VK_BYTE kAddressFlagsLogical = kProtocolAddressFlagCommands | kProtocolAddressFlagLogical;
constexpr VK_BYTE kAddressFlagsPhysical = kProtocolAddressFlagCommands | kProtocolAddressFlagPhysical;
constexpr size_t kLunAddressOffset = 4; // within the protocol address
constexpr size_t kLunAddressSize = 8;

constexpr VK_BYTE kPhysicalDriveTypes[] = {1, 2};
constexpr VK_BYTE kSEPTypes[] = {6};

DeviceDescriptorList NewList() {
    auto* list = static_cast<_DescriptorListHeader*>(VK_malloc(sizeof(_DescriptorListHeader)));
    if (list != nullptr) {
        list->first_element = nullptr;
        list->last_element = nullptr;
    }
    return list;
}

// Edits the clone's protocol address in place; a clone without a 16-byte address keeps what it has.
template <typename Edit> void PatchProtocolAddress(DeviceDescriptor clone, Edit edit) {
    VK_BYTE address[kProtocolAddressSize];
    if (PN_GetDeviceSystemProperty(clone, kDevicePropertyProtocolAddress, address, sizeof(address)) != 0) {
        return;
    }
    edit(address);
    PN_ChangeDeviceSystemProperty(clone, kDevicePropertyProtocolAddress, address, sizeof(address));
}

void PatchWord(DeviceDescriptor clone, VK_BYTE property_id, VK_WORD value) {
    VK_BYTE bytes[2];
    pavlin::ByteSpan(bytes, sizeof(bytes)).put_le16(0, value);
    PN_ChangeDeviceSystemProperty(clone, property_id, bytes, sizeof(bytes));
}

void PatchClone(DeviceDescriptor clone, VK_BYTE flags, const VK_BYTE* lun_address, VK_WORD device_type,
                VK_WORD device_number) {
    PatchProtocolAddress(clone, [&](VK_BYTE* address) {
        address[3] = flags;
        std::memcpy(address + kLunAddressOffset, lun_address, kLunAddressSize);
    });
    PatchWord(clone, kDevicePropertyDeviceType, device_type);
    PatchWord(clone, kDevicePropertyDeviceNumber, device_number);
}

// The entries of a report, each read through the view of the bytes actually read.
template <typename Entry> class Report {
public:
    explicit Report(pavlin::ByteView bytes)
        : bytes_(bytes), count_(_PN_CISSReportEntryCount(bytes, sizeof(Entry))) {}
    VK_DWORD count() const { return count_; }
    Entry entry(VK_DWORD i) const {
        Entry e{};
        bytes_.copy_to(kCISSReportHeaderSize + static_cast<size_t>(i) * sizeof(Entry), &e, sizeof(e));
        return e;
    }

private:
    pavlin::ByteView bytes_;
    VK_DWORD count_;
};

VK_WORD LogicalEntryNumber(const REPORT_LOGICAL_LUNS_EX_ENTRY& entry) {
    return *pavlin::ByteView(entry.bDeviceAddress, sizeof(entry.bDeviceAddress)).le16(0);
}

void PatchFromLogicalEntry(DeviceDescriptor clone, const REPORT_LOGICAL_LUNS_EX_ENTRY& entry, VK_WORD number) {
    const VK_WORD type = entry.bDeviceAddress[4] == 1 ? kDeviceTypeRemoteLogicalDrive : kDeviceTypeLogicalDrive;
    PatchClone(clone, kAddressFlagsLogical, entry.bDeviceAddress, type, number);
}

} // namespace

VK_DWORD _PN_CISSReportListLength(const VK_BYTE* report, VK_QWORD buffer_size) {
    return pavlin::CISSReportListLength(report, buffer_size);
}

VK_BYTE* _VK_CISS_ReportEx(DeviceDescriptor controller, PSCSIRequest request, VK_DWORD header_length) {
    return pavlin::ReadCISSReportInto(controller, request, header_length);
}

VK_DWORD _PN_CISSReportEntryCount(pavlin::ByteView report, size_t entry_size) {
    const auto announced = report.be32(0);
    if (!announced || entry_size == 0 || report.size() < kCISSReportHeaderSize) {
        return 0;
    }
    const size_t room = report.size() - kCISSReportHeaderSize;
    return static_cast<VK_DWORD>(VK_min(static_cast<size_t>(*announced), room) / entry_size);
}

namespace {

using pavlin::ReadLogicalReport;

pavlin::TrackedBuffer ReadPhysicalReport(DeviceDescriptor controller) {
    static constexpr VK_BYTE kCDB[pavlin::kReportCDBSize] = {0xC3, 0x02, 0, 0, 0, 0, 0, 0, 0x03, 0x08, 0, 0};
    return pavlin::ReadCISSReport(controller, kCDB, kPhysicalReportFirstAllocation, kPhysicalReportTimeoutSec);
}

} // namespace

VK_BYTE* CISS_Report_LogicalEx(DeviceDescriptor controller) {
    return ReadLogicalReport(controller).release();
}

VK_BYTE* CISS_Report_PhysicalEx(DeviceDescriptor controller) {
    return ReadPhysicalReport(controller).release();
}

VK_WORD __GetPhysicalDeviceType(const CISS_REPORT_PHYSICAL_LUNS_ENTRY* entry) {
    switch (entry->bDeviceType) {
        case 5:
            return 5;
        case 6:
            return 4;
        case 7:
            return 8;
        case 8:
            return 6;
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 9:
            return (entry->bFlags & 0x01) ? 3 : 2;
        default:
            return 7;
    }
}

VK_WORD __GetPhysicalDeviceNumber(const CISS_REPORT_PHYSICAL_LUNS_ENTRY* entry) {
    const VK_BYTE* a = entry->bDeviceAddress;
    if (entry->bDeviceType == 7) {
        return a[0];
    }
    if ((a[3] & 0x3F) == 0) {
        return static_cast<VK_WORD>((((a[7] & 0x3F) - 1) * 256) + a[6]);
    }
    return 0;
}

void _PN_InitSingleLogicalDeviceDescriptor(VK_WORD number, DeviceDescriptor descriptor) {
    PatchProtocolAddress(descriptor, [&](VK_BYTE* address) {
        address[3] = kAddressFlagsLogical;
        address[kLunAddressOffset + 0] = static_cast<VK_BYTE>(number);
        address[kLunAddressOffset + 1] = static_cast<VK_BYTE>(number >> 8);
        address[kLunAddressOffset + 4] = 0x40;
    });
    PatchWord(descriptor, kDevicePropertyDeviceType, kDeviceTypeLogicalDrive);
    PatchWord(descriptor, kDevicePropertyDeviceNumber, number);
}

DeviceDescriptor PN_CreateSingleLogicalDeviceDescriptor(DeviceDescriptor controller, VK_WORD number) {
    DeviceDescriptor clone = PN_CopyDeviceDescriptor(controller);
    if (clone != nullptr) {
        _PN_InitSingleLogicalDeviceDescriptor(number, clone);
    }
    return clone;
}

DeviceDescriptorList PN_CreateLogicalDeviceDescriptorList(DeviceDescriptor controller, LDNumbersArray numbers,
                                                          VK_WORD count) {
    DeviceDescriptorList list = NewList();
    if (list == nullptr || count == 0 || numbers == nullptr) {
        return list;
    }
    const pavlin::TrackedBuffer buffer = ReadLogicalReport(controller);
    if (!buffer) {
        return list;
    }
    const Report<REPORT_LOGICAL_LUNS_EX_ENTRY> report(pavlin::ByteView(buffer.get(), buffer.size()));
    for (VK_WORD i = 0; i < count; ++i) {
        DeviceDescriptor clone = PN_CopyDeviceDescriptor(controller);
        if (clone == nullptr) {
            continue;
        }
        const VK_WORD number = numbers[i];
        std::optional<REPORT_LOGICAL_LUNS_EX_ENTRY> found;
        for (VK_DWORD e = 0; e < report.count() && !found; ++e) {
            const auto entry = report.entry(e);
            if (LogicalEntryNumber(entry) == number) {
                found = entry;
            }
        }
        if (found) {
            PatchFromLogicalEntry(clone, *found, number);
        } else {
            _PN_InitSingleLogicalDeviceDescriptor(number, clone);
        }
        _PN_AddDescriptorToList(list, clone);
    }
    return list;
}

DeviceDescriptorList PN_CreateAllLogicalDeviceDescriptorList(DeviceDescriptor controller) {
    DeviceDescriptorList list = NewList();
    if (list == nullptr) {
        return list;
    }
    const pavlin::TrackedBuffer buffer = ReadLogicalReport(controller);
    if (!buffer) {
        return list;
    }
    const Report<REPORT_LOGICAL_LUNS_EX_ENTRY> report(pavlin::ByteView(buffer.get(), buffer.size()));
    for (VK_DWORD e = 0; e < report.count(); ++e) {
        DeviceDescriptor clone = PN_CopyDeviceDescriptor(controller);
        if (clone == nullptr) {
            continue;
        }
        const auto entry = report.entry(e);
        PatchFromLogicalEntry(clone, entry, LogicalEntryNumber(entry));
        _PN_AddDescriptorToList(list, clone);
    }
    return list;
}

DeviceDescriptorList PN_CreateAllPhysicalDeviceDescriptorList(DeviceDescriptor controller) {
    DeviceDescriptorList list = NewList();
    if (list == nullptr) {
        return list;
    }
    VK_WORD device_type = 0;
    if (PN_GetDeviceSystemProperty(controller, kDevicePropertyDeviceType, &device_type,
                                   sizeof(device_type)) != 0 ||
        device_type != kDeviceTypeController) {
        return list;
    }
    const pavlin::TrackedBuffer buffer = ReadPhysicalReport(controller);
    if (!buffer) {
        return list;
    }
    const Report<CISS_REPORT_PHYSICAL_LUNS_ENTRY> report(pavlin::ByteView(buffer.get(), buffer.size()));
    for (VK_DWORD e = 0; e < report.count(); ++e) {
        DeviceDescriptor clone = PN_CopyDeviceDescriptor(controller);
        if (clone == nullptr) {
            continue;
        }
        const auto entry = report.entry(e);
        PatchClone(clone, kAddressFlagsPhysical, entry.bDeviceAddress, __GetPhysicalDeviceType(&entry),
                   __GetPhysicalDeviceNumber(&entry));
        _PN_AddDescriptorToList(list, clone);
    }
    return list;
}

DeviceDescriptorList _PN_CreatePhysicalDeviceDescriptorList(DeviceDescriptor controller,
                                                            PDNumbersArray numbers, VK_WORD count,
                                                            const VK_BYTE* device_types, VK_WORD type_count) {
    DeviceDescriptorList list = NewList();
    if (list == nullptr || count == 0 || numbers == nullptr) {
        return list;
    }
    const pavlin::TrackedBuffer buffer = ReadPhysicalReport(controller);
    if (!buffer) {
        return list;
    }
    const Report<CISS_REPORT_PHYSICAL_LUNS_ENTRY> report(pavlin::ByteView(buffer.get(), buffer.size()));
    const auto wanted = [&](VK_BYTE type) {
        return device_types != nullptr &&
               std::find(device_types, device_types + type_count, type) != device_types + type_count;
    };
    for (VK_WORD i = 0; i < count; ++i) {
        DeviceDescriptor clone = PN_CopyDeviceDescriptor(controller);
        if (clone == nullptr) {
            continue;
        }
        const VK_WORD number = numbers[i];
        std::optional<CISS_REPORT_PHYSICAL_LUNS_ENTRY> found;
        for (VK_DWORD e = 0; e < report.count() && !found; ++e) {
            const auto entry = report.entry(e);
            if (wanted(entry.bDeviceType) && __GetPhysicalDeviceNumber(&entry) == number) {
                found = entry;
            }
        }
        if (found) {
            const VK_WORD type = __GetPhysicalDeviceType(&*found);
            // An expander takes no SCSI commands.
            const VK_BYTE flags =
                type == kDeviceTypeExpander ? kProtocolAddressFlagPhysical : kAddressFlagsPhysical;
            PatchClone(clone, flags, found->bDeviceAddress, type, number);
        } else {
            PatchProtocolAddress(clone, [](VK_BYTE* address) { address[3] = kProtocolAddressFlagPhysical; });
            PatchWord(clone, kDevicePropertyDeviceNumber, number);
        }
        _PN_AddDescriptorToList(list, clone);
    }
    return list;
}

DeviceDescriptorList PN_CreatePhysicalDriveDescriptorList(DeviceDescriptor controller, PDNumbersArray numbers,
                                                          VK_WORD count) {
    return _PN_CreatePhysicalDeviceDescriptorList(controller, numbers, count, kPhysicalDriveTypes,
                                                  sizeof(kPhysicalDriveTypes));
}

DeviceDescriptorList PN_CreateSEPDescriptorList(DeviceDescriptor controller, SEPNumbersArray numbers,
                                                VK_WORD count) {
    return _PN_CreatePhysicalDeviceDescriptorList(controller, numbers, count, kSEPTypes, sizeof(kSEPTypes));
}
