// The controller data area against a simulated controller: initialisation and its result bits,
// caching of controller-level buffers, read-twice replies, feature pages, REPORT LUNS and the
// descriptor factories. Every assertion on traffic reads the controller's request log.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ppavl_reportluns.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"
#include "../unit/telmar_log_capture.h"

namespace {

// Packed fields are read by value: a reference to one may be misaligned.
template <typename T> T Value(T v) {
    return v;
}

using qvsim::BmicCdb;
using qvsim::BmicDirection;
using qvsim::Bytes;
using qvsim::FirmwareState;
using qvsim::FwFault;

using telmar_host::kNode;
using telmar_host::ParseHex;

// One command the controller received.
struct Sent {
    std::vector<VK_BYTE> cdb;
    std::optional<BmicCdb> bmic;
};

class TelmarHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState state = {}) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(state)));
        host().clear_requests();
    }

    // Initialises the data area and forgets the start-up traffic.
    void StartInitialised(FirmwareState state = {}) {
        ASSERT_NO_FATAL_FAILURE(Start(std::move(state)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        host().clear_requests();
    }

    void Stop() { StopController(); }

    _CDA* data() { return _VK_CDA(cda()); }
    FirmwareState& state() { return fw_->fw_state(); }

    std::vector<Sent> Commands() {
        std::vector<Sent> out;
        for (auto& cdb : SentCdbs()) {
            Sent s;
            s.cdb = std::move(cdb);
            s.bmic = BmicCdb::parse(s.cdb);
            out.push_back(std::move(s));
        }
        return out;
    }

    // BMIC opcodes received, in order.
    std::vector<int> Opcodes() {
        std::vector<int> out;
        for (const Sent& s : Commands()) {
            out.push_back(s.bmic ? s.bmic->opcode : -int(s.cdb.at(0)));
        }
        return out;
    }

    // CDB transfer lengths of the received BMIC commands with this opcode.
    std::vector<unsigned> Lengths(VK_BYTE opcode) {
        std::vector<unsigned> out;
        for (const Sent& s : Commands()) {
            if (s.bmic && s.bmic->opcode == opcode) {
                out.push_back(s.bmic->length);
            }
        }
        return out;
    }
};

FwFault BmicFault(VK_BYTE opcode, unsigned nth, unsigned count, int err, Bytes sense = {}) {
    FwFault f;
    f.bmic = opcode;
    f.nth = nth;
    f.count = count;
    f.err = err;
    f.sense = std::move(sense);
    return f;
}

// ---- Initialisation ----------------------------------------------------------------------------

TEST_F(TelmarHost, InitialisationSendsExactlyTheThreeStartUpReads) {
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_EQ(Initialize(), kInitializeSucceeded);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x11, 0x64, 0xC1}));
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].bmic->length, 1024);
    EXPECT_EQ(commands[1].bmic->length, 344);
    EXPECT_EQ(commands[2].bmic->length, 512);
    EXPECT_EQ(commands[2].bmic->lun(), 0);
    EXPECT_EQ(data()->Signature, 0xBAAAF000u);
    EXPECT_EQ(data()->flags[0],
              kCDAValidIdentifyController | kCDAValidControllerParameters | kCDAValidCacheConfigStatus);
    // The default simulated controller offers feature pages; they are not read at start-up.
    EXPECT_EQ(data()->controller_firmware_feature_version, 8);
}

TEST_F(TelmarHost, IdentifyIsRetriedOnceWhicheverWayItFails) {
    const struct {
        const char* name;
        FwFault fault;
    } cases[] = {
        {"errno", BmicFault(0x11, 1, 1, EIO)},
        {"check condition", BmicFault(0x11, 1, 1, 0, qvsim::fixed_sense(0x02, 0x04, 0x01))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s;
        s.faults.push_back(c.fault);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(Initialize(), kInitializeSucceeded);
        EXPECT_EQ(Opcodes(), (std::vector<int>{0x11, 0x11, 0x64, 0xC1}));
        Stop();
    }
}

TEST_F(TelmarHost, EachInitialisationFailureHasItsResultAndStopsThere) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> setup;
        VK_WORD result;
        std::vector<int> sent;
        VK_WORD reinitialised; // the faults above are used up or still firing
    };
    const Case cases[] = {
        {"identify fails twice",
         [](FirmwareState& s) { s.faults.push_back(BmicFault(0x11, 1, 2, EIO)); },
         0x12,
         {0x11, 0x11},
         0x01},
        {"fixed length 275", [](FirmwareState& s) { s.identify.fixed_length = 275; }, 0x22, {0x11}, 0x22},
        {"parameters unreadable",
         [](FirmwareState& s) { s.faults.push_back(BmicFault(0x64, 1, 0, EIO)); },
         0x22,
         {0x11, 0x64},
         0x22},
        {"cache status unreadable",
         [](FirmwareState& s) { s.faults.push_back(BmicFault(0xC1, 1, 0, EIO)); },
         0x01,
         {0x11, 0x64, 0xC1},
         0x01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s;
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        EXPECT_EQ(Initialize(), c.result);
        EXPECT_EQ(Opcodes(), c.sent);
        // The locks stay usable after a failure: re-initialisation runs the same steps again.
        host().clear_requests();
        EXPECT_EQ(VK_ReInitializeCDA(cda()), c.reinitialised);
        Stop();
    }
}

