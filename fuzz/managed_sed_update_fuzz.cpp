// Sequences of the managed-SED update record's Can/Do pairs and its apply, from the input, over a
// data area whose IDENTIFY CONTROLLER, managed-SED status and master key identifier (32 bytes, not
// terminated when full) come from the input. Credentials are handed over in buffers of exactly the
// size the caller states, NUL or not. The data area has no controller behind it, so an apply that
// gets as far as a request fails; it never succeeds, never answers outside its codes, and every
// text the record keeps stays terminated inside its field.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

// A caller's credential: NULL, or a heap buffer of exactly the stated size (0 to 40 bytes).
struct Text {
    std::unique_ptr<char[]> buffer;
    size_t size = 0;
    const char* get() const { return buffer.get(); }
};

Text TakeText(FuzzInput& in) {
    const VK_BYTE shape = in.Byte();
    Text t;
    t.size = shape % 41;
    if (shape & 0x80) {
        return t; // NULL, with or without a size
    }
    t.buffer = std::make_unique<char[]>(t.size == 0 ? 1 : t.size);
    in.Fill(t.buffer.get(), t.size);
    return t;
}

bool Terminated(const char (&field)[telmar::kSEDTextBytes]) {
    return std::memchr(field, 0, sizeof(field)) != nullptr;
}

void CheckRecord(const SED_ENCRYPTION_UPDATE_INFO& r) {
    FUZZ_CHECK(Terminated(r.new_master_key));
    FUZZ_CHECK(Terminated(r.new_adapter_password));
    FUZZ_CHECK(Terminated(r.current_sed_config.master_key_identifier));
    FUZZ_CHECK(Terminated(r.pending_sed_config.master_key_identifier));
    FUZZ_CHECK((r.flags & ~0x1Fu) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    FillManagedSEDController(c, in, kCDAValidManagedSEDMasterKeyIdentifier);
    in.Fill(&c->managed_sed_master_key_id_buffer, sizeof(c->managed_sed_master_key_id_buffer));

    void* handle = nullptr;
    if (VK_GetControllerSEDEncryptionInfoForUpdate(cda, &handle) !=
        kGetControllerSEDEncryptionInfoForUpdateSuccess) {
        FUZZ_CHECK(handle == nullptr);
        return 0;
    }
    auto* record = static_cast<SED_ENCRYPTION_UPDATE_INFO*>(handle);
    CheckRecord(*record);
    for (int step = 0; step < 24 && !in.Done(); ++step) {
        const VK_BYTE op = in.Byte();
        switch (op % 6) {
            case 0: {
                const VK_BYTE mode = in.Byte() % 5;
                const bool allowed = VK_CanChangeControllerSEDEncryptionMode(record, mode) == 0;
                const VK_BYTE done = VK_DoChangeControllerSEDEncryptionMode(record, mode);
                FUZZ_CHECK(done == (allowed ? kDoChangeControllerSEDEncryptionModeSuccess
                                            : kDoChangeControllerSEDEncryptionModeFailure));
                break;
            }
            case 1: {
                const Text key = TakeText(in);
                const bool allowed =
                    VK_CanChangeControllerSEDEncryptionMasterKey(record, key.get(), key.size) == 0;
                const VK_BYTE done = VK_DoChangeControllerSEDEncryptionMasterKey(record, key.get(), key.size);
                FUZZ_CHECK(!allowed || key.get() == nullptr || key.size == 0 ||
                           done == kDoChangeControllerSEDEncryptionMasterKeySuccess);
                break;
            }
            case 2: {
                const Text id = TakeText(in);
                const bool allowed =
                    VK_CanChangeControllerSEDEncryptionMasterKeyIdentifier(record, id.get(), id.size) == 0;
                const VK_BYTE done =
                    VK_DoChangeControllerSEDEncryptionMasterKeyIdentifier(record, id.get(), id.size);
                FUZZ_CHECK(allowed == (done == kDoChangeControllerSEDEncryptionMasterKeyIdentifierSuccess));
                break;
            }
            case 3: {
                const Text password = TakeText(in);
                const bool allowed = VK_CanChangeControllerSEDEncryptionAdapterPassword(
                                         record, password.get(), password.size) == 0;
                const VK_BYTE done =
                    VK_DoChangeControllerSEDEncryptionAdapterPassword(record, password.get(), password.size);
                FUZZ_CHECK(allowed == (done == kDoChangeSEDEncryptionAdapterPasswordSuccess));
                break;
            }
            case 4: {
                const VK_BYTE state = in.Byte() % 3;
                const bool allowed =
                    VK_CanChangeControllerSEDEncryptionAdapterPasswordState(record, state) == 0;
                const VK_BYTE done = VK_DoChangeControllerSEDEncryptionAdapterPasswordState(record, state);
                FUZZ_CHECK(allowed == (done == kDoChangeSEDEncryptionAdapterPasswordStateSuccess));
                break;
            }
            default: {
                const Text existing = TakeText(in);
                const VK_DWORD staged = record->flags;
                const VK_BYTE applied =
                    VK_UpdateControllerSEDEncryptionInfo(record, existing.get(), existing.size);
                FUZZ_CHECK(applied >= kUpdateControllerSEDEncryptionInfoNoChanges &&
                           applied <= kUpdateControllerSEDEncryptionAdapterPasswordStateEnabledPasswordEmpty);
                FUZZ_CHECK((applied == kUpdateControllerSEDEncryptionInfoNoChanges) ==
                           ((staged & 0x1F) == 0));
                break;
            }
        }
        CheckRecord(*record);
    }
    VK_DestroyControllerSEDEncryptionInfoForUpdate(record);
    return 0;
}
