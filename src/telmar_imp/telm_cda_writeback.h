// Caller-owned copies of controller buffers and the writes that send them back. A ForUpdate function
// hands out a tracked buffer of the caller's own; its paired write sends it, frees it and, on
// success, drops the cached copies the write made stale. The writes take no lock: a caller that
// needs a consistent read-modify-write holds the data area's lock itself.
#ifndef TELM_CDA_WRITEBACK_H
#define TELM_CDA_WRITEBACK_H

#include <cstddef>

#include "ppavl_export.h"
#include "ppavl_types.h"
#include "telm_bmic.h"
#include "telm_private.h"

// Validity word 3 (flags[3]): the kept read-cache percent.
inline constexpr size_t kCDAFlagsReadCachePercent = 3;
inline constexpr VK_DWORD kCDAValidReadCachePercent = 0x1;

#pragma pack(push, 1)

// BMIC 0xEE function 2, 1 byte.
typedef struct _SET_SURVIVAL_MODE {
    VK_BYTE bSurvivalMode;
} SET_SURVIVAL_MODE, *PSET_SURVIVAL_MODE;

// BMIC 0x60, 512 bytes.
typedef struct _SURFACE_DELAY {
    VK_WORD delay;
    VK_BYTE parallel_scan_count;
    VK_RESERVED reserved3[509];
} SURFACE_DELAY, *PSURFACE_DELAY;

// BMIC 0x62, 512 bytes.
typedef struct _MNP_DELAY {
    VK_WORD delay;
    VK_RESERVED reserved2[510];
} MNP_DELAY, *PMNP_DELAY;

// BMIC 0x57, 512 bytes, LUN = logical drive.
typedef struct _LABEL_LOGICAL_DRIVE {
    VK_DWORD dwLogicalDriveIdentifier;
    VK_BYTE pbLogicalDriveLabel[64];
    VK_RESERVED reserved68[444];
} LABEL_LOGICAL_DRIVE, *PLABEL_LOGICAL_DRIVE;

// BMIC 0x6E, 512 bytes.
typedef struct _CLEAR_CONTROLLER_CONFIG {
    VK_DWORD dwActionBits;
    VK_DWORD dwDriveSpecifier;
    VK_RESERVED reserved8[504];
} CLEAR_CONTROLLER_CONFIG, *PCLEAR_CONTROLLER_CONFIG;

// BMIC 0xC0 LUN 1, sub-commands 1 (create), 2 (destroy) and 5 (modify), 512 bytes.
typedef struct _LU_CACHE_CREATE {
    VK_WORD wValidDataLength;
    VK_BYTE bVersion;
    VK_BYTE bCachingAlgorithm;
    VK_BYTE bWritePolicy;
    VK_WORD wPrimaryLUN;
    VK_DWORD dwCacheLineSizeBlocks;
    VK_BYTE bMaxWriteCommands;
    VK_BYTE bMaxReadCommands;
    VK_RESERVED reserved13[51];
    VK_RESERVED reserved64[11];
    VK_BYTE bWarmDepth;
    VK_RESERVED reserved76[436];
} LU_CACHE_CREATE, *PLU_CACHE_CREATE;

#pragma pack(pop)

static_assert(sizeof(SET_SURVIVAL_MODE) == 1);
static_assert(sizeof(SURFACE_DELAY) == 512);
static_assert(offsetof(SURFACE_DELAY, parallel_scan_count) == 2);
static_assert(offsetof(SURFACE_DELAY, reserved3) == 3);
static_assert(sizeof(MNP_DELAY) == 512);
static_assert(offsetof(MNP_DELAY, reserved2) == 2);
static_assert(sizeof(LABEL_LOGICAL_DRIVE) == 512);
static_assert(offsetof(LABEL_LOGICAL_DRIVE, pbLogicalDriveLabel) == 4);
static_assert(offsetof(LABEL_LOGICAL_DRIVE, reserved68) == 68);
static_assert(sizeof(CLEAR_CONTROLLER_CONFIG) == 512);
static_assert(offsetof(CLEAR_CONTROLLER_CONFIG, dwDriveSpecifier) == 4);
static_assert(offsetof(CLEAR_CONTROLLER_CONFIG, reserved8) == 8);
static_assert(sizeof(LU_CACHE_CREATE) == 512);
static_assert(offsetof(LU_CACHE_CREATE, bVersion) == 2);
static_assert(offsetof(LU_CACHE_CREATE, bCachingAlgorithm) == 3);
static_assert(offsetof(LU_CACHE_CREATE, bWritePolicy) == 4);
static_assert(offsetof(LU_CACHE_CREATE, wPrimaryLUN) == 5);
static_assert(offsetof(LU_CACHE_CREATE, dwCacheLineSizeBlocks) == 7);
static_assert(offsetof(LU_CACHE_CREATE, bMaxWriteCommands) == 11);
static_assert(offsetof(LU_CACHE_CREATE, bMaxReadCommands) == 12);
static_assert(offsetof(LU_CACHE_CREATE, reserved13) == 13);
static_assert(offsetof(LU_CACHE_CREATE, reserved64) == 64);
static_assert(offsetof(LU_CACHE_CREATE, bWarmDepth) == 75);
static_assert(offsetof(LU_CACHE_CREATE, reserved76) == 76);

