// Encryption status words: the controller's controller-based encryption, and the encryption state of
// logical and physical drives, from the cached encryption buffers and the record tables. Then the
// credential rules, the random credentials, the 0x1E request builders, and the operations that act on
// the controller and its logical drives at once.
#include <algorithm>
#include <cstring>
#include <cerrno>
#include <string.h>
#include <sys/random.h>

#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_status.h"
#include "telm_private.h"
#include "telm_encryption_requests.h"
#include "telm_encryption_words.h"
#include "telm_records.h"

// Sent as the recovery question by the express-local set-up; the status word compares all 256 bytes.
const char kControllerEncryptionExpressModeQuestion[256] =
    "Express local encryption is on: the controller keeps its master key to itself, so this question is n"
    "ever put to anyone. It only tells the encryption status that the express mode was set up; change not"
    "hing here and never answer it. End of marker text......";
static_assert(sizeof(kControllerEncryptionExpressModeQuestion) == 256);

namespace {

struct BitMap {
    VK_DWORD from;
    VK_QWORD to;
};

// dwEncryptionStatus of IDENTIFY into the controller word.
constexpr BitMap kIdentifyBits[] = {
    {0x1, kControllerEncryptionEnabled},
    {0x4, kControllerEncryptionLocalMode},
    {0x10000, kControllerEncryptionCryptoOfficerRecoverySet},
    {0x800, kControllerEncryptionCryptoOfficerPasswordSet},
    {0x400, kControllerEncryptionKeyCacheEnabled},
    {0x1000, kControllerEncryptionUserPasswordSet},
    {0x4000, kControllerEncryptionFwLocked},
    {0x20000, kControllerEncryptionKekSet},
    {0x40000, kControllerEncryptionMissingBootPassword},
    {0x80000, kControllerEncryptionMixedVolumesEnabled},
    {0x8000000, kControllerEncryptionRemoteKekSet},
    {0x10000000, kControllerEncryptionSkipBootPassword},
    {0x100, kControllerEncryptionMasterKeyResetInProgress},
    {0x8, kControllerEncryptionSelfTestFailed},
    {0x10, kControllerEncryptionCSPNVRAMDetectFailed},
    {0x20, kControllerEncryptionRTCSRAMDetectFailed},
};

constexpr BitMap kBootStatusBits[] = {
    {0x1, kControllerEncryptionBootStatusRemoteKeyRetrievalFailed},
    {0x2, kControllerEncryptionBootStatusMissingRemoteMasterKey},
    {0x4, kControllerEncryptionBootStatusMissingRemoteDriveKeys},
    {0x8, kControllerEncryptionBootStatusFailedToDecryptVolumeKey},
    {0x10, kControllerEncryptionBootStatusNeedKeyImport},
};

// dwDriveFeatureFlags (F) of a drive's identify copy into the drive word, whether or not it is an SED.
constexpr BitMap kFeatureBits[] = {
    {0x100, kPhysicalDriveEncryptionSEDQualificationInProgress},
    {0x40, kPhysicalDriveEncryptionSEDQualificationFailedLockingEnabled},
    {0x80, kPhysicalDriveEncryptionSEDQualificationFailedRangeLengthSet},
    {0x200, kPhysicalDriveEncryptionSEDIsInOFS},
    {0x400, kPhysicalDriveEncryptionSEDIsOtherwiseOwned},
    {0x1000, kPhysicalDriveEncryptionSEDIsForeign},
    {0x2000, kPhysicalDriveEncryptionSEDIsOPALSED},
    {0x4000, kPhysicalDriveEncryptionSEDIsEnterpriseSED},
    {0x8000, kPhysicalDriveEncryptionSEDIsIncompatibleSED},
    {0x10000, kPhysicalDriveEncryptionSEDIsSEDOPSInProgress},
    {0x20000, kPhysicalDriveEncryptionSEDIsLockedOut},
    {0x80000, kPhysicalDriveEncryptionSEDDataLocked},
};

template <size_t N> VK_QWORD MapBits(VK_DWORD value, const BitMap (&table)[N]) {
    VK_QWORD word = 0;
    for (const BitMap& b : table) {
        if (value & b.from) {
            word |= b.to;
        }
    }
    return word;
}

} // namespace

VK_QWORD VK_GetControllerEncryptionStatus(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_ControllerSupportsEncryption(cda)) {
        return 0;
    }
    const VK_DWORD e = c->identify_controller_buffer.dwEncryptionStatus;
    VK_QWORD word = MapBits(e, kIdentifyBits);
    if (((e >> 20) & 0xF) == 1) {
        word |= kControllerEncryptionRTFCSPNVRAMCorrupt;
    }
    if ((e & 0x10000) && VK_RequestEncryptionPasswordRecoveryQuestion(cda) &&
        std::memcmp(c->encryption_password_recovery_buffer.bQuestion, kControllerEncryptionExpressModeQuestion,
                    sizeof(kControllerEncryptionExpressModeQuestion)) == 0) {
        word |= kControllerEncryptionExpressModeOn;
    }
    if (VK_RequestEncryptionBootPasswordStatus(cda)) {
        const VK_WORD bp = c->encryption_boot_password_status_buffer.wStatus;
        word |= ((bp & 0x1) ? kControllerEncryptionBootPasswordSet : 0) |
                ((bp & 0x2) ? kControllerEncryptionControllerLocked : 0) |
                ((bp & 0x4) ? kControllerEncryptionBootPasswordSuspended : 0);
    }
    if (VK_RequestEncryptionBootStatus(cda)) {
        const ENCRYPTION_BOOT_STATUS& bs = c->encryption_boot_status_buffer;
        if (bs.dwCompleteStatus == 0) {
            word |= kControllerEncryptionBootNotComplete;
        } else if (bs.dwCompleteStatus == 1) {
            word |= kControllerEncryptionBootComplete | MapBits(bs.dwBootStatus, kBootStatusBits);
        }
    }
    if (VK_RequestEncryptionKeyManagerStatus(cda)) {
        const ENCRYPTION_KEY_MANAGER_STATUS& km = c->encryption_key_manager_status;
        constexpr VK_QWORD kRetrieval[] = {kControllerEncryptionKeyRetrievalNotNeeded,
                                           kControllerEncryptionKeyRetrievalNeeded,
                                           kControllerEncryptionKeyRetrievalRequested,
                                           kControllerEncryptionKeyRetrievalValid};
        if (km.bRetrievalStatus < 4) {
            word |= kRetrieval[km.bRetrievalStatus];
        }
        if (word & kControllerEncryptionKeyRetrievalValid) {
            switch (km.bConnectionStatus) {
            case 0: word |= kControllerEncryptionKeyConnectionNotConfigured; break;
            case 1:
                word |= kControllerEncryptionKeyConnectionConfiguredForRedundancy |
                        kControllerEncryptionKeyConnectionIsRedundant;
                break;
            case 2: word |= kControllerEncryptionKeyConnectionConfiguredForRedundancy; break;
            case 3:
                word |= kControllerEncryptionKeyConnectionConfiguredForRedundancy |
                        kControllerEncryptionKeyConnectionNoConnection;
                break;
            case 4: word |= kControllerEncryptionKeyConnectionNotRedundant; break;
            case 5: word |= kControllerEncryptionKeyConnectionNoConnection; break;
            default: break;
            }
        }
    }
    VK_QWORD ikek = 0xFF, reset = 0xFF, controller_key = 0xFF;
    if (VK_RequestEncryptionIKekStatus(cda)) {
        ikek = c->encryption_ikek_status.bIkek;
        reset = c->encryption_ikek_status.bIkekReset;
        controller_key = c->encryption_ikek_status.bControllerKey;
    }
    word |= ikek << kControllerEncryptionIKEKStatusShift | reset << kControllerEncryptionIKEKResetStatusShift |
            controller_key << kControllerEncryptionIKEKControllerKeyStatusShift;
    return word;
}

VK_DWORD _VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || !VK_RequestSenseLogicalDriveStatusBuffer(cda, ld_number)) {
        return 0;
    }
    LogicalDriveRecord& record = _VK_CDA(cda)->ld_record_list[ld_number];
    const CDA_LOGICAL_DRIVE_STATUS& status = record.sense_logical_drive_status_buffer;
    VK_DWORD word = 0;
    if (VK_ControllerSupportsEncryption(cda)) {
        if (status.bEncryptionFlags & kLogicalDriveEncryptionEnabled) {
            const bool lu_cache = (record.flags & (kLDRecordExists | kLDRecordRoleLUCache)) ==
                                  (kLDRecordExists | kLDRecordRoleLUCache);
            word |= lu_cache ? kLogicalDriveEncryptionEnabled : (status.bEncryptionFlags & 0x3F);
        }
        if (status.dwFixedStructureLength >= 1052) {
            const VK_BYTE more = status.bAdditionalEncryptionFlags;
            if (more & 0x1) {
                word |= kLogicalDriveEncryptionVolatileKeyEnabled << kLogicalDriveEncryptionVolatileKeyShift;
            }
            if (more & 0x2) {
                word |= kLogicalDriveEncryptionVolatileKeyBackupEnabled << kLogicalDriveEncryptionVolatileKeyShift;
            }
            const VK_BYTE progress = static_cast<VK_BYTE>((more & 0x1C) >> 2);
            const VK_DWORD key_status =
                progress >= 1 && progress <= 4 ? progress + 1u : kLogicalDriveEncryptionVolatileKeyStatusNoOp;
            word |= key_status << kLogicalDriveEncryptionVolatileKeyStatusShift;
        }
    }
    if (VK_ControllerSupportsSEDEncryption(cda) & 0x1) {
        word |= static_cast<VK_DWORD>(status.bManagedSEDVolumeFlags & 0x3) << kLogicalDriveSEDEncryptionStatusShift;
        if (__VK_IsLogicalDriveArraySEDForeign(cda, &record)) {
            word |= static_cast<VK_DWORD>(kLogicalDriveEncryptionSEDForeign) << kLogicalDriveSEDEncryptionStatusShift;
        }
    }
    return word;
}

VK_DWORD VK_GetLogicalDriveEncryptionInfo(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr || ld_number >= kMaxLogicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) ||
        !(_VK_CDA(cda)->ld_record_list[ld_number].flags & kLDRecordExists)) {
        return 0;
    }
    return _VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
}

