// The result lines of the Accessibility modes, built here and nowhere else: {"ok": true} with at
// most one answer key, or {"ok": false, "reason": …} with the refusal's check map under its name.
// (The page-switch report is added by the final-line writer of the page switch.)
#pragma once

#include "ChromePrivateInputPolicy/Verdict.h"

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cpi {

// {"ok": true}
nlohmann::ordered_json acceptedLine();
// {"ok": true, key: value}
nlohmann::ordered_json acceptedLine(std::string_view key, nlohmann::ordered_json value);
// {"ok": false, "reason": …} and, when the refusal has one, its check map under its name.
nlohmann::ordered_json refusalLine(const Refusal& refusal);

// The count mode's answer: the windows of one profile and how Chrome's windows stand.
struct ProfileWindowCountAnswer {
    std::size_t count = 0;                    // windows that show the profile
    std::size_t windows = 0;                  // every window of Chrome
    std::vector<std::uint32_t> windowNumbers; // of the profile's windows whose number was read
    std::vector<std::int64_t> tabCounts;      // of the same windows; -1 when uncounted
    std::optional<std::string> frontKind;     // null without a front window
    std::optional<std::string> frontAvatar;
};
// {"ok": true, "count": …, "windows": …, "windowNumbers": […], "tabCounts": […], "frontKind": …,
// "frontAvatar": …}, or the refusal's line.
nlohmann::ordered_json profileWindowCountLine(const Verdict<ProfileWindowCountAnswer>& answer);

// A check map as a JSON object, keys in their order.
nlohmann::ordered_json checkMapJson(const CheckMap& map);

} // namespace cpi
