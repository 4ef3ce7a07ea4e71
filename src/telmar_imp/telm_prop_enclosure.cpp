// Storage enclosures: the boxes that answered the bus-parameters read, their drives, SEPs and
// expanders, strings, paths, backplane interface, location and UBM backplane.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_private_utils.h"
#include "telm_records.h"

namespace {

constexpr size_t kPathEntries = 8;
constexpr size_t kLongNameLength = 8;
constexpr size_t kPortNameLength = 2;
constexpr size_t kDeviceListEntries = 16;

// Trimmed text of a fixed-width field into `out` (already zeroed, `size` bytes).
void TrimmedInto(const char* field, size_t width, char* out, size_t size) {
    if (size > 1) {
        __VK_ConvertCharBufferToString(field, width, out, size - 1, kTrue, kTrue, kTrue, kTrue, ' ');
    }
}

std::string_view PortName(const CDA_SENSE_BUS_PARAMETERS& se, VK_BYTE path, bool long_names,
                          char (&text)[16]) {
    std::memset(text, 0, sizeof(text));
    if (long_names) {
        TrimmedInto(se.sLongConnectorName + path * kLongNameLength, kLongNameLength, text, sizeof(text));
    }
    if (text[0] == '\0') {
        TrimmedInto(se.sMultiPathPort + path * kPortNameLength, kPortNameLength, text, sizeof(text));
    }
    if (std::strcmp(text, "??") == 0) {
        return "Unknown";
    }
    return text;
}

std::string BoxName(const CDA_SENSE_BUS_PARAMETERS& se, VK_BYTE path) {
    const VK_BYTE box = se.bMultiPathBox[path];
    char text[4];
    std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(box));
    return box == 0xFF ? std::string("Unknown") : std::string(text);
}

} // namespace