VK_BOOL __VK_IsLogicalDriveArraySEDForeign(PCDA cda, LogicalDriveRecord* ld_record) {
    if (cda == nullptr || ld_record == nullptr || ld_record->array_number >= kMaxArraysSupported ||
        !VK_RequestIdentifyControllerBuffer(cda)) {
        return kFalse;
    }
    const _CDA* c = _VK_CDA(cda);
    const ArrayRecord& array = c->array_record_list[ld_record->array_number];
    const size_t devices = std::min<size_t>(c->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                                            kMaxPhysicalDrivesSupported);
    for (size_t p = 0; p < devices; ++p) {
        if ((telmar::MapBit(array.data_drive_bitmap, kDriveBitmapSize, p) ||
             telmar::MapBit(array.spare_drive_bitmap, kDriveBitmapSize, p)) &&
            telmar::IsOwnedForeignSED(VK_GetPhysicalDriveEncryptionInfo(cda, static_cast<VK_WORD>(p)))) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_UINT64 VK_GetPhysicalDriveEncryptionInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!(VK_ControllerSupportsSED(cda) & 0x1) || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0;
    }
    const CDA_PHYSICAL_DRIVE_STATUS& id = _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer;
    const VK_DWORD f = id.dwDriveFeatureFlags;
    VK_QWORD word = MapBits(f, kFeatureBits);
    if (id.dwMiscDriveFlags & 0x2) {
        word |= kPhysicalDriveEncryptionContainsEncryptedLogicalDrives;
    }
    if (f & 0x1) {
        word |= kPhysicalDriveEncryptionSEDDrive;
        VK_QWORD security = 0;
        security |= (f & 0x20) ? kPhysicalDriveEncryptionSEDSecurityStatusLocked : 0;
        security |= (f & 0x800) ? kPhysicalDriveEncryptionSEDSecurityStatusOwned : 0;
        word |= security << kPhysicalDriveEncryptionSEDSecurityStatusShift;
    }
    return word;
}

// ---- Key cache, passwords, roles, recovery question, key manager ---------------------------------

namespace telmar {

using pavlin::ByteView;

IkekPoll JudgeIkekStatus(ByteView reply, bool remote_key_set, VK_BYTE& ikek, VK_BYTE& ikek_reset) {
    ikek = reply.u8(offsetof(ENCRYPTION_IKEK_STATUS, bIkek)).value_or(0);
    ikek_reset = reply.u8(offsetof(ENCRYPTION_IKEK_STATUS, bIkekReset)).value_or(0);
    const VK_BYTE controller_key = reply.u8(offsetof(ENCRYPTION_IKEK_STATUS, bControllerKey)).value_or(0);
    if (remote_key_set) {
        // Replacing a key name: the reset status decides, or the key status when no reset applies.
        if (ikek_reset == kControllerEncryptionIKEKStatusObtained ||
            (ikek_reset == kControllerEncryptionIKEKStatusNotApplicable &&
             ikek == kControllerEncryptionIKEKStatusObtained)) {
            return IkekPoll::Obtained;
        }
        return ikek_reset == kControllerEncryptionIKEKStatusNotFound ? IkekPoll::NotFound : IkekPoll::Undecided;
    }
    if (controller_key == kControllerEncryptionIKEKStatusObtained && ikek == kControllerEncryptionIKEKStatusObtained) {
        return IkekPoll::Obtained;
    }
    return ikek == kControllerEncryptionIKEKStatusNotFound ? IkekPoll::NotFound : IkekPoll::Undecided;
}

VK_QWORD DecodeKeyCacheStatus(ByteView attributes, VK_DWORD encryption_status) {
    const VK_DWORD supported =
        attributes.le32(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, dwSupportedBits)).value_or(0);
    if (!(supported & 0x1)) {
        return 0;
    }
    VK_QWORD word = 0;
    if (supported & 0x2) {
        word |= static_cast<VK_QWORD>(
                    attributes.le16(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, wCurrentRetryAttempts)).value_or(0))
                << kControllerEncryptionKeyCacheStatusRetryAttemptsShift;
    }
    if (supported & 0x4) {
        word |= static_cast<VK_QWORD>(
                    attributes.le16(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, wCurrentRetryInterval)).value_or(0))
                << kControllerEncryptionKeyCacheStatusRetryIntervalShift;
    }
    if (attributes.le32(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, flags)).value_or(0) & 0x2) {
        word |= kControllerEncryptionPersistentKeyCacheEnabledMask;
    }
    if (encryption_status & 0x400) {
        word |= kControllerEncryptionKeyCacheStatusEnabledMask;
    }
    return word;
}

VK_QWORD DecodePasswordStatus(ByteView statuses, VK_BYTE user) {
    if (user > kControllerEncryptionCryptoUser) {
        return 0;
    }
    const size_t entry = offsetof(ENCRYPTION_PASSWORD_STATUSES, roles) + user * sizeof(ENCRYPTION_PASSWORD_STATUS);
    const auto attempts = statuses.le32(entry + offsetof(ENCRYPTION_PASSWORD_STATUS, dwAttemptsRemaining));
    const auto lockout = statuses.le32(entry + offsetof(ENCRYPTION_PASSWORD_STATUS, dwLockoutSecondsRemaining));
    if (!attempts || !lockout) {
        return 0;
    }
    return static_cast<VK_QWORD>(*attempts) << kVerifyPasswordAttemptsRemainingBitShift |
           static_cast<VK_QWORD>(*lockout) << kVerifyPasswordLockoutSecondsRemainingBitShift;
}

VK_DWORD DecodeUserCapabilities(ByteView role_attributes, VK_BYTE user) {
    // The entry is picked by the role number, not found by bRoleValue.
    const size_t entry = offsetof(ENCRYPTION_ROLE_ATTRIBUTES, roleAttrs) + user * sizeof(ENCRYPTION_ROLE_ATTRIBUTE);
    return role_attributes.le32(entry + offsetof(ENCRYPTION_ROLE_ATTRIBUTE, dwSupportedDetailField)).value_or(0);
}

} // namespace telmar

namespace {

constexpr VK_DWORD kEncryptionFunctionPasswordStatuses = 9;
constexpr VK_BYTE kScsiStatusCheckCondition = 2;

bool PasswordsUsable(PCDA cda) {
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    return (status & kControllerEncryptionCryptoOfficerPasswordSet) && !(status & kControllerEncryptionExpressModeOn);
}

bool RoleAllowed(PCDA cda, VK_BYTE user) {
    return user == kControllerEncryptionCryptoOfficer ||
           (user == kControllerEncryptionCryptoUser &&
            (VK_GetControllerEncryptionEnabledFeatures(cda) & kEncryptionFeatureSetUserPassword));
}

} // namespace

VK_QWORD VK_GetControllerEncryptionKeyCacheStatus(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsEncryption(cda) || !VK_RequestEncryptionKekCacheAttributes(cda) ||
        !VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    return telmar::DecodeKeyCacheStatus(
        telmar::ByteView(&c->encryption_key_cache_attributes, sizeof(c->encryption_key_cache_attributes)),
        c->identify_controller_buffer.dwEncryptionStatus);
}

VK_DWORD VK_GetControllerEncryptionPhysicalDriveCount(PCDA cda) {
    VK_DWORD count = 0;
    if (cda == nullptr) {
        return count;
    }
    for (VK_WORD array = VK_EnumerateAllArrays(cda, kInvalidArrayNumber); array != kInvalidArrayNumber;
         array = VK_EnumerateAllArrays(cda, array)) {
        for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array, kInvalidLDNumber); ld != kInvalidLDNumber;
             ld = VK_EnumerateArrayLogicalDrives(cda, array, ld)) {
            if (VK_GetLogicalDriveEncryptionInfo(cda, ld) & kLogicalDriveEncryptionEnabled) {
                count += VK_GetArrayPhysicalDriveCounts(cda, array) & 0xFF;
                break;
            }
        }
    }
    return count;
}

VK_QWORD VK_GetEncryptionPasswordStatus(PCDA cda, VK_BYTE user) {
    if (cda == nullptr || user > kControllerEncryptionCryptoUser) {
        return 0;
    }
    CDALock guard(cda);
    if (!PasswordsUsable(cda)) {
        return 0;
    }
    // Attempts and lockout change with every try: read afresh, never cached.
    ENCRYPTION_PASSWORD_STATUSES statuses = {};
    if (!_VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION,
                                  kEncryptionFunctionPasswordStatuses, 0, &statuses, sizeof(statuses))) {
        return 0;
    }
    return telmar::DecodePasswordStatus(telmar::ByteView(&statuses, sizeof(statuses)), user);
}

VK_BOOL VK_VerifyEncryptionPasswordSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size) {
    if (cda == nullptr || password == nullptr || password_size == 0) {
        return kFalse;
    }
    CDALock guard(cda);
    const size_t length = strnlen(password, password_size);
    if (!RoleAllowed(cda, user) || length > kEncryptionPasswordFieldSize || !PasswordsUsable(cda)) {
        return kFalse;
    }
    // The password must not outlive the command in this stack frame: the request wipes itself.
    telmar::WipedRequest<ENCRYPTION_VERIFY_PASSWORD> request;
    telmar::CopyCredential(request.r.bPassword, password, length);
    request.r.dwRole = telmar::RequestRole(user);
    ScsiCommandSenseData sense = {};
    VK_BOOL verified = _VK_BMICHelperWriteBufferWithSense(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION,
                                                          kEncryptionFunctionVerifyPassword, 0, &request.r,
                                                          sizeof(request.r), &sense);
    // The controller answers a wrong password with CHECK CONDITION.
    if (sense.scsi_status == kScsiStatusCheckCondition) {
        verified = kFalse;
    }
    return verified ? kTrue : kFalse;
}

VK_BOOL VK_VerifyEncryptionPassword(PCDA cda, VK_BYTE user, const char* password) {
    return VK_VerifyEncryptionPasswordSafe(cda, user, password, password != nullptr ? std::strlen(password) + 1 : 0);
}

VK_DWORD VK_GetEncryptionUserCapabilities(PCDA cda, VK_BYTE user) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!RoleAllowed(cda, user) || !VK_RequestEncryptionRoleAttributes(cda)) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    return telmar::DecodeUserCapabilities(
        telmar::ByteView(&c->encryption_role_attributes_buffer, sizeof(c->encryption_role_attributes_buffer)), user);
}

const char* VK_GetEncryptionRecoveryQuestion(PCDA cda, char* question_buffer, size_t buffer_size) {
    if (question_buffer == nullptr || buffer_size == 0) {
        return question_buffer;
    }
    std::memset(question_buffer, 0, buffer_size);
    const size_t question_size = sizeof(ENCRYPTION_PASSWORD_RECOVERY::bQuestion);
    // The question may fill all 256 bytes: only a buffer with room for its NUL as well gets it.
    if (buffer_size <= question_size || cda == nullptr) {
        return question_buffer;
    }
    CDALock guard(cda);
    if ((VK_GetControllerEncryptionEnabledFeatures(cda) & kEncryptionFeaturePasswordRecovery) &&
        VK_RequestEncryptionPasswordRecoveryQuestion(cda)) {
        std::memcpy(question_buffer, _VK_CDA(cda)->encryption_password_recovery_buffer.bQuestion, question_size);
    }
    return question_buffer;
}

