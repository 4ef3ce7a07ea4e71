// The cached controller-level buffers of the data area and their loaders: each reads its buffer once
// and keeps a validity bit as the answer until the data area is re-initialised. New loaders go here.
#include <cstdint>
#include <cstring>
#include <iterator>

#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ppavl_reportluns.h"
#include "pavl_reportluns.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "telm_cda_internal.h"

using pavlin::ByteView;
using pavlin::TrackedBuffer;
using telmar::BufferFlags;
using telmar::ReadInto;

namespace {

constexpr VK_DWORD kPowerModeFunctionGet = 1;
constexpr VK_DWORD kPowerModeFunctionGetDefault = 3;
constexpr VK_DWORD kManufacturingDataFunctionRead = 1;
constexpr VK_DWORD kOFAFunctionStatus = 3;
constexpr VK_DWORD kOOBReadMessageInterface = 0x60000; // sub-function 6 in CDB byte 3
constexpr VK_DWORD kDiscoveryFunctionActive = 0;
constexpr VK_DWORD kDiscoveryFunctionPending = 1;
constexpr VK_DWORD kDiscoveryFunctionDefault = 3;
constexpr VK_DWORD kLUCacheSubcommandRAMInfo = 3;
constexpr VK_WORD kLUCacheLUN = 1;
constexpr VK_WORD kKMSStatusLUN = 0x100;
constexpr VK_QWORD kKMSStatusAdditionalDetail = 0x10000000000ull;

// The cache discipline shared by every controller-level loader: read only while the bit is clear and
// the precondition holds, into a zeroed member, and keep the bit as the answer.
template <typename Precondition, typename Read>
VK_BOOL LoadCached(PCDA cda, VK_DWORD bit, void* member, size_t size, Precondition precondition, Read read) {
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!(BufferFlags(c) & bit) && precondition()) {
        std::memset(member, 0, size);
        if (read()) {
            BufferFlags(c) |= bit;
        }
    }
    return (BufferFlags(c) & bit) ? kTrue : kFalse;
}

template <typename Read> VK_BOOL LoadCached(PCDA cda, VK_DWORD bit, void* member, size_t size, Read read) {
    return LoadCached(
        cda, bit, member, size, [] { return true; }, read);
}

// A member read with one BMIC command (LUN 0) under the cache discipline, while `precondition` holds.
template <typename Member, typename Precondition>
VK_BOOL LoadMember(PCDA cda, VK_DWORD bit, Member _CDA::*member, VK_BYTE opcode, VK_DWORD detail,
                   Precondition precondition) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    Member& buffer = c->*member;
    return LoadCached(cda, bit, &buffer, sizeof(buffer), precondition,
                      [&] { return ReadInto(c, opcode, detail, 0, &buffer, sizeof(buffer)); });
}

template <typename Member>
VK_BOOL LoadMember(PCDA cda, VK_DWORD bit, Member _CDA::*member, VK_BYTE opcode, VK_DWORD detail = 0) {
    return LoadMember(cda, bit, member, opcode, detail, [] { return true; });
}

// A read whose failure is logged with `failure`, a format that takes the file and the line.
bool ReadOrLog(_CDA* c, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, void* member, size_t size,
               const char* failure) {
    if (ReadInto(c, opcode, detail, lun, member, size)) {
        return true;
    }
    PN_DebugLog(1, 0, failure, __FILE__, __LINE__);
    return false;
}

// A reply whose structure outgrows the cached member is kept as far as it fits, with `warning` (a
// format that takes the file and the line).
template <typename Member>
bool ReadWarningWhenLonger(_CDA* c, VK_BYTE opcode, Member& buffer, const char* warning) {
    if (!ReadInto(c, opcode, 0, 0, &buffer, sizeof(buffer))) {
        return false;
    }
    if (buffer.dwTotalStructureLength > sizeof(buffer)) {
        PN_DebugLog(2, 0, warning, __FILE__, __LINE__);
    }
    return true;
}

} // namespace

