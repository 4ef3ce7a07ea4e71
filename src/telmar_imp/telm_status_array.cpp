// The condition of an array: its status word, built from its logical drives and drives, the health
// derived from it, and the roll-up over the health of everything in the array.
#include <algorithm>
#include <cstddef>

#include "ptelm_cda.h"
#include "ptelm_encryption.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telm_records.h"

namespace {

constexpr VK_WORD kExtraFlagErasing = 0x10; // wExtraDeviceFlags: offline for an erase
constexpr VK_DWORD kRekeyUnlockInProgress = static_cast<VK_DWORD>(kLogicalDriveEncryptionSEDRekeyUnlockInProgress)
                                            << 16;
constexpr VK_UINT64 kOwnedForeignSED = kPhysicalDriveEncryptionSEDDrive | kPhysicalDriveEncryptionSEDIsForeign |
                                       (static_cast<VK_UINT64>(kPhysicalDriveEncryptionSEDSecurityStatusOwned)
                                        << kPhysicalDriveEncryptionSEDSecurityStatusShift);

bool Bit(const VK_BYTE (&map)[kDriveBitmapSize], size_t n) {
    return telmar::MapBit(map, kDriveBitmapSize, n);
}

bool AnyBit(const VK_BYTE (&map)[kDriveBitmapSize]) {
    return std::any_of(std::begin(map), std::end(map), [](VK_BYTE b) { return b != 0; });
}

// Bits that the logical drives of the array contribute; `end` receives the end of the last extent.
VK_DWORD LogicalDriveBits(PCDA cda, const ArrayRecord& array, VK_QWORD* end) {
    VK_DWORD word = 0;
    VK_QWORD e = 0;
    const VK_WORD count = std::min<VK_WORD>(array.ld_count, kMaxLogicalDrivesSupported);
    for (VK_WORD k = 0; k < count; ++k) {
        const VK_WORD ld = array.ld_index_array[k];
        const VK_BYTE unit = LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld));
        const VK_DWORD encryption = VK_GetLogicalDriveEncryptionInfo(cda, ld);
        word |= _VK_GetCommonArrayLogicalDriveUnitStatus(unit);
        if (unit == kLogicalDriveUnitStatus24EncryptedVolumeEncryptionOff) {
            word |= kArrayStatusHasOfflineLogicalDrive;
        } else if (VOLATILE_KEY_ENABLED(encryption) &&
                   VOLATILE_KEY_STATUS(encryption) != kLogicalDriveEncryptionVolatileKeyStatusNoOp) {
            word |= kArrayStatusHasLogicalDriveWithVolatileKeyOp;
        }
        if (encryption & kRekeyUnlockInProgress) {
            word |= kArrayStatusHasSEDRekeyUnlockInProgress;
        }
        // Only a drive of an LU cache pair has a cache to flush; asking the others would send a read
        // that fails, and so is never cached, on every call.
        const VK_DWORD flags = ld < kMaxLogicalDrivesSupported ? _VK_CDA(cda)->ld_record_list[ld].flags : 0;
        if ((flags & (kLDRecordLUCacheBits | kLDRecordRoleLUCache)) &&
            LU_CACHE_STATE(VK_GetLogicalDriveLUCacheStatusInfo(cda, ld)) == kLUCacheStateFlushing) {
            word |= kArrayStatusHasFlushingLogicalDrive;
        }
        // Unsigned throughout: an extent that starts before the previous end is an overlap, not a
        // huge gap.
        const VK_QWORD s = array.ld_offset_array[k];
        if (s < e || s - e > array.alignment_size_blocks) {
            word |= kArrayStatusHasGaps;
        }
        if (__builtin_add_overflow(s, array.ld_blocks_per_drive_array[k], &e)) {
            e = ~VK_QWORD{0};
        }
    }
    *end = e;
    return word;
}

VK_DWORD DriveBits(PCDA cda, const ArrayRecord& array, VK_QWORD end) {
    _CDA* c = _VK_CDA(cda);
    const size_t limit = std::min<size_t>(c->identify_controller_buffer.wMaximumPhysicalDevicesSupported,
                                          kMaxPhysicalDrivesSupported);
    VK_DWORD word = 0;
    for (size_t p = 0; p < limit; ++p) {
        const VK_WORD pd = static_cast<VK_WORD>(p);
        const bool data = Bit(array.data_drive_bitmap, p);
        const bool spare = Bit(array.spare_drive_bitmap, p);
        const PhysicalDriveRecord& r = c->pd_record_list[p];
        if (data && VK_RequestIdentifyPhysicalDriveBuffer(cda, pd) &&
            (r.identify_physical_drive_buffer.wExtraDeviceFlags & kExtraFlagErasing)) {
            word |= kArrayStatusHasErasingDataDrive;
        } else if (Bit(array.failed_drive_bitmap, p)) {
            word |= spare ? kArrayStatusHasFailedSpareDrive : kArrayStatusHasFailedDataDrive;
        }
        if (spare && VK_RequestIdentifyPhysicalDriveBuffer(cda, pd) && r.pd_config_information.usable_size_blocks < end) {
            word |= kArrayStatusHasInvalidSpare;
        }
        if ((data || spare) && (VK_GetPhysicalDriveEncryptionInfo(cda, pd) & kOwnedForeignSED) == kOwnedForeignSED) {
            word |= kArrayStatusHasSEDForeignLogicalDrive;
        }
    }
    return word;
}

} // namespace

