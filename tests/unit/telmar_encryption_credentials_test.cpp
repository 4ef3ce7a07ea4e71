// Credential rules of controller-based encryption and managed SED, one table per rule with the
// bounds on both sides, and the random credentials of express-local encryption.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "telm_encryption_requests.h"
#include "telmar_log_capture.h"

namespace {

// A credential of `n` characters that passes the password classes: "Aa1!" repeated.
std::string Mixed(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += "Aa1!"[i % 4];
    }
    return s;
}

// Every character allowed in a question, answer or key: printable, space included.
std::string Printable(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += static_cast<char>(' ' + i % 95);
    }
    return s;
}

struct Case {
    const char* name;
    std::string text;
    bool null = false;
    unsigned expected = 0;
};

VK_WORD Size(const Case& c) {
    return static_cast<VK_WORD>(c.text.size());
}

TEST(EncryptionCredentialRules, Password) {
    const Case cases[] = {
        {"NULL", "", true, kCheckEncryptionPasswordInvalidUnknown},
        {"empty", "", false, 0x10 | 0x0F},
        {"7", Mixed(7), false, kCheckEncryptionPasswordTooShort},
        {"8", Mixed(8), false, kCheckEncryptionPasswordOk},
        {"16", Mixed(16), false, kCheckEncryptionPasswordOk},
        {"17", Mixed(17), false, kCheckEncryptionPasswordTooLong},
        {"letters and digits", "Abcdefg123", false, kCheckEncryptionPasswordMissingSpecialChar},
        {"no lower case", "ABCDEF1!", false, kCheckEncryptionPasswordMissingLowerCaseLetter},
        {"no upper case", "abcdef1!", false, kCheckEncryptionPasswordMissingUpperCaseLetter},
        {"no digit", "Abcdefg!", false, kCheckEncryptionPasswordMissingNumber},
        {"space", "Abc 1234!", false, kCheckEncryptionPasswordInvalidChar},
        {"0x7F", "Abc\x7F" "1234!", false, kCheckEncryptionPasswordInvalidChar},
        {"0x80", "Abc\x80" "1234!", false, kCheckEncryptionPasswordInvalidChar},
        {"0xFF", "Abc\xFF" "1234!", false, kCheckEncryptionPasswordInvalidChar},
        {"tab", "Abc\t1234!", false, kCheckEncryptionPasswordInvalidChar},
        {"~ is special", "Abcdef1~", false, kCheckEncryptionPasswordOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckEncryptionPassword(nullptr, c.null ? nullptr : c.text.c_str(), Size(c)), c.expected);
    }
    // The size bounds the scan, and a NUL within it ends the password: length plus 1 is fine.
    EXPECT_EQ(VK_CheckEncryptionPassword(nullptr, "Abcdef1!", 9), kCheckEncryptionPasswordOk);
    EXPECT_EQ(VK_CheckEncryptionPassword(nullptr, "Abcdef1!xxxxxxxxxxxx", 8), kCheckEncryptionPasswordOk);
    EXPECT_EQ(VK_CheckEncryptionPassword(nullptr, "Abc1!\0\0\0\0", 9),
              kCheckEncryptionPasswordTooShort);
}

TEST(EncryptionCredentialRules, MasterKey) {
    struct KeyCase {
        const char* name;
        VK_BYTE mode;
        std::string text;
        bool null;
        unsigned expected;
    } const cases[] = {
        {"NULL", 2, "", true, kCheckEncryptionMasterKeyInvalidUnknown},
        {"local 9", 2, Printable(9), false, kCheckEncryptionMasterKeyTooShort},
        {"local 10", 2, Printable(10), false, kCheckEncryptionMasterKeyOk},
        {"local 32", 2, Printable(32), false, kCheckEncryptionMasterKeyOk},
        {"local 33", 2, Printable(33), false, kCheckEncryptionMasterKeyTooLong},
        {"express local 10", 1, Printable(10), false, kCheckEncryptionMasterKeyOk},
        {"express local 33", 1, Printable(33), false, kCheckEncryptionMasterKeyTooLong},
        {"remote empty", 3, "", false, kCheckEncryptionMasterKeyTooShort},
        {"remote 1", 3, "k", false, kCheckEncryptionMasterKeyOk},
        {"remote 63", 3, Printable(63), false, kCheckEncryptionMasterKeyOk},
        {"remote 64", 3, Printable(64), false, kCheckEncryptionMasterKeyTooLong},
        {"mode 0", 0, Printable(12), false, kCheckEncryptionMasterKeyInvalidEncryptionConfig},
        {"mode 4", 4, Printable(12), false, kCheckEncryptionMasterKeyInvalidEncryptionConfig},
        {"space allowed", 2, "master key 1", false, kCheckEncryptionMasterKeyOk},
        {"0x1F", 2, "master\x1Fkey12", false, kCheckEncryptionMasterKeyInvalidChar},
        {"0x7F", 3, "key\x7F", false, kCheckEncryptionMasterKeyInvalidChar},
        {"0x80 and short", 2, "\x80", false, kCheckEncryptionMasterKeyTooShort | kCheckEncryptionMasterKeyInvalidChar},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckEncryptionMasterKey(nullptr, c.mode, c.null ? nullptr : c.text.c_str(),
                                              static_cast<VK_WORD>(c.text.size())),
                  c.expected);
    }
}

