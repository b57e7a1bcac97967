#include "inspection/PageSwitch.h"

#include "protocol/Frames.h"
#include "platform/Process.h"

#include <atomic>
#include <cstdlib>

namespace cpi {

bool PageSwitchState::turnOn(const Element& app) {
    const std::lock_guard lock(pageSwitchLock_);
    if (pageSwitchApp_) {
        return false;
    }
    pageSwitchApp_ = app;
    for (const PageSwitchAttribute& row : ChromePrivateInputPolicy::pageSwitchAttributes) {
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

void PageSwitchState::restore() {
    const std::lock_guard lock(pageSwitchLock_);
    if (!pageSwitchApp_) {
        return;
    }
    // Cleared first: a second caller, on any thread, finds nothing owed. The element is released
    // before the lock (declared after it).
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

void PageSwitchState::startOver(Platform& platform) {
    const std::lock_guard lock(pageSwitchLock_);
    platform_ = &platform;
    pageSwitchApp_.reset();
    pageSwitchHeld_.clear();
    pageSwitchSetCodes_.clear();
    pageSwitchRestoreCodes_.reset();
    pageSwitchReport_.reset();
}

std::optional<CheckMap> PageSwitchState::report() const {
    const std::lock_guard lock(pageSwitchLock_);
    return pageSwitchReport_;
}

bool PageSwitchState::restoreOwed() const {
    const std::lock_guard lock(pageSwitchLock_);
    return pageSwitchApp_.has_value();
}

std::vector<HeldSwitch> PageSwitchState::held() const {
    const std::lock_guard lock(pageSwitchLock_);
    return pageSwitchHeld_;
}

SwitchCodes PageSwitchState::setCodes() const {
    const std::lock_guard lock(pageSwitchLock_);
    return pageSwitchSetCodes_;
}

std::optional<SwitchCodes> PageSwitchState::restoreCodes() const {
    const std::lock_guard lock(pageSwitchLock_);
    return pageSwitchRestoreCodes_;
}

Platform& PageSwitchState::platform() const {
    const std::lock_guard lock(pageSwitchLock_);
    return *platform_;
}

bool PageSwitchState::lockIsFree() const {
    if (!pageSwitchLock_.try_lock()) {
        return false;
    }
    pageSwitchLock_.unlock();
    return true;
}

namespace {

// Never freed: the exit handler and the stop-signal thread may use it until the process is gone.
std::atomic<PageSwitchState*> processState{nullptr};

void restoreOnExit() {
    restorePageSwitch();
}

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
        std::atexit(restoreOnExit);
        process::handleStopSignals([](int) {
            PageSwitchState* state = pageSwitchState();
            if (state == nullptr) {
                std::exit(1);
            }
            state->restore();
            // Through the normal exit path: the exit handler runs once more and finds nothing owed.
            state->platform().exitProcess(1);
        });
    });
}

void restorePageSwitch() {
    if (PageSwitchState* state = pageSwitchState()) {
        state->restore();
    }
}

nlohmann::ordered_json checkMapJson(const CheckMap& map) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (const auto& [key, value] : map.entries()) {
        object[key] = value;
    }
    return object;
}

void writeFinal(nlohmann::ordered_json map) {
    restorePageSwitch();
    if (PageSwitchState* state = pageSwitchState()) {
        if (const std::optional<CheckMap> report = state->report()) {
            map["pageSwitch"] = checkMapJson(*report);
        }
    }
    writeResult(map);
}

} // namespace cpi
