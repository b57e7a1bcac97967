#include "discovery/WindowsOnEverySpace.h"

#include "DiscoveryTestSupport.h"

#include <gtest/gtest.h>

namespace cpi::test {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

Bytes bytesOf(const RemoteToken& token) {
    return Bytes(token.bytes().begin(), token.bytes().end());
}

TEST(RemoteToken, LittleEndianLayout) {
    RemoteToken token(1234);
    token.setElementIdentifier(5);
    EXPECT_EQ(bytesOf(token), (Bytes{0xD2, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6F, 0x63,
                                     0x6F, 0x63, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));

    RemoteToken other(-2);
    other.setElementIdentifier(0x0102030405060708);
    EXPECT_EQ(bytesOf(other), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x6F, 0x63,
                                     0x6F, 0x63, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}));
    // Only the identifier changes from one element to the next.
    other.setElementIdentifier(999);
    EXPECT_EQ(bytesOf(other), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x6F, 0x63,
                                     0x6F, 0x63, 0xE7, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

struct Listing {
    std::optional<Strings> names;
    long roundTrips = 0;
};

Listing listWindows(const json& root, const json& tokens) {
    auto simulated = loadScenario(chromeWith(root, tokens));
    CountingPlatform platform(*simulated);
    Element app = platform.createApplicationElement(501);
    std::optional<std::vector<Element>> windows = windowsOnEverySpace(platform, app, 501);
    Listing listing;
    listing.roundTrips = platform.roundTrips();
    if (windows) {
        listing.names = titles(*simulated, *windows);
    }
    return listing;
}

json window(const std::string& title, std::optional<std::uint32_t> number,
            const std::string& role = "AXWindow") {
    json element = {{"title", title}, {"role", role}};
    if (number) {
        element["windowNumber"] = *number;
    }
    return element;
}

TEST(WindowsOnEverySpace, OrdinaryWindowsFirstThenThoseFoundByToken) {
    json root = {{"id", "app"}, {"windows", {window("one", 11), window("two", 12)}}};
    json tokens = {{"7", window("other space", 13)}, {"3", window("earlier id", 14)}};
    EXPECT_EQ(listWindows(root, tokens).names, (Strings{"one", "two", "earlier id", "other space"}));
}

TEST(WindowsOnEverySpace, WhatTheTokenWalkLeavesOut) {
    json ordinary =
        json::parse(R"({"windows": [{"id": "w", "title": "one", "role": "AXWindow", "windowNumber": 11}]})");
    struct Case {
        const char* name;
        json tokens;
        Strings expected;
    };
    const std::vector<Case> cases = {
        {"same element as an ordinary window", {{"1", {{"ref", "w"}}}}, {"one"}},
        {"another handle with an ordinary number", {{"1", window("copy", 11)}}, {"one"}},
        {"two token elements of one window", {{"1", window("a", 20)}, {"2", window("b", 20)}}, {"one", "a"}},
        {"a sheet", {{"1", window("sheet", 21, "AXSheet")}}, {"one"}},
        {"number 0", {{"1", window("zero", 0)}}, {"one"}},
        {"no number", {{"1", window("none", std::nullopt)}}, {"one"}},
        {"unreadable role", {{"1", {{"title", "x"}, {"windowNumber", 22}}}}, {"one"}},
        {"role of another kind",
         {{"1", {{"title", "x"}, {"attributes", {{"AXRole", 3}}}, {"windowNumber", 23}}}},
         {"one"}},
        {"identifier 999 is tried", {{"999", window("last", 24)}}, {"one", "last"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(listWindows(ordinary, c.tokens).names, c.expected);
    }
}

TEST(WindowsOnEverySpace, OrdinaryWindowsStayWhateverTheyAre) {
    // The ordinary list is taken whole: no role test, no number needed; a window without a
    // readable number may then be found again by token.
    json root = {{"windows", {window("no number", std::nullopt), window("sheet", 30, "AXSheet")}}};
    json tokens = {{"4", window("same window, numbered", 31)}, {"5", window("sheet again", 30)}};
    EXPECT_EQ(listWindows(root, tokens).names, (Strings{"no number", "sheet", "same window, numbered"}));
}

TEST(WindowsOnEverySpace, UnreadableWindowListIsEmpty) {
    EXPECT_EQ(
        listWindows(json::parse(R"({"attributes": {"AXWindows": {"error": -25204}}})"), json::object()).names,
        Strings{});
    EXPECT_EQ(listWindows(json::parse(R"({"attributes": {"AXWindows": {"list": [{"element": "a"}, 1]}},
                                         "children": [{"id": "a", "role": "AXWindow"}]})"),
                          json::object())
                  .names,
              Strings{});
    EXPECT_EQ(listWindows(json::parse(R"({"attributes": {"AXWindows": {"noValue": true}}})"),
                          {{"8", window("found", 40)}})
                  .names,
              Strings{"found"});
}

TEST(WindowsOnEverySpace, SixtyFourWindowsAtMost) {
    json sixtyThree = {
        {"windows", {{{"role", "AXWindow"}, {"title", "w"}, {"windowNumber", 1}, {"repeat", 63}}}}};
    Listing full = listWindows(sixtyThree, {{"10", window("sixty-fourth", 64)}});
    ASSERT_TRUE(full.names);
    EXPECT_EQ(full.names->size(), 64u);

    // The 65th window ends the enumeration at once.
    Listing over =
        listWindows(sixtyThree, {{"10", window("a", 64)}, {"20", window("b", 65)}, {"30", window("c", 66)}});
    EXPECT_EQ(over.names, std::nullopt);
    // 1 window list + 63 numbers + 21 tokens + 2 × (role + number).
    EXPECT_EQ(over.roundTrips, 1 + 63 + 21 + 4);

    // An ordinary list that alone is too long is refused without further work, however long.
    for (int count : {65, 100000}) {
        json ordinary = {{"windows", {{{"role", "AXWindow"}, {"windowNumber", 1}, {"repeat", count}}}}};
        Listing ordinaryOnly = listWindows(ordinary, {{"10", window("a", 64)}});
        EXPECT_EQ(ordinaryOnly.names, std::nullopt);
        EXPECT_EQ(ordinaryOnly.roundTrips, 1);
    }
}

} // namespace
} // namespace cpi::test
