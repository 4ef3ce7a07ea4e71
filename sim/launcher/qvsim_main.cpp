// qvsim: runs one command on a simulated host in a fresh mount namespace.
#include <dirent.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvsim/sandbox.h"
#include "qvsim/scenario.h"

namespace {

constexpr int kSetupFailed = 125;

void usage() {
    std::fprintf(stderr, "usage: qvsim [--scenario FILE] [--log FILE] [--preload LIB] -- COMMAND [ARG...]\n"
                         "       qvsim --print-default\n");
}

std::string self_dir() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    std::string p(buf);
    return p.substr(0, p.rfind('/'));
}

std::string absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/')
        return p;
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr)
        return p;
    return std::string(cwd) + "/" + p;
}

#if defined(__SANITIZE_ADDRESS__)
int find_asan(dl_phdr_info* info, size_t, void* out) {
    if (info->dlpi_name != nullptr && std::strstr(info->dlpi_name, "libasan.so") != nullptr) {
        *static_cast<std::string*>(out) = info->dlpi_name;
        return 1;
    }
    return 0;
}
#endif

constexpr const char* kScenarioFile = "scenario.json";

// Removes the (empty from here) directories the child mounted on and the scenario file we wrote;
// never removes other files.
void remove_run_dir(const std::string& dir) {
    ::unlink((dir + "/" + kScenarioFile).c_str());
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
                continue;
            ::rmdir((dir + "/" + e->d_name).c_str());
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

[[noreturn]] void child(const qvsim::Scenario& scenario, const std::string& run_dir,
                        const std::string& preload, const std::string& log, char** command) {
    std::string error;
    if (!qvsim::enter_private_namespace(&error)) {
        std::fprintf(stderr, "qvsim: %s\n", error.c_str());
        std::_Exit(kSetupFailed);
    }
    qvsim::Sandbox::Options opt;
    opt.register_devices = false;
    opt.staging_parent = run_dir;
    qvsim::Sandbox* host = nullptr;
    try {
        host = new qvsim::Sandbox(scenario, opt); // lives on in the exec'd image's mounts
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvsim: cannot set up the simulated host: %s\n", e.what());
        std::_Exit(kSetupFailed);
    }
    if (!host->verify()) {
        std::fprintf(stderr, "qvsim: simulated host markers missing\n");
        std::_Exit(kSetupFailed);
    }
    std::string preload_list = preload;
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime must come before anything else that is preloaded.
    std::string asan;
    dl_iterate_phdr(find_asan, &asan);
    if (!asan.empty())
        preload_list = asan + ":" + preload_list;
    std::string asan_options = "verify_asan_link_order=0";
    if (const char* old = std::getenv("ASAN_OPTIONS"); old != nullptr && *old != '\0') {
        asan_options = std::string(old) + ":" + asan_options;
    }
    ::setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
#endif
    if (const char* old = std::getenv("LD_PRELOAD"); old != nullptr && *old != '\0') {
        preload_list.append(":").append(old);
    }
    ::setenv("LD_PRELOAD", preload_list.c_str(), 1);
    // A scenario of any size reaches the preload as a file: the environment holds at most 128 KiB
    // in one string, and an inventory host is larger.
    ::setenv("QVSIM_SCENARIO", ("@" + run_dir + "/" + kScenarioFile).c_str(), 1);
    ::setenv("QVSIM_TOKEN", host->token().c_str(), 1);
    if (!log.empty()) {
        ::setenv("QVSIM_LOG", log.c_str(), 1);
    } else {
        ::unsetenv("QVSIM_LOG");
    }
    ::execvp(command[0], command);
    std::fprintf(stderr, "qvsim: cannot run %s: %s\n", command[0], std::strerror(errno));
    std::_Exit(127);
}

} // namespace

int main(int argc, char** argv) {
    std::string scenario_file, log, preload = self_dir() + "/libqvsim_preload.so";
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--print-default") {
            std::fputs(qvsim::Scenario::builtin_default_json(), stdout);
            return 0;
        }
        if ((a == "--scenario" || a == "--log" || a == "--preload") && i + 1 < argc) {
            std::string v = argv[++i];
            (a == "--scenario" ? scenario_file : a == "--log" ? log : preload) = v;
            continue;
        }
        usage();
        return 2;
    }
    if (i >= argc) {
        usage();
        return 2;
    }
    char** command = argv + i;

    qvsim::Scenario scenario;
    try {
        scenario =
            scenario_file.empty() ? qvsim::Scenario::builtin_default() : qvsim::Scenario::load(scenario_file);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvsim: %s\n", e.what());
        return 2;
    }
    preload = absolute(preload);
    if (::access(preload.c_str(), R_OK) != 0) {
        std::fprintf(stderr, "qvsim: no preload library %s\n", preload.c_str());
        return kSetupFailed;
    }
    if (!log.empty()) {
        log = absolute(log);
        int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) {
            std::fprintf(stderr, "qvsim: cannot write %s: %s\n", log.c_str(), std::strerror(errno));
            return 2;
        }
        ::close(fd);
    }
    char templ[] = "/tmp/qvsim-run.XXXXXX";
    if (::mkdtemp(templ) == nullptr) {
        std::fprintf(stderr, "qvsim: mkdtemp: %s\n", std::strerror(errno));
        return kSetupFailed;
    }
    std::string run_dir = templ;
    {
        std::string path = run_dir + "/" + kScenarioFile;
        std::string text = scenario.to_json().dump();
        FILE* f = std::fopen(path.c_str(), "we");
        bool ok = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (f != nullptr && std::fclose(f) != 0)
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "qvsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            remove_run_dir(run_dir);
            return kSetupFailed;
        }
    }

    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid < 0) {
        std::fprintf(stderr, "qvsim: fork: %s\n", std::strerror(errno));
        remove_run_dir(run_dir);
        return kSetupFailed;
    }
    if (pid == 0)
        child(scenario, run_dir, preload, log, command);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            std::fprintf(stderr, "qvsim: waitpid: %s\n", std::strerror(errno));
            status = kSetupFailed << 8;
            break;
        }
    }
    remove_run_dir(run_dir);
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return kSetupFailed;
}
