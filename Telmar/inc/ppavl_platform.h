/* Platform services shared by both libraries and the tool: start-up, the tracked allocator,
 * bounds-checked string helpers, time helpers, sleep and process id. */
#ifndef PPAVL_PLATFORM_H
#define PPAVL_PLATFORM_H

#include <ctype.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

#define ENABLE_CISS_TRANSPORT 1
#define ENABLE_SISFIB_TRANSPORT 1

#if defined(__GNUC__)
#define PN_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define PN_PRINTF_FORMAT(f, a)
#endif

PN_EXTERN_C_BEGIN

/* Library start-up and shut-down; `checksum` is not examined. */
PN_API void InitializePavlin(const char* checksum);
PN_API void UnInitializePavlin(void);

/* Tracked allocator: every live block is recorded with the file and line that asked for it. */
PN_API void* _VK_malloc(size_t n, const char* file, unsigned int line);
PN_API void* _VK_realloc(void* p, size_t n, const char* file, unsigned int line);
PN_API void _VK_free(void* p, const char* file, unsigned int line);

/* Bounds-checked copies: an error ends the process, naming the caller's file and line.
 * They return 0 whenever they return. */
PN_API int _VK_strcpy_s(char* dest, size_t destsz, const char* src, const char* file, unsigned int line);
PN_API int _VK_strncpy_s(char* dest, size_t dmax, const char* src, size_t count, const char* file,
                         unsigned int line);
PN_API int _VK_strcat_s(char* dest, size_t destsz, const char* src, const char* file, unsigned int line);
PN_API int _VK_strncat_s(char* dest, size_t destsz, const char* src, size_t count, const char* file,
                         unsigned int line);
PN_API int _VK_memcpy_s(void* dest, size_t destsz, const void* src, size_t count, const char* file,
                        unsigned int line);

/* Bounds-checked helpers that pass the library's result back. */
PN_API size_t _VK_strnlen_s(const char* str, size_t size);
PN_API int _VK_sprintf_s(char* buffer, size_t bufsz, const char* format, ...) PN_PRINTF_FORMAT(3, 4);
PN_API int _VK_vsnprintf_s(char* buffer, size_t bufsz, size_t count, const char* format, va_list args)
    PN_PRINTF_FORMAT(4, 0);
PN_API int _VK_sscanf_s(const char* buffer, const char* format, ...);
PN_API char* _VK_gets_s(char* str, size_t size);
PN_API char* _VK_strtok_s(char* str, size_t* strmax, const char* delim, char** context);

/* Time helpers. VK_localtime_s returns a record owned by the caller (free it with VK_free). */
PN_API struct tm* VK_localtime(time_t* time_of_day);
PN_API struct tm* VK_localtime_s(time_t* time_of_day);
PN_API time_t VK_mktime(struct tm* timeptr);

PN_API void PN_Sleep(VK_DWORD milliseconds);
PN_API VK_DWORD PN_GetCurrentProcessID(void);

PN_EXTERN_C_END

#define VK_malloc(n) _VK_malloc((n), __FILE__, __LINE__)
#define VK_realloc(p, n) _VK_realloc((p), (n), __FILE__, __LINE__)
#define VK_free(p) _VK_free((p), __FILE__, __LINE__)

#define VK_strcpy_s(dest, destsz, src) _VK_strcpy_s((dest), (destsz), (src), __FILE__, __LINE__)
#define VK_strncpy_s(dest, dmax, src, count) _VK_strncpy_s((dest), (dmax), (src), (count), __FILE__, __LINE__)
#define VK_strcat_s(dest, destsz, src) _VK_strcat_s((dest), (destsz), (src), __FILE__, __LINE__)
#define VK_strncat_s(dest, destsz, src, count)                                                               \
    _VK_strncat_s((dest), (destsz), (src), (count), __FILE__, __LINE__)
#define VK_memcpy_s(dest, destsz, src, count)                                                                \
    _VK_memcpy_s((dest), (destsz), (src), (count), __FILE__, __LINE__)

#define VK_strnlen_s _VK_strnlen_s
#define VK_sprintf_s _VK_sprintf_s
#define VK_sscanf_s _VK_sscanf_s
#define VK_vsnprintf_s _VK_vsnprintf_s
#define VK_gets_s _VK_gets_s
#define VK_strtok_s _VK_strtok_s

#define VK_min(a, b) (((a) < (b)) ? (a) : (b))
#define VK_max(a, b) (((a) > (b)) ? (a) : (b))

#define VK_memcpy memcpy
#define VK_memset memset
#define VK_memcmp memcmp
#define VK_strlen strlen
#define VK_strcmp strcmp
#define VK_strncmp strncmp
#define VK_strcpy strcpy
#define VK_strncpy strncpy
#define VK_strcat strcat
#define VK_strncat strncat
#define VK_strchr strchr
#define VK_strstr strstr
#define VK_sprintf sprintf
#define VK_printf printf
#define VK_qsort qsort
#define VK_atoi atoi
#define VK_atol atol
#define VK_atof atof
#define VK_isdigit isdigit
#define VK_isalnum isalnum
#define VK_isprint isprint
#define VK_isspace isspace
#define VK_tolower tolower

#endif
