// Chrome's page accessibility switch, as this process has touched it, and the guard that puts it
// back however the process ends.
//
// Settling may turn the switch on (two boolean attributes of Chrome's application element) and
// leaves it on while the caller works on the target. The process-wide state below records what was
// turned on; the restore writes false to every attribute that was tried, at most once per turn-on,
// whichever of the final line, the exit handler or a stop signal comes first.
//
// The state lives under the process's stop guard (platform/StopGuard.h): its lock guards every
// field, the turn-on and the final line are commits, and the guard's stop path runs this state's
// restore before it ends the process with status 1. The main thread holds the lock for the
// turn-on, for the write of the secret, for an interim line, and from the final line to the end
// of the process; never across an inspection or a sleep, and no path takes it twice.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "platform/Platform.h"
#include "platform/StopGuard.h"

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cpi {

// (attribute, short name) of a row of the switch table that this process tried to turn on.
using HeldSwitch = std::pair<std::string, std::string>;

class PageSwitchState {
public:
    // The initial state: nothing turned on, no report, under `guard` (or a guard of its own).
    // `platform` and `guard` must outlive the state.
    explicit PageSwitchState(Platform& platform);
    PageSwitchState(Platform& platform, StopGuard& guard);
    PageSwitchState(const PageSwitchState&) = delete;
    PageSwitchState& operator=(const PageSwitchState&) = delete;

    // One commit of the main thread under the state's guard (StopGuard::Commit).
    class [[nodiscard]] Commit : public StopGuard::Commit {
    public:
        explicit Commit(PageSwitchState& state) : StopGuard::Commit(*state.guard_) {}
    };

    // The turn-on step of settling, a commit: unless a restore is already owed, remembers `app` and
    // sets the switch's attributes to true in table order, holding each before its set call and
    // stopping at the first that Chrome accepts; then recomputes the report without restore codes.
    // Returns false (and does nothing) when a restore was already owed.
    bool turnOn(const Element& app);

    // Puts the switch back: writes false to every held attribute in order and records the codes.
    // Does nothing when no restore is owed or the state is closed. Safe from any thread, any number
    // of times (the exit handler's path).
    void restore();

    // How to wipe the copies of a secret that the main thread holds; the stop path and the end of
    // the process run it. Replaces what was held before. Taken as a commit.
    void holdSecrets(std::function<void()> wipe);

    // The final line, a commit that lasts until the process ends: restores the switch, adds the
    // report under "pageSwitch" when one exists, closes the state and writes the line. The caller
    // then only wipes and ends the process (`end`).
    void writeFinal(nlohmann::ordered_json map);

    // Ends the process with `status` through the normal exit path, after the restore and the wipe
    // of the held secrets; a commit.
    [[noreturn]] void end(int status);

    // The stop-signal handler: the stop path, from the thread that takes the signal.
    [[noreturn]] void stop();

    // The report of the latest turn-on or restore; absent until the first turn-on.
    std::optional<CheckMap> report() const;

    // Observations (each takes the lock briefly, unless this thread holds it for the end).
    bool restoreOwed() const;
    std::vector<HeldSwitch> held() const;
    SwitchCodes setCodes() const;
    std::optional<SwitchCodes> restoreCodes() const;
    // Whether the lock is free at this moment. Call only from a thread that does not hold it.
    bool lockIsFree() const;

private:
    friend PageSwitchState& createPageSwitchState(Platform& platform);
    // Back to the initial state, on `platform` (also after a final line, on the thread that wrote it).
    void startOver(Platform& platform);

    void restoreLocked();
    // The lock taken for good by the main thread, a begun stop honoured, and the switch put back.
    void holdForEnd();

    Platform* platform_;
    std::unique_ptr<StopGuard> ownGuard_;
    StopGuard* guard_;
    std::optional<Element> pageSwitchApp_; // present exactly while a restore is owed
    std::vector<HeldSwitch> pageSwitchHeld_;
    SwitchCodes pageSwitchSetCodes_;
    std::optional<SwitchCodes> pageSwitchRestoreCodes_;
    std::optional<CheckMap> pageSwitchReport_;
};

// The process-wide state of the delivery and key modes, under the process's stop guard. Creating it
// (again) starts from the initial state; the state is never freed, so the exit handler and the stop-signal
// thread can use it until the process is gone.
PageSwitchState& createPageSwitchState(Platform& platform);
// The process-wide state; null before `createPageSwitchState`.
PageSwitchState* pageSwitchState();

// Installs the restore guard, once per process: an exit handler that restores, and SIGTERM,
// SIGINT and SIGHUP taken off their default action and handled on a dedicated thread, which takes
// the stop path (no line is written, status 1). Call from the main thread after
// `createPageSwitchState` and before any other thread exists.
void installRestoreGuard();

// Restores the process-wide state; does nothing before it exists or when nothing is owed.
void restorePageSwitch();

// The writer of every final line of the delivery and key modes (the process-wide state's
// `writeFinal`; a plain line when there is no state).
void writeFinal(nlohmann::ordered_json map);

// An interim line of the delivery and key modes: written as a commit, so never after a stop began.
void writeInterim(const nlohmann::ordered_json& map);

// The end of a delivery or key mode (the process-wide state's `end`).
[[noreturn]] void endGuarded(Platform& platform, int status);

} // namespace cpi
