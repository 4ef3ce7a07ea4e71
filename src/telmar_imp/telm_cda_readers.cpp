// Replies whose length the controller states in the reply: read at a default size, then once more at
// the stated length. Each is handed to the caller as a new tracked buffer (freed with VK_free).
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ppavl_reportluns.h"
#include "ptelm_cda.h"
#include "telm_cda_internal.h"

using pavlin::ByteView;
using pavlin::TrackedBuffer;

namespace {

constexpr VK_BYTE kTemperatureSensorsOnly = 1;
constexpr VK_BYTE kAllSensors = 0;

enum class ReadOutcome { kRead, kSizeRefused, kNoMemory, kFailed };

struct Reply {
    TrackedBuffer buffer; // empty unless outcome is kRead
    ReadOutcome outcome;
};

// A zeroed reply of `size` bytes read with one BMIC command. A size the CDB cannot announce is
// logged and refused before anything is allocated.
Reply ReadReply(_CDA* c, VK_BYTE opcode, VK_DWORD detail, VK_WORD lun, VK_QWORD size) {
    if (size == 0 || size > telmar::kMaxBMICTransferLength) {
        PN_DebugLog(1, 0, "%s:%d: Reply of %llu bytes for BMIC 0x%02X cannot be requested\n", __FILE__,
                    __LINE__, static_cast<unsigned long long>(size), opcode);
        return {TrackedBuffer(), ReadOutcome::kSizeRefused};
    }
    TrackedBuffer buffer = PN_TRACKED_ZEROED(static_cast<size_t>(size));
    if (!buffer) {
        return {TrackedBuffer(), ReadOutcome::kNoMemory};
    }
    if (!telmar::ReadInto(c, opcode, detail, lun, buffer.get(), buffer.size())) {
        return {TrackedBuffer(), ReadOutcome::kFailed};
    }
    return {std::move(buffer), ReadOutcome::kRead};
}

ByteView View(const TrackedBuffer& buffer) {
    return ByteView(buffer.get(), buffer.size());
}

// The 32-bit total length at `offset` of a reply; 0 when the reply is too short to hold it.
VK_DWORD TotalLength(const TrackedBuffer& reply, size_t offset) {
    return View(reply).le32(offset).value_or(0);
}

// A reply that reports more than the buffer it came in holds has its total trimmed to that buffer, so
// no reader of the reply's own length walks past it.
void BoundTotalLength(TrackedBuffer& reply, size_t offset, const char* what) {
    const VK_DWORD total = TotalLength(reply, offset);
    if (total <= reply.size()) {
        return;
    }
    PN_DebugLog(1, 0, "%s:%d: %s reports %u bytes, only %zu were read\n", __FILE__, __LINE__, what, total,
                reply.size());
    pavlin::ByteSpan(reply.get(), reply.size()).put_le32(offset, static_cast<VK_DWORD>(reply.size()));
}

} // namespace

// ---- Decoders -------------------------------------------------------------------------------------

void telmar::DecodeEraseStates(ByteView reply, VK_WORD* states, size_t count) {
    std::fill_n(states, count, VK_WORD{0});
    const auto total = reply.le32(offsetof(ERASE_STATE, dwTotalStructureLength));
    const auto start = reply.le32(offsetof(ERASE_STATE, wOffsetToPhysicalDriveEraseState));
    if (!total || !start) {
        return;
    }
    // Only bytes that were read: the reply's own total may claim more.
    const ByteView words = reply.first(*total).from(*start);
    for (size_t i = 0; i < count; ++i) {
        const auto word = words.le16(i * sizeof(VK_WORD));
        if (!word) {
            break;
        }
        states[i] = *word;
    }
}

