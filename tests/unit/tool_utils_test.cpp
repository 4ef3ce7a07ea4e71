// The tool's text helpers and its log header.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include "externs.h"
#include "ppavl_platform.h"

namespace {

TEST(ToolTextHelpers, HexVal) {
    const std::pair<char, VK_BYTE> cases[] = {
        {'0', 0},   {'9', 9},   {'A', 10},  {'F', 15},  {'a', 10},           {'f', 15},
        {'G', 120}, {'g', 120}, {'x', 120}, {' ', 120}, {'\0', HEX_VAL_ERR}, {'\xC1', HEX_VAL_ERR},
    };
    for (const auto& [c, v] : cases) {
        EXPECT_EQ(HexVal(c), v) << "character " << static_cast<int>(c);
    }
}

TEST(ToolTextHelpers, DecimalAndHexConversions) {
    struct Case {
        const char* text;
        VK_BYTE atod_ok;
        VK_UINT16 atod_value;
        VK_BYTE atoh_ok;
        VK_UINT16 atoh_value;
    };
    const Case cases[] = {
        {"42", 1, 42, 1, 0x42},     {"12a", 0, 0, 1, 0x12A},  {"0x1F", 1, 31, 1, 31},
        {"0X1F", 0, 0, 0, 0},                                 // only a lower-case x starts hex
        {"-1", 1, 65535, 0, 0},     {"70000", 1, 4464, 1, 0}, // accumulated in 16 bits
        {"65537", 1, 1, 1, 0x5537}, {"0x10001", 1, 1, 1, 1},  {"0xG1", 0, 0, 0, 0},
        {"0x", 1, 0, 1, 0},         {"-", 1, 0, 0, 0},        {"--1", 0, 0, 0, 0},
        {"-0x1", 0, 0, 0, 0},       {" 1", 0, 0, 0, 0},       {"", 0, 0, 0, 0},
        {nullptr, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text ? c.text : "(null)");
        VK_UINT16 out = 0xBEEF;
        EXPECT_EQ(AtoD(c.text, &out), c.atod_ok);
        EXPECT_EQ(out, c.atod_value);
        out = 0xBEEF;
        EXPECT_EQ(AtoH(c.text, &out), c.atoh_ok);
        EXPECT_EQ(out, c.atoh_value);
    }
    EXPECT_EQ(AtoD("1", nullptr), 0);
    EXPECT_EQ(AtoH("1", nullptr), 0);
}

TEST(ToolTextHelpers, ExpectedValueSyntax) {
    const std::pair<const char*, VK_BYTE> cases[] = {
        {"1.32", 1}, {"7", 1},  {"", 1},   {".5", 1},  {"1.", 0}, {"1.2.3", 0},
        {"1a", 0},   {"-1", 0}, {" 1", 0}, {"4.0", 1}, {".", 0},  {nullptr, 0},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(IsValidValue(text), valid) << (text ? text : "(null)");
    }
}

TEST(ToolTextHelpers, TrimSpace) {
    const std::pair<const char*, const char*> cases[] = {
        {"  a   b  ", "a b"}, {"a b", "a b"}, {"   ", ""},          {"", ""},
        {"a ", "a"},          {" a", "a"},    {"x  y  z", "x y z"}, {"\ta \t  b\t", "\ta \t b\t"},
    };
    for (const auto& [in, out] : cases) {
        char buf[32];
        std::strcpy(buf, in);
        QV_AsciiTrimSpace(buf, sizeof buf);
        EXPECT_STREQ(buf, out) << "'" << in << "'";
    }

    // A text that fills its buffer without a terminator ends at the buffer's last byte.
    char full[5] = {'a', ' ', ' ', 'b', 'c'};
    QV_AsciiTrimSpace(full, sizeof full);
    EXPECT_STREQ(full, "a b");
    QV_AsciiTrimSpace(nullptr, 8);
    char untouched[2] = {' ', ' '};
    QV_AsciiTrimSpace(untouched, 0);
    EXPECT_EQ(untouched[0], ' ');
}

TEST(ToolTextHelpers, ValidateAsciiString) {
    EXPECT_EQ(ValidateAsciiString(nullptr, 3, kTrue), 0);
    EXPECT_EQ(ValidateAsciiString("", 0, kFalse), 0);
    EXPECT_EQ(ValidateAsciiString("", 0, kTrue), 1);
    EXPECT_EQ(ValidateAsciiString("0151F300139", 11, kFalse), 1);
    EXPECT_EQ(ValidateAsciiString("ab-c", 4, kFalse), 0);
    EXPECT_EQ(ValidateAsciiString("ab-c", 2, kFalse), 1); // only the first length characters count
    EXPECT_EQ(ValidateAsciiString("ab", 5, kFalse), 0);   // the terminator is no letter
    EXPECT_EQ(ValidateAsciiString("a b", 3, kTrue), 0);
}

class ToolFileData : public ::testing::Test {
protected:
    void SetUp() override {
        char dir_template[] = "/tmp/quorvel_file_XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
    }
    void TearDown() override {
        for (const auto& f : files_) {
            std::remove(f.c_str());
        }
        std::remove(dir_.c_str());
    }
    std::string Write(const char* name, const std::string& content) {
        std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        files_.push_back(path);
        return path;
    }
    std::string dir_;
    std::vector<std::string> files_;
};

TEST_F(ToolFileData, ReadsTheWholeFile) {
    std::string content("MZ\0\x01\xFF tail", 10);
    content += std::string(70000, 'q');
    const std::string path = Write("image.bin", content);
    VK_UINT64 size = 1;
    VK_BYTE* data = QV_GetCompleteFileData(path.c_str(), &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, content.size());
    EXPECT_EQ(std::memcmp(data, content.data(), content.size()), 0);
    _VK_free(data, __FILE__, __LINE__);
}

TEST_F(ToolFileData, MissingOrEmptyFileGivesNone) {
    const std::string empty = Write("empty.bin", "");
    VK_UINT64 size = 99;
    EXPECT_EQ(QV_GetCompleteFileData(empty.c_str(), &size), nullptr);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(QV_GetCompleteFileData((dir_ + "/missing.bin").c_str(), &size), nullptr);
    EXPECT_EQ(size, 0u);
    size = 99;
    EXPECT_EQ(QV_GetCompleteFileData(nullptr, &size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(QV_GetCompleteFileData(empty.c_str(), nullptr), nullptr);
}

// A file past its format's limit is refused by its size: nothing is allocated, and the caller learns
// the size to say why. One at the limit is read whole.
TEST_F(ToolFileData, FileLargerThanItsLimitIsNotRead) {
    const std::string path = Write("nvram.bin", std::string(65536, '\x5A'));
    VK_UINT64 size = 0;
    EXPECT_EQ(QV_GetFileDataWithin(path.c_str(), 65535, &size), nullptr);
    EXPECT_EQ(size, 65536u);
    VK_BYTE* data = QV_GetFileDataWithin(path.c_str(), 65536, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 65536u);
    EXPECT_EQ(data[65535], 0x5A);
    _VK_free(data, __FILE__, __LINE__);
}

// Routes the log to a temporary stream for one test.
class ToolLog : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = lfp;
        lfp = std::tmpfile();
        ASSERT_NE(lfp, nullptr);
    }
    void TearDown() override {
        std::fclose(lfp);
        lfp = saved_;
    }
    std::string LogText() {
        std::fflush(lfp);
        std::rewind(lfp);
        std::string text;
        char chunk[256];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, lfp)) > 0) {
            text.append(chunk, n);
        }
        return text;
    }
    FILE* saved_ = nullptr;
};