VK_DWORD _VK_GetCommonArrayLogicalDriveUnitStatus(VK_BYTE ld_unit_status) {
    switch (ld_unit_status) {
    case 1:
    case 30: return kArrayStatusHasFailedLogicalDrive;
    case 3: return kArrayStatusHasDegradedLogicalDrive;
    case 4:
    case 5: return kArrayStatusHasRecoveringLogicalDrive;
    case 10:
    case 12: return kArrayStatusHasTransformingLogicalDrive;
    case 11:
    case 20:
    case 31: return kArrayStatusHasOfflineLogicalDrive;
    case 15: return kArrayStatusHasErasingLogicalDrive;
    case 18:
    case 19: return kArrayStatusHasInitializingLogicalDrive;
    case 22:
    case 23:
    case 25:
    case 26: return kArrayStatusHasRekeyingLogicalDrive;
    case 28:
    case 29: return kArrayStatusHasLogicalDriveHasSEDStatus;
    default: return 0;
    }
}

VK_DWORD VK_GetArrayStatusInfo(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr || array_number >= kMaxArraysSupported) {
        return 0;
    }
    CDALock guard(cda);
    if (!VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return 0;
    }
    const ArrayRecord& array = _VK_CDA(cda)->array_record_list[array_number];
    VK_QWORD end = 0;
    VK_DWORD word = LogicalDriveBits(cda, array, &end);
    word |= DriveBits(cda, array, end);
    if (array.missing_drive_count != 0) {
        word |= kArrayStatusHasFailedDataDrive;
    }
    if (AnyBit(array.active_spare_drive_bitmap)) {
        word |= kArrayStatusHasActiveSpare;
    }
    if (array.logical_block_size_bytes != 512 && array.logical_block_size_bytes != 4096) {
        word |= kArrayStatusUnsupportedBlockSizeForRAIDConfiguration;
    }
    return word != 0 ? word : kArrayStatusOK;
}

VK_BYTE VK_GetArrayHealth(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kArrayHealthOK;
    }
    CDALock guard(cda);
    const VK_DWORD word = VK_GetArrayStatusInfo(cda, array_number);
    if (word & (kArrayStatusHasFailedDataDrive | kArrayStatusHasFailedLogicalDrive | kArrayStatusHasDegradedLogicalDrive)) {
        return kArrayHealthCritical;
    }
    constexpr VK_DWORD kWarnings = kArrayStatusHasErasingDataDrive | kArrayStatusHasErasingLogicalDrive |
                                   kArrayStatusHasGaps | kArrayStatusHasInvalidSpare |
                                   kArrayStatusHasInitializingLogicalDrive | kArrayStatusHasLogicalDriveHasSEDStatus;
    if ((word & kWarnings) || VK_GetArrayType(cda, array_number) == kArrayTypeSplitMirrorBackupOrphan) {
        return kArrayHealthWarning;
    }
    return kArrayHealthOK;
}

VK_BYTE VK_GetArrayHealthRollup(PCDA cda, VK_WORD array_number) {
    if (cda == nullptr) {
        return kArrayHealthRollupOK;
    }
    CDALock guard(cda);
    VK_BYTE rollup = VK_GetArrayHealth(cda, array_number);
    VK_WORD n;
    FOREACH_ARRAY_LOGICAL_DRIVE(cda, array_number, n) { rollup |= VK_GetLogicalDriveHealth(cda, n); }
    FOREACH_ARRAY_DATA_DRIVE(cda, array_number, n) { rollup |= VK_GetPhysicalDriveHealth(cda, n); }
    FOREACH_ARRAY_SPARE_DRIVE(cda, array_number, n) { rollup |= VK_GetPhysicalDriveHealth(cda, n); }
    return rollup;
}

// ---- Staged arrays ----
//
// The same word for an array of the editable configuration: its staged logical drives and drive
// lists, read against what the controller reports about the live array of the same number.