bool telmar::DecodeRemoteVolumes(ByteView report, RemoteVolumeRecord* records, size_t capacity,
                                 VK_WORD* found) {
    *found = 0;
    const auto list_length = report.be32(0);
    if (!list_length) {
        return false;
    }
    const VK_DWORD entries = *list_length / kCISSReportEntrySize;
    if (entries > kMaxReportLogicalLunsEntries) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'num_ld_entries <= (64 + ((513 - 1) * 16))' failed: Too many entries in CISS "
            "REPORT LOG\n",
            "VK_RequestRemoteVolumeRecords", __LINE__);
        return false;
    }
    constexpr size_t kRemoteFlag = offsetof(REPORT_LOGICAL_LUNS_EX_ENTRY, bDeviceAddress) + 4;
    constexpr size_t kUniqueID = offsetof(REPORT_LOGICAL_LUNS_EX_ENTRY, bDeviceUniqueID);
    for (VK_DWORD i = 0; i < entries && *found < capacity; ++i) {
        const auto entry = report.sub(kCISSReportHeaderSize + static_cast<size_t>(i) * kCISSReportEntrySize,
                                      kCISSReportEntrySize);
        if (!entry) {
            break; // the list says more than the report holds
        }
        if (entry->u8(kRemoteFlag) == 1) {
            entry->copy_to(kUniqueID, records[*found].device_unique_id,
                           sizeof(records[*found].device_unique_id));
            ++*found;
        }
    }
    return true;
}

// ---- Readers --------------------------------------------------------------------------------------

SURFACE_STATUS* __VK_RequestCompleteSurfaceStatusBufferWithSize(PCDA cda, VK_DWORD buffer_size) {
    if (cda == nullptr || buffer_size < sizeof(SURFACE_STATUS)) {
        return nullptr;
    }
    Reply reply = ReadReply(_VK_CDA(cda), BMIC_SENSE_SURFACE_STATUS, 0, 0, buffer_size);
    if (reply.outcome == ReadOutcome::kNoMemory) {
        PN_DebugLog(1, 0, "%s:%d: Failed to allocate buffer of %u bytes for BMIC_SENSE_SURFACE_STATUS\n",
                    __FILE__, __LINE__, buffer_size);
    }
    return reinterpret_cast<SURFACE_STATUS*>(reply.buffer.release());
}

SURFACE_STATUS* VK_RequestCompleteSurfaceStatusBuffer(PCDA cda) {
    constexpr size_t kTotal = offsetof(SURFACE_STATUS, dwTotalStructureLength);
    TrackedBuffer status(reinterpret_cast<VK_BYTE*>(
                             __VK_RequestCompleteSurfaceStatusBufferWithSize(cda, kSurfaceStatusDefaultSize)),
                         kSurfaceStatusDefaultSize);
    const VK_DWORD total = TotalLength(status, kTotal);
    if (!status || total <= kSurfaceStatusDefaultSize) {
        return reinterpret_cast<SURFACE_STATUS*>(status.release());
    }
    PN_DebugLog(3, 0,
                "%s:%d: SURFACE_STATUS total structure length (%u bytes) is more than initial buffer size "
                "(%u bytes)\n",
                __FILE__, __LINE__, total, kSurfaceStatusDefaultSize);
    status.reset();
    status = TrackedBuffer(
        reinterpret_cast<VK_BYTE*>(__VK_RequestCompleteSurfaceStatusBufferWithSize(cda, total)), total);
    if (status) {
        BoundTotalLength(status, kTotal, "SURFACE_STATUS");
    }
    return reinterpret_cast<SURFACE_STATUS*>(status.release());
}

