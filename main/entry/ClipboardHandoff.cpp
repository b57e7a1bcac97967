#include "entry/ClipboardHandoff.h"

#include "entry/Modes.h"
#include "platform/Process.h"
#include "protocol/Frames.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace cpi {

namespace {

constexpr std::uint8_t readyByte = '1';

// What the stop-signal thread needs to take the secret off the pasteboard. `holding` is true from
// the moment the item is on the pasteboard until the end of the hold has been dealt with; both the
// main thread and the stop-signal thread change the pasteboard only while holding `mutex`, and the
// first of them to end the hold keeps the mutex until the process is gone, so the secret is taken
// off at most once and never after somebody else's copy.
struct Handoff {
    std::mutex mutex;
    Platform* platform = nullptr;
    bool holding = false;
    std::int64_t rememberedChangeCount = 0;
};

Handoff& handoff() {
    // Never destroyed: the stop-signal thread may use it while the process exits.
    static Handoff* const state = new Handoff;
    return *state;
}

// Takes the secret off unless the pasteboard has changed since it was put there.
void endHold(Handoff& state) {
    if (state.holding && state.platform->pasteboardChangeCount() == state.rememberedChangeCount) {
        state.platform->clearPasteboard();
    }
    state.holding = false;
}

// SIGTERM, SIGINT and SIGHUP: during the hold the secret is taken off first; either way the
// process then ends by the signal's default action, as it would have without this handler.
void onStopSignal(int signal) {
    Handoff& state = handoff();
    state.mutex.lock(); // kept: the process ends here
    endHold(state);
    process::endBySignal(signal);
}

// With the mutex held: a stop that has begun (even one whose thread has not taken it yet) wins
// over whatever the main thread was about to do; the main thread then ends the hold itself.
void endIfStopped(Handoff& state) {
    if (const int signal = process::stopSignalRequested()) {
        endHold(state);
        process::endBySignal(signal);
    }
}

// The main thread's hold of the mutex around a change of the pasteboard or the ready byte.
class CommitLock {
public:
    explicit CommitLock(Handoff& state) : state_(state) {
        state_.mutex.lock();
        process::setInCommit(true);
        endIfStopped(state_);
    }
    ~CommitLock() {
        process::setInCommit(false);
        state_.mutex.unlock();
    }
    CommitLock(const CommitLock&) = delete;
    CommitLock& operator=(const CommitLock&) = delete;

private:
    Handoff& state_;
};

// Outside the mutex: once a stop has begun, the main thread does nothing more.
void parkIfStopped() {
    if (process::stopRequested()) {
        process::parkForever();
    }
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the secret and, when the deadline has not passed, puts it on the pasteboard. Returns
// exitSuccess once the secret is on the pasteboard and the hold has begun, otherwise the exit
// status of the failure. Every buffer that held the secret is wiped before this returns.
int publishSecret(Platform& platform, double deadline) {
    std::optional<SecureBytes> frame = readFrame(clipboardSecretFrameMaximum);
    const std::optional<std::span<const char>> text = frame ? secretText(*frame) : std::nullopt;
    if (!text || !(platform.currentTime() * 1000.0 < deadline)) {
        return exitUsageError;
    }
    process::ignoreBrokenPipe();
    const std::unique_ptr<SecretText> secret = platform.createSecretText(*text);
    wipeContents(*frame);
    if (!secret) {
        return exitRefused;
    }
    const std::unique_ptr<PasteboardItem> item = platform.createPasteboardItem();
    if (!item || !item->setString(*secret, platform.plainTextPasteboardType()) ||
        !item->setData({}, concealedPasteboardType)) {
        return exitRefused;
    }
    Handoff& state = handoff();
    const CommitLock lock(state);
    platform.clearPasteboard();
    const std::array<PasteboardItem*, 1> items{item.get()};
    if (!platform.writePasteboardItems(items)) {
        return exitRefused; // the pasteboard stays cleared
    }
    state.rememberedChangeCount = platform.pasteboardChangeCount();
    state.holding = true;
    return exitSuccess;
}

} // namespace

std::optional<double> parseDeadline(const std::string& text) {
    if (text.empty() || isCSpace(text.front())) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    // Infinity (also an overflowing "1e400") would stand for a deadline that never passes, and NaN
    // compares false with every time: neither is a usable moment.
    if (end != text.c_str() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void runClipboardHandoff(Platform& platform, const std::string& deadlineArgument) {
    Handoff& state = handoff();
    state.platform = &platform;
    // Before any other thread exists, so that every thread leaves the stop signals to the handler.
    process::handleStopSignals(onStopSignal);

    const std::optional<double> deadline = parseDeadline(deadlineArgument);
    if (!deadline) {
        endProcess(platform, exitUsageError);
    }
    process::disableCoreDumps();
    if (const int status = publishSecret(platform, *deadline); status != exitSuccess) {
        endProcess(platform, status);
    }
    parkIfStopped();
    {
        const CommitLock lock(state);
        // A reader that has gone away does not matter: the hold and the clearing still happen.
        process::writeStandardOutput(std::span(&readyByte, 1));
    }
    parkIfStopped();
    platform.sleep(clipboardHoldSeconds);

    // Never released, as the process ends under it: a stop signal from now on waits for the normal end.
    const CommitLock lock(state);
    endHold(state);
    endProcess(platform, exitSuccess);
}

} // namespace cpi
