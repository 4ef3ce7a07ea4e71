// One poll of the IKEK status reply (BMIC 0x1E read function 7) after a remote key name was sent.
// Input: byte 0 bit 0 whether a key name was set before, then the reply, of any length. The reply is
// a heap copy of exactly those bytes (a vector), so a read past it is a sanitizer report. The poll reports the
// key obtained only when the bytes say so, reads a byte the reply does not hold as 0, and stops
// only on "not found".
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_encryption.h"
#include "telm_bmic.h"
#include "telm_encryption_words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool remote_key_set = (data[0] & 0x1) != 0;
    const size_t length = size - 1;
    const std::vector<uint8_t> reply(data + 1, data + size);
    auto at = [&](size_t offset) -> VK_BYTE { return offset < length ? reply[offset] : 0; };
    const VK_BYTE ikek_byte = at(offsetof(ENCRYPTION_IKEK_STATUS, bIkek));
    const VK_BYTE reset_byte = at(offsetof(ENCRYPTION_IKEK_STATUS, bIkekReset));
    const VK_BYTE key_byte = at(offsetof(ENCRYPTION_IKEK_STATUS, bControllerKey));

    VK_BYTE ikek = 0xAA, ikek_reset = 0xAA;
    const telmar::IkekPoll poll =
        telmar::JudgeIkekStatus(pavlin::ByteView(reply.data(), length), remote_key_set, ikek, ikek_reset);
    FUZZ_CHECK(ikek == ikek_byte && ikek_reset == reset_byte);

    constexpr VK_BYTE kObtained = kControllerEncryptionIKEKStatusObtained;
    constexpr VK_BYTE kNotFound = kControllerEncryptionIKEKStatusNotFound;
    const bool obtained =
        remote_key_set
            ? (reset_byte == kObtained ||
               (reset_byte == kControllerEncryptionIKEKStatusNotApplicable && ikek_byte == kObtained))
            : (key_byte == kObtained && ikek_byte == kObtained);
    const bool not_found = !obtained && (remote_key_set ? reset_byte == kNotFound : ikek_byte == kNotFound);
    FUZZ_CHECK((poll == telmar::IkekPoll::Obtained) == obtained);
    FUZZ_CHECK((poll == telmar::IkekPoll::NotFound) == not_found);
    // A reply too short to hold the key byte never reports the key obtained.
    if (length <= offsetof(ENCRYPTION_IKEK_STATUS, bIkek)) {
        FUZZ_CHECK(poll != telmar::IkekPoll::Obtained);
    }
    return 0;
}
