// Library start-up and shut-down.
#include <stdio.h>

#include "pavl_debug_private.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ppavl_synchronization.h"

extern "C" {

// Linux needs nothing from the host at start-up or shut-down.
void _InitializePavlin(void) {}

void _UnInitializePavlin(void) {}

void InitializePavlin(const char* checksum) {
    (void)checksum;
    _VK_InitAllocRecord();
    _PN_InitializeDebug();
    if (_PN_PavlinLocaltimeMutex == nullptr) {
        PMUTEX_LOCK lock = nullptr;
        if (_PN_MutexCreate(&lock)) {
            _PN_PavlinLocaltimeMutex = lock;
        }
    }
    const VK_UINT32 i = 1;
    if (((const VK_BYTE*)&i)[0] != (VK_BYTE)1) {
        __PN_assert("((VK_BYTE*)&i)[0] == (VK_BYTE)1", "Unsupported endianness", __FILE__, __LINE__);
    }
    _InitializePavlin();
}

void UnInitializePavlin(void) {
    _UnInitializePavlin();
    PMUTEX_LOCK lock = _PN_PavlinLocaltimeMutex;
    _PN_PavlinLocaltimeMutex = nullptr;
    _PN_MutexDelete(lock);
    _PN_UnInitializeDebug();
    _VK_DumpAllocRecord(stdout);
    _VK_DestroyAllocRecord();
}

} // extern "C"
