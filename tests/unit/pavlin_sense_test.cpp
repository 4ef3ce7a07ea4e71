// The one sense decoder: formats, key fields, and the walk over sense descriptors.
#include "pavl_extern.h"
#include "pavl_sense.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using pavlin::ByteView;

ByteView View(const std::vector<VK_BYTE>& v) {
    return ByteView(v.data(), v.size());
}

// Descriptor sense with an information descriptor (type 0x00, 10 bytes) before the ATA return
// descriptor, as a translation layer may send it.
std::vector<VK_BYTE> ATAReturnSecond(VK_BYTE status) {
    std::vector<VK_BYTE> s = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 26,
                              0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0x99,
                              0x09, 0x0C, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                              0x07, 0x08, 0x40, status};
    return s;
}

TEST(PavlinSense, ATAReturnDescriptorIsFoundWhereverItComes) {
    const auto sense = ATAReturnSecond(0x51);
    ATARequest r{};
    __DecodeATAReturnRegisters(&r, View(sense));
    EXPECT_EQ(r.ReturnRegisters.error, 0x04);
    EXPECT_EQ(r.ReturnRegisters.sector_count_msb, 0x01);
    EXPECT_EQ(r.ReturnRegisters.lba_high_lsb, 0x08);
    EXPECT_EQ(r.ReturnRegisters.device, 0x40);
    EXPECT_EQ(r.ReturnRegisters.status, 0x51);
    std::vector<VK_BYTE> exact = sense;
    EXPECT_EQ(CheckATAPassthroughSenseData(exact.data(), static_cast<VK_DWORD>(exact.size())), kFalse);
    exact = ATAReturnSecond(0x50);
    EXPECT_EQ(CheckATAPassthroughSenseData(exact.data(), static_cast<VK_DWORD>(exact.size())), kTrue);
}

TEST(PavlinSense, DescriptorWalkStaysInsideLengthAndView) {
    struct Case {
        const char* name;
        std::vector<VK_BYTE> sense;
    };
    const Case cases[] = {
        // The additional length ends before the ATA descriptor that follows in the buffer.
        {"announced length ends first",
         {0x72, 0, 0, 0, 0, 0, 0, 12, 0x00, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x0C, 0, 0x04, 0, 0, 0,
          0, 0, 0, 0, 0, 0x40, 0x51}},
        // A descriptor that claims 255 bytes ends the walk rather than skipping past the view.
        {"descriptor longer than the view",
         {0x72, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x09, 0x0C, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x51}},
        // An ATA return descriptor of the wrong length is no ATA return descriptor.
        {"ATA descriptor of the wrong length",
         {0x72, 0, 0, 0, 0, 0, 0, 14, 0x09, 0x0B, 0, 0x04, 0, 0, 0, 0, 0, 0, 0, 0x40, 0x51, 0}},
        {"header cut by the view", {0x72, 0, 0, 0, 0, 0, 0, 20, 0x09}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(pavlin::FindATAReturnDescriptor(View(c.sense)).has_value());
        ATARequest r{};
        __DecodeATAReturnRegisters(&r, View(c.sense));
        EXPECT_EQ(r.ReturnRegisters.status, 0);
        EXPECT_EQ(r.ReturnRegisters.error, 0);
        std::vector<VK_BYTE> exact = c.sense;
        EXPECT_EQ(CheckATAPassthroughSenseData(exact.data(), static_cast<VK_DWORD>(exact.size())), kFalse);
    }
}

TEST(PavlinSense, KeyFieldsOfEachFormat) {
    struct Case {
        const char* name;
        std::vector<VK_BYTE> sense;
        bool decoded;
        pavlin::SenseKey key;
    };
    const Case cases[] = {
        {"fixed", {0x70, 0, 0x45, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x01}, true, {0x05, 0x24, 0x01}},
        {"fixed with the valid bit", {0xF1, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00}, true, {0x03, 0x11, 0}},
        {"descriptor", {0x72, 0x06, 0x29, 0x02}, true, {0x06, 0x29, 0x02}},
        {"fixed cut before the ASCQ", {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24}, false, {}},
        {"descriptor cut before the ASCQ", {0x73, 0x06, 0x29}, false, {}},
        {"other response code", {0x7F, 0x06, 0x29, 0x02}, false, {}},
        {"empty", {}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto key = pavlin::DecodeSenseKey(View(c.sense));
        ASSERT_EQ(key.has_value(), c.decoded);
        if (key) {
            EXPECT_EQ(key->key, c.key.key);
            EXPECT_EQ(key->asc, c.key.asc);
            EXPECT_EQ(key->ascq, c.key.ascq);
        }
    }
    // The ATA path reads response codes exactly: fixed sense with the valid bit is not taken apart.
    const std::vector<VK_BYTE> valid_bit = {0xF0, 0, 0, 0x04, 0x51, 0x40, 0x01, 0x0A};
    EXPECT_EQ(pavlin::SenseFormatOf(View(valid_bit), pavlin::SenseCodeRule::kExact), pavlin::SenseFormat::kOther);
    EXPECT_EQ(pavlin::SenseFormatOf(View(valid_bit), pavlin::SenseCodeRule::kMaskValid),
              pavlin::SenseFormat::kFixed);
}

} // namespace
