// Decoders of the replies to the tool's own diagnostic reads, and the texts of the controller status
// word's cache disable reasons.
#include "decode.h"

#include <iterator>

namespace {

constexpr std::size_t kDeviceStatus =
    offsetof(PCIE_CAPABILITY_REGISTERS, controllerStatusRegisters) + offsetof(PCIE_STATUS_REGISTERS, DeviceStatus);
constexpr std::size_t kLinkStatus =
    offsetof(PCIE_CAPABILITY_REGISTERS, controllerStatusRegisters) + offsetof(PCIE_STATUS_REGISTERS, LinkStatus);
static_assert(kDeviceStatus == 10 && kLinkStatus == 18);

// Link-status speed codes 1 to 4 are 2.5, 5, 8 and 16 GT/s.
VK_BYTE SpeedCode(VK_WORD link_status) {
    const unsigned code = link_status & PCIE_LINK_SPEED_MASK;
    return code >= 1 && code <= 4 ? static_cast<VK_BYTE>(code - 1) : static_cast<VK_BYTE>(PCIe_LINK_RATE_UNKNOWN);
}


// Indexed by the disable code; the codes without a text of their own read "Unknown".
constexpr const char* kCacheDisableReasons[] = {
    STR_CACHE_STATE_DISABLE_REASON_BOARD_MISMATCH, // 0
    STR_CACHE_STATE_DISABLE_REASON_LOW_BATTERY_VOLTAGE, // 1
    STR_CACHE_STATE_DISABLE_REASON_FLUSH_DISABLE_COMMAND, // 2
    STR_CACHE_STATE_DISABLE_REASON_INSUFFICIENT_RESOURCES, // 3
    STR_CACHE_STATE_DISABLE_REASON_MODULE_NOT_ATTACHED, // 4
    STR_CACHE_STATE_DISABLE_REASON_EXPANSION_IN_PROGRESS, // 5
    STR_CACHE_STATE_DISABLE_REASON_GREEN_BACKUP_FIRMWARE_MISMATCH, // 6
    STR_CACHE_STATE_DISABLE_REASON_GREEN_BACKUP_NOT_RESPONDING, // 7
    STR_CACHE_STATE_DISABLE_REASON_REDUNDANT_SIZE_MISMATCH, // 8
    STR_CACHE_STATE_DISABLE_REASON_REDUNDANT_PEER_FAILURE, // 9
    STR_UNKNOWN, // 10
    STR_UNKNOWN, // 11
    STR_CACHE_STATE_DISABLE_REASON_CAPACITOR_CHARGE_LOW, // 12
    STR_CACHE_STATE_DISABLE_REASON_FLASH_ERASING, // 13
    STR_CACHE_STATE_DISABLE_REASON_REBOOT_TO_RECOVER, // 14
    STR_UNKNOWN, // 15
    STR_UNKNOWN, // 16
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_ECC_ERRORS, // 17
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_WRITE_PARITY_ERROR, // 18
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_SET_CLEAR_CONFIGURATION, // 19
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_MANY_ECC_ERRORS, // 20
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_POST_ECC_ERRORS, // 21
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BATTERY_HOT_REMOVED, // 22
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_NOT_ENOUGH_BATTERIES, // 23
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_INCOMPATIBLE_MODULE_FIRMWARE, // 24
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_WRONG_BATTERY, // 25
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_NO_CAPACITOR, // 26
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BACKUP_FAILED, // 27
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_RESTORE_FAILED, // 28
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_HARDWARE_FAILURE, // 29
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_CAPACITOR_CHARGE_FAILED, // 30
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_INCOMPATIBLE_MODULE, // 31
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_CHARGER_FAILED, // 32
    STR_CACHE_STATE_DISABLE_REASON_PERMANENT_BATTERY_CABLE_ERROR, // 33
};

} // namespace

bool QV_DecodePCIeLinkInfo(pavlin::ByteView reply, PCIeLinkInfo* info) {
    if (info == nullptr) {
        return false;
    }
    const auto device_status = reply.le16(kDeviceStatus);
    const auto link_status = reply.le16(kLinkStatus);
    if (!device_status || !link_status) {
        return false;
    }
    info->CurrentLinkSpeed = SpeedCode(*link_status);
    info->NegotiatedLinkWidth = static_cast<VK_BYTE>((*link_status & PCIE_LINK_WIDTH_MASK) >> PCIE_LINK_WIDTH_SHIFT);
    info->LinkErrors = static_cast<VK_BYTE>(*device_status & 0x00F0);
    return true;
}

bool QV_HostMfgSignatureValid(pavlin::ByteView record) {
    return record.u8(0) == VK_BYTE{'Z'} && record.u8(1) == VK_BYTE{'Q'};
}

const char* DecodeControllerCacheStatus(VK_DWORD status_word) {
    const VK_DWORD code = (status_word & 0x0000FF00) >> 8;
    return code < std::size(kCacheDisableReasons) ? kCacheDisableReasons[code] : STR_UNKNOWN;
}
