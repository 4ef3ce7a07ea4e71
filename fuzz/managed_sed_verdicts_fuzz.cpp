// The managed-SED drive tables over hostile words: the managed-SED status word and, for one drive,
// its status, usage, basic-info and encryption words, read from the input through the byte view.
// Whatever the words, a drive is only ever allowed when it is a valid, unmarked SED in the state the
// operation needs, and every answer is one of its family's codes.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_config_internal.h"

namespace {

constexpr VK_QWORD kOwned = 0x800000, kLocked = 0x400000;
constexpr VK_QWORD kWaitingOrBusy = 0x40 | 0x100 | kControllerSEDEncryptionProgressMask;
constexpr VK_DWORD kSMR =
    kPhysicalDriveRecordingSMRHA | kPhysicalDriveRecordingSMRHM | kPhysicalDriveRecordingSMRDM;

bool FreeUsage(VK_BYTE usage) {
    return usage == kPhysicalDriveUsageUnassigned || usage == kPhysicalDriveUsageHBA ||
           usage == kPhysicalDriveUsageUnconfigurable;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView input(data, size);
    const VK_QWORD sed = input.le64(0).value_or(0);
    telmar::SEDDriveFacts d;
    const VK_BYTE switches = input.u8(8).value_or(0);
    d.valid = switches & 0x1;
    d.marked = switches & 0x2;
    const bool psid_ok = switches & 0x4;
    d.usage = input.u8(9).value_or(0);
    d.status = input.le32(10).value_or(0);
    d.basic = input.le32(14).value_or(0);
    d.encryption = input.le64(18).value_or(0);
    const bool sed_drive = d.encryption & kPhysicalDriveEncryptionSEDDrive;
    const bool mode_none = (sed & 0xF) == kControllerSEDEncryptionModeNone;

    const VK_BYTE own = telmar::TakeOwnershipVerdict(sed, d);
    FUZZ_CHECK(own <= 11 && own != kCanPhysicalDriveSEDEncryptionTakeOwnershipInvalidArguments);
    if (own == kCanPhysicalDriveSEDEncryptionTakeOwnershipAllowed) {
        FUZZ_CHECK(d.valid && !d.marked && sed_drive && !mode_none);
        FUZZ_CHECK(d.encryption & kPhysicalDriveEncryptionSEDIsInOFS);
        FUZZ_CHECK(!(d.status & kPhysicalDriveStatusFailed));
        FUZZ_CHECK(d.usage == kPhysicalDriveUsageUnassigned || d.usage == kPhysicalDriveUsageHBA);
        FUZZ_CHECK(!(d.basic & (kSMR | kPhysicalDriveIsMultiActuator)));
    }

    const VK_BYTE import = telmar::ImportDriveVerdict(sed, d);
    FUZZ_CHECK(import <= 7 && import != kCanPhysicalDriveSEDEncryptionImportInvalidInput);
    if (import == kCanPhysicalDriveSEDEncryptionImportAllowed) {
        FUZZ_CHECK(d.valid && !d.marked && !mode_none && FreeUsage(d.usage));
        FUZZ_CHECK(sed_drive && (d.encryption & kPhysicalDriveEncryptionSEDIsForeign) &&
                   (d.encryption & kOwned));
    }

    const VK_BYTE revert = telmar::RevertDriveVerdict(d);
    FUZZ_CHECK(revert <= 9 && revert != kCanPhysicalDriveSEDEncryptionRevertInvalidArgument);
    if (revert == kCanPhysicalDriveSEDEncryptionRevertAllowed) {
        FUZZ_CHECK(d.valid && !d.marked && sed_drive && FreeUsage(d.usage));
        FUZZ_CHECK((d.encryption & kOwned) && !(d.encryption & kPhysicalDriveEncryptionSEDIsInOFS));
        FUZZ_CHECK(!(d.encryption & kPhysicalDriveEncryptionSEDIsForeign));
    }

    const VK_BYTE psid = telmar::PSIDRevertVerdict(sed, d, psid_ok);
    FUZZ_CHECK(psid <= 9 && psid != kCanRevertPhysicalDriveSEDEncryptionPSIDNotSupported);
    if (psid == kCanRevertPhysicalDriveSEDEncryptionPSIDAllowed) {
        FUZZ_CHECK(d.valid && sed_drive && psid_ok && FreeUsage(d.usage) && !(sed & kWaitingOrBusy));
        FUZZ_CHECK(!(d.basic & (kSMR | kPhysicalDriveIsMultiActuator)));
    }

    if (telmar::HasValidSEDState(d.encryption)) {
        FUZZ_CHECK(!(d.encryption & kLocked));
        FUZZ_CHECK(d.encryption & (kPhysicalDriveEncryptionSEDIsInOFS | kOwned));
        FUZZ_CHECK(
            !(sed_drive && (d.encryption & kPhysicalDriveEncryptionSEDIsForeign) && (d.encryption & kOwned)));
    }
    return 0;
}
