// Controllers whose configuration the host tests edit: drives of known sizes, the staged (editable)
// configuration taken from them, and the staged records a test reads or sets as an editing function
// would leave them. Also the plain controller whose live configuration a test changes, and the writes
// it receives for that.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "ptelm_configuration.h"
#include "ptelm_status.h"
#include "qvsim/fw_state.h"
#include "qvsim/gtest.h"
#include "telm_config_internal.h"
#include "telm_private.h"
#include "telmar_host_fixture.h"

namespace staged_host {

using qvsim::FirmwareState;
using qvsim::FwLogicalDrive;

// Blocks each simulated drive keeps for the controller, before its usable space.
inline constexpr std::uint32_t kReserved = 32768;
// Usable blocks of a drive of the flat sets.
inline constexpr VK_QWORD kDriveBlocks = VK_QWORD{1} << 24;

// The miscellaneous feature page with and without logical-drive moves offered.
inline const std::vector<std::uint8_t> kMovesPage = {0x12, 0x0B, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00};
inline const std::vector<std::uint8_t> kNoMovesPage = {0x12, 0x03, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00};

// The configuration writes a live edit sends.
inline constexpr std::uint8_t kSetConfiguration = 0x51;
inline constexpr std::uint8_t kChangeConfiguration = 0x54;
inline constexpr std::uint8_t kLabel = 0x57;

// Drive `pd` of 512-byte blocks with `usable` blocks past the reserved ones.
inline qvsim::FwDrive& AddDrive(FirmwareState& st, std::uint16_t pd, VK_QWORD usable) {
    qvsim::FwDrive& d = st.add_drive(pd, 2);
    d.reserved_blocks = kReserved;
    d.block_size = 512;
    d.total_blocks = usable + kReserved;
    return d;
}

// Drives 0..count-1 alike, `usable` blocks each.
inline void AddDrives(FirmwareState& st, VK_WORD count, VK_QWORD usable = kDriveBlocks) {
    for (VK_WORD pd = 0; pd < count; ++pd) {
        AddDrive(st, pd, usable);
    }
}

// The drive feature page that has the controller report self-encrypting drives.
inline void ReportSEDs(FirmwareState& st) {
    st.set_page("drive", {0x08, 0x58, 0x03});
}

// Drives `pds`, each 4096 blocks per number larger than 2^24: the lowest number of a set is its
// smallest drive.
inline void AddRisingDrives(FirmwareState& st, std::initializer_list<std::uint16_t> pds) {
    for (const std::uint16_t pd : pds) {
        AddDrive(st, pd, kDriveBlocks + 4096u * pd);
    }
}

inline void AddRisingDrives(FirmwareState& st, VK_WORD count) {
    for (VK_WORD pd = 0; pd < count; ++pd) {
        AddDrive(st, pd, kDriveBlocks + 4096u * pd);
    }
}

// Drives 0..count-1, each 4096 blocks smaller than the one before: the highest number of a set is its
// smallest drive.
inline FirmwareState FallingDrives(VK_WORD count) {
    FirmwareState st;
    for (VK_WORD pd = 0; pd < count; ++pd) {
        AddDrive(st, pd, kDriveBlocks + 4096u * (count - pd));
    }
    return st;
}

// FallingDrives(count) on a controller that reports self-encrypting drives.
inline FirmwareState FallingSEDDrives(VK_WORD count) {
    FirmwareState st = FallingDrives(count);
    ReportSEDs(st);
    return st;
}

// Locked by the controller's encryption: a boot password is awaited.
inline void Locked(FirmwareState& st) {
    st.set_page("encryption", {0x01});
    st.encryption.boot_password_status = 0x2;
}

// Drive `pd` reports a predicted failure: monitoring supported and on, and errors seen.
inline std::function<void(FirmwareState&)> PredictedToFail(std::uint16_t pd) {
    return [pd](FirmwareState& st) { st.find_drive(pd)->more_device_flags = 0x01 | 0x04 | 0x08; };
}

// The cache temporarily disabled on a controller whose transformations need backup power. The code
// is no low-charge one, so the source counts as charged and keeps a transformation's data safe: only
// the cache can refuse it.
inline void CacheDisabledOnBackupPower(FirmwareState& st) {
    st.expansion.support_flags = 0x0F; // no powerless transformations
    st.cache.battery_status = 0x1;
    st.cache.cache_flags = 0x2;
    st.cache.disable_code = 2;
}

// Logical drive `cache_ld` on `members`, an LU cache of the configured logical drive `data_ld`; each
// names the other. The cache is returned: the data drive may have moved, so it is found by number.
inline FwLogicalDrive& AddLUCache(FirmwareState& st, std::uint16_t data_ld, std::uint16_t cache_ld,
                                  std::vector<std::uint16_t> members, VK_QWORD blocks) {
    st.set_page("lu_cache", {0x20, 0x00, 0x00});
    FwLogicalDrive* data = st.find_configured_drive(data_ld);
    data->lu_cache_bits = 0x01;
    data->lu_cache_other = cache_ld;
    FwLogicalDrive& cache = st.add_configured_drive(cache_ld, std::move(members), blocks);
    cache.property = 0x04;
    cache.lu_cache_other = data_ld;
    return cache;
}

class StagedConfigHost : public telmar_host::ControllerHost {
public:
    using telmar_host::ControllerHost::cda;
    using Live = std::function<void(FirmwareState&)>;
    // A table row's change to the staged configuration, for tables on this fixture itself.
    using Staged = std::function<void(StagedConfigHost&)>;

