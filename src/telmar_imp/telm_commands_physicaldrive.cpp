// Commands to one physical device behind the controller: SCSI, ATA and SMP requests the caller
// builds, and the TEST UNIT READY, START STOP UNIT and INQUIRY the library builds itself.
#include <algorithm>
#include <cstring>

#include "pavl_bytes.h"
#include "ppavl_commands.h"
#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_properties.h"
#include "telm_passthrough.h"
#include "telm_private.h"

namespace {

using telmar::kLentSenseSize;

constexpr VK_UINT8 kCDB6Size = 6;
constexpr VK_UINT8 kOpTestUnitReady = 0x00;
constexpr VK_UINT8 kOpInquiry = 0x12;
constexpr VK_UINT8 kOpStartStopUnit = 0x1B;
constexpr size_t kSASAddressSize = 8;

VK_BOOL Carried(EnCommandStatus status) {
    return status == eCOMMAND_STATUS_OK ? kTrue : kFalse;
}

VK_BOOL SendCDB(PCDA cda, VK_WORD device_number, VK_UINT8* cdb, EnTransferType transfer_type, void* buffer,
                VK_WORD buffer_size) {
    SCSIRequest request;
    _VK_InitCDBSCSICommand(&request, cdb, kCDB6Size);
    if (buffer != nullptr && buffer_size != 0) {
        request.transfer_type = transfer_type;
        request.io_buffer = static_cast<VK_UINT8*>(buffer);
        request.io_buffer_size = buffer_size;
    }
    return VK_SendPhysicalDeviceSCSICommand(cda, device_number, &request);
}

// Probe for the length, then read what the device has and the caller's buffer holds.
VK_BOOL ProbeThenRead(PCDA cda, VK_WORD device_number, bool vpd, VK_BYTE page_code, void* buffer,
                      VK_WORD buffer_size) {
    if (buffer == nullptr) {
        return kFalse;
    }
    const VK_BYTE evpd = vpd ? 1 : 0;
    const VK_WORD probe_size = vpd ? telmar::kVPDPageProbeSize : telmar::kStandardInquiryProbeSize;
    // A probe answered CHECK CONDITION is carried but never written: it must not read as a length.
    VK_BYTE probe[telmar::kStandardInquiryProbeSize] = {};
    if (!_VK_PhysicalDriveInquiry(cda, device_number, evpd, page_code, probe, probe_size)) {
        return kFalse;
    }
    const VK_WORD length = telmar::InquiryReadLength(pavlin::ByteView(probe, probe_size), vpd, buffer_size);
    return _VK_PhysicalDriveInquiry(cda, device_number, evpd, page_code, buffer, length);
}

} // namespace

