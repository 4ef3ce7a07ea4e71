// The per-device records of the data area: physical-drive identify copies with their extra LUNs,
// logical-drive configurations, identify, status and LU cache buffers, and the enclosure records.
// Each cached loader checks its number before the lock, reads only while the record's bit is clear,
// into a zeroed destination, and answers with the bit.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "ppavl_debug.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_cda_internal.h"
#include "telm_records.h"

using pavlin::ByteView;
using pavlin::TrackedBuffer;

namespace {

constexpr VK_DWORD kLUCacheSubcommandConfiguration = 0;
constexpr VK_DWORD kLUCacheSubcommandStatistics = 1;
constexpr VK_DWORD kDefaultLogicalDriveStatusSize = sizeof(LOGICAL_DRIVE_STATUS);
constexpr VK_DWORD kNoLogicalDrive = 0xFFFF;

bool PDOutOfRange(VK_WORD pd_number) {
    if (pd_number < kMaxPhysicalDrivesSupported) {
        return false;
    }
    PN_DebugLog(1, 0, "%s:%d: error: Request for pd out of range", __FILE__, __LINE__);
    return true;
}

bool LDOutOfRange(VK_WORD ld_number) {
    if (ld_number < kMaxLogicalDrivesSupported) {
        return false;
    }
    PN_DebugLog(1, 0, "%s:%d: error: Request for ld out of range", __FILE__, __LINE__);
    return true;
}

VK_DWORD PhysicalDriveDetail(VK_WORD pd_number) {
    return static_cast<VK_DWORD>(pd_number & 0xFF) << 24;
}

bool IsDriveType(VK_BYTE device_type) {
    switch (device_type) {
    case 1: case 2: case 3: case 4: case 9: case 10:
        return true;
    default:
        return false;
    }
}

// Total blocks of a drive or LUN: the 64-bit count stands in for a saturated 32-bit one only on a
// controller that handles drives past 2 TB.
VK_QWORD TotalBlocks(PCDA cda, ByteView reply) {
    const VK_DWORD total = reply.le32(offsetof(PHYSICAL_DRIVE_STATUS, dwTotalBlocks)).value_or(0);
    if (total == 0xFFFFFFFF && VK_RequestIdentifyControllerBuffer(cda) && VK_ControllerSupports2TBDrives(cda)) {
        return reply.le64(offsetof(PHYSICAL_DRIVE_STATUS, qwBIGTotalBlockCount)).value_or(0);
    }
    return total;
}

// The partner of an LU cache pair named by a configuration, or kNoLogicalDrive.
VK_DWORD LUCachePartner(const LOGICAL_DRIVE_CONFIG& config) {
    if (config.bLUCacheBits == 0 || config.wLUCacheOtherUnitNumber >= kMaxLogicalDrivesSupported) {
        return kNoLogicalDrive;
    }
    return config.wLUCacheOtherUnitNumber;
}

} // namespace

// ---- Decoders -------------------------------------------------------------------------------------

#define COPY_FIELD(reply_type, field) \
    reply.copy_to(offsetof(reply_type, field), &out.field, sizeof(out.field))

