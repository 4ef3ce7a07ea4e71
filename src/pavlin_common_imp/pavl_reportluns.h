// Workers of the CISS REPORT LUNS reader and the physical-entry decoders.
#ifndef PAVL_REPORTLUNS_H
#define PAVL_REPORTLUNS_H

#include "ppavl_commands.h"
#include "ppavl_export.h"
#include "ppavl_reportluns.h"

PN_EXTERN_C_BEGIN

// Reads a report with the prepared request (CDB, direction, time limit and first allocation length in
// io_buffer_size); reads once more at the reported length when the first buffer is too small. Returns
// the tracked buffer (request->io_buffer, of request->io_buffer_size bytes) or NULL.
VK_BYTE* _VK_CISS_ReportEx(DeviceDescriptor controller, PSCSIRequest request, VK_DWORD header_length);

// List length of a report of `buffer_size` bytes, capped to the whole entries the buffer holds.
VK_DWORD _PN_CISSReportListLength(const VK_BYTE* report, VK_QWORD buffer_size);

// Descriptor device type and device number of a physical report entry.
VK_WORD __GetPhysicalDeviceType(const CISS_REPORT_PHYSICAL_LUNS_ENTRY* entry);
VK_WORD __GetPhysicalDeviceNumber(const CISS_REPORT_PHYSICAL_LUNS_ENTRY* entry);

PN_EXTERN_C_END

#include "pavl_bytes.h"
#include "pavl_tracked.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"

#include <cstring>

// Number of whole entries of `entry_size` bytes that a report lists and the view holds.
VK_DWORD _PN_CISSReportEntryCount(pavlin::ByteView report, size_t entry_size);

// The report readers are header-only, built on the exported command path, so that Telmar gets the
// report with the size it was read in without a new export of libpavlin.
namespace pavlin {

inline constexpr VK_BYTE kReportCDBSize = 12;
inline constexpr size_t kReportAllocationLengthOffset = 6; // CDB bytes 6 to 9, most significant first
inline constexpr VK_DWORD kLogicalReportFirstAllocation = 512;
// Both reports address a device by a 16-bit number: no controller lists more entries than that, so a
// longer list is a damaged reply, refused before anything is allocated for it.
inline constexpr VK_QWORD kMaxCISSReportEntries = 0x10000;
inline constexpr VK_QWORD kMaxCISSReportListLength = kMaxCISSReportEntries * kCISSReportEntrySize;

inline VK_DWORD CISSReportListLength(const VK_BYTE* report, VK_QWORD buffer_size) {
    if (report == nullptr || buffer_size < kCISSReportHeaderSize) {
        return 0;
    }
    const VK_QWORD announced = *ByteView(report, kCISSReportHeaderSize).be32(0);
    const VK_QWORD room = buffer_size - kCISSReportHeaderSize;
    if (announced <= room) {
        return static_cast<VK_DWORD>(announced);
    }
    return static_cast<VK_DWORD>(room - room % kCISSReportEntrySize);
}

// The body of _VK_CISS_ReportEx (see above).
inline VK_BYTE* ReadCISSReportInto(DeviceDescriptor controller, PSCSIRequest request, VK_DWORD header_length) {
    if (request == nullptr || request->cdb == nullptr ||
        request->cdb_size < kReportAllocationLengthOffset + 4 || request->io_buffer_size < header_length ||
        header_length < 4) {
        return nullptr;
    }
    VK_DWORD size = request->io_buffer_size;
    auto* buffer = static_cast<VK_BYTE*>(VK_malloc(size));
    if (buffer == nullptr) {
        return nullptr;
    }
    std::memset(buffer, 0, size);
    request->io_buffer = buffer;
    EnCommandStatus status = PN_ExecuteSCSICommand(controller, request);
    if (status == eCOMMAND_STATUS_OK) {
        // In 64 bits: a list length near 4 GiB must not wrap into a small allocation.
        const VK_QWORD listed = *ByteView(buffer, size).be32(0);
        const VK_QWORD needed = listed + header_length;
        if (size < needed) {
            VK_free(buffer);
            request->io_buffer = nullptr;
            request->io_buffer_size = 0;
            if (listed > kMaxCISSReportListLength || needed > 0xFFFFFFFFull) {
                PN_DebugLog(1, 0, "%s:%d: Report list length %llu is more than the %llu bytes of %llu entries: "
                            "damaged reply, not read\n",
                            __FILE__, __LINE__, static_cast<unsigned long long>(listed),
                            static_cast<unsigned long long>(kMaxCISSReportListLength),
                            static_cast<unsigned long long>(kMaxCISSReportEntries));
                return nullptr;
            }
            size = static_cast<VK_DWORD>(needed);
            buffer = static_cast<VK_BYTE*>(VK_malloc(size));
            if (buffer == nullptr) {
                return nullptr;
            }
            ByteSpan(request->cdb, request->cdb_size).put_be32(kReportAllocationLengthOffset, size);
            std::memset(buffer, 0, size);
            request->io_buffer = buffer;
            request->io_buffer_size = size;
            status = PN_ExecuteSCSICommand(controller, request);
        }
    }
    if (status != eCOMMAND_STATUS_OK) {
        VK_free(buffer);
        request->io_buffer = nullptr;
        return nullptr;
    }
    // The second reply may announce more than was asked for: keep every reader inside the buffer.
    const VK_DWORD length = CISSReportListLength(buffer, size);
    const VK_DWORD announced = *ByteView(buffer, size).be32(0);
    if (length != announced) {
        PN_DebugLog(1, 0, "%s:%d: Report list length %u exceeds the %u bytes read; using %u\n", __FILE__,
                    __LINE__, announced, size, length);
        ByteSpan(buffer, size).put_be32(0, length);
    }
    return buffer;
}

// A report read with the CDB template, owned with the number of bytes read into it.
inline TrackedBuffer ReadCISSReport(DeviceDescriptor controller, const VK_BYTE (&cdb_template)[kReportCDBSize],
                                    VK_DWORD first_allocation, VK_DWORD timeout_sec) {
    VK_BYTE cdb[kReportCDBSize];
    std::memcpy(cdb, cdb_template, sizeof(cdb));
    SCSIRequest request;
    std::memset(&request, 0, sizeof(request));
    request.transfer_type = eDATA_TRANSFER_IN;
    request.timeout_sec = timeout_sec;
    request.cdb = cdb;
    request.cdb_size = kReportCDBSize;
    request.io_buffer_size = first_allocation;
    VK_BYTE* buffer = ReadCISSReportInto(controller, &request, kCISSReportHeaderSize);
    return TrackedBuffer(buffer, request.io_buffer_size);
}

// CISS_Report_LogicalEx with the size of the buffer it returns.
inline TrackedBuffer ReadLogicalReport(DeviceDescriptor controller) {
    static constexpr VK_BYTE kCDB[kReportCDBSize] = {0xC2, 0x01, 0, 0, 0, 0, 0, 0, 0x02, 0x00, 0, 0};
    // Time limit 0: the CISS transport applies its own.
    return ReadCISSReport(controller, kCDB, kLogicalReportFirstAllocation, 0);
}

} // namespace pavlin

#endif
