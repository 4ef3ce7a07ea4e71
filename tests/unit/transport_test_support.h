// Helpers shared by the transport tests: descriptors built byte by byte, and a debug-log capture.
#ifndef TRANSPORT_TEST_SUPPORT_H
#define TRANSPORT_TEST_SUPPORT_H

#include "ppavl_debug.h"
#include "ppavl_types.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace transport_test {

using Bytes = std::vector<std::uint8_t>;

// A descriptor blob: 16-bit total length, then id / 16-bit length / data entries.
class Descriptor {
public:
    Descriptor& Add(std::uint8_t id, const Bytes& data) {
        entries_.push_back(id);
        entries_.push_back(static_cast<std::uint8_t>(data.size()));
        entries_.push_back(static_cast<std::uint8_t>(data.size() >> 8));
        entries_.insert(entries_.end(), data.begin(), data.end());
        return *this;
    }
    Descriptor& Word(std::uint8_t id, std::uint16_t v) {
        return Add(id, {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)});
    }
    Descriptor& Text(std::uint8_t id, const std::string& s) { return Add(id, Bytes(s.begin(), s.end())); }
    Descriptor& Node(const std::string& node) { return Text(0x01, node); }
    Descriptor& Protocol(std::uint16_t type) { return Word(0x02, type); }
    Descriptor& Address(const std::array<std::uint8_t, 16>& address) {
        return Add(0x03, Bytes(address.begin(), address.end()));
    }
    Descriptor& DeviceType(std::uint16_t type) { return Word(0x05, type); }

    DeviceDescriptor get() {
        blob_.clear();
        const std::size_t total = entries_.size() + 2;
        blob_.push_back(static_cast<std::uint8_t>(total));
        blob_.push_back(static_cast<std::uint8_t>(total >> 8));
        blob_.insert(blob_.end(), entries_.begin(), entries_.end());
        return blob_.data();
    }

private:
    Bytes entries_;
    Bytes blob_;
};

// An address with only the flags byte set.
inline std::array<std::uint8_t, 16> Flags(std::uint8_t flags) {
    std::array<std::uint8_t, 16> a{};
    a[3] = flags;
    return a;
}

// Collects every line the debug log passes at levels up to 3 while it lives.
class LogCapture {
public:
    LogCapture() {
        lines().clear();
        previous_sink_ = PN_SetDebugCallback(&Sink);
        previous_level_ = PN_SetDebugLogLevel(3);
        previous_mask_ = PN_SetDebugLogMask(0xFFFFFFFFu);
    }
    ~LogCapture() {
        PN_SetDebugLogMask(previous_mask_);
        PN_SetDebugLogLevel(previous_level_);
        PN_SetDebugCallback(previous_sink_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    struct Line {
        VK_BYTE level;
        std::string text;
    };
    static std::vector<Line>& lines() {
        static std::vector<Line> l;
        return l;
    }

private:
    static void Sink(VK_BYTE level, VK_UINT32, const char* text) { lines().push_back({level, text}); }
    DebugCallbackFunction previous_sink_;
    VK_BYTE previous_level_;
    VK_UINT32 previous_mask_;
};

inline std::string Hex(const std::uint8_t* p, std::size_t n) {
    std::string s;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

} // namespace transport_test

#endif
