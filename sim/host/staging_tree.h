// The staging tree: the directories, files, links and nodes of the simulated sysfs and /dev,
// written below a staging directory before it is mounted (private to sim/).
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "qvsim/sandbox.h"

namespace qvsim::staging {

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

    std::string real(const std::string& p) const { return staging_ + p; }

    void file(const std::string& p, const std::string& content, mode_t mode = 0644) {
        mkdirs(dirname(p));
        const std::string r = real(p);
        int fd = ::open(r.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
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
    void link(const std::string& p, const std::string& to) { raw_link(p, relative(dirname(p), to)); }

    // A link holding `text` as it is.
    void raw_link(const std::string& p, const std::string& text) {
        mkdirs(dirname(p));
        const std::string r = real(p);
        if (::symlink(text.c_str(), r.c_str()) != 0)
            fail("symlink " + r);
    }

    void node(const std::string& p, char type, unsigned maj, unsigned min, mode_t mode = 0600) {
        mkdirs(dirname(p));
        const std::string r = real(p);
        if (::mknod(r.c_str(), (type == 'b' ? S_IFBLK : S_IFCHR) | mode, makedev(maj, min)) != 0)
            fail("mknod " + r);
        // mknod applies the umask; the scenario's mode is meant exactly.
        if (::chmod(r.c_str(), mode) != 0)
            fail("chmod " + r);
    }

    bool exists(const std::string& p) const {
        struct stat st {};
        return ::lstat(real(p).c_str(), &st) == 0;
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

} // namespace qvsim::staging
