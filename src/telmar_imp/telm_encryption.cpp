// Encryption status words: the controller's controller-based encryption, and the encryption state of
// logical and physical drives, from the cached encryption buffers and the record tables.
#include <algorithm>
#include <cstring>

#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
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

constexpr VK_QWORD kOwnedForeignSED = kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsForeign |
                                      (static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusOwned)
                                       << kPhysicalDriveEncryptionSEDSecurityStatusShift);

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
            (VK_GetPhysicalDriveEncryptionInfo(cda, static_cast<VK_WORD>(p)) & kOwnedForeignSED) == kOwnedForeignSED) {
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
