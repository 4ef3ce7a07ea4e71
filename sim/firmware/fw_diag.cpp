// The simulated controller's answers to the diagnostic commands, the controller log reads, pause
// and resume, and cache-module recovery, registered on the stateful controller's dispatch table.
#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

#include "qvsim/bytes.h"
#include "qvsim/fw_diag.h"

namespace qvsim {
namespace {

struct DiagHolder {
    bool loaded = false;
    std::string error; // a broken extra.diag: every command of the area fails
    DiagState state;
};

DiagHolder& holder(ControllerFirmware& fw) {
    DiagHolder& h = fw.state<DiagHolder>();
    const Controller* c = fw.controller();
    if (h.loaded || c == nullptr)
        return h;
    h.loaded = true;
    const nlohmann::json& extra = fw.extra();
    if (!extra.is_object() || !extra.contains("diag"))
        return h;
    try {
        h.state = DiagState::from_json(extra.at("diag"), "controller " + c->pci_address + ": extra.diag");
    } catch (const std::exception& e) {
        h.error = e.what();
        std::fprintf(stderr, "qvsim: %s\n", h.error.c_str());
    }
    return h;
}

struct Registry {
    std::mutex mu;
    std::map<std::pair<BmicDirection, std::uint8_t>, BmicHandler> handlers;
};

Registry& registry() {
    static Registry r;
    return r;
}

Reply invalid_field() {
    return check_condition(0x05, 0x24, 0x00);
}
Reply parameter_list_length() {
    return check_condition(0x05, 0x1A, 0x00);
}
Reply invalid_parameter() {
    return check_condition(0x05, 0x26, 0x00);
}
Reply sequence_error() {
    return check_condition(0x05, 0x2C, 0x00);
}

Reply errno_reply(int err) {
    Reply r;
    r.err = err;
    return r;
}

Reply data(Bytes b) {
    Reply r;
    r.data_in = std::move(b);
    return r;
}

// What a command is, for the faults to match.
struct Match {
    const char* command;
    std::optional<std::uint8_t> test{};
    std::optional<std::uint16_t> subtest{};
    std::optional<std::uint8_t> log{}, action{}, mram_status{};
};

bool matches(const DiagFault& f, const Match& m) {
    auto same = [](const auto& want, const auto& got) { return !want || (got && *want == *got); };
    return f.command == m.command && same(f.test, m.test) && same(f.subtest, m.subtest) &&
           same(f.log, m.log) && same(f.action, m.action) && same(f.mram_status, m.mram_status);
}

bool due(unsigned seen, unsigned nth, unsigned count) {
    return seen >= nth && (count == 0 || seen - nth < count);
}

const DiagFault* firing(DiagState& s, const Match& m) {
    const DiagFault* hit = nullptr;
    for (auto& f : s.faults) {
        if (!matches(f, m))
            continue;
        if (due(++f.seen, f.nth, f.count) && hit == nullptr)
            hit = &f;
    }
    return hit;
}

// The "fw" faults of the controller state, by BMIC opcode and CDB byte 5.
const FwFault* firing_fw(ControllerFirmware& fw, const BmicCdb& b) {
    const FwFault* hit = nullptr;
    for (auto& f : firmware_state(fw).faults) {
        if (f.bmic != b.opcode || (f.function && *f.function != std::uint8_t(b.detail)))
            continue;
        if (due(++f.seen, f.nth, f.count) && hit == nullptr)
            hit = &f;
    }
    return hit;
}

// A fault that answers instead of the firmware: an errno, or a status with optional sense.
std::optional<Reply> refusal(int err, std::optional<std::uint8_t> status, const Bytes& sense) {
    if (err)
        return errno_reply(err);
    if (sense.empty() && !status)
        return std::nullopt;
    Reply r;
    r.scsi_status = status.value_or(0x02);
    r.sense = sense;
    return r;
}

void cut(Reply& r, std::optional<std::size_t> length) {
    if (length && r.data_in.size() > *length)
        r.data_in.resize(*length);
}

// Runs one command of this area under its faults. A `data_length` fault cuts the data in or, for a
// command whose `sent_out` bytes go out, makes the controller report that it took fewer.
template <class Run>
Reply guarded(DiagState& s, const Match& m, Run&& run, std::optional<std::size_t> sent_out = std::nullopt) {
    const DiagFault* f = firing(s, m);
    if (f) {
        if (auto r = refusal(f->err, f->scsi_status, f->sense))
            return *r;
    }
    Reply r = run();
    if (f && sent_out) {
        if (f->data_length && *f->data_length < *sent_out)
            r.reported_data_length = *f->data_length;
    } else if (f) {
        cut(r, f->data_length);
    }
    return r;
}

// The fw faults come first: a command they refuse reaches nothing else.
template <class Run> Reply with_fw_faults(ControllerFirmware& fw, const BmicCdb& b, Run&& run) {
    const FwFault* f = firing_fw(fw, b);
    if (f) {
        if (auto r = refusal(f->err, std::nullopt, f->sense))
            return *r;
    }
    Reply r = run();
    if (f)
        cut(r, f->data_length);
    return r;
}

std::uint32_t be(const std::vector<std::uint8_t>& c, std::size_t at, std::size_t width) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < width; ++i)
        v = (v << 8) | c[at + i];
    return v;
}

