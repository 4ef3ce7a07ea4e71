// Caller-owned buffers and their write-back: each ForUpdate/write pair, the logical-drive
// configuration and LU cache writers, the discovery-configuration write and clearing the
// configuration.
#include "telm_cda_writeback.h"

#include <cstdio>
#include <cstring>

#include "pavl_bytes.h"
#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_features.h"
#include "ptelm_utils.h"
#include "telm_cda_internal.h"

namespace {

constexpr VK_DWORD kPowerModeFunctionSetSurvival = 2;
constexpr VK_DWORD kI2CReadConfiguration = 0x10000;     // sub-function 1
constexpr VK_DWORD kOOBReadMessageInterface = 0x60000;  // sub-function 6
constexpr VK_DWORD kOOBWriteMessageInterface = 0x50000; // sub-function 5
constexpr VK_DWORD kDiscoveryFunctionSetPending = 2;
constexpr VK_BYTE kDiscoveryWriteSupported = 0x04;
constexpr VK_WORD kLUCacheLUN = 1;
constexpr VK_BYTE kCheckCondition = 2;
constexpr size_t kMinDefaultLabelBuffer = 20;

void LogRangeError(const char* file, int line) {
    PN_DebugLog(1, 0, "%s:%d: error: Request for ld out of range", file, line);
}

template <typename T> T* AllocateZeroed(const char* function, int line, const char* expression, const char* name) {
    auto* p = static_cast<T*>(VK_malloc(sizeof(T)));
    if (p == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion '%s' failed: Failed to allocate %s buffer\n", function, line, expression,
                    name);
        return nullptr;
    }
    std::memset(p, 0, sizeof(T));
    return p;
}

// A buffer read fresh from the controller, or NULL (logged with `failure` when it is not NULL).
template <typename T>
T* ReadForUpdate(PCDA cda, const char* function, int line, const char* expression, const char* name,
                 VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, const char* failure) {
    if (cda == nullptr) {
        return nullptr;
    }
    T* p = AllocateZeroed<T>(function, line, expression, name);
    if (p == nullptr) {
        return nullptr;
    }
    if (!telmar::ReadInto(_VK_CDA(cda), opcode, detail, lun, p, sizeof(T))) {
        if (failure != nullptr) {
            PN_DebugLog(1, 0, failure, function, line);
        }
        VK_free(p);
        return nullptr;
    }
    return p;
}

// The length a structure reports for itself, when it fits the buffer that holds it; 0 otherwise.
// The controller fills the total: a write never sends more than the buffer holds.
template <typename T> VK_DWORD SelfReportedLength(const T& buffer) {
    const VK_DWORD total = buffer.dwTotalStructureLength;
    if (total == 0 || total > sizeof(T)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'total <= buffer size' failed: Refused to write %u bytes from a %zu byte "
                    "buffer\n", __func__, __LINE__, total, sizeof(T));
        return 0;
    }
    return total;
}

// Sends `buffer` with `opcode`, frees it, and on success clears `bits` of the buffer validity word.
template <typename T>
VK_BOOL WriteAndFree(PCDA cda, T* buffer, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, VK_DWORD length,
                     VK_DWORD bits) {
    if (buffer == nullptr) {
        return kFalse;
    }
    VK_BOOL ok = kFalse;
    if (cda != nullptr && length != 0) {
        ok = _VK_BMICHelperWriteBuffer(_VK_CDA(cda)->controller_handle, opcode, detail, lun, buffer, length);
    }
    VK_free(buffer);
    if (ok) {
        telmar::BufferFlags(_VK_CDA(cda)) &= ~bits;
    }
    return ok;
}

} // namespace

