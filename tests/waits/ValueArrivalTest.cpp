#include "platform/ValueArrival.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace cpi {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using namespace std::chrono_literals;

// A clock that moves only when the wait sleeps (by `sleepScale` of each sleep: 0 stands still), and
// by `costOfAsk` each time the condition is asked, as a slow read would.
struct FakeClock {
    nanoseconds time{5'000'000'000}; // not zero: the deadline is relative to the start
    double sleepScale = 1.0;
    milliseconds costOfAsk{0};
    std::vector<milliseconds> sleeps;

    WaitClock clock() {
        return WaitClock{[this] { return time; },
                         [this](nanoseconds duration) {
                             sleeps.push_back(std::chrono::duration_cast<milliseconds>(duration));
                             time += nanoseconds(static_cast<std::int64_t>(duration.count() * sleepScale));
                         }};
    }
};

struct Case {
    const char* name;
    milliseconds timeout;
    milliseconds poll;
    std::optional<milliseconds> arrivesAt; // time since the start from which the condition holds
    std::optional<milliseconds> stopAt;    // time since the start from which a stop has begun
    milliseconds costOfAsk{0};
    double sleepScale = 1.0;
    Arrival expected;
    int expectedAsks;
    milliseconds expectedElapsed;
};

// clang-format off
const Case cases[] = {
    // name                                                  timeout poll  arrives stop   ask cost scale result             asks elapsed
    {"already there: one ask, no sleep",                     1000ms, 20ms, 0ms,    {},    {},      1, Arrival::arrived,  1,   0ms},
    {"arrives after 100 ms",                                 1000ms, 20ms, 100ms,  {},    {},      1, Arrival::arrived,  6,   100ms},
    {"never arrives: asked at the deadline, then given up",  1000ms, 20ms, {},     {},    {},      1, Arrival::timedOut, 51,  1000ms},
    {"arrives exactly at the deadline",                      1000ms, 300ms, 1000ms, {},   {},      1, Arrival::arrived,  5,   1000ms},
    {"the last sleep is cut to the deadline",                50ms,   40ms, {},     {},    {},      1, Arrival::timedOut, 3,   50ms},
    {"zero timeout: a single ask",                           0ms,    20ms, {},     {},    {},      1, Arrival::timedOut, 1,   0ms},
    {"slow asks count against the deadline",                 1000ms, 20ms, {},     {},    400ms,   1, Arrival::timedOut, 3,   1240ms},
    {"a stop before the first ask: the value is not asked",  1000ms, 20ms, 0ms,    0ms,   {},      1, Arrival::stopped,  0,   0ms},
    {"a stop during the wait ends it at the next ask",       1000ms, 20ms, {},     50ms,  {},      1, Arrival::stopped,  3,   60ms},
    {"a clock that stands still still ends",                 1000ms, 20ms, {},     {},    {},      0, Arrival::timedOut, 52,  0ms},
    {"a zero poll does not spin",                            10ms,   0ms,  {},     {},    {},      1, Arrival::timedOut, 11,  10ms},
};
// clang-format on

TEST(ValueArrival, WaitsPollsAndGivesUpAsDocumented) {
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FakeClock fake;
        fake.sleepScale = row.sleepScale;
        const nanoseconds start = fake.time;
        int asks = 0;
        const auto elapsed = [&] { return fake.time - start; };
        const Arrival result = waitForArrival(
            [&] {
                ++asks;
                const bool holds = row.arrivesAt && elapsed() >= *row.arrivesAt;
                fake.time += row.costOfAsk;
                return holds;
            },
            row.timeout, row.poll, [&] { return row.stopAt && elapsed() >= *row.stopAt; }, fake.clock());
        EXPECT_EQ(result, row.expected);
        EXPECT_EQ(asks, row.expectedAsks);
        EXPECT_EQ(std::chrono::duration_cast<milliseconds>(elapsed()), row.expectedElapsed);
        for (const milliseconds sleep : fake.sleeps) {
            EXPECT_LE(sleep, std::max(row.poll, milliseconds(1)));
        }
    }
}

TEST(ValueArrival, WithoutAStopConditionOnlyTheValueCounts) {
    FakeClock fake;
    int asks = 0;
    EXPECT_EQ(waitForArrival([&] { return ++asks == 3; }, milliseconds(1000), milliseconds(25), nullptr,
                             fake.clock()),
              Arrival::arrived);
    EXPECT_EQ(asks, 3);
}

TEST(ValueArrival, TheSteadyClockReallyWaits) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        waitForArrival([] { return false; }, milliseconds(30), milliseconds(10), nullptr, steadyWaitClock()),
        Arrival::timedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(30));
}

} // namespace
} // namespace cpi