VK_BOOL _VK_ControllerHasEncryptedLogicalDriveWithMissingKey(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        if ((VK_GetLogicalDriveStatusInfo(cda, ld) & 0xFF) == kLogicalDriveUnitStatus20EncryptedVolumeWithoutKey) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_DWORD VK_GetControllerEncryptionKMSAction(PCDA cda) {
    if (cda == nullptr) {
        return kGetControllerEncryptionKMSActionNone;
    }
    CDALock guard(cda);
    MANAGED_SED_KMS_STATUS kms = {};
    if (!VK_RequestCBEKMSStatus(cda, &kms)) {
        return kGetControllerEncryptionKMSActionNone;
    }
    return kms.dwKMSAction;
}

// ---- Credential rules ----------------------------------------------------------------------------

size_t telmar::CredentialLength(const char* credential, size_t size, size_t width) {
    return credential == nullptr ? 0 : strnlen(credential, std::min(size, width));
}

namespace telmar {

CredentialClasses ClassifyCredential(const char* text, size_t length, VK_BYTE lowest_valid) {
    CredentialClasses found;
    for (size_t i = 0; i < length; ++i) {
        // Unsigned, so that bytes 128 to 255 never pass as characters.
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < lowest_valid || c > 126) {
            found.invalid = true;
        } else if (c >= 'a' && c <= 'z') {
            found.lower = true;
        } else if (c >= 'A' && c <= 'Z') {
            found.upper = true;
        } else if (c >= '0' && c <= '9') {
            found.digit = true;
        } else {
            found.special = true;
        }
    }
    return found;
}

bool PrintableText(const char* text, size_t length, VK_BYTE lowest_valid) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < lowest_valid || c > 126) {
            return false;
        }
    }
    return true;
}

} // namespace telmar

namespace {

// A question or an answer: printable characters (space included) within the bounds.
VK_BYTE CheckRecoveryText(const char* text, VK_WORD buffer_size, size_t shortest, size_t longest) {
    if (text == nullptr) {
        return kCheckRecoveryQuestionInvalidUnknown;
    }
    const size_t length = strnlen(text, buffer_size);
    VK_BYTE result = kCheckRecoveryQuestionOk;
    if (length < shortest) {
        result |= kCheckRecoveryQuestionTooShort;
    } else if (length > longest) {
        result |= kCheckRecoveryQuestionTooLong;
    }
    if (!telmar::PrintableText(text, length, ' ')) {
        result |= kCheckRecoveryQuestionInvalidChar;
    }
    return result;
}

} // namespace

VK_BYTE VK_CheckEncryptionPassword(PCDA cda, const char* password_buffer, VK_WORD buffer_size) {
    (void)cda;
    if (password_buffer == nullptr) {
        return kCheckEncryptionPasswordInvalidUnknown;
    }
    const size_t length = strnlen(password_buffer, buffer_size);
    VK_BYTE result = kCheckEncryptionPasswordOk;
    if (length <= 7) {
        result |= kCheckEncryptionPasswordTooShort;
    } else if (length > kEncryptionPasswordFieldSize) {
        result |= kCheckEncryptionPasswordTooLong;
    }
    // Space is no special character here: 0 to 32 are invalid.
    const telmar::CredentialClasses found = telmar::ClassifyCredential(password_buffer, length, '!');
    result |= found.MissingBits();
    if (found.invalid) {
        result |= kCheckEncryptionPasswordInvalidChar;
    }
    return result;
}

VK_BYTE VK_CheckEncryptionMasterKey(PCDA cda, VK_BYTE encryption_config, const char* key_buffer,
                                    VK_WORD buffer_size) {
    (void)cda;
    if (key_buffer == nullptr) {
        return kCheckEncryptionMasterKeyInvalidUnknown;
    }
    size_t shortest = 0, longest = 0;
    switch (encryption_config) {
    case kControllerEncryptionExpressLocal:
    case kControllerEncryptionLocal:
        shortest = 10;
        longest = kEncryptionLocalKeyFieldSize;
        break;
    case kControllerEncryptionRemote:
        shortest = 1;
        longest = kEncryptionKeyNameFieldSize - 1;
        break;
    default: return kCheckEncryptionMasterKeyInvalidEncryptionConfig;
    }
    const size_t length = strnlen(key_buffer, buffer_size);
    VK_BYTE result = kCheckEncryptionMasterKeyOk;
    if (length < shortest) {
        result |= kCheckEncryptionMasterKeyTooShort;
    } else if (length > longest) {
        result |= kCheckEncryptionMasterKeyTooLong;
    }
    if (!telmar::PrintableText(key_buffer, length, ' ')) {
        result |= kCheckEncryptionMasterKeyInvalidChar;
    }
    return result;
}

VK_BYTE VK_CheckEncryptionRecoveryQuestion(PCDA cda, const char* recovery_buffer, VK_WORD buffer_size) {
    (void)cda;
    return CheckRecoveryText(recovery_buffer, buffer_size, 16, kEncryptionQuestionFieldSize);
}

VK_BYTE VK_CheckEncryptionRecoveryAnswer(PCDA cda, const char* recovery_buffer, VK_WORD buffer_size) {
    (void)cda;
    return CheckRecoveryText(recovery_buffer, buffer_size, 16, kEncryptionAnswerFieldSize);
}

VK_BYTE VK_CheckEncryptionBootPassword(PCDA cda, const char* password_buffer, VK_WORD buffer_size) {
    CDALock guard(cda);
    if (password_buffer == nullptr) {
        return kCheckBootPasswordFailedNull;
    }
    if (buffer_size > 32) {
        return kCheckBootPasswordFailedTooLong;
    }
    if (buffer_size <= 7) {
        return kCheckBootPasswordFailedTooShort;
    }
    // Every byte of the size counts, a NUL included: the controller compares all of them.
    return telmar::PrintableText(password_buffer, buffer_size, ' ') ? kCheckBootPasswordOk
                                                                    : kCheckBootPasswordFailedInvalidChar;
}

bool telmar::FillUnlockRequest(ENCRYPTION_UNLOCK_VOLUMES& request, const char* boot_password, size_t size) {
    if (size > sizeof(request.bBootPassword) || (boot_password == nullptr && size != 0)) {
        return false;
    }
    request.bCount = 1;
    // Unchanged, byte for byte: the NUL too when the size counts it.
    if (size != 0) {
        std::memcpy(request.bBootPassword, boot_password, size);
    }
    return true;
}

void telmar::FillImportRequest(ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT& request, VK_BYTE user, const char* password,
                               size_t password_size, const char* foreign_key, size_t foreign_key_size) {
    CopyCredential(request.bPassword, password, password_size);
    request.dwRole = RequestRole(user);
    CopyCredential(request.bKeyName, foreign_key, foreign_key_size);
}

// ---- Random credentials --------------------------------------------------------------------------

bool telmar::RandomBytes(void* buffer, size_t size) {
    auto* out = static_cast<VK_BYTE*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        out += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

namespace {

// Fills `out` with `count` characters from `lowest` to 126, each equally likely: random bytes that
// fall outside a whole number of alphabet lengths are drawn again rather than folded in.
bool RandomCharacters(char* out, size_t count, VK_BYTE lowest) {
    const unsigned alphabet = 127u - lowest;
    const unsigned limit = 256u - 256u % alphabet;
    VK_BYTE pool[64];
    size_t filled = 0;
    bool ok = true;
    while (ok && filled < count) {
        // Ask for what is still missing: most draws are kept, so this rarely needs a second call.
        const size_t want = std::min(sizeof(pool), count - filled);
        ok = telmar::RandomBytes(pool, want);
        for (size_t i = 0; ok && i < want; ++i) {
            if (pool[i] < limit) {
                out[filled++] = static_cast<char>(lowest + pool[i] % alphabet);
            }
        }
    }
    explicit_bzero(pool, sizeof(pool));
    return ok;
}

// A credential of `length` characters in a zeroed buffer, or a zeroed buffer and NULL when the random
// source fails.
char* RandomCredential(char* buffer, size_t buffer_size, size_t length) {
    std::memset(buffer, 0, buffer_size);
    if (!RandomCharacters(buffer, length, ' ')) {
        explicit_bzero(buffer, buffer_size);
        PN_DebugLog(1, 0, "%s:%d: Random source failed\n", __FILE__, __LINE__);
        return nullptr;
    }
    return buffer;
}

} // namespace

char* __VK_GenerateRandomPassword(PCDA cda, char* password_buffer, size_t buffer_size) {
    if (password_buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'password_buffer' failed: Invalid NULL buffer for password.\n", __func__,
                    __LINE__);
        return password_buffer;
    }
    if (buffer_size < kEncryptionRandomPasswordLength) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'buffer_size >= kEncryptionRandomPasswordLength' failed: The buffer size for "
                    "random password must be at least %u.\n",
                    __func__, __LINE__, kEncryptionRandomPasswordLength);
        return password_buffer;
    }
    do {
        std::memset(password_buffer, 0, buffer_size);
        // Space is no password character: 33 to 126.
        if (!RandomCharacters(password_buffer, kEncryptionRandomPasswordLength, '!')) {
            explicit_bzero(password_buffer, buffer_size);
            PN_DebugLog(1, 0, "%s:%d: Random source failed\n", __FILE__, __LINE__);
            return nullptr;
        }
    } while (VK_CheckEncryptionPassword(cda, password_buffer, kEncryptionRandomPasswordLength) !=
             kCheckEncryptionPasswordOk);
    return password_buffer;
}

char* __VK_GenerateRandomKeyname(char* keyname_buffer, size_t buffer_size) {
    if (keyname_buffer == nullptr) {
        return keyname_buffer;
    }
    if (buffer_size < kEncryptionRandomKeyLength) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'buffer_size >= kEncryptionRandomKeyLength' failed: The buffer size for master "
                    "key must be at least %u.\n",
                    __func__, __LINE__, kEncryptionRandomKeyLength);
        return keyname_buffer;
    }
    return RandomCredential(keyname_buffer, buffer_size, kEncryptionRandomKeyLength);
}

char* __VK_GenerateRandomAnswer(char* answer_buffer, size_t buffer_size) {
    if (answer_buffer == nullptr) {
        return answer_buffer;
    }
    if (buffer_size < kEncryptionRandomAnswerLength) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'buffer_size >= kEncryptionRandomAnswerLength' failed: The buffer size for "
                    "random answer must be at least %u.\n",
                    __func__, __LINE__, kEncryptionRandomAnswerLength);
        return answer_buffer;
    }
    return RandomCredential(answer_buffer, buffer_size, kEncryptionRandomAnswerLength);
}

// ---- Request builders ----------------------------------------------------------------------------

