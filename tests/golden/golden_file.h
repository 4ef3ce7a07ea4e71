// Golden files: outputs of the tool written out by hand from its documentation, compared byte for
// byte. A mismatch reports where the first differing byte is, not two pages of text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace golden {

inline std::string Read(const std::string& name) {
    std::ifstream in(std::string(QUORVEL_GOLDEN_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline ::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
    if (got == want) {
        return ::testing::AssertionSuccess();
    }
    const size_t n = std::min(got.size(), want.size());
    size_t at = 0;
    while (at < n && got[at] == want[at]) {
        ++at;
    }
    const size_t from = at < 40 ? 0 : at - 40;
    return ::testing::AssertionFailure()
           << "first difference at byte " << at << " (got " << got.size() << " bytes, want " << want.size()
           << ")\n  got:  " << ::testing::PrintToString(got.substr(from, 80))
           << "\n  want: " << ::testing::PrintToString(want.substr(from, 80));
}

} // namespace golden
