// Readers of the scenario JSON shared by every part of the simulator (private to sim/). Every
// failure throws std::runtime_error("scenario: <where>: <what>").
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "qvsim/firmware.h"

namespace qvsim::json_fields {

using json = nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what);

// Fails on any key outside `allowed`, or when j is not an object.
void check_keys(const json& j, std::initializer_list<const char*> allowed, const std::string& where);

// A number: a JSON number that is not negative, or text in decimal or "0x" hex ("31", "0x1F").
std::uint64_t parse_number(const json& v, const std::string& where);

template <class T> T parse_int(const json& v, const std::string& where) {
    const std::uint64_t n = parse_number(v, where);
    if (n > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
        fail(where, "value " + std::to_string(n) + " too large");
    return static_cast<T>(n);
}

// Hex text ("00 80 83", "008083", "00:80:83"; blanks, colons and dashes ignored) to bytes;
// false when it is not that.
bool hex_to_bytes(const std::string& text, std::vector<std::uint8_t>* out);

// Bytes as hex text or as an array of numbers.
std::vector<std::uint8_t> parse_bytes(const json& v, const std::string& where);

// Optional members of an object: left as they are when the key is absent; null resets an optional.
template <class T> void num(const json& j, const char* key, T* out, const std::string& where) {
    if (j.contains(key))
        *out = parse_int<T>(j.at(key), where + "." + key);
}

template <class T>
void opt_num(const json& j, const char* key, std::optional<T>* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (j.at(key).is_null()) {
        out->reset();
        return;
    }
    *out = parse_int<T>(j.at(key), where + "." + key);
}

void text(const json& j, const char* key, std::string* out, const std::string& where);
void opt_text(const json& j, const char* key, std::optional<std::string>* out, const std::string& where);
void flag(const json& j, const char* key, bool* out, const std::string& where);

// A list of scenario faults under `key` (the controller's form).
std::vector<Fault> faults_from_json(const json& j, const char* key, const std::string& where);
json faults_to_json(const std::vector<Fault>& faults);

} // namespace qvsim::json_fields