TEST_F(TelmarHost, FirmwareFeatureVersionFollowsTheControllerIdentity) {
    struct Case {
        const char* name;
        std::function<void(FirmwareState&)> setup;
        VK_BYTE version;
    };
    const Case cases[] = {
        {"second vendor, third device", [](FirmwareState& s) { s.identify.pci_device = 0x0A53; }, 5},
        {"second vendor, second device", [](FirmwareState& s) { s.identify.pci_device = 0x0A52; }, 7},
        {"no pages, long identify, parameters 207",
         [](FirmwareState& s) {
             s.identify.even_more_flags = 0;
             s.identify.fixed_length = 320;
             s.parameters.total_length = 207;
         },
         5},
        {"no pages, long identify, parameters 206",
         [](FirmwareState& s) {
             s.identify.even_more_flags = 0;
             s.identify.fixed_length = 320;
             s.parameters.total_length = 206;
         },
         4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s;
        c.setup(s);
        ASSERT_NO_FATAL_FAILURE(Start(s));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        EXPECT_EQ(data()->controller_firmware_feature_version, c.version);
        // Choosing the version sends nothing beyond the three reads.
        EXPECT_EQ(Opcodes().size(), 3u);
        Stop();
    }
}

// ---- BMIC helpers ------------------------------------------------------------------------------

TEST_F(TelmarHost, CheckConditionFailsThePlainHelperButNotTheOneWithSense) {
    FirmwareState s;
    s.faults.push_back(BmicFault(0x72, 1, 0, 0, qvsim::fixed_sense(0x05, 0x24, 0x01)));
    s.faults.push_back(BmicFault(0x59, 1, 0, EIO));
    ASSERT_NO_FATAL_FAILURE(Start(s));
    MNP_STATUS mnp;
    EXPECT_EQ(_VK_BMICHelperReadBuffer(controller_, BMIC_SENSE_MNP_STATUS, 0, 0, &mnp, sizeof(mnp)), kFalse);

    ScsiCommandSenseData sense;
    std::memset(&sense, 0xEE, sizeof(sense));
    EXPECT_EQ(_VK_BMICHelperReadBufferWithSense(controller_, BMIC_SENSE_MNP_STATUS, 0, 0, &mnp, sizeof(mnp),
                                                &sense),
              kTrue);
    EXPECT_EQ(sense.scsi_status, 2);
    EXPECT_EQ(sense.sense_key, 0x05);
    EXPECT_EQ(sense.asc, 0x24);
    EXPECT_EQ(sense.ascq, 0x01);
    EXPECT_EQ(sense.low_level_status, 0);
    // Without a record the command still goes and the platform's outcome comes back.
    EXPECT_EQ(_VK_BMICHelperReadBufferWithSense(controller_, BMIC_SENSE_MNP_STATUS, 0, 0, &mnp, sizeof(mnp),
                                                nullptr),
              kTrue);
    // A request the driver refuses fails both, and the record carries its error number.
    SENSE_EXPANSION_ABILITY expansion;
    EXPECT_EQ(_VK_BMICHelperReadBufferWithSense(controller_, BMIC_SENSE_EXPANSION_ABILITY, 0, 0, &expansion,
                                                sizeof(expansion), &sense),
              kFalse);
    EXPECT_EQ(sense.low_level_status, EIO);
    EXPECT_EQ(sense.sense_key, 0);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x72, 0x72, 0x72, 0x59}));
}

