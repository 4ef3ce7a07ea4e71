// Initialising a data area leaves it zero but for what initialisation sets, whatever memory the caller
// hands over: dirty heap, fresh or partly dropped anonymous pages, or memory that is not private
// anonymous, where dropped pages would not read back as zero.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <ostream>
#include <sys/mman.h>
#include <unistd.h>

#include "ppavl_platform.h"
#include "ptelm.h"
#include "telm_private.h"
#include "telmar_log_capture.h"

namespace {

constexpr unsigned char kDirt = 0xA5;

// The first byte at which the area is not zero, not counting the members initialisation sets; -1 when
// there is none.
long FirstDirtyByte(_CDA* c) {
    const VK_DWORD signature = c->Signature;
    DeviceDescriptor handle = c->controller_handle;
    PMUTEX_LOCK lock = c->lock;
    PMUTEX_LOCK event_lock = c->event_lock;
    c->Signature = 0;
    c->controller_handle = nullptr;
    c->lock = nullptr;
    c->event_lock = nullptr;
    const auto* bytes = reinterpret_cast<const unsigned char*>(c);
    long dirty = -1;
    for (size_t i = 0; i < sizeof(_CDA); ++i) {
        if (bytes[i] != 0) {
            dirty = static_cast<long>(i);
            break;
        }
    }
    c->Signature = signature;
    c->controller_handle = handle;
    c->lock = lock;
    c->event_lock = event_lock;
    return dirty;
}

// Memory of one kind, with the data area at an offset that is not page aligned, as the allocator's is.
struct Region {
    void* base = nullptr;
    size_t length = 0;
    int fd = -1;
    _CDA* area() const { return reinterpret_cast<_CDA*>(static_cast<unsigned char*>(base) + 16); }
};

size_t RegionLength() {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (sizeof(_CDA) + 16 + page - 1) / page * page;
}

Region Anonymous(int flags) {
    Region r;
    r.length = RegionLength();
    r.base = mmap(nullptr, r.length, PROT_READ | PROT_WRITE, flags | MAP_ANONYMOUS, -1, 0);
    return r;
}

struct MemoryCase {
    const char* name;
    std::function<Region()> make;
    bool dirty_before_area; // the bytes before the area hold kDirt
};

const MemoryCase kMemoryCases[] = {
    {"DirtyHeap",
     [] {
         Region r;
         r.length = sizeof(_CDA) + 16;
         r.base = std::malloc(r.length);
         if (r.base != nullptr) {
             std::memset(r.base, kDirt, r.length);
         }
         return r;
     },
     true},
    {"FreshAnonymous", [] { return Anonymous(MAP_PRIVATE); }, false},
    // Dirty pages in memory between pages that were dropped, so runs of both kinds meet.
    {"AnonymousPartlyDropped",
     [] {
         Region r = Anonymous(MAP_PRIVATE);
         if (r.base != MAP_FAILED) {
             std::memset(r.base, kDirt, r.length);
             const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
             for (size_t offset = page; offset < r.length; offset += 3 * page) {
                 madvise(static_cast<unsigned char*>(r.base) + offset, page, MADV_DONTNEED);
             }
         }
         return r;
     },
     true},
    // The pages stay in the shared object when this mapping lets go of them.
    {"SharedAnonymousDropped",
     [] {
         Region r = Anonymous(MAP_SHARED);
         if (r.base != MAP_FAILED) {
             std::memset(r.base, kDirt, r.length);
             madvise(r.base, r.length, MADV_DONTNEED);
         }
         return r;
     },
     true},
    // A private copy of a file whose pages are not in memory: dropping them would bring back the file.
    {"PrivateFileMapping",
     [] {
         Region r;
         r.length = RegionLength();
         char path[] = "/tmp/telm-cda-zero.XXXXXX";
         r.fd = mkstemp(path);
         if (r.fd < 0) {
             r.base = MAP_FAILED;
             return r;
         }
         unlink(path);
         auto* dirt = static_cast<unsigned char*>(std::malloc(r.length));
         std::memset(dirt, kDirt, r.length);
         const bool written = write(r.fd, dirt, r.length) == static_cast<ssize_t>(r.length);
         std::free(dirt);
         fsync(r.fd);
         posix_fadvise(r.fd, 0, 0, POSIX_FADV_DONTNEED);
         r.base =
             written ? mmap(nullptr, r.length, PROT_READ | PROT_WRITE, MAP_PRIVATE, r.fd, 0) : MAP_FAILED;
         return r;
     },
     true},
};

// Listed and reported by name, not as the bytes of the record.
void PrintTo(const MemoryCase& c, std::ostream* os) {
    *os << c.name;
}

class DataAreaZeroing : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(DataAreaZeroing, LeavesOnlyWhatInitialisationSets) {
    TelmarLogCapture log; // the controller does not answer: identification fails after the zeroing
    Region r = GetParam().make();
    ASSERT_TRUE(r.base != nullptr && r.base != MAP_FAILED);
    VK_BYTE descriptor[2] = {2, 0};
    const VK_WORD result = VK_InitializeCDA(r.area(), descriptor);
    EXPECT_EQ(result, kInitializeFailed | kInitializeFailedCommunicationError);
    EXPECT_EQ(r.area()->Signature, 0xBAAAF000u);
    EXPECT_NE(r.area()->lock, nullptr);
    EXPECT_EQ(FirstDirtyByte(r.area()), -1);
    EXPECT_EQ(VK_UnInitializeCDA(r.area()), 1);
    // Bytes outside the area are not the library's to touch.
    const auto* base = static_cast<const unsigned char*>(r.base);
    EXPECT_EQ(base[15], GetParam().dirty_before_area ? kDirt : 0);
    if (std::strcmp(GetParam().name, "DirtyHeap") == 0) {
        std::free(r.base);
    } else {
        munmap(r.base, r.length);
    }
    if (r.fd >= 0) {
        close(r.fd);
    }
}

INSTANTIATE_TEST_SUITE_P(Memory, DataAreaZeroing, ::testing::ValuesIn(kMemoryCases),
                         [](const ::testing::TestParamInfo<MemoryCase>& info) { return info.param.name; });

} // namespace
