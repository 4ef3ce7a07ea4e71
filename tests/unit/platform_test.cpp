// Tracked allocator, bounds-checked helpers and time helpers of the platform library.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <safe_config.h>

#include "pavl_platform_private.h"
#include "ppavl_platform.h"

namespace {

std::string dump_records() {
    char* text = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&text, &length);
    _VK_DumpAllocRecord(stream);
    fclose(stream);
    std::string result(text, length);
    free(text);
    return result;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char buffer[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof(buffer), fmt, args);
    va_end(args);
    return buffer;
}

size_t record_count() {
    size_t count = 0;
    for (ALLOC_RECORD* r = _VK_alloc_stack.first_record; r != nullptr; r = r->next_record) {
        ++count;
    }
    return count;
}

ALLOC_RECORD* record_of(const void* block) {
    for (ALLOC_RECORD* r = _VK_alloc_stack.first_record; r != nullptr; r = r->next_record) {
        if (r->address == block) {
            return r;
        }
    }
    return nullptr;
}

class AllocatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializePavlin(nullptr);
        // Start from an empty record stack: the library's own locks were recorded by the first start-up.
        _VK_InitAllocRecord();
        _VK_max_alloc = 0;
    }
    void TearDown() override { _VK_InitAllocRecord(); }
};

TEST_F(AllocatorTest, CountersFollowAllocationsReallocationsAndFrees) {
    void* a = VK_malloc(100);
    void* b = VK_malloc(50);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(_VK_curr_alloc, 150u);
    EXPECT_EQ(_VK_total_alloc, 150u);
    EXPECT_EQ(_VK_max_alloc, 150u);

    a = VK_realloc(a, 300); // growth counts the difference only
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(_VK_curr_alloc, 350u);
    EXPECT_EQ(_VK_total_alloc, 350u);
    EXPECT_EQ(_VK_max_alloc, 350u);

    a = VK_realloc(a, 10); // shrinking adds nothing to the total
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(_VK_curr_alloc, 60u);
    EXPECT_EQ(_VK_total_alloc, 350u);
    EXPECT_EQ(_VK_max_alloc, 350u);
    EXPECT_EQ(record_of(a)->size, 10u);

    VK_free(a);
    VK_free(b);
    EXPECT_EQ(_VK_curr_alloc, 0u);
    EXPECT_EQ(_VK_total_alloc, 350u);
    EXPECT_EQ(_VK_max_alloc, 350u);
    EXPECT_EQ(record_count(), 0u);
}

TEST_F(AllocatorTest, RecordKeepsAllocationAndLastReallocationSites) {
    const unsigned int malloc_line = __LINE__ + 1;
    void* block = VK_malloc(8);
    ALLOC_RECORD* record = record_of(block);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->malloc_file, __FILE__);
    EXPECT_EQ(record->malloc_line, malloc_line);
    EXPECT_EQ(record->last_realloc_file, nullptr);

    const unsigned int realloc_line = __LINE__ + 1;
    block = VK_realloc(block, 4096);
    record = record_of(block);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->malloc_line, malloc_line);
    EXPECT_STREQ(record->last_realloc_file, __FILE__);
    EXPECT_EQ(record->last_realloc_line, realloc_line);
    VK_free(block);
}

TEST_F(AllocatorTest, UnrecordedBlocksAndNull) {
    // Released without a record: counters stay as they are.
    void* plain = malloc(64);
    void* tracked = VK_malloc(16);
    VK_free(plain);
    VK_free(nullptr);
    EXPECT_EQ(_VK_curr_alloc, 16u);
    EXPECT_EQ(record_count(), 1u);

    // Reallocating an unrecorded block records the result as a new allocation.
    void* other = malloc(8);
    other = VK_realloc(other, 32);
    ASSERT_NE(record_of(other), nullptr);
    EXPECT_EQ(_VK_curr_alloc, 48u);
    EXPECT_EQ(_VK_total_alloc, 48u);
    EXPECT_EQ(record_of(other)->last_realloc_file, nullptr);

    // So does reallocating NULL.
    void* fresh = VK_realloc(nullptr, 4);
    ASSERT_NE(record_of(fresh), nullptr);
    EXPECT_EQ(_VK_curr_alloc, 52u);

    VK_free(tracked);
    VK_free(other);
    VK_free(fresh);
    EXPECT_EQ(_VK_curr_alloc, 0u);
}