namespace telmar {

VK_WORD NextInDeviceList(const VK_WORD (&list)[16], VK_BYTE count, VK_WORD previous) {
    const size_t n = std::min<size_t>(count, kDeviceListEntries);
    const VK_WORD* const begin = list;
    const VK_WORD* const end = list + n;
    // A walk goes on from where its number is first listed.
    const VK_WORD* from = previous == 0xFFFF ? begin : std::find(begin, end, previous);
    if (from == end) {
        return 0xFFFF;
    }
    if (previous != 0xFFFF) {
        ++from;
    }
    // A number listed twice is visited at its first place only: a reply that repeats one (40, 41, 40)
    // would otherwise send a caller's walk round for ever. Device number 0 ends a list.
    for (const VK_WORD* p = from; p < end && *p != 0; ++p) {
        if (std::find(begin, p, *p) == p) {
            return *p;
        }
    }
    return 0xFFFF;
}

VK_WORD NextInstalledDrive(const CDA_SENSE_BUS_PARAMETERS& se, VK_WORD previous) {
    size_t bits = 0;
    const pavlin::ByteView map = EnclosureInstalledMap(se, &bits);
    for (size_t pd = static_cast<VK_WORD>(previous + 1); pd < bits; ++pd) {
        if (MapBit(map.data(), map.size(), pd)) {
            return static_cast<VK_WORD>(pd);
        }
    }
    return kInvalidPDNumber;
}

VK_WORD InstalledDriveCount(const CDA_SENSE_BUS_PARAMETERS& se) {
    size_t bits = 0;
    const pavlin::ByteView map = EnclosureInstalledMap(se, &bits);
    VK_WORD count = 0;
    for (size_t pd = 0; pd < bits; ++pd) {
        count = static_cast<VK_WORD>(count + (MapBit(map.data(), map.size(), pd) ? 1 : 0));
    }
    return count;
}

VK_BYTE BackplaneInterfaceType(const CDA_SENSE_BUS_PARAMETERS& se) {
    if (se.bSEPCount == 0) {
        return kStorageEnclosureBackplaneInterfaceTypeUnknown;
    }
    switch (se.bSEPDeviceTypes[0]) {
        case 0:
            return kStorageEnclosureBackplaneInterfaceTypeNone;
        case 1:
            return kStorageEnclosureBackplaneInterfaceTypeDirectSGPIO;
        case 2:
            return kStorageEnclosureBackplaneInterfaceTypeSGPIOOverSMP;
        case 3:
            return kStorageEnclosureBackplaneInterfaceTypeSSP;
        case 4:
        case 5:
            return kStorageEnclosureBackplaneInterfaceTypeVendorSpecific;
        case 6:
        case 7:
            return kStorageEnclosureBackplaneInterfaceTypeUBM;
        case 10:
            return kStorageEnclosureBackplaneInterfaceTypeVPP;
        default:
            return kStorageEnclosureBackplaneInterfaceTypeUnknown;
    }
}

VK_BYTE EnclosureLocation(const CDA_SENSE_BUS_PARAMETERS& se) {
    if (se.wConnectionFlags & 0x2) {
        return kGetStorageEnclosureLocationInternal;
    }
    return (se.wConnectionFlags & 0x1) ? kGetStorageEnclosureLocationExternal
                                       : kGetStorageEnclosureLocationUnknown;
}

VK_BYTE EnclosurePathCount(const CDA_SENSE_BUS_PARAMETERS& se) {
    const VK_BYTE any =
        se.bRedundantPathPresentMap | se.bRedundantPathFailureMap | se.bActivePathMap | se.bConnectorMap;
    return static_cast<VK_BYTE>(__VK_PopCount(any));
}

VK_WORD EnclosurePathInfo(const CDA_SENSE_BUS_PARAMETERS& se, bool* active_out_of_range) {
    VK_WORD info = static_cast<VK_WORD>(se.bRedundantPathFailureMap << 8 | se.bActivePathMap);
    *active_out_of_range = se.bActivePathNumber >= kPathEntries;
    if (!*active_out_of_range) {
        info = static_cast<VK_WORD>(info | 1u << se.bActivePathNumber);
    }
    return info;
}

bool EnclosurePathName(const CDA_SENSE_BUS_PARAMETERS& se, VK_BYTE path_index, VK_BYTE type, bool long_names,
                       char* out, size_t size) {
    size_t minimum = 0;
    switch (type) {
        case kStorageEnclosurePathNameComplete:
            minimum = 25;
            break;
        case kStorageEnclosurePathNamePort:
            minimum = 9;
            break;
        case kStorageEnclosurePathNameBox:
            minimum = 8;
            break;
        default:
            break;
    }
    if (path_index >= EnclosurePathCount(se) || path_index >= kPathEntries || size < minimum) {
        return false;
    }
    char port_text[16];
    std::string name;
    switch (type) {
        case kStorageEnclosurePathNameComplete:
            name =
                std::string(PortName(se, path_index, long_names, port_text)) + ":" + BoxName(se, path_index);
            break;
        case kStorageEnclosurePathNamePort:
            name = PortName(se, path_index, long_names, port_text);
            break;
        case kStorageEnclosurePathNameBox:
            name = BoxName(se, path_index);
            break;
        default:
            return true;
    }
    std::snprintf(out, size, "%s", name.c_str());
    return true;
}

bool UBMVersionText(const CDA_SENSE_BUS_PARAMETERS& se, char* out, size_t size) {
    if (size < kMinGetUBMBackplaneVersionBufferLength) {
        return false;
    }
    const unsigned minor = se.ubmBackplaneInfo.bImageVersionMinor;
    std::snprintf(out, size, "%u.%s%u", static_cast<unsigned>(se.ubmBackplaneInfo.bImageVersionMajor),
                  minor < 10 ? "0" : "", minor);
    return true;
}

} // namespace telmar

