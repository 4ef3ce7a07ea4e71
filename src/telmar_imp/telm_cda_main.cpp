// The controller data area: its lifecycle, the cached controller-level buffers with their loaders, and
// the readers of variable-length replies.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ppavl_reportluns.h"
#include "ppavl_synchronization.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "telm_private.h"

namespace {

// The CDB carries the transfer length in 16 bits; a longer reply cannot be asked for.
constexpr VK_QWORD kMaxBMICTransferLength = 0xFFFF;

constexpr VK_DWORD kMinimumIdentifyFixedLength = 276;
constexpr VK_WORD kAllPhysicalDrives = 0xFFFF;

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
constexpr VK_BYTE kTemperatureSensorsOnly = 1;
constexpr VK_BYTE kAllSensors = 0;

constexpr size_t kEraseListBytes = sizeof(VK_WORD) * kMaxPhysicalDrivesSupported;

VK_DWORD& BufferFlags(_CDA* c) {
    return c->flags[kCDAFlagsBuffers];
}

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

VK_BOOL ReadInto(_CDA* c, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, void* member, size_t size) {
    return _VK_BMICHelperReadBuffer(c->controller_handle, opcode, detail, lun, member,
                                    static_cast<VK_DWORD>(size));
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

// A tracked, zeroed buffer of `size` bytes read with one BMIC command; NULL when the size cannot be
// announced, the allocation fails or the read fails.
VK_BYTE* ReadNewBuffer(_CDA* c, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, VK_QWORD size,
                       bool* allocated) {
    *allocated = false;
    if (size == 0 || size > kMaxBMICTransferLength) {
        PN_DebugLog(1, 0, "%s:%d: Reply of %llu bytes for BMIC 0x%02X cannot be requested\n", __FILE__,
                    __LINE__, static_cast<unsigned long long>(size), opcode);
        *allocated = true; // nothing to allocate: not an allocation failure
        return nullptr;
    }
    auto* buffer = static_cast<VK_BYTE*>(VK_malloc(static_cast<size_t>(size)));
    if (buffer == nullptr) {
        return nullptr;
    }
    *allocated = true;
    std::memset(buffer, 0, static_cast<size_t>(size));
    if (!ReadInto(c, opcode, detail, lun, buffer, static_cast<size_t>(size))) {
        VK_free(buffer);
        return nullptr;
    }
    return buffer;
}

// A reply that reports more than the buffer it came in holds is trimmed to that buffer, so no reader
// of the reply's own length walks past it.
VK_DWORD BoundTotalLength(VK_DWORD total_length, VK_QWORD buffer_size, const char* what) {
    if (total_length <= buffer_size) {
        return total_length;
    }
    PN_DebugLog(1, 0, "%s:%d: %s reports %u bytes, only %llu were read\n", __FILE__, __LINE__, what,
                total_length, static_cast<unsigned long long>(buffer_size));
    return static_cast<VK_DWORD>(buffer_size);
}

VK_BYTE ChooseVersionByStructureLength(VK_DWORD fixed_length, VK_DWORD parameters_total_length) {
    if (fixed_length >= 317) {
        return parameters_total_length >= 207 ? 5 : 4;
    }
    if (fixed_length >= 293) {
        return 4;
    }
    if (fixed_length == 292) {
        return 3;
    }
    if (fixed_length >= 290) {
        return 2;
    }
    return 1;
}

ERASE_STATE* GetEraseStatusBuffer(PCDA cda, VK_WORD pd_number, VK_QWORD* buffer_size);

} // namespace

// ---- Start-up and lifecycle -------------------------------------------------------------------

size_t VK_GetCDASize(void) {
    return sizeof(_CDA);
}

VK_BYTE _VK_ChooseFirmwareFeatureVersion(const IDENTIFY_CONTROLLER* identify,
                                         VK_DWORD parameters_total_length, VK_BOOL feature_pages) {
    if (identify == nullptr) {
        return 1;
    }
    const VK_WORD vendor = identify->wPCIVendorID;
    const VK_WORD device = identify->wPCIDeviceID;
    if (vendor == kFirmwareFeaturePCIVendorID1 && device == kFirmwareFeaturePCIDeviceID1) {
        return 4;
    }
    if (vendor == kFirmwareFeaturePCIVendorID2) {
        if (device == kFirmwareFeaturePCIDeviceID3) {
            return 5;
        }
        if (device == kFirmwareFeaturePCIDeviceID1) {
            return 6;
        }
        if (device == kFirmwareFeaturePCIDeviceID2) {
            return 7;
        }
    }
    if (feature_pages) {
        return 8;
    }
    return ChooseVersionByStructureLength(identify->dwFixedStructureLength, parameters_total_length);
}

namespace {

// Zeroes a data area without touching the pages that hold nothing yet. The tool's areas are fresh
// allocations, zero already, and most of their 940 KiB is never used: writing it all cost a page fault
// per page and made every page resident. Pages in memory are cleared; the others are dropped, which
// reads back as zero only for private anonymous memory. MADV_FREE is refused for any other kind (and
// for locked memory), and those pages are cleared as well.
void ZeroDataArea(void* area, size_t size) {
    auto* const begin = static_cast<unsigned char*>(area);
    unsigned char* const end = begin + size;
    const long page_size = sysconf(_SC_PAGESIZE);
    const auto page = static_cast<uintptr_t>(page_size > 0 ? page_size : 1);
    auto* const first =
        reinterpret_cast<unsigned char*>((reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1));
    auto* const last = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(end) & ~(page - 1));
    if (page_size <= 0 || first >= last) {
        std::memset(area, 0, size);
        return;
    }
    std::memset(begin, 0, static_cast<size_t>(first - begin));
    std::memset(last, 0, static_cast<size_t>(end - last));
    constexpr size_t kPagesPerQuery = 256;
    unsigned char resident[kPagesPerQuery];
    for (unsigned char* chunk = first; chunk < last;) {
        const size_t pages = std::min<size_t>(static_cast<size_t>(last - chunk) / page, kPagesPerQuery);
        const size_t length = pages * page;
        if (mincore(chunk, length, resident) != 0) {
            std::memset(chunk, 0, length);
            chunk += length;
            continue;
        }
        for (size_t i = 0; i < pages;) {
            const bool in_memory = (resident[i] & 1) != 0;
            size_t j = i + 1;
            while (j < pages && ((resident[j] & 1) != 0) == in_memory) {
                ++j;
            }
            unsigned char* const run = chunk + i * page;
            const size_t run_length = (j - i) * page;
            if (in_memory || madvise(run, run_length, MADV_FREE) != 0 ||
                madvise(run, run_length, MADV_DONTNEED) != 0) {
                std::memset(run, 0, run_length);
            }
            i = j;
        }
        chunk += length;
    }
}

} // namespace