namespace telmar {

bool RebalanceCacheSizes(CACHE_CONFIG_STATUS& status, VK_BYTE max_write_percent) {
    const VK_BYTE shift = status.bMemorySizeShiftFactor;
    if (shift >= 32 || max_write_percent > 100) {
        return false;
    }
    const VK_QWORD total = static_cast<VK_QWORD>(status.wTotalMemorySize) << shift;
    VK_BYTE current_write = 0;
    if (status.write_cache_size != 0 && status.wTotalMemorySize != 0) {
        const VK_QWORD percent = ((static_cast<VK_QWORD>(status.write_cache_size) << shift) * 100) / total;
        current_write = static_cast<VK_BYTE>(percent > 0xFF ? 0xFF : percent);
    }
    if (max_write_percent >= current_write) {
        return false;
    }
    VK_QWORD read_percent = 100u - max_write_percent;
    read_percent = (read_percent + 4) / 5 * 5;
    const VK_QWORD read_size = (read_percent * total / 100) >> shift;
    status.read_cache_size = static_cast<VK_WORD>(read_size);
    status.write_cache_size = static_cast<VK_WORD>(status.wTotalMemorySize - status.read_cache_size);
    return true;
}

VK_BYTE MaxWriteCachePercent(const CACHE_CONFIG_STATUS& status, bool staged_nbwc_off) {
    const VK_WORD total = status.wTotalMemorySize;
    const VK_WORD nbb = status.wNonBatteryBackedMemorySize;
    if (status.bBoardPresent == 0 || total == 0) {
        return 255;
    }
    if (total < nbb) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'total_cache_size >= non_battery_cache_size' failed: Total cache size (%u) is "
                    "smaller than non-battery backed cache size (%u)\n",
                    __func__, __LINE__, static_cast<unsigned>(total), static_cast<unsigned>(nbb));
    }
    if (staged_nbwc_off) {
        return 100;
    }
    if (total >= nbb) {
        return static_cast<VK_BYTE>((static_cast<VK_DWORD>(total - nbb) * 100) / total);
    }
    return 255;
}

} // namespace telmar

CONTROLLER_PARAMETERS* VK_GetControllerParametersBufferForUpdate(PCDA cda) {
    return ReadForUpdate<CONTROLLER_PARAMETERS>(cda, __func__, __LINE__, "return_buffer != NULL",
                                                "CONTROLLER_PARAMETERS", BMIC_SENSE_CONTROLLER_PARAMETERS, 0, 0,
                                                "%s:%d: Sense ctrl params failed\n");
}

VK_BOOL VK_UpdateControllerParameters(PCDA cda, CONTROLLER_PARAMETERS* buffer) {
    if (buffer == nullptr) {
        return kFalse;
    }
    return WriteAndFree(cda, buffer, BMIC_SET_CONTROLLER_PARAMETERS, 0, 0, SelfReportedLength(*buffer),
                        kCDAValidIdentifyController | kCDAValidControllerParameters);
}

SET_SURVIVAL_MODE* VK_GetControllerSurvivalPowerModeBufferForUpdate(PCDA /*cda*/) {
    return AllocateZeroed<SET_SURVIVAL_MODE>(__func__, __LINE__, "return_buffer != NULL", "SET_SURVIVAL_MODE");
}

VK_BOOL VK_UpdateControllerSurvivalPowerMode(PCDA cda, SET_SURVIVAL_MODE* buffer) {
    return WriteAndFree(cda, buffer, BMIC_POWER_MODE, kPowerModeFunctionSetSurvival, 0, sizeof(SET_SURVIVAL_MODE),
                        kCDAValidPowerMode);
}

SURFACE_DELAY* VK_GetSurfaceStatusBufferForUpdate(PCDA /*cda*/) {
    return AllocateZeroed<SURFACE_DELAY>(__func__, __LINE__, "return_buffer != NULL", "SURFACE_DELAY");
}

VK_BOOL VK_UpdateSurfaceStatus(PCDA cda, SURFACE_DELAY* buffer) {
    return WriteAndFree(cda, buffer, BMIC_SET_SURFACE_DELAY, 0, 0, sizeof(SURFACE_DELAY), kCDAValidSurfaceStatus);
}

MNP_DELAY* VK_GetMNPDelayBufferForUpdate(PCDA /*cda*/) {
    return AllocateZeroed<MNP_DELAY>(__func__, __LINE__, "return_buffer != NULL", "MNP_DELAY");
}

