// Byte layouts of the kernel requests and controller frames that the transports build, and the
// builders that fill them. Building and reading back are kept apart from the one ioctl between them,
// so each half can be checked on its own.
//
// The records live in a namespace: the CISS ones share their names with the kernel's own
// definitions, which the transport includes to check them against.
#ifndef PAVL_WIRE_H
#define PAVL_WIRE_H

#include "pavl_extern.h"

#include <scsi/sg.h>

#include <cstddef>
#include <cstdint>

namespace pavlin {

// Request codes.
inline constexpr unsigned long kIoctlCISSPassthrough = 0xC058420BUL;
inline constexpr unsigned long kIoctlCISSBigPassthrough = 0xC0604212UL;
inline constexpr unsigned long kIoctlCISSRegisterNewDisks = 0x420EUL;
inline constexpr unsigned long kIoctlSGIO = 0x2285UL;
inline constexpr unsigned long kIoctlNVMeAdminCommand = 0xC0484E41UL;
inline constexpr unsigned long kIoctlSISReset = 0x42170UL;
inline constexpr unsigned long kIoctlSISSendRawSRB = 0x4204CUL;

// ---- CISS pass-through ------------------------------------------------------------------------

struct CISSRequestBlock {
    VK_BYTE bCDBLen;
    VK_BYTE Type; // bits 0-2 type, 3-5 attribute, 6-7 direction
    VK_WORD wTimeout;
    VK_BYTE cdb[16];
};

struct CISSErrorInfo {
    VK_BYTE bScsiStatus;
    VK_BYTE bSenseLen;
    VK_WORD wCommandStatus;
    VK_DWORD dwResidualCnt;
    VK_BYTE moreErrInfo[8];
    VK_BYTE bSenseInfo[32];
};

struct IOCTL_Command_struct {
    VK_BYTE LUNInfo[8];
    CISSRequestBlock Request;
    CISSErrorInfo errorInfo;
    VK_WORD wIOBufferSize;
    VK_BYTE* pIOBuffer;
};

struct BIG_IOCTL_Command_struct {
    VK_BYTE LUNInfo[8];
    CISSRequestBlock Request;
    CISSErrorInfo errorInfo;
    VK_DWORD dwMallocSize;
    VK_DWORD dwIOBufferSize;
    VK_BYTE* pIOBuffer;
};

static_assert(sizeof(CISSRequestBlock) == 20 && sizeof(CISSErrorInfo) == 48);
static_assert(sizeof(IOCTL_Command_struct) == 88);
static_assert(offsetof(IOCTL_Command_struct, Request) == 8);
static_assert(offsetof(IOCTL_Command_struct, errorInfo) == 28);
static_assert(offsetof(IOCTL_Command_struct, wIOBufferSize) == 76);
static_assert(offsetof(IOCTL_Command_struct, pIOBuffer) == 80);
static_assert(sizeof(BIG_IOCTL_Command_struct) == 96);
static_assert(offsetof(BIG_IOCTL_Command_struct, dwMallocSize) == 76);
static_assert(offsetof(BIG_IOCTL_Command_struct, dwIOBufferSize) == 80);
static_assert(offsetof(BIG_IOCTL_Command_struct, pIOBuffer) == 88);

inline constexpr VK_BYTE kCISSDirectionNone = 0;
inline constexpr VK_BYTE kCISSDirectionWrite = 1;
inline constexpr VK_BYTE kCISSDirectionRead = 2;
inline constexpr VK_BYTE kCISSDirectionBoth = 3;
inline constexpr VK_BYTE kCISSTypeCommand = 0;
inline constexpr VK_BYTE kCISSAttributeSimple = 4;
// CISS command status: 0 success, 1 target status (judged by the SCSI status), 2 data underrun, 3 data
// overrun; from 4 on the controller did not complete the command.
inline constexpr VK_WORD kCISSCommandStatusInvalid = 4;

// Largest buffer whose size the ordinary record's 16-bit field can state; anything larger
// travels in the big record.
inline constexpr VK_UINT32 kCISSOrdinaryRecordMaxBuffer = 0xFFFF;

struct CISSPassthrough {
    bool big;
    IOCTL_Command_struct ordinary;
    BIG_IOCTL_Command_struct big_record;

