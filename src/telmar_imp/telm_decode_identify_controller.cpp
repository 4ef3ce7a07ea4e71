// Decoders of the IDENTIFY CONTROLLER and SUBSYSTEM_PARAMETERS replies: texts, PCI values, error
// and lockup codes, and the RAID drive-count and strip-size limits the controller states. Pure
// functions of the reply's bytes; the getters in telm_prop_controller.cpp and telm_features.cpp run
// them over the cached copies.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
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

// ---- RAID drive counts, limits and strip sizes -----------------------------------------------------

namespace telmar::decode {

namespace {
// How a level rounds the drives-per-logical-drive limit down: mirrors pair, triple mirrors go by threes.
enum class Rounding { kNone, kEven, kThree };
struct DriveCountRule {
    VK_BYTE level;
    VK_BYTE minimum;
    Rounding rounding;
};
constexpr DriveCountRule kDriveCountRules[] = {
    {kRAID0, 1, Rounding::kNone},  {kRAID1, 2, Rounding::kEven},        {kRAID10, 4, Rounding::kEven},
    {kRAID5, 3, Rounding::kNone},  {kRAID50, 6, Rounding::kEven},       {kRAID6, 4, Rounding::kNone},
    {kRAID60, 8, Rounding::kEven}, {kRAID1Triple, 3, Rounding::kThree}, {kRAID10Triple, 6, Rounding::kThree},
};
} // namespace

VK_WORD MinMaxDrives(VK_BYTE drives_per_logical_drive, VK_BYTE raid_level) {
    const unsigned l = drives_per_logical_drive;
    if (l == 0) {
        return 0;
    }
    for (const DriveCountRule& rule : kDriveCountRules) {
        if (rule.level != raid_level) {
            continue;
        }
        const unsigned maximum = rule.rounding == Rounding::kEven    ? (l & ~1u)
                                 : rule.rounding == Rounding::kThree ? l / 3 * 3
                                                                     : l;
        return static_cast<VK_WORD>(rule.minimum << kRAIDMinDriveShift | maximum);
    }
    return 0;
}

bool PDInterfaceSupported(VK_BYTE interface_type, VK_BYTE firmware_feature_version) {
    switch (interface_type) {
        case kPhysicalDriveInterfaceSAS3G:
        case kPhysicalDriveInterfaceSATA1_5G:
        case kPhysicalDriveInterfaceSATA3G:
        case kPhysicalDriveInterfaceSAS6G:
        case kPhysicalDriveInterfaceSATA6G:
        case kPhysicalDriveInterfaceMixSAS:
        case kPhysicalDriveInterfaceMixSATA:
        case kPhysicalDriveMixEnclosure:
            return true;
        case kPhysicalDriveInterfaceSAS12G:
            return firmware_feature_version > 2;
        default:
            return false;
    }
}

namespace {
// A 32-bit byte count of `value` units of `unit` bytes, saturated rather than wrapped.
VK_DWORD SaturatedBytes(VK_QWORD value, VK_QWORD unit) {
    const VK_QWORD bytes = value * unit; // both below 2^32: no 64-bit wrap
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<VK_DWORD>(bytes);
}
} // namespace

VK_DWORD FullStripeBytes(ByteView id) {
    return SaturatedBytes(Le32(id, identify::kMaximumSafeFullStripeSizeMB), 1u << 20);
}

VK_DWORD MaxStripBytes(ByteView id, VK_BYTE size_type, bool software_raid) {
    constexpr VK_WORD kNotReported = 0xFFFF;
    const VK_WORD w01 = Le16(id, identify::kMaximumRAID01StripeSize);
    const VK_WORD w45 = Le16(id, identify::kMaximumRAID45StripeSize);
    const VK_WORD w6 = Le16(id, identify::kMaximumRAID6StripeSize);
    const VK_DWORD r01 = VK_DWORD{w01} * 512;
    const VK_DWORD r45 = VK_DWORD{w45} * 512;
    const VK_DWORD r6 = VK_DWORD{w6} * 512;
    VK_DWORD bytes = 0;
    switch (size_type) {
        case kControllerStripSizeMaxStripSizeBytes:
            if (w01 != kNotReported) {
                bytes = r01;
            }
            if (w45 != kNotReported && r45 > bytes) {
                bytes = r45;
            }
            if (w6 != kNotReported && r6 > bytes) {
                bytes = r6;
            }
            break;
        case kControllerStripSizeMaxRAID01StripSizeBytes:
            bytes = r01;
            break;
        case kControllerStripSizeMaxRAID5StripSizeBytes:
            bytes = r45;
            break;
        case kControllerStripSizeMaxRAID6StripSizeBytes:
            bytes = r6;
            break;
        default:
            return 0;
    }
    if (bytes == 0 || bytes > kMaxStripSizeCap) {
        bytes = kMaxStripSizeCap;
    }
    // The software-RAID limit holds for the default too.
    if (size_type == kControllerStripSizeMaxRAID01StripSizeBytes && software_raid &&
        bytes > kSoftwareRAIDMaxStrip) {
        bytes = kSoftwareRAIDMaxStrip;
    }
    return bytes;
}

StripMinima MinStripBytes(ByteView id, bool reports_minima) {
    if (!reports_minima) {
        return {kDefaultMinStripSize, kDefaultMinStripSize};
    }
    // Whole KiB of the block counts, in 32 bits: 128 blocks and more would wrap a 16-bit result.
    return {VK_DWORD{Le16(id, identify::kMinRAID01StripSize)} / 2 * 1024,
            VK_DWORD{Le16(id, identify::kMinParityStripSize)} / 2 * 1024};
}

bool IdentifyReportsMinima(ByteView id) {
    return ExtraFlagsGateOpen(id) && (Le32(id, identify::kExtraControllerFlags) & 0x01000000) != 0;
}

std::optional<bool> RAIDPageReportsMinima(ByteView raid_page) {
    if (U8(raid_page, 0) == 0) {
        return std::nullopt;
    }
    return (U8(raid_page, offsetof(SENSE_FEATURE_PAGE_2_RAID_SUB_PAGE_1, bFlags2)) & 0x40) != 0;
}

VK_DWORD NVMeMaxStripBytes(ByteView nvme_page) {
    if (U8(nvme_page, 0) == 0) {
        return 0;
    }
    return VK_DWORD{Le16(nvme_page, offsetof(SENSE_FEATURE_PAGE_D_NVME_SUB_PAGE_1, wMaxNVMeStripSize))} *
           1024;
}

VK_DWORD LUCacheStripBytes(ByteView lu_cache_page, VK_BYTE size_type) {
    using Page = SENSE_FEATURE_PAGE_1_CACHE_SUB_PAGE_2_LU_CACHE;
    const bool reported = (U8(lu_cache_page, offsetof(Page, bFlags)) & 0x40) != 0;
    size_t field = 0;
    VK_DWORD fallback = kDefaultLUCacheSize;
    switch (size_type) {
        case kControllerStripSizeLUCacheMaxFullStripeSizeBytes:
            field = offsetof(Page, dwMaxStripeSize);
            break;
        case kControllerStripSizeLUCacheMaxStripSizeBytes:
            field = offsetof(Page, dwMaxStripSize);
            break;
        case kControllerStripSizeLUCacheMinFullStripeSizeBytes:
            field = offsetof(Page, dwMinStripeSize);
            break;
        case kControllerStripSizeLUCacheMinStripSizeBytes:
            field = offsetof(Page, dwMinStripSize);
            fallback = kDefaultMinStripSize;
            break;
        default:
            return 0;
    }
    return reported ? SaturatedBytes(Le32(lu_cache_page, field), 1024) : fallback;
}

} // namespace telmar::decode
