// Fuzz target: the surface-status (0x70), MNP (0x72), out-of-band (0x80 sub-command 6) and
// logical-drive status (0x12) replies through the settings and operation-progress getters. The first
// bytes choose whether logical drive 0 exists with parity, its unit status, blocks and fault
// tolerance, a logical-drive number and the out-of-band sub-commands; the rest is the reply. It goes
// whole, at its own size, to the decoders the live getters use, and into the cached surface, MNP and
// OOB copies (zero past the input) that the cached getters read. A read past the reply or a
// block-operation percentage above 101 aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "pavl_bytes.h"
#include "ptelm_cda.h"
#include "ptelm_features.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_prop_settings.h"

namespace {

namespace set = telmar::settings;

constexpr size_t kHeader = 8;

void Copy(void* copy, size_t copy_size, pavlin::ByteView reply) {
    std::memset(copy, 0, copy_size);
    reply.copy_to(0, copy, reply.size() < copy_size ? reply.size() : copy_size);
}

volatile VK_QWORD g_sink;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const uint8_t options = data[0];
    const VK_BYTE unit = data[1];
    const VK_WORD ld_number = data[2];
    const VK_WORD tolerance = data[3];
    const VK_DWORD blocks_left = static_cast<VK_DWORD>(data[4] | data[5] << 8);
    const VK_QWORD blocks = static_cast<VK_QWORD>(data[6]) << (data[7] & 0x3F);
    const pavlin::ByteView reply(data + kHeader, size - kHeader);

    // Decoders over the reply at its own size, as the live getters hand them.
    VK_QWORD sum = 0;
    for (VK_WORD ld : {VK_WORD{0}, VK_WORD{63}, VK_WORD{64}, ld_number}) {
        FUZZ_CHECK(set::CachedParityInitialization(reply, ld) <= 0xFF);
        sum += set::LiveParityInitialization(reply, ld) + set::SurfaceInitializationPercent(reply, ld) +
               set::SurfaceAnalysisWord(reply, ld).value_or(0);
    }
    VK_QWORD total = blocks, left = blocks_left;
    set::RebuildOntoReplacements(reply, tolerance, total, left);
    FUZZ_CHECK(set::BlockOperationProgress(total, left) <= 101);
    sum += set::PSSCount(reply) + set::MNPDelay(reply);

    // The cached getters over the same bytes.
    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    c->identify_controller_buffer.wMaximumLogicalDevicesSupported = 64;
    c->identify_controller_buffer.dwEvenMoreControllerFlags = 0x80000000;
    c->sense_feature.page_oob_command.bSubcommandsSupported = static_cast<VK_BYTE>(options & 0x13);
    c->sense_feature.page_oob_command.bInterfacesEnabled = static_cast<VK_BYTE>(options >> 7);
    Copy(&c->surface_status_buffer, sizeof(c->surface_status_buffer), reply);
    Copy(&c->sense_mnp_status_buffer, sizeof(c->sense_mnp_status_buffer), reply);
    Copy(&c->oob_message_interface_buffer, sizeof(c->oob_message_interface_buffer), reply);
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidSurfaceStatus |
                                 kCDAValidMNPStatus | kCDAValidOOBMessageInterface;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    const bool exists = (options & 0x20) != 0;
    c->data_ld_count = exists ? 1 : 0;
    LogicalDriveRecord& r = _VK_LDRecordForWrite(c, 0);
    if (exists) {
        r.flags = kLDRecordExists | kLDRecordRoleData | kLDRecordConfigValid | kLDRecordStatusValid;
        r.sense_config_buffer.wFaultToleranceMode = (options & 0x40) ? 3 : 0;
        r.sense_config_buffer.bDataDistributionMode = 2;
        r.sense_config_buffer.wDrivesConsumedForFaultTolerance = tolerance;
        r.sense_logical_drive_status_buffer.bUnitStatus = unit;
        r.sense_logical_drive_status_buffer.dwBlocksLeftToRecover = blocks_left;
        r.physical_drive_blocks_per_drive = blocks;
        r.drive_size_blocks = blocks * 3;
    }
    for (VK_WORD ld : {VK_WORD{0}, ld_number}) {
        FUZZ_CHECK(VK_GetLogicalDriveRebuildProgress(cda, ld) <= 101);
        FUZZ_CHECK(VK_GetLogicalDriveTransformationProgress(cda, ld) <= 101);
        FUZZ_CHECK(VK_GetLogicalDriveRekeyProgress(cda, ld) <= 101);
        sum += VK_GetLogicalDriveParityInitializationProgress(cda, ld) + VK_GetLogicalDriveBlocksLeftToRecover(cda, ld);
    }
    sum += VK_GetControllerSSAPriority(cda) + VK_GetControllerSSARatePercent(cda) + VK_GetControllerPSSCount(cda) +
           VK_GetControllerMNPDelay(cda) + VK_GetControllerOOBInterfaces(cda);
    FUZZ_CHECK(VK_GetControllerMNPDelay(cda) <= 1440 || VK_GetControllerMNPDelay(cda) == 0xFFFF);
    OOBConfiguration active{}, pending{};
    const VK_BYTE a = VK_GetControllerActiveOOBConfiguration(cda, &active);
    const VK_BYTE p = VK_GetControllerPendingOOBConfiguration(cda, &pending);
    FUZZ_CHECK(a >= kGetControllerOOBConfigurationSuccess && a <= kGetControllerOOBConfigurationFailed);
    FUZZ_CHECK(p >= kGetControllerOOBConfigurationSuccess && p <= kGetControllerOOBConfigurationFailed);
    if (p == kGetControllerOOBConfigurationSuccess && reply.size() >= 8) {
        FUZZ_CHECK(std::memcmp(&pending, reply.data() + 4, sizeof(pending)) == 0);
    }
    g_sink = sum + active.slave_address + pending.slave_address;
    return 0;
}