VK_WORD VK_InitializeCDA(PCDA cda, void* controller_handle) {
    if (cda == nullptr || controller_handle == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    DeviceDescriptor copy = PN_CopyDeviceDescriptor(controller_handle);
    if (copy == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    _CDA* c = _VK_CDA(cda);
    ZeroDataArea(c, sizeof(*c));
    c->Signature = kCDASignature;
    c->controller_handle = copy;
    if (!_PN_MutexCreate(&c->lock) || !_PN_MutexCreate(&c->event_lock)) {
        _PN_MutexDelete(c->lock);
        c->lock = nullptr;
        return kInitializeFailedFailedToInitializeLocks;
    }
    return __VK_InitializeCDA(cda);
}

VK_WORD __VK_InitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        PN_DebugLog(
            1, 0, "%s:%d: Assertion 'VK_RequestIdentifyControllerBuffer(cda)' failed: Controller ID Failed\n",
            __func__, __LINE__);
        if (!VK_RequestIdentifyControllerBuffer(cda)) {
            return kInitializeFailed | kInitializeFailedCommunicationError;
        }
    }
    if (c->identify_controller_buffer.dwFixedStructureLength < kMinimumIdentifyFixedLength ||
        !VK_RequestSenseControllerParametersBuffer(cda)) {
        PN_DebugLog(1, 0, "%s:%d: Device not a supported controller\n", __FILE__, __LINE__);
        return kInitializeFailed | kInitializeFailedControllerNotSupported;
    }
    c->controller_firmware_feature_version = _VK_ChooseFirmwareFeatureVersion(
        &c->identify_controller_buffer, c->sense_controller_parameters_buffer.dwTotalStructureLength,
        VK_ControllerFeaturePagesSupported(cda));
    // The cache status is wanted early but a controller without it still works.
    VK_RequestSenseCacheConfigStatusBuffer(cda);
    return kInitializeSucceeded;
}

