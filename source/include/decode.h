// Controller replies the tool reads with its own diagnostic CDBs, and what it makes of them; the
// texts of the cache disable reasons in the controller status word.
#ifndef DECODE_H
#define DECODE_H

#include <cstddef>

#include "pavl_bytes.h"
#include "ppavl_types.h"

#define PCIE_CAPABILITY_ID 0x0010
#define PCIE_LINK_SPEED_MASK 0x000F
#define PCIE_LINK_WIDTH_MASK 0x03F0
#define PCIE_LINK_WIDTH_SHIFT 4
#define PCIE_LINK_ERRORS_MASK 0x03F0

// Link speed codes of PCIeLinkInfo.CurrentLinkSpeed.
#define PCIe_LINK_RATE_2_5_GTPS 0
#define PCIe_LINK_RATE_5_0_GTPS 1
#define PCIe_LINK_RATE_8_0_GTPS 2
#define PCIe_LINK_RATE_16_0_GTPS 3
// A link-status speed code the tool does not know: never equal to an expected rate of the file
// that names a real speed, and printed as 255.
#define PCIe_LINK_RATE_UNKNOWN 0xFF

#define PCIE_CAPABILITY_REGISTERS_SIZE 36
#define HOST_MFG_RECORD_SIZE 255

#pragma pack(push, 1)

typedef struct _PCIE_STATUS_REGISTERS {
    VK_DWORD DeviceCapability;
    VK_WORD DeviceControl;
    VK_WORD DeviceStatus;
    VK_DWORD LinkCapabilities;
    VK_WORD LinkControl;
    VK_WORD LinkStatus;
} PCIE_STATUS_REGISTERS;

// Reply of "readPCIeValues" (little-endian).
typedef struct _PCIE_CAPABILITY_REGISTERS {
    VK_BYTE PCIeCapabilityID;
    VK_BYTE Reserved;
    VK_WORD PCIeCapabilitiesRegister;
    PCIE_STATUS_REGISTERS controllerStatusRegisters;
    PCIE_STATUS_REGISTERS memControllerStatusRegisters;
} PCIE_CAPABILITY_REGISTERS;

typedef struct _PCIeLinkInfo {
    VK_BYTE CurrentLinkSpeed;    // PCIe_LINK_RATE_*
    VK_BYTE NegotiatedLinkWidth; // lanes
    VK_BYTE LinkErrors;          // DeviceStatus bits 4-7, in place
} PCIeLinkInfo;

#pragma pack(pop)

static_assert(sizeof(PCIE_STATUS_REGISTERS) == 16);
static_assert(offsetof(PCIE_STATUS_REGISTERS, DeviceStatus) == 6);
static_assert(offsetof(PCIE_STATUS_REGISTERS, LinkCapabilities) == 8);
static_assert(offsetof(PCIE_STATUS_REGISTERS, LinkStatus) == 14);
static_assert(sizeof(PCIE_CAPABILITY_REGISTERS) == PCIE_CAPABILITY_REGISTERS_SIZE);
static_assert(offsetof(PCIE_CAPABILITY_REGISTERS, PCIeCapabilitiesRegister) == 2);
static_assert(offsetof(PCIE_CAPABILITY_REGISTERS, controllerStatusRegisters) == 4);
static_assert(offsetof(PCIE_CAPABILITY_REGISTERS, memControllerStatusRegisters) == 20);
static_assert(sizeof(PCIeLinkInfo) == 3);

// The controller's link from a "readPCIeValues" reply; false, with `info` untouched, when the reply
// does not reach the controller's LinkStatus.
bool QV_DecodePCIeLinkInfo(pavlin::ByteView reply, PCIeLinkInfo* info);

// True when a host manufacturing record begins with its signature "ZQ".
bool QV_HostMfgSignatureValid(pavlin::ByteView record);

// Cache disable reasons of the controller status word (bits 8-15), by code.
#define STR_UNKNOWN "Unknown"
#define STR_CACHE_STATE_DISABLE_REASON_BOARD_MISMATCH "Cache board contains data that does not correspond to this controller"
#define STR_CACHE_STATE_DISABLE_REASON_LOW_BATTERY_VOLTAGE "Less than 75% of the battery packs are at the sufficient voltage level"
#define STR_CACHE_STATE_DISABLE_REASON_FLUSH_DISABLE_COMMAND "Disabled by the Flush/Disable cache command"
#define STR_CACHE_STATE_DISABLE_REASON_INSUFFICIENT_RESOURCES "Controller does not currently have sufficient resources to perform cache operations"
#define STR_CACHE_STATE_DISABLE_REASON_MODULE_NOT_ATTACHED "Cache module is not attached"
#define STR_CACHE_STATE_DISABLE_REASON_EXPANSION_IN_PROGRESS "Cache memory used by expansion operation that is queued up or in progress"
#define STR_CACHE_STATE_DISABLE_REASON_GREEN_BACKUP_FIRMWARE_MISMATCH "The currently running green backup firmware version does not match the one in ROM. This can occur as part of controller firmware update process and the system was warm rebooted after the update. Action: Power cycle (off/on) recommended"
#define STR_CACHE_STATE_DISABLE_REASON_GREEN_BACKUP_NOT_RESPONDING "Green backup processor not responding. Action: Power cycle (off/on) recommended"
#define STR_CACHE_STATE_DISABLE_REASON_REDUNDANT_SIZE_MISMATCH "Redundant controller cache size mismatch"
#define STR_CACHE_STATE_DISABLE_REASON_REDUNDANT_PEER_FAILURE "A cache failure has been detected by the other controller in a redundant environment"
#define STR_CACHE_STATE_DISABLE_REASON_CAPACITOR_CHARGE_LOW "Charge level of capacitor attached to cache module is low"
#define STR_CACHE_STATE_DISABLE_REASON_FLASH_ERASING "Flash memory is being erased"
#define STR_CACHE_STATE_DISABLE_REASON_REBOOT_TO_RECOVER "Cache module failure has been cleared and controller needs to be rebooted to complete recovery"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_ECC_ERRORS "Un-recoverable ECC errors"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_WRITE_PARITY_ERROR "Data could not be written to the cache memory. Parity error was detected while writing data to the cache"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_SET_CLEAR_CONFIGURATION "Set/Clear configuration command issued. Cache will remain disabled until a Set/Clear configuration command is issued once again"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_MANY_ECC_ERRORS "Large number of ECC errors detected"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_POST_ECC_ERRORS "Large number of ECC errors detected while testing the cache during POST"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BATTERY_HOT_REMOVED "Battery Hot Removed"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_NOT_ENOUGH_BATTERIES "There are not enough batteries attached to the controller to ensure write-cache will be held without power for the required time period"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_INCOMPATIBLE_MODULE_FIRMWARE "Incompatible Cache Module Firmware"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_WRONG_BATTERY "Wrong battery attached to cache module"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_NO_CAPACITOR "No capacitor attached to cache module"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BACKUP_FAILED "Backup Operation Failed"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_RESTORE_FAILED "Restore Operation Failed"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_HARDWARE_FAILURE "Hardware failure encountered"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_CAPACITOR_CHARGE_FAILED "Capacitor attached to cache module failed to charge"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_INCOMPATIBLE_MODULE "Incompatible Cache Module"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_CHARGER_FAILED "Charger Circuit Failed"
#define STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BATTERY_CABLE_ERROR "Battery Cable Error"

// The text of the cache disable code in bits 8-15 of a controller status word; "Unknown" for a code
// without a text.
const char* DecodeControllerCacheStatus(VK_DWORD status_word);

#endif
