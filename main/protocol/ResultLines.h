// The result lines of the Accessibility modes, built here and nowhere else: {"ok": true} with at
// most one answer key, or {"ok": false, "reason": …} with the refusal's check map under its name.
// (The page-switch report is added by the final-line writer of the page switch.)
#pragma once

#include "ChromePrivateInputPolicy/Verdict.h"

#include <nlohmann/json.hpp>
#include <string_view>

namespace cpi {

// {"ok": true}
nlohmann::ordered_json acceptedLine();
// {"ok": true, key: value}
nlohmann::ordered_json acceptedLine(std::string_view key, nlohmann::ordered_json value);
// {"ok": false, "reason": …} and, when the refusal has one, its check map under its name.
nlohmann::ordered_json refusalLine(const Refusal& refusal);

// A check map as a JSON object, keys in their order.
nlohmann::ordered_json checkMapJson(const CheckMap& map);

} // namespace cpi
