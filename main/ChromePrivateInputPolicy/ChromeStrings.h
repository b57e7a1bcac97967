// The strings of Chrome's own interface that the policy recognises, in one table: a change of
// Chrome's wording is a change here.
#pragma once

#include <array>
#include <string_view>

namespace cpi::chromeStrings {

// Words in the accessible description of the address bar (the omnibox), in English; a field that
// carries one, in any letter case and as whole words, is never typed into.
inline constexpr std::array<std::string_view, 2> addressBarDescriptions{"address", "search bar"};

// The profile avatar button shows the profile's name, the name followed by a space and more
// ("Work Sync paused"), or, for a name with a qualifier ("Alice (Work)"), a greeting of the part
// before it ("Hi, Alice").
inline constexpr std::string_view avatarNameSeparator = " ";
inline constexpr std::string_view avatarQualifierStart = " (";
inline constexpr std::string_view avatarGreeting = "Hi, ";

} // namespace cpi::chromeStrings
