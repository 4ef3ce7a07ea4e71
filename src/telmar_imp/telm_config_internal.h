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

#pragma pack(push, 1)

// BMIC 0xA5, 20 bytes: the controller's clock in BCD (tens in the high nibble) between a fixed head
// and tail.
typedef struct _CONTROLLER_TIME {
    VK_BYTE bHead[6];
    VK_BYTE bFormat;
    VK_RESERVED reserved7;
    VK_BYTE bHour;
    VK_BYTE bMinute;
    VK_BYTE bSecond;
    VK_RESERVED reserved11;
    VK_BYTE bMonth;
    VK_BYTE bDay;
    VK_BYTE bCentury;
    VK_BYTE bYear;
    VK_BYTE bTail[4];
} CONTROLLER_TIME, *PCONTROLLER_TIME;

// BMIC 0xEE function 0, 4 bytes.
typedef struct _SET_POWER_MODE {
    VK_DWORD dwPowerMode;
} SET_POWER_MODE, *PSET_POWER_MODE;

#pragma pack(pop)

static_assert(sizeof(CONTROLLER_TIME) == 20);
static_assert(offsetof(CONTROLLER_TIME, bFormat) == 6);
static_assert(offsetof(CONTROLLER_TIME, bHour) == 8);
static_assert(offsetof(CONTROLLER_TIME, bSecond) == 10);
static_assert(offsetof(CONTROLLER_TIME, bMonth) == 12);
static_assert(offsetof(CONTROLLER_TIME, bYear) == 15);
static_assert(offsetof(CONTROLLER_TIME, bTail) == 16);
static_assert(sizeof(SET_POWER_MODE) == 4);

struct tm;

namespace telmar::direct {

// The clock record of a local calendar time. False, with the record untouched, for the all-zero
// record of a time the platform could not convert, a four-digit year outside 0 to 9999, or any field
// outside its calendar range: every byte built is two valid BCD digits.
bool BuildControllerTime(const struct tm& local, CONTROLLER_TIME& record);

// What the OOB record itself refuses, before the controller is asked: 0 when it passes, else the
// reason of VK_CanChangeControllerOOBConfiguration (invalid input, interface type, clock speed,
// SMBus device type).
VK_DWORD CheckOOBRecord(const OOBConfiguration* record);

// The I2C configuration bits an interface type defines.
VK_BYTE DefinedOOBConfigurationBits(VK_BYTE interface_type);

} // namespace telmar::direct

PN_EXTERN_C_BEGIN

// Writes a 16-byte volume id as the boot volume of `precedence` (1 primary, 2 secondary, 3 both);
// TRUE without a write when the ids are already those. An id of any other size writes nothing.
VK_BOOL __VK_SetBootableVolume(PCDA cda, VK_BYTE precedence, const VK_BYTE* volume_id, VK_WORD volume_id_size);
// Clears a drive as boot volume wherever it is one; TRUE without a write when it is none.
VK_BOOL _VK_ClearBootVolume(PCDA cda, VK_BYTE drive_type, VK_WORD dev_number);

PN_EXTERN_C_END

// ---- Encryption credentials and requests ----
