// The page-switch state: what a turn-on and a restore write to Chrome, what they report, and the
// lock around them.
#include "inspection/PageSwitch.h"

#include "InspectionTestSupport.h"
#include "protocol/ResultLines.h"

#include <cstdio>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace cpi::test {
namespace {

json reportJson(const std::optional<CheckMap>& report) {
    return report ? json(checkMapJson(*report)) : json(nullptr);
}

// The lock as another thread sees it at this moment.
bool lockFreeSeenFromAnotherThread(const PageSwitchState& state) {
    return std::async(std::launch::async, [&state] { return state.lockIsFree(); }).get();
}

json scenarioWithSetResults(json setResults) {
    json scenario = oneWindowScenario();
    if (!setResults.empty()) {
        scenario["applications"][0]["root"]["setResults"] = std::move(setResults);
    }
    return scenario;
}

TEST(PageSwitchState, NeverTurnedOnRestoresNothingAndHasNoReport) {
    auto simulated = load(oneWindowScenario());
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);

    state.restore();
    state.restore();

    EXPECT_TRUE(platform.sets.empty());
    EXPECT_FALSE(state.report());
    EXPECT_FALSE(state.restoreCodes());
    EXPECT_FALSE(state.restoreOwed());
}

struct SwitchRow {
    const char* name;
    json setResults; // of Chrome's application element
    std::vector<SetCall> turnOnSets;
    json reportAfterTurnOn;
    std::vector<SetCall> restoreSets;
    json reportAfterRestore;
};

// A row prints as its name, so that a failing row names itself.
void PrintTo(const SwitchRow& row, std::ostream* out) {
    *out << row.name;
}

class PageSwitchRows : public testing::TestWithParam<SwitchRow> {};

TEST_P(PageSwitchRows, TurnOnThenRestoreWritesAndReports) {
    const SwitchRow& row = GetParam();
    auto simulated = load(scenarioWithSetResults(row.setResults));
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);
    const Element app = platform.createApplicationElement(501);

    EXPECT_TRUE(state.turnOn(app));
    EXPECT_EQ(platform.sets, row.turnOnSets);
    EXPECT_EQ(reportJson(state.report()), row.reportAfterTurnOn);
    EXPECT_EQ(state.held().size(), row.turnOnSets.size()); // a refused attempt is held too
    EXPECT_TRUE(state.restoreOwed());

    platform.sets.clear();
    state.restore();
    EXPECT_EQ(platform.sets, row.restoreSets);
    EXPECT_EQ(reportJson(state.report()), row.reportAfterRestore);
    EXPECT_TRUE(state.held().empty());
    EXPECT_FALSE(state.restoreOwed());

    // Again, as the exit handler would after the final line: nothing written, nothing changed.
    platform.sets.clear();
    state.restore();
    EXPECT_TRUE(platform.sets.empty());
    EXPECT_EQ(reportJson(state.report()), row.reportAfterRestore);
}

constexpr AXError unsupported = axErrorAttributeUnsupported; // -25205
constexpr AXError failure = axErrorFailure;                  // -25200

INSTANTIATE_TEST_SUITE_P(
    Rows, PageSwitchRows,
    testing::Values(
        SwitchRow{"ManualAccepted",
                  json::object(),
                  {{"chrome", "AXManualAccessibility", true, 0}},
                  {{"set", 1}, {"restored", 0}, {"manualSetError", 0}},
                  {{"chrome", "AXManualAccessibility", false, 0}},
                  {{"set", 1}, {"restored", 1}, {"manualSetError", 0}, {"manualRestoreError", 0}}},
        SwitchRow{"ManualRefusedEnhancedAccepted",
                  {{"AXManualAccessibility", unsupported}},
                  {{"chrome", "AXManualAccessibility", true, unsupported},
                   {"chrome", "AXEnhancedUserInterface", true, 0}},
                  {{"set", 1}, {"restored", 0}, {"manualSetError", unsupported}, {"enhancedSetError", 0}},
                  {{"chrome", "AXManualAccessibility", false, unsupported},
                   {"chrome", "AXEnhancedUserInterface", false, 0}},
                  {{"set", 1},
                   {"restored", 0},
                   {"manualSetError", unsupported},
                   {"enhancedSetError", 0},
                   {"manualRestoreError", unsupported},
                   {"enhancedRestoreError", 0}}},
        SwitchRow{
            "BothRefused",
            {{"AXManualAccessibility", unsupported}, {"AXEnhancedUserInterface", failure}},
            {{"chrome", "AXManualAccessibility", true, unsupported},
             {"chrome", "AXEnhancedUserInterface", true, failure}},
            {{"set", 0}, {"restored", 0}, {"manualSetError", unsupported}, {"enhancedSetError", failure}},
            {{"chrome", "AXManualAccessibility", false, unsupported},
             {"chrome", "AXEnhancedUserInterface", false, failure}},
            {{"set", 0},
             {"restored", 0},
             {"manualSetError", unsupported},
             {"enhancedSetError", failure},
             {"manualRestoreError", unsupported},
             {"enhancedRestoreError", failure}}}),
    [](const testing::TestParamInfo<SwitchRow>& row) { return std::string(row.param.name); });

TEST(PageSwitchState, SecondTurnOnWhileOwedDoesNothing) {
    auto simulated = load(oneWindowScenario());
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);
    const Element app = platform.createApplicationElement(501);

    ASSERT_TRUE(state.turnOn(app));
    EXPECT_FALSE(state.turnOn(app));
    EXPECT_EQ(platform.sets.size(), 1U);
    EXPECT_EQ(state.setCodes(), (SwitchCodes{{"manual", 0}}));
}

