// Controller identity and inventory properties on hand-built cached replies: the text getters and
// their buffer rule, slot and PCI location, the numeric getters and their length gates.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pavl_descriptor.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_prop_decode.h"
#include "telmar_log_capture.h"

namespace {

constexpr VK_DWORD kPagesOffered = 0x80000000;   // IDENTIFY dwEvenMoreControllerFlags
constexpr VK_DWORD kLongFlagsValid = 0x00100000; // IDENTIFY dwYetMoreControllerFlags
constexpr VK_DWORD kFirmwareTag = 0x20000000;    // IDENTIFY dwExtraControllerFlags
constexpr VK_DWORD kSoftwareRAIDLegacy = 0x04000000;

template <size_t N> void Put(char (&field)[N], const std::string& text) {
    std::memset(field, ' ', N);
    std::memcpy(field, text.data(), std::min(N, text.size()));
}

// A zeroed data area with no lock and no controller: the getters read the cached copies only.
class ControllerProperties : public ::testing::Test {
protected:
    ControllerProperties() : memory_(std::make_unique<VK_BYTE[]>(VK_GetCDASize())) {
        std::memset(memory_.get(), 0, VK_GetCDASize());
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidSubsystemParameters;
    }
    ~ControllerProperties() override { PN_DestroyDeviceDescriptor(c()->controller_handle); }
    _CDA* c() { return reinterpret_cast<_CDA*>(memory_.get()); }
    PCDA cda() { return memory_.get(); }
    IDENTIFY_CONTROLLER& id() { return c()->identify_controller_buffer; }
    SUBSYSTEM_PARAMETERS& subsystem() { return c()->sense_subsystem_parameters_buffer; }

    // A modern controller without feature pages: long firmware tag valid, every field filled.
    void Modern() {
        id().dwYetMoreControllerFlags = kLongFlagsValid;
        id().dwFixedStructureLength = 560;
        id().dwExtraControllerFlags = kFirmwareTag;
        std::memcpy(id().sShortRAMFirmwareRev, "5.32", 4);
        std::memcpy(id().sShortROMFirmwareRev, "5.30", 4);
        Put(id().sFWTag, "5.32-0");
        Put(id().sPendingFirmwareVersion, "5.40-1");
        Put(id().sProductID, "PQ-16i Sim");
        Put(id().sVendorID, "QVSIM");
        Put(id().sFamilyID, "QVSIM Gen2 RAID");
        std::memcpy(id().sFirmwareCompileTimeStamp, "Oct 02 2025 11:42:07", 20);
        id().cMarketingRevision = 'B';
        id().bMarketingRevisionMinor = 7;
        id().wExtendedPCISlot = 3;
        std::memcpy(subsystem().sControllerSerialNumber, "QVS0A1B2C3D4", 12);
        const VK_BYTE wwn[8] = {0x51, 0xD7, 0xB0, 0x00, 0x00, 0xA1, 0xB2, 0xC0};
        std::memcpy(subsystem().bPortName, wwn, sizeof(wwn));
        subsystem().dwTotalStructureLength = 1744;
        std::memcpy(subsystem().sDriverVersion, "3.4.20-sim", 10);
    }
    // Feature pages offering the family id and the minor revision.
    void PagesWithIdentityBits() {
        id().dwEvenMoreControllerFlags |= kPagesOffered;
        c()->flags[kCDAFlagsBuffers] |= kCDAValidFeaturePages;
        c()->sense_feature.page_miscellaneous.PageHeader.bPageCode = 0x0C;
        c()->sense_feature.page_miscellaneous.bFlags3 = 0x02;
        c()->sense_feature.page_id_controller.PageHeader.bPageCode = 0x0E;
        c()->sense_feature.page_id_controller.dwFlags1 = 0x04;
    }
    // Nothing cached and no controller to read from.
    void Unreadable() { c()->flags[kCDAFlagsBuffers] = 0; }

    void SetDescriptor(std::vector<DeviceDescriptorEntry> entries) {
        PN_DestroyDeviceDescriptor(c()->controller_handle);
        c()->controller_handle = _PN_BuildDeviceDescriptor(entries);
        ASSERT_NE(c()->controller_handle, nullptr);
    }

    std::string Text(char* (*getter)(PCDA, char*, size_t), size_t size = 64) {
        std::vector<char> buffer(size, 'x');
        getter(cda(), buffer.data(), size);
        return std::string(buffer.data(), strnlen(buffer.data(), size));
    }

