// Decoders of CONTROLLER_PARAMETERS and the other operating settings (cache configuration, surface
// status, MNP status) and of logical-drive operation progress. Pure functions of the reply's bytes;
// the getters in telm_prop_controller.cpp and telm_prop_logicaldrive.cpp pass cached copies or fresh
// replies.
#include <algorithm>
#include <bit>
#include <cinttypes>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "pavl_bytes.h"
#include "ppavl_debug.h"
#include "ppavl_platform.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "ptelm_utils.h"
#include "telm_private.h"
#include "telm_prop_settings.h"

using pavlin::ByteView;

namespace telmar::settings {

namespace {


static_assert(cp::kPrimaryBootLun == 156 && cp::kSecondaryBootLun == 172 && cp::kTotalLength == 188);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwMoreNVRAMFlags) == 200);
static_assert(offsetof(CONTROLLER_PARAMETERS, elevator_latency_setting) == 204);
static_assert(offsetof(CONTROLLER_PARAMETERS, bNumOSBootableDrives) == 223);
static_assert(offsetof(CONTROLLER_PARAMETERS, dwBigBlockCacheLineBypassLimit) == 224);
static_assert(cp::kRTCCentury == 228 && offsetof(CONTROLLER_PARAMETERS, dwRTCSecond) == 252);
static_assert(offsetof(CONTROLLER_PARAMETERS, bSanitizePolicy) == 279);
static_assert(offsetof(CONTROLLER_PARAMETERS, pbDriveWriteCachePolicy) == 280);
static_assert(offsetof(CONTROLLER_PARAMETERS, wExpanderSpinupMinimumDuration) == 286);
static_assert(offsetof(CONTROLLER_PARAMETERS, wScanDevicesTimeout) == 288);
static_assert(offsetof(CONTROLLER_PARAMETERS, pbPCIEOrderingMode) == 290);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPCIEMaxPayloadSize) == 292);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPCIEMaxReadRequestSize) == 293);
static_assert(offsetof(CONTROLLER_PARAMETERS, bPCIeMRRSOverrideSetting) == 294);
static_assert(offsetof(CONTROLLER_PARAMETERS, PrebootHealthReportingMode) == 295);

VK_BYTE LockState(VK_BYTE nibble) {
    return nibble <= kControllerSanitizeLockAntiFreeze ? nibble : kControllerSanitizeLockUnknown;
}

VK_BYTE OrderingState(VK_BYTE mode) {
    switch (mode) {
        case 0:
            return kControllerPCIeOrderingStrict;
        case 1:
            return kControllerPCIeOrderingRelaxed;
        default:
            return kControllerPCIeOrderingUnknown;
    }
}

std::optional<int> AsInt(VK_QWORD v) {
    if (v > static_cast<VK_QWORD>(INT_MAX)) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

} // namespace

VK_BYTE ExpandPriority(VK_BYTE p) {
    if (p == 0) {
        return kControllerExpandPriorityLow;
    }
    return p < 118 ? kControllerExpandPriorityMedium : kControllerExpandPriorityHigh;
}

VK_BYTE RebuildPriority(VK_BYTE p, bool rapid_rebuild) {
    if (p >= 118) {
        return kControllerRebuildPriorityHigh;
    }
    if (!rapid_rebuild) {
        return p == 0 ? kControllerRebuildPriorityLow : kControllerRebuildPriorityMedium;
    }
    if (p <= 64) {
        return kControllerRebuildPriorityLow;
    }
    return p <= 75 ? kControllerRebuildPriorityMedium : kControllerRebuildPriorityMediumHigh;
}

VK_BYTE RebuildRatePercent(VK_BYTE p) {
    return p < 118 ? static_cast<VK_BYTE>(p * 100u / 118u) : 100;
}

VK_BYTE TransformationRatePercent(VK_BYTE p) {
    return p <= 118 ? static_cast<VK_BYTE>(p * 100u / 118u) : 100;
}

VK_BYTE QueueDepth(VK_WORD depth) {
    switch (depth) {
        case 2:
            return kControllerQueueDepth2;
        case 4:
            return kControllerQueueDepth4;
        case 8:
            return kControllerQueueDepth8;
        case 16:
            return kControllerQueueDepth16;
        case 32:
            return kControllerQueueDepth32;
        default:
            return kControllerQueueDepthAutomatic;
    }
}

