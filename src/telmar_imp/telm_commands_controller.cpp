// Commands on the controller as a whole: reset, pause and resume, SCSI pass-through to the
// controller, cache-module recovery and the controller's logs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_features.h"
#include "ptelm_utils.h"
#include "telm_passthrough.h"
#include "telm_private.h"

namespace {

constexpr VK_BYTE kScsiStatusCheckCondition = 0x02;
constexpr VK_WORD kCISSCommandStatusDataUnderrun = 0x0002;
constexpr VK_BYTE kCacheSupportsModuleRecovery = 0x20;
constexpr VK_DWORD kPauseHotPlugEvents = 1;

constexpr size_t kEventSize = sizeof(PersistentControllerEvent);

bool CommandSucceeded(VK_BOOL helper_result, const ScsiCommandSenseData& sense) {
    return helper_result && sense.scsi_status != kScsiStatusCheckCondition;
}

} // namespace

DeviceDescriptor VK_GetControllerDeviceDescriptor(PCDA cda) {
    return cda != nullptr ? _VK_CDA(cda)->controller_handle : nullptr;
}

VK_BOOL VK_ResetController(PCDA cda, VK_BYTE reset_type) {
    if (cda == nullptr) {
        return kFalse;
    }
    return PN_SendResetControllerCommand(_VK_CDA(cda)->controller_handle, reset_type) == eCOMMAND_STATUS_OK
               ? kTrue
               : kFalse;
}

VK_BOOL VK_ControllerPauseBackgroundActivity(PCDA cda, VK_BOOL pause_hot_plug_events) {
    if (cda == nullptr) {
        return kFalse;
    }
    DeviceDescriptor device = _VK_CDA(cda)->controller_handle;
    if (PN_CanExecuteBMICCommand(device) != kCanExecuteBMICCommandOK) {
        return kFalse;
    }
    return _VK_BMICHelperWriteBuffer(device, BMIC_PAUSE_BACKGROUND_ACTIVITY,
                                     pause_hot_plug_events ? kPauseHotPlugEvents : 0, 0, nullptr, 0);
}

VK_BOOL VK_ControllerResumeBackgroundActivity(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    DeviceDescriptor device = _VK_CDA(cda)->controller_handle;
    if (PN_CanExecuteBMICCommand(device) != kCanExecuteBMICCommandOK) {
        return kFalse;
    }
    return _VK_BMICHelperWriteBuffer(device, BMIC_RESUME_BACKGROUND_ACTIVITY, 0, 0, nullptr, 0);
}

VK_BOOL VK_SendControllerSCSICommand(PCDA cda, PSCSIRequest request) {
    if (cda == nullptr || request == nullptr) {
        return kFalse;
    }
    return _VK_ExecuteSCSIWithSense(_VK_CDA(cda)->controller_handle, request) == eCOMMAND_STATUS_OK ? kTrue
                                                                                                   : kFalse;
}

VK_BYTE VK_CanRecoverCacheModule(PCDA cda) {
    if (cda == nullptr) {
        return kCanRecoverCacheModuleNotAllowedByFirmware;
    }
    CDALock guard(cda);
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kCanRecoverCacheModuleControllerOFAActive;
    }
    if (VK_RequestSenseCacheConfigStatusBuffer(cda) &&
        (_VK_CDA(cda)->sense_cache_config_status_buffer.bCacheSupportFlags & kCacheSupportsModuleRecovery) !=
            0) {
        return kCanRecoverCacheModuleAllowed;
    }
    return kCanRecoverCacheModuleNotAllowedByFirmware;
}

VK_BOOL VK_RecoverCacheModule(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanRecoverCacheModule(cda) != kCanRecoverCacheModuleAllowed) {
        return kFalse;
    }
    ScsiCommandSenseData sense = {};
    const VK_BOOL sent = _VK_BMICHelperWriteBufferWithSense(
        _VK_CDA(cda)->controller_handle, BMIC_RECOVER_CACHE_MODULE, 0, 0, nullptr, 0, &sense);
    const bool recovered = CommandSucceeded(sent, sense);
    // The cache module's state is part of what the data area cached, whatever the outcome.
    VK_ReInitializeCDA(cda);
    return recovered ? kTrue : kFalse;
}

VK_BOOL __VK_SendControllerDebugLogCommand(PCDA cda, void* buffer, VK_DWORD size, VK_BYTE log_type,
                                           VK_BYTE action, VK_DWORD offset) {
    if (cda == nullptr) {
        return kFalse;
    }
    ScsiCommandSenseData sense = {};
    const auto lun = static_cast<VK_WORD>((static_cast<VK_WORD>(action) << 8) | log_type);
    const VK_BOOL sent = _VK_BMICHelperReadBufferWithSense(
        _VK_CDA(cda)->controller_handle, BMIC_CONTROLLER_DEBUG_LOG, offset, lun, buffer, size, &sense);
    // A piece that came short is not the log: its tail would read as zeros.
    return CommandSucceeded(sent, sense) && sense.command_status != kCISSCommandStatusDataUnderrun ? kTrue : kFalse;
}

