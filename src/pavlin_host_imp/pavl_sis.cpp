// SIS controllers: raw SRBs through the SIS driver, and the CSMI SSP and SMP frames tunnelled inside
// BMIC 0x68 to devices the controller does not expose at its own bus and target.
#include "pavl_wire.h"

#include "pavl_linux_x86.h"
#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// The tunnelled command went through, but the carrying BMIC command itself failed: the frame holds
// no answer, so an SMP response must not be read from it.
constexpr VK_INT32 kCarrierFailed = EIO;
constexpr VK_UINT32 kCarrierSenseSize = 32;
constexpr VK_UINT32 kSMPOverPQITimeout = 30;

bool ReadsData(EnTransferType transfer_type) {
    return transfer_type == eDATA_TRANSFER_IN || transfer_type == eDATA_TRANSFER_INOUT;
}

void CopySense(PSCSIRequest request, const VK_BYTE* sense, VK_UINT32 length) {
    if (request->sense_data != nullptr && request->sense_data_size != 0 && length != 0) {
        std::memcpy(request->sense_data, sense, VK_min(length, request->sense_data_size));
    }
}

} // namespace

namespace pavlin {

HOST_SCSI_REQUEST_BLOCK_RESULT SISRawSRB::Reply() const {
    HOST_SCSI_REQUEST_BLOCK_RESULT reply{};
    ByteView(bytes, sizeof(bytes)).copy_to(srb_size, &reply, sizeof(reply));
    return reply;
}

VK_DWORD __BuildSISRawSRB(VK_BYTE bus, VK_BYTE target, VK_BYTE lun, VK_BYTE cdb_length, const VK_BYTE* cdb,
                          VK_BYTE* data_buffer, VK_DWORD data_buffer_size, EnTransferType transfer_type,
                          SISRawSRB& out) {
    std::memset(out.bytes, 0, sizeof(out.bytes));
    out.srb_size = transfer_type == eDATA_TRANSFER_NONE ? kSISSRBSizeNoData : kSISSRBSize;

    HOST_SCSI_REQUEST_BLOCK64UX srb{};
    srb.Function = 0;
    srb.Bus = bus;
    srb.TargetId = target;
    srb.Lun = lun;
    srb.DataTransferLength = out.srb_size;
    if (cdb_length > sizeof(srb.Cdb) || (cdb_length != 0 && cdb == nullptr)) {
        return kSISPassthroughNotSent;
    }
    srb.CdbLength = cdb_length;
    if (cdb_length != 0) {
        std::memcpy(srb.Cdb, cdb, cdb_length);
    }
    if (transfer_type != eDATA_TRANSFER_NONE) {
        if (data_buffer == nullptr || data_buffer_size == 0) {
            return kSISPassthroughNotSent;
        }
        const auto address = static_cast<VK_UINT64>(reinterpret_cast<uintptr_t>(data_buffer));
        srb.SgCount = 1;
        srb.SgAddressLo32 = static_cast<VK_DWORD>(address);
        srb.SgAddressHi32 = static_cast<VK_DWORD>(address >> 32);
        srb.SgByteCount = data_buffer_size;
        switch (transfer_type) {
            case eDATA_TRANSFER_IN:
                srb.SrbFlags = kSISSrbFlagsDataIn;
                break;
            case eDATA_TRANSFER_OUT:
                srb.SrbFlags = kSISSrbFlagsDataOut;
                break;
            case eDATA_TRANSFER_INOUT:
                srb.SrbFlags = kSISSrbFlagsBoth;
                break;
            default:
                break;
        }
    }
    std::memcpy(out.bytes, &srb, out.srb_size);
    return kSISPassthroughDone;
}

bool __SISNeedsTunnel(const VK_BYTE* protocol_address) {
    if ((protocol_address[kPavlinAddressFlagsByte] &
         (kPavlinAddressFlagPhysical | kPavlinAddressFlagLogical)) == 0) {
        return false;
    }
    const VK_BYTE* lun = protocol_address + kPavlinAddressLUNOffset;
    if ((lun[3] & 0x3F) != 0) {
        return true;
    }
    return (lun[7] & 0x3F) != protocol_address[0] || lun[6] != protocol_address[1];
}

void __BuildCSMICarrierCDB(VK_BYTE control_code, VK_DWORD frame_size, VK_BYTE* cdb) {
    std::memset(cdb, 0, 16);
    cdb[0] = 0x27;
    cdb[5] = control_code;
    cdb[6] = kBMICCSMIPassthrough;
    cdb[7] = static_cast<VK_BYTE>(frame_size >> 8);
    cdb[8] = static_cast<VK_BYTE>(frame_size);
}

VK_DWORD __SSPTunnelFrameSize(VK_UINT32 data_size) {
    constexpr VK_DWORD kRecord = sizeof(_MODIFIED_CSMI_SSPPT_BUFFER);
    if (data_size > kCSMIMaxFrameSize - kRecord) {
        return 0;
    }
    return kRecord + data_size;
}

void __BuildSSPTunnelFrame(const PavlinInternalSCSIRequest& internal_request, VK_BYTE* frame,
                           VK_DWORD frame_size) {
    const SCSIRequest& r = *internal_request.request;
    _MODIFIED_CSMI_SSPPT_BUFFER record{};
    record.IoctlHeader.HeaderLength = sizeof(CSMI_PT_HEADER);
    record.IoctlHeader.Timeout = kCSMIFrameTimeout;
    record.IoctlHeader.ControlCode = kCSMIControlCodeSSP;
    record.IoctlHeader.ReturnCode = 0;
    record.IoctlHeader.Length = frame_size - sizeof(CSMI_PT_HEADER);
    std::memcpy(record.bLun, internal_request.command_target.protocol_address + kPavlinAddressLUNOffset,
                sizeof(record.bLun));
    record.cdb_length = r.cdb_size;
    if (r.cdb_size != 0) {
        std::memcpy(record.cdb, r.cdb, VK_min(static_cast<size_t>(r.cdb_size), sizeof(record.cdb)));
    }
    switch (r.transfer_type) {
        case eDATA_TRANSFER_IN:
            record.uFlags = 1;
            break;
        case eDATA_TRANSFER_OUT:
            record.uFlags = 2;
            break;
        case eDATA_TRANSFER_INOUT:
            record.uFlags = 3;
            break;
        case eDATA_TRANSFER_NONE:
            record.uFlags = 4;
            break;
        default:
            record.uFlags = 0;
            break;
    }
    record.uDataLength = r.io_buffer_size;
    std::memcpy(frame, &record, offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bDataBuffer));
    if ((r.transfer_type == eDATA_TRANSFER_OUT || r.transfer_type == eDATA_TRANSFER_INOUT) &&
        r.io_buffer_size != 0) {
        std::memcpy(frame + offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bDataBuffer), r.io_buffer,
                    r.io_buffer_size);
    }
}

