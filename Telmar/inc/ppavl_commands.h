/* Command requests of the platform library: BMIC, SCSI, ATA, SMP, NVMe and block I/O, the
 * permission checks that say whether a device can carry each kind, and the execute functions. */
#ifndef PPAVL_COMMANDS_H
#define PPAVL_COMMANDS_H

#include "ppavl_export.h"
#include "ppavl_types.h"

/* Direction of the data; the message kinds travel without a data direction. */
typedef VK_UINT32 EnTransferType;
#define eDATA_TRANSFER_IN 0
#define eDATA_TRANSFER_IN_MESSAGE 1
#define eDATA_TRANSFER_OUT 2
#define eDATA_TRANSFER_OUT_MESSAGE 3
#define eDATA_TRANSFER_INOUT 4
#define eDATA_TRANSFER_NONE 5

/* OK says only that the command reached the device and came back: the caller still judges the
 * SCSI status, the command status and the sense data. */
typedef VK_UINT32 EnCommandStatus;
#define eCOMMAND_STATUS_OK 0
#define eCOMMAND_STATUS_FAILED 1

#define eERROR_CODE_NO_ERROR 0
#define eERROR_CODE_BUFFER_UNDERRUN 1
#define eERROR_CODE_BUFFER_OVERRRUN 2

#define kResetControllerTypeIOP 0x01
#define kResetControllerTypeDriverSoft 0x02
#define kResetControllerTypeDriverFull 0x03

#define kCanExecuteBMICCommandOK 0x01
#define kCanExecuteBMICCommandNotSupported 0x02
#define kCanExecuteBMICCommandInvalidDevice 0x03
#define kCanExecuteSCSICommandOK 0x01
#define kCanExecuteSCSICommandNotSupported 0x02
#define kCanExecuteSCSICommandInvalidDevice 0x03
#define kCanExecuteATACommandOK 0x01
#define kCanExecuteATACommandNotSupported 0x02
#define kCanExecuteATACommandInvalidDevice 0x03
#define kCanExecuteSMPCommandOK 0x01
#define kCanExecuteSMPCommandNotSupported 0x02
#define kCanExecuteSMPCommandInvalidDevice 0x03
#define kCanExecuteNVMECommandOK 0x01
#define kCanExecuteNVMECommandNotSupported 0x02
#define kCanExecuteNVMECommandInvalidDevice 0x03
#define kCanExecuteIORequestOK 0x01
#define kCanExecuteIORequestNotSupported 0x02
#define kCanExecuteIORequestInvalidDevice 0x03

/* A SCSI command. cdb_size is at most 16; longer CDBs are refused. */
typedef struct _SCSIRequest {
    EnTransferType transfer_type;    /* in */
    VK_UINT32 timeout_sec;           /* in */
    VK_UINT8* cdb;                   /* in; byte 0 may be rewritten for SIS targets */
    VK_UINT8 cdb_size;               /* in */
    VK_UINT8* io_buffer;             /* in */
    VK_UINT32 io_buffer_size;        /* in */
    VK_INT32 low_level_status;       /* out: 0, a system error number or a transport code */
    VK_UINT16 command_status;        /* out: the CISS driver's command status */
    VK_UINT8 scsi_status;            /* out */
    VK_UINT8* sense_data;            /* in: sense buffer, or NULL */
    VK_UINT32 sense_data_size;       /* in */
    VK_UINT32 valid_sense_data_size; /* out */
} SCSIRequest, *PSCSIRequest;

/* A BMIC command; the platform builds its 16-byte CDB. */
typedef struct _BMICRequest {
    EnTransferType transfer_type;
    VK_UINT32 timeout_sec;
    VK_UINT8 bmic_opcode;
    VK_UINT32 bmic_detail;
    union {
        VK_UINT16 lun_number;
        struct {
            VK_UINT8 lun_number_low;
            VK_UINT8 lun_number_high;
        } BYTES;
    } LUN;
    VK_UINT8* io_buffer;
    VK_UINT32 io_buffer_size;
    VK_INT32 low_level_status;
    VK_UINT16 command_status;
    VK_UINT8 scsi_status;
    VK_UINT8* sense_data;
    VK_UINT32 sense_data_size;
    VK_UINT32 block_count_override; /* when not 0, the CDB's transfer length instead of the size */
    VK_UINT32 valid_sense_data_size;
    VK_QWORD bmic_additional_detail; /* 48 bits used */
} BMICRequest, *PBMICRequest;

