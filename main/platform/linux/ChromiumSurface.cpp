#include "platform/linux/ChromiumSurface.h"

#include "ChromePrivateInputPolicy/AccessibilityNames.h"

#include <array>
#include <atspi/atspi-constants.h>

namespace cpi::atspi {

namespace {

// One row per bus role the tool tells apart; every other role reads as "AXGroup". The rows follow
// what Chrome shows on a Mac:
// - frame, window, dialog: a window ("AXWindow"), a dialog with the subrole "AXDialog";
// - tool bar: "AXToolbar"; the main toolbar holds the address field, an entry named "Address and
//   search bar", and as its last listed child the application menu button (push button of class
//   BrowserAppMenuButton), which reads as the trailing "AXPopUpButton"; the profile's button stays
//   an "AXButton" (its name is the title, its description the profile name);
// - entry: "AXTextField" ("AXTextArea" when multi-line; subrole "AXSearchField" for a search
//   input); password text: "AXTextField" with the subrole "AXSecureTextField";
// - document web: "AXWebArea", whose "AXURL" is the document's URI;
// - page tab list and page tab: "AXTabGroup" and its "AXRadioButton" tabs;
// - static, label: "AXStaticText", whose "AXValue" is its text.
struct RoleRow {
    AtspiRole role;
    std::string_view axRole;
    std::string_view axSubrole;
};

constexpr std::array roleTable{
    RoleRow{ATSPI_ROLE_APPLICATION, "AXApplication", {}},
    RoleRow{ATSPI_ROLE_FRAME, axRole::window, "AXStandardWindow"},
    RoleRow{ATSPI_ROLE_WINDOW, axRole::window, "AXStandardWindow"},
    RoleRow{ATSPI_ROLE_DIALOG, axRole::window, axSubrole::dialog},
    RoleRow{ATSPI_ROLE_FILE_CHOOSER, axRole::window, axSubrole::dialog},
    RoleRow{ATSPI_ROLE_TOOL_BAR, axRole::toolbar, {}},
    RoleRow{ATSPI_ROLE_PUSH_BUTTON, axRole::button, {}},
    RoleRow{ATSPI_ROLE_PUSH_BUTTON_MENU, axRole::popUpButton, {}},
    RoleRow{ATSPI_ROLE_TOGGLE_BUTTON, "AXCheckBox", {}},
    RoleRow{ATSPI_ROLE_CHECK_BOX, "AXCheckBox", {}},
    RoleRow{ATSPI_ROLE_RADIO_BUTTON, axRole::radioButton, {}},
    RoleRow{ATSPI_ROLE_ENTRY, axRole::textField, {}},
    RoleRow{ATSPI_ROLE_PASSWORD_TEXT, axRole::textField, axSubrole::secureTextField},
    RoleRow{ATSPI_ROLE_COMBO_BOX, axRole::comboBox, {}},
    RoleRow{ATSPI_ROLE_SPIN_BUTTON, "AXIncrementor", {}},
    RoleRow{ATSPI_ROLE_DOCUMENT_WEB, axRole::webArea, {}},
    RoleRow{ATSPI_ROLE_PAGE_TAB_LIST, axRole::tabGroup, {}},
    RoleRow{ATSPI_ROLE_PAGE_TAB, axRole::radioButton, {}},
    RoleRow{ATSPI_ROLE_STATIC, axRole::staticText, {}},
    RoleRow{ATSPI_ROLE_LABEL, axRole::staticText, {}},
    RoleRow{ATSPI_ROLE_LINK, "AXLink", {}},
    RoleRow{ATSPI_ROLE_IMAGE, "AXImage", {}},
    RoleRow{ATSPI_ROLE_LIST, "AXList", {}},
    RoleRow{ATSPI_ROLE_HEADING, "AXHeading", {}},
};

constexpr std::string_view otherRole = "AXGroup";
constexpr std::string_view applicationMenuClass = "BrowserAppMenuButton";

const RoleRow* rowOf(std::uint32_t role) {
    for (const RoleRow& row : roleTable) {
        if (std::uint32_t(row.role) == role) {
            return &row;
        }
    }
    return nullptr;
}

std::string_view attribute(const std::map<std::string, std::string>& attributes, const std::string& key) {
    const auto found = attributes.find(key);
    return found == attributes.end() ? std::string_view{} : std::string_view(found->second);
}

bool isTextRole(std::uint32_t role) {
    return isTextFieldRole(role) || role == ATSPI_ROLE_STATIC || role == ATSPI_ROLE_LABEL ||
           role == ATSPI_ROLE_COMBO_BOX;
}

} // namespace

NeedsAttributes roleNeedsAttributes(std::uint32_t role) {
    return role == ATSPI_ROLE_PUSH_BUTTON ? NeedsAttributes::yes : NeedsAttributes::no;
}

NeedsAttributes subroleNeedsAttributes(std::uint32_t role) {
    return role == ATSPI_ROLE_ENTRY ? NeedsAttributes::yes : NeedsAttributes::no;
}

std::string_view axRole(const ElementShape& shape, const std::map<std::string, std::string>& attributes) {
    if (shape.role == ATSPI_ROLE_PUSH_BUTTON && attribute(attributes, "class") == applicationMenuClass) {
        return axRole::popUpButton;
    }
    if (shape.role == ATSPI_ROLE_ENTRY && hasState(shape.states, ATSPI_STATE_MULTI_LINE)) {
        return axRole::textArea;
    }
    const RoleRow* row = rowOf(shape.role);
    return row != nullptr ? row->axRole : otherRole;
}

std::string_view axSubrole(const ElementShape& shape, const std::map<std::string, std::string>& attributes) {
    if (shape.role == ATSPI_ROLE_ENTRY && attribute(attributes, "text-input-type") == "search") {
        return axSubrole::searchField;
    }
    const RoleRow* row = rowOf(shape.role);
    return row != nullptr ? row->axSubrole : std::string_view{};
}

// A text element's name is its content or its label, never a title; a text field's label is its
// description, as on a Mac ("Address and search bar").
std::string_view axTitle(const ElementShape& shape) {
    return isTextRole(shape.role) ? std::string_view{} : std::string_view(shape.name);
}

std::string_view axDescription(const ElementShape& shape) {
    if (!shape.description.empty()) {
        return shape.description;
    }
    return isTextFieldRole(shape.role) || shape.role == ATSPI_ROLE_COMBO_BOX ? std::string_view(shape.name)
                                                                             : std::string_view{};
}

ValueSource axValueSource(const ElementShape& shape) {
    return isTextRole(shape.role) ? ValueSource::text : ValueSource::none;
}

bool isWindowRole(std::uint32_t role) {
    const RoleRow* row = rowOf(role);
    return row != nullptr && row->axRole == axRole::window;
}

bool isTextFieldRole(std::uint32_t role) {
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT;
}

bool isListedChild(const StateSet& states) {
    return hasState(states, ATSPI_STATE_VISIBLE);
}

bool isChromeApplicationName(std::string_view name) {
    return name == "Chromium" || name.starts_with("Google Chrome");
}

} // namespace cpi::atspi