void telmar::DecodePhysicalDriveStatus(ByteView reply, bool full_length_model, CDA_PHYSICAL_DRIVE_STATUS& out) {
    std::memset(&out, 0, sizeof(out));
#define PD(field) COPY_FIELD(PHYSICAL_DRIVE_STATUS, field)
    PD(wBlockSize); PD(dwTotalBlocks); PD(dwReservedBlocks); PD(sDriveSerialNumber); PD(sDriveFirmwareRevision);
    PD(bDriveStamped); PD(bLastFailureReason); PD(bDeviceFlags); PD(bMoreDeviceFlags); PD(bYetMoreDeviceFlags);
    PD(bEvenMoreDeviceFlags); PD(sPhysicalPort); PD(bPhysicalBox); PD(bPhysicalBay); PD(dwRPM); PD(bDeviceType);
    PD(qwBIGTotalBlockCount); PD(bWWID); PD(bControllerPHYMap); PD(wPHYCount); PD(bPHYConnectedDeviceType);
    PD(bBoxIndex); PD(bQRBSupport); PD(wExtraDeviceFlags); PD(bNegotiatedLogicalLinkRate);
    PD(bRedundantPathPresentMap); PD(bRedundantPathFailureMap); PD(bActivePathNumber); PD(sMultiPathPort);
    PD(bMultiPathBox); PD(bMultiLUNDeviceLUNCount); PD(sMinimumGoodFirmwareRevision); PD(bCurrentTemperature);
    PD(bTemperatureThreshold); PD(bMaximumTemperature); PD(bLogicalBlocksPerPhysicalBlock); PD(wPowerOnHours);
    PD(wPercentEnduranceUsed); PD(bVeskCarrierAuthentication); PD(bVeskCarrierApplicationVersion);
    PD(bSanitizeEraseSupport); PD(dwMiscDriveFlags); PD(bConnectorMode); PD(bConnectorInfo);
    PD(sLongConnectorName); PD(bDeviceUniqueID); PD(bMaxLinkRate); PD(bNegotiatedPhysicalLinkRate);
    PD(bLongBoxConnectorName); PD(bActivePathMap); PD(bSanitizePolicy); PD(bConnectorMap);
    PD(dwDriveFeatureFlags); PD(wDriveUnsupportedReason); PD(bOEMID); PD(wPCIVendorID); PD(wPCISSVendorID);
#undef PD
    if (full_length_model) {
        reply.copy_to(offsetof(PHYSICAL_DRIVE_STATUS, sFullLengthDeviceModel), out.sFullLengthDeviceModel,
                      sizeof(out.sFullLengthDeviceModel));
    } else {
        reply.copy_to(offsetof(PHYSICAL_DRIVE_STATUS, sDriveModel), out.sFullLengthDeviceModel,
                      sizeof(PHYSICAL_DRIVE_STATUS::sDriveModel));
    }
}

void telmar::DecodeLogicalDriveStatus(ByteView reply, CDA_LOGICAL_DRIVE_STATUS& out) {
    std::memset(&out, 0, sizeof(out));
#define LD(field) COPY_FIELD(LOGICAL_DRIVE_STATUS, field)
    LD(bUnitStatus); LD(wMissingDriveCount); LD(dwBlocksLeftToRecover); LD(bMediaExchanged); LD(bExpandFailure);
    LD(bUnitFlags); LD(pbBigReplacementDriveMap); LD(bBigDriveRebuilding); LD(qwBigBlocksLeftToRecover);
    LD(wExtendedDriveRebuilding); LD(bEncryptionFlags); LD(bRedundantCablingFlags); LD(dwFixedStructureLength);
    if (out.dwFixedStructureLength > offsetof(LOGICAL_DRIVE_STATUS, bAdditionalEncryptionFlags)) {
        LD(bAdditionalEncryptionFlags);
    }
    if (out.dwFixedStructureLength > offsetof(LOGICAL_DRIVE_STATUS, bManagedSEDVolumeFlags)) {
        LD(bManagedSEDVolumeFlags);
    }
#undef LD
    const VK_WORD max_devices =
        reply.le16(offsetof(LOGICAL_DRIVE_STATUS, wMaximumPhysicalDevicesSupported)).value_or(0);
    const size_t map_bytes = std::min<size_t>(kDriveBitmapSize, max_devices / 8);
    struct Map {
        size_t reply_offset_field;
        size_t own_offset_field;
        VK_BYTE* destination;
        size_t size;
        size_t bytes;
    };
    const Map maps[] = {
        {offsetof(LOGICAL_DRIVE_STATUS, wOffsetToExtendedDriveFailureMap),
         offsetof(CDA_LOGICAL_DRIVE_STATUS, wOffsetToExtendedDriveFailureMap), out.pbExtendedDriveFailureMap,
         sizeof(out.pbExtendedDriveFailureMap), map_bytes},
        {offsetof(LOGICAL_DRIVE_STATUS, wOffsetToExtendedReplacementDriveMap),
         offsetof(CDA_LOGICAL_DRIVE_STATUS, wOffsetToExtendedReplacementDriveMap), out.pbExtendedReplacementDriveMap,
         sizeof(out.pbExtendedReplacementDriveMap), map_bytes},
        {offsetof(LOGICAL_DRIVE_STATUS, wOffsetToExtendedActiveSpareMap),
         offsetof(CDA_LOGICAL_DRIVE_STATUS, wOffsetToExtendedActiveSpareMap), out.pbExtendedActiveSpareMap,
         sizeof(out.pbExtendedActiveSpareMap), map_bytes},
        {offsetof(LOGICAL_DRIVE_STATUS, wOffsetToDriveRebuildPercentage),
         offsetof(CDA_LOGICAL_DRIVE_STATUS, wOffsetToDriveRebuildPercentage), out.pbDriveRebuildPercentage,
         sizeof(out.pbDriveRebuildPercentage), std::min<size_t>(kMaxPhysicalDrivesSupported, max_devices)},
    };
    for (const Map& m : maps) {
        const VK_WORD offset = reply.le16(m.reply_offset_field).value_or(0);
        if (offset == 0) {
            continue;
        }
        // The compact copy's own offsets point into itself; a map that does not fit stays clear.
        const auto own = static_cast<VK_WORD>(m.destination - reinterpret_cast<VK_BYTE*>(&out));
        std::memcpy(reinterpret_cast<VK_BYTE*>(&out) + m.own_offset_field, &own, sizeof(own));
        CopyMap(reply, offset, m.bytes, m.destination, m.size);
    }
}

