// Fault sweep: every command that runs today, on a simulated controller. A clean run records the
// requests the command sends; then each of those requests in turn is failed in each of six ways, and
// every run must end cleanly: no crash, no hang, memory bounded, and exactly what its transcript says.
//
// Transcripts: tests/golden/fault_sweep/<row>/clean.txt holds the clean run (exit code, standard
// output, every request with its CDB); <row>/<fault>.txt holds, for each request failed in that way,
// the exit code, the standard output and the CDBs sent after the failed request. They are compared
// byte for byte. When behaviour changes on purpose, rewrite them and read the diff before committing:
//
//   QUORVEL_REWRITE_TRANSCRIPTS=1 ctest --test-dir build -R FaultSweep
//
// (or run build/tests/sim/sim_tests --gtest_filter='*FaultSweep*' with that variable set). A rewrite
// still fails a row whose run crashed, hung or grew past the memory bound: those are never written
// down as expected. A new command joins with one row of Rows() and a rewrite.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "golden_file.h"
#include "quorvel_run.h"

namespace {

using json = nlohmann::json;
using qvtest::WorkDir;

const std::string kNode = "/dev/sg1";

// A run may not grow past this (the launcher, the simulator and the tool together). A reply that
// made the tool allocate what a damaged length field asked for would pass it many times over.
constexpr long kMaxResidentKiB = 256 * 1024;

// ---- The six ways a request fails ----------------------------------------------------------------

enum class Fault { kIoctlEio, kCheckCondition, kShortTransfer, kHostStatus, kCommandStatus, kLengthMax };

constexpr Fault kFaults[] = {Fault::kIoctlEio,   Fault::kCheckCondition, Fault::kShortTransfer,
                             Fault::kHostStatus, Fault::kCommandStatus,  Fault::kLengthMax};

const char* Name(Fault f) {
    switch (f) {
        case Fault::kIoctlEio:
            return "IoctlEio";
        case Fault::kCheckCondition:
            return "CheckCondition";
        case Fault::kShortTransfer:
            return "ShortTransfer";
        case Fault::kHostStatus:
            return "HostStatus";
        case Fault::kCommandStatus:
            return "CommandStatus";
        default:
            return "LengthMax";
    }
}

// CISS command status values, as the driver hands them back in the pass-through record.
constexpr int kCissTargetStatus = 1;
constexpr int kCissDataUnderrun = 2;
constexpr int kCissInvalid = 4;
constexpr int kCissHardwareError = 6;

// One ioctl of a clean run on the controller's node.
struct Request {
    int ioctl = 0;   // 1-based among the node's ioctls
    int command = 0; // 1-based among its pass-through commands; 0 for the other requests
    std::string name;
    std::string cdb;
    std::size_t size = 0;
};

std::vector<int> CdbBytes(const std::string& cdb) {
    std::vector<int> bytes;
    for (size_t i = 0; i + 2 <= cdb.size(); i += 3) {
        bytes.push_back(std::stoi(cdb.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// Where a reply states its own length, as the controller's formats place it.
struct LengthField {
    size_t offset;
    size_t width;
};

std::optional<LengthField> LengthFieldOf(const Request& r) {
    const std::vector<int> b = CdbBytes(r.cdb);
    if (b.empty()) {
        return std::nullopt;
    }
    if (b[0] == 0xC2 || b[0] == 0xC3) { // REPORT LOGICAL / PHYSICAL LUNS: the list length
        return LengthField{0, 4};
    }
    if (b[0] != 0x26 || b.size() < 7) {
        return std::nullopt;
    }
    switch (b[6]) { // BMIC reads that state their own length (a total structure length unless noted)
        case 0x11:
            return LengthField{196, 4};
        case 0x64:
            return LengthField{188, 4};
        case 0xC1:
            return LengthField{16, 4};
        case 0x66:
            return LengthField{704, 4};
        case 0x59:
            return LengthField{44, 4};
        case 0x61: // feature pages: the 16-bit length of the pages that follow
            return LengthField{2, 2};
        case 0x78: // sensors: their count, which sizes the read again
            return LengthField{0, 4};
        case 0x77: // controller log: the size a 4-byte size request answers
            return b.size() > 8 && b[7] == 0 && b[8] == 4 ? std::optional<LengthField>(LengthField{0, 4})
                                                          : std::nullopt;
        default:
            return std::nullopt;
    }
}

// The controller fault that fails `r` in the way `f`; none when `f` has no meaning for that request
// (only a pass-through command has a SCSI status, a transfer, a command status and a reply).
std::optional<json> FaultFor(const Request& r, Fault f) {
    if (f == Fault::kIoctlEio) {
        return json{{"request", 0}, {"nth", r.ioctl}, {"count", 1}, {"errno", 5}};
    }
    if (r.command == 0) {
        return std::nullopt;
    }
    json j = {{"nth", r.command}, {"count", 1}};
    switch (f) {
        case Fault::kCheckCondition: // hardware error, internal target failure
            j["scsi_status"] = 2;
            j["command_status"] = kCissTargetStatus;
            j["sense"] = {0x70, 0, 0x04, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x44, 0};
            break;
        case Fault::kShortTransfer: // half the data moved; the controller reports the underrun
            j["data_in_length"] = r.size / 2;
            j["reported_data_length"] = r.size / 2;
            j["command_status"] = kCissDataUnderrun;
            break;
        case Fault::kHostStatus: // the adapter failed the command
            j["command_status"] = kCissHardwareError;
            break;
        case Fault::kCommandStatus: // the controller refused the request
            j["command_status"] = kCissInvalid;
            break;
        default: { // the reply states the largest length its field can hold
            const std::optional<LengthField> field = LengthFieldOf(r);
            if (!field || field->offset + field->width > r.size) {
                return std::nullopt;
            }
            j["patch_offset"] = field->offset;
            j["patch_bytes"] = std::vector<int>(field->width, 0xFF);
            break;
        }
    }
    return j;
}

// ---- The commands --------------------------------------------------------------------------------

// A command of the table: its arguments, the controller's diagnostics and firmware fields, and the
// files it finds in its working directory.
struct Row {
    std::string name;
    std::vector<std::string> args;
    json diag = json::object();
    std::vector<std::pair<std::string, std::string>> files{};
    json fw = json::object();
    // Every command sends the same start-up requests first; one row sweeps them for all.
    bool sweeps_start_up = false;
};

const std::string kSerialLog = "POST complete\nALERT: Cache signature does not match expected value!\n"
                               "WARNING: Backup power: msg type =0x200";

std::vector<Row> Rows() {
    std::vector<Row> rows;
    // Start-up alone: nothing of its own after the start-up reads.
    rows.push_back({"version", {"version"}});
    rows.back().sweeps_start_up = true;

    // Whole tests run once; each keyword twice, so that the run is seen to go on after a failure.
    const std::vector<std::pair<std::string, std::vector<std::string>>> diagnostics = {
        {"cachetest", {"lfsrfill", "patternfill", "walkingones", "walkingzeros", "datainversion"}},
        {"memorytest", {"movinginversionlong", "movinginversionturbo", "movinginversionfbt", "getcorrectedecccount"}},
        {"sastest", {"wrrdcomp", "longwrrdcomp"}},
        {"saspatterntest", {"jtpat", "random", "jtpatrandom", "d10.2hfreq", "jtpatd10.2hfreq"}}};
    for (const auto& [command, keywords] : diagnostics) {
        rows.push_back({command, {command, "1", "1"}});
        for (const std::string& keyword : keywords) {
            rows.push_back({command + "_" + keyword, {command, "1", keyword, "2"}});
        }
    }
    rows.push_back({"ctrlledtest", {"ctrlledtest", "1", "2"}});
    rows.push_back({"mramtest_datafill", {"mramtest", "1", "datafill"}});
    rows.push_back({"mramtest_dataverify", {"mramtest", "1", "dataverify"}, {{"mram", {{"fill", "55 AA"}}}}});
    rows.push_back({"fwdiagrevision", {"fwdiagrevision", "1"}, {{"revision", "05 59 01 00"}}});
    rows.push_back({"sobmessagecounters_zero",
                    {"sobmessagecounters", "1"},
                    {{"message_counters", {{"alerts", 0}, {"errors", 0}, {"warnings", 0}}}}});
    rows.push_back({"sobmessagecounters_log",
                    {"sobmessagecounters", "1"},
                    {{"message_counters", {{"alerts", 1}, {"errors", 0}, {"warnings", 1}}},
                     {"logs", {{"serial_output", kSerialLog}}}}});

    // The verifications and reports on the default controller.
    rows.push_back({"verifyfwversion", {"verifyfwversion", "1"}, {}, {{"veskroc.cfg", "fwversion 5.32-0\n"}}});
    for (const char* command : {"verifysystempower", "verifysystemtemperature"}) {
        rows.push_back({command, {command, "1"}});
    }
    rows.push_back({"verifycachesize", {"verifycachesize", "1"}, {}, {{"veskroc.cfg", "cachesize 3856\n"}}});
    for (const char* command : {"verifypcieconfig", "pcieintegritytest", "verifymfg", "verifycpld", "getcacheinfo",
                                "getfwmiscinfo", "getpcieinfo", "getctrlstatusinfo", "getbackuppowerstatus"}) {
        rows.push_back({command, {command, "1"}});
    }
    rows.push_back({"dataretentiontest", {"dataretentiontest", "1", "datafill"}});
    rows.push_back({"listcontrollers", {"listcontrollers"}});

    // The firmware, manufacturing-data and SEEPROM maintenance commands.
    rows.push_back({"set_sn", {"--set-sn=X1", "1"}});
    rows.push_back({"set_wwid", {"--set-wwid=511122223333ABCD", "1"}});
    rows.push_back({"read_mfgdata", {"--read-mfgdata=mfg.bin", "1"}});
    rows.push_back({"flash_nvram", {"--flash-nvram=nv.bin", "1"}, {}, {{"nv.bin", std::string(512, '\x22')}}});
    rows.push_back({"preserve", {"--preserve=nv.bin", "1"}, {}, {{"nv.bin", std::string(512, '\x22')}}});
    rows.push_back({"flash_mfgdata", {"--flash-mfgdata=m.bin", "1"}, {}, {{"m.bin", std::string(256, '\x11')}}});
    // One chunk, no feature pages (so no activation state and no flash-once).
    rows.push_back({"flash",
                    {"--flash=fw.bin", "1"},
                    {},
                    {{"fw.bin", std::string(100, '\x5A')}},
                    {{"feature_pages", json::array()}, {"identify", {{"even_more_flags", 0}}}}});

    // The drive and PHY commands on the legacy HBA controller with two SATA drives.
    std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/sim/scenarios/hba_link_faults.json");
    const json hba = json::parse(in)["controllers"][0]["fw"];
    for (const char* command : {"showdrives", "saslinkratetest", "testunitready", "showctrlphyerrors"}) {
        rows.push_back({command, {command, "1"}, {}, {}, hba});
    }
    rows.back().fw["phy_errors"] = {{{"phy", 0}, {"invalid_dword", 3}}};
    return rows;
}

// The start-up requests every command sends first: discovery's PCI information, then the identify,
// the controller parameters and the cache status.
constexpr int kStartUpRequests = 4;

// Whether the row fails this request of its clean run.
bool Sweeps(const Row& row, const Request& r) {
    return row.sweeps_start_up || r.command >= kStartUpRequests;
}

// ---- Running the tool ----------------------------------------------------------------------------

struct Outcome {
    int status = -1; // exit code; 1000 + signal when killed; -2 when it hung
    std::string out;
    std::string err;
    long max_resident_kib = 0;
    std::vector<Request> requests;
    std::vector<std::string> cdbs;
};

// As qvtest::RunQuorvel, with standard error kept apart, a time limit and the peak memory.
Outcome RunTool(const json& scenario, const std::vector<std::string>& args,
                const std::vector<std::pair<std::string, std::string>>& files = {}) {
    WorkDir dir;
    for (const auto& [name, content] : files) {
        dir.write(name, content);
    }
    const std::string scenario_file = dir.path() + ".scenario.json";
    const std::string request_log = dir.path() + ".requests.jsonl";
    std::ofstream(scenario_file) << scenario.dump();
    std::vector<std::string> command = {QVSIM_LAUNCHER, "--scenario", scenario_file, "--log", request_log, "--",
                                        QUORVEL_BIN};
    command.insert(command.end(), args.begin(), args.end());

    Outcome o;
    int out_pipe[2], err_pipe[2];
    if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
        return o;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
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
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&o.out, &o.err};
    int open_pipes = 2;
    bool hung = false;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            hung = true;
            ::kill(-pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buf[4096];
                const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<size_t>(n));
                } else {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_pipes;
                }
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            ::close(f.fd);
        }
    }
    int status = 0;
    rusage usage{};
    // The launcher waits for the tool, so its peak counts the tool's.
    ::wait4(pid, &status, 0, &usage);
    o.max_resident_kib = usage.ru_maxrss;
    o.status = hung ? -2 : WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);