TEST_F(TelmarHost, HelpersBuildTheirCdbFromDirectionDetailLunAndLength) {
    ASSERT_NO_FATAL_FAILURE(Start());
    fw_->on_bmic(
        BmicDirection::kWrite, 0x99,
        [](qvsim::ControllerFirmware&, const qvsim::Command&, const BmicCdb&) { return qvsim::Reply{}; });
    fw_->on_bmic(
        BmicDirection::kWrite, 0xC0,
        [](qvsim::ControllerFirmware&, const qvsim::Command&, const BmicCdb&) { return qvsim::Reply{}; });
    VK_BYTE buffer[16] = {};
    EXPECT_TRUE(_VK_BMICHelperReadBufferEx(controller_, 0xE8, 6, 0x100, 0x10000000000ull, buffer, 4));
    EXPECT_TRUE(_VK_BMICHelperNoneBuffer(controller_, 0x99, 0, 0, 60));
    EXPECT_TRUE(_VK_BMICHelperWriteBuffer(controller_, 0xC0, 0x10003, 0x0201, buffer, sizeof(buffer)));
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].cdb,
              (std::vector<VK_BYTE>{0x26, 0x00, 0, 0, 0, 0x06, 0xE8, 0, 4, 0x01, 0x01, 0, 0, 0, 0, 0}));
    EXPECT_EQ(commands[1].cdb, (std::vector<VK_BYTE>{0x27, 0, 0, 0, 0, 0, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(commands[2].cdb,
              (std::vector<VK_BYTE>{0x27, 0x01, 0, 0x01, 0, 0x03, 0xC0, 0, 16, 0x02, 0, 0, 0, 0, 0, 0}));
}

// ---- Caching -----------------------------------------------------------------------------------

TEST_F(TelmarHost, LoaderReadsOnceAndServesTheCacheUntilItsBitIsCleared) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    EXPECT_TRUE(VK_RequestSenseSubsystemParametersBuffer(cda()));
    EXPECT_TRUE(VK_RequestSenseSubsystemParametersBuffer(cda()));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x66}));
    EXPECT_EQ(std::string(data()->sense_subsystem_parameters_buffer.sControllerSerialNumber, 12),
              "QVS0A1B2C3D4");

    data()->flags[0] &= ~kCDAValidSubsystemParameters;
    state().subsystem.serial_number = "QVS999999999";
    EXPECT_TRUE(VK_RequestSenseSubsystemParametersBuffer(cda()));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x66, 0x66}));
    EXPECT_EQ(std::string(data()->sense_subsystem_parameters_buffer.sControllerSerialNumber, 12),
              "QVS999999999");
}

TEST_F(TelmarHost, FailedLoadLeavesTheCopyZeroedAndReadsAgainNextTime) {
    FirmwareState s;
    s.faults.push_back(BmicFault(0x72, 1, 1, 0, qvsim::fixed_sense(0x05, 0x24, 0x00)));
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    std::memset(&data()->sense_mnp_status_buffer, 0xEE, sizeof(data()->sense_mnp_status_buffer));
    EXPECT_FALSE(VK_RequestSenseMNPStatusBuffer(cda()));
    EXPECT_EQ(Value(data()->sense_mnp_status_buffer.wMNPDelay), 0);
    EXPECT_TRUE(VK_RequestSenseMNPStatusBuffer(cda()));
    EXPECT_EQ(Value(data()->sense_mnp_status_buffer.wMNPDelay), 60);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x72, 0x72}));
}

TEST_F(TelmarHost, ReinitialisationDropsEverythingAndResendsOnlyTheStartUpReads) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    ASSERT_TRUE(VK_RequestSenseSubsystemParametersBuffer(cda()));
    ASSERT_TRUE(VK_RequestSenseMNPStatusBuffer(cda()));
    ASSERT_TRUE(VK_RequestFeaturePages(cda()));
    host().clear_requests();

    EXPECT_EQ(VK_ReInitializeCDA(cda()), kInitializeSucceeded);
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x11, 0x64, 0xC1}));
    EXPECT_EQ(data()->flags[0],
              kCDAValidIdentifyController | kCDAValidControllerParameters | kCDAValidCacheConfigStatus);
    EXPECT_TRUE(VK_RequestSenseSubsystemParametersBuffer(cda()));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x11, 0x64, 0xC1, 0x66}));
}

TEST_F(TelmarHost, LoaderWithoutItsCapabilitySendsNothing) {
    FirmwareState s;
    s.remove_page(0x09, 0x01); // no power management page: no power modes
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_FALSE(VK_RequestGetPowerModeBuffer(cda()));
    EXPECT_FALSE(VK_RequestGetPowerModeBuffer(cda()));
    EXPECT_FALSE(VK_RequestGetDefaultPowerModeBuffer(cda()));
    for (int opcode : Opcodes()) {
        EXPECT_NE(opcode, 0xEE);
    }
    // Encryption is not offered by this controller either.
    EXPECT_FALSE(VK_RequestEncryptionPasswordRecoveryQuestion(cda()));
    EXPECT_FALSE(VK_RequestEncryptionFeatures(cda()));
    for (int opcode : Opcodes()) {
        EXPECT_NE(opcode, 0x1E);
    }
}

