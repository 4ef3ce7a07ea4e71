/* Small helpers shared by the controller model: string tests, number and hex text, checksums,
 * de-duplication and byte order. None of them locks; only the endianness answer is cached. */
#ifndef PTELM_UTILS_H
#define PTELM_UTILS_H

#include <stddef.h>
#include <stdio.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

PN_EXTERN_C_BEGIN

/* Comparison function handed to VK_uniq: 0 means the two items are equal. */
typedef int fnptr(const void* a, const void* b);

VK_API VK_BOOL VK_IsDigitString(const char* s);
VK_API int VK_stricmp(const char* a, const char* b);
VK_API int VK_strnicmp(const char* a, const char* b, size_t n);

/* Array letters: 0 is A, 25 is Z, 26 is AA, 702 is AAA. The buffer holds at most 7 letters and a NUL. */
VK_API char* VK_ConvertNumberToArrayID(char* buf, VK_DWORD num);
VK_API char* VK_ConvertNumberToArrayIDSafe(char* buf, size_t buf_size, VK_DWORD num);

/* Unsigned number as text in base 2, 8, 10 and 16 (upper-case digits), and signed decimal. */
VK_API char* VK_ultoba(VK_QWORD num, char* buf);
VK_API char* VK_ultooa(VK_QWORD num, char* buf);
VK_API char* VK_ultoa(VK_QWORD num, char* buf);
VK_API char* VK_ultoxa(VK_QWORD num, char* buf);
VK_API char* VK_ltoa(VK_INT64 num, char* buf);

/* Two upper-case hex digits per byte and a NUL. */
VK_API char* VK_ConvertBufferToHexStringSafe(char* dest, size_t dest_buffer_size, const void* buffer,
                                             size_t buffer_size);
VK_API char* VK_ConvertBufferToHexString(char* dest, const void* buffer, size_t buffer_size);

VK_API VK_DWORD VK_crc32(const void* buf, VK_DWORD size);
VK_API VK_UINT8 VK_crc8(const void* buf, VK_DWORD size);

/* Index of the first character at or after pos that occurs in chars, or (size_t)-1. */
VK_API size_t VK_find_first_of_safe(const char* str, size_t str_buffer_size, const char* chars,
                                    size_t chars_buffer_size, size_t pos);
VK_API size_t VK_find_first_of(const char* str, const char* chars, size_t pos);

VK_API VK_DWORD VK_DWORD_power(VK_DWORD b, VK_DWORD p);
VK_API void VK_print_table(FILE* file, void* buffer, size_t size);

VK_API VK_QWORD VK_gcd(VK_QWORD a, VK_QWORD b);
VK_API VK_QWORD VK_lcm(VK_QWORD a, VK_QWORD b);

/* Removes later duplicates in place, keeping the order of the kept items; *nitems shrinks. */
VK_API void VK_uniq(void* array, size_t* nitems, size_t size, fnptr* cmp);

VK_API VK_BOOL VK_IsHostLittleEndian(void);
VK_API VK_UINT64 VK_SwapInt64Endianness(VK_UINT64 value);
VK_API VK_UINT32 VK_SwapInt32Endianness(VK_UINT32 value);
VK_API VK_UINT16 VK_SwapInt16Endianness(VK_UINT16 value);
VK_API VK_UINT64 VK_ConvertInt64ToLittleEndian(VK_UINT64 value);
VK_API VK_UINT32 VK_ConvertInt32ToLittleEndian(VK_UINT32 value);
VK_API VK_UINT16 VK_ConvertInt16ToLittleEndian(VK_UINT16 value);
VK_API VK_UINT64 VK_ConvertInt64ToBigEndian(VK_UINT64 value);
VK_API VK_UINT32 VK_ConvertInt32ToBigEndian(VK_UINT32 value);
VK_API VK_UINT16 VK_ConvertInt16ToBigEndian(VK_UINT16 value);

PN_EXTERN_C_END

#endif
