// Who the controller is and what it is built from: names, versions, serial number, slot and PCI
// data, sizes, world-wide name, error and lockup codes, and the controller's own descriptor; its
// operating-mode and power-mode words, manufacturing data, temperature sensors and cache inventory.
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
#include <algorithm>
#include <bit>
#include <optional>
#include "ppavl_platform.h"
#include "telm_prop_replies.h"
#include "ptelm_encryption.h"
#include "telm_records.h"

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
    if (cda == nullptr) {
        std::snprintf(location, location_size, "%s", kUnknown);
        return location;
    }
    DeviceDescriptor descriptor = _VK_CDA(cda)->controller_handle;
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
    if (cda == nullptr) {
        return kAdapterArrayController;
    }
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
    if (cda == nullptr) {
        return 0;
    }
    const dec::PCIValueField* field = dec::FindPCIValueField(pci_value);
    if (field == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Invalid pci_value parameter.\n", __FILE__, __LINE__);
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
    if (cda == nullptr) {
        return 0;
    }
    DeviceDescriptor descriptor = _VK_CDA(cda)->controller_handle;
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
    if (cda == nullptr) {
        return 1;
    }
    DeviceDescriptor descriptor = _VK_CDA(cda)->controller_handle;
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

// ---- Operating and power modes, manufacturing data, sensors, cache ----------------------------------

using pavlin::ByteView;

using namespace telmar;

namespace {

template <typename T> ByteView ViewOf(const T& member) {
    return ByteView(&member, sizeof(member));
}

VK_WORD CurrentModeField(VK_BYTE controller_mode, bool mixed_possible) {
    switch (controller_mode) {
    case 0:
        return kControllerModeCurrentRAID;
    case 1:
        return kControllerModeCurrentHBA;
    case 2:
        return mixed_possible ? kControllerModeCurrentMixed : kControllerModeCurrentUnknown;
    default:
        return kControllerModeCurrentUnknown;
    }
}

// Pending mode of a controller whose connectors carry their own modes.
VK_WORD PendingModeOfConnectors(PCDA cda) {
    const VK_WORD total = VK_GetControllerTotalConnectorCount(cda);
    if (total == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'num_connectors > 0' failed: Failed to get number of connectors\n",
                    __func__, __LINE__);
    }
    bool any_raid = false, any_hba = false, any_mixed = false;
    for (VK_WORD index = 0; index < total; ++index) {
        CONTROLLER_CONNECTOR_INFO info;
        if (!VK_GetControllerConnectorInfo(cda, index, &info)) {
            return kControllerModePendingUnknown;
        }
        switch (info.pending_connector_mode) {
        case kConnectorModeRAID:
            any_raid = true;
            break;
        case kConnectorModeHBA:
            any_hba = true;
            break;
        case kConnectorModeMixed:
            any_mixed = true;
            break;
        default:
            return kControllerModePendingUnknown;
        }
    }
    if (!any_raid && !any_mixed) {
        return kControllerModePendingHBA;
    }
    if (!any_hba && !any_mixed) {
        return kControllerModePendingRAID;
    }
    return kControllerModePendingMixed;
}

VK_BYTE NVRAMFlags(const _CDA* c) {
    return ViewOf(c->sense_controller_parameters_buffer).u8(offsetof(CONTROLLER_PARAMETERS, bNVRAMFlags)).value_or(0);
}

// The bytes of a fresh sensor reply that the reader vouches for: its header and every record it counts.
struct SensorReply {
    explicit SensorReply(PCDA cda) : buffer(VK_GetSenseTemperatureSensorInfoBuffer(cda)) {}
    ~SensorReply() {
        if (buffer) {
            VK_free(buffer);
        }
    }
    SensorReply(const SensorReply&) = delete;
    SensorReply& operator=(const SensorReply&) = delete;

    ByteView view() const {
        if (!buffer) {
            return {};
        }
        const ByteView header(buffer, sizeof(SENSE_SENSORS_INFO_FIXED));
        return ByteView(buffer, sizeof(SENSE_SENSORS_INFO_FIXED) +
                                    static_cast<size_t>(SensorCount(header)) * sizeof(SENSOR_INFO));
    }
    VK_BYTE* buffer;
};

VK_DWORD FreshSensorField(PCDA cda, VK_DWORD sensor_index, telmar::SensorField field) {
    if (cda == nullptr) {
        return 0;
    }
    const SensorReply reply(cda);
    return DecodeSensorField(reply.view(), sensor_index, field);
}

} // namespace

// ---- Controller mode word ------------------------------------------------------------------------

VK_WORD VK_GetControllerModeInfo(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    _CDA* c = _VK_CDA(cda);
    const ByteView identify = ViewOf(c->identify_controller_buffer);
    VK_WORD word = 0;
    if (IdentifyHasPerConnectorModes(identify, c->controller_firmware_feature_version)) {
        word |= kControllerModeSupportsMixedMode;
    }
    if (!VK_ControllerFeaturePagesSupported(cda) &&
        (telmar::decode::Le32(identify, offsetof(IDENTIFY_CONTROLLER, dwYetMoreControllerFlags)) & 0x02000000)) {
        word |= kControllerModeSupportsHBAMode;
        if (IdentifyExtraFlagsGateOpen(identify) &&
            (telmar::decode::Le32(identify, offsetof(IDENTIFY_CONTROLLER, dwExtraControllerFlags)) & 0x20)) {
            word |= kControllerModeSupportsVeskHBAMode;
        }
    }
    const VK_BYTE controller_mode = identify.u8(offsetof(IDENTIFY_CONTROLLER, bCurrentControllerMode)).value_or(0xFF);
    if (word & kControllerModeSupportsMixedMode) {
        return static_cast<VK_WORD>(word | CurrentModeField(controller_mode, true) | PendingModeOfConnectors(cda));
    }
    if (word & kControllerModeSupportsVeskHBAMode) {
        word |= CurrentModeField(controller_mode, false);
        if (VK_RequestSenseControllerParametersBuffer(cda)) {
            const VK_BYTE nvram = NVRAMFlags(c);
            word |= (nvram & 0x08)   ? kControllerModePendingHBA
                    : (nvram & 0x04) ? kControllerModePendingMixed
                                     : kControllerModePendingRAID;
        }
        return word;
    }
    if (word & kControllerModeSupportsHBAMode) {
        // The cached copy answers even when the load fails: it is then all zeros, RAID.
        VK_RequestSenseControllerParametersBuffer(cda);
        return static_cast<VK_WORD>(word | ((NVRAMFlags(c) & 0x0C)
                                                ? (kControllerModeCurrentHBA | kControllerModePendingHBA)
                                                : (kControllerModeCurrentRAID | kControllerModePendingRAID)));
    }
    return kControllerModeCurrentRAID | kControllerModePendingRAID;
}

VK_BOOL __VK_ControllerCurrentModeIs(PCDA cda, VK_WORD mode) {
    return (VK_GetControllerModeInfo(cda) & kControllerModeCurrentMask) == mode ? kTrue : kFalse;
}

VK_BOOL __VK_ControllerPendingModeIs(PCDA cda, VK_WORD mode) {
    return (VK_GetControllerModeInfo(cda) & kControllerModePendingMask) == mode ? kTrue : kFalse;
}

