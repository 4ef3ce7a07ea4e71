// The credential rules and the request building over arbitrary bytes and sizes. Input: byte 0 the
// mode handed to the key rules, byte 1 and 2 a size (little-endian) that may claim more or fewer
// bytes than follow, then the credential. Every rule sees a heap copy of exactly the bytes that
// follow, with the claimed size bounded by them, so a read past the size is a sanitizer report.
// Each rule must answer 0 exactly when the length is within its bounds and every character is one
// it allows; copies never reach past their field and leave the rest of it zero.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string.h>

#include "fuzz_check.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "telm_encryption_requests.h"

namespace {

struct Classes {
    bool lower = false, upper = false, digit = false, special = false, invalid = false;
    bool all() const { return lower && upper && digit && special && !invalid; }
};

Classes Scan(const unsigned char* p, size_t n, unsigned lowest) {
    Classes c;
    for (size_t i = 0; i < n; ++i) {
        const unsigned v = p[i];
        if (v < lowest || v > 126) {
            c.invalid = true;
        } else if (v >= 'a' && v <= 'z') {
            c.lower = true;
        } else if (v >= 'A' && v <= 'Z') {
            c.upper = true;
        } else if (v >= '0' && v <= '9') {
            c.digit = true;
        } else {
            c.special = true;
        }
    }
    return c;
}

bool Within(size_t n, size_t lowest, size_t highest) {
    return n >= lowest && n <= highest;
}

// The field must hold the first `n` characters and zeros after them, and the guard stays zero.
template <size_t N> void CheckField(const char (&field)[N], const unsigned char* text, size_t n) {
    FUZZ_CHECK(n <= N);
    FUZZ_CHECK(std::memcmp(field, text, n) == 0);
    for (size_t i = n; i < N; ++i) {
        FUZZ_CHECK(field[i] == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const VK_BYTE mode = data[0];
    const size_t claimed = data[1] | (data[2] << 8);
    const size_t available = size - 3;
    // Exactly the bytes that follow, on the heap, so that any read past them is caught.
    std::unique_ptr<unsigned char[]> copy(new unsigned char[available ? available : 1]);
    std::memcpy(copy.get(), data + 3, available);
    const unsigned char* text = copy.get();
    const char* chars = reinterpret_cast<const char*>(text);
    const size_t bound = std::min(claimed, available);
    const VK_WORD word_bound = static_cast<VK_WORD>(bound);
    // Length of the rules that stop at a NUL.
    const size_t length = strnlen(chars, bound);

    const Classes password = Scan(text, length, 33);
    const Classes printable = Scan(text, length, 32);

    FUZZ_CHECK((VK_CheckEncryptionPassword(nullptr, chars, word_bound) == 0) ==
               (Within(length, 8, 16) && password.all()));
    const VK_BYTE key = VK_CheckEncryptionMasterKey(nullptr, mode, chars, word_bound);
    if (mode == 1 || mode == 2) {
        FUZZ_CHECK((key == 0) == (Within(length, 10, 32) && !printable.invalid));
    } else if (mode == 3) {
        FUZZ_CHECK((key == 0) == (Within(length, 1, 63) && !printable.invalid));
    } else {
        FUZZ_CHECK(key == kCheckEncryptionMasterKeyInvalidEncryptionConfig);
    }
    FUZZ_CHECK((VK_CheckEncryptionRecoveryQuestion(nullptr, chars, word_bound) == 0) ==
               (Within(length, 16, 256) && !printable.invalid));
    FUZZ_CHECK((VK_CheckEncryptionRecoveryAnswer(nullptr, chars, word_bound) == 0) ==
               (Within(length, 16, 64) && !printable.invalid));
    // The boot password and the PSID count every byte of the size, a NUL included.
    FUZZ_CHECK((VK_CheckEncryptionBootPassword(nullptr, chars, word_bound) == 0) ==
               (Within(bound, 8, 32) && !Scan(text, bound, 32).invalid));
    bool alphanumeric = true;
    for (size_t i = 0; i < bound; ++i) {
        const unsigned char c = text[i];
        alphanumeric = alphanumeric && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
    }
    FUZZ_CHECK((VK_CheckSEDEncryptionPhysicalDrivePSID(chars, bound) == 0) == (Within(bound, 8, 32) && alphanumeric));
    FUZZ_CHECK((VK_CheckSEDEncryptionMasterKey(nullptr, mode, chars, bound) == 0) ==
               (mode == kControllerSEDEncryptionModeLocal && Within(length, 8, 32) && password.all()));
    FUZZ_CHECK((VK_CheckSEDEncryptionMasterKeyIdentifier(nullptr, mode, chars, bound) == 0) ==
               (mode == kControllerSEDEncryptionModeLocal && Within(length, 1, 32) && !printable.invalid));
    FUZZ_CHECK((VK_CheckSEDEncryptionAdapterPassword(nullptr, chars, bound) == 0) ==
               (Within(length, 8, 32) && password.all()));

    // The credential copies of the requests.
    struct {
        ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT request;
        char guard[16];
    } import = {};
    telmar::FillImportRequest(import.request, mode, chars, bound, chars, bound);
    CheckField(import.request.bPassword, text, std::min<size_t>(length, 16));
    CheckField(import.request.bKeyName, text, std::min<size_t>(length, 32));
    FUZZ_CHECK(import.request.dwRole == (mode == 1 ? 1u : 0u));
    for (char g : import.guard) {
        FUZZ_CHECK(g == 0);
    }

    // The unlock request takes the size as it is claimed, up to its field.
    struct {
        ENCRYPTION_UNLOCK_VOLUMES request;
        char guard[16];
    } unlock = {};
    std::unique_ptr<unsigned char[]> claimed_copy(new unsigned char[claimed ? claimed : 1]);
    for (size_t i = 0; i < claimed; ++i) {
        claimed_copy[i] = available ? text[i % available] : 0;
    }
    const bool filled =
        telmar::FillUnlockRequest(unlock.request, reinterpret_cast<const char*>(claimed_copy.get()), claimed);
    FUZZ_CHECK(filled == (claimed <= sizeof(unlock.request.bBootPassword)));
    FUZZ_CHECK(unlock.request.bCount == (filled ? 1 : 0));
    const size_t copied = filled ? claimed : 0;
    FUZZ_CHECK(std::memcmp(unlock.request.bBootPassword, claimed_copy.get(), copied) == 0);
    for (size_t i = copied; i < sizeof(unlock.request.bBootPassword); ++i) {
        FUZZ_CHECK(unlock.request.bBootPassword[i] == 0);
    }
    for (char g : unlock.guard) {
        FUZZ_CHECK(g == 0);
    }
    return 0;
}
