// The CSMI topology walk over a scripted SAS domain, and the descriptors made from what it finds.
#include "pavl_csmi.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace {

using transport_test::Descriptor;
using transport_test::Hex;
using transport_test::LogCapture;

using Sas = std::uint64_t;

std::array<VK_BYTE, 8> Bytes(Sas sas) {
    std::array<VK_BYTE, 8> b{};
    for (int i = 0; i < 8; ++i) {
        b[i] = static_cast<VK_BYTE>(sas >> (56 - 8 * i));
    }
    return b;
}

Sas FromBytes(const VK_BYTE* p) {
    Sas v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

constexpr Sas kController = 0x5001D7A000000000;

// What hangs off a phy.
struct Link {
    Sas sas = 0;
    unsigned kind = 0; // DISCOVER's attached device type: 1 end device, 2 expander
    VK_BYTE targets = 0;
    bool virtual_phy = false;
};

struct EndDevice {
    VK_BYTE peripheral_type = 0;
    const char* product = "SIM SAS DISK";
    VK_DWORD result = 0;
    VK_BYTE status = 0;
};

// A SAS domain answering the walk's requests, and a record of what was asked.
class FakeDomain : public CSMIWalkTransport {
public:
    void ControllerPhy(const Link& link) {
        CSMI_SAS_PHY_ENTITY e{};
        e.Identify.bDeviceType = kCSMISASEndDevice;
        const auto own = Bytes(kController);
        std::memcpy(e.Identify.bSASAddress, own.data(), 8);
        e.Identify.bPhyIdentifier = static_cast<VK_BYTE>(phys_.size());
        e.bPortIdentifier = static_cast<VK_BYTE>(0x10 + phys_.size());
        e.bNegotiatedLinkRate = 0x0A;
        e.Attached.bDeviceType = static_cast<VK_BYTE>(link.kind << 4);
        e.Attached.bTargetPortProtocol = link.targets;
        const auto attached = Bytes(link.sas);
        std::memcpy(e.Attached.bSASAddress, attached.data(), 8);
        phys_.push_back(e);
    }

    VK_DWORD PhyInfo(CSMI_SAS_PHY_INFO_BUFFER* buffer) override {
        ++phy_info_requests;
        buffer->IoctlHeader.ReturnCode = phy_info_return_code;
        buffer->bNumberOfPhys = reported_phys ? reported_phys : static_cast<VK_BYTE>(phys_.size());
        for (size_t i = 0; i < phys_.size() && i < kCSMISASMaxPhys; ++i) {
            buffer->Phy[i] = phys_[i];
        }
        return phy_info_result;
    }

    VK_DWORD Inquiry(VK_BYTE phy, const VK_BYTE* sas_address, VK_BYTE* data, VK_DWORD data_size,
                     VK_BYTE* status) override {
        const Sas sas = FromBytes(sas_address);
        inquiries.push_back({phy, sas});
        auto it = end_devices.find(sas);
        if (it == end_devices.end()) {
            return EIO;
        }
        EXPECT_EQ(data_size, 0x74u);
        std::memset(data, ' ', data_size);
        data[0] = it->second.peripheral_type;
        std::memcpy(data + 16, it->second.product, std::strlen(it->second.product));
        std::memcpy(data + 32, "REVX", 4); // right behind the product field: nothing ends it
        *status = it->second.status;
        return it->second.result;
    }

    VK_DWORD SMP(VK_BYTE phy, VK_BYTE port, const VK_BYTE* sas_address, VK_BYTE function,
                 const VK_BYTE* request, VK_DWORD request_size, VK_BYTE* function_result, VK_BYTE* response,
                 VK_DWORD response_size) override {
        const Sas sas = FromBytes(sas_address);
        EXPECT_GE(response_size, 40u);
        auto it = expanders.find(sas);
        if (it == expanders.end()) {
            return EIO;
        }
        const auto& links = it->second;
        // Response bytes are frame bytes 4 on.
        auto frame = [&](size_t offset) -> VK_BYTE& { return response[offset - 4]; };
        *function_result = 0;
        if (function == kSMPReportGeneral) {
            EXPECT_EQ(request_size, 4u);
            smp.push_back({phy, port, sas, function, 0});
            frame(9) = static_cast<VK_BYTE>(links.size());
            return 0;
        }
        EXPECT_EQ(function, kSMPDiscover);
        EXPECT_EQ(request_size, 12u);
        const VK_BYTE asked = request[9 - 4];
        smp.push_back({phy, port, sas, function, asked});
        if (asked >= links.size()) {
            *function_result = 0x10; // phy does not exist
            return 0;
        }
        const Link& l = links[asked];
        frame(12) = static_cast<VK_BYTE>(l.kind << 4);
        frame(13) = 0x0B;
        frame(15) = l.targets;
        const auto own = Bytes(sas);
        const auto attached = Bytes(l.sas);
        std::memcpy(&frame(16), own.data(), 8);
        std::memcpy(&frame(24), attached.data(), 8);
        frame(43) = l.virtual_phy ? 0x80 : 0x00;
        return 0;
    }

    void Sleep(VK_DWORD ms) override { sleeps.push_back(ms); }

    struct Inq {
        VK_BYTE phy;
        Sas sas;
    };
    struct SmpCall {
        VK_BYTE phy;
        VK_BYTE port;
        Sas sas;
        VK_BYTE function;
        VK_BYTE asked_phy;
    };

    std::map<Sas, EndDevice> end_devices;
    std::map<Sas, std::vector<Link>> expanders;
    VK_BYTE reported_phys = 0;
    VK_DWORD phy_info_result = 0;
    VK_UINT64 phy_info_return_code = 0;
    int phy_info_requests = 0;
    std::vector<Inq> inquiries;
    std::vector<SmpCall> smp;
    std::vector<VK_DWORD> sleeps;

private:
    std::vector<CSMI_SAS_PHY_ENTITY> phys_;
};

Link End(Sas sas, VK_BYTE targets = kCSMISASProtocolSSP) {
    return {sas, 1, targets, false};
}
Link Expander(Sas sas) {
    return {sas, 2, kCSMISASProtocolSMP, false};
}

struct Found {
    VK_BYTE type;
    VK_BYTE phy;
    Sas sas;
    VK_BYTE parent_phy;
    Sas parent;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Found& f) {
    return os << std::hex << "{type " << int(f.type) << " phy " << int(f.phy) << " sas " << f.sas
              << " parent " << int(f.parent_phy) << "/" << f.parent << "}";
}

// Walks the domain and returns what was listed.
std::vector<Found> Walk(FakeDomain& domain) {
    CSMIPhysicalDeviceInfoList devices{nullptr, nullptr};
    __CSMIWalk(domain, &devices);
    std::vector<Found> out;
    for (const CSMIPhysicalDeviceInfo* d = devices.list_head; d != nullptr; d = d->next_item) {
        out.push_back({d->device_type, d->device_address.phy_identifier,
                       FromBytes(d->device_address.sas_address), d->parent_device_address.phy_identifier,
                       FromBytes(d->parent_device_address.sas_address)});
    }
    __FreeCSMIPhysicalDeviceInfoList(&devices);
    return out;
}

constexpr Sas D1 = 0x5000C50000000001, D2 = 0x5000C50000000002, D3 = 0x5000C50000000003,
              V1 = 0x5000C500000000F1, T1 = 0x5000C500000000A1, S1 = 0x5000C500000000E1,
              E1 = 0x500605B000000010, E2 = 0x500605B000000020;

TEST(CSMIWalk, TreeWithASecondPathAndABackLink) {
    FakeDomain domain;
    domain.end_devices = {
        {D1, {}}, {D2, {}}, {D3, {}}, {V1, {}}, {T1, {1, "SIM TAPE"}}, {S1, {13, "SIM ENCLOSURE"}}};
    domain.expanders[E1] = {{kController, 1, 0, false}, End(D2), End(S1), Expander(E2), Expander(E1)};
    domain.expanders[E2] = {Expander(E1), End(D3, kCSMISASProtocolSATA), End(D2), {V1, 1, 0, true}};
    domain.ControllerPhy(End(D1));
    domain.ControllerPhy(Expander(E1));
    domain.ControllerPhy(End(T1));
    domain.ControllerPhy({}); // nothing attached

    LogCapture log;
    const std::vector<Found> found = Walk(domain);
    const std::vector<Found> expected = {
        {0x10, 0, D1, 0, 0},  {0x20, 1, E1, 0, 0},  {0x10, 1, D2, 1, E1}, {0x1D, 1, S1, 2, E1},
        {0x20, 1, E2, 3, E1}, {0x10, 1, D3, 1, E2}, {0x10, 1, V1, 3, E2},
    };
    EXPECT_EQ(found, expected);

    // Every expander phy is discovered once, 50 milliseconds apart, through the controller phy and
    // port that reach the expander.
    EXPECT_EQ(domain.sleeps, std::vector<VK_DWORD>(9, 50));
    ASSERT_EQ(domain.smp.size(), 11u);
    for (const auto& c : domain.smp) {
        EXPECT_EQ(c.phy, 1);
        EXPECT_EQ(c.port, 0x11);
    }
    EXPECT_EQ(domain.smp[0].function, kSMPReportGeneral);
    EXPECT_EQ(domain.smp[0].sas, E1);
    std::vector<int> e1_phys;
    for (const auto& c : domain.smp) {
        if (c.sas == E1 && c.function == kSMPDiscover) {
            e1_phys.push_back(c.asked_phy);
        }
    }
    EXPECT_EQ(e1_phys, (std::vector<int>{0, 1, 2, 3, 4}));
    // D2 is asked again on its second path but listed once; the tape is asked and not listed.
    EXPECT_EQ(domain.inquiries.size(), 7u);

    std::vector<std::string> texts;
    for (const auto& l : log.lines()) {
        texts.push_back(l.text.substr(l.text.find(": ") + 2));
    }
    EXPECT_NE(
        std::find(texts.begin(), texts.end(), "Sequential Access Device. Product ID: SIM TAPE        \n"),
        texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "SES Device. Product ID: SIM ENCLOSURE   \n"),
              texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Direct Access Device. Product ID: SIM SAS DISK    \n"),
              texts.end());
}