VK_BOOL VK_ControllerCurrentModeIsRAID(PCDA cda) {
    return __VK_ControllerCurrentModeIs(cda, kControllerModeCurrentRAID);
}
VK_BOOL VK_ControllerCurrentModeIsHBA(PCDA cda) {
    return __VK_ControllerCurrentModeIs(cda, kControllerModeCurrentHBA);
}
VK_BOOL VK_ControllerCurrentModeIsMixed(PCDA cda) {
    return __VK_ControllerCurrentModeIs(cda, kControllerModeCurrentMixed);
}
VK_BOOL VK_ControllerCurrentModeIsUnknown(PCDA cda) {
    return __VK_ControllerCurrentModeIs(cda, kControllerModeCurrentUnknown);
}
VK_BOOL VK_ControllerPendingModeIsRAID(PCDA cda) {
    return __VK_ControllerPendingModeIs(cda, kControllerModePendingRAID);
}
VK_BOOL VK_ControllerPendingModeIsHBA(PCDA cda) {
    return __VK_ControllerPendingModeIs(cda, kControllerModePendingHBA);
}
VK_BOOL VK_ControllerPendingModeIsMixed(PCDA cda) {
    return __VK_ControllerPendingModeIs(cda, kControllerModePendingMixed);
}
VK_BOOL VK_ControllerPendingModeIsUnknown(PCDA cda) {
    return __VK_ControllerPendingModeIs(cda, kControllerModePendingUnknown);
}

// ---- Power-mode word -----------------------------------------------------------------------------

VK_WORD VK_GetPowerModeInformation(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    const VK_DWORD capabilities = VK_ControllerSupportsPowerModes(cda);
    VK_WORD word = 0;
    if (capabilities & 0x1) {
        word |= kPowerModeMinSupported;
    }
    if (capabilities & 0x2) {
        word |= kPowerModeBalancedSupported;
    }
    if (capabilities & 0x4) {
        word |= kPowerModeMaxSupported;
    }
    if (word == 0) {
        return 0;
    }
    if (VK_RequestGetPowerModeBuffer(cda)) {
        word |= DecodePowerModeReply(ViewOf(c->power_mode_buffer));
    }
    VK_WORD default_mode = kPowerModeDefaultInvalid;
    if (c->controller_firmware_feature_version == 4) {
        if (word & kPowerModeMaxSupported) {
            default_mode = kPowerModeDefaultMax;
        } else {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'power_mode_info & 0x2000' failed: Expected controller to support max "
                        "power mode\n",
                        __func__, __LINE__);
        }
    } else if (VK_RequestGetDefaultPowerModeBuffer(cda)) {
        const VK_BYTE reported = c->default_power_mode_buffer.bDefaultPowerMode;
        if ((reported & 0x02) && (word & kPowerModeBalancedSupported)) {
            default_mode = kPowerModeDefaultBalanced;
        } else if ((reported & 0x04) && (word & kPowerModeMaxSupported)) {
            default_mode = kPowerModeDefaultMax;
        } else if ((reported & 0x01) && (word & kPowerModeMinSupported)) {
            default_mode = kPowerModeDefaultMin;
        }
    }
    if (default_mode == kPowerModeDefaultInvalid) {
        default_mode = (word & kPowerModeMaxSupported)        ? kPowerModeDefaultMax
                       : (word & kPowerModeBalancedSupported) ? kPowerModeDefaultBalanced
                                                              : kPowerModeDefaultMin;
    }
    return static_cast<VK_WORD>(word | default_mode);
}

VK_BOOL __VK_CurrentPowerModeIs(PCDA cda, VK_WORD mode) {
    return (VK_GetPowerModeInformation(cda) & kPowerModeCurrentMask) == mode ? kTrue : kFalse;
}

VK_BOOL __VK_PendingPowerModeIs(PCDA cda, VK_WORD mode) {
    return (VK_GetPowerModeInformation(cda) & kPowerModePendingMask) == mode ? kTrue : kFalse;
}

VK_BOOL __VK_PowerModeWarning(PCDA cda, VK_WORD warning) {
    return (VK_GetPowerModeInformation(cda) & kPowerModeWarningMask) == warning ? kTrue : kFalse;
}

VK_BOOL VK_CurrentPowerModeIsInvalid(PCDA cda) {
    return __VK_CurrentPowerModeIs(cda, kPowerModeCurrentInvalid);
}
VK_BOOL VK_CurrentPowerModeIsMin(PCDA cda) {
    return __VK_CurrentPowerModeIs(cda, kPowerModeCurrentMin);
}
VK_BOOL VK_CurrentPowerModeIsBalanced(PCDA cda) {
    return __VK_CurrentPowerModeIs(cda, kPowerModeCurrentBalanced);
}
VK_BOOL VK_CurrentPowerModeIsMax(PCDA cda) {
    return __VK_CurrentPowerModeIs(cda, kPowerModeCurrentMax);
}
VK_BOOL VK_PendingPowerModeIsInvalid(PCDA cda) {
    return __VK_PendingPowerModeIs(cda, kPowerModePendingInvalid);
}
VK_BOOL VK_PendingPowerModeIsMin(PCDA cda) {
    return __VK_PendingPowerModeIs(cda, kPowerModePendingMin);
}
VK_BOOL VK_PendingPowerModeIsBalanced(PCDA cda) {
    return __VK_PendingPowerModeIs(cda, kPowerModePendingBalanced);
}
VK_BOOL VK_PendingPowerModeIsMax(PCDA cda) {
    return __VK_PendingPowerModeIs(cda, kPowerModePendingMax);
}
VK_BOOL VK_PowerModeWarningRebootRequired(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningRebootRequired);
}
VK_BOOL VK_PowerModeWarningTemp(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningTemp);
}
VK_BOOL VK_PowerModeWarningNewMode(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningNewMode);
}
VK_BOOL VK_PowerModeWarningConfigChange(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningConfigChange);
}
VK_BOOL VK_PowerModeWarningRebootPower(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningRebootPower);
}
VK_BOOL VK_PowerModeWarningRebootPerformance(PCDA cda) {
    return __VK_PowerModeWarning(cda, kPowerModeWarningRebootPerformance);
}

VK_BYTE VK_GetControllerSurvivalPowerMode(PCDA cda) {
    if (cda == nullptr) {
        return kControllerSurvivalPowerModeInvalid;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsSurvivalPowerMode(cda) || !VK_RequestGetPowerModeBuffer(cda)) {
        return kControllerSurvivalPowerModeInvalid;
    }
    switch (_VK_CDA(cda)->power_mode_buffer.bSelectedSurvivalMode) {
    case 0:
        return kControllerSurvivalPowerModeDisabled;
    case 1:
        return kControllerSurvivalPowerModeEnabled;
    default:
        return kControllerSurvivalPowerModeInvalid;
    }
}

// ---- Manufacturing data --------------------------------------------------------------------------

