// Decoders of the controller's operating settings and of logical-drive operation progress. Each
// reads only through the byte view, so tests and fuzz targets can hand them any bytes; the getters
// pass their cached copies or fresh replies.
#ifndef TELM_PROP_SETTINGS_H
#define TELM_PROP_SETTINGS_H

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

#include "pavl_bytes.h"
#include "ppavl_types.h"
#include "ptelm_properties.h"
#include "telm_bmic.h"

namespace telmar::settings {

// CONTROLLER_PARAMETERS offsets the decoders and the boot-volume getters share.
namespace cp {
inline constexpr size_t kPrimaryBootLun = offsetof(CONTROLLER_PARAMETERS, primary_boot_lun);
inline constexpr size_t kSecondaryBootLun = offsetof(CONTROLLER_PARAMETERS, secondary_boot_lun);
inline constexpr size_t kTotalLength = offsetof(CONTROLLER_PARAMETERS, dwTotalStructureLength);
inline constexpr size_t kRTCCentury = offsetof(CONTROLLER_PARAMETERS, dwRTCCentury);
inline constexpr size_t kBootLunWidth = 16;
inline constexpr VK_DWORD kClockMinimumLength = 256;
} // namespace cp

// ---- CONTROLLER_PARAMETERS ----

VK_BYTE ExpandPriority(VK_BYTE expand_priority);
VK_BYTE RebuildPriority(VK_BYTE rebuild_priority, bool rapid_rebuild);
VK_BYTE RebuildRatePercent(VK_BYTE rebuild_priority);
VK_BYTE TransformationRatePercent(VK_BYTE expand_priority);
VK_BYTE QueueDepth(VK_WORD queue_depth);
VK_BYTE FLS(VK_WORD elevator_latency_setting);
VK_DWORD WCBT(VK_DWORD bypass_limit);
// The sanitize policy byte read as pending << 4 | current, each 0, 1, 2 or unknown (3).
VK_BYTE SanitizeLock(VK_BYTE policy);
// pbPCIEOrderingMode {current, pending} as pending << 4 | current.
VK_BYTE PCIeOrdering(VK_BYTE current, VK_BYTE pending);
// Codes 1-6 as 128 to 4096 bytes; 0 for any other code.
VK_DWORD PCIeSize(VK_BYTE code);
// The MRRS override: 0 keeps the active size, 1-5 are 128 to 2048 bytes.
VK_DWORD PendingReadRequestSize(VK_BYTE override_setting, VK_BYTE active_code);
VK_BYTE UEFIHealthReporting(VK_BYTE mode);
// The 2-bit policy of `usage` (0-2) in a policy byte.
VK_BYTE DriveWriteCachePolicyBits(VK_BYTE policy, VK_BYTE usage);
// The clock fields of a CONTROLLER_PARAMETERS reply as a calendar time; nothing when the reply
// holds fewer than 256 bytes of structure.
std::optional<struct tm> ControllerClock(pavlin::ByteView parameters);
// A 16-byte unique id as 32 upper-case hex digits into `out` (at least 33 bytes).
void BootLunText(pavlin::ByteView parameters, std::size_t offset, char* out, std::size_t out_size);
// 1 primary, 2 secondary, 3 both when the texts equal the volume's; empty texts match nothing.
VK_BYTE BootPriority(const char* volume_id, const char* primary_id, const char* secondary_id);

// ---- Cache, surface scan, MNP ----

// read x 100 / total (64-bit), raised to a multiple of 5; 0xFF for a zero total.
VK_BYTE ReadRatio(VK_QWORD read_size, VK_QWORD total_size);
// The read percent of a cache configuration, before the NBWC minimum; 0xFF when the sizes do not
// add up, the total is 0 or the shift exceeds 31.
VK_BYTE CurrentReadPercentRatio(pavlin::ByteView cache_status);
// The previous read percent from the overridden sizes when bit 31 of dwCacheFlags is set;
// nothing when the bit is clear (the caller takes the current percent); 0xFF when unusable.
std::optional<VK_BYTE> PreviousReadPercentRatio(pavlin::ByteView cache_status);
// Applies the NBWC minimum to a ratio.
VK_BYTE ApplyReadMinimum(VK_BYTE ratio, bool nbwc_disabled, VK_WORD limits);
// The read-cache limits word for a maximum write percent (255: unknown).
VK_WORD ReadCacheLimits(VK_BYTE max_write_percent);
VK_BYTE SSARatePercent(VK_WORD priority, VK_DWORD ld_count);
VK_BYTE PSSCount(pavlin::ByteView surface_status);
VK_WORD MNPDelay(pavlin::ByteView mnp_status);

// ---- Logical-drive operation progress ----

inline constexpr VK_BYTE kInvalidProgress = kInvalidOperationProgressPercent;
inline constexpr VK_BYTE kFailedProgress = kFailedOperationProgressPercent;

// (total - min(left, total)) x 100 / total; 101 for a total of 0.
VK_BYTE BlockOperationProgress(VK_QWORD total, VK_QWORD left);
VK_QWORD BlocksLeft(VK_DWORD blocks_left, VK_QWORD big_blocks_left);
// 32-bit field, replaced by its 64-bit partner when it reads 0xFFFFFFFF.
VK_QWORD Wide(VK_DWORD narrow, VK_QWORD wide);

// The logical drive's 16-bit word of the surface-analysis table, when the table lies whole inside
// the reply.
std::optional<VK_WORD> SurfaceAnalysisWord(pavlin::ByteView surface_status, VK_WORD ld_number);
// The percent byte of a surface status for a logical drive whose scan is in progress.
VK_BYTE SurfaceInitializationPercent(pavlin::ByteView surface_status, VK_WORD ld_number);
// The two decodes of a parity-initialization word (they differ on purpose).
VK_BYTE CachedParityInitialization(pavlin::ByteView surface_status, VK_WORD ld_number);
VK_BYTE LiveParityInitialization(pavlin::ByteView surface_status, VK_WORD ld_number);

// A rebuild onto several replacement drives: the drives not yet started count as wholly
// outstanding. `status` is the whole status reply, `drives_for_fault_tolerance` T.
void RebuildOntoReplacements(pavlin::ByteView status, VK_WORD drives_for_fault_tolerance, VK_QWORD& total,
                             VK_QWORD& left);

} // namespace telmar::settings

#endif
