// The expected-values file: defaults, parsing, error messages with their line numbers, and "-f".
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "externs.h"

namespace {

constexpr size_t kRowCount = 14; // 13 fields and the end row

// Runs each test in a fresh directory with a fresh table, arguments and log, and puts all back after.
class ToolCfgFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::memcpy(saved_table_, configFileExpectedValueT, sizeof saved_table_);
        saved_expected_ = verifyTestExpectedValue;
        saved_argc_ = gArgc;
        saved_argv_ = gArgv;
        saved_lfp_ = lfp;
        lfp = std::tmpfile();
        ASSERT_NE(getcwd(saved_cwd_, sizeof saved_cwd_), nullptr);
        char dir_template[] = "/tmp/quorvel_cfg_XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        EXPECT_EQ(cfp, nullptr) << "the file must be closed after the read";
        for (const auto& f : files_) {
            std::remove(f.c_str());
        }
        EXPECT_EQ(chdir(saved_cwd_), 0);
        std::remove(dir_.c_str());
        std::fclose(lfp);
        lfp = saved_lfp_;
        gArgc = saved_argc_;
        gArgv = saved_argv_;
        verifyTestExpectedValue = saved_expected_;
        std::memcpy(configFileExpectedValueT, saved_table_, sizeof saved_table_);
    }

    void Write(const std::string& name, const std::string& content) {
        FILE* f = std::fopen(name.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
        files_.push_back(name);
    }

    void Args(std::vector<std::string> args) {
        args_ = std::move(args);
        argv_.clear();
        for (auto& a : args_) {
            argv_.push_back(a.data());
        }
        argv_.push_back(nullptr);
        gArgc = static_cast<int>(args_.size());
        gArgv = argv_.data();
    }

    // Reads the file as `main` does and returns what was printed.
    std::string Read(VK_BYTE expected_result) {
        testing::internal::CaptureStdout();
        const VK_BYTE result = CfgFileReadWizard();
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, expected_result) << out;
        if (result != CFG_FILE_ERROR) {
            ExpectedValuesTableInit();
        }
        return out;
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

    CONFIGFILE_EXPECTED_VALUE_TABLE saved_table_[kRowCount];
    VERIFYTEST_EXPECTED_VALUE_TABLE saved_expected_;
    int saved_argc_ = 0;
    char** saved_argv_ = nullptr;
    FILE* saved_lfp_ = nullptr;
    char saved_cwd_[4096];
    std::string dir_;
    std::vector<std::string> files_;
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

TEST_F(ToolCfgFile, TableShape) {
    EXPECT_EQ(std::string(configFileExpectedValueT[kRowCount - 1].field), "EOL");
    EXPECT_EQ(configFileExpectedValueT[kRowCount - 1].expectedValueSrc, EXPECTED_VALUE_NULL);
    for (size_t i = 0; i + 1 < kRowCount; ++i) {
        EXPECT_EQ(configFileExpectedValueT[i].expectedValueSrc, EXPECTED_VALUE_DEFAULT) << i;
    }
    // The dump logs every field row and answers the end row's source.
    EXPECT_EQ(CfgTableDump(), EXPECTED_VALUE_NULL);
    const std::string log = LogText();
    EXPECT_EQ(log.rfind("configFileExpectedValueT[0].field: filecfgversion - 0.1 (src: 1)\r\n ", 0), 0u);
    EXPECT_NE(log.find("configFileExpectedValueT[12].field: cachesize - 0 (src: 1)\r\n "), std::string::npos);
    EXPECT_EQ(log.find("EOL"), std::string::npos);
}

TEST_F(ToolCfgFile, CommandsThatUseTheFile) {
    for (const char* c :
         {"verifyfwversion", "verifysystemtemperature", "verifypcieconfig", "verifycachesize"}) {
        EXPECT_EQ(IsCmdRequiresCfgFile(c), 1) << c;
    }
    for (const char* c : {"verifymfg", "verifyfwversion2", "verifyfw", "VERIFYFWVERSION", "", "help"}) {
        EXPECT_EQ(IsCmdRequiresCfgFile(c), 0) << c;
    }
    EXPECT_EQ(IsCmdRequiresCfgFile(nullptr), 0);
}

TEST_F(ToolCfgFile, MissingFileKeepsFactoryDefaults) {
    Args({"quorvel", "verifysystemtemperature", "1"});
    EXPECT_EQ(Read(CFG_PROCEED_WO_FILE),
              "WARNING!!! Unable to read configuration file.\nFactory Default values will be used for the "
              "verification tests.\n");
    EXPECT_EQ(LogText(), "Config file read error (nil)\r\n");
    const VK_UINT16 max[4] = {85, 90, 85, 90};
    const VK_UINT16 min[4] = {5, 10, 5, 10};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(verifyTestExpectedValue.sensorTempMax[i], max[i]) << i;
        EXPECT_EQ(verifyTestExpectedValue.sensorTempMin[i], min[i]) << i;
    }
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "1.99");
    EXPECT_EQ(verifyTestExpectedValue.pcieLinkRate, 2);
    EXPECT_EQ(verifyTestExpectedValue.pcieLinkWidth, 16);
    EXPECT_EQ(verifyTestExpectedValue.cacheSize, 0);
    EXPECT_EQ(IsExpectedSourceCfgFile("cachesize"), 0);
}

