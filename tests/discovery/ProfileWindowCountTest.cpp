#include "discovery/ProfileWindowCount.h"

#include "DiscoveryTestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

namespace cpi::test {
namespace {

using nlohmann::json;

std::string countFor(const json& scenario, const std::string& profile, long* roundTrips = nullptr) {
    auto simulated = loadScenario(scenario);
    CountingPlatform platform(*simulated);
    const nlohmann::ordered_json line = profileWindowCountLine(profileWindowCount(platform, profile));
    if (roundTrips != nullptr) {
        *roundTrips = platform.roundTrips();
    }
    return line.dump();
}

json browser(const std::string& id, std::uint32_t number, const std::string& profile) {
    return {{"id", id},
            {"role", "AXWindow"},
            {"windowNumber", number},
            {"children",
             {{{"role", "AXTabGroup"}, {"children", {{{"role", "AXRadioButton"}}}}},
              {{"role", "AXToolbar"},
               {"children",
                {{{"role", "AXTextField"}},
                 {{"role", "AXButton"}, {"title", profile}},
                 {{"role", "AXPopUpButton"}}}}}}}};
}

TEST(ProfileWindowCount, TrustThenNameThenChrome) {
    json scenario = chromeWith({{"windows", {browser("w", 7, "Work")}}});
    json untrusted = scenario;
    untrusted["trusted"] = false;
    EXPECT_EQ(countFor(untrusted, ""), R"({"ok":false,"reason":"accessibility_unavailable"})");
    EXPECT_EQ(countFor(scenario, ""), R"({"ok":false,"reason":"site_configuration_invalid"})");
    EXPECT_EQ(countFor(scenario, std::string(81, 'n')),
              R"({"ok":false,"reason":"site_configuration_invalid"})");
    EXPECT_EQ(countFor(scenario, "Work"),
              R"({"ok":true,"count":1,"windows":1,"windowNumbers":[7],"tabCounts":[1],)"
              R"("frontKind":"browser","frontAvatar":"Work"})");
}

TEST(ProfileWindowCount, WhichChromeCounts) {
    json chrome = {{"pid", 501},
                   {"bundleIdentifier", "com.google.Chrome"},
                   {"root", {{"windows", {browser("w", 7, "Work")}}}}};
    auto withApps = [](json applications) { return json{{"applications", std::move(applications)}}; };
    auto another = [&](int pid) {
        json copy = chrome;
        copy["pid"] = pid;
        copy["root"]["windows"][0]["id"] = "w" + std::to_string(pid);
        return copy;
    };
    json terminated = another(502);
    terminated["terminated"] = true;
    json accessory = another(503);
    accessory["activationPolicy"] = 1;
    json second = another(504);

    const std::string none = R"({"ok":true,"count":0,"windows":0,"windowNumbers":[],"tabCounts":[],)"
                             R"("frontKind":null,"frontAvatar":null})";
    EXPECT_EQ(countFor(withApps(json::array()), "Work"), none);
    EXPECT_EQ(countFor(withApps({terminated, accessory}), "Work"), none);
    EXPECT_EQ(countFor(withApps({terminated, accessory, chrome}), "Work").substr(0, 21),
              R"({"ok":true,"count":1,)");
    EXPECT_EQ(countFor(withApps({chrome, second}), "Work"),
              R"({"ok":false,"reason":"chrome_window_unavailable"})");
}

TEST(ProfileWindowCount, FrontWindow) {
    json windows = {browser("home", 8, "Home"), browser("work", 7, "Work")};
    struct Case {
        const char* name;
        json rootExtras;
        std::string front;
    };
    const std::vector<Case> cases = {
        {"focused window",
         {{"focusedWindow", {{"ref", "home"}}}, {"mainWindow", {{"ref", "work"}}}},
         R"("frontKind":"browser","frontAvatar":"Home"})"},
        {"main window when no window is focused",
         {{"mainWindow", {{"ref", "work"}}}},
         R"("frontKind":"browser","frontAvatar":"Work"})"},
        {"a failing focused window read",
         {{"attributes", {{"AXFocusedWindow", {{"error", -25204}}}, {"AXMainWindow", {{"noValue", true}}}}}},
         R"("frontKind":"browser","frontAvatar":"Home"})"},
        {"a focused window that is not an element",
         {{"attributes", {{"AXFocusedWindow", "front"}}}, {"mainWindow", {{"ref", "work"}}}},
         R"("frontKind":"other","frontAvatar":null})"},
        {"a focused element that is no window",
         {{"focusedWindow", {{"ref", "stray"}}}},
         R"("frontKind":"other","frontAvatar":null})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json root = {{"windows", windows}, {"children", {{{"id", "stray"}, {"role", "AXButton"}}}}};
        root.update(c.rootExtras);
        std::string map = countFor(chromeWith(root), "Work");
        EXPECT_EQ(map.substr(map.find("\"frontKind\"")), c.front);
    }
    EXPECT_EQ(countFor(chromeWith(json::object()), "Work"),
              R"({"ok":true,"count":0,"windows":0,"windowNumbers":[],"tabCounts":[],)"
              R"("frontKind":null,"frontAvatar":null})");
}

TEST(ProfileWindowCount, RealisticChromeInFewRoundTrips) {
    std::ifstream file(std::string(CPI_SOURCE_DIR) + "/tests/scenarios/chrome-profiles.json");
    json scenario = json::parse(file);
    long roundTrips = 0;
    EXPECT_EQ(countFor(scenario, "Work", &roundTrips),
              R"({"ok":true,"count":2,"windows":5,"windowNumbers":[4101,4102],"tabCounts":[4,3],)"
              R"("frontKind":"dialog","frontAvatar":null})");
    // 1000 token identifiers, their 6 elements' roles, the window list and 11 window numbers;
    // 189 elements walked (five window walks, the front window, two tab counts) at one round trip
    // each; 31 reads of toolbar children and their labels; the front window and its subrole.
    EXPECT_EQ(roundTrips, 1000 + 6 + 1 + 11 + 189 + 31 + 2);
}

} // namespace
} // namespace cpi::test
