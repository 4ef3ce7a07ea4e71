// What the benchmarks that run the tool need around it: the tool's main run in this process with its
// output thrown away, what a process exit would release, and the peak resident memory of the real
// binary.
#pragma once

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "qvsim/qvsim.h"

namespace bench_replay {

// Peak resident memory (VmHWM) of one run of the tool on this host, in KiB, read when the process
// exits. The rusage of a forked child would also count the pages it shared with this process before
// its exec. Every run here carries the simulated host's preload library.
inline long PeakResidentKiB(qvsim::Sandbox& host, std::vector<std::string> args, const char* binary,
                            const char* preload) {
    // The scenario goes by file: a large host does not fit in one environment string.
    char scenario_file[] = "/tmp/quorvel-bench-scenario.XXXXXX";
    const int scenario_fd = ::mkstemp(scenario_file);
    if (scenario_fd < 0) {
        return -1;
    }
    const std::string scenario_json = host.scenario().to_json().dump();
    const bool written = ::write(scenario_fd, scenario_json.data(), scenario_json.size()) ==
                         static_cast<ssize_t>(scenario_json.size());
    ::close(scenario_fd);
    if (!written) {
        ::unlink(scenario_file);
        return -1;
    }
    const std::string scenario = std::string("@") + scenario_file;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        char dir[] = "/tmp/quorvel-bench.XXXXXX";
        if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) {
            ::_exit(126);
        }
        ::setenv("LD_PRELOAD", preload, 1);
        ::setenv("QVSIM_SCENARIO", scenario.c_str(), 1);
        ::setenv("QVSIM_TOKEN", host.token().c_str(), 1);
        ::unsetenv("QVSIM_LOG");
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        std::vector<char*> argv{const_cast<char*>(binary)};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(binary, argv.data());
        ::_exit(127);
    }
    long peak = -1;
    int status = 0;
    // Stopped at the exec: follow it to its exit.
    if (::waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
        ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, reinterpret_cast<void*>(PTRACE_O_TRACEEXIT));
        ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
        while (::waitpid(pid, &status, 0) == pid && WIFSTOPPED(status)) {
            if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                std::ifstream in("/proc/" + std::to_string(pid) + "/status");
                for (std::string line; std::getline(in, line);) {
                    if (line.rfind("VmHWM:", 0) == 0) {
                        peak = std::stol(line.substr(6));
                    }
                }
                ::ptrace(PTRACE_CONT, pid, nullptr, nullptr);
            } else {
                ::ptrace(PTRACE_CONT, pid, nullptr,
                         reinterpret_cast<void*>(static_cast<long>(WSTOPSIG(status))));
            }
        }
    }
    ::unlink(scenario_file);
    return (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? peak : -1;
}

} // namespace bench_replay
