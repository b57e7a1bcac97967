// Every decision of chrome-private-input, as static, side-effect-free functions of plain values.
//
// Nothing here touches the operating system: the discovery and inspection code read Chrome's
// Accessibility tree and hand roles, titles, URL texts, counts and window numbers in; the answers
// are verdicts, indexes, reason codes and check maps. The unit depends only on the standard
// library, uriparser (URLs), utf8proc (Unicode) and the system's SHA-256.
//
// Strings are UTF-8. Equality and prefix tests compare under canonical equivalence and are
// case-sensitive unless a function says otherwise; lengths and cuts count user-perceived
// characters (extended grapheme clusters).
#pragma once

#include "ChromePrivateInputPolicy/AccessibilityNames.h"
#include "ChromePrivateInputPolicy/Limits.h"
#include "ChromePrivateInputPolicy/Verdict.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace cpi {

// Whether a walk enters the web content of a window (web areas) or leaves it out.
enum class WebContent { enter, prune };

// One row of the page-switch attribute table: the application attribute and its short name.
struct PageSwitchAttribute {
    std::string_view attribute;
    std::string_view name;
};

// (short name, Accessibility result code) of one set call; 0 is success.
using SwitchCode = std::pair<std::string, std::int64_t>;
using SwitchCodes = std::vector<SwitchCode>;

class ChromePrivateInputPolicy {
public:
    ChromePrivateInputPolicy() = delete;

    // Window and profile (the bounds are in Limits.h) -----------------------------------------
    static bool shouldDescend(std::string_view role, WebContent webContent);
    static bool isMainToolbar(const std::vector<std::string>& subtreeRoles);
    static std::optional<std::size_t> avatarIndex(const std::vector<std::string>& childRoles);
    static std::string windowKind(bool hasMainToolbar, const std::optional<std::string>& subrole);
    static std::optional<std::string> toolbarLabel(const std::optional<std::string>& title,
                                                   const std::optional<std::string>& description);
    static bool isProfileAvatarLabel(std::string_view role, bool isDirectToolbarChild,
                                     const std::optional<std::string>& title,
                                     const std::optional<std::string>& description,
                                     std::string_view profileName);
    // The number of Chrome's windows when the list was read and holds 1 to `windowListLimit`.
    static Verdict<std::size_t> windowCount(std::optional<std::size_t> count);
    static std::optional<std::size_t> uniqueMatchIndex(const std::vector<bool>& matches);
    static std::optional<std::size_t>
    confirmedWindowIndex(const std::vector<std::optional<std::uint32_t>>& windowNumbers,
                         std::uint32_t confirmed);
    static CheckMap windowCheck(std::int64_t windows, std::int64_t numbersRead, bool confirmedGiven,
                                std::int64_t numberMatches, std::int64_t targetAvatar,
                                std::optional<std::int64_t> avatarWindows);
    // No window shows the profile: "selected_chrome_profile_not_confirmed" with its "windowCheck".
    static Refusal profileNotConfirmed(std::int64_t windows, std::int64_t numbersRead, bool confirmedGiven,
                                       std::int64_t numberMatches, std::int64_t targetAvatar,
                                       std::optional<std::int64_t> avatarWindows);

    // Request bounds: a profile name of 1 to 80 user-perceived characters; 1 to 16 origins.
    static bool isProfileNameUsable(std::string_view profileName);
    static bool isAllowedOriginCountUsable(std::size_t count);

    // Origin -----------------------------------------------------------------------------------
    static std::optional<std::string> httpsOrigin(std::string_view url);
    static bool addressShowsOrigin(std::string_view address, std::string_view pageOrigin);
    static std::optional<std::size_t>
    originPageIndex(const std::optional<std::string>& address,
                    const std::vector<std::optional<std::string>>& pageOrigins,
                    const std::vector<bool>& pagesReportUrl, const std::vector<std::string>& allowedOrigins);
    static CheckMap originCheck(bool addressFound, const std::optional<std::string>& address,
                                const std::vector<std::optional<std::string>>& pageOrigins,
                                const std::vector<std::string>& allowedOrigins);
    // `originPageIndex`, or "origin_not_allowed" with its "originCheck".
    static Verdict<std::size_t> originPage(bool addressFound, const std::optional<std::string>& address,
                                           const std::vector<std::optional<std::string>>& pageOrigins,
                                           const std::vector<bool>& pagesReportUrl,
                                           const std::vector<std::string>& allowedOrigins);
    // The address-bar test of the target inspection: role "AXComboBox" or "AXTextField" and a
    // description (empty when absent) that contains one of `chromeStrings::addressBarDescriptions`
    // in any letter case, or that is the address bar's name in another of Chrome's UI languages
    // (AddressBarNames.h) in any letter case, with or without white space at either end.
    static bool isAddressBar(const std::optional<std::string>& role,
                             const std::optional<std::string>& description);

    // Page readiness, page switch and field ----------------------------------------------------
    // `refusal` is the inspection's (null: it found a target).
    static bool shouldWaitForPage(const Refusal* refusal);
    static bool shouldTurnOnPageSwitch(bool confirmedWindow, const Refusal* refusal, bool switchAlreadyOn);
    static constexpr std::array<PageSwitchAttribute, 2> pageSwitchAttributes{{
        {ax::manualAccessibility, "manual"},
        {ax::enhancedUserInterface, "enhanced"},
    }};
    static CheckMap pageSwitchReport(const SwitchCodes& setCodes,
                                     const std::optional<SwitchCodes>& restoreCodes);
    // A text or password field that the page does not mark as an address or search field; with
    // `secureFieldOnly`, a password field only, so that a secret is never typed where it shows.
    static bool supportsFocusedField(std::string_view role, const std::optional<std::string>& subrole,
                                     bool secureFieldOnly);
    // A password field: the secure role itself, or a text field with the secure subrole.
    static bool isSecureTextField(std::string_view role, const std::optional<std::string>& subrole);
    // The write of the value: accepted when Chrome took it and the target is still the same.
    static Check writeOutcome(bool setSucceeded, bool targetStillMatches);

    // Keys -------------------------------------------------------------------------------------
    // The rule that cuts key runs out of a text, as a regular expression with look-behind.
    // `keyRuns` follows it with a linear scanner; the tests hold the two to the same answers.
    static constexpr std::string_view keyRunPattern =
        "(?<![A-Za-z0-9_./=-])[A-Za-z0-9_-]{40,4096}(?![A-Za-z0-9_./-])";

    static bool isKeyTextNode(std::string_view role, const std::optional<std::string>& subrole);
    static std::vector<std::string> keyRuns(std::string_view text);
    static std::string keyFingerprint(std::string_view run);
    // The new key, or "page_key_not_found" / "page_key_ambiguous" with the "keyCheck" map.
    static Verdict<std::string> newKey(std::int64_t textNodes, const std::vector<std::string>& runs,
                                       const std::vector<std::string>& focusedRuns,
                                       const std::set<std::string>& baseline);
    static CheckMap keyCheck(std::int64_t textNodes, const std::vector<std::string>& runs,
                             const std::vector<std::string>& focusedRuns,
                             const std::set<std::string>& baseline);
};

// The short name the layers above the policy call it by.
using Policy = ChromePrivateInputPolicy;

} // namespace cpi