void __TakeSSPTunnelReply(PSCSIRequest request, const VK_BYTE* frame, VK_DWORD frame_size) {
    constexpr size_t kDataOffset = offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bDataBuffer);
    const ByteView reply(frame, frame_size);
    _MODIFIED_CSMI_SSPPT_BUFFER record{};
    // A frame shorter than its record holds no answer.
    if (!reply.copy_to(0, &record, kDataOffset)) {
        request->valid_sense_data_size = 0;
        return;
    }
    // The tunnelled command's own status: a drive's CHECK CONDITION is not the carrier's success.
    request->scsi_status = record.bStatus;
    if (ReadsData(request->transfer_type) && request->io_buffer != nullptr) {
        reply.copy_to(kDataOffset, request->io_buffer, request->io_buffer_size);
    }
    VK_UINT32 valid = 0;
    if (record.bDataPresent == kCSMIResponseDataPresent) {
        valid = VK_min(static_cast<VK_UINT32>(BIG_ENDIAN_2_VK_WORD(record.bResponseLength)),
                       static_cast<VK_UINT32>(sizeof(record.bResponse)));
        CopySense(request, record.bResponse, valid);
    }
    request->valid_sense_data_size = valid;
}

void __TakeSSPTunnelCarrierReply(PSCSIRequest request, VK_BYTE carrier_status, const VK_BYTE* carrier_sense,
                                 VK_UINT32 carrier_sense_length, const VK_BYTE* frame, VK_DWORD frame_size) {
    request->scsi_status = carrier_status;
    request->valid_sense_data_size = carrier_sense_length;
    if (carrier_status != 0) {
        CopySense(request, carrier_sense, carrier_sense_length);
        return;
    }
    __TakeSSPTunnelReply(request, frame, frame_size);
}

