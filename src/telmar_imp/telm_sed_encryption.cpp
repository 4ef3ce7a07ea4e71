// Managed self-encrypting drives: the controller's managed-SED status word, its master key
// identifier, the adapter password status, and the owned foreign SEDs with their key identifiers.
#include <cstddef>
#include <cstring>

#include "pavl_bytes.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_encryption_words.h"
#include "telm_private.h"

namespace telmar {

VK_QWORD DecodeSEDEncryptionStatus(VK_DWORD mode_status, std::optional<VK_DWORD> sed_status) {
    if (!(mode_status & 0x1)) {
        return kControllerSEDEncryptionModeNone;
    }
    VK_QWORD word = static_cast<VK_QWORD>(kControllerSEDEncryptionStatusEnabled) << kControllerSEDEncryptionStatusShift;
    if (mode_status & 0x2) {
        word |= kControllerSEDEncryptionModeLocal;
    } else if (mode_status & 0x4) {
        word |= kControllerSEDEncryptionModeRemote;
    }
    if (mode_status & 0x8) {
        word |= static_cast<VK_QWORD>(kControllerSEDEncryptionAdapterPasswordEnabled)
                << kControllerSEDEncryptionPasswordEnabledShift;
    }
    if (sed_status) {
        struct Map {
            VK_DWORD from;
            VK_QWORD to;
            int shift;
        };
        static constexpr Map kMap[] = {
            {0x1, kControllerSEDEncryptionStatusWaitingOnAdapterPassword, kControllerSEDEncryptionStatusShift},
            {0x8, kControllerSEDEncryptionStatusForeignSEDPresent, kControllerSEDEncryptionStatusShift},
            {0x40, kControllerSEDEncryptionStatusWaitingOnMasterKey, kControllerSEDEncryptionStatusShift},
            {0x2, kControllerSEDEncryptionUnlockImportInProgress, kControllerSEDEncryptionProgressShift},
            {0x4, kControllerSEDEncryptionRekeyInProgress, kControllerSEDEncryptionProgressShift},
            {0x10, kControllerSEDEncryptionSecuringLogicalDriveInProgress, kControllerSEDEncryptionProgressShift},
            {0x20, kControllerSEDEncryptionTakingOwnershipInProgress, kControllerSEDEncryptionProgressShift},
            {0x200, kControllerSEDEncryptionRevertSEDDisablementInProgress, kControllerSEDEncryptionProgressShift},
        };
        for (const Map& m : kMap) {
            if (*sed_status & m.from) {
                word |= m.to << m.shift;
            }
        }
    }
    return word;
}

VK_QWORD DecodeAdapterPasswordStatus(pavlin::ByteView reply) {
    const auto countdown = reply.le32(offsetof(MANAGED_SED_ADAPTER_PASSWORD_STATUS, dwCountdownTimer));
    const auto attempts = reply.u8(offsetof(MANAGED_SED_ADAPTER_PASSWORD_STATUS, bUnlockAttemptsLeft));
    if (!countdown || !attempts) {
        return 0;
    }
    return static_cast<VK_QWORD>(*countdown) << kSEDEncryptionAdapterPasswordStatusCountDownTimerShift |
           static_cast<VK_QWORD>(*attempts) << kSEDEncryptionAdapterPasswordStatusAttemptsLeftShift;
}

} // namespace telmar

namespace {

constexpr VK_DWORD kManagedSEDFunctionForeignKeyIdentifier = 3;
constexpr size_t kKeyIdentifierLength = 32;

static_assert(sizeof(MANAGED_SED_ADAPTER_PASSWORD_STATUS) == 6);
static_assert(sizeof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER) == 64);
static_assert(offsetof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER, bResetForeignKeyIdentifier) == kKeyIdentifierLength);

bool SEDEncryptionSupported(PCDA cda) {
    return (VK_ControllerSupportsSEDEncryption(cda) & kControllerSEDEncryptionSupported) != 0;
}

constexpr VK_QWORD kSEDEnabled = static_cast<VK_QWORD>(kControllerSEDEncryptionStatusEnabled)
                                 << kControllerSEDEncryptionStatusShift;
constexpr VK_QWORD kSEDAdapterPasswordEnabled = static_cast<VK_QWORD>(kControllerSEDEncryptionAdapterPasswordEnabled)
                                                << kControllerSEDEncryptionPasswordEnabledShift;

} // namespace