bool zero(const std::vector<std::uint8_t>& c, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i)
        if (c[i] != 0)
            return false;
    return true;
}

// A diagnostic CDB of the plain form: 26/27 00 00 00 00 00 42 00 <sub> <control> 00 ... 00.
bool plain_diag_cdb(const Command& cmd, std::uint8_t control) {
    const auto& c = cmd.cdb;
    return zero(c, 1, 6) && c[7] == 0 && c[9] == control && zero(c, 10, 16);
}

std::uint8_t diag_subcommand(const Command& cmd) {
    return cmd.cdb[8];
}

// Runs a sub-command's answer with the area's state, or fails it when extra.diag was broken.
template <class Answer> Reply with_state(ControllerFirmware& fw, Answer&& answer) {
    DiagHolder& h = holder(fw);
    if (!h.error.empty())
        return errno_reply(EINVAL);
    return answer(h.state);
}

DiagResult next_result(DiagState& s, std::uint8_t test, std::uint16_t subtest) {
    for (auto& script : s.tests) {
        if (script.test != test || script.subtest != subtest || script.results.empty())
            continue;
        DiagResult r = script.results.front();
        script.results.erase(script.results.begin());
        return r;
    }
    DiagResult r;
    r.code = s.default_code.value_or(diag_known_test(test, subtest) ? 0x00 : 0xFF);
    return r;
}

// BMIC_TEST_RESULT: testId, errorCode, subtestId, param1..3 (little-endian).
std::array<std::uint8_t, kTestResultSize> result_bytes(std::uint8_t test, std::uint16_t subtest,
                                                       const DiagResult& r) {
    std::array<std::uint8_t, kTestResultSize> out{};
    out[0] = r.test.value_or(test);
    out[1] = r.code;
    const std::uint16_t sub = r.subtest.value_or(subtest);
    put_le16(&out[2], sub);
    for (std::size_t p = 0; p < 3; ++p)
        put_le32(&out[4 + 4 * p], r.params[p]);
    return out;
}

// D1: run a test. The 8-byte payload: testId, reserved, subTestId (LE16), iteration (LE32).
Reply run_test(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        if (!plain_diag_cdb(cmd, 0x01))
            return invalid_field();
        const Bytes& p = cmd.data_out;
        Match m{"test"};
        if (p.size() >= 8) {
            m.test = p[0];
            m.subtest = get_le16(&p[2]);
        }
        return guarded(s, m, [&] {
            if (p.size() < 8)
                return parameter_list_length();
            const std::uint32_t iteration = get_le32(&p[4]);
            if (p[1] != 0 || iteration == 0)
                return invalid_parameter();
            const DiagResult r = next_result(s, *m.test, *m.subtest);
            s.activity.last_result = result_bytes(*m.test, *m.subtest, r);
            s.activity.runs.push_back({*m.test, *m.subtest, iteration, r.code});
            return Reply{};
        });
    });
}

