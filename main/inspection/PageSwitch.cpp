#include "inspection/PageSwitch.h"

#include "platform/Process.h"
#include "protocol/ExitStatus.h"
#include "protocol/Frames.h"
#include "protocol/ResultLines.h"

#include <cstdlib>
#include <unistd.h>

namespace cpi {

static_assert(stopExitStatus == exitRefused, "a stop ends the process as a refusal does");

PageSwitchState::PageSwitchState(Platform& platform) : PageSwitchState(platform, *new StopGuard()) {
    ownGuard_.reset(guard_);
}

PageSwitchState::PageSwitchState(Platform& platform, StopGuard& guard)
    : platform_(&platform), guard_(&guard) {
    startOver(platform);
}

// ---------------------------------------------------------------------------------------------
// The switch

bool PageSwitchState::turnOn(const Element& app) {
    const Commit commit(*this);
    if (pageSwitchApp_) {
        return false;
    }
    pageSwitchApp_ = app;
    for (const PageSwitchAttribute& row : Policy::pageSwitchAttributes) {
        guard_->stopIfBegun();
        // Held before the call, so that an attempt Chrome refused is put back too.
        pageSwitchHeld_.emplace_back(std::string(row.attribute), std::string(row.name));
        const AXError code = platform_->setAttributeValue(app, row.attribute, true);
        pageSwitchSetCodes_.emplace_back(std::string(row.name), code);
        if (code == axErrorSuccess) {
            break;
        }
    }
    pageSwitchReport_ = Policy::pageSwitchReport(pageSwitchSetCodes_, std::nullopt);
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
    pageSwitchReport_ = Policy::pageSwitchReport(pageSwitchSetCodes_, pageSwitchRestoreCodes_);
}

void PageSwitchState::restore() {
    // A closed state has restored already, and its lock is never given back.
    guard_->unlessClosed([this] { restoreLocked(); });
}

void PageSwitchState::holdSecrets(std::function<void()> wipe) {
    guard_->holdSecrets(std::move(wipe));
}

// ---------------------------------------------------------------------------------------------
// The end

void PageSwitchState::holdForEnd() {
    guard_->holdForEnd();
    restoreLocked();
}

void PageSwitchState::writeFinal(nlohmann::ordered_json map) {
    holdForEnd();
    if (pageSwitchReport_) {
        map["pageSwitch"] = checkMapJson(*pageSwitchReport_);
    }
    // A stop that came while the switch was put back still wins over the line.
    guard_->stopIfBegun();
    guard_->close(false);
    writeResult(map);
}

void PageSwitchState::end(int status) {
    if (!guard_->heldForEnd()) {
        holdForEnd();
    }
    guard_->close(true);
    platform_->exitProcess(status);
    std::abort(); // not reached
}

void PageSwitchState::stop() {
    // At once, before the wait for the lock: a call that the main thread starts from now on has
    // the stop path's short deadline too.
    platform_->prepareForStop();
    guard_->stop();
}

void PageSwitchState::startOver(Platform& platform) {
    guard_->startOver(
        [this, &platform] {
            platform_ = &platform;
            pageSwitchApp_.reset();
            pageSwitchHeld_.clear();
            pageSwitchSetCodes_.clear();
            pageSwitchRestoreCodes_.reset();
            pageSwitchReport_.reset();
        },
        [this] {
            // The stop path's restore: every call from now on has the stop path's short deadline.
            platform_->prepareForStop();
            restoreLocked();
        },
        [this](int status) { platform_->terminateProcess(status); });
}

// ---------------------------------------------------------------------------------------------
// Observations

std::optional<CheckMap> PageSwitchState::report() const {
    return guard_->observe([this] { return pageSwitchReport_; });
}

bool PageSwitchState::restoreOwed() const {
    return guard_->observe([this] { return pageSwitchApp_.has_value(); });
}

std::vector<HeldSwitch> PageSwitchState::held() const {
    return guard_->observe([this] { return pageSwitchHeld_; });
}

SwitchCodes PageSwitchState::setCodes() const {
    return guard_->observe([this] { return pageSwitchSetCodes_; });
}

std::optional<SwitchCodes> PageSwitchState::restoreCodes() const {
    return guard_->observe([this] { return pageSwitchRestoreCodes_; });
}

bool PageSwitchState::lockIsFree() const {
    return guard_->lockIsFree();
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
    auto* state = new PageSwitchState(platform, processStopGuard());
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
    std::optional<PageSwitchState::Commit> commit;
    if (PageSwitchState* state = pageSwitchState()) {
        commit.emplace(*state);
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
