// Feature pages and the capability predicates built on them and on the older IDENTIFY flags.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "ppavl_debug.h"
#include "ppavl_discovery.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_pprivate.h"
#include "telm_private.h"
#include "telm_prop_decode.h"

namespace {

constexpr VK_DWORD kFeaturePagesOfferedBit = 0x80000000; // IDENTIFY dwEvenMoreControllerFlags
constexpr VK_DWORD kAllPagesAllSubpages = 0xFFFF0000;    // CDB bytes 2 and 3 = 0xFF
constexpr VK_DWORD kPageHeaderSize = sizeof(SENSE_FEATURE_PAGE_HEADER);

struct FeaturePageSlot {
    VK_BYTE page;
    VK_BYTE subpage;
    size_t offset; // within SENSE_FEATURE_PAGES
    size_t size;   // header included
};

#define SLOT(page, subpage, member)                                                                          \
    FeaturePageSlot {                                                                                        \
        page, subpage, offsetof(SENSE_FEATURE_PAGES, member), sizeof(SENSE_FEATURE_PAGES::member)            \
    }

constexpr FeaturePageSlot kFeaturePageSlots[] = {
    SLOT(0x01, 0x01, page_cache),
    SLOT(0x01, 0x02, page_lu_cache),
    SLOT(0x01, 0x03, page_cache_ratio),
    SLOT(0x02, 0x01, page_raid),
    SLOT(0x03, 0x01, page_backup),
    SLOT(0x04, 0x01, page_background),
    SLOT(0x04, 0x02, page_background_erase),
    SLOT(0x05, 0x01, page_connectivity),
    SLOT(0x06, 0x01, page_drive),
    SLOT(0x07, 0x01, page_encryption),
    SLOT(0x08, 0x01, page_io),
    SLOT(0x08, 0x02, page_aio),
    SLOT(0x09, 0x01, page_power_management),
    SLOT(0x0A, 0x01, page_software_raid),
    SLOT(0x0B, 0x01, page_b_sub_page_1),
    SLOT(0x0C, 0x01, page_miscellaneous),
    SLOT(0x0D, 0x01, page_nvme),
    SLOT(0x0E, 0x02, page_perform_device_mgmt),
    SLOT(0x0E, 0x03, page_oob_command),
    SLOT(0x0E, 0x04, page_id_controller),
    SLOT(0x0E, 0x05, page_set_controller_params),
    SLOT(0x0E, 0x06, page_online_firmware_activation),
    SLOT(0x0E, 0x07, page_backplane_discovery_protocol),
    SLOT(0x0E, 0x08, page_manufacturing_data),
    SLOT(0x0E, 0x0A, page_subsystem_info),
    SLOT(0x10, 0x01, page_pldm_features_support),
    SLOT(0x11, 0x01, page_managed_sed),
};

#undef SLOT

const FeaturePageSlot* FindSlot(VK_BYTE page, VK_BYTE subpage) {
    for (const FeaturePageSlot& slot : kFeaturePageSlots) {
        if (slot.page == page && slot.subpage == subpage) {
            return &slot;
        }
    }
    return nullptr;
}

// Pages the library knows but keeps no slot for.
bool IsKnownPageWithoutSlot(VK_BYTE page, VK_BYTE subpage) {
    if (page == 0x0E) {
        return subpage == 0x01 || subpage == 0x09;
    }
    return page == 0x0F && subpage >= 0x01 && subpage <= 0x05;
}

// Write modes of an LU cache version, the same from the feature page and from IDENTIFY.
VK_WORD LUCacheWriteModes(VK_BYTE version) {
    if (version == 1) {
        return kControllerSupportsWriteThru;
    }
    if (version == 2) {
        return static_cast<VK_WORD>(kControllerSupportsWriteThru | kControllerSupportsWriteBack);
    }
    return 0;
}

// Feature page, or the legacy IDENTIFY condition on controllers without pages. A controller that
// offers pages but cannot read them supports nothing.
template <typename PageTest, typename LegacyTest>
VK_BOOL PageOrIdentify(PCDA cda, PageTest page_test, LegacyTest legacy_test) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        if (VK_RequestFeaturePages(cda)) {
            return page_test(c->sense_feature) ? kTrue : kFalse;
        }
        return kFalse;
    }
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        return legacy_test(c->identify_controller_buffer) ? kTrue : kFalse;
    }
    return kFalse;
}

// Feature page only: nothing without pages.
template <typename Result, typename PageValue> Result PageOnly(PCDA cda, PageValue page_value) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda)) {
        return static_cast<Result>(page_value(_VK_CDA(cda)->sense_feature));
    }
    return 0;
}

// Older firmware leaves the newer IDENTIFY flag words unfilled; a word counts only when the
// controller says the structure is long enough to hold it.
constexpr VK_DWORD kIdentifyLongFlagsValid = 0x00100000; // dwYetMoreControllerFlags
constexpr VK_DWORD kExtraFlagsMinimumLength = 287;
constexpr VK_DWORD kEvenMoreFlagsMinimumLength = 269;

bool ExtraFlagsGateOpen(const IDENTIFY_CONTROLLER& id) {
    return (id.dwYetMoreControllerFlags & kIdentifyLongFlagsValid) != 0 &&
           id.dwFixedStructureLength >= kExtraFlagsMinimumLength;
}

bool EvenMoreFlagsGateOpen(const IDENTIFY_CONTROLLER& id) {
    return (id.dwYetMoreControllerFlags & kIdentifyLongFlagsValid) != 0 &&
           id.dwFixedStructureLength >= kEvenMoreFlagsMinimumLength;
}

bool ExtraFlag(const IDENTIFY_CONTROLLER& id, VK_DWORD bit) {
    return ExtraFlagsGateOpen(id) && (id.dwExtraControllerFlags & bit) != 0;
}

bool GatedEvenMoreFlag(const IDENTIFY_CONTROLLER& id, VK_DWORD bit) {
    return EvenMoreFlagsGateOpen(id) && (id.dwEvenMoreControllerFlags & bit) != 0;
}

bool AllBits(VK_DWORD value, VK_DWORD bits) {
    return (value & bits) == bits;
}

// Result of a buffer loaded through `loader`; not supported when it cannot be read.
template <typename Test> VK_BOOL CachedBuffer(PCDA cda, VK_BOOL (*loader)(PCDA), Test test) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return (loader(cda) && test(*_VK_CDA(cda))) ? kTrue : kFalse;
}

#define PAGE_BIT(page, field, bit) [](const SENSE_FEATURE_PAGES& p) { return (p.page.field & (bit)) != 0; }
#define PAGE_BITS(page, field, bits) [](const SENSE_FEATURE_PAGES& p) { return AllBits(p.page.field, bits); }
#define ID_BIT(field, bit) [](const IDENTIFY_CONTROLLER& id) { return (id.field & (bit)) != 0; }
#define ID_FEATURE(index, bit)                                                                               \
    [](const IDENTIFY_CONTROLLER& id) { return (id.pbFeaturesSupported[index] & (bit)) != 0; }
#define ID_EXTRA(bit) [](const IDENTIFY_CONTROLLER& id) { return ExtraFlag(id, bit); }
#define ID_EVEN_MORE_GATED(bit) [](const IDENTIFY_CONTROLLER& id) { return GatedEvenMoreFlag(id, bit); }

