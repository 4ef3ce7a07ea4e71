// A CISS REPORT LOGICAL/PHYSICAL LUNS (extended) reply through the list-length and entry-count
// workers, the physical entry decoders, and Telmar's remote-volume decoder. The input is the report.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "pavl_reportluns.h"
#include "telm_cda_internal.h"

namespace {

constexpr size_t kLogicalEntry = sizeof(REPORT_LOGICAL_LUNS_EX_ENTRY);

// The entries the count promises all lie inside the report.
template <typename Entry> VK_DWORD CheckEntries(pavlin::ByteView report) {
    const VK_DWORD count = _PN_CISSReportEntryCount(report, sizeof(Entry));
    if (count != 0) {
        FUZZ_CHECK(report.size() >= kCISSReportHeaderSize);
        FUZZ_CHECK(static_cast<size_t>(count) * sizeof(Entry) <= report.size() - kCISSReportHeaderSize);
        FUZZ_CHECK(static_cast<size_t>(count) * sizeof(Entry) <= *report.be32(0));
    }
    for (VK_DWORD i = 0; i < count; ++i) {
        Entry e{};
        FUZZ_CHECK(report.copy_to(kCISSReportHeaderSize + static_cast<size_t>(i) * sizeof(Entry), &e, sizeof(e)));
        if constexpr (std::is_same_v<Entry, CISS_REPORT_PHYSICAL_LUNS_ENTRY>) {
            const VK_WORD type = __GetPhysicalDeviceType(&e);
            FUZZ_CHECK(type >= 2 && type <= 8);
            static_cast<void>(__GetPhysicalDeviceNumber(&e));
        }
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const pavlin::ByteView report(data, size);

    const VK_DWORD list_length = _PN_CISSReportListLength(data, size);
    if (size < kCISSReportHeaderSize) {
        FUZZ_CHECK(list_length == 0);
    } else {
        FUZZ_CHECK(list_length <= size - kCISSReportHeaderSize);
        const VK_DWORD announced = *report.be32(0);
        FUZZ_CHECK(list_length == announced || list_length % kCISSReportEntrySize == 0);
    }
    FUZZ_CHECK(_PN_CISSReportEntryCount(report, 0) == 0);
    CheckEntries<CISS_REPORT_PHYSICAL_LUNS_ENTRY>(report);
    const VK_DWORD logical = CheckEntries<REPORT_LOGICAL_LUNS_EX_ENTRY>(report);

    static RemoteVolumeRecord records[kMaxRemoteVolumesSupported + 1];
    for (size_t capacity : {size_t{0}, size_t{1}, size_t{kMaxRemoteVolumesSupported}}) {
        // A sentinel past the capacity must stay untouched.
        std::memset(&records[capacity], 0xA5, sizeof(records[capacity]));
        VK_WORD found = 0xFFFF;
        const bool ok = telmar::DecodeRemoteVolumes(report, records, capacity, &found);
        FUZZ_CHECK(found <= capacity);
        FUZZ_CHECK(found <= logical || (ok && found <= (size - kCISSReportHeaderSize) / kLogicalEntry));
        if (!ok) {
            FUZZ_CHECK(found == 0);
        }
        for (size_t b = 0; b < sizeof(records[capacity]); ++b) {
            FUZZ_CHECK(records[capacity].device_unique_id[b] == 0xA5);
        }
    }
    return 0;
}