    // The requests of the start-up are forgotten, so that AnyWrite() speaks of the edits alone.
    void Start(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
        host().clear_requests();
    }
    // A table row's start: `live` changes the controller before it starts, `staged` the staged
    // configuration after; either may be empty.
    template <class Self>
    void StartRow(FirmwareState st, const Live& live, const std::function<void(Self&)>& staged) {
        if (live) {
            live(st);
        }
        ASSERT_NO_FATAL_FAILURE(static_cast<Self&>(*this).Start(std::move(st)));
        if (staged) {
            ASSERT_NO_FATAL_FAILURE(staged(static_cast<Self&>(*this)));
        }
    }
    // Stages the configuration anew from the controller.
    void Restage() {
        VK_DestroyEditableConfiguration(cda());
        ASSERT_EQ(VK_CreateEditableConfiguration(cda()), kCreateEditableConfigOK);
    }

    _CDA* data() { return _VK_CDA(cda()); }
    PEDITABLE_CONFIGURATION config() { return data()->editable_configuration; }
    PEDITABLE_ARRAY array(VK_WORD n) { return config()->editable_array_list[n]; }
    PEDITABLE_LOGICAL_DRIVE ld(VK_WORD n) { return config()->editable_ld_list[n]; }
    VK_BYTE Usage(VK_WORD pd) { return config()->editable_pd_list[pd].config_usage_info; }
    std::vector<VK_WORD> DataDrives(VK_WORD a) {
        return {array(a)->data_drives, array(a)->data_drives + array(a)->data_drive_count};
    }
    std::vector<VK_WORD> Spares(VK_WORD a) {
        return {array(a)->spare_drives, array(a)->spare_drives + array(a)->spare_drive_count};
    }
    std::vector<VK_WORD> ArrayDrives(VK_WORD a) {
        return {array(a)->logical_drives, array(a)->logical_drives + array(a)->logical_drive_count};
    }
    // Data drives `list` added to or removed from array `a`: asked first, then done.
    VK_BYTE CanAddData(VK_WORD a, std::vector<VK_WORD> list, VK_BYTE expand = kExpandTypeAuto) {
        return VK_CanAddEditableArrayDataDrives(cda(), a, list.data(), list.size(), expand);
    }
    VK_BYTE AddData(VK_WORD a, std::vector<VK_WORD> list, VK_BYTE expand = kExpandTypeAuto) {
        return VK_AddEditableArrayDataDrives(cda(), a, list.data(), list.size(), expand);
    }
    VK_BYTE CanRemoveData(VK_WORD a, std::vector<VK_WORD> list, VK_BYTE shrink = kShrinkTypeAuto) {
        return VK_CanRemoveEditableArrayDataDrives(cda(), a, list.data(), list.size(), shrink);
    }
    VK_BYTE RemoveData(VK_WORD a, std::vector<VK_WORD> list, VK_BYTE shrink = kShrinkTypeAuto) {
        return VK_RemoveEditableArrayDataDrives(cda(), a, list.data(), list.size(), shrink);
    }
    bool AnyWrite() {
        const auto cdbs = Received();
        return std::any_of(cdbs.begin(), cdbs.end(), [](const qvsim::BmicCdb& b) { return b.write; });
    }