TEST(CSMIWalk, ExpanderCycleEnds) {
    constexpr Sas EA = 0x500605B0000000A0, EB = 0x500605B0000000B0, EC = 0x500605B0000000C0;
    FakeDomain domain;
    domain.end_devices = {{D1, {}}};
    domain.expanders[EA] = {Expander(EB), End(D1)};
    domain.expanders[EB] = {Expander(EA), Expander(EC)};
    domain.expanders[EC] = {Expander(EA), Expander(EB)};
    domain.ControllerPhy(Expander(EA));
    domain.ControllerPhy(Expander(EB)); // a second path into the loop

    const std::vector<Found> found = Walk(domain);
    const std::vector<Found> expected = {
        {0x20, 0, EA, 0, 0}, {0x20, 0, EB, 0, EA}, {0x20, 0, EC, 1, EB}, {0x10, 0, D1, 1, EA}};
    EXPECT_EQ(found, expected);
    // Each expander is asked for its general report once.
    int reports = 0;
    for (const auto& c : domain.smp) {
        reports += c.function == kSMPReportGeneral;
    }
    EXPECT_EQ(reports, 3);
    EXPECT_EQ(domain.sleeps.size(), 6u);
}

TEST(CSMIWalk, PhyCountIsClampedToTheBuffersSlots) {
    FakeDomain domain;
    for (Sas i = 0; i < 32; ++i) {
        domain.end_devices[D1 + 0x100 + i] = {};
        domain.ControllerPhy(End(D1 + 0x100 + i));
    }
    domain.reported_phys = 255;
    EXPECT_EQ(Walk(domain).size(), 32u);
    EXPECT_EQ(domain.inquiries.size(), 32u);
}