    std::ifstream in(request_log);
    int ioctls = 0, commands = 0;
    for (std::string line; std::getline(in, line);) {
        const json r = json::parse(line);
        if (r.value("op", "") != "ioctl" || r.value("node", "") != kNode) {
            continue;
        }
        Request q;
        q.ioctl = ++ioctls;
        q.name = r.value("name", "");
        const json& d = r["decoded"];
        if (d.is_object() && d.contains("cdb")) {
            q.command = ++commands;
            q.cdb = d["cdb"].get<std::string>();
            q.size = d.value("buf_size", 0u);
            o.cdbs.push_back(q.cdb);
        }
        o.requests.push_back(q);
    }
    std::remove(scenario_file.c_str());
    std::remove(request_log.c_str());
    return o;
}

json ScenarioFor(const Row& row, const std::optional<json>& fault) {
    json c = qvtest::Controller("qzvk", "0000:3b:00.0", 2, 1);
    c["fw"] = row.fw;
    if (!row.diag.empty()) {
        c["extra"] = {{"diag", row.diag}};
    }
    if (fault) {
        c["faults"] = json::array({*fault});
    }
    return qvtest::Scenario({c});
}

// A run ends by itself, in bounded memory, whatever it was given.
::testing::AssertionResult EndedCleanly(const Outcome& o) {
    if (o.status == -2) {
        return ::testing::AssertionFailure() << "hung (killed after 60 s)";
    }
    if (o.status >= 1000) {
        return ::testing::AssertionFailure() << "killed by signal " << o.status - 1000 << "\n" << o.err;
    }
    if (o.max_resident_kib > kMaxResidentKiB) {
        return ::testing::AssertionFailure() << "grew to " << o.max_resident_kib << " KiB";
    }
    return ::testing::AssertionSuccess();
}