    TelmarLogCapture log_;
    std::unique_ptr<VK_BYTE[]> memory_;
};

TEST_F(ControllerProperties, FirmwareVersionNeedsRoomForTheChosenField) {
    Modern();
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 33), "5.32-0");
    EXPECT_EQ(Text(VK_GetControllerPendingFirmwareVersion, 33), "5.40-1");

    // The long tag needs more than 32 bytes: a 5-byte buffer stays empty and the sizes are logged.
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 5), "");
    EXPECT_EQ(TelmarLogCapture::Count("Destination for ctrl fw (5) version not large enough (32)"), 1u);
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 32), "");

    // A 32-character tag fills a 33-byte buffer exactly.
    Put(id().sFWTag, std::string(32, '9'));
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 33), std::string(32, '9'));

    // Without the tag the short revisions answer, and 5 bytes are enough.
    id().dwExtraControllerFlags = 0;
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 5), "5.32");
    EXPECT_EQ(Text(VK_GetControllerPendingFirmwareVersion, 5), "5.30");
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 4), "");
    EXPECT_EQ(TelmarLogCapture::Count("Destination for ctrl fw (4) version not large enough (4)"), 1u);

    // The tag counts only past the extra-flags length gate.
    id().dwExtraControllerFlags = kFirmwareTag;
    id().dwFixedStructureLength = 286;
    EXPECT_EQ(Text(VK_GetControllerFirmwareVersion, 5), "5.32");
}

TEST_F(ControllerProperties, FirmwareBuildNumberOnlyWithoutTheLongTag) {
    Modern();
    id().wFirmwareBuildNumber = 1234;
    EXPECT_EQ(VK_GetControllerFirmwareBuildNumber(cda()), 0);
    id().dwExtraControllerFlags = 0;
    EXPECT_EQ(VK_GetControllerFirmwareBuildNumber(cda()), 1234);
}

TEST_F(ControllerProperties, AdapterTypeFollowsTheTrimmedProductID) {
    struct Row {
        const char* product;
        VK_WORD type;
        const char* text;
    };
    const Row rows[] = {
        {"  PQ-16i Sim    ", kAdapterVeskArray, "PQ-16i Sim"},
        {"HQ-8e", kAdapterVeskHBA, "HQ-8e"},
        {"BQ-4i", kAdapterDynamicVeskArray, "BQ-4i"},
        {"Smart 4i", kAdapterArrayController, "Smart 4i"},
        {"", kAdapterArrayController, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.product);
        Put(id().sProductID, r.product);
        char buffer[kMinGetControllerAdapterTypeBufferLength];
        EXPECT_EQ(VK_GetControllerAdapterType(cda(), buffer, sizeof(buffer)), r.type);
        EXPECT_STREQ(buffer, r.text);
    }
    EXPECT_EQ(VK_GetControllerAdapterType(cda(), nullptr, 17), kAdapterArrayController);
    char one[1] = {'x'};
    EXPECT_EQ(VK_GetControllerAdapterType(cda(), one, 0), kAdapterArrayController);
    EXPECT_EQ(TelmarLogCapture::Count("Destination for ctrl adapter type NULL"), 1u);
    EXPECT_EQ(TelmarLogCapture::Count("Empty buffer for adapter type"), 1u);
}

TEST_F(ControllerProperties, SerialNumberStopsAtTheFirstUnprintableByte) {
    struct Row {
        std::vector<VK_BYTE> field;
        std::string expected;
    };
    const std::string full(32, 'S');
    const Row rows[] = {
        {{'A', 'B', 'C', 0x00, 'D'}, "ABC"},
        {{'Q', 'V', 'S', '0', 0x85, 'X'}, "QVS0"},
        {{'A', 'B', 0x1F, 'C'}, "AB"},
        {{'A', 0x7F, 'B'}, "A"},
        {{' ', 'A', ' ', 0x7E}, " A ~"}, // blanks are kept, nothing is trimmed
        {std::vector<VK_BYTE>(full.begin(), full.end()), full},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.expected);
        std::memset(subsystem().sControllerSerialNumber, 0, 32);
        std::memcpy(subsystem().sControllerSerialNumber, r.field.data(), r.field.size());
        EXPECT_EQ(Text(VK_GetControllerSerialNumber, 33), r.expected);
    }
}

