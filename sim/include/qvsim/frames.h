// Byte layouts the simulated controllers decode on their own: the SIS raw SRB with its reply,
// and the CSMI SSP/SMP frames tunnelled inside BMIC write 0x68. Little-endian unless noted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "qvsim/firmware.h"

namespace qvsim {

// ---- SIS driver requests ----
inline constexpr unsigned long kSisSendSrbRequest = 0x4204C;
inline constexpr unsigned long kSisResetRequest = 0x42170;

inline constexpr std::size_t kSrbSize = 68;       // with one scatter-gather entry
inline constexpr std::size_t kSrbSizeNoData = 56; // without it
inline constexpr std::size_t kSrbResultSize = 52;
inline constexpr std::size_t kSrbSenseSize = 30;

inline constexpr std::uint32_t kSrbFlagDataIn = 0x40;
inline constexpr std::uint32_t kSrbFlagDataOut = 0x80;

namespace srb_off {
inline constexpr std::size_t kFunction = 0, kBus = 4, kTargetId = 8, kLun = 12, kTimeOutValue = 16,
                             kSrbFlags = 20, kDataTransferLength = 24, kRetryLimit = 28, kCdbLength = 32,
                             kCdb = 36, kSgCount = 52, kSgFlags = 54, kSgAddressLo = 56, kSgAddressHi = 60,
                             kSgByteCount = 64;
} // namespace srb_off
namespace srb_result_off {
inline constexpr std::size_t kStatus = 0, kSrbStatus = 4, kScsiStatus = 8, kDataTransferLength = 12,
                             kSenseInfoBufferLength = 16, kSenseInfoBuffer = 20;
} // namespace srb_result_off

struct Srb {
    std::uint32_t function = 0, bus = 0, target = 0, lun = 0, timeout = 0, flags = 0;
    std::uint32_t size = 0; // DataTransferLength: the SRB's own size, 56 or 68
    std::uint32_t retry_limit = 0, cdb_length = 0;
    std::array<std::uint8_t, 16> cdb{};
    std::uint16_t sg_count = 0, sg_flags = 0; // only in a 68-byte SRB
    std::uint64_t sg_address = 0;
    std::uint32_t sg_byte_count = 0;
};

// Decodes the first 56 bytes, and the scatter-gather entry when `size` says 68 (p must then
// hold 68 bytes).
Srb parse_srb_head(const std::uint8_t* p);
void parse_srb_sg(const std::uint8_t* p, Srb& srb);

struct SrbResult {
    std::uint32_t status = 0, srb_status = 0, scsi_status = 0, data_transfer_length = 0, sense_length = 0;
    std::array<std::uint8_t, kSrbSenseSize> sense{};
};
void write_srb_result(std::uint8_t* p, const SrbResult& r);

// ---- CSMI frames tunnelled in BMIC write 0x68 ----
inline constexpr std::uint8_t kBmicCsmiPassthrough = 0x68;
inline constexpr std::uint32_t kCsmiSmpControlCode = 23; // 0x17
inline constexpr std::uint32_t kCsmiSspControlCode = 24; // 0x18
inline constexpr std::size_t kCsmiHeaderSize = 28;
inline constexpr std::size_t kSspFrameSize = 372; // before the data
inline constexpr std::size_t kSmpFrameSize = 2092;
inline constexpr std::size_t kSmpAdditionalBytes = 1016;
inline constexpr std::size_t kSspResponseBytes = 256;

namespace csmi_off {
inline constexpr std::size_t kHeaderLength = 0, kSignature = 4, kTimeout = 12, kControlCode = 16,
                             kReturnCode = 20, kLength = 24;
} // namespace csmi_off
namespace ssp_off {
inline constexpr std::size_t kPhy = 28, kPort = 29, kConnectionRate = 30, kDestinationSasAddress = 32,
                             kLun = 40, kCdbLength = 48, kAdditionalCdbLength = 49, kCdb = 52, kFlags = 68,
                             kAdditionalCdb = 72, kDataLength = 96, kConnectionStatus = 100, kSspStatus = 101,
                             kDataPresent = 104, kStatus = 105, kResponseLength = 106, kResponse = 108,
                             kDataBytes = 364, kDataBuffer = 368;
} // namespace ssp_off
namespace smp_off {
inline constexpr std::size_t kPhy = 28, kPort = 29, kConnectionRate = 30, kDestinationSasAddress = 32,
                             kRequestLength = 40, kRequestFrameType = 44, kRequestFunction = 45,
                             kAllocatedResponseLength = 46, kRequestHeaderLength = 47,
                             kAdditionalRequest = 48, kConnectionStatus = 1064, kResponseBytes = 1068,
                             kResponseFrameType = 1072, kResponseFunction = 1073, kFunctionResult = 1074,
                             kResponseLength = 1075, kAdditionalResponse = 1076;
} // namespace smp_off

struct CsmiHeader {
    std::uint32_t header_length = 0, timeout = 0, control_code = 0, return_code = 0, length = 0;
    std::array<std::uint8_t, 8> signature{};
};

struct SmpRequest {
    CsmiHeader header;
    std::uint8_t phy_identifier = 0, port_identifier = 0, connection_rate = 0;
    std::array<std::uint8_t, 8> sas_address{};
    std::uint32_t request_length = 0; // uRequestLength as sent
    std::uint8_t frame_type = 0, function = 0, allocated_response_length = 0, header_request_length = 0;
    std::vector<std::uint8_t> additional_request; // the frame's bytes, clipped to request_length
};

struct SmpReply {
    int err = 0; // fails the carrying request with this errno
    std::uint8_t connection_status = 0;
    std::uint8_t frame_type = 0x41, function = 0, function_result = 0, response_length = 0;
    std::vector<std::uint8_t> additional_response; // clipped to 1016 bytes
    std::optional<std::uint32_t> response_bytes;   // uResponseBytes; default 4 + additional bytes
};

// The BMIC write CDB that carries a frame: 27 00 00 00 00 <code> 68 <size MSB> <size LSB> 00...
bool is_csmi_carrier(const Command& cmd);
std::uint8_t csmi_control_code(const Command& cmd); // CDB byte 5

CsmiHeader parse_csmi_header(std::span<const std::uint8_t> frame); // frame holds >= 28 bytes

// The tunnelled SSP command as a Command of transport "csmi-ssp". nullopt (with why) when the
// frame is shorter than 372 bytes plus its data length, or its CDB length exceeds 16.
std::optional<Command> parse_ssp_frame(std::span<const std::uint8_t> frame, std::string* why);
// The frame with the outputs of `r` written in (status, sense as response data, data in).
std::vector<std::uint8_t> write_ssp_reply(std::span<const std::uint8_t> frame, const Command& inner,
                                          const Reply& r);

std::optional<SmpRequest> parse_smp_frame(std::span<const std::uint8_t> frame, std::string* why);
std::vector<std::uint8_t> write_smp_reply(std::span<const std::uint8_t> frame, const SmpReply& r);

// An SMP request as a Command of transport "csmi-smp" (for scripted expectations): the CDB is
// the request frame (4 header bytes, then the additional request bytes), lun_address the SAS
// address, direction both, data_in_length 1020. The reply's data_in is the response frame
// (4 header bytes, then up to 1016 additional bytes); reported_data_length sets uResponseBytes.
Command smp_as_command(const SmpRequest& req);
SmpReply smp_reply_from(const Reply& r);

// JSON of a frame for the request log (header, addressing, CDB, lengths).
nlohmann::json describe_csmi_frame(std::uint8_t control_code, std::span<const std::uint8_t> frame);

} // namespace qvsim
