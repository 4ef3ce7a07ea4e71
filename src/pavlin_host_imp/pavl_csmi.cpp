// CSMI SAS interface of CSMI-capable drivers: the request senders, the SSP pass-through that serves
// descriptors of protocol type 3, and the topology walk behind a controller.
#include "pavl_csmi.h"

#include "pavl_linux_x86.h"
#include "pavl_descriptor.h"
#include "pavl_hostfile.h"
#include "ppavl_debug.h"
#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr VK_DWORD kCSMIResponseMax = sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER::bResponse);

} // namespace

VK_DWORD __SendCSMISASCommand(int device_handle, unsigned long request_code, void* buffer,
                              VK_DWORD buffer_size) {
    if (buffer == nullptr || buffer_size < sizeof(IOCTL_HEADER)) {
        return EINVAL;
    }
    // Some drivers write past the caller's record; the working copy gives them room.
    const size_t working_size = static_cast<size_t>(buffer_size) + sizeof(IOCTL_HEADER);
    pavlin::TrackedBuffer working = PN_TRACKED_ZEROED(working_size);
    if (!working) {
        return ENOMEM;
    }
    std::memcpy(working.get(), buffer, buffer_size);
    IOCTL_HEADER header;
    std::memcpy(&header, working.get(), sizeof(header));
    header.Length = buffer_size;
    header.Timeout = kCSMISASTimeout;
    header.ReturnCode = 0;
    std::memcpy(working.get(), &header, sizeof(header));

    const VK_DWORD result = _PN_SendIOCTL(device_handle, request_code, working.get());
    std::memcpy(buffer, working.get(), buffer_size);
    return result;
}

bool __BuildCSMISSPPassthru(VK_BYTE* buffer, VK_DWORD buffer_size, VK_DWORD controller_number,
                            VK_BYTE phy_identifier, const VK_BYTE* sas_address, EnTransferType transfer_type,
                            const VK_BYTE* cdb, VK_BYTE cdb_length, const VK_BYTE* data_buffer,
                            VK_DWORD data_buffer_size) {
    CSMI_SAS_SSP_PASSTHRU_BUFFER record{};
    pavlin::ByteSpan out(buffer, buffer_size);
    // The record and the data that follows it must both fit the buffer.
    if (cdb_length > sizeof(record.bCDB) || (cdb_length != 0 && cdb == nullptr) ||
        (data_buffer_size != 0 && data_buffer == nullptr) || sas_address == nullptr ||
        !out.has(sizeof(record), data_buffer_size)) {
        return false;
    }
    record.IoctlHeader.IOControllerNumber = controller_number;
    switch (transfer_type) {
        case eDATA_TRANSFER_IN:
            record.uFlags = kCSMISSPFlagRead;
            break;
        case eDATA_TRANSFER_OUT:
        case eDATA_TRANSFER_INOUT:
            record.uFlags = kCSMISSPFlagWrite;
            record.IoctlHeader.Direction = 1;
            out.put_bytes(sizeof(record), data_buffer, data_buffer_size);
            break;
        case eDATA_TRANSFER_NONE:
            record.uFlags = kCSMISSPFlagNoData;
            break;
        default:
            break;
    }
    record.bPhyIdentifier = phy_identifier;
    record.bPortIdentifier = 0xFF;
    record.bConnectionRate = 0;
    std::memcpy(record.bDestinationSASAddress, sas_address, sizeof(record.bDestinationSASAddress));
    std::memcpy(record.bLun, sas_address, sizeof(record.bLun));
    if (cdb_length != 0) {
        std::memcpy(record.bCDB, cdb, cdb_length);
    }
    record.bCDBLength = cdb_length;
    record.uDataLength = data_buffer_size;
    out.put_bytes(0, &record, sizeof(record));
    return true;
}