VK_BYTE* __VK_GetControllerDebugLog(PCDA cda, VK_DWORD* size, VK_BYTE log_type) {
    if (size == nullptr) {
        return nullptr;
    }
    *size = 0;
    if (cda == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);

    VK_DWORD reported = 0;
    if (!__VK_SendControllerDebugLogCommand(cda, &reported, sizeof(reported), log_type,
                                            kControllerLogActionGetSize, 0) ||
        reported == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success && *n > 0' failed: Failed to get log size\n", __func__,
                    __LINE__);
        return nullptr;
    }
    // The size comes from the controller: a value no log can have is refused, not allocated.
    const size_t total = reported;
    if (total > kControllerLogMaxSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Controller log type %u reports %zu bytes, more than the %u accepted: refused\n",
                    __func__, __LINE__, log_type, total, static_cast<unsigned>(kControllerLogMaxSize));
        return nullptr;
    }
    auto* log = static_cast<VK_BYTE*>(VK_malloc(total));
    if (log == nullptr) {
        PN_DebugLog(
            1, 0, "%s:%d: Assertion 'debug_log_buffer != ((void *)0)' failed: Failed to allocate debug log\n",
            __func__, __LINE__);
        return nullptr;
    }
    // A piece the controller returns short leaves zeroes, never stale heap bytes.
    std::memset(log, 0, total);

    for (size_t read = 0; read < total;) {
        const size_t piece = VK_min(total - read, static_cast<size_t>(kControllerLogReadChunkSize));
        if (!__VK_SendControllerDebugLogCommand(cda, log + read, static_cast<VK_DWORD>(piece), log_type,
                                                kControllerLogActionReadData, static_cast<VK_DWORD>(read))) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed while reading debug log\n", __func__,
                        __LINE__);
            VK_free(log);
            return nullptr;
        }
        read += piece;
    }
    *size = static_cast<VK_DWORD>(total);
    return log;
}

VK_BYTE* VK_GetControllerLastCrashDump(PCDA cda, VK_DWORD* size) {
    return __VK_GetControllerDebugLog(cda, size, kControllerLogTypeLastCrashDump);
}

VK_BYTE* VK_GetControllerSerialOutputBuffer(PCDA cda, VK_DWORD* size) {
    return __VK_GetControllerDebugLog(cda, size, kControllerLogTypeSerialOutputBuffer);
}

char* VK_GetControllerDebugToken(PCDA cda, VK_DWORD* size) {
    if (size == nullptr) {
        return nullptr;
    }
    *size = 0;
    if (cda == nullptr || !VK_ControllerSupportsDebugToken(cda)) {
        return nullptr;
    }
    VK_DWORD token_size = 0;
    VK_BYTE* token = __VK_GetControllerDebugLog(cda, &token_size, kControllerLogTypeDebugToken);
    if (token == nullptr) {
        return nullptr;
    }
    // Within the log cap, two digits per byte and the terminator still fit in 32 bits.
    const size_t text_size = 2 * static_cast<size_t>(token_size) + 1;
    auto* text = static_cast<char*>(VK_malloc(text_size));
    if (text != nullptr) {
        VK_ConvertBufferToHexStringSafe(text, text_size, token, token_size);
        *size = static_cast<VK_DWORD>(text_size);
    }
    VK_free(token);
    return text;
}

VK_BYTE* VK_GetControllerPersistentEventLog(PCDA cda, VK_DWORD* size) {
    if (size == nullptr) {
        return nullptr;
    }
    *size = 0;
    if (cda == nullptr || !VK_ControllerSupportsPersistentEventLog(cda)) {
        return nullptr;
    }
    VK_DWORD log_size = 0;
    VK_BYTE* log = __VK_GetControllerDebugLog(cda, &log_size, kControllerLogTypePersistentEventLog);
    // A failed read leaves size 0, which is as incomplete as a short log.
    if (log == nullptr || log_size < kEventSize) {
        PN_DebugLog(1, 0,
                    "%s:%d: Incomplete event data received from persistent event log buffer, discarding\n",
                    __FILE__, __LINE__);
        VK_free(log);
        return nullptr;
    }
    if (log_size % kEventSize != 0) {
        PN_DebugLog(2, 0, "%s:%d: Received partial event data, truncating log buffer at last full event\n",
                    __FILE__, __LINE__);
        log_size = static_cast<VK_DWORD>(log_size - log_size % kEventSize);
    }
    *size = log_size;
    return log;
}

const PersistentControllerEvent*
VK_EnumeratePersistentEventLogBuffer(const void* log_buffer, VK_DWORD log_length,
                                     const PersistentControllerEvent* current) {
    if (log_buffer == nullptr) {
        return nullptr;
    }
    const auto* base = static_cast<const VK_BYTE*>(log_buffer);
    size_t next = 0;
    if (current != nullptr) {
        // Only a record inside this log has a successor.
        const auto at = reinterpret_cast<std::uintptr_t>(current);
        const auto start = reinterpret_cast<std::uintptr_t>(base);
        if (at < start || at - start >= log_length) {
            return nullptr;
        }
        next = static_cast<size_t>(at - start) + kEventSize;
    }
    if (next + kEventSize > log_length) {
        return nullptr;
    }
    return reinterpret_cast<const PersistentControllerEvent*>(base + next);
}
