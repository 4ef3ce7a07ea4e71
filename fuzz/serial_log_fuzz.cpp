// The controller's serial output log through the line splitter and the event-line parser. The input
// is the log as read (not terminated; a NUL ends it early).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bmic.h"
#include "fuzz_check.h"
#include "pavl_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The event lines go to standard output; the fuzzer has no use for them.
    static FILE* const quiet = std::freopen("/dev/null", "w", stdout);
    static_cast<void>(quiet);

    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    const pavlin::ByteView log(copy.get(), size);
    QV_ParseSerialLog(log);

    // Every line the walk takes: terminated, within the line size, and made of the bytes consumed.
    size_t position = 0;
    while (log.u8(position).value_or(0) != '\0') {
        char line[MAX_LINE_SIZE + 1];
        std::memset(line, 'x', sizeof(line));
        const VK_BYTE consumed = QV_GetLine(log.from(position), line);
        FUZZ_CHECK(line[MAX_LINE_SIZE] == 'x');
        FUZZ_CHECK(consumed > 0 && consumed <= MAX_LINE_SIZE);
        FUZZ_CHECK(position + consumed <= size);
        const size_t length = std::strlen(line);
        FUZZ_CHECK(length < MAX_LINE_SIZE);
        FUZZ_CHECK(length == consumed || (length + 1 == consumed && copy[position + length] == '\n'));
        FUZZ_CHECK(std::memcmp(line, copy.get() + position, length) == 0);
        FUZZ_CHECK(std::memchr(line, '\n', length) == nullptr);
        position += consumed;
    }
    char line[MAX_LINE_SIZE];
    FUZZ_CHECK(QV_GetLine(log, nullptr) == 0);
    FUZZ_CHECK(QV_GetLine(reinterpret_cast<const char*>(copy.get()), size, line) == QV_GetLine(log, line));
    return 0;
}