// Protocol type of a controller's descriptor, 0xFFFF when it has none.
VK_WORD ControllerProtocol(DeviceDescriptor descriptor) {
    VK_BYTE value[sizeof(VK_WORD)] = {};
    if (descriptor == nullptr ||
        PN_GetDeviceSystemPropertySize(descriptor, kDevicePropertyProtocolType) != sizeof(value) ||
        PN_GetDeviceSystemProperty(descriptor, kDevicePropertyProtocolType, value, sizeof(value)) != 0) {
        return 0xFFFF;
    }
    return pavlin::ByteView(value, sizeof(value)).le16(0).value_or(0xFFFF);
}

VK_BOOL __VK_ControllerSupportsPerformanceSettings(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_miscellaneous, bFlags2, 0x01), ID_FEATURE(0, 0x04));
}

} // namespace

void _VK_ParseFeaturePages(const VK_BYTE* reply, VK_DWORD reply_size, PSENSE_FEATURE_PAGES pages) {
    if (pages == nullptr) {
        return;
    }
    std::memset(pages, 0, sizeof(*pages));
    const pavlin::ByteView received(reply, reply_size);
    const auto announced = received.le16(offsetof(SENSE_FEATURE_STARTING_HEADER, wTotalLength));
    if (!announced) {
        return;
    }
    const pavlin::ByteView page_bytes = received.from(sizeof(SENSE_FEATURE_STARTING_HEADER));
    if (*announced > page_bytes.size()) {
        PN_DebugLog(3, 0, "%s:%d: The sense features command requires %u memory, only %u allocated", __FILE__,
                    __LINE__, *announced + static_cast<VK_DWORD>(sizeof(SENSE_FEATURE_STARTING_HEADER)),
                    reply_size);
    }
    const pavlin::ByteView walked = page_bytes.first(*announced);

    // A page needs more than its header to be read.
    for (size_t position = 0; walked.size() - position > kPageHeaderSize;) {
        const pavlin::ByteView rest = walked.from(position);
        const VK_BYTE page_code = rest.u8(offsetof(SENSE_FEATURE_PAGE_HEADER, bPageCode)).value_or(0);
        const VK_BYTE subpage_code = rest.u8(offsetof(SENSE_FEATURE_PAGE_HEADER, bSubPageCode)).value_or(0);
        const VK_DWORD page_length = rest.le16(offsetof(SENSE_FEATURE_PAGE_HEADER, wPageLength)).value_or(0);
        const size_t page_size = page_length + kPageHeaderSize;
        const auto page = rest.sub(0, page_size);
        if (!page) {
            break;
        }
        if (const FeaturePageSlot* slot = FindSlot(page_code, subpage_code)) {
            const VK_DWORD expected = static_cast<VK_DWORD>(slot->size) - kPageHeaderSize;
            if (page_length > expected) {
                PN_DebugLog(
                    3, 0,
                    "%s:%d: Feature page size mismatch: got %u B (expected %u B) for page 0x%02X/0x%02X\n",
                    __FILE__, __LINE__, page_length, expected, page_code, subpage_code);
            }
            VK_BYTE* destination = reinterpret_cast<VK_BYTE*>(pages) + slot->offset;
            std::memset(destination, 0, slot->size);
            page->copy_to(0, destination, std::min(page_size, slot->size));
        } else if (!IsKnownPageWithoutSlot(page_code, subpage_code)) {
            PN_DebugLog(3, 0, "%s:%d: Unknown page 0x%02X/0x%02X", __FILE__, __LINE__, page_code,
                        subpage_code);
        }
        position += page_size;
    }
}

VK_BOOL VK_ControllerFeaturePagesSupported(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return (VK_RequestIdentifyControllerBuffer(cda) &&
            (_VK_CDA(cda)->identify_controller_buffer.dwEvenMoreControllerFlags & kFeaturePagesOfferedBit))
               ? kTrue
               : kFalse;
}

VK_BOOL VK_RequestFeaturePages(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    // Without pages the all-zero record is the answer.
    if (!VK_ControllerFeaturePagesSupported(cda)) {
        std::memset(&c->sense_feature, 0, sizeof(c->sense_feature));
        c->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
        return kTrue;
    }
    if (c->flags[kCDAFlagsBuffers] & kCDAValidFeaturePages) {
        return kTrue;
    }
    SENSE_FEATURE reply;
    std::memset(&reply, 0, sizeof(reply));
    if (!_VK_BMICHelperReadBuffer(c->controller_handle, BMIC_SENSE_FEATURE_PAGES, kAllPagesAllSubpages, 0,
                                  &reply, sizeof(reply))) {
        return kFalse;
    }
    _VK_ParseFeaturePages(reinterpret_cast<const VK_BYTE*>(&reply), sizeof(reply), &c->sense_feature);
    c->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
    return kTrue;
}

VK_BOOL VK_ControllerSupportsPhysicalDriveErase(PCDA cda) {
    return PageOrIdentify(
        cda, [](const SENSE_FEATURE_PAGES&) { return true; },
        [](const IDENTIFY_CONTROLLER& id) { return (id.pbFeaturesSupported[0] & 0x01) != 0; });
}

VK_BOOL VK_ControllerSupportsEncryption(PCDA cda) {
    return PageOrIdentify(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_encryption.bFlags1 & 0x01) != 0; },
        [](const IDENTIFY_CONTROLLER& id) { return (id.pbFeaturesSupported[8] & 0x02) != 0; });
}

VK_BOOL VK_ControllerSupportsSenseExpansionAbility(PCDA cda) {
    return PageOrIdentify(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_background.bFlags1 & 0x01) != 0; },
        [](const IDENTIFY_CONTROLLER& id) { return (id.dwYetMoreControllerFlags & 0x00400000) != 0; });
}

VK_BOOL VK_ControllerSupportsDefaultPowerMode(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, [](const SENSE_FEATURE_PAGES& p) {
        return (p.page_power_management.bPowerModeSubCommandSupportBitmap & 0x08) != 0;
    });
}

VK_BOOL VK_ControllerSupportsEncryptionFeatureBreakout(PCDA cda) {
    return PageOnly<VK_BOOL>(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_encryption.bFlags1 & 0x40) != 0; });
}

VK_BOOL VK_ControllerSupportsUEFIKMS(PCDA cda) {
    return PageOnly<VK_BOOL>(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_encryption.bFlags1 & 0x80) != 0; });
}

VK_DWORD VK_ControllerSupportsOnlineFirmwareActivation(PCDA cda) {
    return PageOnly<VK_DWORD>(cda, [](const SENSE_FEATURE_PAGES& p) {
        return p.page_online_firmware_activation.bOFASupport & 0x03;
    });
}

VK_DWORD VK_ControllerSupportsSEDEncryption(PCDA cda) {
    return PageOnly<VK_DWORD>(
        cda, [](const SENSE_FEATURE_PAGES& p) { return p.page_managed_sed.bFeatureFlags & 0x07; });
}

VK_BYTE VK_GetControllerConnectorDiscoveryConfigurationSupport(PCDA cda) {
    return PageOnly<VK_BYTE>(cda, [](const SENSE_FEATURE_PAGES& p) {
        return p.page_backplane_discovery_protocol.bSupportedSubCommands & 0x0F;
    });
}

VK_BYTE _VK_GetControllerOEMID(PCDA cda) {
    return PageOnly<VK_BYTE>(cda,
                             [](const SENSE_FEATURE_PAGES& p) { return p.page_manufacturing_data.bOEMID; });
}

