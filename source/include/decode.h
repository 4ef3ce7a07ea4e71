// Controller replies the tool reads with its own diagnostic CDBs, and what it makes of them.
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

#endif