VK_BYTE FLS(VK_WORD setting) {
    return (setting >= 1 && setting <= 5) ? static_cast<VK_BYTE>(setting) : kControllerFLSDefault;
}

VK_DWORD WCBT(VK_DWORD limit) {
    return limit == 0 ? 65 : limit;
}

VK_BYTE SanitizeLock(VK_BYTE policy) {
    return static_cast<VK_BYTE>(LockState(policy >> 4) << 4 | LockState(policy & 0x0F));
}

VK_BYTE PCIeOrdering(VK_BYTE current, VK_BYTE pending) {
    return static_cast<VK_BYTE>(OrderingState(pending) << 4 | OrderingState(current));
}

VK_DWORD PCIeSize(VK_BYTE code) {
    return (code >= 1 && code <= 6) ? (64u << code) : 0;
}

VK_DWORD PendingReadRequestSize(VK_BYTE override_setting, VK_BYTE active_code) {
    if (override_setting == 0) {
        return PCIeSize(active_code);
    }
    return override_setting <= 5 ? PCIeSize(override_setting) : 0;
}

VK_BYTE UEFIHealthReporting(VK_BYTE mode) {
    switch (mode) {
        case 0:
            return kControllerUEFIDriveHealthReportAllErrors;
        case 1:
            return kControllerUEFIDriveHealthReportDisabled;
        default:
            return kControllerUEFIDriveHealthReportInvalid;
    }
}

VK_BYTE DriveWriteCachePolicyBits(VK_BYTE policy, VK_BYTE usage) {
    return usage <= 2 ? static_cast<VK_BYTE>((policy >> (2 * usage)) & 0x03) : kControllerDriveWriteCacheInvalid;
}

