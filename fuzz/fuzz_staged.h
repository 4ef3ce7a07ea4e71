// A staged configuration for a fuzz target to build over the data area.
#ifndef FUZZ_STAGED_H
#define FUZZ_STAGED_H

#include <cstddef>
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_data_area.h"
#include "ppavl_platform.h"
#include "telm_private.h"

// The staged configuration on the library's tracked heap, as the product allocates it, attached to
// the data area while it lives. Each record is a block of exactly its size, so a read past one is a
// sanitizer report; everything listed when it goes is freed with it, the way the library frees it.
class HeapStagedConfiguration {
  public:
    explicit HeapStagedConfiguration(_CDA* area) : area_(area), config_(Allocate<EDITABLE_CONFIGURATION>()) {
        area_->editable_configuration = config_;
    }
    // Its own fields, up to its checksum, from the input; the lists stay empty.
    HeapStagedConfiguration(_CDA* area, FuzzInput& in) : HeapStagedConfiguration(area) {
        in.Fill(config_, offsetof(EDITABLE_CONFIGURATION, crc));
    }
    ~HeapStagedConfiguration() {
        area_->editable_configuration = nullptr;
        for (PEDITABLE_LOGICAL_DRIVE ld : config_->editable_ld_list) {
            VK_free(ld);
        }
        for (PEDITABLE_ARRAY array : config_->editable_array_list) {
            VK_free(array);
        }
        VK_free(config_);
    }
    HeapStagedConfiguration(const HeapStagedConfiguration&) = delete;
    HeapStagedConfiguration& operator=(const HeapStagedConfiguration&) = delete;

    EDITABLE_CONFIGURATION* get() const { return config_; }
    EDITABLE_CONFIGURATION* operator->() const { return config_; }
    EDITABLE_CONFIGURATION& operator*() const { return *config_; }

    // The record listed in slot `n`, a zeroed one listed there first when the slot is empty.
    EDITABLE_LOGICAL_DRIVE& LogicalDrive(VK_WORD n) { return Listed(config_->editable_ld_list[n]); }
    EDITABLE_ARRAY& Array(VK_WORD n) { return Listed(config_->editable_array_list[n]); }

    // A zeroed logical drive staged in the next slot, numbered, on array `array` and in its list.
    EDITABLE_LOGICAL_DRIVE& AddLogicalDrive(VK_WORD array) {
        const VK_WORD n = config_->editable_ld_count++;
        EDITABLE_LOGICAL_DRIVE& ld = LogicalDrive(n);
        ld.ld_number = n;
        ld.editable_array_number = array;
        EDITABLE_ARRAY& owner = Array(array);
        owner.logical_drives[owner.logical_drive_count++] = n;
        return ld;
    }

    // For each of the first `count` slots a byte whose bit 0 stages a logical drive there, all its
    // bytes from the input but its number.
    void FillLogicalDrives(FuzzInput& in, VK_WORD count) {
        for (VK_WORD n = 0; n < count; ++n) {
            if (in.Byte() & 1) {
                EDITABLE_LOGICAL_DRIVE& ld = LogicalDrive(n);
                in.Fill(&ld, sizeof(ld));
                ld.ld_number = n;
            }
        }
    }

  private:
    template <typename Record> static Record* Allocate() {
        auto* record = static_cast<Record*>(VK_malloc(sizeof(Record)));
        FUZZ_CHECK(record != nullptr);
        std::memset(static_cast<void*>(record), 0, sizeof(Record));
        return record;
    }
    template <typename Record> static Record& Listed(Record*& slot) {
        if (slot == nullptr) {
            slot = Allocate<Record>();
        }
        return *slot;
    }

    _CDA* area_;
    EDITABLE_CONFIGURATION* config_;
};

#endif
