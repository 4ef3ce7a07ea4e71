// Decoders behind the encryption and managed-SED words. They read the controller's buffers only
// through the byte view, so a short or hostile reply can never make them read outside its bytes; the
// getters pass their cached copies or the replies they just read, tests and fuzz targets anything.
#ifndef TELM_ENCRYPTION_WORDS_H
#define TELM_ENCRYPTION_WORDS_H

#include <optional>

#include "pavl_bytes.h"
#include "ppavl_types.h"
#include "ptelm_encryption.h"

namespace telmar {

// A drive word with the SED bit, the foreign bit and the owned security-status bit.
inline constexpr VK_QWORD kOwnedForeignSEDBits =
    kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsForeign |
    (static_cast<VK_QWORD>(kPhysicalDriveEncryptionSEDSecurityStatusOwned) << kPhysicalDriveEncryptionSEDSecurityStatusShift);
inline bool IsOwnedForeignSED(VK_UINT64 drive_word) {
    return (drive_word & kOwnedForeignSEDBits) == kOwnedForeignSEDBits;
}

// Key-cache word from ENCRYPTION_LOCAL_KEK_CACHE_ATTRIBUTES and IDENTIFY's dwEncryptionStatus.
VK_QWORD DecodeKeyCacheStatus(pavlin::ByteView attributes, VK_DWORD encryption_status);
// Entry `user` (0 or 1) of ENCRYPTION_PASSWORD_STATUSES; 0 when the reply does not hold it.
VK_QWORD DecodePasswordStatus(pavlin::ByteView statuses, VK_BYTE user);
// dwSupportedDetailField of role entry `user` of ENCRYPTION_ROLE_ATTRIBUTES; 0 when not held.
VK_DWORD DecodeUserCapabilities(pavlin::ByteView role_attributes, VK_BYTE user);
// Managed-SED word from IDENTIFY's dwManagedSEDModeStatus and, when it was read, the status dword.
VK_QWORD DecodeSEDEncryptionStatus(VK_DWORD mode_status, std::optional<VK_DWORD> sed_status);
// MANAGED_SED_ADAPTER_PASSWORD_STATUS into the adapter password word; 0 when the reply is short.
VK_QWORD DecodeAdapterPasswordStatus(pavlin::ByteView reply);

// One poll of ENCRYPTION_IKEK_STATUS after a remote key name was sent: the key obtained, not found
// (the poll stops), or not decided yet. A byte the reply does not hold reads as 0; `ikek` and
// `ikek_reset` receive what was read, for the failure line.
enum class IkekPoll { Undecided, Obtained, NotFound };
IkekPoll JudgeIkekStatus(pavlin::ByteView reply, bool remote_key_set, VK_BYTE& ikek, VK_BYTE& ikek_reset);

} // namespace telmar

#endif
