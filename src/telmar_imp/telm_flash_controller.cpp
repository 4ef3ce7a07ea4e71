// Offline firmware flash through the controller's collect buffer, the firmware's own image check,
// the active ROM image, online firmware activation and the raw manufacturing data.
#include <algorithm>
#include <cstring>

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_commands.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_flash.h"
#include "ptelm_status.h"
#include "telm_pprivate.h"
#include "telm_private.h"

namespace {

constexpr VK_DWORD kLongCommandTimeoutSec = 60;
constexpr VK_DWORD kActivateKeepCollectBuffer = 1;
constexpr VK_DWORD kValidateImageDetail = 1;
constexpr VK_DWORD kI2CNVRAMWrite = 0x10000;
constexpr VK_BYTE kMinimumManufacturingDataFeatureVersion = 7;
// The transport announces a data length in 16 bits.
constexpr VK_DWORD kMaxManufacturingDataLength = 0xFFFF;
constexpr VK_BYTE kActiveROMToggleNotSupported = 0x10;

enum : VK_DWORD {
    kOFAFunctionValidate = 1,
    kOFAFunctionInitiate = 2,
    kOFAFunctionAbort = 4,
    kOFAFunctionSoftReset = 5,
};

DeviceDescriptor Device(PCDA cda) {
    return _VK_CDA(cda)->controller_handle;
}

VK_DWORD ChunkCount(VK_DWORD image_size) {
    return image_size / kFlashControllerChunkSize + (image_size % kFlashControllerChunkSize != 0 ? 1 : 0);
}

// The chunk count travels in 16 bits: a larger image would wrap and be activated half sent.
bool ImageFitsChunkCount(VK_DWORD image_size) {
    return ChunkCount(image_size) <= kFlashControllerMaxChunks;
}

VK_BYTE MapOFAStatus(VK_BYTE firmware_status) {
    switch (firmware_status) {
        case 255: return kControllerOnlineFirmwareActivationStatusNotRunning;
        case 254: return kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptFailed;
        case 252: return kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptAborted;
        case 253: return kControllerOnlineFirmwareActivationStatusPendingInitiate;
        case 251: return kControllerOnlineFirmwareActivationStatusDelayingInitiate;
        default:
            if (firmware_status >= 1 && firmware_status <= 6) {
                return static_cast<VK_BYTE>(kControllerOnlineFirmwareActivationStatusInProgressFlushingCache +
                                            firmware_status - 1);
            }
            return kControllerOnlineFirmwareActivationStatusUnknown;
    }
}

bool OFARunning(VK_BYTE status) {
    return VK_IS_CONTROLLER_OFA_RUNNING(status);
}

// The OFA status, read through the cache; nothing when it cannot be read.
bool ReadOFAStatus(PCDA cda, VK_BOOL force, VK_CONTROLLER_OFA_STATUS* status) {
    if (force) {
        VK_UpdateControllerOnlineFirmwareActivationStatus(cda);
    }
    return VK_GetControllerOnlineFirmwareActivationStatus(cda, status) != kFalse;
}

bool EncryptionFirmwareLocked(PCDA cda) {
    return (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionFwLocked) != 0;
}

VK_BOOL OFAExchangeRead(PCDA cda, VK_DWORD function, void* buffer) {
    return _VK_BMICHelperReadBuffer(Device(cda), BMIC_ONLINE_FIRMWARE_ACTIVATION, function, 0, buffer, 16);
}

// Initiate and soft reset write the request and read the reply into the same 16 bytes.
VK_BOOL OFAExchangeWriteRead(PCDA cda, VK_DWORD function, void* buffer) {
    return _VK_BMICHelperReadWriteBuffer(Device(cda), BMIC_ONLINE_FIRMWARE_ACTIVATION, function, 0, buffer, 16,
                                         0);
}

VK_QWORD DecodeResponse(const ONLINE_FIRMWARE_ACTIVATION_RESPONSE& response) {
    if (response.u8ResponseCode == 0) {
        return kControllerOnlineFirmwareActivationValidateOk;
    }
    VK_QWORD result = 0;
    const VK_BYTE first = response.u8FailureReason[0];
    for (unsigned k = 0; k < 8; ++k) {
        if (first & (1u << k)) {
            result |= kControllerOnlineFirmwareActivationValidateNotEnabled << k;
        }
    }
    const VK_BYTE second = response.u8FailureReason[1];
    for (unsigned k = 0; k < 6; ++k) {
        if (second & (1u << k)) {
            result |= kControllerOnlineFirmwareActivationValidateIncompatible << k;
        }
    }
    return result;
}

} // namespace

