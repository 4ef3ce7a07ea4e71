// Commands to one physical device through the controller: what reaches the drive's LUN address,
// the INQUIRY probe-then-read lengths, the sense buffer, START STOP UNIT bits, ATA and SMP, and the
// data area's copies of the devices' host descriptors.
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "pavl_platform_private.h"
#include "ppavl_reportluns.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

using qvsim::FirmwareState;
using Bytes = std::vector<VK_BYTE>;

// One SCSI command the controller carried, as the request log shows it.
struct Sent {
    Bytes cdb;
    std::string lun;
};

// REPORT PHYSICAL LUNS address of a drive: number low byte at 6, high byte + 1 at 7.
std::string DriveLun(VK_WORD n) {
    char text[32];
    std::snprintf(text, sizeof(text), "00 00 00 00 00 00 %02X %02X", n & 0xFF, (n >> 8) + 1);
    return text;
}

class PassThroughHost : public telmar_host::ControllerHost {
protected:
    // As StartController, on a controller of the given protocol.
    void Start(FirmwareState state, qvsim::Protocol protocol = qvsim::Protocol::kCiss) {
        qvsim::Scenario s;
        auto& c = protocol == qvsim::Protocol::kPqi ? s.add_pqi("veskdq", "0000:3b:00.0", 2, 1)
                                                    : s.add_ciss("qzvk", "0000:3b:00.0", 2, 1);
        fw_ = std::make_shared<qvsim::FwController>(std::move(state));
        c.firmware = fw_;
        ASSERT_NO_FATAL_FAILURE(StartHost(s));
        list_ = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list_);
        ASSERT_FALSE(PN_IsDeviceListIteratorEnd(it));
        controller_ = PN_GetDeviceListItemAt(it);
        PN_DestroyDeviceListIterator(it);
        memory_ = std::make_unique<VK_BYTE[]>(VK_GetCDASize());
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    // The drive commands (not BMIC, not REPORT LUNS) carried since the last clear.
    std::vector<Sent> DriveCommands() {
        std::vector<Sent> out;
        for (const auto& r : host().requests(telmar_host::kNode)) {
            if (r.op != "ioctl" || !r.decoded.contains("cdb")) {
                continue;
            }
            Bytes cdb = telmar_host::ParseHex(r.decoded["cdb"].get<std::string>());
            if (cdb.empty() || cdb[0] == 0x26 || cdb[0] == 0x27 || cdb[0] == 0xC2 || cdb[0] == 0xC3) {
                continue;
            }
            out.push_back({cdb, r.decoded.contains("lun") ? r.decoded["lun"].get<std::string>() : ""});
        }
        return out;
    }

    // SMP frames (BMIC 0x68, control code 23) carried since the last clear.
    int SMPFrames() {
        int n = 0;
        for (const auto& cdb : SentCdbs()) {
            n += cdb.size() > 6 && cdb[0] == 0x27 && cdb[5] == 0x17 && cdb[6] == 0x68 ? 1 : 0;
        }
        return n;
    }

    // Stores a device's descriptor in its record as the data area's all-devices loader keeps it.
    void CacheAllDevicesDescriptor(VK_WORD number) {
        DeviceDescriptorList all = PN_CreateAllPhysicalDeviceDescriptorList(controller_);
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(all);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            DeviceDescriptor d = PN_GetDeviceListItemAt(it);
            VK_WORD n = 0xFFFF;
            if (PN_GetDeviceSystemProperty(d, kDevicePropertyDeviceNumber, &n, sizeof(n)) == 0 && n == number) {
                const size_t size = PN_GetDeviceDescriptorSize(d);
                void* copy = VK_malloc(size);
                std::memcpy(copy, d, size);
                _VK_PDRecordForWrite(_VK_CDA(cda()), number).physical_drive_handle = copy;
                break;
            }
        }
        PN_DestroyDeviceListIterator(it);
        PN_DestroyDeviceDescriptorList(all);
        host().clear_requests();
    }
};

FirmwareState Drives() {
    FirmwareState s;
    s.add_drive(0, 1); // SATA
    s.add_drive(3, 2); // SAS
    s.find_drive(3)->scsi.vpd_serial = "S3RIAL0000000000003X"; // 20 characters
    return s;
}