namespace {

VK_QWORD SaturatingEnd(VK_QWORD offset, VK_QWORD blocks) {
    VK_QWORD end = 0;
    return __builtin_add_overflow(offset, blocks, &end) ? ~VK_QWORD{0} : end;
}

bool InList(const VK_WORD* list, VK_WORD count, size_t capacity, VK_WORD number) {
    return _VK_InDeviceList(list, number, std::min<size_t>(count, capacity)) != static_cast<size_t>(-1);
}

// Step 1 over a staged array that exists on the controller; `end` receives the end of the last
// logical drive in list order.
VK_DWORD EditableLogicalDriveBits(PCDA cda, const EDITABLE_CONFIGURATION& config, const EDITABLE_ARRAY& array,
                                  const ArrayRecord& live, VK_QWORD* end) {
    VK_DWORD word = 0;
    VK_QWORD e = 0;
    const size_t count = std::min<size_t>(array.logical_drive_count, std::size(array.logical_drives));
    for (size_t k = 0; k < count; ++k) {
        const VK_WORD n = array.logical_drives[k];
        const PEDITABLE_LOGICAL_DRIVE ld = n < kMaxLogicalDrivesSupported ? config.editable_ld_list[n] : nullptr;
        if (ld == nullptr) {
            continue;
        }
        VK_BYTE unit = 0;
        VK_DWORD encryption = 0;
        VK_WORD lu_cache = 0;
        if (!(ld->flags & kEditableLDNewDrive)) {
            unit = LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, n));
            encryption = VK_GetLogicalDriveEncryptionInfo(cda, n);
            // As for a live array: only a drive of an LU cache pair has a cache to ask about.
            if (_VK_CDA(cda)->ld_record_list[n].flags & (kLDRecordLUCacheBits | kLDRecordRoleLUCache)) {
                lu_cache = VK_GetLogicalDriveLUCacheStatusInfo(cda, n);
            }
        }
        word |= _VK_GetCommonArrayLogicalDriveUnitStatus(unit);
        if ((ld->flags & kEditableLDEncrypted) &&
            (!(config.flags & kEditableConfigEncryptionEnabled) || (encryption & kLogicalDriveEncryptionKeyWait))) {
            word |= kArrayStatusHasOfflineLogicalDrive;
        } else if ((ld->flags & kEditableLDVolatileKey) &&
                   ((ld->flags & kEditableLDVolatileKeyChanged) ||
                    (VOLATILE_KEY_ENABLED(encryption) &&
                     VOLATILE_KEY_STATUS(encryption) != kLogicalDriveEncryptionVolatileKeyStatusNoOp))) {
            word |= kArrayStatusHasLogicalDriveWithVolatileKeyOp;
        }
        if (encryption & kRekeyUnlockInProgress) {
            word |= kArrayStatusHasSEDRekeyUnlockInProgress;
        }
        if (LU_CACHE_STATE(lu_cache) == kLUCacheStateFlushing) {
            word |= kArrayStatusHasFlushingLogicalDrive;
        }
        const VK_QWORD s = ld->physical_drive_offset_block;
        if (s < e || s - e > live.alignment_size_blocks) {
            word |= kArrayStatusHasGaps;
        }
        e = SaturatingEnd(s, ld->physical_drive_blocks_per_drive);
    }
    *end = e;
    return word;
}

// Step 2: the staged drive lists against the live bitmaps, up to the drives the tables hold.
VK_DWORD EditableDriveBits(PCDA cda, const EDITABLE_ARRAY& array, const ArrayRecord& live, VK_QWORD end) {
    _CDA* c = _VK_CDA(cda);
    const VK_WORD limit = _VK_GetEditablePhysicalDriveLimit(cda);
    VK_DWORD word = 0;
    for (VK_WORD p = 0; p < limit; ++p) {
        const bool data = InList(array.data_drives, array.data_drive_count, std::size(array.data_drives), p);
        const bool spare = InList(array.spare_drives, array.spare_drive_count, std::size(array.spare_drives), p);
        const PhysicalDriveRecord& r = c->pd_record_list[p];
        if (data && VK_RequestIdentifyPhysicalDriveBuffer(cda, p) &&
            (r.identify_physical_drive_buffer.wExtraDeviceFlags & kExtraFlagErasing)) {
            word |= kArrayStatusHasErasingDataDrive;
        } else if (Bit(live.failed_drive_bitmap, p)) {
            if (spare) {
                word |= kArrayStatusHasFailedSpareDrive;
            } else if (data) {
                word |= kArrayStatusHasFailedDataDrive;
            }
        }
        if (spare && VK_RequestIdentifyPhysicalDriveBuffer(cda, p) && r.pd_config_information.usable_size_blocks < end) {
            word |= kArrayStatusHasInvalidSpare;
        }
        if ((Bit(live.data_drive_bitmap, p) || Bit(live.spare_drive_bitmap, p)) &&
            (VK_GetPhysicalDriveEncryptionInfo(cda, p) & kOwnedForeignSED) == kOwnedForeignSED) {
            word |= kArrayStatusHasSEDForeignLogicalDrive;
        }
    }
    return word;
}

