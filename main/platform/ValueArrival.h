// Waiting for a value that the application takes in asynchronously. A successful write through
// Accessibility (or a key sent through the display) only says that the request was queued; the
// field holds the value once its character count says so. The backends that write the secret check
// it with this one wait: it polls a condition until it holds, up to a deadline, and gives up at once
// when a stop has begun, so that the stop path is never kept waiting by it.
#pragma once

#include <chrono>
#include <functional>

namespace cpi {

// How a wait reads the time and lets it pass. The backends wait on the steady clock with a thread
// sleep; the simulated backend waits on its own clock, and tests on a fake one.
struct WaitClock {
    std::function<std::chrono::nanoseconds()> now;
    std::function<void(std::chrono::nanoseconds)> sleepFor;
};

// The steady clock and std::this_thread::sleep_for.
WaitClock steadyWaitClock();

enum class Arrival {
    arrived,  // the condition held
    timedOut, // it did not hold by the deadline
    stopped,  // a stop began first; the condition was not asked again
};

// How long a written value may take to arrive, and how often it is looked for meanwhile.
inline constexpr std::chrono::milliseconds valueArrivalTimeout{1000};
inline constexpr std::chrono::milliseconds valueArrivalPoll{20};

// Asks `arrived` at once and then every `poll` until it holds or `timeout` has passed since the
// wait began; the last sleep ends at the deadline, where `arrived` is asked one last time. Before
// each ask, `stopBegun` (when given) is asked; once it holds the wait ends with `stopped`. The time
// `arrived` itself takes counts against the deadline. A `poll` below one millisecond is taken as
// one millisecond, and however the clock behaves, `arrived` is asked at most timeout / poll + 2
// times, so a clock that stands still cannot keep the wait going.
Arrival waitForArrival(const std::function<bool()>& arrived, std::chrono::nanoseconds timeout,
                       std::chrono::nanoseconds poll, const std::function<bool()>& stopBegun,
                       const WaitClock& clock);

} // namespace cpi
