// Fuzz target: every storage-enclosure getter over an arbitrary SENSE BUS PARAMETERS (0x65) reply.
// The first bytes of the input choose the controller's options (long connector names), the previous
// numbers the enumerators continue from, the bay, path index, selectors and a buffer size; the rest
// is the reply, decoded into enclosure 0's record as the loader decodes it and marked cached, so no
// command is sent. A text that is not terminated, a write past a caller's buffer, a walk that does
// not move on or a value outside its range aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "fuzz_guard.h"
#include "pavl_bytes.h"
#include "ptelm_cda.h"
#include "ptelm_properties.h"
#include "telm_private.h"
#include "telm_records.h"

namespace {

constexpr size_t kHeader = 8;
constexpr VK_WORD kEnd = 0xFFFF;
constexpr size_t kLongestWalk = 400;

volatile VK_QWORD g_sink;

using Text = char* (*)(PCDA, VK_WORD, char*, size_t);
constexpr Text kTexts[] = {VK_GetStorageEnclosureVendorID,  VK_GetStorageEnclosureProductID,
                           VK_GetStorageEnclosureSerialNumber, VK_GetUBMBackplaneProductString,
                           VK_GetUBMBackplanePartNumber,     VK_GetUBMBackplaneVersion};

// A walk of one enclosure's list from `first`, bounded: the lists hold at most 384 numbers.
template <typename Next>
size_t Walk(VK_WORD first, Next next, bool increasing) {
    size_t steps = 0;
    VK_WORD previous = first;
    for (VK_WORD n = next(first); n != kEnd && steps < kLongestWalk; n = next(n)) {
        if (increasing) {
            FUZZ_CHECK(previous == kEnd || n > previous);
        }
        previous = n;
        ++steps;
    }
    return steps;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    const uint8_t options = data[0];
    const VK_WORD previous = static_cast<VK_WORD>(data[1] | data[2] << 8);
    const VK_WORD bay = data[3];
    const VK_BYTE path = data[4];
    const VK_BYTE type = data[5];
    const size_t text_size = data[6];
    const VK_BYTE dev_type = data[7];
    const pavlin::ByteView reply(data + kHeader, size - kHeader);

    _CDA* c = ClearedDataArea();
    PCDA cda = c;
    c->flags[kCDAFlagsBuffers] = kCDAValidIdentifyController | kCDAValidFeaturePages | kCDAValidEnclosures;
    c->flags[kCDAFlagsModel] = kCDAModelArraysBuilt;
    c->identify_controller_buffer.dwEvenMoreControllerFlags = 0x80000000;
    c->sense_feature.page_connectivity.bFlags = (options & 0x01) ? 0x08 : 0;

    StorageEnclosureRecord& record = c->se_record_list[0];
    if (telmar::DecodeBusParameters(reply, record.sense_bus_parameters_buffer) || (options & 0x02)) {
        record.flags |= 0x1;
    }
    const bool exists = (record.flags & 0x1) != 0;

    FUZZ_CHECK(VK_EnumerateControllerStorageEnclosures(cda, kEnd) == (exists ? 0 : kEnd));
    VK_QWORD sum = 0;
    for (VK_WORD se : {VK_WORD{0}, VK_WORD{1}, VK_WORD{16}}) {
        auto drives = [&](VK_WORD n) { return VK_EnumerateStorageEnclosurePhysicalDrives(cda, se, n); };
        auto seps = [&](VK_WORD n) { return VK_EnumerateStorageEnclosureSEPs(cda, se, n); };
        auto expanders = [&](VK_WORD n) { return VK_EnumerateStorageEnclosureExpanders(cda, se, n); };
        const size_t installed = Walk(kEnd, drives, true);
        FUZZ_CHECK(installed == _VK_GetStorageEnclosurePhysicalDriveCount(cda, se));
        FUZZ_CHECK(installed <= kMaxPhysicalDrivesSupported);
        // A device list holds 16 numbers and each is visited once, repeats and all: every walk ends.
        const size_t sep_walk = Walk(kEnd, seps, false);
        const size_t expander_walk = Walk(kEnd, expanders, false);
        FUZZ_CHECK(expander_walk <= 16);
        FUZZ_CHECK(sep_walk <= 16 || (exists && se == 0 && record.sense_bus_parameters_buffer.bSEPCount == 0));
        sum += Walk(previous, drives, true) + sep_walk + Walk(previous, seps, false) + expander_walk +
               Walk(previous, expanders, false);

        for (VK_BYTE kind : {VK_BYTE{1}, VK_BYTE{2}, VK_BYTE{3}, VK_BYTE{4}, dev_type}) {
            sum += VK_GetStorageEnclosureDeviceCount(cda, se, kind);
        }
        sum += _VK_GetStorageEnclosureBayCount(cda, se) + _VK_GetStorageEnclosureSEPCount(cda, se) +
               _VK_GetStorageEnclosureExpanderCount(cda, se) + VK_GetStorageEnclosurePDNumber(cda, se, bay);

        const VK_BYTE paths = VK_GetStorageEnclosurePathCount(cda, se);
        FUZZ_CHECK(paths <= 8);
        sum += VK_GetStorageEnclosurePathInfo(cda, se);
        const VK_BYTE location = VK_GetStorageEnclosureLocation(cda, se);
        FUZZ_CHECK(location <= kGetStorageEnclosureLocationUnknown ||
                   location == kGetStorageEnclosureLocationInvalidSENumber);
        const VK_BYTE backplane = VK_GetStorageEnclosureBackplaneInterfaceType(cda, se);
        FUZZ_CHECK(backplane <= kStorageEnclosureBackplaneInterfaceTypeVPP ||
                   backplane == kStorageEnclosureBackplaneInterfaceTypeUnknown);
        const bool ubm = backplane == kStorageEnclosureBackplaneInterfaceTypeUBM;
        const VK_DWORD version = VK_GetUBMBackplaneVersionNumber(cda, se);
        FUZZ_CHECK(ubm ? version <= 0xFFFF : version >= kGetUBMBackplaneVersionNumberNotUBMBackplane);
        const VK_BYTE number = VK_GetUBMBackplaneNumber(cda, se);
        FUZZ_CHECK(ubm || number >= kGetUBMBackplaneNumberNotUBMBackplane);
        sum += VK_GetUBMBackplaneManagerDeviceCode(cda, se) + VK_GetUBMBackplanePCIVendorID(cda, se);

        const size_t sizes[] = {0, 1, 7, 8, 9, 16, 17, 24, 25, 32, 33, 40, 41, text_size};
        for (size_t s : sizes) {
            for (Text text : kTexts) {
                CheckCallerBuffer(s, true, [&](char* b, size_t n) { text(cda, se, b, n); });
            }
            for (VK_BYTE t : {VK_BYTE{1}, VK_BYTE{2}, VK_BYTE{3}, type}) {
                for (VK_BYTE p : {VK_BYTE{0}, VK_BYTE{7}, path}) {
                    CheckCallerBuffer(s, true, [&](char* b, size_t n) { VK_GetStorageEnclosurePathName(cda, se, p, t, b, n); });
                }
            }
        }
    }
    g_sink = sum;
    return 0;
}
