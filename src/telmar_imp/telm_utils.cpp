// Shared utilities of the controller model.
#include "telm_private_utils.h"

#include <atomic>
#include <cstdint>
#include <cstring>

#include "ppavl_platform.h"

namespace {

// POSIX-locale classes, independent of the process locale and safe for negative chars.
constexpr bool IsDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
constexpr bool IsAlphaNum(unsigned char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
constexpr bool IsPrint(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}
constexpr bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr int ToLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr VK_BYTE kMaxBase = sizeof(kDigits) - 1;

// Longest array ID of a 32-bit number: 7 letters.
constexpr size_t kArrayIDMaxLetters = 7;

constexpr VK_DWORD Crc32Entry(VK_DWORD i) {
    VK_DWORD c = i;
    for (int k = 0; k < 8; ++k) {
        c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return c;
}

constexpr VK_UINT8 Crc8Entry(VK_UINT8 i) {
    VK_UINT8 c = i;
    for (int k = 0; k < 8; ++k) {
        c = static_cast<VK_UINT8>((c & 0x80u) ? (c << 1) ^ 0x07u : c << 1);
    }
    return c;
}

void ReverseInPlace(char* s, size_t n) {
    for (size_t i = 0, j = n; i + 1 < j; ++i, --j) {
        char t = s[i];
        s[i] = s[j - 1];
        s[j - 1] = t;
    }
}

} // namespace

constexpr VK_DWORD __gVK_crc32_table[256] = {
    0x00000000u, 0x77073096u, 0xEE0E612Cu, 0x990951BAu, 0x076DC419u, 0x706AF48Fu, 0xE963A535u, 0x9E6495A3u,
    0x0EDB8832u, 0x79DCB8A4u, 0xE0D5E91Eu, 0x97D2D988u, 0x09B64C2Bu, 0x7EB17CBDu, 0xE7B82D07u, 0x90BF1D91u,
    0x1DB71064u, 0x6AB020F2u, 0xF3B97148u, 0x84BE41DEu, 0x1ADAD47Du, 0x6DDDE4EBu, 0xF4D4B551u, 0x83D385C7u,
    0x136C9856u, 0x646BA8C0u, 0xFD62F97Au, 0x8A65C9ECu, 0x14015C4Fu, 0x63066CD9u, 0xFA0F3D63u, 0x8D080DF5u,
    0x3B6E20C8u, 0x4C69105Eu, 0xD56041E4u, 0xA2677172u, 0x3C03E4D1u, 0x4B04D447u, 0xD20D85FDu, 0xA50AB56Bu,
    0x35B5A8FAu, 0x42B2986Cu, 0xDBBBC9D6u, 0xACBCF940u, 0x32D86CE3u, 0x45DF5C75u, 0xDCD60DCFu, 0xABD13D59u,
    0x26D930ACu, 0x51DE003Au, 0xC8D75180u, 0xBFD06116u, 0x21B4F4B5u, 0x56B3C423u, 0xCFBA9599u, 0xB8BDA50Fu,
    0x2802B89Eu, 0x5F058808u, 0xC60CD9B2u, 0xB10BE924u, 0x2F6F7C87u, 0x58684C11u, 0xC1611DABu, 0xB6662D3Du,
    0x76DC4190u, 0x01DB7106u, 0x98D220BCu, 0xEFD5102Au, 0x71B18589u, 0x06B6B51Fu, 0x9FBFE4A5u, 0xE8B8D433u,
    0x7807C9A2u, 0x0F00F934u, 0x9609A88Eu, 0xE10E9818u, 0x7F6A0DBBu, 0x086D3D2Du, 0x91646C97u, 0xE6635C01u,
    0x6B6B51F4u, 0x1C6C6162u, 0x856530D8u, 0xF262004Eu, 0x6C0695EDu, 0x1B01A57Bu, 0x8208F4C1u, 0xF50FC457u,
    0x65B0D9C6u, 0x12B7E950u, 0x8BBEB8EAu, 0xFCB9887Cu, 0x62DD1DDFu, 0x15DA2D49u, 0x8CD37CF3u, 0xFBD44C65u,
    0x4DB26158u, 0x3AB551CEu, 0xA3BC0074u, 0xD4BB30E2u, 0x4ADFA541u, 0x3DD895D7u, 0xA4D1C46Du, 0xD3D6F4FBu,
    0x4369E96Au, 0x346ED9FCu, 0xAD678846u, 0xDA60B8D0u, 0x44042D73u, 0x33031DE5u, 0xAA0A4C5Fu, 0xDD0D7CC9u,
    0x5005713Cu, 0x270241AAu, 0xBE0B1010u, 0xC90C2086u, 0x5768B525u, 0x206F85B3u, 0xB966D409u, 0xCE61E49Fu,
    0x5EDEF90Eu, 0x29D9C998u, 0xB0D09822u, 0xC7D7A8B4u, 0x59B33D17u, 0x2EB40D81u, 0xB7BD5C3Bu, 0xC0BA6CADu,
    0xEDB88320u, 0x9ABFB3B6u, 0x03B6E20Cu, 0x74B1D29Au, 0xEAD54739u, 0x9DD277AFu, 0x04DB2615u, 0x73DC1683u,
    0xE3630B12u, 0x94643B84u, 0x0D6D6A3Eu, 0x7A6A5AA8u, 0xE40ECF0Bu, 0x9309FF9Du, 0x0A00AE27u, 0x7D079EB1u,
    0xF00F9344u, 0x8708A3D2u, 0x1E01F268u, 0x6906C2FEu, 0xF762575Du, 0x806567CBu, 0x196C3671u, 0x6E6B06E7u,
    0xFED41B76u, 0x89D32BE0u, 0x10DA7A5Au, 0x67DD4ACCu, 0xF9B9DF6Fu, 0x8EBEEFF9u, 0x17B7BE43u, 0x60B08ED5u,
    0xD6D6A3E8u, 0xA1D1937Eu, 0x38D8C2C4u, 0x4FDFF252u, 0xD1BB67F1u, 0xA6BC5767u, 0x3FB506DDu, 0x48B2364Bu,
    0xD80D2BDAu, 0xAF0A1B4Cu, 0x36034AF6u, 0x41047A60u, 0xDF60EFC3u, 0xA867DF55u, 0x316E8EEFu, 0x4669BE79u,
    0xCB61B38Cu, 0xBC66831Au, 0x256FD2A0u, 0x5268E236u, 0xCC0C7795u, 0xBB0B4703u, 0x220216B9u, 0x5505262Fu,
    0xC5BA3BBEu, 0xB2BD0B28u, 0x2BB45A92u, 0x5CB36A04u, 0xC2D7FFA7u, 0xB5D0CF31u, 0x2CD99E8Bu, 0x5BDEAE1Du,
    0x9B64C2B0u, 0xEC63F226u, 0x756AA39Cu, 0x026D930Au, 0x9C0906A9u, 0xEB0E363Fu, 0x72076785u, 0x05005713u,
    0x95BF4A82u, 0xE2B87A14u, 0x7BB12BAEu, 0x0CB61B38u, 0x92D28E9Bu, 0xE5D5BE0Du, 0x7CDCEFB7u, 0x0BDBDF21u,
    0x86D3D2D4u, 0xF1D4E242u, 0x68DDB3F8u, 0x1FDA836Eu, 0x81BE16CDu, 0xF6B9265Bu, 0x6FB077E1u, 0x18B74777u,
    0x88085AE6u, 0xFF0F6A70u, 0x66063BCAu, 0x11010B5Cu, 0x8F659EFFu, 0xF862AE69u, 0x616BFFD3u, 0x166CCF45u,
    0xA00AE278u, 0xD70DD2EEu, 0x4E048354u, 0x3903B3C2u, 0xA7672661u, 0xD06016F7u, 0x4969474Du, 0x3E6E77DBu,
    0xAED16A4Au, 0xD9D65ADCu, 0x40DF0B66u, 0x37D83BF0u, 0xA9BCAE53u, 0xDEBB9EC5u, 0x47B2CF7Fu, 0x30B5FFE9u,
    0xBDBDF21Cu, 0xCABAC28Au, 0x53B39330u, 0x24B4A3A6u, 0xBAD03605u, 0xCDD70693u, 0x54DE5729u, 0x23D967BFu,
    0xB3667A2Eu, 0xC4614AB8u, 0x5D681B02u, 0x2A6F2B94u, 0xB40BBE37u, 0xC30C8EA1u, 0x5A05DF1Bu, 0x2D02EF8Du,
};
constexpr VK_UINT8 __gVK_crc8_table[256] = {
    0x00, 0x07, 0x0E, 0x09, 0x1C, 0x1B, 0x12, 0x15, 0x38, 0x3F, 0x36, 0x31, 0x24, 0x23, 0x2A, 0x2D,
    0x70, 0x77, 0x7E, 0x79, 0x6C, 0x6B, 0x62, 0x65, 0x48, 0x4F, 0x46, 0x41, 0x54, 0x53, 0x5A, 0x5D,
    0xE0, 0xE7, 0xEE, 0xE9, 0xFC, 0xFB, 0xF2, 0xF5, 0xD8, 0xDF, 0xD6, 0xD1, 0xC4, 0xC3, 0xCA, 0xCD,
    0x90, 0x97, 0x9E, 0x99, 0x8C, 0x8B, 0x82, 0x85, 0xA8, 0xAF, 0xA6, 0xA1, 0xB4, 0xB3, 0xBA, 0xBD,
    0xC7, 0xC0, 0xC9, 0xCE, 0xDB, 0xDC, 0xD5, 0xD2, 0xFF, 0xF8, 0xF1, 0xF6, 0xE3, 0xE4, 0xED, 0xEA,
    0xB7, 0xB0, 0xB9, 0xBE, 0xAB, 0xAC, 0xA5, 0xA2, 0x8F, 0x88, 0x81, 0x86, 0x93, 0x94, 0x9D, 0x9A,
    0x27, 0x20, 0x29, 0x2E, 0x3B, 0x3C, 0x35, 0x32, 0x1F, 0x18, 0x11, 0x16, 0x03, 0x04, 0x0D, 0x0A,
    0x57, 0x50, 0x59, 0x5E, 0x4B, 0x4C, 0x45, 0x42, 0x6F, 0x68, 0x61, 0x66, 0x73, 0x74, 0x7D, 0x7A,
    0x89, 0x8E, 0x87, 0x80, 0x95, 0x92, 0x9B, 0x9C, 0xB1, 0xB6, 0xBF, 0xB8, 0xAD, 0xAA, 0xA3, 0xA4,
    0xF9, 0xFE, 0xF7, 0xF0, 0xE5, 0xE2, 0xEB, 0xEC, 0xC1, 0xC6, 0xCF, 0xC8, 0xDD, 0xDA, 0xD3, 0xD4,
    0x69, 0x6E, 0x67, 0x60, 0x75, 0x72, 0x7B, 0x7C, 0x51, 0x56, 0x5F, 0x58, 0x4D, 0x4A, 0x43, 0x44,
    0x19, 0x1E, 0x17, 0x10, 0x05, 0x02, 0x0B, 0x0C, 0x21, 0x26, 0x2F, 0x28, 0x3D, 0x3A, 0x33, 0x34,
    0x4E, 0x49, 0x40, 0x47, 0x52, 0x55, 0x5C, 0x5B, 0x76, 0x71, 0x78, 0x7F, 0x6A, 0x6D, 0x64, 0x63,
    0x3E, 0x39, 0x30, 0x37, 0x22, 0x25, 0x2C, 0x2B, 0x06, 0x01, 0x08, 0x0F, 0x1A, 0x1D, 0x14, 0x13,
    0xAE, 0xA9, 0xA0, 0xA7, 0xB2, 0xB5, 0xBC, 0xBB, 0x96, 0x91, 0x98, 0x9F, 0x8A, 0x8D, 0x84, 0x83,
    0xDE, 0xD9, 0xD0, 0xD7, 0xC2, 0xC5, 0xCC, 0xCB, 0xE6, 0xE1, 0xE8, 0xEF, 0xFA, 0xFD, 0xF4, 0xF3,
};

static_assert([] {
    for (VK_DWORD i = 0; i < 256; ++i) {
        if (__gVK_crc32_table[i] != Crc32Entry(i) ||
            __gVK_crc8_table[i] != Crc8Entry(static_cast<VK_UINT8>(i))) {
            return false;
        }
    }
    return true;
}());

extern "C" {

VK_BOOL VK_IsDigitString(const char* s) {
    if (s == nullptr || *s == '\0') {
        return kFalse;
    }
    for (; *s != '\0'; ++s) {
        if (!IsDigit(static_cast<unsigned char>(*s))) {
            return kFalse;
        }
    }
    return kTrue;
}

int VK_stricmp(const char* a, const char* b) {
    return VK_strnicmp(a, b, SIZE_MAX);
}

int VK_strnicmp(const char* a, const char* b, size_t n) {
    // A missing text compares as the empty one.
    if (a == nullptr) {
        a = "";
    }
    if (b == nullptr) {
        b = "";
    }
    for (size_t i = 0; i < n; ++i) {
        const int ca = ToLower(static_cast<unsigned char>(a[i]));
        const int cb = ToLower(static_cast<unsigned char>(b[i]));
        if (ca != cb) {
            return ca - cb;
        }
        if (ca == 0) {
            break;
        }
    }
    return 0;
}

char* VK_ConvertNumberToArrayID(char* buf, VK_DWORD num) {
    if (buf == nullptr) {
        return nullptr;
    }
    __VK_ConvertNumberToArrayReversedID(buf, num);
    ReverseInPlace(buf, std::strlen(buf));
    return buf;
}

char* VK_ConvertNumberToArrayIDSafe(char* buf, size_t buf_size, VK_DWORD num) {
    if (buf == nullptr || buf_size == 0) {
        return buf;
    }
    // Built aside so a short buffer is never overrun; a truncated ID would name another array, so an
    // ID that does not fit leaves the empty text instead.
    char letters[kArrayIDMaxLetters + 1];
    __VK_ConvertNumberToArrayReversedID(letters, num);
    const size_t n = std::strlen(letters);
    if (n >= buf_size) {
        buf[0] = '\0';
        return buf;
    }
    ReverseInPlace(letters, n);
    std::memcpy(buf, letters, n + 1);
    return buf;
}

char* VK_ultoba(VK_QWORD num, char* buf) {
    return __VK_ultoa(num, buf, 2);
}
char* VK_ultooa(VK_QWORD num, char* buf) {
    return __VK_ultoa(num, buf, 8);
}
char* VK_ultoa(VK_QWORD num, char* buf) {
    return __VK_ultoa(num, buf, 10);
}
char* VK_ultoxa(VK_QWORD num, char* buf) {
    return __VK_ultoa(num, buf, 16);
}

char* VK_ltoa(VK_INT64 num, char* buf) {
    if (buf == nullptr) {
        return nullptr;
    }
    if (num < 0) {
        buf[0] = '-';
        // Unsigned negation keeps the magnitude of the most negative value.
        __VK_ultoa(VK_QWORD{0} - static_cast<VK_QWORD>(num), buf + 1, 10);
        return buf;
    }
    return __VK_ultoa(static_cast<VK_QWORD>(num), buf, 10);
}

char* VK_ConvertBufferToHexStringSafe(char* dest, size_t dest_buffer_size, const void* buffer,
                                      size_t buffer_size) {
    if (dest == nullptr || buffer == nullptr || buffer_size == 0 || buffer_size > (SIZE_MAX - 1) / 2 ||
        dest_buffer_size < 2 * buffer_size + 1) {
        return dest;
    }
    return VK_ConvertBufferToHexString(dest, buffer, buffer_size);
}

char* VK_ConvertBufferToHexString(char* dest, const void* buffer, size_t buffer_size) {
    if (dest == nullptr || buffer == nullptr || buffer_size == 0) {
        return dest;
    }
    const auto* bytes = static_cast<const VK_BYTE*>(buffer);
    for (size_t i = 0; i < buffer_size; ++i) {
        dest[2 * i] = kDigits[bytes[i] >> 4];
        dest[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    dest[2 * buffer_size] = '\0';
    return dest;
}

VK_DWORD VK_crc32(const void* buf, VK_DWORD size) {
    if (buf == nullptr) {
        return 0;
    }
    const auto* p = static_cast<const VK_BYTE*>(buf);
    VK_DWORD crc = 0xFFFFFFFFu;
    for (VK_DWORD i = 0; i < size; ++i) {
        crc = __gVK_crc32_table[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

VK_UINT8 VK_crc8(const void* buf, VK_DWORD size) {
    if (buf == nullptr) {
        return 0;
    }
    const auto* p = static_cast<const VK_BYTE*>(buf);
    VK_UINT8 crc = 0;
    for (VK_DWORD i = 0; i < size; ++i) {
        crc = __gVK_crc8_table[crc ^ p[i]];
    }
    return crc;
}

size_t VK_find_first_of_safe(const char* str, size_t str_buffer_size, const char* chars,
                             size_t chars_buffer_size, size_t pos) {
    constexpr size_t kNotFound = static_cast<size_t>(-1);
    if (str == nullptr || chars == nullptr) {
        return kNotFound;
    }
    const size_t str_len = strnlen(str, str_buffer_size);
    const size_t chars_len = strnlen(chars, chars_buffer_size);
    if (str_len == 0 || chars_len == 0 || pos >= str_len) {
        return kNotFound;
    }
    for (size_t i = pos; i < str_len; ++i) {
        if (std::memchr(chars, str[i], chars_len) != nullptr) {
            return i;
        }
    }
    return kNotFound;
}

size_t VK_find_first_of(const char* str, const char* chars, size_t pos) {
    const size_t str_size = str != nullptr ? std::strlen(str) + 1 : 0;
    const size_t chars_size = chars != nullptr ? std::strlen(chars) + 1 : 0;
    return VK_find_first_of_safe(str, str_size, chars, chars_size, pos);
}

VK_DWORD VK_DWORD_power(VK_DWORD b, VK_DWORD p) {
    VK_DWORD result = 1;
    while (p != 0) {
        if (p & 1u) {
            result *= b;
        }
        b *= b;
        p >>= 1;
    }
    return result;
}

void VK_print_table(FILE* file, void* buffer, size_t size) {
    if (file == nullptr || buffer == nullptr || size == 0) {
        return;
    }
    const auto* bytes = static_cast<const VK_BYTE*>(buffer);
    const size_t rows = (size - 1) / 16 + 1;
    int digits = 1;
    for (size_t last = (rows - 1) * 16; last > 0xF; last >>= 4) {
        ++digits;
    }

    std::fputs("0F 0E 0D 0C OB 0A 09 08 07 06 05 04 03 02 01 00 | ", file);
    std::fprintf(file, "%*s | 0123456789ABCDEF\n", digits, "");
    std::fputs("-- -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- | ", file);
    for (int i = 0; i < digits; ++i) {
        std::fputc('-', file);
    }
    std::fputs(" | ----------------\n", file);

    for (size_t offset = 0; offset < size; offset += 16) {
        const size_t count = VK_min(size_t{16}, size - offset);
        for (size_t i = count; i < 16; ++i) {
            std::fputs("   ", file);
        }
        for (size_t i = count; i > 0; --i) {
            std::fprintf(file, "%02X ", bytes[offset + i - 1]);
        }
        std::fprintf(file, "| %0*zX | ", digits, offset);
        for (size_t i = 0; i < count; ++i) {
            const VK_BYTE c = bytes[offset + i];
            std::fputc((c < 32 || c > 126) ? '.' : c, file);
        }
        for (size_t i = count; i < 16; ++i) {
            std::fputc(' ', file);
        }
        std::fputc('\n', file);
    }
}

VK_QWORD VK_gcd(VK_QWORD a, VK_QWORD b) {
    if (a == 0 || b == 0) {
        return 0;
    }
    while (b != 0) {
        const VK_QWORD r = a % b;
        a = b;
        b = r;
    }
    return a;
}

VK_QWORD VK_lcm(VK_QWORD a, VK_QWORD b) {
    const VK_QWORD g = VK_gcd(a, b);
    if (g == 0) {
        return 0;
    }
    // Dividing first keeps every least common multiple that fits in 64 bits exact.
    return a / g * b;
}

void VK_uniq(void* array, size_t* nitems, size_t size, fnptr* cmp) {
    if (array == nullptr || nitems == nullptr || size == 0 || cmp == nullptr) {
        return;
    }
    _VK_uniq(array, nitems, size, cmp);
}

VK_BOOL VK_IsHostLittleEndian(void) {
    // Starts as little-endian and not yet known; the test result never changes, so racing first
    // callers store the same answer.
    static std::atomic<bool> known{false};
    static std::atomic<VK_BOOL> little{kTrue};
    if (!known.load(std::memory_order_acquire)) {
        const VK_UINT32 one = 1;
        VK_BYTE first;
        std::memcpy(&first, &one, 1);
        little.store(first == 1 ? kTrue : kFalse, std::memory_order_relaxed);
        known.store(true, std::memory_order_release);
    }
    return little.load(std::memory_order_relaxed);
}

VK_UINT64 VK_SwapInt64Endianness(VK_UINT64 value) {
    return __builtin_bswap64(value);
}
VK_UINT32 VK_SwapInt32Endianness(VK_UINT32 value) {
    return __builtin_bswap32(value);
}
VK_UINT16 VK_SwapInt16Endianness(VK_UINT16 value) {
    return __builtin_bswap16(value);
}

VK_UINT64 VK_ConvertInt64ToLittleEndian(VK_UINT64 value) {
    return VK_IsHostLittleEndian() ? value : VK_SwapInt64Endianness(value);
}
VK_UINT32 VK_ConvertInt32ToLittleEndian(VK_UINT32 value) {
    return VK_IsHostLittleEndian() ? value : VK_SwapInt32Endianness(value);
}
VK_UINT16 VK_ConvertInt16ToLittleEndian(VK_UINT16 value) {
    return VK_IsHostLittleEndian() ? value : VK_SwapInt16Endianness(value);
}
VK_UINT64 VK_ConvertInt64ToBigEndian(VK_UINT64 value) {
    return VK_IsHostLittleEndian() ? VK_SwapInt64Endianness(value) : value;
}
VK_UINT32 VK_ConvertInt32ToBigEndian(VK_UINT32 value) {
    return VK_IsHostLittleEndian() ? VK_SwapInt32Endianness(value) : value;
}
VK_UINT16 VK_ConvertInt16ToBigEndian(VK_UINT16 value) {
    return VK_IsHostLittleEndian() ? VK_SwapInt16Endianness(value) : value;
}

} // extern "C"

char __VK_ConvertChar(char c, VK_BOOL replace_non_alpha_num, VK_BOOL replace_non_printable,
                      char replace_char) {
    const auto uc = static_cast<unsigned char>(c);
    const bool keep = (!replace_non_alpha_num || IsAlphaNum(uc)) && (!replace_non_printable || IsPrint(uc));
    return keep ? c : replace_char;
}

char* __VK_ConvertCharBufferToString(const char* buffer_address, size_t buffer_size, char* string_address,
                                     size_t string_size, VK_BOOL trim_leading_blanks,
                                     VK_BOOL trim_trailing_blanks, VK_BOOL allow_non_alpha_num,
                                     VK_BOOL allow_non_printable, char replace_char) {
    if (string_address == nullptr) {
        return nullptr;
    }
    std::memset(string_address, 0, string_size);
    if (buffer_address == nullptr || buffer_size == 0 || string_size == 0) {
        return string_address;
    }
    const auto convert = [&](char c) {
        return __VK_ConvertChar(c, !allow_non_alpha_num, !allow_non_printable, replace_char);
    };
    const auto is_blank = [&](char c) {
        const char converted = convert(c);
        return converted == '\0' || IsSpace(static_cast<unsigned char>(converted));
    };

    size_t start = 0;
    if (trim_leading_blanks) {
        while (start < buffer_size && is_blank(buffer_address[start])) {
            if (buffer_address[start] == '\0') {
                return string_address;
            }
            ++start;
        }
    }

    size_t end = buffer_size;
    while (end > start) {
        const char c = buffer_address[end - 1];
        if (c != '\0' && !(trim_trailing_blanks && is_blank(c))) {
            break;
        }
        --end;
    }

    size_t copied = 0;
    for (size_t i = start; i < end && copied < string_size; ++i) {
        if (buffer_address[i] == '\0') {
            break;
        }
        const char converted = convert(buffer_address[i]);
        if (converted != '\0') {
            string_address[copied++] = converted;
        }
    }
    return string_address;
}

char* __VK_ConvertNumberToArrayReversedID(char* buf, VK_DWORD num) {
    if (buf == nullptr) {
        return nullptr;
    }
    VK_DWORD n = num;
    size_t i = 0;
    for (;;) {
        buf[i++] = static_cast<char>('A' + n % 26);
        if (n <= 25) {
            break;
        }
        n = n / 26 - 1;
    }
    buf[i] = '\0';
    return buf;
}

VK_WORD __VK_PopCount(VK_DWORD bit_array) {
    return static_cast<VK_WORD>(__builtin_popcount(bit_array));
}

VK_DWORD __VK_MemoryPopCount(void* buffer, size_t number_of_bytes) {
    if (buffer == nullptr) {
        return 0;
    }
    const auto* bytes = static_cast<const VK_BYTE*>(buffer);
    VK_DWORD count = 0;
    for (size_t i = 0; i < number_of_bytes; ++i) {
        count += static_cast<VK_DWORD>(__builtin_popcount(bytes[i]));
    }
    return count;
}

char* __VK_ultoa(VK_QWORD num, char* buf, VK_BYTE base) {
    // Bases past the last digit letter have no digits to write.
    if (buf == nullptr || base == 0 || base > kMaxBase) {
        return buf;
    }
    if (base == 1) {
        VK_QWORD i = 0;
        for (; i < num; ++i) {
            buf[i] = '1';
        }
        buf[i] = '\0';
        return buf;
    }
    size_t n = 0;
    do {
        buf[n++] = kDigits[num % base];
        num /= base;
    } while (num != 0);
    buf[n] = '\0';
    ReverseInPlace(buf, n);
    return buf;
}

void _VK_swap(void* x, void* y, size_t l) {
    if (x == nullptr || y == nullptr || x == y || l == 0) {
        return;
    }
    auto* a = static_cast<VK_BYTE*>(x);
    auto* b = static_cast<VK_BYTE*>(y);
    if (void* tmp = VK_malloc(l)) {
        std::memcpy(tmp, a, l);
        std::memmove(a, b, l);
        std::memcpy(b, tmp, l);
        VK_free(tmp);
        return;
    }
    // Without a temporary block the exchange still happens, byte by byte.
    for (size_t i = 0; i < l; ++i) {
        const VK_BYTE t = a[i];
        a[i] = b[i];
        b[i] = t;
    }
}

void _VK_uniq(void* array, size_t* nitems, size_t size, fnptr* cmp) {
    auto* items = static_cast<VK_BYTE*>(array);
    for (size_t i = 0; i < *nitems; ++i) {
        size_t j = i + 1;
        while (j < *nitems) {
            if (cmp(items + i * size, items + j * size) != 0) {
                ++j;
                continue;
            }
            // Bubble the duplicate past the kept items so their order stays.
            for (size_t k = j; k + 1 < *nitems; ++k) {
                _VK_swap(items + k * size, items + (k + 1) * size, size);
            }
            --*nitems;
        }
    }
}
