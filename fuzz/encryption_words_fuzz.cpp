// The encryption and managed-SED buffers through their words: key-cache attributes, password
// statuses, role attributes, the adapter password status, and the managed-SED word from the first
// two dwords of the input.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_encryption.h"
#include "telm_encryption_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView input(data, size);
    const VK_DWORD encryption_status = input.le32(0).value_or(0);
    const VK_QWORD key_cache = telmar::DecodeKeyCacheStatus(input, encryption_status);
    if (!(input.le32(0).value_or(0) & 0x1)) {
        FUZZ_CHECK(key_cache == 0);
    }
    FUZZ_CHECK((key_cache & 0x3FFFFFFF00000000ULL) == 0);

    for (VK_BYTE user = 0; user < 3; ++user) {
        const VK_QWORD password = telmar::DecodePasswordStatus(input, user);
        if (user > 1 || size < 4 + 8 * (user + 1u)) {
            FUZZ_CHECK(password == 0);
        }
    }
    for (VK_BYTE user = 0; user < 12; ++user) {
        (void)telmar::DecodeUserCapabilities(input, user);
    }
    const VK_QWORD adapter = telmar::DecodeAdapterPasswordStatus(input);
    FUZZ_CHECK((adapter >> 40) == 0);

    std::optional<VK_DWORD> sed_status;
    if (const auto d = input.le32(4)) {
        sed_status = *d;
    }
    const VK_QWORD sed = telmar::DecodeSEDEncryptionStatus(encryption_status, sed_status);
    FUZZ_CHECK((sed >> 37) == 0);
    FUZZ_CHECK(CTRL_SED_ENCRYPTION_MODE(sed) <= kControllerSEDEncryptionModeRemote);
    return 0;
}
