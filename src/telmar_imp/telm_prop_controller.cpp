// Who the controller is and what it is built from: names, versions, serial number, slot and PCI
// data, sizes, world-wide name, error and lockup codes, and the controller's own descriptor.
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_private.h"
#include "telm_prop_decode.h"

namespace telmar::decode {

size_t TrimmedText(ByteView v, TextField field, char* dst, size_t dst_size) {
    if (dst == nullptr || dst_size == 0) {
        return 0;
    }
    const ByteView text = v.from(field.offset).first(field.width);
    // The worker terminates only a copy shorter than its limit: keep the last byte for the NUL.
    __VK_ConvertCharBufferToString(reinterpret_cast<const char*>(text.data()), text.size(), dst, dst_size - 1,
                                   kTrue, kTrue, kTrue, kTrue, ' ');
    dst[dst_size - 1] = '\0';
    return std::strlen(dst);
}

size_t PlainText(ByteView v, TextField field, char* dst, size_t dst_size) {
    return v.copy_text(field.offset, field.width, dst, dst_size);
}

size_t PrintableText(ByteView v, TextField field, char* dst, size_t dst_size) {
    if (dst == nullptr || dst_size == 0) {
        return 0;
    }
    size_t n = 0;
    while (n < field.width && n < dst_size - 1) {
        const auto c = v.u8(field.offset + n);
        if (!c || *c < 0x20 || *c >= 0x7F) {
            break;
        }
        dst[n++] = static_cast<char>(*c);
    }
    dst[n] = '\0';
    return n;
}

VK_WORD AdapterType(const char* product_id) {
    switch (product_id != nullptr ? product_id[0] : '\0') {
        case 'P':
            return kAdapterVeskArray;
        case 'H':
            return kAdapterVeskHBA;
        case 'B':
            return kAdapterDynamicVeskArray;
        default:
            return kAdapterArrayController;
    }
}

namespace {
constexpr PCIValueField kPCIValueFields[] = {
    {kPCIVendorDeviceID, 366, "dwFixedStructureLength >= 366",
     "Ctrl does not report PCI vendor/device id values"},
    {kPCISubsystemVendorDeviceID, 370, "dwFixedStructureLength >= 370",
     "Ctrl does not report PCI SS vendor/device id values"},
    {kPCIMaxLinkRate, 374, "dwFixedStructureLength >= 374", "Ctrl does not report PCI max link rate value"},
    {kPCIMaxLinkWidth, 378, "dwFixedStructureLength >= 378", "Ctrl does not report PCI max link width value"},
    {kPCIeGeneration, 291, "dwFixedStructureLength >= 291", "Ctrl does not report PCI generation value"},
    {kPCIeWidth, 292, "dwFixedStructureLength >= 292", "Ctrl does not report PCI width value"},
};
} // namespace

const PCIValueField* FindPCIValueField(VK_BYTE selector) {
    for (const PCIValueField& field : kPCIValueFields) {
        if (field.selector == selector) {
            return &field;
        }
    }
    return nullptr;
}

std::optional<VK_DWORD> PCIValue(ByteView id, const PCIValueField& field) {
    if (FixedLength(id) < field.minimum_length) {
        return std::nullopt;
    }
    switch (field.selector) {
        case kPCIVendorDeviceID:
            return static_cast<VK_DWORD>(Le16(id, identify::kPCIVendorID)) << 16 |
                   Le16(id, identify::kPCIDeviceID);
        case kPCISubsystemVendorDeviceID:
            return static_cast<VK_DWORD>(Le16(id, identify::kPCISSVendorID)) << 16 |
                   Le16(id, identify::kPCISSDeviceID);
        case kPCIMaxLinkRate:
            return Le32(id, identify::kPCIMaxLinkRateField);
        case kPCIMaxLinkWidth:
            return Le32(id, identify::kPCIMaxLinkWidthField);
        case kPCIeGeneration:
            return U8(id, identify::kPCIEGeneration);
        case kPCIeWidth:
            return U8(id, identify::kPCIEWidth);
        default:
            return std::nullopt;
    }
}

VK_WORD AdditionalError(ByteView id) {
    const VK_BYTE rom = U8(id, identify::kActiveROMStatus);
    const VK_BYTE post = U8(id, identify::kControllerPostStatus);
    VK_WORD word = 0;
    word |= (rom & 0x08) ? 0x0001 : 0;
    word |= (rom & 0x04) ? 0x0002 : 0;
    word |= (rom & 0x02) ? 0x0004 : 0;
    word |= (post & 0x02) ? 0x0008 : 0;
    word |= (post & 0x01) ? 0x0010 : 0;
    word |= (Le32(id, identify::kYetMoreControllerFlags) & 0x08) ? 0x0020 : 0;
    return word;
}

VK_DWORD LastLockupCode(ByteView id) {
    if ((AdditionalError(id) & 0x0020) == 0) {
        return 0;
    }
    const VK_BYTE code = U8(id, identify::kLastLockup);
    return code == 0xFF ? Le32(id, identify::kExtendedLastLockup) : code;
}

VK_BYTE NVRAMErrors(ByteView id) {
    if (!EvenMoreFlagsGateOpen(id)) {
        return kControllerNVRAMErrorUnsupported;
    }
    return static_cast<VK_BYTE>(Le32(id, identify::kEvenMoreControllerFlags) & 0x03);
}

} // namespace telmar::decode