// ---- Transcripts ---------------------------------------------------------------------------------

std::string CommandLine(const Row& row) {
    std::string line = "quorvel";
    for (const auto& a : row.args) {
        line += " " + a;
    }
    return line;
}

// Standard output one line to a transcript line: "|" before, "$" after (trailing blanks show), and
// the bytes a file would not show plainly escaped. A last line without its newline says so.
std::string Quoted(const std::string& text) {
    std::string out;
    std::string line;
    auto flush = [&](bool newline) {
        out += "|" + line + (newline ? "$\n" : "$ (no newline at end)\n");
        line.clear();
    };
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\n') {
            flush(true);
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\\') {
            line += "\\\\";
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            line += hex;
        } else {
            line += c;
        }
    }
    if (!line.empty()) {
        flush(false);
    }
    return out;
}

std::string Describe(const Request& r) {
    std::string text = "ioctl " + std::to_string(r.ioctl) + " " + r.name;
    if (r.command != 0) {
        text += ", command " + std::to_string(r.command) + ": " + r.cdb;
    }
    return text;
}

std::string CleanTranscript(const Row& row, const Outcome& o) {
    std::string t = CommandLine(row) + "\nexit " + std::to_string(o.status) + "\nstdout:\n" + Quoted(o.out) +
                    "requests:\n";
    for (const Request& r : o.requests) {
        t += "  " + Describe(r) + "\n";
    }
    return t;
}