bool telmar::DecodeBusParameters(ByteView reply, CDA_SENSE_BUS_PARAMETERS& out) {
    std::memset(&out, 0, sizeof(out));
#define BP(field) COPY_FIELD(SENSE_BUS_PARAMETERS, field)
    BP(boxInquiryData); BP(bInquiryValid); BP(bPhysicalBox); BP(alarmData); BP(wConnectionFlags);
    BP(pbBigInstalledDriveMap); BP(bBayCount); BP(bExpanderCount); BP(sChassisSerialNumber); BP(bSEPCount);
    BP(bSEPDeviceTypes); BP(wSEPDeviceNumbers); BP(wExpanderDeviceNumbers); BP(wMaximumPhysicalDevicesSupported);
    BP(bRedundantPathPresentMap); BP(bRedundantPathFailureMap); BP(bActivePathNumber); BP(sMultiPathPort);
    BP(bMultiPathBox); BP(ubmBackplaneInfo);
    const VK_DWORD fixed = reply.le32(offsetof(SENSE_BUS_PARAMETERS, dwFixedStructureLength)).value_or(0);
    if (fixed > offsetof(SENSE_BUS_PARAMETERS, sLongConnectorName)) {
        BP(sLongConnectorName);
    }
    if (fixed > offsetof(SENSE_BUS_PARAMETERS, bActivePathMap)) {
        BP(bActivePathMap);
    }
    if (fixed > offsetof(SENSE_BUS_PARAMETERS, bConnectorMap)) {
        BP(bConnectorMap);
    }
#undef BP
    const VK_WORD offset = reply.le16(offsetof(SENSE_BUS_PARAMETERS, wOffsetToExtendedInstalledDriveMap)).value_or(0);
    if (offset != 0) {
        out.wOffsetToExtendedInstalledDriveMap = offsetof(CDA_SENSE_BUS_PARAMETERS, pbExtendedInstalledDriveMap);
        CopyMap(reply, offset, std::min<size_t>(kDriveBitmapSize, out.wMaximumPhysicalDevicesSupported / 8),
                out.pbExtendedInstalledDriveMap, sizeof(out.pbExtendedInstalledDriveMap));
    }
    return out.bInquiryValid != 0 || out.bBayCount != 0 || out.bExpanderCount != 0;
}

#undef COPY_FIELD

void telmar::ReadExtraLuns(PCDA cda, VK_WORD pd_number, PhysicalDriveRecord& record) {
    VK_BYTE luns = record.identify_physical_drive_buffer.bMultiLUNDeviceLUNCount;
    if (luns == 0) {
        luns = 1;
    }
    if (luns > kMaxPhysicalDriveLunsSupported) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'num_luns_on_pd <= kMaxPhysicalDriveLunsSupported' failed: Reported "
                    "number of LUNs on physical drive > kMaxPhysicalDriveLunsSupported\n",
                    __func__, __LINE__);
        return;
    }
    if (luns < 2) {
        return;
    }
    TrackedBuffer extra = PN_TRACKED_ZEROED(sizeof(PhysicalDriveLunInfo) * (luns - 1u));
    if (!extra) {
        PN_DebugLog(1, 0,
                    "%s:%d: Assertion 'additional_lun_info != ((void *)0)' failed: Failed to allocate memory "
                    "for extra LUNs on physical drive\n",
                    __func__, __LINE__);
        return;
    }
    auto* infos = reinterpret_cast<PhysicalDriveLunInfo*>(extra.get());
    for (VK_BYTE lun = 1; lun < luns; ++lun) {
        PhysicalDriveLunInfo info;
        if (__VK_GetPhysicalDriveRecordLunInfo(cda, pd_number, lun, &info)) {
            infos[lun - 1] = info;
            infos[lun - 1].is_valid = 1;
        } else {
            PN_DebugLog(1, 0, "%s:%d: Failed to read physical drive %d info for LUN %d", __FILE__, __LINE__,
                        static_cast<int>(pd_number), static_cast<int>(lun));
        }
    }
    record.additional_lun_info = reinterpret_cast<PhysicalDriveLunInfo*>(extra.release());
}


