#include "common/json_fields.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "qvsim/scenario.h"

namespace qvsim::json_fields {

void fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("scenario: " + where + ": " + what);
}

void check_keys(const json& j, std::initializer_list<const char*> allowed, const std::string& where) {
    if (!j.is_object())
        fail(where, "expected an object");
    for (const auto& item : j.items()) {
        if (std::none_of(allowed.begin(), allowed.end(), [&](const char* k) { return item.key() == k; }))
            fail(where, "unknown key \"" + item.key() + "\"");
    }
}

std::uint64_t parse_number(const json& v, const std::string& where) {
    if (v.is_number_unsigned())
        return v.get<std::uint64_t>();
    if (v.is_number_integer()) {
        if (v.get<std::int64_t>() < 0)
            fail(where, "negative number");
        return v.get<std::uint64_t>();
    }
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        const bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        const std::string digits = hex ? s.substr(2) : s;
        const bool ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [&](char c) {
            return hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                       : std::isdigit(static_cast<unsigned char>(c)) != 0;
        });
        if (ok) {
            try {
                return std::stoull(digits, nullptr, hex ? 16 : 10);
            } catch (const std::exception&) {
                fail(where, "value \"" + s + "\" too large");
            }
        }
        fail(where, "not a number: \"" + s + "\"");
    }
    fail(where, "expected a number or a number text");
}

bool hex_to_bytes(const std::string& text, std::vector<std::uint8_t>* out) {
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        digits += c;
    }
    if (digits.size() % 2 != 0)
        return false;
    out->clear();
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

std::vector<std::uint8_t> parse_bytes(const json& v, const std::string& where) {
    std::vector<std::uint8_t> out;
    if (v.is_array()) {
        for (std::size_t i = 0; i < v.size(); ++i)
            out.push_back(parse_int<std::uint8_t>(v[i], where + "[" + std::to_string(i) + "]"));
        return out;
    }
    if (!v.is_string() || !hex_to_bytes(v.get<std::string>(), &out))
        fail(where, "expected hex text (an even number of hex digits) or an array of bytes");
    return out;
}

void text(const json& j, const char* key, std::string* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (!j.at(key).is_string())
        fail(where + "." + key, "expected text");
    *out = j.at(key).get<std::string>();
}

void opt_text(const json& j, const char* key, std::optional<std::string>* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (j.at(key).is_null()) {
        out->reset();
        return;
    }
    std::string s;
    text(j, key, &s, where);
    *out = s;
}

void flag(const json& j, const char* key, bool* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (!j.at(key).is_boolean())
        fail(where + "." + key, "expected true or false");
    *out = j.at(key).get<bool>();
}

std::vector<Fault> faults_from_json(const json& j, const char* key, const std::string& where) {
    std::vector<Fault> out;
    if (!j.contains(key))
        return out;
    const json& list = j.at(key);
    if (!list.is_array())
        fail(where + "." + key, "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i)
        out.push_back(scenario_fault_from_json(list[i], where + "." + key + "[" + std::to_string(i) + "]"));
    return out;
}

json faults_to_json(const std::vector<Fault>& faults) {
    json out = json::array();
    for (const auto& f : faults)
        out.push_back(scenario_fault_to_json(f));
    return out;
}

} // namespace qvsim::json_fields
