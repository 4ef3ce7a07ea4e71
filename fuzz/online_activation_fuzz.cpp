// The online-activation replies: the first 16 input bytes as a status reply (function 3), the next 16
// as a validate/initiate response. Only known result bits may come out of a response, and none for
// response code 0; a status outside the firmware's values reads unknown.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "ptelm_flash.h"
#include "telm_private.h"

namespace {

constexpr VK_QWORD kResponseBits = 0x1FFF8; // 0x8 to 0x10000

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in{data, size};
    ONLINE_FIRMWARE_ACTIVATION_STATUS status_reply;
    in.Fill(&status_reply, sizeof(status_reply));
    VK_CONTROLLER_OFA_STATUS status;
    __VK_DecodeOnlineFirmwareActivationStatus(&status_reply, &status);
    FUZZ_CHECK(status.status <= kControllerOnlineFirmwareActivationStatusDelayingInitiate ||
               status.status == kControllerOnlineFirmwareActivationStatusUnknown);
    if (status.status <= kControllerOnlineFirmwareActivationStatusPendingInitiate ||
        status.status == kControllerOnlineFirmwareActivationStatusDelayingInitiate) {
        FUZZ_CHECK(status.progress_percent == kControllerOnlineFirmwareActivationProgressPercentInvalid);
    }
    FUZZ_CHECK(status.delay_requested_minutes == status_reply.u16DelayTimeSet);

    ONLINE_FIRMWARE_ACTIVATION_RESPONSE response;
    in.Fill(&response, sizeof(response));
    const VK_QWORD bits = __VK_DecodeOnlineFirmwareActivationValidate(&response);
    FUZZ_CHECK((bits & ~kResponseBits) == 0);
    FUZZ_CHECK(response.u8ResponseCode != 0 || bits == 0);
    FUZZ_CHECK(__VK_DecodeOnlineFirmwareActivationValidateForOFAKSR(&response) == bits);
    return 0;
}