VK_BOOL VK_GetControllerManufacturingData(PCDA cda, VK_CONTROLLER_MANUFACTURING_DATA* manufacturing_data) {
    if (cda == nullptr || manufacturing_data == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (_VK_GetControllerOEMID(cda) != 0) {
        return kFalse;
    }
    std::memset(manufacturing_data, 0, sizeof(*manufacturing_data));
    if (!VK_RequestManufacturingData(cda)) {
        return kFalse;
    }
    DecodeManufacturingData(ViewOf(_VK_CDA(cda)->manufacturing_data_buffer), manufacturing_data);
    return kTrue;
}

void* VK_GetControllerOEMManufacturingData(PCDA cda, VK_BYTE* data_type, VK_BYTE* revision) {
    if (cda == nullptr || data_type == nullptr || revision == nullptr) {
        return nullptr;
    }
    CDALock guard(cda);
    if (!VK_RequestManufacturingData(cda)) {
        return nullptr;
    }
    const ByteView reply = ViewOf(_VK_CDA(cda)->manufacturing_data_buffer);
    const VK_BYTE oem_id = _VK_GetControllerOEMID(cda);
    if (oem_id == 0) {
        auto* record = static_cast<VK_CONTROLLER_MANUFACTURING_DATA*>(VK_malloc(sizeof(VK_CONTROLLER_MANUFACTURING_DATA)));
        if (record == nullptr) {
            return nullptr;
        }
        DecodeManufacturingData(reply, record);
        *data_type = 0;
        *revision = 0;
        return record;
    }
    auto* block = static_cast<VK_BYTE*>(VK_malloc(kManufacturingDataSize));
    if (block == nullptr) {
        return nullptr;
    }
    reply.copy_to(0, block, kManufacturingDataSize);
    *data_type = oem_id;
    *revision = block[0];
    return block;
}

// ---- Temperature sensors -------------------------------------------------------------------------

VK_DWORD VK_GetControllerTemperatureSensorCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    const SensorReply reply(cda);
    return SensorCount(reply.view());
}

VK_DWORD VK_GetControllerTemperatureSensorLocation(PCDA cda, VK_DWORD sensor_index) {
    return FreshSensorField(cda, sensor_index, telmar::SensorField::kLocation);
}

VK_DWORD VK_GetControllerTemperatureSensorReading(PCDA cda, VK_DWORD sensor_index) {
    return FreshSensorField(cda, sensor_index, telmar::SensorField::kReading);
}

VK_DWORD VK_GetControllerTemperatureSensorMaxReading(PCDA cda, VK_DWORD sensor_index) {
    return FreshSensorField(cda, sensor_index, telmar::SensorField::kMaxReading);
}

VK_DWORD VK_GetControllerTemperatureSensorInfo(PCDA cda, VK_DWORD sensor_index, VK_BYTE temp_info_type) {
    if (cda == nullptr) {
        return 0;
    }
    switch (temp_info_type) {
    case kGetControllerTemperatureSensorLocation:
        return VK_GetControllerTemperatureSensorLocation(cda, sensor_index);
    case kGetControllerTemperatureSensorReading:
        return VK_GetControllerTemperatureSensorReading(cda, sensor_index);
    case kGetControllerTemperatureSensorMaxReading:
        return VK_GetControllerTemperatureSensorMaxReading(cda, sensor_index);
    default:
        return 0;
    }
}

PCONTROLLER_TEMPERATURE_SENSOR_INFO VK_GetControllerTemperatureSensorsInfo(PCDA cda, VK_DWORD* number_of_sensors) {
    if (cda == nullptr || number_of_sensors == nullptr) {
        return nullptr;
    }
    const SensorReply reply(cda);
    if (reply.buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sense_buffer != ((void *)0)' failed: Failed to get controller sensor info\n",
                    __func__, __LINE__);
        return nullptr;
    }
    if (SensorCount(reply.view()) == 0) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sense_buffer->number_of_sensors > 0' failed: No controller temp sensors "
                    "found\n", __func__, __LINE__);
    }
    const std::vector<CONTROLLER_TEMPERATURE_SENSOR_INFO> sensors = DecodeTemperatureSensors(reply.view());
    if (sensors.empty()) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'valid_sensor_count > 0' failed: No valid controller temp sensors found\n",
                    __func__, __LINE__);
        return nullptr;
    }
    auto* out = static_cast<PCONTROLLER_TEMPERATURE_SENSOR_INFO>(
        VK_malloc(sensors.size() * sizeof(CONTROLLER_TEMPERATURE_SENSOR_INFO)));
    if (out == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'sensors_info != ((void *)0)' failed: Failed to allocate controller temp "
                    "sensor info\n", __func__, __LINE__);
        return nullptr;
    }
    std::memcpy(out, sensors.data(), sensors.size() * sizeof(CONTROLLER_TEMPERATURE_SENSOR_INFO));
    *number_of_sensors = static_cast<VK_DWORD>(sensors.size());
    return out;
}

void VK_DestroyControllerTemperatureSensorsInfo(PCONTROLLER_TEMPERATURE_SENSOR_INFO sensors_info) {
    if (sensors_info != nullptr) {
        VK_free(sensors_info);
    }
}

// ---- Cache and backup power ----------------------------------------------------------------------

namespace {

template <typename Result, typename Decode> Result FromCacheStatus(PCDA cda, Result unavailable, Decode decode) {
    if (cda == nullptr) {
        return unavailable;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return unavailable;
    }
    return decode(ViewOf(_VK_CDA(cda)->sense_cache_config_status_buffer));
}

} // namespace

VK_WORD VK_GetControllerTotalCacheSize(PCDA cda) {
    return FromCacheStatus<VK_WORD>(cda, 0, [](ByteView status) {
        return status.le16(offsetof(CACHE_CONFIG_STATUS, wTotalMemorySize)).value_or(0);
    });
}

VK_WORD VK_GetControllerBatteryBackedCacheSize(PCDA cda) {
    return FromCacheStatus<VK_WORD>(cda, 0, DecodeBatteryBackedCacheSize);
}

VK_BYTE VK_GetControllerBackupPowerSourceType(PCDA cda) {
    return FromCacheStatus<VK_BYTE>(cda, kBackupPowerSourceTypeUnknown, DecodeBackupPowerSourceType);
}

VK_DWORD VK_GetControllerBackupPowerSourceCounts(PCDA cda) {
    return FromCacheStatus<VK_DWORD>(cda, 0, DecodeBackupPowerSourceCounts);
}

// ---- Device counts and enumeration ------------------------------------------------------------------

namespace {

// Device numbers the controller can have, with IDENTIFY CONTROLLER loaded. The caller holds the lock.
size_t DeviceNumberLimit(PCDA cda) {
    return std::min<size_t>(_VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                            kMaxPhysicalDrivesSupported);
}

// The extended non-disk map of IDENTIFY, read through the bounded map reader; nothing when absent.
std::optional<pavlin::ByteView> NonDiskMap(PCDA cda) {
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    return telmar::MapAt(pavlin::ByteView(&id, sizeof(id)), id.wOffsetToExtendedNonDiskMap,
                         telmar::MapByteCount(id.wMaximumPhysicalDevicesSupported));
}

bool InMap(const std::optional<pavlin::ByteView>& map, size_t n) {
    return map && telmar::MapBit(map->data(), map->size(), n);
}

// Usage codes counted under each bit of the drive-type mask.
VK_BYTE TypeBitsOfUsage(VK_BYTE usage) {
    switch (usage) {
    case kPhysicalDriveUsageUnassigned:
    case kPhysicalDriveUsageTransientUnassigned: return kPhysicalDriveTypeUnassigned;
    case kPhysicalDriveUsageData:
    case kPhysicalDriveUsageTransientData: return kPhysicalDriveTypeData;
    case kPhysicalDriveUsageLUCacheData: return kPhysicalDriveTypeCache;
    case kPhysicalDriveUsageAutoReplaceStandbySpare:
    case kPhysicalDriveUsageShareableStandbySpare:
    case kPhysicalDriveUsageShareableActiveSpare: return kPhysicalDriveTypeSpare;
    case kPhysicalDriveUsageHBA: return kPhysicalDriveTypeHBA;
    default: return 0;
    }
}

VK_WORD ArrayCounter(PCDA cda, VK_WORD _CDA::*counter) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    return VK_RequestArrayConfigurationInformation(cda) ? _VK_CDA(cda)->*counter : 0;
}

} // namespace