void __VK_ClearPhysicalDeviceHandles(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    for (PhysicalDriveRecord& record : _VK_CDA(cda)->pd_record_list) {
        VK_free(record.physical_drive_handle);
        record.physical_drive_handle = nullptr;
    }
}

void __VK_ClearPhysicalDriveRecords(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    __VK_ClearPhysicalDeviceHandles(cda);
    for (PhysicalDriveRecord& record : _VK_CDA(cda)->pd_record_list) {
        VK_free(record.additional_lun_info);
        std::memset(&record, 0, sizeof(record));
    }
}

void __VK_ClearLogicalDriveHandles(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    for (LogicalDriveRecord& record : _VK_CDA(cda)->ld_record_list) {
        VK_free(record.logical_drive_handle);
        record.logical_drive_handle = nullptr;
    }
}

void __VK_ClearLogicalDriveRecords(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    __VK_ClearLogicalDriveHandles(cda);
    std::memset(_VK_CDA(cda)->ld_record_list, 0, sizeof(_VK_CDA(cda)->ld_record_list));
}

VK_WORD __VK_UnInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    __VK_ClearPhysicalDriveRecords(cda);
    __VK_ClearLogicalDriveRecords(cda);
    std::memset(c->array_record_list, 0, sizeof(c->array_record_list));
    std::memset(c->se_record_list, 0, sizeof(c->se_record_list));
    // The cached bytes stay; their cleared bits make them stale.
    std::memset(c->flags, 0, sizeof(c->flags));
    return 1;
}

VK_WORD VK_ReInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    __VK_UnInitializeCDA(cda);
    return __VK_InitializeCDA(cda);
}

VK_WORD VK_ReenumerateCDA(PCDA cda) {
    if (cda == nullptr) {
        return kInitializeFailedInvalidArgument;
    }
    CDALock guard(cda);
    __VK_UnInitializeCDA(cda);
    const VK_WORD result = __VK_InitializeCDA(cda);
    if (result != kInitializeSucceeded) {
        return result;
    }
    // Each load stands alone: what a controller cannot answer stays unloaded.
    VK_RequestIdentifyControllerBuffer(cda);
    VK_RequestFeaturePages(cda);
    VK_RequestSenseControllerParametersBuffer(cda);
    VK_RequestSenseCacheConfigStatusBuffer(cda);
    VK_RequestLUCacheRAMInfoBuffer(cda);
    VK_RequestSenseSubsystemParametersBuffer(cda);
    VK_RequestGetPowerModeBuffer(cda);
    VK_RequestGetDefaultPowerModeBuffer(cda);
    VK_RequestSurfaceStatusBuffer(cda);
    VK_RequestEraseStatusBuffer(cda);
    VK_RequestSenseMNPStatusBuffer(cda);
    VK_RequestSenseExpansionAbilityBuffer(cda);
    VK_RequestManufacturingData(cda);
    VK_RequestRemoteVolumeRecords(cda);
    VK_RequestOnlineFirmwareActivationStatus(cda);
    VK_RequestEncryptionPasswordRecoveryQuestion(cda);
    VK_RequestEncryptionServerName(cda);
    VK_RequestEncryptionBootPasswordStatus(cda);
    VK_RequestEncryptionKeyManagerStatus(cda);
    VK_RequestEncryptionRoleAttributes(cda);
    VK_RequestEncryptionKekCacheAttributes(cda);
    VK_RequestEncryptionBootStatus(cda);
    VK_RequestEncryptionIKekStatus(cda);
    VK_RequestEncryptionFeatures(cda);
    VK_RequestManagedSEDStatus(cda);
    VK_RequestManagedSEDMasterKeyIdentifier(cda);
    // The array model, enclosures, drive and logical-drive records and host descriptors reload here
    // once their loaders are part of the library.
    return 1;
}