void __TakeCSMISSPPassthruReply(const VK_BYTE* buffer, VK_DWORD buffer_size, EnTransferType transfer_type,
                                VK_BYTE* data_buffer, VK_DWORD data_buffer_size, VK_BYTE* sense_buffer,
                                VK_DWORD sense_buffer_size, VK_DWORD* valid_sense_length, VK_BYTE* device_status) {
    const pavlin::ByteView reply(buffer, buffer_size);
    CSMI_SAS_SSP_PASSTHRU_BUFFER record{};
    // A buffer too short for the record holds no reply: no status, data or sense is taken from it.
    if (!reply.copy_to(0, &record, sizeof(record))) {
        if (valid_sense_length != nullptr) {
            *valid_sense_length = 0;
        }
        return;
    }
    if ((transfer_type == eDATA_TRANSFER_IN || transfer_type == eDATA_TRANSFER_INOUT) &&
        data_buffer != nullptr) {
        // At most what the driver reports, the caller can take and the buffer holds.
        const pavlin::ByteView data = reply.from(sizeof(record));
        const size_t n = static_cast<size_t>(
            VK_min(VK_min(record.uDataBytes, static_cast<VK_UINT64>(data_buffer_size)),
                   static_cast<VK_UINT64>(data.size())));
        data.copy_to(0, data_buffer, n);
    }
    if (device_status != nullptr) {
        *device_status = record.bStatus;
    }
    VK_DWORD valid = 0;
    if (record.bDataPresent == kCSMISSPResponseDataPresent) {
        valid = VK_min(static_cast<VK_DWORD>(BIG_ENDIAN_2_VK_WORD(record.bResponseLength)), kCSMIResponseMax);
        if (sense_buffer != nullptr && sense_buffer_size != 0 && valid != 0) {
            std::memcpy(sense_buffer, record.bResponse, VK_min(valid, sense_buffer_size));
        }
    }
    // No response data means no sense, whatever size the sense buffer has.
    if (valid_sense_length != nullptr) {
        *valid_sense_length = valid;
    }
}

VK_DWORD SendCSMISASSSPPassthruCommand(int device_handle, VK_DWORD controller_number, VK_BYTE phy_identifier,
                                       const VK_BYTE* sas_address, EnTransferType transfer_type,
                                       const VK_BYTE* cdb, VK_BYTE cdb_length, VK_BYTE* data_buffer,
                                       VK_DWORD data_buffer_size, VK_BYTE* sense_buffer,
                                       VK_DWORD sense_buffer_size, VK_DWORD* valid_sense_length,
                                       VK_BYTE* device_status) {
    const VK_UINT64 total = sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER) + static_cast<VK_UINT64>(data_buffer_size);
    if (total > UINT32_MAX - sizeof(IOCTL_HEADER)) {
        return 1;
    }
    pavlin::TrackedBuffer buffer = PN_TRACKED_ZEROED(static_cast<size_t>(total));
    if (!buffer) {
        return 1;
    }
    if (!__BuildCSMISSPPassthru(buffer.get(), static_cast<VK_DWORD>(total), controller_number, phy_identifier, sas_address, transfer_type,
                                cdb, cdb_length, data_buffer, data_buffer_size)) {
        return 1;
    }
    const VK_DWORD result = __SendCSMISASCommand(device_handle, kCSMISASSSPPassthroughRequest, buffer.get(),
                                                 static_cast<VK_DWORD>(total));
    CSMI_SAS_SSP_PASSTHRU_BUFFER record;
    std::memcpy(&record, buffer.get(), sizeof(record));
    if (result != 0 || record.IoctlHeader.ReturnCode != 0) {
        if (device_status != nullptr) {
            *device_status = record.bStatus;
        }
        return result != 0 ? result : 1;
    }
    __TakeCSMISSPPassthruReply(buffer.get(), static_cast<VK_DWORD>(total), transfer_type, data_buffer, data_buffer_size, sense_buffer,
                               sense_buffer_size, valid_sense_length, device_status);
    return 0;
}

// ---- Information and background-activity requests ----------------------------------------------