VK_BOOL VK_UpdateMNPDelay(PCDA cda, MNP_DELAY* buffer) {
    return WriteAndFree(cda, buffer, BMIC_SET_MNP_DELAY, 0, 0, sizeof(MNP_DELAY), kCDAValidMNPStatus);
}

CACHE_CONFIG_STATUS* VK_GetCacheConfigStatusBufferForUpdate(PCDA cda) {
    CACHE_CONFIG_STATUS* p = ReadForUpdate<CACHE_CONFIG_STATUS>(
        cda, __func__, __LINE__, "return_buffer != NULL", "CACHE_CONFIG_STATUS", BMIC_SENSE_CACHE_CONFIGURATION, 0, 0,
        "%s:%d: Sense cache config status failed\n");
    if (p != nullptr && p->dwTotalStructureLength > sizeof(CACHE_CONFIG_STATUS)) {
        PN_DebugLog(2, 0, "%s:%d: Sense cache config status overflow\n", __func__, __LINE__);
    }
    return p;
}

VK_BOOL VK_UpdateCacheConfigStatus(PCDA cda, CACHE_CONFIG_STATUS* buffer) {
    if (buffer == nullptr) {
        return kFalse;
    }
    const VK_BOOL ok = WriteAndFree(cda, buffer, BMIC_SET_CACHE_CONFIGURATION, 0, 0, SelfReportedLength(*buffer),
                                    kCDAValidIdentifyController | kCDAValidControllerParameters |
                                        kCDAValidCacheConfigStatus);
    if (ok) {
        _VK_CDA(cda)->flags[kCDAFlagsReadCachePercent] &= ~kCDAValidReadCachePercent;
    }
    return ok;
}

LOGICAL_DRIVE_CONFIG* VK_GetLogicalDriveConfigurationBufferForUpdate(PCDA cda, VK_WORD ld_number) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        LogRangeError(__FILE__, __LINE__);
        return nullptr;
    }
    return ReadForUpdate<LOGICAL_DRIVE_CONFIG>(cda, __func__, __LINE__, "return_buffer != NULL",
                                               "LOGICAL_DRIVE_CONFIG", BMIC_SENSE_CONFIGURATION, 0, ld_number,
                                               "%s:%d: Sense ld config failed\n");
}

VK_BOOL _VK_SetLogicalDriveConfiguration(PCDA cda, VK_WORD ld_number, VK_BYTE opcode, LOGICAL_DRIVE_CONFIG* buffer) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        LogRangeError(__FILE__, __LINE__);
        return kFalse;
    }
    if (buffer == nullptr) {
        return kFalse;
    }
    VK_BOOL ok = kFalse;
    const VK_DWORD length = SelfReportedLength(*buffer);
    if (cda != nullptr && length != 0) {
        ScsiCommandSenseData sense{};
        ok = _VK_BMICHelperWriteBufferWithSense(_VK_CDA(cda)->controller_handle, opcode, 0, ld_number, buffer, length,
                                                &sense);
        if (sense.scsi_status == kCheckCondition) {
            ok = kFalse;
        }
    }
    VK_free(buffer);
    return ok;
}

VK_BOOL VK_SetConfiguration(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer) {
    return _VK_SetLogicalDriveConfiguration(cda, ld_number, BMIC_SET_CONFIGURATION, buffer);
}

VK_BOOL VK_ChangeConfiguration(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer) {
    return _VK_SetLogicalDriveConfiguration(cda, ld_number, BMIC_CHANGE_CONFIGURATION, buffer);
}

VK_BOOL VK_JoinSplitMirror(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer) {
    return _VK_SetLogicalDriveConfiguration(cda, ld_number, BMIC_JOIN_SPLIT_MIRROR, buffer);
}

