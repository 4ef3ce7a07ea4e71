/* Commands that act on the controller as a whole: its descriptor, reset, pause and resume of
 * background activity, SCSI pass-through to the controller itself, cache-module recovery and the
 * controller's logs. */
#ifndef PTELM_COMMANDS_H
#define PTELM_COMMANDS_H

#include "ppavl_commands.h"
#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* VK_CanRecoverCacheModule. */
#define kCanRecoverCacheModuleAllowed 1
#define kCanRecoverCacheModuleNotAllowedByFirmware 2
#define kCanRecoverCacheModuleControllerOFAActive 3

/* VK_CanEnableFailedLogicalDrive. */
#define kCanEnableFailedLogicalDriveAllowed 0x01
#define kCanEnableFailedLogicalDriveIsNotFailed 0x02
#define kCanEnableFailedLogicalDriveIsMirrorBackup 0x03
#define kCanEnableFailedLogicalDriveInvalidArrayStatus 0x04
#define kCanEnableFailedLogicalDriveFailedDriveNotReplaced 0x05
#define kCanEnableFailedLogicalDriveArrayUndergoingRPI 0x06
#define kCanEnableFailedLogicalDriveEncryptionLocked 0x07
#define kCanEnableFailedLogicalDriveControllerOFAActive 0x08

/* Controller log types (CDB byte 1 of the log command) and actions (CDB byte 9). */
#define kControllerLogTypeLastCrashDump 1
#define kControllerLogTypeSerialOutputBuffer 2
#define kControllerLogTypeDebugToken 4
#define kControllerLogTypePersistentEventLog 5
#define kControllerLogActionGetSize 0
#define kControllerLogActionReadData 1

/* VPD page codes for VK_PhysicalDriveVPDPage. */
#define kPhysicalDriveInquirySupportedVPDPages 0x00
#define kPhysicalDriveInquiryUnitSerialNumber 0x80
#define kPhysicalDriveInquiryDeviceIdentification 0x83
#define kPhysicalDriveInquiryExtendedInquiryData 0x86

/* Pieces of a log read, and the largest log the library accepts from a controller. */
#define kControllerLogReadChunkSize 0x4000
#define kControllerLogMaxSize 0x1000000

#pragma pack(push, 1)
/* One record of the persistent event log. */
typedef struct _PersistentControllerEvent {
    VK_UINT32 relative_controller_time;
    VK_UINT16 event_class_code;
    VK_UINT16 event_subclass_code;
    VK_UINT16 event_detail_code;
    VK_BYTE event_specific_data[64];
    char event_message[80];
    VK_UINT32 event_tag;
    VK_BYTE event_day;
    VK_BYTE event_month;
    VK_UINT16 event_year;
    VK_UINT32 event_seconds;
    VK_BYTE event_filler[22];
} PersistentControllerEvent;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(PersistentControllerEvent) == 188, "persistent event record is 188 bytes");
#else
_Static_assert(sizeof(PersistentControllerEvent) == 188, "persistent event record is 188 bytes");
#endif

PN_EXTERN_C_BEGIN

/* The data area's own descriptor, not a copy. */
VK_API DeviceDescriptor VK_GetControllerDeviceDescriptor(PCDA cda);
/* reset_type: kResetControllerTypeIOP, kResetControllerTypeDriverSoft or kResetControllerTypeDriverFull. */
VK_API VK_BOOL VK_ResetController(PCDA cda, VK_BYTE reset_type);
VK_API VK_BOOL VK_ControllerPauseBackgroundActivity(PCDA cda, VK_BOOL pause_hot_plug_events);
VK_API VK_BOOL VK_ControllerResumeBackgroundActivity(PCDA cda);
/* True when the platform carried the request; the caller judges its SCSI status and sense data. */
VK_API VK_BOOL VK_SendControllerSCSICommand(PCDA cda, PSCSIRequest request);

VK_API VK_BYTE VK_CanRecoverCacheModule(PCDA cda);
/* Re-initialises the data area after the attempt. */
VK_API VK_BOOL VK_RecoverCacheModule(PCDA cda);

VK_API VK_BOOL __VK_SendControllerDebugLogCommand(PCDA cda, void* buffer, VK_DWORD size, VK_BYTE log_type,
                                                  VK_BYTE action, VK_DWORD offset);