TEST(CSMIWalk, FailuresDropTheDeviceOrEndTheWalk) {
    {
        FakeDomain domain;
        domain.end_devices = {{D1, {0, "X", EIO, 0}}, {D2, {0, "X", 0, 0x02}}, {D3, {}}};
        domain.ControllerPhy(End(D1));
        domain.ControllerPhy(End(D2)); // CHECK CONDITION
        domain.ControllerPhy(End(D3));
        domain.ControllerPhy(Expander(E1)); // answers no SMP
        const std::vector<Found> found = Walk(domain);
        const std::vector<Found> expected = {{0x10, 2, D3, 0, 0}, {0x20, 3, E1, 0, 0}};
        EXPECT_EQ(found, expected);
        EXPECT_TRUE(domain.sleeps.empty());
    }
    const struct {
        VK_DWORD result;
        VK_UINT64 return_code;
        const char* line;
    } phy_info_failures[] = {
        {EIO, 0, "CSMI GetPhyInfo failed. ReturnCode: 0x00000005\n"},
        {0, 3, "CSMI GetPhyInfo failed. ReturnCode: 0x00000003\n"},
    };
    for (const auto& f : phy_info_failures) {
        SCOPED_TRACE(f.line);
        FakeDomain domain;
        domain.end_devices = {{D1, {}}};
        domain.ControllerPhy(End(D1));
        domain.phy_info_result = f.result;
        domain.phy_info_return_code = f.return_code;
        LogCapture log;
        EXPECT_TRUE(Walk(domain).empty());
        EXPECT_TRUE(domain.inquiries.empty());
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].level, 1);
        EXPECT_EQ(log.lines()[0].text.substr(log.lines()[0].text.find(": ") + 2), f.line);
    }
}