using telmar::DecodeEraseStates;
using telmar::DecodeRemoteVolumes;
using telmar::kAllPhysicalDrives;
using telmar::ReadEraseStatus;

VK_BOOL VK_RequestIdentifyControllerBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->identify_controller_buffer;
    return LoadCached(cda, kCDAValidIdentifyController, &buffer, sizeof(buffer), [&] {
        if (!ReadOrLog(c, BMIC_IDENTIFY_CONTROLLER, 0, 0, &buffer, sizeof(buffer),
                       "%s:%d: Failed id ctrl\n")) {
            return false;
        }
        if (buffer.dwTotalStructureLength > sizeof(buffer)) {
            PN_DebugLog(2, 0, "%s:%d: Identify ctrl total struct len was %u\n", __FILE__, __LINE__,
                        buffer.dwTotalStructureLength);
        }
        return true;
    });
}

VK_BOOL VK_RequestSenseControllerParametersBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->sense_controller_parameters_buffer;
    return LoadCached(cda, kCDAValidControllerParameters, &buffer, sizeof(buffer), [&] {
        return ReadWarningWhenLonger(
            c, BMIC_SENSE_CONTROLLER_PARAMETERS, buffer,
            "%s:%d: Warning! CDA Sense Controller Parameters Buffer not large enough for controller\n");
    });
}

VK_BOOL VK_RequestSenseCacheConfigStatusBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->sense_cache_config_status_buffer;
    return LoadCached(cda, kCDAValidCacheConfigStatus, &buffer, sizeof(buffer), [&] {
        return ReadWarningWhenLonger(c, BMIC_SENSE_CACHE_CONFIGURATION, buffer,
                                     "%s:%d: Failed to retrieve entire cache config status buffer\n");
    });
}

VK_BOOL VK_RequestSenseSubsystemParametersBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidSubsystemParameters, &_CDA::sense_subsystem_parameters_buffer,
                      BMIC_SENSE_SUBSYSTEM_PARAMETERS);
}

VK_BOOL VK_RequestSenseMNPStatusBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidMNPStatus, &_CDA::sense_mnp_status_buffer, BMIC_SENSE_MNP_STATUS);
}

VK_BOOL VK_RequestSenseExpansionAbilityBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->sense_expansion_ability_buffer;
    return LoadCached(
        cda, kCDAValidExpansionAbility, &buffer, sizeof(buffer),
        [&] { return VK_ControllerSupportsSenseExpansionAbility(cda) != kFalse; },
        [&] {
            return ReadWarningWhenLonger(
                c, BMIC_SENSE_EXPANSION_ABILITY, buffer,
                "%s:%d: Warning! CDA Sense Expansion Ability Buffer not large enough for controller\n");
        });
}

VK_BOOL VK_RequestSurfaceStatusBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidSurfaceStatus, &_CDA::surface_status_buffer, BMIC_SENSE_SURFACE_STATUS);
}

VK_BOOL VK_RequestGetPowerModeBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidPowerMode, &_CDA::power_mode_buffer, BMIC_POWER_MODE,
                      kPowerModeFunctionGet, [cda] { return VK_ControllerSupportsPowerModes(cda) != 0; });
}

VK_BOOL VK_RequestGetDefaultPowerModeBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidDefaultPowerMode, &_CDA::default_power_mode_buffer, BMIC_POWER_MODE,
                      kPowerModeFunctionGetDefault,
                      [cda] { return VK_ControllerSupportsDefaultPowerMode(cda) != kFalse; });
}