VK_WORD VK_GetControllerDataArrayCount(PCDA cda) {
    return ArrayCounter(cda, &_CDA::data_array_count);
}
VK_WORD VK_GetControllerCacheArrayCount(PCDA cda) {
    return ArrayCounter(cda, &_CDA::cache_array_count);
}
VK_WORD VK_GetControllerOfflineArrayCount(PCDA cda) {
    return ArrayCounter(cda, &_CDA::offline_array_count);
}
VK_WORD VK_GetControllerTotalArrayCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    return static_cast<VK_WORD>(VK_GetControllerDataArrayCount(cda) + VK_GetControllerCacheArrayCount(cda) +
                                VK_GetControllerOfflineArrayCount(cda));
}

VK_WORD VK_GetControllerArrayCount(PCDA cda, VK_BYTE array_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_WORD count = 0;
    VK_WORD array = kInvalidArrayNumber;
    FOREACH_ARRAY_OF_TYPE(cda, array_type, array) {
        ++count;
    }
    return count;
}

VK_DWORD VK_GetControllerLogicalDriveCounts(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestArrayConfigurationInformation(cda)) {
        return 0;
    }
    const _CDA* c = _VK_CDA(cda);
    return (VK_DWORD{c->cache_ld_count} << kCacheLogicalDriveCountBitShift & kCacheLogicalDriveCountMask) |
           (VK_DWORD{c->data_ld_count} & kDataLogicalDriveCountMask);
}

VK_WORD VK_GetControllerPhysicalDriveCount(PCDA cda, VK_BYTE drive_type) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_WORD count = 0;
    VK_WORD pd = kInvalidPDNumber;
    FOREACH_PHYSICAL_DRIVE(cda, pd) {
        if (drive_type == kPhysicalDriveTypeAny ||
            (drive_type & TypeBitsOfUsage(_VK_CDA(cda)->pd_record_list[pd].pd_config_information.config_usage_info))) {
            ++count;
        }
    }
    return count;
}

VK_WORD VK_GetControllerUnassignedPhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeUnassigned);
}
VK_WORD VK_GetControllerDataPhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeData);
}
VK_WORD VK_GetControllerCachePhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeCache);
}
VK_WORD VK_GetControllerSparePhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeSpare);
}
VK_WORD VK_GetControllerHBAPhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeHBA);
}
VK_WORD VK_GetControllerTotalPhysicalDriveCount(PCDA cda) {
    return VK_GetControllerPhysicalDriveCount(cda, kPhysicalDriveTypeAny);
}

VK_WORD VK_EnumerateControllerPhysicalDevices(PCDA cda, VK_WORD device_number) {
    if (cda == nullptr) {
        return kInvalidDeviceNumber;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return kInvalidDeviceNumber;
    }
    const auto map = NonDiskMap(cda);
    const size_t limit = DeviceNumberLimit(cda);
    for (size_t n = static_cast<VK_WORD>(device_number + 1); map && n < limit; ++n) {
        if (InMap(map, n)) {
            return static_cast<VK_WORD>(n);
        }
    }
    return kInvalidDeviceNumber;
}

VK_WORD VK_EnumerateControllerAllPhysicalDevices(PCDA cda, VK_WORD device_number) {
    if (cda == nullptr) {
        return kInvalidDeviceNumber;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return kInvalidDeviceNumber;
    }
    const auto map = NonDiskMap(cda);
    const size_t limit = DeviceNumberLimit(cda);
    for (size_t n = static_cast<VK_WORD>(device_number + 1); n < limit; ++n) {
        if ((n < _VK_CDA(cda)->pd_records_in_use && (_VK_CDA(cda)->pd_record_list[n].flags & kPDRecordDrive)) ||
            InMap(map, n)) {
            return static_cast<VK_WORD>(n);
        }
    }
    return kInvalidDeviceNumber;
}

VK_WORD VK_GetControllerPhysicalDeviceCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_WORD count = VK_GetControllerTotalPhysicalDriveCount(cda);
    VK_WORD device = kInvalidDeviceNumber;
    FOREACH_PHYSICAL_DEVICE(cda, device) {
        ++count;
    }
    return count;
}

VK_BYTE VK_PhysicalDeviceType(PCDA cda, VK_WORD device_number) {
    if (cda == nullptr || device_number >= kMaxPhysicalDrivesSupported) {
        return kPhysicalDeviceTypeUnknown;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyPhysicalDriveBuffer(cda, device_number)) {
        return kPhysicalDeviceTypeUnknown;
    }
    switch (_VK_CDA(cda)->pd_record_list[device_number].identify_physical_drive_buffer.bDeviceType) {
    case 1:
    case 2:
    case 9: return kPhysicalDeviceTypeDrive;
    case 5: return kPhysicalDeviceTypeExpander;
    case 6: return kPhysicalDeviceTypeSEP;
    case 7: return kPhysicalDeviceTypeController;
    case 8: return kPhysicalDeviceTypeSMP;
    case 0xFF: return kPhysicalDeviceTypePhyNotConnected;
    default: return kPhysicalDeviceTypeUnknown;
    }
}