TEST(CSMIDescriptors, DeviceTypes) {
    const struct {
        VK_BYTE listed;
        VK_WORD type;
    } cases[] = {{0x10, 2}, {0x1D, 4}, {0x0D, 4},  {0x11, 3}, {0x01, 3},
                 {0x20, 5}, {0x30, 5}, {0x00, 99}, {0x40, 99}};
    for (const auto& c : cases) {
        EXPECT_EQ(__CSMIDescriptorDeviceType(c.listed), c.type) << int(c.listed);
    }
}

CSMIPhysicalDeviceInfo Listed(VK_BYTE type, VK_BYTE phy, Sas sas, VK_BYTE parent_phy, Sas parent) {
    CSMIPhysicalDeviceInfo d{};
    d.device_type = type;
    d.device_address.phy_identifier = phy;
    const auto a = Bytes(sas);
    std::memcpy(d.device_address.sas_address, a.data(), 8);
    d.parent_device_address.phy_identifier = parent_phy;
    const auto p = Bytes(parent);
    std::memcpy(d.parent_device_address.sas_address, p.data(), 8);
    return d;
}

std::string Property(DeviceDescriptor d, VK_BYTE id) {
    VK_BYTE b[16] = {};
    const VK_WORD n = PN_GetDeviceSystemPropertySize(d, id);
    EXPECT_EQ(PN_GetDeviceSystemProperty(d, id, b, sizeof(b)), 0);
    return Hex(b, n);
}