// The staged array in slot `editable_array_number` once the controller facts every staged-array
// check needs can be had; NULL otherwise.
PEDITABLE_ARRAY CheckableEditableArray(PCDA cda, VK_WORD editable_array_number) {
    const PEDITABLE_ARRAY array = _VK_GetEditableArray(cda, editable_array_number);
    if (array == nullptr || !VK_RequestIdentifyControllerBuffer(cda) || !VK_RequestArrayConfigurationInformation(cda)) {
        return nullptr;
    }
    return array;
}

} // namespace

const ArrayRecord* _VK_GetEditableArrayLiveRecord(PCDA cda, const EDITABLE_ARRAY* editable_array) {
    const VK_WORD live = _VK_GetEditableArrayLiveNumber(cda, editable_array);
    if (live == kInvalidArrayNumber || !VK_RequestArrayConfigurationInformation(cda)) {
        return nullptr;
    }
    return &_VK_CDA(cda)->array_record_list[live];
}

VK_DWORD VK_GetEditableArrayStatusInfo(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return 0;
    }
    CDALock guard(cda);
    const PEDITABLE_CONFIGURATION config = _VK_GetEditableConfiguration(cda);
    const PEDITABLE_ARRAY array = CheckableEditableArray(cda, editable_array_number);
    if (config == nullptr || array == nullptr) {
        return 0;
    }
    VK_DWORD word = 0;
    if (const ArrayRecord* live = _VK_GetEditableArrayLiveRecord(cda, array)) {
        VK_QWORD end = 0;
        word |= EditableLogicalDriveBits(cda, *config, *array, *live, &end);
        word |= EditableDriveBits(cda, *array, *live, end);
        if (live->missing_drive_count != 0) {
            word |= kArrayStatusHasFailedDataDrive;
        }
        if (AnyBit(live->active_spare_drive_bitmap)) {
            word |= kArrayStatusHasActiveSpare;
        }
    }
    const size_t count = std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives));
    for (size_t k = 0; k < count; ++k) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[k]);
        if (ld == nullptr) {
            continue;
        }
        if (ld->flags & kEditableLDTransformation) {
            word |= kArrayStatusHasQueuedLogicalDriveTransformation;
        }
        if (!(ld->flags & kEditableLDLocked)) {
            word |= kArrayStatusHasUnlockedLogicalDrive;
        }
    }
    if (array->data_drive_count != 0 && array->common_block_size != 512 && array->common_block_size != 4096) {
        word |= kArrayStatusUnsupportedBlockSizeForRAIDConfiguration;
    }
    return word != 0 ? word : kArrayStatusOK;
}

VK_BOOL _VK_EditableArrayHasFailedSEDLogicalDrive(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = CheckableEditableArray(cda, editable_array_number);
    if (array == nullptr || (array->flags & kEditableArrNew)) {
        return kFalse;
    }
    const size_t count = std::min<size_t>(array->logical_drive_count, std::size(array->logical_drives));
    for (size_t k = 0; k < count; ++k) {
        const PEDITABLE_LOGICAL_DRIVE ld = _VK_GetEditableLogicalDrive(cda, array->logical_drives[k]);
        if (ld != nullptr && !(ld->flags & kEditableLDNewDrive) &&
            LOGICAL_DRIVE_UNIT_STATUS(VK_GetLogicalDriveStatusInfo(cda, ld->ld_number)) ==
                kLogicalDriveUnitStatus30SEDQualificationFailed) {
            return kTrue;
        }
    }
    return kFalse;
}

VK_BOOL _VK_EditableArrayHasLockedSEDPhysicalDrive(PCDA cda, VK_WORD editable_array_number) {
    if (cda == nullptr) {
        return kFalse;
    }
    CDALock guard(cda);
    const PEDITABLE_ARRAY array = CheckableEditableArray(cda, editable_array_number);
    if (array == nullptr) {
        return kFalse;
    }
    constexpr VK_UINT64 kLocked = static_cast<VK_UINT64>(kPhysicalDriveEncryptionSEDSecurityStatusLocked)
                                  << kPhysicalDriveEncryptionSEDSecurityStatusShift;
    const size_t count = std::min<size_t>(array->data_drive_count, std::size(array->data_drives));
    for (size_t k = 0; k < count; ++k) {
        if (VK_GetPhysicalDriveEncryptionInfo(cda, array->data_drives[k]) & kLocked) {
            return kTrue;
        }
    }
    return kFalse;
}