VK_WORD VK_ControllerSupportsLUCache(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_WORD support = 0;
    if (VK_ControllerFeaturePagesSupported(cda)) {
        if (!VK_RequestFeaturePages(cda)) {
            return 0;
        }
        const auto& page = c->sense_feature.page_lu_cache;
        if (page.bFlags & 0x20) {
            support |= kControllerSupportsLUCacheSupported;
        }
        support |= LUCacheWriteModes(page.bLUCacheVersion);
        // The 64 KiB line size is always offered with a supported LU cache.
        if (support & kControllerSupportsLUCacheSupported) {
            support |= static_cast<VK_WORD>((page.bSupportedCacheLineSizes | kControllerLUCacheLineSize64KB)
                                            << kControllerLUCacheLineSizeSupportBitshift);
        }
        return support;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    support |= LUCacheWriteModes(c->identify_controller_buffer.pbFeaturesSupported[7]);
    return static_cast<VK_WORD>(
        support | kControllerSupportsLUCacheSupported |
        (kControllerLUCacheLineSize64KB << kControllerLUCacheLineSizeSupportBitshift));
}

VK_DWORD VK_ControllerSupportsPowerModes(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_DWORD support = 0;
    if (VK_ControllerFeaturePagesSupported(cda)) {
        if (VK_RequestFeaturePages(cda)) {
            const VK_BYTE bitmap = c->sense_feature.page_power_management.bPowerModeSupportBitmap;
            if (bitmap & 0x02) {
                support |= 0x1;
            }
            if (bitmap & 0x04) {
                support |= 0x2;
            }
            if (bitmap & 0x01) {
                support |= 0x4;
            }
        }
    } else if (VK_RequestIdentifyControllerBuffer(cda)) {
        support = c->identify_controller_buffer.pbFeaturesSupported[10] & 0x07;
    }
    return support;
}

// Feature page first, older IDENTIFY flags on controllers without pages.

VK_BOOL VK_ControllerSupportsOPO(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_raid, bFlags2, 0x04), ID_EXTRA(0x04));
}

VK_BOOL VK_ControllerSupportsParityRAID(PCDA cda) {
    // Older firmware flags the controllers that lack parity RAID, not those that have it.
    return PageOrIdentify(
        cda, PAGE_BIT(page_raid, dwRAIDLevelSupportBitmap, 0x08),
        [](const IDENTIFY_CONTROLLER& id) { return (id.dwYetMoreControllerFlags & 0x01) == 0; });
}

VK_BOOL VK_ControllerSupportsNWayRAID(PCDA cda) {
    return PageOrIdentify(
        cda, PAGE_BIT(page_raid, dwRAIDLevelSupportBitmap, 0x400),
        [](const IDENTIFY_CONTROLLER& id) { return AllBits(id.pbFeaturesSupported[5], 0x03); });
}

VK_BOOL VK_ControllerSupportsRapidRebuild(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_background, bFlags1, 0x20),
                          ID_BIT(dwEvenMoreControllerFlags, 0x20000000));
}

VK_BOOL VK_ControllerSupportsRapidInitialization(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_background, bFlags1, 0x02),
                          ID_BIT(dwEvenMoreControllerFlags, 0x00800000));
}

VK_BOOL VK_ControllerSupportsPhysicalDriveSanitize(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_background, bFlags1, 0x04), ID_EXTRA(0x800));
}

VK_BOOL VK_ControllerSupportsLongConnectorNames(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_connectivity, bFlags, 0x08), ID_EXTRA(0x8000));
}

VK_BOOL VK_ControllerSupportsLongBoxConnectorName(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_connectivity, bFlags2, 0x01), ID_EXTRA(0x02000000));
}

VK_BOOL VK_ControllerSupports2TBDrives(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_drive, bFlags1, 0x08), ID_BIT(dwEvenMoreControllerFlags, 0x200));
}

VK_BOOL VK_ControllerSupportsNBWC(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_backup, bFlags, 0x01),
                          ID_BIT(dwYetMoreControllerFlags, 0x08000000));
}

VK_BOOL VK_ControllerSupportsCarrierAuthentication(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_drive, bFlags3, 0x01),
                          ID_BIT(dwEvenMoreControllerFlags, 0x4000));
}

VK_BOOL VK_ControllerSupportsIOBypass(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_io, bFlags, 0x02), ID_BIT(dwEvenMoreControllerFlags, 0x20000));
}

VK_BOOL VK_ControllerSupportsFLS(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_io, bFlags, 0x01),
                          ID_BIT(dwEvenMoreControllerFlags, 0x40000000));
}

VK_BOOL VK_ControllerSupportsSurvivalPowerMode(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_power_management, bSurvivalModeFlag, 0x01),
                          [](const IDENTIFY_CONTROLLER& id) { return id.pbFeaturesSupported[10] != 0; });
}

VK_BOOL VK_ControllerSupportsClearConfigurationBMIC(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_raid, bFlags, 0x02), ID_EXTRA(0x08));
}

VK_BOOL VK_ControllerSupportsAutoReplaceSpares(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_raid, bFlagsForSpares, 0x01), ID_EVEN_MORE_GATED(0x40000));
}

VK_BOOL VK_ControllerSupportsPredictiveSpareRebuild(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_raid, bFlagsForSpares, 0x04), ID_EVEN_MORE_GATED(0x8000));
}

VK_BOOL VK_ControllerSupportsSplitMirrorBackup(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BITS(page_raid, bFlags, 0xC0), [](const IDENTIFY_CONTROLLER& id) {
        return AllBits(id.pbFeaturesSupported[0], 0xC0) && AllBits(id.pbFeaturesSupported[4], 0xC0);
    });
}

VK_BOOL VK_ControllerSupportsResyncAndRollback(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_background, bFlags1, 0x40), ID_EVEN_MORE_GATED(0x400000));
}

VK_BOOL VK_ControllerIsSoftwareRAID(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_software_raid, bFlags1, 0x01),
                          ID_BIT(dwYetMoreControllerFlags, 0x04000000));
}

VK_BOOL _VK_ControllerSupportsExtendedDriveMap(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_raid, bFlags2, 0x08), ID_BIT(bMoreControllerFlags, 0x40));
}

VK_BOOL VK_ControllerSupportsAdvancedCapacityExpansion(PCDA cda) {
    return PageOrIdentify(
        cda, PAGE_BIT(page_miscellaneous, bFlags2, 0x02),
        [](const IDENTIFY_CONTROLLER& id) { return AllBits(id.pbFeaturesSupported[0], 0x30); });
}

VK_BOOL VK_ControllerSupportsPersistentKeyCache(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_encryption, bFlags1, 0x20), ID_FEATURE(8, 0x40));
}

VK_BOOL VK_ControllerSupportsKeyManagerConversion(PCDA cda) {
    return PageOrIdentify(cda, PAGE_BIT(page_encryption, bFlags1, 0x02), ID_FEATURE(8, 0x04));
}

VK_BOOL VK_ControllerSupportsCacheOperations(PCDA cda) {
    // Firmware too old for the extra flags answers with whether a cache board is fitted.
    return PageOrIdentify(cda, PAGE_BIT(page_cache, bFlags, 0x04), [cda](const IDENTIFY_CONTROLLER& id) {
        if (ExtraFlagsGateOpen(id)) {
            return (id.dwExtraControllerFlags & 0x80) != 0;
        }
        return VK_RequestSenseCacheConfigStatusBuffer(cda) &&
               _VK_CDA(cda)->sense_cache_config_status_buffer.bBoardPresent != 0;
    });
}

