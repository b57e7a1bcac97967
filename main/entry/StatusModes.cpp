#include "entry/StatusModes.h"

#include "entry/Modes.h"
#include "protocol/Frames.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <set>

namespace cpi {

namespace {

constexpr std::int32_t smallestBrowserProcessIdentifier = 2;
constexpr double minimumWindowWidth = 200.0;
constexpr double minimumWindowHeight = 100.0;
constexpr double placeholderSide = 500.0;

// Window-server records carry their numbers as the window server typed them: an integer, or a
// floating-point value, or (in a malformed record) anything else. A field is read as an integer
// only when it is a number whose value is exactly an integer inside the wanted range. A value
// that is fractional, non-finite or out of range is not that integer: it is never truncated or
// wrapped around, so that owner 4294967298 or 2.5 can never pass for process 2, and window
// numbers that are not exact never collide. Booleans are not numbers.
template <typename Integer>
std::optional<Integer> exactInteger(const nlohmann::json& value) {
    constexpr auto lowest = std::numeric_limits<Integer>::min();
    constexpr auto highest = std::numeric_limits<Integer>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        return number <= static_cast<std::uint64_t>(highest) ? std::optional(static_cast<Integer>(number))
                                                             : std::nullopt;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        return number >= static_cast<std::int64_t>(lowest) && number <= static_cast<std::int64_t>(highest)
                   ? std::optional(static_cast<Integer>(number))
                   : std::nullopt;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        // Both limits are exact in a double for 32-bit integers.
        if (std::isfinite(number) && std::trunc(number) == number && number >= static_cast<double>(lowest) &&
            number <= static_cast<double>(highest)) {
            return static_cast<Integer>(number);
        }
    }
    return std::nullopt;
}

const nlohmann::json* entry(const nlohmann::json& map, const char* key) {
    if (!map.is_object()) {
        return nullptr;
    }
    const auto found = map.find(key);
    return found == map.end() ? nullptr : &*found;
}

// A number (of any JSON number kind) at least `minimum`; a missing value, a non-number and a NaN fail.
bool numberAtLeast(const nlohmann::json* value, double minimum) {
    return value != nullptr && value->is_number() && value->get<double>() >= minimum;
}

bool isBrowserWindow(const WindowRecord& record, std::int32_t pid) {
    const nlohmann::json* owner = entry(record.fields, "kCGWindowOwnerPID");
    if (owner == nullptr || exactInteger<std::int32_t>(*owner) != pid) {
        return false;
    }
    const nlohmann::json* layer = entry(record.fields, "kCGWindowLayer");
    if (layer == nullptr || exactInteger<std::int32_t>(*layer) != 0) {
        return false;
    }
    const nlohmann::json* bounds = entry(record.fields, "kCGWindowBounds");
    if (bounds == nullptr || !bounds->is_object()) {
        return false;
    }
    return numberAtLeast(entry(*bounds, "Width"), minimumWindowWidth) &&
           numberAtLeast(entry(*bounds, "Height"), minimumWindowHeight);
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
        if (!isBrowserWindow(record, pid)) {
            continue;
        }
        const nlohmann::json* number = entry(record.fields, "kCGWindowNumber");
        windows.push_back(
            BrowserWindow{number != nullptr ? exactInteger<std::uint32_t>(*number) : std::nullopt,
                          record.bounds.value_or(nullRect())});
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