namespace {

namespace dec = telmar::decode;
using pavlin::ByteView;

#define TELM_SOFT_ASSERT(expression, explanation)                                                            \
    PN_DebugLog(1, 0, "%s:%d: Assertion '%s' failed: %s\n", __func__, __LINE__, expression, explanation)

ByteView IdentifyView(const _CDA* c) {
    return ByteView(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
}

ByteView SubsystemView(const _CDA* c) {
    return ByteView(&c->sense_subsystem_parameters_buffer, sizeof(c->sense_subsystem_parameters_buffer));
}

// Checks a caller's text buffer: NULL and too-small buffers are logged under the getter's name.
// False when the getter ends here (a too-small buffer is returned empty, a size of 0 untouched).
bool TextBufferUsable(const char* function, int line, char* buffer, size_t size, size_t minimum,
                      const char* null_explanation, const char* small_explanation) {
    if (buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion '%s' failed: %s\n", function, line, "buffer != NULL",
                    null_explanation);
        return false;
    }
    if (size == 0) {
        return false;
    }
    if (size < minimum) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer_size > %zu' failed: %s\n", function, line, minimum - 1,
                    small_explanation);
        std::memset(buffer, 0, size);
        return false;
    }
    return true;
}

// An identify text field, trimmed, into a checked caller buffer.
char* IdentifyText(PCDA cda, char* buffer, size_t size, dec::TextField field) {
    std::memset(buffer, 0, size);
    if (cda == nullptr) {
        return buffer;
    }
    CDALock guard(cda);
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        dec::TrimmedText(IdentifyView(_VK_CDA(cda)), field, buffer, size);
    }
    return buffer;
}

// A value of the cached identify reply, `fallback` when it cannot be loaded.
template <typename T, typename Decode> T FromIdentify(PCDA cda, T fallback, Decode decode) {
    if (cda == nullptr) {
        return fallback;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return fallback;
    }
    return static_cast<T>(decode(IdentifyView(_VK_CDA(cda)), *_VK_CDA(cda)));
}

template <typename T, typename Decode> T FromSubsystem(PCDA cda, T fallback, Decode decode) {
    if (cda == nullptr) {
        return fallback;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseSubsystemParametersBuffer(cda)) {
        return fallback;
    }
    return static_cast<T>(decode(SubsystemView(_VK_CDA(cda))));
}

char* FirmwareVersion(PCDA cda, char* buffer, size_t size, bool pending, const char* function, int line) {
    std::memset(buffer, 0, size);
    if (cda == nullptr) {
        return buffer;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return buffer;
    }
    const ByteView id = IdentifyView(_VK_CDA(cda));
    const dec::TextField field = dec::FirmwareVersionField(id, pending);
    if (size <= field.width) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'buffer_size > field_length' failed: Destination for %sctrl fw (%u) "
                    "version not large enough (%u)\n",
                    function, line, pending ? "pending " : "", static_cast<unsigned>(size),
                    static_cast<unsigned>(field.width));
        return buffer;
    }
    dec::TrimmedText(id, field, buffer, size);
    return buffer;
}

// Slot from the platform's descriptor: a slot format beginning with 'S' or 'M' and a 4-byte number.
std::optional<VK_DWORD> DescriptorSlot(DeviceDescriptor descriptor) {
    if (descriptor == nullptr) {
        return std::nullopt;
    }
    char format[4] = {};
    if (PN_GetDeviceSystemProperty(descriptor, kDevicePropertySlotFormat, format, sizeof(format)) != 0 ||
        (format[0] != 'S' && format[0] != 'M')) {
        return std::nullopt;
    }
    VK_BYTE number[4] = {};
    if (PN_GetDeviceSystemPropertySize(descriptor, kDevicePropertySlotNumber) != sizeof(number) ||
        PN_GetDeviceSystemProperty(descriptor, kDevicePropertySlotNumber, number, sizeof(number)) != 0) {
        return std::nullopt;
    }
    return ByteView(number, sizeof(number)).le32(0);
}