TrackedBuffer telmar::ReadEraseStatus(PCDA cda, VK_WORD pd_number) {
    // The assertions speak for the public reader, whichever caller got here.
    static constexpr const char* kEraseStatusReader = "VK_GetEraseStatusBuffer";
    constexpr size_t kTotal = offsetof(ERASE_STATE, dwTotalStructureLength);
    if (cda == nullptr) {
        return TrackedBuffer();
    }
    _CDA* c = _VK_CDA(cda);
    const VK_QWORD drives = (pd_number == kAllPhysicalDrives) ? kMaxPhysicalDrivesSupported - 1u : pd_number;
    const VK_QWORD default_size = kEraseStateHeaderSize + 2 * (drives + 1);
    auto read = [c](VK_QWORD size) {
        Reply reply = ReadReply(c, BMIC_SENSE_ERASE_STATUS, 0, 0, size);
        if (reply.outcome == ReadOutcome::kNoMemory) {
            PN_DebugLog(1, 0, "%s:%d: Failed to allocate ERASE STATE buffer\n", __FILE__, __LINE__);
        }
        return std::move(reply.buffer);
    };
    TrackedBuffer reply = read(default_size);
    if (!reply) {
        return reply;
    }
    const ByteView view = View(reply);
    if (view.le16(offsetof(ERASE_STATE, wMaximumPhysicalDevicesSupported)).value_or(0) >
        kMaxPhysicalDrivesSupported) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->wMaximumPhysicalDevicesSupported <= "
            "kMaxPhysicalDrivesSupported' failed: Erase status buffer supports more pd entries than we "
            "support\n",
            kEraseStatusReader, __LINE__);
    }
    if (view.le16(offsetof(ERASE_STATE, wMaximumLogicalDevicesSupported)).value_or(0) >
        kMaxLogicalDrivesSupported) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->wMaximumLogicalDevicesSupported <= "
            "kMaxLogicalDrivesSupported' failed: Erase status buffer supports more ld entries than we "
            "support\n",
            kEraseStatusReader, __LINE__);
    }
    const VK_DWORD total = TotalLength(reply, kTotal);
    if (total == 0) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'erase_status_buffer->dwTotalStructureLength > 0' failed: Failed to get buffer "
            "size for ERASE_STATE\n",
            kEraseStatusReader, __LINE__);
        return TrackedBuffer();
    }
    if (total > default_size) {
        reply.reset();
        reply = read(total);
        if (reply) {
            BoundTotalLength(reply, kTotal, "ERASE_STATE");
        }
    }
    return reply;
}

ERASE_STATE* VK_GetEraseStatusBuffer(PCDA cda, VK_WORD pd_number) {
    return reinterpret_cast<ERASE_STATE*>(telmar::ReadEraseStatus(cda, pd_number).release());
}

VK_BYTE* _VK_GetSenseSensorInfoBuffer(PCDA cda, VK_BYTE subcommand) {
    if (cda == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    const VK_WORD lun = static_cast<VK_WORD>((subcommand & 0x0F) << 8);
    constexpr size_t kCount = offsetof(SENSE_SENSORS_INFO_FIXED, number_of_sensors);
    VK_QWORD total_buffer_size = sizeof(SENSE_SENSORS_INFO_FIXED) + kDefaultSensorCount * sizeof(SENSOR_INFO);
    Reply reply = ReadReply(c, BMIC_SENSE_SENSORS, 0, lun, total_buffer_size);
    if (reply.outcome == ReadOutcome::kNoMemory) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'return_buffer != NULL' failed: Failed to allocate SENSE_SENSORS_INFO_FIXED "
            "buffer\n",
            __func__, __LINE__);
        return nullptr;
    }
    if (reply.outcome != ReadOutcome::kRead) {
        if (subcommand != 0) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion '(success || (subcommand == 0))' failed: Failed to get sensor "
                        "status buffer\n",
                        __func__, __LINE__);
        }
        return nullptr;
    }
    auto sensor_count = [&] { return TotalLength(reply.buffer, kCount); };
    if (sensor_count() > kDefaultSensorCount) {
        PN_DebugLog(2, 0, "%s:%d: Detected more than %u sensors, increase default sensors count\n", __FILE__,
                    __LINE__, kDefaultSensorCount);
        total_buffer_size =
            sizeof(SENSE_SENSORS_INFO_FIXED) + static_cast<VK_QWORD>(sensor_count()) * sizeof(SENSOR_INFO);
        reply.buffer.reset();
        reply = ReadReply(c, BMIC_SENSE_SENSORS, 0, lun, total_buffer_size);
        if (reply.outcome == ReadOutcome::kNoMemory) {
            PN_DebugLog(
                1, 0, "%s:%d: Assertion 'return_buffer != ((void *)0)' failed: Failed to realloc SenseInfo\n",
                __func__, __LINE__);
            return nullptr;
        }
        if (reply.outcome != ReadOutcome::kRead) {
            // A size the CDB cannot state was logged as such; only a failed read is this assertion.
            if (reply.outcome == ReadOutcome::kFailed) {
                PN_DebugLog(
                    1, 0,
                    "%s:%d: Assertion 'success' failed: Failed to get sensor status buffer (on resized "
                    "attempt)\n",
                    __func__, __LINE__);
            }
            return nullptr;
        }
        if (sensor_count() != (total_buffer_size - sizeof(SENSE_SENSORS_INFO_FIXED)) / sizeof(SENSOR_INFO)) {
            PN_DebugLog(
                1, 0,
                "%s:%d: Assertion 'return_buffer->number_of_sensors == "
                "((total_buffer_size-sizeof(SENSE_SENSORS_INFO_FIXED))/sizeof(SENSOR_INFO))' failed: Failed "
                "to get sensor data for all sensors on last attempt\n",
                __func__, __LINE__);
        }
    }
    if (static_cast<VK_QWORD>(sensor_count()) * sizeof(SENSOR_INFO) + sizeof(SENSE_SENSORS_INFO_FIXED) >
        total_buffer_size) {
        PN_DebugLog(
            1, 0,
            "%s:%d: Assertion 'return_buffer->number_of_sensors * sizeof(SENSOR_INFO) + "
            "sizeof(SENSE_SENSORS_INFO_FIXED) <= total_buffer_size' failed: Sense sensor info overflow\n",
            __func__, __LINE__);
        return nullptr;
    }
    return reply.buffer.release();
}