VK_BOOL VK_IsControllerLUCacheEnabled(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD array = kInvalidArrayNumber;
    FOREACH_ARRAY(cda, array) {
        if (VK_GetArrayType(cda, array) == kArrayTypeLUCache) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL _VK_ControllerHasSelfEncryptingDrives(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    VK_WORD pd = kInvalidPDNumber;
    FOREACH_PHYSICAL_DRIVE(cda, pd) {
        if (VK_GetPhysicalDriveEncryptionInfo(cda, pd) & kPhysicalDriveEncryptionSEDDrive) {
            return kTrue;
        }
    }
    return kFalse;
}

// ---- Operating parameters, cache, surface-scan and out-of-band settings --------------------------

#include "telm_cda_writeback.h"
#include "telm_prop_settings.h"
#include "pavl_tracked.h"
#include "telm_drive_decode.h"

#include <climits>

namespace {

namespace set = telmar::settings;

ByteView ParametersView(const _CDA* c) {
    return ByteView(&c->sense_controller_parameters_buffer, sizeof(c->sense_controller_parameters_buffer));
}

// A value of the cached controller parameters when `gate` holds and the copy loads.
template <typename T, typename Gate, typename Decode>
T FromParameters(PCDA cda, T unavailable, Gate gate, Decode decode) {
    if (cda == nullptr) {
        return unavailable;
    }
    CDALock guard(cda);
    if (!gate() || !VK_RequestSenseControllerParametersBuffer(cda)) {
        return unavailable;
    }
    return static_cast<T>(decode(_VK_CDA(cda)->sense_controller_parameters_buffer));
}

bool Always() {
    return true;
}

VK_WORD DescriptorProtocol(DeviceDescriptor descriptor) {
    VK_BYTE value[sizeof(VK_WORD)] = {};
    if (descriptor == nullptr ||
        PN_GetDeviceSystemPropertySize(descriptor, kDevicePropertyProtocolType) != sizeof(value) ||
        PN_GetDeviceSystemProperty(descriptor, kDevicePropertyProtocolType, value, sizeof(value)) != 0) {
        return 0xFFFF;
    }
    return ByteView(value, sizeof(value)).le16(0).value_or(0xFFFF);
}

constexpr VK_DWORD kBootVolumeSupport = 0x10000000; // dwYetMoreControllerFlags

} // namespace

VK_BYTE VK_GetControllerInconsistencyEventNotification(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerInconsistencyEventNotificationNotSupported,
        [cda] { return VK_ControllerSupportsInconsistencyEventNotification(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) {
            return (p.controller_configuration_flags & 0x10) ? kControllerInconsistencyEventNotificationEnabled
                                                             : kControllerInconsistencyEventNotificationDisabled;
        });
}

VK_BYTE VK_GetControllerNotifyOnAnyBroadcast(PCDA cda) {
    if (cda == nullptr) {
        return kControllerNotifyOnAnyBroadcastError;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsNotifyOnAnyBroadcast(cda)) {
        return kControllerNotifyOnAnyBroadcastNotSupported;
    }
    return FromParameters<VK_BYTE>(cda, kControllerNotifyOnAnyBroadcastError, Always,
                                   [](const CONTROLLER_PARAMETERS& p) {
                                       return (p.dwMoreNVRAMFlags & 0x4000) ? kControllerNotifyOnAnyBroadcastEnabled
                                                                           : kControllerNotifyOnAnyBroadcastDisabled;
                                   });
}

VK_BYTE VK_GetControllerSanitizeLock(PCDA cda) {
    if (cda == nullptr) {
        return kControllerSanitizeLockDisabled;
    }
    CDALock guard(cda);
    if (VK_ControllerSupportsSanitizeLock(cda) == 0) {
        return kControllerSanitizeLockDisabled;
    }
    constexpr VK_BYTE kBothUnknown = kControllerSanitizeLockUnknown << 4 | kControllerSanitizeLockUnknown;
    if (!VK_RequestFeaturePages(cda)) {
        return kBothUnknown;
    }
    return FromParameters<VK_BYTE>(cda, kBothUnknown, Always,
                                   [](const CONTROLLER_PARAMETERS& p) { return set::SanitizeLock(p.bSanitizePolicy); });
}

VK_BYTE VK_GetControllerOSBootableDriveCount(PCDA cda) {
    return FromParameters<VK_BYTE>(cda, 0, Always,
                                   [](const CONTROLLER_PARAMETERS& p) { return p.bNumOSBootableDrives; });
}

namespace {

VK_DWORD ExpanderDuration(PCDA cda, VK_WORD CONTROLLER_PARAMETERS::*field) {
    if (cda == nullptr) {
        return kGetControllerExpanderScanDurationFailed;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseControllerParametersBuffer(cda)) {
        return kGetControllerExpanderScanDurationFailed;
    }
    if (!VK_ControllerSupportsExpanderMinimumScanDuration(cda)) {
        return kGetControllerExpanderScanDurationNotSupported;
    }
    return _VK_CDA(cda)->sense_controller_parameters_buffer.*field;
}

} // namespace

VK_DWORD VK_GetControllerExpanderMaximumAllowableScanDuration(PCDA cda) {
    return ExpanderDuration(cda, &CONTROLLER_PARAMETERS::wScanDevicesTimeout);
}

VK_DWORD VK_GetControllerExpanderMinimumScanDuration(PCDA cda) {
    return ExpanderDuration(cda, &CONTROLLER_PARAMETERS::wExpanderSpinupMinimumDuration);
}

VK_BYTE VK_GetControllerPCIeOrdering(PCDA cda) {
    if (cda == nullptr) {
        return kControllerPCIeOrderingNotSupported;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsPCIeRelaxedOrdering(cda)) {
        return kControllerPCIeOrderingNotSupported;
    }
    constexpr VK_BYTE kBothUnknown = kControllerPCIeOrderingUnknown << 4 | kControllerPCIeOrderingUnknown;
    return FromParameters<VK_BYTE>(cda, kBothUnknown, Always, [](const CONTROLLER_PARAMETERS& p) {
        return set::PCIeOrdering(p.pbPCIEOrderingMode[0], p.pbPCIEOrderingMode[1]);
    });
}

VK_DWORD VK_GetControllerActiveMaxReadRequestSize(PCDA cda) {
    return FromParameters<VK_DWORD>(
        cda, 0, [cda] { return VK_ControllerSupportsMaxReadRequestSize(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) { return set::PCIeSize(p.bPCIEMaxReadRequestSize); });
}

VK_DWORD VK_GetControllerPendingMaxReadRequestSize(PCDA cda) {
    return FromParameters<VK_DWORD>(
        cda, 0, [cda] { return VK_ControllerSupportsMaxReadRequestSize(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) {
            return set::PendingReadRequestSize(p.bPCIeMRRSOverrideSetting, p.bPCIEMaxReadRequestSize);
        });
}

VK_DWORD VK_GetControllerMaxPayloadSize(PCDA cda) {
    return FromParameters<VK_DWORD>(
        cda, 0, [cda] { return VK_ControllerSupportsMaxPayloadSize(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) { return set::PCIeSize(p.bPCIEMaxPayloadSize); });
}

VK_BYTE VK_GetControllerPersistentEventLogPolicy(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerPersistentEventLogPolicyInvalid,
        [cda] { return VK_ControllerSupportsSettingPersistentEventLogPolicy(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) {
            return (p.dwMoreNVRAMFlags & 0x10000) ? kControllerPersistentEventLogPolicyKeepNewest
                                                  : kControllerPersistentEventLogPolicyKeepOldest;
        });
}

VK_BYTE VK_GetControllerUEFIDriverHealthReportingStatus(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerUEFIDriveHealthReportInvalid,
        [cda] { return VK_ControllerSupportsUEFIDriverHealthReporting(cda) != kFalse; },
        [](const CONTROLLER_PARAMETERS& p) { return set::UEFIHealthReporting(p.PrebootHealthReportingMode); });
}

VK_INT64 VK_GetControllerTime(PCDA cda) {
    if (cda == nullptr) {
        return -1;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseControllerParametersBuffer(cda)) {
        return -1;
    }
    auto clock = set::ControllerClock(ParametersView(_VK_CDA(cda)));
    if (!clock) {
        return -1;
    }
    return static_cast<VK_INT64>(VK_mktime(&*clock));
}

char* VK_GetControllerBootVolumeID(PCDA cda, VK_BYTE precedence, char* buffer, size_t buffer_size) {
    const char* small = precedence == kBootableVolumePrecedenceSecondary
                            ? "Destination for ctrl secondary boot volume ID too small"
                            : "Destination for ctrl primary boot volume ID too small";
    if (!TextBufferUsable(__func__, __LINE__, buffer, buffer_size, kMinGetControllerBootVolumeIDBufferLength,
                          "Destination for ctrl boot volume ID NULL", small)) {
        return buffer;
    }
    std::memset(buffer, 0, buffer_size);
    if (cda == nullptr) {
        return buffer;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        !(dec::Le32(IdentifyView(c), dec::identify::kYetMoreControllerFlags) & kBootVolumeSupport) ||
        !VK_RequestSenseControllerParametersBuffer(cda)) {
        return buffer;
    }
    if (precedence == kBootableVolumePrecedencePrimary) {
        set::BootLunText(ParametersView(c), set::cp::kPrimaryBootLun, buffer, buffer_size);
    } else if (precedence == kBootableVolumePrecedenceSecondary) {
        set::BootLunText(ParametersView(c), set::cp::kSecondaryBootLun, buffer, buffer_size);
    }
    return buffer;
}

VK_BYTE VK_GetControllerWaitForCacheRoom(PCDA cda) {
    if (cda == nullptr) {
        return kControllerWaitForCacheRoomInvalid;
    }
    CDALock guard(cda);
    if (!VK_RequestSenseCacheConfigStatusBuffer(cda) || !VK_ControllerSupportsWaitForCacheRoom(cda)) {
        return kControllerWaitForCacheRoomInvalid;
    }
    return (_VK_CDA(cda)->sense_cache_config_status_buffer.cache_configuration_flags & kCacheConfigWaitForCacheRoom)
               ? kControllerWaitForCacheRoomEnabled
               : kControllerWaitForCacheRoomDisabled;
}

VK_WORD VK_GetControllerNonBatteryBackedReadCachePercentLimits(PCDA cda) {
    return set::ReadCacheLimits(_VK_GetControllerMaxWriteCachePercent(cda, kFalse));
}

VK_BYTE _VK_GetControllerSSARatePercentFromPriority(VK_WORD surface_analysis_priority, VK_DWORD ld_count) {
    return set::SSARatePercent(surface_analysis_priority, ld_count);
}

VK_BYTE VK_GetControllerOOBInterfaces(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return VK_RequestFeaturePages(cda) ? _VK_CDA(cda)->sense_feature.page_oob_command.bInterfacesEnabled : 0;
    }
    return DescriptorProtocol(_VK_CDA(cda)->controller_handle) == kProtocolTypeSIS ? 1 : 0;
}

VK_WORD VK_GetControllerI2CAddress(PCDA cda) {
    if (cda == nullptr) {
        return kUnknownI2CAddress;
    }
    CDALock guard(cda);
    if (!(VK_GetControllerOOBInterfaces(cda) & kOOBInterfaceI2CEnabled) ||
        !(VK_ControllerSupportsOOBCommands(cda) & kOOBSubcommandReadI2CConfiguration)) {
        return kUnknownI2CAddress;
    }
    const pavlin::TrackedPtr<I2C_INFO> info(VK_RequestI2ConfigurationForUpdate(cda));
    return info ? info->slave_address : kUnknownI2CAddress;
}

namespace {

VK_BYTE OOBConfigurationAt(PCDA cda, OOBConfiguration* configuration, size_t offset) {
    if (configuration == nullptr) {
        return kGetControllerOOBConfigurationInvalidInput;
    }
    std::memset(configuration, 0, sizeof(*configuration));
    if (cda == nullptr) {
        return kGetControllerOOBConfigurationFailed;
    }
    CDALock guard(cda);
    if (!(VK_ControllerSupportsOOBCommands(cda) & kOOBSubcommandMessageInterface)) {
        return kGetControllerOOBConfigurationNotSupported;
    }
    if (!VK_RequestOOBMessageInterfaceBuffer(cda)) {
        return kGetControllerOOBConfigurationFailed;
    }
    const OOB_MESSAGE_INTERFACE& oob = _VK_CDA(cda)->oob_message_interface_buffer;
    ByteView(&oob, sizeof(oob)).copy_to(offset, configuration, sizeof(*configuration));
    return kGetControllerOOBConfigurationSuccess;
}

static_assert(sizeof(OOBConfiguration) == 4);
static_assert(offsetof(OOB_MESSAGE_INTERFACE, bPendingInterfaceType) == 4);

} // namespace

VK_BYTE VK_GetControllerActiveOOBConfiguration(PCDA cda, OOBConfiguration* configuration) {
    return OOBConfigurationAt(cda, configuration, offsetof(OOB_MESSAGE_INTERFACE, bActiveInterfaceType));
}

VK_BYTE VK_GetControllerPendingOOBConfiguration(PCDA cda, OOBConfiguration* configuration) {
    return OOBConfigurationAt(cda, configuration, offsetof(OOB_MESSAGE_INTERFACE, bPendingInterfaceType));
}

// Settings that exist only while the controller has logical drives.

namespace {

bool HasLogicalDrives(PCDA cda) {
    return VK_GetControllerLogicalDriveCounts(cda) != 0;
}

bool ExpansionAllowed(PCDA cda) {
    if (!VK_ControllerIsSoftwareRAID(cda)) {
        return true;
    }
    if (VK_RequestSenseExpansionAbilityBuffer(cda) &&
        _VK_CDA(cda)->sense_expansion_ability_buffer.dwExpansionMemorySize != 0) {
        return true;
    }
    return (VK_ControllerSupportsTransformations(cda) & kControllerSupportsPowerlessTransformations) != 0;
}

} // namespace

VK_BYTE VK_GetControllerExpandPriority(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerExpandPriorityInvalid, [cda] { return HasLogicalDrives(cda) && ExpansionAllowed(cda); },
        [](const CONTROLLER_PARAMETERS& p) { return set::ExpandPriority(p.expand_priority); });
}

VK_BYTE VK_GetControllerRebuildPriority(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerRebuildPriorityInvalid,
        [cda] { return HasLogicalDrives(cda) && VK_RequestIdentifyControllerBuffer(cda); },
        [cda](const CONTROLLER_PARAMETERS& p) {
            return set::RebuildPriority(p.rebuild_priority, VK_ControllerSupportsRapidRebuild(cda) != kFalse);
        });
}

VK_BYTE VK_GetControllerRebuildRatePercent(PCDA cda) {
    if (cda == nullptr) {
        return kControllerRebuildRatePercentageInvalid;
    }
    CDALock guard(cda);
    if (VK_GetControllerRebuildPriority(cda) == kControllerRebuildPriorityInvalid) {
        return kControllerRebuildRatePercentageInvalid;
    }
    return set::RebuildRatePercent(_VK_CDA(cda)->sense_controller_parameters_buffer.rebuild_priority);
}

VK_BYTE VK_GetControllerTransformationRatePercent(PCDA cda) {
    if (cda == nullptr) {
        return kControllerTransformationRatePercentInvalid;
    }
    CDALock guard(cda);
    if (VK_GetControllerExpandPriority(cda) == kControllerExpandPriorityInvalid) {
        return kControllerTransformationRatePercentInvalid;
    }
    return set::TransformationRatePercent(_VK_CDA(cda)->sense_controller_parameters_buffer.expand_priority);
}

VK_BYTE VK_GetControllerSAM(PCDA cda) {
    return FromParameters<VK_BYTE>(cda, kControllerSAMTypeInvalid, [cda] { return HasLogicalDrives(cda); },
                                   [cda](const CONTROLLER_PARAMETERS& p) {
                                       return (VK_ControllerSupportsPredictiveSpareRebuild(cda) &&
                                               (p.drive_configuration_flags & 0x80))
                                                  ? kControllerSAMTypePredictive
                                                  : kControllerSAMTypeFailure;
                                   });
}

VK_BYTE VK_GetControllerDPO(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerDPOInvalid, [cda] { return VK_ControllerSupportsDPO(cda) && HasLogicalDrives(cda); },
        [](const CONTROLLER_PARAMETERS& p) {
            return (p.controller_configuration_flags & 0x08) ? kControllerDPOEnabled : kControllerDPODisabled;
        });
}

