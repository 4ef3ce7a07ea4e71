// Fuzz target: the controller identity properties, RAID drive counts and limits and the strip-size
// limits over arbitrary cached replies. The input is written into the cached IDENTIFY CONTROLLER,
// SUBSYSTEM PARAMETERS and feature-page copies of a data area with their validity bits set, so no
// command is sent; every getter then runs with buffers of many sizes. A string that is not
// terminated, or a write past a caller's buffer, aborts.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"

namespace {

constexpr size_t kSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 24, 25, 32, 33, 64};

using TextGetter = char* (*)(PCDA, char*, size_t);

char* AdapterTypeAsText(PCDA cda, char* buffer, size_t size) {
    VK_GetControllerAdapterType(cda, buffer, size);
    return buffer;
}

constexpr TextGetter kTextGetters[] = {
    VK_GetControllerProductID,
    VK_GetControllerFamilyID,
    VK_GetControllerVendorID,
    VK_GetControllerFirmwareVersion,
    VK_GetControllerPendingFirmwareVersion,
    VK_GetControllerFirmwareCompileTimeStamp,
    VK_GetControllerHardwareRevision,
    VK_GetControllerHardwareMinorRevision,
    VK_GetControllerSerialNumber,
    VK_GetControllerDriverVersion,
    VK_GetControllerWWN,
    VK_GetControllerSlotNumber,
    VK_GetControllerPCILocation,
    AdapterTypeAsText,
};

void CheckText(PCDA cda, TextGetter getter, size_t size) {
    // The minor revision is left as it was when the controller does not offer it.
    CheckCallerBuffer(size, getter != VK_GetControllerHardwareMinorRevision, [&](char* buffer, size_t n) {
        char* result = getter(cda, buffer, n);
        FUZZ_CHECK(result == nullptr || result == buffer);
    });
}

volatile VK_QWORD g_sink; // keeps the numeric answers alive

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    VK_BYTE feature_version = 0;
    VK_BYTE extra_size = 0;
    FuzzInput in{data, size};
    if (size >= 2) {
        feature_version = in.Byte();
        extra_size = in.Byte();
    }
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    in.Fill(&c->sense_subsystem_parameters_buffer, sizeof(c->sense_subsystem_parameters_buffer));
    in.Fill(&c->sense_feature, sizeof(c->sense_feature));
    c->controller_firmware_feature_version = feature_version;
    c->flags[kCDAFlagsBuffers] =
        kCDAValidIdentifyController | kCDAValidSubsystemParameters | kCDAValidFeaturePages;

    for (const TextGetter getter : kTextGetters) {
        getter(cda, nullptr, 16);
        CheckText(cda, getter, 0);
        for (size_t s : kSizes) {
            CheckText(cda, getter, s);
        }
        CheckText(cda, getter, extra_size);
    }

    VK_QWORD sum = 0;
    sum += VK_GetControllerMemorySizeMB(cda) + VK_GetControllerFlashSizeMB(cda) +
           VK_GetControllerFirmwareBuildNumber(cda) + VK_GetPCIeGen(cda) + VK_GetPCIeWidth(cda) +
           VK_GetPCIeNegotiatedSpeed(cda) + VK_GetControllerFirmwareComparisonStamp(cda) +
           VK_GetControllerPendingFirmwareComparisonStamp(cda) + VK_GetControllerRawWWN(cda) +
           VK_GetControllerNVRAMErrors(cda) + VK_GetControllerPlatformNVRAMRevision(cda) +
           _VK_GetControllerAdditionalError(cda) + _VK_GetControllerLastLockupCode(cda) +
           VK_GetControllerSystemPropertySize(cda, 0xFF) + VK_GetControllerSystemPropertySize(cda, 0x41);
    VK_BYTE property[8] = {};
    sum += VK_GetControllerSystemProperty(cda, 0x41, property, sizeof(property));
    for (unsigned selector = 0; selector <= 8; ++selector) {
        sum += VK_GetControllerPCIValue(cda, static_cast<VK_BYTE>(selector));
        sum += VK_GetControllerSpinupParameter(cda, static_cast<VK_BYTE>(selector));
    }

    for (unsigned bus = 0; bus <= 3; ++bus) {
        sum += VK_ControllerSupportsPCIBusType(cda, static_cast<VK_BYTE>(bus));
    }
    sum += VK_ControllerSupportsMaxArrayCount(cda) + VK_ControllerSupportsMaxLogicalDriveCount(cda) +
           VK_ControllerSupportsMaxPhysicalDriveCount(cda) +
           VK_ControllerSupportsMaxPhysicalDrivesPerLogicalDriveCount(cda);
    for (unsigned level = 0; level <= 0x0A; ++level) {
        const VK_WORD counts = VK_GetMinMaxPDForRAIDLevel(cda, static_cast<VK_BYTE>(level));
        sum += RAID_MIN_PD_NUMBER(counts) + RAID_MAX_PD_NUMBER(counts);
    }
    sum += VK_GetMinMaxPDForRAIDLevel(cda, kInvalidRAID);
    for (unsigned type = 0; type <= 0x17; ++type) {
        sum += VK_ControllerSupportsPDInterface(cda, static_cast<VK_BYTE>(type));
    }
    for (unsigned selector = 0; selector <= 0x0F; ++selector) {
        const auto s = static_cast<VK_BYTE>(selector);
        sum += VK_GetControllerStripSizeSupport(cda, s) + _VK_GetControllerMaxStripSizeSupport(cda, s) +
               _VK_GetControllerMinStripSizeSupport(cda, s) +
               _VK_GetControllerLUCacheStripSizeSupport(cda, s);
    }
    sum += _VK_GetControllerMaxNVMeStripSize(cda);
    g_sink = sum;
    return 0;
}
