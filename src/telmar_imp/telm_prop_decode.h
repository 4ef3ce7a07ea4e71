// Decoders of the controller-level replies behind the identity properties and the drive-count and
// strip-size limits. Each reads through the bounds-checked byte view, so a reply (or a view cut
// short) can never be read past its end: a field outside the view reads as 0 or as empty text.
// The public getters run them over the cached copies; tests and fuzz targets call them directly.
#ifndef TELM_PROP_DECODE_H
#define TELM_PROP_DECODE_H

#include <cstddef>
#include <iterator>
#include <optional>

#include "pavl_bytes.h"
#include "ppavl_types.h"
#include "telm_bmic.h"

namespace telmar::decode {

using pavlin::ByteView;

inline VK_BYTE U8(ByteView v, size_t offset) {
    return v.u8(offset).value_or(0);
}
inline VK_WORD Le16(ByteView v, size_t offset) {
    return v.le16(offset).value_or(0);
}
inline VK_DWORD Le32(ByteView v, size_t offset) {
    return v.le32(offset).value_or(0);
}

// IDENTIFY CONTROLLER offsets.
namespace identify {
#define TELM_ID_OFFSET(field) offsetof(IDENTIFY_CONTROLLER, field)
inline constexpr size_t kShortRAMFirmwareRev = TELM_ID_OFFSET(sShortRAMFirmwareRev);
inline constexpr size_t kShortROMFirmwareRev = TELM_ID_OFFSET(sShortROMFirmwareRev);
inline constexpr size_t kMarketingRevision = TELM_ID_OFFSET(cMarketingRevision);
inline constexpr size_t kActiveROMStatus = TELM_ID_OFFSET(bActiveROMStatus);
inline constexpr size_t kControllerPostStatus = TELM_ID_OFFSET(bControllerPostStatus);
inline constexpr size_t kTotalAvailableMemorySize = TELM_ID_OFFSET(wTotalAvailableMemorySize);
inline constexpr size_t kMaximumLogicalDevices = TELM_ID_OFFSET(wMaximumLogicalDevicesSupported);
inline constexpr size_t kMaximumPhysicalDevices = TELM_ID_OFFSET(wMaximumPhysicalDevicesSupported);
inline constexpr size_t kMaximumDrivesPerLogicalUnit = TELM_ID_OFFSET(wMaximumPhysicalDrivesPerLogicalUnit);
inline constexpr size_t kYetMoreControllerFlags = TELM_ID_OFFSET(dwYetMoreControllerFlags);
inline constexpr size_t kLastLockup = TELM_ID_OFFSET(bLastLockup);
inline constexpr size_t kPCISlot = TELM_ID_OFFSET(bPCISlot);
inline constexpr size_t kFirmwareBuildNumber = TELM_ID_OFFSET(wFirmwareBuildNumber);
inline constexpr size_t kMaximumSafeFullStripeSizeMB = TELM_ID_OFFSET(dwMaximumSafeFullStripeSizeMB);
inline constexpr size_t kVendorID = TELM_ID_OFFSET(sVendorID);
inline constexpr size_t kProductID = TELM_ID_OFFSET(sProductID);
inline constexpr size_t kExtendedLastLockup = TELM_ID_OFFSET(dwExtendedLastLockup);
inline constexpr size_t kMaximumRAID01StripeSize = TELM_ID_OFFSET(wMaximumRAID01StripeSize);
inline constexpr size_t kMaximumRAID45StripeSize = TELM_ID_OFFSET(wMaximumRAID45StripeSize);
inline constexpr size_t kMaximumRAID6StripeSize = TELM_ID_OFFSET(wMaximumRAID6StripeSize);
inline constexpr size_t kFixedStructureLength = TELM_ID_OFFSET(dwFixedStructureLength);
inline constexpr size_t kFirmwareCompileTimeStamp = TELM_ID_OFFSET(sFirmwareCompileTimeStamp);
inline constexpr size_t kEvenMoreControllerFlags = TELM_ID_OFFSET(dwEvenMoreControllerFlags);
inline constexpr size_t kExtraControllerFlags = TELM_ID_OFFSET(dwExtraControllerFlags);
inline constexpr size_t kPCIEGeneration = TELM_ID_OFFSET(bPCIEGeneration);
inline constexpr size_t kPCIEWidth = TELM_ID_OFFSET(bPCIEWidth);
inline constexpr size_t kFWTag = TELM_ID_OFFSET(sFWTag);
inline constexpr size_t kSimultaneousSpinupCountField = TELM_ID_OFFSET(dwSimultaneousSpinupCount);
inline constexpr size_t kDriveSpinupDelay = TELM_ID_OFFSET(dwDriveSpinupDelay);
inline constexpr size_t kPCIDeviceID = TELM_ID_OFFSET(wPCIDeviceID);
inline constexpr size_t kPCIVendorID = TELM_ID_OFFSET(wPCIVendorID);
inline constexpr size_t kPCISSDeviceID = TELM_ID_OFFSET(wPCISSDeviceID);
inline constexpr size_t kPCISSVendorID = TELM_ID_OFFSET(wPCISSVendorID);
inline constexpr size_t kPCIMaxLinkRateField = TELM_ID_OFFSET(dwPCIMaxLinkRate);
inline constexpr size_t kPCIMaxLinkWidthField = TELM_ID_OFFSET(dwPCIMaxLinkWidth);
inline constexpr size_t kMinRAID01StripSize = TELM_ID_OFFSET(wMinRAID01StripSize);
inline constexpr size_t kMinParityStripSize = TELM_ID_OFFSET(wMinParityStripSize);
inline constexpr size_t kFamilyID = TELM_ID_OFFSET(sFamilyID);
inline constexpr size_t kExtendedPCISlot = TELM_ID_OFFSET(wExtendedPCISlot);
inline constexpr size_t kPendingFirmwareVersion = TELM_ID_OFFSET(sPendingFirmwareVersion);
inline constexpr size_t kPendingComparisonStamp = TELM_ID_OFFSET(u32PendingFirmwareComparisonStamp);
inline constexpr size_t kCurrentComparisonStamp = TELM_ID_OFFSET(u32CurrentFirmwareComparisonStamp);
inline constexpr size_t kMarketingRevisionMinor = TELM_ID_OFFSET(bMarketingRevisionMinor);
#undef TELM_ID_OFFSET

inline constexpr size_t kShortFirmwareRevWidth = sizeof(IDENTIFY_CONTROLLER::sShortRAMFirmwareRev);
inline constexpr size_t kLongFirmwareVersionWidth = sizeof(IDENTIFY_CONTROLLER::sFWTag);
inline constexpr size_t kVendorIDWidth = sizeof(IDENTIFY_CONTROLLER::sVendorID);
inline constexpr size_t kProductIDWidth = sizeof(IDENTIFY_CONTROLLER::sProductID);
inline constexpr size_t kFamilyIDWidth = sizeof(IDENTIFY_CONTROLLER::sFamilyID);
inline constexpr size_t kCompileTimeStampWidth = sizeof(IDENTIFY_CONTROLLER::sFirmwareCompileTimeStamp);
} // namespace identify

// SUBSYSTEM_PARAMETERS offsets.
namespace subsystem {
inline constexpr size_t kPortName = offsetof(SUBSYSTEM_PARAMETERS, bPortName);
inline constexpr size_t kPortNameWidth = sizeof(SUBSYSTEM_PARAMETERS::bPortName);
inline constexpr size_t kControllerSerialNumber = offsetof(SUBSYSTEM_PARAMETERS, sControllerSerialNumber);
inline constexpr size_t kSerialNumberWidth = sizeof(SUBSYSTEM_PARAMETERS::sControllerSerialNumber);
inline constexpr size_t kPlatformNVRAMRevision =
    offsetof(SUBSYSTEM_PARAMETERS, sSystemBoardSerialNumber) + 29;
inline constexpr size_t kTotalStructureLength = offsetof(SUBSYSTEM_PARAMETERS, dwTotalStructureLength);
inline constexpr size_t kDriverVersion = offsetof(SUBSYSTEM_PARAMETERS, sDriverVersion);
inline constexpr size_t kDriverVersionWidth = sizeof(SUBSYSTEM_PARAMETERS::sDriverVersion);
static_assert(kPlatformNVRAMRevision == 209);
} // namespace subsystem

// ---- IDENTIFY CONTROLLER ---------------------------------------------------------------------------

inline constexpr VK_DWORD kIdentifyLongFlagsValid = 0x00100000; // dwYetMoreControllerFlags
inline constexpr VK_DWORD kFirmwareTagValid = 0x20000000;       // dwExtraControllerFlags

inline VK_DWORD FixedLength(ByteView id) {
    return Le32(id, identify::kFixedStructureLength);
}

// The newer flag words count only when the controller says the structure holds them.
inline bool ExtraFlagsGateOpen(ByteView id) {
    return (Le32(id, identify::kYetMoreControllerFlags) & kIdentifyLongFlagsValid) != 0 &&
           FixedLength(id) > 286;
}
inline bool EvenMoreFlagsGateOpen(ByteView id) {
    return (Le32(id, identify::kYetMoreControllerFlags) & kIdentifyLongFlagsValid) != 0 &&
           FixedLength(id) > 268;
}

// The long firmware versions are valid.
inline bool FirmwareTagValid(ByteView id) {
    return ExtraFlagsGateOpen(id) && (Le32(id, identify::kExtraControllerFlags) & kFirmwareTagValid) != 0;
}

struct TextField {
    size_t offset;
    size_t width;
};

// The running (or pending) firmware version: the long text when the tag is valid, else the short one.
inline TextField FirmwareVersionField(ByteView id, bool pending) {
    if (FirmwareTagValid(id)) {
        return {pending ? identify::kPendingFirmwareVersion : identify::kFWTag,
                identify::kLongFirmwareVersionWidth};
    }
    return {pending ? identify::kShortROMFirmwareRev : identify::kShortRAMFirmwareRev,
            identify::kShortFirmwareRevWidth};
}

// Fixed-width text trimmed of leading and trailing blanks, cut at a NUL; always terminated.
size_t TrimmedText(ByteView v, TextField field, char* dst, size_t dst_size);
// Fixed-width text as it is, cut at a NUL; always terminated.
size_t PlainText(ByteView v, TextField field, char* dst, size_t dst_size);
// Leading printable characters (0x20 to 0x7E) of a fixed-width field; always terminated.
size_t PrintableText(ByteView v, TextField field, char* dst, size_t dst_size);

// The hardware revision letter, or nothing outside 'A' to 'Z'.
inline std::optional<char> HardwareRevision(ByteView id) {
    const VK_BYTE c = U8(id, identify::kMarketingRevision);
    if (c < 'A' || c > 'Z') {
        return std::nullopt;
    }
    return static_cast<char>(c);
}

// The PCI slot, or nothing when the controller does not know it.
inline std::optional<VK_DWORD> IdentifySlot(ByteView id) {
    if (FixedLength(id) > 453) {
        const VK_WORD slot = Le16(id, identify::kExtendedPCISlot);
        return slot == 0xFFFF ? std::nullopt : std::optional<VK_DWORD>(slot);
    }
    const VK_BYTE slot = U8(id, identify::kPCISlot);
    return slot == 0xFF ? std::nullopt : std::optional<VK_DWORD>(slot);
}

// MB/s of a PCIe link; 0 for an unknown generation or a width of 0.
inline VK_DWORD PCIeNegotiatedSpeed(VK_BYTE generation, VK_BYTE width) {
    static constexpr VK_DWORD kLaneSpeed[] = {0, 250, 500, 985, 1969};
    if (generation == 0 || generation >= std::size(kLaneSpeed)) {
        return 0;
    }
    return kLaneSpeed[generation] * width;
}

inline VK_WORD FlashSizeMB(VK_BYTE firmware_feature_version) {
    if (firmware_feature_version >= 7) {
        return 32;
    }
    return firmware_feature_version >= 4 ? 16 : 0;
}

// Adapter type (kAdapter...) by the first character of the product id.
VK_WORD AdapterType(const char* product_id);

// One PCI value of IDENTIFY and the fixed length the controller must report for it.
struct PCIValueField {
    VK_BYTE selector;
    VK_DWORD minimum_length;
    const char* expression;
    const char* explanation;
};
// The field behind a selector, or nullptr for an unknown selector.
const PCIValueField* FindPCIValueField(VK_BYTE selector);
// The value when the structure is long enough, else nothing.
std::optional<VK_DWORD> PCIValue(ByteView id, const PCIValueField& field);

VK_WORD AdditionalError(ByteView id);
VK_DWORD LastLockupCode(ByteView id);
VK_BYTE NVRAMErrors(ByteView id);

// ---- SUBSYSTEM_PARAMETERS ---------------------------------------------------------------------------

inline bool DriverVersionPublished(ByteView subsystem_parameters) {
    return Le32(subsystem_parameters, subsystem::kTotalStructureLength) > subsystem::kDriverVersion;
}

// ---- Drive counts and strip sizes ---------------------------------------------------------------------

// Drive-count word (minimum << 8 | maximum) of a RAID level for L drives per logical drive.
VK_WORD MinMaxDrives(VK_BYTE drives_per_logical_drive, VK_BYTE raid_level);
bool PDInterfaceSupported(VK_BYTE interface_type, VK_BYTE firmware_feature_version);

inline constexpr VK_DWORD kMaxStripSizeCap = 0x100000;     // 1 MiB
inline constexpr VK_DWORD kSoftwareRAIDMaxStrip = 0x40000; // 256 KiB
inline constexpr VK_DWORD kDefaultMinStripSize = 8192;
inline constexpr VK_DWORD kDefaultLUCacheSize = 0x10000;

// Largest safe full stripe in bytes; saturates instead of wrapping at 4 GiB.
VK_DWORD FullStripeBytes(ByteView id);
// Selectors 2 to 5 from the maximum fields, with the 1 MiB cap and the software-RAID limit.
VK_DWORD MaxStripBytes(ByteView id, VK_BYTE size_type, bool software_raid);

struct StripMinima {
    VK_DWORD non_parity;
    VK_DWORD parity;
};
// Minima from IDENTIFY when the controller reports them, else the 8 KiB defaults.
StripMinima MinStripBytes(ByteView id, bool reports_minima);
// Whether the older IDENTIFY flags say the minima fields are filled.
bool IdentifyReportsMinima(ByteView id);
// From the RAID feature page slot: nothing when the page did not arrive.
std::optional<bool> RAIDPageReportsMinima(ByteView raid_page);

// NVMe maximum strip from its feature-page slot; 0 when the page did not arrive.
VK_DWORD NVMeMaxStripBytes(ByteView nvme_page);
// LU cache limits from their feature-page slot (pass an empty view without pages): selectors 0x0A-0x0D.
VK_DWORD LUCacheStripBytes(ByteView lu_cache_page, VK_BYTE size_type);

} // namespace telmar::decode

#endif