namespace {

template <typename Buffer>
VK_DWORD SendInformationRequest(int device_handle, unsigned long request_code, VK_DWORD controller_number,
                                Buffer* buffer) {
    if (buffer == nullptr) {
        return EINVAL;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    buffer->IoctlHeader.IOControllerNumber = controller_number;
    buffer->IoctlHeader.Direction = 0;
    return __SendCSMISASCommand(device_handle, request_code, buffer, sizeof(*buffer));
}

} // namespace

VK_DWORD SendCSMISASDriverInformationCommand(int device_handle, VK_DWORD controller_number,
                                             CSMI_SAS_DRIVER_INFO_BUFFER* buffer) {
    return SendInformationRequest(device_handle, kCSMISASDriverInfoRequest, controller_number, buffer);
}

VK_DWORD SendCSMISASControllerConfigCommand(int device_handle, VK_DWORD controller_number,
                                            CSMI_SAS_CNTLR_CONFIG_BUFFER* buffer) {
    return SendInformationRequest(device_handle, kCSMISASControllerConfigRequest, controller_number, buffer);
}

VK_DWORD SendCSMISASControllerStatusCommand(int device_handle, VK_DWORD controller_number,
                                            CSMI_SAS_CNTLR_STATUS_BUFFER* buffer) {
    return SendInformationRequest(device_handle, kCSMISASControllerStatusRequest, controller_number, buffer);
}

VK_DWORD SendCSMISASPhyInfoCommand(int device_handle, VK_DWORD controller_number,
                                   CSMI_SAS_PHY_INFO_BUFFER* buffer) {
    return SendInformationRequest(device_handle, kCSMISASPhyInfoRequest, controller_number, buffer);
}

VK_DWORD SendCSMISASPauseBackgroundActivityCommand(int device_handle, VK_DWORD controller_number,
                                                   VK_BYTE phy_identifier, const VK_BYTE* sas_address,
                                                   VK_BOOL pause) {
    (void)phy_identifier;
    pavlin::TrackedBuffer buffer = PN_TRACKED_ZEROED(sizeof(CSMI_SAS_OFFLINE_PAUSE_ACTIVITY_BUFFER));
    if (!buffer) {
        return 1;
    }
    CSMI_SAS_OFFLINE_PAUSE_ACTIVITY_BUFFER record{};
    record.IoctlHeader.IOControllerNumber = controller_number;
    if (sas_address != nullptr) {
        std::memcpy(record.bSASAddress, sas_address, sizeof(record.bSASAddress));
    }
    std::memcpy(buffer.get(), &record, sizeof(record));
    return __SendCSMISASCommand(device_handle,
                                pause ? kCSMISASPauseActivityRequest : kCSMISASResumeActivityRequest,
                                buffer.get(), sizeof(record));
}

// ---- SMP pass-through ---------------------------------------------------------------------------

bool __BuildCSMISMPPassthru(CSMI_SAS_SMP_PASSTHRU_BUFFER* buffer, VK_DWORD controller_number,
                            VK_BYTE phy_identifier, VK_BYTE port_identifier, const VK_BYTE* sas_address,
                            VK_BYTE frame_type, VK_BYTE function, VK_BYTE allocated_response_length,
                            VK_BYTE request_length, const VK_BYTE* additional_request,
                            VK_DWORD additional_request_size) {
    // uRequestLength announces the whole additional request, so it must lie inside the frame.
    if (buffer == nullptr || sas_address == nullptr || additional_request_size > kCSMISASSMPAdditionalBytes ||
        (additional_request_size != 0 && additional_request == nullptr)) {
        return false;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    buffer->IoctlHeader.IOControllerNumber = controller_number;
    buffer->bPhyIdentifier = phy_identifier;
    buffer->bPortIdentifier = port_identifier;
    buffer->bConnectionRate = 0;
    std::memcpy(buffer->bDestinationSASAddress, sas_address, sizeof(buffer->bDestinationSASAddress));
    buffer->uRequestLength = additional_request_size;
    buffer->Request.bFrameType = frame_type;
    buffer->Request.bFunction = function;
    buffer->Request.bAllocatedResponseLength = allocated_response_length;
    buffer->Request.bRequestLength = request_length;
    if (additional_request_size != 0) {
        std::memcpy(buffer->Request.bAdditionalRequestBytes, additional_request, additional_request_size);
    }
    return true;
}

void __TakeCSMISMPPassthruReply(const CSMI_SAS_SMP_PASSTHRU_BUFFER* buffer, VK_BYTE* frame_type,
                                VK_BYTE* function, VK_BYTE* function_result, VK_BYTE* response_length,
                                VK_BYTE* additional_response, VK_DWORD additional_response_size) {
    if (frame_type != nullptr) {
        *frame_type = buffer->Response.bFrameType;
    }
    if (function != nullptr) {
        *function = buffer->Response.bFunction;
    }
    if (function_result != nullptr) {
        *function_result = buffer->Response.bFunctionResult;
    }
    if (response_length != nullptr) {
        *response_length = buffer->Response.bResponseLength;
    }
    if (additional_response != nullptr && additional_response_size != 0) {
        std::memcpy(additional_response, buffer->Response.bAdditionalResponseBytes,
                    VK_min(static_cast<size_t>(additional_response_size), kCSMISASSMPAdditionalBytes));
    }
}

VK_DWORD SendCSMISASSMPCommand(int device_handle, VK_DWORD controller_number, VK_BYTE phy_identifier,
                               VK_BYTE port_identifier, const VK_BYTE* sas_address, VK_BYTE* frame_type,
                               VK_BYTE* function, VK_BYTE allocated_response_length, VK_BYTE request_length,
                               const VK_BYTE* additional_request, VK_DWORD additional_request_size,
                               VK_BYTE* function_result, VK_BYTE* response_length,
                               VK_BYTE* additional_response, VK_DWORD additional_response_size) {
    if (frame_type == nullptr || function == nullptr) {
        return 1;
    }
    pavlin::TrackedBuffer memory = PN_TRACKED_ZEROED(sizeof(CSMI_SAS_SMP_PASSTHRU_BUFFER));
    if (!memory) {
        return 1;
    }
    auto* buffer = reinterpret_cast<CSMI_SAS_SMP_PASSTHRU_BUFFER*>(memory.get());
    if (!__BuildCSMISMPPassthru(buffer, controller_number, phy_identifier, port_identifier, sas_address,
                                *frame_type, *function, allocated_response_length, request_length,
                                additional_request, additional_request_size)) {
        return 1;
    }
    const VK_DWORD result =
        __SendCSMISASCommand(device_handle, kCSMISASSMPPassthroughRequest, buffer, sizeof(*buffer));
    if (result != 0) {
        return result;
    }
    // A driver that could not carry the request says so in the header; the frame is then empty.
    if (buffer->IoctlHeader.ReturnCode != 0) {
        return 1;
    }
    __TakeCSMISMPPassthruReply(buffer, frame_type, function, function_result, response_length,
                               additional_response, additional_response_size);
    return 0;
}

// ---- Topology walk ------------------------------------------------------------------------------

namespace {

constexpr VK_BYTE kInquiryCDB[6] = {0x12, 0x00, 0x00, 0x00, 0x74, 0x00};
constexpr VK_DWORD kInquirySize = 0x74;
constexpr VK_DWORD kInquirySenseSize = 40;
constexpr size_t kInquiryProductOffset = 16;
constexpr int kInquiryProductSize = 16;
constexpr VK_BYTE kPeripheralDirectAccess = 0x00;
constexpr VK_BYTE kPeripheralSequentialAccess = 0x01;
constexpr VK_BYTE kPeripheralEnclosureServices = 0x0D;
constexpr VK_BYTE kEnclosureDeviceType = 0x1D;
constexpr VK_DWORD kReportGeneralRequestLength = 4;
constexpr VK_DWORD kDiscoverRequestLength = 12;
constexpr size_t kSMPFrameHeader = 4;

// The walk's requests as the driver's, on the controller's open node.
class NodeTransport : public CSMIWalkTransport {
public:
    NodeTransport(int handle, VK_DWORD controller_number)
        : handle_(handle), controller_number_(controller_number) {}

    VK_DWORD PhyInfo(CSMI_SAS_PHY_INFO_BUFFER* buffer) override {
        return SendCSMISASPhyInfoCommand(handle_, controller_number_, buffer);
    }
    VK_DWORD Inquiry(VK_BYTE phy_identifier, const VK_BYTE* sas_address, VK_BYTE* data, VK_DWORD data_size,
                     VK_BYTE* device_status) override {
        VK_BYTE sense[kInquirySenseSize] = {};
        VK_DWORD valid_sense = 0;
        return SendCSMISASSSPPassthruCommand(handle_, controller_number_, phy_identifier, sas_address,
                                             eDATA_TRANSFER_IN, kInquiryCDB, sizeof(kInquiryCDB), data,
                                             data_size, sense, sizeof(sense), &valid_sense, device_status);
    }
    VK_DWORD SMP(VK_BYTE phy_identifier, VK_BYTE port_identifier, const VK_BYTE* sas_address,
                 VK_BYTE function, const VK_BYTE* request, VK_DWORD request_size, VK_BYTE* function_result,
                 VK_BYTE* response, VK_DWORD response_size) override {
        VK_BYTE frame_type = kSMPRequestFrameType;
        VK_BYTE response_function = function;
        VK_BYTE response_length = 0;
        return SendCSMISASSMPCommand(handle_, controller_number_, phy_identifier, port_identifier,
                                     sas_address, &frame_type, &response_function, 0, 0, request,
                                     request_size, function_result, &response_length, response,
                                     response_size);
    }
    void Sleep(VK_DWORD milliseconds) override { PN_Sleep(milliseconds); }

private:
    int handle_;
    VK_DWORD controller_number_;
};

void AddDevice(CSMIPhysicalDeviceInfoList* devices, VK_BYTE device_type, const CSMI_SAS_PHY_ENTITY& entity,
               bool behind_expander, const CSMIAddress& parent, VK_BYTE phy_index) {
    auto* d = static_cast<CSMIPhysicalDeviceInfo*>(VK_malloc(sizeof(CSMIPhysicalDeviceInfo)));
    if (d == nullptr) {
        return;
    }
    std::memset(d, 0, sizeof(*d));
    d->device_type = device_type;
    d->device_address.phy_identifier = entity.Identify.bPhyIdentifier;
    std::memcpy(d->device_address.sas_address, entity.Attached.bSASAddress,
                sizeof(d->device_address.sas_address));
    if (behind_expander) {
        d->parent_device_address = parent;
    }
    d->phy_index = phy_index;
    d->next_item = nullptr;
    if (devices->list_tail == nullptr) {
        devices->list_head = d;
    } else {
        devices->list_tail->next_item = d;
    }
    devices->list_tail = d;
}

// Byte `offset` of an SMP response frame, whose additional bytes start at frame byte 4.
VK_BYTE FrameByte(const VK_BYTE* additional_response, size_t offset) {
    return additional_response[offset - kSMPFrameHeader];
}

} // namespace

bool __IsCSMIDeviceListed(const CSMIPhysicalDeviceInfoList* devices, const VK_BYTE* sas_address) {
    for (const CSMIPhysicalDeviceInfo* d = devices->list_head; d != nullptr; d = d->next_item) {
        if (std::memcmp(d->device_address.sas_address, sas_address, sizeof(d->device_address.sas_address)) ==
            0) {
            return true;
        }
    }
    return false;
}

void __FreeCSMIPhysicalDeviceInfoList(CSMIPhysicalDeviceInfoList* devices) {
    CSMIPhysicalDeviceInfo* d = devices->list_head;
    while (d != nullptr) {
        CSMIPhysicalDeviceInfo* next = d->next_item;
        VK_free(d);
        d = next;
    }
    devices->list_head = nullptr;
    devices->list_tail = nullptr;
}

void __ProcessCSMIEndDevice(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                            const CSMI_SAS_PHY_ENTITY& entity, bool behind_expander,
                            const CSMIAddress& parent, VK_BYTE phy_index) {
    if (entity.Attached.bDeviceType != kCSMISASEndDevice) {
        return;
    }
    VK_BYTE inquiry[kInquirySize] = {};
    VK_BYTE status = 0;
    if (transport.Inquiry(entity.Identify.bPhyIdentifier, entity.Attached.bSASAddress, inquiry,
                          sizeof(inquiry), &status) != 0 ||
        status != 0) {
        return;
    }
    // The product identification is blank padded, not terminated.
    const char* product = reinterpret_cast<const char*>(inquiry + kInquiryProductOffset);
    switch (inquiry[0] & 0x1F) {
        case kPeripheralDirectAccess:
            PN_DebugLog(2, 0, "%s:%d: Direct Access Device. Product ID: %.*s\n", __FILE__, __LINE__,
                        kInquiryProductSize, product);
            if (!__IsCSMIDeviceListed(devices, entity.Attached.bSASAddress)) {
                AddDevice(devices, entity.Attached.bDeviceType, entity, behind_expander, parent, phy_index);
            }
            break;
        case kPeripheralSequentialAccess:
            PN_DebugLog(2, 0, "%s:%d: Sequential Access Device. Product ID: %.*s\n", __FILE__, __LINE__,
                        kInquiryProductSize, product);
            break;
        case kPeripheralEnclosureServices:
            PN_DebugLog(2, 0, "%s:%d: SES Device. Product ID: %.*s\n", __FILE__, __LINE__,
                        kInquiryProductSize, product);
            // Reached through two paths, an enclosure is still one device.
            if (!__IsCSMIDeviceListed(devices, entity.Attached.bSASAddress)) {
                AddDevice(devices, kEnclosureDeviceType, entity, behind_expander, parent, phy_index);
            }
            break;
        default:
            break;
    }
}

void __ProcessCSMIExpander(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                           const CSMI_SAS_PHY_ENTITY& entity, bool behind_expander, const CSMIAddress& parent,
                           VK_BYTE phy_index, unsigned depth) {
    // An expander already listed has been walked (or is being walked): descending again would
    // never end in a topology with a loop.
    if (__IsCSMIDeviceListed(devices, entity.Attached.bSASAddress) || depth > kCSMIMaxExpanderDepth) {
        return;
    }
    AddDevice(devices, entity.Attached.bDeviceType, entity, behind_expander, parent, phy_index);

    SAS_LL_EXPANDER expander{};
    expander.bPhyIdentifier = entity.Identify.bPhyIdentifier;
    expander.bPortIdentifier = entity.bPortIdentifier;
    expander.bNegotiatedLinkRate = entity.bNegotiatedLinkRate;
    expander.bTargetPortProtocol = entity.Attached.bTargetPortProtocol;
    std::memcpy(expander.bSASAddress, entity.Attached.bSASAddress, sizeof(expander.bSASAddress));

    VK_BYTE request[kReportGeneralRequestLength] = {};
    VK_BYTE response[kCSMISASSMPAdditionalBytes] = {};
    VK_BYTE result = 0xFF;
    if (transport.SMP(expander.bPhyIdentifier, expander.bPortIdentifier, expander.bSASAddress,
                      kSMPReportGeneral, request, sizeof(request), &result, response,
                      sizeof(response)) == 0 &&
        result == 0) {
        expander.NumberOfPhys = FrameByte(response, 9);
    }
    for (unsigned phy = 0; phy < expander.NumberOfPhys; ++phy) {
        transport.Sleep(kCSMIExpanderPhyDelayMs);
        __CSMISMPDiscovery(transport, devices, expander, static_cast<VK_BYTE>(phy), phy_index, depth);
    }
}

void __CSMISMPDiscovery(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices,
                        const SAS_LL_EXPANDER& expander, VK_BYTE expander_phy, VK_BYTE phy_index,
                        unsigned depth) {
    // The request frame's byte 9 names the phy; the additional bytes start at frame byte 4.
    VK_BYTE request[kDiscoverRequestLength] = {};
    request[9 - kSMPFrameHeader] = expander_phy;
    VK_BYTE response[kCSMISASSMPAdditionalBytes] = {};
    VK_BYTE result = 0xFF;
    if (transport.SMP(expander.bPhyIdentifier, expander.bPortIdentifier, expander.bSASAddress, kSMPDiscover,
                      request, sizeof(request), &result, response, sizeof(response)) != 0 ||
        result != 0) {
        return;
    }
    const VK_BYTE* attached = &response[24 - kSMPFrameHeader];
    if (std::memcmp(attached, expander.bSASAddress, sizeof(expander.bSASAddress)) == 0) {
        return;
    }
    CSMI_SAS_PHY_ENTITY entity{};
    std::memcpy(entity.Identify.bSASAddress, &response[16 - kSMPFrameHeader],
                sizeof(entity.Identify.bSASAddress));
    std::memcpy(entity.Attached.bSASAddress, attached, sizeof(entity.Attached.bSASAddress));
    entity.Identify.bPhyIdentifier = expander.bPhyIdentifier;
    entity.bPortIdentifier = expander.bPortIdentifier;
    entity.bNegotiatedLinkRate = static_cast<VK_BYTE>(FrameByte(response, 13) & 0x0F);
    entity.Attached.bDeviceType = static_cast<VK_BYTE>(FrameByte(response, 12) & 0x70);
    entity.Attached.bTargetPortProtocol =
        static_cast<VK_BYTE>(FrameByte(response, 15) & (kCSMISASProtocolSATA | kCSMISASProtocolSMP |
                                                        kCSMISASProtocolSTP | kCSMISASProtocolSSP));

    const CSMIAddress parent{expander_phy,
                             {expander.bSASAddress[0], expander.bSASAddress[1], expander.bSASAddress[2],
                              expander.bSASAddress[3], expander.bSASAddress[4], expander.bSASAddress[5],
                              expander.bSASAddress[6], expander.bSASAddress[7]}};
    const unsigned attached_type = (FrameByte(response, 12) >> 4) & 0x07;
    const bool virtual_phy = (FrameByte(response, 43) & 0x80) != 0;
    if (attached_type >= 2) {
        __ProcessCSMIExpander(transport, devices, entity, true, parent, phy_index, depth + 1);
    } else if (attached_type == 1 && (virtual_phy || (entity.Attached.bTargetPortProtocol &
                                                      (kCSMISASProtocolSSP | kCSMISASProtocolSATA)) != 0)) {
        __ProcessCSMIEndDevice(transport, devices, entity, true, parent, phy_index);
    }
}

void __CSMIWalk(CSMIWalkTransport& transport, CSMIPhysicalDeviceInfoList* devices) {
    pavlin::TrackedBuffer memory = PN_TRACKED_ZEROED(sizeof(CSMI_SAS_PHY_INFO_BUFFER));
    if (!memory) {
        return;
    }
    auto* info = reinterpret_cast<CSMI_SAS_PHY_INFO_BUFFER*>(memory.get());
    const VK_DWORD result = transport.PhyInfo(info);
    if (result != 0 || info->IoctlHeader.ReturnCode != 0) {
        PN_DebugLog(1, 0, "%s:%d: CSMI GetPhyInfo failed. ReturnCode: 0x%08X\n", __FILE__, __LINE__,
                    result != 0 ? result : static_cast<VK_DWORD>(info->IoctlHeader.ReturnCode));
        return;
    }
    // The count is the driver's; the buffer has 32 slots.
    const size_t phys = VK_min(static_cast<size_t>(info->bNumberOfPhys), kCSMISASMaxPhys);
    const CSMIAddress no_parent{};
    for (size_t i = 0; i < phys; ++i) {
        const CSMI_SAS_PHY_ENTITY& entity = info->Phy[i];
        const VK_BYTE type = entity.Attached.bDeviceType;
        const VK_BYTE target = entity.Attached.bTargetPortProtocol;
        if (type == kCSMISASEndDevice && (target & (kCSMISASProtocolSATA | kCSMISASProtocolSSP)) != 0) {
            __ProcessCSMIEndDevice(transport, devices, entity, false, no_parent, static_cast<VK_BYTE>(i));
        } else if ((type == kCSMISASEdgeExpander || type == kCSMISASFanoutExpander) &&
                   (target & kCSMISASProtocolSMP) != 0) {
            __ProcessCSMIExpander(transport, devices, entity, false, no_parent, static_cast<VK_BYTE>(i), 0);
        }
    }
}

VK_WORD __CSMIDescriptorDeviceType(VK_BYTE device_type) {
    if (device_type == kCSMISASEndDevice) {
        return 2;
    }
    if ((device_type & 0x0D) == 0x0D) {
        return 4; // enclosure
    }
    if ((device_type & 0x01) != 0) {
        return 3;
    }
    if (device_type == kCSMISASEdgeExpander || device_type == kCSMISASFanoutExpander) {
        return 5;
    }
    return 99;
}

void __AppendCSMIDeviceDescriptors(DeviceDescriptor controller_descriptor,
                                   const CSMIPhysicalDeviceInfoList* devices, DeviceDescriptorList list) {
    constexpr VK_DWORD kAddressSize = 16;
    for (const CSMIPhysicalDeviceInfo* d = devices->list_head; d != nullptr; d = d->next_item) {
        DeviceDescriptor copy = PN_CopyDeviceDescriptor(controller_descriptor);
        if (copy == nullptr) {
            continue;
        }
        VK_BYTE address[kAddressSize];
        if (PN_GetDeviceSystemPropertySize(copy, kDevicePropertyProtocolAddress) == kAddressSize &&
            PN_GetDeviceSystemProperty(copy, kDevicePropertyProtocolAddress, address, kAddressSize) == 0) {
            address[0] = d->device_address.phy_identifier;
            std::memcpy(address + 8, d->device_address.sas_address, 8);
            PN_ChangeDeviceSystemProperty(copy, kDevicePropertyProtocolAddress, address, kAddressSize);
        }
        const VK_WORD type = __CSMIDescriptorDeviceType(d->device_type);
        const VK_BYTE type_bytes[2] = {static_cast<VK_BYTE>(type & 0xFF), static_cast<VK_BYTE>(type >> 8)};
        PN_ChangeDeviceSystemProperty(copy, kDevicePropertyDeviceType, type_bytes, sizeof(type_bytes));
        VK_BYTE parent[kAddressSize];
        if (PN_GetDeviceSystemPropertySize(copy, kDevicePropertyCSMIParent) == kAddressSize &&
            PN_GetDeviceSystemProperty(copy, kDevicePropertyCSMIParent, parent, kAddressSize) == 0) {
            parent[0] = d->parent_device_address.phy_identifier;
            std::memcpy(parent + 8, d->parent_device_address.sas_address, 8);
            PN_ChangeDeviceSystemProperty(copy, kDevicePropertyCSMIParent, parent, kAddressSize);
        }
        _PN_AddDescriptorToList(list, copy);
    }
}

void __PopulateCSMIPhysicalDeviceDescriptorList(DeviceDescriptor controller_descriptor,
                                                DeviceDescriptorList list) {
    char node[kPavlinNodeNameSize];
    VK_DWORD device_number = 0;
    const bool decoded = controller_descriptor != nullptr && list != nullptr &&
                         __DecodeDeviceNodeName(controller_descriptor, node, sizeof(node)) &&
                         PN_GetDeviceSystemProperty(controller_descriptor, kDevicePropertyDeviceNumber,
                                                    &device_number, sizeof(device_number)) == 0;
    if (!decoded) {
        PN_DebugLog(1, 0, "%s:%d: Node open failed. Code: 0x%08X\n", __FILE__, __LINE__, 1u);
        return;
    }
    const pavlin::DeviceNode handle(node, kFalse);
    if (handle.error() != 0) {
        PN_DebugLog(1, 0, "%s:%d: Node open failed. Code: 0x%08X\n", __FILE__, __LINE__, handle.error());
        return;
    }
    NodeTransport transport(handle.get(), device_number);
    CSMIPhysicalDeviceInfoList devices{nullptr, nullptr};
    __CSMIWalk(transport, &devices);
    __AppendCSMIDeviceDescriptors(controller_descriptor, &devices, list);
    __FreeCSMIPhysicalDeviceInfoList(&devices);
}
