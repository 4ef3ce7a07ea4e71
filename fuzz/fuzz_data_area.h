// The data area a fuzz target fills from its input: one area for the process, with no lock and no
// controller behind it, and the set-up over it that the targets share.
#ifndef FUZZ_DATA_AREA_H
#define FUZZ_DATA_AREA_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ptelm.h"
#include "telm_private.h"
#include "telm_records.h"

inline _CDA* DataArea() {
    static _CDA* area = static_cast<_CDA*>(std::calloc(1, VK_GetCDASize()));
    return area;
}

// The data area with nothing left in it from the run before: for a target that sets up every buffer
// and record it means to be read.
inline _CDA* ClearedDataArea() {
    _CDA* c = DataArea();
    FUZZ_CHECK(c != nullptr);
    std::memset(static_cast<void*>(c), 0, VK_GetCDASize());
    return c;
}

// Hostile replies make the library log a great deal; the fuzzer wants none of it.
struct QuietFuzzLog {
    VK_BYTE previous = PN_SetDebugLogLevel(0);
    QuietFuzzLog() = default;
    QuietFuzzLog(const QuietFuzzLog&) = delete;
    QuietFuzzLog& operator=(const QuietFuzzLog&) = delete;
    ~QuietFuzzLog() { PN_SetDebugLogLevel(previous); }
};

// IDENTIFY CONTROLLER and the managed-SED status from the input, cached with `more_buffers`, on a
// controller whose arrays are built and that offers feature pages (IDENTIFY dwEvenMoreControllerFlags
// 0x80000000) and managed SED, whatever the input says.
inline void FillManagedSEDController(_CDA* c, FuzzInput& in, VK_DWORD more_buffers) {
    c->flags[kCDAFlagsBuffers] =
        kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidManagedSEDStatus | more_buffers;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    in.Fill(&c->managed_sed_status_buffer, sizeof(c->managed_sed_status_buffer));
    c->identify_controller_buffer.dwEvenMoreControllerFlags |= 0x80000000u;
    c->sense_feature.page_managed_sed.bFeatureFlags = 0x07;
}

// The data area cleared for one run, with the library's log quiet until the run ends.
class ClearedRunArea {
  public:
    ClearedRunArea() : area_(ClearedDataArea()) {}
    ClearedRunArea(const ClearedRunArea&) = delete;
    ClearedRunArea& operator=(const ClearedRunArea&) = delete;
    _CDA* operator->() const { return area_; }
    operator _CDA*() const { return area_; }

  private:
    const QuietFuzzLog quiet_;
    _CDA* const area_;
};

// A drive record as the loader leaves it once its identify copy is in place: derived and cached.
inline void CacheDriveIdentify(_CDA* c, PhysicalDriveRecord& pd) {
    telmar::DerivePhysicalDriveRecord(static_cast<PCDA>(c), pd);
    pd.flags |= kPDRecordIdentifyValid;
}

// Drive `p`'s identify reply decoded into its record, which is then derived and cached.
inline void DecodeDriveIdentify(_CDA* c, VK_WORD p, pavlin::ByteView reply, bool full_length_model) {
    PhysicalDriveRecord& pd = _VK_PDRecordForWrite(c, p);
    telmar::DecodePhysicalDriveStatus(reply, full_length_model, pd.identify_physical_drive_buffer);
    CacheDriveIdentify(c, pd);
}

// The data area zeroed, then the live model's inputs from the fuzz input: IDENTIFY CONTROLLER and up
// to `most` logical-drive configurations (652 bytes each), each derived as the loader derives it.
// With `cache_config_cached` the cache configuration reads as cached (and zero). The count configured.
inline VK_WORD FillLiveConfigurations(FuzzInput& in, bool cache_config_cached, VK_WORD most = 8) {
    _CDA* c = ClearedDataArea();
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                 kCDAValidEnclosures | (cache_config_cached ? kCDAValidCacheConfigStatus : 0);
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    VK_WORD configured = 0;
    for (; configured < most; ++configured) {
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