TEST_F(AllocatorTest, BlocksFromBeforeStartUpAreForgotten) {
    void* early = VK_malloc(40);
    InitializePavlin(nullptr);
    EXPECT_EQ(record_count(), 0u);
    EXPECT_EQ(_VK_curr_alloc, 0u);
    EXPECT_EQ(_VK_total_alloc, 0u);
    void* later = VK_malloc(8);
    VK_free(early);
    EXPECT_EQ(_VK_curr_alloc, 8u);
    VK_free(later);
}

TEST_F(AllocatorTest, ReallocToZeroFreesAndDropsTheRecord) {
    void* block = VK_malloc(24);
    void* keep = VK_malloc(8);
    EXPECT_EQ(VK_realloc(block, 0), nullptr);
    EXPECT_EQ(record_of(block), nullptr);
    EXPECT_EQ(record_count(), 1u);
    EXPECT_EQ(_VK_curr_alloc, 8u);
    EXPECT_EQ(VK_realloc(nullptr, 0), nullptr);
    EXPECT_EQ(record_count(), 1u);
    VK_free(keep);
}

TEST_F(AllocatorTest, FailedAllocationsLeaveRecordsAndCountersAlone) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer aborts on impossible allocation sizes";
#else
    const size_t impossible = SIZE_MAX / 2;
    EXPECT_EQ(VK_malloc(impossible), nullptr);
    EXPECT_EQ(record_count(), 0u);

    void* block = VK_malloc(16);
    const unsigned int realloc_line = __LINE__ + 1;
    EXPECT_EQ(VK_realloc(block, impossible), nullptr);
    ALLOC_RECORD* record = record_of(block);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->size, 16u);
    EXPECT_EQ(record->last_realloc_line, realloc_line);
    EXPECT_EQ(_VK_curr_alloc, 16u);
    EXPECT_EQ(_VK_total_alloc, 16u);
    VK_free(block);
#endif
}

TEST_F(AllocatorTest, LeakReportWithoutLiveBlocksHasOnlyTheTotals) {
    VK_free(VK_malloc(70));
    EXPECT_EQ(dump_records(), "Max held in heap:         70 B\n"
                              "Total allocated in heap:  70 B\n");
}

TEST_F(AllocatorTest, LeakReportListsNewestFirst) {
    const unsigned int first_line = __LINE__ + 1;
    void* first = VK_malloc(10);
    const unsigned int second_line = __LINE__ + 1;
    void* second = VK_malloc(5);
    const unsigned int realloc_line = __LINE__ + 1;
    first = VK_realloc(first, 20);

    std::string expected = "WARNING! Outstanding heap allocations (leak):\n";
    expected += format(" -> Addr:%p (5 bytes) alloc-ed at %s:%u\n", second, __FILE__, second_line);
    expected += format(" -> Addr:%p (20 bytes) alloc-ed at %s:%u (last re-alloced at %s:%u)\n", first,
                       __FILE__, first_line, __FILE__, realloc_line);
    expected += "25 total bytes still held by process\n"
                "Max held in heap:         25 B\n"
                "Total allocated in heap:  25 B\n";
    EXPECT_EQ(dump_records(), expected);

    // When the current count disagrees with the listed blocks, both are shown.
    _VK_curr_alloc = 30;
    EXPECT_NE(dump_records().find("\n25or 30 total bytes still held by process\n"), std::string::npos);

    VK_free(first);
    VK_free(second);
}

TEST_F(AllocatorTest, ShutDownReportsLeaksOnStandardOutput) {
    void* leaked = VK_malloc(3);
    testing::internal::CaptureStdout();
    UnInitializePavlin();
    const std::string report = testing::internal::GetCapturedStdout();
    EXPECT_EQ(report.rfind("WARNING! Outstanding heap allocations (leak):\n", 0), 0u);
    EXPECT_NE(report.find(" (3 bytes) alloc-ed at "), std::string::npos);
    EXPECT_EQ(_VK_alloc_stack.first_record, nullptr);
    EXPECT_EQ(_PN_PavlinAllocatorMutex, nullptr);
    free(leaked);
    // Services keep working without their locks.
    VK_free(VK_malloc(1));
}

TEST(PlatformPaths, MaxFilePathSize) {
    EXPECT_EQ(_PN_GetMaxFilePathSize(nullptr), -1);
    EXPECT_GT(_PN_GetMaxFilePathSize("/"), 0);
}

// ---------------------------------------------------------------------------------------------------------