bool __BuildSMPFrame(PSMPRequest request, _MODIFIED_CSMI_SMPPT_BUFFER& frame) {
    std::memset(&frame, 0, sizeof(frame));
    if (request->additional_request_data_size > sizeof(frame.bAdditionalRequestBytes) ||
        (request->additional_request_data_size != 0 && request->additional_request_data == nullptr)) {
        return false;
    }
    frame.IoctlHeader.HeaderLength = sizeof(CSMI_PT_HEADER);
    frame.IoctlHeader.Timeout = kCSMIFrameTimeout;
    frame.IoctlHeader.ControlCode = kCSMIControlCodeSMP;
    frame.IoctlHeader.ReturnCode = 0;
    frame.IoctlHeader.Length = sizeof(frame) - sizeof(CSMI_PT_HEADER);
    frame.bPhyIdentifier = request->phy_identifier;
    frame.bPortIdentifier = request->port_identifier;
    frame.bConnectionRate = 0;
    std::memcpy(frame.bDestinationSASAddress, request->sas_address, sizeof(frame.bDestinationSASAddress));
    frame.uRequestLength = request->additional_request_data_size;
    frame.bRequestFrameType = request->header_frame_type;
    frame.bRequestFunction = request->header_function;
    frame.bAllocatedResponseLength = request->header_allocation_response_size;
    frame.bRequestLength = request->header_request_length;
    if (request->additional_request_data_size != 0) {
        std::memcpy(frame.bAdditionalRequestBytes, request->additional_request_data,
                    request->additional_request_data_size);
    }
    return true;
}

void __TakeSMPResponse(PSMPRequest request, const _MODIFIED_CSMI_SMPPT_BUFFER& frame) {
    request->header_frame_type = frame.bResponseFrameType;
    request->header_function = frame.bResponseFunction;
    request->header_function_result = frame.bFunctionResult;
    request->header_response_size = frame.bResponseLength;
    if (request->additional_response_data != nullptr && request->additional_response_data_size != 0) {
        std::memcpy(request->additional_response_data, frame.bAdditionalResponseBytes,
                    VK_min(request->additional_response_data_size,
                           static_cast<VK_UINT32>(sizeof(frame.bAdditionalResponseBytes))));
    }
}

bool __TakeSMPCarrierReply(PSMPRequest request, VK_BYTE carrier_status,
                           const _MODIFIED_CSMI_SMPPT_BUFFER& frame) {
    if (carrier_status != 0) {
        request->low_level_status = kCarrierFailed;
        return false;
    }
    __TakeSMPResponse(request, frame);
    return true;
}

} // namespace pavlin

