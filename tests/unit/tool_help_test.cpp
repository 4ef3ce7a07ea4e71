// The help table is user documentation printed as it stands: every text is checked byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli.h"
#include "ptelm_utils.h"

namespace {

struct TextDigest {
    size_t length;
    VK_DWORD crc32;
};

struct RowDigest {
    const char* cmdName;
    TextDigest texts[4]; // Syntax, Info, Usage, SampleOutput (length 0 for none)
};

// Lengths and zlib CRC-32 of the documented texts, computed outside this code base.
const RowDigest kRows[] = {
    {"verifyfwversion", {{42, 0xCF21C515u}, {66, 0x1CB616C3u}, {25, 0xC379A93Bu}, {68, 0x411E35A3u}}},
    {"verifysystempower", {{44, 0x68D57587u}, {58, 0x90DB044Eu}, {27, 0x96206B4Au}, {197, 0x83F168C4u}}},
    {"verifysystemtemperature",
     {{50, 0x1BF513AAu}, {76, 0x68F0E1A6u}, {33, 0xB178ED22u}, {515, 0x9D57E454u}}},
    {"verifymfg", {{36, 0x0319B7BAu}, {84, 0x4FEB661Eu}, {19, 0x177978C7u}, {46, 0xB78E6430u}}},
    {"verifycachesize", {{42, 0x854E5E66u}, {46, 0x7360C1EFu}, {25, 0xB52E5D8Fu}, {62, 0xEFAA70DFu}}},
    {"verifypcieconfig", {{43, 0x19460020u}, {52, 0x112747BEu}, {26, 0x3B131E9Au}, {103, 0x37C49308u}}},
    {"verifycpld", {{37, 0x54181402u}, {116, 0xBA4FEC84u}, {20, 0xA02A4383u}, {43, 0xEA6521C2u}}},
    {"getcacheinfo", {{39, 0x87E057A8u}, {49, 0xDA0FF69Cu}, {22, 0x1347FD5Du}, {83, 0xD9608915u}}},
    {"getfwmiscinfo", {{40, 0x03AA6B54u}, {73, 0x1F6F848Au}, {23, 0x8CBE51AFu}, {165, 0x44CF416Cu}}},
    {"getpcieinfo", {{38, 0x05DB0A81u}, {55, 0x6B5355CCu}, {21, 0x24A1685Bu}, {37, 0x38872BEAu}}},
    {"getctrlstatusinfo", {{44, 0xE12BF89Fu}, {55, 0x1F3845C7u}, {27, 0x32C1B206u}, {109, 0xEB313E0Bu}}},
    {"getbackuppowerstatus", {{47, 0xB579B1B9u}, {46, 0x2DAA111Cu}, {30, 0x3D19B8C3u}, {46, 0xD681DAFEu}}},
    {"cachetest", {{363, 0xC0235194u}, {1028, 0x4057F18Du}, {207, 0xBE378440u}, {465, 0x93A9C212u}}},
    {"memorytest", {{338, 0x0588A527u}, {1321, 0xA2EBD2C8u}, {205, 0x51ED4B19u}, {411, 0x6C8C1F39u}}},
    {"dataretentiontest", {{111, 0xFD1A1A18u}, {404, 0x4E181FB5u}, {77, 0x120DC233u}, {175, 0x9072D382u}}},
    {"mramtest", {{93, 0xB0CF2CF9u}, {54, 0x1384F9D5u}, {59, 0xAD7E2AEDu}, {57, 0x68612EACu}}},
    {"sastest", {{166, 0xB26985C4u}, {475, 0x3805CE7Eu}, {87, 0x75730FB7u}, {196, 0xF68DCCA5u}}},
    {"saspatterntest", {{385, 0x7020A109u}, {542, 0x1FDC2481u}, {229, 0x07D81F00u}, {488, 0x772E3D88u}}},
    {"version", {{15, 0xA7428454u}, {35, 0x33040E60u}, {15, 0xA7428454u}, {23, 0x250029A5u}}},
    {"help", {{22, 0x36CF0B14u}, {23, 0x77BFD8B3u}, {46, 0xEF395585u}, {0, 0x00000000u}}},
    {"listcontrollers", {{23, 0x17DD1C86u}, {59, 0x4B1C75E7u}, {23, 0x17DD1C86u}, {143, 0x6B87AD0Fu}}},
    {"showdrives", {{37, 0x07231602u}, {74, 0xA681867Fu}, {20, 0x4FD79511u}, {346, 0x9C1EA4D2u}}},
    {"showctrlphyerrors", {{44, 0x79BF5BF3u}, {47, 0xF7EF1FBCu}, {27, 0x453873CBu}, {725, 0x98F88048u}}},
    {"ctrlledtest", {{50, 0x36AFDEAAu}, {105, 0x01AFC656u}, {23, 0x78BEFD5Au}, {82, 0x3CBEAF9Bu}}},
    {"fwdiagrevision", {{41, 0xBFBE59DCu}, {35, 0x9B8A345Cu}, {24, 0xCCDA8137u}, {31, 0x942E9319u}}},
    {"sobmessagecounters", {{45, 0xD4959510u}, {75, 0xA5D7301Au}, {28, 0x833769B0u}, {296, 0x50433E5Au}}},
    {"pcieintegritytest", {{44, 0xAF0EA69Bu}, {66, 0x15484FD7u}, {27, 0xBB41395Fu}, {26, 0xD9EDAF79u}}},
    {"testunitready", {{40, 0xFEB66744u}, {167, 0x9F8DF63Cu}, {23, 0xE2FF5C5Au}, {87, 0x63A43146u}}},
    {"saslinkratetest", {{42, 0x032199ECu}, {122, 0x82B1886Au}, {25, 0xA5B144C5u}, {124, 0xFD5C1474u}}},
    {"--set-sn=", {{50, 0xB6F92700u}, {156, 0x8DF097E4u}, {30, 0x84556C56u}, {108, 0x7B30357Bu}}},
    {"--flash=", {{48, 0xBCD50CADu}, {48, 0x7A55D0F7u}, {28, 0xB4FC3B37u}, {85, 0x412D99A1u}}},
    {"--flash-mfgdata=", {{56, 0x9C596132u}, {54, 0x708ECE44u}, {37, 0x74CB06CBu}, {101, 0xD8E16532u}}},
    {"--flash-nvram=", {{58, 0x9A6B5590u}, {59, 0x8AFF43D6u}, {52, 0x6DC89243u}, {104, 0x1A5ED819u}}},
    {"--read-mfgdata=", {{60, 0xB75C4546u}, {90, 0x872CB96Cu}, {36, 0xE6F428DAu}, {51, 0xAB41ED7Du}}},
    {"--set-wwid=", {{51, 0x6A02BCB1u}, {105, 0xC6C2D266u}, {38, 0x04F03243u}, {107, 0x432A39A4u}}},
    {"--preserve=", {{55, 0x62EA25B9u}, {97, 0xF71A7184u}, {48, 0xB95D17A8u}, {301, 0x2B9C4BD8u}}},
};

TextDigest Digest(const char* text) {
    if (text == nullptr) {
        return {0, 0};
    }
    const size_t length = std::strlen(text);
    return {length, VK_crc32(text, static_cast<VK_DWORD>(length))};
}

TEST(ToolHelpTexts, EveryRowInOrderByteForByte) {
    size_t i = 0;
    for (; HelpInfoT[i].cmdName[0] != '\0'; ++i) {
        ASSERT_LT(i, std::size(kRows)) << "more rows than documented";
        const HELP_INFORMATION& row = HelpInfoT[i];
        const RowDigest& want = kRows[i];
        SCOPED_TRACE(want.cmdName);
        EXPECT_STREQ(row.cmdName, want.cmdName);
        const char* texts[4] = {row.Syntax, row.Info, row.Usage, row.SampleOutput};
        const char* names[4] = {"Syntax", "Info", "Usage", "SampleOutput"};
        for (int k = 0; k < 4; ++k) {
            const TextDigest got = Digest(texts[k]);
            EXPECT_EQ(got.length, want.texts[k].length) << names[k];
            EXPECT_EQ(got.crc32, want.texts[k].crc32) << names[k];
        }
    }
    EXPECT_EQ(i, std::size(kRows));
    // The end row: every text empty, no sample output.
    EXPECT_STREQ(HelpInfoT[i].Syntax, "");
    EXPECT_STREQ(HelpInfoT[i].Info, "");
    EXPECT_STREQ(HelpInfoT[i].Usage, "");
    EXPECT_EQ(HelpInfoT[i].SampleOutput, nullptr);
}

const HELP_INFORMATION* Row(const char* name) {
    for (size_t i = 0; HelpInfoT[i].cmdName[0] != '\0'; ++i) {
        if (std::strcmp(HelpInfoT[i].cmdName, name) == 0) {
            return &HelpInfoT[i];
        }
    }
    return nullptr;
}

TEST(ToolHelpTexts, SeparatorsQuotesAndTrailingBlanks) {
    ASSERT_NE(Row("help"), nullptr);
    EXPECT_EQ(Row("help")->SampleOutput, nullptr);
    EXPECT_STREQ(Row("help")->Usage, "quorvel help\n\r quorvel help verifyfwversion\n\n\r");
    EXPECT_STREQ(Row("--flash=")->Usage, "quorvel --flash=pelko.bin 1 ");
    EXPECT_STREQ(Row("--flash=")->SampleOutput,
                 "Flashing Controller : SUCCESS. \n\r A reboot will be required to activate new firmware.");
    EXPECT_STREQ(Row("--set-wwid=")->Usage, "quorvel --set-wwid= 511122223333ABCD 1");
    EXPECT_STREQ(Row("getpcieinfo")->SampleOutput, "PCIeGen       : 3\n\r PCIewidth     : 8");
    // Inner quotes are real quote characters.
    const std::string cache_info = Row("cachetest")->Info;
    EXPECT_NE(cache_info.find("using a \"1\" bit on each byte"), std::string::npos);
    EXPECT_NE(cache_info.find("can hold a \"0\" value."), std::string::npos);
    EXPECT_EQ(cache_info.find('\\'), std::string::npos);
}

} // namespace
