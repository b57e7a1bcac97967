#include "inspection/Inspection.h"

#include "discovery/AccessibilityElements.h"
#include "discovery/Toolbars.h"
#include "discovery/WindowsOnEverySpace.h"

#include <array>
#include <cstddef>
#include <utility>
#include <variant>
#include <vector>

namespace cpi {

namespace {

using Policy = ChromePrivateInputPolicy;

InspectionResult refuse(std::string_view reason, std::optional<CheckMap> checkMap = std::nullopt) {
    return InspectionResult{std::nullopt, std::string(reason), std::move(checkMap)};
}

std::int64_t countOf(std::size_t count) {
    return static_cast<std::int64_t>(count);
}

// Chrome is still the application the inspection started from: not terminated, and its process
// identifier still names a Chrome.
bool sameChromeStillRunning(Platform& platform, const RunningApplication& chrome, std::int32_t pid) {
    if (chrome.isTerminated()) {
        return false;
    }
    const RunningApplicationRef current = platform.runningApplicationWithProcessIdentifier(pid);
    return current != nullptr && current->bundleIdentifier() == chromeBundleIdentifier;
}

// The window list: "AXWindows" as it is when it holds the requested window number, otherwise
// Chrome's windows on every Space (absent when that gives no list).
std::optional<std::vector<Element>> windowList(Platform& platform, const Element& app, std::int32_t pid,
                                               const std::optional<std::uint32_t>& windowNumber) {
    if (windowNumber) {
        if (std::optional<std::vector<Element>> windows = readElements(platform, app, ax::windows)) {
            for (const Element& window : *windows) {
                if (windowNumberOf(platform, window) == windowNumber) {
                    return windows;
                }
            }
        }
    }
    return windowsOnEverySpace(platform, app, pid);
}

// The profiled window whose `window` is the one candidate that some profiled window shows.
std::optional<ProfiledWindow> pickWindow(Platform& platform, const std::vector<Element>& candidates,
                                         const std::vector<ProfiledWindow>& profiled) {
    std::vector<bool> marks;
    marks.reserve(candidates.size());
    for (const Element& candidate : candidates) {
        bool shown = false;
        for (const ProfiledWindow& window : profiled) {
            if (platform.elementsEqual(window.window, candidate)) {
                shown = true;
                break;
            }
        }
        marks.push_back(shown);
    }
    const std::optional<std::size_t> index = Policy::uniqueMatchIndex(marks);
    if (!index) {
        return std::nullopt;
    }
    for (const ProfiledWindow& window : profiled) {
        if (platform.elementsEqual(window.window, candidates[*index])) {
            return window;
        }
    }
    return std::nullopt;
}

// The first element of the toolbar's walk that is a text field or combo box described as the
// address or search bar.
std::optional<Element> addressBar(const WalkedTree& toolbar) {
    for (std::size_t index = 0; index < toolbar.size(); ++index) {
        const ElementFacts& facts = toolbar.facts[index];
        if (Policy::isAddressBar(facts.string(ax::role), facts.string(ax::description))) {
            return toolbar.nodes[index];
        }
    }
    return std::nullopt;
}

// The one focused, writable text or password field under the accepted web area; a reason when
// there is none.
std::variant<Element, std::string_view> focusedField(Platform& platform, const Element& webArea) {
    static constexpr std::array<std::string_view, 3> facts{ax::role, ax::focused, ax::subrole};
    const std::optional<WalkedTree> page = walkTree(platform, webArea, false, windowWalkLimit, facts);
    if (!page) {
        return reason::focusedFieldNotSupported;
    }
    std::vector<Element> focused;
    std::optional<std::size_t> firstFocused;
    for (std::size_t index = 0; index < page->size(); ++index) {
        if (page->facts[index].boolean(ax::focused) == true) {
            focused.push_back(page->nodes[index]);
            if (!firstFocused) {
                firstFocused = index;
            }
        }
    }
    if (uniqueAXElements(platform, focused).size() != 1) {
        return reason::focusedFieldNotSupported;
    }
    // The one element left is the first focused one of the walk; its role and subrole were read
    // with it.
    const ElementFacts& field = page->facts[*firstFocused];
    if (!Policy::supportsFocusedField(field.role(), field.string(ax::subrole))) {
        return reason::focusedFieldNotSupported;
    }
    if (!isAttributeSettable(platform, page->nodes[*firstFocused], ax::value)) {
        return reason::focusedFieldNotSupported;
    }
    return page->nodes[*firstFocused];
}

} // namespace

RunningApplicationRef singleRegularChrome(Platform& platform) {
    RunningApplicationRef found;
    std::size_t count = 0;
    for (const RunningApplicationRef& application :
         platform.runningApplicationsWithBundleIdentifier(chromeBundleIdentifier)) {
        if (application && !application->isTerminated() &&
            application->activationPolicy() == activationPolicyRegular) {
            found = application;
            ++count;
        }
    }
    return count == 1 ? found : nullptr;
}

std::optional<std::string> pageOrigin(Platform& platform, const Element& webArea) {
    return pageReport(platform, webArea).origin;
}

PageReport pageReport(Platform& platform, const Element& webArea) {
    const std::optional<std::string> url = readUrlOrString(platform, webArea, ax::url);
    if (!url) {
        return {};
    }
    return {Policy::httpsOrigin(*url), !url->empty()};
}

InspectionResult inspect(Platform& platform, const Request& request, bool page) {
    // Trust, before the request is looked at.
    if (!platform.isProcessTrusted()) {
        return refuse(reason::accessibilityUnavailable);
    }
    // The request's bounds.
    if (!Policy::isProfileNameUsable(request.profileName) ||
        !Policy::isAllowedOriginCountUsable(request.allowedOrigins.size())) {
        return refuse(reason::siteConfigurationInvalid);
    }

    // The one regular Chrome.
    const RunningApplicationRef chrome = singleRegularChrome(platform);
    if (!chrome || chrome->bundleIdentifier() != chromeBundleIdentifier) {
        return refuse(reason::chromeWindowUnavailable);
    }
    const std::int32_t pid = chrome->processIdentifier();
    const Element app = platform.createApplicationElement(pid);

    // Windows: the list, its size, the number of each window.
    const std::optional<std::vector<Element>> listed = windowList(platform, app, pid, request.windowNumber);
    if (!listed) {
        return refuse(*Policy::windowListRefusal(std::nullopt));
    }
    const std::vector<Element>& windows = *listed;
    if (const std::optional<std::string> refusal = Policy::windowListRefusal(windows.size())) {
        return refuse(*refusal);
    }
    std::vector<std::optional<std::uint32_t>> numbers;
    numbers.reserve(windows.size());
    for (const Element& window : windows) {
        numbers.push_back(windowNumberOf(platform, window));
    }

    // Candidates and the window that shows the profile.
    std::vector<Element> candidates;
    if (request.windowNumber) {
        if (const std::optional<std::size_t> index =
                Policy::confirmedWindowIndex(numbers, *request.windowNumber)) {
            candidates.push_back(windows[*index]);
        }
    } else {
        candidates = windows;
    }
    const AvatarSearch search = avatarWindows(platform, candidates, request.profileName);
    std::optional<ProfiledWindow> chosen;
    if (search.windows) {
        chosen = pickWindow(platform, candidates, *search.windows);
    }
    if (!chosen) {
        const AvatarSearch everyWindow = avatarWindows(platform, windows, request.profileName);
        std::int64_t numbersRead = 0;
        std::int64_t numberMatches = 0;
        for (const std::optional<std::uint32_t>& number : numbers) {
            if (number) {
                ++numbersRead;
                if (request.windowNumber && *number == *request.windowNumber) {
                    ++numberMatches;
                }
            }
        }
        const std::int64_t targetAvatar =
            request.windowNumber && search.windows ? countOf(search.windows->size()) : 0;
        std::optional<std::int64_t> avatarCount;
        if (everyWindow.windows) {
            avatarCount = countOf(everyWindow.windows->size());
        }
        return refuse(reason::selectedChromeProfileNotConfirmed,
                      Policy::windowCheck(countOf(windows.size()), numbersRead,
                                          request.windowNumber.has_value(), numberMatches, targetAvatar,
                                          avatarCount));
    }

    // The address bar under the chosen window's toolbar.
    static constexpr std::array<std::string_view, 2> toolbarFacts{ax::role, ax::description};
    const std::optional<WalkedTree> toolbar =
        walkTree(platform, chosen->toolbar, false, windowWalkLimit, toolbarFacts);
    if (!toolbar) {
        return refuse(reason::chromeWindowUnavailable);
    }
    const std::optional<Element> bar = addressBar(*toolbar);

    // The page facts: web areas of the window walk, the address text, the origin of each page.
    std::vector<Element> webAreas;
    for (std::size_t index = 0; index < chosen->nodes.size(); ++index) {
        if (chosen->roles[index] == axRole::webArea) {
            webAreas.push_back(chosen->nodes[index]);
        }
    }
    std::optional<std::string> address;
    if (bar) {
        address = readString(platform, *bar, ax::value);
    }
    std::vector<std::optional<std::string>> pageOrigins;
    std::vector<bool> reportsUrl;
    pageOrigins.reserve(webAreas.size());
    reportsUrl.reserve(webAreas.size());
    for (const Element& webArea : webAreas) {
        PageReport report = pageReport(platform, webArea);
        pageOrigins.push_back(std::move(report.origin));
        reportsUrl.push_back(report.reportsUrl);
    }

    std::optional<std::size_t> accepted =
        Policy::originPageIndex(address, pageOrigins, request.allowedOrigins);
    // A page without an origin is only ever accepted on the address bar's word, and only while the
    // page itself says nothing: one that reports a URL off every https origin (plain http, another
    // port, about:blank) contradicts the address bar, which may be showing text the user is typing
    // or a navigation that has not replaced the page yet.
    if (accepted && !pageOrigins[*accepted] && reportsUrl[*accepted]) {
        accepted.reset();
    }
    if (!accepted) {
        return refuse(reason::originNotAllowed,
                      Policy::originCheck(bar.has_value(), address, pageOrigins, request.allowedOrigins));
    }
    const Element& webArea = webAreas[*accepted];

    if (page) {
        if (!sameChromeStillRunning(platform, *chrome, pid)) {
            return refuse(reason::focusChanged);
        }
        return InspectionResult{ChromeTarget{pid, chosen->window, webArea}, std::nullopt, std::nullopt};
    }

    const std::variant<Element, std::string_view> field = focusedField(platform, webArea);
    if (const auto* refusal = std::get_if<std::string_view>(&field)) {
        return refuse(*refusal);
    }
    if (!sameChromeStillRunning(platform, *chrome, pid)) {
        return refuse(reason::focusChanged);
    }
    return InspectionResult{ChromeTarget{pid, chosen->window, std::get<Element>(field)}, std::nullopt,
                            std::nullopt};
}

} // namespace cpi
