// The two status modes: whether this process is trusted for Accessibility, and how many windows
// of the agent's own browser process exist, are on screen, and remain without the off-screen
// placeholder window. Neither reads standard input nor touches Chrome.
#pragma once

#include "platform/Platform.h"

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

namespace cpi {

// A window of the browser process as the visibility mode sees it.
struct BrowserWindow {
    std::optional<std::uint32_t> id; // the window-server number, when the record carries a usable one
    Rect bounds;                     // the null rectangle when the bounds entry cannot be read
};

// The rectangle of a window whose bounds cannot be read (CGRectNull): never equal to a real frame.
Rect nullRect();

// A process identifier as written on the command line: an optional single sign, one or more ASCII
// digits and nothing else, within the signed 32-bit range. The caller still refuses values below 2.
std::optional<std::int32_t> parseProcessIdentifier(std::string_view text);

// The records of `snapshot` that are ordinary windows (layer 0, at least 200 by 100 points) of
// the process `pid`, in the snapshot's order.
std::vector<BrowserWindow> browserWindows(const std::vector<WindowRecord>& snapshot, std::int32_t pid);

// The visibility line for the browser windows of the two snapshots (all windows, then on-screen
// windows): "all", "onScreen" and, when the snapshots agree, "excludingPlaceholder".
// `displayHeight` gives the main display's height; it is asked only when the snapshots agree.
nlohmann::ordered_json windowVisibility(const std::vector<BrowserWindow>& all,
                                        const std::vector<BrowserWindow>& onScreen,
                                        const std::function<double()>& displayHeight);

} // namespace cpi
