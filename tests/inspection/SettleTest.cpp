// Settling: the wait for a page that Chrome exposes only once its page switch is on, in virtual
// time, and the lock held only around the switch writes.
#include "inspection/Settle.h"

#include "InspectionTestSupport.h"
#include "inspection/PageSwitch.h"

#include <future>
#include <gtest/gtest.h>

namespace cpi::test {
namespace {

// One Chrome window without a web area; `pageAt` seconds after the start the page shows up.
json pageLaterScenario(double pageAt, json page) {
    json scenario = {{"applications", {chromeApplication({window("w1", 11, "Work", nullptr)})}}};
    if (pageAt >= 0) {
        scenario["events"] = {{{"when", {{"time", pageAt}}},
                               {"do", {{{"addChild", {{"parent", "w1"}, {"element", std::move(page)}}}}}}}};
    }
    return scenario;
}

struct Observed {
    std::string operation;
    bool lockFree;
};

TEST(Settle, AFirstSuccessIsGivenBackAtOnce) {
    auto simulated = load(oneWindowScenario());
    ObservedPlatform platform(*simulated);
    createPageSwitchState(platform);

    testing::internal::CaptureStdout();
    const std::optional<ChromeTarget> target = settle(platform, workRequest(), InspectionGoal::writableField);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ASSERT_TRUE(target);
    EXPECT_EQ(platform.nameOf(target->focused), "w1-password");
    EXPECT_EQ(simulated->callCount("sleep"), 0);
    EXPECT_TRUE(platform.sets.empty());
}

TEST(Settle, PageShowingUpDuringTheThirdSleepEndsTheWaitWithTheSwitchOnAndTheLockFreeOutsideTheWrites) {
    auto simulated = load(pageLaterScenario(0.6, signInPage("late", "https://example.com/login")));
    ObservedPlatform platform(*simulated);
    PageSwitchState& state = createPageSwitchState(platform);
    std::vector<Observed> observed;
    platform.onCall = [&](std::string_view operation) {
        const bool lockFree = std::async(std::launch::async, [&state] { return state.lockIsFree(); }).get();
        observed.push_back({std::string(operation), lockFree});
    };

    testing::internal::CaptureStdout();
    const std::optional<ChromeTarget> target = settle(platform, workRequest(), InspectionGoal::writableField);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    ASSERT_TRUE(target);
    EXPECT_EQ(platform.nameOf(target->focused), "late-password");
    EXPECT_EQ(simulated->callCount("sleep"), 3);
    EXPECT_DOUBLE_EQ(simulated->clockSeconds(), 0.75);
    EXPECT_EQ(platform.sets, (std::vector<SetCall>{{"chrome", "AXManualAccessibility", true, 0}}));
    EXPECT_TRUE(state.restoreOwed()); // the switch stays on for the caller

    for (const Observed& call : observed) {
        EXPECT_EQ(call.lockFree, call.operation != "setAttributeValue") << call.operation;
    }
}

TEST(Settle, APageThatNeverShowsCostsTwelveInspectionsAndIsRefusedAfterTheRestore) {
    auto simulated = load(pageLaterScenario(-1, nullptr));
    ObservedPlatform platform(*simulated);
    createPageSwitchState(platform);

    testing::internal::CaptureStdout();
    const std::optional<ChromeTarget> target = settle(platform, workRequest(), InspectionGoal::writableField);
    const std::string output = testing::internal::GetCapturedStdout();

    EXPECT_FALSE(target);
    EXPECT_EQ(output,
              "{\"ok\":false,\"reason\":\"origin_not_allowed\",\"originCheck\":{\"addressFound\":1,"
              "\"addressRead\":1,"
              "\"addressScheme\":0,\"webAreas\":0,\"pageUrls\":0,\"allowedPages\":0,\"addressMatches\":0},"
              "\"pageSwitch\":{\"set\":1,\"restored\":1,\"manualSetError\":0,\"manualRestoreError\":0}}\n");
    EXPECT_EQ(simulated->callCount("sleep"), 12);
    EXPECT_EQ(simulated->callCount("AXIsProcessTrusted"), 13);
    EXPECT_DOUBLE_EQ(simulated->clockSeconds(), 3.0);
    EXPECT_EQ(platform.sets, (std::vector<SetCall>{{"chrome", "AXManualAccessibility", true, 0},
                                                   {"chrome", "AXManualAccessibility", false, 0}}));
}

} // namespace
} // namespace cpi::test
