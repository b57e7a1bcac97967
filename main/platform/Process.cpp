#include "platform/Process.h"

#include "platform/SecureMemory.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#if defined(__linux__)
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#elif defined(__APPLE__)
#include <sys/event.h>
#endif

namespace cpi {

void secureWipe(void* data, std::size_t size) noexcept {
    if (data == nullptr || size == 0) {
        return;
    }
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t index = 0; index < size; ++index) {
        bytes[index] = 0;
    }
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

namespace process {

long readStandardInput(std::span<std::uint8_t> buffer) noexcept {
    ssize_t count = 0;
    do {
        count = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

void writeStandardOutput(std::span<const std::uint8_t> bytes) noexcept {
    writeAll(STDOUT_FILENO, bytes);
}

void writeAll(int fd, std::span<const std::uint8_t> bytes) noexcept {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        written += static_cast<std::size_t>(count);
    }
}

void ignoreBrokenPipe() noexcept {
    ::signal(SIGPIPE, SIG_IGN);
}

void disableCoreDumps() noexcept {
    struct rlimit limit {}; // no core file at all
    ::setrlimit(RLIMIT_CORE, &limit);
#if defined(__linux__)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

namespace {

std::atomic<std::uint64_t> stopsTaken{0};
std::atomic<int> firstTaken{0};

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

// The first stop signal pending for the process, 0 when none is.
int pendingStopSignal() noexcept {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0) {
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            if (sigismember(&pending, signal) == 1) {
                return signal;
            }
        }
    }
    return 0;
}

void announce(int signal) noexcept {
    int none = 0;
    firstTaken.compare_exchange_strong(none, signal, std::memory_order_seq_cst);
    stopsTaken.fetch_add(1, std::memory_order_seq_cst);
}

// Waits until a stop signal is pending without taking it, so that it stays visible to a look for a
// pending stop until it has been announced; returns the descriptor to wait on, or -1 where the
// system offers no such wait (the signal is then announced right after it is taken).
int pendingSignalWatch(const sigset_t& set) noexcept {
#if defined(__linux__)
    return ::signalfd(-1, &set, SFD_CLOEXEC);
#elif defined(__APPLE__)
    const int queue = ::kqueue();
    if (queue < 0) {
        return -1;
    }
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        struct kevent change {};
        EV_SET(&change, signal, EVFILT_SIGNAL, EV_ADD, 0, 0, nullptr);
        if (::kevent(queue, &change, 1, nullptr, 0, nullptr) != 0) {
            ::close(queue);
            return -1;
        }
    }
    return queue;
#else
    (void)set;
    return -1;
#endif
}

bool waitUntilPending(int watch) noexcept {
#if defined(__linux__)
    struct pollfd ready {};
    ready.fd = watch;
    ready.events = POLLIN;
    return ::poll(&ready, 1, -1) > 0;
#elif defined(__APPLE__)
    struct kevent event {};
    return ::kevent(watch, nullptr, 0, &event, 1, nullptr) > 0;
#else
    (void)watch;
    return false;
#endif
}

} // namespace

void handleStopSignals(std::function<void(int signal)> handler) {
    const sigset_t set = stopSignalSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    const int watch = pendingSignalWatch(set);
    std::thread([set, watch, handler = std::move(handler)] {
        for (;;) {
            if (watch >= 0) {
                // Announced while still pending, then taken: a look for a begun stop never misses
                // one that this thread is about to handle.
                if (!waitUntilPending(watch)) {
                    continue;
                }
                const int pending = pendingStopSignal();
                if (pending == 0) {
                    continue;
                }
                announce(pending);
                int taken = 0;
                sigwait(&set, &taken);
                handler(pending);
            } else {
                int signal = 0;
                if (sigwait(&set, &signal) == 0) {
                    announce(signal);
                    handler(signal);
                }
            }
        }
    }).detach();
}

std::uint64_t stopSignalsTaken() noexcept {
    return stopsTaken.load(std::memory_order_seq_cst);
}

int stopSignalRequested() noexcept {
    if (const int taken = firstTaken.load(std::memory_order_seq_cst); taken != 0) {
        return taken;
    }
    if (const int pending = pendingStopSignal(); pending != 0) {
        return pending;
    }
    // Taken between the two looks.
    return firstTaken.load(std::memory_order_seq_cst);
}

namespace {
thread_local bool commitOpen = false;
} // namespace

void setInCommit(bool inCommit) noexcept {
    commitOpen = inCommit;
}

bool inCommit() noexcept {
    return commitOpen;
}

void parkForever() noexcept {
    for (;;) {
        ::pause();
    }
}

void endBySignal(int signal) noexcept {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    // A signal pending for the whole process may be taken by another thread that does not block
    // it; direct this one at the calling thread, which now has it unblocked.
    pthread_kill(pthread_self(), signal);
    // Not reached for signals whose default action ends the process.
    ::_exit(128 + signal);
}

bool isSignalBlocked(int signal) noexcept {
    sigset_t current;
    sigemptyset(&current);
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    return sigismember(&current, signal) == 1;
}

} // namespace process
} // namespace cpi
