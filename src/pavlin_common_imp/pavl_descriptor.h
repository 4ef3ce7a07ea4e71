// Private layouts and helpers of device descriptors and descriptor lists.
#ifndef PAVL_DESCRIPTOR_H
#define PAVL_DESCRIPTOR_H

#include "ppavl_discovery.h"

#include "pavl_bytes.h"

#include <cstddef>
#include <optional>
#include <span>

// The length word is 16 bits wide, so no blob can be longer.
inline constexpr size_t kMaxDeviceDescriptorSize = 0xFFFF;
// Length word plus one entry header (id and 16-bit data length).
inline constexpr size_t kDeviceDescriptorHeaderSize = 2;
inline constexpr size_t kDeviceDescriptorEntryHeaderSize = 3;
inline constexpr size_t kProtocolAddressSize = 16;

// Flags byte (byte 3) of the protocol address.
inline constexpr VK_BYTE kProtocolAddressFlagCommands = 0x01;
inline constexpr VK_BYTE kProtocolAddressFlagPhysical = 0x02;
inline constexpr VK_BYTE kProtocolAddressFlagLogical = 0x04;

struct _DescriptorListEntry {
    DeviceDescriptor device_descriptor;
    _DescriptorListEntry* next_entry;
};

struct _DescriptorListHeader {
    _DescriptorListEntry* first_element;
    _DescriptorListEntry* last_element;
};

struct _DescriptorListIterator {
    _DescriptorListHeader* list;
    _DescriptorListEntry* current_element;
    VK_UINT32 current_index; // kept for layout; nothing reads or advances it
};

// One entry to write into a new descriptor.
struct DeviceDescriptorEntry {
    VK_BYTE property_id;
    const void* data;
    size_t length;
};

// Total length of a descriptor holding these entries (length word included).
size_t _PN_DeviceDescriptorLength(std::span<const DeviceDescriptorEntry> entries);

// A new tracked descriptor with the entries in the given order; NULL when it would exceed
// kMaxDeviceDescriptorSize or cannot be allocated.
DeviceDescriptor _PN_BuildDeviceDescriptor(std::span<const DeviceDescriptorEntry> entries);

// The data of the first entry with the id, or an empty span with found == false. The walk stops at
// the first entry whose header or data would pass the blob's total length.
struct DevicePropertyRange {
    size_t offset;
    size_t length;
};
// The walk itself, over a descriptor's bytes: where the first entry with the id lies.
std::optional<DevicePropertyRange> _PN_WalkDeviceProperties(pavlin::ByteView blob, VK_BYTE property_id);
struct DeviceDescriptorProperty {
    bool found;
    std::span<VK_BYTE> data;
};
DeviceDescriptorProperty _PN_FindDeviceProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id);

// Command-interface decoders. Each zero-fills the caller's buffer first.
// The node name is left NUL-terminated; a name that does not fit is not found.
VK_BOOL __DecodeDeviceNodeName(DeviceDescriptor device_descriptor, char* node_name, size_t node_name_size);
// Protocol type, 0xFFFF when absent.
VK_WORD _PN_GetDeviceProtocol(DeviceDescriptor device_descriptor);
// Protocol type and address (at most the buffer size); true only when both exist.
VK_BOOL __DecodeDeviceProtocolInfo(DeviceDescriptor device_descriptor, VK_WORD* protocol_type,
                                   void* protocol_address, size_t protocol_address_size);

// Host discovery behind the list constructors.
void _PN_GetControllerDescriptorList(DeviceDescriptorList list);
void _PN_GetHostBusAdapterDescriptorList(DeviceDescriptorList list);

#endif
