#include "discovery/ChromeProcess.h"

#include "discovery/AccessibilityElements.h"
#include "discovery/WindowsOnEverySpace.h"

#include <algorithm>
#include <utility>

namespace cpi {

std::vector<RunningApplicationRef> regularChromes(Platform& platform) {
    std::vector<RunningApplicationRef> chromes =
        platform.runningApplicationsWithBundleIdentifier(chromeBundleIdentifier);
    std::erase_if(chromes, [](const RunningApplicationRef& application) {
        return !application || application->isTerminated() ||
               application->activationPolicy() != activationPolicyRegular;
    });
    return chromes;
}

Check accessibilityTrust(Platform& platform) {
    if (!platform.isProcessTrusted()) {
        return ReasonCode::accessibilityUnavailable;
    }
    return std::monostate{};
}

Verdict<ChromeProcess> chromeProcess(Platform& platform, std::vector<RunningApplicationRef> chromes) {
    if (chromes.size() != 1 || chromes.front()->bundleIdentifier() != chromeBundleIdentifier) {
        return ReasonCode::chromeWindowUnavailable;
    }
    const std::int32_t pid = chromes.front()->processIdentifier();
    Element app = platform.createApplicationElement(pid);
    return ChromeProcess{std::move(chromes.front()), pid, std::move(app)};
}

Verdict<ChromeProcess> chromeProcess(Platform& platform) {
    return chromeProcess(platform, regularChromes(platform));
}

std::optional<std::vector<Element>> chromeWindows(Platform& platform, const ChromeProcess& chrome,
                                                  const std::optional<std::uint32_t>& windowNumber) {
    if (windowNumber) {
        const auto isRequested = [&](const Element& window) {
            return windowNumberOf(platform, window) == windowNumber;
        };
        std::optional<std::vector<Element>> windows = readElements(platform, chrome.app, ax::windows);
        if (windows && std::ranges::any_of(*windows, isRequested)) {
            return windows;
        }
    }
    return windowsOnEverySpace(platform, chrome.app, chrome.pid);
}

Check sameChromeStillRunning(Platform& platform, const ChromeProcess& chrome) {
    if (chrome.application->isTerminated()) {
        return ReasonCode::focusChanged;
    }
    const RunningApplicationRef current = platform.runningApplicationWithProcessIdentifier(chrome.pid);
    if (current == nullptr || current->bundleIdentifier() != chromeBundleIdentifier) {
        return ReasonCode::focusChanged;
    }
    return std::monostate{};
}

} // namespace cpi
