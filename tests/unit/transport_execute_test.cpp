// The execute functions end to end on real nodes: /dev/null takes the open and refuses every
// request (ENOTTY), so what reaches the driver shows in low_level_status; a missing path fails the
// open.
#include "pavl_extern.h"
#include "transport_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

using transport_test::Descriptor;
using transport_test::Flags;
using transport_test::LogCapture;

namespace {

constexpr const char* kNull = "/dev/null";
constexpr const char* kMissing = "/nonexistent-quorvel-node";

// Byte 3 of the LUN address set makes a SIS device one that is reached through the tunnel.
constexpr std::uint8_t kTunnelled = 0x80;

Descriptor Target(std::uint16_t protocol, std::uint8_t flags = 0x01, const char* node = kNull) {
    auto address = Flags(flags & 0x7F);
    if (flags & kTunnelled) {
        address[4 + 3] = 0x01;
    }
    Descriptor d;
    d.Node(node).Protocol(protocol).Address(address).DeviceType(1);
    return d;
}

std::vector<std::string> TraceLines() {
    std::vector<std::string> out;
    for (const auto& l : LogCapture::lines()) {
        if (l.text.rfind("SCSI(", 0) == 0) {
            out.push_back(l.text);
        }
    }
    return out;
}

bool Logged(VK_BYTE level, const std::string& fragment) {
    return std::any_of(LogCapture::lines().begin(), LogCapture::lines().end(),
                       [&](const LogCapture::Line& l) {
                           return l.level == level && l.text.find(fragment) != std::string::npos;
                       });
}

// ---- Permission checks ------------------------------------------------------------------------

TEST(TransportPermission, EveryFamilyAnswersInvalidDeviceForNone) {
    EXPECT_EQ(PN_CanExecuteBMICCommand(nullptr), kCanExecuteBMICCommandInvalidDevice);
    EXPECT_EQ(PN_CanExecuteSCSICommand(nullptr), kCanExecuteSCSICommandInvalidDevice);
    EXPECT_EQ(PN_CanExecuteATACommand(nullptr), kCanExecuteATACommandInvalidDevice);
    EXPECT_EQ(PN_CanExecuteSMPCommand(nullptr), kCanExecuteSMPCommandInvalidDevice);
    EXPECT_EQ(PN_CanExecuteNVMECommand(nullptr), kCanExecuteNVMECommandInvalidDevice);
    EXPECT_EQ(PN_CanExecuteIORequest(nullptr), kCanExecuteIORequestInvalidDevice);
}

TEST(TransportPermission, CommandsNeedProtocolInfoAndTheCommandsFlag) {
    struct Case {
        const char* name;
        bool type, address;
        std::uint8_t flags;
        VK_BYTE answer;
        bool logged;
    };
    const Case cases[] = {
        {"accepts commands", true, true, 0x05, 1, false},
        {"flag clear", true, true, 0x06, 2, false},
        {"no address", true, false, 0, 2, true},
        {"no protocol type", false, true, 0x01, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Descriptor d;
        d.Node(kNull);
        if (c.type) {
            d.Protocol(kProtocolTypePQI);
        }
        if (c.address) {
            d.Address(Flags(c.flags));
        }
        LogCapture log;
        EXPECT_EQ(PN_CanExecuteBMICCommand(d.get()), c.answer);
        EXPECT_TRUE(LogCapture::lines().empty()); // BMIC says nothing
        EXPECT_EQ(PN_CanExecuteSCSICommand(d.get()), c.answer);
        EXPECT_EQ(PN_CanExecuteATACommand(d.get()), c.answer);
        const auto missing =
            std::count_if(LogCapture::lines().begin(), LogCapture::lines().end(), [](const auto& l) {
                return l.level == 1 &&
                       l.text.find(": Unable to obtain protocol info.\n") != std::string::npos;
            });
        EXPECT_EQ(missing, c.logged ? 2 : 0);
        EXPECT_EQ(PN_CanExecuteNVMECommand(d.get()), kCanExecuteNVMECommandNotSupported);
        EXPECT_EQ(PN_CanExecuteIORequest(d.get()), kCanExecuteIORequestOK);
    }
}

TEST(TransportPermission, SMPOnlyToExpandersBehindCapableProtocols) {
    const struct {
        std::uint16_t protocol;
        std::uint16_t device_type;
        VK_BYTE answer;
    } cases[] = {{0, 5, 2}, {1, 5, 1}, {2, 5, 1}, {3, 5, 1}, {4, 5, 2}, {5, 5, 1},
                 {6, 5, 1}, {7, 5, 2}, {2, 4, 2}, {2, 1, 2}, {2, 9, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " type " << c.device_type);
        Descriptor d;
        d.Node(kNull).Protocol(c.protocol).Address(Flags(0x03)).DeviceType(c.device_type);
        EXPECT_EQ(PN_CanExecuteSMPCommand(d.get()), c.answer);
    }
    Descriptor no_type;
    no_type.Node(kNull).Protocol(2).Address(Flags(0x03));
    EXPECT_EQ(PN_CanExecuteSMPCommand(no_type.get()), kCanExecuteSMPCommandNotSupported);
}

// ---- Execute: failure paths -------------------------------------------------------------------

TEST(TransportExecute, NoDescriptorFailsEverything) {
    BMICRequest bmic{};
    SCSIRequest scsi{};
    ATARequest ata{};
    SMPRequest smp{};
    IORequest io{};
    io.block_size_in_bytes = 512;
    NVMERequest nvme{};
    EXPECT_EQ(PN_ExecuteBMICCommand(nullptr, &bmic), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteSCSICommand(nullptr, &scsi), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteATACommand(nullptr, &ata), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteSMPCommand(nullptr, &smp), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteIORequest(nullptr, &io), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteNVMECommand(nullptr, &nvme), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteRegNewDiskMessage(nullptr), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_SendResetControllerCommand(nullptr, kResetControllerTypeIOP), eCOMMAND_STATUS_FAILED);
}

TEST(TransportExecute, MissingProtocolInfoOrNode) {
    Descriptor no_node;
    no_node.Protocol(0).Address(Flags(1));
    Descriptor no_address;
    no_address.Node(kNull).Protocol(0);
    for (Descriptor* d : {&no_node, &no_address}) {
        LogCapture log;
        BMICRequest bmic{};
        bmic.low_level_status = 1234;
        EXPECT_EQ(PN_ExecuteBMICCommand(d->get(), &bmic), eCOMMAND_STATUS_FAILED);
        EXPECT_EQ(bmic.low_level_status, 1234); // nothing opened
        EXPECT_TRUE(LogCapture::lines().empty());
        SCSIRequest scsi{};
        EXPECT_EQ(PN_ExecuteSCSICommand(d->get(), &scsi), eCOMMAND_STATUS_FAILED);
        EXPECT_TRUE(Logged(1, ": Unable to decode protocol type, protocol address, or device node\n"));
        EXPECT_EQ(PN_ExecuteRegNewDiskMessage(d->get()), eCOMMAND_STATUS_FAILED);
    }
}

TEST(TransportExecute, OpenFailureGivesTheSystemError) {
    Descriptor d = Target(kProtocolTypePQI, 0x03, kMissing);
    VK_UINT8 buffer[512];
    BMICRequest bmic{};
    bmic.io_buffer = buffer;
    bmic.io_buffer_size = sizeof buffer;
    EXPECT_EQ(PN_ExecuteBMICCommand(d.get(), &bmic), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(bmic.low_level_status, ENOENT);
    VK_UINT8 cdb[6] = {0x00};
    SCSIRequest scsi{};
    scsi.cdb = cdb;
    scsi.cdb_size = 6;
    EXPECT_EQ(PN_ExecuteSCSICommand(d.get(), &scsi), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(scsi.low_level_status, ENOENT);
    ATARequest ata{};
    EXPECT_EQ(PN_ExecuteATACommand(d.get(), &ata), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(ata.low_level_status, ENOENT);
    SMPRequest smp{};
    EXPECT_EQ(PN_ExecuteSMPCommand(d.get(), &smp), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(smp.low_level_status, ENOENT);
    IORequest io{};
    io.io_buffer = buffer;
    io.io_buffer_size = sizeof buffer;
    io.block_size_in_bytes = 512;
    EXPECT_EQ(PN_ExecuteIORequest(d.get(), &io), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(io.low_level_status, ENOENT);
    EXPECT_EQ(PN_ExecuteRegNewDiskMessage(d.get()), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_SendResetControllerCommand(d.get(), kResetControllerTypeDriverSoft), eCOMMAND_STATUS_FAILED);
}

TEST(TransportExecute, DriverRefusalPerProtocol) {
    const struct {
        std::uint16_t protocol;
        std::uint8_t flags;
        VK_INT32 low_level_status;
    } cases[] = {
        {kProtocolTypeCISS, 0x01, ENOTTY},
        {kProtocolTypePQI, 0x01, ENOTTY},
        {kProtocolTypeNativeSCSI, 0x01, ENOTTY},
        {kProtocolTypeCSMI, 0x01, ENOTTY},
        {kProtocolTypeSIS, 0x01, static_cast<VK_INT32>(kSISPassthroughUnknownRequest)},
        {kProtocolTypeSIS, kTunnelled | 0x03, static_cast<VK_INT32>(kSISPassthroughUnknownRequest)},
        {7, 0x01, 0}, // no transport
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " flags " << int(c.flags & 0x7F)
                                        << ((c.flags & kTunnelled) ? " tunnelled" : ""));
        Descriptor d = Target(c.protocol, c.flags);
        VK_UINT8 cdb[6] = {0x12, 0, 0, 0, 36, 0};
        VK_UINT8 data[36];
        SCSIRequest scsi{};
        scsi.transfer_type = eDATA_TRANSFER_IN;
        scsi.cdb = cdb;
        scsi.cdb_size = 6;
        scsi.io_buffer = data;
        scsi.io_buffer_size = sizeof data;
        scsi.low_level_status = 1234;
        LogCapture log;
        EXPECT_EQ(PN_ExecuteSCSICommand(d.get(), &scsi), eCOMMAND_STATUS_FAILED);
        EXPECT_EQ(scsi.low_level_status, c.low_level_status);
        // The lent sense buffer goes back after the command.
        EXPECT_EQ(scsi.sense_data, nullptr);
        EXPECT_EQ(scsi.sense_data_size, 0u);
        const auto traces = TraceLines();
        ASSERT_EQ(traces.size(), 1u);
        EXPECT_NE(traces[0].find(" => FAILED/"), std::string::npos);
        EXPECT_TRUE(Logged(1, traces[0]));
    }
}

TEST(TransportExecute, TraceLineOfABMICRead) {
    Descriptor d = Target(kProtocolTypeCISS);
    VK_UINT8 buffer[1024];
    BMICRequest bmic{};
    bmic.transfer_type = eDATA_TRANSFER_IN;
    bmic.bmic_opcode = 0x11;
    bmic.io_buffer = buffer;
    bmic.io_buffer_size = sizeof buffer;
    LogCapture log;
    EXPECT_EQ(PN_ExecuteBMICCommand(d.get(), &bmic), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(bmic.low_level_status, ENOTTY);
    EXPECT_EQ(bmic.valid_sense_data_size, 32u);
    const auto traces = TraceLines();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], "SCSI(0,0[1024],16):26000000000011040000000000000000 => FAILED/00/0000/25/(32/32):"
                         "0000000000000000000000000000\n");
}

TEST(TransportExecute, TraceLineShowsOnlyTheGivenBytes) {
    Descriptor d = Target(7);
    VK_UINT8 cdb[6] = {0x12, 0x01, 0x80, 0x00, 0x60, 0x00};
    VK_UINT8 sense[4] = {0x70, 0x00, 0x05, 0x00};
    SCSIRequest scsi{};
    scsi.transfer_type = eDATA_TRANSFER_NONE;
    scsi.cdb = cdb;
    scsi.cdb_size = 6;
    scsi.sense_data = sense;
    scsi.sense_data_size = sizeof sense;
    LogCapture log;
    EXPECT_EQ(PN_ExecuteSCSICommand(d.get(), &scsi), eCOMMAND_STATUS_FAILED);
    const auto traces = TraceLines();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0], "SCSI(7,5[0],6):12018000600000000000000000000000 => FAILED/00/0000/0/(4/4):"
                         "7000050000000000000000000000\n");
}

TEST(TransportExecute, BMICLengthThatDoesNotFitIsNotSent) {
    Descriptor d = Target(kProtocolTypeCISS);
    std::vector<VK_UINT8> buffer(70000);
    const struct {
        const char* name;
        VK_UINT32 size;
        VK_UINT32 override_count;
        bool sent;
    } cases[] = {
        {"70,000 bytes", 70000, 0, false},
        {"override beyond 16 bits", 512, 0x10000, false},
        {"override that fits", 70000, 1, true},
        {"largest length", 65535, 0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BMICRequest bmic{};
        bmic.transfer_type = eDATA_TRANSFER_IN;
        bmic.bmic_opcode = 0x11;
        bmic.io_buffer = buffer.data();
        bmic.io_buffer_size = c.size;
        bmic.block_count_override = c.override_count;
        bmic.scsi_status = 0x77;
        bmic.valid_sense_data_size = 77;
        LogCapture log;
        EXPECT_EQ(PN_ExecuteBMICCommand(d.get(), &bmic), eCOMMAND_STATUS_FAILED);
        if (c.sent) {
            EXPECT_EQ(bmic.low_level_status, ENOTTY);
            EXPECT_EQ(TraceLines().size(), 1u);
        } else {
            EXPECT_EQ(bmic.low_level_status, EINVAL);
            EXPECT_TRUE(TraceLines().empty());
            EXPECT_TRUE(Logged(1, "does not fit the CDB"));
            EXPECT_EQ(bmic.scsi_status, 0);
            EXPECT_EQ(bmic.valid_sense_data_size, 0u);
        }
    }
}

TEST(TransportExecute, UnsendableSCSIRequestsAreRefused) {
    struct Case {
        const char* name;
        std::uint16_t protocol;
        std::uint8_t flags;
        VK_UINT8 cdb_size;
        bool cdb;
        VK_UINT32 size;
        bool buffer;
    };
    const Case cases[] = {
        {"CDB of 17 bytes", kProtocolTypePQI, 0x01, 17, true, 0, false},
        {"CDB of 17 bytes over SG_IO", kProtocolTypeNativeSCSI, 0x01, 17, true, 0, false},
        {"CDB length without CDB", kProtocolTypePQI, 0x01, 6, false, 0, false},
        {"size without buffer", kProtocolTypeSIS, 0x03, 6, true, 512, false},
        {"tunnelled frame over 64 KiB", kProtocolTypeSIS, kTunnelled | 0x03, 6, true, 65535 - 371, true},
    };
    std::vector<VK_UINT8> buffer(70000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Descriptor d = Target(c.protocol, c.flags);
        VK_UINT8 cdb[17] = {0x28};
        SCSIRequest scsi{};
        scsi.transfer_type = eDATA_TRANSFER_IN;
        scsi.cdb = c.cdb ? cdb : nullptr;
        scsi.cdb_size = c.cdb_size;
        scsi.io_buffer = c.buffer ? buffer.data() : nullptr;
        scsi.io_buffer_size = c.size;
        EXPECT_EQ(PN_ExecuteSCSICommand(d.get(), &scsi), eCOMMAND_STATUS_FAILED);
        EXPECT_EQ(scsi.low_level_status, EINVAL);
    }
}

TEST(TransportExecute, LogicalReportBecomesC4ForSIS) {
    const struct {
        std::uint16_t protocol;
        VK_UINT8 sent;
    } cases[] = {{kProtocolTypeSIS, 0xC4}, {kProtocolTypePQI, 0xC2}, {kProtocolTypeCISS, 0xC2}};
    for (const auto& c : cases) {
        Descriptor d = Target(c.protocol);
        VK_UINT8 cdb[12] = {0xC2, 0x02};
        VK_UINT8 data[64];
        SCSIRequest scsi{};
        scsi.transfer_type = eDATA_TRANSFER_IN;
        scsi.cdb = cdb;
        scsi.cdb_size = sizeof cdb;
        scsi.io_buffer = data;
        scsi.io_buffer_size = sizeof data;
        LogCapture log;
        PN_ExecuteSCSICommand(d.get(), &scsi);
        EXPECT_EQ(cdb[0], c.sent) << c.protocol;
        const auto traces = TraceLines();
        ASSERT_EQ(traces.size(), 1u);
        char prefix[40];
        std::snprintf(prefix, sizeof prefix, "SCSI(%u,0[64],12):%02X02", c.protocol, c.sent);
        EXPECT_EQ(traces[0].rfind(prefix, 0), 0u) << traces[0];
    }
}

int g_hook_calls = 0;
void CountingHook(PSCSIRequest) {
    ++g_hook_calls;
}

TEST(TransportExecute, SCSIHookSeesEveryRequestWithADescriptor) {
    g_hook_calls = 0;
    PN_SetSCSICommandCallback(&CountingHook);
    SCSIRequest scsi{};
    PN_ExecuteSCSICommand(nullptr, &scsi);
    EXPECT_EQ(g_hook_calls, 0);
    Descriptor no_node;
    no_node.Protocol(0).Address(Flags(1));
    PN_ExecuteSCSICommand(no_node.get(), &scsi);
    EXPECT_EQ(g_hook_calls, 1);
    Descriptor d = Target(kProtocolTypePQI);
    PN_ExecuteSCSICommand(d.get(), &scsi);
    EXPECT_EQ(g_hook_calls, 2);
    PN_SetSCSICommandCallback(nullptr);
    PN_ExecuteSCSICommand(d.get(), &scsi);
    EXPECT_EQ(g_hook_calls, 2);
}

// ---- Register new disks, reset, NVMe --------------------------------------------------------------

TEST(TransportExecute, RegisterNewDisksOnlyReachesCISS) {
    // /dev/null refuses any request it is sent, so success means nothing was sent.
    EXPECT_EQ(PN_ExecuteRegNewDiskMessage(Target(kProtocolTypeCISS).get()), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(PN_ExecuteRegNewDiskMessage(Target(kProtocolTypePQI).get()), eCOMMAND_STATUS_OK);
    EXPECT_EQ(PN_ExecuteRegNewDiskMessage(Target(kProtocolTypeSIS).get()), eCOMMAND_STATUS_OK);
}

TEST(TransportExecute, ResetAndNVMeReachTheDriver) {
    EXPECT_EQ(PN_SendResetControllerCommand(Target(kProtocolTypePQI).get(), kResetControllerTypeIOP),
              eCOMMAND_STATUS_FAILED);
    NVMERequest nvme{};
    nvme.low_level_status = 1234;
    EXPECT_EQ(PN_ExecuteNVMECommand(Target(kProtocolTypePQI).get(), &nvme), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(nvme.low_level_status, ENOTTY);
    nvme.low_level_status = 1234;
    EXPECT_EQ(PN_ExecuteNVMECommand(Target(kProtocolTypePQI, 1, kMissing).get(), &nvme),
              eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(nvme.low_level_status, 1234); // an NVMe request is not told why the open failed
}

// ---- ATA --------------------------------------------------------------------------------------

TEST(TransportExecute, ATAToAHostBlockDeviceIsNotSent) {
    ATARequest ata{};
    ata.transfer_type = eDATA_TRANSFER_NONE;
    LogCapture log;
    EXPECT_EQ(PN_ExecuteATACommand(Target(kProtocolTypeNativeSCSI).get(), &ata), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(ata.low_level_status, -1);
    EXPECT_TRUE(TraceLines().empty());
}

TEST(TransportExecute, ATASenseCopyIsBoundedByTheCallersBuffer) {
    VK_UINT8 sense[40];
    std::memset(sense, 0xEE, sizeof sense);
    ATARequest ata{};
    ata.transfer_type = eDATA_TRANSFER_NONE;
    ata.u.Registers.current_command = 0xE7;
    ata.sense_data = sense;
    ata.sense_data_size = 8;
    std::memset(&ata.ReturnRegisters, 0xEE, sizeof ata.ReturnRegisters);
    LogCapture log;
    EXPECT_EQ(PN_ExecuteATACommand(Target(kProtocolTypeCISS).get(), &ata), eCOMMAND_STATUS_FAILED);
    EXPECT_EQ(ata.low_level_status, ENOTTY);
    for (size_t i = 0; i < sizeof sense; ++i) {
        ASSERT_EQ(sense[i], i < 8 ? 0x00 : 0xEE) << i;
    }
    EXPECT_EQ(ata.ReturnRegisters.sense_format, 0);
    EXPECT_EQ(ata.ReturnRegisters.status, 0);
    const auto traces = TraceLines();
    ASSERT_EQ(traces.size(), 1u);
    EXPECT_EQ(traces[0].rfind("SCSI(0,5[0],16):8507260000000000000000000000E700 => FAILED/", 0), 0u)
        << traces[0];
}

// ---- Block I/O --------------------------------------------------------------------------------

TEST(TransportExecute, BlockIOTargets) {
    struct Case {
        const char* name;
        std::uint16_t protocol;
        std::uint8_t flags;
        VK_UINT16 block_size;
        VK_INT32 low_level_status;
        const char* trace; // prefix of the trace line, or none when nothing is sent
    };
    const Case cases[] = {
        {"the controller itself", kProtocolTypePQI, 0x01, 512, 0, nullptr},
        {"commands not accepted", kProtocolTypePQI, 0x04, 512, 1234, nullptr},
        {"block size 0", kProtocolTypePQI, 0x05, 0, EINVAL, nullptr},
        {"PQI logical drive", kProtocolTypePQI, 0x05, 512, ENOTTY,
         "SCSI(2,2[4096],16):8A000000000100000002000000080000 => FAILED/"},
        {"CISS physical device", kProtocolTypeCISS, 0x03, 512, ENOTTY,
         "SCSI(0,2[4096],16):8A000000000100000002000000080000 => FAILED/"},
        {"SIS logical drive", kProtocolTypeSIS, 0x05, 512,
         static_cast<VK_INT32>(kSISPassthroughUnknownRequest),
         "SCSI(1,2[4096],16):27030000000230000800000000010000 => FAILED/"},
        {"SIS physical device", kProtocolTypeSIS, 0x03, 4096,
         static_cast<VK_INT32>(kSISPassthroughUnknownRequest),
         "SCSI(1,2[4096],16):8A000000000100000002000000010000 => FAILED/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto address = Flags(c.flags);
        address[4] = 3;
        Descriptor d;
        d.Node(kNull).Protocol(c.protocol).Address(address).DeviceType(9);
        std::vector<VK_UINT8> buffer(4096);
        IORequest io{};
        io.transfer_type = eDATA_TRANSFER_OUT;
        io.lba_offset = 0x100000002ULL;
        io.io_buffer = buffer.data();
        io.io_buffer_size = 4096;
        io.block_size_in_bytes = c.block_size;
        io.low_level_status = 1234;
        LogCapture log;
        EXPECT_EQ(PN_ExecuteIORequest(d.get(), &io), eCOMMAND_STATUS_FAILED);
        EXPECT_EQ(io.low_level_status, c.low_level_status);
        const auto traces = TraceLines();
        if (c.trace == nullptr) {
            EXPECT_TRUE(traces.empty());
        } else {
            ASSERT_EQ(traces.size(), 1u);
            EXPECT_EQ(traces[0].rfind(c.trace, 0), 0u) << traces[0];
        }
    }
}

// ---- SMP --------------------------------------------------------------------------------------

TEST(TransportExecute, SMPPerProtocol) {
    const struct {
        std::uint16_t protocol;
        VK_UINT32 request_size;
        VK_INT32 low_level_status;
    } cases[] = {
        {kProtocolTypeCISS, 4, 0}, // no SMP transport: nothing sent, the open's result stays
        {kProtocolTypeNativeSCSI, 4, 0},
        {kProtocolTypeSIS, 4, static_cast<VK_INT32>(kSISPassthroughUnknownRequest)},
        {kProtocolTypePQI, 4, ENOTTY},
        {kProtocolTypePQI, 1017, EINVAL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "protocol " << c.protocol << " size " << c.request_size);
        std::vector<VK_UINT8> request_data(c.request_size);
        SMPRequest smp{};
        smp.header_frame_type = 0x40;
        smp.additional_request_data = request_data.data();
        smp.additional_request_data_size = c.request_size;
        LogCapture log;
        EXPECT_EQ(PN_ExecuteSMPCommand(Target(c.protocol, 0x01).get(), &smp), eCOMMAND_STATUS_FAILED);
        EXPECT_EQ(smp.low_level_status, c.low_level_status);
        EXPECT_EQ(smp.header_frame_type, 0x40); // no response was taken
        EXPECT_TRUE(TraceLines().empty());      // SMP carriers are not traced
    }
}

} // namespace
