// Device descriptor blobs, their property walk, copies, lists and iterators.
#include "pavl_descriptor.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

// Callers outside the library append through the public header: a redeclaration with C linkage only
// compiles when the header gives it C linkage too.
extern "C" VK_BOOL _PN_AddDescriptorToList(DeviceDescriptorList list, DeviceDescriptor device_descriptor);

namespace {

using Bytes = std::vector<VK_BYTE>;

// A tracked heap copy of raw bytes, so the library can destroy it like any descriptor and ASan sees
// every byte read past its end.
DeviceDescriptor heap_blob(const Bytes& bytes) {
    void* p = VK_malloc(bytes.size());
    std::memcpy(p, bytes.data(), bytes.size());
    return p;
}

Bytes blob_bytes(DeviceDescriptor d) {
    const auto* b = static_cast<const VK_BYTE*>(d);
    return Bytes(b, b + PN_GetDeviceDescriptorSize(d));
}

struct Descriptor {
    DeviceDescriptor d;
    explicit Descriptor(DeviceDescriptor p) : d(p) {}
    explicit Descriptor(const Bytes& b) : d(heap_blob(b)) {}
    ~Descriptor() { PN_DestroyDeviceDescriptor(d); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

const VK_WORD kType = kProtocolTypePQI;
const std::array<VK_BYTE, 16> kAddress = {1, 2, 3, 1, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
const char kNode[] = "/dev/sg3";
const VK_WORD kFirstNumber = 0x1234;
const VK_WORD kSecondNumber = 0x5678;

DeviceDescriptor sample() {
    const DeviceDescriptorEntry entries[] = {
        {kDevicePropertyNodeName, kNode, sizeof(kNode) - 1},
        {kDevicePropertyProtocolType, &kType, sizeof(kType)},
        {kDevicePropertyProtocolAddress, kAddress.data(), kAddress.size()},
        {kDevicePropertyDeviceNumber, &kFirstNumber, sizeof(kFirstNumber)},
        {kDevicePropertyDeviceNumber, &kSecondNumber, sizeof(kSecondNumber)},
        {kDevicePropertySlotFormat, nullptr, 0},
    };
    return _PN_BuildDeviceDescriptor(entries);
}

TEST(DescriptorBlob, BuildsLittleEndianLengthWordAndEntries) {
    const VK_WORD type = 0x0102;
    const char text[] = "ab";
    const DeviceDescriptorEntry entries[] = {
        {kDevicePropertyProtocolType, &type, sizeof(type)},
        {kDevicePropertySysPath, text, 2},
    };
    EXPECT_EQ(_PN_DeviceDescriptorLength(entries), 12u);
    Descriptor d(_PN_BuildDeviceDescriptor(entries));
    ASSERT_NE(d.d, nullptr);
    EXPECT_EQ(blob_bytes(d.d), (Bytes{0x0C, 0x00, 0x02, 0x02, 0x00, 0x02, 0x01, 0x00, 0x02, 0x00, 'a', 'b'}));
}

TEST(DescriptorBlob, BuilderDropsADescriptorOverTheLengthWord) {
    // 2 + 3 + 65530 = 65535 fits exactly; one byte more does not.
    std::vector<char> data(65531, 'x');
    DeviceDescriptorEntry fits[] = {{kDevicePropertySysPath, data.data(), 65530}};
    Descriptor d(_PN_BuildDeviceDescriptor(fits));
    ASSERT_NE(d.d, nullptr);
    EXPECT_EQ(PN_GetDeviceDescriptorSize(d.d), 65535u);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d.d, kDevicePropertySysPath), 65530);

    DeviceDescriptorEntry too_long[] = {{kDevicePropertySysPath, data.data(), 65531}};
    EXPECT_EQ(_PN_BuildDeviceDescriptor(too_long), nullptr);
    // Many entries whose sum passes the limit must not wrap into a short blob.
    DeviceDescriptorEntry many[] = {{kDevicePropertySysPath, data.data(), 40000},
                                    {kDevicePropertyNodeName, data.data(), 40000}};
    EXPECT_EQ(_PN_BuildDeviceDescriptor(many), nullptr);
}

struct ReadCase {
    const char* name;
    VK_BYTE id;
    VK_DWORD buffer_size;
    VK_BYTE result;
    Bytes expected; // buffer contents after the call, over buffer_size
};

TEST(DescriptorProperty, ReadsIntoBuffersOfEverySize) {
    const ReadCase cases[] = {
        {"word into larger buffer", kDevicePropertyProtocolType, 4, 0, {0x02, 0x00, 0x00, 0x00}},
        {"word exact", kDevicePropertyProtocolType, 2, 0, {0x02, 0x00}},
        {"address too small", kDevicePropertyProtocolAddress, 8, 2, Bytes(8, 0)},
        {"absent", kDevicePropertyPCIClass, 6, 1, Bytes(6, 0)},
        {"first duplicate wins", kDevicePropertyDeviceNumber, 2, 0, {0x34, 0x12}},
        {"empty entry", kDevicePropertySlotFormat, 3, 0, Bytes(3, 0)},
        {"empty entry, no buffer", kDevicePropertySlotFormat, 0, 0, {}},
        {"text without NUL", kDevicePropertyNodeName, 9, 0, Bytes{'/', 'd', 'e', 'v', '/', 's', 'g', '3', 0}},
    };
    Descriptor d(sample());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes buffer(c.buffer_size + 1, 0xEE); // one guard byte past the given size
        EXPECT_EQ(PN_GetDeviceSystemProperty(d.d, c.id, buffer.data(), c.buffer_size), c.result);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.buffer_size), c.expected);
        EXPECT_EQ(buffer.back(), 0xEE);
    }
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d.d, kDevicePropertyProtocolAddress), 16);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d.d, kDevicePropertyDeviceNumber), 2);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(d.d, kDevicePropertyPCIClass), 0);
}

