// The CSMI SAS interface against a simulated CSMI-capable node: the request senders, the topology
// walk (a tree with an expander loop) and commands to the devices it describes.
#include "qvsim/gtest.h"

#include "pavl_csmi.h"
#include "pavl_descriptor.h"
#include "pavl_linux_x86.h"
#include "ppavl_commands.h"
#include "ppavl_discovery.h"

#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr const char* kNode = "/dev/csmi0";
constexpr const char* kDisk1 = "5000C50000000001";
constexpr const char* kEnclosure = "5000C50000000002";
constexpr const char* kDisk3 = "5000C50000000003";
constexpr const char* kExpanderA = "500605B000000010";
constexpr const char* kExpanderB = "500605B000000020";

std::string Hex(const VK_BYTE* p, size_t n) {
    return qvsim::hex_bytes(p, n);
}

std::string Spaced(const std::string& digits) {
    std::string out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        out += (i ? " " : "") + digits.substr(i, 2);
    }
    return out;
}

// A disk and an enclosure, an expander A on controller phy 1 leading to expander B, whose phy 0
// leads back to A.
qvsim::CsmiNode Topology() {
    qvsim::CsmiNode n;
    n.add_end_device(kDisk1);
    n.add_end_device(kEnclosure, 13).product = "SIM ENCLOSURE";
    n.add_end_device(kDisk3);
    n.add_expander(kExpanderA).phys = {
        {.attached = n.sas_address}, {.attached = kEnclosure}, {.attached = kExpanderB}};
    n.add_expander(kExpanderB).phys = {{.attached = kExpanderA, .attached_phy = 2}, {.attached = kDisk3}};
    n.phy(kDisk1).phy(kExpanderA);
    return n;
}

// The controller's descriptor as an embedding program would make it: controller number 7 in the
// address, commands accepted, and room for the parent.
struct ControllerDescriptor {
    DeviceDescriptor d = nullptr;
    explicit ControllerDescriptor(bool with_parent = true) {
        const VK_WORD protocol = kProtocolTypeCSMI;
        const VK_WORD type = 1;
        const VK_WORD number = 0xFFFF;
        const VK_BYTE address[16] = {0, 0, 0, 1, 7, 0, 0, 0};
        const VK_BYTE parent[16] = {};
        std::vector<DeviceDescriptorEntry> entries = {
            {kDevicePropertyNodeName, kNode, std::strlen(kNode)},
            {kDevicePropertyProtocolType, &protocol, sizeof(protocol)},
            {kDevicePropertyProtocolAddress, address, sizeof(address)},
            {kDevicePropertyDeviceType, &type, sizeof(type)},
            {kDevicePropertyDeviceNumber, &number, sizeof(number)},
        };
        if (with_parent) {
            entries.push_back({kDevicePropertyCSMIParent, parent, sizeof(parent)});
        }
        d = _PN_BuildDeviceDescriptor(entries);
    }
    ~ControllerDescriptor() { PN_DestroyDeviceDescriptor(d); }
};

std::string Property(DeviceDescriptor d, VK_BYTE id) {
    VK_BYTE b[32] = {};
    const VK_WORD n = PN_GetDeviceSystemPropertySize(d, id);
    EXPECT_EQ(PN_GetDeviceSystemProperty(d, id, b, sizeof(b)), 0) << int(id);
    return Hex(b, n);
}

class CSMINode : public qvsim::SimHostTest {
protected:
    std::vector<DeviceDescriptor> Walk(DeviceDescriptor controller) {
        list_ = PN_CreateHostBusAdapterDescriptorList();
        __PopulateCSMIPhysicalDeviceDescriptorList(controller, list_);
        std::vector<DeviceDescriptor> out;
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            out.push_back(PN_GetDeviceListItemAt(it));
        }
        PN_DestroyDeviceListIterator(it);
        return out;
    }
    void TearDown() override {
        PN_DestroyDeviceDescriptorList(list_);
        list_ = nullptr;
        qvsim::SimHostTest::TearDown();
    }

    // The requests of one code on the node.
    std::vector<qvsim::RequestRecord> Requests(unsigned long code) {
        std::vector<qvsim::RequestRecord> out;
        for (const auto& r : host().requests(kNode)) {
            if (r.op == "ioctl" && r.request == code) {
                out.push_back(r);
            }
        }
        return out;
    }

