// The result record of a diagnostic "getteststatus" reply. The input is the reply.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "bmic.h"
#include "fuzz_check.h"
#include "pavl_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    BMIC_TEST_RESULT result;
    std::memset(&result, 0xA5, sizeof(result));
    const bool decoded = QV_DecodeTestResult(pavlin::ByteView(copy.get(), size), &result);
    FUZZ_CHECK(decoded == (size >= sizeof(BMIC_TEST_RESULT)));
    if (decoded) {
        // The record is little-endian and packed, as on this host.
        FUZZ_CHECK(std::memcmp(&result, copy.get(), sizeof(result)) == 0);
    } else {
        for (size_t i = 0; i < sizeof(result); ++i) {
            FUZZ_CHECK(reinterpret_cast<const VK_BYTE*>(&result)[i] == 0xA5);
        }
    }
    FUZZ_CHECK(!QV_DecodeTestResult(pavlin::ByteView(copy.get(), size), nullptr));
    return 0;
}