VK_BOOL _VK_RequestLUCacheInfoBuffer(PCDA cda, VK_WORD ld_number, VK_DWORD subcommand, void* buffer,
                                     VK_DWORD buffer_size) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: error: Request for ld out of range", __FILE__, __LINE__);
        return kFalse;
    }
    if (cda == nullptr || buffer == nullptr ||
        !(VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported)) {
        return kFalse;
    }
    const VK_BOOL success =
        _VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_SENSE_CACHE_CONFIGURATION,
                                 (subcommand << 16) | ld_number, kLUCacheLUN, buffer, buffer_size);
    if (!success) {
        PN_DebugLog(
            1, 0, "%s:%d: Assertion 'success' failed: SENSE CACHE CONFIG STATUS Failed: ld:%u, subcmd:%u\n\n",
            __func__, __LINE__, static_cast<unsigned>(ld_number), subcommand);
    }
    return success;
}

VK_BOOL VK_RequestLUCacheRAMInfoBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    auto& buffer = _VK_CDA(cda)->lu_cache_ram_info_buffer;
    return LoadCached(
        cda, kCDAValidLUCacheRAMInfo, &buffer, sizeof(buffer),
        [&] { return (VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported) != 0; },
        [&] {
            return _VK_RequestLUCacheInfoBuffer(cda, 0, kLUCacheSubcommandRAMInfo, &buffer, sizeof(buffer)) !=
                   kFalse;
        });
}

VK_BOOL VK_RequestManufacturingData(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->manufacturing_data_buffer;
    return LoadCached(cda, kCDAValidManufacturingData, &buffer, sizeof(buffer), [&] {
        const VK_WORD lun = static_cast<VK_WORD>(_VK_GetControllerOEMID(cda) << 8);
        return ReadOrLog(c, BMIC_MANUFACTURING_DATA, kManufacturingDataFunctionRead, lun, &buffer,
                         sizeof(buffer), "%s:%d: Failed get manufacturing data\n");
    });
}

VK_BOOL VK_RequestOnlineFirmwareActivationStatus(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    auto& buffer = c->online_firmware_activation_status_buffer;
    return LoadCached(
        cda, kCDAValidOFAStatus, &buffer, sizeof(buffer),
        [&] {
            return (VK_ControllerSupportsOnlineFirmwareActivation(cda) &
                    kControllerOnlineFirmwareActivationSupported) != 0;
        },
        [&] {
            return ReadOrLog(c, BMIC_ONLINE_FIRMWARE_ACTIVATION, kOFAFunctionStatus, 0, &buffer,
                             sizeof(buffer), "%s:%d: Failed to get ofa status\n");
        });
}

VK_BOOL VK_RequestOOBMessageInterfaceBuffer(PCDA cda) {
    return LoadMember(cda, kCDAValidOOBMessageInterface, &_CDA::oob_message_interface_buffer,
                      BMIC_I2C_OOB_CONFIGURATION, kOOBReadMessageInterface);
}

namespace {

VK_BOOL LoadDiscoveryConfiguration(PCDA cda, VK_DWORD bit, DISCOVERY_CONFIGURATION_BUFFER* buffer,
                                   VK_BYTE support_bit, VK_DWORD function, const char* failure) {
    _CDA* c = _VK_CDA(cda);
    return LoadCached(
        cda, bit, buffer, sizeof(*buffer),
        [&] { return (VK_GetControllerConnectorDiscoveryConfigurationSupport(cda) & support_bit) != 0; },
        [&] {
            return ReadOrLog(c, BMIC_DISCOVERY_CONFIGURATION, function, 0, buffer, sizeof(*buffer), failure);
        });
}

} // namespace

VK_BOOL VK_RequestConnectorActiveDiscoveryConfigurationBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    return LoadDiscoveryConfiguration(
        cda, kCDAValidActiveDiscoveryConfiguration,
        &_VK_CDA(cda)->connector_active_discovery_configuration_buffer,
        kControllerGetActiveConnectorDiscoveryConfigurationSupported, kDiscoveryFunctionActive,
        "%s:%d: Failed to get connector active discovery configuration buffer\n");
}

