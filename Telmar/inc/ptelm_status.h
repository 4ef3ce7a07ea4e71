/* Status words of the devices a controller reports, their health values and the reasons behind them. */
#ifndef PTELM_STATUS_H
#define PTELM_STATUS_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* ---- Physical drives ------------------------------------------------------------------------- */

/* Status word: the level in bits 0-1, the highest any condition raised. */
#define kPhysicalDriveStatusLevelMask 0x3
#define kPhysicalDriveStatusLevelOK 0
#define kPhysicalDriveStatusLevelInformational 1
#define kPhysicalDriveStatusLevelWarning 2
#define kPhysicalDriveStatusLevelFailed 3

#define kPhysicalDriveStatusExcludeFromConfigurationBit 0x00000004
#define kPhysicalDriveStatusFailed 0x00000100
#define kPhysicalDriveStatusFailedDueToPSA 0x00000200
#define kPhysicalDriveStatusPredictiveFailure 0x00000800
#define kPhysicalDriveStatusPredictiveFailureWornOut 0x00001000
#define kPhysicalDriveStatusIsTransientDrive 0x00002000
#define kPhysicalDriveStatusErasingOffline 0x00004000
#define kPhysicalDriveStatusInvalidDriveSize 0x00008000
#define kPhysicalDriveStatusFirmwareUpdateRequired 0x00010000
#define kPhysicalDriveStatusExposedToOS 0x00020000
#define kPhysicalDriveStatusMaskedWithInvalidCCM 0x00040000
#define kPhysicalDriveStatusUnsupportedForConfig 0x00080000
#define kPhysicalDriveStatusRebuilding 0x00100000
#define kPhysicalDriveStatusRebuildQueued 0x00200000
#define kPhysicalDriveStatusFailedDueToHotRemoval 0x00400000
#define kPhysicalDriveStatusFailedDueSEDQualification 0x00800000
#define kPhysicalDriveStatusIsSEDDataLocked 0x01000000

#define PHYSICAL_DRIVE_STATUS_LEVEL(status) ((status) & kPhysicalDriveStatusLevelMask)
#define PHYSICAL_DRIVE_STATUS_IS_DRIVE_USABLE(status)                                                    \
    (((status) & kPhysicalDriveStatusExcludeFromConfigurationBit) ? kFalse : kTrue)

/* Health. */
#define kPhysicalDriveHealthOK 0
#define kPhysicalDriveHealthWarning 1
#define kPhysicalDriveHealthCritical 2

/* Why a drive is not supported for a configuration. */
#define kPhysicalDriveUnsupportedReasonsFormat 0x0001
#define kPhysicalDriveUnsupportedReasonsSecurityState 0x0002
#define kPhysicalDriveUnsupportedReasonsBackplane 0x0004
#define kPhysicalDriveUnsupportedReasonsController 0x0008
#define kPhysicalDriveUnsupportedReasonsSoftwareRAIDNVME 0x0010

/* Last failure reason: the firmware's code in the low byte, the outcome of the query in the high. */
#define kPhysicalDriveLastFailureReasonCodeMask 0x00FF
#define kPhysicalDriveLastFailureReasonSuccessMask 0xFF00
#define kPhysicalDriveLastFailureReasonSuccessBitshift 8
#define PHYSICAL_DRIVE_LAST_FAILURE_REASON(reason) ((reason) & kPhysicalDriveLastFailureReasonCodeMask)
#define GET_PHYSICAL_DRIVE_LAST_FAILURE_REASON_SUCCESS(reason)                                           \
    (((reason) & kPhysicalDriveLastFailureReasonSuccessMask) >> kPhysicalDriveLastFailureReasonSuccessBitshift)
#define kGetPhysicalDriveLastFailureReasonSuccess 0
#define kGetPhysicalDriveLastFailureReasonInvalidPDNumber 1
#define kGetPhysicalDriveLastFailureReasonFailed 2