TEST_F(TelmarHost, CapabilityLoadersAddressTheirFunctionAndLun) {
    FirmwareState s;
    s.set_page(0x07, 0x01, {0x01 | 0x40}); // encryption with feature breakout
    s.set_page(0x11, 0x01, {0x01});        // managed SED
    s.set_page(0x0E, 0x08, {0x02});        // OEM id 2
    s.manufacturing.oem_id = 2;
    s.encryption.recovery_question = Bytes{'W', 'h', 'o', '?'};
    s.encryption.features = Bytes{0x05};
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_TRUE(VK_RequestEncryptionPasswordRecoveryQuestion(cda()));
    EXPECT_TRUE(VK_RequestEncryptionFeatures(cda()));
    EXPECT_TRUE(VK_RequestManagedSEDStatus(cda()));
    EXPECT_TRUE(VK_RequestManufacturingData(cda()));
    EXPECT_TRUE(VK_RequestOnlineFirmwareActivationStatus(cda()));
    EXPECT_TRUE(VK_RequestOOBMessageInterfaceBuffer(cda()));
    EXPECT_TRUE(VK_RequestGetPowerModeBuffer(cda()));
    EXPECT_TRUE(VK_RequestGetDefaultPowerModeBuffer(cda()));
    struct Expect {
        int opcode;
        VK_DWORD detail;
        VK_WORD lun;
        unsigned length;
    };
    const std::vector<Expect> expected = {{0x61, 0xFFFF0000, 0, 601},
                                          {0x1E, 3, 0, 256},
                                          {0x1E, 13, 0, 512},
                                          {0xE8, 2, 0, 8},
                                          {0x82, 1, 0x200, 256},
                                          {0xD4, 3, 0, 16},
                                          {0x80, 0x60000, 0, 8},
                                          {0xEE, 1, 0, 17},
                                          {0xEE, 3, 0, 1}};
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(commands[i].bmic.has_value());
        EXPECT_EQ(commands[i].bmic->opcode, expected[i].opcode);
        EXPECT_EQ(commands[i].bmic->detail, expected[i].detail);
        EXPECT_EQ(commands[i].bmic->lun(), expected[i].lun);
        EXPECT_EQ(commands[i].bmic->length, expected[i].length);
        EXPECT_FALSE(commands[i].bmic->write);
    }
    EXPECT_EQ(std::string(data()->encryption_password_recovery_buffer.bQuestion), "Who?");
    EXPECT_EQ(data()->encryption_features.bNumberOfFeatureBytes, 1);
    EXPECT_EQ(data()->encryption_features.pbFeatures[0], 0x05);
}

// ---- Feature pages -----------------------------------------------------------------------------

TEST_F(TelmarHost, FeaturePagesAreReadOnceWithAllPagesAndSubpages) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    EXPECT_TRUE(VK_RequestFeaturePages(cda()));
    EXPECT_TRUE(VK_RequestFeaturePages(cda()));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x61}));
    EXPECT_EQ(data()->sense_feature.page_power_management.bPowerModeSubCommandSupportBitmap, 0x0F);
    EXPECT_EQ(VK_ControllerSupportsPowerModes(cda()), 0x7u);
    EXPECT_EQ(VK_ControllerSupportsOnlineFirmwareActivation(cda()), 0x3u);
    EXPECT_EQ(Opcodes().size(), 1u);
}

TEST_F(TelmarHost, ControllerWithoutPagesAnswersFromIdentifyAndNeverAsks) {
    FirmwareState s;
    s.identify.even_more_flags = 0;
    s.identify.features_supported[0] = 0x01;  // physical drive erase
    s.identify.features_supported[10] = 0x05; // minimum and maximum power
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_TRUE(VK_RequestFeaturePages(cda()));
    SENSE_FEATURE_PAGES zero;
    std::memset(&zero, 0, sizeof(zero));
    EXPECT_EQ(std::memcmp(&data()->sense_feature, &zero, sizeof(zero)), 0);
    EXPECT_TRUE(VK_ControllerSupportsPhysicalDriveErase(cda()));
    EXPECT_EQ(VK_ControllerSupportsPowerModes(cda()), 0x5u);
    EXPECT_EQ(VK_ControllerSupportsLUCache(cda()), 0x0101);
    EXPECT_FALSE(VK_ControllerSupportsDefaultPowerMode(cda()));
    EXPECT_TRUE(Opcodes().empty());
}

TEST_F(TelmarHost, UnreadablePagesSupportNothingAndAreAskedForAgain) {
    FirmwareState s;
    s.faults.push_back(BmicFault(0x61, 1, 2, EIO));
    s.identify.features_supported[0] = 0x01; // would say yes on a controller without pages
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_FALSE(VK_ControllerSupportsPhysicalDriveErase(cda()));
    EXPECT_FALSE(VK_RequestFeaturePages(cda()));
    EXPECT_TRUE(VK_RequestFeaturePages(cda()));
    EXPECT_EQ(Opcodes(), (std::vector<int>{0x61, 0x61, 0x61}));
}

// ---- Read-twice replies ------------------------------------------------------------------------

