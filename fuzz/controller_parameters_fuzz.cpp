// Fuzz target: every getter of the controller's operating parameters over an arbitrary
// CONTROLLER_PARAMETERS (0x64) reply. The first bytes choose whether logical drives exist, the drive
// type, usage, precedence, volume type and a text size; then come the reply (344 bytes), the feature
// pages and IDENTIFY CONTROLLER, each zero where the input ends. Every copy is marked cached, so no
// command is sent. A boot id that is not terminated or a write past a caller's buffer aborts; so does
// a code outside its setting's range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"

namespace {

constexpr size_t kHeader = 6;

bool Policy(VK_BYTE v) {
    return v <= kControllerDriveWriteCacheUnchanged || v == kControllerDriveWriteCacheInvalid;
}

volatile VK_QWORD g_sink;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const uint8_t options = data[0];
    const VK_BYTE drive_type = data[1];
    const VK_BYTE usage = data[2];
    const VK_BYTE precedence = data[3];
    const VK_BYTE volume_type = data[4];
    const size_t text_size = data[5];
    FuzzInput in{data + kHeader, size - kHeader};

    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    in.Fill(&c->sense_controller_parameters_buffer, sizeof(c->sense_controller_parameters_buffer));
    in.Fill(&c->sense_feature, sizeof(c->sense_feature));
    in.Fill(&c->identify_controller_buffer, sizeof(c->identify_controller_buffer));
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidControllerParameters |
                                 kCDAValidSubsystemParameters | kCDAValidFeaturePages | kCDAValidRemoteVolumes;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    c->data_ld_count = options & 0x01;

    VK_QWORD sum = 0;
    const VK_BYTE priorities[] = {VK_GetControllerExpandPriority(cda), VK_GetControllerRebuildPriority(cda)};
    for (VK_BYTE p : priorities) {
        FUZZ_CHECK(p <= kControllerRebuildPriorityHigh || p == 0xFF);
    }
    const VK_BYTE rates[] = {VK_GetControllerRebuildRatePercent(cda), VK_GetControllerTransformationRatePercent(cda)};
    for (VK_BYTE r : rates) {
        FUZZ_CHECK(r <= 100 || r == 0xFF);
    }
    const VK_BYTE codes[] = {VK_GetControllerSAM(cda),
                             VK_GetControllerDPO(cda),
                             VK_GetControllerIRP(cda),
                             VK_GetControllerInconsistencyEventNotification(cda),
                             VK_GetControllerElevatorSort(cda)};
    for (VK_BYTE code : codes) {
        FUZZ_CHECK(code <= 1 || code == 0xFF);
    }
    const VK_BYTE depth = VK_GetControllerQueueDepth(cda);
    FUZZ_CHECK(depth <= kControllerQueueDepth32 || depth == 0xFF);
    const VK_BYTE fls = VK_GetControllerFLS(cda);
    FUZZ_CHECK(fls <= kControllerFLSAggressive10 || fls == 0xFF);
    FUZZ_CHECK(VK_GetControllerNotifyOnAnyBroadcast(cda) <= kControllerNotifyOnAnyBroadcastEnabled);
    const VK_BYTE lock = VK_GetControllerSanitizeLock(cda);
    FUZZ_CHECK((lock & 0x0F) <= kControllerSanitizeLockUnknown && (lock >> 4) <= kControllerSanitizeLockUnknown);
    const VK_BYTE ordering = VK_GetControllerPCIeOrdering(cda);
    FUZZ_CHECK((ordering & 0x0F) <= kControllerPCIeOrderingRelaxed && (ordering >> 4) <= kControllerPCIeOrderingRelaxed);
    const VK_DWORD sizes[] = {VK_GetControllerActiveMaxReadRequestSize(cda),
                              VK_GetControllerPendingMaxReadRequestSize(cda), VK_GetControllerMaxPayloadSize(cda)};
    for (VK_DWORD s : sizes) {
        FUZZ_CHECK(s == 0 || (s >= 128 && s <= 4096 && (s & (s - 1)) == 0));
    }
    FUZZ_CHECK(VK_GetControllerPersistentEventLogPolicy(cda) <= kControllerPersistentEventLogPolicyKeepNewest);
    FUZZ_CHECK(VK_GetControllerUEFIDriverHealthReportingStatus(cda) <= kControllerUEFIDriveHealthReportDisabled);
    sum += VK_GetControllerWCBT(cda) + VK_GetControllerOSBootableDriveCount(cda) +
           VK_GetControllerExpanderMaximumAllowableScanDuration(cda) +
           VK_GetControllerExpanderMinimumScanDuration(cda) + static_cast<VK_QWORD>(VK_GetControllerTime(cda));

    FUZZ_CHECK(Policy(VK_GetControllerDriveWriteCachePolicy(cda, drive_type, usage)));
    for (VK_BYTE type = 0; type <= 6; ++type) {
        for (VK_BYTE u = 0; u <= 3; ++u) {
            FUZZ_CHECK(Policy(VK_GetControllerDriveWriteCachePolicy(cda, type, u)));
        }
    }
    FUZZ_CHECK(Policy(VK_GetControllerDriveWriteCache(cda)));

    for (size_t s : {size_t{0}, size_t{1}, size_t{32}, size_t{33}, size_t{40}, text_size}) {
        CheckCallerBuffer(s, true, [&](char* b, size_t n) { VK_GetControllerBootVolumeID(cda, precedence, b, n); });
    }
    sum += VK_GetControllerBootVolumeNumber(cda, precedence, volume_type);
    for (VK_BYTE type = 0; type <= 3; ++type) {
        sum += VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedencePrimary, type) +
               VK_GetControllerBootVolumeNumber(cda, kBootableVolumePrecedenceSecondary, type);
    }
    FUZZ_CHECK(VK_GetLogicalDriveBootPriority(cda, 0) <= kBootableVolumePrecedenceAll);
    FUZZ_CHECK(VK_GetPhysicalDriveBootPriority(cda, 0) <= kBootableVolumePrecedenceAll);
    g_sink = sum;
    return 0;
}
