// Helpers of the block-volume and CSMI parts of the simulated host (private to sim/).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "qvsim/sandbox.h"

namespace qvsim::blk {

using nlohmann::json;

// ---- the tree below the staging directory, before it is mounted ----

inline std::vector<std::string> split_path(const std::string& p) {
    std::vector<std::string> out;
    std::stringstream ss(p);
    std::string part;
    while (std::getline(ss, part, '/')) {
        if (!part.empty())
            out.push_back(part);
    }
    return out;
}

inline bool safe_component(const std::string& c) {
    return !c.empty() && c != "." && c != ".." && c.find('/') == std::string::npos &&
           c.find('\0') == std::string::npos;
}

inline void check_component(const std::string& c, const std::string& what) {
    if (!safe_component(c))
        throw SetupError("bad " + what + " \"" + c + "\"");
}

// A relative path of safe components.
inline void check_relative(const std::string& p, const std::string& what) {
    if (p.empty() || p.front() == '/' || p.back() == '/' || p.find("//") != std::string::npos)
        throw SetupError("bad " + what + " \"" + p + "\"");
    for (const auto& part : split_path(p))
        check_component(part, what);
}

class Tree {
public:
    explicit Tree(std::string staging) : staging_(std::move(staging)) {}

    void mkdirs(const std::string& p) {
        std::string cur = staging_;
        for (const auto& part : split_path(p)) {
            cur += "/" + part;
            if (::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST)
                fail("mkdir " + cur);
        }
    }

    void file(const std::string& p, const std::string& content) {
        mkdirs(dirname(p));
        const std::string r = staging_ + p;
        int fd = ::open(r.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            fail("create " + r);
        std::size_t off = 0;
        while (off < content.size()) {
            ssize_t n = ::write(fd, content.data() + off, content.size() - off);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(fd);
                fail("write " + r);
            }
            off += static_cast<std::size_t>(n);
        }
        ::close(fd);
    }

    // A link at `p` to the absolute `to`, written relative as sysfs writes it.
    void link(const std::string& p, const std::string& to) {
        mkdirs(dirname(p));
        const std::string r = staging_ + p;
        if (::symlink(relative(dirname(p), to).c_str(), r.c_str()) != 0)
            fail("symlink " + r);
    }

    void node(const std::string& p, char type, unsigned maj, unsigned min) {
        mkdirs(dirname(p));
        const std::string r = staging_ + p;
        if (::mknod(r.c_str(), (type == 'b' ? S_IFBLK : S_IFCHR) | 0600, makedev(maj, min)) != 0)
            fail("mknod " + r);
    }

    bool exists(const std::string& p) const {
        struct stat st {};
        return ::lstat((staging_ + p).c_str(), &st) == 0;
    }

    static std::string dirname(const std::string& p) { return p.substr(0, p.rfind('/')); }

    static std::string relative(const std::string& from_dir, const std::string& to) {
        auto a = split_path(from_dir);
        auto b = split_path(to);
        std::size_t common = 0;
        while (common < a.size() && common < b.size() && a[common] == b[common])
            ++common;
        std::string out;
        for (std::size_t i = common; i < a.size(); ++i)
            out += "../";
        for (std::size_t i = common; i < b.size(); ++i) {
            out += b[i];
            if (i + 1 < b.size())
                out += "/";
        }
        return out;
    }

private:
    [[noreturn]] static void fail(const std::string& what) {
        throw SetupError(what + ": " + std::strerror(errno));
    }
    std::string staging_;
};

// ---- JSON ----

[[noreturn]] inline void json_fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("scenario: " + where + ": " + what);
}

inline void check_keys(const json& j, std::initializer_list<const char*> allowed, const std::string& where) {
    if (!j.is_object())
        json_fail(where, "expected an object");
    for (const auto& item : j.items()) {
        bool known = false;
        for (const char* k : allowed)
            known = known || item.key() == k;
        if (!known)
            json_fail(where, "unknown key \"" + item.key() + "\"");
    }
}