    unsigned long RequestCode() const { return big ? kIoctlCISSBigPassthrough : kIoctlCISSPassthrough; }
    void* Record() { return big ? static_cast<void*>(&big_record) : static_cast<void*>(&ordinary); }
    const CISSErrorInfo& ErrorInfo() const { return big ? big_record.errorInfo : ordinary.errorInfo; }
    CISSErrorInfo& ErrorInfo() { return big ? big_record.errorInfo : ordinary.errorInfo; }
};

VK_BYTE __CISSDirection(EnTransferType transfer_type, VK_UINT32 io_buffer_size);
VK_WORD __CISSTimeout(VK_UINT32 timeout_sec);
VK_DWORD __CISSChunkSize(VK_UINT32 io_buffer_size);
// Fills the ordinary or the big record. False when the CDB does not fit the record.
bool __BuildCISSPassthrough(const PavlinInternalSCSIRequest& internal_request, CISSPassthrough& out);
// Statuses and sense of a completed pass-through.
void __TakeCISSReply(PSCSIRequest request, const CISSErrorInfo& error_info);

// ---- SG_IO ------------------------------------------------------------------------------------

// The kernel's sense-size field is 8 bits wide.
inline constexpr VK_UINT32 kSGIOMaxSenseSize = 255;

void __BuildSGIOHeader(PSCSIRequest request, sg_io_hdr_t& header);
// Status and sense of a request the kernel carried. False, with low_level_status EIO, when the
// host adapter or the driver says the command did not complete.
bool __TakeSGIOReply(PSCSIRequest request, const sg_io_hdr_t& header);

// ---- NVMe admin command -----------------------------------------------------------------------

// The kernel's admin command: the request's 16 command words, its queue_id where the kernel keeps
// its time limit, and a word the kernel writes the command's result into.
struct NVMeAdminCommand {
    VK_UINT32 command[16];
    VK_UINT32 timeout_ms;
    VK_UINT32 result;
};
static_assert(sizeof(NVMeAdminCommand) == 72);

// ---- SIS raw SRB ------------------------------------------------------------------------------

struct HOST_SCSI_REQUEST_BLOCK64UX {
    VK_DWORD Function;
    VK_DWORD Bus;
    VK_DWORD TargetId;
    VK_DWORD Lun;
    VK_DWORD TimeOutValue;
    VK_DWORD SrbFlags;
    VK_DWORD DataTransferLength;
    VK_DWORD RetryLimit;
    VK_DWORD CdbLength;
    VK_BYTE Cdb[16];
    VK_WORD SgCount;
    VK_WORD SgFlags;
    VK_DWORD SgAddressLo32;
    VK_DWORD SgAddressHi32;
    VK_DWORD SgByteCount;
};
static_assert(sizeof(HOST_SCSI_REQUEST_BLOCK64UX) == 68);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, SrbFlags) == 20);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, CdbLength) == 32);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, Cdb) == 36);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, SgCount) == 52);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, SgAddressLo32) == 56);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK64UX, SgByteCount) == 64);

struct HOST_SCSI_REQUEST_BLOCK_RESULT {
    VK_DWORD Status;
    VK_DWORD SrbStatus;
    VK_DWORD ScsiStatus;
    VK_DWORD DataTransferLength;
    VK_DWORD SenseInfoBufferLength;
    VK_BYTE SenseInfoBuffer[30];
};
static_assert(sizeof(HOST_SCSI_REQUEST_BLOCK_RESULT) == 52);
static_assert(offsetof(HOST_SCSI_REQUEST_BLOCK_RESULT, SenseInfoBuffer) == 20);

inline constexpr VK_DWORD kSISSRBSize = 68;
// Without data the scatter-gather entry is left off.
inline constexpr VK_DWORD kSISSRBSizeNoData = 56;
inline constexpr VK_DWORD kSISSrbFlagsDataIn = 0x40;
inline constexpr VK_DWORD kSISSrbFlagsDataOut = 0x80;
inline constexpr VK_DWORD kSISSrbFlagsBoth = 0xC0;

// The ioctl argument: the SRB with the reply right behind it.
struct SISRawSRB {
    alignas(8) VK_BYTE bytes[kSISSRBSize + sizeof(HOST_SCSI_REQUEST_BLOCK_RESULT)];
    VK_DWORD srb_size;

    HOST_SCSI_REQUEST_BLOCK_RESULT Reply() const;
};

// kSISPassthroughDone or kSISPassthroughNotSent.
VK_DWORD __BuildSISRawSRB(VK_BYTE bus, VK_BYTE target, VK_BYTE lun, VK_BYTE cdb_length, const VK_BYTE* cdb,
                          VK_BYTE* data_buffer, VK_DWORD data_buffer_size, EnTransferType transfer_type,
                          SISRawSRB& out);

// ---- CSMI frames tunnelled to SIS and PQI controllers inside BMIC 0x68 ---------------------------

struct CSMI_PT_HEADER {
    VK_DWORD HeaderLength;
    VK_BYTE Signature[8];
    VK_DWORD Timeout;
    VK_DWORD ControlCode;
    VK_DWORD ReturnCode;
    VK_DWORD Length;
};
static_assert(sizeof(CSMI_PT_HEADER) == 28);

