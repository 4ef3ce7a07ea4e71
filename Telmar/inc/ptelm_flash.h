/* Firmware flash, image validation, the active ROM image, online firmware activation and the raw
 * manufacturing data. */
#ifndef PTELM_FLASH_H
#define PTELM_FLASH_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* VK_CanFlashController: 0 when allowed, else a set of these bits. */
#define kCanFlashControllerOK 0x0000
#define kCanFlashControllerInvalidImageSize 0x0001
#define kCanFlashControllerBMICCommandNotSupported 0x0002
#define kCanFlashControllerFWLocked 0x0004
#define kCanFlashControllerOFAActive 0x0008

/* VK_FlashController. */
#define kFlashControllerSuccess 1
#define kFlashControllerFailed 0

/* VK_ValidateControllerImage. */
#define kValidateControllerImageOK 1
#define kValidateControllerImageFailed 2
#define kValidateControllerImageCannotValidateImage 3

/* VK_CanToggleControllerActiveROMImage and VK_ToggleControllerActiveROMImage. */
#define kCanToggleControllerActiveROMImageOK 0x00
#define kCanToggleControllerActiveROMImageNotSupported 0x01
#define kCanToggleControllerActiveROMImageControllerStateNotOK 0x02
#define kCanToggleControllerActiveROMImageOFAInProgress 0x03
#define kCanToggleControllerActiveROMImageFirmwareIsLocked 0x04
#define kToggleControllerActiveROMImageSuccess 0x01
#define kToggleControllerActiveROMImageFailed 0x00

/* The collect buffer takes an image in chunks of this size, numbered from 1 in 16 bits. */
#define kFlashControllerChunkSize 16384
#define kFlashControllerMaxChunks 65535

/* Online firmware activation status (VK_CONTROLLER_OFA_STATUS.status). */
#define kControllerOnlineFirmwareActivationStatusNotRunning 0x00
#define kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptFailed 0x01
#define kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptAborted 0x02
#define kControllerOnlineFirmwareActivationStatusPendingInitiate 0x03
#define kControllerOnlineFirmwareActivationStatusInProgressFlushingCache 0x04
#define kControllerOnlineFirmwareActivationStatusInProgressPausingBackgroundOps 0x05
#define kControllerOnlineFirmwareActivationStatusInProgressFinalCheck 0x06
#define kControllerOnlineFirmwareActivationStatusInProgressPausingHostIO 0x07
#define kControllerOnlineFirmwareActivationStatusInProgressPreparingMetadata 0x08
#define kControllerOnlineFirmwareActivationStatusInProgressIssuingReset 0x09
#define kControllerOnlineFirmwareActivationStatusDelayingInitiate 0x0A
#define kControllerOnlineFirmwareActivationStatusUnknown 0xFF
#define kControllerOnlineFirmwareActivationProgressPercentInvalid 101

/* Validate, initiate and soft-reset results (64-bit bit sets; 0 is OK). */
#define kControllerOnlineFirmwareActivationValidateOk 0x0ULL
#define kControllerOnlineFirmwareActivationValidateUnknownError 0x1ULL
#define kControllerOnlineFirmwareActivationValidateCannotFlash 0x2ULL
#define kControllerOnlineFirmwareActivationValidateNotSupported 0x4ULL
#define kControllerOnlineFirmwareActivationValidateNotEnabled 0x8ULL
#define kControllerOnlineFirmwareActivationValidateUnsupportedPhysicalConfig 0x10ULL
#define kControllerOnlineFirmwareActivationValidateUnsupportedLogicalConfig 0x20ULL
#define kControllerOnlineFirmwareActivationValidateUnsupportedFeature 0x40ULL
#define kControllerOnlineFirmwareActivationValidateProhibitedControllerState 0x80ULL
#define kControllerOnlineFirmwareActivationValidateUninterruptibleProcess 0x100ULL
#define kControllerOnlineFirmwareActivationValidateIncompatibleHeaderVersion 0x200ULL
#define kControllerOnlineFirmwareActivationValidateComponentRequiresReboot 0x400ULL
#define kControllerOnlineFirmwareActivationValidateIncompatible 0x800ULL
#define kControllerOnlineFirmwareActivationValidateUndefined 0x1000ULL
#define kControllerOnlineFirmwareActivationValidateAlreadyRunning 0x2000ULL
#define kControllerOnlineFirmwareActivationValidateFailedInit 0x4000ULL
#define kControllerOnlineFirmwareActivationValidateNotCapable 0x8000ULL
#define kControllerOnlineFirmwareActivationValidateInvalidHeader 0x10000ULL

