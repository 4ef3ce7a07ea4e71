// The calls a recorded run makes on the host besides open and ioctl: closes, reads, directory
// listings, stat, link reads and resolutions, text streams, mknod and unlink. Each goes to libc; while
// a run is recorded (qvsim/recorder.h) the outermost one is also noted. Linked only into the
// benchmarks, which record the product's runs and replay them.
#undef _FORTIFY_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "qvsim/recorder.h"

namespace {

template <typename F> F next_symbol(const char* name) {
    void* p = ::dlsym(RTLD_NEXT, name);
    if (p == nullptr) {
        std::fprintf(stderr, "qvsim: no libc symbol %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

// Calls libc's `real` and, when this is the outermost call of a recorded run, hands its result and
// errno to `note`.
template <typename Real, typename Note> auto pass(Real real, Note note) {
    if (!qvsim::recording_on())
        return real();
    qvsim::RecordScope scope;
    const auto result = real();
    const int err = errno;
    if (scope.outer())
        note(result, err);
    errno = err;
    return result;
}

} // namespace

extern "C" {

int close(int fd) {
    static auto real = next_symbol<int (*)(int)>("close");
    return pass([&] { return real(fd); }, [&](int r, int err) { qvsim::record_close(fd, r, err); });
}

ssize_t read(int fd, void* buffer, size_t size) {
    static auto real = next_symbol<ssize_t (*)(int, void*, size_t)>("read");
    return pass([&] { return real(fd, buffer, size); },
                [&](ssize_t r, int err) { qvsim::record_read(fd, size, buffer, r, err); });
}

DIR* opendir(const char* path) {
    static auto real = next_symbol<DIR* (*)(const char*)>("opendir");
    return pass([&] { return real(path); }, [&](DIR* d, int err) { qvsim::record_opendir(path, d, err); });
}

struct dirent* readdir(DIR* dir) {
    static auto real = next_symbol<struct dirent* (*)(DIR*)>("readdir");
    return pass([&] { return real(dir); }, [&](struct dirent* e, int err) {
        qvsim::record_readdir(dir, e != nullptr ? e->d_name : nullptr, err);
    });
}

int closedir(DIR* dir) {
    static auto real = next_symbol<int (*)(DIR*)>("closedir");
    return pass([&] { return real(dir); }, [&](int r, int err) { qvsim::record_closedir(dir, r, err); });
}

int stat(const char* path, struct stat* st) noexcept {
    static auto real = next_symbol<int (*)(const char*, struct stat*)>("stat");
    return pass([&] { return real(path, st); },
                [&](int r, int err) { qvsim::record_stat(false, path, st, r, err); });
}

int lstat(const char* path, struct stat* st) noexcept {
    static auto real = next_symbol<int (*)(const char*, struct stat*)>("lstat");
    return pass([&] { return real(path, st); },
                [&](int r, int err) { qvsim::record_stat(true, path, st, r, err); });
}

ssize_t readlink(const char* path, char* buffer, size_t size) noexcept {
    static auto real = next_symbol<ssize_t (*)(const char*, char*, size_t)>("readlink");
    return pass([&] { return real(path, buffer, size); },
                [&](ssize_t r, int err) { qvsim::record_readlink(path, size, buffer, r, err); });
}

char* realpath(const char* path, char* resolved) noexcept {
    static auto real = next_symbol<char* (*)(const char*, char*)>("realpath");
    return pass([&] { return real(path, resolved); },
                [&](char* r, int err) { qvsim::record_realpath(path, r, err); });
}

FILE* fopen(const char* path, const char* mode) {
    static auto real = next_symbol<FILE* (*)(const char*, const char*)>("fopen");
    return pass([&] { return real(path, mode); },
                [&](FILE* f, int err) { qvsim::record_fopen(path, mode, f, err); });
}

char* fgets(char* line, int size, FILE* stream) {
    static auto real = next_symbol<char* (*)(char*, int, FILE*)>("fgets");
    return pass([&] { return real(line, size, stream); },
                [&](char* r, int err) { qvsim::record_fgets(stream, size, r, err); });
}

int fclose(FILE* stream) {
    static auto real = next_symbol<int (*)(FILE*)>("fclose");
    return pass([&] { return real(stream); }, [&](int r, int err) { qvsim::record_fclose(stream, r, err); });
}

int mknod(const char* path, mode_t mode, dev_t dev) noexcept {
    static auto real = next_symbol<int (*)(const char*, mode_t, dev_t)>("mknod");
    return pass([&] { return real(path, mode, dev); },
                [&](int r, int err) { qvsim::record_mknod(path, mode, dev, r, err); });
}

int unlink(const char* path) noexcept {
    static auto real = next_symbol<int (*)(const char*)>("unlink");
    return pass([&] { return real(path); }, [&](int r, int err) { qvsim::record_unlink(path, r, err); });
}

} // extern "C"