    // Array `n`, just created, given `drives` as its data drives of `block_size`; their staged usage
    // becomes `usage` where one is given.
    PEDITABLE_ARRAY FillArray(VK_WORD n, const std::vector<VK_WORD>& drives, std::optional<VK_BYTE> usage,
                              VK_WORD block_size = 512) {
        EXPECT_NE(n, 0xFFFF);
        if (n == 0xFFFF) {
            return nullptr;
        }
        PEDITABLE_ARRAY a = array(n);
        for (VK_WORD pd : drives) {
            a->data_drives[a->data_drive_count++] = pd;
            if (usage) {
                config()->editable_pd_list[pd].config_usage_info = *usage;
            }
        }
        a->common_block_size = block_size;
        return a;
    }
    // A staged logical drive record with `flags` in the first free slot, listed on `a` and nothing
    // else set: what the callers add is what the drive under test has.
    PEDITABLE_LOGICAL_DRIVE StageRecord(PEDITABLE_ARRAY a, VK_QWORD flags) {
        VK_WORD slot = 0;
        while (slot < kMaxLogicalDrivesSupported && config()->editable_ld_list[slot] != nullptr) {
            ++slot;
        }
        auto* r = static_cast<PEDITABLE_LOGICAL_DRIVE>(VK_malloc(sizeof(EDITABLE_LOGICAL_DRIVE)));
        std::memset(r, 0, sizeof(*r));
        r->flags = flags;
        r->ld_number = slot;
        r->editable_array_number = a->editable_array_number;
        config()->editable_ld_list[slot] = r;
        ++config()->editable_ld_count;
        a->logical_drives[a->logical_drive_count++] = slot;
        return r;
    }
    // A drive the library creates, placed on `array_number` at `offset` as the array setter leaves it.
    VK_WORD PlaceNewDrive(VK_WORD array_number, VK_QWORD offset, VK_QWORD blocks_per_drive = 0) {
        const VK_WORD n = VK_CreateEditableLogicalDrive(cda());
        EXPECT_NE(n, 0xFFFF);
        if (n == 0xFFFF) {
            return n;
        }
        ld(n)->flags |= kEditableLDArraySet;
        ld(n)->editable_array_number = array_number;
        ld(n)->physical_drive_offset_block = offset;
        ld(n)->physical_drive_blocks_per_drive = blocks_per_drive;
        PEDITABLE_ARRAY a = array(array_number);
        a->logical_drives[a->logical_drive_count++] = n;
        a->flags |= kEditableArrHasNewLD;
        return n;
    }
    // The controller reports a bad memory mode from here on: its status is no longer OK.
    void ControllerNotOK() { data()->identify_controller_buffer.dwEvenMoreControllerFlags |= 0x100; }
    // A new, empty array staged as an LU cache: LU caching is then on for the whole controller.
    VK_WORD StageLUCaching() {
        const VK_WORD n = VK_CreateEditableArray(cda());
        EXPECT_NE(n, 0xFFFF);
        if (n != 0xFFFF) {
            array(n)->flags |= kEditableArrLUCache;
        }
        return n;
    }
};

// A controller whose live configuration the test changes, and the writes that takes.
class LiveConfigHost : public telmar_host::ControllerHost {
protected:
    void Start(FirmwareState st) {
        ASSERT_NO_FATAL_FAILURE(StartController(std::move(st)));
        ASSERT_EQ(Initialize(), kInitializeSucceeded);
    }
    FirmwareState& state() { return fw_->fw_state(); }
    // The logical drives the writes of `opcode` named, in order.
    std::vector<std::uint16_t> Writes(std::uint8_t opcode) {
        std::vector<std::uint16_t> out;
        for (const qvsim::BmicCdb& b : Received()) {
            if (b.write && b.opcode == opcode) {
                out.push_back(b.lun());
            }
        }
        return out;
    }
};

} // namespace staged_host
