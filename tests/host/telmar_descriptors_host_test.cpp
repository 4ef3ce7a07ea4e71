// Host descriptors kept in the device records, the matching of host volumes to logical and physical
// drives, and the record reloads of re-enumeration, against a simulated controller and host volumes.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pavl_descriptor.h"
#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/block.h"
#include "qvsim/fw_inventory.h"
#include "qvsim/fw_state.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;
using telmar_host::ControllerHost;

constexpr const char* kController = "0000:3b:00.0";

// A descriptor holding only a unique-volume-id property of these bytes (none: no such property).
struct OwnedDescriptor {
    DeviceDescriptor d = nullptr;
    explicit OwnedDescriptor(const std::vector<VK_BYTE>* unique_id) {
        const VK_BYTE node[] = {'v'};
        std::vector<DeviceDescriptorEntry> entries{{kDevicePropertyNodeName, node, sizeof(node)}};
        if (unique_id != nullptr) {
            entries.push_back({kDevicePropertyUniqueVolumeID, unique_id->data(), unique_id->size()});
        }
        d = _PN_BuildDeviceDescriptor(entries);
    }
    ~OwnedDescriptor() { PN_DestroyDeviceDescriptor(d); }
};

std::vector<VK_BYTE> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string NodeName(DeviceDescriptor d) {
    char node[256] = {};
    PN_GetDeviceSystemProperty(d, kDevicePropertyNodeName, node, sizeof(node) - 1);
    return node;
}

std::vector<VK_BYTE> ProtocolAddress(DeviceDescriptor d) {
    std::vector<VK_BYTE> address(16);
    PN_GetDeviceSystemProperty(d, kDevicePropertyProtocolAddress, address.data(), 16);
    return address;
}

class DescriptorsHost : public ControllerHost {
protected:
    void Start(FirmwareState state) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }
    _CDA* data() { return _VK_CDA(cda()); }
};

// The physical device numbers whose records hold a descriptor.
std::vector<unsigned> WithHandle(_CDA* c) {
    std::vector<unsigned> out;
    for (unsigned n = 0; n < kMaxPhysicalDrivesSupported; ++n) {
        if (c->pd_record_list[n].physical_drive_handle != nullptr) {
            out.push_back(n);
        }
    }
    return out;
}

VK_WORD DeviceNumber(DeviceDescriptor d) {
    VK_WORD n = 0xFFFF;
    PN_GetDeviceSystemProperty(d, kDevicePropertyDeviceNumber, &n, sizeof(n));
    return n;
}

TEST_F(DescriptorsHost, PhysicalDescriptorsKeepTheFirstForANumberAndSkipNumbersPastTheTable) {
    FirmwareState st;
    for (std::uint16_t pd = 0; pd < 3; ++pd) {
        st.add_drive(pd, 2).bay = static_cast<std::uint8_t>(pd + 1);
    }
    qvsim::FwPhysicalLun seven;
    seven.number = 7;
    st.physical_luns.push_back(seven);
    seven.address = std::array<std::uint8_t, 8>{5, 0, 0, 0, 0, 0, 7, 1}; // the same number, another address
    st.physical_luns.push_back(seven);
    qvsim::FwPhysicalLun far;
    far.number = 500;
    st.physical_luns.push_back(far);
    ASSERT_NO_FATAL_FAILURE(Start(st));

    // What the host reports, in its order: two descriptors for 7 and one for 500.
    std::vector<std::vector<VK_BYTE>> sevens;
    bool saw_500 = false;
    DeviceDescriptorList reference = PN_CreateAllPhysicalDeviceDescriptorList(controller_);
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(reference);
    for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        const VK_WORD n = DeviceNumber(PN_GetDeviceListItemAt(it));
        if (n == 7) {
            sevens.push_back(ProtocolAddress(PN_GetDeviceListItemAt(it)));
        }
        saw_500 = saw_500 || n == 500;
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(reference);
    ASSERT_EQ(sevens.size(), 2u);
    ASSERT_NE(sevens[0], sevens[1]);
    ASSERT_TRUE(saw_500);

    TelmarLogCapture log;
    const VK_WORD in_use = data()->pd_records_in_use;
    EXPECT_TRUE(VK_RequestPhysicalDriveDescriptors(cda()));
    EXPECT_EQ(TelmarLogCapture::Count("Invalid PD descriptor for pd:500\n"), 1u);
    EXPECT_EQ(data()->pd_records_in_use, std::max<VK_WORD>(in_use, 8));
    const std::vector<unsigned> expected{0, 1, 2, 7};
    std::vector<unsigned> held = WithHandle(data());
    held.erase(std::remove_if(held.begin(), held.end(), [](unsigned n) { return n > 7; }), held.end());
    EXPECT_EQ(held, expected);
    EXPECT_EQ(ProtocolAddress(data()->pd_record_list[7].physical_drive_handle), sevens[0]);
    EXPECT_EQ(DeviceNumber(data()->pd_record_list[1].physical_drive_handle), 1);

    // Loaded once: a second call asks the controller nothing.
    host().clear_requests();
    EXPECT_TRUE(VK_RequestPhysicalDriveDescriptors(cda()));
    EXPECT_TRUE(SentCdbs().empty());
}