/* Abort results. */
#define kControllerOnlineFirmwareActivationAbortSuccess 0
#define kControllerOnlineFirmwareActivationAbortNotSupported 1
#define kControllerOnlineFirmwareActivationAbortNotEnabled 2
#define kControllerOnlineFirmwareActivationAbortNotRunning 3
#define kControllerOnlineFirmwareActivationAbortFailed 4

typedef struct _VK_CONTROLLER_OFA_STATUS {
    VK_BYTE status;
    VK_BYTE progress_percent;
    VK_WORD delay_requested_minutes;
    VK_WORD delay_remaining_minutes;
} VK_CONTROLLER_OFA_STATUS, *PVK_CONTROLLER_OFA_STATUS;

/* Takes a percentage, 0 to 100. */
typedef void (*FlashProgressCallback)(VK_BYTE percent);

PN_EXTERN_C_BEGIN

VK_API VK_WORD VK_CanFlashController(PCDA cda, VK_DWORD image_size);
VK_API VK_BYTE VK_FlashController(PCDA cda, const VK_BYTE* image, VK_DWORD image_size,
                                  FlashProgressCallback callback);
VK_API VK_BYTE VK_ValidateControllerImage(PCDA cda, const VK_BYTE* image, VK_DWORD image_size);
VK_API VK_BYTE VK_CanToggleControllerActiveROMImage(PCDA cda);
VK_API VK_BYTE VK_ToggleControllerActiveROMImage(PCDA cda);

VK_API VK_BOOL VK_GetControllerOnlineFirmwareActivationStatus(PCDA cda, PVK_CONTROLLER_OFA_STATUS ofa_status);
VK_API void VK_UpdateControllerOnlineFirmwareActivationStatus(PCDA cda);
VK_API VK_QWORD VK_CanValidateControllerOnlineFlash(PCDA cda);
VK_API VK_QWORD VK_CanInitiateControllerOnlineFlash(PCDA cda);
VK_API VK_QWORD VK_ValidateControllerPendingImageForOnlineFlash(PCDA cda);
VK_API VK_QWORD VK_ValidateControllerOnlineFlash(PCDA cda, const VK_BYTE* image, VK_DWORD image_size);
VK_API VK_QWORD VK_InitiateControllerOnlineFlash(PCDA cda, VK_WORD delay_minutes);
VK_API VK_DWORD VK_CanAbortControllerOnlineFlash(PCDA cda);
VK_API VK_DWORD VK_AbortControllerOnlineFlash(PCDA cda);
VK_API VK_QWORD VK_CanOFASoftResetController(PCDA cda);
VK_API VK_QWORD VK_DoOFASoftResetController(PCDA cda);

/* Raw manufacturing data (codes in telm_pprivate.h). */
VK_API VK_BYTE VK_ReadControllerRawManufacturingData(PCDA cda, VK_BYTE* buffer, VK_DWORD length);
VK_API VK_BYTE VK_CanFlashControllerManufacturingData(PCDA cda, const VK_BYTE* data, VK_DWORD length);
VK_API VK_BOOL VK_FlashControllerManufacturingData(PCDA cda, const VK_BYTE* data, VK_DWORD length);

PN_EXTERN_C_END

#endif