std::optional<struct tm> ControllerClock(ByteView parameters) {
    const auto total = parameters.le32(cp::kTotalLength);
    if (!total || *total < cp::kClockMinimumLength) {
        return std::nullopt;
    }
    VK_DWORD f[7] = {};
    for (size_t i = 0; i < 7; ++i) {
        if (!parameters.read_le(cp::kRTCCentury + 4 * i, f[i])) {
            return std::nullopt;
        }
    }
    const auto year = AsInt(static_cast<VK_QWORD>(f[0]) * 100 + f[1]);
    const auto month = AsInt(f[2]), day = AsInt(f[3]), hour = AsInt(f[4]), minute = AsInt(f[5]),
               second = AsInt(f[6]);
    if (!year || *year < 1900 || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    struct tm t = {};
    t.tm_year = *year - 1900;
    t.tm_mon = *month - 1;
    t.tm_mday = *day;
    t.tm_hour = *hour;
    t.tm_min = *minute;
    t.tm_sec = *second;
    t.tm_isdst = -1;
    return t;
}

void BootLunText(ByteView parameters, size_t offset, char* out, size_t out_size) {
    VK_BYTE lun[cp::kBootLunWidth] = {};
    if (out == nullptr || out_size <= 2 * sizeof(lun) || !parameters.copy_to(offset, lun, sizeof(lun))) {
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < sizeof(lun); ++i) {
        out[2 * i] = kHex[lun[i] >> 4];
        out[2 * i + 1] = kHex[lun[i] & 0x0F];
    }
    out[2 * sizeof(lun)] = '\0';
}

VK_BYTE BootPriority(const char* volume_id, const char* primary_id, const char* secondary_id) {
    if (volume_id == nullptr) {
        return kBootableVolumePrecedenceNone;
    }
    VK_BYTE priority = kBootableVolumePrecedenceNone;
    if (primary_id != nullptr && primary_id[0] != '\0' && std::strcmp(primary_id, volume_id) == 0) {
        priority |= kBootableVolumePrecedencePrimary;
    }
    if (secondary_id != nullptr && secondary_id[0] != '\0' && std::strcmp(secondary_id, volume_id) == 0) {
        priority |= kBootableVolumePrecedenceSecondary;
    }
    return priority;
}

VK_BYTE ReadRatio(VK_QWORD read_size, VK_QWORD total_size) {
    if (total_size == 0) {
        return kControllerReadCachePercentInvalid;
    }
    // 128 bits: read x 100 must not wrap for any pair of 64-bit sizes.
    __extension__ typedef unsigned __int128 Wide128;
    const Wide128 ratio = static_cast<Wide128>(read_size) * 100 / total_size;
    if (ratio > 100) {
        return kControllerReadCachePercentInvalid;
    }
    return static_cast<VK_BYTE>((ratio + 4) / 5 * 5);
}

namespace {

// Sizes of a cache configuration shifted by its factor; nothing for a factor above 31.
struct ShiftedSizes {
    VK_QWORD read = 0, write = 0, total = 0;
};

std::optional<ShiftedSizes> Shifted(ByteView cache, size_t read_offset, size_t write_offset) {
    const auto shift = cache.u8(offsetof(CACHE_CONFIG_STATUS, bMemorySizeShiftFactor));
    const auto total = cache.le16(offsetof(CACHE_CONFIG_STATUS, wTotalMemorySize));
    const auto read = cache.le16(read_offset);
    const auto write = cache.le16(write_offset);
    if (!shift || !total || !read || !write || *shift > 31) {
        return std::nullopt;
    }
    return ShiftedSizes{static_cast<VK_QWORD>(*read) << *shift, static_cast<VK_QWORD>(*write) << *shift,
                        static_cast<VK_QWORD>(*total) << *shift};
}

VK_BYTE RatioWhenWhole(const std::optional<ShiftedSizes>& s) {
    if (!s || s->total == 0 || s->read + s->write != s->total) {
        return kControllerReadCachePercentInvalid;
    }
    return ReadRatio(s->read, s->total);
}

} // namespace

VK_BYTE CurrentReadPercentRatio(ByteView cache) {
    return RatioWhenWhole(Shifted(cache, offsetof(CACHE_CONFIG_STATUS, read_cache_size),
                                  offsetof(CACHE_CONFIG_STATUS, write_cache_size)));
}

std::optional<VK_BYTE> PreviousReadPercentRatio(ByteView cache) {
    const auto flags = cache.le32(offsetof(CACHE_CONFIG_STATUS, dwCacheFlags));
    if (!flags) {
        return kControllerPreviousReadCachePercentInvalid;
    }
    if (!(*flags & 0x80000000u)) {
        return std::nullopt;
    }
    return RatioWhenWhole(Shifted(cache, offsetof(CACHE_CONFIG_STATUS, wOverriddenPostedReadMemoryMiB),
                                  offsetof(CACHE_CONFIG_STATUS, wOverriddenPostedWriteMemoryMiB)));
}

VK_BYTE ApplyReadMinimum(VK_BYTE ratio, bool nbwc_disabled, VK_WORD limits) {
    const VK_BYTE minimum = GET_CONTROLLER_NON_BATTERY_BACKED_MIN_READ_CACHE_PERCENT(limits);
    if (ratio != kControllerReadCachePercentInvalid && nbwc_disabled &&
        minimum != kGetControllerNonBatteryBackedReadCachePercentLimitsInvalid && ratio < minimum) {
        return minimum;
    }
    return ratio;
}

VK_WORD ReadCacheLimits(VK_BYTE max_write_percent) {
    if (max_write_percent > 100) {
        return 0x6565;
    }
    const unsigned minimum = (100u - max_write_percent + 4) / 5 * 5;
    return static_cast<VK_WORD>(100u << 8 | minimum);
}

VK_BYTE SSARatePercent(VK_WORD priority, VK_DWORD ld_count) {
    if (priority == 0xFFFF) {
        return ld_count != 0 ? 1 : kControllerSSARatePercentInvalid;
    }
    if (priority > 300) {
        return 1;
    }
    if (priority <= 1) {
        return priority == 0 ? 0 : 100;
    }
    return static_cast<VK_BYTE>((14849u - 49u * priority) / 149u);
}

VK_BYTE PSSCount(ByteView surface) {
    const auto current = surface.u8(offsetof(SURFACE_STATUS, bCurrentParallelScanLimit));
    const auto maximum = surface.u8(offsetof(SURFACE_STATUS, bMaxParallelScanLimit));
    if (!current || !maximum || *current > *maximum) {
        return kControllerPSSCountInvalid;
    }
    return *current;
}

VK_WORD MNPDelay(ByteView mnp) {
    const auto delay = mnp.le16(offsetof(MNP_STATUS, wMNPDelay));
    return (delay && *delay <= 1440) ? *delay : kControllerMNPDelayInvalid;
}

} // namespace telmar::settings