VK_QWORD VK_GetControllerSEDEncryptionStatus(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!SEDEncryptionSupported(cda) || !VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    const VK_DWORD mode_status = c->identify_controller_buffer.dwManagedSEDModeStatus;
    std::optional<VK_DWORD> sed_status;
    if ((mode_status & 0x1) && VK_RequestManagedSEDStatus(cda)) {
        // A copy, not a reference: the field of the packed record may sit at any address.
        const VK_DWORD status = c->managed_sed_status_buffer.dwStatus;
        sed_status = status;
    }
    return telmar::DecodeSEDEncryptionStatus(mode_status, sed_status);
}

char* VK_GetControllerSEDEncryptionMasterKeyIdentifier(PCDA cda, char* key_identifier, size_t key_identifier_size) {
    if (cda == nullptr || key_identifier == nullptr || key_identifier_size <= kKeyIdentifierLength) {
        return key_identifier;
    }
    CDALock guard(cda);
    if ((VK_GetControllerSEDEncryptionStatus(cda) & kSEDEnabled) && VK_RequestManagedSEDMasterKeyIdentifier(cda)) {
        std::memset(key_identifier, 0, key_identifier_size);
        std::memcpy(key_identifier, _VK_CDA(cda)->managed_sed_master_key_id_buffer.bMasterKeyIdentifier,
                    kKeyIdentifierLength);
    }
    return key_identifier;
}

VK_QWORD VK_GetSEDEncryptionAdapterPasswordStatus(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const VK_QWORD sed = VK_GetControllerSEDEncryptionStatus(cda);
    if (!SEDEncryptionSupported(cda) || !(sed & kSEDEnabled) || !(sed & kSEDAdapterPasswordEnabled)) {
        return 0;
    }
    VK_BYTE reply[sizeof(MANAGED_SED_ADAPTER_PASSWORD_STATUS)] = {};
    if (!VK_RequestManagedSEDAdapterPasswordStatus(cda, reply, sizeof(reply))) {
        return 0;
    }
    return telmar::DecodeAdapterPasswordStatus(pavlin::ByteView(reply, sizeof(reply)));
}

VK_WORD VK_EnumerateControllerForeignSED(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    if (!SEDEncryptionSupported(cda)) {
        return kInvalidPDNumber;
    }
    VK_WORD pd = pd_number;
    while ((pd = VK_EnumerateControllerPhysicalDrives(cda, pd)) != kInvalidPDNumber) {
        if (telmar::IsOwnedForeignSED(VK_GetPhysicalDriveEncryptionInfo(cda, pd))) {
            return pd;
        }
    }
    return kInvalidPDNumber;
}

char* VK_GetForeignSEDKeyIdentifier(PCDA cda, VK_WORD pd_number, char* foreign_key_identifier,
                                    size_t foreign_key_identifier_size, char* foreign_reset_key_identifier,
                                    size_t foreign_reset_key_identifier_size) {
    if (cda == nullptr || foreign_key_identifier == nullptr || foreign_reset_key_identifier == nullptr ||
        foreign_key_identifier_size <= kKeyIdentifierLength ||
        foreign_reset_key_identifier_size <= kKeyIdentifierLength) {
        return foreign_key_identifier;
    }
    CDALock guard(cda);
    std::memset(foreign_key_identifier, 0, foreign_key_identifier_size);
    std::memset(foreign_reset_key_identifier, 0, foreign_reset_key_identifier_size);
    if (pd_number >= kMaxPhysicalDrivesSupported || !SEDEncryptionSupported(cda) ||
        !telmar::IsOwnedForeignSED(VK_GetPhysicalDriveEncryptionInfo(cda, pd_number)) ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return foreign_key_identifier;
    }
    _CDA* c = _VK_CDA(cda);
    constexpr VK_WORD kDrivePresent = kPDRecordDrive | kPDRecordPresent;
    if ((c->pd_record_list[pd_number].flags & kDrivePresent) != kDrivePresent) {
        return foreign_key_identifier;
    }
    VK_BYTE reply[sizeof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER)] = {};
    if (_VK_BMICHelperReadBufferEx(c->controller_handle, BMIC_MANAGED_SED, kManagedSEDFunctionForeignKeyIdentifier,
                                   pd_number, 0, reply, sizeof(reply))) {
        const pavlin::ByteView view(reply, sizeof(reply));
        view.copy_to(offsetof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER, bForeignKeyIdentifier), foreign_key_identifier,
                     kKeyIdentifierLength);
        view.copy_to(offsetof(MANAGED_SED_FOREIGN_KEY_IDENTIFIER, bResetForeignKeyIdentifier),
                     foreign_reset_key_identifier, kKeyIdentifierLength);
    }
    return foreign_key_identifier;
}