TEST_F(DescriptorsHost, LogicalDescriptorsPairWithTheDrivesInOrder) {
    FirmwareState st;
    for (std::uint16_t pd = 0; pd < 4; ++pd) {
        st.add_drive(pd, 2).bay = static_cast<std::uint8_t>(pd + 1);
    }
    st.add_configured_drive(0, {0, 1}, 1u << 20, 0);
    st.add_configured_drive(2, {2, 3}, 1u << 20, 0);
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_TRUE(VK_RequestLogicalDriveDescriptors(cda()));
    ASSERT_NE(data()->ld_record_list[0].logical_drive_handle, nullptr);
    ASSERT_NE(data()->ld_record_list[2].logical_drive_handle, nullptr);
    EXPECT_EQ(data()->ld_record_list[1].logical_drive_handle, nullptr);
    EXPECT_EQ(DeviceNumber(data()->ld_record_list[0].logical_drive_handle), 0);
    EXPECT_EQ(DeviceNumber(data()->ld_record_list[2].logical_drive_handle), 2);
}

TEST_F(DescriptorsHost, NoLogicalDrivesStillMarksTheDescriptorsFetched) {
    FirmwareState st;
    st.add_drive(0, 2);
    ASSERT_NO_FATAL_FAILURE(Start(st));
    EXPECT_TRUE(VK_RequestLogicalDriveDescriptors(cda()));
    EXPECT_TRUE(data()->flags[kCDAFlagsModel] & kCDAModelLDDescriptors);
}