TEST_F(PassThroughHost, InquiryProbesThenAsksForWhatTheDriveHasAndTheBufferHolds) {
    struct Case {
        const char* what;
        bool vpd;
        VK_BYTE page;
        std::optional<VK_BYTE> additional_length; // standard data
        Bytes raw_page;                            // VPD reply replacing the page
        VK_WORD buffer_size;
        VK_WORD second_allocation;
    };
    const std::vector<Case> cases = {
        {"standard, additional length 31, 96-byte buffer", false, 0, 31, {}, 96, 36},
        {"standard, the drive's 96 bytes, 36-byte buffer", false, 0, std::nullopt, {}, 36, 36},
        {"standard, additional length 255, 300-byte buffer", false, 0, 255, {}, 300, 260},
        {"VPD 0x80, page length 20, 255-byte buffer", true, 0x80, std::nullopt, {}, 255, 24},
        {"VPD page length 0xFFFF, 255-byte buffer", true, 0x83, std::nullopt, {0x00, 0x83, 0xFF, 0xFF}, 255, 255},
        {"VPD page length 0xFFFD, 1000-byte buffer", true, 0x83, std::nullopt, {0x00, 0x83, 0xFF, 0xFD}, 1000,
         1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwareState s = Drives();
        s.find_drive(3)->scsi.additional_length = c.additional_length;
        if (!c.raw_page.empty()) {
            s.find_drive(3)->scsi.vpd_raw = {{c.page, c.raw_page}};
        }
        ASSERT_NO_FATAL_FAILURE(Start(s));
        Bytes buffer(c.buffer_size, 0xEE);
        const VK_BOOL ok = c.vpd ? VK_PhysicalDriveVPDPage(cda(), 3, c.page, buffer.data(), c.buffer_size)
                                 : VK_PhysicalDriveStandardInquiryData(cda(), 3, buffer.data(), c.buffer_size);
        EXPECT_TRUE(ok);
        const auto sent = DriveCommands();
        ASSERT_EQ(sent.size(), 2u);
        const VK_BYTE evpd = c.vpd ? 1 : 0;
        const VK_BYTE probe = c.vpd ? 4 : 5;
        EXPECT_EQ(sent[0].cdb, (Bytes{0x12, evpd, c.page, 0x00, probe, 0x00}));
        EXPECT_EQ(sent[1].cdb, (Bytes{0x12, evpd, c.page, static_cast<VK_BYTE>(c.second_allocation >> 8),
                                      static_cast<VK_BYTE>(c.second_allocation), 0x00}));
        EXPECT_EQ(sent[0].lun, DriveLun(3));
        EXPECT_EQ(sent[1].lun, DriveLun(3));
        if (c.vpd && c.page == 0x80) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 4, 20), "S3RIAL0000000000003X");
            EXPECT_EQ(buffer[24], 0xEE); // nothing past the page
        } else if (!c.vpd) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + 8, 8), "QVSIM   ");
        }
        StopController();
    }
}

TEST_F(PassThroughHost, ProbeAnsweredCheckConditionReadsNoLengthFromAnUnwrittenBuffer) {
    for (const bool vpd : {false, true}) {
        SCOPED_TRACE(vpd ? "VPD" : "standard");
        FirmwareState s = Drives();
        qvsim::FwFault fault;
        fault.scsi = 0x12;
        fault.device = 3;
        fault.sense = qvsim::fixed_sense(0x05, 0x24, 0x00);
        s.faults.push_back(fault);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        Bytes buffer(255, 0);
        // The refused probe still counts as carried, as every drive command does.
        EXPECT_TRUE(vpd ? VK_PhysicalDriveVPDPage(cda(), 3, 0x80, buffer.data(), 255)
                        : VK_PhysicalDriveStandardInquiryData(cda(), 3, buffer.data(), 255));
        const auto sent = DriveCommands();
        ASSERT_EQ(sent.size(), 2u);
        // Only the header: a length announced by nobody is never asked for.
        EXPECT_EQ(sent[1].cdb[3], 0);
        EXPECT_EQ(sent[1].cdb[4], vpd ? 4 : 5);
        StopController();
    }
}

TEST_F(PassThroughHost, CallersSenseBufferStaysLentOneIsTakenBack) {
    FirmwareState s = Drives();
    s.find_drive(3)->scsi.ready = false;
    ASSERT_NO_FATAL_FAILURE(Start(s));
    VK_UINT8 cdb[6] = {};

    SCSIRequest own;
    _VK_InitCDBSCSICommand(&own, cdb, sizeof(cdb));
    VK_UINT8 sense[18] = {};
    own.sense_data = sense;
    own.sense_data_size = sizeof(sense);
    EXPECT_TRUE(VK_SendPhysicalDeviceSCSICommand(cda(), 3, &own));
    EXPECT_EQ(own.scsi_status, 0x02);
    EXPECT_EQ(own.sense_data, sense);
    EXPECT_EQ(own.sense_data_size, sizeof(sense));
    EXPECT_EQ(sense[0] & 0x7F, 0x70);
    EXPECT_EQ(sense[2] & 0x0F, 0x02); // NOT READY reached the caller's buffer

    SCSIRequest lent;
    _VK_InitCDBSCSICommand(&lent, cdb, sizeof(cdb));
    EXPECT_TRUE(VK_SendPhysicalDeviceSCSICommand(cda(), 3, &lent));
    EXPECT_EQ(lent.scsi_status, 0x02);
    EXPECT_EQ(lent.sense_data, nullptr);
    EXPECT_EQ(lent.sense_data_size, 0u);
    EXPECT_GT(lent.valid_sense_data_size, 0u); // the drive did answer with sense
}

