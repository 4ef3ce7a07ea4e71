// Running firmware version of the controller (stand-in until the identity getters land).
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "telm_private.h"
#include "telm_prop_replies.h"

PN_EXTERN_C_BEGIN
VK_API char* VK_GetControllerFirmwareVersion(PCDA cda, char* buffer, size_t size);
PN_EXTERN_C_END

char* VK_GetControllerFirmwareVersion(PCDA cda, char* buffer, size_t size) {
    if (buffer == nullptr) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'buffer' failed: Destination for ctrl fw version NULL\n", __func__,
                    __LINE__);
        return buffer;
    }
    if (size > 0) {
        buffer[0] = '\0';
    }
    if (cda == nullptr) {
        return buffer;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        return buffer;
    }
    const IDENTIFY_CONTROLLER& id = _VK_CDA(cda)->identify_controller_buffer;
    const pavlin::ByteView identify(&id, sizeof(id));
    const bool tag = telmar::IdentifyExtraFlagsGateOpen(identify) && (id.dwExtraControllerFlags & 0x20000000);
    const size_t offset = tag ? offsetof(IDENTIFY_CONTROLLER, sFWTag) : offsetof(IDENTIFY_CONTROLLER, sShortRAMFirmwareRev);
    const size_t length = tag ? sizeof(id.sFWTag) : sizeof(id.sShortRAMFirmwareRev);
    if (size <= length) {
        PN_DebugLog(1, 0, "%s:%d: Assertion 'size > length' failed: Destination for ctrl fw (%u) version not large enough (%u)\n",
                    __func__, __LINE__, static_cast<unsigned>(size), static_cast<unsigned>(length));
        return buffer;
    }
    identify.copy_text(offset, length, buffer, size);
    return buffer;
}