namespace {

// The enclosure's compact copy when the number is in range, the records load and the box exists.
const CDA_SENSE_BUS_PARAMETERS* Enclosure(PCDA cda, VK_WORD se_number) {
    if (cda == nullptr || se_number >= kMaxStorageEnclosuresSupported ||
        !VK_RequestStorageEnclosureInfo(cda)) {
        return nullptr;
    }
    const StorageEnclosureRecord& record = _VK_CDA(cda)->se_record_list[se_number];
    return (record.flags & 0x1) ? &record.sense_bus_parameters_buffer : nullptr;
}

bool IsUBM(const CDA_SENSE_BUS_PARAMETERS& se) {
    return telmar::BackplaneInterfaceType(se) == kStorageEnclosureBackplaneInterfaceTypeUBM;
}

// The SEPs of the controller whose identify record names the enclosure's box; under the caller's lock.
VK_WORD __VK_EnumerateStorageEnclosureSEPsWithMatchingBoxNumber(PCDA cda, const CDA_SENSE_BUS_PARAMETERS& se,
                                                                VK_WORD sep_number) {
    VK_WORD sep = VK_EnumerateControllerSEPs(cda, kInvalidSEPNumber);
    if (sep_number != kInvalidSEPNumber) {
        while (sep != kInvalidSEPNumber && sep <= sep_number) {
            sep = VK_EnumerateControllerSEPs(cda, sep);
        }
    }
    for (; sep != kInvalidSEPNumber; sep = VK_EnumerateControllerSEPs(cda, sep)) {
        if (VK_RequestIdentifyPhysicalDriveBuffer(cda, sep) &&
            _VK_CDA(cda)->pd_record_list[sep].identify_physical_drive_buffer.bPhysicalBox ==
                se.bPhysicalBox) {
            return sep;
        }
    }
    return kInvalidSEPNumber;
}

VK_WORD __VK_GetStorageEnclosureSEPsWithMatchingBoxNumberCount(PCDA cda, const CDA_SENSE_BUS_PARAMETERS& se) {
    VK_WORD count = 0;
    for (VK_WORD sep = __VK_EnumerateStorageEnclosureSEPsWithMatchingBoxNumber(cda, se, kInvalidSEPNumber);
         sep != kInvalidSEPNumber;
         sep = __VK_EnumerateStorageEnclosureSEPsWithMatchingBoxNumber(cda, se, sep)) {
        ++count;
    }
    return count;
}

// The string rule of the identity getters over an enclosure field: soft assertions for a missing or
// short buffer, a zeroed buffer, and the trimmed text only when the buffer is larger than the field.
char* EnclosureString(PCDA cda, VK_WORD se_number, char* buffer, size_t buffer_size, const char* function,
                      size_t limit, const char* (*field)(const CDA_SENSE_BUS_PARAMETERS&), size_t width,
                      bool trimmed, bool needs_ubm) {
    if (buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer != NULL' failed: NULL buffer\n", function, __LINE__);
    } else if (buffer_size <= limit) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer_size > %zu' failed: Buffer too small (%zu)\n", function,
                    __LINE__, limit, buffer_size);
    }
    if (buffer == nullptr || buffer_size == 0) {
        return buffer;
    }
    std::memset(buffer, 0, buffer_size);
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr || buffer_size <= limit || (needs_ubm && !IsUBM(*se))) {
        return buffer;
    }
    if (trimmed) {
        TrimmedInto(field(*se), width, buffer, buffer_size);
    } else {
        std::memcpy(buffer, field(*se), std::min(width, buffer_size - 1));
    }
    return buffer;
}

} // namespace

VK_WORD VK_EnumerateControllerStorageEnclosures(PCDA cda, VK_WORD se_number) {
    if (cda == nullptr) {
        return kInvalidSENumber;
    }
    CDALock guard(cda);
    if (!VK_RequestStorageEnclosureInfo(cda)) {
        return kInvalidSENumber;
    }
    const _CDA* c = _VK_CDA(cda);
    for (VK_WORD se = static_cast<VK_WORD>(se_number + 1); se < kMaxStorageEnclosuresSupported; ++se) {
        if (c->se_record_list[se].flags & 0x1) {
            return se;
        }
    }
    return kInvalidSENumber;
}

VK_WORD VK_EnumerateStorageEnclosurePhysicalDrives(PCDA cda, VK_WORD se_number, VK_WORD pd_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::NextInstalledDrive(*se, pd_number) : kInvalidPDNumber;
}

VK_WORD VK_EnumerateStorageEnclosureSEPs(PCDA cda, VK_WORD se_number, VK_WORD sep_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return kInvalidSEPNumber;
    }
    if (se->bSEPCount == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sep_count > 0' failed: Zero SEP count for enclosure %u\n",
                    __func__, __LINE__, static_cast<unsigned>(se_number));
        return __VK_EnumerateStorageEnclosureSEPsWithMatchingBoxNumber(cda, *se, sep_number);
    }
    return telmar::NextInDeviceList(se->wSEPDeviceNumbers, se->bSEPCount, sep_number);
}

VK_WORD VK_EnumerateStorageEnclosureExpanders(PCDA cda, VK_WORD se_number, VK_WORD expander_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::NextInDeviceList(se->wExpanderDeviceNumbers, se->bExpanderCount, expander_number)
              : kInvalidExpanderNumber;
}

VK_WORD _VK_GetStorageEnclosureBayCount(PCDA cda, VK_WORD se_number) {
    if (cda == nullptr || se_number >= kMaxStorageEnclosuresSupported) {
        return 0;
    }
    CDALock guard(cda);
    // Without the existence test: an empty box still reports its bays.
    return VK_RequestStorageEnclosureInfo(cda)
               ? _VK_CDA(cda)->se_record_list[se_number].sense_bus_parameters_buffer.bBayCount
               : VK_WORD{0};
}

