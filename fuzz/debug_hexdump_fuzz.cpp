// The debug log's hex dump: the input is the buffer dumped. The text must give back every byte.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "pavl_platform_private.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

namespace {

std::string g_text;
int g_calls = 0;

void Sink(VK_BYTE, VK_UINT32, const char* text) {
    g_text = text;
    ++g_calls;
}

void Setup() {
    static const bool done = [] {
        InitializePavlin(nullptr);
        PN_SetDebugLogLevel(2);
        PN_SetDebugLogMask(0xFFFFFFFF);
        PN_SetDebugCallback(Sink);
        return true;
    }();
    (void)done;
}

int Hex(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup();
    g_calls = 0;
    const VK_UINT64 held = _VK_curr_alloc;
    PN_LogDataBuffer(1, 0, data, size);
    FUZZ_CHECK(g_calls == 1);
    FUZZ_CHECK(_VK_curr_alloc == held);

    const std::string preamble = "\n"
                                 "0F 0E 0D 0C 0B 0A 09 08 07 06 05 04 03 02 01 00 |      | 0123456789ABCDEF\n"
                                 "----------------------------------------------- + ---- + ----------------\n";
    FUZZ_CHECK(g_text.compare(0, preamble.size(), preamble) == 0);
    size_t pos = preamble.size();
    // One row per 16 bytes: the bytes in hex from the right, "| offset | ", then the printable ones.
    for (size_t first = 0; first < size; first += 16) {
        const size_t count = size - first < 16 ? size - first : 16;
        const size_t line_end = g_text.find('\n', pos);
        FUZZ_CHECK(line_end != std::string::npos);
        const std::string_view line = std::string_view(g_text).substr(pos, line_end - pos);
        pos = line_end + 1;
        FUZZ_CHECK(line.size() > 50 && line.compare(48, 2, "| ") == 0);
        for (size_t i = 0; i < 16; ++i) {
            const size_t at = 3 * (15 - i);
            FUZZ_CHECK(line[at + 2] == ' ');
            if (i < count) {
                FUZZ_CHECK(Hex(line[at]) >= 0 && Hex(line[at + 1]) >= 0);
                FUZZ_CHECK(Hex(line[at]) * 16 + Hex(line[at + 1]) == data[first + i]);
            } else {
                FUZZ_CHECK(line[at] == ' ' && line[at + 1] == ' ');
            }
        }
        const size_t bar = line.find(" | ", 50);
        FUZZ_CHECK(bar != std::string::npos && bar - 50 >= 4);
        size_t offset = 0;
        for (const char c : line.substr(50, bar - 50)) {
            FUZZ_CHECK(Hex(c) >= 0);
            offset = offset * 16 + static_cast<size_t>(Hex(c));
        }
        FUZZ_CHECK(offset == first);
        const std::string_view chars = line.substr(bar + 3);
        FUZZ_CHECK(chars.size() == count);
        for (size_t i = 0; i < count; ++i) {
            const unsigned char c = data[first + i];
            FUZZ_CHECK(chars[i] == (std::isprint(c) ? static_cast<char>(c) : '.'));
        }
    }
    FUZZ_CHECK(pos == g_text.size());
    return 0;
}