TEST(EncryptionCredentialRules, RecoveryQuestionAndAnswer) {
    const Case questions[] = {
        {"NULL", "", true, kCheckRecoveryQuestionInvalidUnknown},
        {"15", Printable(15), false, kCheckRecoveryQuestionTooShort},
        {"16", Printable(16), false, kCheckRecoveryQuestionOk},
        {"256", Printable(256), false, kCheckRecoveryQuestionOk},
        {"257", Printable(257), false, kCheckRecoveryQuestionTooLong},
        {"tab", "What is the name\tof it?", false, kCheckRecoveryQuestionInvalidChar},
        {"0xE9", "Where were you b\xE9rn?", false, kCheckRecoveryQuestionInvalidChar},
    };
    for (const Case& c : questions) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckEncryptionRecoveryQuestion(nullptr, c.null ? nullptr : c.text.c_str(), Size(c)), c.expected);
    }
    const Case answers[] = {
        {"NULL", "", true, kCheckRecoveryAnswerInvalidUnknown},
        {"15", Printable(15), false, kCheckRecoveryAnswerTooShort},
        {"16", Printable(16), false, kCheckRecoveryAnswerOk},
        {"64", Printable(64), false, kCheckRecoveryAnswerOk},
        {"65", Printable(65), false, kCheckRecoveryAnswerTooLong},
        {"0x7F and short", "\x7F", false, kCheckRecoveryAnswerTooShort | kCheckRecoveryAnswerInvalidChar},
    };
    for (const Case& c : answers) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckEncryptionRecoveryAnswer(nullptr, c.null ? nullptr : c.text.c_str(), Size(c)), c.expected);
    }
}

TEST(EncryptionCredentialRules, BootPassword) {
    const Case cases[] = {
        {"NULL", "", true, kCheckBootPasswordFailedNull},
        {"7", "abcdefg", false, kCheckBootPasswordFailedTooShort},
        {"8 with a space", "abc defg", false, kCheckBootPasswordOk},
        {"32", Printable(32), false, kCheckBootPasswordOk},
        {"33", Printable(33), false, kCheckBootPasswordFailedTooLong},
        {"NUL inside the size", std::string("abcd\0efgh", 9), false, kCheckBootPasswordFailedInvalidChar},
        {"0x7F", "abcdefg\x7F", false, kCheckBootPasswordFailedInvalidChar},
        {"0x80", "abcdefg\x80", false, kCheckBootPasswordFailedInvalidChar},
        {"only letters", "abcdefgh", false, kCheckBootPasswordOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckEncryptionBootPassword(nullptr, c.null ? nullptr : c.text.data(), Size(c)), c.expected);
    }
}

TEST(EncryptionCredentialRules, SEDMasterKey) {
    struct KeyCase {
        const char* name;
        VK_BYTE mode;
        std::string text;
        bool null;
        unsigned expected;
    } const cases[] = {
        {"NULL, local", 2, "", true, kCheckSEDEncryptionMasterKeyInvalidUnknown},
        {"NULL, remote", 3, "", true,
         kCheckSEDEncryptionMasterKeyInvalidUnknown | kCheckSEDEncryptionMasterKeyInvalidSEDModeConfig},
        {"valid, mode none", 1, Mixed(12), false, kCheckSEDEncryptionMasterKeyInvalidSEDModeConfig},
        {"valid, remote", 3, Mixed(12), false, kCheckSEDEncryptionMasterKeyInvalidSEDModeConfig},
        {"7", 2, Mixed(7), false, kCheckSEDEncryptionMasterKeyTooShort},
        {"8", 2, Mixed(8), false, kCheckSEDEncryptionMasterKeyOk},
        {"32", 2, Mixed(32), false, kCheckSEDEncryptionMasterKeyOk},
        {"33", 2, Mixed(33), false, kCheckSEDEncryptionMasterKeyTooLong},
        {"no special", 2, "Abcdefg12", false, kCheckSEDEncryptionMasterKeyMissingSpecialChar},
        {"space", 2, "Abc 123!x", false, kCheckSEDEncryptionMasterKeyInvalidChar},
        {"0x80", 2, "Abc\x80" "123!x", false, kCheckSEDEncryptionMasterKeyInvalidChar},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckSEDEncryptionMasterKey(nullptr, c.mode, c.null ? nullptr : c.text.c_str(), c.text.size()),
                  c.expected);
    }
}

