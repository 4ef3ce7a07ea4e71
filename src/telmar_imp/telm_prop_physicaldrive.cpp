// Physical devices: enumeration, identity, sizes, temperatures and the LUN list; how a device is
// attached (PHYs, link rates, paths, location text) and the controller connector it hangs off. Then
// the drive's flag set, wear, carrier, sanitize lock, erase state, statistics and boot eligibility.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ppavl_reportluns.h"
#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "ptelm_utils.h"
#include "telm_cda_internal.h"
#include "telm_drive_decode.h"
#include "telm_records.h"
#include "telm_passthrough.h"
#include "telm_private.h"
#include "telm_private_utils.h"

static_assert(sizeof(PHYSICAL_DRIVE_LUN_INFO) == 112);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO, wwid) == 1);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO, wwid_str) == 21);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO, unique_volume_id) == 62);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO, total_size_in_bytes) == 96);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO, total_size_in_blocks) == 104);
static_assert(sizeof(PHYSICAL_DRIVE_LUN_INFO_LIST) == 16);
static_assert(offsetof(PHYSICAL_DRIVE_LUN_INFO_LIST, lun_info) == 8);

namespace {

constexpr size_t kPortTableEntries = 8;
constexpr size_t kLongNameLength = 8;
constexpr size_t kPathCount = 8;
constexpr size_t kPhyTableEntries = 256;
constexpr size_t kConnectorInfoEntries = 4;
constexpr VK_DWORD kConnectorNumbersValid = 0x100000; // IDENTIFY dwYetMoreControllerFlags
constexpr VK_DWORD kPerConnectorNumbers = 0x1000;     // IDENTIFY dwExtraControllerFlags
constexpr VK_DWORD kMinimumFixedLength = 286;
constexpr VK_WORD kSolidStateFlag = 0x20;             // wExtraDeviceFlags
constexpr VK_BYTE kExternalConnectorFlag = 0x10;      // bMoreDeviceFlags

#define PD_SOFT_ASSERT(expression, explanation)                                                              \
    PN_DebugLog(1, 0, "%s:%d: Assertion '%s' failed: %s\n", __func__, __LINE__, expression, explanation)

const CDA_PHYSICAL_DRIVE_STATUS& Record(PCDA cda, VK_WORD n) {
    return _VK_CDA(cda)->pd_record_list[n].identify_physical_drive_buffer;
}

// The cached identify record, or nullptr when it cannot be loaded. The caller holds the lock.
const CDA_PHYSICAL_DRIVE_STATUS* Identify(PCDA cda, VK_WORD n) {
    if (cda == nullptr || n >= kMaxPhysicalDrivesSupported || !VK_RequestIdentifyPhysicalDriveBuffer(cda, n)) {
        return nullptr;
    }
    return &Record(cda, n);
}

// Device numbers the controller can have: below its maximum and below the table's 384.
size_t DeviceLimit(PCDA cda) {
    return std::min<size_t>(_VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                            kMaxPhysicalDrivesSupported);
}

// Number below the controller's maximum with IDENTIFY CONTROLLER at hand.
bool WithinController(PCDA cda, VK_WORD n) {
    return n < kMaxPhysicalDrivesSupported && VK_RequestIdentifyControllerBuffer(cda) && n < DeviceLimit(cda);
}

// The PHY count as far as the 256-entry per-PHY tables go.
size_t PhyEntries(const CDA_PHYSICAL_DRIVE_STATUS& pd) {
    return std::min<size_t>(pd.wPHYCount, kPhyTableEntries);
}

VK_BYTE LunCount(const CDA_PHYSICAL_DRIVE_STATUS& pd) {
    return pd.bMultiLUNDeviceLUNCount == 0 ? 1 : pd.bMultiLUNDeviceLUNCount;
}

// The extra LUN entries kept for the drive: LUNs 1 to count - 1 of a drive of 2 to 4 LUNs whose
// entries were read; none otherwise.
size_t ExtraLunEntries(const PhysicalDriveRecord& record) {
    const VK_BYTE luns = LunCount(record.identify_physical_drive_buffer);
    if (record.additional_lun_info == nullptr || luns < 2 || luns > kMaxPhysicalDriveLunsSupported) {
        return 0;
    }
    return luns - 1u;
}

// Significant bytes of a WWID: trailing zero bytes dropped, at least 8.
size_t SignificantWwidBytes(const VK_BYTE* wwid, size_t size) {
    size_t n = size;
    while (n > 0 && wwid[n - 1] == 0) {
        --n;
    }
    return std::max<size_t>(n, 8);
}

// Appends text to a NUL-terminated buffer, never past its size.
void Append(char* buffer, size_t size, const char* text) {
    const size_t used = strnlen(buffer, size);
    if (used + 1 >= size) {
        return;
    }
    const size_t length = strnlen(text, size - used - 1);
    std::memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}

// A box or bay number, or "Unknown" for 0xFF.
void AppendNumber(char* buffer, size_t size, VK_BYTE value) {
    if (value == 0xFF) {
        Append(buffer, size, "Unknown");
        return;
    }
    char text[4] = {};
    size_t digits = 0;
    if (value >= 100) {
        text[digits++] = static_cast<char>('0' + value / 100);
    }
    if (value >= 10) {
        text[digits++] = static_cast<char>('0' + value / 10 % 10);
    }
    text[digits] = static_cast<char>('0' + value % 10);
    Append(buffer, size, text);
}

// A fixed-width name with blanks trimmed, into `out` (at least width + 1 bytes).
void TrimmedName(const char* field, size_t width, char* out, size_t out_size) {
    std::memset(out, 0, out_size);
    __VK_ConvertCharBufferToString(field, width, out, out_size - 1, kTrue, kTrue, kTrue, kTrue, ' ');
}

// A port name as shown: "??" reads "Unknown".
void AppendPort(char* buffer, size_t size, const char* port) {
    Append(buffer, size, std::strcmp(port, "??") == 0 ? "Unknown" : port);
}

} // namespace

