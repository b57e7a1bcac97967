#include "discovery/TabCount.h"

#include "DiscoveryTestSupport.h"

#include <gtest/gtest.h>
#include <initializer_list>

namespace cpi::test {
namespace {

using nlohmann::json;

json many(const std::string& role, int count) {
    return {{"role", role}, {"repeat", count}};
}
json with(const std::string& role, json children) {
    return {{"role", role}, {"children", std::move(children)}};
}
// A braced list of elements is always a list: clang reads a one-element list of json as a copy of
// that element when the parameter is json itself, GCC as an array; this overload decides for both.
json with(const std::string& role, std::initializer_list<json> children) {
    return with(role, json::array_t(children));
}

struct Counted {
    std::int64_t tabs;
    long roundTrips;
};

Counted count(const json& window) {
    auto simulated = loadScenario(chromeWith(window));
    CountingPlatform platform(*simulated);
    // -1: no count
    std::int64_t tabs = countTabs(platform, platform.createApplicationElement(501)).value_or(-1);
    return {tabs, platform.roundTrips()};
}

TEST(CountTabs, TheTabsOfTheOneTabStrip) {
    struct Case {
        const char* name;
        json window;
        std::int64_t tabs;
    };
    const std::vector<Case> cases = {
        {"tabs, some in a tab group",
         with("AXWindow",
              {with("AXGroup",
                    {with("AXTabGroup", {many("AXRadioButton", 2),
                                         with("AXGroup", {many("AXButton", 1), many("AXRadioButton", 2)}),
                                         many("AXButton", 1)})})}),
         4},
        {"empty tab strip", with("AXWindow", {with("AXTabGroup", json::array())}), 0},
        {"no tab strip", with("AXWindow", {many("AXGroup", 3)}), -1},
        {"two tab strips",
         with("AXWindow", {with("AXTabGroup", {many("AXRadioButton", 1)}), many("AXTabGroup", 1)}), -1},
        {"a tab strip inside a tab strip is not looked for",
         with("AXWindow", {with("AXTabGroup", {with("AXTabGroup", {many("AXRadioButton", 3)})})}), 3},
        {"a tab strip in a page is not found",
         with("AXWindow", {with("AXWebArea", {with("AXTabGroup", {many("AXRadioButton", 2)})})}), -1},
        {"tabs are not entered",
         with("AXWindow", {with("AXTabGroup", {with("AXRadioButton", {many("AXRadioButton", 5)})})}), 1},
        {"pages in the tab strip are not entered",
         with("AXWindow", {with("AXTabGroup", {with("AXWebArea", {many("AXRadioButton", 5)})})}), 0},
        {"the window itself is a tab strip", with("AXTabGroup", {many("AXRadioButton", 2)}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(count(c.window).tabs, c.tabs);
    }
}

// A window examined as: the window, the tab strip, a group and `filler` buttons in the first walk;
// then the tab strip again and `tabs` tabs in the second.
json sizedWindow(int filler, int tabs) {
    return with("AXWindow", {with("AXTabGroup", {many("AXRadioButton", tabs)}),
                             with("AXGroup", {many("AXButton", filler)})});
}

TEST(CountTabs, OneCounterOverBothWalks) {
    struct Case {
        const char* name;
        int filler;
        int tabs;
        std::int64_t expected;
    };
    const std::vector<Case> cases = {
        {"first walk examines exactly 2500", 2497, 3, 3},
        {"first walk would examine 2501, tab strip already found", 2498, 3, -1},
        {"both walks examine exactly 5000", 2497, 2499, 2499},
        {"second walk would go past 5000", 2497, 2500, -1},
        {"a small first walk leaves room for a large strip", 0, 4996, 4996},
        {"but not past 5000", 0, 4997, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Counted counted = count(sizedWindow(c.filler, c.tabs));
        EXPECT_EQ(counted.tabs, c.expected);
        EXPECT_LE(counted.roundTrips, 5000);
    }
}

TEST(CountTabs, BoundedOnLoopsAndHugeTrees) {
    json loop = json::parse(R"({"id": "w", "role": "AXWindow", "children": [
        {"role": "AXGroup", "children": [{"ref": "w"}]}, {"role": "AXTabGroup"}]})");
    Counted looped = count(loop);
    EXPECT_EQ(looped.tabs, -1);
    EXPECT_EQ(looped.roundTrips, 2500);

    json strip = json::parse(R"({"id": "strip", "role": "AXTabGroup", "children": [
        {"role": "AXRadioButton"}, {"role": "AXGroup", "children": [{"ref": "strip"}]}]})");
    Counted inner = count(with("AXWindow", {strip}));
    EXPECT_EQ(inner.tabs, -1);
    EXPECT_EQ(inner.roundTrips, 5000);

    Counted huge =
        count(with("AXWindow", {many("AXTabGroup", 1), with("AXGroup", {many("AXButton", 100000)})}));
    EXPECT_EQ(huge.tabs, -1);
    EXPECT_EQ(huge.roundTrips, 2500);
}

} // namespace
} // namespace cpi::test
