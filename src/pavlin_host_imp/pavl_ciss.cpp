// CISS driver pass-through, serving CISS and PQI controllers, and its register-new-disks request.
#include "pavl_wire.h"

#include "pavl_linux_x86.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <cstring>

// The kernel's own records, to hold ours to them. Included last: it defines BYTE, WORD and DWORD.
#include <linux/cciss_ioctl.h>

// Our records against the kernel's.
static_assert(sizeof(pavlin::IOCTL_Command_struct) == sizeof(::IOCTL_Command_struct));
static_assert(offsetof(pavlin::IOCTL_Command_struct, LUNInfo) == offsetof(::IOCTL_Command_struct, LUN_info));
static_assert(offsetof(pavlin::IOCTL_Command_struct, Request) == offsetof(::IOCTL_Command_struct, Request));
static_assert(offsetof(pavlin::IOCTL_Command_struct, errorInfo) ==
              offsetof(::IOCTL_Command_struct, error_info));
static_assert(offsetof(pavlin::IOCTL_Command_struct, wIOBufferSize) ==
              offsetof(::IOCTL_Command_struct, buf_size));
static_assert(offsetof(pavlin::IOCTL_Command_struct, pIOBuffer) == offsetof(::IOCTL_Command_struct, buf));
static_assert(sizeof(pavlin::BIG_IOCTL_Command_struct) == sizeof(::BIG_IOCTL_Command_struct));
static_assert(offsetof(pavlin::BIG_IOCTL_Command_struct, dwMallocSize) ==
              offsetof(::BIG_IOCTL_Command_struct, malloc_size));
static_assert(offsetof(pavlin::BIG_IOCTL_Command_struct, dwIOBufferSize) ==
              offsetof(::BIG_IOCTL_Command_struct, buf_size));
static_assert(offsetof(pavlin::BIG_IOCTL_Command_struct, pIOBuffer) ==
              offsetof(::BIG_IOCTL_Command_struct, buf));
static_assert(sizeof(pavlin::CISSRequestBlock) == sizeof(::RequestBlock_struct));
static_assert(offsetof(pavlin::CISSRequestBlock, wTimeout) == offsetof(::RequestBlock_struct, Timeout));
static_assert(offsetof(pavlin::CISSRequestBlock, cdb) == offsetof(::RequestBlock_struct, CDB));
static_assert(sizeof(pavlin::CISSErrorInfo) == sizeof(::ErrorInfo_struct));
static_assert(offsetof(pavlin::CISSErrorInfo, bSenseLen) == offsetof(::ErrorInfo_struct, SenseLen));
static_assert(offsetof(pavlin::CISSErrorInfo, wCommandStatus) == offsetof(::ErrorInfo_struct, CommandStatus));
static_assert(offsetof(pavlin::CISSErrorInfo, dwResidualCnt) == offsetof(::ErrorInfo_struct, ResidualCnt));
static_assert(offsetof(pavlin::CISSErrorInfo, bSenseInfo) == offsetof(::ErrorInfo_struct, SenseInfo));
static_assert(sizeof(pavlin::CISSErrorInfo::bSenseInfo) == SENSEINFOBYTES);
static_assert(pavlin::kIoctlCISSPassthrough == CCISS_PASSTHRU);
static_assert(pavlin::kIoctlCISSBigPassthrough == CCISS_BIG_PASSTHRU);
static_assert(pavlin::kIoctlCISSRegisterNewDisks == CCISS_REGNEWD);
static_assert(_IOC_SIZE(CCISS_PASSTHRU) == sizeof(pavlin::IOCTL_Command_struct));
static_assert(_IOC_SIZE(CCISS_BIG_PASSTHRU) == sizeof(pavlin::BIG_IOCTL_Command_struct));
static_assert(pavlin::kCISSDirectionRead == XFER_READ && pavlin::kCISSDirectionWrite == XFER_WRITE &&
              pavlin::kCISSDirectionNone == XFER_NONE);
static_assert(pavlin::kCISSAttributeSimple == ATTR_SIMPLE && pavlin::kCISSTypeCommand == TYPE_CMD);

