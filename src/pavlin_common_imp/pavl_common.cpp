// The command interface: permission checks, the execute functions and their common path, and the
// CDB builders for BMIC, ATA PASS-THROUGH (16) and block I/O.
#include "pavl_extern.h"

#include "pavl_descriptor.h"
#include "pavl_hostfile.h"
#include "pavl_sense.h"
#include "pavl_linux_x86.h"
#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

PN_SCSICommandCallback g_scsi_command_callback = nullptr;

constexpr VK_WORD kDeviceTypeExpander = 5;
constexpr VK_UINT32 kCDBTransferLengthMax = 0xFFFF;

// Decodes protocol type, address and node; false when any of them is missing.
bool DecodeCommandTarget(DeviceDescriptor device_descriptor, PavlinInternalCommandTarget& target) {
    target.device_descriptor = device_descriptor;
    target.device_handle = -1;
    VK_WORD protocol_type = 0xFFFF;
    if (!__DecodeDeviceProtocolInfo(device_descriptor, &protocol_type, target.protocol_address,
                                    sizeof(target.protocol_address))) {
        return false;
    }
    target.protocol_type = protocol_type;
    return __DecodeDeviceNodeName(device_descriptor, target.device_node_name,
                                  sizeof(target.device_node_name));
}

// The SCSI request that carries a BMIC or ATA request: its direction, time limit and data buffer.
template <typename Request> SCSIRequest CarrierFor(const Request& request) {
    SCSIRequest scsi{};
    scsi.transfer_type = request.transfer_type;
    scsi.timeout_sec = request.timeout_sec;
    scsi.io_buffer = request.io_buffer;
    scsi.io_buffer_size = request.io_buffer_size;
    return scsi;
}

// Decodes the target, opens its node and runs `send` while it is open; FAILED when the target cannot
// be decoded or opened. The open's error goes to `low_level_status` when the request has one.
template <typename Send>
EnCommandStatus SendToOpenNode(DeviceDescriptor device_descriptor, PavlinInternalCommandTarget& target,
                               VK_INT32* low_level_status, Send send) {
    if (!DecodeCommandTarget(device_descriptor, target)) {
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::DeviceNode node(target.device_node_name, kFalse, &target.device_handle);
    if (low_level_status != nullptr) {
        *low_level_status = static_cast<VK_INT32>(node.error());
    }
    if (node.error() != 0) {
        return eCOMMAND_STATUS_FAILED;
    }
    return send();
}

bool HasProtocolInfo(DeviceDescriptor device_descriptor, VK_WORD* protocol_type, VK_BYTE* address) {
    return __DecodeDeviceProtocolInfo(device_descriptor, protocol_type, address,
                                      kPavlinProtocolAddressSize) != kFalse;
}

// BMIC, SCSI and ATA share one rule: the target must accept commands.
VK_BYTE CanCarryCommands(DeviceDescriptor device_descriptor, bool log_missing) {
    if (device_descriptor == nullptr) {
        return 0x03;
    }
    VK_WORD protocol_type = 0;
    VK_BYTE address[kPavlinProtocolAddressSize] = {};
    if (!HasProtocolInfo(device_descriptor, &protocol_type, address)) {
        if (log_missing) {
            PN_DebugLog(1, 0, "%s:%d: Unable to obtain protocol info.\n", __FILE__, __LINE__);
        }
        return 0x02;
    }
    return (address[kPavlinAddressFlagsByte] & kPavlinAddressFlagCommands) != 0 ? 0x01 : 0x02;
}

void BytesToHex(const VK_BYTE* bytes, size_t available, size_t count, char* out) {
    for (size_t i = 0; i < count; ++i) {
        const VK_BYTE b = (bytes != nullptr && i < available) ? bytes[i] : 0;
        std::snprintf(out + 2 * i, 3, "%02X", b);
    }
    out[2 * count] = '\0';
}

void TraceSCSICommand(const PavlinInternalSCSIRequest& internal_request, EnCommandStatus status) {
    const SCSIRequest& r = *internal_request.request;
    const VK_BYTE level = (status != eCOMMAND_STATUS_OK || r.scsi_status != 0) ? 1 : 3;
    // Every command passes here; build the hex text only when the log will take the line.
    _PN_LockDebugLog();
    const bool wanted = _PN_DebugLogPredicate(level, 0, nullptr) != kFalse;
    _PN_UnlockDebugLog();
    if (!wanted) {
        return;
    }
    char cdb_hex[2 * 16 + 1];
    char sense_hex[2 * 14 + 1];
    BytesToHex(r.cdb, r.cdb_size, 16, cdb_hex);
    BytesToHex(r.sense_data, r.sense_data_size, 14, sense_hex);
    PN_DebugLog(level, 0, "SCSI(%u,%u[%u],%u):%s => %s/%02X/%04X/%d/(%u/%u):%s\n",
                static_cast<unsigned>(internal_request.command_target.protocol_type),
                static_cast<unsigned>(r.transfer_type), static_cast<unsigned>(r.io_buffer_size),
                static_cast<unsigned>(r.cdb_size), cdb_hex, status == eCOMMAND_STATUS_OK ? "OK" : "FAILED",
                static_cast<unsigned>(r.scsi_status), static_cast<unsigned>(r.command_status),
                static_cast<int>(r.low_level_status), static_cast<unsigned>(r.valid_sense_data_size),
                static_cast<unsigned>(r.sense_data_size), sense_hex);
}

bool IsATACapableProtocol(VK_WORD protocol_type) {
    switch (protocol_type) {
        case 0:
        case 1:
        case 2:
        case 3:
        case 5:
        case 6:
            return true;
        default:
            return false;
    }
}

} // namespace

