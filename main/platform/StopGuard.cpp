#include "platform/StopGuard.h"

#include "platform/Process.h"

#include <cstdlib>
#include <utility>

namespace cpi {

StopGuard::StopGuard() : StopGuard(Hooks{process::stopSignalRequested, process::parkForever}) {}

StopGuard::StopGuard(Hooks hooks) : hooks_(std::move(hooks)) {}

StopGuard::Commit::Commit(StopGuard& guard) : guard_(guard) {
    guard_.lock_.lock();
    process::setInCommit(true);
    guard_.stopIfBegun();
}

StopGuard::Commit::~Commit() {
    process::setInCommit(false);
    guard_.lock_.unlock();
    // A stop that began during the commit is the stop thread's to finish; nothing more happens here.
    if (guard_.hooks_.stopBegun() != 0) {
        guard_.hooks_.park();
    }
}

void StopGuard::startOver(const std::function<void()>& reset, std::function<void()> restoreForStop,
                          std::function<void(int status)> terminate) {
    if (heldForEnd_) {
        heldForEnd_ = false; // the lock this thread kept for the end of an earlier run
        process::setInCommit(false);
    } else {
        lock_.lock();
    }
    if (reset) {
        reset();
    }
    restoreForStop_ = std::move(restoreForStop);
    terminate_ = std::move(terminate);
    heldSecrets_ = nullptr;
    closed_.store(false);
    lock_.unlock();
}

void StopGuard::holdSecrets(std::function<void()> wipe) {
    const Commit commit(*this);
    heldSecrets_ = std::move(wipe);
}

void StopGuard::stop() {
    lock_.lock(); // never given back; blocks for good once the main thread is ending
    stopLocked();
}

void StopGuard::stopIfBegun() {
    if (hooks_.stopBegun() != 0) {
        stopLocked();
    }
}

void StopGuard::stopLocked() {
    if (restoreForStop_) {
        restoreForStop_();
    }
    close(true);
    if (terminate_) {
        terminate_(stopExitStatus);
    }
    std::_Exit(stopExitStatus); // not reached: terminating does not return
}

void StopGuard::holdForEnd() {
    lock_.lock(); // kept until the process ends
    heldForEnd_ = true;
    process::setInCommit(true);
    stopIfBegun();
}

void StopGuard::close(bool wipe) {
    closed_.store(true);
    if (wipe && heldSecrets_) {
        heldSecrets_();
        heldSecrets_ = nullptr;
    }
}

bool StopGuard::lockIsFree() const {
    if (!lock_.try_lock()) {
        return false;
    }
    lock_.unlock();
    return true;
}

StopGuard& processStopGuard() {
    static StopGuard* const guard = new StopGuard();
    return *guard;
}

} // namespace cpi