namespace pavlin {

namespace {
constexpr VK_WORD kCISSMinTimeout = 30;
constexpr VK_WORD kCISSMaxTimeout = 600;
} // namespace

VK_BYTE __CISSDirection(EnTransferType transfer_type, VK_UINT32 io_buffer_size) {
    if (io_buffer_size == 0) {
        return kCISSDirectionNone;
    }
    switch (transfer_type) {
        case eDATA_TRANSFER_IN:
            return kCISSDirectionRead;
        case eDATA_TRANSFER_OUT:
            return kCISSDirectionWrite;
        case eDATA_TRANSFER_INOUT:
            return kCISSDirectionBoth;
        default:
            return kCISSDirectionNone;
    }
}

VK_WORD __CISSTimeout(VK_UINT32 timeout_sec) {
    if (timeout_sec < kCISSMinTimeout) {
        return kCISSMinTimeout;
    }
    if (timeout_sec > kCISSMaxTimeout) {
        return kCISSMaxTimeout;
    }
    return static_cast<VK_WORD>(timeout_sec);
}

VK_DWORD __CISSChunkSize(VK_UINT32 io_buffer_size) {
    VK_DWORD chunk = io_buffer_size / 31;
    if (chunk == 0) {
        chunk = 1024;
    }
    return (chunk + 1023) / 1024 * 1024;
}

bool __BuildCISSPassthrough(const PavlinInternalSCSIRequest& internal_request, CISSPassthrough& out) {
    std::memset(&out, 0, sizeof(out));
    const SCSIRequest& r = *internal_request.request;
    if (r.cdb_size > sizeof(out.ordinary.Request.cdb) || (r.cdb_size != 0 && r.cdb == nullptr)) {
        return false;
    }
    CISSRequestBlock block{};
    block.bCDBLen = r.cdb_size;
    if (r.cdb_size != 0) {
        std::memcpy(block.cdb, r.cdb, r.cdb_size);
    }
    block.Type = static_cast<VK_BYTE>(kCISSTypeCommand | (kCISSAttributeSimple << 3) |
                                      (__CISSDirection(r.transfer_type, r.io_buffer_size) << 6));
    block.wTimeout = __CISSTimeout(r.timeout_sec);

    const VK_BYTE* lun = internal_request.command_target.protocol_address + kPavlinAddressLUNOffset;
    out.big = r.io_buffer_size > kCISSOrdinaryRecordMaxBuffer;
    if (!out.big) {
        std::memcpy(out.ordinary.LUNInfo, lun, sizeof(out.ordinary.LUNInfo));
        out.ordinary.Request = block;
        out.ordinary.wIOBufferSize = static_cast<VK_WORD>(r.io_buffer_size);
        out.ordinary.pIOBuffer = r.io_buffer;
    } else {
        std::memcpy(out.big_record.LUNInfo, lun, sizeof(out.big_record.LUNInfo));
        out.big_record.Request = block;
        out.big_record.dwMallocSize = __CISSChunkSize(r.io_buffer_size);
        out.big_record.dwIOBufferSize = r.io_buffer_size;
        out.big_record.pIOBuffer = r.io_buffer;
    }
    return true;
}

void __TakeCISSReply(PSCSIRequest request, const CISSErrorInfo& error_info) {
    request->scsi_status = error_info.bScsiStatus;
    request->command_status = error_info.wCommandStatus;
    const VK_UINT32 valid = VK_min(static_cast<VK_UINT32>(error_info.bSenseLen),
                                   static_cast<VK_UINT32>(sizeof(error_info.bSenseInfo)));
    request->valid_sense_data_size = valid;
    if (request->sense_data != nullptr && request->sense_data_size != 0 && valid != 0) {
        std::memcpy(request->sense_data, error_info.bSenseInfo, VK_min(valid, request->sense_data_size));
    }
}

} // namespace pavlin

EnCommandStatus _PN_SendSCSICommandForCISSAndPQI(PavlinInternalSCSIRequest* internal_request) {
    PSCSIRequest request = internal_request->request;
    pavlin::CISSPassthrough passthrough;
    if (!pavlin::__BuildCISSPassthrough(*internal_request, passthrough)) {
        request->low_level_status = kPavlinRequestNotSendable;
        return eCOMMAND_STATUS_FAILED;
    }
    const VK_DWORD result = _PN_SendIOCTL(internal_request->command_target.device_handle,
                                          passthrough.RequestCode(), passthrough.Record());
    request->low_level_status = static_cast<VK_INT32>(result);
    if (result != 0) {
        return eCOMMAND_STATUS_FAILED;
    }
    pavlin::__TakeCISSReply(request, passthrough.ErrorInfo());
    // The driver answers 0 for a command the controller never completed (invalid, protocol or hardware
    // error, lost connection, abort, timeout): that command was not carried.
    if (request->command_status >= pavlin::kCISSCommandStatusInvalid) {
        request->low_level_status = EIO;
        return eCOMMAND_STATUS_FAILED;
    }
    return eCOMMAND_STATUS_OK;
}

VK_DWORD _PN_SendRegNewDiskMessage(DeviceDescriptor device_descriptor, int device_handle,
                                   VK_WORD protocol_type, const char* device_node_name) {
    (void)device_descriptor;
    (void)device_node_name;
    // PQI and SIS drivers find new disks by themselves.
    if (protocol_type != kProtocolTypeCISS) {
        return 0;
    }
    return _PN_SendIOCTL(device_handle, pavlin::kIoctlCISSRegisterNewDisks, nullptr);
}
