// Fuzz target: the controller identity properties, RAID drive counts and limits and the strip-size
// limits over arbitrary cached replies. The input is written into the cached IDENTIFY CONTROLLER,
// SUBSYSTEM PARAMETERS and feature-page copies of a data area with their validity bits set, so no
// command is sent; every getter then runs with buffers of many sizes. A string that is not
// terminated, or a write past a caller's buffer, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"

namespace {

constexpr size_t kGuard = 16;
constexpr VK_BYTE kGuardByte = 0xA5;
constexpr size_t kSizes[] = {1, 2, 3, 4, 5, 7, 8, 9, 16, 17, 24, 25, 32, 33, 64};

// Copies the next bytes of the input into a cached copy; what the input does not cover is zero.
void Fill(void* copy, size_t copy_size, const uint8_t*& data, size_t& size) {
    const size_t n = size < copy_size ? size : copy_size;
    std::memset(copy, 0, copy_size);
    if (n != 0) {
        std::memcpy(copy, data, n);
    }
    data += n;
    size -= n;
}

using TextGetter = char* (*)(PCDA, char*, size_t);

[[noreturn]] void Fail(const char* what, size_t getter, size_t size) {
    std::fprintf(stderr, "text getter %zu with a buffer of %zu bytes: %s\n", getter, size, what);
    std::abort();
}

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

void CheckText(PCDA cda, size_t index, size_t size) {
    const TextGetter getter = kTextGetters[index];
    std::vector<char> buffer(size + kGuard, static_cast<char>(kGuardByte));
    char* result = getter(cda, buffer.data(), size);
    if (result != nullptr && result != buffer.data()) {
        Fail("returned another buffer", index, size);
    }
    for (size_t i = size; i < buffer.size(); ++i) {
        if (static_cast<VK_BYTE>(buffer[i]) != kGuardByte) {
            Fail("wrote past the buffer", index, size);
        }
    }
    // The minor revision is left as it was when the controller does not offer it.
    if (size != 0 && getter != VK_GetControllerHardwareMinorRevision &&
        std::memchr(buffer.data(), 0, size) == nullptr) {
        Fail("not terminated", index, size);
    }
}

volatile VK_QWORD g_sink; // keeps the numeric answers alive

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    _CDA* c = DataArea();
    if (c == nullptr) {
        return 0;
    }
    PCDA cda = c;
    VK_BYTE feature_version = 0;
    VK_BYTE extra_size = 0;
    if (size >= 2) {
        feature_version = data[0];
        extra_size = data[1];
        data += 2;
        size -= 2;
    }
    Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer), data, size);
    Fill(&c->sense_subsystem_parameters_buffer, sizeof(c->sense_subsystem_parameters_buffer), data, size);
    Fill(&c->sense_feature, sizeof(c->sense_feature), data, size);
    c->controller_firmware_feature_version = feature_version;
    c->controller_handle = nullptr;
    c->lock = nullptr;
    c->flags[kCDAFlagsBuffers] =
        kCDAValidIdentifyController | kCDAValidSubsystemParameters | kCDAValidFeaturePages;

    for (size_t index = 0; index < std::size(kTextGetters); ++index) {
        kTextGetters[index](cda, nullptr, 16);
        CheckText(cda, index, 0);
        for (size_t s : kSizes) {
            CheckText(cda, index, s);
        }
        CheckText(cda, index, extra_size);
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