VK_WORD VK_UnInitializeCDA(PCDA cda) {
    if (cda == nullptr) {
        return 1;
    }
    _CDA* c = _VK_CDA(cda);
    __VK_UnInitializeCDA(cda);
    if (c->editable_configuration != nullptr) {
        VK_DestroyEditableConfiguration(cda);
    }
    VK_free(c->controller_handle);
    c->controller_handle = nullptr;
    _PN_MutexDelete(c->event_lock);
    c->event_lock = nullptr;
    _PN_MutexDelete(c->lock);
    c->lock = nullptr;
    return 1;
}

void _VK_DestroyEditableConfiguration(PEDITABLE_CONFIGURATION editable_configuration) {
    if (editable_configuration == nullptr) {
        return;
    }
    for (size_t index = 0; index < 64; ++index) {
        VK_free(editable_configuration->editable_ld_list[index]);
        VK_free(editable_configuration->editable_array_list[index]);
    }
    VK_free(editable_configuration);
}

void VK_DestroyEditableConfiguration(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (c->editable_configuration != nullptr) {
        _VK_DestroyEditableConfiguration(c->editable_configuration);
        c->editable_configuration = nullptr;
    }
}

VK_BOOL _VK_InvalidatePDRecordIDPDBuffer(PCDA cda, VK_WORD pd_number) {
    if (pd_number >= kMaxPhysicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: Error: PD number out of range\n", __FILE__, __LINE__);
        return kFalse;
    }
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _VK_CDA(cda)->pd_record_list[pd_number].flags &= static_cast<VK_WORD>(~kPDRecordIdentifyValid);
    return kTrue;
}

// ---- Cached controller-level buffers ------------------------------------------------------------

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

#define ENCRYPTION_LOADER(name, function, member, bit)                                                       \
    VK_BOOL name(PCDA cda) {                                                                                 \
        if (cda == nullptr) {                                                                                \
            return kFalse;                                                                                   \
        }                                                                                                    \
        _CDA* c = _VK_CDA(cda);                                                                              \
        return VK_RequestEncryptionBuffer(cda, function, &c->member, sizeof(c->member), bit);                \
    }

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

VK_BOOL VK_RequestManagedSEDStatus(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    return VK_RequestManagedSEDBuffer(cda, kManagedSEDFunctionStatus, &c->managed_sed_status_buffer,
                                      sizeof(c->managed_sed_status_buffer), kCDAValidManagedSEDStatus);
}