// ---- Permission checks ------------------------------------------------------------------------

VK_BYTE PN_CanExecuteBMICCommand(DeviceDescriptor device_descriptor) {
    return CanCarryCommands(device_descriptor, false);
}

VK_BYTE PN_CanExecuteSCSICommand(DeviceDescriptor device_descriptor) {
    return CanCarryCommands(device_descriptor, true);
}

VK_BYTE PN_CanExecuteATACommand(DeviceDescriptor device_descriptor) {
    return CanCarryCommands(device_descriptor, true);
}

VK_BYTE PN_CanExecuteSMPCommand(DeviceDescriptor device_descriptor) {
    if (device_descriptor == nullptr) {
        return kCanExecuteSMPCommandInvalidDevice;
    }
    VK_WORD protocol_type = 0;
    VK_BYTE address[kPavlinProtocolAddressSize] = {};
    if (!HasProtocolInfo(device_descriptor, &protocol_type, address)) {
        return kCanExecuteSMPCommandNotSupported;
    }
    VK_WORD device_type = 0;
    if (PN_GetDeviceSystemProperty(device_descriptor, kDevicePropertyDeviceType, &device_type,
                                   sizeof(device_type)) != 0 ||
        device_type != kDeviceTypeExpander) {
        return kCanExecuteSMPCommandNotSupported;
    }
    switch (protocol_type) {
        case 1:
        case 2:
        case 3:
        case 5:
        case 6:
            return kCanExecuteSMPCommandOK;
        default:
            return kCanExecuteSMPCommandNotSupported;
    }
}

VK_BYTE PN_CanExecuteNVMECommand(DeviceDescriptor device_descriptor) {
    return device_descriptor == nullptr ? kCanExecuteNVMECommandInvalidDevice
                                        : kCanExecuteNVMECommandNotSupported;
}

VK_BYTE PN_CanExecuteIORequest(DeviceDescriptor device_descriptor) {
    return device_descriptor == nullptr ? kCanExecuteIORequestInvalidDevice : kCanExecuteIORequestOK;
}

// ---- Common path ------------------------------------------------------------------------------

