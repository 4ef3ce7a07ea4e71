// The record of one run of a program against the simulated host, and its replay with plain calls.
//
// While recording, every call that reaches the host is kept in order: opens of paths below /sys, /dev,
// /proc and /etc and what is done on the descriptors, directories and streams they gave (reads,
// ioctls with the caller's record and its data out, closes), directory entries, stat and lstat, link
// reads and resolutions. The open and ioctl hooks live in the interposer; the other calls are caught by
// the `sim_record` object library, which only the benchmarks link. A replay makes the same calls with
// the same arguments and data, and nothing else; `verify` says where a reply differs from the record.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qvsim/firmware.h"

namespace qvsim {

enum class CallKind : std::uint8_t {
    kOpen,
    kClose,
    kRead,
    kIoctl,
    kOpendir,
    kReaddir,
    kClosedir,
    kStat,
    kLstat,
    kReadlink,
    kRealpath,
    kFopen,
    kFgets,
    kFclose,
    kMknod,
    kUnlink,
};

const char* call_name(CallKind kind);

// One call as the program made it and what it got back.
struct Call {
    CallKind kind = CallKind::kOpen;
    int slot = -1;         // the descriptor, directory or stream the call made or used, numbered in the record
    std::string path;      // opens, stat, links, mknod, unlink
    std::uint64_t arg = 0; // open flags, the size asked of a read/readlink/fgets, the ioctl request, mknod's mode
    std::uint64_t arg2 = 0; // mknod's device number
    long result = 0;        // the call's return: bytes, 0 or -1; 1 for a readdir or fgets that gave something
    int err = 0;            // errno when the call failed
    // ioctl: the caller's record, then the data out of each of its buffers that carries any; fopen: mode.
    std::vector<std::uint8_t> sent;
    // What came back: bytes read, the entry name, link text or resolved path, a line, stat's type and
    // device; ioctl: the caller's record after the call, then each buffer's data in.
    std::vector<std::uint8_t> got;
};

struct Recording {
    std::vector<Call> calls;
    int slots = 0;
    // Set when a call cannot be replayed (an ioctl whose record layout is unknown): the record is
    // then no yardstick.
    std::string error;

    std::size_t count(CallKind kind) const;
    // "" when `other` makes the same calls with the same arguments and data; else the first difference.
    std::string same_calls(const Recording& other) const;
};

// Starts keeping the calls of this process (any thread) that reach the host; stop_recording ends it.
void start_recording();
Recording stop_recording();

namespace detail {
extern std::atomic<bool> g_recording;
extern std::atomic<bool> g_timing;
} // namespace detail

inline bool recording_on() {
    return detail::g_recording.load(std::memory_order_relaxed);
}

// Held by a hook around the call it records: the calls the real function or the simulator make
// underneath (the simulator lists /proc/self/fd, say) are not the program's.
class RecordScope {
public:
    RecordScope();
    ~RecordScope();
    RecordScope(const RecordScope&) = delete;
    RecordScope& operator=(const RecordScope&) = delete;
    bool outer() const { return outer_; }

private:
    bool outer_;
};

// The hooks' entry points, called with the real call's outcome (err: its errno, or 0).
void record_open(const char* path, int flags, int fd, int err);
void record_close(int fd, int result, int err);
void record_read(int fd, size_t asked, const void* buffer, long result, int err);
void record_opendir(const char* path, const void* dir, int err);
void record_readdir(const void* dir, const char* name, int err);
void record_closedir(const void* dir, int result, int err);
void record_stat(bool link, const char* path, const void* st, int result, int err);
void record_readlink(const char* path, size_t asked, const char* text, long result, int err);
void record_realpath(const char* path, const char* resolved, int err);
void record_fopen(const char* path, const char* mode, const void* stream, int err);
void record_fgets(const void* stream, int asked, const char* line, int err);
void record_fclose(const void* stream, int result, int err);
void record_mknod(const char* path, mode_t mode, dev_t dev, int result, int err);
void record_unlink(const char* path, int result, int err);
// An ioctl is taken in two steps: the caller's record and data out before, what came back after.
// Returns the pending call's number, or -1 when the descriptor is not one of the record's.
long record_ioctl_before(int fd, unsigned long request, const void* arg);
void record_ioctl_after(long pending, const void* arg, int result, int err);

// The time the simulator itself spends in opens and requests of its nodes, while counting is on.
void count_simulator_time(bool on);
std::uint64_t simulator_nanoseconds();
inline bool simulator_timing_on() {
    return detail::g_timing.load(std::memory_order_relaxed);
}
void add_simulator_nanoseconds(std::uint64_t ns);

// Makes a recording's calls again: the same paths, flags, sizes, requests and data, with plain calls.
class Replay {
public:
    explicit Replay(Recording recording);
    ~Replay();
    Replay(const Replay&) = delete;
    Replay& operator=(const Replay&) = delete;

    // Every call once, as fast as plain calls go; false when one returns otherwise than it did.
    bool run();
    // Every call once, comparing all that comes back with the record; "" or the first difference.
    std::string verify();
    const Recording& recording() const { return recording_; }

private:
    bool replay(bool compare, std::string* difference);

    Recording recording_;
    std::vector<std::uint8_t> scratch_;
    std::vector<std::uint8_t> record_;
    std::vector<std::uint8_t> data_;
    std::vector<long> handles_;
    std::vector<CallKind> slot_kinds_; // what made each slot: an open, opendir or fopen
};

// What the commands of a run can change in the simulated host: each controller's firmware state and
// the faults of each node, with the count of requests each has seen. Taken, then put back between the
// runs of a benchmark so that every run starts from the same host.
class HostState {
public:
    static HostState save();
    void restore() const;

private:
    struct Saved;
    std::shared_ptr<const Saved> saved_;
};

} // namespace qvsim