// The reload order on the request log: the same reads as the loaders called one by one in this
// order, after the same identification.
TEST_F(DescriptorsHost, ReenumerationReloadsEveryRecordInOrder) {
    FirmwareState st;
    for (std::uint16_t pd = 0; pd < 3; ++pd) {
        st.add_drive(pd, 2).bay = static_cast<std::uint8_t>(pd + 1);
    }
    st.add_drive(8, 6); // an enclosure processor
    st.add_enclosure(0);
    st.add_configured_drive(0, {0, 1}, 1u << 20, 0);
    st.add_configured_drive(1, {2}, 1u << 20, 0);
    ASSERT_NO_FATAL_FAILURE(Start(st));

    ASSERT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    PCDA a = cda();
    VK_RequestIdentifyControllerBuffer(a);
    VK_RequestArrayConfigurationInformation(a);
    VK_RequestFeaturePages(a);
    VK_RequestSenseControllerParametersBuffer(a);
    VK_RequestSenseCacheConfigStatusBuffer(a);
    VK_RequestLUCacheRAMInfoBuffer(a);
    VK_RequestSenseSubsystemParametersBuffer(a);
    VK_RequestGetPowerModeBuffer(a);
    VK_RequestGetDefaultPowerModeBuffer(a);
    VK_RequestSurfaceStatusBuffer(a);
    VK_RequestEraseStatusBuffer(a);
    VK_RequestSenseMNPStatusBuffer(a);
    VK_RequestSenseExpansionAbilityBuffer(a);
    VK_RequestManufacturingData(a);
    VK_RequestRemoteVolumeRecords(a);
    VK_RequestOnlineFirmwareActivationStatus(a);
    VK_RequestEncryptionPasswordRecoveryQuestion(a);
    VK_RequestEncryptionServerName(a);
    VK_RequestEncryptionBootPasswordStatus(a);
    VK_RequestEncryptionKeyManagerStatus(a);
    VK_RequestEncryptionRoleAttributes(a);
    VK_RequestEncryptionKekCacheAttributes(a);
    VK_RequestEncryptionBootStatus(a);
    VK_RequestEncryptionIKekStatus(a);
    VK_RequestEncryptionFeatures(a);
    VK_RequestManagedSEDStatus(a);
    VK_RequestManagedSEDMasterKeyIdentifier(a);
    VK_RequestStorageEnclosureInfo(a);
    for (VK_WORD pd : {0, 1, 2, 8}) {
        VK_RequestIdentifyPhysicalDriveBuffer(a, pd);
    }
    for (VK_WORD ld : {0, 1}) {
        VK_RequestIdentifyLogicalDriveBuffer(a, ld);
        VK_RequestSenseConfigurationBuffer(a, ld);
        VK_RequestSenseLogicalDriveStatusBuffer(a, ld);
        VK_RequestSenseOriginalConfigurationBuffer(a, ld);
        VK_RequestLUCacheStatisticsBuffer(a, ld);
        VK_RequestLUCacheSenseBuffer(a, ld);
    }
    VK_RequestPhysicalDriveDescriptors(a);
    VK_RequestLogicalDriveDescriptors(a);
    const auto expected = SentCdbs();

    host().clear_requests();
    ASSERT_EQ(VK_ReenumerateCDA(cda()), 1);
    const auto sent = SentCdbs();
    EXPECT_EQ(sent, expected);

    // What the record steps add, so the comparison above is not only the controller-level reads.
    const auto first = [&](auto&& is) {
        return std::find_if(sent.begin(), sent.end(), is) - sent.begin();
    };
    const auto bmic = [](int opcode, int device = -1) {
        return [=](const std::vector<VK_BYTE>& cdb) {
            const auto b = qvsim::BmicCdb::parse(cdb);
            if (!b || b->opcode != opcode) {
                return false;
            }
            const unsigned of = opcode == 0x15 ? ((b->detail >> 24) | (b->lun() & 0xFF00u)) : b->lun();
            return device < 0 || of == static_cast<unsigned>(device);
        };
    };
    const auto n = static_cast<std::ptrdiff_t>(sent.size());
    ASSERT_GE(n, 2);
    EXPECT_LT(first(bmic(0x50, 0)), first(bmic(0x66)));    // the array model right after identify
    EXPECT_LT(first(bmic(0xD4)), first(bmic(0x10, 0)));    // logical drives after the controller reads
    EXPECT_LT(first(bmic(0x55, 0)), first(bmic(0x10, 1))); // every read of one drive before the next
    EXPECT_LT(first(bmic(0x15, 8)), first(bmic(0x10, 0))); // devices before logical drives
    EXPECT_EQ(sent[n - 2][0], 0xC3); // physical descriptors from REPORT PHYSICAL LUNS
    EXPECT_EQ(sent[n - 1][0], 0xC2); // then logical ones from REPORT LOGICAL LUNS
    EXPECT_TRUE(data()->flags[kCDAFlagsModel] & kCDAModelPDDescriptors);
    EXPECT_TRUE(data()->flags[kCDAFlagsModel] & kCDAModelLDDescriptors);
    EXPECT_NE(data()->ld_record_list[1].logical_drive_handle, nullptr);
    EXPECT_NE(data()->pd_record_list[8].physical_drive_handle, nullptr);
}

// Unique-id texts over hand-built volume descriptors: the property's bytes, the caller's buffer
// size, the identifier asked for.
struct UniqueIdCase {
    const char* name;
    std::vector<VK_BYTE> property; // empty with absent: no property
    bool absent;
    VK_WORD buffer_size;
    const char* wanted;
    bool match;
    const char* log; // a line that must be logged, or nullptr
};

