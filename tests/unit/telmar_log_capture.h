// Captures the library's debug log (levels 1 to 3) for the duration of a test.
#ifndef TELMAR_LOG_CAPTURE_H
#define TELMAR_LOG_CAPTURE_H

#include <string>
#include <vector>

#include "ppavl_debug.h"

class TelmarLogCapture {
public:
    TelmarLogCapture() {
        lines().clear();
        for (VK_BYTE level = 1; level <= 3; ++level) {
            previous_masks_[level - 1] = PN_SetDebugLogLevelMask(level, 0xFFFFFFFF);
        }
        previous_level_ = PN_SetDebugLogLevel(3);
        previous_sink_ = PN_SetDebugCallback(&Capture);
    }
    ~TelmarLogCapture() {
        PN_SetDebugCallback(previous_sink_);
        PN_SetDebugLogLevel(previous_level_);
        for (VK_BYTE level = 1; level <= 3; ++level) {
            PN_SetDebugLogLevelMask(level, previous_masks_[level - 1]);
        }
    }
    TelmarLogCapture(const TelmarLogCapture&) = delete;
    TelmarLogCapture& operator=(const TelmarLogCapture&) = delete;

    // Lines that contain `text`.
    static size_t Count(const std::string& text) {
        size_t n = 0;
        for (const std::string& line : lines()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }
    static std::vector<std::string>& lines() {
        static std::vector<std::string> captured;
        return captured;
    }

private:
    static void Capture(VK_BYTE, VK_UINT32, const char* text) { lines().emplace_back(text); }

    VK_UINT32 previous_masks_[3] = {};
    VK_BYTE previous_level_ = 2;
    DebugCallbackFunction previous_sink_ = nullptr;
};

#endif
