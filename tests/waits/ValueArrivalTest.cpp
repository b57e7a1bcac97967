#include "platform/ValueArrival.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

namespace cpi {
namespace {

using std::chrono::milliseconds;
using std::chrono::nanoseconds;

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

const Case cases[] = {
    {"already there: one ask, no sleep",
     milliseconds(1000),
     milliseconds(20),
     milliseconds(0),
     {},
     {},
     1,
     Arrival::arrived,
     1,
     milliseconds(0)},
    {"arrives after 100 ms",
     milliseconds(1000),
     milliseconds(20),
     milliseconds(100),
     {},
     {},
     1,
     Arrival::arrived,
     6,
     milliseconds(100)},
    {"never arrives: asked at the deadline itself, then given up",
     milliseconds(1000),
     milliseconds(20),
     {},
     {},
     {},
     1,
     Arrival::timedOut,
     51,
     milliseconds(1000)},
    {"arrives exactly at the deadline",
     milliseconds(1000),
     milliseconds(300),
     milliseconds(1000),
     {},
     {},
     1,
     Arrival::arrived,
     5,
     milliseconds(1000)},
    {"the last sleep is cut to the deadline",
     milliseconds(50),
     milliseconds(40),
     {},
     {},
     {},
     1,
     Arrival::timedOut,
     3,
     milliseconds(50)},
    {"zero timeout: a single ask",
     milliseconds(0),
     milliseconds(20),
     {},
     {},
     {},
     1,
     Arrival::timedOut,
     1,
     milliseconds(0)},
    {"slow asks count against the deadline",
     milliseconds(1000),
     milliseconds(20),
     {},
     {},
     milliseconds(400),
     1,
     Arrival::timedOut,
     3,
     milliseconds(1240)},
    {"a stop before the first ask: the condition is never asked",
     milliseconds(1000),
     milliseconds(20),
     milliseconds(0),
     milliseconds(0),
     {},
     1,
     Arrival::stopped,
     0,
     milliseconds(0)},
    {"a stop during the wait ends it at the next ask",
     milliseconds(1000),
     milliseconds(20),
     {},
     milliseconds(50),
     {},
     1,
     Arrival::stopped,
     3,
     milliseconds(60)},
    {"a clock that stands still still ends",
     milliseconds(1000),
     milliseconds(20),
     {},
     {},
     {},
     0,
     Arrival::timedOut,
     52,
     milliseconds(0)},
    {"a zero poll does not spin",
     milliseconds(10),
     milliseconds(0),
     {},
     {},
     {},
     1,
     Arrival::timedOut,
     11,
     milliseconds(10)},
};

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
