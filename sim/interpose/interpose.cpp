// Routes open and ioctl on simulated device nodes to their devices; everything else goes to libc.
// Linked into the host test executables and into the LD_PRELOAD library.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "qvsim/device.h"
#include "qvsim/recorder.h"

namespace {

using ioctl_fn = int (*)(int, unsigned long, ...);

template <typename F> F next_symbol(const char* name) {
    void* p = ::dlsym(RTLD_NEXT, name);
    if (p == nullptr) {
        std::fprintf(stderr, "qvsim: no libc symbol %s\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(p);
}

bool takes_mode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// Returns true when `path` names a simulated node; then *result is the memfd or -1 with errno.
bool sim_open(int dirfd, const char* path, int flags, int* result) {
    auto& reg = qvsim::Registry::instance();
    if (path == nullptr || reg.empty())
        return false;
    struct stat st {};
    if (::fstatat(dirfd, path, &st, 0) != 0)
        return false; // the real open reports it
    char type = S_ISCHR(st.st_mode) ? 'c' : S_ISBLK(st.st_mode) ? 'b' : 0;
    if (type == 0)
        return false;
    auto dev = reg.find(type, st.st_rdev);
    if (!dev)
        return false;
    int err = dev->open(flags);
    if (err != 0) {
        errno = err;
        *result = -1;
        return true;
    }
    std::string name = std::string("qvsim:") + path;
    if (name.size() > 240)
        name.resize(240);
    int fd = ::memfd_create(name.c_str(), (flags & O_CLOEXEC) ? MFD_CLOEXEC : 0u);
    if (fd < 0) {
        *result = -1;
        return true;
    }
    struct stat mst {};
    if (::fstat(fd, &mst) != 0) {
        int e = errno;
        ::close(fd);
        errno = e;
        *result = -1;
        return true;
    }
    reg.bind_file(mst.st_dev, mst.st_ino, dev);
    *result = fd;
    return true;
}

// The libc entry points of the open family, by how they take their arguments: `At` with a directory
// descriptor first, `Mode` with a variadic mode after the flags (the fortified __*_2 forms have none).
template <bool At, bool Mode> struct OpenForm;
template <> struct OpenForm<false, true> {
    using fn = int (*)(const char*, int, ...);
};
template <> struct OpenForm<true, true> {
    using fn = int (*)(int, const char*, int, ...);
};
template <> struct OpenForm<false, false> {
    using fn = int (*)(const char*, int);
};
template <> struct OpenForm<true, false> {
    using fn = int (*)(int, const char*, int);
};

std::uint64_t now_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000000000u + static_cast<std::uint64_t>(t.tv_nsec);
}

template <const char* Name, bool At, bool Mode> int open_plain(int dirfd, const char* path, int flags, mode_t mode);

// One exported name of the open family: a simulated node opens here, anything else in libc's own
// function of the same name, with the arguments that name takes. While a run is recorded or the
// simulator's time counted, the open is also noted.
template <const char* Name, bool At, bool Mode>
int open_shim(int dirfd, const char* path, int flags, mode_t mode) {
    if (!qvsim::recording_on() && !qvsim::simulator_timing_on())
        return open_plain<Name, At, Mode>(dirfd, path, flags, mode);
    qvsim::RecordScope scope;
    const int fd = open_plain<Name, At, Mode>(dirfd, path, flags, mode);
    const int err = errno;
    if (scope.outer() && qvsim::recording_on() && path != nullptr && (dirfd == AT_FDCWD || path[0] == '/'))
        qvsim::record_open(path, flags, fd, err);
    errno = err;
    return fd;
}

template <const char* Name, bool At, bool Mode> int open_plain(int dirfd, const char* path, int flags, mode_t mode) {
    int fd;
    if (qvsim::simulator_timing_on()) {
        // Telling a simulated node from a host file is the simulator's cost too.
        const std::uint64_t start = now_ns();
        const bool simulated = sim_open(dirfd, path, flags, &fd);
        qvsim::add_simulator_nanoseconds(now_ns() - start);
        if (simulated)
            return fd;
    } else if (sim_open(dirfd, path, flags, &fd)) {
        return fd;
    }
    using fn = typename OpenForm<At, Mode>::fn;
    static fn real = next_symbol<fn>(Name);
    if constexpr (At && Mode)
        return real(dirfd, path, flags, mode);
    else if constexpr (At)
        return real(dirfd, path, flags);
    else if constexpr (Mode)
        return real(path, flags, mode);
    else
        return real(path, flags);
}

constexpr char kOpen[] = "open", kOpen64[] = "open64", kOpenat[] = "openat", kOpenat64[] = "openat64",
               kOpen2[] = "__open_2", kOpen64_2[] = "__open64_2", kOpenat2[] = "__openat_2",
               kOpenat64_2[] = "__openat64_2";

} // namespace

extern "C" {

// The mode is passed only with O_CREAT or O_TMPFILE; each variadic entry point reads its own.
#define QVSIM_READ_MODE(flags, mode)                                                                    \
    mode_t mode = 0;                                                                                    \
    if (takes_mode(flags)) {                                                                            \
        va_list ap;                                                                                     \
        va_start(ap, flags);                                                                            \
        mode = static_cast<mode_t>(va_arg(ap, int));                                                    \
        va_end(ap);                                                                                     \
    }

int open(const char* path, int flags, ...) {
    QVSIM_READ_MODE(flags, mode)
    return open_shim<kOpen, false, true>(AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    QVSIM_READ_MODE(flags, mode)
    return open_shim<kOpen64, false, true>(AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    QVSIM_READ_MODE(flags, mode)
    return open_shim<kOpenat, true, true>(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, ...) {
    QVSIM_READ_MODE(flags, mode)
    return open_shim<kOpenat64, true, true>(dirfd, path, flags, mode);
}

#undef QVSIM_READ_MODE

// The fortified entry points that callers compiled with _FORTIFY_SOURCE reach.
int __open_2(const char* path, int flags) {
    return open_shim<kOpen2, false, false>(AT_FDCWD, path, flags, 0);
}

int __open64_2(const char* path, int flags) {
    return open_shim<kOpen64_2, false, false>(AT_FDCWD, path, flags, 0);
}

int __openat_2(int dirfd, const char* path, int flags) {
    return open_shim<kOpenat2, true, false>(dirfd, path, flags, 0);
}

int __openat64_2(int dirfd, const char* path, int flags) {
    return open_shim<kOpenat64_2, true, false>(dirfd, path, flags, 0);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    static ioctl_fn real = next_symbol<ioctl_fn>("ioctl");
    if (qvsim::recording_on() || qvsim::simulator_timing_on()) {
        qvsim::RecordScope scope;
        const bool record = scope.outer() && qvsim::recording_on();
        const long pending = record ? qvsim::record_ioctl_before(fd, request, arg) : -1;
        const bool timing = qvsim::simulator_timing_on();
        const std::uint64_t start = timing ? now_ns() : 0;
        int result = 0, err = 0;
        if (auto dev = qvsim::Registry::instance().device_for_fd(fd)) {
            err = dev->ioctl(request, arg);
            result = err != 0 ? -1 : 0;
            if (timing)
                qvsim::add_simulator_nanoseconds(now_ns() - start);
        } else {
            result = real(fd, request, arg);
            err = result < 0 ? errno : 0;
        }
        if (record)
            qvsim::record_ioctl_after(pending, arg, result, err);
        if (result < 0)
            errno = err;
        return result;
    }
    if (auto dev = qvsim::Registry::instance().device_for_fd(fd)) {
        int err = dev->ioctl(request, arg);
        if (err != 0) {
            errno = err;
            return -1;
        }
        return 0;
    }
    return real(fd, request, arg);
}

} // extern "C"