TEST_F(ControllerProperties, SlotFromIdentify) {
    struct Row {
        VK_DWORD fixed_length;
        VK_BYTE slot;
        VK_WORD extended_slot;
        bool software_raid;
        const char* expected;
    };
    const Row rows[] = {
        {400, 31, 0, true, "0b"},    {400, 31, 0, false, "31"},   {400, 0xFF, 5, false, "UNKNOWN"},
        {453, 4, 9, false, "4"},     {454, 4, 9, false, "9"},     {454, 4, 0xFFFF, false, "UNKNOWN"},
        {454, 0xFF, 31, true, "0b"}, {454, 0, 300, false, "300"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.fixed_length << " " << int(r.slot) << " " << r.extended_slot);
        id().dwFixedStructureLength = r.fixed_length;
        id().bPCISlot = r.slot;
        id().wExtendedPCISlot = r.extended_slot;
        id().dwYetMoreControllerFlags = r.software_raid ? kSoftwareRAIDLegacy : 0;
        EXPECT_EQ(Text(VK_GetControllerSlotNumber, kMinGetControllerSlotNumberBufferLength), r.expected);
    }
}

TEST_F(ControllerProperties, SlotFromTheDescriptorWhenIdentifyDoesNotKnowIt) {
    id().dwFixedStructureLength = 454;
    id().wExtendedPCISlot = 0xFFFF;
    const VK_BYTE number[4] = {12, 0, 0, 0};
    struct Row {
        const char* format;
        bool with_number;
        const char* expected;
    };
    const Row rows[] = {
        {"SLOT", true, "12"},
        {"MEZZ", true, "12"},
        {"XSLT", true, "UNKNOWN"},
        {"SLOT", false, "UNKNOWN"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.format);
        std::vector<DeviceDescriptorEntry> entries = {{kDevicePropertySlotFormat, r.format, 4}};
        if (r.with_number) {
            entries.push_back({kDevicePropertySlotNumber, number, sizeof(number)});
        }
        ASSERT_NO_FATAL_FAILURE(SetDescriptor(entries));
        EXPECT_EQ(Text(VK_GetControllerSlotNumber, 8), r.expected);
    }
    // A slot number of the wrong width is not taken.
    const VK_WORD short_number = 12;
    ASSERT_NO_FATAL_FAILURE(
        SetDescriptor({{kDevicePropertySlotFormat, "SLOT", 4},
                       {kDevicePropertySlotNumber, &short_number, sizeof(short_number)}}));
    EXPECT_EQ(Text(VK_GetControllerSlotNumber, 8), "UNKNOWN");
    // IDENTIFY unreadable: the descriptor still answers.
    Unreadable();
    ASSERT_NO_FATAL_FAILURE(
        SetDescriptor({{kDevicePropertySlotFormat, "SLOT", 4}, {kDevicePropertySlotNumber, number, 4}}));
    EXPECT_EQ(Text(VK_GetControllerSlotNumber, 8), "12");
}

TEST_F(ControllerProperties, PCILocationFromTheDescriptor) {
    EXPECT_EQ(Text(VK_GetControllerPCILocation, 17), "UNKNOWN");
    const VK_QWORD location = 0x0000000000030200;
    ASSERT_NO_FATAL_FAILURE(SetDescriptor({{kDevicePropertyPCILocation, &location, sizeof(location)}}));
    EXPECT_EQ(Text(VK_GetControllerPCILocation, 17), "0:3:2.0");

    // A five-digit domain needs 18 bytes; the minimum buffer gets the text cut, still terminated.
    const VK_QWORD widest = 0x000000FFFFFFFFFF;
    ASSERT_NO_FATAL_FAILURE(SetDescriptor({{kDevicePropertyPCILocation, &widest, sizeof(widest)}}));
    EXPECT_EQ(Text(VK_GetControllerPCILocation, 18), "65535:255:255.255");
    EXPECT_EQ(Text(VK_GetControllerPCILocation, 17), "65535:255:255.25");

    const VK_DWORD too_short = 0x030200;
    ASSERT_NO_FATAL_FAILURE(SetDescriptor({{kDevicePropertyPCILocation, &too_short, sizeof(too_short)}}));
    EXPECT_EQ(Text(VK_GetControllerPCILocation, 17), "UNKNOWN");
}

