// Drive marking in the managed-SED drive-selection records with hostile drive numbers over a data
// area whose controller and drive records come from the input: IDENTIFY CONTROLLER (the drive limit
// and the managed-SED mode), the managed-SED status, then up to eight drives (number, record flags,
// identify copy), then for each record a count and the drive numbers to mark. The data area has no controller
// behind it. A bit is set only for a drive the controller has and reports as a drive, only when the Do says
// so, and never outside the 128-byte map.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

bool Bit(const VK_BYTE* map, size_t bit) {
    return (map[bit / 8] >> (bit % 8)) & 1;
}

// Marks every drive number the input names through `mark`, keeping what the map must hold, then
// checks the map against it.
template <class Record>
void MarkAll(FuzzInput& in, _CDA* c, Record* record, const VK_BYTE* map, VK_BYTE (*mark)(void*, VK_WORD),
             VK_BYTE marked_code) {
    VK_BYTE expected[telmar::kSEDDriveMapBytes] = {};
    const int count = in.Byte() % 17;
    for (int i = 0; i < count && !in.Done(); ++i) {
        const VK_WORD pd = in.Take<VK_WORD>();
        if (mark(record, pd) == marked_code) {
            FUZZ_CHECK(pd < kMaxPhysicalDrivesSupported);
            FUZZ_CHECK(pd < c->identify_controller_buffer.wMaximumPhysicalDevicesSupported);
            FUZZ_CHECK(c->pd_record_list[pd].flags & kPDRecordDrive);
            FUZZ_CHECK(!Bit(expected, pd));
            expected[pd / 8] |= static_cast<VK_BYTE>(1u << (pd % 8));
        }
    }
    FUZZ_CHECK(std::memcmp(expected, map, sizeof(expected)) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ClearedRunArea c;
    PCDA cda = c;
    FuzzInput in{data, size};
    FillManagedSEDController(c, in, 0);
    c->sense_feature.page_drive.bFlags2 |= 0x10;
    const int drives = in.Byte() % 9;
    for (int i = 0; i < drives; ++i) {
        const VK_WORD pd = in.Take<VK_WORD>() % kMaxPhysicalDrivesSupported;
        PhysicalDriveRecord& r = c->pd_record_list[pd];
        r.flags = in.Take<VK_WORD>();
        in.Fill(&r.identify_physical_drive_buffer, sizeof(r.identify_physical_drive_buffer));
        in.Fill(&r.pd_config_information, sizeof(r.pd_config_information));
    }

    void *own = nullptr, *import = nullptr, *revert = nullptr;
    if (VK_GetPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(cda, &own) == 0) {
        auto* record = static_cast<PD_SED_ENCRYPTION_TAKE_OWNERSHIP_INFO*>(own);
        MarkAll(in, c, record, record->pd_list_bitmap.bDriveMap, VK_DoPhysicalDriveSEDEncryptionTakeOwnership,
                kDoPhysicalDriveSEDEncryptionTakeOwnershipSuccess);
        VK_DestroyPhysicalDriveSEDEncryptionTakeOwnershipForUpdate(own);
    }
    if (VK_GetPhysicalDriveSEDEncryptionImportForUpdate(cda, &import) == 0) {
        auto* record = static_cast<PD_SED_ENCRYPTION_IMPORT_INFO*>(import);
        MarkAll(in, c, record, record->import_foreign_drive.bForeignDriveBitmap,
                VK_DoPhysicalDriveSEDEncryptionImport, kDoPhysicalDriveSEDEncryptionImportSuccess);
        FUZZ_CHECK(record->import_foreign_drive.sForeignDriveMasterKey[0] == 0);
        VK_DestroyPhysicalDriveSEDEncryptionImportForUpdate(import);
    }
    if (VK_GetPhysicalDriveSEDEncryptionRevertForUpdate(cda, &revert) == 0) {
        auto* record = static_cast<PD_SED_ENCRYPTION_REVERT_INFO*>(revert);
        MarkAll(in, c, record, record->drive_map.bDriveMap, VK_DoPhysicalDriveSEDEncryptionRevert,
                kDoPhysicalDriveSEDEncryptionRevertSuccess);
        VK_DestroyPhysicalDriveSEDEncryptionRevertForUpdate(revert);
    }
    return 0;
}
