// BACKUP_POWER_SOURCE_STATUS (0xBF) into the caller's record.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_check.h"
#include "pavl_bytes.h"
#include "ptelm_status.h"
#include "telm_status_controller.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VK_BACKUP_POWER_SOURCE_INFO info;
    std::memset(&info, 0xA5, sizeof(info));
    const bool filled = telmar::DecodeBackupPowerSourceInfo(pavlin::ByteView(data, size), &info);
    // Filled exactly when the reply reaches the relative charge; otherwise the record is untouched.
    FUZZ_CHECK(filled == (size >= 18));
    if (filled) {
        FUZZ_CHECK(info.status == static_cast<VK_UINT16>(data[0] | data[1] << 8));
        FUZZ_CHECK(info.charge_state == static_cast<VK_UINT16>(data[16] | data[17] << 8));
    } else {
        VK_BACKUP_POWER_SOURCE_INFO untouched;
        std::memset(&untouched, 0xA5, sizeof(untouched));
        FUZZ_CHECK(std::memcmp(&info, &untouched, sizeof(info)) == 0);
    }
    return 0;
}