// ---- Offline flash ----

VK_BOOL _VK_FlashControllerFirmwareFreeCollectBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    return _VK_BMICHelperNoneBuffer(Device(cda), BMIC_FREE_COLLECT_BUFFER, 0, 0, 0);
}

VK_BOOL _VK_FlashControllerFirmwareCollectBuffer(PCDA cda, VK_WORD current_chunk, VK_WORD total_chunks,
                                                 const VK_BYTE* chunk, VK_WORD chunk_size) {
    if (cda == nullptr || current_chunk == 0 || total_chunks == 0 || current_chunk > total_chunks ||
        chunk == nullptr || chunk_size == 0) {
        return kFalse;
    }
    // Detail bytes 2-5: total high, current high, total low, current low.
    const VK_DWORD detail = static_cast<VK_DWORD>(total_chunks >> 8) << 24 |
                            static_cast<VK_DWORD>(current_chunk >> 8) << 16 |
                            static_cast<VK_DWORD>(total_chunks & 0xFF) << 8 | (current_chunk & 0xFF);
    return _VK_BMICHelperWriteBuffer(Device(cda), BMIC_WRITE_COLLECT_BUFFER, detail, 0,
                                     const_cast<VK_BYTE*>(chunk), chunk_size);
}

VK_BOOL _VK_FlashControllerFirmwareActivate(PCDA cda, VK_BOOL free_collect_buffer) {
    if (cda == nullptr) {
        return kFalse;
    }
    return _VK_BMICHelperNoneBuffer(Device(cda), BMIC_ACTIVATE_FIRMWARE,
                                    free_collect_buffer ? 0 : kActivateKeepCollectBuffer, 0,
                                    kLongCommandTimeoutSec);
}

VK_BOOL __VK_SendControllerFirmwareImageToCollectBuffer(PCDA cda, const VK_BYTE* image, VK_DWORD image_size,
                                                        FlashProgressCallback callback) {
    if (cda == nullptr || (image == nullptr && image_size != 0) || !ImageFitsChunkCount(image_size)) {
        return kFalse;
    }
    auto chunk = PN_TRACKED_ZEROED(kFlashControllerChunkSize);
    if (!chunk) {
        return kFalse;
    }
    const VK_DWORD total = ChunkCount(image_size);
    VK_DWORD offset = 0;
    for (VK_DWORD n = 1; n <= total; ++n) {
        const VK_DWORD size = std::min<VK_DWORD>(image_size - offset, kFlashControllerChunkSize);
        std::memset(chunk.get(), 0, kFlashControllerChunkSize);
        std::memcpy(chunk.get(), image + offset, size);
        if (!_VK_FlashControllerFirmwareCollectBuffer(cda, static_cast<VK_WORD>(n), static_cast<VK_WORD>(total),
                                                      chunk.get(), static_cast<VK_WORD>(size))) {
            return kFalse;
        }
        offset += size;
        if (callback != nullptr) {
            callback(static_cast<VK_BYTE>(n * 100 / (total + 1)));
        }
    }
    return kTrue;
}

VK_BOOL _VK_ValidateFirmwareImage(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    return _VK_BMICHelperNoneBuffer(Device(cda), BMIC_VALIDATE_FIRMWARE_IMAGE, kValidateImageDetail, 0,
                                    kLongCommandTimeoutSec);
}

VK_WORD VK_CanFlashController(PCDA cda, VK_DWORD image_size) {
    if (cda == nullptr) {
        return kCanFlashControllerBMICCommandNotSupported;
    }
    VK_WORD bits = kCanFlashControllerOK;
    if (!ImageFitsChunkCount(image_size)) {
        bits |= kCanFlashControllerInvalidImageSize;
    }
    if (PN_CanExecuteBMICCommand(Device(cda)) != kCanExecuteBMICCommandOK) {
        bits |= kCanFlashControllerBMICCommandNotSupported;
    }
    if (EncryptionFirmwareLocked(cda)) {
        bits |= kCanFlashControllerFWLocked;
    }
    VK_CONTROLLER_OFA_STATUS status;
    if (ReadOFAStatus(cda, kFalse, &status) &&
        status.status != kControllerOnlineFirmwareActivationStatusNotRunning &&
        status.status != kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptFailed &&
        status.status != kControllerOnlineFirmwareActivationStatusNotRunningLastAttemptAborted) {
        bits |= kCanFlashControllerOFAActive;
    }
    return bits;
}