// Blobs whose entries disagree with their total length; each is allocated with exactly its bytes, so
// a walk past the end is caught by the sanitizer build as well as by the results.
TEST(DescriptorProperty, WalkStopsAtTheTotalLength) {
    struct Case {
        const char* name;
        Bytes blob;
        VK_BYTE id;
        VK_BYTE result;
    };
    const Case cases[] = {
        {"only the length word", {0x02, 0x00}, kDevicePropertySysPath, 1},
        {"total length 0", {0x00, 0x00, 0x00, 0x01, 0x00, 'x'}, kDevicePropertySysPath, 1},
        {"total length 1", {0x01, 0x00, 0x00, 0x01, 0x00, 'x'}, kDevicePropertySysPath, 1},
        {"header cut by the total", {0x04, 0x00, 0x00, 0x00}, kDevicePropertySysPath, 1},
        {"data passes the total", {0x07, 0x00, 0x00, 0x05, 0x00, 'a', 'b'}, kDevicePropertySysPath, 1},
        {"huge length does not wrap", {0x07, 0x00, 0x00, 0xFF, 0xFF, 'a', 'b'}, kDevicePropertySysPath, 1},
        // The entry after a broken one is not reached, though its bytes lie inside the total.
        {"entry behind a broken one",
         {0x0B, 0x00, 0x01, 0x09, 0x00, 'a', 0x00, 0x01, 0x00, 'z', 0x00},
         kDevicePropertySysPath,
         1},
        {"entry before a broken one",
         {0x0B, 0x00, 0x00, 0x01, 0x00, 'a', 0x01, 0x09, 0x00, 'z', 0x00},
         kDevicePropertySysPath,
         0},
        {"entry ending exactly at the total", {0x06, 0x00, 0x00, 0x01, 0x00, 'a'}, kDevicePropertySysPath, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Descriptor d(c.blob);
        VK_BYTE buffer[16];
        std::memset(buffer, 0xEE, sizeof(buffer));
        EXPECT_EQ(PN_GetDeviceSystemProperty(d.d, c.id, buffer, sizeof(buffer)), c.result);
        if (c.result == 0) {
            EXPECT_EQ(buffer[0], 'a');
        } else {
            EXPECT_EQ(Bytes(buffer, buffer + sizeof(buffer)), Bytes(sizeof(buffer), 0));
            EXPECT_EQ(PN_GetDeviceSystemPropertySize(d.d, c.id), 0);
            const VK_BYTE one = 0;
            EXPECT_EQ(PN_ChangeDeviceSystemProperty(d.d, c.id, &one, 1), 1);
        }
        char node[32];
        EXPECT_FALSE(__DecodeDeviceNodeName(d.d, node, sizeof(node)));
        EXPECT_EQ(_PN_GetDeviceProtocol(d.d), 0xFFFF);
    }
}

TEST(DescriptorProperty, ChangeKeepsTheSizeOfTheDescriptor) {
    Descriptor d(sample());
    const Bytes before = blob_bytes(d.d);

    const VK_DWORD four = 7;
    EXPECT_EQ(PN_ChangeDeviceSystemProperty(d.d, kDevicePropertyProtocolType, &four, sizeof(four)), 2);
    EXPECT_EQ(PN_ChangeDeviceSystemProperty(d.d, kDevicePropertyPCIClass, "000000", 6), 1);
    EXPECT_EQ(blob_bytes(d.d), before);

    const VK_WORD number = 0xFFFF;
    EXPECT_EQ(PN_ChangeDeviceSystemProperty(d.d, kDevicePropertyDeviceNumber, &number, sizeof(number)), 0);
    VK_WORD got = 0;
    EXPECT_EQ(PN_GetDeviceSystemProperty(d.d, kDevicePropertyDeviceNumber, &got, sizeof(got)), 0);
    EXPECT_EQ(got, 0xFFFF);
    // Only the first of the duplicates changed; every other byte is as before.
    Bytes after = blob_bytes(d.d);
    EXPECT_EQ(after.size(), before.size());
    size_t differing = 0;
    for (size_t i = 0; i < after.size(); ++i) {
        differing += after[i] != before[i];
    }
    EXPECT_EQ(differing, 2u);
}

TEST(DescriptorCopy, CopiesTheWholeBlobIntoANewBlock) {
    Descriptor d(sample());
    Descriptor copy(PN_CopyDeviceDescriptor(d.d));
    ASSERT_NE(copy.d, nullptr);
    EXPECT_NE(copy.d, d.d);
    EXPECT_EQ(blob_bytes(copy.d), blob_bytes(d.d));
    // Patching the copy leaves the original alone.
    const VK_WORD number = 9;
    EXPECT_EQ(PN_ChangeDeviceSystemProperty(copy.d, kDevicePropertyDeviceNumber, &number, 2), 0);
    VK_WORD got = 0;
    PN_GetDeviceSystemProperty(d.d, kDevicePropertyDeviceNumber, &got, sizeof(got));
    EXPECT_EQ(got, kFirstNumber);

    EXPECT_EQ(PN_CopyDeviceDescriptor(nullptr), nullptr);
    EXPECT_EQ(PN_GetDeviceDescriptorSize(nullptr), 0u);
    PN_DestroyDeviceDescriptor(nullptr);

    // A malformed total length still yields a copy whose length word can be read.
    Descriptor bad(Bytes{0x01, 0x00});
    Descriptor bad_copy(PN_CopyDeviceDescriptor(bad.d));
    ASSERT_NE(bad_copy.d, nullptr);
    EXPECT_EQ(PN_GetDeviceDescriptorSize(bad_copy.d), 1u);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(bad_copy.d, kDevicePropertySysPath), 0);
}

