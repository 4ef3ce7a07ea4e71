// Runs the real quorvel binary through the launcher on a simulated host, in a directory of its own,
// and collects what an operator would see: standard output, the exit code, diagslog.txt, and the
// commands the simulated controllers received.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qvtest {

// One CDB that reached a simulated controller, as "26 00 ... 00".
struct Command {
    std::string node;
    std::string cdb;
    bool operator==(const Command&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Command& c) {
    return os << c.node << ": " << c.cdb;
}

struct Run {
    int status = -1;
    std::string out;
    std::optional<std::string> log;       // diagslog.txt, none when the run left no such file
    std::vector<nlohmann::json> requests; // every open and ioctl on a simulated node, in order

    // The CDBs of every pass-through request, in order.
    std::vector<Command> commands() const {
        std::vector<Command> list;
        for (const auto& r : requests) {
            if (r.value("op", "") == "ioctl" && r.contains("decoded") && r["decoded"].is_object() &&
                r["decoded"].contains("cdb")) {
                list.push_back({r.value("node", ""), r["decoded"]["cdb"].get<std::string>()});
            }
        }
        return list;
    }
};

// A fresh working directory, removed with everything in it at the end.
class WorkDir {
public:
    WorkDir() {
        char tmpl[] = "/tmp/quorvel-e2e.XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = tmpl;
    }
    ~WorkDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;

    const std::string& path() const { return path_; }
    std::string at(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& content) const {
        std::ofstream(at(name), std::ios::binary) << content;
    }
    std::optional<std::string> read(const std::string& name) const {
        std::ifstream in(at(name), std::ios::binary);
        if (!in) {
            return std::nullopt;
        }
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
};

// The launcher's scenario and request log live beside the working directory, so the tool sees only
// the files a test puts there.
inline Run RunQuorvel(const WorkDir& dir, const nlohmann::json& scenario,
                      const std::vector<std::string>& args) {
    const std::string scenario_file = dir.path() + ".scenario.json";
    const std::string request_log = dir.path() + ".requests.jsonl";
    std::ofstream(scenario_file) << scenario.dump();

    std::vector<std::string> command = {QVSIM_LAUNCHER, "--scenario", scenario_file, "--log",
                                        request_log,    "--",         QUORVEL_BIN};
    command.insert(command.end(), args.begin(), args.end());

    Run run;
    int pipefd[2];
    if (::pipe(pipefd) != 0) {
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        if (::chdir(dir.path().c_str()) != 0) {
            ::_exit(126);
        }
        std::vector<char*> argv;
        for (auto& a : command) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) {
        run.out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);

    run.log = dir.read("diagslog.txt");
    std::ifstream in(request_log);
    for (std::string line; std::getline(in, line);) {
        run.requests.push_back(nlohmann::json::parse(line));
    }
    std::remove(scenario_file.c_str());
    std::remove(request_log.c_str());
    return run;
}

// The log header of a run with these arguments; its time stamp is "<time>" (see MaskTimes).
inline std::string LogHeader(const std::vector<std::string>& args) {
    std::string header = std::string(80, '-') + "\r\n" + "Quorvel Version 5.6.1 \n" + QUORVEL_BIN + " ";
    for (const auto& a : args) {
        header += a + " ";
    }
    return header + "/ <time>\n \r\n";
}

// Replaces the time stamp of every log header with "<time>"; the stamp's layout is checked here.
inline std::string MaskTimes(const std::string& log) {
    static const std::regex stamp(
        R"(/ (Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] )"
        R"([0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n \r\n)");
    return std::regex_replace(log, stamp, "/ <time>\n \r\n");
}

// A controller of the scenario with one SCSI generic node /dev/sg<minor>; `firmware` gives it the
// stateful simulated firmware, otherwise it answers every command with ILLEGAL REQUEST.
inline nlohmann::json Controller(const std::string& driver, const std::string& pci, unsigned host,
                                 unsigned minor, bool firmware = true) {
    nlohmann::json c = {{"driver", driver},
                        {"protocol", driver.rfind("vesk", 0) == 0 ? "pqi" : "ciss"},
                        {"pci_address", pci},
                        {"hosts", {host}},
                        {"scsi", {{{"sg", "sg" + std::to_string(minor)}, {"minor", minor}, {"type", "12"}}}}};
    if (firmware) {
        c["fw"] = nlohmann::json::object();
    }
    return c;
}

inline nlohmann::json Scenario(std::vector<nlohmann::json> controllers) {
    return {{"controllers", controllers}};
}

// One command as a simulated controller received it: the CDB, the data going out, and for a TEST UNIT
// READY the LUN address of the drive it went to.
struct Sent {
    std::string cdb;
    std::string data_out;
    std::string lun{};
    bool operator==(const Sent&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Sent& s) {
    return os << s.cdb << (s.data_out.empty() ? "" : " | " + s.data_out) << (s.lun.empty() ? "" : " @ " + s.lun);
}

// The start-up reads every command sends first.
inline const Sent kIdentify{"26 00 00 00 00 00 11 04 00 00 00 00 00 00 00 00", ""};
inline const Sent kParameters{"26 00 00 00 00 00 64 01 58 00 00 00 00 00 00 00", ""};
inline const Sent kCacheStatus{"26 00 00 00 00 00 C1 02 00 00 00 00 00 00 00 00", ""};

// The commands that reached `node`, in order.
inline std::vector<Sent> Received(const Run& run, const std::string& node) {
    std::vector<Sent> out;
    for (const auto& r : run.requests) {
        if (r.value("op", "") != "ioctl" || !r.contains("decoded") || !r["decoded"].is_object() ||
            !r["decoded"].contains("cdb") || r.value("node", "") != node) {
            continue;
        }
        const nlohmann::json& d = r["decoded"];
        const std::string cdb = d["cdb"].get<std::string>();
        out.push_back({cdb, d.contains("data_out") ? d["data_out"].get<std::string>() : "",
                       cdb.rfind("00 ", 0) == 0 && d.contains("lun") ? d["lun"].get<std::string>() : ""});
    }
    return out;
}


} // namespace qvtest