TEST_F(TelmarHost, SurfaceStatusIsReadAgainOnlyWhenItReportsMore) {
    struct Case {
        const char* name;
        std::vector<VK_DWORD> totals; // reported by the first, then the second read
        std::vector<unsigned> lengths;
        bool returned;
        VK_DWORD kept_total;
    };
    const Case cases[] = {
        {"smaller than the default", {6000}, {6904}, true, 6000},
        {"equal to the default", {6904}, {6904}, true, 6904},
        {"second reports less", {7000, 6950}, {6904, 7000}, true, 6950},
        {"second reports the same", {7000, 7000}, {6904, 7000}, true, 7000},
        {"second reports more than its buffer", {7000, 9000}, {6904, 7000}, true, 7000},
        {"more than a CDB can ask for", {70000}, {6904}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareState s;
        s.reported_totals[0x70] = c.totals;
        ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
        SURFACE_STATUS* status = VK_RequestCompleteSurfaceStatusBuffer(cda());
        EXPECT_EQ(Lengths(0x70), c.lengths);
        EXPECT_EQ(status != nullptr, c.returned);
        if (status != nullptr) {
            EXPECT_EQ(Value(status->dwTotalStructureLength), c.kept_total);
            EXPECT_EQ(status->bMaxParallelScanLimit, 4);
        }
        VK_free(status);
        Stop();
    }
}

// An erase-status reply: header fields, then the per-drive words at `offset`.
Bytes EraseReply(VK_DWORD offset, VK_DWORD total, size_t size, VK_WORD word_seed) {
    Bytes b(size, 0);
    auto put32 = [&](size_t at, VK_DWORD v) {
        for (int i = 0; i < 4; ++i) {
            b[at + i] = static_cast<VK_BYTE>(v >> (8 * i));
        }
    };
    put32(0, offset);
    b[8] = 0x80; // 384 drives
    b[9] = 0x01;
    b[10] = 64;
    put32(12, total);
    put32(16, 664);
    for (size_t at = offset; at + 1 < size; at += 2) {
        const VK_WORD w = static_cast<VK_WORD>(word_seed + (at - offset) / 2);
        b[at] = static_cast<VK_BYTE>(w);
        b[at + 1] = static_cast<VK_BYTE>(w >> 8);
    }
    return b;
}

TEST_F(TelmarHost, EraseStatusListCopiesOnlyBytesThatWereRead) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    // First reply reports 1500 bytes, so 1500 are asked for; the second then claims 60000.
    int reads = 0;
    fw_->on_bmic(BmicDirection::kRead, 0xE5,
                 [&](qvsim::ControllerFirmware&, const qvsim::Command& cmd, const BmicCdb& b) {
                     ++reads;
                     qvsim::Reply r;
                     r.data_in = EraseReply(1000, reads == 1 ? 1500 : 60000, b.length, 0x100);
                     r.data_in.resize(cmd.data_in_length);
                     return r;
                 });
    EXPECT_TRUE(VK_RequestEraseStatusBuffer(cda()));
    EXPECT_EQ(Lengths(0xE5), (std::vector<unsigned>{1432, 1500}));
    // Bytes 1000 to 1499 of the second reply: 250 words, and nothing after them.
    EXPECT_EQ(data()->pd_erase_status_list[0], 0x100);
    EXPECT_EQ(data()->pd_erase_status_list[249], 0x100 + 249);
    for (size_t i = 250; i < 384; ++i) {
        ASSERT_EQ(data()->pd_erase_status_list[i], 0) << i;
    }
    // Cached: no further read.
    EXPECT_TRUE(VK_RequestEraseStatusBuffer(cda()));
    EXPECT_EQ(reads, 2);
}

TEST_F(TelmarHost, EraseStatusOffsetAtTheTotalGivesAValidEmptyList) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    fw_->on_bmic(BmicDirection::kRead, 0xE5,
                 [&](qvsim::ControllerFirmware&, const qvsim::Command&, const BmicCdb& b) {
                     // The per-drive words would start where the reply ends.
                     const VK_DWORD total = std::min<VK_DWORD>(1000, b.length);
                     qvsim::Reply r;
                     r.data_in = EraseReply(total, total, b.length, 0x55);
                     return r;
                 });
    EXPECT_TRUE(VK_RequestEraseStatusBuffer(cda()));
    for (VK_WORD w : data()->pd_erase_status_list) {
        ASSERT_EQ(w, 0);
    }
    // A single drive asks for its own word only.
    ERASE_STATE* one = VK_GetEraseStatusBuffer(cda(), 5);
    ASSERT_NE(one, nullptr);
    VK_free(one);
    EXPECT_EQ(Lengths(0xE5), (std::vector<unsigned>{1432, 676}));
}