TEST(EncryptionCredentialRules, SEDMasterKeyIdentifier) {
    struct IdCase {
        const char* name;
        VK_BYTE mode;
        const char* text;
        size_t size;
        unsigned expected;
    } const cases[] = {
        {"NULL", 2, nullptr, 5, kCheckEncryptionMasterKeyIdentifierInvalidInput},
        {"size 0", 2, "abc", 0, kCheckEncryptionMasterKeyIdentifierInvalidInput},
        {"NULL, remote", 3, nullptr, 5, kCheckEncryptionMasterKeyIdentifierInvalidInput},
        {"1", 2, "k", 1, kCheckEncryptionMasterKeyIdentifierOk},
        {"32", 2, "abcdefghijklmnopqrstuvwxyz 12345", 32, kCheckEncryptionMasterKeyIdentifierOk},
        {"33", 2, "abcdefghijklmnopqrstuvwxyz 123456", 33, kCheckEncryptionMasterKeyIdentifierTooLong},
        {"remote", 3, "key", 3, kCheckEncryptionMasterKeyIdentifierInvalidSEDEncryptionMode},
        {"0x80", 2, "ke\x80y", 4, kCheckEncryptionMasterKeyIdentifierNonAsciiValues},
        {"0x1F, remote, 33", 3, "abcdefghijklmnopqrstuvwxyz\x1F" "123456", 33,
         kCheckEncryptionMasterKeyIdentifierTooLong | kCheckEncryptionMasterKeyIdentifierInvalidSEDEncryptionMode |
             kCheckEncryptionMasterKeyIdentifierNonAsciiValues},
    };
    for (const IdCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckSEDEncryptionMasterKeyIdentifier(nullptr, c.mode, c.text, c.size), c.expected);
    }
}

TEST(EncryptionCredentialRules, SEDAdapterPassword) {
    struct PwCase {
        const char* name;
        const char* text;
        size_t size;
        unsigned expected;
    } const cases[] = {
        {"NULL", nullptr, 9, kCheckSEDEncryptionAdapterPasswordInvalidInput},
        {"size 0", "Abcdef1!", 0, kCheckSEDEncryptionAdapterPasswordInvalidInput},
        {"33, alone", "abcdefghijklmnopqrstuvwxyzabcdefg", 33, kCheckSEDEncryptionAdapterPasswordFailedTooLong},
        {"7, alone", "a b c d", 7, kCheckSEDEncryptionAdapterPasswordFailedTooShort},
        {"8", "Abcdef1!", 8, kCheckSEDEncryptionAdapterPasswordOk},
        {"32", "Abcdef1!Abcdef1!Abcdef1!Abcdef1!", 32, kCheckSEDEncryptionAdapterPasswordOk},
        {"no digit, no special", "Abcdefgh", 8,
         kCheckSEDEncryptionAdapterPasswordMissingNumber | kCheckSEDEncryptionAdapterPasswordMissingSpecialChar},
        {"no letters", "12345678!", 9,
         kCheckSEDEncryptionAdapterPasswordMissingLowerCaseLetter |
             kCheckSEDEncryptionAdapterPasswordMissingUpperCaseLetter},
        {"space", "Abcd ef1!", 9, kCheckSEDEncryptionAdapterPasswordFailedInvalidChar},
        {"0xFF", "Abcd\xFF" "ef1!", 9, kCheckSEDEncryptionAdapterPasswordFailedInvalidChar},
    };
    for (const PwCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckSEDEncryptionAdapterPassword(nullptr, c.text, c.size), c.expected);
    }
}

