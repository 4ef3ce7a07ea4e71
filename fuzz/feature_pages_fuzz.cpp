// The feature pages reply (BMIC 0x61, all pages) through the page walk. The input is the reply, read
// once at its own length and once in the fixed-size buffer the product reads it into.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "telm_private.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so a read past the reply is caught even where the input has spare room.
    const std::unique_ptr<VK_BYTE[]> reply(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(reply.get(), data, size);
    }
    const auto pages = std::make_unique<SENSE_FEATURE_PAGES>();
    _VK_ParseFeaturePages(reply.get(), static_cast<VK_DWORD>(size), pages.get());
    // A reply without the 4-byte header carries no page.
    if (size < sizeof(SENSE_FEATURE_STARTING_HEADER)) {
        static const SENSE_FEATURE_PAGES kZero{};
        FUZZ_CHECK(std::memcmp(pages.get(), &kZero, sizeof(kZero)) == 0);
    }

    const auto fixed = std::make_unique<SENSE_FEATURE>();
    std::memcpy(fixed.get(), data, size < sizeof(SENSE_FEATURE) ? size : sizeof(SENSE_FEATURE));
    _VK_ParseFeaturePages(reinterpret_cast<const VK_BYTE*>(fixed.get()), sizeof(SENSE_FEATURE), pages.get());
    _VK_ParseFeaturePages(reply.get(), static_cast<VK_DWORD>(size), nullptr);
    return 0;
}