namespace {

// Connector counts as the port tables can hold them.
void PortCounts(const SUBSYSTEM_PARAMETERS& s, size_t* internal, size_t* external) {
    *internal = s.bInternalPortCount < kPortTableEntries ? s.bInternalPortCount : kPortTableEntries;
    *external = s.bExternalPortCount < kPortTableEntries ? s.bExternalPortCount : kPortTableEntries;
}

VK_WORD ByName(PCDA cda, const SUBSYSTEM_PARAMETERS& s, const CDA_PHYSICAL_DRIVE_STATUS& pd) {
    size_t internal = 0, external = 0;
    PortCounts(s, &internal, &external);
    const bool long_box = VK_ControllerSupportsLongBoxConnectorName(cda) != kFalse;
    const bool long_names = !long_box && VK_ControllerSupportsLongConnectorNames(cda) != kFalse;
    for (size_t t = 0; t < internal + external; ++t) {
        const bool inside = t < internal;
        const size_t i = inside ? t : t - internal;
        const char* long_name = inside ? s.longConnectorNameInternal[i] : s.longConnectorNameExternal[i];
        bool match = false;
        if (long_box) {
            match = std::memcmp(pd.bLongBoxConnectorName, long_name, kLongNameLength) == 0;
        } else if (long_names) {
            // A path number past the eight names matches nothing.
            match = pd.bActivePathNumber < 8 &&
                    std::memcmp(pd.sLongConnectorName + pd.bActivePathNumber * kLongNameLength, long_name,
                                kLongNameLength) == 0;
        } else {
            const PHYSICAL_PORT_INFO& port = inside ? s.internalPortInfo[i] : s.externalPortInfo[i];
            match = std::memcmp(pd.sPhysicalPort, port.sPhysicalPort, sizeof(port.sPhysicalPort)) == 0;
        }
        if (match) {
            return static_cast<VK_WORD>(t);
        }
    }
    return kInvalidConnectorIndex;
}

VK_WORD ByNumber(const _CDA* c, VK_WORD pd_number, const CDA_PHYSICAL_DRIVE_STATUS& pd) {
    const IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
    if (!(id.dwYetMoreControllerFlags & kConnectorNumbersValid) || id.dwFixedStructureLength <= kMinimumFixedLength ||
        c->controller_firmware_feature_version <= 4 || !(id.dwExtraControllerFlags & kPerConnectorNumbers)) {
        return kInvalidConnectorIndex;
    }
    if (pd.bActivePathNumber > 3) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'PD_IDENT_BUFFER->bActivePathNumber < 4' failed: Active path index (%u) out "
                    "of range for pd %u\n",
                    "VK_GetConnectorIndexOfPhysicalDrive", __LINE__, static_cast<unsigned>(pd.bActivePathNumber),
                    static_cast<unsigned>(pd_number));
        return kInvalidConnectorIndex;
    }
    const VK_BYTE number = pd.bConnectorInfo[pd.bActivePathNumber];
    const SUBSYSTEM_PARAMETERS& s = c->sense_subsystem_parameters_buffer;
    size_t internal = 0, external = 0;
    PortCounts(s, &internal, &external);
    for (size_t t = 0; t < internal + external; ++t) {
        const ADDITIONAL_PHYSICAL_PORT_INFO& port =
            t < internal ? s.additionalInternalPortInfo[t] : s.additionalExternalPortInfo[t - internal];
        if (port.bConnectionNumber == number) {
            return static_cast<VK_WORD>(t);
        }
    }
    return kInvalidConnectorIndex;
}

} // namespace

VK_WORD VK_GetConnectorIndexOfPhysicalDrive(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidConnectorIndex;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) || !VK_RequestIdentifyControllerBuffer(cda) ||
        !VK_RequestSenseSubsystemParametersBuffer(cda)) {
        return kInvalidConnectorIndex;
    }
    const _CDA* c = _VK_CDA(cda);
    const CDA_PHYSICAL_DRIVE_STATUS& pd = c->pd_record_list[pd_number].identify_physical_drive_buffer;
    const VK_WORD by_name = ByName(cda, c->sense_subsystem_parameters_buffer, pd);
    return by_name != kInvalidConnectorIndex ? by_name : ByNumber(c, pd_number, pd);
}

VK_WORD VK_GetPhysicalDriveConnectorIndex(PCDA cda, VK_WORD pd_number) {
    return VK_GetConnectorIndexOfPhysicalDrive(cda, pd_number);
}

VK_BOOL _VK_IsPhysicalDriveSupportedForConfig(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) &&
                   _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.bQRBSupport == 0
               ? kTrue
               : kFalse;
}

// ---- Enumeration and configuration facts ------------------------------------------------------------

VK_WORD VK_EnumerateControllerPhysicalDrives(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return kInvalidPDNumber;
    }
    const _CDA* c = _VK_CDA(cda);
    const size_t limit = _VK_PDRecordsToScan(c, DeviceLimit(cda));
    for (size_t p = static_cast<VK_WORD>(pd_number + 1); p < limit; ++p) {
        if (c->pd_record_list[p].flags & kPDRecordDrive) {
            return static_cast<VK_WORD>(p);
        }
    }
    return kInvalidPDNumber;
}

VK_WORD telmar::NextNonDiskDevice(PCDA cda, VK_WORD number, VK_BYTE device_type) {
    if (cda == nullptr) {
        return 0xFFFF;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return 0xFFFF;
    }
    const _CDA* c = _VK_CDA(cda);
    const size_t limit = _VK_PDRecordsToScan(c, DeviceLimit(cda));
    for (size_t n = static_cast<VK_WORD>(number + 1); n < limit; ++n) {
        if ((c->pd_record_list[n].flags & kPDRecordNonDisk) &&
            VK_PhysicalDeviceType(cda, static_cast<VK_WORD>(n)) == device_type) {
            return static_cast<VK_WORD>(n);
        }
    }
    return 0xFFFF;
}

VK_WORD VK_GetPhysicalDriveArray(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidArrayNumber;
    }
    CDALock guard(cda);
    VK_WORD array = kInvalidArrayNumber;
    FOREACH_ARRAY_OF_TYPE(cda, kArrayTypeAny, array) {
        if (telmar::ArrayHoldsDrive(cda, array, pd_number)) {
            return array;
        }
    }
    return kInvalidArrayNumber;
}

VK_WORD VK_GetPhysicalDeviceStorageEnclosureNumber(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidSENumber;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    return pd != nullptr ? pd->bBoxIndex : kInvalidSENumber;
}

VK_DWORD VK_GetPhysicalDriveBasicInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr || !VK_RequestArrayConfigurationInformation(cda)) {
        return 0;
    }
    const VK_WORD flags = _VK_CDA(cda)->pd_record_list[pd_number].flags;
    VK_DWORD info = 0;
    switch (pd->bDeviceType) {
    case 2: info |= kPhysicalDriveTypeSAS; break;
    case 1: info |= kPhysicalDriveTypeSATA; break;
    case 9: info |= kPhysicalDriveTypeNVMe; break;
    case 10: info |= kPhysicalDriveTypeUnknown; break;
    default: break;
    }
    if ((info & kPhysicalDriveTypeNVMe) || (pd->dwRPM == 1 && (pd->wExtraDeviceFlags & kSolidStateFlag))) {
        info |= kPhysicalDriveTypeSSD;
    } else if (pd->dwRPM != 0 || (flags & kPDRecordPresent)) {
        info |= kPhysicalDriveTypeHDD;
        if (pd->dwMiscDriveFlags & 0x800) {
            info |= kPhysicalDriveRecordingSMRHA;
        } else if (pd->dwMiscDriveFlags & 0x1000) {
            info |= kPhysicalDriveRecordingSMRHM;
        } else if (pd->dwMiscDriveFlags & 0x2000) {
            info |= kPhysicalDriveRecordingSMRDM;
        }
    }
    if (pd->bMultiLUNDeviceLUNCount > 1) {
        info |= kPhysicalDriveIsMultiActuator;
    }
    if (flags & kPDRecordPresent) {
        info |= kPhysicalDriveIsPresent;
    }
    if (flags & kPDRecordBootConnector) {
        info |= kPhysicalDriveOnBootConnector;
    }
    if (flags & kPDRecordInstalled) {
        info |= kPhysicalDriveIsInstalled;
    }
    return info;
}