VK_BYTE VK_GetControllerIRP(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerIRPInvalid, [cda] { return VK_ControllerSupportsIRP(cda) && HasLogicalDrives(cda); },
        [](const CONTROLLER_PARAMETERS& p) {
            return (p.controller_configuration_flags & 0x04) ? kControllerIRPEnabled : kControllerIRPDisabled;
        });
}

VK_BYTE VK_GetControllerElevatorSort(PCDA cda) {
    return FromParameters<VK_BYTE>(cda, kControllerElevatorSortInvalid, [cda] { return HasLogicalDrives(cda); },
                                   [](const CONTROLLER_PARAMETERS& p) {
                                       return p.elevator_state != 0 ? kControllerElevatorSortDisabled
                                                                    : kControllerElevatorSortEnabled;
                                   });
}

VK_BYTE VK_GetControllerQueueDepth(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerQueueDepthInvalid,
        [cda] { return VK_ControllerSupportsQueueDepth(cda) && HasLogicalDrives(cda); },
        [](const CONTROLLER_PARAMETERS& p) { return set::QueueDepth(p.queue_depth); });
}

VK_BYTE VK_GetControllerFLS(PCDA cda) {
    return FromParameters<VK_BYTE>(
        cda, kControllerFLSInvalid,
        [cda] {
            return HasLogicalDrives(cda) && VK_RequestIdentifyControllerBuffer(cda) && VK_ControllerSupportsFLS(cda);
        },
        [](const CONTROLLER_PARAMETERS& p) { return set::FLS(p.elevator_latency_setting); });
}

