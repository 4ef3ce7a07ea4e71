// Transport dispatch and the Linux requests that are not driver pass-through: SCSI generic SG_IO,
// the NVMe admin command, the SIS controller reset, and the bridge to CSMI devices.
#include "pavl_wire.h"

#include "pavl_csmi.h"
#include "pavl_linux_x86.h"
#include "ppavl_platform.h"

#include <linux/ioctl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>

#include <cerrno>
#include <climits>
#include <cstring>

static_assert(pavlin::kIoctlSGIO == SG_IO);
static_assert(pavlin::kIoctlNVMeAdminCommand == NVME_IOCTL_ADMIN_CMD);
static_assert(sizeof(pavlin::NVMeAdminCommand) == sizeof(struct nvme_admin_cmd));
static_assert(_IOC_SIZE(NVME_IOCTL_ADMIN_CMD) == sizeof(pavlin::NVMeAdminCommand));
static_assert(offsetof(pavlin::NVMeAdminCommand, timeout_ms) == offsetof(struct nvme_admin_cmd, timeout_ms));
static_assert(offsetof(pavlin::NVMeAdminCommand, result) == offsetof(struct nvme_admin_cmd, result));
static_assert(sizeof(sg_io_hdr_t) == 88);

namespace {

// A host error or a driver error other than "sense available" means the command did not complete,
// whatever status byte came back.
constexpr unsigned kSGDriverStatusSenseOnly = 0x08; // DRIVER_SENSE
constexpr VK_INT32 kSGIOIncomplete = EIO;

bool RequestIsSendable(const SCSIRequest& r) {
    if (r.cdb_size > kPavlinMaxCDBSize || (r.cdb_size != 0 && r.cdb == nullptr)) {
        return false;
    }
    return r.io_buffer_size == 0 || r.io_buffer != nullptr;
}

} // namespace

EnCommandStatus _PN_SendSCSICommand(PavlinInternalSCSIRequest* internal_request) {
    if (internal_request == nullptr || internal_request->request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PSCSIRequest request = internal_request->request;
    // No record has room for a longer CDB, and a size without a buffer cannot be carried.
    if (!RequestIsSendable(*request)) {
        request->low_level_status = kPavlinRequestNotSendable;
        return eCOMMAND_STATUS_FAILED;
    }
    switch (internal_request->command_target.protocol_type) {
        case kProtocolTypeCISS:
        case kProtocolTypePQI:
            return _PN_SendSCSICommandForCISSAndPQI(internal_request);
        case kProtocolTypeSIS:
            return _PN_SendSCSICommandForSIS(internal_request);
        case kProtocolTypeCSMI:
            return _PN_SendSCSICommandForCSMI(internal_request);
        case kProtocolTypeNativeSCSI:
            return _PN_SendSCSICommandForNativeSCSI(internal_request);
        default:
            return eCOMMAND_STATUS_FAILED;
    }
}

namespace pavlin {

void __BuildSGIOHeader(PSCSIRequest request, sg_io_hdr_t& header) {
    std::memset(&header, 0, sizeof(header));
    header.interface_id = 'S';
    switch (request->transfer_type) {
        case eDATA_TRANSFER_IN:
            header.dxfer_direction = SG_DXFER_FROM_DEV;
            break;
        case eDATA_TRANSFER_OUT:
            header.dxfer_direction = SG_DXFER_TO_DEV;
            break;
        case eDATA_TRANSFER_INOUT:
            header.dxfer_direction = SG_DXFER_TO_FROM_DEV;
            break;
        default:
            header.dxfer_direction = SG_DXFER_NONE;
            break;
    }
    header.cmd_len = request->cdb_size;
    header.cmdp = request->cdb;
    header.sbp = request->sense_data;
    header.mx_sb_len = request->sense_data != nullptr
                           ? static_cast<unsigned char>(VK_min(request->sense_data_size, kSGIOMaxSenseSize))
                           : 0;
    header.dxferp = request->io_buffer;
    header.dxfer_len = request->io_buffer_size;
    // A time limit too long to state in milliseconds waits as long as the kernel allows.
    header.timeout =
        request->timeout_sec <= (UINT_MAX - 1) / 1000 ? request->timeout_sec * 1000 + 1 : UINT_MAX;
}

bool __TakeSGIOReply(PSCSIRequest request, const sg_io_hdr_t& header) {
    // The full status byte: the kernel's masked status would make CHECK CONDITION read as 1.
    request->scsi_status = header.status;
    request->valid_sense_data_size =
        VK_min(static_cast<VK_UINT32>(header.sb_len_wr), static_cast<VK_UINT32>(header.mx_sb_len));
    if (header.host_status != 0 || (header.driver_status & ~kSGDriverStatusSenseOnly & 0x0F) != 0) {
        request->low_level_status = kSGIOIncomplete;
        return false;
    }
    return true;
}

} // namespace pavlin

EnCommandStatus _PN_SendSCSICommandForNativeSCSI(PavlinInternalSCSIRequest* internal_request) {
    PSCSIRequest request = internal_request->request;
    sg_io_hdr_t header;
    pavlin::__BuildSGIOHeader(request, header);
    const VK_DWORD result =
        _PN_SendIOCTL(internal_request->command_target.device_handle, pavlin::kIoctlSGIO, &header);
    request->low_level_status = static_cast<VK_INT32>(result);
    if (result != 0) {
        return eCOMMAND_STATUS_FAILED;
    }
    return pavlin::__TakeSGIOReply(request, header) ? eCOMMAND_STATUS_OK : eCOMMAND_STATUS_FAILED;
}

EnCommandStatus _PN_SendSCSICommandForCSMI(PavlinInternalSCSIRequest* internal_request) {
    PSCSIRequest request = internal_request->request;
    const VK_BYTE* address = internal_request->command_target.protocol_address;
    // Protocol address of a CSMI device: phy at byte 0, controller number at 4, SAS address at 8.
    const pavlin::ByteView fields(address, kPavlinProtocolAddressSize);
    const VK_DWORD result = SendCSMISASSSPPassthruCommand(
        internal_request->command_target.device_handle, *fields.le32(4), address[0], address + 8,
        request->transfer_type, request->cdb, request->cdb_size, request->io_buffer, request->io_buffer_size,
        request->sense_data, request->sense_data_size, &request->valid_sense_data_size,
        &request->scsi_status);
    request->low_level_status = static_cast<VK_INT32>(result);
    return result == 0 ? eCOMMAND_STATUS_OK : eCOMMAND_STATUS_FAILED;
}

EnCommandStatus _PN_SendNVMECommand(PavlinInternalNVMeRequest* internal_request) {
    PNVMERequest request = internal_request->request;
    // Sent from a copy, so the word the kernel writes the result into is ours and not whatever
    // follows queue_id in the caller's record.
    pavlin::NVMeAdminCommand command{};
    std::memcpy(command.command, request->command, sizeof(command.command));
    command.timeout_ms = request->queue_id;
    const VK_DWORD result = _PN_SendIOCTL(internal_request->command_target.device_handle,
                                          pavlin::kIoctlNVMeAdminCommand, &command);
    request->low_level_status = static_cast<VK_INT32>(result);
    return result == 0 ? eCOMMAND_STATUS_OK : eCOMMAND_STATUS_FAILED;
}

VK_BOOL _PN_SendControllerReset(DeviceDescriptor device_descriptor, int device_handle, VK_BYTE reset_type) {
    (void)device_descriptor;
    VK_BYTE type = reset_type;
    return _PN_SendIOCTL(device_handle, pavlin::kIoctlSISReset, &type) == 0 ? kTrue : kFalse;
}
