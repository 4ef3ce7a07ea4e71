/* Configuration editing: a staged copy of a controller's configuration (controller settings, arrays,
 * logical drives, spares, LU caches, transformations and pending encryption settings) that a program
 * reads, checks and changes, then commits to the controller in one fixed order of writes; the direct
 * operations that change a controller at once; and the RAID geometry they share. Every function
 * takes the data area's lock for its whole body. */
#ifndef PTELM_CONFIGURATION_H
#define PTELM_CONFIGURATION_H

#include <stddef.h>

#include "ppavl_export.h"
#include "ppavl_types.h"

typedef void* PCDA;

/* ---- Editable configuration: creation, population, checksum, commit errors ---- */

/* ---- RAID geometry and RAID-level, parity-group and strip-size rules ---- */

/* How the parity-group count follows when drives leave or join a RAID 50 or 60 logical drive. */
#define kShrinkTypeRemoveDrivesFromParityGroups 1
#define kShrinkTypeRemoveParityGroups 2
#define kShrinkTypeAuto 3
#define kExpandTypeAddDrivesToParityGroups 1
#define kExpandTypeAddParityGroups 2
#define kExpandTypeAuto 3

/* Results of VK_GetEditableArrayParityGroupCountValues. */
#define kGetEditableArrayParityGroupCountValuesOK 1
#define kGetEditableArrayParityGroupCountValuesNoEditableConfigCreated 2
#define kGetEditableArrayParityGroupCountValuesNoArraySet 3
#define kGetEditableArrayParityGroupCountValuesNoDrivesAdded 4
#define kGetEditableArrayParityGroupCountValuesInvalidArguments 5

/* Results of VK_GetEditableLogicalDriveStripSizeRange; strip sizes are exponents (2^e bytes). */
#define kGetEditableLogicalDriveStripSizeRangeOK 1
#define kGetEditableLogicalDriveStripSizeRangeNoEditableConfigCreated 2
#define kGetEditableLogicalDriveStripSizeRangeNoArraySet 3
#define kGetEditableLogicalDriveStripSizeRangeNoRAIDLevelSet 4
#define kGetEditableLogicalDriveStripSizeRangeNoValidStripSize 5
#define kGetEditableLogicalDriveStripSizeInvalidLUCache 6

/* ---- Editable arrays and the editable drive list ---- */

/* ---- Editable logical drives ---- */

/* ---- Editable controller settings, boot volumes, spare activation, cache settings ---- */

/* ---- Direct controller operations and single-field parameter updates ---- */

/* ---- Commit ---- */

PN_EXTERN_C_BEGIN

/* -- Editable configuration -- */

/* -- RAID geometry and rules -- */

/* `current_offset` rounded up to the alignment of a staged array; unchanged when nothing is staged
 * under that number. */
VK_API VK_QWORD VK_GetNextEditableLogicalDriveAlignedOffset(PCDA cda, VK_WORD editable_array_number,
                                                            VK_QWORD current_offset);
/* The parity-group counts a RAID level allows on a staged array's data drives: at most
 * `*max_parity_group_count` of them into `parity_group_count_array`, their number back into
 * `*max_parity_group_count`, the smallest (or 0) into `*default_parity_group_count`. */
VK_API VK_BYTE VK_GetEditableArrayParityGroupCountValues(PCDA cda, VK_WORD editable_array_number,
                                                         VK_BYTE raid_level, VK_BYTE* max_parity_group_count,
                                                         VK_BYTE* parity_group_count_array,
                                                         VK_BYTE* default_parity_group_count);
/* Smallest, largest and default strip-size exponents of a staged logical drive. */
VK_API VK_BYTE VK_GetEditableLogicalDriveStripSizeRange(PCDA cda, VK_WORD editable_ld_number,
                                                        VK_BYTE* min_strip_size_exp, VK_BYTE* max_strip_size_exp,
                                                        VK_BYTE* default_strip_size_exp);

/* -- Editable arrays and drive list -- */

/* -- Editable logical drives -- */

/* -- Editable controller settings -- */

/* -- Direct controller operations and single-field parameter updates -- */

/* -- Commit -- */

PN_EXTERN_C_END

#endif