VK_BOOL VK_RequestConnectorPendingDiscoveryConfigurationBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    return LoadDiscoveryConfiguration(cda, kCDAValidPendingDiscoveryConfiguration,
                                      &_VK_CDA(cda)->connector_pending_discovery_configuration_buffer,
                                      kControllerGetPendingConnectorDiscoveryConfigurationSupported,
                                      kDiscoveryFunctionPending,
                                      "%s:%d: Failed to get pending discovery configuration buffer\n");
}

VK_BOOL VK_RequestConnectorDefaultDiscoveryConfigurationBuffer(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    return LoadDiscoveryConfiguration(
        cda, kCDAValidDefaultDiscoveryConfiguration,
        &_VK_CDA(cda)->connector_default_discovery_configuration_buffer,
        kControllerGetDefaultConnectorDiscoveryConfigurationSupported, kDiscoveryFunctionDefault,
        "%s:%d: Failed to get connector default discovery configuration buffer\n");
}

VK_BOOL VK_RequestEncryptionBuffer(PCDA cda, VK_DWORD detail, void* buffer, VK_DWORD buf_size,
                                   VK_DWORD cda_flag) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    return LoadCached(
        cda, cda_flag, buffer, buf_size, [&] { return VK_ControllerSupportsEncryption(cda) != kFalse; },
        [&] { return ReadInto(c, BMIC_ENCRYPTION, detail, 0, buffer, buf_size); });
}

VK_BOOL VK_RequestManagedSEDBuffer(PCDA cda, VK_DWORD detail, void* buffer, VK_DWORD buf_size,
                                   VK_DWORD cda_flag) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    return LoadCached(
        cda, cda_flag, buffer, buf_size,
        [&] { return (VK_ControllerSupportsSEDEncryption(cda) & kControllerSEDEncryptionSupported) != 0; },
        [&] {
            return _VK_BMICHelperReadBufferEx(c->controller_handle, BMIC_MANAGED_SED, detail, 0, 0, buffer,
                                              buf_size) != kFalse;
        });
}

// A member read with one sub-function of the encryption or managed-SED command.
#define MEMBER_LOADER(name, request, function, member, bit)                                                  \
    VK_BOOL name(PCDA cda) {                                                                                 \
        if (cda == nullptr) {                                                                                \
            return kFalse;                                                                                   \
        }                                                                                                    \
        _CDA* c = _VK_CDA(cda);                                                                              \
        return request(cda, function, &c->member, sizeof(c->member), bit);                                   \
    }
#define ENCRYPTION_LOADER(name, function, member, bit)                                                       \
    MEMBER_LOADER(name, VK_RequestEncryptionBuffer, function, member, bit)

ENCRYPTION_LOADER(VK_RequestEncryptionPasswordRecoveryQuestion, kEncryptionFunctionPasswordRecovery,
                  encryption_password_recovery_buffer, kCDAValidEncryptionRecoveryQuestion)
ENCRYPTION_LOADER(VK_RequestEncryptionBootPasswordStatus, kEncryptionFunctionBootPasswordStatus,
                  encryption_boot_password_status_buffer, kCDAValidEncryptionBootPasswordStatus)
ENCRYPTION_LOADER(VK_RequestEncryptionKeyManagerStatus, kEncryptionFunctionKeyManagerStatus,
                  encryption_key_manager_status, kCDAValidEncryptionKeyManagerStatus)
ENCRYPTION_LOADER(VK_RequestEncryptionIKekStatus, kEncryptionFunctionIKekStatus, encryption_ikek_status,
                  kCDAValidEncryptionIKekStatus)
ENCRYPTION_LOADER(VK_RequestEncryptionRoleAttributes, kEncryptionFunctionRoleAttributes,
                  encryption_role_attributes_buffer, kCDAValidEncryptionRoleAttributes)
ENCRYPTION_LOADER(VK_RequestEncryptionServerName, kEncryptionFunctionServerName,
                  encryption_server_name_buffer, kCDAValidEncryptionServerName)