VK_BYTE VK_FlashController(PCDA cda, const VK_BYTE* image, VK_DWORD image_size, FlashProgressCallback callback) {
    if (cda == nullptr || image == nullptr || image_size == 0 ||
        VK_CanFlashController(cda, image_size) != kCanFlashControllerOK) {
        return kFlashControllerFailed;
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    bool activated = false;
    if (__VK_SendControllerFirmwareImageToCollectBuffer(cda, image, image_size, callback)) {
        activated = _VK_FlashControllerFirmwareActivate(cda, kTrue) != kFalse;
        if (activated) {
            if (callback != nullptr) {
                callback(100);
            }
            CDALock guard(cda);
            _VK_CDA(cda)->flags[kCDAFlagsModel] &= ~kCDAModelArraysBuilt;
        }
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    return activated ? kFlashControllerSuccess : kFlashControllerFailed;
}

VK_BYTE VK_ValidateControllerImage(PCDA cda, const VK_BYTE* image, VK_DWORD image_size) {
    if (cda == nullptr || image == nullptr || image_size == 0 || !ImageFitsChunkCount(image_size)) {
        return kValidateControllerImageCannotValidateImage;
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    VK_BYTE result = kValidateControllerImageFailed;
    if (__VK_SendControllerFirmwareImageToCollectBuffer(cda, image, image_size, nullptr) &&
        _VK_ValidateFirmwareImage(cda)) {
        result = kValidateControllerImageOK;
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    return result;
}

VK_BYTE VK_CanToggleControllerActiveROMImage(PCDA cda) {
    if (cda == nullptr) {
        return kCanToggleControllerActiveROMImageNotSupported;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        (_VK_CDA(cda)->identify_controller_buffer.bActiveROMStatus & kActiveROMToggleNotSupported) != 0) {
        return kCanToggleControllerActiveROMImageNotSupported;
    }
    if ((VK_GetControllerStatusInfo(cda) & kControllerStatusMask) != kControllerStatusOK) {
        return kCanToggleControllerActiveROMImageControllerStateNotOK;
    }
    VK_CONTROLLER_OFA_STATUS status;
    if (ReadOFAStatus(cda, kFalse, &status) && OFARunning(status.status)) {
        return kCanToggleControllerActiveROMImageOFAInProgress;
    }
    if (EncryptionFirmwareLocked(cda)) {
        return kCanToggleControllerActiveROMImageFirmwareIsLocked;
    }
    return kCanToggleControllerActiveROMImageOK;
}

VK_BYTE VK_ToggleControllerActiveROMImage(PCDA cda) {
    if (cda == nullptr) {
        return kToggleControllerActiveROMImageFailed;
    }
    CDALock guard(cda);
    if (VK_CanToggleControllerActiveROMImage(cda) != kCanToggleControllerActiveROMImageOK) {
        return kToggleControllerActiveROMImageFailed;
    }
    return _VK_BMICHelperNoneBuffer(Device(cda), BMIC_TOGGLE_ACTIVE_ROM_IMAGE, 0, 0, kLongCommandTimeoutSec)
               ? kToggleControllerActiveROMImageSuccess
               : kToggleControllerActiveROMImageFailed;
}

// ---- Online firmware activation ----

VK_BOOL VK_GetControllerOnlineFirmwareActivationStatus(PCDA cda, PVK_CONTROLLER_OFA_STATUS ofa_status) {
    if (ofa_status == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'ofa_status != ((void *)0)' failed: Invalid OFA status buffer\n",
                    __func__, __LINE__);
        return kFalse;
    }
    std::memset(ofa_status, 0, sizeof(*ofa_status));
    ofa_status->progress_percent = kControllerOnlineFirmwareActivationProgressPercentInvalid;
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if ((VK_ControllerSupportsOnlineFirmwareActivation(cda) & kControllerOnlineFirmwareActivationSupported) ==
        0) {
        ofa_status->status = kControllerOnlineFirmwareActivationStatusNotRunning;
        return kTrue;
    }
    if (!VK_RequestOnlineFirmwareActivationStatus(cda)) {
        return kFalse;
    }
    __VK_DecodeOnlineFirmwareActivationStatus(&_VK_CDA(cda)->online_firmware_activation_status_buffer, ofa_status);
    return kTrue;
}

void __VK_DecodeOnlineFirmwareActivationStatus(const ONLINE_FIRMWARE_ACTIVATION_STATUS* reply,
                                               PVK_CONTROLLER_OFA_STATUS ofa_status) {
    std::memset(ofa_status, 0, sizeof(*ofa_status));
    ofa_status->progress_percent = kControllerOnlineFirmwareActivationProgressPercentInvalid;
    ofa_status->status = MapOFAStatus(reply->u8CurrentStatus);
    // A pending activation has not started, so it has no progress yet.
    if (OFARunning(ofa_status->status) &&
        ofa_status->status != kControllerOnlineFirmwareActivationStatusPendingInitiate) {
        ofa_status->progress_percent = reply->u8PercentComplete;
    }
    ofa_status->delay_requested_minutes = reply->u16DelayTimeSet;
    ofa_status->delay_remaining_minutes = reply->u16DelayTimeRemaining;
}

void VK_UpdateControllerOnlineFirmwareActivationStatus(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    _VK_CDA(cda)->flags[kCDAFlagsBuffers] &= ~kCDAValidOFAStatus;
}

VK_BOOL _VK_IsControllerOnlineFirmwareActivationRunning(PCDA cda, VK_BOOL force) {
    VK_CONTROLLER_OFA_STATUS status;
    return cda != nullptr && ReadOFAStatus(cda, force, &status) && OFARunning(status.status) ? kTrue : kFalse;
}

VK_BOOL _VK_HasControllerOnlineFirmwareActivationStarted(PCDA cda, VK_BOOL force) {
    VK_CONTROLLER_OFA_STATUS status;
    return cda != nullptr && ReadOFAStatus(cda, force, &status) && VK_HAS_CONTROLLER_OFA_STARTED(status.status)
               ? kTrue
               : kFalse;
}

VK_QWORD __VK_DecodeOnlineFirmwareActivationValidate(const ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response) {
    return response != nullptr ? DecodeResponse(*response) : kControllerOnlineFirmwareActivationValidateUnknownError;
}

VK_QWORD __VK_DecodeOnlineFirmwareActivationValidateForOFAKSR(const ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response) {
    return __VK_DecodeOnlineFirmwareActivationValidate(response);
}

VK_BOOL _VK_OnlineFirmwareActivationValidate(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* response) {
    if (cda == nullptr || response == nullptr) {
        return kFalse;
    }
    std::memset(response, 0, sizeof(*response));
    return OFAExchangeRead(cda, kOFAFunctionValidate, response);
}

VK_BOOL __VK_OnlineFirmwareActivationInitiate(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* buffer,
                                              VK_WORD delay_minutes) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    // The request's u16DelayTimeMinutes sits where the reply's code and first failure byte come back.
    pavlin::ByteSpan(reinterpret_cast<VK_BYTE*>(buffer), sizeof(*buffer)).put_le16(0, delay_minutes);
    return OFAExchangeWriteRead(cda, kOFAFunctionInitiate, buffer);
}

VK_BOOL __VK_OnlineFirmwareActivationAbort(PCDA cda, ONLINE_FIRMWARE_ACTIVATION_RESPONSE* buffer) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    return OFAExchangeRead(cda, kOFAFunctionAbort, buffer);
}

VK_QWORD VK_CanValidateControllerOnlineFlash(PCDA cda) {
    if (cda == nullptr) {
        return kControllerOnlineFirmwareActivationValidateNotSupported;
    }
    const VK_DWORD support = VK_ControllerSupportsOnlineFirmwareActivation(cda);
    if ((support & kControllerOnlineFirmwareActivationSupported) == 0) {
        return kControllerOnlineFirmwareActivationValidateNotSupported;
    }
    if ((support & kControllerOnlineFirmwareActivationEnabled) == 0) {
        return kControllerOnlineFirmwareActivationValidateNotEnabled;
    }
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kControllerOnlineFirmwareActivationValidateAlreadyRunning;
    }
    if (VK_CanFlashController(cda, 0) != kCanFlashControllerOK) {
        return kControllerOnlineFirmwareActivationValidateCannotFlash;
    }
    return kControllerOnlineFirmwareActivationValidateOk;
}