TEST(SafeString, CopiesThatFit) {
    char buffer[16];
    EXPECT_EQ(VK_strcpy_s(buffer, sizeof(buffer), "fifteen chars.."), 0);
    EXPECT_STREQ(buffer, "fifteen chars..");
    EXPECT_EQ(VK_strncpy_s(buffer, sizeof(buffer), "abcdefghijklmnopqrstuvwxyz", 4), 0);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(VK_strcat_s(buffer, sizeof(buffer), "efg"), 0);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(VK_strncat_s(buffer, sizeof(buffer), "hijklmnopqrstuvwxyz", 8), 0);
    EXPECT_STREQ(buffer, "abcdefghijklmno");
    unsigned char bytes[4] = {0};
    const unsigned char source[4] = {1, 2, 3, 4};
    EXPECT_EQ(VK_memcpy_s(bytes, sizeof(bytes), source, sizeof(source)), 0);
    EXPECT_EQ(memcmp(bytes, source, sizeof(bytes)), 0);
}

TEST(SafeString, PassThroughResults) {
    EXPECT_EQ(VK_strnlen_s(nullptr, 10), 0u);
    EXPECT_EQ(VK_strnlen_s("abcdef", 4), 4u);
    EXPECT_EQ(VK_strnlen_s("abc", 10), 3u);

    char buffer[8];
    EXPECT_EQ(VK_sprintf_s(buffer, sizeof(buffer), "%d-%s", 42, "ab"), 5);
    EXPECT_STREQ(buffer, "42-ab");
    EXPECT_LT(VK_sprintf_s(buffer, sizeof(buffer), "%s", "too long for it"), 0);

    int number = 0;
    char word[8];
    EXPECT_EQ(VK_sscanf_s("17 abc", "%d %s", &number, word, sizeof(word)), 2);
    EXPECT_EQ(number, 17);
    EXPECT_STREQ(word, "abc");

    char text[] = "a,b";
    size_t remaining = sizeof(text);
    char* context = nullptr;
    char* token = VK_strtok_s(text, &remaining, ",", &context);
    ASSERT_NE(token, nullptr);
    EXPECT_STREQ(token, "a");
}

// safeclib refuses any size above its limits before looking at the data; valid
// copies into larger destinations must still go through.
TEST(SafeString, LargeDestinationsAboveTheLibraryLimits) {
    const size_t big = RSIZE_MAX_STR * 4;
    std::vector<char> dest(big, 'x');
    const std::string longer(RSIZE_MAX_STR + 100, 'L');

    for (const std::string& source : {std::string("short"), longer}) {
        SCOPED_TRACE(source.size());
        EXPECT_EQ(VK_strcpy_s(dest.data(), big, source.c_str()), 0);
        EXPECT_EQ(std::string(dest.data()), source);
        EXPECT_EQ(VK_strcat_s(dest.data(), big, "+tail"), 0);
        EXPECT_EQ(std::string(dest.data()), source + "+tail");
        EXPECT_EQ(VK_strncpy_s(dest.data(), big, source.c_str(), source.size() - 1), 0);
        EXPECT_EQ(std::string(dest.data()), source.substr(0, source.size() - 1));
        EXPECT_EQ(VK_strncat_s(dest.data(), big, "123456", 3), 0);
        EXPECT_EQ(std::string(dest.data()), source.substr(0, source.size() - 1) + "123");
        EXPECT_EQ(VK_strnlen_s(dest.data(), big), source.size() + 2);
    }

    // A count above the limit with a short source is a plain bounded copy.
    char small[8] = "ab";
    EXPECT_EQ(VK_strncpy_s(small, sizeof(small), "xyz", SIZE_MAX), 0);
    EXPECT_STREQ(small, "xyz");
    EXPECT_EQ(VK_strncat_s(small, sizeof(small), "uvw", RSIZE_MAX_STR + 1), 0);
    EXPECT_STREQ(small, "xyzuvw");

    EXPECT_EQ(VK_sprintf_s(dest.data(), big, "%s!", longer.c_str()), static_cast<int>(longer.size() + 1));
    EXPECT_EQ(std::string(dest.data()), longer + "!");
    int written = 0;
    EXPECT_LT(VK_sprintf_s(dest.data(), big, "ab%n", &written), 0); // %n is refused here as well
    EXPECT_EQ(written, 0);

    // memcpy_s above RSIZE_MAX_MEM; the pages beyond the copy are never touched.
    const size_t huge = RSIZE_MAX_MEM + 4096;
    auto* block = static_cast<unsigned char*>(malloc(huge));
    ASSERT_NE(block, nullptr);
    const unsigned char pattern[5] = {9, 8, 7, 6, 5};
    EXPECT_EQ(VK_memcpy_s(block, huge, pattern, sizeof(pattern)), 0);
    EXPECT_EQ(memcmp(block, pattern, sizeof(pattern)), 0);
    free(block);
}