VK_DWORD VK_GetControllerWCBT(PCDA cda) {
    return FromParameters<VK_DWORD>(cda, 0, [cda] { return HasLogicalDrives(cda); },
                                    [](const CONTROLLER_PARAMETERS& p) {
                                        return set::WCBT(p.dwBigBlockCacheLineBypassLimit);
                                    });
}

VK_BYTE VK_GetControllerNBWC(PCDA cda) {
    if (cda == nullptr) {
        return kControllerNBWCInvalid;
    }
    CDALock guard(cda);
    if (!HasLogicalDrives(cda) || !VK_RequestSenseCacheConfigStatusBuffer(cda) || !VK_ControllerSupportsNBWC(cda)) {
        return kControllerNBWCInvalid;
    }
    return (_VK_CDA(cda)->sense_cache_config_status_buffer.cache_configuration_flags & kCacheConfigNBWCEnabled)
               ? kControllerNBWCEnabled
               : kControllerNBWCDisabled;
}

VK_BYTE __CalculateReadRatioPercent(PCDA cda, VK_DWORD read_size, VK_DWORD total_size) {
    const VK_BYTE ratio = set::ReadRatio(read_size, total_size);
    return set::ApplyReadMinimum(ratio, VK_GetControllerNBWC(cda) == kControllerNBWCDisabled,
                                 VK_GetControllerNonBatteryBackedReadCachePercentLimits(cda));
}

namespace {

// The NBWC minimum applied to a ratio of a cache configuration; the caller holds the lock.
VK_BYTE WithReadMinimum(PCDA cda, VK_BYTE ratio) {
    if (ratio == kControllerReadCachePercentInvalid) {
        return ratio;
    }
    return set::ApplyReadMinimum(ratio, VK_GetControllerNBWC(cda) == kControllerNBWCDisabled,
                                 VK_GetControllerNonBatteryBackedReadCachePercentLimits(cda));
}

ByteView CacheStatusView(const _CDA* c) {
    return ByteView(&c->sense_cache_config_status_buffer, sizeof(c->sense_cache_config_status_buffer));
}

} // namespace

VK_BYTE VK_GetControllerReadCachePercent(PCDA cda) {
    if (cda == nullptr) {
        return kControllerReadCachePercentInvalid;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (c->flags[kCDAFlagsReadCachePercent] & kCDAValidReadCachePercent) {
        return c->read_cache_percent;
    }
    c->read_cache_percent = kControllerReadCachePercentInvalid;
    if (VK_RequestSenseCacheConfigStatusBuffer(cda) && HasLogicalDrives(cda)) {
        c->read_cache_percent = WithReadMinimum(cda, set::CurrentReadPercentRatio(CacheStatusView(c)));
        if (c->read_cache_percent > 100 && c->read_cache_percent != kControllerReadCachePercentInvalid) {
            TELM_SOFT_ASSERT("read_cache_percent <= 100", "Invalid read cache percent");
        }
    }
    if (c->read_cache_percent != kControllerReadCachePercentInvalid) {
        c->flags[kCDAFlagsReadCachePercent] |= kCDAValidReadCachePercent;
    }
    return c->read_cache_percent;
}

VK_BYTE VK_GetControllerPreviousReadCachePercent(PCDA cda) {
    if (cda == nullptr) {
        return kControllerPreviousReadCachePercentInvalid;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsPreviousCacheRatioSettings(cda) || !VK_RequestSenseCacheConfigStatusBuffer(cda)) {
        return kControllerPreviousReadCachePercentInvalid;
    }
    const auto previous = set::PreviousReadPercentRatio(CacheStatusView(_VK_CDA(cda)));
    if (!previous) {
        return VK_GetControllerReadCachePercent(cda);
    }
    return WithReadMinimum(cda, *previous);
}

VK_WORD VK_GetControllerSSAPriority(PCDA cda) {
    if (cda == nullptr) {
        return 0xFFFF;
    }
    CDALock guard(cda);
    if (!HasLogicalDrives(cda) || !VK_RequestSurfaceStatusBuffer(cda)) {
        return 0xFFFF;
    }
    return _VK_CDA(cda)->surface_status_buffer.wSurfaceDelay;
}

VK_BYTE VK_GetControllerSSARatePercent(PCDA cda) {
    if (cda == nullptr) {
        return kControllerSSARatePercentInvalid;
    }
    CDALock guard(cda);
    return set::SSARatePercent(VK_GetControllerSSAPriority(cda), VK_GetControllerLogicalDriveCounts(cda));
}

VK_BYTE VK_GetControllerPSSCount(PCDA cda) {
    if (cda == nullptr) {
        return kControllerPSSCountInvalid;
    }
    CDALock guard(cda);
    if (!HasLogicalDrives(cda) || !VK_RequestSurfaceStatusBuffer(cda)) {
        return kControllerPSSCountInvalid;
    }
    const SURFACE_STATUS& s = _VK_CDA(cda)->surface_status_buffer;
    return set::PSSCount(ByteView(&s, sizeof(s)));
}

VK_WORD VK_GetControllerMNPDelay(PCDA cda) {
    if (cda == nullptr) {
        return kControllerMNPDelayInvalid;
    }
    CDALock guard(cda);
    if (!HasLogicalDrives(cda) || !VK_RequestSenseMNPStatusBuffer(cda)) {
        return kControllerMNPDelayInvalid;
    }
    const MNP_STATUS& s = _VK_CDA(cda)->sense_mnp_status_buffer;
    return set::MNPDelay(ByteView(&s, sizeof(s)));
}

// ---- Drive write cache ----

namespace {

constexpr VK_BYTE kDriveTypesWithoutNVMe = 4;
constexpr VK_BYTE kDriveTypesWithNVMe = 6;

VK_BYTE PolicyDriveTypes(PCDA cda) {
    return (VK_ControllerSupportsAdditionalRAIDInfo(cda) & kControllerSupportsNVMeRAID) ? kDriveTypesWithNVMe
                                                                                         : kDriveTypesWithoutNVMe;
}

// A usage exists only where some connector runs in a mode that has such drives.
bool UsagePossible(PCDA cda, VK_BYTE usage) {
    switch (usage) {
    case kDriveWriteCacheUsageTypeConfigured:
        return _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeMixed) ||
               _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeRAID);
    case kDriveWriteCacheUsageTypeUnconfigured:
        return _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeMixed) != kFalse;
    case kDriveWriteCacheUsageTypeHBA:
        return _VK_AnyConnectorSupportsOperatingMode(cda, kConnectorModeHBA) != kFalse;
    default:
        return false;
    }
}

} // namespace

