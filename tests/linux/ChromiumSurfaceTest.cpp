// The one table that turns Chromium's elements on the accessibility bus into the names the tool
// reads, checked against what Chrome shows on a Mac.
#include "platform/linux/ChromiumSurface.h"

#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

namespace cpi::atspi {
namespace {

StateSet states(std::initializer_list<AtspiStateType> set) {
    StateSet bits{};
    for (const AtspiStateType state : set) {
        bits[state / 32] |= 1u << (state % 32);
    }
    return bits;
}

TEST(ChromiumSurface, rolesAndSubroles) {
    struct Row {
        const char* name;
        AtspiRole role;
        StateSet states;
        std::map<std::string, std::string> attributes;
        std::string_view role_;
        std::string_view subrole;
    };
    for (const Row& row : std::vector<Row>{
             {"browser frame",
              ATSPI_ROLE_FRAME,
              {},
              {{"class", "BrowserRootView"}},
              "AXWindow",
              "AXStandardWindow"},
             {"dialog", ATSPI_ROLE_DIALOG, {}, {}, "AXWindow", "AXDialog"},
             {"toolbar", ATSPI_ROLE_TOOL_BAR, {}, {}, "AXToolbar", ""},
             {"profile button",
              ATSPI_ROLE_PUSH_BUTTON,
              {},
              {{"class", "AvatarToolbarButton"}},
              "AXButton",
              ""},
             {"application menu",
              ATSPI_ROLE_PUSH_BUTTON,
              {},
              {{"class", "BrowserAppMenuButton"}},
              "AXPopUpButton",
              ""},
             {"text input", ATSPI_ROLE_ENTRY, {}, {{"text-input-type", "text"}}, "AXTextField", ""},
             {"search input",
              ATSPI_ROLE_ENTRY,
              {},
              {{"text-input-type", "search"}},
              "AXTextField",
              "AXSearchField"},
             {"textarea", ATSPI_ROLE_ENTRY, states({ATSPI_STATE_MULTI_LINE}), {}, "AXTextArea", ""},
             {"password", ATSPI_ROLE_PASSWORD_TEXT, {}, {}, "AXTextField", "AXSecureTextField"},
             {"number input", ATSPI_ROLE_SPIN_BUTTON, {}, {}, "AXIncrementor", ""},
             {"page", ATSPI_ROLE_DOCUMENT_WEB, {}, {}, "AXWebArea", ""},
             {"tab strip", ATSPI_ROLE_PAGE_TAB_LIST, {}, {}, "AXTabGroup", ""},
             {"tab", ATSPI_ROLE_PAGE_TAB, {}, {}, "AXRadioButton", ""},
             {"text", ATSPI_ROLE_STATIC, {}, {}, "AXStaticText", ""},
             {"paragraph", ATSPI_ROLE_PARAGRAPH, {}, {}, "AXGroup", ""},
             {"panel", ATSPI_ROLE_PANEL, {}, {{"class", "BrowserAppMenuButton"}}, "AXGroup", ""},
         }) {
        const ElementShape shape{std::uint32_t(row.role), row.states, "", ""};
        EXPECT_EQ(axRole(shape, row.attributes), row.role_) << row.name;
        EXPECT_EQ(axSubrole(shape, row.attributes), row.subrole) << row.name;
    }
    // Only the roles whose translation reads object attributes ask for them.
    EXPECT_EQ(roleNeedsAttributes(ATSPI_ROLE_PUSH_BUTTON), NeedsAttributes::yes);
    EXPECT_EQ(roleNeedsAttributes(ATSPI_ROLE_ENTRY), NeedsAttributes::no);
    EXPECT_EQ(subroleNeedsAttributes(ATSPI_ROLE_ENTRY), NeedsAttributes::yes);
    EXPECT_EQ(subroleNeedsAttributes(ATSPI_ROLE_PASSWORD_TEXT), NeedsAttributes::no);
}

TEST(ChromiumSurface, titlesDescriptionsAndValues) {
    struct Row {
        const char* name;
        AtspiRole role;
        std::string accessibleName;
        std::string accessibleDescription;
        std::string_view title;
        std::string_view description;
        ValueSource value;
    };
    for (const Row& row : std::vector<Row>{
             // The profile's button: its name is a title, its description the profile.
             {"profile button", ATSPI_ROLE_PUSH_BUTTON, "Sign in to Chromium?", "Work",
              "Sign in to Chromium?", "Work", ValueSource::none},
             {"button without description", ATSPI_ROLE_PUSH_BUTTON, "Work", "", "Work", "",
              ValueSource::none},
             // A text field's name is its label, read as the description (the address bar).
             {"address bar", ATSPI_ROLE_ENTRY, "Address and search bar", "", "", "Address and search bar",
              ValueSource::text},
             {"password", ATSPI_ROLE_PASSWORD_TEXT, "Password", "", "", "Password", ValueSource::text},
             // A text's name is its content: neither title nor description.
             {"text", ATSPI_ROLE_STATIC, "sk_live_123", "", "", "", ValueSource::text},
             {"page", ATSPI_ROLE_DOCUMENT_WEB, "Login", "", "Login", "", ValueSource::none},
         }) {
        const ElementShape shape{std::uint32_t(row.role), {}, row.accessibleName, row.accessibleDescription};
        EXPECT_EQ(axTitle(shape), row.title) << row.name;
        EXPECT_EQ(axDescription(shape), row.description) << row.name;
        EXPECT_EQ(axValueSource(shape), row.value) << row.name;
    }
}

TEST(ChromiumSurface, listedChildrenAndApplications) {
    // Hidden views (no VISIBLE state) are left out, as a Mac's Chrome leaves them out: the hidden
    // overflow button would otherwise stand between the profile's button and the menu button.
    EXPECT_TRUE(isListedChild(states({ATSPI_STATE_VISIBLE})));
    EXPECT_TRUE(isListedChild(states({ATSPI_STATE_VISIBLE, ATSPI_STATE_FOCUSED})));
    EXPECT_FALSE(isListedChild(states({ATSPI_STATE_SHOWING})));
    EXPECT_FALSE(isListedChild({}));
    EXPECT_TRUE(isWindowRole(ATSPI_ROLE_FRAME));
    EXPECT_FALSE(isWindowRole(ATSPI_ROLE_PANEL));
    for (const char* name : {"Chromium", "Google Chrome", "Google Chrome Beta"}) {
        EXPECT_TRUE(isChromeApplicationName(name)) << name;
    }
    for (const char* name : {"chromium", "Firefox", "Chromium Helper", ""}) {
        EXPECT_FALSE(isChromeApplicationName(name)) << name;
    }
}

} // namespace
} // namespace cpi::atspi