// One failed run: the request failed, the exit code, standard output and the commands sent after it.
std::string FailedSection(const Request& failed, const Outcome& o, size_t commands_before) {
    std::string t = "\n== " + Describe(failed) + " failed\nexit " + std::to_string(o.status) + "\nstdout:\n" +
                    Quoted(o.out) + "commands after:\n";
    const size_t from = commands_before + (failed.command != 0 ? 1 : 0);
    for (size_t i = from; i < o.cdbs.size(); ++i) {
        t += "  " + o.cdbs[i] + "\n";
    }
    return t;
}

bool Rewriting() {
    const char* v = std::getenv("QUORVEL_REWRITE_TRANSCRIPTS");
    return v != nullptr && *v != '\0' && std::string(v) != "0";
}

std::string TranscriptPath(const Row& row, const std::string& file) {
    return "fault_sweep/" + row.name + "/" + file;
}

// Compares with the stored transcript, or writes it when rewriting (whole, then renamed, so that two
// tests writing the same clean transcript never leave half a file).
::testing::AssertionResult MatchesTranscript(const std::string& relative, const std::string& text) {
    const std::string path = std::string(QUORVEL_GOLDEN_DIR) + "/" + relative;
    if (Rewriting()) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        const std::string temporary = path + ".tmp." + std::to_string(::getpid());
        std::ofstream(temporary, std::ios::binary) << text;
        std::filesystem::rename(temporary, path);
        return ::testing::AssertionSuccess();
    }
    if (!std::filesystem::exists(path)) {
        return ::testing::AssertionFailure()
               << relative << " is missing: run with QUORVEL_REWRITE_TRANSCRIPTS=1 and review what it writes";
    }
    return golden::SameBytes(text, golden::Read(relative)) << " in " << relative;
}

