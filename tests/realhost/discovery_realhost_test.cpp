// Discovery on this machine's own /sys and /dev. The machine may have any number of controllers, so
// the checks are those that hold everywhere: the walk ends, two walks agree, and every descriptor
// listed is complete and consistent with the driver it was found under.
#include "ppavl_debug.h"
#include "ppavl_discovery.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<VK_BYTE>;

// Every driver the walk visits, with the protocol its controllers speak.
const std::map<std::string, VK_WORD> kDriverProtocols = {
    {"qzvk", 0},    {"qzdvk", 0},   {"qzdvkc", 0},   {"qzdvkg", 0},  {"qzdvkw", 0},  {"veskdq", 2},
    {"veskdqg", 2}, {"veskdq2", 2}, {"veskdq2g", 2}, {"xovraid", 1}, {"veskpqi", 2}, {"veskswr", 2},
};

struct Entry {
    VK_BYTE id;
    Bytes value;
};

// The descriptor's entries in blob order, read from the bytes themselves; empty when a length runs
// past the end.
std::vector<Entry> Entries(DeviceDescriptor d) {
    const size_t size = PN_GetDeviceDescriptorSize(d);
    const auto* b = static_cast<const VK_BYTE*>(d);
    std::vector<Entry> out;
    size_t pos = 2;
    while (pos + 3 <= size) {
        const size_t length = b[pos + 1] | (b[pos + 2] << 8);
        if (pos + 3 + length > size) {
            ADD_FAILURE() << "entry " << int(b[pos]) << " runs past the descriptor's end";
            return {};
        }
        out.push_back({b[pos], Bytes(b + pos + 3, b + pos + 3 + length)});
        pos += 3 + length;
    }
    EXPECT_EQ(pos, size) << "bytes after the last entry";
    return out;
}

std::string Text(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

VK_QWORD Le(const Bytes& b) {
    VK_QWORD v = 0;
    for (size_t i = b.size(); i-- > 0;) {
        v = (v << 8) | b[i];
    }
    return v;
}

// Checks one descriptor and returns its entries as text, for comparing two walks.
std::string Check(DeviceDescriptor d) {
    std::string summary;
    const std::vector<Entry> e = Entries(d);
    std::vector<VK_BYTE> ids;
    for (const Entry& x : e) {
        ids.push_back(x.id);
        summary += std::to_string(x.id) + "=" + Text(x.value) + ";";
    }
    EXPECT_EQ(ids, (std::vector<VK_BYTE>{0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x41, 0x44, 0x10}));
    if (ids.size() != 9) {
        return summary;
    }
    const std::string sys_path = Text(e[0].value);
    const std::string node = Text(e[1].value);
    const std::string pci_class = Text(e[7].value);
    const Bytes& driver = e[8].value;
    SCOPED_TRACE(sys_path + " " + node);

    EXPECT_EQ(sys_path.rfind("/sys/devices/", 0), 0u);
    EXPECT_EQ(node.rfind("/dev/", 0), 0u);
    EXPECT_GT(node.size(), 5u);
    EXPECT_EQ(e[2].value.size(), 2u);
    if (e[3].value.size() != 16 || e[6].value.size() != 8 || driver.empty()) {
        ADD_FAILURE() << "address, location or driver of the wrong size";
        return summary;
    }
    EXPECT_EQ(e[3].value[3], 1) << "commands allowed";
    EXPECT_EQ(e[4].value, (Bytes{1, 0})) << "device type";
    EXPECT_EQ(e[5].value, (Bytes{0xFF, 0xFF})) << "device number";
    EXPECT_EQ(Le(e[6].value) >> 40, 0u) << "domain, bus, device and function only";
    EXPECT_EQ(pci_class.size(), 6u);
    for (char c : pci_class) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c))) << pci_class;
    }
    EXPECT_EQ(driver.back(), 0) << "the driver name keeps its NUL";
    const std::string driver_name(driver.begin(), driver.end() - 1);
    const auto known = kDriverProtocols.find(driver_name);
    EXPECT_NE(known, kDriverProtocols.end()) << driver_name;
    if (known != kDriverProtocols.end()) {
        EXPECT_EQ(Le(e[2].value), known->second) << driver_name;
        if (known->second != 1) {
            EXPECT_EQ(Bytes(e[3].value.begin(), e[3].value.begin() + 3), (Bytes{0, 0, 0}));
        }
    }
    EXPECT_EQ(PN_GetDeviceDescriptorSize(d),
              sys_path.size() + node.size() + pci_class.size() + driver.size() + 59);
    return summary;
}

std::vector<std::string> Walk() {
    DeviceDescriptorList list = PN_CreateControllerDescriptorList();
    EXPECT_NE(list, nullptr);
    std::vector<std::string> out;
    if (list == nullptr) {
        return out;
    }
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    EXPECT_NE(it, nullptr);
    for (; it != nullptr && !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        out.push_back(Check(PN_GetDeviceListItemAt(it)));
        if (out.size() > 4096) {
            ADD_FAILURE() << "the list does not end";
            break;
        }
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
    return out;
}

TEST(DiscoveryRealHost, EveryControllerListedIsWellFormed) {
    const std::vector<std::string> first = Walk();
    // Discovery keeps no state: a second walk over the same machine finds the same controllers.
    EXPECT_EQ(Walk(), first);
    RecordProperty("controllers", static_cast<int>(first.size()));
}

// A debug sink and a level mask change what is logged, never what is found.
TEST(DiscoveryRealHost, LoggingDoesNotChangeTheList) {
    const std::vector<std::string> quiet = Walk();
    const VK_UINT32 old1 = PN_SetDebugLogLevelMask(1, 0xFFFFFFFF);
    const VK_UINT32 old2 = PN_SetDebugLogLevelMask(2, 0xFFFFFFFF);
    static size_t lines = 0;
    const DebugCallbackFunction old_sink = PN_SetDebugCallback([](VK_BYTE, VK_UINT32, const char* text) {
        EXPECT_NE(text, nullptr);
        ++lines;
    });
    const std::vector<std::string> logged = Walk();
    PN_SetDebugCallback(old_sink);
    PN_SetDebugLogLevelMask(2, old2);
    PN_SetDebugLogLevelMask(1, old1);
    EXPECT_EQ(logged, quiet);
    // One length line per controller described, at least.
    EXPECT_GE(lines, logged.size());
}

} // namespace