// Feature page only.

VK_BOOL VK_ControllerSupportsBootConnectors(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_connectivity, bFlags2, 0x10));
}

VK_BOOL VK_ControllerSupportsBackupPowerSourceInfo(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_backup, bFlags, 0x02));
}

VK_BOOL VK_ControllerSupportsGreenBackupInfo(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_cache, bFlags, 0x10));
}

VK_BOOL VK_ControllerSupportsIOAccelAdvancedWrites(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_io, bFlags, 0x08));
}

VK_BOOL VK_ControllerSupportsExpanderMinimumScanDuration(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_set_controller_params, dwFlags1, 0x08));
}

VK_BOOL VK_ControllerSupportsWCBT(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_cache, bFlags, 0x08));
}

VK_BOOL VK_ControllerSupportsDriveWriteCacheForAllDrives(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_drive, bFlags2, 0x08));
}

VK_BOOL _VK_ControllerSupportsDriveWriteCacheUnchangedPolicy(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return (VK_ControllerSupportsDriveWriteCacheForAllDrives(cda) &&
            PageOnly<VK_BOOL>(cda, PAGE_BIT(page_drive, bFlags3, 0x02)))
               ? kTrue
               : kFalse;
}

VK_BOOL VK_ControllerSupportsFamilyID(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags3, 0x02));
}

VK_BOOL VK_ControllerSupportsMissingDrives(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags3, 0x04));
}

VK_BOOL VK_ControllerSupportsNotifyOnAnyBroadcast(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_set_controller_params, dwFlags1, 0x02));
}

VK_BOOL VK_ControllerSupportsPCIeRelaxedOrdering(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_set_controller_params, dwFlags1, 0x04));
}

VK_BOOL VK_ControllerSupportsConfigurableLUCacheLineSize(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_lu_cache, bFlags, 0x80));
}

VK_BOOL VK_ControllerSupportsNVMe(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_nvme, bNVMeFlags, 0x01));
}

VK_BOOL VK_ControllerSupportsPreviousCacheRatioSettings(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_cache_ratio, bFlags, 0x01));
}

VK_BOOL VK_ControllerSupportsOFASoftReset(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_online_firmware_activation, bOFASupport, 0x04));
}

VK_DWORD VK_ControllerSupportsSED(PCDA cda) {
    return PageOnly<VK_DWORD>(cda, PAGE_BIT(page_drive, bFlags2, 0x10));
}

VK_BOOL VK_ControllerSupportsSEDSecurityRefresh(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_drive, bFlags2, 0x20));
}

VK_BOOL VK_ControllerSupportsRebootReasons(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_id_controller, dwFlags1, 0x02));
}

VK_BOOL VK_ControllerSupportsDebugToken(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags3, 0x80));
}

VK_BOOL _VK_ControllerSupportsFullLengthDeviceModel(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_drive, bFlags2, 0x40));
}

VK_BOOL _VK_ControllerSupportsOEMExtendedDriveData(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_drive, bFlags2, 0x80));
}

VK_BOOL VK_ControllerFlashOnce(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags3, 0x40));
}

VK_BOOL VK_ControllerSupportsPersistentEventLog(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags4, 0x01));
}

VK_BOOL _VK_ControllerSupportsUBMProgrammingCapability(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags5, 0x01));
}

VK_BOOL VK_ControllerSupportsReenablePhysicaldrive(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags4, 0x20));
}

VK_BOOL VK_ControllerSupportsSettingPersistentEventLogPolicy(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags4, 0x80));
}

VK_BOOL VK_ControllerSupportsConnectorActivePhyMap(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_subsystem_info, bFlags, 0x01));
}

VK_BOOL VK_ControllerSupportsInconsistencyEventNotification(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_miscellaneous, bFlags1, 0x10));
}

VK_BOOL VK_ControllerSupportsHardwareMinorRevision(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_id_controller, dwFlags1, 0x04));
}

VK_BOOL __VK_ControllerSupportsMPSAndMRRS(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_io, bFlags, 0x40));
}

VK_BOOL VK_ControllerSupportsSurfaceAnalysisInfo(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_background, bFlags2, 0x02));
}

VK_BOOL VK_ControllerSupportsUEFIDriverHealthReporting(PCDA cda) {
    return PageOnly<VK_BOOL>(cda, PAGE_BIT(page_set_controller_params, dwFlags1, 0x10));
}

VK_DWORD VK_ControllerSupportsAdditionalRAIDInfo(PCDA cda) {
    return PageOnly<VK_DWORD>(cda, [](const SENSE_FEATURE_PAGES& p) {
        VK_DWORD support = 0;
        if (p.page_raid.bFlags2 & 0x20) {
            support |= kControllerSupports4knRAID;
        }
        if (p.page_nvme.bNVMeFlags & 0x02) {
            support |= kControllerSupportsNVMeRAID;
        }
        return support;
    });
}

// Other cached buffers.

VK_BOOL VK_ControllerSupportsWaitForCacheRoom(PCDA cda) {
    return CachedBuffer(cda, VK_RequestSenseCacheConfigStatusBuffer, [](const _CDA& c) {
        return (c.sense_cache_config_status_buffer.bCacheSupportFlags & 0x04) != 0;
    });
}

VK_BOOL VK_ControllerSupportsDriveWriteCache(PCDA cda) {
    return CachedBuffer(cda, VK_RequestIdentifyControllerBuffer, [](const _CDA& c) {
        const IDENTIFY_CONTROLLER& id = c.identify_controller_buffer;
        return (id.bMoreControllerFlags & 0x20) != 0 && (id.dwYetMoreControllerFlags & 0x4000) == 0;
    });
}

VK_BYTE VK_ControllerSupportsMaxPSSCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    return VK_RequestSurfaceStatusBuffer(cda) ? _VK_CDA(cda)->surface_status_buffer.bMaxParallelScanLimit : 0;
}

VK_BYTE VK_ControllerSupportsSanitizeLock(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    // Without pages the loader answers with the all-zero record: no sanitize lock.
    if (VK_RequestFeaturePages(cda) &&
        (_VK_CDA(cda)->sense_feature.page_background_erase.bSanitizeLockSupport & 0x01)) {
        return kSanitizeLockFreezeSupported | kSanitizeLockAntiFreezeSupported;
    }
    return 0;
}

VK_BYTE VK_ControllerSupportsOOBCommands(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return VK_RequestFeaturePages(cda)
                   ? _VK_CDA(cda)->sense_feature.page_oob_command.bSubcommandsSupported
                   : 0;
    }
    // SIS-type controllers without pages take both out-of-band subcommands.
    return ControllerProtocol(_VK_CDA(cda)->controller_handle) == kProtocolTypeSIS ? 3 : 0;
}

// Answers derived from other predicates; those take the lock.

VK_BOOL VK_ControllerSupportsQueueDepth(PCDA cda) {
    return __VK_ControllerSupportsPerformanceSettings(cda);
}

VK_BOOL VK_ControllerSupportsDPO(PCDA cda) {
    return (VK_ControllerSupportsParityRAID(cda) && __VK_ControllerSupportsPerformanceSettings(cda)) ? kTrue
                                                                                                     : kFalse;
}