VK_BOOL VK_RequestManagedSEDMasterKeyIdentifier(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    _CDA* c = _VK_CDA(cda);
    return VK_RequestManagedSEDBuffer(
        cda, kManagedSEDFunctionMasterKeyIdentifier, &c->managed_sed_master_key_id_buffer,
        sizeof(c->managed_sed_master_key_id_buffer), kCDAValidManagedSEDMasterKeyIdentifier);
}

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
    VK_BYTE* report = CISS_Report_LogicalEx(c->controller_handle);
    if (report == nullptr) {
        return kFalse;
    }
    // The report's list length never passes its buffer, so these entries all lie inside it.
    const VK_DWORD num_ld_entries = BIG_ENDIAN_2_VK_DWORD(report) / kCISSReportEntrySize;
    if (num_ld_entries > kMaxReportLogicalLunsEntries) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'num_ld_entries <= (64 + ((513 - 1) * 16))' failed: Too many entries in CISS "
            "REPORT LOG\n",
            __func__, __LINE__);
        VK_free(report);
        return kFalse;
    }
    const auto* entries =
        reinterpret_cast<const REPORT_LOGICAL_LUNS_EX_ENTRY*>(report + kCISSReportHeaderSize);
    for (VK_DWORD i = 0; i < num_ld_entries && c->remote_volume_count < kMaxRemoteVolumesSupported; ++i) {
        if (entries[i].bDeviceAddress[4] == 1) {
            std::memcpy(c->remote_volume_record_list[c->remote_volume_count].device_unique_id,
                        entries[i].bDeviceUniqueID, sizeof(entries[i].bDeviceUniqueID));
            ++c->remote_volume_count;
        }
    }
    BufferFlags(c) |= kCDAValidRemoteVolumes;
    VK_free(report);
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
        VK_QWORD size = 0;
        ERASE_STATE* reply = GetEraseStatusBuffer(cda, kAllPhysicalDrives, &size);
        if (reply != nullptr) {
            // Only bytes that were read: the reply's own total may claim more.
            const VK_QWORD end = std::min<VK_QWORD>(reply->dwTotalStructureLength, size);
            const VK_QWORD start = reply->wOffsetToPhysicalDriveEraseState;
            if (start < end) {
                const size_t count = static_cast<size_t>(std::min<VK_QWORD>(end - start, kEraseListBytes));
                std::memcpy(c->pd_erase_status_list, reinterpret_cast<const VK_BYTE*>(reply) + start, count);
            }
            BufferFlags(c) |= kCDAValidEraseStatus;
            VK_free(reply);
        }
    }
    return (BufferFlags(c) & kCDAValidEraseStatus) ? kTrue : kFalse;
}

// ---- Replies read on demand ---------------------------------------------------------------------

SURFACE_STATUS* __VK_RequestCompleteSurfaceStatusBufferWithSize(PCDA cda, VK_DWORD buffer_size) {
    if (cda == nullptr || buffer_size < sizeof(SURFACE_STATUS)) {
        return nullptr;
    }
    bool allocated = false;
    VK_BYTE* buffer = ReadNewBuffer(_VK_CDA(cda), BMIC_SENSE_SURFACE_STATUS, 0, 0, buffer_size, &allocated);
    if (!allocated) {
        PN_DebugLog(1, 0, "%s:%d: Failed to allocate buffer of %u bytes for BMIC_SENSE_SURFACE_STATUS\n",
                    __FILE__, __LINE__, buffer_size);
    }
    return reinterpret_cast<SURFACE_STATUS*>(buffer);
}

SURFACE_STATUS* VK_RequestCompleteSurfaceStatusBuffer(PCDA cda) {
    SURFACE_STATUS* status = __VK_RequestCompleteSurfaceStatusBufferWithSize(cda, kSurfaceStatusDefaultSize);
    if (status == nullptr || status->dwTotalStructureLength <= kSurfaceStatusDefaultSize) {
        return status;
    }
    const VK_DWORD total = status->dwTotalStructureLength;
    PN_DebugLog(3, 0,
                "%s:%d: SURFACE_STATUS total structure length (%u bytes) is more than initial buffer size "
                "(%u bytes)\n",
                __FILE__, __LINE__, total, kSurfaceStatusDefaultSize);
    VK_free(status);
    status = __VK_RequestCompleteSurfaceStatusBufferWithSize(cda, total);
    if (status != nullptr) {
        status->dwTotalStructureLength =
            BoundTotalLength(status->dwTotalStructureLength, total, "SURFACE_STATUS");
    }
    return status;
}