VK_WORD _VK_GetStorageEnclosurePhysicalDriveCount(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::InstalledDriveCount(*se) : VK_WORD{0};
}

VK_WORD _VK_GetStorageEnclosureSEPCount(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return 0;
    }
    return se->bSEPCount != 0 ? se->bSEPCount
                              : __VK_GetStorageEnclosureSEPsWithMatchingBoxNumberCount(cda, *se);
}

VK_WORD _VK_GetStorageEnclosureExpanderCount(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? se->bExpanderCount : VK_WORD{0};
}

VK_WORD VK_GetStorageEnclosureDeviceCount(PCDA cda, VK_WORD se_number, VK_BYTE dev_type) {
    switch (dev_type) {
        case kSEDeviceTypeBay:
            return _VK_GetStorageEnclosureBayCount(cda, se_number);
        case kSEDeviceTypePhysicalDrive:
            return _VK_GetStorageEnclosurePhysicalDriveCount(cda, se_number);
        case kSEDeviceTypeSEP:
            return _VK_GetStorageEnclosureSEPCount(cda, se_number);
        case kSEDeviceTypeExpander:
            return _VK_GetStorageEnclosureExpanderCount(cda, se_number);
        default:
            return 0;
    }
}

VK_WORD VK_GetStorageEnclosurePDNumber(PCDA cda, VK_WORD se_number, VK_WORD bay_number) {
    if (cda == nullptr || se_number >= kMaxStorageEnclosuresSupported) {
        return kInvalidPDNumber;
    }
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return kInvalidPDNumber;
    }
    for (VK_WORD pd = telmar::NextInstalledDrive(*se, kInvalidPDNumber); pd != kInvalidPDNumber;
         pd = telmar::NextInstalledDrive(*se, pd)) {
        if (VK_RequestIdentifyPhysicalDriveBuffer(cda, pd) &&
            _VK_CDA(cda)->pd_record_list[pd].identify_physical_drive_buffer.bPhysicalBay == bay_number) {
            return pd;
        }
    }
    return kInvalidPDNumber;
}

char* VK_GetStorageEnclosureVendorID(PCDA cda, VK_WORD se_number, char* vendor_id, size_t buffer_size) {
    {
        CDALock guard(cda);
        const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
        if (se != nullptr && se->bInquiryValid == 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'bInquiryValid' failed: Invalid inquiry data for enclosure %u\n",
                        __func__, __LINE__, static_cast<unsigned>(se_number));
        }
    }
    return EnclosureString(
        cda, se_number, vendor_id, buffer_size, __func__, 8,
        [](const CDA_SENSE_BUS_PARAMETERS& s) {
            return reinterpret_cast<const char*>(s.boxInquiryData.sVendorID);
        },
        sizeof(BOX_INQUIRY_DATA::sVendorID), true, false);
}

char* VK_GetStorageEnclosureProductID(PCDA cda, VK_WORD se_number, char* product_id, size_t buffer_size) {
    {
        CDALock guard(cda);
        const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
        if (se != nullptr && se->bInquiryValid == 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'bInquiryValid' failed: Invalid inquiry data for enclosure %u\n",
                        __func__, __LINE__, static_cast<unsigned>(se_number));
        }
    }
    return EnclosureString(
        cda, se_number, product_id, buffer_size, __func__, 16,
        [](const CDA_SENSE_BUS_PARAMETERS& s) {
            return reinterpret_cast<const char*>(s.boxInquiryData.sProductID);
        },
        sizeof(BOX_INQUIRY_DATA::sProductID), true, false);
}

char* VK_GetStorageEnclosureSerialNumber(PCDA cda, VK_WORD se_number, char* serial_number,
                                         size_t buffer_size) {
    return EnclosureString(
        cda, se_number, serial_number, buffer_size, __func__, 40,
        [](const CDA_SENSE_BUS_PARAMETERS& s) { return static_cast<const char*>(s.sChassisSerialNumber); },
        sizeof(CDA_SENSE_BUS_PARAMETERS::sChassisSerialNumber), true, false);
}

VK_BYTE VK_GetStorageEnclosurePathCount(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::EnclosurePathCount(*se) : VK_BYTE{0};
}