// The number of pass-through commands a run sends before its request `i`.
size_t CommandsBefore(const std::vector<Request>& requests, size_t i) {
    size_t n = 0;
    for (size_t k = 0; k < i; ++k) {
        n += requests[k].command != 0 ? 1 : 0;
    }
    return n;
}

// Fails request `i` of the clean run in the way `fault` and gives its section of the transcript.
// Up to the failed request the run must be the clean one.
std::string FailOne(const Row& row, const Outcome& clean, size_t i, const json& fault) {
    const Request& failed = clean.requests[i];
    SCOPED_TRACE(Describe(failed) + " failed");
    const Outcome o = RunTool(ScenarioFor(row, fault), row.args, row.files);
    EXPECT_TRUE(EndedCleanly(o));
    const size_t before = CommandsBefore(clean.requests, i);
    const size_t sent = std::min(before + (failed.command != 0 ? 1 : 0), o.cdbs.size());
    EXPECT_EQ(std::vector<std::string>(o.cdbs.begin(), o.cdbs.begin() + static_cast<long>(sent)),
              std::vector<std::string>(clean.cdbs.begin(), clean.cdbs.begin() + static_cast<long>(sent)))
        << "the run went another way before the failed request";
    return FailedSection(failed, o, before);
}

// ---- The sweep -----------------------------------------------------------------------------------

struct Param {
    size_t row;
    Fault fault;
};

const std::vector<Row>& AllRows() {
    static const std::vector<Row> rows = Rows();
    return rows;
}

std::vector<Param> AllParams() {
    std::vector<Param> params;
    for (size_t r = 0; r < AllRows().size(); ++r) {
        for (Fault f : kFaults) {
            params.push_back({r, f});
        }
    }
    return params;
}

void PrintTo(const Param& p, std::ostream* os) {
    *os << AllRows()[p.row].name << " " << Name(p.fault);
}

class FaultSweep : public ::testing::TestWithParam<Param> {};