VK_QWORD VK_CanInitiateControllerOnlineFlash(PCDA cda) {
    return VK_CanValidateControllerOnlineFlash(cda);
}

VK_QWORD VK_ValidateControllerPendingImageForOnlineFlash(PCDA cda) {
    const VK_QWORD check = VK_CanValidateControllerOnlineFlash(cda);
    if (check != kControllerOnlineFirmwareActivationValidateOk) {
        return check;
    }
    ONLINE_FIRMWARE_ACTIVATION_RESPONSE response;
    return _VK_OnlineFirmwareActivationValidate(cda, &response)
               ? DecodeResponse(response)
               : kControllerOnlineFirmwareActivationValidateUnknownError;
}

VK_QWORD VK_ValidateControllerOnlineFlash(PCDA cda, const VK_BYTE* image, VK_DWORD image_size) {
    if (image == nullptr || image_size == 0 || !ImageFitsChunkCount(image_size)) {
        return kControllerOnlineFirmwareActivationValidateUnknownError;
    }
    const VK_QWORD check = VK_CanValidateControllerOnlineFlash(cda);
    if (check != kControllerOnlineFirmwareActivationValidateOk) {
        return check;
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    VK_QWORD result = kControllerOnlineFirmwareActivationValidateUnknownError;
    if (__VK_SendControllerFirmwareImageToCollectBuffer(cda, image, image_size, nullptr)) {
        ONLINE_FIRMWARE_ACTIVATION_RESPONSE response;
        if (_VK_OnlineFirmwareActivationValidate(cda, &response)) {
            result = DecodeResponse(response);
        }
    }
    _VK_FlashControllerFirmwareFreeCollectBuffer(cda);
    return result;
}

VK_QWORD VK_InitiateControllerOnlineFlash(PCDA cda, VK_WORD delay_minutes) {
    const VK_QWORD check = VK_CanInitiateControllerOnlineFlash(cda);
    if (check != kControllerOnlineFirmwareActivationValidateOk) {
        return check;
    }
    ONLINE_FIRMWARE_ACTIVATION_RESPONSE buffer;
    return __VK_OnlineFirmwareActivationInitiate(cda, &buffer, delay_minutes)
               ? DecodeResponse(buffer)
               : kControllerOnlineFirmwareActivationValidateUnknownError;
}

VK_DWORD VK_CanAbortControllerOnlineFlash(PCDA cda) {
    if (cda == nullptr) {
        return kControllerOnlineFirmwareActivationAbortNotSupported;
    }
    const VK_DWORD support = VK_ControllerSupportsOnlineFirmwareActivation(cda);
    if ((support & kControllerOnlineFirmwareActivationSupported) == 0) {
        return kControllerOnlineFirmwareActivationAbortNotSupported;
    }
    if ((support & kControllerOnlineFirmwareActivationEnabled) == 0) {
        return kControllerOnlineFirmwareActivationAbortNotEnabled;
    }
    VK_CONTROLLER_OFA_STATUS status;
    if (!ReadOFAStatus(cda, kFalse, &status)) {
        return kControllerOnlineFirmwareActivationAbortFailed;
    }
    return status.status == kControllerOnlineFirmwareActivationStatusPendingInitiate ||
                   status.status == kControllerOnlineFirmwareActivationStatusDelayingInitiate
               ? kControllerOnlineFirmwareActivationAbortSuccess
               : kControllerOnlineFirmwareActivationAbortNotRunning;
}

VK_DWORD VK_AbortControllerOnlineFlash(PCDA cda) {
    const VK_DWORD check = VK_CanAbortControllerOnlineFlash(cda);
    if (check != kControllerOnlineFirmwareActivationAbortSuccess) {
        return check;
    }
    ONLINE_FIRMWARE_ACTIVATION_RESPONSE reply;
    if (!__VK_OnlineFirmwareActivationAbort(cda, &reply)) {
        return kControllerOnlineFirmwareActivationAbortFailed;
    }
    if (reply.u8ResponseCode == 0) {
        return kControllerOnlineFirmwareActivationAbortSuccess;
    }
    switch (reply.u8FailureReason[0]) {
        case 1: return kControllerOnlineFirmwareActivationAbortNotEnabled;
        case 2: return kControllerOnlineFirmwareActivationAbortNotRunning;
        default: return kControllerOnlineFirmwareActivationAbortFailed;
    }
}

VK_QWORD VK_CanOFASoftResetController(PCDA cda) {
    if (cda == nullptr) {
        return kControllerOnlineFirmwareActivationValidateNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsOFASoftReset(cda)) {
        return kControllerOnlineFirmwareActivationValidateNotSupported;
    }
    if (_VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse)) {
        return kControllerOnlineFirmwareActivationValidateAlreadyRunning;
    }
    return kControllerOnlineFirmwareActivationValidateOk;
}

