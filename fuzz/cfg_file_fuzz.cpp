// The expected-values file, read as a verify command reads it ("-f <file>"): the input is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "externs.h"
#include "fuzz_check.h"
#include "pavl_platform_private.h"
#include "ppavl_platform.h"

namespace {

struct State {
    int fd = -1;
    std::string path;
    std::vector<CONFIGFILE_EXPECTED_VALUE_TABLE> defaults;
    VERIFYTEST_EXPECTED_VALUE_TABLE expected_defaults{};
};

// The file lives in memory; the product opens it by its /proc path like any other file.
State& Setup() {
    static State state = [] {
        State s;
        std::freopen("/dev/null", "w", stdout);
        InitializePavlin(nullptr);
        lfp = std::fopen("/dev/null", "w");
        s.fd = memfd_create("quorvel.cfg", 0);
        FUZZ_CHECK(s.fd >= 0);
        s.path = "/proc/self/fd/" + std::to_string(s.fd);
        const CONFIGFILE_EXPECTED_VALUE_TABLE* first = configFileExpectedValueT;
        const auto* row = first;
        while (row->expectedValueSrc != EXPECTED_VALUE_NULL) {
            ++row;
        }
        s.defaults.assign(first, row + 1);
        s.expected_defaults = verifyTestExpectedValue;
        return s;
    }();
    return state;
}

bool Terminated(const char* text, size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

// The 16-bit number that the table entry for `field` holds, or none for a text field.
const VK_UINT16* ExpectedNumber(const char* field) {
    auto& e = verifyTestExpectedValue;
    for (int i = 0; i < SENSOR_COUNT; ++i) {
        if (std::string(field) == "maxtempsensor" + std::to_string(i)) {
            return &e.sensorTempMax[i];
        }
        if (std::string(field) == "mintempsensor" + std::to_string(i)) {
            return &e.sensorTempMin[i];
        }
    }
    if (std::strcmp(field, "cachesize") == 0) {
        return &e.cacheSize;
    }
    if (std::strcmp(field, "pcieLinkRate") == 0) {
        return &e.pcieLinkRate;
    }
    if (std::strcmp(field, "pcieLinkWidth") == 0) {
        return &e.pcieLinkWidth;
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    State& s = Setup();
    std::copy(s.defaults.begin(), s.defaults.end(), configFileExpectedValueT);
    verifyTestExpectedValue = s.expected_defaults;
    FUZZ_CHECK(ftruncate(s.fd, 0) == 0);
    for (size_t done = 0; done < size;) {
        const ssize_t n = pwrite(s.fd, data + done, size - done, static_cast<off_t>(done));
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }

    char arg0[] = "quorvel", arg1[] = "verifyfwversion", arg2[] = "1", arg3[] = "-f";
    char* argv[] = {arg0, arg1, arg2, arg3, s.path.data(), nullptr};
    gArgc = 5;
    gArgv = argv;
    const VK_UINT64 held = _VK_curr_alloc;
    const VK_BYTE result = CfgFileReadWizard();
    FUZZ_CHECK(result == CFG_SUCCESS || result == CFG_FILE_ERROR);
    FUZZ_CHECK(cfp == nullptr);
    FUZZ_CHECK(_VK_curr_alloc == held);

    // The end row still ends the table, and every value is a terminated text.
    const size_t rows = s.defaults.size();
    FUZZ_CHECK(configFileExpectedValueT[rows - 1].expectedValueSrc == EXPECTED_VALUE_NULL);
    FUZZ_CHECK(std::strcmp(configFileExpectedValueT[rows - 1].field, "EOL") == 0);
    for (size_t i = 0; i + 1 < rows; ++i) {
        const auto& row = configFileExpectedValueT[i];
        FUZZ_CHECK(std::strcmp(row.field, s.defaults[i].field) == 0);
        FUZZ_CHECK(Terminated(row.value, sizeof row.value));
    }
    if (result == CFG_FILE_ERROR) {
        return 0;
    }

    // A number taken from the file is the number it says.
    ExpectedValuesTableInit();
    FUZZ_CHECK(Terminated(verifyTestExpectedValue.fwVersion, sizeof verifyTestExpectedValue.fwVersion));
    FUZZ_CHECK(std::strcmp(verifyTestExpectedValue.fwVersion, CfgSearchField("fwversion")) == 0);
    for (size_t i = 0; i + 1 < rows; ++i) {
        const auto& row = configFileExpectedValueT[i];
        const VK_UINT16* number = ExpectedNumber(row.field);
        if (row.expectedValueSrc != EXPECTED_VALUE_CFGFILE || number == nullptr ||
            std::strchr(row.value, '.') != nullptr) {
            continue;
        }
        char* end = nullptr;
        const unsigned long said = std::strtoul(row.value, &end, 10);
        FUZZ_CHECK(*end == '\0' && row.value[0] != '\0');
        FUZZ_CHECK(said == *number);
    }
    return 0;
}
