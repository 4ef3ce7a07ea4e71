// Requests of the CISS (and PQI) driver that are not SCSI commands.
#include <linux/cciss_ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "qvsim/device.h"

namespace qvsim {
namespace {

static_assert(CCISS_GETPCIINFO == 0x80084201UL);
static_assert(sizeof(cciss_pci_info_struct) == 8);

struct PciAddress {
    unsigned domain = 0, bus = 0, dev = 0, fn = 0;
};

bool parse_pci(const std::string& text, PciAddress* a) {
    char tail = 0;
    return std::sscanf(text.c_str(), "%x:%x:%x.%x%c", &a->domain, &a->bus, &a->dev, &a->fn, &tail) == 4 &&
           a->domain <= 0xFFFF && a->bus <= 0xFF && a->dev <= 0x1F && a->fn <= 7;
}

int serve_pci_info(Device& dev, void* arg, RequestRecord& rec) {
    PciAddress a;
    if (!parse_pci(dev.controller().pci_address, &a))
        return EINVAL;
    cciss_pci_info_struct info{};
    info.bus = static_cast<unsigned char>(a.bus);
    info.dev_fn = static_cast<unsigned char>((a.dev << 3) | a.fn);
    info.domain = static_cast<unsigned short>(a.domain);
    info.board_id = dev.controller().board_id;
    std::memcpy(arg, &info, sizeof info);
    rec.reply = {
        {"bus", info.bus}, {"dev_fn", info.dev_fn}, {"domain", info.domain}, {"board_id", info.board_id}};
    return 0;
}

const bool registered = register_endpoint(
    DriverKind::kCiss, CCISS_GETPCIINFO,
    {"CCISS_GETPCIINFO", [](const void*) { return nlohmann::json::object(); }, serve_pci_info});

} // namespace
} // namespace qvsim