VK_BYTE* VK_GetSenseSensorInfoBuffer(PCDA cda) {
    return _VK_GetSenseSensorInfoBuffer(cda, kAllSensors);
}

VK_BYTE* VK_GetSenseTemperatureSensorInfoBuffer(PCDA cda) {
    return _VK_GetSenseSensorInfoBuffer(cda, kTemperatureSensorsOnly);
}

PMIRROR_DRIVE_PAIR_INFO VK_GetMirrorPairInfo(PCDA cda, VK_WORD ld_number) {
    if (ld_number >= kMaxLogicalDrivesSupported) {
        PN_DebugLog(1, 0, "%s:%d: error: Request for ld out of range", __FILE__, __LINE__);
        return nullptr;
    }
    if (cda == nullptr) {
        return nullptr;
    }
    _CDA* c = _VK_CDA(cda);
    constexpr size_t kTotal = offsetof(MIRROR_DRIVE_PAIR_INFO, dwTotalStructureLength);
    const char* const function = __func__;
    // Both reads log a failed allocation alike and a failed read each in its own words.
    auto read = [&](VK_QWORD size, const char* read_failure) {
        Reply reply = ReadReply(c, BMIC_SENSE_MIRROR_PAIR_INFO, 0, ld_number, size);
        if (reply.outcome == ReadOutcome::kNoMemory) {
            PN_DebugLog(1, 0,
                        "%s:%d: Assertion 'drive_pair_info != NULL' failed: Failed to allocate "
                        "MIRROR_DRIVE_PAIR_INFO buffer\n",
                        function, __LINE__);
        } else if (reply.outcome != ReadOutcome::kRead) {
            PN_DebugLog(1, 0, read_failure, function, __LINE__);
        }
        return std::move(reply.buffer);
    };
    TrackedBuffer info = read(kMirrorDrivePairInfoDefaultSize,
                              "%s:%d: Assertion 'success' failed: Failed to get mirror pair information\n");
    const VK_DWORD total = TotalLength(info, kTotal);
    if (!info || total <= kMirrorDrivePairInfoDefaultSize) {
        return reinterpret_cast<PMIRROR_DRIVE_PAIR_INFO>(info.release());
    }
    PN_DebugLog(
        3, 0,
        "%s:%d: Mirror pair information uses extended map, attempting to retrieve entire information map\n",
        __FILE__, __LINE__);
    info.reset();
    info = read(total, "%s:%d: Assertion 'success' failed: Get mirror pair info failed\n");
    if (info) {
        BoundTotalLength(info, kTotal, "MIRROR_DRIVE_PAIR_INFO");
    }
    return reinterpret_cast<PMIRROR_DRIVE_PAIR_INFO>(info.release());
}
