#include "platform/Process.h"

#include "platform/SecureMemory.h"
#include "platform/StopSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
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

StopSignals& stopSignals() {
    // Never destroyed: the stop-signal thread uses it until the process is gone.
    static StopSignals* const signals = new StopSignals(systemSignalSource());
    return *signals;
}

} // namespace

void handleStopSignals(std::function<void(int signal)> handler) {
    stopSignals().start(std::move(handler));
}

std::uint64_t stopSignalsTaken() noexcept {
    return stopSignals().announced();
}

int stopSignalRequested() noexcept {
    return stopSignals().requested();
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
