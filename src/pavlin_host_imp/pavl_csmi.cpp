// CSMI SAS SSP pass-through, the transport of descriptors of protocol type 3.
#include "pavl_csmi.h"

#include "pavl_linux_x86.h"
#include "ppavl_platform.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

struct TrackedFree {
    void operator()(VK_BYTE* p) const { VK_free(p); }
};
using TrackedBuffer = std::unique_ptr<VK_BYTE[], TrackedFree>;

TrackedBuffer AllocateZeroed(size_t size) {
    TrackedBuffer buffer(static_cast<VK_BYTE*>(VK_malloc(size)));
    if (buffer) {
        std::memset(buffer.get(), 0, size);
    }
    return buffer;
}

constexpr VK_DWORD kCSMIResponseMax = sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER::bResponse);

} // namespace

VK_DWORD __SendCSMISASCommand(int device_handle, unsigned long request_code, void* buffer,
                              VK_DWORD buffer_size) {
    if (buffer == nullptr || buffer_size < sizeof(IOCTL_HEADER)) {
        return EINVAL;
    }
    // Some drivers write past the caller's record; the working copy gives them room.
    const size_t working_size = static_cast<size_t>(buffer_size) + sizeof(IOCTL_HEADER);
    TrackedBuffer working = AllocateZeroed(working_size);
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

bool __BuildCSMISSPPassthru(VK_BYTE* buffer, VK_DWORD controller_number, VK_BYTE phy_identifier,
                            const VK_BYTE* sas_address, EnTransferType transfer_type, const VK_BYTE* cdb,
                            VK_BYTE cdb_length, const VK_BYTE* data_buffer, VK_DWORD data_buffer_size) {
    CSMI_SAS_SSP_PASSTHRU_BUFFER record{};
    if (cdb_length > sizeof(record.bCDB) || (cdb_length != 0 && cdb == nullptr) ||
        (data_buffer_size != 0 && data_buffer == nullptr) || sas_address == nullptr) {
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
            if (data_buffer_size != 0) {
                std::memcpy(buffer + sizeof(record), data_buffer, data_buffer_size);
            }
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
    std::memcpy(buffer, &record, sizeof(record));
    return true;
}

void __TakeCSMISSPPassthruReply(const VK_BYTE* buffer, EnTransferType transfer_type, VK_BYTE* data_buffer,
                                VK_DWORD data_buffer_size, VK_BYTE* sense_buffer, VK_DWORD sense_buffer_size,
                                VK_DWORD* valid_sense_length, VK_BYTE* device_status) {
    CSMI_SAS_SSP_PASSTHRU_BUFFER record;
    std::memcpy(&record, buffer, sizeof(record));
    if ((transfer_type == eDATA_TRANSFER_IN || transfer_type == eDATA_TRANSFER_INOUT) &&
        data_buffer != nullptr) {
        const VK_UINT64 n = VK_min(record.uDataBytes, static_cast<VK_UINT64>(data_buffer_size));
        if (n != 0) {
            std::memcpy(data_buffer, buffer + sizeof(record), static_cast<size_t>(n));
        }
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
    TrackedBuffer buffer = AllocateZeroed(static_cast<size_t>(total));
    if (!buffer) {
        return 1;
    }
    if (!__BuildCSMISSPPassthru(buffer.get(), controller_number, phy_identifier, sas_address, transfer_type,
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
    __TakeCSMISSPPassthruReply(buffer.get(), transfer_type, data_buffer, data_buffer_size, sense_buffer,
                               sense_buffer_size, valid_sense_length, device_status);
    return 0;
}
