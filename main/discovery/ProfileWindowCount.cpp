#include "discovery/ProfileWindowCount.h"

#include "ChromePrivateInputPolicy/ChromePrivateInputPolicy.h"
#include "discovery/AccessibilityElements.h"
#include "discovery/ChromeProcess.h"
#include "discovery/TabCount.h"
#include "discovery/Toolbars.h"

#include <string_view>
#include <vector>

namespace cpi {

namespace {

// A window whose tabs cannot be counted is written with -1 tabs.
constexpr std::int64_t uncountedTabs = -1;

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

Verdict<ProfileWindowCountAnswer> profileWindowCount(Platform& platform, std::string_view profileName) {
    if (const Check trusted = accessibilityTrust(platform); !trusted) {
        return *trusted.refusal();
    }
    if (!Policy::isProfileNameUsable(profileName)) {
        return ReasonCode::siteConfigurationInvalid;
    }
    std::vector<RunningApplicationRef> chromes = regularChromes(platform);
    if (chromes.empty()) {
        return ProfileWindowCountAnswer{};
    }
    const Verdict<ChromeProcess> chrome = chromeProcess(platform, std::move(chromes));
    if (!chrome) {
        return *chrome.refusal();
    }
    std::optional<std::vector<Element>> windows = chromeWindows(platform, chrome.value(), std::nullopt);
    if (!windows) {
        return ReasonCode::chromeWindowUnavailable;
    }

    AvatarSearch search = avatarWindows(platform, *windows, profileName);
    if (const Refusal* refused = search.refusal()) {
        return *refused;
    }

    ProfileWindowCountAnswer answer{search->size(), windows->size(), {}, {}, std::nullopt, std::nullopt};
    if (std::optional<WindowDescription> front = describeFrontWindow(platform, chrome->app, *windows)) {
        answer.frontKind = std::move(front->kind);
        answer.frontAvatar = std::move(front->avatar);
    }
    for (const ProfiledWindow& profiled : search.value()) {
        if (const std::optional<std::uint32_t> number = windowNumberOf(platform, profiled.window)) {
            answer.windowNumbers.push_back(*number);
            answer.tabCounts.push_back(countTabs(platform, profiled.window).value_or(uncountedTabs));
        }
    }
    return answer;
}

} // namespace cpi
