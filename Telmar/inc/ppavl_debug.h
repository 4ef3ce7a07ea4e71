/* Debug log, hex dump and hard assertion of the platform library. */
#ifndef PPAVL_DEBUG_H
#define PPAVL_DEBUG_H

#include <stdarg.h>
#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

#if defined(__GNUC__)
#define PN_DEBUG_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#define PN_NORETURN __attribute__((noreturn))
#else
#define PN_DEBUG_PRINTF_FORMAT(f, a)
#define PN_NORETURN
#endif

/* The sink; `text` is valid only during the call. */
typedef void (*DebugCallbackFunction)(VK_BYTE level, VK_UINT32 mask, const char* text);

PN_EXTERN_C_BEGIN

PN_API DebugCallbackFunction PN_SetDebugCallback(DebugCallbackFunction callback);
PN_API VK_BYTE PN_GetDebugLogLevel(void);
PN_API VK_BYTE PN_SetDebugLogLevel(VK_BYTE level);
PN_API VK_UINT32 PN_GetDebugLogMask(void);
PN_API VK_UINT32 PN_SetDebugLogMask(VK_UINT32 mask);
PN_API VK_UINT32 PN_GetDebugLogLevelMask(VK_BYTE level);
PN_API VK_UINT32 PN_SetDebugLogLevelMask(VK_BYTE level, VK_UINT32 mask);

PN_API void PN_DebugLog(VK_BYTE level, VK_UINT32 mask, const char* format, ...) PN_DEBUG_PRINTF_FORMAT(3, 4);
PN_API void PN_LogDataBuffer(VK_BYTE level, VK_UINT32 mask, const void* data_buffer, size_t size);

/* Batches: take the lock, run the filter with mask 0, log each line through the bypass, unlock. */
PN_API void _PN_LockDebugLog(void);
PN_API void _PN_UnlockDebugLog(void);
PN_API VK_BOOL _PN_DebugLogPredicate(VK_BYTE level, VK_UINT32 mask, VK_UINT32* dbg_mask);
PN_API void _PN_DebugLogBypass(VK_BYTE level, VK_UINT32 mask, const char* format, ...)
    PN_DEBUG_PRINTF_FORMAT(3, 4);
PN_API void _PN_DebugLog(DebugCallbackFunction callback, VK_BYTE level, VK_UINT32 mask, int n,
                         const char* format, va_list args) PN_DEBUG_PRINTF_FORMAT(5, 0);
PN_API void _PN_LogDataBufferBypass(VK_BYTE level, VK_UINT32 mask, const void* data_buffer, size_t size);

PN_API void __PN_assert(const char* expression, const char* message, const char* file,
                        unsigned int line) PN_NORETURN;
PN_API void _PN_LockUp(const char* expression, const char* message, const char* file,
                       unsigned int line) PN_NORETURN;

PN_EXTERN_C_END

#endif