TEST_F(ToolCfgFile, MissingFileIsAnErrorForTheCacheSize) {
    Args({"quorvel", "verifycachesize", "1"});
    EXPECT_EQ(Read(CFG_FILE_ERROR),
              "ERROR!!! Configuration file is required for the Cache size verification test.\n");
}

TEST_F(ToolCfgFile, ValuesFromTheFile) {
    Args({"quorvel", "verifyfwversion", "1"});
    Write("veskroc.cfg", "fwversion 1.32\r\n"
                         "  cachesize    3856 \r\n"
                         "\n"
                         "\r\n"
                         "maxtempsensor1 65535\n"
                         "pcieLinkRate 8.0\n"
                         "filecfgversion 0.2\n"
                         "pcieLinkWidth 8\n"
                         "pcieLinkWidth 4");
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "1.32");
    EXPECT_EQ(verifyTestExpectedValue.cacheSize, 3856);
    EXPECT_EQ(verifyTestExpectedValue.sensorTempMax[1], 65535);
    EXPECT_EQ(verifyTestExpectedValue.sensorTempMax[0], 85);
    // A rate with a point passes the check and converts to 0.
    EXPECT_EQ(verifyTestExpectedValue.pcieLinkRate, 0);
    EXPECT_EQ(IsExpectedSourceCfgFile("pcieLinkRate"), 1);
    EXPECT_STREQ(CfgSearchField("filecfgversion"), "0.2");
    EXPECT_EQ(verifyTestExpectedValue.pcieLinkWidth, 4); // the later line wins
    EXPECT_EQ(IsExpectedSourceCfgFile("cachesize"), 1);
    EXPECT_EQ(IsExpectedSourceCfgFile("fwversion"), 1);
    EXPECT_EQ(IsExpectedSourceCfgFile("nosuch"), 0);
    EXPECT_STREQ(CfgSearchField("cachesize"), "3856");
    EXPECT_EQ(CfgSearchField("nosuch"), nullptr);
    EXPECT_EQ(CfgSearchField("EOL"), nullptr);
}

TEST_F(ToolCfgFile, FirmwareVersionIsFreeText) {
    Write("veskroc.cfg", "fwversion A1-b2.x_9\n");
    Args({"quorvel", "verifyfwversion", "1"});
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "A1-b2.x_9");
}

TEST_F(ToolCfgFile, WidthLimits) {
    const std::string field24 = "f" + std::string(23, 'x');
    const std::string value32 = std::string(31, '1') + "2";
    // A value of maximum width is stored whole.
    Write("veskroc.cfg", "fwversion " + value32 + "\n");
    Args({"quorvel", "verifyfwversion", "1"});
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_EQ(std::string(verifyTestExpectedValue.fwVersion), value32);
    // A field of maximum width gets past the width check and is then not a known field.
    Write("veskroc.cfg", field24 + " 1\n");
    EXPECT_EQ(Read(CFG_FILE_ERROR), " Field not supported " + field24 + "\n");
}