char* VK_GetStorageEnclosurePathName(PCDA cda, VK_WORD se_number, VK_BYTE path_index, VK_BYTE type,
                                     char* path_name_buffer, size_t buffer_size) {
    if (path_name_buffer == nullptr || buffer_size == 0) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'path_name_buffer != NULL && buffer_size > 0' failed: No buffer\n",
                    __func__, __LINE__);
        return path_name_buffer;
    }
    std::memset(path_name_buffer, 0, buffer_size);
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se != nullptr) {
        telmar::EnclosurePathName(*se, path_index, type,
                                  VK_ControllerSupportsLongConnectorNames(cda) != kFalse, path_name_buffer,
                                  buffer_size);
    }
    return path_name_buffer;
}

VK_WORD VK_GetStorageEnclosurePathInfo(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return 0;
    }
    bool out_of_range = false;
    const VK_WORD info = telmar::EnclosurePathInfo(*se, &out_of_range);
    if (out_of_range) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'active_path_index < 8' failed: Invalid active path index (%u) for enclosure "
            "%u\n",
            __func__, __LINE__, static_cast<unsigned>(se->bActivePathNumber),
            static_cast<unsigned>(se_number));
    }
    return info;
}

VK_BYTE VK_GetStorageEnclosureBackplaneInterfaceType(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::BackplaneInterfaceType(*se) : VK_BYTE{kStorageEnclosureBackplaneInterfaceTypeUnknown};
}

VK_BYTE VK_GetStorageEnclosureLocation(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se ? telmar::EnclosureLocation(*se) : VK_BYTE{kGetStorageEnclosureLocationInvalidSENumber};
}

VK_DWORD VK_GetUBMBackplaneManagerDeviceCode(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se && IsUBM(*se) ? se->ubmBackplaneInfo.dwManagerDeviceCode
                            : kUBMBackplaneManagerDeviceCodeInvalid;
}

VK_WORD VK_GetUBMBackplanePCIVendorID(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    return se && IsUBM(*se) ? se->ubmBackplaneInfo.wPCIVendorID : VK_WORD{0};
}

VK_BYTE VK_GetUBMBackplaneNumber(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return kGetUBMBackplaneNumberInvalidSENumber;
    }
    return IsUBM(*se) ? se->bPhysicalBox : VK_BYTE{kGetUBMBackplaneNumberNotUBMBackplane};
}

VK_DWORD VK_GetUBMBackplaneVersionNumber(PCDA cda, VK_WORD se_number) {
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se == nullptr) {
        return kGetUBMBackplaneVersionNumberInvalidSENumber;
    }
    if (!IsUBM(*se)) {
        return kGetUBMBackplaneVersionNumberNotUBMBackplane;
    }
    return static_cast<VK_DWORD>(se->ubmBackplaneInfo.bImageVersionMajor) << 8 |
           se->ubmBackplaneInfo.bImageVersionMinor;
}

char* VK_GetUBMBackplaneProductString(PCDA cda, VK_WORD se_number, char* product_string, size_t buffer_size) {
    return EnclosureString(
        cda, se_number, product_string, buffer_size, __func__, 32,
        [](const CDA_SENSE_BUS_PARAMETERS& s) {
            return static_cast<const char*>(s.ubmBackplaneInfo.sProductString);
        },
        sizeof(UBM_BACKPLANE_INFO::sProductString), true, true);
}

char* VK_GetUBMBackplanePartNumber(PCDA cda, VK_WORD se_number, char* part_number, size_t buffer_size) {
    return EnclosureString(
        cda, se_number, part_number, buffer_size, __func__, 32,
        [](const CDA_SENSE_BUS_PARAMETERS& s) {
            return static_cast<const char*>(s.ubmBackplaneInfo.sPartNumber);
        },
        sizeof(UBM_BACKPLANE_INFO::sPartNumber), false, true);
}

char* VK_GetUBMBackplaneVersion(PCDA cda, VK_WORD se_number, char* ubm_version_buffer, size_t buffer_size) {
    if (ubm_version_buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'ubm_version_buffer != NULL' failed: NULL buffer\n", __func__,
                    __LINE__);
    } else if (buffer_size < kMinGetUBMBackplaneVersionBufferLength) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer_size >= 8' failed: Buffer too small (%zu)\n", __func__,
                    __LINE__, buffer_size);
    }
    if (ubm_version_buffer == nullptr || buffer_size == 0) {
        return ubm_version_buffer;
    }
    std::memset(ubm_version_buffer, 0, buffer_size);
    CDALock guard(cda);
    const CDA_SENSE_BUS_PARAMETERS* se = Enclosure(cda, se_number);
    if (se != nullptr && IsUBM(*se)) {
        telmar::UBMVersionText(*se, ubm_version_buffer, buffer_size);
    }
    return ubm_version_buffer;
}