VK_BOOL VK_ControllerSupportsPSS(PCDA) {
    return kTrue;
}

VK_BOOL VK_ControllerSupportsHealArray(PCDA cda) {
    return VK_ControllerSupportsAdvancedCapacityExpansion(cda);
}

VK_BOOL VK_ControllerSupportsMaxReadRequestSize(PCDA cda) {
    return __VK_ControllerSupportsMPSAndMRRS(cda);
}

VK_BOOL VK_ControllerSupportsMaxPayloadSize(PCDA cda) {
    return __VK_ControllerSupportsMPSAndMRRS(cda);
}

#undef PAGE_BIT
#undef PAGE_BITS
#undef ID_BIT
#undef ID_FEATURE
#undef ID_EXTRA
#undef ID_EVEN_MORE_GATED

// ---- Capability words, encryption capabilities, operating modes and RAID levels ------------------

namespace {

// Feature pages read, or nothing: `with_pages` answers when the controller offers them and they load,
// `legacy` from IDENTIFY when it does not offer them.
template <typename Result, typename WithPages, typename Legacy>
Result PagesOrIdentifyValue(PCDA cda, WithPages with_pages, Legacy legacy) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return VK_RequestFeaturePages(cda) ? static_cast<Result>(with_pages(c->sense_feature)) : 0;
    }
    return VK_RequestIdentifyControllerBuffer(cda) ? static_cast<Result>(legacy(c->identify_controller_buffer)) : 0;
}

// Running firmware revision "N.NN" read as its leading number and third character.
bool FirmwareTakesRequery(const char* version) {
    if (version[0] == '\0') {
        return false;
    }
    const long major = std::strtol(version, nullptr, 10);
    if (major > 4) {
        return true;
    }
    return major == 4 && std::strlen(version) > 2 && version[2] > '4';
}

} // namespace

VK_DWORD VK_GetControllerSupportFlags(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    VK_DWORD flags = 0;
    if (VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda)) {
        const SENSE_FEATURE_PAGES& p = _VK_CDA(cda)->sense_feature;
        // The erase page orders its bits RAID, HBA, mixed; the word orders them RAID, mixed, HBA.
        auto by_mode = [](VK_BYTE support, VK_DWORD raid, VK_DWORD mixed, VK_DWORD hba) {
            return ((support & 0x01) ? raid : 0) | ((support & 0x04) ? mixed : 0) | ((support & 0x02) ? hba : 0);
        };
        flags |= by_mode(p.page_background_erase.bSanitizeEraseSupport, kControllerSupportsSanitizeOnRAID,
                         kControllerSupportsSanitizeOnMixed, kControllerSupportsSanitizeOnHBA);
        flags |= by_mode(p.page_background_erase.bWriteEraseSupport, kControllerSupportsDriveEraseOnRAID,
                         kControllerSupportsDriveEraseOnMixed, kControllerSupportsDriveEraseOnHBA);
        if (p.page_drive.bFlags2 & 0x01) {
            flags |= kControllerSupportsHBAModeLEDs;
        }
        if ((p.page_power_management.bSurvivalModeFlag & 0x07) == 0x03) {
            flags |= kControllerSupportsConfigurableSurvivalMode;
        }
        if (p.page_connectivity.bFlags & 0x01) {
            flags |= kControllerSupportsDualDomain;
        }
        if (p.page_set_controller_params.dwFlags1 & 0x01) {
            flags |= kControllerSupportsRuntimeConnectorModeChange;
        }
    }
    if (VK_ControllerSupports2TBDrives(cda)) {
        flags |= kControllerSupportsGreaterThan2TiBDrives;
    }
    return flags;
}

VK_BOOL VK_ControllerSupportsLUCacheRAIDPolicy(PCDA cda, VK_BYTE raid_level, VK_BYTE write_policy) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_BYTE version = 0;
    VK_BYTE enabled = 0;
    if (VK_ControllerFeaturePagesSupported(cda)) {
        if (VK_RequestFeaturePages(cda)) {
            version = c->sense_feature.page_lu_cache.bLUCacheVersion;
            enabled = c->sense_feature.page_lu_cache.bFlags;
        }
    } else if (VK_RequestIdentifyControllerBuffer(cda)) {
        version = c->identify_controller_buffer.pbFeaturesSupported[7];
        enabled = c->identify_controller_buffer.pbFeaturesSupported[6];
    }
    const bool write_back = write_policy == kLUCacheWritePolicyWriteBack;
    const bool write_through = write_policy == kLUCacheWritePolicyWriteThru;
    if (!(write_back && version == 2) && !(write_through && (version == 1 || version == 2))) {
        return kFalse;
    }
    bool allowed = false;
    switch (raid_level) {
    case kRAID0:
        allowed = enabled & 0x01;
        break;
    case kRAID1:
    case kRAID10:
        allowed = enabled & 0x02;
        break;
    case kRAID5:
        allowed = write_back ? (enabled & 0x10) : (enabled & 0x04);
        break;
    case kRAID50:
        allowed = write_through && (enabled & 0x04);
        break;
    case kRAID6:
    case kRAID60:
        allowed = enabled & 0x08;
        break;
    default:
        break;
    }
    return allowed ? kTrue : kFalse;
}

VK_WORD VK_ControllerSupportsPhyRates(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_ControllerFeaturePagesSupported(cda) || !VK_RequestFeaturePages(cda)) {
        return 0;
    }
    const auto& page = _VK_CDA(cda)->sense_feature.page_connectivity;
    if (!(page.bFlags2 & 0x02)) {
        return 0;
    }
    const VK_BYTE default_rate = page.bHighRateDefault >= kPhyRate1G ? page.bHighRateDefault : 0;
    return static_cast<VK_WORD>(page.bHighRateBitmap << kSupportedMaxPhyRateShift | default_rate);
}

VK_BOOL __VK_PowerModeSupported(PCDA cda, VK_WORD power_mode) {
    return (VK_GetPowerModeInformation(cda) & power_mode) == power_mode ? kTrue : kFalse;
}

VK_BOOL VK_ControllerSupportsPowerModeNone(PCDA cda) {
    return (VK_GetPowerModeInformation(cda) & kSupportedPowerModesMask) == 0 ? kTrue : kFalse;
}

VK_BOOL VK_ControllerSupportsPowerModeMin(PCDA cda) {
    return __VK_PowerModeSupported(cda, kPowerModeMinSupported);
}

VK_BOOL VK_ControllerSupportsPowerModeBalanced(PCDA cda) {
    return __VK_PowerModeSupported(cda, kPowerModeBalancedSupported);
}

VK_BOOL VK_ControllerSupportsPowerModeMax(PCDA cda) {
    return __VK_PowerModeSupported(cda, kPowerModeMaxSupported);
}

VK_DWORD VK_ControllerSupportsTransformations(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_DWORD supported = 0;
    if (VK_RequestSenseExpansionAbilityBuffer(cda)) {
        supported = pavlin::ByteView(&c->sense_expansion_ability_buffer, sizeof(SENSE_EXPANSION_ABILITY))
                        .le32(offsetof(SENSE_EXPANSION_ABILITY, dwSupportFlags))
                        .value_or(0);
    }
    if (supported & (kControllerSupportsLogicalDriveMove | kControllerSupportsArrayDriveSwap)) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion '!(supported & ( kControllerSupportsLogicalDriveMove | "
                    "kControllerSupportsArrayDriveSwap ))' failed: Controller reported a bit which conflicts with "
                    "an internal bit\n",
                    __func__, __LINE__);
    }
    if (VK_ControllerSupportsAdvancedCapacityExpansion(cda)) {
        supported |= kControllerSupportsArrayDriveSwap;
    }
    const bool move = PagesOrIdentifyValue<VK_DWORD>(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_miscellaneous.bFlags2 & 0x08) != 0; },
        [](const IDENTIFY_CONTROLLER& id) { return AllBits(id.pbFeaturesSupported[4], 0x0C); });
    if (move) {
        supported |= kControllerSupportsLogicalDriveMove;
    }
    return supported;
}

