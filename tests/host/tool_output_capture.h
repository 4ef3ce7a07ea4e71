// Runs a piece of the tool and keeps what it printed and what it wrote to its log file.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace tool_host {

struct Captured {
    std::string out;
    std::string log;
};

// `log_file` is the tool's log (a temporary file); it is emptied after each run.
inline Captured CaptureRun(FILE* log_file, const std::function<void()>& f) {
    Captured c;
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    c.out = testing::internal::GetCapturedStdout();
    std::fflush(log_file);
    std::rewind(log_file);
    char chunk[512];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, log_file)) > 0) {
        c.log.append(chunk, n);
    }
    std::rewind(log_file);
    EXPECT_EQ(ftruncate(fileno(log_file), 0), 0);
    return c;
}

} // namespace tool_host
