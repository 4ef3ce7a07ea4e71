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

#endif
