// The discovery's path resolver gives what realpath(3) gives, on a tree of directories and links built
// like sysfs, whether an answer comes from the file system or from what an earlier lookup kept.
#include "pavl_path.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class PathResolverTree : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/pavl-path-test.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        root_ = dir;
        // Directories first, then the links between them.
        for (const char* d :
             {"a", "a/b", "a/b/c", "devices", "devices/pci0000:00", "devices/pci0000:00/0000:10:00.0",
              "devices/pci0000:00/0000:10:00.0/host2", "devices/pci0000:00/0000:10:00.0/host2/2:0:0:0",
              "devices/pci0000:00/0000:10:00.0/host2/2:0:0:0/scsi_generic",
              "devices/pci0000:00/0000:10:00.0/host2/2:0:0:0/scsi_generic/sg1", "class", "class/scsi_generic",
              "bus", "bus/drivers", "bus/drivers/qzvk"}) {
            ASSERT_EQ(mkdir(At(d).c_str(), 0755), 0) << d;
        }
        for (const char* f : {"a/b/c/file", "devices/pci0000:00/0000:10:00.0/host2/2:0:0:0/type"}) {
            const int fd = open(At(f).c_str(), O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0) << f;
            close(fd);
        }
        const std::vector<std::pair<std::string, std::string>> links = {
            {"abs", At("a/b")},
            {"a/rel", "../a/b/c"},
            {"a/b/up", "../../"},
            {"chain1", "chain2"},
            {"chain2", "a/rel"},
            {"loop1", "loop2"},
            {"loop2", "loop1"},
            {"dangling", "nowhere"},
            {"filelink", "a/b/c/file"},
            {"a/b/c/dotdot", ".."},
            {"a/b/c/rootlink", "/"},
            {"class/scsi_generic/sg1",
             "../../devices/pci0000:00/0000:10:00.0/host2/2:0:0:0/scsi_generic/sg1"},
            {"devices/pci0000:00/0000:10:00.0/host2/2:0:0:0/scsi_generic/sg1/device", "../../"},
            {"bus/drivers/qzvk/0000:10:00.0", "../../../devices/pci0000:00/0000:10:00.0"},
            {"bus/drivers/qzvk/module", "../../../a"},
        };
        for (const auto& [name, target] : links) {
            ASSERT_EQ(symlink(target.c_str(), At(name).c_str()), 0) << name;
        }
        // More links in a row than a resolution follows.
        for (int i = 0; i < 45; ++i) {
            const std::string name = "many" + std::to_string(i);
            const std::string target = i == 44 ? "a" : "many" + std::to_string(i + 1);
            ASSERT_EQ(symlink(target.c_str(), At(name).c_str()), 0);
        }
    }

    void TearDown() override {
        if (!root_.empty()) {
            const std::string command = "rm -rf '" + root_ + "'";
            EXPECT_EQ(std::system(command.c_str()), 0);
        }
    }

    std::string At(const std::string& relative) const { return root_ + "/" + relative; }

    std::string root_;
};

struct Outcome {
    bool ok;
    std::string path;
    int error;
};

Outcome ByRealpath(const std::string& path) {
    char out[PATH_MAX];
    errno = 0;
    const bool ok = realpath(path.c_str(), out) != nullptr;
    return {ok, ok ? out : "", ok ? 0 : errno};
}

Outcome ByResolver(PathResolver& resolver, const std::string& path) {
    char out[PATH_MAX];
    errno = 0;
    const bool ok = resolver.resolve(path.c_str(), out, sizeof(out));
    return {ok, ok ? out : "", ok ? 0 : errno};
}

TEST_F(PathResolverTree, GivesWhatRealpathGivesTheFirstTimeAndFromWhatItKept) {
    const std::vector<std::string> cases = {
        "",
        "a",
        "a/b/c/file",
        "abs/c/file",
        "a/rel/file",
        "a/b/up/a/b",
        "chain1/file",
        "loop1",
        "loop1/x",
        "dangling",
        "filelink",
        "filelink/x",
        "a/b/c/file/..",
        "a/b/c/file/.",
        "a/b/c/file/",
        "a/./b//c/",
        "a/b/c/dotdot/c",
        "a/b/c/rootlink/tmp",
        "a/b/../b/c",
        "abs/..",
        "a/rel/..",
        "a/b/",
        "missing/x",
        "a/missing",
        "many0",
        "many10/b",
        "class/scsi_generic/sg1/device/type",
        "bus/drivers/qzvk/0000:10:00.0",
        "bus/drivers/qzvk/module",
    };
    PathResolver resolver;
    // Twice over: the second round is answered mostly from what the first kept.
    for (int round = 0; round < 2; ++round) {
        for (const std::string& c : cases) {
            const std::string path = c.empty() ? root_ + "/" : At(c);
            const Outcome want = ByRealpath(path);
            const Outcome got = ByResolver(resolver, path);
            EXPECT_EQ(got.ok, want.ok) << path << " round " << round;
            EXPECT_EQ(got.path, want.path) << path << " round " << round;
            if (!want.ok) {
                EXPECT_EQ(got.error, want.error) << path << " round " << round;
            }
        }
    }
    // Paths the resolver hands to the C library as they are.
    for (const char* odd : {"/", "//", ".", "relative/missing", ""}) {
        const Outcome want = ByRealpath(odd);
        const Outcome got = ByResolver(resolver, odd);
        EXPECT_EQ(got.ok, want.ok) << '"' << odd << '"';
        EXPECT_EQ(got.path, want.path) << '"' << odd << '"';
    }
}

TEST_F(PathResolverTree, RefusesAnOutputThatIsTooSmall) {
    PathResolver resolver;
    const std::string path = At("a/b/c/file");
    const Outcome want = ByRealpath(path);
    ASSERT_TRUE(want.ok);
    std::vector<char> out(want.path.size());
    errno = 0;
    EXPECT_FALSE(resolver.resolve(path.c_str(), out.data(), out.size()));
    EXPECT_EQ(errno, ENAMETOOLONG);
    out.resize(want.path.size() + 1);
    ASSERT_TRUE(resolver.resolve(path.c_str(), out.data(), out.size()));
    EXPECT_EQ(std::string(out.data()), want.path);
    EXPECT_FALSE(resolver.resolve(nullptr, out.data(), out.size()));
    EXPECT_FALSE(resolver.resolve(path.c_str(), nullptr, out.size()));
}

} // namespace
