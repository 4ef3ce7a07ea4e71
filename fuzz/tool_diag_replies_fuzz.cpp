// The replies of the tool's own diagnostic reads: the PCIe capability registers ("readPCIeValues")
// and the host manufacturing record ("readI2CHostMFG"), decoded from a reply of any length.
#include <cstddef>
#include <cstdint>

#include "decode.h"
#include "fuzz_check.h"
#include "pavl_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView reply(data, size);

    PCIeLinkInfo info{0xAA, 0xAA, 0xAA};
    const bool decoded = QV_DecodePCIeLinkInfo(reply, &info);
    // LinkStatus ends at byte 20; a shorter reply leaves the record as it was.
    FUZZ_CHECK(decoded == (size >= 20));
    if (decoded) {
        FUZZ_CHECK(info.CurrentLinkSpeed <= PCIe_LINK_RATE_16_0_GTPS || info.CurrentLinkSpeed == PCIe_LINK_RATE_UNKNOWN);
        FUZZ_CHECK(info.NegotiatedLinkWidth <= 63);
        FUZZ_CHECK((info.LinkErrors & 0x0F) == 0);
        FUZZ_CHECK(info.NegotiatedLinkWidth == ((data[18] | (data[19] << 8)) >> 4 & 0x3F));
        FUZZ_CHECK(info.LinkErrors == (data[10] & 0xF0));
    } else {
        FUZZ_CHECK(info.CurrentLinkSpeed == 0xAA && info.NegotiatedLinkWidth == 0xAA && info.LinkErrors == 0xAA);
    }
    FUZZ_CHECK(!QV_DecodePCIeLinkInfo(reply, nullptr));

    const bool signed_record = QV_HostMfgSignatureValid(reply);
    FUZZ_CHECK(signed_record == (size >= 2 && data[0] == 'Z' && data[1] == 'Q'));
    return 0;
}