constexpr char kUnknown[] = "UNKNOWN";

} // namespace

// ---- Text -------------------------------------------------------------------------------------------

char* VK_GetControllerProductID(PCDA cda, char* product_id, size_t product_id_size) {
    if (!TextBufferUsable(__func__, __LINE__, product_id, product_id_size,
                          kMinGetControllerProductIDBufferLength, "Destination for ctrl product ID NULL",
                          "Destination for ctrl product ID not large enough")) {
        return product_id;
    }
    return IdentifyText(cda, product_id, product_id_size,
                        {dec::identify::kProductID, dec::identify::kProductIDWidth});
}

char* VK_GetControllerFamilyID(PCDA cda, char* family_id, size_t family_id_size) {
    if (!TextBufferUsable(__func__, __LINE__, family_id, family_id_size,
                          kMinGetControllerFamilyIDBufferLength, "Destination for ctrl family ID NULL",
                          "Destination for ctrl family ID not large enough")) {
        return family_id;
    }
    std::memset(family_id, 0, family_id_size);
    if (cda == nullptr) {
        return family_id;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsFamilyID(cda)) {
        return family_id;
    }
    return IdentifyText(cda, family_id, family_id_size,
                        {dec::identify::kFamilyID, dec::identify::kFamilyIDWidth});
}

char* VK_GetControllerVendorID(PCDA cda, char* vendor_id, size_t vendor_id_size) {
    if (!TextBufferUsable(__func__, __LINE__, vendor_id, vendor_id_size,
                          kMinGetControllerVendorIDBufferLength, "Destination for ctrl vendor ID NULL",
                          "Destination for ctrl vendor ID not large enough")) {
        return vendor_id;
    }
    return IdentifyText(cda, vendor_id, vendor_id_size,
                        {dec::identify::kVendorID, dec::identify::kVendorIDWidth});
}

char* VK_GetControllerFirmwareVersion(PCDA cda, char* version, size_t version_size) {
    if (version == nullptr) {
        TELM_SOFT_ASSERT("buffer != NULL", "Destination for ctrl fw version NULL");
        return nullptr;
    }
    if (version_size == 0) {
        return version;
    }
    return FirmwareVersion(cda, version, version_size, false, __func__, __LINE__);
}

char* VK_GetControllerPendingFirmwareVersion(PCDA cda, char* version, size_t version_size) {
    if (version == nullptr) {
        TELM_SOFT_ASSERT("buffer != NULL", "Destination for pending ctrl fw version NULL");
        return nullptr;
    }
    if (version_size == 0) {
        return version;
    }
    return FirmwareVersion(cda, version, version_size, true, __func__, __LINE__);
}

char* VK_GetControllerFirmwareCompileTimeStamp(PCDA cda, char* time_stamp, size_t time_stamp_size) {
    if (!TextBufferUsable(__func__, __LINE__, time_stamp, time_stamp_size,
                          kMinGetControllerFirmwareCompileTimeStampBufferLength,
                          "Destination for ctrl fw timestamp NULL",
                          "Destination for ctrl fw timestamp not large enough")) {
        return time_stamp;
    }
    std::memset(time_stamp, 0, time_stamp_size);
    if (cda == nullptr) {
        return time_stamp;
    }
    CDALock guard(cda);
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        dec::PlainText(IdentifyView(_VK_CDA(cda)),
                       {dec::identify::kFirmwareCompileTimeStamp, dec::identify::kCompileTimeStampWidth},
                       time_stamp, time_stamp_size);
    }
    return time_stamp;
}

char* VK_GetControllerHardwareRevision(PCDA cda, char* revision, size_t revision_size) {
    if (!TextBufferUsable(__func__, __LINE__, revision, revision_size,
                          kMinGetControllerHardwareRevisionBufferLength, "Destination for ctrl hw rev NULL",
                          "Destination for ctrl hw rev not large enough")) {
        return revision;
    }
    std::memset(revision, 0, revision_size);
    if (const auto letter = FromIdentify<std::optional<char>>(
            cda, std::nullopt, [](ByteView id, const _CDA&) { return dec::HardwareRevision(id); })) {
        revision[0] = *letter;
    }
    return revision;
}

