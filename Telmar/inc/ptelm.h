/* Controller model library: the data-area handle and library start-up. */
#ifndef PTELM_H
#define PTELM_H

#include "ppavl_export.h"
#include "ppavl_types.h"

/* One controller's data area; the caller allocates VK_GetCDASize() bytes for it. */
typedef void* PCDA;

PN_EXTERN_C_BEGIN

/* Library start-up; ends the process on a big-endian host. `checksum` is not examined. */
VK_API void InitializeTelmar(const char* checksum);
/* Library shut-down; there is nothing to release. */
VK_API void UnInitializeTelmar(void);

PN_EXTERN_C_END

#include "ptelm_cda.h"
#include "ptelm_commands.h"
#include "ptelm_configuration.h"
#include "ptelm_encryption.h"
#include "ptelm_features.h"
#include "ptelm_flash.h"
#include "ptelm_properties.h"
#include "ptelm_status.h"
#include "ptelm_utils.h"

#endif