#define kPhysicalDriveLastFailureReasonTooSmallInLoadedConfig 0x01
#define kPhysicalDriveLastFailureReasonErrorErasingRIS 0x02
#define kPhysicalDriveLastFailureReasonErrorSavingRIS 0x03
#define kPhysicalDriveLastFailureReasonFailDriveCommand 0x04
#define kPhysicalDriveLastFailureReasonMarkBadFailed 0x05
#define kPhysicalDriveLastFailureReasonMarkBadFailedInFinishRemap 0x06
#define kPhysicalDriveLastFailureReasonTimeout 0x07
#define kPhysicalDriveLastFailureReasonAutosenseFailed 0x08
#define kPhysicalDriveLastFailureReasonMediumError1 0x09
#define kPhysicalDriveLastFailureReasonMediumError2 0x0A
#define kPhysicalDriveLastFailureReasonNotReadyBadSense 0x0B
#define kPhysicalDriveLastFailureReasonNotReady 0x0C
#define kPhysicalDriveLastFailureReasonHardwareError 0x0D
#define kPhysicalDriveLastFailureReasonAbortedCommand 0x0E
#define kPhysicalDriveLastFailureReasonWriteProtected 0x0F
#define kPhysicalDriveLastFailureReasonSpinUpFailureInRecover 0x10
#define kPhysicalDriveLastFailureReasonRebuildWriteError 0x11
#define kPhysicalDriveLastFailureReasonTooSmallInHotPlug 0x12
#define kPhysicalDriveLastFailureReasonBusResetRecoveryAborted 0x13
#define kPhysicalDriveLastFailureReasonRemovedInHotPlug 0x14
#define kPhysicalDriveLastFailureReasonInitRequestSenseFailed 0x15
#define kPhysicalDriveLastFailureReasonInitStartUnitFailed 0x16
#define kPhysicalDriveLastFailureReasonInquiryFailed 0x17
#define kPhysicalDriveLastFailureReasonNonDiskDevice 0x18
#define kPhysicalDriveLastFailureReasonReadCapacityFailed 0x19
#define kPhysicalDriveLastFailureReasonInvalidBlockSize 0x1A
#define kPhysicalDriveLastFailureReasonHotPlugRequestSenseFailed 0x1B
#define kPhysicalDriveLastFailureReasonHotPlugStartUnitFailed 0x1C
#define kPhysicalDriveLastFailureReasonWriteErrorAfterRemap 0x1D
#define kPhysicalDriveLastFailureReasonInitResetRecoveryAborted 0x1E
#define kPhysicalDriveLastFailureReasonDeferredWriteError 0x1F
#define kPhysicalDriveLastFailureReasonMissingInSaveRIS 0x20
#define kPhysicalDriveLastFailureReasonWrongReplace 0x21
#define kPhysicalDriveLastFailureReasonGDPVPDInquiryFailed 0x22
#define kPhysicalDriveLastFailureReasonGDPModeSenseFailed 0x23
#define kPhysicalDriveLastFailureReasonDriveNotIn48BitMode 0x24
#define kPhysicalDriveLastFailureReasonDriveTypeMixInHotPlug 0x25
#define kPhysicalDriveLastFailureReasonDriveTypeMixInLoadCfg 0x26
#define kPhysicalDriveLastFailureReasonProtocolAdapterFailed 0x27
#define kPhysicalDriveLastFailureReasonFaultyIDBayEmpty 0x28
#define kPhysicalDriveLastFailureReasonFaultyIDBayOccupied 0x29
#define kPhysicalDriveLastFailureReasonFaultyIDInvalidBay 0x2A
#define kPhysicalDriveLastFailureReasonWriteRetriesFailed 0x2B
#define kPhysicalDriveLastFailureReasonErrorWriteExpand 0x2F
#define kPhysicalDriveLastFailureReasonSmartErrorReported 0x37
#define kPhysicalDriveLastFailureReasonPhyResetFailed 0x38
#define kPhysicalDriveLastFailureReasonCLIFailDriveCommand 0x39
#define kPhysicalDriveLastFailureReasonChkBlkFailedWrite 0x3A
#define kPhysicalDriveLastFailureReasonATITestFailedWrite 0x3B
#define kPhysicalDriveLastFailureReasonNotInSASTopology 0x43
#define kPhysicalDriveLastFailureReasonSEHardwareError 0x44
#define kPhysicalDriveLastFailureReasonPowerCycleFailed 0x45
#define kPhysicalDriveLastFailureReasonFRSEDQualFailed 0x4C
#define kPhysicalDriveLastFailureReasonFRSEDCmdFailed 0x4D
#define kPhysicalDriveLastFailureReasonFRUnknownSESPeriphlDevice 0x4E
#define kPhysicalDriveLastFailureReasonFRDriveCapacityTooSmall 0x4F
#define kPhysicalDriveLastFailureReasonFRReadCapacity16Failed 0x50
#define kPhysicalDriveLastFailureReasonFRReadCapacityInvAlignLBA 0x51
#define kPhysicalDriveLastFailureReasonFRSEDLockout 0x52
#define kPhysicalDriveLastFailureReasonOfflineErase 0x80
#define kPhysicalDriveLastFailureReasonOfflineTooSmall 0x81
#define kPhysicalDriveLastFailureReasonOfflineDriveTypeMix 0x82
#define kPhysicalDriveLastFailureReasonOfflineEraseComplete 0x83

PN_EXTERN_C_BEGIN

/* Recomputed from the cached buffers on every call. */
VK_API VK_DWORD VK_GetPhysicalDriveStatusInfo(PCDA cda, VK_WORD pd_number);
VK_API VK_BYTE VK_GetPhysicalDriveHealth(PCDA cda, VK_WORD pd_number);
/* 0 unless the status word has kPhysicalDriveStatusUnsupportedForConfig. */
VK_API VK_WORD VK_GetPhysicalDriveUnsupportedReasons(PCDA cda, VK_WORD pd_number);
VK_API VK_BOOL VK_IsPhysicalDevicePresent(PCDA cda, VK_WORD dev_number);
VK_API VK_BOOL VK_IsPhysicalDrivePresent(PCDA cda, VK_WORD pd_number);
VK_API VK_WORD VK_GetPhysicalDriveLastFailureReason(PCDA cda, VK_WORD pd_number);

PN_EXTERN_C_END

#endif
