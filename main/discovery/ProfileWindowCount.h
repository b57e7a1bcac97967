// The profile window count: how Chrome's windows of one profile stand, without changing anything.
#pragma once

#include "entry/Requests.h"
#include "platform/Platform.h"

#include <nlohmann/json.hpp>
#include <optional>

namespace cpi {

// The map the count mode writes: {"ok": false, "reason": …} or the seven keys "ok", "count",
// "windows", "windowNumbers", "tabCounts", "frontKind", "frontAvatar". Always present.
std::optional<nlohmann::ordered_json> profileWindowCount(Platform& platform, const CountRequest& request);

} // namespace cpi
