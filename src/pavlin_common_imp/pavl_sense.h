// SCSI sense data, decoded in one place for both libraries: the fixed (0x70, 0x71) and descriptor
// (0x72, 0x73) formats, the key fields of each, and the walk over the descriptors of the second.
// Every reader goes through the byte view, so sense shorter than a field gives no field.
// Header-only: both libraries decode with it.
#ifndef PAVL_SENSE_H
#define PAVL_SENSE_H

#include "pavl_bytes.h"

#include <cstdint>
#include <optional>

namespace pavlin {

inline constexpr std::uint8_t kSenseFixedCurrent = 0x70;
inline constexpr std::uint8_t kSenseFixedDeferred = 0x71;
inline constexpr std::uint8_t kSenseDescriptorCurrent = 0x72;
inline constexpr std::uint8_t kSenseDescriptorDeferred = 0x73;
// Bit 7 of the response code: the information field of fixed sense is valid.
inline constexpr std::uint8_t kSenseValidBit = 0x80;

// Descriptor-format layout: the additional length at byte 7, the descriptors from byte 8, each a type
// byte, an additional length byte and that many bytes.
inline constexpr std::size_t kSenseAdditionalLengthOffset = 7;
inline constexpr std::size_t kSenseDescriptorsOffset = 8;
inline constexpr std::size_t kSenseDescriptorHeaderSize = 2;

// The ATA status return descriptor of ATA PASS-THROUGH.
inline constexpr std::uint8_t kSenseDescriptorATAReturn = 0x09;
inline constexpr std::uint8_t kSenseATAReturnAdditionalLength = 0x0C;
inline constexpr std::size_t kSenseATAReturnSize = kSenseDescriptorHeaderSize + kSenseATAReturnAdditionalLength;

enum class SenseFormat : std::uint8_t {
    kNone,       // no sense: the view is empty
    kFixed,      // 0x70, 0x71
    kDescriptor, // 0x72, 0x73
    kOther,      // any other response code
};

// How the response code is read. kMaskValid takes 0xF0 as 0x70 (the valid bit is masked off);
// kExact counts only the four codes themselves.
enum class SenseCodeRule : std::uint8_t { kMaskValid, kExact };

// Sense key, additional sense code and qualifier.
struct SenseKey {
    std::uint8_t key;
    std::uint8_t asc;
    std::uint8_t ascq;
};

inline SenseFormat SenseFormatOf(ByteView sense, SenseCodeRule rule) {
    const auto code = sense.u8(0);
    if (!code) {
        return SenseFormat::kNone;
    }
    const std::uint8_t c = rule == SenseCodeRule::kMaskValid ? static_cast<std::uint8_t>(*code & ~kSenseValidBit)
                                                             : *code;
    switch (c) {
        case kSenseFixedCurrent:
        case kSenseFixedDeferred:
            return SenseFormat::kFixed;
        case kSenseDescriptorCurrent:
        case kSenseDescriptorDeferred:
            return SenseFormat::kDescriptor;
        default:
            return SenseFormat::kOther;
    }
}

// The key fields of fixed or descriptor sense (response code read with kMaskValid); nothing for any
// other code or when a field lies outside the view.
inline std::optional<SenseKey> DecodeSenseKey(ByteView sense) {
    std::optional<std::uint8_t> key;
    std::optional<std::uint8_t> asc;
    std::optional<std::uint8_t> ascq;
    switch (SenseFormatOf(sense, SenseCodeRule::kMaskValid)) {
        case SenseFormat::kFixed:
            key = sense.u8(2);
            asc = sense.u8(12);
            ascq = sense.u8(13);
            break;
        case SenseFormat::kDescriptor:
            key = sense.u8(1);
            asc = sense.u8(2);
            ascq = sense.u8(3);
            break;
        default:
            return std::nullopt;
    }
    if (!key || !asc || !ascq) {
        return std::nullopt;
    }
    return SenseKey{static_cast<std::uint8_t>(*key & 0x0F), *asc, *ascq};
}

namespace detail {

inline std::optional<ByteView> WalkDescriptors(ByteView sense, std::uint8_t type) {
    const auto additional = sense.u8(kSenseAdditionalLengthOffset);
    if (!additional) {
        return std::nullopt;
    }
    const ByteView area = sense.first(kSenseDescriptorsOffset + *additional);
    std::size_t at = kSenseDescriptorsOffset;
    while (area.has(at, kSenseDescriptorHeaderSize)) {
        const std::size_t length = kSenseDescriptorHeaderSize + *area.u8(at + 1);
        const auto descriptor = area.sub(at, length);
        if (!descriptor) {
            break;
        }
        if (*descriptor->u8(0) == type) {
            return descriptor;
        }
        at += length;
    }
    return std::nullopt;
}

} // namespace detail

// The first descriptor of `type` in descriptor-format sense, header included. The walk stays inside
// both the view and the additional length that byte 7 announces; a descriptor that would pass either
// ends it. Nothing for sense of another format.
inline std::optional<ByteView> FindSenseDescriptor(ByteView sense, std::uint8_t type) {
    if (SenseFormatOf(sense, SenseCodeRule::kMaskValid) != SenseFormat::kDescriptor) {
        return std::nullopt;
    }
    return detail::WalkDescriptors(sense, type);
}

// The ATA status return descriptor of descriptor sense (response code exact), whole and of its own
// length; nothing when there is none.
inline std::optional<ByteView> FindATAReturnDescriptor(ByteView sense) {
    if (SenseFormatOf(sense, SenseCodeRule::kExact) != SenseFormat::kDescriptor) {
        return std::nullopt;
    }
    const auto d = detail::WalkDescriptors(sense, kSenseDescriptorATAReturn);
    if (!d || d->size() != kSenseATAReturnSize) {
        return std::nullopt;
    }
    return d;
}

} // namespace pavlin

#endif
