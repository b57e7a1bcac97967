// How Chromium on the Linux accessibility bus reads under the Accessibility names the rest of the
// tool uses. The whole translation is the one table in ChromiumSurface.cpp; the platform answers
// every attribute read through it.
#pragma once

#include "platform/linux/AccessibilityBus.h"

#include <map>
#include <string>
#include <string_view>

namespace cpi::atspi {

// What one element shows: its bus role, states, name and description, and (read only where the
// translation needs them) its object attributes ("class", "text-input-type").
struct ElementShape {
    std::uint32_t role = 0;
    StateSet states{};
    std::string name;
    std::string description;
};

enum class NeedsAttributes { no, yes };

// Whether the role or subrole of an element with this bus role depends on its object attributes.
NeedsAttributes roleNeedsAttributes(std::uint32_t role);
NeedsAttributes subroleNeedsAttributes(std::uint32_t role);

std::string_view axRole(const ElementShape& shape, const std::map<std::string, std::string>& attributes);
// Empty: the element has no subrole.
std::string_view axSubrole(const ElementShape& shape, const std::map<std::string, std::string>& attributes);
// "AXTitle" and "AXDescription"; empty: absent.
std::string_view axTitle(const ElementShape& shape);
std::string_view axDescription(const ElementShape& shape);

enum class ValueSource { none, text };
// Where "AXValue" comes from: the Text interface for text elements, nothing for the rest.
ValueSource axValueSource(const ElementShape& shape);
bool isWindowRole(std::uint32_t role);
bool isTextFieldRole(std::uint32_t role);
// The accessible children that Chrome on a Mac would list: hidden views are left out.
bool isListedChild(const StateSet& states);
bool isChromeApplicationName(std::string_view name);

inline constexpr std::string_view chromeBundleIdentifier = "com.google.Chrome";

} // namespace cpi::atspi
