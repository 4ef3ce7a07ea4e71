// Fuzz target: an arbitrary IDENTIFY PHYSICAL DRIVE (0x15) reply through the drive status word, the
// health and the flag set, both straight from the decoded record with a context taken from the input
// and through the getters over drive 0's cached record; the same bytes as a logical-drive status copy
// through the rebuild conditions. The first bytes of the input are the context; the rest is the reply.
// A word or flag set that breaks its layout, or a flag set that leaks, aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "pavl_bytes.h"
#include "pavl_platform_private.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_drive_decode.h"
#include "telm_private.h"
#include "telm_records.h"

namespace {

constexpr size_t kHeader = 12;
// Condition bits that fail the drive: each raises the word to level 3.
constexpr VK_DWORD kFailing = kPhysicalDriveStatusFailed | kPhysicalDriveStatusFailedDueToPSA |
                              kPhysicalDriveStatusFailedDueToHotRemoval |
                              kPhysicalDriveStatusFailedDueSEDQualification | kPhysicalDriveStatusIsSEDDataLocked;

bool Flag(const VK_BYTE (&set)[telmar::kDriveFlagSetSize], unsigned index) {
    return (set[index / 8] >> (index % 8)) & 1;
}

void CheckWord(VK_DWORD word) {
    // Bits 3-7 carry nothing, and 0x8000 is defined but never set.
    FUZZ_CHECK((word & 0xF8) == 0);
    FUZZ_CHECK((word & kPhysicalDriveStatusInvalidDriveSize) == 0);
    // Nothing to report reads 0: a level or exclusion never stands alone.
    FUZZ_CHECK(word == 0 || (word & ~VK_DWORD{0xFF}) != 0);
    if (word & kFailing) {
        FUZZ_CHECK(PHYSICAL_DRIVE_STATUS_LEVEL(word) == kPhysicalDriveStatusLevelFailed);
        FUZZ_CHECK(word & kPhysicalDriveStatusExcludeFromConfigurationBit);
    }
    const VK_BYTE health = telmar::HealthOfStatus(word);
    FUZZ_CHECK(health <= kPhysicalDriveHealthCritical);
    if (telmar::StatusAllowsStatistics(word)) {
        FUZZ_CHECK(PHYSICAL_DRIVE_STATUS_LEVEL(word) <= kPhysicalDriveStatusLevelInformational);
    }
}

void CheckFlagSet(const CDA_PHYSICAL_DRIVE_STATUS& pd, const VK_BYTE (&set)[telmar::kDriveFlagSetSize]) {
    FUZZ_CHECK(set[7] == 0); // past the last flag
    FUZZ_CHECK(!Flag(set, 30));
    FUZZ_CHECK(Flag(set, PDF_StampedForMNP) == (pd.bDriveStamped != 0));
    FUZZ_CHECK(Flag(set, PDF_DriveNotSupportedForConfiguration) == (pd.bQRBSupport != 0));
    for (unsigned bit = 0; bit < 16; ++bit) {
        FUZZ_CHECK(Flag(set, PDF_HasBeenPowerCycledForErrorRecovery + bit) == (((pd.dwMiscDriveFlags >> bit) & 1) != 0));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const pavlin::ByteView header(data, kHeader);
    const pavlin::ByteView reply(data + kHeader, size - kHeader);
    const VK_BYTE options = data[0];

    CDA_PHYSICAL_DRIVE_STATUS pd;
    telmar::DecodePhysicalDriveStatus(reply, (options & 0x01) != 0, pd);
    telmar::DriveStatusContext context;
    context.usage = data[1];
    context.logical_block_size = header.le16(2).value_or(0);
    context.additional_raid_info = data[4];
    context.basic_info = data[5];
    context.exposure_page = (options & 0x02) != 0;
    context.mixed_mode = (options & 0x04) != 0;
    context.connector_mixed = (options & 0x08) != 0;
    context.supported_for_config = (options & 0x10) != 0;
    const VK_WORD drive = header.le16(6).value_or(0);

    CDA_LOGICAL_DRIVE_STATUS ld;
    telmar::DecodeLogicalDriveStatus(reply, ld);
    const VK_DWORD rebuild = telmar::RebuildBits(ld, drive);
    FUZZ_CHECK(rebuild == 0 || rebuild == kPhysicalDriveStatusRebuilding ||
               rebuild == kPhysicalDriveStatusRebuildQueued);
    context.rebuild_bits = rebuild | header.le32(8).value_or(0);

    CheckWord(telmar::ComposePhysicalDriveStatus(pd, context));
    VK_BYTE set[telmar::kDriveFlagSetSize];
    telmar::FillDriveFlagSet(pd, set);
    CheckFlagSet(pd, set);

    // The getters over drive 0's cached record, as the loader leaves it.
    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    PhysicalDriveRecord& record = _VK_PDRecordForWrite(c, 0);
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidFeaturePages;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    c->identify_controller_buffer.dwEvenMoreControllerFlags = 0x80000000;
    c->identify_controller_buffer.wMaximumPhysicalDevicesSupported = 384;
    c->sense_feature.page_drive.bFlags2 = (options & 0x20) ? 0x04 : 0;
    c->sense_feature.page_raid.bFlags2 = (options & 0x40) ? 0x20 : 0;
    record.identify_physical_drive_buffer = pd;
    record.flags = static_cast<VK_WORD>(kPDRecordIdentifyValid | ((options & 0x80) ? kPDRecordDrive : 0));
    record.pd_config_information.logical_block_size_bytes = context.logical_block_size;

    CheckWord(VK_GetPhysicalDriveStatusInfo(cda, 0));
    FUZZ_CHECK(VK_GetPhysicalDriveHealth(cda, 0) <= kPhysicalDriveHealthCritical);
    const VK_WORD reason = VK_GetPhysicalDriveLastFailureReason(cda, 0);
    FUZZ_CHECK(reason == pd.bLastFailureReason || reason == 0x0100);

    const VK_UINT64 allocated = _VK_curr_alloc;
    void* flags = VK_GetPhysicalDriveFlagsInfo(cda, 0);
    FUZZ_CHECK(flags != nullptr);
    FUZZ_CHECK(std::memcmp(flags, set, sizeof(set)) == 0);
    for (unsigned index = 0; index < 256; ++index) {
        const VK_BOOL on = VK_IsPhysicalDriveFlagSet(flags, static_cast<VK_BYTE>(index));
        FUZZ_CHECK(on == ((index < PDF_LastValidFlag && Flag(set, index)) ? kTrue : kFalse));
    }
    VK_DestroyPhysicalDriveFlagsInfo(flags);
    FUZZ_CHECK(_VK_curr_alloc == allocated);
    return 0;
}