private:
    DeviceDescriptorList list_ = nullptr;
};

TEST_F(CSMINode, WalkDescribesEveryDeviceOnceThroughAnExpanderLoop) {
    qvsim::Scenario s;
    qvsim::add_csmi_node(s, Topology());
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    ControllerDescriptor controller;
    const auto found = Walk(controller.d);

    struct Expected {
        const char* sas;
        const char* type;
        std::string parent;
        char phy;
    };
    const std::string none = "00 00 00 00 00 00 00 00";
    const Expected expected[] = {
        {kDisk1, "02 00", none, 0},
        {kExpanderA, "05 00", none, 1},
        {kEnclosure, "04 00", "01 00 00 00 00 00 00 00 " + Spaced(kExpanderA), 1},
        {kExpanderB, "05 00", "02 00 00 00 00 00 00 00 " + Spaced(kExpanderA), 1},
        {kDisk3, "02 00", "01 00 00 00 00 00 00 00 " + Spaced(kExpanderB), 1},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(expected[i].sas);
        const std::string phy = expected[i].phy == 0 ? "00" : "01";
        EXPECT_EQ(Property(found[i], kDevicePropertyProtocolAddress),
                  phy + " 00 00 01 07 00 00 00 " + Spaced(expected[i].sas));
        EXPECT_EQ(Property(found[i], kDevicePropertyDeviceType), expected[i].type);
        if (expected[i].parent == none) {
            EXPECT_EQ(Property(found[i], kDevicePropertyCSMIParent), "00 00 00 00 00 00 00 00 " + none);
        } else {
            EXPECT_EQ(Property(found[i], kDevicePropertyCSMIParent), expected[i].parent);
        }
        EXPECT_EQ(Property(found[i], kDevicePropertyNodeName),
                  Hex(reinterpret_cast<const VK_BYTE*>(kNode), 10));
    }

    // The walk asked once for the phys, with the controller's number; each expander was asked
    // for its general report once, however often the loop led back to it.
    const auto phy_info = Requests(kCSMISASPhyInfoRequest);
    ASSERT_EQ(phy_info.size(), 1u);
    EXPECT_EQ(phy_info[0].decoded.value("controller_number", 0u), 0xFFFFu);
    EXPECT_EQ(phy_info[0].decoded.value("length", 0u), 2096u);
    int general_a = 0;
    int general_b = 0;
    int discover = 0;
    for (const auto& r : Requests(kCSMISASSMPPassthroughRequest)) {
        const std::string request = r.decoded.value("request", "");
        const std::string to = r.decoded.value("sas_address", "");
        if (request.rfind("40 00", 0) == 0) {
            general_a += to == Spaced(kExpanderA);
            general_b += to == Spaced(kExpanderB);
        } else {
            EXPECT_EQ(request.rfind("40 10", 0), 0u) << request;
            ++discover;
        }
        EXPECT_EQ(r.decoded.value("phy", 0u), 1u);
    }
    EXPECT_EQ(general_a, 1);
    EXPECT_EQ(general_b, 1);
    EXPECT_EQ(discover, 3 + 2);
    EXPECT_EQ(Requests(kCSMISASSSPPassthroughRequest).size(), 3u);
}

