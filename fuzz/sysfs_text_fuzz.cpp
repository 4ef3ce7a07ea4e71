// The sysfs text decoders: the input is the text read from a class, unique_id, size, type or
// proc_name file, or an entry's name. Each decoder gets the whole input and must stay inside it.
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "pavl_hostfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so a read past the end is caught.
    auto* copy = new uint8_t[size == 0 ? 1 : size];
    if (size != 0) {
        std::memcpy(copy, data, size);
    }
    const pavlin::ByteView text(copy, size);

    char pci_class[8] = "000000";
    if (pavlin::DecodePCIClass(text, pci_class, sizeof(pci_class))) {
        const size_t n = std::strlen(pci_class);
        FUZZ_CHECK(n >= 1 && n <= 6 && size >= n + 2);
    } else {
        FUZZ_CHECK(std::strcmp(pci_class, "000000") == 0);
    }

    unsigned long host = 0;
    if (pavlin::DecodeHostNumber(text, &host)) {
        FUZZ_CHECK(host <= 2147483647UL && size > 4 && std::memcmp(copy, "host", 4) == 0);
    }

    char unique_id[34];
    const bool has_id = pavlin::DecodeUniqueID(text, unique_id, sizeof(unique_id));
    const size_t id_length = std::strlen(unique_id);
    FUZZ_CHECK(has_id ? unique_id[0] == 'S' && id_length >= 2 && id_length <= 33 : id_length == 0);

    char token[92];
    if (pavlin::DecodeSysfsToken(text, token, sizeof(token))) {
        FUZZ_CHECK(std::strlen(token) <= size);
    } else {
        FUZZ_CHECK(token[0] == '\0');
    }
    unsigned long long number = 0;
    (void)pavlin::DecodeSysfsNumber(text, &number);
    (void)pavlin::TextStartsWith(text, "12");

    // A link target against the controller directory made of its own first half, and against a
    // fixed one.
    const bool below = pavlin::TargetLiesBelow(text, text.first(size / 2));
    FUZZ_CHECK(!below || size / 2 < size);
    (void)pavlin::TargetLiesBelow(text, pavlin::ByteView("/sys/devices/pci0000:3a/0000:3b:00.0", 36));

    delete[] copy;
    return 0;
}