TEST_F(ToolCfgFile, ErrorsNameTheLine) {
    const std::string field25 = std::string(25, 'f');
    const std::string value33 = std::string(33, '1');
    struct Case {
        std::string content;
        std::string message;
    };
    const Case cases[] = {
        {"cachesize\n", "Invalid number of arguements provided in line number 1 in configuration file\n"},
        {"fwversion 1.0\n\ncachesize 3856 MB\n",
         "Invalid number of arguements provided in line number 3 in configuration file\n"},
        {"cachesize\t3856\n",
         "Invalid number of arguements provided in line number 1 in configuration file\n"},
        {"fwversion 1\n   \n",
         "Invalid number of arguements provided in line number 2 in configuration file\n"},
        {field25 + " 1\n", "Field in line number 1 exceeds maximum width in configuration file\n"},
        {"fwversion 2\r\nfwversion " + value33 + "\r\n",
         "Value in line number 2 exceeds maximum width in configuration file\n"},
        {"unknownfield 1\n", " Field not supported unknownfield\n"},
        {"FWVERSION 1\n", " Field not supported FWVERSION\n"},
        {"EOL 5\n", " Field not supported EOL\n"},
        {"maxtempsensor0 8a\n", "Invalid value provided for maxtempsensor0 field in configuration file\n"},
        {"cachesize 1.2.3\n", "Invalid value provided for cachesize field in configuration file\n"},
        {"cachesize 38.\n", "Invalid value provided for cachesize field in configuration file\n"},
        {"mintempsensor3 0x0c\n", "Invalid value provided for mintempsensor3 field in configuration file\n"},
        {"cachesize 3856\r\r\n", "Invalid value provided for cachesize field in configuration file\n"},
        // Numbers that would not convert exactly.
        {"maxtempsensor1 4.0\n", "Invalid value provided for maxtempsensor1 field in configuration file\n"},
        {"cachesize 85.0\n", "Invalid value provided for cachesize field in configuration file\n"},
        {"cachesize 65536\n", "Invalid value provided for cachesize field in configuration file\n"},
        {"pcieLinkWidth 4294967312\n",
         "Invalid value provided for pcieLinkWidth field in configuration file\n"},
        {"pcieLinkRate 65538\n", "Invalid value provided for pcieLinkRate field in configuration file\n"},
        // A line longer than the reader's buffer is one bad line, not several.
        {"fwversion 1\n" + std::string(150, ' ') + "\nfwversion 2\n",
         "Line number 2 exceeds maximum width in configuration file\n"},
        {"cachesize 1" + std::string(200, ' ') + "2\n",
         "Line number 1 exceeds maximum width in configuration file\n"},
    };
    Args({"quorvel", "verifycachesize", "1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        Write("veskroc.cfg", c.content);
        EXPECT_EQ(Read(CFG_FILE_ERROR), c.message);
    }
    // The end row still ends the table after a line tried to name it.
    EXPECT_EQ(configFileExpectedValueT[kRowCount - 1].expectedValueSrc, EXPECTED_VALUE_NULL);
}

TEST_F(ToolCfgFile, LineNumbersPastTwoHundredFiftyFive) {
    std::string content;
    for (int i = 0; i < 299; ++i) {
        content += "filecfgversion 0.1\n";
    }
    content += "pcieLinkRate\n";
    Write("veskroc.cfg", content);
    Args({"quorvel", "verifypcieconfig", "1"});
    EXPECT_EQ(Read(CFG_FILE_ERROR),
              "Invalid number of arguements provided in line number 300 in configuration file\n");
}

TEST_F(ToolCfgFile, LongestLine) {
    // 149 characters fit, with either line end and at the end of the file.
    const std::string line149 = "cachesize" + std::string(136, ' ') + "1024";
    ASSERT_EQ(line149.size(), 149u);
    Args({"quorvel", "verifycachesize", "1"});
    for (const std::string end : {"\n", "\r\n", ""}) {
        Write("veskroc.cfg", "fwversion 1\n" + line149 + end);
        EXPECT_EQ(Read(CFG_SUCCESS), "");
        EXPECT_EQ(verifyTestExpectedValue.cacheSize, 1024);
    }
    Write("veskroc.cfg", line149 + " \r\n");
    EXPECT_EQ(Read(CFG_FILE_ERROR), "Line number 1 exceeds maximum width in configuration file\n");
}

TEST_F(ToolCfgFile, AnErrorKeepsEarlierLines) {
    Write("veskroc.cfg", "cachesize 512\nbogus 1\ncachesize 1024\n");
    Args({"quorvel", "verifycachesize", "1"});
    Read(CFG_FILE_ERROR);
    EXPECT_STREQ(CfgSearchField("cachesize"), "512");
    EXPECT_EQ(IsExpectedSourceCfgFile("cachesize"), 1);
}

TEST_F(ToolCfgFile, FileNamedAfterDashF) {
    Write("my.cfg", "fwversion 7.77\n");
    Write("veskroc.cfg", "fwversion 1.11\n");

    Args({"quorvel", "verifyfwversion", "1", "-f", "my.cfg"});
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "7.77");

    // "-f" as the last argument names nothing: the default file is read.
    Args({"quorvel", "verifyfwversion", "1", "-f"});
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "1.11");

    Args({"quorvel", "verifyfwversion", "1", "-f", "absent.cfg"});
    EXPECT_NE(Read(CFG_PROCEED_WO_FILE).find("WARNING!!!"), std::string::npos);
}