// D3: the last run's result.
Reply test_result(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        if (!plain_diag_cdb(cmd, 0x01))
            return invalid_field();
        Match m{"status"};
        if (!s.activity.runs.empty()) {
            m.test = s.activity.runs.back().test;
            m.subtest = s.activity.runs.back().subtest;
        }
        return guarded(s, m, [&] {
            std::array<std::uint8_t, kTestResultSize> r{};
            r[1] = 0xFF; // nothing has run: invalid test id
            if (s.activity.last_result)
                r = *s.activity.last_result;
            return data(Bytes(r.begin(), r.end()));
        });
    });
}

// D7: diagnostic firmware revision, 4 bytes.
Reply revision(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        if (!plain_diag_cdb(cmd, 0x00))
            return invalid_field();
        return guarded(s, Match{"revision"},
                       [&] { return data(Bytes(s.revision.begin(), s.revision.end())); });
    });
}

// EB: serial-output message counters: alerts, errors, warnings.
Reply message_counters(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        if (!plain_diag_cdb(cmd, 0x00))
            return invalid_field();
        return guarded(s, Match{"counters"}, [&] {
            const auto& c = s.message_counters;
            return data(Bytes{c.alerts, c.errors, c.warnings});
        });
    });
}

// Keeps a D4, D8 or D9 as it reached the controller.
void keep_request(DiagState& s, const Command& cmd) {
    DiagRequest q;
    q.subcommand = diag_subcommand(cmd);
    q.cdb = cmd.cdb;
    q.direction = cmd.direction;
    q.length = cmd.direction == Direction::kOut ? cmd.data_out.size() : cmd.data_in_length;
    q.timeout_sec = cmd.timeout_sec;
    q.data_out = cmd.data_out;
    s.activity.requests.push_back(std::move(q));
}

// D8: the 36 bytes of PCIe capability registers.
Reply pcie_registers(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        keep_request(s, cmd);
        if (!plain_diag_cdb(cmd, 0x01))
            return invalid_field();
        return guarded(s, Match{"pcie"},
                       [&] { return data(Bytes(s.pcie_registers.begin(), s.pcie_registers.end())); });
    });
}

// D4: the host manufacturing record, read from the board's I2C part (control byte 02).
Reply host_mfg(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        keep_request(s, cmd);
        if (!plain_diag_cdb(cmd, 0x02))
            return invalid_field();
        return guarded(s, Match{"host_mfg"}, [&] { return data(s.host_mfg); });
    });
}

// D9: program the CPLD from the active ROM image. The CDB stays 26 while its data goes out.
Reply program_cpld(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        keep_request(s, cmd);
        if (!plain_diag_cdb(cmd, 0x01))
            return invalid_field();
        return guarded(
            s, Match{"cpld"},
            [&] {
                if (cmd.data_out.size() < s.cpld_write_length)
                    return parameter_list_length();
                ++s.activity.cpld_programs;
                return Reply{};
            },
            cmd.data_out.size());
    });
}

constexpr std::uint8_t kMramStarted = 0x01, kMramFailed = 0x02, kMramWriteCompleted = 0x03,
                       kMramReadCompleted = 0x04;
constexpr std::uint8_t kMramWriteEntireSize = 0x01, kMramVerifyEntireSize = 0x02;

// 84: bytes 2-5 MRAM offset, 10-13 length (byte 10 zero), 14 test status, 15 test kind (all
// most significant first).
struct MramCdb {
    std::uint32_t offset = 0, length = 0;
    std::uint8_t status = 0, kind = 0;
};

std::optional<MramCdb> parse_mram(const Command& cmd) {
    const auto& c = cmd.cdb;
    if (c[1] != 0 || c[7] != 0 || c[9] != 0 || c[10] != 0)
        return std::nullopt;
    return MramCdb{be(c, 2, 4), be(c, 11, 3), c[14], c[15]};
}