VK_BYTE VK_GetPhysicalDriveUsageInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda) || Identify(cda, pd_number) == nullptr) {
        return 0;
    }
    return _VK_CDA(cda)->pd_record_list[pd_number].pd_config_information.config_usage_info;
}

VK_QWORD VK_GetPhysicalDriveSize(PCDA cda, VK_WORD pd_number, VK_BYTE size_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr) {
        return 0;
    }
    const PhysicalDriveRecord& record = _VK_CDA(cda)->pd_record_list[pd_number];
    const PhysicalDriveConfigInformation& config = record.pd_config_information;
    VK_QWORD blocks = 0;
    VK_QWORD (*extra)(const PhysicalDriveLunInfo&) = nullptr;
    switch (size_type) {
    case kPhysicalDriveSizeTotalBlocks:
    case kPhysicalDriveSizeTotalBytes:
        blocks = config.total_size_blocks;
        extra = [](const PhysicalDriveLunInfo& l) -> VK_QWORD { return l.total_size_blocks; };
        break;
    case kPhysicalDriveSizeUsableBlocks:
    case kPhysicalDriveSizeUsableBytes:
        blocks = config.usable_size_blocks;
        extra = [](const PhysicalDriveLunInfo& l) -> VK_QWORD { return l.total_size_blocks - l.reserved_blocks; };
        break;
    case kPhysicalDriveReservedSizeBlocks:
    case kPhysicalDriveReservedSizeBytes:
        blocks = pd->dwReservedBlocks;
        extra = [](const PhysicalDriveLunInfo& l) -> VK_QWORD { return l.reserved_blocks; };
        break;
    case kPhysicalDriveBlockSizeBytes: return config.logical_block_size_bytes;
    case kPhysicalDriveNativeBlockSizeBytes: return config.physical_block_size_bytes;
    default: return 0;
    }
    const size_t entries = ExtraLunEntries(record);
    for (size_t k = 0; k < entries; ++k) {
        if (record.additional_lun_info[k].is_valid == 1) {
            blocks += extra(record.additional_lun_info[k]);
        }
    }
    if (size_type == kPhysicalDriveSizeTotalBytes || size_type == kPhysicalDriveSizeUsableBytes ||
        size_type == kPhysicalDriveReservedSizeBytes) {
        return blocks * config.logical_block_size_bytes;
    }
    return blocks;
}

// ---- Identity strings, unique id and WWID -----------------------------------------------------------

namespace {

// Unique volume id of a device as hex text: all 16 bytes for an NVMe drive whose bytes 8-15 are
// neither all zero nor all blanks, else the first 8. The caller holds the lock.
void __VK_GetPhysicalDriveUniqueVolumeIDHexString(PCDA cda, VK_WORD pd_number, char* destination,
                                                  size_t destination_size, const VK_BYTE* vol_id_source,
                                                  size_t vol_id_source_size) {
    if (destination == nullptr || vol_id_source == nullptr) {
        return;
    }
    size_t bytes = std::min<size_t>(8, vol_id_source_size);
    if (VK_GetPhysicalDriveBasicInfo(cda, pd_number) & kPhysicalDriveTypeNVMe) {
        if (vol_id_source_size < 16) {
            PD_SOFT_ASSERT("vol_id_source_size >= 16", "Unique volume id source too small for NVMe pd");
        } else {
            const VK_BYTE* tail = vol_id_source + 8;
            const bool zeros = std::all_of(tail, tail + 8, [](VK_BYTE b) { return b == 0; });
            const bool blanks = std::all_of(tail, tail + 8, [](VK_BYTE b) { return b == 0x20; });
            if (!zeros && !blanks) {
                bytes = 16;
            }
        }
    }
    VK_ConvertBufferToHexStringSafe(destination, destination_size, vol_id_source, bytes);
}

enum class Form { kText, kBootHex, kUniqueHex };

struct StringMember {
    const char* name;
    size_t offset; // in the compact identify copy
    size_t width;
    size_t limit; // the buffer must be larger than this
    Form form;
};

#define PD_FIELD(field) offsetof(CDA_PHYSICAL_DRIVE_STATUS, field)
constexpr StringMember kModel{"model", PD_FIELD(sFullLengthDeviceModel), 48, 48, Form::kText};
constexpr StringMember kSerial{"serial number", PD_FIELD(sDriveSerialNumber), 40, 40, Form::kText};
constexpr StringMember kFirmware{"firmware version", PD_FIELD(sDriveFirmwareRevision), 8, 8, Form::kText};
constexpr StringMember kMinFirmware{"min firmware version", PD_FIELD(sMinimumGoodFirmwareRevision), 8, 8,
                                    Form::kText};
constexpr StringMember kVendor{"vendor id", PD_FIELD(sFullLengthDeviceModel), 8, 8, Form::kText};
constexpr StringMember kProduct{"product id", PD_FIELD(sFullLengthDeviceModel) + 8, 40, 40, Form::kText};
constexpr StringMember kBootId{"boot volume id", PD_FIELD(bDeviceUniqueID), 16, 32, Form::kBootHex};
constexpr StringMember kUniqueId{"unique volume id", PD_FIELD(bDeviceUniqueID), 16, 32, Form::kUniqueHex};
#undef PD_FIELD

char* StringGetter(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size, const StringMember& m,
                   const char* function) {
    if (buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer != NULL' failed: Destination for pd %s NULL\n", function,
                    __LINE__, m.name);
    }
    if (buffer_size <= m.limit) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer_size > %zu' failed: Destination for pd %s too small (%zu)\n",
                    function, __LINE__, m.limit, m.name, buffer_size);
    }
    if (buffer == nullptr || buffer_size == 0) {
        return buffer;
    }
    std::memset(buffer, 0, buffer_size);
    if (cda == nullptr) {
        return buffer;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr || buffer_size <= m.limit) {
        return buffer;
    }
    const auto* field = reinterpret_cast<const char*>(pd) + m.offset;
    const auto* bytes = reinterpret_cast<const VK_BYTE*>(field);
    switch (m.form) {
    case Form::kText:
        __VK_ConvertCharBufferToString(field, m.width, buffer, buffer_size - 1, kTrue, kTrue, kTrue, kTrue, ' ');
        break;
    case Form::kBootHex: VK_ConvertBufferToHexStringSafe(buffer, buffer_size, bytes, m.width); break;
    case Form::kUniqueHex:
        __VK_GetPhysicalDriveUniqueVolumeIDHexString(cda, pd_number, buffer, buffer_size, bytes, m.width);
        break;
    }
    return buffer;
}

} // namespace

char* VK_GetPhysicalDriveModel(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kModel, __func__);
}
char* VK_GetPhysicalDriveSerialNumber(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kSerial, __func__);
}
char* VK_GetPhysicalDriveFirmwareVersion(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kFirmware, __func__);
}
char* VK_GetPhysicalDriveMinFirmwareVersion(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kMinFirmware, __func__);
}
char* VK_GetPhysicalDriveVendorID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kVendor, __func__);
}
char* VK_GetPhysicalDriveProductID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kProduct, __func__);
}
char* VK_GetPhysicalDriveBootVolumeID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kBootId, __func__);
}
char* VK_GetPhysicalDriveUniqueVolumeID(PCDA cda, VK_WORD pd_number, char* buffer, size_t buffer_size) {
    return StringGetter(cda, pd_number, buffer, buffer_size, kUniqueId, __func__);
}

