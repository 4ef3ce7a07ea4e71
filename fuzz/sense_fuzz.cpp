// Sense data, fixed, descriptor and ATA: the format, the key fields, the descriptor walk, the ATA
// return registers and error check, and Telmar's BMIC sense decoder. The input is the sense buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_extern.h"
#include "pavl_sense.h"
#include "ppavl_commands.h"
#include "telm_private.h"

namespace {

// A found descriptor lies inside the sense, inside the length byte 7 announces, and is of the type.
void CheckDescriptor(pavlin::ByteView sense, const std::optional<pavlin::ByteView>& d, uint8_t type) {
    if (!d) {
        return;
    }
    FUZZ_CHECK(d->size() >= pavlin::kSenseDescriptorHeaderSize);
    FUZZ_CHECK(d->data() >= sense.data() + pavlin::kSenseDescriptorsOffset);
    const size_t end = static_cast<size_t>(d->data() - sense.data()) + d->size();
    FUZZ_CHECK(end <= sense.size());
    FUZZ_CHECK(end <= pavlin::kSenseDescriptorsOffset + *sense.u8(pavlin::kSenseAdditionalLengthOffset));
    FUZZ_CHECK(*d->u8(0) == type);
    FUZZ_CHECK(d->size() == pavlin::kSenseDescriptorHeaderSize + *d->u8(1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<VK_BYTE[]> copy(new VK_BYTE[size == 0 ? 1 : size]);
    if (size != 0) {
        std::memcpy(copy.get(), data, size);
    }
    const pavlin::ByteView sense(copy.get(), size);

    const auto exact = pavlin::SenseFormatOf(sense, pavlin::SenseCodeRule::kExact);
    const auto masked = pavlin::SenseFormatOf(sense, pavlin::SenseCodeRule::kMaskValid);
    FUZZ_CHECK((exact == pavlin::SenseFormat::kNone) == (size == 0));
    FUZZ_CHECK(exact == pavlin::SenseFormat::kOther || exact == masked);
    if (const auto key = pavlin::DecodeSenseKey(sense)) {
        FUZZ_CHECK(key->key <= 0x0F);
        FUZZ_CHECK(masked == pavlin::SenseFormat::kFixed || masked == pavlin::SenseFormat::kDescriptor);
    }
    for (uint8_t type : {uint8_t{0x00}, uint8_t{0x01}, uint8_t{0x02}, pavlin::kSenseDescriptorATAReturn, uint8_t{0x0A},
                         uint8_t{0x80}, uint8_t{0xFF}, size > 8 ? copy[8] : uint8_t{0}}) {
        CheckDescriptor(sense, pavlin::FindSenseDescriptor(sense, type), type);
    }
    const auto ata = pavlin::FindATAReturnDescriptor(sense);
    CheckDescriptor(sense, ata, pavlin::kSenseDescriptorATAReturn);
    if (ata) {
        FUZZ_CHECK(ata->size() == pavlin::kSenseATAReturnSize);
        FUZZ_CHECK(exact == pavlin::SenseFormat::kDescriptor);
    }

    ATARequest request{};
    __DecodeATAReturnRegisters(&request, sense);
    FUZZ_CHECK(request.ReturnRegisters.sense_format == (size != 0 ? copy[0] : 0));
    const bool no_error = __ATASenseReportsNoError(sense);
    FUZZ_CHECK((CheckATAPassthroughSenseData(copy.get(), static_cast<VK_DWORD>(size)) == kTrue) == no_error);
    if (no_error && exact == pavlin::SenseFormat::kDescriptor) {
        FUZZ_CHECK(ata.has_value());
    }

    BMICRequest bmic{};
    bmic.sense_data = copy.get();
    bmic.sense_data_size = static_cast<VK_UINT32>(size);
    bmic.scsi_status = 2;
    bmic.command_status = 1;
    ScsiCommandSenseData decoded;
    std::memset(&decoded, 0xEE, sizeof(decoded));
    __VK_DecodeBMICSenseData(&bmic, &decoded);
    FUZZ_CHECK(decoded.scsi_status == 2 && decoded.command_status == 1);
    FUZZ_CHECK(decoded.sense_key <= 0x0F);
    if (size <= 13) {
        FUZZ_CHECK(decoded.sense_key == 0 && decoded.asc == 0 && decoded.ascq == 0);
    }
    return 0;
}