EnCommandStatus _SendSCSICommand(PavlinInternalSCSIRequest* internal_request) {
    if (internal_request == nullptr || internal_request->request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PSCSIRequest request = internal_request->request;
    VK_UINT8 lent_sense[kPavlinLentSenseSize] = {};
    const bool lent = request->sense_data == nullptr;
    if (lent) {
        request->sense_data = lent_sense;
        request->sense_data_size = kPavlinLentSenseSize;
    }
    request->valid_sense_data_size = request->sense_data_size;

    const EnCommandStatus status = _PN_SendSCSICommand(internal_request);
    TraceSCSICommand(*internal_request, status);

    if (lent) {
        request->sense_data = nullptr;
        request->sense_data_size = 0;
    }
    return status;
}

void PN_SetSCSICommandCallback(PN_SCSICommandCallback callback) {
    g_scsi_command_callback = callback;
}

// ---- BMIC -------------------------------------------------------------------------------------

void __BMIC2SCSI(PBMICRequest request, VK_UINT8* cdb) {
    std::memset(cdb, 0, 16);
    pavlin::ByteSpan out(cdb, 16);
    cdb[0] = request->transfer_type == eDATA_TRANSFER_IN ? 0x26 : 0x27;
    cdb[1] = request->LUN.BYTES.lun_number_low;
    out.put_be32(2, request->bmic_detail);
    cdb[6] = request->bmic_opcode;
    const VK_UINT32 length =
        request->block_count_override != 0 ? request->block_count_override : request->io_buffer_size;
    out.put_be16(7, static_cast<VK_UINT16>(length & 0xFFFF));
    cdb[9] = request->LUN.BYTES.lun_number_high;
    // Six bytes: the low 48 bits of the additional detail.
    out.put_be16(10, static_cast<VK_UINT16>(request->bmic_additional_detail >> 32));
    out.put_be32(12, static_cast<VK_UINT32>(request->bmic_additional_detail));
}

EnCommandStatus PN_ExecuteBMICCommand(DeviceDescriptor device_descriptor, PBMICRequest request) {
    if (device_descriptor == nullptr || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    SCSIRequest scsi = CarrierFor(*request);
    scsi.sense_data = request->sense_data;
    scsi.sense_data_size = request->sense_data_size;

    PavlinInternalSCSIRequest internal{};
    internal.request = &scsi;
    if (!DecodeCommandTarget(device_descriptor, internal.command_target)) {
        return eCOMMAND_STATUS_FAILED;
    }

    // The CDB states the length in 16 bits; a wrapped length would move a different amount of data
    // than the buffer holds.
    const VK_UINT32 length =
        request->block_count_override != 0 ? request->block_count_override : request->io_buffer_size;
    if (length > kCDBTransferLengthMax) {
        PN_DebugLog(1, 0, "%s:%d: BMIC 0x%02X transfer length %u does not fit the CDB; not sent\n", __FILE__,
                    __LINE__, static_cast<unsigned>(request->bmic_opcode), static_cast<unsigned>(length));
        request->low_level_status = kPavlinRequestNotSendable;
        request->scsi_status = 0;
        request->command_status = 0;
        request->valid_sense_data_size = 0;
        return eCOMMAND_STATUS_FAILED;
    }

    pavlin::DeviceNode node(internal.command_target.device_node_name, kFalse, &internal.command_target.device_handle);
    request->low_level_status = static_cast<VK_INT32>(node.error());
    if (node.error() != 0) {
        return eCOMMAND_STATUS_FAILED;
    }

    VK_UINT8 cdb[16];
    __BMIC2SCSI(request, cdb);
    scsi.cdb = cdb;
    scsi.cdb_size = 16;
    const EnCommandStatus status = _SendSCSICommand(&internal);

    request->low_level_status = scsi.low_level_status;
    request->valid_sense_data_size = scsi.valid_sense_data_size;
    request->scsi_status = scsi.scsi_status;
    request->command_status = scsi.command_status;
    return status;
}

// ---- SCSI -------------------------------------------------------------------------------------

EnCommandStatus PN_ExecuteSCSICommand(DeviceDescriptor device_descriptor, PSCSIRequest request) {
    if (device_descriptor == nullptr || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    EnCommandStatus status = eCOMMAND_STATUS_FAILED;
    PavlinInternalSCSIRequest internal{};
    internal.request = request;
    if (!DecodeCommandTarget(device_descriptor, internal.command_target)) {
        PN_DebugLog(1, 0, "%s:%d: Unable to decode protocol type, protocol address, or device node\n",
                    __FILE__, __LINE__);
    } else {
        pavlin::DeviceNode node(internal.command_target.device_node_name, kFalse, &internal.command_target.device_handle);
        request->low_level_status = static_cast<VK_INT32>(node.error());
        if (node.error() == 0) {
            // SIS controllers answer the logical-drive report under their own opcode.
            if (internal.command_target.protocol_type == kProtocolTypeSIS && request->cdb != nullptr &&
                request->cdb_size > 0 && request->cdb[0] == 0xC2) {
                request->cdb[0] = 0xC4;
            }
            status = _SendSCSICommand(&internal);
        }
    }
    if (g_scsi_command_callback != nullptr) {
        g_scsi_command_callback(request);
    }
    return status;
}

// ---- SMP and NVMe -----------------------------------------------------------------------------

EnCommandStatus PN_ExecuteSMPCommand(DeviceDescriptor device_descriptor, PSMPRequest request) {
    if (device_descriptor == nullptr || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PavlinInternalSMPRequest internal{};
    internal.request = request;
    return SendToOpenNode(device_descriptor, internal.command_target, &request->low_level_status,
                          [&] { return _PN_SendSMPCommand(&internal); });
}

EnCommandStatus PN_ExecuteNVMECommand(DeviceDescriptor device_descriptor, PNVMERequest request) {
    if (device_descriptor == nullptr || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PavlinInternalNVMeRequest internal{};
    internal.request = request;
    return SendToOpenNode(device_descriptor, internal.command_target, nullptr,
                          [&] { return _PN_SendNVMECommand(&internal); });
}

// ---- Register new disks and controller reset ----------------------------------------------------

EnCommandStatus PN_ExecuteRegNewDiskMessage(DeviceDescriptor device_descriptor) {
    if (device_descriptor == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PavlinInternalCommandTarget target{};
    return SendToOpenNode(device_descriptor, target, nullptr, [&] {
        const VK_DWORD result = _PN_SendRegNewDiskMessage(device_descriptor, target.device_handle,
                                                          target.protocol_type, target.device_node_name);
        return result == 0 ? eCOMMAND_STATUS_OK : eCOMMAND_STATUS_FAILED;
    });
}

EnCommandStatus PN_SendResetControllerCommand(DeviceDescriptor device_descriptor, VK_BYTE reset_type) {
    if (device_descriptor == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    PavlinInternalCommandTarget target{};
    return SendToOpenNode(device_descriptor, target, nullptr, [&] {
        return _PN_SendControllerReset(device_descriptor, target.device_handle, reset_type)
                   ? eCOMMAND_STATUS_OK
                   : eCOMMAND_STATUS_FAILED;
    });
}

// ---- ATA PASS-THROUGH (16) ------------------------------------------------------------------------

void __ATA2SCSI(PATARequest request, VK_UINT8* cdb) {
    const auto& r = request->u.Registers;
    VK_UINT8 protocol = 3; // non-data
    if (request->transfer_type == eDATA_TRANSFER_IN) {
        protocol = 4; // PIO data-in
    } else if (request->transfer_type == eDATA_TRANSFER_OUT ||
               request->transfer_type == eDATA_TRANSFER_INOUT) {
        protocol = 5; // PIO data-out
    }
    std::memset(cdb, 0, 16);
    cdb[0] = 0x85;
    cdb[1] = static_cast<VK_UINT8>(protocol * 2 + 1);
    cdb[2] = request->transfer_type == eDATA_TRANSFER_IN ? 0x2E : 0x26;
    cdb[3] = r.previous_feature;
    cdb[4] = r.current_feature;
    // Count fields left 0 take the buffer size in 512-byte sectors.
    cdb[5] = r.previous_count != 0 ? r.previous_count : static_cast<VK_UINT8>(request->io_buffer_size >> 17);
    cdb[6] = r.current_count != 0 ? r.current_count : static_cast<VK_UINT8>(request->io_buffer_size >> 9);
    cdb[7] = r.previous_lba_low;
    cdb[8] = r.current_lba_low;
    cdb[9] = r.previous_lba_mid;
    cdb[10] = r.current_lba_mid;
    cdb[11] = r.previous_lba_high;
    cdb[12] = r.current_lba_high;
    cdb[13] = r.current_device;
    cdb[14] = r.current_command;
    cdb[15] = 0;
}

void __DecodeATAReturnRegisters(PATARequest request, pavlin::ByteView sense) {
    auto& rr = request->ReturnRegisters;
    std::memset(&rr, 0, sizeof(rr));
    const auto code = sense.u8(0);
    if (!code) {
        return;
    }
    rr.sense_format = *code;
    auto at = [](pavlin::ByteView v, size_t i) -> VK_BYTE { return v.u8(i).value_or(0); };
    switch (pavlin::SenseFormatOf(sense, pavlin::SenseCodeRule::kExact)) {
        case pavlin::SenseFormat::kFixed:
            rr.error = at(sense, 3);
            rr.status = at(sense, 4);
            rr.device = at(sense, 5);
            rr.sector_count_lsb = at(sense, 6);
            if (at(sense, 7) > 3) {
                rr.lba_high_msb = at(sense, 8);
                rr.lba_high_lsb = at(sense, 9);
                rr.lba_mid_lsb = at(sense, 10);
                rr.lba_low_lsb = at(sense, 11);
            }
            break;
        case pavlin::SenseFormat::kDescriptor:
            // The ATA return descriptor need not come first.
            if (const auto d = pavlin::FindATAReturnDescriptor(sense)) {
                rr.error = at(*d, 3);
                rr.sector_count_msb = at(*d, 4);
                rr.sector_count_lsb = at(*d, 5);
                rr.lba_low_msb = at(*d, 6);
                rr.lba_low_lsb = at(*d, 7);
                rr.lba_mid_msb = at(*d, 8);
                rr.lba_mid_lsb = at(*d, 9);
                rr.lba_high_msb = at(*d, 10);
                rr.lba_high_lsb = at(*d, 11);
                rr.device = at(*d, 12);
                rr.status = at(*d, 13);
            }
            break;
        default:
            break;
    }
}

bool __ATASenseReportsNoError(pavlin::ByteView sense) {
    constexpr VK_BYTE kATAStatusError = 0x01;
    // Where the byte that would tell lies beyond the data given, the sense cannot vouch for success.
    switch (pavlin::SenseFormatOf(sense, pavlin::SenseCodeRule::kExact)) {
        case pavlin::SenseFormat::kFixed: {
            const auto status = sense.u8(4);
            return status && (*status & kATAStatusError) == 0;
        }
        case pavlin::SenseFormat::kDescriptor: {
            const auto d = pavlin::FindATAReturnDescriptor(sense);
            if (d) {
                return (*d->u8(13) & kATAStatusError) == 0;
            }
            return false;
        }
        case pavlin::SenseFormat::kOther:
            return *sense.u8(0) == 0;
        case pavlin::SenseFormat::kNone:
        default:
            return false;
    }
}

VK_BOOL CheckATAPassthroughSenseData(VK_BYTE* sense_data, VK_DWORD size) {
    return __ATASenseReportsNoError(pavlin::ByteView(sense_data, size)) ? kTrue : kFalse;
}

namespace {

// The ATA request's part once its node is open: the pass-through CDB, then statuses, sense and
// return registers back into the request.
EnCommandStatus SendATAPassthrough(PATARequest request, PavlinInternalSCSIRequest& internal) {
    // Host block devices take no ATA pass-through.
    if (!IsATACapableProtocol(internal.command_target.protocol_type)) {
        request->low_level_status = -1;
        return eCOMMAND_STATUS_FAILED;
    }
    SCSIRequest& scsi = *internal.request;
    VK_UINT8 cdb[16];
    __ATA2SCSI(request, cdb);
    VK_BYTE sense[kPavlinLentSenseSize] = {};
    scsi.cdb = cdb;
    scsi.cdb_size = 16;
    scsi.sense_data = sense;
    scsi.sense_data_size = sizeof(sense);
    const EnCommandStatus status = _SendSCSICommand(&internal);

    request->low_level_status = scsi.low_level_status;
    request->scsi_status = scsi.scsi_status;
    request->command_status = scsi.command_status;
    if (request->sense_data != nullptr && request->sense_data_size != 0) {
        std::memcpy(request->sense_data, sense,
                    VK_min(request->sense_data_size, static_cast<VK_UINT32>(sizeof(sense))));
    }
    __DecodeATAReturnRegisters(request, pavlin::ByteView(sense, sizeof(sense)));
    return status;
}

} // namespace

EnCommandStatus PN_ExecuteATACommand(DeviceDescriptor device_descriptor, PATARequest request) {
    if (device_descriptor == nullptr || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    SCSIRequest scsi = CarrierFor(*request);
    PavlinInternalSCSIRequest internal{};
    internal.request = &scsi;
    return SendToOpenNode(device_descriptor, internal.command_target, &request->low_level_status,
                          [&] { return SendATAPassthrough(request, internal); });
}

// ---- Block I/O --------------------------------------------------------------------------------

void __BuildReadWrite16CDB(VK_BOOL read, VK_UINT64 lba, VK_UINT32 block_count, VK_UINT8* cdb) {
    std::memset(cdb, 0, 16);
    pavlin::ByteSpan out(cdb, 16);
    cdb[0] = read ? 0x88 : 0x8A;
    out.put_be64(2, lba);
    out.put_be32(10, block_count);
}

void __BuildBMICLogicalDriveCDB(VK_BOOL read, const VK_BYTE* protocol_address, VK_UINT64 lba,
                                VK_UINT32 block_count, VK_UINT8* cdb) {
    std::memset(cdb, 0, 16);
    pavlin::ByteSpan out(cdb, 16);
    cdb[0] = read ? 0x26 : 0x27;
    cdb[1] = protocol_address[kPavlinAddressLUNOffset];
    out.put_be32(2, static_cast<VK_UINT32>(lba));
    cdb[6] = read ? 0x20 : 0x30; // BMIC_READ_LOGICAL_DRIVE, BMIC_WRITE_LOGICAL_DRIVE
    out.put_be16(7, static_cast<VK_UINT16>(block_count));
    cdb[9] = protocol_address[kPavlinAddressLUNOffset + 1];
    out.put_be32(10, static_cast<VK_UINT32>(lba >> 32));
    out.put_be16(14, static_cast<VK_UINT16>(block_count >> 16));
}

EnCommandStatus PN_ExecuteIORequest(DeviceDescriptor device_descriptor, PIORequest request) {
    if (PN_CanExecuteIORequest(device_descriptor) != kCanExecuteIORequestOK || request == nullptr) {
        return eCOMMAND_STATUS_FAILED;
    }
    // Without a block size no block count can be stated.
    if (request->block_size_in_bytes == 0) {
        request->low_level_status = kPavlinRequestNotSendable;
        return eCOMMAND_STATUS_FAILED;
    }
    SCSIRequest scsi{};
    scsi.transfer_type = request->transfer_type;
    scsi.io_buffer = request->io_buffer;
    scsi.io_buffer_size = request->io_buffer_size;
    scsi.timeout_sec = 0;

    PavlinInternalSCSIRequest internal{};
    internal.request = &scsi;
    PavlinInternalCommandTarget& target = internal.command_target;
    if (!DecodeCommandTarget(device_descriptor, target)) {
        return eCOMMAND_STATUS_FAILED;
    }
    VK_BYTE* address = target.protocol_address;
    const VK_BYTE flags = address[kPavlinAddressFlagsByte];
    if ((flags & kPavlinAddressFlagCommands) == 0) {
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::DeviceNode node(target.device_node_name, kFalse, &target.device_handle);
    request->low_level_status = static_cast<VK_INT32>(node.error());
    if (node.error() != 0) {
        return eCOMMAND_STATUS_FAILED;
    }

    const VK_UINT32 block_count = request->io_buffer_size / request->block_size_in_bytes;
    const VK_BOOL read = request->transfer_type == eDATA_TRANSFER_IN ? kTrue : kFalse;
    VK_UINT8 cdb[16];
    if ((flags & kPavlinAddressFlagLogical) != 0 && target.protocol_type == kProtocolTypeSIS) {
        __BuildBMICLogicalDriveCDB(read, address, request->lba_offset, block_count, cdb);
        // The controller itself executes the logical-drive read or write, so the command goes to
        // its own bus, target and LUN and is not tunnelled.
        std::memset(address + kPavlinAddressFlagsByte, 0,
                    kPavlinProtocolAddressSize - kPavlinAddressFlagsByte);
        address[kPavlinAddressFlagsByte] = kPavlinAddressFlagCommands;
    } else if ((flags & (kPavlinAddressFlagLogical | kPavlinAddressFlagPhysical)) != 0) {
        __BuildReadWrite16CDB(read, request->lba_offset, block_count, cdb);
    } else {
        return eCOMMAND_STATUS_FAILED; // the controller itself holds no blocks
    }
    scsi.cdb = cdb;
    scsi.cdb_size = 16;
    const EnCommandStatus status = _SendSCSICommand(&internal);
    request->low_level_status = scsi.low_level_status;
    return status;
}
