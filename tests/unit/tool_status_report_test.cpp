// The controller status report's texts: the cache disable reasons by code, and the report of a
// controller that cannot be identified.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "ctlrinfo.h"
#include "decode.h"
#include "pavl_descriptor.h"
#include "ptelm_cda.h"
#include "telm_private.h"

namespace {

TEST(ToolCacheDisableReason, TextByCodeInBits8To15) {
    struct Case {
        VK_DWORD word;
        const char* text;
    } const cases[] = {
        {0x00000044, "Cache board contains data that does not correspond to this controller"},
        {0x00000134, "Less than 75% of the battery packs are at the sufficient voltage level"},
        {0x00000934, "A cache failure has been detected by the other controller in a redundant environment"},
        {0x00000A34, "Unknown"},
        {0x00000B34, "Unknown"},
        {0x00000C34, "Charge level of capacitor attached to cache module is low"},
        {0x00000F34, "Unknown"},
        {0x00001034, "Unknown"},
        {0x00001134, "Un-recoverable ECC errors"},
        {0x00001634, "Battery Hot Removed"},
        {0x00002134, "Battery Cable Error"},
        {0x00002234, "Unknown"},
        {0x0000FF34, "Unknown"},
        // Only bits 8-15 name the reason.
        {0xFFFF16FF, "Battery Hot Removed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        EXPECT_STREQ(DecodeControllerCacheStatus(c.word), c.text);
    }
}

TEST(ToolControllerStatusReport, UnidentifiedControllerPrintsOnlyStatusAndConfigurationLines) {
    // A data area with nothing cached and no controller behind it: IDENTIFY cannot be read.
    auto memory = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
    std::memset(memory.get(), 0, VK_GetCDASize());
    testing::internal::CaptureStdout();
    QV_GetControllerStatusInfo(memory.get());
    const std::string out = testing::internal::GetCapturedStdout();
    PN_DestroyDeviceDescriptor(reinterpret_cast<_CDA*>(memory.get())->controller_handle);
    // With no configuration bit set, the last line is left without its end.
    EXPECT_EQ(out, "Controller Status           : Failed\nController Config Status    : ");
}

} // namespace
