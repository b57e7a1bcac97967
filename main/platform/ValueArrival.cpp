#include "platform/ValueArrival.h"

#include <algorithm>
#include <cstdint>
#include <thread>

namespace cpi {

WaitClock steadyWaitClock() {
    return WaitClock{
        [] {
            return std::chrono::duration_cast<std::chrono::nanoseconds>(
                std::chrono::steady_clock::now().time_since_epoch());
        },
        [](std::chrono::nanoseconds duration) { std::this_thread::sleep_for(duration); },
    };
}

Arrival waitForArrival(const std::function<bool()>& arrived, std::chrono::nanoseconds timeout,
                       std::chrono::nanoseconds poll, const std::function<bool()>& stopBegun,
                       const WaitClock& clock) {
    using std::chrono::nanoseconds;
    poll = std::max<nanoseconds>(poll, std::chrono::milliseconds(1));
    timeout = std::max<nanoseconds>(timeout, nanoseconds::zero());
    const std::int64_t maximumAsks = timeout / poll + 2;
    const nanoseconds deadline = clock.now() + timeout;
    for (std::int64_t asks = 1;; ++asks) {
        if (stopBegun && stopBegun()) {
            return Arrival::stopped;
        }
        if (arrived()) {
            return Arrival::arrived;
        }
        const nanoseconds now = clock.now();
        if (now >= deadline || asks >= maximumAsks) {
            return Arrival::timedOut;
        }
        clock.sleepFor(std::min(poll, deadline - now));
    }
}

} // namespace cpi
