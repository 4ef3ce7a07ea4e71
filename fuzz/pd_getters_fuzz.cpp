// Fuzz target: the physical-device getters over an arbitrary IDENTIFY PHYSICAL DRIVE (0x15) reply.
// The first bytes of the input choose the controller's options (long connector names, long box
// names, NVMe), the controller's device maximum, the record bits and the PHY numbers, selectors and
// buffer sizes; the rest is the reply, decoded into drive 0's record as the loader decodes it and
// marked cached, so no command is sent. A text that is not terminated, a write past a caller's buffer
// or a LUN list that leaks aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_records.h"

namespace {

constexpr size_t kHeader = 12;

// Three extra-LUN entries that hang off the record whatever LUN count the reply gives.
PhysicalDriveLunInfo g_luns[3];

volatile VK_QWORD g_sink;

using Text = char* (*)(PCDA, VK_WORD, char*, size_t);
constexpr Text kTexts[] = {VK_GetPhysicalDriveModel,           VK_GetPhysicalDriveSerialNumber,
                           VK_GetPhysicalDriveFirmwareVersion, VK_GetPhysicalDriveMinFirmwareVersion,
                           VK_GetPhysicalDriveVendorID,        VK_GetPhysicalDriveProductID,
                           VK_GetPhysicalDriveBootVolumeID,    VK_GetPhysicalDriveUniqueVolumeID};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const uint8_t options = data[0];
    const VK_WORD max_devices = static_cast<VK_WORD>(data[1] | data[2] << 8);
    const VK_WORD record_flags = static_cast<VK_WORD>(data[3] | data[4] << 8);
    const VK_WORD phy = static_cast<VK_WORD>(data[5] | data[6] << 8);
    const size_t text_size = data[7];
    const VK_BYTE selector = data[8];
    const VK_BYTE path = data[9];
    const VK_WORD connector = static_cast<VK_WORD>(data[10] | data[11] << 8);
    const pavlin::ByteView reply(data + kHeader, size - kHeader);

    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    PhysicalDriveRecord& record = _VK_PDRecordForWrite(c, 0);
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidSubsystemParameters | kCDAValidFeaturePages;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    c->identify_controller_buffer.dwEvenMoreControllerFlags = 0x80000000;
    c->identify_controller_buffer.wMaximumPhysicalDevicesSupported = max_devices;
    c->sense_feature.page_connectivity.bFlags = (options & 0x01) ? 0x08 : 0;
    c->sense_feature.page_connectivity.bFlags2 = (options & 0x02) ? 0x01 : 0;
    c->sense_feature.page_nvme.bNVMeFlags = (options & 0x04) ? 0x01 : 0;

    telmar::DecodePhysicalDriveStatus(reply, (options & 0x08) != 0, record.identify_physical_drive_buffer);
    record.flags = static_cast<VK_WORD>(record_flags | kPDRecordIdentifyValid);
    record.pd_config_information.total_size_blocks = reply.le32(4).value_or(0);
    record.pd_config_information.logical_block_size_bytes = reply.le16(2).value_or(0);
    for (size_t k = 0; k < 3; ++k) {
        g_luns[k].is_valid = static_cast<VK_BYTE>((options >> (4 + k)) & 1);
        g_luns[k].total_size_blocks = k + 1;
    }
    record.additional_lun_info = (options & 0x80) ? g_luns : nullptr;

    const VK_WORD count = record.identify_physical_drive_buffer.wPHYCount;
    const VK_WORD phys[] = {phy, kAnyPhyNumber, kInvalidPhyNumber, 0, 255, 256, count,
                            static_cast<VK_WORD>(count - 1)};
    const size_t sizes[] = {0, 1, 8, 9, 16, 17, 24, 25, 32, 33, 41, 48, 49, text_size};

