// How SIGTERM, SIGINT and SIGHUP reach the tool outside signal context.
//
// A `SignalSource` tells when a stop signal has arrived; `StopSignals` runs the one thread that
// waits on it and announces each arrival before the signal is taken off, so that a look for a
// begun stop (`requested`) never misses a signal that the thread is about to handle.
//
// The kernels differ in where a signal that every thread blocks waits, and in who can see it:
// - Linux keeps it in the process's shared pending set, which `sigpending` reads from any
//   thread; a signalfd becomes readable while it is there. `SignalFdSource` polls that descriptor
//   and reads the shared set.
// - XNU parks it on one thread's own pending set (bsd/kern/kern_sig.c: `psignal_internal` finds
//   no thread that leaves it unblocked and `get_signalact` takes the first thread of the task,
//   the main thread), and `sigpending` returns only the calling thread's set
//   (`pendlist = ut->uu_siglist`), so the stop thread never sees it there. What XNU does offer is
//   `EVFILT_SIGNAL`: `psignal_internal` posts the knote (`proc_knote(NOTE_SIGNAL)`) before any
//   mask or ignore check, for every process-directed signal, even one set to SIG_IGN; it does not
//   fire for a thread-directed one (`raise`, `pthread_kill`). `KqueueSignalSource` builds on that.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <functional>

namespace cpi::process {

// The stop signals, in the order in which simultaneous arrivals are reported.
inline constexpr int stopSignalNumbers[] = {SIGTERM, SIGINT, SIGHUP};

class SignalSource {
public:
    virtual ~SignalSource() = default;
    // Takes the stop signals over: from now on none of them ends the process or runs a handler in
    // signal context. Called once, on the main thread, before any other thread exists.
    virtual void arm() = 0;
    // On the stop-signal thread: waits until a stop signal has arrived and returns its number; 0
    // when it woke without one (the caller waits again).
    virtual int awaitArrival() = 0;
    // On the stop-signal thread, once the arrival has been announced: takes the signal off, so
    // that it is neither delivered nor seen again.
    virtual void consume(int signal) = 0;
    // On any thread, without blocking: a stop signal that has arrived and has not been consumed
    // (for a source whose signals are never pending, one that has arrived at all); 0 when none.
    virtual int arrived() = 0;
};

// The announce protocol over a source, and the stop-signal thread.
class StopSignals {
public:
    explicit StopSignals(SignalSource& source) : source_(source) {}
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Arms the source and starts the stop-signal thread, which calls `handler` with each signal
    // after announcing it. Call once, from the main thread, before any other thread exists.
    void start(std::function<void(int signal)> handler);

    // The stop signal that has begun a stop: the first one announced, or else one that has arrived
    // and not been announced yet; 0 when none. Once begun, a stop stays begun.
    int requested() noexcept;
    // How many arrivals the thread has announced.
    std::uint64_t announced() const noexcept { return announced_.load(); }

private:
    void announce(int signal) noexcept;

    SignalSource& source_;
    std::atomic<int> first_{0};
    std::atomic<std::uint64_t> announced_{0};
};

// The kernel calls that `KqueueSignalSource` makes, so that the source can be tested against a
// kernel that behaves as XNU does on machines that have none.
class KqueueKernel {
public:
    virtual ~KqueueKernel() = default;
    // Blocks the stop signals in the calling thread (and so in every thread it starts later).
    virtual void blockStopSignals() = 0;
    // A new kqueue with an EVFILT_SIGNAL filter for each stop signal; -1 when any call fails.
    virtual int watchQueue() = 0;
    virtual void closeQueue(int queue) = 0;
    // The signal of the next event of `queue`: waits for one when `wait`, else returns 0 when
    // there is none; -1 on an error.
    virtual int nextEvent(int queue, bool wait) = 0;
    // The first stop signal in the calling thread's own pending set; 0 when none.
    virtual int ownPending() = 0;
    // Sets the stop signals' disposition to ignore (which also drops any that are pending).
    virtual void ignoreStopSignals() = 0;
    // Takes a stop signal from wherever it is pending, waiting for one (sigwait); 0 on an error.
    virtual int takePending() = 0;
    // A short pause after an error, so that a broken queue never turns into a busy loop.
    virtual void pauseAfterError() = 0;
};

// Stop signals by kqueue (the XNU way). `arm` blocks the signals, registers a filter for each on
// two kqueues (one for the stop-signal thread to wait on, one for the commit points' looks), takes
// note of a signal that arrived before the filters existed (pending on the main thread, the only
// thread yet), and only then sets the signals to SIG_IGN: from that moment a signal leaves no
// pending bit, only its events. Where a kqueue cannot be made, the source falls back to sigwait.
class KqueueSignalSource final : public SignalSource {
public:
    explicit KqueueSignalSource(KqueueKernel& kernel) : kernel_(kernel) {}
    void arm() override;
    int awaitArrival() override;
    void consume(int) override {} // ignored signals leave nothing behind to take off
    int arrived() override;

    bool fellBack() const noexcept { return fallback_; }

private:
    KqueueKernel& kernel_;
    int stopQueue_ = -1;
    int lookQueue_ = -1;
    bool fallback_ = false;
    std::atomic<int> early_{0};            // arrived before the filters were registered
    std::atomic<bool> earlyHanded_{false}; // the early signal has gone to the stop-signal thread
    std::atomic<int> seen_{0};             // the first arrival a look has taken off its queue
};

// The source of this system: signalfd on Linux, kqueue on macOS, sigwait elsewhere.
SignalSource& systemSignalSource();

} // namespace cpi::process