TEST(PageSwitchState, TurnOnAfterRestoreAppendsCodesAndKeepsOldRestoreCodes) {
    auto simulated = load(scenarioWithSetResults({{"AXManualAccessibility", unsupported}}));
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);
    const Element app = platform.createApplicationElement(501);

    ASSERT_TRUE(state.turnOn(app));
    state.restore();
    ASSERT_TRUE(state.turnOn(app));

    EXPECT_EQ(state.held(), (std::vector<HeldSwitch>{{"AXManualAccessibility", "manual"},
                                                     {"AXEnhancedUserInterface", "enhanced"}}));
    EXPECT_EQ(
        state.setCodes(),
        (SwitchCodes{{"manual", unsupported}, {"enhanced", 0}, {"manual", unsupported}, {"enhanced", 0}}));
    EXPECT_EQ(state.restoreCodes(), (SwitchCodes{{"manual", unsupported}, {"enhanced", 0}}));
    // Recomputed without restore codes.
    EXPECT_EQ(reportJson(state.report()),
              (json{{"set", 1}, {"restored", 0}, {"manualSetError", unsupported}, {"enhancedSetError", 0}}));
}

TEST(PageSwitchState, RacingRestoresWriteOnce) {
    auto simulated = load(oneWindowScenario());
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);
    ASSERT_TRUE(state.turnOn(platform.createApplicationElement(501)));
    platform.sets.clear();

    std::vector<std::thread> threads;
    for (int index = 0; index < 8; ++index) {
        threads.emplace_back([&state] { state.restore(); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(platform.sets, (std::vector<SetCall>{{"chrome", "AXManualAccessibility", false, 0}}));
    EXPECT_EQ(state.restoreCodes(), (SwitchCodes{{"manual", 0}}));
}

TEST(PageSwitchState, LockIsHeldAroundTheSetCallsAndReleasedAfter) {
    auto simulated = load(scenarioWithSetResults({{"AXManualAccessibility", unsupported}}));
    ObservedPlatform platform(*simulated);
    PageSwitchState state(platform);
    std::vector<bool> freeDuringSets;
    platform.onCall = [&](std::string_view operation) {
        if (operation == "setAttributeValue") {
            freeDuringSets.push_back(lockFreeSeenFromAnotherThread(state));
        }
    };
    const Element app = platform.createApplicationElement(501);

    state.turnOn(app);
    EXPECT_TRUE(lockFreeSeenFromAnotherThread(state));
    state.restore();
    EXPECT_TRUE(lockFreeSeenFromAnotherThread(state));

    EXPECT_EQ(freeDuringSets, (std::vector<bool>{false, false, false, false}));
}

// writeFinal and the process-wide state ----------------------------------------------------------

TEST(WriteFinal, WithoutTurnOnTheLineHasNoReport) {
    auto simulated = load(oneWindowScenario());
    createPageSwitchState(*simulated);

    testing::internal::CaptureStdout();
    writeFinal({{"ok", false}, {"reason", "origin_not_allowed"}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "{\"ok\":false,\"reason\":\"origin_not_allowed\"}\n");
}

TEST(WriteFinal, RestoresBeforeWritingAndCarriesTheRestoredReport) {
    auto simulated = load(oneWindowScenario());
    ObservedPlatform platform(*simulated);
    PageSwitchState& state = createPageSwitchState(platform);
    ASSERT_TRUE(state.turnOn(platform.createApplicationElement(501)));

    testing::internal::CaptureStdout();
    writeFinal({{"ok", true}, {"typed", true}});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "{\"ok\":true,\"typed\":true,\"pageSwitch\":{\"set\":1,\"restored\":1,\"manualSetError\":0,"
              "\"manualRestoreError\":0}}\n");
    EXPECT_EQ(platform.sets.back(), (SetCall{"chrome", "AXManualAccessibility", false, 0}));
    EXPECT_FALSE(state.restoreOwed());

    // The exit handler's restore afterwards finds nothing owed.
    restorePageSwitch();
    EXPECT_EQ(platform.sets.size(), 2U);
}

// Says on standard error, in order, what the stop path asks of the platform.
class StopOrderPlatform : public ForwardingPlatform {
public:
    using ForwardingPlatform::ForwardingPlatform;
    using ForwardingPlatform::setAttributeValue;
    AXError setAttributeValue(const Element& element, std::string_view attribute, bool value) override {
        std::fprintf(stderr, "set:%.*s=%d ", static_cast<int>(attribute.size()), attribute.data(),
                     value ? 1 : 0);
        return ForwardingPlatform::setAttributeValue(element, attribute, value);
    }
    void prepareForStop() override {
        std::fprintf(stderr, "prepare ");
        ForwardingPlatform::prepareForStop();
    }
    [[noreturn]] void terminateProcess(int status) override {
        std::fprintf(stderr, "end:%d", status);
        ForwardingPlatform::terminateProcess(status);
    }
};

TEST(PageSwitchStateDeathTest, StopAsksForTheShortDeadlinesBeforeItRestoresAndEndsWithStatusOne) {
    EXPECT_EXIT(
        {
            auto simulated = load(oneWindowScenario());
            StopOrderPlatform platform(*simulated);
            PageSwitchState state(platform);
            state.turnOn(platform.createApplicationElement(501));
            state.stop();
        },
        testing::ExitedWithCode(1),
        "^set:AXManualAccessibility=1 (prepare )+set:AXManualAccessibility=0 end:1$");
}

} // namespace
} // namespace cpi::test
