// Internal records and entry points of the command interface and its transports.
#ifndef PAVL_EXTERN_H
#define PAVL_EXTERN_H

#include "ppavl_commands.h"
#include "ppavl_discovery.h"
#include "ppavl_types.h"

#include "pavl_bytes.h"

#include <cerrno>
#include <cstddef>

inline constexpr size_t kPavlinNodeNameSize = 4096;
inline constexpr size_t kPavlinProtocolAddressSize = 16;
inline constexpr VK_UINT8 kPavlinMaxCDBSize = 16;
// Size of the sense buffer the common path lends a request that brings none.
inline constexpr VK_UINT32 kPavlinLentSenseSize = 32;

// Byte 3 of the protocol address.
inline constexpr VK_BYTE kPavlinAddressFlagCommands = 0x01;
inline constexpr VK_BYTE kPavlinAddressFlagPhysical = 0x02;
inline constexpr VK_BYTE kPavlinAddressFlagLogical = 0x04;
inline constexpr size_t kPavlinAddressFlagsByte = 3;
// The 8-byte CISS LUN address sits at bytes 4 to 11 of the protocol address.
inline constexpr size_t kPavlinAddressLUNOffset = 4;

// Where a command goes: the descriptor decoded, and the node opened for this one command.
struct PavlinInternalCommandTarget {
    DeviceDescriptor device_descriptor;
    VK_UINT16 protocol_type;
    VK_UINT8 protocol_address[kPavlinProtocolAddressSize];
    char device_node_name[kPavlinNodeNameSize];
    int device_handle;
};

struct PavlinInternalSCSIRequest {
    PavlinInternalCommandTarget command_target;
    PSCSIRequest request;
};

struct PavlinInternalSMPRequest {
    PavlinInternalCommandTarget command_target;
    PSMPRequest request;
};

struct PavlinInternalNVMeRequest {
    PavlinInternalCommandTarget command_target;
    PNVMERequest request;
};

// Code put in low_level_status when a request is refused before anything is sent because it
// cannot be expressed on the wire (a CDB over 16 bytes, a length that does not fit its field).
inline constexpr VK_INT32 kPavlinRequestNotSendable = EINVAL;

// Common path of the BMIC, SCSI, ATA and block I/O paths: lends a sense buffer when the request
// has none, dispatches by protocol and writes the trace line.
EnCommandStatus _SendSCSICommand(PavlinInternalSCSIRequest* internal_request);

// The 16-byte BMIC CDB. The transfer length keeps its low 16 bits; PN_ExecuteBMICCommand refuses
// requests whose length does not fit.
void __BMIC2SCSI(PBMICRequest request, VK_UINT8* cdb);

// The ATA PASS-THROUGH (16) CDB from the request's register view.
void __ATA2SCSI(PATARequest request, VK_UINT8* cdb);
// Fills ReturnRegisters from the sense bytes that the common path lent the command.
void __DecodeATAReturnRegisters(PATARequest request, pavlin::ByteView sense);
// The judgement of CheckATAPassthroughSenseData: true when the sense reports no ATA error.
bool __ATASenseReportsNoError(pavlin::ByteView sense);

// Block I/O CDBs: READ (16) / WRITE (16), and the BMIC logical-drive read and write of SIS drives.
void __BuildReadWrite16CDB(VK_BOOL read, VK_UINT64 lba, VK_UINT32 block_count, VK_UINT8* cdb);
void __BuildBMICLogicalDriveCDB(VK_BOOL read, const VK_BYTE* protocol_address, VK_UINT64 lba,
                                VK_UINT32 block_count, VK_UINT8* cdb);

// Dispatch by protocol type, without the trace line (the host-volume scan and the SMP transport
// call it directly).
EnCommandStatus _PN_SendSCSICommand(PavlinInternalSCSIRequest* internal_request);
EnCommandStatus _PN_SendSCSICommandForCISSAndPQI(PavlinInternalSCSIRequest* internal_request);
EnCommandStatus _PN_SendSCSICommandForNativeSCSI(PavlinInternalSCSIRequest* internal_request);
EnCommandStatus _PN_SendSCSICommandForCSMI(PavlinInternalSCSIRequest* internal_request);
EnCommandStatus _PN_SendSCSICommandForSIS(PavlinInternalSCSIRequest* internal_request);
EnCommandStatus _PN_SendNVMECommand(PavlinInternalNVMeRequest* internal_request);
EnCommandStatus _PN_SendSMPCommand(PavlinInternalSMPRequest* internal_request);

// True when the SIS driver's reset request succeeded.
VK_BOOL _PN_SendControllerReset(DeviceDescriptor device_descriptor, int device_handle, VK_BYTE reset_type);
// 0 or the system error number; only CISS controllers are sent anything.
VK_DWORD _PN_SendRegNewDiskMessage(DeviceDescriptor device_descriptor, int device_handle,
                                   VK_WORD protocol_type, const char* device_node_name);

// One raw SRB to a SIS controller: 0 done, 1 not sent, 2 the driver request failed, 3 the driver
// does not know the request.
inline constexpr VK_DWORD kSISPassthroughDone = 0;
inline constexpr VK_DWORD kSISPassthroughNotSent = 1;
inline constexpr VK_DWORD kSISPassthroughFailed = 2;
inline constexpr VK_DWORD kSISPassthroughUnknownRequest = 3;
VK_DWORD __SendSISSCSIPassthrough(int device_handle, VK_BYTE bus, VK_BYTE target, VK_BYTE lun,
                                  VK_BYTE cdb_length, const VK_BYTE* cdb, VK_DWORD* bytes_transferred,
                                  VK_BYTE* data_buffer, VK_DWORD data_buffer_size,
                                  EnTransferType transfer_type, VK_DWORD* sense_length_returned,
                                  VK_BYTE* sense_buffer, VK_DWORD sense_buffer_size, VK_BYTE* scsi_status,
                                  VK_BYTE* srb_status);

#endif