// The clear-configuration fields of CACHE_CONFIG_STATUS and the maximum write-cache percent's.
static_assert(offsetof(CACHE_CONFIG_STATUS, read_cache_size) == 4);
static_assert(offsetof(CACHE_CONFIG_STATUS, write_cache_size) == 6);
static_assert(offsetof(CACHE_CONFIG_STATUS, cache_configuration_flags) == 15);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwTotalStructureLength) == 16);
static_assert(offsetof(CACHE_CONFIG_STATUS, dwCacheFlags) == 24);
static_assert(offsetof(CACHE_CONFIG_STATUS, wTotalMemorySize) == 38);
static_assert(offsetof(CACHE_CONFIG_STATUS, wOverriddenPostedReadMemoryMiB) == 40);
static_assert(offsetof(CACHE_CONFIG_STATUS, wOverriddenPostedWriteMemoryMiB) == 42);
static_assert(offsetof(CACHE_CONFIG_STATUS, bBoardPresent) == 210);
static_assert(offsetof(CACHE_CONFIG_STATUS, bMemorySizeShiftFactor) == 217);
static_assert(offsetof(CACHE_CONFIG_STATUS, wNonBatteryBackedMemorySize) == 218);

// Action bits of VK_ClearConfiguration's cache adjustment.
inline constexpr VK_BYTE kCacheConfigNBWCEnabled = 0x02;
inline constexpr VK_BYTE kCacheConfigWaitForCacheRoom = 0x04;

// LU cache write sub-commands.
inline constexpr VK_DWORD kLUCacheSubcommandCreate = 1;
inline constexpr VK_DWORD kLUCacheSubcommandDestroy = 2;
inline constexpr VK_DWORD kLUCacheSubcommandModify = 5;

namespace telmar {

// The rebalanced cache split of a cleared configuration. `max_write_percent` is the maximum write
// share (not 255). Sizes are computed in 64 bits; a shift of 32 or more leaves the sizes alone.
// Returns whether the sizes were changed.
bool RebalanceCacheSizes(CACHE_CONFIG_STATUS& status, VK_BYTE max_write_percent);

// The maximum write-cache percent of a cache configuration: 255 without a board or a total;
// (total - nbb) x 100 / total, or 100 when `staged_nbwc_off` is set.
VK_BYTE MaxWriteCachePercent(const CACHE_CONFIG_STATUS& status, bool staged_nbwc_off);

} // namespace telmar

PN_EXTERN_C_BEGIN

CONTROLLER_PARAMETERS* VK_GetControllerParametersBufferForUpdate(PCDA cda);
VK_BOOL VK_UpdateControllerParameters(PCDA cda, CONTROLLER_PARAMETERS* buffer);
SET_SURVIVAL_MODE* VK_GetControllerSurvivalPowerModeBufferForUpdate(PCDA cda);
VK_BOOL VK_UpdateControllerSurvivalPowerMode(PCDA cda, SET_SURVIVAL_MODE* buffer);
SURFACE_DELAY* VK_GetSurfaceStatusBufferForUpdate(PCDA cda);
VK_BOOL VK_UpdateSurfaceStatus(PCDA cda, SURFACE_DELAY* buffer);
MNP_DELAY* VK_GetMNPDelayBufferForUpdate(PCDA cda);
VK_BOOL VK_UpdateMNPDelay(PCDA cda, MNP_DELAY* buffer);
CACHE_CONFIG_STATUS* VK_GetCacheConfigStatusBufferForUpdate(PCDA cda);
VK_BOOL VK_UpdateCacheConfigStatus(PCDA cda, CACHE_CONFIG_STATUS* buffer);
LOGICAL_DRIVE_CONFIG* VK_GetLogicalDriveConfigurationBufferForUpdate(PCDA cda, VK_WORD ld_number);
VK_BOOL _VK_SetLogicalDriveConfiguration(PCDA cda, VK_WORD ld_number, VK_BYTE opcode, LOGICAL_DRIVE_CONFIG* buffer);
VK_BOOL VK_SetConfiguration(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer);
VK_BOOL VK_ChangeConfiguration(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer);
VK_BOOL VK_JoinSplitMirror(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer);
LABEL_LOGICAL_DRIVE* VK_GetLabelLogicalDriveBufferForUpdate(PCDA cda);
VK_BOOL VK_LabelLogicalDrive(PCDA cda, VK_WORD ld_number, LABEL_LOGICAL_DRIVE* buffer);
PI2C_INFO VK_RequestI2ConfigurationForUpdate(PCDA cda);
VK_BOOL VK_SetI2Configuration(PCDA cda, PI2C_INFO info);
POOB_MESSAGE_INTERFACE VK_RequestOOBMessageInterfaceForUpdate(PCDA cda);
VK_BOOL VK_SetOOBMessageInterface(PCDA cda, POOB_MESSAGE_INTERFACE buffer);
PLU_CACHE_CREATE VK_RequestLUCacheConfigurationForUpdate(PCDA cda, VK_WORD ld_number);
VK_BOOL _VK_SetLUCacheConfiguration(PCDA cda, VK_WORD ld_number, VK_DWORD subcommand, PLU_CACHE_CREATE buffer);
VK_BOOL VK_CreateLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer);
VK_BOOL VK_ForceDestoryLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer);
VK_BOOL VK_ModifyLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer);
// The buffer stays the caller's.
VK_BOOL VK_SetConnectorDiscoveryConfigurationBuffer(PCDA cda, PDISCOVERY_CONFIGURATION_BUFFER buffer);
VK_BOOL VK_ClearConfiguration(PCDA cda, VK_DWORD action_bits, VK_DWORD pd_number, VK_BOOL rescan_config);
VK_BYTE _VK_GetControllerMaxWriteCachePercent(PCDA cda, VK_BOOL check_editable_config);
VK_BOOL _VK_GetLogicalDriveDefaultLabel(VK_WORD ld_number, char* label_buffer, size_t label_buffer_size);

PN_EXTERN_C_END

#endif