TEST_F(CSMINode, DescribedDevicesTakeCommandsThroughTheController) {
    qvsim::Scenario s;
    qvsim::add_csmi_node(s, Topology());
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    ControllerDescriptor controller(false);
    const auto found = Walk(controller.d);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(PN_GetDeviceSystemPropertySize(found[0], kDevicePropertyCSMIParent), 0);
    host().clear_requests();

    ASSERT_EQ(PN_CanExecuteSCSICommand(found[0]), kCanExecuteSCSICommandOK);
    VK_BYTE cdb[6] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
    VK_BYTE data[96] = {};
    SCSIRequest request{};
    request.transfer_type = eDATA_TRANSFER_IN;
    request.timeout_sec = 10;
    request.cdb = cdb;
    request.cdb_size = sizeof(cdb);
    request.io_buffer = data;
    request.io_buffer_size = sizeof(data);
    EXPECT_EQ(PN_ExecuteSCSICommand(found[0], &request), eCOMMAND_STATUS_OK);
    EXPECT_EQ(request.scsi_status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 16), 12), "SIM SAS DISK");
    const auto ssp = Requests(kCSMISASSSPPassthroughRequest);
    ASSERT_EQ(ssp.size(), 1u);
    // The controller number comes from the device's address, the destination from its SAS address.
    EXPECT_EQ(ssp[0].decoded.value("controller_number", 0u), 7u);
    EXPECT_EQ(ssp[0].decoded.value("sas_address", ""), Spaced(kDisk1));
    EXPECT_EQ(ssp[0].decoded.value("length", 0u), 392u + 96u);

    // An unknown opcode comes back as CHECK CONDITION with its sense.
    VK_BYTE bad[6] = {0xE7, 0, 0, 0, 0, 0};
    VK_BYTE sense[32] = {};
    request.cdb = bad;
    request.transfer_type = eDATA_TRANSFER_NONE;
    request.io_buffer = nullptr;
    request.io_buffer_size = 0;
    request.sense_data = sense;
    request.sense_data_size = sizeof(sense);
    EXPECT_EQ(PN_ExecuteSCSICommand(found[0], &request), eCOMMAND_STATUS_OK);
    EXPECT_EQ(request.scsi_status, 2);
    EXPECT_GT(request.valid_sense_data_size, 0u);
    EXPECT_EQ(sense[2] & 0x0F, 0x05);
}

TEST_F(CSMINode, SendersAndTheDriversAnswers) {
    qvsim::Scenario s;
    qvsim::CsmiNode n = Topology();
    n.return_codes[kCSMISASSMPPassthroughRequest] = 1;
    n.reported_phys = 200; // more than the buffer's 32 slots
    qvsim::add_csmi_node(s, n);
    ASSERT_NO_FATAL_FAILURE(StartHost(s));
    int handle = -1;
    ASSERT_EQ(_PN_OpenDeviceNode(kNode, &handle, kFalse), 0u);

    CSMI_SAS_DRIVER_INFO_BUFFER driver;
    EXPECT_EQ(SendCSMISASDriverInformationCommand(handle, 0, &driver), 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(driver.Information), "qvcsmi");
    CSMI_SAS_CNTLR_CONFIG_BUFFER config;
    EXPECT_EQ(SendCSMISASControllerConfigCommand(handle, 0, &config), 0u);
    CSMI_SAS_CNTLR_STATUS_BUFFER status;
    EXPECT_EQ(SendCSMISASControllerStatusCommand(handle, 0, &status), 0u);
    EXPECT_EQ(status.Status[0], 1); // the node's status word, low byte first

    const VK_BYTE sas[8] = {0x50, 0x00, 0xC5, 0x00, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(SendCSMISASPauseBackgroundActivityCommand(handle, 3, 9, sas, kTrue), 0u);
    EXPECT_EQ(SendCSMISASPauseBackgroundActivityCommand(handle, 3, 9, sas, kFalse), 0u);
    const auto pause = Requests(kCSMISASPauseActivityRequest);
    const auto resume = Requests(kCSMISASResumeActivityRequest);
    ASSERT_EQ(pause.size(), 1u);
    ASSERT_EQ(resume.size(), 1u);
    EXPECT_EQ(pause[0].decoded.value("sas_address", ""), Spaced(kDisk1));
    EXPECT_EQ(pause[0].decoded.value("length", 0u), 112u);

    // The driver's refusal in the header is a failure, and nothing of the frame is taken.
    VK_BYTE type = 0x40;
    VK_BYTE function = 0x00;
    VK_BYTE result = 0xAB;
    VK_BYTE length = 0xAB;
    VK_BYTE request[4] = {};
    VK_BYTE response[64];
    std::memset(response, 0x77, sizeof(response));
    const VK_BYTE expander[8] = {0x50, 0x06, 0x05, 0xB0, 0x00, 0x00, 0x00, 0x10};
    EXPECT_EQ(SendCSMISASSMPCommand(handle, 0, 1, 0, expander, &type, &function, 0, 0, request, 4, &result,
                                    &length, response, sizeof(response)),
              1u);
    EXPECT_EQ(result, 0xAB);
    EXPECT_EQ(response[0], 0x77);
    _PN_CloseDeviceNode(handle);

    // The phy count past the buffer's slots is clamped; with SMP refused the expander is listed
    // but not walked.
    ControllerDescriptor controller;
    const auto found = Walk(controller.d);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(Property(found[1], kDevicePropertyDeviceType), "05 00");
}

} // namespace
