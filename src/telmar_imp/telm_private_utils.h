// Workers behind the public utilities, shared inside the controller model.
#ifndef TELM_PRIVATE_UTILS_H
#define TELM_PRIVATE_UTILS_H

#include <cstddef>

#include "ppavl_export.h"
#include "ptelm_utils.h"

PN_EXTERN_C_BEGIN

extern const VK_DWORD __gVK_crc32_table[256];
extern const VK_UINT8 __gVK_crc8_table[256];

// `c`, or `replace_char` when a requested test rejects it; a NUL replacement means "drop".
char __VK_ConvertChar(char c, VK_BOOL replace_non_alpha_num, VK_BOOL replace_non_printable,
                      char replace_char);

// Trimmed copy of a fixed-width device text field. The result is NUL-terminated only when fewer than
// `string_size` characters were copied, so callers pass a string buffer longer than the field.
char* __VK_ConvertCharBufferToString(const char* buffer_address, size_t buffer_size, char* string_address,
                                     size_t string_size, VK_BOOL trim_leading_blanks,
                                     VK_BOOL trim_trailing_blanks, VK_BOOL allow_non_alpha_num,
                                     VK_BOOL allow_non_printable, char replace_char);

// Array letters least significant first (and a NUL).
char* __VK_ConvertNumberToArrayReversedID(char* buf, VK_DWORD num);

VK_WORD __VK_PopCount(VK_DWORD bit_array);
VK_DWORD __VK_MemoryPopCount(void* buffer, size_t number_of_bytes);

// Bases 2 to 36; base 1 writes `num` characters '1'.
char* __VK_ultoa(VK_QWORD num, char* buf, VK_BYTE base);

void _VK_swap(void* x, void* y, size_t l);
void _VK_uniq(void* array, size_t* nitems, size_t size, fnptr* cmp);

PN_EXTERN_C_END

#endif
