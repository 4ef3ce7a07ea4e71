// Internals the configuration-editing files share: workers behind the public functions that other
// editing files call under the data area's lock.
#pragma once

#include "ptelm_configuration.h"
#include "telm_private.h"

// ---- Editable configuration and population ----

// ---- RAID geometry and rules ----

// ---- Editable arrays and drive list ----

// ---- Editable logical drives ----

// ---- Editable controller settings ----

// ---- Direct controller operations ----

// ---- Encryption credentials and requests ----
// The 0x1E request records, their builders and the random credentials.
#include "telm_encryption_requests.h"
