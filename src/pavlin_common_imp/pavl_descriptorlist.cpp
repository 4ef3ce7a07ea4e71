// Device descriptors and the singly linked lists that own them.
#include "pavl_descriptor.h"

#include "ppavl_debug.h"
#include "ppavl_platform.h"

#include <cstring>

namespace {

VK_BYTE* Blob(DeviceDescriptor d) {
    return static_cast<VK_BYTE*>(d);
}

// The blob's own length word; the descriptor is as long as it says.
size_t BlobLength(DeviceDescriptor d) {
    return pavlin::ByteView(Blob(d), kDeviceDescriptorHeaderSize).le16(0).value_or(0);
}

_DescriptorListHeader* header(DeviceDescriptorList l) {
    return static_cast<_DescriptorListHeader*>(l);
}

_DescriptorListIterator* cursor(DeviceDescriptorListIterator i) {
    return static_cast<_DescriptorListIterator*>(i);
}

DeviceDescriptorList new_list() {
    auto* list = static_cast<_DescriptorListHeader*>(VK_malloc(sizeof(_DescriptorListHeader)));
    if (list != nullptr) {
        list->first_element = nullptr;
        list->last_element = nullptr;
    }
    return list;
}

} // namespace

size_t _PN_DeviceDescriptorLength(std::span<const DeviceDescriptorEntry> entries) {
    size_t total = kDeviceDescriptorHeaderSize;
    for (const auto& e : entries) {
        total += kDeviceDescriptorEntryHeaderSize + e.length;
    }
    return total;
}

DeviceDescriptor _PN_BuildDeviceDescriptor(std::span<const DeviceDescriptorEntry> entries) {
    // Each term is checked on its own so that no sum of huge lengths can wrap below the limit.
    size_t total = kDeviceDescriptorHeaderSize;
    for (const auto& e : entries) {
        if (e.length > kMaxDeviceDescriptorSize || (e.length > 0 && e.data == nullptr)) {
            return nullptr;
        }
        total += kDeviceDescriptorEntryHeaderSize + e.length;
        if (total > kMaxDeviceDescriptorSize) {
            return nullptr;
        }
    }
    auto* out = static_cast<VK_BYTE*>(VK_malloc(total));
    if (out == nullptr) {
        return nullptr;
    }
    pavlin::ByteSpan blob(out, total);
    blob.put_le16(0, static_cast<VK_WORD>(total));
    size_t pos = kDeviceDescriptorHeaderSize;
    for (const auto& e : entries) {
        blob.put8(pos, e.property_id);
        blob.put_le16(pos + 1, static_cast<VK_WORD>(e.length));
        pos += kDeviceDescriptorEntryHeaderSize;
        blob.put_bytes(pos, e.data, e.length);
        pos += e.length;
    }
    return out;
}

std::optional<DevicePropertyRange> _PN_WalkDeviceProperties(pavlin::ByteView blob, VK_BYTE property_id) {
    // The length word bounds the walk as far as the view reaches; an entry whose header or data would
    // pass it ends the walk.
    const auto total = blob.le16(0);
    if (!total) {
        return std::nullopt;
    }
    const pavlin::ByteView entries = blob.first(*total);
    size_t pos = kDeviceDescriptorHeaderSize;
    while (entries.has(pos, kDeviceDescriptorEntryHeaderSize)) {
        const VK_BYTE id = *entries.u8(pos);
        const size_t len = *entries.le16(pos + 1);
        const size_t data = pos + kDeviceDescriptorEntryHeaderSize;
        if (!entries.has(data, len)) {
            break;
        }
        if (id == property_id) {
            return DevicePropertyRange{data, len};
        }
        pos = data + len;
    }
    return std::nullopt;
}

DeviceDescriptorProperty _PN_FindDeviceProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id) {
    if (device_descriptor == nullptr) {
        return {false, {}};
    }
    VK_BYTE* b = Blob(device_descriptor);
    const auto range = _PN_WalkDeviceProperties(pavlin::ByteView(b, BlobLength(device_descriptor)), property_id);
    if (!range) {
        return {false, {}};
    }
    return {true, std::span<VK_BYTE>(b + range->offset, range->length)};
}

