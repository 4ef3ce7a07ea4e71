// The SIS driver's send-FIB request, answering the two adapter-information commands.
#include <cerrno>
#include <cstddef>
#include <cstring>

#include "qvsim/device.h"

namespace qvsim {
namespace {

constexpr unsigned long kSendFib = 0x42008;
constexpr std::size_t kFibSize = 512;
constexpr std::size_t kFibHeaderSize = 32;
constexpr std::size_t kFibDataSize = kFibSize - kFibHeaderSize;
constexpr std::uint32_t kHostOwned = 1;
constexpr std::uint8_t kTFib2 = 4;
constexpr std::uint16_t kRequestAdapterInfo = 703;
constexpr std::uint16_t kRequestSupplementAdapterInfo = 706;
constexpr std::uint32_t kSupplementSupported = 0x10000;

struct FibHeader {
    std::uint32_t XferState;
    std::uint16_t Command;
    std::uint8_t StructType;
    std::uint8_t FwIdx;
    std::uint16_t Size;
    std::uint16_t SenderSize;
    std::uint32_t SenderFibAddress;
    std::uint32_t SenderFibAddressHigh;
    std::uint32_t Handle;
    std::uint32_t Next;
    std::uint32_t Previous;
};
static_assert(sizeof(FibHeader) == kFibHeaderSize);
static_assert(offsetof(FibHeader, Command) == 4 && offsetof(FibHeader, StructType) == 6 &&
              offsetof(FibHeader, Size) == 8 && offsetof(FibHeader, SenderSize) == 10 &&
              offsetof(FibHeader, SenderFibAddress) == 12 && offsetof(FibHeader, Handle) == 20 &&
              offsetof(FibHeader, Previous) == 28);

// Reply layouts, by byte offset.
constexpr std::size_t kAdapterInfoSize = 88;
constexpr std::size_t kAiKernelRevision = 28, kAiMonitorRevision = 36, kAiBiosRevision = 52, kAiTotalMem = 24,
                      kAiSerialNumber = 68, kAiSupportedOptions = 80;
constexpr std::size_t kSupplementSize = 480;
constexpr std::size_t kSuAdapterTypeText = 0, kSuFlashFirmwareRevision = 104, kSuVirtualBus = 200,
                      kSuVirtualTarget = 202, kSuVirtualLun = 204;

FibHeader read_header(const void* arg) {
    FibHeader h;
    std::memcpy(&h, arg, sizeof h);
    return h;
}

nlohmann::json decode_fib(const void* arg) {
    FibHeader h = read_header(arg);
    // Read no further than the sender says its FIB reaches.
    std::size_t data = h.Size < kFibDataSize ? h.Size : kFibDataSize;
    std::size_t sender_data = h.SenderSize > kFibHeaderSize ? h.SenderSize - kFibHeaderSize : 0;
    if (sender_data < data)
        data = sender_data;
    return {{"XferState", h.XferState},
            {"Command", h.Command},
            {"StructType", h.StructType},
            {"FwIdx", h.FwIdx},
            {"Size", h.Size},
            {"SenderSize", h.SenderSize},
            {"SenderFibAddress", h.SenderFibAddress},
            {"SenderFibAddressHigh", h.SenderFibAddressHigh},
            {"Handle", h.Handle},
            {"Next", h.Next},
            {"Previous", h.Previous},
            {"data", hex_bytes(static_cast<const std::uint8_t*>(arg) + kFibHeaderSize, data)}};
}

void put_revision(std::uint8_t* p, std::uint8_t major, std::uint8_t minor, std::uint32_t build) {
    p[0] = 0; // dash
    p[1] = 0; // type
    p[2] = minor;
    p[3] = major;
    put_le32(p + 4, build);
}

int serve_fib(Device& dev, void* arg, RequestRecord& rec) {
    FibHeader h = read_header(arg);
    if ((h.XferState & kHostOwned) == 0 || h.StructType != kTFib2 || h.Size > kFibDataSize ||
        h.SenderSize < kFibHeaderSize || h.SenderSize > kFibSize) {
        return EINVAL;
    }
    const SisAdapter& sis = dev.controller().sis;
    std::uint8_t reply[kFibDataSize] = {};
    std::size_t reply_len = 0;
    switch (h.Command) {
        case kRequestAdapterInfo:
            reply_len = kAdapterInfoSize;
            put_le32(reply + kAiTotalMem, 512u << 20);
            put_revision(reply + kAiKernelRevision, 7, 4, 3100);
            put_revision(reply + kAiMonitorRevision, 7, 4, 3100);
            put_revision(reply + kAiBiosRevision, 7, 4, 3100);
            put_le32(reply + kAiSerialNumber, sis.serial_number);
            put_le32(reply + kAiSupportedOptions, sis.supported_options);
            rec.reply = {{"SupportedOptions", sis.supported_options}};
            break;
        case kRequestSupplementAdapterInfo:
            if ((sis.supported_options & kSupplementSupported) == 0)
                return EINVAL;
            reply_len = kSupplementSize;
            std::memcpy(reply + kSuAdapterTypeText, sis.adapter_type_text.data(),
                        sis.adapter_type_text.size() < 20 ? sis.adapter_type_text.size() : 20);
            put_revision(reply + kSuFlashFirmwareRevision, 7, 4, 3100);
            put_le16(reply + kSuVirtualBus, sis.virtual_bus);
            put_le16(reply + kSuVirtualTarget, sis.virtual_target);
            put_le16(reply + kSuVirtualLun, sis.virtual_lun);
            rec.reply = {{"VirtualScsiDeviceBus", sis.virtual_bus},
                         {"VirtualScsiDeviceTarget", sis.virtual_target},
                         {"VirtualScsiDeviceLUN", sis.virtual_lun}};
            break;
        default:
            return EINVAL;
    }
    // The driver copies back no more than the sender's FIB holds.
    std::size_t room = h.SenderSize - kFibHeaderSize;
    std::memcpy(static_cast<std::uint8_t*>(arg) + kFibHeaderSize, reply, room);
    rec.reply["length"] = reply_len < room ? reply_len : room;
    return 0;
}

const bool registered =
    register_endpoint(DriverKind::kSis, kSendFib, {"SIS_SEND_FIB", decode_fib, serve_fib});

} // namespace
} // namespace qvsim