void telmar::DerivePhysicalDriveRecord(PCDA cda, PhysicalDriveRecord& record) {
    record.flags &= static_cast<VK_WORD>(~(kPDRecordDrive | kPDRecordBootConnector));
    const CDA_PHYSICAL_DRIVE_STATUS& id = record.identify_physical_drive_buffer;
    if (!IsDriveType(id.bDeviceType)) {
        return;
    }
    const VK_WORD mode = VK_GetControllerModeInfo(cda);
    if (!(id.bDeviceFlags & 0x02)) {
        record.flags |= kPDRecordDrive;
    }
    PhysicalDriveConfigInformation& info = record.pd_config_information;
    info.logical_block_size_bytes = id.wBlockSize;
    // A ratio whose physical block would not fit the 16-bit size is not believed.
    const VK_QWORD physical = id.bLogicalBlocksPerPhysicalBlock != 0
                                  ? static_cast<VK_QWORD>(id.wBlockSize) << (id.bLogicalBlocksPerPhysicalBlock & 0x1F)
                                  : id.wBlockSize;
    info.physical_block_size_bytes = physical <= 0xFFFF ? static_cast<VK_WORD>(physical) : id.wBlockSize;
    info.total_size_blocks = id.dwTotalBlocks;
    if (id.dwTotalBlocks == 0xFFFFFFFF && VK_RequestIdentifyControllerBuffer(cda) &&
        VK_ControllerSupports2TBDrives(cda)) {
        info.total_size_blocks = id.qwBIGTotalBlockCount;
    }
    info.usable_size_blocks =
        id.dwReservedBlocks < info.total_size_blocks ? info.total_size_blocks - id.dwReservedBlocks : 0;
    if (VK_ControllerSupportsBootConnectors(cda) && (id.dwMiscDriveFlags & 0x8000)) {
        record.flags |= kPDRecordBootConnector;
    }
    switch (mode & kControllerModeCurrentMask) {
    case kControllerModeCurrentHBA:
        info.usable_size_blocks = info.total_size_blocks;
        break;
    case kControllerModeCurrentMixed:
        if (id.bConnectorMode == kConnectorModeHBA) {
            info.usable_size_blocks = info.total_size_blocks;
        }
        if (id.bConnectorMode <= kConnectorModeMixed) {
            record.flags &= static_cast<VK_WORD>(~kPDRecordConnectorModeMismatch);
            for (VK_BYTE number : id.bConnectorInfo) {
                if (number == 0xFF) {
                    continue;
                }
                const VK_WORD index = _VK_GetConnectorIndexFromNumber(cda, number);
                CONTROLLER_CONNECTOR_INFO connector;
                if (index != kInvalidConnectorIndex && VK_GetControllerConnectorInfo(cda, index, &connector) &&
                    connector.current_connector_mode != id.bConnectorMode) {
                    record.flags |= kPDRecordConnectorModeMismatch;
                    break;
                }
            }
        }
        break;
    default:
        break;
    }
}

void telmar::DeriveLogicalDriveConfig(PCDA cda, LogicalDriveRecord& record) {
    record.flags &= ~kLDRecordExists;
    const LOGICAL_DRIVE_CONFIG& config = record.sense_config_buffer;
    if (config.wAssignedDrives == 0) {
        return;
    }
    record.flags |= kLDRecordExists;
    record.flags &= ~(kLDRecordLUCacheBits | kLDRecordUnsupportedConfigVersion);
    if (config.bConfigModMajorVer > 20) {
        record.flags |= kLDRecordUnsupportedConfigVersion;
    }
    record.drive_size_blocks =
        config.dwBlocksOnVolume == 0xFFFFFFFF ? config.qwBigBlocksInLogicalDrive : config.dwBlocksOnVolume;
    record.physical_drive_blocks_per_drive = config.dwBlocksPerDrive;
    record.physical_drive_offset_block = config.data_offset;
    record.block_size_bytes = config.wBlockSize;
    if (VK_RequestIdentifyControllerBuffer(cda)) {
        if (VK_ControllerSupports2TBDrives(cda)) {
            if (config.dwBlocksPerDrive == 0xFFFFFFFF) {
                record.physical_drive_blocks_per_drive = config.qwExtendedBlocksPerDrive;
            }
            if (config.data_offset == 0xFFFFFFFF) {
                record.physical_drive_offset_block = config.qwExtendedOffsetToData;
            }
        }
        if ((VK_ControllerSupportsLUCache(cda) & kControllerSupportsLUCacheSupported) && config.bLUCacheBits != 0) {
            record.flags |= kLDRecordLUCacheBits;
        }
    }
}