/* The whole log in a new tracked buffer (free it with VK_free) and its length in *size; NULL with
 * *size 0 when it cannot be read. The bytes are not terminated. */
VK_API VK_BYTE* __VK_GetControllerDebugLog(PCDA cda, VK_DWORD* size, VK_BYTE log_type);
VK_API VK_BYTE* VK_GetControllerLastCrashDump(PCDA cda, VK_DWORD* size);
VK_API VK_BYTE* VK_GetControllerSerialOutputBuffer(PCDA cda, VK_DWORD* size);
/* Hexadecimal text with its terminator; *size counts the terminator. */
VK_API char* VK_GetControllerDebugToken(PCDA cda, VK_DWORD* size);
/* Whole records only; *size is a multiple of sizeof(PersistentControllerEvent). */
VK_API VK_BYTE* VK_GetControllerPersistentEventLog(PCDA cda, VK_DWORD* size);
/* The record after `current` (the first with NULL), or NULL past the end of the log. */
VK_API const PersistentControllerEvent*
VK_EnumeratePersistentEventLogBuffer(const void* log_buffer, VK_DWORD log_length,
                                     const PersistentControllerEvent* current);

/* Bringing a failed logical drive back online; the data area is re-initialised after it. */
VK_API VK_BYTE VK_CanEnableFailedLogicalDrive(PCDA cda, VK_WORD ld_number);
VK_API VK_BOOL VK_DoEnableFailedLogicalDrive(PCDA cda, VK_WORD ld_number);

/* Commands to one physical device behind the controller, named by its device number. A send is
 * true when the platform carried it: the SCSI status and sense data stay in the request for the
 * caller, so a command the device refused is still true. A number without a descriptor is false. */
VK_API DeviceDescriptor VK_GetPhysicalDeviceDescriptor(PCDA cda, VK_WORD device_number);
VK_API VK_BOOL VK_CanSendPhysicalDeviceSCSICommand(PCDA cda, VK_WORD device_number);
VK_API VK_BOOL VK_CanSendPhysicalDeviceATACommand(PCDA cda, VK_WORD device_number);
VK_API VK_BOOL VK_CanSendPhysicalDeviceSMPCommand(PCDA cda, VK_WORD device_number);
/* A request without a sense buffer borrows one for the call and gets none back. */
VK_API VK_BOOL VK_SendPhysicalDeviceSCSICommand(PCDA cda, VK_WORD device_number, PSCSIRequest request);
VK_API VK_BOOL VK_SendPhysicalDeviceATACommand(PCDA cda, VK_WORD device_number, PATARequest request);
/* device_number names an expander; the frame goes through the controller to the expander's WWID,
 * which overwrites request->sas_address. False without sending when the WWID cannot be read. */
VK_API VK_BOOL VK_SendPhysicalDeviceSMPCommand(PCDA cda, VK_WORD device_number, PSMPRequest request);
VK_API VK_BOOL VK_PhysicalDriveTestUnitReady(PCDA cda, VK_WORD device_number);
/* Each bit is set only for an argument of exactly 1. */
VK_API VK_BOOL VK_PhysicalDriveStartStopUnit(PCDA cda, VK_WORD device_number, VK_BOOL immediate, VK_BOOL start);
/* evpd: 1 asks for the VPD page page_code, anything else for the standard data. */
VK_API VK_BOOL _VK_PhysicalDriveInquiry(PCDA cda, VK_WORD device_number, VK_BYTE evpd, VK_BYTE page_code,
                                        void* buffer, VK_WORD buffer_size);
/* Both ask the length first, then read no more than the device has and the buffer holds. */
VK_API VK_BOOL VK_PhysicalDriveStandardInquiryData(PCDA cda, VK_WORD device_number, void* buffer,
                                                   VK_WORD buffer_size);
VK_API VK_BOOL VK_PhysicalDriveVPDPage(PCDA cda, VK_WORD device_number, VK_BYTE page_code, void* buffer,
                                       VK_WORD buffer_size);
/* Clears the request and sets no data, the CDB and its size. */
VK_API void _VK_InitCDBSCSICommand(PSCSIRequest request, VK_UINT8* cdb, VK_UINT8 cdb_size);

PN_EXTERN_C_END

#endif