char* VK_GetPhysicalDriveWWID(PCDA cda, VK_WORD pd_number, void* wwid_buffer, size_t buffer_size,
                              VK_BOOL convert_to_string) {
    auto* out = static_cast<char*>(wwid_buffer);
    if (out == nullptr) {
        PD_SOFT_ASSERT("wwid_buffer != NULL", "Destination for pd WWID NULL");
        return nullptr;
    }
    if (buffer_size == 0) {
        return out;
    }
    std::memset(out, 0, buffer_size);
    if (cda == nullptr) {
        return out;
    }
    CDALock guard(cda);
    if (!WithinController(cda, pd_number) || !VK_RequestArrayConfigurationInformation(cda)) {
        return out;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr) {
        return out;
    }
    if (convert_to_string) {
        const size_t bytes = SignificantWwidBytes(pd->bWWID, sizeof(pd->bWWID));
        if (2 * bytes >= buffer_size) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'buffer_size > 2 * wwid_length' failed: Destination for pd WWID string "
                        "too small (%zu, %zu bytes significant)\n",
                        __func__, __LINE__, buffer_size, bytes);
            return out;
        }
        VK_ConvertBufferToHexStringSafe(out, buffer_size, pd->bWWID, bytes);
    } else {
        if (buffer_size < sizeof(pd->bWWID)) {
            PD_SOFT_ASSERT("buffer_size >= kMinGetPhysicalDriveWWIDBufferLength", "Destination for pd WWID too small");
        }
        std::memcpy(out, pd->bWWID, std::min(buffer_size, sizeof(pd->bWWID)));
    }
    return out;
}

// ---- Temperatures and speed -------------------------------------------------------------------------

VK_BYTE VK_GetPhysicalDriveCurrentTemperature(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    return pd != nullptr ? pd->bCurrentTemperature : 0;
}

VK_BYTE VK_GetPhysicalDriveMaximumTemperature(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    return pd != nullptr ? pd->bMaximumTemperature : 0;
}

VK_BYTE VK_GetPhysicalDriveTemperatureThreshold(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0xFF;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    return pd != nullptr ? pd->bTemperatureThreshold : 0xFF;
}

// A fresh read: the cached record is neither used nor refreshed, and no lock is taken.
VK_WORD VK_GetPhysicalDriveTemperatureInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return 0;
    }
    pavlin::TrackedBuffer reply = PN_TRACKED_ZEROED(sizeof(PHYSICAL_DRIVE_STATUS));
    if (!reply || !VK_GetIdentifyPhysicalDriveBuffer(cda, pd_number,
                                                     reinterpret_cast<PHYSICAL_DRIVE_STATUS*>(reply.get()))) {
        return 0;
    }
    const pavlin::ByteView view(reply.get(), reply.size());
    const VK_BYTE current = view.u8(offsetof(PHYSICAL_DRIVE_STATUS, bCurrentTemperature)).value_or(0);
    const VK_BYTE maximum = view.u8(offsetof(PHYSICAL_DRIVE_STATUS, bMaximumTemperature)).value_or(0);
    return static_cast<VK_WORD>(maximum << 8 | current);
}

VK_DWORD VK_GetPhysicalDriveRotationalSpeed(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr || pd->dwRPM < 2 || pd->bDeviceType > 2) {
        return 0;
    }
    // Rounded to the nearest hundred without wrapping; a speed too close to the top rounds down.
    const VK_QWORD rounded = (VK_QWORD{pd->dwRPM} + 50) / 100 * 100;
    return rounded <= 0xFFFFFFFFu ? static_cast<VK_DWORD>(rounded) : pd->dwRPM / 100 * 100;
}

// ---- LUN list and PCI identifiers -------------------------------------------------------------------

namespace {

void FillLunSlot(PCDA cda, VK_WORD pd_number, PHYSICAL_DRIVE_LUN_INFO& slot, VK_BYTE lun, VK_QWORD blocks,
                 VK_WORD block_size, const VK_BYTE (&wwid)[20], const VK_BYTE (&unique_id)[16]) {
    slot.lun_number = lun;
    slot.total_size_in_blocks = blocks;
    slot.total_size_in_bytes = blocks * block_size;
    std::memcpy(slot.wwid, wwid, sizeof(slot.wwid));
    VK_ConvertBufferToHexStringSafe(slot.wwid_str, sizeof(slot.wwid_str), wwid,
                                    SignificantWwidBytes(wwid, sizeof(wwid)));
    __VK_GetPhysicalDriveUniqueVolumeIDHexString(cda, pd_number, slot.unique_volume_id,
                                                 sizeof(slot.unique_volume_id), unique_id, sizeof(unique_id));
}

} // namespace

VK_BYTE VK_GetPhysicalDriveLunInfo(PCDA cda, VK_WORD pd_number, PHYSICAL_DRIVE_LUN_INFO_LIST** pd_lun_info_list) {
    if (pd_lun_info_list == nullptr) {
        return kGetPhysicalDriveLunInfoInvalidArgument;
    }
    *pd_lun_info_list = nullptr;
    if (cda == nullptr) {
        return kGetPhysicalDriveLunInfoFailed;
    }
    CDALock guard(cda);
    if (!WithinController(cda, pd_number)) {
        return kGetPhysicalDriveLunInfoFailed;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr) {
        return kGetPhysicalDriveLunInfoFailed;
    }
    const PhysicalDriveRecord& record = _VK_CDA(cda)->pd_record_list[pd_number];
    const VK_BYTE luns = LunCount(*pd);
    pavlin::TrackedBuffer block =
        PN_TRACKED_ZEROED(sizeof(PHYSICAL_DRIVE_LUN_INFO_LIST) + luns * sizeof(PHYSICAL_DRIVE_LUN_INFO));
    if (!block) {
        return kGetPhysicalDriveLunInfoOutOfMemory;
    }
    auto* list = reinterpret_cast<PHYSICAL_DRIVE_LUN_INFO_LIST*>(block.get());
    list->lun_info = reinterpret_cast<PHYSICAL_DRIVE_LUN_INFO*>(block.get() + sizeof(PHYSICAL_DRIVE_LUN_INFO_LIST));
    list->count = 1;
    FillLunSlot(cda, pd_number, list->lun_info[0], 0, record.pd_config_information.total_size_blocks, pd->wBlockSize,
                pd->bWWID, pd->bDeviceUniqueID);
    // Only the entries the loader kept: LUNs 1 to n - 1 of a drive of 2 to 4 LUNs. Other slots stay zeroed.
    const size_t entries = ExtraLunEntries(record);
    for (size_t k = 1; k <= entries; ++k) {
        const PhysicalDriveLunInfo& entry = record.additional_lun_info[k - 1];
        if (entry.is_valid != 1) {
            continue;
        }
        FillLunSlot(cda, pd_number, list->lun_info[k], static_cast<VK_BYTE>(k), entry.total_size_blocks,
                    pd->wBlockSize, entry.wwid, entry.device_unique_id);
        ++list->count;
    }
    *pd_lun_info_list = reinterpret_cast<PHYSICAL_DRIVE_LUN_INFO_LIST*>(block.release());
    return kGetPhysicalDriveLunInfoSuccess;
}

