// The Accessibility names the tool reads and compares: attributes, roles and subroles, as the
// platform spells them. The policy compares roles against them and discovery reads attributes by
// them; both take them from here, so a name is written once.
#pragma once

#include <string_view>

namespace cpi {

// Attributes.
namespace ax {
inline constexpr std::string_view role = "AXRole";
inline constexpr std::string_view subrole = "AXSubrole";
inline constexpr std::string_view children = "AXChildren";
inline constexpr std::string_view windows = "AXWindows";
inline constexpr std::string_view focusedWindow = "AXFocusedWindow";
inline constexpr std::string_view mainWindow = "AXMainWindow";
inline constexpr std::string_view title = "AXTitle";
inline constexpr std::string_view description = "AXDescription";
inline constexpr std::string_view url = "AXURL";
inline constexpr std::string_view value = "AXValue";
inline constexpr std::string_view focused = "AXFocused";
inline constexpr std::string_view manualAccessibility = "AXManualAccessibility";
inline constexpr std::string_view enhancedUserInterface = "AXEnhancedUserInterface";
} // namespace ax

// Roles.
namespace axRole {
inline constexpr std::string_view window = "AXWindow";
inline constexpr std::string_view toolbar = "AXToolbar";
inline constexpr std::string_view webArea = "AXWebArea";
inline constexpr std::string_view textField = "AXTextField";
inline constexpr std::string_view secureTextField = "AXSecureTextField";
inline constexpr std::string_view textArea = "AXTextArea";
inline constexpr std::string_view staticText = "AXStaticText";
inline constexpr std::string_view comboBox = "AXComboBox";
inline constexpr std::string_view button = "AXButton";
inline constexpr std::string_view popUpButton = "AXPopUpButton";
inline constexpr std::string_view tabGroup = "AXTabGroup";
inline constexpr std::string_view radioButton = "AXRadioButton";
} // namespace axRole

// Subroles.
namespace axSubrole {
inline constexpr std::string_view secureTextField = "AXSecureTextField";
inline constexpr std::string_view addressField = "AXAddressField";
inline constexpr std::string_view searchField = "AXSearchField";
inline constexpr std::string_view dialog = "AXDialog";
inline constexpr std::string_view systemDialog = "AXSystemDialog";
} // namespace axSubrole

} // namespace cpi