char* VK_GetControllerHardwareMinorRevision(PCDA cda, char* revision, size_t revision_size) {
    if (!TextBufferUsable(
            __func__, __LINE__, revision, revision_size, kMinGetControllerHardwareMinorRevisionBufferLength,
            "Destination for ctrl hw minor rev NULL", "Destination for ctrl hw minor rev not large enough")) {
        return revision;
    }
    if (cda == nullptr) {
        return revision;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsHardwareMinorRevision(cda)) {
        return revision;
    }
    std::memset(revision, 0, revision_size);
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        std::snprintf(revision, revision_size, "%u",
                      static_cast<unsigned>(
                          dec::U8(IdentifyView(_VK_CDA(cda)), dec::identify::kMarketingRevisionMinor)));
    }
    return revision;
}

char* VK_GetControllerSerialNumber(PCDA cda, char* serial_number, size_t serial_number_size) {
    if (!TextBufferUsable(__func__, __LINE__, serial_number, serial_number_size,
                          kMinGetControllerSerialNumberBufferLength, "Destination for ctrl s/n NULL",
                          "Destination for ctrl s/n not large enough")) {
        return serial_number;
    }
    std::memset(serial_number, 0, serial_number_size);
    if (cda == nullptr) {
        return serial_number;
    }
    CDALock guard(cda);
    if (VK_RequestSenseSubsystemParametersBuffer(cda)) {
        dec::PrintableText(SubsystemView(_VK_CDA(cda)),
                           {dec::subsystem::kControllerSerialNumber, dec::subsystem::kSerialNumberWidth},
                           serial_number, serial_number_size);
    }
    return serial_number;
}

char* VK_GetControllerDriverVersion(PCDA cda, char* version, size_t version_size) {
    if (!TextBufferUsable(
            __func__, __LINE__, version, version_size, kMinGetControllerDriverVersionBufferLength,
            "Destination for driver version is NULL", "Destination for driver version is too small")) {
        return version;
    }
    std::memset(version, 0, version_size);
    if (cda == nullptr) {
        return version;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseSubsystemParametersBuffer(cda)) {
        return version;
    }
    const ByteView subsystem = SubsystemView(_VK_CDA(cda));
    if (!dec::DriverVersionPublished(subsystem)) {
        TELM_SOFT_ASSERT("dwTotalStructureLength > 1712",
                         "Driver version info is not published by this ctrl");
        return version;
    }
    dec::TrimmedText(subsystem, {dec::subsystem::kDriverVersion, dec::subsystem::kDriverVersionWidth},
                     version, version_size);
    return version;
}

char* VK_GetControllerWWN(PCDA cda, char* wwn, size_t wwn_size) {
    if (!TextBufferUsable(__func__, __LINE__, wwn, wwn_size, kMinGetControllerWWNBufferLength,
                          "Destination for ctrl WWN NULL", "Destination for ctrl WWN not large enough")) {
        return wwn;
    }
    std::memset(wwn, 0, wwn_size);
    if (cda == nullptr) {
        return wwn;
    }
    CDALock guard(cda);
    VK_BYTE port_name[dec::subsystem::kPortNameWidth] = {};
    if (VK_RequestSenseSubsystemParametersBuffer(cda) &&
        SubsystemView(_VK_CDA(cda)).copy_to(dec::subsystem::kPortName, port_name, sizeof(port_name))) {
        VK_ConvertBufferToHexStringSafe(wwn, wwn_size, port_name, sizeof(port_name));
    }
    return wwn;
}

char* VK_GetControllerSlotNumber(PCDA cda, char* slot, size_t slot_size) {
    if (!TextBufferUsable(__func__, __LINE__, slot, slot_size, kMinGetControllerSlotNumberBufferLength,
                          "Destination for ctrl slot number NULL",
                          "Destination for ctrl slot number not large enough")) {
        return slot;
    }
    std::memset(slot, 0, slot_size);
    if (cda == nullptr) {
        std::snprintf(slot, slot_size, "%s", kUnknown);
        return slot;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    std::optional<VK_DWORD> number;
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        number = dec::IdentifySlot(IdentifyView(c));
        // Software RAID reports its embedded controller as slot 31, which reads "0b".
        if (number && *number == 31 && VK_ControllerIsSoftwareRAID(cda)) {
            std::snprintf(slot, slot_size, "0b");
            return slot;
        }
    }
    if (!number) {
        number = DescriptorSlot(c->controller_handle);
    }
    if (number) {
        std::snprintf(slot, slot_size, "%" PRIu32, static_cast<std::uint32_t>(*number));
    } else {
        std::snprintf(slot, slot_size, "%s", kUnknown);
    }
    return slot;
}