struct CopyFailure {
    const char* message;
    unsigned int line;
    std::function<void()> call;
};

const char kFifty[] = "01234567890123456789012345678901234567890123456789";
static_assert(sizeof(kFifty) == 51);

std::vector<CopyFailure> copy_failures() {
    // Each call stands on the line it reports.
    // clang-format off
    return {
        {"Failed to strcpy_s", __LINE__, [] { char d[50]; VK_strcpy_s(d, sizeof(d), kFifty); }},
        {"Failed to strcpy_s", __LINE__, [] { char d[4]; VK_strcpy_s(d, sizeof(d), nullptr); }},
        {"Failed to strncpy_s", __LINE__, [] { char d[10]; VK_strncpy_s(d, sizeof(d), kFifty, 10); }},
        {"Failed to strcat_s", __LINE__, [] { char d[8] = "abcd"; VK_strcat_s(d, sizeof(d), "efgh"); }},
        {"Failed to strcat_s", __LINE__, [] { char d[8]; memset(d, 'u', sizeof(d)); VK_strcat_s(d, sizeof(d), "a"); }},
        {"Failed to strncat_s", __LINE__, [] { char d[8] = "abcd"; VK_strncat_s(d, sizeof(d), "efghij", 4); }},
        {"Failed to memcpy_s", __LINE__, [] { char d[8]; VK_memcpy_s(d, sizeof(d), kFifty, 9); }},
        {"Failed to memcpy_s", __LINE__, [] { char d[8] = "abcdefg"; VK_memcpy_s(d, sizeof(d), d + 1, 4); }},
        // Above the library's limits the checks still hold.
        {"Failed to strcpy_s", __LINE__, [] { std::vector<char> d(RSIZE_MAX_STR + 1); std::string s(d.size(), 's'); VK_strcpy_s(d.data(), d.size(), s.c_str()); }},
        {"Failed to strcat_s", __LINE__, [] { std::vector<char> d(RSIZE_MAX_STR + 1, 'u'); VK_strcat_s(d.data(), d.size(), "a"); }},
        {"Failed to strncpy_s", __LINE__, [] { char d[4]; VK_strncpy_s(d, sizeof(d), "abcd", SIZE_MAX); }},
        {"Failed to strncat_s", __LINE__, [] { char d[4] = "ab"; VK_strncat_s(d, sizeof(d), "cd", SIZE_MAX); }},
        {"Failed to memcpy_s", __LINE__, [] { char d[8] = {0}; VK_memcpy_s(d, RSIZE_MAX_MEM + 1, d + 1, RSIZE_MAX_MEM + 1); }},
    };
    // clang-format on
}

TEST(SafeStringDeathTest, CopyErrorEndsTheProcessNamingTheCaller) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const CopyFailure& failure : copy_failures()) {
        SCOPED_TRACE(failure.line);
        const std::string pattern = std::string("platform_test\\.cpp:") + std::to_string(failure.line) +
                                    ": .*Assertion .err == 0, " + failure.message + ". failed";
        EXPECT_DEATH(failure.call(), pattern);
    }
}

// ---------------------------------------------------------------------------------------------------------

TEST(PlatformTime, LocalTimeCopiesAreOwnedByTheCaller) {
    InitializePavlin(nullptr);
    time_t now = 1700000000;
    struct tm expected;
    ASSERT_NE(localtime_r(&now, &expected), nullptr);

    const VK_UINT64 before = _VK_curr_alloc;
    struct tm* copy = VK_localtime_s(&now);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(_VK_curr_alloc, before + sizeof(struct tm));
    EXPECT_NE(copy, VK_localtime(&now)); // not the shared record
    EXPECT_EQ(copy->tm_year, expected.tm_year);
    EXPECT_EQ(copy->tm_yday, expected.tm_yday);
    EXPECT_EQ(copy->tm_hour, expected.tm_hour);
    EXPECT_EQ(copy->tm_sec, expected.tm_sec);
    EXPECT_EQ(VK_mktime(copy), now);
    VK_free(copy);

    EXPECT_EQ(VK_localtime(nullptr), nullptr);
    EXPECT_EQ(VK_localtime_s(nullptr), nullptr);
    EXPECT_EQ(VK_mktime(nullptr), static_cast<time_t>(-1));
}

TEST(PlatformProcess, ProcessIdAndShortSleep) {
    EXPECT_EQ(PN_GetCurrentProcessID(), static_cast<VK_DWORD>(getpid()));
    PN_Sleep(0);
    PN_Sleep(1);
}

} // namespace
