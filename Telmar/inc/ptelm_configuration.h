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

/* ---- Editable arrays and the editable drive list ---- */

/* ---- Editable logical drives ---- */

/* ---- Editable controller settings, boot volumes, spare activation, cache settings ---- */

/* ---- Direct controller operations and single-field parameter updates ---- */

/* ---- Commit ---- */

PN_EXTERN_C_BEGIN

/* -- Editable configuration -- */

/* -- RAID geometry and rules -- */

/* -- Editable arrays and drive list -- */

/* -- Editable logical drives -- */

/* -- Editable controller settings -- */

/* -- Direct controller operations and single-field parameter updates -- */

/* -- Commit -- */

PN_EXTERN_C_END

#endif