LABEL_LOGICAL_DRIVE* VK_GetLabelLogicalDriveBufferForUpdate(PCDA /*cda*/) {
    return AllocateZeroed<LABEL_LOGICAL_DRIVE>(__func__, __LINE__, "return_buffer != NULL", "LABEL_LOGICAL_DRIVE");
}

VK_BOOL VK_LabelLogicalDrive(PCDA cda, VK_WORD ld_number, LABEL_LOGICAL_DRIVE* buffer) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        LogRangeError(__FILE__, __LINE__);
        return kFalse;
    }
    return WriteAndFree(cda, buffer, BMIC_LABEL_LOGICAL_DRIVE, 0, ld_number, sizeof(LABEL_LOGICAL_DRIVE), 0);
}

PI2C_INFO VK_RequestI2ConfigurationForUpdate(PCDA cda) {
    return ReadForUpdate<I2C_INFO>(cda, __func__, __LINE__, "i2c_info != ((void *)0)", "PBSI_CONFIGURATION",
                                   BMIC_I2C_OOB_CONFIGURATION, kI2CReadConfiguration, 0, nullptr);
}

VK_BOOL VK_SetI2Configuration(PCDA cda, PI2C_INFO info) {
    // A missing record sends nothing: there is no address to set.
    if (info == nullptr) {
        return kFalse;
    }
    VK_BOOL ok = kFalse;
    if (cda != nullptr) {
        ok = _VK_BMICHelperNoneBuffer(_VK_CDA(cda)->controller_handle, BMIC_I2C_OOB_CONFIGURATION,
                                      static_cast<VK_DWORD>(info->slave_address) << 24, info->configuration, 0);
    }
    VK_free(info);
    return ok;
}

POOB_MESSAGE_INTERFACE VK_RequestOOBMessageInterfaceForUpdate(PCDA cda) {
    return ReadForUpdate<OOB_MESSAGE_INTERFACE>(cda, __func__, __LINE__, "oob_message_interface != ((void *)0)",
                                                "OOB_MESSAGE_INTERFACE", BMIC_I2C_OOB_CONFIGURATION,
                                                kOOBReadMessageInterface, 0, nullptr);
}

VK_BOOL VK_SetOOBMessageInterface(PCDA cda, POOB_MESSAGE_INTERFACE buffer) {
    return WriteAndFree(cda, buffer, BMIC_I2C_OOB_CONFIGURATION, kOOBWriteMessageInterface, 0,
                        sizeof(OOB_MESSAGE_INTERFACE), kCDAValidOOBMessageInterface);
}

PLU_CACHE_CREATE VK_RequestLUCacheConfigurationForUpdate(PCDA cda, VK_WORD ld_number) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        LogRangeError(__FILE__, __LINE__);
        return nullptr;
    }
    if (cda == nullptr || !(VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported)) {
        return nullptr;
    }
    auto* p = AllocateZeroed<LU_CACHE_CREATE>(__func__, __LINE__, "ld_buffer != ((void *)0)", "LU_CACHE_CREATE");
    if (p == nullptr) {
        return nullptr;
    }
    if (!_VK_RequestLUCacheInfoBuffer(cda, ld_number, 0, p, sizeof(*p))) {
        VK_free(p);
        return nullptr;
    }
    return p;
}

VK_BOOL _VK_SetLUCacheConfiguration(PCDA cda, VK_WORD ld_number, VK_DWORD subcommand, PLU_CACHE_CREATE buffer) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        LogRangeError(__FILE__, __LINE__);
        return kFalse;
    }
    if (buffer == nullptr) {
        return kFalse;
    }
    const bool supported =
        cda != nullptr && (VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported) != 0;
    return WriteAndFree(cda, buffer, BMIC_SET_CACHE_CONFIGURATION, (subcommand << 16) | ld_number, kLUCacheLUN,
                        supported ? sizeof(LU_CACHE_CREATE) : 0, 0);
}

VK_BOOL VK_CreateLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer) {
    return _VK_SetLUCacheConfiguration(cda, ld_number, kLUCacheSubcommandCreate, buffer);
}

