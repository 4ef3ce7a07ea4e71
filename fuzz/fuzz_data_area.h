// The data area a getter fuzz target fills from its input: one zeroed area for the process, with no
// lock and no controller behind it.
#ifndef FUZZ_DATA_AREA_H
#define FUZZ_DATA_AREA_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ppavl_debug.h"
#include "ptelm.h"
#include "telm_private.h"
#include "telm_records.h"

inline _CDA* DataArea() {
    static _CDA* area = static_cast<_CDA*>(std::calloc(1, VK_GetCDASize()));
    return area;
}

// The fuzz input, taken front to back; past its end every byte reads 0.
struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    // Up to `length` bytes into `destination` (zeroed first); the count taken.
    size_t Fill(void* destination, size_t length) {
        std::memset(destination, 0, length);
        const size_t n = at < size ? std::min(length, size - at) : 0;
        if (n) {
            std::memcpy(destination, data + at, n);
        }
        at += n;
        return n;
    }
};

// Hostile replies make the library log a great deal; the fuzzer wants none of it.
struct QuietFuzzLog {
    VK_BYTE previous = PN_SetDebugLogLevel(0);
    QuietFuzzLog() = default;
    QuietFuzzLog(const QuietFuzzLog&) = delete;
    QuietFuzzLog& operator=(const QuietFuzzLog&) = delete;
    ~QuietFuzzLog() { PN_SetDebugLogLevel(previous); }
};

// The data area zeroed, then the live model's inputs from the fuzz input: IDENTIFY CONTROLLER and up
// to eight logical-drive configurations (652 bytes each), each derived as the loader derives it.
// `choices` bit 0 marks the cache configuration cached (it reads as zero). The count configured.
inline VK_WORD FillLiveConfigurations(FuzzInput& in, uint8_t choices) {
    _CDA* c = DataArea();
    std::memset(c, 0, VK_GetCDASize());
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                 kCDAValidEnclosures | ((choices & 1) ? kCDAValidCacheConfigStatus : 0);
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    VK_WORD configured = 0;
    for (; configured < 8; ++configured) {
        LogicalDriveRecord& r = _VK_LDRecordForWrite(c, configured);
        if (in.Fill(&r.sense_config_buffer, sizeof(r.sense_config_buffer)) == 0) {
            break;
        }
        telmar::DeriveLogicalDriveConfig(static_cast<PCDA>(c), r);
        r.flags |= kLDRecordConfigValid;
    }
    return configured;
}

#endif
