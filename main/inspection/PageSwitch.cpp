#include "inspection/PageSwitch.h"

#include "platform/Process.h"
#include "protocol/ExitStatus.h"
#include "protocol/Frames.h"
#include "protocol/ResultLines.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace cpi {

// ---------------------------------------------------------------------------------------------
// Commits

PageSwitchState::Commit::Commit(PageSwitchState& state) : state_(state) {
    state_.pageSwitchLock_.lock();
    process::setInCommit(true);
    state_.stopIfRequested();
}

PageSwitchState::Commit::~Commit() {
    process::setInCommit(false);
    state_.pageSwitchLock_.unlock();
    // A stop that began during the commit is the stop thread's to finish; nothing more happens here.
    if (process::stopRequested()) {
        process::parkForever();
    }
}

void PageSwitchState::stopIfRequested() {
    if (process::stopRequested()) {
        stopLocked();
    }
}

void PageSwitchState::stopLocked() {
    restoreLocked();
    closeLocked();
    platform_->terminateProcess(exitRefused);
    std::abort(); // not reached: the call above does not return
}

void PageSwitchState::closeLocked() {
    closed_.store(true);
    if (heldSecrets_) {
        heldSecrets_();
        heldSecrets_ = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// The switch

bool PageSwitchState::turnOn(const Element& app) {
    const Commit commit(*this);
    if (pageSwitchApp_) {
        return false;
    }
    pageSwitchApp_ = app;
    for (const PageSwitchAttribute& row : ChromePrivateInputPolicy::pageSwitchAttributes) {
        stopIfRequested();
        // Held before the call, so that an attempt Chrome refused is put back too.
        pageSwitchHeld_.emplace_back(std::string(row.attribute), std::string(row.name));
        const AXError code = platform_->setAttributeValue(app, row.attribute, true);
        pageSwitchSetCodes_.emplace_back(std::string(row.name), code);
        if (code == axErrorSuccess) {
            break;
        }
    }
    pageSwitchReport_ = ChromePrivateInputPolicy::pageSwitchReport(pageSwitchSetCodes_, std::nullopt);
    return true;
}

void PageSwitchState::restoreLocked() {
    if (!pageSwitchApp_) {
        return;
    }
    // Cleared first: whoever comes next finds nothing owed.
    const Element app = std::move(*pageSwitchApp_);
    pageSwitchApp_.reset();
    SwitchCodes codes;
    for (const auto& [attribute, name] : pageSwitchHeld_) {
        codes.emplace_back(name, platform_->setAttributeValue(app, attribute, false));
    }
    pageSwitchRestoreCodes_ = std::move(codes);
    pageSwitchHeld_.clear();
    pageSwitchReport_ =
        ChromePrivateInputPolicy::pageSwitchReport(pageSwitchSetCodes_, pageSwitchRestoreCodes_);
}

void PageSwitchState::restore() {
    // A closed state has restored already, and its lock is never given back.
    if (closed_.load()) {
        return;
    }
    const std::lock_guard lock(pageSwitchLock_);
    if (!closed_.load()) {
        restoreLocked();
    }
}

void PageSwitchState::holdSecrets(std::function<void()> wipe) {
    const Commit commit(*this);
    heldSecrets_ = std::move(wipe);
}

// ---------------------------------------------------------------------------------------------
// The end

void PageSwitchState::holdForEnd() {
    pageSwitchLock_.lock(); // kept until the process ends
    heldForEnd_ = true;
    process::setInCommit(true);
    stopIfRequested();
    restoreLocked();
}

void PageSwitchState::writeFinal(nlohmann::ordered_json map) {
    holdForEnd();
    if (pageSwitchReport_) {
        map["pageSwitch"] = checkMapJson(*pageSwitchReport_);
    }
    // A stop that came while the switch was put back still wins over the line.
    stopIfRequested();
    closed_.store(true);
    writeResult(map);
}

void PageSwitchState::end(int status) {
    if (!heldForEnd_) {
        holdForEnd();
    }
    closeLocked();
    platform_->exitProcess(status);
    std::abort(); // not reached
}

void PageSwitchState::stop() {
    pageSwitchLock_.lock(); // never given back; blocks for good once the main thread is ending
    stopLocked();
}

void PageSwitchState::startOver(Platform& platform) {
    if (heldForEnd_) {
        heldForEnd_ = false; // the lock this thread kept for the end of an earlier run
        process::setInCommit(false);
    } else {
        pageSwitchLock_.lock();
    }
    platform_ = &platform;
    pageSwitchApp_.reset();
    pageSwitchHeld_.clear();
    pageSwitchSetCodes_.clear();
    pageSwitchRestoreCodes_.reset();
    pageSwitchReport_.reset();
    heldSecrets_ = nullptr;
    closed_.store(false);
    pageSwitchLock_.unlock();
}

// ---------------------------------------------------------------------------------------------
// Observations

template <typename Read>
auto PageSwitchState::observe(Read read) const {
    if (heldForEnd_) {
        return read();
    }
    const std::lock_guard lock(pageSwitchLock_);
    return read();
}

std::optional<CheckMap> PageSwitchState::report() const {
    return observe([this] { return pageSwitchReport_; });
}

bool PageSwitchState::restoreOwed() const {
    return observe([this] { return pageSwitchApp_.has_value(); });
}

std::vector<HeldSwitch> PageSwitchState::held() const {
    return observe([this] { return pageSwitchHeld_; });
}

SwitchCodes PageSwitchState::setCodes() const {
    return observe([this] { return pageSwitchSetCodes_; });
}

std::optional<SwitchCodes> PageSwitchState::restoreCodes() const {
    return observe([this] { return pageSwitchRestoreCodes_; });
}

bool PageSwitchState::lockIsFree() const {
    if (!pageSwitchLock_.try_lock()) {
        return false;
    }
    pageSwitchLock_.unlock();
    return true;
}

// ---------------------------------------------------------------------------------------------
// The process-wide state

namespace {

// Never freed: the exit handler and the stop-signal thread may use it until the process is gone.
std::atomic<PageSwitchState*> processState{nullptr};

} // namespace

PageSwitchState& createPageSwitchState(Platform& platform) {
    if (PageSwitchState* state = processState.load(std::memory_order_acquire)) {
        state->startOver(platform);
        return *state;
    }
    auto* state = new PageSwitchState(platform);
    processState.store(state, std::memory_order_release);
    return *state;
}

PageSwitchState* pageSwitchState() {
    return processState.load(std::memory_order_acquire);
}

void installRestoreGuard() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        // An agent that goes away must not end the process by SIGPIPE's default action, which
        // would skip the exit handler: a failed write is dropped and the normal end restores.
        process::ignoreBrokenPipe();
        std::atexit(restorePageSwitch);
        process::handleStopSignals([](int) {
            PageSwitchState* state = pageSwitchState();
            if (state == nullptr) {
                ::_exit(exitRefused);
            }
            state->stop();
        });
    });
}

void restorePageSwitch() {
    if (PageSwitchState* state = pageSwitchState()) {
        state->restore();
    }
}

void writeFinal(nlohmann::ordered_json map) {
    if (PageSwitchState* state = pageSwitchState()) {
        state->writeFinal(std::move(map));
        return;
    }
    writeResult(map);
}

void writeInterim(const nlohmann::ordered_json& map) {
    if (PageSwitchState* state = pageSwitchState()) {
        const PageSwitchState::Commit commit(*state);
        writeResult(map);
        return;
    }
    writeResult(map);
}

void endGuarded(Platform& platform, int status) {
    if (PageSwitchState* state = pageSwitchState()) {
        state->end(status);
    }
    platform.exitProcess(status);
    std::abort(); // not reached
}

} // namespace cpi