VK_QWORD VK_DoOFASoftResetController(PCDA cda) {
    if (VK_CanOFASoftResetController(cda) != kControllerOnlineFirmwareActivationValidateOk) {
        return kControllerOnlineFirmwareActivationValidateCannotFlash;
    }
    CDALock guard(cda);
    ONLINE_FIRMWARE_ACTIVATION_RESPONSE buffer;
    std::memset(&buffer, 0, sizeof(buffer));
    const VK_QWORD result = OFAExchangeWriteRead(cda, kOFAFunctionSoftReset, &buffer)
                                ? DecodeResponse(buffer)
                                : kControllerOnlineFirmwareActivationValidateUnknownError;
    VK_ReInitializeCDA(cda);
    return result;
}

// ---- Manufacturing data ----

VK_BOOL __VK_SendControllerI2CNVRAMPassthroughRead(PCDA cda, VK_BYTE data_id, VK_BYTE* buffer, VK_DWORD length) {
    if (cda == nullptr) {
        return kFalse;
    }
    return _VK_BMICHelperReadBuffer(Device(cda), BMIC_I2C_NVRAM_PASSTHROUGH, static_cast<VK_DWORD>(data_id) << 24,
                                    0, buffer, length);
}

VK_BOOL __VK_SendControllerI2CNVRAMPassthroughWrite(PCDA cda, VK_BYTE data_id, const VK_BYTE* buffer,
                                                    VK_DWORD length) {
    if (cda == nullptr) {
        return kFalse;
    }
    return _VK_BMICHelperWriteBuffer(Device(cda), BMIC_I2C_NVRAM_PASSTHROUGH,
                                     (static_cast<VK_DWORD>(data_id) << 24) + kI2CNVRAMWrite, 0,
                                     const_cast<VK_BYTE*>(buffer), length);
}

