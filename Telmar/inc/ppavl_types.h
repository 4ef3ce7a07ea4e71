/* Integer vocabulary shared by the platform library, the controller model and the tool. */
#ifndef PPAVL_TYPES_H
#define PPAVL_TYPES_H

#include <stdint.h>
#include <stddef.h>

typedef uint8_t VK_UINT8;
typedef uint16_t VK_UINT16;
typedef uint32_t VK_UINT32;
typedef uint64_t VK_UINT64;
typedef int8_t VK_INT8;
typedef int16_t VK_INT16;
typedef int32_t VK_INT32;
typedef int64_t VK_INT64;

typedef VK_UINT8 VK_BYTE;
typedef VK_UINT16 VK_WORD;
typedef VK_UINT32 VK_DWORD;
typedef VK_UINT64 VK_QWORD;

typedef int VK_BOOL;
#define kTrue 1
#define kFalse 0

typedef VK_BYTE VK_RESERVED;

typedef void* DeviceDescriptor;
typedef void* DeviceDescriptorList;
typedef void* DeviceDescriptorListIterator;

/* Values built from bytes stored most significant first; p points at the first byte. */
#define BIG_ENDIAN_2_VK_WORD(p)                                                                                \
    ((VK_WORD)((((VK_WORD)((const VK_BYTE*)(p))[0]) << 8) | ((VK_WORD)((const VK_BYTE*)(p))[1])))
#define BIG_ENDIAN_2_VK_DWORD(p)                                                                               \
    ((VK_DWORD)((((VK_DWORD)((const VK_BYTE*)(p))[0]) << 24) | (((VK_DWORD)((const VK_BYTE*)(p))[1]) << 16) |  \
                (((VK_DWORD)((const VK_BYTE*)(p))[2]) << 8) | ((VK_DWORD)((const VK_BYTE*)(p))[3])))
#define BIG_ENDIAN_2_VK_QWORD(p)                                                                               \
    ((((VK_QWORD)BIG_ENDIAN_2_VK_DWORD(p)) << 32) | ((VK_QWORD)BIG_ENDIAN_2_VK_DWORD(((const VK_BYTE*)(p)) + 4)))

#define BIG_ENDIAN_BYTE_0(v) ((VK_BYTE)(((VK_DWORD)(v)) & 0xFFu))
#define BIG_ENDIAN_BYTE_1(v) ((VK_BYTE)((((VK_DWORD)(v)) >> 8) & 0xFFu))
#define BIG_ENDIAN_BYTE_2(v) ((VK_BYTE)((((VK_DWORD)(v)) >> 16) & 0xFFu))
#define BIG_ENDIAN_BYTE_3(v) ((VK_BYTE)((((VK_DWORD)(v)) >> 24) & 0xFFu))

#endif