VK_DWORD VK_GetPhysicalDrivePCIValue(PCDA cda, VK_WORD pd_number, VK_BYTE pci_value) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!WithinController(cda, pd_number)) {
        return 0;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr || !VK_ControllerSupportsNVMe(cda) ||
        !(VK_GetPhysicalDriveBasicInfo(cda, pd_number) & kPhysicalDriveTypeNVMe)) {
        return 0;
    }
    switch (pci_value) {
    case kPCIVendorDeviceID: return VK_DWORD{pd->wPCIVendorID} << 16;
    case kPCISubsystemVendorDeviceID: return VK_DWORD{pd->wPCISSVendorID} << 16;
    default: return 0;
    }
}

// ---- Host descriptor --------------------------------------------------------------------------------

namespace {

// A list answers a number its report lacks with a copy of the controller's own type and address:
// commands sent with it would reach the controller, not the device.
bool NamesDevice(DeviceDescriptor item, DeviceDescriptor controller) {
    VK_WORD item_type = 0;
    VK_WORD controller_type = 0;
    if (PN_GetDeviceSystemProperty(item, kDevicePropertyDeviceType, &item_type, sizeof(item_type)) != 0) {
        return false;
    }
    return PN_GetDeviceSystemProperty(controller, kDevicePropertyDeviceType, &controller_type,
                                      sizeof(controller_type)) != 0 ||
           item_type != controller_type;
}

} // namespace

DeviceDescriptor _VK_GetRecordDeviceDescriptor(PCDA cda, VK_WORD number,
                                               DeviceDescriptorList (*create_list)(DeviceDescriptor, VK_WORD*,
                                                                                   VK_WORD)) {
    if (cda == nullptr || number >= kMaxPhysicalDrivesSupported || create_list == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    // One list of every device serves all later lookups; a device it lacks is asked for alone.
    if (VK_RequestPhysicalDriveDescriptors(cda) && c->pd_record_list[number].physical_drive_handle != nullptr) {
        return c->pd_record_list[number].physical_drive_handle;
    }
    VK_WORD numbers[1] = {number};
    DeviceDescriptorList list = create_list(c->controller_handle, numbers, 1);
    if (list == nullptr) {
        return nullptr;
    }
    DeviceDescriptor answer = nullptr;
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    if (it != nullptr && !PN_IsDeviceListIteratorEnd(it)) {
        DeviceDescriptor item = PN_GetDeviceListItemAt(it);
        const size_t size = item != nullptr ? PN_GetDeviceDescriptorSize(item) : 0;
        if (size != 0 && NamesDevice(item, c->controller_handle)) {
            pavlin::TrackedBuffer copy = PN_TRACKED_BUFFER(size);
            if (copy) {
                std::memcpy(copy.get(), item, size);
                PhysicalDriveRecord& record = _VK_PDRecordForWrite(c, number);
                pavlin::TrackedPtr<void> old(record.physical_drive_handle);
                record.physical_drive_handle = copy.release();
                answer = record.physical_drive_handle;
            }
        }
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
    return answer;
}

void* VK_GetPhysicalDriveDescriptor(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    DeviceDescriptor answer = _VK_GetRecordDeviceDescriptor(cda, pd_number, PN_CreatePhysicalDriveDescriptorList);
    if (answer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'pd_descriptor != NULL' failed: Unable to get descriptor for pd number: %d\n",
                    __func__, __LINE__, static_cast<int>(pd_number));
    }
    return answer;
}

// ---- PHYs and link rates ----------------------------------------------------------------------------

VK_WORD VK_GetPhysicalDevicePHYCount(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    return pd != nullptr ? pd->wPHYCount : 0;
}

VK_DWORD VK_GetPhysicalDeviceControllerPhyNumbers(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return 0xFFFFFFFF;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0xFFFFFFFF;
    }
    VK_DWORD first = 0xFFFF, last = 0xFFFF;
    for (VK_DWORD bit = 0; bit < 8 * sizeof(pd->bControllerPHYMap); ++bit) {
        if ((pd->bControllerPHYMap[bit / 8] >> (bit % 8)) & 1) {
            if (first == 0xFFFF) {
                first = bit;
            }
            last = bit;
        }
    }
    return last << 16 | first;
}

namespace {

bool ValidRate(VK_BYTE code) {
    return code >= kPhyRate1G && code <= kPhyRate24G;
}

} // namespace

VK_DWORD VK_GetPhysicalDevicePhyLinkRate(PCDA cda, VK_WORD dev_number, VK_WORD phy_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0;
    }
    // A count past the 256-entry tables is read as far as they go.
    const size_t count = PhyEntries(*pd);
    VK_BYTE logical = 0, physical = 0, maximum = 0;
    if (phy_number == kAnyPhyNumber) {
        for (size_t p = 0; p < count; ++p) {
            if (!ValidRate(logical)) {
                logical = pd->bNegotiatedLogicalLinkRate[p];
            }
            if (!ValidRate(physical)) {
                physical = pd->bNegotiatedPhysicalLinkRate[p];
            }
            if (!ValidRate(maximum)) {
                maximum = pd->bMaxLinkRate[p];
            }
        }
    } else if (phy_number < count) {
        logical = pd->bNegotiatedLogicalLinkRate[phy_number];
        physical = pd->bNegotiatedPhysicalLinkRate[phy_number];
        maximum = pd->bMaxLinkRate[phy_number];
    } else {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'phy_number < phy_count' failed: Invalid phy number (%u) for pd %u\n",
                    __func__, __LINE__, static_cast<unsigned>(phy_number), static_cast<unsigned>(dev_number));
    }
    const VK_DWORD format = (VK_GetPhysicalDriveBasicInfo(cda, dev_number) & kPhysicalDriveTypeNVMe)
                                ? kPhyInfoFormatNVMe
                                : kPhyInfoFormatSAS;
    return VK_DWORD{physical} << kPhyNegotiatedPhysicalLinkRateOffset |
           VK_DWORD{logical} << kPhyNegotiatedLogicalLinkRateOffset | VK_DWORD{maximum} << kPhyMaxLinkRateOffset |
           format << kPhyInfoFormatOffset;
}

VK_WORD VK_GetPhysicalDevicePhyConnectorIndex(PCDA cda, VK_WORD dev_number, VK_WORD phy_number) {
    if (cda == nullptr) {
        return kInvalidConnectorIndex;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsMixedMode(cda)) {
        return kInvalidConnectorIndex;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return kInvalidConnectorIndex;
    }
    const size_t entries = std::min<size_t>(pd->wPHYCount, kConnectorInfoEntries);
    if (phy_number == kInvalidPhyNumber) {
        for (size_t p = 0; p < entries; ++p) {
            if (pd->bConnectorInfo[p] != 0xFF) {
                return pd->bConnectorInfo[p];
            }
        }
        return kInvalidConnectorIndex;
    }
    if (phy_number < entries && pd->bConnectorInfo[phy_number] != 0xFF) {
        return pd->bConnectorInfo[phy_number];
    }
    return kInvalidConnectorIndex;
}