char* VK_GetControllerPCILocation(PCDA cda, char* location, size_t location_size) {
    if (!TextBufferUsable(__func__, __LINE__, location, location_size,
                          kMinGetControllerPCILocationBufferLength, "Destination for ctrl PCI location NULL",
                          "Destination for ctrl PCI location not large enough")) {
        return location;
    }
    std::memset(location, 0, location_size);
    DeviceDescriptor descriptor = cda != nullptr ? _VK_CDA(cda)->controller_handle : nullptr;
    VK_BYTE raw[8] = {};
    if (descriptor == nullptr ||
        PN_GetDeviceSystemPropertySize(descriptor, kDevicePropertyPCILocation) != sizeof(raw) ||
        PN_GetDeviceSystemProperty(descriptor, kDevicePropertyPCILocation, raw, sizeof(raw)) != 0) {
        std::snprintf(location, location_size, "%s", kUnknown);
        return location;
    }
    const VK_QWORD value = ByteView(raw, sizeof(raw)).le64(0).value_or(0);
    // A five-digit domain makes 17 characters: a minimum-size buffer gets them cut, still terminated.
    std::snprintf(location, location_size, "%u:%u:%u.%u", static_cast<unsigned>((value >> 24) & 0xFFFF),
                  static_cast<unsigned>((value >> 16) & 0xFF), static_cast<unsigned>((value >> 8) & 0xFF),
                  static_cast<unsigned>(value & 0xFF));
    return location;
}

VK_WORD VK_GetControllerAdapterType(PCDA cda, char* product_id, size_t product_id_size) {
    if (product_id == nullptr) {
        TELM_SOFT_ASSERT("buffer != NULL", "Destination for ctrl adapter type NULL");
        return kAdapterArrayController;
    }
    if (product_id_size == 0) {
        TELM_SOFT_ASSERT("buffer_size > 0", "Empty buffer for adapter type");
        return kAdapterArrayController;
    }
    std::memset(product_id, 0, product_id_size);
    VK_GetControllerProductID(cda, product_id, product_id_size);
    return dec::AdapterType(product_id);
}

// ---- Numbers -------------------------------------------------------------------------------------------

VK_WORD VK_GetControllerMemorySizeMB(PCDA cda) {
    return FromIdentify<VK_WORD>(cda, 0, [](ByteView id, const _CDA&) {
        return dec::Le16(id, dec::identify::kTotalAvailableMemorySize);
    });
}

VK_WORD VK_GetControllerFlashSizeMB(PCDA cda) {
    return FromIdentify<VK_WORD>(cda, 0, [](ByteView, const _CDA& c) {
        return dec::FlashSizeMB(c.controller_firmware_feature_version);
    });
}

VK_WORD VK_GetControllerFirmwareBuildNumber(PCDA cda) {
    return FromIdentify<VK_WORD>(cda, 0, [](ByteView id, const _CDA&) {
        return dec::FirmwareTagValid(id) ? VK_WORD{0} : dec::Le16(id, dec::identify::kFirmwareBuildNumber);
    });
}

VK_BYTE VK_GetPCIeGen(PCDA cda) {
    return FromIdentify<VK_BYTE>(
        cda, 0, [](ByteView id, const _CDA&) { return dec::U8(id, dec::identify::kPCIEGeneration); });
}

VK_BYTE VK_GetPCIeWidth(PCDA cda) {
    return FromIdentify<VK_BYTE>(
        cda, 0, [](ByteView id, const _CDA&) { return dec::U8(id, dec::identify::kPCIEWidth); });
}

VK_DWORD VK_GetPCIeNegotiatedSpeed(PCDA cda) {
    return FromIdentify<VK_DWORD>(cda, 0, [](ByteView id, const _CDA&) {
        return dec::PCIeNegotiatedSpeed(dec::U8(id, dec::identify::kPCIEGeneration),
                                        dec::U8(id, dec::identify::kPCIEWidth));
    });
}

VK_DWORD VK_GetControllerPCIValue(PCDA cda, VK_BYTE pci_value) {
    const dec::PCIValueField* field = dec::FindPCIValueField(pci_value);
    if (field == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Invalid pci_value parameter.\n", __FILE__, __LINE__);
        return 0;
    }
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const auto value = dec::PCIValue(IdentifyView(_VK_CDA(cda)), *field);
    if (!value) {
        TELM_SOFT_ASSERT(field->expression, field->explanation);
        return 0;
    }
    return *value;
}

