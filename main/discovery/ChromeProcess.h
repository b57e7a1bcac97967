// The running Chrome the tool works with, and the stages that every look at it begins and ends
// with: trust, Chrome's process, its window list and, last, whether it is still the same Chrome.
// Each stage ends in a value or a refusal.
#pragma once

#include "ChromePrivateInputPolicy/Verdict.h"
#include "platform/Platform.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace cpi {

inline constexpr std::string_view chromeBundleIdentifier = "com.google.Chrome";

// The running Chromes that are not terminated and have the regular activation policy.
std::vector<RunningApplicationRef> regularChromes(Platform& platform);

// This process may use Accessibility; refused with "accessibility_unavailable" otherwise.
Check accessibilityTrust(Platform& platform);

// The single regular Chrome and its application element.
struct ChromeProcess {
    RunningApplicationRef application;
    std::int32_t pid = 0;
    Element app;
};

// The single Chrome among `chromes` (regularChromes by default); "chrome_window_unavailable" when
// there is none or more than one.
Verdict<ChromeProcess> chromeProcess(Platform& platform, std::vector<RunningApplicationRef> chromes);
Verdict<ChromeProcess> chromeProcess(Platform& platform);

// Chrome's windows: "AXWindows" as it is when it holds the requested window number, otherwise
// Chrome's windows on every Space. Absent when they cannot be listed.
std::optional<std::vector<Element>> chromeWindows(Platform& platform, const ChromeProcess& chrome,
                                                  const std::optional<std::uint32_t>& windowNumber);

// Chrome is still the application the look started from: not terminated, and its process
// identifier still names a Chrome. Refused with "focus_changed" otherwise.
Check sameChromeStillRunning(Platform& platform, const ChromeProcess& chrome);

} // namespace cpi