namespace {

// Sends one 0x1E write request. The caller wipes it.
template <class Request> bool SendRequest(PCDA cda, VK_DWORD function, Request& request) {
    return _VK_BMICHelperWriteBuffer(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION, function, 0, &request,
                                     sizeof(request)) != kFalse;
}

// The same with sense; true when the write went through and the controller answered GOOD.
template <class Request> bool SendRequestWithSense(PCDA cda, VK_DWORD function, Request& request, VK_BYTE* status) {
    ScsiCommandSenseData sense = {};
    const bool sent = _VK_BMICHelperWriteBufferWithSense(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION, function,
                                                         0, &request, sizeof(request), &sense) != kFalse;
    if (status != nullptr) {
        *status = sense.scsi_status;
    }
    return sent;
}

// Requests that begin with a login (password, role) and end with one more 32-bit field.
template <class Request>
bool SendLoginAndAction(PCDA cda, VK_DWORD function, VK_DWORD role, const char* password, size_t password_size,
                        VK_DWORD action) {
    telmar::WipedRequest<Request> request;
    telmar::CopyCredential(request.r.bPassword, password, password_size);
    request.r.dwRole = role;
    request.r.dwAction = action;
    return SendRequest(cda, function, request.r);
}

} // namespace

VK_BOOL _VK_SetEncryptionPassword(PCDA cda, VK_DWORD role, const char* password, size_t password_size,
                                  VK_DWORD login_role, const char* login_password, size_t login_password_size) {
    if (password == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Missing password", __FILE__, __LINE__);
        return kFalse;
    }
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_PASSWORD> request;
    telmar::CopyCredential(request.r.bNewPassword, password, password_size);
    request.r.dwMyRole = role;
    request.r.dwRoleToChange = role;
    // Without a login the request carries no password of its own: the first crypto officer's is set so.
    if (login_password != nullptr) {
        request.r.dwMyRole = login_role;
        telmar::CopyCredential(request.r.bMyPassword, login_password, login_password_size);
    }
    if (!SendRequest(cda, kEncryptionFunctionSetPassword, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set random password failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionRecoveryQuestionAndAnswer(PCDA cda, VK_DWORD role, const char* password,
                                                   size_t password_size, const char* question, size_t question_size,
                                                   const char* answer, size_t answer_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_PASSWORD_RECOVERY_PARAMS> request;
    telmar::CopyCredential(request.r.bPassword, password, password_size);
    request.r.dwRole = role;
    telmar::CopyCredential(request.r.bQuestion, question, question_size);
    telmar::CopyCredential(request.r.bAnswer, answer, answer_size);
    if (!SendRequest(cda, kEncryptionFunctionSetRecoveryParams, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set recovery params failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionBootPassword(PCDA cda, VK_DWORD role, const char* login_password,
                                      size_t login_password_size, const char* boot_password,
                                      size_t boot_password_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_BOOT_PASSWORD> request;
    telmar::CopyCredential(request.r.bPassword, login_password, login_password_size);
    request.r.dwRole = role;
    telmar::CopyCredential(request.r.bBootPassword, boot_password, boot_password_size);
    if (!SendRequest(cda, kEncryptionFunctionSetBootPassword, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set boot password failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionBootPasswordState(PCDA cda, VK_DWORD role, const char* login_password,
                                           size_t login_password_size, VK_BYTE state) {
    VK_DWORD function = 0;
    switch (state) {
    case kEncryptionBootPasswordUnset: function = kEncryptionFunctionRemoveBootPassword; break;
    case kEncryptionBootPasswordDisabled: function = kEncryptionFunctionSuspendBootPassword; break;
    case kEncryptionBootPasswordEnabled: function = kEncryptionFunctionResumeBootPassword; break;
    default: break;
    }
    if (cda == nullptr || function == 0) {
        PN_DebugLog(1, 0, "%s:%d:   Set boot password state failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_BOOT_PASSWORD> request;
    telmar::CopyCredential(request.r.bPassword, login_password, login_password_size);
    request.r.dwRole = role;
    if (!SendRequest(cda, function, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set boot password state failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionKeyCache(PCDA cda, VK_DWORD role, const char* login_password, size_t login_password_size,
                                  VK_BOOL enable_local_key_cache, VK_BOOL enable_persistent_key_cache,
                                  VK_WORD retry_attempts, VK_WORD attempt_interval_minutes) {
    if (cda == nullptr) {
        return kFalse;
    }
    // The control word keeps the controller's other bits: read them fresh, never from the cache.
    ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES attributes = {};
    ScsiCommandSenseData sense = {};
    if (!_VK_BMICHelperReadBufferWithSense(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION,
                                           kEncryptionFunctionKeyCacheAttributes, 0, &attributes, sizeof(attributes),
                                           &sense) ||
        sense.scsi_status == kScsiStatusCheckCondition) {
        PN_DebugLog(1, 0, "%s:%d:   Set key cache failed on sense.\n", __FILE__, __LINE__);
        return kFalse;
    }
    const telmar::ByteView reply(&attributes, sizeof(attributes));
    VK_DWORD control = reply.le32(offsetof(ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES, flags)).value_or(0);
    control = enable_local_key_cache ? (control | kEncryptionKeyCacheOn) : 0;
    control = enable_persistent_key_cache ? (control | kEncryptionKeyCachePersistent)
                                          : (control & ~kEncryptionKeyCachePersistent);
    telmar::WipedRequest<ENCRYPTION_LOCAL_KEK_CACHE> request;
    telmar::CopyCredential(request.r.bPassword, login_password, login_password_size);
    request.r.dwRole = role;
    request.r.dwControl = control;
    request.r.wRetryAttempts = retry_attempts;
    request.r.wRetryInterval = attempt_interval_minutes;
    if (!SendRequest(cda, kEncryptionFunctionSetKeyCache, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set key cache failed on set.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionKey(PCDA cda, VK_DWORD role, const char* password, size_t password_size, const char* key,
                             size_t key_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_LOCAL_KEK> request;
    telmar::CopyCredential(request.r.bPassword, password, password_size);
    request.r.dwRole = role;
    telmar::CopyCredential(request.r.bLocalKEK, key, key_size);
    if (!SendRequest(cda, kEncryptionFunctionSetLocalKek, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Set local master key failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetIkekEncryptionKey(PCDA cda, VK_DWORD role, const char* password, size_t password_size,
                                 const char* key, size_t key_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    const bool remote_key_set = (VK_GetControllerEncryptionStatus(cda) & kControllerEncryptionRemoteKekSet) != 0;
    {
        telmar::WipedRequest<ENCRYPTION_IKEK> request;
        telmar::CopyCredential(request.r.bPassword, password, password_size);
        request.r.dwRole = role;
        telmar::CopyCredential(request.r.bIKEK, key, key_size);
        if (!SendRequest(cda, kEncryptionFunctionSetIkek, request.r)) {
            PN_DebugLog(1, 0, "%s:%d:   Set remote master key failed.\n", __FILE__, __LINE__);
            return kFalse;
        }
    }
    // With UEFI key management the controller obtains the key later, on its own.
    if (VK_ControllerSupportsUEFIKMS(cda)) {
        return kTrue;
    }
    VK_BYTE ikek = 0, ikek_reset = 0;
    for (unsigned poll = 0; poll < kEncryptionIkekPolls; ++poll) {
        ENCRYPTION_IKEK_STATUS status = {};
        if (_VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION, kEncryptionFunctionIkekStatus,
                                     0, &status, sizeof(status))) {
            const telmar::IkekPoll judged = telmar::JudgeIkekStatus(telmar::ByteView(&status, sizeof(status)),
                                                                    remote_key_set, ikek, ikek_reset);
            if (judged == telmar::IkekPoll::Obtained) {
                return kTrue;
            }
            if (judged == telmar::IkekPoll::NotFound) {
                break;
            }
        }
        PN_Sleep(kEncryptionIkekPollMilliseconds);
    }
    PN_DebugLog(1, 0,
                "%s:%d:   Set remote encryption key failed; ikek_status.bIkek:%u, is_remote_kek_set:%d, "
                "ikek_status.bIkekReset:%u\n",
                __FILE__, __LINE__, ikek, remote_key_set ? 1 : 0, ikek_reset);
    return kFalse;
}

VK_BOOL _VK_SetEncryptionKeyManagementMode(PCDA cda, VK_DWORD role, VK_DWORD mode, const char* password,
                                           size_t password_size) {
    if (cda == nullptr ||
        !SendLoginAndAction<ENCRYPTION_SET_MODE>(cda, kEncryptionFunctionSetMode, role, password, password_size, mode)) {
        PN_DebugLog(1, 0, "%s:%d:   Set key mgmt mode failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetEncryptionUnlockFirmware(PCDA cda, VK_DWORD role, VK_DWORD action, const char* password,
                                        size_t password_size) {
    if (cda == nullptr || !SendLoginAndAction<ENCRYPTION_LOCK_FIRMWARE>(cda, kEncryptionFunctionLockFirmware, role,
                                                                        password, password_size, action)) {
        PN_DebugLog(1, 0, "%s:%d:   Unlock fw failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL __VK_RekeyDevice(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password, size_t password_size,
                         VK_DWORD key_type, VK_DWORD drive_type) {
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_REKEY> request;
    telmar::CopyCredential(request.r.bPassword, password, password_size);
    request.r.dwRole = role;
    request.r.dwKeyType = key_type;
    request.r.dwIndex = ld_number;
    request.r.dwDriveType = drive_type;
    if (!SendRequest(cda, kEncryptionFunctionRekey, request.r)) {
        PN_DebugLog(1, 0, "%s:%d:   Rekey device failed.\n", __FILE__, __LINE__);
        return kFalse;
    }
    return kTrue;
}

VK_BOOL _VK_SetLogicalVolumeToPlainText(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size) {
    return __VK_RekeyDevice(cda, role, ld_number, password, password_size, kEncryptionRekeyToPlaintext, 0);
}

VK_BOOL _VK_SetLogicalVolumeToEncrypted(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size) {
    return __VK_RekeyDevice(cda, role, ld_number, password, password_size, kEncryptionRekeyToEncrypted, 0);
}

VK_BOOL _VK_EncodeLogicalVolume(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                size_t password_size) {
    return __VK_RekeyDevice(cda, role, ld_number, password, password_size, kEncryptionRekeyEncode, 0);
}

VK_BOOL _VK_RekeyLogicalVolumeAndPreserveData(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                              size_t password_size) {
    return __VK_RekeyDevice(cda, role, ld_number, password, password_size, kEncryptionRekeyPreserveData, 0);
}

VK_BOOL __VK_SetEncryptionDriveOptions(PCDA cda, VK_WORD ld_number, VK_WORD feature, VK_WORD option,
                                       VK_DWORD drive_type, VK_DWORD role, const char* password,
                                       size_t password_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    telmar::WipedRequest<ENCRYPTION_DRIVE_FEATURES> request;
    telmar::CopyCredential(request.r.bPassword, password, password_size);
    request.r.dwRole = role;
    request.r.wFeature = feature;
    request.r.wOption = option;
    request.r.dwDriveNumber = ld_number;
    request.r.dwDriveType = drive_type;
    VK_BYTE status = 0;
    return SendRequestWithSense(cda, kEncryptionFunctionDriveFeatures, request.r, &status) && status == 0 ? kTrue
                                                                                                          : kFalse;
}

VK_BOOL _VK_SetLogicalDriveVolatileKeys(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size, VK_BOOL volatile_key, VK_BOOL volatile_key_backup) {
    if (cda == nullptr) {
        return kFalse;
    }
    // The live state, not the cached record: the request must only change what differs now.
    pavlin::TrackedBuffer status_reply = PN_TRACKED_ZEROED(sizeof(LOGICAL_DRIVE_STATUS));
    ScsiCommandSenseData sense = {};
    bool success = status_reply.get() != nullptr &&
                   _VK_BMICHelperReadBufferWithSense(_VK_CDA(cda)->controller_handle, BMIC_SENSE_LOGICAL_DRIVE_STATUS,
                                                     0, ld_number, status_reply.get(), sizeof(LOGICAL_DRIVE_STATUS),
                                                     &sense) &&
                   sense.scsi_status == 0;
    if (!success) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to get current volatile key settings for ld %u\n",
                    __func__, __LINE__, ld_number);
        return kFalse;
    }
    const VK_BYTE flags = telmar::ByteView(status_reply.get(), sizeof(LOGICAL_DRIVE_STATUS))
                              .u8(offsetof(LOGICAL_DRIVE_STATUS, bAdditionalEncryptionFlags))
                              .value_or(0);
    const bool key_now = (flags & 0x1) != 0;
    const bool backup_now = (flags & 0x2) != 0;
    const bool want_key = volatile_key != kFalse;
    const bool want_backup = volatile_key_backup != kFalse;
    if (want_key && want_backup && !key_now) {
        success = __VK_SetEncryptionDriveOptions(cda, ld_number, kEncryptionDriveFeatureVolatileKeyBackup,
                                                 kEncryptionVolatileKeySetAndBackup, 0, role, password,
                                                 password_size) != kFalse;
        if (!success) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to set & backup volatile keys for ld %u\n",
                        __func__, __LINE__, ld_number);
        }
        return success ? kTrue : kFalse;
    }
    if (want_key != key_now) {
        success = __VK_SetEncryptionDriveOptions(cda, ld_number, kEncryptionDriveFeatureVolatileKey,
                                                 want_key ? kEncryptionVolatileKeyEnable : kEncryptionVolatileKeyDisable,
                                                 0, role, password, password_size) != kFalse;
        if (!success) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to %s volatile keys for ld %u\n", __func__,
                        __LINE__, want_key ? "enable" : "disable", ld_number);
        }
    }
    if (success && want_key && want_backup != backup_now) {
        success = __VK_SetEncryptionDriveOptions(
                      cda, ld_number, kEncryptionDriveFeatureVolatileKeyBackup,
                      want_backup ? kEncryptionVolatileKeyBackupEnable : kEncryptionVolatileKeyBackupDisable, 0, role,
                      password, password_size) != kFalse;
        if (!success) {
            PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to %s volatile key backup for ld %u\n",
                        __func__, __LINE__, want_backup ? "enable" : "disable", ld_number);
        }
    }
    return success ? kTrue : kFalse;
}

// ---- Direct operations on the controller ---------------------------------------------------------

namespace {

using telmar::StringSize;

// The rules take 16-bit sizes; a larger size is still bounded by the rule's own longest length.
VK_WORD RuleSize(size_t size) {
    return static_cast<VK_WORD>(std::min<size_t>(size, 0xFFFF));
}

bool OfaRunning(PCDA cda) {
    return _VK_IsControllerOnlineFirmwareActivationRunning(cda, kFalse) != kFalse;
}

bool FeatureEnabled(PCDA cda, VK_QWORD feature) {
    return (VK_GetControllerEncryptionEnabledFeatures(cda) & feature) != 0;
}

bool RoleCan(PCDA cda, VK_BYTE user, VK_DWORD capability) {
    return user <= kControllerEncryptionCryptoUser && (VK_GetEncryptionUserCapabilities(cda, user) & capability) != 0;
}

// The login step of the permission checks: a NULL password asks nothing and passes; an empty one
// is refused with `empty_code`; a wrong one with `wrong_code`.
VK_BYTE CheckLogin(PCDA cda, VK_BYTE user, const char* password, size_t password_size, VK_BYTE empty_code,
                   VK_BYTE wrong_code) {
    if (password == nullptr) {
        return 1;
    }
    if (password_size == 0) {
        return empty_code;
    }
    return VK_VerifyEncryptionPasswordSafe(cda, user, password, password_size) ? 1 : wrong_code;
}

bool HasCredential(const char* text, size_t size) {
    return text != nullptr && size != 0;
}

VK_BYTE UnitStatus(PCDA cda, VK_WORD ld_number) {
    return static_cast<VK_BYTE>(VK_GetLogicalDriveStatusInfo(cda, ld_number) & 0xFF);
}

VK_BYTE DriveType(PCDA cda, VK_WORD ld_number) {
    return static_cast<VK_BYTE>(VK_GetLogicalDriveBasicInfo(cda, ld_number) & kLogicalDriveTypeMask);
}

// Whether the LU cache drive in front of `ld_number` has failed (false without one).
bool LUCacheFailed(PCDA cda, VK_WORD ld_number) {
    const VK_WORD cache = VK_GetLogicalDriveLUCacheNumber(cda, ld_number);
    return cache != kInvalidLDNumber && UnitStatus(cda, cache) == kLogicalDriveUnitStatus1Failed;
}

} // namespace

VK_BYTE VK_CanClearEncryptionConfigurationSafe(PCDA cda, const char* master_key, size_t master_key_size) {
    if (cda == nullptr) {
        return kCanClearEncryptionConfigurationNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsEncryption(cda)) {
        return kCanClearEncryptionConfigurationNotSupported;
    }
    if (OfaRunning(cda)) {
        return kCanClearEncryptionConfigurationControllerOFAActive;
    }
    bool encrypted = false, rekeying = false, encoding = false;
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        const VK_DWORD word = VK_GetLogicalDriveEncryptionInfo(cda, ld);
        encrypted = encrypted || (word & kLogicalDriveEncryptionEnabled);
        rekeying = rekeying || (word & (kLogicalDriveEncryptionReKeyWait | kLogicalDriveEncryptionReKeyRunning));
        encoding = encoding || (word & (kLogicalDriveEncryptionEncodeWait | kLogicalDriveEncryptionEncodeRunning));
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanClearEncryptionConfigurationNotConfigured;
    }
    if (rekeying || encoding) {
        return kCanClearEncryptionConfigurationEncodeOrRekeyInProgress;
    }
    if (encrypted && master_key == nullptr) {
        return kCanClearEncryptionConfigurationLogicalDrivesExist;
    }
    if (!encrypted && master_key != nullptr) {
        return kCanClearEncryptionConfigurationInvalidKey;
    }
    if (master_key != nullptr && master_key_size == 0) {
        return kCanClearEncryptionConfigurationInvalidKeySize;
    }
    if (master_key == nullptr) {
        return kCanClearEncryptionConfigurationAllowed;
    }
    // Express-local keeps its key to itself, so no key can prove the caller knows it.
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status) ||
        VK_CheckEncryptionMasterKey(cda, static_cast<VK_BYTE>(CTRL_ENCRYPTION_MODE(status)), master_key,
                                    RuleSize(master_key_size)) != kCheckEncryptionMasterKeyOk) {
        return kCanClearEncryptionConfigurationInvalidKey;
    }
    return kCanClearEncryptionConfigurationAllowed;
}

VK_BOOL _VK_ClearEncryptionConfiguration(PCDA cda, const char* master_key, size_t master_key_size) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    bool cleared = false;
    {
        telmar::WipedRequest<ENCRYPTION_RETURN_TO_FACTORY> request;
        request.r.dwAction = 1;
        telmar::CopyCredential(request.r.bKEK, master_key, master_key_size);
        cleared = SendRequest(cda, kEncryptionFunctionReturnToFactory, request.r);
    }
    if (cleared) {
        VK_ReInitializeCDA(cda);
    }
    return cleared ? kTrue : kFalse;
}

VK_BOOL VK_ClearEncryptionConfigurationSafe(PCDA cda, const char* master_key, size_t master_key_size) {
    CDALock guard(cda);
    if (VK_CanClearEncryptionConfigurationSafe(cda, master_key, master_key_size) !=
        kCanClearEncryptionConfigurationAllowed) {
        return kFalse;
    }
    return _VK_ClearEncryptionConfiguration(cda, master_key, master_key_size);
}

VK_BYTE VK_CanClearEncryptionConfiguration(PCDA cda, const char* master_key) {
    return VK_CanClearEncryptionConfigurationSafe(cda, master_key, StringSize(master_key));
}

VK_BOOL VK_ClearEncryptionConfiguration(PCDA cda, const char* master_key) {
    return VK_ClearEncryptionConfigurationSafe(cda, master_key, StringSize(master_key));
}

VK_BYTE VK_CanRekeyControllerSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size) {
    if (cda == nullptr) {
        return kCanRekeyControllerEncryptionNotConfigured;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanRekeyControllerOFAActive;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanRekeyControllerEncryptionNotConfigured;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status) || CTRL_ENCRYPTION_IS_LOCAL(status)) {
        return kCanRekeyControllerNotRemoteKeyManager;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanRekeyControllerEncryptionNotEnabled;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureDriveRekey)) {
        return kCanRekeyControllerNotEnabled;
    }
    if (!RoleCan(cda, user, kEncryptionUserCapabilityRekey)) {
        return kCanRekeyControllerPermissionDenied;
    }
    if (status & kControllerEncryptionMissingBootPassword) {
        return kCanRekeyControllerLockout;
    }
    VK_BYTE code = CheckLogin(cda, user, password, password_size, kCanRekeyControllerInvalidPasswordSize,
                              kCanRekeyControllerLoginFailed);
    bool encrypted = false;
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber);
         code == kCanRekeyControllerAllowed && ld != kInvalidLDNumber; ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        const VK_DWORD word = VK_GetLogicalDriveEncryptionInfo(cda, ld);
        if (!(word & kLogicalDriveEncryptionEnabled)) {
            continue;
        }
        encrypted = true;
        const VK_BYTE unit = UnitStatus(cda, ld);
        const VK_BYTE type = DriveType(cda, ld);
        const VK_WORD cache = VK_GetLogicalDriveLUCacheNumber(cda, ld);
        if (unit == kLogicalDriveUnitStatus1Failed) {
            code = kCanRekeyControllerEncryptedLogicalDriveFailed;
        } else if (unit == kLogicalDriveUnitStatus18RPIInProgress) {
            code = kCanRekeyControllerEncryptedLogicalDriveIsInitializing;
        } else if (type == kLogicalDriveTypeSplitMirrorSetPrimary || type == kLogicalDriveTypeSplitMirrorSetBackup ||
                   type == kLogicalDriveTypeSplitMirrorSetBackupOrphan) {
            code = kCanRekeyControllerEncryptedLogicalDriveIsSplitMirror;
        } else if (LUCacheFailed(cda, ld)) {
            code = kCanRekeyControllerEncryptedLogicalDriveHasFailedCachingVolume;
        } else if (cache == kInvalidLDNumber && VOLATILE_KEY_ENABLED(word)) {
            code = kCanRekeyControllerEncryptedLogicalDriveHasVolatileKeys;
        }
    }
    if (code == kCanRekeyControllerAllowed && !encrypted) {
        return kCanRekeyControllerNoEncryptedLogicalDrives;
    }
    return code;
}

VK_BYTE VK_RekeyControllerSafe(PCDA cda, VK_BYTE user, const char* password, size_t password_size) {
    CDALock guard(cda);
    if (!HasCredential(password, password_size) ||
        VK_CanRekeyControllerSafe(cda, user, password, password_size) != kCanRekeyControllerAllowed) {
        return kRekeyControllerFailed;
    }
    const VK_BOOL rekeyed = __VK_RekeyDevice(cda, telmar::RequestRole(user), 0, password, password_size,
                                             kEncryptionRekeyController, 0);
    VK_ReInitializeCDA(cda);
    return rekeyed ? kRekeyControllerOK : kRekeyControllerFailed;
}

VK_BYTE VK_CanRekeyController(PCDA cda, VK_BYTE user, const char* password) {
    return VK_CanRekeyControllerSafe(cda, user, password, StringSize(password));
}

VK_BYTE VK_RekeyController(PCDA cda, VK_BYTE user, const char* password) {
    return VK_RekeyControllerSafe(cda, user, password, StringSize(password));
}

VK_BYTE VK_CanImportForeignEncryptionKeySafe(PCDA cda, const char* foreign_key, size_t foreign_key_size, VK_BYTE user,
                                             const char* password, size_t password_size) {
    if (user > kControllerEncryptionCryptoUser) {
        return kCanImportForeignKeyInvalidUser;
    }
    if (cda == nullptr) {
        return kCanImportForeignKeyEncryptionNotConfigured;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanImportForeignKeyControllerOFAActive;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureImportForeignKeys)) {
        return kCanImportForeignKeyNotEnabled;
    }
    if (!RoleCan(cda, user, kEncryptionUserCapabilityForeignLocalKekImport)) {
        return kCanImportForeignKeyPermissionDenied;
    }
    const VK_BYTE login = CheckLogin(cda, user, password, password_size, kCanImportForeignKeyInvalidPasswordSize,
                                     kCanImportForeignKeyLoginFailed);
    if (login != kCanImportForeignKeyAllowed) {
        return login;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (foreign_key != nullptr && foreign_key_size == 0) {
        return kCanImportForeignKeyInvalidForeignKeySize;
    }
    if (foreign_key != nullptr &&
        VK_CheckEncryptionMasterKey(cda, static_cast<VK_BYTE>(CTRL_ENCRYPTION_MODE(status)), foreign_key,
                                    RuleSize(foreign_key_size)) != kCheckEncryptionMasterKeyOk) {
        return kCanImportForeignKeyInvalidKey;
    }
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanImportForeignKeyEncryptionNotConfigured;
    }
    if (!CTRL_ENCRYPTION_IS_LOCAL(status)) {
        return kCanImportForeignKeyNotLocalKeyManager;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanImportForeignKeyEncryptionNotEnabled;
    }
    if (status & kControllerEncryptionControllerLocked) {
        return kCanImportForeignKeyControllerLockout;
    }
    if (status & kControllerEncryptionSelfTestFailed) {
        return kCanImportForeignKeyControllerFailedSelfTest;
    }
    for (VK_WORD ld = VK_EnumerateControllerLogicalDrives(cda, kInvalidLDNumber); ld != kInvalidLDNumber;
         ld = VK_EnumerateControllerLogicalDrives(cda, ld)) {
        if (VK_GetLogicalDriveEncryptionInfo(cda, ld) & kLogicalDriveEncryptionKeyWait) {
            return kCanImportForeignKeyAllowed;
        }
    }
    return kCanImportForeignKeyNoLogicalDrivesOffline;
}

VK_BYTE VK_ImportForeignEncryptionKeySafe(PCDA cda, const char* foreign_key, size_t foreign_key_size, VK_BYTE user,
                                          const char* password, size_t password_size) {
    if (password == nullptr) {
        return kImportForeignEncryptionKeyFailedNullPassword;
    }
    if (!HasCredential(foreign_key, foreign_key_size)) {
        return kImportForeignEncryptionKeyFailed;
    }
    CDALock guard(cda);
    if (VK_CanImportForeignEncryptionKeySafe(cda, foreign_key, foreign_key_size, user, password, password_size) !=
        kCanImportForeignKeyAllowed) {
        return kImportForeignEncryptionKeyFailed;
    }
    bool imported = false;
    {
        telmar::WipedRequest<ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT> request;
        telmar::FillImportRequest(request.r, user, password, password_size, foreign_key, foreign_key_size);
        VK_BYTE scsi_status = 0;
        imported = SendRequestWithSense(cda, kEncryptionFunctionImportForeignKey, request.r, &scsi_status) &&
                   scsi_status != kScsiStatusCheckCondition;
    }
    VK_ReInitializeCDA(cda);
    return imported ? kImportForeignEncryptionKeyOK : kImportForeignEncryptionKeyFailed;
}

VK_BYTE VK_CanImportForeignEncryptionKey(PCDA cda, const char* foreign_key, VK_BYTE user, const char* password) {
    return VK_CanImportForeignEncryptionKeySafe(cda, foreign_key, StringSize(foreign_key), user, password,
                                                StringSize(password));
}

VK_BYTE VK_ImportForeignEncryptionKey(PCDA cda, const char* foreign_key, VK_BYTE user, const char* password) {
    return VK_ImportForeignEncryptionKeySafe(cda, foreign_key, StringSize(foreign_key), user, password,
                                             StringSize(password));
}

VK_BYTE VK_CanResetEncryptionPasswordSafe(PCDA cda, const char* answer, size_t answer_size, const char* new_password,
                                          size_t new_password_size) {
    if (cda == nullptr) {
        return kCanResetEncryptionPasswordEncryptionNotSupported;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanResetEncryptionPasswordControllerOFAActive;
    }
    if (!VK_ControllerSupportsEncryption(cda)) {
        return kCanResetEncryptionPasswordEncryptionNotSupported;
    }
    if (!FeatureEnabled(cda, kEncryptionFeaturePasswordRecovery)) {
        return kCanResetEncryptionPasswordNotEnabled;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanResetEncryptionPasswordEncryptionNotConfigured;
    }
    if (!(status & kControllerEncryptionCryptoOfficerRecoverySet)) {
        return kCanResetEncryptionPasswordEncryptionRecoveryNotSet;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status)) {
        return kCanResetEncryptionPasswordExpressEncryption;
    }
    if (answer != nullptr && answer_size == 0) {
        return kCanResetEncryptionPasswordInvalidAnswerSize;
    }
    if (VK_CheckEncryptionRecoveryAnswer(cda, answer, RuleSize(answer_size)) != kCheckRecoveryAnswerOk) {
        return kCanResetEncryptionPasswordInvalidAnswer;
    }
    if (new_password == nullptr) {
        return kCanResetEncryptionPasswordAllowed;
    }
    if (new_password_size == 0) {
        return kCanResetEncryptionPasswordInvalidPasswordSize;
    }
    if (VK_CheckEncryptionPassword(cda, new_password, RuleSize(new_password_size)) != kCheckEncryptionPasswordOk) {
        return kCanResetEncryptionPasswordInvalidPassword;
    }
    return kCanResetEncryptionPasswordAllowed;
}

VK_BOOL VK_ResetEncryptionPasswordSafe(PCDA cda, const char* answer, size_t answer_size, const char* new_password,
                                       size_t new_password_size) {
    if (!HasCredential(answer, answer_size) || !HasCredential(new_password, new_password_size)) {
        return kFalse;
    }
    CDALock guard(cda);
    if (VK_CanResetEncryptionPasswordSafe(cda, answer, answer_size, new_password, new_password_size) !=
        kCanResetEncryptionPasswordAllowed) {
        return kFalse;
    }
    bool reset = false;
    {
        telmar::WipedRequest<ENCRYPTION_PASSWORD_RECOVERY_PARAMS_CHECK> request;
        telmar::CopyCredential(request.r.bAnswer, answer, answer_size);
        telmar::CopyCredential(request.r.bNewPassword, new_password, new_password_size);
        VK_BYTE scsi_status = 0;
        reset = SendRequestWithSense(cda, kEncryptionFunctionCheckRecoveryParams, request.r, &scsi_status) &&
                scsi_status != kScsiStatusCheckCondition;
    }
    if (!reset) {
        PN_DebugLog(1, 0, "%s:%d: Password recovery failed.\n", __FILE__, __LINE__);
    }
    VK_ReInitializeCDA(cda);
    return reset ? kTrue : kFalse;
}

VK_BYTE VK_CanResetEncryptionPassword(PCDA cda, const char* answer, const char* new_password) {
    return VK_CanResetEncryptionPasswordSafe(cda, answer, StringSize(answer), new_password, StringSize(new_password));
}

VK_BOOL VK_ResetEncryptionPassword(PCDA cda, const char* answer, const char* new_password) {
    return VK_ResetEncryptionPasswordSafe(cda, answer, StringSize(answer), new_password, StringSize(new_password));
}

VK_BYTE VK_CanRescanEncryptionRemoteKeys(PCDA cda) {
    if (cda == nullptr) {
        return kCanRescanEncryptionRemoteKeysEncryptionNotConfigured;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanRescanEncryptionRemoteKeysControllerOFAActive;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanRescanEncryptionRemoteKeysEncryptionNotConfigured;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status) || CTRL_ENCRYPTION_IS_LOCAL(status)) {
        return kCanRescanEncryptionRemoteKeysRemoteKeysNotConfigured;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanRescanEncryptionRemoteKeysEncryptionNotEnabled;
    }
    if (status & kControllerEncryptionControllerLocked) {
        return kCanRescanEncryptionRemoteKeysControllerLocked;
    }
    if (status & kControllerEncryptionSelfTestFailed) {
        return kCanRescanEncryptionRemoteKeysControllerFailedSelfTest;
    }
    if (VK_ControllerSupportsUEFIKMS(cda)) {
        return kCanRescanEncryptionRemoteKeysNotSupportedWithUEFIKMS;
    }
    return kCanRescanEncryptionRemoteKeysAllowed;
}

VK_BOOL VK_RescanEncryptionRemoteKeys(PCDA cda) {
    CDALock guard(cda);
    if (VK_CanRescanEncryptionRemoteKeys(cda) != kCanRescanEncryptionRemoteKeysAllowed) {
        return kFalse;
    }
    ENCRYPTION_RESCAN_KEYS request = {};
    VK_BYTE scsi_status = 0;
    const bool rescanned =
        SendRequestWithSense(cda, kEncryptionFunctionRescanKeys, request, &scsi_status) && scsi_status == 0;
    VK_ReInitializeCDA(cda);
    return rescanned ? kTrue : kFalse;
}

VK_BYTE VK_CanUnlockController(PCDA cda, const char* boot_password, size_t boot_password_size) {
    if (cda == nullptr) {
        return kCanUnlockControllerEncryptionNotSupported;
    }
    CDALock guard(cda);
    const VK_DWORD controller_status = VK_GetControllerStatusInfo(cda);
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    const VK_QWORD password_status = VK_GetEncryptionPasswordStatus(cda, kControllerEncryptionCryptoOfficer);
    if (!VK_ControllerSupportsEncryption(cda)) {
        return kCanUnlockControllerEncryptionNotSupported;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureBootPassword)) {
        return kCanUnlockControllerBootPasswordNotSupported;
    }
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanUnlockControllerEncryptionNotConfigured;
    }
    if (OfaRunning(cda)) {
        return kCanUnlockControllerOFAActive;
    }
    if (CONTROLLER_STATUS(controller_status) != kControllerStatusOK) {
        return kCanUnlockControllerControllerStatusNotOK;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanUnlockControllerEncryptionNotEnabled;
    }
    if (!(status & kControllerEncryptionBootPasswordSet)) {
        return kCanUnlockControllerBootPasswordNotSet;
    }
    if (!(status & kControllerEncryptionControllerLocked)) {
        return kCanUnlockControllerControllerNotLocked;
    }
    if (VERIFY_PASSWORD_ATTEMPTS_REMAINING(password_status) == 0) {
        return kCanUnlockControllerNoUnlockAttemptsRemaining;
    }
    const VK_WORD length =
        boot_password == nullptr ? 0 : RuleSize(strnlen(boot_password, std::min<size_t>(boot_password_size, 0xFFFF)));
    if (VK_CheckEncryptionBootPassword(cda, boot_password, length) != kCheckBootPasswordOk) {
        return kCanUnlockControllerInvalidBootPassword;
    }
    return kCanUnlockControllerAllowed;
}

VK_BYTE VK_DoUnlockController(PCDA cda, const char* boot_password, size_t boot_password_size) {
    // The request has room for 3,968 bytes; anything longer is refused before the copy.
    if (boot_password_size > kEncryptionUnlockFieldSize) {
        return kDoUnlockControllerFailed;
    }
    CDALock guard(cda);
    if (VK_CanUnlockController(cda, boot_password, boot_password_size) != kCanUnlockControllerAllowed) {
        return kDoUnlockControllerFailed;
    }
    bool unlocked = false;
    {
        telmar::WipedRequest<ENCRYPTION_UNLOCK_VOLUMES> request;
        unlocked = telmar::FillUnlockRequest(request.r, boot_password, boot_password_size) &&
                   SendRequest(cda, kEncryptionFunctionUnlockVolumes, request.r);
    }
    if (!unlocked) {
        return kDoUnlockControllerFailed;
    }
    VK_ReInitializeCDA(cda);
    return kDoUnlockControllerOK;
}

// ---- Direct operations on logical drives ---------------------------------------------------------

namespace {

// A logical drive the array model knows.
bool ValidLogicalDrive(PCDA cda, VK_WORD ld_number) {
    return ld_number < kMaxLogicalDrivesSupported && VK_RequestArrayConfigurationInformation(cda) &&
           (_VK_CDA(cda)->ld_record_list[ld_number].flags & kLDRecordExists);
}

// A rekey that loses the data runs as a transformation: without a charged backup power source the
// controller needs memory of its own (or powerless transformations) to carry it.
bool PowerlessTransformationPossible(PCDA cda) {
    if (VK_GetControllerBackupPowerSourceStatus(cda) == kControllerBackupPowerSourcePresentAndCharged) {
        return true;
    }
    if (!VK_RequestSenseExpansionAbilityBuffer(cda)) {
        return false;
    }
    const pavlin::ByteView reply(&_VK_CDA(cda)->sense_expansion_ability_buffer, sizeof(SENSE_EXPANSION_ABILITY));
    return reply.le32(offsetof(SENSE_EXPANSION_ABILITY, dwExpansionMemorySize)).value_or(0) != 0 ||
           (reply.le32(offsetof(SENSE_EXPANSION_ABILITY, dwSupportFlags)).value_or(0) & 0x20) != 0;
}

} // namespace

VK_BYTE VK_CanRekeyEncryptionVolumeKeySafe(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                           const char* password, size_t password_size) {
    if (cda == nullptr) {
        return kCanRekeyEncryptionVolumeKeyEncryptionInvalidLogicalDrive;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanRekeyEncryptionVolumeKeyControllerOFAActive;
    }
    if (!ValidLogicalDrive(cda, ld_number)) {
        return kCanRekeyEncryptionVolumeKeyEncryptionInvalidLogicalDrive;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureDataRekey)) {
        return kCanRekeyEncryptionVolumeKeyNotEnabled;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanRekeyEncryptionVolumeKeyEncryptionNotConfigured;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanRekeyEncryptionVolumeKeyEncryptionNotEnabled;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status)) {
        return kCanRekeyEncryptionVolumeKeyLocalExpressEncryption;
    }
    if (status & kControllerEncryptionControllerLocked) {
        return kCanRekeyEncryptionVolumeKeyControllerLocked;
    }
    const VK_DWORD word = _VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
    if (!(word & kLogicalDriveEncryptionEnabled)) {
        return kCanRekeyEncryptionVolumeKeyLogicalDriveNotEncrypted;
    }
    if (VOLATILE_KEY_ENABLED(word)) {
        return kCanRekeyEncryptionVolumeKeyVolatileKeysEnabled;
    }
    if (DriveType(cda, ld_number) != kLogicalDriveTypeData) {
        return kCanRekeyEncryptionVolumeKeyNotDataArray;
    }
    if (LUCacheFailed(cda, ld_number)) {
        return kCanRekeyEncryptionVolumeKeyLUCacheLogicalDriveStatusNotOK;
    }
    if (UnitStatus(cda, ld_number) != 0) {
        return kCanRekeyEncryptionVolumeKeyLogicalDriveStatusNotOK;
    }
    const VK_DWORD controller_status = VK_GetControllerStatusInfo(cda);
    const VK_BYTE cache_status = CACHE_STATUS(controller_status);
    if (preserve_data && cache_status != kControllerCacheStatusOK && cache_status != kControllerCacheStatusNotConfigured) {
        return kCanRekeyEncryptionVolumeKeyControllerCacheStatusNotOK;
    }
    if (CONTROLLER_STATUS(controller_status) != kControllerStatusOK) {
        return kCanRekeyEncryptionVolumeKeyControllerStatusNotOK;
    }
    if (!PowerlessTransformationPossible(cda)) {
        return kCanRekeyEncryptionVolumeKeyPowerlessTransformationNotSupported;
    }
    if (user > kControllerEncryptionCryptoUser) {
        return kCanRekeyEncryptionVolumeKeyInvalidUser;
    }
    if (!RoleCan(cda, user, kEncryptionUserCapabilityRekey)) {
        return kCanRekeyEncryptionVolumeKeyPermissionDenied;
    }
    return CheckLogin(cda, user, password, password_size, kCanRekeyEncryptionVolumeKeyInvalidPasswordSize,
                      kCanRekeyEncryptionVolumeKeyLoginFailed);
}

