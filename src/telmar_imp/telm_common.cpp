// BMIC helpers: every BMIC command of the controller model leaves through these, and the sense
// data of the two helpers with sense is decoded here.
#include <cstring>

#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "telm_private.h"

namespace {

constexpr VK_BYTE kScsiStatusCheckCondition = 0x02;
constexpr VK_DWORD kHelperSenseSize = 32;

// Response codes of fixed and descriptor format sense, bit 7 (valid) masked off.
constexpr VK_BYTE kSenseFixedCurrent = 0x70;
constexpr VK_BYTE kSenseFixedDeferred = 0x71;
constexpr VK_BYTE kSenseDescriptorCurrent = 0x72;
constexpr VK_BYTE kSenseDescriptorDeferred = 0x73;

BMICRequest MakeRequest(EnTransferType transfer_type, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                        VK_WORD lun_number, void* io_buffer = nullptr, VK_DWORD io_buffer_size = 0) {
    BMICRequest request;
    std::memset(&request, 0, sizeof(request));
    request.transfer_type = transfer_type;
    request.bmic_opcode = bmic_opcode;
    request.bmic_detail = bmic_detail;
    request.LUN.lun_number = lun_number;
    request.io_buffer = static_cast<VK_UINT8*>(io_buffer);
    request.io_buffer_size = io_buffer_size;
    return request;
}

VK_BOOL Carried(DeviceDescriptor device, BMICRequest* request) {
    return PN_ExecuteBMICCommand(device, request) == eCOMMAND_STATUS_OK ? kTrue : kFalse;
}

// The plain helpers also count CHECK CONDITION as failure.
VK_BOOL Succeeded(DeviceDescriptor device, BMICRequest* request) {
    return (Carried(device, request) && request->scsi_status != kScsiStatusCheckCondition) ? kTrue : kFalse;
}

// The read and write workers differ only in direction.
VK_BOOL SendBuffer(DeviceDescriptor device, EnTransferType transfer_type, VK_BYTE bmic_opcode,
                   VK_DWORD bmic_detail, VK_WORD lun_number, VK_QWORD bmic_additional_detail, void* io_buffer,
                   VK_DWORD io_buffer_size) {
    BMICRequest request =
        MakeRequest(transfer_type, bmic_opcode, bmic_detail, lun_number, io_buffer, io_buffer_size);
    request.bmic_additional_detail = bmic_additional_detail;
    return Succeeded(device, &request);
}

VK_BOOL SendNone(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail, VK_WORD lun_number,
                 VK_QWORD bmic_additional_detail, VK_DWORD timeout_sec) {
    BMICRequest request = MakeRequest(eDATA_TRANSFER_NONE, bmic_opcode, bmic_detail, lun_number);
    request.timeout_sec = timeout_sec;
    request.bmic_additional_detail = bmic_additional_detail;
    return Succeeded(device, &request);
}

VK_BOOL SendWithSense(DeviceDescriptor device, EnTransferType transfer_type, VK_BYTE bmic_opcode,
                      VK_DWORD bmic_detail, VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                      PScsiCommandSenseData sense_data) {
    BMICRequest request =
        MakeRequest(transfer_type, bmic_opcode, bmic_detail, lun_number, io_buffer, io_buffer_size);
    VK_BYTE sense[kHelperSenseSize] = {};
    request.sense_data = sense;
    request.sense_data_size = sizeof(sense);
    const VK_BOOL carried = Carried(device, &request);
    if (sense_data != nullptr) {
        __VK_DecodeBMICSenseData(&request, sense_data);
    }
    return carried;
}

} // namespace

VK_BOOL _VK_BMICHelperReadBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                 VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size) {
    return SendBuffer(device, eDATA_TRANSFER_IN, bmic_opcode, bmic_detail, lun_number, 0, io_buffer,
                      io_buffer_size);
}