VK_DWORD __SendSISSCSIPassthrough(int device_handle, VK_BYTE bus, VK_BYTE target, VK_BYTE lun,
                                  VK_BYTE cdb_length, const VK_BYTE* cdb, VK_DWORD* bytes_transferred,
                                  VK_BYTE* data_buffer, VK_DWORD data_buffer_size,
                                  EnTransferType transfer_type, VK_DWORD* sense_length_returned,
                                  VK_BYTE* sense_buffer, VK_DWORD sense_buffer_size, VK_BYTE* scsi_status,
                                  VK_BYTE* srb_status) {
    pavlin::SISRawSRB srb;
    VK_DWORD result = pavlin::__BuildSISRawSRB(bus, target, lun, cdb_length, cdb, data_buffer,
                                               data_buffer_size, transfer_type, srb);
    if (result == kSISPassthroughDone) {
        const VK_DWORD error = _PN_SendIOCTL(device_handle, pavlin::kIoctlSISSendRawSRB, srb.bytes);
        if (error != 0) {
            result = error == ENOTTY ? kSISPassthroughUnknownRequest : kSISPassthroughFailed;
        }
    }
    if (bytes_transferred != nullptr) {
        *bytes_transferred = 0;
    }
    if (scsi_status != nullptr) {
        *scsi_status = 0;
    }
    if (srb_status != nullptr) {
        *srb_status = 0;
    }
    if (sense_length_returned != nullptr) {
        *sense_length_returned = 0;
    }
    if (result != kSISPassthroughDone) {
        return result;
    }
    const pavlin::HOST_SCSI_REQUEST_BLOCK_RESULT reply = srb.Reply();
    if (bytes_transferred != nullptr) {
        *bytes_transferred = reply.DataTransferLength;
    }
    if (scsi_status != nullptr) {
        *scsi_status = static_cast<VK_BYTE>(reply.ScsiStatus);
    }
    if (srb_status != nullptr) {
        *srb_status = static_cast<VK_BYTE>(reply.SrbStatus);
    }
    if (sense_buffer != nullptr && sense_buffer_size != 0) {
        const VK_DWORD n = VK_min(VK_min(reply.SenseInfoBufferLength, sense_buffer_size),
                                  static_cast<VK_DWORD>(sizeof(reply.SenseInfoBuffer)));
        if (n != 0) {
            std::memcpy(sense_buffer, reply.SenseInfoBuffer, n);
        }
        if (sense_length_returned != nullptr) {
            *sense_length_returned = n;
        }
    }
    return result;
}

