// How a physical drive is attached: the controller connector it hangs off.
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"

namespace {

constexpr size_t kPortTableEntries = 8;
constexpr size_t kLongNameLength = 8;
constexpr VK_DWORD kConnectorNumbersValid = 0x100000; // IDENTIFY dwYetMoreControllerFlags
constexpr VK_DWORD kPerConnectorNumbers = 0x1000;     // IDENTIFY dwExtraControllerFlags
constexpr VK_DWORD kMinimumFixedLength = 286;

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
