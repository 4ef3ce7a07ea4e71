// The write requests of BMIC 0x1E (controller-based encryption) and the builders that send them.
// Every request is little-endian and packed; credential fields are fixed width, NUL padded and not
// terminated when full. A request that holds a credential is wiped once it has been sent.
#ifndef TELM_ENCRYPTION_REQUESTS_H
#define TELM_ENCRYPTION_REQUESTS_H

#include <cstddef>
#include <string.h>

#include "ppavl_types.h"

typedef void* PCDA;

// Write function numbers (CDB byte 5).
inline constexpr VK_DWORD kEncryptionFunctionSetIkek = 10;
inline constexpr VK_DWORD kEncryptionFunctionSetPassword = 12;
inline constexpr VK_DWORD kEncryptionFunctionSetMode = 13;
inline constexpr VK_DWORD kEncryptionFunctionSetKeyCache = 14;
inline constexpr VK_DWORD kEncryptionFunctionRekey = 16;
inline constexpr VK_DWORD kEncryptionFunctionLockFirmware = 17;
inline constexpr VK_DWORD kEncryptionFunctionReturnToFactory = 18;
inline constexpr VK_DWORD kEncryptionFunctionSetLocalKek = 19;
inline constexpr VK_DWORD kEncryptionFunctionVerifyPassword = 20;
inline constexpr VK_DWORD kEncryptionFunctionSetRecoveryParams = 21;
inline constexpr VK_DWORD kEncryptionFunctionCheckRecoveryParams = 22;
inline constexpr VK_DWORD kEncryptionFunctionImportForeignKey = 23;
inline constexpr VK_DWORD kEncryptionFunctionRescanKeys = 24;
inline constexpr VK_DWORD kEncryptionFunctionSetBootPassword = 25;
inline constexpr VK_DWORD kEncryptionFunctionUnlockVolumes = 26;
inline constexpr VK_DWORD kEncryptionFunctionRemoveBootPassword = 27;
inline constexpr VK_DWORD kEncryptionFunctionSuspendBootPassword = 28;
inline constexpr VK_DWORD kEncryptionFunctionResumeBootPassword = 29;
inline constexpr VK_DWORD kEncryptionFunctionDriveFeatures = 34;
// Reads the builders make fresh.
inline constexpr VK_DWORD kEncryptionFunctionKeyCacheAttributes = 1;
inline constexpr VK_DWORD kEncryptionFunctionIkekStatus = 7;

// Widths of the credential fields.
inline constexpr size_t kEncryptionPasswordFieldSize = 16;
inline constexpr size_t kEncryptionLocalKeyFieldSize = 32;
inline constexpr size_t kEncryptionKeyNameFieldSize = 64;
inline constexpr size_t kEncryptionQuestionFieldSize = 256;
inline constexpr size_t kEncryptionAnswerFieldSize = 64;
inline constexpr size_t kEncryptionBootPasswordFieldSize = 128;
inline constexpr size_t kEncryptionUnlockFieldSize = 3968;

// Rekey key types (dwKeyType of function 16).
inline constexpr VK_DWORD kEncryptionRekeyController = 1;
inline constexpr VK_DWORD kEncryptionRekeyPreserveData = 2;
inline constexpr VK_DWORD kEncryptionRekeyEncode = 4;
inline constexpr VK_DWORD kEncryptionRekeyToEncrypted = 8;
inline constexpr VK_DWORD kEncryptionRekeyToPlaintext = 16;

// Drive features of function 34 and their options.
inline constexpr VK_WORD kEncryptionDriveFeatureVolatileKey = 0;
inline constexpr VK_WORD kEncryptionDriveFeatureVolatileKeyBackup = 1;
inline constexpr VK_WORD kEncryptionVolatileKeyDisable = 0;
inline constexpr VK_WORD kEncryptionVolatileKeyEnable = 1;
inline constexpr VK_WORD kEncryptionVolatileKeyBackupEnable = 0;
inline constexpr VK_WORD kEncryptionVolatileKeyBackupRestore = 1;
inline constexpr VK_WORD kEncryptionVolatileKeyBackupDisable = 2;
inline constexpr VK_WORD kEncryptionVolatileKeySetAndBackup = 3;

// Key-cache control bits (dwControl of function 14).
inline constexpr VK_DWORD kEncryptionKeyCacheOn = 0x1;
inline constexpr VK_DWORD kEncryptionKeyCachePersistent = 0x2;

// IKEK confirmation: polls of function 7, 250 ms apart (120 seconds at most).
inline constexpr unsigned kEncryptionIkekPolls = 480;
inline constexpr VK_DWORD kEncryptionIkekPollMilliseconds = 250;