    VK_QWORD sum = 0;
    for (Text text : kTexts) {
        for (size_t s : sizes) {
            CheckCallerBuffer(s, true, [&](char* b, size_t n) { text(cda, 0, b, n); });
        }
    }
    for (size_t s : sizes) {
        for (VK_BOOL as_text : {kFalse, kTrue}) {
            CheckCallerBuffer(s, as_text != kFalse, [&](char* b, size_t n) { VK_GetPhysicalDriveWWID(cda, 0, b, n, as_text); });
        }
        for (VK_BYTE type : {VK_BYTE{1}, VK_BYTE{2}, VK_BYTE{3}, VK_BYTE{4}, selector}) {
            CheckCallerBuffer(s, true, [&](char* b, size_t n) { VK_GetPhysicalDriveLocation(cda, 0, type, b, n); });
            for (VK_BYTE p : {VK_BYTE{0}, VK_BYTE{7}, path}) {
                CheckCallerBuffer(s, true,
                            [&](char* b, size_t n) { VK_GetPhysicalDevicePathName(cda, 0, p, type, b, n); });
            }
        }
    }
    for (VK_WORD p : phys) {
        sum += VK_GetPhysicalDevicePhyLinkRate(cda, 0, p) + VK_GetPhysicalDevicePhyConnectorIndex(cda, 0, p) +
               _VK_GetPhysicalDevicePhyConnectedDeviceType(cda, 0, p);
    }
    for (unsigned s = 0; s <= 10; ++s) {
        sum += VK_GetPhysicalDriveSize(cda, 0, static_cast<VK_BYTE>(s)) +
               VK_GetPhysicalDevicePhyMap(cda, 0, static_cast<VK_BYTE>(s)) +
               VK_GetPhysicalDrivePCIValue(cda, 0, static_cast<VK_BYTE>(s));
    }
    sum += VK_GetPhysicalDriveSize(cda, 0, selector) + VK_GetPhysicalDevicePhyMap(cda, 0, selector);
    sum += VK_GetPhysicalDriveBasicInfo(cda, 0) + VK_GetPhysicalDriveUsageInfo(cda, 0) +
           VK_GetPhysicalDeviceStorageEnclosureNumber(cda, 0) + VK_GetPhysicalDriveCurrentTemperature(cda, 0) +
           VK_GetPhysicalDriveMaximumTemperature(cda, 0) + VK_GetPhysicalDriveTemperatureThreshold(cda, 0) +
           VK_GetPhysicalDriveRotationalSpeed(cda, 0) + VK_GetPhysicalDevicePHYCount(cda, 0) +
           VK_GetPhysicalDeviceControllerPhyNumbers(cda, 0) + VK_GetPhysicalDevicePathCount(cda, 0) +
           VK_GetPhysicalDevicePathInfo(cda, 0) + VK_PhysicalDeviceIsMultiPath(cda, 0) +
           VK_GetPhysicalDeviceConnectorLocation(cda, 0) + VK_PhysicalDeviceType(cda, 0) +
           VK_EnumeratePhysicalDriveConnectors(cda, 0, connector) + VK_EnumerateControllerPhysicalDrives(cda, 0xFFFF);

    const VK_UINT64 allocated = _VK_curr_alloc;
    PHYSICAL_DRIVE_LUN_INFO_LIST* list = nullptr;
    if (VK_GetPhysicalDriveLunInfo(cda, 0, &list) == kGetPhysicalDriveLunInfoSuccess) {
        FUZZ_CHECK(list != nullptr && list->count >= 1 && list->count <= 4);
        const VK_BYTE luns = record.identify_physical_drive_buffer.bMultiLUNDeviceLUNCount;
        for (size_t k = 0; k < (luns == 0 ? 1u : luns); ++k) {
            FUZZ_CHECK(std::memchr(list->lun_info[k].wwid_str, 0, sizeof(list->lun_info[k].wwid_str)) != nullptr);
            FUZZ_CHECK(std::memchr(list->lun_info[k].unique_volume_id, 0,
                                   sizeof(list->lun_info[k].unique_volume_id)) != nullptr);
        }
        VK_free(list);
    } else {
        FUZZ_CHECK(list == nullptr);
    }
    FUZZ_CHECK(_VK_curr_alloc == allocated);
    record.additional_lun_info = nullptr;
    g_sink = sum;
    return 0;
}