TEST_F(TelmarHost, EraseStatusAssertionsNameTheReader) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    fw_->on_bmic(BmicDirection::kRead, 0xE5,
                 [&](qvsim::ControllerFirmware&, const qvsim::Command&, const BmicCdb& b) {
                     qvsim::Reply r;
                     r.data_in = EraseReply(664, 0, b.length, 0); // total 0
                     r.data_in[8] = 0x81;                         // 385 drives
                     r.data_in[10] = 65;                          // 65 logical drives
                     return r;
                 });
    TelmarLogCapture log;
    // Directly and through the erase list, the three assertions carry the reader's own name.
    for (int via_list = 0; via_list < 2; ++via_list) {
        SCOPED_TRACE(via_list);
        TelmarLogCapture::lines().clear();
        if (via_list != 0) {
            EXPECT_FALSE(VK_RequestEraseStatusBuffer(cda()));
        } else {
            EXPECT_EQ(VK_GetEraseStatusBuffer(cda(), 0xFFFF), nullptr);
        }
        std::vector<std::string> assertions;
        for (const std::string& line : TelmarLogCapture::lines()) {
            if (line.find("Assertion") != std::string::npos) {
                assertions.push_back(line);
            }
        }
        ASSERT_EQ(assertions.size(), 3u);
        for (const std::string& line : assertions) {
            EXPECT_EQ(line.rfind("VK_GetEraseStatusBuffer:", 0), 0u) << line;
        }
        EXPECT_NE(assertions[0].find(": Assertion 'erase_status_buffer->wMaximumPhysicalDevicesSupported <= "
                                     "kMaxPhysicalDrivesSupported' failed: Erase status buffer supports more "
                                     "pd entries than we support\n"),
                  std::string::npos);
        EXPECT_NE(assertions[2].find(": Assertion 'erase_status_buffer->dwTotalStructureLength > 0' failed: "
                                     "Failed to get buffer size for ERASE_STATE\n"),
                  std::string::npos);
    }
}

// A sensor reply announcing `count` sensors, filled up to the room asked for.
qvsim::Reply SensorReply(VK_DWORD count, size_t room) {
    qvsim::Reply r;
    r.data_in.assign(room, 0);
    for (int i = 0; i < 4; ++i) {
        r.data_in[i] = static_cast<VK_BYTE>(count >> (8 * i));
    }
    return r;
}

TEST_F(TelmarHost, SensorReplyWithMoreThan32SensorsIsReadAgainAtItsSize) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    VK_DWORD announced = 40;
    fw_->on_bmic(BmicDirection::kRead, 0x78,
                 [&](qvsim::ControllerFirmware&, const qvsim::Command&, const BmicCdb& b) {
                     return SensorReply(announced, b.length);
                 });
    VK_BYTE* sensors = VK_GetSenseTemperatureSensorInfoBuffer(cda());
    ASSERT_NE(sensors, nullptr);
    VK_free(sensors);
    EXPECT_EQ(Lengths(0x78), (std::vector<unsigned>{1516, 1892}));
    EXPECT_EQ(Commands().back().bmic->lun(), 0x100);

    // A count whose size cannot be asked for in one command fails after the first read.
    host().clear_requests();
    announced = 2000;
    EXPECT_EQ(VK_GetSenseSensorInfoBuffer(cda()), nullptr);
    EXPECT_EQ(Lengths(0x78), (std::vector<unsigned>{1516}));
}

TEST_F(TelmarHost, MirrorPairInformationRefusesALogicalDriveOutOfRange) {
    ASSERT_NO_FATAL_FAILURE(StartInitialised());
    EXPECT_EQ(VK_GetMirrorPairInfo(cda(), 64), nullptr);
    EXPECT_TRUE(Commands().empty());
}

// ---- REPORT LUNS, remote volumes and descriptor factories --------------------------------------

VK_DWORD AllocationLength(const std::vector<VK_BYTE>& cdb) {
    return (VK_DWORD(cdb.at(6)) << 24) | (VK_DWORD(cdb[7]) << 16) | (VK_DWORD(cdb[8]) << 8) | cdb[9];
}

TEST_F(TelmarHost, RemoteVolumesFillAtMostTheTable) {
    struct Case {
        VK_WORD local;
        VK_DWORD remote;
        bool valid;
        VK_WORD count;
    };
    for (const Case& c : {Case{0, 8256, true, 8208}, Case{0, 8257, false, 0}, Case{2, 3, true, 3}}) {
        SCOPED_TRACE(c.remote);
        FirmwareState s;
        for (VK_WORD n = 0; n < c.local; ++n) {
            s.add_logical_drive(n);
        }
        s.add_logical_drive(c.local, true).unique_id[15] = 0x77;
        s.generated_remote_volumes = c.remote - 1;
        ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
        EXPECT_EQ(VK_RequestRemoteVolumeRecords(cda()), c.valid ? kTrue : kFalse);
        EXPECT_EQ(data()->remote_volume_count, c.count);
        EXPECT_EQ((data()->flags[0] & kCDAValidRemoteVolumes) != 0, c.valid);
        if (c.valid) {
            EXPECT_EQ(data()->remote_volume_record_list[0].device_unique_id[15], 0x77);
        }
        Stop();
    }
}