TEST_F(PassThroughHost, TestUnitReadyAndStartStopUnitBuildTheirCDBsForTheDrive) {
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    EXPECT_TRUE(VK_PhysicalDriveTestUnitReady(cda(), 3));
    struct Case {
        VK_BOOL immediate, start;
        VK_BYTE byte1, byte4;
        VK_BYTE power_condition; // what the drive did
    };
    const std::vector<Case> cases = {
        {1, 1, 0x01, 0x01, 1},
        {2, 1, 0x00, 0x01, 1}, // immediate 2 is not exactly 1
        {0, 0, 0x00, 0x00, 2},
        {1, 2, 0x01, 0x00, 2}, // start 2 is not exactly 1: a stop
        {-1, 0, 0x00, 0x00, 2},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(VK_PhysicalDriveStartStopUnit(cda(), 3, c.immediate, c.start));
        EXPECT_EQ(fw_->fw_state().find_drive(3)->scsi.power_condition, c.power_condition);
    }
    const auto sent = DriveCommands();
    ASSERT_EQ(sent.size(), 1 + cases.size());
    EXPECT_EQ(sent[0].cdb, (Bytes{0x00, 0, 0, 0, 0, 0}));
    for (const Sent& one : sent) {
        EXPECT_EQ(one.lun, DriveLun(3));
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[1 + i].cdb, (Bytes{0x1B, cases[i].byte1, 0, 0, cases[i].byte4, 0}));
    }
    for (const auto& r : host().requests(telmar_host::kNode)) {
        if (r.op == "ioctl" && r.decoded.contains("lun") && r.decoded["lun"] == DriveLun(3)) {
            EXPECT_EQ(r.decoded.value("buf_size", -1), 0) << r.decoded.dump(); // no data
        }
    }
}

TEST_F(PassThroughHost, DriveTheControllerDoesNotReportHasNoDescriptorAndGetsNoCommand) {
    FirmwareState s = Drives();
    s.add_drive(5, 2).reported = false;
    s.add_drive(64, 6); // an enclosure processor
    ASSERT_NO_FATAL_FAILURE(Start(s));
    TelmarLogCapture log;

    // The report lacks it: no copy of the controller's own address stands in for it.
    EXPECT_EQ(VK_GetPhysicalDriveDescriptor(cda(), 5), nullptr);
    EXPECT_EQ(TelmarLogCapture::Count("Assertion 'pd_descriptor != NULL' failed: Unable to get descriptor for "
                                      "pd number: 5\n"),
              1u);
    EXPECT_FALSE(VK_PhysicalDriveTestUnitReady(cda(), 5));
    EXPECT_FALSE(VK_CanSendPhysicalDeviceSCSICommand(cda(), 5));
    Bytes buffer(96);
    EXPECT_FALSE(VK_PhysicalDriveStandardInquiryData(cda(), 5, buffer.data(), 96));
    EXPECT_TRUE(DriveCommands().empty());
    EXPECT_EQ(VK_GetPhysicalDriveDescriptor(cda(), 384), nullptr);
    EXPECT_EQ(VK_GetPhysicalDriveDescriptor(cda(), 0xFFFF), nullptr);

    // One number space: the loaded list answers for a SEP and a drive alike.
    void* sep = _VK_GetSEPDescriptor(cda(), 64);
    ASSERT_NE(sep, nullptr);
    EXPECT_EQ(VK_GetPhysicalDriveDescriptor(cda(), 64), sep);
    void* drive = VK_GetPhysicalDriveDescriptor(cda(), 3);
    ASSERT_NE(drive, nullptr);
    EXPECT_NE(drive, sep);
    VK_WORD number = 0;
    ASSERT_EQ(PN_GetDeviceSystemProperty(drive, kDevicePropertyDeviceNumber, &number, sizeof(number)), 0);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(_VK_GetSEPDescriptor(cda(), 3), drive);
}