TEST_P(FaultSweep, EveryRequestFailedInTurn) {
    const Row& row = AllRows()[GetParam().row];
    const Fault fault = GetParam().fault;
    SCOPED_TRACE(CommandLine(row) + ", " + Name(fault));

    const Outcome clean = RunTool(ScenarioFor(row, std::nullopt), row.args, row.files);
    ASSERT_TRUE(EndedCleanly(clean));
    ASSERT_TRUE(MatchesTranscript(TranscriptPath(row, "clean.txt"), CleanTranscript(row, clean)));

    const auto started = std::chrono::steady_clock::now();
    int runs = 0;
    std::string transcript = CommandLine(row) + "\nfailed in the way " + Name(fault) + "\n";
    for (size_t i = 0; i < clean.requests.size(); ++i) {
        const std::optional<json> f = FaultFor(clean.requests[i], fault);
        if (!f || !Sweeps(row, clean.requests[i])) {
            continue;
        }
        ++runs;
        transcript += FailOne(row, clean, i, *f);
    }
    EXPECT_TRUE(MatchesTranscript(TranscriptPath(row, std::string(Name(fault)) + ".txt"), transcript));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    std::printf("fault sweep: %s, %s: %d (command, request, fault) runs in %lld ms\n", row.name.c_str(),
                Name(fault), runs, static_cast<long long>(ms));
}

INSTANTIATE_TEST_SUITE_P(Commands, FaultSweep, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                             std::string name = AllRows()[info.param.row].name + "_" + Name(info.param.fault);
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

// ---- Faults the sweep found, one run each -------------------------------------------------------

// Each is one section of its row's transcript, run alone, so that the fault it once found is named.
struct Single {
    std::string name;
    std::string row;
    int command; // the failed pass-through command, 1-based in the clean run
    Fault fault;
};

void PrintTo(const Single& s, std::ostream* os) {
    *os << s.name;
}

class FoundBySweep : public ::testing::TestWithParam<Single> {};

TEST_P(FoundBySweep, FailsAsItsTranscriptSays) {
    const Single& c = GetParam();
    const Row* row = nullptr;
    for (const Row& r : AllRows()) {
        row = r.name == c.row ? &r : row;
    }
    ASSERT_NE(row, nullptr) << c.row;
    const Outcome clean = RunTool(ScenarioFor(*row, std::nullopt), row->args, row->files);
    ASSERT_GE(clean.cdbs.size(), static_cast<size_t>(c.command));
    size_t ioctl = 0;
    while (clean.requests[ioctl].command != c.command) {
        ++ioctl;
    }
    const std::string section = FailOne(*row, clean, ioctl, *FaultFor(clean.requests[ioctl], c.fault));
    const std::string transcript = golden::Read(TranscriptPath(*row, std::string(Name(c.fault)) + ".txt"));
    const size_t at = transcript.find(section.substr(0, section.find(" failed\n")));
    ASSERT_NE(at, std::string::npos) << "no section for this request in the transcript";
    EXPECT_TRUE(golden::SameBytes(section, transcript.substr(at, section.size())));
}

INSTANTIATE_TEST_SUITE_P(
    Regressions, FoundBySweep,
    ::testing::Values(
        // A controller that never completed the identify was taken as answering it.
        Single{"IdentifyHardwareErrorIsReadAgain", "version", 1, Fault::kHostStatus},
        // Nor the parameters: the data area was set up from a refused read.
        Single{"RefusedParametersFailTheStartUp", "version", 2, Fault::kCommandStatus},
        // A refused revision read printed the revision.
        Single{"RefusedRevisionReadIsNoRevision", "fwdiagrevision", 4, Fault::kCommandStatus},
        // A status read that came short printed PASS from the zeros the driver filled in.
        Single{"ShortResultReadIsNoResult", "cachetest_lfsrfill", 5, Fault::kShortTransfer},
        // A test send that came short was followed by a result read and its PASS.
        Single{"ShortTestSendIsNotCarried", "ctrlledtest", 4, Fault::kShortTransfer},
        // A short piece of the serial log was parsed as the whole log.
        Single{"ShortSerialLogPieceIsUnreadable", "sobmessagecounters_log", 6, Fault::kShortTransfer},
        // The MRAM verdict was PASS when the completion notice was not carried.
        Single{"MramFillCompletionNotCarriedFails", "mramtest_datafill", 5, Fault::kIoctlEio},
        Single{"MramVerifyCompletionRefusedFails", "mramtest_dataverify", 5, Fault::kCheckCondition}),
    [](const ::testing::TestParamInfo<Single>& info) { return info.param.name; });

} // namespace