// The report stated longer than the bytes read: remote volumes are taken only from the bytes read,
// and the one beyond them is not invented.
TEST_F(TelmarHost, RemoteVolumesStayInsideAReportStatedLongerThanItsBuffer) {
    FirmwareState s;
    for (VK_WORD n = 0; n < 30; ++n) {
        s.add_logical_drive(n, n == 3 || n == 29).unique_id[15] = static_cast<VK_BYTE>(0x40 + n);
    }
    // 30 entries follow; the second reply states 100 though 728 bytes were asked for.
    s.logical_list_lengths = {720, 2400};
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    EXPECT_EQ(VK_RequestRemoteVolumeRecords(cda()), kTrue);
    ASSERT_EQ(data()->remote_volume_count, 2);
    EXPECT_EQ(data()->remote_volume_record_list[0].device_unique_id[15], 0x43);
    EXPECT_EQ(data()->remote_volume_record_list[1].device_unique_id[15], 0x5D);
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(AllocationLength(commands[1].cdb), 728u);
}

TEST_F(TelmarHost, LogicalReportIsReadAgainAtTheReportedLengthAndCapped) {
    FirmwareState s;
    for (VK_WORD n = 0; n < 30; ++n) {
        s.add_logical_drive(n);
    }
    // The second reply claims 100 entries although 728 bytes were asked for.
    s.logical_list_lengths = {720, 2400};
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    DeviceDescriptorList list = PN_CreateAllLogicalDeviceDescriptorList(controller_);
    size_t n = 0;
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        ++n;
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
    EXPECT_EQ(n, 30u);
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].cdb, (std::vector<VK_BYTE>{0xC2, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0, 0}));
    EXPECT_EQ(AllocationLength(commands[1].cdb), 728u);
}

// A list no 16-bit device number can fill is a damaged reply: nothing is allocated or asked for it,
// and the report fails. The largest list a controller can state is read again whole.
TEST_F(TelmarHost, ReportListLongerThanAnyControllerCanHoldIsRefused) {
    constexpr VK_DWORD kMaxList = 65536u * 24u;
    const struct {
        VK_DWORD stated;
        bool read_again;
    } cases[] = {{kMaxList, true}, {kMaxList + 24u, false}, {0xFFFFFFF0u, false}, {0xFFFFFFFFu, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stated);
        FirmwareState s;
        s.add_logical_drive(3);
        s.logical_list_lengths = {c.stated, 24};
        ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
        VK_BYTE* report = CISS_Report_LogicalEx(controller_);
        const auto commands = Commands();
        if (c.read_again) {
            ASSERT_NE(report, nullptr);
            ASSERT_EQ(commands.size(), 2u);
            EXPECT_EQ(AllocationLength(commands[1].cdb), kMaxList + 8u);
            VK_free(report);
        } else {
            EXPECT_EQ(report, nullptr);
            EXPECT_EQ(commands.size(), 1u);
        }
        Stop();
    }
}

TEST_F(TelmarHost, ReportThatFitsIsReadOnce) {
    FirmwareState s;
    s.add_logical_drive(3);
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    VK_BYTE* report = CISS_Report_LogicalEx(controller_);
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(BIG_ENDIAN_2_VK_DWORD(report), 24u);
    VK_free(report);
    EXPECT_EQ(Commands().size(), 1u);
}

// Decoded properties of one descriptor.
struct Described {
    VK_WORD type = 0, number = 0;
    std::vector<VK_BYTE> address;
};

Described Describe(DeviceDescriptor d) {
    Described out;
    PN_GetDeviceSystemProperty(d, kDevicePropertyDeviceType, &out.type, sizeof(out.type));
    PN_GetDeviceSystemProperty(d, kDevicePropertyDeviceNumber, &out.number, sizeof(out.number));
    out.address.resize(16);
    PN_GetDeviceSystemProperty(d, kDevicePropertyProtocolAddress, out.address.data(), 16);
    return out;
}

std::vector<Described> DescribeAll(DeviceDescriptorList list) {
    std::vector<Described> out;
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
        out.push_back(Describe(PN_GetDeviceListItemAt(it)));
    }
    PN_DestroyDeviceListIterator(it);
    PN_DestroyDeviceDescriptorList(list);
    return out;
}

std::vector<VK_BYTE> Slice(const std::vector<VK_BYTE>& v, size_t from, size_t n) {
    return std::vector<VK_BYTE>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                v.begin() + static_cast<std::ptrdiff_t>(from + n));
}

TEST_F(TelmarHost, LogicalDescriptorsCarryTheReportedAddress) {
    FirmwareState s;
    s.add_logical_drive(5).address = std::array<VK_BYTE, 8>{0x05, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00};
    s.add_logical_drive(2);
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    VK_WORD numbers[] = {5, 9};
    const auto found = DescribeAll(PN_CreateLogicalDeviceDescriptorList(controller_, numbers, 2));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].type, 10);
    EXPECT_EQ(found[0].number, 5);
    EXPECT_EQ(found[0].address[3], 5);
    EXPECT_EQ(Slice(found[0].address, 4, 8),
              (std::vector<VK_BYTE>{0x05, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00}));
    // Not reported: built from the number alone, byte 4 (not 3) of the LUN is 0x40.
    EXPECT_EQ(found[1].type, 9);
    EXPECT_EQ(found[1].number, 9);
    EXPECT_EQ(found[1].address[3], 5);
    EXPECT_EQ(Slice(found[1].address, 4, 8),
              (std::vector<VK_BYTE>{0x09, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00}));

    EXPECT_EQ(DescribeAll(PN_CreateAllLogicalDeviceDescriptorList(controller_)).size(), 2u);
    // No numbers asked for: nothing sent.
    host().clear_requests();
    EXPECT_TRUE(DescribeAll(PN_CreateLogicalDeviceDescriptorList(controller_, numbers, 0)).empty());
    EXPECT_TRUE(Commands().empty());
}

