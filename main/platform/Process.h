// Process services shared by every backend: unbuffered standard input and output, signal
// dispositions, stop signals handled outside signal context, and core dumps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace cpi::process {

// One read(2) from file descriptor 0 into `buffer`, retried on EINTR. Returns the number of bytes
// read, 0 at the end of input, -1 on an error.
long readStandardInput(std::span<std::uint8_t> buffer) noexcept;

// Writes all of `bytes` to `fd`, retrying on EINTR and after partial writes; stops at the first
// error (a closed reader included) and drops it.
void writeAll(int fd, std::span<const std::uint8_t> bytes) noexcept;

// Writes all of `bytes` to file descriptor 1 (one write unless the system splits it); errors,
// a closed reader included, are dropped.
void writeStandardOutput(std::span<const std::uint8_t> bytes) noexcept;

// SIGPIPE ignored: a write to a reader that has gone away fails instead of ending the process.
void ignoreBrokenPipe() noexcept;

// No core file may be written for this process (it may hold a secret in memory).
void disableCoreDumps() noexcept;

// Takes over SIGTERM, SIGINT and SIGHUP: they are blocked in the calling thread (and so in every
// thread it starts later; on macOS also set to ignore once their kqueue filters exist, see
// StopSignals.h) and a dedicated thread waits for them and calls `handler` with the signal number,
// outside signal context. Call once, from the main thread, before any other thread exists. The
// handler is expected to end the process.
void handleStopSignals(std::function<void(int signal)> handler);

// How many stop signals the stop-signal thread has taken so far; counted as soon as one is taken,
// before its handler runs.
std::uint64_t stopSignalsTaken() noexcept;

// The stop signal that has begun a stop: the first one the stop-signal thread has taken, or else
// one that has reached the process and is not taken yet (its thread may not have been scheduled
// yet); 0 when none. Once a stop has begun it stays begun for the rest of the process.
int stopSignalRequested() noexcept;
inline bool stopRequested() noexcept {
    return stopSignalRequested() != 0;
}

// Blocks the calling thread for good: the thread that handles the stop ends the process.
[[noreturn]] void parkForever() noexcept;

// Whether the calling thread is inside one of the tool's commits: it holds the lock that the stop
// path takes, so a stop-signal handler cannot go on until the commit is done. Set by the commits.
void setInCommit(bool inCommit) noexcept;
bool inCommit() noexcept;

// Ends the process by `signal` with its default action, as if it had never been caught.
[[noreturn]] void endBySignal(int signal) noexcept;

// Whether `signal` is blocked in the calling thread (it then goes to the stop-signal thread).
bool isSignalBlocked(int signal) noexcept;

} // namespace cpi::process