TEST(StorageVolumeUniqueId, MatchesTheTextOfItsFormat) {
    const UniqueIdCase cases[] = {
        {"binary as upper-case hex", {'B', 0x60, 0x0A}, false, 33, "600A", true, nullptr},
        {"binary compares case-sensitively", {'B', 0x60, 0x0A}, false, 33, "600a", false, nullptr},
        {"binary cut to the buffer", {'B', 0x60, 0x0A}, false, 3, "60", true, nullptr},
        {"text", Bytes("S5000C50000000003"), false, 41, "5000C50000000003", true, nullptr},
        {"text is not a prefix match", Bytes("S5000C50000000003"), false, 41, "5000C5000000000", false, nullptr},
        {"text cut to the buffer", Bytes("SABCDEFG"), false, 4, "ABC", true,
         "Destination for storage volume unique ID not large enough"},
        {"text ends at a NUL", {'S', 'A', 'B', 0, 'C'}, false, 33, "AB", true, nullptr},
        {"another format", Bytes("X600A"), false, 33, "600A", false, "Unsupported StorageVolume unique id format"},
        {"a letter alone, text", Bytes("S"), false, 33, "", false, nullptr},
        {"a letter alone, binary", Bytes("B"), false, 33, "", false, nullptr},
        {"an empty property", {}, false, 33, "", false, nullptr},
        {"no property", {}, true, 33, "", false, nullptr},
        {"a buffer of nothing", Bytes("SABC"), false, 0, "", false,
         "Destination for storage volume unique ID not large enough"},
        {"a buffer of one", Bytes("SABC"), false, 1, "", false,
         "Destination for storage volume unique ID not large enough"},
    };
    for (const UniqueIdCase& c : cases) {
        SCOPED_TRACE(c.name);
        TelmarLogCapture log;
        const OwnedDescriptor volume(c.absent ? nullptr : &c.property);
        ASSERT_NE(volume.d, nullptr);
        EXPECT_EQ(__VK_CheckStorageVolumeUniqueIdMatch(nullptr, volume.d, c.wanted, c.buffer_size) != kFalse, c.match);
        if (c.log != nullptr) {
            EXPECT_EQ(TelmarLogCapture::Count(c.log), 1u);
        } else {
            EXPECT_TRUE(TelmarLogCapture::lines().empty());
        }
    }
}

TEST(StorageVolumeUniqueId, MultiLUNNeedsEveryLUN) {
    const std::vector<VK_BYTE> property = Bytes("S5000C50000000003");
    const OwnedDescriptor volume(&property);
    PHYSICAL_DRIVE_LUN_INFO luns[2] = {};
    std::strcpy(luns[0].wwid_str, "5000C50000000003");
    std::strcpy(luns[1].wwid_str, "5000C50000000003");
    PHYSICAL_DRIVE_LUN_INFO_LIST list{2, luns};
    EXPECT_TRUE(__VK_CheckStorageVolumeMultiLUNUniqueIdMatch(nullptr, volume.d, &list, 41));
    std::strcpy(luns[1].wwid_str, "5000C50000000004");
    EXPECT_FALSE(__VK_CheckStorageVolumeMultiLUNUniqueIdMatch(nullptr, volume.d, &list, 41));
    PHYSICAL_DRIVE_LUN_INFO_LIST empty{0, luns};
    EXPECT_TRUE(__VK_CheckStorageVolumeMultiLUNUniqueIdMatch(nullptr, volume.d, &empty, 41));
    EXPECT_FALSE(__VK_CheckStorageVolumeMultiLUNUniqueIdMatch(nullptr, volume.d, nullptr, 41));
}

// A host volume below the controller, as a drive of the controller would show it.
qvsim::BlockDevice& Volume(qvsim::Scenario& s, const std::string& name, unsigned minor) {
    qvsim::BlockDevice& v = qvsim::add_volume(s, kController, name, minor);
    v.naa.reset();
    return v;
}

class VolumeMatchHost : public DescriptorsHost {
protected:
    void Start(const std::function<void(qvsim::Scenario&)>& volumes) {
        FirmwareState st;
        for (std::uint16_t pd = 0; pd < 4; ++pd) {
            st.add_drive(pd, 2).bay = static_cast<std::uint8_t>(pd + 1);
        }
        st.find_drive(1)->scsi.vpd_serial = "  VPD SERIAL 1 ";
        st.add_configured_drive(0, {0, 1}, 1u << 20, 0);
        add_to_scenario_ = volumes;
        ASSERT_NO_FATAL_FAILURE(DescriptorsHost::Start(st));
        volumes_ = VK_RequestStorageVolumeDescriptorList(cda());
        ASSERT_NE(volumes_, nullptr);
    }
    void TearDown() override {
        PN_DestroyDeviceDescriptorList(volumes_);
        DescriptorsHost::TearDown();
    }

    // The node names of the volumes matched to a physical drive; the result is freed.
    std::vector<std::string> ForDrive(VK_WORD pd, bool* returned_null = nullptr) {
        VK_WORD count = 99;
        DeviceDescriptor* found = VK_RequestStorageVolumeDescriptorForPhysicalDrive(cda(), volumes_, pd, &count);
        if (returned_null != nullptr) {
            *returned_null = found == nullptr;
        }
        std::vector<std::string> out;
        for (VK_WORD i = 0; found != nullptr && i < count; ++i) {
            out.push_back(NodeName(found[i]));
            PN_DestroyDeviceDescriptor(found[i]);
        }
        VK_free(found);
        if (found == nullptr) {
            EXPECT_EQ(count, 0);
        }
        return out;
    }