Bytes& mram_of(DiagState& s) {
    if (s.activity.mram.empty())
        s.activity.mram = s.mram.contents();
    return s.activity.mram;
}

bool in_mram(DiagState& s, const MramCdb& m) {
    return m.length > 0 && std::uint64_t{m.offset} + m.length <= mram_of(s).size();
}

Reply mram_write(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        const auto m = parse_mram(cmd);
        if (!m || m->kind != kMramWriteEntireSize)
            return invalid_field();
        return guarded(s, Match{.command = "mram_write", .mram_status = m->status}, [&] {
            switch (m->status) {
                case kMramStarted:
                    if (!in_mram(s, *m))
                        return invalid_field();
                    if (cmd.data_out.size() < m->length)
                        return parameter_list_length();
                    std::copy_n(cmd.data_out.begin(), m->length, mram_of(s).begin() + m->offset);
                    break;
                case kMramFailed:
                case kMramWriteCompleted:
                    break;
                default:
                    return invalid_field();
            }
            s.activity.mram_write_statuses.push_back(m->status);
            return Reply{};
        });
    });
}

// The controller checks the test pattern itself: 55 at even, AA at odd offsets of the read.
Reply mram_read(ControllerFirmware& fw, const Command& cmd, const BmicCdb&) {
    return with_state(fw, [&](DiagState& s) {
        const auto m = parse_mram(cmd);
        if (!m || m->kind != kMramVerifyEntireSize)
            return invalid_field();
        return guarded(s, Match{.command = "mram_read", .mram_status = m->status}, [&] {
            Reply r;
            switch (m->status) {
                case kMramStarted: {
                    if (!in_mram(s, *m))
                        return invalid_field();
                    const Bytes& mem = mram_of(s);
                    Bytes got(mem.begin() + m->offset, mem.begin() + m->offset + m->length);
                    bool same = true;
                    for (std::size_t i = 0; i < got.size() && same; ++i)
                        same = got[i] == (i % 2 == 0 ? 0x55 : 0xAA);
                    if (!same) {
                        r = check_condition(0x0E, 0x1D, 0x00); // MISCOMPARE
                        ++s.activity.mram_miscompares;
                    }
                    r.data_in = std::move(got);
                    break;
                }
                case kMramFailed:
                case kMramReadCompleted:
                    break; // the host hands back what it read; nothing to do with it
                default:
                    return invalid_field();
            }
            s.activity.mram_read_statuses.push_back(m->status);
            return r;
        });
    });
}

Reply dispatch_diag(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b, BmicDirection dir) {
    return with_fw_faults(fw, b, [&] {
        BmicHandler h;
        {
            auto& r = registry();
            std::lock_guard lk(r.mu);
            if (auto it = r.handlers.find({dir, diag_subcommand(cmd)}); it != r.handlers.end())
                h = it->second;
        }
        return h ? h(fw, cmd, b) : invalid_field();
    });
}

Reply diagnostics_read(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    return dispatch_diag(fw, cmd, b, BmicDirection::kRead);
}

Reply diagnostics_write(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    return dispatch_diag(fw, cmd, b, BmicDirection::kWrite);
}

// 0x77: log type in CDB byte 1, action in byte 9, offset in bytes 2-5, length in bytes 7-8.
Reply controller_log(ControllerFirmware& fw, const Command&, const BmicCdb& b) {
    return with_fw_faults(fw, b, [&] {
        return with_state(fw, [&](DiagState& s) {
            DiagLog* log = s.log(b.lun_low);
            if (log == nullptr || b.additional_detail != 0 ||
                (b.lun_high != kLogActionSize && b.lun_high != kLogActionData))
                return invalid_field();
            return guarded(s, Match{.command = "log", .log = b.lun_low, .action = b.lun_high}, [&] {
                if (b.lun_high == kLogActionSize) {
                    std::uint32_t size = static_cast<std::uint32_t>(log->data.size());
                    if (!log->reported_sizes.empty()) {
                        size = log->reported_sizes.front();
                        log->reported_sizes.erase(log->reported_sizes.begin());
                    }
                    Bytes r(4);
                    put_le32(r.data(), size);
                    if (r.size() > b.length)
                        r.resize(b.length);
                    return data(std::move(r));
                }
                if (b.detail >= log->data.size())
                    return invalid_field();
                const std::size_t n = std::min<std::size_t>(b.length, log->data.size() - b.detail);
                const auto from = log->data.begin() + b.detail;
                return data(Bytes(from, from + static_cast<std::ptrdiff_t>(n)));
            });
        });
    });
}