TEST(DescriptorDecoders, NodeNameIsAlwaysTerminated) {
    Descriptor d(sample());
    char node[16];
    std::memset(node, 'x', sizeof(node));
    EXPECT_TRUE(__DecodeDeviceNodeName(d.d, node, sizeof(node)));
    EXPECT_STREQ(node, kNode);

    // The name needs its 8 characters plus the NUL: a 9-byte buffer takes it, 8 bytes do not.
    char exact[9];
    EXPECT_TRUE(__DecodeDeviceNodeName(d.d, exact, sizeof(exact)));
    EXPECT_STREQ(exact, kNode);
    char short_buffer[8];
    std::memset(short_buffer, 'x', sizeof(short_buffer));
    EXPECT_FALSE(__DecodeDeviceNodeName(d.d, short_buffer, sizeof(short_buffer)));
    EXPECT_EQ(Bytes(short_buffer, short_buffer + 8), Bytes(8, 0));
    EXPECT_FALSE(__DecodeDeviceNodeName(d.d, short_buffer, 0));

    Descriptor empty(Bytes{0x02, 0x00});
    EXPECT_FALSE(__DecodeDeviceNodeName(empty.d, node, sizeof(node)));
    EXPECT_EQ(node[0], 0);
}

TEST(DescriptorDecoders, ProtocolInfoNeedsTypeAndAddress) {
    Descriptor d(sample());
    EXPECT_EQ(_PN_GetDeviceProtocol(d.d), kType);

    VK_WORD type = 0;
    VK_BYTE address[20];
    std::memset(address, 0xEE, sizeof(address));
    EXPECT_TRUE(__DecodeDeviceProtocolInfo(d.d, &type, address, sizeof(address)));
    EXPECT_EQ(type, kType);
    EXPECT_EQ(0, std::memcmp(address, kAddress.data(), 16));
    EXPECT_EQ(Bytes(address + 16, address + 20), Bytes(4, 0));

    VK_BYTE small[4];
    EXPECT_TRUE(__DecodeDeviceProtocolInfo(d.d, &type, small, sizeof(small)));
    EXPECT_EQ(0, std::memcmp(small, kAddress.data(), 4));

    const DeviceDescriptorEntry type_only[] = {{kDevicePropertyProtocolType, &kType, sizeof(kType)}};
    Descriptor no_address(_PN_BuildDeviceDescriptor(type_only));
    std::memset(address, 0xEE, sizeof(address));
    EXPECT_FALSE(__DecodeDeviceProtocolInfo(no_address.d, &type, address, sizeof(address)));
    EXPECT_EQ(Bytes(address, address + 20), Bytes(20, 0));
    EXPECT_EQ(_PN_GetDeviceProtocol(no_address.d), kType);

    const DeviceDescriptorEntry address_only[] = {
        {kDevicePropertyProtocolAddress, kAddress.data(), kAddress.size()}};
    Descriptor no_type(_PN_BuildDeviceDescriptor(address_only));
    EXPECT_FALSE(__DecodeDeviceProtocolInfo(no_type.d, &type, address, sizeof(address)));
    EXPECT_EQ(_PN_GetDeviceProtocol(no_type.d), 0xFFFF);
}