namespace {

std::optional<ByteView> ConfigMap(const LOGICAL_DRIVE_CONFIG& config, VK_WORD extended_offset,
                                  size_t legacy_offset, size_t map_bytes) {
    const ByteView held(&config, sizeof(config));
    if (extended_offset == 0) {
        return held.sub(legacy_offset, std::min<size_t>(map_bytes, sizeof(config.pbBigDriveAssignmentMap)));
    }
    return telmar::MapAt(held, extended_offset, map_bytes);
}

} // namespace

std::optional<ByteView> telmar::ConfigMemberMap(const LOGICAL_DRIVE_CONFIG& config, size_t map_bytes) {
    return ConfigMap(config, config.wOffsetToExtendedDriveAssignmentMap,
                     offsetof(LOGICAL_DRIVE_CONFIG, pbBigDriveAssignmentMap), map_bytes);
}

std::optional<ByteView> telmar::ConfigSpareMap(const LOGICAL_DRIVE_CONFIG& config, size_t map_bytes) {
    return ConfigMap(config, config.wOffsetToExtendedSpareAssignmentMap,
                     offsetof(LOGICAL_DRIVE_CONFIG, pbBigSpareAssignmentMap), map_bytes);
}

ByteView telmar::EnclosureInstalledMap(const CDA_SENSE_BUS_PARAMETERS& enclosure, size_t* bit_count) {
    if (enclosure.wOffsetToExtendedInstalledDriveMap != 0) {
        *bit_count = std::min<size_t>(enclosure.wMaximumPhysicalDevicesSupported, kMaxPhysicalDrivesSupported);
        return ByteView(enclosure.pbExtendedInstalledDriveMap, sizeof(enclosure.pbExtendedInstalledDriveMap));
    }
    *bit_count = std::min<size_t>(enclosure.wMaximumPhysicalDevicesSupported, 128);
    return ByteView(enclosure.pbBigInstalledDriveMap, sizeof(enclosure.pbBigInstalledDriveMap));
}

// ---- Raw readers ----------------------------------------------------------------------------------

VK_BOOL VK_GetIdentifyPhysicalDriveBuffer(PCDA cda, VK_WORD pd_number, PHYSICAL_DRIVE_STATUS* buffer) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    return telmar::ReadInto(_VK_CDA(cda), BMIC_IDENTIFY_PHYSICAL_DRIVE, PhysicalDriveDetail(pd_number),
                            pd_number & 0xFF00, buffer, sizeof(*buffer));
}

VK_BOOL __VK_GetPhysicalDriveRecordLunInfo(PCDA cda, VK_WORD pd_number, VK_BYTE lun_number,
                                           PhysicalDriveLunInfo* pd_lun_info) {
    if (pd_lun_info == nullptr) {
        return kFalse;
    }
    std::memset(pd_lun_info, 0, sizeof(*pd_lun_info));
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    TrackedBuffer reply = PN_TRACKED_ZEROED(sizeof(PHYSICAL_DRIVE_STATUS));
    if (!reply || !telmar::ReadInto(_VK_CDA(cda), BMIC_IDENTIFY_PHYSICAL_DRIVE, PhysicalDriveDetail(pd_number),
                                    static_cast<VK_WORD>((pd_number & 0xFF00) | lun_number), reply.get(),
                                    reply.size())) {
        return kFalse;
    }
    const ByteView view(reply.get(), reply.size());
    pd_lun_info->total_size_blocks = TotalBlocks(cda, view);
    pd_lun_info->reserved_blocks = view.le32(offsetof(PHYSICAL_DRIVE_STATUS, dwReservedBlocks)).value_or(0);
    view.copy_to(offsetof(PHYSICAL_DRIVE_STATUS, bWWID), pd_lun_info->wwid, sizeof(pd_lun_info->wwid));
    view.copy_to(offsetof(PHYSICAL_DRIVE_STATUS, bDeviceUniqueID), pd_lun_info->device_unique_id,
                 sizeof(pd_lun_info->device_unique_id));
    return kTrue;
}

