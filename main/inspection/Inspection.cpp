#include "inspection/Inspection.h"

#include "discovery/AccessibilityElements.h"
#include "discovery/Toolbars.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

namespace cpi {

namespace {

// The window list, with the number of each window, as the policy accepts it.
struct WindowList {
    std::vector<Element> windows;
    std::vector<std::optional<std::uint32_t>> numbers;
};

Verdict<WindowList> windowList(Platform& platform, const ChromeProcess& chrome,
                               const std::optional<std::uint32_t>& windowNumber) {
    std::optional<std::vector<Element>> listed = chromeWindows(platform, chrome, windowNumber);
    const std::optional<std::size_t> count = listed ? std::optional(listed->size()) : std::nullopt;
    if (const Verdict<std::size_t> counted = Policy::windowCount(count); !counted) {
        return *counted.refusal();
    }
    WindowList list{std::move(*listed), {}};
    std::ranges::transform(list.windows, std::back_inserter(list.numbers),
                           [&](const Element& window) { return windowNumberOf(platform, window); });
    return list;
}

// The profiled window whose `window` is the one candidate that some profiled window shows.
std::optional<ProfiledWindow> pickWindow(Platform& platform, const std::vector<Element>& candidates,
                                         const std::vector<ProfiledWindow>& profiled) {
    const auto shownBy = [&](const Element& candidate) {
        const auto found = std::ranges::find_if(profiled, [&](const ProfiledWindow& window) {
            return platform.elementsEqual(window.window, candidate);
        });
        return found != profiled.end() ? &*found : nullptr;
    };
    std::vector<bool> marks(candidates.size());
    std::transform(candidates.begin(), candidates.end(), marks.begin(),
                   [&](const Element& candidate) { return shownBy(candidate) != nullptr; });
    const std::optional<std::size_t> index = Policy::uniqueMatchIndex(marks);
    if (!index) {
        return std::nullopt;
    }
    return *shownBy(candidates[*index]);
}

// Why no window was chosen, as the "windowCheck" map.
Refusal profileNotConfirmed(Platform& platform, const Request& request, const WindowList& list,
                            const AvatarSearch& candidateSearch) {
    const AvatarSearch everyWindow = avatarWindows(platform, list.windows, request.profileName);
    const std::int64_t numbersRead =
        std::ranges::count_if(list.numbers, [](const auto& number) { return number.has_value(); });
    const std::int64_t numberMatches =
        request.windowNumber ? std::ranges::count(list.numbers, request.windowNumber) : 0;
    const std::int64_t targetAvatar =
        request.windowNumber && candidateSearch ? std::ssize(candidateSearch.value()) : 0;
    const std::optional<std::int64_t> avatarCount =
        everyWindow ? std::optional<std::int64_t>(std::ssize(everyWindow.value())) : std::nullopt;
    return Policy::profileNotConfirmed(std::ssize(list.windows), numbersRead,
                                       request.windowNumber.has_value(), numberMatches, targetAvatar,
                                       avatarCount);
}

// The window that shows the profile (among the candidates: the window of the requested
// number, or every window).
Verdict<ProfiledWindow> profileWindow(Platform& platform, const Request& request, const WindowList& list) {
    std::vector<Element> candidates;
    if (request.windowNumber) {
        if (const std::optional<std::size_t> index =
                Policy::confirmedWindowIndex(list.numbers, *request.windowNumber)) {
            candidates.push_back(list.windows[*index]);
        }
    } else {
        candidates = list.windows;
    }
    const AvatarSearch search = avatarWindows(platform, candidates, request.profileName);
    if (search) {
        if (std::optional<ProfiledWindow> chosen = pickWindow(platform, candidates, search.value())) {
            return std::move(*chosen);
        }
    }
    return profileNotConfirmed(platform, request, list, search);
}

// The first element of the toolbar's walk that is a text field or combo box described as the
// address or search bar.
std::optional<Element> addressBar(const WalkedTree& toolbar) {
    const auto found = std::ranges::find_if(toolbar.facts, [](const ElementFacts& facts) {
        return Policy::isAddressBar(facts.string(ax::role), facts.string(ax::description));
    });
    return found != toolbar.facts.end() ? std::optional(toolbar.nodes[found - toolbar.facts.begin()])
                                        : std::nullopt;
}

// The web area of the window whose allowed origin the address bar shows.
Verdict<Element> acceptedPage(Platform& platform, const Request& request, const ProfiledWindow& window) {
    static constexpr std::array<std::string_view, 2> toolbarFacts{ax::role, ax::description};
    const std::optional<WalkedTree> toolbar =
        walkTree(platform, window.toolbar, WebContent::enter, windowWalkLimit, toolbarFacts);
    if (!toolbar) {
        return ReasonCode::chromeWindowUnavailable;
    }
    const std::optional<Element> bar = addressBar(*toolbar);

    std::vector<Element> webAreas;
    for (std::size_t index = 0; index < window.nodes.size(); ++index) {
        if (window.roles[index] == axRole::webArea) {
            webAreas.push_back(window.nodes[index]);
        }
    }
    const std::optional<std::string> address = bar ? readString(platform, *bar, ax::value) : std::nullopt;
    std::vector<std::optional<std::string>> pageOrigins(webAreas.size());
    std::vector<bool> reportsUrl(webAreas.size());
    for (std::size_t index = 0; index < webAreas.size(); ++index) {
        PageReport report = pageReport(platform, webAreas[index]);
        pageOrigins[index] = std::move(report.origin);
        reportsUrl[index] = report.reportsUrl;
    }
    const Verdict<std::size_t> accepted =
        Policy::originPage(bar.has_value(), address, pageOrigins, reportsUrl, request.allowedOrigins);
    if (!accepted) {
        return *accepted.refusal();
    }
    return webAreas[accepted.value()];
}

// The one focused, writable text or password field under the accepted web area (a password
// field only, when the request says so).
Verdict<Element> focusedField(Platform& platform, const Element& webArea, bool secureFieldOnly) {
    static constexpr std::array<std::string_view, 3> facts{ax::role, ax::focused, ax::subrole};
    const std::optional<WalkedTree> page =
        walkTree(platform, webArea, WebContent::enter, windowWalkLimit, facts);
    if (!page) {
        return ReasonCode::focusedFieldNotSupported;
    }
    std::vector<Element> focused;
    std::size_t firstFocused = 0;
    for (std::size_t index = 0; index < page->size(); ++index) {
        if (page->facts[index].boolean(ax::focused) == true) {
            firstFocused = focused.empty() ? index : firstFocused;
            focused.push_back(page->nodes[index]);
        }
    }
    if (uniqueAXElements(platform, focused).size() != 1) {
        return ReasonCode::focusedFieldNotSupported;
    }
    // The one element left is the first focused one of the walk; its role and subrole were read
    // with it.
    const ElementFacts& field = page->facts[firstFocused];
    if (!Policy::supportsFocusedField(field.role(), field.string(ax::subrole), secureFieldOnly) ||
        !isAttributeSettable(platform, page->nodes[firstFocused], ax::value)) {
        return ReasonCode::focusedFieldNotSupported;
    }
    return page->nodes[firstFocused];
}

} // namespace

PageReport pageReport(Platform& platform, const Element& webArea) {
    const std::optional<std::string> url = readUrlOrString(platform, webArea, ax::url);
    if (!url) {
        return {};
    }
    return {Policy::httpsOrigin(*url), !url->empty()};
}

InspectionResult inspect(Platform& platform, const Request& request, InspectionGoal goal) {
    // Trust, before the request is looked at; then the request's bounds.
    if (const Check trusted = accessibilityTrust(platform); !trusted) {
        return *trusted.refusal();
    }
    if (!Policy::isProfileNameUsable(request.profileName) ||
        !Policy::isAllowedOriginCountUsable(request.allowedOrigins.size())) {
        return ReasonCode::siteConfigurationInvalid;
    }
    const Verdict<ChromeProcess> chrome = chromeProcess(platform);
    if (!chrome) {
        return *chrome.refusal();
    }
    const Verdict<WindowList> list = windowList(platform, chrome.value(), request.windowNumber);
    if (!list) {
        return *list.refusal();
    }
    const Verdict<ProfiledWindow> window = profileWindow(platform, request, list.value());
    if (!window) {
        return *window.refusal();
    }
    const Verdict<Element> page = acceptedPage(platform, request, window.value());
    if (!page) {
        return *page.refusal();
    }
    const Verdict<Element> focused =
        goal == InspectionGoal::page ? page : focusedField(platform, page.value(), request.secureFieldOnly);
    if (!focused) {
        return *focused.refusal();
    }
    if (const Check running = sameChromeStillRunning(platform, chrome.value()); !running) {
        return *running.refusal();
    }
    return ChromeTarget{chrome->pid, window->window, focused.value()};
}

} // namespace cpi
