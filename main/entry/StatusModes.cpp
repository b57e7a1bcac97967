#include "entry/StatusModes.h"

#include "entry/Modes.h"
#include "protocol/Frames.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <set>
#include <type_traits>
#include <utility>
#include <variant>

namespace cpi {

namespace {

constexpr std::int32_t smallestBrowserProcessIdentifier = 2;
constexpr double minimumWindowWidth = 200.0;
constexpr double minimumWindowHeight = 100.0;
constexpr double placeholderSide = 500.0;

// A window-server number is read as an integer only when its value is exactly an integer inside
// the wanted range. A value that is fractional, non-finite or out of range is not that integer: it
// is never truncated or wrapped around, so that owner 4294967298 or 2.5 can never pass for process
// 2, and window numbers that are not exact never collide.
template <typename Integer>
std::optional<Integer> exactInteger(const std::optional<WindowServerNumber>& value) {
    if (!value) {
        return std::nullopt;
    }
    return std::visit(
        [](auto number) -> std::optional<Integer> {
            bool exact = false;
            if constexpr (std::is_floating_point_v<decltype(number)>) {
                // Both limits are exact in a double for 32-bit integers.
                exact = std::isfinite(number) && std::trunc(number) == number &&
                        number >= static_cast<double>(std::numeric_limits<Integer>::min()) &&
                        number <= static_cast<double>(std::numeric_limits<Integer>::max());
            } else {
                exact = std::in_range<Integer>(number);
            }
            return exact ? std::optional(static_cast<Integer>(number)) : std::nullopt;
        },
        *value);
}

// A number at least `minimum`; a missing value and a NaN fail.
bool numberAtLeast(const std::optional<WindowServerNumber>& value, double minimum) {
    return value && std::visit([](auto number) { return static_cast<double>(number); }, *value) >= minimum;
}

bool isBrowserWindow(const WindowRecord& record, std::int32_t pid) {
    return exactInteger<std::int32_t>(record.ownerPid) == pid &&
           exactInteger<std::int32_t>(record.layer) == 0 && numberAtLeast(record.width, minimumWindowWidth) &&
           numberAtLeast(record.height, minimumWindowHeight);
}

std::set<std::uint32_t> idsOf(const std::vector<BrowserWindow>& windows) {
    std::set<std::uint32_t> ids;
    for (const BrowserWindow& window : windows) {
        if (window.id) {
            ids.insert(*window.id);
        }
    }
    return ids;
}

} // namespace

Rect nullRect() {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    return Rect{infinity, infinity, 0, 0};
}

std::optional<std::int32_t> parseProcessIdentifier(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    // Signed text without its '+' (which from_chars does not take); the sign was checked above.
    const std::string_view number = text.front() == '+' ? digits : text;
    std::int32_t value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc{} || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

std::vector<BrowserWindow> browserWindows(const std::vector<WindowRecord>& snapshot, std::int32_t pid) {
    std::vector<BrowserWindow> windows;
    for (const WindowRecord& record : snapshot) {
        if (isBrowserWindow(record, pid)) {
            windows.push_back(BrowserWindow{exactInteger<std::uint32_t>(record.number),
                                            record.bounds.value_or(nullRect())});
        }
    }
    return windows;
}

nlohmann::ordered_json windowVisibility(const std::vector<BrowserWindow>& all,
                                        const std::vector<BrowserWindow>& onScreen,
                                        const std::function<double()>& displayHeight) {
    nlohmann::ordered_json result;
    result["all"] = all.size();
    result["onScreen"] = onScreen.size();
    // The snapshots agree when every window of both has an id, none repeats, and every on-screen
    // window is among all windows; a window created between the two snapshots breaks that.
    const std::set<std::uint32_t> allIds = idsOf(all);
    const std::set<std::uint32_t> onScreenIds = idsOf(onScreen);
    const bool consistent = allIds.size() == all.size() && onScreenIds.size() == onScreen.size() &&
                            std::ranges::includes(allIds, onScreenIds);
    if (!consistent) {
        return result;
    }
    // The placeholder: off screen, 500 by 500, its lower-left corner at the display's lower-left.
    const Rect placeholder{0, displayHeight() - placeholderSide, placeholderSide, placeholderSide};
    const bool hasPlaceholder = std::ranges::any_of(all, [&](const BrowserWindow& window) {
        return !onScreenIds.contains(*window.id) && window.bounds == placeholder;
    });
    result["excludingPlaceholder"] = all.size() - (hasPlaceholder ? 1 : 0);
    return result;
}

void runTrustCheck(Platform& platform) {
    writeResult(nlohmann::ordered_json{{"trusted", platform.isProcessTrusted()}});
    endProcess(platform, exitSuccess);
}

void runAgentBrowserWindowVisibility(Platform& platform, std::string_view processIdentifierArgument) {
    const std::optional<std::int32_t> pid = parseProcessIdentifier(processIdentifierArgument);
    if (!pid || *pid < smallestBrowserProcessIdentifier) {
        endProcess(platform, exitRefused);
    }
    const auto allWindows = platform.copyWindowInfo(windowListExcludeDesktopElements);
    const auto onScreenWindows =
        platform.copyWindowInfo(windowListExcludeDesktopElements | windowListOptionOnScreenOnly);
    if (!allWindows || !onScreenWindows) {
        endProcess(platform, exitRefused);
    }
    const std::vector<BrowserWindow> all = browserWindows(*allWindows, *pid);
    const std::vector<BrowserWindow> onScreen = browserWindows(*onScreenWindows, *pid);
    writeResult(windowVisibility(all, onScreen, [&] { return platform.mainDisplayBounds().height; }));
    endProcess(platform, exitSuccess);
}

} // namespace cpi
