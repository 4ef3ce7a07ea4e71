// The tool's start-up road on the simulated host: both libraries started, controller discovery and
// one data area per controller, against a baseline that sends the same open/ioctl/close sequence to
// the same simulated nodes with no library logic. That baseline skips the sysfs reads that discovery
// cannot do without, so a second one adds them, each done once with plain C library calls. Also the
// peak resident memory of `quorvel version`. Root only: the process moves into a private mount
// namespace first.
#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <linux/cciss_ioctl.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"
#include "qvsim/fw_state.h"
#include "qvsim/qvsim.h"

namespace {

constexpr int kMaxControllers = 7;
const char* const kDrivers[] = {"qzvk", "qzdvk", "qzdvkc", "qzdvkg", "qzdvkw", "veskdq", "veskdqg"};

qvsim::Scenario MakeScenario(int controllers) {
    qvsim::Scenario s;
    for (int i = 0; i < controllers; ++i) {
        const std::string pci = "0000:1" + std::to_string(i) + ":00.0";
        qvsim::Controller& c =
            std::strncmp(kDrivers[i], "vesk", 4) == 0
                ? s.add_pqi(kDrivers[i], pci, static_cast<unsigned>(2 + i), static_cast<unsigned>(1 + i))
                : s.add_ciss(kDrivers[i], pci, static_cast<unsigned>(2 + i), static_cast<unsigned>(1 + i));
        c.firmware = std::make_shared<qvsim::FwController>();
    }
    return s;
}

// One simulated host at a time, kept while consecutive benchmarks use the same number of controllers.
std::unique_ptr<qvsim::Sandbox> gHost;
int gHostControllers = -1;

qvsim::Sandbox& Host(int controllers) {
    if (gHostControllers != controllers) {
        gHost.reset();
        gHost = std::make_unique<qvsim::Sandbox>(MakeScenario(controllers));
        gHostControllers = controllers;
    }
    return *gHost;
}

// What the tool does before its command runs. Data areas come from `spare` when it holds some (memory
// already touched), else from the allocator as in the tool. Returns the number initialised.
int StartUp(std::vector<PCDA>& areas, std::vector<PCDA>& spare, DeviceDescriptorList& list) {
    InitializeTelmar("0x6D2A");
    InitializePavlin("0x6D2A");
    list = PN_CreateControllerDescriptorList();
    DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
    while (!PN_IsDeviceListIteratorEnd(it) && areas.size() < kMaxControllers) {
        PCDA area = nullptr;
        if (spare.empty()) {
            area = VK_malloc(VK_GetCDASize());
        } else {
            area = spare.back();
            spare.pop_back();
        }
        areas.push_back(area);
        if (VK_InitializeCDA(area, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
            break;
        }
        PN_MoveDeviceListIteratorNext(it);
    }
    const bool all = PN_IsDeviceListIteratorEnd(it);
    PN_DestroyDeviceListIterator(it);
    return all ? static_cast<int>(areas.size()) : -1;
}

// Undoes StartUp; the areas go back to `spare`, or to the allocator when `keep` is false.
void TearDown(std::vector<PCDA>& areas, std::vector<PCDA>& spare, DeviceDescriptorList list, bool keep) {
    for (PCDA area : areas) {
        VK_UnInitializeCDA(area);
        if (keep) {
            spare.push_back(area);
        } else {
            VK_free(area);
        }
    }
    areas.clear();
    PN_DestroyDeviceDescriptorList(list);
}

// Both libraries, discovery and the data areas. range(1) 1: the data areas' memory is fresh from the
// allocator in each run, as in the tool; 0: it is reused, so only the library's own work counts.
void BM_LibraryStartUp(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    const bool fresh = state.range(1) != 0;
    qvsim::Sandbox& host = Host(controllers);
    std::vector<PCDA> areas, spare;
    DeviceDescriptorList list = nullptr;
    for (auto _ : state) {
        const int started = StartUp(areas, spare, list);
        state.PauseTiming();
        TearDown(areas, spare, list, !fresh);
        host.clear_requests();
        if (fresh) {
            // The allocator may hand the next areas out of free heap memory that earlier runs touched;
            // giving its free pages back keeps them as untouched as a new process's.
            malloc_trim(0);
        }
        if (started != controllers) {
            state.SkipWithError("a data area failed to initialise");
            break;
        }
        state.ResumeTiming();
    }
    for (PCDA area : spare) {
        VK_free(area);
    }
}

// The discovery part of the start-up alone.
void BM_LibraryDiscovery(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    Host(controllers);
    InitializeTelmar("0x6D2A");
    InitializePavlin("0x6D2A");
    for (auto _ : state) {
        DeviceDescriptorList list = PN_CreateControllerDescriptorList();
        benchmark::DoNotOptimize(list);
        state.PauseTiming();
        PN_DestroyDeviceDescriptorList(list);
        gHost->clear_requests();
        state.ResumeTiming();
    }
}

// The requests of one start-up, replayed without the libraries: an open, its ioctl, a close.
struct Step {
    std::string node;
    unsigned long request = 0; // 0: open
    std::vector<unsigned char> cdb;
    unsigned direction = 0;
    unsigned buf_size = 0;
    unsigned timeout = 0;
};

std::vector<unsigned char> FromHex(const std::string& text) {
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 3) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<Step> RecordStartUp(qvsim::Sandbox& host) {
    std::vector<PCDA> areas, spare;
    DeviceDescriptorList list = nullptr;
    host.clear_requests();
    StartUp(areas, spare, list);
    TearDown(areas, spare, list, false);
    std::vector<Step> steps;
    for (const auto& r : host.requests()) {
        Step s;
        s.node = r.node;
        s.request = r.op == "open" ? 0 : r.request;
        if (r.request == CCISS_PASSTHRU) {
            s.cdb = FromHex(r.decoded.value("cdb", ""));
            s.direction = r.decoded.value("direction", 0u);
            s.buf_size = r.decoded.value("buf_size", 0u);
            s.timeout = r.decoded.value("timeout", 0u);
        }
        steps.push_back(std::move(s));
    }
    host.clear_requests();
    return steps;
}

bool Replay(const std::vector<Step>& steps, std::vector<unsigned char>& buffer) {
    int fd = -1;
    bool ok = true;
    for (const Step& s : steps) {
        if (s.request == 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            fd = ::open(s.node.c_str(), O_RDWR);
            ok = ok && fd >= 0;
        } else if (s.request == CCISS_GETPCIINFO) {
            cciss_pci_info_struct info{};
            ok = ok && ::ioctl(fd, CCISS_GETPCIINFO, &info) == 0;
        } else if (s.request == CCISS_PASSTHRU) {
            IOCTL_Command_struct command{};
            command.Request.CDBLen = static_cast<BYTE>(s.cdb.size());
            std::memcpy(command.Request.CDB, s.cdb.data(),
                        std::min(s.cdb.size(), sizeof command.Request.CDB));
            command.Request.Type.Type = TYPE_CMD;
            command.Request.Type.Attribute = ATTR_SIMPLE;
            command.Request.Type.Direction = static_cast<BYTE>(s.direction);
            command.Request.Timeout = static_cast<HWORD>(s.timeout);
            if (buffer.size() < s.buf_size) {
                buffer.resize(s.buf_size);
            }
            command.buf_size = s.buf_size;
            command.buf = buffer.data();
            ok = ok && ::ioctl(fd, CCISS_PASSTHRU, &command) == 0;
        } else {
            ok = false;
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

void BM_BaselineStartUp(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    qvsim::Sandbox& host = Host(controllers);
    const std::vector<Step> steps = RecordStartUp(host);
    std::vector<unsigned char> buffer;
    state.counters["requests"] = static_cast<double>(steps.size());
    for (auto _ : state) {
        if (!Replay(steps, buffer)) {
            state.SkipWithError("a replayed request failed");
            break;
        }
        state.PauseTiming();
        host.clear_requests();
        state.ResumeTiming();
    }
}

// The sysfs reads that discovery cannot do without, each done once with plain C library calls: every
// driver directory of the list, each device link resolved, each SCSI generic device's type file
// resolved, and the type and class files of each controller read. Returns the controllers found.
int SysfsReads() {
    static const char* const kDriverNames[] = {"qzvk",     "qzdvk",   "qzdvkc",  "qzdvkg",
                                               "qzdvkw",   "veskdq",  "veskdqg", "veskdq2",
                                               "veskdq2g", "xovraid", "veskpqi", "veskswr"};
    char resolved[PATH_MAX];
    std::vector<std::string> controllers;
    for (const char* name : kDriverNames) {
        const std::string dir = std::string("/sys/bus/pci/drivers/") + name;
        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) {
            continue;
        }
        for (dirent* e = ::readdir(d); e != nullptr; e = ::readdir(d)) {
            if (e->d_type == DT_LNK && ::realpath((dir + "/" + e->d_name).c_str(), resolved) != nullptr &&
                std::strncmp(resolved, "/sys/devices/", 13) == 0) {
                controllers.emplace_back(resolved);
            }
        }
        ::closedir(d);
    }
    std::vector<std::pair<std::string, std::string>> generic; // name, resolved type file
    if (DIR* d = ::opendir("/sys/class/scsi_generic/")) {
        for (dirent* e = ::readdir(d); e != nullptr; e = ::readdir(d)) {
            const std::string type = std::string("/sys/class/scsi_generic/") + e->d_name + "/device/type";
            if (e->d_type == DT_LNK && ::realpath(type.c_str(), resolved) != nullptr) {
                generic.emplace_back(e->d_name, resolved);
            }
        }
        ::closedir(d);
    }
    auto first_line = [](const std::string& path) {
        char line[64] = {};
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            if (std::fgets(line, sizeof(line), f) == nullptr) {
                line[0] = '\0';
            }
            std::fclose(f);
        }
        return std::string(line);
    };
    int found = 0;
    for (const std::string& controller : controllers) {
        for (const auto& [name, type] : generic) {
            if (type.compare(0, controller.size() + 1, controller + "/") == 0 &&
                first_line(type).rfind("12", 0) == 0) {
                ++found;
                break;
            }
        }
        benchmark::DoNotOptimize(first_line(controller + "/class"));
    }
    return found;
}

// The baseline with the sysfs reads above: what discovery and the data areas need at the least.
void BM_BaselineWithSysfsStartUp(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    qvsim::Sandbox& host = Host(controllers);
    const std::vector<Step> steps = RecordStartUp(host);
    std::vector<unsigned char> buffer;
    for (auto _ : state) {
        if (SysfsReads() != controllers || !Replay(steps, buffer)) {
            state.SkipWithError("a sysfs read or a replayed request failed");
            break;
        }
        state.PauseTiming();
        host.clear_requests();
        state.ResumeTiming();
    }
}

// Peak resident memory (VmHWM) of one run of the tool on this host, in KiB, read when the process
// exits. The rusage of a forked child would also count the pages it shared with this process before
// its exec. Every run here carries the simulated host's preload library.
long PeakResidentKiB(qvsim::Sandbox& host, const char* command) {
    const std::string scenario = host.scenario().to_json().dump();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        char dir[] = "/tmp/quorvel-bench.XXXXXX";
        if (::mkdtemp(dir) == nullptr || ::chdir(dir) != 0) {
            ::_exit(126);
        }
        ::setenv("LD_PRELOAD", QVSIM_PRELOAD, 1);
        ::setenv("QVSIM_SCENARIO", scenario.c_str(), 1);
        ::setenv("QVSIM_TOKEN", host.token().c_str(), 1);
        ::unsetenv("QVSIM_LOG");
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        ::execl(QUORVEL_BIN, QUORVEL_BIN, command, static_cast<char*>(nullptr));
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
    return (WIFEXITED(status) && WEXITSTATUS(status) == 0) ? peak : -1;
}

void BM_QuorvelPeakMemory(benchmark::State& state) {
    const int controllers = static_cast<int>(state.range(0));
    qvsim::Sandbox& host = Host(controllers);
    long version = 0, help = 0;
    for (auto _ : state) {
        version = PeakResidentKiB(host, "version");
        help = PeakResidentKiB(host, "help");
    }
    if (version < 0 || help < 0) {
        state.SkipWithError("quorvel failed");
        return;
    }
    state.counters["version_peak_rss_KiB"] = static_cast<double>(version);
    state.counters["help_peak_rss_KiB"] = static_cast<double>(help);
    state.counters["data_areas_KiB"] = static_cast<double>(controllers * VK_GetCDASize()) / 1024.0;
}

BENCHMARK(BM_LibraryStartUp)
    ->ArgsProduct({{1, 2, 4, 7}, {0, 1}})
    ->ArgNames({"controllers", "fresh"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibraryDiscovery)->Arg(1)->Arg(2)->Arg(4)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineStartUp)->Arg(1)->Arg(2)->Arg(4)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BaselineWithSysfsStartUp)->Arg(1)->Arg(2)->Arg(4)->Arg(7)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuorvelPeakMemory)->Arg(7)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    // The tool's data areas are its first large allocations, so each one is a fresh mapping. Without
    // this the allocator raises its mapping threshold after the first free and later "fresh" areas may
    // come back from the heap already touched, depending on what else lies above them.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    std::string error;
    if (!qvsim::enter_private_namespace(&error)) {
        std::fprintf(stderr, "startup_bench: cannot enter a private mount namespace: %s\n", error.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gHost.reset();
    return 0;
}