VK_QWORD VK_GetControllerTransformationMemorySize(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (!VK_RequestSenseExpansionAbilityBuffer(cda)) {
        return 0;
    }
    const VK_QWORD kib = pavlin::ByteView(&c->sense_expansion_ability_buffer, sizeof(SENSE_EXPANSION_ABILITY))
                             .le32(offsetof(SENSE_EXPANSION_ABILITY, dwExpansionMemorySize))
                             .value_or(0);
    VK_QWORD bytes = kib * 1024;
    if (VK_ControllerFeaturePagesSupported(cda) &&
        (!VK_RequestFeaturePages(cda) || !(c->sense_feature.page_miscellaneous.bFlags1 & 0x02))) {
        bytes = std::min<VK_QWORD>(bytes, 0xFFFF);
    }
    return bytes;
}

VK_BOOL VK_ControllerSupportsRequeryCommand(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (VK_ControllerFeaturePagesSupported(cda)) {
        return (VK_RequestFeaturePages(cda) && (c->sense_feature.page_perform_device_mgmt.dwDetailBitsSupported & 0x01))
                   ? kTrue
                   : kFalse;
    }
    if (ControllerProtocol(c->controller_handle) == kProtocolTypeSIS) {
        return kTrue;
    }
    if (c->controller_firmware_feature_version != 4) {
        return kFalse;
    }
    char version[5] = {};
    VK_GetControllerFirmwareVersion(cda, version, sizeof(version));
    version[sizeof(version) - 1] = '\0';
    return FirmwareTakesRequery(version) ? kTrue : kFalse;
}

VK_BOOL VK_ControllerSupportsEncryptionKeyCache(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return (VK_ControllerSupportsEncryption(cda) && VK_RequestEncryptionKekCacheAttributes(cda) &&
            (_VK_CDA(cda)->encryption_key_cache_attributes.dwSupportedBits & 0x1))
               ? kTrue
               : kFalse;
}

VK_QWORD VK_ControllerEncryptionKeyCacheSupport(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestEncryptionKekCacheAttributes(cda)) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'request_encryption_kek_attrs' failed: Failed to get local kek attributes\n",
                    __func__, __LINE__);
        return 0;
    }
    const ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES& a = _VK_CDA(cda)->encryption_key_cache_attributes;
    const VK_DWORD supported = a.dwSupportedBits;
    if (!(supported & 0x1)) {
        return 0;
    }
    VK_QWORD word = 0;
    if (supported & 0x2) {
        word |= static_cast<VK_QWORD>(a.wMinRetryAttempts) << kControllerEncryptionKeyCacheSupportMinRetryAttemptsBitShift;
        word |= static_cast<VK_QWORD>(a.wMaxRetryAttempts) << kControllerEncryptionKeyCacheSupportMaxRetryAttemptsBitShift;
    }
    if (supported & 0x4) {
        word |= static_cast<VK_QWORD>(a.wMinRetryInterval) << kControllerEncryptionKeyCacheSupportMinRetryIntervalBitShift;
        word |= static_cast<VK_QWORD>(a.wMaxRetryInterval) << kControllerEncryptionKeyCacheSupportMaxRetryIntervalBitShift;
    }
    return word;
}

VK_QWORD VK_GetControllerEncryptionEnabledFeatures(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_ControllerSupportsEncryption(cda)) {
        return 0;
    }
    if (VK_ControllerSupportsEncryptionFeatureBreakout(cda)) {
        if (!VK_RequestEncryptionFeatures(cda)) {
            return 0;
        }
        const pavlin::ByteView features(&_VK_CDA(cda)->encryption_features, sizeof(ENCRYPTION_FEATURES));
        // The word has room for 8 feature bytes, whatever count the controller claims.
        const size_t count = std::min<size_t>(features.u8(offsetof(ENCRYPTION_FEATURES, bNumberOfFeatureBytes)).value_or(0), 8);
        VK_QWORD word = 0;
        for (size_t i = 0; i < count; ++i) {
            word |= static_cast<VK_QWORD>(features.u8(offsetof(ENCRYPTION_FEATURES, pbFeatures) + i).value_or(0)) << (8 * i);
        }
        return word;
    }
    VK_QWORD word = ~static_cast<VK_QWORD>(0);
    if (!VK_ControllerSupportsEncryptionKeyCache(cda)) {
        word &= ~kEncryptionFeatureKeyCache;
    }
    if (!VK_ControllerSupportsKeyManagerConversion(cda)) {
        word &= ~kEncryptionFeatureKeyManagerConversion;
    }
    return word;
}

VK_BOOL VK_ControllerSupportsVeskHBAMode(PCDA cda) {
    return (VK_GetControllerModeInfo(cda) & kControllerModeSupportsVeskHBAMode) ? kTrue : kFalse;
}

VK_BOOL VK_ControllerSupportsMixedMode(PCDA cda) {
    return (VK_GetControllerModeInfo(cda) & kControllerModeSupportsMixedMode) ? kTrue : kFalse;
}

VK_BOOL VK_ControllerSupportsIRP(PCDA cda) {
    return ((VK_ControllerSupportsRAIDLevel(cda, kRAID6) || VK_ControllerSupportsRAIDLevel(cda, kRAID60)) &&
            __VK_ControllerSupportsPerformanceSettings(cda))
               ? kTrue
               : kFalse;
}

VK_BOOL VK_ControllerSupportsRAIDLevel(PCDA cda, VK_BYTE raid_level) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    const bool pages = VK_ControllerFeaturePagesSupported(cda) != kFalse;
    if (!VK_RequestIdentifyControllerBuffer(cda) || (pages && !VK_RequestFeaturePages(cda)) ||
        VK_ControllerCurrentModeIsHBA(cda) || VK_ControllerPendingModeIsHBA(cda)) {
        return kFalse;
    }
    const VK_DWORD bitmap = c->sense_feature.page_raid.dwRAIDLevelSupportBitmap;
    const IDENTIFY_CONTROLLER& id = c->identify_controller_buffer;
    bool supported = false;
    switch (raid_level) {
    case kRAID0:
        supported = !pages || (bitmap & 0x01);
        break;
    case kRAID1:
    case kRAID10:
        supported = !pages || (bitmap & 0x02);
        break;
    case kRAID5:
        supported = VK_ControllerSupportsParityRAID(cda);
        break;
    case kRAID50:
        supported = pages ? (bitmap & 0x80) : (id.pbFeaturesSupported[1] & 0x08);
        break;
    case kRAID6:
        supported = pages ? (bitmap & 0x10) : (id.bRAID6Support >= 0xC0 && id.bRAID6Support <= 0xC9);
        break;
    case kRAID60:
        supported = pages ? (bitmap & 0x100) : (id.pbFeaturesSupported[1] & 0x20);
        break;
    case kRAID1Triple:
    case kRAID10Triple:
        supported = VK_ControllerSupportsNWayRAID(cda);
        break;
    default:
        break;
    }
    return supported ? kTrue : kFalse;
}