TEST_F(TelmarHost, PhysicalDescriptorsByKindAndNumber) {
    FirmwareState s;
    s.add_physical_device(263, 1).address = std::array<VK_BYTE, 8>{0, 0, 0, 0, 0, 0, 0x07, 0x02};
    s.add_physical_device(4, 6).address = std::array<VK_BYTE, 8>{0, 0, 0, 0, 0, 0, 0x04, 0x01};
    s.add_physical_device(3, 7).address = std::array<VK_BYTE, 8>{0x03, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));

    const auto all = DescribeAll(PN_CreateAllPhysicalDeviceDescriptorList(controller_));
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].number, 263);
    EXPECT_EQ(all[0].type, 2);
    EXPECT_EQ(all[0].address[3], 3);
    EXPECT_EQ(all[1].type, 4);
    EXPECT_EQ(all[2].number, 3);
    EXPECT_EQ(all[2].type, 8);

    VK_WORD drives[] = {263, 4};
    const auto by_number = DescribeAll(PN_CreatePhysicalDriveDescriptorList(controller_, drives, 2));
    ASSERT_EQ(by_number.size(), 2u);
    EXPECT_EQ(by_number[0].type, 2);
    EXPECT_EQ(by_number[0].address[3], 3);
    // Only an enclosure has number 4: the clone keeps the controller's type and address.
    EXPECT_EQ(by_number[1].type, 1);
    EXPECT_EQ(by_number[1].number, 4);
    EXPECT_EQ(by_number[1].address[3], 2);
    EXPECT_EQ(Slice(by_number[1].address, 4, 8), std::vector<VK_BYTE>(8, 0));

    VK_WORD seps[] = {4};
    const auto sep = DescribeAll(PN_CreateSEPDescriptorList(controller_, seps, 1));
    ASSERT_EQ(sep.size(), 1u);
    EXPECT_EQ(sep[0].type, 4);
    EXPECT_EQ(sep[0].address[3], 3);

    // A logical-drive descriptor is not a controller: nothing is asked.
    DeviceDescriptor ld = PN_CreateSingleLogicalDeviceDescriptor(controller_, 1);
    ASSERT_NE(ld, nullptr);
    host().clear_requests();
    EXPECT_TRUE(DescribeAll(PN_CreateAllPhysicalDeviceDescriptorList(ld)).empty());
    EXPECT_TRUE(Commands().empty());
    PN_DestroyDeviceDescriptor(ld);
}

TEST_F(TelmarHost, ExpanderIsAddressedWithoutCommandsAndReportsKeepTheirTimeLimits) {
    FirmwareState s;
    s.add_physical_device(9, 5).address = std::array<VK_BYTE, 8>{0, 0, 0, 0, 0, 0, 0x09, 0x01};
    s.add_logical_drive(0);
    ASSERT_NO_FATAL_FAILURE(StartInitialised(s));
    VK_WORD numbers[] = {9};
    const VK_BYTE expander[] = {5};
    const auto found =
        DescribeAll(_PN_CreatePhysicalDeviceDescriptorList(controller_, numbers, 1, expander, 1));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].type, 5);
    EXPECT_EQ(found[0].number, 9);
    EXPECT_EQ(found[0].address[3], 2);
    EXPECT_EQ(Slice(found[0].address, 4, 8), (std::vector<VK_BYTE>{0, 0, 0, 0, 0, 0, 0x09, 0x01}));
    VK_free(CISS_Report_LogicalEx(controller_));

    std::vector<std::pair<std::vector<VK_BYTE>, unsigned>> sent;
    for (const auto& r : host().requests(kNode)) {
        if (r.op == "ioctl" && r.decoded.contains("cdb")) {
            sent.emplace_back(ParseHex(r.decoded["cdb"].get<std::string>()),
                              r.decoded["timeout"].get<unsigned>());
        }
    }
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].first, (std::vector<VK_BYTE>{0xC3, 0x02, 0, 0, 0, 0, 0, 0, 0x03, 0x08, 0, 0}));
    // 1000 seconds asked for, held to the CISS transport's longest wait; the logical report asks for no
    // time limit and gets the transport's shortest.
    EXPECT_EQ(sent[0].second, 600u);
    EXPECT_EQ(sent[1].second, 30u);
}

} // namespace