// The buffer rule of every text getter, as one table.
TEST_F(ControllerProperties, EveryTextGetterFollowsTheBufferRule) {
    struct Getter {
        const char* name;
        char* (*get)(PCDA, char*, size_t);
        size_t minimum;
        const char* null_explanation;
        const char* small_explanation;
        const char* filled;
        const char* when_unreadable;
    };
    const Getter getters[] = {
        {"product id", VK_GetControllerProductID, kMinGetControllerProductIDBufferLength,
         "Destination for ctrl product ID NULL", "Destination for ctrl product ID not large enough",
         "PQ-16i Sim", ""},
        {"family id", VK_GetControllerFamilyID, kMinGetControllerFamilyIDBufferLength,
         "Destination for ctrl family ID NULL", "Destination for ctrl family ID not large enough",
         "QVSIM Gen2 RAID", ""},
        {"vendor id", VK_GetControllerVendorID, kMinGetControllerVendorIDBufferLength,
         "Destination for ctrl vendor ID NULL", "Destination for ctrl vendor ID not large enough", "QVSIM",
         ""},
        {"firmware version", VK_GetControllerFirmwareVersion, kMinGetControllerFirmwareVersionBufferLength,
         "Destination for ctrl fw version NULL", "Destination for ctrl fw (32) version not large enough (32)",
         "5.32-0", ""},
        {"pending firmware version", VK_GetControllerPendingFirmwareVersion,
         kMinGetControllerPendingFirmwareVersionBufferLength, "Destination for pending ctrl fw version NULL",
         "Destination for pending ctrl fw (32) version not large enough (32)", "5.40-1", ""},
        {"compile time stamp", VK_GetControllerFirmwareCompileTimeStamp,
         kMinGetControllerFirmwareCompileTimeStampBufferLength, "Destination for ctrl fw timestamp NULL",
         "Destination for ctrl fw timestamp not large enough", "Oct 02 2025 11:42:07", ""},
        {"hardware revision", VK_GetControllerHardwareRevision, kMinGetControllerHardwareRevisionBufferLength,
         "Destination for ctrl hw rev NULL", "Destination for ctrl hw rev not large enough", "B", ""},
        {"hardware minor revision", VK_GetControllerHardwareMinorRevision,
         kMinGetControllerHardwareMinorRevisionBufferLength, "Destination for ctrl hw minor rev NULL",
         "Destination for ctrl hw minor rev not large enough", "7", "xxxx"}, // not offered: left as it was
        {"serial number", VK_GetControllerSerialNumber, kMinGetControllerSerialNumberBufferLength,
         "Destination for ctrl s/n NULL", "Destination for ctrl s/n not large enough", "QVS0A1B2C3D4", ""},
        {"driver version", VK_GetControllerDriverVersion, kMinGetControllerDriverVersionBufferLength,
         "Destination for driver version is NULL", "Destination for driver version is too small",
         "3.4.20-sim", ""},
        {"WWN", VK_GetControllerWWN, kMinGetControllerWWNBufferLength, "Destination for ctrl WWN NULL",
         "Destination for ctrl WWN not large enough", "51D7B00000A1B2C0", ""},
        {"slot", VK_GetControllerSlotNumber, kMinGetControllerSlotNumberBufferLength,
         "Destination for ctrl slot number NULL", "Destination for ctrl slot number not large enough", "3",
         "UNKNOWN"},
        {"PCI location", VK_GetControllerPCILocation, kMinGetControllerPCILocationBufferLength,
         "Destination for ctrl PCI location NULL", "Destination for ctrl PCI location not large enough",
         "UNKNOWN", "UNKNOWN"},
    };
    for (const Getter& g : getters) {
        SCOPED_TRACE(g.name);
        c()->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidSubsystemParameters;
        Modern();
        PagesWithIdentityBits();
        TelmarLogCapture::lines().clear();

        EXPECT_EQ(g.get(cda(), nullptr, 64), nullptr);
        EXPECT_EQ(
            TelmarLogCapture::Count(std::string("Assertion 'buffer != NULL' failed: ") + g.null_explanation),
            1u);

        char untouched[4] = {'x', 'y', 'z', 'w'};
        EXPECT_EQ(g.get(cda(), untouched, 0), untouched);
        EXPECT_EQ(std::string(untouched, 4), "xyzw");

        std::vector<char> small(g.minimum - 1, 'x');
        EXPECT_EQ(g.get(cda(), small.data(), small.size()), small.data());
        EXPECT_EQ(std::string(small.data(), small.size()), std::string(small.size(), '\0'));
        EXPECT_EQ(TelmarLogCapture::Count(g.small_explanation), 1u);

        EXPECT_EQ(Text(g.get, g.minimum), g.filled);
        EXPECT_EQ(TelmarLogCapture::lines().size(), 2u) << "nothing else logged";

        Unreadable();
        EXPECT_EQ(Text(g.get, g.minimum), g.when_unreadable);
    }
}