EnCommandStatus _PN_SendSCSICommandForSIS(PavlinInternalSCSIRequest* internal_request) {
    PSCSIRequest request = internal_request->request;
    const PavlinInternalCommandTarget& target = internal_request->command_target;
    const VK_BYTE* address = target.protocol_address;
    VK_DWORD transferred = 0;
    VK_DWORD sense_length = 0;
    VK_BYTE scsi_status = 0;
    VK_BYTE srb_status = 0;

    if (!pavlin::__SISNeedsTunnel(address)) {
        const VK_DWORD result = __SendSISSCSIPassthrough(
            target.device_handle, address[0], address[1], address[2], request->cdb_size, request->cdb,
            &transferred, request->io_buffer, request->io_buffer_size, request->transfer_type, &sense_length,
            request->sense_data, request->sense_data_size, &scsi_status, &srb_status);
        request->valid_sense_data_size = sense_length;
        request->scsi_status = scsi_status;
        request->low_level_status = static_cast<VK_INT32>(result);
        return result == kSISPassthroughDone ? eCOMMAND_STATUS_OK : eCOMMAND_STATUS_FAILED;
    }

    // The carrying CDB states the frame size in 16 bits; a larger frame would be cut short.
    const VK_DWORD frame_size = pavlin::__SSPTunnelFrameSize(request->io_buffer_size);
    if (frame_size == 0) {
        request->low_level_status = kPavlinRequestNotSendable;
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::TrackedBuffer frame = PN_TRACKED_ZEROED(frame_size);
    if (!frame) {
        request->low_level_status = ENOMEM;
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::__BuildSSPTunnelFrame(*internal_request, frame.get(), frame_size);

    VK_BYTE cdb[16];
    pavlin::__BuildCSMICarrierCDB(pavlin::kCSMIControlCodeSSP, frame_size, cdb);
    VK_BYTE carrier_sense[kCarrierSenseSize] = {};
    const EnTransferType carrier_direction =
        ReadsData(request->transfer_type) ? eDATA_TRANSFER_INOUT : eDATA_TRANSFER_OUT;
    const VK_DWORD result =
        __SendSISSCSIPassthrough(target.device_handle, address[0], address[1], address[2], sizeof(cdb), cdb,
                                 &transferred, frame.get(), frame_size, carrier_direction, &sense_length,
                                 carrier_sense, sizeof(carrier_sense), &scsi_status, &srb_status);
    request->valid_sense_data_size = sense_length;
    request->scsi_status = scsi_status;
    request->low_level_status = static_cast<VK_INT32>(result);
    if (result != kSISPassthroughDone) {
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::__TakeSSPTunnelCarrierReply(request, scsi_status, carrier_sense, sense_length, frame.get(),
                                        frame_size);
    return eCOMMAND_STATUS_OK;
}

EnCommandStatus _PN_SendSMPCommand(PavlinInternalSMPRequest* internal_request) {
    PSMPRequest request = internal_request->request;
    if (request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    const PavlinInternalCommandTarget& target = internal_request->command_target;
    if (target.protocol_type != kProtocolTypeSIS && target.protocol_type != kProtocolTypePQI) {
        return eCOMMAND_STATUS_FAILED;
    }
    // Allocated without a throwing new: no exception may leave the library, and an allocation that
    // fails is a failed request.
    pavlin::TrackedBuffer frame_memory = PN_TRACKED_BUFFER(sizeof(pavlin::_MODIFIED_CSMI_SMPPT_BUFFER));
    if (!frame_memory) {
        request->low_level_status = ENOMEM;
        return eCOMMAND_STATUS_FAILED;
    }
    auto* frame = reinterpret_cast<pavlin::_MODIFIED_CSMI_SMPPT_BUFFER*>(frame_memory.get());
    // More request data than the frame holds would go out cut short.
    if (!pavlin::__BuildSMPFrame(request, *frame)) {
        request->low_level_status = kPavlinRequestNotSendable;
        return eCOMMAND_STATUS_FAILED;
    }
    VK_BYTE cdb[16];
    pavlin::__BuildCSMICarrierCDB(pavlin::kCSMIControlCodeSMP, sizeof(*frame), cdb);
    VK_BYTE sense[kCarrierSenseSize] = {};
    VK_BYTE carrier_status = 0;
    bool carried = false;

    if (target.protocol_type == kProtocolTypeSIS) {
        const VK_BYTE* address = target.protocol_address;
        VK_DWORD transferred = 0;
        VK_DWORD sense_length = 0;
        VK_BYTE srb_status = 0;
        const VK_DWORD result = __SendSISSCSIPassthrough(
            target.device_handle, address[0], address[1], address[2], sizeof(cdb), cdb, &transferred,
            frame_memory.get(), sizeof(*frame), eDATA_TRANSFER_INOUT, &sense_length, sense, sizeof(sense),
            &carrier_status, &srb_status);
        request->low_level_status = static_cast<VK_INT32>(result);
        carried = result == kSISPassthroughDone;
    } else {
        SCSIRequest scsi{};
        scsi.transfer_type = eDATA_TRANSFER_INOUT;
        scsi.timeout_sec = kSMPOverPQITimeout;
        scsi.cdb = cdb;
        scsi.cdb_size = sizeof(cdb);
        scsi.io_buffer = frame_memory.get();
        scsi.io_buffer_size = sizeof(*frame);
        scsi.sense_data = sense;
        scsi.sense_data_size = sizeof(sense);
        pavlin::TrackedBuffer carrier_memory = PN_TRACKED_BUFFER(sizeof(PavlinInternalSCSIRequest));
        if (!carrier_memory) {
            request->low_level_status = ENOMEM;
            return eCOMMAND_STATUS_FAILED;
        }
        auto* carrier = reinterpret_cast<PavlinInternalSCSIRequest*>(carrier_memory.get());
        carrier->command_target = target;
        carrier->request = &scsi;
        const EnCommandStatus status = _PN_SendSCSICommand(carrier);
        request->low_level_status = scsi.low_level_status;
        carrier_status = scsi.scsi_status;
        carried = status == eCOMMAND_STATUS_OK;
    }
    if (!carried) {
        return eCOMMAND_STATUS_FAILED;
    }
    return pavlin::__TakeSMPCarrierReply(request, carrier_status, *frame) ? eCOMMAND_STATUS_OK
                                                                          : eCOMMAND_STATUS_FAILED;
}
