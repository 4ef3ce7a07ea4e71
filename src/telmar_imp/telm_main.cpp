// Library start-up and shut-down of the controller model.
#include "ppavl_debug.h"
#include "ptelm.h"
#include "ptelm_utils.h"

void InitializeTelmar(const char* checksum) {
    (void)checksum;
    // Every controller buffer is decoded in place as little-endian.
    if (!VK_IsHostLittleEndian()) {
        __PN_assert("VK_IsHostLittleEndian()", "Unsupported endianness", __FILE__, __LINE__);
    }
}

void UnInitializeTelmar(void) {}
