// Encryption status words: the controller's controller-based encryption, and the encryption state of
// logical and physical drives, from the cached encryption buffers and the record tables.
#include <algorithm>
#include <cstring>
#include <string.h>

#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_private.h"
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
constexpr VK_DWORD kEncryptionFunctionVerifyPassword = 0x14;
constexpr size_t kMaxEncryptionPasswordLength = 16;
constexpr VK_BYTE kScsiStatusCheckCondition = 2;

// ENCRYPTION_VERIFY_PASSWORD, the record of 0x1E write function 0x14.
#pragma pack(push, 1)
struct EncryptionVerifyPassword {
    char bPassword[16];
    VK_DWORD dwRole;
};
#pragma pack(pop)
static_assert(sizeof(EncryptionVerifyPassword) == 20);
static_assert(offsetof(EncryptionVerifyPassword, dwRole) == 16);

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
    if (!RoleAllowed(cda, user) || length > kMaxEncryptionPasswordLength || !PasswordsUsable(cda)) {
        return kFalse;
    }
    EncryptionVerifyPassword record = {};
    std::memcpy(record.bPassword, password, length);
    record.dwRole = user == kControllerEncryptionCryptoUser ? 1 : 0;
    ScsiCommandSenseData sense = {};
    VK_BOOL verified = _VK_BMICHelperWriteBufferWithSense(_VK_CDA(cda)->controller_handle, BMIC_ENCRYPTION,
                                                          kEncryptionFunctionVerifyPassword, 0, &record,
                                                          sizeof(record), &sense);
    // The password must not outlive the command in this stack frame.
    explicit_bzero(&record, sizeof(record));
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
