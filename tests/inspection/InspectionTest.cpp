// Target inspection against small Chrome scenarios: every refusal with its check map, the window
// pick, the address bar, the focused field, and Chrome changing under the inspection.
#include "inspection/Inspection.h"

#include "InspectionTestSupport.h"
#include "inspection/PageSwitch.h"
#include "protocol/ResultLines.h"

#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace cpi::test {
namespace {

struct InspectRow {
    const char* name;
    std::function<json()> scenario;
    Request request;
    bool page = false;
    std::optional<std::string> reason;  // absent: success
    json checkMap = nullptr;            // expected map, null: none
    std::string target = "w1-password"; // expected focused element on success
};

// A row prints as its name, so that a failing row names itself.
void PrintTo(const InspectRow& row, std::ostream* out) {
    *out << row.name;
}

class InspectRows : public testing::TestWithParam<InspectRow> {};

TEST_P(InspectRows, GivesTheExpectedTriple) {
    const InspectRow& row = GetParam();
    auto platform = load(row.scenario());

    const InspectionResult result =
        inspect(*platform, row.request, row.page ? InspectionGoal::page : InspectionGoal::writableField);

    const Refusal* refusal = result.refusal();
    EXPECT_EQ(refusal ? std::optional(std::string(wireName(refusal->reason))) : std::nullopt, row.reason);
    if (row.checkMap.is_null()) {
        EXPECT_FALSE(refusal && refusal->check);
    } else {
        ASSERT_TRUE(refusal && refusal->check);
        // The map goes under the name its reason calls for.
        EXPECT_EQ(refusal->check->name, refusal->reason == ReasonCode::originNotAllowed
                                            ? CheckName::originCheck
                                            : CheckName::windowCheck);
        EXPECT_EQ(json(checkMapJson(refusal->check->map)), row.checkMap);
    }
    if (row.reason) {
        EXPECT_FALSE(result);
    } else {
        ASSERT_TRUE(result);
        EXPECT_EQ(result->pid, 501);
        EXPECT_EQ(platform->elementName(result->window), "w1");
        EXPECT_EQ(platform->elementName(result->focused), row.target);
    }
}

// Scenario variations --------------------------------------------------------------------------

json& firstWindow(json& scenario) {
    return scenario["applications"][0]["root"]["windows"][0];
}
json& page(json& scenario) {
    return firstWindow(scenario)["children"][1];
}
json& field(json& scenario, std::size_t index) {
    return page(scenario)["children"][index];
}

std::function<json()> base = [] { return oneWindowScenario(); };

std::function<json()> with(std::function<void(json&)> change) {
    return [change] {
        json scenario = oneWindowScenario();
        change(scenario);
        return scenario;
    };
}

json twoWindows(const std::string& secondProfile) {
    return {{"applications",
             {chromeApplication(
                 {window("w1", 11, "Work", signInPage("w1", "https://example.com/login")),
                  window("w2", 12, secondProfile, signInPage("w2", "https://example.com/login"))})}}};
}

json manyElements(const std::string& role, int count) {
    return {{"role", role}, {"repeat", count}};
}

Request requestFor(std::string profile, std::vector<std::string> origins,
                   std::optional<std::uint32_t> number = 11) {
    return Request{std::move(profile), std::move(origins), number, std::nullopt};
}

std::string repeated(const std::string& piece, int count) {
    std::string text;
    for (int index = 0; index < count; ++index) {
        text += piece;
    }
    return text;
}

std::vector<std::string> origins(int count) {
    std::vector<std::string> list{"https://example.com"};
    for (int index = 1; index < count; ++index) {
        list.push_back("https://site" + std::to_string(index) + ".example");
    }
    return list;
}

InspectRow ok(const char* name, std::function<json()> scenario, Request request, bool page = false,
              std::string target = "w1-password") {
    return InspectRow{name,    std::move(scenario), std::move(request), page, std::nullopt,
                      nullptr, std::move(target)};
}

InspectRow refused(const char* name, std::function<json()> scenario, Request request, std::string reason,
                   json checkMap = nullptr, bool page = false) {
    return InspectRow{
        name, std::move(scenario), std::move(request), page, std::move(reason), std::move(checkMap), ""};
}

const json noWebAreaCheck = {{"addressFound", 1}, {"addressRead", 1},  {"addressScheme", 0}, {"webAreas", 0},
                             {"pageUrls", 0},     {"allowedPages", 0}, {"addressMatches", 0}};

INSTANTIATE_TEST_SUITE_P(
    Rows, InspectRows,
    testing::Values(
        // Success, with and without the window number.
        ok("FocusedPasswordField", base, workRequest()),
        ok("WithoutWindowNumber", base, workRequest(std::nullopt)),
        ok("PageOnlyGivesTheWebArea", with([](json& s) { field(s, 2)["focused"] = false; }), workRequest(),
           true, "w1-page"),

        // Trust and request bounds.
        refused("UntrustedBeforeTheRequestIsLookedAt", with([](json& s) { s["trusted"] = false; }),
                requestFor("", {}), "accessibility_unavailable"),
        refused("EmptyProfileName", base, requestFor("", {"https://example.com"}),
                "site_configuration_invalid"),
        refused("ProfileNameOf81Characters", base,
                requestFor(repeated("\xC3\xA9", 81), {"https://example.com"}), "site_configuration_invalid"),
        // 80 characters (160 bytes) pass the bounds; no window shows that profile.
        refused("ProfileNameOf80CharactersPassesTheBounds", base,
                requestFor(repeated("\xC3\xA9", 80), {"https://example.com"}),
                "selected_chrome_profile_not_confirmed",
                {{"windows", 1},
                 {"numbersRead", 1},
                 {"confirmedGiven", 1},
                 {"numberMatches", 1},
                 {"targetAvatar", 0},
                 {"avatarWindows", 0},
                 {"avatarRefused", 0}}),
        refused("NoAllowedOrigin", base, requestFor("Work", {}), "site_configuration_invalid"),
        ok("SixteenAllowedOrigins", base, requestFor("Work", origins(16))),
        refused("SeventeenAllowedOrigins", base, requestFor("Work", origins(17)),
                "site_configuration_invalid"),

        // The Chrome process.
        refused("NoChrome", with([](json& s) { s["applications"] = json::array(); }), workRequest(),
                "chrome_window_unavailable"),
        refused("TwoRegularChromes",
                with([](json& s) { s["applications"].push_back(chromeApplication(json::array(), 502)); }),
                workRequest(), "chrome_window_unavailable"),
        ok("AnAccessoryChromeDoesNotCount", with([](json& s) {
               json helper = chromeApplication(json::array(), 502);
               helper["activationPolicy"] = 1;
               s["applications"].push_back(helper);
           }),
           workRequest()),
        ok("ATerminatedChromeDoesNotCount", with([](json& s) {
               json old = chromeApplication(json::array(), 502);
               old["terminated"] = true;
               s["applications"].push_back(old);
           }),
           workRequest()),

        // The window list.
        refused("NoWindowAnywhere",
                with([](json& s) { s["applications"][0]["root"]["windows"] = json::array(); }),
                workRequest(std::nullopt), "chrome_window_not_on_current_space"),
        refused("SixtyFiveWindows", with([](json& s) {
                    s["applications"][0]["root"]["windows"].push_back(
                        {{"role", "AXWindow"}, {"windowNumber", 40}, {"repeat", 64}});
                }),
                workRequest(std::nullopt), "chrome_window_unavailable"),
        ok("WindowOnAnotherSpaceFoundByToken", with([](json& s) {
               json& root = s["applications"][0]["root"];
               s["applications"][0]["tokens"] = {{"3", root["windows"][0]}};
               root["windows"] = json::array();
           }),
           workRequest()),

        // The profile.
        refused("TwoWindowsOfTheProfileWithoutNumber", [] { return twoWindows("Work"); },
                workRequest(std::nullopt), "selected_chrome_profile_not_confirmed",
                {{"windows", 2},
                 {"numbersRead", 2},
                 {"confirmedGiven", 0},
                 {"numberMatches", 0},
                 {"targetAvatar", 0},
                 {"avatarWindows", 2},
                 {"avatarRefused", 0}}),
        ok(
            "TwoWindowsOfTheProfileTheNumberPicksOne", [] { return twoWindows("Work"); }, workRequest(11)),
        refused("NumberOfAWindowOfAnotherProfile", [] { return twoWindows("Home"); }, workRequest(12),
                "selected_chrome_profile_not_confirmed",
                {{"windows", 2},
                 {"numbersRead", 2},
                 {"confirmedGiven", 1},
                 {"numberMatches", 1},
                 {"targetAvatar", 0},
                 {"avatarWindows", 1},
                 {"avatarRefused", 0}}),
        refused("NumberNoWindowCarries", [] { return twoWindows("Home"); }, workRequest(99),
                "selected_chrome_profile_not_confirmed",
                {{"windows", 2},
                 {"numbersRead", 2},
                 {"confirmedGiven", 1},
                 {"numberMatches", 0},
                 {"targetAvatar", 0},
                 {"avatarWindows", 1},
                 {"avatarRefused", 0}}),
        refused("NumberZeroNeverMatches", with([](json& s) { firstWindow(s)["windowNumber"] = 0; }),
                workRequest(0), "selected_chrome_profile_not_confirmed",
                {{"windows", 1},
                 {"numbersRead", 0},
                 {"confirmedGiven", 1},
                 {"numberMatches", 0},
                 {"targetAvatar", 0},
                 {"avatarWindows", 1},
                 {"avatarRefused", 0}}),
        refused("TwoAvatarsInOneToolbarRefuse", with([](json& s) {
                    firstWindow(s)["children"][0]["children"].insert(
                        firstWindow(s)["children"][0]["children"].begin(),
                        json{{"role", "AXButton"}, {"description", "Work Profile"}});
                }),
                workRequest(), "selected_chrome_profile_not_confirmed",
                {{"windows", 1},
                 {"numbersRead", 1},
                 {"confirmedGiven", 1},
                 {"numberMatches", 1},
                 {"targetAvatar", 0},
                 {"avatarWindows", 0},
                 {"avatarRefused", 1}}),

        // The toolbar, the address bar and the origin.
        refused("ToolbarSubtreeOverTheLimit", with([](json& s) {
                    firstWindow(s)["children"][0]["children"].push_back(
                        {{"role", "AXWebArea"}, {"children", {manyElements("AXStaticText", 2500)}}});
                }),
                workRequest(), "chrome_window_unavailable"),
        ok("AddressBarDescriptionInAnyCase", with([](json& s) {
               firstWindow(s)["children"][0]["children"][1]["children"][0]["description"] = "ADDRESS";
           }),
           workRequest()),
        ok("AComboBoxSearchBarIsTheAddressBar", with([](json& s) {
               json& group = firstWindow(s)["children"][0]["children"][1]["children"];
               group[0]["description"] = "Tab search";
               group.push_back(
                   {{"role", "AXComboBox"}, {"description", "Search Bar"}, {"value", "example.com/x"}});
           }),
           workRequest()),
        refused("StaticTextIsNoAddressBar", with([](json& s) {
                    json& group = firstWindow(s)["children"][0]["children"][1]["children"];
                    group[0]["description"] = "Tab search";
                    group.push_back(
                        {{"role", "AXStaticText"}, {"description", "Address"}, {"value", "example.com"}});
                }),
                workRequest(), "origin_not_allowed",
                {{"addressFound", 0},
                 {"addressRead", 0},
                 {"addressScheme", 0},
                 {"webAreas", 1},
                 {"pageUrls", 1},
                 {"allowedPages", 1},
                 {"addressMatches", 0}}),
        refused("UnreadableAddressStillCountsAsFound", with([](json& s) {
                    firstWindow(s)["children"][0]["children"][1]["children"][0].erase("value");
                }),
                workRequest(), "origin_not_allowed",
                {{"addressFound", 1},
                 {"addressRead", 0},
                 {"addressScheme", 0},
                 {"webAreas", 1},
                 {"pageUrls", 1},
                 {"allowedPages", 1},
                 {"addressMatches", 0}}),
        refused("NoWebArea", with([](json& s) { firstWindow(s)["children"].erase(1); }), workRequest(),
                "origin_not_allowed", noWebAreaCheck),
        refused("PageOnAnotherOrigin", with([](json& s) { page(s)["url"] = "https://evil.example/login"; }),
                workRequest(), "origin_not_allowed",
                {{"addressFound", 1},
                 {"addressRead", 1},
                 {"addressScheme", 0},
                 {"webAreas", 1},
                 {"pageUrls", 1},
                 {"allowedPages", 0},
                 {"addressMatches", 0}}),
        ok("UrlGivenAsAString", with([](json& s) {
               page(s).erase("url");
               page(s)["attributes"] = {{"AXURL", "https://example.com/login"}};
           }),
           workRequest()),

        // The focused field.
        refused("PageOverTheWalkLimit",
                with([](json& s) { page(s)["children"].push_back(manyElements("AXStaticText", 2500)); }),
                workRequest(), "focused_field_not_supported"),
        refused("NothingFocused", with([](json& s) { field(s, 2)["focused"] = false; }), workRequest(),
                "focused_field_not_supported"),
        refused("TwoElementsFocused", with([](json& s) { field(s, 1)["focused"] = true; }), workRequest(),
                "focused_field_not_supported"),
        ok("OneFocusedElementReachedTwice", with([](json& s) {
               page(s)["children"].push_back({{"ref", "w1-password"}});
           }),
           workRequest()),
        refused("FocusedSearchFieldOfThePage", with([](json& s) {
                    field(s, 2)["role"] = "AXTextField";
                    field(s, 2)["subrole"] = "AXSearchField";
                }),
                workRequest(), "focused_field_not_supported"),
        refused("FocusedTextArea", with([](json& s) { field(s, 2)["role"] = "AXTextArea"; }), workRequest(),
                "focused_field_not_supported"),
        refused("ValueNotSettable", with([](json& s) { field(s, 2)["settable"] = json::array(); }),
                workRequest(), "focused_field_not_supported"),
        ok("FocusedTextFieldWithAnEmptySubrole", with([](json& s) { field(s, 2)["subrole"] = ""; }),
           workRequest()),

        // Chrome changing under the inspection.
        refused("ChromeTerminatesBeforeTheLastCheck", with([](json& s) {
                    s["events"] = {{{"when", {{"call", "AXUIElementIsAttributeSettable"}, {"count", 1}}},
                                    {"do", {{{"terminate", 501}}}}}};
                }),
                workRequest(), "focus_changed"),
        refused("ChromeQuitsDuringThePageOnlyInspection", with([](json& s) {
                    s["events"] = {
                        {{"when", {{"call", "runningApplicationWithProcessIdentifier"}, {"count", 1}}},
                         {"do", {{{"quit", 501}}}}}};
                }),
                workRequest(), "focus_changed", nullptr, true),
        refused("ChromeReplacedUnderTheSamePid", with([](json& s) {
                    s["events"] = {
                        {{"when", {{"call", "runningApplicationWithProcessIdentifier"}, {"count", 1}}},
                         {"do",
                          {{{"quit", 501}},
                           {{"launch",
                             {{"pid", 501},
                              {"bundleIdentifier", "com.example.Other"},
                              {"root", {{"role", "AXApplication"}}}}}}}}}};
                }),
                workRequest(), "focus_changed")),
    [](const testing::TestParamInfo<InspectRow>& row) { return std::string(row.param.name); });

TEST(PageOrigin, UrlOrStringOrNothing) {
    auto platform = load(
        {{"applications",
          {chromeApplication({{{"role", "AXWindow"},
                               {"children",
                                {{{"id", "url"}, {"role", "AXWebArea"}, {"url", "HTTPS://Example.COM:443/a"}},
                                 {{"id", "string"},
                                  {"role", "AXWebArea"},
                                  {"attributes", {{"AXURL", "https://example.com/b"}}}},
                                 {{"id", "number"}, {"role", "AXWebArea"}, {"attributes", {{"AXURL", 7}}}},
                                 {{"id", "http"}, {"role", "AXWebArea"}, {"url", "http://example.com/"}},
                                 {{"id", "none"}, {"role", "AXWebArea"}}}}}})}}});
    const auto element = [&](const std::string& id) {
        const Element app = platform->createApplicationElement(501);
        const auto windows = platform->copyAttributeValue(app, "AXWindows");
        const Element window = std::get<Element>(std::get<AttributeList>(windows.value->value)[0].value);
        const auto children = platform->copyAttributeValue(window, "AXChildren");
        for (const AttributeValue& child : std::get<AttributeList>(children.value->value)) {
            if (platform->elementName(std::get<Element>(child.value)) == id) {
                return std::get<Element>(child.value);
            }
        }
        return Element();
    };
    const auto pageOrigin = [&](const Element& webArea) { return pageReport(*platform, webArea).origin; };
    EXPECT_EQ(pageOrigin(element("url")), "https://example.com");
    EXPECT_EQ(pageOrigin(element("string")), "https://example.com");
    EXPECT_EQ(pageOrigin(element("number")), std::nullopt);
    EXPECT_EQ(pageOrigin(element("http")), std::nullopt);
    EXPECT_EQ(pageOrigin(element("none")), std::nullopt);
}

// On the realistic scenario (three windows of about 800 elements, a page of about 1500), one
// inspection costs at most one round trip per element its walks visit, plus a handful of reads
// around them.
TEST(InspectCost, OneRoundTripPerVisitedElement) {
    std::ifstream file(std::string(CPI_SOURCE_DIR) + "/tests/scenarios/realistic-chrome.json");
    ASSERT_TRUE(file);
    auto platform = load(json::parse(file));
    const Request request{"Work", {"https://accounts.example.com"}, 4101, std::nullopt};

    const InspectionResult result = inspect(*platform, request, InspectionGoal::writableField);

    ASSERT_TRUE(result) << wireName(result.refusal()->reason);
    EXPECT_EQ(platform->elementName(result->focused), "w1-password");
    // Visited: the chosen window's pruned walk (796), its toolbar (13), the page (1515).
    const std::int64_t visited = 796 + 13 + 1515;
    EXPECT_LE(platform->roundTrips(), visited + 40);
}

} // namespace
} // namespace cpi::test