TEST_F(ControllerProperties, TextGettersWithTheirOwnConditions) {
    Modern();
    // Family id and minor revision need their feature-page bits; the minor revision is not even zeroed.
    EXPECT_EQ(Text(VK_GetControllerFamilyID), "");
    EXPECT_EQ(Text(VK_GetControllerHardwareMinorRevision, 4), "xxxx");
    PagesWithIdentityBits();
    id().bMarketingRevisionMinor = 255;
    EXPECT_EQ(Text(VK_GetControllerHardwareMinorRevision, 4), "255");

    // The driver version exists only in replies longer than 1712 bytes.
    subsystem().dwTotalStructureLength = 1712;
    EXPECT_EQ(Text(VK_GetControllerDriverVersion), "");
    EXPECT_EQ(TelmarLogCapture::Count("Driver version info is not published by this ctrl"), 1u);
    subsystem().dwTotalStructureLength = 1713;
    EXPECT_EQ(Text(VK_GetControllerDriverVersion), "3.4.20-sim");

    // The hardware revision is one capital letter or nothing.
    for (const char letter : {'A', 'Z'}) {
        id().cMarketingRevision = letter;
        EXPECT_EQ(Text(VK_GetControllerHardwareRevision), std::string(1, letter));
    }
    for (const char other : {'a', '@', '[', '0', '\0'}) {
        id().cMarketingRevision = other;
        EXPECT_EQ(Text(VK_GetControllerHardwareRevision), "") << int(other);
    }

    // The time stamp is copied as it is, blanks included, at most 24 characters.
    std::memcpy(id().sFirmwareCompileTimeStamp, " Oct  2 2025 11:42:07 UTC", 24);
    EXPECT_EQ(Text(VK_GetControllerFirmwareCompileTimeStamp), " Oct  2 2025 11:42:07 UT");
}

TEST_F(ControllerProperties, WorldWideName) {
    Modern();
    EXPECT_EQ(Text(VK_GetControllerWWN, 17), "51D7B00000A1B2C0");
    EXPECT_EQ(VK_GetControllerRawWWN(cda()), 0xC0B2A10000B0D751ull);
    Unreadable();
    EXPECT_EQ(VK_GetControllerRawWWN(cda()), 0u);
}

TEST_F(ControllerProperties, PCIeLinkAndSizes) {
    struct Speed {
        VK_BYTE generation, width;
        VK_DWORD mbps;
    };
    const Speed speeds[] = {{1, 8, 2000}, {2, 4, 2000}, {3, 8, 7880}, {4, 16, 31504},
                            {5, 8, 0},    {0, 8, 0},    {3, 0, 0}};
    for (const Speed& s : speeds) {
        id().bPCIEGeneration = s.generation;
        id().bPCIEWidth = s.width;
        EXPECT_EQ(VK_GetPCIeNegotiatedSpeed(cda()), s.mbps) << int(s.generation) << "x" << int(s.width);
        EXPECT_EQ(VK_GetPCIeGen(cda()), s.generation);
        EXPECT_EQ(VK_GetPCIeWidth(cda()), s.width);
    }
    const VK_WORD flash[] = {0, 0, 0, 0, 16, 16, 16, 32, 32};
    for (VK_BYTE version = 0; version <= 8; ++version) {
        c()->controller_firmware_feature_version = version;
        EXPECT_EQ(VK_GetControllerFlashSizeMB(cda()), flash[version]) << int(version);
    }
    id().wTotalAvailableMemorySize = 4096;
    EXPECT_EQ(VK_GetControllerMemorySizeMB(cda()), 4096);
    Unreadable();
    EXPECT_EQ(VK_GetControllerMemorySizeMB(cda()), 0);
    EXPECT_EQ(VK_GetControllerFlashSizeMB(cda()), 0);
    EXPECT_EQ(VK_GetPCIeNegotiatedSpeed(cda()), 0u);
}