#pragma pack(push, 1)

struct ENCRYPTION_IKEK { // function 10
    char bPassword[16];
    VK_DWORD dwRole;
    char bIKEK[64];
};

struct ENCRYPTION_PASSWORD { // function 12
    VK_DWORD dwMyRole;
    char bMyPassword[16];
    VK_DWORD dwRoleToChange;
    char bNewPassword[16];
};

struct ENCRYPTION_SET_MODE { // function 13
    char bPassword[16];
    VK_DWORD dwRole;
    VK_DWORD dwAction;
};

struct ENCRYPTION_LOCAL_KEK_CACHE { // function 14
    char bPassword[16];
    VK_DWORD dwRole;
    VK_DWORD dwControl;
    VK_WORD wRetryAttempts;
    VK_WORD wRetryInterval;
};

struct ENCRYPTION_REKEY { // function 16
    char bPassword[16];
    VK_DWORD dwRole;
    VK_DWORD dwKeyType;
    VK_DWORD dwIndex;
    VK_DWORD dwDriveType;
};

struct ENCRYPTION_LOCK_FIRMWARE { // function 17
    char bPassword[16];
    VK_DWORD dwRole;
    VK_DWORD dwAction;
};

struct ENCRYPTION_RETURN_TO_FACTORY { // function 18
    VK_DWORD dwAction;
    char bKEK[64];
    char bPassword[16];
    VK_DWORD dwRole;
};

struct ENCRYPTION_LOCAL_KEK { // function 19
    char bPassword[16];
    VK_DWORD dwRole;
    char bLocalKEK[32];
};

struct ENCRYPTION_VERIFY_PASSWORD { // function 20
    char bPassword[16];
    VK_DWORD dwRole;
};

struct ENCRYPTION_PASSWORD_RECOVERY_PARAMS { // function 21
    char bPassword[16];
    VK_DWORD dwRole;
    char bQuestion[256];
    char bAnswer[64];
};

struct ENCRYPTION_PASSWORD_RECOVERY_PARAMS_CHECK { // function 22
    char bAnswer[64];
    char bNewPassword[16];
};

struct ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT { // function 23
    char bPassword[16];
    VK_DWORD dwRole;
    char bKeyName[32];
};

struct ENCRYPTION_RESCAN_KEYS { // function 24
    VK_BYTE reserved[512];
};

struct ENCRYPTION_BOOT_PASSWORD { // functions 25, 27, 28, 29
    char bPassword[16];
    VK_DWORD dwRole;
    char bBootPassword[128];
};

struct ENCRYPTION_UNLOCK_VOLUMES { // function 26
    VK_BYTE bCount;
    char bBootPassword[3968];
};

struct ENCRYPTION_DRIVE_FEATURES { // function 34
    char bPassword[16];
    VK_DWORD dwRole;
    VK_WORD wFeature;
    VK_WORD wOption;
    VK_DWORD dwDriveNumber;
    VK_DWORD dwDriveType;
};

#pragma pack(pop)

static_assert(sizeof(ENCRYPTION_IKEK) == 84 && offsetof(ENCRYPTION_IKEK, dwRole) == 16 &&
              offsetof(ENCRYPTION_IKEK, bIKEK) == 20);
static_assert(sizeof(ENCRYPTION_PASSWORD) == 40 && offsetof(ENCRYPTION_PASSWORD, bMyPassword) == 4 &&
              offsetof(ENCRYPTION_PASSWORD, dwRoleToChange) == 20 && offsetof(ENCRYPTION_PASSWORD, bNewPassword) == 24);
static_assert(sizeof(ENCRYPTION_SET_MODE) == 24 && offsetof(ENCRYPTION_SET_MODE, dwRole) == 16 &&
              offsetof(ENCRYPTION_SET_MODE, dwAction) == 20);
static_assert(sizeof(ENCRYPTION_LOCAL_KEK_CACHE) == 28 && offsetof(ENCRYPTION_LOCAL_KEK_CACHE, dwControl) == 20 &&
              offsetof(ENCRYPTION_LOCAL_KEK_CACHE, wRetryAttempts) == 24 &&
              offsetof(ENCRYPTION_LOCAL_KEK_CACHE, wRetryInterval) == 26);
static_assert(sizeof(ENCRYPTION_REKEY) == 32 && offsetof(ENCRYPTION_REKEY, dwKeyType) == 20 &&
              offsetof(ENCRYPTION_REKEY, dwIndex) == 24 && offsetof(ENCRYPTION_REKEY, dwDriveType) == 28);