VK_BYTE VK_ReadControllerRawManufacturingData(PCDA cda, VK_BYTE* buffer, VK_DWORD length) {
    if (cda == nullptr) {
        return kReadControllerRawManufacturingDataNotSupported;
    }
    CDALock guard(cda);
    if (_VK_CDA(cda)->controller_firmware_feature_version < kMinimumManufacturingDataFeatureVersion) {
        return kReadControllerRawManufacturingDataNotSupported;
    }
    if (buffer == nullptr) {
        return kReadRawControllerManufacturingDataNullBuffer;
    }
    if (length == 0 || length > kMaxManufacturingDataLength) {
        return kReadRawControllerManufacturingDataInvalidLength;
    }
    return __VK_SendControllerI2CNVRAMPassthroughRead(cda, kI2CNVRAMDataIdManufacturingData, buffer, length)
               ? kReadControllerRawManufacturingDataSuccess
               : kReadControllerRawManufacturingDataFailure;
}

VK_BYTE VK_CanFlashControllerManufacturingData(PCDA cda, const VK_BYTE* data, VK_DWORD length) {
    if (cda == nullptr) {
        return kCanFlashControllerManufacturingDataNotSupported;
    }
    CDALock guard(cda);
    if (_VK_CDA(cda)->controller_firmware_feature_version < kMinimumManufacturingDataFeatureVersion) {
        return kCanFlashControllerManufacturingDataNotSupported;
    }
    if (data == nullptr) {
        return kCanFlashControllerManufacturingDataNullBuffer;
    }
    if (length == 0 || length > kMaxManufacturingDataLength) {
        return kCanFlashControllerManufacturingDataInvalidLength;
    }
    return kCanFlashControllerManufacturingDataOK;
}

VK_BOOL VK_FlashControllerManufacturingData(PCDA cda, const VK_BYTE* data, VK_DWORD length) {
    if (VK_CanFlashControllerManufacturingData(cda, data, length) != kCanFlashControllerManufacturingDataOK) {
        return kFalse;
    }
    return __VK_SendControllerI2CNVRAMPassthroughWrite(cda, kI2CNVRAMDataIdManufacturingData, data, length);
}