size_t PN_GetDeviceDescriptorSize(DeviceDescriptor device_descriptor) {
    if (device_descriptor == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'device_descriptor != NULL' failed: NULL device descriptor\n",
                    __func__, __LINE__);
        return 0;
    }
    return BlobLength(device_descriptor);
}

DeviceDescriptor PN_CopyDeviceDescriptor(DeviceDescriptor device_descriptor) {
    if (device_descriptor == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'device_descriptor != NULL' failed: NULL device descriptor\n",
                    __func__, __LINE__);
        return nullptr;
    }
    // A malformed length below 2 still gets its length word copied, so the copy stays readable.
    size_t size = BlobLength(device_descriptor);
    if (size < kDeviceDescriptorHeaderSize) {
        size = kDeviceDescriptorHeaderSize;
    }
    void* copy = VK_malloc(size);
    if (copy != nullptr) {
        std::memcpy(copy, device_descriptor, size);
    }
    return copy;
}

void PN_DestroyDeviceDescriptor(DeviceDescriptor device_descriptor) {
    if (device_descriptor != nullptr) {
        VK_free(device_descriptor);
    }
}

VK_WORD PN_GetDeviceSystemPropertySize(DeviceDescriptor device_descriptor, VK_BYTE property_id) {
    const auto p = _PN_FindDeviceProperty(device_descriptor, property_id);
    return p.found ? static_cast<VK_WORD>(p.data.size()) : 0;
}

VK_BYTE PN_GetDeviceSystemProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id,
                                   void* property_buffer, VK_DWORD property_buffer_size) {
    if (property_buffer == nullptr) {
        property_buffer_size = 0;
    } else if (property_buffer_size > 0) {
        std::memset(property_buffer, 0, property_buffer_size);
    }
    const auto p = _PN_FindDeviceProperty(device_descriptor, property_id);
    if (!p.found) {
        return 1;
    }
    if (p.data.size() > property_buffer_size) {
        return 2;
    }
    if (!p.data.empty()) {
        std::memcpy(property_buffer, p.data.data(), p.data.size());
    }
    return 0;
}

VK_BYTE PN_ChangeDeviceSystemProperty(DeviceDescriptor device_descriptor, VK_BYTE property_id,
                                      const void* property_buffer, VK_DWORD property_buffer_size) {
    const auto p = _PN_FindDeviceProperty(device_descriptor, property_id);
    if (!p.found) {
        return 1;
    }
    if (p.data.size() != property_buffer_size) {
        return 2;
    }
    if (!p.data.empty()) {
        if (property_buffer == nullptr) {
            return 2;
        }
        std::memmove(p.data.data(), property_buffer, p.data.size());
    }
    return 0;
}

DeviceDescriptorList PN_CreateControllerDescriptorList(void) {
    DeviceDescriptorList list = new_list();
    if (list != nullptr) {
        _PN_GetControllerDescriptorList(list);
    }
    return list;
}

DeviceDescriptorList PN_CreateHostBusAdapterDescriptorList(void) {
    DeviceDescriptorList list = new_list();
    if (list != nullptr) {
        _PN_GetHostBusAdapterDescriptorList(list);
    }
    return list;
}

void PN_DestroyDeviceDescriptorList(DeviceDescriptorList list) {
    if (list == nullptr) {
        return;
    }
    _DescriptorListEntry* e = header(list)->first_element;
    while (e != nullptr) {
        _DescriptorListEntry* next = e->next_entry;
        PN_DestroyDeviceDescriptor(e->device_descriptor);
        VK_free(e);
        e = next;
    }
    VK_free(list);
}

VK_BOOL _PN_AddDescriptorToList(DeviceDescriptorList list, DeviceDescriptor device_descriptor) {
    if (list == nullptr || device_descriptor == nullptr) {
        // An entry without a descriptor would end every walk early, so none is added.
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'list != NULL && device_descriptor != NULL' failed: nothing to "
                    "append\n",
                    __func__, __LINE__);
        PN_DestroyDeviceDescriptor(device_descriptor);
        return kFalse;
    }
    auto* e = static_cast<_DescriptorListEntry*>(VK_malloc(sizeof(_DescriptorListEntry)));
    if (e == nullptr) {
        PN_DestroyDeviceDescriptor(device_descriptor);
        return kFalse;
    }
    e->device_descriptor = device_descriptor;
    e->next_entry = nullptr;
    _DescriptorListHeader* h = header(list);
    if (h->first_element == nullptr) {
        h->first_element = e;
    } else {
        h->last_element->next_entry = e;
    }
    h->last_element = e;
    return kTrue;
}

