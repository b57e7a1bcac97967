#include "discovery/Toolbars.h"

#include "DiscoveryTestSupport.h"

#include <gtest/gtest.h>
#include <initializer_list>

namespace cpi::test {
namespace {

using nlohmann::json;
using Strings = std::vector<std::string>;

json element(const std::string& role, json children = json::array()) {
    json e = {{"role", role}};
    if (!children.empty()) {
        e["children"] = std::move(children);
    }
    return e;
}
// A braced list of elements is always a list: clang reads a one-element list of json as a copy of
// that element when the parameter is json itself, GCC as an array; this overload decides for both.
json element(const std::string& role, std::initializer_list<json> children) {
    return element(role, json::array_t(children));
}
json button(const std::string& title, const std::string& role = "AXButton") {
    return {{"role", role}, {"title", title}};
}
json textField() {
    return {{"role", "AXTextField"}, {"description", "Address and search bar"}};
}
// A text field `levels` below the toolbar, inside groups.
json fieldAt(int levels) {
    json inner = textField();
    for (int level = 1; level < levels; ++level) {
        inner = element("AXGroup", {inner});
    }
    return inner;
}
json toolbar(json children, const std::string& title = "toolbar") {
    json t = element("AXToolbar", std::move(children));
    t["title"] = title;
    return t;
}
json toolbar(std::initializer_list<json> children, const std::string& title = "toolbar") {
    return toolbar(json::array_t(children), title);
}
json windowWith(json children, const std::string& title = "window") {
    json w = element("AXWindow", std::move(children));
    w["title"] = title;
    return w;
}
json windowWith(std::initializer_list<json> children, const std::string& title = "window") {
    return windowWith(json::array_t(children), title);
}

// The titles of the main toolbars of `window`.
Strings mainToolbarTitles(const json& window) {
    auto platform = loadScenario(chromeWith(window));
    std::optional<WalkedTree> tree =
        walkTree(*platform, platform->createApplicationElement(501), WebContent::prune, 2500);
    EXPECT_TRUE(tree);
    std::vector<Element> toolbars;
    for (std::size_t position : mainToolbars(*tree)) {
        toolbars.push_back(tree->nodes[position]);
    }
    return titles(*platform, toolbars);
}

TEST(MainToolbars, AddressFieldWithinThreeLevels) {
    // Single-child lists are spelled json::array: see element() above.
    struct Case {
        const char* name;
        json toolbarChildren;
        bool main;
    };
    json buttons198 = json::array();
    for (int i = 0; i < 198; ++i) {
        buttons198.push_back(button("b"));
    }
    json buttons199 = buttons198;
    buttons199.push_back(button("b"));
    json field198 = buttons198;
    field198.push_back(textField());
    json field199 = buttons199;
    field199.push_back(textField());

    const std::vector<Case> cases = {
        {"field as a child", {button("Back"), textField()}, true},
        {"field three levels below", json::array({fieldAt(3)}), true},
        {"field four levels below", json::array({fieldAt(4)}), false},
        {"field inside a web area", json::array({element("AXWebArea", {textField()})}), false},
        {"field inside a text field", json::array({element("AXTextField", {element("AXGroup")})}), true},
        {"secure field only", json::array({element("AXSecureTextField")}), false},
        {"field is the 200th role", field198, true},
        {"field is the 201st role", field199, false},
        {"no children", json::array(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mainToolbarTitles(windowWith({toolbar(c.toolbarChildren)})),
                  c.main ? Strings{"toolbar"} : Strings{});
    }
}

TEST(MainToolbars, OnlyToolbarsInWalkOrder) {
    json window = windowWith({toolbar({textField()}, "first"), element("AXGroup", {textField()}),
                              toolbar({button("News")}, "bookmarks"), toolbar({fieldAt(2)}, "second")});
    // Siblings are walked from the last.
    EXPECT_EQ(mainToolbarTitles(window), (Strings{"second", "first"}));
}

// A window whose main toolbar has the usual shape, with `avatar` before the trailing menu.
json browserWindow(const std::string& title, json avatar) {
    return windowWith({toolbar({button("Back"), element("AXGroup", {textField()}), std::move(avatar),
                                button("Chrome", "AXPopUpButton")}),
                       element("AXGroup", {element("AXWebArea", {element("AXStaticText")})})},
                      title);
}

struct Search {
    std::optional<Strings> windows;
    std::optional<std::string> reason;
    std::vector<std::size_t> nodeCounts;
};

Search searchFor(const std::vector<json>& windows, const std::string& profile) {
    json root = {{"windows", windows}};
    auto simulated = loadScenario(chromeWith(root));
    Platform& platform = *simulated;
    std::vector<Element> list = *readElements(platform, platform.createApplicationElement(501), ax::windows);
    AvatarSearch search = avatarWindows(platform, list, profile);
    Search result;
    if (const Refusal* refusal = search.refusal()) {
        result.reason = std::string(wireName(refusal->reason));
    } else {
        std::vector<Element> found;
        for (const ProfiledWindow& profiled : search.value()) {
            found.push_back(profiled.window);
            result.nodeCounts.push_back(profiled.nodes.size());
            EXPECT_EQ(profiled.nodes.size(), profiled.roles.size());
            EXPECT_TRUE(platform.elementsEqual(profiled.nodes.front(), profiled.window));
            EXPECT_EQ(readString(platform, profiled.toolbar, ax::role), "AXToolbar");
        }
        result.windows = titles(platform, found);
    }
    return result;
}

TEST(AvatarWindows, MatchesTheProfileOnADirectToolbarChild) {
    json work = browserWindow("work", button("Work"));
    EXPECT_EQ(searchFor({work}, "Work").windows, Strings{"work"});
    // window, toolbar, its four children and the address field, the page's group and the page
    EXPECT_EQ(searchFor({work}, "Work").nodeCounts, std::vector<std::size_t>{9});
    EXPECT_EQ(searchFor({work}, "Home").windows, Strings{});
    EXPECT_EQ(searchFor({work}, "Home").reason, std::nullopt);

    json described = browserWindow("described", {{"role", "AXButton"}, {"description", "Work Profile"}});
    EXPECT_EQ(searchFor({described}, "Work").windows, Strings{"described"});

    json nested = windowWith({toolbar({textField(), element("AXGroup", {button("Work")})})}, "nested");
    EXPECT_EQ(searchFor({nested}, "Work").windows, Strings{});

    // Any position among the children counts, not only the one before the menu.
    json first = windowWith({toolbar({button("Work"), textField(), button("Menu")})}, "first");
    EXPECT_EQ(searchFor({first}, "Work").windows, Strings{"first"});
}

TEST(AvatarWindows, SeveralWindowsInInputOrder) {
    EXPECT_EQ(searchFor({browserWindow("a", button("Work")), browserWindow("b", button("Home")),
                         browserWindow("c", button("Work"))},
                        "Work")
                  .windows,
              (Strings{"a", "c"}));
    EXPECT_EQ(searchFor({}, "Work").windows, Strings{});
}

TEST(AvatarWindows, RefusesWhenTheProfileIsNotTiedToOneButton) {
    const std::string refusal = "selected_chrome_profile_not_confirmed";
    json twoButtons = windowWith(
        {toolbar({textField(), button("Work"), {{"role", "AXButton"}, {"description", "Work Profile"}}})});
    json twoToolbars =
        windowWith({toolbar({textField(), button("Work")}), toolbar({textField(), button("Work")})});
    // A toolbar whose children cannot be read holds no text field: it is no main toolbar and
    // takes no part in the search.
    json failing =
        windowWith({toolbar({textField(), button("Work")}),
                    {{"role", "AXToolbar"}, {"attributes", {{"AXChildren", {{"error", -25204}}}}}}},
                   "failing");
    json foreign = windowWith(
        {{{"role", "AXToolbar"}, {"attributes", {{"AXChildren", {{"list", {{{"element", "f"}}, 5}}}}}}},
         {{"id", "f"}, {"role", "AXTextField"}},
         toolbar({textField(), button("Work")})},
        "foreign");
    struct Case {
        const char* name;
        std::vector<json> windows;
        std::optional<std::string> reason;
    };
    const std::vector<Case> cases = {
        {"two matching buttons in one toolbar", {browserWindow("ok", button("Work")), twoButtons}, refusal},
        {"two matching toolbars in one window", {twoToolbars}, refusal},
        {"a toolbar with failing children", {failing}, {}},
        {"a toolbar with a foreign child", {foreign}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Search search = searchFor(c.windows, "Work");
        EXPECT_EQ(search.reason, c.reason);
        EXPECT_EQ(search.windows.has_value(), !c.reason);
    }
}

TEST(AvatarWindows, WindowsTooLargeToWalkAreSkipped) {
    json large = windowWith({toolbar({textField(), button("Work")}),
                             element("AXGroup", {{{"role", "AXButton"}, {"repeat", 2500}}})},
                            "large");
    json pageHeavy = windowWith({toolbar({textField(), button("Work")}),
                                 element("AXWebArea", {{{"role", "AXStaticText"}, {"repeat", 5000}}})},
                                "page heavy");
    EXPECT_EQ(searchFor({large, pageHeavy}, "Work").windows, Strings{"page heavy"});
}

WindowDescription describe(const json& window) {
    auto platform = loadScenario(chromeWith(window));
    return windowAvatar(*platform, platform->createApplicationElement(501));
}

TEST(WindowAvatar, KindAndLabel) {
    auto withSubrole = [](json window, const std::string& subrole) {
        window["subrole"] = subrole;
        return window;
    };
    json noToolbar = windowWith({element("AXGroup", {button("OK")})});
    json large = windowWith({toolbar({textField(), button("Alice"), button("Chrome", "AXPopUpButton")}),
                             element("AXGroup", {{{"role", "AXButton"}, {"repeat", 2500}}})});
    json lastIsButton = windowWith({toolbar({textField(), button("Alice"), button("Bob")})});
    json blank = windowWith({toolbar({textField(),
                                      {{"role", "AXButton"}, {"title", "  "}, {"description", "Alice"}},
                                      button("Chrome", "AXPopUpButton")})});
    json unlabelled =
        windowWith({toolbar({textField(), element("AXButton"), button("Chrome", "AXPopUpButton")})});
    json secondToolbar = windowWith({toolbar({textField(), button("Second"), button("m", "AXPopUpButton")}),
                                     toolbar({textField(), button("First"), button("m", "AXPopUpButton")})});

    struct Case {
        const char* name;
        json window;
        std::string kind;
        std::optional<std::string> avatar;
    };
    const std::vector<Case> cases = {
        {"avatar before the menu", browserWindow("w", button("Alice")), "browser", "Alice"},
        {"dialog subrole does not matter with a toolbar",
         withSubrole(browserWindow("w", button("Alice")), "AXDialog"), "browser", "Alice"},
        {"last child a button", lastIsButton, "browser", std::nullopt},
        {"blank title, described", blank, "browser", "Alice"},
        {"button without label", unlabelled, "browser", std::nullopt},
        {"first main toolbar in walk order", secondToolbar, "browser", "First"},
        {"dialog", withSubrole(noToolbar, "AXDialog"), "dialog", std::nullopt},
        {"system dialog", withSubrole(noToolbar, "AXSystemDialog"), "dialog", std::nullopt},
        {"standard window without toolbar", withSubrole(noToolbar, "AXStandardWindow"), "other",
         std::nullopt},
        {"no subrole", noToolbar, "other", std::nullopt},
        {"too large to walk", withSubrole(large, "AXDialog"), "dialog", std::nullopt},
        {"too large, no subrole", large, "other", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowDescription description = describe(c.window);
        EXPECT_EQ(description.kind, c.kind);
        EXPECT_EQ(description.avatar, c.avatar);
    }
}

TEST(WindowAvatar, LabelCutToEightyCharacters) {
    std::string longName(100, 'x');
    WindowDescription description = describe(browserWindow("w", button(longName)));
    EXPECT_EQ(description.avatar, std::string(80, 'x'));
}

} // namespace
} // namespace cpi::test