static_assert(sizeof(ENCRYPTION_LOCK_FIRMWARE) == 24 && offsetof(ENCRYPTION_LOCK_FIRMWARE, dwAction) == 20);
static_assert(sizeof(ENCRYPTION_RETURN_TO_FACTORY) == 88 && offsetof(ENCRYPTION_RETURN_TO_FACTORY, bKEK) == 4 &&
              offsetof(ENCRYPTION_RETURN_TO_FACTORY, bPassword) == 68 &&
              offsetof(ENCRYPTION_RETURN_TO_FACTORY, dwRole) == 84);
static_assert(sizeof(ENCRYPTION_LOCAL_KEK) == 52 && offsetof(ENCRYPTION_LOCAL_KEK, bLocalKEK) == 20);
static_assert(sizeof(ENCRYPTION_VERIFY_PASSWORD) == 20 && offsetof(ENCRYPTION_VERIFY_PASSWORD, dwRole) == 16);
static_assert(sizeof(ENCRYPTION_PASSWORD_RECOVERY_PARAMS) == 340 &&
              offsetof(ENCRYPTION_PASSWORD_RECOVERY_PARAMS, bQuestion) == 20 &&
              offsetof(ENCRYPTION_PASSWORD_RECOVERY_PARAMS, bAnswer) == 276);
static_assert(sizeof(ENCRYPTION_PASSWORD_RECOVERY_PARAMS_CHECK) == 80 &&
              offsetof(ENCRYPTION_PASSWORD_RECOVERY_PARAMS_CHECK, bNewPassword) == 64);
static_assert(sizeof(ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT) == 52 &&
              offsetof(ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT, bKeyName) == 20);
static_assert(sizeof(ENCRYPTION_RESCAN_KEYS) == 512);
static_assert(sizeof(ENCRYPTION_BOOT_PASSWORD) == 148 && offsetof(ENCRYPTION_BOOT_PASSWORD, bBootPassword) == 20);
static_assert(sizeof(ENCRYPTION_UNLOCK_VOLUMES) == 3969 && offsetof(ENCRYPTION_UNLOCK_VOLUMES, bBootPassword) == 1);
static_assert(sizeof(ENCRYPTION_DRIVE_FEATURES) == 32 && offsetof(ENCRYPTION_DRIVE_FEATURES, wFeature) == 20 &&
              offsetof(ENCRYPTION_DRIVE_FEATURES, wOption) == 22 &&
              offsetof(ENCRYPTION_DRIVE_FEATURES, dwDriveNumber) == 24 &&
              offsetof(ENCRYPTION_DRIVE_FEATURES, dwDriveType) == 28);

namespace telmar {

// A request that is zeroed when it is built and wiped with explicit_bzero when it goes out of
// scope, so no credential outlives the command in the stack frame, whichever way the builder leaves.
template <class Request> struct WipedRequest {
    Request r{};
    WipedRequest() = default;
    WipedRequest(const WipedRequest&) = delete;
    WipedRequest& operator=(const WipedRequest&) = delete;
    ~WipedRequest() { explicit_bzero(&r, sizeof(r)); }
};

// Characters of a credential that go into a field of `width`: up to its first NUL within `size`,
// at most `width`. 0 for NULL.
size_t CredentialLength(const char* credential, size_t size, size_t width);
// Copies those characters into the field; the rest of the field is left as it is (zero).
template <size_t N> size_t CopyCredential(char (&field)[N], const char* credential, size_t size) {
    const size_t n = CredentialLength(credential, size, N);
    if (n != 0) {
        memcpy(field, credential, n);
    }
    return n;
}

// Which classes of character a credential holds. A byte below `lowest_valid`, 127 or above is
// invalid; the rest are lower case, upper case, digit or special.
struct CredentialClasses {
    bool lower = false, upper = false, digit = false, special = false, invalid = false;
    // 0x1 no lower case, 0x2 no upper case, 0x4 no digit, 0x8 no special character.
    VK_BYTE MissingBits() const {
        return static_cast<VK_BYTE>((lower ? 0 : 0x1) | (upper ? 0 : 0x2) | (digit ? 0 : 0x4) | (special ? 0 : 0x8));
    }
};
CredentialClasses ClassifyCredential(const char* text, size_t length, VK_BYTE lowest_valid);
// Every one of `length` bytes is from `lowest_valid` to 126.
bool PrintableText(const char* text, size_t length, VK_BYTE lowest_valid);

// Role field of a request: 1 for the user, 0 for anything else.
inline VK_DWORD RequestRole(VK_DWORD user) {
    return user == 1 ? 1 : 0;
}

// Function 26: `bCount` 1 and the boot password's `size` bytes unchanged. False, with the request
// left zero, when they do not fit the 3,968-byte field.
bool FillUnlockRequest(ENCRYPTION_UNLOCK_VOLUMES& request, const char* boot_password, size_t size);
// Function 23: the login and the foreign key, each cut to its field.
void FillImportRequest(ENCRYPTION_FOREIGN_LOCAL_KEY_IMPORT& request, VK_BYTE user, const char* password,
                       size_t password_size, const char* foreign_key, size_t foreign_key_size);

// Fills `buffer` with `size` random bytes from the kernel; false when the source fails.
bool RandomBytes(void* buffer, size_t size);

} // namespace telmar