VK_BYTE VK_GetPhysicalDevicePhyMap(PCDA cda, VK_WORD dev_number, VK_BYTE map_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0;
    }
    switch (map_type) {
    case kActivePathMap:
        if (pd->bActivePathNumber > 7) {
            // The active bit would lie outside the byte: only the map is reported.
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'active_path_index < 8' failed: Invalid active path index (%u) in "
                        "identify for pd %u\n",
                        __func__, __LINE__, static_cast<unsigned>(pd->bActivePathNumber),
                        static_cast<unsigned>(dev_number));
            return pd->bActivePathMap;
        }
        return static_cast<VK_BYTE>(1u << pd->bActivePathNumber | pd->bActivePathMap);
    case kPathPresentMap: return static_cast<VK_BYTE>(pd->bRedundantPathPresentMap | pd->bConnectorMap);
    case kPathFailureMap: return pd->bRedundantPathFailureMap;
    default:
        PN_DebugLog(1, 0, "%s:%d: Invalid map_type parameter.\n", __func__, __LINE__);
        return 0;
    }
}

VK_BYTE _VK_GetPhysicalDevicePhyConnectedDeviceType(PCDA cda, VK_WORD dev_number, VK_WORD phy_number) {
    if (cda == nullptr) {
        return 0xFF;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0xFF;
    }
    if (phy_number >= PhyEntries(*pd)) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'phy_number < phy_count' failed: Invalid phy number parameter\n",
                    __func__, __LINE__);
        return 0xFF;
    }
    const VK_BYTE type = pd->bPHYConnectedDeviceType[phy_number];
    return type <= 9 ? type : 0xFF;
}

// ---- Paths ------------------------------------------------------------------------------------------

VK_BYTE VK_GetPhysicalDevicePathCount(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0;
    }
    const unsigned any = pd->bRedundantPathPresentMap | pd->bRedundantPathFailureMap | pd->bActivePathMap |
                         pd->bConnectorMap;
    return static_cast<VK_BYTE>(__builtin_popcount(any & 0xFF));
}

VK_WORD VK_GetPhysicalDevicePathInfo(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return 0;
    }
    unsigned active = pd->bActivePathMap;
    if (pd->bActivePathNumber > 7) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'active_path_index < 8' failed: Invalid active path index (%u) in identify "
                    "for pd %u\n",
                    __func__, __LINE__, static_cast<unsigned>(pd->bActivePathNumber),
                    static_cast<unsigned>(dev_number));
    } else {
        active |= 1u << pd->bActivePathNumber;
    }
    return static_cast<VK_WORD>(unsigned{pd->bRedundantPathFailureMap} << 8 | (active & 0xFF));
}

VK_BOOL VK_PhysicalDeviceIsMultiPath(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return kFalse;
    }
    const unsigned usable = pd->bRedundantPathPresentMap & ~unsigned{pd->bRedundantPathFailureMap} & 0xFF;
    return __builtin_popcount(usable) > 1 ? kTrue : kFalse;
}

// ---- Location and path names ------------------------------------------------------------------------

namespace {

// Smallest buffer for a location or path-name selector; 0 for a selector the device has not.
size_t LocationMinimum(VK_BYTE type, bool drive) {
    switch (type) {
    case kPhysicalDriveLocationComplete: return drive ? 25 : 17;
    case kPhysicalDriveLocationPort: return 9;
    case kPhysicalDriveLocationBox: return 8;
    case kPhysicalDriveLocationBay: return drive ? 8 : 0;
    default: return 0;
    }
}

bool IsDrive(PCDA cda, VK_WORD dev_number) {
    return VK_PhysicalDeviceType(cda, dev_number) == kPhysicalDeviceTypeDrive ||
           (Identify(cda, dev_number) != nullptr &&
            (_VK_CDA(cda)->pd_record_list[dev_number].flags & kPDRecordDrive));
}

// The device's port name for its location: the long box connector name, else the long connector name of
// the active path, else the short port. The caller holds the lock.
void LocationPort(PCDA cda, VK_WORD dev_number, const CDA_PHYSICAL_DRIVE_STATUS& pd, char* port, size_t size) {
    std::memset(port, 0, size);
    if (VK_ControllerSupportsLongBoxConnectorName(cda)) {
        TrimmedName(pd.bLongBoxConnectorName, kLongNameLength, port, size);
    } else if (VK_ControllerSupportsLongConnectorNames(cda)) {
        if (pd.bActivePathNumber < kPathCount) {
            TrimmedName(pd.sLongConnectorName + pd.bActivePathNumber * kLongNameLength, kLongNameLength, port, size);
        } else {
            // Eight names only: an active path past them falls back to the short port.
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'active_path_index < 8' failed: Invalid active path index (%u) in "
                        "identify for pd %u\n",
                        "VK_GetPhysicalDriveLocation", __LINE__, static_cast<unsigned>(pd.bActivePathNumber),
                        static_cast<unsigned>(dev_number));
        }
    }
    if (port[0] == '\0') {
        TrimmedName(pd.sPhysicalPort, sizeof(pd.sPhysicalPort), port, size);
    }
}

} // namespace

char* VK_GetPhysicalDriveLocation(PCDA cda, VK_WORD dev_number, VK_BYTE type, char* location_buffer,
                                  size_t buffer_size) {
    if (location_buffer == nullptr) {
        PD_SOFT_ASSERT("location_buffer != NULL", "Destination for pd location NULL");
        return nullptr;
    }
    if (buffer_size == 0) {
        return location_buffer;
    }
    std::memset(location_buffer, 0, buffer_size);
    if (cda == nullptr) {
        return location_buffer;
    }
    CDALock guard(cda);
    const bool drive = IsDrive(cda, dev_number);
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    const size_t minimum = LocationMinimum(type, drive);
    if (pd == nullptr || minimum == 0 || buffer_size < minimum) {
        return location_buffer;
    }
    if (type == kPhysicalDriveLocationComplete || type == kPhysicalDriveLocationPort) {
        char port[kLongNameLength + 1];
        LocationPort(cda, dev_number, *pd, port, sizeof(port));
        AppendPort(location_buffer, buffer_size, port);
    }
    if (type == kPhysicalDriveLocationComplete) {
        Append(location_buffer, buffer_size, ":");
    }
    if (type == kPhysicalDriveLocationComplete || type == kPhysicalDriveLocationBox) {
        AppendNumber(location_buffer, buffer_size, pd->bPhysicalBox);
    }
    if (drive && type == kPhysicalDriveLocationComplete) {
        Append(location_buffer, buffer_size, ":");
    }
    if (drive && (type == kPhysicalDriveLocationComplete || type == kPhysicalDriveLocationBay)) {
        AppendNumber(location_buffer, buffer_size, pd->bPhysicalBay);
    }
    return location_buffer;
}