ENCRYPTION_LOADER(VK_RequestEncryptionKekCacheAttributes, kEncryptionFunctionKekCacheAttributes,
                  encryption_key_cache_attributes, kCDAValidEncryptionKekCacheAttributes)
ENCRYPTION_LOADER(VK_RequestEncryptionBootStatus, kEncryptionFunctionBootStatus,
                  encryption_boot_status_buffer, kCDAValidEncryptionBootStatus)

#undef ENCRYPTION_LOADER

VK_BOOL VK_RequestEncryptionFeatures(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsEncryptionFeatureBreakout(cda)) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    return VK_RequestEncryptionBuffer(cda, kEncryptionFunctionFeatures, &c->encryption_features,
                                      sizeof(c->encryption_features), kCDAValidEncryptionFeatures);
}

MEMBER_LOADER(VK_RequestManagedSEDStatus, VK_RequestManagedSEDBuffer, kManagedSEDFunctionStatus,
              managed_sed_status_buffer, kCDAValidManagedSEDStatus)
MEMBER_LOADER(VK_RequestManagedSEDMasterKeyIdentifier, VK_RequestManagedSEDBuffer,
              kManagedSEDFunctionMasterKeyIdentifier, managed_sed_master_key_id_buffer,
              kCDAValidManagedSEDMasterKeyIdentifier)

#undef MEMBER_LOADER

VK_BOOL VK_RequestManagedSEDAdapterPasswordStatus(PCDA cda, void* buffer, VK_DWORD buf_size) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!(VK_ControllerSupportsSEDEncryption(cda) & kControllerSEDEncryptionSupported)) {
        return kFalse;
    }
    return _VK_BMICHelperReadBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED,
                                      kManagedSEDFunctionAdapterPasswordStatus, 0, 0, buffer, buf_size);
}

VK_BOOL VK_RequestCBEKMSStatus(PCDA cda, MANAGED_SED_KMS_STATUS* kms_status) {
    if (cda == nullptr || kms_status == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsEncryption(cda) || !VK_ControllerSupportsUEFIKMS(cda)) {
        return kFalse;
    }
    return _VK_BMICHelperReadBufferEx(_VK_CDA(cda)->controller_handle, BMIC_MANAGED_SED,
                                      kManagedSEDFunctionKMSStatus, kKMSStatusLUN, kKMSStatusAdditionalDetail,
                                      kms_status, sizeof(*kms_status));
}

VK_BOOL VK_RequestRemoteVolumeRecords(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (BufferFlags(c) & kCDAValidRemoteVolumes) {
        return kTrue;
    }
    std::memset(c->remote_volume_record_list, 0, sizeof(c->remote_volume_record_list));
    c->remote_volume_count = 0;
    const TrackedBuffer report = pavlin::ReadLogicalReport(c->controller_handle);
    if (!report) {
        return kFalse;
    }
    VK_WORD found = 0;
    if (!DecodeRemoteVolumes(ByteView(report.get(), report.size()), c->remote_volume_record_list,
                             kMaxRemoteVolumesSupported, &found)) {
        return kFalse;
    }
    c->remote_volume_count = found;
    BufferFlags(c) |= kCDAValidRemoteVolumes;
    return kTrue;
}

VK_BOOL VK_RequestEraseStatusBuffer(PCDA cda) {
    if (cda == nullptr || !VK_ControllerSupportsPhysicalDriveErase(cda)) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!(BufferFlags(c) & kCDAValidEraseStatus)) {
        std::memset(c->pd_erase_status_list, 0, sizeof(c->pd_erase_status_list));
        const TrackedBuffer reply = ReadEraseStatus(cda, kAllPhysicalDrives);
        if (reply) {
            DecodeEraseStates(ByteView(reply.get(), reply.size()), c->pd_erase_status_list,
                              std::size(c->pd_erase_status_list));
            BufferFlags(c) |= kCDAValidEraseStatus;
        }
    }
    return (BufferFlags(c) & kCDAValidEraseStatus) ? kTrue : kFalse;
}
