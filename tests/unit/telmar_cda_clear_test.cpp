// Clearing a data area's record tables: what was written reads back as zero and what it held is
// freed, while the records nothing wrote, and the pages under them, stay untouched.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "telm_private.h"

namespace {

// A data area on fresh private anonymous pages, page aligned so residency can be asked per record.
class FreshArea : public ::testing::Test {
protected:
    void SetUp() override {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        length_ = (sizeof(_CDA) + page_ - 1) / page_ * page_;
        base_ = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        ASSERT_NE(base_, MAP_FAILED);
    }
    void TearDown() override { munmap(base_, length_); }

    _CDA* c() const { return static_cast<_CDA*>(base_); }

    // Whether any page wholly inside [begin, end) is in memory.
    bool AnyResident(const void* begin, const void* end) const {
        const auto first = (reinterpret_cast<uintptr_t>(begin) + page_ - 1) / page_ * page_;
        const auto last = reinterpret_cast<uintptr_t>(end) / page_ * page_;
        if (first >= last) {
            return false;
        }
        std::vector<unsigned char> pages((last - first + page_ - 1) / page_);
        EXPECT_EQ(mincore(reinterpret_cast<void*>(first), last - first, pages.data()), 0);
        for (unsigned char p : pages) {
            if (p & 1) {
                return true;
            }
        }
        return false;
    }

    // Whether [begin, end) reads as zero.
    static bool AllZero(const void* begin, const void* end) {
        for (auto* p = static_cast<const unsigned char*>(begin); p < end; ++p) {
            if (*p != 0) {
                return false;
            }
        }
        return true;
    }

    size_t page_ = 0;
    size_t length_ = 0;
    void* base_ = nullptr;
};

TEST_F(FreshArea, ClearingEmptiesWrittenRecordsAndLeavesTheRestUntouched) {
    _CDA* a = c();
    PhysicalDriveRecord& low = _VK_PDRecordForWrite(a, 3);
    low.flags = kPDRecordIdentifyValid | kPDRecordDrive;
    low.additional_lun_info = static_cast<PhysicalDriveLunInfo*>(VK_malloc(2 * sizeof(PhysicalDriveLunInfo)));
    _VK_PDRecordForWrite(a, 40).identify_physical_drive_buffer.bDeviceType = 1;
    // A lower record written later does not shorten what is cleared.
    _VK_PDRecordForWrite(a, 10).flags = kPDRecordPresent;
    LogicalDriveRecord& ld = _VK_LDRecordForWrite(a, 5);
    ld.flags = kLDRecordExists | kLDRecordConfigValid;
    ld.logical_drive_handle = VK_malloc(16);
    _VK_RecordsInUse(a->array_records_in_use, 2);
    a->array_record_list[1].ld_count = 2;
    _VK_RecordsInUse(a->se_records_in_use, 1);
    a->se_record_list[0].flags = 0x1;

    ASSERT_EQ(__VK_UnInitializeCDA(a), 1);

    // Residency first: reading a page maps it.
    EXPECT_FALSE(AnyResident(&a->pd_record_list[42], std::end(a->pd_record_list)));
    EXPECT_FALSE(AnyResident(&a->ld_record_list[7], std::end(a->ld_record_list)));
    EXPECT_TRUE(AllZero(a->pd_record_list, std::end(a->pd_record_list)));
    EXPECT_TRUE(AllZero(a->ld_record_list, std::end(a->ld_record_list)));
    EXPECT_TRUE(AllZero(a->array_record_list, std::end(a->array_record_list)));
    EXPECT_TRUE(AllZero(a->se_record_list, std::end(a->se_record_list)));
    EXPECT_EQ(a->pd_records_in_use, 0);
    EXPECT_EQ(a->ld_records_in_use, 0);
    EXPECT_EQ(a->array_records_in_use, 0);
    EXPECT_EQ(a->se_records_in_use, 0);
}

TEST_F(FreshArea, ClearingAnAreaNothingWroteTouchesNoRecordPage) {
    _CDA* a = c();
    ASSERT_EQ(__VK_UnInitializeCDA(a), 1);
    EXPECT_FALSE(AnyResident(&a->pd_record_list[1], std::end(a->se_record_list)));
    // Dropping a valid bit from a record never written changes nothing and writes nothing.
    EXPECT_EQ(_VK_InvalidatePDRecordIDPDBuffer(a, 200), kTrue);
    EXPECT_FALSE(AnyResident(&a->pd_record_list[150], &a->pd_record_list[250]));
    // A second clear after a use stops at what that use wrote.
    _VK_PDRecordForWrite(a, 0).flags = kPDRecordDrive;
    ASSERT_EQ(__VK_UnInitializeCDA(a), 1);
    EXPECT_EQ(a->pd_record_list[0].flags, 0);
    EXPECT_FALSE(AnyResident(&a->pd_record_list[2], std::end(a->se_record_list)));
}

} // namespace
