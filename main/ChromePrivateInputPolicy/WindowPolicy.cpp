// Windows and profiles: which elements a walk enters, toolbars, avatar buttons and their labels,
// the window list and the confirmed window, and the "windowCheck" map.
#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "ChromePrivateInputPolicy/ChromeStrings.h"
#include "ChromePrivateInputPolicy/Text.h"

#include <algorithm>

namespace cpi {

bool ChromePrivateInputPolicy::shouldDescend(std::string_view role, WebContent webContent) {
    return webContent == WebContent::enter || role != axRole::webArea;
}

bool ChromePrivateInputPolicy::isMainToolbar(const std::vector<std::string>& subtreeRoles) {
    return std::find(subtreeRoles.begin(), subtreeRoles.end(), axRole::textField) != subtreeRoles.end();
}

std::optional<std::size_t> ChromePrivateInputPolicy::avatarIndex(const std::vector<std::string>& childRoles) {
    const std::size_t n = childRoles.size();
    if (n < 2 || childRoles[n - 1] != axRole::popUpButton || childRoles[n - 2] != axRole::button) {
        return std::nullopt;
    }
    return n - 2;
}

std::string ChromePrivateInputPolicy::windowKind(bool hasMainToolbar,
                                                 const std::optional<std::string>& subrole) {
    if (hasMainToolbar) {
        return "browser";
    }
    if (subrole && (*subrole == axSubrole::dialog || *subrole == axSubrole::systemDialog)) {
        return "dialog";
    }
    return "other";
}

std::optional<std::string>
ChromePrivateInputPolicy::toolbarLabel(const std::optional<std::string>& title,
                                       const std::optional<std::string>& description) {
    for (const std::optional<std::string>* candidate : {&title, &description}) {
        if (!*candidate) {
            continue;
        }
        // Malformed bytes come back as U+FFFD, so that the label is always printable text.
        const std::string label = text::trimmed(**candidate, text::TrimSet::whitespaceAndNewlines);
        if (!label.empty()) {
            return std::string(text::firstGraphemes(label, labelLimit));
        }
    }
    return std::nullopt;
}

bool ChromePrivateInputPolicy::isProfileAvatarLabel(std::string_view role, bool isDirectToolbarChild,
                                                    const std::optional<std::string>& title,
                                                    const std::optional<std::string>& description,
                                                    std::string_view profileName) {
    if (role != axRole::button || !isDirectToolbarChild || profileName.empty()) {
        return false;
    }
    const std::optional<std::string> name = text::nfc(profileName);
    if (!name) {
        return false; // a name that is not text matches nothing
    }
    // The qualifier's " (" must stand as two characters of their own.
    std::optional<std::string> greeting;
    if (const std::optional<std::size_t> open = text::findWhole(*name, chromeStrings::avatarQualifierStart);
        open && *open > 0) {
        greeting = std::string(chromeStrings::avatarGreeting) + name->substr(0, *open);
    }
    const std::string nameAndSpace = *name + std::string(chromeStrings::avatarNameSeparator);
    const auto shows = [&](const std::optional<std::string>& label) {
        return label && (text::sameText(*label, *name) || text::startsWithWhole(*label, nameAndSpace) ||
                         (greeting && text::sameText(*label, *greeting)));
    };
    return shows(title) || shows(description);
}

Verdict<std::size_t> ChromePrivateInputPolicy::windowCount(std::optional<std::size_t> count) {
    if (!count || *count > windowListLimit) {
        return ReasonCode::chromeWindowUnavailable;
    }
    if (*count == 0) {
        return ReasonCode::chromeWindowNotOnCurrentSpace;
    }
    return *count;
}

std::optional<std::size_t> ChromePrivateInputPolicy::uniqueMatchIndex(const std::vector<bool>& matches) {
    const auto first = std::find(matches.begin(), matches.end(), true);
    if (first == matches.end() || std::find(std::next(first), matches.end(), true) != matches.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(first - matches.begin());
}

std::optional<std::size_t>
ChromePrivateInputPolicy::confirmedWindowIndex(const std::vector<std::optional<std::uint32_t>>& windowNumbers,
                                               std::uint32_t confirmed) {
    std::vector<bool> matches(windowNumbers.size());
    std::transform(windowNumbers.begin(), windowNumbers.end(), matches.begin(),
                   [&](const auto& number) { return number == confirmed; });
    return uniqueMatchIndex(matches);
}

CheckMap ChromePrivateInputPolicy::windowCheck(std::int64_t windows, std::int64_t numbersRead,
                                               bool confirmedGiven, std::int64_t numberMatches,
                                               std::int64_t targetAvatar,
                                               std::optional<std::int64_t> avatarWindows) {
    CheckMap map;
    map.set("windows", cappedCount(windows));
    map.set("numbersRead", cappedCount(numbersRead));
    map.set("confirmedGiven", confirmedGiven ? 1 : 0);
    map.set("numberMatches", cappedCount(numberMatches));
    map.set("targetAvatar", cappedCount(targetAvatar));
    map.set("avatarWindows", avatarWindows ? cappedCount(*avatarWindows) : 0);
    map.set("avatarRefused", avatarWindows ? 0 : 1);
    return map;
}

Refusal ChromePrivateInputPolicy::profileNotConfirmed(std::int64_t windows, std::int64_t numbersRead,
                                                      bool confirmedGiven, std::int64_t numberMatches,
                                                      std::int64_t targetAvatar,
                                                      std::optional<std::int64_t> avatarWindows) {
    return Refusal{
        ReasonCode::selectedChromeProfileNotConfirmed,
        NamedCheck{CheckName::windowCheck, windowCheck(windows, numbersRead, confirmedGiven, numberMatches,
                                                       targetAvatar, avatarWindows)}};
}

bool ChromePrivateInputPolicy::isProfileNameUsable(std::string_view profileName) {
    const std::optional<std::size_t> length = text::graphemeCount(profileName, profileNameLimit + 1);
    return length && *length >= 1 && *length <= profileNameLimit;
}

bool ChromePrivateInputPolicy::isAllowedOriginCountUsable(std::size_t count) {
    return count >= 1 && count <= allowedOriginsLimit;
}

} // namespace cpi
