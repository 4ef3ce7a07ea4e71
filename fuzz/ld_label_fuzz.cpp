// The label rule of staged logical drives over arbitrary bytes and sizes. The input gives a size
// (one byte, up to 80), a byte of drive flags (bit 0 array set, bit 1 LU cache, bit 2 split-mirror
// backup, bit 3 NULL label), then the label bytes. A label is taken only when every byte before its
// first zero is printable, only zeros follow, it is not empty and fits 64 bytes; what is taken reads
// back terminated, and a refused label leaves the staged one as it was.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_staged.h"
#include "ptelm_cda.h"
#include "ptelm_configuration.h"
#include "telm_config_internal.h"
#include "telm_private.h"

namespace {

bool RuleHolds(const std::vector<char>& label) {
    const auto zero = std::find(label.begin(), label.end(), '\0');
    if (zero == label.begin()) {
        return false;
    }
    const bool printable = std::all_of(label.begin(), zero, [](char ch) {
        const auto b = static_cast<unsigned char>(ch);
        return b >= 32 && b <= 126;
    });
    return printable && std::all_of(zero, label.end(), [](char ch) { return ch == '\0'; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QuietFuzzLog quiet;
    if (size < 2) {
        return 0;
    }
    const size_t label_size = std::min<size_t>(data[0] % 81, size - 2);
    const VK_BYTE choices = data[1];
    const std::vector<char> label(data + 2, data + 2 + label_size);

    if (label_size > 0 && label_size <= 64) {
        const VK_BYTE text = telmar::ldprops::CheckLabelText(label.data(), label.size());
        FUZZ_CHECK((text == 0) == RuleHolds(label));
        FUZZ_CHECK(text == 0 || text == kCanSetEditableLogicalDriveLabelInvalidCharacter ||
                   text == kCanSetEditableLogicalDriveLabelInvalidLabel);
    }

    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    HeapStagedConfiguration config(c);
    EDITABLE_LOGICAL_DRIVE& ld = config.LogicalDrive(0);
    ld.flags = kEditableLDNewDrive | kEditableLDLabelUnchanged;
    ld.flags |= (choices & 0x1) ? kEditableLDArraySet : 0;
    ld.flags |= (choices & 0x2) ? kEditableLDLUCache : 0;
    ld.flags |= (choices & 0x4) ? kEditableLDSplitMirrorBackup : 0;
    std::memcpy(ld.logical_drive_label, "Before", 6);
    config->editable_ld_count = 1;

    const char* given = (choices & 0x8) ? nullptr : label.data();
    const VK_BYTE can = VK_CanSetEditableLogicalDriveLabel(cda, 0, given, label_size);
    const bool expected = given != nullptr && label_size > 0 && label_size <= 64 && (choices & 0x7) == 0x1 &&
                          RuleHolds(label);
    FUZZ_CHECK((can == kCanSetEditableLogicalDriveLabelOK) == expected);
    const VK_BYTE set = VK_SetEditableLogicalDriveLabel(cda, 0, given, label_size);
    FUZZ_CHECK((set == kSetEditableLogicalDriveLabelOK) == expected);

    char back[66];
    std::memset(back, 'x', sizeof(back));
    FUZZ_CHECK(VK_GetEditableLogicalDriveLabel(cda, 0, back, 65) == kGetEditableLogicalDriveLabelOK);
    FUZZ_CHECK(back[64] == '\0' && back[65] == 'x');
    if (expected) {
        FUZZ_CHECK(std::memcmp(back, label.data(), label_size) == 0);
        FUZZ_CHECK(!(ld.flags & kEditableLDLabelUnchanged));
    } else {
        FUZZ_CHECK(std::strcmp(back, "Before") == 0);
        FUZZ_CHECK(ld.flags & kEditableLDLabelUnchanged);
    }
    return 0;
}