VK_WORD VK_ControllerSupportsMaxSpareDriveCount(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) ||
        !(VK_ControllerCurrentModeIsRAID(cda) || VK_ControllerCurrentModeIsMixed(cda))) {
        return 0;
    }
    // A controller that reports no drives per logical drive has no room for spares, not 65,535.
    const VK_WORD per_logical_drive = _VK_CDA(cda)->identify_controller_buffer.wMaximumPhysicalDrivesPerLogicalUnit;
    return per_logical_drive == 0 ? 0 : static_cast<VK_WORD>(per_logical_drive - 1);
}

// ---- RAID drive counts, limits and strip sizes -----------------------------------------------------

namespace {
namespace limits_detail {

using pavlin::ByteView;
namespace dec = telmar::decode;

ByteView IdentifyOf(const _CDA* c) {
    return ByteView(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
}

template <typename Slot> ByteView SlotOf(const Slot& slot) {
    return ByteView(&slot, sizeof(slot));
}

// A value of the cached identify reply; 0 when it cannot be loaded.
template <typename Decode> auto IdentifyValue(PCDA cda, Decode decode) -> decltype(decode(ByteView())) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return 0;
    }
    return decode(IdentifyOf(_VK_CDA(cda)));
}

// True when the controller offers feature pages and they are loaded.
bool PagesLoaded(PCDA cda) {
    return VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda);
}

} // namespace limits_detail
} // namespace

VK_BOOL VK_ControllerSupportsPCIBusType(PCDA cda, VK_BYTE bus_type) {
    return (bus_type == kPCIe && VK_GetPCIeGen(cda) != 0) ? kTrue : kFalse;
}

VK_WORD VK_ControllerSupportsMaxLogicalDriveCount(PCDA cda) {
    return limits_detail::IdentifyValue(cda, [](pavlin::ByteView id) {
        return telmar::decode::Le16(id, telmar::decode::identify::kMaximumLogicalDevices);
    });
}

VK_WORD VK_ControllerSupportsMaxArrayCount(PCDA cda) {
    return VK_ControllerSupportsMaxLogicalDriveCount(cda);
}

VK_WORD VK_ControllerSupportsMaxPhysicalDriveCount(PCDA cda) {
    return limits_detail::IdentifyValue(cda, [](pavlin::ByteView id) {
        return telmar::decode::Le16(id, telmar::decode::identify::kMaximumPhysicalDevices);
    });
}

VK_WORD VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(PCDA cda) {
    return limits_detail::IdentifyValue(cda, [](pavlin::ByteView id) {
        return telmar::decode::Le16(id, telmar::decode::identify::kMaximumDrivesPerLogicalUnit);
    });
}

VK_WORD VK_GetMinMaxPDForRAIDLevel(PCDA cda, VK_BYTE raid_level) {
    return limits_detail::IdentifyValue(cda, [raid_level](pavlin::ByteView id) {
        // Only the low byte counts: a field of 0x0100 allows no drives at all.
        const auto l = static_cast<VK_BYTE>(
            telmar::decode::Le16(id, telmar::decode::identify::kMaximumDrivesPerLogicalUnit));
        return telmar::decode::MinMaxDrives(l, raid_level);
    });
}

VK_BOOL VK_ControllerSupportsPDInterface(PCDA cda, VK_BYTE interface_type) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    return telmar::decode::PDInterfaceSupported(interface_type,
                                                _VK_CDA(cda)->controller_firmware_feature_version)
               ? kTrue
               : kFalse;
}

VK_DWORD _VK_GetControllerMaxStripSizeSupport(PCDA cda, VK_BYTE size_type) {
    if (cda == nullptr) {
        return 0;
    }
    if (size_type == kControllerStripSizeMaxFullStripeSizeBytes) {
        return limits_detail::IdentifyValue(
            cda, [](pavlin::ByteView id) { return telmar::decode::FullStripeBytes(id); });
    }
    if (size_type < kControllerStripSizeMaxStripSizeBytes ||
        size_type > kControllerStripSizeMaxRAID6StripSizeBytes) {
        return 0;
    }
    // The identify copy is loaded with the data area; callers that need a consistent view hold the lock.
    CDALock guard(cda);
    const bool software_raid =
        size_type == kControllerStripSizeMaxRAID01StripSizeBytes && VK_ControllerIsSoftwareRAID(cda);
    return telmar::decode::MaxStripBytes(limits_detail::IdentifyOf(_VK_CDA(cda)), size_type, software_raid);
}

VK_DWORD _VK_GetControllerMinStripSizeSupport(PCDA cda, VK_BYTE size_type) {
    if (size_type < kControllerStripSizeMinStripSizeBytes ||
        size_type > kControllerStripSizeMinParityStripSizeBytes) {
        return 0;
    }
    const auto pick = [size_type](const telmar::decode::StripMinima& minima) {
        switch (size_type) {
            case kControllerStripSizeMinStripSizeBytes:
                return std::min(minima.non_parity, minima.parity);
            case kControllerStripSizeMinNonParityStripSizeBytes:
                return minima.non_parity;
            default:
                return minima.parity;
        }
    };
    // Without a data area the minima are the defaults, as for a controller whose identify cannot be read.
    if (cda == nullptr) {
        return pick(telmar::decode::MinStripBytes(pavlin::ByteView(), false));
    }
    bool reports_minima = false;
    telmar::decode::StripMinima minima{};
    {
        CDALock guard(cda);
        const bool identify = VK_RequestIdentifyControllerBuffer(cda) != kFalse;
        const pavlin::ByteView id = identify ? limits_detail::IdentifyOf(_VK_CDA(cda)) : pavlin::ByteView();
        if (identify) {
            std::optional<bool> from_page;
            if (limits_detail::PagesLoaded(cda)) {
                from_page = telmar::decode::RAIDPageReportsMinima(
                    limits_detail::SlotOf(_VK_CDA(cda)->sense_feature.page_raid));
            }
            reports_minima = from_page ? *from_page : telmar::decode::IdentifyReportsMinima(id);
        }
        minima = telmar::decode::MinStripBytes(id, reports_minima);
    }
    return pick(minima);
}

VK_DWORD _VK_GetControllerMaxNVMeStripSize(PCDA cda) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    if ((VK_ControllerSupportsAdditionalRAIDInfo(cda) & kControllerSupportsNVMeRAID) == 0 ||
        !limits_detail::PagesLoaded(cda)) {
        return 0;
    }
    return telmar::decode::NVMeMaxStripBytes(limits_detail::SlotOf(_VK_CDA(cda)->sense_feature.page_nvme));
}

VK_DWORD _VK_GetControllerLUCacheStripSizeSupport(PCDA cda, VK_BYTE size_type) {
    // Without a data area the sizes are the defaults, as for a controller without the LU cache page.
    if (cda == nullptr) {
        return telmar::decode::LUCacheStripBytes(pavlin::ByteView(), size_type);
    }
    CDALock guard(cda);
    pavlin::ByteView page;
    if (limits_detail::PagesLoaded(cda)) {
        page = limits_detail::SlotOf(_VK_CDA(cda)->sense_feature.page_lu_cache);
    }
    return telmar::decode::LUCacheStripBytes(page, size_type);
}