DeviceDescriptorListIterator PN_CreateDeviceListIterator(DeviceDescriptorList list) {
    if (list == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'list != NULL' failed: NULL descriptor list passed to "
                    "CreateDeviceListIterator\n",
                    __func__, __LINE__);
        return nullptr;
    }
    auto* it = static_cast<_DescriptorListIterator*>(VK_malloc(sizeof(_DescriptorListIterator)));
    if (it != nullptr) {
        it->list = header(list);
        it->current_element = header(list)->first_element;
        it->current_index = 0;
    }
    return it;
}

void PN_DestroyDeviceListIterator(DeviceDescriptorListIterator iterator) {
    if (iterator != nullptr) {
        VK_free(iterator);
    }
}

VK_BOOL PN_IsDeviceListIteratorEnd(DeviceDescriptorListIterator iterator) {
    if (iterator == nullptr) {
        return kTrue;
    }
    const _DescriptorListEntry* e = cursor(iterator)->current_element;
    return (e == nullptr || e->device_descriptor == nullptr) ? kTrue : kFalse;
}

void PN_MoveDeviceListIteratorNext(DeviceDescriptorListIterator iterator) {
    if (!PN_IsDeviceListIteratorEnd(iterator)) {
        cursor(iterator)->current_element = cursor(iterator)->current_element->next_entry;
    }
}

DeviceDescriptor PN_GetDeviceListItemAt(DeviceDescriptorListIterator iterator) {
    if (PN_IsDeviceListIteratorEnd(iterator)) {
        return nullptr;
    }
    return cursor(iterator)->current_element->device_descriptor;
}

VK_BOOL __DecodeDeviceNodeName(DeviceDescriptor device_descriptor, char* node_name, size_t node_name_size) {
    if (node_name == nullptr || node_name_size == 0) {
        return kFalse;
    }
    const auto p = _PN_FindDeviceProperty(device_descriptor, kDevicePropertyNodeName);
    // A cut name could name another existing node, so a name that leaves no room for the NUL is
    // treated as missing, and nothing of it is left in the buffer.
    if (!p.found || p.data.size() >= node_name_size) {
        std::memset(node_name, 0, node_name_size);
        return kFalse;
    }
    // A found name is written with its NUL only: the buffer is a path's size, and every command
    // decodes its node again.
    if (!p.data.empty()) {
        std::memcpy(node_name, p.data.data(), p.data.size());
    }
    node_name[p.data.size()] = '\0';
    return kTrue;
}

VK_WORD _PN_GetDeviceProtocol(DeviceDescriptor device_descriptor) {
    const auto p = _PN_FindDeviceProperty(device_descriptor, kDevicePropertyProtocolType);
    if (!p.found || p.data.size() != sizeof(VK_WORD)) {
        return 0xFFFF;
    }
    return pavlin::ByteView(p.data.data(), p.data.size()).le16(0).value_or(0xFFFF);
}

VK_BOOL __DecodeDeviceProtocolInfo(DeviceDescriptor device_descriptor, VK_WORD* protocol_type,
                                   void* protocol_address, size_t protocol_address_size) {
    if (protocol_address == nullptr) {
        protocol_address_size = 0;
    } else if (protocol_address_size > 0) {
        std::memset(protocol_address, 0, protocol_address_size);
    }
    const auto type = _PN_FindDeviceProperty(device_descriptor, kDevicePropertyProtocolType);
    const auto address = _PN_FindDeviceProperty(device_descriptor, kDevicePropertyProtocolAddress);
    const bool type_ok = type.found && type.data.size() == sizeof(VK_WORD);
    if (protocol_type != nullptr) {
        *protocol_type = type_ok ? pavlin::ByteView(type.data.data(), type.data.size()).le16(0).value_or(0xFFFF)
                                 : static_cast<VK_WORD>(0xFFFF);
    }
    if (!type_ok || !address.found) {
        return kFalse;
    }
    const size_t n =
        address.data.size() < protocol_address_size ? address.data.size() : protocol_address_size;
    if (n > 0) {
        std::memcpy(protocol_address, address.data.data(), n);
    }
    return kTrue;
}