VK_BYTE __VK_RekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                      const char* password, size_t password_size) {
    const VK_DWORD role = telmar::RequestRole(user);
    if (preserve_data == kTrue) {
        return _VK_RekeyLogicalVolumeAndPreserveData(cda, role, ld_number, password, password_size);
    }
    // Without the data: to plaintext, then encrypted under a new key.
    return _VK_SetLogicalVolumeToPlainText(cda, role, ld_number, password, password_size) &&
                   _VK_SetLogicalVolumeToEncrypted(cda, role, ld_number, password, password_size)
               ? kTrue
               : kFalse;
}

VK_BYTE VK_RekeyEncryptionVolumeKeySafe(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                        const char* password, size_t password_size) {
    CDALock guard(cda);
    if (!HasCredential(password, password_size) ||
        VK_CanRekeyEncryptionVolumeKeySafe(cda, ld_number, preserve_data, user, password, password_size) !=
            kCanRekeyEncryptionVolumeKeyAllowed) {
        return kRekeyEncryptionVolumeKeyFailed;
    }
    const VK_BYTE rekeyed = __VK_RekeyEncryptionVolumeKey(cda, ld_number, preserve_data, user, password, password_size);
    VK_ReInitializeCDA(cda);
    return rekeyed ? kRekeyEncryptionVolumeKeyOK : kRekeyEncryptionVolumeKeyFailed;
}

