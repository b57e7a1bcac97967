// The profile window count: how Chrome's windows of one profile stand, without changing anything.
#pragma once

#include "platform/Platform.h"

#include <nlohmann/json.hpp>
#include <string_view>

namespace cpi {

// The map the count mode writes: {"ok": false, "reason": …} or the seven keys "ok", "count",
// "windows", "windowNumbers", "tabCounts", "frontKind", "frontAvatar", for the windows of
// `profileName`.
nlohmann::ordered_json profileWindowCount(Platform& platform, std::string_view profileName);

} // namespace cpi