TEST(CSMIDescriptors, EachDeviceIsAPatchedCopyOfTheController) {
    CSMIPhysicalDeviceInfo disk = Listed(0x10, 4, D1, 2, E1);
    CSMIPhysicalDeviceInfo expander = Listed(0x20, 1, E1, 0, 0);
    disk.next_item = &expander;
    const CSMIPhysicalDeviceInfoList devices{&disk, &expander};

    Descriptor with_parent;
    with_parent.Node("/dev/csmi0").Protocol(kProtocolTypeCSMI);
    with_parent.Address({0, 0, 0, 1, 2, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE});
    with_parent.DeviceType(1).Word(kDevicePropertyDeviceNumber, 0xFFFF);
    with_parent.Add(kDevicePropertyCSMIParent, transport_test::Bytes(16, 0xEE));
    DeviceDescriptorList list = PN_CreateHostBusAdapterDescriptorList();
    ASSERT_NE(list, nullptr);
    __AppendCSMIDeviceDescriptors(with_parent.get(), &devices, list);

    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
    DeviceDescriptor d = PN_GetDeviceListItemAt(it);
    EXPECT_EQ(Property(d, kDevicePropertyProtocolAddress), "04 00 00 01 02 00 00 00 50 00 C5 00 00 00 00 01");
    EXPECT_EQ(Property(d, kDevicePropertyDeviceType), "02 00");
    EXPECT_EQ(Property(d, kDevicePropertyCSMIParent), "02 EE EE EE EE EE EE EE 50 06 05 B0 00 00 00 10");
    EXPECT_EQ(Property(d, kDevicePropertyDeviceNumber), "FF FF");
    PN_MoveDeviceListIteratorNext(it);
    ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
    d = PN_GetDeviceListItemAt(it);
    EXPECT_EQ(Property(d, kDevicePropertyProtocolAddress), "01 00 00 01 02 00 00 00 50 06 05 B0 00 00 00 10");
    EXPECT_EQ(Property(d, kDevicePropertyDeviceType), "05 00");
    PN_MoveDeviceListIteratorNext(it);
    EXPECT_TRUE(PN_IsDeviceListIteratorEnd(it));
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);

    // Without the parent property the copy gains none.
    Descriptor plain;
    plain.Node("/dev/csmi0").Protocol(kProtocolTypeCSMI).Address({}).DeviceType(1);
    list = PN_CreateHostBusAdapterDescriptorList();
    __AppendCSMIDeviceDescriptors(plain.get(), &devices, list);
    it = PN_CreateDeviceListIterator(list);
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(PN_GetDeviceListItemAt(it), kDevicePropertyCSMIParent), 0);
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
}

TEST(CSMIDescriptors, ControllerWithoutANodeOrNumberIsNotWalked) {
    const struct {
        const char* name;
        bool node;
        bool number;
        const char* path;
        const char* line;
    } cases[] = {
        {"no node", false, true, "", "Node open failed. Code: 0x00000001\n"},
        {"no device number", true, false, "/dev/null", "Node open failed. Code: 0x00000001\n"},
        {"node missing on the host", true, true, "/nonexistent/csmi0",
         "Node open failed. Code: 0x00000002\n"},
        {"node of a driver without CSMI", true, true, "/dev/null",
         "CSMI GetPhyInfo failed. ReturnCode: 0x00000019\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Descriptor controller;
        if (c.node) {
            controller.Node(c.path);
        }
        controller.Protocol(kProtocolTypeCSMI).DeviceType(1);
        if (c.number) {
            controller.Word(kDevicePropertyDeviceNumber, 0xFFFF);
        }
        DeviceDescriptorList list = PN_CreateHostBusAdapterDescriptorList();
        LogCapture log;
        __PopulateCSMIPhysicalDeviceDescriptorList(controller.get(), list);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_EQ(log.lines()[0].text.substr(log.lines()[0].text.find(": ") + 2), c.line);
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        EXPECT_TRUE(PN_IsDeviceListIteratorEnd(it));
        PN_DestroyDeviceListIterator(it);
        PN_DestroyDeviceDescriptorList(list);
    }
}

} // namespace