VK_BOOL VK_GetSenseConfigurationBuffer(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_CONFIG* buffer) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    return telmar::ReadInto(_VK_CDA(cda), BMIC_SENSE_CONFIGURATION, 0, ld_number, buffer, sizeof(*buffer));
}

VK_BOOL VK_GetSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number, LOGICAL_DRIVE_STATUS* buffer) {
    if (cda == nullptr || buffer == nullptr) {
        return kFalse;
    }
    std::memset(buffer, 0, sizeof(*buffer));
    return telmar::ReadInto(_VK_CDA(cda), BMIC_SENSE_LOGICAL_DRIVE_STATUS, 0, ld_number, buffer, sizeof(*buffer));
}

VK_BYTE* __VK_GetSenseLogicalDriveStatusBufferWithSize(PCDA cda, VK_WORD ld_number, VK_DWORD buffer_size) {
    if (cda == nullptr || buffer_size == 0 || buffer_size > telmar::kMaxBMICTransferLength) {
        return nullptr;
    }
    TrackedBuffer buffer = PN_TRACKED_ZEROED(buffer_size);
    if (!buffer) {
        PN_DebugLog(1, 0, "%s:%d: Failed to allocate buffer of %u bytes for BMIC_SENSE_LOGICAL_DRIVE_STATUS\n",
                    __FILE__, __LINE__, buffer_size);
        return nullptr;
    }
    if (!telmar::ReadInto(_VK_CDA(cda), BMIC_SENSE_LOGICAL_DRIVE_STATUS, 0, ld_number, buffer.get(), buffer.size())) {
        return nullptr;
    }
    return buffer.release();
}

namespace {

// The whole status reply with its size, its total never past the bytes held.
TrackedBuffer ReadCompleteStatus(PCDA cda, VK_WORD ld_number) {
    constexpr size_t kTotal = offsetof(LOGICAL_DRIVE_STATUS, dwTotalStructureLength);
    TrackedBuffer status(__VK_GetSenseLogicalDriveStatusBufferWithSize(cda, ld_number, kDefaultLogicalDriveStatusSize),
                         kDefaultLogicalDriveStatusSize);
    if (!status) {
        return status;
    }
    const VK_DWORD total = ByteView(status.get(), status.size()).le32(kTotal).value_or(0);
    if (total <= kDefaultLogicalDriveStatusSize) {
        return status;
    }
    PN_DebugLog(3, 0,
                "%s:%d: LOGICAL_DRIVE_STATUS total structure length (%u bytes) is more than initial buffer size "
                "(%u bytes)\n",
                __FILE__, __LINE__, total, kDefaultLogicalDriveStatusSize);
    status.reset();
    if (total > telmar::kMaxBMICTransferLength) {
        PN_DebugLog(1, 0, "%s:%d: Reply of %u bytes for BMIC 0x%02X cannot be requested\n", __FILE__, __LINE__,
                    total, BMIC_SENSE_LOGICAL_DRIVE_STATUS);
        return status;
    }
    status = TrackedBuffer(__VK_GetSenseLogicalDriveStatusBufferWithSize(cda, ld_number, total), total);
    if (status) {
        pavlin::ByteSpan span(status.get(), status.size());
        if (span.view().le32(kTotal).value_or(0) > status.size()) {
            PN_DebugLog(1, 0, "%s:%d: %s reports %u bytes, only %zu were read\n", __FILE__, __LINE__,
                        "LOGICAL_DRIVE_STATUS", span.view().le32(kTotal).value_or(0), status.size());
            span.put_le32(kTotal, static_cast<VK_DWORD>(status.size()));
        }
    }
    return status;
}

// Fills one cached logical-drive buffer once. The buffer is zeroed before the read so that a
// failed read leaves nothing stale behind; only a good read marks it valid.
template <typename Buffer, typename Read>
VK_BOOL LoadLDRecord(PCDA cda, VK_WORD ld_number, VK_DWORD valid, Buffer LogicalDriveRecord::*field, Read read) {
    if (LDOutOfRange(ld_number) || cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    LogicalDriveRecord& record = _VK_LDRecordForWrite(_VK_CDA(cda), ld_number);
    if (!(record.flags & valid)) {
        Buffer& buffer = record.*field;
        std::memset(&buffer, 0, sizeof(buffer));
        if (read(buffer)) {
            record.flags |= valid;
        }
    }
    return (record.flags & valid) ? kTrue : kFalse;
}

} // namespace

VK_BYTE* _VK_GetCompleteSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number) {
    return ReadCompleteStatus(cda, ld_number).release();
}