// ---- Builders: no permission or credential check; the caller holds the data area's lock ----

VK_BOOL _VK_SetEncryptionPassword(PCDA cda, VK_DWORD role, const char* password, size_t password_size,
                                  VK_DWORD login_role, const char* login_password, size_t login_password_size);
VK_BOOL _VK_SetEncryptionRecoveryQuestionAndAnswer(PCDA cda, VK_DWORD role, const char* password,
                                                   size_t password_size, const char* question, size_t question_size,
                                                   const char* answer, size_t answer_size);
VK_BOOL _VK_SetEncryptionBootPassword(PCDA cda, VK_DWORD role, const char* login_password,
                                      size_t login_password_size, const char* boot_password,
                                      size_t boot_password_size);
// State 0, 1, 2 (unset, disabled, enabled) send functions 27, 28, 29; any other state fails unsent.
VK_BOOL _VK_SetEncryptionBootPasswordState(PCDA cda, VK_DWORD role, const char* login_password,
                                           size_t login_password_size, VK_BYTE state);
VK_BOOL _VK_SetEncryptionKeyCache(PCDA cda, VK_DWORD role, const char* login_password, size_t login_password_size,
                                  VK_BOOL enable_local_key_cache, VK_BOOL enable_persistent_key_cache,
                                  VK_WORD retry_attempts, VK_WORD attempt_interval_minutes);
VK_BOOL _VK_SetEncryptionKey(PCDA cda, VK_DWORD role, const char* password, size_t password_size, const char* key,
                             size_t key_size);
VK_BOOL _VK_SetIkekEncryptionKey(PCDA cda, VK_DWORD role, const char* password, size_t password_size,
                                 const char* key, size_t key_size);
VK_BOOL _VK_SetEncryptionKeyManagementMode(PCDA cda, VK_DWORD role, VK_DWORD mode, const char* password,
                                           size_t password_size);
VK_BOOL _VK_SetEncryptionUnlockFirmware(PCDA cda, VK_DWORD role, VK_DWORD action, const char* password,
                                        size_t password_size);
VK_BOOL __VK_RekeyDevice(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password, size_t password_size,
                         VK_DWORD key_type, VK_DWORD drive_type);
VK_BOOL _VK_SetLogicalVolumeToPlainText(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size);
VK_BOOL _VK_SetLogicalVolumeToEncrypted(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size);
VK_BOOL _VK_EncodeLogicalVolume(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                size_t password_size);
VK_BOOL _VK_RekeyLogicalVolumeAndPreserveData(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                              size_t password_size);
VK_BOOL __VK_SetEncryptionDriveOptions(PCDA cda, VK_WORD ld_number, VK_WORD feature, VK_WORD option,
                                       VK_DWORD drive_type, VK_DWORD role, const char* password,
                                       size_t password_size);
VK_BOOL _VK_SetLogicalDriveVolatileKeys(PCDA cda, VK_DWORD role, VK_WORD ld_number, const char* password,
                                        size_t password_size, VK_BOOL volatile_key, VK_BOOL volatile_key_backup);
// Rekeys one logical drive: keeping its data (preserve_data exactly 1), or to plaintext and then to a
// new key, the second only when the first went through.
VK_BYTE __VK_RekeyEncryptionVolumeKey(PCDA cda, VK_WORD ld_number, VK_BOOL preserve_data, VK_BYTE user,
                                      const char* password, size_t password_size);
// Return to the factory state (function 18); re-initialises the data area on success. Takes the lock.
VK_BOOL _VK_ClearEncryptionConfiguration(PCDA cda, const char* master_key, size_t master_key_size);

// ---- Random credentials from the kernel's random source ----
// Each fills its buffer with a NUL-padded credential of 12, 14 or 32 characters and returns it. A
// NULL or short buffer is returned untouched (with its log line). When the random source fails the
// buffer is left zeroed and NULL is returned, so a caller never sends an empty credential.
char* __VK_GenerateRandomPassword(PCDA cda, char* password_buffer, size_t buffer_size);
char* __VK_GenerateRandomKeyname(char* keyname_buffer, size_t buffer_size);
char* __VK_GenerateRandomAnswer(char* answer_buffer, size_t buffer_size);

#endif