// A number, or a number in text ("0x1F", "31").
inline std::uint64_t json_number(const json& v, const std::string& where) {
    if (v.is_number_unsigned())
        return v.get<std::uint64_t>();
    if (v.is_number_integer() && v.get<std::int64_t>() >= 0)
        return static_cast<std::uint64_t>(v.get<std::int64_t>());
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        try {
            std::size_t used = 0;
            std::uint64_t r = std::stoull(s, &used, 0);
            if (used == s.size() && !s.empty() && s[0] != '-')
                return r;
        } catch (const std::exception&) {
        }
    }
    json_fail(where, "expected a number");
}

template <class T> void num(const json& j, const char* key, T* out, const std::string& where) {
    if (!j.contains(key))
        return;
    const std::uint64_t v = json_number(j.at(key), where + "." + key);
    if (v > static_cast<std::uint64_t>(std::numeric_limits<T>::max()))
        json_fail(where + "." + key, "out of range");
    *out = static_cast<T>(v);
}

template <class T>
void opt_num(const json& j, const char* key, std::optional<T>* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (j.at(key).is_null()) {
        out->reset();
        return;
    }
    T v{};
    num(j, key, &v, where);
    *out = v;
}

inline void text(const json& j, const char* key, std::string* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (!j.at(key).is_string())
        json_fail(where + "." + key, "expected text");
    *out = j.at(key).get<std::string>();
}

inline void opt_text(const json& j, const char* key, std::optional<std::string>* out,
                     const std::string& where) {
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

inline void flag(const json& j, const char* key, bool* out, const std::string& where) {
    if (!j.contains(key))
        return;
    if (!j.at(key).is_boolean())
        json_fail(where + "." + key, "expected true or false");
    *out = j.at(key).get<bool>();
}

// Hex text ("00 80 83", "008083", "00:80:83") to bytes; false when it is not that.
inline bool hex_to_bytes(const std::string& text, std::vector<std::uint8_t>* out) {
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

// Bytes as hex text or an array of numbers.
inline std::vector<std::uint8_t> json_bytes(const json& v, const std::string& where) {
    std::vector<std::uint8_t> out;
    if (v.is_array()) {
        for (std::size_t i = 0; i < v.size(); ++i) {
            std::uint64_t b = json_number(v[i], where + "[" + std::to_string(i) + "]");
            if (b > 0xFF)
                json_fail(where, "byte out of range");
            out.push_back(static_cast<std::uint8_t>(b));
        }
        return out;
    }
    if (!v.is_string() || !hex_to_bytes(v.get<std::string>(), &out))
        json_fail(where, "expected hex text or an array of bytes");
    return out;
}

inline std::string hex_text(const std::vector<std::uint8_t>& b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i)
            s += ' ';
        s += digits[b[i] >> 4];
        s += digits[b[i] & 15];
    }
    return s;
}

inline std::vector<Fault> faults_from_json(const json& j, const char* key, const std::string& where) {
    std::vector<Fault> out;
    if (!j.contains(key))
        return out;
    const json& list = j.at(key);
    if (!list.is_array())
        json_fail(where + "." + key, "expected an array");
    for (std::size_t i = 0; i < list.size(); ++i)
        out.push_back(scenario_fault_from_json(list[i], where + "." + key + "[" + std::to_string(i) + "]"));
    return out;
}

inline json faults_to_json(const std::vector<Fault>& faults) {
    json out = json::array();
    for (const auto& f : faults)
        out.push_back(scenario_fault_to_json(f));
    return out;
}

// ---- the caller's buffer ----

inline std::uint64_t rd64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
inline void wr64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void wr32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void wr16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Copies `text` into a field of `size` bytes, padded with `pad`, never terminated by itself.
inline void put_text(std::uint8_t* p, std::size_t size, const std::string& text, char pad) {
    std::memset(p, static_cast<unsigned char>(pad), size);
    std::memcpy(p, text.data(), std::min(size, text.size()));
}

} // namespace qvsim::blk
