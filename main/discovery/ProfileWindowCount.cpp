#include "discovery/ProfileWindowCount.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"
#include "discovery/RegularChrome.h"
#include "discovery/TabCount.h"
#include "discovery/Toolbars.h"
#include "discovery/WindowsOnEverySpace.h"
#include "protocol/ResultLines.h"

#include <string_view>
#include <vector>

namespace cpi {

namespace {

using Policy = ChromePrivateInputPolicy;

nlohmann::ordered_json refusal(ReasonCode reason) {
    return refusalLine(Refusal{reason, std::nullopt});
}

// A window whose tabs cannot be counted is written with -1 tabs.
constexpr std::int64_t uncountedTabs = -1;

nlohmann::ordered_json answer(std::size_t count, std::size_t windows,
                              const std::vector<std::uint32_t>& numbers,
                              const std::vector<std::int64_t>& tabCounts,
                              const std::optional<WindowDescription>& front) {
    nlohmann::ordered_json map;
    map["ok"] = true;
    map["count"] = count;
    map["windows"] = windows;
    map["windowNumbers"] = numbers;
    map["tabCounts"] = tabCounts;
    map["frontKind"] = front ? nlohmann::ordered_json(front->kind) : nlohmann::ordered_json(nullptr);
    map["frontAvatar"] =
        front && front->avatar ? nlohmann::ordered_json(*front->avatar) : nlohmann::ordered_json(nullptr);
    return map;
}

// The front window: "AXFocusedWindow", else "AXMainWindow", else the first enumerated window.
// Both application attributes come in one round trip.
std::optional<WindowDescription> describeFrontWindow(Platform& platform, const Element& app,
                                                     const std::vector<Element>& windows) {
    static constexpr std::string_view frontAttributes[] = {ax::focusedWindow, ax::mainWindow};
    ElementFacts facts = ElementFacts::read(platform, app, frontAttributes);
    std::optional<AttributeValue> front = facts.rawValue(ax::focusedWindow);
    if (!front) {
        front = facts.rawValue(ax::mainWindow);
    }
    if (!front) {
        return windows.empty() ? std::nullopt : std::optional(windowAvatar(platform, windows.front()));
    }
    const auto* element = std::get_if<Element>(&front->value);
    if (element == nullptr || !*element) {
        // A value that is not an element answers no Accessibility request: it is described as a
        // window whose every read fails, without handing it to the platform as an element.
        return WindowDescription{Policy::windowKind(false, std::nullopt), std::nullopt};
    }
    return windowAvatar(platform, *element);
}

} // namespace

nlohmann::ordered_json profileWindowCount(Platform& platform, std::string_view profileName) {
    if (!platform.isProcessTrusted()) {
        return refusal(ReasonCode::accessibilityUnavailable);
    }
    if (!Policy::isProfileNameUsable(profileName)) {
        return refusal(ReasonCode::siteConfigurationInvalid);
    }

    const std::vector<RunningApplicationRef> chromes = regularChromes(platform);
    if (chromes.empty()) {
        return answer(0, 0, {}, {}, std::nullopt);
    }
    if (chromes.size() > 1) {
        return refusal(ReasonCode::chromeWindowUnavailable);
    }

    const std::int32_t pid = chromes.front()->processIdentifier();
    const Element app = platform.createApplicationElement(pid);
    std::optional<std::vector<Element>> windows = windowsOnEverySpace(platform, app, pid);
    if (!windows) {
        return refusal(ReasonCode::chromeWindowUnavailable);
    }

    AvatarSearch search = avatarWindows(platform, *windows, profileName);
    if (const Refusal* refused = search.refusal()) {
        return refusalLine(*refused);
    }

    const std::optional<WindowDescription> front = describeFrontWindow(platform, app, *windows);

    std::vector<std::uint32_t> numbers;
    std::vector<std::int64_t> tabCounts;
    for (const ProfiledWindow& profiled : search.value()) {
        if (const std::optional<std::uint32_t> number = windowNumberOf(platform, profiled.window)) {
            numbers.push_back(*number);
            tabCounts.push_back(countTabs(platform, profiled.window).value_or(uncountedTabs));
        }
    }
    return answer(search->size(), windows->size(), numbers, tabCounts, front);
}

} // namespace cpi
