// Whether the process behind an application object has gone. AppKit's `terminated` changes only
// when the main run loop has handled the workspace's notice of the quit, so the backend also asks
// the kernel: is there a process with the pid at all (kill with signal 0), and is it the process
// that was there when the object was made (its start time, which a reused pid does not share).
// Plain C++ with the two kernel questions passed in, so that it is tested on every machine.
#pragma once

#include <cerrno>
#include <cstdint>
#include <functional>
#include <optional>

namespace cpi::liveness {

// A process's start time as the kernel keeps it (seconds and microseconds since 1970).
struct ProcessStart {
    std::uint64_t seconds = 0;
    std::uint64_t microseconds = 0;
    friend bool operator==(const ProcessStart&, const ProcessStart&) = default;
};

struct Probes {
    // kill(pid, 0): 0 when it succeeds, else its errno.
    std::function<int(std::int32_t pid)> signalZero;
    // The start time of the process that has the pid now; absent when it cannot be read.
    std::function<std::optional<ProcessStart>(std::int32_t pid)> startOf;
};

// Gone: a pid that names no single process (0 and below would make kill address a process group
// or every process, so they are never passed to it), no process with the pid (ESRCH), or one that
// started at another time than `remembered` (the pid now belongs to another process). A process
// that may not be signalled (EPERM) exists. A start time that was not remembered, or cannot be read
// now, decides nothing: the kill check stands alone then.
inline bool processGone(std::int32_t pid, const std::optional<ProcessStart>& remembered,
                        const Probes& probes) {
    if (pid <= 0) {
        return true;
    }
    if (probes.signalZero(pid) == ESRCH) {
        return true;
    }
    if (!remembered) {
        return false;
    }
    const std::optional<ProcessStart> now = probes.startOf(pid);
    return now && !(*now == *remembered);
}

} // namespace cpi::liveness