VK_BYTE VK_CanRekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                       const char* password) {
    return VK_CanRekeyEncryptionVolumeKeySafe(cda, ld_number, preserve_data, user, password, StringSize(password));
}

VK_BYTE VK_RekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                    const char* password) {
    return VK_RekeyEncryptionVolumeKeySafe(cda, ld_number, preserve_data, user, password, StringSize(password));
}

VK_BYTE VK_CanRekeyArrayEncryptionVolumeKeySafe(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data, VK_BYTE user,
                                                const char* password, size_t password_size) {
    if (cda == nullptr) {
        return kCanRekeyArrayEncryptionVolumeKeyInvalidArray;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanRekeyArrayEncryptionVolumeKeyControllerOFAActive;
    }
    if (!VK_RequestArrayConfigurationInformation(cda) || array_number >= _VK_CDA(cda)->total_array_count) {
        return kCanRekeyArrayEncryptionVolumeKeyInvalidArray;
    }
    VK_BYTE code = kCanRekeyArrayEncryptionVolumeKeyAllowed;
    bool encrypted = false;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         code == kCanRekeyArrayEncryptionVolumeKeyAllowed && ld != kInvalidLDNumber;
         ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        if (VK_GetLogicalDriveEncryptionInfo(cda, ld) & kLogicalDriveEncryptionEnabled) {
            encrypted = true;
            code = VK_CanRekeyEncryptionVolumeKeySafe(cda, ld, preserve_data, user, password, password_size);
        }
    }
    if (code == kCanRekeyArrayEncryptionVolumeKeyAllowed && !encrypted) {
        return kCanRekeyArrayEncryptionVolumeKeyNoEncryptedLogicalDrives;
    }
    return code;
}