namespace {

ERASE_STATE* GetEraseStatusBuffer(PCDA cda, VK_WORD pd_number, VK_QWORD* buffer_size) {
    // The assertions speak for the public reader, whichever caller got here.
    static constexpr const char* kEraseStatusReader = "VK_GetEraseStatusBuffer";
    *buffer_size = 0;
    if (cda == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    const VK_QWORD drives = (pd_number == kAllPhysicalDrives) ? kMaxPhysicalDrivesSupported - 1u : pd_number;
    const VK_QWORD default_size = kEraseStateHeaderSize + 2 * (drives + 1);
    auto read = [c](VK_QWORD size) {
        bool allocated = false;
        auto* reply =
            reinterpret_cast<ERASE_STATE*>(ReadNewBuffer(c, BMIC_SENSE_ERASE_STATUS, 0, 0, size, &allocated));
        if (!allocated) {
            PN_DebugLog(1, 0, "%s:%d: Failed to allocate ERASE STATE buffer\n", __FILE__, __LINE__);
        }
        return reply;
    };
    ERASE_STATE* reply = read(default_size);
    if (reply == nullptr) {
        return nullptr;
    }
    if (reply->wMaximumPhysicalDevicesSupported > kMaxPhysicalDrivesSupported) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->wMaximumPhysicalDevicesSupported <= "
            "kMaxPhysicalDrivesSupported' failed: Erase status buffer supports more pd entries than we "
            "support\n",
            kEraseStatusReader, __LINE__);
    }
    if (reply->wMaximumLogicalDevicesSupported > kMaxLogicalDrivesSupported) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->wMaximumLogicalDevicesSupported <= "
            "kMaxLogicalDrivesSupported' failed: Erase status buffer supports more ld entries than we "
            "support\n",
            kEraseStatusReader, __LINE__);
    }
    const VK_DWORD total = reply->dwTotalStructureLength;
    if (total == 0) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->dwTotalStructureLength > 0' failed: Failed to get buffer "
            "size for ERASE_STATE\n",
            kEraseStatusReader, __LINE__);
        VK_free(reply);
        return nullptr;
    }
    VK_QWORD size = default_size;
    if (total > default_size) {
        VK_free(reply);
        reply = read(total);
        if (reply == nullptr) {
            return nullptr;
        }
        size = total;
        reply->dwTotalStructureLength = BoundTotalLength(reply->dwTotalStructureLength, size, "ERASE_STATE");
    }
    *buffer_size = size;
    return reply;
}

} // namespace

ERASE_STATE* VK_GetEraseStatusBuffer(PCDA cda, VK_WORD pd_number) {
    VK_QWORD size = 0;
    return GetEraseStatusBuffer(cda, pd_number, &size);
}

VK_BYTE* _VK_GetSenseSensorInfoBuffer(PCDA cda, VK_BYTE subcommand) {
    if (cda == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    const VK_WORD lun = static_cast<VK_WORD>((subcommand & 0x0F) << 8);
    VK_QWORD total_buffer_size = sizeof(SENSE_SENSORS_INFO_FIXED) + kDefaultSensorCount * sizeof(SENSOR_INFO);
    bool allocated = false;
    VK_BYTE* return_buffer = ReadNewBuffer(c, BMIC_SENSE_SENSORS, 0, lun, total_buffer_size, &allocated);
    if (!allocated) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'return_buffer != NULL' failed: Failed to allocate SENSE_SENSORS_INFO_FIXED "
            "buffer\n",
            __func__, __LINE__);
        return nullptr;
    }
    if (return_buffer == nullptr) {
        if (subcommand != 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion '(success || (subcommand == 0))' failed: Failed to get sensor "
                        "status buffer\n",
                        __func__, __LINE__);
        }
        return nullptr;
    }
    auto sensor_count = [&] {
        return reinterpret_cast<const SENSE_SENSORS_INFO_FIXED*>(return_buffer)->number_of_sensors;
    };
    if (sensor_count() > kDefaultSensorCount) {
        PN_DebugLog(2, 0, "%s:%d: Detected more than %u sensors, increase default sensors count\n", __FILE__,
                    __LINE__, kDefaultSensorCount);
        total_buffer_size =
            sizeof(SENSE_SENSORS_INFO_FIXED) + static_cast<VK_QWORD>(sensor_count()) * sizeof(SENSOR_INFO);
        VK_free(return_buffer);
        return_buffer = ReadNewBuffer(c, BMIC_SENSE_SENSORS, 0, lun, total_buffer_size, &allocated);
        if (!allocated) {
            PN_DebugLog(
                1, 0, "%s:%d: Assertion 'return_buffer != ((void *)0)' failed: Failed to realloc SenseInfo\n",
                __func__, __LINE__);
            return nullptr;
        }
        if (return_buffer == nullptr) {
            // A size the CDB cannot state was logged as such; only a failed read is this assertion.
            if (total_buffer_size <= kMaxBMICTransferLength) {
                PN_DebugLog(
                    1, 0,
                    "%s:%d: Assertion 'success' failed: Failed to get sensor status buffer (on resized "
                    "attempt)\n",
                    __func__, __LINE__);
            }
            return nullptr;
        }
        if (sensor_count() != (total_buffer_size - sizeof(SENSE_SENSORS_INFO_FIXED)) / sizeof(SENSOR_INFO)) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'return_buffer->number_of_sensors == "
                "((total_buffer_size-sizeof(SENSE_SENSORS_INFO_FIXED))/sizeof(SENSOR_INFO))' failed: Failed "
                "to get sensor data for all sensors on last attempt\n",
                __func__, __LINE__);
        }
    }
    if (static_cast<VK_QWORD>(sensor_count()) * sizeof(SENSOR_INFO) + sizeof(SENSE_SENSORS_INFO_FIXED) >
        total_buffer_size) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'return_buffer->number_of_sensors * sizeof(SENSOR_INFO) + "
            "sizeof(SENSE_SENSORS_INFO_FIXED) <= total_buffer_size' failed: Sense sensor info overflow\n",
            __func__, __LINE__);
        VK_free(return_buffer);
        return nullptr;
    }
    return return_buffer;
}