struct _MODIFIED_CSMI_SSPPT_BUFFER {
    CSMI_PT_HEADER IoctlHeader;
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bConnectionRate;
    VK_BYTE bReserved;
    VK_BYTE bDestinationSASAddress[8];
    VK_BYTE bLun[8];
    VK_BYTE cdb_length;
    VK_BYTE bAdditionalCDBLength;
    VK_BYTE bReserved2[2];
    VK_BYTE cdb[16];
    VK_DWORD uFlags;
    VK_BYTE bAdditionalCDB[24];
    VK_DWORD uDataLength;
    VK_BYTE bConnectionStatus;
    VK_BYTE bSSPStatus;
    VK_BYTE bReserved3[2];
    VK_BYTE bDataPresent;
    VK_BYTE bStatus;
    VK_BYTE bResponseLength[2]; // most significant byte first
    VK_BYTE bResponse[256];
    VK_DWORD uDataBytes;
    VK_BYTE bDataBuffer[4]; // the data starts here and runs past the end of the record
};
static_assert(sizeof(_MODIFIED_CSMI_SSPPT_BUFFER) == 372);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bLun) == 40);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, cdb_length) == 48);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, cdb) == 52);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, uFlags) == 68);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, uDataLength) == 96);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bDataPresent) == 104);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bResponseLength) == 106);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bResponse) == 108);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, uDataBytes) == 364);
static_assert(offsetof(_MODIFIED_CSMI_SSPPT_BUFFER, bDataBuffer) == 368);

struct _MODIFIED_CSMI_SMPPT_BUFFER {
    CSMI_PT_HEADER IoctlHeader;
    VK_BYTE bPhyIdentifier;
    VK_BYTE bPortIdentifier;
    VK_BYTE bConnectionRate;
    VK_BYTE bReserved;
    VK_BYTE bDestinationSASAddress[8];
    VK_DWORD uRequestLength;
    VK_BYTE bRequestFrameType;
    VK_BYTE bRequestFunction;
    VK_BYTE bAllocatedResponseLength;
    VK_BYTE bRequestLength;
    VK_BYTE bAdditionalRequestBytes[1016];
    VK_BYTE bConnectionStatus;
    VK_BYTE bReserved2[3];
    VK_DWORD uResponseBytes;
    VK_BYTE bResponseFrameType;
    VK_BYTE bResponseFunction;
    VK_BYTE bFunctionResult;
    VK_BYTE bResponseLength;
    VK_BYTE bAdditionalResponseBytes[1016];
};
static_assert(sizeof(_MODIFIED_CSMI_SMPPT_BUFFER) == 2092);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, uRequestLength) == 40);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, bRequestFrameType) == 44);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, bAdditionalRequestBytes) == 48);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, bConnectionStatus) == 1064);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, uResponseBytes) == 1068);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, bResponseFrameType) == 1072);
static_assert(offsetof(_MODIFIED_CSMI_SMPPT_BUFFER, bAdditionalResponseBytes) == 1076);

inline constexpr VK_DWORD kCSMIFrameTimeout = 60;
inline constexpr VK_BYTE kCSMIControlCodeSSP = 24;
inline constexpr VK_BYTE kCSMIControlCodeSMP = 23;
inline constexpr VK_BYTE kBMICCSMIPassthrough = 0x68;
inline constexpr VK_DWORD kSMPFrameDataSize = 1016;
inline constexpr VK_BYTE kCSMIResponseDataPresent = 2;
// The carrying CDB states the frame size in 16 bits.
inline constexpr VK_DWORD kCSMIMaxFrameSize = 0xFFFF;

// Whether a SIS target is reached through the tunnel rather than at its own bus and target.
bool __SISNeedsTunnel(const VK_BYTE* protocol_address);
// The BMIC 0x68 write CDB that carries a frame of `frame_size` bytes.
void __BuildCSMICarrierCDB(VK_BYTE control_code, VK_DWORD frame_size, VK_BYTE* cdb);
// Frame size of a tunnelled SSP command with `data_size` bytes of data, or 0 when the frame would
// not fit the carrying CDB's 16-bit size field.
VK_DWORD __SSPTunnelFrameSize(VK_UINT32 data_size);
// Fills a zeroed frame of `frame_size` bytes (from __SSPTunnelFrameSize) for the request.
void __BuildSSPTunnelFrame(const PavlinInternalSCSIRequest& internal_request, VK_BYTE* frame,
                           VK_DWORD frame_size);
// The tunnelled command's status, data and sense, once the carrier completed without a SCSI error.
void __TakeSSPTunnelReply(PSCSIRequest request, const VK_BYTE* frame, VK_DWORD frame_size);
// After the carrier came back: a carrier that failed with a SCSI status of its own left the frame
// unanswered, so its status and sense are the answer; otherwise the frame's.
void __TakeSSPTunnelCarrierReply(PSCSIRequest request, VK_BYTE carrier_status, const VK_BYTE* carrier_sense,
                                 VK_UINT32 carrier_sense_length, const VK_BYTE* frame, VK_DWORD frame_size);
// False when the request's additional data do not fit the frame.
bool __BuildSMPFrame(PSMPRequest request, _MODIFIED_CSMI_SMPPT_BUFFER& frame);
void __TakeSMPResponse(PSMPRequest request, const _MODIFIED_CSMI_SMPPT_BUFFER& frame);
// After the carrier came back: false, with low_level_status EIO, when the carrier failed with a
// SCSI status of its own (the frame holds no response); otherwise the response is taken.
bool __TakeSMPCarrierReply(PSMPRequest request, VK_BYTE carrier_status,
                           const _MODIFIED_CSMI_SMPPT_BUFFER& frame);

} // namespace pavlin

#endif