VK_BYTE VK_RekeyArrayEncryptionVolumeKeySafe(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data, VK_BYTE user,
                                             const char* password, size_t password_size) {
    CDALock guard(cda);
    if (!HasCredential(password, password_size) ||
        VK_CanRekeyArrayEncryptionVolumeKeySafe(cda, array_number, preserve_data, user, password, password_size) !=
            kCanRekeyArrayEncryptionVolumeKeyAllowed) {
        return kRekeyArrayEncryptionVolumeKeyFailed;
    }
    // Drives rekeyed before a failure stay rekeyed; the ones after it are not tried.
    VK_BYTE rekeyed = kTrue;
    for (VK_WORD ld = VK_EnumerateArrayLogicalDrives(cda, array_number, kInvalidLDNumber);
         rekeyed && ld != kInvalidLDNumber; ld = VK_EnumerateArrayLogicalDrives(cda, array_number, ld)) {
        if (VK_GetLogicalDriveEncryptionInfo(cda, ld) & kLogicalDriveEncryptionEnabled) {
            rekeyed = __VK_RekeyEncryptionVolumeKey(cda, ld, preserve_data, user, password, password_size);
        }
    }
    VK_ReInitializeCDA(cda);
    return rekeyed ? kRekeyArrayEncryptionVolumeKeyOK : kRekeyArrayEncryptionVolumeKeyFailed;
}