// ---- Cached per-record loaders --------------------------------------------------------------------

VK_BOOL VK_RequestIdentifyPhysicalDriveBuffer(PCDA cda, VK_WORD pd_number) {
    if (PDOutOfRange(pd_number) || cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    PhysicalDriveRecord& record = _VK_PDRecordForWrite(_VK_CDA(cda), pd_number);
    if (!(record.flags & kPDRecordIdentifyValid)) {
        std::memset(&record.identify_physical_drive_buffer, 0, sizeof(record.identify_physical_drive_buffer));
        pavlin::TrackedPtr<PhysicalDriveLunInfo> previous(std::exchange(record.additional_lun_info, nullptr));
        TrackedBuffer reply = PN_TRACKED_ZEROED(sizeof(PHYSICAL_DRIVE_STATUS));
        if (reply && VK_GetIdentifyPhysicalDriveBuffer(cda, pd_number,
                                                       reinterpret_cast<PHYSICAL_DRIVE_STATUS*>(reply.get()))) {
            telmar::DecodePhysicalDriveStatus(ByteView(reply.get(), reply.size()),
                                              _VK_ControllerSupportsFullLengthDeviceModel(cda) != kFalse,
                                              record.identify_physical_drive_buffer);
            telmar::DerivePhysicalDriveRecord(cda, record);
            if (IsDriveType(record.identify_physical_drive_buffer.bDeviceType)) {
                telmar::ReadExtraLuns(cda, pd_number, record);
            }
            record.flags |= kPDRecordIdentifyValid;
        }
    }
    return (record.flags & kPDRecordIdentifyValid) ? kTrue : kFalse;
}

VK_BOOL VK_RequestSenseConfigurationBuffer(PCDA cda, VK_WORD ld_number) {
    if (LDOutOfRange(ld_number) || cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    LogicalDriveRecord& record = _VK_LDRecordForWrite(_VK_CDA(cda), ld_number);
    if (!(record.flags & kLDRecordConfigValid) &&
        VK_GetSenseConfigurationBuffer(cda, ld_number, &record.sense_config_buffer)) {
        telmar::DeriveLogicalDriveConfig(cda, record);
        record.flags |= kLDRecordConfigValid;
    }
    return (record.flags & kLDRecordConfigValid) ? kTrue : kFalse;
}

VK_BOOL VK_RequestSenseOriginalConfigurationBuffer(PCDA cda, VK_WORD ld_number) {
    return LoadLDRecord(cda, ld_number, kLDRecordOriginalConfigValid, &LogicalDriveRecord::sense_original_config_buffer,
                        [&](auto& buffer) {
                            return telmar::ReadInto(_VK_CDA(cda), BMIC_SENSE_ORIGINAL_CONFIGURATION, 0, ld_number,
                                                    &buffer, sizeof(buffer));
                        });
}

VK_BOOL VK_RequestIdentifyLogicalDriveBuffer(PCDA cda, VK_WORD ld_number) {
    return LoadLDRecord(cda, ld_number, kLDRecordIdentifyValid, &LogicalDriveRecord::identify_logical_drive_buffer,
                        [&](auto& buffer) {
                            return telmar::ReadInto(_VK_CDA(cda), BMIC_IDENTIFY_LOGICAL_DRIVE, 0, ld_number,
                                                    &buffer, sizeof(buffer));
                        });
}

VK_BOOL VK_RequestSenseLogicalDriveStatusBuffer(PCDA cda, VK_WORD ld_number) {
    return LoadLDRecord(cda, ld_number, kLDRecordStatusValid, &LogicalDriveRecord::sense_logical_drive_status_buffer,
                        [&](auto& buffer) {
                            const TrackedBuffer reply = ReadCompleteStatus(cda, ld_number);
                            if (!reply) {
                                return false;
                            }
                            telmar::DecodeLogicalDriveStatus(ByteView(reply.get(), reply.size()), buffer);
                            return true;
                        });
}

VK_BOOL VK_RequestLUCacheStatisticsBuffer(PCDA cda, VK_WORD ld_number) {
    return LoadLDRecord(cda, ld_number, kLDRecordLUCacheStatsValid, &LogicalDriveRecord::lu_cache_stats_buffer,
                        [&](auto& buffer) {
                            return _VK_RequestLUCacheInfoBuffer(cda, ld_number, kLUCacheSubcommandStatistics, &buffer,
                                                                sizeof(buffer)) != kFalse;
                        });
}

VK_BOOL VK_RequestLUCacheSenseBuffer(PCDA cda, VK_WORD ld_number) {
    if (LDOutOfRange(ld_number) || cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    LogicalDriveRecord& record = _VK_LDRecordForWrite(c, ld_number);
    if (record.flags & kLDRecordLUCacheSenseValid) {
        return kTrue;
    }
    VK_DWORD asked = kNoLogicalDrive;
    if ((record.flags & kLDRecordRoleMask) == (kLDRecordExists | kLDRecordRoleLUCache)) {
        asked = ld_number;
    } else if (VK_RequestSenseConfigurationBuffer(cda, ld_number)) {
        asked = LUCachePartner(record.sense_config_buffer);
    }
    std::memset(&record.lu_cache_config_buffer, 0, sizeof(record.lu_cache_config_buffer));
    if (asked == kNoLogicalDrive) {
        return kFalse;
    }
    if (!_VK_RequestLUCacheInfoBuffer(cda, static_cast<VK_WORD>(asked), kLUCacheSubcommandConfiguration,
                                      &record.lu_cache_config_buffer, sizeof(record.lu_cache_config_buffer))) {
        return kFalse;
    }
    // One read answers for both drives of the pair.
    const VK_DWORD partner = VK_RequestSenseConfigurationBuffer(cda, ld_number)
                                 ? LUCachePartner(record.sense_config_buffer)
                                 : kNoLogicalDrive;
    if (partner != kNoLogicalDrive && partner != ld_number) {
        LogicalDriveRecord& other = _VK_LDRecordForWrite(c, static_cast<VK_WORD>(partner));
        other.lu_cache_config_buffer = record.lu_cache_config_buffer;
        other.flags |= kLDRecordLUCacheSenseValid;
    }
    record.flags |= kLDRecordLUCacheSenseValid;
    return kTrue;
}

VK_BOOL VK_RequestStorageEnclosureInfo(PCDA cda) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    _CDA* c = _VK_CDA(cda);
    VK_DWORD& valid = telmar::BufferFlags(c);
    if (valid & kCDAValidEnclosures) {
        return kTrue;
    }
    if (!VK_RequestIdentifyControllerBuffer(cda)) {
        PN_DebugLog(1, 0, "%s:%d: Identify ctrl failed\n", __FILE__, __LINE__);
        return kFalse;
    }
    TrackedBuffer reply = PN_TRACKED_ZEROED(sizeof(SENSE_BUS_PARAMETERS));
    if (!reply) {
        return kFalse;
    }
    const VK_BYTE wanted = c->identify_controller_buffer.bEnclosureCount;
    VK_BYTE found = 0;
    for (VK_WORD box = 0; box < kMaxStorageEnclosuresSupported && found < wanted; ++box) {
        _VK_RecordsInUse(c->se_records_in_use, box + 1u);
        StorageEnclosureRecord& record = c->se_record_list[box];
        record.flags &= static_cast<VK_WORD>(~0x1);
        std::memset(&record.sense_bus_parameters_buffer, 0, sizeof(record.sense_bus_parameters_buffer));
        std::memset(reply.get(), 0, reply.size());
        // A box without an enclosure may fail the read; what it left behind is not an enclosure.
        if (!telmar::ReadInto(c, BMIC_SENSE_BUS_PARAMETERS, box, 0, reply.get(), reply.size())) {
            std::memset(reply.get(), 0, reply.size());
        }
        const ByteView view(reply.get(), reply.size());
        const VK_DWORD total = view.le32(offsetof(SENSE_BUS_PARAMETERS, dwTotalStructureLength)).value_or(0);
        if (total > sizeof(SENSE_BUS_PARAMETERS)) {
            PN_DebugLog(2, 0,
                        "%s:%d: Warning! CDA Sense Bus Parameters Buffer not large enough: expecting %llu but was "
                        "%llu\n",
                        __FILE__, __LINE__, static_cast<unsigned long long>(total),
                        static_cast<unsigned long long>(sizeof(SENSE_BUS_PARAMETERS)));
        }
        if (telmar::DecodeBusParameters(view, record.sense_bus_parameters_buffer)) {
            record.flags |= 0x1;
            ++found;
        }
    }
    valid |= kCDAValidEnclosures;
    return kTrue;
}
