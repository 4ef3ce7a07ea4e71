/* What the controller supports: feature pages and capability predicates. */
#ifndef PTELM_FEATURES_H
#define PTELM_FEATURES_H

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* LU cache capability word of VK_ControllerSupportsLUCache. */
#define kControllerSupportsLUCacheSupported 0x0001
#define kControllerSupportsWriteThru 0x0004
#define kControllerSupportsWriteBack 0x0008
#define kControllerLUCacheLineSizeSupportMask 0x0700
#define kControllerLUCacheLineSizeSupportBitshift 8
#define kControllerLUCacheLineSize64KB 0x01
#define kControllerLUCacheLineSize128KB 0x02
#define kControllerLUCacheLineSize256KB 0x04
#define LU_CACHE_SUPPORTED_LINE_SIZES(w)                                                                     \
    ((VK_BYTE)(((w)&kControllerLUCacheLineSizeSupportMask) >> kControllerLUCacheLineSizeSupportBitshift))

/* VK_ControllerSupportsOnlineFirmwareActivation. */
#define kControllerOnlineFirmwareActivationSupported 0x1
#define kControllerOnlineFirmwareActivationEnabled 0x2

/* VK_ControllerSupportsSEDEncryption. */
#define kControllerSEDEncryptionSupported 0x1
#define kControllerSEDEncryptionLocalModeSupported 0x2
#define kControllerSEDEncryptionRemoteModeSupported 0x4

/* VK_GetControllerConnectorDiscoveryConfigurationSupport. */
#define kControllerGetActiveConnectorDiscoveryConfigurationSupported 0x01
#define kControllerGetPendingConnectorDiscoveryConfigurationSupported 0x02
#define kControllerChangeConnectorDiscoveryConfigurationSupported 0x04
#define kControllerGetDefaultConnectorDiscoveryConfigurationSupported 0x08

PN_EXTERN_C_BEGIN

/* Feature pages: whether the controller offers them, and the loader of the parsed pages. */
VK_API VK_BOOL VK_ControllerFeaturePagesSupported(PCDA cda);
VK_API VK_BOOL VK_RequestFeaturePages(PCDA cda);

VK_API VK_BOOL VK_ControllerSupportsPhysicalDriveErase(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsEncryption(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsSenseExpansionAbility(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsDefaultPowerMode(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsEncryptionFeatureBreakout(PCDA cda);
VK_API VK_BOOL VK_ControllerSupportsUEFIKMS(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsOnlineFirmwareActivation(PCDA cda);
VK_API VK_DWORD VK_ControllerSupportsSEDEncryption(PCDA cda);
VK_API VK_BYTE VK_GetControllerConnectorDiscoveryConfigurationSupport(PCDA cda);
VK_API VK_BYTE _VK_GetControllerOEMID(PCDA cda);
VK_API VK_WORD VK_ControllerSupportsLUCache(PCDA cda);
/* Power-mode capability bits: 0x1 minimum power, 0x2 balanced, 0x4 maximum performance. */
VK_API VK_DWORD VK_ControllerSupportsPowerModes(PCDA cda);

PN_EXTERN_C_END

#endif
