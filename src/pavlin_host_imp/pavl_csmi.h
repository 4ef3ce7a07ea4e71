// CSMI SAS requests of CSMI-capable drivers: records and senders.
#ifndef PAVL_CSMI_H
#define PAVL_CSMI_H

#include "pavl_extern.h"

#include <cstddef>

inline constexpr unsigned long kCSMISASSSPPassthroughRequest = 0xCC770018UL;
inline constexpr VK_UINT64 kCSMISASTimeout = 60;

// Every CSMI buffer starts with this header.
struct IOCTL_HEADER {
    VK_UINT64 IOControllerNumber;
    VK_UINT64 Length; // the whole buffer's size
    VK_UINT64 ReturnCode;
    VK_UINT64 Timeout;
    VK_UINT16 Direction; // 1 when data go to the device
};
static_assert(sizeof(IOCTL_HEADER) == 40);

// SSP pass-through; the data follow the record.
struct CSMI_SAS_SSP_PASSTHRU_BUFFER {
    IOCTL_HEADER IoctlHeader;
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bConnectionRate;
    VK_BYTE bReserved;
    VK_BYTE bDestinationSASAddress[8];
    VK_BYTE bLun[8];
    VK_BYTE bCDBLength;
    VK_BYTE bAdditionalCDBLength;
    VK_BYTE bReserved2[2];
    VK_BYTE bCDB[16];
    VK_UINT64 uFlags;
    VK_BYTE bAdditionalCDB[24];
    VK_UINT64 uDataLength;
    VK_BYTE bConnectionStatus;
    VK_BYTE bSSPStatus;
    VK_BYTE bReserved3[2];
    VK_BYTE bDataPresent;
    VK_BYTE bStatus;
    VK_BYTE bResponseLength[2]; // most significant byte first
    VK_BYTE bResponse[256];
    VK_UINT64 uDataBytes;
};
static_assert(sizeof(CSMI_SAS_SSP_PASSTHRU_BUFFER) == 392);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bPhyIdentifier) == 40);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bDestinationSASAddress) == 44);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bLun) == 52);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bCDBLength) == 60);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bCDB) == 64);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uFlags) == 80);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uDataLength) == 112);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bConnectionStatus) == 120);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bDataPresent) == 124);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bStatus) == 125);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bResponseLength) == 126);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, bResponse) == 128);
static_assert(offsetof(CSMI_SAS_SSP_PASSTHRU_BUFFER, uDataBytes) == 384);

inline constexpr VK_UINT64 kCSMISSPFlagRead = 1;
inline constexpr VK_UINT64 kCSMISSPFlagWrite = 2;
inline constexpr VK_UINT64 kCSMISSPFlagNoData = 4;
inline constexpr VK_BYTE kCSMISSPResponseDataPresent = 2;

// Sends one CSMI request through a working copy of the buffer, which is copied back whatever the
// outcome. 0 or the system error number.
VK_DWORD __SendCSMISASCommand(int device_handle, unsigned long request_code, void* buffer,
                              VK_DWORD buffer_size);

// Fills a zeroed SSP buffer (the record followed by data_buffer_size bytes). False when the request
// cannot be expressed.
bool __BuildCSMISSPPassthru(VK_BYTE* buffer, VK_DWORD controller_number, VK_BYTE phy_identifier,
                            const VK_BYTE* sas_address, EnTransferType transfer_type, const VK_BYTE* cdb,
                            VK_BYTE cdb_length, const VK_BYTE* data_buffer, VK_DWORD data_buffer_size);

// Reads a request the driver completed back: the data read (at most the bytes the driver reports),
// the device status and the response (sense) data.
void __TakeCSMISSPPassthruReply(const VK_BYTE* buffer, EnTransferType transfer_type, VK_BYTE* data_buffer,
                                VK_DWORD data_buffer_size, VK_BYTE* sense_buffer, VK_DWORD sense_buffer_size,
                                VK_DWORD* valid_sense_length, VK_BYTE* device_status);

// 0 done; otherwise the driver's error, or 1 when the request went through but the driver reported
// a failure, or nothing could be sent.
VK_DWORD SendCSMISASSSPPassthruCommand(int device_handle, VK_DWORD controller_number, VK_BYTE phy_identifier,
                                       const VK_BYTE* sas_address, EnTransferType transfer_type,
                                       const VK_BYTE* cdb, VK_BYTE cdb_length, VK_BYTE* data_buffer,
                                       VK_DWORD data_buffer_size, VK_BYTE* sense_buffer,
                                       VK_DWORD sense_buffer_size, VK_DWORD* valid_sense_length,
                                       VK_BYTE* device_status);

#endif