VK_BYTE* VK_GetSenseSensorInfoBuffer(PCDA cda) {
    return _VK_GetSenseSensorInfoBuffer(cda, kAllSensors);
}

VK_BYTE* VK_GetSenseTemperatureSensorInfoBuffer(PCDA cda) {
    return _VK_GetSenseSensorInfoBuffer(cda, kTemperatureSensorsOnly);
}

PMIRROR_DRIVE_PAIR_INFO VK_GetMirrorPairInfo(PCDA cda, VK_WORD ld_number) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: error: Request for ld out of range", __FILE__, __LINE__);
        return nullptr;
    }
    if (cda == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    const char* const function = __func__;
    // Both reads log a failed allocation alike and a failed read each in its own words.
    auto read = [&](VK_QWORD size, const char* read_failure) {
        bool allocated = false;
        auto* info = reinterpret_cast<PMIRROR_DRIVE_PAIR_INFO>(
            ReadNewBuffer(c, BMIC_SENSE_MIRROR_PAIR_INFO, 0, ld_number, size, &allocated));
        if (!allocated) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'drive_pair_info != NULL' failed: Failed to allocate "
                        "MIRROR_DRIVE_PAIR_INFO buffer\n",
                        function, __LINE__);
        } else if (info == nullptr) {
            PN_DebugLog(1, 0, read_failure, function, __LINE__);
        }
        return info;
    };
    PMIRROR_DRIVE_PAIR_INFO drive_pair_info =
        read(kMirrorDrivePairInfoDefaultSize,
             "%s:%d: Assertion 'success' failed: Failed to get mirror pair information\n");
    if (drive_pair_info == nullptr) {
        return nullptr;
    }
    const VK_DWORD total = drive_pair_info->dwTotalStructureLength;
    if (total <= kMirrorDrivePairInfoDefaultSize) {
        return drive_pair_info;
    }
    PN_DebugLog(
        3, 0,
        "%s:%d: Mirror pair information uses extended map, attempting to retrieve entire information map\n",
        __FILE__, __LINE__);
    VK_free(drive_pair_info);
    drive_pair_info = read(total, "%s:%d: Assertion 'success' failed: Get mirror pair info failed\n");
    if (drive_pair_info == nullptr) {
        return nullptr;
    }
    drive_pair_info->dwTotalStructureLength =
        BoundTotalLength(drive_pair_info->dwTotalStructureLength, total, "MIRROR_DRIVE_PAIR_INFO");
    return drive_pair_info;
}