    // The volumes' node names in the list's order, keeping those in `of`.
    std::vector<std::string> InListOrder(const std::vector<std::string>& of) {
        std::vector<std::string> out;
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(volumes_);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            const std::string node = NodeName(PN_GetDeviceListItemAt(it));
            if (std::find(of.begin(), of.end(), node) != of.end()) {
                out.push_back(node);
            }
        }
        PN_DestroyDeviceListIterator(it);
        return out;
    }

    DeviceDescriptorList volumes_ = nullptr;
};

// Drive 3: model "QVSIM   QD300 SIM", serial "QVSD3", world wide name 5000C50000000003. Drive 1
// has another unit serial number on its VPD page than in its identify data.
TEST_F(VolumeMatchHost, PhysicalDriveByModelAndSerialOrByWorldWideName) {
    ASSERT_NO_FATAL_FAILURE(Start([](qvsim::Scenario& s) {
        auto& by_serial = Volume(s, "sdb", 16);
        by_serial.model = "QD300 SIM";
        by_serial.serial = "QVSD3";
        auto& other_serial = Volume(s, "sdc", 32);
        other_serial.model = "QD300 SIM";
        other_serial.serial = "QVSD2";
        auto& by_wwid = Volume(s, "sdd", 48);
        by_wwid.unique_id = "5000C50000000003";
        auto& other_wwid = Volume(s, "sde", 64);
        other_wwid.unique_id = "5000C50000000002";
        auto& other_model = Volume(s, "sdf", 80);
        other_model.model = "QD400 SIM";
        other_model.serial = "QVSD3";
        auto& by_vpd_serial = Volume(s, "sdg", 96);
        by_vpd_serial.model = "QD300 SIM";
        by_vpd_serial.serial = "VPD SERIAL 1";
    }));
    EXPECT_EQ(ForDrive(3), InListOrder({"/dev/sdb", "/dev/sdd"}));
    EXPECT_EQ(ForDrive(2), InListOrder({"/dev/sdc", "/dev/sde"}));
    EXPECT_EQ(ForDrive(1), (std::vector<std::string>{"/dev/sdg"}));
    bool null = false;
    EXPECT_TRUE(ForDrive(0, &null).empty());
    EXPECT_TRUE(null);
    EXPECT_EQ(VK_RequestStorageVolumeDescriptorForPhysicalDrive(cda(), volumes_, 3, nullptr), nullptr);
}

TEST_F(VolumeMatchHost, PhysicalDriveKeepsAtMostFourVolumes) {
    ASSERT_NO_FATAL_FAILURE(Start([](qvsim::Scenario& s) {
        const char* names[] = {"sdb", "sdc", "sdd", "sde", "sdf"};
        for (unsigned i = 0; i < 5; ++i) {
            Volume(s, names[i], 16 * (i + 1)).unique_id = "5000C50000000003";
        }
    }));
    std::vector<std::string> first_four = InListOrder({"/dev/sdb", "/dev/sdc", "/dev/sdd", "/dev/sde", "/dev/sdf"});
    ASSERT_EQ(first_four.size(), 5u);
    first_four.pop_back();
    EXPECT_EQ(ForDrive(3), first_four);
}

TEST_F(VolumeMatchHost, LogicalDriveByItsUniqueVolumeId) {
    ASSERT_NO_FATAL_FAILURE(Start([](qvsim::Scenario& s) {
        Volume(s, "sdb", 16).unique_id = "600D1A004C4400000000000000000001";
        Volume(s, "sdc", 32).unique_id = "600D1A004C4400000000000000000000";
        Volume(s, "sdd", 48).unique_id = "600D1A004C4400000000000000000000";
    }));
    char id[33] = {};
    VK_GetLogicalDriveUniqueVolumeID(cda(), 0, id, sizeof(id));
    ASSERT_STREQ(id, "600D1A004C4400000000000000000000");
    DeviceDescriptor found = VK_RequestStorageVolumeDescriptorForLogicalDrive(cda(), volumes_, 0);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(NodeName(found), InListOrder({"/dev/sdc", "/dev/sdd"}).front());
    PN_DestroyDeviceDescriptor(found);
    EXPECT_EQ(VK_RequestStorageVolumeDescriptorForLogicalDrive(cda(), volumes_, 5), nullptr);
}

} // namespace