TEST_F(ControllerProperties, PCIValuesNeedTheirFixedLength) {
    id().wPCIVendorID = 0x1D7B;
    id().wPCIDeviceID = 0x0A60;
    id().wPCISSVendorID = 0x1D7C;
    id().wPCISSDeviceID = 0x1100;
    id().dwPCIMaxLinkRate = 8;
    id().dwPCIMaxLinkWidth = 16;
    id().bPCIEGeneration = 3;
    id().bPCIEWidth = 8;
    struct Row {
        VK_BYTE selector;
        VK_DWORD length;
        VK_DWORD value;
        const char* explanation;
    };
    const Row rows[] = {
        {kPCIVendorDeviceID, 366, 0x1D7B0A60, "Ctrl does not report PCI vendor/device id values"},
        {kPCISubsystemVendorDeviceID, 370, 0x1D7C1100, "Ctrl does not report PCI SS vendor/device id values"},
        {kPCIMaxLinkRate, 374, 8, "Ctrl does not report PCI max link rate value"},
        {kPCIMaxLinkWidth, 378, 16, "Ctrl does not report PCI max link width value"},
        {kPCIeGeneration, 291, 3, "Ctrl does not report PCI generation value"},
        {kPCIeWidth, 292, 8, "Ctrl does not report PCI width value"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(int(r.selector));
        id().dwFixedStructureLength = r.length;
        EXPECT_EQ(VK_GetControllerPCIValue(cda(), r.selector), r.value);
        id().dwFixedStructureLength = r.length - 1;
        EXPECT_EQ(VK_GetControllerPCIValue(cda(), r.selector), 0u);
        EXPECT_EQ(TelmarLogCapture::Count(r.explanation), 1u);
    }
    for (const VK_BYTE bad : {VK_BYTE{0}, VK_BYTE{7}, VK_BYTE{0xFF}}) {
        EXPECT_EQ(VK_GetControllerPCIValue(cda(), bad), 0u);
    }
    EXPECT_EQ(TelmarLogCapture::Count("Invalid pci_value parameter.\n"), 3u);
}

TEST_F(ControllerProperties, SpinupParametersPastTheirFixedLength) {
    id().dwSimultaneousSpinupCount = 4;
    id().dwDriveSpinupDelay = 2;
    id().dwFixedStructureLength = 361;
    EXPECT_EQ(VK_GetControllerSpinupParameter(cda(), kSimultaneousSpinupCount), 0u);
    EXPECT_EQ(
        TelmarLogCapture::Count("Assertion 'dwFixedStructureLength > 361' failed: Spinup params are not "
                                "published by this ctrl"),
        1u);
    id().dwFixedStructureLength = 362;
    EXPECT_EQ(VK_GetControllerSpinupParameter(cda(), kSimultaneousSpinupCount), 4u);
    EXPECT_EQ(VK_GetControllerSpinupParameter(cda(), kDriveSpinupDelaySec), 2u);
    EXPECT_EQ(VK_GetControllerSpinupParameter(cda(), 3), 0u);
}

TEST_F(ControllerProperties, ComparisonStampsPastTheirFixedLength) {
    id().u32CurrentFirmwareComparisonStamp = 0x5320;
    id().u32PendingFirmwareComparisonStamp = 0x5400;
    id().dwFixedStructureLength = 487;
    EXPECT_EQ(VK_GetControllerPendingFirmwareComparisonStamp(cda()), 0u);
    id().dwFixedStructureLength = 488;
    EXPECT_EQ(VK_GetControllerPendingFirmwareComparisonStamp(cda()), 0x5400u);
    EXPECT_EQ(VK_GetControllerFirmwareComparisonStamp(cda()), 0u);
    id().dwFixedStructureLength = 492;
    EXPECT_EQ(VK_GetControllerFirmwareComparisonStamp(cda()), 0x5320u);
}

TEST_F(ControllerProperties, ErrorWordLockupAndNVRAM) {
    struct Bit {
        VK_BYTE rom, post;
        VK_DWORD yet_more;
        VK_WORD word;
    };
    const Bit bits[] = {{0x08, 0, 0, 0x0001},   {0x04, 0, 0, 0x0002}, {0x02, 0, 0, 0x0004},
                        {0, 0x02, 0, 0x0008},   {0, 0x01, 0, 0x0010}, {0, 0, 0x08, 0x0020},
                        {0xF1, 0xFC, ~0x08u, 0}};
    for (const Bit& b : bits) {
        id().bActiveROMStatus = b.rom;
        id().bControllerPostStatus = b.post;
        id().dwYetMoreControllerFlags = b.yet_more;
        EXPECT_EQ(_VK_GetControllerAdditionalError(cda()), b.word);
    }

    id().bLastLockup = 0x42;
    id().dwExtendedLastLockup = 0x12345678;
    id().dwYetMoreControllerFlags = 0;
    EXPECT_EQ(_VK_GetControllerLastLockupCode(cda()), 0u) << "no lockup recorded";
    id().dwYetMoreControllerFlags = 0x08;
    EXPECT_EQ(_VK_GetControllerLastLockupCode(cda()), 0x42u);
    id().bLastLockup = 0xFF;
    EXPECT_EQ(_VK_GetControllerLastLockupCode(cda()), 0x12345678u);

    id().dwEvenMoreControllerFlags = 0x7E;
    id().dwYetMoreControllerFlags = kLongFlagsValid;
    id().dwFixedStructureLength = 268;
    EXPECT_EQ(VK_GetControllerNVRAMErrors(cda()), kControllerNVRAMErrorUnsupported);
    id().dwFixedStructureLength = 269;
    EXPECT_EQ(VK_GetControllerNVRAMErrors(cda()), kControllerNVRAMErrorImageFailedButCanBeRestored);

    reinterpret_cast<VK_BYTE*>(&subsystem())[209] = 3;
    EXPECT_EQ(VK_GetControllerPlatformNVRAMRevision(cda()), 3);
    Unreadable();
    EXPECT_EQ(VK_GetControllerNVRAMErrors(cda()), kControllerNVRAMErrorUnknown);
    EXPECT_EQ(VK_GetControllerPlatformNVRAMRevision(cda()), kInvalidPlatformNVRAMRevision);
    EXPECT_EQ(_VK_GetControllerAdditionalError(cda()), 0);
}

TEST_F(ControllerProperties, SystemPropertiesOfTheControllersDescriptor) {
    const VK_QWORD location = 0x030200;
    ASSERT_NO_FATAL_FAILURE(SetDescriptor({{kDevicePropertyPCILocation, &location, sizeof(location)}}));
    const size_t whole = PN_GetDeviceDescriptorSize(c()->controller_handle);
    EXPECT_EQ(VK_GetControllerSystemPropertySize(cda(), 0xFF), whole);
    EXPECT_EQ(VK_GetControllerSystemPropertySize(cda(), kDevicePropertyPCILocation), 8);
    EXPECT_EQ(VK_GetControllerSystemPropertySize(cda(), kDevicePropertySlotNumber), 0);

    std::vector<VK_BYTE> copy(whole + 4, 0xEE);
    EXPECT_EQ(VK_GetControllerSystemProperty(cda(), 0xFF, copy.data(), static_cast<VK_DWORD>(whole - 1)), 2);
    EXPECT_EQ(VK_GetControllerSystemProperty(cda(), 0xFF, copy.data(), static_cast<VK_DWORD>(copy.size())),
              0);
    EXPECT_EQ(std::memcmp(copy.data(), c()->controller_handle, whole), 0);
    EXPECT_EQ(copy[whole], 0xEE) << "exactly the descriptor's own size";
    VK_QWORD read = 0;
    EXPECT_EQ(VK_GetControllerSystemProperty(cda(), kDevicePropertyPCILocation, &read, sizeof(read)), 0);
    EXPECT_EQ(read, location);
}

TEST_F(ControllerProperties, DecodersReadNothingPastAShortView) {
    namespace dec = telmar::decode;
    Modern();
    const VK_BYTE* bytes = reinterpret_cast<const VK_BYTE*>(&id());
    // The product id cut after 4 characters, and a view ending before the field.
    char text[32];
    EXPECT_EQ(dec::TrimmedText(pavlin::ByteView(bytes, 212), {208, 16}, text, sizeof(text)), 4u);
    EXPECT_STREQ(text, "PQ-1");
    EXPECT_EQ(dec::TrimmedText(pavlin::ByteView(bytes, 100), {208, 16}, text, sizeof(text)), 0u);
    EXPECT_STREQ(text, "");
    // Without the flag words the long tag is not valid, and the short field is chosen.
    EXPECT_EQ(dec::FirmwareVersionField(pavlin::ByteView(bytes, 200), false).width, 4u);
    EXPECT_EQ(dec::FirmwareVersionField(pavlin::ByteView(bytes, 1024), false).width, 32u);
}

} // namespace