VK_BYTE VK_GetControllerDriveWriteCachePolicy(PCDA cda, VK_BYTE drive_type, VK_BYTE usage_type) {
    if (cda == nullptr) {
        return kControllerDriveWriteCacheInvalid;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsDriveWriteCacheForAllDrives(cda)) {
        if (drive_type > kDriveWriteCacheDriveTypeNVMESSD || usage_type > kDriveWriteCacheUsageTypeHBA) {
            return kControllerDriveWriteCacheInvalid;
        }
        return usage_type == kDriveWriteCacheUsageTypeConfigured ? VK_GetControllerDriveWriteCache(cda)
                                                                 : kControllerDriveWriteCacheDefault;
    }
    if (drive_type >= PolicyDriveTypes(cda) || usage_type > kDriveWriteCacheUsageTypeHBA ||
        !VK_RequestSenseControllerParametersBuffer(cda) || !UsagePossible(cda, usage_type)) {
        return kControllerDriveWriteCacheInvalid;
    }
    const VK_BYTE value = set::DriveWriteCachePolicyBits(
        _VK_CDA(cda)->sense_controller_parameters_buffer.pbDriveWriteCachePolicy[drive_type], usage_type);
    if (value == kControllerDriveWriteCacheUnchanged && !_VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(cda)) {
        return kControllerDriveWriteCacheInvalid;
    }
    return value;
}

VK_BYTE VK_GetControllerDriveWriteCache(PCDA cda) {
    if (cda == nullptr) {
        return kControllerDriveWriteCacheInvalid;
    }
    CDALock guard(cda);
    if (VK_ControllerSupportsDriveWriteCacheForAllDrives(cda)) {
        bool all_enabled = true, all_disabled = true;
        const VK_BYTE types = PolicyDriveTypes(cda);
        for (VK_BYTE type = 0; type < types; ++type) {
            const VK_BYTE value = VK_GetControllerDriveWriteCachePolicy(cda, type, kDriveWriteCacheUsageTypeConfigured);
            all_enabled = all_enabled && value == kControllerDriveWriteCacheEnabled;
            all_disabled = all_disabled && value == kControllerDriveWriteCacheDisabled;
        }
        return all_enabled    ? kControllerDriveWriteCacheEnabled
               : all_disabled ? kControllerDriveWriteCacheDisabled
                              : kControllerDriveWriteCacheInvalid;
    }
    return FromParameters<VK_BYTE>(
        cda, kControllerDriveWriteCacheInvalid,
        [cda] { return HasLogicalDrives(cda) && VK_ControllerSupportsDriveWriteCache(cda); },
        [](const CONTROLLER_PARAMETERS& p) {
            return (p.drive_configuration_flags & 0x01) ? kControllerDriveWriteCacheEnabled
                                                        : kControllerDriveWriteCacheDisabled;
        });
}

// ---- Boot volumes ----

namespace {

constexpr size_t kVolumeIDText = kMinGetControllerBootVolumeIDBufferLength;
constexpr VK_WORD kNoVolume = 0xFFFF;

// The first volume of an enumeration whose id text equals `volume_id`. An empty id names nothing:
// a volume whose id cannot be read has an empty one too.
template <typename Next, typename IdOf>
VK_WORD FindVolume(PCDA cda, const char* volume_id, Next next, IdOf id_of) {
    if (cda == nullptr || volume_id == nullptr || volume_id[0] == '\0') {
        return kNoVolume;
    }
    CDALock guard(cda);
    for (VK_WORD n = next(kNoVolume); n != kNoVolume; n = next(n)) {
        char id[kVolumeIDText] = {};
        id_of(n, id, sizeof(id));
        if (std::strcmp(id, volume_id) == 0) {
            return n;
        }
    }
    return kNoVolume;
}

// 1 primary, 2 secondary, 3 both, for a volume of this id text.
VK_BYTE ControllerBootPriority(PCDA cda, const char* volume_id) {
    char primary[kVolumeIDText] = {};
    char secondary[kVolumeIDText] = {};
    VK_GetControllerBootVolumeID(cda, kBootableVolumePrecedencePrimary, primary, sizeof(primary));
    VK_GetControllerBootVolumeID(cda, kBootableVolumePrecedenceSecondary, secondary, sizeof(secondary));
    return set::BootPriority(volume_id, primary, secondary);
}

} // namespace

VK_WORD _VK_GetLogicalDriveNumberFromID(PCDA cda, const char* volume_id) {
    return FindVolume(
        cda, volume_id, [cda](VK_WORD n) { return VK_EnumerateControllerBootableLogicalDrives(cda, n); },
        [cda](VK_WORD n, char* id, size_t size) { VK_GetLogicalDriveUniqueVolumeID(cda, n, id, size); });
}

VK_WORD _VK_GetPhysicalDriveNumberFromID(PCDA cda, const char* volume_id) {
    return FindVolume(
        cda, volume_id, [cda](VK_WORD n) { return VK_EnumerateControllerBootablePhysicalDrives(cda, n); },
        [cda](VK_WORD n, char* id, size_t size) { VK_GetPhysicalDriveBootVolumeID(cda, n, id, size); });
}

VK_WORD _VK_GetRemoteVolumeNumberFromID(PCDA cda, const char* volume_id) {
    if (cda == nullptr) {
        return kNoVolume;
    }
    CDALock guard(cda);
    VK_RequestRemoteVolumeRecords(cda);
    const VK_WORD count = _VK_CDA(cda)->remote_volume_count;
    return FindVolume(
        cda, volume_id,
        [count](VK_WORD n) {
            const VK_WORD next = static_cast<VK_WORD>(n + 1);
            return next < count ? next : kNoVolume;
        },
        [cda](VK_WORD n, char* id, size_t size) { VK_GetRemoteVolumeUniqueID(cda, n, id, size); });
}

VK_WORD VK_GetControllerBootVolumeNumber(PCDA cda, VK_BYTE precedence, VK_BYTE volume_type) {
    if (cda == nullptr) {
        return kNoVolume;
    }
    char id[kVolumeIDText] = {};
    VK_GetControllerBootVolumeID(cda, precedence, id, sizeof(id));
    switch (volume_type) {
    case kBootableVolumeDriveTypeLogical:
        return _VK_GetLogicalDriveNumberFromID(cda, id);
    case kBootableVolumeDriveTypePhysical:
        return _VK_GetPhysicalDriveNumberFromID(cda, id);
    case kBootableVolumeDriveTypeRemote:
        return _VK_GetRemoteVolumeNumberFromID(cda, id);
    default:
        return kNoVolume;
    }
}

VK_BYTE VK_GetPhysicalDriveBootPriority(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kBootableVolumePrecedenceNone;
    }
    CDALock guard(cda);
    if (!__VK_CheckBootPhysicalDrive(cda, pd_number)) {
        return kBootableVolumePrecedenceNone;
    }
    char id[kVolumeIDText] = {};
    VK_GetPhysicalDriveBootVolumeID(cda, pd_number, id, sizeof(id));
    return ControllerBootPriority(cda, id);
}

VK_BYTE VK_GetLogicalDriveBootPriority(PCDA cda, VK_WORD ld_number) {
    if (cda == nullptr) {
        return kBootableVolumePrecedenceNone;
    }
    CDALock guard(cda);
    char id[kVolumeIDText] = {};
    VK_GetLogicalDriveUniqueVolumeID(cda, ld_number, id, sizeof(id));
    return ControllerBootPriority(cda, id);
}