TEST(EncryptionCredentialRules, PSID) {
    struct PsidCase {
        const char* name;
        std::string text;
        bool null;
        unsigned expected;
    } const cases[] = {
        {"NULL", "", true, kCheckSEDEncryptionPhysicalDrivePSIDInvalidArgument},
        {"7", "Ab3dE5g", false, kCheckSEDEncryptionPhysicalDrivePSIDInvalidSize},
        {"8 alphanumerics", "Ab3dE5gZ", false, kCheckSEDEncryptionPhysicalDrivePSIDOk},
        {"32", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", false, kCheckSEDEncryptionPhysicalDrivePSIDOk},
        {"33", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456", false, kCheckSEDEncryptionPhysicalDrivePSIDInvalidSize},
        {"hyphen", "ABCD-1234", false, kCheckSEDEncryptionPhysicalDrivePSIDInvalidCharacter},
        {"NUL inside the size", std::string("ABCD\0" "1234", 9), false,
         kCheckSEDEncryptionPhysicalDrivePSIDInvalidCharacter},
        {"0xC0, short", "AB\xC0", false,
         kCheckSEDEncryptionPhysicalDrivePSIDInvalidSize | kCheckSEDEncryptionPhysicalDrivePSIDInvalidCharacter},
    };
    for (const PsidCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VK_CheckSEDEncryptionPhysicalDrivePSID(c.null ? nullptr : c.text.data(), c.text.size()), c.expected);
    }
}

// ---- Random credentials ----------------------------------------------------------------------------

TEST(EncryptionRandomCredentials, PassTheirRuleAndFillExactlyTheirLength) {
    for (int round = 0; round < 200; ++round) {
        char password[20];
        std::memset(password, 'x', sizeof(password));
        ASSERT_EQ(__VK_GenerateRandomPassword(nullptr, password, sizeof(password)), password);
        ASSERT_EQ(strnlen(password, sizeof(password)), 12u);
        ASSERT_EQ(VK_CheckEncryptionPassword(nullptr, password, 12), kCheckEncryptionPasswordOk) << password;
        for (size_t i = 12; i < sizeof(password); ++i) {
            ASSERT_EQ(password[i], 0);
        }

        char key[14];
        ASSERT_EQ(__VK_GenerateRandomKeyname(key, sizeof(key)), key);
        ASSERT_TRUE(telmar::PrintableText(key, sizeof(key), ' '));
        ASSERT_EQ(VK_CheckEncryptionMasterKey(nullptr, kControllerEncryptionExpressLocal, key, sizeof(key)),
                  kCheckEncryptionMasterKeyOk);

        char answer[40];
        ASSERT_EQ(__VK_GenerateRandomAnswer(answer, sizeof(answer)), answer);
        ASSERT_EQ(strnlen(answer, sizeof(answer)), 32u);
        ASSERT_EQ(VK_CheckEncryptionRecoveryAnswer(nullptr, answer, sizeof(answer)), kCheckRecoveryAnswerOk);
    }
}

TEST(EncryptionRandomCredentials, ShortOrNullBuffersAreReturnedUntouched) {
    TelmarLogCapture log;
    char buffer[40];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(__VK_GenerateRandomPassword(nullptr, buffer, 11), buffer);
    EXPECT_EQ(__VK_GenerateRandomKeyname(buffer, 13), buffer);
    EXPECT_EQ(__VK_GenerateRandomAnswer(buffer, 31), buffer);
    EXPECT_EQ(std::string(buffer, sizeof(buffer)), std::string(40, 'x'));
    EXPECT_EQ(__VK_GenerateRandomPassword(nullptr, nullptr, 40), nullptr);
    EXPECT_EQ(__VK_GenerateRandomKeyname(nullptr, 40), nullptr);
    EXPECT_EQ(__VK_GenerateRandomAnswer(nullptr, 40), nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'password_buffer' failed: Invalid NULL buffer for password.\n"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'buffer_size >= kEncryptionRandomPasswordLength' failed: The buffer "
                                      "size for random password must be at least 12.\n"),
              1u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'buffer_size >= kEncryptionRandomKeyLength' failed: The buffer size "
                                      "for master key must be at least 14.\n"),
              1u);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'buffer_size >= kEncryptionRandomAnswerLength' failed: The buffer "
                                      "size for random answer must be at least 32.\n"),
              1u);
}

TEST(EncryptionRequests, CredentialCopiesStopAtTheFieldTheSizeOrANul) {
    struct CopyCase {
        const char* name;
        const char* text;
        size_t size;
        std::string field; // the 16-byte field as sent
    } const cases[] = {
        {"16 characters fill the field, no terminator", "ABCDEFGHIJKLMNOPQRS", 19, "ABCDEFGHIJKLMNOP"},
        {"the size bounds the copy", "ABCDEFGH", 3, std::string("ABC") + std::string(13, '\0')},
        {"a NUL ends it", "AB\0CD", 5, std::string("AB") + std::string(14, '\0')},
        {"NULL copies nothing", nullptr, 9, std::string(16, '\0')},
    };
    for (const CopyCase& c : cases) {
        SCOPED_TRACE(c.name);
        struct {
            char field[16];
            char guard[4];
        } out = {};
        telmar::CopyCredential(out.field, c.text, c.size);
        EXPECT_EQ(std::string(out.field, 16), c.field);
        EXPECT_EQ(std::string(out.guard, 4), std::string(4, '\0'));
    }
}

} // namespace