// Pause, resume and recovery carry nothing but the opcode and, for a pause, the hot-plug flag.
bool bare(const Command& cmd, const BmicCdb& b) {
    return b.lun() == 0 && b.length == 0 && b.additional_detail == 0 && cmd.data_out.empty();
}

Reply pause(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    return with_fw_faults(fw, b, [&] {
        return with_state(fw, [&](DiagState& s) {
            if (!bare(cmd, b) || b.detail > 1)
                return invalid_field();
            return guarded(s, Match{"pause"}, [&] {
                s.activity.paused = true;
                s.activity.hot_plug_paused = b.detail == 1;
                ++s.activity.pauses;
                return Reply{};
            });
        });
    });
}

Reply resume(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    return with_fw_faults(fw, b, [&] {
        return with_state(fw, [&](DiagState& s) {
            if (!bare(cmd, b) || b.detail != 0)
                return invalid_field();
            return guarded(s, Match{"resume"}, [&] {
                s.activity.paused = false;
                s.activity.hot_plug_paused = false;
                ++s.activity.resumes;
                return Reply{};
            });
        });
    });
}

// Recovery is offered only while the cache configuration says so (bCacheSupportFlags 0x20).
Reply recover_cache_module(ControllerFirmware& fw, const Command& cmd, const BmicCdb& b) {
    return with_fw_faults(fw, b, [&] {
        return with_state(fw, [&](DiagState& s) {
            if (!bare(cmd, b) || b.detail != 0)
                return invalid_field();
            return guarded(s, Match{"recover_cache"}, [&] {
                if ((firmware_state(fw).cache.support_flags & 0x20) == 0)
                    return sequence_error();
                ++s.activity.cache_module_recoveries;
                return Reply{};
            });
        });
    });
}

bool register_all() {
    register_bmic(BmicDirection::kRead, kBmicDiagnostics, diagnostics_read);
    register_bmic(BmicDirection::kWrite, kBmicDiagnostics, diagnostics_write);
    register_bmic(BmicDirection::kRead, kBmicControllerLog, controller_log);
    register_bmic(BmicDirection::kWrite, kBmicPauseBackground, pause);
    register_bmic(BmicDirection::kWrite, kBmicResumeBackground, resume);
    register_bmic(BmicDirection::kWrite, kBmicRecoverCacheModule, recover_cache_module);
    register_diag(BmicDirection::kWrite, kDiagRunTest, run_test);
    register_diag(BmicDirection::kRead, kDiagTestResult, test_result);
    register_diag(BmicDirection::kRead, kDiagRevision, revision);
    register_diag(BmicDirection::kRead, kDiagMessageCounters, message_counters);
    register_diag(BmicDirection::kWrite, kDiagMram, mram_write);
    register_diag(BmicDirection::kRead, kDiagMram, mram_read);
    register_diag(BmicDirection::kRead, kDiagPcieRegisters, pcie_registers);
    register_diag(BmicDirection::kRead, kDiagHostMfg, host_mfg);
    register_diag(BmicDirection::kRead, kDiagCpld, program_cpld);
    return true;
}

const bool registered = register_all();

} // namespace

bool register_diag(BmicDirection dir, std::uint8_t subcommand, BmicHandler h) {
    auto& r = registry();
    std::lock_guard lk(r.mu);
    r.handlers[{dir, subcommand}] = std::move(h);
    return true;
}

DiagState& diag_state(ControllerFirmware& fw) {
    return holder(fw).state;
}

} // namespace qvsim