TEST_F(PassThroughHost, DescriptorIsFetchedOnceAndOwnedByTheDataArea) {
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    const VK_UINT64 before = _VK_curr_alloc;
    void* first = VK_GetPhysicalDriveDescriptor(cda(), 3);
    ASSERT_NE(first, nullptr);
    VK_WORD number = 0;
    ASSERT_EQ(PN_GetDeviceSystemProperty(first, kDevicePropertyDeviceNumber, &number, sizeof(number)), 0);
    EXPECT_EQ(number, 3);
    // One copy per reported device, held by its record; nothing else left behind.
    VK_UINT64 held = 0;
    for (const PhysicalDriveRecord& record : _VK_CDA(cda())->pd_record_list) {
        held += record.physical_drive_handle != nullptr ? PN_GetDeviceDescriptorSize(record.physical_drive_handle) : 0;
    }
    EXPECT_GE(held, PN_GetDeviceDescriptorSize(first));
    EXPECT_EQ(_VK_curr_alloc, before + held);
    host().clear_requests();
    EXPECT_EQ(VK_GetPhysicalDriveDescriptor(cda(), 3), first);
    EXPECT_EQ(VK_GetPhysicalDeviceDescriptor(cda(), 3), first);
    EXPECT_TRUE(SentCdbs().empty()); // no second report
    EXPECT_TRUE(VK_CanSendPhysicalDeviceSCSICommand(cda(), 3));
    // Clearing the records frees the copy.
    __VK_ClearPhysicalDriveRecords(cda());
    EXPECT_EQ(_VK_curr_alloc, before);
}

TEST_F(PassThroughHost, ATAGoesToTheSATADrive) {
    ASSERT_NO_FATAL_FAILURE(Start(Drives()));
    EXPECT_TRUE(VK_CanSendPhysicalDeviceATACommand(cda(), 0));
    ATARequest request{};
    Bytes identify(512);
    request.transfer_type = eDATA_TRANSFER_IN;
    request.u.Registers.current_command = 0xEC;
    request.io_buffer = identify.data();
    request.io_buffer_size = 512;
    EXPECT_TRUE(VK_SendPhysicalDeviceATACommand(cda(), 0, &request));
    EXPECT_EQ(identify[510], 0xA5);
    const auto sent = DriveCommands();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].cdb[0], 0x85);
    EXPECT_EQ(sent[0].cdb[14], 0xEC);
    EXPECT_EQ(sent[0].lun, DriveLun(0));
    EXPECT_FALSE(VK_SendPhysicalDeviceATACommand(cda(), 7, &request)); // no such drive
}

SMPRequest ReportGeneral(Bytes& response) {
    SMPRequest r{};
    r.header_frame_type = 0x40;
    r.header_function = 0x00;
    r.header_allocation_response_size = 0xFF;
    r.additional_response_data = response.data();
    r.additional_response_data_size = static_cast<VK_UINT32>(response.size());
    return r;
}

TEST_F(PassThroughHost, SMPGoesThroughTheControllerToTheExpandersAddress) {
    struct Case {
        const char* what;
        qvsim::Protocol protocol;
        bool identify_fails;
        bool sent;
    };
    const std::vector<Case> cases = {
        {"PQI", qvsim::Protocol::kPqi, false, true},
        {"CISS-type controller: refused", qvsim::Protocol::kCiss, false, false},
        {"PQI, the expander's WWID unreadable", qvsim::Protocol::kPqi, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FirmwareState s = Drives();
        s.add_drive(65, 5).phys = {qvsim::FwPhy{}, qvsim::FwPhy{}, qvsim::FwPhy{}};
        if (c.identify_fails) {
            s.fail_device(0x15, 65, 1, 0);
        }
        ASSERT_NO_FATAL_FAILURE(Start(s, c.protocol));
        CacheAllDevicesDescriptor(65);
        EXPECT_EQ(VK_CanSendPhysicalDeviceSMPCommand(cda(), 65), c.protocol == qvsim::Protocol::kPqi);
        Bytes response(64);
        SMPRequest request = ReportGeneral(response);
        std::memset(request.sas_address, 0x11, sizeof(request.sas_address));
        EXPECT_EQ(VK_SendPhysicalDeviceSMPCommand(cda(), 65, &request), c.sent ? kTrue : kFalse);
        EXPECT_EQ(SMPFrames(), c.sent ? 1 : 0);
        if (c.sent) {
            EXPECT_EQ(Bytes(request.sas_address, request.sas_address + 8),
                      (Bytes{0x50, 0x00, 0xC5, 0x00, 0x00, 0x00, 0x00, 65}));
            EXPECT_EQ(request.header_function_result, 0x00);
        }
        // A drive is no expander.
        EXPECT_FALSE(VK_CanSendPhysicalDeviceSMPCommand(cda(), 3));
        EXPECT_FALSE(VK_SendPhysicalDeviceSMPCommand(cda(), 3, &request));
        StopController();
    }
}

} // namespace