char* VK_GetPhysicalDevicePathName(PCDA cda, VK_WORD dev_number, VK_BYTE path_index, VK_BYTE type,
                                   char* path_name_buffer, size_t buffer_size) {
    if (path_name_buffer == nullptr || buffer_size == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'path_name_buffer && buffer_size > 0' failed: Invalid buffer for device path\n",
                    __func__, __LINE__);
        return path_name_buffer;
    }
    std::memset(path_name_buffer, 0, buffer_size);
    if (cda == nullptr) {
        return path_name_buffer;
    }
    CDALock guard(cda);
    const bool drive = VK_PhysicalDeviceType(cda, dev_number) == kPhysicalDeviceTypeDrive;
    size_t minimum = 8;
    if (type == kPhysicalDevicePathNameComplete) {
        minimum = drive ? 25 : 17;
    } else if (type == kPhysicalDevicePathNamePort) {
        minimum = 9;
    }
    if (path_index >= VK_GetPhysicalDevicePathCount(cda, dev_number) || buffer_size < minimum) {
        return path_name_buffer;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr || path_index >= kPathCount) {
        return path_name_buffer;
    }
    if (type == kPhysicalDevicePathNameComplete || type == kPhysicalDevicePathNamePort) {
        char port[kLongNameLength + 1] = {};
        if (VK_ControllerSupportsLongConnectorNames(cda)) {
            TrimmedName(pd->sLongConnectorName + path_index * kLongNameLength, kLongNameLength, port, sizeof(port));
        }
        if (port[0] == '\0') {
            TrimmedName(pd->sMultiPathPort + path_index * 2, 2, port, sizeof(port));
        }
        AppendPort(path_name_buffer, buffer_size, port);
    }
    if (type == kPhysicalDevicePathNameComplete) {
        Append(path_name_buffer, buffer_size, ":");
    }
    if (type == kPhysicalDevicePathNameComplete || type == kPhysicalDevicePathNameBox) {
        AppendNumber(path_name_buffer, buffer_size, pd->bMultiPathBox[path_index]);
    }
    if (drive && type == kPhysicalDevicePathNameComplete) {
        Append(path_name_buffer, buffer_size, ":");
    }
    if (drive && (type == kPhysicalDevicePathNameComplete || type == kPhysicalDevicePathNameBay)) {
        AppendNumber(path_name_buffer, buffer_size, pd->bPhysicalBay);
    }
    return path_name_buffer;
}

// ---- Connectors -------------------------------------------------------------------------------------

VK_WORD VK_EnumeratePhysicalDriveConnectors(PCDA cda, VK_WORD pd_number, VK_WORD connector_index) {
    if (cda == nullptr) {
        return kInvalidConnectorIndex;
    }
    CDALock guard(cda);
    if (!WithinController(cda, pd_number)) {
        return kInvalidConnectorIndex;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, pd_number);
    if (pd == nullptr) {
        return kInvalidConnectorIndex;
    }
    VK_WORD indexes[kConnectorInfoEntries];
    for (size_t e = 0; e < kConnectorInfoEntries; ++e) {
        indexes[e] = pd->bConnectorInfo[e] == 0xFF ? kInvalidConnectorIndex
                                                   : _VK_GetConnectorIndexFromNumber(cda, pd->bConnectorInfo[e]);
    }
    size_t start = 0;
    if (connector_index != kInvalidConnectorIndex) {
        const auto at = std::find(std::begin(indexes), std::end(indexes), connector_index);
        if (at == std::end(indexes)) {
            return kInvalidConnectorIndex;
        }
        start = static_cast<size_t>(at - std::begin(indexes)) + 1;
    }
    for (size_t e = start; e < kConnectorInfoEntries; ++e) {
        if (pd->bConnectorInfo[e] != 0xFF && indexes[e] != connector_index) {
            return indexes[e];
        }
    }
    return kInvalidConnectorIndex;
}

VK_BYTE VK_GetPhysicalDeviceConnectorLocation(PCDA cda, VK_WORD dev_number) {
    if (cda == nullptr) {
        return kPhysicalDeviceConnectorLocationUnknown;
    }
    CDALock guard(cda);
    if (!WithinController(cda, dev_number)) {
        return kPhysicalDeviceConnectorLocationUnknown;
    }
    const CDA_PHYSICAL_DRIVE_STATUS* pd = Identify(cda, dev_number);
    if (pd == nullptr) {
        return kPhysicalDeviceConnectorLocationUnknown;
    }
    return (pd->bMoreDeviceFlags & kExternalConnectorFlag) ? kPhysicalDeviceConnectorLocationExternal
                                                           : kPhysicalDeviceConnectorLocationInternal;
}

// ---- Flag set, wear, carrier, sanitize lock, erase state and drive statistics ---------------------

namespace {

using pavlin::ByteView;

constexpr VK_WORD kOfflineForErase = 0x0010; // wExtraDeviceFlags
using telmar::kErasePercentUnknown;

const CDA_PHYSICAL_DRIVE_STATUS& DriveRecord(PCDA cda, VK_WORD pd_number) {
    return _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer;
}

// MNP statistics reply (BMIC 0xA0, 512 bytes): offsets of the fields the record takes.
constexpr VK_DWORD kMNPStatisticsSize = 512;
constexpr size_t kOEMExtendedDataSize = 64;

} // namespace

void* VK_GetPhysicalDriveFlagsInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return nullptr;
    }
    auto* flag_info = static_cast<VK_BYTE*>(VK_malloc(telmar::kDriveFlagSetSize));
    if (flag_info == nullptr) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'flag_info != ((void *)0)' failed: Failed to alloc memory for flags of pd\n",
                    __func__, __LINE__);
        return nullptr;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        VK_free(flag_info);
        return nullptr;
    }
    VK_BYTE set[telmar::kDriveFlagSetSize];
    telmar::FillDriveFlagSet(DriveRecord(cda, pd_number), set);
    std::memcpy(flag_info, set, sizeof(set));
    return flag_info;
}

VK_BOOL VK_IsPhysicalDriveFlagSet(void* pd_flags_info, VK_BYTE drive_flag) {
    if (pd_flags_info == nullptr || drive_flag >= PDF_LastValidFlag) {
        return kFalse;
    }
    const auto* set = static_cast<const VK_BYTE*>(pd_flags_info);
    return (set[drive_flag / 8] >> (drive_flag % 8)) & 1 ? kTrue : kFalse;
}

void VK_DestroyPhysicalDriveFlagsInfo(void* pd_flags_info) {
    if (pd_flags_info != nullptr) {
        VK_free(pd_flags_info);
    }
}

VK_WORD VK_GetPhysicalDrivePowerOnHours(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!_VK_PhysicalDriveSupportsWearGauge(cda, pd_number) || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0;
    }
    return DriveRecord(cda, pd_number).wPowerOnHours;
}

VK_WORD VK_GetPhysicalDriveUtilization(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0xFFFF;
    }
    CDALock guard(cda);
    if (!_VK_PhysicalDriveSupportsWearGauge(cda, pd_number) || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0xFFFF;
    }
    const VK_WORD used = DriveRecord(cda, pd_number).wPercentEnduranceUsed;
    // Bit 15: worn past the scale.
    return (used & 0x8000) ? VK_WORD{100} : static_cast<VK_WORD>(used / 100);
}

VK_BYTE VK_GetPhysicalDriveCarrierAuthentication(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kPhysicalDriveCarrierFailed;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsCarrierAuthentication(cda) || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kPhysicalDriveCarrierFailed;
    }
    switch (DriveRecord(cda, pd_number).bVeskCarrierAuthentication) {
        case 0:
            return kPhysicalDriveCarrierNotApplicable;
        case 1:
            return kPhysicalDriveCarrierOK;
        case 2:
            return kPhysicalDriveCarrierNoCommunication;
        default:
            return kPhysicalDriveCarrierFailed;
    }
}