VK_DWORD VK_GetControllerStripSizeSupport(PCDA cda, VK_BYTE size_type) {
    if (size_type >= kControllerStripSizeMaxFullStripeSizeBytes &&
        size_type <= kControllerStripSizeMaxRAID6StripSizeBytes) {
        return _VK_GetControllerMaxStripSizeSupport(cda, size_type);
    }
    if (size_type >= kControllerStripSizeMinStripSizeBytes &&
        size_type <= kControllerStripSizeMinParityStripSizeBytes) {
        return _VK_GetControllerMinStripSizeSupport(cda, size_type);
    }
    if (size_type == kControllerStripSizeMaxNVMeStripSizeBytes) {
        return _VK_GetControllerMaxNVMeStripSize(cda);
    }
    if (size_type >= kControllerStripSizeLUCacheMaxFullStripeSizeBytes &&
        size_type <= kControllerStripSizeLUCacheMinStripSizeBytes) {
        return _VK_GetControllerLUCacheStripSizeSupport(cda, size_type);
    }
    return 0;
}

// ---- Drive-level capabilities ---------------------------------------------------------------------

namespace {

// Connector modes an operation is allowed behind, one bit each as the erase page orders them.
constexpr VK_BYTE kAllowedBehindRAID = 0x01;
constexpr VK_BYTE kAllowedBehindHBA = 0x02;
constexpr VK_BYTE kAllowedBehindMixed = 0x04;

VK_BYTE ConnectorModeBit(PCDA cda, VK_WORD pd_number) {
    CONTROLLER_CONNECTOR_INFO info;
    std::memset(&info, 0, sizeof(info));
    if (!VK_GetControllerConnectorInfo(cda, VK_GetConnectorIndexOfPhysicalDrive(cda, pd_number), &info)) {
        return 0;
    }
    switch (info.current_connector_mode) {
        case kConnectorModeRAID:
            return kAllowedBehindRAID;
        case kConnectorModeHBA:
            return kAllowedBehindHBA;
        case kConnectorModeMixed:
            return kAllowedBehindMixed;
        default:
            return 0;
    }
}

} // namespace

VK_WORD VK_PhysicalDriveSupportsErasePattern(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    const VK_BYTE mode = ConnectorModeBit(cda, pd_number);
    // Without the erase page, erase and sanitize are allowed behind RAID-mode connectors only.
    VK_BYTE overwrite_modes = kAllowedBehindRAID;
    VK_BYTE sanitize_modes = kAllowedBehindRAID;
    if (VK_ControllerFeaturePagesSupported(cda) && VK_RequestFeaturePages(cda) &&
        c->sense_feature.page_background_erase.PageHeader.bPageCode != 0) {
        overwrite_modes = c->sense_feature.page_background_erase.bWriteEraseSupport;
        sanitize_modes = c->sense_feature.page_background_erase.bSanitizeEraseSupport;
    }
    if (!VK_RequestArrayConfigurationInformation(cda) || !VK_RequestIdentifyControllerBuffer(cda) ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return 0;
    }
    VK_WORD patterns = 0;
    if (VK_ControllerSupportsPhysicalDriveErase(cda) && _VK_IsPhysicalDriveSupportedForConfig(cda, pd_number) == 1 &&
        (overwrite_modes & mode)) {
        patterns |= kErasePattern1Pass | kErasePattern2Pass | kErasePattern3Pass;
    }
    const VK_BYTE drive = c->pd_record_list[pd_number].identify_physical_drive_buffer.bSanitizeEraseSupport;
    if (VK_ControllerSupportsPhysicalDriveSanitize(cda) && c->controller_firmware_feature_version > 3 &&
        !(drive & 0x80) && (sanitize_modes & mode)) {
        const bool unrestricted = (drive & 0x10) != 0;
        if (drive & 0x40) {
            patterns |= kErasePatternSanitizeUnknown;
        }
        if (drive & 0x01) {
            patterns |= kErasePatternOverwriteRestricted | (unrestricted ? kErasePatternOverwriteUnrestricted : 0);
        }
        if (drive & 0x02) {
            patterns |= kErasePatternBlockEraseRestricted | (unrestricted ? kErasePatternBlockEraseUnrestricted : 0);
        }
        if (drive & 0x04) {
            patterns |= kErasePatternCryptoScrambleRestricted |
                        (unrestricted ? kErasePatternCryptoScrambleUnrestricted : 0);
        }
    }
    return patterns;
}

VK_BYTE VK_PhysicalDriveSupportsSanitizeLock(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    if (pd_number >= kMaxPhysicalDrivesSupported || !VK_RequestArrayConfigurationInformation(cda) ||
        !VK_RequestIdentifyControllerBuffer(cda) ||
        pd_number >= c->identify_controller_buffer.wMaximumPhysicalDevicesSupported ||
        !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number) ||
        !(VK_GetPhysicalDriveBasicInfo(cda, pd_number) & kPhysicalDriveTypeSATA)) {
        return 0;
    }
    const VK_BYTE policy = c->pd_record_list[pd_number].identify_physical_drive_buffer.bSanitizePolicy;
    return static_cast<VK_BYTE>(((policy & 0x01) ? kSanitizeLockFreezeSupported : 0) |
                                ((policy & 0x02) ? kSanitizeLockAntiFreezeSupported : 0));
}

VK_BOOL _VK_PhysicalDriveSupportsWearGauge(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const VK_BOOL controller = PageOrIdentify(
        cda, [](const SENSE_FEATURE_PAGES& p) { return (p.page_drive.bFlags1 & 0x02) != 0; },
        [](const IDENTIFY_CONTROLLER& id) { return (id.dwEvenMoreControllerFlags & 0x1000) != 0; });
    if (!controller || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kFalse;
    }
    return (_VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.wExtraDeviceFlags & 0x0400)
               ? kTrue
               : kFalse;
}

VK_BOOL VK_PhysicalDriveSupportsOEMExtendedDriveData(PCDA cda, VK_WORD pd_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    if (!_VK_ControllerSupportsOEMExtendedDriveData(cda) || !VK_RequestIdentifyPhysicalDriveBuffer(cda, pd_number)) {
        return kFalse;
    }
    const VK_BYTE oem_id = _VK_GetControllerOEMID(cda);
    return oem_id == 1 && _VK_CDA(cda)->pd_record_list[pd_number].identify_physical_drive_buffer.bOEMID == oem_id
               ? kTrue
               : kFalse;
}

VK_BOOL _VK_AnyConnectorSupportsOperatingMode(PCDA cda, VK_WORD connector_mode) {
    if (cda == nullptr || connector_mode > kConnectorModeMixed) {
        return kFalse;
    }
    CDALock guard(cda);
    const VK_WORD total = VK_GetControllerTotalConnectorCount(cda);
    for (VK_WORD index = 0; index < total; ++index) {
        CONTROLLER_CONNECTOR_INFO info;
        std::memset(&info, 0, sizeof(info));
        if (!VK_GetControllerConnectorInfo(cda, index, &info)) {
            continue;
        }
        const VK_BOOL supported = connector_mode == kConnectorModeRAID  ? info.connector_supports_RAID_mode
                                  : connector_mode == kConnectorModeHBA ? info.connector_supports_HBA_mode
                                                                        : info.connector_supports_mixed_mode;
        if (supported) {
            return kTrue;
        }
    }
    return kFalse;
}
