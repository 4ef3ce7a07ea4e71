// Diagnostics state of the simulated controller: defaults, names and the scenario JSON form.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <utility>

#include "common/json_fields.h"
#include "qvsim/bytes.h"
#include "qvsim/fw_diag.h"

namespace qvsim {
namespace {

using json = nlohmann::json;

// Logs and MRAM are built in memory; keep a mistyped size from eating it.
constexpr std::uint64_t kMaxBuiltBytes = 16u << 20;

using json_fields::check_keys;
using json_fields::fail;
using json_fields::parse_bytes;
using json_fields::parse_int;
using json_fields::parse_number;

std::string text_of(const json& v, const std::string& where) {
    if (!v.is_string())
        fail(where, "expected text");
    return v.get<std::string>();
}

struct Named {
    const char* name;
    unsigned value;
};

struct TestNames {
    Named test;
    std::vector<Named> subtests;
};

const std::vector<TestNames>& test_names() {
    static const std::vector<TestNames> names = {
        {{"memory", 0x01},
         {{"moving_inversion_long", 0x0001},
          {"moving_inversion_turbo", 0x0002},
          {"moving_inversion_fbt", 0x0004},
          {"corrected_ecc_count", 0x0100},
          {"all", 0xFFFF}}},
        {{"cache", 0x02},
         {{"lfsr_fill", 0x0020},
          {"pattern_fill", 0x0040},
          {"walking_ones", 0x0080},
          {"walking_zeros", 0x0100},
          {"data_inversion", 0x0200}}},
        {{"data_retention", 0x03}, {{"data_fill", 0x0001}, {"data_verify", 0x0002}}},
        {{"led", 0x05}, {{"led", 0x0001}}},
        {{"sas", 0x08}, {{"write_read_compare", 0x0002}, {"long_write_read_compare", 0x0004}}},
        {{"sas_pattern", 0x0C},
         {{"jtpat", 0x0001},
          {"random", 0x0002},
          {"jtpat_random", 0x0004},
          {"d10_2", 0x0008},
          {"jtpat_d10_2", 0x0010}}},
    };
    return names;
}

const TestNames* find_test(std::uint8_t test) {
    for (const auto& t : test_names())
        if (t.test.value == test)
            return &t;
    return nullptr;
}

constexpr Named kLogNames[] = {
    {"crash_dump", kLogCrashDump},
    {"serial_output", kLogSerialOutput},
    {"debug_token", kLogDebugToken},
    {"event_log", kLogEventLog},
};

constexpr const char* kFaultCommands[] = {"test",   "status",        "revision", "counters", "mram_write",
                                          "mram_read", "log",       "pause",    "resume",   "recover_cache",
                                          "pcie",   "host_mfg",      "cpld"};

std::uint8_t parse_test(const json& v, const std::string& where) {
    if (v.is_string()) {
        if (auto t = diag_test_by_name(v.get<std::string>()))
            return *t;
    }
    return parse_int<std::uint8_t>(v, where);
}

std::uint16_t parse_subtest(std::optional<std::uint8_t> test, const json& v, const std::string& where) {
    if (v.is_string() && test) {
        if (auto s = diag_subtest_by_name(*test, v.get<std::string>()))
            return *s;
    }
    return parse_int<std::uint16_t>(v, where);
}

json write_test(std::uint8_t test) {
    if (const char* n = diag_test_name(test))
        return n;
    return test;
}

json write_subtest(std::uint8_t test, std::uint16_t subtest) {
    if (const char* n = diag_subtest_name(test, subtest))
        return n;
    return hex_number(subtest);
}

std::uint8_t parse_log_type(const json& v, const std::string& where) {
    if (v.is_string()) {
        for (const auto& n : kLogNames)
            if (v.get<std::string>() == n.name)
                return static_cast<std::uint8_t>(n.value);
    }
    const auto t = parse_int<std::uint8_t>(v, where);
    for (const auto& n : kLogNames)
        if (n.value == t)
            return t;
    fail(where, "unknown log type");
}

const char* log_name(std::uint8_t type) {
    for (const auto& n : kLogNames)
        if (n.value == type)
            return n.name;
    return "?";
}

DiagResult read_result(std::uint8_t test, const json& v, const std::string& where) {
    DiagResult r;
    if (!v.is_object()) {
        r.code = parse_int<std::uint8_t>(v, where);
        return r;
    }
    check_keys(v, {"code", "test", "subtest", "params"}, where);
    if (v.contains("code"))
        r.code = parse_int<std::uint8_t>(v.at("code"), where + ".code");
    if (v.contains("test"))
        r.test = parse_test(v.at("test"), where + ".test");
    if (v.contains("subtest"))
        r.subtest = parse_subtest(r.test.value_or(test), v.at("subtest"), where + ".subtest");
    if (v.contains("params")) {
        const json& p = v.at("params");
        if (!p.is_array() || p.size() > 3)
            fail(where + ".params", "expected at most 3 numbers");
        for (std::size_t i = 0; i < p.size(); ++i)
            r.params[i] = parse_int<std::uint32_t>(p[i], where + ".params");
    }
    return r;
}

json write_result(std::uint8_t test, const DiagResult& r) {
    if (!r.test && !r.subtest && r.params == std::array<std::uint32_t, 3>{})
        return r.code;
    json j{{"code", r.code}};
    if (r.test)
        j["test"] = write_test(*r.test);
    if (r.subtest)
        j["subtest"] = write_subtest(r.test.value_or(test), *r.subtest);
    if (r.params != std::array<std::uint32_t, 3>{})
        j["params"] = std::vector<std::uint32_t>(r.params.begin(), r.params.end());
    return j;
}

DiagEvent read_event(const json& v, const std::string& where) {
    check_keys(v,
               {"time", "class", "subclass", "detail", "specific_data", "message", "tag", "day", "month",
                "year", "seconds"},
               where);
    DiagEvent e;
    if (v.contains("time"))
        e.time = parse_int<std::uint32_t>(v.at("time"), where + ".time");
    if (v.contains("class"))
        e.class_code = parse_int<std::uint16_t>(v.at("class"), where + ".class");
    if (v.contains("subclass"))
        e.subclass_code = parse_int<std::uint16_t>(v.at("subclass"), where + ".subclass");
    if (v.contains("detail"))
        e.detail_code = parse_int<std::uint16_t>(v.at("detail"), where + ".detail");
    if (v.contains("specific_data")) {
        e.specific_data = parse_bytes(v.at("specific_data"), where + ".specific_data");
        if (e.specific_data.size() > 64)
            fail(where + ".specific_data", "more than 64 bytes");
    }
    if (v.contains("message")) {
        e.message = text_of(v.at("message"), where + ".message");
        if (e.message.size() > 80)
            fail(where + ".message", "more than 80 characters");
    }
    if (v.contains("tag"))
        e.tag = parse_int<std::uint32_t>(v.at("tag"), where + ".tag");
    if (v.contains("day"))
        e.day = parse_int<std::uint8_t>(v.at("day"), where + ".day");
    if (v.contains("month"))
        e.month = parse_int<std::uint8_t>(v.at("month"), where + ".month");
    if (v.contains("year"))
        e.year = parse_int<std::uint16_t>(v.at("year"), where + ".year");
    if (v.contains("seconds"))
        e.seconds = parse_int<std::uint32_t>(v.at("seconds"), where + ".seconds");
    return e;
}

DiagLog read_log(const json& v, const std::string& where) {
    if (v.is_string())
        return DiagLog::text(v.get<std::string>());
    check_keys(v, {"text", "hex", "events", "trailing_bytes", "fill_to", "reported_sizes"}, where);
    const int kinds = int(v.contains("text")) + int(v.contains("hex")) + int(v.contains("events"));
    if (kinds > 1)
        fail(where, "name at most one of \"text\", \"hex\" and \"events\"");
    DiagLog log;
    if (v.contains("text"))
        log = DiagLog::text(text_of(v.at("text"), where + ".text"));
    if (v.contains("hex"))
        log.data = parse_bytes(v.at("hex"), where + ".hex");
    if (v.contains("events")) {
        const json& list = v.at("events");
        if (!list.is_array())
            fail(where + ".events", "expected an array");
        std::vector<DiagEvent> events;
        for (std::size_t i = 0; i < list.size(); ++i)
            events.push_back(read_event(list[i], where + ".events[" + std::to_string(i) + "]"));
        log = DiagLog::events(events);
    }
    if (v.contains("trailing_bytes")) {
        const auto n = parse_number(v.at("trailing_bytes"), where + ".trailing_bytes");
        if (n > kMaxBuiltBytes)
            fail(where + ".trailing_bytes", "too large");
        log.data.resize(log.data.size() + n, 0);
    }
    if (v.contains("fill_to")) {
        const auto n = parse_number(v.at("fill_to"), where + ".fill_to");
        if (n > kMaxBuiltBytes)
            fail(where + ".fill_to", "too large");
        if (log.data.empty() && n > 0)
            fail(where + ".fill_to", "nothing to repeat");
        const std::size_t own = log.data.size();
        for (std::size_t i = own; i < n; ++i)
            log.data.push_back(log.data[i % own]);
        if (log.data.size() > n)
            log.data.resize(n);
    }
    if (v.contains("reported_sizes")) {
        const json& list = v.at("reported_sizes");
        if (!list.is_array())
            fail(where + ".reported_sizes", "expected an array");
        for (const auto& e : list)
            log.reported_sizes.push_back(parse_int<std::uint32_t>(e, where + ".reported_sizes"));
    }
    return log;
}

json write_log(const DiagLog& log) {
    json j{{"hex", hex_bytes(log.data)}};
    if (!log.reported_sizes.empty())
        j["reported_sizes"] = log.reported_sizes;
    return j;
}

DiagFault read_fault(const json& v, const std::string& where) {
    check_keys(v,
               {"command", "test", "subtest", "log", "action", "mram_status", "nth", "count", "errno",
                "scsi_status", "sense", "data_length"},
               where);
    DiagFault f;
    if (!v.contains("command"))
        fail(where, "needs \"command\"");
    f.command = text_of(v.at("command"), where + ".command");
    if (std::none_of(std::begin(kFaultCommands), std::end(kFaultCommands),
                     [&](const char* c) { return f.command == c; }))
        fail(where + ".command", "unknown command \"" + f.command + "\"");
    const bool test_like = f.command == "test" || f.command == "status";
    const bool mram = f.command == "mram_write" || f.command == "mram_read";
    if ((v.contains("test") || v.contains("subtest")) && !test_like)
        fail(where, "\"test\" and \"subtest\" narrow test and status only");
    if ((v.contains("log") || v.contains("action")) && f.command != "log")
        fail(where, "\"log\" and \"action\" narrow log only");
    if (v.contains("mram_status") && !mram)
        fail(where, "\"mram_status\" narrows mram_write and mram_read only");
    if (v.contains("test"))
        f.test = parse_test(v.at("test"), where + ".test");
    if (v.contains("subtest"))
        f.subtest = parse_subtest(f.test, v.at("subtest"), where + ".subtest");
    if (v.contains("log"))
        f.log = parse_log_type(v.at("log"), where + ".log");
    if (v.contains("action")) {
        const json& a = v.at("action");
        if (a == "size")
            f.action = kLogActionSize;
        else if (a == "data")
            f.action = kLogActionData;
        else
            f.action = parse_int<std::uint8_t>(a, where + ".action");
    }
    if (v.contains("mram_status"))
        f.mram_status = parse_int<std::uint8_t>(v.at("mram_status"), where + ".mram_status");
    if (v.contains("nth"))
        f.nth = parse_int<unsigned>(v.at("nth"), where + ".nth");
    if (v.contains("count"))
        f.count = parse_int<unsigned>(v.at("count"), where + ".count");
    if (f.nth == 0)
        fail(where + ".nth", "counts from 1");
    if (v.contains("errno")) {
        f.err = parse_int<int>(v.at("errno"), where + ".errno");
        if (f.err == 0)
            fail(where + ".errno", "0 is no error");
    }
    if (v.contains("scsi_status"))
        f.scsi_status = parse_int<std::uint8_t>(v.at("scsi_status"), where + ".scsi_status");
    if (v.contains("sense"))
        f.sense = parse_bytes(v.at("sense"), where + ".sense");
    if (v.contains("data_length"))
        f.data_length = parse_int<std::uint32_t>(v.at("data_length"), where + ".data_length");
    if (!f.err && !f.scsi_status && f.sense.empty() && !f.data_length)
        fail(where, "needs an effect: errno, scsi_status, sense or data_length");
    return f;
}

json write_fault(const DiagFault& f) {
    json j{{"command", f.command}, {"nth", f.nth}, {"count", f.count}};
    if (f.test)
        j["test"] = write_test(*f.test);
    if (f.subtest)
        j["subtest"] = f.test ? write_subtest(*f.test, *f.subtest) : json(hex_number(*f.subtest));
    if (f.log)
        j["log"] = log_name(*f.log);
    if (f.action)
        j["action"] = *f.action == kLogActionSize   ? json("size")
                      : *f.action == kLogActionData ? json("data")
                                                    : json(*f.action);
    if (f.mram_status)
        j["mram_status"] = *f.mram_status;
    if (f.err)
        j["errno"] = f.err;
    if (f.scsi_status)
        j["scsi_status"] = *f.scsi_status;
    if (!f.sense.empty())
        j["sense"] = hex_bytes(f.sense);
    if (f.data_length)
        j["data_length"] = *f.data_length;
    return j;
}

} // namespace

std::optional<std::uint8_t> diag_test_by_name(const std::string& name) {
    for (const auto& t : test_names())
        if (name == t.test.name)
            return static_cast<std::uint8_t>(t.test.value);
    return std::nullopt;
}

std::optional<std::uint16_t> diag_subtest_by_name(std::uint8_t test, const std::string& name) {
    if (const TestNames* t = find_test(test))
        for (const auto& s : t->subtests)
            if (name == s.name)
                return static_cast<std::uint16_t>(s.value);
    return std::nullopt;
}

const char* diag_test_name(std::uint8_t test) {
    const TestNames* t = find_test(test);
    return t ? t->test.name : nullptr;
}

const char* diag_subtest_name(std::uint8_t test, std::uint16_t subtest) {
    if (const TestNames* t = find_test(test))
        for (const auto& s : t->subtests)
            if (s.value == subtest)
                return s.name;
    return nullptr;
}

bool diag_known_test(std::uint8_t test, std::uint16_t subtest) {
    return diag_subtest_name(test, subtest) != nullptr;
}

// relative_controller_time 0, event_class_code 4, event_subclass_code 6, event_detail_code 8,
// event_specific_data 10 (64), event_message 74 (80), event_tag 154, event_day 158, event_month 159,
// event_year 160, event_seconds 162, event_filler 166 (22).
Bytes diag_event_record(const DiagEvent& e) {
    Bytes r(kEventRecordSize, 0);
    put_le32(&r[0], e.time);
    put_le16(&r[4], e.class_code);
    put_le16(&r[6], e.subclass_code);
    put_le16(&r[8], e.detail_code);
    std::copy_n(e.specific_data.begin(), std::min<std::size_t>(e.specific_data.size(), 64), r.begin() + 10);
    std::copy_n(e.message.begin(), std::min<std::size_t>(e.message.size(), 80), r.begin() + 74);
    put_le32(&r[154], e.tag);
    r[158] = e.day;
    r[159] = e.month;
    put_le16(&r[160], e.year);
    put_le32(&r[162], e.seconds);
    return r;
}

DiagLog DiagLog::text(const std::string& t) {
    DiagLog l;
    l.data.assign(t.begin(), t.end());
    return l;
}

DiagLog DiagLog::events(const std::vector<DiagEvent>& list) {
    DiagLog l;
    for (const auto& e : list) {
        const Bytes r = diag_event_record(e);
        l.data.insert(l.data.end(), r.begin(), r.end());
    }
    return l;
}

Bytes DiagMram::contents() const {
    Bytes m(size, 0);
    if (!fill.empty())
        for (std::size_t i = 0; i < m.size(); ++i)
            m[i] = fill[i % fill.size()];
    for (const auto& p : patches)
        for (std::size_t k = 0; k < p.bytes.size() && std::size_t(p.offset) + k < m.size(); ++k)
            m[p.offset + k] = p.bytes[k];
    return m;
}

DiagState::DiagState() {
    serial_output = DiagLog::text("Controller firmware 5.32-0 started\n"
                                  "Cache module detected: 4096 MiB\n"
                                  "Backup power source charged\n"
                                  "Discovery complete: 0 drives\n");
    debug_token.data = {0x51, 0x56, 0x53, 0x10, 0x00, 0x2A, 0xC3, 0x7E};
    DiagEvent boot;
    boot.time = 12;
    boot.class_code = 1;
    boot.subclass_code = 1;
    boot.message = "Controller started";
    boot.tag = 1;
    boot.day = 2;
    boot.month = 10;
    boot.seconds = 42127;
    DiagEvent cache = boot;
    cache.time = 30;
    cache.class_code = 6;
    cache.subclass_code = 2;
    cache.detail_code = 1;
    cache.message = "Cache enabled";
    cache.tag = 2;
    cache.seconds = 42145;
    event_log = DiagLog::events({boot, cache});
    // PCIe capability id 0x10, capability version 2; the controller and the memory controller
    // each at 8 GT/s on 8 lanes (LinkCapabilities 0x83), no errors.
    pcie_registers[0] = 0x10;
    pcie_registers[2] = 0x02;
    for (std::size_t base : {std::size_t{4}, std::size_t{20}}) {
        put_le32(&pcie_registers[base + 8], 0x83);
        put_le16(&pcie_registers[base + 14], 0x0083);
    }
    host_mfg = host_mfg_record("ZQ");
}

DiagState& DiagState::set_pcie_status(std::uint16_t device_status, std::uint16_t link_status) {
    put_le16(&pcie_registers[kPcieDeviceStatusOffset], device_status);
    put_le16(&pcie_registers[kPcieLinkStatusOffset], link_status);
    return *this;
}

Bytes DiagState::host_mfg_record(const std::string& signature) {
    Bytes r(kHostMfgSize, 0);
    std::copy_n(signature.begin(), std::min(signature.size(), r.size()), r.begin());
    return r;
}

DiagState& DiagState::script(std::uint8_t test, std::uint16_t subtest, std::vector<DiagResult> results) {
    for (auto& s : tests) {
        if (s.test == test && s.subtest == subtest) {
            s.results.insert(s.results.end(), results.begin(), results.end());
            return *this;
        }
    }
    tests.push_back({test, subtest, std::move(results)});
    return *this;
}

DiagLog* DiagState::log(std::uint8_t type) {
    return const_cast<DiagLog*>(std::as_const(*this).log(type));
}

const DiagLog* DiagState::log(std::uint8_t type) const {
    switch (type) {
        case kLogCrashDump:
            return &crash_dump;
        case kLogSerialOutput:
            return &serial_output;
        case kLogDebugToken:
            return &debug_token;
        case kLogEventLog:
            return &event_log;
        default:
            return nullptr;
    }
}

DiagState DiagState::from_json(const json& j, const std::string& where) {
    check_keys(j,
               {"tests", "default_code", "revision", "message_counters", "mram", "logs", "pcie", "host_mfg", "cpld",
                "faults"},
               where);
    DiagState s;
    if (j.contains("tests")) {
        const json& list = j.at("tests");
        if (!list.is_array())
            fail(where + ".tests", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string w = where + ".tests[" + std::to_string(i) + "]";
            const json& t = list[i];
            check_keys(t, {"test", "subtest", "results"}, w);
            if (!t.contains("test") || !t.contains("subtest"))
                fail(w, "needs \"test\" and \"subtest\"");
            const std::uint8_t test = parse_test(t.at("test"), w + ".test");
            const std::uint16_t subtest = parse_subtest(test, t.at("subtest"), w + ".subtest");
            std::vector<DiagResult> results;
            if (t.contains("results")) {
                const json& r = t.at("results");
                if (!r.is_array())
                    fail(w + ".results", "expected an array");
                for (std::size_t k = 0; k < r.size(); ++k)
                    results.push_back(read_result(test, r[k], w + ".results[" + std::to_string(k) + "]"));
            }
            s.script(test, subtest, std::move(results));
        }
    }
    if (j.contains("default_code") && !j.at("default_code").is_null())
        s.default_code = parse_int<std::uint8_t>(j.at("default_code"), where + ".default_code");
    if (j.contains("revision")) {
        const Bytes b = parse_bytes(j.at("revision"), where + ".revision");
        if (b.size() != s.revision.size())
            fail(where + ".revision", "expected 4 bytes");
        std::copy(b.begin(), b.end(), s.revision.begin());
    }
    if (j.contains("message_counters")) {
        const std::string w = where + ".message_counters";
        const json& c = j.at("message_counters");
        check_keys(c, {"alerts", "errors", "warnings"}, w);
        if (c.contains("alerts"))
            s.message_counters.alerts = parse_int<std::uint8_t>(c.at("alerts"), w + ".alerts");
        if (c.contains("errors"))
            s.message_counters.errors = parse_int<std::uint8_t>(c.at("errors"), w + ".errors");
        if (c.contains("warnings"))
            s.message_counters.warnings = parse_int<std::uint8_t>(c.at("warnings"), w + ".warnings");
    }
    if (j.contains("mram")) {
        const std::string w = where + ".mram";
        const json& m = j.at("mram");
        check_keys(m, {"size", "fill", "patches"}, w);
        if (m.contains("size")) {
            const auto n = parse_number(m.at("size"), w + ".size");
            if (n == 0 || n > kMaxBuiltBytes)
                fail(w + ".size", "must be 1 to " + std::to_string(kMaxBuiltBytes));
            s.mram.size = static_cast<std::uint32_t>(n);
        }
        if (m.contains("fill")) {
            s.mram.fill = parse_bytes(m.at("fill"), w + ".fill");
            if (s.mram.fill.empty())
                fail(w + ".fill", "no bytes");
        }
        if (m.contains("patches")) {
            const json& list = m.at("patches");
            if (!list.is_array())
                fail(w + ".patches", "expected an array");
            for (std::size_t i = 0; i < list.size(); ++i) {
                const std::string pw = w + ".patches[" + std::to_string(i) + "]";
                check_keys(list[i], {"offset", "bytes"}, pw);
                DiagMramPatch p;
                if (list[i].contains("offset"))
                    p.offset = parse_int<std::uint32_t>(list[i].at("offset"), pw + ".offset");
                if (list[i].contains("bytes"))
                    p.bytes = parse_bytes(list[i].at("bytes"), pw + ".bytes");
                if (std::uint64_t{p.offset} + p.bytes.size() > s.mram.size)
                    fail(pw, "past the end of the MRAM");
                s.mram.patches.push_back(std::move(p));
            }
        }
    }
    if (j.contains("logs")) {
        const std::string w = where + ".logs";
        const json& l = j.at("logs");
        check_keys(l, {"crash_dump", "serial_output", "debug_token", "event_log"}, w);
        for (const auto& n : kLogNames)
            if (l.contains(n.name))
                *s.log(static_cast<std::uint8_t>(n.value)) = read_log(l.at(n.name), w + "." + n.name);
    }
    if (j.contains("pcie")) {
        const std::string w = where + ".pcie";
        const json& p = j.at("pcie");
        check_keys(p, {"registers", "device_status", "link_status"}, w);
        if (p.contains("registers")) {
            const Bytes b = parse_bytes(p.at("registers"), w + ".registers");
            if (b.size() != kPcieRegistersSize)
                fail(w + ".registers", "expected " + std::to_string(kPcieRegistersSize) + " bytes");
            std::copy(b.begin(), b.end(), s.pcie_registers.begin());
        }
        if (p.contains("device_status"))
            put_le16(&s.pcie_registers[kPcieDeviceStatusOffset],
                     parse_int<std::uint16_t>(p.at("device_status"), w + ".device_status"));
        if (p.contains("link_status"))
            put_le16(&s.pcie_registers[kPcieLinkStatusOffset],
                     parse_int<std::uint16_t>(p.at("link_status"), w + ".link_status"));
    }
    if (j.contains("host_mfg")) {
        const std::string w = where + ".host_mfg";
        const json& m = j.at("host_mfg");
        check_keys(m, {"hex", "signature"}, w);
        s.host_mfg.assign(kHostMfgSize, 0);
        if (m.contains("hex")) {
            const Bytes b = parse_bytes(m.at("hex"), w + ".hex");
            if (b.size() > kHostMfgSize)
                fail(w + ".hex", "more than " + std::to_string(kHostMfgSize) + " bytes");
            std::copy(b.begin(), b.end(), s.host_mfg.begin());
        }
        if (m.contains("signature")) {
            const std::string sig = text_of(m.at("signature"), w + ".signature");
            if (sig.size() > kHostMfgSize)
                fail(w + ".signature", "longer than the record");
            std::copy(sig.begin(), sig.end(), s.host_mfg.begin());
        }
    }
    if (j.contains("cpld")) {
        const std::string w = where + ".cpld";
        const json& c = j.at("cpld");
        check_keys(c, {"write_length"}, w);
        if (c.contains("write_length"))
            s.cpld_write_length = parse_int<std::uint16_t>(c.at("write_length"), w + ".write_length");
    }
    if (j.contains("faults")) {
        const json& list = j.at("faults");
        if (!list.is_array())
            fail(where + ".faults", "expected an array");
        for (std::size_t i = 0; i < list.size(); ++i)
            s.faults.push_back(read_fault(list[i], where + ".faults[" + std::to_string(i) + "]"));
    }
    return s;
}

json DiagState::to_json() const {
    json j;
    json list = json::array();
    for (const auto& t : tests) {
        json results = json::array();
        for (const auto& r : t.results)
            results.push_back(write_result(t.test, r));
        list.push_back({{"test", write_test(t.test)},
                        {"subtest", write_subtest(t.test, t.subtest)},
                        {"results", results}});
    }
    j["tests"] = list;
    if (default_code)
        j["default_code"] = *default_code;
    j["revision"] = hex_bytes(revision);
    j["message_counters"] = {{"alerts", message_counters.alerts},
                             {"errors", message_counters.errors},
                             {"warnings", message_counters.warnings}};
    json patches = json::array();
    for (const auto& p : mram.patches)
        patches.push_back({{"offset", p.offset}, {"bytes", hex_bytes(p.bytes)}});
    j["mram"] = {{"size", mram.size}, {"fill", hex_bytes(mram.fill)}, {"patches", patches}};
    json logs = json::object();
    for (const auto& n : kLogNames)
        logs[n.name] = write_log(*log(static_cast<std::uint8_t>(n.value)));
    j["logs"] = logs;
    j["pcie"] = {{"registers", hex_bytes(pcie_registers)}};
    j["host_mfg"] = {{"hex", hex_bytes(host_mfg)}};
    j["cpld"] = {{"write_length", cpld_write_length}};
    json faults_json = json::array();
    for (const auto& f : faults)
        faults_json.push_back(write_fault(f));
    j["faults"] = faults_json;
    return j;
}

void validate_diag(const Scenario& s) {
    for (std::size_t i = 0; i < s.controllers.size(); ++i) {
        const json& extra = s.controllers[i].extra;
        if (extra.is_object() && extra.contains("diag"))
            (void)DiagState::from_json(extra.at("diag"), "controllers[" + std::to_string(i) + "].extra.diag");
    }
}

} // namespace qvsim
