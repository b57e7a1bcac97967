#include "platform/StopSignals.h"

#include <cerrno>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#if defined(__linux__)
#include <poll.h>
#include <sys/signalfd.h>
#elif defined(__APPLE__)
#include <chrono>
#include <sys/event.h>
#endif

namespace cpi::process {

namespace {

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : stopSignalNumbers) {
        sigaddset(&set, signal);
    }
    return set;
}

int firstStopSignalIn(const sigset_t& set) {
    for (const int signal : stopSignalNumbers) {
        if (sigismember(&set, signal) == 1) {
            return signal;
        }
    }
    return 0;
}

// The first stop signal that `sigpending` reports to the calling thread: on Linux the process's
// shared set and the thread's own; on XNU the thread's own alone.
int firstPending() {
    sigset_t pending;
    sigemptyset(&pending);
    return sigpending(&pending) == 0 ? firstStopSignalIn(pending) : 0;
}

void blockStopSignalSet() {
    const sigset_t set = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// Takes one stop signal, waiting for it: the plain way, announced only after it is taken.
int takeWithSigwait() {
    const sigset_t set = stopSignalSet();
    int signal = 0;
    return sigwait(&set, &signal) == 0 ? signal : 0;
}

#if !defined(__linux__) && !defined(__APPLE__)
// Blocked signals taken by sigwait alone, where the system has no way to wait for a pending
// signal without taking it. A look between the take and the announcement misses it.
class SigwaitSource final : public SignalSource {
public:
    void arm() override { blockStopSignalSet(); }
    int awaitArrival() override { return takeWithSigwait(); }
    void consume(int) override {}
    int arrived() override { return firstPending(); }
};
#endif

#if defined(__linux__)
// Blocked signals stay in the process's shared pending set until taken; the signalfd becomes
// readable while one is there and is only polled, never read, so the signal stays visible to
// every thread's look until it has been announced.
class SignalFdSource final : public SignalSource {
public:
    void arm() override {
        blockStopSignalSet();
        const sigset_t set = stopSignalSet();
        fd_ = ::signalfd(-1, &set, SFD_CLOEXEC);
    }
    int awaitArrival() override {
        if (fd_ < 0) {
            return takeWithSigwait();
        }
        struct pollfd ready {};
        ready.fd = fd_;
        ready.events = POLLIN;
        return ::poll(&ready, 1, -1) > 0 ? firstPending() : 0;
    }
    void consume(int signal) override {
        if (fd_ < 0) {
            return; // taken already
        }
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        int taken = 0;
        sigwait(&one, &taken);
    }
    int arrived() override { return firstPending(); }

private:
    int fd_ = -1;
};
#endif

#if defined(__APPLE__)
class DarwinKernel final : public KqueueKernel {
public:
    void blockStopSignals() override { blockStopSignalSet(); }
    int watchQueue() override {
        const int queue = ::kqueue();
        if (queue < 0) {
            return -1;
        }
        for (const int signal : stopSignalNumbers) {
            struct kevent change {};
            EV_SET(&change, signal, EVFILT_SIGNAL, EV_ADD, 0, 0, nullptr);
            if (::kevent(queue, &change, 1, nullptr, 0, nullptr) != 0) {
                ::close(queue);
                return -1;
            }
        }
        return queue;
    }
    void closeQueue(int queue) override { ::close(queue); }
    int nextEvent(int queue, bool wait) override {
        const struct timespec none {};
        for (;;) {
            struct kevent event {};
            const int count = ::kevent(queue, nullptr, 0, &event, 1, wait ? nullptr : &none);
            if (count > 0) {
                return static_cast<int>(event.ident);
            }
            if (count == 0) {
                return 0;
            }
            if (errno != EINTR) {
                return -1;
            }
        }
    }
    int ownPending() override { return firstPending(); }
    void ignoreStopSignals() override {
        for (const int signal : stopSignalNumbers) {
            struct sigaction action {};
            action.sa_handler = SIG_IGN;
            sigemptyset(&action.sa_mask);
            sigaction(signal, &action, nullptr);
        }
    }
    int takePending() override { return takeWithSigwait(); }
    void pauseAfterError() override { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }
};
#endif

} // namespace

void KqueueSignalSource::arm() {
    kernel_.blockStopSignals();
    stopQueue_ = kernel_.watchQueue();
    lookQueue_ = stopQueue_ >= 0 ? kernel_.watchQueue() : -1;
    if (lookQueue_ < 0) {
        if (stopQueue_ >= 0) {
            kernel_.closeQueue(stopQueue_);
            stopQueue_ = -1;
        }
        // The signals stay blocked and are taken by sigwait; XNU parks them on the main thread,
        // whose own pending set the commit points' looks read.
        fallback_ = true;
        return;
    }
    // Still the only thread: a signal that came before the filters waits in its own pending set,
    // and would be dropped by the change to SIG_IGN below.
    early_.store(kernel_.ownPending());
    kernel_.ignoreStopSignals();
}

int KqueueSignalSource::awaitArrival() {
    if (fallback_) {
        return kernel_.takePending();
    }
    if (const int early = early_.load(); early != 0 && !earlyHanded_.exchange(true)) {
        return early;
    }
    const int signal = kernel_.nextEvent(stopQueue_, true);
    if (signal < 0) {
        kernel_.pauseAfterError();
        return 0;
    }
    return signal;
}

int KqueueSignalSource::arrived() {
    if (fallback_) {
        return kernel_.ownPending();
    }
    if (const int early = early_.load(); early != 0) {
        return early;
    }
    if (const int seen = seen_.load(); seen != 0) {
        return seen;
    }
    // An event taken off the look queue is gone from it: remember the first for good.
    if (const int signal = kernel_.nextEvent(lookQueue_, false); signal > 0) {
        int none = 0;
        seen_.compare_exchange_strong(none, signal);
    }
    return seen_.load();
}

void StopSignals::announce(int signal) noexcept {
    int none = 0;
    first_.compare_exchange_strong(none, signal);
    announced_.fetch_add(1);
}

void StopSignals::start(std::function<void(int signal)> handler) {
    source_.arm();
    std::thread([this, handler = std::move(handler)] {
        for (;;) {
            const int signal = source_.awaitArrival();
            if (signal == 0) {
                continue;
            }
            // Announced while still arrived and not taken off: a look never misses it.
            announce(signal);
            source_.consume(signal);
            handler(signal);
        }
    }).detach();
}

int StopSignals::requested() noexcept {
    if (const int first = first_.load(); first != 0) {
        return first;
    }
    if (const int signal = source_.arrived(); signal != 0) {
        return signal;
    }
    // Announced and taken off between the two looks.
    return first_.load();
}

SignalSource& systemSignalSource() {
#if defined(__linux__)
    static SignalFdSource* const source = new SignalFdSource;
#elif defined(__APPLE__)
    static DarwinKernel* const kernel = new DarwinKernel;
    static KqueueSignalSource* const source = new KqueueSignalSource(*kernel);
#else
    static SigwaitSource* const source = new SigwaitSource;
#endif
    return *source;
}

} // namespace cpi::process