TEST_F(ToolLog, HeaderLayout) {
    char arg0[] = "quorvel";
    char arg1[] = "verifyfwversion";
    char arg2[] = "1";
    char* argv[] = {arg0, arg1, arg2, nullptr};
    QV_PrintCLIArgs(3, argv);

    const std::string text = LogText();
    const std::string head =
        std::string(80, '-') + "\r\nQuorvel Version 5.6.1 \nquorvel verifyfwversion 1 / ";
    ASSERT_EQ(text.substr(0, head.size()), head);
    const std::string stamp = text.substr(head.size());
    EXPECT_TRUE(std::regex_match(stamp, std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] "
                                                   "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n \r\n")))
        << stamp;
}

TEST_F(ToolLog, TimeTextMatchesTheSystemLayout) {
    const std::string ours = GetCurrentTime();
    struct tm copy = timeinfo;
    EXPECT_EQ(ours, std::asctime(&copy));
    EXPECT_EQ(std::mktime(&copy), rawtime);
}

TEST_F(ToolLog, BannerAndNoLog) {
    QV_BannerLinePrint();
    EXPECT_EQ(LogText(), std::string(80, '-') + "\r\n");

    FILE* log = lfp;
    lfp = nullptr;
    char arg0[] = "quorvel";
    char* argv[] = {arg0, nullptr};
    QV_BannerLinePrint();
    QV_PrintCLIArgs(1, argv);
    lfp = log;
    EXPECT_EQ(LogText(), std::string(80, '-') + "\r\n");
}

} // namespace