/* An ATA command carried as ATA PASS-THROUGH (16). */
typedef struct _ATARequest {
    EnTransferType transfer_type;
    VK_UINT32 timeout_sec;
    union {
        struct {
            VK_UINT8 previous_task_file[8];
            VK_UINT8 current_task_file[8];
        } TaskFiles;
        struct {
            VK_UINT8 previous_feature;
            VK_UINT8 previous_count;
            VK_UINT8 previous_lba_low;
            VK_UINT8 previous_lba_mid;
            VK_UINT8 previous_lba_high;
            VK_UINT8 previous_device;
            VK_UINT8 previous_command;
            VK_UINT8 previous_reserved;
            VK_UINT8 current_feature;
            VK_UINT8 current_count;
            VK_UINT8 current_lba_low;
            VK_UINT8 current_lba_mid;
            VK_UINT8 current_lba_high;
            VK_UINT8 current_device;
            VK_UINT8 current_command;
            VK_UINT8 curremt_reserved;
        } Registers;
        VK_UINT8 cdb[16];
    } u;
    struct {
        VK_UINT8 error;
        VK_UINT8 sector_count_msb;
        VK_UINT8 sector_count_lsb;
        VK_UINT8 lba_low_msb;
        VK_UINT8 lba_low_lsb;
        VK_UINT8 lba_mid_msb;
        VK_UINT8 lba_mid_lsb;
        VK_UINT8 lba_high_msb;
        VK_UINT8 lba_high_lsb;
        VK_UINT8 device;
        VK_UINT8 status;
        VK_UINT8 sense_format;
    } ReturnRegisters;
    VK_UINT8* io_buffer;
    VK_UINT32 io_buffer_size;
    VK_INT32 low_level_status;
    VK_UINT16 command_status;
    VK_UINT8 scsi_status;
    VK_UINT8* sense_data;
    VK_UINT32 sense_data_size;
} ATARequest, *PATARequest;

/* An SMP request; the response header overwrites header_frame_type and header_function. */
typedef struct _SMPRequest {
    VK_UINT8 phy_identifier;
    VK_UINT8 port_identifier;
    VK_UINT8 sas_address[8];
    VK_UINT8 header_frame_type;
    VK_UINT8 header_function;
    VK_UINT8 header_allocation_response_size;
    VK_UINT8 header_request_length;
    VK_UINT8* additional_request_data;
    VK_UINT32 additional_request_data_size; /* at most 1016 */
    VK_UINT8 header_function_result;        /* out */
    VK_UINT8 header_response_size;          /* out */
    VK_UINT8* additional_response_data;
    VK_UINT32 additional_response_data_size;
    VK_INT32 low_level_status; /* out */
} SMPRequest, *PSMPRequest;

/* Block I/O on a physical device or logical drive. */
typedef struct _IORequest {
    EnTransferType transfer_type; /* eDATA_TRANSFER_IN reads; every other type writes */
    VK_UINT64 lba_offset;
    VK_UINT8* io_buffer;
    VK_UINT32 io_buffer_size;
    VK_UINT16 block_size_in_bytes; /* not 0 */
    VK_INT32 low_level_status;     /* out */
} IORequest, *PIORequest;

/* An NVMe admin command: the 16 command words of the kernel's admin command. */
typedef struct _NVMERequest {
    EnTransferType transfer_type;
    VK_UINT32 timeout_sec;
    VK_UINT32 command[16];
    VK_UINT32 queue_id;
    VK_UINT8* io_buffer;
    VK_UINT32 io_buffer_size;
    VK_INT32 low_level_status; /* out */
} NVMERequest, *PNVMERequest;

/* Called with every SCSI request after PN_ExecuteSCSICommand. */
typedef void (*PN_SCSICommandCallback)(PSCSIRequest request);

PN_EXTERN_C_BEGIN

PN_API VK_BYTE PN_CanExecuteBMICCommand(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteBMICCommand(DeviceDescriptor device_descriptor, PBMICRequest request);

PN_API VK_BYTE PN_CanExecuteSCSICommand(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteSCSICommand(DeviceDescriptor device_descriptor, PSCSIRequest request);

PN_API VK_BYTE PN_CanExecuteATACommand(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteATACommand(DeviceDescriptor device_descriptor, PATARequest request);
/* True when the sense data report no ATA error; reads no byte at or beyond `size`. */
PN_API VK_BOOL CheckATAPassthroughSenseData(VK_BYTE* sense_data, VK_DWORD size);

PN_API VK_BYTE PN_CanExecuteSMPCommand(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteSMPCommand(DeviceDescriptor device_descriptor, PSMPRequest request);

PN_API VK_BYTE PN_CanExecuteNVMECommand(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteNVMECommand(DeviceDescriptor device_descriptor, PNVMERequest request);

PN_API VK_BYTE PN_CanExecuteIORequest(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_ExecuteIORequest(DeviceDescriptor device_descriptor, PIORequest request);

PN_API EnCommandStatus PN_ExecuteRegNewDiskMessage(DeviceDescriptor device_descriptor);
PN_API EnCommandStatus PN_SendResetControllerCommand(DeviceDescriptor device_descriptor, VK_BYTE reset_type);

PN_API void PN_SetSCSICommandCallback(PN_SCSICommandCallback callback);

PN_EXTERN_C_END

#endif