VK_BYTE VK_CanRekeyArrayEncryptionVolumeKey(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data, VK_BYTE user,
                                            const char* password) {
    return VK_CanRekeyArrayEncryptionVolumeKeySafe(cda, array_number, preserve_data, user, password,
                                                   StringSize(password));
}

VK_BYTE VK_RekeyArrayEncryptionVolumeKey(PCDA cda, VK_WORD array_number, VK_BOOL preserve_data, VK_BYTE user,
                                         const char* password) {
    return VK_RekeyArrayEncryptionVolumeKeySafe(cda, array_number, preserve_data, user, password, StringSize(password));
}

VK_BYTE VK_CanRestoreLogicalDriveVolatileKeySafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                                 size_t password_size) {
    if (cda == nullptr) {
        return kCanRestoreLogicalDriveVolatileKeyInvalidLogicalDrive;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanRestoreLogicalDriveVolatileKeyControllerOFAActive;
    }
    if (!ValidLogicalDrive(cda, ld_number)) {
        return kCanRestoreLogicalDriveVolatileKeyInvalidLogicalDrive;
    }
    if (user > kControllerEncryptionCryptoUser) {
        return kCanRestoreLogicalDriveVolatileKeyInvalidUser;
    }
    if (!RoleCan(cda, user, kEncryptionUserCapabilitySetDEKStorage)) {
        return kCanRestoreLogicalDriveVolatileKeyPermissionDenied;
    }
    const VK_BYTE login = CheckLogin(cda, user, password, password_size, kCanRestoreLogicalDriveVolatileKeyLoginFailed,
                                     kCanRestoreLogicalDriveVolatileKeyLoginFailed);
    if (login != kCanRestoreLogicalDriveVolatileKeyAllowed) {
        return login;
    }
    if (DriveType(cda, ld_number) != kLogicalDriveTypeData) {
        return kCanRestoreLogicalDriveVolatileKeyNotData;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureVolatileKeys)) {
        return kCanRestoreLogicalDriveVolatileKeyNotSupported;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanRestoreLogicalDriveVolatileKeyEncryptionNotConfigured;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanRestoreLogicalDriveVolatileKeyEncryptionNotEnabled;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status) || CTRL_ENCRYPTION_IS_LOCAL(status)) {
        return kCanRestoreLogicalDriveVolatileKeyNoRemoteKeyManager;
    }
    const VK_DWORD word = _VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
    if (!(word & kLogicalDriveEncryptionEnabled)) {
        return kCanRestoreLogicalDriveVolatileKeyLogicalDriveNotEncrypted;
    }
    if (!VOLATILE_KEY_ENABLED(word)) {
        return kCanRestoreLogicalDriveVolatileKeyNotConfigured;
    }
    if (!VOLATILE_KEY_BACKUP_ENABLED(word)) {
        return kCanRestoreLogicalDriveVolatileKeyMissingBackup;
    }
    if (UnitStatus(cda, ld_number) != kLogicalDriveUnitStatus20EncryptedVolumeWithoutKey) {
        return kCanRestoreLogicalDriveVolatileKeyRestoreNotRequired;
    }
    if (VOLATILE_KEY_STATUS(word) != kLogicalDriveEncryptionVolatileKeyStatusNoOp) {
        return kCanRestoreLogicalDriveVolatileKeyOpInProgress;
    }
    return kCanRestoreLogicalDriveVolatileKeyAllowed;
}

VK_BOOL VK_RestoreLogicalDriveVolatileKeySafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                              size_t password_size) {
    CDALock guard(cda);
    if (!HasCredential(password, password_size) ||
        VK_CanRestoreLogicalDriveVolatileKeySafe(cda, ld_number, user, password, password_size) !=
            kCanRestoreLogicalDriveVolatileKeyAllowed) {
        return kFalse;
    }
    const VK_BOOL restored = __VK_SetEncryptionDriveOptions(cda, ld_number, kEncryptionDriveFeatureVolatileKeyBackup,
                                                            kEncryptionVolatileKeyBackupRestore, 0,
                                                            telmar::RequestRole(user), password, password_size);
    VK_ReInitializeCDA(cda);
    return restored;
}

VK_BYTE VK_CanRestoreLogicalDriveVolatileKey(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password) {
    return VK_CanRestoreLogicalDriveVolatileKeySafe(cda, ld_number, user, password, StringSize(password));
}

VK_BOOL VK_RestoreLogicalDriveVolatileKey(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password) {
    return VK_RestoreLogicalDriveVolatileKeySafe(cda, ld_number, user, password, StringSize(password));
}

VK_BYTE VK_CanCryptoEraseLogicalDriveSafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                          size_t password_size) {
    if (cda == nullptr) {
        return kCanCryptoEraseLogicalDriveInvalidLogicalDrive;
    }
    CDALock guard(cda);
    if (OfaRunning(cda)) {
        return kCanCryptoEraseLogicalDriveControllerOFAActive;
    }
    if (!ValidLogicalDrive(cda, ld_number)) {
        return kCanCryptoEraseLogicalDriveInvalidLogicalDrive;
    }
    if (user > kControllerEncryptionCryptoUser) {
        return kCanCryptoEraseLogicalDriveInvalidUser;
    }
    if (!FeatureEnabled(cda, kEncryptionFeatureCryptoErase)) {
        return kCanCryptoEraseLogicalDriveNotEnabled;
    }
    const VK_QWORD status = VK_GetControllerEncryptionStatus(cda);
    if (!CTRL_ENCRYPTION_IS_CONFIGURED(status)) {
        return kCanCryptoEraseLogicalDriveEncryptionNotConfigured;
    }
    if (!(status & kControllerEncryptionEnabled)) {
        return kCanCryptoEraseLogicalDriveEncryptionNotEnabled;
    }
    if (CTRL_ENCRYPTION_IS_EXPRESS_LOCAL(status)) {
        return kCanCryptoEraseLogicalDriveInExpressLocalMode;
    }
    const VK_DWORD word = _VK_GetLogicalDriveEncryptionInfo(cda, ld_number);
    if (word & kLogicalDriveEncryptionKeyWait) {
        return kCanCryptoEraseLogicalDriveLogicalDriveIsOffline;
    }
    // Encrypted and nothing else: no key wait, no rekey and no encode under way.
    if (LOGICAL_DRIVE_ENCRYPTION_STATUS(word) != kLogicalDriveEncryptionEnabled) {
        return kCanCryptoEraseLogicalDriveLogicalDriveNotEncrypted;
    }
    if (status & kControllerEncryptionControllerLocked) {
        return kCanCryptoEraseLogicalDriveControllerLockout;
    }
    if (UnitStatus(cda, ld_number) != 0) {
        return kCanCryptoEraseLogicalDriveLogicalDriveStatusNotOK;
    }
    const VK_DWORD array_status = VK_GetArrayStatusInfo(cda, VK_GetLogicalDriveArray(cda, ld_number));
    if (array_status == kArrayStatusHasFailedDataDrive || array_status == kArrayStatusHasErasingLogicalDrive ||
        array_status == kArrayStatusHasInitializingLogicalDrive) {
        return kCanCryptoEraseLogicalDriveArrayStatusNotOK;
    }
    if (VOLATILE_KEY_ENABLED(word)) {
        return kCanCryptoEraseLogicalDriveVolatileKeysEnabled;
    }
    if (DriveType(cda, ld_number) != kLogicalDriveTypeData) {
        return kCanCryptoEraseLogicalDriveNotDataLogicalDrive;
    }
    if (!RoleCan(cda, user, kEncryptionUserCapabilityRekey)) {
        return kCanCryptoEraseLogicalDriveUserPermissionDenied;
    }
    return CheckLogin(cda, user, password, password_size, kCanCryptoEraseLogicalDriveInvalidPasswordSize,
                      kCanCryptoEraseLogicalDriveInvalidPassword);
}

VK_BOOL VK_CryptoEraseLogicalDriveSafe(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password,
                                       size_t password_size) {
    CDALock guard(cda);
    if (!HasCredential(password, password_size) ||
        VK_CanCryptoEraseLogicalDriveSafe(cda, ld_number, user, password, password_size) !=
            kCanCryptoEraseLogicalDriveAllowed) {
        return kFalse;
    }
    // The host must not read the drive while its key changes under it.
    if (!_VK_HideLogicalDrive(cda, ld_number)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to hide ld %u before crypto erase\n", __func__,
                    __LINE__, ld_number);
        return kFalse;
    }
    const VK_BOOL erased =
        _VK_SetLogicalVolumeToEncrypted(cda, telmar::RequestRole(user), ld_number, password, password_size);
    if (!erased) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'success' failed: Failed to crypto-erase ld %u\n", __func__, __LINE__,
                    ld_number);
    }
    if (!_VK_UnhideLogicalDrive(cda, ld_number)) {
        PN_DebugLog(1, 0, "%s:%d: Failed to unhide ld %u after crypto erase\n", __FILE__, __LINE__, ld_number);
        return kFalse;
    }
    return erased;
}

VK_BYTE VK_CanCryptoEraseLogicalDrive(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password) {
    return VK_CanCryptoEraseLogicalDriveSafe(cda, ld_number, user, password, StringSize(password));
}

VK_BOOL VK_CryptoEraseLogicalDrive(PCDA cda, VK_WORD ld_number, VK_BYTE user, const char* password) {
    return VK_CryptoEraseLogicalDriveSafe(cda, ld_number, user, password, StringSize(password));
}