EnCommandStatus _VK_ExecuteSCSIWithSense(DeviceDescriptor device, PSCSIRequest request) {
    if (request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    VK_BYTE lent_sense[kLentSenseSize] = {};
    if (request->sense_data == nullptr) {
        request->sense_data = lent_sense;
        request->sense_data_size = kLentSenseSize;
    }
    const EnCommandStatus status = PN_ExecuteSCSICommand(device, request);
    // The lent buffer dies with this frame: never leave the caller pointing at it.
    if (request->sense_data == lent_sense) {
        request->sense_data = nullptr;
        request->sense_data_size = 0;
    }
    return status;
}

DeviceDescriptor VK_GetPhysicalDeviceDescriptor(PCDA cda, VK_WORD device_number) {
    return static_cast<DeviceDescriptor>(VK_GetPhysicalDriveDescriptor(cda, device_number));
}

VK_BOOL VK_CanSendPhysicalDeviceSCSICommand(PCDA cda, VK_WORD device_number) {
    DeviceDescriptor device = VK_GetPhysicalDeviceDescriptor(cda, device_number);
    return device != nullptr && PN_CanExecuteSCSICommand(device) == kCanExecuteSCSICommandOK ? kTrue : kFalse;
}

VK_BOOL VK_CanSendPhysicalDeviceATACommand(PCDA cda, VK_WORD device_number) {
    DeviceDescriptor device = VK_GetPhysicalDeviceDescriptor(cda, device_number);
    return device != nullptr && PN_CanExecuteATACommand(device) == kCanExecuteATACommandOK ? kTrue : kFalse;
}

VK_BOOL VK_CanSendPhysicalDeviceSMPCommand(PCDA cda, VK_WORD device_number) {
    DeviceDescriptor device = VK_GetPhysicalDeviceDescriptor(cda, device_number);
    return device != nullptr && PN_CanExecuteSMPCommand(device) == kCanExecuteSMPCommandOK ? kTrue : kFalse;
}

VK_BOOL VK_SendPhysicalDeviceSCSICommand(PCDA cda, VK_WORD device_number, PSCSIRequest request) {
    if (request == nullptr) {
        return kFalse;
    }
    DeviceDescriptor device = VK_GetPhysicalDeviceDescriptor(cda, device_number);
    if (device == nullptr) {
        return kFalse;
    }
    return Carried(_VK_ExecuteSCSIWithSense(device, request));
}

VK_BOOL VK_SendPhysicalDeviceATACommand(PCDA cda, VK_WORD device_number, PATARequest request) {
    if (request == nullptr) {
        return kFalse;
    }
    DeviceDescriptor device = VK_GetPhysicalDeviceDescriptor(cda, device_number);
    if (device == nullptr) {
        return kFalse;
    }
    return Carried(PN_ExecuteATACommand(device, request));
}

VK_BOOL VK_SendPhysicalDeviceSMPCommand(PCDA cda, VK_WORD device_number, PSMPRequest request) {
    if (cda == nullptr || request == nullptr || !VK_CanSendPhysicalDeviceSMPCommand(cda, device_number)) {
        return kFalse;
    }
    // The getter answers an unreadable WWID with zeros: SAS address 0 names no expander, and the
    // frame would go wherever the controller sends it.
    VK_BYTE wwid[kMinGetPhysicalDriveWWIDBufferLength] = {};
    VK_GetExpanderWWID(cda, device_number, wwid, sizeof(wwid), kFalse);
    if (std::all_of(wwid, wwid + kSASAddressSize, [](VK_BYTE b) { return b == 0; })) {
        return kFalse;
    }
    std::memcpy(request->sas_address, wwid, kSASAddressSize);
    return Carried(PN_ExecuteSMPCommand(_VK_CDA(cda)->controller_handle, request));
}

VK_BOOL VK_PhysicalDriveTestUnitReady(PCDA cda, VK_WORD device_number) {
    VK_UINT8 cdb[kCDB6Size] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
    return SendCDB(cda, device_number, cdb, eDATA_TRANSFER_NONE, nullptr, 0);
}

VK_BOOL VK_PhysicalDriveStartStopUnit(PCDA cda, VK_WORD device_number, VK_BOOL immediate, VK_BOOL start) {
    VK_UINT8 cdb[kCDB6Size] = {kOpStartStopUnit, 0, 0, 0, 0, 0};
    cdb[1] = immediate == 1 ? 0x01 : 0x00;
    cdb[4] = start == 1 ? 0x01 : 0x00;
    return SendCDB(cda, device_number, cdb, eDATA_TRANSFER_NONE, nullptr, 0);
}

VK_BOOL _VK_PhysicalDriveInquiry(PCDA cda, VK_WORD device_number, VK_BYTE evpd, VK_BYTE page_code, void* buffer,
                                 VK_WORD buffer_size) {
    if (buffer == nullptr) {
        return kFalse;
    }
    VK_UINT8 cdb[kCDB6Size] = {kOpInquiry, 0, page_code, 0, 0, 0};
    cdb[1] = evpd == 1 ? 0x01 : 0x00;
    pavlin::ByteSpan(cdb, sizeof(cdb)).put_be16(3, buffer_size);
    return SendCDB(cda, device_number, cdb, eDATA_TRANSFER_IN, buffer, buffer_size);
}

VK_BOOL VK_PhysicalDriveStandardInquiryData(PCDA cda, VK_WORD device_number, void* buffer, VK_WORD buffer_size) {
    return ProbeThenRead(cda, device_number, false, 0, buffer, buffer_size);
}

VK_BOOL VK_PhysicalDriveVPDPage(PCDA cda, VK_WORD device_number, VK_BYTE page_code, void* buffer,
                               VK_WORD buffer_size) {
    return ProbeThenRead(cda, device_number, true, page_code, buffer, buffer_size);
}

void _VK_InitCDBSCSICommand(PSCSIRequest request, VK_UINT8* cdb, VK_UINT8 cdb_size) {
    if (request == nullptr) {
        return;
    }
    std::memset(request, 0, sizeof(*request));
    request->transfer_type = eDATA_TRANSFER_NONE;
    request->cdb = cdb;
    request->cdb_size = cdb_size;
}