TEST_F(ToolCfgFile, FileNameLengthLimit) {
    const std::string name49 = std::string(45, 'n') + ".cfg";
    Write(name49, "fwversion 4.9\n");
    Args({"quorvel", "verifyfwversion", "1", "-f", name49});
    EXPECT_EQ(Read(CFG_SUCCESS), "");
    EXPECT_STREQ(verifyTestExpectedValue.fwVersion, "4.9");

    const std::string name50 = std::string(46, 'n') + ".cfg";
    Write(name50, "fwversion 5.0\n");
    Args({"quorvel", "verifyfwversion", "1", "-f", name50});
    EXPECT_EQ(Read(CFG_FILE_ERROR), "ERROR!!! Configuration file name exceeds 49 characters\n");
    Args({"quorvel", "verifyfwversion", "1", "-f", std::string(5000, 'n')});
    Read(CFG_FILE_ERROR);
}

TEST(ToolCfgParse, SplitsIntoFieldAndValue) {
    struct Case {
        std::string line;
        VK_BYTE result;
        std::string field;
        std::string value;
    };
    const Case cases[] = {
        {"cachesize 3856", CFG_FILE_ARGS_VALID, "cachesize", "3856"},
        {"  cachesize    3856 ", CFG_FILE_ARGS_VALID, "cachesize", "3856"},
        {"cachesize", CFG_FILE_ARGS_INVALID, "cachesize", ""},
        {"cachesize 3856 MB", CFG_FILE_ARGS_INVALID, "cachesize", "3856"},
        {"", CFG_FILE_ARGS_INVALID, "", ""},
        {"    ", CFG_FILE_ARGS_INVALID, "", ""},
        {std::string(24, 'f') + " v", CFG_FILE_ARGS_VALID, std::string(24, 'f'), "v"},
        {std::string(25, 'f') + " v", CFG_FILE_ARGS_INVALID_SFIELD, "", ""},
        {"f " + std::string(32, 'v'), CFG_FILE_ARGS_VALID, "f", std::string(32, 'v')},
        {"f " + std::string(33, 'v'), CFG_FILE_ARGS_INVALID_SVALUE, "f", ""},
        // A long third word only makes the line invalid.
        {"f v " + std::string(60, 'w'), CFG_FILE_ARGS_INVALID, "f", "v"},
        {"f\tv", CFG_FILE_ARGS_INVALID, "f\tv", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        char line[LINESIZE];
        std::strcpy(line, c.line.c_str());
        char field[SFIELDMAXLEN];
        char value[SVALUEMAXLEN];
        EXPECT_EQ(ParseArgs(line, sizeof line, field, sizeof field, value, sizeof value), c.result);
        EXPECT_EQ(std::string(field), c.field);
        EXPECT_EQ(std::string(value), c.value);
    }
}

} // namespace
