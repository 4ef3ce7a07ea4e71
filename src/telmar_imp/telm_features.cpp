// Feature pages and the capability predicates the data area's loaders depend on.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm_features.h"
#include "telm_private.h"

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

VK_WORD ReadWord(const VK_BYTE* p) {
    return static_cast<VK_WORD>(p[0] | (p[1] << 8));
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

} // namespace

void _VK_ParseFeaturePages(const VK_BYTE* reply, VK_DWORD reply_size, PSENSE_FEATURE_PAGES pages) {
    if (pages == nullptr) {
        return;
    }
    std::memset(pages, 0, sizeof(*pages));
    if (reply == nullptr || reply_size < sizeof(SENSE_FEATURE_STARTING_HEADER)) {
        return;
    }
    const VK_BYTE* page_bytes = reply + sizeof(SENSE_FEATURE_STARTING_HEADER);
    const VK_DWORD received = reply_size - static_cast<VK_DWORD>(sizeof(SENSE_FEATURE_STARTING_HEADER));
    const VK_DWORD announced = ReadWord(reply + offsetof(SENSE_FEATURE_STARTING_HEADER, wTotalLength));
    if (announced > received) {
        PN_DebugLog(3, 0, "%s:%d: The sense features command requires %u memory, only %u allocated", __FILE__,
                    __LINE__, announced + static_cast<VK_DWORD>(sizeof(SENSE_FEATURE_STARTING_HEADER)),
                    reply_size);
    }
    const VK_DWORD total = std::min(announced, received);

    VK_DWORD position = 0;
    while (position < total && total - position > kPageHeaderSize) {
        const VK_BYTE* page = page_bytes + position;
        const VK_BYTE page_code = page[0];
        const VK_BYTE subpage_code = page[1];
        const VK_DWORD page_length = ReadWord(page + 2);
        const VK_DWORD page_size = page_length + kPageHeaderSize;
        if (page_size > total - position) {
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
            std::memcpy(destination, page, std::min<size_t>(page_size, slot->size));
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