// A small list fixture: descriptors that carry their position as device number.
class DescriptorList : public ::testing::Test {
protected:
    void TearDown() override { PN_DestroyDeviceDescriptorList(list_); }

    static DeviceDescriptor numbered(VK_WORD n) {
        const DeviceDescriptorEntry e[] = {{kDevicePropertyDeviceNumber, &n, sizeof(n)}};
        return _PN_BuildDeviceDescriptor(e);
    }

    std::vector<VK_WORD> walk() {
        std::vector<VK_WORD> seen;
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            VK_WORD n = 0;
            PN_GetDeviceSystemProperty(PN_GetDeviceListItemAt(it), kDevicePropertyDeviceNumber, &n,
                                       sizeof(n));
            seen.push_back(n);
        }
        EXPECT_EQ(PN_GetDeviceListItemAt(it), nullptr);
        PN_MoveDeviceListIteratorNext(it); // staying at the end is harmless
        EXPECT_TRUE(PN_IsDeviceListIteratorEnd(it));
        PN_DestroyDeviceListIterator(it);
        return seen;
    }

    DeviceDescriptorList list_ = PN_CreateHostBusAdapterDescriptorList();
};

TEST_F(DescriptorList, HostBusAdapterListIsEmptyAndEndsAtOnce) {
    ASSERT_NE(list_, nullptr);
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
    ASSERT_NE(it, nullptr);
    EXPECT_TRUE(PN_IsDeviceListIteratorEnd(it));
    EXPECT_EQ(PN_GetDeviceListItemAt(it), nullptr);
    PN_DestroyDeviceListIterator(it);
}

TEST_F(DescriptorList, AppendsInOrderAndOwnsItsDescriptors) {
    for (VK_WORD n = 1; n <= 3; ++n) {
        EXPECT_EQ(_PN_AddDescriptorToList(list_, numbered(n)), kTrue);
    }
    EXPECT_EQ(walk(), (std::vector<VK_WORD>{1, 2, 3}));
    // Appending after a walk goes behind the last entry; a fresh iterator starts at the first.
    _PN_AddDescriptorToList(list_, numbered(4));
    EXPECT_EQ(walk(), (std::vector<VK_WORD>{1, 2, 3, 4}));
    // Teardown destroys the list with its four descriptors; the sanitizer build reports any leak.
}

TEST_F(DescriptorList, ItemAtIsTheListsOwnDescriptor) {
    DeviceDescriptor d = numbered(7);
    _PN_AddDescriptorToList(list_, d);
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
    EXPECT_EQ(PN_GetDeviceListItemAt(it), d);
    PN_DestroyDeviceListIterator(it);
}

TEST_F(DescriptorList, NullArgumentsAreHarmless) {
    // A NULL descriptor would stop every later walk at its entry, so it is refused.
    EXPECT_EQ(_PN_AddDescriptorToList(list_, nullptr), kFalse);
    _PN_AddDescriptorToList(list_, numbered(1));
    EXPECT_EQ(walk(), (std::vector<VK_WORD>{1}));
    // Without a list the descriptor is released rather than leaked.
    EXPECT_EQ(_PN_AddDescriptorToList(nullptr, numbered(2)), kFalse);

    EXPECT_EQ(PN_CreateDeviceListIterator(nullptr), nullptr);
    EXPECT_TRUE(PN_IsDeviceListIteratorEnd(nullptr));
    EXPECT_EQ(PN_GetDeviceListItemAt(nullptr), nullptr);
    PN_MoveDeviceListIteratorNext(nullptr);
    PN_DestroyDeviceListIterator(nullptr);
    PN_DestroyDeviceDescriptorList(nullptr);
}

} // namespace