VK_BYTE VK_GetPhysicalDriveCarrierApplicationVersion(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0;
    }
    const CDA_PHYSICAL_DRIVE_STATUS& pd = DriveRecord(cda, pd_number);
    return pd.bVeskCarrierAuthentication == 1 ? pd.bVeskCarrierApplicationVersion : 0;
}

VK_BYTE VK_GetPhysicalDriveSanitizeLock(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return kPhysicalDriveSanitizeLockUnknown;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        pd_number >= _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported ||
        (VK_ControllerSupportsSanitizeLock(cda) & 0xFF) == 0 || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kPhysicalDriveSanitizeLockUnknown;
    }
    return static_cast<VK_BYTE>((DriveRecord(cda, pd_number).bSanitizePolicy >> 2) & 0x0F);
}

void VK_RefreshDriveEraseInfo(PCDA cda) {
    if (cda == nullptr) {
        return;
    }
    CDALock guard(cda);
    _VK_CDA(cda)->flags[kCDAFlagsBuffers] &= ~kCDAValidEraseStatus;
}

VK_DWORD __VK_CalcPhysicalDriveEraseInfo(PCDA cda, VK_WORD pd_number, VK_WORD* pd_erase_status_list) {
    if (cda == nullptr || pd_erase_status_list == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return 0;
    }
    return telmar::DecodeEraseEntry(pd_erase_status_list[pd_number]);
}

VK_DWORD VK_GetPhysicalDriveEraseInfo(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) ||
        !(DriveRecord(cda, pd_number).wExtraDeviceFlags & kOfflineForErase) || !VK_RequestEraseStatusBuffer(cda)) {
        return 0;
    }
    return __VK_CalcPhysicalDriveEraseInfo(cda, pd_number, _VK_CDA(cda)->pd_erase_status_list);
}

VK_BYTE VK_GetPhysicalDriveEraseProgressLive(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number >= kMaxPhysicalDrivesSupported) {
        return kErasePercentUnknown;
    }
    CDALock guard(cda);
    const pavlin::TrackedBuffer identify = PN_TRACKED_ZEROED(sizeof(PHYSICAL_DRIVE_STATUS));
    if (!identify ||
        !VK_GetIdentifyPhysicalDriveBuffer(cda, pd_number, reinterpret_cast<PHYSICAL_DRIVE_STATUS*>(identify.get()))) {
        return kErasePercentUnknown;
    }
    const VK_WORD extra = ByteView(identify.get(), identify.size())
                              .le16(offsetof(PHYSICAL_DRIVE_STATUS, wExtraDeviceFlags))
                              .value_or(0);
    if (!(extra & kOfflineForErase)) {
        return kErasePercentUnknown;
    }
    const pavlin::TrackedBuffer reply = telmar::ReadEraseStatus(cda, pd_number);
    if (!reply) {
        return kErasePercentUnknown;
    }
    return telmar::EraseProgressFromReply(ByteView(reply.get(), reply.size()), pd_number);
}

void* VK_GetPhysicalDriveOEMExtendedData(PCDA cda, VK_WORD pd_number, VK_BYTE* data_type) {
    if (cda == nullptr || data_type == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    if (!VK_PhysicalDriveSupportsOEMExtendedDriveData(cda, pd_number)) {
        return nullptr;
    }
    pavlin::TrackedBuffer data = PN_TRACKED_ZEROED(kOEMExtendedDataSize);
    if (!data) {
        return nullptr;
    }
    const VK_BYTE oem_id = DriveRecord(cda, pd_number).bOEMID;
    const VK_DWORD detail = static_cast<VK_DWORD>(pd_number & 0xFF) << 24 | oem_id;
    if (!_VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_OEM_EXTENDED_DRIVE_DATA, detail,
                                  static_cast<VK_WORD>(pd_number & 0xFF00), data.get(),
                                  static_cast<VK_DWORD>(data.size()))) {
        return nullptr;
    }
    *data_type = oem_id;
    return data.release();
}

VK_BYTE VK_GetPhysicalDriveMNPStatistics(PCDA cda, VK_WORD pd_number, MNP_STATISTICS* mnp_statistics) {
    if (mnp_statistics == nullptr) {
        return kGetPhysicalDriveMNPStatisticsInvalidInput;
    }
    if (pd_number >= kMaxPhysicalDrivesSupported) {
        return kGetPhysicalDriveMNPStatisticsUnsupportedPD;
    }
    if (cda == nullptr) {
        return kGetPhysicalDriveMNPStatisticsFailed;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kGetPhysicalDriveMNPStatisticsFailed;
    }
    if (VK_PhysicalDeviceType(cda, pd_number) != kPhysicalDeviceTypeDrive || DriveRecord(cda, pd_number).bDriveStamped == 0) {
        return kGetPhysicalDriveMNPStatisticsUnsupportedPD;
    }
    if (!telmar::StatusAllowsStatistics(VK_GetPhysicalDriveStatusInfo(cda, pd_number))) {
        return kGetPhysicalDriveMNPStatisticsNotOKState;
    }
    VK_BYTE reply[kMNPStatisticsSize] = {};
    if (!_VK_BMICHelperReadBuffer(_VK_CDA(cda)->controller_handle, BMIC_SENSE_MNP_STATISTICS,
                                  telmar::MNPStatisticsDetail(pd_number), telmar::MNPStatisticsLun(pd_number), reply,
                                  sizeof(reply))) {
        return kGetPhysicalDriveMNPStatisticsFailed;
    }
    telmar::DecodeMNPStatistics(ByteView(reply, sizeof(reply)), *mnp_statistics);
    return kGetPhysicalDriveMNPStatisticsSuccess;
}

VK_WORD VK_GetPhysicalDriveMNPStatistic(PCDA cda, VK_WORD pd_number, VK_BYTE /*type*/) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number);
    return 0;
}

// ---- Bootable drives ------------------------------------------------------------------------------

VK_BOOL __VK_CheckBootPhysicalDrive(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr || pd_number == kInvalidPDNumber) {
        return kFalse;
    }
    CDALock guard(cda);
    const VK_DWORD status = VK_GetPhysicalDriveStatusInfo(cda, pd_number);
    char boot_id[33];
    VK_GetPhysicalDriveBootVolumeID(cda, pd_number, boot_id, sizeof(boot_id));
    return (status & kPhysicalDriveStatusExposedToOS) && (status & 0x1) &&
                   !(status & kPhysicalDriveStatusErasingOffline) &&
                   std::strcmp(boot_id, "00000000000000000000000000000000") != 0
               ? kTrue
               : kFalse;
}

VK_WORD VK_EnumerateControllerBootablePhysicalDrives(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    if (VK_ControllerSupportsMixedMode(cda) != 1) {
        return kInvalidPDNumber;
    }
    for (VK_WORD next = VK_EnumerateControllerPhysicalDrives(cda, pd_number); next != kInvalidPDNumber;
         next = VK_EnumerateControllerPhysicalDrives(cda, next)) {
        if (__VK_CheckBootPhysicalDrive(cda, next)) {
            return next;
        }
    }
    return kInvalidPDNumber;
}