VK_BOOL _VK_BMICHelperReadBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                   VK_WORD lun_number, VK_QWORD bmic_additional_detail, void* io_buffer,
                                   VK_DWORD io_buffer_size) {
    return SendBuffer(device, eDATA_TRANSFER_IN, bmic_opcode, bmic_detail, lun_number, bmic_additional_detail,
                      io_buffer, io_buffer_size);
}

VK_BOOL _VK_BMICHelperWriteBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                  VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size) {
    return SendBuffer(device, eDATA_TRANSFER_OUT, bmic_opcode, bmic_detail, lun_number, 0, io_buffer,
                      io_buffer_size);
}

VK_BOOL _VK_BMICHelperWriteBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                    VK_WORD lun_number, VK_QWORD bmic_additional_detail, void* io_buffer,
                                    VK_DWORD io_buffer_size) {
    return SendBuffer(device, eDATA_TRANSFER_OUT, bmic_opcode, bmic_detail, lun_number,
                      bmic_additional_detail, io_buffer, io_buffer_size);
}

VK_BOOL _VK_BMICHelperNoneBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                 VK_WORD lun_number, VK_DWORD timeout_sec) {
    return SendNone(device, bmic_opcode, bmic_detail, lun_number, 0, timeout_sec);
}

VK_BOOL _VK_BMICHelperNoneBufferEx(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                   VK_WORD lun_number, VK_QWORD bmic_additional_detail,
                                   VK_DWORD timeout_sec) {
    return SendNone(device, bmic_opcode, bmic_detail, lun_number, bmic_additional_detail, timeout_sec);
}

VK_BOOL _VK_BMICHelperReadWriteBuffer(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                      VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                      VK_DWORD timeout_sec) {
    BMICRequest request =
        MakeRequest(eDATA_TRANSFER_INOUT, bmic_opcode, bmic_detail, lun_number, io_buffer, io_buffer_size);
    request.timeout_sec = timeout_sec;
    return Succeeded(device, &request);
}

VK_BOOL _VK_BMICHelperReadBufferWithSense(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                          VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                          PScsiCommandSenseData sense_data) {
    return SendWithSense(device, eDATA_TRANSFER_IN, bmic_opcode, bmic_detail, lun_number, io_buffer,
                         io_buffer_size, sense_data);
}

VK_BOOL _VK_BMICHelperWriteBufferWithSense(DeviceDescriptor device, VK_BYTE bmic_opcode, VK_DWORD bmic_detail,
                                           VK_WORD lun_number, void* io_buffer, VK_DWORD io_buffer_size,
                                           PScsiCommandSenseData sense_data) {
    return SendWithSense(device, eDATA_TRANSFER_OUT, bmic_opcode, bmic_detail, lun_number, io_buffer,
                         io_buffer_size, sense_data);
}

void __VK_DecodeBMICSenseData(PBMICRequest bmic_request, PScsiCommandSenseData sense_data) {
    if (sense_data == nullptr) {
        return;
    }
    std::memset(sense_data, 0, sizeof(*sense_data));
    if (bmic_request == nullptr) {
        return;
    }
    // The whole sense buffer counts, not the valid length the transport reported: the controller's
    // fixed-format fields are read even when it reports fewer bytes.
    if (bmic_request->sense_data_size <= 13 || bmic_request->sense_data == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'bmic_request->sense_data_size > 13' failed: Sense buffer to small\n",
                    __func__, __LINE__);
    } else {
        const VK_BYTE* sense = bmic_request->sense_data;
        switch (sense[0] & 0x7F) {
            case kSenseFixedCurrent:
            case kSenseFixedDeferred:
                sense_data->sense_key = sense[2] & 0x0F;
                sense_data->asc = sense[12];
                sense_data->ascq = sense[13];
                break;
            case kSenseDescriptorCurrent:
            case kSenseDescriptorDeferred:
                sense_data->sense_key = sense[1] & 0x0F;
                sense_data->asc = sense[2];
                sense_data->ascq = sense[3];
                break;
            default:
                break;
        }
    }
    sense_data->scsi_status = bmic_request->scsi_status;
    sense_data->command_status = bmic_request->command_status;
    sense_data->low_level_status = bmic_request->low_level_status;
}
