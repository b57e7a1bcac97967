// Chrome's page accessibility switch, as this process has touched it, and the guard that puts it
// back however the process ends.
//
// Settling may turn the switch on (two boolean attributes of Chrome's application element) and
// leaves it on while the caller works on the target. The process-wide state below records what was
// turned on; `restorePageSwitch` writes false to every attribute that was tried, at most once per
// turn-on, whichever of the final line, the exit handler or a stop signal comes first.
//
// One non-recursive lock guards the state. It is held for the turn-on, for the whole restore and
// for reading the report, never across an inspection, a sleep or a write to standard output, and
// no path takes it twice.
#pragma once

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "platform/Platform.h"

#include <mutex>
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
    // The initial state: nothing turned on, no report. `platform` must outlive the state.
    explicit PageSwitchState(Platform& platform) : platform_(&platform) {}
    PageSwitchState(const PageSwitchState&) = delete;
    PageSwitchState& operator=(const PageSwitchState&) = delete;

    // The turn-on step of settling, under the lock: unless a restore is already owed, remembers
    // `app` and sets the switch's attributes to true in table order, holding each before its set
    // call and stopping at the first that Chrome accepts; then recomputes the report without
    // restore codes. Returns false (and does nothing) when a restore was already owed.
    bool turnOn(const Element& app);

    // Puts the switch back: writes false to every held attribute in order and records the codes.
    // Does nothing when no restore is owed. Safe from any thread, any number of times.
    void restore();

    // The report of the latest turn-on or restore; absent until the first turn-on.
    std::optional<CheckMap> report() const;

    // Observations (each takes the lock briefly).
    bool restoreOwed() const;
    std::vector<HeldSwitch> held() const;
    SwitchCodes setCodes() const;
    std::optional<SwitchCodes> restoreCodes() const;
    // Whether the lock is free at this moment. Call only from a thread that does not hold it.
    bool lockIsFree() const;
    Platform& platform() const;

private:
    friend PageSwitchState& createPageSwitchState(Platform& platform);
    // Back to the initial state, on `platform`.
    void startOver(Platform& platform);

    Platform* platform_;
    mutable std::mutex pageSwitchLock_;
    std::optional<Element> pageSwitchApp_; // present exactly while a restore is owed
    std::vector<HeldSwitch> pageSwitchHeld_;
    SwitchCodes pageSwitchSetCodes_;
    std::optional<SwitchCodes> pageSwitchRestoreCodes_;
    std::optional<CheckMap> pageSwitchReport_;
};

// The process-wide state of the delivery and key modes. Creating it (again) starts from the
// initial state; the state is never freed, so the exit handler and the stop-signal thread can use
// it until the process is gone.
PageSwitchState& createPageSwitchState(Platform& platform);
// The process-wide state; null before `createPageSwitchState`.
PageSwitchState* pageSwitchState();

// Installs the restore guard, once per process: an exit handler that restores, and SIGTERM,
// SIGINT and SIGHUP taken off their default action and handled on a dedicated thread, which
// restores and ends the process with status 1 through the platform (no line is written). Call
// from the main thread after `createPageSwitchState` and before any other thread exists.
void installRestoreGuard();

// Restores the process-wide state; does nothing before it exists or when nothing is owed.
void restorePageSwitch();

// The writer of every final line of the delivery and key modes: restores the switch, adds the
// report under "pageSwitch" when one exists, then writes the line.
void writeFinal(nlohmann::ordered_json map);

// A check map as a JSON object, keys in their order.
nlohmann::ordered_json checkMapJson(const CheckMap& map);

} // namespace cpi
