// Decoders of the replies to the tool's own diagnostic reads.
#include "decode.h"

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