VK_BOOL VK_ForceDestoryLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer) {
    return _VK_SetLUCacheConfiguration(cda, ld_number, kLUCacheSubcommandDestroy, buffer);
}

VK_BOOL VK_ModifyLUCache(PCDA cda, VK_WORD ld_number, PLU_CACHE_CREATE buffer) {
    return _VK_SetLUCacheConfiguration(cda, ld_number, kLUCacheSubcommandModify, buffer);
}

VK_BOOL VK_SetConnectorDiscoveryConfigurationBuffer(PCDA cda, PDISCOVERY_CONFIGURATION_BUFFER buffer) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!(VK_GetControllerConnectorDiscoveryConfigurationSupport(cda) & kDiscoveryWriteSupported)) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    const VK_BOOL ok = _VK_BMICHelperWriteBuffer(c->controller_handle, BMIC_DISCOVERY_CONFIGURATION,
                                                 kDiscoveryFunctionSetPending, 0, buffer, sizeof(*buffer));
    if (ok) {
        telmar::BufferFlags(c) &= ~kCDAValidPendingDiscoveryConfiguration;
    }
    return ok;
}

VK_BOOL VK_ClearConfiguration(PCDA cda, VK_DWORD action_bits, VK_DWORD pd_number, VK_BOOL rescan_config) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    CLEAR_CONTROLLER_CONFIG request{};
    request.dwActionBits = action_bits;
    request.dwDriveSpecifier = pd_number;
    if (!_VK_BMICHelperWriteBuffer(c->controller_handle, BMIC_CLEAR_CONFIGURATION, 0, 0, &request,
                                   sizeof(request))) {
        return kFalse;
    }
    CACHE_CONFIG_STATUS* update_buffer = VK_GetCacheConfigStatusBufferForUpdate(cda);
    if (rescan_config) {
        PN_ExecuteRegNewDiskMessage(c->controller_handle);
    }
    if (update_buffer == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'update_buffer != ((void *)0)' failed: Failed to get cache config status "
                    "buffer\n",
                    __func__, __LINE__);
        return kTrue;
    }
    CACHE_CONFIG_STATUS original;
    std::memcpy(&original, update_buffer, sizeof(original));
    const VK_BYTE max_write = _VK_GetControllerMaxWriteCachePercent(cda, kFalse);
    if (max_write != 255) {
        telmar::RebalanceCacheSizes(*update_buffer, max_write);
    }
    update_buffer->cache_configuration_flags &= static_cast<VK_BYTE>(~(kCacheConfigNBWCEnabled |
                                                                       kCacheConfigWaitForCacheRoom));
    if (std::memcmp(&original, update_buffer, sizeof(original)) != 0) {
        if (!VK_UpdateCacheConfigStatus(cda, update_buffer)) {
            PN_DebugLog(1, 0, "%s:%d: Set cache config failed\n", __func__, __LINE__);
        }
    } else {
        VK_free(update_buffer);
    }
    return kTrue;
}

VK_BYTE _VK_GetControllerMaxWriteCachePercent(PCDA cda, VK_BOOL check_editable_config) {
    if (cda == nullptr) {
        return 255;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return 255;
    }
    _CDA* c = _VK_CDA(cda);
    const bool staged_nbwc_off = check_editable_config && c->editable_configuration != nullptr &&
                                 c->editable_configuration->controller_nbwc == 0;
    return telmar::MaxWriteCachePercent(c->sense_cache_config_status_buffer, staged_nbwc_off);
}

VK_BOOL _VK_GetLogicalDriveDefaultLabel(VK_WORD ld_number, char* label_buffer, size_t label_buffer_size) {
    if (label_buffer == nullptr || label_buffer_size < kMinDefaultLabelBuffer) {
        return kFalse;
    }
    std::memset(label_buffer, 0, label_buffer_size);
    char number[24] = {};
    VK_ultoa(static_cast<VK_QWORD>(ld_number) + 1, number);
    std::snprintf(label_buffer, label_buffer_size, "Logical Drive %s", number);
    return kTrue;
}