VK_DWORD VK_GetControllerSpinupParameter(PCDA cda, VK_BYTE parameter_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    const ByteView id = IdentifyView(_VK_CDA(cda));
    if (dec::FixedLength(id) <= 361) {
        TELM_SOFT_ASSERT("dwFixedStructureLength > 361", "Spinup params are not published by this ctrl");
        return 0;
    }
    switch (parameter_type) {
        case kSimultaneousSpinupCount:
            return dec::Le32(id, dec::identify::kSimultaneousSpinupCountField);
        case kDriveSpinupDelaySec:
            return dec::Le32(id, dec::identify::kDriveSpinupDelay);
        default:
            PN_DebugLog(1, 0, "%s:%d: Invalid parameter_type parameter.\n", __FILE__, __LINE__);
            return 0;
    }
}

VK_UINT32 VK_GetControllerFirmwareComparisonStamp(PCDA cda) {
    return FromIdentify<VK_UINT32>(cda, 0, [](ByteView id, const _CDA&) {
        return dec::FixedLength(id) > 491 ? dec::Le32(id, dec::identify::kCurrentComparisonStamp) : 0;
    });
}

VK_UINT32 VK_GetControllerPendingFirmwareComparisonStamp(PCDA cda) {
    return FromIdentify<VK_UINT32>(cda, 0, [](ByteView id, const _CDA&) {
        return dec::FixedLength(id) > 487 ? dec::Le32(id, dec::identify::kPendingComparisonStamp) : 0;
    });
}

VK_UINT64 VK_GetControllerRawWWN(PCDA cda) {
    // The host is little-endian (checked at start-up), so the bytes in order are the host value.
    return FromSubsystem<VK_UINT64>(
        cda, 0, [](ByteView subsystem) { return subsystem.le64(dec::subsystem::kPortName).value_or(0); });
}

VK_BYTE VK_GetControllerPlatformNVRAMRevision(PCDA cda) {
    return FromSubsystem<VK_BYTE>(cda, kInvalidPlatformNVRAMRevision, [](ByteView subsystem) {
        return subsystem.u8(dec::subsystem::kPlatformNVRAMRevision).value_or(kInvalidPlatformNVRAMRevision);
    });
}

VK_BYTE VK_GetControllerNVRAMErrors(PCDA cda) {
    return FromIdentify<VK_BYTE>(cda, kControllerNVRAMErrorUnknown,
                                 [](ByteView id, const _CDA&) { return dec::NVRAMErrors(id); });
}

VK_WORD _VK_GetControllerAdditionalError(PCDA cda) {
    return FromIdentify<VK_WORD>(cda, 0, [](ByteView id, const _CDA&) { return dec::AdditionalError(id); });
}

VK_DWORD _VK_GetControllerLastLockupCode(PCDA cda) {
    return FromIdentify<VK_DWORD>(cda, 0, [](ByteView id, const _CDA&) { return dec::LastLockupCode(id); });
}

// ---- The controller's descriptor --------------------------------------------------------------------

VK_WORD VK_GetControllerSystemPropertySize(PCDA cda, VK_BYTE property_id) {
    DeviceDescriptor descriptor = cda != nullptr ? _VK_CDA(cda)->controller_handle : nullptr;
    if (descriptor == nullptr) {
        return 0;
    }
    if (property_id == 0xFF) {
        return static_cast<VK_WORD>(PN_GetDeviceDescriptorSize(descriptor));
    }
    return PN_GetDeviceSystemPropertySize(descriptor, property_id);
}

VK_BYTE VK_GetControllerSystemProperty(PCDA cda, VK_BYTE property_id, void* property_buffer,
                                       VK_DWORD property_buffer_size) {
    DeviceDescriptor descriptor = cda != nullptr ? _VK_CDA(cda)->controller_handle : nullptr;
    if (descriptor == nullptr) {
        return 1;
    }
    if (property_id != 0xFF) {
        return PN_GetDeviceSystemProperty(descriptor, property_id, property_buffer, property_buffer_size);
    }
    const size_t size = PN_GetDeviceDescriptorSize(descriptor);
    if (property_buffer == nullptr || property_buffer_size < size) {
        return 2;
    }
    std::memcpy(property_buffer, descriptor, size);
    return 0;
}
